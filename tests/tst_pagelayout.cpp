#include "descriptor/errors.h"
#include "editor/pagelayout.h"

#include <QTest>

#include <climits>
#include <cmath>

using namespace Norvix;
using namespace Norvix::Layout;

Q_DECLARE_METATYPE(Norvix::Layout::Rect)
Q_DECLARE_METATYPE(Norvix::Layout::Kind)

namespace Norvix::Layout {
char *toString(const Rect &r)
{
    return QTest::toString(QStringLiteral("Rect(left %1, top %2, width %3, height %4)")
                               .arg(r.left)
                               .arg(r.top)
                               .arg(r.width)
                               .arg(r.height));
}
} // namespace Norvix::Layout

namespace {

// Every character is 100 twips wide, so that measures can be worked out by hand.
int fakeWidth(const QString &text)
{
    return int(text.size()) * 100;
}

Rect size(int width, int height)
{
    return Rect{0, 0, width, height};
}

Rect at(int left, int top, int width, int height)
{
    return Rect{left, top, width, height};
}

// No description box.
const Rect none{-1, -1, -1, -1};

Campo field(const QString &objType, int maxLen, const QString &desc, const QString &fieldRif = QString())
{
    Campo c;
    c.setNome(QStringLiteral("CAMPO"));
    c.setObjType(objType);
    c.setMaxLen(maxLen);
    c.setDesc(desc);
    if (!fieldRif.isEmpty())
        c.setFieldRif(fieldRif);
    return c;
}

// A field of the given width whose caption is 195 and input `mainHeight` high.
FieldBoxes cell(int width, int mainHeight = 285)
{
    return FieldBoxes{size(width, 195), size(width, mainHeight), std::nullopt};
}

// The client area used by the placement tests: R = 5140, B = 3000 (fields may reach 2800), limit
// 5000; pages start at (100, 100). A one-line field takes 195 + 285 and the next row is 40 lower,
// so rows are 520 apart.
PageLayout makeLayout()
{
    return PageLayout(Rect{0, 0, 5140, 3000}, 100, 100);
}

const QString sameRow = QStringLiteral("1");
const QString endRow;

} // namespace

class Tst_pagelayout : public QObject
{
    Q_OBJECT

private slots:
    void kindOf_data();
    void kindOf();
    void sizeField_data();
    void sizeField();
    void cellsOfARow();
    void narrowOrWrap_data();
    void narrowOrWrap();
    void firstFieldOfRowKeepsItsPlace();
    void wrapAndRowEndMoveDifferently();
    void noPlacementCodeOneFieldPerRow();
    void overflowOpensSubPage();
    void tallFieldAndEdgeCaps();
    void formSize();
    void unusedPagesGetNoTab();
    void descriptionBoxes();
    void fractionalPage();
    void pageOutOfRange_data();
    void pageOutOfRange();
    void tabMark_data();
    void tabMark();
    void roundTwips_data();
    void roundTwips();
};

void Tst_pagelayout::kindOf_data()
{
    QTest::addColumn<QString>("word");
    QTest::addColumn<Kind>("kind");

    const struct
    {
        const char *word;
        Kind kind;
    } words[] = {
        {"TXTTEXT", Kind::Text},         {"EditBox", Kind::Text},           {"textbox", Kind::Text},
        {"LOCKEDFIELD", Kind::Text},     {"SpecialTxt", Kind::Text},        {"TXTMEMO", Kind::Memo},
        {"memo", Kind::Memo},            {"TxtDate", Kind::Date},           {"SPECIALDATE", Kind::Date},
        {"TXTNUMERIC", Kind::Numeric},   {"specialnumeric", Kind::Numeric}, {"txtFile", Kind::File},
        {"CHKBOOLEAN", Kind::Check},     {"Check1", Kind::Check},           {"CHECKBOX", Kind::Check},
        {"CmbBounded", Kind::Combo},     {"COMBOBOX", Kind::Combo},         {"SPECIALCOMBO", Kind::Combo},
        {"CMDSHOWBIN", Kind::Binary},    {"CommandButton", Kind::Binary},   {"Nessuno", Kind::None},
        {"HIDDENFIELD", Kind::Hidden},   {"umod", Kind::Umod},              {"", Kind::Unknown},
        {"PICTUREBOX", Kind::Unknown},   {"TXT TEXT", Kind::Unknown},       {"SPECIALFILE", Kind::Unknown},
    };
    for (const auto &w : words)
        QTest::newRow(*w.word ? w.word : "empty") << QString::fromLatin1(w.word) << w.kind;
}

