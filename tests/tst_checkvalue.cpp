#include "editor/checkvalue.h"

#include "platform/values.h"

#include <QTest>

using Norvix::Campo;

namespace {

// A fixed clock: Thursday 15 June 2023, 10:30:00 local time.
const QDateTime fixedNow(QDate(2023, 6, 15), QTime(10, 30, 0));

struct Field
{
    const char *tipo = "";
    const char *objType = "";
    const char *minVal = "";
    const char *maxVal = "";
    const char *defaultValue = "";
    const char *format = "";
};

Campo campo(const Field &f)
{
    Campo c;
    c.setNome(QStringLiteral("Campo1"));
    c.setTIPO(QString::fromUtf8(f.tipo));
    c.setObjType(QString::fromUtf8(f.objType));
    c.setMinVal(QString::fromUtf8(f.minVal));
    c.setMaxVal(QString::fromUtf8(f.maxVal));
    c.setDefault(QString::fromUtf8(f.defaultValue));
    c.setFormat(QString::fromUtf8(f.format));
    return c;
}

// A text input.
QVariant t(const char *text)
{
    return QVariant(QString::fromUtf8(text));
}

// One row: the value after the check is the input unless `after` is given.
void row(const char *name, const Field &f, const QVariant &input, bool ok, const QVariant &after = QVariant())
{
    QTest::newRow(name) << QString::fromUtf8(f.tipo) << QString::fromUtf8(f.objType) << QString::fromUtf8(f.minVal)
                        << QString::fromUtf8(f.maxVal) << QString::fromUtf8(f.defaultValue)
                        << QString::fromUtf8(f.format) << input << ok << (after.isValid() ? after : input);
}

} // namespace

class Tst_checkvalue : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void checkValue_data();
    void checkValue();
    void dateWithoutYearTakesTheYearOfNow();
    void defaultNowFollowsTheClockGiven();
};

void Tst_checkvalue::initTestCase()
{
    Norvix::Values::setLocale(Norvix::Values::Locale::italian());
}

