#include "editor/fieldcontrols.h"

#include "editor/columntext.h"
#include "platform/recordset.h"
#include "platform/values.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace Norvix {

QString widgetText(const QWidget *widget)
{
    if (auto *e = qobject_cast<const QLineEdit *>(widget))
        return e->text();
    if (auto *m = qobject_cast<const QPlainTextEdit *>(widget))
        return m->toPlainText();
    if (auto *c = qobject_cast<const QComboBox *>(widget))
        return c->currentText();
    if (auto *b = qobject_cast<const QCheckBox *>(widget))
        return b->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
    if (auto *p = qobject_cast<const QPushButton *>(widget))
        return p->text();
    return QString();
}

void setWidgetText(QWidget *widget, const QString &text)
{
    if (auto *e = qobject_cast<QLineEdit *>(widget)) {
        e->setText(text);
        e->setCursorPosition(0);
    } else if (auto *m = qobject_cast<QPlainTextEdit *>(widget)) {
        m->setPlainText(text);
    } else if (auto *c = qobject_cast<QComboBox *>(widget)) {
        c->setCurrentText(text);
    } else if (auto *b = qobject_cast<QCheckBox *>(widget)) {
        b->setChecked(!text.isEmpty() && text != u"0" && text.compare(u"False", Qt::CaseInsensitive) != 0);
    }
    widget->setProperty("DataChanged", false);
}

bool refusedCharacter(const QString &allowed, const QKeyEvent *key)
{
    const QString text = key->text();
    const bool character = text.size() == 1 && text.at(0).isPrint() && !(key->modifiers() & Qt::ControlModifier);
    return character && !allowed.contains(text);
}

namespace {

// At the field's length a typed character is refused (a longer paste is cut, see cutToLength).
bool atLength(const QWidget *input, const QKeyEvent *key)
{
    const int max = input->property("MaxLen").toInt();
    if (max <= 0)
        return false;
    const QString typed = key->text();
    const bool memo = qobject_cast<const QPlainTextEdit *>(input);
    const bool inserts = typed.size() == 1 && !(key->modifiers() & Qt::ControlModifier)
                         && (typed.at(0).isPrint() || (memo && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)));
    if (!inserts)
        return false;
    qsizetype length = 0, selected = 0;
    if (auto *e = qobject_cast<const QLineEdit *>(input)) {
        length = e->text().size();
        selected = e->selectedText().size();
    } else if (auto *m = qobject_cast<const QPlainTextEdit *>(input)) {
        length = m->toPlainText().size();
        selected = m->textCursor().selectedText().size();
    }
    return length - selected >= max;
}

} // namespace

// ---- every kind ------------------------------------------------------------------------------

FieldControl::FieldControl(CampoPtr campo, QWidget *input) : m_campo(std::move(campo)), m_input(input) {}

FieldControl::~FieldControl() = default;

int FieldControl::index() const
{
    return m_campo->Indice();
}

QString FieldControl::column() const
{
    return m_input ? m_input->property("DataField").toString() : QString();
}

void FieldControl::setBoxes(QLineEdit *caption, QLineEdit *description)
{
    m_caption = caption;
    m_description = description;
}

QString FieldControl::text() const
{
    return widgetText(m_input);
}

void FieldControl::setText(const QString &text)
{
    setWidgetText(m_input, text);
}

void FieldControl::show(const Field &field)
{
    // A Boolean column in a text input shows 1 or 0.
    if (field.isBoolean())
        setText(field.Value.isNull() || !field.Value.toBool() ? QStringLiteral("0") : QStringLiteral("1"));
    else
        setText(columnValueText(field.Value, field.Type));
}

bool FieldControl::changed() const
{
    return m_input->property("DataChanged").toBool();
}

void FieldControl::setChanged(bool changed)
{
    m_input->setProperty("DataChanged", changed);
}

void FieldControl::leave(FieldContext &) {}

bool FieldControl::refusesKey(const QKeyEvent *) const
{
    return false;
}

void FieldControl::setLocked(bool locked)
{
    if (m_input->property("NoColumn").toBool() || alwaysLocked())
        return; // no column to write it to, or built locked: never unlocked
    m_input->setEnabled(!locked);
    if (m_description)
        m_description->setEnabled(!locked);
}

bool FieldControl::alwaysLocked() const
{
    const QString kind = m_campo->ObjType().toUpper();
    return kind == u"LOCKEDFIELD" || kind == u"UMOD";
}

bool FieldControl::invalid(const QString &text) const
{
    QVariant copy = text;
    return !CHECKVALUE(copy, *m_campo) && !text.isEmpty();
}

// ---- text and numbers ------------------------------------------------------------------------

void TextField::leave(FieldContext &context)
{
    if (!changed())
        return;
    context.refill(*this);
    QString t = text();
    if (campo()->MaxLen() == 1)
        t = t.toUpper();
    setText(context.format(t, column()));
    if (invalid(text()))
        context.invalid(input());
    if (!campo()->RecRif().isEmpty())
        context.describe(*this);
    setChanged(true); // still a change of the row until it is saved
}

bool TextField::refusesKey(const QKeyEvent *key) const
{
    return atLength(input(), key);
}

QVariant NumericField::value() const
{
    // A picture may show fewer decimals than were typed: what was typed is what is saved.
    const QString shown = text();
    const QStringList exact = input()->property("Exact").toStringList();
    return exact.size() == 2 && exact.at(0) == shown ? exact.at(1) : shown;
}

