#pragma once

// Noticing that others changed the data a connection shows, so that an editor can show their
// changes as they happen. How depends on the database:
//  - SQLite (Polling): every kPollMs "PRAGMA data_version" on the connection itself, which changes
//    only when another connection commits: the connection's own writes are not heard;
//  - PostgreSQL (Notifications): a session of its own, on a thread of its own, listens on the
//    channel "norvix", where every write Norvix makes says which table and row it changed
//    (RowWriter) and where the triggers of `norvix live install` (tools/livetriggers.h) say what
//    other programs change; notices sent by the connection's own session are not heard. A lost
//    session is opened again (after 0.5 s, 1 s, 2 s ... at most 5 s apart) until stop(), and
//    then anything may have changed;
//  - anything else (Timer): every kTimerMs, anything may have changed.

#include "platform/connection.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>

namespace Norvix {

class NoticeListener;

class ChangeFeed : public QObject
{
    Q_OBJECT
public:
    enum class Way { Polling, Notifications, Timer };
    // Watches the database of `connection` (the editor's own, which also writes).
    explicit ChangeFeed(std::shared_ptr<Connection> connection, QObject *parent = nullptr);
    ~ChangeFeed() override; // stops, joins any thread
    ChangeFeed(const ChangeFeed &) = delete;
    ChangeFeed &operator=(const ChangeFeed &) = delete;

    void start(); // idempotent
    void stop();  // idempotent; no signal after it returns
    bool running() const { return m_running; }
    Way way() const { return m_way; }
    static constexpr int kPollMs = 1000;  // SQLite data_version
    static constexpr int kTimerMs = 2000; // ODBC

signals:
    // Others may have changed rows of `table` (the name as the sender spelt it; compare it letter
    // case ignored). Empty: any table may have changed. Emitted on the thread that owns the feed;
    // bursts are not merged here.
    void changed(const QString &table);

private:
    void poll();
    // The connection's data_version; none when it cannot be read now.
    std::optional<qint64> dataVersion() const;

    std::shared_ptr<Connection> m_connection;
    Way m_way;
    bool m_running = false;
    quint64 m_generation = 0; // of the last start(): what a listener of an earlier one says is dropped
    QTimer m_timer;
    std::optional<qint64> m_version;
    std::unique_ptr<NoticeListener> m_listener;
};

} // namespace Norvix
