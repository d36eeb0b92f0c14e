#pragma once

// Value rules shared by the whole library: the text forms of numbers and dates under the
// Italian regional settings, and the locale-independent leading-number reading of descriptors.
// Nothing else in Norvix parses or formats a value.

#include <QDate>
#include <QDateTime>
#include <QStringList>
#include <QStringView>
#include <QVariant>

#include <optional>

namespace Norvix::Values {

// Regional settings. Italian by default; every item can be changed with setLocale(). The name
// lists are filled by italian(); a default-constructed Locale has none.
// The date and time patterns use the system notation: d dd ddd dddd, M MM MMM MMMM, yy yyyy,
// H HH (24-hour), h hh (12-hour), m mm, s ss, t tt (designator), 'quoted text'.
struct Locale
{
    QChar decimalSeparator = u',';
    QChar thousandsSeparator = u'.';
    QChar dateSeparator = u'/';
    QChar timeSeparator = u':';
    QString shortDatePattern = QStringLiteral("dd/MM/yyyy");
    QString longDatePattern = QStringLiteral("dddd d MMMM yyyy");
    QString longTimePattern = QStringLiteral("HH:mm:ss");
    QString amDesignator;      // empty: 24-hour clock
    QString pmDesignator;
    QStringList monthNames;    // gennaio .. dicembre
    QStringList monthAbbreviations;
    QStringList dayNames;      // domenica .. sabato (Sunday first)
    QStringList dayAbbreviations;
    QString currencySymbol = QStringLiteral("€");
    int currencyDecimals = 2;
    int twoDigitYearCutoff = 30; // two-digit years below it are 20xx, the others 19xx

    static Locale italian();
};
// The settings in force. Change them at start-up: they are not guarded for concurrent use.
const Locale &locale();
void setLocale(const Locale &locale);

// Why a conversion failed, with the classic run-time error numbers.
enum class ConversionError { None = 0, Overflow = 6, TypeMismatch = 13 };

// Text to number under the regional settings: the whole text must be a number (blanks around it
// allowed; sign leading or trailing, parentheses for negative; decimal comma; thousands dots;
// exponent; &H/&O; currency symbol). Each function applies its type's range and rounding
// (halves to even for the integer types, four decimals for currency). On failure the result is
// empty and *error, when given, says why.
std::optional<double> toDouble(QStringView text, ConversionError *error = nullptr);
std::optional<float> toSingle(QStringView text, ConversionError *error = nullptr);
std::optional<qint64> toCurrency(QStringView text, ConversionError *error = nullptr); // value x 10000
std::optional<qint32> toLong(QStringView text, ConversionError *error = nullptr);
std::optional<qint16> toInteger(QStringView text, ConversionError *error = nullptr);
std::optional<quint8> toByte(QStringView text, ConversionError *error = nullptr);
// "True"/"False" in any letter case, "#TRUE#"/"#FALSE#", or a number (zero is False).
std::optional<bool> toBoolean(QStringView text, ConversionError *error = nullptr);
// The exact decimal value of a number written under the regional settings, as plain text with
// "." as decimal point, no grouping and no exponent ("1.234,50" -> "1234.50"), for storing
// decimals without binary rounding.
std::optional<QString> toDecimalText(QStringView text, ConversionError *error = nullptr);

// Number to text: with "." and a leading blank for non-negative numbers (" 42", "-1.5", " .5").
QString str(double value);
// Number to text under the regional settings, without grouping ("1234,5"); 15 significant digits
// (7 when `single`).
QString numberText(double value, bool single = false);
// A date to text: short date, then the long time when the time is not midnight; the time alone
// when the date part is 30/12/1899. The time is rounded to the second.
QString dateText(const QDateTime &value);
// The regional short date, long date and long time of a value.
QString shortDateText(QDate date);
QString longDateText(QDate date);
QString longTimeText(QTime time);

// Dates as the legacy serial numbers: days since 30/12/1899, the fraction giving the time of day.
// Before that day the fraction still counts forwards (-1.25 is 29/12/1899 06:00). fromSerial gives
// no value outside 01/01/0100 .. 31/12/9999 or for a non-finite number; it rounds to the second.
double toSerial(const QDateTime &value);
std::optional<QDateTime> fromSerial(double serial);

// Formats a value with a display picture (dates, numbers, strings, named formats such as
// "Short Date", "Currency", "Percent", "Yes/No"). An empty picture gives the value's plain text.
// Text that reads as a number or a date is formatted as one when the picture asks for it; a value
// the picture cannot take comes back as its plain text. Booleans count as -1 and 0; QDate, QTime
// and QDateTime values are dates (taken as wall-clock values, whatever their time zone setting). A null
// QVariant of any type is Null (the fourth number section, the second string section, otherwise
// empty text); an invalid QVariant counts as empty text.
QString format(const QVariant &value, QStringView picture);

// The parts of a date and time that a display picture shows (an empty picture shows them all):
// the date, the time of day (hours or minutes), the seconds. A part it hides is one the user
// cannot see or type in a field with that picture.
struct PictureParts
{
    bool date = true, time = true, seconds = true;
};
PictureParts datePartsShown(QStringView picture);

// The number at the start of a text, read without regard to the regional settings: blanks,
// tabs and line breaks are dropped everywhere first; "." is the only decimal mark; an optional
// sign, digits, fraction and exponent are read up to the first character that cannot continue
// them; "&H" and "&O" introduce hexadecimal and octal integers, signed 16-bit up to 0xFFFF
// ("&HFFFF" = -1) and signed 32-bit above. No number: 0. Too large for a double: +/-infinity.
// Never NaN.
double val(QStringView text);

// A number as a user types it into a field, in its regional text form without grouping. The text
// is read under the regional settings ("12,75" is 12,75; "1.234,5" is 1234,5; "1.234" is 1234)
// and not by its leading number, which would stop at the decimal comma. Where a thousands
// separator does not group three digits ("1.5", "1234.5") it can only be meant as a decimal point
// and is read as one, where the regional reading would drop it (15, 12345). A text that is no
// number gives its leading number as val() reads it ("12abc" is 12; "" and "abc" are 0).
QString typedNumberText(QStringView text);
double typedNumber(QStringView text);

// Date recognition under the regional settings (Italian by default: day/month/year, "/" and "-"
// as date separators, ":" and "." as time separators, Italian month names, two-digit years 00-29
// in the 2000s). `today` supplies the year for inputs that give only day and month; when it is
// invalid the clock is read, only for such inputs. An input that is not a date yields no value.
// A time alone is dated 30/12/1899. The value is a wall-clock date and time carried with
// Qt::UTC, so no time zone or daylight-saving rule applies to it.
std::optional<QDateTime> toDate(QStringView text, QDate today = QDate::currentDate());
inline bool isDate(QStringView text, QDate today = QDate::currentDate())
{
    return toDate(text, today).has_value();
}

} // namespace Norvix::Values
