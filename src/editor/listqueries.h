#pragma once

// The queries of the record list: which rows, in which order, and the SQL that reads a page of
// them from a position or from a key (before or after it), counts them, or finds one row. Each
// page is one finished query (no statement stays open between pages).

#include "platform/connection.h"
#include "platform/sqlnames.h"

#include <QList>
#include <QStringList>
#include <QVariantList>

#include <functional>
#include <memory>
#include <optional>

namespace Norvix {

// The rows of a search: those matching `where` (SQL over the table's columns, `values` bound to
// its "?"), shown as columns, ordered by the first column and then the key.
struct ListFilter
{
    struct Column
    {
        QString name;    // as the descriptor spells it
        QString caption; // the header's text
        QString picture; // the display picture, may be empty
    };
    QString where;
    QVariantList values;
    QList<Column> columns;
    bool keyOrder = false; // ordered by the key alone (a detail's lines), not by the first column
};

// Rows of the list as read: their order values and their lines (or a search's cells).
struct ListPage
{
    static constexpr int kSize = 100; // rows per page
    QList<QVariantList> keys; // the order's values of each row
    QStringList lines;
    QList<QStringList> cells; // a search's columns
    bool failed = false; // its query failed: shown empty, never used as a boundary
    bool skipped = false; // a read given up as stale (never kept)
    bool guessed = false; // read from a key guessed for its position, until the read by position comes
    int size() const { return int(lines.size()); }
    // Rows read in descending key order, put back in the list's order.
    void reverse();
    // The rows of `other` after these (every column of a row: keys, lines, a search's cells).
    void append(const ListPage &other);
    // `count` rows from `first` on, as a page of their own.
    std::shared_ptr<ListPage> slice(int first, int count) const;
};

// One page query: at most `limit` rows matching `where` (bound `values`), in key order or in
// reverse, skipping `offset` rows first; with what it takes to make their lines.
struct PageQuery
{
    QString sql;
    QVariantList bound;
    qint64 skip = 0;             // rows the database walks past first
    bool reverse = false;        // rows come in descending key order
    QList<ColumnKind> kinds;     // of the key columns
    bool keysShown = true;
    bool hasDesc = false;
    ColumnKind descKind = ColumnKind::Other;
    int orderCount = 0;          // leading columns: the order (the key after a search's first column)
    QList<ColumnKind> shownKinds; // a search's columns after them, with their pictures
    QStringList pictures;
};

// Runs a page query on `connection` (a list's or a reader's of its own); a failed one gives a
// failed page and its error in `failure` (when not null). The rows come as the query orders them.
std::shared_ptr<ListPage> runPageQuery(const Connection &connection, const PageQuery &query, QString *failure);

// The rows of a table (those matching `where`, its values bound, when given); -1 when they
// cannot be counted.
qint64 rowsIn(const Connection &connection, const QString &table, const QString &where = QString(),
              const QVariantList &values = {});

class ListQueries
{
public:
    // `keyColumns` order the rows and identify each one (the descriptor's primary index; when
    // empty, the table's own primary key or natural order, and a line shows no key); `descColumn`
    // (may be empty) gives the text after the keys. Names are checked against the table (DataError on a bad one).
    ListQueries(std::shared_ptr<Connection> connection, const QString &table, const QStringList &keyColumns,
                const QString &descColumn);
    // The rows of a search, ordered by its first column, then the key.
    ListQueries(std::shared_ptr<Connection> connection, const QString &table, const QStringList &keyColumns,
                ListFilter filter);

    Connection &connection() const { return *m_connection; }
    const QString &tableName() const;
    bool isSearch() const { return m_search; }
    const ListFilter &filter() const { return m_filter; }
    int columnCount() const { return m_search ? int(m_shown.size()) : 1; }
    int keyCount() const { return int(m_keyColumns.size()); }
    int orderCount() const { return int(m_order.size()); }
    // Leading order columns before the key (a search's first column).
    int prefixCount() const { return int(m_order.size() - m_keyColumns.size()); }
    // The column that a typed prefix looks for: a search's first column, or the description.
    QString lookColumn() const { return m_search ? m_shown.value(0) : m_descColumn; }
    // The driver's text of the last failed query run on the list's connection.
    const QString &lastError() const { return m_lastError; }

