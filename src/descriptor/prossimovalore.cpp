#include "descriptor/prossimovalore.h"
#include "platform/language.h"

#include "platform/values.h"

#include <QSqlError>
#include <QSqlQuery>

#include <limits>

namespace Norvix {

QString ProssimoValore(const QString &Colonna, const RecordSource &Sorgente, const QString &Connessione,
                       const QString &dataFolder, const QString &databaseName)
{
    return ProssimoValore(Colonna, Sorgente, *Connection::open(Connessione, dataFolder, databaseName, Access::ReadOnly));
}

QString ProssimoValore(const QString &Colonna, const RecordSource &Sorgente, const Connection &connection)
{
    const auto table = tableInfo(connection, Sorgente.table);
    const ColumnInfo &column = table->column(Colonna);

    QString sql = QStringLiteral("SELECT MAX(%1) AS Res FROM %2").arg(quoteIdentifier(column.name), quoteIdentifier(table->name));
    QStringList where;
    QVariantList values;
    for (const auto &[name, value] : Sorgente.equals) {
        const ColumnInfo &c = table->column(name);
        if (value.isNull()) {
            where << quoteIdentifier(c.name) + QStringLiteral(" IS NULL");
        } else {
            where << quoteIdentifier(c.name) + QStringLiteral(" = ?");
            values << value;
        }
    }
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));

    return connection.call([&]() -> QString {
        QSqlQuery q(connection.database());
        q.setForwardOnly(true);
        q.setNumericalPrecisionPolicy(QSql::HighPrecision);
        bool ok = q.prepare(sql);
        for (const QVariant &v : values)
            q.addBindValue(v);
        ok = ok && execPatiently(q);
        if (!ok)
            throw DataError(DataError::Generic, q.lastError().text(), q.lastError().nativeErrorCode());

        double next = 1;
        if (q.next() && !q.value(0).isNull()) {
            const QVariant res = q.value(0);
            // Whole numbers are counted exactly, beyond the 15 digits a double keeps.
            bool integral = false;
            const qint64 whole = res.toString().toLongLong(&integral);
            if (integral && whole < std::numeric_limits<qint64>::max()) {
                q.finish();
                const qint64 n = whole + 1;
                return (n >= 0 ? QStringLiteral(" ") : QString()) + QString::number(n);
            }
            bool numeric = false;
            double greatest = res.toDouble(&numeric);
            if (!numeric) {
                // A counter kept in a text column: its text must read as a number.
                const auto parsed = Values::toDouble(res.toString());
                if (!parsed)
                    throw DataError(DataError::ConversionFailed,
                                    nxTr("Il valore massimo \"%1\" della colonna %2 non è un numero").arg(res.toString(), column.name));
                greatest = *parsed;
            }
            next = greatest + 1;
        }
        q.finish();
        return Values::str(next);
    });
}

} // namespace Norvix
