#pragma once

// The parts of the editor window and what they share. FrmEditTab is the public face (the
// operations the editor's documentation names); each part does one job, and this object wires
// them together:
//   EditorState     the record, the start's settings and the modes (editorstate.h), a base
//                   of this object, handed to each part
//   EditorData      the connections (editordata.h)
//   RowSession      the row in hand: loads, checks, saves, deletes it (session/rowsession.h)
//   FieldSet        the field controls, one class per kind (fieldset.h, fieldcontrols.h),
//                   built by FieldFactory (fieldfactory.h)
//   WindowLayout    geometry, tab pages, focus (windowlayout.h)
//   CommandPanel    the command buttons and the modes they show (commandpanel.h)
//   RecordListPane  the record list (recordlistpane.h)
//   Lookups         the lookup combo boxes (lookups.h)
//   RowActions      new, save, drop, delete, move, and the explanation of data errors (rowactions.h)
//   SearchPane      the search panel, its results in the list, and the export (searchpane.h)
//   Details         the grids of the record's details and their lines (details.h)
//   RowHistory      the history of the row in hand, FrmStoria, and its values restored (rowhistory.h)
//   LiveView        other users' changes shown while the editor is open (liveview.h)
// and, on this object itself, the field checks (fieldchecks.cpp), the input events
// (inputevents.cpp) and the start-up (startup.cpp).

#include "editor/commandpanel.h"
#include "editor/details.h"
#include "editor/editordata.h"
#include "editor/editorstate.h"
#include "editor/fieldfactory.h"
#include "editor/fieldset.h"
#include "editor/frmedittab.h"
#include "editor/liveview.h"
#include "editor/lookups.h"
#include "editor/recordlistpane.h"
#include "editor/recordlist.h"
#include "editor/recordlistview.h"
#include "editor/rowactions.h"
#include "editor/rowhistory.h"
#include "editor/searchpane.h"
#include "editor/windowlayout.h"
#include "platform/waiting.h"
#include "session/rowsession.h"

#include <QPointer>

class QEvent;
class QLineEdit;

namespace Norvix {

class FrmEditTabPrivate : public FieldContext, public EditorState
{
public:
    explicit FrmEditTabPrivate(FrmEditTab *q);

    FrmEditTab *const q;
    static FrmEditTabPrivate &of(FrmEditTab &editor) { return *editor.d; }
    // Under way.
    int busy = 0;             // operations of this editor under way (see Busy)
    int busyFrom = 0;         // the waits running events when the first of them began
    bool closeWanted = false; // a close asked meanwhile, carried out when the last one ends
    bool closingItself = false; // the editor's own operation closes it (Fine, CloseOnConfirm)
    bool counted = false;     // shown, it made EditorVisible true
    bool ownerLost = false;   // its owner went during an operation: it goes when that ends
    std::optional<Abandoned> abandoned; // that operation, until it ends
    QPointer<QObject> ownerWatch; // a child of the parent, deleted just before the editor
    // Not started, failed to start, or closed: the public entry points then do nothing.
    bool closed() const { return unloaded || !rec || !data.isOpen(); }
    // Parts.
    EditorData data;
    RowSession session;
    FieldSet fields;
    WindowLayout window;
    CommandPanel panel;
    RecordListPane list;
    Lookups lookups;
    RowActions actions;
    SearchPane search;
    FieldFactory factory;
    Details details;
    RowHistory history;
    LiveView live;

    // The user changed a control: the row is modified.
    void markEdited(QWidget *control);
    // A bound control no longer shows what the row holds.
    bool fieldsChanged() const;

    // Field checks (fieldchecks.cpp).
    bool CONTROLLOGENERALE();
    void VALORENONVALIDO(QWidget *control);
    QString FORMATTA(const QString &Valore, const QString &nomecampo);
    // A field control lost the focus.
    void lostFocus(QWidget *control);
    QString format(const QString &value, const QString &field) override;
    void invalid(QWidget *control) override;
    void refill(FieldControl &source) override;
    void describe(FieldControl &field) override;
    void lookupLeft(LookupField &lookup) override;
    bool numberedByDatabase(const QString &field) override;

    // Input events (inputevents.cpp): true when the event is taken.
    bool inputEvent(QWidget *w, QEvent *event);
    void specialRequest(QLineEdit *input, const char *kind);
    void chooseFile(QLineEdit *input);
    // A longer paste is cut at the field's length, the user told once.
    void cutToLength(QWidget *control);

    // Start-up (startup.cpp).
    bool openData(const QString &connection, const QString &dbPath, const QString &databaseName);
    void warnMissingColumns();
    void chooseDescField();
    void positionOn(const std::optional<QString> &Indice);
    // Creates the tabs, sizes the window to the pages and shows the first page.
    void ImpostaForm();
    void setDefaults();
    void Form_Unload();
    // A close asked while starting ends the start-up here: true when the editor is unloaded.
    bool startEnded();
    // The editor closes itself at the end of one of its operations.
    void closeWindow();
    // A call made from a timer while an operation waits (for the database, for an answer): it
    // would pull the row from under that operation, and does nothing.
    bool interrupting() const;
    // The public entry points that touch the row, the fields or the list then do nothing: called
    // in from a timer while an operation of the editor waits, or the editor is going.
    bool refuses() const { return ownerLost || interrupting(); }
    // The parent's deletion is no longer watched.
    void dropOwnerWatch();
    // What owns the editor goes (the control that opened it, the window it was made on, or a
    // deleteLater()): in the middle of an operation the editor leaves its parent and hides at
    // once, the operation gives up what it waits for, and the editor deletes itself when it
    // ends; otherwise nothing happens here.
    void ownerGone();
};

// While an operation of the editor is under way. It may wait for the database or ask the user,
// and timers (a host's too) run meanwhile: a close they ask for is put off until the last
// operation ends, so that nothing is unloaded or deleted under it.
class Busy
{
public:
    explicit Busy(FrmEditTabPrivate &d);
    ~Busy();
    Busy(const Busy &) = delete;
    Busy &operator=(const Busy &) = delete;

private:
    FrmEditTabPrivate &m_d;
};

// While the editor itself moves widgets or selects lines.
class Applying
{
public:
    explicit Applying(EditorState &s) : m_s(s), m_was(s.applying) { s.applying = true; }
    ~Applying() { m_s.applying = m_was; }
    Applying(const Applying &) = delete;
    Applying &operator=(const Applying &) = delete;

private:
    EditorState &m_s;
    bool m_was;
};

} // namespace Norvix
