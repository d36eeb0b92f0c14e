#include "editor/recordlistview.h"

#include "editor/recordlist.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QScrollBar>

#include <algorithm>
#include <functional>

namespace Norvix {

// The lines of the record list that the view holds: at most kWindowRows of them, from line
// `base` on. Tells the view when the list grew or shrank.
class LineWindow : public QAbstractTableModel
{
public:
    LineWindow(RecordListModel *source, std::function<void()> resized) : m_source(source), m_resized(std::move(resized))
    {
        m_rows = std::min(total(), RecordListView::kWindowRows);
        connect(source, &QAbstractItemModel::modelAboutToBeReset, this, [this] { beginResetModel(); });
        connect(source, &QAbstractItemModel::modelReset, this, [this] {
            m_base = 0;
            m_rows = std::min(total(), RecordListView::kWindowRows);
            endResetModel();
            m_resized();
        });
        connect(source, &QAbstractItemModel::rowsInserted, this, &LineWindow::follow);
        connect(source, &QAbstractItemModel::rowsRemoved, this, &LineWindow::follow);
        connect(source, &QAbstractItemModel::dataChanged, this,
                [this](const QModelIndex &from, const QModelIndex &to, const QList<int> &roles) {
                    const int first = std::max(from.row(), m_base);
                    const int last = std::min(to.row(), m_base + m_rows - 1);
                    if (first <= last)
                        emit dataChanged(index(first - m_base, from.column()), index(last - m_base, to.column()), roles);
                });
    }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override { return parent.isValid() ? 0 : m_rows; }
    int columnCount(const QModelIndex &parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : m_source->columnCount();
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
        return index.isValid() ? m_source->data(m_source->index(m_base + index.row(), index.column()), role) : QVariant();
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        return orientation == Qt::Horizontal ? m_source->headerData(section, orientation, role)
                                             : QAbstractTableModel::headerData(section, orientation, role);
    }
    int total() const { return m_source->rowCount(); }
    void setBase(int base)
    {
        m_base = base;
        if (m_rows > 0)
            emit dataChanged(index(0, 0), index(m_rows - 1, columnCount() - 1));
    }

private:
    // Lines added or removed at the end of the list: the window grows or shrinks with it while
    // the whole list fits.
    void follow()
    {
        const int rows = std::min(total(), RecordListView::kWindowRows);
        if (rows > m_rows) {
            beginInsertRows(QModelIndex(), m_rows, rows - 1);
            m_rows = rows;
            endInsertRows();
        } else if (rows < m_rows) {
            beginRemoveRows(QModelIndex(), rows, m_rows - 1);
            m_rows = rows;
            endRemoveRows();
        }
        m_resized();
    }

