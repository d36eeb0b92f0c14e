#include "descriptor/prossimovalore.h"
#include "pgtest.h"
#include "platform/recordset.h"
#include "testutil.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

using namespace Norvix;
using TestUtil::backends;

namespace {

using Criteria = QList<QPair<QString, QVariant>>;

// A fresh, empty database of one back end, with the tables every case uses.
class Db
{
public:
    explicit Db(const QString &backend)
    {
        if (backend == u"sqlite") {
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
        exec({"CREATE TABLE clienti (codice INTEGER PRIMARY KEY, nome VARCHAR(40) UNIQUE, prov VARCHAR(2), nato DATE, "
              "fido NUMERIC(14,4), attivo BOOLEAN, note TEXT, peso DOUBLE PRECISION)",
              "CREATE TABLE righe (anno INTEGER NOT NULL, codice VARCHAR(20) NOT NULL, descr VARCHAR(40), PRIMARY KEY (anno, codice))",
              "CREATE TABLE chiavi (k VARCHAR(20) NOT NULL UNIQUE, n INTEGER UNIQUE, v VARCHAR(10))"});
    }

    void exec(const QStringList &statements, std::shared_ptr<Connection> on = nullptr)
    {
        QSqlQuery q((on ? on : conn)->database());
        for (const QString &s : statements)
            if (!q.exec(s))
                qFatal("%s: %s", qPrintable(s), qPrintable(q.lastError().text()));
    }

    QVariant scalar(const QString &sql)
    {
        QSqlQuery q(conn->database());
        if (!q.exec(sql) || !q.next())
            qFatal("%s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
        return q.value(0);
    }

    std::unique_ptr<Recordset> open(const QString &table, QStringList keys = {}, CursorIntent intent = CursorIntent::Change,
                                    Criteria equals = {})
    {
        return std::make_unique<Recordset>(conn, RecordSource{table, equals}, keys, intent);
    }

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

QStringList walk(Recordset &rs, const QString &column)
{
    QStringList seen;
    for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext())
        seen << rs.value(column).toString();
    return seen;
}

} // namespace

class TstRecordset : public QObject
{
    Q_OBJECT

private slots:
    void movesAndEnds_data() { backends(); }
    void movesAndEnds()
    {
        QFETCH(QString, backend);
        Db db(backend);
        auto empty = db.open(QStringLiteral("CLIENTI"));
        QVERIFY(empty->Eof());
        QCOMPARE(errorOf([&] { empty->MoveNext(); }), int(DataError::NoCurrentRow));
        QCOMPARE(errorOf([&] { empty->field(QStringLiteral("NOME")); }), int(DataError::NoCurrentRow));

        db.exec({"INSERT INTO righe VALUES (2024, 'b', 'B')", "INSERT INTO righe VALUES (2023, 'z', 'Z')",
                 "INSERT INTO righe VALUES (2024, 'a', 'A')", "INSERT INTO righe VALUES (2025, 'a', 'C')"});
        auto rs = db.open(QStringLiteral("RIGHE"), {QStringLiteral("ANNO"), QStringLiteral("CODICE")}, CursorIntent::Read);
        QCOMPARE(walk(*rs, QStringLiteral("descr")), QStringList({"Z", "A", "B", "C"}));
        QVERIFY(rs->Eof());
        QCOMPARE(errorOf([&] { rs->MoveNext(); }), int(DataError::NoCurrentRow));
        rs->MovePrevious(); // from the end back onto the last row
        QCOMPARE(rs->value(QStringLiteral("descr")).toString(), u"C");
        rs->MovePrevious();
        QCOMPARE(rs->value(QStringLiteral("descr")).toString(), u"B");
        rs->MoveFirst();
        rs->MovePrevious();
        QVERIFY(rs->Bof());
        QCOMPARE(errorOf([&] { rs->MovePrevious(); }), int(DataError::NoCurrentRow));
        rs->MoveNext();
        QCOMPARE(rs->value(QStringLiteral("descr")).toString(), u"Z");
        rs->MoveLast();
        QCOMPARE(rs->Bookmark(), QVariantList({2025, "a"}));

        // Without key columns the rows still come in one stable order.
        auto natural = db.open(QStringLiteral("righe"));
        QCOMPARE(walk(*natural, QStringLiteral("DESCR")).size(), 4);
        // A narrowed source sees its rows only.
        auto narrowed = db.open(QStringLiteral("righe"), {QStringLiteral("anno"), QStringLiteral("codice")}, CursorIntent::Read,
                                {{QStringLiteral("anno"), QStringLiteral("2024")}});
        QCOMPARE(walk(*narrowed, QStringLiteral("descr")), QStringList({"A", "B"}));
    }

