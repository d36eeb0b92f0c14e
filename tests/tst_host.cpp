#include "ui_mainwindow.h"

#include "control/norvix.h"
#include "editor/shared.h"

#include <QMainWindow>
#include <QTest>

// The example host's window, made by uic from its .ui file: the control's properties set in
// Designer reach the control.
class TstHost : public QObject
{
    Q_OBJECT

private slots:
    void designedPropertiesReachTheControl()
    {
        ::Norvix::SharedSettings::process().closeOnConfirm = true;
        QMainWindow window;
        Ui::MainWindow ui;
        ui.setupUi(&window);
        QCOMPARE(ui.norvix->RecordName(), u"CLIENTI");
        QCOMPARE(ui.norvix->DatabaseName(), u"demo.db");
        QCOMPARE(ui.norvix->TableDescField().toString(), u"NOME");
        QVERIFY(ui.norvix->Modale());
        QVERIFY(!ui.norvix->CloseOnConfirm());
        QCOMPARE(ui.norvix->TextFieldColor(), QColor(255, 255, 240));
        QCOMPARE(ui.norvix->objectName(), u"norvix");
        // Placed on the window, the control is not seen once the window shows.
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(!ui.norvix->isVisible() && ui.norvix->isHidden());
    }
};

QTEST_MAIN(TstHost)
#include "tst_host.moc"
