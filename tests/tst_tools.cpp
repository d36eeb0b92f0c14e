// The developer's tools on the descriptors: lint against the database, scaffold from it.

#include "anagrafica.h"
#include "descriptor/dsctext.h"
#include "descriptor/descriptor.h"
#include "editor/frmedittab.h"
#include "editor/shared.h"
#include "editordriver.h"
#include "tools/lint.h"
#include "tools/migrate.h"
#include "tools/scaffold.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>

#include <QTest>

using namespace Norvix;
using namespace TestUtil;

namespace {

// One planted fault per line (or per record), each a finding of its own.
const char *const kPlanted = R"(' planted faults
RECORD,PROVINCE,Province,1,Generale
CAMPO,SIGLA,Sigla,TEXT,2,,A,,X
CAMPO,NOMEE,Provincia,TEXT,40
INDICE,PrimaryKey,+SIGLA,-1,-1
RECORD,CLIENTI,Clienti,1,Generale,Indirizzi
CAMPO,CODICE,Codice,LONG,6,,1,,X
CAMPO,NOME,Ragione sociale,DATE,,,,,,,,,,,1
CAMPO,PROV,Provincia,TEXT,80,,,,X,,PROVINCEX,NOME,CMBBOUNDED,,2
CAMPO,COMUNE,Comune,TEXT,4,,,,,,COMUNI,NOMEX,COMBOBOX,,2,PROVV
CAMPO,NATO,Data di nascita,DATE,,,01/01/1900,,,,,,TXTSTRANO,,5
CAMPO,FIDO,Fido,AUTOINC,12
RICERCA,1,MOSTRA,Per nome,NOME,ZZZ
RICERCA,1,SELEZIONE,NOME,,LIKE
RICERCA,1,SELEZIONE,YYY,TXTTEXT,=
INDICE,PrimaryKey,+NOME,-1,-1
RECORD,FANTASMA,Fantasma,1
CAMPO,A,A,TEXT,2
INDICE,PrimaryKey,+A,-1,-1
RECORD,ORDINI,Ordini,1
CAMPO,ANNO,Anno,INTEGER,4
RICERCA,1,MOSTRA,Per anno,ANNO
RICERCA,1,SELEZIONE,ANNO,,CONTIENE
INDICE,PrimaryKey,+ANNO;+NUMERO,-1,-1
)";

// The rows of a table of an SQLite file, each value as text, and the file's schema.
QList<QStringList> sqliteRows(const QString &file, const QString &sql)
{
    QList<QStringList> rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("peek"));
        db.setDatabaseName(file);
        db.open();
        QSqlQuery q(sql, db);
        while (q.next()) {
            QStringList row;
            for (int i = 0; i < q.record().count(); ++i)
                row << (q.value(i).isNull() ? QStringLiteral("NULL") : q.value(i).toString());
            rows << row;
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("peek"));
    return rows;
}

QStringList described(const QList<LintFinding> &findings)
{
    QStringList out;
    for (const LintFinding &f : findings)
        if (!f.hint)
            out << QStringLiteral("%1 %2.%3 %4").arg(f.line).arg(f.record, f.field, f.code);
    out.sort();
    return out;
}

} // namespace

class TstTools : public QObject
{
    Q_OBJECT

private slots:
    void lintFindsPlantedFaults_data() { backends(); }
    void lintFindsPlantedFaults()
    {
        QFETCH(QString, backend);
        Data db(backend);
        // The sample descriptors describe the sample tables without a fault.
        const QStringList sample = splitDscLines(decodeDscText(readData("legacy/files.dsc")));
        QCOMPARE(described(lintDescriptors(*db.conn, sample, "files.dsc")), QStringList());

        const QStringList planted = splitDscLines(QString::fromUtf8(kPlanted));
        const QList<LintFinding> findings = lintDescriptors(*db.conn, planted, "files.dsc");
        QStringList want{"4 PROVINCE.NOMEE missing-column",
                         "8 CLIENTI.NOME type-mismatch",
                         "9 CLIENTI.PROV missing-lookup-table",
                         "9 CLIENTI.PROV too-long",
                         "10 CLIENTI.COMUNE missing-source",
                         "10 CLIENTI.COMUNE missing-lookup-column",
                         "11 CLIENTI.NATO unknown-control",
                         "11 CLIENTI.NATO missing-page",
                         "12 CLIENTI.FIDO type-mismatch",
                         "13 CLIENTI.ZZZ search-missing-field",
                         "15 CLIENTI.YYY search-missing-field",
                         "16 CLIENTI. unbacked-key",
                         "17 FANTASMA. missing-table",
                         "23 ORDINI. load"};
        want.sort();
        QCOMPARE(described(findings), want);
        for (const LintFinding &f : findings)
            QVERIFY2(f.message.size() > 30 && f.message.contains(u':'), qPrintable(f.message)); // what, and how to fix it
        // Only the records named; one the descriptors lack is a finding too.
        QCOMPARE(described(lintDescriptors(*db.conn, planted, "files.dsc", {"province", "MANCANTE"})),
                 (QStringList{"0 MANCANTE. missing-record", "4 PROVINCE.NOMEE missing-column"}));
    }

