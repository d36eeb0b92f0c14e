#include "platform/errors.h"
#include "descriptor/estraitoken.h"
#include "editor/pagelayout.h"

#include <QTest>

#include <climits>
#include <cmath>

using namespace Norvix;
using namespace Norvix::Layout;

Q_DECLARE_METATYPE(Norvix::Layout::Rect)
Q_DECLARE_METATYPE(Norvix::Layout::FieldBoxes)

namespace Norvix::Layout {
char *toString(const Rect &r)
{
    return QTest::toString(QStringLiteral("Rect(%1, %2, %3 x %4)").arg(r.left).arg(r.top).arg(r.width).arg(r.height));
}
} // namespace Norvix::Layout

namespace {

// The boxes of a field sized from its descriptor; `lookup` gives it a referenced field. Every
// character is 100 twips wide, so that measures can be worked out by hand; combo lists are 3000.
FieldBoxes sized(const QString &objType, int maxLen, const QString &desc, bool lookup, int limit = 5000)
{
    Campo c;
    c.setObjType(objType);
    c.setMaxLen(maxLen);
    c.setDesc(desc);
    if (lookup)
        c.setFieldRif(QStringLiteral("ID"));
    const auto width = [](const QString &text) { return int(text.size()) * 100; };
    return Layout::sizeField(c, fieldKindOf(objType), limit, Measures{width, {}, 3000});
}

// A field of the given width whose caption is 195 and input `mainHeight` high.
FieldBoxes cell(int width, int mainHeight = 285)
{
    return FieldBoxes{Rect(0, 0, width, 195), Rect(0, 0, width, mainHeight), std::nullopt};
}

// The client area of the placement tests: R = 5140, B = 3000 (fields may reach 2800), limit 5000;
// pages start at (100, 100). A one-line field takes 195 + 285 and the next row is 40 lower, so
// rows are 520 apart. `rows` one-line fields of width 1000 fill the first rows of page 1.
// `boxes` as placed on `page` of `layout`, shown, `code` its placement code.
FieldBoxes placed(PageLayout &layout, FieldBoxes boxes, const QString &code = QString(), int page = 1)
{
    layout.place(page, boxes, false, code);
    return boxes;
}

PageLayout makeLayout(int rows = 0)
{
    PageLayout layout(Rect(0, 0, 5140, 3000), 100, 100);
    for (int i = 0; i < rows; ++i)
        placed(layout, cell(1000));
    return layout;
}

struct TokenCase
{
    QString text, sep;
    int n;
    bool unquote;
    QString result, afterRemove;
};

const QString sameRow = QStringLiteral("1");
const QString endRow;

} // namespace

Q_DECLARE_METATYPE(TokenCase)

