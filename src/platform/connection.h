#pragma once

// Connections to the edited data, each opened from a ConnectionParams (connectionparams.h: the
// forms of a connection string). A missing SQLite file is an error, never a new empty database.
// Passwords never appear in messages.

#include "platform/connectionparams.h"
#include "platform/dataerror.h"

#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

struct sqlite3;

namespace Norvix {

struct TableInfo;
class ServerThread;

enum class SqlDialect { Sqlite, PostgreSql, Other };

// True when a statement failed because an SQLite database stayed locked by another connection
// past the busy timeout (SQLITE_BUSY, SQLITE_LOCKED and their extended codes): it may succeed if
// tried again. SQLite's own waiting is not first come, first served, so under many writers one of
// them can be passed over for longer than the timeout.
bool isBusy(SqlDialect dialect, const QSqlError &error);

// Executes a prepared query, trying it again while isBusy() for as long as a LockWait lets it
// (see waiting.h). Returns what the last QSqlQuery::exec() returned.
bool execPatiently(QSqlQuery &query);
// The same for a statement given as text, prepared anew on each try: SQLite may find the file
// locked already while preparing it.
bool execTextPatiently(QSqlQuery &query, const QString &sql);

enum class Access { ReadWrite, ReadOnly };

// The bounds of a PostgreSQL session, unless its connection string sets them: connect in 15 s;
// keepalives after 30 s idle, every 10 s, dead after 3 lost; unacknowledged data dropped after 30 s.
inline constexpr std::pair<const char *, int> kPostgresBounds[] = {
    {"connect_timeout", 15}, {"keepalives", 1},          {"keepalives_idle", 30},
    {"keepalives_interval", 10}, {"keepalives_count", 3}, {"tcp_user_timeout", 30000}};

class Connection
{
public:
    // Opens a connection from its description: every connection is opened here. Throws
    // DataError on failure. An SQLite file is first opened for reading and checked to be a
    // database, so that a failed open changes nothing (no journal mode, no file created beside
    // it, an empty file left empty). With Access::ReadWrite it is then made writable
    // (enableWriting()): WAL (or the journal_mode option), synchronous=FULL. With
    // Access::ReadOnly it stays a reader: a PostgreSQL session is read-only, an SQLite file is
    // read through a read-only connection and no byte of it changes.
    static std::shared_ptr<Connection> open(const ConnectionParams &params, Access access = Access::ReadWrite);
    // Reads a connection string (ConnectionParams::parse) and opens what it says: for callers
    // that hold only the text. Another connection to the same database is opened from params().
    static std::shared_ptr<Connection> open(const QString &connectionString, const QString &dataFolder = QString(),
                                            const QString &databaseName = QString(), Access access = Access::ReadWrite)
    {
        return open(ConnectionParams::parse(connectionString, dataFolder, databaseName), access);
    }
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // Runs `work` where the connection lives and returns what it returns (or throws what it
    // throws): every use of database() happens inside. An SQLite connection runs it right here.
    // A server connection runs it on a thread of its own while the caller waits without
    // freezing (waitForServer in waiting.h); after half a second a window with Annulla shows.
    // Annulla asks the server to cancel the statement, then cuts the connection if it does not:
    // work so interrupted throws DataError::Cancelled (a save that lost its connection stays
    // DataError::ConnectionLost, its outcome unknown). Calls from inside work run at once.
    template <class Work>
    auto call(Work &&work) const -> decltype(work());
    // True when call() hands work to a thread of its own and waits for it (a server connection).
    bool waitsOnServer() const { return m_worker != nullptr; }
    // True inside work that the user asked to interrupt: nothing is to be tried again.
    bool interrupted() const;
    // Asks a server to cancel the statement this connection runs now, from any thread (its
    // work then fails as a cancelled statement does); an SQLite statement is interrupted
    // (sqlite3_interrupt). The connection must stay open meanwhile.
    void cancelRunning() const;

    // The connection string it was opened from (params().text).
    QString ConnectionString() const { return m_params.text; }
    const ConnectionParams &params() const { return m_params; }
    SqlDialect dialect() const { return m_dialect; }
    // The database, for use inside call() only.
    QSqlDatabase database() const;
    bool isOpen() const;
    void Close();

