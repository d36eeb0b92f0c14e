#include "editor/commandpanel.h"

#include "editor/frmedittab_p.h"
#include "platform/language.h"

#include <QFrame>
#include <QPushButton>
#include <QShortcut>

namespace Norvix {

namespace {
const char *const kCaptions[5] = {NX_NOOP("&Nuovo"), NX_NOOP("&Conferma"), NX_NOOP("&Annulla"), NX_NOOP("&Elimina"),
                                   NX_NOOP("&Fine")};
} // namespace

CommandPanel::CommandPanel(FrmEditTabPrivate &d) : d(d) {}

void CommandPanel::create()
{
    m_panel = new QFrame(d.q);
    m_panel->setObjectName(QStringLiteral("PicButton"));
    for (int i = 0; i < 5; ++i) {
        auto *b = new QPushButton(nxTr(kCaptions[i]), m_panel);
        b->setObjectName(QStringLiteral("CmdButton%1").arg(i));
        b->setAutoDefault(false);
        QObject::connect(b, &QPushButton::clicked, d.q, [this, i] { d.q->CmdButton_Click(i); });
        m_buttons[i] = b;
    }
    // Ctrl+S confirms and Ctrl+N starts a new row, as their buttons do where they are offered.
    for (const auto &[keys, index] : {std::pair{QKeySequence::Save, 1}, std::pair{QKeySequence::New, 0}}) {
        auto *shortcut = new QShortcut(keys, d.q);
        shortcut->setContext(Qt::WindowShortcut);
        QObject::connect(shortcut, &QShortcut::activated, d.q, [this, index = index] {
            if (QPushButton *b = m_buttons[index]; b->isVisible() && b->isEnabled())
                b->click();
        });
    }
}

void CommandPanel::show(bool nuovo, bool conferma, bool annulla, bool elimina)
{
    m_buttons[0]->setVisible(nuovo);
    m_buttons[1]->setVisible(conferma);
    m_buttons[2]->setVisible(annulla);
    m_buttons[3]->setVisible(elimina);
}

void CommandPanel::SETNEUTRAL()
{
    d.modified = false;
    show(true, false, false, true);
    d.actions.LoccaRecord(!d.actions.ControllaCancellazione());
    d.actions.SETINDICI(false);
    d.list.view()->setEnabled(true);
}

void CommandPanel::SETMODIFICATO()
{
    d.modified = true;
    m_buttons[0]->setVisible(false);
    m_buttons[1]->setVisible(true);
    if (d.session.recordset() && !d.session.recordset()->Eof())
        m_buttons[2]->setVisible(true);
    m_buttons[3]->setVisible(false);
    d.list.view()->setEnabled(false);
}

void CommandPanel::SETNEW()
{
    d.modified = false;
    show(false, false, true, false);
    m_buttons[4]->setVisible(true);
    d.actions.LoccaRecord(false);
    d.actions.SETINDICI(true);
    d.list.view()->setEnabled(false);
}

void CommandPanel::emptyTable()
{
    d.modified = false;
    show(false, true, false, false);
    m_buttons[4]->setVisible(true);
}

void CommandPanel::readOnly()
{
    for (int i = 0; i < 4; ++i)
        m_buttons[i]->setEnabled(false);
}

} // namespace Norvix
