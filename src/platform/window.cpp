#include "platform/window.h"

#include "platform/messages.h"

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

QString RecordingFileDialogService::openFile(const QString &title, const QString &)
{
    m_titles.append(title);
    return m_answers.isEmpty() ? QString() : m_answers.takeFirst();
}

FileDialogService &fileDialogService()
{
    if (dialogSlot())
        return *dialogSlot();
    if (hasWidgetApplication() && guiServices().fileDialog) {
        static const std::shared_ptr<FileDialogService> gui = guiServices().fileDialog();
        return *gui;
    }
    static RecordingFileDialogService fallback;
    return fallback;
}

ScreenService &screenService()
{
    if (screenSlot())
        return *screenSlot();
    if (hasWidgetApplication() && guiServices().screen) {
        static const std::shared_ptr<ScreenService> gui = guiServices().screen();
        return *gui;
    }
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

} // namespace Norvix
