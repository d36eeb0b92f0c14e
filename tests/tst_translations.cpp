// The two languages: every text of the sources translated in both files, the English one used
// when chosen, Qt's own texts in Italian, and the command line's help in either language.

#include "platform/language.h"
#include "testutil.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QXmlStreamReader>

using namespace Norvix;

namespace {

// The texts the sources mark for translation: nxTr("...") and NX_NOOP("..."), adjacent
// literals joined, escapes read.
QStringList sourceTexts()
{
    static const QRegularExpression call(QStringLiteral(R"re(\b(?:nxTr|NX_NOOP)\(\s*((?:"(?:[^"\\\n]|\\.)*"\s*)+)\))re"));
    static const QRegularExpression literal(QStringLiteral(R"re("((?:[^"\\\n]|\\.)*)")re"));
    QStringList texts;
    for (const char *folder : {"src", "app", "designer"}) {
        QDirIterator it(QStringLiteral(NORVIX_SOURCE_DIR "/") + QLatin1String(folder), {"*.cpp", "*.h"}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (path.endsWith(u"/language.h"))
                continue;
            QFile f(path);
            if (!f.open(QIODevice::ReadOnly))
                continue;
            const QString source = QString::fromUtf8(f.readAll());
            for (auto m = call.globalMatch(source); m.hasNext();) {
                QString text;
                for (auto l = literal.globalMatch(m.next().captured(1)); l.hasNext();) {
                    QString part = l.next().captured(1);
                    part.replace(QStringLiteral("\\n"), QStringLiteral("\n")).replace(QStringLiteral("\\t"), QStringLiteral("\t"));
                    part.replace(QStringLiteral("\\\""), QStringLiteral("\"")).replace(QStringLiteral("\\'"), QStringLiteral("'"));
                    part.replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
                    text += part;
                }
                if (!texts.contains(text))
                    texts << text;
            }
        }
    }
    return texts;
}

// A .ts file's finished translations, by source text.
QHash<QString, QString> translations(const QString &file)
{
    QHash<QString, QString> out;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return out;
    QXmlStreamReader xml(&f);
    QString source;
    while (!xml.atEnd()) {
        if (!xml.readNextStartElement())
            continue;
        if (xml.name() == u"source") {
            source = xml.readElementText();
        } else if (xml.name() == u"translation") {
            const bool unfinished = xml.attributes().value(QStringLiteral("type")) == u"unfinished";
            const QString text = xml.readElementText();
            if (!unfinished && !text.isEmpty())
                out.insert(source, text);
        }
    }
    return out;
}

} // namespace

class TstTranslations : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { setLanguage(QString()); }

    // Every text is translated in both languages (scripts/translations writes the files).
    void everyTextTranslated_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("English") << QStringLiteral(NORVIX_SOURCE_DIR "/translations/norvix_en.ts");
        QTest::newRow("Italian") << QStringLiteral(NORVIX_SOURCE_DIR "/translations/norvix_it.ts");
    }
    void everyTextTranslated()
    {
        QFETCH(QString, file);
        const QStringList texts = sourceTexts();
        QVERIFY(texts.size() > 250);
        const auto translated = translations(file);
        QStringList missing;
        for (const QString &t : texts)
            if (!translated.contains(t))
                missing << t;
        QVERIFY2(missing.isEmpty(), qPrintable(QStringLiteral("untranslated in %1 (run scripts/translations): %2")
                                                   .arg(file, missing.join(QStringLiteral(" | ")))));
    }

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
