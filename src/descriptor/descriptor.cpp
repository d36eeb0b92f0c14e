#include "descriptor/descriptor.h"

namespace Norvix {

Campi::Ptr Campi::Add(const QString &Nome, const QString &Desc, const QString &TIPO, int MaxLen,
                      const QString &Default, const QString &MinVal, const QString &MaxVal,
                      const QString &CodPos, const QString &FileRif, const QString &RecRif,
                      const QVariant &FieldRif, const QString &ObjType, const QString &Format,
                      int Indice, float Page, const QString &sKey)
{
    auto c = std::make_shared<Campo>();
    c->setNome(Nome);
    c->setDesc(Desc);
    c->setTIPO(TIPO);
    c->setMaxLen(MaxLen);
    c->setDefault(Default);
    c->setMinVal(MinVal);
    c->setMaxVal(MaxVal);
    c->setCodPos(CodPos);
    c->setFileRif(FileRif);
    c->setRecRif(RecRif);
    c->setFieldRif(FieldRif);
    c->setObjType(ObjType);
    c->setFormat(Format);
    c->setIndice(Indice);
    c->setPage(Page);
    return append(std::move(c), sKey);
}

NomiCampi::Ptr NomiCampi::Add(const QString &ID, const QString &sKey)
{
    auto n = std::make_shared<nomecampo>();
    n->setID(ID);
    return append(std::move(n), sKey);
}

CampiRic::Ptr CampiRic::Add(const QString &Nome, const QString &CtrlType, const QString &SearchType,
                            const QString &sKey)
{
    auto c = std::make_shared<CampoRic>();
    c->setNome(Nome);
    c->setCtrlType(CtrlType);
    c->setSearchType(SearchType);
    return append(std::move(c), sKey);
}

TipiRicerche::Ptr TipiRicerche::Add(const QString &Descrizione, const QString &CampiMostrati,
                                    const QString &sKey)
{
    auto r = std::make_shared<RicTipo>();
    r->setDescrizione(Descrizione);
    r->setCampiMostrati(CampiMostrati);
    return append(std::move(r), sKey);
}

std::shared_ptr<NomiCampi> Indice::NomiCampi()
{
    if (!m_nomiCampi)
        m_nomiCampi = std::make_shared<::Norvix::NomiCampi>();
    return m_nomiCampi;
}

std::shared_ptr<CampiRic> RicTipo::CampiRic()
{
    if (!m_campiRic)
        m_campiRic = std::make_shared<::Norvix::CampiRic>();
    return m_campiRic;
}

Rec::Rec() : m_indice(std::make_shared<::Norvix::Indice>()) {}

Rec::~Rec()
{
    // Children go in a fixed order: search layouts, fields, then the index.
    m_tipiRicerche.reset();
    m_dettagli.reset();
    m_campi.reset();
    m_indice.reset();
}

std::shared_ptr<TipiRicerche> Rec::TipiRicerche()
{
    if (!m_tipiRicerche)
        m_tipiRicerche = std::make_shared<::Norvix::TipiRicerche>();
    return m_tipiRicerche;
}

std::shared_ptr<Dettagli> Rec::Dettagli()
{
    if (!m_dettagli)
        m_dettagli = std::make_shared<::Norvix::Dettagli>();
    return m_dettagli;
}

Dettagli::Ptr Dettagli::Add(int Numero, const QString &Figlio, const QString &Titolo, int Pagina,
                            const QStringList &CampiPadre, const QStringList &CampiFiglio, const QStringList &Colonne)
{
    auto d = std::make_shared<Dettaglio>();
    d->setNumero(Numero);
    d->setFiglio(Figlio);
    d->setTitolo(Titolo);
    d->setPagina(Pagina);
    d->setCampiPadre(CampiPadre);
    d->setCampiFiglio(CampiFiglio);
    d->setColonne(Colonne);
    return append(std::move(d), QString::number(Numero));
}

std::shared_ptr<Campi> Rec::Campi()
{
    if (!m_campi)
        m_campi = std::make_shared<::Norvix::Campi>();
    return m_campi;
}

namespace {
const QStringList &searchTypeNames()
{
    static const QStringList names{QStringLiteral("LIKE"), QStringLiteral("="), QStringLiteral(">="),
                                   QStringLiteral("<="), QStringLiteral("INIZIA")};
    return names;
}
} // namespace

QStringList descriptionColumns(const QString &description, const std::function<bool(const QString &)> &isColumn)
{
    if (isColumn(description.trimmed()))
        return {description.trimmed()};
    QStringList columns;
    for (const QString &c : description.split(u';'))
        if (!c.trimmed().isEmpty())
            columns << c.trimmed();
    return columns;
}

bool isSearchType(const QString &type)
{
    return searchTypeNames().contains(type.trimmed().toUpper());
}

QString searchTypes()
{
    return searchTypeNames().join(QStringLiteral(", "));
}

} // namespace Norvix
