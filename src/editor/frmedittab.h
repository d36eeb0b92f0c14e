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
// edits it.
//
// Lengths are twips; they become pixels only when widgets are placed.

#include "descriptor/descriptor.h"
#include "editor/pagelayout.h"
#include "editor/recordlistview.h"
#include "platform/connection.h"
#include "platform/recordset.h"

#include <QDialog>
#include <QHash>
#include <QMap>
#include <QPointer>
#include <QVector>

#include <array>
#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabBar;
class QKeyEvent;

namespace Norvix {

class FrmEditTab : public QDialog
{
    Q_OBJECT

public:
    explicit FrmEditTab(QWidget *parent = nullptr);
    ~FrmEditTab() override;

    // Opens the editor on a table: loads its descriptor, builds the controls and pages, opens the
    // data, fills the record list and shows the row named by `Indice` (missing: the first row;
    // "": a new row; key values joined by commas: that row, or the first one when there is none).
    // Success is read from CanShow(); a connection that cannot be opened throws DataError.
    void START(const QString &Connection, const QString &DbPath, const QString &DatabaseName, const QString &RecordName,
               const QString &DscPath, const QString &TableDescField, bool ReadOnly,
               const std::optional<QString> &Indice = std::nullopt);
    bool CanShow() const { return m_canShow; }

    void ShowRecord();
    void ClearFields();

    // Modes.
    void SETNEUTRAL();
    void SETMODIFICATO();
    void SETNEW();
    bool Modified() const { return m_modified; }

    // Sizing.
    void SETPROP();
    void SCREENMODE(int width, int height);
    void REPROP();

    // Fields and pages.
    void METTICAMPI();
    void MettiCampo(const CampoPtr &campo);
    void ImpostaForm();
    void CTRLSETFOCUS(QWidget *control);
    void SETINDICI(bool enabled);
    void LoccaRecord(bool locked);
    bool ControllaCancellazione();

    // Record list.
    void RIEMPILISTA();
    // RIEMPILISTA when line `row` shows the row with key `key`.
    void refreshListAround(int row, const QVariantList &key);
    void SETPRIMO();

    void CmdButton_Click(int index);

    // Saving and checking.
    bool CONTROLLOGENERALE();
    void VALORENONVALIDO(QWidget *control);
    // With a field name: `Valore` in the field's display picture. Without: reformats every field
    // control and returns "".
    QString FORMATTA(const QString &Valore = QString(), const QString &nomecampo = QString());
    void SCRIVIUMOD();
    QString SCRIVILAST();
    void WRITEDESC(QWidget *control);
    // Explains a data error to the user: true when one was reported and the editor stays open.
    bool ErrorHandler(const DataError *error);
    void MOVETO(const QVariantList &bookmark);

    // Lookups: refills a combo box from its referenced table; returns the width it needs (twips)
    // while the window is being built, 0 afterwards.
    int FILLCOMBO(QComboBox *ctrl, const CampoPtr &C);
    void CmbBounded_Click(int index);
    void CmbBounded_LostFocus(int index);

