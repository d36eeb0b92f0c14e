#include "platform/values.h"

#include <QRandomGenerator>
#include <QTest>

using namespace Norvix::Values;

namespace {
QDateTime at(int y, int m, int d, int h = 0, int min = 0, int s = 0, int ms = 0)
{
    return QDateTime(QDate(y, m, d), QTime(h, min, s, ms), Qt::UTC);
}
// The running example: Saturday 12 May 2001, in the morning and in the evening.
const QDateTime morning = at(2001, 5, 12, 9, 5, 7);
const QDateTime evening = at(2001, 5, 12, 21, 5, 7);
const QVariant dateOnly = QDate(2001, 5, 12);
const QVariant timeOnly = QTime(9, 5, 7);

// Restores the regional settings when a test that changes them ends, even on failure.
struct LocaleGuard
{
    LocaleGuard() = default;
    explicit LocaleGuard(const Locale &l) { setLocale(l); }
    ~LocaleGuard() { setLocale(Locale::italian()); }
    LocaleGuard(const LocaleGuard &) = delete;
    LocaleGuard &operator=(const LocaleGuard &) = delete;
};

void addRows(const char *group, std::initializer_list<std::tuple<QVariant, const char *, QString>> rows)
{
    int n = 0;
    for (const auto &[value, picture, expected] : rows) {
        const QString name = QStringLiteral("%1 %2: %3 | %4")
                                 .arg(QLatin1String(group))
                                 .arg(++n)
                                 .arg(value.toString(), QString::fromUtf8(picture));
        QTest::newRow(qPrintable(name)) << value << QString::fromUtf8(picture) << expected;
    }
}
} // namespace

class Tst_format : public QObject
{
    Q_OBJECT

private slots:
    void format_data();
    void format();
    void olderTimeSeparator();
    void designatorsWhenSet();
    void pictureIsTruncated();
    void hostileInput();
};