void Tst_pagelayout::kindOf()
{
    QFETCH(QString, word);
    QFETCH(Kind, kind);
    QCOMPARE(Layout::kindOf(word), kind);
}

void Tst_pagelayout::sizeField_data()
{
    QTest::addColumn<QString>("objType");
    QTest::addColumn<int>("maxLen");
    QTest::addColumn<QString>("desc");
    QTest::addColumn<QString>("fieldRif");
    QTest::addColumn<int>("limit");
    QTest::addColumn<int>("comboWidth");
    QTest::addColumn<Rect>("caption");
    QTest::addColumn<Rect>("main");
    QTest::addColumn<Rect>("description");

    const QString noRif;
    const QString rif = QStringLiteral("ID");
    const int combo = Design::combo.width;

    // Text: MaxLen x 140, cut to the limit; caption and input end at the larger width.
    QTest::newRow("text") << "TXTTEXT" << 10 << "Nome" << noRif << 5000 << combo << size(1400, 195)
                          << size(1400, 285) << none;
    QTest::newRow("text MaxLen 0") << "TXTTEXT" << 0 << "Codice" << noRif << 5000 << combo << size(600, 195)
                                   << size(600, 285) << none;
    QTest::newRow("caption wider than input") << "EDITBOX" << 3 << "Descrizione" << noRif << 5000 << combo
                                              << size(1100, 195) << size(1100, 285) << none;
    QTest::newRow("text cut to limit") << "TXTTEXT" << 50 << "X" << noRif << 5000 << combo << size(5000, 195)
                                       << size(5000, 285) << none;
    QTest::newRow("numeric not limited") << "TXTNUMERIC" << 50 << "X" << noRif << 5000 << combo
                                         << size(7000, 195) << size(7000, 285) << none;
    QTest::newRow("long caption not limited") << "TXTTEXT" << 5 << QString(60, u'x') << noRif << 5000 << combo
                                              << size(6000, 195) << size(6000, 285) << none;
    // Lookup-coded: description box 2 x input beside it; caption spans input + 140 + description,
    // and only description and caption give back what passes the limit.
    QTest::newRow("lookup text") << "TXTTEXT" << 5 << "Cliente" << rif << 5000 << combo << size(2240, 195)
                                 << size(700, 285) << size(1400, 285);
    QTest::newRow("lookup text shrinks") << "TXTTEXT" << 20 << "Cod" << rif << 5000 << combo << size(5000, 195)
                                         << size(2800, 285) << size(2060, 285);
    QTest::newRow("lookup numeric shrinks") << "SPECIALNUMERIC" << 10 << "Cod" << rif << 4000 << combo
                                            << size(4000, 195) << size(1400, 285) << size(2460, 285);
    QTest::newRow("lookup caption decides") << "TXTTEXT" << 2 << "Fornitore" << rif << 5000 << combo
                                            << size(2840, 195) << size(900, 285) << size(1800, 285);
    // The description box cannot give back more than its own width.
    QTest::newRow("lookup numeric over limit") << "TXTNUMERIC" << 40 << "Cod" << rif << 5000 << combo
                                               << size(5000, 195) << size(5600, 285) << size(0, 285);
    QTest::newRow("lookup text at limit") << "TXTTEXT" << 40 << "Cod" << rif << 5000 << combo << size(5000, 195)
                                          << size(5000, 285) << size(0, 285);
    // Template widths, widened by the caption.
    QTest::newRow("memo") << "TXTMEMO" << 2000 << "Note" << noRif << 5000 << combo << size(4935, 195)
                          << size(4935, 1284) << none;
    QTest::newRow("memo wide caption") << "MEMO" << 0 << QString(55, u'n') << noRif << 5000 << combo
                                       << size(5500, 195) << size(5500, 1284) << none;
    QTest::newRow("date") << "TXTDATE" << 10 << "Data" << noRif << 5000 << combo << size(975, 195)
                          << size(975, 285) << none;
    QTest::newRow("file") << "TXTFILE" << 255 << "Documento" << noRif << 5000 << combo << size(2172, 195)
                          << size(2172, 288) << none;
    // Check box: Desc + 200 against the caption template's 2055.
    QTest::newRow("check short") << "CHKBOOLEAN" << 0 << "Attivo" << noRif << 5000 << combo << size(2055, 195)
                                 << size(2055, 255) << none;
    QTest::newRow("check long") << "CHECKBOX" << 0 << QString(25, u'c') << noRif << 5000 << combo
                                << size(2700, 195) << size(2700, 255) << none;
    QTest::newRow("combo") << "CMBBOUNDED" << 0 << "Zona" << noRif << 5000 << 3000 << size(3000, 195)
                           << size(3000, 315) << none;
    QTest::newRow("combo narrower than caption") << "COMBOBOX" << 0 << "Provincia di" << noRif << 5000 << 1000
                                                 << size(1200, 195) << size(1200, 315) << none;
    // Binary: Desc as a number of characters; a caption text (0) keeps the template width.
    QTest::newRow("binary width") << "CMDSHOWBIN" << 0 << "20" << noRif << 5000 << combo << size(2800, 195)
                                  << size(2800, 375) << none;
    QTest::newRow("binary fraction") << "COMMANDBUTTON" << 0 << "2.5 car" << noRif << 5000 << combo
                                     << size(350, 195) << size(350, 375) << none;
    QTest::newRow("binary caption text") << "CMDSHOWBIN" << 0 << "Allegato" << noRif << 5000 << combo
                                         << size(1215, 195) << size(1215, 375) << none;
    QTest::newRow("binary negative") << "CMDSHOWBIN" << 0 << "-3" << noRif << 5000 << combo << size(1215, 195)
                                     << size(1215, 375) << none;
    QTest::newRow("none") << "NESSUNO" << 10 << "Interno" << rif << 5000 << combo << size(2055, 195)
                          << size(855, 285) << none;
    // Hidden: a 150-twip input; with a lookup, a description box as wide as Desc.
    QTest::newRow("hidden") << "HIDDENFIELD" << 10 << "Interno" << noRif << 5000 << combo << size(2055, 195)
                            << size(150, 285) << none;
    QTest::newRow("hidden lookup") << "HIDDENFIELD" << 10 << "Cliente" << rif << 5000 << combo
                                   << size(700, 195) << size(150, 285) << size(700, 285);
    QTest::newRow("hidden lookup over limit") << "HIDDENFIELD" << 10 << QString(60, u'h') << rif << 5000 << combo
                                              << size(5000, 195) << size(150, 285) << size(5000, 285);
    // Last-change stamp: measured with its own caption (20 characters), not with Desc.
    QTest::newRow("umod") << "UMOD" << 0 << "x" << noRif << 5000 << combo << size(2175, 195)
                          << size(2175, 285) << none;
    QTest::newRow("umod limited") << "UMOD" << 0 << "x" << noRif << 1500 << combo << size(2000, 195)
                                  << size(2000, 285) << none;
    QTest::newRow("unknown") << "PICTUREBOX" << 30 << "Foto" << rif << 5000 << combo << size(2055, 195)
                             << size(855, 285) << none;
}

