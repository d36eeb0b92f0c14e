// The editor window: the public face of its parts (see frmedittab_p.h), and its window events.

#include "editor/frmedittab.h"
#include "platform/language.h"

#include "editor/frmedittab_p.h"
#include "editor/recordlistview.h"
#include "editor/shared.h"
#include "platform/messages.h"
#include "platform/waiting.h"
#include "ui/qtmessages.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QTimer>
#include <QPushButton>

namespace Norvix {

namespace {
// The guard that a part holds while an operation of the editor is under way.
std::function<std::shared_ptr<void>()> busyGuard(FrmEditTabPrivate &d)
{
    return [&d] { return std::make_shared<Busy>(d); };
}
} // namespace

FrmEditTabPrivate::FrmEditTabPrivate(FrmEditTab *q)
    : q(q),
      window({.window = *q, .state = *this, .fields = fields, .list = list, .panel = panel, .search = search}),
      panel(*q, *this, session, actions, list, [q](int index) { q->CmdButton_Click(index); },
            [this] {
                if (closed() || refuses())
                    return;
                const Busy busy(*this); // the first page is read
                history.open();
            }),
      list(RecordListPane::Parts{*q, *this, data, session, fields, window, panel},
           {.busy = busyGuard(*this),
            .interrupting = [this] { return interrupting(); },
            .readFailed = [this](const DataError &e) { actions.readFailed(e); },
            .showRecord = [q] { q->ShowRecord(); },
            .rowsChanged = [this] { search.rowsChanged(); },
            .readyForNew = [this] { actions.LoccaRecord(false); actions.SETINDICI(true); }}),
      lookups(Lookups::Parts{*q, *this, data, session, fields, window},
              {.externalHandler = [q](QWidget *field) { emit q->ExternalHandler(field); },
               .modified = [q] { q->SETMODIFICATO(); },
               .neutral = [q] { q->SETNEUTRAL(); },
               .edited = [this](QWidget *control) { markEdited(control); },
               .invalid = [this](QWidget *control) { VALORENONVALIDO(control); },
               .fieldsChanged = [this] { return fieldsChanged(); }}),
      actions(RowActions::Parts{*q, *this, session, fields, window, list, panel},
              RowActions::Calls{[q] { q->ShowRecord(); },
                                [this] {
                                    fields.clearBound();
                                    details.clear();
                                },
                                [this] { panel.SETNEUTRAL(); }, [q] { q->SETNEW(); },
                                [this] { FORMATTA(QString(), QString()); }, [this] { closeWindow(); },
                                [this] { return details.finishEditing() && CONTROLLOGENERALE(); },
                                [this] { return closed(); },
                                [this](const RowOutcome &outcome) { return details.lineFailed(outcome); }}),
      search(SearchPane::Parts{*q, *this, data, session, window, panel, list, lookups},
             {.busy = busyGuard(*this),
              .closed = [this] { return closed(); },
              .readFailed = [this](const DataError &e) { actions.readFailed(e); }}),
      factory(*q, *this, session, fields, window, lookups,
              {.edited = [this](QWidget *control) { markEdited(control); },
               .cutToLength = [this](QWidget *control) { cutToLength(control); },
               .chooseFile = [this](QLineEdit *input) { chooseFile(input); },
               .lookupChosen =
                   [this](int index) {
                       const Busy busy(*this);
                       lookups.CmbBounded_Click(index);
                   }}),
      details(Details::Parts{*q, *this, data, session, window, lookups},
              {.edited =
                   [this, q] {
                       if (!modified)
                           q->SETMODIFICATO();
                   },
               .busy = [this] { return busy > 0; }}),
      history(RowHistory::Parts{*q, *this, data, session, fields, lookups},
              {.edited = [this](QWidget *control) { markEdited(control); }, .busy = busyGuard(*this)}),
      live(LiveView::Parts{*q, *this, data, session, list, details},
           {.busy = [this] { return busy > 0; },
            .hold = busyGuard(*this),
            .showRecord = [q] { q->ShowRecord(); },
            .showDifferences =
                [this] {
                    if (closed() || refuses())
                        return;
                    const Busy busy(*this);
                    actions.showStoredChanges();
                }})
{
}

FrmEditTab::FrmEditTab(QWidget *parent) : QDialog(nullptr), d(std::make_unique<FrmEditTabPrivate>(this))
{
    if (parent) {
        // A parent deletes its children in order: the watch, made first, goes just before the
        // editor, which may then leave an operation under way (see ownerGone()).
        d->ownerWatch = new QObject(parent);
        connect(d->ownerWatch, &QObject::destroyed, this, [this] { d->ownerGone(); });
        setParent(parent, windowFlags());
    }
    setObjectName(QStringLiteral("FrmEditTab"));
    registerWindowServices(); // message boxes, dialogs and wait windows where none is installed
    QFont f = font();
    f.setPointSize(9);
    setFont(f);
    // The fixed controls, in the order that makes their focus chain.
    d->list.create();
    d->window.create();
    d->panel.create();
    d->search.create();
    d->live.create();
    d->window.finish();
}

FrmEditTab::~FrmEditTab()
{
    d->dropOwnerWatch();
    if (!d->unloaded)
        d->Form_Unload();
}

bool FrmEditTab::CanShow() const { return d->canShow && !d->unloaded && !d->closeWanted && !d->ownerLost; }

void FrmEditTabPrivate::dropOwnerWatch()
{
    if (!ownerWatch)
        return;
    ownerWatch->disconnect(q);
    delete ownerWatch.data();
}

void FrmEditTabPrivate::ownerGone()
{
    if (busy == 0 || ownerLost)
        return; // an idle editor goes with its parent, or stays
    ownerLost = true;
    abandoned.emplace(busyFrom);
    dropOwnerWatch();
    q->hide();
    q->setParent(nullptr, q->windowFlags()); // its parent's deletion passes it by
}

bool FrmEditTab::event(QEvent *event)
{
    if (event->type() == QEvent::DeferredDelete && d->busy > 0) {
        d->ownerGone(); // deleted when the operation under way ends
        return true;
    }
    if (event->type() == QEvent::ParentChange && d->ownerWatch && d->ownerWatch->parent() != parent())
        d->dropOwnerWatch(); // moved by the host: that parent no longer owns it
    return QDialog::event(event);
}

Busy::Busy(FrmEditTabPrivate &d) : m_d(d)
{
    if (d.busy++ == 0)
        d.busyFrom = RunningEvents::depth();
}

bool FrmEditTabPrivate::interrupting() const
{
    return busy > 0 && RunningEvents::depth() > busyFrom;
}

Busy::~Busy()
{
    if (--m_d.busy > 0)
        return;
    if (m_d.ownerLost) {
        m_d.abandoned.reset();
        m_d.q->deleteLater();
        return;
    }
    if (!m_d.closeWanted && !m_d.unloaded)
        m_d.details.operationEnded();
    if (!std::exchange(m_d.closeWanted, false) || m_d.unloaded)
        return;
    // After the event that ran the operation has been delivered: closing removes its widgets.
    QTimer::singleShot(0, m_d.q, [q = m_d.q] { q->close(); });
}

void FrmEditTabPrivate::closeWindow()
{
    const bool was = std::exchange(closingItself, true);
    q->close();
    closingItself = was;
}
bool FrmEditTab::Modified() const { return d->modified; }
void FrmEditTab::SETNEUTRAL()
{
    if (!d->refuses())
        d->panel.SETNEUTRAL();
}
void FrmEditTab::SETMODIFICATO()
{
    if (!d->refuses())
        d->panel.SETMODIFICATO();
}
void FrmEditTab::SCREENMODE(int width, int height) { d->window.SCREENMODE(width, height); }
void FrmEditTab::CTRLSETFOCUS(QWidget *control)
{
    if (!d->closed() && !d->refuses())
        d->window.CTRLSETFOCUS(control);
}
bool FrmEditTab::Search(int layout, const QStringList &texts)
{
    if (d->refuses())
        return false;
    const Busy busy(*d);
    return !d->closed() && d->search.run(layout, texts);
}
void FrmEditTab::RIEMPILISTA()
{
    if (!d->closed() && !d->refuses())
        d->list.RIEMPILISTA();
}
void FrmEditTab::CmdButton_Click(int index)
{
    if (d->refuses())
        return;
    const Busy busy(*d);
    if (!d->closed())
        d->actions.CmdButton_Click(index);
}
bool FrmEditTab::ErrorHandler(const DataError *error)
{
    return d->closed() || d->refuses() ? false : d->actions.ErrorHandler(error);
}
void FrmEditTab::CmbBounded_Click(int index)
{
    if (!d->closed() && !d->refuses())
        d->lookups.CmbBounded_Click(index);
}
std::shared_ptr<Rec> FrmEditTab::rec() const { return d->rec; }
QString FrmEditTab::DescField() const { return d->descField; }
QString FrmEditTab::DbPath() const { return d->data.dataFolder(); }
QString FrmEditTab::DscPath() const { return d->dscPath; }
QWidget *FrmEditTab::FirstControl() const { return d->firstControl; }
Recordset *FrmEditTab::EditRecordset() const { return d->session.recordset(); }
QTabBar *FrmEditTab::TabPage() const { return d->window.tabs(); }
RecordListView *FrmEditTab::LstSelect() const { return d->list.view(); }
QPushButton *FrmEditTab::CmdButton(int index) const { return d->panel.button(index); }
QList<QWidget *> FrmEditTab::fieldControls() const { return d->fields.widgets(); }
QString FrmEditTab::controlText(QWidget *control) { return widgetText(control); }
void FrmEditTab::setControlText(QWidget *control, const QString &text) { setWidgetText(control, text); }
QRect FrmEditTab::twipsOf(QWidget *control) const { return d->window.twipsOf(control); }

void FrmEditTab::SETNEW()
{
    if (d->closed() || d->refuses())
        return;
    d->panel.SETNEW();
    d->setDefaults();
    if (isVisible())
        CTRLSETFOCUS(d->firstControl);
}


void FrmEditTab::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    d->window.resized();
}

