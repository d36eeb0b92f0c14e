#include "platform/values.h"

#include <QRegularExpression>

#include <QTime>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace Norvix::Values {

// ---------------------------------------------------------------------------------------------
// Leading-number reading
//
// Choices where the legacy behaviour is not known or cannot be carried by a double:
// - "&H"/"&O" (either letter case) must open the text; a sign before them is not read
//   ("-&H10" gives 0). A value up to 0xFFFF is a signed 16-bit integer ("&HFFFF" = -1,
//   "&H0FFFF" = -1 too: leading zeros do not count); a larger one is a signed 32-bit integer
//   ("&H10000" = 65536, "&HFFFFFFFF" = -1); beyond 32 bits only the low 32 bits are kept.
// - A decimal number too large for a double gives +/-infinity, one too small gives 0 (the
//   legacy raised an overflow error, which a double cannot carry).
// - A type-suffix character simply ends the number: "50%" = 50 and "50.5%" = 50.5 (the legacy
//   raised a type mismatch for the latter).
// - The result is never negative zero and never NaN.
// ---------------------------------------------------------------------------------------------

namespace {

// Walks a text as if blanks, tabs and line breaks were not there.
class CompactReader
{
public:
    explicit CompactReader(QStringView text) : m_text(text) {}

    // The current character, or 0 at the end.
    char16_t peek()
    {
        while (m_pos < m_text.size()) {
            const char16_t c = m_text[m_pos].unicode();
            if (c != u' ' && c != u'\t' && c != u'\r' && c != u'\n')
                return c;
            ++m_pos;
        }
        return 0;
    }
    void next() { ++m_pos; }

private:
    QStringView m_text;
    qsizetype m_pos = 0;
};

bool isAsciiDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

int hexDigit(char16_t c)
{
    if (isAsciiDigit(c))
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

double readRadix(CompactReader &in, int radix)
{
    std::uint32_t low = 0; // low 32 bits of the value
    bool beyond16 = false; // the value exceeds 0xFFFF
    const int shift = radix == 16 ? 4 : 3;
    for (;;) {
        const int d = hexDigit(in.peek());
        if (d < 0 || d >= radix)
            break;
        in.next();
        low = (low << shift) | static_cast<std::uint32_t>(d);
        beyond16 = beyond16 || low > 0xFFFFu; // stays set once the value has passed 0xFFFF
    }
    if (!beyond16)
        return static_cast<std::int16_t>(static_cast<std::uint16_t>(low));
    return static_cast<std::int32_t>(low);
}

double readDecimal(CompactReader &in)
{
    std::string buf; // the number in the form std::from_chars reads: [-]digits[.digits][e[-]digits]
    bool negative = false;
    if (in.peek() == u'+' || in.peek() == u'-') {
        negative = in.peek() == u'-';
        in.next();
    }

    // Mantissa; leading zeros of the integer part are dropped. The decimal exponent of the first
    // significant digit is tracked so that an out-of-range result can be told overflow or
    // underflow.
    bool anyDigit = false;
    long long magnitude = 0; // decimal exponent of the leading significant digit, plus one
    bool significant = false;
    while (isAsciiDigit(in.peek())) {
        const char16_t c = in.peek();
        in.next();
        anyDigit = true;
        if (c == u'0' && !significant)
            continue;
        significant = true;
        buf.push_back(static_cast<char>(c));
        ++magnitude;
    }
    if (buf.empty())
        buf.push_back('0');
    if (in.peek() == u'.') {
        in.next();
        bool point = false;
        while (isAsciiDigit(in.peek())) {
            const char16_t c = in.peek();
            in.next();
            anyDigit = true;
            if (!point) {
                buf.push_back('.');
                point = true;
            }
            buf.push_back(static_cast<char>(c));
            if (!significant) {
                if (c == u'0')
                    --magnitude;
                else
                    significant = true;
            }
        }
    }
    if (!anyDigit || !significant)
        return 0.0;

    // Exponent: read only when digits follow the letter and its sign.
    long long exponent = 0;
    if (in.peek() == u'e' || in.peek() == u'E') {
        in.next();
        bool expNegative = false;
        if (in.peek() == u'+' || in.peek() == u'-') {
            expNegative = in.peek() == u'-';
            in.next();
        }
        if (isAsciiDigit(in.peek())) {
            constexpr long long cap = 1'000'000'000; // far beyond any representable exponent
            while (isAsciiDigit(in.peek())) {
                exponent = std::min(cap, exponent * 10 + (in.peek() - u'0'));
                in.next();
            }
            if (expNegative)
                exponent = -exponent;
            buf += 'e';
            buf += std::to_string(exponent);
        }
    }

    double value = 0.0;
    const auto result = std::from_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range)
        value = magnitude + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    else if (result.ec != std::errc())
        value = 0.0; // cannot happen: the buffer is always well formed
    if (value == 0.0)
        return 0.0;
    return negative ? -value : value;
}

} // namespace

double val(QStringView text)
{
    CompactReader in(text);
    if (in.peek() == u'&') {
        in.next();
        const char16_t kind = in.peek();
        if (kind == u'H' || kind == u'h') {
            in.next();
            return readRadix(in, 16);
        }
        if (kind == u'O' || kind == u'o') {
            in.next();
            return readRadix(in, 8);
        }
        return 0.0;
    }
    return readDecimal(in);
}

