#pragma once

// What the command buttons do to the row (CmdButton_Click): a new row, saving, dropping the
// changes, deleting, closing and moving, with the data errors explained (ErrorHandler) and the
// locks of the field controls (LoccaRecord, SETINDICI) that the modes set.

#include "editor/frmconflitto.h"

#include <QString>
#include <QVariantList>

namespace Norvix {

class DataError;
class FrmEditTabPrivate;
class Recordset;

class RowActions
{
public:
    explicit RowActions(FrmEditTabPrivate &d);

    void CmdButton_Click(int index);
    bool ErrorHandler(const DataError *error);
    void SCRIVIUMOD();
    QString SCRIVILAST();
    bool ControllaCancellazione();
    void LoccaRecord(bool locked);
    void SETINDICI(bool enabled);
    void MOVETO(const QVariantList &bookmark);
    // A read that failed: a lock, a time limit or a full disk told in words, any other error
    // with its number.
    void readFailed(const DataError &error);

private:
    void newRow();
    void save();
    // Writes the controls into the row in hand; false when a value the column cannot take
    // stopped it (the user has been told).
    bool writeControls(bool adding);
    // The save refused (or failed): the user is told why; the row stays as typed.
    void refused(const DataError &error);
    void dropChanges();
    void deleteRow();
    // After a delete: the last row shown, opened for change, or the empty table.
    void showAfterDelete();
    void moveRow(int index);
    // A refusal of the database (a constraint) told in words, with the focus on the field it
    // concerns, and a write stopped by a vanished file or a lock; false for any other error.
    bool explainRefusal(const DataError &error, bool deleting);
    void focusField(const QString &column);
    // A write conflict (conflicts.cpp): the row in hand was changed or deleted by another user
    // since it was read. FrmConflitto shows the differences and does what the user chooses;
    // true when the row was then saved (or deleted). Needs a row with a key.
    bool canResolveConflict() const;
    bool resolveConflict(bool deleting);
    // A save whose connection to the server was lost: reconnects, reads the row again and tells
    // the user whether the save landed (true) or not (the typed values stay for another try).
    bool resolveLostSave(bool adding);
    bool resolveLostDelete();
    // Every written field: caption, value read, value stored now (none: deleted), value typed.
    QList<FrmConflitto::Difference> conflictFields(const Recordset *stored) const;

    FrmEditTabPrivate &d;
};

} // namespace Norvix
