#include "descriptor/dscjson.h"
#include "descriptor/dsctext.h"
#include "testutil.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QDir>
#include <QTest>

using namespace Norvix;

namespace {

struct Run
{
    int code = -1;
    QByteArray out;
    QByteArray err;
};

// Runs the program as a user would, without a display.
Run norvix(const QStringList &args, const QString &cwd = QString(), bool offscreen = false,
           const QList<QPair<QString, QString>> &variables = {})
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const auto &[name, value] : variables)
        env.insert(name, value);
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    if (offscreen)
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    if (!cwd.isEmpty())
        p.setWorkingDirectory(cwd);
    p.start(QStringLiteral(NORVIX_APP_PATH), args);
    if (!p.waitForFinished(60000))
        qFatal("norvix did not finish");
    return Run{p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
               p.readAllStandardError()};
}

QJsonObject expected(const QString &record)
{
    Rec rec;
    TextLineSource source(TestUtil::readData(QStringLiteral("legacy/files.dsc")));
    readDsc(source, record, rec, QStringLiteral("files.dsc"));
    return recToJson(rec);
}

QJsonObject parsed(const Run &r)
{
    QJsonParseError error;
    const auto doc = QJsonDocument::fromJson(r.out, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        qFatal("not a JSON object: %s", r.out.constData());
    return doc.object();
}

} // namespace

