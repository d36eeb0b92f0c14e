#include "descriptor/dscjson.h"

#include <QJsonArray>

namespace Norvix {

QJsonObject recToJson(Rec &rec)
{
    QJsonArray campi;
    for (const auto &c : *rec.Campi()) {
        campi.append(QJsonObject{
            {QStringLiteral("Nome"), c->Nome()},
            {QStringLiteral("Desc"), c->Desc()},
            {QStringLiteral("TIPO"), c->TIPO()},
            {QStringLiteral("MaxLen"), c->MaxLen()},
            {QStringLiteral("Default"), c->Default()},
            {QStringLiteral("MinVal"), c->MinVal()},
            {QStringLiteral("MaxVal"), c->MaxVal()},
            {QStringLiteral("CodPos"), c->CodPos()},
            {QStringLiteral("FileRif"), c->FileRif()},
            {QStringLiteral("RecRif"), c->RecRif()},
            {QStringLiteral("FieldRif"), c->FieldRif().toString()},
            {QStringLiteral("ObjType"), c->ObjType()},
            {QStringLiteral("Format"), c->Format()},
            {QStringLiteral("Indice"), c->Indice()},
            {QStringLiteral("Page"), double(c->Page())},
            {QStringLiteral("SourceRif"), c->SourceRif()},
        });
    }

    QJsonArray nomiCampi;
    QString indexName;
    if (const auto index = rec.Indice()) {
        indexName = index->Nome();
        for (const auto &n : *index->NomiCampi())
            nomiCampi.append(n->ID());
    }

    QJsonArray ricerche;
    const auto layouts = rec.TipiRicerche();
    for (int i = 1; i <= layouts->Count(); ++i) {
        const auto r = layouts->Item(i);
        QJsonArray campiRic;
        for (const auto &cr : *r->CampiRic())
            campiRic.append(QJsonObject{
                {QStringLiteral("Nome"), cr->Nome()},
                {QStringLiteral("CtrlType"), cr->CtrlType()},
                {QStringLiteral("SearchType"), cr->SearchType()},
            });
        ricerche.append(QJsonObject{
            {QStringLiteral("Key"), layouts->Key(i)},
            {QStringLiteral("Descrizione"), r->Descrizione()},
            {QStringLiteral("CampiMostrati"), r->CampiMostrati()},
            {QStringLiteral("CampiRic"), campiRic},
        });
    }

    QJsonArray dettagli;
    for (const auto &d : *rec.Dettagli())
        dettagli.append(QJsonObject{
            {QStringLiteral("Numero"), d->Numero()},
            {QStringLiteral("Figlio"), d->Figlio()},
            {QStringLiteral("Titolo"), d->Titolo()},
            {QStringLiteral("Pagina"), d->Pagina()},
            {QStringLiteral("CampiPadre"), QJsonArray::fromStringList(d->CampiPadre())},
            {QStringLiteral("CampiFiglio"), QJsonArray::fromStringList(d->CampiFiglio())},
            {QStringLiteral("Colonne"), QJsonArray::fromStringList(d->Colonne())},
        });

    return QJsonObject{
        {QStringLiteral("Nome"), rec.Nome()},
        {QStringLiteral("Desc"), rec.Desc()},
        {QStringLiteral("Path"), rec.Path()},
        {QStringLiteral("db"), rec.db()},
        {QStringLiteral("NomiPagine"), rec.NomiPagine()},
        {QStringLiteral("Standard"), layouts->Standard()},
        {QStringLiteral("Campi"), campi},
        {QStringLiteral("Indice"), QJsonObject{{QStringLiteral("Nome"), indexName}, {QStringLiteral("NomiCampi"), nomiCampi}}},
        {QStringLiteral("TipiRicerche"), ricerche},
        {QStringLiteral("Dettagli"), dettagli},
        {QStringLiteral("Storia"), rec.Storia()},
    };
}

} // namespace Norvix
