#include "editor/historymodel.h"

#include "editor/columntext.h"
#include "editor/detailmodel.h"
#include "platform/dataerror.h"
#include "platform/language.h"
#include "platform/typedvalue.h"

#include <QTimer>

namespace Norvix {

QVariant historyValue(const QVariant &value, ColumnKind kind)
{
    if (value.typeId() != QMetaType::QString
        || (kind != ColumnKind::Decimal && kind != ColumnKind::Double && kind != ColumnKind::Integer))
        return value;
    // A number history keeps as its digits: exact ("1234.50"), in exponent form from a double, or
    // a whole number too long for 64 bits.
    const QString digits = value.toString();
    if (digits.contains(u'e', Qt::CaseInsensitive)) {
        bool ok = false;
        const double d = digits.toDouble(&ok);
        return ok ? QVariant(d) : value;
    }
    return QVariant::fromValue(Decimal{digits});
}

QString historyValueText(const QVariant &value, ColumnKind kind, const QString &picture)
{
    if (kind == ColumnKind::Blob && !value.isNull())
        return nxTr("(dati binari)");
    return columnValueText(historyValue(value, kind), kind, kind == ColumnKind::Boolean ? QString() : picture);
}

HistoryModel::HistoryModel(std::shared_ptr<Connection> connection, HistoryQuery query, Calls calls,
                           const QList<QPair<QString, QVariant>> &sources, QObject *parent)
    : QAbstractTableModel(parent), m_connection(std::move(connection)), m_query(std::move(query)),
      m_calls(std::move(calls))
{
    m_query.limit = kPage;
    for (const auto &[column, value] : sources)
        m_sources.insert(column.toUpper(), value);
}

int HistoryModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_lines.size());
}

int HistoryModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : Columns;
}

const HistoryColumn &HistoryModel::column(const QString &name) const
{
    const QString key = name.toUpper();
    auto it = m_columns.find(key);
    if (it == m_columns.end())
        it = m_columns.insert(key, m_calls.columnOf(name));
    return *it;
}

QString HistoryModel::valueText(const HistoryLine &line, bool before) const
{
    const HistoryColumn &c = column(line.column);
    const QString text = historyValueText(before ? line.before : line.after, c.kind, c.lookup ? QString() : c.picture);
    if (!c.lookup || text.isEmpty())
        return text;
    // A dependent lookup's rows are those of its source's value at the time.
    QString filter;
    if (!c.source.isEmpty())
        filter = historyValueText(before ? line.sourceBefore : line.sourceAfter, column(c.source).kind, QString());
    if (const auto shown = m_calls.lookups(filter).known(c.lookup, text))
        return *shown;
    // Read once the event loop is back: a paint must not wait for the database.
    if (m_wanted.isEmpty())
        QTimer::singleShot(0, const_cast<HistoryModel *>(this), &HistoryModel::readWanted);
    m_wanted.append({c.lookup, text, filter});
    return text;
}

void HistoryModel::readWanted()
{
    const auto wanted = std::exchange(m_wanted, {});
    for (const Wanted &w : wanted) {
        try {
            m_calls.lookups(w.filter).shown(w.campo, w.code);
        } catch (const DataError &) {
            // A table that cannot be read: its codes show alone.
        }
    }
    if (!wanted.isEmpty() && rowCount() > 0)
        emit dataChanged(index(0, Prima), index(rowCount() - 1, Dopo), {Qt::DisplayRole});
}

QVariant HistoryModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_lines.size() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return QVariant();
    const HistoryLine &l = m_lines.at(index.row());
    switch (index.column()) {
    case Quando: return l.when.toLocalTime().toString(QStringLiteral("dd/MM/yyyy hh:mm:ss"));
    case Utente: return l.user;
    case Azione:
        return historyActionText(l.action);
    case Campo: return column(l.column).caption;
    case Prima: return valueText(l, true);
    case Dopo: return valueText(l, false);
    default: return QVariant();
    }
}

QVariant HistoryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case Quando: return nxTr("Quando");
    case Utente: return nxTr("Utente");
    case Azione: return nxTr("Azione");
    case Campo: return nxTr("Campo");
    case Prima: return nxTr("Prima");
    case Dopo: return nxTr("Dopo");
    default: return QVariant();
    }
}

bool HistoryModel::canFetchMore(const QModelIndex &parent) const
{
    return !parent.isValid() && !m_end;
}

void HistoryModel::fetchMore(const QModelIndex &parent)
{
    if (!canFetchMore(parent))
        return;
    m_end = true; // until the page is read: a view asking again meanwhile reads nothing
    QList<HistoryEntry> entries;
    try {
        entries = readHistory(*m_connection, m_query);
    } catch (const DataError &e) {
        if (readFailed)
            readFailed(e);
        return;
    }
    const QList<HistoryLine> lines = linesOf(entries);
    if (!entries.isEmpty()) {
        m_query.beforeId = entries.constLast().id;
        m_query.beforeWhen = entries.constLast().when;
    }
    m_end = entries.size() < m_query.limit;
    if (lines.isEmpty())
        return;
    beginInsertRows(QModelIndex(), int(m_lines.size()), int(m_lines.size() + lines.size() - 1));
    m_lines += lines;
    endInsertRows();
}

QList<HistoryLine> HistoryModel::linesOf(const QList<HistoryEntry> &entries)
{
    QList<HistoryLine> lines;
    for (const HistoryEntry &e : entries) {
        // The sources before the change: those it changed as they were, the others as after it.
        QHash<QString, QVariant> before = m_sources;
        for (const HistoryChange &c : e.changes)
            if (before.contains(c.column.toUpper()))
                before.insert(c.column.toUpper(), c.before);
        for (const HistoryChange &c : e.changes) {
            // A row inserted or deleted: the fields it had a value in.
            if (e.action != u'U' && (e.action == u'I' ? c.after : c.before).isNull())
                continue;
            HistoryLine line{e.id, e.when, e.user, e.action, c.column, c.before, c.after, {}, {}};
            if (const QString source = column(c.column).source.toUpper(); !source.isEmpty()) {
                line.sourceBefore = before.value(source);
                line.sourceAfter = m_sources.value(source);
            }
            lines << line;
        }
        m_sources = before; // the next entry is older
    }
    return lines;
}

} // namespace Norvix
