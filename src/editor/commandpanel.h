#pragma once

// The command buttons (CmdButton(0) "&Nuovo" .. (4) "&Fine", on the panel PicButton) and the three
// modes of the editor they show: neutral (a saved row shown), modified, new.

#include <array>

class QFrame;
class QPushButton;

namespace Norvix {

class FrmEditTabPrivate;

class CommandPanel
{
public:
    explicit CommandPanel(FrmEditTabPrivate &d);

    // Makes the panel and its five buttons.
    void create();
    QFrame *frame() const { return m_panel; }
    QPushButton *button(int index) const { return m_buttons.at(index); }

    void SETNEUTRAL();
    void SETMODIFICATO();
    void SETNEW();
    // The buttons of an empty table: only "Conferma" and "Fine".
    void emptyTable();
    // Only "Fine" is usable.
    void readOnly();

private:
    void show(bool nuovo, bool conferma, bool annulla, bool elimina);

    FrmEditTabPrivate &d;
    QFrame *m_panel = nullptr;
    std::array<QPushButton *, 5> m_buttons{};
};

} // namespace Norvix
