#pragma once

// Waits the user may see: for an SQLite database that another connection keeps locked, and for a
// database server to answer. This layer only says that it waits, through the WaitService of the
// thread that waits (waitService()); it shows nothing itself. On the main thread of a
// QApplication the window layer's service keeps the windows alive (user input held back) and
// after about half a second shows a small window with Annulla (see ui/waitwindows.h); elsewhere
// BoundedWaits gives each wait an end.
//
// Locks: each try of a statement waits at most the busy timeout (50 ms unless the connection
// string says otherwise); between tries a LockWait decides. Without a window it sleeps a short
// random pause between tries and gives up after kLockPatienceMs.
//
// Servers: the statements of a server connection run on a thread of their own (see
// Connection::call); the caller waits in waitForServer(). Without a window, a server that has
// not answered after kServerPatienceMs is asked to cancel the statement and, when it does not
// within kHardCancelAfterMs, the connection is cut.

#include <QElapsedTimer>
#include <QString>

#include <functional>
#include <memory>

namespace Norvix {

inline constexpr int kLockPatienceMs = 20000;
inline constexpr int kWaitWindowAfterMs = 500;
// Without a window, a server that has not answered after this long is interrupted.
inline constexpr int kServerPatienceMs = 90000;
// After Annulla, how long the server has to cancel the statement before the connection is cut.
inline constexpr int kHardCancelAfterMs = 1500;

// How a server wait ends early: Soft asks the server to cancel the statement, Hard cuts the
// connection (the statement's outcome is then unknown).
enum class Interrupt { Soft, Hard };

// Tells the user about the waits of the data layer, and hears whether to go on.
class WaitService
{
public:
    virtual ~WaitService() = default;

    // One wait for a lock: from the first try that found the database locked until the statement
    // runs or is given up (the object's end).
    class LockWaiting
    {
    public:
        virtual ~LockWaiting() = default;
        // After a try found the database locked, `waitedMs` after the first try: pauses, then
        // true to try again, false to give up.
        virtual bool next(qint64 waitedMs) = 0;
    };
    virtual std::unique_ptr<LockWaiting> lockWaiting() = 0;

    // Waits until `finished(ms)` is true; `finished` itself waits at most `ms` milliseconds for
    // the work to end. `interrupt` ends the work early (Soft first, then Hard if the work goes
    // on), when the user asks to or the wait has lasted too long. `what` names the database.
    virtual void waitForServer(const std::function<bool(int ms)> &finished,
                               const std::function<void(Interrupt)> &interrupt, const QString &what) = 0;
};

// Waits without a window, each with an end: lock tries a short random pause apart for at most
// kLockPatienceMs; a server interrupted after kServerPatienceMs (Soft), then after
// kHardCancelAfterMs more (Hard).
class BoundedWaits : public WaitService
{
public:
    std::unique_ptr<LockWaiting> lockWaiting() override;
    void waitForServer(const std::function<bool(int ms)> &finished, const std::function<void(Interrupt)> &interrupt,
                       const QString &what) override;
};

// The service for a wait on this thread: on the application's main thread the one installed,
// else, with a QApplication, the window layer's; BoundedWaits on any other thread and without
// windows.
WaitService &waitService();
// Installs a service for the main thread (nullptr restores the default) and returns the previous
// one, if any was installed by a caller.
std::shared_ptr<WaitService> setWaitService(std::shared_ptr<WaitService> service);

class LockWait
{
public:
    LockWait();
    ~LockWait(); // ends the wait (a window it showed closes)
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
    QElapsedTimer m_clock;
    int m_tries = 0;
    std::unique_ptr<WaitService::LockWaiting> m_waiting; // asked for at the first wait
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

// An operation whose window went away while it ran events (its host deleted the window from a
// timer during a wait or a question): while one lives, each wait the operation is in or begins
// gives up (LockWait::next is false; the window layer cancels a server wait) and the window layer
// asks it nothing (a question takes the answer that keeps data). The operation is known by the
// RunningEvents::depth() it began at: its own code runs there, code called in by timers deeper.
class Abandoned
{
public:
    explicit Abandoned(int depth);
    ~Abandoned();
    Abandoned(const Abandoned &) = delete;
    Abandoned &operator=(const Abandoned &) = delete;
    // Whether code running at `depth` on this thread is an abandoned operation's own.
    static bool at(int depth);

private:
    int m_depth;
};

// Waits for a server through waitService() (see WaitService::waitForServer).
void waitForServer(const std::function<bool(int ms)> &finished, const std::function<void(Interrupt)> &interrupt,
                   const QString &what);

} // namespace Norvix
