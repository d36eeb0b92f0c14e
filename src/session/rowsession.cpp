#include "session/rowsession.h"

#include "session/checkvalue.h"
#include "session/lineset.h"
#include "platform/language.h"

#include <algorithm>

namespace Norvix {

namespace {

// Runs `work`, a write of the row in hand `rs` and of its lines, in one transaction; when it is
// rolled back, the row in hand and the lines are put back as they were.
void withTheLines(Connection &connection, Recordset &rs, const QList<LineSet *> &lines, const std::function<void()> &work)
{
    const Recordset::State before = rs.state();
    writeTogether(connection, work, [&] {
        rs.restore(before);
        for (LineSet *l : lines)
            l->rolledBack();
    });
}

} // namespace

RowSession::~RowSession()
{
    detach();
}

void RowSession::attach(std::shared_ptr<Connection> connection, const QString &table, const QStringList &keyColumns,
                        std::shared_ptr<Rec> record)
{
    detach();
    m_connection = std::move(connection);
    m_table = table;
    m_keyColumns = keyColumns;
    m_record = std::move(record);
}

void RowSession::detach()
{
    if (m_recordset) {
        m_recordset->Close();
        m_recordset.reset();
    }
    m_values.clear();
}

std::shared_ptr<const TableInfo> RowSession::table() const
{
    return tableInfo(*m_connection, m_table);
}

Recordset &RowSession::open(const RecordSource &source, CursorIntent intent, bool adding)
{
    m_recordset = std::make_unique<Recordset>(m_connection, source, m_keyColumns, intent);
    if (adding)
        m_recordset->AddNew();
    m_values.clear();
    linesFollow(true);
    tell([this](RowObserver &o) { o.rowReplaced(*this); });
    return *m_recordset;
}

Recordset &RowSession::reopen(CursorIntent intent)
{
    return open(m_recordset ? m_recordset->Source() : wholeTable(), intent);
}

Recordset &RowSession::startNew()
{
    // Over the whole table: a row shown narrows the one in hand to itself.
    return open(wholeTable(), CursorIntent::Change, true);
}

RecordSource RowSession::rowOf(const QVariantList &key) const
{
    return RecordSource::rowOf(m_table, m_keyColumns, key);
}

std::unique_ptr<Recordset> RowSession::readRow(const QVariantList &key) const
{
    return std::make_unique<Recordset>(m_connection, rowOf(key), m_keyColumns, CursorIntent::Read);
}

QVariant RowSession::typed(const QString &column, const QVariant &value) const
{
    return typedValue(*table(), column, value);
}

void setColumnValue(ColumnValues &values, const QString &column, const QVariant &value)
{
    const auto same = [&](const QPair<QString, QVariant> &v) { return v.first.compare(column, Qt::CaseInsensitive) == 0; };
    if (auto it = std::find_if(values.begin(), values.end(), same); it != values.end())
        it->second = value;
    else
        values.append({column, value});
}

std::optional<QVariant> columnValue(const ColumnValues &values, const QString &column)
{
    for (const auto &[name, value] : values)
        if (name.compare(column, Qt::CaseInsensitive) == 0)
            return value;
    return std::nullopt;
}

void RowSession::setValue(const QString &column, const QVariant &value)
{
    setColumnValue(m_values, column, value);
}

QString RowSession::invalidColumn() const
{
    const auto campi = m_record ? m_record->Campi() : nullptr;
    if (!campi)
        return QString();
    const auto info = table();
    for (const auto &[column, value] : m_values) {
        if (!campi->Contains(column))
            continue;
        const int i = info->indexOf(column);
        // A new row's number the database gives.
        if (value.isNull() && adding() && i >= 0 && info->columns[i].assigned)
            continue;
        if (breaksFieldRules(*campi->Item(column), value))
            return column;
    }
    return QString();
}

RowOutcome RowSession::save()
{
    const bool adding = this->adding();
    if (!m_recordset)
        return failed(DataError(DataError::NoCurrentRow, nxTr("Nessun record aperto")), adding);
    if (const QString column = invalidColumn(); !column.isEmpty())
        return RowOutcome{RowOutcome::Kind::Invalid, std::nullopt, column, {}};
    if (auto line = invalidLine())
        return *line;
    return write(adding);
}

std::optional<RowOutcome> RowSession::invalidLine() const
{
    for (const LineSet *lines : m_lines)
        for (int id : lines->changedLines())
            if (const QString column = lines->invalidColumn(id); !column.isEmpty()) {
                RowOutcome out{RowOutcome::Kind::Invalid, std::nullopt, column, {}};
                out.detail = lines->link().number;
                out.line = id;
                return out;
            }
    return std::nullopt;
}

bool RowSession::linesChanged() const
{
    return std::any_of(m_lines.cbegin(), m_lines.cend(), [](const LineSet *l) { return l->hasChanges(); });
}

void RowSession::addLines(LineSet *lines)
{
    if (!m_lines.contains(lines))
        m_lines.append(lines);
    lines->setUser(m_user);
}

void RowSession::setUser(const QString &user)
{
    m_user = user;
    for (LineSet *lines : std::as_const(m_lines))
        lines->setUser(user);
}

bool RowSession::linesFollow(bool drop)
{
    const Recordset *rs = m_recordset.get();
    const bool onRow = rs && rs->hasCurrentRow() && rs->editMode() != EditMode::Add;
    bool changed = false;
    for (LineSet *lines : std::as_const(m_lines)) {
        QVariantList master;
        if (onRow)
            for (const QString &column : lines->link().masterColumns)
                master << rs->value(column);
        if (drop || master != lines->master()) {
            changed = changed || master != lines->master();
            lines->setMaster(master);
        }
    }
    return changed;
}

void RowSession::removeLines(LineSet *lines)
{
    m_lines.removeAll(lines);
}

RowOutcome RowSession::failed(const LineFailure &failure) const
{
    RowOutcome out = failed(failure.error, false);
    if (failure.invalid)
        out.kind = RowOutcome::Kind::Invalid;
    out.column = failure.column;
    out.detail = failure.detail;
    out.line = failure.line;
    return out;
}

RowOutcome RowSession::write(bool adding)
{
    Recordset &rs = *m_recordset;
    const auto info = rs.table();
    for (const auto &[column, value] : std::as_const(m_values)) {
        const int i = info->indexOf(column);
        // A counter the database keeps: a new row gets its number from the database.
        if (i < 0 || (adding && value.isNull() && info->columns[i].assigned))
            continue;
        try {
            rs.setValue(column, value);
        } catch (const DataError &e) {
            if (e.number() == DataError::ConversionFailed)
                return RowOutcome{RowOutcome::Kind::Invalid, e, column, {}};
            return failed(e, adding);
        }
    }
    const bool withLines = linesChanged();
    try {
        if (!withLines && !keepsHistory()) {
            rs.Update();
        } else {
            const auto history = HistoryWriter::of(m_connection, m_table, m_user, m_record);
            withTheLines(*m_connection, rs, m_lines, [&] {
                history ? history->update(rs) : rs.Update();
                for (LineSet *lines : std::as_const(m_lines))
                    lines->write(rs);
            });
            for (LineSet *lines : std::as_const(m_lines))
                lines->committed();
            linesFollow();
        }
    } catch (const DataError &e) {
        return failed(e, adding);
    } catch (const LineFailure &f) {
        return failed(f);
    }
    m_values.clear();
    RowOutcome done;
    if (rs.hasCurrentRow() && rs.editMode() == EditMode::None)
        done.key = rs.Bookmark();
    tell([&](RowObserver &o) { o.rowWritten(*this, adding ? RowWrite::Added : RowWrite::Changed); });
    return done;
}

bool RowSession::backOn(const Recordset &seen)
{
    m_recordset->CancelUpdate();
    m_recordset->setBookmark(m_recordset->Bookmark());
    for (const ColumnInfo &column : m_recordset->table()->columns)
        if (m_recordset->field(column.name).Value != seen.field(column.name).Value)
            return false; // a third writer since
    return true;
}

RowOutcome RowSession::overwrite(const Recordset *seen)
{
    try {
        if (!seen) { // inserted again, with every value typed, under its own key
            const QVariantList key = m_recordset->Bookmark();
            m_recordset->CancelUpdate();
            m_recordset->AddNew();
            for (int k = 0; k < m_keyColumns.size() && k < key.size(); ++k)
                if (!columnValue(m_values, m_keyColumns[k]))
                    m_values.append({m_keyColumns[k], key[k]});
        } else if (!backOn(*seen)) {
            return failed(DataError(DataError::RowChanged, QString()), false);
        }
    } catch (const DataError &e) {
        return failed(e, !seen);
    }
    return write(!seen);
}

RowOutcome RowSession::failed(const DataError &error, bool adding) const
{
    RowOutcome out{RowOutcome::Kind::Refused, error, QString(), {}};
    if (error.number() == DataError::ConnectionLost)
        out.kind = RowOutcome::Kind::Lost;
    else if (error.number() == DataError::RowChanged && !adding)
        out.kind = RowOutcome::Kind::Conflict;
    return out;
}

RowOutcome RowSession::remove(const Recordset *seen)
{
    try {
        if (!m_recordset)
            throw DataError(DataError::NoCurrentRow, nxTr("Nessun record aperto"));
        if (m_recordset->intent() != CursorIntent::Change) { // the row shown, opened for change
            const QVariantList key = m_recordset->hasCurrentRow() ? m_recordset->Bookmark() : QVariantList();
            open(wholeTable(), CursorIntent::Change);
            if (!key.isEmpty())
                m_recordset->setBookmark(key);
        }
        if (seen && !backOn(*seen))
            return failed(DataError(DataError::RowChanged, QString()), false);
        if (m_lines.isEmpty() && !keepsHistory()) {
            m_recordset->Delete();
        } else {
            Recordset &rs = *m_recordset;
            const auto history = HistoryWriter::of(m_connection, m_table, m_user, m_record);
            withTheLines(*m_connection, rs, m_lines, [&] {
                for (LineSet *lines : std::as_const(m_lines))
                    lines->removeAll();
                history ? history->remove(rs) : rs.Delete();
            });
            linesFollow();
        }
    } catch (const DataError &e) {
        return failed(e, false);
    }
    m_values.clear();
    tell([this](RowObserver &o) { o.rowWritten(*this, RowWrite::Deleted); });
    return RowOutcome{};
}

void RowSession::cancel()
{
    m_values.clear();
    for (LineSet *lines : std::as_const(m_lines))
        lines->cancel();
    if (!m_recordset)
        return;
    m_recordset->CancelUpdate();
    // The row as it is stored now (someone else may have changed it since it was read).
    if (m_recordset->hasCurrentRow()) {
        try {
            m_recordset->setBookmark(m_recordset->Bookmark());
        } catch (const DataError &) {
            // Gone or unreadable: what was read stays in hand.
        }
    }
    tell([this](RowObserver &o) { o.rowReplaced(*this); });
}

void RowSession::addObserver(RowObserver *observer)
{
    if (!m_observers.contains(observer))
        m_observers.append(observer);
}

void RowSession::removeObserver(RowObserver *observer)
{
    m_observers.removeAll(observer);
}

void RowSession::tell(const std::function<void(RowObserver &)> &what) const
{
    for (RowObserver *o : QList<RowObserver *>(m_observers)) // an observer may leave meanwhile
        what(*o);
}

} // namespace Norvix
