#include "descriptor/dscdatabase.h"
#include "descriptor/dscjson.h"
#include "descriptor/dsctext.h"
#include "descriptor/leggidsc.h"
#include "platform/messages.h"
#include "testutil.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QJsonArray>
#include <QTest>

using namespace Norvix;

namespace {

const QStringList kRecords{QStringLiteral("PROVINCE"), QStringLiteral("COMUNI"), QStringLiteral("CLIENTI"),
                           QStringLiteral("ORDINI")};

QStringList legacyLines()
{
    return splitDscLines(decodeDscText(TestUtil::readData(QStringLiteral("legacy/files.dsc"))));
}

QJsonObject fromText(const QString &record)
{
    Rec rec;
    TextLineSource source(TestUtil::readData(QStringLiteral("legacy/files.dsc")));
    readDsc(source, record, rec, QStringLiteral("files.dsc"));
    return recToJson(rec);
}

// Loads a record through LeggiDsc from `folder` with the given descriptor password.
QJsonObject fromFolder(const QString &folder, const QString &record, const QString &password = QString())
{
    setDscPassword(password);
    QString path = folder;
    Rec rec;
    if (!LeggiDsc(path, record, rec))
        qFatal("no descriptor source in %s", qPrintable(folder));
    return recToJson(rec);
}

QString loadError(const QString &folder, const QString &password)
{
    try {
        fromFolder(folder, QStringLiteral("CLIENTI"), password);
    } catch (const DescriptorError &e) {
        return e.message();
    }
    return QString();
}

// Runs statements on an SQLite file directly, as another program would.
void tamper(const QString &file, const QStringList &statements)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("tamper"));
        db.setDatabaseName(file);
        QVERIFY(db.open());
        QSqlQuery q(db);
        for (const QString &s : statements)
            QVERIFY2(q.exec(s), qPrintable(s));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("tamper"));
}

} // namespace

class TstDscDatabase : public QObject
{
    Q_OBJECT

    std::shared_ptr<RecordingMessageService> m_messages;

private slots:
    void init()
    {
        m_messages = std::make_shared<RecordingMessageService>();
        setMessageService(m_messages);
        setDscPassword(QString());
    }
    void cleanup() { setMessageService(nullptr); }

    void sqliteDatabaseBuildsTheSameTreesAsTheText()
    {
        QTemporaryDir dir;
        writeDscDatabase(dir.filePath(QStringLiteral("dsc.mdb")), legacyLines(), QString());
        QCOMPARE(readDscDatabase(dir.filePath(QStringLiteral("dsc.mdb")), QString()), legacyLines());
        for (const QString &record : kRecords)
            QCOMPARE(fromFolder(dir.path(), record), fromText(record));
        // A password given for an unprotected database is accepted.
        QCOMPARE(fromFolder(dir.path(), QStringLiteral("CLIENTI"), QStringLiteral("x")), fromText(QStringLiteral("CLIENTI")));
    }

