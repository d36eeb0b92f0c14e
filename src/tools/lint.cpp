#include "tools/lint.h"
#include "platform/language.h"
#include "tools/lookupindex.h"

#include "descriptor/descriptor.h"
#include "descriptor/dsctext.h"
#include "platform/errors.h"
#include "descriptor/fieldkind.h"
#include "platform/connection.h"
#include "platform/dataerror.h"
#include "platform/schema.h"

#include <QHash>
#include <QRegularExpression>
#include <QSqlQuery>

#include <map>
#include <memory>

namespace Norvix {

namespace {

// Where each part of a record stands in the descriptor text.
struct Section
{
    QString name;
    int line = 0;                      // of the RECORD line
    int pages = 0;                     // page names on the RECORD line
    QHash<QString, int> fields;        // CAMPO lines, by upper-cased name
    int index = 0;                     // the primary INDICE line
    QHash<QString, int> layouts;       // RICERCA MOSTRA lines, by layout number
    QList<std::pair<QString, int>> selections; // RICERCA SELEZIONE lines: layout number, line
    QHash<int, int> details;           // DETTAGLIO lines, by number
    QList<int> unreadDetails;          // DETTAGLIO lines after the primary INDICE line
};

QString fieldText(const QStringList &fields, int n) // 1-based, trimmed
{
    return fields.value(n - 1).trimmed();
}

QString layoutNumber(const QString &text)
{
    bool ok = false;
    const double n = text.trimmed().toDouble(&ok);
    return ok ? QString::number(qint64(n)) : QStringLiteral("0");
}

QList<Section> sectionsOf(const QStringList &lines)
{
    QList<Section> sections;
    for (int i = 0; i < lines.size(); ++i) {
        const QString &line = lines[i];
        const DscKeyword keyword = dscKeyword(line);
        const QStringList f = line.split(u',');
        if (keyword == DscKeyword::Record) {
            Section s;
            s.name = fieldText(f, 2);
            s.line = i + 1;
            for (int p = 5; p <= f.size(); ++p)
                s.pages += fieldText(f, p).isEmpty() ? 0 : 1;
            sections << s;
        } else if (!sections.isEmpty()) {
            Section &s = sections.last();
            if (keyword == DscKeyword::Campo && !s.fields.contains(fieldText(f, 2).toUpper()))
                s.fields.insert(fieldText(f, 2).toUpper(), i + 1);
            else if (keyword == DscKeyword::Indice && s.index == 0 && fieldText(f, 4).toDouble() == -1
                     && fieldText(f, 5).toDouble() == -1) // the unique primary index
                s.index = i + 1;
            else if (keyword == DscKeyword::Ricerca && fieldText(f, 3).toUpper() == u"MOSTRA")
                s.layouts.insert(layoutNumber(fieldText(f, 2)), i + 1);
            else if (keyword == DscKeyword::Ricerca && fieldText(f, 3).toUpper() == u"SELEZIONE")
                s.selections << std::pair{layoutNumber(fieldText(f, 2)), i + 1};
            else if (keyword == DscKeyword::Dettaglio && s.index != 0)
                s.unreadDetails << i + 1;
            else if (keyword == DscKeyword::Dettaglio)
                s.details.insert(fieldText(f, 2).toInt(), i + 1);
        }
    }
    return sections;
}

// The field a descriptor line is about: the one a CAMPO line declares or a RICERCA SELEZIONE line
// searches; empty for other lines.
QString fieldOfLine(const QString &line)
{
    const QStringList f = line.split(u',');
    const DscKeyword keyword = dscKeyword(line);
    if (keyword == DscKeyword::Campo)
        return fieldText(f, 2);
    if (keyword == DscKeyword::Ricerca && fieldText(f, 3).toUpper() == u"SELEZIONE")
        return fieldText(f, 4);
    return QString();
}

bool isNumericType(const QString &type)
{
    static const QStringList numbers{"BYTE", "INTEGER", "LONG", "SINGLE", "DOUBLE", "CURRENCY", "DECIMAL", "AUTOINC", "COUNTER"};
    return numbers.contains(type);
}

class Linter
{
public:
    Linter(Connection &connection, const QString &source) : m_connection(connection), m_source(source) {}

