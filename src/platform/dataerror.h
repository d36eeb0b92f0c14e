#pragma once

#include "descriptor/errors.h"

namespace Norvix {

// An error of the data layer, with the number the editor tells cases apart by:
//   524          a duplicate of the primary index on an existing row
//   3022         any other unique-constraint violation on an existing row
//   -2147217873  a duplicate key refused on a new row (the pending row stays)
//   -2147217864  the row was changed or deleted by someone else since it was read
// Other failures keep a number of their own and the driver's text.
class DataError : public Error
{
public:
    enum : int {
        DuplicatePrimary = 524,
        DuplicateUnique = 3022,
        IntegrityViolation = -2147217873,
        RowChanged = -2147217864,
        ConnectionFailed = 3704,
        BadConnectionString = 3706,
        NoCurrentRow = 3021,
        BadIdentifier = 3265,
        ConversionFailed = -2147217913,
        Generic = -2147467259,
    };
    DataError(int number, const QString &description, const QString &nativeCode = QString())
        : Error(description), m_number(number), m_nativeCode(nativeCode)
    {
    }
    int number() const { return m_number; }
    QString description() const { return message(); }
    QString nativeCode() const { return m_nativeCode; }

private:
    int m_number;
    QString m_nativeCode;
};

} // namespace Norvix
