#include "platform/values.h"

#include <QRandomGenerator>
#include <QTest>

#include <cfloat>
#include <cmath>

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

QTEST_GUILESS_MAIN(Tst_values)
#include "tst_values.moc"
