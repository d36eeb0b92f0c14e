#pragma once

// The history of a table's rows as `norvix history` prints it (see docs/history.md), read from
// NORVIX_STORIA (session/history.h) newest first, a page at a time, so that a history of any
// length streams without being held.
//
// Text: a header line, then one line for each column an entry recorded, its cells separated by
// tabs: when (local time, dd/mm/yyyy hh:mm:ss), user, action (Inserito, Modificato, Eliminato),
// key (its values separated by commas, as --key takes them), field, before, after. With a
// descriptor the field is its caption, otherwise the column's name; the values are shown by the
// listing's valueText (the program's: as the editor shows them, in the field's picture). A line break or a tab inside a value shows
// as \n or \t.
//
// JSON: one object per entry and per line (JSON Lines): {"id", "table", "key", "action" (I, U or
// D), "user", "when" (UTC, ISO 8601 to the millisecond), "fields"}, with "key" and "fields"
// written as the history stores them (every digit of a number kept).

#include "platform/sqlnames.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace Norvix {

class Connection;
class Rec;

// A value as the user reads it: of a column of `kind`, in a field's display picture (blank: none).
using ValueText = std::function<QString(const QVariant &value, ColumnKind kind, const QString &picture)>;

struct HistoryListing
{
    QString table;                  // as the history names it: the record's name
    std::shared_ptr<Rec> record;    // when given, its primary index is the key, and its fields'
                                    // captions and pictures show the values; otherwise the key is
                                    // the table's primary key
    std::optional<QStringList> key; // one row: its key's values as typed, one for each key column
    QDateTime since;                // when valid: the entries from then on only
    bool json = false;
    int pageSize = 500;
    ValueText valueText;            // the text's values (none: their plain text)
};

// Prints the entries the listing selects through `out`, newest first, and returns how many it
// printed. Throws Error when the key's values do not match the key's columns, DataError when the
// history cannot be read.
qint64 printHistory(Connection &connection, const HistoryListing &listing,
                    const std::function<void(const QByteArray &)> &out);

// A moment as a command line gives it, in local time unless it says its zone: ISO 8601
// (2026-12-01, 2026-12-01T10:00, 2026-12-01T10:00:00Z) or dd/mm/yyyy with an optional time
// (01/12/2026 10:00). None when the text is no such moment.
std::optional<QDateTime> commandLineMoment(const QString &text);

} // namespace Norvix