void Tst_pagelayout::sizeField()
{
    QFETCH(QString, objType);
    QFETCH(int, maxLen);
    QFETCH(QString, desc);
    QFETCH(QString, fieldRif);
    QFETCH(int, limit);
    QFETCH(int, comboWidth);
    QFETCH(Rect, caption);
    QFETCH(Rect, main);
    QFETCH(Rect, description);

    const Campo campo = field(objType, maxLen, desc, fieldRif);
    const FieldBoxes b = Layout::sizeField(campo, Layout::kindOf(objType), limit, fakeWidth, comboWidth);
    QCOMPARE(b.caption, caption);
    QCOMPARE(b.main, main);
    QCOMPARE(b.description.value_or(none), description);
}

void Tst_pagelayout::cellsOfARow()
{
    PageLayout layout = makeLayout();
    layout.usePage(1);
    FieldBoxes a = cell(1000);
    FieldBoxes b = cell(1000);
    FieldBoxes c = cell(1000, 1284);
    QCOMPARE(layout.place(1, a, false, sameRow), 1);
    QCOMPARE(layout.place(1, b, false, endRow), 1);
    QCOMPARE(layout.place(1, c, false, sameRow), 1);

    // Input under its caption; cells 140 apart; next row 40 below the input of the row's end.
    QCOMPARE(a.caption, at(100, 100, 1000, 195));
    QCOMPARE(a.main, at(100, 295, 1000, 285));
    QCOMPARE(b.caption, at(1240, 100, 1000, 195));
    QCOMPARE(b.main, at(1240, 295, 1000, 285));
    QCOMPARE(c.caption, at(100, 620, 1000, 195));
    QCOMPARE(c.main, at(100, 815, 1000, 1284));
    QCOMPARE(layout.rowLeft(1), 1240);
    QCOMPARE(layout.rowTop(1), 620);
    QCOMPARE(layout.rowBottom(1), 2139);
    QCOMPARE(layout.fieldsRight(), 2380);
    QCOMPARE(layout.fieldsBottom(), 2139);
    QCOMPARE(layout.tabs(), QStringList{QStringLiteral("1,1")});
}

