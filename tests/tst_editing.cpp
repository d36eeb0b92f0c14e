#include "editor/frmedittab.h"
#include "editordriver.h"
#include "anagrafica.h"
#include "editor/shared.h"
#include "platform/messages.h"
#include "platform/window.h"
#include "testutil.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlError>
#include <QSqlQuery>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QApplication>

using namespace Norvix;
using TestUtil::backends;
using TestUtil::control;
using TestUtil::shown;
using TestUtil::press;
using TestUtil::Data;
using TestUtil::leave;

namespace {

void type(FrmEditTab &editor, const QString &name, const QString &text)
{
    TestUtil::typeInto(editor, control<QLineEdit>(editor, name), text);
}

// Lines of a record RIGHE: a genre from a short list of integer codes (CmbBounded3) and an
// article from a large list completed as typed (CmbBounded4: 2,500 codes, some in mixed case).
void lines(Data &data)
{
    data.exec({"CREATE TABLE GENERI (ID INTEGER PRIMARY KEY, NOME VARCHAR(20))", "INSERT INTO GENERI VALUES (1, 'Rock'), (2, 'Jazz')",
               "CREATE TABLE ARTICOLI (COD VARCHAR(8) PRIMARY KEY, NOME VARCHAR(40))",
               "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2500) "
               "INSERT INTO ARTICOLI SELECT printf('%04d', i), 'Articolo ' || i FROM n",
               "INSERT INTO ARTICOLI VALUES ('AB01', 'Maiuscolo'), ('ab02', 'minuscolo'), ('Ab03', 'misto'), "
               "('abcdeX01', 'lungo'), ('ABCDEx02', 'lungo'), ('AbCdEf03', 'altro')",
               "CREATE TABLE RIGHE (ID INTEGER PRIMARY KEY, TITOLO VARCHAR(20), GENERE INTEGER, ART VARCHAR(8))",
               "INSERT INTO RIGHE VALUES (1, 'Primo', 1, '2007')"});
    data.dsc("RECORD,RIGHE,Righe,1\nCAMPO,ID,Id,LONG,4\nCAMPO,TITOLO,Titolo,TEXT,20\n"
             "CAMPO,GENERE,Genere,LONG,4,,,,,,GENERI,NOME,CMBBOUNDED\nCAMPO,ART,Articolo,TEXT,8,,,,,,ARTICOLI,NOME\n"
             "INDICE,PK,+ID,-1,-1\n");
}

} // namespace

class TstEditing : public QObject
{
    Q_OBJECT

    std::shared_ptr<RecordingMessageService> m_messages;

    QStringList texts() const { return TestUtil::messageTexts(*m_messages); }

    void open(FrmEditTab &editor, Data &data, const QString &record, std::optional<QString> key = std::nullopt)
    {
        TestUtil::startShown(editor, data.connection, data.folder(), record, key);
    }

private slots:
    void init() { m_messages = TestUtil::freshUser(); }
    void cleanup() { setMessageService(nullptr); }