    void lint(const QStringList &lines, const Section &section)
    {
        m_section = &section;
        Rec rec;
        try {
            ListLineSource source(lines);
            readDsc(source, section.name, rec, m_source);
        } catch (const Error &e) {
            static const QRegularExpression lineOf(QStringLiteral("(?:riga|line) ([0-9]+)"));
            const auto m = lineOf.match(e.message());
            const int line = m.hasMatch() ? m.captured(1).toInt() : section.line;
            add(fieldOfLine(lines.value(line - 1)), line, QStringLiteral("load"),
                e.message() + nxTr(" (l'editor non si aprirebbe: correggere la riga)"));
            return;
        }
        lintDetails(lines, rec);
        if (rec.Storia() && (!rec.Indice() || rec.Indice()->NomiCampi()->Count() == 0))
            add({}, section.line, QStringLiteral("history-without-key"),
                nxTr("il record %1 tiene la storia (STORIA,1) ma non ha un indice primario: la storia non saprebbe "
                     "di quale riga parla; aggiungere la riga INDICE")
                    .arg(rec.Nome()));
        const auto table = tableOf(section.name);
        if (!table) {
            add({}, section.line, QStringLiteral("missing-table"),
                nxTr("la tabella %1 non esiste nel database: creare la tabella o correggere il nome nella riga RECORD")
                    .arg(section.name));
            return;
        }
        const auto campi = rec.Campi();
        QStringList fieldNames;
        for (const auto &c : *campi)
            fieldNames << c->Nome().toUpper();
        for (const auto &c : *campi)
            lintField(*c, *table, fieldNames);
        lintIndex(rec, *table);
        lintSearches(rec, *table);
        lintSearchIndexes(rec);
    }

    QList<LintFinding> findings;

private:
    void add(const QString &field, int line, const QString &code, const QString &message, bool hint = false)
    {
        findings << LintFinding{m_section->name, field, line, code, message, hint};
    }
    int lineOfField(const QString &name) const { return m_section->fields.value(name.toUpper(), m_section->line); }

    // A table's schema, read once; null when the database has no such table.
    std::shared_ptr<const TableInfo> tableOf(const QString &name)
    {
        const QString key = name.toUpper();
        if (auto it = m_tables.find(key); it != m_tables.end())
            return it->second;
        std::shared_ptr<const TableInfo> info;
        try {
            info = tableInfo(m_connection, name);
        } catch (const DataError &e) {
            if (e.number() != DataError::BadIdentifier)
                throw;
        }
        m_tables.emplace(key, info);
        return info;
    }

    void lintField(const Campo &c, const TableInfo &table, const QStringList &fieldNames)
    {
        const QString name = c.Nome();
        const int line = lineOfField(name);
        const QString kind = c.ObjType().toUpper();
        if (fieldKindOf(kind) == FieldKind::Unknown)
            add(name, line, QStringLiteral("unknown-control"),
                nxTr("il tipo di controllo %1 non esiste: usare TXTTEXT, TXTNUMERIC, TXTDATE, TXTMEMO, CHECKBOX, "
                               "COMBOBOX, CMBBOUNDED, TXTFILE, HIDDENFIELD, UMOD, ... (campo 13 della riga)")
                    .arg(c.ObjType()));
        if (m_section->pages > 0 && c.Page() > m_section->pages)
            add(name, line, QStringLiteral("missing-page"),
                nxTr("la pagina %1 non esiste: il record ne dichiara %2 nella riga RECORD (riga %3); aggiungere il "
                               "nome della pagina o correggere il campo 15")
                    .arg(c.Page()).arg(m_section->pages).arg(m_section->line));
        if (!c.SourceRif().isEmpty() && !fieldNames.contains(c.SourceRif().toUpper()))
            add(name, line, QStringLiteral("missing-source"),
                nxTr("il campo di origine %1 (campo 16) non è un campo del record: dichiararlo o correggere il nome")
                    .arg(c.SourceRif()));
        lintLookup(c, line);
        const int at = table.indexOf(name);
        if (at < 0) {
            if (kind != u"NESSUNO")
                add(name, line, QStringLiteral("missing-column"),
                    nxTr("la tabella %1 non ha la colonna %2: aggiungere la colonna o correggere il nome del campo")
                        .arg(table.name, name));
            return;
        }
        const ColumnInfo &column = table.columns[at];
        const QString type = c.TIPO().toUpper();
        const bool text = column.kind == ColumnKind::Text;
        if ((type == u"DATE" && text) || (isNumericType(type) && text) || (type == u"AUTOINC" && column.kind != ColumnKind::Integer)) {
            add(name, line, QStringLiteral("type-mismatch"),
                nxTr("il tipo %1 non può stare nella colonna %2 (%3): usare il tipo che la colonna tiene, o cambiare "
                               "la colonna")
                    .arg(type, column.name, column.declaredType));
        }
        if (type == u"TEXT" && c.MaxLen() > 0)
            if (const auto length = declaredLength(column); length && c.MaxLen() > *length)
                add(name, line, QStringLiteral("too-long"),
                    nxTr("la lunghezza %1 supera quella della colonna %2 (%3): portare la lunghezza (campo 5) a %4 "
                                   "o allargare la colonna")
                        .arg(c.MaxLen()).arg(column.name, column.declaredType).arg(*length));
    }

