#pragma once

// The in-memory descriptor of one table: a tree of plain value holders rooted at Rec.
//
// Rec
//  +- Campi         keyed collection of Campo (one per field, descriptor order)
//  +- Indice        the primary unique index
//  |   +- NomiCampi collection of nomecampo (index fields, index order)
//  +- TipiRicerche  keyed collection of RicTipo (search layouts) and the text Standard
//      +- CampiRic  collection of CampoRic per layout
//
// Objects are shared by counted references (std::shared_ptr): the editor may keep a Campo while
// the tree goes away. Collections are 1-based, keep insertion order, and their text keys compare
// without regard to letter case.

#include "descriptor/errors.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <functional>
#include <memory>

namespace Norvix {

// Insertion-ordered collection with optional unique, case-insensitive text keys.
template <typename T>
class KeyedCollection
{
    struct Entry
    {
        std::shared_ptr<T> item;
        QString key;
    };

public:
    using Ptr = std::shared_ptr<T>;

    // 1-based position; outside 1..Count(): CollectionError::SubscriptOutOfRange.
    Ptr Item(int position) const { return m_items.at(checkedIndex(position)).item; }
    // Text key; a key not held: CollectionError::InvalidArgument.
    Ptr Item(const QString &key) const { return m_items.at(indexOfKey(key)).item; }
    Ptr Item(const char *key) const { return Item(QString::fromUtf8(key)); }

    int Count() const { return int(m_items.size()); }

    void Remove(int position) { removeAt(checkedIndex(position)); }
    void Remove(const QString &key) { removeAt(indexOfKey(key)); }
    void Remove(const char *key) { Remove(QString::fromUtf8(key)); }

    bool Contains(const QString &key) const { return m_keys.contains(normalKey(key)); }
    // The key the element at a 1-based position was added under (empty: none).
    QString Key(int position) const { return m_items.at(checkedIndex(position)).key; }

    // Enumeration in insertion order (range-for).
    class const_iterator
    {
    public:
        using Inner = typename QVector<Entry>::const_iterator;
        explicit const_iterator(Inner it) : m_it(it) {}
        Ptr operator*() const { return m_it->item; }
        const_iterator &operator++() { ++m_it; return *this; }
        bool operator!=(const const_iterator &o) const { return m_it != o.m_it; }
        bool operator==(const const_iterator &o) const { return m_it == o.m_it; }

    private:
        Inner m_it;
    };
    const_iterator begin() const { return const_iterator(m_items.cbegin()); }
    const_iterator end() const { return const_iterator(m_items.cend()); }

protected:
    // Appends item under key (no key when empty); a key already held: DuplicateKey, nothing added.
    Ptr append(Ptr item, const QString &key)
    {
        if (!key.isEmpty()) {
            const QString k = normalKey(key);
            if (m_keys.contains(k))
                throw CollectionError(CollectionError::DuplicateKey,
                                      QStringLiteral("Chiave già presente nella raccolta: %1").arg(key));
            m_keys.insert(k, int(m_items.size()));
        }
        m_items.append(Entry{item, key});
        return item;
    }

private:

    static QString normalKey(const QString &key) { return key.toCaseFolded(); }

    int checkedIndex(int position) const
    {
        if (position < 1 || position > m_items.size())
            throw CollectionError(CollectionError::SubscriptOutOfRange,
                                  QStringLiteral("Indice non compreso nell'intervallo: %1").arg(position));
        return position - 1;
    }
    int indexOfKey(const QString &key) const
    {
        const auto it = m_keys.constFind(normalKey(key));
        if (it == m_keys.cend())
            throw CollectionError(CollectionError::InvalidArgument,
                                  QStringLiteral("Chiave non presente nella raccolta: %1").arg(key));
        return it.value();
    }
    void removeAt(int index)
    {
        if (!m_items.at(index).key.isEmpty())
            m_keys.remove(normalKey(m_items.at(index).key));
        m_items.removeAt(index);
        for (auto it = m_keys.begin(); it != m_keys.end(); ++it)
            if (it.value() > index)
                --it.value();
    }

    QVector<Entry> m_items;
    QHash<QString, int> m_keys; // folded key -> index into m_items
};

// One field of the record.
class Campo
{
public:
    // Scratch slot of the editor: text, number or an object (QVariant holding a QObject* or a
    // shared pointer); the loaders never set it.
    QVariant Tag() const { return m_tag; }
    void setTag(const QVariant &v) { m_tag = v; }

