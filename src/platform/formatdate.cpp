#include "platform/format_p.h"
#include "platform/values_p.h"

#include <QTime>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace Norvix::Values::Picture {

// ---------------------------------------------------------------------------------------------
// Date pictures
// ---------------------------------------------------------------------------------------------

namespace {

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
} // namespace

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

} // namespace Norvix::Values::Picture
