#include "editor/recordlist.h"
#include "platform/language.h"

#include "platform/textfold.h"
#include "platform/values.h"
#include "platform/waiting.h"

#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QFutureWatcher>
#include <QPromise>
#include <QThreadPool>
#include <QTimer>


#include <algorithm>
#include <climits>
#include <map>
#include <mutex>

namespace Norvix {

struct RecordListModel::Page
{
    QList<QVariantList> keys; // the order's values of each row
    QStringList lines;
    QList<QStringList> cells; // a search's columns
    bool failed = false; // its query failed: shown empty, never used as a boundary
    bool skipped = false; // a read given up as stale (never kept)
    bool guessed = false; // read from a key guessed for its position, until the read by position comes
    int size() const { return int(lines.size()); }
    // Rows read in descending key order, put back in the list's order.
    void reverse()
    {
        std::reverse(keys.begin(), keys.end());
        std::reverse(lines.begin(), lines.end());
        std::reverse(cells.begin(), cells.end());
    }
};

namespace {

// A decimal as the server writes it ("1234.5600") in the regional form ("1234,56"): exact, no
// binary rounding, trailing zeros dropped. Text that is not such a number stays as it is.
QString decimalText(const QString &plain)
{
    static const QRegularExpression number(QStringLiteral("^([+-]?)([0-9]*)(?:\\.([0-9]*))?$"));
    const auto m = number.match(plain.trimmed());
    if (!m.hasMatch() || (m.capturedLength(2) == 0 && m.capturedLength(3) == 0))
        return plain;
    QString whole = m.captured(2);
    while (whole.size() > 1 && whole.front() == u'0')
        whole.remove(0, 1);
    if (whole.isEmpty())
        whole = QStringLiteral("0");
    QString fraction = m.captured(3);
    while (fraction.endsWith(u'0'))
        fraction.chop(1);
    const bool zero = whole == u"0" && fraction.isEmpty();
    QString text = (m.captured(1) == u"-" && !zero) ? QStringLiteral("-") : QString();
    text += whole;
    if (!fraction.isEmpty())
        text += Values::locale().decimalSeparator + fraction;
    return text;
}

// A date, time or timestamp kept as text (SQLite), in the regional form; empty when it is none.
QString temporalText(const QString &text, ColumnKind kind)
{
    const QString t = text.trimmed();
    if (kind == ColumnKind::Time) {
        const QTime time = QTime::fromString(t, Qt::ISODate);
        return time.isValid() ? Values::dateText(QDateTime(QDate(1899, 12, 30), time)) : QString();
    }
    QDateTime dt = QDateTime::fromString(t, Qt::ISODate);
    if (!dt.isValid())
        dt = QDateTime::fromString(t, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!dt.isValid()) {
        const QDate d = QDate::fromString(t.left(10), Qt::ISODate);
        if (d.isValid() && (t.size() == 10 || kind == ColumnKind::Date))
            dt = QDateTime(d, QTime(0, 0));
    }
    if (!dt.isValid())
        return QString();
    if (kind == ColumnKind::Date)
        dt.setTime(QTime(0, 0));
    return Values::dateText(dt);
}

} // namespace

QString columnValueText(const QVariant &value, ColumnKind kind)
{
    if (!value.isValid() || value.isNull())
        return QString();
    switch (value.typeId()) {
    case QMetaType::Bool: return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case QMetaType::QDate: return Values::dateText(QDateTime(value.toDate(), QTime(0, 0)));
    case QMetaType::QDateTime: return Values::dateText(value.toDateTime()); // a DATE of SQLite may hold a time
    case QMetaType::QTime: return Values::dateText(QDateTime(QDate(1899, 12, 30), value.toTime()));
    case QMetaType::Float: return Values::numberText(value.toDouble(), true);
    case QMetaType::Double:
        if (kind == ColumnKind::Boolean)
            return value.toDouble() != 0 ? QStringLiteral("True") : QStringLiteral("False");
        return Values::numberText(value.toDouble());
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        if (kind == ColumnKind::Boolean)
            return value.toLongLong() != 0 ? QStringLiteral("True") : QStringLiteral("False");
        return value.toString();
    case QMetaType::QByteArray: return QString::fromUtf8(value.toByteArray());
    case QMetaType::QString: {
        const QString text = value.toString();
        switch (kind) {
        case ColumnKind::Decimal: return decimalText(text);
        case ColumnKind::Date:
        case ColumnKind::DateTime:
        case ColumnKind::Time: {
            const QString shown = temporalText(text, kind);
            return shown.isEmpty() ? text : shown;
        }
        case ColumnKind::Boolean: {
            const QString t = text.trimmed().toLower();
            if (t == u"t" || t == u"f")
                return t == u"t" ? QStringLiteral("True") : QStringLiteral("False");
            const auto b = Values::toBoolean(text);
            return b ? (*b ? QStringLiteral("True") : QStringLiteral("False")) : text;
        }
        default: return text;
        }
    }
    default: return value.toString();
    }
}

namespace {

// Key values as the line and the editor compare them: the same value read twice may come back as
// another numeric type.
bool sameValue(const QVariant &a, const QVariant &b)
{
    if (a.isNull() || b.isNull())
        return a.isNull() && b.isNull();
    return a == b || a.toString() == b.toString();
}

// A value as a line shows it. The view shows a line on one row of the screen: a longer value is
// cut, since a megabyte description would otherwise be laid out, and kept in memory, whole.
QString shownInLine(QString text)
{
    constexpr qsizetype kMaxShown = 500;
    if (text.size() <= kMaxShown)
        return text;
    text.truncate(text.at(kMaxShown - 1).isHighSurrogate() ? kMaxShown - 1 : kMaxShown);
    return text + QChar(0x2026); // an ellipsis
}

QString failureText(const QSqlError &error)
{
    return error.databaseText().isEmpty() ? error.text() : error.databaseText();
}

} // namespace

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

RecordListModel::RecordListModel(std::shared_ptr<Connection> connection, const QString &table,
                                 const QStringList &keyColumns, const QString &descColumn, QObject *parent)
    : QAbstractTableModel(parent), m_connection(std::move(connection)), m_readers(std::make_shared<ReaderSet>())
{
    setUp(table, keyColumns, descColumn);
    readFirstPage(true);
}

RecordListModel::RecordListModel(std::shared_ptr<Connection> connection, const QString &table,
                                 const QStringList &keyColumns, ListFilter filter, QObject *parent, bool read)
    : QAbstractTableModel(parent), m_connection(std::move(connection)), m_readers(std::make_shared<ReaderSet>())
{
    setUp(table, keyColumns, QString());
    m_search = true;
    m_filter = std::move(filter);
    for (const ListFilter::Column &c : std::as_const(m_filter.columns)) {
        const ColumnInfo &column = m_table->column(c.name);
        m_shown << column.name;
        m_shownKinds << column.kind;
    }
    // Ordered by the first column shown, then the key (which alone tells rows apart).
    if (!m_shown.isEmpty() && !(m_keyColumns.size() == 1 && m_keyColumns.constFirst() == m_shown.constFirst())) {
        m_order.prepend(m_shown.constFirst());
        m_nullable.prepend(nullableColumns({m_shown.constFirst()}).constFirst());
    }
    if (read)
        readFirstPageInBackground();
    else
        m_counted = true;
}

bool RecordListModel::readAll(const Connection &reader, int chunk,
                              const std::function<bool(const QList<QStringList> &)> &take, QString *failure) const
{
    // From one chunk's last row to the next, through the order's index where there is one.
    QVariantList after;
    for (;;) {
        QVariantList values;
        const QString where = after.isEmpty() ? QString() : keyCondition(after, true, values);
        const auto page = runPageQuery(reader, pageQuery(where, values, false, -1, chunk), failure);
        if (page->failed)
            return false;
        if (!take(page->cells) || page->size() < chunk)
            return true;
        after = page->keys.constLast();
    }
}

QList<bool> RecordListModel::nullableColumns(const QStringList &columns) const
{
    // The primary key's columns never hold NULL; for other columns the database says.
    QList<bool> nullable;
    QSqlRecord record;
    bool recordRead = false;
    for (const QString &k : columns) {
        bool mayBeNull = false;
        if (!m_table->primaryKey.contains(k)) {
            if (!recordRead) {
                record = m_connection->call([this] { return m_connection->database().record(m_table->name); });
                recordRead = true;
            }
            const int i = record.indexOf(k);
            mayBeNull = i < 0 || record.field(i).requiredStatus() != QSqlField::Required;
        }
        nullable << mayBeNull;
    }
    return nullable;
}

void RecordListModel::setUp(const QString &table, const QStringList &keyColumns, const QString &descColumn)
{
    if (!m_connection || !m_connection->isOpen())
        throw DataError(DataError::ConnectionFailed, nxTr("La connessione al database non è aperta"));
    // Every name is checked before the first statement that uses it.
    m_table = tableInfo(*m_connection, table);
    for (const QString &k : keyColumns)
        m_keyColumns << m_table->column(k).name;
    if (!descColumn.isEmpty())
        m_descColumn = m_table->column(descColumn).name;
    m_keysShown = !m_keyColumns.isEmpty();
    if (m_keyColumns.isEmpty())
        m_keyColumns = m_table->primaryKey;
    if (m_keyColumns.isEmpty()) {
        m_natural = true;
        switch (m_connection->dialect()) {
        case SqlDialect::Sqlite: m_keyColumns = {QStringLiteral("rowid")}; break;
        case SqlDialect::PostgreSql: m_keyColumns = {QStringLiteral("ctid")}; break;
        case SqlDialect::Other:
            throw DataError(DataError::BadIdentifier,
                            nxTr("La tabella %1 non ha una chiave per ordinare e ritrovare le righe").arg(m_table->name));
        }
        m_nullable = {false};
    } else {
        // Key columns that may hold NULL need NULL-aware boundaries (see keyCondition).
        m_nullable = nullableColumns(m_keyColumns);
    }
    m_order = m_keyColumns;
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
    return parent.isValid() ? 0 : m_search ? int(m_shown.size()) : 1;
}

QVariant RecordListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_rows || (role != Qt::DisplayRole && role != KeyRole))
        return QVariant();
    const Page *p = pageForPaint(index.row() / kPageSize);
    const int at = index.row() % kPageSize;
    if (!p || at >= p->size())
        return QVariant();
    if (role == KeyRole)
        return QVariant(p->keys.at(at).mid(prefixCount()));
    return m_search ? QVariant(p->cells.at(at).value(index.column())) : QVariant(p->lines.at(at));
}

