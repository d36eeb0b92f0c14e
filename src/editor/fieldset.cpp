#include "editor/fieldset.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace Norvix {

FieldSet::FieldSet()
{
    // Element 0 of every array is the template: never shown, never bound.
    for (auto *array : {&TxtText, &TxtNumeric, &TxtDate, &txtFile, &TxtUMOD, &TxtLabel, &TxtDesc})
        array->resize(1);
    TxtMemo.resize(1);
    ChkBoolean.resize(1);
    CmbBounded.resize(1);
    CmdShowBin.resize(1);
}

FieldSet::~FieldSet() = default;

FieldControl *FieldSet::add(std::unique_ptr<FieldControl> field)
{
    FieldControl *f = field.get();
    for (const QWidget *w : {static_cast<const QWidget *>(f->input()), static_cast<const QWidget *>(f->focusTarget()),
                             static_cast<const QWidget *>(f->caption()), static_cast<const QWidget *>(f->description())})
        if (w)
            m_byWidget.insert(w, f);
    m_fields.push_back(std::move(field));
    return f;
}

FieldControl *FieldSet::fieldOf(const QWidget *widget) const
{
    return m_byWidget.value(widget);
}

FieldControl *FieldSet::bound(const QString &column) const
{
    for (const auto &f : m_fields)
        if (!f->column().isEmpty() && f->column().compare(column, Qt::CaseInsensitive) == 0)
            return f.get();
    return nullptr;
}

void FieldSet::clearBound()
{
    for (const auto &f : m_fields) {
        if (f->column().isEmpty())
            continue;
        f->setText(QString());
        if (auto *lookup = dynamic_cast<LookupField *>(f.get()))
            lookup->combo()->setCurrentText(QString());
    }
}

} // namespace Norvix
