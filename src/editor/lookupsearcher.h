#pragma once

// Lookup searches off the window's thread: each runs on a reading connection of its own, kept on
// one worker thread for the life of the searcher (one reader per database). The newest search
// wins: asking for one interrupts the search still running (sqlite3_interrupt, or a cancel
// request to the server) and drops one still waiting, and only the newest one's rows are told.
// The searcher's end waits up to three seconds for a search that a server does not let go.

#include "platform/lookupsearch.h"

#include <QObject>
#include <QPointer>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace Norvix {

class LookupSearcher : public QObject
{
    Q_OBJECT
public:
    explicit LookupSearcher(QObject *parent = nullptr);
    ~LookupSearcher() override;
    LookupSearcher(const LookupSearcher &) = delete;
    LookupSearcher &operator=(const LookupSearcher &) = delete;

    // Searches `text` in `query` (its connection names the database) for `client`, at most
    // `limit` rows (see searchLookup()).
    void search(QObject *client, const LookupQuery &query, const QString &text, int limit);
    // Opens the reader of `connection`'s database ahead of the first search (a server's takes a
    // while), unless a search waits already.
    void prepare(const Connection &connection);
    // Drops the search under way, if any: nothing will be told of it.
    void cancel();
    // True from search() until its rows are told (or it is dropped).
    bool busy() const { return m_busy; }

signals:
    // The rows of the newest search; `ok` false when it failed (the database could not be read).
    void found(QObject *client, const QString &text, const LookupMatches &matches, bool ok);

private:
    struct Job;
    struct State;
    void work(const std::shared_ptr<State> &state);

    std::shared_ptr<State> m_state;
    quint64 m_latest = 0; // the serial of the newest search asked for (window's thread)
    bool m_busy = false;
    std::thread m_thread;
};

} // namespace Norvix
