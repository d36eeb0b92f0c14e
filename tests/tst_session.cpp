// One row written through a RowSession, without a window (this program links no widget library):
// typed values, checks, refusals, conflicts and observers, on both back ends, asserted on the
// rows as stored.

#include "backends.h"
#include "descriptor/leggidsc.h"
#include "session/lineset.h"
#include "session/rowsession.h"

#include <QtTest>

using namespace Norvix;
using TestUtil::Backend;

namespace {

const char kDsc[] = "RECORD,T,Prova,1\n"
                    "CAMPO,ID,Id,LONG,6\n"
                    "CAMPO,NOME,Nome,TEXT,20\n"
                    "CAMPO,QTA,Quantità,INTEGER,6,,1,100\n"
                    "CAMPO,PREZZO,Prezzo,DOUBLE,20\n"
                    "CAMPO,GIORNO,Giorno,DATE,10\n"
                    "INDICE,PrimaryKey,+ID,-1,-1\n";

struct Watcher : RowObserver
{
    QStringList heard;
    void rowReplaced(const RowSession &) override { heard << QStringLiteral("replaced"); }
    void rowWritten(const RowSession &, RowWrite w) override
    {
        heard << (w == RowWrite::Added ? QStringLiteral("added") : w == RowWrite::Changed ? QStringLiteral("changed") : QStringLiteral("deleted"));
    }
};

} // namespace

class TestSession : public QObject
{
    Q_OBJECT

    struct Fixture
    {
        explicit Fixture(const QString &backend) : b(backend)
        {
            b.exec({QStringLiteral("CREATE TABLE T (ID INTEGER PRIMARY KEY, NOME VARCHAR(20), QTA INTEGER, "
                                   "PREZZO NUMERIC(20,2), GIORNO DATE)"),
                    QStringLiteral("INSERT INTO T VALUES (1, 'uno', 5, 1.50, '2024-03-01')")});
            b.dsc(QString::fromUtf8(kDsc));
            QString folder = b.folder() + u'/';
            QVERIFY(LeggiDsc(folder, QStringLiteral("T"), *rec));
            session.attach(b.conn, QStringLiteral("T"), {QStringLiteral("ID")}, rec);
            session.addObserver(&watcher);
        }
        // The row as stored, as text.
        QStringList stored(int id)
        {
            QStringList out;
            for (const QVariant &v : b.rows(QStringLiteral("SELECT NOME, QTA, PREZZO, GIORNO FROM T WHERE ID = ?"), {id}).value(0))
                out << (v.isNull() ? QStringLiteral("<null>") : v.toString().left(10));
            return out;
        }
        void set(const QStringList &columnsAndTexts)
        {
            for (int i = 0; i + 1 < columnsAndTexts.size(); i += 2)
                session.setValue(columnsAndTexts[i], session.typed(columnsAndTexts[i], columnsAndTexts[i + 1]));
        }
        Backend b;
        std::shared_ptr<Rec> rec = std::make_shared<Rec>();
        RowSession session;
        Watcher watcher;
    };

private slots:
    // Texts typed in the regional forms become typed values once, and are stored as such.
    void savesTypedValues_data()
    {
        TestUtil::backends("unused", QList<QPair<const char *, int>>{{"", 0}});
    }
    void savesTypedValues()
    {
        QFETCH(QString, backend);
        Fixture f(backend);
        QVERIFY(!QTest::currentTestFailed());
        f.session.startNew();
        f.set({"ID", "7", "NOME", "sette", "QTA", "12", "PREZZO", "1.234,56", "GIORNO", "31/12/2024"});
        const RowOutcome added = f.session.save();
        QVERIFY(added.done());
        QCOMPARE(added.key, QVariantList{7});
        QCOMPARE(f.stored(7), (QStringList{"sette", "12", "1234.56", "2024-12-31"}));
        // Changed: only the values set are written; an empty text stores null.
        f.session.load({7});
        f.set({"NOME", "", "QTA", "99,5"}); // a whole number rounds halves to even
        QVERIFY(f.session.save().done());
        QCOMPARE(f.stored(7), (QStringList{"<null>", "100", "1234.56", "2024-12-31"}));
        QCOMPARE(f.watcher.heard, (QStringList{"replaced", "added", "replaced", "changed"}));
    }

