#include "editor/rowhistory.h"

#include "editor/detailmodel.h"
#include "editor/editordata.h"
#include "editor/editorstate.h"
#include "editor/fieldset.h"
#include "editor/frmstoria.h"
#include "editor/historymodel.h"
#include "editor/lookups.h"
#include "platform/dataerror.h"
#include "platform/language.h"
#include "platform/messages.h"
#include "platform/values.h"
#include "session/rowsession.h"

#include <QCheckBox>
#include <QHash>

namespace Norvix {

RowHistory::RowHistory(Parts parts, Calls calls) : m(parts), m_calls(std::move(calls)) {}

RowHistory::~RowHistory()
{
    delete m_viewer.data();
}

bool RowHistory::available() const
{
    const Recordset *rs = m.session.recordset();
    return m.session.keepsHistory() && rs && rs->hasCurrentRow() && !m.session.adding();
}

HistoryColumn RowHistory::columnOf(const QString &column) const
{
    const auto campi = m.state.rec->Campi();
    const CampoPtr campo = campi->Contains(column) ? campi->Item(column) : nullptr;
    const auto table = m.session.table();
    HistoryColumn c;
    c.caption = column;
    if (const int i = table ? table->indexOf(column) : -1; i >= 0)
        c.kind = table->columns[i].kind;
    if (campo) {
        c.caption = campo->Desc().isEmpty() ? column : campo->Desc();
        c.picture = campo->Format();
        if (!campo->RecRif().isEmpty())
            c.lookup = campo;
        if (c.lookup && campi->Contains(campo->SourceRif()))
            c.source = campo->SourceRif();
    }
    return c;
}

DetailLookups &RowHistory::lookupsFor(const QString &filter)
{
    auto &lookups = m_lookups[filter];
    if (!lookups)
        lookups = std::make_shared<DetailLookups>([this, filter](const CampoPtr &C) { return m.lookups.queryFor(C, filter); });
    return *lookups;
}

void RowHistory::open()
{
    if (m_viewer) {
        m_viewer->raise();
        m_viewer->activateWindow();
        return;
    }
    if (!available())
        return;
    const Recordset *rs = m.session.recordset();
    const auto table = m.session.table();
    HistoryQuery query;
    query.table = historyName(*m.state.rec, m.session.tableName());
    query.key = rs->Bookmark();
    for (const QString &k : m.session.keyColumns())
        query.keyKinds << (table->indexOf(k) >= 0 ? table->column(k).kind : ColumnKind::Other);
    // The sources of the dependent lookups as the row holds them now.
    QList<QPair<QString, QVariant>> sources;
    for (const auto &campo : *m.state.rec->Campi())
        if (const QString source = columnOf(campo->Nome()).source; !source.isEmpty() && table->indexOf(source) >= 0)
            sources.append({source, rs->field(source).Value});
    auto *model = new HistoryModel(m.data.connection(), query,
                                   {[this](const QString &c) { return columnOf(c); },
                                    [this](const QString &filter) -> DetailLookups & { return lookupsFor(filter); }},
                                   sources);
    model->readFailed = [](const DataError &e) {
        msgBox(nxTr("La storia del record non può essere letta: %1").arg(e.description()));
    };
    const QString caption = m.state.rec->Desc().isEmpty() ? m.state.rec->Nome() : m.state.rec->Desc();
    m_viewer = new FrmStoria(nxTr("Storia - %1").arg(caption), model, !m.state.readOnly, &m.window);
    m_viewer->setAttribute(Qt::WA_DeleteOnClose);
    m_viewer->restore = [this, key = *query.key](const QList<HistoryLine> &lines) {
        const auto busy = m_calls.busy();
        restore(key, lines);
    };
    m_viewer->open();
}

void RowHistory::restore(const QVariantList &key, const QList<HistoryLine> &lines)
{
    // The row shown meanwhile may be another (moved by the host): its fields take nothing.
    if (!available() || m.session.recordset()->Bookmark() != key) {
        msgBox(nxTr("Il record mostrato non è più quello della storia: nessun valore ripristinato."));
        return;
    }
    // Newest first: the oldest line of a field gives its value before every change chosen.
    QHash<QString, QPair<QString, QVariant>> values; // by column, upper case
    for (const HistoryLine &l : lines)
        values.insert(l.column.toUpper(), {l.column, l.before});
    // In the fields' order: a lookup's source before the lookups that list rows for it.
    QStringList skipped;
    for (const auto &f : m.fields.all()) {
        const auto value = values.constFind(f->column().toUpper());
        if (f->column().isEmpty() || value == values.cend())
            continue;
        // A key of a stored row, a counter, a stamp, a locked field: not editable, not restored.
        if (!f->focusTarget() || !f->focusTarget()->isEnabled() || f->alwaysLocked() || dynamic_cast<BinaryField *>(f.get()))
            skipped << f->campo()->Desc();
        else
            put(*f, value->second);
        values.erase(value);
    }
    for (const auto &[column, value] : std::as_const(values)) // no field shows it
        skipped << shownInMessage(column);
    if (!skipped.isEmpty())
        msgBox(nxTr("Non ripristinati, perché non modificabili: %1.").arg(skipped.join(QStringLiteral(", "))));
}

void RowHistory::put(FieldControl &field, const QVariant &value)
{
    const auto table = m.session.table();
    const QString column = field.column();
    const ColumnKind kind = table && table->indexOf(column) >= 0 ? table->column(column).kind : ColumnKind::Other;
    // Shown as the row's own value would be, in the field's picture; a number keeps its digits
    // where the picture shows fewer.
    field.show(Field{column, kind, historyValue(value, kind)});
    auto *lookup = dynamic_cast<LookupField *>(&field);
    if (lookup) {
        m.lookups.showRowValue(*lookup);
    } else if (!qobject_cast<QCheckBox *>(field.input())) {
        const QString plain = field.text();
        const QString picture = field.campo()->Format();
        if (!picture.isEmpty() && !plain.isEmpty()) // as ShowRecord does: a date keeps the value shown
            setWidgetText(field.input(), Values::format(QVariant(plain), picture));
        if (dynamic_cast<NumericField *>(&field))
            field.input()->setProperty("Exact", QStringList{field.text(), plain});
    }
    field.setChanged(true);
    m_calls.edited(field.focusTarget());
}

} // namespace Norvix