    void lintLookup(const Campo &c, int line)
    {
        const QString ref = c.RecRif();
        if (ref.isEmpty() || !c.FileRif().isEmpty()) // a lookup in another file is not this database's
            return;
        const auto target = tableOf(ref);
        if (!target) {
            add(c.Nome(), line, QStringLiteral("missing-lookup-table"),
                nxTr("la tabella collegata %1 (campo 11) non esiste: crearla o correggere il nome").arg(ref));
            return;
        }
        for (const QString &desc :
             descriptionColumns(c.FieldRif().toString(), [&](const QString &n) { return target->indexOf(n) >= 0; }))
            if (target->indexOf(desc) < 0)
                add(c.Nome(), line, QStringLiteral("missing-lookup-column"),
                    nxTr("la tabella collegata %1 non ha la colonna di descrizione %2 (campo 12): correggere il nome")
                        .arg(target->name, desc));
        // A text code on PostgreSQL is found by a range of its index only where the index sorts
        // byte by byte.
        if (m_connection.dialect() == SqlDialect::PostgreSql && target->primaryKey.size() == 1) {
            const ColumnInfo &code = target->column(target->primaryKey.constFirst());
            if (code.kind == ColumnKind::Text && !code.bytewise && !hasPatternIndex(*target, code.name))
                add(c.Nome(), line, QStringLiteral("lookup-index"),
                    QStringLiteral("i codici di %1 si cercano per intervalli solo con un indice adatto: CREATE INDEX ON %2 "
                                   "(%3 text_pattern_ops), oppure dare alla colonna COLLATE \"C\"")
                        .arg(target->name, quoteIdentifier(target->name), quoteIdentifier(code.name)),
                    true);
        }
    }

    bool hasPatternIndex(const TableInfo &table, const QString &column)
    {
        return m_connection.call([&] {
            QSqlQuery q;
            const QString sql = QStringLiteral(
                "SELECT 1 FROM pg_catalog.pg_index i JOIN pg_catalog.pg_class c ON c.oid = i.indrelid "
                "JOIN pg_catalog.pg_attribute a ON a.attrelid = i.indrelid AND a.attnum = i.indkey[0] "
                "JOIN pg_catalog.pg_opclass o ON o.oid = i.indclass[0] "
                "WHERE c.relname = ? AND a.attname = ? AND o.opcname IN ('text_pattern_ops', 'varchar_pattern_ops') "
                "AND pg_catalog.pg_table_is_visible(c.oid)");
            return m_connection.execRead(q, sql, {table.name, column}) && q.next();
        });
    }

