#pragma once

// Other users' changes, shown while the editor is open (LiveUpdates): a ChangeFeed
// (session/changefeed.h) tells that rows may have changed, and the editor reads again what it
// shows. The record list (or a search's rows) keeps its first line shown and its selected line on
// their rows. The row in hand, when the user is not modifying it, is shown again as stored, and
// LblAvviso says so for a few seconds. Being modified, nothing typed is touched: LblAvviso says
// that another user saved it, and CmdVediModifiche shows the values side by side. Deleted by
// another user, LblAvviso says so, and Conferma asks before storing it again (RowActions). The
// lines of a detail that holds no change are read again too. Nothing a notification carries is
// taken as data: whatever it names is read again.

#include "session/rowsession.h"

#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class QFrame;
class QLabel;
class QPushButton;
class QWidget;

namespace Norvix {

class ChangeFeed;
class Details;
class EditorData;
class RecordListPane;
struct EditorState;

class LiveView : public RowObserver
{
public:
    struct Parts
    {
        QWidget &window;
        EditorState &state;
        EditorData &data;
        RowSession &session;
        RecordListPane &list;
        Details &details;
    };
    struct Calls
    {
        std::function<bool()> busy;           // an operation of the editor is under way
        std::function<std::shared_ptr<void>()> hold; // held while the row in hand is read again (a close waits)
        std::function<void()> showRecord;     // the row in hand into the fields
        std::function<void()> showDifferences; // CmdVediModifiche
    };
    LiveView(Parts parts, Calls calls);
    ~LiveView() override;
    LiveView(const LiveView &) = delete;
    LiveView &operator=(const LiveView &) = delete;

    // LblAvviso and CmdVediModifiche, hidden.
    void create();
    // LiveUpdates: whether the editor watches at all (set before it shows).
    void setEnabled(bool on) { m_enabled = on; }
    bool isEnabled() const { return m_enabled; }
    // The editor shows (the watching begins) or hides or closes (it ends).
    void start();
    void stop();
    bool isWatching() const;
    // Rows of `table` may have been changed by others (empty: of any table): changes arriving
    // together are shown once, when no operation of the editor is under way.
    void othersChanged(const QString &table);

    void rowReplaced(const RowSession &) override { clearNotice(); }
    void rowWritten(const RowSession &, RowWrite) override { clearNotice(); }

    // How long "Aggiornato da un altro utente" shows.
    static constexpr int kNoticeMs = 5000;

private:
    // The notice over the list's foot (it follows the list).
    void place();
    void refresh();
    // The row in hand against the row as stored now (read away from the window), which is
    // `gone`, or `is`; `was` is the row in hand when the read began.
    void checkRow();
    void compareRow(const QVariantList &key, const RowInHand &was, bool gone, const RowInHand &is);
    void notify(const QString &text, bool differences, int forMs = 0);
    void clearNotice();

    Parts m;
    Calls m_calls;
    std::unique_ptr<ChangeFeed> m_feed;
    QPointer<QFrame> m_notice;
    QPointer<QLabel> m_text;
    QPointer<QPushButton> m_differences;
    QTimer m_merge; // changes arriving together
    QTimer m_fade;  // the notice goes
    bool m_enabled = true;
    bool m_listWanted = false; // the list, then the row in hand, to be read again
    bool m_rowWanted = false;  // the row in hand alone
    std::optional<QString> m_detailTable; // the lines to read again: of that table's detail (empty: every detail's)
};

} // namespace Norvix
