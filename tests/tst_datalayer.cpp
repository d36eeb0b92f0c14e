// The data layer on SQLite and PostgreSQL: the keyed cursor with its optimistic saves and the
// refusals it reports, and the record list read a page at a time.

#include "backends.h"
#include "platform/lookupquery.h"
#include "platform/lookupsearch.h"
#include "editor/lookupsearcher.h"
#include "editor/recordlist.h"
#include "editor/search.h"
#include "platform/recordset.h"

#include <QAbstractItemModelTester>
#include <QRandomGenerator>
#include <QSignalSpy>

#include <map>

using namespace Norvix;
using TestUtil::Backend;
using TestUtil::backends;
using TestUtil::errorOf;

namespace {

constexpr int kBigRows = 14'000; // 140 pages: more than the list keeps
constexpr int kMediumRows = 450; // a little over four pages, as in "libera"
constexpr int kGuessedRows = 12'000; // more than a list counts at once, as in "stima"
const QString kPaged = "(grp INTEGER NOT NULL, code VARCHAR(20) NOT NULL, descr VARCHAR(40), PRIMARY KEY (grp, code))";

std::unique_ptr<Recordset> cursor(Backend &db, const QString &table, const QStringList &keys = {},
                                  CursorIntent intent = CursorIntent::Change,
                                  const QList<QPair<QString, QVariant>> &equals = {})
{
    return std::make_unique<Recordset>(db.conn, RecordSource{table, equals}, keys, intent);
}

// Rows from..to of a kPaged table: a key whose text part mixes letter cases (so the database's
// collation decides the order), and some NULL descriptions.
void fill(Backend &db, const QString &table, int from, int to, const std::shared_ptr<Connection> &on = nullptr)
{
    db.exec({QStringLiteral("INSERT INTO %1 (grp, code, descr) WITH RECURSIVE s(n) AS (SELECT %2 UNION ALL "
                            "SELECT n + 1 FROM s WHERE n < %3) SELECT n % 7, CASE WHEN n % 3 = 0 THEN 'C' ELSE 'c' "
                            "END || n, CASE WHEN n % 11 = 0 THEN NULL ELSE 'riga ' || n END FROM s")
                 .arg(table).arg(from).arg(to)},
            on);
}

// The lines a list of `table` must show, read directly in the order of `keys`: the key values
// (when `shown`) in brackets, then the description.
struct Expected { QList<QVariantList> keys; QStringList lines; };
Expected expected(Backend &db, const QString &table, const QString &keys, bool shown = true)
{
    Expected e;
    const int count = int(keys.count(u',')) + 1;
    const auto text = [](const QVariant &v) { return v.isNull() ? QString() : v.toString(); };
    for (const QVariantList &row : db.rows(QStringLiteral("SELECT %1, descr FROM %2 ORDER BY %1").arg(keys, table))) {
        QString line;
        for (int i = 0; i < count; ++i)
            line += u'[' + text(row[i]) + u']';
        e.keys << row.mid(0, count);
        e.lines << (shown ? line + u' ' : QString()) + text(row[count]);
    }
    return e;
}

} // namespace

class TstDataLayer : public QObject
{
    Q_OBJECT

    std::map<QString, std::unique_ptr<Backend>> m_lists;

    // One database per back end for the list cases that only read.
    Backend &lists(const QString &backend)
    {
        auto &db = m_lists[backend];
        if (db)
            return *db;
        db = std::make_unique<Backend>(backend);
        db->exec({"CREATE TABLE voci (codice VARCHAR(20) PRIMARY KEY, anno INTEGER, nato DATE, quando TIMESTAMP, "
                  "fido NUMERIC(16,4), attivo BOOLEAN, peso DOUBLE PRECISION, descr VARCHAR(40))",
                  "INSERT INTO voci VALUES ('c''d \"e\"', 7, '1999-12-31', '2020-02-29 23:59:58', -0.5, FALSE, -2.5, "
                  "'Verdi'), ('a]b', 2024, '2001-05-12', '2001-05-12 10:30:00', 1234.56, TRUE, 0.1, 'Rossi'), "
                  "('d', NULL, NULL, NULL, 12345678901.2345, NULL, NULL, 'Neri'), "
                  "('b,c', NULL, NULL, NULL, 10, NULL, NULL, NULL)",
                  "CREATE TABLE grande " + kPaged, "CREATE TABLE vuota (k INTEGER PRIMARY KEY, descr VARCHAR(40))",
                  // Key columns that may be NULL, with NULLs right at page boundaries in both orders.
                  "CREATE TABLE nulli (a INTEGER, b VARCHAR(20), descr VARCHAR(20))",
                  "INSERT INTO nulli (a, b, descr) WITH RECURSIVE s(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM s "
                  "WHERE n < 900) SELECT CASE WHEN n % 3 = 0 THEN NULL ELSE n % 2 END, CASE WHEN n <= 3 THEN NULL "
                  "ELSE 'b' || (1000 + n) END, 'n' || n FROM s",
                  "CREATE TABLE libera (descr VARCHAR(20))",
                  "INSERT INTO libera (descr) WITH RECURSIVE s(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM s "
                  "WHERE n < 450) SELECT 'l' || n FROM s",
                  // Statistics taken before the first 1000 rows went: they guess too many.
                  "CREATE TABLE stima (k INTEGER PRIMARY KEY, descr VARCHAR(20))",
                  "INSERT INTO stima (k, descr) WITH RECURSIVE s(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM s "
                  "WHERE n < 12000) SELECT n, 's' || n FROM s",
                  "ANALYZE stima", "DELETE FROM stima WHERE k <= 1000"});
        fill(*db, "grande", 1, kBigRows);
        return *db;
    }

