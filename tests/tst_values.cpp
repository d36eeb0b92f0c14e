#include "platform/values.h"

#include <QRandomGenerator>
#include <QTest>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <type_traits>

using namespace Norvix::Values;

namespace {
// A fixed, non-leap "today" so that day/month inputs do not depend on the clock.
const QDate today(2023, 6, 15);

QDateTime at(int y, int m, int d, int h = 0, int min = 0, int s = 0)
{
    return QDateTime(QDate(y, m, d), QTime(h, min, s), Qt::UTC);
}
QDateTime timeOnly(int h, int min, int s = 0)
{
    return at(1899, 12, 30, h, min, s);
}
// The recognised value, or an invalid one.
QDateTime dateOf(QStringView text, QDate when)
{
    return Norvix::Values::toDate(text, when).value_or(QDateTime());
}
} // namespace

class Tst_values : public QObject
{
    Q_OBJECT

private slots:
    void val_data();
    void val();
    void valIsCorrectlyRounded();
    void valHostileInput();
    void toDate_data();
    void toDate();
    void twoFieldsUseTodaysYear();
    void toDateHostileInput();
    void toDateFollowsLocale();
    void conversions_data();
    void conversions();
    void conversionsFollowLocale();
    void toBoolean_data();
    void toBoolean();
    void toDecimalText_data();
    void toDecimalText();
    void conversionsHostileInput();
    void str_data();
    void str();
    void numberText_data();
    void numberText();
    void dateText_data();
    void dateText();
    void serials_data();
    void serials();
};

void Tst_values::val_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");

    // Leading number, stopping at the first unusable character.
    QTest::newRow("trailing letters") << "12abc" << 12.0;
    QTest::newRow("words after") << "24 and 57" << 24.0;
    QTest::newRow("date text") << "12/05/2001" << 12.0;
    QTest::newRow("comma is not decimal") << "1,5" << 1.0;
    QTest::newRow("comma is not grouping") << "1,000" << 1.0;
    QTest::newRow("second point") << "1.2.3" << 1.2;
    QTest::newRow("percent suffix") << "50%" << 50.0;
    QTest::newRow("suffix after fraction") << "50.5%" << 50.5; // legacy: type mismatch
    // Blanks, tabs and line breaks vanish everywhere, even inside the number.
    QTest::newRow("blank inside") << " 1 2" << 12.0;
    QTest::newRow("address") << "    1615 198th Street N.E." << 1615198.0;
    QTest::newRow("tab and line breaks") << "\t1\r\n2 .\n5" << 12.5;
    QTest::newRow("blank after sign") << "- 3" << -3.0;
    QTest::newRow("blank in exponent") << "1 e - 2" << 0.01;
    QTest::newRow("no-break space stops") << QStringLiteral("1\u00a02") << 1.0;
    // Signs, fractions and exponents.
    QTest::newRow("fraction") << "130.75" << 130.75;
    QTest::newRow("no integer part") << ".5" << 0.5;
    QTest::newRow("no fraction digits") << "5." << 5.0;
    QTest::newRow("negative") << "-1.5" << -1.5;
    QTest::newRow("plus") << "+7" << 7.0;
    QTest::newRow("double sign") << "--5" << 0.0;
    QTest::newRow("exponent") << "1e3" << 1000.0;
    QTest::newRow("exponent upper, plus") << "2.5E+2" << 250.0;
    QTest::newRow("negative exponent") << "25e-1" << 2.5;
    QTest::newRow("exponent without digits") << "7e" << 7.0;
    QTest::newRow("exponent sign without digits") << "7e-x" << 7.0;
    QTest::newRow("exponent needs a mantissa") << ".e3" << 0.0;
    QTest::newRow("overflow") << "-1e400" << -qInf();
    QTest::newRow("underflow") << "1e-400" << 0.0;
    QTest::newRow("long zero mantissa, big exponent") << "0.000e99999" << 0.0;
    // Hexadecimal and octal.
    QTest::newRow("hex") << "&H1F" << 31.0;
    QTest::newRow("hex lower case") << "&h1f" << 31.0;
    QTest::newRow("hex 16-bit max") << "&H7FFF" << 32767.0;
    QTest::newRow("hex 16-bit negative") << "&H8000" << -32768.0;
    QTest::newRow("hex FFFF") << "&HFFFF" << -1.0;
    QTest::newRow("hex leading zero keeps 16 bits") << "&H0FFFF" << -1.0;
    QTest::newRow("hex 32-bit") << "&H10000" << 65536.0;
    QTest::newRow("hex 32-bit negative") << "&HFFFFFFFF" << -1.0;
    QTest::newRow("hex beyond 32 bits keeps low bits") << "&H123456789" << double(0x23456789);
    QTest::newRow("hex wrapped below 0x10000 stays 32-bit") << "&H10000FFFF" << 65535.0;
    QTest::newRow("hex stops at non-digit") << "&H1G" << 1.0;
    QTest::newRow("hex no digits") << "&H" << 0.0;
    QTest::newRow("sign before hex") << "-&H10" << 0.0;
    QTest::newRow("octal") << "&O17" << 15.0;
    QTest::newRow("octal 16-bit negative") << "&O177777" << -1.0;
    QTest::newRow("octal 32-bit") << "&O200000" << 65536.0;
    QTest::newRow("octal stops at 8") << "&O178" << 15.0;
    QTest::newRow("ampersand alone") << "&17" << 0.0;
    // Nothing readable.
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("blanks only") << " \t\r\n" << 0.0;
    QTest::newRow("letters") << "abc" << 0.0;
    QTest::newRow("letter first") << "L13.5" << 0.0;
    QTest::newRow("lone point") << "." << 0.0;
    QTest::newRow("lone sign") << "-" << 0.0;
    QTest::newRow("full-width digit") << QStringLiteral("\uff11") << 0.0;
}

