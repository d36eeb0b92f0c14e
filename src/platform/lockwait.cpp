#include "platform/lockwait.h"

#include "platform/messages.h"

#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRandomGenerator>
#include <QThread>

namespace Norvix {

namespace {

LockWait::Policy &policy()
{
    static LockWait::Policy p;
    return p;
}

QDialog *makeWindow(bool *cancelled)
{
    auto *w = new QDialog(QApplication::activeWindow());
    w->setObjectName(QStringLiteral("FrmOccupato"));
    w->setWindowTitle(QStringLiteral("Database occupato"));
    w->setWindowModality(Qt::ApplicationModal); // nothing else is clicked while a statement waits
    auto *text = new QLabel(QStringLiteral("Database occupato: un altro utente lo sta aggiornando. Attendere, o "
                                           "annullare: i valori inseriti restano nell'editor."),
                            w);
    text->setWordWrap(true);
    auto *cancel = new QPushButton(QStringLiteral("Annulla"), w);
    cancel->setObjectName(QStringLiteral("CmdAnnulla"));
    QObject::connect(cancel, &QPushButton::clicked, w, [cancelled] { *cancelled = true; });
    QObject::connect(w, &QDialog::rejected, w, [cancelled] { *cancelled = true; }); // Esc
    auto *layout = new QHBoxLayout(w);
    layout->addWidget(text, 1);
    layout->addWidget(cancel);
    w->resize(420, 80);
    return w;
}

} // namespace

LockWait::LockWait()
{
    m_clock.start();
}

LockWait::~LockWait()
{
    delete m_window.data();
}

void LockWait::setPolicy(Policy p)
{
    policy() = std::move(p);
}

bool LockWait::next()
{
    ++m_tries;
    if (policy())
        return policy()(m_tries, m_clock.elapsed());
    if (hasWidgetApplication() && QThread::currentThread() == qApp->thread())
        return nextOnWindow();
    if (m_clock.elapsed() >= kLockPatienceMs)
        return false;
    QThread::msleep(static_cast<unsigned long>(QRandomGenerator::global()->bounded(10, 60)));
    return true;
}

bool LockWait::nextOnWindow()
{
    if (!m_window && m_clock.elapsed() >= kLockWindowAfterMs) {
        m_window = makeWindow(&m_cancelled);
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

} // namespace Norvix
