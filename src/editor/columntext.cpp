#include "editor/columntext.h"

#include "platform/typedvalue.h"
#include "platform/values.h"

#include <QRegularExpression>

namespace Norvix {

namespace {

// A decimal as the server writes it ("1234.5600") in the regional form ("1234,56"): exact, no
// binary rounding, trailing zeros dropped. Text that is not such a number stays as it is.
QString decimalText(const QString &plain)
{
    static const QRegularExpression number(QStringLiteral("^([+-]?)([0-9]*)(?:\\.([0-9]*))?$"));
    const auto m = number.match(plain.trimmed());
    if (!m.hasMatch() || (m.capturedLength(2) == 0 && m.capturedLength(3) == 0))
        return plain;
    QString whole = m.captured(2);
    while (whole.size() > 1 && whole.front() == u'0')
        whole.remove(0, 1);
    if (whole.isEmpty())
        whole = QStringLiteral("0");
    QString fraction = m.captured(3);
    while (fraction.endsWith(u'0'))
        fraction.chop(1);
    const bool zero = whole == u"0" && fraction.isEmpty();
    QString text = (m.captured(1) == u"-" && !zero) ? QStringLiteral("-") : QString();
    text += whole;
    if (!fraction.isEmpty())
        text += Values::locale().decimalSeparator + fraction;
    return text;
}

// A date, time or timestamp kept as text (SQLite), in the regional form; empty when it is none.
QString temporalText(const QString &text, ColumnKind kind)
{
    const QString t = text.trimmed();
    if (kind == ColumnKind::Time) {
        const QTime time = QTime::fromString(t, Qt::ISODate);
        return time.isValid() ? Values::dateText(QDateTime(QDate(1899, 12, 30), time)) : QString();
    }
    QDateTime dt = QDateTime::fromString(t, Qt::ISODate);
    if (!dt.isValid())
        dt = QDateTime::fromString(t, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!dt.isValid()) {
        const QDate d = QDate::fromString(t.left(10), Qt::ISODate);
        if (d.isValid() && (t.size() == 10 || kind == ColumnKind::Date))
            dt = QDateTime(d, QTime(0, 0));
    }
    if (!dt.isValid())
        return QString();
    if (kind == ColumnKind::Date)
        dt.setTime(QTime(0, 0));
    return Values::dateText(dt);
}

} // namespace

QString columnValueText(const QVariant &value, ColumnKind kind, const QString &picture)
{
    const QString text = columnValueText(value, kind);
    return text.isEmpty() || picture.trimmed().isEmpty() ? text : Values::format(QVariant(text), picture);
}

QString columnValueText(const QVariant &value, ColumnKind kind)
{
    if (!value.isValid() || value.isNull())
        return QString();
    if (value.metaType() == QMetaType::fromType<Decimal>()) // a number as typed
        return decimalText(value.value<Decimal>().digits);
    switch (value.typeId()) {
    case QMetaType::Bool: return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case QMetaType::QDate: return Values::dateText(QDateTime(value.toDate(), QTime(0, 0)));
    case QMetaType::QDateTime: return Values::dateText(value.toDateTime()); // a DATE of SQLite may hold a time
    case QMetaType::QTime: return Values::dateText(QDateTime(QDate(1899, 12, 30), value.toTime()));
    case QMetaType::Float: return Values::numberText(value.toDouble(), true);
    case QMetaType::Double:
        if (kind == ColumnKind::Boolean)
            return value.toDouble() != 0 ? QStringLiteral("True") : QStringLiteral("False");
        return Values::numberText(value.toDouble());
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        if (kind == ColumnKind::Boolean)
            return value.toLongLong() != 0 ? QStringLiteral("True") : QStringLiteral("False");
        return value.toString();
    case QMetaType::QByteArray: return QString::fromUtf8(value.toByteArray());
    case QMetaType::QString: {
        const QString text = value.toString();
        switch (kind) {
        case ColumnKind::Decimal: return decimalText(text);
        case ColumnKind::Date:
        case ColumnKind::DateTime:
        case ColumnKind::Time: {
            const QString shown = temporalText(text, kind);
            return shown.isEmpty() ? text : shown;
        }
        case ColumnKind::Boolean: {
            const QString t = text.trimmed().toLower();
            if (t == u"t" || t == u"f")
                return t == u"t" ? QStringLiteral("True") : QStringLiteral("False");
            const auto b = Values::toBoolean(text);
            return b ? (*b ? QStringLiteral("True") : QStringLiteral("False")) : text;
        }
        default: return text;
        }
    }
    default: return value.toString();
    }
}


} // namespace Norvix
