#include "descriptor/estraitoken.h"

#include <QTest>

using namespace Norvix;

class TstEstraiToken : public QObject
{
    Q_OBJECT

private slots:
    void extract_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("sep");
        QTest::addColumn<int>("n");
        QTest::addColumn<bool>("unquote");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("afterRemove");

        const QString abc = QStringLiteral("a,b,c");
        const QString comma = QStringLiteral(",");
        QTest::newRow("first") << abc << comma << 1 << false << "a" << "b,c";
        QTest::newRow("middle") << abc << comma << 2 << false << "b" << "a,c";
        QTest::newRow("last") << abc << comma << 3 << false << "c" << "a,b";
        QTest::newRow("beyond") << abc << comma << 4 << false << "" << "a,b,c";
        QTest::newRow("far beyond") << abc << comma << 40 << false << "" << "a,b,c";
        QTest::newRow("count") << abc << comma << 0 << false << "3" << "a,b,c";
        QTest::newRow("count negative") << abc << comma << -5 << false << "3" << "a,b,c";
        QTest::newRow("empty text") << QString() << comma << 1 << false << "" << "";
        QTest::newRow("empty text count") << QString() << comma << 0 << false << "1" << "";
        QTest::newRow("only field") << QStringLiteral("solo") << comma << 1 << false << "solo" << "";
        QTest::newRow("adjacent") << QStringLiteral("a,,c") << comma << 2 << false << "" << "a,c";
        QTest::newRow("trailing empty") << QStringLiteral("a,b,") << comma << 3 << false << "" << "a,b";
        QTest::newRow("leading empty") << QStringLiteral(",b") << comma << 1 << false << "" << "b";
        QTest::newRow("blanks trimmed, text kept") << QStringLiteral("a,  b  ,c") << comma << 2 << false << "b" << "a,c";
        QTest::newRow("tab is not a blank") << QStringLiteral("a,\tb ,c") << comma << 2 << false << "\tb" << "a,c";
        QTest::newRow("quotes kept") << QStringLiteral("x,\"dd/mm\",y") << comma << 2 << false << "\"dd/mm\"" << "x,y";
        QTest::newRow("quotes dropped") << QStringLiteral("x,\"dd/mm\",y") << comma << 2 << true << "dd/mm" << "x,y";
        QTest::newRow("quote behind blank stays") << QStringLiteral("x, \"dd/mm\",y") << comma << 2 << true << "\"dd/mm\"" << "x,y";
        QTest::newRow("opening quote only") << QStringLiteral("\"dd/mm") << comma << 1 << true << "dd/mm" << "";
        QTest::newRow("closing quote only") << QStringLiteral("dd/mm\"") << comma << 1 << true << "dd/mm\"" << "";
        QTest::newRow("lone quote") << QStringLiteral("\"") << comma << 1 << true << "" << "";
        QTest::newRow("multi-char separator") << QStringLiteral("a<>b<>c") << QStringLiteral("<>") << 2 << false << "b" << "a<>c";
        QTest::newRow("no overlap") << QStringLiteral("a;;;b") << QStringLiteral(";;") << 2 << false << ";b" << "a";
        QTest::newRow("no overlap count") << QStringLiteral("a;;;b") << QStringLiteral(";;") << 0 << false << "2" << "a;;;b";
        QTest::newRow("separator only") << comma << comma << 2 << false << "" << "";
    }

    void extract()
    {
        QFETCH(QString, text);
        QFETCH(QString, sep);
        QFETCH(int, n);
        QFETCH(bool, unquote);
        QFETCH(QString, result);
        QFETCH(QString, afterRemove);

        QString kept = text;
        QCOMPARE(EstraiToken(kept, sep, n, unquote, false), result);
        QCOMPARE(kept, text); // without Rimuovi the text never changes

        QString cut = text;
        QCOMPARE(EstraiToken(cut, sep, n, unquote, true), result);
        QCOMPARE(cut, afterRemove);
    }

    void removingEveryFieldInTurnEmptiesTheText()
    {
        QString text = QStringLiteral("k1, k2 ,k3");
        QStringList seen;
        while (!text.isEmpty())
            seen << EstraiToken(text, QStringLiteral(","), 1, false, true);
        QCOMPARE(seen, QStringList({QStringLiteral("k1"), QStringLiteral("k2"), QStringLiteral("k3")}));
    }
};

QTEST_GUILESS_MAIN(TstEstraiToken)
#include "tst_estraitoken.moc"
