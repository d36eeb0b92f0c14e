#include "platform/rowwriter.h"
#include "platform/language.h"
#include "platform/typedvalue.h"
#include "platform/waiting.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>

namespace Norvix {

namespace {

QString rowChangedText()
{
    return nxTr("Impossibile trovare la riga da aggiornare. Alcuni valori potrebbero essere stati modificati dall'ultima lettura.");
}

[[noreturn]] void lost()
{
    throw DataError(DataError::ConnectionLost,
                    nxTr("La connessione al database si è interrotta durante il salvataggio: non si sa "
                                   "se la modifica è stata salvata."));
}

} // namespace

QStringList RowKeys::expressions() const
{
    if (!natural.isEmpty())
        return {natural};
    QStringList keys;
    for (const QString &k : columns)
        keys << quoteIdentifier(k);
    return keys;
}

QStringList RowKeys::match(const QVariantList &key, QVariantList &values) const
{
    const QStringList keys = expressions();
    QStringList where;
    for (int i = 0; i < keys.size(); ++i) {
        if (key.value(i).isNull()) {
            where << keys[i] + QStringLiteral(" IS NULL");
        } else {
            where << keys[i] + (byTid() ? QStringLiteral(" = CAST(? AS tid)") : QStringLiteral(" = ?"));
            values << key[i];
        }
    }
    return where;
}

RowWriter::RowWriter(std::shared_ptr<Connection> connection, std::shared_ptr<const TableInfo> table, const RowKeys &keys,
                     const RowInHand &row)
    : m_connection(std::move(connection)), m_table(std::move(table)), m_keys(keys), m_row(row)
{
}

QString RowWriter::rowMatch(QVariantList &values) const
{
    QStringList where = m_keys.match(m_row.key, values);
    switch (m_connection->dialect()) {
    case SqlDialect::PostgreSql:
        // The row version changes with every update of the row.
        where << m_keys.version + QStringLiteral("::text = ?");
        values << m_row.version;
        break;
    case SqlDialect::Sqlite:
        for (int i = 0; i < m_table->columns.size(); ++i) {
            where << quoteIdentifier(m_table->columns[i].name) + QStringLiteral(" IS ?");
            values << m_row.raw.value(i);
        }
        break;
    case SqlDialect::Other:
        for (int i = 0; i < m_table->columns.size(); ++i) {
            const ColumnInfo &c = m_table->columns[i];
            if (c.kind == ColumnKind::Blob || c.kind == ColumnKind::Other)
                continue;
            if (m_row.raw.value(i).isNull()) {
                where << quoteIdentifier(c.name) + QStringLiteral(" IS NULL");
            } else {
                where << quoteIdentifier(c.name) + QStringLiteral(" = ?");
                values << m_row.raw.value(i);
            }
        }
        break;
    }
    return where.join(QStringLiteral(" AND "));
}

QVariantList RowWriter::insert()
{
    m_connection->requireSameFile();
    // A column the database numbers, left empty, is left out for the database to number: an
    // explicit NULL there is refused (PostgreSQL) or means the same (SQLite).
    QList<int> columns = m_row.pending.keys();
    columns.removeIf([&](int i) { return m_table->columns[i].assigned && m_row.pending.value(i).isNull(); });
    std::sort(columns.begin(), columns.end());
    QString sql = QStringLiteral("INSERT INTO ") + quoteIdentifier(m_table->name);
    if (columns.isEmpty()) {
        sql += QStringLiteral(" DEFAULT VALUES");
    } else {
        QStringList names, marks;
        for (int i : columns) {
            names << quoteIdentifier(m_table->columns[i].name);
            marks << QStringLiteral("?");
        }
        sql += QStringLiteral(" (%1) VALUES (%2)").arg(names.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")));
    }
    const QStringList keys = m_keys.expressions();
    const bool returning = m_connection->dialect() != SqlDialect::Other;
    if (returning)
        sql += QStringLiteral(" RETURNING ") + (m_keys.byTid() ? QStringLiteral("ctid::text") : keys.join(QStringLiteral(", ")));

    QVariantList key;
    const auto insert = [&](QSqlQuery &q) {
        if (!q.prepare(sql))
            return false;
        for (int i : columns)
            q.addBindValue(m_row.pending.value(i));
        if (!execPatiently(q))
            return false;
        key.clear();
        if (returning && q.next()) {
            for (int i = 0; i < keys.size(); ++i)
                key << q.value(i);
        } else if (!m_keys.natural.isEmpty()) {
            key << q.lastInsertId();
        } else {
            for (const QString &k : m_keys.columns) {
                const int i = m_table->indexOf(k);
                key << (m_table->columns[i].assigned && !columns.contains(i) ? q.lastInsertId() : m_row.pending.value(i));
            }
        }
        // SQLite gives the RETURNING row before it commits, and commits when the statement ends: it
        // is run to its end here, so that a commit that fails (a full or failing disk) is an error,
        // never an acknowledged save.
        while (q.next()) {
        }
        return !q.lastError().isValid() && notify(q, key);
    };
    if (m_connection->dialect() == SqlDialect::PostgreSql || m_connection->writesTogether()) {
        writeInTransaction(RowStatement::Insert, insert); // a COMMIT cut off can be settled
    } else {
        m_connection->call([&] {
            QSqlQuery q(m_connection->database());
            if (!insert(q)) {
                if (m_connection->isLost(q.lastError()))
                    lost();
                fail(q.lastError(), RowStatement::Insert);
            }
            q.finish();
        });
    }
    return key;
}

QVariantList RowWriter::update()
{
    QList<int> columns = m_row.pending.keys();
    std::sort(columns.begin(), columns.end());
    QStringList sets;
    QVariantList values;
    for (int i : columns) {
        sets << quoteIdentifier(m_table->columns[i].name) + QStringLiteral(" = ?");
        values << m_row.pending.value(i);
    }
    const QString sql = QStringLiteral("UPDATE %1 SET %2 WHERE %3")
                            .arg(quoteIdentifier(m_table->name), sets.join(QStringLiteral(", ")), rowMatch(values));

    // The key the row will have afterwards.
    QVariantList newKey = m_row.key;
    if (m_keys.natural.isEmpty())
        for (int k = 0; k < m_keys.columns.size(); ++k)
            if (const int i = m_table->indexOf(m_keys.columns[k]); m_row.pending.contains(i))
                newKey[k] = m_row.pending.value(i);

    runOnOneRow(sql, values, RowStatement::Update, newKey);
    return newKey;
}

void RowWriter::remove()
{
    QVariantList values;
    const QString sql = QStringLiteral("DELETE FROM %1 WHERE %2").arg(quoteIdentifier(m_table->name), rowMatch(values));
    runOnOneRow(sql, values, RowStatement::Delete, m_row.key);
}

void RowWriter::runOnOneRow(const QString &sql, const QVariantList &values, RowStatement statement,
                            const QVariantList &key)
{
    writeInTransaction(statement, [&](QSqlQuery &q) {
        bool ok = q.prepare(sql);
        for (const QVariant &v : values)
            q.addBindValue(v);
        if (!ok || !q.exec())
            return false;
        // Exactly one row must be touched, or someone else changed or deleted it.
        if (q.numRowsAffected() != 1)
            throw DataError(DataError::RowChanged, rowChangedText());
        return notify(q, key);
    });
}

void RowWriter::removeWhere(const QList<QPair<QString, QVariant>> &equals)
{
    QStringList where;
    QVariantList values;
    for (const auto &[column, value] : equals) {
        where << quoteIdentifier(m_table->column(column).name) + QStringLiteral(" = ?");
        values << value;
    }
    const QString sql = QStringLiteral("DELETE FROM %1 WHERE %2")
                            .arg(quoteIdentifier(m_table->name), where.join(QStringLiteral(" AND ")));
    writeInTransaction(RowStatement::Delete, [&](QSqlQuery &q) {
        bool ok = q.prepare(sql);
        for (const QVariant &v : std::as_const(values))
            q.addBindValue(v);
        return ok && q.exec() && notify(q, std::nullopt);
    });
}

namespace {
// A key value as a JSON scalar: numbers (a decimal's to a double's precision: the key is a hint),
// Booleans and null as such, binary data as base64, anything else as its text.
QJsonValue jsonScalar(const QVariant &value)
{
    if (value.isNull())
        return QJsonValue::Null;
    if (value.metaType() == QMetaType::fromType<Decimal>())
        return value.value<Decimal>().digits.toDouble();
    switch (value.metaType().id()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return value.toLongLong();
    case QMetaType::Double:
        return value.toDouble();
    case QMetaType::QByteArray:
        return QString::fromLatin1(value.toByteArray().toBase64());
    default:
        return value.toString();
    }
}
} // namespace

bool RowWriter::notify(QSqlQuery &q, const std::optional<QVariantList> &key) const
{
    if (m_connection->dialect() != SqlDialect::PostgreSql)
        return true;
    // Others listening hear which table changed, and the row's key as a hint (none for a natural
    // key, which means nothing to them, or for a delete of many rows); a payload must stay under
    // the server's 8,000 bytes.
    QJsonObject notice{{QStringLiteral("table"), m_table->name}};
    QByteArray payload = QJsonDocument(notice).toJson(QJsonDocument::Compact);
    if (key && m_keys.natural.isEmpty()) {
        QJsonArray values;
        for (const QVariant &v : *key)
            values.append(jsonScalar(v));
        notice.insert(QStringLiteral("key"), values);
        if (const QByteArray withKey = QJsonDocument(notice).toJson(QJsonDocument::Compact); withKey.size() <= kNoticeBytes)
            payload = withKey;
    }
    if (!q.prepare(QStringLiteral("SELECT pg_notify('norvix', ?)")))
        return false;
    q.addBindValue(QString::fromUtf8(payload));
    return q.exec();
}

namespace {

// What a refusal that no statement of a row explains means (a BEGIN or a COMMIT refused, a
// deferred constraint): the passing hindrance it stands for, or the database's code and text.
[[noreturn]] void refused(SqlDialect dialect, const QSqlError &error)
{
    const QString native = error.nativeErrorCode();
    const QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    bool numeric = false;
    const int number = native.toInt(&numeric);
    throw DataError(hindranceOf(dialect, error).value_or(numeric && number != 0 ? number : DataError::Generic),
                    text.isEmpty() ? error.text() : text, native);
}

// One transaction on `c`, run again while the file is locked and once more when the server ended
// the session. `write` gives the error of the statement that failed, if one did; `fail` throws
// what an error means; `undo` is called on every failure, before it is told or run again.
void runTransaction(Connection &c, const std::function<std::optional<QSqlError>(QSqlQuery &)> &write,
                    const std::function<void(const QSqlError &)> &fail, const std::function<void()> &undo)
{
    // Until its COMMIT is sent, a write that failed changed nothing. A transaction that found the
    // file locked is rolled back and run again whole, for as long as the LockWait lets it; one
    // whose session the server ended (a restart, an idle session closed) is run again once on a
    // new session. Its WHERE clauses check the rows afresh each time.
    c.requireSameFile();
    const SqlDialect dialect = c.dialect();
    LockWait wait;
    bool reconnected = false;
    const auto failed = [&](const QSqlError &error) {
        undo();
        if (c.isLost(error) && !c.interrupted()) {
            if (reconnected)
                throw DataError(DataError::ConnectionFailed, error.text());
            reconnected = true;
            c.reconnect();
        } else if (!isBusy(dialect, error) || !wait.next()) {
            fail(error);
        }
    };
    for (;;) {
        QSqlDatabase db = c.database();
        if (!db.transaction()) {
            failed(db.lastError());
            continue;
        }
        std::optional<QSqlError> error;
        {
            QSqlQuery q(db);
            try {
                error = c.markWrite(q) ? write(q) : std::optional<QSqlError>(q.lastError());
            } catch (...) {
                q.finish();
                db.rollback();
                undo();
                throw;
            }
            q.finish();
        }
        if (error) {
            db.rollback();
            failed(*error);
            continue;
        }
        if (!db.commit()) {
            const QSqlError commitError = db.lastError();
            if (c.isLost(commitError)) {
                undo();
                lost(); // the COMMIT may have reached the server: Connection::settleLostWrite tells
            }
            db.rollback();
            failed(commitError);
            continue;
        }
        return;
    }
}

// A server that could not be reached again: nothing was sent that could be saved.
template <class Work>
void reachingServer(Connection &c, Work &&work)
{
    try {
        c.call(std::forward<Work>(work));
    } catch (const DataError &e) {
        if (e.number() != DataError::ConnectionFailed)
            throw;
        throw DataError(DataError::ConnectionFailed,
                        nxTr("Il server del database non è raggiungibile: nulla è stato modificato e quanto inserito "
                             "è stato mantenuto. Riprovare quando il server sarà di nuovo disponibile."),
                        e.nativeCode());
    }
}

} // namespace

void writeTogether(Connection &connection, const std::function<void()> &work, const std::function<void()> &undo)
{
    reachingServer(connection, [&] {
        std::function<void()> explain; // the last try's refused statement, if one was
        const auto write = [&](QSqlQuery &) -> std::optional<QSqlError> {
            explain = nullptr;
            const struct Joining // the rows written meanwhile join this transaction
            {
                const Connection &c;
                explicit Joining(const Connection &c) : c(c) { c.setWritesTogether(true); }
                ~Joining() { c.setWritesTogether(false); }
            } joining(connection);
            try {
                work();
            } catch (const JoinedFailure &f) {
                explain = f.explain;
                return f.error;
            }
            return std::nullopt;
        };
        // Told after the rollback: `explain` may ask the database what a refusal means. A table the
        // work made (the history's) went with the rollback: the connection looks its tables up again.
        runTransaction(
            connection, write,
            [&](const QSqlError &error) { explain ? explain() : refused(connection.dialect(), error); },
            [&] {
                connection.forgetTables();
                undo();
            });
    });
}

void RowWriter::writeInTransaction(RowStatement statement, const std::function<bool(QSqlQuery &)> &write)
{
    if (m_connection->writesTogether())
        return joined(statement, write);
    reachingServer(*m_connection, [&] {
        runTransaction(
            *m_connection,
            [&](QSqlQuery &q) { return write(q) ? std::nullopt : std::optional<QSqlError>(q.lastError()); },
            [&](const QSqlError &error) { fail(error, statement); }, [] {});
    });
}

void RowWriter::joined(RowStatement statement, const std::function<bool(QSqlQuery &)> &write)
{
    m_connection->call([&] {
        QSqlQuery q(m_connection->database());
        if (write(q))
            return;
        const QSqlError error = q.lastError();
        q.finish();
        // A copy: this writer is gone by the time the refusal is explained (its recordset is not).
        throw JoinedFailure{error, [writer = *this, error, statement] { writer.fail(error, statement); }};
    });
}

bool RowWriter::isKey(QStringList columns) const
{
    QStringList keys;
    for (const QString &k : m_keys.columns)
        keys << k.toLower();
    std::sort(columns.begin(), columns.end());
    std::sort(keys.begin(), keys.end());
    return !keys.isEmpty() && columns == keys;
}

std::optional<bool> RowWriter::uniqueOnKey(const QSqlError &error) const
{
    const QString native = error.nativeErrorCode();
    QStringList cols;
    if (m_connection->dialect() == SqlDialect::Sqlite && (native == u"1555" || native == u"2067")) {
        // "UNIQUE constraint failed: t.a, t.b": a unique index on exactly the record's key columns
        // is its primary index too.
        static const QRegularExpression columnsRe(QStringLiteral("constraint failed: (.*)$"));
        if (const auto m = columnsRe.match(error.databaseText()); m.hasMatch())
            for (const QString &part : m.captured(1).split(u','))
                cols << part.trimmed().section(u'.', -1).toLower();
        return native == u"1555" || isKey(cols);
    }
    if (m_connection->dialect() != SqlDialect::PostgreSql || native != u"23505")
        return std::nullopt;
    static const QRegularExpression constraintRe(QStringLiteral("unique constraint \"([^\"]+)\""));
    const auto m = constraintRe.match(error.databaseText());
    if (m.hasMatch()) {
        // Columns of the violated index, compared with the record's key columns.
        QSqlQuery q(m_connection->database());
        q.prepare(QStringLiteral("SELECT a.attname FROM pg_index i JOIN pg_class c ON c.oid = i.indexrelid "
                                 "JOIN pg_attribute a ON a.attrelid = i.indrelid AND a.attnum = ANY(i.indkey) "
                                 "WHERE c.relname = ?"));
        q.addBindValue(m.captured(1));
        if (q.exec())
            while (q.next())
                cols << q.value(0).toString().toLower();
    }
    return isKey(cols);
}

void RowWriter::fail(const QSqlError &error, std::optional<RowStatement> statement) const
{
    const QString native = error.nativeErrorCode();
    const QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    if (const std::optional<bool> onKey = uniqueOnKey(error)) {
        if (statement == RowStatement::Insert)
            throw DataError(DataError::IntegrityViolation, text, native);
        throw DataError(*onKey ? DataError::DuplicatePrimary : DataError::DuplicateUnique, text, native);
    }
    if (statement) {
        // The row as it would have been written: its values as read, with the changes over them.
        QHash<int, QVariant> row;
        if (*statement == RowStatement::Update)
            for (int i = 0; i < m_row.raw.size(); ++i)
                row.insert(i, m_row.raw.at(i));
        for (auto it = m_row.pending.cbegin(); it != m_row.pending.cend(); ++it)
            row.insert(it.key(), it.value());
        if (auto refusal = constraintRefusal(*m_connection, *m_table, error, *statement, row))
            throw *refusal;
    }
    refused(m_connection->dialect(), error);
}

} // namespace Norvix
