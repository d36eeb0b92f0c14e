#include "editor/frmconflitto.h"
#include "editor/frmedittab.h"
#include "editor/frmedittab_p.h"
#include "editor/recordlist.h"
#include "editor/recordlistview.h"
#include "editordriver.h"
#include "editor/shared.h"
#include "platform/messages.h"
#include "platform/language.h"
#include "ui/waitwindows.h"
#include "platform/window.h"
#include "anagrafica.h"

#include <QCryptographicHash>
#include <QDir>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QGuiApplication>
#include <QScreen>
#include <QScopeGuard>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTabBar>
#include <QSignalSpy>
#include <QTest>

#include <sys/wait.h>
#include <unistd.h>

using namespace Norvix;
using TestUtil::control;
using TestUtil::shown;
using TestUtil::press;

namespace {

// The sample data on SQLite. Suites that watch the files close its connection first.
struct Folder : TestUtil::Data
{
    Folder() : Data(QStringLiteral("sqlite")) {}
};

// Visible state of buttons 0..4 and whether the list is enabled.
QString modeOf(FrmEditTab &editor)
{
    QString s;
    for (int i = 0; i < 5; ++i)
        s += editor.CmdButton(i)->isVisibleTo(&editor) ? u'1' : u'0';
    return s + (editor.LstSelect()->isEnabled() ? QStringLiteral(" list") : QStringLiteral(" nolist"));
}

// The Alt keys a window offers: its buttons, the labels of its inputs and its tabs (all of them, or
// only those shown), as "Alt+X".
QStringList altKeys(const QWidget *window, bool shownOnly)
{
    QStringList keys;
    const auto add = [&](const QWidget *w, const QString &text) {
        if (const QKeySequence key = QKeySequence::mnemonic(text); !key.isEmpty() && (!shownOnly || w->isVisible()))
            keys << key.toString();
    };
    for (const auto *b : window->findChildren<QAbstractButton *>())
        if (shownOnly || b->objectName() != u"CmdStoria") // gives its key up while the search shows
            add(b, b->text());
    for (const auto *l : window->findChildren<QLabel *>())
        if (l->buddy())
            add(l, l->text());
    for (const auto *t : window->findChildren<QTabBar *>())
        for (int i = 0; i < t->count(); ++i)
            add(t, t->tabText(i));
    return keys;
}

// A line edit shows the text whole: from its start to its end the cursor moves by the text's
// whole width, never stopped by the edge.
bool showsWhole(QLineEdit *box, const QString &text)
{
    box->setText(text);
    const auto cursorAt = [box](int position) {
        box->setCursorPosition(position);
        box->repaint();
        return box->inputMethodQuery(Qt::ImCursorRectangle).toRect().center().x();
    };
    return cursorAt(int(text.size())) - cursorAt(0) >= box->fontMetrics().horizontalAdvance(text) - 1;
}

// A start that must fail: the descriptor (null: none), the record, the database file, what that
// file holds (null: the sample), and how the message or the exception begins.
struct FailedStart
{
    QByteArray dsc;
    QString record, database;
    QByteArray bytes;
    QString said;
};

} // namespace

Q_DECLARE_METATYPE(FailedStart)

class TstEditor : public QObject
{
    Q_OBJECT

    std::shared_ptr<RecordingMessageService> m_messages;

    QStringList messageTexts() const { return TestUtil::messageTexts(*m_messages); }

    void start(FrmEditTab &editor, const Folder &folder, const QString &record, std::optional<QString> key = std::nullopt,
               bool readOnly = false, const QString &descField = QString())
    {
        editor.START(QString(), folder.folder(), QStringLiteral("anagrafica.db"), record, QString(), descField, readOnly, key);
    }

private slots:
    void init()
    {
        m_messages = TestUtil::freshUser(); // and a 1280x1024 screen
        ::Norvix::SharedSettings::process().editorVisible = false;
    }
    void cleanup() { setMessageService(nullptr); }

