// A host built against an installed Norvix: the control placed on a window is hidden once the
// window shows; with a path, the Designer plugin loads from there.

#include <control/norvix.h>

#include <QApplication>
#include <QMainWindow>
#include <QPluginLoader>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
    auto *norvix = new Norvix::Norvix(&window);
    norvix->setRecordName(QStringLiteral("CLIENTI"));
    window.show();
    QApplication::processEvents();
    if (norvix->isVisible()) {
        std::fprintf(stderr, "the control shows at run time\n");
        return 1;
    }
    if (argc > 1) {
        QPluginLoader plugin(QString::fromLocal8Bit(argv[1]));
        if (!plugin.load() || !plugin.instance()) {
            std::fprintf(stderr, "the Designer plugin does not load: %s\n", qPrintable(plugin.errorString()));
            return 1;
        }
    }
    std::puts("ok");
    return 0;
}
