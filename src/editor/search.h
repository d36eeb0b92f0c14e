#pragma once

// Searches over a record's table, from the search layouts of its descriptor ("RICERCA" lines):
// each layout has a caption, the inputs a user fills (a field and a search type each) and the
// fields its results show. The condition of a search is SQL over the table's columns with every
// typed value bound; a search never writes.

#include "descriptor/descriptor.h"
#include "editor/recordlist.h"

namespace Norvix {

class Connection;
struct TableInfo;

struct SearchField
{
    QString field;   // as the descriptor names it
    QString caption; // the field's caption
    QString type;    // LIKE, =, >=, <=, INIZIA
    QString control; // its control kind: a lookup kind gets a combo
    CampoPtr campo;  // may be null (a field the record does not declare)
    bool isLookup() const;
};

struct SearchLayout
{
    QString key;     // the layout's number, as text
    QString caption;
    QList<SearchField> inputs;
    QList<ListFilter::Column> shown;
};

// The layouts of `rec` in the order of their numbers. A record with none gets one, which
// searches and shows its key fields and `descField` (LIKE on a text, = on anything else).
QList<SearchLayout> searchLayouts(Rec &rec, const QString &descField);
// The layout to start with: the record's standard search where it names one, else the first.
int standardSearch(const QList<SearchLayout> &layouts, Rec &rec);
// The caption of an input: the field's caption and what the search does ("Fido ≥").
QString inputCaption(const SearchField &input);
// The code a lookup input holds: "[MI] Milano" holds MI; a bare text is the code itself.
QString typedCode(const QString &text);

// The rows of a search with `typed` in its inputs (an empty input adds no condition), shown in
// the layout's columns. DataError ConversionFailed, naming the field, when a typed value is no
// value of its column.
ListFilter searchFilter(Connection &connection, const TableInfo &table, const SearchLayout &layout,
                        const QStringList &typed);

} // namespace Norvix