    // A large lookup's description search without its index scans the table: the command or the
    // statements that make it (never made here: lint only reads).
    void lintSearchIndexes(Rec &rec)
    {
        if (m_connection.dialect() == SqlDialect::Other)
            return; // no index to make
        QList<LookupSearch> searches;
        try {
            searches = lookupSearches(m_connection, rec);
        } catch (const DataError &) {
            return; // advice only: a lookup table that cannot be read fails in the editor, told there
        }
        for (const LookupSearch &s : std::as_const(searches)) {
            if (s.index.present)
                continue;
            const QString why = nxTr("la tabella collegata %1 ha più di %2 righe e la ricerca per parole della descrizione (%3) "
                                     "la scorre tutta")
                                    .arg(s.index.table).arg(kLargeLookupRows).arg(s.descColumns.join(u';'));
            QString fix;
            if (!s.index.possible)
                fix = nxTr(": il database non può avere l'indice che la renderebbe veloce (%1)").arg(whyNoIndex(s.index));
            else if (m_connection.dialect() == SqlDialect::Sqlite)
                fix = nxTr(": crearne l'indice con norvix dsc index %1").arg(rec.Nome());
            else
                fix = nxTr(": crearne l'indice con %1").arg(s.index.statements.join(QStringLiteral("; ")));
            add(s.field, lineOfField(s.field), QStringLiteral("lookup-search-index"), why + fix, true);
        }
    }

    void lintIndex(Rec &rec, const TableInfo &table)
    {
        QStringList columns;
        if (const auto index = rec.Indice())
            for (const auto &n : *index->NomiCampi())
                columns << n->ID().toUpper();
        if (columns.isEmpty())
            return;
        const auto keys = uniqueKeys(m_connection, table);
        const auto same = [&](const QStringList &key) {
            if (key.size() != columns.size())
                return false;
            for (const QString &k : key)
                if (!columns.contains(k.toUpper()))
                    return false;
            return true;
        };
        if (std::none_of(keys.cbegin(), keys.cend(), same))
            add({}, m_section->index ? m_section->index : m_section->line, QStringLiteral("unbacked-key"),
                nxTr("nessuna chiave primaria né indice univoco della tabella %1 è sui campi %2 dell'indice "
                               "primario: due righe potrebbero avere la stessa chiave; creare l'indice univoco o correggere "
                               "la riga INDICE")
                    .arg(table.name, columns.join(u';')));
    }

    void lintSearches(Rec &rec, const TableInfo &table)
    {
        const auto tipi = rec.TipiRicerche();
        for (int i = 1; i <= tipi->Count(); ++i) {
            const QString key = tipi->Key(i);
            const auto tipo = tipi->Item(i);
            const int line = m_section->layouts.value(key, m_section->line);
            for (const QString &name : tipo->CampiMostrati().split(u',', Qt::SkipEmptyParts))
                if (table.indexOf(name.trimmed()) < 0)
                    add(name.trimmed(), line, QStringLiteral("search-missing-field"),
                        nxTr("la ricerca %1 mostra %2, che non è una colonna della tabella %3: correggere il nome")
                            .arg(key, name.trimmed(), table.name));
            int n = 0;
            for (const auto &campo : *tipo->CampiRic()) {
                int selection = line;
                int seen = 0;
                for (const auto &[layout, at] : m_section->selections)
                    if (layout == key && seen++ == n)
                        selection = at;
                ++n;
                if (table.indexOf(campo->Nome()) < 0)
                    add(campo->Nome(), selection, QStringLiteral("search-missing-field"),
                        nxTr("la ricerca %1 cerca su %2, che non è una colonna della tabella %3: correggere il nome")
                            .arg(key, campo->Nome(), table.name));
                if (!isSearchType(campo->SearchType()))
                    add(campo->Nome(), selection, QStringLiteral("unknown-search-type"),
                        nxTr("il tipo di ricerca %1 non esiste: usare %2").arg(campo->SearchType(), searchTypes()));
            }
        }
    }

    // The details: their child records, the link, the columns, the page. A child that does not
    // load is told where it is described.
    void lintDetails(const QStringList &lines, Rec &rec)
    {
        for (const int line : m_section->unreadDetails)
            add({}, line, QStringLiteral("unread-detail"),
                nxTr("la riga DETTAGLIO del record %1 sta dopo l'indice primario (riga %2), dove la lettura finisce: "
                     "spostarla prima della riga INDICE")
                    .arg(rec.Nome()).arg(m_section->index));
        for (const auto &d : *rec.Dettagli()) {
            Rec child;
            try {
                ListLineSource source(lines);
                readDsc(source, d->Figlio(), child, m_source);
            } catch (const Error &) {
                continue;
            }
            lintDetail(rec, *d, child);
        }
    }

