#include "platform/connection.h"

#include "platform/language.h"
#include "platform/serverthread.h"
#include "platform/sqlnames.h"
#include "platform/textfold.h"
#include "platform/waiting.h"

#include <QAtomicInteger>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QUrl>
#include <QVariant>

#include <libpq-fe.h>
#include <sqlite3.h>

#include <sys/stat.h>
#include <unistd.h>

// PostgreSQL connections are bounded (kPostgresBounds, and a statement_timeout) unless the
// options say otherwise, so that an unreachable or stopped server does not hang the caller.

namespace Norvix {

namespace {

constexpr int kSqliteBusyTimeoutMs = 50; // each try; LockWait decides between tries
// A statement on PostgreSQL is stopped after 60 s (the session's other bounds: kPostgresBounds).
constexpr int kPostgresStatementTimeoutMs = 60000;

[[noreturn]] void failed(const QString &message)
{
    throw DataError(DataError::ConnectionFailed, message);
}

enum class FileKind { Sqlite, Empty, Jet, Other };

// The kind of a file from its first bytes; `wal` tells whether an SQLite file is in WAL mode
// (bytes 18 and 19 of its header are 2).
FileKind fileKind(const QString &path, bool *wal = nullptr)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        failed(nxTr("Impossibile leggere il file di database %1: %2.").arg(path, f.errorString()));
    const QByteArray head = f.read(20);
    if (head.isEmpty())
        return FileKind::Empty;
    if (head.startsWith(QByteArray("SQLite format 3\0", 16))) {
        if (wal)
            *wal = head.size() >= 20 && head.at(18) == 2 && head.at(19) == 2;
        return FileKind::Sqlite;
    }
    const QByteArray jet = head.mid(4, 15);
    if (jet == "Standard Jet DB" || jet == "Standard ACE DB")
        return FileKind::Jet;
    return FileKind::Other;
}

// An SQLite file must exist and be one: the driver would otherwise create an empty database in
// its place, or turn an empty file into one. Returns whether it is in WAL mode.
bool checkSqliteFile(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        failed(nxTr("Il database %1 non esiste.").arg(shownName(path)));
    if (!info.isFile())
        failed(nxTr("%1 non è un file di database.").arg(shownName(path)));
    bool wal = false;
    switch (fileKind(path, &wal)) {
    case FileKind::Sqlite:
        return wal;
    case FileKind::Empty:
        failed(nxTr("Il file %1 non è un database: è vuoto.").arg(shownName(path)));
    case FileKind::Jet:
        failed(nxTr("Il file %1 è un database Jet di una versione precedente e non può essere modificato: "
                              "convertirlo in un database SQLite.")
                   .arg(shownName(path)));
    case FileKind::Other:
        break;
    }
    failed(nxTr("Il file %1 non è un database SQLite.").arg(shownName(path)));
}

// Whether this user may write the file and create the journal files beside it.
bool sqliteWritable(const QString &path)
{
    const QFileInfo info(path);
    return ::access(QFile::encodeName(info.absoluteFilePath()).constData(), W_OK) == 0
           && ::access(QFile::encodeName(info.absolutePath()).constData(), W_OK) == 0;
}

// "file:" URI of a path, so that SQLite opens it without ever creating it (mode=rw / mode=ro).
// `immutable`: the file is read as it is, without the shared memory of WAL mode, which a reader
// of a folder it may not write cannot create.
QString sqliteUri(const QString &path, bool readOnly, bool immutable = false)
{
    const QByteArray encoded = QUrl::toPercentEncoding(QFileInfo(path).absoluteFilePath(), "/");
    return QStringLiteral("file:") + QString::fromLatin1(encoded)
           + (readOnly ? QStringLiteral("?mode=ro") : QStringLiteral("?mode=rw"))
           + (immutable ? QStringLiteral("&immutable=1") : QString());
}

QString nextConnectionName()
{
    static QAtomicInteger<quint64> counter;
    return QStringLiteral("norvix-connection-%1").arg(counter.fetchAndAddRelaxed(1));
}

} // namespace

