// The developer's tools on the descriptors: lint against the database, scaffold from it.

#include "anagrafica.h"
#include "descriptor/dsctext.h"
#include "tools/lint.h"

#include <QTest>

using namespace Norvix;
using namespace TestUtil;

namespace {

// One planted fault per line (or per record), each a finding of its own.
const char *const kPlanted = R"(' planted faults
RECORD,PROVINCE,Province,1,Generale
CAMPO,SIGLA,Sigla,TEXT,2,,A,,X
CAMPO,NOMEE,Provincia,TEXT,40
INDICE,PrimaryKey,+SIGLA,-1,-1
RECORD,CLIENTI,Clienti,1,Generale,Indirizzi
CAMPO,CODICE,Codice,LONG,6,,1,,X
CAMPO,NOME,Ragione sociale,DATE,,,,,,,,,,,1
CAMPO,PROV,Provincia,TEXT,80,,,,X,,PROVINCEX,NOME,CMBBOUNDED,,2
CAMPO,COMUNE,Comune,TEXT,4,,,,,,COMUNI,NOMEX,COMBOBOX,,2,PROVV
CAMPO,NATO,Data di nascita,DATE,,,01/01/1900,,,,,,TXTSTRANO,,5
CAMPO,FIDO,Fido,AUTOINC,12
RICERCA,1,MOSTRA,Per nome,NOME,ZZZ
RICERCA,1,SELEZIONE,NOME,,LIKE
RICERCA,1,SELEZIONE,YYY,TXTTEXT,=
INDICE,PrimaryKey,+NOME,-1,-1
RECORD,FANTASMA,Fantasma,1
CAMPO,A,A,TEXT,2
INDICE,PrimaryKey,+A,-1,-1
RECORD,ORDINI,Ordini,1
CAMPO,ANNO,Anno,INTEGER,4
RICERCA,1,MOSTRA,Per anno,ANNO
RICERCA,1,SELEZIONE,ANNO,,CONTIENE
INDICE,PrimaryKey,+ANNO;+NUMERO,-1,-1
)";

QStringList described(const QList<LintFinding> &findings)
{
    QStringList out;
    for (const LintFinding &f : findings)
        if (!f.hint)
            out << QStringLiteral("%1 %2.%3 %4").arg(f.line).arg(f.record, f.field, f.code);
    out.sort();
    return out;
}

} // namespace

class TstTools : public QObject
{
    Q_OBJECT

private slots:
    void lintFindsPlantedFaults_data() { backends(); }
    void lintFindsPlantedFaults()
    {
        QFETCH(QString, backend);
        Data db(backend);
        // The sample descriptors describe the sample tables without a fault.
        const QStringList sample = splitDscLines(decodeDscText(readData("legacy/files.dsc")));
        QCOMPARE(described(lintDescriptors(*db.conn, sample, "files.dsc")), QStringList());

        const QStringList planted = splitDscLines(QString::fromUtf8(kPlanted));
        const QList<LintFinding> findings = lintDescriptors(*db.conn, planted, "files.dsc");
        QStringList want{"4 PROVINCE.NOMEE missing-column",
                         "8 CLIENTI.NOME type-mismatch",
                         "9 CLIENTI.PROV missing-lookup-table",
                         "9 CLIENTI.PROV too-long",
                         "10 CLIENTI.COMUNE missing-source",
                         "10 CLIENTI.COMUNE missing-lookup-column",
                         "11 CLIENTI.NATO unknown-control",
                         "11 CLIENTI.NATO missing-page",
                         "12 CLIENTI.FIDO type-mismatch",
                         "13 CLIENTI.ZZZ search-missing-field",
                         "15 CLIENTI.YYY search-missing-field",
                         "16 CLIENTI. unbacked-key",
                         "17 FANTASMA. missing-table",
                         "23 ORDINI. load"};
        want.sort();
        QCOMPARE(described(findings), want);
        for (const LintFinding &f : findings)
            QVERIFY2(f.message.size() > 30 && f.message.contains(u':'), qPrintable(f.message)); // what, and how to fix it
        // Only the records named; one the descriptors lack is a finding too.
        QCOMPARE(described(lintDescriptors(*db.conn, planted, "files.dsc", {"province", "MANCANTE"})),
                 (QStringList{"0 MANCANTE. missing-record", "4 PROVINCE.NOMEE missing-column"}));
    }
};

QTEST_GUILESS_MAIN(TstTools)
#include "tst_tools.moc"
