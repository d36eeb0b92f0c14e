#pragma once

// `norvix live install` and `norvix live remove`: on PostgreSQL, the triggers that make every
// change of a table's rows, by any program, a notice on the channel "norvix" (heard by the
// editors' ChangeFeed, session/changefeed.h), as Norvix's own writes are. A trigger norvix_live on
// each table, AFTER INSERT OR UPDATE OR DELETE FOR EACH ROW, runs the function norvix_live_notify()
// with the table's primary key columns as arguments; the notice is {"table": NAME, "key": [the
// row's key values]} ({"table": NAME} alone when the table has no primary key, or when the notice
// would pass 7,900 bytes).

#include <QString>
#include <QStringList>

namespace Norvix {

class Connection;

// Makes (again) the function and the trigger of each table; returns the tables as the database
// spells them. Throws DataError naming a table that is not there: then nothing is changed (all is
// one transaction). For PostgreSQL connections only.
QStringList installLiveTriggers(Connection &connection, const QStringList &tables);
// Drops the trigger of each table, and the function once no trigger runs it.
QStringList removeLiveTriggers(Connection &connection, const QStringList &tables);

} // namespace Norvix
