// Other users' changes shown in an open editor, on both back ends: the record list keeps its first
// line and its selected line on their rows, the row in hand is shown again or, being modified, left
// as typed with a notice, a row deleted meanwhile is stored again only on a Yes, a search's rows
// and a detail's lines follow, and LiveUpdates turns it all off.

#include "backends.h"
#include "control/norvix.h"
#include "editordriver.h"
#include "editor/recordlist.h"

#include <QLabel>
#include <QTableView>
#include <QtTest>

using namespace Norvix;
using TestUtil::Backend;
using TestUtil::control;
using TestUtil::shown;

namespace {

constexpr int kWait = 10000; // a change shows within two seconds: this is only how long a test waits

const QString kDsc = QStringLiteral("RECORD,CLI,Clienti,1\nCAMPO,CODICE,Codice,LONG,6\nCAMPO,NOME,Nome,TEXT,30\n"
                                    "CAMPO,FIDO,Fido,LONG,8\nRICERCA,1,MOSTRA,Per nome,NOME,CODICE\n"
                                    "RICERCA,1,SELEZIONE,NOME,,LIKE\nINDICE,PK,+CODICE,-1,-1\n");

// Customers coded 10, 20, ... `rows` * 10, their names "Nome 10010" ...
struct Clienti
{
    explicit Clienti(const QString &backend, int rows) : b(backend)
    {
        b.exec({QStringLiteral("CREATE TABLE CLI (CODICE INTEGER PRIMARY KEY, NOME VARCHAR(30), FIDO INTEGER)"),
                QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                               "INSERT INTO CLI SELECT i * 10, 'Nome ' || (10000 + i * 10), 100 FROM n")
                    .arg(rows)});
        b.dsc(kDsc);
    }
    // Statements of another program, committed on a connection of its own; a PostgreSQL server is
    // told as another editor tells it.
    void other(QStringList statements, const QString &table = QStringLiteral("CLI"))
    {
        if (!b.sqlite)
            statements << QStringLiteral("SELECT pg_notify('norvix', '{\"table\": \"%1\"}')").arg(table.toLower());
        b.exec(statements, otherUser ? otherUser : (otherUser = b.open()));
    }
    RecordListView *list() { return control<RecordListView>(editor, QStringLiteral("LstSelect")); }
    QLabel *notice() { return control<QLabel>(editor, QStringLiteral("LblAvviso")); }
    bool noticeShows() { return notice()->isVisible(); }
    int stored(const QString &where)
    {
        return b.scalar(QStringLiteral("SELECT COUNT(*) FROM CLI WHERE ") + where).toInt();
    }

    Backend b;
    std::shared_ptr<Connection> otherUser;
    FrmEditTab editor;
};

} // namespace

class TstLiveView : public QObject
{
    Q_OBJECT

    std::shared_ptr<RecordingMessageService> m_messages;

private slots:
    void init() { m_messages = TestUtil::freshUser(); }
    void cleanup() { setMessageService(nullptr); }

    // Rows added before the first line shown, one removed, the first line's row changed: the lines
    // follow, and the first line shown and the selected one stay on their rows.
    void listKeepsItsRows_data() { TestUtil::backends("rows", QList<QPair<const char *, int>>{{"300 rows", 300}}); }
    void listKeepsItsRows()
    {
        QFETCH(QString, backend);
        QFETCH(int, rows);
        Clienti c(backend, rows);
        TestUtil::startShown(c.editor, c.b.connection, c.b.folder(), QStringLiteral("CLI"));
        RecordListView *list = c.list();
        list->setCurrentRow(150); // code 1510, opened
        QTRY_COMPARE(shown(c.editor, QStringLiteral("TxtText2")), QStringLiteral("Nome 11510"));
        list->showAtTop(140);
        QCOMPARE(list->keyAt(list->topRow()), QVariantList{1410});
        c.other({QStringLiteral("INSERT INTO CLI VALUES (5, 'Primo', 1), (15, 'Secondo', 1)"),
                 QStringLiteral("DELETE FROM CLI WHERE CODICE = 20"),
                 QStringLiteral("UPDATE CLI SET NOME = 'Cambiato' WHERE CODICE = 1410")});
        QTRY_VERIFY_WITH_TIMEOUT(list->lineAt(list->topRow()).contains(u"Cambiato"), kWait);
        QCOMPARE(list->keyAt(list->topRow()), QVariantList{1410});
        QCOMPARE(list->keyAt(list->currentRow()), QVariantList{1510});
        QCOMPARE(list->currentRow(), 151);
        QTRY_COMPARE(list->count(), rows + 1);
        QCOMPARE(list->lineAt(2), QStringLiteral("[15] Secondo"));
        QVERIFY(!c.noticeShows()); // the row in hand did not change
        QCOMPARE(shown(c.editor, QStringLiteral("TxtText2")), QStringLiteral("Nome 11510"));
    }