void Tst_values::val()
{
    QFETCH(QString, text);
    QFETCH(double, expected);
    const double actual = Norvix::Values::val(text);
    QCOMPARE(actual, expected);
    QVERIFY2(!(actual == 0.0 && std::signbit(actual)), "negative zero");
}

void Tst_values::valIsCorrectlyRounded()
{
    // Exact equality: digit-by-digit accumulation gets these wrong.
    QVERIFY(Norvix::Values::val(u"0.1") == 0.1);
    QVERIFY(Norvix::Values::val(u"123456789.123456789") == 123456789.123456789);
    QVERIFY(Norvix::Values::val(u"1.7976931348623157e308") == DBL_MAX);
    QVERIFY(Norvix::Values::val(u"4.9406564584124654e-324") == std::numeric_limits<double>::denorm_min());
    QVERIFY(Norvix::Values::val(u"0.30000000000000004") == 0.1 + 0.2);
}

void Tst_values::valHostileInput()
{
    const QString million(1'000'000, QLatin1Char('9'));
    QCOMPARE(Norvix::Values::val(QString(million + "x")), qInf());
    QCOMPARE(Norvix::Values::val(QString(QString(1'000'000, QLatin1Char('0')) + "42")), 42.0);
    QCOMPARE(Norvix::Values::val(QString("1" + QString(1'000'000, QLatin1Char('0')) + "e-1000000")), 1.0);
    QCOMPARE(Norvix::Values::val(QString("0." + QString(1'000'000, QLatin1Char('0')) + "5e1000001")), 5.0);
    QCOMPARE(Norvix::Values::val(QString("1e" + million)), qInf());
    QCOMPARE(Norvix::Values::val(QString("1e-" + million)), 0.0);
    QCOMPARE(Norvix::Values::val(QString("&H" + QString(1'000'000, QLatin1Char('F')))), -1.0);

    QRandomGenerator rng(20230615);
    const QString alphabet = QStringLiteral("0123456789+-.eE&HhOo \t\r\n,%x\u00e9");
    for (int i = 0; i < 20000; ++i) {
        QString s(int(rng.bounded(40)), Qt::Uninitialized);
        for (QChar &c : s)
            c = rng.bounded(4) == 0 ? QChar(char16_t(rng.bounded(0x10000))) : alphabet[rng.bounded(alphabet.size())];
        const double v = Norvix::Values::val(s);
        QVERIFY2(!std::isnan(v), qPrintable(s));
    }
}

