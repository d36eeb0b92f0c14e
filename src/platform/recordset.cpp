#include "platform/recordset.h"
#include "platform/language.h"
#include "platform/waiting.h"

#include "platform/values.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QRegularExpression>

#include <cmath>

namespace Norvix {

namespace {

QString rowChangedText()
{
    return nxTr("Impossibile trovare la riga da aggiornare. Alcuni valori potrebbero essere stati modificati dall'ultima lettura.");
}
constexpr char kKeyAlias[] = "__nvx_k";
constexpr char kVersionAlias[] = "__nvx_v";

QString keyAlias(int i)
{
    return QString::fromLatin1(kKeyAlias) + QString::number(i);
}

[[noreturn]] void noRow(const QString &what)
{
    throw DataError(DataError::NoCurrentRow, what);
}

// A date and time as SQLite holds it in text ("2021-01-02 10:30:00", ISO with a "T", or a date).
QDateTime isoDateTime(const QString &text)
{
    QDateTime dt = QDateTime::fromString(text, Qt::ISODate);
    if (!dt.isValid())
        dt = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!dt.isValid()) {
        const QDate d = QDate::fromString(text, Qt::ISODate);
        if (d.isValid())
            dt = QDateTime(d, QTime(0, 0));
    }
    return dt;
}

} // namespace

QString RecordSource::text() const
{
    QStringList parts;
    for (const auto &[column, value] : equals)
        parts << (value.isNull() ? column + QStringLiteral(" IS NULL") : column + QStringLiteral(" = ") + value.toString());
    return parts.isEmpty() ? table : table + QStringLiteral(" WHERE ") + parts.join(QStringLiteral(" AND "));
}

Recordset::Recordset(std::shared_ptr<Connection> connection, RecordSource source, QStringList keyColumns,
                     CursorIntent intent)
    : m_connection(std::move(connection)), m_source(std::move(source)), m_intent(intent)
{
    if (!m_connection || !m_connection->isOpen())
        throw DataError(DataError::ConnectionFailed, nxTr("La connessione al database non è aperta"));
    m_table = tableInfo(*m_connection, m_source.table);
    for (auto &condition : m_source.equals)
        condition.first = m_table->column(condition.first).name;
    for (const QString &k : keyColumns)
        m_keyColumns << m_table->column(k).name;
    if (m_keyColumns.isEmpty())
        m_keyColumns = m_table->primaryKey;
    if (m_keyColumns.isEmpty()) {
        switch (m_connection->dialect()) {
        case SqlDialect::Sqlite: m_naturalKey = QStringLiteral("rowid"); break;
        case SqlDialect::PostgreSql: m_naturalKey = QStringLiteral("ctid"); break;
        case SqlDialect::Other:
            throw DataError(DataError::BadIdentifier,
                            nxTr("La tabella %1 non ha una chiave per ordinare e ritrovare le righe").arg(m_table->name));
        }
    }
    if (m_connection->dialect() == SqlDialect::PostgreSql)
        m_versionColumn = QStringLiteral("xmin");
    MoveFirst();
}

Recordset::~Recordset() = default;

QString Recordset::selectSql(const QString &extraWhere, bool descending) const
{
    QStringList keys;
    if (m_naturalKey.isEmpty()) {
        for (const QString &k : m_keyColumns)
            keys << quoteIdentifier(k);
    } else {
        keys << m_naturalKey;
    }
    QString sql = QStringLiteral("SELECT *");
    for (int i = 0; i < keys.size(); ++i)
        sql += QStringLiteral(", %1 AS %2").arg(keys[i], quoteIdentifier(keyAlias(i)));
    if (!m_versionColumn.isEmpty())
        sql += QStringLiteral(", %1::text AS %2").arg(m_versionColumn, quoteIdentifier(QString::fromLatin1(kVersionAlias)));
    sql += QStringLiteral(" FROM ") + quoteIdentifier(m_table->name);
    QStringList where;
    for (const auto &[column, value] : m_source.equals)
        where << (value.isNull() ? quoteIdentifier(column) + QStringLiteral(" IS NULL") : quoteIdentifier(column) + QStringLiteral(" = ?"));
    if (!extraWhere.isEmpty())
        where << extraWhere;
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    QStringList order;
    for (const QString &k : keys)
        order << (descending ? k + QStringLiteral(" DESC") : k);
    sql += QStringLiteral(" ORDER BY ") + order.join(QStringLiteral(", "));
    if (m_connection->dialect() != SqlDialect::Other)
        sql += QStringLiteral(" LIMIT 1");
    return sql;
}

