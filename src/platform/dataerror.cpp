#include "platform/dataerror.h"

namespace Norvix {

struct DataError::Details
{
    int number = 0;
    QString nativeCode;
    QStringList columns;
    QString constraint;
    QString otherTable;
};

DataError::DataError(int number, const QString &description, const QString &nativeCode)
    : Error(description), d(std::make_unique<Details>())
{
    d->number = number;
    d->nativeCode = nativeCode;
}

DataError::~DataError() = default;

DataError::DataError(const DataError &other) : Error(other), d(std::make_unique<Details>(*other.d)) {}

DataError &DataError::operator=(const DataError &other)
{
    Error::operator=(other);
    d = std::make_unique<Details>(*other.d);
    return *this;
}

int DataError::number() const { return d->number; }
QString DataError::nativeCode() const { return d->nativeCode; }
QStringList DataError::columns() const { return d->columns; }
void DataError::setColumns(const QStringList &columns) { d->columns = columns; }
QString DataError::constraint() const { return d->constraint; }
void DataError::setConstraint(const QString &constraint) { d->constraint = constraint; }
QString DataError::otherTable() const { return d->otherTable; }
void DataError::setOtherTable(const QString &table) { d->otherTable = table; }

bool DataError::isRefusal() const
{
    return d->number == NotNullViolation || d->number == CheckViolation || d->number == ForeignKeyViolation
           || d->number == ConstraintViolation;
}

} // namespace Norvix
