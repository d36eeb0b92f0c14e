#include "editor/recordlist.h"
#include "pgtest.h"
#include "testutil.h"

#include <QAbstractItemModelTester>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTest>

#include <map>

using namespace Norvix;
using TestUtil::backends;

namespace {

constexpr int kBigRows = 14'000;  // 70 pages: more than the model keeps
constexpr int kMediumRows = 450;  // a little over two pages

// A fresh, empty database of one back end.
class Db
{
public:
    explicit Db(const QString &backend) : sqlite(backend == u"sqlite")
    {
        if (sqlite) {
            const QString file = m_dir.filePath(QStringLiteral("test.db"));
            {
                QSqlDatabase raw = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("create"));
                raw.setDatabaseName(file);
                raw.open();
                QSqlQuery(raw).exec(QStringLiteral("CREATE TABLE seed(x)"));
            }
            QSqlDatabase::removeDatabase(QStringLiteral("create"));
            url = QStringLiteral("sqlite://") + file;
        } else {
            m_pg = std::make_unique<TestUtil::PgDatabase>();
            if (!m_pg->isValid())
                qFatal("PostgreSQL test database: %s", qPrintable(m_pg->error()));
            url = m_pg->url();
        }
        conn = Connection::open(url);
    }

    void exec(const QStringList &statements, const std::shared_ptr<Connection> &on = nullptr)
    {
        QSqlQuery q((on ? on : conn)->database());
        for (const QString &s : statements)
            if (!q.exec(s))
                qFatal("%s: %s", qPrintable(s), qPrintable(q.lastError().text()));
    }

    // Rows 1..count of a table shaped like "grande": a two-column key whose text part mixes letter
    // cases (so the database's collation decides the order), and some NULL descriptions.
    void fill(const QString &table, int from, int to)
    {
        exec({QStringLiteral("INSERT INTO %1 (grp, code, descr) WITH RECURSIVE s(n) AS (SELECT %2 UNION ALL SELECT n + 1 "
                             "FROM s WHERE n < %3) SELECT n %% 7, CASE WHEN n %% 3 = 0 THEN 'C' ELSE 'c' END || n, "
                             "CASE WHEN n %% 11 = 0 THEN NULL ELSE 'riga ' || n END FROM s")
                  .arg(table)
                  .arg(from)
                  .arg(to)
                  .replace(QStringLiteral("%%"), QStringLiteral("%"))});
    }

    // Every row of a query, each as its column values.
    QList<QVariantList> rows(const QString &sql)
    {
        QList<QVariantList> result;
        QSqlQuery q(conn->database());
        q.setForwardOnly(true);
        if (!q.exec(sql))
            qFatal("%s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
        while (q.next()) {
            result << TestUtil::rowValues(q);
        }
        return result;
    }

    const bool sqlite;
    QString url;
    std::shared_ptr<Connection> conn;

private:
    QTemporaryDir m_dir;
    std::unique_ptr<TestUtil::PgDatabase> m_pg;
};

template <typename F>
int errorOf(F &&f)
{
    try {
        f();
    } catch (const DataError &e) {
        return e.number();
    }
    return 0;
}

// The rows a model should list, read directly: keys first, the description last.
struct Expected
{
    QList<QVariantList> keys;
    QStringList lines;
};

// The lines of a table in the order of `keys`; `shown`: the descriptor names those keys, and
// each line starts with them (otherwise a line is only the description).
Expected expected(Db &db, const QString &table, const QString &keys, int keyCount, bool shown = true)
{
    Expected e;
    for (const QVariantList &row : db.rows(QStringLiteral("SELECT %1, descr FROM %2 ORDER BY %1").arg(keys, table))) {
        QString line;
        const auto text = [](const QVariant &v) { return v.isNull() ? QString() : v.toString(); };
        for (int i = 0; i < keyCount; ++i)
            line += u'[' + text(row[i]) + u']';
        e.keys << row.mid(0, keyCount);
        e.lines << (shown ? line + u' ' : QString()) + text(row[keyCount]);
    }
    return e;
}

} // namespace

