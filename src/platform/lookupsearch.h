#pragma once

// Finding the rows of a lookup by what the user knows: a code that starts with the text typed, or
// a description that holds every word of it, letter case folded as the search panel folds it.
// And the index that keeps a description search fast on a large table. Plain data access.
//
// The rules, the same with the index and without it:
//  - A code matches when it starts with the text (an integer code only when the text is digits:
//    letters never scan the codes as text).
//  - A description matches when it starts with the text, or when it contains every word of the
//    text in any order ("wall balls" finds "Balls to the Wall"). Containing needs a word of three
//    characters or more: one or two letters find descriptions that start with them, as a trigram
//    index cannot find shorter pieces anywhere in a text, and a scan for them would list nearly
//    every row anyway.
//  - The rows come best first: the code typed exactly, codes that start with the text (in the
//    key's order), descriptions that start with it, then descriptions that contain it (each group
//    by description, then code).

#include "platform/lookupquery.h"

namespace Norvix {

struct LookupMatches
{
    QList<LookupRow> rows; // best first
    bool more = false;     // more rows match than the limit let through
};

// At most `limit` rows that `text` finds in `query`'s table (only those of its filter value, when
// it has one). Throws DataError (DataError::Cancelled, or a generic one, when interrupted).
LookupMatches searchLookup(const LookupQuery &query, const QString &text, int limit);

// True when `text`, folded, is the whole description of `row`.
bool isWholeDescription(const LookupRow &row, const QString &text);

// The index that serves the description search of a lookup's table. On SQLite: a table of the
// descriptions by key (with an index on them, for those that start with a text), an FTS5 trigram
// index over it (for those that contain one), and triggers on the lookup's table that keep both in
// step with every write, by any program. On PostgreSQL: a pg_trgm GIN index on the folded
// description. Elsewhere none.
struct LookupIndex
{
    QString name;           // of the index (and the first part of the name of its other objects)
    QString table;          // of the lookup
    QStringList statements; // that make it, in one transaction (an out-of-date one dropped first)
    bool possible = false;  // this database can have it
    bool present = false;   // it is there, for these description columns
    QString missing;        // when not possible: why
};

// The index for `query`'s table, key and description columns. Throws DataError.
LookupIndex lookupIndex(Connection &connection, const LookupQuery &query);
// Makes it on a writing connection. Throws DataError.
void createLookupIndex(Connection &connection, const LookupIndex &index);

} // namespace Norvix
