#include "platform/sqlnames.h"

#include <QHash>
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

std::shared_ptr<const TableInfo> readTable(const Connection &connection, const QString &table)
{
    QSqlDatabase db = connection.database();
    QString real;
    for (const QString &t : db.tables(QSql::AllTables)) {
        if (t.compare(table, Qt::CaseInsensitive) == 0) {
            real = t;
            if (t == table)
                break; // an exact match wins over one that differs only in case
        }
    }
    if (real.isEmpty())
        badName(QStringLiteral("Tabella %1 non trovata nel database").arg(table));

    auto info = std::make_shared<TableInfo>();
    info->name = real;
    if (connection.dialect() == SqlDialect::Sqlite) {
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("PRAGMA table_info(%1)").arg(quoteIdentifier(real))))
            badName(QStringLiteral("Impossibile leggere le colonne della tabella %1: %2").arg(real, q.lastError().text()));
        QMap<int, QString> pk;
        while (q.next()) {
            const QString decl = q.value(2).toString();
            info->columns.append(ColumnInfo{q.value(1).toString(), sqliteColumnKind(decl), decl});
            if (q.value(5).toInt() > 0)
                pk.insert(q.value(5).toInt(), q.value(1).toString());
        }
        info->primaryKey = pk.values();
    } else {
        const QSqlRecord rec = db.record(real);
        for (int i = 0; i < rec.count(); ++i) {
            const QSqlField f = rec.field(i);
            info->columns.append(ColumnInfo{f.name(), kindOf(f), QString::fromLatin1(f.metaType().name())});
        }
        const QSqlIndex pk = db.primaryIndex(real);
        for (int i = 0; i < pk.count(); ++i)
            info->primaryKey.append(pk.fieldName(i));
    }
    if (info->columns.isEmpty())
        badName(QStringLiteral("La tabella %1 non ha colonne leggibili").arg(real));
    return info;
}

} // namespace

QString quoteIdentifier(const QString &name)
{
    if (name.isEmpty() || name.contains(QChar(0)))
        badName(QStringLiteral("Nome non valido per una tabella o una colonna: \"%1\"").arg(QString(name).remove(QChar(0))));
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

const ColumnInfo &TableInfo::column(const QString &name) const
{
    const int i = indexOf(name);
    if (i < 0)
        badName(QStringLiteral("Colonna %1 non trovata nella tabella %2").arg(name, this->name));
    return columns[i];
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
    auto info = readTable(connection, table);
    connection.cacheTable(table, info);
    return info;
}

} // namespace Norvix
