#pragma once

// The field controls of the editor, one class per kind of control: what the editor asks of each
// (read and write its value, show a column of the row, validate and format it when it is left,
// filter its keys, lock it). Each wraps the widgets of one described field: its input (element i
// of TxtText, TxtNumeric, TxtDate, TxtMemo, txtFile, TxtUMOD, ChkBoolean, CmdShowBin, or for a
// lookup CmbBounded(i) with its hidden code box TxtText(i)), its caption box TxtLabel(i) and
// its description box TxtDesc(i). The widgets keep the dynamic properties the editor documents
// ("DataField", "Tag", "Index", "DataChanged").

#include "descriptor/descriptor.h"
#include "session/checkvalue.h"
#include "platform/values.h"

#include <QComboBox>
#include <QDateTime>
#include <QLineEdit>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <QWidget>

#include <memory>
#include <optional>

class QKeyEvent;

namespace Norvix {

struct Field;
class FieldControl;
class LookupField;

// The text a widget of the editor shows, and setting it (not a user edit: its changed flag is
// cleared). Any widget: line edits, memos, combo boxes, check boxes ("1"/"0"), buttons.
QString widgetText(const QWidget *widget);
void setWidgetText(QWidget *widget, const QString &text);

// What a field control needs of the editor when it is left.
class FieldContext
{
public:
    virtual ~FieldContext() = default;
    // The value in the field's display picture.
    virtual QString format(const QString &value, const QString &field) = 0;
    // Reports the value as invalid and puts the focus back on the control.
    virtual void invalid(QWidget *control) = 0;
    // A field others depend on was left: their lookups are listed again.
    virtual void refill(FieldControl &source) = 0;
    // The description of a coded value, beside the input.
    virtual void describe(FieldControl &field) = 0;
    // A lookup combo was left.
    virtual void lookupLeft(LookupField &lookup) = 0;
    // A new row is being entered, and the database numbers the field's column when it is left empty.
    virtual bool numberedByDatabase(const QString &field) = 0;
};

class FieldControl
{
public:
    FieldControl(CampoPtr campo, QWidget *input);
    virtual ~FieldControl();
    FieldControl(const FieldControl &) = delete;
    FieldControl &operator=(const FieldControl &) = delete;

    const CampoPtr &campo() const { return m_campo; }
    // The bound control (a lookup's hidden code box) and the one that takes the focus.
    QWidget *input() const { return m_input; }
    virtual QWidget *focusTarget() const { return m_input; }
    int index() const;
    // The column it is bound to ("" for a field never bound).
    QString column() const;
    QLineEdit *caption() const { return m_caption; }
    QLineEdit *description() const { return m_description; }
    void setBoxes(QLineEdit *caption, QLineEdit *description);

    // The text shown, and setting it (not a user edit).
    virtual QString text() const;
    virtual void setText(const QString &text);
    // What a save writes into the column; what the field rules check at a save.
    virtual QVariant value() const { return text(); }
    virtual QVariant checkedValue() const { return text(); }
    // Shows a column of the row.
    virtual void show(const Field &field);
    // Edited by the user since it was last shown or checked.
    bool changed() const;
    void setChanged(bool changed);
    // Validates and formats the value when the user leaves the control.
    virtual void leave(FieldContext &context);
    // A key pressed in the control: true when the kind refuses it.
    virtual bool refusesKey(const QKeyEvent *key) const;
    // Disables the input and its description box (enables them with false).
    virtual void setLocked(bool locked);
    // A field of the kinds shown but never edited (counters, stamps, hidden): never unlocked.
    bool alwaysLocked() const;

protected:
    // Fails the field rules and is not empty.
    bool invalid(const QString &text) const;

private:
    CampoPtr m_campo;
    QPointer<QWidget> m_input;
    QPointer<QLineEdit> m_caption;
    QPointer<QLineEdit> m_description;
};

// TxtText: text, and the kinds shown as text (special, locked, hidden, unknown).
class TextField : public FieldControl
{
public:
    using FieldControl::FieldControl;
    void leave(FieldContext &context) override;
    bool refusesKey(const QKeyEvent *key) const override;
};

// TxtNumeric: numbers, read in the regional form; the key filter lets only digits and signs in.
class NumericField : public TextField
{
public:
    using TextField::TextField;
    QVariant value() const override;
    QVariant checkedValue() const override;
    void leave(FieldContext &context) override;
    bool refusesKey(const QKeyEvent *key) const override;
};

// TxtDate: dates; the key filter lets only digits, blanks and slashes in, and the time
// separators ":" and "." where the picture shows a time. What is saved is what was typed, not its
// display form (a picture may hide the seconds typed), and the parts of the date the picture
// hides keep the row's value (a date-only picture never drops a stored time).
class DateField : public FieldControl
{
public:
    DateField(CampoPtr campo, QWidget *input);
    void setText(const QString &text) override;
    QVariant value() const override;
    void show(const Field &field) override;
    void leave(FieldContext &context) override;
    bool refusesKey(const QKeyEvent *key) const override;

private:
    Values::PictureParts m_parts;      // what the field's picture shows
    std::optional<QDateTime> m_stored; // the value of the row shown
    QString m_typed, m_formatted;      // typed on the last leave, and its display form
};

// TxtMemo: long text, formatted and checked whenever it is left.
class MemoField : public FieldControl
{
public:
    using FieldControl::FieldControl;
    void leave(FieldContext &context) override;
    bool refusesKey(const QKeyEvent *key) const override;
};

// ChkBoolean: a check box; checked at a save as -1, 0, or -2 when greyed.
class BooleanField : public FieldControl
{
public:
    using FieldControl::FieldControl;
    QVariant value() const override;
    QVariant checkedValue() const override;
    void show(const Field &field) override;
};

// txtFile: a file name, chosen in a file dialog.
class FileField : public FieldControl
{
public:
    using FieldControl::FieldControl;
};

// TxtUMOD: the last-modified stamp, written by the editor at each save.
class StampField : public FieldControl
{
public:
    using FieldControl::FieldControl;
};

// CmdShowBin: a binary column, shown as a button, never written.
class BinaryField : public FieldControl
{
public:
    using FieldControl::FieldControl;
    QVariant value() const override { return QVariant(); }
};

// CmbBounded(i) with its hidden code box TxtText(i): a code picked from a referenced table.
class LookupField : public FieldControl
{
public:
    LookupField(CampoPtr campo, QLineEdit *code, QComboBox *combo);
    QComboBox *combo() const;
    QLineEdit *code() const;
    QWidget *focusTarget() const override;
    void leave(FieldContext &context) override;
    bool refusesKey(const QKeyEvent *key) const override;
    void setLocked(bool locked) override;

private:
    QPointer<QComboBox> m_combo;
};

// A typed character a kind of input lets through: digits, and signs for numbers.
bool refusedCharacter(const QString &allowed, const QKeyEvent *key);

} // namespace Norvix
