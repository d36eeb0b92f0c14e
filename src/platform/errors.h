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

} // namespace Norvix
