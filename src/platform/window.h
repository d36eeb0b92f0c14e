#pragma once

// Window services besides message boxes: the file dialog and the screen. The library reaches them
// only through the services installed here, so that tests can answer dialogs from a script and
// pretend any screen size.

#include <QRect>
#include <QString>
#include <QStringList>

#include <memory>

namespace Norvix {

class FileDialogService
{
public:
    virtual ~FileDialogService() = default;
    // The file the user chose to open, or an empty text when the dialog was cancelled.
    virtual QString openFile(const QString &title, const QString &folder) = 0;
};

class ScreenService
{
public:
    virtual ~ScreenService() = default;
    // The whole screen and the part of it not taken by panels and task bars, in pixels.
    virtual QRect screenGeometry() const = 0;
    virtual QRect workArea() const = 0;
    // Twips (1440 to the logical inch) per pixel.
    virtual double twipsPerPixelX() const = 0;
    virtual double twipsPerPixelY() const = 0;
};

// Answers file dialogs from a script (first in, first out; cancel when it is exhausted) and
// records their titles.
class RecordingFileDialogService : public FileDialogService
{
public:
    QString openFile(const QString &title, const QString &folder) override;
    void script(QStringList answers) { m_answers = std::move(answers); }
    const QStringList &titles() const { return m_titles; }

private:
    QStringList m_answers;
    QStringList m_titles;
};

// A screen of fixed size and resolution.
class FixedScreenService : public ScreenService
{
public:
    explicit FixedScreenService(QRect screen = QRect(0, 0, 1280, 1024), QRect workArea = QRect(), double dpi = 96)
        : m_screen(screen), m_work(workArea.isNull() ? screen : workArea), m_dpi(dpi)
    {
    }
    QRect screenGeometry() const override { return m_screen; }
    QRect workArea() const override { return m_work; }
    double twipsPerPixelX() const override { return 1440.0 / m_dpi; }
    double twipsPerPixelY() const override { return 1440.0 / m_dpi; }

private:
    QRect m_screen;
    QRect m_work;
    double m_dpi;
};

// The installed services. Until one is installed: wherever a QApplication exists, the widget
// library's QFileDialog and real screen (see registerGuiServices()); elsewhere the file dialog
// cancels and the screen is a fixed 1280 x 1024 one at 96 dpi.
FileDialogService &fileDialogService();
ScreenService &screenService();
std::shared_ptr<FileDialogService> setFileDialogService(std::shared_ptr<FileDialogService> service);
std::shared_ptr<ScreenService> setScreenService(std::shared_ptr<ScreenService> service);

} // namespace Norvix
