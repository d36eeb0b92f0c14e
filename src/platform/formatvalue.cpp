#include "platform/format_p.h"
#include "platform/values_p.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <optional>
#include <string>
#include <string_view>

namespace Norvix::Values::Picture {

// ---------------------------------------------------------------------------------------------
// The value
// ---------------------------------------------------------------------------------------------

namespace {

Value numberValue(double number, bool single = false)
{
    Value v;
    v.kind = Value::Number;
    v.number = number;
    v.negative = number < 0;
    v.single = single;
    return v;
}

} // namespace

Value classify(const QVariant &variant)
{
    Value v;
    if (!variant.isValid())
        return v; // Empty: like ""
    if (variant.isNull()) {
        v.kind = Value::Null;
        return v;
    }
    switch (variant.metaType().id()) {
    case QMetaType::Bool:
        v = numberValue(variant.toBool() ? -1.0 : 0.0);
        v.boolean = true;
        return v;
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::SChar:
        v = numberValue(double(variant.toLongLong()));
        v.whole = true;
        v.text = QString::number(variant.toLongLong());
        return v;
    case QMetaType::UInt:
    case QMetaType::UShort:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UChar:
        v = numberValue(double(variant.toULongLong()));
        v.whole = true;
        v.text = QString::number(variant.toULongLong());
        return v;
    case QMetaType::Double:
        return numberValue(variant.toDouble());
    case QMetaType::Float:
        return numberValue(double(variant.toFloat()), true);
    case QMetaType::QDate:
        v.kind = Value::Date;
        v.date = QDateTime(variant.toDate(), QTime(0, 0), Qt::UTC);
        return v;
    case QMetaType::QTime:
        v.kind = Value::Date;
        v.date = QDateTime(serialBase, variant.toTime(), Qt::UTC);
        return v;
    case QMetaType::QDateTime:
        v.kind = Value::Date;
        v.date = variant.toDateTime();
        return v;
    default:
        v.text = variant.toString();
        return v;
    }
}

QString plainText(const Value &v)
{
    switch (v.kind) {
    case Value::Null:
        return {};
    case Value::Text:
        return v.text;
    case Value::Date:
        return dateText(v.date);
    case Value::Number:
        break;
    }
    if (v.boolean)
        return v.number != 0 ? QStringLiteral("True") : QStringLiteral("False");
    if (v.whole)
        return v.text;
    return numberText(v.number, v.single);
}

Decimal decimalOf(const Value &v)
{
    Decimal d;
    if (v.whole) {
        for (const QChar c : v.text) {
            if (c.isDigit())
                d.digits.push_back(char(c.unicode()));
        }
        const auto first = d.digits.find_first_not_of('0');
        d.digits.erase(0, first == std::string::npos ? d.digits.size() : first);
        d.point = int(d.digits.size());
    } else if (std::isfinite(v.number)) {
        std::array<char, 64> buf{};
        const double magnitude = std::fabs(v.number);
        const auto r = v.single ? std::to_chars(buf.data(), buf.data() + buf.size(), float(magnitude),
                                                std::chars_format::scientific, 6)
                                : std::to_chars(buf.data(), buf.data() + buf.size(), magnitude,
                                                std::chars_format::scientific, 14);
        const std::string_view text(buf.data(), size_t(r.ptr - buf.data()));
        const auto e = text.find('e');
        for (size_t i = 0; i < e && i < text.size(); ++i) {
            if (text[i] != '.')
                d.digits.push_back(text[i]);
        }
        int exponent = 0;
        if (e != std::string_view::npos) {
            const char *begin = text.data() + e + 1;
            if (begin < text.data() + text.size() && *begin == '+')
                ++begin;
            std::from_chars(begin, text.data() + text.size(), exponent);
        }
        d.point = exponent + 1;
    }
    while (!d.digits.empty() && d.digits.back() == '0')
        d.digits.pop_back();
    if (d.digits.empty())
        d.point = 0;
    return d;
}

// The number a value stands for in a number picture; no value when it is not a number.
std::optional<Value> asNumber(const Value &v)
{
    switch (v.kind) {
    case Value::Number:
        return v;
    case Value::Date:
        return numberValue(toSerial(v.date));
    case Value::Text:
        if (const auto d = toDouble(v.text))
            return numberValue(*d);
        return std::nullopt;
    case Value::Null:
        break;
    }
    return std::nullopt;
}
std::optional<DateParts> asDate(const Value &v)
{
    QDateTime when;
    switch (v.kind) {
    case Value::Null:
        return std::nullopt;
    case Value::Number:
        if (const auto d = fromSerial(v.number))
            when = *d;
        break;
    case Value::Text:
        if (const auto n = toDouble(v.text)) {
            if (const auto d = fromSerial(*n))
                when = *d;
        } else if (const auto d = toDate(v.text, QDate())) { // the clock is read only if needed
            when = *d;
        }
        break;
    case Value::Date:
        when = v.date;
        break;
    }
    if (!when.isValid())
        return std::nullopt;
    DateParts parts{when.date(), {}};
    int seconds = (when.time().msecsSinceStartOfDay() + 500) / 1000;
    if (seconds >= 86400) {
        parts.date = parts.date.addDays(1);
        seconds -= 86400;
    }
    parts.time = QTime::fromMSecsSinceStartOfDay(seconds * 1000);
    if (parts.date.year() < 100 || parts.date.year() > 9999)
        return std::nullopt;
    return parts;
}

// ---------------------------------------------------------------------------------------------
// Picture structure
// ---------------------------------------------------------------------------------------------

// Index just past the closing quote of a literal opened at `open`, or the end.
qsizetype afterQuote(QStringView s, qsizetype open)
{
    const qsizetype close = s.indexOf(u'"', open + 1);
    return close < 0 ? s.size() : close + 1;
}

QStringView quoted(QStringView s, qsizetype open)
{
    const qsizetype end = afterQuote(s, open);
    const qsizetype innerEnd = (end > open + 1 && s[end - 1] == u'"') ? end - 1 : end;
    return s.sliced(open + 1, innerEnd - open - 1);
}

Sections splitSections(QStringView picture)
{
    Sections out;
    qsizetype start = 0;
    qsizetype i = 0;
    while (i < picture.size() && out.count < 3) {
        const QChar c = picture[i];
        if (c == u'\\') {
            i += 2;
        } else if (c == u'"') {
            i = afterQuote(picture, i);
        } else if (c == u';') {
            out.part[size_t(out.count++)] = picture.sliced(start, i - start);
            start = ++i;
        } else {
            ++i;
        }
    }
    // The last section runs to the next separator (anything after a fourth section is ignored).
    i = start;
    while (i < picture.size() && picture[i] != u';') {
        if (picture[i] == u'\\')
            i += 2;
        else if (picture[i] == u'"')
            i = afterQuote(picture, i);
        else
            ++i;
    }
    i = std::min(i, picture.size());
    out.part[size_t(out.count++)] = picture.sliced(start, i - start);
    return out;
}

char16_t asciiLower(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'A' && u <= u'Z') ? char16_t(u - u'A' + u'a') : u;
}
namespace {

bool startsWithNoCase(QStringView s, qsizetype at, QLatin1String word)
{
    return at + word.size() <= s.size() && s.sliced(at, word.size()).compare(word, Qt::CaseInsensitive) == 0;
}

} // namespace