    // One database per back end for the searches: names with accents and characters that
    // patterns give a meaning to, amounts and dates around the bounds searched.
    std::map<QString, std::unique_ptr<Backend>> m_searchable;
    Backend &searchable(const QString &backend)
    {
        auto &db = m_searchable[backend];
        if (db)
            return *db;
        db = std::make_unique<Backend>(backend);
        db->exec({"CREATE TABLE CLIENTI (CODICE INTEGER PRIMARY KEY, NOME VARCHAR(40), PROV VARCHAR(2), "
                  "FIDO NUMERIC(12,2), NATO DATE)",
                  "INSERT INTO CLIENTI VALUES (1, NULL, 'RM', NULL, NULL), (2, 'Perché srl', 'MI', 70000.5, '1931-05-02'), "
                  "(3, 'città di Roma', 'RM', 70000.51, '1932-01-01'), (4, '100% sconto', 'TO', 99999, NULL), "
                  "(5, 'a_b', NULL, NULL, NULL), (6, '1000 axb', 'MI', 59999.99, '1932-01-02'), "
                  "(7, 'O''Brien!', 'NA', 0, NULL), (8, 'semi;colon', NULL, NULL, NULL), "
                  "(9, 'back\\slash', NULL, NULL, NULL), (10, 'Zeta', NULL, NULL, '2000-02-29')"});
        return *db;
    }

private slots:
    void cleanupTestCase()
    {
        m_lists.clear();
        m_searchable.clear();
    }

    // ---- searches --------------------------------------------------------------------------

