#pragma once

// The field controls of one editor: the control arrays by kind (element i serves the field whose
// ordinal is i; element 0, the template, is never made), every widget in the order it was made,
// and the field control of each described field.

#include "editor/fieldcontrols.h"

#include <QHash>
#include <QList>
#include <QPointer>
#include <QVector>

#include <memory>
#include <vector>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace Norvix {

class FieldSet
{
public:
    FieldSet();
    ~FieldSet();

    // The element of an array, or nullptr when it was not made.
    template <typename T>
    static T *element(const QVector<QPointer<T>> &array, int index)
    {
        return index > 0 && index < array.size() ? array[index].data() : nullptr;
    }

    // Adds the field control of a described field (its widgets are in the arrays already).
    FieldControl *add(std::unique_ptr<FieldControl> field);
    // The field control a widget belongs to (its input, its combo or its boxes), or nullptr.
    FieldControl *fieldOf(const QWidget *widget) const;
    // Every field control, in the order of the descriptor.
    const std::vector<std::unique_ptr<FieldControl>> &all() const { return m_fields; }
    // Empties every bound field control.
    void clearBound();
    // The field bound to a column (letter case ignored), or nullptr.
    FieldControl *bound(const QString &column) const;
    // A widget made for a field, in the order made.
    void made(QWidget *widget) { m_widgets.append(widget); }
    const QList<QWidget *> &widgets() const { return m_widgets; }

    QVector<QPointer<QLineEdit>> TxtText, TxtNumeric, TxtDate, txtFile, TxtUMOD, TxtLabel, TxtDesc;
    QVector<QPointer<QPlainTextEdit>> TxtMemo;
    QVector<QPointer<QCheckBox>> ChkBoolean;
    QVector<QPointer<QComboBox>> CmbBounded;
    QVector<QPointer<QPushButton>> CmdShowBin;

private:
    std::vector<std::unique_ptr<FieldControl>> m_fields;
    QHash<const QWidget *, FieldControl *> m_byWidget;
    QList<QWidget *> m_widgets;
};

} // namespace Norvix
