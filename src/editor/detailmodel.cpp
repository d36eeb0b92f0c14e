#include "editor/detailmodel.h"

#include "editor/columntext.h"
#include "editor/recordlist.h"
#include "editor/search.h"
#include "platform/language.h"
#include "platform/lookupsearch.h"
#include "platform/values.h"
#include "session/lineset.h"

#include <QTimer>

#include <algorithm>

namespace Norvix {

QString detailCellText(const QVariant &value, const DetailColumn &column)
{
    return columnValueText(value, column.kind, column.editor == DetailColumn::Editor::Check ? QString() : column.campo->Format());
}

// ---- lookups ---------------------------------------------------------------------------------

DetailLookups::Entry &DetailLookups::entry(const CampoPtr &campo)
{
    const QString name = campo->Nome().toUpper();
    auto it = m_entries.find(name);
    if (it != m_entries.end())
        return *it;
    Entry e;
    if (!campo->RecRif().isEmpty() && m_queryOf)
        e.query = m_queryOf(campo);
    return *m_entries.insert(name, std::move(e));
}

bool DetailLookups::has(const CampoPtr &campo)
{
    return entry(campo).query.has_value();
}

void DetailLookups::read(Entry &e)
{
    // A small table is read whole once; a large one a code at a time.
    if (e.read || !e.query)
        return;
    e.read = true;
    const QList<LookupRow> rows = lookupRows(*e.query, kLargeLookupRows + 1);
    e.large = rows.size() > kLargeLookupRows;
    if (e.large)
        return;
    for (const LookupRow &row : rows) {
        e.items << row.item;
        e.descriptions.insert(row.code, row.item);
    }
}

QString DetailLookups::shown(const CampoPtr &campo, const QString &code)
{
    Entry &e = entry(campo);
    if (!e.query || code.isEmpty())
        return code;
    read(e);
    auto it = e.descriptions.find(code);
    if (it == e.descriptions.end() && e.large) {
        QList<LookupRow> rows;
        try {
            rows = lookupRows(*e.query, 1, code, true);
        } catch (const DataError &) {
            // the code alone, not asked again
        }
        it = e.descriptions.insert(code, rows.size() == 1 && rows.constFirst().code == code ? rows.constFirst().item : QString());
    }
    return it == e.descriptions.end() || it->isEmpty() ? code : *it;
}

std::optional<QString> DetailLookups::known(const CampoPtr &campo, const QString &code) const
{
    const auto e = m_entries.constFind(campo->Nome().toUpper());
    if (code.isEmpty() || (e != m_entries.cend() && !e->query))
        return code;
    if (e == m_entries.cend() || !e->read)
        return std::nullopt;
    if (const auto d = e->descriptions.constFind(code); d != e->descriptions.cend())
        return d->isEmpty() ? code : *d;
    return e->large ? std::nullopt : std::optional<QString>(code);
}

bool DetailLookups::large(const CampoPtr &campo)
{
    Entry &e = entry(campo);
    read(e);
    return e.large;
}

QStringList DetailLookups::items(const CampoPtr &campo, const QString &typed)
{
    Entry &e = entry(campo);
    if (!e.query)
        return {};
    read(e);
    return e.large ? lookupItems(*e.query, kListedRows, typedCode(typed)) : e.items;
}

std::optional<QString> DetailLookups::codeOf(const CampoPtr &campo, const QString &text)
{
    const QString t = text.trimmed();
    Entry &e = entry(campo);
    if (t.isEmpty() || !e.query)
        return t;
    // An item, or a code typed.
    if (const QString code = typedCode(t); shown(campo, code) != code)
        return code;
    const LookupMatches found = searchLookup(*e.query, t, kListedRows);
    QList<LookupRow> whole;
    for (const LookupRow &row : found.rows) {
        if (row.code.compare(t, Qt::CaseInsensitive) == 0)
            return row.code;
        if (isWholeDescription(row, t))
            whole << row;
    }
    if (whole.size() == 1)
        return whole.constFirst().code;
    if (found.rows.size() == 1 && !found.more)
        return found.rows.constFirst().code;
    return std::nullopt;
}

// ---- the lines -------------------------------------------------------------------------------

DetailModel::DetailModel(LineSet &lines, std::shared_ptr<Connection> reader, QStringList keyColumns,
                         QList<DetailColumn> columns, DetailLookups &lookups, QObject *parent)
    : QAbstractTableModel(parent), m_lines(lines), m_reader(std::move(reader)), m_keyColumns(std::move(keyColumns)),
      m_columns(std::move(columns)), m_lookups(lookups)
{
    reload();
}

DetailModel::~DetailModel() = default;

int DetailModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : lineCount() + (m_readOnly ? 0 : 1);
}

int DetailModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant DetailModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return QVariant();
    const DetailColumn &c = m_columns.at(index.column());
    const bool check = c.editor == DetailColumn::Editor::Check;
    if (role == Qt::TextAlignmentRole && c.editor == DetailColumn::Editor::Number)
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    if (role == Qt::CheckStateRole && check)
        return Values::toBoolean(cellText(index.row(), index.column())).value_or(false) ? Qt::Checked : Qt::Unchecked;
    if ((role != Qt::DisplayRole && role != Qt::EditRole) || check)
        return QVariant();
    const QString text = cellText(index.row(), index.column());
    if (c.editor != DetailColumn::Editor::Lookup)
        return text;
    if (const auto shown = m_lookups.known(c.campo, text))
        return *shown;
    // Read once the event loop is back: a paint must not wait for the database.
    if (m_wanted.isEmpty())
        QTimer::singleShot(0, const_cast<DetailModel *>(this), &DetailModel::readWanted);
    m_wanted.append({c.campo, text});
    return text;
}

void DetailModel::readWanted()
{
    const auto wanted = std::exchange(m_wanted, {});
    for (const auto &[campo, code] : wanted) {
        try {
            m_lookups.shown(campo, code);
        } catch (const DataError &) {
            // A table that cannot be read: its codes show alone.
        }
    }
    if (!wanted.isEmpty() && rowCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1), {Qt::DisplayRole});
}

QVariant DetailModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Horizontal)
        return section >= 0 && section < m_columns.size() ? m_columns.at(section).campo->Desc() : QString();
    return isEmptyRow(section) ? QStringLiteral("*") : QString::number(section + 1);
}

Qt::ItemFlags DetailModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    const Qt::ItemFlags shown = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    const DetailColumn &c = m_columns.at(index.column());
    if (m_readOnly || c.editor == DetailColumn::Editor::None || (c.key && index.row() < storedRows()))
        return shown;
    return shown | (c.editor == DetailColumn::Editor::Check ? Qt::ItemIsUserCheckable : Qt::ItemIsEditable);
}

bool DetailModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    // A value set through the model (a script, an accessibility tool) is checked as one typed.
    if (!setCell || !index.isValid())
        return false;
    if (role == Qt::CheckStateRole && (flags(index) & Qt::ItemIsUserCheckable))
        return setCell(index, value.toInt() == Qt::Checked);
    if (role == Qt::EditRole && (flags(index) & Qt::ItemIsEditable))
        return setCell(index, value);
    return false;
}

void DetailModel::reload()
{
    m_removed.erase(std::remove_if(m_removed.begin(), m_removed.end(), [this](int id) { return !m_lines.isRemoved(id); }),
                    m_removed.end());
    ListFilter filter;
    QVariantList values;
    filter.where = m_lines.condition(values);
    if (const QString removed = removedCondition(values); !removed.isEmpty())
        filter.where = QStringLiteral("(%1) AND %2").arg(filter.where, removed);
    filter.values = values;
    filter.keyOrder = true;
    for (const DetailColumn &c : std::as_const(m_columns))
        filter.columns.append({c.name, c.campo->Desc(), c.editor == DetailColumn::Editor::Check ? QString() : c.campo->Format()});
    auto stored = std::make_unique<RecordListModel>(m_reader, m_lines.link().table, m_keyColumns, filter);
    beginResetModel();
    m_stored = std::move(stored);
    m_hidden.clear();
    m_new = m_lines.added();
    connectStored();
    endResetModel();
}

