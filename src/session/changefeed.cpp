#include "session/changefeed.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>

#include <libpq-fe.h>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace Norvix {

// The listening session of a PostgreSQL database, on a thread of its own. Every wait is a poll()
// on the session's socket and on a pipe that the destructor writes to, so that it stops at once.
class NoticeListener
{
public:
    // `own`: the server process whose notices are not told; `heard` is called on the listener's
    // thread with the table a notice names (empty: unreadable, or some notices may have been lost).
    NoticeListener(const ConnectionParams &params, std::function<qint64()> own, std::function<void(const QString &)> heard)
        : m_params(params), m_own(std::move(own)), m_heard(std::move(heard))
    {
        if (::pipe(m_wake) == 0)
            for (int fd : m_wake)
                ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        m_thread = std::thread([this] { run(); });
    }
    ~NoticeListener()
    {
        m_stopping = true;
        if (m_wake[1] >= 0)
            (void)!::write(m_wake[1], "x", 1);
        m_thread.join();
        for (int fd : m_wake)
            if (fd >= 0)
                ::close(fd);
    }
    NoticeListener(const NoticeListener &) = delete;
    NoticeListener &operator=(const NoticeListener &) = delete;

    static constexpr int kFirstRetryMs = 500;
    static constexpr int kLastRetryMs = 5000;

private:
    enum class Woken { Ready, Timeout, Stop };
    // Waits for `events` on `socket` (none when it is -1) for at most `ms` (-1: no end).
    Woken wait(int socket, short events, int ms) const
    {
        pollfd fds[2] = {{m_wake[0], POLLIN, 0}, {socket, events, 0}};
        const int n = ::poll(fds, socket >= 0 ? 2 : 1, ms);
        if (m_stopping)
            return Woken::Stop;
        return n == 0 ? Woken::Timeout : Woken::Ready;
    }
    // What libpq is told: the connection string's database, with the bounds of kPostgresBounds
    // where it sets none.
    std::vector<std::pair<QByteArray, QByteArray>> keywords() const
    {
        std::vector<std::pair<QByteArray, QByteArray>> k{{"dbname", m_params.database.toUtf8()},
                                                         {"application_name", "norvix live"}};
        const auto add = [&](const char *name, const QString &value) {
            if (!value.isEmpty())
                k.emplace_back(name, value.toUtf8());
        };
        add("host", m_params.host);
        add("port", m_params.port == -1 ? QString() : QString::number(m_params.port));
        add("user", m_params.user);
        add("password", m_params.password);
        add("sslmode", m_params.option(QStringLiteral("sslmode"), QString()));
        for (const auto &[name, value] : kPostgresBounds)
            add(name, m_params.option(QLatin1String(name), QString::number(value)));
        return k;
    }
    // A new session, or none when it cannot be opened (in connect_timeout) or the listener stops.
    PGconn *connect() const
    {
        const auto k = keywords();
        std::vector<const char *> names, values;
        int seconds = 0;
        for (const auto &[name, value] : k) {
            names.push_back(name.constData());
            values.push_back(value.constData());
            if (name == "connect_timeout")
                seconds = value.toInt();
        }
        names.push_back(nullptr);
        values.push_back(nullptr);
        PGconn *c = PQconnectStartParams(names.data(), values.data(), 0);
        const QDeadlineTimer deadline(std::chrono::seconds(seconds > 0 ? seconds : 15));
        for (PostgresPollingStatusType s = PGRES_POLLING_WRITING; c && PQstatus(c) != CONNECTION_BAD;) {
            if (s == PGRES_POLLING_OK) {
                PQsetnonblocking(c, 1);
                return c;
            }
            if (s == PGRES_POLLING_FAILED || deadline.hasExpired())
                break;
            const Woken w = wait(PQsocket(c), s == PGRES_POLLING_READING ? POLLIN : POLLOUT,
                                 int(deadline.remainingTime()));
            if (w == Woken::Stop)
                break;
            if (w == Woken::Ready)
                s = PQconnectPoll(c);
        }
        PQfinish(c);
        return nullptr;
    }
    // Runs LISTEN on a new session; false when it fails or the listener stops.
    bool listen(PGconn *c) const
    {
        if (!PQsendQuery(c, "LISTEN norvix"))
            return false;
        const QDeadlineTimer deadline(std::chrono::seconds(30));
        for (int sent = PQflush(c); sent != 0 || PQisBusy(c);) {
            if (sent < 0 || deadline.hasExpired()
                || wait(PQsocket(c), sent ? POLLIN | POLLOUT : POLLIN, int(deadline.remainingTime())) == Woken::Stop
                || !PQconsumeInput(c))
                return false;
            if (sent)
                sent = PQflush(c);
        }
        bool ok = true;
        while (PGresult *r = PQgetResult(c)) {
            ok = ok && PQresultStatus(r) == PGRES_COMMAND_OK;
            PQclear(r);
        }
        return ok;
    }
    // Tells the notices that arrive until the session is lost or the listener stops.
    void serve(PGconn *c) const
    {
        for (;;) {
            while (PGnotify *n = PQnotifies(c)) {
                if (n->be_pid != m_own())
                    m_heard(tableOf(QByteArray(n->extra)));
                PQfreemem(n);
            }
            const int socket = PQsocket(c);
            if (socket < 0 || wait(socket, POLLIN, -1) == Woken::Stop || !PQconsumeInput(c) || PQstatus(c) != CONNECTION_OK)
                return;
        }
    }
    static QString tableOf(const QByteArray &payload)
    {
        const QJsonValue table = QJsonDocument::fromJson(payload).object().value(QStringLiteral("table"));
        return table.isString() ? table.toString() : QString();
    }
    void run() const
    {
        // Notices may have been missed: before the first LISTEN (the editor read its rows before it
        // began to listen), and whenever a session was lost or could not be opened.
        bool missed = true;
        for (int retry = kFirstRetryMs; !m_stopping; retry = std::min(retry * 2, kLastRetryMs)) {
            if (PGconn *c = connect()) {
                if (listen(c)) {
                    if (missed)
                        m_heard(QString());
                    retry = kFirstRetryMs;
                    serve(c);
                }
                PQfinish(c);
            }
            missed = true;
            if (wait(-1, 0, retry) == Woken::Stop)
                return;
        }
    }

