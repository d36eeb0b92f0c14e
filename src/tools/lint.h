#pragma once

// Checks descriptors against the database they describe, before any user opens an editor on
// them: a misspelled column, a type that cannot hold the column, a lookup on a missing table, a
// page or a control kind that does not exist, a key that the database does not keep unique.

#include <QList>
#include <QString>
#include <QStringList>

namespace Norvix {

class Connection;

struct LintFinding
{
    QString record;
    QString field;   // empty when the finding is about the record
    int line = 0;    // 1-based, in the descriptor text (or the row of a descriptor database)
    QString code;    // a short name of the kind of finding: "missing-column", ...
    QString message; // what is wrong and how to fix it
    bool hint = false; // advice that is no fault (an index that would serve a lookup better)
};

// Lints the records of descriptor `lines` (all of them, or those named in `records`) against
// `connection`'s database; `source` names the descriptors in loader messages. Each table's
// schema is read once. Only reads.
QList<LintFinding> lintDescriptors(Connection &connection, const QStringList &lines, const QString &source,
                                   const QStringList &records = {});

} // namespace Norvix
