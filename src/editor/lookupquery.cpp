#include "editor/lookupquery.h"

#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>

namespace Norvix {

namespace {

// How a prefix is looked up. On SQLite a text code is found through the key's index, as ranges,
// not by scanning every row with LIKE: one range for the exact code of a row or a prefix without
// letters; otherwise one per way of writing the prefix's first ASCII letters (at most four of
// them, so at most 16 ranges) in either case, which is what LIKE folds, the rest of the prefix
// still checked by LIKE. With a key of two columns the ranges would not merge in order: there
// LIKE alone serves.
struct PrefixPlan
{
    QStringList starts; // the ranges' lower ends (none: no ranges)
    bool like = false;  // the prefix is also checked with LIKE
};

PrefixPlan planPrefix(const LookupQuery &query, const QString &prefix, bool exactCase)
{
    PrefixPlan plan;
    if (prefix.isEmpty())
        return plan;
    const bool sqliteText = query.connection->dialect() == SqlDialect::Sqlite
                            && query.table->column(query.codeColumn()).kind == ColumnKind::Text;
    QString lead;
    if (sqliteText && (exactCase || prefix.toUpper() == prefix.toLower())) {
        plan.starts << prefix;
        lead = prefix;
    } else if (sqliteText && query.index.size() == 1) {
        int letters = 0;
        qsizetype m = 0;
        for (; m < prefix.size(); ++m) {
            const QChar c = prefix.at(m);
            if (c.unicode() < 0x80 && c.isLetter() && ++letters > 4)
                break;
        }
        lead = prefix.left(m);
        plan.starts << QString();
        for (const QChar c : std::as_const(lead)) {
            QStringList next;
            const bool asciiLetter = c.unicode() < 0x80 && c.isLetter();
            for (const QString &s : std::as_const(plan.starts)) {
                next << s + (asciiLetter ? c.toLower() : c);
                if (asciiLetter)
                    next << s + c.toUpper();
            }
            plan.starts = next;
        }
    }
    plan.like = lead != prefix;
    return plan;
}

QString selectSql(const LookupQuery &query, const PrefixPlan &plan, int limit)
{
    const TableInfo &table = *query.table;
    const QString code = quoteIdentifier(table.column(query.codeColumn()).name);
    const bool hasDesc = !query.descColumn.isEmpty() && table.indexOf(query.descColumn) >= 0;
    QString sql = QStringLiteral("SELECT %1%2 FROM %3")
                      .arg(code, hasDesc ? QStringLiteral(", ") + quoteIdentifier(table.column(query.descColumn).name) : QString(),
                           quoteIdentifier(table.name));
    QStringList where;
    if (query.filter)
        where << quoteIdentifier(table.column(query.filterColumn()).name) + QStringLiteral(" = ?");
    if (!plan.starts.isEmpty())
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

QStringList lookupItems(const LookupQuery &query, int limit, const QString &prefix, bool exactCase)
{
    const PrefixPlan plan = planPrefix(query, prefix, exactCase);
    const bool hasDesc = !query.descColumn.isEmpty() && query.table->indexOf(query.descColumn) >= 0;
    // (code as SQLite orders it, item) of every range, merged in the key's order.
    QList<std::pair<QByteArray, QString>> rows;
    const QStringList runs = plan.starts.isEmpty() ? QStringList{QString()} : plan.starts;
    query.connection->call([&] {
        QSqlQuery q(query.connection->database());
        q.setForwardOnly(true);
        if (!q.prepare(selectSql(query, plan, limit)))
            throw DataError(DataError::Generic, q.lastError().text());
        for (const QString &start : runs) {
            if (query.filter)
                q.addBindValue(query.filter->toString().isNull() ? QVariant(QString(QLatin1String(""))) : *query.filter);
            if (!plan.starts.isEmpty()) {
                q.addBindValue(start);
                q.addBindValue(start + QString::fromUcs4(U"\U0010FFFF")); // above any text that starts with it
            }
            if (plan.like) {
                QString pattern = prefix;
                pattern.replace(u'!', QStringLiteral("!!")).replace(u'%', QStringLiteral("!%")).replace(u'_', QStringLiteral("!_"));
                q.addBindValue(pattern + u'%');
            }
            if (!execPatiently(q))
                throw DataError(DataError::Generic, q.lastError().text());
            while (q.next()) {
                const QString value = q.value(0).toString();
                rows.append({value.toUtf8(), QStringLiteral("[%1] %2").arg(value.trimmed(), hasDesc ? q.value(1).toString() : QString())});
            }
            q.finish();
        }
    });
    if (runs.size() > 1) {
        std::sort(rows.begin(), rows.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
        if (rows.size() > limit)
            rows.resize(limit);
    }
    QStringList items;
    for (const auto &row : std::as_const(rows))
        items << row.second;
    return items;
}

} // namespace Norvix