    void lintDetail(Rec &rec, const Dettaglio &d, Rec &child)
    {
        const int line = m_section->details.value(d.Numero(), m_section->line);
        const auto says = [&](const QString &code, const QString &what) {
            add({}, line, code, nxTr("il dettaglio %1 del record %2 %3").arg(d.Numero()).arg(rec.Nome(), what));
        };
        if (child.Nome().isEmpty()) {
            says(QStringLiteral("missing-detail-record"),
                 nxTr("mostra il record %1, che i descrittori non hanno: aggiungerne la riga RECORD o correggere il "
                      "campo 3").arg(d.Figlio()));
            return;
        }
        if (m_section->pages > 0 && d.Pagina() > m_section->pages)
            says(QStringLiteral("missing-page"),
                 nxTr("sta sulla pagina %1, che non esiste: il record ne dichiara %2; aggiungere il nome della pagina "
                      "alla riga RECORD o correggere il campo 5").arg(d.Pagina()).arg(m_section->pages));
        const QStringList master = d.CampiPadre(), link = d.CampiFiglio();
        if (master.size() != link.size())
            says(QStringLiteral("detail-link-length"),
                 nxTr("lega %1 campi del padre a %2 campi del figlio: i due elenchi (campi 6 e 7) vanno a coppie")
                     .arg(master.size()).arg(link.size()));
        const auto missing = [&](Rec &owner, const QString &name, int field) {
            if (owner.Campi()->Contains(name))
                return false;
            says(QStringLiteral("detail-missing-field"),
                 nxTr("nomina il campo %1, che il record %2 non ha: correggere il nome (campo %3)")
                     .arg(name, owner.Nome()).arg(field));
            return true;
        };
        for (qsizetype i = 0; i < std::max(master.size(), link.size()); ++i) {
            const bool inMaster = i < master.size() && !missing(rec, master[i], 6);
            const bool inChild = i < link.size() && !missing(child, link[i], 7);
            if (!inMaster || !inChild)
                continue;
            const QString ours = rec.Campi()->Item(master[i])->TIPO(), theirs = child.Campi()->Item(link[i])->TIPO();
            if (typeFamilyOf(ours) != typeFamilyOf(theirs))
                says(QStringLiteral("detail-link-type"),
                     nxTr("lega %1 (%2) a %3 (%4), di tipi che non si confrontano: dare ai due campi lo stesso tipo")
                         .arg(master[i], ours, link[i], theirs));
        }
        if (child.Indice()->NomiCampi()->Count() == 0)
            says(QStringLiteral("detail-no-index"),
                 nxTr("mostra il record %1, che non ha un indice primario: le sue righe si scrivono per chiave; "
                      "aggiungere la riga INDICE a %1").arg(child.Nome()));
        for (const QString &column : d.Colonne())
            missing(child, column, 8);
    }

    Connection &m_connection;
    QString m_source;
    const Section *m_section = nullptr;
    std::map<QString, std::shared_ptr<const TableInfo>> m_tables;
};

} // namespace

QList<LintFinding> lintDescriptors(Connection &connection, const QStringList &lines, const QString &source,
                                   const QStringList &records)
{
    const QList<Section> sections = sectionsOf(lines);
    Linter linter(connection, source);
    QStringList seen;
    for (const Section &s : sections) {
        if (!records.isEmpty() && !records.contains(s.name, Qt::CaseInsensitive))
            continue;
        if (seen.contains(s.name.toUpper()))
            continue; // the loader reads the first section of a name only
        seen << s.name.toUpper();
        linter.lint(lines, s);
    }
    for (const QString &r : records)
        if (!seen.contains(r.toUpper()))
            linter.findings << LintFinding{r, {}, 0, QStringLiteral("missing-record"),
                                           nxTr("i descrittori non hanno il record %1: aggiungere una riga RECORD").arg(r)};
    return linter.findings;
}

} // namespace Norvix
