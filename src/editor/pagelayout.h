#pragma once

// Where the editor puts the controls of each field, in plain arithmetic over twips (1440 to the
// logical inch), so that it can be tested without a window. The window converts to pixels only
// when it places its widgets.
//
// A field is a cell: its caption box on top, its input directly below, and for lookup-coded
// fields a description box to the right of the input. Cells of a row are 140 twips apart, rows 40
// below the lowest input above; a field with an empty placement code ends its row. A page that
// overflows the tab strip's client area continues on a further tab ("sub-page") of the same page.

#include "descriptor/descriptor.h"
#include "descriptor/fieldkind.h"

#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <optional>

namespace Norvix::Layout {

constexpr int kPages = 30;
constexpr int kTwipsPerChar = 140;
constexpr int kGap = 140;
constexpr int kRowGap = 40;
// The width and height a block under the fields (a detail's grid) makes room for at least.
constexpr int kBlockWidth = 9000;
constexpr int kBlockHeight = 3000;

struct Rect
{
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    int right() const { return left + width; }
    int bottom() const { return top + height; }
    bool operator==(const Rect &) const = default;
};

// The design geometry of the editor window and of the templates of its controls.
namespace Design {
constexpr Rect recordList{0, 0, 5175, 1425};
constexpr Rect tabStrip{0, 1680, 5175, 3255};
constexpr Rect buttonPanel{5280, 0, 1455, 4935};
constexpr std::array<Rect, 5> buttons{{{120, 120, 1215, 2055}, {120, 2640, 1215, 615}, {120, 3360, 1215, 495},
                                       {120, 3960, 1215, 375}, {120, 4440, 1215, 375}}};
constexpr Rect captionTemplate{120, 2040, 2055, 195};
constexpr int labelLeft = 120;
constexpr int labelTop = 2040;
constexpr int panelWidth = 1455 + 15;
// Template sizes (width, height) of the input controls.
constexpr Rect text{0, 0, 855, 285};
constexpr Rect numeric{0, 0, 855, 285};
constexpr Rect date{0, 0, 975, 285};
constexpr Rect memo{0, 0, 4935, 1284};
constexpr Rect file{0, 0, 2172, 288};
constexpr Rect umod{0, 0, 2175, 285};
constexpr Rect description{0, 0, 2055, 285};
constexpr Rect combo{0, 0, 2175, 315};
constexpr Rect check{0, 0, 1215, 255};
constexpr Rect binaryButton{0, 0, 1215, 375};
} // namespace Design

// The control kinds (see fieldKindOf()).
using Kind = FieldKind;

// The caption of a last-change stamp field: the editor writes it into the field's Desc, and
// sizeField measures it in place of Desc.
QString umodCaption();

// The controls of one field, in twips. `description` is set for lookup-coded text and numeric
// fields and for hidden fields with a lookup.
struct FieldBoxes
{
    Rect caption;
    Rect main;
    std::optional<Rect> description;
};

// What the sizing of a field measures, in twips.
struct Measures
{
    // The width of a caption in the editor's font.
    std::function<int(const QString &)> caption;
    // The width an input needs to show a text whole: the text in the input's font, its margins
    // and its frame. Unset: inputs keep the widths of the layout rules.
    std::function<int(const QString &)> input;
    // The width of a lookup's list.
    int comboWidth = Design::combo.width;
    // The field's column may hold a time besides the date.
    bool withTime = false;
};

// The texts an input of this kind shows at its longest, to measure it by: a date in its picture
// and in the general form (with a time when `withTime`), for every month and weekday; a number of
// the field's length with sign, separators and decimals of its picture; a text of capital
// letters as long as the field. None for the kinds sized otherwise.
QStringList longestValues(const Campo &campo, Kind kind, bool withTime);

// Sizes the controls of one field before placement, following the rules per kind, and widens an
// input that its longest value would not fit (up to `limit` for texts and stamps). `limit` is
// the widest a field may be (the tab strip's client width - 140).
FieldBoxes sizeField(const Campo &campo, Kind kind, int limit, const Measures &measures);

// The caption of tab p,k: the page's name from the RECORD line ("&" shown as such), numbered
// when the page runs over several tabs; "Pagina p,k" for a page without a name.
QString tabCaption(int page, int subPage, int subPages, const QStringList &pageNames);

// How much taller than the design the room of the record list is: the list grows to
// `wantedList` (its header and eight lines) below a search panel `searchHeight` high, as far as a
// window `formHeight` high without them stays within `available`.
int listGrowth(int designList, int wantedList, int searchHeight, int formHeight, int available);

// The page tables of one editor: where the next field of each page goes.
class PageLayout
{
public:
    // `client` is the tab strip's client area (inside the tabs).
    PageLayout(Rect client, int labelLeft = Design::labelLeft, int labelTop = Design::labelTop);

    Rect client() const { return m_client; }
    int fieldWidthLimit() const { return m_client.width - kGap; }

    // Makes page p (1..30) used, with one sub-page, if it was not.
    void usePage(int page);
    // Places the boxes of one field on page p (1..30): narrows or wraps a field that passes the
    // right edge, opens a new sub-page when it would pass the bottom, and moves the page's next
    // position. `hidden`: the description box takes the place of the input. `codPos` empty (after
    // trimming): the next field starts a new row. Returns the sub-page k the field landed on.
    // A page outside 1..30 throws Norvix::Error naming it.
    int place(int page, FieldBoxes &boxes, bool hidden, const QString &codPos);

    int pageFill(int page) const;
    // A block `height` twips high under the fields of page p (on its last sub-page), as wide as
    // the page: the window is made tall and wide enough for it. Returns it; `subPage` gets the
    // sub-page it stands on.
    Rect block(int page, int height, int *subPage);
    int rowLeft(int page) const { return m_rowLeft.at(index(page)); }
    int rowTop(int page) const { return m_rowTop.at(index(page)); }
    int rowBottom(int page) const { return m_rowBottom.at(index(page)); }
    int fieldsRight() const { return m_fieldsRight; }
    int fieldsBottom() const { return m_fieldsBottom; }

    // The tabs, in order: "p,k" for every used page and sub-page.
    QStringList tabs() const;
    // The editor's size: width FieldsRight + panel width + 280; height FieldsBottom + 500, at
    // least 3000.
    int formWidth(int panelWidth = Design::panelWidth) const;
    int formHeight() const;

private:
    static int index(int page);

    Rect m_client;
    int m_labelLeft;
    int m_labelTop;
    std::array<int, kPages> m_rowLeft{};
    std::array<int, kPages> m_rowTop{};
    std::array<int, kPages> m_rowBottom{};
    std::array<int, kPages> m_pageFill{};
    int m_fieldsRight = 0;
    int m_fieldsBottom = 0;
};

// The tab mark of a field: its page written as a number (1.5 stays 1.5, and then matches no tab)
// and the sub-page, joined by a comma: "2,1".
QString tabMark(float page, int subPage);

// The page tables a field of page `page` uses: the page rounded to a whole number, halves to even.
int pageIndexOf(float page);

// Whole number of twips, halves to even.
int roundTwips(double value);

} // namespace Norvix::Layout
