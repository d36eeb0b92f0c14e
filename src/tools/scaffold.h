#pragma once

// A first descriptor made from the database itself: one record per table, one field per column
// with its kind, length and picture (AUTOINC for a key the database numbers), the primary key,
// foreign keys as lookups showing the referenced table's name (a composite one that extends
// another as a lookup filtered by its source), a search layout and pages when a table has many
// columns, and a detail (a grid on a page of its own) for each table among those scaffolded whose
// foreign key references a table's whole primary key. A developer edits it from there.

#include <QString>
#include <QStringList>

namespace Norvix {

class Connection;

// The lines of a files.dsc for `tables` (every user table when empty). DataError BadIdentifier
// naming a table the database lacks.
QStringList scaffoldDescriptors(const Connection &connection, const QStringList &tables = {});

// A caption made from a name: RAGIONE_SOCIALE gives "Ragione sociale", InvoiceLineId "Invoice line id".
QString captionOf(const QString &name);

} // namespace Norvix