// Length of an AM/PM-type token at `at` (AM/PM, AMPM, A/P, any letter case), or 0.
qsizetype amPmLength(QStringView s, qsizetype at)
{
    if (startsWithNoCase(s, at, QLatin1String("AM/PM")))
        return 5;
    if (startsWithNoCase(s, at, QLatin1String("AMPM")))
        return 4;
    if (startsWithNoCase(s, at, QLatin1String("A/P")))
        return 3;
    return 0;
}

// How many times the letter at `at` repeats, ignoring letter case.
qsizetype runLength(QStringView s, qsizetype at)
{
    const char16_t letter = asciiLower(s[at]);
    qsizetype run = 1;
    while (at + run < s.size() && asciiLower(s[at + run]) == letter)
        ++run;
    return run;
}

Kind pictureKind(QStringView picture)
{
    qsizetype i = 0;
    while (i < picture.size()) {
        const QChar c = picture[i];
        const char16_t u = asciiLower(c);
        switch (u) {
        case u'\\':
            i += 2;
            continue;
        case u'"':
            i = afterQuote(picture, i);
            continue;
        case u'0': case u'#': case u'.': case u',': case u'%':
            return Kind::Number;
        case u'e':
            if (i + 1 < picture.size() && (picture[i + 1] == u'+' || picture[i + 1] == u'-'))
                return Kind::Number;
            break;
        case u'@': case u'&': case u'<': case u'>': case u'!':
            return Kind::String;
        case u'/': case u':':
        case u'd': case u'm': case u'y': case u'h': case u'n': case u's': case u'w': case u'q': case u'c':
            return Kind::Date;
        case u't':
            if (runLength(picture, i) >= 5)
                return Kind::Date;
            break;
        case u'a':
            if (amPmLength(picture, i) > 0)
                return Kind::Date;
            break;
        default:
            break;
        }
        ++i;
    }
    return Kind::Number;
}

} // namespace Norvix::Values::Picture
