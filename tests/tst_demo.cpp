// The bundled demo: its script builds the database, and every record of its descriptors opens in
// the editor without a message.

#include "../app/demodb.h"
#include "editor/frmedittab.h"
#include "editor/recordlistview.h"
#include "platform/recordset.h"
#include "editor/shared.h"
#include "platform/messages.h"
#include "platform/window.h"
#include "descriptor/dsctext.h"
#include "tools/lint.h"
#include "editordriver.h"
#include "backends.h"

#include <QLineEdit>
#include <QTest>

using namespace Norvix;

namespace {

const QString kDemo = QStringLiteral(NORVIX_DEMO_DIR);

// One integer from the database file `db`.
qlonglong scalar(const QString &db, const QString &sql)
{
    return TestUtil::rowsOf(Connection::open(QStringLiteral("sqlite://") + db)->database(), sql).value(0).value(0).toLongLong();
}

} // namespace

class TstDemo : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::shared_ptr<RecordingMessageService> m_messages;

    QString db() const { return m_dir.filePath(QStringLiteral("demo.db")); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QString error;
        QVERIFY2(NorvixApp::buildDemoDatabase(kDemo + QStringLiteral("/demo.sql"), db(), &error), qPrintable(error));
        QVERIFY(QFile::copy(kDemo + QStringLiteral("/files.dsc"), m_dir.filePath(QStringLiteral("files.dsc"))));
        // Only the database and the descriptors: no temporary file is left behind.
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files, QDir::Name),
                 (QStringList{QStringLiteral("demo.db"), QStringLiteral("files.dsc")}));
    }

    void init()
    {
        m_messages = TestUtil::freshUser(); // and a 1280x1024 screen
        ::Norvix::SharedSettings::process().editorVisible = false;
    }
    void cleanup() { setMessageService(nullptr); }

    // Enough rows to browse, and every code stored in a lookup field names a row of the table it
    // looks up, so the demo never shows a dangling code.
    void holdsCompleteData()
    {
        for (const auto &[table, least] :
             {std::pair{"CLIENTI", 2000}, {"ORDINI", 5000}, {"RIGHE", 10000}, {"COMUNI", 200}, {"ARTICOLI", 100}})
            QVERIFY(scalar(db(), QStringLiteral("SELECT COUNT(*) FROM %1").arg(QLatin1String(table))) >= least);
        // ... and every order has one to five lines.
        for (const char *dangling :
             {"CLIENTI c LEFT JOIN COMUNI m ON m.PROV = c.PROV AND m.CODICE = c.COMUNE WHERE m.NOME IS NULL",
              "CLIENTI c LEFT JOIN PAGAMENTI p ON p.CODICE = c.PAGAMENTO WHERE p.CODICE IS NULL",
              "ARTICOLI a LEFT JOIN CATEGORIE k ON k.CODICE = a.CATEGORIA WHERE k.CODICE IS NULL",
              "ORDINI o LEFT JOIN CLIENTI c ON c.CODICE = o.CLIENTE WHERE c.CODICE IS NULL",
              "RIGHE r LEFT JOIN ARTICOLI a ON a.CODICE = r.ARTICOLO LEFT JOIN ORDINI o ON o.ANNO = r.ANNO "
              "AND o.NUMERO = r.NUMERO WHERE a.CODICE IS NULL OR o.NUMERO IS NULL",
              "ORDINI o WHERE (SELECT COUNT(*) FROM RIGHE r WHERE r.ANNO = o.ANNO AND r.NUMERO = o.NUMERO) NOT BETWEEN 1 AND 5"})
            QCOMPARE(scalar(db(), QStringLiteral("SELECT COUNT(*) FROM ") + QLatin1String(dangling)), 0);
    }

    void everyRecordOpens_data()
    {
        QTest::addColumn<QString>("record");
        const QStringList records = NorvixApp::demoRecords(kDemo + QStringLiteral("/files.dsc"));
        QVERIFY(records.contains(QStringLiteral("CLIENTI")));
        for (const QString &r : records)
            QTest::newRow(qPrintable(r)) << r;
    }
    void everyRecordOpens()
    {
        QFETCH(QString, record);
        FrmEditTab editor;
        editor.START(QString(), m_dir.path(), QStringLiteral("demo.db"), record, QString(), QString(), false, std::nullopt);
        QVERIFY(editor.CanShow());
        QVERIFY2(m_messages->messages().isEmpty(), qPrintable(TestUtil::messageTexts(*m_messages).join(u'\n')));
        QVERIFY(editor.LstSelect()->isEnabled());
    }

    // The descriptors lint clean against the database (hints apart), and a database lacking one
    // of their tables (built by an older demo) is told, to be built again.
    void descriptorsMatchTheDatabase()
    {
        const QStringList lines = splitDscLines(decodeDscText(TestUtil::readFile(kDemo + QStringLiteral("/files.dsc"))));
        QStringList faults;
        for (const LintFinding &f : lintDescriptors(*Connection::open(QStringLiteral("sqlite://") + db()), lines, "files.dsc"))
            if (!f.hint)
                faults << QStringLiteral("%1: %2").arg(f.line).arg(f.message);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));
        QCOMPARE(NorvixApp::missingDemoTable(db(), m_dir.filePath(QStringLiteral("files.dsc"))), QString());
        QTemporaryDir old;
        TestUtil::createSqlite(old.filePath(QStringLiteral("demo.db")), {QStringLiteral("CREATE TABLE province (SIGLA TEXT)")});
        QCOMPARE(NorvixApp::missingDemoTable(old.filePath(QStringLiteral("demo.db")), m_dir.filePath(QStringLiteral("files.dsc"))),
                 QStringLiteral("COMUNI"));
    }

    void aFailedBuildLeavesNoDatabase()
    {
        QTemporaryDir dir;
        const QString script = dir.filePath(QStringLiteral("broken.sql"));
        TestUtil::writeFile(script, "CREATE TABLE T (A INTEGER);\nINSERT INTO T VALUES (1);\nINSERT INTO NOPE VALUES (2);\n");
        const QString target = dir.filePath(QStringLiteral("demo.db"));
        QString error;
        QVERIFY(!NorvixApp::buildDemoDatabase(script, target, &error));
        QVERIFY2(error.contains(u"NOPE"), qPrintable(error));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("broken.sql")});

        // A database already in place survives a failed rebuild.
        TestUtil::writeFile(target, "keep");
        QVERIFY(!NorvixApp::buildDemoDatabase(script, target, &error));
        QCOMPARE(TestUtil::readFile(target), QByteArray("keep"));
    }

    void scriptSplitsOutsideQuotesAndComments()
    {
        const QStringList s = NorvixApp::splitSqlScript(
            QStringLiteral("-- a; comment\nINSERT INTO T VALUES ('a;b', 'it''s');\n/* x; y */ SELECT \"c;d\" ;;\nSELECT 1"));
        QCOMPARE(s, (QStringList{QStringLiteral("INSERT INTO T VALUES ('a;b', 'it''s')"), QStringLiteral("SELECT \"c;d\""),
                                 QStringLiteral("SELECT 1")}));
    }
};

QTEST_MAIN(TstDemo)
#include "tst_demo.moc"
