#pragma once

// Waiting for an SQLite database that another connection keeps locked. Each try of a statement
// waits at most the busy timeout (50 ms unless the connection string says
// otherwise); between tries a LockWait decides. On the GUI thread of a QApplication the windows
// stay alive: user input is held back, and after about half a second a window "Database
// occupato" (FrmOccupato) with Annulla (CmdAnnulla) shows; the tries go on until the lock goes
// or the user presses Annulla. Elsewhere (no window can be shown, or another thread) it sleeps a
// short random pause between tries and gives up after kLockPatienceMs.

#include <QElapsedTimer>
#include <QPointer>

#include <functional>

class QDialog;

namespace Norvix {

inline constexpr int kLockPatienceMs = 20000;
inline constexpr int kLockWindowAfterMs = 500;

class LockWait
{
public:
    LockWait();
    ~LockWait(); // closes the window, if it showed
    LockWait(const LockWait &) = delete;
    LockWait &operator=(const LockWait &) = delete;

    // After a try found the database locked: waits, and true to try again; false to give up.
    bool next();

    // Replaces how every wait decides (tests): given the tries so far and the milliseconds since
    // the first, true to try again. An empty function restores the waits described above.
    using Policy = std::function<bool(int tries, qint64 waitedMs)>;
    static void setPolicy(Policy policy);

private:
    bool nextOnWindow();

    QElapsedTimer m_clock;
    int m_tries = 0;
    bool m_cancelled = false;
    QPointer<QDialog> m_window;
};

} // namespace Norvix
