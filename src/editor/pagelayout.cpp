#include "editor/pagelayout.h"
#include "platform/language.h"

#include "platform/errors.h"
#include "platform/values.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include <QDateTime>

namespace Norvix::Layout {

namespace {

// No width grows beyond this, so that sums of a few widths stay well inside an int whatever a
// descriptor asks for (a MaxLen of millions, a binary width of 1E300).
constexpr qint64 kMaxWidth = qint64(1) << 26;

// Widths are never negative: a limit, a shrink or a measure below zero gives 0.
int clampWidth(qint64 width)
{
    return int(std::clamp<qint64>(width, 0, kMaxWidth));
}

// A control at its template size, at the origin (placement sets the position).
Rect templateOf(const Rect &design)
{
    return Rect{0, 0, design.width, design.height};
}

bool hasLookup(const Campo &campo)
{
    return !campo.FieldRif().toString().isEmpty();
}

// Only blanks count as empty space around a placement code.
bool isBlank(const QString &text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c == u' '; });
}

} // namespace

QString umodCaption()
{
    return nxTr("Data ultima modifica");
}

FieldBoxes sizeField(const Campo &campo, Kind kind, int limit, const Measures &measures)
{
    limit = std::max(0, limit);
    FieldBoxes b;
    b.caption = templateOf(Design::captionTemplate);

    const auto measure = [&](const QString &text) { return clampWidth(measures.caption ? measures.caption(text) : 0); };
    // An input is never narrower than its longest value needs, within `cap`.
    const auto fitValues = [&](int cap) {
        if (!measures.input)
            return;
        int widest = 0;
        for (const QString &text : longestValues(campo, kind, measures.withTime))
            widest = std::max(widest, clampWidth(measures.input(text)));
        b.main.width = std::max(b.main.width, std::min(widest, cap));
    };
    const auto captionWidth = [&](const QString &text) { b.caption.width = measure(text); };
    const auto equalise = [&] { b.main.width = b.caption.width = std::max(b.main.width, b.caption.width); };
    const auto lengthWidth = [&] { return clampWidth(qint64(campo.MaxLen()) * kTwipsPerChar); };
    // Shrinks the caption and the description box together when the caption passes the limit.
    const auto fitCaption = [&](Rect &description) {
        if (b.caption.width > limit) {
            const int excess = b.caption.width - limit;
            description.width = clampWidth(qint64(description.width) - excess);
            b.caption.width -= excess;
        }
    };
    // Lookup-coded text and numeric fields: a description box twice the input's width beside
    // it, under a caption spanning both.
    const auto descriptionBox = [&] {
        if (!hasLookup(campo))
            return;
        Rect d = templateOf(Design::description);
        d.width = clampWidth(2 * qint64(b.main.width));
        d.height = b.main.height;
        b.caption.width = clampWidth(qint64(b.main.width) + kGap + d.width);
        fitCaption(d);
        b.description = d;
    };

    switch (kind) {
    case Kind::Text:
    case Kind::Numeric:
        // As wide as the field's length; a text no wider than the page's limit.
        b.main = templateOf(kind == Kind::Text ? Design::text : Design::numeric);
        b.main.width = kind == Kind::Text ? std::min(lengthWidth(), limit) : lengthWidth();
        fitValues(kind == Kind::Text ? limit : int(kMaxWidth));
        captionWidth(campo.Desc());
        equalise();
        descriptionBox();
        break;
    case Kind::Memo:
    case Kind::Date:
    case Kind::File:
        b.main = templateOf(kind == Kind::Memo ? Design::memo : kind == Kind::Date ? Design::date : Design::file);
        fitValues(int(kMaxWidth));
        captionWidth(campo.Desc());
        equalise();
        break;
    case Kind::Check:
        // The caption box is not measured: its template width is the other side of the equalising.
        b.main = templateOf(Design::check);
        b.main.width = clampWidth(qint64(measure(campo.Desc())) + 200);
        equalise();
        break;
    case Kind::Combo:
        b.main = templateOf(Design::combo);
        b.main.width = clampWidth(measures.comboWidth);
        captionWidth(campo.Desc());
        equalise();
        break;
    case Kind::Binary: {
        // Desc is meant to hold the width in characters; the loaders put a caption there, which
        // reads as 0. A width of 0 or less keeps the button at its template width.
        b.main = templateOf(Design::binaryButton);
        const int width = roundTwips(Values::val(campo.Desc()) * kTwipsPerChar);
        if (width > 0)
            b.main.width = clampWidth(width);
        b.caption.width = b.main.width;
        break;
    }
    case Kind::None:
    case Kind::Unknown:
        b.main = templateOf(Design::text);
        break;
    case Kind::Hidden:
        b.main = templateOf(Design::text);
        b.main.width = 150;
        if (hasLookup(campo)) {
            // The description box stands where the hidden input would be, as wide as the caption.
            Rect d = templateOf(Design::description);
            d.width = measure(campo.Desc());
            d.height = b.main.height;
            b.caption.width = d.width;
            fitCaption(d);
            b.description = d;
        }
        break;
    case Kind::Umod:
        b.main = templateOf(Design::umod);
        fitValues(limit);
        b.main.width = std::min(b.main.width, limit);
        captionWidth(umodCaption());
        equalise();
        break;
    }
    return b;
}