    void opensOnTheFirstRow()
    {
        Folder folder;
        FrmEditTab editor;
        start(editor, folder, QStringLiteral("CLIENTI"));
        QVERIFY(editor.CanShow());
        QVERIFY2(m_messages->messages().isEmpty(), qPrintable(messageTexts().join(u'|')));
        QCOMPARE(editor.windowTitle(), u"Clienti");
        QCOMPARE(editor.DescField(), u"NOME"); // the first text field outside the key
        QCOMPARE(editor.LstSelect()->count(), 3);
        QCOMPARE(editor.LstSelect()->lineAt(0), u"[1] Rossi Mario & figli");
        QCOMPARE(shown(editor, QStringLiteral("TxtNumeric1")), u"1");
        QCOMPARE(shown(editor, QStringLiteral("TxtText2")), u"Rossi Mario & figli");
        QCOMPARE(shown(editor, QStringLiteral("TxtDate5")), u"12/05/1970");
        QVERIFY(control<QCheckBox>(editor, QStringLiteral("ChkBoolean6"))->isChecked());
        QCOMPARE(shown(editor, QStringLiteral("TxtNumeric7")), u"1500,50"); // its picture "0.00"
        QCOMPARE(shown(editor, QStringLiteral("TxtUMOD9")), u"10/01/2024 09:30");
        // Lookup fields keep their value in a hidden bound box.
        auto *prov = control<QLineEdit>(editor, QStringLiteral("TxtText3"));
        QCOMPARE(prov->property("DataField").toString(), u"PROV");
        QVERIFY(prov->isHidden());
        QCOMPARE(prov->text(), u"MI");
        QVERIFY(control(editor, QStringLiteral("CmbBounded3"))->property("DataField").toString().isEmpty());

        // Pages 1, 2 and 3; the key is locked on a saved row; names for automation.
        const char *pages[] = {"Generale", "Indirizzi", "Note"}; // as the RECORD line names them
        for (int i = 0; i < 3; ++i)
            QCOMPARE(editor.TabPage()->tabText(i) + editor.TabPage()->tabData(i).toString(), pages[i] + QStringLiteral("%1,1").arg(i + 1));
        QVERIFY(!control(editor, QStringLiteral("TxtNumeric1"))->isEnabled());
        QCOMPARE(control(editor, QStringLiteral("TxtText2"))->accessibleName(), u"Ragione sociale");
        QCOMPARE(control(editor, QStringLiteral("TxtLabel2"))->property("Tag").toString(), u"1,1");
        QCOMPARE(control(editor, QStringLiteral("TxtMemo8"))->property("Tag").toString(), u"3,1");
        // The first field in descriptor order that can be edited at all, even a locked key.
        QCOMPARE(editor.FirstControl(), control(editor, QStringLiteral("TxtNumeric1")));
        QCOMPARE(modeOf(editor), u"10011 list");
        QVERIFY(!editor.Modified());

        // Selecting another line shows that row.
        editor.LstSelect()->setCurrentRow(2);
        QCOMPARE(shown(editor, QStringLiteral("TxtText2")), u"Verdi & C.");
        QCOMPARE(shown(editor, QStringLiteral("TxtDate5")), QString());
        QCOMPARE(shown(editor, QStringLiteral("TxtMemo8")), u"Pagamento a 60 giorni");
    }

    void positionsByKey()
    {
        Folder folder;
        // A key that is there, one that is not (the first row), a text key of two fields.
        const std::tuple<const char *, const char *, const char *, const char *, int> cases[] = {
            {"CLIENTI", "2", "TxtText2", "Bianchi S.p.A.", 1}, {"CLIENTI", "99", "TxtText2", "Rossi Mario & figli", 0},
            {"COMUNI", "MI,F205", "TxtText3", "Milano", 1}};
        for (const auto &[record, key, field, value, line] : cases) {
            FrmEditTab editor;
            start(editor, folder, record, QString::fromLatin1(key));
            QCOMPARE(shown(editor, field), QString::fromUtf8(value));
            QCOMPARE(editor.LstSelect()->currentRow(), line);
        }
    }

    void newRowGetsItsDefaults()
    {
        Folder folder;
        FrmEditTab editor;
        start(editor, folder, QStringLiteral("ORDINI"), QString());
        QVERIFY(editor.CanShow());
        QCOMPARE(modeOf(editor), u"00101 nolist");
        QCOMPARE(editor.EditRecordset()->editMode(), EditMode::Add);
        QCOMPARE(shown(editor, QStringLiteral("TxtText2")), u"3"); // the next counter value
        QCOMPARE(shown(editor, QStringLiteral("TxtDate4")), QDate::currentDate().toString(QStringLiteral("dd/MM/yyyy")));
        QVERIFY(!control<QCheckBox>(editor, QStringLiteral("ChkBoolean5"))->isChecked()); // no default for check boxes
        QCOMPARE(shown(editor, QStringLiteral("TxtNumeric1")), QString()); // no default: left as it was
        QVERIFY(control(editor, QStringLiteral("TxtNumeric1"))->isEnabled()); // a new row can be given its key
        QVERIFY(!control(editor, QStringLiteral("TxtText2"))->isEnabled());   // counters stay locked
        // Showing the window keeps the new row.
        editor.show();
        QVERIFY(QTest::qWaitForWindowActive(&editor));
        QCOMPARE(modeOf(editor), u"00101 nolist");
        QCOMPARE(editor.EditRecordset()->editMode(), EditMode::Add);
        QCOMPARE(shown(editor, QStringLiteral("TxtText2")), u"3");
    }

    // The system row (its key below the key's lower bound) is locked and cannot be deleted; once
    // the last row is deleted, or when the editor starts on an empty table, a first row waits.
    void systemRowsAndTheEmptyTable()
    {
        Folder folder;
        folder.exec({"DELETE FROM CLIENTI WHERE CODICE > 1", "INSERT INTO CLIENTI (CODICE, NOME) VALUES (0, 'Sistema')"});
        FrmEditTab editor;
        TestUtil::startShown(editor, folder.connection, folder.folder(), "CLIENTI");
        QCOMPARE(editor.LstSelect()->lineAt(0), u"[0] Sistema");
        QVERIFY(!control(editor, QStringLiteral("TxtText2"))->isEnabled());
        press(editor, 3);
        QCOMPARE(messageTexts(), QStringList({"Record di sistema. Impossibile elimarlo."}));
        QCOMPARE(folder.scalar("SELECT COUNT(*) FROM CLIENTI").toInt(), 2);

        folder.exec({"DELETE FROM CLIENTI WHERE CODICE = 0"});
        editor.RIEMPILISTA();
        editor.LstSelect()->setCurrentRow(0);
        QVERIFY(control(editor, QStringLiteral("TxtText2"))->isEnabled());
        m_messages->script({MsgAnswer::Ok});
        press(editor, 3);
        QCOMPARE(folder.scalar("SELECT COUNT(*) FROM CLIENTI").toInt(), 0);
        FrmEditTab fresh;
        start(fresh, folder, QStringLiteral("CLIENTI"));
        for (FrmEditTab *e : {&editor, &fresh}) {
            QVERIFY(e->CanShow());
            QCOMPARE(e->LstSelect()->count(), 0);
            QCOMPARE(modeOf(*e), u"01001 nolist"); // only Conferma and Fine
            QCOMPARE(e->EditRecordset()->editMode(), EditMode::Add);
            QVERIFY(control(*e, QStringLiteral("TxtNumeric1"))->isEnabled());
        }
    }