    // What stops a save comes back as data, and nothing is written.
    void reportsWhatStopsASave_data()
    {
        TestUtil::backends("kind", QList<QPair<const char *, int>>{{"rule", 0}, {"conversion", 1}, {"duplicate", 2}, {"conflict", 3}, {"deleted", 4}});
    }
    void reportsWhatStopsASave()
    {
        QFETCH(QString, backend);
        QFETCH(int, kind);
        Fixture f(backend);
        QVERIFY(!QTest::currentTestFailed());
        const auto other = f.b.open();
        const QList<RowOutcome::Kind> expected{RowOutcome::Kind::Invalid, RowOutcome::Kind::Invalid,
                                               RowOutcome::Kind::Refused, RowOutcome::Kind::Conflict,
                                               RowOutcome::Kind::Conflict};
        RowOutcome outcome;
        if (kind == 2) {
            f.session.startNew();
            f.set({"ID", "1", "NOME", "doppio"});
            outcome = f.session.save();
        } else {
            f.session.load({1});
            if (kind == 1) {
                QCOMPARE(TestUtil::errorOf([&] { f.session.typed(QStringLiteral("QTA"), QStringLiteral("molti")); }),
                         int(DataError::ConversionFailed));
                f.session.setValue(QStringLiteral("QTA"), QStringLiteral("molti")); // unread text
            } else {
                f.set({"QTA", kind == 0 ? "101" : "7", "NOME", "mio"});
            }
            if (kind >= 3)
                f.b.exec({kind == 3 ? QStringLiteral("UPDATE T SET NOME = 'altro' WHERE ID = 1")
                                     : QStringLiteral("DELETE FROM T WHERE ID = 1")},
                         other);
            outcome = f.session.save();
        }
        QCOMPARE(outcome.kind, expected[kind]);
        if (kind < 2)
            QCOMPARE(outcome.column, QStringLiteral("QTA"));
        if (kind == 3)
            QCOMPARE(f.stored(1), (QStringList{"altro", "5", "1.5", "2024-03-01"}));
        else if (kind != 4)
            QCOMPARE(f.stored(1).first(), QStringLiteral("uno"));
        if (kind < 3)
            return;
        // The user's answer: written over the row as it is now, or inserted again when it is gone.
        const auto now = f.session.readRow({1});
        outcome = f.session.overwrite(now->Eof() ? nullptr : now.get());
        QVERIFY2(outcome.done(), qPrintable(outcome.error ? outcome.error->description() : outcome.column));
        QCOMPARE(f.stored(1).mid(0, 2), (QStringList{"mio", "7"}));
    }

    // A delete and a cancel: the row goes, or stays as stored with the values dropped.
    void deletesAndCancels_data() { TestUtil::backends("unused", QList<QPair<const char *, int>>{{"", 0}}); }
    void deletesAndCancels()
    {
        QFETCH(QString, backend);
        Fixture f(backend);
        QVERIFY(!QTest::currentTestFailed());
        f.b.exec({QStringLiteral("INSERT INTO T (ID, NOME) VALUES (2, 'due')")});
        f.session.open(f.session.rowOf({2}), CursorIntent::Read); // shown only: opened for change to delete
        f.set({"NOME", "mai"});
        f.session.cancel();
        QVERIFY(f.session.values().isEmpty());
        QCOMPARE(f.session.recordset()->value(QStringLiteral("NOME")).toString(), QStringLiteral("due"));
        QVERIFY(f.session.remove().done()); // the row in hand, not the table's first one
        QCOMPARE(f.b.rows(QStringLiteral("SELECT ID FROM T")), (QList<QVariantList>{{1}}));
        QCOMPARE(f.watcher.heard.last(), QStringLiteral("deleted"));
    }

