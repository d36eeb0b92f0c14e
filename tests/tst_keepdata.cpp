// Everyday editing keeps what the user typed and changes nothing the user did not change: dependent
// lookups passed through, questions never answered for the user, refused rows, memo lengths,
// numbers in the regional form. Each case drives a shown editor and reads the stored row back.

#include "anagrafica.h"
#include "editordriver.h"
#include "platform/waiting.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTableWidget>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QTimer>

#include <csignal>

using namespace Norvix;
using TestUtil::control;
using TestUtil::shown;
using TestUtil::Data;
using TestUtil::leave;
using TestUtil::press;

namespace {

void type(FrmEditTab &editor, QWidget *w, const QString &text)
{
    TestUtil::typeInto(editor, w, text);
}

// The answer that the first button of a set gives: the one that drops data.
MsgAnswer firstOf(MsgButtons set)
{
    return set == MsgButtons::OkCancel ? MsgAnswer::Ok : MsgAnswer::Yes;
}

// A refused row: a new one or a change, the field, the refused value, the fix, the message.
struct Refusal
{
    bool adding;
    QString field, wrong, fix, message;
};

// A date or time typed into a field of a picture, over what the row stored ("" for NULL); an
// empty `typed` edits another field; an empty `expected` is a value refused when left.
struct TimeCase
{
    QString column, picture, stored, typed, expected;
};

struct NumberCase
{
    QString input, typed, looks;
    double stored;
};

} // namespace

Q_DECLARE_METATYPE(NumberCase)
Q_DECLARE_METATYPE(TimeCase)
Q_DECLARE_METATYPE(Refusal)

class TstKeepData : public QObject
{
    Q_OBJECT

    std::shared_ptr<RecordingMessageService> m_messages;
    QStringList said() const { return TestUtil::messageTexts(*m_messages); }

private slots:
    void init() { m_messages = TestUtil::freshUser(); }
    void cleanup() { setMessageService(nullptr); }

