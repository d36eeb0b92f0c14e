// The grid of a detail (an order's lines), driven with real keys: typing, checks, moves, Esc,
// deleting lines, read-only, lookups, and a master of 100,000 lines read lazily.

#include "backends.h"
#include "editordriver.h"
#include "descriptor/leggidsc.h"
#include "editor/detailgrid.h"
#include "editor/detailmodel.h"
#include "editor/recordlist.h"
#include "platform/messages.h"
#include "session/lineset.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QtTest>

using namespace Norvix;
using TestUtil::Backend;

namespace {

const char kDsc[] = "RECORD,RIG,Righe,1\n"
                    "CAMPO,ANNO,Anno,INTEGER,4\n"
                    "CAMPO,NUMERO,Numero,LONG,6\n"
                    "CAMPO,RIGA,Riga,INTEGER,4\n"
                    "CAMPO,ARTICOLO,Articolo,TEXT,8,,,,,,ART,NOME,CMBBOUNDED\n"
                    "CAMPO,QUANTITA,Quantita,DOUBLE,10,,1,1000\n"
                    "CAMPO,PREZZO,Prezzo,CURRENCY,12,,,,,,,,,0.00\n"
                    "CAMPO,EVASA,Evasa,BOOLEAN,1\n"
                    "INDICE,PrimaryKey,+ANNO;+NUMERO;+RIGA,-1,-1\n";

// Orders 2024/1 with three lines and 2024/2 with `many` lines; three articles.
struct Fixture
{
    explicit Fixture(int many = 1, const QString &backend = QStringLiteral("sqlite")) : b(backend)
    {
        b.exec({QStringLiteral("CREATE TABLE ART (CODICE VARCHAR(8) PRIMARY KEY, NOME VARCHAR(30))"),
                QStringLiteral("INSERT INTO ART VALUES ('A1', 'Vite'), ('A2', 'Bullone'), ('A3', 'Dado')"),
                QStringLiteral("CREATE TABLE ORD (ANNO INTEGER, NUMERO INTEGER, PRIMARY KEY (ANNO, NUMERO))"),
                QStringLiteral("CREATE TABLE RIG (ANNO INTEGER, NUMERO INTEGER, RIGA INTEGER, ARTICOLO VARCHAR(8), "
                               "QUANTITA DOUBLE PRECISION, PREZZO NUMERIC(12,2), EVASA BOOLEAN, PRIMARY KEY (ANNO, NUMERO, RIGA))"),
                QStringLiteral("INSERT INTO RIG VALUES (2024, 1, 1, 'A1', 10, 1.5, FALSE), (2024, 1, 2, 'A2', 5, 2.25, TRUE), "
                               "(2024, 1, 3, NULL, 1, NULL, FALSE)"),
                QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                               "INSERT INTO RIG SELECT 2024, 2, i, 'A1', i, 1, FALSE FROM n").arg(many)});
        b.dsc(QString::fromUtf8(kDsc));
        QString folder = b.folder() + u'/';
        if (!LeggiDsc(folder, QStringLiteral("RIG"), *rec))
            qFatal("descriptor not read");
        const QStringList link{"ANNO", "NUMERO"};
        lines.attach(b.conn, DetailLink{1, QStringLiteral("RIG"), {"ANNO", "NUMERO", "RIGA"}, link, link, rec});
        lines.setMaster({2024, many > 1 ? 2 : 1});
        Dettaglio detail;
        detail.setNumero(1);
        detail.setTitolo(QStringLiteral("Righe"));
        detail.setCampiPadre(link);
        detail.setCampiFiglio(link);
        DetailGrid::Calls calls;
        calls.edited = [this] { ++edited; };
        calls.lookupQuery = [this](const CampoPtr &c) {
            LookupQuery q{b.conn, tableInfo(*b.conn, c->RecRif()), {}, {QStringLiteral("NOME")}, std::nullopt};
            q.index = q.table->firstIndex;
            return std::optional<LookupQuery>(q);
        };
        grid = std::make_unique<DetailGrid>(detail, rec, lines, b.conn, calls);
        grid->resize(700, 300);
        grid->show();
        if (!QTest::qWaitForWindowActive(grid.get()))
            qFatal("grid not shown");
        view = grid->view();
    }
    QString cell(int row, int column) const { return view->model()->index(row, column).data().toString(); }
    QString caption() const { return grid->findChild<QLabel *>(QStringLiteral("LblDettaglio1"))->text(); }
    // Keys typed on the cell (row, column), as a user does: the first starts the editor.
    void type(int row, int column, const QString &keys)
    {
        view->setCurrentIndex(view->model()->index(row, column));
        view->setFocus();
        for (const QChar c : keys) {
            if (c.isUpper()) // Shift goes down first, as on a keyboard
                QTest::keyPress(QApplication::focusWidget(), Qt::Key_Shift, Qt::ShiftModifier);
            QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
        }
    }
    void key(Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) { QTest::keyClick(QApplication::focusWidget(), k, m); }
    QString editorText() const
    {
        auto *line = qobject_cast<QLineEdit *>(QApplication::focusWidget());
        auto *combo = qobject_cast<QComboBox *>(QApplication::focusWidget());
        return line ? line->text() : combo ? combo->currentText() : QStringLiteral("<no editor>");
    }