    // An order and its lines: written, refused or deleted together, in one transaction.
    void linesGoWithTheRow_data()
    {
        TestUtil::backends("kind", QList<QPair<const char *, int>>{
                                       {"new master", 0}, {"lines changed", 1}, {"line refused", 2},
                                       {"line changed meanwhile", 3}, {"line invalid", 4}, {"master deleted", 5},
                                       {"delete refused", 6}});
    }
    void linesGoWithTheRow()
    {
        QFETCH(QString, backend);
        QFETCH(int, kind);
        Backend b(backend);
        b.exec({b.sqlite ? QStringLiteral("CREATE TABLE M (ID INTEGER PRIMARY KEY, NOME VARCHAR(20))")
                         : QStringLiteral("CREATE TABLE M (ID SERIAL PRIMARY KEY, NOME VARCHAR(20))"),
                QStringLiteral("CREATE TABLE L (MID INTEGER NOT NULL REFERENCES M (ID), RIGA INTEGER NOT NULL, "
                               "QTA INTEGER CHECK (QTA > 0), PRIMARY KEY (MID, RIGA))"),
                QStringLiteral("CREATE TABLE X (MID INTEGER, RIGA INTEGER, FOREIGN KEY (MID, RIGA) REFERENCES L (MID, RIGA))"),
                QStringLiteral("INSERT INTO M (ID, NOME) VALUES (1, 'uno')"),
                QStringLiteral("INSERT INTO L VALUES (1, 1, 10), (1, 2, 20)")});
        if (!b.sqlite)
            b.exec({QStringLiteral("SELECT setval('m_id_seq', 1)")});
        b.dsc(QStringLiteral("RECORD,M,Ordini,1\nCAMPO,ID,Id,AUTOINC,6\nCAMPO,NOME,Nome,TEXT,20\n"
                             "INDICE,PrimaryKey,+ID,-1,-1\nRECORD,L,Righe,1\nCAMPO,MID,Ordine,LONG,6\n"
                             "CAMPO,RIGA,Riga,AUTOINC,4\nCAMPO,QTA,Quantità,INTEGER,6,7,1,1000\n"
                             "INDICE,PrimaryKey,+MID;+RIGA,-1,-1\n"));
        auto lineRec = std::make_shared<Rec>();
        QString folder = b.folder() + u'/';
        QVERIFY(LeggiDsc(folder, QStringLiteral("L"), *lineRec));
        RowSession session;
        session.attach(b.conn, QStringLiteral("M"), {QStringLiteral("ID")});
        LineSet lines;
        lines.attach(b.conn, DetailLink{1, QStringLiteral("L"), {QStringLiteral("MID"), QStringLiteral("RIGA")},
                                        {QStringLiteral("ID")}, {QStringLiteral("MID")}, lineRec});
        session.addLines(&lines);
        const auto set = [&](int id, const char *column, const char *text) {
            lines.setValue(id, QString::fromLatin1(column), lines.typed(QString::fromLatin1(column), QString::fromLatin1(text)));
        };
        const auto stored = [&] { return b.rows(QStringLiteral("SELECT MID, RIGA, QTA FROM L ORDER BY MID, RIGA")); };
        const QList<QVariantList> before{{1, 1, 10}, {1, 2, 20}};
        RowOutcome outcome;
        if (kind == 0) { // the number the database gives the order reaches its lines, numbered within it
            struct : RowObserver
            {
                LineSet *lines = nullptr;
                QList<QVariantList> seen; // the master of the lines whenever the row in hand is replaced
                void rowReplaced(const RowSession &) override { seen << lines->master(); }
            } watcher;
            watcher.lines = &lines;
            session.addObserver(&watcher);
            session.load({1});
            session.startNew();
            QCOMPARE(watcher.seen, (QList<QVariantList>{{1}, {}})); // a new row has no lines yet
            session.removeObserver(&watcher);
            // Nor can one of another order's lines be taken for it.
            QCOMPARE(TestUtil::errorOf([&] { lines.take({1, 1}); }), int(DataError::RowChanged));
            session.setValue(QStringLiteral("NOME"), QStringLiteral("due"));
            set(lines.add(), "QTA", "5");
            lines.add(); // the field's default
            outcome = session.save();
            QVERIFY(outcome.done());
            QCOMPARE(outcome.key, QVariantList{2});
            QCOMPARE(stored(), (before + QList<QVariantList>{{2, 1, 5}, {2, 2, 7}}));
            QVERIFY(!lines.hasChanges());
            QCOMPARE(lines.master(), QVariantList{2});
            return;
        }
        session.load({1});
        QCOMPARE(lines.master(), QVariantList{1});
        if (kind >= 5) {
            if (kind == 6)
                b.exec({QStringLiteral("INSERT INTO X VALUES (1, 2)")});
            outcome = session.remove();
            QCOMPARE(outcome.kind, kind == 5 ? RowOutcome::Kind::Done : RowOutcome::Kind::Refused);
            QCOMPARE(stored(), kind == 5 ? QList<QVariantList>{} : before);
            QCOMPARE(b.scalar(QStringLiteral("SELECT COUNT(*) FROM M")).toInt(), kind == 5 ? 0 : 1);
            return;
        }
        session.setValue(QStringLiteral("NOME"), QStringLiteral("mio"));
        const int changed = lines.take({1, 1});
        set(changed, "QTA", kind == 2 ? "0" : kind == 4 ? "5000" : "9");
        lines.remove(lines.take({1, 2}));
        const int added = lines.add();
        set(added, "RIGA", "3");
        set(added, "QTA", "30");
        if (kind == 2) // a value the field allows but the database refuses
            lineRec->Campi()->Item("QTA")->setMinVal(QString());
        if (kind == 3)
            b.exec({QStringLiteral("UPDATE L SET QTA = 11 WHERE RIGA = 1")}, b.open());
        outcome = session.save();
        if (kind == 1) {
            QVERIFY2(outcome.done(), qPrintable(outcome.error ? outcome.error->description() : outcome.column));
            QCOMPARE(stored(), (QList<QVariantList>{{1, 1, 9}, {1, 3, 30}}));
            QCOMPARE(b.scalar(QStringLiteral("SELECT NOME FROM M")).toString(), QStringLiteral("mio"));
            return;
        }
        const QList<RowOutcome::Kind> expected{RowOutcome::Kind::Refused, RowOutcome::Kind::Conflict, RowOutcome::Kind::Invalid};
        QCOMPARE(outcome.kind, expected[kind - 2]);
        QCOMPARE(outcome.detail, 1);
        QCOMPARE(outcome.line, changed);
        if (kind == 4)
            QCOMPARE(outcome.column, QStringLiteral("QTA"));
        // Nothing stored; every value set stays, for the user to mend and save again.
        QCOMPARE(stored(), (kind == 3 ? QList<QVariantList>{{1, 1, 11}, {1, 2, 20}} : before));
        QCOMPARE(b.scalar(QStringLiteral("SELECT NOME FROM M")).toString(), QStringLiteral("uno"));
        QCOMPARE(session.values().size(), 1);
        QVERIFY(lines.valueSet(changed, QStringLiteral("QTA")).has_value() && lines.isRemoved(lines.idOf({1, 2})));
        if (kind != 2) { // the row put in hand again (as after a save whose outcome was settled): its lines as stored
            session.load({1});
            QVERIFY(!lines.hasChanges());
            return;
        }
        set(changed, "QTA", "8"); // mended: saved whole
        QVERIFY(session.save().done());
        QCOMPARE(stored(), (QList<QVariantList>{{1, 1, 8}, {1, 3, 30}}));
    }
};

QTEST_GUILESS_MAIN(TestSession)
#include "tst_session.moc"
