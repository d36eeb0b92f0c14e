#pragma once

// The thread a server connection lives on: it runs the work given to Connection::call() one
// piece after another. It also keeps what interrupting a PostgreSQL statement takes (the cancel
// request and the socket), which the waiting thread uses.

#include "platform/waiting.h"

#include <QThread>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

struct pg_conn;
struct pg_cancel;

namespace Norvix {

class ServerThread : public QThread
{
public:
    struct Job
    {
        std::function<void()> work;
        std::exception_ptr error;
        bool done = false; // under the thread's mutex
        std::atomic<bool> interrupted{false};
    };

    ~ServerThread() override;

    void post(const std::shared_ptr<Job> &job);
    // True once `job` is done; waits at most `ms` for it.
    bool waitFor(const Job &job, int ms);
    // Ends the thread once the work posted is done.
    void stop();
    // The job running now, if any.
    const Job *current() const { return m_current; }

    // The PostgreSQL session now open (nullptr: none, or another kind of server).
    void setSession(pg_conn *conn);
    // Soft: a cancel request for the statement running; Hard: the session's socket shut down.
    void interrupt(Interrupt how);
    // True once after interrupt(Hard) cut the session.
    bool takeCut() { return m_cut.exchange(false); }

protected:
    void run() override;

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_finished;
    std::deque<std::shared_ptr<Job>> m_queue;
    bool m_stopping = false;
    std::atomic<const Job *> m_current{nullptr};

    std::mutex m_sessionMutex;
    std::shared_ptr<pg_cancel> m_cancel;
    int m_socket = -1;
    std::atomic<bool> m_cut{false};
};

} // namespace Norvix
