#include "platform/messages.h"

#include <QCoreApplication>

#include <cstdio>

namespace Norvix {

namespace {
std::shared_ptr<MessageService> &installed()
{
    static std::shared_ptr<MessageService> service;
    return service;
}
} // namespace

MsgAnswer safeAnswer(MsgButtons buttons)
{
    switch (buttons) {
    case MsgButtons::OkOnly: return MsgAnswer::Ok;
    case MsgButtons::AbortRetryIgnore: return MsgAnswer::Abort;
    case MsgButtons::YesNo: return MsgAnswer::No;
    case MsgButtons::OkCancel:
    case MsgButtons::YesNoCancel:
    case MsgButtons::RetryCancel: return MsgAnswer::Cancel;
    }
    return MsgAnswer::Cancel;
}

bool hasWidgetApplication()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app && app->inherits("QApplication");
}

namespace {
GuiServiceFactories &factories()
{
    static GuiServiceFactories f;
    return f;
}
} // namespace

void registerGuiServices(const GuiServiceFactories &f)
{
    factories() = f;
}

const GuiServiceFactories &guiServices()
{
    return factories();
}

MsgAnswer StderrMessageService::show(const Message &message)
{
    const QString line = message.title.isEmpty() ? message.text : message.title + QStringLiteral(": ") + message.text;
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
    return safeAnswer(message.buttons);
}

MsgAnswer RecordingMessageService::show(const Message &message)
{
    m_messages.append(message);
    return m_answers.isEmpty() ? safeAnswer(message.buttons) : m_answers.takeFirst();
}

MessageService &messageService()
{
    if (auto &s = installed())
        return *s;
    if (hasWidgetApplication() && guiServices().messages) {
        static const std::shared_ptr<MessageService> gui = guiServices().messages();
        return *gui;
    }
    static StderrMessageService fallback;
    return fallback;
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
