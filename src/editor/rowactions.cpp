#include "editor/rowactions.h"
#include "platform/language.h"

#include "editor/columntext.h"
#include "editor/commandpanel.h"
#include "editor/editorstate.h"
#include "editor/fieldset.h"
#include "editor/recordlistpane.h"
#include "editor/recordlistview.h"
#include "editor/windowlayout.h"
#include "session/checkvalue.h"
#include "editor/shared.h"
#include "platform/messages.h"
#include "platform/values.h"

#include <QPushButton>

namespace Norvix {

namespace {
// What was stopped by a lock, a time limit or a full disk.
enum class Stopped { Save, Delete, Read };

// What happened and what the user can do, for a hindrance that passes: a database another user
// keeps busy, a statement the server stopped at its time limit, a full disk. Empty for any other
// error.
QString hindranceText(const DataError &error, Stopped what)
{
    QString cause, remedy;
    switch (error.number()) {
    case DataError::Busy:
    case DataError::TableLocked:
        cause = nxTr("Il database è occupato da un altro utente");
        remedy = nxTr("Riprovare più tardi.");
        break;
    case DataError::TimedOut:
        cause = nxTr("Il server del database ha interrotto l'operazione perché superava il tempo massimo consentito");
        remedy = nxTr("Attendere qualche istante e riprovare.");
        break;
    case DataError::DiskFull:
        cause = nxTr("Il disco del database è pieno");
        remedy = nxTr("Liberare spazio sul disco e riprovare.");
        break;
    default:
        return QString();
    }
    const QString outcome = what == Stopped::Save     ? nxTr("la modifica non è stata salvata e i valori inseriti sono stati mantenuti.")
                            : what == Stopped::Delete ? nxTr("il record non è stato eliminato.")
                                                      : nxTr("i dati non possono essere letti ora.");
    return QStringLiteral("%1: %2 %3").arg(cause, outcome, remedy);
}
} // namespace

RowActions::RowActions(Parts parts, Calls calls) : m(parts), m_calls(std::move(calls))
{
    m.session.addObserver(this);
}

RowActions::~RowActions()
{
    m.session.removeObserver(this);
}

void RowActions::rowWritten(const RowSession &session, RowWrite what)
{
    // The key of a row added, as stored (a number the database gave it too).
    const Recordset *rs = session.recordset();
    if (what != RowWrite::Added || !rs || !rs->hasCurrentRow())
        return;
    QStringList key;
    for (const QString &column : session.keyColumns())
        key << columnValueText(rs->value(column), rs->field(column).Type);
    m.state.shared.lastInserted = key.join(u',');
}

QString RowActions::title() const
{
    return m.window.windowTitle();
}

void RowActions::CmdButton_Click(int index)
{
    if (m.state.readOnly && index >= 0 && index <= 3 && index != 2) {
        msgBox(nxTr("Il database è aperto in sola lettura: nessuna modifica può essere salvata."),
               MsgButtons::OkOnly, title());
        return;
    }
    switch (index) {
    case 0: newRow(); return;
    case 1: save(); return;
    case 2: dropChanges(); return;
    case 3: deleteRow(); return;
    case 4: m_calls.closeWindow(); return;
    case 6:
    case 7:
    case 8:
    case 9: moveRow(index); return;
    default: return;
    }
}

void RowActions::newRow()
{
    if (m.state.modified && msgBox(nxTr("Annulli le modifiche ?"), MsgButtons::OkCancel, nxTr("ATTENZIONE !"))
                          == MsgAnswer::Cancel)
        return;
    m_calls.clearFields();
    try {
        m.session.startNew();
    } catch (const DataError &e) {
        ErrorHandler(&e);
        return;
    }
    m_calls.setNew();
    m.layout.CTRLSETFOCUS(m.state.firstControl);
}

bool RowActions::ErrorHandler(const DataError *error)
{
    if (!error || error->number() == 0)
        return false;
    const QString caption = title();
    switch (error->number()) {
    case DataError::DuplicatePrimary: {
        QStringList captions;
        const auto campi = m.state.rec ? m.state.rec->Campi() : nullptr;
        for (const QString &id : m.state.keyIds())
            captions << (campi && campi->Contains(id) ? campi->Item(id)->Desc() : id);
        msgBox(nxTr("I campi (%1) sono campi univoci dell'indice di questo archivio. Esiste già un indice composto "
                              "da questi valori. Provare a cambiare uno o più valori.")
                   .arg(captions.join(QStringLiteral(", "))),
               MsgButtons::OkOnly, caption);
        return true;
    }
    case DataError::DuplicateUnique:
    case DataError::IntegrityViolation:
        msgBox(nxTr("Il valore di uno dei campi immessi è di tipo univoco ed è\ngià presente nel database. "
                              "Modificare il valore e riprovare."),
               MsgButtons::OkOnly, caption);
        return true;
    default:
        if (const QString text = hindranceText(*error, Stopped::Read); !text.isEmpty()) {
            msgBox(text, MsgButtons::OkOnly, caption);
            return true;
        }
        break;
    }
    const MsgAnswer answer = msgBox(nxTr("L'errore verificatosi potrebbe rendere instabile l'applicazione.\n"
                                                   "Vuoi terminare l'editor di record ?"),
                                    MsgButtons::YesNo,
                                    nxTr("Errore n° %1 - %2").arg(error->number()).arg(error->description()));
    if (answer == MsgAnswer::Yes) {
        m.state.modified = false; // the user chose to leave
        m_calls.closeWindow();
        return false;
    }
    return true;
}

void RowActions::save()
{
    if (!m_calls.checkAll())
        return;
    SCRIVIUMOD();
    const bool adding = m.session.adding();
    if (adding) // as typed; once added, as stored (rowWritten())
        m.state.shared.lastInserted = SCRIVILAST();
    if (!writeRow())
        return;
    // The row as stored, by its key: for a new row, the key the database may have given it.
    const Recordset *stored = m.session.recordset();
    const QVariantList key = stored && stored->hasCurrentRow() && stored->editMode() == EditMode::None
                                 ? stored->Bookmark()
                                 : QVariantList();
    std::optional<DataError> reopenError;
    try {
        m.session.reopen(CursorIntent::Read);
    } catch (const DataError &e) {
        reopenError = e;
    }
    if (reopenError && ErrorHandler(&*reopenError)) {
        m.state.shared.lastInserted.clear();
        m.panel.button(1)->setVisible(false);
        return;
    }
    if (m.state.unloaded)
        return;
    m_calls.formatAll();
    m_calls.setNeutral();
    const int line = m.list.view()->currentRow();
    m.list.refreshAround(line, m.list.view()->keyAt(line), adding ? 1 : 0);
    // A new row, or one whose line is not selected, is shown as stored (its key too), on its
    // line; a changed row is read again through its line.
    if ((adding || line < 0) && m.list.showRow(key)) {
        if (adding)
            m.state.shared.lastInserted = SCRIVILAST();
    } else {
        m.list.selectLine(line);
    }
    if (m.state.shared.closeOnConfirm)
        m_calls.closeWindow();
}

bool RowActions::writeRow()
{
    const bool adding = m.session.adding();
    const std::optional<Typed> doubt = std::exchange(m_doubt, std::nullopt);
    if (!m.session.recordset()) {
        refused(DataError(DataError::NoCurrentRow, nxTr("Nessun record aperto")));
        return false;
    }
    if (!adding && m.state.rowGone)
        return storeGoneRow();
    if (!typeControls(adding))
        return false;
    const RowOutcome outcome = m.session.save();
    if (outcome.done())
        return true;
    if (outcome.line >= 0)
        return m_calls.lineFailed(outcome) && writeRow();
    if (outcome.kind == RowOutcome::Kind::Invalid) {
        invalidValue(outcome);
        return false;
    }
    const DataError &e = *outcome.error;
    // Saved in spite of the error: the save landed after all, or was written over the other's.
    if (doubt && rebaseOnOwnSave(*doubt, e, adding))
        return writeRow(); // over the row that the save in doubt did write
    if (outcome.kind == RowOutcome::Kind::Lost)
        return resolveLostSave(adding);
    if (outcome.kind == RowOutcome::Kind::Conflict && canResolveConflict())
        return resolveConflict(false);
    refused(e);
    return false;
}

bool RowActions::typeControls(bool adding)
{
    m.session.clearValues();
    const auto table = m.session.table();
    for (const auto &f : m.fields.all()) {
        const QString field = f->column();
        const QVariant value = f->value();
        if (field.isEmpty() || table->indexOf(field) < 0 || !value.isValid())
            continue; // a name the table lacks is skipped; a binary field is shown, never written
        // A counter the database keeps: a new row gets its number from the database.
        if (adding && table->column(field).assigned && f->campo()->TIPO().toUpper() == u"AUTOINC")
            continue;
        // A control still showing what the row holds is left out: a value it cannot show exactly
        // (longer than the field, line ends a memo rewrites) stays as it is stored.
        const QVariant shown = f->input()->property("ShownText");
        if (!adding && shown.isValid() && f->text() == shown.toString())
            continue;
        try {
            m.session.setValue(field, m.session.typed(field, value));
        } catch (const DataError &e) {
            invalidValue(RowOutcome{RowOutcome::Kind::Invalid, e, field, {}});
            return false;
        }
    }
    return true;
}

void RowActions::invalidValue(const RowOutcome &outcome)
{
    FieldControl *f = m.fields.bound(outcome.column);
    const QString caption = f ? f->campo()->Desc() : shownInMessage(outcome.column);
    // A value the column cannot take: nothing is saved, the user corrects it.
    if (outcome.error)
        msgBox(nxTr("Il campo %1 non può essere salvato: %2").arg(caption, outcome.error->description()),
               MsgButtons::OkOnly, title());
    else
        msgBox(nxTr("Il campo %1 è inesatto o mancante").arg(caption));
    if (f)
        m.layout.CTRLSETFOCUS(f->focusTarget());
}

void RowActions::refused(const DataError &error)
{
    // A refused row stays as the user typed it, in its mode, whatever the message says.
    const bool refusedNewRow = m.session.adding();
    if (refusedNewRow && error.number() == DataError::IntegrityViolation)
        msgBox(nxTr("Il codice inserito è già esistente"));
    else if (!explainRefusal(error, false))
        ErrorHandler(&error);
}

void RowActions::dropChanges()
{
    if (m.session.recordset() && !m.session.adding()) {
        m.session.cancel(); // the row as it is stored now
        m_calls.showRecord();
    } else {
        m_calls.clearFields();
        m_calls.setNeutral();
        // No row is shown now: a click on any line, the highlighted one included, loads it.
        m.list.selectQuietly(-1);
    }
    if (m.state.shared.closeOnConfirm)
        m_calls.closeWindow();
}

void RowActions::deleteRow()
{
    if (!ControllaCancellazione()) {
        msgBox(nxTr("Record di sistema. Impossibile elimarlo."));
        return;
    }
    if (msgBox(nxTr("Sicuro di voler eliminare\nil record ?"), MsgButtons::OkCancel, nxTr("Elimazione record."))
        != MsgAnswer::Ok)
        return;
    if (const RowOutcome outcome = m.session.remove(); !outcome.done()) {
        const DataError &e = *outcome.error;
        // Gone on in spite of the error: the row was deleted after all, or deleted anyway.
        bool deleted = false;
        if (outcome.kind == RowOutcome::Kind::Lost)
            deleted = resolveLostDelete();
        else if (outcome.kind == RowOutcome::Kind::Conflict && canResolveConflict())
            deleted = resolveConflict(true);
        else if (!explainRefusal(e, true))
            ErrorHandler(&e);
        if (!deleted)
            return;
    }
    try {
        m.session.reopen(CursorIntent::Read);
    } catch (const DataError &e) {
        if (ErrorHandler(&e) || m.state.unloaded)
            return;
    }
    m.list.refreshAround(-1, {}, -1); // RIEMPILISTA, knowing that one row went
    CmdButton_Click(7);
    if (m.state.unloaded)
        return;
    showAfterDelete();
    if (m.state.shared.closeOnConfirm)
        m_calls.closeWindow();
}

void RowActions::showAfterDelete()
{
    Recordset *rs = m.session.recordset();
    if (!rs || !rs->hasCurrentRow()) {
        m.list.SETPRIMO();
        return;
    }
    // The row now shown (the last one) is opened for change, as a selected line would be.
    const QVariantList key = rs->Bookmark();
    try {
        if (!m.state.keyIds().isEmpty())
            m.session.load(key);
    } catch (const DataError &e) {
        ErrorHandler(&e);
    }
    m_calls.showRecord();
}

void RowActions::moveRow(int index)
{
    if (m.state.modified) {
        if (msgBox(nxTr("Il record corrente è stato modificato. Abbandoni le modifiche ?"), MsgButtons::YesNo,
                   nxTr("ATTENZIONE !"))
            != MsgAnswer::Yes)
            return;
        CmdButton_Click(2);
    }
    try {
        Recordset *rs = m.session.recordset();
        if (!rs)
            throw DataError(DataError::NoCurrentRow, nxTr("Nessun record aperto"));
        switch (index) {
        case 6: rs->MoveFirst(); break;
        case 7: rs->MovePrevious(); break;
        case 8: rs->MoveNext(); break;
        default: rs->MoveLast(); break;
        }
    } catch (const DataError &e) {
        ErrorHandler(&e);
    }
}

void RowActions::readFailed(const DataError &error)
{
    if (const QString text = hindranceText(error, Stopped::Read); !text.isEmpty())
        msgBox(text, MsgButtons::OkOnly, title());
    else
        msgBox(nxTr("errore: %1: %2").arg(error.number()).arg(error.description()));
}

void RowActions::MOVETO(const QVariantList &bookmark)
{
    if (!bookmark.isEmpty() && m.session.recordset())
        m.session.recordset()->setBookmark(bookmark);
}

void RowActions::SCRIVIUMOD()
{
    const QString now = Values::dateText(QDateTime::currentDateTime());
    for (int i = 1; i < m.fields.TxtUMOD.size(); ++i)
        if (QWidget *stamp = m.fields.TxtUMOD[i])
            setWidgetText(stamp, now);
}

QString RowActions::SCRIVILAST()
{
    QString result;
    const QStringList keys = m.state.keyIds();
    for (int k = 0; k < keys.size(); ++k) {
        if (k > 0)
            result += u',';
        for (QWidget *w : m.fields.widgets())
            if (w->property("DataField").toString().toUpper() == keys[k].toUpper())
                result += widgetText(w);
    }
    return result;
}

bool RowActions::ControllaCancellazione()
{
    bool result = true;
    const auto campi = m.state.rec ? m.state.rec->Campi() : nullptr;
    if (!campi)
        return result;
    for (const QString &id : m.state.keyIds()) {
        FieldControl *f = m.fields.bound(id);
        if (!f || !campi->Contains(id))
            continue;
        QVariant value = dynamic_cast<BooleanField *>(f) ? f->checkedValue() : QVariant(f->text());
        if (!CHECKVALUE(value, *campi->Item(id)))
            result = false;
    }
    return result;
}

void RowActions::LoccaRecord(bool locked)
{
    for (const auto &f : m.fields.all())
        if (!f->column().isEmpty())
            f->setLocked(locked);
}

void RowActions::SETINDICI(bool enabled)
{
    const auto campi = m.state.rec ? m.state.rec->Campi() : nullptr;
    if (!campi)
        return;
    for (const QString &id : m.state.keyIds()) {
        if (!campi->Contains(id) || campi->Item(id)->ObjType().toUpper() == u"LOCKEDFIELD")
            continue;
        if (FieldControl *f = m.fields.bound(id))
            f->setLocked(!enabled);
    }
}

bool RowActions::explainRefusal(const DataError &error, bool deleting)
{
    // Nothing was written: the file went, stayed locked, the server's time limit or the disk's
    // room ran out, the server could not be reached, or the user stopped waiting for it.
    if (const QString text = hindranceText(error, deleting ? Stopped::Delete : Stopped::Save); !text.isEmpty()) {
        msgBox(text, MsgButtons::OkOnly, title());
        return true;
    }
    if (error.number() == DataError::FileGone || error.number() == DataError::Cancelled
        || error.number() == DataError::ConnectionFailed || error.number() == DataError::HistoryFailed) {
        msgBox(error.description(), MsgButtons::OkOnly, title());
        return true;
    }
    if (!error.isRefusal())
        return false;
    // The fields concerned by their captions; a column the descriptor does not show by its name.
    const auto campi = m.state.rec->Campi();
    QStringList names;
    for (const QString &column : error.columns())
        names << (campi->Contains(column) ? campi->Item(column)->Desc()
                                          : nxTr("%1 (non presente nell'editor)").arg(shownInMessage(column)));
    const QString fields = names.join(QStringLiteral(", "));
    const bool one = names.size() == 1;
    const QString other = shownInMessage(error.otherTable());
    const QString constraint = error.constraint().isEmpty() ? QString() : QStringLiteral(" (%1)").arg(shownInMessage(error.constraint()));
    QString text;
    switch (error.number()) {
    case DataError::NotNullViolation:
        text = names.isEmpty() ? nxTr("Un campo obbligatorio è vuoto: il database non accetta il record.")
               : one           ? nxTr("Il campo %1 è obbligatorio: il database non accetta un valore vuoto.").arg(fields)
                               : nxTr("I campi %1 sono obbligatori: il database non accetta valori vuoti.").arg(fields);
        break;
    case DataError::CheckViolation:
        text = names.isEmpty() ? nxTr("Il record non rispetta un vincolo di controllo del database%1.").arg(constraint)
               : one ? nxTr("Il valore del campo %1 non rispetta un vincolo di controllo del database%2.").arg(fields, constraint)
                     : nxTr("I valori dei campi %1 non rispettano un vincolo di controllo del database%2.").arg(fields, constraint);
        break;
    case DataError::ForeignKeyViolation:
        if (deleting)
            text = other.isEmpty() ? nxTr("Impossibile eliminare il record: altri record vi fanno riferimento.")
                                   : nxTr("Impossibile eliminare il record: record della tabella %1 vi fanno riferimento.").arg(other);
        else if (names.isEmpty())
            text = nxTr("Un valore del record non corrisponde a nessun record della tabella collegata%1.")
                       .arg(other.isEmpty() ? QString() : u' ' + other);
        else
            text = nxTr("%1 non corrisponde a nessun record della tabella %2.")
                       .arg(one ? nxTr("Il valore del campo %1").arg(fields) : nxTr("La combinazione dei campi %1").arg(fields),
                            other.isEmpty() ? QStringLiteral("collegata") : other);
        break;
    default:
        text = nxTr("Il database ha rifiutato il record: %1").arg(error.description());
        break;
    }
    if (!deleting)
        text += nxTr("\nCorreggere e riprovare: i valori inseriti sono stati mantenuti.");
    msgBox(text, MsgButtons::OkOnly, title());
    if (!error.columns().isEmpty())
        focusField(error.columns().first());
    return true;
}

void RowActions::focusField(const QString &column)
{
    FieldControl *f = m.fields.bound(column);
    QWidget *w = f ? f->focusTarget() : nullptr;
    if (!w || !w->isEnabled())
        return;
    m.layout.showPageOf(w);
    w->setFocus(Qt::OtherFocusReason);
}

} // namespace Norvix
