// Tab pages, focus, modes and the locks of the field controls.

#include "editor/frmedittab.h"

#include "editor/checkvalue.h"
#include "descriptor/prossimovalore.h"
#include "platform/messages.h"
#include "platform/values.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>

namespace Norvix {

void FrmEditTab::ImpostaForm()
{
    m_applying = true;
    while (m_tabs->count() > 0)
        m_tabs->removeTab(0);
    for (const QString &t : m_layout->tabs()) {
        const int index = m_tabs->addTab(QStringLiteral("Pagina ") + t);
        m_tabs->setTabData(index, t);
    }
    m_applying = false;
    m_formHeight = m_layout->formHeight();
    m_formWidth = m_layout->formWidth(m_panelWidth);
    applyGeometry();
    m_tabFrame->lower();

    try {
        m_recordset = std::make_unique<Recordset>(m_connection, RecordSource::wholeTable(m_recordName), keyIds(),
                                                  CursorIntent::Read);
    } catch (const DataError &e) {
        msgBox(QStringLiteral("errore: %1: %2").arg(e.number()).arg(e.description()));
        return;
    }
    SETNEUTRAL();
    if (m_tabs->count() > 0) {
        m_tabs->setCurrentIndex(0);
        TabPage_Click();
    }
}

void FrmEditTab::TabPage_Click()
{
    if (m_tabs->currentIndex() < 0)
        return;
    const QString tag = m_tabs->tabData(m_tabs->currentIndex()).toString();
    for (QWidget *w : std::as_const(m_fieldControls)) {
        const QString t = w->property("Tag").toString();
        if (!t.isEmpty())
            w->setVisible(t == tag);
    }
}

void FrmEditTab::CTRLSETFOCUS(QWidget *control)
{
    if (!isVisible() || !control)
        return;
    const QString tag = control->property("Tag").toString();
    for (int i = 0; i < m_tabs->count(); ++i)
        if (m_tabs->tabData(i).toString() == tag)
            m_tabs->setCurrentIndex(i);
    TabPage_Click();
    if (control->isEnabled() && control->isVisible())
        control->setFocus(Qt::OtherFocusReason);
}

void FrmEditTab::SETINDICI(bool enabled)
{
    const auto campi = m_rec ? m_rec->Campi() : nullptr;
    for (const QString &id : keyIds()) {
        if (!campi->Contains(id) || campi->Item(id)->ObjType().toUpper() == u"LOCKEDFIELD")
            continue;
        for (QWidget *w : std::as_const(m_fieldControls)) {
            if (w->property("DataField").toString().toUpper() != id.toUpper())
                continue;
            w->setEnabled(enabled);
            const int index = w->property("Index").toInt();
            if (index < TxtDesc.size() && TxtDesc[index])
                TxtDesc[index]->setEnabled(enabled);
        }
    }
}

void FrmEditTab::LoccaRecord(bool locked)
{
    const auto campi = m_rec ? m_rec->Campi() : nullptr;
    for (QWidget *w : std::as_const(m_fieldControls)) {
        const QString field = w->property("DataField").toString();
        if (field.isEmpty() || w->property("NoColumn").toBool())
            continue; // no column to write it to: never unlocked
        // Fields built locked (counters, last-change stamps) are never unlocked.
        if (campi && campi->Contains(field)) {
            const QString kind = campi->Item(field)->ObjType().toUpper();
            if (kind == u"LOCKEDFIELD" || kind == u"UMOD")
                continue;
        }
        w->setEnabled(!locked);
        const int index = w->property("Index").toInt();
        if (index < TxtDesc.size() && TxtDesc[index])
            TxtDesc[index]->setEnabled(!locked);
    }
}

bool FrmEditTab::ControllaCancellazione()
{
    bool result = true;
    const auto campi = m_rec ? m_rec->Campi() : nullptr;
    if (!campi)
        return result;
    for (QWidget *w : std::as_const(m_fieldControls)) {
        const QString field = w->property("DataField").toString();
        if (field.isEmpty())
            continue;
        for (const QString &id : keyIds()) {
            if (id.toUpper() != field.toUpper() || !campi->Contains(id))
                continue;
            QVariant value;
            if (auto *c = qobject_cast<QCheckBox *>(w))
                value = c->isChecked() ? -1 : 0;
            else
                value = controlText(w);
            if (!CHECKVALUE(value, *campi->Item(id)))
                result = false;
        }
    }
    return result;
}

void FrmEditTab::SETNEUTRAL()
{
    m_modified = false;
    m_buttons[0]->setVisible(true);
    m_buttons[1]->setVisible(false);
    m_buttons[2]->setVisible(false);
    m_buttons[3]->setVisible(true);
    LoccaRecord(!ControllaCancellazione());
    SETINDICI(false);
    m_list->setEnabled(true);
}

void FrmEditTab::SETMODIFICATO()
{
    m_modified = true;
    m_buttons[0]->setVisible(false);
    m_buttons[1]->setVisible(true);
    if (m_recordset && !m_recordset->Eof())
        m_buttons[2]->setVisible(true);
    m_buttons[3]->setVisible(false);
    m_list->setEnabled(false);
}

void FrmEditTab::SETNEW()
{
    m_modified = false;
    m_buttons[0]->setVisible(false);
    m_buttons[1]->setVisible(false);
    m_buttons[2]->setVisible(true);
    m_buttons[3]->setVisible(false);
    m_buttons[4]->setVisible(true);
    LoccaRecord(false);
    SETINDICI(true);
    m_list->setEnabled(false);

    const auto campi = m_rec->Campi();
    for (QWidget *w : std::as_const(m_fieldControls)) {
        const QString field = w->property("DataField").toString();
        if (field.isEmpty() || !(qobject_cast<QLineEdit *>(w) || qobject_cast<QPlainTextEdit *>(w)) || !campi->Contains(field))
            continue;
        const auto campo = campi->Item(field);
        if (!campo->Default().isEmpty())
            setControlText(w, campo->Default());
        const QString type = campo->TIPO().toUpper();
        if (type == u"DATE" && controlText(w).toUpper() == u"NOW")
            setControlText(w, Values::format(QVariant(QDateTime::currentDateTime()), campo->Format()));
        if (type == u"AUTOINC") {
            try {
                setControlText(w, ProssimoValore(field, RecordSource::wholeTable(m_recordName), m_connectionString,
                                                 m_dbPath, m_databaseName).trimmed());
            } catch (const Error &e) {
                msgBox(QStringLiteral("errore: %1").arg(e.message()));
            }
        }
    }
    if (isVisible())
        CTRLSETFOCUS(m_firstControl);
}

} // namespace Norvix
