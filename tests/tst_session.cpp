// One row written through a RowSession, without a window (this program links no widget library):
// typed values, checks, refusals, conflicts and observers, on both back ends, asserted on the
// rows as stored.

#include "backends.h"
#include "descriptor/leggidsc.h"
#include "session/history.h"
#include "session/lineset.h"
#include "platform/typedvalue.h"
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
    // Every change of a record that keeps history leaves one entry, in the change's transaction.
    void historyGoesWithTheChange_data()
    {
        TestUtil::backends("kind", QList<QPair<const char *, int>>{
                                       {"insert", 0}, {"change", 1}, {"nothing changed", 2}, {"delete", 3},
                                       {"history refused", 4}, {"lines", 5}, {"paged", 6}, {"commit refused", 7}});
        for (int kind : {1, 3}) // a database known only through ODBC: the table made of plain types
            QTest::addRow("odbc %d", kind) << QStringLiteral("odbc") << kind;
    }
    void historyGoesWithTheChange()
    {
        QFETCH(QString, backend);
        QFETCH(int, kind);
        Backend b(backend);
        b.exec({b.sqlite ? QStringLiteral("CREATE TABLE C (ID INTEGER PRIMARY KEY, NOME VARCHAR(20), FIDO NUMERIC(20,2), "
                                          "CODICE BIGINT, NATO DATE, ATTIVO BOOLEAN, VISTO DATETIME)")
                         : QStringLiteral("CREATE TABLE C (ID SERIAL PRIMARY KEY, NOME VARCHAR(20), FIDO NUMERIC(20,2), "
                                          "CODICE BIGINT, NATO DATE, ATTIVO BOOLEAN, VISTO TIMESTAMP)"),
                QStringLiteral("CREATE TABLE L (CID INTEGER NOT NULL REFERENCES C (ID), RIGA INTEGER NOT NULL, "
                               "QTA INTEGER, PRIMARY KEY (CID, RIGA))"),
                QStringLiteral("INSERT INTO C (ID, NOME, FIDO, CODICE, NATO, ATTIVO, VISTO) "
                               "VALUES (1, 'uno', 1.50, 7, '2024-03-01', %1, '2024-03-01 10:15:00')")
                    .arg(b.sqlite ? QStringLiteral("1") : QStringLiteral("TRUE")),
                QStringLiteral("INSERT INTO L VALUES (1, 1, 10), (1, 2, 20)")});
        if (!b.sqlite)
            b.exec({QStringLiteral("SELECT setval('c_id_seq', 1)")});
        // STORIA may follow the primary index line.
        b.dsc(QStringLiteral("RECORD,C,Clienti,1\nCAMPO,ID,Id,AUTOINC,6\nCAMPO,NOME,Nome,TEXT,20\nCAMPO,FIDO,Fido,DOUBLE,20\n"
                             "CAMPO,CODICE,Codice,DOUBLE,20\nCAMPO,NATO,Nato,DATE\nCAMPO,ATTIVO,Attivo,BOOLEAN\n"
                             "INDICE,PrimaryKey,+ID,-1,-1\nSTORIA,1\nRECORD,L,Righe,1\nSTORIA,1\nCAMPO,CID,Cliente,LONG,6\n"
                             "CAMPO,RIGA,Riga,AUTOINC,4\nCAMPO,QTA,Quantità,INTEGER,6\nINDICE,PrimaryKey,+CID;+RIGA,-1,-1\n"));
        QString folder = b.folder() + u'/';
        auto rec = std::make_shared<Rec>(), lineRec = std::make_shared<Rec>();
        QVERIFY(LeggiDsc(folder, QStringLiteral("C"), *rec) && rec->Storia());
        QVERIFY(LeggiDsc(folder, QStringLiteral("L"), *lineRec) && lineRec->Storia());
        RowSession session;
        session.attach(b.conn, QStringLiteral("c"), {QStringLiteral("ID")}, rec); // recorded as the descriptor spells it
        session.setUser(QStringLiteral("mario"));
        LineSet lines;
        lines.attach(b.conn, DetailLink{1, QStringLiteral("L"), {QStringLiteral("CID"), QStringLiteral("RIGA")},
                                        {QStringLiteral("ID")}, {QStringLiteral("CID")}, lineRec});
        session.addLines(&lines);
        const auto set = [&](const char *column, const char *text) {
            const QString c = QString::fromLatin1(column);
            session.setValue(c, session.typed(c, QString::fromUtf8(text)));
        };
        // The entries as stored, read with plain SQL: table, key, action, user, fields.
        const auto entries = [&] {
            QStringList out;
            for (const QVariantList &r : b.rows(b.sqlite ? QStringLiteral("SELECT TABELLA, CHIAVE, AZIONE, UTENTE, CAMPI FROM NORVIX_STORIA ORDER BY ID")
                                                         : QStringLiteral("SELECT TABELLA, CHIAVE::text, AZIONE, UTENTE, CAMPI::text FROM NORVIX_STORIA ORDER BY ID")))
                out << (QStringList{r[0].toString(), QString(r[1].toString()).remove(u' '), r[2].toString(), r[3].toString()}.join(u'|')
                        + u'|' + QVariant(parseHistoryJson(r[4].toString()).value_or(QVariant(QStringLiteral("bad json")))).toString());
            return out;
        };
        const auto fields = [&](int entry) {
            return parseHistoryJson(b.rows(QStringLiteral("SELECT CAMPI FROM NORVIX_STORIA ORDER BY ID")).value(entry).value(0).toString())
                .value_or(QVariant())
                .toMap();
        };
        const auto ofRow = [](qint64 id) {
            HistoryQuery q;
            q.table = QStringLiteral("C");
            q.key = QVariantList{id};
            q.keyKinds = {ColumnKind::Integer};
            return q;
        };
        const QVariant fido = b.sqlite ? QVariant(QStringLiteral("1.5")) : QVariant(QStringLiteral("1.50"));
        switch (kind) {
        case 0: { // the key the database gives, and every column as stored: exact numbers, ISO dates
            session.startNew();
            set("NOME", "due");
            set("FIDO", "1234,50");
            set("CODICE", "123456789012345678");
            set("NATO", "29/02/2024");
            set("ATTIVO", "True");
            QVERIFY(session.save().done());
            QCOMPARE(entries().size(), 1);
            QVERIFY(entries()[0].startsWith(QStringLiteral("C|[2]|I|mario|")));
            const QVariantMap f = fields(0);
            QCOMPARE(f.value(QStringLiteral("CODICE")), QVariant(qint64(123456789012345678)));
            QCOMPARE(f.value(QStringLiteral("FIDO")).toString(), b.sqlite ? QStringLiteral("1234.5") : QStringLiteral("1234.50"));
            QCOMPARE(f.value(QStringLiteral("NATO")).toString().left(10), QStringLiteral("2024-02-29"));
            QCOMPARE(f.value(QStringLiteral("ATTIVO")), QVariant(true));
            QCOMPARE(f.value(QStringLiteral("ID")), QVariant(qint64(2)));
            if (b.sqlite) // UTC, to the millisecond
                QVERIFY(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$"))
                            .match(b.scalar(QStringLiteral("SELECT QUANDO FROM NORVIX_STORIA")).toString()).hasMatch());
            const auto read = readHistory(*b.conn, ofRow(2));
            QCOMPARE(read.size(), 1);
            QVERIFY(qAbs(read[0].when.msecsTo(QDateTime::currentDateTimeUtc())) < 60000);
            QCOMPARE(read[0].changes.first().column, QStringLiteral("ID")); // in the table's column order
            return;
        }
        case 1: // only the columns whose stored value changed, old and new (a date and time stored by
                // another program as "2024-03-01 10:15:00" is no change of its own)
        case 2: // the same values again: nothing recorded
            session.load({1});
            set("FIDO", kind == 1 ? "2,75" : "1,50");
            set("NOME", "uno");
            QVERIFY(session.save().done());
            if (kind == 2) {
                QVERIFY(!hasHistory(*b.conn)); // nor a table made for it
                return;
            }
            QCOMPARE(entries().size(), 1);
            QCOMPARE(fields(0).keys(), QStringList{QStringLiteral("FIDO")});
            QCOMPARE(fields(0).value(QStringLiteral("FIDO")).toList(),
                     (QVariantList{fido, b.sqlite ? QStringLiteral("2.75") : QStringLiteral("2.75")}));
            QVERIFY(entries()[0].startsWith(QStringLiteral("C|[1]|U|mario|")));
            return;
        case 3: // the whole row as it was, and its lines one by one first
            session.load({1});
            QVERIFY(session.remove().done());
            QCOMPARE(entries().size(), 3);
            QVERIFY(entries()[0].startsWith(QStringLiteral("L|[1,1]|D|")) && entries()[1].startsWith(QStringLiteral("L|[1,2]|D|")));
            QVERIFY(entries()[2].startsWith(QStringLiteral("C|[1]|D|")));
            QCOMPARE(fields(2).value(QStringLiteral("FIDO")), fido);
            QCOMPARE(fields(2).value(QStringLiteral("NOME")), QVariant(QStringLiteral("uno")));
            QCOMPARE(fields(2).size(), 7);
            // A column the record has no field for: as the database spells it.
            QCOMPARE(fields(2).value(b.sqlite ? QStringLiteral("VISTO") : QStringLiteral("visto")).toString().left(10), QStringLiteral("2024-03-01"));
            return;
        case 4: { // a history that cannot be written refuses the change, whose values stay
            b.exec({QStringLiteral("CREATE TABLE NORVIX_STORIA (ID INTEGER PRIMARY KEY, TABELLA TEXT)")});
            session.load({1});
            set("NOME", "nuovo");
            const RowOutcome out = session.save();
            QCOMPARE(out.kind, RowOutcome::Kind::Refused);
            QCOMPARE(out.error->number(), int(DataError::HistoryFailed));
            QCOMPARE(b.scalar(QStringLiteral("SELECT NOME FROM C")).toString(), QStringLiteral("uno"));
            QCOMPARE(session.values().size(), 1);
            return;
        }
        case 7: { // a COMMIT refused (a deferred reference) is a refusal that leaves no trace, and the next try
                  // makes the history table again
            b.exec({QStringLiteral("CREATE TABLE X (CID INTEGER REFERENCES C (ID) DEFERRABLE INITIALLY DEFERRED)"),
                    QStringLiteral("INSERT INTO X VALUES (1)")});
            session.load({1});
            QCOMPARE(session.remove().kind, RowOutcome::Kind::Refused);
            QCOMPARE(b.scalar(QStringLiteral("SELECT COUNT(*) FROM C")).toInt(), 1);
            QVERIFY(readHistory(*b.conn, ofRow(1)).isEmpty());
            b.exec({QStringLiteral("DELETE FROM X")}, b.open()); // this session's tables as they were
            const RowOutcome out = session.remove();
            QVERIFY2(out.done(), out.error ? qPrintable(out.error->description()) : "");
            QCOMPARE(entries().size(), 3);
            return;
        }
        case 5: { // lines recorded under their own table, in the master's transaction
            session.load({1});
            set("NOME", "uno");
            const int changed = lines.take({1, 1});
            lines.setValue(changed, QStringLiteral("QTA"), lines.typed(QStringLiteral("QTA"), QStringLiteral("11")));
            lines.remove(lines.take({1, 2}));
            const int added = lines.add();
            lines.setValue(added, QStringLiteral("QTA"), lines.typed(QStringLiteral("QTA"), QStringLiteral("30")));
            QVERIFY(session.save().done());
            const QStringList e = entries();
            QCOMPARE(e.size(), 3); // the master changed nothing
            QVERIFY(e[0].startsWith(QStringLiteral("L|[1,2]|D|")));
            QVERIFY(e[1].startsWith(QStringLiteral("L|[1,1]|U|")));
            QVERIFY(e[2].startsWith(QStringLiteral("L|[1,2]|I|"))); // numbered after the deletes
            return;
        }
        default: { // read newest first, page by page, through the index
            session.load({1});
            for (int i = 1; i <= 25; ++i) {
                session.setValue(QStringLiteral("CODICE"), qint64(i));
                QVERIFY(session.save().done());
            }
            HistoryQuery query = ofRow(1);
            query.limit = 10;
            QList<qint64> codes;
            for (QList<HistoryEntry> page; !(page = readHistory(*b.conn, query)).isEmpty();) {
                for (const HistoryEntry &e : page)
                    codes << e.changes.value(0).after.toLongLong();
                query.beforeId = page.last().id;
                query.beforeWhen = page.last().when;
            }
            QList<qint64> expected;
            for (int i = 25; i >= 1; --i)
                expected << i;
            QCOMPARE(codes, expected);
            QVERIFY(readHistory(*b.conn, ofRow(2)).isEmpty());
        }
        }
    }

    // Values as history keeps them read back exactly.
    void historyValuesRoundTrip()
    {
        const struct
        {
            QVariant value;
            ColumnKind kind;
            const char *json;
            QVariant back;
        } cases[] = {
            {qint64(123456789012345678), ColumnKind::Integer, "123456789012345678", qint64(123456789012345678)},
            {QStringLiteral("1234567890123456.50"), ColumnKind::Decimal, "1234567890123456.50", QStringLiteral("1234567890123456.50")},
            {QVariant::fromValue(Decimal{QStringLiteral("-0.10")}), ColumnKind::Decimal, "-0.10", QStringLiteral("-0.10")},
            {0.1, ColumnKind::Double, "0.1", QStringLiteral("0.1")},
            {QStringLiteral("n/d"), ColumnKind::Integer, "\"n/d\"", QStringLiteral("n/d")},
            {1, ColumnKind::Boolean, "true", true},
            {QDate(2024, 2, 29), ColumnKind::Date, "\"2024-02-29\"", QStringLiteral("2024-02-29")},
            {QDateTime(QDate(2024, 2, 29), QTime(10, 15, 0, 5)), ColumnKind::DateTime, "\"2024-02-29T10:15:00.005\"",
             QStringLiteral("2024-02-29T10:15:00.005")},
            {QStringLiteral("a \"b\"\n\\c\x01"), ColumnKind::Text, "\"a \\\"b\\\"\\n\\\\c\\u0001\"", QStringLiteral("a \"b\"\n\\c\x01")},
            {QByteArray("\x00\xff", 2), ColumnKind::Blob, "\"AP8=\"", QStringLiteral("AP8=")},
            {QVariant(), ColumnKind::Text, "null", QVariant()},
        };
        for (const auto &c : cases) {
            const QString json = historyJson(c.value, c.kind);
            QCOMPARE(json, QString::fromUtf8(c.json));
            QCOMPARE(parseHistoryJson(json).value_or(QStringLiteral("unread")), c.back);
        }
        for (const char *bad : {"", "{", "[1,]", "\"open", "01", "{\"a\" 1}", "[1] 2"})
            QVERIFY2(!parseHistoryJson(QString::fromLatin1(bad)), bad);
    }
};

QTEST_GUILESS_MAIN(TestSession)
#include "tst_session.moc"
