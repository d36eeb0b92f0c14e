#pragma once

// The sample customer tables and their descriptor (tests/data/legacy/files.dsc,
// tests/data/anagrafica.sql) in a fresh database: an SQLite file ("sqlite", or "sqlite-journal"
// for a rollback journal instead of WAL) or a fresh PostgreSQL database ("postgresql").

#include "pgtest.h"
#include "platform/connection.h"
#include "testutil.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <memory>

namespace TestUtil {

// The sample descriptors and tables, on SQLite or on a fresh PostgreSQL database.
class Data
{
public:
    explicit Data(const QString &backend)
    {
        TestUtil::copyData(QStringLiteral("legacy/files.dsc"), m_dir.path());
        QString script = QString::fromUtf8(TestUtil::readData(QStringLiteral("anagrafica.sql")));
        if (backend.startsWith(u"sqlite")) {
            const QString file = m_dir.filePath(QStringLiteral("anagrafica.db"));
            QSqlDatabase raw = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("create"));
            raw.setDatabaseName(file);
            raw.open();
            QSqlQuery(raw).exec(QStringLiteral("PRAGMA user_version = 1")); // a database, not an empty file
            raw.close();
            raw = QSqlDatabase();
            QSqlDatabase::removeDatabase(QStringLiteral("create"));
            connection = QStringLiteral("sqlite://") + file;
            if (backend == u"sqlite-journal")
                connection += QStringLiteral("?journal_mode=DELETE"); // a rollback journal, as on a network share
        } else {
            m_pg = std::make_unique<TestUtil::PgDatabase>();
            if (!m_pg->isValid())
                qFatal("PostgreSQL test database: %s", qPrintable(m_pg->error()));
            connection = m_pg->url();
            script.replace(QStringLiteral("DATETIME"), QStringLiteral("TIMESTAMP"));
        }
        conn = Norvix::Connection::open(connection);
        QStringList statements;
        for (const QString &s : script.split(u';')) {
            QString body;
            for (const QString &line : s.split(u'\n'))
                if (!line.trimmed().startsWith(u"--"))
                    body += line + u'\n';
            if (!body.trimmed().isEmpty())
                statements << body;
        }
        exec(statements);
    }
    QString folder() const { return m_dir.path(); }
    void exec(const QStringList &statements)
    {
        QSqlQuery q(conn->database());
        for (const QString &s : statements)
            if (!q.exec(s))
                qFatal("%s: %s", qPrintable(s), qPrintable(q.lastError().text()));
    }
    QVariant scalar(const QString &sql)
    {
        QSqlQuery q(conn->database());
        if (!q.exec(sql))
            qFatal("%s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
        return q.next() ? q.value(0) : QVariant();
    }

    QString connection;
    std::shared_ptr<Norvix::Connection> conn;

private:
    QTemporaryDir m_dir;
    std::unique_ptr<TestUtil::PgDatabase> m_pg;
};

} // namespace TestUtil