void Tst_format::format_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("picture");
    QTest::addColumn<QString>("expected");
    const QVariant d = morning;
    const QVariant p = evening;
    const QVariant may5 = at(2001, 5, 5, 9, 5, 7);
    const QVariant noonish = at(1900, 1, 1, 12, 36, 0); // serial 2.525

    addRows("date tokens", {
        {d, "c", "12/05/2001 09:05:07"},
        {p, "c", "12/05/2001 21:05:07"},
        {dateOnly, "c", "12/05/2001"},
        {timeOnly, "c", "09:05:07"},
        {d, "d dd", "12 12"},
        {may5, "d dd", "5 05"},
        {d, "ddd dddd", "sab sabato"},
        {d, "ddddd", "12/05/2001"},
        {d, "dddddd", "sabato 12 maggio 2001"},
        {d, "w ww", "7 19"},
        {at(2003, 12, 29), "w ww", "2 53"},
        {at(2005, 1, 1), "w ww", "7 1"},
        {d, "m mm mmm mmmm", "5 05 mag maggio"},
        {d, "q y", "2 132"},
        {d, "yy yyyy", "01 2001"},
        {d, "yyy", "01132"}, // "yy" then "y"
        {at(1900, 1, 1), "yyy", "001"},
        {d, "h hh", "9 09"},
        {p, "h hh", "21 21"},
        {d, "n nn s ss", "5 05 7 07"},
        {d, "ttttt", "09:05:07"},
        {p, "ttttt", "21:05:07"},
        {d, "AM/PM am/pm A/P a/p", "AM am A a"},
        {p, "AM/PM am/pm A/P a/p", "PM pm P p"},
        {p, "h:nn AM/PM", "9:05 PM"},
        {at(2001, 5, 12, 0, 30), "hh:nn AM/PM", "12:30 AM"},
        {at(2001, 5, 12, 12, 0), "hh:nn AM/PM", "12:00 PM"},
        {at(2001, 5, 12, 17, 24), "hh:nn:ss A/P", "05:24:00 P"},
        // Italian designators are empty: AMPM prints nothing and the clock stays at 24 hours.
        {p, "hh:nn AMPM", "21:05 "},
        // Letter case does not matter, except for the AM/PM tokens.
        {d, "DD/MM/YYYY HH:NN:SS", "12/05/2001 09:05:07"},
        {d, "HH:mm:ss", "09:05:07"},
        {d, "YYYY,MM,DD", "2001,05,12"},
        // Times are rounded to the second.
        {at(2001, 5, 12, 9, 5, 7, 600), "hh:nn:ss", "09:05:08"},
        {at(2001, 5, 12, 23, 59, 59, 700), "dd/mm/yyyy hh:nn:ss", "13/05/2001 00:00:00"},
    });
    addRows("m after h", {
        {noonish, "dd mm yyyy hh:mm:ss", "01 01 1900 12:36:00"},
        {noonish, "mm :mm:ss", "01 :01:00"},      // no hour: both months
        {noonish, "hh:mm :ss:mm", "12:36 :00:01"}, // once per hour
        {noonish, "dd:hh :mm:mm", "01:12 :36:01"},
        {noonish, "dd :mm:nn", "01 :01:36"},
        {noonish, "hh dd mm", "12 01 01"},         // a day token in between cancels it
        {noonish, "hh nn mm", "12 36 01"},         // so does a written minute
        {noonish, "hh mmm mm", "12 gen 36"},       // mmm is always the month
    });
    addRows("date literals", {
        {d, "dd/mm/yyyy", "12/05/2001"},
        {d, "dd/mm/yyyy hh:nn", "12/05/2001 09:05"},
        {d, "dd.mm.yyyy", "12.05.2001"},
        {d, "dd-mm-yy", "12-05-01"},
        {d, "d-mmmm-yy", "12-maggio-01"},
        {d, "d \"di\" mmmm", "12 di maggio"},
        {d, "\\G\\i\\o\\r\\n\\o: dd", "Giorno: 12"},
        {d, "dd\\/mm\\:yy", "12/05:01"},
        {d, "dd \"unterminated", "12 unterminated"},
        {d, "dd\\", "12"},
        {d, "gg/mm/aaaa", "gg/05/aaaa"}, // not translated
        {d, "tt dd", "tt 12"},
        {d, "dd/mm/yyyy;0.00", "12/05/2001"}, // first section only
    });
    addRows("named dates", {
        {d, "General Date", "12/05/2001 09:05:07"},
        {dateOnly, "General Date", "12/05/2001"},
        {timeOnly, "General Date", "09:05:07"},
        {d, "Long Date", "sabato 12 maggio 2001"},
        {timeOnly, "Long Date", "sabato 30 dicembre 1899"},
        {d, "Medium Date", "12-mag-01"},
        {d, "Short Date", "12/05/2001"},
        {d, "short date", "12/05/2001"},
        {timeOnly, "Short Date", "30/12/1899"},
        {d, "Long Time", "09:05:07"},
        {dateOnly, "Long Time", "00:00:00"},
        {d, "Medium Time", "09:05"},
        {p, "Medium Time", "21:05"},
        {d, "Short Time", "09:05"},
        {p, "Short Time", "21:05"},
        {37023.378553, "Short Date", "12/05/2001"},
        {QStringLiteral("12/05/2001"), "Long Date", "sabato 12 maggio 2001"},
        {QStringLiteral("abc"), "Short Date", "abc"},
        {QVariant(QMetaType::fromType<QDateTime>()), "Short Date", ""},
    });
    addRows("serials", {
        {37023, "dd/mm/yyyy", "12/05/2001"},
        {2.525, "dd/mm/yyyy hh:nn", "01/01/1900 12:36"},
        {-1.25, "dd/mm/yyyy hh:nn", "29/12/1899 06:00"},
        {0, "c", "00:00:00"},
        {0.37855, "c", "09:05:07"},
        {-657434, "dd/mm/yyyy", "01/01/0100"},
        {2958465, "dd/mm/yyyy", "31/12/9999"},
        {2958466, "dd/mm/yyyy", "2958466"}, // beyond the range: plain text
        {1e300, "dd/mm/yyyy", "1E+300"},
        {true, "dd/mm/yyyy", "29/12/1899"}, // True is -1
        {QStringLiteral("39697,11"), "hh:mm", "02:38"},
        {QStringLiteral("39697,11"), "mm-dd-yy", "09-06-08"},
    });

    addRows("number placeholders", {
        {1234567.891, "#,##0.00", "1.234.567,89"},
        {5459.4, "##,##0.00", "5.459,40"},
        {334.9, "###0.00", "334,90"},
        {2658, "00000", "02658"},
        {2658, "00.00", "2658,00"},
        {23.675, "##.####", "23,675"},
        {1, "0,000", "0.001"},
        {123456789, "#,#.#", "123.456.789,"},
        {1, "#00##00#0", "00000001"},
        {1, "000###", "000001"},
        {17, "#000", "017"},
        {100, "0##", "100"},
        {0.17, "#.00", ",17"},
        {0, "#", ""},
        {1, "#.#", "1,"},
        {0, "#.#", ","},
        {0, "#,##0", "0"},
        {12.5, ".##", "12,5"}, // integer digits without placeholders still show
        {123456789, "000-00-0000", "123-45-6789"},
        {1, "##abcdefghijklmnopqrstuvwxyz", "1abcdefghijklmnopqrstuvwxyz"},
        {1.5, "0.0.0", "1,5.0"}, // a second point is a literal
        {1e20, "0", "100000000000000000000"},
        {QVariant::fromValue(qlonglong(123456789012345678)), "#,##0", "123.456.789.012.345.678"},
        {QVariant::fromValue(0.1f), "0.0000000000", "0,1000000000"}, // a Single has 7 digits
        {0.1, "0.00000000000000000000", "0,10000000000000000000"},
        {true, "0", "-1"},
        {false, "0", "0"},
    });
    addRows("number scaling", {
        {1234567, "#,##0,", "1.235"},
        {100000000, "##0,,", "100"},
        {400000, "##0,,", "0"},
        {1234567, "0,.0", "1234,6"},
        {5, "0.00%", "500,00%"},
        {0.25, "##.00%", "25,00%"},
        {0.25, "##.###\\%", ",25%"},
        {10.23, "0.00%%", "102300,00%%"},
    });
    addRows("scientific", {
        {1234.5, "0.00E+00", "1,23E+03"},
        {0.000123, "0.00E+00", "1,23E-04"},
        {0.000123, "0.00E-00", "1,23E-04"},
        {1234.5, "0.00E-00", "1,23E03"},
        {1.7, "0.0000E-000", "1,7000E000"},
        {100.0001, "0.0000E+0", "1,0000E+2"},
        {4.500001E+45, "#000.0000e+0", "4500,0010e+42"},
        {0, "0.00E+00", "0,00E+00"},
        {-3456.789, "0.00E+00", "-3,46E+03"},
        {9.999, "0.00E+00", "1,00E+01"}, // rounding carries into the exponent
    });
    addRows("rounding", {
        {2.5, "0", "3"},
        {-2.5, "0", "-3"},
        {3.5, "0", "4"},
        {0.075, "#.##", ",08"},
        {1.005, "0.00", "1,01"},
        {23.675, "00.00", "23,68"},
        {9.9999999, "#0.000000", "10,000000"},
        {0.0049, "#.##", ","},
        {0.0094, "#.##", ",01"},
        {999.996, "#,##0.00", "1.000,00"},
    });
    addRows("sections", {
        {-1.57, "#.##", "-1,57"},
        {-0.1, ".#", "-,1"},
        {-5, "0;(0)", "(5)"},
        {-1234.5, "#,##0.00;(#,##0.00)", "(1.234,50)"},
        {0, "0.00;-0.00;\"zero\"", "zero"},
        {5, "0.00;-0.00;\"zero\"", "5,00"},
        {-5, "\"pos\";\"neg\"", "neg"},
        {0, "$#,##0;;\\Z\\e\\r\\o", "Zero"},
        {-5, "$#,##0;;\\Z\\e\\r\\o", "$-5"},      // empty second section: the first, with a sign
        {-5, "\\€ 0.00", "€ -5,00"},              // the sign follows leading literals
        {-5, "\"neg\"", "-neg"},
        {0.001, "0.00;;\\z\\e\\r\\o", "0,00"},     // "zero" means exactly zero
        {-0.001, "0.00", "-0,00"},                 // the section is chosen before rounding
        {-0.4, "0", "-0"},
        {0, "0;", "0"},
        {-7, "0;", "-7"},
        {QVariant(QMetaType::fromType<double>()), "0;-0;\"zero\";\"nessuno\"", "nessuno"},
        {QVariant(QMetaType::fromType<int>()), "0.00", ""},
        {QVariant::fromValue(nullptr), "0;-0;0;\\-", "-"},
        {1, "0;-0;0;\"n\";\"ignored\"", "1"},
    });
    addRows("named numbers", {
        {1234567.891, "General Number", "1234567,891"},
        {562486.2356, "General Number", "562486,2356"},
        {true, "General Number", "-1"},
        {1234567.891, "Currency", "€ 1.234.567,89"},
        {-5, "Currency", "-€ 5,00"},
        {0, "Currency", "€ 0,00"},
        {1234567.891, "Fixed", "1234567,89"},
        {0.2, "Fixed", "0,20"},
        {1234567.891, "Standard", "1.234.567,89"},
        {562486.2356, "STANDARD", "562.486,24"},
        {0.7521, "Percent", "75,21%"},
        {1234567.891, "Scientific", "1,23E+06"},
        {-3456.789, "Scientific", "-3,46E+03"},
        {1234567.891, "Yes/No", "Yes"},
        {0, "Yes/No", "No"},
        {true, "Yes/No", "Yes"},
        {false, "True/False", "False"},
        {-2, "True/False", "True"},
        {0.0, "On/Off", "Off"},
        {3, "On/Off", "On"},
        {QStringLiteral("0"), "Yes/No", "No"},
        {QStringLiteral("abc"), "Yes/No", "abc"},
        {QStringLiteral("1.234,5"), "Standard", "1.234,50"},
        {morning, "Fixed", "37023,38"},
        {QVariant(QMetaType::fromType<double>()), "Currency", ""},
    });

    addRows("strings", {
        {QStringLiteral("abc"), "@@@@@", "  abc"},
        {QStringLiteral("abc"), "!@@@@@", "abc  "},
        {QStringLiteral("abc"), "&&&&&", "abc"},
        {QStringLiteral("8888888"), "(@@@)&&&-&&&&", "(   )888-8888"},
        {QStringLiteral("8888888"), "(&&&)&&&-&&&&", "()888-8888"},
        {QStringLiteral("testing"), "@\\x@@@@@@@", " xtesting"},
        {QStringLiteral("testing"), "@@@@@@@@", " testing"},
        {QStringLiteral("Pinocchio"), "@-@", "P-inocchio"},
        {QStringLiteral("testing"), "@\\x", "txesting"},
        {QStringLiteral("testing"), "!@\\x", "txesting"},
        {QStringLiteral("hello"), ">", "HELLO"},
        {QStringLiteral("GeNoVa"), "<", "genova"},
        {QStringLiteral("mario rossi"), ">@", "MARIO ROSSI"},
        {QStringLiteral("6666666"), "(@@@)&&&-&&&&;No Phone", "(   )666-6666"},
        {QString(), "(@@@)&&&-&&&&;No Phone", "No Phone"},
        {QString(), "@@@", "   "},
        {QVariant(), "@@@", "   "}, // an invalid variant is empty text
        {QVariant(QMetaType::fromType<QString>()), "@;\"(nessuno)\"", "(nessuno)"},
        {QVariant(QMetaType::fromType<QString>()), "@@@", ""},
        {1.5, "@@@@@", "  1,5"},
        {true, "@", "True"},
        {dateOnly, "@", "12/05/2001"},
        {QStringLiteral("Ab"), "\"<\"@@@", "< Ab"},
    });
    addRows("mismatches", {
        {QStringLiteral("abc"), "0.00", "abc"},
        {QStringLiteral("1.234,5"), "#,##0.00", "1.234,50"},
        {QStringLiteral("1.5"), "0.00", "15,00"},
        {QStringLiteral(" (1.234,5) "), "#,##0.00", "-1.234,50"},
        {QStringLiteral("12/05/2001"), "0.00", "12/05/2001"},
        {QStringLiteral("12/05/2001"), "dd mmmm yyyy", "12 maggio 2001"},
        {QStringLiteral("2001-05-12"), "dd/mm/yyyy", "12/05/2001"},
        {QStringLiteral("31/02/2001"), "dd/mm/yyyy", "31/02/2001"},
        {QStringLiteral("37023"), "dd/mm/yyyy", "12/05/2001"},
        {QStringLiteral("1.234"), "dd/mm/yyyy", "18/05/1903"},
        {QStringLiteral("12.05.2001"), "dd/mm/yyyy", "12.05.2001"},
        {d, "0.00", "37023,38"},
        {QString(), "0.00", ""},
        {QString(), "dd/mm/yyyy", ""},
        {QVariant(), "0.00", ""},
        {qInf(), "0.00", "1,#INF"},
    });
    addRows("no picture", {
        {1234.5, "", "1234,5"},
        {0.5, "", "0,5"},
        {-0.5, "", "-0,5"},
        {QVariant::fromValue(1.0f / 3), "", "0,3333333"},
        {42, "", "42"},
        {d, "", "12/05/2001 09:05:07"},
        {QStringLiteral(" abc "), "", " abc "},
        {true, "", "True"},
        {QVariant(QMetaType::fromType<int>()), "", ""},
    });
}