// ---------------------------------------------------------------------------------------------
// Date recognition
//
// The month names, the two-digit year window and the date and time separators come from the
// regional settings. Choices where the legacy behaviour is not known:
// - Only the regional month names are known; English names ("12 May 2001") and the AM/PM
//   designators (empty under the Italian settings) are not, so "9 PM" is not a date.
// - "." always separates time parts: "0.0" and "12.30" are times, "12.05.2001" is not a date.
// - Three numeric fields are tried as D/M/Y, M/D/Y, Y/M/D, then Y/D/M; the first valid date
//   wins. So "29/02/01" is 01/02/2029 and "2001/13/05" is 13/05/2001.
// - Two numeric fields are tried as D/M and M/D in the year of `today`, then month/year and
//   year/month with day 1. So "29/02" is 01/02/2029 when `today` is not in a leap year.
// - A month name with one number: the number is a day in the year of `today` if that is a valid
//   date, else a year with day 1. With two numbers: day then year, else year then day.
// - A year written with one or two digits goes through the window (Italian default: 00-29 ->
//   2000s, 30-99 -> 1900s); with three or more digits it is taken as written, so "12/05/0099" is
//   out of range.
// - The time may come before or after the date, not in the middle of it; only one time.
// - The result carries the wall-clock date and time as UTC, so that no time zone or daylight
//   saving rule can shift or invalidate it.
// ---------------------------------------------------------------------------------------------

namespace {

struct Item
{
    enum Kind : std::uint8_t { Number, Month, DateSep, TimeSep };
    Kind kind = Number;
    int value = 0;  // the number (saturated), or the month 1..12
    int digits = 0; // how many digits the number was written with (saturated)
};

// The longest recognisable input: three date fields, two date separators, a three-part time.
constexpr int maxItems = 10;
constexpr int saturated = 1'000'000; // larger than any field can be

// The month 1..12 named by a word (full name or abbreviation of the regional settings, any letter
// case), or 0.
int monthOf(QStringView word, const Locale &loc)
{
    for (const QStringList *names : {&loc.monthNames, &loc.monthAbbreviations}) {
        const qsizetype count = std::min<qsizetype>(names->size(), 12);
        for (qsizetype m = 0; m < count; ++m) {
            const QString &name = names->at(m);
            if (!name.isEmpty() && name.size() == word.size()
                && word.compare(name, Qt::CaseInsensitive) == 0)
                return int(m) + 1;
        }
    }
    return 0;
}

// Splits the text into items; false when it holds anything that cannot be part of a date.
bool tokenize(QStringView text, const Locale &loc, std::array<Item, maxItems> &items, int &count)
{
    // Besides "/" and "-", the regional date separator; besides ":" and ".", the regional time
    // separator. A blank never becomes a separator, and the date separator wins a tie.
    const QChar dateSep = loc.dateSeparator.isSpace() ? QChar(u'/') : loc.dateSeparator;
    const QChar timeSep = loc.timeSeparator.isSpace() ? QChar(u':') : loc.timeSeparator;
    count = 0;
    auto push = [&](Item item) {
        if (count == maxItems)
            return false;
        items[count++] = item;
        return true;
    };
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        const QChar c = text[i];
        const char16_t u = c.unicode();
        if (isAsciiDigit(u)) {
            Item item{Item::Number, 0, 0};
            for (; i < n && isAsciiDigit(text[i].unicode()); ++i) {
                item.value = std::min(saturated, item.value * 10 + (text[i].unicode() - u'0'));
                item.digits = std::min(saturated, item.digits + 1);
            }
            if (!push(item))
                return false;
        } else if (c.isLetter()) {
            const qsizetype start = i;
            while (i < n && text[i].isLetter())
                ++i;
            const int month = monthOf(text.sliced(start, i - start), loc);
            if (month == 0 || !push(Item{Item::Month, month, 0}))
                return false;
        } else if (u == u'/' || u == u'-' || c == dateSep) {
            if (!push(Item{Item::DateSep, 0, 0}))
                return false;
            ++i;
        } else if (u == u':' || u == u'.' || c == timeSep) {
            if (!push(Item{Item::TimeSep, 0, 0}))
                return false;
            ++i;
        } else if (u == u',' || c.isSpace()) {
            ++i;
        } else {
            return false;
        }
    }
    return true;
}

int windowedYear(const Item &field, int cutoff)
{
    if (field.digits <= 2)
        return field.value < cutoff ? 2000 + field.value : 1900 + field.value;
    return field.value;
}

std::optional<QDate> makeDate(int year, int month, int day)
{
    if (year < 100 || year > 9999 || !QDate::isValid(year, month, day))
        return std::nullopt;
    return QDate(year, month, day);
}