    // The row in hand changed or deleted by another user, while shown or while being modified.
    void rowInHand_data()
    {
        enum Case { Change, ChangeWhileTyping, Delete, DeleteWhileTypingNo, DeleteWhileTypingYes };
        TestUtil::backends("kind", QList<QPair<const char *, int>>{{"changed", Change},
                                                                    {"changed while typing", ChangeWhileTyping},
                                                                    {"deleted", Delete},
                                                                    {"deleted while typing, No", DeleteWhileTypingNo},
                                                                    {"deleted while typing, Yes", DeleteWhileTypingYes}});
        QTest::newRow("odbc changed") << QStringLiteral("odbc") << int(Change); // read again every two seconds
        QTest::newRow("odbc changed while typing") << QStringLiteral("odbc") << int(ChangeWhileTyping);
    }
    void rowInHand()
    {
        QFETCH(QString, backend);
        QFETCH(int, kind);
        const bool typing = kind != 0 && kind != 2;
        const bool deleting = kind >= 2;
        Clienti c(backend, 2);
        TestUtil::startShown(c.editor, c.b.connection, c.b.folder(), QStringLiteral("CLI"), QStringLiteral("10"));
        if (typing)
            TestUtil::typeInto(c.editor, control(c.editor, QStringLiteral("TxtText2")), QStringLiteral("Verdi"));
        QVERIFY(c.editor.Modified() == typing);
        c.other({deleting ? QStringLiteral("DELETE FROM CLI WHERE CODICE = 10")
                          : QStringLiteral("UPDATE CLI SET FIDO = 999 WHERE CODICE = 10")});
        QTRY_VERIFY_WITH_TIMEOUT(c.noticeShows(), kWait);
        auto *differences = control<QPushButton>(c.editor, QStringLiteral("CmdVediModifiche"));
        QCOMPARE(differences->isVisible(), typing && !deleting);
        QCOMPARE(shown(c.editor, QStringLiteral("TxtText2")), typing ? QStringLiteral("Verdi") : QStringLiteral("Nome 10010"));
        if (!deleting && !typing) { // shown again as stored, told for a while
            QVERIFY(c.notice()->text().startsWith(u"Aggiornato da un altro utente alle "));
            QCOMPARE(shown(c.editor, QStringLiteral("TxtNumeric3")), QStringLiteral("999"));
            QVERIFY(!c.editor.Modified());
            QTRY_VERIFY_WITH_TIMEOUT(!c.noticeShows(), kWait);
            return;
        }
        if (!deleting) { // the values side by side; nothing saved, nothing typed lost
            QCOMPARE(c.notice()->text(), QStringLiteral("Il record è stato modificato da un altro utente"));
            QCOMPARE(shown(c.editor, QStringLiteral("TxtNumeric3")), QStringLiteral("100"));
            QStringList seen;
            TestUtil::answerConflicts([&] { differences->click(); },
                                      [&](QWidget *w) {
                                          for (const char *name : {"CmdChiudi", "CmdCopia", "CmdSovrascrivi", "CmdRicarica"})
                                              if (w->findChild<QWidget *>(QLatin1String(name))->isVisible())
                                                  seen << QLatin1String(name);
                                          QTest::keyClick(w, Qt::Key_Escape);
                                      });
            QCOMPARE(seen, (QStringList{"CmdChiudi", "CmdCopia"}));
            QCOMPARE(c.stored(QStringLiteral("NOME = 'Nome 10010' AND FIDO = 999")), 1);
            QVERIFY(c.editor.Modified() && c.noticeShows());
            return;
        }
        QCOMPARE(c.notice()->text(), QStringLiteral("Il record è stato eliminato da un altro utente"));
        QTRY_COMPARE(c.list()->count(), 1); // its line went
        if (!typing)
            return;
        const bool yes = kind == 4;
        m_messages->script({yes ? MsgAnswer::Yes : MsgAnswer::No});
        TestUtil::press(c.editor, 1);
        QCOMPARE(m_messages->messages().value(0).text,
                 QStringLiteral("Il record è stato eliminato da un altro utente. Salvarlo di nuovo come nuovo record?"));
        QCOMPARE(m_messages->messages().value(0).buttons, MsgButtons::YesNo); // whose safe answer, the default, is No
        QCOMPARE(c.stored(QStringLiteral("CODICE = 10 AND NOME = 'Verdi'")), yes ? 1 : 0);
        QCOMPARE(c.editor.Modified(), !yes);
        QCOMPARE(shown(c.editor, QStringLiteral("TxtText2")), QStringLiteral("Verdi"));
        QCOMPARE(c.noticeShows(), !yes);
        if (yes)
            QTRY_COMPARE(c.list()->count(), 2);
    }

