#include "platform/lookupsearch.h"

#include "platform/dataerror.h"
#include "platform/sqlnames.h"
#include "platform/textfold.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <functional>
#include <limits>

namespace Norvix {

namespace {

constexpr int kShortestContained = 3; // the shortest word found anywhere in a description

QStringList descriptionOf(const LookupQuery &query)
{
    QStringList columns;
    for (const QString &c : query.descColumns)
        if (query.table->indexOf(c) >= 0)
            columns << query.table->column(c).name;
    return columns;
}

// The description as one text, its columns joined by a blank; `row` prefixes the column names
// ("new." in a trigger). The same expression builds the index and searches the table.
QString textExpression(const QStringList &columns, const QString &row = QString())
{
    if (columns.size() == 1)
        return QStringLiteral("CAST(%1%2 AS TEXT)").arg(row, quoteIdentifier(columns.constFirst()));
    QStringList parts;
    for (const QString &c : columns)
        parts << QStringLiteral("coalesce(CAST(%1%2 AS TEXT), '')").arg(row, quoteIdentifier(c));
    return QStringLiteral("trim(%1)").arg(parts.join(QStringLiteral(" || ' ' || ")));
}

QStringList keyColumnsOf(const LookupQuery &query)
{
    QStringList keys;
    for (const QString &k : query.index)
        keys << query.table->column(k).name;
    return keys;
}

// The names of the index's objects: the index (PostgreSQL) or the table of descriptions (SQLite),
// then with a suffix its full-text index and triggers. Names are kept short enough for any
// database (PostgreSQL cuts them at 63 bytes).
QString indexName(const QString &table, const QStringList &columns)
{
    const QString whole = QStringLiteral("norvix_cerca_%1_%2").arg(table, columns.join(u'_'));
    if (whole.toUtf8().size() <= 40)
        return whole;
    const QByteArray hash = QCryptographicHash::hash(whole.toUtf8(), QCryptographicHash::Sha1).toHex().left(8);
    return QStringLiteral("norvix_cerca_%1_%2").arg(table.left(12), QString::fromLatin1(hash));
}

QStringList sqliteStatements(const QString &name, const QString &table, const QStringList &keys, const QStringList &desc)
{
    const QString c = quoteIdentifier(name), f = quoteIdentifier(name + QStringLiteral("_fts")), t = quoteIdentifier(table);
    QStringList k, oldMatch, newKeys, keyDefs, setKeys;
    for (int i = 0; i < keys.size(); ++i) {
        k << QStringLiteral("k%1").arg(i);
        keyDefs << k.last();
        oldMatch << QStringLiteral("k%1 IS old.%2").arg(i).arg(quoteIdentifier(keys[i]));
        newKeys << QStringLiteral("new.") + quoteIdentifier(keys[i]);
        setKeys << QStringLiteral("k%1 = new.%2").arg(i).arg(quoteIdentifier(keys[i]));
    }
    QStringList watched = keys + desc;
    for (QString &w : watched)
        w = quoteIdentifier(w);
    const QString trigger = QStringLiteral("CREATE TRIGGER %1 AFTER %2 ON %3 BEGIN %4; END");
    const QString ftsInsert = QStringLiteral("INSERT INTO %1 (rowid, testo) VALUES (new.id, new.testo)").arg(f);
    const QString ftsDelete = QStringLiteral("INSERT INTO %1 (%1, rowid, testo) VALUES ('delete', old.id, old.testo)").arg(f);
    return {
        QStringLiteral("CREATE TABLE %1 (id INTEGER PRIMARY KEY, %2, testo TEXT)").arg(c, keyDefs.join(QStringLiteral(", "))),
        QStringLiteral("INSERT INTO %1 (%2, testo) SELECT %3, %4 FROM %5")
            .arg(c, k.join(QStringLiteral(", ")), QStringList(watched.mid(0, keys.size())).join(QStringLiteral(", ")),
                 textExpression(desc), t),
        QStringLiteral("CREATE INDEX %1 ON %2 (%3)").arg(quoteIdentifier(name + QStringLiteral("_chiave")), c, k.join(QStringLiteral(", "))),
        QStringLiteral("CREATE INDEX %1 ON %2 (testo)").arg(quoteIdentifier(name + QStringLiteral("_testo")), c),
        QStringLiteral("CREATE VIRTUAL TABLE %1 USING fts5(testo, content=%2, content_rowid='id', tokenize='trigram')")
            .arg(f, quoteLiteral(name)),
        QStringLiteral("INSERT INTO %1 (%1) VALUES ('rebuild')").arg(f),
        trigger.arg(quoteIdentifier(name + QStringLiteral("_ai")), QStringLiteral("INSERT"), c, ftsInsert),
        trigger.arg(quoteIdentifier(name + QStringLiteral("_ad")), QStringLiteral("DELETE"), c, ftsDelete),
        trigger.arg(quoteIdentifier(name + QStringLiteral("_au")), QStringLiteral("UPDATE"), c, ftsDelete + QStringLiteral("; ") + ftsInsert),
        trigger.arg(quoteIdentifier(name + QStringLiteral("_tu")), QStringLiteral("UPDATE OF ") + watched.join(QStringLiteral(", ")), t,
                    QStringLiteral("UPDATE %1 SET %2, testo = %3 WHERE %4")
                        .arg(c, setKeys.join(QStringLiteral(", ")), textExpression(desc, QStringLiteral("new.")),
                             oldMatch.join(QStringLiteral(" AND ")))),
        trigger.arg(quoteIdentifier(name + QStringLiteral("_td")), QStringLiteral("DELETE"), t,
                    QStringLiteral("DELETE FROM %1 WHERE %2").arg(c, oldMatch.join(QStringLiteral(" AND ")))),
        // Last: its text tells that the index is there, for these columns.
        trigger.arg(quoteIdentifier(name + QStringLiteral("_ti")), QStringLiteral("INSERT"), t,
                    QStringLiteral("INSERT INTO %1 (%2, testo) VALUES (%3, %4)")
                        .arg(c, k.join(QStringLiteral(", ")), newKeys.join(QStringLiteral(", ")),
                             textExpression(desc, QStringLiteral("new.")))),
    };
}

QString scalarText(Connection &connection, const QString &sql, const QVariantList &values)
{
    return connection.call([&] {
        QSqlQuery q(connection.database());
        if (!connection.execRead(q, sql, values))
            throw DataError(DataError::Generic, q.lastError().text());
        return q.next() ? q.value(0).toString() : QString();
    });
}

// One group of matches: a statement with its values; its rows go after those found already.
struct Group
{
    QString sql;
    QVariantList values;
};

// The rows of `groups` not in `seen`, by description then code.
QList<LookupRow> readGroups(Connection &connection, const QList<Group> &groups, const QSet<QString> &seen)
{
    QList<LookupRow> rows;
    QSet<QString> taken = seen;
    for (const Group &group : groups)
        connection.call([&] {
            QSqlQuery q(connection.database());
            if (!connection.execRead(q, group.sql, group.values))
                throw DataError(connection.interrupted() ? DataError::Cancelled : DataError::Generic, q.lastError().text());
            while (q.next())
                if (LookupRow row = lookupRowOf(q); !taken.contains(row.code)) {
                    taken.insert(row.code);
                    rows << row;
                }
        });
    std::stable_sort(rows.begin(), rows.end(), [](const LookupRow &a, const LookupRow &b) {
        return std::pair(folded(a.description), a.code) < std::pair(folded(b.description), b.code);
    });
    return rows;
}

// Adds `rows` to what was found, up to `limit`; false when some did not fit.
bool append(LookupMatches &found, QSet<QString> &seen, const QList<LookupRow> &rows, int limit)
{
    for (const LookupRow &row : rows) {
        if (found.rows.size() >= limit) {
            found.more = true;
            return false;
        }
        seen.insert(row.code);
        found.rows << row;
    }
    return true;
}

// The condition that `folded` (SQL) contains every word, with its values.
Group containsAll(const QString &folded, const QStringList &words)
{
    Group all;
    QStringList likes;
    for (const QString &w : words) {
        likes << folded + QStringLiteral(" LIKE ? ESCAPE '!'");
        all.values << foldedPattern(w, true, false);
    }
    all.sql = likes.join(QStringLiteral(" AND "));
    return all;
}

// The condition that the row is of the filter value (its column prefixed by `alias`), if any.
Group filterOf(const LookupQuery &query, const QString &alias)
{
    if (!query.filter)
        return {};
    return {QStringLiteral(" AND %1%2 = ?").arg(alias, quoteIdentifier(query.table->column(query.filterColumn()).name)),
            {*query.filter}};
}

// Of the words of three characters or more, the one that the fewest rows hold (counted up to a
// thousand in the full-text index `fts`).
QString rarestWord(Connection &connection, const QString &fts, const QStringList &words,
                   const std::function<QString(const QString &)> &phrase)
{
    QStringList candidates;
    for (const QString &w : words)
        if (w.size() >= kShortestContained && !candidates.contains(w))
            candidates << w;
    if (candidates.size() < 2)
        return candidates.value(0);
    const QString count = QStringLiteral("SELECT count(*) FROM (SELECT 1 FROM %1 WHERE %1 MATCH ? LIMIT 1000)").arg(fts);
    QString rarest;
    int fewest = std::numeric_limits<int>::max();
    for (const QString &w : std::as_const(candidates))
        if (const int n = scalarText(connection, count, {phrase(w)}).toInt(); n < fewest) {
            fewest = n;
            rarest = w;
        }
    return rarest;
}

// The description groups read through the index (SQLite).
QList<Group> indexedGroups(Connection &connection, const LookupQuery &query, const QString &name, const QString &text,
                           const QStringList &words, bool contains, int fetch)
{
    const QString c = quoteIdentifier(name), f = quoteIdentifier(name + QStringLiteral("_fts"));
    const QStringList keys = keyColumnsOf(query);
    QStringList join;
    for (int i = 0; i < keys.size(); ++i)
        join << QStringLiteral("t.%1 = c.k%2").arg(quoteIdentifier(keys[i])).arg(i);
    const QString from = QStringLiteral(" JOIN %1 t ON %2").arg(quoteIdentifier(query.table->name), join.join(QStringLiteral(" AND ")));
    const auto [filter, filterValue] = filterOf(query, QStringLiteral("t."));
    const QString folded = foldedSql(connection, QStringLiteral("c.testo"));
    const QString select = QStringLiteral("SELECT %1 FROM ").arg(lookupColumns(query, QStringLiteral("t")));
    const QString matching = QStringLiteral("%1 JOIN %2 c ON c.id = %1.rowid%3 WHERE %1 MATCH ? AND ").arg(f, c, from);
    const auto phrase = [](const QString &w) { return u'"' + QString(w).replace(u'"', QStringLiteral("\"\"")) + u'"'; };
    // Those that start with the text: a phrase of the full-text index finds them where it holds
    // three characters; shorter, the ranges of the index on the descriptions, in either case.
    QList<Group> groups;
    const QString starts = foldedPattern(text, false, false);
    if (text.size() >= kShortestContained) {
        groups << Group{select + matching + QStringLiteral("%1 LIKE ? ESCAPE '!'%2 LIMIT %3").arg(folded, filter).arg(fetch),
                        QVariantList{phrase(text), starts} + filterValue};
    } else {
        QString lead;
        for (const auto &[low, high] : caseRanges(text, &lead, false))
            groups << Group{select + QStringLiteral("%1 c%2 WHERE c.testo >= ? AND c.testo < ? AND %3 LIKE ? ESCAPE '!'%4 LIMIT %5")
                                         .arg(c, from, folded, filter)
                                         .arg(fetch),
                            QVariantList{low, high, starts} + filterValue};
    }
    if (!contains)
        return groups;
    // The full-text index finds the rows of the rarest word; the others are checked on those. (An
    // AND of every word reads the whole list of the first, which may be every row.)
    // A word without letters is first checked by SQLite's own LIKE, far quicker than folding
    // every row the index gives (and exact: no letter case to fold).
    QStringList digits;
    for (const QString &w : words)
        if (std::none_of(w.cbegin(), w.cend(), [](QChar ch) { return ch.isLetter(); }))
            digits << w;
    const Group quick = containsAll(QStringLiteral("c.testo"), digits), all = containsAll(folded, words);
    groups << Group{select + matching + (quick.sql.isEmpty() ? QString() : quick.sql + QStringLiteral(" AND ")) + all.sql + filter
                        + QStringLiteral(" LIMIT %1").arg(fetch),
                    QVariantList{phrase(rarestWord(connection, f, words, phrase))} + quick.values + all.values + filterValue};
    return groups;
}

// The description groups read from the table itself (a scan on SQLite without the index; on
// PostgreSQL the trigram index serves these very conditions when it is there).
QList<Group> plainGroups(Connection &connection, const LookupQuery &query, const QString &text, const QStringList &words,
                         bool contains, int fetch)
{
    const QString folded = foldedSql(connection, textExpression(descriptionOf(query)));
    const auto [filter, filterValue] = filterOf(query, QString());
    const QString select = QStringLiteral("SELECT %1 FROM %2 WHERE ").arg(lookupColumns(query, QString()), quoteIdentifier(query.table->name));
    QList<Group> groups{{select + folded + QStringLiteral(" LIKE ? ESCAPE '!'") + filter + QStringLiteral(" LIMIT %1").arg(fetch),
                         QVariantList{foldedPattern(text, false, false)} + filterValue}};
    if (!contains)
        return groups;
    const Group all = containsAll(folded, words);
    groups << Group{select + all.sql + filter + QStringLiteral(" LIMIT %1").arg(fetch), all.values + filterValue};
    return groups;
}

} // namespace

bool isWholeDescription(const LookupRow &row, const QString &text)
{
    return !text.trimmed().isEmpty() && folded(row.description.simplified()) == folded(text.simplified());
}

LookupMatches searchLookup(const LookupQuery &query, const QString &typed, int limit)
{
    LookupMatches found;
    QSet<QString> seen;
    const QString text = typed.simplified();
    if (text.isEmpty()) {
        found.rows = lookupRows(query, limit + 1);
        found.more = found.rows.size() > limit;
        found.rows.resize(std::min<qsizetype>(found.rows.size(), limit));
        return found;
    }
    Connection &connection = *query.connection;
    // Codes: an integer code only for digits; the code typed exactly first.
    const bool digits = std::all_of(text.cbegin(), text.cend(), [](QChar ch) { return ch.isDigit() && ch.unicode() < 0x80; });
    if (digits || query.table->column(query.codeColumn()).kind != ColumnKind::Integer) {
        QList<LookupRow> codes = lookupRows(query, limit + 1, text);
        std::stable_partition(codes.begin(), codes.end(),
                              [&](const LookupRow &row) { return row.code.trimmed().compare(text, Qt::CaseInsensitive) == 0; });
        if (!append(found, seen, codes, limit))
            return found;
    }
    if (descriptionOf(query).isEmpty())
        return found;
    const QStringList words = folded(text).split(u' ', Qt::SkipEmptyParts);
    const bool contains = std::any_of(words.cbegin(), words.cend(), [](const QString &w) { return w.size() >= kShortestContained; });
    const int fetch = limit + 1 + int(seen.size()); // rows found already may come again
    QList<Group> groups;
    if (connection.dialect() == SqlDialect::Sqlite) {
        const LookupIndex index = lookupIndex(connection, query);
        if (index.present)
            groups = indexedGroups(connection, query, index.name, text, words, contains, fetch);
    }
    if (groups.isEmpty())
        groups = plainGroups(connection, query, text, words, contains, fetch);
    // Those that start with the text (one group per range of the index), then those that contain it.
    const QList<Group> containing = contains ? QList<Group>{groups.takeLast()} : QList<Group>{};
    if (append(found, seen, readGroups(connection, groups, seen), limit))
        append(found, seen, readGroups(connection, containing, seen), limit);
    return found;
}

LookupIndex lookupIndex(Connection &connection, const LookupQuery &query)
{
    LookupIndex index;
    const QStringList desc = descriptionOf(query);
    index.table = query.table->name;
    index.name = indexName(query.table->name, desc);
    if (desc.isEmpty() || query.index.isEmpty()) {
        index.missing = QStringLiteral("no description");
        return index;
    }
    switch (connection.dialect()) {
    case SqlDialect::Sqlite: {
        index.statements = sqliteStatements(index.name, query.table->name, keyColumnsOf(query), desc);
        const QString made = scalarText(connection, QStringLiteral("SELECT sql FROM sqlite_master WHERE type = 'trigger' AND name = ?"),
                                        {index.name + QStringLiteral("_ti")});
        index.present = !made.isEmpty() && made == index.statements.constLast();
        // (Asked on every search: the build's options only when the index is not there.)
        index.possible = index.present
                         || scalarText(connection, QStringLiteral("SELECT sqlite_compileoption_used('ENABLE_FTS5')"), {}) == u"1";
        if (!index.possible)
            index.missing = QStringLiteral("FTS5");
        if (!index.present) { // made for other columns, or left in part: dropped first
            QStringList drops;
            for (const char *suffix : {"_ti", "_tu", "_td"})
                drops << QStringLiteral("DROP TRIGGER IF EXISTS %1").arg(quoteIdentifier(index.name + QLatin1String(suffix)));
            drops << QStringLiteral("DROP TABLE IF EXISTS %1").arg(quoteIdentifier(index.name + QStringLiteral("_fts")))
                  << QStringLiteral("DROP TABLE IF EXISTS %1").arg(quoteIdentifier(index.name));
            index.statements = drops + index.statements;
        }
        return index;
    }
    case SqlDialect::PostgreSql: {
        index.possible = !scalarText(connection, QStringLiteral("SELECT 1 FROM pg_catalog.pg_available_extensions WHERE name = 'pg_trgm'"), {})
                              .isEmpty();
        if (!index.possible)
            index.missing = QStringLiteral("pg_trgm");
        // The trigram index finds texts anywhere; one or two letters at the start need the other
        // (LIKE 'ab%' as a range), and so does a text code where its column does not sort byte by
        // byte. Then the planner is told about them.
        const QString table = quoteIdentifier(query.table->name), folded = foldedSql(connection, textExpression(desc));
        const ColumnInfo &code = query.table->column(query.codeColumn());
        QStringList names{index.name, index.name + QStringLiteral("_inizio")};
        index.statements = {QStringLiteral("CREATE EXTENSION IF NOT EXISTS pg_trgm"),
                            QStringLiteral("CREATE INDEX IF NOT EXISTS %1 ON %2 ((%3) text_pattern_ops)")
                                .arg(quoteIdentifier(names[1]), table, folded),
                            QStringLiteral("CREATE INDEX IF NOT EXISTS %1 ON %2 USING gin ((%3) gin_trgm_ops)")
                                .arg(quoteIdentifier(index.name), table, folded)};
        if (code.kind == ColumnKind::Text && !code.bytewise && query.index.size() == 1) {
            names << index.name + QStringLiteral("_codice");
            index.statements << QStringLiteral("CREATE INDEX IF NOT EXISTS %1 ON %2 (%3 text_pattern_ops)")
                                    .arg(quoteIdentifier(names[2]), table, quoteIdentifier(code.name));
        }
        index.statements << QStringLiteral("ANALYZE %1").arg(table);
        QStringList marks(names.size(), QStringLiteral("?"));
        index.present = scalarText(connection, QStringLiteral("SELECT count(*) FROM pg_catalog.pg_indexes WHERE indexname IN (%1)").arg(marks.join(u',')),
                                   QVariantList(names.cbegin(), names.cend()))
                            .toInt()
                        == names.size();
        return index;
    }
    case SqlDialect::Other: break;
    }
    index.missing = QStringLiteral("driver");
    return index;
}

void createLookupIndex(Connection &connection, const LookupIndex &index)
{
    connection.call([&] {
        QSqlDatabase db = connection.database();
        if (!db.transaction())
            throw DataError(DataError::Generic, db.lastError().text());
        QSqlQuery q(db);
        for (const QString &statement : index.statements) {
            if (!execTextPatiently(q, statement)) {
                const QString problem = q.lastError().text();
                db.rollback();
                throw DataError(DataError::Generic, problem + QStringLiteral(" (") + statement + u')');
            }
        }
        if (!db.commit())
            throw DataError(DataError::Generic, db.lastError().text());
    });
    connection.forgetTables();
}

} // namespace Norvix
