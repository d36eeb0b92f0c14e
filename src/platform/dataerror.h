#pragma once

#include "descriptor/errors.h"

#include <QStringList>

namespace Norvix {

// An error of the data layer, with the number the editor tells cases apart by:
//   524          a duplicate of the primary index on an existing row
//   3022         any other unique-constraint violation on an existing row
//   -2147217873  a duplicate key refused on a new row (the pending row stays)
//   -2147217864  the row was changed or deleted by someone else since it was read
//   3314         a NOT NULL column left empty
//   3317         a CHECK constraint not met
//   3201         a foreign key with no row to refer to (or, on a delete, rows still referring)
//   3316         any other refusal of a constraint (a trigger's, an unknown kind's)
// The four refusals carry, where the database tells, the columns concerned, the constraint and
// the other table of a foreign key. Other failures keep a number of their own and the driver's
// text.
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
        NotNullViolation = 3314,
        CheckViolation = 3317,
        ForeignKeyViolation = 3201,
        ConstraintViolation = 3316,
    };
    DataError(int number, const QString &description, const QString &nativeCode = QString())
        : Error(description), m_number(number), m_nativeCode(nativeCode)
    {
    }
    int number() const { return m_number; }
    QString description() const { return message(); }
    QString nativeCode() const { return m_nativeCode; }

    // A refusal of the database (NotNull, Check, ForeignKey, Constraint): ordinary, not a fault.
    bool isRefusal() const
    {
        return m_number == NotNullViolation || m_number == CheckViolation || m_number == ForeignKeyViolation
               || m_number == ConstraintViolation;
    }
    // The columns a refusal concerns, as the table spells them (empty when unknown).
    QStringList columns() const { return m_columns; }
    void setColumns(const QStringList &columns) { m_columns = columns; }
    // The constraint's name or expression (empty when unknown).
    QString constraint() const { return m_constraint; }
    void setConstraint(const QString &constraint) { m_constraint = constraint; }
    // A foreign key's other table: the one referred to, or, for a refused delete, the one referring.
    QString otherTable() const { return m_otherTable; }
    void setOtherTable(const QString &table) { m_otherTable = table; }

private:
    int m_number;
    QString m_nativeCode;
    QStringList m_columns;
    QString m_constraint;
    QString m_otherTable;
};

} // namespace Norvix
