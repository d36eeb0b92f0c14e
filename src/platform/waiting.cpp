#include "platform/waiting.h"

#include "platform/services.h"

#include <QCoreApplication>
#include <QList>
#include <QRandomGenerator>
#include <QThread>

namespace Norvix {

namespace {

LockWait::Policy &policy()
{
    static LockWait::Policy p;
    return p;
}

std::shared_ptr<WaitService> &installed()
{
    static std::shared_ptr<WaitService> service;
    return service;
}

thread_local int t_noWaiting = 0;
thread_local int t_runningEvents = 0;
thread_local QList<int> t_abandoned; // the depths of the abandoned operations of this thread

class BoundedLockWaiting : public WaitService::LockWaiting
{
public:
    bool next(qint64 waitedMs) override
    {
        if (waitedMs >= kLockPatienceMs)
            return false;
        QThread::msleep(static_cast<unsigned long>(QRandomGenerator::global()->bounded(10, 60)));
        return true;
    }
};

} // namespace

std::unique_ptr<WaitService::LockWaiting> BoundedWaits::lockWaiting()
{
    return std::make_unique<BoundedLockWaiting>();
}

void BoundedWaits::waitForServer(const std::function<bool(int ms)> &finished,
                                 const std::function<void(Interrupt)> &interrupt, const QString &)
{
    if (finished(kServerPatienceMs))
        return;
    interrupt(Interrupt::Soft);
    if (finished(kHardCancelAfterMs))
        return;
    interrupt(Interrupt::Hard);
    while (!finished(1000)) {
    }
}

WaitService &waitService()
{
    static BoundedWaits bounded;
    const QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread())
        return bounded;
    if (const auto &s = installed())
        return *s;
    if (const WindowServices *windows = windowServices(); windows && windows->waits)
        return *windows->waits;
    return bounded;
}

std::shared_ptr<WaitService> setWaitService(std::shared_ptr<WaitService> service)
{
    return std::exchange(installed(), std::move(service));
}

LockWait::LockWait()
{
    m_clock.start();
}

LockWait::~LockWait() = default;

void LockWait::setPolicy(Policy p)
{
    policy() = std::move(p);
}

LockWait::NoWaiting::NoWaiting()
{
    ++t_noWaiting;
}

LockWait::NoWaiting::~NoWaiting()
{
    --t_noWaiting;
}

bool LockWait::next()
{
    ++m_tries;
    const int depth = RunningEvents::depth();
    if (t_noWaiting > 0 || Abandoned::at(depth))
        return false;
    if (policy())
        return policy()(m_tries, m_clock.elapsed());
    if (!m_waiting)
        m_waiting = waitService().lockWaiting();
    // The window that waited may go while the wait runs events.
    return m_waiting->next(m_clock.elapsed()) && !Abandoned::at(depth);
}

Abandoned::Abandoned(int depth) : m_depth(depth) { t_abandoned.append(depth); }
Abandoned::~Abandoned() { t_abandoned.removeOne(m_depth); }
bool Abandoned::at(int depth) { return t_abandoned.contains(depth); }

RunningEvents::RunningEvents() { ++t_runningEvents; }
RunningEvents::~RunningEvents() { --t_runningEvents; }
int RunningEvents::depth() { return t_runningEvents; }

void waitForServer(const std::function<bool(int ms)> &finished, const std::function<void(Interrupt)> &interrupt,
                   const QString &what)
{
    waitService().waitForServer(finished, interrupt, what);
}

} // namespace Norvix
