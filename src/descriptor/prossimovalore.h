#pragma once

#include "platform/recordset.h"

#include <QString>

namespace Norvix {

// The next free value of a counter column: the greatest value of `Colonna` among the rows of
// `Sorgente`, plus one (1 when there is none), as text with "." as decimal point and a leading
// blank for non-negative numbers (" 42"). Opens and closes its own connection from
// `Connessione` (see Connection::open for its forms; `dataFolder` and `databaseName` serve the
// empty string). The column and table are checked against the database and quoted; values of
// the source's conditions are bound. Errors (DataError) pass to the caller.
QString ProssimoValore(const QString &Colonna, const RecordSource &Sorgente, const QString &Connessione,
                       const QString &dataFolder = QString(), const QString &databaseName = QString());
// The same, on a connection already open.
QString ProssimoValore(const QString &Colonna, const RecordSource &Sorgente, const Connection &connection);

} // namespace Norvix