QStringList longestValues(const Campo &campo, Kind kind, bool withTime)
{
    QStringList texts;
    const QString picture = campo.Format().trimmed();
    switch (kind) {
    case Kind::Text:
        if (campo.MaxLen() > 0)
            texts << QString(std::min(int(campo.MaxLen()), 255), u'X');
        break;
    case Kind::Numeric: {
        // As many characters as the field takes, the sign among them; the picture adds its
        // separators and decimals to the largest number typed that way.
        int chars = campo.MaxLen();
        if (chars <= 0) {
            const double bound = std::abs(Values::val(campo.MaxVal()));
            chars = bound >= 1 && std::isfinite(bound) ? int(std::log10(bound)) + 2 : 11;
        }
        chars = std::clamp(chars, 1, 30);
        texts << QString(chars, u'9');
        if (!picture.isEmpty() && chars > 1)
            texts << Values::format(QVariant(-(std::pow(10.0, chars - 1) - 1)), picture);
        break;
    }
    case Kind::Date:
    case Kind::Umod:
        // Every month with every weekday, two-digit days and hours, morning and evening.
        withTime = withTime || kind == Kind::Umod;
        for (int month = 1; month <= 12; ++month) {
            for (int day = 22; day <= 28; ++day) {
                for (const int hour : {10, 22}) {
                    const QDateTime at(QDate(2000, month, day), QTime(hour, 58, 58));
                    texts << Values::dateText(withTime ? at : QDateTime(at.date(), QTime(0, 0)));
                    if (!picture.isEmpty())
                        texts << Values::format(QVariant(at), picture);
                }
            }
        }
        texts.removeDuplicates();
        break;
    default:
        break;
    }
    return texts;
}

QString tabCaption(int page, int subPage, int subPages, const QStringList &pageNames)
{
    QString name = pageNames.value(page - 1).trimmed();
    if (name.isEmpty())
        return nxTr("Pagina ") + tabMark(float(page), subPage);
    name.replace(u'&', QStringLiteral("&&"));
    return subPages > 1 ? QStringLiteral("%1 (%2)").arg(name).arg(subPage) : name;
}

int listGrowth(int designList, int wantedList, int searchHeight, int formHeight, int available)
{
    return std::clamp(searchHeight + wantedList - designList, 0, std::max(0, available - formHeight));
}

PageLayout::PageLayout(Rect client, int labelLeft, int labelTop)
    : m_client(client), m_labelLeft(labelLeft), m_labelTop(labelTop)
{
    m_rowLeft.fill(labelLeft);
    m_rowTop.fill(labelTop);
}

int PageLayout::index(int page)
{
    if (page < 1 || page > kPages)
        throw Error(nxTr("La pagina %1 non esiste: le pagine vanno da 1 a %2.").arg(page).arg(kPages));
    return page - 1;
}

void PageLayout::usePage(int page)
{
    int &fill = m_pageFill.at(index(page));
    if (fill == 0)
        fill = 1;
}

int PageLayout::pageFill(int page) const
{
    return m_pageFill.at(index(page));
}

