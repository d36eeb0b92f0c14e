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
// them; "&H" and "&O" introduce hexadecimal and octal integers, signed 16-bit up to 0xFFFF
// ("&HFFFF" = -1) and signed 32-bit above. No number: 0. Too large for a double: +/-infinity.
// Never NaN.
double val(QStringView text);

// Date recognition under the Italian settings (day/month/year, "/" and "-" as date separators,
// ":" and "." as time separators, Italian month names). `today` supplies the year for inputs
// that give only day and month. An input that is not a date yields no value. A time alone is
// dated 30/12/1899. The value is a wall-clock date and time carried with Qt::UTC, so no time
// zone or daylight-saving rule applies to it.
std::optional<QDateTime> toDate(QStringView text, QDate today = QDate::currentDate());
inline bool isDate(QStringView text, QDate today = QDate::currentDate())
{
    return toDate(text, today).has_value();
}

} // namespace Norvix::Values
