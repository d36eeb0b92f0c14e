#include "descriptor/descriptor.h"

#include <QObject>
#include <QTest>

using namespace Norvix;

namespace {
CampoPtr addField(Campi &campi, const QString &name, const QString &key)
{
    return campi.Add(name, QStringLiteral("desc"), QStringLiteral("TEXT"), 10, QString(), QString(), QString(),
                     QString(), QString(), QString(), QString(), QStringLiteral("TXTTEXT"), QString(), 1, 1, key);
}

template <typename F>
CollectionError::Kind failureOf(F &&f)
{
    try {
        f();
    } catch (const CollectionError &e) {
        return e.kind();
    }
    QTest::qFail("no CollectionError raised", __FILE__, __LINE__);
    return CollectionError::Kind(0);
}
} // namespace

class TstDescriptor : public QObject
{
    Q_OBJECT

private slots:
    void freshRecHasLazyChildrenAndAnIndex()
    {
        Rec rec;
        auto campi = rec.Campi();
        QCOMPARE(campi->Count(), 0);
        QCOMPARE(rec.Campi(), campi); // the same collection on a second read
        QVERIFY(rec.Indice());
        QCOMPARE(rec.Indice()->NomiCampi()->Count(), 0);
        QCOMPARE(rec.TipiRicerche(), rec.TipiRicerche());
        rec.setCampi(nullptr); // releasing the fields; a later read starts anew
        QVERIFY(rec.Campi() != campi);
    }

    void addStoresAllValuesAndLeavesScratchSlotsEmpty()
    {
        Campi campi;
        auto c = campi.Add(QStringLiteral("Nome"), QStringLiteral("Caption"), QStringLiteral("LONG"), 6,
                           QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("99"), QStringLiteral("X"),
                           QStringLiteral("f.db"), QStringLiteral("REF"), QStringLiteral("FLD"),
                           QStringLiteral("TXTNUMERIC"), QStringLiteral("0.00"), 7, 2.5f, QStringLiteral("Nome"));
        QCOMPARE(c->Nome(), u"Nome");
        QCOMPARE(c->Desc(), u"Caption");
        QCOMPARE(c->TIPO(), u"LONG");
        QCOMPARE(c->MaxLen(), 6);
        QCOMPARE(c->Default(), u"0");
        QCOMPARE(c->MinVal(), u"1");
        QCOMPARE(c->MaxVal(), u"99");
        QCOMPARE(c->CodPos(), u"X");
        QCOMPARE(c->FileRif(), u"f.db");
        QCOMPARE(c->RecRif(), u"REF");
        QCOMPARE(c->FieldRif().toString(), u"FLD");
        QCOMPARE(c->ObjType(), u"TXTNUMERIC");
        QCOMPARE(c->Format(), u"0.00");
        QCOMPARE(c->Indice(), 7);
        QCOMPARE(c->Page(), 2.5f);
        QVERIFY(!c->Tag().isValid());
        QVERIFY(c->SourceRif().isEmpty());
        QCOMPARE(campi.Item(1), c);
    }

    void keysIgnoreLetterCaseAndPositionsStartAtOne()
    {
        Campi campi;
        auto a = addField(campi, QStringLiteral("Nome"), QStringLiteral("Nome"));
        auto b = addField(campi, QStringLiteral("Anonimo"), QString()); // reachable by position only
        auto c = addField(campi, QStringLiteral("Città"), QStringLiteral("Città"));
        QCOMPARE(campi.Count(), 3);
        QCOMPARE(campi.Item("nome"), a);
        QCOMPARE(campi.Item("NOME"), a);
        QCOMPARE(campi.Item(2), b);
        QCOMPARE(campi.Item("CITTÀ"), c);
        QCOMPARE(campi.Key(2), QString());
    }

