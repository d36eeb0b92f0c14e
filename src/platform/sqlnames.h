#pragma once

// Table and column names in SQL. Names come from descriptors, never from user input, but they
// are still checked against the database's real tables and columns and always quoted, so that a
// name can never carry a statement of its own.

#include "platform/connection.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>

namespace Norvix {

// Wraps `name` in double quotes, doubling any double quote inside. A name that is empty or holds a
// NUL character is refused with DataError::BadIdentifier.
QString quoteIdentifier(const QString &name);
// `text` as an SQL string literal: in single quotes, any single quote inside doubled (for
// statements that take no bound values, such as DDL).
QString quoteLiteral(const QString &text);

// A name or a value as a message shows it: control characters (NUL included) as their visible
// symbols, and a text longer than 80 characters cut there, with "...".
QString shownInMessage(const QString &text);

// What a column holds, as far as converting values is concerned.
enum class ColumnKind { Text, Integer, Decimal, Double, Boolean, Date, DateTime, Time, Blob, Other };

struct ColumnInfo
{
    QString name;         // as the database spells it
    ColumnKind kind = ColumnKind::Other;
    QString declaredType; // as declared (SQLite) or the driver's type name
    // PostgreSQL: its texts sort byte by byte (the C or POSIX collation), so that the codes that
    // start with a prefix are a range of its index.
    bool bytewise = false;
    // The database numbers a new row that leaves it out: SQLite's INTEGER PRIMARY KEY (the
    // rowid), PostgreSQL's serial and identity columns, a driver's auto-increment column.
    bool assigned = false;
};

struct TableInfo
{
    QString name;              // as the database spells it
    QVector<ColumnInfo> columns;
    QStringList primaryKey;    // the database's own primary key, if any
    QStringList firstIndex;    // the primary key, or else the columns of the table's first index
    // Position of a column, letter case ignored; -1 when the table has none of that name.
    int indexOf(const QString &column) const;
    // Position of a column, letter case ignored; throws DataError::BadIdentifier naming it.
    int requiredIndex(const QString &column) const;
    // The column of that name, letter case ignored; throws DataError::BadIdentifier naming it.
    const ColumnInfo &column(const QString &name) const;
};

// The table a descriptor names (letter case ignored) with its columns; throws
// DataError::BadIdentifier naming the table when the database has no such table. Results are
// kept by the connection until it closes (Connection::forgetTables() drops them earlier).
std::shared_ptr<const TableInfo> tableInfo(const Connection &connection, const QString &table);

// The kind of an SQLite column from its declared type.
ColumnKind sqliteColumnKind(const QString &declaredType);

} // namespace Norvix
