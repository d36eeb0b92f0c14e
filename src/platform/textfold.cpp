#include "platform/textfold.h"

#include "platform/connection.h"

#include <QSqlDriver>
#include <QSqlQuery>
#include <QHash>
#include <QVariant>

#include <mutex>

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

// PostgreSQL's lower() of `expression` as text, in `collation` when there is one.
QString foldedWith(const QString &expression, const QString &collation)
{
    const QString text = QStringLiteral("CAST(%1 AS TEXT)").arg(expression);
    return collation.isEmpty() ? QStringLiteral("lower(%1)").arg(text)
                               : QStringLiteral("lower(%1 COLLATE %2)").arg(text, quoteIdentifier(collation));
}

} // namespace

QString folded(const QString &text)
{
    return text.toLower();
}

QString foldedLike(Connection &connection, const QString &expression)
{
    return foldedSql(connection, expression) + QStringLiteral(" LIKE ? ESCAPE '!'");
}

QString foldedPattern(const QString &text, bool contains, bool wildcards)
{
    QString pattern = contains ? QStringLiteral("%") : QString();
    for (const QChar c : folded(text)) {
        if (wildcards && c == u'*')
            pattern += u'%';
        else if (c == u'%' || c == u'_' || c == u'!')
            pattern += u'!' + QString(c);
        else
            pattern += c;
    }
    return pattern + u'%';
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
    // C.UTF-8; asked once per database (a search asks for every input and every keystroke).
    static std::mutex mutex;
    static QHash<QString, QString> known; // by database (ConnectionParams::key)
    const QString database = connection.params().key();
    {
        const std::lock_guard lock(mutex);
        if (const auto it = known.constFind(database); it != known.constEnd())
            return foldedWith(expression, *it);
    }
    const QString collation = connection.call([&] {
        QSqlQuery q;
        const QString sql = QStringLiteral(
            "SELECT collname FROM pg_collation WHERE collname IN ('und-x-icu', 'C.utf8') AND collencoding IN "
            "(-1, (SELECT encoding FROM pg_database WHERE datname = current_database())) "
            "ORDER BY collname = 'und-x-icu' DESC LIMIT 1");
        return connection.execRead(q, sql, {}) && q.next() ? q.value(0).toString() : QString();
    });
    {
        const std::lock_guard lock(mutex);
        known.insert(database, collation);
    }
    return foldedWith(expression, collation);
}

} // namespace Norvix
