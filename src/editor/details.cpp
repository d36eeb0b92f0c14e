#include "editor/details.h"

#include "descriptor/leggidsc.h"
#include "editor/columntext.h"
#include "editor/detailgrid.h"
#include "editor/editordata.h"
#include "editor/editorstate.h"
#include "editor/frmconflitto.h"
#include "editor/lookups.h"
#include "editor/windowlayout.h"
#include "platform/language.h"
#include "platform/messages.h"
#include "session/lineset.h"

#include <QDir>
#include <QWidget>

namespace Norvix {

Details::Details(Parts parts, Calls calls) : m(parts), m_calls(std::move(calls)) {}

Details::~Details()
{
    for (const Detail &d : m_details)
        m.session.removeLines(d.lines.get());
    m.session.removeObserver(this);
}

void Details::build()
{
    for (const auto &d : *m.state.rec->Dettagli()) {
        auto child = std::make_shared<Rec>();
        QString path = m.state.dscPath;
        if (!LeggiDsc(path, d->Figlio(), *child))
            continue;
        if (child->Nome().isEmpty()) {
            msgBox(nxTr("Il dettaglio %1 mostra il record %2, che non è descritto in %3.")
                       .arg(d->Numero())
                       .arg(shownInMessage(d->Figlio()), QDir::toNativeSeparators(m.state.dscPath)),
                   MsgButtons::OkOnly, nxTr("ATTENZIONE!"));
            continue;
        }
        DetailLink link{d->Numero(), child->Nome(), {}, d->CampiPadre(), d->CampiFiglio(), child};
        for (const auto &n : *child->Indice()->NomiCampi())
            link.keyColumns << n->ID();
        auto lines = std::make_unique<LineSet>();
        lines->attach(m.data.connection(), link);
        DetailGrid::Calls calls{m_calls.edited, [this](const CampoPtr &C) { return m.lookups.unfilteredQuery(C); }};
        auto *grid = new DetailGrid(*d, child, *lines, m.data.connection(), calls, &m.window);
        m.layout.fillPage(grid, d->Pagina());
        m.session.addLines(lines.get());
        m_details.push_back(Detail{std::move(lines), grid, child});
    }
    if (!m_details.empty())
        m.session.addObserver(this);
}

bool Details::finishEditing()
{
    for (const Detail &d : m_details)
        if (d.grid && !d.grid->finishEditing())
            return false;
    return true;
}

void Details::setReadOnly(bool readOnly)
{
    for (const Detail &d : m_details)
        if (d.grid)
            d.grid->setReadOnly(readOnly);
}

void Details::clear()
{
    for (const Detail &d : m_details)
        d.lines->cancel();
    reload();
}

void Details::follow()
{
    if (m.session.linesFollow())
        reload();
}

void Details::operationEnded()
{
    if (std::exchange(m_reloadWanted, false))
        reload();
}

void Details::reload()
{
    // An operation puts rows in hand several times over (a save: written, opened again, its line
    // selected): the grids read the lines once, when it ends.
    if (m_calls.busy && m_calls.busy()) {
        m_reloadWanted = true;
        return;
    }
    for (const Detail &d : m_details)
        if (d.grid)
            d.grid->reload();
}

void Details::liveRefresh(const QString &table)
{
    for (const Detail &d : m_details)
        if (d.grid && (table.isEmpty() || d.lines->link().table.compare(table, Qt::CaseInsensitive) == 0))
            d.grid->liveRefresh();
}

Details::Detail *Details::detailOf(int number)
{
    for (Detail &d : m_details)
        if (d.lines->link().number == number)
            return &d;
    return nullptr;
}

bool Details::lineFailed(const RowOutcome &outcome)
{
    Detail *d = detailOf(outcome.detail);
    if (!d || !d->grid)
        return false;
    DetailGrid &grid = *d->grid;
    if (outcome.kind == RowOutcome::Kind::Conflict)
        return resolveConflict(*d, outcome.line);
    const int line = grid.lineNumber(outcome.line);
    const QString caption = outcome.column.isEmpty() ? QString() : grid.caption(outcome.column);
    const QString why = outcome.error ? outcome.error->description() : QString();
    if (outcome.kind == RowOutcome::Kind::Invalid && !outcome.error)
        msgBox(nxTr("Il campo %1 della riga %2 è inesatto o mancante").arg(caption).arg(line));
    else if (!caption.isEmpty())
        msgBox(nxTr("Il campo %1 della riga %2 non può essere salvato: %3").arg(caption).arg(line).arg(why));
    else
        msgBox(nxTr("La riga %1 non può essere salvata: %2").arg(line).arg(why));
    grid.showLine(outcome.line, outcome.column);
    return false;
}

bool Details::resolveConflict(Detail &detail, int id)
{
    LineSet &lines = *detail.lines;
    std::unique_ptr<Recordset> now;
    try {
        now = lines.storedNow(id);
    } catch (const DataError &e) {
        msgBox(e.description());
        return false;
    }
    const bool deleting = lines.isRemoved(id);
    if (deleting && !now) {
        lines.drop(id); // deleted meanwhile by the other user: what was asked is done
        return true;
    }
    const auto info = lines.table();
    QList<FrmConflitto::Difference> fields;
    for (const auto &c : *detail.child->Campi()) {
        const QString column = c->Nome();
        const int i = info->indexOf(column);
        if (i < 0)
            continue;
        const auto text = [&](const QVariant &value) { return columnValueText(value, info->columns[i].kind, c->Format()); };
        fields << FrmConflitto::Difference{c->Desc(), text(lines.readValue(id, column)),
                                           now ? text(now->value(column)) : QStringLiteral("eliminato"),
                                           text(lines.value(id, column))};
    }
    const auto situation = deleting ? FrmConflitto::Situation::DeleteOfChanged
                           : now    ? FrmConflitto::Situation::Changed
                                    : FrmConflitto::Situation::Deleted;
    int choice = FrmConflitto::Back;
    const int line = detail.grid ? detail.grid->lineNumber(id) : -1;
    if (hasWidgetApplication()) {
        FrmConflitto dialog(situation, fields, &m.window);
        dialog.setWindowTitle(dialog.windowTitle() + QStringLiteral(" - ") + nxTr("riga %1").arg(line));
        choice = dialog.exec();
        m.window.activateWindow();
    } else {
        msgBox(nxTr("Un altro utente ha modificato la riga %1: le modifiche non sono state salvate.").arg(line));
    }
    if (choice == FrmConflitto::Reload) {
        lines.drop(id);
        if (detail.grid)
            detail.grid->reload();
        return false;
    }
    if (choice != FrmConflitto::Overwrite) {
        if (detail.grid)
            detail.grid->showLine(id, QString());
        return false;
    }
    try {
        lines.retake(id);
    } catch (const DataError &e) {
        msgBox(e.description());
        return false;
    }
    return true;
}

} // namespace Norvix