QVariant RecordListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (m_search && orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < m_filter.columns.size())
        return m_filter.columns.at(section).caption;
    return QAbstractTableModel::headerData(section, orientation, role);
}

void RecordListModel::refresh()
{
    beginResetModel();
    if (m_search)
        readFirstPageInBackground();
    else
        readFirstPage(false);
    endResetModel();
}

void RecordListModel::refreshAround(int row, const QVariantList &key, std::optional<int> rowsAdded)
{
    // In place, not by a reset: a reset makes the view forget and rebuild one entry per line,
    // which at millions of lines holds the window longer than the read itself.
    if (m_search) { // the search runs again
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
    if (row >= 0 && row < m_rows && number > 0 && key.size() == m_keyColumns.size() && !hasExact(number)) {
        if (auto around = loadPageAround(number, row, key))
            keep(number, std::move(around));
    }
    if (m_rows > 0)
        emit dataChanged(index(0, 0), index(m_rows - 1, columnCount() - 1));
}

void RecordListModel::rowSaved(int row, const QVariantList &key)
{
    const auto it = m_pages.find(row / kPageSize);
    const int at = row % kPageSize;
    if (!m_search || row < 0 || row >= m_rows || it == m_pages.end() || at >= (*it)->size()
        || key.size() != m_keyColumns.size())
        return;
    QVariantList values;
    const QString where = keyEquals(key, values);
    const auto stored = runPageQuery(*m_connection, pageQuery(where, values, false, -1, 1, false), &m_lastError);
    if (stored->failed || stored->size() != 1)
        return; // gone meanwhile: the line stays as it was
    (*it)->cells[at] = stored->cells.constFirst();
    emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}

void RecordListModel::rowDeleted(int row)
{
    if (!m_search || row < 0 || row >= m_rows)
        return;
    // The lines from that one's page on move up by one: their pages are read again.
    const int number = row / kPageSize;
    for (auto it = m_pages.begin(); it != m_pages.end();) {
        if (it.key() >= number) {
            m_lru.removeOne(it.key());
            it = m_pages.erase(it);
        } else {
            ++it;
        }
    }
    beginRemoveRows(QModelIndex(), row, row);
    --m_rows;
    endRemoveRows();
    if (row < m_rows)
        emit dataChanged(index(row, 0), index(m_rows - 1, columnCount() - 1));
}

QString RecordListModel::keyEquals(const QVariantList &key, QVariantList &values) const
{
    QStringList terms;
    const QString param = m_natural && m_connection->dialect() == SqlDialect::PostgreSql ? QStringLiteral("CAST(? AS tid)")
                                                                                         : QStringLiteral("?");
    for (int i = 0; i < m_keyColumns.size(); ++i) {
        const QString k = m_natural ? m_keyColumns[i] : quoteIdentifier(m_keyColumns[i]);
        if (key.value(i).isNull()) {
            terms << k + QStringLiteral(" IS NULL");
        } else {
            terms << k + QStringLiteral(" = ") + param;
            values << key.value(i);
        }
    }
    return terms.join(QStringLiteral(" AND "));
}

QVariantList RecordListModel::orderOf(const QVariantList &key) const
{
    if (prefixCount() == 0 || key.size() != m_keyColumns.size())
        return key;
    QVariantList values;
    const QString where = keyEquals(key, values);
    const auto row = runPageQuery(*m_connection, pageQuery(where, values, false, -1, 1, false), &m_lastError);
    if (row->failed || row->size() != 1)
        return {};
    return row->keys.constFirst();
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

namespace {
// The rows of a table (those matching `where`, its values bound, when given); -1 when they
// cannot be counted.
qint64 rowsIn(const Connection &connection, const QString &table, const QString &where = QString(),
              const QVariantList &values = {})
{
    return connection.call([&] {
        const QString sql = QStringLiteral("SELECT COUNT(*) FROM ") + quoteIdentifier(table)
                            + (where.isEmpty() ? QString() : QStringLiteral(" WHERE (%1)").arg(where));
        QSqlQuery q(connection.database());
        q.setForwardOnly(true);
        const bool ran = values.isEmpty() ? execTextPatiently(q, sql)
                                          : const_cast<Connection &>(connection).execRead(q, sql, values);
        if (ran && q.next())
            return q.value(0).toLongLong();
        return qint64(-1);
    });
}
} // namespace

void RecordListModel::readFirstPage(bool throwOnFailure)
{
    ++m_generation;
    m_pages.clear();
    m_lru.clear();
    auto first = readRows(QString(), {}, false, 0);
    if (first->failed && throwOnFailure)
        throw DataError(DataError::Generic,
                        nxTr("Impossibile leggere le righe della tabella %1: %2").arg(m_table->name, m_lastError));
    m_pages.insert(0, first);
    m_lru = {0};
    m_rows = first->size();
    // A page that is not full holds the whole table (so does a failed read, as far as it can
    // tell): nothing left to count.
    m_counted = first->failed || m_rows < kPageSize;
    if (m_counted)
        return;
    const qint64 guess = estimateRows();
    if (guess > 0 && guess < kCountAtOnce) {
        qint64 total = -1;
        try {
            total = rowsIn(*m_connection, m_table->name);
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

qint64 RecordListModel::estimateRows() const
{
    // SQLite: the largest rowid, one step down the table's b-tree (rows deleted since make it
    // too high, the count puts it right). PostgreSQL: the planner's figure for a whole scan,
    // from the statistics of ANALYZE and VACUUM, or from the table's size before the first.
    QString sql;
    switch (m_connection->dialect()) {
    case SqlDialect::Sqlite: sql = QStringLiteral("SELECT max(rowid) FROM ") + quoteIdentifier(m_table->name); break;
    case SqlDialect::PostgreSql:
        sql = QStringLiteral("EXPLAIN SELECT 1 FROM ") + quoteIdentifier(m_table->name);
        break;
    case SqlDialect::Other: return -1;
    }
    try {
        return m_connection->call([&] {
            QSqlQuery q(m_connection->database());
            q.setForwardOnly(true);
            // A table without rowid refuses the query: no guess. (EXPLAIN cannot be prepared.)
            if (!execTextPatiently(q, sql) || !q.next() || q.value(0).isNull())
                return qint64(-1);
            if (m_connection->dialect() == SqlDialect::Sqlite)
                return q.value(0).toLongLong();
            // "Seq Scan on t  (cost=0.00..15406.00 rows=1000000 width=4)"
            static const QRegularExpression rows(QStringLiteral("rows=([0-9]+)"));
            const auto m = rows.match(q.value(0).toString());
            return m.hasMatch() ? m.captured(1).toLongLong() : qint64(-1);
        });
    } catch (const DataError &) {
        return -1;
    }
}

namespace {
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
    QThreadPool::globalInstance()->start(
        [promise, work, readers, serial, params = connection.params(), text = connection.ConnectionString()] {
            std::optional<Result> result;
            try {
                const std::shared_ptr<Connection> reader = Connection::open(params, text, Access::ReadOnly);
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

} // namespace

void RecordListModel::scheduleCount()
{
    // Counting a large table takes a while (a full index scan): the first page is shown before.
    // A server counts while the window goes on (Connection::call); an SQLite file is counted by
    // a reader of its own on another thread, since at ten million rows the count takes a fifth
    // of a second.
    QTimer::singleShot(kCountDelayMs, this, [this, generation = m_generation] {
        if (generation != m_generation || m_counted)
            return;
        if (m_connection->waitsOnServer() && !m_search)
            countRows();
        else
            countInBackground();
    });
}

void RecordListModel::countInBackground()
{
    onReader<qint64>(
        this, *m_connection,
        [table = m_table->name, where = m_filter.where, values = m_filter.values](const Connection &reader) {
            return rowsIn(reader, table, where, values);
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
        total = rowsIn(*m_connection, m_table->name, m_filter.where, m_filter.values);
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
    m_pages.clear();
    m_lru.clear();
    m_rows = 0;
    m_counted = false;
    const PageQuery query = pageQuery(QString(), {}, false, 0);
    const auto arrived = [this](std::shared_ptr<Page> first) {
        m_background.remove(0);
        m_pages.insert(0, first);
        m_lru = {0};
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
    onReader<std::shared_ptr<Page>>(
        this, *m_connection,
        [query](const Connection &reader) { return runPageQuery(reader, query, nullptr); },
        [this, arrived, query, generation = m_generation](std::optional<std::shared_ptr<Page>> page) {
            if (generation != m_generation)
                return;
            // No reader (a server that takes no more sessions, a lock past its patience): read
            // here, waiting as needed.
            arrived(page ? *page : readPage(query));
        },
        m_readers);
}

QVariantList RecordListModel::keyAt(int row) const
{
    if (row < 0 || row >= m_rows)
        return {};
    const Page *p = page(row / kPageSize);
    const int at = row % kPageSize;
    return p && at < p->size() ? p->keys.at(at).mid(prefixCount()) : QVariantList();
}

QString RecordListModel::lineAt(int row) const
{
    if (row < 0 || row >= m_rows)
        return {};
    const Page *p = page(row / kPageSize, true);
    const int at = row % kPageSize;
    if (!p || at >= p->size())
        return QString();
    return m_search ? p->cells.at(at).join(u' ') : p->lines.at(at);
}

int RecordListModel::rowOfKey(const QVariantList &key) const
{
    if (key.size() != m_keyColumns.size())
        return -1;
    const QVariantList order = orderOf(key);
    if (order.isEmpty())
        return -1;
    qint64 before = -1;
    try {
        QVariantList values;
        const QString where = rowsBefore(order, values);
        before = rowsIn(*m_connection, m_table->name, where, values);
    } catch (const DataError &) {
        // Not found (the user gave up waiting).
    }
    return lineOf(before, order);
}

QString RecordListModel::rowsBefore(const QVariantList &order, QVariantList &values) const
{
    values = m_filter.values;
    const QString filter = m_filter.where.isEmpty() ? QString() : QStringLiteral("(%1) AND ").arg(m_filter.where);
    return filter + keyCondition(order, false, values);
}

int RecordListModel::lineOf(qint64 before, const QVariantList &order) const
{
    if (before < 0 || before >= INT_MAX || order.size() != m_order.size())
        return -1;
    const QVariantList key = order.mid(prefixCount());
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
    const int number = row / kPageSize;
    if (!hasExact(number)) {
        if (auto around = loadPageAround(number, row, order))
            keep(number, std::move(around));
    }
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
    const QString column = m_search ? m_shown.value(0) : m_descColumn;
    if (column.isEmpty() || prefix.isEmpty())
        return;
    const quint64 serial = ++m_findSerial;
    const QString condition = foldedLike(*m_connection, quoteIdentifier(column));
    // The first row in the list's order whose text starts so, then how many rows come before it:
    // each read away from the window, from statements made here (a reader never touches the model).
    const PageQuery first = pageQuery(condition, {foldedPattern(prefix, false, false)}, false, -1, 1);
    const auto arrived = [this, serial, found](const std::shared_ptr<Page> &page) {
        if (!page->failed && page->size() == 1)
            placeOrder(page->keys.constFirst(), serial, found);
    };
    if (m_connection->waitsOnServer()) {
        QTimer::singleShot(0, this, [this, first, arrived] {
            try {
                arrived(runPageQuery(*m_connection, first, nullptr));
            } catch (const DataError &) {
                // not found (the user gave up waiting)
            }
        });
        return;
    }
    onReader<std::shared_ptr<Page>>(
        this, *m_connection, [first](const Connection &on) { return runPageQuery(on, first, nullptr); },
        [arrived](std::optional<std::shared_ptr<Page>> page) {
            if (page)
                arrived(*page);
        },
        m_readers);
}

void RecordListModel::findRow(const QVariantList &key, const std::function<void(int)> &found)
{
    const quint64 serial = ++m_findSerial;
    if (key.size() != m_keyColumns.size())
        return;
    try {
        if (const QVariantList order = orderOf(key); !order.isEmpty())
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
    const QString where = rowsBefore(order, values);
    const auto count = [table = m_table->name, where, values](const Connection &on) {
        return rowsIn(on, table, where, values);
    };
    if (m_connection->waitsOnServer()) {
        place(count(*m_connection));
        return;
    }
    onReader<qint64>(
        this, *m_connection, count,
        [place](std::optional<qint64> before) {
            if (before)
                place(*before);
        },
        m_readers);
}

void RecordListModel::touch(int number) const
{
    if (!m_lru.isEmpty() && m_lru.constLast() == number)
        return;
    m_lru.removeOne(number);
    m_lru.append(number);
}

const RecordListModel::Page *RecordListModel::cached(int number) const
{
    const auto it = m_pages.constFind(number);
    if (it == m_pages.constEnd())
        return nullptr;
    touch(number);
    return it->get();
}

bool RecordListModel::hasExact(int number) const
{
    const auto it = m_pages.constFind(number);
    return it != m_pages.constEnd() && !(*it)->guessed;
}

const RecordListModel::Page *RecordListModel::page(int number, bool exact) const
{
    if (const Page *p = cached(number); p && !(exact && p->guessed))
        return p;
    // While a page is read, the event loop runs (a server's answer, a lock): a timer that asks
    // for another page then waits for the next turn.
    if (m_reading)
        return nullptr;
    m_reading = true;
    std::shared_ptr<Page> loaded;
    try {
        loaded = loadPage(number);
    } catch (...) {
        m_reading = false;
        throw;
    }
    m_reading = false;
    keep(number, loaded);
    return loaded.get();
}

const RecordListModel::Page *RecordListModel::pageForPaint(int number) const
{
    if (const Page *p = cached(number))
        return p;
    // A search's page may walk the whole table (an unindexed condition): always on a reader of
    // its own, on a server too, so that the window takes keys meanwhile (Esc gives it up).
    if (m_search) {
        readInBackground(number, pageQueryFor(number));
        return nullptr;
    }
    if (!m_connection->waitsOnServer() && !m_reading) {
        const PageQuery query = pageQueryFor(number);
        if (query.skip > kFarRows) {
            readInBackground(number, query);
            return guessPage(number);
        }
        std::shared_ptr<Page> loaded;
        {
            const LockWait::NoWaiting once; // a locked file gives a failed page at once
            m_reading = true;
            loaded = readPage(query);
            m_reading = false;
        }
        if (!loaded->failed) {
            keep(number, loaded);
            return loaded.get();
        }
    }
    requestPage(number);
    return nullptr;
}

const RecordListModel::Page *RecordListModel::guessPage(int number) const
{
    // A key of one integer column: the row at a position is guessed by spreading the positions
    // evenly between the lowest and the highest key, and its page is read from there through the
    // index at once. Exact where the keys have no gaps; elsewhere the lines are put right when
    // the read by position comes.
    if (m_search || m_keyColumns.size() != 1 || m_nullable.value(0) || m_rows < 2)
        return nullptr;
    if (m_natural ? m_connection->dialect() != SqlDialect::Sqlite : m_table->column(m_keyColumns[0]).kind != ColumnKind::Integer)
        return nullptr;
    const LockWait::NoWaiting once; // a locked file gives no guess
    // (Each end in a query of its own: SQLite walks the whole table for both in one.)
    if (m_keySpanGeneration != m_generation) {
        m_keySpanGeneration = m_generation;
        m_keySpan = {};
        const QString k = keyExpressions().constFirst();
        try {
            m_connection->call([&] {
                QSqlQuery q;
                if (const_cast<Connection &>(*m_connection)
                        .execRead(q, QStringLiteral("SELECT (SELECT min(%1) FROM %2), (SELECT max(%1) FROM %2)").arg(k, quoteIdentifier(m_table->name)), {})
                    && q.next() && !q.value(0).isNull())
                    m_keySpan = {q.value(0).toLongLong(), q.value(1).toLongLong()};
            });
        } catch (const DataError &) {
            // no guess
        }
    }
    if (!m_keySpan)
        return nullptr;
    const auto [low, high] = *m_keySpan;
    const qint64 at = std::min<qint64>(qint64(number) * kPageSize, m_rows - 1);
    const qint64 key = low + qint64(double(high - low) * double(at) / double(m_rows - 1));
    QVariantList values;
    const QString where = keyCondition({key}, true, values, true);
    m_reading = true;
    auto guessed = readRows(where, values, false, -1);
    m_reading = false;
    if (guessed->failed)
        return nullptr;
    guessed->guessed = true;
    keep(number, guessed);
    return guessed.get();
}

void RecordListModel::readWantedPages()
{
    while (!m_wanted.isEmpty()) {
        const int number = m_wanted.constFirst();
        if (number * qint64(kPageSize) < m_rows && !hasExact(number)) {
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

void RecordListModel::keep(int number, std::shared_ptr<Page> page) const
{
    m_pages.insert(number, std::move(page));
    touch(number);
    // The least recently used pages go; the one just kept is the most recent.
    while (m_pages.size() > kMaxPages && !m_lru.isEmpty())
        m_pages.remove(m_lru.takeFirst());
}

RecordListModel::PageQuery RecordListModel::pageQueryFor(int number) const
{
    // From the boundary of a neighbouring page the database seeks straight to the rows wanted;
    // by position it has to walk past every row before them.
    if (const auto previous = m_pages.value(number - 1);
        previous && !previous->failed && !previous->guessed && previous->size() == kPageSize) {
        QVariantList values;
        const QString where = keyCondition(previous->keys.constLast(), true, values);
        return pageQuery(where, values, false, -1);
    }
    if (const auto next = m_pages.value(number + 1); next && !next->failed && !next->guessed && next->size() > 0) {
        QVariantList values;
        const QString where = keyCondition(next->keys.constFirst(), false, values);
        return pageQuery(where, values, true, -1);
    }
    // By position: from the nearer end of the table, once its length is known.
    const qint64 start = qint64(number) * kPageSize;
    if (m_counted && start > m_rows / 2 && start < m_rows) {
        const qint64 end = std::min<qint64>(start + kPageSize, m_rows);
        return pageQuery(QString(), {}, true, m_rows - end, int(end - start));
    }
    return pageQuery(QString(), {}, false, start);
}

std::shared_ptr<RecordListModel::Page> RecordListModel::loadPage(int number) const
{
    return readPage(pageQueryFor(number));
}

std::shared_ptr<RecordListModel::Page> RecordListModel::readPage(const PageQuery &query) const
{
    auto page = runPageQuery(*m_connection, query, &m_lastError);
    if (query.reverse)
        page->reverse();
    return page;
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
    onReader<std::shared_ptr<Page>>(
        self, *m_connection,
        [query, serial, latest = m_backgroundSerial](const Connection &reader) {
            auto page = std::make_shared<Page>();
            if (latest->load() - serial >= kStaleReads) {
                page->skipped = true;
                return page;
            }
            page = runPageQuery(reader, query, nullptr);
            if (page->failed && latest->load() - serial >= kStaleReads)
                page->skipped = true; // interrupted as stale
            return page;
        },
        [self, number, generation = m_generation, reverse = query.reverse](std::optional<std::shared_ptr<Page>> page) {
            self->m_background.remove(number);
            if (generation != self->m_generation || self->hasExact(number))
                return;
            if (page && (*page)->skipped) {
                // No longer on screen, as far as anyone knows: a guessed page goes too, so that a
                // paint that still wants it asks again.
                if (self->m_pages.contains(number)) {
                    self->m_pages.remove(number);
                    self->m_lru.removeOne(number);
                }
                return;
            }
            if (!page || (*page)->failed) {
                self->requestPage(number); // the reader could not: read here, waiting as needed
                return;
            }
            if (reverse)
                (*page)->reverse();
            self->keep(number, *page);
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

std::shared_ptr<RecordListModel::Page> RecordListModel::loadPageAround(int number, int row, const QVariantList &key) const
{
    const int before = row - number * kPageSize;
    std::shared_ptr<Page> page;
    if (before > 0) {
        QVariantList values;
        const QString where = keyCondition(key, false, values);
        page = readRows(where, values, true, -1, before);
        if (page->failed || page->size() != before)
            return nullptr; // the table changed meanwhile: read the page by position
        page->reverse();
    } else {
        page = std::make_shared<Page>();
    }
    QVariantList values;
    const QString where = keyCondition(key, true, values, true);
    const auto rest = readRows(where, values, false, -1, kPageSize - before);
    if (rest->failed)
        return nullptr;
    page->keys << rest->keys;
    page->lines << rest->lines;
    return page;
}

QStringList RecordListModel::keyExpressions() const
{
    QStringList expressions;
    for (int i = 0; i < m_order.size(); ++i) // rowid / ctid: not columns, never quoted
        expressions << (m_natural && i == prefixCount() ? m_order[i] : quoteIdentifier(m_order[i]));
    return expressions;
}

QString RecordListModel::keyCondition(const QVariantList &key, bool after, QVariantList &values, bool inclusive) const
{
    const QStringList keys = keyExpressions();
    const SqlDialect dialect = m_connection->dialect();
    // (A natural key is alone in the order: a search ordering by a column keeps the table's key.)
    const QString param = m_natural && dialect == SqlDialect::PostgreSql && prefixCount() == 0 ? QStringLiteral("CAST(? AS tid)")
                                                                                             : QStringLiteral("?");
    const QString op = after ? QStringLiteral(">") : QStringLiteral("<");
    const QString lastOp = inclusive ? op + u'=' : op;

    bool anyNull = false;
    for (int i = 0; i < keys.size(); ++i)
        anyNull = anyNull || m_nullable.value(i) || key.value(i).isNull();
    if (!anyNull && keys.size() == 1) {
        values << key.value(0);
        return keys[0] + u' ' + lastOp + u' ' + param;
    }
    if (!anyNull && dialect != SqlDialect::Other) {
        // A row value comparison: the database seeks its index to the boundary.
        QStringList params;
        for (int i = 0; i < keys.size(); ++i) {
            params << param;
            values << key.value(i);
        }
        return QStringLiteral("(%1) %2 (%3)").arg(keys.join(QStringLiteral(", ")), lastOp, params.join(QStringLiteral(", ")));
    }

    // Where NULL may appear, it has to be placed where ORDER BY puts it: last in PostgreSQL,
    // first elsewhere. "a > x" alone would drop the rows whose a is NULL.
    const bool nullsLast = dialect == SqlDialect::PostgreSql;
    QStringList alternatives;
    QStringList equalTerms;
    QVariantList equalValues;
    for (int i = 0; i < keys.size(); ++i) {
        const QString &k = keys[i];
        const QVariant v = key.value(i);
        const bool nullable = m_nullable.value(i);
        QString strict;
        QVariantList strictValues;
        if (v.isNull()) {
            // Past a NULL only the non-NULL values, on the side where they sort.
            if (after != nullsLast)
                strict = k + QStringLiteral(" IS NOT NULL");
        } else if (nullable && after == nullsLast) {
            strict = QStringLiteral("(%1 %2 %3 OR %1 IS NULL)").arg(k, op, param);
            strictValues << v;
        } else {
            strict = k + u' ' + op + u' ' + param;
            strictValues << v;
        }
        if (!strict.isEmpty()) {
            alternatives << u'(' + (equalTerms + QStringList{strict}).join(QStringLiteral(" AND ")) + u')';
            values << equalValues << strictValues;
        }
        if (v.isNull()) {
            equalTerms << k + QStringLiteral(" IS NULL");
        } else {
            equalTerms << k + QStringLiteral(" = ") + param;
            equalValues << v;
        }
    }
    if (inclusive) {
        alternatives << u'(' + equalTerms.join(QStringLiteral(" AND ")) + u')';
        values << equalValues;
    }
    if (alternatives.isEmpty())
        return QStringLiteral("1 = 0");
    return u'(' + alternatives.join(QStringLiteral(" OR ")) + u')';
}

RecordListModel::PageQuery RecordListModel::pageQuery(const QString &where, const QVariantList &values, bool descending,
                                                      qint64 offset, int limit, bool filtered) const
{
    const QStringList keys = keyExpressions();
    QStringList columns = keys;
    if (m_search) {
        for (const QString &c : m_shown)
            columns << quoteIdentifier(c);
    } else if (!m_descColumn.isEmpty()) {
        columns << quoteIdentifier(m_descColumn);
    }
    QStringList order;
    for (const QString &k : keys)
        order << (descending ? k + QStringLiteral(" DESC") : k);

    PageQuery query;
    query.sql = QStringLiteral("SELECT %1 FROM %2").arg(columns.join(QStringLiteral(", ")), quoteIdentifier(m_table->name));
    QStringList conditions;
    if (filtered && !m_filter.where.isEmpty()) {
        conditions << u'(' + m_filter.where + u')';
        query.bound << m_filter.values;
    }
    if (!where.isEmpty()) {
        conditions << where;
        query.bound << values;
    }
    if (!conditions.isEmpty())
        query.sql += QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND "));
    query.sql += QStringLiteral(" ORDER BY ") + order.join(QStringLiteral(", "));
    query.skip = std::max<qint64>(offset, 0);
    if (m_connection->dialect() == SqlDialect::Other) {
        query.sql += QStringLiteral(" OFFSET ? ROWS FETCH NEXT ? ROWS ONLY");
        query.bound << QVariant(std::max<qint64>(offset, 0)) << QVariant(limit);
    } else {
        query.sql += QStringLiteral(" LIMIT ?");
        query.bound << QVariant(limit);
        if (offset > 0) {
            query.sql += QStringLiteral(" OFFSET ?");
            query.bound << QVariant(offset);
        }
    }
    for (int i = 0; i < m_order.size(); ++i)
        query.kinds << (m_natural && i == prefixCount() ? ColumnKind::Other : m_table->column(m_order[i]).kind);
    query.orderCount = int(m_order.size());
    query.shownKinds = m_shownKinds;
    for (const ListFilter::Column &c : m_filter.columns)
        query.pictures << c.picture;
    query.keysShown = m_keysShown && !m_search;
    query.hasDesc = !m_descColumn.isEmpty();
    query.descKind = m_descColumn.isEmpty() ? ColumnKind::Other : m_table->column(m_descColumn).kind;
    query.reverse = descending;
    return query;
}

std::shared_ptr<RecordListModel::Page> RecordListModel::runPageQuery(const Connection &connection, const PageQuery &query,
                                                                     QString *failure)
{
    auto page = std::make_shared<Page>();
    const int nKeys = query.orderCount;
    QSqlError error;
    bool ok = false;
    try {
        connection.call([&] {
            QSqlQuery q;
            ok = const_cast<Connection &>(connection).execRead(q, query.sql, query.bound);
            while (ok && q.next()) {
                QVariantList key;
                QString line;
                key.reserve(nKeys);
                for (int i = 0; i < nKeys; ++i) {
                    const QVariant v = q.value(i);
                    key << v;
                    if (query.keysShown)
                        line += u'[' + shownInLine(columnValueText(v, query.kinds.at(i))) + u']';
                }
                if (!query.shownKinds.isEmpty()) { // a search's columns, in their display pictures
                    QStringList cells;
                    for (int i = 0; i < query.shownKinds.size(); ++i) {
                        QString text = columnValueText(q.value(nKeys + i), query.shownKinds.at(i));
                        const QString &picture = query.pictures.at(i);
                        if (!text.isEmpty() && !picture.trimmed().isEmpty())
                            text = Values::format(QVariant(text), picture);
                        cells << shownInLine(text);
                    }
                    page->keys << key;
                    page->cells << cells;
                    page->lines << QString();
                    continue;
                }
                // Without a key in the descriptor a line is only the description.
                if (query.hasDesc)
                    line += (query.keysShown ? QStringLiteral(" ") : QString())
                            + shownInLine(columnValueText(q.value(nKeys), query.descKind));
                page->keys << key;
                page->lines << line;
            }
            error = q.lastError();
            ok = ok && !error.isValid();
        });
    } catch (const DataError &e) {
        // The server stays away, or the user gave up waiting: the page fails with that error.
        error = QSqlError(e.description(), QString(), QSqlError::ConnectionError);
    }
    if (!ok) {
        page->keys.clear();
        page->lines.clear();
        page->cells.clear();
        page->failed = true;
        if (failure)
            *failure = failureText(error);
    }
    return page;
}

std::shared_ptr<RecordListModel::Page> RecordListModel::readRows(const QString &where, const QVariantList &values,
                                                                 bool descending, qint64 offset, int limit) const
{
    return runPageQuery(*m_connection, pageQuery(where, values, descending, offset, limit), &m_lastError);
}

} // namespace Norvix
