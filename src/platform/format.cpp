#include "platform/values.h"
#include "platform/format_p.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

// Display pictures.
//
// A picture is a named format, or a user picture whose kind (number, date or string) is fixed by
// the first token only one kind knows; characters of the other kinds are then copied literally.
// Choices where the legacy behaviour is not known:
// - Named formats are recognised whatever their letter case. Yes/No, True/False and On/Off print
//   the English words, as the legacy program did; Medium Date is dd-mmm-yy ("12-mag-01").
// - A picture without any deciding token (only literals) is a number picture.
// - Date pictures use their first section only; Null gives empty text with them.
// - Dates are shown with the time rounded to the nearest second.
// - AMPM prints the regional designators; while both are empty (Italian settings) it prints nothing
//   and the clock stays at 24 hours, so Medium Time is then "hh:nn".
// - "aaaa" and "oooo" are not tokens: their letters are copied. Italian-style pictures such as
//   "gg/mm/aaaa" are not translated.
// - "yyyy" prints at least four digits (0100).
// - Number pictures choose their section on the value before rounding, so -0.001 with "0.00" gives
//   "-0,00". With a single section the minus sign goes right before the first digit placeholder or
//   decimal point, after any leading literal ("\€ 0.00" gives "€ -5,00").
// - Commas after the decimal point do nothing; the exponent is written in full where its first
//   placeholder stands.
// - With no picture a number prints with its leading zero ("0,5"), like numberText.
// - In string pictures "<" and ">" change the whole result, literals included; with "!" and more
//   characters than placeholders the rest is appended at the end, as without it.
// - Booleans and dates given to a string picture are first written as "True"/"False" and as
//   dateText.
//
// This file reads a picture's kind and formats strings and named formats; the value a picture
// sees and how a picture splits are in formatvalue.cpp, number pictures in formatnumber.cpp, date
// pictures in formatdate.cpp.

