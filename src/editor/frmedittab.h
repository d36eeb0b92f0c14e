#pragma once

// The editor window of one table. It builds one input control per described field at run time,
// spreads them over tab pages, shows the rows of the table and lets the user browse, insert,
// change and delete them.
//
// Field controls are kept in arrays by kind, element i serving the field whose ordinal is i
// (element 0 is the template and never shows a field). Every control is named after its array
// and index (TxtText3, CmbBounded5, TxtLabel3, ...) and carries three dynamic properties:
// "DataField" (the column it is bound to, or empty), "Tag" (the tab mark "p,k" of the page that
// shows it, or empty for controls never shown) and "Index". "DataChanged" is set when the user
// edits it. The fixed controls are LstSelect (the record list), TabPage (the tab strip),
// PicButton (the button panel) and CmdButton0 .. CmdButton4.
//
// Lengths are twips; they become pixels only when widgets are placed.

#include "norvix_export.h"

#include <QDialog>
#include <QRect>
#include <QString>
#include <QVariantList>

#include <memory>
#include <optional>

class QComboBox;
class QPushButton;
class QTabBar;

namespace Norvix {

class Campo;
class Connection;
class DataError;
class FrmEditTabPrivate;
class Rec;
class RecordListView;
class Recordset;
namespace Layout {
class PageLayout;
}

class NORVIX_EXPORT FrmEditTab : public QDialog
{
    Q_OBJECT

public:
    /// An editor window, empty until START() opens it on a table. Deleting `parent` while an
    /// operation of the editor waits (for the database, for an answer) is safe: in the middle of an
    /// operation the editor then leaves its parent and hides at once, the operation gives up what
    /// it waits for and asks the user nothing more, and the editor deletes itself when it ends.
    explicit FrmEditTab(QWidget *parent = nullptr);
    /// Deleting an editor in the middle of an operation is not allowed (the operation returns
    /// into it): delete its parent or its control, or call deleteLater(), which wait for it.
    ~FrmEditTab() override;

    /// Opens the editor on a table: loads its descriptor, builds the controls and pages, opens the
    /// data, fills the record list and shows the row named by `Indice` (missing: the first row;
    /// "": a new row; key values joined by commas: that row, or the first one when there is none).
    /// Success is read from CanShow(); a connection that cannot be opened throws DataError.
    void START(const QString &Connection, const QString &DbPath, const QString &DatabaseName, const QString &RecordName,
               const QString &DscPath, const QString &TableDescField, bool ReadOnly,
               const std::optional<QString> &Indice = std::nullopt);
    /// Whether START() opened the editor, so that it can be shown.
    bool CanShow() const;

    /// Shows the row in hand in the field controls.
    void ShowRecord();

    /// The modes: a saved row shown, the shown row changed, a new row being filled in.
    void SETNEUTRAL();
    void SETMODIFICATO();
    void SETNEW();
    /// Whether the shown row has unsaved changes.
    bool Modified() const;

    /// Sizes the window to the screen (0, 0) or to a size in pixels, at the screen's top-left corner.
    void SCREENMODE(int width, int height);
    /// Brings a control's page to the front and gives it the focus.
    void CTRLSETFOCUS(QWidget *control);

    /// Shows the search panel on search layout `layout` (as the descriptor numbers it), fills its
    /// inputs with `texts` in order and runs the search. False (the user told) when the record
    /// has no such layout.
    bool Search(int layout, const QStringList &texts);
    /// Fills the record list from the table.
    void RIEMPILISTA();

    /// The command buttons: 0 new, 1 save, 2 drop the changes, 3 delete, 4 close; 6 to 9 move
    /// to the first, previous, next, last row.
    void CmdButton_Click(int index);

    /// Explains a data error to the user: true when one was reported and the editor stays open.
    bool ErrorHandler(const DataError *error);

    /// A lookup combo clicked.
    void CmbBounded_Click(int index);

    /// The descriptor of the record in edit.
    std::shared_ptr<Rec> rec() const;
    /// The column shown beside the keys in the record list.
    QString DescField() const;
    /// The data folder, the descriptor folder, and the database file (both folders end with a separator).
    QString DbPath() const;
    QString DscPath() const;
    /// The control that gets the focus on a new row.
    QWidget *FirstControl() const;
    /// The recordset of the row in hand.
    Recordset *EditRecordset() const;
    /// The tab strip, the record list and a command button.
    QTabBar *TabPage() const;
    RecordListView *LstSelect() const;
    QPushButton *CmdButton(int index) const;
    /// Every field control of the editor (not the templates), in creation order.
    QList<QWidget *> fieldControls() const;
    /// The text a field control shows, and setting it (not a user edit).
    static QString controlText(QWidget *control);
    static void setControlText(QWidget *control, const QString &text);
    /// Twips of the window's own coordinate system for a widget placed by the editor.
    QRect twipsOf(QWidget *control) const;

signals:
    /// The editor closed (the last step of its unload).
    void CloseEditor();
    /// F1: the host may show help on the record and the field in use.
    void Help(const QString &RecordInEdit, const QString &FieldInEdit);
    /// A field asks the host for its value (special fields); the host's answer goes into it.
    void ExternalHandler(QWidget *field);
    /// The window was hidden (closed, or hidden for the host): a modal wait on it ends.
    void Hidden();

protected:
    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    friend class FrmEditTabPrivate;
    std::unique_ptr<FrmEditTabPrivate> d;
};

} // namespace Norvix
