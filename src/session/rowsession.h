#pragma once

// One edited row of one table, without a window: the row in hand (a recordset over the table or
// over one row of it), the values typed for it, their checks, and its save, delete and cancel.
// What a write came to is returned as data (RowOutcome); observers hear when the row in hand is
// replaced and when it is written. The editor window is one observer and drives it; tests drive
// it alone. The session opens no connection: it is given one (attach).
//
// Values are typed once, where they are typed: typed() reads a control's text as the column takes
// it (a whole number, a decimal number as exact digits, a date, a Boolean, a text, null), under
// the regional settings, and the save binds that value as it is.

#include "descriptor/descriptor.h"
#include "platform/dataerror.h"
#include "platform/recordset.h"
#include "session/history.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>

namespace Norvix {

class LineSet;
struct LineFailure;
class RowSession;

// Values by column, in the order they were set; a column's letter case is ignored.
using ColumnValues = QList<QPair<QString, QVariant>>;
// Sets `column`'s value in `values`, or adds it.
void setColumnValue(ColumnValues &values, const QString &column, const QVariant &value);
// `column`'s value in `values`, if one was set.
std::optional<QVariant> columnValue(const ColumnValues &values, const QString &column);

// What a save or a delete came to.
struct RowOutcome
{
    enum class Kind {
        Done,     // written
        Invalid,  // a value breaks the field's rules, or the column cannot take it: nothing written
        Refused,  // the database refused, or a lock, a time limit, a full disk stopped it
        Conflict, // another user changed or deleted the row since it was read
        Lost,     // the connection went while the write committed: its outcome is to be settled
    };
    Kind kind = Kind::Done;
    std::optional<DataError> error; // Refused, Conflict, Lost; Invalid when the column refused
    QString column;                 // Invalid: the column concerned
    QVariantList key;               // Done: the key of the row as stored (a save), when known
    int detail = 0;                 // a line's write failed: its detail's number (0: the row's own)
    int line = -1;                  // and the line's id in that detail's LineSet

    bool done() const { return kind == Kind::Done; }
};

enum class RowWrite { Added, Changed, Deleted };

// Told what happens to the row of a session.
class RowObserver
{
public:
    virtual ~RowObserver() = default;
    // Another row is in hand (opened, read again, a new row started, changes dropped).
    virtual void rowReplaced(const RowSession &) {}
    // The row was written.
    virtual void rowWritten(const RowSession &, RowWrite) {}
};

class RowSession
{
public:
    RowSession() = default;
    ~RowSession();
    RowSession(const RowSession &) = delete;
    RowSession &operator=(const RowSession &) = delete;

    // The rows of `table` on `connection`, ordered and identified by `keyColumns`; `record`
    // gives the fields' rules (none: no field is checked).
    void attach(std::shared_ptr<Connection> connection, const QString &table, const QStringList &keyColumns,
                std::shared_ptr<Rec> record = {});
    // Who makes the changes, named in the history of a record that keeps one (STORIA): the
    // operating system's user until set.
    void setUser(const QString &user);
    // Whether the record keeps history: every save and delete records its change (history.h) in
    // the change's transaction, and a change whose history cannot be written is refused.
    bool keepsHistory() const { return m_record && m_record->Storia(); }
    // Closes the row in hand; the connection is left to its owner.
    void detach();
    std::shared_ptr<Connection> connection() const { return m_connection; }
    QString tableName() const { return m_table; }
    QStringList keyColumns() const { return m_keyColumns; }
    std::shared_ptr<const TableInfo> table() const;

    // The row in hand (none before the first open).
    Recordset *recordset() const { return m_recordset.get(); }
    // Puts a recordset over `source` in hand (`adding`: a new row started on it); observers hear
    // of it.
    Recordset &open(const RecordSource &source, CursorIntent intent, bool adding = false);
    // The one in hand opened again over its own source (the whole table before the first open).
    Recordset &reopen(CursorIntent intent);
    // The row of `key` opened for change; a new row over the whole table.
    Recordset &load(const QVariantList &key) { return open(rowOf(key), CursorIntent::Change); }
    Recordset &startNew();
    bool adding() const { return m_recordset && m_recordset->editMode() == EditMode::Add; }
    RecordSource wholeTable() const { return RecordSource::wholeTable(m_table); }
    RecordSource rowOf(const QVariantList &key) const;
    // The row of `key` as it is stored now, read on its own (at its end when it is gone).
    std::unique_ptr<Recordset> readRow(const QVariantList &key) const;

    // `value` (a control's text, a number, a date, a Boolean) as `column` takes it. DataError
    // ConversionFailed when it is no such value.
    QVariant typed(const QString &column, const QVariant &value) const;
    // The value the next save writes into `column` (typed: see typed()).
    void setValue(const QString &column, const QVariant &value);
    const QList<QPair<QString, QVariant>> &values() const { return m_values; }
    void clearValues() { m_values.clear(); }
    // The first column whose value breaks its field's rules (empty: none).
    QString invalidColumn() const;

    // Writes the values set into the row in hand (a new row: inserted), in one transaction.
    RowOutcome save();
    // The user's answer to a conflict: the values set written over the row in hand as it is
    // stored now, which must still be `seen` (else Conflict again), or inserted again when it is
    // gone (`seen` null).
    RowOutcome overwrite(const Recordset *seen);
    // Deletes the row in hand; with `seen`, the row as stored now, which must still be that one.
    RowOutcome remove(const Recordset *seen = nullptr);
    // Drops the values set and a pending change: the row as stored now stays in hand.
    void cancel();

    // Lines written with the row (a detail's; not owned): a save writes their changes in the
    // same transaction as the row, a delete deletes them first, in the delete's.
    void addLines(LineSet *lines);
    void removeLines(LineSet *lines);
    // Whether a detail's lines hold changes.
    bool linesChanged() const;
    // The lines follow the row in hand: those of its link's values (none for a new row). A
    // detail whose master that is already keeps its changes unless `drop`. True when any detail
    // changed: its changes are dropped. A row put in hand (open) drops them always; the editor
    // calls it when it shows a row the recordset moved to.
    bool linesFollow(bool drop = false);

    void addObserver(RowObserver *observer);
    void removeObserver(RowObserver *observer);

private:
    // Writes m_values and updates; the outcome of a failure.
    RowOutcome write(bool adding);
    RowOutcome failed(const DataError &error, bool adding) const;
    RowOutcome failed(const LineFailure &failure) const;
    // The first line whose value breaks its field's rules, as an outcome.
    std::optional<RowOutcome> invalidLine() const;

    // Back on the stored row of the one in hand; false when it is no longer `seen`.
    bool backOn(const Recordset &seen);
    void tell(const std::function<void(RowObserver &)> &what) const;

    std::shared_ptr<Connection> m_connection;
    QString m_table;
    QStringList m_keyColumns;
    std::shared_ptr<Rec> m_record;
    std::unique_ptr<Recordset> m_recordset;
    QList<QPair<QString, QVariant>> m_values;
    QList<RowObserver *> m_observers;
    QList<LineSet *> m_lines;
    QString m_user = systemUserName();
};

} // namespace Norvix
