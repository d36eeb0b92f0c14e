#include "control/norvix.h"
#include "editor/frmedittab.h"
#include "editor/recordlistview.h"
#include "platform/recordset.h"
#include "session/history.h"
#include "editor/shared.h"
#include "platform/messages.h"
#include "platform/waiting.h"
#include "platform/window.h"
#include "anagrafica.h"
#include "editordriver.h"

#include <QRandomGenerator>
#include <QSqlQuery>

#include <QLineEdit>
#include <QMessageBox>
#include <QMetaProperty>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace Norvix;

namespace {

// The control pointed at the sample customers.
void point(::Norvix::Norvix &control, const TestUtil::Data &data)
{
    control.setDbPath(data.folder());
    control.setDatabaseName(QStringLiteral("anagrafica.db"));
    control.setRecordName(QStringLiteral("CLIENTI"));
}

// Runs a statement on another user's connection: true when it ran.
bool exec(const std::shared_ptr<Connection> &other, const char *sql)
{
    return other->call([&] { return QSqlQuery(other->database()).exec(sql); });
}

// A user who reads each message for a moment (timers run meanwhile, as under a real box) and
// answers with either button.
struct HastyUser : MessageService
{
    QRandomGenerator random;
    explicit HastyUser(int seed) : random(seed) {}
    MsgAnswer show(const Message &m) override
    {
        QTest::qWait(random.bounded(4));
        const bool first = random.bounded(2);
        if (m.buttons == MsgButtons::YesNo)
            return first ? MsgAnswer::Yes : MsgAnswer::No;
        return first || m.buttons == MsgButtons::OkOnly ? MsgAnswer::Ok : MsgAnswer::Cancel;
    }
};

} // namespace

class TstControl : public QObject
{
    Q_OBJECT

    std::shared_ptr<RecordingMessageService> m_messages;

private slots:
    void init()
    {
        m_messages = std::make_shared<RecordingMessageService>();
        setMessageService(m_messages);
        setScreenService(std::make_shared<FixedScreenService>(QRect(0, 0, 1280, 1024), QRect(0, 0, 1280, 984)));
        ::Norvix::SharedSettings::process().editorVisible = false;
        ::Norvix::SharedSettings::process().modal = true;
    }
    void cleanup() { setMessageService(nullptr); }

    void newControlDefaults()
    {
        ::Norvix::Norvix control;
        QVERIFY(control.CenterForm() && control.Modale() && !control.ReadOnly() && !control.CloseOnConfirm());
        QVERIFY(!control.EditorVisible() && control.LiveUpdates());
        control.setEditorVisible(true); // has no effect
        QVERIFY(!control.EditorVisible());
        QVERIFY(control.DbPath().isEmpty() && control.Connection().isEmpty() && control.LastInserted().isEmpty());
        QCOMPARE(control.UserName(), ::Norvix::systemUserName());
        { // as in a service, where no variable names the user: the account's own name
            const QByteArray user = qgetenv("USER"), login = qgetenv("LOGNAME");
            const auto back = qScopeGuard([&] { qputenv("USER", user), qputenv("LOGNAME", login); });
            qunsetenv("USER"), qunsetenv("LOGNAME"), qunsetenv("USERNAME");
            QVERIFY(!::Norvix::Norvix().UserName().isEmpty());
        }
        // Designer saves what is stored; the run-time values never.
        const QMetaObject *mo = control.metaObject();
        for (const char *name : {"EditorVisible", "LastInserted", "LastView"})
            QVERIFY(!mo->property(mo->indexOfProperty(name)).isStored());
        for (const char *name : {"DbPath", "Connection", "Modale", "DscPassword", "TextFieldColor", "UserName", "LiveUpdates"})
            QVERIFY(mo->property(mo->indexOfProperty(name)).isStored());
    }

