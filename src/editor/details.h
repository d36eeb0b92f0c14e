#pragma once

// The details of the edited record (DETTAGLIO lines: an order's lines): one grid per detail on its
// page, under the page's fields, and the lines it holds (a LineSet the row session writes with the
// row, in one transaction). The grids follow the row in hand: they read its lines again whenever
// another row is in hand, the row is written or its changes are dropped.

#include "descriptor/descriptor.h"
#include "session/rowsession.h"

#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QWidget;

namespace Norvix {

class DetailGrid;
class EditorData;
class LineSet;
class Lookups;
class WindowLayout;
struct EditorState;

class Details : public RowObserver
{
public:
    struct Parts
    {
        QWidget &window;
        EditorState &state;
        EditorData &data;
        RowSession &session;
        WindowLayout &layout;
        Lookups &lookups;
    };
    struct Calls
    {
        std::function<void()> edited; // a line changed: the row shows as modified
        std::function<bool()> busy;   // an operation of the editor is under way
    };
    Details(Parts parts, Calls calls);
    ~Details() override;
    Details(const Details &) = delete;
    Details &operator=(const Details &) = delete;

    // Builds a grid for each detail of the record, on its page under the fields (after the
    // fields are placed, before the tabs are made). A detail whose child record is not described
    // is told and left out.
    void build();
    bool isEmpty() const { return m_details.empty(); }
    // Closes every open cell editor, checking its value: false when one is refused.
    bool finishEditing();
    void setReadOnly(bool readOnly);
    // Drops the changes of every line (a new row's changes dropped).
    void clear();
    // The row shown may be another than the lines' (the recordset moved to it): the grids then
    // show its lines.
    void follow();
    // A save or delete stopped by a line (outcome.line): told, naming the line and the column,
    // its cell selected. A line changed or deleted meanwhile is explained in FrmConflitto; true
    // when the user chose to write over it (the save is to be run again).
    bool lineFailed(const RowOutcome &outcome);

    void rowReplaced(const RowSession &) override { reload(); }
    void rowWritten(const RowSession &, RowWrite) override { reload(); }
    // Others changed the lines of `table` (empty: of any detail): the grids whose lines hold no
    // change read them again.
    void liveRefresh(const QString &table);
    // The last operation of the editor ended: the grids read the lines it left them to read.
    void operationEnded();

private:
    struct Detail
    {
        std::unique_ptr<LineSet> lines;
        QPointer<DetailGrid> grid;
        std::shared_ptr<Rec> child;
    };
    void reload();
    bool resolveConflict(Detail &detail, int id);
    Detail *detailOf(int number);

    Parts m;
    Calls m_calls;
    std::vector<Detail> m_details;
    bool m_reloadWanted = false; // asked for during an operation
};

} // namespace Norvix
