#include "descriptor/dscjson.h"
#include "descriptor/dsctext.h"
#include "testutil.h"

#include <QTest>

using namespace Norvix;

namespace {

std::unique_ptr<Rec> load(const QString &text, const QString &record)
{
    auto rec = std::make_unique<Rec>();
    TextLineSource source(text.toUtf8());
    readDsc(source, record, *rec, QStringLiteral("files.dsc"));
    return rec;
}

std::unique_ptr<Rec> load(const QStringList &lines, const QString &record = QStringLiteral("T"))
{
    return load(lines.join(u'\n'), record);
}

// A one-record descriptor with the given CAMPO line.
CampoPtr field(const QString &campoLine)
{
    auto rec = load(QStringList{QStringLiteral("RECORD,T,Test,1"), campoLine});
    if (rec->Campi()->Count() != 1)
        qFatal("line did not yield one field: %s", qPrintable(campoLine));
    return rec->Campi()->Item(1);
}

QStringList names(Rec &rec)
{
    QStringList out;
    for (const auto &c : *rec.Campi())
        out << c->Nome();
    return out;
}

QStringList indexIds(Rec &rec)
{
    QStringList out;
    for (const auto &n : *rec.Indice()->NomiCampi())
        out << n->ID();
    return out;
}

const char kExample[] = "' anagrafica\n"
                        "RECORD,CLIENTI,Clienti,1,Generale,Indirizzi\n"
                        "CAMPO,CODICE,Codice,LONG,6,,1,,X,,,,,,1\n"
                        "CAMPO,NOME,Ragione sociale,TEXT,40,,,,,,,,,,1\n"
                        "CAMPO,PROV,Provincia,TEXT,2,,,,,,PROVINCE,NOME,,,2\n"
                        "CAMPO,NATO,Data di nascita,DATE,,,,,,,,,,,2\n"
                        "CAMPO,ATTIVO,Attivo,BOOLEAN,,,,,,,,,,,1\n"
                        "RICERCA,1,MOSTRA,Per nome,NOME,CODICE\n"
                        "RICERCA,1,SELEZIONE,NOME,,LIKE\n"
                        "INDICE,PrimaryKey,+CODICE,-1,-1\n"
                        "CAMPO,NOTE,Note,MEMO,,,,,,,,,,,1\n";

} // namespace

class TstDscText : public QObject
{
    Q_OBJECT

private slots:
    void exampleSection()
    {
        auto rec = load(QString::fromLatin1(kExample), QStringLiteral("clienti"));
        QCOMPARE(rec->Nome(), u"CLIENTI");
        QCOMPARE(rec->Desc(), u"Clienti");
        QCOMPARE(rec->TipiRicerche()->Standard(), u"1");
        QCOMPARE(rec->NomiPagine(), u"Generale,Indirizzi");
        QCOMPARE(names(*rec), QStringList({"CODICE", "NOME", "PROV", "NATO", "ATTIVO"})); // NOTE never read

        auto c = rec->Campi()->Item("codice");
        QCOMPARE(c->MaxLen(), 6);
        QCOMPARE(c->MinVal(), u"1");
        QCOMPARE(c->MaxVal(), u"2147483647");
        QCOMPARE(c->ObjType(), u"TXTNUMERIC");
        QCOMPARE(c->Page(), 1.0f);
        QCOMPARE(c->Indice(), 1);
        QCOMPARE(c->CodPos(), u"X");
        QCOMPARE(rec->Campi()->Item("NOME")->ObjType(), u"TXTTEXT");
        QVERIFY(rec->Campi()->Item("NOME")->CodPos().isEmpty());
        auto prov = rec->Campi()->Item("PROV");
        QCOMPARE(prov->ObjType(), u"COMBOBOX");
        QCOMPARE(prov->Page(), 2.0f);
        QCOMPARE(prov->RecRif(), u"PROVINCE");
        QCOMPARE(prov->FieldRif().toString(), u"NOME");
        QCOMPARE(prov->Indice(), 3);
        auto nato = rec->Campi()->Item("NATO");
        QCOMPARE(nato->MaxLen(), 15);
        QCOMPARE(nato->Format(), u"dd/mm/yyyy");
        QCOMPARE(nato->ObjType(), u"TXTDATE");
        auto attivo = rec->Campi()->Item("ATTIVO");
        QCOMPARE(attivo->MaxLen(), 5);
        QCOMPARE(attivo->Default(), u"TRUE");
        QCOMPARE(attivo->MinVal(), u"FALSE");
        QCOMPARE(attivo->MaxVal(), u"TRUE");
        QCOMPARE(attivo->ObjType(), u"CHECKBOX");

        auto layout = rec->TipiRicerche()->Item("1");
        QCOMPARE(layout->Descrizione(), u"Per nome");
        QCOMPARE(layout->CampiMostrati(), u"NOME,CODICE");
        QCOMPARE(layout->CampiRic()->Count(), 1);
        QCOMPARE(layout->CampiRic()->Item(1)->Nome(), u"NOME");
        QCOMPARE(layout->CampiRic()->Item(1)->CtrlType(), u"TXTTEXT");
        QCOMPARE(layout->CampiRic()->Item(1)->SearchType(), u"LIKE");
        QCOMPARE(rec->Indice()->Nome(), u"PrimaryKey");
        QCOMPARE(indexIds(*rec), QStringList({"CODICE"}));
    }