    void findAndBookmarks_data() { backends(); }
    void findAndBookmarks()
    {
        QFETCH(QString, backend);
        Db db(backend);
        const QStringList codes{"O'Brien", "a,b", "[x]", "]", "\"q\"", "semplice"};
        for (int i = 0; i < codes.size(); ++i) {
            auto rs = db.open(QStringLiteral("righe"), {QStringLiteral("anno"), QStringLiteral("codice")});
            rs->AddNew();
            rs->setValue(QStringLiteral("anno"), 2000 + i % 2);
            rs->setValue(QStringLiteral("codice"), codes[i]);
            rs->setValue(QStringLiteral("descr"), QStringLiteral("riga %1").arg(i));
            rs->Update();
        }
        auto rs = db.open(QStringLiteral("righe"), {QStringLiteral("anno"), QStringLiteral("codice")});
        for (int i = 0; i < codes.size(); ++i) {
            rs->MoveFirst();
            QVERIFY2(rs->Find({{QStringLiteral("ANNO"), QString::number(2000 + i % 2)}, {QStringLiteral("codice"), codes[i]}}),
                     qPrintable(codes[i]));
            QCOMPARE(rs->value(QStringLiteral("descr")).toString(), QStringLiteral("riga %1").arg(i));
        }
        // Find goes forward from the current row: behind it, nothing is found.
        rs->MoveLast();
        const QVariantList last = rs->Bookmark();
        QVERIFY(!rs->Find({{QStringLiteral("codice"), QStringLiteral("O'Brien")}}));
        QVERIFY(rs->Eof());
        rs->setBookmark(last);
        QCOMPARE(rs->Bookmark(), last);
        rs->MoveFirst();
        QVERIFY(rs->Find({{QStringLiteral("codice"), QStringLiteral("]")}}));
        const QVariantList mark = rs->Bookmark();
        rs->MoveFirst();
        rs->setBookmark(mark);
        QCOMPARE(rs->value(QStringLiteral("codice")).toString(), u"]");
        QCOMPARE(errorOf([&] { rs->setBookmark({1999, "nessuno"}); }), int(DataError::NoCurrentRow));
    }

    void valuesRoundTrip_data() { backends(); }
    void valuesRoundTrip()
    {
        QFETCH(QString, backend);
        Db db(backend);
        auto rs = db.open(QStringLiteral("clienti"), {QStringLiteral("codice")});
        rs->AddNew();
        rs->setValue(QStringLiteral("codice"), QStringLiteral("1"));
        rs->setValue(QStringLiteral("nome"), QStringLiteral("Rossi & figli"));
        rs->setValue(QStringLiteral("prov"), QString());             // empty input: NULL
        rs->setValue(QStringLiteral("nato"), QStringLiteral("12/05/2001"));
        rs->setValue(QStringLiteral("fido"), QStringLiteral("1.234,5678"));
        rs->setValue(QStringLiteral("attivo"), QStringLiteral("True"));
        rs->setValue(QStringLiteral("peso"), QStringLiteral("0,1"));
        QCOMPARE(rs->editMode(), EditMode::Add);
        rs->Update();
        QCOMPARE(rs->editMode(), EditMode::None);

        auto again = db.open(QStringLiteral("clienti"), {QStringLiteral("codice")}, CursorIntent::Read);
        QVERIFY(again->value(QStringLiteral("prov")).isNull());
        QVERIFY(again->value(QStringLiteral("note")).isNull());
        QCOMPARE(again->value(QStringLiteral("nato")).toDate(), QDate(2001, 5, 12));
        QCOMPARE(again->field(QStringLiteral("fido")).Type, ColumnKind::Decimal);
        // Decimals come back exactly: as the server's own text, or as the double SQLite stores.
        if (backend == u"postgresql")
            QCOMPARE(again->value(QStringLiteral("fido")).toString(), u"1234.5678");
        else
            QCOMPARE(again->value(QStringLiteral("fido")).toDouble(), 1234.5678);
        QCOMPARE(again->value(QStringLiteral("peso")).toDouble(), 0.1);
        QVERIFY(again->field(QStringLiteral("attivo")).isBoolean());
        QCOMPARE(again->value(QStringLiteral("attivo")), QVariant(true));

        // An empty text written directly stays empty, distinct from NULL.
        db.exec({"UPDATE clienti SET note = '' WHERE codice = 1"});
        again->MoveFirst();
        QVERIFY(!again->value(QStringLiteral("note")).isNull());
        QCOMPARE(again->value(QStringLiteral("note")).toString(), QString(""));

        // A saved row can be saved again unchanged: the values read compare equal to those stored.
        auto change = db.open(QStringLiteral("clienti"), {QStringLiteral("codice")});
        change->setValue(QStringLiteral("nome"), QStringLiteral("Rossi"));
        change->Update();
        change->setValue(QStringLiteral("nome"), QStringLiteral("Rossi di nuovo"));
        change->Update();
        QCOMPARE(db.scalar(QStringLiteral("SELECT nome FROM clienti")).toString(), u"Rossi di nuovo");

        QCOMPARE(errorOf([&] { change->setValue(QStringLiteral("nato"), QStringLiteral("31/02/2001")); }),
                 int(DataError::ConversionFailed));
        QCOMPARE(errorOf([&] { change->setValue(QStringLiteral("fido"), QStringLiteral("molto")); }),
                 int(DataError::ConversionFailed));
        auto readOnly = db.open(QStringLiteral("clienti"), {}, CursorIntent::Read);
        QVERIFY(errorOf([&] { readOnly->setValue(QStringLiteral("nome"), QStringLiteral("x")); }) != 0);
    }

