#include <QTest>

class Tst_values : public QObject
{
    Q_OBJECT
};

QTEST_GUILESS_MAIN(Tst_values)
#include "tst_values.moc"