void Tst_values::toDate_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDateTime>("expected"); // invalid: not a date
    const QDateTime no;
    const QDateTime may12 = at(2001, 5, 12);

    // Day/month/year with either date separator, or none.
    for (const char *s : {"12/05/2001", "12-05-2001", "12 05 2001", "12/05-2001", "12,05,2001", "12/5/01"})
        QTest::newRow(s) << s << may12;
    QTest::newRow("single digits") << "1/2/3" << at(2003, 2, 1);
    QTest::newRow("dots make a time") << "12.05.2001" << no;
    // Year window and range.
    QTest::newRow("window 29") << "12/5/29" << at(2029, 5, 12);
    QTest::newRow("window 30") << "12/5/30" << at(1930, 5, 12);
    QTest::newRow("window 99") << "12/5/99" << at(1999, 5, 12);
    QTest::newRow("four-digit year is literal") << "12/05/0099" << no;
    QTest::newRow("first day") << "1/1/100" << at(100, 1, 1);
    QTest::newRow("last day") << "31/12/9999" << at(9999, 12, 31);
    QTest::newRow("after last day") << "1/1/10000" << no;
    // Other orders when day/month/year fails.
    QTest::newRow("year first -") << "2001-05-12" << may12;
    QTest::newRow("year first /") << "2001/05/12" << may12;
    QTest::newRow("year, day, month") << "2001/13/05" << at(2001, 5, 13);
    QTest::newRow("day 13") << "13/05/2001" << at(2001, 5, 13);
    QTest::newRow("month first swapped") << "05/13/2001" << at(2001, 5, 13);
    QTest::newRow("two-digit year first") << "29/02/01" << at(2029, 2, 1);
    QTest::newRow("leap day") << "29/02/2004" << at(2004, 2, 29);
    for (const char *s : {"31/02/2001", "30/02/2001", "29/02/2001", "00/05/2001", "12/00/2001"})
        QTest::newRow(s) << s << no;
    // Two fields.
    QTest::newRow("day month") << "12/05" << at(2023, 5, 12);
    QTest::newRow("comma is neutral") << "12,05" << at(2023, 5, 12);
    QTest::newRow("month day") << "05/13" << at(2023, 5, 13);
    QTest::newRow("month year") << "05/2001" << at(2001, 5, 1);
    QTest::newRow("year month") << "30 2" << at(1930, 2, 1);
    QTest::newRow("nothing fits") << "0/0" << no;
    // Month names.
    for (const char *s : {"12 maggio 2001", "12-mag-2001", "maggio 12, 2001", "12 MAGGIO 2001", "12Mag2001",
                          "2001 maggio 12"})
        QTest::newRow(s) << s << may12;
    QTest::newRow("month name, year") << "maggio 2001" << at(2001, 5, 1);
    QTest::newRow("month name, 35 is a year") << "mag 35" << at(1935, 5, 1);
    QTest::newRow("day, month name") << "12 maggio" << at(2023, 5, 12);
    QTest::newRow("mar is March") << "1 mar 2001" << at(2001, 3, 1);
    QTest::newRow("settembre") << "3 Settembre 1999" << at(1999, 9, 3);
    QTest::newRow("month name alone") << "maggio" << no;
    QTest::newRow("two month names") << "12 maggio aprile" << no;
    QTest::newRow("month name and three numbers") << "1 maggio 2 2001" << no;
    QTest::newRow("English month") << "12 May 2001" << no;
    QTest::newRow("weekday") << "sabato 12 maggio 2001" << no;
    QTest::newRow("accented weekday") << QStringLiteral("luned\u00ec 14/05/2001") << no;
    // Times.
    QTest::newRow("h:m") << "12:30" << timeOnly(12, 30);
    QTest::newRow("h.m") << "12.30" << timeOnly(12, 30);
    QTest::newRow("h:m:s") << "12:30:45" << timeOnly(12, 30, 45);
    QTest::newRow("0.0 is midnight") << "0.0" << timeOnly(0, 0);
    QTest::newRow("end of day") << "23:59:59" << timeOnly(23, 59, 59);
    QTest::newRow("spaces around separator") << "9 : 05" << timeOnly(9, 5);
    for (const char *s : {"24:00", "12:60", "0:00:60", "02:04:12.017", "12:", ":30", "9 PM", "12 30 :"})
        QTest::newRow(s) << s << no;
    // Date and time together.
    QTest::newRow("date h:m") << "12/05/2001 09:05" << at(2001, 5, 12, 9, 5);
    QTest::newRow("date h.m.s") << "12/05/2001 9.05.07" << at(2001, 5, 12, 9, 5, 7);
    QTest::newRow("time first") << "09:05 12/05/2001" << at(2001, 5, 12, 9, 5);
    QTest::newRow("month name and time") << "12 maggio 2001 21.05" << at(2001, 5, 12, 21, 5);
    QTest::newRow("two times") << "12/05/2001 09:05 10:00" << no;
    QTest::newRow("time inside date") << "12/05 09:05 2001" << no;
    QTest::newRow("date separator before time") << "12/05/2001/09:05" << no;
    QTest::newRow("one field and time") << "12 09:05" << no;
    // Not dates.
    for (const char *s : {"", "   ", "12", "0", "abc", "1;2;3", "12//05/2001", "/12/05/2001", "12/05/2001/",
                          "1/2/3/4", "1 2 3 4", "12/05/2001*", "#12/05/2001#", "-", "(12/05/2001)"})
        QTest::newRow(qPrintable(QStringLiteral("not: '%1'").arg(QLatin1String(s)))) << s << no;
    QTest::newRow("Arabic-Indic digits") << QStringLiteral("\u0661\u0662/05/2001") << no;
}

void Tst_values::toDate()
{
    QFETCH(QString, text);
    QFETCH(QDateTime, expected);
    const auto actual = Norvix::Values::toDate(text, today);
    if (!expected.isValid()) {
        QVERIFY2(!actual, qPrintable(actual ? actual->toString(Qt::ISODate) : QString()));
        QVERIFY(!isDate(text, today));
        return;
    }
    QVERIFY(actual);
    QCOMPARE(*actual, expected);
    QCOMPARE(actual->timeSpec(), Qt::UTC);
}

void Tst_values::twoFieldsUseTodaysYear()
{
    QCOMPARE(dateOf(u"12/05", QDate(1999, 1, 1)), at(1999, 5, 12));
    QCOMPARE(dateOf(u"12 maggio", QDate(2040, 12, 31)), at(2040, 5, 12));
    // 29/02 is a day only in a leap year; otherwise the fallback reads it as year/month.
    QCOMPARE(dateOf(u"29/02", QDate(2024, 3, 1)), at(2024, 2, 29));
    QCOMPARE(dateOf(u"29/02", QDate(2023, 3, 1)), at(2029, 2, 1));
    // An invalid today falls back to the clock rather than rejecting.
    QCOMPARE(dateOf(u"12/05", QDate()), at(QDate::currentDate().year(), 5, 12));
}