void DetailModel::liveRefresh(const std::function<bool()> &typing)
{
    const auto untouched = [this, typing] { return !m_lines.hasChanges() && m_new.isEmpty() && m_hidden.isEmpty() && !typing(); };
    if (!untouched() || !m_stored || m_stored->isLiveRefreshing())
        return;
    m_stored->liveRefresh(0, {}, [](int, int) {}, untouched);
}

QString DetailModel::removedCondition(QVariantList &values) const
{
    if (m_removed.isEmpty())
        return QString();
    const auto table = m_lines.table();
    QStringList lines;
    for (int id : m_removed) {
        const QVariantList key = m_lines.keyOf(id);
        QStringList equals;
        for (int k = 0; k < m_keyColumns.size() && k < key.size(); ++k) {
            equals << quoteIdentifier(table->column(m_keyColumns[k]).name) + QStringLiteral(" = ?");
            values << key[k];
        }
        lines << QStringLiteral("(%1)").arg(equals.join(QStringLiteral(" AND ")));
    }
    return QStringLiteral("NOT (%1)").arg(lines.join(QStringLiteral(" OR ")));
}

void DetailModel::connectStored()
{
    // The stored lines arrive a page at a time, then counted: they are passed on where they show.
    RecordListModel *s = m_stored.get();
    connect(s, &QAbstractItemModel::rowsAboutToBeInserted, this, [this](const QModelIndex &, int first, int last) {
        m_insertAt = shownRow(first);
        beginInsertRows(QModelIndex(), m_insertAt, m_insertAt + last - first);
    });
    connect(s, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex &, int first, int last) {
        for (int &h : m_hidden)
            h += h >= first ? last - first + 1 : 0;
        endInsertRows();
    });
    connect(s, &QAbstractItemModel::rowsAboutToBeRemoved, this, [this] { beginResetModel(); });
    connect(s, &QAbstractItemModel::rowsRemoved, this, [this](const QModelIndex &, int first, int last) {
        QList<int> hidden;
        for (int h : std::as_const(m_hidden))
            if (h < first || h > last)
                hidden << (h > last ? h - (last - first + 1) : h);
        m_hidden = hidden;
        endResetModel();
    });
    connect(s, &QAbstractItemModel::modelAboutToBeReset, this, [this] { beginResetModel(); });
    connect(s, &QAbstractItemModel::modelReset, this, [this] {
        m_hidden.clear();
        endResetModel();
    });
    connect(s, &QAbstractItemModel::dataChanged, this, [this](const QModelIndex &from, const QModelIndex &to) {
        const int first = shownRow(from.row()), last = std::min(shownRow(to.row()), rowCount() - 1);
        if (first <= last)
            emit dataChanged(index(first, 0), index(last, columnCount() - 1));
    });
}

void DetailModel::setReadOnly(bool readOnly)
{
    if (readOnly == m_readOnly)
        return;
    const int row = lineCount();
    if (readOnly)
        beginRemoveRows(QModelIndex(), row, row);
    else
        beginInsertRows(QModelIndex(), row, row);
    m_readOnly = readOnly;
    if (readOnly)
        endRemoveRows();
    else
        endInsertRows();
    if (rowCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1)); // their flags
}

