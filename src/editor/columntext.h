#pragma once

// A column value as the editor shows it, in the record list and in a field.

#include "platform/sqlnames.h"

#include <QString>
#include <QVariant>

namespace Norvix {

// A column value as the editor shows it: regional numbers and dates, exact decimals, True/False.
// `kind` tells what a value read as plain text or a number stands for (decimals on PostgreSQL,
// dates and Booleans on SQLite).
QString columnValueText(const QVariant &value, ColumnKind kind);
// The same in a field's display picture (a blank one: as it is).
QString columnValueText(const QVariant &value, ColumnKind kind, const QString &picture);

} // namespace Norvix