void Tst_values::toDateHostileInput()
{
    QVERIFY(!Norvix::Values::toDate(QString(1'000'000, QLatin1Char('9')), today));
    QCOMPARE(dateOf(QString(QString(1'000'000, QLatin1Char('0')) + "12/05/2001"), today),
             at(2001, 5, 12));
    QVERIFY(!Norvix::Values::toDate(QString("12/05/" + QString(1'000'000, QLatin1Char('0'))), today));
    QVERIFY(!Norvix::Values::toDate(QString(1'000'000, QLatin1Char('a')), today));
    QVERIFY(!Norvix::Values::toDate(QString("1/").repeated(500'000), today));
    QVERIFY(!Norvix::Values::toDate(QString(1'000'000, QLatin1Char(' ')), today));

    // Whatever is accepted must be a valid value inside the supported range.
    QRandomGenerator rng(20010512);
    const QString alphabet = QStringLiteral("0123456789012345/-:., maggioMAGsetdic\t");
    int accepted = 0;
    for (int i = 0; i < 50000; ++i) {
        QString s(int(rng.bounded(16)), Qt::Uninitialized);
        for (QChar &c : s)
            c = rng.bounded(20) == 0 ? QChar(char16_t(rng.bounded(0x10000))) : alphabet[rng.bounded(alphabet.size())];
        const auto d = Norvix::Values::toDate(s, today);
        if (!d)
            continue;
        ++accepted;
        QVERIFY2(d->isValid(), qPrintable(s));
        QVERIFY2(d->date().year() >= 100 && d->date().year() <= 9999, qPrintable(s));
    }
    QVERIFY(accepted > 0); // the generator does reach valid dates
}

namespace {
// Restores the regional settings when a test that changes them ends, even on failure.
struct LocaleGuard
{
    explicit LocaleGuard(const Locale &l) { setLocale(l); }
    ~LocaleGuard() { setLocale(Locale::italian()); }
    LocaleGuard(const LocaleGuard &) = delete;
    LocaleGuard &operator=(const LocaleGuard &) = delete;
};

// A conversion result as text: the value, or "E6" / "E13" for the error.
template<typename T>
QString outcome(const std::optional<T> &value, const ConversionError &error) // read after the call
{
    if (!value)
        return QStringLiteral("E%1").arg(int(error));
    if (error != ConversionError::None)
        return QStringLiteral("error set on success");
    if constexpr (std::is_floating_point_v<T>) {
        if (*value == 0 && std::signbit(*value))
            return QStringLiteral("negative zero");
        return QString::number(double(*value), 'g', std::is_same_v<T, float> ? 9 : 17);
    } else {
        return QString::number(*value);
    }
}

// The expected text of a floating result, written as a C literal.
QString expectedFloating(const char *expected, bool single)
{
    if (expected[0] == 'E')
        return QString::fromLatin1(expected);
    const double v = std::strtod(expected, nullptr);
    return QString::number(single ? double(float(v)) : v, 'g', single ? 9 : 17);
}
} // namespace

void Tst_values::toDateFollowsLocale()
{
    Locale l = Locale::italian();
    l.twoDigitYearCutoff = 50;
    l.dateSeparator = u'.';
    l.monthNames[4] = QStringLiteral("Mai");
    l.monthAbbreviations.clear();
    const LocaleGuard guard(l);
    QCOMPARE(dateOf(u"12/5/49", today), at(2049, 5, 12));
    QCOMPARE(dateOf(u"12/5/50", today), at(1950, 5, 12));
    QCOMPARE(dateOf(u"12.05.2001", today), at(2001, 5, 12)); // "." now separates date parts
    QCOMPARE(dateOf(u"12.05.2001 9:05", today), at(2001, 5, 12, 9, 5));
    QCOMPARE(dateOf(u"12 mai 2001", today), at(2001, 5, 12));
    QVERIFY(!Norvix::Values::toDate(u"12 maggio 2001", today));
    QVERIFY(!Norvix::Values::toDate(u"12 mag 2001", today));
}

void Tst_values::conversions_data()
{
    QTest::addColumn<QString>("text");
    // Expected results per type: the value, or E6 (overflow) / E13 (type mismatch). Currency is
    // given in ten-thousandths.
    QTest::addColumn<QString>("byte");
    QTest::addColumn<QString>("integer");
    QTest::addColumn<QString>("longValue");
    QTest::addColumn<QString>("currency");
    QTest::addColumn<QString>("single");
    QTest::addColumn<QString>("doubleValue");

    struct Row
    {
        const char *text, *byte, *integer, *longValue, *currency, *single, *doubleValue;
    };
    const Row rows[] = {
        // Layout: blanks around, sign before or after, parentheses, currency symbol.
        {"12", "12", "12", "12", "120000", "12", "12"},
        {" \t12 ", "12", "12", "12", "120000", "12", "12"},
        {"-3", "E6", "-3", "-3", "-30000", "-3", "-3"},
        {"3-", "E6", "-3", "-3", "-30000", "-3", "-3"},
        {"(3)", "E6", "-3", "-3", "-30000", "-3", "-3"},
        {"- 3", "E6", "-3", "-3", "-30000", "-3", "-3"},
        {"+3", "3", "3", "3", "30000", "3", "3"},
        {"€ 12,50", "12", "12", "12", "125000", "12.5", "12.5"},
        {"-€ 12,50", "E6", "-12", "-12", "-125000", "-12.5", "-12.5"},
        {"12,50 €", "12", "12", "12", "125000", "12.5", "12.5"},
        {"(€12,50)", "E6", "-12", "-12", "-125000", "-12.5", "-12.5"},
        {"00012", "12", "12", "12", "120000", "12", "12"},
        {"-0", "0", "0", "0", "0", "0", "0"},
        // Decimal comma, thousands dots with any group size, exponent.
        {"1,5", "2", "2", "2", "15000", "1.5", "1.5"},
        {",5", "0", "0", "0", "5000", "0.5", "0.5"},
        {"5,", "5", "5", "5", "50000", "5", "5"},
        {"1.234,5", "E6", "1234", "1234", "12345000", "1234.5", "1234.5"},
        {"1.5", "15", "15", "15", "150000", "15", "15"},
        {"1.2.3", "123", "123", "123", "1230000", "123", "123"},
        {"1.234.567,5", "E6", "E6", "1234568", "12345675000", "1234567.5", "1234567.5"},
        {"1e3", "E6", "1000", "1000", "10000000", "1000", "1000"},
        {"1,5E-2", "0", "0", "0", "150", "0.015", "0.015"},
        {"1E+2", "100", "100", "100", "1000000", "100", "100"},
        // Hexadecimal and octal: 16-bit up to &HFFFF, 32-bit above.
        {"&H10", "16", "16", "16", "160000", "16", "16"},
        {"&hff", "255", "255", "255", "2550000", "255", "255"},
        {"&O17", "15", "15", "15", "150000", "15", "15"},
        {"&HFFFF", "E6", "-1", "-1", "-10000", "-1", "-1"},
        {"&H10000", "E6", "E6", "65536", "655360000", "65536", "65536"},
        {"&HFFFFFFFF", "E6", "-1", "-1", "-10000", "-1", "-1"},
        {"&H100000000", "E6", "E6", "E6", "E6", "E6", "E6"},
        {"&H1G", "E13", "E13", "E13", "E13", "E13", "E13"},
        {"-&H10", "E13", "E13", "E13", "E13", "E13", "E13"},
        {"&H", "E13", "E13", "E13", "E13", "E13", "E13"},
        // Not numbers.
        {"", "E13", "E13", "E13", "E13", "E13", "E13"},
        {"   ", "E13", "E13", "E13", "E13", "E13", "E13"},
        {"12abc", "E13", "E13", "E13", "E13", "E13", "E13"},
        {"1,5,3", "E13", "E13", "E13", "E13", "E13", "E13"},
        {"50%", "E13", "E13", "E13", "E13", "E13", "E13"},
        {".5", "E13", "E13", "E13", "E13", "E13", "E13"},
        {"1.", "E13", "E13", "E13", "E13", "E13", "E13"},
        {"1..2", "E13", "E13", "E13", "E13", "E13", "E13"},
        {"1,2.3", "E13", "E13", "E13", "E13", "E13", "E13"},
        {",", "E13", "E13", "E13", "E13", "E13", "E13"},
        {"1e", "E13", "E13", "E13", "E13", "E13", "E13"},
        {"1e+", "E13", "E13", "E13", "E13", "E13", "E13"},
        {"(-3)", "E13", "E13", "E13", "E13", "E13", "E13"},
        {"(3", "E13", "E13", "E13", "E13", "E13", "E13"},
        {"--3", "E13", "E13", "E13", "E13", "E13", "E13"},
        {"3--", "E13", "E13", "E13", "E13", "E13", "E13"},
        {"€€3", "E13", "E13", "E13", "E13", "E13", "E13"},
        {"1 000", "E13", "E13", "E13", "E13", "E13", "E13"},
        {"0x10", "E13", "E13", "E13", "E13", "E13", "E13"},
        {"True", "E13", "E13", "E13", "E13", "E13", "E13"},
        {"12/05/2001", "E13", "E13", "E13", "E13", "E13", "E13"},
        // Halves to even for the whole types, on the exact digits.
        {"0,5", "0", "0", "0", "5000", "0.5", "0.5"},
        {"2,5", "2", "2", "2", "25000", "2.5", "2.5"},
        {"3,5", "4", "4", "4", "35000", "3.5", "3.5"},
        {"-2,5", "E6", "-2", "-2", "-25000", "-2.5", "-2.5"},
        {"-0,5", "0", "0", "0", "-5000", "-0.5", "-0.5"},
        {"-0,6", "E6", "-1", "-1", "-6000", "-0.6", "-0.6"},
        {"2345,5678", "E6", "2346", "2346", "23455678", "2345.5678", "2345.5678"},
        {"2,5000000000000001", "3", "3", "3", "25000", "2.5", "2.5000000000000001"},
        // Range edges.
        {"254,5", "254", "254", "254", "2545000", "254.5", "254.5"},
        {"255,4", "255", "255", "255", "2554000", "255.4", "255.4"},
        {"255,5", "E6", "256", "256", "2555000", "255.5", "255.5"},
        {"32767,5", "E6", "E6", "32768", "327675000", "32767.5", "32767.5"},
        {"-32768,5", "E6", "-32768", "-32768", "-327685000", "-32768.5", "-32768.5"},
        {"-32768,6", "E6", "E6", "-32769", "-327686000", "-32768.6", "-32768.6"},
        {"2147483647,5", "E6", "E6", "E6", "21474836475000", "2147483647.5", "2147483647.5"},
        {"-2147483648,5", "E6", "E6", "-2147483648", "-21474836485000", "-2147483648.5", "-2147483648.5"},
        // Currency: four decimals, the fifth rounded half to even; 64-bit range.
        {"1,23456", "1", "1", "1", "12346", "1.23456", "1.23456"},
        {"1,23455", "1", "1", "1", "12346", "1.23455", "1.23455"},
        {"1,23445", "1", "1", "1", "12344", "1.23445", "1.23445"},
        {"1,234450001", "1", "1", "1", "12345", "1.234450001", "1.234450001"},
        {"0,00005", "0", "0", "0", "0", "0.00005", "0.00005"},
        {"922.337.203.685.477,5807", "E6", "E6", "E6", "9223372036854775807", "922337203685477.5807",
         "922337203685477.5807"},
        {"922337203685477,5808", "E6", "E6", "E6", "E6", "922337203685477.5808", "922337203685477.5808"},
        {"-922337203685477,5808", "E6", "E6", "E6", "-9223372036854775808", "-922337203685477.5808",
         "-922337203685477.5808"},
        {"-922337203685477,58085", "E6", "E6", "E6", "-9223372036854775808", "-922337203685477.58085",
         "-922337203685477.58085"},
        {"-922337203685477,58095", "E6", "E6", "E6", "E6", "-922337203685477.58095", "-922337203685477.58095"},
        // Single and Double ranges.
        {"1,23456789", "1", "1", "1", "12346", "1.23456789", "1.23456789"},
        {"3,402823E38", "E6", "E6", "E6", "E6", "3.402823e38", "3.402823e38"},
        {"-3,4028235E38", "E6", "E6", "E6", "E6", "-3.4028235e38", "-3.4028235e38"},
        {"3,4028236E38", "E6", "E6", "E6", "E6", "E6", "3.4028236e38"},
        {"1E39", "E6", "E6", "E6", "E6", "E6", "1e39"},
        {"1E-50", "0", "0", "0", "0", "0", "1e-50"},
        {"1,7976931348623157E308", "E6", "E6", "E6", "E6", "E6", "1.7976931348623157e308"},
        {"1,7976931348623158E+309", "E6", "E6", "E6", "E6", "E6", "E6"},
        {"-1E400", "E6", "E6", "E6", "E6", "E6", "E6"},
        {"4,9406564584124654E-324", "0", "0", "0", "0", "0", "4.9406564584124654e-324"},
        {"1E-400", "0", "0", "0", "0", "0", "0"},
        {"-1E-400", "0", "0", "0", "0", "0", "0"},
    };
    for (const Row &r : rows) {
        QTest::newRow(r.text) << QString::fromUtf8(r.text) << QString::fromLatin1(r.byte)
                              << QString::fromLatin1(r.integer) << QString::fromLatin1(r.longValue)
                              << QString::fromLatin1(r.currency) << expectedFloating(r.single, true)
                              << expectedFloating(r.doubleValue, false);
    }
}

void Tst_values::conversions()
{
    QFETCH(QString, text);
    QFETCH(QString, byte);
    QFETCH(QString, integer);
    QFETCH(QString, longValue);
    QFETCH(QString, currency);
    QFETCH(QString, single);
    QFETCH(QString, doubleValue);
    auto e = ConversionError::None;
    QCOMPARE(outcome(toByte(text, &e), e), byte);
    QCOMPARE(outcome(toInteger(text, &e), e), integer);
    QCOMPARE(outcome(toLong(text, &e), e), longValue);
    QCOMPARE(outcome(toCurrency(text, &e), e), currency);
    QCOMPARE(outcome(toSingle(text, &e), e), single);
    QCOMPARE(outcome(toDouble(text, &e), e), doubleValue);
    // Without an error pointer the results are the same.
    QCOMPARE(toDouble(text).has_value(), !doubleValue.startsWith(u'E'));
}

void Tst_values::conversionsFollowLocale()
{
    Locale l = Locale::italian();
    l.decimalSeparator = u'.';
    l.thousandsSeparator = u',';
    l.currencySymbol = QStringLiteral("L.");
    const LocaleGuard guard(l);
    QCOMPARE(toDouble(u"1,234.5"), 1234.5);
    QCOMPARE(toDouble(u"L. 1,000"), 1000.0);
    QCOMPARE(toDouble(u"1.000 L."), 1.0);
    QVERIFY(!toDouble(u"€ 1"));
    QCOMPARE(Norvix::Values::toDecimalText(u"1,234.50"), QStringLiteral("1234.50"));
    QCOMPARE(toLong(u"2.5"), 2);
    // A decimal mark equal to the thousands mark is only the decimal mark.
    l.thousandsSeparator = u'.';
    setLocale(l);
    QCOMPARE(toDouble(u"1.5"), 1.5);
    QVERIFY(!toDouble(u"1.234.5"));
}

void Tst_values::toBoolean_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    for (const char *s : {"True", "true", "TRUE", " True ", "#TRUE#", "-1", "1", "2,5", "1.000", "&H1", "(1)", "1E400"})
        QTest::newRow(s) << s << "true";
    for (const char *s : {"False", "fAlSe", "#FALSE#", "0", "0,0", "-0", "&H0", "0E5"})
        QTest::newRow(s) << s << "false";
    for (const char *s : {"#true#", "yes", "On", "Sì", "Vero", "Falso", "", "  ", "T", "1a", "True1"})
        QTest::newRow(qPrintable(QStringLiteral("not: '%1'").arg(QString::fromUtf8(s)))) << QString::fromUtf8(s) << "E13";
}

void Tst_values::toBoolean()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    auto e = ConversionError::None;
    const auto v = Norvix::Values::toBoolean(text, &e);
    QCOMPARE(v ? QString::fromLatin1(*v ? "true" : "false") : QStringLiteral("E%1").arg(int(e)), expected);
}

void Tst_values::toDecimalText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("grouping and trailing zero") << "1.234,50" << "1234.50";
    QTest::newRow("leading zero added") << ",5" << "0.5";
    QTest::newRow("leading zeros dropped") << "00012,30" << "12.30";
    QTest::newRow("zero") << "0" << "0";
    QTest::newRow("negative zero") << "-0,00" << "0.00";
    QTest::newRow("negative") << "(12,5)" << "-12.5";
    QTest::newRow("trailing sign") << "7-" << "-7";
    QTest::newRow("currency") << "€ 1.000" << "1000";
    QTest::newRow("exponent up") << "1,5E3" << "1500";
    QTest::newRow("exponent down") << "1,5E-2" << "0.015";
    QTest::newRow("exponent inside digits") << "1,2345E2" << "123.45";
    QTest::newRow("beyond a double")
        << "123456789012345678901234567890,123456789012345678901" << "123456789012345678901234567890.123456789012345678901";
    QTest::newRow("binary-inexact") << "0,1" << "0.1";
    QTest::newRow("hex") << "&HFFFF" << "-1";
    QTest::newRow("hex 32-bit") << "&H10000" << "65536";
    QTest::newRow("thousand zeros") << "1E1000" << QString(QStringLiteral("1") + QString(1000, u'0'));
    QTest::newRow("too many zeros") << "1E1001" << "E6";
    QTest::newRow("too small") << "1E-1002" << "E6";
    QTest::newRow("huge exponent") << "1E999999999999" << "E6";
    QTest::newRow("not a number") << "abc" << "E13";
    QTest::newRow("empty") << "" << "E13";
}

