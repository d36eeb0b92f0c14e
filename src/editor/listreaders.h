#pragma once

// The readers of the record list's background work: a read-only connection of its own on a pool
// thread for a page, a count or a look that would otherwise hold the window, and the set of them
// that a list interrupts when it goes.

#include "platform/connection.h"

#include <QFutureWatcher>
#include <QObject>
#include <QPromise>
#include <QThreadPool>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace Norvix {

// The readers of a model's background reads: each registers how to interrupt it while it works
// (sqlite3_interrupt, or a cancel request to the server), so that a model that goes (a search
// given up) interrupts what they still run.
struct ReaderSet
{
    struct Reader
    {
        std::function<void()> interrupt;
        quint64 serial = 0; // of a far page (0: other work)
    };
    std::mutex mutex;
    std::map<int, Reader> readers;
    int next = 0;
    bool closed = false;
    void interruptAll()
    {
        const std::lock_guard lock(mutex);
        closed = true;
        for (const auto &[id, reader] : readers)
            reader.interrupt();
    }
    // The far pages asked for before `serial`: the scroll bar has moved on.
    void interruptPagesBefore(quint64 serial)
    {
        const std::lock_guard lock(mutex);
        for (const auto &[id, reader] : readers)
            if (reader.serial > 0 && reader.serial < serial)
                reader.interrupt();
    }
    // -1: closed already, nothing to run.
    int add(std::function<void()> interrupt, quint64 serial)
    {
        const std::lock_guard lock(mutex);
        if (closed)
            return -1;
        readers.emplace(next, Reader{std::move(interrupt), serial});
        return next++;
    }
    void remove(int id)
    {
        const std::lock_guard lock(mutex);
        readers.erase(id);
    }
};

// The threads of the readers. Not Qt's global pool: Qt draws images with that one (a paint waits
// for it), and a reader holds its thread for as long as its database takes.
inline QThreadPool &readerPool()
{
    static QThreadPool pool;
    return pool;
}

// Runs `work` on a pool thread with a reader of its own (the same database opened to read), then
// `done`, on `context`'s thread, with what it gave: none when the reader could not open or the
// work failed. Nothing is done when `context` is gone first.
template <class Result>
void onReader(QObject *context, const Connection &connection, std::function<Result(const Connection &)> work,
              std::function<void(std::optional<Result>)> done, std::shared_ptr<ReaderSet> readers = nullptr,
              quint64 serial = 0)
{
    auto promise = std::make_shared<QPromise<std::optional<Result>>>();
    auto *watcher = new QFutureWatcher<std::optional<Result>>(context);
    QObject::connect(watcher, &QFutureWatcherBase::finished, context, [watcher, done] {
        watcher->deleteLater();
        done(watcher->future().resultCount() > 0 ? watcher->result() : std::nullopt);
    });
    watcher->setFuture(promise->future());
    promise->start();
    readerPool().start(
        [promise, work, readers, serial, params = connection.params()] {
            std::optional<Result> result;
            try {
                const std::shared_ptr<Connection> reader = Connection::open(params, Access::ReadOnly);
                int id = 0;
                if (readers) {
                    std::function<void()> interrupt = [reader] { reader->cancelRunning(); };
                    id = readers->add(std::move(interrupt), serial);
                }
                if (id >= 0)
                    result = work(*reader);
                if (readers && id >= 0)
                    readers->remove(id);
            } catch (const Error &) {
                // none: the caller does the work itself
            }
            promise->addResult(result);
            promise->finish();
        });
}

} // namespace Norvix
