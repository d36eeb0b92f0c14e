#include "platform/format_p.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Norvix::Values::Picture {

// ---------------------------------------------------------------------------------------------
// Number pictures
// ---------------------------------------------------------------------------------------------

namespace {

struct NumberItem
{
    enum Type : std::uint8_t { Literal, IntegerDigit, FractionDigit, ExponentDigit, Point, Exponent };
    Type type = Literal;
    char16_t symbol = 0; // '0' or '#' for digits, 'E' or 'e' for the exponent mark
    bool plus = false;   // E+ rather than E-
    QStringView text;    // Literal
};

struct NumberSection
{
    std::vector<NumberItem> items;
    std::vector<char16_t> fractionSymbols;
    int integerCount = 0;
    int fractionCount = 0;
    int exponentCount = 0;
    int exponentZeros = 0;
    int firstIntegerZero = -1; // from this integer placeholder on, every one prints a digit
    int scale = 0;             // thousands dividing the value
    int percent = 0;           // hundreds multiplying it
    bool grouping = false;
    bool hasPoint = false;
    bool hasExponent = false;
};

NumberSection parseNumberSection(QStringView s)
{
    NumberSection sec;
    enum Region : std::uint8_t { Integer, Fraction, ExponentPart } region = Integer;
    struct CommaRun
    {
        int placeholdersBefore;
        int length;
    };
    std::vector<CommaRun> commas;
    bool afterComma = false;
    const auto literal = [&sec](QStringView text) {
        sec.items.push_back({NumberItem::Literal, 0, false, text});
    };
    qsizetype i = 0;
    const qsizetype n = s.size();
    while (i < n) {
        const char16_t c = s[i].unicode();
        bool comma = false;
        if (c == u'\\') {
            if (i + 1 < n)
                literal(s.sliced(i + 1, 1));
            i += 2;
        } else if (c == u'"') {
            literal(quoted(s, i));
            i = afterQuote(s, i);
        } else if (c == u'0' || c == u'#') {
            if (region == Integer) {
                if (c == u'0' && sec.firstIntegerZero < 0)
                    sec.firstIntegerZero = sec.integerCount;
                sec.items.push_back({NumberItem::IntegerDigit, c, false, {}});
                ++sec.integerCount;
            } else if (region == Fraction) {
                sec.items.push_back({NumberItem::FractionDigit, c, false, {}});
                sec.fractionSymbols.push_back(c);
                ++sec.fractionCount;
            } else {
                sec.items.push_back({NumberItem::ExponentDigit, c, false, {}});
                ++sec.exponentCount;
                sec.exponentZeros += c == u'0' ? 1 : 0;
            }
            ++i;
        } else if (c == u'.' && region == Integer) {
            sec.items.push_back({NumberItem::Point, c, false, {}});
            sec.hasPoint = true;
            region = Fraction;
            ++i;
        } else if (c == u',') {
            if (region == Integer) {
                comma = true;
                if (afterComma)
                    ++commas.back().length;
                else
                    commas.push_back({sec.integerCount, 1});
            }
            ++i;
        } else if (c == u'%') {
            ++sec.percent;
            literal(s.sliced(i, 1));
            ++i;
        } else if ((c == u'E' || c == u'e') && !sec.hasExponent && i + 1 < n
                   && (s[i + 1] == u'+' || s[i + 1] == u'-')) {
            sec.items.push_back({NumberItem::Exponent, c, s[i + 1] == u'+', {}});
            sec.hasExponent = true;
            region = ExponentPart;
            i += 2;
        } else {
            literal(s.sliced(i, 1));
            ++i;
        }
        afterComma = comma;
    }
    for (const CommaRun &run : commas) {
        if (run.placeholdersBefore == 0)
            continue; // before any digit: no meaning
        if (run.placeholdersBefore < sec.integerCount)
            sec.grouping = true;
        else
            sec.scale += run.length;
    }
    return sec;
}

// Keeps the first `keep` digits, rounding half away from zero on the dropped ones.
void roundKeeping(Decimal &d, long keep)
{
    const long len = long(d.digits.size());
    if (keep >= len)
        return;
    if (keep < 0) {
        d = {};
        return;
    }
    const bool up = d.digits[size_t(keep)] >= '5';
    d.digits.resize(size_t(keep));
    if (up) {
        while (!d.digits.empty() && d.digits.back() == '9')
            d.digits.pop_back();
        if (d.digits.empty()) {
            d.digits.push_back('1'); // all nines carried over
            ++d.point;
        } else {
            ++d.digits.back();
        }
    }
    while (!d.digits.empty() && d.digits.back() == '0')
        d.digits.pop_back();
    if (d.digits.empty())
        d.point = 0;
}

// The digits a section shows of a number: scaled and rounded to its places, split at the point.
struct SectionDigits
{
    std::string integer;
    std::string fraction;
    int shownFraction = 0; // trailing "#" places drop their zeros
    int exponent = 0;
};

SectionDigits sectionDigits(const NumberSection &sec, Decimal d)
{
    SectionDigits out;
    if (!d.digits.empty())
        d.point += 2 * sec.percent - 3 * sec.scale;
    if (sec.hasExponent) {
        roundKeeping(d, sec.integerCount + sec.fractionCount);
        if (!d.digits.empty()) {
            out.exponent = d.point - sec.integerCount;
            d.point = sec.integerCount;
        }
    } else {
        roundKeeping(d, long(d.point) + sec.fractionCount);
    }
    const int len = int(d.digits.size());
    if (d.point > 0) {
        out.integer = d.digits.substr(0, size_t(std::min(d.point, len)));
        out.integer.append(size_t(std::max(0, d.point - len)), '0');
    }
    out.fraction.assign(size_t(sec.fractionCount), '0');
    for (int j = 0; j < sec.fractionCount; ++j) {
        const long at = long(d.point) + j;
        if (at >= 0 && at < len)
            out.fraction[size_t(j)] = d.digits[size_t(at)];
    }
    out.shownFraction = sec.fractionCount;
    while (out.shownFraction > 0 && sec.fractionSymbols[size_t(out.shownFraction - 1)] == u'#'
           && out.fraction[size_t(out.shownFraction - 1)] == '0')
        --out.shownFraction;
    return out;
}

QString renderNumber(const NumberSection &sec, const Decimal &d, bool minus, const Locale &loc)
{
    const SectionDigits parts = sectionDigits(sec, d);
    const std::string &integer = parts.integer;
    const std::string &fraction = parts.fraction;
    const int shownFraction = parts.shownFraction;
    const int exponent = parts.exponent;

    const int places = sec.integerCount;
    const int digits = int(integer.size());
    const int zerosFrom = sec.firstIntegerZero < 0 ? places : sec.firstIntegerZero;
    const int total = digits + std::max(0, places - digits - zerosFrom);
    int printed = 0;
    QString out;
    out.reserve(sec.integerCount + sec.fractionCount + digits + 16);
    const auto digit = [&](char c) {
        out += QChar(char16_t(c));
        ++printed;
        const int left = total - printed;
        if (sec.grouping && left > 0 && left % 3 == 0)
            out += loc.thousandsSeparator;
    };
    bool signPending = minus;
    const auto sign = [&] {
        if (signPending)
            out += u'-';
        signPending = false;
    };
    const auto exponentText = [&] {
        return QString::number(std::abs(exponent)).rightJustified(std::max(sec.exponentZeros, 1), u'0');
    };
    int integerIndex = 0;
    int fractionIndex = 0;
    bool exponentWritten = false;
    for (const NumberItem &item : sec.items) {
        switch (item.type) {
        case NumberItem::Literal:
            out += item.text;
            break;
        case NumberItem::IntegerDigit:
            sign();
            if (integerIndex == 0 && digits > places) {
                for (int k = 0; k <= digits - places; ++k)
                    digit(integer[size_t(k)]);
            } else {
                const int at = integerIndex - (places - digits);
                if (at >= 0)
                    digit(integer[size_t(at)]);
                else if (integerIndex >= zerosFrom)
                    digit('0');
            }
            ++integerIndex;
            break;
        case NumberItem::Point:
            sign();
            if (places == 0) {
                for (const char c : integer)
                    digit(c);
            }
            out += loc.decimalSeparator;
            break;
        case NumberItem::FractionDigit:
            sign();
            if (fractionIndex < shownFraction)
                out += QChar(char16_t(fraction[size_t(fractionIndex)]));
            ++fractionIndex;
            break;
        case NumberItem::Exponent:
            sign();
            out += QChar(item.symbol);
            if (exponent < 0)
                out += u'-';
            else if (item.plus)
                out += u'+';
            if (sec.exponentCount == 0)
                out += exponentText();
            break;
        case NumberItem::ExponentDigit:
            if (!exponentWritten)
                out += exponentText();
            exponentWritten = true;
            break;
        }
    }
    if (signPending)
        out.prepend(u'-');
    return out;
}
} // namespace

// A number, or Null, through up to four sections: positive; negative; zero; Null.
QString formatNumber(const Sections &sections, const std::optional<Value> &number, const Locale &loc)
{
    if (!number) {
        if (sections.count < 4 || sections.part[3].isEmpty())
            return {};
        return renderNumber(parseNumberSection(sections.part[3]), {}, false, loc);
    }
    const Decimal d = decimalOf(*number);
    int index = 0;
    bool minus = false;
    if (number->negative) {
        if (sections.count >= 2 && !sections.part[1].isEmpty())
            index = 1; // writes its own sign, if any
        else
            minus = true;
    } else if (d.digits.empty() && sections.count >= 3 && !sections.part[2].isEmpty()) {
        index = 2;
    }
    return renderNumber(parseNumberSection(sections.part[size_t(index)]), d, minus, loc);
}

} // namespace Norvix::Values::Picture
