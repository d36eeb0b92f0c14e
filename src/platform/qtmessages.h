#pragma once

#include "platform/messages.h"

class QWidget;

namespace Norvix {

// Shows messages in a QMessageBox, parented to the active window.
class QtMessageService : public MessageService
{
public:
    MsgAnswer show(const Message &message) override;
};

} // namespace Norvix
