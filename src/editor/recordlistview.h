#pragma once

// The list box of the editor over the lazy record list model: lines by position, the key of a line,
// the selected line, and a signal when the user (or the editor) selects another one.

#include "norvix_export.h"

#include <QTableView>
#include <QVariantList>

#include <memory>

namespace Norvix {

class RecordListModel;

class NORVIX_EXPORT RecordListView : public QTableView
{
    Q_OBJECT

public:
    /// An empty list.
    explicit RecordListView(QWidget *parent = nullptr);
    ~RecordListView() override;

    /// Shows `model` (owned by the view from now on); nullptr empties the list.
    void setRecordModel(std::unique_ptr<RecordListModel> model);
    RecordListModel *recordModel() const;

    /// How many lines the list has, the text of a line, the key values of its row, and the line
    /// of a row (-1 when the list has none).
    int count() const;
    QString lineAt(int row) const;
    QVariantList keyAt(int row) const;
    int rowOfKey(const QVariantList &key) const;
    /// The selected line (-1: none).
    int currentRow() const;
    /// Selects a line (-1: none); emits currentRowChanged when the line changes.
    void setCurrentRow(int row);
    /// Empties the list.
    void clear();

signals:
    /// The selected line changed (-1: none).
    void currentRowChanged(int row);

private:
    void connectSelection();
    std::unique_ptr<RecordListModel> m_model;
};

} // namespace Norvix