class TstRecordList : public QObject
{
    Q_OBJECT

    std::map<QString, std::unique_ptr<Db>> m_shared;

    // One database per back end for the cases that only read.
    Db &shared(const QString &backend)
    {
        auto &db = m_shared[backend];
        if (!db) {
            db = std::make_unique<Db>(backend);
            db->exec({"CREATE TABLE voci (codice VARCHAR(20) PRIMARY KEY, anno INTEGER, nato DATE, quando TIMESTAMP, "
                      "fido NUMERIC(16,4), attivo BOOLEAN, peso DOUBLE PRECISION, descr VARCHAR(40))",
                      "INSERT INTO voci VALUES ('c''d \"e\"', 7, '1999-12-31', '2020-02-29 23:59:58', -0.5, FALSE, -2.5, 'Verdi')",
                      "INSERT INTO voci VALUES ('a]b', 2024, '2001-05-12', '2001-05-12 10:30:00', 1234.56, TRUE, 0.1, 'Rossi')",
                      "INSERT INTO voci VALUES ('d', NULL, NULL, NULL, 12345678901.2345, NULL, NULL, 'Neri')",
                      "INSERT INTO voci VALUES ('b,c', NULL, NULL, NULL, 10, NULL, NULL, NULL)",
                      "CREATE TABLE grande (grp INTEGER NOT NULL, code VARCHAR(20) NOT NULL, descr VARCHAR(40), PRIMARY KEY (grp, code))",
                      "CREATE TABLE media (grp INTEGER NOT NULL, code VARCHAR(20) NOT NULL, descr VARCHAR(40), PRIMARY KEY (grp, code))",
                      "CREATE TABLE vuota (k INTEGER PRIMARY KEY, descr VARCHAR(40))",
                      // Key columns that may be NULL, and NULLs right at page boundaries in both orders.
                      "CREATE TABLE nulli (a INTEGER, b VARCHAR(20), descr VARCHAR(20))",
                      "INSERT INTO nulli (a, b, descr) WITH RECURSIVE s(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM s WHERE n < 900) "
                      "SELECT CASE WHEN n % 3 = 0 THEN NULL ELSE n % 2 END, CASE WHEN n <= 3 THEN NULL ELSE 'b' || (1000 + n) END, "
                      "'n' || n FROM s",
                      "CREATE TABLE libera (descr VARCHAR(20))",
                      "INSERT INTO libera (descr) WITH RECURSIVE s(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM s WHERE n < 450) "
                      "SELECT 'l' || n FROM s"});
            db->fill(QStringLiteral("grande"), 1, kBigRows);
            db->fill(QStringLiteral("media"), 1, kMediumRows);
        }
        return *db;
    }

private slots:
    void cleanupTestCase() { m_shared.clear(); }

