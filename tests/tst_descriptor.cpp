#include <QTest>

class Tst_descriptor : public QObject
{
    Q_OBJECT
};

QTEST_GUILESS_MAIN(Tst_descriptor)
#include "tst_descriptor.moc"