void Tst_pagelayout::narrowOrWrap_data()
{
    QTest::addColumn<int>("firstWidth");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("mainWidth");
    QTest::addColumn<int>("descWidth"); // -1: no description box
    QTest::addColumn<Rect>("caption");
    QTest::addColumn<int>("expectedMain");
    QTest::addColumn<int>("expectedDesc");

    // The second field starts at 100 + first + 140; the room left to it is 4760 - first. A field
    // that passes R is narrowed to that room if the room is above 2800, else it wraps to the
    // next row (top 620).
    QTest::newRow("fits exactly") << 1000 << 3760 << 3760 << -1 << at(1240, 100, 3760, 195) << 3760 << -1;
    QTest::newRow("narrowed") << 1000 << 4000 << 4000 << -1 << at(1240, 100, 3760, 195) << 3760 << -1;
    QTest::newRow("narrowed, room 2801") << 1959 << 3000 << 3000 << -1 << at(2199, 100, 2801, 195) << 2801 << -1;
    QTest::newRow("wrapped, room 2800") << 1960 << 3000 << 3000 << -1 << at(100, 620, 3000, 195) << 3000 << -1;
    QTest::newRow("wrapped") << 3000 << 2000 << 2000 << -1 << at(100, 620, 2000, 195) << 2000 << -1;
    // With a description box only the description gives way.
    QTest::newRow("narrowed description") << 1000 << 4000 << 1000 << 2860 << at(1240, 100, 4000, 195) << 1000
                                          << 2620;
    QTest::newRow("wrapped with description") << 3000 << 2000 << 500 << 1360 << at(100, 620, 2000, 195) << 500
                                              << 1360;
}

void Tst_pagelayout::narrowOrWrap()
{
    QFETCH(int, firstWidth);
    QFETCH(int, width);
    QFETCH(int, mainWidth);
    QFETCH(int, descWidth);
    QFETCH(Rect, caption);
    QFETCH(int, expectedMain);
    QFETCH(int, expectedDesc);

    PageLayout layout = makeLayout();
    FieldBoxes first = cell(firstWidth);
    layout.place(1, first, false, sameRow);
    FieldBoxes second{size(width, 195), size(mainWidth, 285), std::nullopt};
    if (descWidth >= 0)
        second.description = size(descWidth, 285);
    QCOMPARE(layout.place(1, second, false, sameRow), 1);

    QCOMPARE(second.caption, caption);
    QCOMPARE(second.main, at(caption.left, caption.top + 195, expectedMain, 285));
    if (descWidth >= 0)
        QCOMPARE(*second.description, at(caption.left + expectedMain + 140, caption.top + 195, expectedDesc, 285));
    QCOMPARE(layout.fieldsRight(), std::min(std::max(caption.right(), 100 + firstWidth) + 140, 5140));
    QCOMPARE(layout.rowLeft(1), caption.right() + 140);
}

