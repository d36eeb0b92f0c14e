#include "editor/liveview.h"

#include "editor/details.h"
#include "editor/editordata.h"
#include "editor/editorstate.h"
#include "editor/listreaders.h"
#include "editor/recordlistpane.h"
#include "editor/recordlistview.h"
#include "platform/language.h"
#include "session/changefeed.h"

#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTime>

namespace Norvix {

namespace {

// Changes that arrive within this time are shown together; an operation under way puts them off.
constexpr int kMergeMs = 50;
constexpr int kPutOffMs = 200;

// Moves the notice whenever the list moves or changes size.
class FollowsList : public QObject
{
public:
    FollowsList(QObject *parent, std::function<void()> place) : QObject(parent), m_place(std::move(place)) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Resize || event->type() == QEvent::Move)
            m_place();
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_place;
};

} // namespace

LiveView::LiveView(Parts parts, Calls calls) : m(parts), m_calls(std::move(calls))
{
    m_merge.setSingleShot(true);
    m_fade.setSingleShot(true);
    QObject::connect(&m_merge, &QTimer::timeout, &m.window, [this] { refresh(); });
    QObject::connect(&m_fade, &QTimer::timeout, &m.window, [this] { clearNotice(); });
}

LiveView::~LiveView()
{
    stop();
    m.session.removeObserver(this);
}

void LiveView::create()
{
    m_notice = new QFrame(&m.window);
    m_notice->setObjectName(QStringLiteral("FraAvviso"));
    m_notice->setFrameShape(QFrame::StyledPanel);
    m_notice->setAutoFillBackground(true);
    m_notice->setBackgroundRole(QPalette::ToolTipBase);
    m_notice->setForegroundRole(QPalette::ToolTipText);
    m_text = new QLabel(m_notice);
    m_text->setObjectName(QStringLiteral("LblAvviso"));
    m_text->setForegroundRole(QPalette::ToolTipText);
    m_text->setWordWrap(true);
    m_differences = new QPushButton(nxTr("&Vedi modifiche"), m_notice);
    m_differences->setObjectName(QStringLiteral("CmdVediModifiche"));
    m_differences->setAutoDefault(false);
    m_differences->setToolTip(nxTr("Confronta i valori inseriti con quelli salvati dall'altro utente"));
    QObject::connect(m_differences, &QPushButton::clicked, &m.window, [this] { m_calls.showDifferences(); });
    auto *layout = new QHBoxLayout(m_notice);
    layout->setContentsMargins(6, 1, 2, 1);
    layout->addWidget(m_text, 1);
    layout->addWidget(m_differences);
    m_differences->hide();
    m_notice->hide();
    m.list.view()->installEventFilter(new FollowsList(m_notice, [this] { place(); }));
    m.session.addObserver(this);
}

void LiveView::place()
{
    if (!m_notice)
        return;
    const QRect list = m.list.view()->geometry();
    const int height = m_notice->hasHeightForWidth() ? m_notice->heightForWidth(list.width()) : m_notice->sizeHint().height();
    m_notice->setGeometry(list.left(), list.bottom() + 1 - height, list.width(), height);
    m_notice->raise();
}

void LiveView::start()
{
    if (!m_enabled || isWatching() || !m.data.isOpen() || !m.window.isVisible())
        return;
    const bool again = m_feed != nullptr; // hidden, or turned off, meanwhile: what changed is read
    if (!m_feed) {
        m_feed = std::make_unique<ChangeFeed>(m.data.connection());
        QObject::connect(m_feed.get(), &ChangeFeed::changed, &m.window,
                         [this](const QString &table) { othersChanged(table); });
    }
    m_feed->start();
    if (again)
        othersChanged(QString());
}

void LiveView::stop()
{
    if (m_feed)
        m_feed->stop();
    m_merge.stop();
}

bool LiveView::isWatching() const
{
    return m_feed && m_feed->running();
}

