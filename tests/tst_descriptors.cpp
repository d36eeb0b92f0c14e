// The descriptor tree and its three sources: the text format, the SQLite descriptor database
// (plain or sealed with a password) and legacy Jet files.

#include "descriptor/descriptor.h"
#include "descriptor/dscdatabase.h"
#include "descriptor/dscjson.h"
#include "descriptor/dsctext.h"
#include "descriptor/jetfile.h"
#include "descriptor/leggidsc.h"
#include "platform/messages.h"
#include "backends.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QTest>
#include <QThread>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

using namespace Norvix;
using TestUtil::dataPath;
using TestUtil::readData;

namespace {

const QStringList kRecords{"PROVINCE", "COMUNI", "CLIENTI", "ORDINI"};

std::unique_ptr<Rec> load(const QByteArray &text, const QString &record = QStringLiteral("T"))
{
    auto rec = std::make_unique<Rec>();
    TextLineSource source(text);
    readDsc(source, record, *rec, QStringLiteral("files.dsc"));
    return rec;
}

std::unique_ptr<Rec> load(const QStringList &lines, const QString &record = QStringLiteral("T"))
{
    return load(lines.join(u'\n').toUtf8(), record);
}

// Nome|Desc|Standard|NomiPagine|Path|db|fields|index and its fields|number of search layouts
QString summary(Rec &rec)
{
    QStringList fields, index{rec.Indice()->Nome()};
    for (const auto &c : *rec.Campi())
        fields << c->Nome();
    for (const auto &n : *rec.Indice()->NomiCampi())
        index << n->ID();
    return QStringList{rec.Nome(), rec.Desc(), rec.TipiRicerche()->Standard(), rec.NomiPagine(), rec.Path(), rec.db(),
                       fields.join(u' '), index.join(u' '), QString::number(rec.TipiRicerche()->Count())}
        .join(u'|');
}

CampoPtr addField(Campi &campi, const QString &name, const QString &key)
{
    return campi.Add(name, "d", "TEXT", 10, {}, {}, {}, {}, {}, {}, {}, "TXTTEXT", {}, 1, 1, key);
}

// The kind of the CollectionError f() throws; -1 when it throws none.
template <typename F>
int kindOf(F &&f)
{
    const auto e = TestUtil::thrownBy<CollectionError>(f);
    return e ? int(e->kind()) : -1;
}

// The message of the DescriptorError `action` throws; a null string when it throws none.
QString errorOf(const std::function<void()> &action)
{
    const auto e = TestUtil::thrownBy<DescriptorError>(action);
    return e ? e->message() : QString();
}

QStringList legacyLines()
{
    return splitDscLines(decodeDscText(readData("legacy/files.dsc")));
}

QJsonObject fromText(const QString &record)
{
    return recToJson(*load(readData("legacy/files.dsc"), record));
}

// Loads a record through LeggiDsc from `folder` with the given descriptor password.
QJsonObject fromFolder(const QString &folder, const QString &record, const QString &password = QString())
{
    setDscPassword(password);
    QString path = folder;
    Rec rec;
    return LeggiDsc(path, record, rec) ? recToJson(rec) : QJsonObject();
}

// A copy of a fixture in dir with its single occurrence of `from` replaced by `to` (same length).
QString patchedCopy(const QString &relative, const QString &dir, const QByteArray &from, const QByteArray &to)
{
    QByteArray bytes = readData(relative);
    if (bytes.count(from) != 1 || from.size() != to.size())
        qFatal("%s: cannot patch", qPrintable(relative));
    const QString target = dir + "/patched.mdb";
    TestUtil::writeFile(target, bytes.replace(from, to));
    return target;
}

QByteArray utf16le(const QString &text)
{
    return QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
}

} // namespace

