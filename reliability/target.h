#pragma once

// The database a reliability run works on: a fresh SQLite file in a temporary folder, in WAL or
// rollback-journal mode, or a fresh database on the PostgreSQL test server (see pgtest.h), with a
// plain connection of its own for checking what was stored.

#include "pgtest.h"

#include <QStringList>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace Reliability {

[[noreturn]] inline void die(const QString &what)
{
    std::fprintf(stderr, "%s\n", qPrintable(what));
    std::exit(2);
}

// The text saved in row `id` by the save loops: 1 to 3,000 characters, reproducible from the id.
inline QString payload(qint64 id)
{
    const int length = 1 + static_cast<int>((id * 7919) % 3000);
    const QString unit = QStringLiteral("%1;'\"è-").arg(id);
    return unit.repeated(length / unit.size() + 1).left(length);
}

class Target
{
public:
    // backend: "sqlite" (WAL), "sqlite-journal" (rollback journal) or "postgresql".
    explicit Target(const QString &backend) : m_backend(backend)
    {
        if (!m_dir.isValid())
            die(QStringLiteral("no temporary folder"));
        m_dir.setAutoRemove(qEnvironmentVariableIsEmpty("NORVIX_KEEP_RUN"));
        if (backend == u"sqlite" || backend == u"sqlite-journal") {
            const QString file = m_dir.filePath(QStringLiteral("dati.db"));
            m_connection = QStringLiteral("sqlite://") + file;
            if (backend == u"sqlite-journal")
                m_connection += QStringLiteral("?journal_mode=DELETE");
            m_check = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
            m_check.setDatabaseName(file);
            m_check.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
        } else if (backend == u"postgresql" || backend == u"odbc") {
            m_pg = std::make_unique<TestUtil::PgDatabase>();
            if (!m_pg->isValid())
                die(QStringLiteral("PostgreSQL test database: ") + m_pg->error());
            // "odbc": the same server through its ODBC driver (psqlODBC, from scripts/setup).
            m_connection = backend == u"odbc"
                               ? QStringLiteral("Driver={PostgreSQL Unicode};Server=%1;Port=%2;Database=%3;Uid=%4;Pwd=%5")
                                     .arg(m_pg->host())
                                     .arg(m_pg->port())
                                     .arg(m_pg->name(), m_pg->user(), m_pg->password())
                               : m_pg->url();
            m_check = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("check"));
            m_check.setHostName(m_pg->host());
            m_check.setPort(m_pg->port());
            m_check.setUserName(m_pg->user());
            m_check.setPassword(m_pg->password());
            m_check.setDatabaseName(m_pg->name());
        } else {
            die(QStringLiteral("unknown back end %1 (sqlite, sqlite-journal, postgresql, odbc)").arg(backend));
        }
        if (!m_check.open())
            die(QStringLiteral("cannot open the database: ") + m_check.lastError().text());
        if (isSqlite())
            exec(backend == u"sqlite" ? QStringLiteral("PRAGMA journal_mode=WAL") : QStringLiteral("PRAGMA journal_mode=DELETE"));
    }
    ~Target()
    {
        m_check.close();
        m_check = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("check"));
    }
    Target(const Target &) = delete;
    Target &operator=(const Target &) = delete;

    bool isSqlite() const { return m_backend.startsWith(u"sqlite"); }
    QString backend() const { return m_backend; }
    QString connection() const { return m_connection; }
    QString folder() const { return m_dir.path(); }

    // Closes and reopens the checking connection, so that it sees the files as a new process would.
    void reopen()
    {
        m_check.close();
        if (!m_check.open())
            die(QStringLiteral("cannot reopen the database: ") + m_check.lastError().text());
    }

    // Statements on the checking connection; one that fails ends the run.
    void exec(const QString &sql, const QVariantList &values = {}) { TestUtil::runSql(m_check, sql, values); }
    QList<QVariantList> rows(const QString &sql) { return TestUtil::rowsOf(m_check, sql); }
    QVariant scalar(const QString &sql) { return rows(sql).value(0).value(0); }

private:
    QString m_backend;
    QTemporaryDir m_dir;
    QString m_connection;
    QSqlDatabase m_check;
    std::unique_ptr<TestUtil::PgDatabase> m_pg;
};

} // namespace Reliability
