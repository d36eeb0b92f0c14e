#pragma once

// The record list of the editor as a lazy model: one line per row of a table, "[k1][k2] desc",
// in the order of the record's key columns. It reads only the pages of rows that the view shows,
// each page one finished query (no statement stays open between pages), and keeps a bounded
// number of pages in memory, so a table of millions of rows opens as fast as a small one.
// The queries are ListQueries' (listqueries.h), the pages in memory PageCache's (pagecache.h),
// the readers of background work in listreaders.h.

#include "editor/columntext.h"
#include "editor/listqueries.h"
#include "editor/pagecache.h"

#include <QAbstractTableModel>
#include <QList>
#include <QSet>
#include <QVariantList>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace Norvix {

class RecordListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Roles { KeyRole = Qt::UserRole + 1 };

    // `keyColumns` order the rows and identify each one (the descriptor's primary index; when
    // empty, the table's own primary key or natural order, and a line shows no key); `descColumn`
    // (may be empty) gives the text after the keys. Names are checked against the table (DataError on a bad one).
    RecordListModel(std::shared_ptr<Connection> connection, const QString &table, const QStringList &keyColumns,
                    const QString &descColumn, QObject *parent = nullptr);
    // The rows of a search. Nothing is read here: the first page comes from the event loop (on
    // SQLite read by a reader of its own, since an unindexed search walks the whole table), then
    // the count; the search is given up (its reader interrupted) when the model goes.
    // `read` false: nothing is read at all (a model for readAll()).
    RecordListModel(std::shared_ptr<Connection> connection, const QString &table, const QStringList &keyColumns,
                    ListFilter filter, QObject *parent = nullptr, bool read = true);
    ~RecordListModel() override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool isSearch() const { return m_queries.isSearch(); }
    // A search: after the editor saved the row of line `row` (key `key`), its cells show the
    // row as stored (it stays in the results, matching or not, until the next search).
    void rowSaved(int row, const QVariantList &key);
    // A search: the row of line `row` was deleted; its line goes.
    void rowDeleted(int row);
    // A search's rows, all of them in its order, read on `reader` (a connection of the thread
    // that calls, which may be any) `chunk` at a time: `take` gets each chunk's cells, and stops
    // the reading by returning false. False when a read failed (its error in `failure`).
    bool readAll(const Connection &reader, int chunk, const std::function<bool(const QList<QStringList> &)> &take,
                 QString *failure) const;

    // Reads the table again (after a save or a delete): drops every cached page.
    void refresh();
    // The same in place (the lines change, the view keeps its place and selection), when line
    // `row` is known to show the row with key `key` (the line just saved): that line's page is
    // read from the key, so no position is walked to reach it. -1: no such line. `rowsAdded`
    // given (the editor's own save or delete: 0, 1 or -1 rows): a table counted before is not
    // counted again but takes that change, since at millions of rows a count costs more than the
    // save; rows others added or removed show at the next count.
    void refreshAround(int row, const QVariantList &key, std::optional<int> rowsAdded = std::nullopt);
    // Reads the lines again in place after others changed the table (or a search's rows): they
    // are counted again and the rows before line `top`'s row counted, away from the window, so
    // that `top` (the first line the view shows) keeps showing its row, or the row that now
    // follows where it stood. Then `placed` gets the new line of that row and the line of the
    // row with key `selected` when it is among the lines read (-1: gone, or further away). Nothing
    // happens when the counts cannot be made (the next change tries again), or when `stillWanted`,
    // given, says no once they are; a list read again meanwhile by the editor is counted anew.
    void liveRefresh(int top, const QVariantList &selected, std::function<void(int top, int selected)> placed,
                     std::function<bool()> stillWanted = {});
    bool isLiveRefreshing() const { return m_liveRunning; }
    // The key values of line `row` (the bookmark of its row), empty when out of range.
    QVariantList keyAt(int row) const;
    // The line showing the row with these key values, or -1 when the table has none.
    int rowOfKey(const QVariantList &key) const;
    // The text of line `row`, as stored: never a line guessed for a far page (painting may show
    // one until the page read by position arrives).
    QString lineAt(int row) const;
    // Looks for the first line whose description (a search's first column) starts with
    // `prefix`, in any letter case, away from the window; `found` gets its line, unless another
    // look began meanwhile or there is none.
    void findLine(const QString &prefix, const std::function<void(int)> &found);
    // rowOfKey away from the window: `found` gets the line of the row with this key, unless
    // another look began meanwhile or the list has no such line.
    void findRow(const QVariantList &key, const std::function<void(int)> &found);

    // True once the table is counted (once per refresh, after the first page is shown).
    bool isCounted() const { return m_counted; }
    // True while pages that paints asked for are still to come.
    bool isReading() const { return !m_background.isEmpty() || !m_wanted.isEmpty(); }
    // Rows per page and pages kept in memory.
    static constexpr int kPageSize = ListPage::kSize;
    static constexpr int kMaxPages = PageCache::kMaxPages;
    // The count waits this long after a (re)read, so that the first lines are painted first.
    static constexpr int kCountDelayMs = 20;
    // Pages held in memory now (never more than kMaxPages).
    int cachedPages() const { return m_cache.size(); }