class Tst_pagelayout : public QObject
{
    Q_OBJECT

private slots:
    void sizeField_data()
    {
        QTest::addColumn<FieldBoxes>("boxes");
        QTest::addColumn<int>("captionWidth"); // the caption is always 195 high
        QTest::addColumn<Rect>("main");
        QTest::addColumn<int>("descriptionWidth"); // -1: none; as high as the input
        const auto row = [](const char *name, const FieldBoxes &b, int caption, int main, int height, int desc) {
            QTest::newRow(name) << b << caption << Rect(0, 0, main, height) << desc;
        };
        // Text: MaxLen x 140, cut to the limit; caption and input end at the larger width.
        row("caption wider than input", sized("EDITBOX", 3, "Descrizione", false), 1100, 1100, 285, -1);
        row("text cut to limit", sized("TXTTEXT", 50, "X", false), 5000, 5000, 285, -1);
        row("numeric not limited", sized("TXTNUMERIC", 50, "X", false), 7000, 7000, 285, -1);
        // Lookup-coded: a description box 2 x input beside it; the caption spans input + 140 +
        // description, and only description and caption give back what passes the limit.
        row("lookup text", sized("TXTTEXT", 5, "Cliente", true), 2240, 700, 285, 1400);
        row("lookup text shrinks", sized("TXTTEXT", 20, "Cod", true), 5000, 2800, 285, 2060);
        row("lookup caption decides", sized("TXTTEXT", 2, "Fornitore", true), 2840, 900, 285, 1800);
        row("lookup numeric over limit", sized("TXTNUMERIC", 40, "Cod", true), 5000, 5600, 285, 0);
        // Template sizes, widened by the caption; a check box: Desc + 200 against the caption's 2055.
        row("memo", sized("TXTMEMO", 2000, "Note", false), 4935, 4935, 1284, -1);
        row("date", sized("TXTDATE", 10, "Data", false), 975, 975, 285, -1);
        row("file", sized("TXTFILE", 255, "Documento", false), 2172, 2172, 288, -1);
        row("check short", sized("CHKBOOLEAN", 0, "Attivo", false), 2055, 2055, 255, -1);
        row("check long", sized("CHECKBOX", 0, QString(25, u'c'), false), 2700, 2700, 255, -1);
        row("combo", sized("CMBBOUNDED", 0, "Zona", false), 3000, 3000, 315, -1);
        // Binary: Desc as a number of characters; a caption text (0) or less keeps the template width.
        row("binary width", sized("CMDSHOWBIN", 0, "20", false), 2800, 2800, 375, -1);
        row("binary fraction", sized("COMMANDBUTTON", 0, "2.5 car", false), 350, 350, 375, -1);
        row("binary caption text", sized("CMDSHOWBIN", 0, "Allegato", false), 1215, 1215, 375, -1);
        row("binary negative", sized("CMDSHOWBIN", 0, "-3", false), 1215, 1215, 375, -1);
        row("none", sized("NESSUNO", 10, "Interno", true), 2055, 855, 285, -1);
        row("unknown", sized("PICTUREBOX", 30, "Foto", true), 2055, 855, 285, -1);
        // Hidden: a 150-twip input; with a lookup, a description box as wide as Desc.
        row("hidden", sized("HIDDENFIELD", 10, "Interno", false), 2055, 150, 285, -1);
        row("hidden lookup", sized("HIDDENFIELD", 10, "Cliente", true), 700, 150, 285, 700);
        row("hidden lookup over limit", sized("HIDDENFIELD", 10, QString(60, u'h'), true), 5000, 150, 285, 5000);
        // Last-change stamp: measured with its own caption (20 characters), not with Desc.
        row("umod", sized("UMOD", 0, "x", false), 2175, 2175, 285, -1);
        row("umod limited", sized("UMOD", 0, "x", false, 1500), 2000, 2000, 285, -1);
    }

    void sizeField()
    {
        QFETCH(FieldBoxes, boxes);
        QFETCH(int, captionWidth);
        QFETCH(Rect, main);
        QFETCH(int, descriptionWidth);
        QCOMPARE(boxes.caption, Rect(0, 0, captionWidth, 195));
        QCOMPARE(boxes.main, main);
        QCOMPARE(boxes.description.value_or(Rect(0, 0, -1, main.height)), Rect(0, 0, descriptionWidth, main.height));
    }

    void narrowOrWrap_data()
    {
        QTest::addColumn<int>("firstWidth");
        QTest::addColumn<FieldBoxes>("second");
        QTest::addColumn<Rect>("caption");
        QTest::addColumn<int>("mainWidth");
        QTest::addColumn<int>("descWidth"); // -1: no description box
        // The second field starts at 100 + first + 140; the room left to it is 4760 - first. A field
        // that passes R is narrowed to that room if the room is above 2800, else it wraps to the
        // next row (top 620). With a description box only the description gives way.
        FieldBoxes described{Rect(0, 0, 4000, 195), Rect(0, 0, 1000, 285), Rect(0, 0, 2860, 285)};
        QTest::newRow("fits exactly") << 1000 << cell(3760) << Rect(1240, 100, 3760, 195) << 3760 << -1;
        QTest::newRow("narrowed, room 2801") << 1959 << cell(3000) << Rect(2199, 100, 2801, 195) << 2801 << -1;
        QTest::newRow("wrapped, room 2800") << 1960 << cell(3000) << Rect(100, 620, 3000, 195) << 3000 << -1;
        QTest::newRow("narrowed description") << 1000 << described << Rect(1240, 100, 4000, 195) << 1000 << 2620;
        QTest::newRow("wrapped with description") << 2100 << described << Rect(100, 620, 4000, 195) << 1000 << 2860;
    }

