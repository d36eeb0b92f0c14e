#pragma once

// The items a lookup combo lists, "[code] description", read from the referenced table: all its
// rows or those of one filter value, and, as the user types, those whose code starts with a
// prefix. Plain data access, without widgets.

#include "platform/connection.h"
#include "platform/sqlnames.h"

#include <QStringList>
#include <QVariant>

#include <memory>
#include <optional>

namespace Norvix {

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

// At most `limit` items in the order of the index; with a prefix, those whose code starts with it
// (ASCII letters in either case unless `exactCase`). Throws DataError.
QStringList lookupItems(const LookupQuery &query, int limit, const QString &prefix = QString(), bool exactCase = false);

} // namespace Norvix
