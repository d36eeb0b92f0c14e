#pragma once

// The windows of the waits (see platform/waiting.h): on the main thread of a QApplication the
// events go on while the data layer waits (user input held back), and after kWaitWindowAfterMs
// a small window with Annulla (CmdAnnulla) shows.
//
// Locks: "Database occupato" (FrmOccupato); the tries go on until the lock goes or the user
// presses Annulla.
// Servers: "Attendere" (FrmAttesa) has a running progress bar (PrgAttesa) and Annulla, which asks
// the server to cancel the statement and, when the server does not answer within
// kHardCancelAfterMs, cuts the connection.

#include "platform/waiting.h"

class QDialog;

namespace Norvix {

class WindowWaits : public WaitService
{
public:
    std::unique_ptr<LockWaiting> lockWaiting() override;
    void waitForServer(const std::function<bool(int ms)> &finished, const std::function<void(Interrupt)> &interrupt,
                       const QString &what) override;
};

// The window of a wait, not shown yet: FrmOccupato for a lock, FrmAttesa (with its running bar)
// for a server named by `what`. Annulla, or Esc, sets *cancelled.
enum class WaitWindow { Lock, Server };
QDialog *makeWaitWindow(WaitWindow kind, const QString &what, bool *cancelled);

} // namespace Norvix
