#include "editor/detailcells.h"

#include "editor/detailmodel.h"
#include "editor/fieldcontrols.h"
#include "platform/dataerror.h"
#include "platform/values.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalBlocker>

#include <utility>

namespace Norvix {

using Editor = DetailColumn::Editor;

DetailDelegate::DetailDelegate(DetailModel &model, DetailLookups &lookups, DetailView &view)
    : QStyledItemDelegate(&view), m_model(model), m_lookups(lookups), m_view(view)
{
}

QWidget *DetailDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &, const QModelIndex &index) const
{
    if (m_editor || (prepare && !prepare(index)))
        return nullptr;
    const DetailColumn &c = m_model.column(index.column());
    QWidget *editor = nullptr;
    if (c.editor == Editor::Lookup) {
        editor = lookupEditor(parent, index);
    } else {
        auto *line = new QLineEdit(parent);
        line->setFrame(false);
        if (c.editor == Editor::Number)
            line->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        if (c.editor == Editor::Text && c.campo->MaxLen() > 0)
            line->setMaxLength(c.campo->MaxLen());
        editor = line;
    }
    m_editor = editor;
    m_index = index;
    return editor;
}

QWidget *DetailDelegate::lookupEditor(QWidget *parent, const QModelIndex &index) const
{
    const CampoPtr campo = m_model.column(index.column()).campo;
    auto *combo = new QComboBox(parent);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setCompleter(nullptr);
    try {
        combo->addItems(m_lookups.items(campo, QString()));
        if (!m_lookups.large(campo))
            return combo;
    } catch (const DataError &) {
        return combo; // nothing listed: a code typed is still checked when the cell is left
    }
    // A large table: the rows whose code starts with what is typed.
    QObject::connect(combo->lineEdit(), &QLineEdit::textEdited, combo, [this, combo, campo](const QString &typed) {
        try {
            const QStringList items = m_lookups.items(campo, typed);
            const int cursor = combo->lineEdit()->cursorPosition();
            const QSignalBlocker block(combo);
            combo->clear();
            combo->addItems(items);
            combo->setCurrentIndex(-1);
            combo->setEditText(typed);
            combo->lineEdit()->setCursorPosition(cursor);
        } catch (const DataError &) {
            // the list stays as it was
        }
    });
    return combo;
}

void DetailDelegate::setEditorData(QWidget *editor, const QModelIndex &index) const
{
    // Filled once, when it opens: the lines read meanwhile never overwrite what is typed.
    if (editor->property("Filled").toBool())
        return;
    editor->setProperty("Filled", true);
    m_initial = m_model.editText(index);
    if (auto *combo = qobject_cast<QComboBox *>(editor)) {
        combo->setCurrentIndex(-1);
        combo->setEditText(m_initial);
        combo->lineEdit()->selectAll();
    } else if (auto *line = qobject_cast<QLineEdit *>(editor)) {
        line->setText(m_initial);
        line->selectAll();
    }
    m_initial = text();
}

void DetailDelegate::destroyEditor(QWidget *editor, const QModelIndex &index) const
{
    if (editor == m_editor)
        m_editor = nullptr;
    QStyledItemDelegate::destroyEditor(editor, index);
}

QString DetailDelegate::text() const
{
    if (auto *combo = qobject_cast<QComboBox *>(m_editor.data()))
        return combo->currentText();
    auto *line = qobject_cast<QLineEdit *>(m_editor.data());
    return line ? line->text() : QString();
}

bool DetailDelegate::refusesKey(const QKeyEvent *key) const
{
    const DetailColumn &c = m_model.column(m_index.column());
    if (c.editor == Editor::Number)
        return refusedCharacter(QStringLiteral("0123456789,-."), key);
    if (c.editor == Editor::Date)
        return refusedCharacter(Values::datePartsShown(c.campo->Format()).time ? QStringLiteral("0123456789 /:.")
                                                                                : QStringLiteral("0123456789 /"),
                                key);
    return false;
}

bool DetailDelegate::eventFilter(QObject *object, QEvent *event)
{
    if (object != m_editor)
        return QStyledItemDelegate::eventFilter(object, event);
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (m_view.finishEditing())
                m_view.moveDown();
            return true;
        }
        if (refusesKey(key))
            return true;
    }
    // The focus going to the grid itself (a click on another cell): the view checks the value.
    const QWidget *to = QApplication::focusWidget();
    if (event->type() == QEvent::FocusOut && (to == &m_view || to == m_view.viewport()))
        return false;
    return QStyledItemDelegate::eventFilter(object, event);
}

// ---- the view --------------------------------------------------------------------------------

DetailView::DetailView(QWidget *parent) : QTableView(parent)
{
    setEditTriggers(DoubleClicked | EditKeyPressed | AnyKeyPressed);
    setTabKeyNavigation(true);
    setSelectionMode(ExtendedSelection);
    setSelectionBehavior(SelectItems);
}

void DetailView::setup(DetailDelegate *delegate, Calls calls)
{
    m_delegate = delegate;
    m_calls = std::move(calls);
    setItemDelegate(delegate);
}

void DetailView::commitData(QWidget *editor)
{
    if (m_checking || !m_delegate || editor != m_delegate->editor())
        return;
    m_refused = false;
    if (!m_delegate->changed())
        return; // nothing typed: nothing set
    m_checking = true;
    m_refused = !m_calls.commit(m_delegate->editedIndex(), m_delegate->text());
    m_checking = false;
}

void DetailView::closeEditor(QWidget *editor, QAbstractItemDelegate::EndEditHint hint)
{
    if (m_checking)
        return; // the focus went to the message that tells the check
    if (std::exchange(m_refused, false) && hint != QAbstractItemDelegate::RevertModelCache) {
        editor->setFocus();
        return;
    }
    QTableView::closeEditor(editor, hint);
}

bool DetailView::finishEditing()
{
    QWidget *editor = m_delegate ? m_delegate->editor() : nullptr;
    if (!editor)
        return true;
    if (m_checking)
        return false;
    commitData(editor);
    closeEditor(editor, QAbstractItemDelegate::NoHint);
    return !m_delegate->editor();
}

void DetailView::cancelEditing()
{
    m_refused = false;
    if (QWidget *editor = m_delegate ? m_delegate->editor() : nullptr)
        QTableView::closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
}

void DetailView::moveDown()
{
    const QModelIndex at = currentIndex();
    const QModelIndex below = model()->index(at.row() + 1, std::max(0, at.column()));
    if (below.isValid())
        setCurrentIndex(below);
}

void DetailView::keyPressEvent(QKeyEvent *event)
{
    // A modifier pressed alone (Shift before a capital letter) goes on to the key it modifies.
    switch (event->key()) {
    case Qt::Key_Shift: case Qt::Key_Control: case Qt::Key_Alt: case Qt::Key_AltGr: case Qt::Key_Meta:
    case Qt::Key_CapsLock: case Qt::Key_NumLock:
        event->ignore();
        return;
    default:
        break;
    }
    // A key the open editor left (an arrow) or typed in the grid beside it: its value first.
    if (!finishEditing())
        return;
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        moveDown();
        return;
    }
    if (event->key() == Qt::Key_Delete && (event->modifiers() & Qt::ControlModifier)) {
        if (m_calls.deleteLines)
            m_calls.deleteLines();
        return;
    }
    QTableView::keyPressEvent(event);
}

void DetailView::mousePressEvent(QMouseEvent *event)
{
    if (finishEditing())
        QTableView::mousePressEvent(event);
}

} // namespace Norvix