    void narrowOrWrap()
    {
        QFETCH(int, firstWidth);
        QFETCH(FieldBoxes, second);
        QFETCH(Rect, caption);
        QFETCH(int, mainWidth);
        QFETCH(int, descWidth);
        PageLayout layout = makeLayout();
        placed(layout, cell(firstWidth), sameRow);
        QCOMPARE(layout.place(1, second, false, sameRow), 1);
        QCOMPARE(second.caption, caption);
        QCOMPARE(second.main, Rect(caption.left, caption.top + 195, mainWidth, 285));
        if (descWidth >= 0)
            QCOMPARE(*second.description, Rect(caption.left + mainWidth + 140, caption.top + 195, descWidth, 285));
        QCOMPARE(layout.rowLeft(1), caption.right() + 140);
    }

    void rows()
    {
        PageLayout layout = makeLayout();
        FieldBoxes a = cell(1000);
        FieldBoxes b = cell(1000);
        FieldBoxes c = cell(1000, 1284);
        QCOMPARE(layout.place(1, a, false, sameRow), 1);
        QCOMPARE(layout.place(1, b, false, endRow), 1);
        QCOMPARE(layout.place(1, c, false, sameRow), 1);
        // Input under its caption; cells 140 apart; next row 40 below the input of the row's end.
        QCOMPARE(a.main, Rect(100, 295, 1000, 285));
        QCOMPARE(b.caption, Rect(1240, 100, 1000, 195));
        QCOMPARE(c.caption, Rect(100, 620, 1000, 195));
        QCOMPARE(c.main, Rect(100, 815, 1000, 1284));
        QCOMPARE(layout.rowLeft(1), 1240);
        QCOMPARE(layout.fieldsRight(), 2380);
        QCOMPARE(layout.fieldsBottom(), 2139);
        QCOMPARE(layout.tabs(), QStringList{QStringLiteral("1,1")});

        // The first field of a row keeps its place even past R; wider than the limit, it is cut.
        PageLayout firsts = makeLayout();
        QCOMPARE(placed(firsts, cell(5000)).main, Rect(100, 295, 5000, 285));
        const FieldBoxes wider{Rect(0, 0, 7000, 195), Rect(0, 0, 6500, 285), std::nullopt};
        QCOMPARE(placed(firsts, wider).main, Rect(100, 815, 5000, 285));

        // A wrap starts below the lowest input of the row; a row end below the input of the field
        // that ends it, even if a taller one stands beside it.
        PageLayout other = makeLayout();
        FieldBoxes f[] = {cell(1000, 1284), cell(1000), cell(2000), cell(3000)};
        for (int i = 0; i < 4; ++i)
            other.place(1, f[i], false, i == 1 ? endRow : sameRow);
        QCOMPARE(f[2].caption, Rect(100, 620, 2000, 195));
        QCOMPARE(f[3].caption, Rect(100, 1619, 3000, 195));

        // An empty or blank placement code ends the row; anything else keeps it going.
        PageLayout codes = makeLayout();
        const QString code[] = {QString(), QStringLiteral("   "), QStringLiteral(" A "), QString()};
        const Rect expected[] = {Rect(100, 100, 500, 195), Rect(100, 620, 500, 195), Rect(100, 1140, 500, 195),
                                 Rect(740, 1140, 500, 195)};
        for (int i = 0; i < 4; ++i)
            QCOMPARE(placed(codes, cell(500), code[i], 2).caption, expected[i]);
    }

