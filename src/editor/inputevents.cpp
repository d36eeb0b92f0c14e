// Keyboard and mouse on the field controls: special value requests answered by the host, the key
// filters of each kind, file inputs filled from a file dialog, lengths kept, and the keys of the
// lookup combo boxes.

#include "editor/frmedittab_p.h"
#include "platform/language.h"
#include "platform/messages.h"
#include "platform/window.h"

#include <QComboBox>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QTextCursor>

namespace Norvix {

void FrmEditTabPrivate::specialRequest(QLineEdit *input, const char *kind)
{
    if (!input || !rec)
        return;
    const QString field = input->property("DataField").toString();
    if (!rec->Campi()->Contains(field) || rec->Campi()->Item(field)->ObjType().toUpper() != QLatin1String(kind))
        return;
    const QString before = input->text().trimmed();
    emit q->ExternalHandler(input);
    if (input->text().trimmed() != before)
        q->SETMODIFICATO();
}

void FrmEditTabPrivate::chooseFile(QLineEdit *input)
{
    const QString previous = input->property("ChosenFile").toString();
    const QString folder = QFileInfo(previous.isEmpty() ? input->text() : previous).absolutePath();
    QString chosen = fileDialogService().openFile(nxTr("Seleziona un file"), folder);
    if (chosen.isEmpty())
        chosen = previous; // a cancel keeps the name the dialog held
    input->setProperty("ChosenFile", chosen);
    input->setText(chosen);
    input->setProperty("DataChanged", true);
    q->SETMODIFICATO();
}

void FrmEditTabPrivate::cutToLength(QWidget *control)
{
    const int max = control->property("MaxLen").toInt();
    const QString text = widgetText(control);
    if (max <= 0 || text.size() <= max)
        return;
    // What went in last (a paste ends at the cursor) is what is cut.
    const qsizetype excess = text.size() - max;
    if (auto *e = qobject_cast<QLineEdit *>(control)) {
        const qsizetype end = std::max<qsizetype>(e->cursorPosition(), excess);
        e->setText(text.left(end - excess) + text.mid(end));
        e->setCursorPosition(int(end - excess));
    } else if (auto *m = qobject_cast<QPlainTextEdit *>(control)) {
        QTextCursor cursor = m->textCursor();
        const int end = std::max(cursor.position(), int(excess));
        cursor.setPosition(end - int(excess));
        cursor.setPosition(end, QTextCursor::KeepAnchor);
        const QSignalBlocker quiet(m);
        cursor.removeSelectedText();
        m->setTextCursor(cursor);
    }
    QLineEdit *caption = FieldSet::element(fields.TxtLabel, control->property("Index").toInt());
    msgBox(nxTr("Il campo %1 accetta al massimo %2 caratteri: il testo in eccesso non è stato inserito.")
               .arg(caption ? caption->text() : QString())
               .arg(max),
           MsgButtons::OkOnly, q->windowTitle());
}

bool FrmEditTabPrivate::inputEvent(QWidget *w, QEvent *event)
{
    QString array = w->objectName(); // the control's array: its name without the index
    while (!array.isEmpty() && array.back().isDigit())
        array.chop(1);
    const int i = w->property("Index").toInt();
    if (event->type() == QEvent::MouseButtonDblClick) {
        if (array == u"TxtText")
            specialRequest(FieldSet::element(fields.TxtText, i), "SPECIALTXT");
        else if (array == u"TxtNumeric")
            specialRequest(FieldSet::element(fields.TxtNumeric, i), "SPECIALNUMERIC");
        else if (array == u"TxtDate")
            specialRequest(FieldSet::element(fields.TxtDate, i), "SPECIALDATE");
        else if (array == u"TxtLabel") {
            specialRequest(FieldSet::element(fields.TxtNumeric, i), "SPECIALNUMERIC");
            specialRequest(FieldSet::element(fields.TxtText, i), "SPECIALTXT");
        } else if (array == u"txtFile") {
            chooseFile(FieldSet::element(fields.txtFile, i));
            return true;
        }
        return false;
    }
    if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_F2) {
            if (array == u"TxtText" || array == u"TxtDesc")
                specialRequest(FieldSet::element(fields.TxtText, i), "SPECIALTXT");
            else if (array == u"TxtNumeric")
                specialRequest(FieldSet::element(fields.TxtNumeric, i), "SPECIALNUMERIC");
            else if (array == u"txtFile")
                chooseFile(FieldSet::element(fields.txtFile, i));
            return false;
        }
        // Esc in a lookup brings its stored value back; where it shows it already, it closes.
        if (array == u"CmbBounded" && key->key() == Qt::Key_Escape && lookups.restoreStored(i))
            return true;
        FieldControl *f = fields.fieldOf(w);
        if (f && f->focusTarget() == w && f->refusesKey(key))
            return true; // the kind does not take this key here
        const QString text = key->text();
        if (array == u"CmbBounded" && text.size() == 1 && text.at(0).isPrint() && !(key->modifiers() & Qt::ControlModifier))
            markEdited(w);
        return false;
    }
    if (event->type() == QEvent::KeyRelease) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (array == u"CmbBounded")
            lookups.CmbBounded_KeyUp(i, key->key());
        else if (w->property("DataChanged").toBool() && !modified && !key->isAutoRepeat())
            q->SETMODIFICATO();
    }
    return false;
}

} // namespace Norvix