    // The modes follow the user; Ctrl+S confirms and Ctrl+N starts a new row, only where their
    // buttons are offered; closing with changes asks first.
    void modesFollowTheUser()
    {
        Folder folder;
        FrmEditTab editor;
        TestUtil::startShown(editor, folder.connection, folder.folder(), "CLIENTI", QStringLiteral("2"));
        auto *name = control<QLineEdit>(editor, QStringLiteral("TxtText2"));
        QTest::keyClick(name, Qt::Key_S, Qt::ControlModifier); // nothing to confirm
        QVERIFY(m_messages->messages().isEmpty() && !editor.Modified());
        // A control on another page brings its page forward; only that page's controls show.
        editor.CTRLSETFOCUS(control(editor, QStringLiteral("TxtMemo8")));
        QCOMPARE(editor.TabPage()->currentIndex(), 2);
        QVERIFY(!name->isVisible());
        editor.CTRLSETFOCUS(name);
        QVERIFY(name->isVisible() && !control(editor, QStringLiteral("TxtText3"))->isVisible()); // a lookup's bound box
        TestUtil::typeInto(editor, name, QStringLiteral("Bianchi srl"));
        QVERIFY(editor.Modified());
        QCOMPARE(modeOf(editor), u"01101 nolist");
        QTest::keyClick(name, Qt::Key_N, Qt::ControlModifier); // "Nuovo" is not offered while changing
        QVERIFY(editor.Modified());
        QTest::keyClick(name, Qt::Key_S, Qt::ControlModifier);
        QVERIFY2(!editor.Modified(), qPrintable(messageTexts().join(u'|')));
        QCOMPARE(folder.scalar("SELECT NOME FROM CLIENTI WHERE CODICE = 2").toString(), QStringLiteral("Bianchi srl"));
        QTest::keyClick(name, Qt::Key_N, Qt::ControlModifier);
        QCOMPARE(modeOf(editor), u"00101 nolist"); // a new row: Annulla
        QCOMPARE(shown(editor, "TxtText2"), QString());
        TestUtil::typeInto(editor, name, QStringLiteral("Nuovo"));
        // Closing with changes asks first; Cancel keeps the editor open.
        m_messages->script({MsgAnswer::Cancel});
        editor.close();
        QVERIFY(editor.isVisible());
        QCOMPARE(m_messages->messages().last().text, u"Annulli le modifiche ?");
        QCOMPARE(m_messages->messages().last().title, u"ATTENZIONE !");
        QCOMPARE(m_messages->messages().last().buttons, MsgButtons::OkCancel);
        QSignalSpy closed(&editor, &FrmEditTab::CloseEditor);
        m_messages->script({MsgAnswer::Ok});
        editor.close();
        QCOMPARE(closed.count(), 1);
        QVERIFY(!::Norvix::SharedSettings::process().editorVisible);
    }