void FrmEditTab::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // Once the window manager has framed it, the window is kept within the screen.
    QTimer::singleShot(0, this, [this] { d->window.keepOnScreen(); });
    // Activation: back on the row of the recordset; an empty table puts the focus on the first field.
    const bool interrupting = d->interrupting();
    const Busy busy(*d); // reading the row again may wait
    if (Recordset *rs = interrupting ? nullptr : d->session.recordset()) {
        // A pending new row or change is never dropped by showing the window.
        if (rs->editMode() == EditMode::None) {
            try {
                // The row shown is read again, never swapped for the table's first row (the
                // editor opened on a key shows a row of the whole table).
                if (rs->hasCurrentRow())
                    rs->setBookmark(rs->Bookmark());
                else
                    rs->MoveFirst();
            } catch (const Error &) {
            }
        }
        if (rs->Eof() || rs->editMode() == EditMode::Add)
            CTRLSETFOCUS(d->firstControl);
    }
    if (!d->unloaded) {
        d->shared.editorVisible = d->counted = true;
        d->live.start();
    }
}

void FrmEditTab::hideEvent(QHideEvent *event)
{
    QDialog::hideEvent(event);
    d->live.stop();
    emit Hidden();
}

void FrmEditTab::closeEvent(QCloseEvent *event)
{
    if (d->unloaded) {
        event->accept();
        return;
    }
    if (d->ownerLost) { // it goes when its operation ends: nothing to ask
        event->ignore();
        return;
    }
    if (d->busy > 0 && !d->closingItself) {
        // Asked from a timer or an event while the editor starts, saves or waits: done after.
        d->closeWanted = true;
        event->ignore();
        return;
    }
    const Busy busy(*d); // the question lets timers run
    if (d->modified && msgBox(nxTr("Annulli le modifiche ?"), MsgButtons::OkCancel, nxTr("ATTENZIONE !"))
                           == MsgAnswer::Cancel) {
        event->ignore();
        return;
    }
    d->Form_Unload();
    event->accept();
    QDialog::closeEvent(event);
}

