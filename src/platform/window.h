#pragma once

// Window services besides message boxes: the file dialog and the screen. The library reaches them
// only through the services installed here, so that tests can answer dialogs from a script and
// pretend any screen size.

#include "norvix_export.h"

#include <QMargins>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <memory>

namespace Norvix {

class NORVIX_EXPORT FileDialogService
{
public:
    virtual ~FileDialogService() = default;
    /// The file the user chose to open, or an empty text when the dialog was cancelled.
    virtual QString openFile(const QString &title, const QString &folder) = 0;
    /// The file the user chose to write, offering the files of `filter` ("CSV (*.csv)"), or an
    /// empty text when the dialog was cancelled (what a service that shows no such dialog says).
    virtual QString saveFile(const QString &title, const QString &folder, const QString &filter);
};

class NORVIX_EXPORT ScreenService
{
public:
    virtual ~ScreenService() = default;
    /// The whole screen and the part of it not taken by panels and task bars, in pixels.
    virtual QRect screenGeometry() const = 0;
    virtual QRect workArea() const = 0;
    /// Twips (1440 to the logical inch) per pixel.
    virtual double twipsPerPixelX() const = 0;
    virtual double twipsPerPixelY() const = 0;
    /// What the window manager adds around a window's inner area (title bar, borders), in
    /// pixels; none by default.
    virtual QMargins frameMargins() const;
};

/// Answers file dialogs from a script (first in, first out; cancel when it is exhausted) and
/// records their titles.
class NORVIX_EXPORT RecordingFileDialogService : public FileDialogService
{
public:
    RecordingFileDialogService();
    ~RecordingFileDialogService() override;
    /// Records the title and gives the next scripted file (empty: cancelled).
    QString openFile(const QString &title, const QString &folder) override;
    QString saveFile(const QString &title, const QString &folder, const QString &filter) override;
    /// The files to give, in order.
    void script(QStringList answers);
    /// The titles of the dialogs shown so far.
    const QStringList &titles() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

/// A screen of fixed size and resolution.
class NORVIX_EXPORT FixedScreenService : public ScreenService
{
public:
    /// A screen of this size (pixels), with a work area (the whole screen when null), at `dpi`,
    /// whose windows are decorated by `frame`.
    explicit FixedScreenService(QRect screen = QRect(0, 0, 1280, 1024), QRect workArea = QRect(), double dpi = 96,
                                QMargins frame = QMargins());
    ~FixedScreenService() override;
    QRect screenGeometry() const override;
    QRect workArea() const override;
    double twipsPerPixelX() const override;
    double twipsPerPixelY() const override;
    QMargins frameMargins() const override;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

/// The installed services. Until one is installed: wherever a QApplication exists and the window
/// services are registered (an editor or a control was made), QFileDialog and the real screen
/// (see ui/qtmessages.h); elsewhere the file dialog cancels and the screen is a fixed
/// 1280 x 1024 one at 96 dpi.
NORVIX_EXPORT FileDialogService &fileDialogService();
NORVIX_EXPORT ScreenService &screenService();
NORVIX_EXPORT std::shared_ptr<FileDialogService> setFileDialogService(std::shared_ptr<FileDialogService> service);
NORVIX_EXPORT std::shared_ptr<ScreenService> setScreenService(std::shared_ptr<ScreenService> service);

/// The largest inner size a window may take: the installed screen's work area less the frame
/// the window manager draws around a window.
NORVIX_EXPORT QSize availableWindowSize();

} // namespace Norvix
