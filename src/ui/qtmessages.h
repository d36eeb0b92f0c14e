#pragma once

// The window services of a QApplication: message boxes, the file dialog and the screen, over the
// services of platform/messages.h and platform/window.h.

#include "platform/messages.h"
#include "platform/window.h"

namespace Norvix {

/// Shows messages in a QMessageBox, parented to the active window.
class NORVIX_EXPORT QtMessageService : public MessageService
{
public:
    MsgAnswer show(const Message &message) override;
};

/// Opens files with QFileDialog.
class NORVIX_EXPORT QtFileDialogService : public FileDialogService
{
public:
    QString openFile(const QString &title, const QString &folder) override;
    QString saveFile(const QString &title, const QString &folder, const QString &filter) override;
};

/// The primary screen of the application.
class NORVIX_EXPORT QtScreenService : public ScreenService
{
public:
    QRect screenGeometry() const override;
    QRect workArea() const override;
    double twipsPerPixelX() const override;
    double twipsPerPixelY() const override;
    /// As the window manager decorates a window shown already; before any, a title bar and
    /// borders of the usual size (none on a platform without decorations).
    QMargins frameMargins() const override;
};

/// Installs the three Qt services (messages, file dialog, screen). They are already the defaults
/// wherever a QApplication exists and an editor or a control was made; a host may still call
/// it, after creating its QApplication.
NORVIX_EXPORT void installQtWindowServices();

/// Makes the Qt services and the wait windows (ui/waitwindows.h) the defaults of a process with a
/// QApplication, for as long as no other service is installed. The editor and the control call
/// it when they are made; calling it again does nothing.
NORVIX_EXPORT void registerWindowServices();

} // namespace Norvix
