#pragma once

// A cursor over the rows of one table, moved one row at a time with keyed queries.
//
// Rows are ordered by the record's key columns (the descriptor's primary index), or, when none
// is given, by the table's own primary key, or by its natural order (rowid in SQLite, the row's
// physical position in PostgreSQL). Every move, Find and bookmark is one query that fetches one
// row and leaves no statement open, so a table of millions of rows costs what a small one does.
//
// Changes are optimistic: nothing is locked while a row is shown. Update and Delete of an existing
// row run in one transaction and name, besides the key, the values the row had when it was read
// (PostgreSQL: the row version); when no row matches, someone else changed or deleted it, the
// data layer reports DataError::RowChanged and nothing is overwritten.

#include "platform/connection.h"
#include "platform/rowwriter.h"
#include "platform/sqlnames.h"
#include "platform/typedvalue.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <QVariant>

#include <memory>

namespace Norvix {

// What a recordset reads: a table, optionally narrowed to the rows whose columns equal values.
struct RecordSource
{
    QString table;
    QList<QPair<QString, QVariant>> equals;

    static RecordSource wholeTable(const QString &table) { return RecordSource{table, {}}; }
    // The row of `table` whose key columns hold `key`.
    static RecordSource rowOf(const QString &table, const QStringList &keyColumns, const QVariantList &key);
    bool isWholeTable() const { return equals.isEmpty(); }
    // "TABLE" or "TABLE WHERE A = 1 AND B = 'x'" (for messages, never run as SQL).
    QString text() const;
};

enum class CursorIntent { Read, Change };
enum class EditMode { None = 0, InProgress = 1, Add = 2 };

struct Field
{
    QString Name;
    ColumnKind Type = ColumnKind::Other;
    QVariant Value; // a null QVariant for NULL, distinct from an empty text
    bool isBoolean() const { return Type == ColumnKind::Boolean; }
};

class Recordset
{
public:
    // Opens the recordset and moves to its first row (Eof() when there is none). `keyColumns`
    // are the columns that order the rows and identify one (the descriptor's primary index).
    // Throws DataError when the table, a column or the query fails.
    Recordset(std::shared_ptr<Connection> connection, RecordSource source, QStringList keyColumns = {},
              CursorIntent intent = CursorIntent::Read);
    ~Recordset();
    Recordset(const Recordset &) = delete;
    Recordset &operator=(const Recordset &) = delete;

    const RecordSource &Source() const { return m_source; }
    CursorIntent intent() const { return m_intent; }
    std::shared_ptr<const TableInfo> table() const { return m_table; }
    std::shared_ptr<Connection> connection() const { return m_connection; }
    // The columns that order the rows, as the database spells them; empty for the natural order.
    QStringList orderColumns() const { return m_keys.columns; }

    bool Eof() const { return m_position == Position::AfterLast; }
    bool Bof() const { return m_position == Position::BeforeFirst; }
    bool hasCurrentRow() const { return m_position == Position::OnRow; }

    // Moving past an end (MoveNext at Eof, MovePrevious at Bof) throws DataError::NoCurrentRow.
    // A pending change is dropped by a move.
    void MoveFirst();
    void MoveLast();
    void MoveNext();
    void MovePrevious();

    // From the current row forward (inclusive), the first row whose columns equal the given
    // values; Eof() when none does. Values are converted to the columns' types.
    bool Find(const QList<QPair<QString, QVariant>> &criteria);

    // The position of the current row: its key values. Setting it moves to that row; a row that
    // no longer exists throws DataError::NoCurrentRow.
    QVariantList Bookmark() const;
    void setBookmark(const QVariantList &bookmark);

    int fieldCount() const;
    Field field(int index) const;
    Field field(const QString &name) const;
    QVariant value(const QString &name) const { return field(name).Value; }

    // Sets a column of the current or the new row; texts are read under the regional settings
    // (decimal comma, day/month/year dates), an empty text writes NULL. Throws DataError when the
    // value cannot be converted to the column's type, or is a text holding a NUL character (no
    // database keeps one the same way).
    void setValue(const QString &name, const QVariant &value);

    void AddNew();
    // Writes the pending row. A refused new row keeps EditMode::Add and its values; the error
    // (DataError) reaches the caller.
    void Update();
    void CancelUpdate();
    // Deletes the current row; afterwards there is no current row until a move.
    void Delete();
    EditMode editMode() const { return m_editMode; }

    void Close();

private:
    enum class Position { BeforeFirst, OnRow, AfterLast, Deleted };

public:
    // The row in hand and its mode, put back when a transaction that wrote it was rolled back
    // (writeTogether).
    struct State
    {
        Position position;
        RowInHand row;
        EditMode mode;
    };
    State state() const { return State{m_position, m_row, m_editMode}; }
    void restore(const State &state);

private:

    QString selectSql(const QString &extraWhere, bool descending) const;
    void step(bool forward);
    void leaveRows(Position where);
    bool fetchOne(const QString &extraWhere, const QVariantList &extraValues, bool descending);
    void requireWritable() const;
    void requireRow() const;
    void reloadByKey(const QVariantList &key);
    RowWriter writer() const { return RowWriter(m_connection, m_table, m_keys, m_row); }

    std::shared_ptr<Connection> m_connection;
    RecordSource m_source;
    CursorIntent m_intent;
    std::shared_ptr<const TableInfo> m_table;
    RowKeys m_keys;

    Position m_position = Position::BeforeFirst;
    RowInHand m_row;
    EditMode m_editMode = EditMode::None;
};

} // namespace Norvix
