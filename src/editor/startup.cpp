// Opening the editor on a table, showing a row, and closing.

#include "descriptor/estraitoken.h"
#include "platform/language.h"
#include "descriptor/leggidsc.h"
#include "descriptor/prossimovalore.h"
#include "editor/frmedittab_p.h"
#include "editor/recordlistview.h"
#include "editor/shared.h"
#include "platform/messages.h"
#include "platform/sqlnames.h"
#include "platform/values.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>

namespace Norvix {

void FrmEditTab::START(const QString &Connection, const QString &DbPath, const QString &DatabaseName,
                       const QString &RecordName, const QString &DscPath, const QString &TableDescField, bool ReadOnly,
                       const std::optional<QString> &Indice)
{
    if (d->refuses())
        return;
    const Busy busy(*d);
    const QString dbPath = normaliseFolder(DbPath);
    d->recordName = RecordName;
    d->dscPath = DscPath.isEmpty() ? dbPath : normaliseFolder(DscPath);
    d->descField = TableDescField;
    d->readOnly = ReadOnly;
    if (ReadOnly)
        d->panel.readOnly();
    SCREENMODE(0, 0);
    d->window.REPROP();

    d->rec = std::make_shared<Rec>();
    QString dscPath = d->dscPath;
    if (!LeggiDsc(dscPath, RecordName, *d->rec)) {
        d->closeWindow();
        return;
    }
    d->dscPath = dscPath;
    if (d->rec->Nome().isEmpty()) {
        msgBox(nxTr("Il record %1 non è descritto in %2.").arg(shownInMessage(RecordName), QDir::toNativeSeparators(d->dscPath)),
               MsgButtons::OkOnly, nxTr("ATTENZIONE!"));
        d->Form_Unload();
        return;
    }
    // The data is only read until its table has been found: a failed start changes nothing.
    if (!d->openData(Connection, dbPath, DatabaseName) || d->startEnded())
        return;
    d->factory.METTICAMPI();
    d->details.build();
    if (!d->canShow) {
        d->Form_Unload();
        return;
    }
    d->ImpostaForm();
    if (d->startEnded())
        return;
    setWindowTitle(d->rec->Desc());
    bool writable = true;
    try {
        writable = ReadOnly || d->data.enableWriting();
    } catch (const DataError &e) {
        // Reopening to write failed (a lock held past every wait, a server gone meanwhile).
        msgBox(e.description(), MsgButtons::OkOnly, nxTr("ATTENZIONE!"));
        d->Form_Unload();
        return;
    }
    if (d->startEnded())
        return;
    if (!writable) {
        // A file this user may only read: browsed, never written.
        d->readOnly = true;
        d->panel.readOnly();
        msgBox(nxTr("Il database %1 può essere solo letto: l'editor è aperto in sola lettura.")
                   .arg(QDir::toNativeSeparators(d->data.connection()->params().database)),
               MsgButtons::OkOnly, nxTr("ATTENZIONE!"));
    }
    d->details.setReadOnly(d->readOnly);
    try {
        d->session.open(d->session.wholeTable(), CursorIntent::Change);
    } catch (const DataError &e) {
        d->actions.readFailed(e);
        return;
    }
    d->warnMissingColumns();
    if (d->startEnded())
        return;
    d->window.REPROP();
    d->window.dropSingleTab();
    d->chooseDescField();
    d->search.load();
    if (!d->session.recordset()->Eof())
        RIEMPILISTA();
    if (!d->startEnded())
        d->positionOn(Indice);
    d->startEnded();
}

bool FrmEditTabPrivate::startEnded()
{
    if (!std::exchange(closeWanted, false))
        return unloaded;
    Form_Unload();
    return true;
}

bool FrmEditTabPrivate::openData(const QString &connection, const QString &dbPath, const QString &databaseName)
{
    try {
        data.open(connection, dbPath, databaseName, recordName);
        session.attach(data.connection(), recordName, keyIds(), rec);
    } catch (const DataError &e) {
        if (e.number() != DataError::BadIdentifier || !data.connection())
            throw; // the data cannot be opened: the caller hears of it
        msgBox(QStringLiteral("%1 %2.").arg(e.description(), QDir::toNativeSeparators(data.connection()->params().database)),
               MsgButtons::OkOnly, nxTr("ATTENZIONE!"));
        Form_Unload();
        return false;
    }
    return true;
}

void FrmEditTabPrivate::warnMissingColumns()
{
    // A field the table has no column for would lose, without a word, whatever is typed into it:
    // the user is told, and its control stays locked (see LoccaRecord).
    QStringList missing;
    const auto table = session.table();
    for (QWidget *w : fields.widgets()) {
        const QString field = w->property("DataField").toString();
        if (field.isEmpty() || table->indexOf(field) >= 0)
            continue;
        w->setProperty("NoColumn", true);
        w->setEnabled(false);
        if (!missing.contains(shownInMessage(field)))
            missing << shownInMessage(field);
    }
    if (!missing.isEmpty())
        msgBox(nxTr("Colonne non trovate nella tabella %1: %2.\nI campi corrispondenti non possono essere "
                              "modificati.")
                   .arg(shownInMessage(table->name), missing.join(QStringLiteral(", "))),
               MsgButtons::OkOnly, nxTr("ATTENZIONE!"));
}

void FrmEditTabPrivate::chooseDescField()
{
    if (!descField.isEmpty())
        return;
    const auto table = session.table();
    for (const ColumnInfo &c : table->columns)
        if (c.name.toUpper() == u"DESCRIZIONE")
            descField = c.name;
    if (descField.isEmpty())
        for (const ColumnInfo &c : table->columns)
            if (c.name.left(4).toUpper() == u"DESC")
                descField = c.name;
    if (!descField.isEmpty())
        return;
    const QStringList keys = keyIds();
    for (const auto &campo : *rec->Campi()) {
        if (campo->TIPO().toUpper() != u"TEXT")
            continue;
        const bool isKey = std::any_of(keys.cbegin(), keys.cend(),
                                       [&](const QString &k) { return k.compare(campo->Nome(), Qt::CaseInsensitive) == 0; });
        if (!isKey) {
            descField = campo->Nome();
            return;
        }
    }
}

void FrmEditTabPrivate::positionOn(const std::optional<QString> &Indice)
{
    if (!Indice) {
        if (list.view()->count() > 0)
            list.view()->setCurrentRow(0); // loads and shows the row
        if (!session.recordset() || session.recordset()->Eof())
            list.SETPRIMO();
        return;
    }
    if (Indice->isEmpty()) {
        q->CmdButton_Click(0);
        return;
    }
    // The row whose key fields hold the given values, or the first row.
    const QStringList keys = keyIds();
    QList<QPair<QString, QVariant>> criteria;
    for (int k = 0; k < keys.size(); ++k)
        criteria.append({keys[k], EstraiToken(*Indice, QStringLiteral(","), k + 1)});
    try {
        Recordset &rs = session.open(session.wholeTable(), CursorIntent::Change);
        bool found = false;
        try {
            found = !criteria.isEmpty() && rs.Find(criteria);
        } catch (const DataError &e) {
            if (e.number() != DataError::ConversionFailed)
                throw;
            // A value no key can hold (a letter for a number, a NUL): there is no such row.
        }
        if (!found)
            rs.MoveFirst();
    } catch (const DataError &e) {
        actions.readFailed(e);
        return;
    }
    if (session.recordset()->Eof()) {
        list.SETPRIMO();
        return;
    }
    // Select the row's line without loading it again.
    list.selectQuietly(list.view()->rowOfKey(session.recordset()->Bookmark()));
    q->ShowRecord();
}

void FrmEditTab::ShowRecord()
{
    if (d->closed() || d->refuses())
        return;
    Recordset *rs = d->session.recordset();
    if (!rs || !rs->hasCurrentRow())
        return;
    d->details.follow();
    const auto table = rs->table();
    for (const auto &f : d->fields.all()) {
        const QString field = f->column();
        if (field.isEmpty() || table->indexOf(field) < 0)
            continue;
        try {
            f->show(rs->field(field));
            if (auto *lookup = dynamic_cast<LookupField *>(f.get()))
                d->lookups.showRowValue(*lookup);
        } catch (const Error &) {
            // A column the row cannot give is left as it was.
        }
    }
    // Display pictures of the fields.
    const auto campi = d->rec->Campi();
    for (QWidget *w : d->fields.widgets()) {
        const QString field = w->property("DataField").toString();
        if (field.isEmpty() || !campi->Contains(field) || qobject_cast<QCheckBox *>(w))
            continue;
        const QString picture = campi->Item(field)->Format();
        if (!picture.isEmpty() && !widgetText(w).isEmpty())
            setWidgetText(w, Values::format(QVariant(widgetText(w)), picture));
    }
    // What the controls show of the row: a save leaves out those still showing it.
    for (QWidget *w : d->fields.widgets())
        if (!w->property("DataField").toString().isEmpty())
            w->setProperty("ShownText", widgetText(w));
    SETNEUTRAL();
}

void FrmEditTabPrivate::ImpostaForm()
{
    window.makeTabs();
    try {
        session.open(session.wholeTable(), CursorIntent::Read);
    } catch (const DataError &e) {
        actions.readFailed(e);
        return;
    }
    panel.SETNEUTRAL();
    if (window.tabs()->count() > 0) {
        window.tabs()->setCurrentIndex(0);
        window.TabPage_Click();
    }
}

void FrmEditTabPrivate::setDefaults()
{
    const auto campi = rec->Campi();
    for (QWidget *w : fields.widgets()) {
        const QString field = w->property("DataField").toString();
        if (field.isEmpty() || !(qobject_cast<QLineEdit *>(w) || qobject_cast<QPlainTextEdit *>(w)) || !campi->Contains(field))
            continue;
        const auto campo = campi->Item(field);
        if (!campo->Default().isEmpty())
            setWidgetText(w, campo->Default());
        const QString type = campo->TIPO().toUpper();
        if (type == u"DATE" && widgetText(w).toUpper() == u"NOW")
            setWidgetText(w, Values::format(QVariant(QDateTime::currentDateTime()), campo->Format()));
        if (type == u"AUTOINC") {
            try {
                setWidgetText(w, ProssimoValore(field, session.wholeTable(), *session.connection()).trimmed());
            } catch (const Error &e) {
                msgBox(nxTr("errore: %1").arg(e.message()));
            }
        }
    }
}

void FrmEditTabPrivate::Form_Unload()
{
    unloaded = true;
    canShow = false;
    live.stop();
    rec.reset();
    firstControl = nullptr;
    session.detach();
    data.close();
    window.removeTabs();
    // One never shown (a start that failed, one deleted late) leaves the open one counted.
    if (std::exchange(counted, false))
        shared.editorVisible = false;
    emit q->CloseEditor();
}

} // namespace Norvix
