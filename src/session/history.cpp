#include "session/history.h"

#include "platform/language.h"
#include "platform/recordset.h"
#include "platform/rowwriter.h"
#include "platform/schema.h"
#include "platform/typedvalue.h"

#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>

#include <cmath>

#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif

namespace Norvix {

namespace {

const QString &historyTable()
{
    static const QString name = QString::fromUtf16(kHistoryTable);
    return name;
}

bool isJsonNumber(const QString &text)
{
    static const QRegularExpression number(QStringLiteral("^-?(0|[1-9][0-9]*)(\\.[0-9]+)?([eE][+-]?[0-9]+)?$"));
    return number.match(text).hasMatch();
}

QString jsonString(const QString &text)
{
    QString out;
    out.reserve(text.size() + 2);
    out += u'"';
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'"': out += QStringLiteral("\\\""); break;
        case u'\\': out += QStringLiteral("\\\\"); break;
        case u'\n': out += QStringLiteral("\\n"); break;
        case u'\r': out += QStringLiteral("\\r"); break;
        case u'\t': out += QStringLiteral("\\t"); break;
        default:
            if (c.unicode() < 0x20)
                out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    out += u'"';
    return out;
}

QString numberJson(const QVariant &value)
{
    switch (value.userType()) {
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = value.toDouble();
        return std::isfinite(d) ? QString::number(d, 'g', QLocale::FloatingPointShortest) : jsonString(QString::number(d));
    }
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
        return value.toString();
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    default:
        break;
    }
    const QString text = value.canConvert<Decimal>() && value.userType() == qMetaTypeId<Decimal>()
                             ? value.value<Decimal>().digits
                             : value.toString().trimmed();
    return isJsonNumber(text) ? text : jsonString(value.toString()); // a text stored in a number column stays text
}

QString dateJson(const QVariant &value)
{
    switch (value.userType()) {
    case QMetaType::QDate:
        return jsonString(value.toDate().toString(Qt::ISODate));
    case QMetaType::QTime: {
        const QTime t = value.toTime();
        return jsonString(t.toString(t.msec() ? Qt::ISODateWithMs : Qt::ISODate));
    }
    case QMetaType::QDateTime: {
        const QDateTime dt = value.toDateTime();
        return jsonString(dt.toString(dt.time().msec() ? Qt::ISODateWithMs : Qt::ISODate));
    }
    default:
        return QString();
    }
}

bool truth(const QVariant &value)
{
    if (value.userType() == QMetaType::QString) {
        const QString t = value.toString().trimmed().toLower();
        return t == u"true" || t == u"1" || t == u"-1" || t == u"vero" || t == u"t" || t == u"yes" || t == u"sì";
    }
    return value.toBool();
}

// A small JSON reader that keeps every digit of a number.
class JsonReader
{
public:
    explicit JsonReader(QStringView text) : m_text(text) {}

    std::optional<QVariant> document()
    {
        auto v = value();
        skip();
        if (!v || m_at != m_text.size())
            return std::nullopt;
        return v;
    }

private:
    void skip()
    {
        while (m_at < m_text.size() && m_text[m_at].isSpace())
            ++m_at;
    }
    bool take(QChar c)
    {
        skip();
        if (m_at < m_text.size() && m_text[m_at] == c) {
            ++m_at;
            return true;
        }
        return false;
    }
    bool word(QStringView w)
    {
        if (m_text.mid(m_at).startsWith(w)) {
            m_at += w.size();
            return true;
        }
        return false;
    }

    std::optional<QVariant> value()
    {
        skip();
        if (m_at >= m_text.size() || ++m_depth > 64)
            return std::nullopt;
        const QChar c = m_text[m_at];
        std::optional<QVariant> v;
        if (c == u'{')
            v = object();
        else if (c == u'[')
            v = array();
        else if (c == u'"')
            v = string();
        else if (word(u"true"))
            v = QVariant(true);
        else if (word(u"false"))
            v = QVariant(false);
        else if (word(u"null"))
            v = QVariant();
        else
            v = number();
        --m_depth;
        return v;
    }

    std::optional<QVariant> number()
    {
        const qsizetype start = m_at;
        while (m_at < m_text.size() && (m_text[m_at].isDigit() || QStringView(u"+-.eE").contains(m_text[m_at])))
            ++m_at;
        const QString text = m_text.mid(start, m_at - start).toString();
        if (!isJsonNumber(text))
            return std::nullopt;
        bool whole = false;
        const qint64 n = text.toLongLong(&whole);
        return whole ? QVariant(n) : QVariant(text);
    }

