#include "control/norvix.h"
#include "platform/language.h"
#include "platform/messages.h"

#include <QMetaMethod>

#include "descriptor/descriptor.h"
#include "descriptor/dscdatabase.h"
#include "editor/frmedittab.h"
#include "editor/frmedittab_p.h"
#include "editor/shared.h"
#include "platform/window.h"
#include "ui/qtmessages.h"

#include <QApplication>
#include <QCheckBox>
#include <QEventLoop>
#include <QLineEdit>
#include <QPainter>
#include <QSettings>

namespace Norvix {

namespace {

// The colours of the field templates and of the editor's background: one set for the process,
// carried to every editor that opens.
struct Colors
{
    QColor back = QApplication::palette().color(QPalette::Button);
    QColor text = Qt::white;
    QColor numeric = Qt::white;
    QColor date = Qt::white;
};
Colors &colors()
{
    static Colors c;
    return c;
}

// Colours are kept in designs as 0xBBGGRR numbers, as older designs hold them.
QVariant colorToBag(const QColor &c)
{
    return qlonglong(c.red() | (c.green() << 8) | (c.blue() << 16));
}
QColor colorFromBag(const QVariant &v, const QColor &fallback)
{
    if (v.canConvert<QColor>() && v.typeId() == QMetaType::QColor)
        return v.value<QColor>();
    bool ok = false;
    const qlonglong n = v.toString().startsWith(u'#') ? -1 : v.toLongLong(&ok);
    if (!ok) {
        const QColor named(v.toString());
        return named.isValid() ? named : fallback;
    }
    if (n & 0x80000000LL) // a system colour: the button face
        return QApplication::palette().color(QPalette::Button);
    return QColor(int(n & 0xFF), int((n >> 8) & 0xFF), int((n >> 16) & 0xFF));
}

const qlonglong kWhite = 0xFFFFFF;
const qlonglong kButtonFace = 0x8000000F;

} // namespace

struct SettingsPropertyBag::Impl
{
    QSettings settings;
    QString group;
    Impl(const QString &file, const QString &g) : settings(file, QSettings::IniFormat), group(g) {}
};

SettingsPropertyBag::SettingsPropertyBag(const QString &fileName, const QString &group)
    : d(std::make_unique<Impl>(fileName, group))
{
}
SettingsPropertyBag::~SettingsPropertyBag() = default;

QVariant SettingsPropertyBag::readProperty(const QString &name, const QVariant &defaultValue) const
{
    d->settings.beginGroup(d->group);
    QVariant v = d->settings.value(name, defaultValue);
    d->settings.endGroup();
    // INI files hold text: give back the type of the default.
    if (defaultValue.isValid() && v.typeId() == QMetaType::QString && defaultValue.typeId() != QMetaType::QString) {
        QVariant converted = v;
        if (converted.convert(defaultValue.metaType()))
            return converted;
        if (defaultValue.typeId() == QMetaType::Bool)
            return v.toString().compare(u"true", Qt::CaseInsensitive) == 0 || v.toString() == u"1" || v.toString() == u"-1";
    }
    return v;
}

void SettingsPropertyBag::writeProperty(const QString &name, const QVariant &value, const QVariant &)
{
    d->settings.beginGroup(d->group);
    d->settings.setValue(name, value);
    d->settings.endGroup();
}

void SettingsPropertyBag::sync()
{
    d->settings.sync();
}

struct MemoryPropertyBag::Private
{
    QVariantMap values;
};

MemoryPropertyBag::MemoryPropertyBag() : d(std::make_unique<Private>()) {}
MemoryPropertyBag::~MemoryPropertyBag() = default;

QVariant MemoryPropertyBag::readProperty(const QString &name, const QVariant &defaultValue) const
{
    return d->values.value(name, defaultValue);
}

void MemoryPropertyBag::writeProperty(const QString &name, const QVariant &value, const QVariant &)
{
    d->values.insert(name, value);
}

QVariantMap MemoryPropertyBag::values() const
{
    return d->values;
}

struct Norvix::Private
{
    bool readOnly = false;
    QString dbPath, databaseName, recordName, connection;
    QVariant tableDescField = QString(), dscPath = QString();
    bool centerForm = true;
    QPointer<FrmEditTab> editor;
    std::optional<std::pair<int, QStringList>> search; // for the editor being shown
    QString language;
    QString userName = systemUserName();
    bool liveUpdates = true;
};

Norvix::Norvix(QWidget *parent) : QWidget(parent), d(std::make_unique<Private>())
{
    setObjectName(QStringLiteral("Norvix"));
    registerWindowServices();
    setFixedSize(48, 48);
    // Nothing of it shows at run time: it opens editors. A designer shows it again (see the
    // Designer plugin) to place it and set its properties.
    hide();
    // New control: the initial values, each through its setter.
    setCenterForm(true);
    setReadOnly(false);
    setModale(true);
    setDbPath(QString());
    setDatabaseName(QString());
    setRecordName(QString());
    setTableDescField(QString());
    setDscPath(QString());
    setCloseOnConfirm(false);
    setLastInserted(QString());
    setLastView(QString());
    setDscPassword(QString());
    setConnection(QString());
    setUserName(systemUserName());
    setLiveUpdates(true);
}

Norvix::~Norvix()
{
    // An editor in the middle of an operation gives it up and goes when it ends (the host that
    // would hear of it is going); an idle one closes as CloseEditor() closes it.
    if (d->editor)
        FrmEditTabPrivate::of(*d->editor).ownerGone();
    CloseEditor();
}

void Norvix::paintEvent(QPaintEvent *)
{
    // A labelled placeholder where a designer (or a host, on purpose) shows it.
    QPainter p(this);
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    p.drawText(rect(), Qt::AlignCenter, QStringLiteral("Norvix"));
}

bool Norvix::ReadOnly() const { return d->readOnly; }
void Norvix::setReadOnly(bool v) { d->readOnly = v; emit propertyChanged(); }
QString Norvix::DbPath() const { return d->dbPath; }
void Norvix::setDbPath(const QString &v) { d->dbPath = v; emit propertyChanged(); }
QString Norvix::DatabaseName() const { return d->databaseName; }
void Norvix::setDatabaseName(const QString &v) { d->databaseName = v; emit propertyChanged(); }
QString Norvix::RecordName() const { return d->recordName; }
void Norvix::setRecordName(const QString &v) { d->recordName = v; emit propertyChanged(); }
QVariant Norvix::TableDescField() const { return d->tableDescField; }
void Norvix::setTableDescField(const QVariant &v) { d->tableDescField = v.toString(); emit propertyChanged(); }
bool Norvix::CenterForm() const { return d->centerForm; }
void Norvix::setCenterForm(bool v) { d->centerForm = v; emit propertyChanged(); }
QVariant Norvix::DscPath() const { return d->dscPath; }
void Norvix::setDscPath(const QVariant &v) { d->dscPath = v.toString(); emit propertyChanged(); }
QString Norvix::Connection() const { return d->connection; }
void Norvix::setConnection(const QString &v) { d->connection = v; emit propertyChanged(); }
QString Norvix::UserName() const { return d->userName; }
void Norvix::setUserName(const QString &v) { d->userName = v; emit propertyChanged(); }
bool Norvix::LiveUpdates() const { return d->liveUpdates; }
void Norvix::setLiveUpdates(bool v)
{
    d->liveUpdates = v;
    if (d->editor) {
        LiveView &live = FrmEditTabPrivate::of(*d->editor).live;
        live.setEnabled(v);
        if (v)
            live.start();
        else
            live.stop();
    }
    emit propertyChanged();
}

FrmEditTab *Norvix::TableEditor() const
{
    return d->editor.data();
}

QColor Norvix::BackColor() const { return colors().back; }
void Norvix::setBackColor(const QColor &v) { colors().back = v; emit propertyChanged(); }
QColor Norvix::TextFieldColor() const { return colors().text; }
void Norvix::setTextFieldColor(const QColor &v) { colors().text = v; emit propertyChanged(); }
QColor Norvix::NumericFieldColor() const { return colors().numeric; }
void Norvix::setNumericFieldColor(const QColor &v) { colors().numeric = v; emit propertyChanged(); }
QColor Norvix::DateFieldColor() const { return colors().date; }
void Norvix::setDateFieldColor(const QColor &v) { colors().date = v; emit propertyChanged(); }

bool Norvix::Modale() { return SharedSettings::process().modal; }
void Norvix::setModale(bool v) { SharedSettings::process().modal = v; emit propertyChanged(); }
bool Norvix::EditorVisible() { return SharedSettings::process().editorVisible; }
bool Norvix::CloseOnConfirm() { return SharedSettings::process().closeOnConfirm; }
void Norvix::setCloseOnConfirm(bool v) { SharedSettings::process().closeOnConfirm = v; emit propertyChanged(); }
QString Norvix::LastInserted() { return SharedSettings::process().lastInserted; }
void Norvix::setLastInserted(const QString &v) { SharedSettings::process().lastInserted = v; emit propertyChanged(); }
QString Norvix::LastView() { return SharedSettings::process().lastView; }
void Norvix::setLastView(const QString &v) { SharedSettings::process().lastView = v; emit propertyChanged(); }
QString Norvix::DscPassword() { return dscPassword(); }
void Norvix::setDscPassword(const QString &v) { ::Norvix::setDscPassword(v); emit propertyChanged(); }

void Norvix::readProperties(const PropertyBag &bag)
{
    setDatabaseName(bag.readProperty(QStringLiteral("DatabaseName"), QString()).toString());
    setDbPath(bag.readProperty(QStringLiteral("DbPath"), QString()).toString());
    setReadOnly(bag.readProperty(QStringLiteral("ReadOnly"), false).toBool());
    setRecordName(bag.readProperty(QStringLiteral("RecordName"), QString()).toString());
    setTableDescField(bag.readProperty(QStringLiteral("TableDescField"), QString()));
    setDscPath(bag.readProperty(QStringLiteral("DscPath"), QString()));
    setCenterForm(bag.readProperty(QStringLiteral("CenterForm"), true).toBool());
    setModale(bag.readProperty(QStringLiteral("Modale"), true).toBool());
    setCloseOnConfirm(bag.readProperty(QStringLiteral("CloseOnConfirm"), false).toBool());
    ::Norvix::setDscPassword(bag.readProperty(QStringLiteral("DscPassword"), QString()).toString());
    d->connection = bag.readProperty(QStringLiteral("Connection"), QString()).toString();
    setUserName(bag.readProperty(QStringLiteral("UserName"), systemUserName()).toString());
    setLiveUpdates(bag.readProperty(QStringLiteral("LiveUpdates"), true).toBool());
    colors().text = colorFromBag(bag.readProperty(QStringLiteral("TextFieldColor"), kWhite), Qt::white);
    colors().numeric = colorFromBag(bag.readProperty(QStringLiteral("NumericFieldColor"), kWhite), Qt::white);
    colors().date = colorFromBag(bag.readProperty(QStringLiteral("DateFieldColor"), kWhite), Qt::white);
    colors().back = colorFromBag(bag.readProperty(QStringLiteral("BackColor"), kButtonFace),
                                 QApplication::palette().color(QPalette::Button));
}

void Norvix::writeProperties(PropertyBag &bag) const
{
    bag.writeProperty(QStringLiteral("DatabaseName"), DatabaseName(), QString());
    bag.writeProperty(QStringLiteral("DbPath"), DbPath(), QString());
    bag.writeProperty(QStringLiteral("ReadOnly"), ReadOnly(), false);
    bag.writeProperty(QStringLiteral("RecordName"), RecordName(), QString());
    bag.writeProperty(QStringLiteral("TableDescField"), TableDescField().toString(), QString());
    bag.writeProperty(QStringLiteral("DscPath"), DscPath().toString(), QString());
    bag.writeProperty(QStringLiteral("CenterForm"), CenterForm(), true);
    bag.writeProperty(QStringLiteral("Modale"), Modale(), true);
    bag.writeProperty(QStringLiteral("DscPassword"), dscPassword(), QString());
    bag.writeProperty(QStringLiteral("Connection"), d->connection, QString());
    bag.writeProperty(QStringLiteral("CloseOnConfirm"), CloseOnConfirm(), false);
    bag.writeProperty(QStringLiteral("UserName"), UserName(), systemUserName());
    bag.writeProperty(QStringLiteral("LiveUpdates"), LiveUpdates(), true);
    bag.writeProperty(QStringLiteral("TextFieldColor"), colorToBag(TextFieldColor()), kWhite);
    bag.writeProperty(QStringLiteral("NumericFieldColor"), colorToBag(NumericFieldColor()), kWhite);
    bag.writeProperty(QStringLiteral("DateFieldColor"), colorToBag(DateFieldColor()), kWhite);
    bag.writeProperty(QStringLiteral("BackColor"), colorToBag(BackColor()), kButtonFace);
}

QRect Norvix::KeepInWorkArea(const QRect &window, const QRect &area)
{
    QRect r = window;
    if (r.top() < area.top())
        r.moveTop(area.top());
    if (r.left() < area.left())
        r.moveLeft(area.left());
    if (r.left() + r.width() > area.left() + area.width())
        r.moveLeft(area.left() + area.width() - r.width());
    if (r.top() + r.height() > area.top() + area.height())
        r.moveTop(area.top() + area.height() - r.height());
    return r;
}

void Norvix::applyColors(FrmEditTab *editor) const
{
    QPalette back = editor->palette();
    back.setColor(QPalette::Window, colors().back);
    editor->setPalette(back);
    editor->setAutoFillBackground(true);
    for (QWidget *w : editor->fieldControls()) {
        const QString name = w->objectName();
        QColor c;
        if (name.startsWith(u"TxtText"))
            c = colors().text;
        else if (name.startsWith(u"TxtNumeric"))
            c = colors().numeric;
        else if (name.startsWith(u"TxtDate") || name.startsWith(u"TxtUMOD"))
            c = colors().date;
        if (!c.isValid())
            continue;
        QPalette p = w->palette();
        p.setColor(QPalette::Base, c);
        w->setPalette(p);
    }
}

QString Norvix::Language() const { return d->language; }
void Norvix::setLanguage(const QString &v)
{
    d->language = v.trimmed().toLower() == u"en" ? QStringLiteral("en") : v.trimmed().toLower() == u"it" ? QStringLiteral("it") : QString();
    emit propertyChanged();
}

bool Norvix::ShowTableEditor(const std::optional<QString> &Indice)
{
    // One editor at a time, from the call that opens it until it closes: a call made meanwhile (a
    // host's timer while the start-up waits for the database, an event) opens nothing.
    static bool opening = false;
    if (SharedSettings::process().editorVisible || opening)
        return false;
    const struct Opening
    {
        Opening() { opening = true; }
        ~Opening() { opening = false; }
        Opening(const Opening &) = delete;
        Opening &operator=(const Opening &) = delete;
    } openingNow;
    if (!d->language.isEmpty())
        ::Norvix::setLanguage(d->language);
    installQtTranslations();
    // The start-up may let the host close the editor, and so delete it, or delete this control:
    // both are held by guards.
    const QPointer<Norvix> self(this);
    const QPointer<FrmEditTab> editor = new FrmEditTab(window());
    editor->setAttribute(Qt::WA_DeleteOnClose);
    d->editor = editor;
    connect(editor, &FrmEditTab::CloseEditor, this, [this] { d->editor = nullptr; });
    connect(editor, &FrmEditTab::Help, this, &Norvix::relayHelp);
    connect(editor, &FrmEditTab::ExternalHandler, this, &Norvix::relayExternalHandler);
    SharedSettings::process().lastInserted.clear();
    SharedSettings::process().lastView.clear();
    const auto drop = [&] {
        if (self)
            d->editor = nullptr;
        if (editor)
            editor->deleteLater();
    };
    FrmEditTabPrivate::of(*editor).session.setUser(d->userName);
    FrmEditTabPrivate::of(*editor).live.setEnabled(d->liveUpdates);
    try {
        editor->START(d->connection, d->dbPath, d->databaseName, d->recordName, d->dscPath.toString(),
                      d->tableDescField.toString(), d->readOnly, Indice);
        if (self && editor && editor->CanShow()) {
            applyColors(editor);
            if (const auto search = std::exchange(d->search, std::nullopt))
                editor->Search(search->first, search->second);
        }
    } catch (...) {
        drop();
        if (!self)
            return false; // deleted by its host meanwhile: the start was given up, nobody to tell
        throw;            // the host hears of a connection or descriptor it must fix
    }
    if (!self || !editor || !editor->CanShow()) { // nothing to edit, closed or its host gone
        drop();
        return false;
    }
    present(editor);
    return true;
}

void Norvix::present(FrmEditTab *editor)
{
    // The frame the window manager is about to draw is counted.
    const QRect frame(editor->pos(), editor->size().grownBy(screenService().frameMargins()));
    if (!d->centerForm) {
        editor->move(KeepInWorkArea(frame, screenService().workArea()).topLeft());
    } else {
        const QRect screen = screenService().screenGeometry();
        editor->move(screen.left() + screen.width() / 2 - frame.width() / 2,
                     screen.top() + screen.height() / 2 - frame.height() / 2);
    }
    if (SharedSettings::process().modal) {
        // Blocks until the editor is closed, or hidden to let the host answer an event (it then
        // stays open, modeless).
        QPointer<FrmEditTab> guard(editor);
        QEventLoop wait;
        connect(editor, &FrmEditTab::Hidden, &wait, &QEventLoop::quit);
        connect(editor, &QObject::destroyed, &wait, &QEventLoop::quit);
        editor->setWindowModality(Qt::ApplicationModal);
        editor->show();
        if (guard && guard->isVisible())
            wait.exec(QEventLoop::DialogExec);
    } else {
        editor->setModal(false);
        editor->show();
    }
}

bool Norvix::ShowTableSearch(int layout, const QStringList &texts, const std::optional<QString> &Indice)
{
    d->search = std::pair{layout, texts};
    const QPointer<Norvix> self(this); // the host may delete it while the editor is open
    const bool shown = ShowTableEditor(Indice);
    if (self)
        d->search.reset();
    return shown;
}

void Norvix::CloseEditor()
{
    // A close may ask the user, and timers run meanwhile: they may delete editors or this control.
    const QPointer<Norvix> self(this);
    QList<QPointer<FrmEditTab>> editors;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *e = qobject_cast<FrmEditTab *>(w); e && e->isVisible())
            editors << e;
    for (const QPointer<FrmEditTab> &e : editors)
        if (e)
            e->close();
    // One that is starting, saving or waiting closes when that ends; one whose user kept the
    // changes stays open (and EditorVisible with it).
    if (self && d->editor)
        d->editor->close();
}

