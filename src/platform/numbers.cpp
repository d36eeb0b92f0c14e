#include "platform/values.h"
#include "platform/values_p.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace Norvix::Values {

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

} // namespace Norvix::Values