    const ConnectionParams m_params;
    const std::function<qint64()> m_own;
    const std::function<void(const QString &)> m_heard;
    int m_wake[2] = {-1, -1};
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};

ChangeFeed::ChangeFeed(std::shared_ptr<Connection> connection, QObject *parent)
    : QObject(parent), m_connection(std::move(connection)),
      // (by the driver: a PostgreSQL server reached through ODBC has no session to listen on)
      m_way(m_connection->params().isSqlite()     ? Way::Polling
            : m_connection->params().isPostgres() ? Way::Notifications
                                                  : Way::Timer)
{
    m_timer.setInterval(m_way == Way::Polling ? kPollMs : kTimerMs);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (!m_running)
            return;
        if (m_way == Way::Polling)
            poll();
        else
            emit changed(QString());
    });
}

ChangeFeed::~ChangeFeed()
{
    stop();
}

void ChangeFeed::start()
{
    if (m_running)
        return;
    m_running = true;
    const quint64 generation = ++m_generation;
    if (m_way != Way::Notifications) {
        m_version = m_way == Way::Polling ? dataVersion() : std::nullopt;
        m_timer.start();
        return;
    }
    const std::shared_ptr<Connection> own = m_connection;
    m_listener = std::make_unique<NoticeListener>(
        m_connection->params(), [own] { return own->serverProcess(); },
        [this, generation](const QString &table) {
            QMetaObject::invokeMethod(
                this,
                [this, generation, table] {
                    if (m_running && generation == m_generation)
                        emit changed(table);
                },
                Qt::QueuedConnection);
        });
}

void ChangeFeed::stop()
{
    m_running = false;
    m_timer.stop();
    m_listener.reset();
}

void ChangeFeed::poll()
{
    const std::optional<qint64> version = dataVersion();
    if (!version)
        return; // locked, or the file gone: tried again on the next tick
    const bool differs = m_version && *m_version != *version;
    m_version = version;
    if (differs)
        emit changed(QString());
}

std::optional<qint64> ChangeFeed::dataVersion() const
{
    return m_connection->call([this]() -> std::optional<qint64> {
        QSqlQuery q(m_connection->database());
        if (!q.exec(QStringLiteral("PRAGMA data_version")) || !q.next())
            return std::nullopt;
        return q.value(0).toLongLong();
    });
}

} // namespace Norvix