class TstDscCli : public QObject
{
    Q_OBJECT

private slots:
    // Every command answers --help on standard output, without a display.
    void helpWorksWithoutADisplay_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("says");
        QTest::newRow("norvix") << QStringList{"--help"} << QByteArray("norvix dsc dump");
        QTest::newRow("dsc") << QStringList{"dsc", "--help"} << QByteArray("norvix dsc import");
        QTest::newRow("dsc dump") << QStringList{"dsc", "dump", "--help"} << QByteArray("--password-file FILE");
        QTest::newRow("dsc import") << QStringList{"dsc", "import", "-h"} << QByteArray("NORVIX_DSC_PASSWORD");
        QTest::newRow("dsc export") << QStringList{"dsc", "export", "X", "--help"} << QByteArray("Uso: norvix dsc export");
        QTest::newRow("edit") << QStringList{"edit", "--help"} << QByteArray("--print-last-inserted");
    }
    void helpWorksWithoutADisplay()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, says);
        const Run r = norvix(args);
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.contains(says), r.out.constData());
        QVERIFY(r.out.contains("Codici di uscita"));
        QVERIFY(r.err.isEmpty());
    }

    void dumpPrintsTheTree()
    {
        QTemporaryDir dir;
        TestUtil::copyData(QStringLiteral("legacy/files.dsc"), dir.path());
        const Run r = norvix({QStringLiteral("dsc"), QStringLiteral("dump"), QStringLiteral("--dsc"), dir.path(),
                              QStringLiteral("clienti")});
        QCOMPARE(r.code, 0);
        const QJsonObject tree = parsed(r);
        QCOMPARE(tree, expected(QStringLiteral("CLIENTI")));
        const QStringList keys{"Campi", "Desc", "Indice", "Nome", "NomiPagine", "Path", "Standard", "TipiRicerche", "db"};
        QCOMPARE(tree.keys(), keys);
        QCOMPARE(tree.value(u"Campi").toArray().first().toObject().keys().size(), 16);
        QVERIFY(tree.value(u"Campi").toArray().first().toObject().value(u"MaxLen").isDouble());

        // The current folder is the default.
        const Run here = norvix({QStringLiteral("dsc"), QStringLiteral("dump"), QStringLiteral("ORDINI")}, dir.path());
        QCOMPARE(here.code, 0);
        QCOMPARE(parsed(here), expected(QStringLiteral("ORDINI")));
    }

    void dumpFromDatabases()
    {
        QTemporaryDir dir;
        const QString db = dir.filePath(QStringLiteral("dsc.mdb"));
        const Run imported = norvix({QStringLiteral("dsc"), QStringLiteral("import"), TestUtil::dataPath(QStringLiteral("legacy/files_cp1252.dsc")),
                                     db, QStringLiteral("--password"), QStringLiteral("chiave")});
        QCOMPARE(imported.code, 0);
        const Run dump = norvix({QStringLiteral("dsc"), QStringLiteral("dump"), QStringLiteral("--dsc"), dir.path(),
                                 QStringLiteral("--password=chiave"), QStringLiteral("COMUNI")});
        QCOMPARE(dump.code, 0);
        QCOMPARE(parsed(dump).value(u"Campi").toArray().at(2).toObject().value(u"Desc").toString(), u"Città");

        const Run exported = norvix({QStringLiteral("dsc"), QStringLiteral("export"), db, QStringLiteral("--password"), QStringLiteral("chiave")});
        QCOMPARE(exported.code, 0);
        QCOMPARE(QString::fromUtf8(exported.out),
                 splitDscLines(decodeDscText(TestUtil::readData(QStringLiteral("legacy/files_cp1252.dsc")))).join(u'\n') + u'\n');

        const Run wrong = norvix({QStringLiteral("dsc"), QStringLiteral("dump"), QStringLiteral("--dsc"), dir.path(),
                                  QStringLiteral("--password"), QStringLiteral("sbagliata"), QStringLiteral("COMUNI")});
        QCOMPARE(wrong.code, 2);
        QVERIFY(wrong.err.contains("Password errata"));
        QVERIFY(!wrong.err.contains("sbagliata"));
        QVERIFY(wrong.out.isEmpty());

        QTemporaryDir jet;
        TestUtil::copyData(QStringLiteral("legacy/dsc_jet4_pw.mdb"), jet.path(), QStringLiteral("dsc.mdb"));
        const Run fromJet = norvix({QStringLiteral("dsc"), QStringLiteral("dump"), QStringLiteral("--dsc"), jet.path(),
                                    QStringLiteral("--password"), QStringLiteral("Segreto1"), QStringLiteral("ORDINI")});
        QCOMPARE(fromJet.code, 0);
        QCOMPARE(parsed(fromJet), expected(QStringLiteral("ORDINI")));
        const Run jetText = norvix({QStringLiteral("dsc"), QStringLiteral("export"), TestUtil::dataPath(QStringLiteral("legacy/dsc_jet4.mdb"))});
        QCOMPARE(jetText.code, 0);
        QCOMPARE(jetText.out, TestUtil::readData(QStringLiteral("legacy/files.dsc")));
    }

    // Descriptors full of unusual lines give the same tree from a text file, a database and a
    // sealed database.
    void everySourceDumpsTheSameTree()
    {
        const QByteArray text =
            "' anagrafica\r\n"
            "PATH,prima\r\n"
            "RECORD,CLIENTI,Clienti,1,Generale,Indirizzi\r\n"
            "CAMPO,CODICE,Codice,LONG,6,,1,,X,,,,,,1\r\n"
            "CAMPO,NOME,Ragione sociale,TEXT,40,,,,,,,,,,1\r\n"
            "CAMPO,PROV,Provincia,TEXT,2,,,,,,PROVINCE,NOME,,,2\r\n"
            "CAMPO,NATO,Data di nascita,DATE,,,,,,,,,,,2\r\n"
            "PATH,dentro\r\n"
            "CAMPO,ATTIVO,Attivo,BOOLEAN,,,,,,,,,,,1\r\n"
            "RICERCA,1,MOSTRA,Per nome,NOME,CODICE\r\n"
            "RICERCA,01,SELEZIONE,NOME,,LIKE\r\n"
            "INDICE,Secondario,+NOME,-1,0\r\n"
            "INDICE,PrimaryKey,+CODICE,-1,-1\r\n"
            "CAMPO,NOTE,Note,MEMO,,,,,,,,,,,1\r\n"
            "RECORD,TIPI,Tipi,2,Uno,Due,Tre\r\n"
            "  campo ,  b , Booleano , boolean ,9,,,,,,,,TXTTEXT,,0\r\n"
            "CAMPO,D,Data,date,3,,01/01/1900,domani,,,,,,\"dd/mm/yyyy hh:nn\",-2\r\n"
            "CAMPO,I,Intero,INTEGER,4,,,,,,,,,, \"0\"\r\n"
            "CAMPO,A,Contatore,AUTOINC,6,,,,,,,,TXTNUMERIC\r\n"
            "CAMPO,L,Cliente,LONG,6,,,,,,CLIENTI,NOME,EDITBOX,,2.5,CODICE\r\n"
            "CAMPO,Z,Città,DOUBLE,12.5\r\n"
            "RECORD,VUOTO,Vuoto,1\r\n"
            "DATABASE,ultimo.db\r\n"
            "RECORD,ULTIMO,Ultimo,1";
        QTemporaryDir dir;
        const QString textDir = dir.filePath(QStringLiteral("text")), dbDir = dir.filePath(QStringLiteral("db")),
                      sealedDir = dir.filePath(QStringLiteral("sealed"));
        for (const QString &d : {textDir, dbDir, sealedDir})
            QVERIFY(QDir().mkpath(d));
        TestUtil::writeFile(textDir + QStringLiteral("/files.dsc"), text);
        const QString source = textDir + QStringLiteral("/files.dsc");
        QCOMPARE(norvix({QStringLiteral("dsc"), QStringLiteral("import"), source, dbDir + QStringLiteral("/dsc.mdb")}).code, 0);
        QCOMPARE(norvix({QStringLiteral("dsc"), QStringLiteral("import"), source, sealedDir + QStringLiteral("/dsc.mdb"),
                         QStringLiteral("--password"), QStringLiteral("pw")}).code, 0);

        for (const QString &record : {QStringLiteral("CLIENTI"), QStringLiteral("TIPI"), QStringLiteral("VUOTO"),
                                      QStringLiteral("ULTIMO"), QStringLiteral("ASSENTE")}) {
            Rec rec;
            TextLineSource lines(text);
            readDsc(lines, record, rec, QStringLiteral("files.dsc"));
            const QJsonObject want = recToJson(rec);
            for (const QString &d : {textDir, dbDir, sealedDir}) {
                const Run r = norvix({QStringLiteral("dsc"), QStringLiteral("dump"), QStringLiteral("--dsc"), d,
                                      QStringLiteral("--password"), QStringLiteral("pw"), record});
                if (record == u"ASSENTE") { // not described: not found
                    QCOMPARE(r.code, 1);
                    QVERIFY(r.err.contains("ASSENTE") && r.out.isEmpty());
                    continue;
                }
                QCOMPARE(r.code, 0);
                QCOMPARE(parsed(r), want);
            }
        }
    }

    void editorCommandLine()
    {
        const Run help = norvix({QStringLiteral("edit"), QStringLiteral("--help")});
        QCOMPARE(help.code, 0);
        QVERIFY(help.out.contains("norvix edit"));
        QCOMPARE(norvix({QStringLiteral("edit")}).code, 2);
        QCOMPARE(norvix({QStringLiteral("edit"), QStringLiteral("--key"), QStringLiteral("1"), QStringLiteral("--new"), QStringLiteral("X")}).code, 2);

        QTemporaryDir dir;
        TestUtil::copyData(QStringLiteral("legacy/files.dsc"), dir.path());
        const Run missingDb = norvix({QStringLiteral("edit"), QStringLiteral("--db"), dir.filePath(QStringLiteral("manca.db")),
                                      QStringLiteral("CLIENTI")}, QString(), true);
        QCOMPARE(missingDb.code, 2);
        QVERIFY2(missingDb.err.contains("manca.db"), missingDb.err.constData());
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("manca.db"))));

        // The control's settings from an INI file; the command line goes over them.
        const QString ini = dir.filePath(QStringLiteral("norvix.ini"));
        TestUtil::writeFile(ini, QStringLiteral("[Norvix]\nDbPath=%1\nDatabaseName=da_impostazioni.db\nModale=false\n")
                                     .arg(dir.path())
                                     .toUtf8());
        const Run fromSettings = norvix({QStringLiteral("edit"), QStringLiteral("--settings"), ini, QStringLiteral("CLIENTI")},
                                        QString(), true);
        QCOMPARE(fromSettings.code, 2);
        QVERIFY2(fromSettings.err.contains("da_impostazioni.db"), fromSettings.err.constData());
        const Run overridden = norvix({QStringLiteral("edit"), QStringLiteral("--settings"), ini, QStringLiteral("--db"),
                                       dir.filePath(QStringLiteral("altro.db")), QStringLiteral("CLIENTI")},
                                      QString(), true);
        QVERIFY2(overridden.err.contains("altro.db"), overridden.err.constData());
        QCOMPARE(norvix({QStringLiteral("edit"), QStringLiteral("--settings"), dir.filePath(QStringLiteral("nessuno.ini")),
                         QStringLiteral("CLIENTI")}, QString(), true).code, 2);
    }

    // Every failure exits non-zero and says on standard error what was not found; the editor's
    // start-up failures end the program without a window waiting.
    void failuresAndTheirExitCodes_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("says");
        QTest::newRow("no descriptors") << QStringList{"dsc", "dump", "--dsc", "{empty}", "X"} << 1 << QByteArray("Dsc non trovato");
        QTest::newRow("record not described") << QStringList{"dsc", "dump", "--dsc", "{dir}", "NESSUNO"} << 1
                                              << QByteArray("il record NESSUNO non è descritto");
        QTest::newRow("a broken line") << QStringList{"dsc", "dump", "--dsc", "{broken}", "T"} << 2 << QByteArray("riga 3");
        QTest::newRow("no record named") << QStringList{"dsc", "dump"} << 2 << QByteArray("dsc dump vuole RECORD");
        QTest::newRow("unknown option") << QStringList{"dsc", "dump", "--nope", "X"} << 2 << QByteArray("--nope");
        QTest::newRow("no dsc command") << QStringList{"dsc"} << 2 << QByteArray("manca il comando dsc");
        QTest::newRow("unknown command") << QStringList{"frobnicate"} << 2 << QByteArray("comando sconosciuto");
        QTest::newRow("missing database") << QStringList{"dsc", "export", "{empty}/assente.mdb"} << 2 << QByteArray("assente.mdb");
        QTest::newRow("unreadable password file") << QStringList{"dsc", "dump", "--password-file", "{empty}/pw", "X"} << 2
                                                  << QByteArray("password");
        QTest::newRow("edit: record not described") << QStringList{"edit", "--db", "{dir}/anagrafica.db", "NESSUNO"} << 1
                                                     << QByteArray("Il record NESSUNO non è descritto");
        QTest::newRow("edit: table not found") << QStringList{"edit", "--db", "{dir}/altro.db", "CLIENTI"} << 1
                                               << QByteArray("Tabella CLIENTI non trovata nel database");
        QTest::newRow("edit: no descriptors") << QStringList{"edit", "--db", "{dir}/anagrafica.db", "--dsc", "{empty}", "CLIENTI"}
                                              << 1 << QByteArray("Dsc non trovato");
    }
    void failuresAndTheirExitCodes()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QByteArray, says);
        QTemporaryDir empty, dir, broken;
        TestUtil::writeFile(broken.filePath(QStringLiteral("files.dsc")), "RECORD,T,T,1\nCAMPO,A,A,TEXT\nCAMPO,a,B,TEXT\n");
        TestUtil::copyData(QStringLiteral("legacy/files.dsc"), dir.path());
        for (const QString &name : {QStringLiteral("anagrafica.db"), QStringLiteral("altro.db")}) {
            {
                QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("setup"));
                db.setDatabaseName(dir.filePath(name));
                QVERIFY(db.open());
                QSqlQuery q(db);
                QVERIFY(q.exec(name == u"altro.db" ? QStringLiteral("CREATE TABLE ALTRO (A INTEGER)")
                                                   : QStringLiteral("CREATE TABLE CLIENTI (CODICE INTEGER PRIMARY KEY)")));
            }
            QSqlDatabase::removeDatabase(QStringLiteral("setup"));
        }
        for (QString &a : args)
            a.replace(QStringLiteral("{empty}"), empty.path()).replace(QStringLiteral("{dir}"), dir.path())
                .replace(QStringLiteral("{broken}"), broken.path());
        const QStringList before = QDir(empty.path()).entryList(QDir::Files);
        const Run r = norvix(args, QString(), true);
        QCOMPARE(r.code, code);
        QVERIFY2(r.err.contains(says), r.err.constData());
        QVERIFY(r.out.isEmpty());
        QCOMPARE(QDir(empty.path()).entryList(QDir::Files), before); // nothing created by reading
    }

    // The descriptor password from a file or the environment instead of the command line.
    void passwordsOffTheCommandLine()
    {
        QTemporaryDir dir;
        TestUtil::writeFile(dir.filePath(QStringLiteral("pw")), "chiave segreta\n");
        QCOMPARE(norvix({QStringLiteral("dsc"), QStringLiteral("import"), TestUtil::dataPath(QStringLiteral("legacy/files.dsc")),
                         dir.filePath(QStringLiteral("dsc.mdb")), QStringLiteral("--password-file"), dir.filePath(QStringLiteral("pw"))})
                     .code,
                 0);
        const QStringList dump{QStringLiteral("dsc"), QStringLiteral("dump"), QStringLiteral("--dsc"), dir.path(), QStringLiteral("ORDINI")};
        QCOMPARE(norvix(dump).code, 2); // no password: the sealed lines cannot be read
        const Run fromEnvironment = norvix(dump, QString(), false, {{"NORVIX_DSC_PASSWORD", "chiave segreta"}});
        QCOMPARE(fromEnvironment.code, 0);
        QCOMPARE(parsed(fromEnvironment), expected(QStringLiteral("ORDINI")));
    }
};

QTEST_GUILESS_MAIN(TstDscCli)
#include "tst_dsccli.moc"
