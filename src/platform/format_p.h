#pragma once

// What the picture formatting shares (format.cpp, formatvalue.cpp, formatnumber.cpp,
// formatdate.cpp): the value as a picture sees it, and how a picture is read. Internal to the
// library.

#include "platform/values.h"

#include <QDateTime>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace Norvix::Values::Picture {

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

Value classify(const QVariant &variant);
QString plainText(const Value &v);
Decimal decimalOf(const Value &v);
// The number a value stands for in a number picture; no value when it is not a number.
std::optional<Value> asNumber(const Value &v);

// The date and time (to the second) a value stands for in a date picture.
struct DateParts
{
    QDate date;
    QTime time;
};
std::optional<DateParts> asDate(const Value &v);

enum class Kind : std::uint8_t { Number, Date, String };

struct Sections
{
    std::array<QStringView, 4> part;
    int count = 0;
};

// Index just past the closing quote of a literal opened at `open`, or the end.
qsizetype afterQuote(QStringView s, qsizetype open);
QStringView quoted(QStringView s, qsizetype open);
Sections splitSections(QStringView picture);
char16_t asciiLower(QChar c);
// Length of an AM/PM-type token at `at` (AM/PM, AMPM, A/P, any letter case), or 0.
qsizetype amPmLength(QStringView s, qsizetype at);
// How many times the letter at `at` repeats, ignoring letter case.
qsizetype runLength(QStringView s, qsizetype at);
Kind pictureKind(QStringView picture);

// A number, or Null, through up to four sections: positive; negative; zero; Null (formatnumber.cpp).
QString formatNumber(const Sections &sections, const std::optional<Value> &number, const Locale &loc);
// A value through the first section of a date picture (formatdate.cpp).
QString formatDate(const Value &v, QStringView picture, const Locale &loc);

} // namespace Norvix::Values::Picture