    // True while the connection only reads: opened so, or the database cannot be written by
    // this user (a read-only SQLite file or folder, a standby server).
    bool isReadOnly() const { return m_readOnly; }
    // Makes a reading connection one that writes. False, and it stays a reader, when this user
    // cannot write the database (or the connection string asked for reading only); throws
    // DataError when reopening fails otherwise.
    bool enableWriting();
    // Before a write: throws DataError(FileGone), naming the path, when the SQLite file at the
    // path is no longer the file this connection has open (deleted, or another put in its
    // place), since whatever is written then is lost with the old file. Other databases pass.
    void requireSameFile() const;
    // True when `error` says that the connection to a server was lost (the server went away,
    // restarted or ended the session): a read may be run again after reconnect(); a write's
    // outcome is unknown.
    bool isLost(const QSqlError &error) const;
    // Opens the session with the server again, as it was (reading only or writing). Throws
    // DataError when the server still cannot be reached. Nothing to do for SQLite.
    void reconnect();
    // Inside call(), first in a write's transaction: on PostgreSQL records the server process and
    // the transaction's id (one statement on `q`), so that a COMMIT cut off can be settled. False,
    // with q's error, when the statement failed; nothing to do elsewhere.
    bool markWrite(QSqlQuery &q);
    // What became of a write whose COMMIT was cut off (DataError::ConnectionLost).
    enum class WriteFate { Saved, NotSaved, Unknown, Untracked };
    // Makes that outcome final, then tells it: from a new session the old server process is ended
    // (a COMMIT it has not read yet is never read) and the transaction's fate asked until it is no
    // longer in progress, for at most kSettleMs. Unknown when the server cannot be reached or the
    // process does not end in time; Untracked when no transaction was recorded (not PostgreSQL).
    WriteFate settleLostWrite();
    static constexpr int kSettleMs = 5000;
    // Prepares `sql` into `q` (forward only, exact numbers), binds `values` and runs it, waiting
    // out locks (execPatiently); a read whose connection to the server was lost runs once more
    // after reconnect(), which throws DataError when the server stays away. False with q's error.
    bool execRead(QSqlQuery &q, const QString &sql, const QVariantList &values);

    // The server process of the session open now (PostgreSQL's backend process id, from any
    // thread); 0 before it opens and on other databases.
    qint64 serverProcess() const { return m_serverProcess.load(); }

    // True inside the work of writeTogether() (rowwriter.h): a row written joins its transaction.
    bool writesTogether() const { return m_together; }
    void setWritesTogether(bool on) const { m_together = on; }

    // Tables already looked up on this connection (see tableInfo()); forgotten on Close() and
    // by forgetTables(), for callers that change the schema.
    std::shared_ptr<const TableInfo> cachedTable(const QString &name) const { return m_tables.value(name); }
    void cacheTable(const QString &name, std::shared_ptr<const TableInfo> info) const { m_tables.insert(name, std::move(info)); }
    void forgetTables() const { m_tables.clear(); }

private:
    Connection();
    void run(const std::function<void()> &work) const;
    void openSqlite(bool write);
    void openServer();
    void openSession();
    void closeSession();
    void reopenSession();
    bool sessionClosed() const;
    void runSetting(const QString &statement);
    bool enableWritingHere();

    QString m_name;
    bool m_readOnly = true;
    bool m_walMode = false;     // an SQLite file in WAL mode
    bool m_hadWalFiles = false; // its -wal or -shm file was there before this connection
    std::optional<std::pair<quint64, quint64>> m_file; // device and inode of the SQLite file opened
    ConnectionParams m_params;
    SqlDialect m_dialect = SqlDialect::Other;
    mutable QHash<QString, std::shared_ptr<const TableInfo>> m_tables;
    mutable bool m_together = false;
    std::atomic<qint64> m_serverProcess{0};
    std::shared_ptr<ServerThread> m_worker; // the thread of a server connection (kept by a waiting caller too)
    ::sqlite3 *m_sqlite = nullptr; // the handle of an SQLite connection
    struct WriteMark
    {
        qint64 pid = 0;  // the server process of the session
        qint64 txid = 0; // txid_current() of the write's transaction
    };
    std::optional<WriteMark> m_write; // the last write's, until settled (used inside call() only)
    WriteFate fateOf(const WriteMark &mark);
};

template <class Work>
auto Connection::call(Work &&work) const -> decltype(work())
{
    using Result = decltype(work());
    if constexpr (std::is_void_v<Result>) {
        run([&] { work(); });
    } else {
        std::optional<Result> result;
        run([&] { result.emplace(work()); });
        return std::move(*result);
    }
}

} // namespace Norvix