void Tst_values::toDecimalText()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    auto e = ConversionError::None;
    const auto v = Norvix::Values::toDecimalText(text, &e);
    QCOMPARE(v ? *v : QStringLiteral("E%1").arg(int(e)), expected);
}

void Tst_values::conversionsHostileInput()
{
    const QString digits(1'000'000, u'9');
    QCOMPARE(toDouble(digits), std::optional<double>());
    QCOMPARE(toDouble(QString("0," + QString(1'000'000, u'0') + u'1')), 0.0);
    QCOMPARE(toDouble(QString("1" + QString(1'000'000, u'0') + "E-1000000")), 1.0);
    QCOMPARE(toCurrency(QString("0," + QString(1'000'000, u'0') + u'1')), 0);
    QVERIFY(!toLong(QString(QString(1'000'000, u'0') + "1E-999999999999")).value_or(1));
    QCOMPARE(Norvix::Values::toDecimalText(QString("1," + QString(1'000'000, u'5'))).value_or(QString()).size(), 1'000'002);
    QVERIFY(!toByte(QString(1'000'000, u'(')));
    QVERIFY(!Norvix::Values::toBoolean(QString(1'000'000, u' ')));
    QVERIFY(!toDouble(QString("&H" + QString(1'000'000, u'F'))));

    QRandomGenerator rng(20230615);
    const QString alphabet = QStringLiteral("0123456789+-.,eE&HhOo ()€\t%x");
    for (int i = 0; i < 20000; ++i) {
        QString s(int(rng.bounded(24)), Qt::Uninitialized);
        for (QChar &c : s)
            c = rng.bounded(8) == 0 ? QChar(char16_t(rng.bounded(0x10000))) : alphabet[rng.bounded(alphabet.size())];
        const auto d = toDouble(s);
        QVERIFY2(!d || std::isfinite(*d), qPrintable(s));
        // A text that reads as a whole number within range reads the same as a Double.
        if (const auto l = toLong(s)) {
            QVERIFY2(d, qPrintable(s));
            QVERIFY2(std::fabs(*d - *l) <= 0.5, qPrintable(s));
        }
        if (const auto t = Norvix::Values::toDecimalText(s)) {
            QVERIFY2(d || t->size() > 300, qPrintable(s));
            if (d)
                QCOMPARE(Norvix::Values::val(*t), *d);
        }
    }
}

