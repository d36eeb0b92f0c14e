#pragma once

// Waits the user may see: for an SQLite database that another connection keeps locked, and for a
// database server to answer. Neither freezes the windows: on the GUI thread of a QApplication the
// events go on (user input held back), and after about half a second a small window with Annulla
// (CmdAnnulla) shows; elsewhere (no window can be shown, or another thread) each wait has an end.
//
// Locks: each try of a statement waits at most the busy timeout (50 ms unless the connection
// string says otherwise); between tries a LockWait decides. Its window is "Database occupato"
// (FrmOccupato); the tries go on until the lock goes or the user presses Annulla. Without a
// window it sleeps a short random pause between tries and gives up after kLockPatienceMs.
//
// Servers: the statements of a server connection run on a thread of their own (see
// Connection::call); the caller waits in waitForServer(). Its window "Attendere" (FrmAttesa) has
// a running progress bar (PrgAttesa) and Annulla, which asks the server to cancel the statement
// and, when the server does not answer within kHardCancelAfterMs, cuts the connection.

#include <QElapsedTimer>
#include <QPointer>

#include <functional>

class QDialog;

namespace Norvix {

inline constexpr int kLockPatienceMs = 20000;
inline constexpr int kWaitWindowAfterMs = 500;
// Without a window, a server that has not answered after this long is interrupted.
inline constexpr int kServerPatienceMs = 90000;
// After Annulla, how long the server has to cancel the statement before the connection is cut.
inline constexpr int kHardCancelAfterMs = 1500;

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

    // While one lives, waits on this thread give up at once (a read made while painting, which
    // must not run the event loop again).
    class NoWaiting
    {
    public:
        NoWaiting();
        ~NoWaiting();
        NoWaiting(const NoWaiting &) = delete;
        NoWaiting &operator=(const NoWaiting &) = delete;
    };

private:
    bool nextOnWindow();

    QElapsedTimer m_clock;
    int m_tries = 0;
    bool m_cancelled = false;
    QPointer<QDialog> m_window;
};

// While one lives, this thread runs events for a wait (a lock, a server, a message's answer): a
// timer may then call in, while the code that waits is under way.
class RunningEvents
{
public:
    RunningEvents();
    ~RunningEvents();
    RunningEvents(const RunningEvents &) = delete;
    RunningEvents &operator=(const RunningEvents &) = delete;
    // How many of them this thread is inside now.
    static int depth();
};

// How a server wait ends early: Soft asks the server to cancel the statement, Hard cuts the
// connection (the statement's outcome is then unknown).
enum class Interrupt { Soft, Hard };

// Waits until `finished(ms)` is true; `finished` itself waits at most `ms` milliseconds for the
// work to end. `interrupt` is called on Annulla (Soft, then Hard if the work goes on), or, without
// a window, once kServerPatienceMs have passed. `what` names the database in the window.
void waitForServer(const std::function<bool(int ms)> &finished, const std::function<void(Interrupt)> &interrupt,
                   const QString &what);

// The window of a wait, not shown yet: FrmOccupato for a lock, FrmAttesa (with its running bar)
// for a server named by `what`. Annulla, or Esc, sets *cancelled.
enum class WaitWindow { Lock, Server };
QDialog *makeWaitWindow(WaitWindow kind, const QString &what, bool *cancelled);

} // namespace Norvix