    void lines_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QString>("desc");
        QTest::addColumn<QStringList>("lines");
        const QStringList codes{"[a]b]", "[b,c]", "[c'd \"e\"]", "[d]"};
        for (const char *backend : {"sqlite", "postgresql"}) {
            const auto row = [&](const char *name) -> QTestData & {
                return QTest::addRow("%s %s", backend, name) << QString::fromLatin1(backend);
            };
            row("text key and description") << QStringList{"codice"} << "descr"
                                            << QStringList{"[a]b] Rossi", "[b,c] ", "[c'd \"e\"] Verdi", "[d] Neri"};
            row("no description") << QStringList{"CODICE"} << "" << codes;
            row("no key in the descriptor") << QStringList{} << "" << QStringList(4, QString());
            row("only the description") << QStringList{} << "descr" << QStringList{"Rossi", "", "Verdi", "Neri"};
            row("composite key, NULL part") << QStringList{"codice", "anno"} << "descr"
                                            << QStringList{"[a]b][2024] Rossi", "[b,c][] ", "[c'd \"e\"][7] Verdi", "[d][] Neri"};
            row("values of each kind") << QStringList{"codice", "nato", "quando", "fido", "attivo", "peso"} << ""
                                       << QStringList{"[a]b][12/05/2001][12/05/2001 10:30:00][1234,56][True][0,1]",
                                                      "[b,c][][][10][][]",
                                                      "[c'd \"e\"][31/12/1999][29/02/2020 23:59:58][-0,5][False][-2,5]",
                                                      "[d][][][12345678901,2345][][]"};
            row("decimal description") << QStringList{"codice"} << "fido"
                                       << QStringList{"[a]b] 1234,56", "[b,c] 10", "[c'd \"e\"] -0,5", "[d] 12345678901,2345"};
            row("date description") << QStringList{"codice"} << "Nato"
                                    << QStringList{"[a]b] 12/05/2001", "[b,c] ", "[c'd \"e\"] 31/12/1999", "[d] "};
        }
    }
    void lines()
    {
        QFETCH(QString, backend);
        QFETCH(QStringList, keys);
        QFETCH(QString, desc);
        QFETCH(QStringList, lines);
        Db &db = shared(backend);
        RecordListModel model(db.conn, QStringLiteral("VOCI"), keys, desc);
        QVERIFY(model.isCounted()); // one short page: the whole table
        QCOMPARE(model.rowCount(), lines.size());
        QStringList shown;
        for (int row = 0; row < model.rowCount(); ++row) {
            shown << model.data(model.index(row), Qt::DisplayRole).toString();
            QCOMPARE(model.lineAt(row), shown.last());
        }
        QCOMPARE(shown, lines);

        // The key is the values read, whatever they hold, and finds its line again.
        const QStringList codes{"a]b", "b,c", "c'd \"e\"", "d"};
        for (int row = 0; row < model.rowCount(); ++row) {
            const QVariantList key = model.data(model.index(row), RecordListModel::KeyRole).toList();
            QCOMPARE(key, model.keyAt(row));
            QCOMPARE(key.value(0).toString(), codes[row]);
            QCOMPARE(model.rowOfKey(key), row);
        }
        QVERIFY(model.keyAt(lines.size()).isEmpty());
        QVERIFY(model.lineAt(-1).isEmpty());
        QVERIFY(!model.data(model.index(lines.size()), Qt::DisplayRole).isValid());
    }

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
        Db &db = shared(backend);
        const QString order = table == u"grande" ? QStringLiteral("grp, code")
                              : keys.isEmpty()   ? (db.sqlite ? QStringLiteral("rowid") : QStringLiteral("ctid"))
                                                 : keys.join(QStringLiteral(", "));
        const Expected want = expected(db, table, order, int(order.count(u',') + 1), !keys.isEmpty());
        QVERIFY(want.lines.size() > RecordListModel::kPageSize * 2);

        const auto check = [&](RecordListModel &model, int row) {
            QCOMPARE(model.lineAt(row), want.lines[row]);
            QCOMPARE(model.keyAt(row), want.keys[row]);
            QVERIFY(model.cachedPages() <= RecordListModel::kMaxPages);
        };

        RecordListModel forwards(db.conn, table, keys, QStringLiteral("descr"));
        QTRY_VERIFY(forwards.isCounted());
        QCOMPARE(forwards.rowCount(), want.lines.size());
        for (int row = 0; row < want.lines.size(); ++row) {
            check(forwards, row);
            if (QTest::currentTestFailed())
                QFAIL(qPrintable(QStringLiteral("forwards, row %1").arg(row)));
        }
        // Back over the same model: the first pages were dropped and come back.
        for (int row = want.lines.size() - 1; row >= 0; row -= 7) {
            check(forwards, row);
            if (QTest::currentTestFailed())
                QFAIL(qPrintable(QStringLiteral("back again, row %1").arg(row)));
        }
        if (want.lines.size() > RecordListModel::kPageSize * RecordListModel::kMaxPages)
            QCOMPARE(forwards.cachedPages(), RecordListModel::kMaxPages);

        RecordListModel backwards(db.conn, table, keys, QStringLiteral("descr"));
        QTRY_VERIFY(backwards.isCounted());
        for (int row = want.lines.size() - 1; row >= 0; --row) {
            check(backwards, row);
            if (QTest::currentTestFailed())
                QFAIL(qPrintable(QStringLiteral("backwards, row %1").arg(row)));
        }

        RecordListModel jumps(db.conn, table, keys, QStringLiteral("descr"));
        QTRY_VERIFY(jumps.isCounted());
        QRandomGenerator random(20240611);
        for (int i = 0; i < 400; ++i) {
            // Mostly far jumps, sometimes a step onto a neighbouring page in either direction.
            int row = random.bounded(int(want.lines.size()));
            if (i % 3 == 1)
                row = qBound(0, row + (random.bounded(2) ? 1 : -1) * RecordListModel::kPageSize, int(want.lines.size()) - 1);
            check(jumps, row);
            if (QTest::currentTestFailed())
                QFAIL(qPrintable(QStringLiteral("jump %1 to row %2").arg(i).arg(row)));
            if (i % 10 == 0)
                QCOMPARE(jumps.rowOfKey(want.keys[row]), row);
        }
    }

    void countArrivesAfterTheFirstPage_data() { backends(); }
    void countArrivesAfterTheFirstPage()
    {
        QFETCH(QString, backend);
        Db &db = shared(backend);
        RecordListModel model(db.conn, QStringLiteral("media"), {}, QStringLiteral("descr"));
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        // The first page can be shown before the table is counted.
        QVERIFY(!model.isCounted());
        QCOMPARE(model.rowCount(), RecordListModel::kPageSize);
        QCOMPARE(model.lineAt(0), expected(db, QStringLiteral("media"), QStringLiteral("grp, code"), 2, false).lines.value(0));
        QTRY_VERIFY(model.isCounted());
        QCOMPARE(model.rowCount(), kMediumRows);
        QCOMPARE(inserted.size(), 1);
        QCOMPARE(inserted[0][1].toInt(), RecordListModel::kPageSize);
        QCOMPARE(inserted[0][2].toInt(), kMediumRows - 1);

        // An empty table has nothing to count, nor any line.
        RecordListModel empty(db.conn, QStringLiteral("vuota"), {}, QStringLiteral("descr"));
        QVERIFY(empty.isCounted());
        QCOMPARE(empty.rowCount(), 0);
        QVERIFY(empty.keyAt(0).isEmpty());
        QCOMPARE(empty.rowOfKey({1}), -1);
    }

    void rowOfKey_data() { backends(); }
    void rowOfKey()
    {
        QFETCH(QString, backend);
        Db &db = shared(backend);
        const Expected want = expected(db, QStringLiteral("grande"), QStringLiteral("grp, code"), 2);

        // Asked before the count is in, for a line past the first page: the lines grow to hold it.
        RecordListModel model(db.conn, QStringLiteral("grande"), {QStringLiteral("grp"), QStringLiteral("code")}, QString());
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(model.rowCount(), RecordListModel::kPageSize);
        QCOMPARE(model.rowOfKey(want.keys[9000]), 9000);
        QVERIFY(model.isCounted());
        QCOMPARE(model.rowCount(), kBigRows);
        QCOMPARE(model.lineAt(9000), want.lines[9000].section(u' ', 0, 0)); // no description asked

        for (const int row : {0, 199, 200, 7001, 10'457, kBigRows - 1})
            QCOMPARE(model.rowOfKey(want.keys[row]), row);
        // The pages read to find those lines hold the right lines all through.
        for (const int row : {200, 7001, 9000, 10'457, kBigRows - 1}) {
            for (int r = row / RecordListModel::kPageSize * RecordListModel::kPageSize;
                 r < std::min(int(want.lines.size()), (row / RecordListModel::kPageSize + 1) * RecordListModel::kPageSize); ++r) {
                QCOMPARE(model.lineAt(r), want.lines[r].section(u' ', 0, 0));
                QCOMPARE(model.keyAt(r), want.keys[r]);
            }
        }
        // Keys no row has: between two rows, past the last, of another shape.
        QCOMPARE(model.rowOfKey({want.keys[500][0], want.keys[500][1].toString() + u'x'}), -1);
        QCOMPARE(model.rowOfKey({99, QStringLiteral("zzz")}), -1);
        QCOMPARE(model.rowOfKey({want.keys[5][0]}), -1);
        QCOMPARE(model.rowOfKey({QVariant(), QStringLiteral("c1")}), -1);

        // NULL key parts are found where the database sorts them.
        RecordListModel nulls(db.conn, QStringLiteral("nulli"), {QStringLiteral("a"), QStringLiteral("b")}, QString());
        QTRY_VERIFY(nulls.isCounted());
        const Expected wantNulls = expected(db, QStringLiteral("nulli"), QStringLiteral("a, b"), 2);
        for (int row = int(wantNulls.keys.size()) - 1; row >= 0; --row) {
            const QVariantList &key = wantNulls.keys[row];
            if (key[0].isNull() || key[1].isNull() || row % 100 == 0)
                QCOMPARE(nulls.rowOfKey(key), row);
        }
        for (int row = 0; row < wantNulls.keys.size(); ++row)
            QCOMPARE(nulls.keyAt(row), wantNulls.keys[row]);
    }

    void refreshShowsChangesOfOthers_data() { backends(); }
    void refreshShowsChangesOfOthers()
    {
        QFETCH(QString, backend);
        Db db(backend);
        db.exec({"CREATE TABLE grande (grp INTEGER NOT NULL, code VARCHAR(20) NOT NULL, descr VARCHAR(40), PRIMARY KEY (grp, code))"});
        db.fill(QStringLiteral("grande"), 1, kMediumRows);
        auto other = Connection::open(db.url);

        RecordListModel model(db.conn, QStringLiteral("grande"), {QStringLiteral("grp"), QStringLiteral("code")},
                              QStringLiteral("descr"));
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QTRY_VERIFY(model.isCounted());
        for (int row = 0; row < model.rowCount(); ++row)
            model.lineAt(row); // every page cached

        // Someone else deletes rows and adds some that sort first and last.
        db.exec({"DELETE FROM grande WHERE grp = 3", "INSERT INTO grande VALUES (-1, 'nuovo', 'prima')",
                 "INSERT INTO grande VALUES (99, 'nuovo', 'dopo')"},
                other);
        db.fill(QStringLiteral("grande"), 1000, 1300);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        model.refresh();
        QCOMPARE(reset.size(), 1);
        QCOMPARE(model.lineAt(0), u"[-1][nuovo] prima");
        QTRY_VERIFY(model.isCounted());
        const Expected want = expected(db, QStringLiteral("grande"), QStringLiteral("grp, code"), 2);
        QCOMPARE(model.rowCount(), want.lines.size());
        for (int row = 0; row < want.lines.size(); ++row)
            QCOMPARE(model.lineAt(row), want.lines[row]);

        // A refresh before the first count ran: one count, of the table as it is now.
        RecordListModel quick(db.conn, QStringLiteral("grande"), {}, QStringLiteral("descr"));
        QAbstractItemModelTester quickTester(&quick, QAbstractItemModelTester::FailureReportingMode::QtTest);
        db.exec({"DELETE FROM grande WHERE grp = 4"}, other);
        quick.refresh();
        QTRY_VERIFY(quick.isCounted());
        QCOMPARE(quick.rowCount(), want.lines.size() - want.lines.filter(QRegularExpression(QStringLiteral("^\\[4\\]"))).size());

        // Rows deleted between the first page and the count: the lines shrink to the count.
        RecordListModel shrinking(db.conn, QStringLiteral("grande"), {}, QStringLiteral("descr"));
        QAbstractItemModelTester shrinkingTester(&shrinking, QAbstractItemModelTester::FailureReportingMode::QtTest);
        db.exec({"DELETE FROM grande WHERE grp <> 0"}, other);
        QTRY_VERIFY(shrinking.isCounted());
        QCOMPARE(shrinking.rowCount(), int(db.rows(QStringLiteral("SELECT * FROM grande")).size()));
        QVERIFY(shrinking.rowCount() < int(want.lines.size()));
        other->Close();
    }

    void badNamesAndFailedReads_data() { backends(); }
    void badNamesAndFailedReads()
    {
        QFETCH(QString, backend);
        Db db(backend);
        db.exec({"CREATE TABLE voci (codice VARCHAR(20) PRIMARY KEY, descr VARCHAR(40))",
                 "CREATE TABLE grande (grp INTEGER NOT NULL, code VARCHAR(20) NOT NULL, descr VARCHAR(40), PRIMARY KEY (grp, code))",
                 "CREATE TABLE \"strana \"\"t\"\"\" (\"la chiave\" INTEGER PRIMARY KEY, \"valore;--\" VARCHAR(10))",
                 "INSERT INTO \"strana \"\"t\"\"\" VALUES (7, 'ok')"});
        db.fill(QStringLiteral("grande"), 1, kMediumRows);

        // A name the table lacks is refused as a name, never handed to the database.
        const QString drop = QStringLiteral("descr\"; DROP TABLE voci; --");
        const auto open = [&](const QString &table, const QStringList &keys, const QString &desc) {
            return errorOf([&] { std::make_unique<RecordListModel>(db.conn, table, keys, desc); });
        };
        QCOMPARE(open(QStringLiteral("voci"), {}, drop), int(DataError::BadIdentifier));
        QCOMPARE(open(QStringLiteral("voci"), {drop}, QStringLiteral("descr")), int(DataError::BadIdentifier));
        QCOMPARE(open(drop, {}, QStringLiteral("descr")), int(DataError::BadIdentifier));
        QCOMPARE(db.rows(QStringLiteral("SELECT COUNT(*) FROM voci")).value(0).value(0).toInt(), 0); // still there
        // Real names that need quoting work.
        RecordListModel odd(db.conn, QStringLiteral("strana \"t\""), {QStringLiteral("la chiave")}, QStringLiteral("valore;--"));
        QCOMPARE(odd.lineAt(0), u"[7] ok");

        // The table dropped under a list: lines not read yet come out empty; nothing throws.
        RecordListModel model(db.conn, QStringLiteral("grande"), {}, QStringLiteral("descr"));
        QTRY_VERIFY(model.isCounted());
        const QString first = model.lineAt(0);
        const QVariantList firstKey = model.keyAt(0);
        auto other = Connection::open(db.url);
        db.exec({"DROP TABLE grande"}, other);
        other->Close();
        QCOMPARE(model.lineAt(0), first); // still in memory
        QVERIFY(model.lineAt(kMediumRows - 1).isEmpty());
        QVERIFY(model.keyAt(kMediumRows - 1).isEmpty());
        QVERIFY(!model.data(model.index(300), Qt::DisplayRole).isValid());
        QCOMPARE(model.rowOfKey(firstKey), -1);
        model.refresh();
        QVERIFY(model.isCounted());
        QCOMPARE(model.rowCount(), 0);
        // A new list on it says why it has no lines.
        QCOMPARE(open(QStringLiteral("grande"), {}, QStringLiteral("descr")), int(DataError::Generic));
    }
};

QTEST_GUILESS_MAIN(TstRecordList)
#include "tst_recordlist.moc"
