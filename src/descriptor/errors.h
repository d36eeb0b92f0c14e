#pragma once

#include <QString>
#include <stdexcept>

namespace Norvix {

// Base of the errors the library raises. The text is meant for the user (Italian) and never
// carries a password.
class Error : public std::runtime_error
{
public:
    explicit Error(const QString &message)
        : std::runtime_error(message.toStdString()), m_message(message) {}
    QString message() const { return m_message; }

private:
    QString m_message;
};

// Failures of the keyed collections of the descriptor tree. The numbers are the classic
// run-time error numbers that callers may test for.
class CollectionError : public Error
{
public:
    enum Kind { SubscriptOutOfRange = 9, InvalidArgument = 5, DuplicateKey = 457 };
    CollectionError(Kind kind, const QString &message) : Error(message), m_kind(kind) {}
    Kind kind() const { return m_kind; }

private:
    Kind m_kind;
};

// A descriptor source that cannot be read or a line that cannot be applied.
class DescriptorError : public Error
{
public:
    using Error::Error;
};

} // namespace Norvix
