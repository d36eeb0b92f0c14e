#include "platform/constraints.h"

#include <QRegularExpression>
#include <QSqlQuery>
#include <QSqlRecord>

namespace Norvix {

namespace {

// SQLite's extended result codes of the constraints told apart (primary code 19 for all of them).
constexpr int kSqliteConstraint = 19;
constexpr int kSqliteCheck = 275;
constexpr int kSqliteForeignKey = 787;
constexpr int kSqliteNotNull = 1299;
constexpr int kSqliteFull = 13;

// Columns of `table` that an SQL expression names, in the order of their first mention; text in
// single quotes is a value, not a name.
QStringList columnsNamedIn(const QString &expression, const TableInfo &table)
{
    static const QRegularExpression token(
        QStringLiteral(R"re('(?:[^']|'')*'|"((?:[^"]|"")*)"|`([^`]*)`|\[([^\]]*)\]|([A-Za-z_][A-Za-z0-9_$]*))re"));
    QStringList found;
    for (auto it = token.globalMatch(expression); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        QString name;
        for (int group = 1; group <= 4 && name.isEmpty(); ++group)
            name = m.captured(group);
        name.replace(QStringLiteral("\"\""), QStringLiteral("\""));
        const int i = name.isEmpty() ? -1 : table.indexOf(name);
        if (i >= 0 && !found.contains(table.columns[i].name))
            found << table.columns[i].name;
    }
    return found;
}

// The text inside the parenthesis that opens at `open`, or an empty text when it never closes.
QString parenthesised(const QString &text, qsizetype open)
{
    int depth = 0;
    QChar quote;
    for (qsizetype i = open; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
        } else if (c == u'\'' || c == u'"' || c == u'`') {
            quote = c;
        } else if (c == u'(') {
            ++depth;
        } else if (c == u')' && --depth == 0) {
            return text.mid(open + 1, i - open - 1);
        }
    }
    return QString();
}

// The expression of the CHECK constraint called `name` in an SQLite table's definition.
QString sqliteCheckExpression(QSqlDatabase db, const TableInfo &table, const QString &name)
{
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT sql FROM sqlite_master WHERE type = 'table' AND name = ?"));
    q.addBindValue(table.name);
    if (!execPatiently(q) || !q.next())
        return QString();
    const QString sql = q.value(0).toString();
    const QString n = QRegularExpression::escape(name);
    const QRegularExpression re(
        QStringLiteral(R"re(CONSTRAINT\s+(?:"%1"|`%1`|\[%1\]|%1)\s+CHECK\s*(\())re").arg(n),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = re.match(sql);
    return m.hasMatch() ? parenthesised(sql, m.capturedStart(1)) : QString();
}

// The value a row being written gives a column: null when the row does not set it.
QVariant rowValue(const QHash<int, QVariant> &row, int column)
{
    return row.value(column);
}

// The foreign key of an SQLite table that the row breaks: its columns and the table it refers to.
void findSqliteForeignKey(QSqlDatabase db, const TableInfo &table, RowStatement statement,
                          const QHash<int, QVariant> &row, DataError &refusal)
{
    QSqlQuery q(db);
    if (statement == RowStatement::Delete) {
        // Rows of another table still refer to this one: name the first table that refers to it.
        for (const QString &other : db.tables(QSql::Tables)) {
            if (!execTextPatiently(q, QStringLiteral("PRAGMA foreign_key_list(%1)").arg(quoteIdentifier(other))))
                continue;
            while (q.next())
                if (q.value(2).toString().compare(table.name, Qt::CaseInsensitive) == 0) {
                    refusal.setOtherTable(other);
                    return;
                }
        }
        return;
    }
    if (!execTextPatiently(q, QStringLiteral("PRAGMA foreign_key_list(%1)").arg(quoteIdentifier(table.name))))
        return;
    struct Key
    {
        QString parent;
        QStringList from, to;
    };
    QMap<int, Key> keys;
    while (q.next()) {
        Key &k = keys[q.value(0).toInt()];
        k.parent = q.value(2).toString();
        k.from << q.value(3).toString();
        k.to << q.value(4).toString();
    }
    for (const Key &k : std::as_const(keys)) {
        QStringList where;
        QVariantList values;
        bool complete = true;
        QStringList to = k.to;
        if (to.value(0).isEmpty()) { // the parent's primary key
            QSqlQuery info(db);
            QMap<int, QString> pk;
            if (execTextPatiently(info, QStringLiteral("PRAGMA table_info(%1)").arg(quoteIdentifier(k.parent))))
                while (info.next())
                    if (info.value(5).toInt() > 0)
                        pk.insert(info.value(5).toInt(), info.value(1).toString());
            to = pk.values();
        }
        for (int i = 0; i < k.from.size(); ++i) {
            const QVariant v = rowValue(row, table.indexOf(k.from[i]));
            if (v.isNull() || (v.typeId() == QMetaType::QString && v.toString().isEmpty()))
                complete = false;
            where << quoteIdentifier(to.value(i, k.from[i])) + QStringLiteral(" = ?");
            values << v;
        }
        if (!complete)
            continue; // a key with an empty column refers to nothing and breaks nothing
        QSqlQuery probe(db);
        probe.prepare(QStringLiteral("SELECT 1 FROM %1 WHERE %2").arg(quoteIdentifier(k.parent), where.join(QStringLiteral(" AND "))));
        for (const QVariant &v : std::as_const(values))
            probe.addBindValue(v);
        if (execPatiently(probe) && !probe.next()) {
            QStringList columns;
            for (const QString &f : k.from)
                if (const int i = table.indexOf(f); i >= 0)
                    columns << table.columns[i].name;
            refusal.setColumns(columns);
            refusal.setOtherTable(k.parent);
            return;
        }
    }
}

std::optional<DataError> sqliteRefusal(const Connection &connection, const TableInfo &table, const QSqlError &error,
                                       RowStatement statement, const QHash<int, QVariant> &row)
{
    bool numeric = false;
    const int code = error.nativeErrorCode().toInt(&numeric);
    if (!numeric || (code & 0xff) != kSqliteConstraint)
        return std::nullopt;
    const QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    const QString detail = text.section(QStringLiteral("failed: "), 1).trimmed();
    QSqlDatabase db = connection.database();
    switch (code) {
    case kSqliteNotNull: {
        DataError refusal(DataError::NotNullViolation, text, error.nativeErrorCode());
        if (const int i = table.indexOf(detail.section(u'.', -1)); i >= 0)
            refusal.setColumns({table.columns[i].name});
        return refusal;
    }
    case kSqliteCheck: {
        DataError refusal(DataError::CheckViolation, text, error.nativeErrorCode());
        const QString named = sqliteCheckExpression(db, table, detail);
        refusal.setConstraint(detail);
        refusal.setColumns(columnsNamedIn(named.isEmpty() ? detail : named, table));
        return refusal;
    }
    case kSqliteForeignKey: {
        DataError refusal(DataError::ForeignKeyViolation, text, error.nativeErrorCode());
        findSqliteForeignKey(db, table, statement, row, refusal);
        return refusal;
    }
    default:
        return DataError(DataError::ConstraintViolation, text, error.nativeErrorCode());
    }
}

// One value of a catalog query with bound values, or empty texts.
QStringList catalogRow(QSqlDatabase db, const QString &sql, const QVariantList &values)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(sql);
    for (const QVariant &v : values)
        q.addBindValue(v);
    QStringList out;
    if (execPatiently(q) && q.next())
        for (int i = 0; i < q.record().count(); ++i)
            out << q.value(i).toString();
    return out;
}

std::optional<DataError> postgresRefusal(const Connection &connection, const TableInfo &table, const QSqlError &error,
                                         RowStatement statement, const QHash<int, QVariant> &row)
{
    const QString state = error.nativeErrorCode();
    if (!state.startsWith(QLatin1String("23")))
        return std::nullopt;
    const QString text = (error.databaseText().isEmpty() ? error.text() : error.databaseText()).trimmed();
    const int number = state == u"23502"   ? DataError::NotNullViolation
                       : state == u"23514" ? DataError::CheckViolation
                       : state == u"23503" ? DataError::ForeignKeyViolation
                                           : DataError::ConstraintViolation;
    DataError refusal(number, text, state);
    QSqlDatabase db = connection.database();
    constexpr QChar kSep(0x1f);

    if (number == DataError::NotNullViolation) {
        static const QRegularExpression columnRe(QStringLiteral(R"re(column "((?:[^"]|"")+)")re"));
        if (const auto m = columnRe.match(text); m.hasMatch() && table.indexOf(m.captured(1)) >= 0) {
            refusal.setColumns({table.columns[table.indexOf(m.captured(1))].name});
            return refusal;
        }
        // A server speaking another language: the NOT NULL columns the row leaves empty.
        const QStringList notNull = catalogRow(
            db,
            QStringLiteral("SELECT string_agg(a.attname, chr(31) ORDER BY a.attnum) FROM pg_catalog.pg_attribute a "
                           "JOIN pg_catalog.pg_class c ON c.oid = a.attrelid WHERE c.relname = ? AND a.attnum > 0 "
                           "AND a.attnotnull AND NOT a.attisdropped AND pg_catalog.pg_table_is_visible(c.oid)"),
            {table.name});
        QStringList empty;
        for (const QString &column : notNull.value(0).split(kSep, Qt::SkipEmptyParts))
            if (const int i = table.indexOf(column); i >= 0 && rowValue(row, i).isNull())
                empty << table.columns[i].name;
        refusal.setColumns(empty);
        return refusal;
    }

    // The constraint's name, quoted in the message ("..." in English, «...» in some languages).
    static const QRegularExpression nameRe(QStringLiteral(R"re(constraint "((?:[^"]|"")+)"|«([^»]+)»)re"));
    const auto m = nameRe.match(text);
    if (!m.hasMatch())
        return refusal;
    const QString name = m.captured(1).isEmpty() ? m.captured(2) : m.captured(1);
    refusal.setConstraint(name);
    const QStringList found = catalogRow(
        db,
        QStringLiteral("SELECT rel.relname, COALESCE(frel.relname, ''), "
                       "(SELECT string_agg(a.attname, chr(31) ORDER BY array_position(con.conkey, a.attnum)) "
                       " FROM pg_catalog.pg_attribute a WHERE a.attrelid = con.conrelid AND a.attnum = ANY(con.conkey)) "
                       "FROM pg_catalog.pg_constraint con JOIN pg_catalog.pg_class rel ON rel.oid = con.conrelid "
                       "LEFT JOIN pg_catalog.pg_class frel ON frel.oid = con.confrelid "
                       "WHERE con.conname = ? AND (rel.relname = ? OR frel.relname = ?)"),
        {name, table.name, table.name});
    if (found.isEmpty())
        return refusal;
    if (number == DataError::ForeignKeyViolation && statement == RowStatement::Delete) {
        refusal.setOtherTable(found.value(0));
        return refusal;
    }
    QStringList columns;
    for (const QString &column : found.value(2).split(kSep, Qt::SkipEmptyParts))
        if (const int i = table.indexOf(column); i >= 0)
            columns << table.columns[i].name;
    refusal.setColumns(columns);
    if (number == DataError::ForeignKeyViolation)
        refusal.setOtherTable(found.value(1));
    return refusal;
}

} // namespace

std::optional<int> hindranceOf(SqlDialect dialect, const QSqlError &error)
{
    const QString native = error.nativeErrorCode();
    if (dialect == SqlDialect::PostgreSql) {
        if (native == u"57014")
            return DataError::TimedOut;
        if (native == u"53100")
            return DataError::DiskFull;
        if (native == u"55P03" || native == u"40P01") // a lock waited for past lock_timeout, a deadlock
            return DataError::Busy;
        return std::nullopt;
    }
    if (dialect != SqlDialect::Sqlite)
        return std::nullopt;
    bool numeric = false;
    const int primary = native.toInt(&numeric) & 0xff;
    // The driver's BEGIN and COMMIT give SQLite's text without its code.
    if (numeric ? primary == kSqliteFull : error.databaseText().contains(u"database or disk is full"))
        return DataError::DiskFull;
    if (isBusy(dialect, error))
        return numeric && primary == DataError::TableLocked ? DataError::TableLocked : DataError::Busy;
    return std::nullopt;
}

std::optional<DataError> constraintRefusal(const Connection &connection, const TableInfo &table, const QSqlError &error,
                                           RowStatement statement, const QHash<int, QVariant> &row)
{
    return connection.call([&]() -> std::optional<DataError> {
        switch (connection.dialect()) {
        case SqlDialect::Sqlite: return sqliteRefusal(connection, table, error, statement, row);
        case SqlDialect::PostgreSql: return postgresRefusal(connection, table, error, statement, row);
        case SqlDialect::Other: break;
        }
        return std::nullopt;
    });
}

} // namespace Norvix
