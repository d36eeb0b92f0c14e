// Write conflicts: the row in hand was changed or deleted by another user after the editor read
// it. The user sees FrmConflitto and chooses; nothing typed is lost unless the user says so.
// And saves whose outcome is unknown, the connection to the server lost on the way: the row is
// read again to tell the user whether the save landed.

#include "editor/frmconflitto.h"
#include "platform/language.h"
#include "editor/frmedittab_p.h"
#include "editor/recordlist.h"
#include "editor/rowactions.h"
#include "platform/messages.h"
#include "platform/values.h"

#include <QCheckBox>

namespace Norvix {

namespace {

// How a field shows a stored column (a check box: Sì or No).
QString storedText(const FieldControl &f, const Field &field)
{
    if (field.isBoolean())
        return field.Value.isNull() || !field.Value.toBool() ? QStringLiteral("0") : QStringLiteral("1");
    const QString text = columnValueText(field.Value, field.Type);
    const QString picture = f.campo()->Format();
    return picture.isEmpty() || text.isEmpty() ? text : Values::format(QVariant(text), picture);
}

QString yesNo(const QString &flag)
{
    return flag == u"1" ? nxTr("Sì") : nxTr("No");
}

// Two reads of one row hold the same values.
bool sameRow(const Recordset &a, const Recordset &b)
{
    for (const ColumnInfo &column : a.table()->columns)
        if (a.field(column.name).Value != b.field(column.name).Value)
            return false;
    return true;
}

} // namespace

bool RowActions::canResolveConflict() const
{
    const Recordset *rs = d.data.recordset();
    return rs && rs->hasCurrentRow() && !d.data.keyColumns().isEmpty();
}

QList<FrmConflitto::Difference> RowActions::conflictFields(const Recordset *stored) const
{
    QList<FrmConflitto::Difference> out;
    const auto table = d.data.table();
    for (const auto &f : d.fields.all()) {
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
    Recordset *rs = d.data.recordset();
    const QVariantList key = rs->Bookmark();
    for (;;) {
        std::unique_ptr<Recordset> now;
        try {
            now = d.data.readRow(key);
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
            FrmConflitto dialog(situation, conflictFields(gone ? nullptr : now.get()), d.q);
            choice = dialog.exec();
            d.q->activateWindow(); // back to the editor, whose keys the user types next
        } else {
            msgBox(gone ? nxTr("Un altro utente ha eliminato questo record: le modifiche non sono state salvate.")
                        : nxTr("Un altro utente ha modificato questo record: le modifiche non sono state salvate."),
                   MsgButtons::OkOnly, d.q->windowTitle());
        }
        if (d.closed())
            return false;
        try {
            if (choice == FrmConflitto::Reload) {
                rs->CancelUpdate();
                if (gone) {
                    d.data.reopen(CursorIntent::Read);
                    d.list.RIEMPILISTA();
                    showAfterDelete();
                } else {
                    rs->setBookmark(key);
                    d.q->ShowRecord();
                }
                return false;
            }
            if (choice != FrmConflitto::Overwrite)
                return false; // back to the editor: the typed values stay, the row still changed
            rs->CancelUpdate();
            if (gone) { // inserted again, with every value typed
                rs->AddNew();
                if (!writeControls(true))
                    return false;
                rs->Update();
                return true;
            }
            rs->setBookmark(key);
            if (!sameRow(*rs, *now))
                continue; // a third writer since the window was shown: shown again
            if (deleting) {
                rs->Delete();
                return true;
            }
            if (!writeControls(false)) // the fields the user changed, over the stored row
                return false;
            rs->Update();
            return true;
        } catch (const DataError &e) {
            if (e.number() == DataError::RowChanged)
                continue; // changed again meanwhile: shown again
            refused(e);
            return false;
        }
    }
}

bool RowActions::resolveLostSave(bool adding)
{
    const QString title = d.q->windowTitle();
    const QString kept = nxTr("I valori inseriti sono stati mantenuti: premere Conferma per salvarli.");
    // The key of the row: the one in hand, or the one typed for a new row.
    QVariantList key;
    if (!adding) {
        key = d.data.recordset()->Bookmark();
    } else {
        for (const QString &column : d.data.keyColumns())
            for (const auto &f : d.fields.all())
                if (f->column().compare(column, Qt::CaseInsensitive) == 0)
                    key << f->value();
    }
    std::unique_ptr<Recordset> now;
    try {
        d.data.connection()->reconnect();
        if (key.size() == d.data.keyColumns().size() && !key.isEmpty())
            now = d.data.readRow(key);
    } catch (const DataError &) {
        msgBox(nxTr("La connessione al database si è interrotta durante il salvataggio e non può essere "
                              "ristabilita ora: non si sa se la modifica è stata salvata. ")
                   + kept,
               MsgButtons::OkOnly, title);
        return false;
    }
    // Landed when the row holds what the user typed in every field that was written.
    bool landed = now && !now->Eof();
    for (const auto &f : d.fields.all()) {
        const QString column = f->column();
        if (!landed || column.isEmpty() || !f->value().isValid() || now->table()->indexOf(column) < 0)
            continue;
        if (adding || f->text() != f->input()->property("ShownText").toString())
            landed = storedText(*f, now->field(column)) == f->text();
    }
    if (landed) {
        msgBox(nxTr("La connessione al database si è interrotta durante il salvataggio, ma la modifica "
                              "risulta salvata."),
               MsgButtons::OkOnly, title);
        return true;
    }
    msgBox(nxTr("La connessione al database si è interrotta durante il salvataggio: la modifica non è "
                          "stata salvata. ")
               + kept,
           MsgButtons::OkOnly, title);
    return false;
}

bool RowActions::resolveLostDelete()
{
    const QVariantList key = d.data.recordset()->Bookmark();
    try {
        d.data.connection()->reconnect();
        if (d.data.readRow(key)->Eof())
            return true; // it went through
        msgBox(nxTr("La connessione al database si è interrotta: il record non è stato eliminato."),
               MsgButtons::OkOnly, d.q->windowTitle());
    } catch (const DataError &) {
        msgBox(nxTr("La connessione al database si è interrotta e non può essere ristabilita ora: non si sa "
                              "se il record è stato eliminato."),
               MsgButtons::OkOnly, d.q->windowTitle());
    }
    return false;
}

} // namespace Norvix
