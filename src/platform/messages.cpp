#include "platform/messages.h"
#include "platform/services.h"
#include "platform/waiting.h"

#include <QCoreApplication>

#include <cstdio>

namespace Norvix {

namespace {
std::shared_ptr<MessageService> &installed()
{
    static std::shared_ptr<MessageService> service;
    return service;
}

WindowServices &registered()
{
    static WindowServices services;
    return services;
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

void setWindowServices(WindowServices services)
{
    registered() = std::move(services);
}

const WindowServices *windowServices()
{
    return hasWidgetApplication() ? &registered() : nullptr;
}


MsgAnswer StderrMessageService::show(const Message &message)
{
    const QString line = message.title.isEmpty() ? message.text : message.title + QStringLiteral(": ") + message.text;
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
    return safeAnswer(message.buttons);
}

struct RecordingMessageService::Private
{
    QList<Message> messages;
    QList<MsgAnswer> answers;
};

RecordingMessageService::RecordingMessageService() : d(std::make_unique<Private>()) {}
RecordingMessageService::~RecordingMessageService() = default;

MsgAnswer RecordingMessageService::show(const Message &message)
{
    d->messages.append(message);
    return d->answers.isEmpty() ? safeAnswer(message.buttons) : d->answers.takeFirst();
}

void RecordingMessageService::script(QList<MsgAnswer> answers)
{
    d->answers = std::move(answers);
}

const QList<Message> &RecordingMessageService::messages() const
{
    return d->messages;
}

void RecordingMessageService::clear()
{
    d->messages.clear();
    d->answers.clear();
}

MessageService &messageService()
{
    if (auto &s = installed())
        return *s;
    if (const WindowServices *windows = windowServices(); windows && windows->messages)
        return *windows->messages;
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
    const RunningEvents running; // a box runs events until it is answered
    return messageService().show(Message{text, title, buttons, icon});
}

} // namespace Norvix
