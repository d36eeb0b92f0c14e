#include <QTest>

class Tst_dsccli : public QObject
{
    Q_OBJECT
};

QTEST_GUILESS_MAIN(Tst_dsccli)
#include "tst_dsccli.moc"