    // Passing through the source of a dependent lookup leaves the dependent value alone; changing
    // it keeps the dependent value when the new source still lists it.
    void dependentLookupKeepsItsValue_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("gesture");
        QTest::addColumn<QString>("stored");
        for (const char *backend : {"sqlite", "postgresql"}) {
            QTest::addRow("%s popup closed with Esc", backend) << backend << "popup" << "MI/F205";
            QTest::addRow("%s tab through", backend) << backend << "tab" << "MI/F205";
            QTest::addRow("%s same code typed", backend) << backend << "MI" << "MI/F205";
            QTest::addRow("%s province that lists the town", backend) << backend << "BG" << "BG/F205";
            QTest::addRow("%s province that does not", backend) << backend << "TO" << "TO/";
        }
    }
    void dependentLookupKeepsItsValue()
    {
        QFETCH(QString, backend);
        QFETCH(QString, gesture);
        QFETCH(QString, stored);
        Data data(backend);
        data.exec({"INSERT INTO PROVINCE VALUES ('BG', 'Bergamo')", "INSERT INTO COMUNI VALUES ('BG', 'F205', 'Omonimo')"});
        FrmEditTab editor;
        TestUtil::startShown(editor, data.connection, data.folder(), QStringLiteral("CLIENTI"));
        auto *prov = control<QComboBox>(editor, QStringLiteral("CmbBounded3"));
        QCOMPARE(shown(editor, QStringLiteral("TxtText4")), u"F205");
        editor.CTRLSETFOCUS(prov);
        QTRY_VERIFY(prov->hasFocus());
        if (gesture == u"popup") {
            prov->showPopup();
            QTRY_VERIFY(prov->view()->isVisible());
            QTest::keyClick(prov->view(), Qt::Key_Escape);
            QTRY_VERIFY(!prov->view()->isVisible());
        } else if (gesture != u"tab") {
            type(editor, prov, gesture);
        }
        leave(editor);
        type(editor, control(editor, QStringLiteral("TxtText2")), QStringLiteral("Rossi"));
        press(editor, 1);
        QVERIFY2(said().isEmpty(), qPrintable(said().join(u'|')));
        const QString sql = "SELECT PROV || '/' || COALESCE(COMUNE, '') || '/' || NOME FROM CLIENTI WHERE CODICE = 1";
        QCOMPARE(data.scalar(sql).toString(), stored + "/Rossi");
    }

    // With no service installed by the host, questions are real message boxes, and Enter or Esc
    // on them keeps the data. A service that cannot ask keeps it too.
    void questionsAreAskedAndKeepData_data()
    {
        QTest::addColumn<QString>("question");
        QTest::addColumn<int>("key");
        for (const auto &[name, key] : {std::pair{"Enter", Qt::Key_Return}, std::pair{"Esc", Qt::Key_Escape}}) {
            QTest::addRow("delete, %s", name) << "delete" << int(key);
            QTest::addRow("new row over changes, %s", name) << "new" << int(key);
            QTest::addRow("move away from changes, %s", name) << "move" << int(key);
            QTest::addRow("close over changes, %s", name) << "close" << int(key);
            QTest::addRow("unexpected error, %s", name) << "error" << int(key);
        }
    }
    void questionsAreAskedAndKeepData()
    {
        QFETCH(QString, question);
        QFETCH(int, key);
        setMessageService(nullptr); // what a host that installs nothing gets
        Data data(QStringLiteral("sqlite"));
        FrmEditTab editor;
        TestUtil::startShown(editor, data.connection, data.folder(), QStringLiteral("CLIENTI"));
        if (question != u"delete")
            type(editor, control(editor, QStringLiteral("TxtText2")), QStringLiteral("Nuovo nome"));
        QString asked;
        QTimer::singleShot(0, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            asked = box->text();
            QTest::keyClick(box, Qt::Key(key));
        });
        if (question == u"delete") {
            editor.CmdButton_Click(3);
        } else if (question == u"new") {
            editor.CmdButton_Click(0);
        } else if (question == u"move") {
            editor.CmdButton_Click(8);
        } else if (question == u"close") {
            editor.close();
        } else {
            const DataError failure(42, QStringLiteral("guasto"));
            QVERIFY(editor.ErrorHandler(&failure)); // No: the editor stays
        }
        QVERIFY2(!asked.isEmpty(), "no message box was shown");
        QVERIFY(editor.isVisible());
        QCOMPARE(data.scalar(QStringLiteral("SELECT COUNT(*) FROM CLIENTI")).toInt(), 3);
        if (question != u"delete") {
            QVERIFY(editor.Modified());
            QCOMPARE(shown(editor, QStringLiteral("TxtText2")), u"Nuovo nome");
        }

        if (question == u"error") { // Yes ends the editor, and says so
            QSignalSpy closed(&editor, &FrmEditTab::CloseEditor);
            QTimer::singleShot(0, this, [] {
                if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
                    box->button(QMessageBox::Yes)->click();
            });
            const DataError failure(42, QStringLiteral("guasto"));
            QVERIFY(!editor.ErrorHandler(&failure));
            QCOMPARE(closed.count(), 1);
            QVERIFY(!editor.isVisible());
        }

        // Services that cannot ask take the answer that keeps data.
        if (QTest::currentDataTag() == QLatin1String("delete, Enter"))
            for (MsgButtons set : {MsgButtons::OkCancel, MsgButtons::YesNo, MsgButtons::YesNoCancel})
                QVERIFY(StderrMessageService().show({QStringLiteral("?"), {}, set}) != firstOf(set)
                        && RecordingMessageService().show({QStringLiteral("?"), {}, set}) != firstOf(set));
    }

    // A row the database refuses (a duplicate key, a unique index, NOT NULL, CHECK, FOREIGN KEY,
    // a column the editor does not show) is explained, by the field's caption where the database
    // tells which, stays in its mode with every typed value, and saves once corrected.
    void refusedRowsKeepWhatWasTyped_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<Refusal>("c");
        for (const char *backend : {"sqlite", "postgresql"}) {
            const auto row = [&](const QByteArray &name, const Refusal &c) { QTest::addRow("%s %s", backend, name.data()) << backend << c; };
            for (const bool adding : {true, false}) {
                const QByteArray mode = adding ? "new" : "change";
                row(mode + " not null", {adding, "TxtText2", "", "Bruni", "Il campo Nome è obbligatorio"});
                row(mode + " check", {adding, "TxtNumeric3", "-5", "5", "Il valore del campo Quota non rispetta un vincolo"});
                row(mode + " foreign key", {adding, "TxtText4", "XX", "TO", "Il valore del campo Provincia non corrisponde a nessun record della tabella"});
            }
            row("column not shown", {true, "", "", "", "Il campo TESSERA (non presente nell'editor) è obbligatorio"});
            row("duplicate key", {true, "TxtNumeric1", "1", "2", "Il codice inserito è già esistente"});
            row("unique index", {false, "TxtText2", "Verdi", "Bruni", "Il valore di uno dei campi immessi è di tipo univoco ed è\ngià"});
        }
    }
    void refusedRowsKeepWhatWasTyped()
    {
        QFETCH(QString, backend);
        QFETCH(Refusal, c);
        const auto &[adding, field, wrong, fix, message] = c;
        Data data(backend);
        data.exec({"CREATE TABLE SOCI (ID INTEGER PRIMARY KEY, NOME VARCHAR(20) NOT NULL, "
                   "QUOTA NUMERIC(10,2) CHECK (QUOTA >= 0), PROV VARCHAR(2) REFERENCES PROVINCE (SIGLA), "
                   "TESSERA VARCHAR(10) NOT NULL)",
                   "INSERT INTO SOCI VALUES (1, 'Rossi', 10, 'MI', 'T1'), (3, 'Verdi', 5, 'TO', 'T3')",
                   "CREATE UNIQUE INDEX soci_nome ON SOCI (NOME)"});
        QString dsc = "RECORD,SOCI,Soci,1\nCAMPO,ID,Numero,LONG,6\nCAMPO,NOME,Nome,TEXT,20\nCAMPO,QUOTA,Quota,CURRENCY,10\n"
                         "CAMPO,PROV,Provincia,TEXT,2\n";
        if (!field.isEmpty())
            dsc += "CAMPO,TESSERA,Tessera,TEXT,10\n";
        dsc += "INDICE,PK,+ID,-1,-1\n";
        data.dsc(dsc);
        FrmEditTab editor;
        TestUtil::startShown(editor, data.connection, data.folder(), QStringLiteral("SOCI"));
        QMap<QString, QString> typed;
        if (adding) {
            press(editor, 0);
            typed = {{"TxtNumeric1", "2"}, {"TxtText2", "Neri"}, {"TxtNumeric3", "7"}, {"TxtText4", "MI"}};
            if (!field.isEmpty())
                typed.insert(QStringLiteral("TxtText5"), QStringLiteral("T2"));
        }
        if (!field.isEmpty())
            typed.insert(field, wrong);
        for (auto it = typed.cbegin(); it != typed.cend(); ++it)
            type(editor, control(editor, it.key()), it.value());
        leave(editor);
        const auto stored = [&] {
            return data.scalar(QStringLiteral("SELECT COUNT(*) FROM SOCI WHERE ID < 3")).toString()
                   + data.scalar(QStringLiteral("SELECT NOME || '/' || QUOTA || '/' || PROV FROM SOCI WHERE ID = 1")).toString();
        };
        const QString before = stored();
        press(editor, 1);
        QCOMPARE(said().size(), 1);
        QVERIFY2(said().first().startsWith(message, Qt::CaseInsensitive), qPrintable(said().first()));
        const bool constraint = !message.startsWith(u"Il codice") && !message.startsWith(u"Il valore di uno");
        QVERIFY(!constraint || said().first().endsWith(u"i valori inseriti sono stati mantenuti."));
        QCOMPARE(stored(), before);
        QVERIFY(editor.isVisible());
        QCOMPARE(editor.EditRecordset()->editMode() == EditMode::Add, adding);
        QVERIFY(adding || editor.Modified());
        for (auto it = typed.cbegin(); it != typed.cend(); ++it)
            QCOMPARE(shown(editor, it.key()).remove(QStringLiteral(",00")), it.value());
        if (field.isEmpty())
            return; // nothing the user can correct here
        QVERIFY(!constraint || editor.focusWidget() == control(editor, field));

        m_messages->clear();
        type(editor, control(editor, field), fix);
        leave(editor);
        press(editor, 1);
        QVERIFY2(said().isEmpty(), qPrintable(said().join(u'|')));
        typed.insert(field, fix);
        const QStringList saved{typed.value("TxtText2", "Rossi"), typed.value("TxtNumeric3", "10"),
                                typed.value("TxtText4", "MI")};
        const QString sql = "SELECT NOME || '/' || CAST(QUOTA AS INTEGER) || '/' || PROV FROM SOCI WHERE ID = ?";
        QCOMPARE(data.scalar(sql, {adding ? 2 : 1}).toString(), saved.join(u'/'));
    }

    // At its length a field refuses typed characters; a longer paste is cut there, the user told
    // once; nothing longer is stored.
    void lengthsAreKept_data() { TestUtil::backends<QString>("input", {{"TxtMemo2", "TxtMemo2"}, {"TxtText3", "TxtText3"}}); }
    void lengthsAreKept()
    {
        QFETCH(QString, backend);
        QFETCH(QString, input);
        Data data(backend);
        data.exec({"CREATE TABLE APPUNTI (ID INTEGER PRIMARY KEY, NOTA TEXT, SIGLA VARCHAR(40))",
                   "INSERT INTO APPUNTI VALUES (1, NULL, NULL)"});
        data.dsc("RECORD,APPUNTI,Appunti,1\nCAMPO,ID,Id,LONG,4\nCAMPO,NOTA,Nota,MEMO,10\nCAMPO,SIGLA,Sigla,TEXT,10\n"
                 "INDICE,PK,+ID,-1,-1\n");
        FrmEditTab editor;
        TestUtil::startShown(editor, data.connection, data.folder(), QStringLiteral("APPUNTI"));
        QWidget *w = control(editor, input);
        editor.CTRLSETFOCUS(w);
        QTRY_VERIFY(w->hasFocus());
        QTest::keyClicks(w, QStringLiteral("0123456789X")); // the 11th character is refused
        QCOMPARE(shown(editor, input), u"0123456789");
        QVERIFY(said().isEmpty());
        QTest::keyClicks(w, QStringLiteral("\b\b\b")); // room for 3
        QApplication::clipboard()->setText(QStringLiteral("abcdefghijklmnopqrst"));
        QTest::keyClick(w, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(shown(editor, input), u"0123456abc");
        QCOMPARE(said().size(), 1);
        QVERIFY2(said().first().startsWith(QStringLiteral("Il campo %1 accetta al massimo 10").arg(input == u"TxtMemo2" ? "Nota" : "Sigla")),
                 qPrintable(said().first()));
        leave(editor);
        press(editor, 1);
        QVERIFY2(said().size() == 1, qPrintable(said().join(u'|')));
        QCOMPARE(data.scalar(QStringLiteral("SELECT COALESCE(NOTA, SIGLA) FROM APPUNTI")).toString(), u"0123456abc");
    }

    // Numbers are read whole in the regional form, shown in the field's picture and stored as
    // typed, on every numeric kind.
    // A number typed in the regional form: the control, what is typed, what shows, what is stored.
    void regionalNumbers_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<NumberCase>("c");
        for (const char *backend : {"sqlite", "postgresql"}) {
            for (const NumberCase &c : std::initializer_list<NumberCase>{
                     // CURRENCY with the picture "0.00"; DOUBLE without a picture
                     {"TxtNumeric7", "1.234,5", "1234,50", 1234.5}, {"TxtNumeric7", "12,755", "12,76", 12.755},
                     {"TxtNumeric7", "1234.5", "1234,50", 1234.5}, {"TxtNumeric6", "1.000", "1000", 1000.0}})
                QTest::addRow("%s %s %s", backend, qPrintable(c.input), qPrintable(c.typed)) << backend << c;
        }
    }
    void regionalNumbers()
    {
        QFETCH(QString, backend);
        QFETCH(NumberCase, c);
        const bool customers = c.input == u"TxtNumeric7";
        Data data(backend);
        FrmEditTab editor;
        TestUtil::startShown(editor, data.connection, data.folder(), customers ? "CLIENTI" : "ORDINI");
        type(editor, control(editor, c.input), c.typed);
        leave(editor);
        QCOMPARE(shown(editor, c.input), c.looks);
        press(editor, 1);
        QVERIFY2(said().isEmpty(), qPrintable(said().join(u'|')));
        const char *sql = customers ? "SELECT FIDO FROM CLIENTI WHERE CODICE = 1" : "SELECT IMPORTO FROM ORDINI ORDER BY NUMERO";
        QCOMPARE(data.scalar(sql).toDouble(), c.stored);
        QCOMPARE(shown(editor, c.input), c.looks);
    }

    // Dates and times typed with either time separator are stored as typed, or told when left if
    // they are none; what the field's picture hides keeps its stored value.
    void datesAndTimesAreStoredAsTyped_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<TimeCase>("c");
        const QString minutes = QStringLiteral("dd/mm/yyyy hh:nn"), day = QStringLiteral("dd/mm/yyyy");
        const QString stored = QStringLiteral("2021-01-02 10:30:45");
        for (const TimeCase &c : std::initializer_list<TimeCase>{
                 {"DT", minutes, "", "02/01/2021 10:30", "2021-01-02 10:30:00"},
                 {"DT", minutes, "", "02/01/2021 10:30:45", "2021-01-02 10:30:45"},
                 {"DT", "dd/mm/yyyy hh:nn:ss", "", "02/01/2021 10.30.45", "2021-01-02 10:30:45"},
                 {"DT", minutes, stored, "05/01/2021 10:30", "2021-01-05 10:30:45"},
                 {"T", "hh:nn", "", "10:30", "10:30:00"},
                 {"DT", "hh:nn", stored, "11:15", "2021-01-02 11:15:00"},
                 {"DT", day, stored, "05/01/2021", "2021-01-05 10:30:45"},
                 {"D", day, stored, "05/01/2021", "2021-01-05 10:30:45"},
                 {"D", day, stored, "", stored},
                 {"DT", minutes, stored, "02/01/2021 25:70", ""}})
            QTest::addRow("%s %s: %s over '%s'", qPrintable(c.column), qPrintable(c.picture), qPrintable(c.typed),
                          qPrintable(c.stored)) << "sqlite" << c;
        QTest::addRow("postgresql timestamp") << "postgresql" << TimeCase{"DT", minutes, stored, "05/01/2021 11.15", "2021-01-05 11:15:00"};
    }
    void datesAndTimesAreStoredAsTyped()
    {
        QFETCH(QString, backend);
        QFETCH(TimeCase, c);
        Data data(backend);
        data.exec({QStringLiteral("CREATE TABLE TEMPI (ID INTEGER PRIMARY KEY, NOTA VARCHAR(20), DT %1, D DATE, T TIME)")
                       .arg(data.sqlite ? "DATETIME" : "TIMESTAMP"),
                   QStringLiteral("INSERT INTO TEMPI (ID, %1) VALUES (1, %2)").arg(c.column, c.stored.isEmpty() ? "NULL" : u'\'' + c.stored + u'\'')});
        data.dsc(QStringLiteral("RECORD,TEMPI,Tempi,1\nCAMPO,ID,Id,LONG,4\nCAMPO,NOTA,Nota,TEXT,20\n"
                                "CAMPO,%1,Quando,DATE,16,,,,,,,,,\"%2\",1\nINDICE,PK,+ID,-1,-1\n").arg(c.column, c.picture));
        FrmEditTab editor;
        TestUtil::startShown(editor, data.connection, data.folder(), QStringLiteral("TEMPI"));
        const QString input = c.typed.isEmpty() ? QStringLiteral("TxtText2") : QStringLiteral("TxtDate3");
        const QString text = c.typed.isEmpty() ? QStringLiteral("y") : c.typed;
        type(editor, control(editor, input), text);
        QCOMPARE(shown(editor, input), text); // no key refused
        leave(editor);
        const bool refused = c.expected.isEmpty();
        QCOMPARE(said(), refused ? QStringList({"Valore di Quando non valido."}) : QStringList());
        QVERIFY(!refused || shown(editor, input) == text); // the typed text stays
        press(editor, 1);
        QCOMPARE(data.scalar(QStringLiteral("SELECT CAST(%1 AS TEXT) FROM TEMPI").arg(c.column)).toString(),
                 refused ? c.stored : c.expected);
    }

    // A database file deleted or replaced while the editor is open is never written: the save is
    // refused naming the file, the typed values stay, and the file now at the path is untouched.
    void vanishedFileIsNeverWritten_data()
    {
        QTest::addColumn<bool>("replaced");
        QTest::addColumn<bool>("adding");
        for (const bool replaced : {false, true})
            for (const bool adding : {false, true})
                QTest::addRow("%s, %s", replaced ? "replaced" : "deleted", adding ? "new row" : "change") << replaced << adding;
    }
    void vanishedFileIsNeverWritten()
    {
        QFETCH(bool, replaced);
        QFETCH(bool, adding);
        Data data(QStringLiteral("sqlite"));
        const QString file = data.folder() + QStringLiteral("/anagrafica.db");
        FrmEditTab editor;
        TestUtil::startShown(editor, data.connection, data.folder(), QStringLiteral("CLIENTI"));
        if (adding) {
            press(editor, 0);
            type(editor, control(editor, QStringLiteral("TxtNumeric1")), QStringLiteral("9"));
            type(editor, control(editor, QStringLiteral("TxtDate5")), QStringLiteral("01/01/1980"));
        }
        type(editor, control(editor, QStringLiteral("TxtText2")), QStringLiteral("Perso?"));
        leave(editor);
        QVERIFY(QFile::remove(file));
        QByteArray other;
        if (replaced) {
            TestUtil::createSqlite(data.folder() + QStringLiteral("/altro.db"), {"CREATE TABLE CLIENTI (CODICE INTEGER)"});
            QVERIFY(QFile::rename(data.folder() + QStringLiteral("/altro.db"), file));
            other = TestUtil::readFile(file);
        }
        for (int attempt = 0; attempt < 2; ++attempt) {
            m_messages->clear();
            press(editor, 1);
            QCOMPARE(said().size(), 1);
            QVERIFY2(said().first().contains(file) && said().first().contains(u"eliminato o sostituito"), qPrintable(said().first()));
        }
        QCOMPARE(shown(editor, QStringLiteral("TxtText2")), u"Perso?");
        QVERIFY(editor.Modified() || adding);
        QCOMPARE(QFile::exists(file) ? TestUtil::readFile(file) : QByteArray(), other);
    }

    // A lock held past the wait, the server's time limit, a full disk: each told in words of its
    // own (what happened, what to do) under the editor's title; the typed values and the editor stay.
    void passingHindrancesAreExplained_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QStringList>("setup");  // before the editor starts
        QTest::addColumn<QStringList>("own");    // then on the editor's own connection
        QTest::addColumn<QString>("says");
        QTest::newRow("full disk, save") << "sqlite"
            << QStringList{"CREATE TABLE PESO (B BLOB)",
                           "CREATE TRIGGER PIENO AFTER UPDATE ON CLIENTI BEGIN INSERT INTO PESO VALUES (zeroblob(300000)); END"}
            << QStringList{"PRAGMA max_page_count = 1"} << "Il disco del database è pieno: la modifica non è stata salvata";
        QTest::newRow("time limit, save") << "postgresql"
            << QStringList{"CREATE FUNCTION lenta() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN PERFORM pg_sleep(3); RETURN NEW; END $$",
                           "CREATE TRIGGER lenta BEFORE UPDATE ON CLIENTI FOR EACH ROW EXECUTE FUNCTION lenta()"}
            << QStringList{"SET statement_timeout = 300"} << "tempo massimo consentito: la modifica non è stata salvata";
        QTest::newRow("lock, line selected") << "sqlite-journal" << QStringList() << QStringList()
                                             << "occupato da un altro utente: i dati non possono essere letti ora";
    }
    void passingHindrancesAreExplained()
    {
        QFETCH(QString, backend);
        QFETCH(QStringList, setup);
        QFETCH(QStringList, own);
        QFETCH(QString, says);
        Data data(backend);
        data.exec(setup);
        FrmEditTab editor;
        TestUtil::startShown(editor, data.connection, data.folder(), QStringLiteral("CLIENTI"));
        if (setup.isEmpty()) { // another user locks the file while a line is selected
            const auto other = data.open();
            data.exec({"BEGIN EXCLUSIVE"}, other);
            LockWait::setPolicy([](int, qint64) { return false; });
            editor.LstSelect()->setCurrentRow(1);
            LockWait::setPolicy({});
            data.exec({"COMMIT"}, other);
        } else {
            data.exec(own, editor.EditRecordset()->connection());
            type(editor, control(editor, QStringLiteral("TxtText2")), QStringLiteral("Tenuto"));
            leave(editor);
            press(editor, 1);
            QVERIFY(editor.Modified() && shown(editor, QStringLiteral("TxtText2")) == u"Tenuto");
        }
        QCOMPARE(said().size(), 1);
        const Message told = m_messages->messages().first();
        QVERIFY2(told.text.contains(says) && told.title == editor.windowTitle(), qPrintable(told.title + u'|' + told.text));
        QVERIFY(editor.isVisible());
    }

    // Another user changed or deleted the row since it was read: the conflict window lists the
    // differences and does what is chosen; nothing typed is lost unless the user says so.
    void writeConflicts_data()
    {
        QTest::addColumn<QString>("other");   // what the other user does: change, delete
        QTest::addColumn<QString>("gesture"); // Esc, a button, or "third" (a third writer, then Sovrascrivi)
        QTest::addColumn<bool>("deleting");   // this user deletes instead of saving
        QTest::addColumn<QString>("stored");  // NOME/FIDO/NOTE of row 1 at the end ("" when gone)
        QTest::addColumn<QString>("name");    // the name the editor then shows
        QTest::newRow("changed, Esc") << "change" << "Esc" << false << "Altro/99/Cliente storico" << "Nome nuovo";
        QTest::newRow("changed, Copia then Esc") << "change" << "CmdCopia" << false << "Altro/99/Cliente storico" << "Nome nuovo";
        QTest::newRow("changed, Ricarica") << "change" << "CmdRicarica" << false << "Altro/99/Cliente storico" << "Altro";
        QTest::newRow("changed, Sovrascrivi") << "change" << "CmdSovrascrivi" << false << "Nome nuovo/99/Cliente storico"
                                              << "Nome nuovo";
        QTest::newRow("changed, third writer") << "change" << "third" << false << "Nome nuovo/99/Terzo" << "Nome nuovo";
        QTest::newRow("deleted, Sovrascrivi") << "delete" << "CmdSovrascrivi" << false << "Nome nuovo/1500.5/Cliente storico"
                                              << "Nome nuovo";
        QTest::newRow("delete of changed, Esc") << "change" << "Esc" << true << "Altro/99/Cliente storico" << "Rossi Mario & figli";
        QTest::newRow("delete of changed, Elimina comunque") << "change" << "CmdSovrascrivi" << true << "" << "";
    }
    void writeConflicts()
    {
        QFETCH(QString, other);
        QFETCH(QString, gesture);
        QFETCH(bool, deleting);
        QFETCH(QString, stored);
        QFETCH(QString, name);
        Data data(QStringLiteral("sqlite"));
        FrmEditTab editor;
        TestUtil::startShown(editor, data.connection, data.folder(), QStringLiteral("CLIENTI"));
        if (!deleting) {
            type(editor, control(editor, QStringLiteral("TxtText2")), QStringLiteral("Nome nuovo"));
            leave(editor);
        }
        data.exec({other == u"change" ? "UPDATE CLIENTI SET NOME = 'Altro', FIDO = 99 WHERE CODICE = 1"
                                      : "DELETE FROM CLIENTI WHERE CODICE = 1"});
        QStringList listed;
        int seen = 0;
        const int windows = TestUtil::answerConflicts(
            [&] {
                m_messages->script({MsgAnswer::Ok}); // "Sicuro di voler eliminare ..."
                press(editor, deleting ? 3 : 1);
            },
            [&](QWidget *w) {
                QCOMPARE(w->windowTitle(), u"Record modificato da un altro utente");
                const auto *grid = w->findChild<QTableWidget *>(QStringLiteral("GrdDifferenze"));
                for (int r = 0; r < grid->rowCount(); ++r)
                    listed << QStringList{grid->item(r, 0)->text(), grid->item(r, 1)->text(), grid->item(r, 2)->text(),
                                          grid->item(r, 3)->text()}.join(u'|');
                if (gesture == u"third" && ++seen == 1)
                    data.exec({"UPDATE CLIENTI SET NOTE = 'Terzo' WHERE CODICE = 1"});
                if (gesture == u"CmdCopia")
                    w->findChild<QPushButton *>(gesture)->click(); // the window stays: Esc then
                if (gesture == u"Esc" || gesture == u"CmdCopia")
                    QTest::keyClick(w, Qt::Key_Escape);
                else
                    w->findChild<QPushButton *>(gesture == u"third" ? QStringLiteral("CmdSovrascrivi") : gesture)->click();
            });
        QCOMPARE(windows, gesture == u"third" ? 2 : 1);
        if (!deleting) {
            const QString row = other == u"change" ? "Ragione sociale|Rossi Mario & figli|Altro|Nome nuovo"
                                                   : "Ragione sociale|Rossi Mario & figli|eliminato|Nome nuovo";
            QVERIFY2(listed.contains(row), qPrintable(listed.join(u'\n')));
        }
        if (gesture == u"CmdCopia")
            QVERIFY(QApplication::clipboard()->text().contains(u"Ragione sociale: Nome nuovo\n"));
        const QString sql = "SELECT NOME || '/' || CAST(FIDO AS TEXT) || '/' || NOTE FROM CLIENTI WHERE CODICE = 1";
        QCOMPARE(data.scalar(sql).toString().replace(".0/", "/"), stored);
        if (!name.isEmpty())
            QCOMPARE(shown(editor, QStringLiteral("TxtText2")), name);
        QCOMPARE(editor.Modified(), name == u"Nome nuovo" && !stored.startsWith(name));
    }

    // The server ends the editor's sessions: the next read, save and delete each open a new one by
    // themselves, nothing having been sent on the old.
    void lostConnections()
    {
        Data data(QStringLiteral("postgresql"));
        FrmEditTab editor;
        TestUtil::startShown(editor, data.connection, data.folder(), QStringLiteral("CLIENTI"));
        const auto cut = [&] {
            data.exec({"SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = current_database() "
                       "AND pid <> pg_backend_pid()"});
        };
        cut();
        editor.LstSelect()->setCurrentRow(1);
        QCOMPARE(shown(editor, QStringLiteral("TxtText2")), u"Bianchi S.p.A.");
        type(editor, control(editor, QStringLiteral("TxtText2")), QStringLiteral("Dopo il taglio"));
        leave(editor);
        cut();
        press(editor, 1);
        QVERIFY2(said().isEmpty(), qPrintable(said().join(u'|')));
        QCOMPARE(data.scalar("SELECT NOME FROM CLIENTI WHERE CODICE = 2").toString(), u"Dopo il taglio");
        cut();
        m_messages->script({MsgAnswer::Ok});
        press(editor, 3);
        QCOMPARE(said().size(), 1); // the question only
        QCOMPARE(data.scalar("SELECT COUNT(*) FROM CLIENTI").toInt(), 2);
    }

    // The server halted and started again: the first save after it lands; while the server is
    // down a save says that the server cannot be reached, and keeps what was typed.
    void serverRestarted()
    {
        QTemporaryDir dir; // a server of this test's own, for the others go on using theirs
        const QString server = dir.filePath(QStringLiteral("pg"));
        const auto pg = [&](const char *action) {
            return QProcess::execute(QStringLiteral(NORVIX_TEST_DATA "/../pg/pgserver"), {QLatin1String(action), server}) == 0;
        };
        QVERIFY(pg("start"));
        const auto stop = qScopeGuard([&] { pg("stop"); });
        const QByteArray shared = qgetenv("NORVIX_TEST_PG_DIR");
        qputenv("NORVIX_TEST_PG_DIR", QFile::encodeName(server));
        Data data(QStringLiteral("postgresql"));
        qputenv("NORVIX_TEST_PG_DIR", shared);
        FrmEditTab editor;
        TestUtil::startShown(editor, data.connection, data.folder(), QStringLiteral("CLIENTI"));
        for (const QString &name : {QStringLiteral("Dopo il riavvio"), QStringLiteral("Mentre il server è fermo")}) {
            const bool whileDown = name.startsWith(u"Mentre");
            type(editor, control(editor, QStringLiteral("TxtText2")), name);
            leave(editor);
            QVERIFY(pg("halt"));
            if (whileDown) {
                press(editor, 1);
                QVERIFY2(said().size() == 1 && said().first().contains(u"non è raggiungibile"), qPrintable(said().join(u'|')));
                QVERIFY(editor.Modified() && shown(editor, QStringLiteral("TxtText2")) == name);
                m_messages->clear();
            }
            QVERIFY(pg("restart"));
            press(editor, 1);
            QVERIFY2(said().isEmpty(), qPrintable(said().join(u'|')));
            data.conn->reconnect();
            QCOMPARE(data.scalar("SELECT NOME FROM CLIENTI WHERE CODICE = 1").toString(), name);
        }
    }

    // The server stops answering (its processes stopped) and the user presses Annulla once
    // "Attendere" shows, the window painting meanwhile. Stopped before the save, nothing was sent:
    // nothing changed. Stopped in a COMMIT held by a trigger that ignores cancels, the editor ends
    // that backend before it tells what became of the save, and the row agrees once the backend
    // has gone on; resumed only after the editor's wait, the outcome is not known, and the next
    // Conferma finds the row as typed (as if the save had landed) and saves without a conflict.
    void cutSaves_data()
    {
        QTest::addColumn<bool>("held");
        QTest::addColumn<int>("resumeMs");
        QTest::addColumn<QString>("told");
        QTest::newRow("stopped before the save") << false << 0 << "nulla è stato modificato";
        QTest::newRow("held commit, resumed within the wait") << true << 3000 << "la modifica non è stata salvata";
        QTest::newRow("held commit, resumed after the wait (5 s)") << true << 8000 << "non si può sapere";
    }
    void cutSaves()
    {
        QFETCH(bool, held);
        QFETCH(int, resumeMs);
        QFETCH(QString, told);
        Data data(QStringLiteral("postgresql"));
        if (held)
            data.exec({"CREATE FUNCTION hold() RETURNS trigger LANGUAGE plpgsql AS $$ DECLARE t timestamptz := "
                       "clock_timestamp() + interval '1 second'; BEGIN WHILE clock_timestamp() < t LOOP BEGIN PERFORM "
                       "pg_sleep(0.05); EXCEPTION WHEN query_canceled THEN NULL; END; END LOOP; RETURN NULL; END $$",
                       "CREATE CONSTRAINT TRIGGER hold AFTER UPDATE ON CLIENTI DEFERRABLE INITIALLY DEFERRED FOR EACH ROW "
                       "EXECUTE FUNCTION hold()"});
        FrmEditTab editor;
        TestUtil::startShown(editor, data.connection, data.folder(), QStringLiteral("CLIENTI"));
        editor.LstSelect()->setCurrentRow(1);
        type(editor, control(editor, QStringLiteral("TxtText2")), QStringLiteral("Tenuto"));
        leave(editor);
        QList<pid_t> editors;
        for (const QVariantList &row : data.rows("SELECT pid FROM pg_stat_activity WHERE datname = current_database() "
                                                 "AND backend_type = 'client backend' AND pid <> pg_backend_pid()"))
            editors << pid_t(row.value(0).toLongLong());
        QVERIFY(!editors.isEmpty());
        const auto signal = [&](int number) {
            for (pid_t pid : std::as_const(editors))
                ::kill(pid, number);
        };
        const auto resumed = qScopeGuard([&] { signal(SIGCONT); });
        if (!held)
            signal(SIGSTOP);
        // A probe of the event loop, and a user who presses Annulla once "Attendere" is there
        // (after a second; with a held commit at once, the backends stopped then, one in its COMMIT).
        QElapsedTimer clock, sinceTick, sinceStop;
        qint64 longestStall = 0;
        QTimer probe, resume, user;
        connect(&probe, &QTimer::timeout, this, [&] { longestStall = std::max(longestStall, sinceTick.restart()); });
        connect(&resume, &QTimer::timeout, this, [&] { signal(SIGCONT); }); // SIGCONT again: no harm
        connect(&user, &QTimer::timeout, this, [&] {
            QWidget *w = QApplication::activeModalWidget();
            if (sinceStop.isValid() || !w || w->objectName() != u"FrmAttesa" || (!held && clock.elapsed() < 1000))
                return;
            sinceStop.start();
            if (held) {
                signal(SIGSTOP);
                resume.start(resumeMs);
            }
            w->findChild<QPushButton *>(QStringLiteral("CmdAnnulla"))->click();
        });
        clock.start();
        sinceTick.start();
        probe.start(5);
        user.start(20);
        press(editor, 1);
        probe.stop();
        user.stop();
        QVERIFY(sinceStop.isValid()); // "Attendere" was shown
        QVERIFY2(said().size() == 1 && said().first().contains(told), qPrintable(said().join(u'|')));
        QVERIFY(editor.Modified() && shown(editor, QStringLiteral("TxtText2")) == u"Tenuto");
        if (!held) {
            QVERIFY2(clock.elapsed() < 10000 && longestStall < 500, qPrintable(QString::number(longestStall)));
            signal(SIGCONT);
        }
        QTest::qWait(held ? int(resumeMs + 2000 - sinceStop.elapsed()) : 0); // the backend goes on, and ends
        QCOMPARE(data.scalar("SELECT NOME FROM CLIENTI WHERE CODICE = 2").toString(), u"Bianchi S.p.A.");
        m_messages->clear();
        if (told.contains(u"sapere"))
            data.exec({"UPDATE CLIENTI SET NOME = 'Tenuto' WHERE CODICE = 2"});
        QCOMPARE(TestUtil::answerConflicts([&] { press(editor, 1); }), 0); // the server is back: saved
        QVERIFY2(said().isEmpty(), qPrintable(said().join(u'|')));
        QCOMPARE(data.scalar("SELECT NOME FROM CLIENTI WHERE CODICE = 2").toString(), u"Tenuto");
        QVERIFY(!editor.Modified());
    }

    // A row that others refer to is not deleted, and the user is told why.
    void referencedRowIsNotDeleted_data() { TestUtil::backends(); }
    void referencedRowIsNotDeleted()
    {
        QFETCH(QString, backend);
        Data data(backend);
        data.exec({"CREATE TABLE SOCI (ID INTEGER PRIMARY KEY, PROV VARCHAR(2) REFERENCES PROVINCE (SIGLA))",
                   "INSERT INTO SOCI VALUES (1, 'MI')"});
        FrmEditTab editor;
        TestUtil::startShown(editor, data.connection, data.folder(), QStringLiteral("PROVINCE"), QStringLiteral("MI"));
        m_messages->script({MsgAnswer::Ok});
        press(editor, 3);
        const QString told = "Impossibile eliminare il record: record della tabella SOCI vi fanno riferimento.";
        QCOMPARE(said().last().toUpper(), told.toUpper());
        QCOMPARE(data.scalar(QStringLiteral("SELECT COUNT(*) FROM PROVINCE")).toInt(), 3);
        QVERIFY(editor.isVisible());
    }
};

QTEST_MAIN(TstKeepData)
#include "tst_keepdata.moc"
