#pragma once

// A fresh database on one back end for every suite that works on data: an SQLite file in a folder
// of its own ("sqlite"; "sqlite-journal" for a rollback journal instead of WAL, as on a network
// share) or a fresh database on the PostgreSQL test server ("postgresql", see pgtest.h; "odbc"
// reaches it through its ODBC driver), with its
// connection string, a connection open on it and helpers that run statements (a statement that
// fails ends the run) and read what is stored. Suites take the back end from a data column:
//   void saves_data() { TestUtil::backends(); }

#include "pgtest.h"
#include "platform/connection.h"
#include "testutil.h"

#include <memory>

namespace TestUtil {

// An SQLite file made or changed by `statements`, as another program would (never an empty file).
inline void createSqlite(const QString &path, const QStringList &statements = {})
{
    static int counter = 0;
    const QString name = QStringLiteral("norvix-create-%1").arg(++counter);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        QSqlQuery q(db.open() ? db : QSqlDatabase());
        for (const QString &s : QStringList{QStringLiteral("PRAGMA user_version = 1")} + statements)
            if (!q.exec(s))
                qFatal("%s: %s %s", qPrintable(path), qPrintable(s), qPrintable(q.lastError().text()));
    }
    QSqlDatabase::removeDatabase(name);
}

// The number of the DataError that f() throws, 0 when it throws none.
template <typename F>
int errorOf(F &&f)
{
    return thrownBy<Norvix::DataError>(std::forward<F>(f)).value_or(Norvix::DataError(0, {})).number();
}

// The back-end matrix crossed with named cases of one more column.
template <typename T>
void backends(const char *column, const QList<QPair<const char *, T>> &cases)
{
    QTest::addColumn<QString>("backend");
    QTest::addColumn<T>(column);
    for (const char *backend : {"sqlite", "postgresql"})
        for (const auto &[name, value] : cases)
            QTest::addRow("%s %s", backend, name) << QString::fromLatin1(backend) << value;
}

// Orders whose article is a lookup on a large table (2,001 rows) by its name, in two fields, and
// whose colour one on a small table: statements for any back end, and the descriptor.
inline const QStringList kLookupTables{
    QStringLiteral("CREATE TABLE ARTICOLI (CODICE VARCHAR(8) PRIMARY KEY, NOME VARCHAR(40))"),
    QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2001) "
                   "INSERT INTO ARTICOLI SELECT 'A' || i, 'Articolo ' || i FROM n"),
    QStringLiteral("CREATE TABLE COLORI (CODICE VARCHAR(2) PRIMARY KEY, NOME VARCHAR(20))"),
    QStringLiteral("INSERT INTO COLORI VALUES ('RO', 'Rosso')"),
    QStringLiteral("CREATE TABLE ORDINI (NUMERO INTEGER PRIMARY KEY, ART VARCHAR(8), ART2 VARCHAR(8), COLORE VARCHAR(2))")};
inline const char kLookupDsc[] = "RECORD,ORDINI,Ordini,1\nCAMPO,NUMERO,Numero,LONG,6\n"
                                 "CAMPO,ART,Articolo,TEXT,8,,,,,,ARTICOLI,NOME,CMBBOUNDED\n"
                                 "CAMPO,ART2,Ricambio,TEXT,8,,,,,,ARTICOLI,NOME,CMBBOUNDED\n"
                                 "CAMPO,COLORE,Colore,TEXT,2,,,,,,COLORI,NOME,CMBBOUNDED\n"
                                 "INDICE,PrimaryKey,+NUMERO,-1,-1\n";

class Backend
{
public:
    explicit Backend(const QString &backend, const QString &fileName = QStringLiteral("dati.db"))
        : sqlite(backend.startsWith(u"sqlite")), m_pg(sqlite ? nullptr : std::make_unique<PgDatabase>())
    {
        if (m_pg && !m_pg->isValid())
            qFatal("PostgreSQL test database: %s", qPrintable(m_pg->error()));
        if (sqlite)
            createSqlite(m_dir.filePath(fileName));
        connection = m_pg ? m_pg->url() : QStringLiteral("sqlite://") + m_dir.filePath(fileName);
        if (backend == u"odbc") // the same server through its ODBC driver (psqlODBC)
            connection = QStringLiteral("Driver={PostgreSQL Unicode};Server=%1;Port=%2;Database=%3;Uid=%4;Pwd=%5")
                             .arg(m_pg->host())
                             .arg(m_pg->port())
                             .arg(m_pg->name(), m_pg->user(), m_pg->password());
        if (backend == u"sqlite-journal")
            connection += QStringLiteral("?journal_mode=DELETE");
        conn = open();
    }
    ~Backend() { conn.reset(); } // closed before its database goes
    Backend(const Backend &) = delete;
    Backend &operator=(const Backend &) = delete;

    QString folder() const { return m_dir.path(); }
    // Writes the descriptor text of the folder.
    void dsc(const QString &text) const { writeFile(m_dir.filePath(QStringLiteral("files.dsc")), text.toUtf8()); }
    // The connection string with more options ("QSQLITE_BUSY_TIMEOUT=0"), and a connection of a
    // second user opened with it.
    QString withOptions(const QString &options) const
    {
        return options.isEmpty() ? connection : connection + (connection.contains(u'?') ? u'&' : u'?') + options;
    }
    std::shared_ptr<Norvix::Connection> open(const QString &options = {}) const
    {
        return Norvix::Connection::open(withOptions(options));
    }

    // Runs statements on `on` (by default conn), which then looks its tables up afresh.
    void exec(const QStringList &statements, const std::shared_ptr<Norvix::Connection> &on = nullptr)
    {
        const auto &c = on ? on : conn;
        c->call([&] {
            for (const QString &s : statements)
                runSql(c->database(), s);
        });
        c->forgetTables();
    }
    // Every row of a query, its ? bound to `values`.
    QList<QVariantList> rows(const QString &sql, const QVariantList &values = {})
    {
        return conn->call([&] { return rowsOf(conn->database(), sql, values); });
    }
    // The first value of the first row, null when there is none.
    QVariant scalar(const QString &sql, const QVariantList &values = {}) { return rows(sql, values).value(0).value(0); }

    const bool sqlite;
    QString connection;
    std::shared_ptr<Norvix::Connection> conn;

private:
    QTemporaryDir m_dir;
    std::unique_ptr<PgDatabase> m_pg;
};

} // namespace TestUtil
