#include "editor/recordlist.h"

#include "editor/listreaders.h"
#include "platform/language.h"
#include "platform/textfold.h"
#include "platform/waiting.h"

#include <QSqlDatabase>
#include <QTimer>

#include <algorithm>
#include <climits>

namespace Norvix {

namespace {

// Key values as the line and the editor compare them: the same value read twice may come back as
// another numeric type.
bool sameValue(const QVariant &a, const QVariant &b)
{
    if (a.isNull() || b.isNull())
        return a.isNull() && b.isNull();
    return a == b || a.toString() == b.toString();
}

} // namespace

RecordListModel::RecordListModel(std::shared_ptr<Connection> connection, const QString &table,
                                 const QStringList &keyColumns, const QString &descColumn, QObject *parent)
    : QAbstractTableModel(parent), m_queries(std::move(connection), table, keyColumns, descColumn),
      m_readers(std::make_shared<ReaderSet>())
{
    readFirstPage(true);
}

RecordListModel::RecordListModel(std::shared_ptr<Connection> connection, const QString &table,
                                 const QStringList &keyColumns, ListFilter filter, QObject *parent, bool read)
    : QAbstractTableModel(parent), m_queries(std::move(connection), table, keyColumns, std::move(filter)),
      m_readers(std::make_shared<ReaderSet>())
{
    if (read)
        readFirstPageInBackground();
    else
        m_counted = true;
}

bool RecordListModel::readAll(const Connection &reader, int chunk,
                              const std::function<bool(const QList<QStringList> &)> &take, QString *failure) const
{
    return m_queries.readAll(reader, chunk, take, failure);
}

RecordListModel::~RecordListModel()
{
    m_readers->interruptAll();
}

int RecordListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int RecordListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_queries.columnCount();
}

QVariant RecordListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_rows || (role != Qt::DisplayRole && role != KeyRole))
        return QVariant();
    const ListPage *p = pageForPaint(index.row() / kPageSize);
    const int at = index.row() % kPageSize;
    if (!p || at >= p->size())
        return QVariant();
    if (role == KeyRole)
        return QVariant(p->keys.at(at).mid(m_queries.prefixCount()));
    return m_queries.isSearch() ? QVariant(p->cells.at(at).value(index.column())) : QVariant(p->lines.at(at));
}

QVariant RecordListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (m_queries.isSearch() && orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < m_queries.filter().columns.size())
        return m_queries.filter().columns.at(section).caption;
    return QAbstractTableModel::headerData(section, orientation, role);
}

void RecordListModel::refresh()
{
    beginResetModel();
    if (m_queries.isSearch())
        readFirstPageInBackground();
    else
        readFirstPage(false);
    endResetModel();
}

void RecordListModel::refreshAround(int row, const QVariantList &key, std::optional<int> rowsAdded)
{
    // In place, not by a reset: a reset makes the view forget and rebuild one entry per line,
    // which at millions of lines holds the window longer than the read itself.
    if (m_queries.isSearch()) { // the search runs again
        refresh();
        return;
    }
    const int previous = m_rows;
    const bool keepCount = rowsAdded && isCounted();
    readFirstPage(false);
    const int known = m_rows;
    m_rows = previous;
    if (m_counted)
        resizeTo(known); // the first page holds the whole table
    else if (keepCount) {
        // The count stands, with the change (a guess, such as SQLite's largest rowid, would not
        // see a row go); the count readFirstPage() scheduled is dropped.
        resizeTo(std::max(0, previous + *rowsAdded));
        m_counted = true;
    }
    else
        resizeTo(std::max(known, previous)); // until the count comes in, the lines known before stand
    const int number = row / kPageSize;
    if (row >= 0 && row < m_rows && number > 0 && key.size() == m_queries.keyCount())
        readAround(number, row, key);
    if (m_rows > 0)
        emit dataChanged(index(0, 0), index(m_rows - 1, columnCount() - 1));
}

namespace {

// What a live refresh reads, away from the window: the rows, those before the first line's row,
// and the rows around it (ahead of it, in reverse order, and from it on), in one read transaction.
struct LiveRead
{
    qint64 total = -1, before = -1;
    std::shared_ptr<ListPage> ahead, from;
};

} // namespace

