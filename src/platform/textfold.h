#pragma once

// Letter case folded alike on every back end, for searches that ignore it: "PERCHÉ" finds
// "Perché". SQLite's own lower() and LIKE fold ASCII letters only, so SQLite connections get a
// function of their own; PostgreSQL folds with lower() in a Unicode collation when the server has
// one (a database made with the C locale folds ASCII only otherwise).

#include "platform/sqlnames.h"

#include <QString>

class QSqlDatabase;

namespace Norvix {

class Connection;

// Adds norvix_fold(text) to an open SQLite connection (nothing elsewhere).
void addFoldFunction(const QSqlDatabase &db);
// `expression` (SQL) as text with its letters folded, on `connection`'s back end.
QString foldedSql(Connection &connection, const QString &expression);
// A text folded as foldedSql folds it in the database.
QString folded(const QString &text);
// `expression` LIKE a pattern of foldedPattern(), letter case ignored (one value to bind).
QString foldedLike(Connection &connection, const QString &expression);
// `text` as that pattern: found at the start, or anywhere with `contains`; `*` stands for any
// text with `wildcards`; every other character (%, _ included) for itself.
QString foldedPattern(const QString &text, bool contains, bool wildcards);

} // namespace Norvix
