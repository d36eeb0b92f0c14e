// Finding rows: the search panel, its results in the list, typing in the list, and the export.

#include "anagrafica.h"
#include "control/norvix.h"
#include "editor/frmedittab.h"
#include "editor/recordlist.h"
#include "editor/recordlistview.h"
#include "editor/shared.h"
#include "editordriver.h"
#include "platform/messages.h"
#include "platform/window.h"

#include <QComboBox>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace Norvix;
using namespace TestUtil;

namespace {

// The sample customers and 300 more ("Cliente 010" .. "Cliente 309"), some with texts that a CSV
// file has to quote.
void addCustomers(Data &db)
{
    db.exec({QStringLiteral("INSERT INTO CLIENTI (CODICE, NOME, PROV, FIDO) WITH RECURSIVE s(n) AS (SELECT 10 UNION ALL "
                            "SELECT n + 1 FROM s WHERE n < 309) SELECT n, 'Cliente ' || n, CASE WHEN n % 2 = 0 THEN "
                            "'MI' ELSE 'RM' END, n FROM s"),
             QStringLiteral("INSERT INTO CLIENTI (CODICE, NOME, PROV, NOTE) VALUES (4, 'Punto; \"virgola\"', 'TO', "
                            "'due' || char(13) || char(10) || 'righe')")
                 .replace(QStringLiteral("char("), db.sqlite ? QStringLiteral("char(") : QStringLiteral("chr("))});
}

// The lines of the list as a search shows them: each row's cells.
QList<QStringList> rowsOf(RecordListView *list)
{
    QList<QStringList> rows;
    QAbstractItemModel *m = list->model();
    for (int r = 0; r < m->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < m->columnCount(); ++c)
            cells << m->index(r, c).data().toString();
        rows << cells;
    }
    return rows;
}

} // namespace

class TstSearch : public QObject
{
    Q_OBJECT

    std::shared_ptr<RecordingMessageService> m_messages;

private slots:
    void init()
    {
        m_messages = freshUser();
        ::Norvix::SharedSettings::process().editorVisible = false;
    }
    void cleanup() { setMessageService(nullptr); }

