#pragma once

// The history of a table's rows: one row of NORVIX_STORIA for every insert, change and delete
// made through a session whose record keeps history, written in the same transaction as the
// change (so a change is stored with its history row or not at all).
//
// NORVIX_STORIA(ID, TABELLA, CHIAVE, AZIONE, UTENTE, QUANDO, CAMPI) is created in the database
// when first needed, inside the transaction of the first write:
//  - ID: a number the database gives (SQLite INTEGER PRIMARY KEY, PostgreSQL bigint identity);
//  - TABELLA: the table as the record names it;
//  - CHIAVE: the row's key values as a JSON array ([12], ["A", 3]);
//  - AZIONE: I (inserted), U (changed) or D (deleted);
//  - UTENTE: who made the change;
//  - QUANDO: when, in UTC to the millisecond (SQLite: ISO 8601 text "2026-12-07T18:40:01.123Z";
//    PostgreSQL timestamptz);
//  - CAMPI: a JSON object by column (named as the record's field). U: {"COL": [old, new]} for the columns whose stored value
//    changed; I: {"COL": new} for every column of the row as stored; D: {"COL": old}, the whole
//    row as it was.
// An index on (TABELLA, CHIAVE, QUANDO, ID) reads one row's history newest first, page by page.
//
// Values are the stored values: numbers as JSON numbers with their exact digits (an 18-digit
// whole number or a decimal with trailing zeros stays as stored), Booleans as true/false, dates
// as ISO text ("2024-03-01", "2024-03-01T10:15:00", "10:15:00"), binary data as base64 text,
// null as null. On PostgreSQL the columns are jsonb, whose numbers are exact too.

#include "descriptor/descriptor.h"
#include "platform/connection.h"
#include "platform/sqlnames.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QVariant>

#include <optional>

namespace Norvix {

class Recordset;

// The history table's name, as created (PostgreSQL folds it to lower case).
inline constexpr char16_t kHistoryTable[] = u"NORVIX_STORIA";

// One column of a history entry: its value before and after (I: before null; D: after null).
struct HistoryChange
{
    QString column;
    QVariant before;
    QVariant after;
};

struct HistoryEntry
{
    qint64 id = 0;
    QString table;
    QVariantList key;
    QChar action; // 'I', 'U' or 'D'
    QString user;
    QDateTime when; // UTC
    QList<HistoryChange> changes;
    QString keyJson, fieldsJson; // CHIAVE and CAMPI as stored
};

// "Inserito", "Modificato" or "Eliminato" for an action I, U or D.
QString historyActionText(QChar action);

// Values as history keeps them: `value` of a column of `kind` as JSON text, and back. A number is
// read back as qint64 when it is whole and fits, otherwise as its digits (QString) so that no digit
// is lost; every other value as the JSON gives it (text, bool, null).
QString historyJson(const QVariant &value, ColumnKind kind);
QString historyKeyJson(const QVariantList &key, const QList<ColumnKind> &kinds);
std::optional<QVariant> parseHistoryJson(const QString &json);

// Records the changes of one table's rows on one connection by one user. Its writes belong inside
// a transaction that also writes the change (writeTogether, rowwriter.h): a failure throws
// JoinedFailure, explained after the rollback as a DataError that says the history could not be
// written.
class HistoryWriter
{
public:
    // `record` names the columns in CAMPI as its fields spell them (the database's spelling for
    // columns it has no field for), so that the history reads alike on every back end.
    HistoryWriter(std::shared_ptr<Connection> connection, QString table, QString user, std::shared_ptr<Rec> record = {});
    // The writer of `record`'s rows of `table` (named as historyName() gives it); none when the
    // record keeps no history.
    static std::optional<HistoryWriter> of(std::shared_ptr<Connection> connection, const QString &table,
                                           const QString &user, const std::shared_ptr<Rec> &record);

    // Writes the pending row of `rs` (Recordset::Update) and records it: I for a new row, U for a
    // change (nothing when no stored value changed).
    void update(Recordset &rs) const;
    // Deletes the row in hand of `rs` (Recordset::Delete) and records it (D).
    void remove(Recordset &rs) const;

private:
    // The entry itself, inside the transaction; creates the table when the database has none.
    void record(QChar action, const QVariantList &key, const QList<ColumnKind> &keyKinds,
                const QList<HistoryChange> &changes, const QList<ColumnKind> &kinds) const;
    QString columnName(const QString &column) const;

    std::shared_ptr<Connection> m_connection;
    QString m_table;
    QString m_user;
    std::shared_ptr<Rec> m_record;
};

// The name history gives `table`: as `record` spells it (RECORD line), else as opened.
QString historyName(const Rec &record, const QString &table);

// Whether the database has a history table (false for a database that never recorded one).
bool hasHistory(const Connection &connection);

// What a history read selects.
struct HistoryQuery
{
    QString table;
    std::optional<QVariantList> key; // one row's history (its key's values); none: the table's
    QList<ColumnKind> keyKinds;      // the kinds of the key's columns
    QDateTime since;                 // when valid: entries at or after it only
    // Paging, newest first: the entries after this one (0: from the newest). One row's entries
    // come by QUANDO, then ID, through the index; a whole table's by ID (the order they were
    // recorded), which needs no sort of them all.
    qint64 beforeId = 0;
    QDateTime beforeWhen;
    int limit = 200;
};

// The entries the query selects, newest first, with their CAMPI's columns in the table's column
// order. Empty when the database has no history table. Throws DataError when it cannot be read.
QList<HistoryEntry> readHistory(Connection &connection, const HistoryQuery &query);

// The user name of the operating system's session (USER, USERNAME, LOGNAME, else the account's
// own name), "" when none is known.
QString systemUserName();

} // namespace Norvix