    void designsRoundTrip()
    {
        QTemporaryDir dir;
        const QString ini = dir.filePath(QStringLiteral("norvix.ini"));
        {
            ::Norvix::Norvix control;
            control.setDbPath(QStringLiteral("/dati"));
            control.setTableDescField(42);
            control.setDscPath(7.5);
            control.setModale(false);
            control.setCenterForm(false);
            control.setReadOnly(true);
            control.setTextFieldColor(QColor(255, 255, 200));
            control.setLastInserted(QStringLiteral("10"));
            control.setLastView(QStringLiteral("3"));
            control.setConnection(QStringLiteral("Driver=postgresql;Host=db"));
            control.setUserName(QStringLiteral("Maria Rossi"));
            control.setLiveUpdates(false);
            QCOMPARE(control.TableDescField().toString(), u"42");
            QCOMPARE(control.DscPath().toString(), u"7.5");
            SettingsPropertyBag bag(ini);
            control.writeProperties(bag);
            bag.sync();
        }
        QFile file(ini);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY(!text.contains("LastInserted") && !text.contains("LastView") && !text.contains("EditorVisible"));

        ::Norvix::SharedSettings::process().modal = true;
        ::Norvix::SharedSettings::process().lastInserted.clear();
        ::Norvix::Norvix restored;
        restored.readProperties(SettingsPropertyBag(ini));
        QCOMPARE(restored.DbPath(), u"/dati");
        QCOMPARE(restored.TableDescField().toString(), u"42");
        QCOMPARE(restored.DscPath().toString(), u"7.5");
        QVERIFY(!restored.Modale());
        QVERIFY(!restored.CenterForm());
        QVERIFY(restored.ReadOnly());
        QCOMPARE(restored.TextFieldColor(), QColor(255, 255, 200));
        QCOMPARE(restored.Connection(), u"Driver=postgresql;Host=db");
        QCOMPARE(restored.UserName(), u"Maria Rossi");
        QVERIFY(!restored.LiveUpdates());
        QVERIFY(restored.LastInserted().isEmpty());

        // A design saved with defaults only reads back as a new control.
        MemoryPropertyBag empty;
        ::Norvix::Norvix fresh;
        fresh.readProperties(empty);
        QVERIFY(fresh.CenterForm() && fresh.Modale() && !fresh.ReadOnly() && !fresh.CloseOnConfirm() && fresh.LiveUpdates());
        QCOMPARE(fresh.UserName(), ::Norvix::Norvix().UserName());
        QCOMPARE(fresh.TextFieldColor(), QColor(Qt::white));
        QCOMPARE(fresh.DateFieldColor(), QColor(Qt::white));
        QCOMPARE(fresh.BackColor(), QApplication::palette().color(QPalette::Button));
    }

    void workArea()
    {
        // As large as the screen, a task bar at the bottom: moved up to the work area's bottom.
        QCOMPARE(::Norvix::Norvix::KeepInWorkArea(QRect(0, 0, 1280, 1024), QRect(0, 0, 1280, 984)), QRect(0, -40, 1280, 1024));
        QCOMPARE(::Norvix::Norvix::KeepInWorkArea(QRect(-10, -5, 100, 100), QRect(0, 30, 800, 600)), QRect(0, 30, 100, 100));
        QCOMPARE(::Norvix::Norvix::KeepInWorkArea(QRect(750, 500, 100, 200), QRect(0, 0, 800, 600)), QRect(700, 400, 100, 200));
    }

    void modalReturnsWhenClosed()
    {
        TestUtil::Data data(QStringLiteral("sqlite"));
        ::Norvix::Norvix control;
        point(control, data);
        bool seen = false;
        QTimer::singleShot(0, &control, [&] {
            seen = control.TableEditor() && control.TableEditor()->isVisible();
            control.TableEditor()->close();
        });
        control.ShowTableEditor(QStringLiteral("2"));
        QVERIFY(seen);
        QVERIFY(!control.EditorVisible());
    }

    // A modeless editor: one at a time, its events to the host.
    void eventsReachTheHost()
    {
        TestUtil::Data data(QStringLiteral("sqlite"));
        ::Norvix::Norvix control;
        point(control, data);
        control.setModale(false);
        QString gotRecord, gotField;
        connect(&control, &::Norvix::Norvix::ExternalHandler, this, [&](QString &record, QString &field, QString &value) {
            gotRecord = record;
            gotField = field;
            value = QStringLiteral("dal programma");
        });
        connect(&control, &::Norvix::Norvix::Help, this, [&](QString &record, QString &field) {
            gotRecord = record + QStringLiteral(" help");
            gotField = field;
        });
        control.ShowTableEditor();
        FrmEditTab *editor = control.TableEditor();
        QVERIFY(editor && control.EditorVisible() && QTest::qWaitForWindowActive(editor));
        control.ShowTableEditor(QStringLiteral("2")); // while one is open, no second one
        QCOMPARE(control.TableEditor(), editor);
        auto *name = editor->findChild<QLineEdit *>(QStringLiteral("TxtText2"));
        emit editor->ExternalHandler(name);
        QCOMPARE(gotRecord, u"CLIENTI");
        QCOMPARE(gotField, u"NOME");
        QCOMPARE(name->text(), u"dal programma");

        editor->CTRLSETFOCUS(name);
        QTest::keyClick(name, Qt::Key_F1);
        QCOMPARE(gotRecord, u"CLIENTI help");
        QCOMPARE(gotField, u"NOME");
        control.CloseEditor();
        QVERIFY(!control.EditorVisible() && !control.TableEditor());

        // A host that gives no help: F1 lists the editor's keys.
        disconnect(&control, &::Norvix::Norvix::Help, this, nullptr);
        m_messages->script({});
        control.ShowTableEditor();
        editor = control.TableEditor();
        QVERIFY(QTest::qWaitForWindowActive(editor));
        QTest::keyClick(editor->findChild<QLineEdit *>(QStringLiteral("TxtText2")), Qt::Key_F1);
        QCOMPARE(m_messages->messages().size(), 1);
        QVERIFY(m_messages->messages().first().text.contains(u"Ctrl+S") && m_messages->messages().first().text.contains(u"Ctrl+N"));
        control.CloseEditor();
    }

