#pragma once

// The statements that write one row of a recordset's table. A new row is inserted; an existing
// row is updated or deleted by naming, besides its key, the values it had when it was read
// (PostgreSQL: the row version), and when no row matches someone else changed or deleted it
// (DataError::RowChanged). Each write runs in one transaction, run again while the file is locked
// and once more when the server ended the session. A refusal of the database becomes the
// DataError that tells what it means.

#include "platform/connection.h"
#include "platform/constraints.h"
#include "platform/sqlnames.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QSqlError>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>

namespace Norvix {

// How the rows of a table are ordered and told apart.
struct RowKeys
{
    QStringList columns; // order columns as the table spells them (empty: natural order)
    QString natural;     // "rowid" or "ctid" when columns is empty
    QString version;     // PostgreSQL row version, compared on update and delete

    // The order key as the statements name it: the quoted columns, or the natural key.
    QStringList expressions() const;
    bool byTid() const { return natural == u"ctid"; }
    // The conditions that name the row whose order key is `key`; its values are appended to `values`.
    QStringList match(const QVariantList &key, QVariantList &values) const;
};

// The row a recordset holds: as read, and the changes to write over it.
struct RowInHand
{
    QVariantList raw; // the columns, as read
    QVariantList key; // its order key
    QVariant version;
    QHash<int, QVariant> pending; // column index -> value to write
};

// Runs `work` in one transaction on `connection`: the rows RowWriters write inside it (a master
// row and its lines) join it and are committed together, or none is. A lock, or a server session
// that ended, rolls it back, calls `undo` and runs it again whole, as a single write is run again;
// any other failure rolls it back, calls `undo` and reaches the caller (a write's DataError, or
// what the work threw). `undo` puts back what the work changed in memory.
void writeTogether(Connection &connection, const std::function<void()> &work, const std::function<void()> &undo);

// A write inside writeTogether() that the database refused. The transaction is rolled back
// before the refusal is explained (a server answers no question inside a failed transaction):
// then `explain` throws what it means (a DataError, or what a caller wrapped around it).
struct JoinedFailure
{
    QSqlError error;
    std::function<void()> explain;
};

// Made for one statement over the state of a recordset, which outlives it.
class RowWriter
{
public:
    RowWriter(std::shared_ptr<Connection> connection, std::shared_ptr<const TableInfo> table, const RowKeys &keys,
              const RowInHand &row);

    // Each writes the row in hand and returns the key it has afterwards. A failure throws
    // DataError and changes nothing.
    QVariantList insert();
    QVariantList update();
    void remove();
    // Deletes every row of the table whose columns equal these values (any number of rows).
    void removeWhere(const QList<QPair<QString, QVariant>> &equals);

    // Throws the DataError of a failed statement; `statement` is the write of the row in hand
    // that failed, if any.
    [[noreturn]] void fail(const QSqlError &error, std::optional<RowStatement> statement = std::nullopt) const;

private:
    QString rowMatch(QVariantList &values) const;
    // Writes with `sql` exactly one row, whose key is `key` afterwards.
    void runOnOneRow(const QString &sql, const QVariantList &values, RowStatement statement, const QVariantList &key);
    // On PostgreSQL, inside the write's transaction after its statement: tells those listening
    // on the channel "norvix" (changefeed.h) that a row of the table changed, with {"table": NAME,
    // "key": [its key's values after the write]} ({"table": NAME} alone without a key, or when the
    // notice would pass kNoticeBytes). False, with q's error, when the statement failed.
    bool notify(QSqlQuery &q, const std::optional<QVariantList> &key) const;
    static constexpr int kNoticeBytes = 7900;
    // Runs `write` (false: it failed, with the query's error) in one transaction that the
    // connection marks (Connection::markWrite) and commits, or in writeTogether()'s.
    void writeInTransaction(RowStatement statement, const std::function<bool(QSqlQuery &)> &write);
    void joined(RowStatement statement, const std::function<bool(QSqlQuery &)> &write);
    // Whether a unique index on exactly `columns` (lower case, any order) is the record's key.
    bool isKey(QStringList columns) const;
    // For a refusal by a unique index, whether that index is the record's key; none for others.
    std::optional<bool> uniqueOnKey(const QSqlError &error) const;

    std::shared_ptr<Connection> m_connection;
    std::shared_ptr<const TableInfo> m_table;
    const RowKeys &m_keys;
    const RowInHand &m_row;
};

} // namespace Norvix
