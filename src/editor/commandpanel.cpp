#include "editor/commandpanel.h"

#include "editor/editorstate.h"
#include "editor/recordlistpane.h"
#include "editor/recordlistview.h"
#include "editor/rowactions.h"
#include "session/rowsession.h"
#include "platform/language.h"

#include <QEvent>
#include <QFrame>
#include <QPushButton>
#include <QShortcut>

namespace Norvix {

namespace {
const char *const kHistoryCaption = NX_NOOP("S&toria");

// While the search panel shows, its Trova owns Alt+T (in Italian both captions mark the T): the
// history button gives its Alt key up and takes it back when the panel goes. Ctrl+H still opens it.
class YieldsAltKey : public QObject
{
public:
    YieldsAltKey(QPushButton *button, QObject *parent) : QObject(parent), m_button(button) {}
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Show || event->type() == QEvent::Hide) {
            const QString caption = nxTr(kHistoryCaption);
            const bool shown = event->type() == QEvent::Show;
            const bool clash = QKeySequence::mnemonic(caption) == QKeySequence::mnemonic(nxTr("&Trova"));
            m_button->setText(shown && clash ? QString(caption).remove(u'&') : caption);
        }
        return false;
    }

private:
    QPushButton *m_button;
};

const char *const kCaptions[5] = {NX_NOOP("&Nuovo"), NX_NOOP("&Conferma"), NX_NOOP("&Annulla"), NX_NOOP("&Elimina"),
                                   NX_NOOP("&Fine")};
} // namespace

CommandPanel::CommandPanel(QWidget &window, EditorState &state, const RowSession &session, RowActions &actions,
                           const RecordListPane &list, std::function<void(int index)> clicked, std::function<void()> history)
    : m_window(window), m_state(state), m_session(session), m_actions(actions), m_list(list), m_clicked(std::move(clicked)),
      m_openHistory(std::move(history))
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
    m_history = new QPushButton(nxTr(kHistoryCaption), m_panel);
    m_history->setObjectName(QStringLiteral("CmdStoria"));
    m_history->setAutoDefault(false);
    m_history->setToolTip(nxTr("Le modifiche registrate di questo record (Ctrl+H)"));
    m_history->hide();
    QObject::connect(m_history, &QPushButton::clicked, &m_window, [this] { m_openHistory(); });
    // Ctrl+S confirms, Ctrl+N starts a new row and Ctrl+H shows the history, as their buttons do
    // where they are offered.
    const std::pair<QKeySequence, QPushButton *> keys[] = {{QKeySequence::Save, m_buttons[1]},
                                                           {QKeySequence::New, m_buttons[0]},
                                                           {QKeySequence(Qt::CTRL | Qt::Key_H), m_history}};
    for (const auto &[key, button] : keys) {
        auto *shortcut = new QShortcut(key, &m_window);
        shortcut->setContext(Qt::WindowShortcut);
        QObject::connect(shortcut, &QShortcut::activated, &m_window, [b = button] {
            if (b->isVisible() && b->isEnabled())
                b->click();
        });
    }
}

bool CommandPanel::showsHistory() const
{
    return m_state.rec && m_state.rec->Storia();
}

void CommandPanel::showHistory()
{
    const Recordset *rs = m_session.recordset();
    if (!m_searchWatched)
        if (auto *search = m_window.findChild<QWidget *>(QStringLiteral("FraRicerca"))) {
            search->installEventFilter(new YieldsAltKey(m_history, m_history));
            m_searchWatched = true;
        }
    m_history->setVisible(showsHistory());
    m_history->setEnabled(rs && rs->hasCurrentRow() && !m_session.adding());
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
    showHistory();
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
    showHistory();
    m_list.view()->setEnabled(false);
}

void CommandPanel::SETNEW()
{
    m_state.modified = false;
    show(false, false, true, false);
    m_buttons[4]->setVisible(true);
    showHistory();
    m_actions.LoccaRecord(false);
    m_actions.SETINDICI(true);
    m_list.view()->setEnabled(false);
}

void CommandPanel::emptyTable()
{
    m_state.modified = false;
    show(false, true, false, false);
    m_buttons[4]->setVisible(true);
    showHistory();
}

void CommandPanel::readOnly()
{
    for (int i = 0; i < 4; ++i)
        m_buttons[i]->setEnabled(false);
}

} // namespace Norvix