    // A scaffold from the schema: fields of the right kind and length, the key, foreign keys as
    // lookups (the composite one filtered by the province), a search, pages; it loads, lints
    // clean and opens in the editor.
    void scaffoldMakesWorkingDescriptors_data() { backends(); }
    void scaffoldMakesWorkingDescriptors()
    {
        QFETCH(QString, backend);
        Backend db(backend);
        QStringList extra;
        for (int i = 1; i <= 8; ++i)
            extra << QStringLiteral("N%1 INTEGER").arg(i);
        db.exec({"CREATE TABLE PROVINCE (SIGLA VARCHAR(2) PRIMARY KEY, NOME VARCHAR(40) NOT NULL)",
                 "CREATE TABLE COMUNI (PROV VARCHAR(2) NOT NULL REFERENCES PROVINCE (SIGLA), CODICE VARCHAR(4) NOT NULL, "
                 "NOME VARCHAR(40), PRIMARY KEY (PROV, CODICE))",
                 "CREATE TABLE CLIENTI (CODICE INTEGER PRIMARY KEY, RAGIONE_SOCIALE VARCHAR(60) NOT NULL, "
                 "PROV VARCHAR(2) REFERENCES PROVINCE (SIGLA), COMUNE VARCHAR(4), FIDO NUMERIC(12,2), NATO DATE, "
                 "ATTIVO BOOLEAN, PESO DOUBLE PRECISION, NOTE TEXT, " + extra.join(u", ") +
                     ", FOREIGN KEY (PROV, COMUNE) REFERENCES COMUNI (PROV, CODICE))",
                 "INSERT INTO PROVINCE VALUES ('MI', 'Milano')", "INSERT INTO COMUNI VALUES ('MI', 'F205', 'Milano')",
                 "INSERT INTO CLIENTI (CODICE, RAGIONE_SOCIALE, PROV, COMUNE) VALUES (1, 'Rossi', 'MI', 'F205')"});
        const QStringList lines = scaffoldDescriptors(*db.conn);
        const auto lineOf = [&](const QString &start) {
            for (const QString &l : lines)
                if (l.startsWith(start, Qt::CaseInsensitive))
                    return l;
            return QString();
        };
        QCOMPARE(lineOf("RECORD,CLIENTI"), QStringLiteral("RECORD,%1,Clienti,1,Generale,Pagina 2").arg(db.sqlite ? "CLIENTI" : "clienti"));
        QVERIFY(lineOf("CAMPO,RAGIONE_SOCIALE,Ragione sociale,TEXT,60,").endsWith(u",1"));
        QVERIFY(lineOf("CAMPO,PROV,Prov,TEXT,2,").contains(u",PROVINCE,NOME,CMBBOUNDED,", Qt::CaseInsensitive));
        QVERIFY(lineOf("CAMPO,COMUNE,Comune,TEXT,4,").contains(u",COMUNI,NOME,CMBBOUNDED,,1,PROV", Qt::CaseInsensitive));
        QVERIFY(lineOf("CAMPO,FIDO,Fido,CURRENCY,").size() > 0);
        QVERIFY(lineOf("CAMPO,NATO,Nato,DATE").size() > 0 && lineOf("CAMPO,ATTIVO,Attivo,BOOLEAN").size() > 0);
        QVERIFY(lineOf("CAMPO,PESO,Peso,DOUBLE").size() > 0 && lineOf("CAMPO,NOTE,Note,MEMO").size() > 0);
        QVERIFY(lineOf("CAMPO,N8,N8,LONG").endsWith(u",2")); // the 13th field starts the second page
        QVERIFY(lineOf("RICERCA,1,SELEZIONE,RAGIONE_SOCIALE,,LIKE").size() > 0);
        QVERIFY(lines.contains(QStringLiteral("INDICE,PrimaryKey,+PROV;+CODICE,-1,-1"), Qt::CaseInsensitive));

        QCOMPARE(described(lintDescriptors(*db.conn, lines, "files.dsc")), QStringList());
        TestUtil::writeFile(QDir(db.folder()).filePath("files.dsc"), lines.join(u'\n').toUtf8());
        auto messages = TestUtil::freshUser();
        Shared::EditorVisible = false;
        for (const char *record : {"CLIENTI", "COMUNI", "PROVINCE"}) {
            FrmEditTab editor;
            editor.START(db.connection, db.folder(), QString(), QString::fromLatin1(record), QString(), QString(), false);
            QVERIFY2(editor.CanShow(), qPrintable(TestUtil::messageTexts(*messages).join(u'|')));
        }
        QVERIFY2(messages->messages().isEmpty(), qPrintable(TestUtil::messageTexts(*messages).join(u'|')));
        setMessageService(nullptr);
    }

