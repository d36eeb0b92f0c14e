// The two languages: the English one used when chosen, Qt's own texts in Italian, and the
// command line's help in either language. (That every text is translated in both files is
// checked by scripts/translations --check, a test of its own.)

#include "platform/language.h"
#include "testutil.h"

#include <QApplication>
#include <QProcess>
#include <QTest>

using namespace Norvix;

class TstTranslations : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { setLanguage(QString()); }

    // The language chosen, or the system's; Qt's own texts follow.
    void languageChosen()
    {
        QCOMPARE(nxTr("Trovati %1").arg(3), QStringLiteral("Trovati 3")); // a C locale: Italian
        QVERIFY(setLanguage(QStringLiteral("en")));
        QCOMPARE(nxTr("Trovati %1").arg(3), QStringLiteral("Found 3"));
        QCOMPARE(nxTr("&Nuovo"), QStringLiteral("&New"));
        QVERIFY(!setLanguage(QStringLiteral("de")));
        QCOMPARE(language(), QStringLiteral("en"));
        QVERIFY(setLanguage(QStringLiteral("it")));
        installQtTranslations();
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "&Yes"), QStringLiteral("&Sì"));
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Annulla"));
        qputenv("LC_ALL", "en_GB.UTF-8");
        QCOMPARE(systemLanguage(), QStringLiteral("en"));
        qputenv("LC_ALL", "POSIX");
        QCOMPARE(systemLanguage(), QStringLiteral("it"));
        qputenv("LC_ALL", "C.UTF-8");
    }

    // The command line's help in either language: by option, or by the system's locale.
    void helpInBothLanguages_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QStringList>("says");
        QTest::newRow("--lang en") << QStringList{"--help", "--lang", "en"} << "C.UTF-8"
                                   << QStringList{"Usage", "Commands", "Exit codes"};
        QTest::newRow("English locale") << QStringList{"edit", "--help"} << "en_US.UTF-8"
                                        << QStringList{"Usage", "Options", "Exit codes", "opens a new row"};
        QTest::newRow("--lang it over English") << QStringList{"dsc", "lint", "--help", "--lang=it"} << "en_US.UTF-8"
                                                << QStringList{"Uso", "Opzioni", "Codici di uscita"};
        QTest::newRow("C locale") << QStringList{"--help"} << "C" << QStringList{"Uso", "Comandi"};
    }
    void helpInBothLanguages()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, locale);
        QFETCH(QStringList, says);
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("LANG");
        env.remove("LC_MESSAGES");
        env.insert("LC_ALL", locale);
        p.setProcessEnvironment(env);
        p.start(NORVIX_APP_PATH, args);
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        for (const QString &s : says)
            QVERIFY2(out.contains(s), qPrintable(out));
    }
};

QTEST_MAIN(TstTranslations)
#include "tst_translations.moc"
