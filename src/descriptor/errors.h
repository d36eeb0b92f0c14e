#pragma once

#include "platform/errors.h"

namespace Norvix {

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
