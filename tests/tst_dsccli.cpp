// The norvix command line, run as a user would: without a display unless a case needs one.

#include "descriptor/dscdatabase.h"
#include "descriptor/dscjson.h"
#include "descriptor/dsctext.h"
#include "descriptor/leggidsc.h"
#include "session/history.h"
#include "session/rowsession.h"
#include "tools/historyprint.h"
#include "backends.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

using namespace Norvix;

namespace {

struct Run
{
    int code = -1;
    QByteArray out, err;
};

// `user`: the steps a user takes in the program's window (see scripteduser.cpp).
Run norvix(const QStringList &args, const QString &cwd = QString(), bool offscreen = false,
           const QString &password = QString(), const QString &user = QString())
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "NORVIX_DSC_PASSWORD"})
        env.remove(name);
    if (offscreen)
        env.insert("QT_QPA_PLATFORM", "offscreen");
    if (!password.isEmpty())
        env.insert("NORVIX_DSC_PASSWORD", password);
    if (!user.isEmpty()) {
        env.insert("QT_PLUGIN_PATH", NORVIX_TEST_PLUGINS);
        env.insert("QT_QPA_GENERIC_PLUGINS", "scripteduser");
        env.insert("NORVIX_TEST_USER", user);
    }
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(cwd);
    p.start(NORVIX_APP_PATH, args);
    if (!p.waitForFinished(60000))
        qFatal("norvix did not finish");
    return Run{p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
               p.readAllStandardError()};
}

QJsonObject treeOf(const QByteArray &text, const QString &record)
{
    Rec rec;
    TextLineSource source(text);
    readDsc(source, record, rec, QStringLiteral("files.dsc"));
    return recToJson(rec);
}

QJsonObject parsed(const Run &r)
{
    return QJsonDocument::fromJson(r.out).object();
}

// Unusual lines, in Windows-1252 with CR LF, that every source must load alike.
const QByteArray kText = "' anagrafica \x96 prova\r\n"
                         "PATH,prima\r\n"
                         "RECORD,CLIENTI,Clienti,1,Generale,Indirizzi\r\n"
                         "CAMPO,CODICE,Codice,LONG,6,,1,,X,,,,,,1\r\n"
                         "CAMPO,PROV,Citt\xE0,TEXT,2,,,,,,PROVINCE,NOME,,,2\r\n"
                         "RICERCA,1,MOSTRA,Per nome,NOME,CODICE\r\n"
                         "RICERCA,01,SELEZIONE,PROV,,LIKE\r\n"
                         "dettaglio,1,ORDINI,Ordini del cliente,2,CODICE,CLIENTE,ANNO;NUMERO\r\n"
                         "INDICE,PrimaryKey,+CODICE,-1,-1\r\n"
                         "RECORD,TIPI,Tipi,2,Uno,Due,Tre\r\n"
                         "  campo ,  b , Booleano , boolean ,9,,,,,,,,TXTTEXT,,0\r\n"
                         "CAMPO,D,Data,date,3,,01/01/1900,domani,,,,,,\"dd/mm/yyyy hh:nn\",-2\r\n"
                         "DATABASE,ultimo.db\r\n"
                         "RECORD,ULTIMO,Ultimo,1";

// Changes saved through a row session of `record`, as the editor saves them, by "mario": for
// each, the row (0: a new one) and its columns' texts (none: the row deleted).
void saveThroughNorvix(const std::shared_ptr<Connection> &connection, const QString &folder, const QString &record,
                       const QList<QPair<int, QStringList>> &changes)
{
    auto rec = std::make_shared<Rec>();
    QString path = folder + u'/';
    QVERIFY(LeggiDsc(path, record, *rec));
    RowSession session;
    session.attach(connection, record, {rec->Indice()->NomiCampi()->Item(1)->ID()}, rec);
    session.setUser(QStringLiteral("mario"));
    for (const auto &[row, texts] : changes) {
        if (row == 0)
            session.startNew();
        else
            session.load({row});
        for (int i = 0; i + 1 < texts.size(); i += 2)
            session.setValue(texts[i], session.typed(texts[i], texts[i + 1]));
        QVERIFY(texts.isEmpty() ? session.remove().done() : session.save().done());
    }
}

