#include "platform/values.h"
#include "platform/values_p.h"

#include <QTime>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <optional>

namespace Norvix::Values {

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
// Dates to text
// ---------------------------------------------------------------------------------------------

namespace {

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

} // namespace Norvix::Values