    void failuresChangeNothing()
    {
        Campi campi;
        auto a = addField(campi, QStringLiteral("A"), QStringLiteral("A"));
        addField(campi, QStringLiteral("B"), QStringLiteral("B"));

        QCOMPARE(failureOf([&] { campi.Item(0); }), CollectionError::SubscriptOutOfRange);
        QCOMPARE(failureOf([&] { campi.Item(3); }), CollectionError::SubscriptOutOfRange);
        QCOMPARE(failureOf([&] { campi.Item("C"); }), CollectionError::InvalidArgument);
        QCOMPARE(failureOf([&] { campi.Remove(-1); }), CollectionError::SubscriptOutOfRange);
        QCOMPARE(failureOf([&] { campi.Remove("zz"); }), CollectionError::InvalidArgument);
        QCOMPARE(failureOf([&] { addField(campi, QStringLiteral("other"), QStringLiteral("a")); }),
                 CollectionError::DuplicateKey);
        QCOMPARE(campi.Count(), 2);
        QCOMPARE(campi.Item(1), a);
    }

    void removeKeepsKeysAndOrderConsistent()
    {
        Campi campi;
        addField(campi, QStringLiteral("A"), QStringLiteral("A"));
        auto b = addField(campi, QStringLiteral("B"), QStringLiteral("B"));
        auto c = addField(campi, QStringLiteral("C"), QStringLiteral("C"));
        campi.Remove("a");
        QCOMPARE(campi.Count(), 2);
        QCOMPARE(campi.Item(1), b);
        QCOMPARE(campi.Item("c"), c);
        campi.Remove(1);
        QCOMPARE(campi.Item("C"), c);
        QCOMPARE(campi.Item(1), c);
        addField(campi, QStringLiteral("A"), QStringLiteral("a")); // a removed key can be used again
        QStringList order;
        for (const auto &f : campi)
            order << f->Nome();
        QCOMPARE(order, QStringList({QStringLiteral("C"), QStringLiteral("A")}));
    }

    void tagHoldsValuesOrObjects()
    {
        Campo c;
        c.setTag(QStringLiteral("REFILLCOMBO,3"));
        QCOMPARE(c.Tag().toString(), u"REFILLCOMBO,3");
        QObject obj;
        c.setTag(QVariant::fromValue(&obj));
        QCOMPARE(c.Tag().value<QObject *>(), &obj);
        c.setTag(42);
        QCOMPARE(c.Tag().toInt(), 42);
    }

    void objectsOutliveTheirTree()
    {
        std::weak_ptr<Campo> weakField;
        std::weak_ptr<RicTipo> weakLayout;
        CampoPtr kept;
        {
            auto rec = std::make_shared<Rec>();
            kept = addField(*rec->Campi(), QStringLiteral("KEEP"), QStringLiteral("KEEP"));
            weakField = addField(*rec->Campi(), QStringLiteral("GONE"), QStringLiteral("GONE"));
            weakLayout = rec->TipiRicerche()->Add(QStringLiteral("Per nome"), QStringLiteral("NOME"), QStringLiteral("1"));
            rec->Indice()->NomiCampi()->Add(QStringLiteral("KEEP"));
        }
        QCOMPARE(kept->Nome(), u"KEEP"); // still held by the editor
        QVERIFY(weakField.expired());
        QVERIFY(weakLayout.expired());
    }

    void otherCollectionsAddInTheirOrder()
    {
        TipiRicerche layouts;
        auto r = layouts.Add(QStringLiteral("Per nome"), QStringLiteral("NOME,CODICE"), QStringLiteral("1"));
        QCOMPARE(r->Descrizione(), u"Per nome");
        QCOMPARE(r->CampiMostrati(), u"NOME,CODICE");
        QCOMPARE(layouts.Key(1), u"1");
        auto cr = r->CampiRic()->Add(QStringLiteral("NOME"), QStringLiteral("TXTTEXT"), QStringLiteral("LIKE"));
        QCOMPARE(cr->Nome(), u"NOME");
        QCOMPARE(cr->CtrlType(), u"TXTTEXT");
        QCOMPARE(cr->SearchType(), u"LIKE");
        NomiCampi names;
        auto n = names.Add(QStringLiteral("CODICE"));
        QCOMPARE(n->ID(), u"CODICE");
        QVERIFY(n->TIPO().isEmpty());
        names.Add(QStringLiteral("CODICE")); // unkeyed elements may repeat
        QCOMPARE(names.Count(), 2);
    }
};

QTEST_GUILESS_MAIN(TstDescriptor)
#include "tst_descriptor.moc"