void Tst_format::format()
{
    QFETCH(QVariant, value);
    QFETCH(QString, picture);
    QFETCH(QString, expected);
    QCOMPARE(Norvix::Values::format(value, picture), expected);
}

void Tst_format::olderTimeSeparator()
{
    // Older Italian settings: "." between hours, minutes and seconds, hours without a leading zero.
    Locale older = Locale::italian();
    older.timeSeparator = u'.';
    older.longTimePattern = QStringLiteral("H.mm.ss");
    older.shortDatePattern = QStringLiteral("dd/MM/yy");
    const LocaleGuard guard(older);
    QCOMPARE(Norvix::Values::format(morning, u"hh:nn"), QStringLiteral("09.05"));
    QCOMPARE(Norvix::Values::format(morning, u"hh\\:nn"), QStringLiteral("09:05"));
    QCOMPARE(Norvix::Values::format(morning, u"Long Time"), QStringLiteral("9.05.07"));
    QCOMPARE(Norvix::Values::format(evening, u"Short Time"), QStringLiteral("21.05"));
    QCOMPARE(Norvix::Values::format(morning, u"c"), QStringLiteral("12/05/01 9.05.07"));
    QCOMPARE(dateText(morning), QStringLiteral("12/05/01 9.05.07"));
}

void Tst_format::designatorsWhenSet()
{
    Locale l = Locale::italian();
    l.amDesignator = QStringLiteral("m.");
    l.pmDesignator = QStringLiteral("p.");
    l.longTimePattern = QStringLiteral("h:mm:ss tt");
    l.currencySymbol = QStringLiteral("L.");
    l.currencyDecimals = 0;
    const LocaleGuard guard(l);
    QCOMPARE(Norvix::Values::format(evening, u"hh:nn AMPM"), QStringLiteral("09:05 p."));
    QCOMPARE(Norvix::Values::format(morning, u"Medium Time"), QStringLiteral("09:05 m."));
    QCOMPARE(Norvix::Values::format(evening, u"ttttt"), QStringLiteral("9:05:07 p."));
    QCOMPARE(Norvix::Values::format(1234.5, u"Currency"), QStringLiteral("L. 1.235"));
    QCOMPARE(Norvix::Values::format(-1234.5, u"Currency"), QStringLiteral("-L. 1.235"));
}