namespace {

// A comparison of the order key with bound values: "(a, b) > (?, ?)", or its expansion where
// row values are not available.
QString keyComparison(const QStringList &keys, const QString &op, SqlDialect dialect, bool tid)
{
    const QString param = tid ? QStringLiteral("CAST(? AS tid)") : QStringLiteral("?");
    if (keys.size() == 1)
        return keys[0] + u' ' + op + u' ' + param;
    if (dialect != SqlDialect::Other) {
        QStringList params;
        for (int i = 0; i < keys.size(); ++i)
            params << param;
        return QStringLiteral("(%1) %2 (%3)").arg(keys.join(QStringLiteral(", ")), op, params.join(QStringLiteral(", ")));
    }
    // (a > ?) OR (a = ? AND b > ?) ...: callers bind the key values once per use, in order.
    const QString strict = op.left(1);
    QStringList alternatives;
    for (int i = 0; i < keys.size(); ++i) {
        QStringList terms;
        for (int j = 0; j < i; ++j)
            terms << keys[j] + QStringLiteral(" = ?");
        terms << keys[i] + u' ' + (i == keys.size() - 1 ? op : strict) + QStringLiteral(" ?");
        alternatives << u'(' + terms.join(QStringLiteral(" AND ")) + u')';
    }
    return u'(' + alternatives.join(QStringLiteral(" OR ")) + u')';
}

// The values to bind for keyComparison, in the order its placeholders appear.
QVariantList keyComparisonValues(const QVariantList &key, SqlDialect dialect)
{
    if (key.size() == 1 || dialect != SqlDialect::Other)
        return key;
    QVariantList values;
    for (int i = 0; i < key.size(); ++i)
        for (int j = 0; j <= i; ++j)
            values << key[j];
    return values;
}

} // namespace


bool Recordset::fetchOne(const QString &extraWhere, const QVariantList &extraValues, bool descending)
{
    return m_connection->call([&] {
        QVariantList values;
        for (const auto &[column, value] : m_source.equals)
            if (!value.isNull())
                values << bindable(m_table->column(column), value);
        QSqlQuery q;
        if (!m_connection->execRead(q, selectSql(extraWhere, descending), values + extraValues))
            fail(q.lastError());
        if (!q.next()) {
            if (q.lastError().isValid())
                fail(q.lastError());
            return false;
        }
        const QSqlRecord rec = q.record();
        const int n = int(m_table->columns.size());
        m_raw.clear();
        for (int i = 0; i < n; ++i)
            m_raw << q.value(i);
        m_key.clear();
        const int keys = m_naturalKey.isEmpty() ? int(m_keyColumns.size()) : 1;
        for (int i = 0; i < keys; ++i)
            m_key << q.value(n + i);
        m_version = m_versionColumn.isEmpty() ? QVariant() : q.value(n + keys);
        m_position = Position::OnRow;
        m_editMode = EditMode::None;
        m_pending.clear();
        return true;
    });
}

namespace {
QStringList orderKeys(const QStringList &keyColumns, const QString &naturalKey)
{
    if (!naturalKey.isEmpty())
        return {naturalKey};
    QStringList keys;
    for (const QString &k : keyColumns)
        keys << quoteIdentifier(k);
    return keys;
}
} // namespace

