#include "editor/recordlistpane.h"
#include "platform/language.h"

#include "editor/commandpanel.h"
#include "editor/editordata.h"
#include "editor/editorstate.h"
#include "editor/fieldset.h"
#include "editor/frmedittab_p.h"
#include "editor/recordlist.h"
#include "editor/recordlistview.h"
#include "editor/windowlayout.h"
#include "platform/messages.h"
#include "session/rowsession.h"

#include <QComboBox>
#include <QItemSelectionModel>

namespace Norvix {

RecordListPane::RecordListPane(Parts parts, Calls calls) : m(parts), m_calls(std::move(calls)) {}

void RecordListPane::create()
{
    m_view = new RecordListView(&m.window);
    m_view->setObjectName(QStringLiteral("LstSelect"));
    m_view->setAccessibleName(nxTr("Elenco dei record"));
    QObject::connect(m_view, &RecordListView::currentRowChanged, &m.window, [this](int row) {
        if (row < 0 || m.state.applying || m_calls.interrupting())
            return;
        const auto busy = m_calls.busy();
        LstSelect_Click();
    });
}

void RecordListPane::RIEMPILISTA()
{
    refreshAround(-1, {});
}

void RecordListPane::refreshAround(int row, const QVariantList &key, std::optional<int> rowsAdded)
{
    // The list reads only the lines on screen, in the order of the record's key.
    const auto table = m.session.table();
    const QString desc = !m.state.descField.isEmpty() && table->indexOf(m.state.descField) >= 0 ? m.state.descField : QString();
    {
        const Applying applying(m.state);
        if (RecordListModel *model = m_view->recordModel(); model && model->isSearch()) {
            // The rows found stay as found: a saved row shows as stored, a deleted one goes, a
            // new one is not among them.
            m_calls.rowsChanged();
            if (rowsAdded == 0)
                model->rowSaved(row, key);
            else if (rowsAdded == -1)
                model->rowDeleted(m_view->currentRow());
            else if (!rowsAdded)
                model->refresh();
        } else if (m_view->recordModel()) {
            m_view->recordModel()->refreshAround(row, key, rowsAdded);
            // Filled again from scratch: no line is selected (as after a reset, without a signal).
            if (row < 0)
                m_view->forgetCurrentRow();
        } else
            m_view->setRecordModel(
                std::make_unique<RecordListModel>(m.data.connection(), m.session.tableName(), m.session.keyColumns(), desc));
    }
    // The list leaves a read-only recordset after its last row: a move back lands on the last row.
    Recordset &rs = m.session.open(m.session.wholeTable(), CursorIntent::Read);
    if (!rs.Eof()) {
        rs.MoveLast();
        rs.MoveNext();
    }
}

bool RecordListPane::isReading() const
{
    const RecordListModel *model = m_view->recordModel();
    return model && (model->isLiveRefreshing() || model->isReading());
}

void RecordListPane::liveRefresh()
{
    RecordListModel *model = m_view->recordModel();
    if (!model || isReading())
        return;
    const int current = m_view->currentRow();
    const QVariantList selected = current >= 0 ? m_view->keyAt(current) : QVariantList();
    model->liveRefresh(m_view->topRow(), selected, [this, model, selected](int top, int line) {
        if (m_view->recordModel() != model)
            return;
        {
            const Applying applying(m.state);
            if (!selected.isEmpty())
                m_view->setCurrentRow(line);
            m_view->showAtTop(top);
        }
        if (selected.isEmpty() || line >= 0)
            return;
        // Further away, or gone: looked for away from the window, unless another row is shown meanwhile.
        model->findRow(selected, [this, model, selected](int row) {
            const Recordset *rs = m.session.recordset();
            if (m_view->recordModel() == model && m_view->currentRow() < 0 && rs && rs->hasCurrentRow()
                && rs->Bookmark() == selected)
                selectQuietly(row);
        });
    });
}

void RecordListPane::LstSelect_Click()
{
    const int row = m_view->currentRow();
    if (row < 0)
        return;
    try {
        if (m.session.open(m.session.rowOf(m_view->keyAt(row)), CursorIntent::Change).Eof()) // the row is gone
            m.session.open(m.session.wholeTable(), CursorIntent::Read);
    } catch (const DataError &e) {
        m_calls.readFailed(e);
        // The fields still show the row read before: no line stands for another one, and a
        // click on any line tries again.
        selectQuietly(-1);
        return;
    }
    m_calls.showRecord();
}

void RecordListPane::selectLine(int row)
{
    m_view->setCurrentRow(-1);
    if (row >= 0 && row < m_view->count())
        m_view->setCurrentRow(row); // loads the row of that line
}

void RecordListPane::selectQuietly(int row)
{
    const Applying applying(m.state);
    m_view->setCurrentRow(row);
}

bool RecordListPane::showRow(const QVariantList &key)
{
    selectQuietly(-1); // no line stands for another row meanwhile
    if (key.isEmpty())
        return false;
    // A record without key fields has no statement for one row: what is shown stays.
    const bool keyed = !m.state.keyIds().isEmpty();
    if (keyed) {
        try {
            if (m.session.open(m.session.rowOf(key), CursorIntent::Change).Eof()) {
                m.session.open(m.session.wholeTable(), CursorIntent::Read);
                return false;
            }
        } catch (const DataError &e) {
            m_calls.readFailed(e);
            return false;
        }
        m_calls.showRecord();
    }
    if (RecordListModel *model = m_view->recordModel())
        model->findRow(key, [this, key, keyed](int row) {
            // Unless another row was shown, or a line chosen, meanwhile.
            const Recordset *rs = m.session.recordset();
            const bool same = !keyed || (rs && rs->hasCurrentRow() && rs->Bookmark() == key);
            if (same && m_view->currentRow() < 0)
                selectQuietly(row);
        });
    return keyed;
}

void RecordListPane::SETPRIMO()
{
    m.panel.emptyTable();
    try {
        if (!m.session.recordset() || m.session.recordset()->intent() != CursorIntent::Change)
            m.session.open(m.session.wholeTable(), CursorIntent::Change);
        m.session.recordset()->AddNew();
    } catch (const DataError &e) {
        m_calls.readFailed(e);
    }
    for (int i = 1; i < m.fields.CmbBounded.size(); ++i)
        if (QComboBox *c = m.fields.CmbBounded[i]; c && !c->property("Tag").toString().isEmpty())
            c->setCurrentText(QString());
    m_view->clear();
    m_view->setEnabled(false);
    m_calls.readyForNew();
    if (m.window.isVisible())
        m.layout.CTRLSETFOCUS(m.state.firstControl);
}

} // namespace Norvix
