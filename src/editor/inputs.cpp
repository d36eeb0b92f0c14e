// Keyboard and mouse on the field controls: special value requests answered by the host, key
// filters of date and number inputs, file inputs filled from a file dialog, and the keys of the
// lookup combo boxes (length limit, host requests, the nested editor on F2).

#include "editor/frmedittab.h"

#include "editor/shared.h"
#include "platform/window.h"

#include <QComboBox>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>

namespace Norvix {

template <typename T>
static T *element(const QVector<QPointer<T>> &array, int index)
{
    return index > 0 && index < array.size() ? array[index].data() : nullptr;
}

void FrmEditTab::specialRequest(QLineEdit *input, const char *kind)
{
    if (!input || !m_rec)
        return;
    const QString field = input->property("DataField").toString();
    if (!m_rec->Campi()->Contains(field) || m_rec->Campi()->Item(field)->ObjType().toUpper() != QLatin1String(kind))
        return;
    const QString before = input->text().trimmed();
    emit ExternalHandler(input);
    if (input->text().trimmed() != before)
        SETMODIFICATO();
}

void FrmEditTab::chooseFile(QLineEdit *input)
{
    const QString previous = input->property("ChosenFile").toString();
    const QString folder = QFileInfo(previous.isEmpty() ? input->text() : previous).absolutePath();
    QString chosen = fileDialogService().openFile(QStringLiteral("Seleziona un file"), folder);
    if (chosen.isEmpty())
        chosen = previous; // a cancel keeps the name the dialog held
    input->setProperty("ChosenFile", chosen);
    input->setText(chosen);
    input->setProperty("DataChanged", true);
    SETMODIFICATO();
}

bool FrmEditTab::inputEvent(QWidget *w, QEvent *event)
{
    const QString array = arrayOf(w);
    const int i = w->property("Index").toInt();
    if (event->type() == QEvent::MouseButtonDblClick) {
        if (array == u"TxtText")
            specialRequest(element(TxtText, i), "SPECIALTXT");
        else if (array == u"TxtNumeric")
            specialRequest(element(TxtNumeric, i), "SPECIALNUMERIC");
        else if (array == u"TxtDate")
            specialRequest(element(TxtDate, i), "SPECIALDATE");
        else if (array == u"TxtLabel") {
            specialRequest(element(TxtNumeric, i), "SPECIALNUMERIC");
            specialRequest(element(TxtText, i), "SPECIALTXT");
        } else if (array == u"txtFile") {
            chooseFile(element(txtFile, i));
            return true;
        }
        return false;
    }
    if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_F2) {
            if (array == u"TxtText" || array == u"TxtDesc")
                specialRequest(element(TxtText, i), "SPECIALTXT");
            else if (array == u"TxtNumeric")
                specialRequest(element(TxtNumeric, i), "SPECIALNUMERIC");
            else if (array == u"txtFile")
                chooseFile(element(txtFile, i));
            return false;
        }
        const QString text = key->text();
        const bool character = text.size() == 1 && text.at(0).isPrint() && !(key->modifiers() & Qt::ControlModifier);
        if (atLength(w, key))
            return true; // the field is full: the character is refused
        if (character && array == u"TxtDate" && !QStringLiteral("0123456789 /").contains(text))
            return true; // swallowed
        if (character && array == u"TxtNumeric" && !QStringLiteral("0123456789,-.").contains(text))
            return true;
        if (array == u"CmbBounded") {
            auto *combo = element(CmbBounded, i);
            auto *code = element(TxtText, i);
            const QString field = code ? code->property("DataField").toString() : QString();
            const int max = m_rec && m_rec->Campi()->Contains(field) ? m_rec->Campi()->Item(field)->MaxLen() : 0;
            // At the field's length the character codes 3, 8, 9 and 12 (control keys, never
            // typed characters here), 37, 39 and 46 ("%", "'" and ".") still pass.
            const bool passes = character && QStringLiteral("%'.").contains(text);
            // The selected text goes when a character is typed: it does not count.
            const qsizetype length = combo ? combo->currentText().size() - combo->lineEdit()->selectedText().size() : 0;
            if (combo && max != 0 && length >= max && character && !passes)
                return true;
            if (character)
                markEdited(combo);
        }
        return false;
    }
    if (event->type() == QEvent::KeyRelease) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (array == u"CmbBounded")
            comboKeyUp(i, key->key());
        else if (w->property("DataChanged").toBool() && !m_modified && !key->isAutoRepeat())
            SETMODIFICATO();
    }
    return false;
}

void FrmEditTab::comboKeyUp(int index, int key)
{
    auto *combo = element(CmbBounded, index);
    auto *code = element(TxtText, index);
    if (!combo || !code || !m_rec || !m_rec->Campi()->Contains(code->property("DataField").toString()))
        return;
    const auto d = m_rec->Campi()->Item(code->property("DataField").toString());
    if (d->ObjType().toUpper() == u"SPECIALCOMBO") {
        emit ExternalHandler(code);
        SETMODIFICATO();
        FILLCOMBO(combo, d);
        return;
    }
    if (key == Qt::Key_F2 && !d->FieldRif().toString().isEmpty()) {
        // A full editor on the referenced table, to add or change the row the user needs.
        const QFileInfo file(d->FileRif().isEmpty() ? DatabaseFile() : d->FileRif());
        const bool own = d->FileRif().isEmpty() || d->FileRif().compare(DatabaseFile(), Qt::CaseInsensitive) == 0;
        {
            FrmEditTab nested(this);
            nested.START(own ? m_connectionString : QString(), own ? m_dbPath : file.absolutePath(),
                         own ? m_databaseName : file.fileName(), d->RecRif(), m_dscPath, QString(), false);
            if (nested.CanShow())
                nested.exec();
        }
        Shared::EditorVisible = true; // this editor is still open
        SETMODIFICATO();
        const QString current = code->text();
        FILLCOMBO(combo, d);
        showCode(combo, current);
    }
    if (combo->property("DataChanged").toBool() && !m_modified)
        SETMODIFICATO();
}

} // namespace Norvix