// The date named by two or three fields (numbers and at most one month name).
// `today` may be invalid: the clock is then read, only for the inputs that need a year.
std::optional<QDate> resolveDate(const std::array<Item, 3> &fields, int count, QDate today, int cutoff)
{
    if (count == 2 && !today.isValid())
        today = QDate::currentDate();
    const auto yearOf = [cutoff](const Item &field) { return windowedYear(field, cutoff); };
    int monthAt = -1;
    for (int i = 0; i < count; ++i) {
        if (fields[i].kind == Item::Month) {
            if (monthAt >= 0)
                return std::nullopt;
            monthAt = i;
        }
    }

    if (monthAt >= 0) {
        const int month = fields[monthAt].value;
        std::array<Item, 2> numbers{};
        for (int i = 0, k = 0; i < count; ++i) {
            if (i != monthAt)
                numbers[k++] = fields[i];
        }
        if (count == 2) {
            if (auto d = makeDate(today.year(), month, numbers[0].value))
                return d;
            return makeDate(yearOf(numbers[0]), month, 1);
        }
        if (auto d = makeDate(yearOf(numbers[1]), month, numbers[0].value))
            return d;
        return makeDate(yearOf(numbers[0]), month, numbers[1].value);
    }

    const Item &a = fields[0];
    const Item &b = fields[1];
    if (count == 2) {
        if (auto d = makeDate(today.year(), b.value, a.value))
            return d;
        if (auto d = makeDate(today.year(), a.value, b.value))
            return d;
        if (auto d = makeDate(yearOf(b), a.value, 1))
            return d;
        return makeDate(yearOf(a), b.value, 1);
    }
    const Item &c = fields[2];
    if (auto d = makeDate(yearOf(c), b.value, a.value)) // D/M/Y
        return d;
    if (auto d = makeDate(yearOf(c), a.value, b.value)) // M/D/Y
        return d;
    if (auto d = makeDate(yearOf(a), b.value, c.value)) // Y/M/D
        return d;
    return makeDate(yearOf(a), c.value, b.value); // Y/D/M
}

} // namespace

std::optional<QDateTime> toDate(QStringView text, QDate today)
{
    const Locale &loc = locale();
    std::array<Item, maxItems> items;
    int count = 0;
    if (!tokenize(text, loc, items, count) || count == 0)
        return std::nullopt;

    // The time: numbers joined by time separators, [timeBegin, timeEnd).
    int timeBegin = -1;
    int timeEnd = -1;
    for (int i = 0; i < count; ++i) {
        if (items[i].kind != Item::TimeSep)
            continue;
        if (timeBegin < 0) {
            if (i == 0 || items[i - 1].kind != Item::Number)
                return std::nullopt;
            timeBegin = i - 1;
        } else if (i != timeEnd) {
            return std::nullopt; // a second time, or a separator not between two numbers
        }
        if (i + 1 >= count || items[i + 1].kind != Item::Number)
            return std::nullopt;
        timeEnd = i + 2;
    }
    QTime time(0, 0);
    int dateBegin = 0;
    int dateEnd = count;
    if (timeBegin >= 0) {
        const int parts = (timeEnd - timeBegin + 1) / 2;
        if (parts > 3)
            return std::nullopt; // fractional seconds, or more
        const int h = items[timeBegin].value;
        const int m = items[timeBegin + 2].value;
        const int s = parts == 3 ? items[timeBegin + 4].value : 0;
        if (h > 23 || m > 59 || s > 59)
            return std::nullopt;
        time = QTime(h, m, s);
        if (timeBegin == 0)
            dateBegin = timeEnd;
        else if (timeEnd == count)
            dateEnd = timeBegin;
        else
            return std::nullopt; // the time splits the date
    }

    // The date: two or three fields, each pair at most one date separator apart.
    std::array<Item, 3> fields{};
    int fieldCount = 0;
    bool afterField = false;
    for (int i = dateBegin; i < dateEnd; ++i) {
        if (items[i].kind == Item::DateSep) {
            if (!afterField)
                return std::nullopt;
            afterField = false;
            continue;
        }
        if (fieldCount == 3)
            return std::nullopt;
        fields[fieldCount++] = items[i];
        afterField = true;
    }
    if (fieldCount > 0 && !afterField)
        return std::nullopt; // trailing separator

    if (fieldCount == 0) {
        if (timeBegin < 0)
            return std::nullopt;
        return QDateTime(QDate(1899, 12, 30), time, Qt::UTC);
    }
    if (fieldCount == 1)
        return std::nullopt; // a bare number or a lone month name
    const int cutoff = std::clamp(loc.twoDigitYearCutoff, 0, 100);
    const auto date = resolveDate(fields, fieldCount, today, cutoff);
    if (!date)
        return std::nullopt;
    return QDateTime(*date, time, Qt::UTC);
}

// ---------------------------------------------------------------------------------------------
// Regional settings
// ---------------------------------------------------------------------------------------------