Connection::Connection() = default;

void Connection::run(const std::function<void()> &work) const
{
    if (!m_worker || QThread::currentThread() == m_worker.get()) {
        work();
        return;
    }
    // The wait runs the event loop: should the connection be closed meanwhile, what follows the
    // wait uses only the worker (kept alive here), the job and this text.
    const std::shared_ptr<ServerThread> worker = m_worker;
    const QString what = m_params.described();
    auto job = std::make_shared<ServerThread::Job>();
    job->work = [this, &work, &worker] {
        // A session that Annulla cut, or that could not be opened again while the server was away,
        // is opened again before anything else runs: nothing was sent on it.
        if (worker->takeCut() || sessionClosed())
            const_cast<Connection *>(this)->reopenSession();
        work();
    };
    worker->post(job);
    waitForServer([&](int ms) { return worker->waitFor(*job, ms); },
                  [&](Interrupt how) {
                      job->interrupted = true;
                      worker->interrupt(how);
                  },
                  what);
    if (!job->error)
        return;
    if (!job->interrupted)
        std::rethrow_exception(job->error);
    try {
        std::rethrow_exception(job->error);
    } catch (const DataError &e) {
        if (e.number() == DataError::ConnectionLost)
            throw;
    } catch (...) {
    }
    throw DataError(DataError::Cancelled,
                    nxTr("Operazione annullata: il database %1 non ha risposto in tempo e nulla è stato "
                                   "modificato. I valori inseriti sono stati mantenuti.")
                        .arg(what));
}

void Connection::cancelRunning() const
{
    if (m_worker)
        m_worker->interrupt(Interrupt::Soft);
    else if (m_sqlite)
        sqlite3_interrupt(m_sqlite);
}

bool Connection::interrupted() const
{
    if (!m_worker || QThread::currentThread() != m_worker.get())
        return false;
    const ServerThread::Job *job = m_worker->current();
    return job && job->interrupted;
}

std::shared_ptr<Connection> Connection::open(const ConnectionParams &params, Access access)
{
    if (!QSqlDatabase::isDriverAvailable(params.driver))
        failed(nxTr("Il driver di database %1 non è disponibile.").arg(params.driver));

    std::shared_ptr<Connection> c(new Connection);
    c->m_params = params;
    // A params may come from elsewhere than ConnectionParams::parse(): its options are checked again.
    c->m_params.checkOptions();
    c->m_name = nextConnectionName();
    // If anything below throws, the destructor of `c` removes the connection again.
    if (c->m_params.isSqlite()) {
        // Read first: nothing of the file changes until it is known to be a database this user
        // can open (and, for the editor, until its table has been found).
        const QString &path = c->m_params.database;
        c->m_walMode = checkSqliteFile(path);
        c->m_hadWalFiles = QFile::exists(path + QStringLiteral("-wal")) || QFile::exists(path + QStringLiteral("-shm"));
        c->m_dialect = SqlDialect::Sqlite;
        // A rollback journal left by a writer that died (a crash, a power cut) must be played back
        // before anyone reads: only a writer can, so a writer opens it at once.
        const bool hotJournal = QFileInfo(path + QStringLiteral("-journal")).size() > 0;
        c->openSqlite(hotJournal && access == Access::ReadWrite && sqliteWritable(path));
        QSqlQuery q(c->database());
        if (!execTextPatiently(q, QStringLiteral("SELECT count(*) FROM sqlite_master")))
            failed(nxTr("Il file %1 non è un database SQLite leggibile: %2")
                       .arg(shownName(path), q.lastError().databaseText()));
    } else {
        // A server may keep the caller waiting: the connection gets a thread of its own.
        c->m_worker = std::make_shared<ServerThread>();
        c->m_worker->setObjectName(c->m_name);
        c->m_worker->start();
        c->call([&] {
            c->openServer();
            if (c->m_dialect == SqlDialect::PostgreSql && access == Access::ReadOnly)
                c->runSetting(QStringLiteral("SET SESSION CHARACTERISTICS AS TRANSACTION READ ONLY"));
        });
        c->m_readOnly = access == Access::ReadOnly;
    }
    if (access == Access::ReadWrite)
        c->enableWriting();
    return c;
}