    void modalEditorTurnsModelessAroundEvents()
    {
        TestUtil::Data data(QStringLiteral("sqlite"));
        ::Norvix::Norvix control;
        point(control, data);
        connect(&control, &::Norvix::Norvix::ExternalHandler, this, [](QString &, QString &, QString &value) { value = QStringLiteral("x"); });
        bool wasModal = false;
        QTimer::singleShot(0, &control, [&] {
            FrmEditTab *editor = control.TableEditor();
            wasModal = editor->isModal();
            emit editor->ExternalHandler(editor->findChild<QLineEdit *>(QStringLiteral("TxtText2")));
        });
        control.ShowTableEditor(); // the modal wait ends when the editor is hidden for the host
        QVERIFY(wasModal);
        QVERIFY(control.TableEditor());
        QVERIFY(control.TableEditor()->isVisible());
        QVERIFY(!control.TableEditor()->isModal());
        QCOMPARE(control.TableEditor()->findChild<QLineEdit *>(QStringLiteral("TxtText2"))->text(), u"x");
        control.CloseEditor();
    }

    // Host calls from timers at random moments while editors start, save, delete and close (the
    // SQLite file locked by another user now and then, PostgreSQL answering on its thread): one
    // editor at most, a call made while one opens or is open opens nothing, nothing crashes
    // (scripts/fuzz runs this under AddressSanitizer too).
    void hostCallsAtRandomMoments_data() { TestUtil::backends<int>("seed", {{"1", 1}, {"2", 2}, {"3", 3}}); }
    void hostCallsAtRandomMoments()
    {
        QFETCH(QString, backend);
        QFETCH(int, seed);
        TestUtil::Data data(backend == u"sqlite" ? QStringLiteral("sqlite-journal") : backend);
        ::Norvix::Norvix control;
        point(control, data);
        control.setConnection(data.connection);
        auto user = std::make_shared<HastyUser>(seed);
        setMessageService(user);
        QRandomGenerator &random = user->random;
        const auto other = data.open();
        int depth = 0, ticks = 0, opened = 0;
        bool twice = false, crowded = false, locked = false;
        const auto open = [&](const std::function<bool()> &call) {
            const bool busy = control.EditorVisible() || depth > 0;
            ++depth;
            const bool shown = call();
            --depth;
            twice = twice || (shown && busy);
            opened += shown;
        };
        const auto onEditor = [&](const std::function<void(FrmEditTab &)> &act) {
            if (FrmEditTab *editor = control.TableEditor(); editor && editor->isVisible())
                act(*editor);
        };
        const auto lock = [&](const char *sql) { return exec(other, sql); };
        const QList<std::function<void()>> calls{
            [&] { open([&] { return control.ShowTableEditor(); }); },
            [&] { open([&] { return control.ShowTableEditor(QStringLiteral("2")); }); },
            [&] { open([&] { return control.ShowTableSearch(1, {QStringLiteral("R")}); }); },
            [&] { control.CloseEditor(); },
            [&] { control.setModale(random.bounded(2)); },
            [&] { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); },
            [&] { onEditor([&](FrmEditTab &e) { e.LstSelect()->setCurrentRow(int(random.bounded(3))); }); },
            [&] { // a change typed, then Nuovo, Conferma, Annulla, Elimina or Fine
                onEditor([&](FrmEditTab &e) {
                    if (auto *name = e.findChild<QLineEdit *>(QStringLiteral("TxtText2")); name && name->isEnabled())
                        name->setText(QString::number(random.bounded(1000)));
                    e.SETMODIFICATO();
                    e.CmdButton_Click(int(random.bounded(5)));
                });
            },
            [&] {
                if (data.sqlite && !locked && (locked = lock("BEGIN EXCLUSIVE")))
                    QTimer::singleShot(random.bounded(20, 150), &control, [&] { locked = !lock("COMMIT"); });
            },
        };
        std::function<void()> tick = [&] {
            const bool last = ++ticks > 120;
            if (!last || depth > 0 || control.EditorVisible())
                QTimer::singleShot(random.bounded(12), &control, tick);
            last ? control.CloseEditor() : calls.at(random.bounded(calls.size()))();
            const auto windows = QApplication::topLevelWidgets();
            crowded = crowded || std::count_if(windows.begin(), windows.end(), [](QWidget *w) {
                                     return qobject_cast<FrmEditTab *>(w) && w->isVisible();
                                 }) > 1;
        };
        QTimer::singleShot(0, &control, tick);
        QTRY_VERIFY_WITH_TIMEOUT(ticks > 120 && depth == 0 && !control.EditorVisible() && !locked, 120000);
        // After the storm the control still opens an editor (the random closes may have ended
        // every start meanwhile).
        control.setModale(false);
        open([&] { return control.ShowTableEditor(); });
        control.CloseEditor();
        QVERIFY2(opened > 0 && !twice && !crowded, qPrintable(QString("%1 opened, twice %2, crowded %3").arg(opened).arg(twice).arg(crowded)));
    }

    // The host deletes what owns the editor while an operation of the editor waits: for a lock
    // ("Database occupato" on a save), for the server (a row another session locked: "Attendere")
    // or for an answer (the question of a close). The operation gives up, nothing is written
    // (not even once the lock goes), no window stays, no box shows after, and nothing touches
    // freed memory (scripts/fuzz runs this suite under AddressSanitizer).
    void ownerGoneDuringAWait_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("wait");
        QTest::addColumn<QString>("gone");
        for (const char *gone : {"control", "window", "window later", "editor later"}) {
            QTest::addRow("lock, %s", gone) << "sqlite" << "lock" << gone;
            QTest::addRow("question, %s", gone) << "sqlite" << "question" << gone;
        }
        for (const char *gone : {"control", "window"})
            QTest::addRow("server, %s", gone) << "postgresql" << "server" << gone;
    }
    void ownerGoneDuringAWait()
    {
        QFETCH(QString, backend);
        QFETCH(QString, wait);
        QFETCH(QString, gone);
        TestUtil::Data data(backend);
        setMessageService(nullptr); // real boxes: one asked of a given-up operation would block
        const QPointer<QWidget> window = new QWidget;
        const QPointer<::Norvix::Norvix> control = new ::Norvix::Norvix(window);
        point(*control, data);
        control->setConnection(data.connection);
        const auto other = data.open();
        const QString stored = QStringLiteral("SELECT NOME FROM CLIENTI WHERE CODICE = 1");
        const QString before = data.scalar(stored).toString();
        QPointer<FrmEditTab> editor;
        QWidget *waiting = nullptr; // the wait's window or the question, when the host struck
        int boxesAfter = 0;
        QTimer host;
        connect(&host, &QTimer::timeout, this, [&] {
            QWidget *shown = QApplication::activeModalWidget();
            const bool box = qobject_cast<QMessageBox *>(shown);
            if (!waiting && shown && (box || QStringList{"FrmOccupato", "FrmAttesa"}.contains(shown->objectName()))) {
                waiting = shown;
                if (gone == u"control")
                    delete control.data();
                else if (gone == u"window")
                    delete window.data();
                else
                    (gone == u"window later" ? static_cast<QObject *>(window) : editor)->deleteLater();
            } else if (waiting && box && shown != waiting) {
                ++boxesAfter;
                shown->close();
            }
        });
        QTimer user; // once the editor is shown and nothing waits
        connect(&user, &QTimer::timeout, this, [&] {
            if (!control || !control->TableEditor() || !control->TableEditor()->isVisible() || RunningEvents::depth() > 0)
                return;
            user.stop();
            editor = control->TableEditor();
            TestUtil::typeInto(*editor, TestUtil::control(*editor, "TxtText2"), "Cambiato");
            if (wait == u"question")
                return control->CloseEditor(); // "Annulli le modifiche ?"
            QVERIFY(data.sqlite ? exec(other, "BEGIN IMMEDIATE")
                                : exec(other, "BEGIN") && exec(other, "SELECT * FROM CLIENTI WHERE CODICE = 1 FOR UPDATE"));
            editor->CmdButton_Click(1);
        });
        host.start(20);
        user.start(10);
        control->ShowTableEditor(QStringLiteral("1")); // modal: returns when the editor goes
        QTRY_VERIFY(!editor);
        QVERIFY(waiting && !::Norvix::SharedSettings::process().editorVisible);
        const auto windows = QApplication::topLevelWidgets();
        QVERIFY(std::none_of(windows.begin(), windows.end(), [&](QWidget *w) { return w != window && w->isVisible(); }));
        QCOMPARE(boxesAfter, 0);
        if (wait != u"question")
            QVERIFY(exec(other, "COMMIT"));
        QTest::qWait(50);
        QCOMPARE(data.scalar(stored).toString(), before);
        delete window.data();
    }

    // A host's timer calls the editor while its save waits for a lock: each call that would touch
    // the row, the fields or the list does nothing; the save lands on its row once the lock goes.
    void callsDuringAWaitDoNothing_data()
    {
        QTest::addColumn<std::function<void(FrmEditTab &)>>("call");
        const QList<QPair<const char *, std::function<void(FrmEditTab &)>>> calls{
            {"ShowRecord", [](FrmEditTab &e) { e.ShowRecord(); }},
            {"SETNEW", [](FrmEditTab &e) { e.SETNEW(); }},
            {"SETNEUTRAL", [](FrmEditTab &e) { e.SETNEUTRAL(); }},
            {"SETMODIFICATO", [](FrmEditTab &e) { e.SETMODIFICATO(); }},
            {"RIEMPILISTA", [](FrmEditTab &e) { e.RIEMPILISTA(); }},
            {"CTRLSETFOCUS", [](FrmEditTab &e) { e.CTRLSETFOCUS(e.fieldControls().value(0)); }},
            {"lookup click", [](FrmEditTab &e) { e.CmbBounded_Click(1); }},
            {"next row", [](FrmEditTab &e) { e.CmdButton_Click(8); }},
            {"Search", [](FrmEditTab &e) { e.Search(1, {QStringLiteral("R")}); }},
        };
        for (const auto &[name, call] : calls)
            QTest::newRow(name) << call;
    }
    void callsDuringAWaitDoNothing()
    {
        QFETCH(std::function<void(FrmEditTab &)>, call);
        TestUtil::Data data(QStringLiteral("sqlite"));
        FrmEditTab editor;
        TestUtil::startShown(editor, data.connection, data.folder(), QStringLiteral("CLIENTI"), QStringLiteral("1"));
        const QString second = data.scalar("SELECT NOME FROM CLIENTI WHERE CODICE = 2").toString();
        auto *name = TestUtil::control<QLineEdit>(editor, "TxtText2");
        TestUtil::typeInto(editor, name, "Salvato");
        const auto other = data.open();
        QVERIFY(exec(other, "BEGIN IMMEDIATE"));
        QStringList during; // the row in the fields, the mode, just after the call
        QTimer::singleShot(100, this, [&] {
            call(editor);
            during << TestUtil::shown(editor, "TxtNumeric1") << name->text() << QString::number(editor.Modified() && name->isEnabled());
        });
        QTimer::singleShot(300, this, [&] { exec(other, "COMMIT"); });
        editor.CmdButton_Click(1);
        QCOMPARE(during, QStringList({"1", "Salvato", "1"}));
        QCOMPARE(data.scalar("SELECT NOME FROM CLIENTI WHERE CODICE = 1").toString(), u"Salvato");
        QCOMPARE(data.scalar("SELECT NOME FROM CLIENTI WHERE CODICE = 2").toString(), second);
        QVERIFY(TestUtil::shown(editor, "TxtNumeric1") == u"1" && name->text() == u"Salvato" && !editor.Modified());
        QCOMPARE(editor.LstSelect()->currentRow(), 0);
        QVERIFY(m_messages->messages().isEmpty());
    }

    void failuresReachTheHost()
    {
        TestUtil::Data data(QStringLiteral("sqlite"));
        ::Norvix::Norvix control;
        point(control, data);
        control.setDatabaseName(QStringLiteral("manca.db"));
        QVERIFY_THROWS_EXCEPTION(DataError, control.ShowTableEditor());
        QVERIFY(!control.EditorVisible());
        control.setDscPath(data.folder() + QStringLiteral("/vuota"));
        control.setDatabaseName(QStringLiteral("anagrafica.db"));
        control.ShowTableEditor(); // no descriptor: told to the user, nothing opened
        QVERIFY(!control.TableEditor());
        QCOMPARE(m_messages->messages().last().text, u"Dsc non trovato");
    }
};

QTEST_MAIN(TstControl)
#include "tst_control.moc"