Locale Locale::italian()
{
    Locale l;
    l.monthNames = {QStringLiteral("gennaio"), QStringLiteral("febbraio"), QStringLiteral("marzo"),
                    QStringLiteral("aprile"),  QStringLiteral("maggio"),   QStringLiteral("giugno"),
                    QStringLiteral("luglio"),  QStringLiteral("agosto"),   QStringLiteral("settembre"),
                    QStringLiteral("ottobre"), QStringLiteral("novembre"), QStringLiteral("dicembre")};
    l.monthAbbreviations = {QStringLiteral("gen"), QStringLiteral("feb"), QStringLiteral("mar"), QStringLiteral("apr"),
                            QStringLiteral("mag"), QStringLiteral("giu"), QStringLiteral("lug"), QStringLiteral("ago"),
                            QStringLiteral("set"), QStringLiteral("ott"), QStringLiteral("nov"), QStringLiteral("dic")};
    l.dayNames = {QStringLiteral("domenica"),  QStringLiteral("lunedì"),  QStringLiteral("martedì"),
                  QStringLiteral("mercoledì"), QStringLiteral("giovedì"), QStringLiteral("venerdì"),
                  QStringLiteral("sabato")};
    l.dayAbbreviations = {QStringLiteral("dom"), QStringLiteral("lun"), QStringLiteral("mar"), QStringLiteral("mer"),
                          QStringLiteral("gio"), QStringLiteral("ven"), QStringLiteral("sab")};
    return l;
}

namespace {
Locale &currentLocale()
{
    static Locale settings = Locale::italian();
    return settings;
}
} // namespace

const Locale &locale()
{
    return currentLocale();
}

void setLocale(const Locale &locale)
{
    currentLocale() = locale;
}

// ---------------------------------------------------------------------------------------------
// Text to number under the regional settings
//
// Choices where the legacy behaviour is not known:
// - Blanks (space, tab, line breaks, no-break space) may surround the number and separate it from
//   the sign, the parentheses and the currency symbol: "- 3", "-€ 12,50", "12,50 € -".
// - A thousands separator must stand between two digits of the integer part; group sizes are not
//   checked: "1.5" is 15 and "1.2.3" is 123, but ".5", "1." and "1..2" are not numbers.
// - A sign and parentheses do not combine: "(-3)" is not a number.
// - "&H"/"&O" take no sign, parentheses or currency symbol. As for the leading-number reading, a
//   value up to &HFFFF is a signed 16-bit integer ("&HFFFF" = -1), a larger one a signed 32-bit
//   integer; beyond 32 bits the text overflows.
// - Every conversion works on the exact decimal digits, never through a double, so halves to even
//   apply to exact halves only ("2,5000000000000001" is the Integer 3).
// - A number too small for a Double or a Single becomes 0 (no underflow error).
// - toSingle overflows where the value would round beyond the largest Single (3,402823E38).
// - toBoolean accepts a number of any size; only its being zero matters.
// - toDecimalText keeps the written digits, trailing zeros included ("1,50" -> "1.50"); an exponent
//   that would add more than 1000 zeros overflows.
// ---------------------------------------------------------------------------------------------

namespace {

bool isBlank(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\u00a0';
}

QStringView trimBlanks(QStringView text)
{
    qsizetype b = 0;
    qsizetype e = text.size();
    while (b < e && isBlank(text[b].unicode()))
        ++b;
    while (e > b && isBlank(text[e - 1].unicode()))
        --e;
    return text.sliced(b, e - b);
}

struct ParsedNumber
{
    bool negative = false;
    bool radix = false;    // written as &H or &O
    qint64 radixValue = 0; // its value, sign included
    std::string digits;    // integer then fraction digits; the integer part without leading zeros
    qint64 scale = 0;      // value = digits x 10^-scale

    // The digits without leading zeros (empty: the value is zero).
    std::string_view significant() const
    {
        const auto first = digits.find_first_not_of('0');
        return first == std::string::npos ? std::string_view() : std::string_view(digits).substr(first);
    }
};

ConversionError parseRadix(QStringView body, ParsedNumber &out)
{
    // body starts with '&'
    if (body.size() < 3)
        return ConversionError::TypeMismatch;
    const char16_t kind = body[1].unicode();
    const int radix = (kind == u'H' || kind == u'h') ? 16 : (kind == u'O' || kind == u'o') ? 8 : 0;
    if (radix == 0)
        return ConversionError::TypeMismatch;
    std::uint64_t value = 0;
    bool overflow = false;
    for (qsizetype i = 2; i < body.size(); ++i) {
        const int d = hexDigit(body[i].unicode());
        if (d < 0 || d >= radix)
            return ConversionError::TypeMismatch;
        value = value * std::uint64_t(radix) + std::uint64_t(d);
        overflow = overflow || value > 0xFFFFFFFFu;
        if (overflow)
            value = 0; // keep scanning for a mismatch, which takes precedence
    }
    if (overflow)
        return ConversionError::Overflow;
    out.radix = true;
    out.radixValue = value <= 0xFFFFu ? qint64(std::int16_t(std::uint16_t(value))) : qint64(std::int32_t(std::uint32_t(value)));
    return ConversionError::None;
}

// The digits of a number from position i: whole part (thousands separators between digits
// allowed), then the fraction; false when there is no digit.
bool readDigits(QStringView text, qsizetype &i, const Locale &loc, ParsedNumber &out, qint64 &fractionDigits)
{
    const qsizetype n = text.size();
    const QChar decimal = loc.decimalSeparator;
    const QChar thousands = loc.thousandsSeparator == decimal ? QChar() : loc.thousandsSeparator;
    bool anyDigit = false;
    while (i < n) {
        const char16_t c = text[i].unicode();
        if (isAsciiDigit(c)) {
            if (!(out.digits.empty() && c == u'0'))
                out.digits.push_back(char(c));
            anyDigit = true;
            ++i;
        } else if (anyDigit && text[i] == thousands && !thousands.isNull() && i + 1 < n
                   && isAsciiDigit(text[i + 1].unicode())) {
            ++i;
        } else {
            break;
        }
    }
    if (i < n && text[i] == decimal) {
        ++i;
        for (; i < n && isAsciiDigit(text[i].unicode()); ++i) {
            out.digits.push_back(char(text[i].unicode()));
            ++fractionDigits;
            anyDigit = true;
        }
    }
    return anyDigit;
}

// An exponent ("E-3") at position i, if there is one; false when it is written wrong.
bool readExponent(QStringView text, qsizetype &i, qint64 &exponent)
{
    const qsizetype n = text.size();
    if (i >= n || (text[i] != u'e' && text[i] != u'E'))
        return true;
    ++i;
    bool negativeExponent = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        negativeExponent = text[i] == u'-';
        ++i;
    }
    if (i >= n || !isAsciiDigit(text[i].unicode()))
        return false;
    constexpr qint64 cap = 1'000'000'000; // far beyond any representable exponent
    for (; i < n && isAsciiDigit(text[i].unicode()); ++i)
        exponent = std::min(cap, exponent * 10 + (text[i].unicode() - u'0'));
    if (negativeExponent)
        exponent = -exponent;
    return true;
}

