#include "platform/textfold.h"

#include "platform/connection.h"

#include <QSqlDriver>
#include <QSqlQuery>
#include <QVariant>

#include <sqlite3.h>

namespace Norvix {

namespace {

void foldSqlite(sqlite3_context *context, int, sqlite3_value **argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(context);
        return;
    }
    const auto *text = reinterpret_cast<const char *>(sqlite3_value_text(argv[0]));
    const QByteArray out = folded(QString::fromUtf8(text, sqlite3_value_bytes(argv[0]))).toUtf8();
    sqlite3_result_text(context, out.constData(), int(out.size()), SQLITE_TRANSIENT);
}

} // namespace

QString folded(const QString &text)
{
    return text.toLower();
}

void addFoldFunction(const QSqlDatabase &db)
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return;
    if (sqlite3 *h = *static_cast<sqlite3 *const *>(handle.constData()))
        sqlite3_create_function_v2(h, "norvix_fold", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, foldSqlite, nullptr,
                                   nullptr, nullptr);
}

QString foldedSql(Connection &connection, const QString &expression)
{
    switch (connection.dialect()) {
    case SqlDialect::Sqlite: return QStringLiteral("norvix_fold(%1)").arg(expression);
    case SqlDialect::Other: return QStringLiteral("LOWER(%1)").arg(expression);
    case SqlDialect::PostgreSql: break;
    }
    // A Unicode collation usable with the database's encoding: ICU's root, or the C library's
    // C.UTF-8.
    const QString collation = connection.call([&] {
        QSqlQuery q;
        const QString sql = QStringLiteral(
            "SELECT collname FROM pg_collation WHERE collname IN ('und-x-icu', 'C.utf8') AND collencoding IN "
            "(-1, (SELECT encoding FROM pg_database WHERE datname = current_database())) "
            "ORDER BY collname = 'und-x-icu' DESC LIMIT 1");
        return connection.execRead(q, sql, {}) && q.next() ? q.value(0).toString() : QString();
    });
    const QString text = QStringLiteral("CAST(%1 AS TEXT)").arg(expression);
    return collation.isEmpty() ? QStringLiteral("lower(%1)").arg(text)
                               : QStringLiteral("lower(%1 COLLATE %2)").arg(text, quoteIdentifier(collation));
}

} // namespace Norvix
