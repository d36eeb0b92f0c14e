#include "editor/listqueries.h"

#include "editor/columntext.h"
#include "platform/language.h"
#include "platform/waiting.h"

#include <QRegularExpression>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>

#include <algorithm>

namespace Norvix {

void ListPage::reverse()
{
    std::reverse(keys.begin(), keys.end());
    std::reverse(lines.begin(), lines.end());
    std::reverse(cells.begin(), cells.end());
}

void ListPage::append(const ListPage &other)
{
    keys << other.keys;
    lines << other.lines;
    cells << other.cells;
}

std::shared_ptr<ListPage> ListPage::slice(int first, int count) const
{
    auto out = std::make_shared<ListPage>();
    out->keys = keys.mid(first, count);
    out->lines = lines.mid(first, count);
    out->cells = cells.mid(first, count);
    return out;
}

namespace {

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

std::shared_ptr<ListPage> runPageQuery(const Connection &connection, const PageQuery &query, QString *failure)
{
    auto page = std::make_shared<ListPage>();
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
                        cells << shownInLine(columnValueText(q.value(nKeys + i), query.shownKinds.at(i), query.pictures.at(i)));
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

// The rows of a table (those matching `where`, its values bound, when given); -1 when they
// cannot be counted.
qint64 rowsIn(const Connection &connection, const QString &table, const QString &where, const QVariantList &values)
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

ListQueries::ListQueries(std::shared_ptr<Connection> connection, const QString &table, const QStringList &keyColumns,
                         const QString &descColumn)
    : m_connection(std::move(connection))
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

ListQueries::ListQueries(std::shared_ptr<Connection> connection, const QString &table, const QStringList &keyColumns,
                         ListFilter filter)
    : ListQueries(std::move(connection), table, keyColumns, QString())
{
    m_search = true;
    m_filter = std::move(filter);
    for (const ListFilter::Column &c : std::as_const(m_filter.columns)) {
        const ColumnInfo &column = m_table->column(c.name);
        m_shown << column.name;
        m_shownKinds << column.kind;
    }
    // Ordered by the first column shown, then the key (which alone tells rows apart).
    if (!m_filter.keyOrder && !m_shown.isEmpty() && !(m_keyColumns.size() == 1 && m_keyColumns.constFirst() == m_shown.constFirst())) {
        m_order.prepend(m_shown.constFirst());
        m_nullable.prepend(nullableColumns({m_shown.constFirst()}).constFirst());
    }
}

const QString &ListQueries::tableName() const
{
    return m_table->name;
}

QList<bool> ListQueries::nullableColumns(const QStringList &columns) const
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

QStringList ListQueries::keyExpressions() const
{
    QStringList expressions;
    for (int i = 0; i < m_order.size(); ++i) // rowid / ctid: not columns, never quoted
        expressions << (m_natural && i == prefixCount() ? m_order[i] : quoteIdentifier(m_order[i]));
    return expressions;
}

QString ListQueries::keyCondition(const QVariantList &key, bool after, QVariantList &values, bool inclusive) const
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

QString ListQueries::keyEquals(const QVariantList &key, QVariantList &values) const
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

PageQuery ListQueries::pageQuery(const QString &where, const QVariantList &values, bool descending, qint64 offset, int limit, bool filtered) const
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

QString ListQueries::rowsBefore(const QVariantList &order, QVariantList &values, bool from) const
{
    values = m_filter.values;
    const QString filter = m_filter.where.isEmpty() ? QString() : QStringLiteral("(%1) AND ").arg(m_filter.where);
    return filter + keyCondition(order, from, values, from);
}

QVariantList ListQueries::orderOf(const QVariantList &key) const
{
    if (prefixCount() == 0 || key.size() != m_keyColumns.size())
        return key;
    const auto row = storedRow(key);
    return row ? row->keys.constFirst() : QVariantList();
}

std::shared_ptr<ListPage> ListQueries::storedRow(const QVariantList &key) const
{
    QVariantList values;
    const QString where = keyEquals(key, values);
    auto row = runPageQuery(*m_connection, pageQuery(where, values, false, -1, 1, false), &m_lastError);
    if (row->failed || row->size() != 1)
        return nullptr;
    return row;
}

qint64 ListQueries::estimateRows() const
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

std::shared_ptr<ListPage> ListQueries::read(const PageQuery &query) const
{
    auto page = runPageQuery(*m_connection, query, &m_lastError);
    if (query.reverse)
        page->reverse();
    return page;
}

std::shared_ptr<ListPage> ListQueries::readRows(const QString &where, const QVariantList &values, bool descending,
                                               qint64 offset, int limit) const
{
    return runPageQuery(*m_connection, pageQuery(where, values, descending, offset, limit), &m_lastError);
}

std::shared_ptr<ListPage> ListQueries::pageAround(int before, const QVariantList &key) const
{
    std::shared_ptr<ListPage> page;
    if (before > 0) {
        QVariantList values;
        const QString where = keyCondition(key, false, values);
        page = readRows(where, values, true, -1, before);
        if (page->failed || page->size() != before)
            return nullptr; // the table changed meanwhile: read the page by position
        page->reverse();
    } else {
        page = std::make_shared<ListPage>();
    }
    QVariantList values;
    const QString where = keyCondition(key, true, values, true);
    const auto rest = readRows(where, values, false, -1, ListPage::kSize - before);
    if (rest->failed)
        return nullptr;
    page->append(*rest);
    return page;
}

bool ListQueries::canGuess() const
{
    if (m_search || m_keyColumns.size() != 1 || m_nullable.value(0))
        return false;
    return m_natural ? m_connection->dialect() == SqlDialect::Sqlite
                     : m_table->column(m_keyColumns[0]).kind == ColumnKind::Integer;
}

QString ListQueries::guessedFrom(qint64 at, qint64 rows, int generation, QVariantList &values) const
{
    // The positions spread evenly between the lowest and the highest key. (Each end in a query of
    // its own: SQLite walks the whole table for both in one.)
    if (m_keySpanGeneration != generation) {
        m_keySpanGeneration = generation;
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
        return QString();
    const auto [low, high] = *m_keySpan;
    const qint64 key = low + qint64(double(high - low) * double(at) / double(rows - 1));
    return keyCondition({key}, true, values, true);
}

bool ListQueries::readAll(const Connection &reader, int chunk,
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

} // namespace Norvix