    void searchTypes_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QVariantList>("found"); // codes, in the order of the name then the code
        const QList<std::tuple<const char *, const char *, const char *, const char *, QVariantList>> cases{
            {"accented capitals", "LIKE", "NOME", "PERCHÉ", {2}},
            {"percent is literal", "LIKE", "NOME", "100%", {4}},
            {"underscore is literal", "LIKE", "NOME", "a_b", {5}},
            {"quote and bang", "LIKE", "NOME", "O'BRIEN!", {7}},
            {"semicolon", "LIKE", "NOME", ";", {8}},
            {"backslash", "LIKE", "NOME", "\\", {9}},
            {"star is a wildcard", "LIKE", "NOME", "r*ma", {3}},
            {"starts with", "INIZIA", "NOME", "ZET", {10}},
            {"starts with, not contains", "INIZIA", "NOME", "roma", {}},
            {"equal", "=", "CODICE", "3", {3}},
            {"lookup code in any case", "=", "PROV", "mi", {6, 2}},
            {"lookup item", "=", "PROV", "[MI] Milano", {6, 2}},
            {"at least, on the boundary", ">=", "FIDO", "70000,5", {4, 2, 3}},
            {"at most, on the boundary", "<=", "FIDO", "70000,5", {6, 7, 2}},
            {"date from", ">=", "NATO", "01/01/1932", {6, 10, 3}},
            {"date up to", "<=", "NATO", "01/01/1932", {2, 3}},
            {"empty finds all, where the database sorts NULL", "LIKE", "NOME", "", {}},
        };
        for (const char *backend : {"sqlite", "postgresql"})
            for (const auto &[name, type, field, typed, found] : cases)
                QTest::addRow("%s %s", backend, name) << QString::fromLatin1(backend) << QString::fromLatin1(type)
                                                      << QString::fromLatin1(field) << QString::fromUtf8(typed) << found;
    }
    void searchTypes()
    {
        QFETCH(QString, backend);
        QFETCH(QString, type);
        QFETCH(QString, field);
        QFETCH(QString, typed);
        QFETCH(QVariantList, found);
        Backend &db = searchable(backend);
        SearchLayout layout;
        layout.inputs << SearchField{field, field.toLower(), type, field == u"PROV" ? "CMBBOUNDED" : "", nullptr};
        layout.shown = {{"NOME", "Nome", ""}, {"FIDO", "Fido", "0.00"}, {"NATO", "Nato", ""}, {"PROV", "Prov.", ""}};
        const auto table = tableInfo(*db.conn, "CLIENTI");
        RecordListModel results(db.conn, "CLIENTI", {"CODICE"}, searchFilter(*db.conn, *table, layout, {typed}));
        QTRY_VERIFY(results.isCounted());
        QVariantList codes;
        for (int row = 0; row < results.rowCount(); ++row)
            codes << results.keyAt(row).value(0).toInt();
        if (typed.isEmpty())
            for (const QVariantList &row : db.rows("SELECT CODICE FROM CLIENTI ORDER BY NOME, CODICE"))
                found << row.value(0).toInt();
        QCOMPARE(codes, found);
    }

    // What a search shows: captions, values in their pictures, and errors that name the field.
    void searchResultsAndErrors_data() { backends(); }
    void searchResultsAndErrors()
    {
        QFETCH(QString, backend);
        Backend &db = searchable(backend);
        const auto table = tableInfo(*db.conn, "CLIENTI");
        SearchLayout layout;
        layout.inputs << SearchField{"FIDO", "Fido", ">=", "", nullptr} << SearchField{"NATO", "Nato", "<=", "", nullptr};
        layout.shown = {{"NOME", "Ragione sociale", ""}, {"FIDO", "Fido", "0.00"}, {"NATO", "Nato", ""}};
        RecordListModel results(db.conn, "CLIENTI", {"CODICE"}, searchFilter(*db.conn, *table, layout, {"59999,99", ""}));
        QTRY_VERIFY(results.isCounted());
        QCOMPARE(results.columnCount(), 3);
        QCOMPARE(results.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Ragione sociale"));
        QCOMPARE(results.rowCount(), 4);
        QCOMPARE(results.data(results.index(0, 0)).toString(), QStringLiteral("100% sconto"));
        QCOMPARE(results.data(results.index(1, 1)).toString(), QStringLiteral("59999,99"));
        QCOMPARE(results.data(results.index(2, 1)).toString(), QStringLiteral("70000,50"));
        QCOMPARE(results.data(results.index(3, 2)).toString(), QStringLiteral("01/01/1932"));
        QCOMPARE(results.keyAt(3), QVariantList{3});
        for (const QStringList &typed : {QStringList{"molti", ""}, QStringList{"", "31/02/2020"}}) {
            const auto error = TestUtil::thrownBy<DataError>([&] { searchFilter(*db.conn, *table, layout, typed); });
            QVERIFY(error && error->number() == DataError::ConversionFailed);
            QVERIFY2(error->description().contains(typed[0].isEmpty() ? "Nato" : "Fido"), qPrintable(error->description()));
        }
        // A search that the model gives up interrupts its reader and reports nothing.
        { RecordListModel gone(db.conn, "CLIENTI", {"CODICE"}, searchFilter(*db.conn, *table, layout, {"", ""})); }
    }

    // ---- the cursor -------------------------------------------------------------------------

    void movesFindsAndBookmarks_data() { backends(); }
    void movesFindsAndBookmarks()
    {
        QFETCH(QString, backend);
        Backend db(backend);
        db.exec({"CREATE TABLE righe (anno INTEGER NOT NULL, codice VARCHAR(20) NOT NULL, descr VARCHAR(40), "
                 "PRIMARY KEY (anno, codice))"});
        QCOMPARE(errorOf([&] { cursor(db, "RIGHE")->field("DESCR"); }), int(DataError::NoCurrentRow)); // empty
        const auto walk = [](Recordset &rs) {
            QStringList seen;
            for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext())
                seen << rs.value("descr").toString();
            return seen;
        };
        db.exec({"INSERT INTO righe VALUES (2024, 'b', 'B'), (2023, 'z', 'Z'), (2024, 'a', 'A'), (2025, 'a', 'C'), "
                 "(2022, 'O''Brien', 'Q'), (2026, ']', 'R')"});
        auto rs = cursor(db, "RIGHE", {"ANNO", "CODICE"}, CursorIntent::Read);
        QCOMPARE(walk(*rs), QStringList({"Q", "Z", "A", "B", "C", "R"}));
        QCOMPARE(errorOf([&] { rs->MoveNext(); }), int(DataError::NoCurrentRow));
        rs->MovePrevious(); // from the end back onto the last row
        rs->MovePrevious();
        QCOMPARE(rs->value("descr").toString(), u"C");
        rs->MoveFirst();
        rs->MovePrevious();
        QCOMPARE(errorOf([&] { rs->MovePrevious(); }), int(DataError::NoCurrentRow)); // before the first
        rs->MoveLast();
        QCOMPARE(rs->Bookmark(), QVariantList({2026, "]"}));

        // Find goes forward from the current row, by equal values only.
        rs->MoveFirst();
        QVERIFY(rs->Find({{"anno", "2026"}, {"codice", "]"}}));
        const QVariantList mark = rs->Bookmark();
        QVERIFY(!rs->Find({{"codice", "O'Brien"}}));
        QVERIFY(rs->Eof());
        rs->setBookmark(mark);
        QCOMPARE(rs->value("descr").toString(), u"R");
        QCOMPARE(errorOf([&] { rs->setBookmark({1999, "nessuno"}); }), int(DataError::NoCurrentRow));

        // Without key columns the rows still come in one stable order; a narrowed source sees its rows only.
        QCOMPARE(walk(*cursor(db, "righe")).size(), 6);
        QCOMPARE(walk(*cursor(db, "righe", {"anno", "codice"}, CursorIntent::Read, {{"anno", "2024"}})),
                 QStringList({"A", "B"}));
    }

    void changesOfOthersAreNotOverwritten_data() { backends(); }
    void changesOfOthersAreNotOverwritten()
    {
        QFETCH(QString, backend);
        Backend db(backend);
        db.exec({"CREATE TABLE clienti (codice INTEGER PRIMARY KEY, nome VARCHAR(40), prov VARCHAR(2), nato DATE, "
                 "fido NUMERIC(14,4), attivo BOOLEAN, note TEXT, peso DOUBLE PRECISION)",
                 "INSERT INTO clienti VALUES (1, 'Uno', 'MI', '2001-05-12', 10.5, TRUE, NULL, 0.1), "
                 "(2, 'Due', NULL, NULL, NULL, NULL, NULL, NULL)"});
        auto other = db.open();
        auto rs = cursor(db, "clienti", {"codice"});
        db.exec({"UPDATE clienti SET peso = 2 WHERE codice = 1"}, other); // a column far from the key
        rs->setValue("nome", "Mio");
        QCOMPARE(errorOf([&] { rs->Update(); }), int(DataError::RowChanged));
        QCOMPARE(errorOf([&] { rs->CancelUpdate(); rs->Delete(); }), int(DataError::RowChanged));
        const QString first = "SELECT nome, peso FROM clienti WHERE codice = 1";
        QCOMPARE(db.rows(first), QList<QVariantList>({{"Uno", 2.0}}));

        // Read again, the row can be changed: what was read, of every kind, matches what is stored
        // (its NULL note too).
        rs->MoveFirst();
        rs->setValue("nome", "Mio");
        rs->Update();
        rs->setValue("prov", ""); // saved again: the cursor holds what it stored; an empty text is NULL
        rs->Update();
        QCOMPARE(db.rows(first), QList<QVariantList>({{"Mio", 2.0}}));
        QVERIFY(db.scalar("SELECT prov FROM clienti WHERE codice = 1").isNull());

        // A row deleted meanwhile is not brought back.
        rs->MoveLast();
        db.exec({"DELETE FROM clienti WHERE codice = 2"}, other);
        rs->setValue("nome", "Risorto");
        QCOMPARE(errorOf([&] { rs->Update(); }), int(DataError::RowChanged));
        QCOMPARE(db.scalar("SELECT COUNT(*) FROM clienti").toInt(), 1);

        // Deleting the current row, then moving on.
        db.exec({"INSERT INTO clienti (codice, nome) VALUES (5, 'Cinque')"});
        rs->MoveFirst();
        rs->Delete();
        QCOMPARE(errorOf([&] { rs->value("nome"); }), int(DataError::NoCurrentRow));
        rs->MoveNext();
        QCOMPARE(rs->value("nome").toString(), u"Cinque");
    }

    // A row the database refuses is reported with the number that tells the case apart, the
    // columns concerned and, for a foreign key, the other table; nothing is written, and the row
    // keeps what was set for another try.
    void refusals_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("table");
        QTest::addColumn<QStringList>("change"); // column, value...; none: the row is deleted
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("refusal"); // columns, other table
        for (const char *backend : {"sqlite", "postgresql"}) {
            const auto row = [&](const char *name, const char *table, const QStringList &change, int number,
                                 const char *refusal = "") {
                QTest::addRow("%s %s", backend, name) << backend << table << change << number << refusal;
            };
            row("new row, duplicate key", "soci", {"new", "ID", "1", "NOME", "Tre"}, DataError::IntegrityViolation);
            row("new row, duplicate in a unique index", "soci", {"new", "ID", "3", "NOME", "Due"},
                DataError::IntegrityViolation);
            row("saved row, duplicate key", "soci", {"ID", "2"}, DataError::DuplicatePrimary);
            row("saved row, duplicate in a unique index", "soci", {"NOME", "Due"}, DataError::DuplicateUnique);
            row("saved row, key that is a unique index", "chiavi", {"k", "B"}, DataError::DuplicatePrimary);
            row("saved row, another unique index", "chiavi", {"n", "2"}, DataError::DuplicateUnique);
            row("not null", "soci", {"new", "ID", "3", "Nome", ""}, DataError::NotNullViolation, "NOME");
            row("check", "soci", {"new", "ID", "3", "NOME", "Tre", "quota", "-1"}, DataError::CheckViolation, "QUOTA");
            row("foreign key", "soci", {"new", "ID", "3", "NOME", "Tre", "prov", "XX"}, DataError::ForeignKeyViolation,
                "PROV prov");
            row("row referred to, deleted", "prov", {}, DataError::ForeignKeyViolation, "soci");
        }
    }
    void refusals()
    {
        QFETCH(QString, backend);
        QFETCH(QString, table);
        QFETCH(QStringList, change);
        QFETCH(int, number);
        QFETCH(QString, refusal);
        Backend db(backend);
        db.exec({"CREATE TABLE prov (sigla VARCHAR(2) PRIMARY KEY)", "INSERT INTO prov VALUES ('MI')",
                 "CREATE TABLE soci (ID INTEGER PRIMARY KEY, NOME VARCHAR(20) NOT NULL UNIQUE, QUOTA NUMERIC(10,2) "
                 "CONSTRAINT quota_positiva CHECK (QUOTA >= 0), PROV VARCHAR(2) REFERENCES prov)",
                 "INSERT INTO soci VALUES (1, 'Uno', 5, 'MI'), (2, 'Due', 5, 'MI')",
                 "CREATE TABLE chiavi (k VARCHAR(20) NOT NULL UNIQUE, n INTEGER UNIQUE)",
                 "INSERT INTO chiavi VALUES ('A', 1), ('B', 2)"});
        const auto stored = [&] {
            return db.rows("SELECT * FROM soci ORDER BY ID") + db.rows("SELECT * FROM prov")
                   + db.rows("SELECT * FROM chiavi");
        };
        const auto before = stored();
        auto rs = cursor(db, table, {table == u"chiavi" ? "k" : table == u"soci" ? "ID" : "sigla"});
        const bool adding = change.value(0) == u"new"; // a new row; otherwise the first row changes
        if (adding)
            rs->AddNew();
        for (int i = adding ? 1 : 0; i + 1 < change.size(); i += 2)
            rs->setValue(change[i], change[i + 1]);
        const auto error = TestUtil::thrownBy<DataError>([&] { change.isEmpty() ? rs->Delete() : rs->Update(); });
        QVERIFY(error);
        QCOMPARE(error->number(), number);
        // PostgreSQL spells the columns in lower case.
        QCOMPARE((error->columns().join(u',').toUpper() + u' ' + error->otherTable()).trimmed(), refusal);
        QCOMPARE(stored(), before);
        if (!change.isEmpty()) {
            QCOMPARE(rs->editMode(), adding ? EditMode::Add : EditMode::InProgress);
            QCOMPARE(rs->value(change[change.size() - 2]).toString(), change.last());
        }
    }

    // ---- the record list --------------------------------------------------------------------

    // Every line of a table, in order, however the view moves: forwards and backwards across page
    // boundaries and by jumps, with pages dropped and read again as the cache turns over.
    void walks_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("table");
        QTest::addColumn<QStringList>("keys");
        for (const char *backend : {"sqlite", "postgresql"}) {
            QTest::addRow("%s primary key", backend) << backend << "grande" << QStringList{};
            QTest::addRow("%s keys with NULLs", backend) << backend << "nulli" << QStringList{"a", "b"};
            QTest::addRow("%s natural order", backend) << backend << "libera" << QStringList{};
        }
    }
    void walks()
    {
        QFETCH(QString, backend);
        QFETCH(QString, table);
        QFETCH(QStringList, keys);
        Backend &db = lists(backend);
        const QString natural = db.sqlite ? "rowid" : "ctid";
        const Expected want = expected(db, table, table == u"grande" ? "grp, code" : keys.isEmpty() ? natural : "a, b",
                                       !keys.isEmpty());
        const int rows = int(want.lines.size());
        const auto right = [&](RecordListModel &model, int row) {
            return model.lineAt(row) == want.lines[row] && model.keyAt(row) == want.keys[row]
                   && model.cachedPages() <= RecordListModel::kMaxPages;
        };
        RecordListModel forwards(db.conn, table, keys, "descr");
        QTRY_VERIFY(forwards.isCounted());
        QCOMPARE(forwards.rowCount(), rows);
        for (int row = 0; row < rows; ++row)
            QVERIFY2(right(forwards, row), qPrintable(QStringLiteral("forwards, row %1").arg(row)));
        for (int row = rows - 1; row >= 0; row -= 7) // the first pages were dropped and come back
            QVERIFY2(right(forwards, row), qPrintable(QStringLiteral("back again, row %1").arg(row)));

        RecordListModel backwards(db.conn, table, keys, "descr");
        QTRY_VERIFY(backwards.isCounted());
        for (int row = rows - 1; row >= 0; --row)
            QVERIFY2(right(backwards, row), qPrintable(QStringLiteral("backwards, row %1").arg(row)));

        RecordListModel jumps(db.conn, table, keys, "descr");
        QTRY_VERIFY(jumps.isCounted());
        QRandomGenerator random(20240611);
        for (int i = 0; i < 400; ++i) {
            // Mostly far jumps, sometimes a step onto a neighbouring page in either direction.
            int row = random.bounded(rows);
            if (i % 3 == 1)
                row = qBound(0, row + (random.bounded(2) ? 1 : -1) * RecordListModel::kPageSize, rows - 1);
            QVERIFY2(right(jumps, row), qPrintable(QStringLiteral("jump %1 to row %2").arg(i).arg(row)));
            if (i % 4 == 0) // NULL key parts too are found where the database sorts them
                QCOMPARE(jumps.rowOfKey(want.keys[row]), row);
        }
    }

    void countLinesAndRowOfKey_data() { backends(); }
    void countLinesAndRowOfKey()
    {
        QFETCH(QString, backend);
        Backend &db = lists(backend);
        // A table of a few pages is counted at once. A larger one shows as many lines as the
        // database guesses (its statistics, here out of date) until the count puts them right.
        RecordListModel medium(db.conn, "libera", {}, "descr");
        QVERIFY(medium.isCounted() && medium.rowCount() == kMediumRows);
        RecordListModel guessed(db.conn, "stima", {}, "descr");
        QAbstractItemModelTester tester(&guessed, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy removed(&guessed, &QAbstractItemModel::rowsRemoved);
        QVERIFY(!guessed.isCounted() && guessed.rowCount() == kGuessedRows);
        QTRY_VERIFY(guessed.isCounted());
        QCOMPARE(guessed.rowCount(), kGuessedRows - 1000);
        QCOMPARE(removed.size(), 1);
        QCOMPARE(guessed.lineAt(kGuessedRows - 1001), QStringLiteral("s%1").arg(kGuessedRows));
        RecordListModel empty(db.conn, "vuota", {}, "descr");
        QVERIFY(empty.isCounted() && empty.rowCount() == 0 && empty.rowOfKey({1}) == -1);

        // Values of each kind as the editor shows them, NULL parts empty; each key finds its line.
        RecordListModel voci(db.conn, "VOCI", {"codice", "nato", "quando", "fido", "attivo", "peso"}, "Descr");
        const QStringList lines{"[a]b][12/05/2001][12/05/2001 10:30:00][1234,56][True][0,1] Rossi",
                                "[b,c][][][10][][] ",
                                "[c'd \"e\"][31/12/1999][29/02/2020 23:59:58][-0,5][False][-2,5] Verdi",
                                "[d][][][12345678901,2345][][] Neri"};
        QVERIFY(voci.isCounted() && voci.rowCount() == lines.size());
        for (int row = 0; row < lines.size(); ++row) {
            QCOMPARE(voci.data(voci.index(row, 0)).toString(), lines[row]);
            QCOMPARE(voci.rowOfKey(voci.data(voci.index(row, 0), RecordListModel::KeyRole).toList()), row);
        }

        // Asked before the count is in, for a line far past the first page: the lines grow to hold it.
        const Expected want = expected(db, "grande", "grp, code");
        RecordListModel model(db.conn, "grande", {"grp", "code"}, QString());
        QAbstractItemModelTester bigTester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(model.rowOfKey(want.keys[9000]), 9000);
        QVERIFY(model.rowCount() > 9000);
        QTRY_VERIFY(model.isCounted());
        QCOMPARE(model.rowCount(), kBigRows);
        for (const int row : {0, 199, 200, 7001, 10'457, kBigRows - 1})
            QCOMPARE(model.rowOfKey(want.keys[row]), row);
        for (int row = 8900; row < 9100; ++row) // the pages read to find a line hold the right lines
            QCOMPARE(model.lineAt(row), want.lines[row].section(u' ', 0, 0));
        // Keys no row has: between two rows, past the last, of another shape, with a NULL.
        for (const QVariantList &key : {QVariantList{want.keys[500][0], want.keys[500][1].toString() + u'x'},
                                        QVariantList{99, "zzz"}, want.keys[5].mid(0, 1), {QVariant(), "c1"}})
            QCOMPARE(model.rowOfKey(key), -1);
    }

    // A paint never waits: a line whose page is far from any page read shows empty, and its page
    // arrives from the event loop (on SQLite read by a reader of its own), painted again then.
    void paintedLinesArriveLater_data() { backends(); }
    void paintedLinesArriveLater()
    {
        QFETCH(QString, backend);
        Backend &db = lists(backend);
        const Expected want = expected(db, "grande", "grp, code");
        RecordListModel model(db.conn, "grande", {"grp", "code"}, "descr");
        QTRY_VERIFY(model.isCounted());
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        const int far = kBigRows / 2 - 50; // the farthest from both ends
        QVERIFY(!model.data(model.index(far, 0)).isValid());
        QTRY_COMPARE(model.data(model.index(far, 0)).toString(), want.lines[far]);
        QVERIFY(!changed.isEmpty() && changed.last().at(0).toModelIndex().row() <= far
                && changed.last().at(1).toModelIndex().row() >= far);
        QCOMPARE(model.lineAt(far + 1), want.lines[far + 1]);
    }

    void refreshShowsChangesOfOthers_data() { backends(); }
    void refreshShowsChangesOfOthers()
    {
        QFETCH(QString, backend);
        Backend db(backend);
        db.exec({"CREATE TABLE grande " + kPaged});
        fill(db, "grande", 1, kMediumRows);
        auto other = db.open();
        RecordListModel model(db.conn, "grande", {"grp", "code"}, "descr");
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QTRY_VERIFY(model.isCounted());
        for (int row = 0; row < model.rowCount(); ++row)
            model.lineAt(row); // every page cached

        // Someone else deletes rows and adds some that sort first and last.
        db.exec({"DELETE FROM grande WHERE grp = 3", "INSERT INTO grande VALUES (-1, 'n', 'prima'), (99, 'n', 'dopo')"},
                other);
        fill(db, "grande", 1000, 1300, other);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        model.refresh();
        QCOMPARE(reset.size(), 1);
        QTRY_VERIFY(model.isCounted());
        QStringList lines;
        for (int row = 0; row < model.rowCount(); ++row)
            lines << model.lineAt(row);
        QCOMPARE(lines, expected(db, "grande", "grp, code").lines);

        // A refresh before the first count ran: one count, of the table as it is now.
        RecordListModel quick(db.conn, "grande", {}, "descr");
        QAbstractItemModelTester quickTester(&quick, QAbstractItemModelTester::FailureReportingMode::QtTest);
        db.exec({"DELETE FROM grande WHERE grp = 4"}, other);
        quick.refresh();
        QTRY_VERIFY(quick.isCounted());
        QCOMPARE(quick.rowCount(), db.scalar("SELECT COUNT(*) FROM grande").toInt());
    }

    // Typed digits find the integer codes written with them, in the key's order, through ranges
    // of the index: the same rows as matching the codes' text would give.
    void lookupCodesByDigits_data() { backends(); }
    void lookupCodesByDigits()
    {
        QFETCH(QString, backend);
        Backend db(backend);
        const QList<qint64> codes{-4, 0, 4, 5, 40, 49, 499, 4999, 49990, 49999, 50000, 499999, 4999999999,
                                  9223372036854775806};
        db.exec({"CREATE TABLE NUMERI (CODICE BIGINT PRIMARY KEY, NOME VARCHAR(20))"});
        for (qint64 code : codes)
            db.exec({QStringLiteral("INSERT INTO NUMERI VALUES (%1, 'n%1')").arg(code)});
        LookupQuery query{db.conn, tableInfo(*db.conn, "NUMERI"), {"CODICE"}, {"NOME"}, std::nullopt};
        for (const char *typed : {"4", "49", "4999", "0", "00", "5", "9223372036854775806", "99999999999999999999", "-4",
                                  "-", "4a"}) {
            const QString prefix = QString::fromLatin1(typed);
            for (const int limit : {3, 50}) {
                QStringList want;
                for (qint64 code : codes)
                    if (QString::number(code).startsWith(prefix) && want.size() < limit)
                        want << QStringLiteral("[%1] n%1").arg(code);
                QCOMPARE(lookupItems(query, limit, prefix), want);
            }
        }

        // Text codes typed with their letter case: the codes that start so, in the key's order.
        const QStringList texts{"A", "AB", "AB-1", "AB1", "ABC", "Ab", "B", "a", "ab", "\u00e8", "\u00e8z", "Z\U0010FFFF"};
        db.exec({"CREATE TABLE SIGLE (COD VARCHAR(8) PRIMARY KEY, NOME VARCHAR(20))"});
        db.conn->call([&] {
            for (const QString &code : texts)
                TestUtil::runSql(db.conn->database(), "INSERT INTO SIGLE VALUES (?, ?)", {code, "s" + code});
        });
        QStringList inOrder = texts; // byte by byte, as SQLite and the C collation sort
        std::sort(inOrder.begin(), inOrder.end(), [](const QString &a, const QString &b) { return a.toUtf8() < b.toUtf8(); });
        LookupQuery sigle{db.conn, tableInfo(*db.conn, "SIGLE"), {"COD"}, {"NOME"}, std::nullopt};
        for (const QString prefix : {"A", "AB", "ab", "AB-", "\u00e8", "Z", "Z\U0010FFFF", "C"}) {
            QStringList want;
            for (const QString &code : std::as_const(inOrder))
                if (code.startsWith(prefix))
                    want << QStringLiteral("[%1] s%1").arg(code);
            QCOMPARE(lookupItems(sigle, 50, prefix, true), want);
        }
    }
    // What a text typed into a lookup finds, best first, with the search index and without it,
    // as the index is kept by writes to the table; a dependent lookup only inside its source's rows.
    void lookupSearchFindsCodesThenDescriptions_data() { backends<bool>("indexed", {{"scan", false}, {"index", true}}); }
    void lookupSearchFindsCodesThenDescriptions()
    {
        QFETCH(QString, backend);
        QFETCH(bool, indexed);
        Backend db(backend);
        db.exec({"CREATE TABLE TRACCE (ID INTEGER PRIMARY KEY, NOME VARCHAR(60))",
                 "INSERT INTO TRACCE VALUES (1, 'Balls to the Wall'), (2, 'Fast As a Shark'), (3, 'Restless and Wild'), "
                 "(4, 'Balls'), (5, 'PERCHÉ sì'), (12, 'Perché no'), (120, 'Wall of Sound'), (1212, 'Princess of the Dawn'), "
                 "(6, 'Nuovo 15'), (7, 'Nuovo 1%')",
                 "CREATE TABLE COMUNI (PROV VARCHAR(2), COD VARCHAR(3), NOME VARCHAR(30), PRIMARY KEY (PROV, COD))",
                 "INSERT INTO COMUNI VALUES ('MI', '001', 'Milano'), ('MI', '002', 'Monza'), ('TO', '001', 'Torino'), "
                 "('TO', '003', 'Moncalieri')"});
        LookupQuery tracce{db.conn, tableInfo(*db.conn, "TRACCE"), {"ID"}, {"NOME"}, std::nullopt};
        LookupQuery comuni{db.conn, tableInfo(*db.conn, "COMUNI"), {"PROV", "COD"}, {"NOME"}, QVariant("TO")};
        if (indexed)
            for (const LookupQuery &q : {tracce, comuni})
                createLookupIndex(*db.conn, lookupIndex(*db.conn, q));
        QCOMPARE(lookupIndex(*db.conn, tracce).present, indexed);
        const auto codes = [](const LookupQuery &q, const QString &text, int limit = 50) {
            const LookupMatches m = searchLookup(q, text, limit);
            QStringList found;
            for (const LookupRow &row : m.rows)
                found << row.code;
            return found.join(u' ') + (m.more ? QStringLiteral(" +") : QString());
        };
        const QList<std::tuple<const LookupQuery *, const char *, const char *>> cases{
            {&tracce, "1", "1 12 120 1212"},              // the exact code first, then the key's order
            {&tracce, "12", "12 120 1212"},
            {&tracce, "balls", "4 1"},                    // descriptions that start so, by description
            {&tracce, "wall", "120 1"},                   // then those that contain it
            {&tracce, "  WALL   balls ", "1"},            // every word, in any order, any case
            {&tracce, "perché", "12 5"},                  // accented letters folded too
            {&tracce, "PERCHÉ NO", "12"},
            {&tracce, "sh", ""},                          // two letters: only at the start
            {&tracce, "sha", "2"},                        // three: anywhere
            {&tracce, "of the", "1212"},                  // a short word with a longer one
            {&tracce, "uovo 1%", "7"},                    // % is no wildcard
            {&tracce, "zz", ""},
            {&comuni, "00", "001 003"},                   // only the source's rows
            {&comuni, "mon", "003"},
            {&comuni, "milano", ""},
        };
        for (const auto &[query, text, want] : cases)
            QVERIFY2(codes(*query, QString::fromUtf8(text)) == QString::fromLatin1(want), text);
        QCOMPARE(codes(tracce, "1", 2), u"1 12 +");
        QCOMPARE(codes(tracce, "wall", 1), u"120 +");
        QCOMPARE(codes(tracce, QString(), 3), u"1 2 3 +");

        // Writes by any program keep the index in step.
        db.exec({"UPDATE TRACCE SET NOME = 'Balls Deep' WHERE ID = 2", "DELETE FROM TRACCE WHERE ID = 4",
                 "INSERT INTO TRACCE VALUES (9, 'Deep Purple')", "UPDATE TRACCE SET ID = 8 WHERE ID = 3"});
        QCOMPARE(codes(tracce, "balls"), u"2 1");
        QCOMPARE(codes(tracce, "deep"), u"9 2");
        QCOMPARE(codes(tracce, "restless"), u"8");
    }

    // The newest search wins: one still running is interrupted (here a search that would never
    // end), and only the newest one's rows are told.
    void lookupSearcherInterruptsOlderSearches_data() { backends(); }
    void lookupSearcherInterruptsOlderSearches()
    {
        QFETCH(QString, backend);
        Backend db(backend);
        db.exec({"CREATE TABLE ZONE (COD VARCHAR(4) PRIMARY KEY, NOME VARCHAR(20))", "INSERT INTO ZONE VALUES ('N', 'Nord')",
                 "CREATE VIEW SENZAFINE AS WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) "
                 "SELECT x AS COD, 'n' || CAST(x AS VARCHAR(20)) AS NOME FROM c"});
        LookupSearcher searcher;
        QList<QPair<QString, QStringList>> told;
        connect(&searcher, &LookupSearcher::found, this, [&](QObject *, const QString &text, const LookupMatches &m, bool ok) {
            QStringList items;
            for (const LookupRow &row : m.rows)
                items << row.item;
            told.append({ok ? text : QStringLiteral("failed"), items});
        });
        const auto in = [&](const char *table) { return LookupQuery{db.conn, tableInfo(*db.conn, table), {"COD"}, {"NOME"}, {}}; };
        searcher.search(this, in("SENZAFINE"), "mai", 10);
        QTest::qWait(100); // it runs
        searcher.search(this, in("ZONE"), "nor", 10);
        QTRY_VERIFY(!searcher.busy());
        QCOMPARE(told, (QList<QPair<QString, QStringList>>{{"nor", {"[N] Nord"}}}));
        searcher.search(this, in("SENZAFINE"), "mai", 10);
        QTest::qWait(50); // and one left running ends with the searcher
    }

    // One reader per database: files named without a connection string of their own are each
    // searched in their own rows.
    void lookupSearcherReadsEachDatabase()
    {
        QTemporaryDir dir;
        LookupSearcher searcher;
        QStringList told;
        connect(&searcher, &LookupSearcher::found, this, [&](QObject *, const QString &, const LookupMatches &m, bool ok) {
            told << (ok && !m.rows.isEmpty() ? m.rows.first().item : QStringLiteral("none"));
        });
        for (const QString name : {"nord.db", "sud.db"}) {
            TestUtil::createSqlite(dir.filePath(name), {"CREATE TABLE ZONE (COD VARCHAR(4) PRIMARY KEY, NOME VARCHAR(20))",
                                                        "INSERT INTO ZONE VALUES ('Z', '" + name + "')"});
            const auto c = Connection::open(QString(), dir.path(), name, Access::ReadOnly);
            searcher.search(this, LookupQuery{c, tableInfo(*c, "ZONE"), {"COD"}, {"NOME"}, {}}, "Z", 10);
            QTRY_VERIFY(!searcher.busy());
        }
        QCOMPARE(told, (QStringList{"[Z] nord.db", "[Z] sud.db"}));
    }
};

QTEST_GUILESS_MAIN(TstDataLayer)
#include "tst_datalayer.moc"
