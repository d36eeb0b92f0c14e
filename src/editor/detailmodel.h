#pragma once

// The lines of a detail as its grid shows them: the master's stored lines, read lazily (a search
// of the record list over the child table, in key order), with the changes a LineSet holds over
// them. Stored lines taken in hand show the values set, removed ones are hidden, new lines follow
// the stored ones, and an empty line comes last (unless read-only): a value accepted in it makes
// it a new line. And the descriptions of the lookup codes the cells show, cached.

#include "descriptor/descriptor.h"
#include "platform/lookupquery.h"
#include "platform/sqlnames.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QPair>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace Norvix {

class Connection;
class LineSet;
class RecordListModel;

// A column of the grid: a field of the child record, and the control its cells are edited with.
struct DetailColumn
{
    enum class Editor { None, Text, Number, Date, Check, Lookup };
    CampoPtr campo;
    QString name; // the field's (its column's) name
    ColumnKind kind = ColumnKind::Other;
    Editor editor = Editor::Text;
    bool key = false; // of the child's key: set on new lines only
};

// A value as a cell shows it: in the regional form, then in the field's display picture.
QString detailCellText(const QVariant &value, const DetailColumn &column);

// The lookup fields of the child: "[code] description" for a code, the items of the cell's
// combo, and the code a text typed there names. The descriptions read are kept.
class DetailLookups
{
public:
    using QueryOf = std::function<std::optional<LookupQuery>(const CampoPtr &)>;
    explicit DetailLookups(QueryOf queryOf) : m_queryOf(std::move(queryOf)) {}

    // The field lists a lookup (a referenced table and a query for it).
    bool has(const CampoPtr &campo);
    // "[code] description"; the code alone when the table has no such row (or cannot be read).
    QString shown(const CampoPtr &campo, const QString &code);
    // The same when it is known without reading (a paint never waits): none when it is still to
    // be read.
    std::optional<QString> known(const CampoPtr &campo, const QString &code) const;
    // The items a combo lists for the text typed: every row of a small table, the rows whose
    // code starts with the text of a large one. Throws DataError.
    QStringList items(const CampoPtr &campo, const QString &typed);
    // Over kLargeLookupRows rows: the combo lists what the text typed finds. Throws DataError.
    bool large(const CampoPtr &campo);
    // The code that `text` names: an item, a code, or the one description that matches it;
    // empty text: an empty code; none when it names no row, or more than one. Throws DataError.
    std::optional<QString> codeOf(const CampoPtr &campo, const QString &text);

    static constexpr int kListedRows = 100; // of a large table, listed at a time

private:
    struct Entry
    {
        std::optional<LookupQuery> query;
        bool read = false;  // its small table read whole into `items` and `descriptions`
        bool large = false;
        QStringList items;
        QHash<QString, QString> descriptions; // by code; empty: no such row
    };
    Entry &entry(const CampoPtr &campo);
    void read(Entry &e);
    QueryOf m_queryOf;
    QHash<QString, Entry> m_entries; // by field name
};

class DetailModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    DetailModel(LineSet &lines, std::shared_ptr<Connection> reader, QStringList keyColumns,
                QList<DetailColumn> columns, DetailLookups &lookups, QObject *parent = nullptr);
    ~DetailModel() override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    // A check box cell clicked: handed to `setCell`.
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    // Checks and sets a value the user gave a cell (a text, or a Boolean of a check box):
    // false when refused.
    std::function<bool(const QModelIndex &, const QVariant &)> setCell;

    // Reads the master's lines again; the lines the LineSet removed stay hidden, its new ones follow.
    void reload();
    // Others changed the child table: with no line changed here, the stored lines are read again
    // in place (see RecordListModel::liveRefresh); lines holding changes are never touched, nor
    // lines that got changes or are being typed (`typing`) once they are read.
    void liveRefresh(const std::function<bool()> &typing);
    void setReadOnly(bool readOnly);
    bool isReadOnly() const { return m_readOnly; }
    const DetailColumn &column(int column) const { return m_columns.at(column); }
    int columnOf(const QString &name) const; // -1: not shown
    // The lines shown, the empty one not counted.
    int lineCount() const;
    bool isEmptyRow(int row) const;
    // The line of `row` in the LineSet: a stored line is taken in hand, the empty row becomes a
    // new line. Throws DataError (the stored line is gone).
    int lineFor(int row);
    // The line of `row` if it is one in the LineSet (-1: a stored line not in hand, the empty row).
    int lineAt(int row) const;
    // The text a cell editor starts with: the line's value in the regional form (a lookup's
    // "[code] description").
    QString editText(const QModelIndex &index) const;
    // The row showing line `id`, -1 when none does.
    int rowOf(int id) const;
    // Removes the lines of `rows` (stored ones taken in hand first; the empty row stays).
    // Throws DataError.
    void removeRows(QList<int> rows);
    // The cells of `row` show its line's values again.
    void lineChanged(int row);
    RecordListModel *stored() const { return m_stored.get(); }

private:
    void connectStored();
    // Reads the descriptions wanted, then the cells show them.
    void readWanted();
    int storedRows() const;
    int sourceRow(int row) const;
    int shownRow(int source) const;
    QString cellText(int row, int column) const;
    QString removedCondition(QVariantList &values) const; // the removed stored lines left out

    LineSet &m_lines;
    std::shared_ptr<Connection> m_reader;
    QStringList m_keyColumns;
    QList<DetailColumn> m_columns;
    DetailLookups &m_lookups;
    std::unique_ptr<RecordListModel> m_stored;
    QList<int> m_hidden;  // stored rows removed since the lines were read, ascending
    // Lookup descriptions a paint wanted, read from the event loop (see data()).
    mutable QList<QPair<CampoPtr, QString>> m_wanted;
    QList<int> m_new;     // the new lines, in order
    QList<int> m_removed; // the stored lines removed (ids)
    int m_insertAt = 0;   // where the stored rows being inserted show
    bool m_readOnly = false;
};

} // namespace Norvix
