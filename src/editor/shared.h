#pragma once

// Settings shared by every editor and control of a process: one copy for all.

#include <QString>

namespace Norvix::Shared {

// Editors open modally.
inline bool Modale = true;
// An editor is open; no second one is opened meanwhile.
inline bool EditorVisible = false;
// The editor closes after a save, cancel or delete.
inline bool CloseOnConfirm = false;
// The key text of the last row inserted by an editor.
inline QString LastInserted;
// The key text of the last row shown by an editor.
inline QString LastView;

} // namespace Norvix::Shared
