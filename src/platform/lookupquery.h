#pragma once

// The items a lookup combo lists, "[code] description", read from the referenced table: all its
// rows or those of one filter value, and, as the user types, those whose code starts with a
// prefix. Plain data access, without widgets.

#include "platform/connection.h"
#include "platform/sqlnames.h"

#include <QStringList>

class QSqlQuery;
#include <QVariant>

#include <memory>
#include <optional>

namespace Norvix {

// A lookup over more rows than this is not listed whole: its combo lists the rows that the
// text typed finds, so neither the start-up nor the memory grows with it.
constexpr int kLargeLookupRows = 2000;

struct LookupQuery
{
    std::shared_ptr<Connection> connection;
    std::shared_ptr<const TableInfo> table;
    // The referenced table's first index: with two columns or more, the first filters and the
    // second is the code; with one, it is the code.
    QStringList index;
    // Shown after the code, their values joined by a blank ("FirstName;LastName" in a descriptor);
    // none, or a name the table lacks: nothing.
    QStringList descColumns;
    std::optional<QVariant> filter;  // the value the filter column must equal

    QString filterColumn() const { return index.size() >= 2 ? index.at(0) : QString(); }
    QString codeColumn() const { return index.size() >= 2 ? index.at(1) : index.value(0); }
};

// One row of a lookup: its code, its description (the description columns' values joined by a
// blank) and the item that lists it, "[code] description".
struct LookupRow
{
    QString code;
    QString description;
    QString item;
};

// At most `limit` rows in the order of the index; with a prefix, those whose code starts with it
// (ASCII letters in either case unless `exactCase`). Throws DataError.
QList<LookupRow> lookupRows(const LookupQuery &query, int limit, const QString &prefix = QString(), bool exactCase = false);
// Their items.
QStringList lookupItems(const LookupQuery &query, int limit, const QString &prefix = QString(), bool exactCase = false);

// The columns a row is read from, the code first (`alias`: of the table in the statement), and
// the row read so by `q`.
QString lookupColumns(const LookupQuery &query, const QString &alias);
LookupRow lookupRowOf(const QSqlQuery &q);
// The ranges [low, high) of texts that start with `prefix` in any letter case, as the index of a
// text column holds them: one per way of writing its first four letters (ASCII letters only with
// `asciiOnly`); `lead` gets the part of the prefix that the ranges cover. None when the prefix
// holds only the highest code points.
QList<std::pair<QVariant, QVariant>> caseRanges(const QString &prefix, QString *lead, bool asciiOnly);

} // namespace Norvix
