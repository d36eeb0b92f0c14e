// Saving, dropping, deleting and moving; checking values; explaining data errors.

#include "editor/frmedittab.h"

#include "descriptor/estraitoken.h"
#include "editor/checkvalue.h"
#include "editor/shared.h"
#include "platform/messages.h"
#include "platform/values.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>

#include <cmath>

namespace Norvix {

QString FrmEditTab::valueText(QWidget *control)
{
    const QString shown = controlText(control);
    const QStringList exact = control->property("Exact").toStringList();
    return exact.size() == 2 && exact.at(0) == shown ? exact.at(1) : shown;
}

QString FrmEditTab::arrayOf(const QWidget *control)
{
    QString name = control->objectName();
    while (!name.isEmpty() && name.back().isDigit())
        name.chop(1);
    return name;
}

bool FrmEditTab::ErrorHandler(const DataError *error)
{
    if (!error || error->number() == 0)
        return false;
    const QString caption = windowTitle();
    switch (error->number()) {
    case DataError::DuplicatePrimary: {
        QStringList captions;
        const auto campi = m_rec ? m_rec->Campi() : nullptr;
        for (const QString &id : keyIds())
            captions << (campi && campi->Contains(id) ? campi->Item(id)->Desc() : id);
        msgBox(QStringLiteral("I campi (%1) sono campi univoci dell'indice di questo archivio. Esiste già un indice composto "
                              "da questi valori. Provare a cambiare uno o più valori.")
                   .arg(captions.join(QStringLiteral(", "))),
               MsgButtons::OkOnly, caption);
        return true;
    }
    case DataError::DuplicateUnique:
    case DataError::IntegrityViolation:
        msgBox(QStringLiteral("Il valore di uno dei campi immessi è di tipo univoco ed è\ngià presente nel database. "
                              "Modificare il valore e riprovare."),
               MsgButtons::OkOnly, caption);
        return true;
    default:
        break;
    }
    const MsgAnswer answer = msgBox(QStringLiteral("L'errore verificatosi potrebbe rendere instabile l'applicazione.\n"
                                                   "Vuoi terminare l'editor di record ?"),
                                    MsgButtons::YesNo,
                                    QStringLiteral("Errore n° %1 - %2").arg(error->number()).arg(error->description()));
    if (answer == MsgAnswer::Yes) {
        m_modified = false; // the user chose to leave
        close();
        return false;
    }
    return true;
}

bool FrmEditTab::explainRefusal(const DataError &error, bool deleting)
{
    if (!error.isRefusal())
        return false;
    // The fields concerned by their captions; a column the descriptor does not show by its name.
    const auto campi = m_rec->Campi();
    QStringList names;
    for (const QString &column : error.columns())
        names << (campi->Contains(column) ? campi->Item(column)->Desc()
                                          : QStringLiteral("%1 (non presente nell'editor)").arg(shownInMessage(column)));
    const QString fields = names.join(QStringLiteral(", "));
    const bool one = names.size() == 1;
    const QString other = shownInMessage(error.otherTable());
    const QString constraint = error.constraint().isEmpty() ? QString() : QStringLiteral(" (%1)").arg(shownInMessage(error.constraint()));
    QString text;
    switch (error.number()) {
    case DataError::NotNullViolation:
        text = names.isEmpty() ? QStringLiteral("Un campo obbligatorio è vuoto: il database non accetta il record.")
               : one           ? QStringLiteral("Il campo %1 è obbligatorio: il database non accetta un valore vuoto.").arg(fields)
                               : QStringLiteral("I campi %1 sono obbligatori: il database non accetta valori vuoti.").arg(fields);
        break;
    case DataError::CheckViolation:
        text = names.isEmpty() ? QStringLiteral("Il record non rispetta un vincolo di controllo del database%1.").arg(constraint)
               : one ? QStringLiteral("Il valore del campo %1 non rispetta un vincolo di controllo del database%2.").arg(fields, constraint)
                     : QStringLiteral("I valori dei campi %1 non rispettano un vincolo di controllo del database%2.").arg(fields, constraint);
        break;
    case DataError::ForeignKeyViolation:
        if (deleting)
            text = other.isEmpty() ? QStringLiteral("Impossibile eliminare il record: altri record vi fanno riferimento.")
                                   : QStringLiteral("Impossibile eliminare il record: record della tabella %1 vi fanno riferimento.").arg(other);
        else if (names.isEmpty())
            text = QStringLiteral("Un valore del record non corrisponde a nessun record della tabella collegata%1.")
                       .arg(other.isEmpty() ? QString() : u' ' + other);
        else
            text = QStringLiteral("%1 non corrisponde a nessun record della tabella %2.")
                       .arg(one ? QStringLiteral("Il valore del campo %1").arg(fields) : QStringLiteral("La combinazione dei campi %1").arg(fields),
                            other.isEmpty() ? QStringLiteral("collegata") : other);
        break;
    default:
        text = QStringLiteral("Il database ha rifiutato il record: %1").arg(error.description());
        break;
    }
    if (!deleting)
        text += QStringLiteral("\nCorreggere e riprovare: i valori inseriti sono stati mantenuti.");
    msgBox(text, MsgButtons::OkOnly, windowTitle());
    if (!error.columns().isEmpty())
        focusField(error.columns().first());
    return true;
}

void FrmEditTab::focusField(const QString &column)
{
    for (QWidget *w : std::as_const(m_fieldControls)) {
        if (w->property("DataField").toString().compare(column, Qt::CaseInsensitive) != 0)
            continue;
        const int index = w->property("Index").toInt();
        if (w->isHidden() && index < CmbBounded.size() && CmbBounded[index])
            w = CmbBounded[index]; // a lookup's code box: its combo
        if (!w->isEnabled())
            return;
        const QString tag = w->property("Tag").toString();
        for (int i = 0; i < m_tabs->count(); ++i)
            if (m_tabs->tabData(i).toString() == tag)
                m_tabs->setCurrentIndex(i);
        w->setFocus(Qt::OtherFocusReason);
        return;
    }
}

void FrmEditTab::reopen(CursorIntent intent)
{
    const RecordSource source = m_recordset ? m_recordset->Source() : RecordSource::wholeTable(m_recordName);
    m_recordset = std::make_unique<Recordset>(m_connection, source, keyIds(), intent);
}

void FrmEditTab::selectLine(int row)
{
    m_list->setCurrentRow(-1);
    if (row >= 0 && row < m_list->count())
        m_list->setCurrentRow(row); // loads the row of that line
}

void FrmEditTab::CmdButton_Click(int index)
{
    if (m_readOnly && index >= 0 && index <= 3 && index != 2) {
        msgBox(QStringLiteral("Il database è aperto in sola lettura: nessuna modifica può essere salvata."),
               MsgButtons::OkOnly, windowTitle());
        return;
    }
    switch (index) {
    case 0: // new row
        if (m_modified && msgBox(QStringLiteral("Annulli le modifiche ?"), MsgButtons::OkCancel, QStringLiteral("ATTENZIONE !"))
                              == MsgAnswer::Cancel)
            return;
        ClearFields();
        try {
            reopen(CursorIntent::Change);
            m_recordset->AddNew();
        } catch (const DataError &e) {
            ErrorHandler(&e);
            return;
        }
        SETNEW();
        CTRLSETFOCUS(m_firstControl);
        return;
    case 1: save(); return;
    case 2: dropChanges(); return;
    case 3: deleteRow(); return;
    case 4: close(); return;
    case 6:
    case 7:
    case 8:
    case 9: moveRow(index); return;
    default: return;
    }
}

void FrmEditTab::save()
{
    if (!CONTROLLOGENERALE())
        return;
    SCRIVIUMOD();
    const bool adding = m_recordset && m_recordset->editMode() == EditMode::Add;
    if (adding)
        Shared::LastInserted = SCRIVILAST();
    std::optional<DataError> pending;
    try {
        if (!m_recordset)
            throw DataError(DataError::NoCurrentRow, QStringLiteral("Nessun record aperto"));
        const auto table = m_recordset->table();
        for (QWidget *w : std::as_const(m_fieldControls)) {
            const QString field = w->property("DataField").toString();
            if (field.isEmpty() || table->indexOf(field) < 0)
                continue; // a name the table lacks is skipped
            if (qobject_cast<QPushButton *>(w))
                continue; // a binary field is shown, never edited: its button's caption is no value
            // A control still showing what the row holds is left out: a value it cannot show
            // exactly (longer than the field, line ends a memo rewrites) stays as it is stored.
            if (!adding && w->property("ShownText").isValid() && controlText(w) == w->property("ShownText").toString())
                continue;
            try {
                if (auto *c = qobject_cast<QCheckBox *>(w))
                    m_recordset->setValue(field, c->isChecked());
                else
                    m_recordset->setValue(field, valueText(w));
            } catch (const DataError &e) {
                if (e.number() != DataError::ConversionFailed)
                    continue; // the save below reports what stops it
                // A value the column cannot take: nothing is saved, the user corrects it.
                const auto campi = m_rec->Campi();
                msgBox(QStringLiteral("Il campo %1 non può essere salvato: %2")
                           .arg(campi->Contains(field) ? campi->Item(field)->Desc() : field, e.description()),
                       MsgButtons::OkOnly, windowTitle());
                CTRLSETFOCUS(w);
                return;
            }
        }
        m_recordset->Update();
    } catch (const DataError &e) {
        pending = e;
    }
    if (pending) {
        // A refused row stays as the user typed it, in its mode, whatever the message says.
        const bool refusedNewRow = m_recordset && m_recordset->editMode() == EditMode::Add;
        if (refusedNewRow && pending->number() == DataError::IntegrityViolation)
            msgBox(QStringLiteral("Il codice inserito è già esistente"));
        else if (!explainRefusal(*pending, false))
            ErrorHandler(&*pending);
        return;
    }
    std::optional<DataError> reopenError;
    try {
        reopen(CursorIntent::Read);
    } catch (const DataError &e) {
        reopenError = e;
    }
    if (reopenError && ErrorHandler(&*reopenError)) {
        Shared::LastInserted.clear();
        m_buttons[1]->setVisible(false);
        return;
    }
    if (m_unloaded)
        return;
    FORMATTA();
    SETNEUTRAL();
    const int line = m_list->currentRow();
    refreshListAround(line, m_list->keyAt(line));
    selectLine(line);
    if (Shared::CloseOnConfirm)
        close();
}

void FrmEditTab::dropChanges()
{
    if (m_recordset && m_recordset->editMode() != EditMode::Add) {
        m_recordset->CancelUpdate();
        // The row as it is stored now (someone else may have changed it since it was read).
        if (m_recordset->hasCurrentRow()) {
            try {
                m_recordset->setBookmark(m_recordset->Bookmark());
            } catch (const DataError &) {
                // Gone or unreadable: what was read stays shown.
            }
        }
        ShowRecord();
    } else {
        ClearFields();
        SETNEUTRAL();
        // No row is shown now: a click on any line, the highlighted one included, loads it.
        m_applying = true;
        m_list->setCurrentRow(-1);
        m_applying = false;
    }
    if (Shared::CloseOnConfirm)
        close();
}

void FrmEditTab::deleteRow()
{
    if (!ControllaCancellazione()) {
        msgBox(QStringLiteral("Record di sistema. Impossibile elimarlo."));
        return;
    }
    if (msgBox(QStringLiteral("Sicuro di voler eliminare\nil record ?"), MsgButtons::OkCancel, QStringLiteral("Elimazione record."))
        != MsgAnswer::Ok)
        return;
    try {
        if (!m_recordset)
            throw DataError(DataError::NoCurrentRow, QStringLiteral("Nessun record aperto"));
        if (m_recordset->intent() != CursorIntent::Change) // the shown row, opened for change
            m_recordset = std::make_unique<Recordset>(
                m_connection, RecordSource{m_recordName, {}}, keyIds(), CursorIntent::Change);
        m_recordset->Delete();
    } catch (const DataError &e) {
        if (!explainRefusal(e, true))
            ErrorHandler(&e);
        return;
    }
    try {
        reopen(CursorIntent::Read);
    } catch (const DataError &e) {
        if (ErrorHandler(&e) || m_unloaded)
            return;
    }
    RIEMPILISTA();
    CmdButton_Click(7);
    if (m_unloaded)
        return;
    if (!m_recordset || !m_recordset->hasCurrentRow()) {
        SETPRIMO();
    } else {
        // The row now shown (the last one) is opened for change, as a selected line would be.
        const QVariantList key = m_recordset->Bookmark();
        const QStringList keys = keyIds();
        QList<QPair<QString, QVariant>> equals;
        for (int k = 0; k < keys.size() && k < key.size(); ++k)
            equals.append({keys[k], key[k]});
        try {
            if (!equals.isEmpty())
                m_recordset = std::make_unique<Recordset>(m_connection, RecordSource{m_recordName, equals}, keys,
                                                          CursorIntent::Change);
        } catch (const DataError &e) {
            ErrorHandler(&e);
        }
        ShowRecord();
    }
    if (Shared::CloseOnConfirm)
        close();
}

void FrmEditTab::moveRow(int index)
{
    if (m_modified) {
        if (msgBox(QStringLiteral("Il record corrente è stato modificato. Abbandoni le modifiche ?"), MsgButtons::YesNo,
                   QStringLiteral("ATTENZIONE !"))
            != MsgAnswer::Yes)
            return;
        CmdButton_Click(2);
    }
    try {
        if (!m_recordset)
            throw DataError(DataError::NoCurrentRow, QStringLiteral("Nessun record aperto"));
        switch (index) {
        case 6: m_recordset->MoveFirst(); break;
        case 7: m_recordset->MovePrevious(); break;
        case 8: m_recordset->MoveNext(); break;
        default: m_recordset->MoveLast(); break;
        }
    } catch (const DataError &e) {
        ErrorHandler(&e);
    }
}

void FrmEditTab::MOVETO(const QVariantList &bookmark)
{
    if (!bookmark.isEmpty() && m_recordset)
        m_recordset->setBookmark(bookmark);
}

void FrmEditTab::SCRIVIUMOD()
{
    const QString now = Values::dateText(QDateTime::currentDateTime());
    for (int i = 1; i < TxtUMOD.size(); ++i)
        if (TxtUMOD[i])
            setControlText(TxtUMOD[i], now);
}

QString FrmEditTab::SCRIVILAST()
{
    QString result;
    const QStringList keys = keyIds();
    for (int k = 0; k < keys.size(); ++k) {
        if (k > 0)
            result += u',';
        for (QWidget *w : std::as_const(m_fieldControls))
            if (w->property("DataField").toString().toUpper() == keys[k].toUpper())
                result += controlText(w);
    }
    return result;
}

bool FrmEditTab::CONTROLLOGENERALE()
{
    const auto campi = m_rec->Campi();
    for (QWidget *w : std::as_const(m_fieldControls)) {
        const QString field = w->property("DataField").toString();
        if (field.isEmpty() || !campi->Contains(field))
            continue;
        const auto c = campi->Item(field);
        if (auto *box = qobject_cast<QCheckBox *>(w)) {
            QVariant value = box->checkState() == Qt::PartiallyChecked ? -2 : (box->isChecked() ? -1 : 0);
            if (!CHECKVALUE(value, *c)) {
                msgBox(QStringLiteral("Il campo '%1' è inesatto o mancante").arg(c->Desc()));
                return false;
            }
            continue;
        }
        if (!qobject_cast<QLineEdit *>(w) && !qobject_cast<QPlainTextEdit *>(w) && !qobject_cast<QComboBox *>(w))
            continue;
        QVariant value = valueText(w);
        if (c->ObjType().toUpper() == u"TXTNUMERIC") {
            // The number typed, read in the regional form; a value as shown from the row is left
            // as it is (a picture such as "Percent" shows what it could not be read back as).
            value = Values::typedNumberText(value.toString());
            if (controlText(w) != w->property("ShownText").toString())
                setControlText(w, value.toString());
        }
        if (!CHECKVALUE(value, *c) && !c->MinVal().trimmed().isEmpty()) {
            msgBox(QStringLiteral("Il campo %1 è inesatto o mancante").arg(c->Desc()));
            return false;
        }
    }
    return true;
}

void FrmEditTab::VALORENONVALIDO(QWidget *control)
{
    const int index = control->property("Index").toInt();
    const QString caption = index < TxtLabel.size() && TxtLabel[index] ? TxtLabel[index]->text() : QString();
    msgBox(QStringLiteral("Valore di %1 non valido.").arg(caption), MsgButtons::OkOnly, windowTitle());
    const QString tag = control->property("Tag").toString();
    for (int i = 0; i < m_tabs->count(); ++i)
        if (m_tabs->tabData(i).toString() == tag)
            m_tabs->setCurrentIndex(i);
    control->setFocus(Qt::OtherFocusReason);
}

QString FrmEditTab::FORMATTA(const QString &Valore, const QString &nomecampo)
{
    const auto campi = m_rec ? m_rec->Campi() : nullptr;
    if (!campi)
        return Valore;
    if (!nomecampo.isEmpty()) {
        if (!campi->Contains(nomecampo))
            return Valore;
        const QString picture = campi->Item(nomecampo)->Format();
        return picture.trimmed().isEmpty() ? Valore : Values::format(QVariant(Valore), picture);
    }
    for (QWidget *w : std::as_const(m_fieldControls)) {
        const QString field = w->property("DataField").toString();
        if (field.isEmpty() || !campi->Contains(field) || qobject_cast<QCheckBox *>(w))
            continue;
        const QString picture = campi->Item(field)->Format();
        if (picture.trimmed().isEmpty())
            continue;
        const QString t = controlText(w);
        setControlText(w, t.isEmpty() ? t : Values::format(QVariant(t), picture));
    }
    return QString();
}

void FrmEditTab::refillRequest(QWidget *control)
{
    const QString field = control->property("DataField").toString();
    if (field.isEmpty() || controlText(control).trimmed().isEmpty() || !m_rec->Campi()->Contains(field))
        return;
    const QString tag = m_rec->Campi()->Item(field)->Tag().toString();
    if (EstraiToken(tag, QStringLiteral(","), 1) != u"REFILLCOMBO")
        return;
    const int n = int(Values::val(EstraiToken(tag, QStringLiteral(","), 2)));
    if (n <= 0 || n >= CmbBounded.size() || !CmbBounded[n] || n >= TxtText.size() || !TxtText[n])
        return;
    QComboBox *dependent = CmbBounded[n];
    // Listed already for this value of its source: nothing to do (the user only passed by).
    const QVariant listedFor = dependent->property("ListedFor");
    if (listedFor.isValid() && listedFor.toString() == controlText(control))
        return;
    const QString column = TxtText[n]->property("DataField").toString();
    if (!m_rec->Campi()->Contains(column))
        return;
    const auto campo = m_rec->Campi()->Item(column);
    const QString code = TxtText[n]->text();
    // The dependent value stays when the new source still lists it (or when the list cannot be
    // read, which has been told); otherwise it starts empty.
    bool keep = false;
    try {
        FILLCOMBO(dependent, campo);
        keep = !code.trimmed().isEmpty() && listsCode(dependent, campo, code);
    } catch (const Error &e) {
        msgBox(QStringLiteral("errore: %1").arg(e.message()));
        keep = true;
    }
    if (keep) {
        showCode(dependent, code);
        return;
    }
    dependent->setCurrentText(QString());
    setControlText(TxtText[n], QString());
    TxtText[n]->setProperty("DataChanged", true);
}

void FrmEditTab::lostFocus(QWidget *control)
{
    if (arrayOf(control) == u"CmbBounded") {
        CmbBounded_LostFocus(control->property("Index").toInt());
        return;
    }
    const QString field = control->property("DataField").toString();
    const auto campi = m_rec ? m_rec->Campi() : nullptr;
    if (field.isEmpty() || !campi || !campi->Contains(field))
        return;
    const auto c = campi->Item(field);
    const QString array = arrayOf(control);
    const bool changed = control->property("DataChanged").toBool();
    const auto invalid = [&](const QString &text) {
        QVariant copy = text;
        return !CHECKVALUE(copy, *c) && !text.isEmpty();
    };

    if (array == u"TxtMemo") {
        setControlText(control, FORMATTA(controlText(control), field));
        if (invalid(controlText(control)))
            VALORENONVALIDO(control);
        return;
    }
    if (!changed)
        return;
    if (array == u"TxtDate") {
        const QString t = controlText(control);
        if (invalid(t))
            VALORENONVALIDO(control);
        else
            setControlText(control, FORMATTA(t, field));
    } else if (array == u"TxtNumeric" || array == u"TxtText") {
        refillRequest(control);
        QString t = controlText(control);
        if (array == u"TxtNumeric")
            t = Values::typedNumberText(t); // "12,75" is 12,75, not 12
        else if (c->MaxLen() == 1)
            t = t.toUpper();
        setControlText(control, FORMATTA(t, field));
        // A picture may show fewer decimals than were typed: what was typed is what is saved.
        if (array == u"TxtNumeric")
            control->setProperty("Exact", QStringList{controlText(control), t});
        if (invalid(controlText(control)))
            VALORENONVALIDO(control);
        if (!c->RecRif().isEmpty())
            WRITEDESC(control);
    } else {
        return;
    }
    control->setProperty("DataChanged", true); // still a change of the row until it is saved
}

bool FrmEditTab::eventFilter(QObject *watched, QEvent *event)
{
    if (m_unloaded || !m_rec) // closing: the descriptor is gone, nothing is checked any more
        return QDialog::eventFilter(watched, event);
    if (event->type() == QEvent::MouseButtonDblClick || event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        QWidget *w = qobject_cast<QWidget *>(watched);
        // Keys typed in an editable combo box reach its line edit: they count for the combo.
        if (w && !m_fieldControls.contains(w) && w->parentWidget() && qobject_cast<QComboBox *>(w->parentWidget()))
            w = w->parentWidget();
        if (w && m_fieldControls.contains(w) && inputEvent(w, event))
            return true;
    }
    // A popup opening (a combo's list) does not leave the field.
    if (event->type() == QEvent::FocusOut && !m_checking
        && static_cast<QFocusEvent *>(event)->reason() != Qt::PopupFocusReason) {
        if (auto *w = qobject_cast<QWidget *>(watched); w && m_fieldControls.contains(w)) {
            m_checking = true;
            lostFocus(w);
            m_checking = false;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void FrmEditTab::WRITEDESC(QWidget *control)
{
    const QString field = control->property("DataField").toString();
    if (!m_rec->Campi()->Contains(field))
        return;
    const auto c = m_rec->Campi()->Item(field);
    const int i = control->property("Index").toInt();
    QLineEdit *desc = i < TxtDesc.size() ? TxtDesc[i].data() : nullptr;
    const QString v = controlText(control).toUpper();
    try {
        const auto connection = lookupConnection(c);
        const auto table = tableInfo(*connection, c->RecRif());
        const QString key = table->firstIndex.value(0);
        if (key.isEmpty())
            return; // no key to search by: the description stays as it is
        if (v.trimmed().isEmpty()) {
            if (desc)
                desc->setText(QString());
            return;
        }
        Recordset rs(connection, RecordSource::wholeTable(c->RecRif()), {key}, CursorIntent::Read);
        if (!rs.Find({{key, v}})) {
            if (desc)
                desc->setText(QString());
            setControlText(control, QString());
        } else if (desc) {
            const QVariant d = rs.value(c->FieldRif().toString());
            desc->setText(d.toString());
            desc->setCursorPosition(0);
        }
    } catch (const Error &) {
        // The description is a help, not a check: a lookup that cannot be made leaves it as it is.
    }
}

void FrmEditTab::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_F1) {
        QWidget *focus = focusWidget();
        emit Help(m_rec ? m_rec->Nome() : m_recordName, focus ? focus->property("DataField").toString() : QString());
        return;
    }
    // Escape closes through the same questions as the close button.
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace Norvix