    void panelFindsAndEnds_data() { backends(); }
    void panelFindsAndEnds()
    {
        QFETCH(QString, backend);
        Data db(backend);
        addCustomers(db);
        FrmEditTab editor;
        startShown(editor, db.connection, db.folder(), "CLIENTI", QStringLiteral("3"));
        auto *list = control<RecordListView>(editor, "LstSelect");
        auto *panel = control<QFrame>(editor, "FraRicerca");
        const int wholeTable = db.scalar("SELECT COUNT(*) FROM CLIENTI").toInt();
        QTRY_COMPARE(list->count(), wholeTable);
        QVERIFY(!panel->isVisible());
        const QRect listBefore = list->geometry();

        // Ctrl+F from a field: the panel over the list, which gives it room.
        QTest::keyClick(control(editor, "TxtText2"), Qt::Key_F, Qt::ControlModifier);
        QVERIFY(panel->isVisible());
        QVERIFY(panel->geometry().bottom() < list->geometry().top());
        QVERIFY(list->height() >= 8 * list->verticalHeader()->defaultSectionSize()); // eight lines still
        auto *layouts = control<QComboBox>(editor, "CboRicerca");
        QCOMPARE(layouts->count(), 2);
        QCOMPARE(layouts->currentText(), QStringLiteral("Per ragione sociale"));
        auto *name = control<QLineEdit>(editor, "Ricerca0");
        QVERIFY(name->hasFocus());
        const auto caption = [&](QWidget *input) {
            for (auto *l : editor.findChildren<QLabel *>())
                if (l->buddy() == input)
                    return l->text();
            return QString();
        };
        QCOMPARE(caption(name), QStringLiteral("Ragione sociale contiene"));

        // Enter finds; it presses no button of the editor.
        typeKeys(name, QStringLiteral("ROSSI"));
        QTest::keyClick(name, Qt::Key_Return);
        auto *found = control<QLabel>(editor, "LblTrovati");
        QTRY_COMPARE(found->text(), QStringLiteral("Trovati 1"));
        QVERIFY(m_messages->messages().isEmpty());
        QVERIFY(!editor.Modified() && editor.isVisible());
        QVERIFY(list->horizontalHeader()->isVisible());
        QCOMPARE(list->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Ragione sociale"));
        QCOMPARE(rowsOf(list), (QList<QStringList>{{"Rossi Mario & figli", "1"}}));

        // A result selected shows its row; saved so that it no longer matches, it stays.
        list->setCurrentRow(0);
        QCOMPARE(shown(editor, "TxtText2"), QStringLiteral("Rossi Mario & figli"));
        typeInto(editor, control(editor, "TxtText2"), QStringLiteral("Gialli Mario"));
        leave(editor);
        press(editor, 1);
        QCOMPARE(db.scalar("SELECT NOME FROM CLIENTI WHERE CODICE = 1").toString(), QStringLiteral("Gialli Mario"));
        QCOMPARE(rowsOf(list), (QList<QStringList>{{"Gialli Mario", "1"}}));

        // Another layout: a lookup typed as a bare code in any case.
        layouts->setCurrentIndex(1);
        emit layouts->activated(1);
        auto *province = control<QComboBox>(editor, "Ricerca0");
        QCOMPARE(caption(province), QStringLiteral("Provincia ="));
        QVERIFY(province->findText(QStringLiteral("[MI] Milano")) >= 0);
        province->setEditText(QStringLiteral("mi"));
        QTest::keyClick(province->lineEdit(), Qt::Key_Enter);
        const int inMilan = db.scalar("SELECT COUNT(*) FROM CLIENTI WHERE PROV = 'MI'").toInt();
        QTRY_COMPARE(found->text(), QStringLiteral("Trovati %1").arg(inMilan));
        QCOMPARE(list->count(), inMilan);
        QCOMPARE(rowsOf(list).first(), (QStringList{"MI", "Gialli Mario"})); // by the first column, then the key
        QTRY_COMPARE(rowsOf(list).last(), (QStringList{"MI", "Cliente 308"}));

        // A deleted result leaves the results.
        list->setCurrentRow(1);
        const QVariantList deleted = list->keyAt(1);
        m_messages->script({MsgAnswer::Ok}); // "Sicuro di voler eliminare il record ?"
        press(editor, 3);
        QVERIFY2(m_messages->messages().size() == 1, qPrintable(messageTexts(*m_messages).join(u'|')));
        QCOMPARE(db.scalar("SELECT COUNT(*) FROM CLIENTI WHERE CODICE = ?", deleted).toInt(), 0);
        QTRY_COMPARE(list->count(), inMilan - 1);
        QVERIFY(!rowsOf(list).contains(QStringList{"MI", "Cliente 10"}));

        // Esc ends the search: the whole list, on the row shown.
        list->setCurrentRow(0);
        const QString shownName = shown(editor, "TxtText2");
        province->setFocus();
        QTest::keyClick(province, Qt::Key_Escape);
        QVERIFY(editor.isVisible() && !panel->isVisible());
        QVERIFY(!list->horizontalHeader()->isVisible());
        QCOMPARE(list->geometry(), listBefore);
        QTRY_COMPARE(list->count(), wholeTable - 1);
        QTRY_COMPARE(list->lineAt(list->currentRow()), QStringLiteral("[1] ") + shownName);

        // Esc right after Enter gives the search up: the whole list at once, nothing of it later.
        QTest::keyClick(control(editor, "TxtText2"), Qt::Key_F, Qt::ControlModifier);
        province->setEditText(QStringLiteral("rm"));
        QTest::keyClick(province->lineEdit(), Qt::Key_Return);
        QTest::keyClick(province->lineEdit(), Qt::Key_Escape);
        QVERIFY(!list->recordModel()->isSearch() && !panel->isVisible());
        QTest::qWait(300);
        QVERIFY(found->text().isEmpty() && !list->recordModel()->isSearch());
        QCOMPARE(list->count(), wholeTable - 1);

        // A result chosen, then Tutti: the whole list on its line, the fields showing its row.
        QTest::keyClick(control(editor, "TxtText2"), Qt::Key_F, Qt::ControlModifier);
        QTest::keyClick(province->lineEdit(), Qt::Key_Return);
        QTRY_VERIFY(list->count() > 3);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(list->model()->index(3, 0)).center());
        const QString chosen = shown(editor, "TxtNumeric1") + ' ' + shown(editor, "TxtText2");
        QTest::mouseClick(control(editor, "CmdTutti"), Qt::LeftButton);
        QTRY_VERIFY(list->currentRow() >= 0);
        QCOMPARE(list->lineAt(list->currentRow()), '[' + chosen.section(' ', 0, 0) + "] " + chosen.section(' ', 1));
        QCOMPARE(shown(editor, "TxtNumeric1") + ' ' + shown(editor, "TxtText2"), chosen);
    }