void Recordset::leaveRows(Position where)
{
    m_position = where;
    m_editMode = EditMode::None;
    m_pending.clear();
}

void Recordset::MoveFirst()
{
    if (!fetchOne(QString(), {}, false))
        leaveRows(Position::AfterLast);
}

void Recordset::MoveLast()
{
    if (!fetchOne(QString(), {}, true))
        leaveRows(Position::AfterLast);
}

void Recordset::step(bool forward)
{
    const Position end = forward ? Position::AfterLast : Position::BeforeFirst;
    const Position start = forward ? Position::BeforeFirst : Position::AfterLast;
    if (m_position == end)
        noRow(forward ? nxTr("Non ci sono altre righe dopo l'ultima")
                      : nxTr("Non ci sono altre righe prima della prima"));
    if (m_position == start) {
        forward ? MoveFirst() : MoveLast();
        return;
    }
    const QVariantList key = m_key;
    const QString cmp = keyComparison(orderKeys(m_keyColumns, m_naturalKey), forward ? QStringLiteral(">") : QStringLiteral("<"),
                                      m_connection->dialect(), m_naturalKey == u"ctid");
    if (!fetchOne(cmp, keyComparisonValues(key, m_connection->dialect()), !forward))
        leaveRows(end);
}

void Recordset::MoveNext()
{
    step(true);
}

void Recordset::MovePrevious()
{
    step(false);
}

bool Recordset::Find(const QList<QPair<QString, QVariant>> &criteria)
{
    if (m_position == Position::AfterLast)
        return false;
    QStringList where;
    QVariantList values;
    bool impossible = false;
    for (const auto &[name, value] : criteria) {
        const ColumnInfo &column = m_table->column(name);
        if (value.isNull() || (value.typeId() == QMetaType::QString && value.toString().isEmpty())) {
            where << quoteIdentifier(column.name) + QStringLiteral(" IS NULL");
        } else {
            where << quoteIdentifier(column.name) + QStringLiteral(" = ?");
            values << bindable(column, value);
            // PostgreSQL keeps no NUL in a text, nor can its statements carry one: no row holds it.
            impossible = impossible
                         || (m_connection->dialect() == SqlDialect::PostgreSql && values.constLast().typeId() == QMetaType::QString
                             && values.constLast().toString().contains(QChar(0)));
        }
    }
    if (impossible) {
        leaveRows(Position::AfterLast);
        return false;
    }
    if (m_position == Position::OnRow || m_position == Position::Deleted) {
        where << keyComparison(orderKeys(m_keyColumns, m_naturalKey), m_position == Position::OnRow ? QStringLiteral(">=") : QStringLiteral(">"),
                               m_connection->dialect(), m_naturalKey == u"ctid");
        values << keyComparisonValues(m_key, m_connection->dialect());
    }
    if (fetchOne(where.join(QStringLiteral(" AND ")), values, false))
        return true;
    leaveRows(Position::AfterLast);
    return false;
}

QVariantList Recordset::Bookmark() const
{
    requireRow();
    return m_key;
}

void Recordset::setBookmark(const QVariantList &bookmark)
{
    const QStringList keys = orderKeys(m_keyColumns, m_naturalKey);
    if (bookmark.size() != keys.size())
        noRow(nxTr("Segnalibro non valido"));
    reloadByKey(bookmark);
    if (m_position != Position::OnRow)
        noRow(nxTr("La riga del segnalibro non esiste più"));
}

void Recordset::reloadByKey(const QVariantList &key)
{
    const QStringList keys = orderKeys(m_keyColumns, m_naturalKey);
    QStringList where;
    QVariantList values;
    for (int i = 0; i < keys.size(); ++i) {
        if (key.value(i).isNull()) {
            where << keys[i] + QStringLiteral(" IS NULL");
        } else {
            where << keys[i] + (m_naturalKey == u"ctid" ? QStringLiteral(" = CAST(? AS tid)") : QStringLiteral(" = ?"));
            values << key[i];
        }
    }
    if (!fetchOne(where.join(QStringLiteral(" AND ")), values, false)) {
        m_position = Position::Deleted;
        m_key = key;
        m_editMode = EditMode::None;
        m_pending.clear();
    }
}