ConversionError parseNumber(QStringView text, const Locale &loc, ParsedNumber &out)
{
    text = trimBlanks(text);
    const qsizetype n = text.size();
    const QStringView symbol = loc.currencySymbol;
    qsizetype i = 0;
    const auto skipBlanks = [&] {
        while (i < n && isBlank(text[i].unicode()))
            ++i;
    };
    const auto atSymbol = [&] { return !symbol.isEmpty() && text.sliced(i).startsWith(symbol); };

    bool sign = false;
    bool paren = false;
    bool currency = false;
    for (;;) {
        skipBlanks();
        if (i >= n)
            break;
        const char16_t c = text[i].unicode();
        if (c == u'(' && !paren && !sign) {
            paren = true;
            ++i;
        } else if ((c == u'+' || c == u'-') && !sign && !paren) {
            sign = true;
            out.negative = c == u'-';
            ++i;
        } else if (!currency && atSymbol()) {
            currency = true;
            i += symbol.size();
        } else {
            break;
        }
    }
    if (i >= n)
        return ConversionError::TypeMismatch;
    if (text[i] == u'&') {
        if (sign || paren || currency)
            return ConversionError::TypeMismatch;
        return parseRadix(text.sliced(i), out);
    }

    qint64 fractionDigits = 0;
    if (!readDigits(text, i, loc, out, fractionDigits))
        return ConversionError::TypeMismatch;
    qint64 exponent = 0;
    if (!readExponent(text, i, exponent))
        return ConversionError::TypeMismatch;
    out.scale = fractionDigits - exponent;

    bool closed = false;
    for (;;) {
        skipBlanks();
        if (i >= n)
            break;
        const char16_t c = text[i].unicode();
        if (c == u')' && paren && !closed) {
            closed = true;
            ++i;
        } else if ((c == u'+' || c == u'-') && !sign && !paren) {
            sign = true;
            out.negative = c == u'-';
            ++i;
        } else if (!currency && atSymbol()) {
            currency = true;
            i += symbol.size();
        } else {
            return ConversionError::TypeMismatch;
        }
    }
    if (paren != closed)
        return ConversionError::TypeMismatch;
    if (paren)
        out.negative = true;
    return ConversionError::None;
}

template<typename T>
std::optional<T> failed(ConversionError *error, ConversionError why)
{
    if (error)
        *error = why;
    return std::nullopt;
}

template<typename T>
std::optional<T> converted(ConversionError *error, T value)
{
    if (error)
        *error = ConversionError::None;
    return value;
}

template<typename F>
std::optional<F> toFloating(QStringView text, ConversionError *error)
{
    ParsedNumber p;
    if (const auto e = parseNumber(text, locale(), p); e != ConversionError::None)
        return failed<F>(error, e);
    if (p.radix)
        return converted(error, F(p.radixValue));
    const std::string_view digits = p.significant();
    if (digits.empty())
        return converted(error, F(0));
    std::string buf(digits);
    buf += 'e';
    buf += std::to_string(-p.scale);
    F value{};
    const auto result = std::from_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        if (qint64(digits.size()) - p.scale > 0)
            return failed<F>(error, ConversionError::Overflow);
        value = 0;
    } else if (result.ec != std::errc() || !std::isfinite(value)) {
        return failed<F>(error, ConversionError::Overflow);
    }
    if (value == 0)
        return converted(error, F(0));
    return converted(error, p.negative ? -value : value);
}

