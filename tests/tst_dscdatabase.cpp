#include <QTest>

class Tst_dscdatabase : public QObject
{
    Q_OBJECT
};

QTEST_GUILESS_MAIN(Tst_dscdatabase)
#include "tst_dscdatabase.moc"
