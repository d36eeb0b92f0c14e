#include "session/lineset.h"

#include "session/checkvalue.h"
#include "session/rowsession.h"
#include "descriptor/prossimovalore.h"
#include "platform/language.h"

#include <QDateTime>

#include <algorithm>

namespace Norvix {

namespace {

// A key as text, so that the same values read by different queries (an int and a long long)
// name the same line.
QString keyText(const QVariantList &key)
{
    QStringList parts;
    for (const QVariant &v : key)
        parts << (v.isNull() ? QStringLiteral("\\N") : v.toString());
    return parts.join(QChar(0x1f));
}

} // namespace

void LineSet::attach(std::shared_ptr<Connection> connection, DetailLink link)
{
    m_connection = std::move(connection);
    m_link = std::move(link);
    setMaster({});
}

std::shared_ptr<const TableInfo> LineSet::table() const
{
    return tableInfo(*m_connection, m_link.table);
}

void LineSet::setMaster(const QVariantList &linkValues)
{
    m_master = linkValues;
    cancel();
}

QString LineSet::condition(QVariantList &values) const
{
    if (m_master.isEmpty())
        return QStringLiteral("1 = 0");
    const auto info = table();
    QStringList where;
    for (int i = 0; i < m_link.childColumns.size(); ++i) {
        where << quoteIdentifier(info->column(m_link.childColumns[i]).name) + QStringLiteral(" = ?");
        values << m_master.value(i);
    }
    return where.join(QStringLiteral(" AND "));
}

int LineSet::take(const QVariantList &key)
{
    if (const int id = idOf(key); id >= 0)
        return id;
    auto row = std::make_unique<Recordset>(m_connection, RecordSource::rowOf(m_link.table, m_link.keyColumns, key), m_link.keyColumns, CursorIntent::Change);
    if (!row->hasCurrentRow())
        throw DataError(DataError::RowChanged, nxTr("La riga non esiste più: un altro utente l'ha eliminata."));
    // Only a line of the master in hand: a change or a delete must never reach another's lines.
    for (int i = 0; i < m_link.childColumns.size(); ++i)
        if (m_master.isEmpty() || row->value(m_link.childColumns[i]).toString() != m_master.value(i).toString())
            throw DataError(DataError::RowChanged, nxTr("La riga non appartiene più a questo record."));
    const int id = m_next++;
    m_lines[id] = Line{std::move(row), key, {}, false, std::nullopt};
    m_ids.insert(keyText(key), id);
    return id;
}

int LineSet::idOf(const QVariantList &key) const
{
    return m_ids.value(keyText(key), -1);
}

QVariantList LineSet::keyOf(int id) const
{
    const Line *l = line(id);
    return l ? l->key : QVariantList();
}

int LineSet::add()
{
    const int id = m_next++;
    m_lines[id] = Line{};
    // The fields' defaults, as a new row takes them (NOW: the date and time of now).
    const auto campi = m_link.record ? m_link.record->Campi() : nullptr;
    if (!campi)
        return id;
    for (const auto &c : *campi) {
        if (c->Default().isEmpty() || m_link.childColumns.contains(c->Nome(), Qt::CaseInsensitive))
            continue;
        const bool now = c->TIPO().compare(u"DATE", Qt::CaseInsensitive) == 0 && c->Default().compare(u"NOW", Qt::CaseInsensitive) == 0;
        try {
            setValue(id, c->Nome(), typed(c->Nome(), now ? QVariant(QDateTime::currentDateTime()) : QVariant(c->Default())));
        } catch (const DataError &) {
            // A default the column cannot take (or a field the table lacks): left empty, checked on save.
        }
    }
    return id;
}

QList<int> LineSet::added() const
{
    QList<int> ids;
    for (const auto &[id, l] : m_lines)
        if (!l.row && !l.removed)
            ids << id;
    return ids;
}

bool LineSet::isNew(int id) const
{
    const Line *l = line(id);
    return l && !l->row;
}

QVariant LineSet::typed(const QString &column, const QVariant &value) const
{
    return typedValue(*table(), column, value);
}

void LineSet::setValue(int id, const QString &column, const QVariant &value)
{
    if (Line *l = line(id))
        setColumnValue(l->values, column, value);
}

std::optional<QVariant> LineSet::valueSet(int id, const QString &column) const
{
    const Line *l = line(id);
    return l ? columnValue(l->values, column) : std::nullopt;
}

QVariant LineSet::value(int id, const QString &column) const
{
    return valueSet(id, column).value_or(readValue(id, column));
}

QVariant LineSet::readValue(int id, const QString &column) const
{
    const Line *l = line(id);
    return l && l->row && l->row->hasCurrentRow() ? l->row->value(column) : QVariant();
}

std::unique_ptr<Recordset> LineSet::storedNow(int id) const
{
    auto now = std::make_unique<Recordset>(m_connection, RecordSource::rowOf(m_link.table, m_link.keyColumns, keyOf(id)), m_link.keyColumns, CursorIntent::Read);
    return now->hasCurrentRow() ? std::move(now) : nullptr;
}

void LineSet::drop(int id)
{
    m_ids.remove(keyText(keyOf(id)));
    m_lines.erase(id);
}

void LineSet::retake(int id)
{
    Line *l = line(id);
    if (!l || !l->row)
        return;
    auto now = std::make_unique<Recordset>(m_connection, RecordSource::rowOf(m_link.table, m_link.keyColumns, l->key), m_link.keyColumns, CursorIntent::Change);
    if (now->hasCurrentRow()) {
        l->row = std::move(now);
        return;
    }
    // Gone: inserted again, under its own key, with the values it had and those set over them.
    QList<QPair<QString, QVariant>> values;
    for (const ColumnInfo &column : table()->columns)
        if (!valueSet(id, column.name))
            values.append({column.name, l->row->value(column.name)});
    l->values = values + l->values;
    m_ids.remove(keyText(l->key));
    l->row.reset();
    l->key.clear();
    l->removed = false;
}

void LineSet::remove(int id)
{
    Line *l = line(id);
    if (!l)
        return;
    if (!l->row) {
        m_lines.erase(id);
        return;
    }
    l->removed = true;
}

bool LineSet::isRemoved(int id) const
{
    const Line *l = line(id);
    return l && l->removed;
}

QString LineSet::invalidColumn(int id) const
{
    const Line *l = line(id);
    const auto campi = m_link.record ? m_link.record->Campi() : nullptr;
    if (!l || l->removed || !campi)
        return QString();
    const auto info = table();
    for (const auto &c : *campi) {
        // A new line is checked whole (its unset fields are empty); a stored one where it changed.
        const auto set = valueSet(id, c->Nome());
        if (l->row && !set)
            continue;
        if (!l->row && !set && c->TIPO().compare(u"AUTOINC", Qt::CaseInsensitive) == 0)
            continue; // numbered when it is written
        if (m_link.childColumns.contains(c->Nome(), Qt::CaseInsensitive))
            continue; // the master's values
        const int i = info->indexOf(c->Nome());
        if (!set && i >= 0 && info->columns[i].assigned)
            continue; // a number the database gives
        if (breaksFieldRules(*c, set.value_or(QVariant())))
            return c->Nome();
    }
    return QString();
}

bool LineSet::hasChanges() const
{
    return std::any_of(m_lines.cbegin(), m_lines.cend(),
                       [](const auto &entry) { return entry.second.removed || !entry.second.values.isEmpty() || !entry.second.row; });
}

QList<int> LineSet::changedLines() const
{
    QList<int> ids;
    for (const auto &[id, l] : m_lines)
        if (!l.removed && (!l.row || !l.values.isEmpty()))
            ids << id;
    return ids;
}

void LineSet::cancel()
{
    m_lines.clear();
    m_ids.clear();
}

void LineSet::write(const Recordset &master)
{
    QVariantList link;
    for (const QString &column : std::as_const(m_link.masterColumns))
        link << master.value(column);
    // Deleted first (a new line may take a deleted one's key), then changed, then added; a line
    // taken in hand and left as it was is not written.
    const auto pass = [](const Line &l) { return !l.row ? 2 : l.removed ? 0 : l.values.isEmpty() ? -1 : 1; };
    for (int p = 0; p < 3; ++p)
        for (auto &[id, l] : m_lines)
            if (pass(l) == p)
                writeLine(id, l, link);
}

void LineSet::writeLine(int id, Line &l, const QVariantList &link)
{
    QString column;
    try {
        if (l.row)
            l.before = l.row->state();
        const auto recorded = HistoryWriter::of(m_connection, m_link.table, m_user, m_link.record);
        if (l.removed) {
            recorded ? recorded->remove(*l.row) : l.row->Delete();
            return;
        }
        if (!l.row) {
            if (!m_adder)
                m_adder = std::make_unique<Recordset>(m_connection, RecordSource::wholeTable(m_link.table),
                                                      m_link.keyColumns, CursorIntent::Change);
            m_adder->AddNew();
            for (int i = 0; i < m_link.childColumns.size(); ++i)
                m_adder->setValue(m_link.childColumns[i], link.value(i));
            numberLine(id, link);
        }
        Recordset &rs = l.row ? *l.row : *m_adder;
        const auto info = rs.table();
        for (const auto &[name, value] : std::as_const(l.values)) {
            const int i = info->indexOf(name);
            if (i < 0 || (!l.row && value.isNull() && info->columns[i].assigned))
                continue;
            column = name;
            rs.setValue(name, value);
        }
        column.clear();
        recorded ? recorded->update(rs) : rs.Update();
    } catch (const DataError &e) {
        fail(id, column, e, e.number() == DataError::ConversionFailed && !column.isEmpty());
    } catch (JoinedFailure &f) {
        // Explained after the rollback, as this line's.
        f.explain = [explain = f.explain, id, this] {
            try {
                explain();
            } catch (const DataError &e) {
                fail(id, QString(), e);
            }
        };
        throw;
    }
}

void LineSet::numberLine(int id, const QVariantList &link)
{
    if (!m_link.record)
        return;
    const auto info = m_adder->table();
    // A counter of the line's key under the master's (an order's line numbers) counts within
    // the master; any other counts over the table.
    bool underMaster = m_link.childColumns.size() < m_link.keyColumns.size();
    for (const QString &c : std::as_const(m_link.childColumns))
        underMaster = underMaster && m_link.keyColumns.contains(c, Qt::CaseInsensitive);
    for (const auto &c : *m_link.record->Campi()) {
        const int i = info->indexOf(c->Nome());
        if (c->TIPO().compare(u"AUTOINC", Qt::CaseInsensitive) != 0 || i < 0 || info->columns[i].assigned
            || m_link.childColumns.contains(c->Nome(), Qt::CaseInsensitive) || !value(id, c->Nome()).isNull())
            continue;
        RecordSource source = RecordSource::wholeTable(m_link.table);
        if (underMaster && m_link.keyColumns.contains(c->Nome(), Qt::CaseInsensitive))
            for (int k = 0; k < m_link.childColumns.size(); ++k)
                source.equals.append({m_link.childColumns[k], link.value(k)});
        m_adder->setValue(c->Nome(), ProssimoValore(c->Nome(), source, *m_connection));
    }
}

void LineSet::removeAll()
{
    if (m_master.isEmpty())
        return;
    QList<QPair<QString, QVariant>> equals;
    for (int i = 0; i < m_link.childColumns.size(); ++i)
        equals.append({m_link.childColumns[i], m_master.value(i)});
    if (const auto recorded = HistoryWriter::of(m_connection, m_link.table, m_user, m_link.record)) {
        // Each line deleted on its own, so that each has its entry.
        QList<QVariantList> keys;
        for (Recordset all(m_connection, RecordSource{m_link.table, equals}, m_link.keyColumns, CursorIntent::Read);
             all.hasCurrentRow(); all.MoveNext())
            keys << all.Bookmark();
        for (const QVariantList &key : std::as_const(keys)) {
            Recordset row(m_connection, RecordSource::rowOf(m_link.table, m_link.keyColumns, key), m_link.keyColumns,
                          CursorIntent::Change);
            if (row.hasCurrentRow())
                recorded->remove(row);
        }
        return;
    }
    m_keys = RowKeys{m_link.keyColumns, QString(), QString()};
    RowWriter(m_connection, table(), m_keys, m_noRow).removeWhere(equals);
}


void LineSet::committed()
{
    m_adder.reset();
    cancel();
}

void LineSet::rolledBack()
{
    m_adder.reset();
    for (auto &[id, l] : m_lines)
        if (l.row && l.before) {
            l.row->restore(*l.before);
            l.before.reset();
        }
}

LineSet::Line *LineSet::line(int id)
{
    const auto it = m_lines.find(id);
    return it == m_lines.end() ? nullptr : &it->second;
}

const LineSet::Line *LineSet::line(int id) const
{
    const auto it = m_lines.find(id);
    return it == m_lines.end() ? nullptr : &it->second;
}

void LineSet::fail(int id, const QString &column, const DataError &error, bool invalid) const
{
    throw LineFailure{m_link.number, id, column, invalid, error};
}

} // namespace Norvix
