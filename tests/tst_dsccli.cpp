#include "descriptor/dscjson.h"
#include "descriptor/dsctext.h"
#include "testutil.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
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
Run norvix(const QStringList &args, const QString &cwd = QString())
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
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
    void helpWorksWithoutADisplay()
    {
        const Run r = norvix({QStringLiteral("--help")});
        QCOMPARE(r.code, 0);
        QVERIFY(r.out.contains("norvix dsc dump"));
        const Run sub = norvix({QStringLiteral("dsc"), QStringLiteral("dump"), QStringLiteral("--help")});
        QCOMPARE(sub.code, 0);
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

    void failuresAndTheirExitCodes()
    {
        QTemporaryDir empty;
        const Run none = norvix({QStringLiteral("dsc"), QStringLiteral("dump"), QStringLiteral("--dsc"), empty.path(), QStringLiteral("X")});
        QCOMPARE(none.code, 1);
        QCOMPARE(none.err.trimmed(), QByteArray("Dsc non trovato"));
        QVERIFY(none.out.isEmpty());

        QTemporaryDir broken;
        TestUtil::writeFile(broken.filePath(QStringLiteral("files.dsc")), "RECORD,T,T,1\nCAMPO,A,A,TEXT\nCAMPO,a,B,TEXT\n");
        const Run dup = norvix({QStringLiteral("dsc"), QStringLiteral("dump"), QStringLiteral("--dsc"), broken.path(), QStringLiteral("T")});
        QCOMPARE(dup.code, 2);
        QVERIFY2(dup.err.contains("riga 3"), dup.err.constData());

        QCOMPARE(norvix({QStringLiteral("dsc"), QStringLiteral("dump")}).code, 2);
        QCOMPARE(norvix({QStringLiteral("dsc"), QStringLiteral("dump"), QStringLiteral("--nope"), QStringLiteral("X")}).code, 2);
        QCOMPARE(norvix({QStringLiteral("dsc"), QStringLiteral("export"), empty.filePath(QStringLiteral("assente.mdb"))}).code, 2);
        QVERIFY(!QFile::exists(empty.filePath(QStringLiteral("assente.mdb")))); // never created by reading
        QCOMPARE(norvix({QStringLiteral("frobnicate")}).code, 2);
    }
};

QTEST_GUILESS_MAIN(TstDscCli)
#include "tst_dsccli.moc"
