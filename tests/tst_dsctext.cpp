#include <QTest>

class Tst_dsctext : public QObject
{
    Q_OBJECT
};

QTEST_GUILESS_MAIN(Tst_dsctext)
#include "tst_dsctext.moc"