void Tst_values::str_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("whole") << 459.0 << " 459";
    QTest::newRow("sum") << double(41 + 1) << " 42";
    QTest::newRow("negative") << -459.65 << "-459.65";
    QTest::newRow("fraction") << 459.001 << " 459.001";
    QTest::newRow("no leading zero") << 0.24 << " .24";
    QTest::newRow("negative no leading zero") << -0.5 << "-.5";
    QTest::newRow("zero") << 0.0 << " 0";
    QTest::newRow("negative zero") << -0.0 << " 0";
    QTest::newRow("15 digits") << 1.0 / 3 << " .333333333333333";
    QTest::newRow("binary noise hidden") << 0.1 + 0.2 << " .3";
    QTest::newRow("rounded to 15 digits") << 2.0 / 3 << " .666666666666667";
    QTest::newRow("largest plain") << 999999999999999.0 << " 999999999999999";
    QTest::newRow("1E+15") << 1e15 << " 1E+15";
    QTest::newRow("1E+16") << 1e16 << " 1E+16";
    QTest::newRow("rounds up to exponent form") << 999999999999999.9 << " 1E+15";
    QTest::newRow("smallest plain") << 0.0001 << " .0001";
    QTest::newRow("1E-05") << 0.00001 << " 1E-05";
    QTest::newRow("negative exponent form") << -1.5e-10 << "-1.5E-10";
    QTest::newRow("three-digit exponent") << 1.7976931348623157e308 << " 1.79769313486232E+308";
    QTest::newRow("denormal") << 4.9406564584124654e-324 << " 4.94065645841247E-324";
    QTest::newRow("infinity") << qInf() << " 1.#INF";
}

