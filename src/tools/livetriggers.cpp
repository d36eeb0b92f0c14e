#include "tools/livetriggers.h"

#include "platform/connection.h"
#include "platform/sqlnames.h"

#include <QSqlError>
#include <QSqlQuery>

#include <functional>

namespace Norvix {

namespace {

const char kFunction[] = R"(CREATE OR REPLACE FUNCTION norvix_live_notify() RETURNS trigger LANGUAGE plpgsql AS $$
DECLARE
    riga jsonb := CASE WHEN TG_OP = 'DELETE' THEN to_jsonb(OLD) ELSE to_jsonb(NEW) END;
    chiave jsonb := '[]';
    avviso text := jsonb_build_object('table', TG_TABLE_NAME)::text;
BEGIN
    IF TG_NARGS > 0 THEN
        FOR i IN 0 .. TG_NARGS - 1 LOOP
            chiave := chiave || jsonb_build_array(riga -> TG_ARGV[i]);
        END LOOP;
        IF octet_length(jsonb_build_object('table', TG_TABLE_NAME, 'key', chiave)::text) <= 7900 THEN
            avviso := jsonb_build_object('table', TG_TABLE_NAME, 'key', chiave)::text;
        END IF;
    END IF;
    PERFORM pg_notify('norvix', avviso);
    RETURN NULL;
END
$$)";

// Runs `before`, the statements `each` gives for each table and `after` in one transaction; returns
// the tables as the database spells them. Throws DataError naming a table that is not there.
QStringList inOneTransaction(Connection &connection, const QStringList &tables, const QString &before,
                             const std::function<QStringList(const TableInfo &)> &each, const QString &after)
{
    // DROP ... IF EXISTS says nothing of what is not there.
    QStringList names, statements{QStringLiteral("SET LOCAL client_min_messages = warning"), before};
    for (const QString &t : tables) {
        const auto info = tableInfo(connection, t);
        names << info->name;
        statements << each(*info);
    }
    statements << after;
    statements.removeAll(QString());
    connection.call([&] {
        QSqlDatabase db = connection.database();
        QSqlQuery q(db);
        if (!db.transaction())
            throw DataError(DataError::Generic, db.lastError().text());
        for (const QString &s : std::as_const(statements)) {
            if (!q.exec(s)) {
                const QSqlError error = q.lastError();
                q.finish();
                db.rollback();
                throw DataError(DataError::Generic, error.databaseText().isEmpty() ? error.text() : error.databaseText());
            }
        }
        if (!db.commit())
            throw DataError(DataError::Generic, db.lastError().text());
    });
    return names;
}

QString dropTrigger(const TableInfo &table)
{
    return QStringLiteral("DROP TRIGGER IF EXISTS norvix_live ON ") + quoteIdentifier(table.name);
}

} // namespace

QStringList installLiveTriggers(Connection &connection, const QStringList &tables)
{
    return inOneTransaction(
        connection, tables, QString::fromUtf8(kFunction),
        [](const TableInfo &table) {
            QStringList key;
            for (const QString &column : table.primaryKey)
                key << quoteLiteral(column);
            return QStringList{dropTrigger(table),
                               QStringLiteral("CREATE TRIGGER norvix_live AFTER INSERT OR UPDATE OR DELETE ON %1 "
                                              "FOR EACH ROW EXECUTE FUNCTION norvix_live_notify(%2)")
                                   .arg(quoteIdentifier(table.name), key.join(QStringLiteral(", ")))};
        },
        {});
}

QStringList removeLiveTriggers(Connection &connection, const QStringList &tables)
{
    return inOneTransaction(
        connection, tables, {}, [](const TableInfo &table) { return QStringList{dropTrigger(table)}; },
        QStringLiteral("DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_trigger WHERE tgfoid = "
                       "to_regprocedure('norvix_live_notify()')) THEN DROP FUNCTION IF EXISTS norvix_live_notify(); "
                       "END IF; END $$"));
}

} // namespace Norvix