class TstDescriptors : public QObject
{
    Q_OBJECT

private slots:
    void tree()
    {
        Campi campi;
        auto a = addField(campi, "Città", "Città");
        auto b = addField(campi, "Anonimo", QString()); // reachable by position only
        auto c = addField(campi, "C", "C");
        QCOMPARE(campi.Item("CITTÀ"), a);
        QCOMPARE(campi.Item(2), b);
        QCOMPARE(kindOf([&] { campi.Item(0); }), CollectionError::SubscriptOutOfRange);
        QCOMPARE(kindOf([&] { campi.Item(4); }), CollectionError::SubscriptOutOfRange);
        QCOMPARE(kindOf([&] { campi.Item("X"); }), CollectionError::InvalidArgument);
        QCOMPARE(kindOf([&] { campi.Remove("x"); }), CollectionError::InvalidArgument);
        QCOMPARE(kindOf([&] { addField(campi, "Altro", "c"); }), CollectionError::DuplicateKey);
        QCOMPARE(campi.Count(), 3); // failures change nothing
        campi.Remove("città");
        QCOMPARE(campi.Item("c"), c); // keys follow the elements that moved
        campi.Remove(1);
        addField(campi, "Nuovo", "CITTÀ"); // a removed key can be used again
        QCOMPARE(campi.Item(1), c);
        QCOMPARE(campi.Item("città")->Nome(), u"Nuovo");

        auto rec = std::make_shared<Rec>();
        QCOMPARE(rec->Campi(), rec->Campi()); // created on the first read, then kept
        QCOMPARE(rec->TipiRicerche(), rec->TipiRicerche());
        QCOMPARE(rec->Indice()->NomiCampi()->Count(), 0);
        CampoPtr kept = addField(*rec->Campi(), "KEEP", "KEEP");
        std::weak_ptr<Campo> gone = addField(*rec->Campi(), "GONE", "GONE");
        rec->setCampi(nullptr); // releases the fields; a later read starts anew
        QVERIFY(gone.expired());
        QCOMPARE(rec->Campi()->Count(), 0);
        rec.reset();
        QCOMPARE(kept->Nome(), u"KEEP"); // still held by the editor
    }

    void fieldLineFillsEveryValue()
    {
        // Keyword and fields trimmed, kind upper-cased, the format without its quotes.
        auto rec = load(QStringList{"RECORD,T,T,1",
                                    " campo , N , Descrizione , text , 7 , def , a , z , X , f.db , REF , FLD , umod "
                                    ",\"0.0\", 2.5 , SRC "});
        QCOMPARE(QJsonDocument(recToJson(*rec).value("Campi").toArray()).toJson(QJsonDocument::Compact),
                 R"([{"CodPos":"X","Default":"def","Desc":"Descrizione","FieldRif":"FLD","FileRif":"f.db",)"
                 R"("Format":"0.0","Indice":1,"MaxLen":7,"MaxVal":"z","MinVal":"a","Nome":"N","ObjType":"UMOD",)"
                 R"("Page":2.5,"RecRif":"REF","SourceRif":"SRC","TIPO":"TEXT"}])");
    }

