#pragma once

// Value rules shared by the whole library: the text forms of numbers and dates under the
// Italian regional settings, and the locale-independent leading-number reading of descriptors.
// Nothing else in Norvix parses or formats a value.

#include <QDate>
#include <QDateTime>
#include <QStringView>

#include <optional>

namespace Norvix::Values {

// The number at the start of a text, read without regard to the regional settings: blanks,
// tabs and line breaks are dropped everywhere first; "." is the only decimal mark; an optional
// sign, digits, fraction and exponent are read up to the first character that cannot continue
// them; "&H" and "&O" introduce hexadecimal and octal integers. No number: 0.
double val(QStringView text);

// Date recognition under the Italian settings (day/month/year, "/" and "-" as date separators,
// ":" and "." as time separators, Italian month names). `today` supplies the year for inputs
// that give only day and month. An input that is not a date yields no value.
std::optional<QDateTime> toDate(QStringView text, QDate today = QDate::currentDate());
inline bool isDate(QStringView text, QDate today = QDate::currentDate())
{
    return toDate(text, today).has_value();
}

} // namespace Norvix::Values