void Tst_pagelayout::firstFieldOfRowKeepsItsPlace()
{
    PageLayout layout = makeLayout();
    // 5000 wide from 100 passes R = 5140, but nothing comes before it on the row.
    FieldBoxes wide = cell(5000);
    layout.place(1, wide, false, endRow);
    QCOMPARE(wide.caption, at(100, 100, 5000, 195));
    QCOMPARE(wide.main, at(100, 295, 5000, 285));
    QCOMPARE(layout.fieldsRight(), 5140);

    // Wider than the limit: caption and input are cut to it, still in the first place of the row.
    FieldBoxes wider{size(7000, 195), size(6500, 285), std::nullopt};
    layout.place(1, wider, false, endRow);
    QCOMPARE(wider.caption, at(100, 620, 5000, 195));
    QCOMPARE(wider.main, at(100, 815, 5000, 285));

    // After a row end, the next field is again the first of its row.
    FieldBoxes third = cell(5000);
    layout.place(1, third, false, sameRow);
    QCOMPARE(third.caption, at(100, 1140, 5000, 195));
}

void Tst_pagelayout::wrapAndRowEndMoveDifferently()
{
    PageLayout layout = makeLayout();
    FieldBoxes shortOne = cell(1000);
    FieldBoxes tall = cell(1000, 1284); // input bottom 1579
    FieldBoxes wraps = cell(3000);
    layout.place(1, shortOne, false, sameRow);
    layout.place(1, tall, false, sameRow);
    layout.place(1, wraps, false, sameRow);
    // A wrap starts below the lowest input of the row.
    QCOMPARE(wraps.caption, at(100, 1619, 3000, 195));

    PageLayout other = makeLayout();
    FieldBoxes a = cell(1000, 1284);
    FieldBoxes b = cell(1000);
    FieldBoxes c = cell(2000);
    FieldBoxes d = cell(3000);
    other.place(1, a, false, sameRow);
    other.place(1, b, false, endRow);
    other.place(1, c, false, sameRow);
    other.place(1, d, false, sameRow);
    // A row end starts below the input of the field that ends it, even if a taller one stands
    // beside it...
    QCOMPARE(c.caption, at(100, 620, 2000, 195));
    // ...and the lowest input so far still decides where a later wrap goes.
    QCOMPARE(d.caption, at(100, 1619, 3000, 195));
}

void Tst_pagelayout::noPlacementCodeOneFieldPerRow()
{
    PageLayout layout = makeLayout();
    const QStringList codes{QString(), QStringLiteral("   "), QString(), QString()};
    int top = 100;
    for (const QString &code : codes) {
        FieldBoxes b = cell(500);
        layout.place(2, b, false, code);
        QCOMPARE(b.caption, at(100, top, 500, 195));
        top += 520;
    }
    // A code with anything but blanks keeps the row going.
    FieldBoxes b = cell(500);
    layout.place(2, b, false, QStringLiteral(" A "));
    FieldBoxes next = cell(500);
    layout.place(2, next, false, endRow);
    QCOMPARE(next.caption, at(740, top, 500, 195));
}

void Tst_pagelayout::overflowOpensSubPage()
{
    PageLayout layout = makeLayout();
    layout.usePage(4);
    // Rows at 100, 620, 1140, 1660, 2180 reach at most 2660 <= 2800; the sixth would reach 3180.
    for (int i = 0; i < 5; ++i) {
        FieldBoxes b = cell(1000);
        QCOMPARE(layout.place(4, b, false, endRow), 1);
    }
    FieldBoxes sixth = cell(1000);
    QCOMPARE(layout.place(4, sixth, false, sameRow), 2);
    QCOMPARE(sixth.caption, at(100, 100, 1000, 195));
    QCOMPARE(layout.pageFill(4), 2);
    QCOMPARE(layout.rowBottom(4), 620);
    // Later fields continue on the new tab.
    FieldBoxes seventh = cell(1000);
    QCOMPARE(layout.place(4, seventh, false, endRow), 2);
    QCOMPARE(seventh.caption, at(1240, 100, 1000, 195));
    QCOMPARE(layout.fieldsBottom(), 2700);
    QCOMPARE(layout.tabs(), (QStringList{QStringLiteral("4,1"), QStringLiteral("4,2")}));

    // Fields may reach B - 200 = 2800, not one twip further.
    for (const int mainHeight : {425, 426}) {
        PageLayout edge = makeLayout();
        for (int i = 0; i < 4; ++i) {
            FieldBoxes b = cell(1000);
            edge.place(1, b, false, endRow);
        }
        FieldBoxes last = cell(1000, mainHeight); // from 2180: bottom 2180 + 195 + height
        QCOMPARE(edge.place(1, last, false, endRow), mainHeight == 425 ? 1 : 2);
    }

    // A wrap that pushes the field below the limit opens the next tab too.
    PageLayout wrap = makeLayout();
    for (int i = 0; i < 4; ++i) {
        FieldBoxes b = cell(1000);
        wrap.place(1, b, false, endRow);
    }
    FieldBoxes left = cell(3000);
    FieldBoxes right = cell(3000); // does not fit beside it and would wrap to 2700
    QCOMPARE(wrap.place(1, left, false, sameRow), 1);
    QCOMPARE(wrap.place(1, right, false, sameRow), 2);
    QCOMPARE(right.caption, at(100, 100, 3000, 195));
}