void Tst_values::str()
{
    QFETCH(double, value);
    QFETCH(QString, expected);
    QCOMPARE(Norvix::Values::str(value), expected);
}

void Tst_values::numberText_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("single");
    QTest::addColumn<QString>("expected");
    QTest::newRow("decimal comma, no grouping") << 1234.5 << false << "1234,5";
    QTest::newRow("leading zero") << 0.5 << false << "0,5";
    QTest::newRow("negative") << -0.5 << false << "-0,5";
    QTest::newRow("negative zero") << -0.0 << false << "0";
    QTest::newRow("15 digits") << 1.0 / 3 << false << "0,333333333333333";
    QTest::newRow("single 7 digits") << 1.0 / 3 << true << "0,3333333";
    QTest::newRow("single from its own value") << double(0.1f) << true << "0,1";
    QTest::newRow("currency value") << 12.5 << false << "12,5";
    QTest::newRow("long") << 2147483647.0 << false << "2147483647";
    QTest::newRow("exponent form") << 1e16 << false << "1E+16";
    QTest::newRow("exponent form with fraction") << 1.5e-7 << false << "1,5E-07";
    QTest::newRow("single largest plain") << 1234567.0 << true << "1234567";
    QTest::newRow("single exponent form") << 1e7 << true << "1E+07";
    QTest::newRow("single overflow") << 1e39 << true << "1,#INF";
    QTest::newRow("NaN") << qQNaN() << false << "-1,#IND";
    QTest::newRow("minus infinity") << -qInf() << false << "-1,#INF";
}