// The entries of norvix history's text: action and key, one for each entry.
QStringList entriesOf(const Run &r)
{
    QStringList entries, seen;
    for (const QByteArray &line : r.out.split('\n').mid(1)) {
        const QStringList cells = QString::fromUtf8(line).split(u'\t');
        if (cells.size() == 7 && !seen.contains(cells.mid(0, 4).join(u'|'))) {
            seen << cells.mid(0, 4).join(u'|');
            entries << cells[2] + u' ' + cells[3];
        }
    }
    return entries;
}

} // namespace

class TstDscCli : public QObject
{
    Q_OBJECT

    QTemporaryDir m_empty, m_dir, m_broken, m_sealed;
    std::unique_ptr<TestUtil::Backend> m_history;

private slots:
    void initTestCase()
    {
        TestUtil::writeFile(m_broken.filePath("files.dsc"), "RECORD,T,T,1\nCAMPO,A,A,TEXT\nCAMPO,a,B,TEXT\n");
        writeDscDatabase(m_sealed.filePath("dsc.mdb"), {"RECORD,T,T,1"}, "chiave");
        writeDscDatabase(m_sealed.filePath("tolto.mdb"), {"RECORD,T,T,1"}, "chiave"); // then its seal removed
        TestUtil::createSqlite(m_sealed.filePath("tolto.mdb"), {"DROP TABLE DscCrypt"});
        TestUtil::copyData("legacy/files.dsc", m_dir.path());
        TestUtil::writeFile(m_dir.filePath("norvix.ini"),
                            "[Norvix]\nDbPath=" + m_dir.path().toUtf8() + "\nDatabaseName=da_impostazioni.db\n");
        TestUtil::createSqlite(m_dir.filePath("anagrafica.db"), {"CREATE TABLE CLIENTI (CODICE INTEGER PRIMARY KEY)"});
        TestUtil::createSqlite(m_dir.filePath("altro.db"), {"CREATE TABLE ALTRO (A INTEGER)"});
        TestUtil::createSqlite(m_dir.filePath("tabelle.db"), {"CREATE TABLE Table3 (A INTEGER)"});
        TestUtil::createSqlite(m_dir.filePath("nessuna_storia.db"), {"CREATE TABLE T (A INTEGER PRIMARY KEY)"});
        TestUtil::copyData("legacy/access97_sample.mdb", m_dir.path());
        TestUtil::copyData("legacy/access2000_password.mdb", m_dir.path());
        // A row inserted, changed and deleted, another inserted, on four days.
        m_history = std::make_unique<TestUtil::Backend>(QStringLiteral("sqlite"));
        m_history->exec({"CREATE TABLE C (ID INTEGER PRIMARY KEY, NOME VARCHAR(20), CODICE BIGINT, NATO DATE)"});
        m_history->dsc("RECORD,C,Clienti,1\nCAMPO,ID,Id,LONG,6\nCAMPO,NOME,Nome,TEXT,20\nCAMPO,CODICE,Codice,DOUBLE,20\n"
                       "CAMPO,NATO,Nato il,DATE\nINDICE,PrimaryKey,+ID,-1,-1\nSTORIA,1\n");
        saveThroughNorvix(m_history->conn, m_history->folder(), "C",
                          {{0, {"ID", "1", "NOME", "uno", "CODICE", "123456789012345678", "NATO", "29/02/2024"}},
                           {1, {"NOME", "due"}}, {0, {"ID", "2", "NOME", "tre"}}, {1, {}}});
        m_history->exec({"UPDATE NORVIX_STORIA SET QUANDO = '2026-01-0' || ID || 'T10:00:00.000Z'"});
    }