void RecordListModel::liveRefresh(int top, const QVariantList &selected, std::function<void(int, int)> placed,
                                  std::function<bool()> stillWanted)
{
    QVariantList order; // of the first line shown: the full order values of a search's row too
    if (top >= 0 && top < m_rows)
        if (const auto p = m_cache.value(top / kPageSize); p && !p->guessed && top % kPageSize < p->size())
            order = p->keys.at(top % kPageSize);
    // The rows before that one, or (nearer the end) from it on: a count walks the rows it counts.
    const bool fromEnd = m_counted && top > m_rows / 2;
    QVariantList values, aheadValues, fromValues;
    const QString where = order.isEmpty() ? QString() : m_queries.rowsBefore(order, values, fromEnd);
    // The pages of the first line, read with the counts: around its row, or the list's first ones.
    std::optional<std::pair<PageQuery, PageQuery>> around;
    if (!order.isEmpty())
        around.emplace(m_queries.pageQuery(m_queries.keyCondition(order, false, aheadValues), aheadValues, true, -1, kPageSize),
                       m_queries.pageQuery(m_queries.keyCondition(order, true, fromValues, true), fromValues, false, -1,
                                           2 * kPageSize));
    else if (top <= 0)
        around.emplace(PageQuery{}, m_queries.pageQuery(QString(), {}, false, 0, 2 * kPageSize));
    m_liveRunning = true;
    onReader<LiveRead>(
        this, m_queries.connection(),
        [table = m_queries.tableName(), filter = m_queries.filter(), where, values, fromEnd, around](const Connection &reader) {
            return reader.call([&] {
                QSqlDatabase db = reader.database();
                db.transaction(); // one snapshot where the database gives one (SQLite)
                LiveRead r;
                r.total = rowsIn(reader, table, filter.where, filter.values);
                const qint64 counted = where.isEmpty() || r.total < 0 ? 0 : rowsIn(reader, table, where, values);
                r.before = counted < 0 ? -1 : fromEnd ? r.total - counted : counted;
                if (around && r.before >= 0) {
                    r.ahead = around->first.sql.isEmpty() ? std::make_shared<ListPage>()
                                                          : runPageQuery(reader, around->first, nullptr);
                    r.from = runPageQuery(reader, around->second, nullptr);
                }
                db.rollback();
                return r;
            });
        },
        [this, top, generation = m_generation, order, selected, placed, stillWanted](std::optional<LiveRead> read) {
            m_liveRunning = false;
            if (stillWanted && !stillWanted())
                return;
            if (generation != m_generation)
                liveRefresh(top, selected, placed, stillWanted); // the lines were read again meanwhile: counted anew
            if (generation != m_generation || !read || read->total < 0 || read->before < 0)
                return;
            ++m_generation; // a count or a page on its way was read before the change
            m_cache.clear();
            m_wanted.clear();
            resizeTo(int(std::min<qint64>(read->total, INT_MAX)));
            m_counted = true;
            // No row known at the first line (a far page not read yet): the view stays where it is.
            const int first = m_rows == 0 ? -1 : int(std::clamp<qint64>(order.isEmpty() ? top : read->before, 0, m_rows - 1));
            if (order.isEmpty() && first > 0)
                read->from.reset(); // (the list's first pages were not read)
            const int number = std::max(first, 0) / kPageSize, offset = std::max(first, 0) % kPageSize;
            // The first line's page and the next, from the rows read around it, unless the table
            // changed between the reads (then they are read as painted).
            if (read->ahead && read->from && !read->ahead->failed && !read->from->failed && read->ahead->size() >= offset) {
                read->ahead->reverse();
                auto page = read->ahead->slice(read->ahead->size() - offset, offset);
                page->append(*read->from->slice(0, kPageSize - offset));
                m_cache.keep(number, page);
                if (auto next = read->from->slice(kPageSize - offset, kPageSize); next->size() > 0)
                    m_cache.keep(number + 1, next);
            }
            if (m_rows > 0)
                emit dataChanged(index(0, 0), index(m_rows - 1, columnCount() - 1));
            emit counted(m_rows);
            // The selected row among the lines read (the view's neighbourhood); others are looked for by the caller.
            int line = -1;
            for (int n : {number, number + 1}) {
                const auto p = m_cache.value(n);
                for (int at = 0; p && line < 0 && at < p->size() && !selected.isEmpty(); ++at)
                    if (p->keys.at(at).mid(m_queries.prefixCount()) == selected)
                        line = n * kPageSize + at;
            }
            placed(std::max(first, 0), line);
        },
        m_readers);
}