    QString SourceRif() const { return m_sourceRif; }
    void setSourceRif(const QString &v) { m_sourceRif = v; }
    float Page() const { return m_page; }
    void setPage(float v) { m_page = v; }
    int Indice() const { return m_indice; }
    void setIndice(int v) { m_indice = v; }
    QString Format() const { return m_format; }
    void setFormat(const QString &v) { m_format = v; }
    QString ObjType() const { return m_objType; }
    void setObjType(const QString &v) { m_objType = v; }
    // Field of the referenced table; the loaders store text.
    QVariant FieldRif() const { return m_fieldRif; }
    void setFieldRif(const QVariant &v) { m_fieldRif = v; }
    QString RecRif() const { return m_recRif; }
    void setRecRif(const QString &v) { m_recRif = v; }
    QString FileRif() const { return m_fileRif; }
    void setFileRif(const QString &v) { m_fileRif = v; }
    QString CodPos() const { return m_codPos; }
    void setCodPos(const QString &v) { m_codPos = v; }
    QString MaxVal() const { return m_maxVal; }
    void setMaxVal(const QString &v) { m_maxVal = v; }
    QString MinVal() const { return m_minVal; }
    void setMinVal(const QString &v) { m_minVal = v; }
    QString Default() const { return m_default; }
    void setDefault(const QString &v) { m_default = v; }
    int MaxLen() const { return m_maxLen; }
    void setMaxLen(int v) { m_maxLen = v; }
    QString TIPO() const { return m_tipo; }
    void setTIPO(const QString &v) { m_tipo = v; }
    QString Desc() const { return m_desc; }
    void setDesc(const QString &v) { m_desc = v; }
    QString Nome() const { return m_nome; }
    void setNome(const QString &v) { m_nome = v; }

private:
    QVariant m_tag;
    QString m_sourceRif;
    float m_page = 0;
    int m_indice = 0;
    QString m_format;
    QString m_objType;
    QVariant m_fieldRif;
    QString m_recRif;
    QString m_fileRif;
    QString m_codPos;
    QString m_maxVal;
    QString m_minVal;
    QString m_default;
    int m_maxLen = 0;
    QString m_tipo;
    QString m_desc;
    QString m_nome;
};

class Campi : public KeyedCollection<Campo>
{
public:
    // Creates a Campo with the fifteen given values (Tag and SourceRif stay unset) and appends it
    // under sKey when sKey is not empty.
    Ptr Add(const QString &Nome, const QString &Desc, const QString &TIPO, int MaxLen,
            const QString &Default, const QString &MinVal, const QString &MaxVal,
            const QString &CodPos, const QString &FileRif, const QString &RecRif,
            const QVariant &FieldRif, const QString &ObjType, const QString &Format, int Indice,
            float Page, const QString &sKey = QString());
};

// One field of an index.
class nomecampo
{
public:
    QString TIPO() const { return m_tipo; }
    void setTIPO(const QString &v) { m_tipo = v; }
    QString ID() const { return m_id; }
    void setID(const QString &v) { m_id = v; }

private:
    QString m_tipo;
    QString m_id;
};

class NomiCampi : public KeyedCollection<nomecampo>
{
public:
    Ptr Add(const QString &ID, const QString &sKey = QString());
};

// The record's primary index; an empty NomiCampi means the descriptor declared none.
class Indice
{
public:
    std::shared_ptr<::Norvix::NomiCampi> NomiCampi();
    void setNomiCampi(std::shared_ptr<::Norvix::NomiCampi> v) { m_nomiCampi = std::move(v); }
    bool Univoco() const { return m_univoco; }
    void setUnivoco(bool v) { m_univoco = v; }
    bool Primario() const { return m_primario; }
    void setPrimario(bool v) { m_primario = v; }
    QString Nome() const { return m_nome; }
    void setNome(const QString &v) { m_nome = v; }

private:
    std::shared_ptr<::Norvix::NomiCampi> m_nomiCampi;
    bool m_univoco = false;
    bool m_primario = false;
    QString m_nome;
};

// One search field of a layout.
class CampoRic
{
public:
    QString SearchType() const { return m_searchType; }
    void setSearchType(const QString &v) { m_searchType = v; }
    QString CtrlType() const { return m_ctrlType; }
    void setCtrlType(const QString &v) { m_ctrlType = v; }
    QString Nome() const { return m_nome; }
    void setNome(const QString &v) { m_nome = v; }

private:
    QString m_searchType;
    QString m_ctrlType;
    QString m_nome;
};

// Whether a search field may name this search type (LIKE, =, >=, <=, INIZIA; any letter case,
// blanks around ignored), and the types as a message lists them.
bool isSearchType(const QString &type);
QString searchTypes();

// The columns a lookup's description names (a field's FieldRif): one, or several separated by
// ';' ("FirstName;LastName"), shown joined by a blank. A whole text that `isColumn` knows is one
// column, even with a ';' in its name.
QStringList descriptionColumns(const QString &description, const std::function<bool(const QString &)> &isColumn);

class CampiRic : public KeyedCollection<CampoRic>
{
public:
    Ptr Add(const QString &Nome, const QString &CtrlType, const QString &SearchType,
            const QString &sKey = QString());
};

// One search layout.
class RicTipo
{
public:
    std::shared_ptr<::Norvix::CampiRic> CampiRic();
    void setCampiRic(std::shared_ptr<::Norvix::CampiRic> v) { m_campiRic = std::move(v); }
    QString CampiMostrati() const { return m_campiMostrati; }
    void setCampiMostrati(const QString &v) { m_campiMostrati = v; }
    QString Descrizione() const { return m_descrizione; }
    void setDescrizione(const QString &v) { m_descrizione = v; }

private:
    std::shared_ptr<::Norvix::CampiRic> m_campiRic;
    QString m_campiMostrati;
    QString m_descrizione;
};

class TipiRicerche : public KeyedCollection<RicTipo>
{
public:
    // The record's standard search type, as written in the RECORD line.
    QString Standard() const { return m_standard; }
    void setStandard(const QString &v) { m_standard = v; }

