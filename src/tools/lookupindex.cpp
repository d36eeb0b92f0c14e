#include "tools/lookupindex.h"

#include "descriptor/descriptor.h"
#include "descriptor/dsctext.h"
#include "platform/dataerror.h"
#include "platform/language.h"

namespace Norvix {

QList<LookupSearch> lookupSearches(Connection &connection, Rec &rec, bool all)
{
    QList<LookupSearch> found;
    QStringList seen;
    // Not owned: the queries live only as long as this call.
    const std::shared_ptr<Connection> shared(std::shared_ptr<Connection>(), &connection);
    for (const auto &c : *rec.Campi()) {
        if (c->RecRif().isEmpty() || !c->FileRif().isEmpty())
            continue;
        LookupQuery query;
        query.connection = shared;
        try {
            query.table = tableInfo(connection, c->RecRif());
        } catch (const DataError &e) {
            if (e.number() != DataError::BadIdentifier)
                throw;
            continue;
        }
        query.index = query.table->firstIndex;
        LookupSearch search{rec.Nome(), c->Nome(), {}, false, {}};
        for (const QString &column :
             descriptionColumns(c->FieldRif().toString(), [&](const QString &n) { return query.table->indexOf(n) >= 0; }))
            if (query.table->indexOf(column) >= 0)
                search.descColumns << query.table->column(column).name;
        const QString key = query.table->name + u'\n' + search.descColumns.join(u'\n');
        if (query.index.isEmpty() || search.descColumns.isEmpty() || seen.contains(key))
            continue;
        seen << key;
        query.descColumns = search.descColumns;
        search.large = lookupRows(query, kLargeLookupRows + 1).size() > kLargeLookupRows;
        if (!search.large && !all)
            continue;
        search.index = lookupIndex(connection, query);
        found << search;
    }
    return found;
}

QList<LookupSearch> lookupSearches(Connection &connection, const QStringList &lines, const QString &source,
                                   const QStringList &records, bool all, QStringList *missing)
{
    QStringList names;
    for (const QString &line : lines)
        if (dscKeyword(line) == DscKeyword::Record)
            if (const QString name = line.section(u',', 1, 1).trimmed(); !names.contains(name, Qt::CaseInsensitive))
                names << name;
    for (const QString &r : records)
        if (!names.contains(r, Qt::CaseInsensitive))
            *missing << r;
    QList<LookupSearch> found;
    QStringList made;
    for (const QString &name : std::as_const(names)) {
        if (!records.isEmpty() && !records.contains(name, Qt::CaseInsensitive))
            continue;
        Rec rec;
        ListLineSource lineSource(lines);
        readDsc(lineSource, name, rec, source);
        for (const LookupSearch &s : lookupSearches(connection, rec, all))
            if (!made.contains(s.index.name)) {
                made << s.index.name;
                found << s;
            }
    }
    return found;
}

QString whyNoIndex(const LookupIndex &index)
{
    if (index.missing == u"FTS5")
        return nxTr("SQLite è senza FTS5");
    if (index.missing == u"pg_trgm")
        return nxTr("manca l'estensione pg_trgm");
    return nxTr("solo SQLite e PostgreSQL lo hanno");
}

} // namespace Norvix
