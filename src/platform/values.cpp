#include "platform/values.h"
#include "platform/values_p.h"

#include <QRegularExpression>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

// Leading numbers, the regional settings and numbers as the user types them. Text to number
// and number to text are in numbers.cpp, dates in dates.cpp.

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
