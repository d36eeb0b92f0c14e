#pragma once

// The Norvix control: a host places it on a window, sets where the data lives, which table to edit
// and where the table's descriptor is, and calls ShowTableEditor(). The control is invisible at run
// time (a labelled placeholder in Qt Designer).
//
// Properties marked "process-wide" are one copy for every control of the process. EditorVisible,
// LastInserted and LastView are never saved with a design (STORED false).
//
// Errors: ShowTableEditor() lets a connection that cannot be opened (Norvix::DataError) and a
// descriptor line that cannot be applied (Norvix::DescriptorError) reach the caller as exceptions;
// both derive from Norvix::Error, whose message() is meant for the user. A missing descriptor or a
// table without editable fields is shown to the user and the editor is not opened; the call
// returns normally.

#include "descriptor/errors.h"
#include "norvix_export.h"
#include "platform/dataerror.h"

#include <QColor>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QVariant>
#include <QWidget>

#include <optional>

namespace Norvix {

class FrmEditTab;

// Where a design's properties are kept: named values with a default for absent ones.
class NORVIX_EXPORT PropertyBag
{
public:
    virtual ~PropertyBag() = default;
    /// The value kept under `name`, or `defaultValue` when none is.
    virtual QVariant readProperty(const QString &name, const QVariant &defaultValue) const = 0;
    /// Keeps `value` under `name` (a store may leave out values equal to `defaultValue`).
    virtual void writeProperty(const QString &name, const QVariant &value, const QVariant &defaultValue) = 0;
};

// A bag in an INI file (QSettings), for the program's --settings FILE.
class NORVIX_EXPORT SettingsPropertyBag : public PropertyBag
{
public:
    /// A bag in the INI file `fileName`, in section `group`.
    explicit SettingsPropertyBag(const QString &fileName, const QString &group = QStringLiteral("Norvix"));
    ~SettingsPropertyBag() override;
    /// The value in the file, converted to the type of `defaultValue`.
    QVariant readProperty(const QString &name, const QVariant &defaultValue) const override;
    void writeProperty(const QString &name, const QVariant &value, const QVariant &defaultValue) override;
    /// Writes what was kept to the file now.
    void sync();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// A bag in memory (for hosts that keep designs their own way, and for tests).
class NORVIX_EXPORT MemoryPropertyBag : public PropertyBag
{
public:
    MemoryPropertyBag();
    ~MemoryPropertyBag() override;
    QVariant readProperty(const QString &name, const QVariant &defaultValue) const override;
    void writeProperty(const QString &name, const QVariant &value, const QVariant &defaultValue) override;
    /// Every value kept.
    QVariantMap values() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

class NORVIX_EXPORT Norvix : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(bool ReadOnly READ ReadOnly WRITE setReadOnly NOTIFY propertyChanged)
    Q_PROPERTY(QString DbPath READ DbPath WRITE setDbPath NOTIFY propertyChanged)
    Q_PROPERTY(QString DatabaseName READ DatabaseName WRITE setDatabaseName NOTIFY propertyChanged)
    Q_PROPERTY(QString RecordName READ RecordName WRITE setRecordName NOTIFY propertyChanged)
    Q_PROPERTY(QVariant TableDescField READ TableDescField WRITE setTableDescField NOTIFY propertyChanged)
    Q_PROPERTY(QColor BackColor READ BackColor WRITE setBackColor NOTIFY propertyChanged)
    Q_PROPERTY(QColor TextFieldColor READ TextFieldColor WRITE setTextFieldColor NOTIFY propertyChanged)
    Q_PROPERTY(QColor NumericFieldColor READ NumericFieldColor WRITE setNumericFieldColor NOTIFY propertyChanged)
    Q_PROPERTY(QColor DateFieldColor READ DateFieldColor WRITE setDateFieldColor NOTIFY propertyChanged)
    Q_PROPERTY(bool CenterForm READ CenterForm WRITE setCenterForm NOTIFY propertyChanged)
    Q_PROPERTY(QVariant DscPath READ DscPath WRITE setDscPath NOTIFY propertyChanged)
    Q_PROPERTY(bool Modale READ Modale WRITE setModale NOTIFY propertyChanged)
    Q_PROPERTY(bool EditorVisible READ EditorVisible WRITE setEditorVisible STORED false DESIGNABLE false)
    Q_PROPERTY(bool CloseOnConfirm READ CloseOnConfirm WRITE setCloseOnConfirm NOTIFY propertyChanged)
    Q_PROPERTY(QString Connection READ Connection WRITE setConnection NOTIFY propertyChanged)
    Q_PROPERTY(QString LastInserted READ LastInserted WRITE setLastInserted STORED false DESIGNABLE false)
    Q_PROPERTY(QString LastView READ LastView WRITE setLastView STORED false DESIGNABLE false)
    Q_PROPERTY(QString DscPassword READ DscPassword WRITE setDscPassword NOTIFY propertyChanged)
    Q_PROPERTY(QString Language READ Language WRITE setLanguage NOTIFY propertyChanged)
    Q_PROPERTY(QString UserName READ UserName WRITE setUserName NOTIFY propertyChanged)
    Q_PROPERTY(bool LiveUpdates READ LiveUpdates WRITE setLiveUpdates NOTIFY propertyChanged)

public:
    /// A control with the initial values of its properties.
    explicit Norvix(QWidget *parent = nullptr);
    ~Norvix() override;