void RecordListModel::rowSaved(int row, const QVariantList &key)
{
    const auto page = m_cache.value(row / kPageSize);
    const int at = row % kPageSize;
    if (!m_queries.isSearch() || row < 0 || row >= m_rows || !page || at >= page->size()
        || key.size() != m_queries.keyCount())
        return;
    const auto stored = m_queries.storedRow(key);
    if (!stored)
        return; // gone meanwhile: the line stays as it was
    page->cells[at] = stored->cells.constFirst();
    emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}

void RecordListModel::rowDeleted(int row)
{
    if (!m_queries.isSearch() || row < 0 || row >= m_rows)
        return;
    // The lines from that one's page on move up by one: their pages are read again.
    const int number = row / kPageSize;
    m_cache.removeFrom(number);
    beginRemoveRows(QModelIndex(), row, row);
    --m_rows;
    endRemoveRows();
    if (row < m_rows)
        emit dataChanged(index(row, 0), index(m_rows - 1, columnCount() - 1));
}

void RecordListModel::resizeTo(int rows)
{
    if (rows > m_rows) {
        beginInsertRows(QModelIndex(), m_rows, rows - 1);
        m_rows = rows;
        endInsertRows();
    } else if (rows < m_rows) {
        beginRemoveRows(QModelIndex(), rows, m_rows - 1);
        m_rows = rows;
        endRemoveRows();
    }
}

void RecordListModel::readFirstPage(bool throwOnFailure)
{
    ++m_generation;
    m_cache.clear();
    auto first = m_queries.readRows(QString(), {}, false, 0);
    if (first->failed && throwOnFailure)
        throw DataError(DataError::Generic, nxTr("Impossibile leggere le righe della tabella %1: %2")
                                                .arg(m_queries.tableName(), m_queries.lastError()));
    m_cache.keepFirst(first);
    m_rows = first->size();
    // A page that is not full holds the whole table (so does a failed read, as far as it can
    // tell): nothing left to count.
    m_counted = first->failed || m_rows < kPageSize;
    if (m_counted)
        return;
    const qint64 guess = m_queries.estimateRows();
    if (guess > 0 && guess < kCountAtOnce) {
        qint64 total = -1;
        try {
            total = rowsIn(m_queries.connection(), m_queries.tableName());
        } catch (const DataError &) {
            // counted later
        }
        if (total >= 0) {
            m_rows = int(total);
            m_counted = true;
            return;
        }
    }
    m_rows = int(std::clamp<qint64>(guess, m_rows, INT_MAX));
    scheduleCount();
}

void RecordListModel::scheduleCount()
{
    // Counting a large table takes a while (a full index scan): the first page is shown before.
    // A server counts while the window goes on (Connection::call); an SQLite file is counted by
    // a reader of its own on another thread, since at ten million rows the count takes a fifth
    // of a second.
    QTimer::singleShot(kCountDelayMs, this, [this, generation = m_generation] {
        if (generation != m_generation || m_counted)
            return;
        if (m_queries.connection().waitsOnServer() && !m_queries.isSearch())
            countRows();
        else
            countInBackground();
    });
}

void RecordListModel::countInBackground()
{
    onReader<qint64>(
        this, m_queries.connection(),
        [table = m_queries.tableName(), filter = m_queries.filter()](const Connection &reader) {
            return rowsIn(reader, table, filter.where, filter.values);
        },
        [this, generation = m_generation](std::optional<qint64> total) {
            if (generation != m_generation || m_counted)
                return;
            if (!total || *total < 0)
                countRows(); // the reader could not count (a lock held past its patience): here, waiting
            else
                applyCount(*total);
        },
        m_readers);
}

