#include "tools/scaffold.h"

#include "platform/connection.h"
#include "platform/dataerror.h"
#include "platform/schema.h"

#include <QRegularExpression>

#include <functional>

namespace Norvix {

namespace {

constexpr int kFieldsPerPage = 12;

struct Lookup
{
    QString table, description, source;
};

// Whether a column's name says it names or describes its row ("name", "Title", "DESCRIZIONE").
bool namesTheRow(const QString &column)
{
    static const QRegularExpression word(QStringLiteral("name|title|nome|titolo|descr|ragione|denominazione|label"),
                                         QRegularExpression::CaseInsensitiveOption);
    return word.match(column).hasMatch();
}

// What a lookup on a table shows: a text column outside its key (`skip`), preferring one named
// like a name or a title, and among those one the database keeps unique, so that no two rows
// read alike. When the column chosen holds a value twice, a second text column follows it
// ("FirstName;LastName"). Empty when the table has no such column.
QString describing(const Connection &connection, const TableInfo &table, const QStringList &skip)
{
    QStringList texts, unique;
    for (const ColumnInfo &c : table.columns)
        if (c.kind == ColumnKind::Text && !skip.contains(c.name, Qt::CaseInsensitive) && !table.primaryKey.contains(c.name))
            texts << c.name;
    for (const QStringList &key : uniqueKeys(connection, table))
        if (key.size() == 1)
            unique << key.constFirst();
    const auto best = [&](const std::function<bool(const QString &)> &wanted) {
        const auto it = std::find_if(texts.cbegin(), texts.cend(), wanted);
        return it == texts.cend() ? QString() : *it;
    };
    QString found;
    for (const auto &wanted : std::initializer_list<std::function<bool(const QString &)>>{
             [&](const QString &c) { return namesTheRow(c) && unique.contains(c); }, namesTheRow,
             [&](const QString &c) { return unique.contains(c); }, [](const QString &) { return true; }})
        if (found = best(wanted); !found.isEmpty())
            break;
    if (found.isEmpty() || unique.contains(found) || !holdsRepeats(connection, table, found))
        return found;
    texts.removeOne(found);
    const QString second = best(namesTheRow);
    return second.isEmpty() && texts.isEmpty() ? found : found + u';' + (second.isEmpty() ? texts.constFirst() : second);
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

// The picture of a decimal: its decimals, two always shown ("0.00": 3,5 shows as 3,50), further
// ones when there are any. None for an integer number or a scale the type does not give.
QString decimalPicture(int scale)
{
    if (scale <= 0)
        return QString();
    return QStringLiteral("0.") + QString(std::min(scale, 2), u'0') + QString(std::clamp(scale - 2, 0, 10), u'#');
}

// Money (a money type, or up to 15 integer digits with 1 to 4 decimals) is a CURRENCY shown with
// two decimals, "0.00", as amounts are read; a fourth decimal stored stays stored until the user
// types over it. Other decimals are DECIMAL, shown with their own decimals where a double holds
// every digit.
FieldType decimalType(const ColumnInfo &c)
{
    const QString declared = c.declaredType.toUpper();
    const bool money = declared.contains(u"MONEY") || declared.contains(u"CURRENCY");
    const auto p = declaredPrecision(c);
    // What the user may type: every digit, a sign, and the decimal separator where there are decimals.
    const auto typed = [](int digits, int scale) { return digits + 1 + (scale > 0 ? 1 : 0); };
    const QString amount = QStringLiteral("0.00");
    if (!p) // no precision declared: money has 15 integer digits and 4 decimals; other decimals are unbounded
        return money ? FieldType{QStringLiteral("CURRENCY"), typed(19, 4), amount}
                     : FieldType{QStringLiteral("DECIMAL"), typed(29, 1)};
    const auto [precision, scale] = *p;
    if ((money || scale > 0) && scale <= 4 && precision - scale <= 15)
        return {QStringLiteral("CURRENCY"), typed(precision, scale), amount};
    // A picture formats through a double: a DECIMAL of more digits than a double holds goes without.
    return {QStringLiteral("DECIMAL"), typed(std::max(precision, 1), scale), precision <= 15 ? decimalPicture(scale) : QString()};
}

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
    case ColumnKind::Decimal: return decimalType(c);
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

// The field a table is searched by, and how: its first text column that is neither key nor
// lookup, else its first text column, else the first column of its key, else its first column.
std::pair<QString, QString> searchedBy(const TableInfo &table, const QHash<QString, Lookup> &lookups, const QStringList &described)
{
    const auto first = [&](const std::function<bool(const ColumnInfo &)> &wanted) {
        for (const ColumnInfo &c : table.columns)
            if (described.contains(c.name) && wanted(c))
                return c.name;
        return QString();
    };
    const auto text = [](const ColumnInfo &c) { return c.kind == ColumnKind::Text; };
    QString name = first([&](const ColumnInfo &c) {
        return text(c) && declaredLength(c) && !table.primaryKey.contains(c.name) && !lookups.contains(c.name.toUpper());
    });
    if (name.isEmpty())
        name = first(text);
    if (!name.isEmpty())
        return {name, QStringLiteral("LIKE")};
    name = table.primaryKey.isEmpty() ? QString() : first([&](const ColumnInfo &c) { return c.name == table.primaryKey.constFirst(); });
    if (name.isEmpty())
        name = first([](const ColumnInfo &) { return true; });
    return {name, QStringLiteral("=")};
}

// Lookups from foreign keys, by upper-cased column: a key of one column is a lookup on it; a
// composite key whose other columns another key covers is a lookup on its last column, filtered
// by the one before.
QHash<QString, Lookup> lookupsOf(const Connection &connection, const TableInfo &table)
{
    const QList<ForeignKey> keys = foreignKeys(connection, table);
    QHash<QString, Lookup> lookups;
    for (const ForeignKey &k : keys) {
        if (k.columns.isEmpty())
            continue;
        std::shared_ptr<const TableInfo> target;
        try {
            target = tableInfo(connection, k.table);
        } catch (const DataError &) {
            continue; // a key to a table that is not there
        }
        const QString description = describing(connection, *target, k.references);
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
    return lookups;
}

// CAMPO,name,caption,type,length,default,min,max,placement,file,table,description,control,format,page,source
QString fieldLine(const ColumnInfo &c, const FieldType &t, const Lookup &lookup, int page)
{
    const bool lookupField = !lookup.table.isEmpty();
    QStringList f{QStringLiteral("CAMPO"), c.name, captionOf(c.name), t.type,
                  t.length > 0 ? QString::number(t.length) : QString(), QString(), QString(), QString(), QString(),
                  QString(), lookup.table, lookupField ? lookup.description : QString(),
                  lookupField ? QStringLiteral("CMBBOUNDED") : QString(), t.format, QString::number(page), lookup.source};
    while (f.last().isEmpty())
        f.removeLast();
    return f.join(u',');
}

// A table whose foreign key references the whole primary key of another: a detail of that one.
struct Detail
{
    QString child;
    QStringList masterFields, childFields;
};

// The details of each table, by its upper-cased name: the tables among `tables` whose foreign key
// references its whole primary key, in table order. A table that refers to itself is no detail,
// nor is one without a primary key.
QHash<QString, QList<Detail>> detailsOf(const Connection &connection, const QList<std::shared_ptr<const TableInfo>> &tables)
{
    QHash<QString, const TableInfo *> byName;
    for (const auto &t : tables)
        byName.insert(t->name.toUpper(), t.get());
    const auto sameColumns = [](QStringList a, QStringList b) {
        for (QStringList *list : {&a, &b}) {
            for (QString &c : *list)
                c = c.toUpper();
            list->sort();
        }
        return a == b;
    };
    QHash<QString, QList<Detail>> details;
    for (const auto &child : tables) {
        if (child->primaryKey.isEmpty())
            continue; // its lines could not be written one by one (a partition of a table, a log)
        for (const ForeignKey &k : foreignKeys(connection, *child)) {
            const TableInfo *master = byName.value(k.table.toUpper());
            if (master && master != child.get() && !master->primaryKey.isEmpty() && sameColumns(k.references, master->primaryKey))
                details[k.table.toUpper()] << Detail{child->name, k.references, k.columns};
        }
    }
    return details;
}

QStringList recordLines(const Connection &connection, const TableInfo &table, const QList<Detail> &details)
{
    const QHash<QString, Lookup> lookups = lookupsOf(connection, table);
    QStringList fields, described, skipped;
    for (const ColumnInfo &c : table.columns) {
        FieldType t = fieldType(c);
        if (t.type.isEmpty()) {
            skipped << c.name;
            continue;
        }
        if (table.primaryKey.contains(c.name) && c.assigned) // the database numbers the key
            t = FieldType{QStringLiteral("AUTOINC"), 11};
        fields << fieldLine(c, t, lookups.value(c.name.toUpper()), int(fields.size()) / kFieldsPerPage + 1);
        described << c.name;
    }
    const int pages = std::max(1, (int(fields.size()) + kFieldsPerPage - 1) / kFieldsPerPage);
    QStringList pageNames{QStringLiteral("Generale")};
    for (int p = 2; p <= pages; ++p)
        pageNames << QStringLiteral("Pagina %1").arg(p);
    QStringList detailLines; // each on a page of its own, after the fields' pages
    for (const Detail &d : details) {
        pageNames << captionOf(d.child);
        detailLines << QStringLiteral("DETTAGLIO,%1,%2,%3,%4,%5,%6")
                           .arg(detailLines.size() + 1)
                           .arg(d.child, captionOf(d.child))
                           .arg(pageNames.size())
                           .arg(d.masterFields.join(u';'), d.childFields.join(u';'));
    }
    const auto [searched, how] = searchedBy(table, lookups, described);

    QStringList lines{QStringLiteral("RECORD,%1,%2,%3,%4").arg(table.name, captionOf(table.name),
                                                              searched.isEmpty() ? QString() : QStringLiteral("1"),
                                                              pageNames.join(u','))};
    for (const QString &s : std::as_const(skipped))
        lines << QStringLiteral("' %1: colonna binaria, non descritta").arg(s);
    lines << fields;
    if (!searched.isEmpty()) {
        QStringList shown{searched};
        for (const QString &k : table.primaryKey)
            if (!shown.contains(k) && described.contains(k))
                shown << k;
        lines << QStringLiteral("RICERCA,1,MOSTRA,Per %1,%2").arg(captionOf(searched).toLower(), shown.join(u','))
              << QStringLiteral("RICERCA,1,SELEZIONE,%1,,%2").arg(searched, how);
    }
    lines << detailLines; // before the index, where the reading ends
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
    // Words start at an underscore or a blank, where a lower-case letter or a digit is followed by
    // an upper-case one (InvoiceLineId), and at the last capital of a run that a lower-case letter
    // follows (HTMLPage: HTML Page). A name all in one case keeps its words as they are.
    QString text;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const QChar c = name.at(i);
        const QChar before = i > 0 ? name.at(i - 1) : QChar();
        const QChar after = i + 1 < name.size() ? name.at(i + 1) : QChar();
        if (c.isUpper() && ((before.isLower() || before.isDigit()) || (before.isUpper() && after.isLower())))
            text += u' ';
        text += c == u'_' ? QChar(u' ') : c;
    }
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
    QList<std::shared_ptr<const TableInfo>> infos;
    for (const QString &name : tables.isEmpty() ? tableNames(connection) : tables)
        infos << tableInfo(connection, name);
    const QHash<QString, QList<Detail>> details = detailsOf(connection, infos);
    for (const auto &info : std::as_const(infos))
        lines << recordLines(connection, *info, details.value(info->name.toUpper()));
    return lines;
}

} // namespace Norvix
