#pragma once

// Values as a column takes them. A control's text is read once, where it is typed, into a typed
// value (typedValue); a statement binds a typed value as it is (boundValue). bindableValue does
// both for a text that arrives unread.
//
// Typed values by column kind: Integer qint64 (halves rounded to even), Decimal a Decimal (the
// digits as written, trailing zeros kept), Double double, Boolean bool, Date QDate (QDateTime
// when a time is given with it), DateTime QDateTime, Time QTime, Blob QByteArray, Text and
// other kinds the text itself. An empty text is null.

#include "platform/connection.h"

#include <QMetaType>
#include <QString>
#include <QVariant>

namespace Norvix {

struct ColumnInfo;

// A decimal number kept exactly: digits with "." as the decimal mark ("-1234.50").
struct Decimal
{
    QString digits;
    friend bool operator==(const Decimal &a, const Decimal &b) { return a.digits == b.digits; }
    friend bool operator!=(const Decimal &a, const Decimal &b) { return !(a == b); }
};

// `value` as `column` takes it: a text read under the regional settings (decimal comma,
// day/month/year dates); any other value as it is. DataError ConversionFailed when the text is
// no such value.
QVariant typedValue(const ColumnInfo &column, const QVariant &value);
// The same for `column` of `table`; DataError BadIdentifier when the table has no such column.
QVariant typedValue(const TableInfo &table, const QString &column, const QVariant &value);

// A typed value as a statement binds it for `column` (dates as ISO text, Booleans as 0/1 in
// SQLite, a Decimal as its digits or, for a whole-number column, rounded).
QVariant boundValue(SqlDialect dialect, const ColumnInfo &column, const QVariant &value);

// typedValue, then boundValue.
QVariant bindableValue(SqlDialect dialect, const ColumnInfo &column, const QVariant &value);

} // namespace Norvix

Q_DECLARE_METATYPE(Norvix::Decimal)