    void untidyLineBuildsTheSameField()
    {
        auto tidy = field(QStringLiteral("CAMPO,NOME,Ragione sociale,TEXT,40,,A,,X"));
        auto untidy = field(QStringLiteral("  campo ,  NOME ,Ragione sociale  , text , 40 ,, A ,, X "));
        Rec a, b;
        QCOMPARE(untidy->TIPO(), u"TEXT");
        QCOMPARE(untidy->ObjType(), u"TXTTEXT");
        QCOMPARE(untidy->Page(), 1.0f);
        QCOMPARE(untidy->Indice(), 1);
        for (auto *f : {&tidy, &untidy}) {
            QCOMPARE((*f)->Nome(), u"NOME");
            QCOMPARE((*f)->Desc(), u"Ragione sociale");
            QCOMPARE((*f)->MaxLen(), 40);
            QCOMPARE((*f)->MinVal(), u"A");
            QCOMPARE((*f)->CodPos(), u"X");
        }
    }

    void typeDefaults_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("maxLen");
        QTest::addColumn<QString>("def");
        QTest::addColumn<QString>("minVal");
        QTest::addColumn<QString>("maxVal");
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("objType");

        QTest::newRow("boolean forces its kind") << "CAMPO,F,F,BOOLEAN,,,,,,,,,TXTTEXT" << 5 << "TRUE" << "FALSE" << "TRUE" << "" << "CHECKBOX";
        QTest::newRow("boolean keeps a default") << "CAMPO,F,F,boolean,1,FALSE,X,Y" << 5 << "FALSE" << "FALSE" << "TRUE" << "" << "CHECKBOX";
        QTest::newRow("byte") << "CAMPO,F,F,BYTE,9" << 3 << "" << "" << "255" << "" << "TXTNUMERIC";
        QTest::newRow("integer default max") << "CAMPO,F,F,INTEGER,4" << 4 << "" << "" << "32767" << "" << "TXTNUMERIC";
        QTest::newRow("integer given max") << "CAMPO,F,F,INTEGER,4,,,100" << 4 << "" << "" << "100" << "" << "TXTNUMERIC";
        QTest::newRow("long") << "CAMPO,F,F,LONG,6,,1" << 6 << "" << "1" << "2147483647" << "" << "TXTNUMERIC";
        QTest::newRow("single") << "CAMPO,F,F,SINGLE" << 0 << "" << "" << "3.402823E38" << "" << "TXTNUMERIC";
        QTest::newRow("double has no bound") << "CAMPO,F,F,DOUBLE" << 0 << "" << "" << "" << "" << "TXTNUMERIC";
        QTest::newRow("currency") << "CAMPO,F,F,CURRENCY,12" << 12 << "" << "" << "922337203685477.5807" << "" << "TXTNUMERIC";
        QTest::newRow("decimal") << "CAMPO,F,F,DECIMAL" << 0 << "" << "" << "79228162514264337593543950335" << "" << "TXTNUMERIC";
        QTest::newRow("numeric keeps a given kind") << "CAMPO,F,F,LONG,,,,,,,,,specialnumeric" << 0 << "" << "" << "2147483647" << "" << "SPECIALNUMERIC";
        QTest::newRow("date keeps date bounds") << "CAMPO,F,F,DATE,3,,01/01/1900,31/12/2099" << 15 << "" << "01/01/1900" << "31/12/2099" << "dd/mm/yyyy" << "TXTDATE";
        QTest::newRow("date drops other bounds") << "CAMPO,F,F,DATE,,,oggi,31/02/2001" << 15 << "" << "" << "" << "dd/mm/yyyy" << "TXTDATE";
        QTest::newRow("date keeps its format") << "CAMPO,F,F,DATE,,NOW,,,,,,,,\"dd/mm/yyyy hh:nn\"" << 15 << "NOW" << "" << "" << "dd/mm/yyyy hh:nn" << "TXTDATE";
        QTest::newRow("memo") << "CAMPO,F,F,MEMO" << 0 << "" << "" << "" << "" << "TXTMEMO";
        QTest::newRow("binary") << "CAMPO,F,F,BINARY" << 0 << "" << "" << "" << "" << "CMDSHOWBIN";
        QTest::newRow("long binary") << "CAMPO,F,F, long binary " << 0 << "" << "" << "" << "" << "CMDSHOWBIN";
        QTest::newRow("autoinc forces locked") << "CAMPO,F,F,AUTOINC,6,,,,,,,,TXTNUMERIC" << 6 << "" << "" << "" << "" << "LOCKEDFIELD";
        QTest::newRow("unknown type is text") << "CAMPO,F,F,GUID,36" << 36 << "" << "" << "" << "" << "TXTTEXT";
        QTest::newRow("lookup becomes combo") << "CAMPO,F,F,TEXT,2,,,,,,PROVINCE,NOME" << 2 << "" << "" << "" << "" << "COMBOBOX";
        QTest::newRow("lookup as editbox gets type kind") << "CAMPO,F,F,LONG,6,,,,,,CLIENTI,NOME,EDITBOX" << 6 << "" << "" << "2147483647" << "" << "TXTNUMERIC";
        QTest::newRow("editbox on text") << "CAMPO,F,F,TEXT,6,,,,,,,,editbox" << 6 << "" << "" << "" << "" << "TXTTEXT";
        QTest::newRow("other kinds kept upper-cased") << "CAMPO,F,F,TEXT,6,,,,,,,,umod" << 6 << "" << "" << "" << "" << "UMOD";
        QTest::newRow("format quotes dropped") << "CAMPO,F,F,CURRENCY,,,,,,,,,,\"0.00\"" << 0 << "" << "" << "922337203685477.5807" << "0.00" << "TXTNUMERIC";
        QTest::newRow("format quotes behind a blank kept") << "CAMPO,F,F,TEXT,,,,,,,,,, \"0.00\"" << 0 << "" << "" << "" << "\"0.00\"" << "TXTTEXT";
        QTest::newRow("length rounds halves to even") << "CAMPO,F,F,TEXT,6.5" << 6 << "" << "" << "" << "" << "TXTTEXT";
        QTest::newRow("length rounds up past half") << "CAMPO,F,F,TEXT,7.5" << 8 << "" << "" << "" << "" << "TXTTEXT";
        QTest::newRow("length reads leading number") << "CAMPO,F,F,TEXT,12 caratteri" << 12 << "" << "" << "" << "" << "TXTTEXT";
        QTest::newRow("length without number") << "CAMPO,F,F,TEXT,lungo" << 0 << "" << "" << "" << "" << "TXTTEXT";
        QTest::newRow("length lowest") << "CAMPO,F,F,TEXT,-32768" << -32768 << "" << "" << "" << "" << "TXTTEXT";
    }

    void typeDefaults()
    {
        QFETCH(QString, line);
        auto f = field(line);
        QTEST(f->MaxLen(), "maxLen");
        QTEST(f->Default(), "def");
        QTEST(f->MinVal(), "minVal");
        QTEST(f->MaxVal(), "maxVal");
        QTEST(f->Format(), "format");
        QTEST(f->ObjType(), "objType");
    }

    void pages_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<float>("expected");
        QTest::newRow("empty") << "" << 1.0f;
        QTest::newRow("zero") << "0" << 1.0f;
        QTest::newRow("negative") << "-3" << 1.0f;
        QTest::newRow("fraction below one") << "0.5" << 1.0f;
        QTest::newRow("three") << "3" << 3.0f;
        QTest::newRow("fractional") << "2.5" << 2.5f;
        QTest::newRow("leading number") << "4 (note)" << 4.0f;
    }

    void pages()
    {
        QFETCH(QString, page);
        QTEST(field(QStringLiteral("CAMPO,F,F,TEXT,,,,,,,,,,,") + page)->Page(), "expected");
    }

    void recordLineAndPages()
    {
        auto seven = load(QStringList{"RECORD,T,Test,2, Uno ,Due,Tre"});
        QCOMPARE(seven->NomiPagine(), u"Uno,Due,Tre");
        QCOMPARE(seven->TipiRicerche()->Standard(), u"2");
        auto four = load(QStringList{"RECORD,T,Test,1"});
        QVERIFY(four->NomiPagine().isEmpty());
        QCOMPARE(four->Campi()->Count(), 0); // the matching RECORD line is the last line
    }

    void pathAndDatabaseLines()
    {
        auto rec = load(QStringList{
            "PATH,prima", "DATABASE,uno.db",
            "RECORD,T,Test,1", "PATH,dentro", "DATABASE,dentro.db", "CAMPO,A,A,TEXT",
            "RECORD,ALTRO,Altro,1", "DATABASE,altro.db", "CAMPO,Z,Z,TEXT"});
        QCOMPARE(rec->Path(), u"prima"); // the one inside the section is ignored
        QCOMPARE(rec->db(), u"altro.db"); // a later section's line still counts
        QCOMPARE(names(*rec), QStringList({"A"}));
    }

    void otherSectionsDoNotDisturb()
    {
        auto rec = load(QStringList{
            "RECORD,PRIMA,Prima,1", "CAMPO,P1,P,TEXT", "INDICE,PK,+P1,-1,-1", "RICERCA,1,MOSTRA,x,P1",
            "RECORD,t,Test,1,Pagina", "campo,A,A,TEXT", "Campo,B,B,LONG",
            "Record,DOPO,Dopo,1", "CAMPO,D1,D,TEXT", "INDICE,PK,+D1,-1,-1"});
        QCOMPARE(rec->Nome(), u"t");
        QCOMPARE(names(*rec), QStringList({"A", "B"}));
        QCOMPARE(rec->Campi()->Item("B")->Indice(), 2);
        QCOMPARE(rec->Indice()->NomiCampi()->Count(), 0); // no index in its own section
        QCOMPARE(rec->TipiRicerche()->Count(), 0);
    }

    void missingRecordLeavesRecEmpty()
    {
        auto rec = load(QString::fromLatin1(kExample), QStringLiteral("FORNITORI"));
        QVERIFY(rec->Nome().isEmpty());
        QCOMPARE(rec->Campi()->Count(), 0);
        QCOMPARE(rec->Indice()->NomiCampi()->Count(), 0);
        QCOMPARE(rec->TipiRicerche()->Count(), 0);
    }

    void indexLines()
    {
        auto rec = load(QStringList{
            "RECORD,T,T,1", "CAMPO,ANNO,Anno,INTEGER", "CAMPO,NUM,Numero,LONG",
            "INDICE,Secondario,+NUM,-1,0", "INDICE,Altro,+ANNO,0,-1",
            "INDICE,PrimaryKey, +ANNO ; -NUM ,-1,-1", "CAMPO,DOPO,Dopo,TEXT", "RICERCA,1,MOSTRA,x,y"});
        QCOMPARE(rec->Indice()->Nome(), u"PrimaryKey");
        QCOMPARE(indexIds(*rec), QStringList({"ANNO", "NUM"}));
        QCOMPARE(names(*rec), QStringList({"ANNO", "NUM"}));
        QCOMPARE(rec->TipiRicerche()->Count(), 0);
    }

    void searchLayouts()
    {
        auto rec = load(QStringList{
            "RECORD,T,T,1", "CAMPO,NOME,Nome,TEXT", "CAMPO,PROV,Prov,TEXT,2,,,,,,PROVINCE,NOME,CMBBOUNDED",
            "RICERCA,1,MOSTRA,Per nome, NOME , PROV ",
            "RICERCA,01,SELEZIONE,NOME,,LIKE",
            "RICERCA,1,selezione,PROV,TXTTEXT,=",
            "RICERCA,2,MOSTRA,Per provincia",
            "RICERCA,2.0,SELEZIONE,PROV,,=",
            "RICERCA,2,ALTRO,ignorata"});
        auto layouts = rec->TipiRicerche();
        QCOMPARE(layouts->Count(), 2);
        auto first = layouts->Item("1");
        QCOMPARE(first->CampiMostrati(), u" NOME , PROV "); // exactly as written
        QCOMPARE(first->CampiRic()->Count(), 2);
        QCOMPARE(first->CampiRic()->Item(1)->CtrlType(), u"TXTTEXT");
        QCOMPARE(first->CampiRic()->Item(2)->CtrlType(), u"TXTTEXT");
        QCOMPARE(first->CampiRic()->Item(2)->SearchType(), u"=");
        auto second = layouts->Item("2");
        QVERIFY(second->CampiMostrati().isEmpty());
        QCOMPARE(second->CampiRic()->Item(1)->CtrlType(), u"CMBBOUNDED");
    }

    void brokenLinesStopTheLoadWithTheirLineNumber_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("reason");
        QTest::newRow("field without name") << "CAMPO, ,Senza nome,TEXT" << "campo senza nome";
        QTest::newRow("repeated field") << "CAMPO,nome,Ancora,TEXT" << "campo nome già dichiarato";
        QTest::newRow("length too long") << "CAMPO,X,X,TEXT,32768" << "fuori dall'intervallo";
        QTest::newRow("length too negative") << "CAMPO,X,X,TEXT,-40000" << "fuori dall'intervallo";
        QTest::newRow("length overflowing") << "CAMPO,X,X,TEXT,1e400" << "fuori dall'intervallo";
        QTest::newRow("repeated layout") << "RICERCA,01,MOSTRA,Di nuovo,NOME" << "ricerca 1 già dichiarata";
        QTest::newRow("selection of undeclared layout") << "RICERCA,7,SELEZIONE,NOME,TXTTEXT,=" << "ricerca 7 non dichiarata";
        QTest::newRow("selection of undeclared field") << "RICERCA,1,SELEZIONE,CAP,,=" << "campo CAP";
        QTest::newRow("index with empty item") << "INDICE,PK,+NOME;;+X,-1,-1" << "campo vuoto";
        QTest::newRow("index with mark only") << "INDICE,PK,+,-1,-1" << "campo vuoto";
        QTest::newRow("index without fields") << "INDICE,PK,,-1,-1" << "campo vuoto";
    }

    void brokenLinesStopTheLoadWithTheirLineNumber()
    {
        QFETCH(QString, line);
        QFETCH(QString, reason);
        const QStringList lines{"' test", "RECORD,T,T,1", "CAMPO,NOME,Nome,TEXT,20", "RICERCA,1,MOSTRA,Per nome,NOME", line};
        try {
            load(lines);
            QFAIL("the broken line was accepted");
        } catch (const DescriptorError &e) {
            QVERIFY2(e.message().startsWith(u"files.dsc, riga 5: "), qPrintable(e.message()));
            QVERIFY2(e.message().contains(reason), qPrintable(e.message()));
        }
        // The same line outside the loaded record's section is nobody's business.
        auto other = load(QStringList{"RECORD,T,T,1", "CAMPO,NOME,Nome,TEXT,20", "RICERCA,1,MOSTRA,Per nome,NOME",
                                      "RECORD,ALTRO,A,1", line});
        QCOMPARE(other->Campi()->Count(), 1);
    }

    void lineEndsAndDecoding()
    {
        const QString expected = QStringLiteral("A|B||C");
        QCOMPARE(splitDscLines(QStringLiteral("A\r\nB\r\rC\r\n")).join(u'|'), expected);
        QCOMPARE(splitDscLines(QStringLiteral("A\nB\n\nC")).join(u'|'), expected);
        QCOMPARE(splitDscLines(QStringLiteral("A\rB\n\r\nC")).join(u'|'), expected);
        QCOMPARE(decodeDscText("\xEF\xBB\xBF" "Citt\xC3\xA0"), QStringLiteral("Città"));
        QCOMPARE(decodeDscText("Citt\xC3\xA0"), QStringLiteral("Città"));
        // Only the first byte-order mark is a header; a later one is text, so its line is no RECORD.
        QCOMPARE(decodeDscText("\xEF\xBB\xBF\xEF\xBB\xBFX"), QStringLiteral("\uFEFFX"));
        auto rec = load(QString::fromUtf8("\xEF\xBB\xBFRECORD,T,T,1\n\xEF\xBB\xBFRECORD,U,U,1\nCAMPO,A,A,TEXT\n"), QStringLiteral("T"));
        QCOMPARE(rec->Nome(), u"T");
        QCOMPARE(rec->Campi()->Count(), 1);
        QCOMPARE(decodeDscText("Citt\xE0 \x80 \x96 \x93\x94 \x81"), QStringLiteral("Città € – “” \u0081"));
    }

    void legacyFilesInBothEncodingsBuildTheSameTrees()
    {
        const QString utf8 = decodeDscText(TestUtil::readData(QStringLiteral("legacy/files.dsc")));
        const QString cp1252 = decodeDscText(TestUtil::readData(QStringLiteral("legacy/files_cp1252.dsc")));
        QVERIFY(!cp1252.contains(QChar::ReplacementCharacter));
        QVERIFY(cp1252.contains(QStringLiteral("Città")));
        QVERIFY(cp1252.contains(QStringLiteral("Note e perché")));
        QVERIFY(cp1252.contains(QStringLiteral("“")) && cp1252.contains(QStringLiteral("–"))
                && cp1252.contains(QStringLiteral("€")));
        QCOMPARE(load(cp1252, QStringLiteral("COMUNI"))->Campi()->Item("NOME")->Desc(), u"Città");
        QCOMPARE(load(cp1252, QStringLiteral("CLIENTI"))->Campi()->Item("NOTE")->Desc(), u"Note e perché");
        // Apart from those captions, both files describe the same records.
        QString plain = cp1252;
        plain.replace(QStringLiteral("Città"), QStringLiteral("Comune")).replace(QStringLiteral("Note e perché"), QStringLiteral("Note"));
        for (const char *record : {"PROVINCE", "COMUNI", "CLIENTI", "ORDINI"}) {
            auto a = load(utf8, QString::fromLatin1(record));
            auto b = load(plain, QString::fromLatin1(record));
            QVERIFY(a->Campi()->Count() > 0);
            QCOMPARE(recToJson(*a), recToJson(*b));
        }
        auto ordini = load(utf8, QStringLiteral("ORDINI"));
        QCOMPARE(indexIds(*ordini), QStringList({"ANNO", "NUMERO"}));
        QCOMPARE(ordini->Campi()->Item("NUMERO")->ObjType(), u"LOCKEDFIELD");
        auto clienti = load(cp1252, QStringLiteral("CLIENTI"));
        QCOMPARE(names(*clienti).size(), 9);
    }

    void fileErrorsPassToTheCaller()
    {
        QTemporaryDir dir;
        Rec rec;
        QVERIFY_THROWS_EXCEPTION(DescriptorError, LeggiDscTesto(dir.path() + u'/', QStringLiteral("T"), rec));
    }
};

QTEST_GUILESS_MAIN(TstDscText)
#include "tst_dsctext.moc"