    RecordListModel *m_source;
    std::function<void()> m_resized;
    int m_base = 0;
    int m_rows = 0;
};

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

RecordListView::~RecordListView()
{
    setModel(nullptr); // the window goes before the view
}

RecordListModel *RecordListView::recordModel() const
{
    return m_model.get();
}

std::unique_ptr<RecordListModel> RecordListView::takeRecordModel()
{
    setModel(nullptr);
    m_window.reset();
    m_base = 0;
    m_parked = -1;
    return std::move(m_model);
}

void RecordListView::clear()
{
    setRecordModel(nullptr);
}

void RecordListView::setRecordModel(std::unique_ptr<RecordListModel> model)
{
    auto window = model ? std::make_unique<LineWindow>(model.get(), [this] {
        moveWindow(m_base); // within the list's new length
        updateGeometries();
    })
                        : nullptr;
    m_base = 0;
    m_parked = -1;
    setModel(window.get());
    m_window = std::move(window);
    m_model = std::move(model);
    connectSelection();
    // A search's rows show as columns, under their captions.
    const bool columns = m_model && m_model->isSearch();
    horizontalHeader()->setVisible(columns);
    horizontalHeader()->setStretchLastSection(true);
    if (columns)
        horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    if (windowed())
        updateGeometries(); // the scroll bar spans the whole list before any line is selected
}

void RecordListView::connectSelection()
{
    if (QItemSelectionModel *s = selectionModel())
        connect(s, &QItemSelectionModel::currentRowChanged, this, [this](const QModelIndex &current) {
            if (m_quiet)
                return;
            m_parked = -1;
            emit currentRowChanged(current.isValid() ? m_base + current.row() : -1);
        });
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
    return currentIndex().isValid() ? m_base + currentIndex().row() : m_parked;
}

void RecordListView::setCurrentRow(int row)
{
    if (!m_model)
        return;
    if (row < 0 || row >= count()) {
        const bool parked = m_parked >= 0;
        m_parked = -1;
        selectionModel()->clearSelection();
        if (currentIndex().isValid())
            setCurrentIndex(QModelIndex());
        else if (parked)
            emit currentRowChanged(-1);
        return;
    }
    bringIntoWindow(row, row);
    const QModelIndex index = m_window->index(row - m_base, 0);
    scrollTo(index);
    setCurrentIndex(index);
}

int RecordListView::topRow() const
{
    if (windowed())
        return verticalScrollBar()->value();
    return std::max(0, rowAt(0));
}

void RecordListView::showAtTop(int row)
{
    if (!m_model || row < 0 || row >= count())
        return;
    bringIntoWindow(row, std::min(count() - 1, row + visibleRows()));
    scrollTo(m_window->index(row - m_base, 0), PositionAtTop);
}

void RecordListView::forgetCurrentRow()
{
    m_parked = -1;
    if (selectionModel())
        selectionModel()->reset();
}

void RecordListView::keyboardSearch(const QString &search)
{
    if (!m_model || search.isEmpty())
        return;
    if (!m_typing.isValid() || m_typing.elapsed() > 1000)
        m_typed.clear();
    m_typing.restart();
    m_typed += search;
    m_model->findLine(m_typed, [this](int row) {
        if (row != currentRow())
            setCurrentRow(row);
    });
}

bool RecordListView::windowed() const
{
    return m_window && m_window->total() > m_window->rowCount();
}

int RecordListView::visibleRows() const
{
    return std::max(1, verticalScrollBar()->pageStep());
}

void RecordListView::moveWindow(int base)
{
    if (!m_window)
        return;
    base = std::clamp(base, 0, std::max(0, m_window->total() - m_window->rowCount()));
    if (base == m_base)
        return;
    const int current = currentRow();
    m_quiet = true;
    m_base = base;
    m_window->setBase(base);
    if (current >= 0) {
        const int at = current - base;
        if (at >= 0 && at < m_window->rowCount()) {
            selectionModel()->setCurrentIndex(m_window->index(at, 0),
                                              QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            m_parked = -1;
        } else {
            selectionModel()->clear();
            m_parked = current;
        }
    }
    m_quiet = false;
}

void RecordListView::bringIntoWindow(int first, int last)
{
    if (!windowed())
        return;
    // Room around the lines, so that a page up or down never reaches the window's edge.
    constexpr int kRoom = kWindowRows / 10;
    const int end = m_base + m_window->rowCount();
    const bool roomBefore = first >= m_base + kRoom || (m_base == 0 && first >= 0);
    const bool roomAfter = last < end - kRoom || (end >= m_window->total() && last < end);
    if (!roomBefore || !roomAfter)
        moveWindow(first - (kWindowRows - (last - first)) / 2);
}

void RecordListView::syncScrollBar()
{
    // The scroll bar's value is the list's top line; the view's own offset counts from the window.
    QScrollBar *bar = verticalScrollBar();
    const int top = bar->value();
    bringIntoWindow(top, top + visibleRows());
    if (bar->maximum() > 0 && top == bar->maximum())
        verticalHeader()->setOffsetToLastSection();
    else
        verticalHeader()->setOffsetToSectionPosition(top - m_base);
    viewport()->update();
}

void RecordListView::focusInEvent(QFocusEvent *event)
{
    // An item view given the focus without a current line makes its first line current, which
    // would load that row while the fields show another (the one shown after a search, a delete).
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void RecordListView::scrollContentsBy(int dx, int dy)
{
    if (!windowed()) {
        QTableView::scrollContentsBy(dx, dy);
        return;
    }
    if (dx)
        QTableView::scrollContentsBy(dx, 0);
    if (dy && !m_syncing)
        syncScrollBar();
}

void RecordListView::updateGeometries()
{
    if (!windowed()) {
        QTableView::updateGeometries();
        return;
    }
    QScrollBar *bar = verticalScrollBar();
    const int top = bar->value();
    m_syncing = true;
    QTableView::updateGeometries(); // sets the page step; its range is the window's
    bar->setRange(0, std::max(0, m_window->total() - visibleRows()));
    bar->setValue(top);
    m_syncing = false;
    syncScrollBar();
}

void RecordListView::scrollTo(const QModelIndex &index, ScrollHint hint)
{
    if (!windowed()) {
        QTableView::scrollTo(index, hint);
        return;
    }
    if (m_quiet || !index.isValid())
        return;
    const int row = m_base + index.row();
    const int visible = visibleRows();
    QScrollBar *bar = verticalScrollBar();
    int top = bar->value();
    switch (hint) {
    case EnsureVisible:
        if (row < top)
            top = row;
        else if (row >= top + visible)
            top = row - visible + 1;
        break;
    case PositionAtTop: top = row; break;
    case PositionAtBottom: top = row - visible + 1; break;
    case PositionAtCenter: top = row - visible / 2; break;
    }
    bar->setValue(top);
}

QModelIndex RecordListView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers)
{
    if (windowed()) {
        // The window first goes where the cursor is, or to the list's start or end.
        if ((cursorAction == MoveHome || cursorAction == MoveEnd) && modifiers.testFlag(Qt::ControlModifier)) {
            moveWindow(cursorAction == MoveHome ? 0 : m_window->total());
            return m_window->index(cursorAction == MoveHome ? 0 : m_window->rowCount() - 1, 0);
        }
        if (const int current = currentRow(); current >= 0)
            bringIntoWindow(current, current);
    }
    return QTableView::moveCursor(cursorAction, modifiers);
}

} // namespace Norvix
