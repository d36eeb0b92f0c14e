#pragma once

// The grid of a detail: the lines of the child table that hang on the master row (an order's
// lines), edited in place. Under a caption with their number, a table of the child's fields,
// then the button that deletes the selected lines. The lines are read lazily (a master with
// 100,000 lines shows at once); what the user changes goes to the LineSet, which the master's
// save writes.

#include "descriptor/descriptor.h"
#include "platform/lookupquery.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QPushButton;
class QTableView;

namespace Norvix {

class Connection;
class DataError;
class DetailDelegate;
class DetailLookups;
class DetailModel;
class DetailView;
class LineSet;
struct DetailColumn;

class DetailGrid : public QWidget
{
    Q_OBJECT

public:
    struct Calls
    {
        std::function<void()> edited; // a line changed (the master row shows as modified)
        // The rows a lookup field of the child lists (code + description); none: shown as plain text.
        std::function<std::optional<LookupQuery>(const CampoPtr &)> lookupQuery;
    };
    // `reader` reads the lines shown; `lines` holds the changes (attached, its master set).
    DetailGrid(const Dettaglio &detail, std::shared_ptr<Rec> child, LineSet &lines,
               std::shared_ptr<Connection> reader, Calls calls, QWidget *parent = nullptr);
    ~DetailGrid() override;

    // Reads the master's lines again (lines.master()), dropping what the grid shows over them.
    void reload();
    // The stored lines read again, unless a cell is being typed or a line holds changes.
    void liveRefresh();
    void setReadOnly(bool readOnly);
    // Closes an open cell editor, checking its value: false when refused (the user was told, the
    // editor stays open with the text typed).
    bool finishEditing();
    // Selects the cell of line `id` (a LineSet id) and `column` (empty: the first), scrolled into
    // view, focused.
    void showLine(int id, const QString &column);
    // The 1-based number of line `id` as shown (for messages), -1 when not shown.
    int lineNumber(int id) const;
    QString caption(const QString &column) const; // the child field's caption (Desc)
    QTableView *view() const;
    DetailModel *model() const { return m_model; }

private:
    QList<DetailColumn> columns() const;
    bool setCell(const QModelIndex &index, const QVariant &input);
    std::optional<QVariant> typed(const DetailColumn &column, const QVariant &input) const;
    bool prepare(const QModelIndex &index);
    void deleteLines();
    void lineGone(const DataError &error);
    void showCount();

    Dettaglio m_detail;
    std::shared_ptr<Rec> m_child;
    LineSet &m_lines;
    Calls m_calls;
    std::unique_ptr<DetailLookups> m_lookups;
    DetailModel *m_model = nullptr;
    DetailView *m_view = nullptr;
    DetailDelegate *m_delegate = nullptr;
    QLabel *m_caption = nullptr;
    QPushButton *m_delete = nullptr;
};

} // namespace Norvix