namespace {
// The device and inode of the file at a path; none when there is no file there.
std::optional<std::pair<quint64, quint64>> fileIdentity(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return std::pair{quint64(st.st_dev), quint64(st.st_ino)};
}
} // namespace

void Connection::requireSameFile() const
{
    if (!m_file || fileIdentity(m_params.database) == m_file)
        return;
    throw DataError(DataError::FileGone,
                    nxTr("Il database %1 è stato eliminato o sostituito dopo l'apertura dell'editor: la modifica "
                                   "non è stata salvata e i valori inseriti sono stati mantenuti. Chiudere l'editor e "
                                   "riaprirlo sul database attuale.")
                        .arg(QDir::toNativeSeparators(m_params.database)));
}

void Connection::openSqlite(bool write)
{
    const QString &path = m_params.database;
    QSqlDatabase db = QSqlDatabase::contains(m_name) ? QSqlDatabase::database(m_name, false)
                                                     : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    db.close();
    QStringList options;
    if (const QString forDriver = m_params.driverOptions(); !forDriver.isEmpty())
        options << forDriver;
    options << QStringLiteral("QSQLITE_OPEN_URI");
    if (!m_params.hasOption(QStringLiteral("QSQLITE_BUSY_TIMEOUT")))
        options << QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kSqliteBusyTimeoutMs);
    db.setConnectOptions(options.join(QLatin1Char(';')));
    // A WAL file whose shared memory is not there, in a folder this user may not write: it can
    // only be read as it is (nobody writes it meanwhile, or the shared memory would exist).
    const bool immutable = !write && m_walMode && !QFile::exists(path + QStringLiteral("-shm"))
                           && ::access(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), W_OK) != 0;
    db.setDatabaseName(sqliteUri(path, !write, immutable));
    if (!db.open())
        failed(nxTr("Impossibile aprire il database %1: %2")
                   .arg(m_params.described(), db.lastError().databaseText().trimmed()));
    QStringList pragmas;
    if (write)
        pragmas << QStringLiteral("PRAGMA journal_mode=")
                       + m_params.option(QStringLiteral("journal_mode"), QStringLiteral("WAL"));
    pragmas << QStringLiteral("PRAGMA synchronous=FULL") << QStringLiteral("PRAGMA foreign_keys=ON");
    for (const QString &pragma : std::as_const(pragmas))
        runSetting(pragma);
    addFoldFunction(db);
    const QVariant handle = db.driver()->handle();
    m_sqlite = qstrcmp(handle.typeName(), "sqlite3*") == 0 ? *static_cast<sqlite3 *const *>(handle.constData()) : nullptr;
    m_readOnly = !write;
    m_file = fileIdentity(path);
}

void Connection::openServer()
{
    QSqlDatabase db = QSqlDatabase::addDatabase(m_params.driver, m_name);
    QStringList options;
    if (const QString forDriver = m_params.driverOptions(); !forDriver.isEmpty())
        options << forDriver;
    db.setDatabaseName(m_params.isOdbc() ? m_params.odbcDatabaseName() : m_params.database);
    if (!m_params.host.isEmpty())
        db.setHostName(m_params.host);
    if (m_params.port != -1)
        db.setPort(m_params.port);
    if (!m_params.user.isEmpty())
        db.setUserName(m_params.user);
    if (!m_params.password.isEmpty())
        db.setPassword(m_params.password);
    if (m_params.isPostgres()) {
        // Every wait on the server has an end: a dead server or a lost network is found out by
        // the keepalives and the TCP timeout, a statement that runs too long is stopped by the
        // server. The connection string may set each one otherwise.
        for (const auto &[name, value] : kPostgresBounds)
            if (!m_params.hasOption(QLatin1String(name)))
                options << QStringLiteral("%1=%2").arg(QLatin1String(name)).arg(value);
    }
    db.setConnectOptions(options.join(QLatin1Char(';')));
    openSession();
}

