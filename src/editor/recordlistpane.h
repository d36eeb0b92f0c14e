#pragma once

// The record list of the editor (LstSelect): filling it (RIEMPILISTA), loading the row of the
// line the user selects (LstSelect_Click), and the empty table's state (SETPRIMO).

#include <QVariantList>

#include <functional>
#include <memory>
#include <optional>

class QWidget;

namespace Norvix {

class CommandPanel;
class DataError;
class EditorData;
class FieldSet;
class RecordListView;
class RowSession;
class WindowLayout;
struct EditorState;

class RecordListPane
{
public:
    // What the list asks of the editor.
    struct Calls
    {
        std::function<std::shared_ptr<void>()> busy; // held while an operation of the editor is under way
        std::function<bool()> interrupting;          // a call from a timer while an operation waits
        std::function<void(const DataError &)> readFailed;
        std::function<void()> showRecord;
        std::function<void()> rowsChanged; // a row was saved, added or deleted while a search's rows show
        std::function<void()> readyForNew; // the fields unlocked and the key fields open for a new row
    };

    // The parts it works with.
    struct Parts
    {
        QWidget &window;
        EditorState &state;
        EditorData &data;
        RowSession &session;
        FieldSet &fields;
        WindowLayout &layout;
        CommandPanel &panel;
    };
    RecordListPane(Parts parts, Calls calls);

    void create();
    RecordListView *view() const { return m_view; }

    void RIEMPILISTA();
    // RIEMPILISTA when line `row` shows the row with key `key`; `rowsAdded` given after the
    // editor's own save or delete (see RecordListModel::refreshAround).
    void refreshAround(int row, const QVariantList &key, std::optional<int> rowsAdded = std::nullopt);
    // Others changed the table: the lines are read again in place, the first line shown and the
    // selected line staying on their rows (see RecordListModel::liveRefresh). Nothing while the
    // list still reads (isReading).
    void liveRefresh();
    // The list still reads: the counts of the last liveRefresh, or pages on their way.
    bool isReading() const;
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
    Parts m;
    Calls m_calls;
    RecordListView *m_view = nullptr;
};

} // namespace Norvix
