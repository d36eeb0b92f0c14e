#include "platform/values.h"

#include <QTime>

#include <algorithm>
#include <array>
#include <charconv>
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
// Choices where the legacy behaviour is not known:
// - Only the Italian month names are known; English names ("12 May 2001") and the AM/PM
//   designators (empty under the Italian settings) are not, so "9 PM" is not a date.
// - "." always separates time parts: "0.0" and "12.30" are times, "12.05.2001" is not a date.
// - Three numeric fields are tried as D/M/Y, M/D/Y, Y/M/D, then Y/D/M; the first valid date
//   wins. So "29/02/01" is 01/02/2029 and "2001/13/05" is 13/05/2001.
// - Two numeric fields are tried as D/M and M/D in the year of `today`, then month/year and
//   year/month with day 1. So "29/02" is 01/02/2029 when `today` is not in a leap year.
// - A month name with one number: the number is a day in the year of `today` if that is a valid
//   date, else a year with day 1. With two numbers: day then year, else year then day.
// - A year written with one or two digits goes through the window (00-29 -> 2000s, 30-99 ->
//   1900s); with three or more digits it is taken as written, so "12/05/0099" is out of range.
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

constexpr std::array<const char *, 12> monthNames = {"gennaio", "febbraio", "marzo",     "aprile",
                                                     "maggio",  "giugno",   "luglio",    "agosto",
                                                     "settembre", "ottobre", "novembre", "dicembre"};
constexpr std::array<const char *, 12> monthAbbreviations = {"gen", "feb", "mar", "apr", "mag", "giu",
                                                             "lug", "ago", "set", "ott", "nov", "dic"};

// The month 1..12 named by a word, or 0.
int monthOf(QStringView word)
{
    constexpr qsizetype longest = 9; // "settembre"
    if (word.size() < 3 || word.size() > longest)
        return 0;
    std::array<char, longest + 1> lower{};
    for (qsizetype i = 0; i < word.size(); ++i) {
        const char16_t c = word[i].unicode();
        if (c >= u'A' && c <= u'Z')
            lower[i] = static_cast<char>(c - u'A' + 'a');
        else if (c >= u'a' && c <= u'z')
            lower[i] = static_cast<char>(c);
        else
            return 0;
    }
    const std::string_view w(lower.data(), static_cast<size_t>(word.size()));
    for (int m = 0; m < 12; ++m) {
        if (w == monthNames[m] || w == monthAbbreviations[m])
            return m + 1;
    }
    return 0;
}

// Splits the text into items; false when it holds anything that cannot be part of a date.
bool tokenize(QStringView text, std::array<Item, maxItems> &items, int &count)
{
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
            const int month = monthOf(text.sliced(start, i - start));
            if (month == 0 || !push(Item{Item::Month, month, 0}))
                return false;
        } else if (u == u'/' || u == u'-') {
            if (!push(Item{Item::DateSep, 0, 0}))
                return false;
            ++i;
        } else if (u == u':' || u == u'.') {
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

int yearOf(const Item &field)
{
    if (field.digits <= 2)
        return field.value < 30 ? 2000 + field.value : 1900 + field.value;
    return field.value;
}

std::optional<QDate> makeDate(int year, int month, int day)
{
    if (year < 100 || year > 9999 || !QDate::isValid(year, month, day))
        return std::nullopt;
    return QDate(year, month, day);
}

// The date named by two or three fields (numbers and at most one month name).
std::optional<QDate> resolveDate(const std::array<Item, 3> &fields, int count, QDate today)
{
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
    std::array<Item, maxItems> items;
    int count = 0;
    if (!tokenize(text, items, count) || count == 0)
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
    const auto date = resolveDate(fields, fieldCount, today.isValid() ? today : QDate::currentDate());
    if (!date)
        return std::nullopt;
    return QDateTime(*date, time, Qt::UTC);
}

} // namespace Norvix::Values