void Tst_checkvalue::checkValue_data()
{
    QTest::addColumn<QString>("tipo");
    QTest::addColumn<QString>("objType");
    QTest::addColumn<QString>("minVal");
    QTest::addColumn<QString>("maxVal");
    QTest::addColumn<QString>("defaultValue");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QVariant>("input");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QVariant>("after");

    // Kinds that are shown but not edited pass whatever the value, and keep it.
    row("locked byte overflow", {"BYTE", "LockedField"}, t("300"), true);
    row("hidden not a number", {"INTEGER", "HIDDENFIELD"}, t("abc"), true);
    row("nessuno date no default rule", {"DATE", "nessuno"}, t("abc"), true);
    row("umod date below min", {"DATE", "UMOD", "01/01/2020"}, t("01/01/2000"), true);
    row("umod text below min", {"TEXT", "umod", "B"}, t("A"), true);
    row("other kind is checked", {"BYTE", "TXTNUMERIC"}, t("300"), false);
    row("kind is not trimmed", {"BYTE", " LOCKEDFIELD"}, t("300"), false);

    // Text bounds by character codes, letter case counting.
    row("text min A9 below B", {"TEXT", "", "B"}, t("A9"), false);
    row("text min b above B", {"TEXT", "", "B"}, t("b"), true);
    row("text min equal", {"TEXT", "", "B"}, t("B"), true);
    row("text min empty value", {"TEXT", "", "B"}, t(""), false);
    row("text max m above M", {"TEXT", "", "", "M"}, t("m"), false);
    row("text max longer than bound", {"TEXT", "", "", "M"}, t("Ma"), false);
    row("text max equal", {"TEXT", "", "", "M"}, t("M"), true);
    row("text accented letter above Z", {"TEXT", "", "", "Z"}, t("È"), false);
    row("text digits compare as text", {"TEXT", "", "10"}, t("5"), true);
    row("text number value as text", {"TEXT", "", "10"}, QVariant(5), true);
    row("text no bounds", {"TEXT"}, t(""), true);
    row("memo inside", {"MEMO", "", "B", "D"}, t("C"), true);
    row("memo above", {"MEMO", "", "B", "D"}, t("E"), false);
    row("memo below", {"memo", "", "B", "D"}, t("A"), false);
    row("text null value is empty", {"TEXT", "", "A"}, QVariant(), false);

    // Boolean: converts and is True or False.
    row("bool True", {"BOOLEAN"}, t("True"), true);
    row("bool false lower", {"BOOLEAN"}, t("false"), true);
    row("bool #TRUE#", {"BOOLEAN"}, t("#TRUE#"), true);
    row("bool text -1", {"BOOLEAN"}, t("-1"), true);
    row("bool text 0", {"BOOLEAN"}, t("0"), true);
    row("bool text 1", {"BOOLEAN"}, t("1"), true);
    row("bool text 2", {"BOOLEAN"}, t("2"), false);
    row("bool text 0,5", {"BOOLEAN"}, t("0,5"), false);
    row("bool text yes", {"BOOLEAN"}, t("sì"), false);
    row("bool empty", {"BOOLEAN"}, t(""), false);
    row("bool null", {"BOOLEAN"}, QVariant(), false);
    row("bool value true", {"BOOLEAN"}, QVariant(true), true);
    row("bool value false", {"BOOLEAN"}, QVariant(false), true);
    row("check box ticked -1", {"BOOLEAN"}, QVariant(-1), true);
    row("check box unticked 0", {"BOOLEAN"}, QVariant(0), true);
    row("number 1", {"BOOLEAN"}, QVariant(1), true);
    row("check box greyed -2", {"BOOLEAN"}, QVariant(-2), false);
    row("number 2", {"BOOLEAN"}, QVariant(2.0), false);
    row("bool ignores bounds", {"boolean", "", "1", "1"}, QVariant(0), true);

    // Byte: the conversion under the regional settings, then N against the bounds.
    row("byte 0", {"BYTE"}, t("0"), true);
    row("byte 255", {"BYTE"}, t("255"), true);
    row("byte 256", {"BYTE"}, t("256"), false);
    row("byte 300 whatever the bounds", {"BYTE", "", "0", "1000"}, t("300"), false);
    row("byte -1", {"BYTE"}, t("-1"), false);
    row("byte 254,5 rounds to even", {"BYTE"}, t("254,5"), true);
    row("byte 255,5 rounds to 256", {"BYTE"}, t("255,5"), false);
    row("byte blanks around", {"byte"}, t(" 12 "), true);
    row("byte trailing letters", {"BYTE"}, t("12abc"), false);
    row("byte not a number", {"BYTE"}, t("abc"), false);
    row("byte empty", {"BYTE"}, t(""), false);
    row("byte null", {"BYTE"}, QVariant(), false);
    row("byte cleared box below min 1", {"BYTE", "", "1"}, t("0"), false);
    row("byte at min", {"BYTE", "", "1"}, t("1"), true);
    row("byte at max", {"BYTE", "", "", "100"}, t("100"), true);
    row("byte above max", {"BYTE", "", "", "100"}, t("101"), false);
    row("byte below min and above max", {"BYTE", "", "50", "10"}, t("20"), false);
    row("byte int value", {"BYTE"}, QVariant(200), true);
    row("byte int value overflow", {"BYTE"}, QVariant(256), false);
    row("byte boolean true is -1", {"BYTE"}, QVariant(true), false);

    // Integer, Long, Currency, Single, Double ranges.
    row("integer 32767", {"INTEGER"}, t("32767"), true);
    row("integer 32768", {"INTEGER"}, t("32768"), false);
    row("integer -32768", {"INTEGER"}, t("-32768"), true);
    row("integer -32769", {"INTEGER"}, t("-32769"), false);
    row("integer 32767,5 rounds up", {"INTEGER"}, t("32767,5"), false);
    row("integer above 32767 whatever the bounds", {"INTEGER", "", "", "99999"}, t("40000"), false);
    row("integer negative min", {"INTEGER", "", "-10"}, t("-5"), true);
    row("integer below negative min", {"INTEGER", "", "-3"}, t("-5"), false);
    row("integer boolean true is -1", {"INTEGER"}, QVariant(true), true);
    row("long 2147483647", {"LONG"}, t("2147483647"), true);
    row("long 2147483648", {"LONG"}, t("2147483648"), false);
    row("long -2147483648", {"LONG"}, t("-2147483648"), true);
    row("long thousands dots", {"LONG"}, t("1.234.567"), true);
    row("long qint64 value overflow", {"LONG"}, QVariant(qint64(1) << 40), false);
    row("currency top", {"CURRENCY"}, t("922337203685477,5807"), true);
    row("currency beyond top", {"CURRENCY"}, t("922337203685477,5808"), false);
    row("currency bottom", {"CURRENCY"}, t("-922337203685477,5808"), true);
    row("curr beyond bottom", {"CURR"}, t("-922337203685477,5809"), false);
    row("curr not a number", {"curr"}, t("x"), false);
    row("curr with bounds", {"CURR", "", "10", "20"}, t("15,75"), true);
    row("single largest", {"SINGLE"}, t("3,4E+38"), true);
    row("single 1E39", {"SINGLE"}, t("1E39"), false);
    row("single double value overflow", {"SINGLE"}, QVariant(1e39), false);
    row("double 1E308", {"DOUBLE"}, t("1E308"), true);
    row("double 1E309", {"DOUBLE"}, t("1E309"), false);
    row("double empty", {"DOUBLE"}, t(""), false);
    row("double value", {"DOUBLE"}, QVariant(2.5), true);

    // A typed value is read in the regional form, never cut at its comma; integer types count as
    // the whole number they store; bounds are read with "." as decimal mark.
    row("N 1,5 above max 1", {"DOUBLE", "", "", "1"}, t("1,5"), false);
    row("N 1,9 below min 2", {"DOUBLE", "", "2"}, t("1,9"), false);
    row("N min 1,5 reads as 1", {"DOUBLE", "", "1,5"}, t("1,2"), true);
    row("N 1,9 above max 1.5", {"DOUBLE", "", "", "1.5"}, t("1,9"), false);
    row("N 1.234,5 within max 1234.5", {"CURRENCY", "", "", "1234.5"}, t("1.234,5"), true);
    row("N 1234.5 above max 1234", {"DOUBLE", "", "", "1234"}, t("1234.5"), false);
    row("N byte 254,5 stores 254", {"BYTE", "", "", "254"}, t("254,5"), true);
    row("N double value is its own", {"DOUBLE", "", "", "1"}, QVariant(1.5), false);
    row("N bound not a number is 0", {"DOUBLE", "", "", "abc"}, t("1"), false);

    // Data types without rules.
    row("other type", {"BINARY", "", "B", "A"}, t("whatever"), true);
    row("no type", {"", "", "5", "1"}, t("3"), true);

    // Date without MinVal: the default rule.
    row("date empty no default", {"DATE"}, t(""), true, t("00:00:00"));
    row("date wrong no default", {"date"}, t("31/02/2023"), true, t("00:00:00"));
    row("date wrong no default, max", {"DATE", "", "", "01/01/1800"}, t("abc"), true, t("00:00:00"));
    row("date valid kept", {"DATE", "", "", "", "NOW"}, t("01/02/2023"), true);
    row("date NOW picture", {"DATE", "", "", "", "NOW", "dd/mm/yyyy hh:nn:ss"}, t(""), true, t("15/06/2023 10:30:00"));
    row("date now lower, no picture", {"DATE", "", "", "", "now"}, t("xx"), true, t("15/06/2023 10:30:00"));
    row("date Now short date", {"DATE", "", "", "", "Now", "Short Date"}, t(""), true, t("15/06/2023"));
    row("date NOW above max", {"DATE", "", "", "01/01/2023", "NOW"}, t(""), false, t("15/06/2023 10:30:00"));
    row("date NOW picture not a date", {"DATE", "", "", "", "NOW", "yyyy"}, t(""), false, t("2023"));
    row("date default text", {"DATE", "", "", "", "01/01/2000"}, t(""), true, t("01/01/2000"));
    row("date default above max", {"DATE", "", "", "31/12/1999", "01/01/2000"}, t("x"), false, t("01/01/2000"));
    row("date default not a date", {"DATE", "", "", "", "abc"}, t(""), false, t("abc"));
    row("date default not trimmed NOW", {"DATE", "", "", "", " NOW"}, t(""), false, t(" NOW"));

    // Date with MinVal: no default; a wrong date fails.
    row("date min empty value", {"DATE", "", "01/01/2020", "", "NOW"}, t(""), false);
    row("date min wrong value", {"DATE", "", "01/01/2020"}, t("abc"), false);
    row("date below min", {"DATE", "", "01/01/2020"}, t("31/12/2019"), false);
    row("date at min", {"DATE", "", "01/01/2020"}, t("01/01/2020"), true);
    row("date min time counts", {"DATE", "", "01/01/2020 12:00"}, t("01/01/2020 11:59"), false);
    row("date min not a date ignored", {"DATE", "", "x"}, t("01/01/1900"), true);
    row("date min not a date, wrong value", {"DATE", "", "x"}, t("abc"), false);
    row("date above max", {"DATE", "", "", "31/12/2023"}, t("01/01/2024"), false);
    row("date at max", {"DATE", "", "", "31/12/2023"}, t("31/12/2023"), true);
    row("date max time counts", {"DATE", "", "", "31/12/2023"}, t("31/12/2023 00:00:01"), false);
    row("date no max", {"DATE"}, t("31/12/9999"), true);
    row("date max not a date ignored", {"DATE", "", "", "abc"}, t("01/01/3000"), true);
    row("date inside both", {"DATE", "", "01/01/2020", "31/12/2020"}, t("15/06/2020"), true);
    row("date above both", {"DATE", "", "01/01/2020", "31/12/2020"}, t("15/06/2021"), false);
    row("date below both", {"DATE", "", "01/01/2020", "31/12/2020"}, t("15/06/2019"), false);
    row("date max checked, min not a date", {"DATE", "", "x", "31/12/2020"}, t("15/06/2021"), false);
    row("date QDate value above max", {"DATE", "", "", "31/12/2022"}, QVariant(QDate(2023, 1, 1)), false);
    row("date QDateTime value inside", {"DATE", "", "01/01/2023", "31/12/2023"},
        QVariant(QDateTime(QDate(2023, 3, 1), QTime(8, 0))), true);
}