    // Asked to only read, or given a file this user may only read (in a folder it may not
    // write), the editor browses the rows, refuses to save with a message and changes no byte.
    void readOnlyChangesNothing_data()
    {
        QTest::addColumn<bool>("asked");
        QTest::addColumn<QString>("journal");
        for (const char *journal : {"delete", "wal"}) {
            QTest::addRow("ReadOnly, %s", journal) << true << journal;
            QTest::addRow("read-only file, %s", journal) << false << journal;
        }
    }
    void readOnlyChangesNothing()
    {
        QFETCH(bool, asked);
        QFETCH(QString, journal);
        Folder folder;
        folder.exec({"PRAGMA journal_mode=" + journal});
        folder.conn.reset();
        const QString file = folder.folder() + QStringLiteral("/anagrafica.db");
        const auto bytes = [&] { return TestUtil::readFile(file); };
        const QByteArray before = bytes();
        const QStringList files = QDir(folder.folder()).entryList(QDir::Files);
        // What a user who may only read sees; true when it is all as it should be.
        const auto browse = [&] {
            FrmEditTab editor;
            start(editor, folder, QStringLiteral("CLIENTI"), std::nullopt, asked);
            bool ok = editor.CanShow() && editor.LstSelect()->count() == 3 && !editor.CmdButton(1)->isEnabled()
                      && messageTexts().size() == (asked ? 0 : 1);
            m_messages->clear();
            editor.CmdButton_Click(1);
            ok = ok && messageTexts() == QStringList({"Il database è aperto in sola lettura: nessuna modifica può essere salvata."});
            editor.close();
            return ok;
        };
        if (asked) {
            QVERIFY(browse());
        } else {
            QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
            QFile::setPermissions(folder.folder() + QStringLiteral("/files.dsc"), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
            QFile::setPermissions(folder.folder(), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup
                                                     | QFile::ReadOther | QFile::ExeOther);
            const auto restore = qScopeGuard([&] {
                QFile::setPermissions(folder.folder(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            });
            if (::geteuid() != 0) {
                QVERIFY(browse());
            } else {
                // Permissions do not hold for root: the reader is another user, in a child process.
                const pid_t child = ::fork();
                QVERIFY(child >= 0);
                if (child == 0) {
                    bool ok = false;
                    try {
                        ok = ::setgid(65534) == 0 && ::setuid(65534) == 0 && browse();
                    } catch (...) {
                    }
                    ::_exit(ok ? 0 : 1);
                }
                int status = 0;
                QCOMPARE(::waitpid(child, &status, 0), child);
                QVERIFY(WIFEXITED(status));
                QCOMPARE(WEXITSTATUS(status), 0);
            }
        }
        QCOMPARE(bytes(), before);
        QCOMPARE(QDir(folder.folder()).entryList(QDir::Files), files);
    }

    // A start that fails says what was not found and changes nothing in the folder: no journal
    // mode, no file beside the database, an empty file left empty.
    void failedStartsChangeNothing_data()
    {
        QTest::addColumn<FailedStart>("c");
        const QByteArray sample = "RECORD,T,Tutto nascosto,1\nCAMPO,A,A,TEXT,5,,,,,,,,HIDDENFIELD\nCAMPO,B,B,AUTOINC,5\n"
                                  "RECORD,ASSENTE,Tabella assente,1\nCAMPO,A,A,TEXT,5\n";
        const QString db = QStringLiteral("anagrafica.db");
        QTest::newRow("no descriptor") << FailedStart{{}, "CLIENTI", db, {}, "Dsc non trovato"};
        QTest::newRow("record not described") << FailedStart{sample, "NESSUNO", db, {}, "Il record NESSUNO non è descritto in "};
        QTest::newRow("no field to edit") << FailedStart{sample, "T", db, {}, "Impossibile visualizzare l'editor"};
        QTest::newRow("table not found") << FailedStart{sample, "ASSENTE", db, {}, "Tabella ASSENTE non trovata nel database"};
        QTest::newRow("missing file") << FailedStart{sample, "ASSENTE", "manca.db", {}, "Il database "};
        QTest::newRow("empty file") << FailedStart{sample, "ASSENTE", "vuoto.db", QByteArray(""), "Il file "};
        QTest::newRow("not a database") << FailedStart{sample, "ASSENTE", "testo.db", QByteArray(5000, 'x'), "Il file "};
    }
    void failedStartsChangeNothing()
    {
        QFETCH(FailedStart, c);
        const auto &[dsc, record, database, bytes, said] = c;
        Folder folder;
        folder.exec({"CREATE TABLE T (A VARCHAR(5), B INTEGER)"});
        folder.conn.reset();
        if (!bytes.isNull())
            TestUtil::writeFile(folder.folder() + u'/' + database, bytes);
        const QString dscFolder = dsc.isNull() ? folder.folder() + QStringLiteral("/altrove") : folder.folder();
        if (!dsc.isNull())
            folder.dsc(QString::fromUtf8(dsc));
        const auto snapshot = [&] {
            QStringList files;
            for (const QFileInfo &f : QDir(folder.folder()).entryInfoList(QDir::Files, QDir::Name)) {
                QFile file(f.filePath());
                file.open(QIODevice::ReadOnly);
                files << f.fileName() + u' ' + QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha1).toHex();
            }
            return files;
        };
        const QStringList before = snapshot();
        FrmEditTab editor;
        try {
            editor.START(QString(), folder.folder(), database, record, dscFolder, QString(), false);
            QVERIFY(!editor.CanShow());
            QCOMPARE(messageTexts().size(), 1);
            QVERIFY2(messageTexts().first().startsWith(said), qPrintable(messageTexts().first()));
        } catch (const DataError &e) { // the data cannot be opened: the caller hears of it
            QVERIFY2(e.description().startsWith(said), qPrintable(e.description()));
            QVERIFY(e.description().contains(u"non è un database") || e.description().endsWith(u"non esiste."));
        }
        QCOMPARE(snapshot(), before);
    }

    // Called while its window closes (from a handler of the close) or after, every entry point
    // of the editor does nothing: no crash, no message, no row written.
    void callsOnAClosedEditorDoNothing()
    {
        Folder folder;
        const auto rows = [&] { return folder.rows("SELECT * FROM CLIENTI ORDER BY CODICE"); };
        const auto before = rows();
        FrmEditTab editor;
        start(editor, folder, QStringLiteral("CLIENTI"));
        control<QLineEdit>(editor, QStringLiteral("TxtText2"))->setText(QStringLiteral("Scritto dopo"));
        editor.SETMODIFICATO();
        const auto everything = [&] {
            for (int button : {0, 1, 2, 3, 4, 8})
                editor.CmdButton_Click(button);
            editor.ShowRecord();
            editor.RIEMPILISTA();
            editor.CmbBounded_Click(3);
            editor.SETNEW();
            const DataError failure(42, QStringLiteral("guasto"));
            editor.ErrorHandler(&failure);
        };
        connect(&editor, &FrmEditTab::CloseEditor, this, everything);
        m_messages->script({MsgAnswer::Ok}); // drop the change and close
        editor.close();
        m_messages->clear();
        everything();
        QVERIFY2(messageTexts().isEmpty(), qPrintable(messageTexts().join(u'|')));
        QCOMPARE(rows(), before);
    }

    // A host that installs no services gets the real screen.
    void realScreenByDefault()
    {
        setScreenService(nullptr);
        FrmEditTab editor;
        editor.SCREENMODE(0, 0); // the work area, less a frame the platform does not draw
        QCOMPARE(editor.size(), QGuiApplication::primaryScreen()->availableGeometry().size());
        QCOMPARE(screenService().workArea(), QGuiApplication::primaryScreen()->availableGeometry());
    }

    void singlePageHasNoTabAndDescriptionColumnsAreFound()
    {
        Folder folder;
        folder.exec({"CREATE TABLE DOC (ID INTEGER PRIMARY KEY, Desc1 VARCHAR(10), Descr2 VARCHAR(10), NOTA VARCHAR(10))",
                    "INSERT INTO DOC VALUES (1, 'uno', 'primo', 'x')"});
        folder.dsc("RECORD,DOC,Documenti,1\nCAMPO,ID,Id,LONG,4,,,,X\nCAMPO,NOTA,Nota,TEXT,10\nINDICE,PK,+ID,-1,-1\n");
        FrmEditTab editor;
        start(editor, folder, QStringLiteral("DOC"));
        QCOMPARE(editor.TabPage()->count(), 0);
        QCOMPARE(editor.DescField(), u"Descr2");
        QCOMPARE(editor.LstSelect()->lineAt(0), u"[1] primo");
        FrmEditTab given;
        start(given, folder, QStringLiteral("DOC"), std::nullopt, false, QStringLiteral("NOTA"));
        QCOMPARE(given.DescField(), u"NOTA");
    }

    void constructionByKind()
    {
        Folder folder;
        folder.exec({"CREATE TABLE TUTTI (K INTEGER PRIMARY KEY, T VARCHAR(5), L INTEGER, H INTEGER, N VARCHAR(5), LK VARCHAR(5), "
                    "B BLOB, F VARCHAR(80), C1 BOOLEAN, CB BOOLEAN, SC VARCHAR(5), Z VARCHAR(5))",
                    "INSERT INTO TUTTI VALUES (7, 'abc', 2, 3, 'nas', 'blo', NULL, '/tmp/x', 1, 0, 'sc', 'z')"});
        folder.dsc("RECORD,TUTTI,Tutti i tipi,1\n"
                   "CAMPO,K,Chiave,LONG,4,,,,X\n"
                   "CAMPO,T,Testo,TEXT,0,,,,X\n"
                   "CAMPO,L,Codice cliente,LONG,6,,,,X,,CLIENTI,NOME,EDITBOX\n"
                   "CAMPO,H,Nascosto con descrizione,LONG,6,,,,X,,CLIENTI,NOME,HIDDENFIELD\n"
                   "CAMPO,N,Nessuno,TEXT,5,,,,,,,,HIDDENFIELD\n"
                   "CAMPO,LK,Bloccato,TEXT,5,,,,,,,,LOCKEDFIELD\n"
                   "CAMPO,B,Allegato,BINARY\n"
                   "CAMPO,F,File,TEXT,80,,,,,,,,txtfile\n"
                   "CAMPO,C1,Spunta uno,BOOLEAN,,,,,X,,,,\n"
                   "CAMPO,CB,Spunta due,TEXT,1,,,,,,,,CHECK1\n"
                   "CAMPO,SC,Speciale,TEXT,5,,,,,,,,SPECIALCOMBO\n"
                   "CAMPO,Z,Z,TEXT,5,,,,,,,,Strano\n"
                   "INDICE,PK,+K,-1,-1\n");
        FrmEditTab editor;
        start(editor, folder, QStringLiteral("TUTTI"));
        QVERIFY(editor.CanShow()); // an unknown kind is told, and the editor opens all the same
        QCOMPARE(messageTexts(), QStringList({"Incontrata  tipo control non prevista: STRANO.\nPer il campo: Z"}));

        // A text field with length 0 takes its caption's width; the key is locked.
        const QRect t = editor.twipsOf(control(editor, QStringLiteral("TxtText2")));
        QCOMPARE(t.width(), editor.twipsOf(control(editor, QStringLiteral("TxtLabel2"))).width());
        QVERIFY(t.width() > 0);
        QVERIFY(!control(editor, QStringLiteral("TxtNumeric1"))->isEnabled());

        // A lookup-coded number: its description box beside it, twice as wide, 140 twips away.
        const QRect l = editor.twipsOf(control(editor, QStringLiteral("TxtNumeric3")));
        const QRect d = editor.twipsOf(control(editor, QStringLiteral("TxtDesc3")));
        QCOMPARE(d.left(), l.left() + l.width() + 140);
        QCOMPARE(d.width(), 2 * l.width());
        QCOMPARE(control(editor, QStringLiteral("TxtDesc3"))->property("Tag").toString(), u"1,1");

        // Hidden with a lookup: bound but never shown, its description box where the input would be.
        auto *h = control<QLineEdit>(editor, QStringLiteral("TxtText4"));
        QCOMPARE(h->property("DataField").toString(), u"H");
        QVERIFY(h->property("Tag").toString().isEmpty());
        QCOMPARE(h->text(), u"3");
        QCOMPARE(editor.twipsOf(control(editor, QStringLiteral("TxtDesc4"))).left(), editor.twipsOf(h).left());
        // Hidden without a lookup becomes a field that is never shown.
        QCOMPARE(editor.rec()->Campi()->Item("N")->ObjType(), u"NESSUNO");
        QVERIFY(control(editor, QStringLiteral("TxtText5"))->property("Tag").toString().isEmpty());
        QCOMPARE(shown(editor, QStringLiteral("TxtText5")), u"nas");
        // Locked, binary, file.
        QVERIFY(!control(editor, QStringLiteral("TxtText6"))->isEnabled());
        QCOMPARE(shown(editor, QStringLiteral("TxtText6")), u"blo");
        QCOMPARE(control<QPushButton>(editor, QStringLiteral("CmdShowBin7"))->text(), u"Allegato");
        QCOMPARE(shown(editor, QStringLiteral("txtFile8")), u"/tmp/x");
        // CHECKBOX shows its caption on the box under an empty caption; CHECK1 the other way round.
        QCOMPARE(control<QCheckBox>(editor, QStringLiteral("ChkBoolean9"))->text(), u"Spunta uno");
        QVERIFY(shown(editor, QStringLiteral("TxtLabel9")).isEmpty());
        QVERIFY(!control(editor, QStringLiteral("TxtLabel9"))->isEnabled());
        QCOMPARE(shown(editor, QStringLiteral("TxtLabel10")), u"Spunta due");
        QVERIFY(control<QCheckBox>(editor, QStringLiteral("ChkBoolean9"))->isChecked());
        // SPECIALCOMBO: the combo box is bound itself, besides its hidden box.
        QCOMPARE(control(editor, QStringLiteral("CmbBounded11"))->property("DataField").toString(), u"SC");
        QCOMPARE(control(editor, QStringLiteral("TxtText11"))->property("DataField").toString(), u"SC");
    }

    // A list longer than the view holds at once: its scroll bar spans every line, and the lines,
    // the selected line and the keys stay right wherever the user scrolls, clicks or types.
    void longListMovesItsWindow()
    {
        constexpr int kRows = 250'000;
        TestUtil::Backend db(QStringLiteral("sqlite"));
        db.exec({"CREATE TABLE lunga (k INTEGER PRIMARY KEY, descr VARCHAR(20))",
                 QStringLiteral("INSERT INTO lunga WITH RECURSIVE s(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM s "
                                "WHERE n < %1) SELECT n, 'r' || n FROM s").arg(kRows)});
        RecordListView view;
        view.resize(300, 400);
        view.setRecordModel(std::make_unique<RecordListModel>(db.conn, "lunga", QStringList{"k"}, "descr"));
        view.setCurrentRow(200'000); // before the view is shown, as an editor opened on a key does
        QCOMPARE(view.currentRow(), 200'000);
        view.show();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        QTRY_VERIFY(view.recordModel()->isCounted());
        QCOMPARE(view.count(), kRows);
        QCOMPARE(view.model()->rowCount(), RecordListView::kWindowRows);
        QScrollBar *bar = view.verticalScrollBar();
        QCOMPARE(bar->maximum(), kRows - bar->pageStep());
        const auto line = [](int row) { return QStringLiteral("[%1] r%1").arg(row + 1); };
        const auto shownAt = [&](int y) { return view.indexAt(QPoint(5, y)).data().toString(); };
        QSignalSpy selected(&view, &RecordListView::currentRowChanged);

        QTRY_COMPARE(view.currentIndex().data().toString(), line(200'000));
        QVERIFY(view.visualRect(view.currentIndex()).intersects(view.viewport()->rect()));
        for (const int top : {kRows / 2, kRows - bar->pageStep(), 3, 180'000}) {
            bar->setValue(top);
            QCOMPARE(shownAt(2), line(top)); // keys without gaps: guessed right at once
        }
        view.setCurrentRow(240'000);
        QCOMPARE(view.currentRow(), 240'000);
        QTRY_COMPARE(view.currentIndex().data().toString(), line(240'000));
        QCOMPARE(view.keyAt(view.currentRow()), QVariantList{240'001});
        view.setCurrentRow(20); // then scrolled far away: still the selected line
        bar->setValue(200'000);
        QTRY_COMPARE(shownAt(2), line(200'000));
        QCOMPARE(view.currentRow(), 20);
        QCOMPARE(selected.size(), 2);
        QTest::keyClick(&view, Qt::Key_Down); // from that line, which comes back into view
        QCOMPARE(view.currentRow(), 21);
        QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(view.currentRow(), kRows - 1);
        QTRY_COMPARE(view.currentIndex().data().toString(), line(kRows - 1));
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(&view, Qt::Key_PageUp);
        QVERIFY(view.currentRow() < kRows - 3 * 10 && view.currentRow() > kRows - 3 * 40);
        QTest::keyClick(&view, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(view.currentRow(), 0);
        QCOMPARE(bar->value(), 0);
        QCOMPARE(selected.size(), 8); // one signal per line selected, none as the window moved
        QCOMPARE(selected.last().at(0).toInt(), 0);

        // Keys with gaps: a guessed page is put right when the read by position comes.
        db.exec({"DELETE FROM lunga WHERE k <= 100000 AND k % 2 = 0"});
        view.recordModel()->refresh();
        QTRY_VERIFY(view.recordModel()->isCounted());
        QCOMPARE(view.count(), kRows - 50'000);
        bar->setValue(150'000);
        QTRY_COMPARE(shownAt(2), QStringLiteral("[200001] r200001"));
        bar->setValue(20'000);
        QTRY_COMPARE(shownAt(2), QStringLiteral("[40001] r40001"));
    }

    // A list long enough to be counted away from the window: a delete takes one line off at once.
    void deleteOnACountedList()
    {
        Folder folder;
        folder.exec({"INSERT INTO CLIENTI (CODICE, NOME) WITH RECURSIVE s(n) AS (SELECT 4 UNION ALL SELECT n + 1 FROM s "
                    "WHERE n < 12000) SELECT n, 'Cliente ' || n FROM s"});
        FrmEditTab editor;
        start(editor, folder, QStringLiteral("CLIENTI"));
        QTRY_VERIFY(editor.LstSelect()->recordModel()->isCounted());
        QCOMPARE(editor.LstSelect()->count(), 12000);
        editor.LstSelect()->setCurrentRow(5);
        m_messages->script({MsgAnswer::Ok});
        editor.CmdButton_Click(3);
        QCOMPARE(editor.LstSelect()->count(), 11999);
    }

    // No two buttons, input captions or tabs of a window share an Alt key, in either language;
    // the keys of the buttons shown press them.
    void everyWindowHasItsOwnKeys_data() { QTest::addColumn<QString>("language"), QTest::newRow("it") << "it", QTest::newRow("en") << "en"; }
    void everyWindowHasItsOwnKeys()
    {
        QFETCH(QString, language);
        QVERIFY(setLanguage(language));
        const auto italian = qScopeGuard([] { setLanguage(QString()); });
        Folder folder;
        FrmEditTab editor;
        TestUtil::startShown(editor, folder.connection, folder.folder(), QStringLiteral("CLIENTI"));
        const auto press = [&](QAbstractButton *b) {
            QTest::keySequence(QApplication::focusWidget(), QKeySequence::mnemonic(b->text()));
        };
        const auto check = [&](const QWidget *w, bool shownOnly = true) {
            QStringList keys = altKeys(w, shownOnly);
            QVERIFY2(keys.removeDuplicates() == 0, qPrintable(altKeys(w, shownOnly).join(u' ')));
        };
        check(&editor, false); // in every mode at once
        check(&editor);
        press(control<QPushButton>(editor, QStringLiteral("CmdCerca")));
        QTRY_VERIFY(control(editor, QStringLiteral("FraRicerca"))->isVisible()); // a key clicks after a moment
        check(&editor);
        m_messages->script({MsgAnswer::Cancel});
        press(editor.CmdButton(3)); // Elimina, with the panel shown: asked, and cancelled
        QTRY_COMPARE(m_messages->messages().size(), 1);
        TestUtil::typeInto(editor, control(editor, QStringLiteral("TxtText2")), QStringLiteral("Rossi Mario"));
        QVERIFY(editor.Modified());
        check(&editor);
        press(editor.CmdButton(1)); // Conferma saves
        QTRY_VERIFY(!editor.Modified());
        QCOMPARE(folder.scalar("SELECT NOME FROM CLIENTI WHERE CODICE = 1").toString(), u"Rossi Mario");
        press(editor.CmdButton(0));
        QTRY_COMPARE(modeOf(editor), u"00101 nolist");
        check(&editor);
        for (const auto situation : {FrmConflitto::Situation::Changed, FrmConflitto::Situation::DeleteOfChanged})
            check(std::make_unique<FrmConflitto>(situation, QList<FrmConflitto::Difference>{}).get(), false);
        bool cancelled = false;
        for (const auto wait : {WaitWindow::Lock, WaitWindow::Server})
            check(std::unique_ptr<QDialog>(makeWaitWindow(wait, QStringLiteral("x"), &cancelled)).get(), false);
    }

    // Each input is wide enough for its longest value in its font (dates in their pictures and
    // in the general form, numbers with sign, separators and decimals), and so is each input of
    // the search panel, under its whole caption.
    void inputsShowTheirLongestValues_data() { QTest::addColumn<int>("points"), QTest::newRow("9 pt, 96 dpi") << 9, QTest::newRow("15 pt, 144 dpi") << 15; }
    void inputsShowTheirLongestValues()
    {
        QFETCH(int, points);
        const double dpi = points > 9 ? 144 : 96;
        const QFont font = QApplication::font();
        QApplication::setFont(QFont(font.family(), points));
        const auto restore = qScopeGuard([font] { QApplication::setFont(font); });
        setScreenService(std::make_shared<FixedScreenService>(QRect(0, 0, 1920, 1200), QRect(), dpi));
        Folder folder;
        folder.exec({"CREATE TABLE MISURE (ID INTEGER PRIMARY KEY, NATO DATE, VISTO DATETIME, GIORNO DATE, "
                    "FIDO NUMERIC(14,2), QTA INTEGER, ULTMOD DATETIME)"});
        folder.dsc("RECORD,MISURE,Misure,1\nCAMPO,ID,Id,LONG,4\nCAMPO,NATO,Nato,DATE\n" // one field a row: a narrow window
                   "CAMPO,VISTO,Visto,DATE,,,,,,,,,,dd/mm/yyyy hh:nn\nCAMPO,GIORNO,Giorno,DATE,,,,,,,,,,dddd d mmmm yyyy\n"
                   "CAMPO,FIDO,Fido,CURRENCY,12,,,,,,,,,0.00\nCAMPO,QTA,Qta,INTEGER\n"
                   "CAMPO,ULTMOD,Mod,DATE,,,,,,,,,UMOD\nRICERCA,1,MOSTRA,Per data,ID\nRICERCA,1,SELEZIONE,NATO,,>=\n"
                   "RICERCA,1,SELEZIONE,FIDO,,>=\nRICERCA,1,SELEZIONE,VISTO,,<=\nINDICE,PK,+ID,-1,-1\n");
        FrmEditTab editor;
        TestUtil::startShown(editor, folder.connection, folder.folder(), QStringLiteral("MISURE"));
        const std::pair<const char *, const char *> longest[] = {
            {"TxtDate2", "28/12/2000"}, {"TxtDate3", "28/12/2000 23:59:59"}, {"TxtDate4", "mercoledì 27 settembre 2000"},
            {"TxtNumeric5", "-99999999999,00"}, {"TxtNumeric6", "-32768"}, {"TxtUMOD7", "28/12/2000 23:59:59"}};
        for (const auto &[name, text] : longest)
            QVERIFY2(showsWhole(control<QLineEdit>(editor, name), QString::fromUtf8(text)), name);
        editor.Search(1, {});
        const char *searched[] = {"28/12/2000", "-99999999999,00", "28/12/2000 23:59"};
        for (int i = 0; i < 3; ++i)
            QVERIFY2(showsWhole(control<QLineEdit>(editor, QStringLiteral("Ricerca%1").arg(i)), searched[i]), searched[i]);
        for (const auto *caption : editor.findChildren<QLabel *>())
            if (caption->buddy())
                QVERIFY2(caption->width() >= caption->sizeHint().width(), qPrintable(caption->text()));
    }

    // The window, its frame counted, stays within the screen's work area; the list shows eight
    // lines where the screen has room.
    void windowFitsTheScreen_data()
    {
        QTest::addColumn<QRect>("work");
        QTest::addColumn<QMargins>("frame");
        QTest::addColumn<double>("dpi");
        QTest::addColumn<bool>("eightLines");
        QTest::newRow("1400 wide") << QRect(0, 0, 1400, 860) << QMargins(4, 30, 4, 4) << 96.0 << true;
        QTest::newRow("1024 x 768, 120 dpi") << QRect(0, 28, 1024, 740) << QMargins(8, 31, 8, 8) << 120.0 << true;
        QTest::newRow("low") << QRect(0, 0, 800, 300) << QMargins(0, 24, 0, 0) << 96.0 << false;
    }
    void windowFitsTheScreen()
    {
        QFETCH(QRect, work);
        QFETCH(QMargins, frame);
        QFETCH(double, dpi);
        QFETCH(bool, eightLines);
        setScreenService(std::make_shared<FixedScreenService>(QRect(0, 0, work.right() + 1, work.bottom() + 1), work, dpi, frame));
        Folder folder;
        QStringList columns, fields;
        for (int i = 1; i <= 9; ++i) {
            columns << QStringLiteral("C%1 VARCHAR(40)").arg(i);
            fields << QStringLiteral("CAMPO,C%1,Campo %1,TEXT,40,,,,X,,,,,,%2").arg(i).arg(i < 7 ? 1 : 2);
        }
        folder.exec({QStringLiteral("CREATE TABLE LARGA (%1)").arg(columns.join(u','))});
        folder.dsc(QStringLiteral("RECORD,LARGA,Larga,1\n%1\n").arg(fields.join(u'\n')));
        FrmEditTab editor;
        editor.SCREENMODE(800, 600); // an asked size, within the screen; 0 asks for all of it
        QCOMPARE(editor.size(), QSize(800, std::min(600, work.height() - frame.top() - frame.bottom())));
        editor.SCREENMODE(0, 600);
        QCOMPARE(editor.size(), work.size().shrunkBy(frame));
        start(editor, folder, QStringLiteral("LARGA"));
        QVERIFY(editor.CanShow());
        // Sized to its fields (the widest row plus the button panel) within the screen.
        const QRect panel = editor.twipsOf(control(editor, QStringLiteral("PicButton")));
        QCOMPARE(panel.left(), FrmEditTabPrivate::of(editor).window.formWidth() - 1470);
        QCOMPARE(editor.twipsOf(editor.LstSelect()).width(), panel.left() - 100);
        const QRect outer(editor.pos(), editor.size().grownBy(frame)); // a window's position is its frame's
        QVERIFY2(work.contains(outer), qPrintable(QTest::toString(outer)));
        const QRect pages(0, editor.LstSelect()->geometry().bottom() + 1, editor.width(), editor.height());
        for (QWidget *w : editor.fieldControls())
            if (!w->property("Tag").toString().isEmpty())
                QVERIFY(pages.intersected(editor.rect()).contains(w->geometry())); // under the list, in the window
        const int line = editor.LstSelect()->verticalHeader()->defaultSectionSize();
        QCOMPARE(editor.LstSelect()->height() >= 8 * line, eightLines);
    }
};

QTEST_MAIN(TstEditor)
#include "tst_editor.moc"
