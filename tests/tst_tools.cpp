// The developer's tools on the descriptors: lint against the database, scaffold from it.

#include "anagrafica.h"
#include "descriptor/dsctext.h"
#include "descriptor/descriptor.h"
#include "editor/frmedittab.h"
#include "editor/shared.h"
#include "editordriver.h"
#include "tools/lint.h"
#include "tools/lookupindex.h"
#include "tools/migrate.h"
#include "tools/scaffold.h"

#include <QComboBox>
#include <QRegularExpression>
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

// An order with its lines (%1: the order's DETTAGLIO line), and notes without an index.
const char *const kDetails = R"(RECORD,ORDINI,Ordini,1,Testata,Righe
CAMPO,ANNO,Anno,INTEGER,4
CAMPO,NUMERO,Numero,AUTOINC,6
CAMPO,CLIENTE,Cliente,TEXT,6
%1
INDICE,PrimaryKey,+ANNO;+NUMERO,-1,-1
RECORD,RIGHE,Righe,1
CAMPO,ANNO,Anno,LONG,4
CAMPO,NUMERO,Numero,LONG,6
CAMPO,RIGA,Riga,INTEGER,4
CAMPO,ARTICOLO,Articolo,TEXT,8
INDICE,PrimaryKey,+ANNO;+NUMERO;+RIGA,-1,-1
RECORD,NOTE,Note,1
CAMPO,ANNO,Anno,INTEGER,4
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
                         "23 ORDINI.ANNO load"};
        want.sort();
        QCOMPARE(described(findings), want);
        for (const LintFinding &f : findings)
            QVERIFY2(f.message.size() > 30 && f.message.contains(u':'), qPrintable(f.message)); // what, and how to fix it
        // Only the records named; one the descriptors lack is a finding too.
        QCOMPARE(described(lintDescriptors(*db.conn, planted, "files.dsc", {"province", "MANCANTE"})),
                 (QStringList{"0 MANCANTE. missing-record", "4 PROVINCE.NOMEE missing-column"}));
    }

    // Each fault of a detail is one finding on its line, naming the record and the detail.
    void lintChecksDetails_data()
    {
        QTest::addColumn<QString>("detail");
        QTest::addColumn<QString>("finding"); // line and code
        QTest::addColumn<QString>("says");
        const auto row = [](const char *name, const char *detail, const char *finding, const char *says) {
            QTest::newRow(name) << detail << finding << QString::fromUtf8(says);
        };
        row("clean: a counter links to a whole number", "DETTAGLIO,1,RIGHE,Righe,2,ANNO;NUMERO,ANNO;NUMERO,RIGA;ARTICOLO", "", "");
        row("missing child", "DETTAGLIO,1,RIGHEX,R,2,ANNO;NUMERO,ANNO;NUMERO", "5 missing-detail-record",
            "il dettaglio 1 del record ORDINI mostra il record RIGHEX, che i descrittori non hanno");
        row("link lengths differ", "DETTAGLIO,1,RIGHE,R,2,ANNO;NUMERO,ANNO", "5 detail-link-length", "lega 2 campi del padre a 1");
        row("missing master field", "DETTAGLIO,1,RIGHE,R,2,ANNO;NUMERI,ANNO;NUMERO", "5 detail-missing-field",
            "il dettaglio 1 del record ORDINI nomina il campo NUMERI, che il record ORDINI non ha");
        row("missing child field", "DETTAGLIO,1,RIGHE,R,2,ANNO;NUMERO,ANNO;NUMERI", "5 detail-missing-field",
            "campo NUMERI, che il record RIGHE non ha");
        row("link kinds differ", "DETTAGLIO,1,RIGHE,R,2,ANNO;CLIENTE,ANNO;RIGA", "5 detail-link-type", "lega CLIENTE (TEXT) a RIGA (INTEGER)");
        row("child without index", "DETTAGLIO,1,NOTE,N,2,ANNO,ANNO", "5 detail-no-index", "il record NOTE, che non ha un indice");
        row("missing column", "DETTAGLIO,1,RIGHE,R,2,ANNO;NUMERO,ANNO;NUMERO,RIGA;PREZZO", "5 detail-missing-field", "PREZZO, che il record RIGHE");
        row("missing page", "DETTAGLIO,1,RIGHE,R,3,ANNO;NUMERO,ANNO;NUMERO", "5 missing-page", "sta sulla pagina 3");
        // The first primary index ends the reading: the line after it is never read.
        row("after the index", "INDICE,PrimaryKey,+ANNO;+NUMERO,-1,-1\nDETTAGLIO,1,RIGHEX,R,2,A,A", "6 unread-detail",
            "la riga DETTAGLIO del record ORDINI sta dopo l'indice primario (riga 5)");
        // History: read after the index too; a flag other than 0 or 1 stops the load.
        row("history after the index", "INDICE,PrimaryKey,+ANNO;+NUMERO,-1,-1\nSTORIA,1", "", "");
        row("history flag", "STORIA,si", "5 load", "STORIA vuole 1 (attiva) o 0 (spenta)");
    }

    void lintChecksDetails()
    {
        QFETCH(QString, detail);
        QFETCH(QString, finding);
        QFETCH(QString, says);
        Backend db("sqlite");
        db.exec({"CREATE TABLE ORDINI (ANNO INTEGER, NUMERO INTEGER, CLIENTE VARCHAR(6), PRIMARY KEY (ANNO, NUMERO))",
                 "CREATE TABLE RIGHE (ANNO INTEGER, NUMERO INTEGER, RIGA INTEGER, ARTICOLO VARCHAR(8), PRIMARY KEY (ANNO, NUMERO, RIGA))",
                 "CREATE TABLE NOTE (ANNO INTEGER)"});
        const QList<LintFinding> findings = lintDescriptors(*db.conn, splitDscLines(QString::fromUtf8(kDetails).arg(detail)), "files.dsc");
        QCOMPARE(described(findings), finding.isEmpty() ? QStringList() : QStringList{finding.replace(" ", " ORDINI. ")});
        QVERIFY2(findings.isEmpty() || findings[0].message.contains(says), qPrintable(findings.value(0).message));
    }

    // A lookup on a large table hints the index of its description search, once per table and
    // description: on SQLite the command, on PostgreSQL statements that run. Made, the hint goes.
    // A small lookup hints none.
    void lookupSearchIndex_data() { backends(); }
    void lookupSearchIndex()
    {
        QFETCH(QString, backend);
        Backend db(backend);
        db.exec(kLookupTables);
        const QStringList dsc = splitDscLines(QString::fromLatin1(kLookupDsc));
        const auto hints = [&] {
            QStringList out;
            for (const LintFinding &f : lintDescriptors(*db.conn, dsc, "files.dsc"))
                out << f.field + u' ' + f.code + u' ' + f.message;
            return out;
        };
        QStringList missing;
        const QList<LookupSearch> wanted = lookupSearches(*db.conn, dsc, "files.dsc", {}, false, &missing);
        QCOMPARE(wanted.size(), 1);
        const QString fix = db.sqlite ? "norvix dsc index ORDINI" : wanted[0].index.statements.join("; ");
        QCOMPARE(hints().size(), 1);
        QVERIFY2(hints()[0].startsWith("ART lookup-search-index ") && hints()[0].endsWith(fix), qPrintable(hints()[0]));
        if (db.sqlite)
            createLookupIndex(*db.conn, wanted[0].index);
        else
            db.exec(fix.split("; "));
        QCOMPARE(hints(), QStringList());
    }

    // Captions from names: words split at underscores and at camelCase, acronyms kept as one word.
    void captions()
    {
        const QList<std::pair<const char *, const char *>> names{
            {"RAGIONE_SOCIALE", "Ragione sociale"}, {"InvoiceLineId", "Invoice line id"}, {"customerID", "Customer id"},
            {"HTMLPage", "Html page"}, {"invoiceline", "Invoiceline"}, {"Address2Line", "Address2 line"}, {"a,b", "A b"}};
        for (const auto &[name, caption] : names)
            QCOMPARE(captionOf(QString::fromLatin1(name)), QString::fromLatin1(caption));
    }

    // A scaffold from the schema: fields of the right kind, length and picture, keys the database
    // numbers as AUTOINC, the key, foreign keys as lookups showing a name (the composite one
    // filtered by the province), a search for every table, pages, and the user's tables only; it
    // loads, lints clean and opens in the editor.
    void scaffoldMakesWorkingDescriptors_data() { backends(); }
    void scaffoldMakesWorkingDescriptors()
    {
        QFETCH(QString, backend);
        Backend db(backend);
        QStringList extra;
        for (int i = 1; i <= 8; ++i)
            extra << QStringLiteral("N%1 INTEGER").arg(i);
        const QString numbered = db.sqlite ? "INTEGER PRIMARY KEY AUTOINCREMENT" : "SERIAL PRIMARY KEY";
        const QString identity = db.sqlite ? "INTEGER PRIMARY KEY" : "INTEGER GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY";
        db.exec({"CREATE TABLE PROVINCE (SIGLA VARCHAR(2) PRIMARY KEY, REGIONE VARCHAR(20) UNIQUE, NOME VARCHAR(40) NOT NULL)",
                 "CREATE TABLE COMUNI (PROV VARCHAR(2) NOT NULL REFERENCES PROVINCE (SIGLA), CODICE VARCHAR(4) NOT NULL, "
                 "NOME VARCHAR(40), PRIMARY KEY (PROV, CODICE))",
                 "CREATE TABLE CLIENTI (CODICE INTEGER PRIMARY KEY, RAGIONE_SOCIALE VARCHAR(60) NOT NULL, "
                 "PROV VARCHAR(2) REFERENCES PROVINCE (SIGLA), COMUNE VARCHAR(4), FIDO NUMERIC(12,2), NATO DATE, "
                 "ATTIVO BOOLEAN, PESO DOUBLE PRECISION, NOTE TEXT, " + extra.join(u", ") +
                     ", FOREIGN KEY (PROV, COMUNE) REFERENCES COMUNI (PROV, CODICE))",
                 "CREATE TABLE \"InvoiceLine\" (\"InvoiceLineId\" " + numbered + ", \"UnitPrice\" NUMERIC(10,2), "
                 "\"Quantity\" NUMERIC(18,0))",
                 "CREATE TABLE ORDINI (NUMERO " + identity + ", TOTALE NUMERIC(20,2), REGIONE VARCHAR(20) REFERENCES PROVINCE (REGIONE))",
                 "CREATE TABLE ABBINAMENTI (A INTEGER, B INTEGER, PRIMARY KEY (A, B))",
                 "CREATE TABLE VISITE (PROV VARCHAR(2) REFERENCES PROVINCE (SIGLA), GIORNO DATE)", // no key: no detail
                 "INSERT INTO PROVINCE VALUES ('MI', 'Lombardia', 'Milano'), ('MX', 'Messico', 'Milano')", "INSERT INTO COMUNI VALUES ('MI', 'F205', 'Milano')",
                 "INSERT INTO CLIENTI (CODICE, RAGIONE_SOCIALE, PROV, COMUNE) VALUES (1, 'Rossi', 'MI', 'F205')"});
        const QStringList lines = scaffoldDescriptors(*db.conn);
        const auto lineOf = [&](const QString &start) {
            for (const QString &l : lines)
                if (l.startsWith(start, Qt::CaseInsensitive))
                    return l;
            return QString();
        };
        QCOMPARE(lineOf("RECORD,CLIENTI"), QStringLiteral("RECORD,%1,Clienti,1,Generale,Pagina 2").arg(db.sqlite ? "CLIENTI" : "clienti"));
        // Whole lines, their names as the database spells them (PostgreSQL folds unquoted ones).
        for (const char *line : {"CAMPO,RAGIONE_SOCIALE,Ragione sociale,TEXT,60,,,,,,,,,,1",
                                 "CAMPO,PROV,Prov,TEXT,2,,,,,,PROVINCE,NOME;REGIONE,CMBBOUNDED,,1", // a name held twice
                                 "CAMPO,COMUNE,Comune,TEXT,4,,,,,,COMUNI,NOME,CMBBOUNDED,,1,PROV",
                                 "CAMPO,FIDO,Fido,CURRENCY,14,,,,,,,,,0.00,1", "CAMPO,NATO,Nato,DATE,,,,,,,,,,,1",
                                 "CAMPO,ATTIVO,Attivo,BOOLEAN,,,,,,,,,,,1", "CAMPO,PESO,Peso,DOUBLE,15,,,,,,,,,,1",
                                 "CAMPO,NOTE,Note,MEMO,,,,,,,,,,,1", "CAMPO,N8,N8,LONG,11,,,,,,,,,,2", // a second page
                                 "RICERCA,1,SELEZIONE,RAGIONE_SOCIALE,,LIKE", "INDICE,PrimaryKey,+PROV;+CODICE,-1,-1",
                                 "RECORD,InvoiceLine,Invoice line,1,Generale",
                                 "CAMPO,InvoiceLineId,Invoice line id,AUTOINC,11,,,,,,,,,,1",
                                 "CAMPO,UnitPrice,Unit price,CURRENCY,12,,,,,,,,,0.00,1",
                                 "CAMPO,Quantity,Quantity,DECIMAL,19,,,,,,,,,,1", "CAMPO,NUMERO,Numero,AUTOINC,11,,,,,,,,,,1",
                                 "CAMPO,TOTALE,Totale,DECIMAL,22,,,,,,,,,,1"}) // too many digits for a picture
            QVERIFY2(lines.contains(QString::fromLatin1(line), Qt::CaseInsensitive), line);
        QVERIFY(lineOf("CAMPO,CODICE,Codice,").contains(db.sqlite ? ",AUTOINC," : ",LONG,")); // the rowid, on SQLite
        // A detail, on a page of its own, for each foreign key to a whole primary key (not ORDINI's to REGIONE, nor
        // VISITE's, which has no key of its own).
        for (const char *line : {"RECORD,PROVINCE,Province,1,Generale,Clienti,Comuni", "DETTAGLIO,1,CLIENTI,Clienti,2,SIGLA,PROV",
                                 "DETTAGLIO,2,COMUNI,Comuni,3,SIGLA,PROV", "RECORD,COMUNI,Comuni,1,Generale,Clienti",
                                 "DETTAGLIO,1,CLIENTI,Clienti,2,PROV;CODICE,PROV;COMUNE"})
            QVERIFY2(lines.contains(QString::fromLatin1(line), Qt::CaseInsensitive), line);
        QCOMPARE(lines.filter(QRegularExpression("^DETTAGLIO,")).size(), 3);
        // One record per user table (no catalog of the server), each with a search.
        QCOMPARE(lines.filter(QRegularExpression("^RECORD,")).size(), 7);
        QCOMPARE(lines.filter(QRegularExpression("^RICERCA,1,MOSTRA,")).size(), 7);
        QCOMPARE(lineOf("RICERCA,1,SELEZIONE,A,"), QStringLiteral("RICERCA,1,SELEZIONE,%1,,=").arg(db.sqlite ? "A" : "a"));

        QCOMPARE(described(lintDescriptors(*db.conn, lines, "files.dsc")), QStringList());
        TestUtil::writeFile(QDir(db.folder()).filePath("files.dsc"), lines.join(u'\n').toUtf8());
        auto messages = TestUtil::freshUser();
        ::Norvix::SharedSettings::process().editorVisible = false;
        for (const QString &record : lines.filter(QRegularExpression("^RECORD,"))) {
            FrmEditTab editor;
            editor.START(db.connection, db.folder(), QString(), record.section(u',', 1, 1), QString(), QString(), false);
            QVERIFY2(editor.CanShow(), qPrintable(record + TestUtil::messageTexts(*messages).join(u'|')));
            if (const auto *prov = editor.findChild<QComboBox *>(QStringLiteral("CmbBounded3")); record.startsWith(u"RECORD,CLIENTI"))
                QVERIFY(prov && prov->findText(QStringLiteral("[MX] Milano Messico")) >= 0); // both columns shown
        }
        QVERIFY2(messages->messages().isEmpty(), qPrintable(TestUtil::messageTexts(*messages).join(u'|')));
        setMessageService(nullptr);
    }

    // What a Jet file declares of a column (as mdb-schema prints it), kept by the migration and by
    // the descriptor written with it: declared type | descriptor type, length, picture.
    void migrateKeepsWhatJetDeclares_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("column");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, const char *file, const char *table, const char *column, const char *expected) {
            QTest::newRow(name) << file << table << column << expected;
        };
        const char *numeric = "realdata/fixedNumericTestV2003.mdb", *text = "realdata/fixedTextTestV2003.mdb",
                   *jet3 = "legacy/access97_sample.mdb";
        row("Numeric(18,0)", numeric, "test", "col2", "NUMERIC(18,0) | DECIMAL,19,");
        row("Required text, Jet 4", text, "users", "c_user_login", "VARCHAR(32) NOT NULL | TEXT,32,");
        row("Required date", text, "users", "d_stamp_", "TIMESTAMP NOT NULL | DATE,16,dd/mm/yyyy hh:nn");
        row("Long key the user types", text, "users", "i_user_id", "INT NOT NULL key | LONG,11,");
        row("AutoNumber key, Jet 3", jet3, "Table3", "a", "INTEGER key numbered | AUTOINC,11,");
        row("Currency", jet3, "Table1", "H", "NUMERIC(19,4) | CURRENCY,21,0.00");
    }

    void migrateKeepsWhatJetDeclares()
    {
        QFETCH(QString, file);
        QFETCH(QString, table);
        QFETCH(QString, column);
        QTemporaryDir dir;
        MigrateOptions options{TestUtil::dataPath(file), {}, dir.filePath("dati.db"), {table}, false, true};
        migrateJet(options);
        const QStringList c = sqliteRows(options.target, QStringLiteral(
            "SELECT type, \"notnull\", pk, (SELECT sql LIKE '%AUTOINCREMENT%' FROM sqlite_master WHERE name = '%1') "
            "FROM pragma_table_info('%1') WHERE name = '%2'").arg(table, column)).value(0);
        const QString declared = c.value(0) + (c.value(1) == u"1" ? " NOT NULL" : "") + (c.value(2) == u"1" ? " key" : "")
                                 + (c.value(2) == u"1" && c.value(3) == u"1" ? " numbered" : "");
        const QStringList field = QString::fromUtf8(TestUtil::readFile(dir.filePath("files.dsc")))
                                      .section(u'\n' + QStringLiteral("CAMPO,%1,").arg(column), 1).section(u'\n', 0, 0).split(u',');
        QTEST(declared + " | " + field.value(1) + u',' + field.value(2) + u',' + field.value(11).remove(u'"'), "expected");
    }

    // A Numeric(18,0) column takes, from the editor made for it, every digit a user types.
    void migratedNumberTakesEveryDigit()
    {
        QTemporaryDir dir;
        migrateJet({TestUtil::dataPath("realdata/fixedNumericTestV2003.mdb"), {}, dir.filePath("dati.db"), {}, false, true});
        QCOMPARE(sqliteRows(dir.filePath("dati.db"), "SELECT * FROM test"),
                 (QList<QStringList>{{"some data", "1", "0", "0", "4", "-1", "1"}}));
        auto messages = TestUtil::freshUser();
        ::Norvix::SharedSettings::process().editorVisible = false;
        {
            FrmEditTab editor;
            TestUtil::startShown(editor, "sqlite://" + dir.filePath("dati.db"), dir.path(), "test");
            TestUtil::typeInto(editor, TestUtil::control(editor, "TxtNumeric2"), "-123456789012345678");
            TestUtil::leave(editor);
            TestUtil::press(editor, 1); // Conferma
        }
        QVERIFY2(messages->messages().isEmpty(), qPrintable(TestUtil::messageTexts(*messages).join(u'|')));
        QCOMPARE(sqliteRows(dir.filePath("dati.db"), "SELECT col2 FROM test"), (QList<QStringList>{{"-123456789012345678"}}));
        setMessageService(nullptr);
    }

    // Jet 3 and Jet 4 tables carried over to SQLite: types, keys, indexes and values.
    void migrateCopiesJetTables()
    {
        QTemporaryDir dir;
        const QString target = dir.filePath("dati.db");
        const MigrateResult done = migrateJet({TestUtil::dataPath("legacy/access97_sample.mdb"), {}, target, {}});
        QCOMPARE(done.tables, (QStringList{"Table1", "Table2", "Table3", "Table4"}));
        QCOMPARE(done.rows, 2);
        const auto schema = sqliteRows(target, "SELECT sql FROM sqlite_master WHERE name LIKE 'Table1%' ORDER BY name");
        QCOMPARE(schema.value(0).value(0), QStringLiteral(
            "CREATE TABLE \"Table1\" (\"A\" VARCHAR(50), \"B\" VARCHAR(100), \"C\" SMALLINT, \"D\" SMALLINT, \"E\" INTEGER, "
            "\"F\" REAL, \"G\" TIMESTAMP, \"H\" NUMERIC(19,4), \"I\" BOOLEAN NOT NULL, PRIMARY KEY (\"A\"))"));
        QCOMPARE(schema.value(1).value(0), QStringLiteral("CREATE INDEX \"Table1_B\" ON \"Table1\" (\"B\")"));
        QCOMPARE(sqliteRows(target, "SELECT * FROM Table1 ORDER BY A"),
                 (QList<QStringList>{{"a", "b", "0", "0", "0", "0", "1981-12-12 00:00:00", "0", "0"},
                                     {"abcdefg", "hijklmnop", "2", "222", "333333333", "444.555", "1974-09-21 00:00:00", "3.5", "1"}}));

        // A database password: wrong, nothing made; right, the rows.
        MigrateOptions locked{TestUtil::dataPath("legacy/access2000_password.mdb"), "sbagliata", dir.filePath("pw.db"), {}};
        QVERIFY(TestUtil::thrownBy<DescriptorError>([&] { migrateJet(locked); }));
        QVERIFY(!QFile::exists(locked.target));
        locked.password = "password";
        locked.descriptors = true;
        migrateJet(locked);
        QCOMPARE(sqliteRows(locked.target, "SELECT * FROM Table1"),
                 (QList<QStringList>{{"1", "One"}, {"2", "Two"}, {"3", "Three"}}));
        QCOMPARE(sqliteRows(locked.target, "SELECT sql FROM sqlite_master").value(0).value(0),
                 QStringLiteral("CREATE TABLE \"Table1\" (\"ID\" INTEGER PRIMARY KEY AUTOINCREMENT, \"Data\" VARCHAR(255))"));
        // ... with descriptors that lint clean.
        const auto migrated = Connection::open(QStringLiteral("sqlite://") + locked.target);
        const QStringList dsc = splitDscLines(QString::fromUtf8(TestUtil::readFile(dir.filePath("files.dsc"))));
        QCOMPARE(described(lintDescriptors(*migrated, dsc, "files.dsc")), QStringList());

        // A table there already, or one the file lacks: refused, the target as it was.
        QVERIFY(TestUtil::thrownBy<MigrationRefused>([&] { migrateJet(locked); }));
        locked.tables = {"Nessuna"};
        locked.replace = true;
        QVERIFY(TestUtil::thrownBy<MigrationRefused>([&] { migrateJet(locked); }));
        locked.tables = {"table1"};
        QCOMPARE(migrateJet(locked).rows, 3); // replaced

        // A file cut short: an error, and no table half written.
        const QByteArray whole = TestUtil::readData("legacy/access97_sample.mdb");
        TestUtil::writeFile(dir.filePath("tronco.mdb"), whole.first(whole.size() / 2 / 2048 * 2048));
        QVERIFY(TestUtil::thrownBy<Error>([&] { migrateJet({dir.filePath("tronco.mdb"), {}, dir.filePath("tronco.db"), {}}); }));
        QVERIFY(!QFile::exists(dir.filePath("tronco.db")));
    }
};

QTEST_MAIN(TstTools)
#include "tst_tools.moc"