    Backend b;
    std::shared_ptr<Rec> rec = std::make_shared<Rec>();
    LineSet lines;
    int edited = 0;
    std::unique_ptr<DetailGrid> grid;
    QTableView *view = nullptr;
};

} // namespace

class TstDetail : public QObject
{
    Q_OBJECT

    std::shared_ptr<RecordingMessageService> m_messages;

private slots:
    void init()
    {
        m_messages = std::make_shared<RecordingMessageService>();
        setMessageService(m_messages);
    }
    void cleanup() { setMessageService(nullptr); }

    // A value typed into a cell and left with Tab: checked, set on the line (a new one for the
    // empty last line) and shown in its picture; or refused, naming column and line, its text kept.
    void typedValues_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<QString>("shown"); // the cell, or the editor's text when refused
        QTest::newRow("new line") << 3 << 2 << "12,5" << "" << "12,5";
        QTest::newRow("new line, picture") << 3 << 3 << "2,5" << "" << "2,50";
        QTest::newRow("stored line") << 0 << 2 << "7" << "" << "7";
        QTest::newRow("letters refused") << 1 << 2 << "1x2" << "" << "12";
        QTest::newRow("out of bounds") << 0 << 2 << "5000" << "Valore di Quantita non valido alla riga 1." << "5000";
        QTest::newRow("not a number") << 1 << 2 << "1,2,3" << "Valore di Quantita non valido alla riga 2." << "1,2,3";
        QTest::newRow("lookup by description") << 2 << 1 << "Dado" << "" << "[A3] Dado";
        QTest::newRow("lookup by code") << 2 << 1 << "a2" << "" << "[A2] Bullone";
        QTest::newRow("lookup unknown") << 0 << 1 << "ZEta" << "Valore di Articolo non valido alla riga 1." << "ZEta";
    }
    void typedValues()
    {
        QFETCH(int, row);
        QFETCH(int, column);
        QFETCH(QString, keys);
        QFETCH(QString, refusal);
        QFETCH(QString, shown);
        Fixture f;
        QTRY_COMPARE(f.view->model()->rowCount(), 4);
        QTRY_COMPARE(f.cell(0, 1), QStringLiteral("[A1] Vite")); // read once the event loop is back
        f.type(row, column, keys);
        f.key(Qt::Key_Tab);
        const auto *model = static_cast<const DetailModel *>(f.view->model());
        if (!refusal.isEmpty()) {
            QCOMPARE(m_messages->messages().size(), 1); // when the cell is left, not on the way
            QCOMPARE(m_messages->messages().value(0).text, refusal);
            QCOMPARE(f.editorText(), shown);
            QCOMPARE(f.edited, 0);
            QVERIFY(!f.lines.hasChanges());
            return;
        }
        QVERIFY(m_messages->messages().isEmpty());
        QCOMPARE(f.cell(row, column), shown);
        QCOMPARE(f.edited, 1);
        const int id = model->lineAt(row);
        QVERIFY(f.lines.valueSet(id, model->column(column).name));
        QCOMPARE(f.lines.added(), row == 3 ? QList<int>{id} : QList<int>{});
        QCOMPARE(f.caption(), row == 3 ? QStringLiteral("Righe (4 righe)") : QStringLiteral("Righe (3 righe)"));
        QCOMPARE(f.view->currentIndex(), f.view->model()->index(row, column + 1)); // Tab went on
    }

    // Moving between cells without editing; Esc in an editor gives the cell's value back.
    void moves_data()
    {
        QTest::addColumn<QPoint>("from"); // (column, row)
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QPoint>("to");
        QTest::newRow("Tab") << QPoint(1, 0) << int(Qt::Key_Tab) << 0 << QPoint(2, 0);
        QTest::newRow("Tab from the last cell") << QPoint(4, 0) << int(Qt::Key_Tab) << 0 << QPoint(0, 1);
        QTest::newRow("Shift+Tab") << QPoint(0, 1) << int(Qt::Key_Backtab) << int(Qt::ShiftModifier) << QPoint(4, 0);
        QTest::newRow("Enter") << QPoint(2, 0) << int(Qt::Key_Return) << 0 << QPoint(2, 1);
        QTest::newRow("Enter in an editor") << QPoint(2, 1) << int(Qt::Key_F2) << 0 << QPoint(2, 2);
    }
    void moves()
    {
        QFETCH(QPoint, from);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QPoint, to);
        Fixture f;
        QTRY_COMPARE(f.view->model()->rowCount(), 4);
        f.view->setCurrentIndex(f.view->model()->index(from.y(), from.x()));
        f.view->setFocus();
        f.key(Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        if (key == Qt::Key_F2) {
            QCOMPARE(f.editorText(), QStringLiteral("5"));
            f.key(Qt::Key_Return);
        }
        QCOMPARE(f.view->currentIndex(), f.view->model()->index(to.y(), to.x()));
        // Esc: the value typed goes, nothing is set.
        f.type(0, 2, "99");
        f.key(Qt::Key_Escape);
        QCOMPARE(f.editorText(), QStringLiteral("<no editor>"));
        QCOMPARE(f.cell(0, 2), QStringLiteral("10"));
        QVERIFY(!f.lines.hasChanges());
        QCOMPARE(f.edited, 0);
    }

    // Ctrl+Delete or the button deletes the selected lines once the user says yes; the empty
    // last line stays.
    void deletes_data()
    {
        QTest::addColumn<bool>("button");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("caption");
        QTest::newRow("Ctrl+Delete, no") << false << int(MsgAnswer::No) << "Righe (4 righe)";
        QTest::newRow("Ctrl+Delete, yes") << false << int(MsgAnswer::Yes) << "Righe (1 righe)";
        QTest::newRow("button, yes") << true << int(MsgAnswer::Yes) << "Righe (1 righe)";
    }
    void deletes()
    {
        QFETCH(bool, button);
        QFETCH(int, answer);
        QFETCH(QString, caption);
        Fixture f;
        QTRY_COMPARE(f.view->model()->rowCount(), 4);
        f.type(3, 2, "4"); // a new line, deleted with the first two
        f.key(Qt::Key_Tab);
        const int added = f.lines.added().value(0, -1);
        QAbstractItemModel *m = f.view->model();
        f.view->selectionModel()->select(QItemSelection(m->index(0, 0), m->index(1, 0)), QItemSelectionModel::ClearAndSelect);
        f.view->selectionModel()->select(QItemSelection(m->index(3, 0), m->index(4, 0)), QItemSelectionModel::Select);
        m_messages->script({MsgAnswer(answer)});
        if (button)
            QTest::mouseClick(f.grid->findChild<QPushButton *>(QStringLiteral("CmdEliminaRiga1")), Qt::LeftButton);
        else
            QTest::keyClick(f.view, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(m_messages->messages().value(0).text, QStringLiteral("Eliminare le righe selezionate ?"));
        QCOMPARE(m_messages->messages().value(0).buttons, MsgButtons::YesNo);
        QCOMPARE(f.caption(), caption);
        const bool yes = answer == int(MsgAnswer::Yes);
        QCOMPARE(f.lines.isRemoved(f.lines.idOf({2024, 1, 1})), yes);
        QCOMPARE(f.lines.isRemoved(f.lines.idOf({2024, 1, 2})), yes);
        QCOMPARE(f.lines.added(), yes ? QList<int>{} : QList<int>{added});
        QCOMPARE(f.edited, yes ? 2 : 1);
        QCOMPARE(f.cell(0, 0), yes ? QStringLiteral("3") : QStringLiteral("1"));
        QCOMPARE(m->rowCount(), yes ? 2 : 5); // the empty line stays
        // Read again, the lines removed stay hidden and the new ones follow.
        f.grid->reload();
        QTRY_COMPARE(m->rowCount(), yes ? 2 : 5);
        QCOMPARE(f.caption(), caption);
    }

    // Read-only: no editing, no empty line, no deleting.
    void readOnly()
    {
        Fixture f;
        QTRY_COMPARE(f.view->model()->rowCount(), 4);
        f.grid->setReadOnly(true);
        QCOMPARE(f.view->model()->rowCount(), 3);
        QVERIFY(!f.grid->findChild<QPushButton *>(QStringLiteral("CmdEliminaRiga1"))->isEnabled());
        f.type(0, 2, "5");
        f.key(Qt::Key_F2);
        QCOMPARE(f.editorText(), QStringLiteral("<no editor>"));
        f.view->setCurrentIndex(f.view->model()->index(0, 4)); // a check box
        QTest::keyClick(f.view, Qt::Key_Space);
        QVERIFY(!f.lines.hasChanges());
        f.grid->setReadOnly(false);
        QTest::keyClick(f.view, Qt::Key_Space);
        QCOMPARE(f.view->model()->index(0, 4).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
        QCOMPARE(f.edited, 1);
    }

    // A stored line deleted by another user meanwhile: told when it is edited, the lines read again.
    void lineGone()
    {
        Fixture f;
        QTRY_COMPARE(f.view->model()->rowCount(), 4);
        f.b.exec({QStringLiteral("DELETE FROM RIG WHERE RIGA = 1")}, f.b.open());
        f.type(0, 2, "7");
        QCOMPARE(m_messages->messages().value(0).text, QStringLiteral("La riga non esiste più: un altro utente l'ha eliminata."));
        QCOMPARE(f.editorText(), QStringLiteral("<no editor>"));
        QTRY_COMPARE(f.caption(), QStringLiteral("Righe (2 righe)"));
        QVERIFY(!f.lines.hasChanges());
    }

    // 100,000 lines show at once and scroll to the end, never read whole.
    void manyLines_data() { TestUtil::backends("unused", QList<QPair<const char *, int>>{{"", 0}}); }
    void manyLines()
    {
        QFETCH(QString, backend);
        Fixture f(100000, backend);
        QTRY_COMPARE(f.caption(), QStringLiteral("Righe (100000 righe)"));
        f.view->scrollToBottom();
        QTRY_COMPARE(f.cell(99999, 0), QStringLiteral("100000"));
        QVERIFY(static_cast<DetailModel *>(f.view->model())->stored()->cachedPages() <= RecordListModel::kMaxPages);
        QCOMPARE(f.grid->lineNumber(f.lines.take({2024, 2, 99999})), 99999);
    }

    // An order and its lines in the editor, on both back ends: saved, refused, in conflict,
    // dropped and deleted together, asserted on the rows as stored.
    void orderInTheEditor_data()
    {
        TestUtil::backends("kind", QList<QPair<const char *, int>>{
                                       {"new order", 0}, {"lines changed", 1}, {"line refused", 2},
                                       {"line changed meanwhile", 3}, {"cancelled", 4}, {"order deleted", 5},
                                       {"delete refused", 6}, {"read-only", 7}});
    }
    void orderInTheEditor()
    {
        QFETCH(QString, backend);
        QFETCH(int, kind);
        Backend b(backend);
        b.exec({b.sqlite ? QStringLiteral("CREATE TABLE ORD (ID INTEGER PRIMARY KEY, NOTE VARCHAR(20))")
                         : QStringLiteral("CREATE TABLE ORD (ID SERIAL PRIMARY KEY, NOTE VARCHAR(20))"),
                QStringLiteral("CREATE TABLE RIG (OID INTEGER NOT NULL REFERENCES ORD (ID), RIGA INTEGER NOT NULL, "
                               "QTA INTEGER CHECK (QTA < 1000), PRIMARY KEY (OID, RIGA))"),
                QStringLiteral("CREATE TABLE X (OID INTEGER, RIGA INTEGER, FOREIGN KEY (OID, RIGA) REFERENCES RIG (OID, RIGA))"),
                QStringLiteral("INSERT INTO ORD (ID, NOTE) VALUES (1, 'uno')"),
                QStringLiteral("INSERT INTO RIG VALUES (1, 1, 10), (1, 2, 20)")});
        if (!b.sqlite)
            b.exec({QStringLiteral("SELECT setval('ord_id_seq', 1)")});
        b.dsc(QStringLiteral("RECORD,ORD,Ordini,1\nCAMPO,ID,Id,AUTOINC,6\nCAMPO,NOTE,Note,TEXT,20\n"
                             "DETTAGLIO,1,RIG,Righe,1,ID,OID\nINDICE,PK,+ID,-1,-1\nRECORD,RIG,Righe,1\n"
                             "CAMPO,OID,Ordine,LONG,6\nCAMPO,RIGA,Riga,AUTOINC,4\nCAMPO,QTA,Quantita,INTEGER,6\n"
                             "INDICE,PK,+OID;+RIGA,-1,-1\n"));
        const auto stored = [&] { return b.rows(QStringLiteral("SELECT OID, RIGA, QTA FROM RIG ORDER BY OID, RIGA")); };
        const QList<QVariantList> before{{1, 1, 10}, {1, 2, 20}};
        FrmEditTab editor;
        editor.START(b.connection, b.folder(), QString(), QStringLiteral("ORD"), QString(), QString(), kind == 7);
        editor.show();
        QVERIFY(QTest::qWaitForWindowActive(&editor));
        auto *grid = TestUtil::control<QTableView>(editor, QStringLiteral("GrdDettaglio1"));
        QTRY_COMPARE(grid->model()->rowCount(), kind == 7 ? 2 : 3); // the empty line last
        QCOMPARE(grid->model()->index(1, 1).data().toString(), QStringLiteral("20"));
        const auto type = [&](int row, const char *keys) { // into the quantity, left with Tab
            grid->setCurrentIndex(grid->model()->index(row, 1));
            grid->setFocus();
            for (const char *k = keys; *k; ++k) // the first key opens the cell's editor
                QTest::keyClick(QApplication::focusWidget(), *k);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        };
        switch (kind) {
        case 0: // a new order gets its lines, and the number the database gives it
            TestUtil::press(editor, 0);
            QTRY_COMPARE(grid->model()->rowCount(), 1);
            TestUtil::typeInto(editor, TestUtil::control(editor, QStringLiteral("TxtText2")), QStringLiteral("due"));
            type(0, "5");
            type(1, "6");
            TestUtil::press(editor, 1);
            QCOMPARE(TestUtil::messageTexts(*m_messages), QStringList());
            QCOMPARE(b.rows(QStringLiteral("SELECT ID, NOTE FROM ORD WHERE ID = 2")), (QList<QVariantList>{{2, "due"}}));
            QCOMPARE(stored(), (before + QList<QVariantList>{{2, 1, 5}, {2, 2, 6}}));
            QTRY_COMPARE(grid->model()->index(1, 0).data().toString(), QStringLiteral("2"));
            break;
        case 1: // changed, deleted after the question, added: saved together
            type(0, "11");
            grid->setCurrentIndex(grid->model()->index(1, 0));
            m_messages->script({MsgAnswer::Yes});
            QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
            QCOMPARE(TestUtil::messageTexts(*m_messages), QStringList{"Eliminare le righe selezionate ?"});
            type(1, "30");
            QVERIFY(editor.Modified());
            TestUtil::press(editor, 1);
            QCOMPARE(stored(), (QList<QVariantList>{{1, 1, 11}, {1, 2, 30}}));
            QVERIFY(!editor.Modified());
            break;
        case 2: // refused by the database: nothing stored, the line told and selected, its value kept
        case 3: // changed meanwhile by another user: explained, nothing stored
            type(0, kind == 2 ? "1500" : "11");
            type(2, "7");
            if (kind == 3)
                b.exec({QStringLiteral("UPDATE RIG SET QTA = 99 WHERE RIGA = 1")}, b.open());
            QCOMPARE(TestUtil::answerConflicts([&] { TestUtil::press(editor, 1); }), kind == 3 ? 1 : 0);
            if (kind == 2) {
                QCOMPARE(m_messages->messages().size(), 1);
                QVERIFY(m_messages->messages().constFirst().text.startsWith(QStringLiteral("La riga 1 non può essere salvata")));
                QCOMPARE(grid->currentIndex().row(), 0);
            }
            QCOMPARE(stored(), (kind == 2 ? before : QList<QVariantList>{{1, 1, 99}, {1, 2, 20}}));
            QVERIFY(editor.Modified());
            QCOMPARE(grid->model()->index(0, 1).data().toString(), QString::fromLatin1(kind == 2 ? "1500" : "11"));
            QCOMPARE(grid->model()->rowCount(), 4);
            break;
        case 4: // Annulla drops the lines' changes with the row's, after the question
            type(0, "11");
            m_messages->script({MsgAnswer::Ok});
            TestUtil::press(editor, 2);
            QTRY_COMPARE(grid->model()->index(0, 1).data().toString(), QStringLiteral("10"));
            QVERIFY(!editor.Modified());
            QCOMPARE(stored(), before);
            break;
        case 5: // Elimina deletes the lines and the order together; a refusal deletes nothing
        case 6:
            if (kind == 6)
                b.exec({QStringLiteral("INSERT INTO X VALUES (1, 2)")});
            m_messages->script({MsgAnswer::Ok});
            TestUtil::press(editor, 3);
            QCOMPARE(stored(), (kind == 5 ? QList<QVariantList>{} : before));
            QCOMPARE(b.scalar(QStringLiteral("SELECT COUNT(*) FROM ORD")).toInt(), kind == 5 ? 0 : 1);
            QCOMPARE(m_messages->messages().size(), kind == 5 ? 1 : 2);
            break;
        case 7: // read-only: no cell opens, no line is deleted
            grid->setCurrentIndex(grid->model()->index(0, 1));
            grid->setFocus();
            QTest::keyClick(grid, '5');
            QCOMPARE(QApplication::focusWidget(), grid);
            QVERIFY(!TestUtil::control<QPushButton>(editor, QStringLiteral("CmdEliminaRiga1"))->isEnabled());
            break;
        }
    }
};

QTEST_MAIN(TstDetail)
#include "tst_detail.moc"