    std::optional<QVariant> string()
    {
        ++m_at; // the opening quote
        QString out;
        while (m_at < m_text.size()) {
            const QChar c = m_text[m_at++];
            if (c == u'"')
                return QVariant(out);
            if (c != u'\\') {
                out += c;
                continue;
            }
            if (m_at >= m_text.size())
                return std::nullopt;
            const QChar e = m_text[m_at++];
            switch (e.unicode()) {
            case u'n': out += u'\n'; break;
            case u'r': out += u'\r'; break;
            case u't': out += u'\t'; break;
            case u'b': out += u'\b'; break;
            case u'f': out += u'\f'; break;
            case u'u': {
                bool ok = false;
                const ushort code = m_text.mid(m_at, 4).toUShort(&ok, 16);
                if (!ok || m_text.mid(m_at, 4).size() != 4)
                    return std::nullopt;
                out += QChar(code);
                m_at += 4;
                break;
            }
            default: out += e;
            }
        }
        return std::nullopt;
    }

    std::optional<QVariant> array()
    {
        ++m_at;
        QVariantList items;
        if (take(u']'))
            return QVariant(items);
        do {
            auto v = value();
            if (!v)
                return std::nullopt;
            items << *v;
        } while (take(u','));
        return take(u']') ? std::optional<QVariant>(items) : std::nullopt;
    }

    std::optional<QVariant> object()
    {
        ++m_at;
        QVariantMap items;
        if (take(u'}'))
            return QVariant(items);
        do {
            skip();
            if (m_at >= m_text.size() || m_text[m_at] != u'"')
                return std::nullopt;
            const auto name = string();
            if (!name || !take(u':'))
                return std::nullopt;
            auto v = value();
            if (!v)
                return std::nullopt;
            items.insert(name->toString(), *v);
        } while (take(u','));
        return take(u'}') ? std::optional<QVariant>(items) : std::nullopt;
    }

