// Opening the editor on a table, showing a row, and the record list.

#include "editor/frmedittab.h"

#include "descriptor/estraitoken.h"
#include "descriptor/leggidsc.h"
#include "editor/shared.h"
#include "platform/messages.h"
#include "platform/sqlnames.h"
#include "platform/values.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlError>
#include <QSqlQuery>
#include <QTabBar>
#include <QTimer>

namespace Norvix {

void FrmEditTab::START(const QString &Connection, const QString &DbPath, const QString &DatabaseName,
                       const QString &RecordName, const QString &DscPath, const QString &TableDescField, bool ReadOnly,
                       const std::optional<QString> &Indice)
{
    m_dbPath = normaliseFolder(DbPath);
    m_databaseName = DatabaseName;
    m_connectionString = Connection;
    m_recordName = RecordName;
    m_dscPath = DscPath.isEmpty() ? m_dbPath : normaliseFolder(DscPath);
    m_descField = TableDescField;
    m_readOnly = ReadOnly;
    if (ReadOnly)
        for (int i = 0; i < 4; ++i)
            m_buttons[i]->setEnabled(false);

    SCREENMODE(0, 0);
    REPROP();

    m_rec = std::make_shared<Rec>();
    QString dscPath = m_dscPath;
    if (!LeggiDsc(dscPath, m_recordName, *m_rec)) {
        close();
        return;
    }
    m_dscPath = dscPath;
    if (m_rec->Nome().isEmpty()) {
        msgBox(QStringLiteral("Il record %1 non è descritto in %2.")
                   .arg(shownInMessage(m_recordName), QDir::toNativeSeparators(m_dscPath)),
               MsgButtons::OkOnly, QStringLiteral("ATTENZIONE!"));
        Form_Unload();
        return;
    }

    // The data is only read until its table has been found: a failed start changes nothing.
    m_connection = Connection::open(m_connectionString, m_dbPath, m_databaseName, Access::ReadOnly);
    try {
        tableInfo(*m_connection, m_recordName);
    } catch (const DataError &e) {
        msgBox(QStringLiteral("%1 %2.").arg(e.description(), QDir::toNativeSeparators(m_connection->params().database)),
               MsgButtons::OkOnly, QStringLiteral("ATTENZIONE!"));
        Form_Unload();
        return;
    }
    METTICAMPI();
    if (!m_canShow) {
        Form_Unload();
        return;
    }

    ImpostaForm();
    setWindowTitle(m_rec->Desc());
    if (!ReadOnly && !m_connection->enableWriting()) {
        // A file this user may only read: browsed, never written.
        m_readOnly = true;
        for (int i = 0; i < 4; ++i)
            m_buttons[i]->setEnabled(false);
        msgBox(QStringLiteral("Il database %1 può essere solo letto: l'editor è aperto in sola lettura.")
                   .arg(QDir::toNativeSeparators(m_connection->params().database)),
               MsgButtons::OkOnly, QStringLiteral("ATTENZIONE!"));
    }

    try {
        m_recordset = std::make_unique<Recordset>(m_connection, RecordSource::wholeTable(m_recordName), keyIds(),
                                                  CursorIntent::Change);
    } catch (const DataError &e) {
        msgBox(QStringLiteral("errore: %1: %2").arg(e.number()).arg(e.description()));
        return;
    }
    // A field the table has no column for would lose, without a word, whatever is typed into it:
    // the user is told, and its control stays locked (see LoccaRecord).
    QStringList missing;
    for (QWidget *w : std::as_const(m_fieldControls)) {
        const QString field = w->property("DataField").toString();
        if (field.isEmpty() || m_recordset->table()->indexOf(field) >= 0)
            continue;
        w->setProperty("NoColumn", true);
        w->setEnabled(false);
        if (!missing.contains(shownInMessage(field)))
            missing << shownInMessage(field);
    }
    if (!missing.isEmpty())
        msgBox(QStringLiteral("Colonne non trovate nella tabella %1: %2.\nI campi corrispondenti non possono essere "
                              "modificati.")
                   .arg(shownInMessage(m_recordset->table()->name), missing.join(QStringLiteral(", "))),
               MsgButtons::OkOnly, QStringLiteral("ATTENZIONE!"));
    REPROP();

    if (m_layout->pageFill(2) == 0 && m_layout->pageFill(1) == 1 && m_tabs->count() > 0) {
        m_applying = true;
        m_tabs->removeTab(0);
        m_applying = false;
        TabPage_Click();
    }
    chooseDescField();

    if (!m_recordset->Eof())
        RIEMPILISTA();
    positionOn(Indice);
}

void FrmEditTab::chooseDescField()
{
    if (!m_descField.isEmpty())
        return;
    const auto table = m_recordset->table();
    for (const ColumnInfo &c : table->columns)
        if (c.name.toUpper() == u"DESCRIZIONE")
            m_descField = c.name;
    if (m_descField.isEmpty())
        for (const ColumnInfo &c : table->columns)
            if (c.name.left(4).toUpper() == u"DESC")
                m_descField = c.name;
    if (m_descField.isEmpty()) {
        const QStringList keys = keyIds();
        for (const auto &campo : *m_rec->Campi()) {
            if (campo->TIPO().toUpper() != u"TEXT")
                continue;
            const bool isKey = std::any_of(keys.cbegin(), keys.cend(),
                                           [&](const QString &k) { return k.compare(campo->Nome(), Qt::CaseInsensitive) == 0; });
            if (!isKey) {
                m_descField = campo->Nome();
                break;
            }
        }
    }
}

void FrmEditTab::positionOn(const std::optional<QString> &Indice)
{
    if (!Indice) {
        if (m_list->count() > 0)
            m_list->setCurrentRow(0); // loads and shows the row
        if (!m_recordset || m_recordset->Eof())
            SETPRIMO();
        return;
    }
    if (Indice->isEmpty()) {
        CmdButton_Click(0);
        return;
    }
    // The row whose key fields hold the given values, or the first row.
    const QStringList keys = keyIds();
    QList<QPair<QString, QVariant>> criteria;
    for (int k = 0; k < keys.size(); ++k)
        criteria.append({keys[k], EstraiToken(*Indice, QStringLiteral(","), k + 1)});
    try {
        m_recordset = std::make_unique<Recordset>(m_connection, RecordSource::wholeTable(m_recordName), keys,
                                                  CursorIntent::Change);
        bool found = false;
        try {
            found = !criteria.isEmpty() && m_recordset->Find(criteria);
        } catch (const DataError &e) {
            if (e.number() != DataError::ConversionFailed)
                throw;
            // A value no key can hold (a letter for a number, a NUL): there is no such row.
        }
        if (!found)
            m_recordset->MoveFirst();
    } catch (const DataError &e) {
        msgBox(QStringLiteral("errore: %1: %2").arg(e.number()).arg(e.description()));
        return;
    }
    if (m_recordset->Eof()) {
        SETPRIMO();
        return;
    }
    // Select the row's line without loading it again.
    const QVariantList mark = m_recordset->Bookmark();
    m_applying = true;
    m_list->setCurrentRow(m_list->rowOfKey(mark));
    m_applying = false;
    ShowRecord();
}

void FrmEditTab::ShowRecord()
{
    if (!m_recordset || !m_recordset->hasCurrentRow())
        return;
    const auto table = m_recordset->table();
    for (QWidget *w : std::as_const(m_fieldControls)) {
        const QString field = w->property("DataField").toString();
        if (field.isEmpty() || table->indexOf(field) < 0)
            continue;
        try {
            const Field f = m_recordset->field(field);
            if (auto *c = qobject_cast<QCheckBox *>(w)) {
                c->setChecked(!f.Value.isNull() && f.Value.toBool());
                c->setProperty("DataChanged", false);
            } else if (f.isBoolean()) {
                setControlText(w, f.Value.isNull() || !f.Value.toBool() ? QStringLiteral("0") : QStringLiteral("1"));
            } else {
                setControlText(w, columnValueText(f.Value, f.Type));
            }
            // A lookup shows the item of its code; a dependent one is listed for the row first.
            const int index = w->property("Index").toInt();
            if (qobject_cast<QLineEdit *>(w) && w->isHidden() && index < CmbBounded.size() && CmbBounded[index]) {
                const auto campo = m_rec->Campi()->Contains(field) ? m_rec->Campi()->Item(field) : nullptr;
                if (campo && !campo->SourceRif().isEmpty())
                    FILLCOMBO(CmbBounded[index], campo);
                // A completing combo lists the codes starting with the row's own.
                if (campo && CmbBounded[index]->property("Completing").toBool() && !controlText(w).trimmed().isEmpty()) {
                    const QStringList items = completionItems(campo, controlText(w).trimmed(), true);
                    CmbBounded[index]->clear();
                    CmbBounded[index]->addItems(items);
                }
                showCode(CmbBounded[index], controlText(w));
            }
        } catch (const Error &) {
            // A column the row cannot give is left as it was.
        }
    }
    // Display pictures of the fields.
    const auto campi = m_rec->Campi();
    for (QWidget *w : std::as_const(m_fieldControls)) {
        const QString field = w->property("DataField").toString();
        if (field.isEmpty() || !campi->Contains(field) || qobject_cast<QCheckBox *>(w))
            continue;
        const QString picture = campi->Item(field)->Format();
        if (!picture.isEmpty() && !controlText(w).isEmpty())
            setControlText(w, Values::format(QVariant(controlText(w)), picture));
    }
    // What the controls show of the row: a save leaves out those still showing it (see save()).
    for (QWidget *w : std::as_const(m_fieldControls))
        if (!w->property("DataField").toString().isEmpty())
            w->setProperty("ShownText", controlText(w));
    SETNEUTRAL();
}

void FrmEditTab::ClearFields()
{
    for (QWidget *w : std::as_const(m_fieldControls)) {
        if (w->property("DataField").toString().isEmpty())
            continue;
        setControlText(w, QString());
        const int index = w->property("Index").toInt();
        if (w->isHidden() && index < CmbBounded.size() && CmbBounded[index])
            CmbBounded[index]->setCurrentText(QString());
    }
}

void FrmEditTab::RIEMPILISTA()
{
    refreshListAround(-1, {});
}

void FrmEditTab::refreshListAround(int row, const QVariantList &key)
{
    // The list reads only the lines on screen, in the order of the record's key.
    const QStringList keys = keyIds();
    const auto table = tableInfo(*m_connection, m_recordName);
    const QString desc = !m_descField.isEmpty() && table->indexOf(m_descField) >= 0 ? m_descField : QString();
    m_applying = true;
    if (m_list->recordModel())
        m_list->recordModel()->refreshAround(row, key);
    else
        m_list->setRecordModel(std::make_unique<RecordListModel>(m_connection, m_recordName, keys, desc));
    m_applying = false;
    // The list leaves a read-only recordset after its last row: a move back lands on the last row.
    m_recordset = std::make_unique<Recordset>(m_connection, RecordSource::wholeTable(m_recordName), keys, CursorIntent::Read);
    if (!m_recordset->Eof()) {
        m_recordset->MoveLast();
        m_recordset->MoveNext();
    }
}

void FrmEditTab::LstSelect_Click()
{
    const int row = m_list->currentRow();
    if (row < 0)
        return;
    const QVariantList key = m_list->keyAt(row);
    const QStringList keys = keyIds();
    QList<QPair<QString, QVariant>> equals;
    for (int k = 0; k < keys.size() && k < key.size(); ++k)
        equals.append({keys[k], key[k]});
    try {
        m_recordset = std::make_unique<Recordset>(m_connection, RecordSource{m_recordName, equals}, keys, CursorIntent::Change);
        if (m_recordset->Eof()) // the row is gone: back to the whole table
            m_recordset = std::make_unique<Recordset>(m_connection, RecordSource::wholeTable(m_recordName), keys, CursorIntent::Read);
    } catch (const DataError &e) {
        msgBox(QStringLiteral("errore: %1: %2").arg(e.number()).arg(e.description()));
        // The fields still show the row read before: no line stands for another one, and a
        // click on any line tries again.
        m_applying = true;
        m_list->setCurrentRow(-1);
        m_applying = false;
        return;
    }
    ShowRecord();
}

void FrmEditTab::SETPRIMO()
{
    m_modified = false;
    m_buttons[0]->setVisible(false);
    m_buttons[1]->setVisible(true);
    m_buttons[2]->setVisible(false);
    m_buttons[3]->setVisible(false);
    m_buttons[4]->setVisible(true);
    try {
        if (!m_recordset || m_recordset->intent() != CursorIntent::Change)
            m_recordset = std::make_unique<Recordset>(m_connection, RecordSource::wholeTable(m_recordName), keyIds(),
                                                      CursorIntent::Change);
        m_recordset->AddNew();
    } catch (const DataError &e) {
        msgBox(QStringLiteral("errore: %1: %2").arg(e.number()).arg(e.description()));
    }
    for (int i = 1; i < CmbBounded.size(); ++i)
        if (CmbBounded[i] && !CmbBounded[i]->property("Tag").toString().isEmpty())
            CmbBounded[i]->setCurrentText(QString());
    m_list->clear();
    m_list->setEnabled(false);
    LoccaRecord(false);
    SETINDICI(true);
    if (isVisible())
        CTRLSETFOCUS(m_firstControl);
}

} // namespace Norvix
