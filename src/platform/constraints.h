#pragma once

// What a database's refusal of a row says: which constraint (NOT NULL, CHECK, FOREIGN KEY, other)
// and which columns, read from the native error codes of SQLite and PostgreSQL and, where the
// message leaves it out, from the schema and the row itself.

#include "platform/dataerror.h"
#include "platform/sqlnames.h"

#include <QHash>
#include <QSqlError>
#include <QVariant>

#include <optional>

namespace Norvix {

enum class RowStatement { Insert, Update, Delete };

// The refusal (DataError::NotNullViolation, CheckViolation, ForeignKeyViolation or
// ConstraintViolation) that `error` stands for, when a constraint raised it; no value otherwise
// (unique constraints are told apart by the caller). `row` holds the values of the row being
// written, by column position (nothing for a delete).
// The passing hindrance (DataError::Busy, TableLocked, TimedOut, DiskFull) that a failed
// statement's `error` stands for: a lock, the server's time limit, a full disk. No value for any
// other error.
std::optional<int> hindranceOf(SqlDialect dialect, const QSqlError &error);

std::optional<DataError> constraintRefusal(const Connection &connection, const TableInfo &table, const QSqlError &error,
                                           RowStatement statement, const QHash<int, QVariant> &row);

} // namespace Norvix