    // Typing in the list; the rows found, or the whole table, as a CSV file a spreadsheet under
    // Italian settings reads.
    void exportWritesCsv_data() { backends(); }
    void exportWritesCsv()
    {
        QFETCH(QString, backend);
        Data db(backend);
        addCustomers(db);
        auto files = std::make_shared<RecordingFileDialogService>();
        setFileDialogService(files);
        FrmEditTab editor;
        startShown(editor, db.connection, db.folder(), "CLIENTI");
        // Letters typed in the list go to the first line whose description starts with them, past
        // the lines read so far.
        auto *list = control<RecordListView>(editor, "LstSelect");
        list->setFocus();
        QTest::keyClicks(list, QStringLiteral("cliente 29"));
        QTRY_COMPARE(list->lineAt(list->currentRow()), QStringLiteral("[29] Cliente 29"));
        QCOMPARE(shown(editor, "TxtText2"), QStringLiteral("Cliente 29"));
        QTest::qWait(1100); // a pause starts the text again
        QTest::keyClicks(list, QStringLiteral("VER"));
        QTRY_COMPARE(list->lineAt(list->currentRow()), QStringLiteral("[3] Verdi & C."));
        editor.Search(1, {}); // every row
        auto *found = control<QLabel>(editor, "LblTrovati");
        QTRY_VERIFY(found->text().startsWith(u"Trovati"));
        const QString path = QDir(db.folder()).filePath(QStringLiteral("clienti"));
        files->script({path, QString()});
        QTest::mouseClick(control<QPushButton>(editor, "CmdEsporta"), Qt::LeftButton);
        QCOMPARE(files->titles(), QStringList{"Esporta"});
        const int rows = db.scalar("SELECT COUNT(*) FROM CLIENTI").toInt();
        QCOMPARE(found->text(), QStringLiteral("Esportate %1 righe").arg(rows));
        // UTF-8 with a byte-order mark, ";" between fields, CR LF after every line, quotes where needed.
        const auto csv = [](const QString &file) {
            QFile f(file);
            const QByteArray bytes = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
            return bytes.startsWith("\xEF\xBB\xBF") ? QString::fromUtf8(bytes.mid(3)) : QString();
        };
        const QString results = csv(path + QStringLiteral(".csv"));
        QVERIFY(results.startsWith(u"Ragione sociale;Codice\r\n"));
        QCOMPARE(results.count(QStringLiteral("\r\n")), rows + 1);
        QCOMPARE(results.count(u'\n'), rows + 1);
        QVERIFY(results.contains(u"\r\n\"Punto; \"\"virgola\"\"\";4\r\n"));

        // With no search, every field of the whole table, in its picture; a cancel writes nothing.
        QTest::keyClick(control(editor, "Ricerca0"), Qt::Key_Escape);
        editor.Search(1, {}); // the panel back, to reach its button
        QTest::keyClick(control(editor, "CmdTutti"), Qt::Key_Space);
        QTest::mouseClick(control<QPushButton>(editor, "CmdCerca"), Qt::LeftButton);
        files->script({path + QStringLiteral("-tutto.csv")});
        QTest::mouseClick(control<QPushButton>(editor, "CmdEsporta"), Qt::LeftButton);
        const QString table = csv(path + QStringLiteral("-tutto.csv"));
        QVERIFY(table.startsWith(u"Codice;Ragione sociale;"));
        QCOMPARE(table.count(QStringLiteral("\r\n")), rows + 2); // one inside a quoted note
        QVERIFY(table.contains(QRegularExpression(QStringLiteral("\r\n1;Rossi Mario & figli;[^\r]*12/05/1970;[^\r]*;Cliente storico;"))));
        QVERIFY(table.contains(u";\"due\r\nrighe\";"));
        const QStringList before = QDir(db.folder()).entryList(QDir::Files);
        files->script({});
        QTest::mouseClick(control<QPushButton>(editor, "CmdEsporta"), Qt::LeftButton);
        QCOMPARE(QDir(db.folder()).entryList(QDir::Files), before);
        setFileDialogService(nullptr);
    }

