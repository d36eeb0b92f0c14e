#pragma once

#include "norvix_export.h"

#include <QString>
#include <stdexcept>

namespace Norvix {

/// Base of the errors the library raises. The text is meant for the user (Italian) and never
/// carries a password.
class NORVIX_EXPORT Error : public std::runtime_error
{
public:
    /// An error with a message for the user.
    explicit Error(const QString &message) : std::runtime_error(message.toStdString()) {}
    /// The message for the user.
    QString message() const { return QString::fromStdString(what()); }
};

/// Failures of the keyed collections of the descriptor tree. The numbers are the classic
/// run-time error numbers that callers may test for.
class NORVIX_EXPORT CollectionError : public Error
{
public:
    enum Kind { SubscriptOutOfRange = 9, InvalidArgument = 5, DuplicateKey = 457 };
    CollectionError(Kind kind, const QString &message) : Error(message), m_kind(kind) {}
    Kind kind() const { return m_kind; }

private:
    Kind m_kind;
};

/// A descriptor source that cannot be read or a line that cannot be applied.
class NORVIX_EXPORT DescriptorError : public Error
{
public:
    using Error::Error;
};

} // namespace Norvix