    // Every command answers --help on standard output, without a display.
    void help_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("says");
        QTest::newRow("norvix") << QStringList{"--help"} << QByteArray("norvix dsc dump");
        QTest::newRow("dsc") << QStringList{"dsc", "--help"} << QByteArray("norvix dsc import");
        QTest::newRow("dsc dump") << QStringList{"dsc", "dump", "--help"} << QByteArray("--password-file FILE");
        QTest::newRow("dsc import") << QStringList{"dsc", "import", "-h"} << QByteArray("NORVIX_DSC_PASSWORD");
        QTest::newRow("dsc export") << QStringList{"dsc", "export", "X", "--help"} << QByteArray("norvix dsc export");
        QTest::newRow("edit") << QStringList{"edit", "--help"} << QByteArray("--print-last-inserted");
        QTest::newRow("dsc lint") << QStringList{"dsc", "lint", "--help"} << QByteArray("--json");
        QTest::newRow("dsc index") << QStringList{"dsc", "index", "--help"} << QByteArray("--all");
        QTest::newRow("dsc scaffold") << QStringList{"dsc", "scaffold", "--help"} << QByteArray("--connection STR");
        QTest::newRow("migrate") << QStringList{"migrate", "--help"} << QByteArray("--descriptors");
        QTest::newRow("history") << QStringList{"history", "--help"} << QByteArray("--since DATA");
    }

    void help()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, says);
        const Run r = norvix(args);
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.contains(says) && r.out.contains("Codici di uscita") && r.err.isEmpty(), r.out.constData());
    }

    // The text, the databases imported from it (plain and sealed) and a Jet file give the same trees.
    // The password also comes from a file (its first line) or the environment.
    void everySourceGivesTheSameTree()
    {
        QTemporaryDir dir;
        const QString text = dir.filePath("text"), db = dir.filePath("db"), sealed = dir.filePath("sealed");
        for (const QString &d : {text, db, sealed})
            QVERIFY(QDir().mkpath(d));
        TestUtil::writeFile(text + "/files.dsc", kText);
        const QString pw = dir.filePath("pw");
        TestUtil::writeFile(pw, "chiave segreta\r\naltro\n");
        QCOMPARE(norvix({"dsc", "import", text + "/files.dsc", db + "/dsc.mdb"}).code, 0);
        QCOMPARE(norvix({"dsc", "import", text + "/files.dsc", sealed + "/dsc.mdb", "--password-file", pw}).code, 0);
        for (const char *record : {"CLIENTI", "TIPI", "ULTIMO"}) {
            for (const QString &d : {text, db, sealed}) {
                // In the current folder; a password only for the sealed one, where it must be given.
                const Run r = norvix({"dsc", "dump", record}, d, false, d == sealed ? "chiave segreta" : QString());
                QCOMPARE(r.code, 0);
                QCOMPARE(parsed(r), treeOf(kText, record));
            }
        }
        // The folder and the password as options; the record named in any letter case; its detail shown.
        const QJsonObject clienti = parsed(norvix({"dsc", "dump", "--dsc", sealed, "--password=chiave segreta", "clienti"}));
        QCOMPARE(clienti, treeOf(kText, "CLIENTI"));
        QCOMPARE(QJsonDocument(clienti.value("Dettagli").toArray()).toJson(QJsonDocument::Compact),
                 R"([{"CampiFiglio":["CLIENTE"],"CampiPadre":["CODICE"],"Colonne":["ANNO","NUMERO"],"Figlio":"ORDINI",)"
                 R"("Numero":1,"Pagina":2,"Titolo":"Ordini del cliente"}])");
        const Run exported = norvix({"dsc", "export", sealed + "/dsc.mdb", "--password", "chiave segreta"});
        QCOMPARE(exported.code, 0);
        QCOMPARE(QString::fromUtf8(exported.out), splitDscLines(decodeDscText(kText)).join(u'\n') + u'\n');

        TestUtil::copyData("legacy/dsc_jet4_pw.mdb", dir.path(), "dsc.mdb");
        const Run jet = norvix({"dsc", "dump", "--dsc", dir.path(), "--password", "Segreto1", "ORDINI"});
        QCOMPARE(jet.code, 0);
        QCOMPARE(parsed(jet), treeOf(TestUtil::readData("legacy/files.dsc"), "ORDINI"));
        const Run jetText = norvix({"dsc", "export", TestUtil::dataPath("legacy/dsc_jet4.mdb")});
        QCOMPARE(jetText.code, 0);
        QCOMPARE(jetText.out, TestUtil::readData("legacy/files.dsc"));
    }

    // Every failure exits non-zero and says on standard error why; the editor's start-up
    // failures end the program without a window waiting.
    void failures_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("says");
        const auto row = [](const char *name, const QStringList &args, int code, const char *says) {
            QTest::newRow(name) << args << code << QByteArray(says);
        };
        row("no descriptors", {"dsc", "dump", "--dsc", "{empty}", "X"}, 1, "Dsc non trovato");
        row("record not described", {"dsc", "dump", "--dsc", "{dir}", "NESSUNO"}, 1, "record NESSUNO non è descritto");
        row("a broken line", {"dsc", "dump", "--dsc", "{broken}", "T"}, 2, "files.dsc, riga 3");
        row("no password", {"dsc", "dump", "--dsc", "{sealed}", "T"}, 2, "protetto da password");
        row("wrong password", {"dsc", "export", "{sealed}/dsc.mdb", "--password", "sbagliata"}, 2, "Password errata");
        row("seal removed", {"dsc", "export", "{sealed}/tolto.mdb", "--password", "chiave"}, 2, "non è sigillato");
        row("unreadable password file", {"dsc", "dump", "--password-file", "{empty}/pw", "X"}, 2, "password");
        row("missing database", {"dsc", "export", "{empty}/assente.mdb"}, 2, "assente.mdb");
        row("no record named", {"dsc", "dump"}, 2, "dsc dump vuole RECORD");
        row("unknown option", {"dsc", "dump", "--nope", "X"}, 2, "opzione sconosciuta --nope");
        row("no dsc command", {"dsc"}, 2, "manca il comando dsc");
        row("unknown command", {"frobnicate"}, 2, "comando sconosciuto");
        row("edit: key and new", {"edit", "--key", "1", "--new", "X"}, 2, "--key e --new si escludono");
        row("edit: missing settings", {"edit", "--settings", "{dir}/nessuno.ini", "CLIENTI"}, 2, "nessuno.ini");
        row("edit: missing database", {"edit", "--db", "{dir}/manca.db", "CLIENTI"}, 2, "manca.db");
        row("edit: database from settings", {"edit", "--settings", "{dir}/norvix.ini", "CLIENTI"}, 2,
            "da_impostazioni.db");
        row("edit: options over settings", {"edit", "--settings", "{dir}/norvix.ini", "--db", "{dir}/o.db", "CLIENTI"},
            2, "o.db");
        row("edit: table not found", {"edit", "--db", "{dir}/altro.db", "CLIENTI"}, 1,
            "Tabella CLIENTI non trovata nel database");
        row("lint: findings", {"dsc", "lint", "--db", "{dir}/anagrafica.db", "--dsc", "{dir}", "CLIENTI"}, 1,
            "files.dsc:15: CLIENTI.NOME: la tabella CLIENTI non ha la colonna NOME");
        row("lint: no database named", {"dsc", "lint", "--dsc", "{dir}"}, 2, "serve --db FILE o --connection STR");
        row("migrate: wrong password", {"migrate", "{dir}/access2000_password.mdb", "--db", "{dir}/nuovo.db", "--password",
                                        "x"}, 2, "Password errata per il database");
        row("migrate: a table there already", {"migrate", "{dir}/access97_sample.mdb", "--db", "{dir}/tabelle.db"}, 1,
            "La tabella Table3 esiste già");
        row("migrate: no target", {"migrate", "{dir}/access97_sample.mdb"}, 2, "migrate vuole FILE.mdb e --db FILE");
        row("scaffold: table not found", {"dsc", "scaffold", "--db", "{dir}/anagrafica.db", "NESSUNA"}, 1,
            "Tabella NESSUNA non trovata");
        row("lint: missing database", {"dsc", "lint", "--db", "{dir}/manca.db", "--dsc", "{dir}"}, 2, "manca.db non esiste");
        row("history: missing database", {"history", "--db", "{dir}/manca.db", "C"}, 2, "manca.db non esiste");
        row("history: none kept", {"history", "--db", "{dir}/nessuna_storia.db", "T"}, 1, "nessuna storia per T");
        row("history: not a date", {"history", "--db", "{dir}/nessuna_storia.db", "--since", "31/02/2026", "T"}, 2,
            "--since vuole una data");
        row("lint: no descriptors", {"dsc", "lint", "--db", "{dir}/anagrafica.db", "--dsc", "{empty}"}, 2,
            "Dsc non trovato");
    }

    // A new row saved in the program, the database numbering it: its key printed on closing, and
    // its history naming the user given.
    void editPrintsTheKeyInserted()
    {
        QTemporaryDir dir;
        TestUtil::createSqlite(dir.filePath("d.db"), {"CREATE TABLE T (A INTEGER PRIMARY KEY, B VARCHAR(9))",
                                                      "INSERT INTO T (B) VALUES ('uno')"});
        TestUtil::writeFile(dir.filePath("files.dsc"), "RECORD,T,T,1\nSTORIA,1\nCAMPO,A,A,LONG,6\nCAMPO,B,B,TEXT,9\nINDICE,PK,+A,-1,-1\n");
        const Run r = norvix({"edit", "--db", dir.filePath("d.db"), "--dsc", dir.path(), "--new", "--print-last-inserted",
                              "--user", "mario", "T"},
                             QString(), true, QString(), "TxtText2=due;CmdButton1;CmdButton4");
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(r.out, "2\n");
        const Run h = norvix({"history", "--db", dir.filePath("d.db"), "--json", "T"});
        QVERIFY2(h.out.contains("\"user\":\"mario\""), h.out.constData());
    }

    // Lint's findings as JSON, and a clean lint.
    void lintJson()
    {
        Run r = norvix({"dsc", "lint", "--db", m_dir.filePath("anagrafica.db"), "--dsc", m_dir.path(), "--json", "CLIENTI"});
        QCOMPARE(r.code, 1);
        const QJsonArray findings = parsed(r).value("findings").toArray();
        QVERIFY(!findings.isEmpty());
        const QJsonObject first = findings.first().toObject();
        QCOMPARE(first.value("record").toString(), QStringLiteral("CLIENTI"));
        QCOMPARE(first.value("field").toString(), QStringLiteral("NOME"));
        QCOMPARE(first.value("line").toInt(), 15);
        QCOMPARE(first.value("code").toString(), QStringLiteral("missing-column"));
        r = norvix({"dsc", "lint", "--db", m_dir.filePath("altro.db"), "--dsc", m_dir.path(), "ALTRO"});
        QCOMPARE(r.code, 1); // not described: a finding
        QTemporaryDir clean;
        TestUtil::writeFile(clean.filePath("files.dsc"), "RECORD,ALTRO,Altro,1\nCAMPO,A,A,LONG,6\nINDICE,PrimaryKey,+A,-1,-1\n");
        const QString db = clean.filePath("100%25 d.db"); // a name, not percent-encoded
        TestUtil::createSqlite(db, {"CREATE TABLE ALTRO (A INTEGER PRIMARY KEY)"});
        r = norvix({"dsc", "lint", "--db", db, "--dsc", clean.path()});
        QCOMPARE(r.code, 0);
        QVERIFY2(r.err.isEmpty() && r.out.isEmpty(), r.err.constData());
    }

    // dsc index makes the description search index of a large lookup (of a small one too with
    // --all) and finds it there the next time; a read-only database or a record the descriptors
    // lack makes nothing. Lint, which writes nothing, hints the index until it is made.
    void indexCommand()
    {
        QTemporaryDir dir;
        const QString db = dir.filePath("d.db");
        TestUtil::createSqlite(db, TestUtil::kLookupTables);
        TestUtil::writeFile(dir.filePath("files.dsc"), TestUtil::kLookupDsc);
        const QStringList on{"--db", db, "--dsc", dir.path()};
        const auto lintCodes = [&] {
            QStringList codes;
            for (const auto &f : parsed(norvix(QStringList{"dsc", "lint", "--json"} + on)).value("findings").toArray())
                codes << f.toObject().value("field").toString() + u' ' + f.toObject().value("code").toString();
            return codes;
        };
        const QByteArray untouched = TestUtil::readFile(db);
        QCOMPARE(lintCodes(), QStringList{"ART lookup-search-index"});
        QCOMPARE(TestUtil::readFile(db), untouched);
        const QList<std::tuple<QStringList, int, QByteArray, QByteArray>> runs{
            {{"--connection", "sqlite://" + db + "?QSQLITE_OPEN_READONLY", "--dsc", dir.path()}, 2, "", "sola lettura"},
            {on + QStringList{"ORDINI", "NESSUNO"}, 1, "", "non hanno il record NESSUNO"},
            {on + QStringList{"ORDINI"}, 0, "ARTICOLI (NOME): indice creato\n", ""},
            {on + QStringList{"--all"}, 0, "ARTICOLI (NOME): già presente\nCOLORI (NOME): indice creato\n", ""}};
        for (const auto &[args, code, out, err] : runs) {
            const Run r = norvix(QStringList{"dsc", "index"} + args);
            QCOMPARE(r.code, code);
            QCOMPARE(r.out, out);
            QVERIFY2(r.err.contains(err), r.err.constData());
        }
        QCOMPARE(lintCodes(), QStringList());
    }

    // The history of a table's rows, newest first with its deletions, or of one row's (its key's
    // values typed for their columns), from a moment on; with the descriptor's captions.
    void history_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QByteArray>("line");
        const QStringList all{"Eliminato 1", "Inserito 2", "Modificato 1", "Inserito 1"};
        QTest::newRow("table") << QStringList{} << 0 << all << QByteArray("\tModificato\t1\tNOME\tuno\tdue\n");
        QTest::newRow("one row, described") << QStringList{"--dsc", "{dsc}", "--key", "1"} << 0
                                            << QStringList{"Eliminato 1", "Modificato 1", "Inserito 1"}
                                            << QByteArray("\tmario\tInserito\t1\tNato il\t\t29/02/2024\n");
        QTest::newRow("since") << QStringList{"--since", "2026-01-02T12:00:00Z"} << 0 << all.mid(0, 2) << QByteArray();
        QTest::newRow("since: none") << QStringList{"--since", "05/01/2026"} << 1 << QStringList() << QByteArray();
        QTest::newRow("a row without") << QStringList{"--key", "9"} << 1 << QStringList() << QByteArray();
        QTest::newRow("a key too long") << QStringList{"--dsc", "{dsc}", "--key", "1,2"} << 2 << QStringList()
                                        << QByteArray();
    }

    void history()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QStringList, entries);
        QFETCH(QByteArray, line);
        args.replaceInStrings("{dsc}", m_history->folder());
        const Run r = norvix(QStringList{"history", "--db", m_history->folder() + "/dati.db", "C"} + args);
        QCOMPARE(r.code, code);
        QCOMPARE(entriesOf(r), entries);
        QVERIFY2(r.out.contains(line), r.out.constData());
        const QString newest = QDateTime(QDate(2026, 1, 4), QTime(10, 0), Qt::UTC).toLocalTime().toString("dd/MM/yyyy HH:mm:ss");
        QVERIFY(code != 0 || r.out.contains('\n' + newest.toUtf8() + "\tmario\tEliminato\t1\t"));
    }

    // As JSON Lines, the values as stored: an 18-digit number whole. Read a page at a time, the
    // same entries whatever the page.
    void historyJson()
    {
        const Run r = norvix({"history", "--db", m_history->folder() + "/dati.db", "C", "--json"});
        QCOMPARE(r.code, 0);
        QByteArray paged;
        QCOMPARE(printHistory(*m_history->conn, {"C", {}, {}, {}, true, 1, {}}, [&](const QByteArray &b) { paged += b; }), 4);
        QCOMPARE(paged, r.out);
        const QList<QByteArray> lines = r.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 4);
        for (const QByteArray &line : lines)
            QVERIFY2(QJsonDocument::fromJson(line).isObject(), line.constData());
        const QVariantMap inserted = parseHistoryJson(QString::fromUtf8(lines.last())).value_or(QVariant()).toMap();
        QCOMPARE(inserted.value("fields").toMap().value("CODICE"), QVariant(qint64(123456789012345678)));
        QCOMPARE(inserted.value("key"), QVariant(QVariantList{qint64(1)}));
        QCOMPARE(inserted.value("action").toString() + inserted.value("user").toString() + inserted.value("when").toString(),
                 QStringLiteral("Imario2026-01-01T10:00:00.000Z"));
    }

    // The trigger of docs/history.md records what other programs change on PostgreSQL, once and
    // as Norvix records its own changes (not again): norvix history reads both alike.
    void historyTrigger()
    {
        TestUtil::Backend b(QStringLiteral("postgresql"));
        const QString doc = QString::fromUtf8(TestUtil::readFile(NORVIX_TEST_DATA "/../../docs/history.md"));
        const auto sql = QRegularExpression("```sql\n(.*?)```", QRegularExpression::DotMatchesEverythingOption).match(doc);
        QVERIFY(sql.hasMatch());
        b.exec({"CREATE TABLE clienti (codice integer PRIMARY KEY, nome varchar(40), fido numeric(12,2))", sql.captured(1),
                "INSERT INTO clienti VALUES (12, 'Rossi', 1500.00)", "UPDATE clienti SET fido = 2750.50 WHERE codice = 12",
                "UPDATE clienti SET nome = nome", "SET norvix.utente = 'batch'", "DELETE FROM clienti"});
        b.dsc("RECORD,CLIENTI,Clienti,1\nCAMPO,CODICE,Codice,LONG,6\nCAMPO,NOME,Nome,TEXT,40\nCAMPO,FIDO,Fido,DOUBLE,12\n"
              "INDICE,PrimaryKey,+CODICE,-1,-1\nSTORIA,1\n");
        saveThroughNorvix(b.open("application_name=norvix"), b.folder(), "CLIENTI", {{0, {"CODICE", "13", "NOME", "Bianchi"}}});
        const Run r = norvix({"history", "--connection", b.connection, "--dsc", b.folder(), "CLIENTI", "--json"});
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.contains(R"("fields":{"fido": [1500.00, 2750.50]})"), r.out.constData()); // as stored
        QStringList entries;
        for (const QByteArray &line : r.out.trimmed().split('\n')) {
            const QVariantMap e = parseHistoryJson(QString::fromUtf8(line)).value_or(QVariant()).toMap();
            entries << QStringList{e.value("action").toString(), e.value("user").toString(),
                                   QJsonDocument::fromVariant(e.value("key")).toJson(QJsonDocument::Compact),
                                   QJsonDocument::fromVariant(e.value("fields")).toJson(QJsonDocument::Compact)}
                           .join(u' ');
        }
        QCOMPARE(entries, (QStringList{R"(I mario [13] {"CODICE":13,"FIDO":null,"NOME":"Bianchi"})",
                                       R"(D batch [12] {"codice":12,"fido":"2750.50","nome":"Rossi"})",
                                       R"(U norvix [12] {"fido":["1500.00","2750.50"]})",
                                       R"(I norvix [12] {"codice":12,"fido":"1500.00","nome":"Rossi"})"}));
    }

    // A migration says what it copied: one table and one row in the singular, in either language.
    void migrateCounts()
    {
        QTemporaryDir dir;
        for (const auto &[lang, says] : {std::pair{"it", "1 tabella copiata in %1 (1 riga)"}, {"en", "1 table copied to %1 (1 row)"}}) {
            const QString target = dir.filePath(QStringLiteral("%1.db").arg(lang));
            const Run r = norvix({"migrate", TestUtil::dataPath("realdata/fixedNumericTestV2003.mdb"), "--db", target, "--lang", lang});
            QCOMPARE(r.code, 0);
            QCOMPARE(QString::fromUtf8(r.err).trimmed(), QString::fromUtf8(says).arg(target));
        }
    }

    void failures()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QByteArray, says);
        for (QString &a : args)
            a.replace("{empty}", m_empty.path()).replace("{dir}", m_dir.path()).replace("{broken}", m_broken.path())
                .replace("{sealed}", m_sealed.path());
        const auto files = [&] {
            return QDir(m_empty.path()).entryList(QDir::Files) + QDir(m_dir.path()).entryList(QDir::Files);
        };
        const QStringList before = files();
        const QByteArray untouched = TestUtil::readFile(m_dir.filePath("nessuna_storia.db"));
        const Run r = norvix(args, QString(), true);
        QCOMPARE(r.code, code);
        QVERIFY2(r.err.contains(says) && !r.err.contains("sbagliata"), r.err.constData());
        QVERIFY(r.out.isEmpty());
        QCOMPARE(files(), before); // nothing created by reading
        QCOMPARE(TestUtil::readFile(m_dir.filePath("nessuna_storia.db")), untouched); // nor changed
    }
};

QTEST_GUILESS_MAIN(TstDscCli)
#include "tst_dsccli.moc"