int Recordset::fieldCount() const
{
    return int(m_table->columns.size());
}

Field Recordset::field(int index) const
{
    if (index < 0 || index >= fieldCount())
        throw DataError(DataError::BadIdentifier, nxTr("Colonna %1 non presente").arg(index));
    const ColumnInfo &column = m_table->columns[index];
    Field f{column.name, column.kind, QVariant()};
    if (m_editMode != EditMode::None && m_pending.contains(index)) {
        f.Value = presented(column, m_pending.value(index));
    } else if (m_editMode == EditMode::Add) {
        f.Value = QVariant();
    } else {
        requireRow();
        f.Value = presented(column, m_raw.value(index));
    }
    return f;
}

Field Recordset::field(const QString &name) const
{
    const int i = m_table->requiredIndex(name);
    return field(i);
}

void Recordset::setValue(const QString &name, const QVariant &value)
{
    requireWritable();
    const int i = m_table->requiredIndex(name);
    // PostgreSQL cannot keep a NUL in a text, and many readers of an SQLite file stop at it: on
    // every database a text holding one is refused, never stored cut or altered.
    if (value.typeId() == QMetaType::QString && m_table->columns[i].kind != ColumnKind::Blob && value.toString().contains(QChar(0)))
        throw DataError(DataError::ConversionFailed,
                        nxTr("Il valore per la colonna %1 contiene il carattere nullo (NUL), che non può essere salvato")
                            .arg(m_table->columns[i].name));
    if (m_editMode == EditMode::None) {
        requireRow();
        m_editMode = EditMode::InProgress;
    }
    m_pending.insert(i, bindable(m_table->columns[i], value));
}

void Recordset::AddNew()
{
    requireWritable();
    m_pending.clear();
    m_editMode = EditMode::Add;
}

void Recordset::CancelUpdate()
{
    m_pending.clear();
    m_editMode = EditMode::None;
}

void Recordset::Update()
{
    requireWritable();
    switch (m_editMode) {
    case EditMode::None: return;
    case EditMode::Add: insertRow(); return;
    case EditMode::InProgress: updateRow(); return;
    }
}

void Recordset::requireWritable() const
{
    if (m_intent != CursorIntent::Change)
        throw DataError(DataError::Generic, nxTr("Il recordset è aperto in sola lettura"));
}

void Recordset::requireRow() const
{
    if (m_position != Position::OnRow)
        noRow(m_position == Position::Deleted ? nxTr("La riga corrente è stata eliminata")
                                              : nxTr("Nessuna riga corrente"));
}

QVariant Recordset::presented(const ColumnInfo &column, const QVariant &raw) const
{
    if (raw.isNull())
        return QVariant();
    switch (column.kind) {
    case ColumnKind::Boolean:
        if (raw.typeId() == QMetaType::QString) {
            const QString t = raw.toString().trimmed().toLower();
            return QVariant(t == u"true" || t == u"t" || (t != u"false" && t != u"f" && t.toDouble() != 0));
        }
        return QVariant(raw.toBool());
    case ColumnKind::Date:
        if (raw.typeId() == QMetaType::QString) {
            // SQLite keeps whatever a DATE column was given: a time stored with the date is kept
            // (see bindableValue()), so that a save of the row does not drop it.
            if (const QDateTime dt = isoDateTime(raw.toString()); dt.isValid() && dt.time() != QTime(0, 0))
                return dt;
            const QDate d = QDate::fromString(raw.toString().left(10), Qt::ISODate);
            return d.isValid() ? QVariant(d) : raw;
        }
        return raw.typeId() == QMetaType::QDateTime ? QVariant(raw.toDateTime().date()) : raw;
    case ColumnKind::DateTime:
        if (raw.typeId() == QMetaType::QString) {
            const QDateTime dt = isoDateTime(raw.toString());
            return dt.isValid() ? QVariant(dt) : raw;
        }
        return raw;
    case ColumnKind::Time:
        if (raw.typeId() == QMetaType::QString) {
            const QTime t = QTime::fromString(raw.toString(), Qt::ISODate);
            return t.isValid() ? QVariant(t) : raw;
        }
        return raw;
    default: return raw;
    }
}

