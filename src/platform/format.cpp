#include "platform/values.h"

#include <QTime>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Display pictures.
//
// A picture is a named format, or a user picture whose kind (number, date or string) is fixed by
// the first token only one kind knows; characters of the other kinds are then copied literally.
// Choices where the legacy behaviour is not known:
// - Named formats are recognised whatever their letter case. Yes/No, True/False and On/Off print
//   the English words, as the legacy program did; Medium Date is dd-mmm-yy ("12-mag-01").
// - A picture without any deciding token (only literals) is a number picture.
// - Date pictures use their first section only; Null gives empty text with them.
// - Dates are shown with the time rounded to the nearest second.
// - AMPM prints the regional designators; while both are empty (Italian settings) it prints nothing
//   and the clock stays at 24 hours, so Medium Time is then "hh:nn".
// - "aaaa" and "oooo" are not tokens: their letters are copied. Italian-style pictures such as
//   "gg/mm/aaaa" are not translated.
// - "yyyy" prints at least four digits (0100).
// - Number pictures choose their section on the value before rounding, so -0.001 with "0.00" gives
//   "-0,00". With a single section the minus sign goes right before the first digit placeholder or
//   decimal point, after any leading literal ("\€ 0.00" gives "€ -5,00").
// - Commas after the decimal point do nothing; the exponent is written in full where its first
//   placeholder stands.
// - With no picture a number prints with its leading zero ("0,5"), like numberText.
// - In string pictures "<" and ">" change the whole result, literals included; with "!" and more
//   characters than placeholders the rest is appended at the end, as without it.
// - Booleans and dates given to a string picture are first written as "True"/"False" and as
//   dateText.

