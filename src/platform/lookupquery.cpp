#include "platform/lookupquery.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <algorithm>
#include <limits>
#include <optional>

namespace Norvix {

namespace {

// How a prefix is looked up. On SQLite a text code is found through the key's index, as ranges,
// not by scanning every row with LIKE: one range for the exact code of a row or a prefix without
// letters; otherwise one per way of writing the prefix's first ASCII letters (at most four of
// them, so at most 16 ranges) in either case, which is what LIKE folds, the rest of the prefix
// still checked by LIKE. With a key of two columns the ranges would not merge in order: there
// LIKE alone serves. On PostgreSQL, whose LIKE tells letter case apart, a text code is a range
// where its texts sort byte by byte (the C collation); elsewhere LIKE serves (an application
// wanting index-backed lookups there gives the code column COLLATE "C").
// An integer code, on either back end, is found through its index too: the codes written with
// the digits typed are the ranges P, P0..P9, P00..P99 and so on, each above the one before, so
// their rows come in the key's order one range after another.
struct PrefixPlan
{
    QList<std::pair<QVariant, QVariant>> ranges; // [low, high) of the code (none: no ranges)
    bool ordered = false; // the ranges follow each other in the key's order (else merged by text)
    bool like = false;    // the prefix is also checked with LIKE
    bool none = false;    // no code can start so
};

// The least text above every text that starts with `prefix`, comparing code points (which is how
// UTF-8 bytes compare): its last code point one higher, past the surrogates; none when every
// code point is the highest (then the range has no upper end, and LIKE serves).
std::optional<QString> prefixEnd(const QString &prefix)
{
    QList<uint> points = prefix.toUcs4();
    while (!points.isEmpty() && points.constLast() >= 0x10FFFF)
        points.removeLast();
    if (points.isEmpty())
        return std::nullopt;
    uint &last = points.last();
    last = last == 0xD7FF ? 0xE000 : last + 1;
    return QString::fromUcs4(reinterpret_cast<const char32_t *>(points.constData()), points.size());
}

} // namespace

QList<std::pair<QVariant, QVariant>> caseRanges(const QString &prefix, QString *lead, bool asciiOnly)
{
    const auto cased = [asciiOnly](QChar c) { return (!asciiOnly || c.unicode() < 0x80) && c.toLower() != c.toUpper(); };
    int letters = 0;
    qsizetype m = 0;
    for (; m < prefix.size(); ++m) {
        const QChar c = prefix.at(m);
        if (cased(c) && ++letters > 4)
            break;
    }
    *lead = prefix.left(m);
    QStringList starts{QString()};
    for (const QChar c : std::as_const(*lead)) {
        QStringList next;
        const bool letter = cased(c);
        for (const QString &s : std::as_const(starts)) {
            next << s + (letter ? c.toLower() : c);
            if (letter)
                next << s + c.toUpper();
        }
        starts = next;
    }
    QList<std::pair<QVariant, QVariant>> ranges;
    for (const QString &start : std::as_const(starts)) {
        const auto end = prefixEnd(start);
        if (!end)
            return {}; // a prefix of the highest code points only
        ranges.append({QVariant(start), QVariant(*end)});
    }
    return ranges;
}

namespace {

// The ranges of the integers whose decimal digits start with `prefix` (digits only), up to
// `highest`, the highest value of the column (never a key itself, as the ranges end before it).
PrefixPlan integerPlan(const QString &prefix, qint64 highest)
{
    PrefixPlan plan;
    plan.ordered = true;
    if (prefix.startsWith(u'0')) { // only 0 itself is written with a leading zero
        if (prefix == u"0")
            plan.ranges.append({QVariant(qint64(0)), QVariant(qint64(1))});
        else
            plan.none = true;
        return plan;
    }
    bool ok = false;
    const qint64 p = prefix.toLongLong(&ok);
    if (!ok || p >= highest) { // more digits than any code has
        plan.none = true;
        return plan;
    }
    for (qint64 low = p, width = 1; low < highest;) {
        const qint64 high = low > highest - width ? highest : low + width; // the last code, highest, is never a key
        plan.ranges.append({QVariant(low), QVariant(high)});
        if (low > highest / 10 || width > highest / 10)
            break;
        low *= 10;
        width *= 10;
    }
    return plan;
}

// The highest value of an integer code: PostgreSQL's integer and smallint hold less than 64 bits
// (and refuse a range that ends past them).
qint64 highestInteger(const LookupQuery &query)
{
    const QString type = query.table->column(query.codeColumn()).declaredType.toLower();
    if (query.connection->dialect() == SqlDialect::PostgreSql && (type == u"integer" || type == u"smallint"))
        return type == u"integer" ? std::numeric_limits<qint32>::max() : std::numeric_limits<qint16>::max();
    return std::numeric_limits<qint64>::max();
}

PrefixPlan planPrefix(const LookupQuery &query, const QString &prefix, bool exactCase)
{
    PrefixPlan plan;
    if (prefix.isEmpty())
        return plan;
    const ColumnKind kind = query.table->column(query.codeColumn()).kind;
    // (With two index columns and no filter value the rows go by the filter column first.)
    if (kind == ColumnKind::Integer && (query.index.size() == 1 || (query.index.size() == 2 && query.filter))
        && std::all_of(prefix.cbegin(), prefix.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return integerPlan(prefix, highestInteger(query));
    const ColumnInfo &codeColumn = query.table->column(query.codeColumn());
    if (query.connection->dialect() == SqlDialect::PostgreSql && codeColumn.kind == ColumnKind::Text && codeColumn.bytewise) {
        if (const auto end = prefixEnd(prefix))
            plan.ranges.append({QVariant(prefix), QVariant(*end)});
        else
            plan.like = true;
        return plan;
    }
    const bool sqliteText = query.connection->dialect() == SqlDialect::Sqlite && codeColumn.kind == ColumnKind::Text;
    QString lead;
    if (sqliteText && (exactCase || prefix.toUpper() == prefix.toLower())) {
        lead = prefix;
        if (const auto end = prefixEnd(prefix))
            plan.ranges.append({QVariant(prefix), QVariant(*end)});
        else
            plan.like = true;
        if (plan.like)
            return plan;
    } else if (sqliteText && query.index.size() == 1) {
        plan.ranges = caseRanges(prefix, &lead, true);
        if (plan.ranges.isEmpty()) {
            plan.like = true;
            return plan;
        }
    }
    plan.like = lead != prefix;
    return plan;
}

QString selectSql(const LookupQuery &query, const PrefixPlan &plan, int limit)
{
    const TableInfo &table = *query.table;
    const QString code = quoteIdentifier(table.column(query.codeColumn()).name);
    QString sql = QStringLiteral("SELECT ") + lookupColumns(query, QString());
    sql += QStringLiteral(" FROM ") + quoteIdentifier(table.name);
    QStringList where;
    if (query.filter)
        where << quoteIdentifier(table.column(query.filterColumn()).name) + QStringLiteral(" = ?");
    if (!plan.ranges.isEmpty())
        where << QStringLiteral("%1 >= ? AND %1 < ?").arg(code);
    if (plan.like)
        where << QStringLiteral("CAST(%1 AS TEXT) LIKE ? ESCAPE '!'").arg(code);
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    QStringList order;
    for (const QString &k : query.index)
        order << quoteIdentifier(table.column(k).name);
    return sql + QStringLiteral(" ORDER BY ") + order.join(QStringLiteral(", ")) + QStringLiteral(" LIMIT %1").arg(limit);
}

} // namespace

QString lookupColumns(const LookupQuery &query, const QString &alias)
{
    const TableInfo &table = *query.table;
    const QString prefix = alias.isEmpty() ? QString() : alias + u'.';
    QString sql = prefix + quoteIdentifier(table.column(query.codeColumn()).name);
    for (const QString &column : query.descColumns)
        if (table.indexOf(column) >= 0)
            sql += QStringLiteral(", ") + prefix + quoteIdentifier(table.column(column).name);
    return sql;
}

LookupRow lookupRowOf(const QSqlQuery &q)
{
    const QString value = q.value(0).toString();
    QStringList description;
    for (int i = 1; i < q.record().count(); ++i)
        if (const QString part = q.value(i).toString().trimmed(); !part.isEmpty())
            description << part;
    LookupRow row{value, description.join(u' '), QString()};
    row.item = QStringLiteral("[%1] %2").arg(value.trimmed(), row.description);
    return row;
}

QStringList lookupItems(const LookupQuery &query, int limit, const QString &prefix, bool exactCase)
{
    QStringList items;
    for (const LookupRow &row : lookupRows(query, limit, prefix, exactCase))
        items << row.item;
    return items;
}

QList<LookupRow> lookupRows(const LookupQuery &query, int limit, const QString &prefix, bool exactCase)
{
    const PrefixPlan plan = planPrefix(query, prefix, exactCase);
    if (plan.none)
        return {};
    QList<LookupRow> rows;
    const QList<std::pair<QVariant, QVariant>> runs = plan.ranges.isEmpty() ? QList<std::pair<QVariant, QVariant>>{{}} : plan.ranges;
    query.connection->call([&] {
        QSqlQuery q(query.connection->database());
        q.setForwardOnly(true);
        if (!q.prepare(selectSql(query, plan, limit)))
            throw DataError(DataError::Generic, q.lastError().text());
        for (const auto &[low, high] : runs) {
            if (plan.ordered && rows.size() >= limit)
                break; // the later ranges hold only codes after these
            if (query.filter)
                q.addBindValue(query.filter->toString().isNull() ? QVariant(QString(QLatin1String(""))) : *query.filter);
            if (!plan.ranges.isEmpty()) {
                q.addBindValue(low);
                q.addBindValue(high);
            }
            if (plan.like) {
                QString pattern = prefix;
                pattern.replace(u'!', QStringLiteral("!!")).replace(u'%', QStringLiteral("!%")).replace(u'_', QStringLiteral("!_"));
                q.addBindValue(pattern + u'%');
            }
            if (!execPatiently(q))
                throw DataError(DataError::Generic, q.lastError().text());
            while (q.next())
                rows.append(lookupRowOf(q));
            q.finish();
        }
    });
    if (runs.size() > 1 && !plan.ordered)
        std::sort(rows.begin(), rows.end(), [](const LookupRow &a, const LookupRow &b) { return a.code.toUtf8() < b.code.toUtf8(); });
    if (rows.size() > limit)
        rows.resize(limit);
    return rows;
}

} // namespace Norvix
