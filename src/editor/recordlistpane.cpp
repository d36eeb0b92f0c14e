#include "editor/recordlistpane.h"
#include "platform/language.h"

#include "editor/frmedittab_p.h"
#include "editor/recordlistview.h"
#include "platform/messages.h"

#include <QComboBox>
#include <QItemSelectionModel>

namespace Norvix {

RecordListPane::RecordListPane(FrmEditTabPrivate &d) : d(d) {}

void RecordListPane::create()
{
    m_view = new RecordListView(d.q);
    m_view->setObjectName(QStringLiteral("LstSelect"));
    m_view->setAccessibleName(nxTr("Elenco dei record"));
    QObject::connect(m_view, &RecordListView::currentRowChanged, d.q, [this](int row) {
        if (row < 0 || d.applying || d.interrupting())
            return;
        const Busy busy(d);
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
    const auto table = d.data.table();
    const QString desc = !d.descField.isEmpty() && table->indexOf(d.descField) >= 0 ? d.descField : QString();
    {
        const Applying applying(d);
        if (RecordListModel *model = m_view->recordModel(); model && model->isSearch()) {
            // The rows found stay as found: a saved row shows as stored, a deleted one goes, a
            // new one is not among them.
            d.search.rowsChanged();
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
                std::make_unique<RecordListModel>(d.data.connection(), d.data.tableName(), d.data.keyColumns(), desc));
    }
    // The list leaves a read-only recordset after its last row: a move back lands on the last row.
    Recordset &rs = d.session.open(d.session.wholeTable(), CursorIntent::Read);
    if (!rs.Eof()) {
        rs.MoveLast();
        rs.MoveNext();
    }
}

void RecordListPane::LstSelect_Click()
{
    const int row = m_view->currentRow();
    if (row < 0)
        return;
    try {
        if (d.session.open(d.session.rowOf(m_view->keyAt(row)), CursorIntent::Change).Eof()) // the row is gone
            d.session.open(d.session.wholeTable(), CursorIntent::Read);
    } catch (const DataError &e) {
        d.actions.readFailed(e);
        // The fields still show the row read before: no line stands for another one, and a
        // click on any line tries again.
        selectQuietly(-1);
        return;
    }
    d.q->ShowRecord();
}

void RecordListPane::selectLine(int row)
{
    m_view->setCurrentRow(-1);
    if (row >= 0 && row < m_view->count())
        m_view->setCurrentRow(row); // loads the row of that line
}

void RecordListPane::selectQuietly(int row)
{
    const Applying applying(d);
    m_view->setCurrentRow(row);
}

bool RecordListPane::showRow(const QVariantList &key)
{
    selectQuietly(-1); // no line stands for another row meanwhile
    if (key.isEmpty())
        return false;
    // A record without key fields has no statement for one row: what is shown stays.
    const bool keyed = !d.keyIds().isEmpty();
    if (keyed) {
        try {
            if (d.session.open(d.session.rowOf(key), CursorIntent::Change).Eof()) {
                d.session.open(d.session.wholeTable(), CursorIntent::Read);
                return false;
            }
        } catch (const DataError &e) {
            d.actions.readFailed(e);
            return false;
        }
        d.q->ShowRecord();
    }
    if (RecordListModel *model = m_view->recordModel())
        model->findRow(key, [this, key, keyed](int row) {
            // Unless another row was shown, or a line chosen, meanwhile.
            const Recordset *rs = d.session.recordset();
            const bool same = !keyed || (rs && rs->hasCurrentRow() && rs->Bookmark() == key);
            if (same && m_view->currentRow() < 0)
                selectQuietly(row);
        });
    return keyed;
}

void RecordListPane::SETPRIMO()
{
    d.panel.emptyTable();
    try {
        if (!d.session.recordset() || d.session.recordset()->intent() != CursorIntent::Change)
            d.session.open(d.session.wholeTable(), CursorIntent::Change);
        d.session.recordset()->AddNew();
    } catch (const DataError &e) {
        d.actions.readFailed(e);
    }
    for (int i = 1; i < d.fields.CmbBounded.size(); ++i)
        if (QComboBox *c = d.fields.CmbBounded[i]; c && !c->property("Tag").toString().isEmpty())
            c->setCurrentText(QString());
    m_view->clear();
    m_view->setEnabled(false);
    d.actions.LoccaRecord(false);
    d.actions.SETINDICI(true);
    if (d.q->isVisible())
        d.window.CTRLSETFOCUS(d.firstControl);
}

} // namespace Norvix