void RecordListModel::countRows()
{
    qint64 total = -1;
    try {
        const ListFilter &filter = m_queries.filter();
        total = rowsIn(m_queries.connection(), m_queries.tableName(), filter.where, filter.values);
    } catch (const DataError &) {
        // Not counted (the user gave up waiting): the lines read so far stay.
    }
    applyCount(total);
}

void RecordListModel::applyCount(qint64 total)
{
    // Counted only once the lines stand: a page read while they change (a view does) is read by
    // position from the start, not from an end that is about to move.
    if (total >= 0)
        resizeTo(int(std::min<qint64>(total, INT_MAX))); // otherwise the lines known so far stay
    m_counted = true;
    emit counted(total);
}

void RecordListModel::readFirstPageInBackground()
{
    ++m_generation;
    m_cache.clear();
    m_rows = 0;
    m_counted = false;
    const PageQuery query = m_queries.pageQuery(QString(), {}, false, 0);
    const auto arrived = [this](std::shared_ptr<ListPage> first) {
        m_background.remove(0);
        m_cache.keepFirst(first);
        resizeTo(first->size());
        if (first->failed || first->size() < kPageSize) {
            m_counted = true;
            emit counted(first->failed ? -1 : first->size());
        } else {
            scheduleCount();
        }
    };
    m_background.insert(0); // reading
    // On a reader of its own, on a server too: the window takes keys meanwhile (Esc gives the
    // search up), and the server is asked to cancel it when it is given up.
    onReader<std::shared_ptr<ListPage>>(
        this, m_queries.connection(),
        [query](const Connection &reader) { return runPageQuery(reader, query, nullptr); },
        [this, arrived, query, generation = m_generation](std::optional<std::shared_ptr<ListPage>> page) {
            if (generation != m_generation)
                return;
            // No reader (a server that takes no more sessions, a lock past its patience): read
            // here, waiting as needed.
            arrived(page ? *page : m_queries.read(query));
        },
        m_readers);
}

QVariantList RecordListModel::keyAt(int row) const
{
    if (row < 0 || row >= m_rows)
        return {};
    const ListPage *p = page(row / kPageSize);
    const int at = row % kPageSize;
    return p && at < p->size() ? p->keys.at(at).mid(m_queries.prefixCount()) : QVariantList();
}

QString RecordListModel::lineAt(int row) const
{
    if (row < 0 || row >= m_rows)
        return {};
    const ListPage *p = page(row / kPageSize, true);
    const int at = row % kPageSize;
    if (!p || at >= p->size())
        return QString();
    return m_queries.isSearch() ? p->cells.at(at).join(u' ') : p->lines.at(at);
}

int RecordListModel::rowOfKey(const QVariantList &key) const
{
    if (key.size() != m_queries.keyCount())
        return -1;
    const QVariantList order = m_queries.orderOf(key);
    if (order.isEmpty())
        return -1;
    qint64 before = -1;
    try {
        QVariantList values;
        const QString where = m_queries.rowsBefore(order, values);
        before = rowsIn(m_queries.connection(), m_queries.tableName(), where, values);
    } catch (const DataError &) {
        // Not found (the user gave up waiting).
    }
    return lineOf(before, order);
}

void RecordListModel::readAround(int number, int row, const QVariantList &order) const
{
    if (m_cache.hasExact(number))
        return;
    if (auto around = m_queries.pageAround(row - number * kPageSize, order))
        m_cache.keep(number, std::move(around));
}

int RecordListModel::lineOf(qint64 before, const QVariantList &order) const
{
    if (before < 0 || before >= INT_MAX || order.size() != m_queries.orderCount())
        return -1;
    const QVariantList key = order.mid(m_queries.prefixCount());
    const int row = int(before);
    // A line beyond those known before the count: the lines grow to hold it, and the count (on
    // its way) brings the others; counting here would hold the window for the whole table.
    if (row >= m_rows && !m_counted) {
        auto *self = const_cast<RecordListModel *>(this);
        self->beginInsertRows(QModelIndex(), m_rows, row);
        self->m_rows = row + 1;
        self->endInsertRows();
    }
    if (row >= m_rows)
        return -1;
    // The view is about to show that line: its page is read from the key, without walking past
    // every row before it.
    readAround(row / kPageSize, row, order);
    const QVariantList found = keyAt(row);
    if (found.size() != key.size())
        return -1;
    for (int i = 0; i < key.size(); ++i)
        if (!sameValue(found.at(i), key.at(i)))
            return -1;
    return row;
}

