#pragma once

// The descriptor database: the lines of the descriptor text, one per row of the table Dsc
// (text column Line), in row order.
//
// Two file formats are read:
//  - SQLite (written by `norvix dsc import`). With a password, every stored line is sealed with
//    XChaCha20-Poly1305 under a key derived by Argon2id from the password and a random salt kept
//    in the table DscCrypt; each line is bound to its position, and a sealed check value holds
//    the number of lines, so a wrong password, a changed, moved or removed line all fail the
//    load with a clear message instead of yielding garbage.
//  - Legacy Jet files, read only, with the database password stored in the file checked.
// A row whose Line is NULL reads as an empty line (which the reader ignores).

#include "descriptor/descriptor.h"

#include <QString>
#include <QStringList>

namespace Norvix {

enum class DscDbFormat { Sqlite, Jet, Unknown };

// Tells the format of a file from its first bytes (Unknown when it cannot be read).
DscDbFormat dscDatabaseFormat(const QString &file);

// The lines of a descriptor database, in order. Throws DescriptorError when the file cannot be
// read, holds no table Dsc with a column Line, is protected and `password` is empty or wrong, or
// has been tampered with. The password never appears in a message.
QStringList readDscDatabase(const QString &file, const QString &password);

// Writes `lines` into an SQLite descriptor database, creating the file when needed and replacing
// any lines it held, in one transaction; sealed when `password` is not empty.
void writeDscDatabase(const QString &file, const QStringList &lines, const QString &password);

// The password of descriptor databases, one for the whole process (the control's DscPassword).
QString dscPassword();
void setDscPassword(const QString &password);

// Fills `rec` from `path` + "dsc.mdb" with the process-wide descriptor password.
void LeggiDscDb(const QString &path, const QString &recordName, Rec &rec);

} // namespace Norvix