    void subPagesAndFormSize()
    {
        // Rows at 100, 620, 1140, 1660, 2180 reach at most 2660 <= 2800; the sixth would reach 3180.
        PageLayout layout = makeLayout(5);
        FieldBoxes sixth = cell(1000);
        FieldBoxes seventh = cell(1000);
        QCOMPARE(layout.place(1, sixth, false, sameRow), 2);
        QCOMPARE(layout.rowBottom(1), 620);
        QCOMPARE(layout.place(1, seventh, false, endRow), 2); // later fields continue on the new tab
        QCOMPARE(sixth.caption, Rect(100, 100, 1000, 195));
        QCOMPARE(seventh.caption, Rect(1240, 100, 1000, 195));
        QCOMPARE(layout.tabs(), (QStringList{QStringLiteral("1,1"), QStringLiteral("1,2")}));

        // Fields may reach B - 200 = 2800, not one twip further.
        for (const int mainHeight : {425, 426}) {
            PageLayout edge = makeLayout(4);
            FieldBoxes last = cell(1000, mainHeight); // from 2180: bottom 2180 + 195 + height
            QCOMPARE(edge.place(1, last, false, endRow), mainHeight == 425 ? 1 : 2);
        }

        // A wrap that pushes the field below the limit opens the next tab too.
        PageLayout wrap = makeLayout(4);
        FieldBoxes left = cell(3000);
        FieldBoxes right = cell(3000); // does not fit beside it and would wrap to 2700
        QCOMPARE(wrap.place(1, left, false, sameRow), 1);
        QCOMPARE(wrap.place(1, right, false, sameRow), 2);
        QCOMPARE(right.caption, Rect(100, 100, 3000, 195));

        // The form: FieldsRight + panel + 280 wide, FieldsBottom + 500 high but at least 3000.
        PageLayout empty = makeLayout();
        QCOMPARE(empty.formHeight(), 3000);
        QCOMPARE(empty.formWidth(), 1750);

        // Taller than the client area: it opens a further tab even on an empty page, is not checked
        // again there and reaches below B; FieldsBottom stops at B and FieldsRight at R.
        PageLayout tallOne = makeLayout();
        FieldBoxes tall = cell(5000, 4000);
        QCOMPARE(tallOne.place(1, tall, false, endRow), 2);
        QCOMPARE(tall.main, Rect(100, 295, 5000, 4000));
        QCOMPARE(tallOne.fieldsBottom(), 3000);
        QCOMPARE(tallOne.formHeight(), 3500);
        QCOMPARE(tallOne.formWidth(1000), 5140 + 1000 + 280);

        // Real editor geometry: one field, FieldsBottom 2040 + 480 + 40 = 2560, 3060 > 3000.
        PageLayout real(Rect(45, 2010, 5085, 2880));
        QCOMPARE(placed(real, cell(1000)).caption, Rect(120, 2040, 1000, 195));
        QCOMPARE(real.formHeight(), 3060);
    }

    void pagesAndDescriptionBoxes()
    {
        // Lookup-coded text: description 140 right of the input, at the input's top.
        PageLayout layout = makeLayout();
        QCOMPARE(layout.fieldWidthLimit(), 5000);
        QCOMPARE(*placed(layout, sized("TXTTEXT", 5, "Cliente", true), sameRow).description, Rect(940, 295, 1400, 285));
        QCOMPARE(layout.rowLeft(1), 100 + 2240 + 140);

        // Hidden with a lookup: the description box stands where the hidden input is.
        FieldBoxes hidden = sized("HIDDENFIELD", 5, "Agente", true);
        layout.place(1, hidden, true, endRow);
        QCOMPARE(hidden.main, Rect(2480, 295, 150, 285));
        QCOMPARE(*hidden.description, Rect(2480, 295, 600, 285));
        QCOMPARE(layout.fieldsRight(), 2480 + 600 + 140);

        // Each page has its own tables; unused pages get no tab, a page used without fields does.
        QCOMPARE(placed(layout, cell(1000), endRow, 3).caption, Rect(100, 100, 1000, 195));
        layout.usePage(30);
        QCOMPARE(layout.tabs(), (QStringList{QStringLiteral("1,1"), QStringLiteral("3,1"), QStringLiteral("30,1")}));
    }

    void pageNumbers()
    {
        // Twips and page tables round halves to even; out of range, to the int limits; NaN is 0.
        const std::pair<double, int> rounded[] = {{0.5, 0}, {1.5, 2}, {2.5, 2}, {2.5001, 3}, {-0.5, 0}, {-1.5, -2},
                                                  {-2.6, -3}, {1e20, INT_MAX}, {-1e20, INT_MIN}, {std::nan(""), 0}};
        for (const auto &[value, expected] : rounded)
            QCOMPARE(roundTwips(value), expected);
        QCOMPARE(pageIndexOf(2.5f), 2);
        QCOMPARE(pageIndexOf(3.5f), 4);

        // Page 1.5 uses the tables of page 2 but marks its controls 1.5,k, which no tab carries.
        QCOMPARE(tabMark(1.5f, 1), QStringLiteral("1.5,1"));
        QCOMPARE(tabMark(30.0f, 11), QStringLiteral("30,11"));

        // A page outside 1..30 is an error naming it, and nothing is recorded.
        PageLayout layout = makeLayout();
        FieldBoxes b = cell(1000);
        for (const int page : {0, 31, -2}) {
            QVERIFY_THROWS_EXCEPTION(Error, layout.usePage(page));
            try {
                layout.place(page, b, false, endRow);
                QFAIL("no error");
            } catch (const Error &e) {
                QVERIFY2(e.message().contains(QString::number(page)), qPrintable(e.message()));
            }
        }
        QVERIFY(layout.tabs().isEmpty());
        QCOMPARE(layout.place(pageIndexOf(30.5f), b, false, endRow), 1);
        QCOMPARE(layout.tabs(), QStringList{QStringLiteral("30,1")});
    }