QVariant Recordset::bindable(const ColumnInfo &column, const QVariant &value) const
{
    return bindableValue(m_connection->dialect(), column, value);
}


QString Recordset::rowMatch(QVariantList &values) const
{
    QStringList where;
    const QStringList keys = orderKeys(m_keyColumns, m_naturalKey);
    for (int i = 0; i < keys.size(); ++i) {
        if (m_key.value(i).isNull()) {
            where << keys[i] + QStringLiteral(" IS NULL");
        } else {
            where << keys[i] + (m_naturalKey == u"ctid" ? QStringLiteral(" = CAST(? AS tid)") : QStringLiteral(" = ?"));
            values << m_key[i];
        }
    }
    switch (m_connection->dialect()) {
    case SqlDialect::PostgreSql:
        // The row version changes with every update of the row.
        where << m_versionColumn + QStringLiteral("::text = ?");
        values << m_version;
        break;
    case SqlDialect::Sqlite:
        for (int i = 0; i < m_table->columns.size(); ++i) {
            where << quoteIdentifier(m_table->columns[i].name) + QStringLiteral(" IS ?");
            values << m_raw.value(i);
        }
        break;
    case SqlDialect::Other:
        for (int i = 0; i < m_table->columns.size(); ++i) {
            const ColumnInfo &c = m_table->columns[i];
            if (c.kind == ColumnKind::Blob || c.kind == ColumnKind::Other)
                continue;
            if (m_raw.value(i).isNull()) {
                where << quoteIdentifier(c.name) + QStringLiteral(" IS NULL");
            } else {
                where << quoteIdentifier(c.name) + QStringLiteral(" = ?");
                values << m_raw.value(i);
            }
        }
        break;
    }
    return where.join(QStringLiteral(" AND "));
}

