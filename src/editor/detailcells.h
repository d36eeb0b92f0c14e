#pragma once

// Editing the cells of a detail grid: the control of each field's kind (a line edit for a text at
// its length, a number in the regional form, a date in its picture; an editable combo for a
// lookup; check boxes toggle in place), and the view that checks a value when its cell is left
// (Tab, Shift+Tab, Enter, a click elsewhere): a value refused keeps its editor open with the
// text typed; Esc closes it with nothing set.

#include <QPersistentModelIndex>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTableView>

#include <functional>

namespace Norvix {

class DetailLookups;
class DetailModel;
class DetailView;

class DetailDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    DetailDelegate(DetailModel &model, DetailLookups &lookups, DetailView &view);

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
    void setModelData(QWidget *, QAbstractItemModel *, const QModelIndex &) const override {} // the view sets it
    void destroyEditor(QWidget *editor, const QModelIndex &index) const override;

    // Before a stored line's cell is edited (its line taken in hand): false, no editor.
    std::function<bool(const QModelIndex &)> prepare;
    // The open editor (none: null), its cell, and its text changed since it opened.
    QWidget *editor() const { return m_editor; }
    QModelIndex editedIndex() const { return m_index; }
    QString text() const;
    bool changed() const { return m_editor && text() != m_initial; }

protected:
    bool eventFilter(QObject *object, QEvent *event) override;

private:
    QWidget *lookupEditor(QWidget *parent, const QModelIndex &index) const;
    bool refusesKey(const QKeyEvent *key) const;

    DetailModel &m_model;
    DetailLookups &m_lookups;
    DetailView &m_view;
    mutable QPointer<QWidget> m_editor;
    mutable QPersistentModelIndex m_index;
    mutable QString m_initial;
};

class DetailView : public QTableView
{
    Q_OBJECT

public:
    struct Calls
    {
        // A value typed into a cell: false when refused (the user told).
        std::function<bool(const QModelIndex &, const QString &)> commit;
        std::function<void()> deleteLines; // Ctrl+Delete
    };
    explicit DetailView(QWidget *parent = nullptr);
    void setup(DetailDelegate *delegate, Calls calls);

    // Checks and closes an open editor: false when its value is refused.
    bool finishEditing();
    // Closes an open editor, nothing set.
    void cancelEditing();
    // A cell's editor is open.
    bool isEditing() const { return state() == EditingState; }
    // The current cell goes one line down.
    void moveDown();

protected:
    void commitData(QWidget *editor) override;
    void closeEditor(QWidget *editor, QAbstractItemDelegate::EndEditHint hint) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    DetailDelegate *m_delegate = nullptr;
    Calls m_calls;
    bool m_checking = false; // a value is being checked (its message shown)
    bool m_refused = false;  // the value just checked was refused: its editor stays
};

} // namespace Norvix
