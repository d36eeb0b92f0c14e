#pragma once

// Carrying the tables of a legacy Jet database (.mdb, Jet 3 and Jet 4) over to SQLite: every
// row, values as the source holds them, column types that keep their meaning, primary keys and
// indexes. All tables go in one transaction: a damaged source leaves the target as it was.

#include "descriptor/errors.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace Norvix {

// A migration that would overwrite what the target holds, or names a table the source lacks:
// nothing was written.
class NORVIX_EXPORT MigrationRefused : public Error
{
public:
    using Error::Error;
};

struct MigrateOptions
{
    QString source;     // the .mdb file
    QString password;   // its database password, if it has one
    QString target;     // the SQLite file (made when missing)
    QStringList tables; // the tables to carry over; empty: all of them
    bool replace = false;     // tables the target has already are replaced
    bool descriptors = false; // a files.dsc for the tables is written beside the target
    std::function<void(const QString &)> progress = {}; // a line for the user, now and then
};

struct MigrateResult
{
    QStringList tables;
    qint64 rows = 0;
};

// Throws MigrationRefused, or Error (DescriptorError for the source, DataError for the target)
// when the source cannot be read or the target written; the target is then as it was.
MigrateResult migrateJet(const MigrateOptions &options);

} // namespace Norvix
