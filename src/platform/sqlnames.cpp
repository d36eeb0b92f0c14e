#include "platform/sqlnames.h"
#include "platform/language.h"

#include <QHash>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlField>
#include <QSqlIndex>
#include <QSqlQuery>
#include <QSqlRecord>

namespace Norvix {

namespace {

[[noreturn]] void badName(const QString &what)
{
    throw DataError(DataError::BadIdentifier, what);
}

ColumnKind kindOf(const QSqlField &field)
{
    switch (field.metaType().id()) {
    case QMetaType::Bool: return ColumnKind::Boolean;
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: return ColumnKind::Integer;
    case QMetaType::Double:
    case QMetaType::Float:
        // The PostgreSQL driver reports numeric (type 1700) as double; it holds exact decimals.
        return field.typeID() == 1700 ? ColumnKind::Decimal : ColumnKind::Double;
    case QMetaType::QDate: return ColumnKind::Date;
    case QMetaType::QDateTime: return ColumnKind::DateTime;
    case QMetaType::QTime: return ColumnKind::Time;
    case QMetaType::QByteArray: return ColumnKind::Blob;
    case QMetaType::QString: return ColumnKind::Text;
    default: return ColumnKind::Other;
    }
}

// PostgreSQL's catalog, read with bound values. The driver's own look-ups (tables(), record(),
// primaryIndex()) put a table name inside their statements as it is, lower-case it unless it is
// quoted, split it at a dot and leave out names starting with "Inv": a real table named with a
// quote, a dot or capitals would not be found, or would break the look-up.
const QString kPgRelations = QStringLiteral("c.relkind IN ('r', 'p', 'v', 'm', 'f') AND pg_catalog.pg_table_is_visible(c.oid)");

// The rows of a catalog query, each its columns joined by NUL (which no catalog name holds).
QStringList catalogRows(QSqlDatabase db, const QString &sql, const QString &table, const QString &bound = QString())
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    bool ok = q.prepare(sql);
    if (!bound.isNull())
        q.addBindValue(bound);
    if (!ok || !execPatiently(q))
        badName(nxTr("Impossibile leggere la struttura della tabella %1: %2").arg(shownInMessage(table), q.lastError().text()));
    QStringList out;
    while (q.next()) {
        QStringList row;
        for (int i = 0; i < q.record().count(); ++i)
            row << q.value(i).toString();
        out << row.join(QChar(0));
    }
    return out;
}

// The tables and views a statement can name without a schema.
QStringList postgresTables(QSqlDatabase db, const QString &table)
{
    return catalogRows(db, QStringLiteral("SELECT c.relname FROM pg_catalog.pg_class c WHERE %1").arg(kPgRelations), table);
}

// The kind of a PostgreSQL column from its type's oid, as the Qt driver reads its values.
ColumnKind postgresColumnKind(int oid)
{
    switch (oid) {
    case 16: return ColumnKind::Boolean;                   // bool
    case 20: case 21: case 23: case 26: case 24: case 28: case 29:
        return ColumnKind::Integer;                        // int8, int2, int4, oid, regproc, xid, cid
    case 1700: return ColumnKind::Decimal;                 // numeric: exact decimals
    case 700: case 701: return ColumnKind::Double;         // float4, float8
    case 1082: case 702: case 703: return ColumnKind::Date; // date, abstime, reltime
    case 1083: case 1266: return ColumnKind::Time;         // time, timetz
    case 1114: case 1184: return ColumnKind::DateTime;     // timestamp, timestamptz
    case 17: return ColumnKind::Blob;                      // bytea
    default: return ColumnKind::Text;                      // the driver reads any other type as text
    }
}

void readPostgresColumns(QSqlDatabase db, TableInfo &info)
{
    const QString columns =
        QStringLiteral("SELECT a.attname, a.atttypid::int, pg_catalog.format_type(a.atttypid, a.atttypmod), "
                       "CASE WHEN co.collname = 'default' THEN (SELECT d.datcollate FROM pg_catalog.pg_database d "
                       "WHERE d.datname = current_database()) ELSE co.collname END, "
                       "a.attidentity <> '' OR COALESCE(pg_catalog.pg_get_expr(ad.adbin, ad.adrelid) LIKE 'nextval(%', false) "
                       "FROM pg_catalog.pg_attribute a JOIN pg_catalog.pg_class c ON c.oid = a.attrelid "
                       "LEFT JOIN pg_catalog.pg_collation co ON co.oid = a.attcollation "
                       "LEFT JOIN pg_catalog.pg_attrdef ad ON ad.adrelid = a.attrelid AND ad.adnum = a.attnum "
                       "WHERE %1 AND c.relname = ? AND a.attnum > 0 AND NOT a.attisdropped ORDER BY a.attnum")
            .arg(kPgRelations);
    for (const QString &row : catalogRows(db, columns, info.name, info.name)) {
        const QStringList parts = row.split(QChar(0));
        ColumnInfo column{parts.value(0), postgresColumnKind(parts.value(1).toInt()), parts.value(2)};
        column.bytewise = parts.value(3) == u"C" || parts.value(3) == u"POSIX";
        column.assigned = parts.value(4) == u"true" || parts.value(4) == u"t";
        info.columns.append(column);
    }
    const QString key =
        QStringLiteral("SELECT a.attname FROM pg_catalog.pg_index i JOIN pg_catalog.pg_class c ON c.oid = i.indrelid "
                       "JOIN pg_catalog.pg_attribute a ON a.attrelid = i.indrelid AND a.attnum = ANY(i.indkey) "
                       "WHERE %1 AND c.relname = ? AND i.indisprimary ORDER BY array_position(i.indkey::int2[], a.attnum)")
            .arg(kPgRelations);
    info.primaryKey = catalogRows(db, key, info.name, info.name);
    if (info.primaryKey.isEmpty()) {
        // The first index made on the table (the lowest oid); one on an expression is passed over.
        const QString first =
            QStringLiteral("SELECT i.indexrelid::int, a.attname FROM pg_catalog.pg_index i "
                           "JOIN pg_catalog.pg_class c ON c.oid = i.indrelid "
                           "JOIN pg_catalog.pg_attribute a ON a.attrelid = i.indrelid AND a.attnum = ANY(i.indkey) "
                           "WHERE %1 AND c.relname = ? AND NOT (0 = ANY(i.indkey::int2[])) "
                           "ORDER BY i.indexrelid, array_position(i.indkey::int2[], a.attnum)")
                .arg(kPgRelations);
        QString index;
        for (const QString &row : catalogRows(db, first, info.name, info.name)) {
            const QStringList parts = row.split(QChar(0));
            if (!index.isEmpty() && parts.value(0) != index)
                break;
            index = parts.value(0);
            info.firstIndex << parts.value(1);
        }
    }
}

// SQLite numbers a new row's INTEGER PRIMARY KEY, its rowid, unless the table has no rowid.
void markRowidAlias(QSqlDatabase db, TableInfo &info)
{
    if (info.primaryKey.size() != 1)
        return;
    ColumnInfo &key = info.columns[info.indexOf(info.primaryKey.first())];
    if (key.declaredType.trimmed().compare(u"INTEGER", Qt::CaseInsensitive) != 0)
        return;
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT sql FROM sqlite_master WHERE type = 'table' AND name = ?"));
    q.addBindValue(info.name);
    static const QRegularExpression withoutRowid(QStringLiteral("WITHOUT\\s+ROWID\\s*;?\\s*$"),
                                                 QRegularExpression::CaseInsensitiveOption);
    key.assigned = execPatiently(q) && q.next() && !withoutRowid.match(q.value(0).toString()).hasMatch();
}

std::shared_ptr<const TableInfo> readTable(const Connection &connection, const QString &table)
{
    QSqlDatabase db = connection.database();
    const bool postgres = connection.dialect() == SqlDialect::PostgreSql;
    QString real;
    for (const QString &t : postgres ? postgresTables(db, table) : db.tables(QSql::AllTables)) {
        if (t.compare(table, Qt::CaseInsensitive) == 0) {
            real = t;
            if (t == table)
                break; // an exact match wins over one that differs only in case
        }
    }
    if (real.isEmpty())
        badName(nxTr("Tabella %1 non trovata nel database").arg(shownInMessage(table)));

    auto info = std::make_shared<TableInfo>();
    info->name = real;
    if (connection.dialect() == SqlDialect::Sqlite) {
        QSqlQuery q(db);
        if (!execTextPatiently(q, QStringLiteral("PRAGMA table_info(%1)").arg(quoteIdentifier(real))))
            badName(nxTr("Impossibile leggere le colonne della tabella %1: %2").arg(shownInMessage(real), q.lastError().text()));
        QMap<int, QString> pk;
        while (q.next()) {
            const QString decl = q.value(2).toString();
            info->columns.append(ColumnInfo{q.value(1).toString(), sqliteColumnKind(decl), decl});
            if (q.value(5).toInt() > 0)
                pk.insert(q.value(5).toInt(), q.value(1).toString());
        }
        info->primaryKey = pk.values();
        markRowidAlias(db, *info);
        if (info->primaryKey.isEmpty()) {
            // The first index made on the table (its definition comes first in the schema);
            // one on an expression has no column to name and is passed over.
            QSqlQuery list(db);
            list.prepare(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'index' AND tbl_name = ? ORDER BY rowid"));
            list.addBindValue(real);
            if (execPatiently(list)) {
                while (info->firstIndex.isEmpty() && list.next()) {
                    QSqlQuery columns(db);
                    if (!execTextPatiently(columns, QStringLiteral("PRAGMA index_info(%1)").arg(quoteIdentifier(list.value(0).toString()))))
                        continue;
                    QStringList names;
                    bool plain = true;
                    while (columns.next()) {
                        plain = plain && !columns.value(2).isNull();
                        names << columns.value(2).toString();
                    }
                    if (plain)
                        info->firstIndex = names;
                }
            }
        }
    } else if (postgres) {
        readPostgresColumns(db, *info);
    } else {
        const QSqlRecord rec = db.record(real);
        for (int i = 0; i < rec.count(); ++i) {
            const QSqlField f = rec.field(i);
            info->columns.append(ColumnInfo{f.name(), kindOf(f), QString::fromLatin1(f.metaType().name()), false, f.isAutoValue()});
        }
        const QSqlIndex pk = db.primaryIndex(real);
        for (int i = 0; i < pk.count(); ++i)
            info->primaryKey.append(pk.fieldName(i));
    }
    if (info->columns.isEmpty())
        badName(nxTr("La tabella %1 non ha colonne leggibili").arg(shownInMessage(real)));
    if (!info->primaryKey.isEmpty())
        info->firstIndex = info->primaryKey;
    return info;
}

} // namespace

QString shownInMessage(const QString &text)
{
    constexpr qsizetype kMax = 80;
    const bool cut = text.size() > kMax;
    QString shown = cut ? text.left(text.at(kMax - 1).isHighSurrogate() ? kMax - 1 : kMax) : text;
    for (QChar &c : shown) {
        if (c.unicode() < 0x20)
            c = QChar(0x2400 + c.unicode()); // the control pictures: U+2400 is the symbol for NUL
        else if (c.unicode() == 0x7F)
            c = QChar(0x2421);
    }
    return cut ? shown + QStringLiteral("...") : shown;
}

QString quoteLiteral(const QString &text)
{
    return u'\'' + QString(text).replace(u'\'', QStringLiteral("''")) + u'\'';
}

QString quoteIdentifier(const QString &name)
{
    if (name.isEmpty() || name.contains(QChar(0)))
        badName(nxTr("Nome non valido per una tabella o una colonna: \"%1\"").arg(shownInMessage(name)));
    QString quoted = name;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

int TableInfo::indexOf(const QString &column) const
{
    int found = -1;
    for (int i = 0; i < columns.size(); ++i) {
        if (columns[i].name == column)
            return i;
        if (found < 0 && columns[i].name.compare(column, Qt::CaseInsensitive) == 0)
            found = i;
    }
    return found;
}

int TableInfo::requiredIndex(const QString &column) const
{
    const int i = indexOf(column);
    if (i < 0)
        badName(nxTr("Colonna %1 non trovata nella tabella %2").arg(shownInMessage(column), name));
    return i;
}

const ColumnInfo &TableInfo::column(const QString &name) const
{
    return columns[requiredIndex(name)];
}

ColumnKind sqliteColumnKind(const QString &declaredType)
{
    const QString t = declaredType.toUpper();
    if (t.contains(u"BOOL"))
        return ColumnKind::Boolean;
    if (t.contains(u"DATETIME") || t.contains(u"TIMESTAMP"))
        return ColumnKind::DateTime;
    if (t.contains(u"DATE"))
        return ColumnKind::Date;
    if (t.contains(u"TIME"))
        return ColumnKind::Time;
    if (t.contains(u"INT"))
        return ColumnKind::Integer;
    if (t.contains(u"CHAR") || t.contains(u"CLOB") || t.contains(u"TEXT"))
        return ColumnKind::Text;
    if (t.contains(u"BLOB") || t.contains(u"BINARY"))
        return ColumnKind::Blob;
    if (t.contains(u"REAL") || t.contains(u"FLOA") || t.contains(u"DOUB"))
        return ColumnKind::Double;
    if (t.contains(u"NUMERIC") || t.contains(u"DECIMAL") || t.contains(u"MONEY") || t.contains(u"CURRENCY"))
        return ColumnKind::Decimal;
    return ColumnKind::Other;
}

std::shared_ptr<const TableInfo> tableInfo(const Connection &connection, const QString &table)
{
    if (auto cached = connection.cachedTable(table))
        return cached;
    auto info = connection.call([&] { return readTable(connection, table); });
    connection.cacheTable(table, info);
    return info;
}

} // namespace Norvix