int DetailModel::columnOf(const QString &name) const
{
    for (int i = 0; i < m_columns.size(); ++i)
        if (m_columns.at(i).name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

int DetailModel::lineCount() const
{
    return storedRows() + int(m_new.size());
}

bool DetailModel::isEmptyRow(int row) const
{
    return !m_readOnly && row == lineCount();
}

int DetailModel::storedRows() const
{
    return m_stored ? m_stored->rowCount() - int(m_hidden.size()) : 0;
}

int DetailModel::sourceRow(int row) const
{
    int source = row;
    for (int h : m_hidden) {
        if (h > source)
            break;
        ++source;
    }
    return source;
}

int DetailModel::shownRow(int source) const
{
    return source - int(std::lower_bound(m_hidden.cbegin(), m_hidden.cend(), source) - m_hidden.cbegin());
}

int DetailModel::lineFor(int row)
{
    if (row < storedRows()) {
        const QVariantList key = m_stored->keyAt(sourceRow(row));
        if (key.isEmpty())
            throw DataError(DataError::RowChanged, nxTr("La riga non esiste più: un altro utente l'ha eliminata."));
        return m_lines.take(key);
    }
    const int i = row - storedRows();
    if (i < m_new.size())
        return m_new.at(i);
    // The empty line becomes a new one, and another empty line follows it.
    const int id = m_lines.add();
    beginInsertRows(QModelIndex(), row + 1, row + 1);
    m_new << id;
    endInsertRows();
    return id;
}

int DetailModel::lineAt(int row) const
{
    if (row < storedRows()) {
        // As painting reads it: never waiting for a page.
        const QVariantList key = m_stored->data(m_stored->index(sourceRow(row), 0), RecordListModel::KeyRole).toList();
        return key.isEmpty() ? -1 : m_lines.idOf(key);
    }
    const int i = row - storedRows();
    return i < m_new.size() ? m_new.at(i) : -1;
}

int DetailModel::rowOf(int id) const
{
    if (const qsizetype i = m_new.indexOf(id); i >= 0)
        return storedRows() + int(i);
    const QVariantList key = m_lines.keyOf(id);
    if (key.isEmpty() || m_lines.isRemoved(id))
        return -1;
    const int source = m_stored->rowOfKey(key);
    return source < 0 || m_hidden.contains(source) ? -1 : shownRow(source);
}

QString DetailModel::cellText(int row, int column) const
{
    if (isEmptyRow(row))
        return QString();
    const DetailColumn &c = m_columns.at(column);
    const int id = lineAt(row);
    if (id >= 0 && (m_lines.isNew(id) || m_lines.valueSet(id, c.name)))
        return detailCellText(m_lines.value(id, c.name), c);
    if (row >= storedRows())
        return QString();
    return m_stored->data(m_stored->index(sourceRow(row), column)).toString();
}

QString DetailModel::editText(const QModelIndex &index) const
{
    const DetailColumn &c = m_columns.at(index.column());
    const int id = lineAt(index.row());
    const QString text = id >= 0 ? columnValueText(m_lines.value(id, c.name), c.kind) : cellText(index.row(), index.column());
    return c.editor == DetailColumn::Editor::Lookup && !text.isEmpty() ? m_lookups.shown(c.campo, text) : text;
}

void DetailModel::removeRows(QList<int> rows)
{
    std::sort(rows.begin(), rows.end(), std::greater<>());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (int row : std::as_const(rows)) {
        if (row < 0 || row >= lineCount())
            continue; // the empty line stays
        const bool stored = row < storedRows();
        const int source = stored ? sourceRow(row) : -1;
        const int id = lineFor(row);
        m_lines.remove(id);
        beginRemoveRows(QModelIndex(), row, row);
        if (stored) {
            m_removed << id;
            m_hidden.insert(std::lower_bound(m_hidden.begin(), m_hidden.end(), source) - m_hidden.begin(), source);
        } else {
            m_new.removeOne(id);
        }
        endRemoveRows();
    }
}

void DetailModel::lineChanged(int row)
{
    if (row >= 0 && row < rowCount())
        emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}

} // namespace Norvix