void LiveView::othersChanged(const QString &table)
{
    const bool master = !table.isEmpty() && table.compare(m.session.tableName(), Qt::CaseInsensitive) == 0;
    m_listWanted = m_listWanted || master || table.isEmpty();
    // The lines of that table's detail; of every detail for any table, or for two of them.
    if (!master)
        m_detailTable = !m_detailTable || m_detailTable->compare(table, Qt::CaseInsensitive) == 0 ? table : QString();
    if (!m_merge.isActive())
        m_merge.start(kMergeMs);
}

void LiveView::refresh()
{
    if (m.state.unloaded || !m.data.isOpen())
        return;
    // Not in the middle of an operation (it may wait for the database, or ask the user), nor while
    // the list still counts the last change. What follows reads on readers of its own: nothing
    // here waits for the database (the user's keys are never taken inside a wait of this).
    if (m_calls.busy() || m.state.applying || m.state.checking || m.list.isReading()) {
        m_merge.start(kPutOffMs);
        return;
    }
    if (std::exchange(m_listWanted, false)) {
        m.list.liveRefresh();
        m_rowWanted = true;
    }
    if (std::exchange(m_rowWanted, false))
        checkRow();
    if (const auto table = std::exchange(m_detailTable, std::nullopt))
        m.details.liveRefresh(*table);
}

namespace {
// The row as stored now, read away from the window.
struct StoredRow
{
    bool gone = false;
    RowInHand row;
};
} // namespace

void LiveView::checkRow()
{
    const Recordset *rs = m.session.recordset();
    if (!rs || !rs->hasCurrentRow() || m.session.adding() || m.session.keyColumns().isEmpty() || m.state.rowGone)
        return;
    const QVariantList key = rs->Bookmark();
    onReader<StoredRow>(
        &m.window, *m.data.connection(),
        [source = m.session.rowOf(key), keys = m.session.keyColumns()](const Connection &reader) {
            // (the reader outlives the recordset, which is made and read here)
            const std::shared_ptr<Connection> on(std::shared_ptr<Connection>(), const_cast<Connection *>(&reader));
            const Recordset now(on, source, keys, CursorIntent::Read);
            return StoredRow{now.Eof(), now.Eof() ? RowInHand() : now.state().row};
        },
        [this, key, was = rs->state().row](std::optional<StoredRow> now) {
            if (now)
                compareRow(key, was, now->gone, now->row);
        });
}

void LiveView::compareRow(const QVariantList &key, const RowInHand &was, bool gone, const RowInHand &is)
{
    // The same row still in hand, as it was when the read began.
    const Recordset *rs = m.state.unloaded ? nullptr : m.session.recordset();
    if (!rs || !rs->hasCurrentRow() || rs->Bookmark() != key || m.session.adding() || rs->state().row.raw != was.raw)
        return;
    if (m_calls.busy() || m.state.applying || m.state.checking) { // read again once the operation ends
        m_rowWanted = true;
        m_merge.start(kPutOffMs);
        return;
    }
    if (gone) {
        m.state.rowGone = true;
        notify(nxTr("Il record è stato eliminato da un altro utente"), false);
        return;
    }
    const bool changed = was.raw != is.raw;
    if (!changed && was.version == is.version)
        return; // as it was: the editor's own save, or another row changed
    if (m.state.modified) {
        if (changed)
            notify(nxTr("Il record è stato modificato da un altro utente"), true);
        return;
    }
    {
        const auto held = m_calls.hold(); // read as a line chosen is read
        try {
            m.session.open(m.session.rowOf(key), CursorIntent::Change);
        } catch (const DataError &) {
            return;
        }
        if (m.state.unloaded)
            return;
        m_calls.showRecord();
    }
    if (changed)
        notify(nxTr("Aggiornato da un altro utente alle %1").arg(QTime::currentTime().toString(QStringLiteral("hh:mm"))),
               false, kNoticeMs);
}

void LiveView::notify(const QString &text, bool differences, int forMs)
{
    if (!m_notice)
        return;
    m_text->setText(text);
    m_differences->setVisible(differences);
    place();
    m_notice->show();
    if (forMs > 0)
        m_fade.start(forMs);
    else
        m_fade.stop();
}

void LiveView::clearNotice()
{
    m.state.rowGone = false;
    m_fade.stop();
    if (m_notice)
        m_notice->hide();
}

} // namespace Norvix
