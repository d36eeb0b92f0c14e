#include <QTest>

class Tst_estraitoken : public QObject
{
    Q_OBJECT
};

QTEST_GUILESS_MAIN(Tst_estraitoken)
#include "tst_estraitoken.moc"