void Norvix::relayExternalHandler(QWidget *field)
{
    FrmEditTab *editor = qobject_cast<FrmEditTab *>(sender());
    if (!editor || !field)
        return;
    const bool modal = SharedSettings::process().modal && editor->isModal();
    if (modal)
        editor->hide(); // ends the modal wait: the editor stays open, modeless
    QString record = editor->rec() ? editor->rec()->Nome() : d->recordName;
    QString column = field->property("DataField").toString();
    QString value = FrmEditTab::controlText(field);
    const QPointer<Norvix> self(this);
    const QPointer<FrmEditTab> guard(editor);
    emit ExternalHandler(record, column, value);
    if (!self || !guard || !guard->CanShow())
        return; // the host deleted this control or the editor's window meanwhile
    FrmEditTab::setControlText(field, value);
    if (modal) {
        editor->setWindowModality(Qt::NonModal);
        editor->show();
    }
    editor->raise();
    editor->activateWindow();
}

void Norvix::relayHelp(const QString &record, const QString &field)
{
    // A host that gives no help of its own: the editor's keys.
    if (!isSignalConnected(QMetaMethod::fromSignal(&Norvix::Help))) {
        msgBox(nxTr("Tasti dell'editor:\n\n"
                    "Ctrl+S\tconferma la riga, come \"Conferma\"\n"
                    "Ctrl+N\tinizia una riga nuova, come \"Nuovo\"\n"
                    "Ctrl+F\tmostra il pannello di ricerca (Invio cerca, Esc torna all'elenco intero)\n"
                    "F2\tin un campo collegato, apre l'editor della tabella collegata\n"
                    "Esc\tchiude l'editor\n"
                    "F1\tquesto aiuto"),
               MsgButtons::OkOnly, nxTr("Aiuto"));
        return;
    }
    FrmEditTab *editor = qobject_cast<FrmEditTab *>(sender());
    const bool modal = editor && SharedSettings::process().modal && editor->isModal();
    if (modal)
        editor->hide();
    QString r = record, f = field;
    const QPointer<Norvix> self(this);
    const QPointer<FrmEditTab> guard(editor);
    emit Help(r, f);
    if (modal && self && guard && guard->CanShow()) {
        editor->setWindowModality(Qt::NonModal);
        editor->show();
    }
}

} // namespace Norvix