    void tabCaptionsAndListRoom()
    {
        // Tabs take the page names of the RECORD line; a page without one keeps "Pagina p,k".
        const QStringList names{"Generale", "", " R&D "};
        QCOMPARE(tabCaption(1, 1, 1, names), u"Generale");
        QCOMPARE(tabCaption(1, 2, 2, names), u"Generale (2)");
        QCOMPARE(tabCaption(2, 1, 1, names), u"Pagina 2,1");
        QCOMPARE(tabCaption(3, 1, 1, names), u"R&&D");
        QCOMPARE(tabCaption(4, 3, 3, names), u"Pagina 4,3");
        // The list grows to its eight lines and above a search panel as far as the screen lets
        // the window grow (design list 1425, eight lines 2600, a window 6000 high without them).
        const int cases[][3] = {{0, 20000, 1175}, {600, 20000, 1775}, {600, 7000, 1000}, {0, 5000, 0}};
        for (const auto &[search, available, growth] : cases)
            QCOMPARE(listGrowth(1425, 2600, search, 6000, available), growth);
    }

    // Token extraction from descriptor texts: the text, separator, field number, unquote, the
    // result, and the text once the field is removed.
    void estraiToken_data()
    {
        QTest::addColumn<TokenCase>("c");
        for (const TokenCase &c : std::initializer_list<TokenCase>{
                 // Fields counted from 1; beyond the last, empty; 0 or less, the number of fields.
                 {"a,b,c", ",", 1, false, "a", "b,c"}, {"a,b,c", ",", 2, false, "b", "a,c"},
                 {"a,b,c", ",", 3, false, "c", "a,b"}, {"a,b,c", ",", 4, false, "", "a,b,c"},
                 {"a,b,c", ",", 0, false, "3", "a,b,c"}, {"a,b,c", ",", -5, false, "3", "a,b,c"},
                 {"", ",", 1, false, "", ""}, {"", ",", 0, false, "1", ""}, {"solo", ",", 1, false, "solo", ""},
                 {"a,,c", ",", 2, false, "", "a,c"}, {"a,b,", ",", 3, false, "", "a,b"}, {",b", ",", 1, false, "", "b"},
                 // Only blanks are trimmed, from the result alone.
                 {"a,  b  ,c", ",", 2, false, "b", "a,c"}, {"a,\tb ,c", ",", 2, false, "\tb", "a,c"},
                 // Quotes: an opening one is dropped, then a closing one, before trimming.
                 {"x,\"d\",y", ",", 2, false, "\"d\"", "x,y"}, {"x,\"d\",y", ",", 2, true, "d", "x,y"},
                 {"x, \"d\",y", ",", 2, true, "\"d\"", "x,y"}, {"\"d", ",", 1, true, "d", ""},
                 {"d\"", ",", 1, true, "d\"", ""}, {"\"", ",", 1, true, "", ""},
                 // Longer separators, found left to right without overlapping.
                 {"a<>b<>c", "<>", 2, false, "b", "a<>c"}, {"a;;;b", ";;", 2, false, ";b", "a"},
                 {"a;;;b", ";;", 0, false, "2", "a;;;b"}})
            QTest::newRow(qPrintable(QStringLiteral("%1 #%2 %3").arg(c.text).arg(c.n).arg(c.unquote))) << c;
    }

    void estraiToken()
    {
        QFETCH(TokenCase, c);
        QString kept = c.text;
        QCOMPARE(EstraiToken(kept, c.sep, c.n, c.unquote, false), c.result);
        QCOMPARE(kept, c.text); // without Rimuovi the text never changes
        QCOMPARE(EstraiToken(std::as_const(c.text), c.sep, c.n, c.unquote), c.result);
        QString cut = c.text;
        QCOMPARE(EstraiToken(cut, c.sep, c.n, c.unquote, true), c.result);
        QCOMPARE(cut, c.afterRemove);
    }
};

QTEST_GUILESS_MAIN(Tst_pagelayout)
#include "tst_pagelayout.moc"
