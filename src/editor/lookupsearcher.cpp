#include "editor/lookupsearcher.h"

#include "platform/dataerror.h"

#include <map>

namespace Norvix {

struct LookupSearcher::Job
{
    quint64 serial = 0;
    QPointer<QObject> client;
    LookupQuery query; // without its connection, which stays on the window's thread
    ConnectionParams params;
    QString connectionString;
    QString text;
    int limit = 0;
};

LookupSearcher::LookupSearcher(QObject *parent) : QObject(parent), m_thread([this] { work(); }) {}

LookupSearcher::~LookupSearcher()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
        m_pending.reset();
        if (m_running)
            m_running->cancelRunning();
    }
    m_wake.notify_all();
    m_thread.join();
}

void LookupSearcher::search(QObject *client, const LookupQuery &query, const QString &text, int limit)
{
    auto job = std::make_unique<Job>();
    job->serial = ++m_latest;
    job->client = client;
    job->query = query;
    job->query.connection.reset();
    job->params = query.connection->params();
    job->connectionString = query.connection->ConnectionString();
    job->text = text;
    job->limit = limit;
    m_busy = true;
    {
        const std::lock_guard lock(m_mutex);
        m_pending = std::move(job);
        if (m_running)
            m_running->cancelRunning();
    }
    m_wake.notify_one();
}

void LookupSearcher::cancel()
{
    ++m_latest;
    m_busy = false;
    const std::lock_guard lock(m_mutex);
    m_pending.reset();
    if (m_running)
        m_running->cancelRunning();
}

void LookupSearcher::work()
{
    std::map<QString, std::shared_ptr<Connection>> readers; // by connection string, on this thread
    for (;;) {
        std::unique_ptr<Job> job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop || m_pending; });
            if (m_stop)
                break;
            job = std::move(m_pending);
        }
        LookupMatches matches;
        bool ok = false;
        // A cancel request meant for the search before may reach the server only when this one
        // runs: a search that fails so is tried once more.
        for (int attempt = 0; attempt < 2 && !ok; ++attempt) {
            try {
                std::shared_ptr<Connection> &reader = readers[job->connectionString];
                if (!reader)
                    reader = Connection::open(job->params, job->connectionString, Access::ReadOnly);
                {
                    const std::lock_guard lock(m_mutex);
                    if (m_pending || m_stop)
                        break; // a newer search came meanwhile
                    m_running = reader;
                }
                job->query.connection = reader;
                matches = searchLookup(job->query, job->text, job->limit);
                ok = true;
            } catch (const Error &) {
                // interrupted, or the database could not be read: told as a failure (if still newest)
            }
        }
        {
            const std::lock_guard lock(m_mutex);
            m_running.reset();
            if (m_pending || m_stop)
                continue;
        }
        job->query.connection.reset();
        QMetaObject::invokeMethod(
            this,
            [this, serial = job->serial, client = job->client, text = job->text, matches = std::move(matches), ok] {
                if (serial != m_latest)
                    return;
                m_busy = false;
                if (client)
                    emit found(client, text, matches, ok);
            },
            Qt::QueuedConnection);
    }
    const std::lock_guard lock(m_mutex);
    m_running.reset();
    readers.clear();
}

} // namespace Norvix
