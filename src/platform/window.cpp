#include "platform/window.h"

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
    static RecordingFileDialogService fallback;
    return dialogSlot() ? *dialogSlot() : static_cast<FileDialogService &>(fallback);
}

ScreenService &screenService()
{
    static FixedScreenService fallback;
    return screenSlot() ? *screenSlot() : static_cast<ScreenService &>(fallback);
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
