#include "editor/lookupsearcher.h"

#include "platform/dataerror.h"

#include <chrono>
#include <map>

namespace Norvix {

struct LookupSearcher::Job
{
    quint64 serial = 0;
    QPointer<QObject> client;
    LookupQuery query; // without its connection, which stays on the window's thread
    ConnectionParams params;
    QString text;
    int limit = 0; // 0: only open the reader
};

// What the window's thread and the worker share. The worker keeps it too: a worker that a server
// keeps waiting past the searcher's end goes on alone, and tells nothing.
struct LookupSearcher::State
{
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable ended;
    std::unique_ptr<Job> pending;
    std::shared_ptr<Connection> running; // the reader of the search under way
    bool stop = false;
    bool finished = false;
};

LookupSearcher::LookupSearcher(QObject *parent) : QObject(parent), m_state(std::make_shared<State>())
{
    m_thread = std::thread([this, state = m_state] { work(state); });
}

LookupSearcher::~LookupSearcher()
{
    std::unique_lock lock(m_state->mutex);
    m_state->stop = true;
    m_state->pending.reset();
    if (m_state->running)
        m_state->running->cancelRunning();
    m_state->wake.notify_all();
    const bool ended = m_state->ended.wait_for(lock, std::chrono::seconds(3), [this] { return m_state->finished; });
    lock.unlock();
    if (ended)
        m_thread.join();
    else
        m_thread.detach();
}

void LookupSearcher::search(QObject *client, const LookupQuery &query, const QString &text, int limit)
{
    auto job = std::make_unique<Job>();
    job->serial = ++m_latest;
    job->client = client;
    job->query = query;
    job->query.connection.reset();
    job->params = query.connection->params();
    job->text = text;
    job->limit = limit;
    m_busy = true;
    const std::lock_guard lock(m_state->mutex);
    m_state->pending = std::move(job);
    if (m_state->running)
        m_state->running->cancelRunning();
    m_state->wake.notify_one();
}

void LookupSearcher::prepare(const Connection &connection)
{
    auto job = std::make_unique<Job>();
    job->params = connection.params();
    const std::lock_guard lock(m_state->mutex);
    if (m_state->pending)
        return;
    m_state->pending = std::move(job);
    m_state->wake.notify_one();
}

void LookupSearcher::cancel()
{
    ++m_latest;
    m_busy = false;
    const std::lock_guard lock(m_state->mutex);
    m_state->pending.reset();
    if (m_state->running)
        m_state->running->cancelRunning();
}

void LookupSearcher::work(const std::shared_ptr<State> &state)
{
    std::map<QString, std::shared_ptr<Connection>> readers; // by database (ConnectionParams::key), on this thread
    for (;;) {
        std::unique_ptr<Job> job;
        {
            std::unique_lock lock(state->mutex);
            state->wake.wait(lock, [&] { return state->stop || state->pending; });
            if (state->stop)
                break;
            job = std::move(state->pending);
        }
        LookupMatches matches;
        bool ok = false;
        // A cancel request meant for the search before may reach the server only when this one
        // runs: a search that fails so is tried once more.
        for (int attempt = 0; attempt < 2 && !ok; ++attempt) {
            try {
                std::shared_ptr<Connection> &reader = readers[job->params.key()];
                if (!reader)
                    reader = Connection::open(job->params, Access::ReadOnly);
                {
                    const std::lock_guard lock(state->mutex);
                    if (state->pending || state->stop)
                        break; // a newer search came meanwhile
                    state->running = reader;
                }
                job->query.connection = reader;
                if (job->limit == 0)
                    break; // only the reader was asked for
                matches = searchLookup(job->query, job->text, job->limit);
                ok = true;
            } catch (const Error &) {
                // interrupted, or the database could not be read: told as a failure (if still newest)
            }
        }
        job->query.connection.reset();
        const std::lock_guard lock(state->mutex);
        state->running.reset();
        if (state->pending || state->stop || job->limit == 0)
            continue;
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
    readers.clear();
    const std::lock_guard lock(state->mutex);
    state->running.reset();
    state->finished = true;
    state->ended.notify_all();
}

} // namespace Norvix
