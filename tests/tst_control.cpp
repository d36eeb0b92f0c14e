#include "control/norvix.h"
#include "editor/frmedittab.h"
#include "editor/recordlistview.h"
#include "platform/recordset.h"
#include "editor/shared.h"
#include "platform/messages.h"
#include "platform/window.h"
#include "anagrafica.h"

#include <QLineEdit>
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
        Shared::EditorVisible = false;
        Shared::Modale = true;
    }
    void cleanup() { setMessageService(nullptr); }

    void newControlDefaults()
    {
        ::Norvix::Norvix control;
        QVERIFY(control.CenterForm() && control.Modale() && !control.ReadOnly() && !control.CloseOnConfirm());
        QVERIFY(!control.EditorVisible());
        control.setEditorVisible(true); // has no effect
        QVERIFY(!control.EditorVisible());
        QVERIFY(control.DbPath().isEmpty() && control.Connection().isEmpty() && control.LastInserted().isEmpty());
        // Designer saves what is stored; the run-time values never.
        const QMetaObject *mo = control.metaObject();
        for (const char *name : {"EditorVisible", "LastInserted", "LastView"})
            QVERIFY(!mo->property(mo->indexOfProperty(name)).isStored());
        for (const char *name : {"DbPath", "Connection", "Modale", "DscPassword", "TextFieldColor"})
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

        Shared::Modale = true;
        Shared::LastInserted.clear();
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
        QVERIFY(restored.LastInserted().isEmpty());

        // A design saved with defaults only reads back as a new control.
        MemoryPropertyBag empty;
        ::Norvix::Norvix fresh;
        fresh.readProperties(empty);
        QVERIFY(fresh.CenterForm() && fresh.Modale() && !fresh.ReadOnly() && !fresh.CloseOnConfirm());
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