    // A search's rows follow too; LiveUpdates off, nothing shows until it is turned on again.
    void searchAndSwitch_data() { TestUtil::backends("live", QList<QPair<const char *, bool>>{{"on", true}, {"off", false}}); }
    void searchAndSwitch()
    {
        QFETCH(QString, backend);
        QFETCH(bool, live);
        Clienti c(backend, 3);
        Norvix::Norvix host;
        host.setModale(false);
        host.setConnection(c.b.connection);
        host.setDscPath(c.b.folder());
        host.setRecordName(QStringLiteral("CLI"));
        host.setLiveUpdates(live);
        QVERIFY(host.ShowTableSearch(1, {QStringLiteral("Nome")}));
        FrmEditTab &editor = *host.TableEditor();
        auto *list = control<RecordListView>(editor, QStringLiteral("LstSelect"));
        QTRY_COMPARE(list->count(), 3);
        QVERIFY2(list->recordModel()->isSearch(), qPrintable(TestUtil::messageTexts(*m_messages).join(u'|')));
        c.other({QStringLiteral("INSERT INTO CLI VALUES (15, 'Nome nuovo', 1)"), QStringLiteral("DELETE FROM CLI WHERE CODICE = 30")});
        if (!live) {
            QTest::qWait(3 * 1000); // three polls of SQLite's change counter
            QCOMPARE(list->count(), 3);
            host.setLiveUpdates(true);
            c.other({QStringLiteral("UPDATE CLI SET FIDO = 2 WHERE CODICE = 15")});
        }
        QTRY_COMPARE_WITH_TIMEOUT(list->count(), 3, kWait);
        QTRY_COMPARE_WITH_TIMEOUT(list->recordModel()->keyAt(2), QVariantList{15}, kWait); // by name: 10010, 10020, nuovo
        QVERIFY(list->recordModel()->isSearch());
        host.CloseEditor();
    }

    // A detail's lines follow, unless they hold a change: then nothing typed is touched.
    void detailLines_data() { TestUtil::backends("changed", QList<QPair<const char *, bool>>{{"unchanged", false}, {"changed", true}}); }
    void detailLines()
    {
        QFETCH(QString, backend);
        QFETCH(bool, changed);
        Clienti c(backend, 1);
        c.b.exec({QStringLiteral("CREATE TABLE RIG (OID INTEGER NOT NULL, RIGA INTEGER NOT NULL, QTA INTEGER, PRIMARY KEY (OID, RIGA))"),
                  QStringLiteral("INSERT INTO RIG VALUES (10, 1, 1), (10, 2, 2)")});
        c.b.dsc(QString(kDsc).replace(QStringLiteral("INDICE,PK,+CODICE"), QStringLiteral("DETTAGLIO,1,RIG,Righe,1,CODICE,OID\nINDICE,PK,+CODICE"))
                + QStringLiteral("RECORD,RIG,Righe,1\nCAMPO,OID,Ordine,LONG,6\nCAMPO,RIGA,Riga,LONG,4\n"
                                 "CAMPO,QTA,Quantita,INTEGER,6\nINDICE,PK,+OID;+RIGA,-1,-1\n"));
        TestUtil::startShown(c.editor, c.b.connection, c.b.folder(), QStringLiteral("CLI"), QStringLiteral("10"));
        auto *grid = control<QTableView>(c.editor, QStringLiteral("GrdDettaglio1"));
        QTRY_COMPARE(grid->model()->rowCount(), 3); // the empty line last
        const int qta = 1; // the quantity's column (the link is not shown)
        if (changed) {
            grid->setCurrentIndex(grid->model()->index(0, qta));
            grid->setFocus();
            QTest::keyClick(QApplication::focusWidget(), '7'); // opens the cell's editor
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QTRY_COMPARE(grid->model()->index(0, qta).data().toString(), QStringLiteral("7"));
        }
        c.other({QStringLiteral("INSERT INTO RIG VALUES (10, 3, 3)"), QStringLiteral("UPDATE RIG SET QTA = 5 WHERE RIGA = 1")},
                QStringLiteral("RIG"));
        if (changed) {
            c.other({QStringLiteral("UPDATE CLI SET FIDO = 1 WHERE CODICE = 10")}); // seen once the notice shows
            QTRY_VERIFY_WITH_TIMEOUT(c.noticeShows(), kWait);
            QCOMPARE(grid->model()->rowCount(), 3);
            QCOMPARE(grid->model()->index(0, qta).data().toString(), QStringLiteral("7"));
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(grid->model()->rowCount(), 4, kWait);
            QCOMPARE(grid->model()->index(0, qta).data().toString(), QStringLiteral("5"));
        }
    }
};

QTEST_MAIN(TstLiveView)
#include "tst_liveview.moc"