    // Jet 3 and Jet 4 tables carried over to SQLite: types, keys, indexes and values.
    void migrateCopiesJetTables()
    {
        QTemporaryDir dir;
        const QString target = dir.filePath("dati.db");
        MigrateOptions options;
        options.source = TestUtil::dataPath("legacy/access97_sample.mdb");
        options.target = target;
        const MigrateResult done = migrateJet(options);
        QCOMPARE(done.tables, (QStringList{"Table1", "Table2", "Table3", "Table4"}));
        QCOMPARE(done.rows, 2);
        const auto schema = sqliteRows(target, "SELECT sql FROM sqlite_master WHERE name LIKE 'Table1%' ORDER BY name");
        QCOMPARE(schema.value(0).value(0), QStringLiteral(
            "CREATE TABLE \"Table1\" (\"A\" VARCHAR(50), \"B\" VARCHAR(100), \"C\" INTEGER, \"D\" INTEGER, \"E\" INTEGER, "
            "\"F\" REAL, \"G\" TIMESTAMP, \"H\" NUMERIC(19,4), \"I\" BOOLEAN, PRIMARY KEY (\"A\"))"));
        QCOMPARE(schema.value(1).value(0), QStringLiteral("CREATE INDEX \"Table1_B\" ON \"Table1\" (\"B\")"));
        QCOMPARE(sqliteRows(target, "SELECT * FROM Table1 ORDER BY A"),
                 (QList<QStringList>{{"a", "b", "0", "0", "0", "0", "1981-12-12 00:00:00", "0", "0"},
                                     {"abcdefg", "hijklmnop", "2", "222", "333333333", "444.555", "1974-09-21 00:00:00", "3.5", "1"}}));

        // A database password: wrong, nothing made; right, the rows.
        MigrateOptions locked;
        locked.source = TestUtil::dataPath("legacy/access2000_password.mdb");
        locked.password = "sbagliata";
        locked.target = dir.filePath("pw.db");
        QVERIFY(TestUtil::thrownBy<DescriptorError>([&] { migrateJet(locked); }));
        QVERIFY(!QFile::exists(locked.target));
        locked.password = "password";
        locked.descriptors = true;
        migrateJet(locked);
        QCOMPARE(sqliteRows(locked.target, "SELECT * FROM Table1"),
                 (QList<QStringList>{{"1", "One"}, {"2", "Two"}, {"3", "Three"}}));
        QCOMPARE(sqliteRows(locked.target, "SELECT sql FROM sqlite_master").value(0).value(0),
                 QStringLiteral("CREATE TABLE \"Table1\" (\"ID\" INTEGER, \"Data\" VARCHAR(255), PRIMARY KEY (\"ID\"))"));
        // ... with descriptors that lint clean.
        QFile dsc(dir.filePath("files.dsc"));
        QVERIFY(dsc.open(QIODevice::ReadOnly));
        const auto migrated = Connection::open(QStringLiteral("sqlite://") + locked.target);
        QCOMPARE(described(lintDescriptors(*migrated, splitDscLines(QString::fromUtf8(dsc.readAll())), "files.dsc")), QStringList());

        // A table there already, or one the file lacks: refused, the target as it was.
        QVERIFY(TestUtil::thrownBy<MigrationRefused>([&] { migrateJet(locked); }));
        locked.tables = {"Nessuna"};
        locked.replace = true;
        QVERIFY(TestUtil::thrownBy<MigrationRefused>([&] { migrateJet(locked); }));
        locked.tables = {"table1"};
        QCOMPARE(migrateJet(locked).rows, 3); // replaced

        // A file cut short: an error, and no table half written.
        QFile whole(TestUtil::dataPath("legacy/access97_sample.mdb"));
        QVERIFY(whole.open(QIODevice::ReadOnly));
        TestUtil::writeFile(dir.filePath("tronco.mdb"), whole.read(whole.size() / 2 / 2048 * 2048));
        MigrateOptions cut;
        cut.source = dir.filePath("tronco.mdb");
        cut.target = dir.filePath("tronco.db");
        QVERIFY(TestUtil::thrownBy<Error>([&] { migrateJet(cut); }));
        QVERIFY(!QFile::exists(cut.target));
    }
};

QTEST_MAIN(TstTools)
#include "tst_tools.moc"