    void duplicateKeys_data() { backends(); }
    void duplicateKeys()
    {
        QFETCH(QString, backend);
        Db db(backend);
        db.exec({"INSERT INTO clienti (codice, nome) VALUES (1, 'Uno')", "INSERT INTO clienti (codice, nome) VALUES (2, 'Due')",
                 "INSERT INTO chiavi VALUES ('A', 1, 'a')", "INSERT INTO chiavi VALUES ('B', 2, 'b')"});
        auto rs = db.open(QStringLiteral("clienti"), {QStringLiteral("codice")});
        rs->AddNew();
        rs->setValue(QStringLiteral("codice"), 1);
        rs->setValue(QStringLiteral("nome"), QStringLiteral("Tre"));
        QCOMPARE(errorOf([&] { rs->Update(); }), int(DataError::IntegrityViolation));
        QCOMPARE(rs->editMode(), EditMode::Add); // the refused row is still pending
        QCOMPARE(rs->value(QStringLiteral("nome")).toString(), u"Tre");
        rs->setValue(QStringLiteral("codice"), 3);
        rs->Update();
        QCOMPARE(db.scalar(QStringLiteral("SELECT COUNT(*) FROM clienti")).toInt(), 3);

        // On an existing row: the key of the record, or another unique index.
        rs->MoveFirst();
        rs->setValue(QStringLiteral("codice"), 2);
        QCOMPARE(errorOf([&] { rs->Update(); }), int(DataError::DuplicatePrimary));
        rs->CancelUpdate();
        rs->setValue(QStringLiteral("nome"), QStringLiteral("Due"));
        QCOMPARE(errorOf([&] { rs->Update(); }), int(DataError::DuplicateUnique));
        QCOMPARE(db.scalar(QStringLiteral("SELECT nome FROM clienti WHERE codice = 1")).toString(), u"Uno");

        // The record's key may be a unique index rather than the table's primary key.
        auto keyed = db.open(QStringLiteral("chiavi"), {QStringLiteral("k")});
        keyed->setValue(QStringLiteral("k"), QStringLiteral("B"));
        QCOMPARE(errorOf([&] { keyed->Update(); }), int(DataError::DuplicatePrimary));
        keyed->CancelUpdate();
        keyed->setValue(QStringLiteral("n"), 2);
        QCOMPARE(errorOf([&] { keyed->Update(); }), int(DataError::DuplicateUnique));
    }