    void protectedDatabaseNeedsItsPassword()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("dsc.mdb"));
        writeDscDatabase(file, legacyLines(), QStringLiteral("Segreto1"));
        QCOMPARE(fromFolder(dir.path(), QStringLiteral("ORDINI"), QStringLiteral("Segreto1")), fromText(QStringLiteral("ORDINI")));

        // Stored lines are not readable without the key.
        QFile raw(file);
        QVERIFY(raw.open(QIODevice::ReadOnly));
        QVERIFY(!raw.readAll().contains("CLIENTI"));

        const QString wrong = loadError(dir.path(), QStringLiteral("segreto1"));
        QVERIFY2(wrong.startsWith(u"Password errata"), qPrintable(wrong));
        QVERIFY(!wrong.contains(u"segreto1"));
        const QString missing = loadError(dir.path(), QString());
        QVERIFY2(missing.contains(u"protetto da password"), qPrintable(missing));
    }

    void tamperedDatabaseFailsInsteadOfYieldingGarbage_data()
    {
        QTest::addColumn<QStringList>("statements");
        QTest::newRow("changed line") << QStringList{"UPDATE Dsc SET Line = (SELECT Line FROM Dsc WHERE rowid = 3) WHERE rowid = 5"};
        QTest::newRow("swapped lines") << QStringList{
            "UPDATE Dsc SET rowid = 1000 WHERE rowid = 5", "UPDATE Dsc SET rowid = 5 WHERE rowid = 6",
            "UPDATE Dsc SET rowid = 6 WHERE rowid = 1000"};
        QTest::newRow("removed last line") << QStringList{"DELETE FROM Dsc WHERE rowid = (SELECT MAX(rowid) FROM Dsc)"};
        QTest::newRow("plain line added") << QStringList{"INSERT INTO Dsc (Line) VALUES ('CAMPO,X,X,TEXT')"};
        QTest::newRow("protection data damaged") << QStringList{"UPDATE DscCrypt SET Salt = x'00'"};
        QTest::newRow("hostile work factor") << QStringList{"UPDATE DscCrypt SET MemLimit = 1099511627776"};
    }

    void tamperedDatabaseFailsInsteadOfYieldingGarbage()
    {
        QFETCH(QStringList, statements);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("dsc.mdb"));
        writeDscDatabase(file, legacyLines(), QStringLiteral("pw"));
        tamper(file, statements);
        const QString error = loadError(dir.path(), QStringLiteral("pw"));
        QVERIFY2(error.contains(u"alterato") || error.contains(u"danneggiato"), qPrintable(error));
    }

    void importReplacesEarlierLines()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("dsc.mdb"));
        writeDscDatabase(file, QStringList{"RECORD,A,A,1", "CAMPO,X,X,TEXT"}, QStringLiteral("pw"));
        writeDscDatabase(file, legacyLines(), QString());
        QCOMPARE(readDscDatabase(file, QString()), legacyLines());
    }

    void unusualTables()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("dsc.mdb"));

        // NULL lines read as empty ones; the last row may be the wanted RECORD line.
        writeDscDatabase(file, QStringList(), QString());
        tamper(file, {"INSERT INTO Dsc VALUES ('RECORD,A,A,1')", "INSERT INTO Dsc VALUES (NULL)", "INSERT INTO Dsc VALUES ('CAMPO,X,X,TEXT')",
                      "INSERT INTO Dsc VALUES ('RECORD,B,Bi,1')"});
        auto a = fromFolder(dir.path(), QStringLiteral("A"));
        QCOMPARE(a.value(u"Campi").toArray().size(), 1);
        auto b = fromFolder(dir.path(), QStringLiteral("B"));
        QCOMPARE(b.value(u"Desc").toString(), u"Bi");
        QCOMPARE(b.value(u"Campi").toArray().size(), 0);

        tamper(file, {"DELETE FROM Dsc"});
        QCOMPARE(fromFolder(dir.path(), QStringLiteral("A")), recToJson(*std::make_unique<Rec>()));

        tamper(file, {"ALTER TABLE Dsc RENAME COLUMN Line TO Riga"});
        QVERIFY(loadError(dir.path(), QString()).contains(u"Colonna Line"));
        tamper(file, {"DROP TABLE Dsc"});
        QVERIFY(loadError(dir.path(), QString()).contains(u"Tabella Dsc"));

        TestUtil::writeFile(file, "questo non è un database");
        QVERIFY(loadError(dir.path(), QString()).contains(u"formato non riconosciuto"));
        QVERIFY_THROWS_EXCEPTION(DescriptorError, writeDscDatabase(file, legacyLines(), QString()));
    }

    void jetFilesBuildTheSameTreesAsTheText_data()
    {
        QTest::addColumn<QString>("fixture");
        QTest::addColumn<QString>("password");
        QTest::newRow("text column") << "dsc_jet4.mdb" << "";
        QTest::newRow("memo column") << "dsc_jet4_memo.mdb" << "";
        QTest::newRow("password") << "dsc_jet4_pw.mdb" << "Segreto1";
    }

    void jetFilesBuildTheSameTreesAsTheText()
    {
        QFETCH(QString, fixture);
        QFETCH(QString, password);
        QTemporaryDir dir;
        TestUtil::copyData(QStringLiteral("legacy/") + fixture, dir.path(), QStringLiteral("dsc.mdb"));
        for (const QString &record : kRecords)
            QCOMPARE(fromFolder(dir.path(), record, password), fromText(record));
    }

    void jetPasswordIsChecked()
    {
        QTemporaryDir dir;
        TestUtil::copyData(QStringLiteral("legacy/dsc_jet4_pw.mdb"), dir.path(), QStringLiteral("dsc.mdb"));
        const QString wrong = loadError(dir.path(), QStringLiteral("Segreto2"));
        QVERIFY2(wrong.contains(u"errata") && !wrong.contains(u"Segreto2"), qPrintable(wrong));
        QVERIFY(loadError(dir.path(), QString()).contains(u"protetto da password"));
    }

    void locating()
    {
        QTemporaryDir dir;
        // Both sources: the text wins (the database describes another record).
        TestUtil::copyData(QStringLiteral("legacy/files.dsc"), dir.path());
        writeDscDatabase(dir.filePath(QStringLiteral("dsc.mdb")), QStringList{"RECORD,SOLO_DB,Db,1", "CAMPO,X,X,TEXT"}, QString());

        QString path = dir.path();
        Rec rec;
        QVERIFY(LeggiDsc(path, QStringLiteral("PROVINCE"), rec));
        QCOMPARE(path, dir.path() + u'/'); // the caller's folder is completed
        QCOMPARE(rec.Campi()->Count(), 2);
        QString again = path;
        Rec solo;
        QVERIFY(LeggiDsc(again, QStringLiteral("SOLO_DB"), solo)); // a record the source lacks
        QCOMPARE(again, path);
        QCOMPARE(solo.Campi()->Count(), 0);

        // Folders written with backslashes still name the folder.
        QString backslashed = dir.path().replace(u'/', u'\\');
        Rec viaBackslash;
        QVERIFY(LeggiDsc(backslashed, QStringLiteral("PROVINCE"), viaBackslash));
        QCOMPARE(viaBackslash.Campi()->Count(), 2);
        QVERIFY(m_messages->messages().isEmpty());

        QTemporaryDir empty;
        QString nothing = empty.path();
        Rec none;
        QVERIFY(!LeggiDsc(nothing, QStringLiteral("PROVINCE"), none));
        QCOMPARE(m_messages->messages().size(), 1);
        QCOMPARE(m_messages->messages().first().text, u"Dsc non trovato");
        QVERIFY(m_messages->messages().first().title.isEmpty());
        QCOMPARE(m_messages->messages().first().buttons, MsgButtons::OkOnly);
        QCOMPARE(none.Campi()->Count(), 0);
    }
};

QTEST_GUILESS_MAIN(TstDscDatabase)
#include "tst_dscdatabase.moc"
