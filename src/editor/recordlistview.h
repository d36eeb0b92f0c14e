#pragma once

// The list box of the editor over the lazy record list model: lines by position, the key of a line,
// the selected line, and a signal when the user (or the editor) selects another one.
//
// Rows are counted from the top of the whole list. The view itself holds a window of at most
// kWindowRows lines of the list (an item view keeps an entry per line it holds, which at ten
// million lines would be some 80 MB); its vertical scroll bar spans the whole list, and the window
// moves under it wherever the user scrolls or the selection goes.

#include "norvix_export.h"

#include <QElapsedTimer>
#include <QTableView>
#include <QVariantList>

#include <memory>

namespace Norvix {

class RecordListModel;
class LineWindow;

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
    /// Takes the model back from the view, which is left empty.
    std::unique_ptr<RecordListModel> takeRecordModel();

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
    /// Forgets the selected line without a signal (the lines were read again from scratch).
    void forgetCurrentRow();
    /// Empties the list.
    void clear();
    /// The first line the view shows (0 when empty), and the view scrolled to show `row` first.
    int topRow() const;
    void showAtTop(int row);

    /// The most lines the view holds at once, and the first line it holds now.
    static constexpr int kWindowRows = 100000;
    int windowStart() const { return m_base; }

    void scrollTo(const QModelIndex &index, ScrollHint hint = EnsureVisible) override;
    /// Letters typed in the list go to the first line whose description starts with them, in any
    /// letter case; letters typed within a second of the last add to the text. The line is
    /// looked for in the database, away from the window, so it may be far past the lines read.
    void keyboardSearch(const QString &search) override;

signals:
    /// The selected line changed (-1: none).
    void currentRowChanged(int row);

protected:
    // Focus alone selects no line: the selected line is always the row the editor shows.
    void focusInEvent(QFocusEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void updateGeometries() override;
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;

private:
    void connectSelection();
    bool windowed() const; // the list has more lines than the view holds
    int visibleRows() const;
    // Moves the window to start at line `base` (clamped), keeping the selected line.
    void moveWindow(int base);
    // Moves the window, if need be, so that lines first..last are in it with room around them.
    void bringIntoWindow(int first, int last);
    void syncScrollBar();
    std::unique_ptr<RecordListModel> m_model;
    std::unique_ptr<LineWindow> m_window;
    int m_base = 0;
    int m_parked = -1;       // the selected line while the window is elsewhere
    int m_lastEmitted = -1;
    bool m_quiet = false;    // moving the window: selection changes are not the user's
    bool m_syncing = false;  // setting the scroll bar from the window
    QString m_typed;         // the letters typed, while they follow each other
    QElapsedTimer m_typing;
};

} // namespace Norvix