    // A record without search layouts gets one over its key; a number input takes only a number.
    void keyLayoutWithoutSearchLines()
    {
        Data db(QStringLiteral("sqlite"));
        FrmEditTab editor;
        startShown(editor, db.connection, db.folder(), "ORDINI");
        QTest::mouseClick(control<QPushButton>(editor, "CmdCerca"), Qt::LeftButton);
        auto *layouts = control<QComboBox>(editor, "CboRicerca");
        QCOMPARE(layouts->count(), 1);
        QCOMPARE(layouts->currentText(), QStringLiteral("Per chiave"));
        auto *year = control<QLineEdit>(editor, "Ricerca0");
        QCOMPARE(year->accessibleName(), QStringLiteral("Anno ="));
        QCOMPARE(control<QLineEdit>(editor, "Ricerca1")->accessibleName(), QStringLiteral("Numero ="));
        QTest::keyClicks(year, QStringLiteral("20a24"));
        QCOMPARE(year->text(), QStringLiteral("2024"));
        QTest::keyClick(year, Qt::Key_Return);
        QTRY_COMPARE(control<QLabel>(editor, "LblTrovati")->text(), QStringLiteral("Trovati 2"));
        QCOMPARE(rowsOf(control<RecordListView>(editor, "LstSelect")), (QList<QStringList>{{"2024", "1"}, {"2024", "2"}}));
    }

    // The panel's lookups search as the editor's do: a dependent one lists only the rows of the
    // value in its source's input, and words of a description that find one row stand for it.
    void panelLookupsSearchLikeTheEditors()
    {
        Data db(QStringLiteral("sqlite"));
        db.dsc(QString::fromUtf8(TestUtil::readFile(db.folder() + "/files.dsc"))
                   .replace("RICERCA,2,SELEZIONE,PROV,CMBBOUNDED,=\n",
                            "RICERCA,2,SELEZIONE,PROV,CMBBOUNDED,=\nRICERCA,3,MOSTRA,Per comune,NOME,CODICE\n"
                            "RICERCA,3,SELEZIONE,PROV,CMBBOUNDED,=\nRICERCA,3,SELEZIONE,COMUNE,CMBBOUNDED,=\n"));
        FrmEditTab editor;
        startShown(editor, db.connection, db.folder(), "CLIENTI");
        QVERIFY(editor.Search(3, {"[MI] Milano"}));
        auto *comune = control<QComboBox>(editor, "Ricerca1");
        const auto listed = [comune] {
            QStringList items;
            for (int i = 0; i < comune->count(); ++i)
                items << comune->itemText(i);
            return items;
        };
        TestUtil::typeInto(editor, comune, QStringLiteral("tor"));
        QTRY_COMPARE(listed(), QStringList()); // Torino is not in Milan's province
        comune->lineEdit()->clear();
        TestUtil::typeInto(editor, comune, QStringLiteral("abbia"));
        QTRY_COMPARE(listed(), QStringList({"[A010] Abbiategrasso"}));
        comune->setEditText(QStringLiteral("MILANO"));
        QTest::keyClick(comune->lineEdit(), Qt::Key_Return);
        QTRY_COMPARE(control<QLabel>(editor, "LblTrovati")->text(), QStringLiteral("Trovati 1"));
        QCOMPARE(comune->currentText(), u"[F205] Milano");
    }

    // A host opens the editor on a search.
    void hostOpensOnASearch()
    {
        Data db(QStringLiteral("sqlite"));
        QWidget host;
        Norvix::Norvix norvix(&host);
        norvix.setConnection(db.connection);
        norvix.setDscPath(db.folder());
        norvix.setRecordName(QStringLiteral("CLIENTI"));
        norvix.setModale(false);
        QVERIFY(norvix.ShowTableSearch(2, {"[RM] Roma"}));
        FrmEditTab *editor = norvix.TableEditor();
        QVERIFY(editor && control<QFrame>(*editor, "FraRicerca")->isVisible());
        QTRY_COMPARE(control<QLabel>(*editor, "LblTrovati")->text(), QStringLiteral("Trovati 1"));
        QCOMPARE(control<QComboBox>(*editor, "Ricerca0")->currentText(), QStringLiteral("[RM] Roma"));
        QVERIFY(!norvix.ShowTableSearch(1, {})); // one open already
        editor->close();
        QVERIFY(norvix.ShowTableSearch(9, {}));  // no such layout: the editor opens, the user told
        QVERIFY(m_messages->messages().last().text.contains(u"La ricerca 9 non esiste"));
        norvix.CloseEditor();
    }
};

QTEST_MAIN(TstSearch)
#include "tst_search.moc"