void Tst_checkvalue::checkValue()
{
    QFETCH(QString, tipo);
    QFETCH(QString, objType);
    QFETCH(QString, minVal);
    QFETCH(QString, maxVal);
    QFETCH(QString, defaultValue);
    QFETCH(QString, format);
    QFETCH(QVariant, input);
    QFETCH(bool, ok);
    QFETCH(QVariant, after);

    Campo c;
    c.setTIPO(tipo);
    c.setObjType(objType);
    c.setMinVal(minVal);
    c.setMaxVal(maxVal);
    c.setDefault(defaultValue);
    c.setFormat(format);

    QVariant value = input;
    QCOMPARE(Norvix::CHECKVALUE(value, c, fixedNow), ok);
    QCOMPARE(value, after);
}

// A date given without its year is read in the year of the clock passed in.
void Tst_checkvalue::dateWithoutYearTakesTheYearOfNow()
{
    const Campo c = campo({"DATE", "", "", "16/06/2023"});
    QVariant value = QStringLiteral("20/06");
    QVERIFY(!Norvix::CHECKVALUE(value, c, fixedNow));
    value = QStringLiteral("20/06");
    QVERIFY(Norvix::CHECKVALUE(value, c, QDateTime(QDate(2022, 1, 10), QTime(9, 0))));
}

void Tst_checkvalue::defaultNowFollowsTheClockGiven()
{
    const Campo c = campo({"DATE", "", "", "", "NOW", "yyyy-mm-dd hh:nn"});
    QVariant value;
    QVERIFY(Norvix::CHECKVALUE(value, c, QDateTime(QDate(2024, 2, 29), QTime(23, 59, 40))));
    QCOMPARE(value, QVariant(QStringLiteral("2024-02-29 23:59")));
}

QTEST_GUILESS_MAIN(Tst_checkvalue)
#include "tst_checkvalue.moc"