void FrmEditTab::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_F1) {
        const Busy busy(*d); // the host answers, and may close the editor meanwhile
        QWidget *focus = focusWidget();
        emit Help(d->rec ? d->rec->Nome() : d->recordName, focus ? focus->property("DataField").toString() : QString());
        return;
    }
    // Escape closes through the same questions as the close button.
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool FrmEditTab::eventFilter(QObject *watched, QEvent *event)
{
    if (d->unloaded || !d->rec) // closing: the descriptor is gone, nothing is checked any more
        return QDialog::eventFilter(watched, event);
    const Busy busy(*d);
    if (d->search.filter(watched, event))
        return true;
    const QList<QWidget *> &controls = d->fields.widgets();
    if (event->type() == QEvent::MouseButtonDblClick || event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        QWidget *w = qobject_cast<QWidget *>(watched);
        // Keys typed in an editable combo box reach its line edit: they count for the combo.
        if (w && !controls.contains(w) && w->parentWidget() && qobject_cast<QComboBox *>(w->parentWidget()))
            w = w->parentWidget();
        if (w && controls.contains(w) && d->inputEvent(w, event))
            return true;
    }
    // A popup opening (a combo's list) does not leave the field.
    if (event->type() == QEvent::FocusOut && !d->checking && static_cast<QFocusEvent *>(event)->reason() != Qt::PopupFocusReason) {
        if (auto *w = qobject_cast<QWidget *>(watched); w && controls.contains(w)) {
            d->checking = true;
            d->lostFocus(w);
            d->checking = false;
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace Norvix