    void changesBySomeoneElseAreNotOverwritten_data() { backends(); }
    void changesBySomeoneElseAreNotOverwritten()
    {
        QFETCH(QString, backend);
        Db db(backend);
        db.exec({"INSERT INTO clienti (codice, nome, note, fido, nato) VALUES (1, 'Uno', NULL, 10.5, '2001-05-12')",
                 "INSERT INTO clienti (codice, nome) VALUES (2, 'Due')"});
        auto other = Connection::open(db.url);

        auto rs = db.open(QStringLiteral("clienti"), {QStringLiteral("codice")});
        db.exec({"UPDATE clienti SET note = 'altro utente' WHERE codice = 1"}, other);
        rs->setValue(QStringLiteral("nome"), QStringLiteral("Mio"));
        QCOMPARE(errorOf([&] { rs->Update(); }), int(DataError::RowChanged));
        QCOMPARE(db.scalar(QStringLiteral("SELECT nome FROM clienti WHERE codice = 1")).toString(), u"Uno");
        QCOMPARE(db.scalar(QStringLiteral("SELECT note FROM clienti WHERE codice = 1")).toString(), u"altro utente");
        QCOMPARE(errorOf([&] { rs->CancelUpdate(); rs->Delete(); }), int(DataError::RowChanged));
        QCOMPARE(db.scalar(QStringLiteral("SELECT COUNT(*) FROM clienti")).toInt(), 2);

        // Read again, the row can be changed.
        rs->MoveFirst();
        rs->setValue(QStringLiteral("nome"), QStringLiteral("Mio"));
        rs->Update();
        QCOMPARE(db.scalar(QStringLiteral("SELECT note FROM clienti WHERE codice = 1")).toString(), u"altro utente");

        // A row deleted meanwhile is not brought back.
        rs->MoveLast();
        db.exec({"DELETE FROM clienti WHERE codice = 2"}, other);
        rs->setValue(QStringLiteral("nome"), QStringLiteral("Risorto"));
        QCOMPARE(errorOf([&] { rs->Update(); }), int(DataError::RowChanged));
        QCOMPARE(db.scalar(QStringLiteral("SELECT COUNT(*) FROM clienti")).toInt(), 1);

        // Deleting the current row, then moving on.
        db.exec({"INSERT INTO clienti (codice, nome) VALUES (5, 'Cinque')"});
        rs->MoveFirst();
        rs->Delete();
        QCOMPARE(errorOf([&] { rs->value(QStringLiteral("nome")); }), int(DataError::NoCurrentRow));
        rs->MoveNext();
        QCOMPARE(rs->value(QStringLiteral("nome")).toString(), u"Cinque");
        other->Close();
    }

    void hostileNamesNeverReachTheDatabase_data() { backends(); }
    void hostileNamesNeverReachTheDatabase()
    {
        QFETCH(QString, backend);
        Db db(backend);
        const QString drop = QStringLiteral("clienti\"; DROP TABLE righe; --");
        QCOMPARE(errorOf([&] { db.open(drop); }), int(DataError::BadIdentifier));
        QCOMPARE(errorOf([&] { db.open(QStringLiteral("clienti"), {drop}); }), int(DataError::BadIdentifier));
        QCOMPARE(errorOf([&] { db.open(QStringLiteral("clienti"), {}, CursorIntent::Read, {{drop, 1}}); }),
                 int(DataError::BadIdentifier));
        auto rs = db.open(QStringLiteral("clienti"));
        QCOMPARE(errorOf([&] { rs->AddNew(); rs->setValue(drop, 1); }), int(DataError::BadIdentifier));
        QCOMPARE(errorOf([&] { ProssimoValore(drop, RecordSource::wholeTable(QStringLiteral("clienti")), db.url); }),
                 int(DataError::BadIdentifier));
        QCOMPARE(db.scalar(QStringLiteral("SELECT COUNT(*) FROM righe")).toInt(), 0); // still there

        // Names that need quoting work when they are real.
        db.exec({"CREATE TABLE \"strana \"\"tabella\"\"\" (\"la chiave\" INTEGER PRIMARY KEY, \"valore;--\" VARCHAR(10))"});
        auto odd = db.open(QStringLiteral("strana \"tabella\""), {QStringLiteral("la chiave")});
        odd->AddNew();
        odd->setValue(QStringLiteral("la chiave"), 7);
        odd->setValue(QStringLiteral("valore;--"), QStringLiteral("ok"));
        odd->Update();
        QCOMPARE(odd->value(QStringLiteral("valore;--")).toString(), u"ok");
        QCOMPARE(quoteIdentifier(QStringLiteral("a\"b")), u"\"a\"\"b\"");
    }

    void nextValue_data() { backends(); }
    void nextValue()
    {
        QFETCH(QString, backend);
        Db db(backend);
        const auto table = RecordSource::wholeTable(QStringLiteral("CLIENTI"));
        QCOMPARE(ProssimoValore(QStringLiteral("CODICE"), table, db.url), u" 1");
        db.exec({"INSERT INTO clienti (codice, nome) VALUES (41, 'x')", "INSERT INTO clienti (codice, nome) VALUES (-3, 'y')"});
        QCOMPARE(ProssimoValore(QStringLiteral("codice"), table, db.url), u" 42");
        QCOMPARE(ProssimoValore(QStringLiteral("codice"), RecordSource{QStringLiteral("clienti"), {{QStringLiteral("nome"), QStringLiteral("y")}}}, db.url),
                 u"-2");
        db.exec({"INSERT INTO clienti (codice, nome, fido) VALUES (50, 'z', 2.5)"});
        QCOMPARE(ProssimoValore(QStringLiteral("fido"), table, db.url), u" 3.5");
        QVERIFY(errorOf([&] { ProssimoValore(QStringLiteral("codice"), table, db.url + QStringLiteral("_assente")); }) != 0);
    }
};

QTEST_GUILESS_MAIN(TstRecordset)
#include "tst_recordset.moc"
