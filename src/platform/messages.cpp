#include "platform/messages.h"

#include <cstdio>

namespace Norvix {

namespace {
std::shared_ptr<MessageService> &installed()
{
    static std::shared_ptr<MessageService> service;
    return service;
}
} // namespace

MsgAnswer firstAnswer(MsgButtons buttons)
{
    switch (buttons) {
    case MsgButtons::OkOnly:
    case MsgButtons::OkCancel: return MsgAnswer::Ok;
    case MsgButtons::AbortRetryIgnore: return MsgAnswer::Abort;
    case MsgButtons::YesNoCancel:
    case MsgButtons::YesNo: return MsgAnswer::Yes;
    case MsgButtons::RetryCancel: return MsgAnswer::Retry;
    }
    return MsgAnswer::Ok;
}

MsgAnswer StderrMessageService::show(const Message &message)
{
    const QString line = message.title.isEmpty() ? message.text : message.title + QStringLiteral(": ") + message.text;
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
    return firstAnswer(message.buttons);
}

MsgAnswer RecordingMessageService::show(const Message &message)
{
    m_messages.append(message);
    return m_answers.isEmpty() ? firstAnswer(message.buttons) : m_answers.takeFirst();
}

MessageService &messageService()
{
    static StderrMessageService fallback;
    auto &s = installed();
    return s ? *s : static_cast<MessageService &>(fallback);
}

std::shared_ptr<MessageService> setMessageService(std::shared_ptr<MessageService> service)
{
    auto previous = std::move(installed());
    installed() = std::move(service);
    return previous;
}

MsgAnswer msgBox(const QString &text, MsgButtons buttons, const QString &title, MsgIcon icon)
{
    return messageService().show(Message{text, title, buttons, icon});
}

} // namespace Norvix