void RecordListModel::findLine(const QString &prefix, const std::function<void(int)> &found)
{
    const QString column = m_queries.lookColumn();
    if (column.isEmpty() || prefix.isEmpty())
        return;
    const quint64 serial = ++m_findSerial;
    const QString condition = foldedLike(m_queries.connection(), quoteIdentifier(column));
    // The first row in the list's order whose text starts so, then how many rows come before it:
    // each read away from the window, from statements made here (a reader never touches the model).
    const PageQuery first = m_queries.pageQuery(condition, {foldedPattern(prefix, false, false)}, false, -1, 1);
    const auto arrived = [this, serial, found](const std::shared_ptr<ListPage> &page) {
        if (!page->failed && page->size() == 1)
            placeOrder(page->keys.constFirst(), serial, found);
    };
    if (m_queries.connection().waitsOnServer()) {
        QTimer::singleShot(0, this, [this, first, arrived] {
            try {
                arrived(runPageQuery(m_queries.connection(), first, nullptr));
            } catch (const DataError &) {
                // not found (the user gave up waiting)
            }
        });
        return;
    }
    onReader<std::shared_ptr<ListPage>>(
        this, m_queries.connection(), [first](const Connection &on) { return runPageQuery(on, first, nullptr); },
        [arrived](std::optional<std::shared_ptr<ListPage>> page) {
            if (page)
                arrived(*page);
        },
        m_readers);
}

void RecordListModel::findRow(const QVariantList &key, const std::function<void(int)> &found)
{
    const quint64 serial = ++m_findSerial;
    if (key.size() != m_queries.keyCount())
        return;
    try {
        if (const QVariantList order = m_queries.orderOf(key); !order.isEmpty())
            placeOrder(order, serial, found);
    } catch (const DataError &) {
        // not found (the user gave up waiting)
    }
}

void RecordListModel::placeOrder(const QVariantList &order, quint64 serial, const std::function<void(int)> &found)
{
    // The rows before it are counted away from the window (a count walks them all).
    const auto place = [this, serial, found, order](qint64 before) {
        if (serial != m_findSerial) // another look began meanwhile
            return;
        if (const int row = lineOf(before, order); row >= 0)
            found(row);
    };
    QVariantList values;
    const QString where = m_queries.rowsBefore(order, values);
    const auto count = [table = m_queries.tableName(), where, values](const Connection &on) {
        return rowsIn(on, table, where, values);
    };
    if (m_queries.connection().waitsOnServer()) {
        place(count(m_queries.connection()));
        return;
    }
    onReader<qint64>(
        this, m_queries.connection(), count,
        [place](std::optional<qint64> before) {
            if (before)
                place(*before);
        },
        m_readers);
}

const ListPage *RecordListModel::page(int number, bool exact) const
{
    if (const ListPage *p = m_cache.cached(number); p && !(exact && p->guessed))
        return p;
    // While a page is read, the event loop runs (a server's answer, a lock): a timer that asks
    // for another page then waits for the next turn.
    if (m_reading)
        return nullptr;
    m_reading = true;
    std::shared_ptr<ListPage> loaded;
    try {
        loaded = m_queries.read(m_cache.queryFor(number, m_queries, m_rows, m_counted));
    } catch (...) {
        m_reading = false;
        throw;
    }
    m_reading = false;
    m_cache.keep(number, loaded);
    return loaded.get();
}

const ListPage *RecordListModel::pageForPaint(int number) const
{
    if (const ListPage *p = m_cache.cached(number))
        return p;
    // A search's page may walk the whole table (an unindexed condition): always on a reader of
    // its own, on a server too, so that the window takes keys meanwhile (Esc gives it up).
    if (m_queries.isSearch()) {
        readInBackground(number, m_cache.queryFor(number, m_queries, m_rows, m_counted));
        return nullptr;
    }
    if (!m_queries.connection().waitsOnServer() && !m_reading) {
        const PageQuery query = m_cache.queryFor(number, m_queries, m_rows, m_counted);
        if (query.skip > kFarRows) {
            readInBackground(number, query);
            return guessPage(number);
        }
        std::shared_ptr<ListPage> loaded;
        {
            const LockWait::NoWaiting once; // a locked file gives a failed page at once
            m_reading = true;
            loaded = m_queries.read(query);
            m_reading = false;
        }
        if (!loaded->failed) {
            m_cache.keep(number, loaded);
            return loaded.get();
        }
    }
    requestPage(number);
    return nullptr;
}

