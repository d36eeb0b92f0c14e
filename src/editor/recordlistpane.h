#pragma once

// The record list of the editor (LstSelect): filling it (RIEMPILISTA), loading the row of the
// line the user selects (LstSelect_Click), and the empty table's state (SETPRIMO).

#include <QVariantList>

#include <optional>

namespace Norvix {

class FrmEditTabPrivate;
class RecordListView;

class RecordListPane
{
public:
    explicit RecordListPane(FrmEditTabPrivate &d);

    void create();
    RecordListView *view() const { return m_view; }

    void RIEMPILISTA();
    // RIEMPILISTA when line `row` shows the row with key `key`; `rowsAdded` given after the
    // editor's own save or delete (see RecordListModel::refreshAround).
    void refreshAround(int row, const QVariantList &key, std::optional<int> rowsAdded = std::nullopt);
    void LstSelect_Click();
    // Selects a line so that its row is loaded again (none, then that line).
    void selectLine(int row);
    // Selects a line (-1: none) without loading its row.
    void selectQuietly(int row);
    // Shows the row with this key, opened for change, and selects its line once it is found
    // (away from the window). False when there is no such row, or the record has no key fields
    // (then only its line is selected).
    bool showRow(const QVariantList &key);
    void SETPRIMO();

private:
    FrmEditTabPrivate &d;
    RecordListView *m_view = nullptr;
};

} // namespace Norvix
