#include "ui/qtmessages.h"

#include "platform/services.h"
#include "platform/waiting.h"
#include "ui/waitwindows.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QTimer>

#include <cmath>

namespace Norvix {

MsgAnswer QtMessageService::show(const Message &message)
{
    using B = QMessageBox::StandardButton;
    QMessageBox::StandardButtons buttons;
    switch (message.buttons) {
    case MsgButtons::OkOnly: buttons = B::Ok; break;
    case MsgButtons::OkCancel: buttons = B::Ok | B::Cancel; break;
    case MsgButtons::AbortRetryIgnore: buttons = B::Abort | B::Retry | B::Ignore; break;
    case MsgButtons::YesNoCancel: buttons = B::Yes | B::No | B::Cancel; break;
    case MsgButtons::YesNo: buttons = B::Yes | B::No; break;
    case MsgButtons::RetryCancel: buttons = B::Retry | B::Cancel; break;
    }
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (message.icon) {
    case MsgIcon::None: break;
    case MsgIcon::Critical: icon = QMessageBox::Critical; break;
    case MsgIcon::Question: icon = QMessageBox::Question; break;
    case MsgIcon::Exclamation: icon = QMessageBox::Warning; break;
    case MsgIcon::Information: icon = QMessageBox::Information; break;
    }
    // msgBox() counts the box's events already: the asking operation runs one level out.
    const int asker = RunningEvents::depth() - 1;
    if (Abandoned::at(asker))
        return safeAnswer(message.buttons); // its window is gone: nobody to ask
    const QString title = message.title.isEmpty() ? QApplication::applicationDisplayName() : message.title;
    // On the heap: the window it is shown over may be deleted while it waits, and the box with it.
    const QPointer<QMessageBox> box = new QMessageBox(icon, title, message.text, buttons, QApplication::activeWindow());
    const struct Owned
    {
        const QPointer<QMessageBox> &box;
        ~Owned() { delete box.data(); }
    } owned{box};
    // The asking operation abandoned while the box waits: closed, as Escape closes it.
    QTimer abandoned;
    QObject::connect(&abandoned, &QTimer::timeout, box, [b = box.data(), asker] {
        if (Abandoned::at(asker))
            b->reject();
    });
    abandoned.start(50);
    // Enter and Escape both take the answer that keeps the user's data.
    const auto safe = [](MsgAnswer a) {
        switch (a) {
        case MsgAnswer::Ok: return B::Ok;
        case MsgAnswer::Cancel: return B::Cancel;
        case MsgAnswer::Abort: return B::Abort;
        case MsgAnswer::Retry: return B::Retry;
        case MsgAnswer::Ignore: return B::Ignore;
        case MsgAnswer::Yes: return B::Yes;
        case MsgAnswer::No: return B::No;
        }
        return B::Cancel;
    }(safeAnswer(message.buttons));
    box->setDefaultButton(safe);
    box->setEscapeButton(safe);
    const int answer = box->exec();
    switch (box ? answer : -1) {
    case B::Ok: return MsgAnswer::Ok;
    case B::Cancel: return MsgAnswer::Cancel;
    case B::Abort: return MsgAnswer::Abort;
    case B::Retry: return MsgAnswer::Retry;
    case B::Ignore: return MsgAnswer::Ignore;
    case B::Yes: return MsgAnswer::Yes;
    case B::No: return MsgAnswer::No;
    default: break;
    }
    // Closed some other way: the answer that keeps data.
    return safeAnswer(message.buttons);
}

QString QtFileDialogService::openFile(const QString &title, const QString &folder)
{
    return QFileDialog::getOpenFileName(QApplication::activeWindow(), title, folder);
}

QString QtFileDialogService::saveFile(const QString &title, const QString &folder, const QString &filter)
{
    return QFileDialog::getSaveFileName(QApplication::activeWindow(), title, folder, filter);
}

namespace {
QScreen *screen()
{
    return QGuiApplication::primaryScreen();
}
} // namespace

QRect QtScreenService::screenGeometry() const
{
    return screen() ? screen()->geometry() : QRect(0, 0, 1280, 1024);
}

QRect QtScreenService::workArea() const
{
    return screen() ? screen()->availableGeometry() : screenGeometry();
}

double QtScreenService::twipsPerPixelX() const
{
    return screen() ? 1440.0 / screen()->logicalDotsPerInchX() : 15.0;
}

double QtScreenService::twipsPerPixelY() const
{
    return screen() ? 1440.0 / screen()->logicalDotsPerInchY() : 15.0;
}

QMargins QtScreenService::frameMargins() const
{
    const auto platform = QGuiApplication::platformName();
    if (platform == u"offscreen" || platform == u"minimal")
        return QMargins();
    for (const QWidget *w : QApplication::topLevelWidgets()) {
        const QRect outer = w->frameGeometry();
        const QRect inner = w->geometry();
        if (w->isVisible() && outer != inner)
            return QMargins(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                            outer.bottom() - inner.bottom());
    }
    const double scale = screen() ? screen()->logicalDotsPerInchY() / 96.0 : 1.0;
    const int border = int(std::lround(4 * scale));
    return QMargins(border, int(std::lround(32 * scale)), border, border);
}

void registerWindowServices()
{
    static const bool registered = [] {
        setWindowServices({std::make_shared<QtMessageService>(), std::make_shared<QtFileDialogService>(),
                           std::make_shared<QtScreenService>(), std::make_shared<WindowWaits>()});
        return true;
    }();
    Q_UNUSED(registered);
}

void installQtWindowServices()
{
    registerWindowServices();
    setMessageService(std::make_shared<QtMessageService>());
    setFileDialogService(std::make_shared<QtFileDialogService>());
    setScreenService(std::make_shared<QtScreenService>());
}

} // namespace Norvix
