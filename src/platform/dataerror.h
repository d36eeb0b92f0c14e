#pragma once

#include "platform/errors.h"

#include <QStringList>

#include <memory>

namespace Norvix {

/// An error of the data layer, with the number the editor tells cases apart by:
///   524          a duplicate of the primary index on an existing row
///   3022         any other unique-constraint violation on an existing row
///   -2147217873  a duplicate key refused on a new row (the pending row stays)
///   -2147217864  the row was changed or deleted by someone else since it was read
///   3314         a NOT NULL column left empty
///   3317         a CHECK constraint not met
///   3201         a foreign key with no row to refer to (or, on a delete, rows still referring)
///   3316         any other refusal of a constraint (a trigger's, an unknown kind's)
///   3712         the user stopped waiting for the server (Annulla): nothing was changed
///   5, 6         another connection kept the database (a table) locked past every wait
///   57014        the server stopped the statement at its time limit (statement_timeout)
///   13           no room left on the database's disk
/// The four refusals carry, where the database tells, the columns concerned, the constraint and
/// the other table of a foreign key. Other failures keep a number of their own and the driver's
/// text.
class NORVIX_EXPORT DataError : public Error
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
        FileGone = 3024, // the database file was deleted or replaced while open
        ConnectionLost = 3146, // the server went away during a save: its outcome is unknown
        Cancelled = 3712, // the user interrupted the wait for the server (Annulla)
        Busy = 5,        // SQLite: the database stayed locked by another connection (6: a table)
        TableLocked = 6,
        DiskFull = 13,   // SQLite's SQLITE_FULL; PostgreSQL's 53100 is told the same way
        TimedOut = 57014, // PostgreSQL's query_canceled, the server's time limit reached
        HistoryFailed = 3950, // a change's history could not be written: the change was refused whole
    };
    /// An error with its number, the text for the user and the driver's own code.
    DataError(int number, const QString &description, const QString &nativeCode = QString());
    ~DataError() override;
    DataError(const DataError &other);
    DataError &operator=(const DataError &other);

    /// The number the editor tells cases apart by (see above).
    int number() const;
    /// The text for the user.
    QString description() const { return message(); }
    /// The driver's code: SQLite's extended result code, PostgreSQL's SQLSTATE.
    QString nativeCode() const;

    /// A refusal of the database (NotNull, Check, ForeignKey, Constraint): ordinary, not a fault.
    bool isRefusal() const;
    /// The columns a refusal concerns, as the table spells them (empty when unknown).
    QStringList columns() const;
    void setColumns(const QStringList &columns);
    /// The constraint's name or expression (empty when unknown).
    QString constraint() const;
    void setConstraint(const QString &constraint);
    /// A foreign key's other table: the one referred to, or, for a refused delete, the one referring.
    QString otherTable() const;
    void setOtherTable(const QString &table);

private:
    struct Details;
    std::unique_ptr<Details> d;
};

} // namespace Norvix
