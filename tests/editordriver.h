#pragma once

// Driving a shown editor as a user does, for the suites that work through the editor window.

#include "descriptor/descriptor.h"
#include "editor/frmedittab.h"
#include "editor/pagelayout.h"
#include "editor/recordlistview.h"
#include "platform/recordset.h"
#include "editor/shared.h"
#include "platform/messages.h"
#include "platform/window.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

#include <optional>

namespace TestUtil {

// The named control of the editor; a missing one ends the run, since every later step would fail.
template <typename T = QWidget>
T *control(Norvix::FrmEditTab &editor, const QString &name)
{
    auto *w = editor.findChild<T *>(name);
    if (!w)
        qFatal("no control %s", qPrintable(name));
    return w;
}

// What the named control shows.
inline QString shown(Norvix::FrmEditTab &editor, const QString &name)
{
    return Norvix::FrmEditTab::controlText(control(editor, name));
}

// Clicks a command button, which must be there to be clicked.
inline void press(Norvix::FrmEditTab &editor, int button)
{
    QVERIFY2(editor.CmdButton(button)->isVisible() && editor.CmdButton(button)->isEnabled(),
             qPrintable(QStringLiteral("button %1 cannot be pressed").arg(button)));
    QTest::mouseClick(editor.CmdButton(button), Qt::LeftButton);
}

// Types into a field as a user does: focus, select all, type (ASCII only; an empty text deletes).
// Types `text` over a box's whole contents, as keys; letters beyond ASCII go as key events of
// their own (QTest::keyClicks cannot send them).
inline void typeKeys(QLineEdit *box, const QString &text)
{
    box->selectAll();
    if (text.isEmpty())
        QTest::keyClick(box, Qt::Key_Delete);
    for (const QChar c : text) {
        if (c.unicode() < 128) {
            QTest::keyClicks(box, QString(c));
        } else {
            QTest::sendKeyEvent(QTest::Press, box, Qt::Key_unknown, QString(c), Qt::NoModifier);
            QTest::sendKeyEvent(QTest::Release, box, Qt::Key_unknown, QString(c), Qt::NoModifier);
        }
    }
}

inline void typeInto(Norvix::FrmEditTab &editor, QWidget *w, const QString &text)
{
    editor.CTRLSETFOCUS(w);
    QTRY_VERIFY(w->hasFocus());
    QLineEdit *edit = qobject_cast<QLineEdit *>(w);
    if (auto *combo = qobject_cast<QComboBox *>(w))
        edit = combo->lineEdit();
    QVERIFY(edit);
    typeKeys(edit, text);
}

// Leaves the field that has the focus with Tab.
inline void leave(Norvix::FrmEditTab &editor)
{
    if (QWidget *w = editor.focusWidget())
        QTest::keyClick(w, Qt::Key_Tab);
}

// The texts of the messages the user was shown.
inline QStringList messageTexts(const Norvix::RecordingMessageService &messages)
{
    QStringList out;
    for (const Norvix::Message &m : messages.messages())
        out << m.text;
    return out;
}

// What each editing test starts from: a message recorder (returned), a fixed 1280x1024 screen,
// and the process-wide settings a test may have changed back at their defaults.
inline std::shared_ptr<Norvix::RecordingMessageService> freshUser()
{
    auto messages = std::make_shared<Norvix::RecordingMessageService>();
    Norvix::setMessageService(messages);
    Norvix::setScreenService(std::make_shared<Norvix::FixedScreenService>());
    ::Norvix::SharedSettings::process().closeOnConfirm = false;
    ::Norvix::SharedSettings::process().lastInserted.clear();
    return messages;
}

// Runs `action`, handing each conflict window it shows to `answer` (by default: Esc); returns
// how many showed.
inline int answerConflicts(const std::function<void()> &action, const std::function<void(QWidget *)> &answer = {})
{
    int shown = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        QWidget *w = QApplication::activeModalWidget();
        if (!w || w->objectName() != u"FrmConflitto")
            return;
        ++shown;
        answer ? answer(w) : QTest::keyClick(w, Qt::Key_Escape);
    });
    timer.start(5);
    action();
    return shown;
}

// Starts the editor on a record and shows it, active.
inline void startShown(Norvix::FrmEditTab &editor, const QString &connection, const QString &folder,
                       const QString &record, const std::optional<QString> &key = std::nullopt)
{
    editor.START(connection, folder, QString(), record, QString(), QString(), false, key);
    QVERIFY(editor.CanShow());
    editor.show();
    QVERIFY(QTest::qWaitForWindowActive(&editor));
}

} // namespace TestUtil
