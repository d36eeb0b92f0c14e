// Write conflicts: the row in hand was changed or deleted by another user after the editor read
// it. The user sees FrmConflitto and chooses; nothing typed is lost unless the user says so.
// And saves and deletes whose COMMIT the lost connection to the server cut off: their outcome is
// made final and told (saved, not saved, or, the server out of reach, not known).

#include "editor/frmconflitto.h"
#include "platform/language.h"
#include "editor/editorstate.h"
#include "editor/fieldset.h"
#include "editor/recordlistpane.h"
#include "editor/columntext.h"
#include "editor/rowactions.h"
#include "platform/messages.h"

#include <QCheckBox>

namespace Norvix {

namespace {

// How a field shows a stored column (a check box: Sì or No).
QString storedText(const FieldControl &f, const Field &field)
{
    if (field.isBoolean())
        return field.Value.isNull() || !field.Value.toBool() ? QStringLiteral("0") : QStringLiteral("1");
    return columnValueText(field.Value, field.Type, f.campo()->Format());
}

QString yesNo(const QString &flag)
{
    return flag == u"1" ? nxTr("Sì") : nxTr("No");
}

} // namespace

bool RowActions::canResolveConflict() const
{
    const Recordset *rs = m.session.recordset();
    return rs && rs->hasCurrentRow() && !m.session.keyColumns().isEmpty();
}

QList<FrmConflitto::Difference> RowActions::conflictFields(const Recordset *stored) const
{
    QList<FrmConflitto::Difference> out;
    const auto table = m.session.table();
    for (const auto &f : m.fields.all()) {
        const QString column = f->column();
        if (column.isEmpty() || table->indexOf(column) < 0 || !f->value().isValid())
            continue; // not a column of the row, or never written (binary)
        FrmConflitto::Difference diff{f->campo()->Desc(), f->input()->property("ShownText").toString(), QString(), f->text()};
        diff.stored = stored ? storedText(*f, stored->field(column)) : QStringLiteral("eliminato");
        if (qobject_cast<QCheckBox *>(f->input())) {
            diff.started = yesNo(diff.started);
            diff.typed = yesNo(diff.typed);
            if (stored)
                diff.stored = yesNo(diff.stored);
        }
        out << diff;
    }
    return out;
}

bool RowActions::resolveConflict(bool deleting)
{
    Recordset *rs = m.session.recordset();
    const QVariantList key = rs->Bookmark();
    for (;;) {
        std::unique_ptr<Recordset> now;
        try {
            now = m.session.readRow(key);
        } catch (const DataError &e) {
            ErrorHandler(&e);
            return false;
        }
        const bool gone = now->Eof();
        if (deleting && gone)
            return true; // deleted meanwhile by the other user: what was asked is done
        const auto situation = deleting ? FrmConflitto::Situation::DeleteOfChanged
                               : gone   ? FrmConflitto::Situation::Deleted
                                        : FrmConflitto::Situation::Changed;
        int choice = FrmConflitto::Back;
        if (hasWidgetApplication()) {
            FrmConflitto dialog(situation, conflictFields(gone ? nullptr : now.get()), &m.window);
            choice = dialog.exec();
            m.window.activateWindow(); // back to the editor, whose keys the user types next
        } else {
            msgBox(gone ? nxTr("Un altro utente ha eliminato questo record: le modifiche non sono state salvate.")
                        : nxTr("Un altro utente ha modificato questo record: le modifiche non sono state salvate."),
                   MsgButtons::OkOnly, title());
        }
        if (m_calls.closed())
            return false;
        try {
            if (choice == FrmConflitto::Reload) {
                rs->CancelUpdate();
                if (gone) {
                    m.session.reopen(CursorIntent::Read);
                    m.list.RIEMPILISTA();
                    showAfterDelete();
                } else {
                    rs->setBookmark(key);
                    m_calls.showRecord();
                }
                return false;
            }
            if (choice != FrmConflitto::Overwrite)
                return false; // back to the editor: the typed values stay, the row still changed
        } catch (const DataError &e) {
            refused(e);
            return false;
        }
        // Gone: inserted again with every value typed; else the fields the user changed written
        // over the stored row, or it is deleted, as long as it is still the row the user saw.
        if (gone && !typeControls(true))
            return false;
        const RowOutcome outcome = deleting ? m.session.remove(now.get()) : m.session.overwrite(gone ? nullptr : now.get());
        if (outcome.done())
            return true;
        if (outcome.kind == RowOutcome::Kind::Conflict)
            continue; // changed again meanwhile: shown again
        if (outcome.kind == RowOutcome::Kind::Invalid)
            invalidValue(outcome);
        else
            refused(*outcome.error);
        return false;
    }
}

void RowActions::showStoredChanges()
{
    const Recordset *rs = m.session.recordset();
    if (!canResolveConflict() || !hasWidgetApplication())
        return;
    std::unique_ptr<Recordset> now;
    try {
        now = m.session.readRow(rs->Bookmark());
    } catch (const DataError &e) {
        ErrorHandler(&e);
        return;
    }
    FrmConflitto dialog(FrmConflitto::Situation::Preview, conflictFields(now->Eof() ? nullptr : now.get()), &m.window);
    dialog.exec();
    m.window.activateWindow();
}

bool RowActions::storeGoneRow()
{
    if (msgBox(nxTr("Il record è stato eliminato da un altro utente. Salvarlo di nuovo come nuovo record?"),
               MsgButtons::YesNo, title(), MsgIcon::Question)
            != MsgAnswer::Yes
        || m_calls.closed() || !typeControls(true))
        return false;
    const RowOutcome outcome = m.session.overwrite(nullptr);
    if (outcome.done()) {
        m.state.rowGone = false;
        return true;
    }
    if (outcome.kind == RowOutcome::Kind::Invalid)
        invalidValue(outcome);
    else
        refused(*outcome.error);
    return false;
}

QVariantList RowActions::rowKey(bool adding) const
{
    if (!adding)
        return m.session.recordset()->Bookmark();
    QVariantList key; // the one typed for a new row
    for (const QString &column : m.session.keyColumns())
        for (const auto &f : m.fields.all())
            if (f->column().compare(column, Qt::CaseInsensitive) == 0)
                key << f->value();
    return key.size() == m.session.keyColumns().size() ? key : QVariantList();
}

RowActions::Typed RowActions::typedNow(bool adding) const
{
    Typed out{rowKey(adding), {}};
    const auto table = m.session.table();
    for (const auto &f : m.fields.all()) {
        const QString column = f->column();
        // A time stamp is written by every save, to the second, and shown to the minute: left out.
        if (column.isEmpty() || !f->value().isValid() || table->indexOf(column) < 0
            || f->campo()->ObjType().compare(u"UMOD", Qt::CaseInsensitive) == 0)
            continue;
        if (adding || f->text() != f->input()->property("ShownText").toString())
            out.texts.append({f.get(), f->text()});
    }
    return out;
}

bool RowActions::holds(const Recordset *stored, const Typed &typed)
{
    if (!stored || stored->Eof())
        return false;
    for (const auto &[f, text] : typed.texts)
        if (storedText(*f, stored->field(f->column())) != text)
            return false;
    return true;
}

bool RowActions::rebaseOnOwnSave(const Typed &doubt, const DataError &error, bool adding)
{
    const bool taken = adding ? error.number() == DataError::IntegrityViolation || error.number() == DataError::DuplicatePrimary
                              : error.number() == DataError::RowChanged;
    if (!taken || doubt.key.isEmpty() || doubt.key != rowKey(adding))
        return false;
    try {
        if (!holds(m.session.readRow(doubt.key).get(), doubt))
            return false; // changed by someone else: a conflict as any other
        m.session.recordset()->CancelUpdate();
        if (adding)
            m.session.open(m.session.rowOf(doubt.key), CursorIntent::Change);
        else
            m.session.recordset()->setBookmark(doubt.key);
        return true;
    } catch (const DataError &) {
        return false;
    }
}

Connection::WriteFate RowActions::fateOfLostWrite(const Typed &typed, bool deleting)
{
    const auto fate = m.session.connection()->settleLostWrite();
    if (fate != Connection::WriteFate::Untracked)
        return fate;
    // No transaction to ask about (not PostgreSQL): the row read again on a new session.
    try {
        m.session.connection()->reconnect();
        if (typed.key.isEmpty())
            return Connection::WriteFate::NotSaved;
        const auto now = m.session.readRow(typed.key);
        return (deleting ? now->Eof() : holds(now.get(), typed)) ? Connection::WriteFate::Saved
                                                                  : Connection::WriteFate::NotSaved;
    } catch (const DataError &) {
        return Connection::WriteFate::Unknown;
    }
}

bool RowActions::resolveLostSave(bool adding)
{
    const QString kept = nxTr("I valori inseriti sono stati mantenuti: premere Conferma per salvarli.");
    Typed typed = typedNow(adding);
    switch (fateOfLostWrite(typed, false)) {
    case Connection::WriteFate::Saved:
        msgBox(nxTr("La connessione al database si è interrotta durante il salvataggio, ma la modifica "
                    "risulta salvata."),
               MsgButtons::OkOnly, title());
        return true;
    case Connection::WriteFate::NotSaved:
        msgBox(nxTr("La connessione al database si è interrotta durante il salvataggio: la modifica non è "
                    "stata salvata. ") + kept,
               MsgButtons::OkOnly, title());
        return false;
    default:
        // The next Conferma finds the row changed, by this save if it landed: then no conflict.
        m_doubt = std::move(typed);
        msgBox(nxTr("La connessione al database si è interrotta durante il salvataggio e ora non si può "
                    "sapere se la modifica è stata salvata. ") + kept,
               MsgButtons::OkOnly, title());
        return false;
    }
}

bool RowActions::resolveLostDelete()
{
    QString text;
    const auto fate = fateOfLostWrite(Typed{m.session.recordset()->Bookmark(), {}}, true);
    switch (fate) {
    case Connection::WriteFate::Saved:
        text = nxTr("La connessione al database si è interrotta, ma il record risulta eliminato.");
        break;
    case Connection::WriteFate::NotSaved:
        text = nxTr("La connessione al database si è interrotta: il record non è stato eliminato.");
        break;
    default: // a delete tried again finds the row gone, if this one went: then no conflict
        text = nxTr("La connessione al database si è interrotta e ora non si può sapere se il record è stato "
                    "eliminato.");
        break;
    }
    msgBox(text, MsgButtons::OkOnly, title());
    return fate == Connection::WriteFate::Saved;
}

} // namespace Norvix