void Connection::openSession()
{
    QSqlDatabase db = database();
    if (!db.open()) {
        const QSqlError error = db.lastError();
        const QString native = error.databaseText().trimmed();
        failed(nxTr("Impossibile aprire il database %1: %2")
                   .arg(m_params.described(), m_params.scrubbed(native.isEmpty() ? error.text() : native)));
    }
    m_dialect = db.driver()->dbmsType() == QSqlDriver::PostgreSQL ? SqlDialect::PostgreSql : SqlDialect::Other;
    if (m_dialect == SqlDialect::PostgreSql) {
        const QVariant handle = db.driver()->handle();
        // The driver's handle is the session of libpq (its type name says "pg_conn*" here).
        if (handle.isValid() && (qstrcmp(handle.typeName(), "PGconn*") == 0 || qstrcmp(handle.typeName(), "pg_conn*") == 0)) {
            PGconn *session = *static_cast<PGconn *const *>(handle.constData());
            m_worker->setSession(session);
            m_serverProcess = PQbackendPID(session);
        }
        runSetting(QStringLiteral("SET statement_timeout = %1")
                       .arg(m_params.option(QStringLiteral("statement_timeout"),
                                        QString::number(kPostgresStatementTimeoutMs))));
        // A save is acknowledged only once the server has it on its disk, whatever its settings.
        runSetting(QStringLiteral("SET synchronous_commit = on"));
        // A server on this machine shares its cores with the window: a large scan runs in one
        // process, not with parallel workers that would take the core the window needs.
        const QString host = m_params.host;
        if (host.isEmpty() || host.startsWith(u'/') || host == u"localhost" || host == u"127.0.0.1" || host == u"::1")
            runSetting(QStringLiteral("SET max_parallel_workers_per_gather = 0"));
    }
}

bool Connection::isLost(const QSqlError &error) const
{
    if (m_dialect == SqlDialect::Sqlite || error.type() == QSqlError::NoError)
        return false;
    if (error.type() == QSqlError::ConnectionError)
        return true;
    // SQLSTATE class 08 (connection exception) and the server shutting the session down.
    const QString code = error.nativeErrorCode();
    if (code.startsWith(u"08") || code == u"57P01" || code == u"57P02" || code == u"57P03")
        return true;
    const QString text = error.databaseText() + u' ' + error.driverText();
    for (const char *said : {"server closed the connection", "no connection to the server", "terminating connection",
                             "connection to server was lost", "could not receive data", "could not send data"})
        if (text.contains(QLatin1String(said), Qt::CaseInsensitive))
            return true;
    return false;
}

bool Connection::execRead(QSqlQuery &q, const QString &sql, const QVariantList &values)
{
    return call([&] {
        for (int tries = 0;; ++tries) {
            q = QSqlQuery(database());
            q.setForwardOnly(true);
            q.setNumericalPrecisionPolicy(QSql::HighPrecision);
            const bool prepared = q.prepare(sql);
            for (const QVariant &v : values)
                q.addBindValue(v);
            const bool ran = prepared && execPatiently(q);
            if (ran || tries > 0 || !isLost(q.lastError()) || interrupted())
                return ran;
            reconnect();
        }
    });
}

void Connection::reconnect()
{
    if (m_dialect != SqlDialect::Sqlite)
        call([this] { reopenSession(); });
}

