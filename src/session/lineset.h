#pragma once

// The lines of one detail of a master row (an order's lines): the rows of a child table whose
// link columns equal the master row's, and the changes made to them until the master is saved.
// Nothing is written until then: the master's save writes the lines it holds (deleted, changed,
// added) in the same transaction as the master row (RowSession::save), so either all of them are
// stored or none.
//
// Lines are known by an id. A stored line gets one when it is first taken in hand (take): its
// row is read then, and that reading is what the save checks it against (optimistically, as the
// master row: another user's change since makes the save a conflict). A new line gets one when it
// is added; its link columns take the master's values when it is written (a number the database
// gives the master included).

#include "descriptor/descriptor.h"
#include "platform/dataerror.h"
#include "platform/recordset.h"
#include "session/history.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <map>
#include <memory>
#include <optional>

namespace Norvix {

// The child table of a detail and how its rows hang on the master.
struct DetailLink
{
    int number = 1;            // the detail's number in the master's record
    QString table;             // the child table
    QStringList keyColumns;    // its key (the child record's primary index)
    QStringList masterColumns; // the link, pair by pair
    QStringList childColumns;
    std::shared_ptr<Rec> record; // the child's fields and their rules (none: nothing checked)
};

// A line's write that failed: which line, which column (may be empty), and why.
struct LineFailure
{
    int detail = 0;
    int line = -1;
    QString column;
    bool invalid = false; // a value breaks its field's rules or the column cannot take it
    DataError error;
};

class LineSet
{
public:
    LineSet() = default;
    LineSet(const LineSet &) = delete;
    LineSet &operator=(const LineSet &) = delete;

    // The lines of `link` on `connection` (the master's writer). No master row yet.
    void attach(std::shared_ptr<Connection> connection, DetailLink link);
    const DetailLink &link() const { return m_link; }
    // Who makes the changes: named in the history of a child record that keeps one.
    void setUser(const QString &user) { m_user = user; }
    std::shared_ptr<Connection> connection() const { return m_connection; }
    std::shared_ptr<const TableInfo> table() const;

    // The master row whose lines these are, by the values of its link columns; empty for a new
    // master not saved yet (no stored lines). Drops every change.
    void setMaster(const QVariantList &linkValues);
    const QVariantList &master() const { return m_master; }
    // The condition on the child table that selects the master's lines, its values bound to the
    // "?" (for the readers of the grid); "1 = 0" for a new master.
    QString condition(QVariantList &values) const;

    // A stored line taken in hand for change or deletion: its row read as stored now. The id of
    // a line already in hand is returned again. DataError when the row cannot be read; RowChanged
    // when it is gone.
    int take(const QVariantList &key);
    // The id of the stored line with `key` in hand, or -1.
    int idOf(const QVariantList &key) const;
    // The key of a stored line in hand (empty for a new line).
    QVariantList keyOf(int id) const;
    // A new line; its id.
    int add();
    // The new lines, in the order they were added (dropped ones left out).
    QList<int> added() const;
    bool isNew(int id) const;

    // `value` (a control's text, a number, a date, a Boolean) as the child's `column` takes it.
    // DataError ConversionFailed when it is no such value.
    QVariant typed(const QString &column, const QVariant &value) const;
    // The value the save writes into `column` of line `id` (typed).
    void setValue(int id, const QString &column, const QVariant &value);
    // The value set for `column` of line `id`, if any.
    std::optional<QVariant> valueSet(int id, const QString &column) const;
    // The value of `column` of line `id`: the one set, else as read (a new line: null).
    QVariant value(int id, const QString &column) const;
    // The value of `column` of stored line `id` as it was read (null for a new line).
    QVariant readValue(int id, const QString &column) const;
    // The stored row of line `id` as it is now, read on its own (nullptr when it is gone).
    std::unique_ptr<Recordset> storedNow(int id) const;
    // The answers to a conflict on line `id`: its changes dropped (the line as stored shows), or
    // kept and written over the row as stored now (inserted again under its key when it is gone).
    void drop(int id);
    void retake(int id);
    // A stored line is deleted by the save; a new line is dropped now.
    void remove(int id);
    bool isRemoved(int id) const;
    // The first column of line `id` whose value breaks its field's rules (empty: none).
    QString invalidColumn(int id) const;

    bool hasChanges() const;
    // The lines added or changed (not removed), in id order.
    QList<int> changedLines() const;
    // Drops every change: the lines as stored stay.
    void cancel();

    // Inside the master's transaction, after its row is written (`master`: the row as stored):
    // deletes, updates and inserts the lines. Throws LineFailure; the lines' state is kept as it
    // was until committed() or rolledBack().
    void write(const Recordset &master);
    // Inside the master's transaction, before its row is deleted: deletes every line of it (one
    // by one, each recorded, when the child record keeps history). Throws LineFailure.
    void removeAll();
    // After the transaction: the changes are stored (committed) or not (rolledBack).
    void committed();
    void rolledBack();

private:
    struct Line
    {
        std::unique_ptr<Recordset> row; // a stored line: its row as read; null for a new one
        QVariantList key;
        QList<QPair<QString, QVariant>> values;
        bool removed = false;
        std::optional<Recordset::State> before; // while a transaction writes it
    };
    Line *line(int id);
    const Line *line(int id) const;
    void writeLine(int id, Line &l, const QVariantList &linkValues);
    // The counters of new line `id` left empty, numbered on the adder (AUTOINC fields).
    void numberLine(int id, const QVariantList &link);
    [[noreturn]] void fail(int id, const QString &column, const DataError &error, bool invalid = false) const;

    std::shared_ptr<Connection> m_connection;
    DetailLink m_link;
    QString m_user;
    QVariantList m_master;
    std::map<int, Line> m_lines;
    QMap<QString, int> m_ids; // a stored line's key as text -> id
    RowKeys m_keys;     // for removeAll: they outlive its writer, whose refusal is explained
    RowInHand m_noRow;  // after the rollback
    std::unique_ptr<Recordset> m_adder; // inserts the new lines, while a transaction writes them
    int m_next = 1;
};

} // namespace Norvix
