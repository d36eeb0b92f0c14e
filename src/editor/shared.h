#pragma once

// Settings that every editor and control of a process shares: one copy for all controls of a host
// (Modale, EditorVisible, CloseOnConfirm, LastInserted, LastView). They live in one object, made
// on first use and kept for the process; the controls read and write it through their properties,
// and each editor is handed it (EditorState::shared).

#include <QString>

namespace Norvix {

struct SharedSettings
{
    // Editors open modally.
    bool modal = true;
    // An editor is open; no second one is opened meanwhile.
    bool editorVisible = false;
    // The editor closes after a save, cancel or delete.
    bool closeOnConfirm = false;
    // The key text of the last row inserted by an editor.
    QString lastInserted;
    // The key text of the last row shown by an editor.
    QString lastView;

    // The one of this process.
    static SharedSettings &process()
    {
        static SharedSettings settings;
        return settings;
    }
};

} // namespace Norvix