QVariant NumericField::checkedValue() const
{
    return Values::typedNumberText(value().toString());
}

void NumericField::leave(FieldContext &context)
{
    if (!changed())
        return;
    context.refill(*this);
    // "12,75" is 12,75, not 12; a number the database gives a new row stays empty, never 0.
    const bool numbered = text().trimmed().isEmpty() && context.numberedByDatabase(column());
    const QString typed = numbered ? QString() : Values::typedNumberText(text());
    setText(numbered ? typed : context.format(typed, column()));
    input()->setProperty("Exact", QStringList{text(), typed});
    if (invalid(text()))
        context.invalid(input());
    if (!campo()->RecRif().isEmpty())
        context.describe(*this);
    setChanged(true);
}

bool NumericField::refusesKey(const QKeyEvent *key) const
{
    return refusedCharacter(QStringLiteral("0123456789,-."), key) || TextField::refusesKey(key);
}

// ---- dates and memos -------------------------------------------------------------------------

DateField::DateField(CampoPtr campo, QWidget *input)
    : FieldControl(campo, input), m_parts(Values::datePartsShown(campo->Format()))
{
}

void DateField::setText(const QString &text)
{
    FieldControl::setText(text);
    m_stored.reset();
    m_typed.clear();
}

void DateField::show(const Field &field)
{
    FieldControl::show(field);
    m_stored = Values::toDate(text()); // the row's whole value, before a picture shows part of it
}

QVariant DateField::value() const
{
    const QString shown = text();
    const QString typed = !m_typed.isEmpty() && shown == m_formatted ? m_typed : shown;
    const auto date = Values::toDate(typed);
    if (!date || !m_stored)
        return typed;
    // What the picture hides, the user could neither see nor change: it stays as stored. On a
    // SQLite DATE column holding a time too, a date-only picture thus keeps that time.
    QDateTime whole = *date;
    if (!m_parts.date && date->date() == QDate(1899, 12, 30))
        whole.setDate(m_stored->date());
    const QTime time = date->time(), stored = m_stored->time();
    if ((!m_parts.time && time == QTime(0, 0))
        || (!m_parts.seconds && time.second() == 0 && time.hour() == stored.hour() && time.minute() == stored.minute()))
        whole.setTime(stored);
    return whole == *date ? typed : Values::dateText(whole);
}

void DateField::leave(FieldContext &context)
{
    if (!changed())
        return;
    const QString t = text();
    // Text that is no date or time ("25:70") is told now, whatever the field's default: it could
    // not be saved.
    if (invalid(t) || (!t.isEmpty() && !Values::isDate(t))) {
        context.invalid(input());
    } else {
        m_formatted = context.format(t, column());
        m_typed = t;
        FieldControl::setText(m_formatted); // the row's value stays known
    }
    setChanged(true);
}

bool DateField::refusesKey(const QKeyEvent *key) const
{
    return refusedCharacter(m_parts.time ? QStringLiteral("0123456789 /:.") : QStringLiteral("0123456789 /"), key);
}

void MemoField::leave(FieldContext &context)
{
    setText(context.format(text(), column()));
    if (invalid(text()))
        context.invalid(input());
}

bool MemoField::refusesKey(const QKeyEvent *key) const
{
    return atLength(input(), key);
}

// ---- check boxes -----------------------------------------------------------------------------

QVariant BooleanField::value() const
{
    return qobject_cast<QCheckBox *>(input())->isChecked();
}

QVariant BooleanField::checkedValue() const
{
    const auto *box = qobject_cast<QCheckBox *>(input());
    return box->checkState() == Qt::PartiallyChecked ? -2 : (box->isChecked() ? -1 : 0);
}

void BooleanField::show(const Field &field)
{
    qobject_cast<QCheckBox *>(input())->setChecked(!field.Value.isNull() && field.Value.toBool());
    setChanged(false);
}

// ---- lookups ---------------------------------------------------------------------------------

LookupField::LookupField(CampoPtr campo, QLineEdit *code, QComboBox *combo)
    : FieldControl(std::move(campo), code), m_combo(combo)
{
}

QComboBox *LookupField::combo() const
{
    return m_combo;
}

QLineEdit *LookupField::code() const
{
    return qobject_cast<QLineEdit *>(input());
}

QWidget *LookupField::focusTarget() const
{
    return m_combo;
}

void LookupField::leave(FieldContext &context)
{
    context.lookupLeft(*this);
}

bool LookupField::refusesKey(const QKeyEvent *key) const
{
    // At the field's length the character codes 3, 8, 9 and 12 (control keys, never typed
    // characters here), 37, 39 and 46 ("%", "'" and ".") still pass. A lookup that shows a
    // description takes words of it too, longer than any code: there the code found is checked.
    const int max = campo()->MaxLen();
    if (max == 0 || !campo()->FieldRif().toString().isEmpty() || !m_combo || !m_combo->lineEdit() || !refusedCharacter(QStringLiteral("%'."), key))
        return false;
    // The selected text goes when a character is typed: it does not count.
    return m_combo->currentText().size() - m_combo->lineEdit()->selectedText().size() >= max;
}

void LookupField::setLocked(bool locked)
{
    FieldControl::setLocked(locked);
    if (!input()->property("NoColumn").toBool() && !alwaysLocked())
        m_combo->setEnabled(!locked);
}

} // namespace Norvix
