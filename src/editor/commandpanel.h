#pragma once

// The command buttons (CmdButton(0) "&Nuovo" .. (4) "&Fine", on the panel PicButton) and the three
// modes of the editor they show: neutral (a saved row shown), modified, new. A record that keeps
// history has "S&toria" (CmdStoria, Ctrl+H) too, usable while a stored row is in hand.

#include <array>
#include <functional>

class QFrame;
class QPushButton;
class QWidget;

namespace Norvix {

class RecordListPane;
class RowActions;
class RowSession;
struct EditorState;

class CommandPanel
{
public:
    // The panel stands on `window`; a button clicked (or its shortcut) calls `clicked` with its
    // index. The modes lock the fields through `actions` and the list while a row is changed.
    // `history` opens the row's history.
    CommandPanel(QWidget &window, EditorState &state, const RowSession &session, RowActions &actions,
                 const RecordListPane &list, std::function<void(int index)> clicked, std::function<void()> history);

    // Makes the panel and its buttons.
    void create();
    QFrame *frame() const { return m_panel; }
    QPushButton *button(int index) const { return m_buttons.at(index); }
    // CmdStoria: shown when the record keeps history.
    QPushButton *historyButton() const { return m_history; }
    bool showsHistory() const;

    void SETNEUTRAL();
    void SETMODIFICATO();
    void SETNEW();
    // The buttons of an empty table: only "Conferma" and "Fine".
    void emptyTable();
    // Only "Fine" is usable.
    void readOnly();

private:
    void show(bool nuovo, bool conferma, bool annulla, bool elimina);
    // CmdStoria shown for a record that keeps history, usable on a stored row.
    void showHistory();

    QWidget &m_window;
    EditorState &m_state;
    const RowSession &m_session;
    RowActions &m_actions;
    const RecordListPane &m_list;
    std::function<void(int index)> m_clicked;
    std::function<void()> m_openHistory;
    QFrame *m_panel = nullptr;
    std::array<QPushButton *, 5> m_buttons{};
    QPushButton *m_history = nullptr;
    bool m_searchWatched = false;
};

} // namespace Norvix
