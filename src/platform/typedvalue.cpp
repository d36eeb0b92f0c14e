#include "platform/typedvalue.h"

#include "platform/language.h"
#include "platform/schema.h"
#include "platform/values.h"

#include <QDateTime>

#include <cmath>

namespace Norvix {

namespace {

QString isoText(const QVariant &v, ColumnKind kind)
{
    switch (kind) {
    case ColumnKind::Date: return v.toDate().toString(Qt::ISODate);
    case ColumnKind::Time: return v.toTime().toString(QStringLiteral("HH:mm:ss"));
    default: {
        const QDateTime dt = v.toDateTime();
        return dt.time() == QTime(0, 0) && kind != ColumnKind::DateTime ? dt.date().toString(Qt::ISODate)
                                                                        : dt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    }
    }
}

[[noreturn]] void refuse(const ColumnInfo &column, const QVariant &value)
{
    throw DataError(DataError::ConversionFailed, nxTr("Il valore \"%1\" non è valido per la colonna %2")
                                                     .arg(shownInMessage(value.toString()), column.name));
}

// Decimal digits as a whole number, halves to even as the values module rounds.
std::optional<qint64> wholeNumber(const QString &digits)
{
    bool ok = false;
    const qint64 exact = digits.toLongLong(&ok);
    if (ok)
        return exact;
    const double x = std::nearbyint(digits.toDouble(&ok));
    if (!ok || !std::isfinite(x) || std::fabs(x) > 9.2e18)
        return std::nullopt;
    return qint64(x);
}

QVariant typedText(const ColumnInfo &column, const QString &text)
{
    const auto refuseText = [&]() -> QVariant { refuse(column, text); };
    switch (column.kind) {
    case ColumnKind::Integer: {
        const auto d = Values::toDecimalText(text);
        const auto whole = d ? wholeNumber(*d) : std::nullopt;
        return whole ? QVariant(*whole) : refuseText();
    }
    case ColumnKind::Decimal: {
        const auto d = Values::toDecimalText(text);
        return d ? QVariant::fromValue(Decimal{*d}) : refuseText();
    }
    case ColumnKind::Double: {
        const auto d = Values::toDouble(text);
        return d ? QVariant(*d) : refuseText();
    }
    case ColumnKind::Boolean: {
        const auto b = Values::toBoolean(text);
        return b ? QVariant(*b) : refuseText();
    }
    case ColumnKind::Date:
    case ColumnKind::DateTime:
    case ColumnKind::Time: {
        const auto dt = Values::toDate(text);
        if (!dt)
            return refuseText();
        if (column.kind == ColumnKind::Time)
            return QVariant(dt->time());
        if (column.kind == ColumnKind::Date && dt->time() == QTime(0, 0))
            return QVariant(dt->date());
        return QVariant(QDateTime(dt->date(), dt->time()));
    }
    case ColumnKind::Blob: return QVariant(text.toUtf8());
    case ColumnKind::Text:
    case ColumnKind::Other: break;
    }
    return text;
}

} // namespace

QVariant typedValue(const TableInfo &table, const QString &column, const QVariant &value)
{
    const int i = table.indexOf(column);
    if (i < 0)
        throw DataError(DataError::BadIdentifier, nxTr("Colonna %1 non presente").arg(shownInMessage(column)));
    return typedValue(table.columns[i], value);
}

QVariant typedValue(const ColumnInfo &column, const QVariant &value)
{
    if (value.isNull())
        return QVariant();
    if (value.typeId() != QMetaType::QString)
        return value;
    const QString text = value.toString();
    return text.isEmpty() ? QVariant() : typedText(column, text);
}

QVariant boundValue(SqlDialect dialect, const ColumnInfo &column, const QVariant &value)
{
    if (value.isNull())
        return QVariant();
    const bool sqlite = dialect == SqlDialect::Sqlite;
    if (value.metaType() == QMetaType::fromType<Decimal>()) {
        const QString digits = value.value<Decimal>().digits;
        switch (column.kind) {
        case ColumnKind::Integer:
            if (const auto whole = wholeNumber(digits))
                return QVariant(*whole);
            refuse(column, digits);
        case ColumnKind::Double: return QVariant(digits.toDouble());
        default: return QVariant(digits);
        }
    }
    switch (column.kind) {
    case ColumnKind::Boolean:
        return sqlite ? QVariant(qint64(value.toBool() ? 1 : 0)) : QVariant(value.toBool());
    case ColumnKind::Date:
    case ColumnKind::DateTime:
    case ColumnKind::Time:
        if (value.typeId() == QMetaType::QDate || value.typeId() == QMetaType::QTime)
            return isoText(value, column.kind);
        if (value.typeId() == QMetaType::QDateTime) {
            // A DATE column of SQLite takes the time given with the date (a date and time typed,
            // or a stored time the field's picture hides), as it is given it elsewhere.
            const bool withTime = sqlite && column.kind == ColumnKind::Date && value.toDateTime().time() != QTime(0, 0);
            return isoText(value, withTime ? ColumnKind::DateTime : column.kind);
        }
        return value;
    case ColumnKind::Text:
        if (value.typeId() == QMetaType::Bool)
            return QVariant(value.toBool() ? QStringLiteral("True") : QStringLiteral("False"));
        return value;
    default:
        if (value.typeId() == QMetaType::Bool)
            return QVariant(qint64(value.toBool() ? 1 : 0));
        return value;
    }
}

QVariant bindableValue(SqlDialect dialect, const ColumnInfo &column, const QVariant &value)
{
    return boundValue(dialect, column, typedValue(column, value));
}

} // namespace Norvix