    /// Opens the editor on RecordName. `Indice`: none shows the first row, "" a new row, key values
    /// joined by commas that row. Does nothing while an editor is open (EditorVisible). Returns
    /// whether an editor was shown (false: one was open already, or the descriptor was missing or
    /// had no field to edit, which the user has been told).
    bool ShowTableEditor(const std::optional<QString> &Indice = std::nullopt);
    /// ShowTableEditor, the editor opening with its search panel shown: search layout `layout`
    /// (as the descriptor numbers it) chosen, `texts` in its inputs in order (the rest empty),
    /// and the search run, its rows in the list. A record without that layout opens as
    /// ShowTableEditor opens it, the user told.
    bool ShowTableSearch(int layout, const QStringList &texts, const std::optional<QString> &Indice = std::nullopt);
    /// Closes every open editor.
    void CloseEditor();
    /// The editor this control opened, while it is open.
    FrmEditTab *TableEditor() const;

    /// Only reading: every command but "Fine" is disabled.
    bool ReadOnly() const;
    void setReadOnly(bool v);
    /// The folder of the data (and, by default, of the descriptors).
    QString DbPath() const;
    void setDbPath(const QString &v);
    /// The SQLite file in DbPath, when Connection is empty.
    QString DatabaseName() const;
    void setDatabaseName(const QString &v);
    /// The record (table) to edit.
    QString RecordName() const;
    void setRecordName(const QString &v);
    /// The column shown beside the keys in the record list (empty: chosen by the editor).
    QVariant TableDescField() const;
    void setTableDescField(const QVariant &v);
    /// The editor's background colour.
    QColor BackColor() const;
    void setBackColor(const QColor &v);
    /// The background of text, number and date inputs.
    QColor TextFieldColor() const;
    void setTextFieldColor(const QColor &v);
    QColor NumericFieldColor() const;
    void setNumericFieldColor(const QColor &v);
    QColor DateFieldColor() const;
    void setDateFieldColor(const QColor &v);
    /// The editor opens centred on the screen (false: kept inside the work area).
    bool CenterForm() const;
    void setCenterForm(bool v);
    /// The folder of the descriptors (empty: DbPath).
    QVariant DscPath() const;
    void setDscPath(const QVariant &v);
    /// Where the data lives: a connection string (empty: DbPath + DatabaseName).
    QString Connection() const;
    void setConnection(const QString &v);
    /// Who makes the changes, named in the history of the records that keep one (STORIA,1).
    /// A new control, and a design saved without one, take the operating system's user name.
    QString UserName() const;
    void setUserName(const QString &v);
    /// Other users' changes show in the open editor as they are saved (default true); set while
    /// an editor is open, it applies to that one at once.
    bool LiveUpdates() const;
    void setLiveUpdates(bool v);

    /// Process-wide: editors open modally.
    static bool Modale();
    void setModale(bool v);
    /// Process-wide: an editor is open.
    static bool EditorVisible();
    void setEditorVisible(bool) {} // set only by the editor and CloseEditor()
    /// Process-wide: the editor closes after a save, cancel or delete.
    static bool CloseOnConfirm();
    void setCloseOnConfirm(bool v);
    /// Process-wide: the key text of the last row inserted by an editor.
    static QString LastInserted();
    void setLastInserted(const QString &v);
    /// Process-wide: the key text of the last row shown by an editor.
    static QString LastView();
    void setLastView(const QString &v);
    /// Process-wide: the password of descriptor databases.
    static QString DscPassword();
    void setDscPassword(const QString &v);
    /// The language of the editors' texts: "it", "en", or empty for the system's (an Italian,
    /// C or POSIX locale gives Italian, any other English). Applied when an editor opens.
    QString Language() const;
    void setLanguage(const QString &v);

    /// The design's properties: read back in the control, and saved.
    void readProperties(const PropertyBag &bag);
    void writeProperties(PropertyBag &bag) const;

    /// Moves a window (geometry in pixels) inside the work area `area`.
    static QRect KeepInWorkArea(const QRect &window, const QRect &area);

signals:
    /// A property changed.
    void propertyChanged();
    /// Declared for hosts that search rows themselves; the editor never raises it.
    void ExternalSearch(QString &Record, QString &Indice);
    /// The editor asks the host for the value of a field; the host may change Value.
    void ExternalHandler(QString &Record, QString &Field, QString &Value);
    /// The user asked for help on a field (F1).
    void Help(QString &RecordInEdit, QString &FieldInEdit);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void relayExternalHandler(QWidget *field);
    void relayHelp(const QString &record, const QString &field);
    void applyColors(FrmEditTab *editor) const;
    // Places the started editor and shows it (waiting, when modal, until it closes).
    void present(FrmEditTab *editor);

    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace Norvix
