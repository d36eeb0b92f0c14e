#include "platform/serverthread.h"

#include <libpq-fe.h>
#include <sys/socket.h>

#include <thread>

namespace Norvix {

ServerThread::~ServerThread()
{
    stop();
}

void ServerThread::post(const std::shared_ptr<Job> &job)
{
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(job);
    }
    m_wake.notify_all();
}

bool ServerThread::waitFor(const Job &job, int ms)
{
    std::unique_lock lock(m_mutex);
    return m_finished.wait_for(lock, std::chrono::milliseconds(ms), [&] { return job.done; });
}

void ServerThread::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    wait();
}

void ServerThread::setSession(PGconn *conn)
{
    std::lock_guard lock(m_sessionMutex);
    m_cancel.reset();
    m_socket = -1;
    if (!conn)
        return;
    m_cancel = std::shared_ptr<PGcancel>(PQgetCancel(conn), [](PGcancel *c) {
        if (c)
            PQfreeCancel(c);
    });
    m_socket = PQsocket(conn);
}

void ServerThread::interrupt(Interrupt how)
{
    std::lock_guard lock(m_sessionMutex);
    if (how == Interrupt::Soft && m_cancel) {
        // The request is a connection of its own to the server, which may not answer either.
        std::thread([cancel = m_cancel] {
            char error[256];
            PQcancel(cancel.get(), error, sizeof error);
        }).detach();
    } else if (how == Interrupt::Hard && m_socket >= 0) {
        // The statement waiting on the socket ends at once with a lost connection. The socket
        // stays the session's: it is closed (and its number reused) only after setSession().
        ::shutdown(m_socket, SHUT_RDWR);
        m_cut = true;
    }
}

void ServerThread::run()
{
    for (;;) {
        std::shared_ptr<Job> job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_queue.empty())
                return;
            job = m_queue.front();
            m_queue.pop_front();
        }
        m_current = job.get();
        try {
            job->work();
        } catch (...) {
            job->error = std::current_exception();
        }
        m_current = nullptr;
        {
            std::lock_guard lock(m_mutex);
            job->done = true;
        }
        m_finished.notify_all();
    }
}

} // namespace Norvix
