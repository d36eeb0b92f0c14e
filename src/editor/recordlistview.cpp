#include "editor/recordlistview.h"

#include "editor/recordlist.h"

#include <QHeaderView>
#include <QItemSelectionModel>

namespace Norvix {

RecordListView::RecordListView(QWidget *parent) : QTableView(parent)
{
    // A one-column table with rows of one fixed height: neither lays out nor measures every line,
    // so the list stays lazy on millions of rows.
    horizontalHeader()->hide();
    verticalHeader()->hide();
    horizontalHeader()->setStretchLastSection(true);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 2);
    setShowGrid(false);
    setWordWrap(false);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
}

RecordListView::~RecordListView() = default;

RecordListModel *RecordListView::recordModel() const
{
    return m_model.get();
}

void RecordListView::clear()
{
    setRecordModel(nullptr);
}

void RecordListView::setRecordModel(std::unique_ptr<RecordListModel> model)
{
    setModel(model.get());
    m_model = std::move(model);
    connectSelection();
}

void RecordListView::connectSelection()
{
    if (QItemSelectionModel *s = selectionModel())
        connect(s, &QItemSelectionModel::currentRowChanged, this,
                [this](const QModelIndex &current) { emit currentRowChanged(current.isValid() ? current.row() : -1); });
}

int RecordListView::count() const
{
    return m_model ? m_model->rowCount() : 0;
}

QString RecordListView::lineAt(int row) const
{
    return m_model ? m_model->lineAt(row) : QString();
}

QVariantList RecordListView::keyAt(int row) const
{
    return m_model ? m_model->keyAt(row) : QVariantList();
}

int RecordListView::rowOfKey(const QVariantList &key) const
{
    return m_model ? m_model->rowOfKey(key) : -1;
}

int RecordListView::currentRow() const
{
    return currentIndex().isValid() ? currentIndex().row() : -1;
}

void RecordListView::setCurrentRow(int row)
{
    if (!m_model)
        return;
    if (row < 0 || row >= m_model->rowCount()) {
        selectionModel()->clearSelection();
        setCurrentIndex(QModelIndex());
        return;
    }
    const QModelIndex index = m_model->index(row, 0);
    scrollTo(index);
    setCurrentIndex(index);
}

} // namespace Norvix
