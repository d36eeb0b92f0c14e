#pragma once

// What the command buttons do to the row (CmdButton_Click): a new row, saving, dropping the
// changes, deleting, closing and moving, with the data errors explained (ErrorHandler) and the
// locks of the field controls (LoccaRecord, SETINDICI) that the modes set. The row itself is
// written by the editor's RowSession: this part hands it the typed values of the controls and
// tells the user what a write came to.

#include "editor/frmconflitto.h"
#include "platform/connection.h"
#include "session/rowsession.h"

#include <QString>
#include <QVariantList>

#include <functional>
#include <optional>
#include <utility>

class QWidget;

namespace Norvix {

class CommandPanel;
class DataError;
class FieldControl;
class FieldSet;
class RecordListPane;
class Recordset;
class WindowLayout;
struct EditorState;

class RowActions : public RowObserver
{
public:
    // What the row actions ask of the editor as a whole.
    struct Calls
    {
        std::function<void()> showRecord, clearFields, setNeutral, setNew, formatAll, closeWindow;
        std::function<bool()> checkAll; // every field, before a save; false when one was reported
        std::function<bool()> closed;   // not started, or closed meanwhile
        // A save stopped by a line of a detail: told; true when it is to be run again.
        std::function<bool(const RowOutcome &)> lineFailed;
    };
    // The parts it works with.
    struct Parts
    {
        QWidget &window;
        EditorState &state;
        RowSession &session;
        FieldSet &fields;
        WindowLayout &layout;
        RecordListPane &list;
        CommandPanel &panel;
    };
    RowActions(Parts parts, Calls calls);
    ~RowActions() override;
    RowActions(const RowActions &) = delete;
    RowActions &operator=(const RowActions &) = delete;

    void CmdButton_Click(int index);
    bool ErrorHandler(const DataError *error);
    void SCRIVIUMOD();
    QString SCRIVILAST();
    bool ControllaCancellazione();
    void LoccaRecord(bool locked);
    void SETINDICI(bool enabled);
    void MOVETO(const QVariantList &bookmark);
    // The row in hand, being modified, as another user stored it meanwhile, beside the values
    // read and typed (FrmConflitto, only shown): nothing is written.
    void showStoredChanges();
    // A read that failed: a lock, a time limit or a full disk told in words, any other error
    // with its number.
    void readFailed(const DataError &error);

    // A row the session wrote: a row added is the process's last inserted one.
    void rowWritten(const RowSession &session, RowWrite what) override;

private:
    void newRow();
    void save();
    // Hands the session the typed values of the controls to write; false when a value the column
    // cannot take stopped it (the user has been told).
    bool typeControls(bool adding);
    // A value the session found invalid: told, with the focus on its field.
    void invalidValue(const RowOutcome &outcome);
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
    // A save whose COMMIT the lost connection cut off: its outcome made final and told, true when
    // it landed; otherwise the typed values stay for another try. The same for a delete.
    bool resolveLostSave(bool adding);
    bool resolveLostDelete();
    // What a save wrote: the row's key (empty when not known) and each written field's text.
    struct Typed
    {
        QVariantList key;
        QList<std::pair<const FieldControl *, QString>> texts;
    };
    QVariantList rowKey(bool adding) const;
    Typed typedNow(bool adding) const;
    // True when the row as stored holds every text written.
    static bool holds(const Recordset *stored, const Typed &typed);
    Connection::WriteFate fateOfLostWrite(const Typed &typed, bool deleting);
    // After a save left in doubt, the next one found the row taken (changed, or a new row's key
    // used): when the stored row holds what the doubtful save wrote, that save landed and the row
    // in hand becomes the stored one (true), for the typed values to be written over it.
    bool rebaseOnOwnSave(const Typed &doubt, const DataError &error, bool adding);
    // Writes the row in hand; true when it is saved (the user told otherwise).
    bool writeRow();
    // The row being modified was deleted by another user (EditorState::rowGone): stored again as
    // a new row when the user answers Yes (the default No keeps the typed values, unsaved). True
    // when it was stored.
    bool storeGoneRow();
    // Every written field: caption, value read, value stored now (none: deleted), value typed.
    QList<FrmConflitto::Difference> conflictFields(const Recordset *stored) const;

    QString title() const;

    Parts m;
    Calls m_calls;
    std::optional<Typed> m_doubt; // the last save, when its outcome is not known
};

} // namespace Norvix
