#include "session/checkvalue.h"
#include "platform/values.h"

#include <QTest>

#include <algorithm>
#include <cmath>
#include <type_traits>

using namespace Norvix::Values;
using Norvix::Campo;

Q_DECLARE_METATYPE(Norvix::Campo)

namespace {
// A fixed, non-leap "today" so that day/month inputs do not depend on the clock.
const QDate today(2023, 6, 15);

QDateTime at(int y, int m, int d, int h = 0, int min = 0, int s = 0, int ms = 0)
{
    return QDateTime(QDate(y, m, d), QTime(h, min, s, ms), Qt::UTC);
}
QDateTime timeOnly(int h, int min, int s = 0)
{
    return at(1899, 12, 30, h, min, s);
}
QDateTime dateOf(QStringView text, QDate when = today)
{
    return Norvix::Values::toDate(text, when).value_or(QDateTime());
}

// Rows of a text and what it gives, named after the text.
template<typename T>
void addRows(std::initializer_list<std::pair<QString, T>> rows)
{
    for (const auto &[text, expected] : rows) {
        QString name = u'\'' + text + u'\'';
        std::replace_if(name.begin(), name.end(), [](QChar c) { return c.unicode() < 0x20; }, u'?');
        QTest::newRow(qPrintable(name)) << text << expected;
    }
}

// Restores the regional settings when a test that changes them ends, even on failure.
struct LocaleGuard
{
    explicit LocaleGuard(const Locale &l) { setLocale(l); }
    ~LocaleGuard() { setLocale(Locale::italian()); }
};

// A conversion result as text: the value, or "E6" / "E13" for the error.
template<typename T>
QString outcome(const std::optional<T> &value, const ConversionError &error) // read after the call
{
    if (!value)
        return QStringLiteral("E%1").arg(int(error));
    if (error != ConversionError::None)
        return QStringLiteral("error set on success");
    if constexpr (std::is_integral_v<T>)
        return QString::number(*value);
    else if (*value == 0 && std::signbit(*value))
        return QStringLiteral("negative zero");
    return QString::number(double(*value), 'g', std::is_same_v<T, float> ? 9 : 17);
}

void addFormatRows(std::initializer_list<std::tuple<QVariant, const char *, QString>> rows)
{
    int n = 0;
    for (const auto &[value, picture, expected] : rows) {
        const QString name = QStringLiteral("%1: %2 | %3").arg(++n).arg(value.toString(), QString::fromUtf8(picture));
        QTest::newRow(qPrintable(name)) << value << QString::fromUtf8(picture) << expected;
    }
}

// The clock of the field checks: Thursday 15 June 2023, 10:30:00 local time.
const QDateTime fixedNow(QDate(2023, 6, 15), QTime(10, 30, 0));

QVariant t(const char *text)
{
    return QVariant(QString::fromUtf8(text));
}

// One field check: TIPO, ObjType, MinVal, MaxVal, Default and Format of the field, the value, the
// outcome, and the value after the check when it changes.
struct CheckRow
{
    QStringList field;
    QVariant input;
    bool ok;
    QVariant after = QVariant();
    QDateTime now = fixedNow;
};
} // namespace