void Connection::reopenSession()
{
    closeSession();
    openSession();
    if (m_dialect == SqlDialect::PostgreSql)
        runSetting(m_readOnly ? QStringLiteral("SET SESSION CHARACTERISTICS AS TRANSACTION READ ONLY")
                              : QStringLiteral("SET SESSION CHARACTERISTICS AS TRANSACTION READ WRITE"));
}

bool Connection::sessionClosed() const
{
    return QSqlDatabase::contains(m_name) && !QSqlDatabase::database(m_name, false).isOpen();
}

bool Connection::markWrite(QSqlQuery &q)
{
    m_write.reset();
    if (m_dialect != SqlDialect::PostgreSql)
        return true;
    if (!q.exec(QStringLiteral("SELECT pg_backend_pid(), txid_current()")) || !q.next())
        return false;
    m_write = WriteMark{q.value(0).toLongLong(), q.value(1).toLongLong()};
    return true;
}

Connection::WriteFate Connection::settleLostWrite()
{
    const std::optional<WriteMark> mark = std::exchange(m_write, std::nullopt);
    if (!mark)
        return WriteFate::Untracked;
    try {
        return call([&] {
            reopenSession();
            return fateOf(*mark);
        });
    } catch (const DataError &) {
        return WriteFate::Unknown; // the server cannot be reached
    }
}

Connection::WriteFate Connection::fateOf(const WriteMark &mark)
{
    QSqlQuery q(database());
    // That process only while it still holds that transaction: the number of a process that has
    // ended may be another's by now.
    q.prepare(QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE pid = ? "
                             "AND backend_xid::text = (?::bigint % 4294967296)::text"));
    q.addBindValue(mark.pid);
    q.addBindValue(mark.txid);
    if (!q.exec())
        return WriteFate::Unknown;
    // Once the process has gone its transaction is no longer in progress: committed or aborted.
    const QDeadlineTimer deadline(kSettleMs);
    q.prepare(QStringLiteral("SELECT txid_status(?)"));
    for (;;) {
        q.bindValue(0, mark.txid);
        if (!q.exec() || !q.next())
            return WriteFate::Unknown;
        const QString status = q.value(0).toString(); // NULL: too old to tell
        if (status == u"committed")
            return WriteFate::Saved;
        if (status == u"aborted")
            return WriteFate::NotSaved;
        if (status != u"in progress" || deadline.hasExpired() || interrupted())
            return WriteFate::Unknown;
        QThread::msleep(50);
    }
}

void Connection::closeSession()
{
    if (m_worker)
        m_worker->setSession(nullptr); // before the socket closes and its number may be reused
    database().close();
}

void Connection::runSetting(const QString &statement)
{
    // A setting may need the file's lock (journal_mode, or a schema read under a busy writer).
    QSqlQuery q(database());
    if (!execTextPatiently(q, statement))
        failed(nxTr("Impossibile preparare il database %1 (%2): %3")
                   .arg(m_params.described(), statement, q.lastError().text()));
}

bool Connection::enableWriting()
{
    if (!m_readOnly)
        return true;
    return call([this] { return enableWritingHere(); });
}

bool Connection::enableWritingHere()
{
    switch (m_dialect) {
    case SqlDialect::Sqlite:
        if (m_params.hasOption(QStringLiteral("QSQLITE_OPEN_READONLY")) || !sqliteWritable(m_params.database))
            return false;
        openSqlite(true);
        return true;
    case SqlDialect::PostgreSql: {
        QSqlQuery q(database());
        if (q.exec(QStringLiteral("SELECT pg_catalog.pg_is_in_recovery()")) && q.next() && q.value(0).toBool())
            return false; // a standby server: it only reads
        runSetting(QStringLiteral("SET SESSION CHARACTERISTICS AS TRANSACTION READ WRITE"));
        break;
    }
    case SqlDialect::Other:
        break;
    }
    m_readOnly = false;
    return true;
}

