#pragma once

// The history of one row as the viewer lists it (FrmStoria's LstStoria): one line per field an
// entry changed, newest first, read from NORVIX_STORIA a page of entries at a time (the view asks
// for the next page as it scrolls), with the values in their fields' display pictures and a
// lookup's code as "[code] description".

#include "descriptor/descriptor.h"
#include "platform/sqlnames.h"
#include "session/history.h"

#include <QAbstractTableModel>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QPair>

#include <functional>
#include <memory>

namespace Norvix {

class Connection;
class DataError;
class DetailLookups;

// How a column of the row is shown: its field's caption (the column's name when the record has
// no such field), its kind, its display picture, and its field when it is a lookup (with the
// column whose value lists its rows, for a dependent one).
struct HistoryColumn
{
    QString caption;
    ColumnKind kind = ColumnKind::Other;
    QString picture;
    CampoPtr lookup;
    QString source;
};

// One line of the list: a field an entry changed.
struct HistoryLine
{
    qint64 entry = 0;
    QDateTime when; // UTC
    QString user;
    QChar action; // 'I', 'U' or 'D'
    QString column;
    QVariant before, after;
    // A dependent lookup's: the value of its source before and after the change.
    QVariant sourceBefore, sourceAfter;
    // A value before the change, which Ripristina can put back (an insert has none; a null is an
    // empty field).
    bool hasBefore() const { return action != u'I'; }
};

// A value as history keeps it (numbers as whole numbers or their digits, dates as ISO text) as
// a column of `kind` reads: a decimal as its exact digits, a double as a number.
QVariant historyValue(const QVariant &value, ColumnKind kind);
// That value as the editor shows it, in `picture`.
QString historyValueText(const QVariant &value, ColumnKind kind, const QString &picture);

class HistoryModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { Quando, Utente, Azione, Campo, Prima, Dopo, Columns };
    // Entries read at a time.
    static constexpr int kPage = 200;

    // What the model asks of the editor: how a column is shown, and the descriptions of a
    // lookup's codes (of its rows listed for the source's value `filter`, as typed).
    struct Calls
    {
        std::function<HistoryColumn(const QString &column)> columnOf;
        std::function<DetailLookups &(const QString &filter)> lookups;
    };
    // The entries `query` selects (one row's), read on `connection`. `sources`: the values the
    // row holds now in the sources of its dependent lookups, by column.
    HistoryModel(std::shared_ptr<Connection> connection, HistoryQuery query, Calls calls,
                 const QList<QPair<QString, QVariant>> &sources, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    // Reads the next page of entries. A read that fails ends the list, told through readFailed.
    void fetchMore(const QModelIndex &parent) override;

    const HistoryLine &line(int row) const { return m_lines.at(row); }
    // How the column of a line is shown.
    const HistoryColumn &column(const QString &name) const;
    // Told when a page cannot be read.
    std::function<void(const DataError &)> readFailed;

private:
    struct Wanted
    {
        CampoPtr campo;
        QString code, filter;
    };
    // The lines of the entries read, each change's sources of the time on its line.
    QList<HistoryLine> linesOf(const QList<HistoryEntry> &entries);
    QString valueText(const HistoryLine &line, bool before) const;
    // Reads the descriptions a paint wanted, then the lines show them.
    void readWanted();

    std::shared_ptr<Connection> m_connection;
    HistoryQuery m_query;
    Calls m_calls;
    mutable QHash<QString, HistoryColumn> m_columns; // by column, upper case
    // The sources' values after the entry to read next (going back from the row as it is now).
    QHash<QString, QVariant> m_sources; // by column, upper case
    QList<HistoryLine> m_lines;
    bool m_end = false;
    mutable QList<Wanted> m_wanted; // lookup codes to describe
};

} // namespace Norvix