    void newChangeDelete_data() { backends(); }
    void newChangeDelete()
    {
        QFETCH(QString, backend);
        Data data(backend);
        FrmEditTab editor;
        open(editor, data, QStringLiteral("CLIENTI"));

        press(editor, 0); // Nuovo
        type(editor, QStringLiteral("TxtNumeric1"), QStringLiteral("10"));
        type(editor, QStringLiteral("TxtText2"), QStringLiteral("Neri Srl"));
        type(editor, QStringLiteral("TxtNumeric7"), QStringLiteral("1234.5")); // a number field reads "." as decimal point
        editor.TabPage()->setCurrentIndex(1);
        type(editor, QStringLiteral("TxtDate5"), QStringLiteral("3/4/1990"));
        leave(editor);
        QCOMPARE(shown(editor, QStringLiteral("TxtDate5")), u"03/04/1990");
        press(editor, 1); // Conferma
        QVERIFY2(texts().isEmpty(), qPrintable(texts().join(u'|')));
        QCOMPARE(::Norvix::SharedSettings::process().lastInserted, u"10");
        QCOMPARE(data.scalar(QStringLiteral("SELECT NOME FROM CLIENTI WHERE CODICE = 10")).toString(), u"Neri Srl");
        QCOMPARE(data.scalar(QStringLiteral("SELECT FIDO FROM CLIENTI WHERE CODICE = 10")).toDouble(), 1234.5);
        QCOMPARE(data.scalar(QStringLiteral("SELECT NATO FROM CLIENTI WHERE CODICE = 10")).toDate(), QDate(1990, 4, 3));
        QVERIFY(!data.scalar(QStringLiteral("SELECT ULTMOD FROM CLIENTI WHERE CODICE = 10")).isNull()); // stamped
        QCOMPARE(editor.LstSelect()->count(), 4);

        // Change the row shown.
        const int line = editor.LstSelect()->count() - 1;
        editor.LstSelect()->setCurrentRow(line);
        QCOMPARE(shown(editor, QStringLiteral("TxtText2")), u"Neri Srl");
        type(editor, QStringLiteral("TxtText2"), QStringLiteral("Neri & Figli"));
        QVERIFY(editor.Modified());
        press(editor, 1);
        QVERIFY2(texts().isEmpty(), qPrintable(texts().join(u'|')));
        QCOMPARE(data.scalar(QStringLiteral("SELECT NOME FROM CLIENTI WHERE CODICE = 10")).toString(), u"Neri & Figli");
        QCOMPARE(data.scalar(QStringLiteral("SELECT FIDO FROM CLIENTI WHERE CODICE = 10")).toDouble(), 1234.5); // untouched
        QCOMPARE(editor.LstSelect()->currentRow(), line);
        QVERIFY(!editor.Modified());

        // Delete it.
        m_messages->script({MsgAnswer::Ok});
        press(editor, 3);
        QCOMPARE(texts(), QStringList({"Sicuro di voler eliminare\nil record ?"}));
        QCOMPARE(m_messages->messages().first().title, u"Elimazione record.");
        QCOMPARE(data.scalar(QStringLiteral("SELECT COUNT(*) FROM CLIENTI")).toInt(), 3);
        QCOMPARE(editor.LstSelect()->count(), 3);
    }