    Ptr Add(const QString &Descrizione, const QString &CampiMostrati, const QString &sKey = QString());

private:
    QString m_standard;
};

// A detail of the record: the rows of a child record whose link fields equal the master row's
// (an order's lines), shown in a grid on one of the record's pages.
class Dettaglio
{
public:
    // Its number in the record, from 1.
    int Numero() const { return m_numero; }
    void setNumero(int v) { m_numero = v; }
    // The child record, described in the same descriptors.
    QString Figlio() const { return m_figlio; }
    void setFiglio(const QString &v) { m_figlio = v; }
    QString Titolo() const { return m_titolo; }
    void setTitolo(const QString &v) { m_titolo = v; }
    // The tab page that holds the grid (1 is the first).
    int Pagina() const { return m_pagina; }
    void setPagina(int v) { m_pagina = v; }
    // The link: fields of the master and of the child, pair by pair.
    QStringList CampiPadre() const { return m_campiPadre; }
    void setCampiPadre(const QStringList &v) { m_campiPadre = v; }
    QStringList CampiFiglio() const { return m_campiFiglio; }
    void setCampiFiglio(const QStringList &v) { m_campiFiglio = v; }
    // The child fields shown, in order; empty: every child field but the link's.
    QStringList Colonne() const { return m_colonne; }
    void setColonne(const QStringList &v) { m_colonne = v; }

private:
    int m_numero = 0;
    QString m_figlio;
    QString m_titolo;
    int m_pagina = 1;
    QStringList m_campiPadre;
    QStringList m_campiFiglio;
    QStringList m_colonne;
};

class Dettagli : public KeyedCollection<Dettaglio>
{
public:
    // Appended under its number's text.
    Ptr Add(int Numero, const QString &Figlio, const QString &Titolo, int Pagina, const QStringList &CampiPadre,
            const QStringList &CampiFiglio, const QStringList &Colonne);
};

// One record (table) descriptor. Creating a Rec creates its Indice.
class Rec
{
public:
    Rec();
    ~Rec();
    Rec(const Rec &) = delete;
    Rec &operator=(const Rec &) = delete;

    QString NomiPagine() const { return m_nomiPagine; }
    void setNomiPagine(const QString &v) { m_nomiPagine = v; }
    // Created empty on first read when none is set.
    std::shared_ptr<::Norvix::TipiRicerche> TipiRicerche();
    void setTipiRicerche(std::shared_ptr<::Norvix::TipiRicerche> v) { m_tipiRicerche = std::move(v); }
    QString Path() const { return m_path; }
    void setPath(const QString &v) { m_path = v; }
    // Created empty on first read when none is set; setting an empty pointer releases the fields.
    std::shared_ptr<::Norvix::Campi> Campi();
    void setCampi(std::shared_ptr<::Norvix::Campi> v) { m_campi = std::move(v); }
    // The details, in number order; created empty on first read.
    std::shared_ptr<::Norvix::Dettagli> Dettagli();
    // Never created by reading: may be null only if a caller set it so.
    std::shared_ptr<::Norvix::Indice> Indice() const { return m_indice; }
    void setIndice(std::shared_ptr<::Norvix::Indice> v) { m_indice = std::move(v); }
    QString Desc() const { return m_desc; }
    void setDesc(const QString &v) { m_desc = v; }
    QString db() const { return m_db; }
    void setdb(const QString &v) { m_db = v; }
    QString Nome() const { return m_nome; }
    void setNome(const QString &v) { m_nome = v; }
    // Whether every change of the record's rows is recorded with who made it (STORIA,1).
    bool Storia() const { return m_storia; }
    void setStoria(bool v) { m_storia = v; }

private:
    QString m_nomiPagine;
    std::shared_ptr<::Norvix::TipiRicerche> m_tipiRicerche;
    QString m_path;
    std::shared_ptr<::Norvix::Campi> m_campi;
    std::shared_ptr<::Norvix::Indice> m_indice;
    std::shared_ptr<::Norvix::Dettagli> m_dettagli;
    QString m_desc;
    QString m_db;
    QString m_nome;
    bool m_storia = false;
};

using RecPtr = std::shared_ptr<Rec>;
using CampoPtr = std::shared_ptr<Campo>;

} // namespace Norvix
