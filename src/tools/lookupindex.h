#pragma once

// Which lookups of the descriptors want the index of their description search, and the index
// each has or lacks (see platform/lookupsearch.h): `dsc lint` hints the ones missing, `dsc index`
// makes them. The index is never made without being asked for.

#include "platform/lookupsearch.h"

namespace Norvix {

class Rec;


struct LookupSearch
{
    QString record;          // whose field looks up
    QString field;           // the first field of the record with this table and description
    QStringList descColumns; // as the table spells them
    bool large = false;      // more than kLargeLookupRows rows
    LookupIndex index;
};

// The lookups of `rec` into `connection`'s database with a description to search, one per
// referenced table and description columns, the large ones only unless `all`. A lookup in another
// file or on a table or column the database lacks is left out (lint tells those). Reads only.
// Throws DataError.
QList<LookupSearch> lookupSearches(Connection &connection, Rec &rec, bool all = false);

// The same for the records of descriptor `lines` (all, or those named in `records`), one per
// index; `source` names the descriptors in loader messages, `missing` gets the records named that
// the lines lack. Throws Error when a record does not load.
QList<LookupSearch> lookupSearches(Connection &connection, const QStringList &lines, const QString &source,
                                   const QStringList &records, bool all, QStringList *missing);

// Why the database cannot have the index, for the user.
QString whyNoIndex(const LookupIndex &index);

} // namespace Norvix
