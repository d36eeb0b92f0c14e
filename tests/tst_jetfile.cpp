#include <QTest>

class Tst_jetfile : public QObject
{
    Q_OBJECT
};

QTEST_GUILESS_MAIN(Tst_jetfile)
#include "tst_jetfile.moc"