int PageLayout::place(int page, FieldBoxes &boxes, bool hidden, const QString &codPos)
{
    const int p = index(page);
    usePage(page);
    const int right = m_client.right();
    const int bottomEdge = m_client.bottom();
    const int limit = fieldWidthLimit();
    Rect &caption = boxes.caption;
    Rect &main = boxes.main;

    if (caption.width > limit) {
        caption.width = std::max(0, limit);
        main.width = caption.width;
    }
    const int w = caption.width;
    const int fieldRight = w + m_rowLeft[p] + kGap;
    int fieldBottom = m_rowTop[p] + caption.height + main.height;

    // Passing the right edge: only a field that is not the first of its row gives way.
    if (fieldRight > right && m_rowLeft[p] > m_labelLeft) {
        const int excess = fieldRight - right;
        if (w - excess > 20 * kTwipsPerChar) {
            if (boxes.description) {
                boxes.description->width = std::max(0, boxes.description->width - excess);
            } else {
                caption.width -= excess;
                main.width = caption.width;
            }
        } else {
            m_rowLeft[p] = m_labelLeft;
            m_rowTop[p] = m_rowBottom[p];
            fieldBottom = m_rowTop[p] + caption.height + main.height;
        }
    }

    // Passing the bottom: the page goes on in a further tab.
    if (fieldBottom > bottomEdge - 200) {
        m_rowLeft[p] = m_labelLeft;
        m_rowTop[p] = m_labelTop;
        ++m_pageFill[p];
        m_rowBottom[p] = 0;
    }

    caption.top = m_rowTop[p];
    caption.left = m_rowLeft[p];
    main.top = caption.top + caption.height;
    main.left = caption.left;

    const int below = main.bottom() + kRowGap;
    m_rowBottom[p] = std::max(m_rowBottom[p], below);

    if (boxes.description) {
        boxes.description->top = main.top;
        boxes.description->left = hidden ? main.left : main.right() + kGap;
    }

    m_fieldsBottom = std::min(std::max(m_fieldsBottom, below), bottomEdge);
    m_fieldsRight = std::min(std::max(m_fieldsRight, caption.right() + kGap), right);

    if (isBlank(codPos)) {
        m_rowTop[p] = below;
        m_rowLeft[p] = m_labelLeft;
    } else {
        m_rowLeft[p] = caption.right() + kGap;
    }
    return m_pageFill[p];
}

Rect PageLayout::block(int page, int height, int *subPage)
{
    const int p = index(page);
    usePage(page);
    // Under the row in progress, if any.
    const int top = m_rowLeft[p] > m_labelLeft ? std::max(m_rowTop[p], m_rowBottom[p]) : m_rowTop[p];
    const int left = m_labelLeft;
    const Rect block{left, top, std::max(0, fieldWidthLimit() - (left - m_client.left)), height};
    m_rowTop[p] = m_rowBottom[p] = block.bottom() + kRowGap;
    m_rowLeft[p] = m_labelLeft;
    m_fieldsBottom = std::max(m_fieldsBottom, block.bottom() + kRowGap);
    m_fieldsRight = std::max(m_fieldsRight, std::min(m_client.right(), left + kBlockWidth));
    *subPage = m_pageFill[p];
    return block;
}

QStringList PageLayout::tabs() const
{
    QStringList result;
    for (int p = 1; p <= kPages; ++p) {
        for (int k = 1; k <= m_pageFill[p - 1]; ++k)
            result << tabMark(float(p), k);
    }
    return result;
}

int PageLayout::formWidth(int panelWidth) const
{
    return m_fieldsRight + panelWidth + 2 * kGap;
}

int PageLayout::formHeight() const
{
    const int height = m_fieldsBottom + 500;
    return height > 3000 ? height : 3000;
}

QString tabMark(float page, int subPage)
{
    // The page as a single-precision number, always with "." whatever the regional settings.
    QString text = Values::numberText(page, true);
    text.replace(Values::locale().decimalSeparator, u'.');
    return text + u',' + QString::number(subPage);
}

int pageIndexOf(float page)
{
    return roundTwips(page);
}

int roundTwips(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= double(INT_MAX))
        return INT_MAX;
    if (value <= double(INT_MIN))
        return INT_MIN;
    double whole = std::floor(value);
    const double fraction = value - whole;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0))
        whole += 1;
    return int(whole);
}

} // namespace Norvix::Layout
