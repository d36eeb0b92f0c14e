#pragma once

// The list box of the editor over the lazy record list model: lines by position, the key of a line,
// the selected line, and a signal when the user (or the editor) selects another one.

#include "editor/recordlist.h"

#include <QTableView>

#include <memory>

namespace Norvix {

class RecordListView : public QTableView
{
    Q_OBJECT

public:
    explicit RecordListView(QWidget *parent = nullptr);

    // Shows `model` (owned by the view from now on); nullptr empties the list.
    void setRecordModel(std::unique_ptr<RecordListModel> model);
    RecordListModel *recordModel() const { return m_model.get(); }

    int count() const;
    QString lineAt(int row) const;
    QVariantList keyAt(int row) const;
    int rowOfKey(const QVariantList &key) const;
    int currentRow() const;
    // Selects a line (-1: none); emits currentRowChanged when the line changes.
    void setCurrentRow(int row);
    void clear() { setRecordModel(nullptr); }

signals:
    void currentRowChanged(int row);

private:
    void connectSelection();
    std::unique_ptr<RecordListModel> m_model;
};

} // namespace Norvix
