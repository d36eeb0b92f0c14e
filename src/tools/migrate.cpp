#include "tools/migrate.h"
#include "platform/language.h"

#include "descriptor/jetfile.h"
#include "platform/connection.h"
#include "platform/dataerror.h"
#include "platform/sqlnames.h"
#include "tools/scaffold.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace Norvix {

namespace {

QString sqlType(const JetFile::Column &c)
{
    using T = JetFile::Type;
    switch (c.type) {
    case T::Boolean: return QStringLiteral("BOOLEAN");
    case T::Byte:
    case T::Integer: return QStringLiteral("SMALLINT"); // a descriptor then keeps them within 16 bits
    case T::Long: return QStringLiteral("INTEGER");
    case T::Currency: return QStringLiteral("NUMERIC(19,4)");
    case T::Single:
    case T::Double: return QStringLiteral("REAL");
    case T::DateTime: return QStringLiteral("TIMESTAMP");
    case T::Binary:
    case T::Ole: return QStringLiteral("BLOB");
    case T::Text: return QStringLiteral("VARCHAR(%1)").arg(std::max(c.length, 1));
    case T::Memo: return QStringLiteral("TEXT");
    case T::ReplicationId: return QStringLiteral("VARCHAR(38)");
    case T::Numeric: return QStringLiteral("NUMERIC(%1,%2)").arg(std::max(c.precision, 1)).arg(c.scale);
    case T::Other: return QStringLiteral("TEXT");
    }
    return QStringLiteral("TEXT");
}

// A column as the target declares it. An AutoNumber that is the whole primary key becomes the
// key SQLite numbers itself (the table then needs no PRIMARY KEY clause).
QString columnDefinition(const JetFile::Column &c, const QStringList &primaryKey)
{
    QString definition = quoteIdentifier(c.name) + u' ' + sqlType(c);
    if (primaryKey == QStringList{c.name} && c.type == JetFile::Type::Long) {
        if (c.autoNumber)
            definition += QStringLiteral(" PRIMARY KEY AUTOINCREMENT");
        else // an INTEGER key would be SQLite's rowid, which the database numbers: the user types this one
            definition = quoteIdentifier(c.name) + QStringLiteral(" INT");
    }
    if (c.required)
        definition += QStringLiteral(" NOT NULL");
    return definition;
}

// The columns of the table's primary key, or none.
QStringList primaryKeyOf(const JetFile::Table &table)
{
    for (const JetFile::Index &i : table.indexes)
        if (i.primary)
            return i.columns;
    return {};
}

QStringList quoted(const QStringList &names)
{
    QStringList out;
    for (const QString &n : names)
        out << quoteIdentifier(n);
    return out;
}

[[noreturn]] void targetFailed(const QString &what, const QSqlError &error)
{
    throw DataError(DataError::Generic, QStringLiteral("%1: %2").arg(what, error.text()));
}

} // namespace