// |value| x 10^shift rounded to an integer, halves to even; no value beyond 64 bits.
std::optional<std::uint64_t> roundedMagnitude(const ParsedNumber &p, int shift)
{
    const std::string_view d = p.significant();
    if (d.empty())
        return 0;
    const qint64 len = qint64(d.size());
    const qint64 integerDigits = len - (p.scale - shift);
    if (integerDigits > 20)
        return std::nullopt;
    std::uint64_t v = 0;
    constexpr std::uint64_t top = std::numeric_limits<std::uint64_t>::max();
    for (qint64 k = 0; k < integerDigits; ++k) {
        const unsigned digit = k < len ? unsigned(d[size_t(k)] - '0') : 0u;
        if (v > (top - digit) / 10)
            return std::nullopt;
        v = v * 10 + digit;
    }
    if (integerDigits < 0 || integerDigits >= len)
        return v; // below 0.1, or a whole number
    const char first = d[size_t(integerDigits)];
    bool up = first > '5';
    if (first == '5')
        up = d.find_first_not_of('0', size_t(integerDigits) + 1) != std::string_view::npos || (v & 1u) != 0;
    if (up) {
        if (v == top)
            return std::nullopt;
        ++v;
    }
    return v;
}

// A whole number in [-maxNegative, maxPositive], from the value x 10^shift.
std::optional<qint64> toWhole(QStringView text, int shift, std::uint64_t maxNegative, std::uint64_t maxPositive,
                              ConversionError *error)
{
    ParsedNumber p;
    if (const auto e = parseNumber(text, locale(), p); e != ConversionError::None)
        return failed<qint64>(error, e);
    std::uint64_t magnitude = 0;
    bool negative = false;
    if (p.radix) {
        negative = p.radixValue < 0;
        magnitude = std::uint64_t(negative ? -p.radixValue : p.radixValue);
        for (int k = 0; k < shift; ++k)
            magnitude *= 10; // at most 2^32 x 10^4
    } else {
        const auto rounded = roundedMagnitude(p, shift);
        if (!rounded)
            return failed<qint64>(error, ConversionError::Overflow);
        magnitude = *rounded;
        negative = p.negative;
    }
    if (magnitude == 0)
        return converted<qint64>(error, 0);
    if (magnitude > (negative ? maxNegative : maxPositive))
        return failed<qint64>(error, ConversionError::Overflow);
    // Two's complement: -(2^63) is reached through the unsigned negation.
    return converted(error, negative ? qint64(0 - magnitude) : qint64(magnitude));
}

template<typename T>
std::optional<T> toIntegral(QStringView text, ConversionError *error)
{
    const auto minimum = std::uint64_t(0) - std::uint64_t(std::numeric_limits<T>::min());
    const auto v = toWhole(text, 0, minimum, std::uint64_t(std::numeric_limits<T>::max()), error);
    if (!v)
        return std::nullopt;
    return T(*v);
}

} // namespace

std::optional<double> toDouble(QStringView text, ConversionError *error)
{
    return toFloating<double>(text, error);
}

std::optional<float> toSingle(QStringView text, ConversionError *error)
{
    return toFloating<float>(text, error);
}

std::optional<qint64> toCurrency(QStringView text, ConversionError *error)
{
    constexpr auto top = std::uint64_t(std::numeric_limits<qint64>::max());
    return toWhole(text, 4, top + 1, top, error);
}

std::optional<qint32> toLong(QStringView text, ConversionError *error)
{
    return toIntegral<qint32>(text, error);
}

std::optional<qint16> toInteger(QStringView text, ConversionError *error)
{
    return toIntegral<qint16>(text, error);
}

std::optional<quint8> toByte(QStringView text, ConversionError *error)
{
    return toIntegral<quint8>(text, error);
}

std::optional<bool> toBoolean(QStringView text, ConversionError *error)
{
    const QStringView t = trimBlanks(text);
    if (t.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0 || t == QLatin1String("#TRUE#"))
        return converted(error, true);
    if (t.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0 || t == QLatin1String("#FALSE#"))
        return converted(error, false);
    ParsedNumber p;
    if (const auto e = parseNumber(t, locale(), p); e != ConversionError::None)
        return failed<bool>(error, e);
    return converted(error, p.radix ? p.radixValue != 0 : !p.significant().empty());
}

std::optional<QString> toDecimalText(QStringView text, ConversionError *error)
{
    ParsedNumber p;
    if (const auto e = parseNumber(text, locale(), p); e != ConversionError::None)
        return failed<QString>(error, e);
    if (p.radix)
        return converted(error, QString::number(p.radixValue));

    constexpr qint64 maxPadding = 1000;
    const std::string &d = p.digits;
    const qint64 len = qint64(d.size());
    std::string integer;
    std::string fraction;
    if (p.scale <= 0) {
        if (-p.scale > maxPadding)
            return failed<QString>(error, ConversionError::Overflow);
        integer = d;
        integer.append(size_t(-p.scale), '0');
    } else if (p.scale >= len) {
        if (p.scale - len > maxPadding)
            return failed<QString>(error, ConversionError::Overflow);
        fraction.assign(size_t(p.scale - len), '0');
        fraction += d;
    } else {
        integer = d.substr(0, size_t(len - p.scale));
        fraction = d.substr(size_t(len - p.scale));
    }
    const auto firstSignificant = integer.find_first_not_of('0');
    integer.erase(0, firstSignificant == std::string::npos ? integer.size() : firstSignificant);
    QString out;
    out.reserve(qsizetype(integer.size() + fraction.size()) + 3);
    if (p.negative && !p.significant().empty())
        out += u'-';
    out += integer.empty() ? QStringLiteral("0") : QString::fromLatin1(integer.data(), qsizetype(integer.size()));
    if (!fraction.empty()) {
        out += u'.';
        out += QString::fromLatin1(fraction.data(), qsizetype(fraction.size()));
    }
    return converted(error, out);
}