void Tst_pagelayout::tallFieldAndEdgeCaps()
{
    PageLayout layout = makeLayout();
    // Taller than the client area: it opens a further tab even on an empty page, is not checked
    // again there and reaches below B; FieldsBottom stops at B and FieldsRight at R.
    FieldBoxes tall = cell(5000, 4000);
    QCOMPARE(layout.place(1, tall, false, endRow), 2);
    QCOMPARE(tall.main, at(100, 295, 5000, 4000));
    QCOMPARE(layout.fieldsBottom(), 3000);
    QCOMPARE(layout.fieldsRight(), 5140);
    QCOMPARE(layout.formHeight(), 3500);
    QCOMPARE(layout.formWidth(), 5140 + 1470 + 280);
    QCOMPARE(layout.formWidth(1000), 5140 + 1000 + 280);
}

void Tst_pagelayout::formSize()
{
    PageLayout empty = makeLayout();
    QVERIFY(empty.tabs().isEmpty());
    QCOMPARE(empty.formHeight(), 3000);
    QCOMPARE(empty.formWidth(), 1750);

    // Real editor geometry: one field, FieldsBottom 2040 + 480 + 40 = 2560, 3060 > 3000.
    PageLayout layout(Rect{45, 2010, 5085, 2880});
    FieldBoxes b = cell(1000);
    layout.place(1, b, false, endRow);
    QCOMPARE(b.caption, at(120, 2040, 1000, 195));
    QCOMPARE(layout.formHeight(), 3060);
    QCOMPARE(layout.formWidth(), 1260 + 1470 + 280);

    // Below the floor.
    PageLayout low(Rect{0, 0, 5140, 3000}, 100, 100);
    FieldBoxes c = cell(1000);
    low.place(1, c, false, endRow);
    QCOMPARE(low.fieldsBottom(), 620);
    QCOMPARE(low.formHeight(), 3000);
}

void Tst_pagelayout::unusedPagesGetNoTab()
{
    PageLayout layout = makeLayout();
    FieldBoxes a = cell(1000);
    FieldBoxes b = cell(1000);
    layout.usePage(1);
    layout.place(1, a, false, endRow);
    layout.usePage(3);
    layout.usePage(3);
    layout.place(3, b, false, endRow);
    // Each page has its own tables.
    QCOMPARE(b.caption, at(100, 100, 1000, 195));
    QCOMPARE(layout.tabs(), (QStringList{QStringLiteral("1,1"), QStringLiteral("3,1")}));
    QCOMPARE(layout.pageFill(2), 0);

    // A page used only by fields that are never placed still gets its tab.
    layout.usePage(30);
    QCOMPARE(layout.tabs().last(), QStringLiteral("30,1"));
}

void Tst_pagelayout::descriptionBoxes()
{
    PageLayout layout = makeLayout();
    const int limit = layout.fieldWidthLimit();
    QCOMPARE(limit, 5000);

    // Lookup-coded text: description 140 right of the input, at the input's top.
    FieldBoxes text = Layout::sizeField(field(QStringLiteral("TXTTEXT"), 5, QStringLiteral("Cliente"),
                                              QStringLiteral("ID")),
                                        Kind::Text, limit, fakeWidth);
    layout.place(1, text, false, sameRow);
    QCOMPARE(text.main, at(100, 295, 700, 285));
    QCOMPARE(*text.description, at(940, 295, 1400, 285));
    QCOMPARE(layout.rowLeft(1), 100 + 2240 + 140);

    // Hidden with a lookup: the description box stands where the hidden input is.
    FieldBoxes hidden = Layout::sizeField(field(QStringLiteral("HIDDENFIELD"), 5, QStringLiteral("Agente"),
                                                QStringLiteral("ID")),
                                          Kind::Hidden, limit, fakeWidth);
    layout.place(1, hidden, true, endRow);
    QCOMPARE(hidden.caption, at(2480, 100, 600, 195));
    QCOMPARE(hidden.main, at(2480, 295, 150, 285));
    QCOMPARE(*hidden.description, at(2480, 295, 600, 285));
    QCOMPARE(layout.fieldsRight(), 2480 + 600 + 140);
}

