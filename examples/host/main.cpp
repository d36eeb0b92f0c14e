// A small host application: its main window comes from mainwindow.ui, which holds a Norvix control
// with its properties set in Designer. The buttons open the customer editor; the host answers the
// editor's requests for special fields and for help, and shows the key of the last row inserted.
//
//   norvix-host-example [DATA_FOLDER]     (a folder with demo.db and files.dsc)

#include "ui_mainwindow.h"

#include "control/norvix.h"
#include "ui/qtmessages.h"

#include <QApplication>
#include <QDateTime>
#include <QMainWindow>
#include <QMessageBox>
#include <QStatusBar>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Norvix::installQtWindowServices();
    QMainWindow window;
    Ui::MainWindow ui;
    ui.setupUi(&window);
    if (argc > 1)
        ui.norvix->setDbPath(QString::fromLocal8Bit(argv[1]));

    // Special fields ask the host for their value: here, a stamp the host makes up.
    QObject::connect(ui.norvix, &Norvix::Norvix::ExternalHandler, &window,
                     [&](QString &record, QString &field, QString &value) {
                         value = QStringLiteral("%1/%2 %3").arg(record, field, QDateTime::currentDateTime().toString(Qt::ISODate));
                     });
    QObject::connect(ui.norvix, &Norvix::Norvix::Help, &window, [&](QString &record, QString &field) {
        QMessageBox::information(&window, QStringLiteral("Aiuto"),
                                 QStringLiteral("Tabella %1, campo %2.").arg(record, field.isEmpty() ? QStringLiteral("-") : field));
    });
    const auto open = [&](std::optional<QString> key) {
        try {
            ui.norvix->ShowTableEditor(key);
        } catch (const Norvix::Error &e) {
            QMessageBox::warning(&window, window.windowTitle(), e.message());
        }
        const QString last = ui.norvix->LastInserted();
        ui.lastInserted->setText(last.isEmpty() ? QStringLiteral("Nessun cliente inserito.")
                                                : QStringLiteral("Ultimo cliente inserito: %1").arg(last));
    };
    QObject::connect(ui.openClients, &QPushButton::clicked, &window, [&] { open(std::nullopt); });
    QObject::connect(ui.newClient, &QPushButton::clicked, &window, [&] { open(QString()); });
    window.statusBar()->showMessage(QStringLiteral("Dati in %1").arg(ui.norvix->DbPath()));
    window.show();
    return app.exec();
}
