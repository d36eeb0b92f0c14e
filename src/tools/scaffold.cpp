#include "tools/scaffold.h"

#include "platform/connection.h"
#include "platform/schema.h"

namespace Norvix {

namespace {

constexpr int kFieldsPerPage = 12;

struct Lookup
{
    QString table, description, source;
};

// The first text column of a table that is not one of `skip`: what a lookup on it shows.
QString firstText(const TableInfo &table, const QStringList &skip)
{
    for (const ColumnInfo &c : table.columns)
        if (c.kind == ColumnKind::Text && !skip.contains(c.name, Qt::CaseInsensitive))
            return c.name;
    return QString();
}

// What a column is in a descriptor: its type and length (and a display picture for a date and
// time); empty type when no descriptor type holds it.
struct FieldType
{
    FieldType(QString t = {}, int l = 0, QString f = {}) : type(std::move(t)), length(l), format(std::move(f)) {}
    QString type;
    int length = 0;
    QString format;
};

FieldType fieldType(const ColumnInfo &c)
{
    const QString declared = c.declaredType.toUpper();
    switch (c.kind) {
    case ColumnKind::Text: {
        const auto length = declaredLength(c);
        if (!length)
            return {QStringLiteral("MEMO")};
        return {QStringLiteral("TEXT"), *length};
    }
    case ColumnKind::Integer:
        if (declared.contains(u"SMALLINT") || declared.contains(u"INT2") || declared.contains(u"TINYINT"))
            return {QStringLiteral("INTEGER"), 6};
        return {QStringLiteral("LONG"), 11};
    case ColumnKind::Decimal: {
        const auto p = declaredPrecision(c);
        if (p && p->second <= 4 && p->first <= 19)
            return {QStringLiteral("CURRENCY"), p->first + 2};
        return {QStringLiteral("DECIMAL"), p ? p->first + 2 : 20};
    }
    case ColumnKind::Double: return {QStringLiteral("DOUBLE"), 15};
    case ColumnKind::Boolean: return {QStringLiteral("BOOLEAN")};
    case ColumnKind::Date: return {QStringLiteral("DATE")};
    case ColumnKind::DateTime: return {QStringLiteral("DATE"), 16, QStringLiteral("\"dd/mm/yyyy hh:nn\"")};
    case ColumnKind::Time: return {QStringLiteral("DATE"), 0, QStringLiteral("\"hh:nn\"")};
    case ColumnKind::Blob: return {};
    case ColumnKind::Other: return {QStringLiteral("TEXT"), 255};
    }
    return {};
}

QStringList recordLines(const Connection &connection, const TableInfo &table)
{
    // Lookups from foreign keys: a key of one column is a lookup on it; a composite key whose
    // other columns another key covers is a lookup on its last column, filtered by the one before.
    const QList<ForeignKey> keys = foreignKeys(connection, table);
    QHash<QString, Lookup> lookups; // by upper-cased column
    for (const ForeignKey &k : keys) {
        if (k.columns.isEmpty())
            continue;
        std::shared_ptr<const TableInfo> target;
        try {
            target = tableInfo(connection, k.table);
        } catch (const DataError &) {
            continue; // a key to a table that is not there
        }
        const QString description = firstText(*target, k.references);
        if (k.columns.size() == 1) {
            lookups.insert(k.columns.constFirst().toUpper(), Lookup{target->name, description, QString()});
            continue;
        }
        const QStringList leading = k.columns.mid(0, k.columns.size() - 1);
        const bool extends = std::any_of(keys.cbegin(), keys.cend(), [&](const ForeignKey &o) {
            return o.columns.size() == leading.size() && &o != &k
                   && std::all_of(leading.cbegin(), leading.cend(), [&](const QString &c) { return o.columns.contains(c); });
        });
        if (extends)
            lookups.insert(k.columns.constLast().toUpper(), Lookup{target->name, description, leading.constLast()});
    }

    QStringList fields;
    QStringList skipped;
    QString searched;
    for (const ColumnInfo &c : table.columns) {
        const FieldType t = fieldType(c);
        if (t.type.isEmpty()) {
            skipped << c.name;
            continue;
        }
        const int page = int(fields.size()) / kFieldsPerPage + 1;
        const Lookup lookup = lookups.value(c.name.toUpper());
        // CAMPO,name,caption,type,length,default,min,max,placement,file,table,description,control,format,page,source
        QStringList f{QStringLiteral("CAMPO"), c.name, captionOf(c.name), t.type,
                      t.length > 0 ? QString::number(t.length) : QString(), QString(), QString(), QString(), QString(),
                      QString(), lookup.table, lookup.table.isEmpty() ? QString() : lookup.description,
                      lookup.table.isEmpty() ? QString() : QStringLiteral("CMBBOUNDED"), t.format, QString::number(page),
                      lookup.source};
        while (f.last().isEmpty())
            f.removeLast();
        fields << f.join(u',');
        if (searched.isEmpty() && c.kind == ColumnKind::Text && t.type == u"TEXT" && lookup.table.isEmpty()
            && !table.primaryKey.contains(c.name))
            searched = c.name;
    }
    const int pages = std::max(1, (int(fields.size()) + kFieldsPerPage - 1) / kFieldsPerPage);
    QStringList pageNames{QStringLiteral("Generale")};
    for (int p = 2; p <= pages; ++p)
        pageNames << QStringLiteral("Pagina %1").arg(p);

    QStringList lines{QStringLiteral("RECORD,%1,%2,%3,%4").arg(table.name, captionOf(table.name),
                                                              searched.isEmpty() ? QString() : QStringLiteral("1"),
                                                              pageNames.join(u','))};
    for (const QString &s : std::as_const(skipped))
        lines << QStringLiteral("' %1: colonna binaria, non descritta").arg(s);
    lines << fields;
    if (!searched.isEmpty()) {
        QStringList shown{searched};
        shown << table.primaryKey;
        lines << QStringLiteral("RICERCA,1,MOSTRA,Per %1,%2").arg(captionOf(searched).toLower(), shown.join(u','))
              << QStringLiteral("RICERCA,1,SELEZIONE,%1,,LIKE").arg(searched);
    }
    QStringList key = table.primaryKey;
    if (key.isEmpty()) // the first unique index keeps rows apart as well
        if (const auto unique = uniqueKeys(connection, table); !unique.isEmpty())
            key = unique.constFirst();
    if (!key.isEmpty()) {
        for (QString &k : key)
            k.prepend(u'+');
        lines << QStringLiteral("INDICE,PrimaryKey,%1,-1,-1").arg(key.join(u';'));
    }
    return lines;
}

} // namespace

QString captionOf(const QString &name)
{
    QString text = name;
    text.replace(u'_', u' ');
    text = text.simplified().toLower();
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    // A comma would split the descriptor line.
    text.replace(u',', u' ');
    return text;
}

QStringList scaffoldDescriptors(const Connection &connection, const QStringList &tables)
{
    QStringList lines{QStringLiteral("' Descrittori generati dal database: da rivedere (didascalie, pagine, ricerche)")};
    for (const QString &name : tables.isEmpty() ? tableNames(connection) : tables)
        lines << recordLines(connection, *tableInfo(connection, name));
    return lines;
}

} // namespace Norvix