void Recordset::insertRow()
{
    m_connection->requireSameFile();
    // A column the database numbers, left empty, is left out for the database to number: an
    // explicit NULL there is refused (PostgreSQL) or means the same (SQLite).
    QList<int> columns = m_pending.keys();
    columns.removeIf([&](int i) { return m_table->columns[i].assigned && m_pending.value(i).isNull(); });
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
    const QStringList keys = orderKeys(m_keyColumns, m_naturalKey);
    const bool returning = m_connection->dialect() != SqlDialect::Other;
    if (returning)
        sql += QStringLiteral(" RETURNING ") + (m_naturalKey == u"ctid" ? QStringLiteral("ctid::text") : keys.join(QStringLiteral(", ")));

    QVariantList key;
    const auto insert = [&](QSqlQuery &q) {
        if (!q.prepare(sql))
            return false;
        for (int i : columns)
            q.addBindValue(m_pending.value(i));
        if (!execPatiently(q))
            return false;
        key.clear();
        if (returning && q.next()) {
            for (int i = 0; i < keys.size(); ++i)
                key << q.value(i);
        } else if (!m_naturalKey.isEmpty()) {
            key << q.lastInsertId();
        } else {
            for (const QString &k : m_keyColumns) {
                const int i = m_table->indexOf(k);
                key << (m_table->columns[i].assigned && !columns.contains(i) ? q.lastInsertId() : m_pending.value(i));
            }
        }
        // SQLite gives the RETURNING row before it commits, and commits when the statement ends: it
        // is run to its end here, so that a commit that fails (a full or failing disk) is an error,
        // never an acknowledged save.
        while (q.next()) {
        }
        return !q.lastError().isValid();
    };
    if (m_connection->dialect() == SqlDialect::PostgreSql) {
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
    m_editMode = EditMode::None;
    m_pending.clear();
    reloadByKey(key);
}

void Recordset::updateRow()
{
    requireRow();
    if (m_pending.isEmpty()) {
        m_editMode = EditMode::None;
        return;
    }
    QList<int> columns = m_pending.keys();
    std::sort(columns.begin(), columns.end());
    QStringList sets;
    QVariantList values;
    for (int i : columns) {
        sets << quoteIdentifier(m_table->columns[i].name) + QStringLiteral(" = ?");
        values << m_pending.value(i);
    }
    const QString sql = QStringLiteral("UPDATE %1 SET %2 WHERE %3")
                            .arg(quoteIdentifier(m_table->name), sets.join(QStringLiteral(", ")), rowMatch(values));

    // The key the row will have afterwards.
    QVariantList newKey = m_key;
    if (m_naturalKey.isEmpty())
        for (int k = 0; k < m_keyColumns.size(); ++k)
            if (const int i = m_table->indexOf(m_keyColumns[k]); m_pending.contains(i))
                newKey[k] = m_pending.value(i);

    runOnOneRow(sql, values, RowStatement::Update);
    m_editMode = EditMode::None;
    m_pending.clear();
    reloadByKey(newKey);
}

void Recordset::Delete()
{
    requireWritable();
    requireRow();
    QVariantList values;
    const QString sql = QStringLiteral("DELETE FROM %1 WHERE %2").arg(quoteIdentifier(m_table->name), rowMatch(values));
    runOnOneRow(sql, values, RowStatement::Delete);
    m_position = Position::Deleted;
    m_editMode = EditMode::None;
    m_pending.clear();
}

void Recordset::runOnOneRow(const QString &sql, const QVariantList &values, RowStatement statement)
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
        return true;
    });
}

void Recordset::writeInTransaction(RowStatement statement, const std::function<bool(QSqlQuery &)> &write)
{
    try {
        m_connection->call([&] { transactionHere(statement, write); });
    } catch (const DataError &e) {
        if (e.number() != DataError::ConnectionFailed)
            throw;
        // Opening the session again failed: nothing was sent that could be saved.
        throw DataError(DataError::ConnectionFailed,
                        nxTr("Il server del database non è raggiungibile: nulla è stato modificato e quanto inserito "
                             "è stato mantenuto. Riprovare quando il server sarà di nuovo disponibile."),
                        e.nativeCode());
    }
}

void Recordset::transactionHere(RowStatement statement, const std::function<bool(QSqlQuery &)> &write)
{
    // Until its COMMIT is sent, a write that failed changed nothing. A transaction that found the
    // file locked is rolled back and run again whole, for as long as the LockWait lets it; one
    // whose session the server ended (a restart, an idle session closed) is run again once on a
    // new session. Its WHERE clause checks the row afresh each time.
    m_connection->requireSameFile();
    const SqlDialect dialect = m_connection->dialect();
    LockWait wait;
    bool reconnected = false;
    const auto failed = [&](const QSqlError &error) {
        if (m_connection->isLost(error) && !m_connection->interrupted()) {
            if (reconnected)
                throw DataError(DataError::ConnectionFailed, error.text());
            reconnected = true;
            m_connection->reconnect();
        } else if (!isBusy(dialect, error) || !wait.next()) {
            fail(error, statement);
        }
    };
    for (;;) {
        QSqlDatabase db = m_connection->database();
        if (!db.transaction()) {
            failed(db.lastError());
            continue;
        }
        QSqlQuery q(db);
        bool ok = false;
        try {
            ok = m_connection->markWrite(q) && write(q);
        } catch (...) {
            q.finish();
            db.rollback();
            throw;
        }
        if (!ok) {
            const QSqlError error = q.lastError();
            q.finish();
            db.rollback();
            failed(error);
            continue;
        }
        q.finish();
        if (!db.commit()) {
            const QSqlError error = db.lastError();
            if (m_connection->isLost(error))
                lost(); // the COMMIT may have reached the server: Connection::settleLostWrite tells
            db.rollback();
            failed(error);
            continue;
        }
        return;
    }
}

