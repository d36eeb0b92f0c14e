#include "platform/recordset.h"
#include "platform/language.h"

#include "platform/values.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <cmath>

namespace Norvix {

namespace {

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

// A value as read, as the row's Field shows it: booleans, dates and times SQLite keeps in text
// read into their types.
QVariant presented(const ColumnInfo &column, const QVariant &raw)
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

} // namespace

RecordSource RecordSource::rowOf(const QString &table, const QStringList &keyColumns, const QVariantList &key)
{
    RecordSource source = wholeTable(table);
    for (int k = 0; k < keyColumns.size() && k < key.size(); ++k)
        source.equals.append({keyColumns[k], key[k]});
    return source;
}

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
        m_keys.columns << m_table->column(k).name;
    if (m_keys.columns.isEmpty())
        m_keys.columns = m_table->primaryKey;
    if (m_keys.columns.isEmpty()) {
        switch (m_connection->dialect()) {
        case SqlDialect::Sqlite: m_keys.natural = QStringLiteral("rowid"); break;
        case SqlDialect::PostgreSql: m_keys.natural = QStringLiteral("ctid"); break;
        case SqlDialect::Other:
            throw DataError(DataError::BadIdentifier,
                            nxTr("La tabella %1 non ha una chiave per ordinare e ritrovare le righe").arg(m_table->name));
        }
    }
    if (m_connection->dialect() == SqlDialect::PostgreSql)
        m_keys.version = QStringLiteral("xmin");
    MoveFirst();
}

Recordset::~Recordset() = default;

QString Recordset::selectSql(const QString &extraWhere, bool descending) const
{
    const QStringList keys = m_keys.expressions();
    QString sql = QStringLiteral("SELECT *");
    for (int i = 0; i < keys.size(); ++i)
        sql += QStringLiteral(", %1 AS %2").arg(keys[i], quoteIdentifier(keyAlias(i)));
    if (!m_keys.version.isEmpty())
        sql += QStringLiteral(", %1::text AS %2").arg(m_keys.version, quoteIdentifier(QString::fromLatin1(kVersionAlias)));
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
                values << bindableValue(m_connection->dialect(), m_table->column(column), value);
        QSqlQuery q;
        if (!m_connection->execRead(q, selectSql(extraWhere, descending), values + extraValues))
            writer().fail(q.lastError());
        if (!q.next()) {
            if (q.lastError().isValid())
                writer().fail(q.lastError());
            return false;
        }
        const QSqlRecord rec = q.record();
        const int n = int(m_table->columns.size());
        m_row.raw.clear();
        for (int i = 0; i < n; ++i)
            m_row.raw << q.value(i);
        m_row.key.clear();
        const int keys = m_keys.natural.isEmpty() ? int(m_keys.columns.size()) : 1;
        for (int i = 0; i < keys; ++i)
            m_row.key << q.value(n + i);
        m_row.version = m_keys.version.isEmpty() ? QVariant() : q.value(n + keys);
        m_position = Position::OnRow;
        m_editMode = EditMode::None;
        m_row.pending.clear();
        return true;
    });
}

void Recordset::leaveRows(Position where)
{
    m_position = where;
    m_editMode = EditMode::None;
    m_row.pending.clear();
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
    const QVariantList key = m_row.key;
    const QString cmp = keyComparison(m_keys.expressions(), forward ? QStringLiteral(">") : QStringLiteral("<"),
                                      m_connection->dialect(), m_keys.byTid());
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
            values << bindableValue(m_connection->dialect(), column, value);
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
        where << keyComparison(m_keys.expressions(), m_position == Position::OnRow ? QStringLiteral(">=") : QStringLiteral(">"),
                               m_connection->dialect(), m_keys.byTid());
        values << keyComparisonValues(m_row.key, m_connection->dialect());
    }
    if (fetchOne(where.join(QStringLiteral(" AND ")), values, false))
        return true;
    leaveRows(Position::AfterLast);
    return false;
}

QVariantList Recordset::Bookmark() const
{
    requireRow();
    return m_row.key;
}

void Recordset::setBookmark(const QVariantList &bookmark)
{
    const QStringList keys = m_keys.expressions();
    if (bookmark.size() != keys.size())
        noRow(nxTr("Segnalibro non valido"));
    reloadByKey(bookmark);
    if (m_position != Position::OnRow)
        noRow(nxTr("La riga del segnalibro non esiste più"));
}

void Recordset::reloadByKey(const QVariantList &key)
{
    QVariantList values;
    const QStringList where = m_keys.match(key, values);
    if (!fetchOne(where.join(QStringLiteral(" AND ")), values, false)) {
        m_position = Position::Deleted;
        m_row.key = key;
        m_editMode = EditMode::None;
        m_row.pending.clear();
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
    if (m_editMode != EditMode::None && m_row.pending.contains(index)) {
        f.Value = presented(column, m_row.pending.value(index));
    } else if (m_editMode == EditMode::Add) {
        f.Value = QVariant();
    } else {
        requireRow();
        f.Value = presented(column, m_row.raw.value(index));
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
    m_row.pending.insert(i, bindableValue(m_connection->dialect(), m_table->columns[i], value));
}

void Recordset::AddNew()
{
    requireWritable();
    m_row.pending.clear();
    m_editMode = EditMode::Add;
}

void Recordset::CancelUpdate()
{
    m_row.pending.clear();
    m_editMode = EditMode::None;
}

void Recordset::Update()
{
    requireWritable();
    if (m_editMode == EditMode::None)
        return;
    if (m_editMode == EditMode::InProgress) {
        requireRow();
        if (m_row.pending.isEmpty()) {
            m_editMode = EditMode::None;
            return;
        }
    }
    const QVariantList key = m_editMode == EditMode::Add ? writer().insert() : writer().update();
    m_editMode = EditMode::None;
    m_row.pending.clear();
    reloadByKey(key);
}

void Recordset::Delete()
{
    requireWritable();
    requireRow();
    writer().remove();
    m_position = Position::Deleted;
    m_editMode = EditMode::None;
    m_row.pending.clear();
}

void Recordset::restore(const State &state)
{
    m_position = state.position;
    m_row = state.row;
    m_editMode = state.mode;
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

void Recordset::Close()
{
    m_position = Position::AfterLast;
    m_row.pending.clear();
    m_editMode = EditMode::None;
    m_row.raw.clear();
}

} // namespace Norvix