    // What the rest of the program and the tests look at.
    std::shared_ptr<Rec> rec() const { return m_rec; }
    QString DescField() const { return m_descField; }
    QString DbPath() const { return m_dbPath; }
    QString DscPath() const { return m_dscPath; }
    QString DatabaseFile() const { return m_dbPath + m_databaseName; }
    QWidget *FirstControl() const { return m_firstControl; }
    Recordset *EditRecordset() const { return m_recordset.get(); }
    std::shared_ptr<Connection> EditConnection() const { return m_connection; }
    const Layout::PageLayout *pageLayout() const { return m_layout.get(); }
    QTabBar *TabPage() const { return m_tabs; }
    RecordListView *LstSelect() const { return m_list; }
    QPushButton *CmdButton(int index) const { return m_buttons.at(index); }
    // Every field control of the editor (not the templates), in creation order.
    QList<QWidget *> fieldControls() const { return m_fieldControls; }
    // The text a field control shows, and setting it (not a user edit).
    static QString controlText(QWidget *control);
    static void setControlText(QWidget *control, const QString &text);
    // The value a field control holds: its text, or, for a number its picture shows rounded,
    // the number as typed.
    static QString valueText(QWidget *control);
    // The array a field control belongs to: its name without the index ("TxtText" for TxtText3).
    static QString arrayOf(const QWidget *control);
    // Twips of the window's own coordinate system for a widget placed by the editor.
    QRect twipsOf(QWidget *control) const;
    int formWidthTwips() const { return m_formWidth; }
    int formHeightTwips() const { return m_formHeight; }

signals:
    void CloseEditor();
    // F1: the host may show help on the record and the field in use.
    void Help(const QString &RecordInEdit, const QString &FieldInEdit);
    // A field asks the host for its value (special fields); the host's answer goes into it.
    void ExternalHandler(QWidget *field);
    // The window was hidden (closed, or hidden for the host): a modal wait on it ends.
    void Hidden();

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    template <typename T>
    T *loadElement(QVector<QPointer<T>> &array, const QString &arrayName, int index, const Layout::Rect &size);
    void placeTwips(QWidget *w, const Layout::Rect &r);
    void applyGeometry();
    void PicButton_Resize();
    void TabPage_Click();
    Layout::Rect tabClient() const;
    int textWidth(const QString &text) const;
    void chooseDescField();
    void positionOn(const std::optional<QString> &Indice);
    void LstSelect_Click();
    void Form_Unload();
    void markEdited(QWidget *control);
    // The length of a text, number or memo input (its "MaxLen"): a typed character that would
    // pass it is refused (atLength() says so), and a longer paste is cut, the user told once.
    bool atLength(QWidget *control, const QKeyEvent *key) const;
    void cutToLength(QWidget *control);
    std::shared_ptr<Connection> lookupConnection(const CampoPtr &C);
    bool inputEvent(QWidget *w, QEvent *event);
    void specialRequest(QLineEdit *input, const char *kind);
    void chooseFile(QLineEdit *input);
    void comboKeyUp(int index, int key);
    void showCode(QComboBox *combo, const QString &code);
    // Whether a lookup combo lists the row of `code` (a completing one asks its table).
    bool listsCode(QComboBox *combo, const CampoPtr &C, const QString &code);
    // The items of a completing combo whose codes start with `prefix`: in any letter case, or, with
    // `exactCase`, as written (a stored code shown; the referenced key's index then serves).
    QStringList completionItems(const CampoPtr &C, const QString &prefix, bool exactCase = false);
    void lostFocus(QWidget *control);
    void refillRequest(QWidget *control);
    // A refusal of the database (a constraint) told in words, with the focus on the field it
    // concerns; false for any other error.
    bool explainRefusal(const DataError &error, bool deleting);
    void focusField(const QString &column);
    void reopen(CursorIntent intent);
    void selectLine(int row);
    void save();
    void dropChanges();
    void deleteRow();
    void moveRow(int index);
    QStringList keyIds() const;

    // Settings and state.
    bool m_canShow = false;
    bool m_modified = false;
    bool m_unloaded = false;
    bool m_readOnly = false;
    QString m_connectionString, m_dbPath, m_databaseName, m_recordName, m_dscPath, m_descField;
    std::shared_ptr<Rec> m_rec;
    std::shared_ptr<Connection> m_connection;
    std::unique_ptr<Recordset> m_recordset;
    QPointer<QWidget> m_firstControl;
    std::unique_ptr<Layout::PageLayout> m_layout;

    // Sizing members (twips; ratios from the design).
    std::array<double, 10> m_buttonTopRatio{};
    std::array<double, 10> m_buttonHeightRatio{};
    double m_panelHeightRatio = 0, m_pageWidthRatio = 0, m_pageHeightRatio = 0;
    int m_labelLeft = 0, m_labelTop = 0, m_panelWidth = 0;
    int m_formWidth = 0, m_formHeight = 0; // inner size
    Layout::Rect m_listRect, m_tabRect, m_panelRect;
    std::array<Layout::Rect, 5> m_buttonRects{};
    bool m_applying = false;
    bool m_checking = false;
    QString m_completionPrefix; // set while a completing combo asks for the codes starting with it
    bool m_completionExactCase = false;

    // Fixed controls.
    RecordListView *m_list = nullptr;
    QTabBar *m_tabs = nullptr;
    QFrame *m_tabFrame = nullptr;
    QFrame *m_panel = nullptr;
    std::array<QPushButton *, 5> m_buttons{};
    QLabel *m_lblScala = nullptr;

    // Control arrays (element 0: template).
    QVector<QPointer<QLineEdit>> TxtText, TxtNumeric, TxtDate, txtFile, TxtUMOD, TxtLabel, TxtDesc;
    QVector<QPointer<QPlainTextEdit>> TxtMemo;
    QVector<QPointer<QCheckBox>> ChkBoolean;
    QVector<QPointer<QComboBox>> CmbBounded;
    QVector<QPointer<QPushButton>> CmdShowBin;
    QList<QWidget *> m_fieldControls;
    QHash<QWidget *, Layout::Rect> m_twips;
};

} // namespace Norvix