    // Keys the database numbers, the key field a counter or a number left empty: each new row,
    // once saved, shows as stored with its key, ready for a change, in an editor opened on a new
    // row and through Nuovo from a row shown.
    void databaseAssignedKeys_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("kind");
        for (const char *kind : {"AUTOINC", "LONG"})
            for (const auto &[backend, key] : {std::pair{"sqlite", "INTEGER PRIMARY KEY"}, {"postgresql", "SERIAL PRIMARY KEY"},
                                               {"postgresql", "INTEGER GENERATED ALWAYS AS IDENTITY PRIMARY KEY"}})
                QTest::addRow("%s %s %s", backend, key, kind) << backend << key << kind;
    }
    void databaseAssignedKeys()
    {
        QFETCH(QString, backend);
        QFETCH(QString, key);
        QFETCH(QString, kind);
        TestUtil::Backend data(backend);
        data.exec({"CREATE TABLE ARTISTI (ID " + key + ", NOME VARCHAR(40))", "INSERT INTO ARTISTI (NOME) VALUES ('Uno'), ('Due')"});
        data.dsc("RECORD,ARTISTI,Artisti,1\nCAMPO,ID,Codice," + kind + ",10\nCAMPO,NOME,Nome,TEXT,40\nINDICE,PK,+ID,-1,-1");
        const QString keyBox = kind == u"AUTOINC" ? "TxtText1" : "TxtNumeric1";
        const auto save = [&](FrmEditTab &editor, int id, const QString &name) {
            type(editor, "TxtText2", name);
            press(editor, 1);
            QVERIFY2(texts().isEmpty(), qPrintable(texts().join(u'|')));
            QCOMPARE(data.scalar("SELECT NOME FROM ARTISTI WHERE ID = ?", {id}).toString(), name);
            QCOMPARE(shown(editor, keyBox), QString::number(id));
            QCOMPARE(::Norvix::SharedSettings::process().lastInserted, QString::number(id));
            QVERIFY(!editor.CmdButton(1)->isVisible() && !editor.Modified() && control(editor, "TxtText2")->isEnabled());
            QTRY_COMPARE(editor.LstSelect()->lineAt(editor.LstSelect()->currentRow()), QStringLiteral("[%1] %2").arg(id).arg(name));
        };
        FrmEditTab opened; // on a new row, as --new opens it; the row saved is then changed
        TestUtil::startShown(opened, data.connection, data.folder(), "ARTISTI", QString());
        save(opened, 3, "Tre");
        save(opened, 3, "Tre e mezzo");
        QCOMPARE(data.scalar("SELECT COUNT(*) FROM ARTISTI").toInt(), 3);
        press(opened, 4);
        QVERIFY2(texts().isEmpty() && !opened.isVisible(), qPrintable(texts().join(u'|'))); // Fine asks nothing
        FrmEditTab browsing;
        TestUtil::startShown(browsing, data.connection, data.folder(), "ARTISTI");
        for (const int id : {4, 5}) {
            press(browsing, 0);
            if (kind == u"LONG") { // a number typed, then taken back: empty again, not 0
                type(browsing, keyBox, "7");
                type(browsing, keyBox, QString());
            }
            save(browsing, id, QStringLiteral("Artista %1").arg(id));
        }
    }

    void validationMessages()
    {
        Data data(QStringLiteral("sqlite"));
        FrmEditTab editor;
        open(editor, data, QStringLiteral("ORDINI"));
        editor.setWindowTitle(QStringLiteral("Ordini"));
        press(editor, 0);
        type(editor, QStringLiteral("TxtNumeric1"), QStringLiteral("1999")); // below its lower bound
        leave(editor);
        QCOMPARE(texts(), QStringList({"Valore di Anno non valido."}));
        QCOMPARE(m_messages->messages().first().title, u"Ordini");
        QVERIFY(control(editor, QStringLiteral("TxtNumeric1"))->hasFocus()); // back on the field
        m_messages->clear();
        type(editor, QStringLiteral("TxtNumeric1"), QStringLiteral("2024"));
        leave(editor);
        m_messages->clear();
        // Required at save time: a field with a lower bound (the customer lookup), left empty.
        press(editor, 1);
        QCOMPARE(texts().last(), u"Il campo Cliente è inesatto o mancante");
        QCOMPARE(data.scalar(QStringLiteral("SELECT COUNT(*) FROM ORDINI")).toInt(), 2);

        // A greyed check box is neither true nor false.
        Data clients(QStringLiteral("sqlite"));
        FrmEditTab other;
        open(other, clients, QStringLiteral("CLIENTI"));
        auto *attivo = control<QCheckBox>(other, QStringLiteral("ChkBoolean6"));
        attivo->setTristate(true);
        attivo->setCheckState(Qt::PartiallyChecked);
        m_messages->clear();
        other.CmdButton_Click(1);
        QCOMPARE(texts(), QStringList({"Il campo 'Attivo' è inesatto o mancante"}));
        // A required text left empty.
        attivo->setCheckState(Qt::Checked);
        m_messages->clear();
        type(other, QStringLiteral("TxtText2"), QString());
        press(other, 1);
        QCOMPARE(texts(), QStringList({"Il campo Ragione sociale è inesatto o mancante"}));
        const auto name = [&] { return clients.scalar(QStringLiteral("SELECT NOME FROM CLIENTI WHERE CODICE = 1")).toString(); };
        QCOMPARE(name(), u"Rossi Mario & figli");
        // Annulla shows the stored row again; with CloseOnConfirm a save closes the editor.
        press(other, 2);
        QCOMPARE(shown(other, QStringLiteral("TxtText2")), u"Rossi Mario & figli");
        QVERIFY(!other.Modified());
        ::Norvix::SharedSettings::process().closeOnConfirm = true;
        QSignalSpy closed(&other, &FrmEditTab::CloseEditor);
        type(other, QStringLiteral("TxtText2"), QStringLiteral("Chiuso"));
        press(other, 1);
        QCOMPARE(closed.count(), 1);
        QCOMPARE(name(), u"Chiuso");
    }

    // Data errors explained in the words of the record's key, titled with the window's title.
    void lookupDescriptionsAndErrorExplanations()
    {
        Data data(QStringLiteral("sqlite"));
        FrmEditTab editor;
        open(editor, data, QStringLiteral("COMUNI"));
        editor.setWindowTitle(QStringLiteral("Comuni"));
        const DataError primary(DataError::DuplicatePrimary, QStringLiteral("dup"));
        QVERIFY(editor.ErrorHandler(&primary));
        QCOMPARE(texts().last(), u"I campi (Provincia, Codice) sono campi univoci dell'indice di questo archivio. Esiste già un "
                                 u"indice composto da questi valori. Provare a cambiare uno o più valori.");
        QCOMPARE(m_messages->messages().last().title, u"Comuni");
        for (int number : {int(DataError::DuplicateUnique), int(DataError::IntegrityViolation)}) {
            const DataError unique(number, QStringLiteral("dup"));
            QVERIFY(editor.ErrorHandler(&unique));
            QCOMPARE(texts().last(), u"Il valore di uno dei campi immessi è di tipo univoco ed è\ngià presente nel database. "
                                     u"Modificare il valore e riprovare.");
        }
        QVERIFY(!editor.ErrorHandler(nullptr));
        m_messages->script({MsgAnswer::No});
        const DataError other(42, QStringLiteral("guasto"));
        QVERIFY(editor.ErrorHandler(&other)); // any other: asked whether to close, titled with its number
        QCOMPARE(m_messages->messages().last().title, u"Errore n° 42 - guasto");

        // Lookup descriptions on a new row of the same record.
        QCOMPARE(editor.LstSelect()->lineAt(0), u"[MI][A010] Abbiategrasso");
        press(editor, 0);
        type(editor, QStringLiteral("TxtText1"), QStringLiteral("to"));
        leave(editor);
        QCOMPARE(shown(editor, QStringLiteral("TxtDesc1")), u"Torino");
        type(editor, QStringLiteral("TxtText1"), QStringLiteral("zz")); // no such province: both boxes emptied
        leave(editor);
        QCOMPARE(shown(editor, QStringLiteral("TxtDesc1")), QString());
        QCOMPARE(shown(editor, QStringLiteral("TxtText1")), QString());
        // The key text of a new row joins its values with commas.
        type(editor, QStringLiteral("TxtText1"), QStringLiteral("TO"));
        type(editor, QStringLiteral("TxtText2"), QStringLiteral("L219"));
        type(editor, QStringLiteral("TxtText3"), QStringLiteral("Torino"));
        leave(editor);
        press(editor, 1);
        QCOMPARE(::Norvix::SharedSettings::process().lastInserted, u"TO,L219");
    }

    void fieldInputEvents()
    {
        Data data(QStringLiteral("sqlite"));
        data.exec({"CREATE TABLE SPECIALI (ID INTEGER PRIMARY KEY, T VARCHAR(20), N INTEGER, D DATE, F VARCHAR(200), "
                   "P VARCHAR(2), Q INTEGER, S VARCHAR(1))",
                   "INSERT INTO SPECIALI VALUES (1, 'a', 1, '2001-05-12', '', 'MI', 1, 'F')"});
        data.dsc("RECORD,SPECIALI,Speciali,1\nCAMPO,ID,Id,LONG,4\nCAMPO,T,Testo,TEXT,20,,,,,,,,SPECIALTXT\n"
                 "CAMPO,N,Numero,LONG,12,,,,,,,,SPECIALNUMERIC\nCAMPO,D,Data,DATE,,,,,,,,,SPECIALDATE\n"
                 "CAMPO,F,Allegato,TEXT,200,,,,,,,,TXTFILE\nCAMPO,P,Provincia,TEXT,2,,,,,,PROVINCE,NOME,SPECIALTXT\n"
                 "CAMPO,Q,Quale,LONG,4,,,,,,PROVINCE,NOME,SPECIALNUMERIC\nCAMPO,S,Sesso,TEXT,1\nINDICE,PK,+ID,-1,-1\n");
        FrmEditTab editor;
        open(editor, data, QStringLiteral("SPECIALI"));
        QStringList requests;
        connect(&editor, &FrmEditTab::ExternalHandler, this, [&](QWidget *field) {
            requests << field->objectName();
            if (auto *e = qobject_cast<QLineEdit *>(field))
                e->setText(QStringLiteral("  ") + e->text() + QStringLiteral("  ")); // only blanks: not a change
        });
        QTest::mouseDClick(control(editor, QStringLiteral("TxtText2")), Qt::LeftButton);
        QTest::mouseDClick(control(editor, QStringLiteral("TxtLabel3")), Qt::LeftButton); // the number's caption
        QTest::mouseDClick(control(editor, QStringLiteral("TxtLabel4")), Qt::LeftButton); // a date's caption: nothing
        QTest::mouseDClick(control(editor, QStringLiteral("TxtDate4")), Qt::LeftButton);
        editor.CTRLSETFOCUS(control(editor, QStringLiteral("TxtText2")));
        QTest::keyClick(control(editor, QStringLiteral("TxtText2")), Qt::Key_F2);
        // F2 in a description box asks for the text input of its field; a number's box asks nothing.
        for (const QString &box : {QStringLiteral("TxtDesc6"), QStringLiteral("TxtDesc7")}) {
            QTest::mouseClick(control(editor, box), Qt::LeftButton);
            QTRY_VERIFY(control(editor, box)->hasFocus());
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_F2);
        }
        QCOMPARE(requests, QStringList({"TxtText2", "TxtNumeric3", "TxtDate4", "TxtText2", "TxtText6"}));
        QVERIFY(!editor.Modified()); // the host changed only blanks

        // Key filters of numbers and dates.
        type(editor, QStringLiteral("TxtNumeric3"), QStringLiteral("-1.234,5"));
        QVERIFY(editor.Modified());
        QCOMPARE(shown(editor, QStringLiteral("TxtNumeric3")), u"-1.234,5");
        type(editor, QStringLiteral("TxtNumeric3"), QStringLiteral("1e3"));
        QCOMPARE(shown(editor, QStringLiteral("TxtNumeric3")), u"13");
        type(editor, QStringLiteral("TxtText8"), QStringLiteral("m")); // one letter: a capital
        leave(editor);
        QCOMPARE(shown(editor, QStringLiteral("TxtText8")), u"M");
        type(editor, QStringLiteral("TxtDate4"), QStringLiteral("12-05-2001"));
        QCOMPARE(shown(editor, QStringLiteral("TxtDate4")), u"12052001");

        // A file input is filled from the file dialog.
        auto dialogs = std::make_shared<RecordingFileDialogService>();
        dialogs->script({QStringLiteral("/srv/documenti/contratto.pdf")});
        setFileDialogService(dialogs);
        QTest::mouseDClick(control(editor, QStringLiteral("txtFile5")), Qt::LeftButton);
        QCOMPARE(dialogs->titles(), QStringList({"Seleziona un file"}));
        QCOMPARE(shown(editor, QStringLiteral("txtFile5")), u"/srv/documenti/contratto.pdf");
        setFileDialogService(nullptr);
    }

    void nestedEditorAddsAReferencedRow()
    {
        Data data(QStringLiteral("sqlite"));
        FrmEditTab editor;
        open(editor, data, QStringLiteral("CLIENTI"));
        auto *prov = control<QComboBox>(editor, QStringLiteral("CmbBounded3"));
        bool nestedShown = false;
        QTimer::singleShot(0, this, [&] {
            // The editor of PROVINCE, over this one: a new province, saved, then closed.
            FrmEditTab *nested = nullptr;
            for (QWidget *w : QApplication::topLevelWidgets())
                if (auto *e = qobject_cast<FrmEditTab *>(w); e && e != &editor && e->isVisible())
                    nested = e;
            if (!nested)
                return;
            nestedShown = nested->rec()->Nome() == u"PROVINCE";
            nested->CmdButton_Click(0);
            FrmEditTab::setControlText(nested->findChild<QLineEdit *>(QStringLiteral("TxtText1")), QStringLiteral("BO"));
            FrmEditTab::setControlText(nested->findChild<QLineEdit *>(QStringLiteral("TxtText2")), QStringLiteral("Bologna"));
            nested->CmdButton_Click(1);
            nested->close();
        });
        editor.CTRLSETFOCUS(prov);
        QTRY_VERIFY(prov->hasFocus());
        QTest::keyClick(prov->lineEdit(), Qt::Key_F2);
        QVERIFY(nestedShown);
        QVERIFY2(texts().isEmpty(), qPrintable(texts().join(u'|')));
        QCOMPARE(data.scalar(QStringLiteral("SELECT NOME FROM PROVINCE WHERE SIGLA = 'BO'")).toString(), u"Bologna");
        QCOMPARE(prov->count(), 4);
        QVERIFY(prov->findText(QStringLiteral("[BO] Bologna")) >= 0);
        QVERIFY(editor.Modified());
        QVERIFY(::Norvix::SharedSettings::process().editorVisible); // this editor is still open

        // The field holds 2 characters, but its combo takes words of the description, longer.
        prov->lineEdit()->setCursorPosition(prov->currentText().size());
        QTest::keyClicks(prov->lineEdit(), QStringLiteral("xy%"));
        QCOMPARE(prov->currentText(), u"[MI] Milanoxy%");
    }

    void largeLookupsCompleteAsTheUserTypes()
    {
        Data data(QStringLiteral("sqlite"));
        lines(data);
        FrmEditTab editor;
        open(editor, data, QStringLiteral("RIGHE"));
        auto *art = control<QComboBox>(editor, QStringLiteral("CmbBounded4"));
        QVERIFY(art->count() <= 100); // not the whole table
        QCOMPARE(art->currentText(), u"[2007] Articolo 2007"); // the row's own item, beyond the first listed
        editor.CTRLSETFOCUS(art);
        QTRY_VERIFY(art->hasFocus());
        art->lineEdit()->selectAll();
        QTest::keyClicks(art->lineEdit(), QStringLiteral("123"));
        QTRY_COMPARE(art->property("SearchedFor").toString(), u"123");
        QCOMPARE(art->count(), 13); // codes 1230 to 1239 first, then descriptions that contain the digits
        for (int i = 0; i < art->count(); ++i)
            QVERIFY2(art->itemText(i).startsWith(u"[123") == (i < 10), qPrintable(art->itemText(i)));
        QCOMPARE(art->itemText(10), u"[1123] Articolo 1123"); // by description
        // Letters match in any case.
        art->lineEdit()->selectAll();
        QTest::keyClicks(art->lineEdit(), QStringLiteral("ab"));
        QTRY_COMPARE(art->count(), 6);
        QTest::keyClicks(art->lineEdit(), QStringLiteral("cdEX")); // more than four letters
        QTRY_COMPARE(art->count(), 2);
        QCOMPARE(art->itemText(0), u"[ABCDEx02] lungo"); // in the key's order
        QCOMPARE(art->itemText(1), u"[abcdeX01] lungo");
        art->lineEdit()->selectAll();
        QTest::keyClicks(art->lineEdit(), QStringLiteral("123"));
        QTest::keyClicks(art->lineEdit(), QStringLiteral("4"));
        leave(editor);
        QCOMPARE(art->currentText(), u"[1234] Articolo 1234");
        QCOMPARE(shown(editor, QStringLiteral("TxtText4")), u"1234");
    }

    // Words of a description pick the one row they find, whether its matches were listed already
    // or not; text that finds several rows opens the list on them and says how many.
    void lookupTextPicksTheRowItFinds_data()
    {
        for (const char *column : {"combo", "typed", "said"})
            QTest::addColumn<QString>(column);
        QTest::addColumn<bool>("waits");
        QTest::addColumn<QVariant>("stored");
        const QString several = QStringLiteral("2 righe corrispondono a \"lungo\": sceglierne una dall'elenco.");
        const QString more = QStringLiteral("Più di 100 righe corrispondono a \"rticolo 1\": sceglierne una dall'elenco o scrivere di più.");
        QTest::newRow("whole description") << "CmbBounded4" << "articolo 1234" << "" << false << QVariant("1234");
        QTest::newRow("a word inside, listed") << "CmbBounded4" << "iuscol" << "" << true << QVariant("AB01");
        QTest::newRow("the whole description of one of several") << "CmbBounded4" << "MISTO" << "" << true << QVariant("Ab03");
        QTest::newRow("short list") << "CmbBounded3" << "jaz" << "" << false << QVariant(2);
        QTest::newRow("several") << "CmbBounded4" << "lungo" << several << true << QVariant("2007");
        QTest::newRow("more than listed") << "CmbBounded4" << "rticolo 1" << more << false << QVariant("2007");
    }
    void lookupTextPicksTheRowItFinds()
    {
        QFETCH(QString, combo);
        QFETCH(QString, typed);
        QFETCH(QString, said);
        QFETCH(bool, waits);
        QFETCH(QVariant, stored);
        Data data(QStringLiteral("sqlite"));
        lines(data);
        data.exec({"INSERT INTO ARTICOLI VALUES ('MI01', 'Misto lana')"});
        FrmEditTab editor;
        open(editor, data, QStringLiteral("RIGHE"));
        auto *box = control<QComboBox>(editor, combo);
        TestUtil::typeInto(editor, box, typed);
        if (waits)
            QTRY_COMPARE(box->property("SearchedFor").toString(), typed);
        leave(editor);
        QCOMPARE(texts().join(u'|'), said);
        if (!said.isEmpty()) {
            QCOMPARE(box->currentText(), typed);
            QTRY_VERIFY(box->view()->isVisible()); // the list, open on the rows found
            QCOMPARE(box->count(), said.startsWith(u"2 ") ? 2 : 100);
            box->hidePopup();
        }
        press(editor, 1);
        QCOMPARE(data.scalar(QStringLiteral("SELECT %1 FROM RIGHE").arg(combo.endsWith(u'3') ? "GENERE" : "ART")),
                 stored);
    }

    // A lookup text that matches nothing stays in the combo and is never saved, on a short list or
    // a large one; Esc brings the stored value back, and the row is unchanged if nothing else is.
    void unmatchedLookupIsNeverSaved_data()
    {
        QTest::addColumn<QString>("combo");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<bool>("otherEdited");
        QTest::newRow("short, integer codes") << "CmbBounded3" << "Genere" << true;
        QTest::newRow("large, text codes") << "CmbBounded4" << "Articolo" << false;
    }
    void unmatchedLookupIsNeverSaved()
    {
        QFETCH(QString, combo);
        QFETCH(QString, caption);
        QFETCH(bool, otherEdited);
        Data data(QStringLiteral("sqlite"));
        lines(data);
        FrmEditTab editor;
        open(editor, data, QStringLiteral("RIGHE"));
        const auto stored = [&] { return data.rows(QStringLiteral("SELECT TITOLO, GENERE, ART FROM RIGHE")).value(0); };
        const QVariantList before = stored();
        auto *box = control<QComboBox>(editor, combo);
        const QString item = box->currentText();
        if (otherEdited)
            type(editor, QStringLiteral("TxtText2"), QStringLiteral("Secondo"));
        TestUtil::typeInto(editor, box, QStringLiteral("zzz"));
        leave(editor);
        const QString invalid = QStringLiteral("Valore di %1 non valido.").arg(caption);
        QCOMPARE(texts(), QStringList({invalid}));
        press(editor, 1); // leaving the combo tells again, then the save is refused
        QCOMPARE(texts().last(), invalid);
        QVERIFY(box->hasFocus() && box->currentText() == u"zzz");
        QCOMPARE(stored(), before);
        QTest::keyClick(box->lineEdit(), Qt::Key_Escape);
        QVERIFY(editor.isVisible() && box->currentText() == item);
        QCOMPARE(editor.Modified(), otherEdited);
        if (otherEdited)
            press(editor, 1);
        QCOMPARE(stored(), QVariantList({otherEdited ? "Secondo" : "Primo", before.value(1), before.value(2)}));
    }

    // Lookups without a primary key, in another file, and "--Altro--" answered by the host.
    void otherLookupRequests()
    {
        Data data(QStringLiteral("sqlite"));
        data.exec({"CREATE TABLE SENZAINDICE (COD VARCHAR(4), NOME VARCHAR(20))",
                   "CREATE TABLE ZONE (COD VARCHAR(4) PRIMARY KEY, NOME VARCHAR(20))", "INSERT INTO ZONE VALUES ('N', 'Nord')",
                   "CREATE TABLE INDICIZZATA (NOME VARCHAR(20), COD VARCHAR(4))", "CREATE INDEX per_cod ON INDICIZZATA (COD)",
                   "CREATE INDEX per_nome ON INDICIZZATA (NOME)", "INSERT INTO INDICIZZATA VALUES ('Uno', 'U')",
                   "CREATE TABLE VISITE (ID INTEGER PRIMARY KEY, ZONA VARCHAR(4), ALTRO VARCHAR(4), TERZO VARCHAR(4), "
                   "VALUTA VARCHAR(3))",
                   "INSERT INTO VISITE VALUES (1, 'N', NULL, 'U', 'CHF')"});
        TestUtil::createSqlite(data.folder() + QStringLiteral("/tabelle.db"),
                               {"CREATE TABLE VALUTE (SIGLA VARCHAR(3) PRIMARY KEY, NOME VARCHAR(20))",
                                "INSERT INTO VALUTE VALUES ('EUR', 'Euro'), ('CHF', 'Franco svizzero')"});
        data.dsc("RECORD,VISITE,Visite,1\nCAMPO,ID,Id,LONG,4\nCAMPO,ZONA,Zona,TEXT,4,,,,,,ZONE,NOME,SPECIALCOMBO\n"
                 "CAMPO,ALTRO,Altro,TEXT,4,,,,,,SENZAINDICE,NOME,CMBBOUNDED\n"
                 "CAMPO,TERZO,Terzo,TEXT,4,,,,,,INDICIZZATA,NOME,CMBBOUNDED\n"
                 "CAMPO,VALUTA,Valuta,TEXT,3,,,,,tabelle.db,VALUTE,NOME,CMBBOUNDED\nINDICE,PK,+ID,-1,-1\n");
        FrmEditTab editor;
        editor.START(data.connection, data.folder(), QString(), QStringLiteral("VISITE"), QString(), QString(), false);
        QCOMPARE(texts(), QStringList({"Indice della tabella SENZAINDICE non trovato."}));
        m_messages->clear();
        editor.show();
        QVERIFY(QTest::qWaitForWindowActive(&editor));
        // Without a primary key, the first index of the table gives the code.
        QCOMPARE(control<QComboBox>(editor, QStringLiteral("CmbBounded4"))->currentText(), u"[U] Uno");
        // A lookup table in another database file of the folder.
        auto *valuta = control<QComboBox>(editor, QStringLiteral("CmbBounded5"));
        QVERIFY(valuta->count() == 2 && valuta->currentText() == u"[CHF] Franco svizzero");
        auto *zona = control<QComboBox>(editor, QStringLiteral("CmbBounded2"));
        QCOMPARE(zona->itemText(0), u"--Altro--");
        QCOMPARE(zona->itemText(1), u"[N] Nord");

        // "--Altro--": the host adds a row and answers its code; the list shows it.
        int requests = 0;
        connect(&editor, &FrmEditTab::ExternalHandler, this, [&](QWidget *field) {
            ++requests;
            QSqlQuery(data.conn->database()).exec(QStringLiteral("INSERT OR IGNORE INTO ZONE VALUES ('S', 'Sud')"));
            FrmEditTab::setControlText(field, QStringLiteral("S"));
        });
        editor.CTRLSETFOCUS(zona);
        zona->setCurrentIndex(0);
        editor.CmbBounded_Click(2);
        QCOMPARE(requests, 1);
        QVERIFY(zona->findText(QStringLiteral("[S] Sud")) >= 0);
        QCOMPARE(shown(editor, QStringLiteral("TxtText2")), u"S");
        QVERIFY(editor.Modified());
        // Every key released in such a combo asks the host again.
        QTest::keyClick(zona->lineEdit(), Qt::Key_Right);
        QCOMPARE(requests, 2);
    }
};

QTEST_MAIN(TstEditing)
#include "tst_editing.moc"
