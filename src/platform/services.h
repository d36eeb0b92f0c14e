#pragma once

// The services that a process with a QApplication uses where none is installed: message boxes,
// the file dialog, the real screen and the wait windows. They belong to the window layer
// (src/ui), which registers them here; this layer shows no window itself.

#include <memory>

namespace Norvix {

class MessageService;
class FileDialogService;
class ScreenService;
class WaitService;

struct WindowServices
{
    std::shared_ptr<MessageService> messages;
    std::shared_ptr<FileDialogService> fileDialogs;
    std::shared_ptr<ScreenService> screen;
    std::shared_ptr<WaitService> waits;
};

// Registers the window layer's services (on the main thread, before windows wait or ask).
void setWindowServices(WindowServices services);
// Those registered, while the process runs a QApplication; nullptr otherwise.
const WindowServices *windowServices();

} // namespace Norvix
