#pragma once

// What a database says of its tables beyond their columns: the tables there are, the column sets
// that unique indexes keep unique, the foreign keys, and the size a declared type gives.

#include "platform/sqlnames.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace Norvix {

class Connection;

struct ForeignKey
{
    QStringList columns;    // of the table that refers
    QString table;          // the table referred to
    QStringList references; // its columns, in the same order
};

// The user tables of the database (no views, no system tables or catalogs), as it spells them, sorted.
QStringList tableNames(const Connection &connection);
// The column sets kept unique: the primary key first, then every unique index on columns.
QList<QStringList> uniqueKeys(const Connection &connection, const TableInfo &table);
// Whether two rows of a table hold the same value in a column (NULLs apart). False where the
// database cannot be asked.
bool holdsRepeats(const Connection &connection, const TableInfo &table, const QString &column);
// The foreign keys of a table.
QList<ForeignKey> foreignKeys(const Connection &connection, const TableInfo &table);
// The length of a text column (varchar(40): 40), or the precision and scale of a decimal
// (numeric(14,4): 14 and 4), from its declared type; none when the type gives none.
std::optional<int> declaredLength(const ColumnInfo &column);
std::optional<std::pair<int, int>> declaredPrecision(const ColumnInfo &column);

} // namespace Norvix