void Tst_format::pictureIsTruncated()
{
    // Only the first 257 characters count: the final "0" is cut off.
    const QString picture = QStringLiteral("0") + QString(256, u'x') + QStringLiteral("0");
    QCOMPARE(Norvix::Values::format(1, picture), QStringLiteral("1") + QString(256, u'x'));
}

void Tst_format::hostileInput()
{
    // Long pictures and values stay bounded and do not hang.
    QCOMPARE(Norvix::Values::format(1e308, QString(257, u'%')).size(), 257);
    QVERIFY(Norvix::Values::format(1e308, QStringLiteral("0") + QString(256, u'%')).size() < 1200);
    QCOMPARE(Norvix::Values::format(1e308, QStringLiteral("0") + QString(256, u',')), QStringLiteral("0"));
    QCOMPARE(Norvix::Values::format(QString(1'000'000, u'x'), u"@").size(), 1'000'000);
    QCOMPARE(Norvix::Values::format(QString(1'000'000, u'9'), u"0.00"), QString(1'000'000, u'9'));

    QRandomGenerator rng(20010512);
    const QString alphabet = QStringLiteral("0#.,%Ee+-@&<>!dmyhnswqctAMP/:;\\\" ");
    const QList<QVariant> values = {QVariant(), QVariant(QMetaType::fromType<int>()), 0, -1.5, 37023.378553,
                                    1e300, -1e-300, qQNaN(), -qInf(), true, morning, timeOnly,
                                    QStringLiteral("1.234,5"), QStringLiteral("12/05/2001"), QStringLiteral("abc"),
                                    QString(), QVariant::fromValue(qulonglong(-1))};
    for (int i = 0; i < 20000; ++i) {
        QString picture(int(rng.bounded(24)), Qt::Uninitialized);
        for (QChar &c : picture)
            c = rng.bounded(16) == 0 ? QChar(char16_t(rng.bounded(0x10000))) : alphabet[rng.bounded(alphabet.size())];
        const QVariant &value = values[rng.bounded(values.size())];
        const QString out = Norvix::Values::format(value, picture);
        QVERIFY2(out.size() < 2000, qPrintable(picture));
    }
}

QTEST_GUILESS_MAIN(Tst_format)
#include "tst_format.moc"