const ListPage *RecordListModel::guessPage(int number) const
{
    // A key of one integer column: the row at a position is guessed by spreading the positions
    // evenly between the lowest and the highest key, and its page is read from there through the
    // index at once. Exact where the keys have no gaps; elsewhere the lines are put right when
    // the read by position comes.
    if (m_rows < 2 || !m_queries.canGuess())
        return nullptr;
    const LockWait::NoWaiting once; // a locked file gives no guess
    QVariantList values;
    const qint64 at = std::min<qint64>(qint64(number) * kPageSize, m_rows - 1);
    const QString where = m_queries.guessedFrom(at, m_rows, m_generation, values);
    if (where.isEmpty())
        return nullptr;
    m_reading = true;
    auto guessed = m_queries.readRows(where, values, false, -1);
    m_reading = false;
    if (guessed->failed)
        return nullptr;
    guessed->guessed = true;
    m_cache.keep(number, guessed);
    return guessed.get();
}

void RecordListModel::readWantedPages()
{
    while (!m_wanted.isEmpty()) {
        const int number = m_wanted.constFirst();
        if (number * qint64(kPageSize) < m_rows && !m_cache.hasExact(number)) {
            if (!page(number, true)) { // another read is under way: this one comes after it
                QTimer::singleShot(10, this, &RecordListModel::readWantedPages);
                return;
            }
            const int last = std::min(m_rows, (number + 1) * kPageSize) - 1;
            emit dataChanged(index(number * kPageSize, 0), index(last, columnCount() - 1));
        }
        m_wanted.removeOne(number);
    }
}

void RecordListModel::readInBackground(int number, const PageQuery &query) const
{
    if (m_background.contains(number))
        return;
    m_background.insert(number);
    auto *self = const_cast<RecordListModel *>(this);
    const quint64 serial = ++*m_backgroundSerial;
    // Reads asked for long ago are no longer on screen: those still running are interrupted,
    // those not started are skipped.
    if (serial > kStaleReads)
        m_readers->interruptPagesBefore(serial - kStaleReads + 1);
    onReader<std::shared_ptr<ListPage>>(
        self, m_queries.connection(),
        [query, serial, latest = m_backgroundSerial](const Connection &reader) {
            auto page = std::make_shared<ListPage>();
            if (latest->load() - serial >= kStaleReads) {
                page->skipped = true;
                return page;
            }
            page = runPageQuery(reader, query, nullptr);
            if (page->failed && latest->load() - serial >= kStaleReads)
                page->skipped = true; // interrupted as stale
            return page;
        },
        [self, number, generation = m_generation, reverse = query.reverse](std::optional<std::shared_ptr<ListPage>> page) {
            self->m_background.remove(number);
            if (generation != self->m_generation || self->m_cache.hasExact(number))
                return;
            if (page && (*page)->skipped) {
                // No longer on screen, as far as anyone knows: a guessed page goes too, so that a
                // paint that still wants it asks again.
                self->m_cache.remove(number);
                return;
            }
            if (!page || (*page)->failed) {
                self->requestPage(number); // the reader could not: read here, waiting as needed
                return;
            }
            if (reverse)
                (*page)->reverse();
            self->m_cache.keep(number, *page);
            const int first = number * kPageSize;
            const int last = std::min(self->m_rows, first + kPageSize) - 1;
            if (last >= first)
                emit self->dataChanged(self->index(first, 0), self->index(last, self->columnCount() - 1));
        },
        m_readers, serial);
}

void RecordListModel::requestPage(int number) const
{
    if (m_wanted.contains(number))
        return;
    m_wanted << number;
    if (m_wanted.size() == 1)
        QTimer::singleShot(0, const_cast<RecordListModel *>(this), &RecordListModel::readWantedPages);
}

} // namespace Norvix