    // `filtered`: a search's condition too.
    PageQuery pageQuery(const QString &where, const QVariantList &values, bool descending, qint64 offset,
                        int limit = ListPage::kSize, bool filtered = true) const;
    // The rows after (or before) `key` in the list's order, as SQL whose values are appended to
    // `values`; `inclusive` takes the row with that key too.
    QString keyCondition(const QVariantList &key, bool after, QVariantList &values, bool inclusive = false) const;
    // The rows before the one with these order values (a search's too), as SQL whose values go
    // to `values`.
    // `from`: the rows from that one (itself, or where it would stand) to the end instead.
    QString rowsBefore(const QVariantList &order, QVariantList &values, bool from = false) const;
    // The order values of the row with this key (a search's first column comes first), empty
    // when there is no such row.
    QVariantList orderOf(const QVariantList &key) const;
    // The row with this key as stored (a search's columns): nullptr when it is gone.
    std::shared_ptr<ListPage> storedRow(const QVariantList &key) const;
    // The rows the database guesses the table holds (-1: no guess), read from its statistics in
    // no time: until the count comes in, a list whose first page is full shows as many lines.
    qint64 estimateRows() const;

    // Runs a page query on the list's connection, its rows put in the list's order.
    std::shared_ptr<ListPage> read(const PageQuery &query) const;
    // The rows of pageQuery(...) on the list's connection, as the query orders them.
    std::shared_ptr<ListPage> readRows(const QString &where, const QVariantList &values, bool descending,
                                       qint64 offset, int limit = ListPage::kSize) const;
    // The page that holds `before` rows ahead of the row whose order values are `key`, then that
    // row and those after it: nullptr when the table changed meanwhile.
    std::shared_ptr<ListPage> pageAround(int before, const QVariantList &key) const;
    // A key of one integer column allows guessing the row at a position from the lowest and the
    // highest key.
    bool canGuess() const;
    // The rows from the one guessed to stand at line `at` of `rows`, as SQL whose values go to
    // `values`; empty when there is no guess. The two ends are read once per `generation`.
    QString guessedFrom(qint64 at, qint64 rows, int generation, QVariantList &values) const;
    // A search's rows, all of them in its order, read on `reader` `chunk` at a time (see
    // RecordListModel::readAll).
    bool readAll(const Connection &reader, int chunk, const std::function<bool(const QList<QStringList> &)> &take,
                 QString *failure) const;

private:
    // Which of `columns` may hold NULL.
    QList<bool> nullableColumns(const QStringList &columns) const;
    // The row with this key (the key's columns only), as SQL whose values are appended to `values`.
    QString keyEquals(const QVariantList &key, QVariantList &values) const;
    QStringList keyExpressions() const; // the order: a search's first column, then the key

    std::shared_ptr<Connection> m_connection;
    std::shared_ptr<const TableInfo> m_table;
    QStringList m_keyColumns; // as the table spells them; "rowid"/ctid when natural
    QString m_descColumn;
    bool m_natural = false;
    bool m_keysShown = true; // the descriptor named the key: its values lead each line
    // A search: its filter and columns (as the table spells them, with their kinds), and the
    // order's columns: the first shown column, then the key.
    bool m_search = false;
    ListFilter m_filter;
    QStringList m_shown;
    QList<ColumnKind> m_shownKinds;
    QStringList m_order;
    QList<bool> m_nullable;   // per order column: may hold NULL (changes how boundaries compare)
    mutable std::optional<std::pair<qint64, qint64>> m_keySpan; // lowest and highest key, for guesses
    mutable int m_keySpanGeneration = -1;
    mutable QString m_lastError;
};

} // namespace Norvix
