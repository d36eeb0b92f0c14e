#include "editor/search.h"
#include "platform/language.h"

#include "platform/connection.h"
#include "platform/dataerror.h"
#include "platform/recordset.h"
#include "platform/textfold.h"
#include "platform/values.h"

#include <algorithm>

namespace Norvix {

namespace {

QString normalType(const QString &type)
{
    return type.trimmed().toUpper();
}

SearchField fieldOf(Rec &rec, const QString &name, const QString &control, const QString &type)
{
    SearchField f;
    f.field = name;
    f.type = normalType(type);
    f.control = control;
    const auto campi = rec.Campi();
    if (campi->Contains(name)) {
        f.campo = campi->Item(name);
        f.caption = f.campo->Desc().isEmpty() ? name : f.campo->Desc();
        if (f.control.isEmpty())
            f.control = f.campo->ObjType();
    } else {
        f.caption = name;
    }
    return f;
}

ListFilter::Column columnOf(Rec &rec, const QString &name)
{
    const auto campi = rec.Campi();
    if (!campi->Contains(name))
        return {name, name, QString()};
    const auto c = campi->Item(name);
    return {name, c->Desc().isEmpty() ? name : c->Desc(), c->Format()};
}

} // namespace

bool SearchField::isLookup() const
{
    const QString kind = control.trimmed().toUpper();
    return kind == u"CMBBOUNDED" || kind == u"COMBOBOX";
}

QList<SearchLayout> searchLayouts(Rec &rec, const QString &descField)
{
    QList<SearchLayout> layouts;
    const auto tipi = rec.TipiRicerche();
    for (int i = 1; i <= tipi->Count(); ++i) {
        const auto tipo = tipi->Item(i);
        SearchLayout layout;
        layout.key = tipi->Key(i);
        layout.caption = tipo->Descrizione();
        for (const auto &campo : *tipo->CampiRic())
            layout.inputs << fieldOf(rec, campo->Nome(), campo->CtrlType(), campo->SearchType());
        for (const QString &name : tipo->CampiMostrati().split(u',', Qt::SkipEmptyParts))
            if (!name.trimmed().isEmpty())
                layout.shown << columnOf(rec, name.trimmed());
        layouts << layout;
    }
    std::stable_sort(layouts.begin(), layouts.end(),
                     [](const SearchLayout &a, const SearchLayout &b) { return a.key.toDouble() < b.key.toDouble(); });
    if (!layouts.isEmpty())
        return layouts;

    SearchLayout standard;
    standard.key = QStringLiteral("0");
    standard.caption = nxTr("Per chiave");
    QStringList names;
    if (const auto index = rec.Indice())
        for (const auto &name : *index->NomiCampi())
            names << name->ID();
    if (!descField.isEmpty() && !names.contains(descField, Qt::CaseInsensitive))
        names << descField;
    const auto campi = rec.Campi();
    for (const QString &name : std::as_const(names)) {
        const bool text = campi->Contains(name) && campi->Item(name)->TIPO().toUpper() == u"TEXT";
        standard.inputs << fieldOf(rec, name, QString(), text ? QStringLiteral("LIKE") : QStringLiteral("="));
        standard.shown << columnOf(rec, name);
    }
    return {standard};
}

int standardSearch(const QList<SearchLayout> &layouts, Rec &rec)
{
    const QString standard = rec.TipiRicerche()->Standard().trimmed();
    bool number = false;
    const double n = standard.toDouble(&number);
    for (int i = 0; number && i < layouts.size(); ++i)
        if (layouts[i].key.toDouble() == n)
            return i;
    return layouts.isEmpty() ? -1 : 0;
}

QString inputCaption(const SearchField &input)
{
    const QHash<QString, QString> says{{QStringLiteral("LIKE"), nxTr("contiene")},
                                       {QStringLiteral("INIZIA"), nxTr("inizia con")},
                                       {QStringLiteral("="), QStringLiteral("=")},
                                       {QStringLiteral(">="), QStringLiteral("≥")},
                                       {QStringLiteral("<="), QStringLiteral("≤")}};
    return input.caption + u' ' + says.value(input.type, input.type);
}

QString typedCode(const QString &text)
{
    const QString t = text.trimmed();
    const qsizetype close = t.indexOf(u']');
    if (t.startsWith(u'[') && close > 0)
        return t.mid(1, close - 1);
    return t;
}

ListFilter searchFilter(Connection &connection, const TableInfo &table, const SearchLayout &layout,
                        const QStringList &typed)
{
    ListFilter filter;
    filter.columns = layout.shown;
    QStringList conditions;
    for (int i = 0; i < layout.inputs.size(); ++i) {
        const SearchField &input = layout.inputs[i];
        const QString text = typed.value(i).trimmed();
        if (text.isEmpty())
            continue;
        const ColumnInfo &column = table.column(input.field);
        const QString name = quoteIdentifier(column.name);
        const auto value = [&](const QString &t) {
            try {
                return bindableValue(connection.dialect(), column, QVariant(t));
            } catch (const DataError &) {
                throw DataError(DataError::ConversionFailed,
                                nxTr("Il valore \"%1\" non è valido per %2").arg(t, input.caption));
            }
        };
        if (input.type == u"LIKE" || input.type == u"INIZIA") {
            const QString code = input.isLookup() ? typedCode(text) : text;
            conditions << foldedLike(connection, name);
            filter.values << foldedPattern(code, input.type == u"LIKE", true);
        } else if (input.type == u"=" && input.isLookup()) {
            // The code in any letter case.
            conditions << foldedSql(connection, name) + QStringLiteral(" = ?");
            filter.values << folded(typedCode(text));
        } else if (column.kind == ColumnKind::DateTime && (input.type == u"=" || input.type == u"<=")) {
            // A day typed against a date and time: the whole of that day.
            const QVariant day = value(text);
            const QVariant next = value(Values::shortDateText(Values::toDate(text)->date().addDays(1)));
            if (input.type == u"=") {
                conditions << name + QStringLiteral(" >= ? AND ") + name + QStringLiteral(" < ?");
                filter.values << day << next;
            } else {
                conditions << name + QStringLiteral(" < ?");
                filter.values << next;
            }
        } else if (input.type == u"=" || input.type == u">=" || input.type == u"<=") {
            conditions << name + u' ' + input.type + QStringLiteral(" ?");
            filter.values << value(text);
        } else {
            throw DataError(DataError::ConversionFailed,
                            nxTr("Tipo di ricerca sconosciuto per %1: %2").arg(input.caption, input.type));
        }
    }
    filter.where = conditions.join(QStringLiteral(" AND "));
    return filter;
}

} // namespace Norvix
