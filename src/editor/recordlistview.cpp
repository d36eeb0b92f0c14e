#include "editor/recordlistview.h"

#include <QItemSelectionModel>

namespace Norvix {

RecordListView::RecordListView(QWidget *parent) : QListView(parent)
{
    setUniformItemSizes(true); // no line is measured beyond the first: the list stays lazy
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
}

void RecordListView::setRecordModel(std::unique_ptr<RecordListModel> model)
{
    QAbstractItemModel *old = QListView::model();
    setModel(model.get());
    m_model = std::move(model);
    Q_UNUSED(old);
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