namespace Norvix::Values {

namespace {

constexpr qsizetype maxPictureLength = 257;
const QDate serialBase(1899, 12, 30);

// ---------------------------------------------------------------------------------------------
// The value
// ---------------------------------------------------------------------------------------------

// Decimal digits of a magnitude: value = 0.digits x 10^point, no leading or trailing zeros;
// empty digits for zero.
struct Decimal
{
    std::string digits;
    int point = 0;
};

struct Value
{
    enum Kind : std::uint8_t { Null, Text, Number, Date };
    Kind kind = Text;
    QString text;           // Text; the exact text of a whole number
    double number = 0;      // Number
    bool negative = false;  // Number
    bool boolean = false;   // a Number that came from a Boolean
    bool single = false;    // a Number that came from a float: 7 significant digits
    bool whole = false;     // a Number that came from an integer type: `text` holds it exactly
    QDateTime date;         // Date
};

Value numberValue(double number, bool single = false)
{
    Value v;
    v.kind = Value::Number;
    v.number = number;
    v.negative = number < 0;
    v.single = single;
    return v;
}

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

// The date and time (to the second) a value stands for in a date picture.
struct DateParts
{
    QDate date;
    QTime time;
};

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

enum class Kind : std::uint8_t { Number, Date, String };

struct Sections
{
    std::array<QStringView, 4> part;
    int count = 0;
};

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

bool startsWithNoCase(QStringView s, qsizetype at, QLatin1String word)
{
    return at + word.size() <= s.size() && s.sliced(at, word.size()).compare(word, Qt::CaseInsensitive) == 0;
}

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

// ---------------------------------------------------------------------------------------------
// Number pictures
// ---------------------------------------------------------------------------------------------

struct NumberItem
{
    enum Type : std::uint8_t { Literal, IntegerDigit, FractionDigit, ExponentDigit, Point, Exponent };
    Type type = Literal;
    char16_t symbol = 0; // '0' or '#' for digits, 'E' or 'e' for the exponent mark
    bool plus = false;   // E+ rather than E-
    QStringView text;    // Literal
};

struct NumberSection
{
    std::vector<NumberItem> items;
    std::vector<char16_t> fractionSymbols;
    int integerCount = 0;
    int fractionCount = 0;
    int exponentCount = 0;
    int exponentZeros = 0;
    int firstIntegerZero = -1; // from this integer placeholder on, every one prints a digit
    int scale = 0;             // thousands dividing the value
    int percent = 0;           // hundreds multiplying it
    bool grouping = false;
    bool hasPoint = false;
    bool hasExponent = false;
};

NumberSection parseNumberSection(QStringView s)
{
    NumberSection sec;
    enum Region : std::uint8_t { Integer, Fraction, ExponentPart } region = Integer;
    struct CommaRun
    {
        int placeholdersBefore;
        int length;
    };
    std::vector<CommaRun> commas;
    bool afterComma = false;
    const auto literal = [&sec](QStringView text) {
        sec.items.push_back({NumberItem::Literal, 0, false, text});
    };
    qsizetype i = 0;
    const qsizetype n = s.size();
    while (i < n) {
        const char16_t c = s[i].unicode();
        bool comma = false;
        if (c == u'\\') {
            if (i + 1 < n)
                literal(s.sliced(i + 1, 1));
            i += 2;
        } else if (c == u'"') {
            literal(quoted(s, i));
            i = afterQuote(s, i);
        } else if (c == u'0' || c == u'#') {
            if (region == Integer) {
                if (c == u'0' && sec.firstIntegerZero < 0)
                    sec.firstIntegerZero = sec.integerCount;
                sec.items.push_back({NumberItem::IntegerDigit, c, false, {}});
                ++sec.integerCount;
            } else if (region == Fraction) {
                sec.items.push_back({NumberItem::FractionDigit, c, false, {}});
                sec.fractionSymbols.push_back(c);
                ++sec.fractionCount;
            } else {
                sec.items.push_back({NumberItem::ExponentDigit, c, false, {}});
                ++sec.exponentCount;
                sec.exponentZeros += c == u'0' ? 1 : 0;
            }
            ++i;
        } else if (c == u'.' && region == Integer) {
            sec.items.push_back({NumberItem::Point, c, false, {}});
            sec.hasPoint = true;
            region = Fraction;
            ++i;
        } else if (c == u',') {
            if (region == Integer) {
                comma = true;
                if (afterComma)
                    ++commas.back().length;
                else
                    commas.push_back({sec.integerCount, 1});
            }
            ++i;
        } else if (c == u'%') {
            ++sec.percent;
            literal(s.sliced(i, 1));
            ++i;
        } else if ((c == u'E' || c == u'e') && !sec.hasExponent && i + 1 < n
                   && (s[i + 1] == u'+' || s[i + 1] == u'-')) {
            sec.items.push_back({NumberItem::Exponent, c, s[i + 1] == u'+', {}});
            sec.hasExponent = true;
            region = ExponentPart;
            i += 2;
        } else {
            literal(s.sliced(i, 1));
            ++i;
        }
        afterComma = comma;
    }
    for (const CommaRun &run : commas) {
        if (run.placeholdersBefore == 0)
            continue; // before any digit: no meaning
        if (run.placeholdersBefore < sec.integerCount)
            sec.grouping = true;
        else
            sec.scale += run.length;
    }
    return sec;
}

// Keeps the first `keep` digits, rounding half away from zero on the dropped ones.
void roundKeeping(Decimal &d, long keep)
{
    const long len = long(d.digits.size());
    if (keep >= len)
        return;
    if (keep < 0) {
        d = {};
        return;
    }
    const bool up = d.digits[size_t(keep)] >= '5';
    d.digits.resize(size_t(keep));
    if (up) {
        while (!d.digits.empty() && d.digits.back() == '9')
            d.digits.pop_back();
        if (d.digits.empty()) {
            d.digits.push_back('1'); // all nines carried over
            ++d.point;
        } else {
            ++d.digits.back();
        }
    }
    while (!d.digits.empty() && d.digits.back() == '0')
        d.digits.pop_back();
    if (d.digits.empty())
        d.point = 0;
}

// The digits a section shows of a number: scaled and rounded to its places, split at the point.
struct SectionDigits
{
    std::string integer;
    std::string fraction;
    int shownFraction = 0; // trailing "#" places drop their zeros
    int exponent = 0;
};

SectionDigits sectionDigits(const NumberSection &sec, Decimal d)
{
    SectionDigits out;
    if (!d.digits.empty())
        d.point += 2 * sec.percent - 3 * sec.scale;
    if (sec.hasExponent) {
        roundKeeping(d, sec.integerCount + sec.fractionCount);
        if (!d.digits.empty()) {
            out.exponent = d.point - sec.integerCount;
            d.point = sec.integerCount;
        }
    } else {
        roundKeeping(d, long(d.point) + sec.fractionCount);
    }
    const int len = int(d.digits.size());
    if (d.point > 0) {
        out.integer = d.digits.substr(0, size_t(std::min(d.point, len)));
        out.integer.append(size_t(std::max(0, d.point - len)), '0');
    }
    out.fraction.assign(size_t(sec.fractionCount), '0');
    for (int j = 0; j < sec.fractionCount; ++j) {
        const long at = long(d.point) + j;
        if (at >= 0 && at < len)
            out.fraction[size_t(j)] = d.digits[size_t(at)];
    }
    out.shownFraction = sec.fractionCount;
    while (out.shownFraction > 0 && sec.fractionSymbols[size_t(out.shownFraction - 1)] == u'#'
           && out.fraction[size_t(out.shownFraction - 1)] == '0')
        --out.shownFraction;
    return out;
}

QString renderNumber(const NumberSection &sec, const Decimal &d, bool minus, const Locale &loc)
{
    const SectionDigits parts = sectionDigits(sec, d);
    const std::string &integer = parts.integer;
    const std::string &fraction = parts.fraction;
    const int shownFraction = parts.shownFraction;
    const int exponent = parts.exponent;

    const int places = sec.integerCount;
    const int digits = int(integer.size());
    const int zerosFrom = sec.firstIntegerZero < 0 ? places : sec.firstIntegerZero;
    const int total = digits + std::max(0, places - digits - zerosFrom);
    int printed = 0;
    QString out;
    out.reserve(sec.integerCount + sec.fractionCount + digits + 16);
    const auto digit = [&](char c) {
        out += QChar(char16_t(c));
        ++printed;
        const int left = total - printed;
        if (sec.grouping && left > 0 && left % 3 == 0)
            out += loc.thousandsSeparator;
    };
    bool signPending = minus;
    const auto sign = [&] {
        if (signPending)
            out += u'-';
        signPending = false;
    };
    const auto exponentText = [&] {
        return QString::number(std::abs(exponent)).rightJustified(std::max(sec.exponentZeros, 1), u'0');
    };
    int integerIndex = 0;
    int fractionIndex = 0;
    bool exponentWritten = false;
    for (const NumberItem &item : sec.items) {
        switch (item.type) {
        case NumberItem::Literal:
            out += item.text;
            break;
        case NumberItem::IntegerDigit:
            sign();
            if (integerIndex == 0 && digits > places) {
                for (int k = 0; k <= digits - places; ++k)
                    digit(integer[size_t(k)]);
            } else {
                const int at = integerIndex - (places - digits);
                if (at >= 0)
                    digit(integer[size_t(at)]);
                else if (integerIndex >= zerosFrom)
                    digit('0');
            }
            ++integerIndex;
            break;
        case NumberItem::Point:
            sign();
            if (places == 0) {
                for (const char c : integer)
                    digit(c);
            }
            out += loc.decimalSeparator;
            break;
        case NumberItem::FractionDigit:
            sign();
            if (fractionIndex < shownFraction)
                out += QChar(char16_t(fraction[size_t(fractionIndex)]));
            ++fractionIndex;
            break;
        case NumberItem::Exponent:
            sign();
            out += QChar(item.symbol);
            if (exponent < 0)
                out += u'-';
            else if (item.plus)
                out += u'+';
            if (sec.exponentCount == 0)
                out += exponentText();
            break;
        case NumberItem::ExponentDigit:
            if (!exponentWritten)
                out += exponentText();
            exponentWritten = true;
            break;
        }
    }
    if (signPending)
        out.prepend(u'-');
    return out;
}

// A number, or Null, through up to four sections: positive; negative; zero; Null.
QString formatNumber(const Sections &sections, const std::optional<Value> &number, const Locale &loc)
{
    if (!number) {
        if (sections.count < 4 || sections.part[3].isEmpty())
            return {};
        return renderNumber(parseNumberSection(sections.part[3]), {}, false, loc);
    }
    const Decimal d = decimalOf(*number);
    int index = 0;
    bool minus = false;
    if (number->negative) {
        if (sections.count >= 2 && !sections.part[1].isEmpty())
            index = 1; // writes its own sign, if any
        else
            minus = true;
    } else if (d.digits.empty() && sections.count >= 3 && !sections.part[2].isEmpty()) {
        index = 2;
    }
    return renderNumber(parseNumberSection(sections.part[size_t(index)]), d, minus, loc);
}

// ---------------------------------------------------------------------------------------------
// Date pictures
// ---------------------------------------------------------------------------------------------

struct DateItem
{
    enum Type : std::uint8_t {
        Literal, General, Day, Day2, DayAbbreviation, DayName, ShortDate, LongDate, Weekday, Week,
        Month, Month2, MonthAbbreviation, MonthName, Quarter, DayOfYear, Year2, Year4,
        Hour, Hour2, Minute, Minute2, Second, Second2, LongTime, AmPm, AP, Designator, DateSeparator,
        TimeSeparator
    };
    Type type = Literal;
    QStringView text; // Literal; the written AM/PM and A/P tokens
};

// The items of a run of `run` equal picture letters ending before position `end` of `s`.
void pushLetterRun(std::vector<DateItem> &items, char16_t letter, qsizetype run, QStringView s, qsizetype end)
{
    const auto push = [&items](DateItem::Type type, QStringView text = {}) { items.push_back({type, text}); };
    const qsizetype i = end;
    while (run > 0) {
        qsizetype used = 1;
        switch (letter) {
        case u'd': {
            static constexpr std::array<DateItem::Type, 6> days = {
                DateItem::Day, DateItem::Day2, DateItem::DayAbbreviation, DateItem::DayName,
                DateItem::ShortDate, DateItem::LongDate};
            used = std::min<qsizetype>(run, 6);
            push(days[size_t(used - 1)]);
            break;
        }
        case u'w':
            used = std::min<qsizetype>(run, 2);
            push(used == 2 ? DateItem::Week : DateItem::Weekday);
            break;
        case u'm': {
            static constexpr std::array<DateItem::Type, 4> months = {
                DateItem::Month, DateItem::Month2, DateItem::MonthAbbreviation, DateItem::MonthName};
            used = std::min<qsizetype>(run, 4);
            push(months[size_t(used - 1)]);
            break;
        }
        case u'q':
            push(DateItem::Quarter);
            break;
        case u'y': // "yyy" is "yy" then "y"
            used = run >= 4 ? 4 : run >= 2 ? 2 : 1;
            push(used == 4 ? DateItem::Year4 : used == 2 ? DateItem::Year2 : DateItem::DayOfYear);
            break;
        case u'h':
            used = std::min<qsizetype>(run, 2);
            push(used == 2 ? DateItem::Hour2 : DateItem::Hour);
            break;
        case u'n':
            used = std::min<qsizetype>(run, 2);
            push(used == 2 ? DateItem::Minute2 : DateItem::Minute);
            break;
        case u's':
            used = std::min<qsizetype>(run, 2);
            push(used == 2 ? DateItem::Second2 : DateItem::Second);
            break;
        case u'c':
            push(DateItem::General);
            break;
        case u't': // only "ttttt" means something
            if (run >= 5) {
                used = 5;
                push(DateItem::LongTime);
            } else {
                used = run;
                push(DateItem::Literal, s.sliced(i - run, run));
            }
            break;
        default:
            break;
        }
        run -= used;
    }
}

// "m" and "mm" are minutes right after an hour (literals aside), once per hour; a day token or a
// written minute cancels it.
void markMinutes(std::vector<DateItem> &items)
{
    bool afterHour = false;
    for (DateItem &item : items) {
        switch (item.type) {
        case DateItem::Hour:
        case DateItem::Hour2:
            afterHour = true;
            break;
        case DateItem::Day:
        case DateItem::Day2:
        case DateItem::DayAbbreviation:
        case DateItem::DayName:
        case DateItem::ShortDate:
        case DateItem::LongDate:
        case DateItem::Minute:
        case DateItem::Minute2:
            afterHour = false;
            break;
        case DateItem::Month:
        case DateItem::Month2:
            if (afterHour)
                item.type = item.type == DateItem::Month ? DateItem::Minute : DateItem::Minute2;
            afterHour = false;
            break;
        default:
            break;
        }
    }
}

std::vector<DateItem> parseDateSection(QStringView s)
{
    std::vector<DateItem> items;
    const auto push = [&items](DateItem::Type type, QStringView text = {}) { items.push_back({type, text}); };
    qsizetype i = 0;
    const qsizetype n = s.size();
    while (i < n) {
        const QChar c = s[i];
        if (c == u'\\') {
            if (i + 1 < n)
                push(DateItem::Literal, s.sliced(i + 1, 1));
            i += 2;
            continue;
        }
        if (c == u'"') {
            push(DateItem::Literal, quoted(s, i));
            i = afterQuote(s, i);
            continue;
        }
        if (c == u'/' || c == u':') {
            push(c == u'/' ? DateItem::DateSeparator : DateItem::TimeSeparator);
            ++i;
            continue;
        }
        const char16_t letter = asciiLower(c);
        if (letter == u'a') {
            if (const qsizetype len = amPmLength(s, i)) {
                push(len == 5 ? DateItem::AmPm : len == 4 ? DateItem::Designator : DateItem::AP, s.sliced(i, len));
                i += len;
            } else {
                push(DateItem::Literal, s.sliced(i, 1));
                ++i;
            }
            continue;
        }
        if (!QStringView(u"dwmqyhnsct").contains(QChar(letter))) {
            push(DateItem::Literal, s.sliced(i, 1));
            ++i;
            continue;
        }
        qsizetype run = runLength(s, i);
        i += run;
        pushLetterRun(items, letter, run, s, i);
    }

    markMinutes(items);
    return items;
}

QString nameAt(const QStringList &names, int index)
{
    return index >= 0 && index < names.size() ? names.at(index) : QString();
}

QString twoDigits(int value)
{
    return QString::number(value).rightJustified(2, u'0');
}

QString generalDate(const DateParts &p)
{
    if (p.date == serialBase)
        return longTimeText(p.time);
    if (p.time == QTime(0, 0))
        return shortDateText(p.date);
    return shortDateText(p.date) + u' ' + longTimeText(p.time);
}

QString renderDate(const std::vector<DateItem> &items, const DateParts &p, const Locale &loc)
{
    const bool designators = !loc.amDesignator.isEmpty() || !loc.pmDesignator.isEmpty();
    bool twelveHours = false;
    for (const DateItem &item : items) {
        if (item.type == DateItem::AmPm || item.type == DateItem::AP || (item.type == DateItem::Designator && designators))
            twelveHours = true;
    }
    const int hour24 = p.time.hour();
    const bool morning = hour24 < 12;
    const int hour = twelveHours ? (hour24 % 12 == 0 ? 12 : hour24 % 12) : hour24;
    const int weekday = p.date.dayOfWeek() % 7; // Sunday 0
    QString out;
    for (const DateItem &item : items) {
        switch (item.type) {
        case DateItem::Literal: out += item.text; break;
        case DateItem::General: out += generalDate(p); break;
        case DateItem::Day: out += QString::number(p.date.day()); break;
        case DateItem::Day2: out += twoDigits(p.date.day()); break;
        case DateItem::DayAbbreviation: out += nameAt(loc.dayAbbreviations, weekday); break;
        case DateItem::DayName: out += nameAt(loc.dayNames, weekday); break;
        case DateItem::ShortDate: out += shortDateText(p.date); break;
        case DateItem::LongDate: out += longDateText(p.date); break;
        case DateItem::Weekday: out += QString::number(weekday + 1); break; // Sunday first
        case DateItem::Week: {
            // The week holding 1 January is week 1; weeks start on Sunday.
            const int jan1 = QDate(p.date.year(), 1, 1).dayOfWeek() % 7;
            out += QString::number((p.date.dayOfYear() - 1 + jan1) / 7 + 1);
            break;
        }
        case DateItem::Month: out += QString::number(p.date.month()); break;
        case DateItem::Month2: out += twoDigits(p.date.month()); break;
        case DateItem::MonthAbbreviation: out += nameAt(loc.monthAbbreviations, p.date.month() - 1); break;
        case DateItem::MonthName: out += nameAt(loc.monthNames, p.date.month() - 1); break;
        case DateItem::Quarter: out += QString::number((p.date.month() - 1) / 3 + 1); break;
        case DateItem::DayOfYear: out += QString::number(p.date.dayOfYear()); break;
        case DateItem::Year2: out += twoDigits(p.date.year() % 100); break;
        case DateItem::Year4: out += QString::number(p.date.year()).rightJustified(4, u'0'); break;
        case DateItem::Hour: out += QString::number(hour); break;
        case DateItem::Hour2: out += twoDigits(hour); break;
        case DateItem::Minute: out += QString::number(p.time.minute()); break;
        case DateItem::Minute2: out += twoDigits(p.time.minute()); break;
        case DateItem::Second: out += QString::number(p.time.second()); break;
        case DateItem::Second2: out += twoDigits(p.time.second()); break;
        case DateItem::LongTime: out += longTimeText(p.time); break;
        case DateItem::AmPm: out += morning ? item.text.first(2) : item.text.sliced(3, 2); break;
        case DateItem::AP: out += morning ? item.text[0] : item.text[2]; break;
        case DateItem::Designator: out += morning ? loc.amDesignator : loc.pmDesignator; break;
        case DateItem::DateSeparator: out += loc.dateSeparator; break;
        case DateItem::TimeSeparator: out += loc.timeSeparator; break;
        }
    }
    return out;
}

QString formatDate(const Value &v, QStringView picture, const Locale &loc)
{
    if (v.kind == Value::Null)
        return {};
    if (v.kind == Value::Text && v.text.isEmpty())
        return {};
    const auto parts = asDate(v);
    if (!parts)
        return plainText(v);
    return renderDate(parseDateSection(picture), *parts, loc);
}

// ---------------------------------------------------------------------------------------------
// String pictures
// ---------------------------------------------------------------------------------------------

QString formatString(const Sections &sections, const Value &v)
{
    const bool null = v.kind == Value::Null;
    const QString text = plainText(v);
    QStringView section = sections.part[0];
    if (null || text.isEmpty()) {
        if (sections.count >= 2)
            section = sections.part[1];
        else if (null)
            return {};
    }

    struct Item
    {
        bool placeholder;
        bool blank; // "@": a blank when no character is left
        QStringView text;
    };
    std::vector<Item> items;
    int placeholders = 0;
    bool leftToRight = false;
    int letterCase = 0; // -1 lower, 1 upper
    for (qsizetype i = 0; i < section.size();) {
        const QChar c = section[i];
        if (c == u'\\') {
            if (i + 1 < section.size())
                items.push_back({false, false, section.sliced(i + 1, 1)});
            i += 2;
            continue;
        }
        if (c == u'"') {
            items.push_back({false, false, quoted(section, i)});
            i = afterQuote(section, i);
            continue;
        }
        if (c == u'@' || c == u'&') {
            items.push_back({true, c == u'@', {}});
            ++placeholders;
        } else if (c == u'<') {
            letterCase = -1;
        } else if (c == u'>') {
            letterCase = 1;
        } else if (c == u'!') {
            leftToRight = true;
        } else {
            items.push_back({false, false, section.sliced(i, 1)});
        }
        ++i;
    }

    const qsizetype length = text.size();
    const qsizetype empty = std::max<qsizetype>(0, placeholders - length); // placeholders without a character
    qsizetype next = 0;
    qsizetype index = 0;
    QString out;
    out.reserve(length + section.size());
    for (const Item &item : items) {
        if (!item.placeholder) {
            out += item.text;
            continue;
        }
        const bool vacant = leftToRight ? next >= length : index < empty;
        if (vacant) {
            if (item.blank)
                out += u' ';
        } else {
            out += text[next++];
        }
        ++index;
    }
    if (next < length)
        out += QStringView(text).sliced(next);
    if (letterCase > 0)
        return out.toUpper();
    if (letterCase < 0)
        return out.toLower();
    return out;
}

// ---------------------------------------------------------------------------------------------
// Named formats
// ---------------------------------------------------------------------------------------------

enum class Named : std::uint8_t {
    GeneralNumber, Currency, Fixed, Standard, Percent, Scientific, YesNo, TrueFalse, OnOff,
    GeneralDate, LongDate, MediumDate, ShortDate, LongTime, MediumTime, ShortTime
};

std::optional<Named> namedFormat(QStringView picture)
{
    struct Entry
    {
        const char *name;
        Named kind;
    };
    static constexpr std::array<Entry, 16> names = {{
        {"General Number", Named::GeneralNumber}, {"Currency", Named::Currency},
        {"Fixed", Named::Fixed}, {"Standard", Named::Standard}, {"Percent", Named::Percent},
        {"Scientific", Named::Scientific}, {"Yes/No", Named::YesNo}, {"True/False", Named::TrueFalse},
        {"On/Off", Named::OnOff}, {"General Date", Named::GeneralDate}, {"Long Date", Named::LongDate},
        {"Medium Date", Named::MediumDate}, {"Short Date", Named::ShortDate},
        {"Long Time", Named::LongTime}, {"Medium Time", Named::MediumTime}, {"Short Time", Named::ShortTime},
    }};
    if (picture.size() > 14)
        return std::nullopt;
    for (const Entry &e : names) {
        if (picture.compare(QLatin1String(e.name), Qt::CaseInsensitive) == 0)
            return e.kind;
    }
    return std::nullopt;
}

QString currencyPicture(const Locale &loc)
{
    QString symbol;
    for (const QChar c : loc.currencySymbol) {
        symbol += u'\\';
        symbol += c;
    }
    QString number = QStringLiteral("#,##0");
    const int decimals = std::clamp(loc.currencyDecimals, 0, 15);
    if (decimals > 0)
        number += u'.' + QString(decimals, u'0');
    return symbol + u' ' + number + u';' + u'-' + symbol + u' ' + number;
}

QString formatNamed(Named named, const Value &v, const Locale &loc)
{
    const auto picture = [&](QStringView numberPicture) {
        return formatNumber(splitSections(numberPicture), asNumber(v), loc);
    };
    const auto date = [&](QStringView datePicture) { return formatDate(v, datePicture, loc); };
    if (named >= Named::GeneralDate) {
        switch (named) {
        case Named::GeneralDate: return date(u"c");
        case Named::LongDate: return date(u"dddddd");
        case Named::MediumDate: return date(u"dd-mmm-yy");
        case Named::ShortDate: return date(u"ddddd");
        case Named::LongTime: return date(u"ttttt");
        case Named::MediumTime:
            return date(loc.amDesignator.isEmpty() && loc.pmDesignator.isEmpty() ? u"hh:nn" : u"hh:nn AMPM");
        default: return date(u"hh:nn");
        }
    }
    if (v.kind == Value::Null || (v.kind == Value::Text && v.text.isEmpty()))
        return {};
    const auto number = asNumber(v);
    if (!number || !std::isfinite(number->number))
        return plainText(v);
    const bool zero = number->number == 0;
    switch (named) {
    case Named::GeneralNumber: {
        Value plain = *number;
        plain.boolean = false;
        return plainText(plain);
    }
    case Named::Currency: return picture(currencyPicture(loc));
    case Named::Fixed: return picture(u"0.00");
    case Named::Standard: return picture(u"#,##0.00");
    case Named::Percent: return picture(u"0.00%");
    case Named::Scientific: return picture(u"0.00E+00");
    case Named::YesNo: return zero ? QStringLiteral("No") : QStringLiteral("Yes");
    case Named::TrueFalse: return zero ? QStringLiteral("False") : QStringLiteral("True");
    default: return zero ? QStringLiteral("Off") : QStringLiteral("On");
    }
}

} // namespace

QString format(const QVariant &value, QStringView picture)
{
    const Locale &loc = locale();
    picture = picture.first(std::min(picture.size(), maxPictureLength));
    const Value v = classify(value);
    if (picture.isEmpty())
        return plainText(v);
    if (const auto named = namedFormat(picture))
        return formatNamed(*named, v, loc);

    const Sections sections = splitSections(picture);
    switch (pictureKind(picture)) {
    case Kind::Date:
        return formatDate(v, sections.part[0], loc);
    case Kind::String:
        return formatString(sections, v);
    case Kind::Number:
        break;
    }
    if (v.kind == Value::Null)
        return formatNumber(sections, std::nullopt, loc);
    if (v.kind == Value::Text && v.text.isEmpty())
        return {};
    const auto number = asNumber(v);
    if (!number || !std::isfinite(number->number))
        return plainText(v);
    return formatNumber(sections, number, loc);
}

PictureParts datePartsShown(QStringView picture)
{
    if (picture.trimmed().isEmpty())
        return {};
    // A part is shown when changing only that part changes what the picture prints.
    const QDate day(2001, 5, 12);
    const auto printed = [&](QDate d, QTime t) { return format(QVariant(QDateTime(d, t, Qt::UTC)), picture); };
    const QString base = printed(day, QTime(9, 5, 7));
    return {printed(day.addDays(398), QTime(9, 5, 7)) != base, printed(day, QTime(21, 47, 7)) != base,
            printed(day, QTime(9, 5, 38)) != base};
}

} // namespace Norvix::Values