    QStringView m_text;
    qsizetype m_at = 0;
    int m_depth = 0;
};

QList<ColumnKind> kindsOf(const TableInfo &table)
{
    QList<ColumnKind> kinds;
    for (const ColumnInfo &c : table.columns)
        kinds << c.kind;
    return kinds;
}

// The kinds of the values of a row's key: its columns', or the natural key's.
QList<ColumnKind> keyKinds(const Connection &connection, const TableInfo &table, const QStringList &keyColumns)
{
    QList<ColumnKind> kinds;
    for (const QString &k : keyColumns) {
        const int i = table.indexOf(k);
        kinds << (i >= 0 ? table.columns[i].kind : ColumnKind::Other);
    }
    if (kinds.isEmpty())
        kinds << (connection.dialect() == SqlDialect::PostgreSql ? ColumnKind::Text : ColumnKind::Integer);
    return kinds;
}

QString objectJson(const QList<HistoryChange> &changes, const QList<ColumnKind> &kinds, QChar action)
{
    QStringList items;
    for (int i = 0; i < changes.size(); ++i) {
        const HistoryChange &c = changes[i];
        const ColumnKind kind = kinds.value(i, ColumnKind::Other);
        QString value;
        if (action == u'U')
            value = u'[' + historyJson(c.before, kind) + u',' + historyJson(c.after, kind) + u']';
        else
            value = historyJson(action == u'I' ? c.after : c.before, kind);
        items << jsonString(c.column) + u':' + value;
    }
    return u'{' + items.join(u',') + u'}';
}

bool tableExists(const Connection &connection, QSqlQuery &q)
{
    const bool pg = connection.dialect() == SqlDialect::PostgreSql;
    if (connection.dialect() == SqlDialect::Other)
        return tableNames(connection).contains(historyTable(), Qt::CaseInsensitive);
    q.prepare(pg ? QStringLiteral("SELECT to_regclass('norvix_storia') IS NOT NULL")
                 : QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'NORVIX_STORIA' COLLATE NOCASE"));
    return execPatiently(q) && q.next() && q.value(0).toBool();
}

QStringList createStatements(SqlDialect dialect)
{
    if (dialect == SqlDialect::PostgreSql)
        return {QStringLiteral("CREATE TABLE IF NOT EXISTS NORVIX_STORIA (ID bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY, "
                               "TABELLA text NOT NULL, CHIAVE jsonb NOT NULL, AZIONE char(1) NOT NULL "
                               "CHECK (AZIONE IN ('I', 'U', 'D')), UTENTE text, QUANDO timestamptz NOT NULL, CAMPI jsonb)"),
                QStringLiteral("CREATE INDEX IF NOT EXISTS NORVIX_STORIA_RIGA ON NORVIX_STORIA (TABELLA, CHIAVE, QUANDO, ID)")};
    if (dialect == SqlDialect::Other) // plain types most databases know; the ID is given on insert
        return {QStringLiteral("CREATE TABLE NORVIX_STORIA (ID INTEGER NOT NULL PRIMARY KEY, TABELLA VARCHAR(128) NOT NULL, "
                               "CHIAVE VARCHAR(400) NOT NULL, AZIONE CHAR(1) NOT NULL, UTENTE VARCHAR(128), "
                               "QUANDO VARCHAR(24) NOT NULL, CAMPI TEXT)"),
                QStringLiteral("CREATE INDEX NORVIX_STORIA_RIGA ON NORVIX_STORIA (TABELLA, CHIAVE, QUANDO, ID)")};
    return {QStringLiteral("CREATE TABLE IF NOT EXISTS NORVIX_STORIA (ID INTEGER PRIMARY KEY, TABELLA TEXT NOT NULL, "
                           "CHIAVE TEXT NOT NULL, AZIONE CHAR(1) NOT NULL CHECK (AZIONE IN ('I', 'U', 'D')), UTENTE TEXT, "
                           "QUANDO TEXT NOT NULL, CAMPI TEXT)"),
            QStringLiteral("CREATE INDEX IF NOT EXISTS NORVIX_STORIA_RIGA ON NORVIX_STORIA (TABELLA, CHIAVE, QUANDO, ID)")};
}

QString insertStatement(SqlDialect dialect)
{
    switch (dialect) {
    case SqlDialect::PostgreSql:
        return QStringLiteral("INSERT INTO NORVIX_STORIA (TABELLA, CHIAVE, AZIONE, UTENTE, QUANDO, CAMPI) "
                              "VALUES (?, CAST(? AS jsonb), ?, ?, CAST(? AS timestamptz), CAST(? AS jsonb))");
    case SqlDialect::Sqlite:
        return QStringLiteral("INSERT INTO NORVIX_STORIA (TABELLA, CHIAVE, AZIONE, UTENTE, QUANDO, CAMPI) VALUES (?, ?, ?, ?, ?, ?)");
    case SqlDialect::Other: // numbered here, inside the transaction
        break;
    }
    return QStringLiteral("INSERT INTO NORVIX_STORIA (ID, TABELLA, CHIAVE, AZIONE, UTENTE, QUANDO, CAMPI) "
                          "SELECT COALESCE(MAX(ID), 0) + 1, ?, ?, ?, ?, ?, ? FROM NORVIX_STORIA");
}

QString nowText()
{
    return QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
}

} // namespace

QString historyJson(const QVariant &value, ColumnKind kind)
{
    if (!value.isValid() || value.isNull())
        return QStringLiteral("null");
    if (value.userType() == QMetaType::QByteArray)
        return jsonString(QString::fromLatin1(value.toByteArray().toBase64()));
    switch (kind) {
    case ColumnKind::Boolean:
        return truth(value) ? QStringLiteral("true") : QStringLiteral("false");
    case ColumnKind::Integer:
    case ColumnKind::Decimal:
    case ColumnKind::Double:
        return numberJson(value);
    default:
        break;
    }
    if (const QString date = dateJson(value); !date.isEmpty())
        return date;
    switch (value.userType()) {
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::Double:
        return numberJson(value);
    default:
        break;
    }
    if (value.userType() == qMetaTypeId<Decimal>())
        return numberJson(value);
    return jsonString(value.toString());
}

QString historyKeyJson(const QVariantList &key, const QList<ColumnKind> &kinds)
{
    QStringList items;
    for (int i = 0; i < key.size(); ++i)
        items << historyJson(key[i], kinds.value(i, ColumnKind::Other));
    return u'[' + items.join(u',') + u']';
}

std::optional<QVariant> parseHistoryJson(const QString &json)
{
    return JsonReader(json).document();
}

QString systemUserName()
{
    for (const char *variable : {"USER", "USERNAME", "LOGNAME"})
        if (const QString user = qEnvironmentVariable(variable); !user.isEmpty())
            return user;
#ifdef Q_OS_UNIX
    // A service or a container often sets none of them: the account itself.
    if (const passwd *account = getpwuid(geteuid()); account && account->pw_name)
        return QString::fromLocal8Bit(account->pw_name);
#endif
    return QString();
}

HistoryWriter::HistoryWriter(std::shared_ptr<Connection> connection, QString table, QString user,
                             std::shared_ptr<Rec> record)
    : m_connection(std::move(connection)), m_table(std::move(table)), m_user(std::move(user)), m_record(std::move(record))
{
}

std::optional<HistoryWriter> HistoryWriter::of(std::shared_ptr<Connection> connection, const QString &table,
                                              const QString &user, const std::shared_ptr<Rec> &record)
{
    if (!record || !record->Storia())
        return std::nullopt;
    return HistoryWriter(std::move(connection), historyName(*record, table), user, record);
}

QString historyActionText(QChar action)
{
    if (action == u'I')
        return nxTr("Inserito");
    if (action == u'D')
        return nxTr("Eliminato");
    return action == u'U' ? nxTr("Modificato") : QString(action);
}

QString HistoryWriter::columnName(const QString &column) const
{
    const auto campi = m_record ? m_record->Campi() : nullptr;
    return campi && campi->Contains(column) ? campi->Item(column)->Nome() : column;
}

void HistoryWriter::update(Recordset &rs) const
{
    const bool adding = rs.editMode() == EditMode::Add;
    const auto info = rs.table();
    // The row as read, which the write's check finds stored still (else nothing is written).
    const QVariantList before = adding ? QVariantList() : rs.state().row.raw;
    const bool pending = rs.editMode() != EditMode::None;
    rs.Update();
    if (!pending || !rs.hasCurrentRow())
        return;
    const QList<ColumnKind> kinds = kindsOf(*info);
    const QVariantList stored = rs.state().row.raw; // as read, not as presented (a date as its text)
    QList<HistoryChange> changes;
    QList<ColumnKind> changedKinds;
    for (int i = 0; i < info->columns.size(); ++i) {
        const QVariant after = stored.value(i);
        if (!adding && historyJson(before.value(i), kinds[i]) == historyJson(after, kinds[i]))
            continue;
        changes << HistoryChange{columnName(info->columns[i].name), adding ? QVariant() : before.value(i), after};
        changedKinds << kinds[i];
    }
    if (changes.isEmpty())
        return; // a save that changed nothing
    record(adding ? u'I' : u'U', rs.Bookmark(), keyKinds(*m_connection, *info, rs.orderColumns()), changes, changedKinds);
}

void HistoryWriter::remove(Recordset &rs) const
{
    const auto info = rs.table();
    const QVariantList stored = rs.state().row.raw;
    QList<HistoryChange> row;
    for (int i = 0; i < info->columns.size(); ++i)
        row << HistoryChange{columnName(info->columns[i].name), stored.value(i), QVariant()};
    const QVariantList key = rs.Bookmark();
    rs.Delete();
    record(u'D', key, keyKinds(*m_connection, *info, rs.orderColumns()), row, kindsOf(*info));
}

void HistoryWriter::record(QChar action, const QVariantList &key, const QList<ColumnKind> &keyKinds,
                           const QList<HistoryChange> &changes, const QList<ColumnKind> &kinds) const
{
    if (!m_connection->writesTogether())
        throw DataError(DataError::Generic, QStringLiteral("History written outside the change's transaction"));
    m_connection->call([&] {
        QSqlQuery q(m_connection->database());
        bool ok = true;
        if (!m_connection->cachedTable(historyTable())) {
            // Known to exist once found so outside a transaction of this session that created it.
            // Two first writers at once on a server: the second waits for the first's table.
            if (!tableExists(*m_connection, q) && m_connection->dialect() == SqlDialect::PostgreSql)
                ok = execTextPatiently(q, QStringLiteral("SELECT pg_advisory_xact_lock(hashtext('norvix_storia'))"));
            if (ok && tableExists(*m_connection, q)) {
                tableInfo(*m_connection, historyTable());
            } else if (ok) {
                for (const QString &sql : createStatements(m_connection->dialect()))
                    ok = ok && execTextPatiently(q, sql);
            }
        }
        if (ok) {
            ok = q.prepare(insertStatement(m_connection->dialect()));
            q.addBindValue(m_table);
            q.addBindValue(historyKeyJson(key, keyKinds));
            q.addBindValue(QString(action));
            q.addBindValue(m_user);
            q.addBindValue(nowText());
            q.addBindValue(objectJson(changes, kinds, action));
            ok = ok && execPatiently(q);
        }
        if (ok)
            return;
        const QSqlError error = q.lastError();
        q.finish();
        throw JoinedFailure{error, [error] {
            const QString why = error.databaseText().isEmpty() ? error.text() : error.databaseText();
            throw DataError(DataError::HistoryFailed,
                            nxTr("La storia delle modifiche non può essere scritta (%1): nulla è stato salvato né "
                                 "eliminato e i valori inseriti sono stati mantenuti.")
                                .arg(why),
                            error.nativeErrorCode());
        }};
    });
}

QString historyName(const Rec &record, const QString &table)
{
    return record.Nome().isEmpty() ? table : record.Nome();
}

bool hasHistory(const Connection &connection)
{
    if (connection.cachedTable(historyTable()))
        return true;
    return connection.call([&] {
        QSqlQuery q(connection.database());
        return tableExists(connection, q);
    });
}

QList<HistoryEntry> readHistory(Connection &connection, const HistoryQuery &query)
{
    QList<HistoryEntry> entries;
    if (!hasHistory(connection))
        return entries;
    const bool pg = connection.dialect() == SqlDialect::PostgreSql;
    std::shared_ptr<const TableInfo> info;
    try {
        info = tableInfo(connection, query.table);
    } catch (const DataError &) {
        // The table is gone: its history stays readable, its columns in the order stored.
    }
    // A whole table's pages go by ID: SQLite is kept (the "+") from the row index, which would
    // sort every entry of the table for each page.
    QStringList where{!query.key && connection.dialect() == SqlDialect::Sqlite ? QStringLiteral("+TABELLA = ?") : QStringLiteral("TABELLA = ?")};
    QVariantList values{query.table};
    if (query.key) {
        where << (pg ? QStringLiteral("CHIAVE = CAST(? AS jsonb)") : QStringLiteral("CHIAVE = ?"));
        values << historyKeyJson(*query.key, query.keyKinds);
    }
    const auto when = [](const QDateTime &t) { return t.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ")); };
    const QString whenMark = pg ? QStringLiteral("CAST(? AS timestamptz)") : QStringLiteral("?");
    if (query.since.isValid()) {
        where << QStringLiteral("QUANDO >= ") + whenMark;
        values << when(query.since);
    }
    // One row's entries in time order through the index; a whole table's by the order they were
    // recorded (ID), which its primary key reads without sorting them all.
    if (query.beforeId > 0 && query.key) {
        where << QStringLiteral("(QUANDO, ID) < (%1, ?)").arg(whenMark);
        values << when(query.beforeWhen) << query.beforeId;
    } else if (query.beforeId > 0) {
        where << QStringLiteral("ID < ?");
        values << query.beforeId;
    }
    const QString sql = pg ? QStringLiteral("SELECT ID, TABELLA, CHIAVE::text, AZIONE, UTENTE, "
                                            "to_char(QUANDO AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"'), CAMPI::text")
                           : QStringLiteral("SELECT ID, TABELLA, CHIAVE, AZIONE, UTENTE, QUANDO, CAMPI");
    const QString select = sql + QStringLiteral(" FROM NORVIX_STORIA WHERE %1 ORDER BY %2 LIMIT %3")
                                     .arg(where.join(QStringLiteral(" AND ")),
                                          query.key ? QStringLiteral("QUANDO DESC, ID DESC") : QStringLiteral("ID DESC"))
                                     .arg(std::max(1, query.limit));
    connection.call([&] {
        QSqlQuery q(connection.database());
        if (!connection.execRead(q, select, values))
            throw DataError(DataError::Generic, q.lastError().text(), q.lastError().nativeErrorCode());
        while (q.next()) {
            HistoryEntry e;
            e.id = q.value(0).toLongLong();
            e.table = q.value(1).toString();
            e.keyJson = q.value(2).toString();
            e.fieldsJson = q.value(6).toString();
            e.key = parseHistoryJson(e.keyJson).value_or(QVariant()).toList();
            e.action = q.value(3).toString().append(u' ').at(0);
            e.user = q.value(4).toString();
            e.when = QDateTime::fromString(q.value(5).toString(), Qt::ISODateWithMs).toUTC();
            const QVariantMap fields = parseHistoryJson(e.fieldsJson).value_or(QVariant()).toMap();
            const auto add = [&](const QString &column, const QVariant &v) {
                HistoryChange c{column, {}, {}};
                if (e.action == u'U') {
                    const QVariantList pair = v.toList();
                    c.before = pair.value(0);
                    c.after = pair.value(1);
                } else if (e.action == u'I') {
                    c.after = v;
                } else {
                    c.before = v;
                }
                e.changes << c;
            };
            // In the table's column order; columns it no longer has after them.
            QStringList left = fields.keys();
            if (info)
                for (const ColumnInfo &c : info->columns)
                    for (const QString &k : fields.keys())
                        if (k.compare(c.name, Qt::CaseInsensitive) == 0 && left.removeOne(k))
                            add(k, fields.value(k));
            for (const QString &k : std::as_const(left))
                add(k, fields.value(k));
            entries << e;
        }
    });
    return entries;
}

} // namespace Norvix
