#pragma once

// The message-box service. Every message the library shows to a user goes through the service
// installed here, so that the program can print messages, the widgets can show QMessageBox and
// tests can record what was said and answer from a script.

#include "norvix_export.h"

#include <QList>
#include <QString>

#include <memory>

namespace Norvix {

/// Button sets and answers keep the classic numeric values so that stored scripts and callers can
/// compare them with the well-known constants.
enum class MsgButtons { OkOnly = 0, OkCancel = 1, AbortRetryIgnore = 2, YesNoCancel = 3, YesNo = 4, RetryCancel = 5 };
enum class MsgIcon { None = 0, Critical = 16, Question = 32, Exclamation = 48, Information = 64 };
enum class MsgAnswer { Ok = 1, Cancel = 2, Abort = 3, Retry = 4, Ignore = 5, Yes = 6, No = 7 };

/// A message for the user: its text, title, buttons and icon.
struct Message
{
    QString text;
    QString title; // empty: the application's default title
    MsgButtons buttons = MsgButtons::OkOnly;
    MsgIcon icon = MsgIcon::None;
};

/// Shows messages to the user and returns the answers.
class NORVIX_EXPORT MessageService
{
public:
    virtual ~MessageService() = default;
    /// Shows the message and returns the user's answer once the box is closed.
    virtual MsgAnswer show(const Message &message) = 0;
};

/// Writes each message to standard error. It cannot ask, so it takes the answer that keeps data
/// (see safeAnswer()). Used by the command-line program and wherever no QApplication exists.
class NORVIX_EXPORT StderrMessageService : public MessageService
{
public:
    /// Prints the title and the text, and answers safeAnswer().
    MsgAnswer show(const Message &message) override;
};

/// Records every message and answers from a script (first in, first out); with the script
/// exhausted it takes the answer that keeps data (safeAnswer()). For tests and automation.
class NORVIX_EXPORT RecordingMessageService : public MessageService
{
public:
    RecordingMessageService();
    ~RecordingMessageService() override;
    /// Records the message and answers the next scripted answer.
    MsgAnswer show(const Message &message) override;
    /// The answers to give, in order.
    void script(QList<MsgAnswer> answers);
    /// Every message shown so far.
    const QList<Message> &messages() const;
    /// Forgets the messages and the answers left.
    void clear();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

/// The answer of a set that never throws away data: Cancel, No or Abort where the set has one,
/// otherwise OK. A service that cannot ask the user takes it, and message boxes make it the
/// button that Enter and Escape press.
NORVIX_EXPORT MsgAnswer safeAnswer(MsgButtons buttons);

/// The installed service. Until one is installed: message boxes (QtMessageService, see
/// ui/qtmessages.h) wherever a QApplication exists and the window services are registered (an
/// editor or a control was made), otherwise standard error.
NORVIX_EXPORT MessageService &messageService();
/// Installs a service (nullptr restores the default) and returns the previous one, if any was
/// installed by a caller.
NORVIX_EXPORT std::shared_ptr<MessageService> setMessageService(std::shared_ptr<MessageService> service);

/// Shorthand for the common case.
NORVIX_EXPORT MsgAnswer msgBox(const QString &text, MsgButtons buttons = MsgButtons::OkOnly,
                 const QString &title = QString(), MsgIcon icon = MsgIcon::None);

/// True when the process runs a QApplication, so that windows can be shown.
NORVIX_EXPORT bool hasWidgetApplication();


} // namespace Norvix
