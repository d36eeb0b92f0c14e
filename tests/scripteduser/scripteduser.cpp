// A user of the norvix program for the tests that run it: a Qt generic plugin, loaded into the
// program by QT_PLUGIN_PATH and QT_QPA_GENERIC_PLUGINS=scripteduser, that acts out the steps of
// NORVIX_TEST_USER in the first window shown. Steps are separated by ";": "NAME=TEXT" types TEXT
// into the line edit named NAME, "NAME" clicks the button named NAME.

#include <QApplication>
#include <QGenericPlugin>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

class ScriptedUser : public QGenericPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "scripteduser.json")

public:
    QObject *create(const QString &, const QString &) override
    {
        auto *timer = new QTimer;
        connect(timer, &QTimer::timeout, timer, [timer] {
            const QStringList steps = qEnvironmentVariable("NORVIX_TEST_USER").split(u';');
            for (QWidget *window : QApplication::topLevelWidgets()) {
                if (!window->isVisible() || !window->findChild<QWidget *>(steps.first().section(u'=', 0, 0)))
                    continue;
                timer->stop();
                for (const QString &step : steps) {
                    if (auto *edit = window->findChild<QLineEdit *>(step.section(u'=', 0, 0)); edit && step.contains(u'='))
                        QTest::keyClicks(edit, step.section(u'=', 1));
                    else if (auto *button = window->findChild<QPushButton *>(step))
                        button->click();
                }
                return;
            }
        });
        timer->start(20);
        return timer;
    }
};

#include "scripteduser.moc"