// ---------------------------------------------------------------------------------------------
// Number to text
//
// Choices where the legacy behaviour is not known:
// - Plain notation from 0.0001 up to the last whole number with 15 significant digits (7 for a
//   Single); beyond, scientific with at least two exponent digits: 1E+15, 1E-05, 1,5E+16.
// - Infinities and NaN, which no stored value holds, print in the legacy program's own way:
//   1,#INF, -1,#INF, -1,#IND (decimal mark of the settings for numberText, "." for str).
// ---------------------------------------------------------------------------------------------

namespace {

struct Significant
{
    std::string digits; // without leading or trailing zeros; empty for zero
    int point = 0;      // value = 0.digits x 10^point
};

Significant significantOf(double magnitude, bool single)
{
    Significant s;
    std::array<char, 64> buf{};
    const int precision = single ? 6 : 14;
    const auto r = single ? std::to_chars(buf.data(), buf.data() + buf.size(), float(magnitude),
                                          std::chars_format::scientific, precision)
                          : std::to_chars(buf.data(), buf.data() + buf.size(), magnitude,
                                          std::chars_format::scientific, precision);
    const std::string_view text(buf.data(), size_t(r.ptr - buf.data()));
    const auto e = text.find('e');
    for (size_t i = 0; i < e; ++i) {
        if (text[i] != '.')
            s.digits.push_back(text[i]);
    }
    int exponent = 0;
    const char *expBegin = text.data() + e + 1;
    if (*expBegin == '+')
        ++expBegin;
    std::from_chars(expBegin, text.data() + text.size(), exponent);
    while (!s.digits.empty() && s.digits.back() == '0')
        s.digits.pop_back();
    s.point = s.digits.empty() ? 0 : exponent + 1;
    return s;
}

QString nonFiniteText(double value, QChar decimal)
{
    if (std::isnan(value))
        return QStringLiteral("-1") + decimal + QStringLiteral("#IND");
    return (value < 0 ? QStringLiteral("-1") : QStringLiteral("1")) + decimal + QStringLiteral("#INF");
}

// The digits as plain or scientific text, without sign.
QString plainText(const Significant &s, bool single, QChar decimal, bool leadingZero)
{
    if (s.digits.empty())
        return QStringLiteral("0");
    const QString digits = QString::fromLatin1(s.digits.data(), qsizetype(s.digits.size()));
    const int len = int(digits.size());
    const int widest = single ? 7 : 15;
    if (s.point >= -3 && s.point <= widest) {
        if (s.point <= 0)
            return (leadingZero ? QStringLiteral("0") : QString()) + decimal + QString(-s.point, u'0') + digits;
        if (s.point >= len)
            return digits + QString(s.point - len, u'0');
        return digits.left(s.point) + decimal + digits.mid(s.point);
    }
    QString out = digits.left(1);
    if (len > 1)
        out += decimal + digits.mid(1);
    const int exponent = s.point - 1;
    out += exponent < 0 ? QStringLiteral("E-") : QStringLiteral("E+");
    out += QString::number(std::abs(exponent)).rightJustified(2, u'0');
    return out;
}

} // namespace

QString str(double value)
{
    if (!std::isfinite(value))
        return (value > 0 ? QStringLiteral(" ") : QString()) + nonFiniteText(value, u'.');
    const Significant s = significantOf(std::fabs(value), false);
    const bool negative = value < 0 && !s.digits.empty();
    return (negative ? QStringLiteral("-") : QStringLiteral(" ")) + plainText(s, false, u'.', false);
}

QString numberText(double value, bool single)
{
    const QChar decimal = locale().decimalSeparator;
    if (single && std::isfinite(value) && !std::isfinite(float(value)))
        return nonFiniteText(value, decimal);
    if (!std::isfinite(value))
        return nonFiniteText(value, decimal);
    const Significant s = significantOf(std::fabs(value), single);
    const bool negative = value < 0 && !s.digits.empty();
    return (negative ? QStringLiteral("-") : QString()) + plainText(s, single, decimal, true);
}

// ---------------------------------------------------------------------------------------------
// Dates to text
// ---------------------------------------------------------------------------------------------