void Recordset::lost() const
{
    throw DataError(DataError::ConnectionLost,
                    nxTr("La connessione al database si è interrotta durante il salvataggio: non si sa "
                                   "se la modifica è stata salvata."));
}

void Recordset::Close()
{
    m_position = Position::AfterLast;
    m_pending.clear();
    m_editMode = EditMode::None;
    m_raw.clear();
}

void Recordset::fail(const QSqlError &error, std::optional<RowStatement> statement) const
{
    const bool newRow = statement == RowStatement::Insert;
    const QString native = error.nativeErrorCode();
    const QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    bool unique = false;
    bool onKey = false;
    if (m_connection->dialect() == SqlDialect::Sqlite && (native == u"1555" || native == u"2067")) {
        unique = true;
        onKey = native == u"1555";
        // "UNIQUE constraint failed: t.a, t.b": a unique index on exactly the record's key columns
        // is its primary index too.
        static const QRegularExpression columnsRe(QStringLiteral("constraint failed: (.*)$"));
        if (const auto m = columnsRe.match(error.databaseText()); m.hasMatch()) {
            QStringList cols;
            for (const QString &part : m.captured(1).split(u','))
                cols << part.trimmed().section(u'.', -1).toLower();
            QStringList keys;
            for (const QString &k : m_keyColumns)
                keys << k.toLower();
            std::sort(cols.begin(), cols.end());
            std::sort(keys.begin(), keys.end());
            onKey = onKey || (!keys.isEmpty() && cols == keys);
        }
    } else if (m_connection->dialect() == SqlDialect::PostgreSql && native == u"23505") {
        unique = true;
        static const QRegularExpression constraintRe(QStringLiteral("unique constraint \"([^\"]+)\""));
        const auto m = constraintRe.match(error.databaseText());
        if (m.hasMatch()) {
            // Columns of the violated index, compared with the record's key columns.
            QSqlQuery q(m_connection->database());
            q.prepare(QStringLiteral("SELECT a.attname FROM pg_index i JOIN pg_class c ON c.oid = i.indexrelid "
                                     "JOIN pg_attribute a ON a.attrelid = i.indrelid AND a.attnum = ANY(i.indkey) "
                                     "WHERE c.relname = ?"));
            q.addBindValue(m.captured(1));
            QStringList cols;
            if (q.exec())
                while (q.next())
                    cols << q.value(0).toString().toLower();
            QStringList keys;
            for (const QString &k : m_keyColumns)
                keys << k.toLower();
            std::sort(cols.begin(), cols.end());
            std::sort(keys.begin(), keys.end());
            onKey = !keys.isEmpty() && cols == keys;
        }
    }
    if (unique) {
        if (newRow)
            throw DataError(DataError::IntegrityViolation, text, native);
        throw DataError(onKey ? DataError::DuplicatePrimary : DataError::DuplicateUnique, text, native);
    }
    if (statement) {
        // The row as it would have been written: its values as read, with the changes over them.
        QHash<int, QVariant> row;
        if (*statement == RowStatement::Update)
            for (int i = 0; i < m_raw.size(); ++i)
                row.insert(i, m_raw.at(i));
        for (auto it = m_pending.cbegin(); it != m_pending.cend(); ++it)
            row.insert(it.key(), it.value());
        if (auto refusal = constraintRefusal(*m_connection, *m_table, error, *statement, row))
            throw *refusal;
    }
    bool numeric = false;
    const int number = native.toInt(&numeric);
    throw DataError(hindranceOf(m_connection->dialect(), error).value_or(numeric && number != 0 ? number : DataError::Generic),
                    text.isEmpty() ? error.text() : text, native);
}

} // namespace Norvix