class Tst_values : public QObject
{
    Q_OBJECT

private slots:
    void val_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("expected");
        addRows<double>({
            // The leading number, up to the first character that cannot continue it; blanks, tabs and
            // line breaks vanish everywhere, even inside the number.
            {"12abc", 12}, {"1,5", 1}, {"1.2.3", 1.2}, {"\t1\r\n2 .\n5", 12.5}, {"- 1 e - 2", -0.01},
            {QStringLiteral("1\u00a02"), 1}, {QString(u'1' + QString(QChar(0)) + u'2'), 1}, {".5", 0.5}, {"+7", 7},
            {"--5", 0}, {"2.5E+2", 250}, {"7e-x", 7}, {".e3", 0}, {"-1e400", -qInf()}, {"1e-400", 0},
            {"0.000e99999", 0}, {"L13.5", 0}, {"", 0}, {"-", 0}, {QStringLiteral("\uff11"), 0},
            // Correctly rounded, where digit-by-digit accumulation goes wrong.
            {"0.30000000000000004", 0.1 + 0.2}, {"4.9406564584124654e-324", std::numeric_limits<double>::denorm_min()},
            // Hexadecimal and octal: 16-bit up to 0xFFFF (leading zeros aside), 32-bit above, the low
            // 32 bits beyond; no sign before them.
            {"&h1f", 31}, {"&H8000", -32768}, {"&H0FFFF", -1}, {"&H10000", 65536}, {"&HFFFFFFFF", -1},
            {"&H123456789", double(0x23456789)}, {"&H10000FFFF", 65535}, {"&H1G", 1}, {"-&H10", 0},
            {"&O177777", -1}, {"&O178", 15}, {"&17", 0},
        });
    }

    void val()
    {
        QFETCH(QString, text);
        QFETCH(double, expected);
        const double actual = Norvix::Values::val(text);
        QVERIFY2(actual == expected, qPrintable(QString::number(actual, 'g', 17)));
        QVERIFY2(!(actual == 0.0 && std::signbit(actual)), "negative zero");
    }

    void toDate_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDateTime>("expected"); // invalid: not a date
        const QDateTime no;
        const QDateTime may12 = at(2001, 5, 12);
        addRows<QDateTime>({
            // Day/month/year with either date separator, blanks or commas; then M/D/Y, Y/M/D, Y/D/M.
            {"12/05/2001", may12}, {"12-05-2001", may12}, {"12 05 2001", may12}, {"12,05,2001", may12},
            {"12/5/01", may12}, {"05/13/2001", at(2001, 5, 13)}, {"2001-05-12", may12},
            {"2001/13/05", at(2001, 5, 13)}, {"29/02/01", at(2029, 2, 1)}, {"29/02/2004", at(2004, 2, 29)},
            {"12/5/29", at(2029, 5, 12)}, {"12/5/30", at(1930, 5, 12)}, {"1/1/100", at(100, 1, 1)},
            {"31/12/9999", at(9999, 12, 31)}, {"12/05/0099", no}, {"1/1/10000", no}, {"31/02/2001", no},
            {"00/05/2001", no}, {"12.05.2001", no}, // "." separates time parts
            // Two fields: day/month or month/day in today's year, then month/year and year/month.
            {"12/05", at(2023, 5, 12)}, {"05/13", at(2023, 5, 13)}, {"05/2001", at(2001, 5, 1)},
            {"30 2", at(1930, 2, 1)}, {"0/0", no},
            // Month names, in any letter case, full or abbreviated.
            {"12 MAGGIO 2001", may12}, {"12-mag-2001", may12}, {"maggio 12, 2001", may12}, {"2001 maggio 12", may12},
            {"maggio 2001", at(2001, 5, 1)}, {"mag 35", at(1935, 5, 1)}, {"12 maggio", at(2023, 5, 12)},
            {"maggio", no}, {"12 maggio aprile", no}, {"1 maggio 2 2001", no}, {"12 May 2001", no},
            {"sabato 12 maggio 2001", no},
            // Times, alone (dated 30/12/1899), before or after the date.
            {"12.30", timeOnly(12, 30)}, {"23:59:59", timeOnly(23, 59, 59)}, {"9 : 05", timeOnly(9, 5)},
            {"12/05/2001 9.05.07", at(2001, 5, 12, 9, 5, 7)}, {"09:05 12/05/2001", at(2001, 5, 12, 9, 5)},
            {"24:00", no}, {"12:60", no}, {"0:00:60", no}, {"02:04:12.017", no}, {"12:", no}, {":30", no},
            {"9 PM", no}, {"12/05/2001 09:05 10:00", no}, {"12/05 09:05 2001", no}, {"12 09:05", no},
            // Not dates.
            {"", no}, {"12", no}, {"abc", no}, {"1;2;3", no}, {"12//05/2001", no}, {"/12/05/2001", no},
            {"12/05/2001/", no}, {"1/2/3/4", no}, {"#12/05/2001#", no}, {QStringLiteral("\u0661\u0662/05/2001"), no},
        });
    }

    void toDate()
    {
        QFETCH(QString, text);
        QFETCH(QDateTime, expected);
        const auto actual = Norvix::Values::toDate(text, today);
        QCOMPARE(actual.value_or(QDateTime()), expected);
        QCOMPARE(isDate(text, today), expected.isValid());
        if (actual)
            QCOMPARE(actual->timeSpec(), Qt::UTC);
    }

    void toDateUsesTodayAndLocale()
    {
        // 29/02 is a day only in a leap year; otherwise the fallback reads it as year/month.
        QCOMPARE(dateOf(u"29/02", QDate(2024, 3, 1)), at(2024, 2, 29));
        QCOMPARE(dateOf(u"29/02", QDate(2023, 3, 1)), at(2029, 2, 1));
        // An invalid today falls back to the clock rather than rejecting.
        QCOMPARE(dateOf(u"12/05", QDate()), at(QDate::currentDate().year(), 5, 12));

        Locale l = Locale::italian();
        l.twoDigitYearCutoff = 50;
        l.dateSeparator = u'.';
        l.monthNames[4] = QStringLiteral("Mai");
        l.monthAbbreviations.clear();
        const LocaleGuard guard(l);
        QCOMPARE(dateOf(u"12/5/49"), at(2049, 5, 12));
        QCOMPARE(dateOf(u"12/5/50"), at(1950, 5, 12));
        QCOMPARE(dateOf(u"12.05.2001 9:05"), at(2001, 5, 12, 9, 5)); // "." now separates date parts
        QCOMPARE(dateOf(u"12 mai 2001"), at(2001, 5, 12));
        QVERIFY(!Norvix::Values::toDate(u"12 maggio 2001", today));
    }

    void conversions_data()
    {
        // The results for Byte, Integer, Long, Currency (in ten-thousandths), Single and Double: the
        // value, or E6 (overflow) / E13 (type mismatch).
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        const char *const e13 = "E13 E13 E13 E13 E13 E13";
        const std::pair<const char *, const char *> rows[] = {
            // Layout: blanks around, sign before or after, parentheses, currency symbol.
            {" \t12 ", "12 12 12 120000 12 12"}, {"3-", "E6 -3 -3 -30000 -3 -3"}, {"(3)", "E6 -3 -3 -30000 -3 -3"},
            {"-€ 12,50", "E6 -12 -12 -125000 -12.5 -12.5"}, {"12,50 €", "12 12 12 125000 12.5 12.5"},
            {"-0", "0 0 0 0 0 0"},
            // Decimal comma, thousands dots with any group size, exponent.
            {",5", "0 0 0 5000 0.5 0.5"}, {"1.234,5", "E6 1234 1234 12345000 1234.5 1234.5"},
            {"1.5", "15 15 15 150000 15 15"}, {"1,5E-2", "0 0 0 150 0.015 0.015"},
            // Hexadecimal and octal: 16-bit up to &HFFFF, 32-bit above.
            {"&hff", "255 255 255 2550000 255 255"}, {"&O17", "15 15 15 150000 15 15"},
            {"&HFFFF", "E6 -1 -1 -10000 -1 -1"}, {"&H10000", "E6 E6 65536 655360000 65536 65536"},
            {"&HFFFFFFFF", "E6 -1 -1 -10000 -1 -1"}, {"&H100000000", "E6 E6 E6 E6 E6 E6"},
            // Halves to even for the whole types, on the exact digits.
            {"2,5", "2 2 2 25000 2.5 2.5"}, {"3,5", "4 4 4 35000 3.5 3.5"}, {"-0,5", "0 0 0 -5000 -0.5 -0.5"},
            {"2,5000000000000001", "3 3 3 25000 2.5 2.5000000000000001"},
            // Range edges.
            {"254,5", "254 254 254 2545000 254.5 254.5"}, {"255,5", "E6 256 256 2555000 255.5 255.5"},
            {"32767,5", "E6 E6 32768 327675000 32767.5 32767.5"},
            {"-32768,5", "E6 -32768 -32768 -327685000 -32768.5 -32768.5"},
            {"-32768,6", "E6 E6 -32769 -327686000 -32768.6 -32768.6"},
            {"2147483647,5", "E6 E6 E6 21474836475000 2147483647.5 2147483647.5"},
            {"-2147483648,5", "E6 E6 -2147483648 -21474836485000 -2147483648.5 -2147483648.5"},
            // Currency: four decimals, the fifth rounded half to even; 64-bit range.
            {"1,23455", "1 1 1 12346 1.23455 1.23455"}, {"1,234450001", "1 1 1 12345 1.234450001 1.234450001"},
            {"922.337.203.685.477,5807", "E6 E6 E6 9223372036854775807 922337203685477.5807 922337203685477.5807"},
            {"922337203685477,5808", "E6 E6 E6 E6 922337203685477.5808 922337203685477.5808"},
            {"-922337203685477,58085",
             "E6 E6 E6 -9223372036854775808 -922337203685477.58085 -922337203685477.58085"},
            {"-922337203685477,58095", "E6 E6 E6 E6 -922337203685477.58095 -922337203685477.58095"},
            // Single and Double ranges; below them, zero.
            {"-3,4028235E38", "E6 E6 E6 E6 -3.4028235e38 -3.4028235e38"},
            {"3,4028236E38", "E6 E6 E6 E6 E6 3.4028236e38"}, {"1E-50", "0 0 0 0 0 1e-50"},
            {"1,7976931348623157E308", "E6 E6 E6 E6 E6 1.7976931348623157e308"},
            {"1,7976931348623158E+309", "E6 E6 E6 E6 E6 E6"}, {"-1E-400", "0 0 0 0 0 0"},
            // Not numbers.
            {"", e13}, {"12abc", e13}, {".5", e13}, {"1.", e13}, {"1..2", e13}, {"1e", e13}, {"1 000", e13},
            {"(-3)", e13}, {"-(3)", e13}, {"(3", e13}, {"--3", e13}, {"3--", e13}, {"€€3", e13}, {"&H1G", e13},
            {"-&H10", e13}, {"&H", e13},
        };
        for (const auto &[text, results] : rows) {
            // Single and Double are written as C literals: compare with their nearest value.
            QStringList r = QString::fromLatin1(results).split(u' ');
            for (const int i : {4, 5}) {
                const double v = r[i].toDouble();
                if (!r[i].startsWith(u'E'))
                    r[i] = QString::number(i == 4 ? double(float(v)) : v, 'g', i == 4 ? 9 : 17);
            }
            QTest::newRow(*text ? text : "empty") << QString::fromUtf8(text) << r.join(u' ');
        }
    }

    void conversions()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        auto e = ConversionError::None;
        const QStringList actual = {outcome(toByte(text, &e), e),   outcome(toInteger(text, &e), e),
                                    outcome(toLong(text, &e), e),   outcome(toCurrency(text, &e), e),
                                    outcome(toSingle(text, &e), e), outcome(toDouble(text, &e), e)};
        QCOMPARE(actual.join(u' '), expected);
        // Without an error pointer the results are the same.
        QCOMPARE(toDouble(text).has_value(), !expected.section(u' ', 5).startsWith(u'E'));
    }

    void conversionsFollowLocale()
    {
        Locale l = Locale::italian();
        l.decimalSeparator = u'.';
        l.thousandsSeparator = u',';
        l.currencySymbol = QStringLiteral("L.");
        const LocaleGuard guard(l);
        QCOMPARE(toDouble(u"1,234.5"), 1234.5);
        QCOMPARE(toDouble(u"L. 1,000"), 1000.0);
        QVERIFY(!toDouble(u"€ 1"));
        QCOMPARE(Norvix::Values::toDecimalText(u"1,234.50"), QStringLiteral("1234.50"));
        // A decimal mark equal to the thousands mark is only the decimal mark.
        l.thousandsSeparator = u'.';
        setLocale(l);
        QCOMPARE(toDouble(u"1.5"), 1.5);
        QVERIFY(!toDouble(u"1.234.5"));
    }

    void booleanAndDecimalText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("boolean");
        QTest::addColumn<QString>("decimal");
        using Row = std::tuple<const char *, const char *, QString>;
        for (const auto &[text, boolean, decimal] : std::initializer_list<Row>{
            {" True ", "true", "E13"}, {"fAlSe", "false", "E13"}, {"#TRUE#", "true", "E13"},
            {"#FALSE#", "false", "E13"}, {"#true#", "E13", "E13"}, {"True1", "E13", "E13"}, {"Sì", "E13", "E13"},
            {"", "E13", "E13"}, {"1.234,50", "true", "1234.50"}, {",5", "true", "0.5"}, {"00012,30", "true", "12.30"},
            {"-0,00", "false", "0.00"}, {"(12,5)", "true", "-12.5"}, {"7-", "true", "-7"}, {"€ 1.000", "true", "1000"},
            {"1,5E-2", "true", "0.015"}, {"1,2345E2", "true", "123.45"}, {"&HFFFF", "true", "-1"},
            {"&H0", "false", "0"},
            {"123456789012345678901234567890,123456789012345678901", "true",
             "123456789012345678901234567890.123456789012345678901"},
            // Up to a thousand zeros either side of the digits; any size is a Boolean.
            {"1E1000", "true", QStringLiteral("1") + QString(1000, u'0')}, {"1E1001", "true", "E6"},
            {"1E-1001", "true", QStringLiteral("0.") + QString(1000, u'0') + u'1'}, {"1E-1002", "true", "E6"}})
            QTest::newRow(*text ? text : "empty") << QString::fromUtf8(text) << boolean << decimal;
    }

    void booleanAndDecimalText()
    {
        QFETCH(QString, text);
        QFETCH(QString, boolean);
        QFETCH(QString, decimal);
        auto e = ConversionError::None;
        const auto b = Norvix::Values::toBoolean(text, &e);
        QCOMPARE(b ? QString::fromLatin1(*b ? "true" : "false") : QStringLiteral("E%1").arg(int(e)), boolean);
        const auto d = Norvix::Values::toDecimalText(text, &e);
        QCOMPARE(d ? *d : QStringLiteral("E%1").arg(int(e)), decimal);
    }

    void typedNumber_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        // Regional reading; a point that does not group three digits is a decimal point; no number:
        // the leading number.
        addRows<QString>({{"12,75", "12,75"}, {" 1.234,5 ", "1234,5"}, {"-1.234.567", "-1234567"}, {"1.5", "1,5"},
                          {"1234.5", "1234,5"}, {"12abc", "12"}, {"", "0"}, {"abc", "0"}});
    }

    void typedNumber()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(typedNumberText(text), expected);
        QCOMPARE(Norvix::Values::typedNumber(text), *toDouble(expected));
    }

    void numberText_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("str");
        QTest::addColumn<QString>("regional");
        QTest::addColumn<QString>("single");
        const auto row = [](const char *name, double v, const char *s, const char *r, const char *f) {
            QTest::newRow(name) << v << QString::fromLatin1(s) << QString::fromLatin1(r) << QString::fromLatin1(f);
        };
        row("plain", 1234.5, " 1234.5", "1234,5", "1234,5");
        row("negative fraction", -0.5, "-.5", "-0,5", "-0,5");
        row("negative zero", -0.0, " 0", "0", "0");
        row("15 and 7 digits", 1.0 / 3, " .333333333333333", "0,333333333333333", "0,3333333");
        row("rounded", 2.0 / 3, " .666666666666667", "0,666666666666667", "0,6666667");
        row("single from its own value", double(0.1f), " .100000001490116", "0,100000001490116", "0,1");
        row("largest plain", 999999999999999.0, " 999999999999999", "999999999999999", "1E+15");
        row("rounds up to exponent form", 999999999999999.9, " 1E+15", "1E+15", "1E+15");
        row("single largest plain", 1234567.0, " 1234567", "1234567", "1234567");
        row("single exponent form", 1e7, " 10000000", "10000000", "1E+07");
        row("smallest plain", 0.0001, " .0001", "0,0001", "0,0001");
        row("small exponent form", 0.00001, " 1E-05", "1E-05", "1E-05");
        row("negative exponent form", -1.5e-10, "-1.5E-10", "-1,5E-10", "-1,5E-10");
        row("three-digit exponent", 1.7976931348623157e308, " 1.79769313486232E+308", "1,79769313486232E+308",
            "1,#INF");
        row("infinity", qInf(), " 1.#INF", "1,#INF", "1,#INF");
        row("minus infinity", -qInf(), "-1.#INF", "-1,#INF", "-1,#INF");
        row("NaN", qQNaN(), "-1.#IND", "-1,#IND", "-1,#IND");
    }

    void numberText()
    {
        QFETCH(double, value);
        QFETCH(QString, str);
        QFETCH(QString, regional);
        QFETCH(QString, single);
        QCOMPARE(Norvix::Values::str(value), str);
        QCOMPARE(Norvix::Values::numberText(value), regional);
        QCOMPARE(Norvix::Values::numberText(value, true), single);
    }

    void serials_data()
    {
        QTest::addColumn<double>("serial");
        QTest::addColumn<QDateTime>("expected"); // invalid: out of range
        // Before day zero the fraction still counts forwards; rounded to the second.
        const std::pair<double, QDateTime> rows[] = {
            {2.525, at(1900, 1, 1, 12, 36)}, {0, timeOnly(0, 0)}, {-1.25, at(1899, 12, 29, 6)}, {-0.5, timeOnly(12, 0)},
            {37023.99999999, at(2001, 5, 13)}, {-657434.99, at(100, 1, 1, 23, 45, 36)},
            {2958465.5, at(9999, 12, 31, 12)}, {2958466, {}}, {2958465.999999999, {}}, {-657435, {}}, {qQNaN(), {}},
        };
        for (const auto &[serial, expected] : rows)
            QTest::newRow(qPrintable(QString::number(serial, 'g', 17))) << serial << expected;
    }

    void serials()
    {
        QFETCH(double, serial);
        QFETCH(QDateTime, expected);
        const auto actual = fromSerial(serial);
        QCOMPARE(actual.value_or(QDateTime()), expected);
        // And back (-0.5 and 0.5 are the same moment, so compare moments).
        if (actual)
            QCOMPARE(fromSerial(toSerial(*actual)), actual);
    }

    void format_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QString>("picture");
        QTest::addColumn<QString>("expected");
        // The running example: Saturday 12 May 2001, in the morning and in the evening.
        const QVariant d = at(2001, 5, 12, 9, 5, 7);
        const QVariant p = at(2001, 5, 12, 21, 5, 7);
        const QVariant dateOnly = QDate(2001, 5, 12);
        const QVariant timeOnly = QTime(9, 5, 7);
        const QVariant noonish = at(1900, 1, 1, 12, 36, 0); // serial 2.525
        const QVariant nullDouble(QMetaType::fromType<double>());
        const QVariant nullInt(QMetaType::fromType<int>());
        const QVariant nullText(QMetaType::fromType<QString>());
        const auto text = [](const char *s) { return QVariant(QString::fromUtf8(s)); };

        addFormatRows({
            // Date tokens.
            {d, "c", "12/05/2001 09:05:07"}, {dateOnly, "c", "12/05/2001"}, {timeOnly, "c", "09:05:07"},
            {at(2001, 5, 5, 9, 5, 7), "d dd", "5 05"},
            {d, "ddd dddd ddddd dddddd", "sab sabato 12/05/2001 sabato 12 maggio 2001"},
            {d, "w ww", "7 19"}, {at(2003, 12, 29), "w ww", "2 53"},
            {d, "m mm mmm mmmm", "5 05 mag maggio"},
            {d, "q y yy yyyy yyy", "2 132 01 2001 01132"}, // "yyy" is "yy" then "y"
            {d, "h hh n nn s ss", "9 09 5 05 7 07"}, {p, "hh ttttt", "21 21:05:07"},
            {d, "AM/PM am/pm A/P a/p", "AM am A a"}, {p, "AM/PM am/pm A/P a/p", "PM pm P p"},
            {at(2001, 5, 12, 0, 30), "hh:nn AM/PM", "12:30 AM"}, {at(2001, 5, 12, 12, 0), "hh:nn AM/PM", "12:00 PM"},
            // Italian designators are empty: AMPM prints nothing and the clock stays at 24 hours.
            {p, "hh:nn AMPM", "21:05 "},
            {d, "DD/MM/YYYY HH:NN:SS", "12/05/2001 09:05:07"},
            {at(2001, 5, 12, 23, 59, 59, 700), "dd/mm/yyyy hh:nn:ss", "13/05/2001 00:00:00"},
            // "m" and "mm" right after an hour are minutes, once per hour.
            {noonish, "HH:mm:ss", "12:36:00"}, {noonish, "mm :mm:ss", "01 :01:00"},
            {noonish, "hh:mm :ss:mm", "12:36 :00:01"},
            {noonish, "hh dd mm", "12 01 01"}, {noonish, "hh nn mm", "12 36 01"}, // a day or a minute cancels it
            {noonish, "hh mmm mm", "12 gen 36"},                                   // mmm is always the month
            // Date literals.
            {d, "d \"di\" mmmm \\G\\i\\o\\r\\n\\o tt", "12 di maggio Giorno tt"},
            {d, "dd.mm gg/aaaa", "12.05 gg/aaaa"}, // not translated
            {d, "dd \"unterminated", "12 unterminated"}, {d, "dd\\", "12"},
            {d, "dd/mm/yyyy;0.00", "12/05/2001"}, // first section only
            // Named dates.
            {d, "General Date", "12/05/2001 09:05:07"}, {d, "Long Date", "sabato 12 maggio 2001"},
            {d, "Medium Date", "12-mag-01"}, {timeOnly, "short date", "30/12/1899"},
            {dateOnly, "Long Time", "00:00:00"}, {p, "Medium Time", "21:05"}, {p, "Short Time", "21:05"},
            {37023.378553, "Short Date", "12/05/2001"}, {text("12/05/2001"), "Long Date", "sabato 12 maggio 2001"},
            {text("abc"), "Short Date", "abc"}, {QVariant(QMetaType::fromType<QDateTime>()), "Short Date", ""},
            // Serials.
            {-1.25, "dd/mm/yyyy hh:nn", "29/12/1899 06:00"}, {0, "c", "00:00:00"},
            {-657434, "dd/mm/yyyy", "01/01/0100"}, {2958466, "dd/mm/yyyy", "2958466"}, // beyond the range
            {true, "dd/mm/yyyy", "29/12/1899"}, {text("39697,11"), "hh:mm", "02:38"},
            {text("1.234"), "dd/mm/yyyy", "18/05/1903"}, // a number before a date
            // Number placeholders.
            {1234567.891, "#,##0.00", "1.234.567,89"}, {2658, "00000", "02658"}, {1, "0,000", "0.001"},
            {1, "#00##00#0", "00000001"}, {0.17, "#.00", ",17"}, {0, "#", ""}, {0, "#.#", ","},
            {12.5, ".##", "12,5"}, // integer digits without placeholders still show
            {123456789, "000-00-0000", "123-45-6789"}, {1.5, "0.0.0", "1,5.0"},
            {1, "##abcdefghijklmnopqrstuvwxyz", "1abcdefghijklmnopqrstuvwxyz"},
            {1e20, "0", "100000000000000000000"}, {true, "0", "-1"},
            {QVariant::fromValue(qlonglong(123456789012345678)), "#,##0", "123.456.789.012.345.678"},
            {QVariant::fromValue(0.1f), "0.0000000000", "0,1000000000"}, // a Single has 7 digits
            {0.1, "0.00000000000000000000", "0,10000000000000000000"},
            // Scaling, percent and exponent.
            {1234567, "#,##0,", "1.235"}, {400000, "##0,,", "0"}, {1234567, "0,.0", "1234,6"},
            {5, "0.00%", "500,00%"}, {0.25, "##.###\\%", ",25%"}, {10.23, "0.00%%", "102300,00%%"},
            {0.000123, "0.00E-00", "1,23E-04"}, {1234.5, "0.00E-00", "1,23E03"}, {1.7, "0.0000E-000", "1,7000E000"},
            {4.500001E+45, "#000.0000e+0", "4500,0010e+42"}, {0, "0.00E+00", "0,00E+00"},
            {9.999, "0.00E+00", "1,00E+01"}, // rounding carries into the exponent
            // Half away from zero, on the decimal digits.
            {2.5, "0", "3"}, {-2.5, "0", "-3"}, {0.075, "#.##", ",08"}, {1.005, "0.00", "1,01"},
            {0.0049, "#.##", ","}, {0.0094, "#.##", ",01"}, {999.996, "#,##0.00", "1.000,00"},
            // Sections.
            {-5, "0;(0)", "(5)"}, {0, "0.00;-0.00;\"zero\"", "zero"},
            {-5, "$#,##0;;\\Z\\e\\r\\o", "$-5"}, // empty second section: the first, with a sign
            {-5, "\\€ 0.00", "€ -5,00"}, {-5, "\"neg\"", "-neg"}, // the sign follows leading literals
            {0.001, "0.00;;\\z\\e\\r\\o", "0,00"}, // "zero" means exactly zero
            {-0.001, "0.00", "-0,00"},             // the section is chosen before rounding
            {nullDouble, "0;-0;\"zero\";\"nessuno\"", "nessuno"}, {nullInt, "0.00", ""},
            {QVariant::fromValue(nullptr), "0;-0;0;\\-", "-"}, {1, "0;-0;0;\"n\";\"ignored\"", "1"},
            // Named numbers.
            {1234567.891, "General Number", "1234567,891"}, {true, "General Number", "-1"},
            {1234567.891, "Currency", "€ 1.234.567,89"}, {-5, "Currency", "-€ 5,00"}, {0.2, "Fixed", "0,20"},
            {562486.2356, "STANDARD", "562.486,24"}, {0.7521, "Percent", "75,21%"},
            {-3456.789, "Scientific", "-3,46E+03"}, {1234567.891, "Yes/No", "Yes"}, {text("0"), "Yes/No", "No"},
            {false, "True/False", "False"}, {3, "On/Off", "On"}, {text("abc"), "Yes/No", "abc"},
            {text("1.234,5"), "Standard", "1.234,50"}, {d, "Fixed", "37023,38"}, {nullDouble, "Currency", ""},
            // Strings.
            {text("abc"), "@@@@@", "  abc"}, {text("abc"), "!@@@@@", "abc  "}, {text("abc"), "&&&&&", "abc"},
            {text("8888888"), "(@@@)&&&-&&&&", "(   )888-8888"}, {text("Pinocchio"), "@-@", "P-inocchio"},
            {text("testing"), "!@\\x", "txesting"}, {text("hello"), ">", "HELLO"}, {text("GeNoVa"), "<", "genova"},
            {QString(), "(@@@)&&&-&&&&;No Phone", "No Phone"}, {QVariant(), "@@@", "   "}, // invalid: empty text
            {nullText, "@;\"(nessuno)\"", "(nessuno)"}, {nullText, "@@@", ""}, {1.5, "@@@@@", "  1,5"},
            {true, "@", "True"}, {dateOnly, "@", "12/05/2001"}, {text("Ab"), "\"<\"@@@", "< Ab"},
            // Mismatches.
            {text("abc"), "0.00", "abc"}, {text("1.5"), "0.00", "15,00"},
            {text(" (1.234,5) "), "#,##0.00", "-1.234,50"}, {text("12/05/2001"), "0.00", "12/05/2001"},
            {text("12/05/2001"), "dd mmmm yyyy", "12 maggio 2001"}, {text("31/02/2001"), "dd/mm/yyyy", "31/02/2001"},
            {QString(), "0.00", ""}, {QString(), "dd/mm/yyyy", ""}, {qInf(), "0.00", "1,#INF"},
            // No picture: the plain text, dates rounded to the second and shown as their wall-clock value.
            {-0.5, "", "-0,5"}, {QVariant::fromValue(1.0f / 3), "", "0,3333333"}, {42, "", "42"},
            {text(" abc "), "", " abc "}, {true, "", "True"}, {nullInt, "", ""}, {d, "", "12/05/2001 09:05:07"},
            {at(2001, 5, 12, 9, 5, 7, 500), "", "12/05/2001 09:05:08"},
            {at(2001, 5, 12, 23, 59, 59, 999), "", "13/05/2001"},
            {QDateTime(QDate(2001, 5, 12), QTime(9, 5), Qt::LocalTime), "", "12/05/2001 09:05:00"},
            {timeOnly, "", "09:05:07"}, {QTime(0, 0), "", "00:00:00"}, {QDateTime(), "", ""},
        });
    }

    void format()
    {
        QFETCH(QVariant, value);
        QFETCH(QString, picture);
        QFETCH(QString, expected);
        QCOMPARE(Norvix::Values::format(value, picture), expected);
    }

    void formatFollowsLocale()
    {
        const QDateTime morning = at(2001, 5, 12, 9, 5, 7);
        const QDateTime evening = at(2001, 5, 12, 21, 5, 7);
        // Older Italian settings: "." between hours, minutes and seconds, hours without a leading zero.
        Locale older = Locale::italian();
        older.timeSeparator = u'.';
        older.longTimePattern = QStringLiteral("H.mm.ss");
        older.shortDatePattern = QStringLiteral("dd/MM/yy");
        const LocaleGuard guard(older);
        QCOMPARE(Norvix::Values::format(morning, u"hh:nn"), QStringLiteral("09.05"));
        QCOMPARE(Norvix::Values::format(morning, u"hh\\:nn"), QStringLiteral("09:05"));
        QCOMPARE(Norvix::Values::format(morning, u"c"), QStringLiteral("12/05/01 9.05.07"));
        QCOMPARE(dateText(morning), QStringLiteral("12/05/01 9.05.07"));

        Locale l = Locale::italian();
        l.amDesignator = QStringLiteral("m.");
        l.pmDesignator = QStringLiteral("p.");
        l.longTimePattern = QStringLiteral("h:mm:ss tt");
        l.currencySymbol = QStringLiteral("L.");
        l.currencyDecimals = 0;
        setLocale(l);
        QCOMPARE(Norvix::Values::format(evening, u"hh:nn AMPM"), QStringLiteral("09:05 p."));
        QCOMPARE(Norvix::Values::format(morning, u"Medium Time"), QStringLiteral("09:05 m."));
        QCOMPARE(Norvix::Values::format(evening, u"ttttt"), QStringLiteral("9:05:07 p."));
        QCOMPARE(Norvix::Values::format(-1234.5, u"Currency"), QStringLiteral("-L. 1.235"));
    }

    void checkValue_data()
    {
        QTest::addColumn<Campo>("field");
        QTest::addColumn<QVariant>("input");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QVariant>("after");
        QTest::addColumn<QDateTime>("now");

        const CheckRow rows[] = {
            // Kinds that are shown but not edited pass whatever the value, and keep it.
            {{"BYTE", "LockedField"}, t("300"), true}, {{"TEXT", "umod", "B"}, t("A"), true},
            {{"INTEGER", "HIDDENFIELD"}, t("abc"), true}, {{"DATE", "nessuno"}, t("abc"), true},
            {{"BYTE", "TXTNUMERIC"}, t("300"), false}, {{"BYTE", " LOCKEDFIELD"}, t("300"), false},
            // Text bounds by character codes, letter case counting.
            {{"TEXT", "", "B"}, t("A9"), false}, {{"TEXT", "", "B"}, t("B"), true},
            {{"TEXT", "", "A"}, QVariant(), false}, {{"memo", "", "", "M"}, t("m"), false},
            {{"TEXT", "", "", "M"}, t("M"), true}, {{"TEXT", "", "", "Z"}, t("È"), false},
            // Boolean: converts and is -1, 0 or 1 (True, False); the -2 of a greyed check box fails.
            {{"BOOLEAN"}, t("false"), true}, {{"BOOLEAN"}, t("-1"), true},
            {{"BOOLEAN"}, t("1"), true}, {{"BOOLEAN"}, t("2"), false},
            {{"BOOLEAN"}, t("sì"), false}, {{"BOOLEAN"}, QVariant(0), true}, {{"BOOLEAN"}, QVariant(-2), false},
            {{"boolean", "", "1", "1"}, QVariant(0), true},
            // Numeric types: the type's conversion and range (after rounding), then N against the bounds.
            {{"byte"}, t("255"), true}, {{"BYTE"}, t("256"), false},
            {{"BYTE"}, t("255,5"), false}, {{"BYTE"}, t(""), false}, {{"BYTE", "", "1"}, t("0"), false},
            {{"BYTE", "", "1"}, t("1"), true}, {{"BYTE"}, QVariant(true), false},
            {{"INTEGER"}, t("32767"), true}, {{"INTEGER"}, t("32768"), false}, {{"INTEGER", "", "-3"}, t("-5"), false},
            {{"INTEGER"}, QVariant(true), true}, {{"LONG"}, t("1.234.567"), true}, {{"LONG"}, t("2147483648"), false},
            {{"LONG"}, QVariant(qint64(1) << 40), false}, {{"CURRENCY"}, t("922337203685477,5807"), true},
            {{"CURRENCY"}, t("922337203685477,5808"), false}, {{"CURR"}, t("-922337203685477,5809"), false},
            {{"SINGLE"}, t("3,4E+38"), true}, {{"SINGLE"}, QVariant(1e39), false},
            {{"DOUBLE"}, t("1E308"), true}, {{"DOUBLE"}, t("1E309"), false},
            {{"BINARY", "", "B", "A"}, t("whatever"), true},
            // A typed value is read in the regional form, never cut at its comma; integer types count as
            // the whole number they store; bounds are read with "." as decimal mark.
            {{"DOUBLE", "", "", "1"}, t("1,5"), false}, {{"DOUBLE", "", "2"}, t("1,9"), false},
            {{"DOUBLE", "", "1,5"}, t("1,2"), true}, {{"DOUBLE", "", "", "1.5"}, t("1,9"), false},
            {{"CURRENCY", "", "", "1234.5"}, t("1.234,5"), true}, {{"DOUBLE", "", "", "1234"}, t("1234.5"), false},
            {{"BYTE", "", "", "254"}, t("254,5"), true}, {{"DOUBLE", "", "", "1"}, QVariant(1.5), false},
            {{"DOUBLE", "", "", "abc"}, t("1"), false}, {{"INTEGER", "", "0"}, QVariant(true), false},
            {{"DOUBLE", "", "40000"}, QVariant(QDate(2023, 1, 1)), true}, // a date is its serial number
            // Date without MinVal: the default rule.
            {{"DATE"}, t(""), true, t("00:00:00")},
            {{"date", "", "", "01/01/1800"}, t("31/02/2023"), true, t("00:00:00")},
            {{"DATE", "", "", "", "NOW"}, t("01/02/2023"), true},
            {{"DATE", "", "", "", "now"}, t("xx"), true, t("15/06/2023 10:30:00")},
            {{"DATE", "", "", "", "Now", "yyyy-mm-dd hh:nn"}, QVariant(), true, t("2024-02-29 23:59"),
             QDateTime(QDate(2024, 2, 29), QTime(23, 59, 40))},
            {{"DATE", "", "", "01/01/2023", "NOW"}, t(""), false, t("15/06/2023 10:30:00")},
            {{"DATE", "", "", "", "NOW", "yyyy"}, t(""), false, t("2023")},
            {{"DATE", "", "", "31/12/1999", "01/01/2000"}, t("x"), false, t("01/01/2000")},
            {{"DATE", "", "", "", "abc"}, t(""), false, t("abc")},
            {{"DATE", "", "", "", " NOW"}, t(""), false, t(" NOW")},
            // Date bounds, date and time both counting; a MinVal turns the default rule off.
            {{"DATE", "", "01/01/2020"}, t("31/12/2019"), false}, {{"DATE", "", "01/01/2020"}, t("01/01/2020"), true},
            {{"DATE", "", "01/01/2020 12:00"}, t("01/01/2020 11:59"), false}, {{"DATE", "", "x"}, t("abc"), false},
            {{"DATE", "", "", "31/12/2023"}, t("31/12/2023"), true}, {{"DATE", "", "", "abc"}, t("01/01/3000"), true},
            {{"DATE", "", "x", "31/12/2020"}, t("15/06/2021"), false}, {{"DATE", "", "x"}, t("01/01/1900"), true},
            {{"DATE", "", "", "31/12/2022"}, QVariant(QDate(2023, 1, 1)), false},
            // A day and a month take the year of the clock given.
            {{"DATE", "", "", "16/06/2023"}, t("20/06"), false},
            {{"DATE", "", "", "16/06/2023"}, t("20/06"), true, QVariant(), QDateTime(QDate(2022, 1, 10), QTime(9, 0))},
        };
        int n = 0;
        for (const CheckRow &r : rows) {
            QStringList f = r.field;
            f.resize(6);
            Campo c;
            c.setTIPO(f[0]);
            c.setObjType(f[1]);
            c.setMinVal(f[2]);
            c.setMaxVal(f[3]);
            c.setDefault(f[4]);
            c.setFormat(f[5]);
            QTest::newRow(qPrintable(QStringLiteral("%1: %2 <- '%3'").arg(++n).arg(f.join(u'|'), r.input.toString())))
                << c << r.input << r.ok << (r.after.isValid() ? r.after : r.input) << r.now;
        }
    }

    void checkValue()
    {
        QFETCH(Campo, field);
        QFETCH(QVariant, input);
        QFETCH(bool, ok);
        QFETCH(QVariant, after);
        QFETCH(QDateTime, now);
        QVariant value = input;
        QCOMPARE(Norvix::CHECKVALUE(value, field, now), ok);
        QCOMPARE(value, after);
    }

    void hostileInput()
    {
        const QString nines(1'000'000, u'9');
        const QString zeros(1'000'000, u'0');
        QCOMPARE(Norvix::Values::val(QString(nines + u'x')), qInf());
        QCOMPARE(Norvix::Values::val(QString("0." + zeros + "5e1000001")), 5.0);
        QCOMPARE(Norvix::Values::val(QString("&H" + QString(1'000'000, u'F'))), -1.0);
        QVERIFY(!toDouble(nines));
        QCOMPARE(toCurrency(QString("0," + zeros + u'1')), 0);
        QCOMPARE(Norvix::Values::toDecimalText(QString("1," + nines)).value_or(QString()).size(), 1'000'002);
        QVERIFY(!toByte(QString(1'000'000, u'(')));
        const QString withNul = QStringLiteral("12/05") + QChar(0) + QStringLiteral("2001");
        QVERIFY(!toDouble(withNul));
        QVERIFY(!Norvix::Values::toDate(withNul, today));
        QCOMPARE(dateOf(QString(zeros + "12/05/2001")), at(2001, 5, 12));
        QVERIFY(!Norvix::Values::toDate(QString("1/").repeated(500'000), today));
        QCOMPARE(Norvix::Values::format(nines, u"0.00"), nines);
        QCOMPARE(Norvix::Values::format(QString(1'000'000, u'x'), u"@").size(), 1'000'000);
        // Only the first 257 characters of a picture count.
        QCOMPARE(Norvix::Values::format(1e308, QString(1000, u'%')), QString(257, u'%'));
    }
};

QTEST_GUILESS_MAIN(Tst_values)
#include "tst_values.moc"