namespace Norvix::Values {

using namespace Picture;

namespace {

constexpr qsizetype maxPictureLength = 257;

// ---------------------------------------------------------------------------------------------
// String pictures
// ---------------------------------------------------------------------------------------------

QString formatString(const Sections &sections, const Value &v)
{
    const bool null = v.kind == Value::Null;
    const QString text = plainText(v);
    QStringView section = sections.part[0];
    if (null || text.isEmpty()) {
        if (sections.count >= 2)
            section = sections.part[1];
        else if (null)
            return {};
    }

    struct Item
    {
        bool placeholder;
        bool blank; // "@": a blank when no character is left
        QStringView text;
    };
    std::vector<Item> items;
    int placeholders = 0;
    bool leftToRight = false;
    int letterCase = 0; // -1 lower, 1 upper
    for (qsizetype i = 0; i < section.size();) {
        const QChar c = section[i];
        if (c == u'\\') {
            if (i + 1 < section.size())
                items.push_back({false, false, section.sliced(i + 1, 1)});
            i += 2;
            continue;
        }
        if (c == u'"') {
            items.push_back({false, false, quoted(section, i)});
            i = afterQuote(section, i);
            continue;
        }
        if (c == u'@' || c == u'&') {
            items.push_back({true, c == u'@', {}});
            ++placeholders;
        } else if (c == u'<') {
            letterCase = -1;
        } else if (c == u'>') {
            letterCase = 1;
        } else if (c == u'!') {
            leftToRight = true;
        } else {
            items.push_back({false, false, section.sliced(i, 1)});
        }
        ++i;
    }

    const qsizetype length = text.size();
    const qsizetype empty = std::max<qsizetype>(0, placeholders - length); // placeholders without a character
    qsizetype next = 0;
    qsizetype index = 0;
    QString out;
    out.reserve(length + section.size());
    for (const Item &item : items) {
        if (!item.placeholder) {
            out += item.text;
            continue;
        }
        const bool vacant = leftToRight ? next >= length : index < empty;
        if (vacant) {
            if (item.blank)
                out += u' ';
        } else {
            out += text[next++];
        }
        ++index;
    }
    if (next < length)
        out += QStringView(text).sliced(next);
    if (letterCase > 0)
        return out.toUpper();
    if (letterCase < 0)
        return out.toLower();
    return out;
}

// ---------------------------------------------------------------------------------------------
// Named formats
// ---------------------------------------------------------------------------------------------

enum class Named : std::uint8_t {
    GeneralNumber, Currency, Fixed, Standard, Percent, Scientific, YesNo, TrueFalse, OnOff,
    GeneralDate, LongDate, MediumDate, ShortDate, LongTime, MediumTime, ShortTime
};

std::optional<Named> namedFormat(QStringView picture)
{
    struct Entry
    {
        const char *name;
        Named kind;
    };
    static constexpr std::array<Entry, 16> names = {{
        {"General Number", Named::GeneralNumber}, {"Currency", Named::Currency},
        {"Fixed", Named::Fixed}, {"Standard", Named::Standard}, {"Percent", Named::Percent},
        {"Scientific", Named::Scientific}, {"Yes/No", Named::YesNo}, {"True/False", Named::TrueFalse},
        {"On/Off", Named::OnOff}, {"General Date", Named::GeneralDate}, {"Long Date", Named::LongDate},
        {"Medium Date", Named::MediumDate}, {"Short Date", Named::ShortDate},
        {"Long Time", Named::LongTime}, {"Medium Time", Named::MediumTime}, {"Short Time", Named::ShortTime},
    }};
    if (picture.size() > 14)
        return std::nullopt;
    for (const Entry &e : names) {
        if (picture.compare(QLatin1String(e.name), Qt::CaseInsensitive) == 0)
            return e.kind;
    }
    return std::nullopt;
}

QString currencyPicture(const Locale &loc)
{
    QString symbol;
    for (const QChar c : loc.currencySymbol) {
        symbol += u'\\';
        symbol += c;
    }
    QString number = QStringLiteral("#,##0");
    const int decimals = std::clamp(loc.currencyDecimals, 0, 15);
    if (decimals > 0)
        number += u'.' + QString(decimals, u'0');
    return symbol + u' ' + number + u';' + u'-' + symbol + u' ' + number;
}

QString formatNamed(Named named, const Value &v, const Locale &loc)
{
    const auto picture = [&](QStringView numberPicture) {
        return formatNumber(splitSections(numberPicture), asNumber(v), loc);
    };
    const auto date = [&](QStringView datePicture) { return formatDate(v, datePicture, loc); };
    if (named >= Named::GeneralDate) {
        switch (named) {
        case Named::GeneralDate: return date(u"c");
        case Named::LongDate: return date(u"dddddd");
        case Named::MediumDate: return date(u"dd-mmm-yy");
        case Named::ShortDate: return date(u"ddddd");
        case Named::LongTime: return date(u"ttttt");
        case Named::MediumTime:
            return date(loc.amDesignator.isEmpty() && loc.pmDesignator.isEmpty() ? u"hh:nn" : u"hh:nn AMPM");
        default: return date(u"hh:nn");
        }
    }
    if (v.kind == Value::Null || (v.kind == Value::Text && v.text.isEmpty()))
        return {};
    const auto number = asNumber(v);
    if (!number || !std::isfinite(number->number))
        return plainText(v);
    const bool zero = number->number == 0;
    switch (named) {
    case Named::GeneralNumber: {
        Value plain = *number;
        plain.boolean = false;
        return plainText(plain);
    }
    case Named::Currency: return picture(currencyPicture(loc));
    case Named::Fixed: return picture(u"0.00");
    case Named::Standard: return picture(u"#,##0.00");
    case Named::Percent: return picture(u"0.00%");
    case Named::Scientific: return picture(u"0.00E+00");
    case Named::YesNo: return zero ? QStringLiteral("No") : QStringLiteral("Yes");
    case Named::TrueFalse: return zero ? QStringLiteral("False") : QStringLiteral("True");
    default: return zero ? QStringLiteral("Off") : QStringLiteral("On");
    }
}

} // namespace

QString format(const QVariant &value, QStringView picture)
{
    const Locale &loc = locale();
    picture = picture.first(std::min(picture.size(), maxPictureLength));
    const Value v = classify(value);
    if (picture.isEmpty())
        return plainText(v);
    if (const auto named = namedFormat(picture))
        return formatNamed(*named, v, loc);

    const Sections sections = splitSections(picture);
    switch (pictureKind(picture)) {
    case Kind::Date:
        return formatDate(v, sections.part[0], loc);
    case Kind::String:
        return formatString(sections, v);
    case Kind::Number:
        break;
    }
    if (v.kind == Value::Null)
        return formatNumber(sections, std::nullopt, loc);
    if (v.kind == Value::Text && v.text.isEmpty())
        return {};
    const auto number = asNumber(v);
    if (!number || !std::isfinite(number->number))
        return plainText(v);
    return formatNumber(sections, number, loc);
}

PictureParts datePartsShown(QStringView picture)
{
    if (picture.trimmed().isEmpty())
        return {};
    // A part is shown when changing only that part changes what the picture prints.
    const QDate day(2001, 5, 12);
    const auto printed = [&](QDate d, QTime t) { return format(QVariant(QDateTime(d, t, Qt::UTC)), picture); };
    const QString base = printed(day, QTime(9, 5, 7));
    return {printed(day.addDays(398), QTime(9, 5, 7)) != base, printed(day, QTime(21, 47, 7)) != base,
            printed(day, QTime(9, 5, 38)) != base};
}

} // namespace Norvix::Values