signals:
    // The table (or the search) is counted: `rows` lines, -1 when the count failed.
    void counted(qint64 rows);

private:
    void readFirstPage(bool throwOnFailure);
    void readFirstPageInBackground();
    void scheduleCount();
    void countRows();           // here and now
    void countInBackground();   // SQLite: a reader of its own on another thread
    void applyCount(qint64 total); // -1: not counted, the lines read so far stay
    void resizeTo(int rows);       // lines added or removed at the end
    // A table guessed to hold fewer rows than this is counted at once: that costs less than a
    // millisecond or two, and its list is exact from the start.
    static constexpr qint64 kCountAtOnce = 10000;
    // The page for lineAt and keyAt: a guessed page stands (its lines are what the user sees)
    // unless `exact`.
    const ListPage *page(int number, bool exact = false) const;
    // A far page guessed from the key's range at once (nullptr: the key allows no guess).
    const ListPage *guessPage(int number) const;
    // The page for painting: never waits (a paint must not run the event loop again). A page
    // not read yet is read right away only from an SQLite file that is not locked; otherwise
    // it is read once the event loop is back, and its lines are painted again then.
    const ListPage *pageForPaint(int number) const;
    void readWantedPages();
    // A page far from any page read, by position: a reader of its own reads it on another thread
    // (SQLite), since walking past millions of rows would hold the window.
    void readInBackground(int number, const PageQuery &query) const;
    void requestPage(int number) const; // read from the event loop, waiting as needed
    static constexpr qint64 kFarRows = 5000;
    // Page `number` read around line `row`, whose order values are `order`, unless it is read already.
    void readAround(int number, int row, const QVariantList &order) const;
    // The line of the row with these order values, `before` rows coming before it: its page
    // read around it; -1 when that line does not show that row.
    int lineOf(qint64 before, const QVariantList &order) const;
    // The line of the row with these order values, its rows before counted away from the window.
    void placeOrder(const QVariantList &order, quint64 serial, const std::function<void(int)> &found);

    ListQueries m_queries;
    // The readers of this model's background reads, interrupted when it goes.
    std::shared_ptr<struct ReaderSet> m_readers;
    quint64 m_findSerial = 0; // the newest findLine
    bool m_liveRunning = false; // a liveRefresh counts
    int m_rows = 0;
    bool m_counted = false;
    int m_generation = 0;     // bumped by refresh(), so a count scheduled before it is dropped
    mutable PageCache m_cache;
    mutable bool m_reading = false;          // a page is being read (from a server, the windows paint meanwhile)
    mutable QList<int> m_wanted;              // pages asked for by a paint, to be read from the event loop
    mutable QSet<int> m_background;           // pages a reader of its own is reading
    // Counts the pages handed to readers: one whose turn comes after kStaleReads newer ones is
    // skipped (the scroll bar has moved on; a paint asks again if it comes back).
    std::shared_ptr<std::atomic<quint64>> m_backgroundSerial = std::make_shared<std::atomic<quint64>>(0);
    static constexpr quint64 kStaleReads = 8;
};

} // namespace Norvix
