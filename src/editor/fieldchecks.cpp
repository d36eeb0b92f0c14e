// Checking and formatting values: when a field is left, and all of them before a save.

#include "editor/frmedittab_p.h"
#include "platform/language.h"
#include "platform/messages.h"
#include "platform/values.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTabBar>

#include <algorithm>

namespace Norvix {

void FrmEditTabPrivate::markEdited(QWidget *control)
{
    if (control->property("DataChanged").toBool() && modified)
        return;
    control->setProperty("DataChanged", true);
    if (!modified)
        q->SETMODIFICATO();
}

bool FrmEditTabPrivate::fieldsChanged() const
{
    const QList<QWidget *> &controls = fields.widgets();
    return std::any_of(controls.cbegin(), controls.cend(), [](const QWidget *w) {
        return !w->property("DataField").toString().isEmpty() && widgetText(w) != w->property("ShownText").toString();
    });
}

bool FrmEditTabPrivate::CONTROLLOGENERALE()
{
    const auto campi = rec->Campi();
    for (const auto &f : fields.all()) {
        const QString field = f->column();
        if (field.isEmpty() || !campi->Contains(field) || dynamic_cast<BinaryField *>(f.get()))
            continue;
        // A lookup showing a text that matches nothing: its code would not be what the user sees.
        if (auto *lookup = dynamic_cast<LookupField *>(f.get()); lookup && !lookups.settle(*lookup))
            return false;
        const auto c = campi->Item(field);
        if (dynamic_cast<BooleanField *>(f.get())) {
            QVariant value = f->checkedValue();
            if (!CHECKVALUE(value, *c)) {
                msgBox(nxTr("Il campo '%1' è inesatto o mancante").arg(c->Desc()));
                return false;
            }
            continue;
        }
        QVariant value = f->value();
        if (value.toString().trimmed().isEmpty() && numberedByDatabase(field))
            continue; // left for the database to number
        if (c->ObjType().toUpper() == u"TXTNUMERIC") {
            // The number typed, read in the regional form; a value as shown from the row is left
            // as it is (a picture such as "Percent" shows what it could not be read back as).
            value = Values::typedNumberText(value.toString());
            if (f->text() != f->input()->property("ShownText").toString())
                f->setText(value.toString());
        }
        if (!CHECKVALUE(value, *c) && !c->MinVal().trimmed().isEmpty()) {
            msgBox(nxTr("Il campo %1 è inesatto o mancante").arg(c->Desc()));
            return false;
        }
    }
    return true;
}

void FrmEditTabPrivate::VALORENONVALIDO(QWidget *control)
{
    const int index = control->property("Index").toInt();
    QLineEdit *caption = FieldSet::element(fields.TxtLabel, index);
    msgBox(nxTr("Valore di %1 non valido.").arg(caption ? caption->text() : QString()), MsgButtons::OkOnly,
           q->windowTitle());
    window.showPageOf(control);
    control->setFocus(Qt::OtherFocusReason);
}

QString FrmEditTabPrivate::FORMATTA(const QString &Valore, const QString &nomecampo)
{
    const auto campi = rec ? rec->Campi() : nullptr;
    if (!campi)
        return Valore;
    if (!nomecampo.isEmpty()) {
        if (!campi->Contains(nomecampo))
            return Valore;
        const QString picture = campi->Item(nomecampo)->Format();
        return picture.trimmed().isEmpty() ? Valore : Values::format(QVariant(Valore), picture);
    }
    for (QWidget *w : fields.widgets()) {
        const QString field = w->property("DataField").toString();
        if (field.isEmpty() || !campi->Contains(field) || qobject_cast<QCheckBox *>(w))
            continue;
        const QString picture = campi->Item(field)->Format();
        if (picture.trimmed().isEmpty())
            continue;
        const QString t = widgetText(w);
        setWidgetText(w, t.isEmpty() ? t : Values::format(QVariant(t), picture));
    }
    return QString();
}

void FrmEditTabPrivate::lostFocus(QWidget *control)
{
    FieldControl *f = fields.fieldOf(control);
    if (f && f->focusTarget() == control && rec)
        f->leave(*this);
}

QString FrmEditTabPrivate::format(const QString &value, const QString &field)
{
    return FORMATTA(value, field);
}

bool FrmEditTabPrivate::numberedByDatabase(const QString &field)
{
    const Recordset *rs = session.recordset();
    const auto table = session.table();
    const int i = table->indexOf(field);
    return rs && rs->editMode() == EditMode::Add && i >= 0 && table->columns[i].assigned;
}

void FrmEditTabPrivate::invalid(QWidget *control)
{
    VALORENONVALIDO(control);
}

void FrmEditTabPrivate::refill(FieldControl &source)
{
    lookups.refillRequest(source);
}

void FrmEditTabPrivate::describe(FieldControl &field)
{
    lookups.WRITEDESC(field.input());
}

void FrmEditTabPrivate::lookupLeft(LookupField &lookup)
{
    lookups.CmbBounded_LostFocus(lookup.index());
}

} // namespace Norvix
