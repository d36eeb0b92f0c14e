#include "platform/window.h"

#include "platform/services.h"

namespace Norvix {

namespace {
std::shared_ptr<FileDialogService> &dialogSlot()
{
    static std::shared_ptr<FileDialogService> service;
    return service;
}
std::shared_ptr<ScreenService> &screenSlot()
{
    static std::shared_ptr<ScreenService> service;
    return service;
}
} // namespace

struct RecordingFileDialogService::Private
{
    QStringList answers;
    QStringList titles;
};

RecordingFileDialogService::RecordingFileDialogService() : d(std::make_unique<Private>()) {}
RecordingFileDialogService::~RecordingFileDialogService() = default;

QString RecordingFileDialogService::openFile(const QString &title, const QString &)
{
    d->titles.append(title);
    return d->answers.isEmpty() ? QString() : d->answers.takeFirst();
}

QString RecordingFileDialogService::saveFile(const QString &title, const QString &folder, const QString &)
{
    return openFile(title, folder);
}

QString FileDialogService::saveFile(const QString &, const QString &, const QString &)
{
    return QString();
}

void RecordingFileDialogService::script(QStringList answers)
{
    d->answers = std::move(answers);
}

const QStringList &RecordingFileDialogService::titles() const
{
    return d->titles;
}

struct FixedScreenService::Private
{
    QRect screen;
    QRect work;
    double dpi;
    QMargins frame;
};

QMargins ScreenService::frameMargins() const
{
    return QMargins();
}

FixedScreenService::FixedScreenService(QRect screen, QRect workArea, double dpi, QMargins frame)
    : d(std::make_unique<Private>(Private{screen, workArea.isNull() ? screen : workArea, dpi, frame}))
{
}
FixedScreenService::~FixedScreenService() = default;
QRect FixedScreenService::screenGeometry() const { return d->screen; }
QRect FixedScreenService::workArea() const { return d->work; }
double FixedScreenService::twipsPerPixelX() const { return 1440.0 / d->dpi; }
double FixedScreenService::twipsPerPixelY() const { return 1440.0 / d->dpi; }
QMargins FixedScreenService::frameMargins() const { return d->frame; }

FileDialogService &fileDialogService()
{
    if (dialogSlot())
        return *dialogSlot();
    if (const WindowServices *windows = windowServices(); windows && windows->fileDialogs)
        return *windows->fileDialogs;
    static RecordingFileDialogService fallback;
    return fallback;
}

ScreenService &screenService()
{
    if (screenSlot())
        return *screenSlot();
    if (const WindowServices *windows = windowServices(); windows && windows->screen)
        return *windows->screen;
    static FixedScreenService fallback;
    return fallback;
}

std::shared_ptr<FileDialogService> setFileDialogService(std::shared_ptr<FileDialogService> service)
{
    auto previous = std::move(dialogSlot());
    dialogSlot() = std::move(service);
    return previous;
}

std::shared_ptr<ScreenService> setScreenService(std::shared_ptr<ScreenService> service)
{
    auto previous = std::move(screenSlot());
    screenSlot() = std::move(service);
    return previous;
}

QSize availableWindowSize()
{
    const QRect area = screenService().workArea();
    const QMargins frame = screenService().frameMargins();
    return QSize(area.width() - frame.left() - frame.right(), area.height() - frame.top() - frame.bottom());
}

} // namespace Norvix
