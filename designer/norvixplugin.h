#pragma once

#include <QtUiPlugin/QDesignerCustomWidgetInterface>

// Puts the Norvix control in Qt Designer's widget box, group "Norvix".
class NorvixDesignerPlugin : public QObject, public QDesignerCustomWidgetInterface
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QDesignerCustomWidgetInterface")
    Q_INTERFACES(QDesignerCustomWidgetInterface)

public:
    explicit NorvixDesignerPlugin(QObject *parent = nullptr) : QObject(parent) {}

    QString name() const override { return QStringLiteral("Norvix::Norvix"); }
    QString group() const override { return QStringLiteral("Norvix"); }
    QString toolTip() const override { return QStringLiteral("Editor di tabelle guidato dai descrittori"); }
    QString whatsThis() const override
    {
        return QStringLiteral("Set DbPath, DatabaseName, RecordName and DscPath, then call ShowTableEditor().");
    }
    QString includeFile() const override { return QStringLiteral("control/norvix.h"); }
    QIcon icon() const override { return QIcon(QStringLiteral(":/norvix/designer/org.norvix.Norvix.svg")); }
    bool isContainer() const override { return false; }
    QWidget *createWidget(QWidget *parent) override;
    bool isInitialized() const override { return m_initialized; }
    void initialize(QDesignerFormEditorInterface *) override { m_initialized = true; }
    QString domXml() const override
    {
        return QStringLiteral("<ui language=\"c++\"><widget class=\"Norvix::Norvix\" name=\"norvix\"/></ui>");
    }

private:
    bool m_initialized = false;
};
