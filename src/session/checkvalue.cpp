#include "session/checkvalue.h"
#include "platform/typedvalue.h"

#include "platform/values.h"

#include <QMetaType>
#include <QStringView>

#include <cmath>

#include <optional>

namespace Norvix {

namespace {

// A value as the rules read it.
struct Reading
{
    QString text;                  // its plain text (a null or invalid value: "")
    QString numberText;            // the text the numeric and Boolean conversions read
    std::optional<double> number;  // numbers, booleans (-1/0) and dates (serial): its own N
    std::optional<QDateTime> date; // QDate, QTime and QDateTime values, as wall-clock values
};

QDateTime wallClock(QDate date, QTime time)
{
    return QDateTime(date, time, Qt::UTC);
}

Reading readValue(const QVariant &value)
{
    Reading r;
    if (!value.isValid() || value.isNull())
        return r;
    // A decimal number typed for a save: checked as the number it is.
    if (value.metaType() == QMetaType::fromType<Decimal>())
        return readValue(QVariant(value.value<Decimal>().digits.toDouble()));
    bool exactText = false; // the plain text already is the number in the regional form
    switch (value.metaType().id()) {
    case QMetaType::Bool:
        r.number = value.toBool() ? -1.0 : 0.0;
        break;
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::SChar:
        r.number = double(value.toLongLong());
        exactText = true;
        break;
    case QMetaType::UInt:
    case QMetaType::UShort:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UChar:
        r.number = double(value.toULongLong());
        exactText = true;
        break;
    case QMetaType::Double:
    case QMetaType::Float:
        r.number = value.toDouble();
        exactText = true;
        break;
    case QMetaType::QDate:
        if (!value.toDate().isValid())
            return r;
        r.date = wallClock(value.toDate(), QTime(0, 0));
        break;
    case QMetaType::QTime:
        if (!value.toTime().isValid())
            return r;
        r.date = wallClock(QDate(1899, 12, 30), value.toTime());
        break;
    case QMetaType::QDateTime: {
        const QDateTime dt = value.toDateTime();
        if (!dt.isValid())
            return r;
        r.date = wallClock(dt.date(), dt.time());
        break;
    }
    default:
        break;
    }
    if (r.date)
        r.number = Values::toSerial(*r.date);
    r.text = Values::format(value, QStringView());
    r.numberText = r.number && !exactText ? Values::numberText(*r.number) : r.text;
    return r;
}

// N(x): a value's own number, or the number its text says as a user types it.
double leadingNumber(const Reading &r)
{
    return r.number ? *r.number : Values::typedNumber(r.text);
}

std::optional<QDateTime> dateOf(const Reading &r, QDate today)
{
    if (r.date)
        return r.date;
    return Values::toDate(r.text, today);
}

// The conversion test of a numeric data type; no value for a type that is not numeric.
std::optional<bool> convertsTo(const QString &tipo, QStringView text)
{
    if (tipo == u"BYTE")
        return Values::toByte(text).has_value();
    if (tipo == u"INTEGER")
        return Values::toInteger(text).has_value();
    if (tipo == u"LONG")
        return Values::toLong(text).has_value();
    if (tipo == u"CURRENCY" || tipo == u"CURR")
        return Values::toCurrency(text).has_value();
    if (tipo == u"SINGLE")
        return Values::toSingle(text).has_value();
    if (tipo == u"DOUBLE")
        return Values::toDouble(text).has_value();
    return std::nullopt;
}

bool checkText(const Reading &r, const Campo &C)
{
    bool ok = true;
    if (!C.MinVal().isEmpty() && QString::compare(r.text, C.MinVal(), Qt::CaseSensitive) < 0)
        ok = false;
    if (!C.MaxVal().isEmpty() && QString::compare(r.text, C.MaxVal(), Qt::CaseSensitive) > 0)
        ok = false;
    return ok;
}

// Converts to a Boolean and is one: a word (True, False, #TRUE#, #FALSE#) or -1, 0, 1.
bool checkBoolean(const Reading &r)
{
    if (!Values::toBoolean(r.numberText))
        return false;
    if (const auto n = Values::toDouble(r.numberText))
        return *n == -1 || *n == 0 || *n == 1;
    return true;
}

bool checkNumber(bool converts, const Reading &r, const Campo &C, bool integral)
{
    bool ok = converts;
    // An integer type holds the whole number the value rounds to (halves to even).
    const double n = integral ? std::nearbyint(leadingNumber(r)) : leadingNumber(r);
    if (!C.MinVal().isEmpty() && n < Values::val(C.MinVal()))
        ok = false;
    if (!C.MaxVal().isEmpty() && n > Values::val(C.MaxVal()))
        ok = false;
    return ok;
}

bool checkDate(QVariant &Valore, const Campo &C, const QDateTime &now)
{
    const QDate today = now.date();
    std::optional<QDateTime> value = dateOf(readValue(Valore), today);

    if (!value && C.MinVal().isEmpty()) {
        if (C.Default().isEmpty()) {
            Valore = QStringLiteral("00:00:00");
            return true;
        }
        if (C.Default().toUpper() == u"NOW")
            Valore = Values::format(QVariant(now), C.Format());
        else
            Valore = C.Default();
        value = dateOf(readValue(Valore), today);
    }
    if (!value)
        return false;

    bool ok = true;
    const double serial = Values::toSerial(*value);
    if (const auto maxDate = Values::toDate(C.MaxVal(), today); maxDate && serial > Values::toSerial(*maxDate))
        ok = false;
    const auto minDate = Values::toDate(C.MinVal(), today);
    if (!minDate)
        return ok;
    if (serial < Values::toSerial(*minDate))
        ok = false;
    return ok;
}

} // namespace

bool CHECKVALUE(QVariant &Valore, const Campo &C, const QDateTime &now)
{
    const QString kind = C.ObjType().toUpper();
    if (kind == u"HIDDENFIELD" || kind == u"NESSUNO" || kind == u"LOCKEDFIELD" || kind == u"UMOD")
        return true;

    const QString tipo = C.TIPO().toUpper();
    if (tipo == u"DATE")
        return checkDate(Valore, C, now);

    const Reading r = readValue(Valore);
    if (tipo == u"TEXT" || tipo == u"MEMO")
        return checkText(r, C);
    if (tipo == u"BOOLEAN")
        return checkBoolean(r);
    if (const auto converts = convertsTo(tipo, r.numberText))
        return checkNumber(*converts, r, C, tipo == u"BYTE" || tipo == u"INTEGER" || tipo == u"LONG");
    return true;
}

bool breaksFieldRules(const Campo &C, const QVariant &value)
{
    QVariant checked = value;
    const bool boolean = C.TIPO().compare(u"BOOLEAN", Qt::CaseInsensitive) == 0;
    return !CHECKVALUE(checked, C) && (boolean || !C.MinVal().trimmed().isEmpty());
}

} // namespace Norvix