namespace {

const QDate serialBase(1899, 12, 30);

QString nameAt(const QStringList &names, int index)
{
    return index >= 0 && index < names.size() ? names.at(index) : QString();
}

QString padded(int value, int width)
{
    return QString::number(value).rightJustified(width, u'0');
}

// A system date/time pattern (see Locale) applied to a date and a time.
QString applyPattern(QStringView pattern, QDate date, QTime time, const Locale &loc)
{
    QString out;
    const qsizetype n = pattern.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = pattern[i];
        if (c == u'\'') {
            const qsizetype close = pattern.indexOf(u'\'', i + 1);
            const qsizetype end = close < 0 ? n : close;
            out += pattern.sliced(i + 1, end - i - 1);
            i = close < 0 ? n : close + 1;
            continue;
        }
        qsizetype run = 1;
        while (i + run < n && pattern[i + run] == c)
            ++run;
        const int hour = time.hour();
        switch (c.unicode()) {
        case u'd':
            out += run == 1 ? QString::number(date.day())
                 : run == 2 ? padded(date.day(), 2)
                 : nameAt(run == 3 ? loc.dayAbbreviations : loc.dayNames, date.dayOfWeek() % 7);
            break;
        case u'M':
            out += run == 1 ? QString::number(date.month())
                 : run == 2 ? padded(date.month(), 2)
                 : nameAt(run == 3 ? loc.monthAbbreviations : loc.monthNames, date.month() - 1);
            break;
        case u'y':
            out += run == 1 ? QString::number(date.year() % 100)
                 : run == 2 ? padded(date.year() % 100, 2)
                 : padded(date.year(), 4);
            break;
        case u'h':
            out += padded(hour % 12 == 0 ? 12 : hour % 12, run >= 2 ? 2 : 1);
            break;
        case u'H':
            out += padded(hour, run >= 2 ? 2 : 1);
            break;
        case u'm':
            out += padded(time.minute(), run >= 2 ? 2 : 1);
            break;
        case u's':
            out += padded(time.second(), run >= 2 ? 2 : 1);
            break;
        case u't': {
            const QString &designator = hour < 12 ? loc.amDesignator : loc.pmDesignator;
            out += run == 1 ? designator.left(1) : designator;
            break;
        }
        case u'g': // era: none in these calendars
            break;
        default:
            out += pattern.sliced(i, run);
            break;
        }
        i += run;
    }
    return out;
}

// The date and the time rounded to the second.
void splitRounded(const QDateTime &value, QDate &date, QTime &time)
{
    date = value.date();
    int seconds = (value.time().msecsSinceStartOfDay() + 500) / 1000;
    if (seconds >= 86400) {
        date = date.addDays(1);
        seconds -= 86400;
    }
    time = QTime::fromMSecsSinceStartOfDay(seconds * 1000);
}

} // namespace

QString shortDateText(QDate date)
{
    const Locale &loc = locale();
    return applyPattern(loc.shortDatePattern, date, QTime(0, 0), loc);
}

QString longDateText(QDate date)
{
    const Locale &loc = locale();
    return applyPattern(loc.longDatePattern, date, QTime(0, 0), loc);
}

QString longTimeText(QTime time)
{
    const Locale &loc = locale();
    return applyPattern(loc.longTimePattern, serialBase, time.isValid() ? time : QTime(0, 0), loc);
}

QString dateText(const QDateTime &value)
{
    if (!value.isValid())
        return {};
    QDate date;
    QTime time;
    splitRounded(value, date, time);
    if (date == serialBase)
        return longTimeText(time);
    if (time == QTime(0, 0))
        return shortDateText(date);
    return shortDateText(date) + u' ' + longTimeText(time);
}

double toSerial(const QDateTime &value)
{
    if (!value.isValid())
        return 0.0;
    const double days = double(serialBase.daysTo(value.date()));
    const double fraction = value.time().msecsSinceStartOfDay() / 86'400'000.0;
    return days < 0 ? days - fraction : days + fraction;
}

std::optional<QDateTime> fromSerial(double serial)
{
    if (!std::isfinite(serial) || serial <= -657435.0 || serial >= 2958466.0)
        return std::nullopt;
    const double days = std::trunc(serial);
    int seconds = int(std::lround(std::fabs(serial - days) * 86400.0));
    QDate date = serialBase.addDays(qint64(days));
    if (seconds >= 86400) {
        date = date.addDays(1);
        seconds -= 86400;
    }
    if (date.year() < 100 || date.year() > 9999)
        return std::nullopt;
    return QDateTime(date, QTime::fromMSecsSinceStartOfDay(seconds * 1000), Qt::UTC);
}

QString typedNumberText(QStringView text)
{
    const Locale &l = locale();
    const QString t = text.trimmed().toString();
    const auto regional = [&](const QString &s) -> std::optional<QString> {
        auto plain = toDecimalText(s);
        if (plain)
            plain->replace(u'.', l.decimalSeparator);
        return plain;
    };
    if (t.contains(l.thousandsSeparator) && !t.contains(l.decimalSeparator)) {
        // "1.234" groups digits by three: a thousands separator. "1.5" or "1234.5" does not: there
        // the separator can only be meant as a decimal point.
        const QString sep = QRegularExpression::escape(QString(l.thousandsSeparator));
        const QRegularExpression grouped(QStringLiteral("^[-+]?\\d{1,3}(%1\\d{3})+$").arg(sep));
        if (!grouped.match(t).hasMatch()) {
            QString asDecimal = t;
            asDecimal.replace(l.thousandsSeparator, l.decimalSeparator);
            if (const auto n = regional(asDecimal))
                return *n;
        }
    }
    if (const auto n = regional(t))
        return *n;
    return numberText(val(t));
}

double typedNumber(QStringView text)
{
    const QString n = typedNumberText(text);
    return toDouble(n).value_or(val(n));
}

} // namespace Norvix::Values
