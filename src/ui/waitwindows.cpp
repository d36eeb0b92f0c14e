#include "ui/waitwindows.h"

#include "platform/language.h"

#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

namespace Norvix {

// A small window over the active one: a text, optionally a running progress bar, and Annulla,
// which (like Esc) sets *cancelled. Application modal: nothing else is clicked while it waits.
QDialog *makeWaitWindow(WaitWindow kind, const QString &what, bool *cancelled)
{
    const bool progress = kind == WaitWindow::Server;
    const QString name = progress ? QStringLiteral("FrmAttesa") : QStringLiteral("FrmOccupato");
    const QString title = progress ? nxTr("Attendere") : nxTr("Database occupato");
    const QString text = progress ? nxTr("In attesa della risposta del database %1. Annulla interrompe "
                                         "l'operazione: i valori inseriti restano nell'editor.")
                                        .arg(what)
                                  : nxTr("Database occupato: un altro utente lo sta aggiornando. Attendere, o "
                                         "annullare: i valori inseriti restano nell'editor.");
    auto *w = new QDialog(QApplication::activeWindow());
    w->setObjectName(name);
    w->setWindowTitle(title);
    w->setWindowModality(Qt::ApplicationModal);
    auto *label = new QLabel(text, w);
    label->setObjectName(QStringLiteral("LblAttesa"));
    label->setWordWrap(true);
    auto *cancel = new QPushButton(nxTr("Annulla"), w);
    cancel->setObjectName(QStringLiteral("CmdAnnulla"));
    QObject::connect(cancel, &QPushButton::clicked, w, [cancelled] { *cancelled = true; });
    QObject::connect(w, &QDialog::rejected, w, [cancelled] { *cancelled = true; }); // Esc
    auto *row = new QHBoxLayout;
    row->addWidget(label, 1);
    row->addWidget(cancel);
    auto *layout = new QVBoxLayout(w);
    layout->addLayout(row);
    if (progress) {
        auto *bar = new QProgressBar(w);
        bar->setObjectName(QStringLiteral("PrgAttesa"));
        bar->setRange(0, 0); // runs without an end: how long the server takes is not known
        bar->setTextVisible(false);
        bar->setMaximumHeight(8);
        layout->addWidget(bar);
    }
    w->resize(440, progress ? 96 : 80);
    return w;
}

namespace {

// A lock waited for while the windows repaint; after a moment "Database occupato" shows, and
// the tries go on until the lock goes or the user presses Annulla.
class WindowLockWaiting : public WaitService::LockWaiting
{
public:
    ~WindowLockWaiting() override { delete m_window.data(); }

    bool next(qint64 waitedMs) override
    {
        const RunningEvents running;
        if (!m_window && waitedMs >= kWaitWindowAfterMs) {
            m_window = makeWaitWindow(WaitWindow::Lock, QString(), &m_cancelled);
            m_window->show();
        }
        // A short pause in which the windows repaint; the user reaches only Annulla.
        QElapsedTimer slept;
        slept.start();
        while (!m_cancelled && slept.elapsed() < 50) {
            QCoreApplication::processEvents(m_window ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents, 10);
            QThread::msleep(5);
        }
        return !m_cancelled;
    }

private:
    bool m_cancelled = false;
    QPointer<QDialog> m_window;
};

} // namespace

std::unique_ptr<WaitService::LockWaiting> WindowWaits::lockWaiting()
{
    return std::make_unique<WindowLockWaiting>();
}

void WindowWaits::waitForServer(const std::function<bool(int ms)> &finished,
                                const std::function<void(Interrupt)> &interrupt, const QString &what)
{
    // Round trips that each end within the first wait never let the window's events run: a run
    // of them would hold the window for their sum. Events run when they last ran 5 ms ago.
    static QElapsedTimer pumped; // the GUI thread's
    const auto pumpIfDue = [] {
        if (!pumped.isValid() || pumped.elapsed() >= 5) {
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 5);
            pumped.start();
        }
    };
    const int from = RunningEvents::depth(); // the waiting operation's
    const RunningEvents running;             // the last pump (atEnd) included
    QElapsedTimer clock;
    clock.start();
    QElapsedTimer sinceCancel;
    bool cancelled = false;
    bool cut = false;
    QPointer<QDialog> window;
    const struct Pumped
    {
        decltype(pumpIfDue) &pump;
        ~Pumped() { pump(); }
    } atEnd{pumpIfDue};
    while (!finished(5)) {
        if (!window && clock.elapsed() >= kWaitWindowAfterMs) {
            window = makeWaitWindow(WaitWindow::Server, what, &cancelled);
            window->show();
        }
        cancelled = cancelled || Abandoned::at(from); // its window gone, as if Annulla was pressed
        if (cancelled && !sinceCancel.isValid()) {
            interrupt(Interrupt::Soft);
            sinceCancel.start();
            if (window) {
                window->findChild<QLabel *>(QStringLiteral("LblAttesa"))->setText(nxTr("Annullamento in corso..."));
                window->findChild<QPushButton *>(QStringLiteral("CmdAnnulla"))->setEnabled(false);
            }
        }
        if (sinceCancel.isValid() && !cut && sinceCancel.elapsed() >= kHardCancelAfterMs) {
            interrupt(Interrupt::Hard); // the server did not stop the statement: the connection goes
            cut = true;
        }
        QCoreApplication::processEvents(window ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents, 10);
        pumped.start();
    }
    delete window.data();
}

} // namespace Norvix