void Tst_pagelayout::fractionalPage()
{
    // Page 1.5 uses the tables of page 2 but marks its controls 1.5,k, which no tab carries.
    PageLayout layout = makeLayout();
    const float page = 1.5f;
    const int p = pageIndexOf(page);
    QCOMPARE(p, 2);
    layout.usePage(p);
    FieldBoxes b = cell(1000);
    const int k = layout.place(p, b, false, endRow);
    QCOMPARE(Layout::tabMark(page, k), QStringLiteral("1.5,1"));
    QCOMPARE(layout.tabs(), QStringList{QStringLiteral("2,1")});
    QCOMPARE(pageIndexOf(2.5f), 2);
    QCOMPARE(pageIndexOf(3.5f), 4);
    QCOMPARE(pageIndexOf(2.4f), 2);
}

void Tst_pagelayout::pageOutOfRange_data()
{
    QTest::addColumn<float>("page");
    QTest::newRow("31") << 31.0f;
    QTest::newRow("0") << 0.0f;
    QTest::newRow("-2") << -2.0f;
    QTest::newRow("0.5 rounds to 0") << 0.5f;
    QTest::newRow("30.5 rounds to 30") << 30.5f; // allowed
}

void Tst_pagelayout::pageOutOfRange()
{
    QFETCH(float, page);
    const int p = pageIndexOf(page);
    PageLayout layout = makeLayout();
    FieldBoxes b = cell(1000);
    if (p >= 1 && p <= kPages) {
        layout.place(p, b, false, endRow);
        QCOMPARE(layout.pageFill(p), 1);
        return;
    }
    QVERIFY_THROWS_EXCEPTION(Error, layout.usePage(p));
    QVERIFY_THROWS_EXCEPTION(Error, layout.pageFill(p));
    try {
        layout.place(p, b, false, endRow);
        QFAIL("no error");
    } catch (const Error &e) {
        QVERIFY2(e.message().contains(QString::number(p)), qPrintable(e.message()));
    }
    // Nothing was recorded.
    QVERIFY(layout.tabs().isEmpty());
    QCOMPARE(layout.fieldsRight(), 0);
}

void Tst_pagelayout::tabMark_data()
{
    QTest::addColumn<float>("page");
    QTest::addColumn<int>("subPage");
    QTest::addColumn<QString>("mark");
    QTest::newRow("whole") << 1.0f << 2 << "1,2";
    QTest::newRow("two digits") << 30.0f << 11 << "30,11";
    QTest::newRow("half") << 1.5f << 1 << "1.5,1";
    QTest::newRow("single precision") << 2.1f << 1 << "2.1,1";
}

void Tst_pagelayout::tabMark()
{
    QFETCH(float, page);
    QFETCH(int, subPage);
    QFETCH(QString, mark);
    QCOMPARE(Layout::tabMark(page, subPage), mark);
}

void Tst_pagelayout::roundTwips_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("expected");
    QTest::newRow("0.5") << 0.5 << 0;
    QTest::newRow("1.5") << 1.5 << 2;
    QTest::newRow("2.5") << 2.5 << 2;
    QTest::newRow("2.5001") << 2.5001 << 3;
    QTest::newRow("2.4999") << 2.4999 << 2;
    QTest::newRow("-0.5") << -0.5 << 0;
    QTest::newRow("-1.5") << -1.5 << -2;
    QTest::newRow("-2.6") << -2.6 << -3;
    QTest::newRow("huge") << 1e20 << INT_MAX;
    QTest::newRow("-huge") << -1e20 << INT_MIN;
    QTest::newRow("nan") << std::nan("") << 0;
}

void Tst_pagelayout::roundTwips()
{
    QFETCH(double, value);
    QFETCH(int, expected);
    QCOMPARE(Layout::roundTwips(value), expected);
}

QTEST_GUILESS_MAIN(Tst_pagelayout)
#include "tst_pagelayout.moc"