MigrateResult migrateJet(const MigrateOptions &options)
{
    const JetFile source(options.source, options.password, false); // a wrong password stops here
    const QStringList all = source.userTables();
    QStringList tables;
    for (const QString &name : options.tables.isEmpty() ? all : options.tables) {
        const auto it = std::find_if(all.cbegin(), all.cend(), [&](const QString &t) { return t.compare(name, Qt::CaseInsensitive) == 0; });
        if (it == all.cend())
            throw MigrationRefused(nxTr("La tabella %1 non c'è in %2").arg(name, options.source));
        tables << *it;
    }
    const QFileInfo target(options.target);
    const QString dsc = target.absoluteDir().filePath(QStringLiteral("files.dsc"));
    if (options.descriptors && QFileInfo::exists(dsc) && !options.replace)
        throw MigrationRefused(nxTr("%1 esiste già: usare --replace per sostituirlo").arg(dsc));
    const bool existed = target.exists();

    const QString name = QStringLiteral("norvix-migrate");
    MigrateResult result;
    bool done = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(target.absoluteFilePath());
        const auto cleanUp = qScopeGuard([&] {
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(name);
            if (!done && !existed) // a target made here and left empty goes
                for (const char *suffix : {"", "-journal", "-wal", "-shm"})
                    QFile::remove(target.absoluteFilePath() + QLatin1String(suffix));
        });
        if (!db.open())
            targetFailed(nxTr("Impossibile aprire %1").arg(options.target), db.lastError());
        QSqlQuery q(db);
        // The tables there already: nothing is written when one would be overwritten.
        const QStringList present = db.tables(QSql::Tables);
        for (const QString &t : std::as_const(tables))
            for (const QString &p : present)
                if (p.compare(t, Qt::CaseInsensitive) == 0 && !options.replace)
                    throw MigrationRefused(nxTr("La tabella %1 esiste già in %2: usare --replace per sostituirla")
                                               .arg(p, options.target));
        if (!q.exec(QStringLiteral("BEGIN IMMEDIATE")))
            targetFailed(nxTr("Impossibile scrivere %1").arg(options.target), q.lastError());
        try {
            for (const QString &t : std::as_const(tables)) {
                const JetFile::Table table = source.table(t);
                const QStringList key = primaryKeyOf(table);
                QStringList columns;
                bool numbered = false; // the key is the AutoNumber SQLite numbers itself
                for (const JetFile::Column &c : table.columns) {
                    columns << columnDefinition(c, key);
                    numbered = numbered || columns.last().contains(QLatin1String(" AUTOINCREMENT"));
                }
                if (!key.isEmpty() && !numbered)
                    columns << QStringLiteral("PRIMARY KEY (%1)").arg(quoted(key).join(QStringLiteral(", ")));
                if (!q.exec(QStringLiteral("DROP TABLE IF EXISTS %1").arg(quoteIdentifier(table.name)))
                    || !q.exec(QStringLiteral("CREATE TABLE %1 (%2)").arg(quoteIdentifier(table.name), columns.join(QStringLiteral(", ")))))
                    targetFailed(nxTr("Impossibile creare la tabella %1").arg(table.name), q.lastError());
                for (const JetFile::Index &i : table.indexes) {
                    if (i.primary)
                        continue;
                    const QString index = quoteIdentifier(table.name + u'_' + i.name);
                    if (!q.exec(QStringLiteral("CREATE %1INDEX %2 ON %3 (%4)")
                                    .arg(i.unique ? QStringLiteral("UNIQUE ") : QString(), index, quoteIdentifier(table.name),
                                         quoted(i.columns).join(QStringLiteral(", ")))))
                        targetFailed(nxTr("Impossibile creare l'indice %1 della tabella %2").arg(i.name, table.name),
                                     q.lastError());
                }
                QSqlQuery insert(db);
                QStringList marks(table.columns.size(), QStringLiteral("?"));
                if (!insert.prepare(QStringLiteral("INSERT INTO %1 VALUES (%2)").arg(quoteIdentifier(table.name), marks.join(u','))))
                    targetFailed(nxTr("Impossibile scrivere la tabella %1").arg(table.name), insert.lastError());
                qint64 rows = 0;
                source.readRows(table.name, [&](const QVariantList &values) {
                    for (int i = 0; i < values.size(); ++i) {
                        // The file cannot tell an empty Text from a NULL; where NULL is not allowed it was empty.
                        const JetFile::Column &c = table.columns.at(i);
                        const bool text = c.type == JetFile::Type::Text || c.type == JetFile::Type::Memo;
                        insert.bindValue(i, values[i].isNull() && c.required && text ? QVariant(QStringLiteral("")) : values[i]);
                    }
                    if (!insert.exec())
                        targetFailed(nxTr("Impossibile scrivere la riga %1 della tabella %2").arg(rows + 1).arg(table.name),
                                     insert.lastError());
                    if (++rows % 10000 == 0 && options.progress)
                        options.progress(nxTr("%1: %2 di %3 righe").arg(table.name).arg(rows).arg(table.rows));
                    return true;
                });
                if (options.progress && rows >= 10000)
                    options.progress(nxTr("%1: %2 righe").arg(table.name).arg(rows));
                result.tables << table.name;
                result.rows += rows;
            }
        } catch (...) {
            q.exec(QStringLiteral("ROLLBACK"));
            throw;
        }
        if (!q.exec(QStringLiteral("COMMIT")))
            targetFailed(nxTr("Impossibile scrivere %1").arg(options.target), q.lastError());
        done = true;
    }
    if (options.descriptors) {
        const auto connection = Connection::open(ConnectionParams::sqliteFile(target.absoluteFilePath()));
        QSaveFile file(dsc);
        if (!file.open(QIODevice::WriteOnly)
            || file.write((scaffoldDescriptors(*connection, result.tables).join(u'\n') + u'\n').toUtf8()) < 0 || !file.commit())
            throw DataError(DataError::Generic, nxTr("Impossibile scrivere %1: %2").arg(dsc, file.errorString()));
    }
    return result;
}

} // namespace Norvix