    // Columns of `expected`: ObjType|MaxLen|Default|MinVal|MaxVal|Format|Page.
    void fieldDefaults_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, const char *line, const char *expected) {
            QTest::newRow(name) << QStringLiteral("CAMPO,F,F,") + line << QString::fromUtf8(expected);
        };
        row("boolean forces its kind", "BOOLEAN,,,,,,,,,TXTTEXT", "CHECKBOX|5|TRUE|FALSE|TRUE||1");
        row("boolean keeps a default", "boolean,1,FALSE,X,Y", "CHECKBOX|5|FALSE|FALSE|TRUE||1");
        row("byte", "BYTE,9", "TXTNUMERIC|3|||255||1");
        row("integer", "INTEGER,4", "TXTNUMERIC|4|||32767||1");
        row("integer with a maximum", "INTEGER,4,,,100", "TXTNUMERIC|4|||100||1");
        row("long", "LONG,6,,1", "TXTNUMERIC|6||1|2147483647||1");
        row("single", "SINGLE", "TXTNUMERIC|0|||3.402823E38||1");
        row("double has no bound", "DOUBLE", "TXTNUMERIC|0|||||1");
        row("currency", "CURRENCY,12", "TXTNUMERIC|12|||922337203685477.5807||1");
        row("decimal", "DECIMAL", "TXTNUMERIC|0|||79228162514264337593543950335||1");
        row("number keeps a given kind", "LONG,,,,,,,,,specialnumeric", "SPECIALNUMERIC|0|||2147483647||1");
        row("date keeps its length and date bounds only", "DATE,16,,01/01/1900,31/02/2001",
            "TXTDATE|16||01/01/1900||dd/mm/yyyy|1");
        row("date keeps its format", "DATE,,NOW,oggi,31/12/2099,,,,,,\"dd/mm/yyyy hh:nn\"",
            "TXTDATE|15|NOW||31/12/2099|dd/mm/yyyy hh:nn|1");
        row("memo", "MEMO", "TXTMEMO|0|||||1");
        row("binary", "BINARY", "CMDSHOWBIN|0|||||1");
        row("long binary", " long binary ", "CMDSHOWBIN|0|||||1");
        row("autoinc is locked", "AUTOINC,6,,,,,,,,TXTNUMERIC", "LOCKEDFIELD|6|||||1");
        row("other types are text", "GUID,32767", "TXTTEXT|32767|||||1");
        row("lookup becomes a combo", "TEXT,2,,,,,,PROVINCE,NOME", "COMBOBOX|2|||||1");
        row("lookup as an edit box", "LONG,6,,,,,,CLIENTI,NOME,editbox", "TXTNUMERIC|6|||2147483647||1");
        row("format behind a blank keeps its quotes", "TEXT,,,,,,,,,, \"0.00\"", "TXTTEXT|0||||\"0.00\"|1");
        row("length: halves go to even", "TEXT,6.5", "TXTTEXT|6|||||1");
        row("length: leading number", "TEXT,7.5 caratteri", "TXTTEXT|8|||||1");
        row("length: lowest", "TEXT,-32768", "TXTTEXT|-32768|||||1");
        row("page below one", "TEXT,,,,,,,,,,,0.5", "TXTTEXT|0|||||1");
        row("fractional page", "TEXT,,,,,,,,,,,2.5 (nota)", "TXTTEXT|0|||||2.5");
    }

    void fieldDefaults()
    {
        QFETCH(QString, line);
        auto rec = load(QStringList{"RECORD,T,T,1", line});
        QCOMPARE(rec->Campi()->Count(), 1);
        const auto f = rec->Campi()->Item(1);
        const QStringList got{f->ObjType(), QString::number(f->MaxLen()), f->Default(), f->MinVal(),
                              f->MaxVal(),  f->Format(), QString::number(f->Page())};
        QTEST(got.join(u'|'), "expected");
    }

    void sections()
    {
        const QStringList text{"PATH,prima", "DATABASE,uno.db", "RECORD,PRIMA,Prima,1", "CAMPO,P1,P,TEXT",
                               "INDICE,PK,+P1,-1,-1", "RICERCA,1,MOSTRA,x,P1", "RECORD, t ,Test,2, Uno ,Due",
                               "PATH,dentro", "DATABASE,dentro.db", "campo,ANNO,Anno,INTEGER", "Campo,NUM,Numero,LONG",
                               "INDICE,Secondario,+NUM,-1,0", "INDICE,Altro,+ANNO,0,-1",
                               "INDICE,PrimaryKey, +ANNO ; -NUM ,-1,-1", "CAMPO,DOPO,Dopo,TEXT", "RICERCA,1,MOSTRA,x,y",
                               "Record,ALTRO,Altro,1", "DATABASE,altro.db", "CAMPO,Z,Z,TEXT",
                               "RECORD,VUOTO,Vuoto,1", "DATABASE,ultimo.db", "RECORD,FINE,Fine,1"};
        // PATH and DATABASE inside the loaded section are ignored; loading ends at its unique primary index.
        auto t = load(text);
        QCOMPARE(summary(*t), u"t|Test|2|Uno,Due|prima|uno.db|ANNO NUM|PrimaryKey ANNO NUM|0");
        QCOMPARE(t->Campi()->Item("NUM")->Indice(), 2);
        // Other sections' PATH and DATABASE lines count, later ones too.
        QCOMPARE(summary(*load(text, "altro")), u"ALTRO|Altro|1||dentro|ultimo.db|Z||0");
        QCOMPARE(summary(*load(text, "FINE")), u"FINE|Fine|1||dentro|ultimo.db|||0"); // the last line
        QCOMPARE(summary(*load(text, "NESSUNO")), u"||||dentro|ultimo.db|||0");
    }

    // The shown fields exactly as written; an empty control kind takes the field's.
    void searchLayouts()
    {
        auto rec = load(QStringList{"RECORD,T,T,1", "CAMPO,NOME,Nome,TEXT", "CAMPO,PROV,P,TEXT,2,,,,,,P,N,CMBBOUNDED",
                                    "RICERCA,1,MOSTRA,Per nome, NOME , PROV ", "RICERCA,01,SELEZIONE,NOME,,LIKE",
                                    "RICERCA,1,selezione,PROV,TXTTEXT,=", "RICERCA,2,MOSTRA,Per provincia",
                                    "RICERCA,2.0,SELEZIONE,PROV,,=", "RICERCA,2,ALTRO,ignorata"});
        QCOMPARE(QJsonDocument(recToJson(*rec).value("TipiRicerche").toArray()).toJson(QJsonDocument::Compact),
                 R"([{"CampiMostrati":" NOME , PROV ","CampiRic":[{"CtrlType":"TXTTEXT","Nome":"NOME",)"
                 R"("SearchType":"LIKE"},{"CtrlType":"TXTTEXT","Nome":"PROV","SearchType":"="}],)"
                 R"("Descrizione":"Per nome","Key":"1"},{"CampiMostrati":"","CampiRic":[{"CtrlType":"CMBBOUNDED",)"
                 R"("Nome":"PROV","SearchType":"="}],"Descrizione":"Per provincia","Key":"2"}])");
    }

    // Details in number order whatever the order of the lines, lists trimmed, no columns when
    // none are written; only DETTAGLIO itself is the keyword, and the reading ends at the index.
    void details()
    {
        auto rec = load(QStringList{"RECORD,T,T,1", " dettaglio , 2 , RIGHE , Righe , 2 , ANNO ; NUMERO ,A;N, R ;Q ",
                                    "DETTAGLIO,1,NOTE,,3,ID,ORDINE", "DETTAGLIOX,3,X,X,1,A,B", "DETTAGLIA,4,X,X,1,A,B",
                                    "INDICE,PK,+ID,-1,-1", "DETTAGLIO,5,DOPO,,1,A,B"});
        QCOMPARE(QJsonDocument(recToJson(*rec).value("Dettagli").toArray()).toJson(QJsonDocument::Compact),
                 R"([{"CampiFiglio":["ORDINE"],"CampiPadre":["ID"],"Colonne":[],"Figlio":"NOTE","Numero":1,"Pagina":3,)"
                 R"("Titolo":""},{"CampiFiglio":["A","N"],"CampiPadre":["ANNO","NUMERO"],"Colonne":["R","Q"],)"
                 R"("Figlio":"RIGHE","Numero":2,"Pagina":2,"Titolo":"Righe"}])");
        QCOMPARE(rec->Dettagli()->Item("2")->Figlio(), u"RIGHE"); // by its number
    }

    void brokenLinesStopTheLoadWithTheirLineNumber_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("reason");
        QTest::newRow("field without name") << "CAMPO, ,Senza nome,TEXT" << "campo senza nome";
        QTest::newRow("repeated field") << "CAMPO,nome,Ancora,TEXT" << "campo nome già dichiarato";
        QTest::newRow("length too long") << "CAMPO,X,X,TEXT,32768" << "fuori dall'intervallo";
        QTest::newRow("length too negative") << "CAMPO,X,X,TEXT,-32769" << "fuori dall'intervallo";
        QTest::newRow("length overflowing") << "CAMPO,X,X,TEXT,1e400" << "fuori dall'intervallo";
        QTest::newRow("repeated layout") << "RICERCA,01,MOSTRA,Di nuovo,NOME" << "ricerca 1 già dichiarata";
        QTest::newRow("selection of undeclared layout") << "RICERCA,7,SELEZIONE,NOME,X,=" << "ricerca 7 non dichiarata";
        QTest::newRow("selection of undeclared field") << "RICERCA,1,SELEZIONE,CAP,,=" << "campo CAP";
        QTest::newRow("unknown search type") << "RICERCA,1,SELEZIONE,NOME,,CONTIENE" << "tipo di ricerca \"CONTIENE\"";
        QTest::newRow("index with empty item") << "INDICE,PK,+NOME;;+X,-1,-1" << "campo vuoto";
        QTest::newRow("index with mark only") << "INDICE,PK,+,-1,-1" << "campo vuoto";
        QTest::newRow("index without fields") << "INDICE,PK,,-1,-1" << "campo vuoto";
        QTest::newRow("detail number zero") << "DETTAGLIO,0,R,R,1,A,B" << "dettaglio \"0\" non è un numero intero";
        QTest::newRow("detail number in words") << "DETTAGLIO,due,R,R,1,A,B" << "dettaglio \"due\"";
        QTest::newRow("repeated detail") << "DETTAGLIO, 01 ,R,R,1,A,B" << "dettaglio 1 già dichiarato";
        QTest::newRow("detail without child") << "DETTAGLIO,2,,R,1,A,B" << "il dettaglio 2 non nomina il record figlio";
        QTest::newRow("detail page zero") << "DETTAGLIO,2,R,R,0,A,B" << "pagina \"0\" del dettaglio 2";
        QTest::newRow("detail without page") << "DETTAGLIO,2,R,R,,A,B" << "pagina \"\" del dettaglio 2";
        QTest::newRow("detail without child fields") << "DETTAGLIO,2,R,R,1,A" << "campi che legano";
        QTest::newRow("detail with an empty item") << "DETTAGLIO,2,R,R,1,A;;B,A;B" << "elemento vuoto nel campo 6";
        QTest::newRow("detail columns split by commas") << "DETTAGLIO,2,R,R,1,A,B,C,D" << "separare le colonne";
    }

    void brokenLinesStopTheLoadWithTheirLineNumber()
    {
        QFETCH(QString, line);
        QFETCH(QString, reason);
        const QStringList section{"RECORD,T,T,1", "CAMPO,NOME,Nome,TEXT,20", "RICERCA,1,MOSTRA,Per nome,NOME",
                                  "DETTAGLIO,1,R,R,1,A,B"};
        const QString message = errorOf([&] { load(QStringList{"' prova"} + section + QStringList{line}); });
        QVERIFY2(message.startsWith(u"files.dsc, riga 6: ") && message.contains(reason), qPrintable(message));
        // The same line outside the loaded record's section is nobody's business.
        QCOMPARE(load(section + QStringList{"RECORD,ALTRO,A,1", line})->Campi()->Count(), 1);
    }

    void lineEndsAndDecoding()
    {
        for (const char *text : {"A\r\nB\r\rC\r\n", "A\nB\n\nC", "A\rB\n\r\nC"})
            QCOMPARE(splitDscLines(text).join(u'|'), u"A|B||C");
        QCOMPARE(summary(*load(QByteArray("RECORD,T,T,1\rCAMPO,A,A,TEXT\r\nCAMPO,B,B,TEXT\n\rCAMPO,C,C,TEXT"))),
                 u"T|T|1||||A B C||0");
        QCOMPARE(decodeDscText("Citt\xC3\xA0"), u"Città");
        for (const char *bytes : {"RECORD,T,T,1\nCAMPO,A,\xC3\xA0\xE2\x82\xAC", "RECORD,T,T,1\nCAMPO,A,\xE0\x80"})
            QCOMPARE(load(QByteArray(bytes))->Campi()->Item(1)->Desc(), u"à€"); // lines read as UTF-8 or Windows-1252
        QCOMPARE(decodeDscText("Citt\xE0 \x80 \x96 \x93\x94 \x81"), u"Città € – “” \u0081");
        QCOMPARE(decodeDscText("\xED\xA0\x80"), u"í\u00A0€"); // an encoded surrogate is no UTF-8
        // Each line on its own: one in Windows-1252 leaves the UTF-8 lines alone.
        QCOMPARE(decodeDscText("Citt\xC3\xA0 \xE2\x9C\x93\rCitt\xE0\r\n\xE2\x9C\x93"), u"Città ✓\rCittà\r\n✓");
        const auto mixed = load(QByteArray("RECORD,T,T,1\nCAMPO,A,Citt\xC3\xA0 \xE2\x9C\x93\nCAMPO,B,Citt\xE0\n"));
        QCOMPARE(mixed->Campi()->Item(1)->Desc() + mixed->Campi()->Item(2)->Desc(), u"Città ✓Città");
        // Only the first byte-order mark is a header; a later one is text, so its line is no RECORD.
        QCOMPARE(decodeDscText("\xEF\xBB\xBF\xEF\xBB\xBFX"), u"\uFEFFX");
        auto rec = load(QByteArray("\xEF\xBB\xBFRECORD,T,T,1\n\xEF\xBB\xBFRECORD,U,U,1\nCAMPO,A,A,TEXT\n"));
        QCOMPARE(summary(*rec), u"T|T|1||||A||0");
    }

    void legacyFilesInBothEncodingsBuildTheSameTrees()
    {
        const QByteArray cp1252 = readData("legacy/files_cp1252.dsc"); // with CR LF
        QVERIFY(decodeDscText(cp1252).contains(u"“versione” Windows (€)"));
        QString captions;
        for (const QString &record : kRecords) {
            QString json = QString::fromUtf8(QJsonDocument(recToJson(*load(cp1252, record))).toJson());
            captions += json;
            // Apart from two captions, both files describe the same records.
            json.replace("\"Città\"", "\"Comune\"").replace("\"Note e perché\"", "\"Note\"");
            QCOMPARE(json, QString::fromUtf8(QJsonDocument(fromText(record)).toJson()));
        }
        QVERIFY(captions.contains(u"\"Città\"") && captions.contains(u"\"Note e perché\""));
    }

    void databasesBuildTheSameTreesAsTheText_data()
    {
        QTest::addColumn<QString>("fixture"); // empty: an SQLite database written with `seal`
        QTest::addColumn<QString>("seal");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("error"); // part of the message; empty when the trees load
        const QString wrong = QStringLiteral("Password errata"), needed = QStringLiteral("protetto da password");
        QTest::newRow("sqlite") << "" << "" << "" << "";
        QTest::newRow("sqlite, plain read with a password") << "" << "" << "x" << "non è sigillato";
        QTest::newRow("sealed") << "" << "Segreto1" << "Segreto1" << "";
        QTest::newRow("sealed, other case") << "" << "Segreto1" << "segreto1" << wrong;
        QTest::newRow("sealed, none given") << "" << "Segreto1" << "" << needed;
        QTest::newRow("jet text column") << "dsc_jet4.mdb" << "" << "" << "";
        QTest::newRow("jet memo column") << "dsc_jet4_memo.mdb" << "" << "" << "";
        QTest::newRow("jet with password") << "dsc_jet4_pw.mdb" << "" << "Segreto1" << "";
        QTest::newRow("jet, other case") << "dsc_jet4_pw.mdb" << "" << "segreto1" << wrong;
        QTest::newRow("jet, prefix") << "dsc_jet4_pw.mdb" << "" << "Segreto" << wrong;
        QTest::newRow("jet, trailing blank") << "dsc_jet4_pw.mdb" << "" << "Segreto1 " << wrong;
        QTest::newRow("jet, none given") << "dsc_jet4_pw.mdb" << "" << "" << needed;
        // Files without a table Dsc: the password was accepted when the table is what is missing.
        QTest::newRow("jet, another file") << "access2000_password.mdb" << "" << "password" << "Tabella Dsc";
        QTest::newRow("jet 3, none needed") << "access97_sample.mdb" << "" << "qualsiasi" << "Tabella Dsc";
    }

    void databasesBuildTheSameTreesAsTheText()
    {
        QFETCH(QString, fixture);
        QFETCH(QString, seal);
        QFETCH(QString, password);
        QFETCH(QString, error);
        QTemporaryDir dir;
        const QString file = dir.filePath("dsc.mdb");
        if (fixture.isEmpty())
            writeDscDatabase(file, legacyLines(), seal);
        else
            TestUtil::copyData("legacy/" + fixture, dir.path(), "dsc.mdb");
        if (!error.isEmpty()) {
            const QString message = errorOf([&] { readDscDatabase(file, password); });
            QVERIFY2(message.contains(error) && message.contains(file), qPrintable(message));
            QVERIFY2(!QString(message).remove(file).contains(u"egreto"), qPrintable(message)); // no password shows
            return;
        }
        QCOMPARE(readDscDatabase(file, password), legacyLines());
        for (const QString &record : kRecords)
            QCOMPARE(fromFolder(dir.path(), record, password), fromText(record));
        QFile raw(file);
        QVERIFY(raw.open(QIODevice::ReadOnly));
        QVERIFY(!fixture.isEmpty() || raw.readAll().contains("CLIENTI") == seal.isEmpty()); // sealed: not readable
    }

    // An import killed at any moment leaves the old descriptors readable, or the new ones whole.
    void killedImportLeavesOldOrNew()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("dsc.mdb");
        const QStringList old{"RECORD,VECCHIO,Vecchio,1"};
        QStringList fresh;
        for (int i = 0; i < 100000; ++i)
            fresh << QStringLiteral("CAMPO,C%1,Campo %1,TEXT,10").arg(i);
        int oldSeen = 0;
        for (const int delayMs : {0, 10, 30, 60, 100, 150, 250, 400}) {
            writeDscDatabase(file, old, {});
            const pid_t child = ::fork();
            if (child == 0) {
                try {
                    writeDscDatabase(file, fresh, {});
                } catch (...) {
                }
                ::_exit(0);
            }
            QThread::msleep(delayMs);
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
            const QStringList now = readDscDatabase(file, {});
            QVERIFY2(now == old || now == fresh, qPrintable(QString::number(now.size())));
            oldSeen += now == old;
        }
        QVERIFY(oldSeen > 0); // some kills did land during an import
    }

    void tamperedDatabaseFailsInsteadOfYieldingGarbage()
    {
        const QList<QStringList> changes{
            {"UPDATE Dsc SET Line = (SELECT Line FROM Dsc WHERE rowid = 3) WHERE rowid = 5"}, // a changed line
            {"UPDATE Dsc SET rowid = 1000 WHERE rowid = 5", "UPDATE Dsc SET rowid = 5 WHERE rowid = 6", // swapped lines
             "UPDATE Dsc SET rowid = 6 WHERE rowid = 1000"},
            {"DELETE FROM Dsc WHERE rowid = (SELECT MAX(rowid) FROM Dsc)"}, // the last line removed
            {"INSERT INTO Dsc (Line) VALUES ('CAMPO,X,X,TEXT')"}, // a plain line added
            {"UPDATE DscCrypt SET Salt = x'00'"}, // damaged protection data
            {"UPDATE DscCrypt SET MemLimit = 1099511627776"}, // a work factor that would never end
            {"UPDATE DscCrypt SET OpsLimit = 4, MemLimit = 1073741824"}}; // one that takes seconds and a gigabyte
        for (const QStringList &statements : changes) {
            QTemporaryDir dir;
            const QString file = dir.filePath("dsc.mdb");
            writeDscDatabase(file, legacyLines(), "pw");
            TestUtil::createSqlite(file, statements);
            const QString error = errorOf([&] { readDscDatabase(file, "pw"); });
            QVERIFY2(error.contains(u"alterato") || error.contains(u"danneggiato"), qPrintable(statements.join("; ")));
        }
    }

    void unusualTables()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("dsc.mdb");
        // Writing replaces the lines and the protection held before.
        writeDscDatabase(file, QStringList{"RECORD,A,Vecchio,1", "CAMPO,OLD,Old,TEXT"}, "pw");
        writeDscDatabase(file, QStringList(), QString());
        // NULL lines read as empty ones; the last row may be the wanted RECORD line.
        TestUtil::createSqlite(file, {"INSERT INTO Dsc VALUES ('RECORD,A,A,1')", "INSERT INTO Dsc VALUES (NULL)",
                      "INSERT INTO Dsc VALUES ('CAMPO,X,X,TEXT')", "INSERT INTO Dsc VALUES ('RECORD,B,Bi,1')"});
        QCOMPARE(readDscDatabase(file, ""), QStringList({"RECORD,A,A,1", "", "CAMPO,X,X,TEXT", "RECORD,B,Bi,1"}));
        QCOMPARE(fromFolder(dir.path(), "A").value("Campi").toArray().size(), 1);
        QCOMPARE(fromFolder(dir.path(), "B").value("Desc").toString(), u"Bi");

        const auto loadError = [&] { return errorOf([&] { fromFolder(dir.path(), "A"); }); };
        TestUtil::createSqlite(file, {"ALTER TABLE Dsc RENAME COLUMN Line TO Riga"});
        QVERIFY(loadError().contains(u"Colonna Line"));
        TestUtil::createSqlite(file, {"DROP TABLE Dsc"});
        QVERIFY(loadError().contains(u"Tabella Dsc"));
        TestUtil::writeFile(file, "questo non è un database");
        QVERIFY(loadError().contains(u"formato non riconosciuto"));
        QVERIFY(!errorOf([&] { writeDscDatabase(file, legacyLines(), QString()); }).isNull());
    }

    void locating()
    {
        auto messages = std::make_shared<RecordingMessageService>();
        setMessageService(messages);
        setDscPassword(QString());
        QTemporaryDir dir;
        // Both sources: the text wins (the database describes another record).
        TestUtil::copyData("legacy/files.dsc", dir.path());
        writeDscDatabase(dir.filePath("dsc.mdb"), QStringList{"RECORD,SOLO_DB,Db,1", "CAMPO,X,X,TEXT"}, QString());
        QString path = dir.path(), windows = dir.path().replace(u'/', u'\\');
        Rec rec, backslashed, none;
        QVERIFY(LeggiDsc(path, "PROVINCE", rec));
        QCOMPARE(path, dir.path() + u'/'); // the caller's folder is completed
        QCOMPARE(rec.Campi()->Count(), 2);
        QVERIFY(LeggiDsc(windows, "PROVINCE", backslashed));
        QCOMPARE(backslashed.Campi()->Count(), 2);
        QVERIFY(messages->messages().isEmpty());

        QTemporaryDir empty;
        QString nothing = empty.path();
        QVERIFY(!LeggiDsc(nothing, "PROVINCE", none));
        QCOMPARE(messages->messages().size(), 1);
        QCOMPARE(messages->messages().first().text, u"Dsc non trovato");
        QVERIFY(!errorOf([&] { LeggiDscTesto(nothing, "PROVINCE", none); }).isNull());
        setMessageService(nullptr);
    }

    void jetSignature()
    {
        const QByteArray jet4 = readData("legacy/dsc_jet4.mdb").left(64);
        QVERIFY(JetFile::looksLikeJet(readData("legacy/access97_sample.mdb").left(64)));
        QVERIFY(JetFile::looksLikeJet(QByteArray(jet4).replace(4, 15, "Standard ACE DB")));
        QVERIFY(JetFile::looksLikeJet(jet4.left(20)));
        QVERIFY(!JetFile::looksLikeJet(jet4.left(19)));
        QVERIFY(!JetFile::looksLikeJet(QByteArray(jet4).replace(4, 15, "Standard XYZ DB")));
        QVERIFY(!JetFile::looksLikeJet(QByteArray("Standard Jet DB\0\0\0\0\0\0\0", 22))); // at offset 0
        QCOMPARE(JetFile::storedPassword(dataPath("legacy/access2000_password.mdb")), u"password");
        QCOMPARE(JetFile::storedPassword(dataPath("legacy/access97_sample.mdb")), QString());
    }

    void jetColumns()
    {
        const JetFile jet(dataPath("legacy/dsc_jet4.mdb"), QString());
        QCOMPARE(jet.readColumn("dsc", "LINE"), legacyLines()); // names ignore letter case
        const QStringList other = jet.readColumn("ALTRO", "line"); // another table in between
        QVERIFY(other.size() == 1 && !legacyLines().contains(other.first()));

        const JetFile jet3(dataPath("legacy/access97_sample.mdb"), QString());
        const QList<std::tuple<const JetFile *, const char *, const char *, const char *>> refused{
            {&jet, "Descrittori", "Line", "Tabella Descrittori non trovata"},
            {&jet, "Ds", "Line", "Tabella Ds non trovata"}, // a table name is not a prefix
            {&jet, "Dsc", "Riga", "Colonna Riga non trovata"},
            {&jet3, "Table1", "C", "non è di tipo testo"}};
        for (const auto &[file, table, column, error] : refused) {
            const QString message = errorOf([&] { file->readColumn(table, column); });
            QVERIFY2(message.contains(QString::fromUtf8(error)) && message.contains(dataPath("")), qPrintable(message));
        }
        QCOMPARE(jet.readColumn("Dsc", "Line"), legacyLines()); // the file stays usable
    }

    // Jet 4 keeps text as UCS-2; Jet 3 in the code page of the database (Windows-1252 here).
    void jetText()
    {
        QTemporaryDir dir;
        QVERIFY(JetFile(patchedCopy("legacy/dsc_jet4.mdb", dir.path(), utf16le("Descrittore di prova"),
                                    utf16le("Descrittore – città€")), QString())
                    .readColumn("Dsc", "Line").contains(u"' Descrittore – città€: anagrafica clienti"));
        QVERIFY(JetFile(patchedCopy("legacy/access97_sample.mdb", dir.path(), "abcdefg", "\xE0" "bcd\x80\x93\x94"), "")
                    .readColumn("Table1", "A").contains(u"àbcd€“”"));
    }

    // Damaged files fail with a message naming them; never a part of the values, never a hang.
    void jetDamagedFiles()
    {
        QTemporaryDir dir;
        const QByteArray jet4 = readData("legacy/dsc_jet4.mdb");
        const QList<std::tuple<const char *, QByteArray, bool>> files{
            // name, bytes, whether storedPassword still reads the header
            {"empty", QByteArray(), false},
            {"descriptor text", readData("legacy/files.dsc"), false},
            {"first 20 bytes", jet4.left(20), false},
            {"first 100 bytes", jet4.left(100), false},
            {"first page", jet4.left(4096), true},
            {"part of a page cut off", jet4.left(jet4.size() - 100), true},
            {"zeroed after the header", jet4.left(4096) + QByteArray(jet4.size() - 4096, '\0'), true}};
        for (const auto &[name, bytes, headerReadable] : files) {
            const QString path = dir.filePath(QString::fromLatin1(name));
            TestUtil::writeFile(path, bytes);
            QVERIFY2(errorOf([&] { JetFile(path, QString()).readColumn("Dsc", "Line"); }).contains(path), name);
            QVERIFY2(errorOf([&] { JetFile::storedPassword(path); }).isNull() == headerReadable, name);
        }
        for (const QString &path : {dir.filePath("manca.mdb"), dir.path()}) {
            QVERIFY(errorOf([&] { JetFile(path, QString()); }).contains(path));
            QVERIFY(!errorOf([&] { JetFile::storedPassword(path); }).isNull());
        }

        // Cut at a page boundary, some pages are simply missing: all the values come back or none.
        const QString cut = dir.filePath("cut.mdb");
        const QList<std::tuple<QString, int, const char *, const char *>> cuts{
            {"legacy/dsc_jet4.mdb", 4096, "Dsc", "Line"}, {"legacy/dsc_jet4_memo.mdb", 4096, "Dsc", "Line"},
            {"legacy/access97_sample.mdb", 2048, "Table1", "A"}};
        for (const auto &[file, pageSize, table, column] : cuts) {
            const QStringList expected = JetFile(dataPath(file), QString()).readColumn(table, column);
            const QByteArray full = readData(file);
            int failures = 0;
            for (qsizetype size = pageSize; size < full.size(); size += pageSize) {
                TestUtil::writeFile(cut, full.left(size));
                QStringList values;
                if (!errorOf([&] { values = JetFile(cut, QString()).readColumn(table, column); }).isNull())
                    ++failures;
                else
                    QVERIFY2(values == expected, qPrintable(QString("%1, %2 bytes").arg(file).arg(size)));
            }
            QVERIFY(failures > 0 && !expected.isEmpty());
        }

        // ACE files with a password are encrypted past the first page: they cannot be read.
        QByteArray ace = QByteArray(jet4).replace(4, 15, "Standard ACE DB");
        ace[0x14] = 2;
        TestUtil::writeFile(cut, ace); // same layout as Jet 4 when not encrypted; no password checked
        QCOMPARE(JetFile(cut, "qualsiasi").readColumn("Dsc", "Line"), legacyLines());
        QRandomGenerator random(7);
        for (qsizetype i = 4096; i < ace.size(); ++i)
            ace[i] = char(random.bounded(256));
        TestUtil::writeFile(cut, ace);
        const QString message = errorOf([&] { JetFile(cut, "Chiave7"); });
        QVERIFY2(message.contains(u"protetto da password") && message.contains(cut), qPrintable(message));
        QVERIFY(!message.contains(u"Chiave7"));
    }
};

QTEST_GUILESS_MAIN(TstDescriptors)
#include "tst_descriptors.moc"