void Tst_values::numberText()
{
    QFETCH(double, value);
    QFETCH(bool, single);
    QFETCH(QString, expected);
    QCOMPARE(Norvix::Values::numberText(value, single), expected);
}

void Tst_values::dateText_data()
{
    QTest::addColumn<QDateTime>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("date and time") << at(2001, 5, 12, 9, 5, 7) << "12/05/2001 09:05:07";
    QTest::newRow("midnight: date only") << at(2001, 5, 12) << "12/05/2001";
    QTest::newRow("time only") << timeOnly(9, 5, 7) << "09:05:07";
    QTest::newRow("day zero at midnight") << timeOnly(0, 0) << "00:00:00";
    QTest::newRow("milliseconds round") << QDateTime(QDate(2001, 5, 12), QTime(9, 5, 7, 500), Qt::UTC)
                                        << "12/05/2001 09:05:08";
    QTest::newRow("rounds into the next day") << QDateTime(QDate(2001, 5, 12), QTime(23, 59, 59, 999), Qt::UTC)
                                              << "13/05/2001";
    QTest::newRow("local time shown as is") << QDateTime(QDate(2001, 5, 12), QTime(9, 5), Qt::LocalTime)
                                                 << "12/05/2001 09:05:00";
    QTest::newRow("first year") << at(100, 1, 1) << "01/01/0100";
    QTest::newRow("invalid") << QDateTime() << "";
}

void Tst_values::dateText()
{
    QFETCH(QDateTime, value);
    QFETCH(QString, expected);
    QCOMPARE(Norvix::Values::dateText(value), expected);
}

void Tst_values::serials_data()
{
    QTest::addColumn<double>("serial");
    QTest::addColumn<QDateTime>("expected"); // invalid: out of range
    QTest::newRow("running example") << 37023.0 << at(2001, 5, 12);
    QTest::newRow("with time") << 2.525 << at(1900, 1, 1, 12, 36);
    QTest::newRow("day zero") << 0.0 << timeOnly(0, 0);
    QTest::newRow("before day zero, time counts forwards") << -1.25 << at(1899, 12, 29, 6);
    QTest::newRow("half a day before zero is day zero") << -0.5 << timeOnly(12, 0);
    QTest::newRow("rounds to the second") << 37023.99999999 << at(2001, 5, 13);
    QTest::newRow("first day") << -657434.0 << at(100, 1, 1);
    QTest::newRow("first day, late") << -657434.99 << at(100, 1, 1, 23, 45, 36);
    QTest::newRow("last day") << 2958465.5 << at(9999, 12, 31, 12);
    QTest::newRow("after last day") << 2958466.0 << QDateTime();
    QTest::newRow("rounds past last day") << 2958465.999999999 << QDateTime();
    QTest::newRow("before first day") << -657435.0 << QDateTime();
    QTest::newRow("huge") << 1e300 << QDateTime();
    QTest::newRow("NaN") << qQNaN() << QDateTime();
    QTest::newRow("infinity") << -qInf() << QDateTime();
}

void Tst_values::serials()
{
    QFETCH(double, serial);
    QFETCH(QDateTime, expected);
    const auto actual = fromSerial(serial);
    if (!expected.isValid()) {
        QVERIFY(!actual);
        return;
    }
    QVERIFY(actual);
    QCOMPARE(*actual, expected);
    // And back (-0.5 and 0.5 are the same moment, so compare moments).
    QCOMPARE(fromSerial(toSerial(*actual)), actual);
}

QTEST_GUILESS_MAIN(Tst_values)
#include "tst_values.moc"
