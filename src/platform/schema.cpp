#include "platform/schema.h"
#include "platform/language.h"

#include "platform/connection.h"
#include "platform/dataerror.h"

#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <algorithm>

namespace Norvix {

namespace {

// Rows of a catalog query (values bound), each as its texts.
QList<QStringList> rowsOf(const Connection &connection, const QString &sql, const QVariantList &values = {})
{
    return connection.call([&] {
        QSqlQuery q;
        if (!const_cast<Connection &>(connection).execRead(q, sql, values))
            throw DataError(DataError::Generic,
                            nxTr("Impossibile leggere la struttura del database: %1").arg(q.lastError().text()));
        QList<QStringList> rows;
        while (q.next()) {
            QStringList row;
            for (int i = 0; i < q.record().count(); ++i)
                row << q.value(i).toString();
            rows << row;
        }
        return rows;
    });
}

const QString kPgVisible = QStringLiteral("pg_catalog.pg_table_is_visible(c.oid)");
// The system's own schemas are always visible: the user's tables are in the others.
const QString kPgUserSchema = QStringLiteral(
    "AND n.nspname NOT IN ('pg_catalog', 'information_schema') AND n.nspname NOT LIKE 'pg\\_toast%'");

} // namespace

QStringList tableNames(const Connection &connection)
{
    QStringList names;
    const QString sql = connection.dialect() == SqlDialect::PostgreSql
                            ? QStringLiteral("SELECT c.relname FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n "
                                             "ON n.oid = c.relnamespace WHERE c.relkind IN ('r', 'p') AND ")
                                  + kPgVisible + u' ' + kPgUserSchema
                            : QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite!_%' "
                                             "ESCAPE '!'");
    if (connection.dialect() == SqlDialect::Other)
        return connection.call([&] { return connection.database().tables(QSql::Tables); });
    for (const QStringList &row : rowsOf(connection, sql))
        names << row.value(0);
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    return names;
}

bool holdsRepeats(const Connection &connection, const TableInfo &table, const QString &column)
{
    if (connection.dialect() == SqlDialect::Other || table.indexOf(column) < 0)
        return false;
    const QString name = quoteIdentifier(table.column(column).name);
    return !rowsOf(connection, QStringLiteral("SELECT 1 FROM %1 WHERE %2 IS NOT NULL GROUP BY %2 HAVING COUNT(*) > 1 LIMIT 1")
                                   .arg(quoteIdentifier(table.name), name))
                .isEmpty();
}

QList<QStringList> uniqueKeys(const Connection &connection, const TableInfo &table)
{
    QList<QStringList> keys;
    if (!table.primaryKey.isEmpty())
        keys << table.primaryKey;
    if (connection.dialect() == SqlDialect::PostgreSql) {
        const QString sql = QStringLiteral(
            "SELECT i.indexrelid::int, a.attname FROM pg_catalog.pg_index i JOIN pg_catalog.pg_class c ON c.oid = i.indrelid "
            "JOIN pg_catalog.pg_attribute a ON a.attrelid = i.indrelid AND a.attnum = ANY(i.indkey) "
            "WHERE ") + kPgVisible + QStringLiteral(" AND c.relname = ? AND i.indisunique AND NOT i.indisprimary "
            "AND i.indpred IS NULL AND NOT (0 = ANY(i.indkey::int2[])) ORDER BY i.indexrelid, array_position(i.indkey::int2[], a.attnum)");
        QString index;
        for (const QStringList &row : rowsOf(connection, sql, {table.name})) {
            if (row.value(0) != index) {
                keys << QStringList();
                index = row.value(0);
            }
            keys.last() << row.value(1);
        }
    } else if (connection.dialect() == SqlDialect::Sqlite) {
        for (const QStringList &index : rowsOf(connection, QStringLiteral("PRAGMA index_list(%1)").arg(quoteIdentifier(table.name)))) {
            // seq, name, unique, origin, partial
            if (index.value(2) != u"1" || index.value(4) == u"1")
                continue;
            QStringList columns;
            for (const QStringList &c : rowsOf(connection, QStringLiteral("PRAGMA index_info(%1)").arg(quoteIdentifier(index.value(1)))))
                columns << c.value(2);
            if (!columns.isEmpty() && !columns.contains(QString()))
                keys << columns;
        }
    }
    return keys;
}

QList<ForeignKey> foreignKeys(const Connection &connection, const TableInfo &table)
{
    QList<ForeignKey> keys;
    if (connection.dialect() == SqlDialect::PostgreSql) {
        const QString sql = QStringLiteral(
            "SELECT k.oid::int, r.relname, a.attname, b.attname FROM pg_catalog.pg_constraint k "
            "JOIN pg_catalog.pg_class c ON c.oid = k.conrelid JOIN pg_catalog.pg_class r ON r.oid = k.confrelid "
            "CROSS JOIN LATERAL unnest(k.conkey, k.confkey) WITH ORDINALITY AS u(f, t, n) "
            "JOIN pg_catalog.pg_attribute a ON a.attrelid = k.conrelid AND a.attnum = u.f "
            "JOIN pg_catalog.pg_attribute b ON b.attrelid = k.confrelid AND b.attnum = u.t "
            "WHERE k.contype = 'f' AND ") + kPgVisible + QStringLiteral(" AND c.relname = ? ORDER BY k.oid, u.n");
        QString id;
        for (const QStringList &row : rowsOf(connection, sql, {table.name})) {
            if (row.value(0) != id) {
                keys << ForeignKey{{}, row.value(1), {}};
                id = row.value(0);
            }
            keys.last().columns << row.value(2);
            keys.last().references << row.value(3);
        }
    } else if (connection.dialect() == SqlDialect::Sqlite) {
        // id, seq, table, from, to, ...; "to" is empty when the key refers to the primary key.
        QString id;
        for (const QStringList &row : rowsOf(connection, QStringLiteral("PRAGMA foreign_key_list(%1)").arg(quoteIdentifier(table.name)))) {
            if (row.value(0) != id) {
                keys << ForeignKey{{}, row.value(2), {}};
                id = row.value(0);
            }
            keys.last().columns << row.value(3);
            keys.last().references << row.value(4);
        }
        for (ForeignKey &k : keys) {
            if (k.references.contains(QString())) {
                try {
                    k.references = tableInfo(connection, k.table)->primaryKey;
                } catch (const DataError &) {
                    // a key to a missing table: its columns stay unknown
                }
            }
        }
    }
    return keys;
}

std::optional<int> declaredLength(const ColumnInfo &column)
{
    static const QRegularExpression size(QStringLiteral("\\(\\s*([0-9]+)\\s*\\)"));
    if (column.kind != ColumnKind::Text)
        return std::nullopt;
    const auto m = size.match(column.declaredType);
    return m.hasMatch() ? std::optional<int>(m.captured(1).toInt()) : std::nullopt;
}

std::optional<std::pair<int, int>> declaredPrecision(const ColumnInfo &column)
{
    static const QRegularExpression size(QStringLiteral("\\(\\s*([0-9]+)\\s*(?:,\\s*([0-9]+)\\s*)?\\)"));
    const auto m = size.match(column.declaredType);
    if (!m.hasMatch())
        return std::nullopt;
    return std::pair{m.captured(1).toInt(), m.captured(2).toInt()};
}

} // namespace Norvix
