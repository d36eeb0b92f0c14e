#include "editor/commandpanel.h"

#include "editor/editorstate.h"
#include "editor/recordlistpane.h"
#include "editor/recordlistview.h"
#include "editor/rowactions.h"
#include "session/rowsession.h"
#include "platform/language.h"

#include <QFrame>
#include <QPushButton>
#include <QShortcut>

namespace Norvix {

namespace {
const char *const kCaptions[5] = {NX_NOOP("&Nuovo"), NX_NOOP("&Conferma"), NX_NOOP("&Annulla"), NX_NOOP("&Elimina"),
                                   NX_NOOP("&Fine")};
} // namespace

CommandPanel::CommandPanel(QWidget &window, EditorState &state, const RowSession &session, RowActions &actions,
                           const RecordListPane &list, std::function<void(int index)> clicked)
    : m_window(window), m_state(state), m_session(session), m_actions(actions), m_list(list), m_clicked(std::move(clicked))
{
}

void CommandPanel::create()
{
    m_panel = new QFrame(&m_window);
    m_panel->setObjectName(QStringLiteral("PicButton"));
    for (int i = 0; i < 5; ++i) {
        auto *b = new QPushButton(nxTr(kCaptions[i]), m_panel);
        b->setObjectName(QStringLiteral("CmdButton%1").arg(i));
        b->setAutoDefault(false);
        QObject::connect(b, &QPushButton::clicked, &m_window, [this, i] { m_clicked(i); });
        m_buttons[i] = b;
    }
    // Ctrl+S confirms and Ctrl+N starts a new row, as their buttons do where they are offered.
    for (const auto &[keys, index] : {std::pair{QKeySequence::Save, 1}, std::pair{QKeySequence::New, 0}}) {
        auto *shortcut = new QShortcut(keys, &m_window);
        shortcut->setContext(Qt::WindowShortcut);
        QObject::connect(shortcut, &QShortcut::activated, &m_window, [this, index = index] {
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
    m_state.modified = false;
    show(true, false, false, true);
    m_actions.LoccaRecord(!m_actions.ControllaCancellazione());
    m_actions.SETINDICI(false);
    m_list.view()->setEnabled(true);
}

void CommandPanel::SETMODIFICATO()
{
    m_state.modified = true;
    m_buttons[0]->setVisible(false);
    m_buttons[1]->setVisible(true);
    if (m_session.recordset() && !m_session.recordset()->Eof())
        m_buttons[2]->setVisible(true);
    m_buttons[3]->setVisible(false);
    m_list.view()->setEnabled(false);
}

void CommandPanel::SETNEW()
{
    m_state.modified = false;
    show(false, false, true, false);
    m_buttons[4]->setVisible(true);
    m_actions.LoccaRecord(false);
    m_actions.SETINDICI(true);
    m_list.view()->setEnabled(false);
}

void CommandPanel::emptyTable()
{
    m_state.modified = false;
    show(false, true, false, false);
    m_buttons[4]->setVisible(true);
}

void CommandPanel::readOnly()
{
    for (int i = 0; i < 4; ++i)
        m_buttons[i]->setEnabled(false);
}

} // namespace Norvix