bool isBusy(SqlDialect dialect, const QSqlError &error)
{
    if (dialect != SqlDialect::Sqlite || error.type() == QSqlError::NoError)
        return false;
    bool numeric = false;
    const int primary = error.nativeErrorCode().toInt(&numeric) & 0xff;
    if (numeric)
        return primary == 5 || primary == 6;
    // The driver's BEGIN and COMMIT give SQLite's text without its code.
    const QString text = error.databaseText();
    return text.contains(u"database is locked") || text.contains(u"database table is locked");
}

namespace {
// Runs `exec` again while it finds an SQLite file locked, for as long as a LockWait lets it.
bool retryWhileBusy(QSqlQuery &query, const std::function<bool()> &exec)
{
    LockWait wait;
    for (;;) {
        if (exec())
            return true;
        const SqlDialect dialect = query.driver() && query.driver()->dbmsType() == QSqlDriver::SQLite ? SqlDialect::Sqlite
                                                                                                   : SqlDialect::Other;
        if (!isBusy(dialect, query.lastError()) || !wait.next())
            return false;
    }
}
} // namespace

bool execTextPatiently(QSqlQuery &query, const QString &sql)
{
    // SQLite may find the file locked already while preparing (reading the schema).
    return retryWhileBusy(query, [&] { return query.exec(sql); });
}

bool execPatiently(QSqlQuery &query)
{
    return retryWhileBusy(query, [&] { return query.exec(); });
}

Connection::~Connection()
{
    Close();
}

QSqlDatabase Connection::database() const
{
    if (m_name.isEmpty())
        return QSqlDatabase();
    if (m_worker && QThread::currentThread() != m_worker.get()) {
        qWarning("Norvix: the database of a server connection was used outside Connection::call()");
        return QSqlDatabase();
    }
    return QSqlDatabase::contains(m_name) ? QSqlDatabase::database(m_name, false) : QSqlDatabase();
}

bool Connection::isOpen() const
{
    if (m_name.isEmpty())
        return false;
    if (m_worker)
        return true; // until Close(): a session the server ended is opened again by the next call
    return database().isOpen();
}

void Connection::Close()
{
    m_tables.clear();
    m_sqlite = nullptr;
    if (m_name.isEmpty())
        return;
    const auto closeAndRemove = [this] {
        if (!QSqlDatabase::contains(m_name))
            return;
        closeSession();
        QSqlDatabase::removeDatabase(m_name);
    };
    if (m_worker) {
        // No window here (Close runs from destructors too): the server gets a few seconds to say
        // goodbye, then the connection is cut.
        auto job = std::make_shared<ServerThread::Job>();
        job->work = closeAndRemove;
        m_worker->post(job);
        if (!m_worker->waitFor(*job, 3000)) {
            m_worker->interrupt(Interrupt::Hard);
            m_worker->waitFor(*job, 60000);
        }
        m_worker->stop();
        m_worker.reset();
    } else {
        closeAndRemove();
    }
    const QString name = m_name;
    m_name.clear();
    // A reader of a WAL file leaves the files of its shared memory behind; a writer that closes
    // last removes them, changing nothing else. So reading leaves no trace where there was none.
    const QString &path = m_params.database;
    if (m_dialect == SqlDialect::Sqlite && m_readOnly && m_walMode && !m_hadWalFiles
        && (QFile::exists(path + QStringLiteral("-wal")) || QFile::exists(path + QStringLiteral("-shm")))
        && sqliteWritable(path)) {
        const QString tidy = name + QStringLiteral("-tidy");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), tidy);
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=100"));
            db.setDatabaseName(sqliteUri(path, false));
            if (db.open())
                QSqlQuery(db).exec(QStringLiteral("SELECT count(*) FROM sqlite_master"));
            db.close();
        }
        QSqlDatabase::removeDatabase(tidy);
    }
}

} // namespace Norvix
