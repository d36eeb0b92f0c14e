#include "descriptor/dsctext.h"
#include "platform/language.h"

#include "descriptor/estraitoken.h"
#include "platform/values.h"

#include <QFile>
#include <QStringDecoder>
#include <QVarLengthArray>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

namespace Norvix {

namespace {

// Windows-1252 code points for bytes 0x80..0x9F; the other bytes map to the same code point.
// The five bytes the code page leaves undefined map to their C1 control, as the system
// conversion does.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// UTF-8 to text, keeping a byte-order mark that is not at the start of the file as the character
// it is (the stock conversion would drop one at the start of every piece it is given).
QString decodeUtf8(const char *data, qsizetype size)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(QByteArrayView(data, size));
}

QString decodeCp1252(const QByteArray &bytes)
{
    QString out(bytes.size(), Qt::Uninitialized);
    QChar *dst = out.data();
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        *dst++ = QChar(b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : char16_t(b));
    }
    return out;
}

// Fields of one line split at commas, untrimmed, with the position where each starts.
struct Fields
{
    QStringView line;
    QVarLengthArray<QStringView, 20> raw;

    explicit Fields(QStringView l) : line(l)
    {
        qsizetype start = 0;
        for (;;) {
            const qsizetype comma = line.indexOf(u',', start);
            if (comma < 0) {
                raw.append(line.sliced(start));
                break;
            }
            raw.append(line.sliced(start, comma - start));
            start = comma + 1;
        }
    }

    // Field n (1-based) trimmed of blanks; a missing field reads as empty.
    QStringView view(int n) const { return n >= 1 && n <= raw.size() ? trimBlanks(raw[n - 1]) : QStringView(); }
    QString text(int n) const { return view(n).toString(); }
    // Field n without its enclosing double quotes (see stripQuotes), then trimmed.
    QString unquoted(int n) const
    {
        if (n < 1 || n > raw.size())
            return QString();
        return trimBlanks(stripQuotes(raw[n - 1])).toString();
    }
    // Everything after the n-th comma, exactly as written.
    QString after(int commas) const
    {
        if (commas >= raw.size())
            return QString();
        const qsizetype offset = raw[commas].data() - line.data();
        return line.sliced(offset).toString();
    }
};

bool isAscii(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

// Packs up to eight bytes into a little-endian word.
constexpr quint64 pack(const char *text, qsizetype size)
{
    quint64 w = 0;
    for (qsizetype i = 0; i < size; ++i)
        w |= quint64(static_cast<unsigned char>(text[i])) << (8 * i);
    return w;
}

// Compares an ASCII token with the keywords as upper case would. Every keyword is made of
// letters, and a byte b equals a letter L after upper-casing exactly when b | 0x20 equals L | 0x20,
// so one OR and one comparison of whole words decide.
// DETTAGLIO, the one keyword longer than a word, is its first eight letters and a ninth.
DscKeyword asciiKeyword(const char *token, qsizetype size)
{
    if (size < 4 || size > 9 || (size == 9 && (token[8] | 0x20) != 'o'))
        return DscKeyword::Other;
    const qsizetype head = std::min<qsizetype>(size, 8);
    quint64 word = 0;
    std::memcpy(&word, token, size_t(head));
    word = qFromLittleEndian(word);
    word |= 0x2020202020202020ULL >> (8 * (8 - head));
    static constexpr struct
    {
        quint64 word;
        qsizetype size;
        DscKeyword keyword;
    } kWords[] = {
        {pack("campo", 5), 5, DscKeyword::Campo},     {pack("record", 6), 6, DscKeyword::Record},
        {pack("indice", 6), 6, DscKeyword::Indice},   {pack("ricerca", 7), 7, DscKeyword::Ricerca},
        {pack("path", 4), 4, DscKeyword::Path},       {pack("database", 8), 8, DscKeyword::Database},
        {pack("dettagli", 8), 9, DscKeyword::Dettaglio}, {pack("storia", 6), 6, DscKeyword::Storia},
    };
    for (const auto &k : kWords)
        if (k.size == size && k.word == word)
            return k.keyword;
    return DscKeyword::Other;
}

QStringView trimView(QStringView text) { return ::Norvix::trimBlanks(text); }
QByteArrayView trimView(QByteArrayView text)
{
    qsizetype b = 0, e = text.size();
    while (b < e && text[b] == ' ')
        ++b;
    while (e > b && text[e - 1] == ' ')
        --e;
    return text.sliced(b, e - b);
}

// The first field of a line, trimmed of blanks.
QStringView firstField(QStringView line)
{
    const auto comma = line.indexOf(u',');
    return trimView(comma < 0 ? line : line.first(comma));
}
QByteArrayView firstField(QByteArrayView line)
{
    const auto *comma = static_cast<const char *>(std::memchr(line.data(), ',', size_t(line.size())));
    return trimView(comma ? line.first(comma - line.data()) : line);
}

// A keyword written with non-ASCII letters can still upper-case to one of the words.
DscKeyword unicodeKeyword(const QString &token)
{
    const QByteArray upper = token.toUpper().toLatin1();
    return asciiKeyword(upper.constData(), upper.size());
}

// Strict UTF-8 check: no overlong forms, surrogates or code points above U+10FFFF.
bool isValidUtf8(const QByteArray &bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    const auto *end = p + bytes.size();
    while (p < end) {
        // Plain ASCII goes 32 bytes at a time.
        while (end - p >= 32) {
            quint64 c[4];
            std::memcpy(c, p, 32);
            if ((c[0] | c[1] | c[2] | c[3]) & 0x8080808080808080ULL)
                break;
            p += 32;
        }
        if (p >= end)
            break;
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int extra;
        char32_t cp, min;
        if ((c & 0xE0) == 0xC0) { extra = 1; cp = c & 0x1F; min = 0x80; }
        else if ((c & 0xF0) == 0xE0) { extra = 2; cp = c & 0x0F; min = 0x800; }
        else if ((c & 0xF8) == 0xF0) { extra = 3; cp = c & 0x07; min = 0x10000; }
        else return false;
        if (end - p <= extra)
            return false;
        for (int i = 1; i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        p += extra + 1;
    }
    return true;
}

// One line: UTF-8 when it is valid UTF-8 (ASCII is both), Windows-1252 otherwise.
QString decodeDscLine(const char *data, qsizetype size)
{
    if (std::all_of(data, data + size, [](char c) { return (c & 0x80) == 0; }))
        return QString::fromLatin1(data, size);
    const QByteArray line = QByteArray::fromRawData(data, size);
    return isValidUtf8(line) ? decodeUtf8(data, size) : decodeCp1252(line);
}

// The key of a search layout: its number in decimal, without blanks, so "01" and "1" agree.
QString layoutKey(QStringView field)
{
    const double n = Values::val(field);
    if (std::isfinite(n) && n == std::trunc(n) && std::fabs(n) < 1e15)
        return QString::number(qint64(n));
    return QString::number(n, 'g', 15);
}

class Reader
{
public:
    Reader(DscLineSource &lines, const QString &recordName, Rec &rec, const QString &sourceName)
        : m_lines(lines), m_wanted(recordName.toUpper()), m_rec(rec), m_source(sourceName)
    {
    }

    void run()
    {
        scan();
        for (const auto &[number, d] : m_details)
            m_rec.Dettagli()->Add(number, d.Figlio(), d.Titolo(), d.Pagina(), d.CampiPadre(), d.CampiFiglio(),
                                  d.Colonne());
    }

private:
    void scan()
    {
        // Scanning mode: outside the wanted record.
        while (next()) {
            const DscKeyword keyword = m_lines.keyword();
            if (keyword != DscKeyword::Path && keyword != DscKeyword::Database && keyword != DscKeyword::Record)
                continue;
            const QString line = m_lines.line();
            const Fields f(trimBlanks(QStringView(line)));
            if (keyword == DscKeyword::Path) {
                m_rec.setPath(f.text(2));
            } else if (keyword == DscKeyword::Database) {
                m_rec.setdb(f.text(2));
            } else if (f.view(2).toString().toUpper() == m_wanted) {
                applyRecord(f);
                if (!section())
                    return;
            }
        }
    }

    bool next()
    {
        if (!m_lines.next())
            return false;
        ++m_lineNumber;
        return true;
    }

    [[noreturn]] void fail(const QString &reason) const
    {
        throw DescriptorError(nxTr("%1, riga %2: %3").arg(m_source).arg(m_lineNumber).arg(reason));
    }

    void applyRecord(const Fields &f)
    {
        m_rec.setNome(f.text(2));
        m_rec.setDesc(f.text(3));
        m_rec.TipiRicerche()->setStandard(f.text(4));
        QStringList pages;
        for (int i = 5; i <= f.raw.size(); ++i)
            pages.append(f.text(i));
        m_rec.setNomiPagine(pages.join(u','));
    }

    // Section mode, from the line after the RECORD line. Returns true when scanning must go on
    // (another RECORD line ended the section), false when loading has ended.
    bool section()
    {
        while (next()) {
            const DscKeyword keyword = m_lines.keyword();
            if (keyword == DscKeyword::Record)
                return true;
            if (keyword != DscKeyword::Campo && keyword != DscKeyword::Indice && keyword != DscKeyword::Ricerca
                && keyword != DscKeyword::Dettaglio && keyword != DscKeyword::Storia)
                continue;
            const QString line = m_lines.line();
            const Fields f{QStringView(line)};
            if (keyword == DscKeyword::Campo) {
                addField(f);
            } else if (keyword == DscKeyword::Indice) {
                if (applyIndex(f)) {
                    sectionTail();
                    return false;
                }
            } else if (keyword == DscKeyword::Storia) {
                applyHistory(f);
            } else if (keyword == DscKeyword::Dettaglio) {
                addDetail(f);
            } else {
                applySearch(f);
            }
        }
        return false;
    }

    void addField(const Fields &f)
    {
        const QString nome = f.text(2);
        if (nome.isEmpty())
            fail(nxTr("campo senza nome"));
        auto campi = m_rec.Campi();
        if (campi->Contains(nome))
            fail(nxTr("campo %1 già dichiarato").arg(nome));
        const double len = std::nearbyint(Values::val(f.view(5))); // halves to even
        if (!(len >= -32768 && len <= 32767))
            fail(nxTr("lunghezza del campo %1 fuori dall'intervallo -32768..32767").arg(nome));

        Campo c;
        c.setNome(nome);
        c.setDesc(f.text(3));
        c.setTIPO(f.text(4).toUpper());
        c.setMaxLen(int(len));
        c.setDefault(f.text(6));
        c.setMinVal(f.text(7));
        c.setMaxVal(f.text(8));
        c.setCodPos(f.text(9));
        c.setFileRif(f.text(10));
        c.setRecRif(f.text(11));
        c.setFieldRif(f.text(12));
        c.setObjType(f.text(13).toUpper());
        c.setFormat(f.unquoted(14));
        c.setPage(float(Values::val(f.view(15))));
        c.setSourceRif(f.text(16));

        if (!c.FieldRif().toString().isEmpty() && c.ObjType().isEmpty())
            c.setObjType(QStringLiteral("COMBOBOX"));
        if (c.Page() < 1)
            c.setPage(1);
        if (c.ObjType() == u"EDITBOX")
            c.setObjType(QString());
        applyTypeDefaults(c);
        if (c.ObjType().isEmpty())
            c.setObjType(QStringLiteral("TXTTEXT"));

        c.setIndice(m_ordinal++);
        auto stored = campi->Add(c.Nome(), c.Desc(), c.TIPO(), c.MaxLen(), c.Default(), c.MinVal(), c.MaxVal(),
                                 c.CodPos(), c.FileRif(), c.RecRif(), c.FieldRif(), c.ObjType(), c.Format(),
                                 c.Indice(), c.Page(), c.Nome());
        stored->setSourceRif(c.SourceRif());
    }

    static void defaultObjType(Campo &c, const char *kind)
    {
        if (c.ObjType().isEmpty())
            c.setObjType(QString::fromLatin1(kind));
    }
    static void defaultMaxVal(Campo &c, const char *max)
    {
        if (c.MaxVal().isEmpty())
            c.setMaxVal(QString::fromLatin1(max));
    }

    static void applyTypeDefaults(Campo &c)
    {
        const QString t = c.TIPO();
        if (t == u"BOOLEAN") {
            c.setMaxLen(5);
            if (c.Default().isEmpty())
                c.setDefault(QStringLiteral("TRUE"));
            c.setMinVal(QStringLiteral("FALSE"));
            c.setMaxVal(QStringLiteral("TRUE"));
            c.setObjType(QStringLiteral("CHECKBOX"));
        } else if (t == u"BYTE") {
            c.setMaxLen(3);
            defaultMaxVal(c, "255");
            defaultObjType(c, "TXTNUMERIC");
        } else if (t == u"INTEGER") {
            defaultMaxVal(c, "32767");
            defaultObjType(c, "TXTNUMERIC");
        } else if (t == u"LONG") {
            defaultMaxVal(c, "2147483647");
            defaultObjType(c, "TXTNUMERIC");
        } else if (t == u"SINGLE") {
            defaultMaxVal(c, "3.402823E38");
            defaultObjType(c, "TXTNUMERIC");
        } else if (t == u"DOUBLE") {
            // No upper bound: any text above the greatest double would itself overflow when
            // converted, so the conversion is the only limit a DOUBLE needs.
            defaultObjType(c, "TXTNUMERIC");
        } else if (t == u"CURRENCY") {
            defaultMaxVal(c, "922337203685477.5807");
            defaultObjType(c, "TXTNUMERIC");
        } else if (t == u"DECIMAL") {
            defaultMaxVal(c, "79228162514264337593543950335");
            defaultObjType(c, "TXTNUMERIC");
        } else if (t == u"DATE") {
            if (c.MaxLen() <= 0) // a length the descriptor gives stands
                c.setMaxLen(15);
            if (!Values::isDate(c.MinVal()))
                c.setMinVal(QString());
            if (!Values::isDate(c.MaxVal()))
                c.setMaxVal(QString());
            if (c.Format().isEmpty())
                c.setFormat(QStringLiteral("dd/mm/yyyy"));
            defaultObjType(c, "TXTDATE");
        } else if (t == u"MEMO") {
            defaultObjType(c, "TXTMEMO");
        } else if (t == u"BINARY" || t == u"LONG BINARY") {
            defaultObjType(c, "CMDSHOWBIN");
        } else if (t == u"AUTOINC") {
            c.setObjType(QStringLiteral("LOCKEDFIELD"));
        }
    }

    // Returns true when the line is the unique primary index (loading then ends).
    bool applyIndex(const Fields &f)
    {
        if (Values::val(f.view(4)) != -1 || Values::val(f.view(5)) != -1)
            return false;
        const QString list = f.text(3);
        const int count = EstraiToken(list, QStringLiteral(";"), 0).toInt();
        QStringList ids;
        for (int i = 1; i <= count; ++i) {
            const QString item = EstraiToken(list, QStringLiteral(";"), i);
            if (item.size() < 2)
                fail(nxTr("l'indice %1 ha un campo vuoto").arg(f.text(2)));
            ids.append(item.mid(1));
        }
        auto index = m_rec.Indice();
        index->setNome(f.text(2));
        auto names = index->NomiCampi();
        for (const QString &id : ids)
            names->Add(id);
        return true;
    }

    void applySearch(const Fields &f)
    {
        const QString key = layoutKey(f.view(2));
        const QString kind = f.text(3).toUpper();
        auto layouts = m_rec.TipiRicerche();
        if (kind == u"MOSTRA") {
            if (layouts->Contains(key))
                fail(nxTr("ricerca %1 già dichiarata").arg(key));
            layouts->Add(f.text(4), f.after(4), key);
        } else if (kind == u"SELEZIONE") {
            if (!layouts->Contains(key))
                fail(nxTr("ricerca %1 non dichiarata da una riga MOSTRA precedente").arg(key));
            const QString name = f.text(4);
            QString ctrl = f.text(5);
            if (ctrl.isEmpty()) {
                auto campi = m_rec.Campi();
                if (!campi->Contains(name))
                    fail(nxTr("la ricerca %1 usa il campo %2, non dichiarato prima").arg(key, name));
                ctrl = campi->Item(name)->ObjType();
            }
            if (!isSearchType(f.text(6)))
                fail(nxTr("la ricerca %1 usa il tipo di ricerca \"%2\", che non esiste (ammessi: %3)")
                         .arg(key, f.text(6), searchTypes()));
            layouts->Item(key)->CampiRic()->Add(name, ctrl, f.text(6));
        }
    }

    // A whole number from 1; 0 for any other text.
    static int fromOne(QStringView text)
    {
        bool ok = false;
        const int n = text.toInt(&ok);
        return ok && n >= 1 ? n : 0;
    }

    // Field n as a list split at ';', each item trimmed (none when the field is empty).
    QStringList listOf(const Fields &f, int n, int detail) const
    {
        QStringList items;
        if (f.view(n).isEmpty())
            return items;
        for (const QStringView item : f.view(n).split(u';')) {
            if (trimBlanks(item).isEmpty())
                fail(nxTr("il dettaglio %1 ha un elemento vuoto nel campo %2").arg(detail).arg(n));
            items << trimBlanks(item).toString();
        }
        return items;
    }

    // After the primary INDICE line: only a STORIA line still acts, up to the section's end.
    void sectionTail()
    {
        while (next() && m_lines.keyword() != DscKeyword::Record)
            if (m_lines.keyword() == DscKeyword::Storia) {
                const QString line = m_lines.line();
                applyHistory(Fields{QStringView(line)});
            }
    }

    // STORIA,1 (on) or STORIA,0 (off).
    void applyHistory(const Fields &f)
    {
        const QStringView flag = f.view(2);
        if (flag != u"0" && flag != u"1")
            fail(nxTr("STORIA vuole 1 (attiva) o 0 (spenta), non \"%1\"").arg(flag.toString()));
        m_rec.setStoria(flag == u"1");
    }

    // DETTAGLIO,n,CHILD,caption,page,MASTERFIELDS,CHILDFIELDS[,COLUMNS]
    void addDetail(const Fields &f)
    {
        const int number = fromOne(f.view(2));
        if (number == 0)
            fail(nxTr("il numero del dettaglio \"%1\" non è un numero intero da 1 in su").arg(f.text(2)));
        if (m_details.count(number) > 0)
            fail(nxTr("dettaglio %1 già dichiarato").arg(number));
        if (f.view(3).isEmpty())
            fail(nxTr("il dettaglio %1 non nomina il record figlio (campo 3)").arg(number));
        const int page = fromOne(f.view(5));
        if (page == 0)
            fail(nxTr("la pagina \"%1\" del dettaglio %2 non è un numero intero da 1 in su").arg(f.text(5)).arg(number));
        for (int extra = 9; extra <= f.raw.size(); ++extra)
            if (!f.view(extra).isEmpty())
                fail(nxTr("il dettaglio %1 ha campi dopo le colonne: separare le colonne con \";\"").arg(number));
        Dettaglio d;
        d.setFiglio(f.text(3));
        d.setTitolo(f.text(4));
        d.setPagina(page);
        d.setCampiPadre(listOf(f, 6, number));
        d.setCampiFiglio(listOf(f, 7, number));
        d.setColonne(listOf(f, 8, number));
        if (d.CampiPadre().isEmpty() || d.CampiFiglio().isEmpty())
            fail(nxTr("il dettaglio %1 non dice i campi che legano padre e figlio (campi 6 e 7)").arg(number));
        m_details.emplace(number, d);
    }

    DscLineSource &m_lines;
    QString m_wanted;
    Rec &m_rec;
    QString m_source;
    int m_lineNumber = 0;
    int m_ordinal = 1;
    std::map<int, Dettaglio> m_details; // applied in number order when loading ends
};

} // namespace

QString decodeDscText(const QByteArray &bytes)
{
    const qsizetype start = bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    if (isValidUtf8(bytes))
        return decodeUtf8(bytes.constData() + start, bytes.size() - start);
    // One line in another encoding spoils nothing else: each line between CR and LF bytes is
    // decoded on its own.
    QString out;
    out.reserve(bytes.size());
    for (qsizetype pos = start; pos <= bytes.size();) {
        qsizetype end = pos;
        while (end < bytes.size() && bytes[end] != '\n' && bytes[end] != '\r')
            ++end;
        out += decodeDscLine(bytes.constData() + pos, end - pos);
        if (end < bytes.size())
            out += QLatin1Char(bytes[end]);
        pos = end + 1;
    }
    return out;
}

DscKeyword dscKeyword(QStringView line)
{
    const QStringView token = firstField(line);
    if (!isAscii(token))
        return unicodeKeyword(token.toString());
    if (token.size() <= 9) {
        char ascii[9];
        for (qsizetype i = 0; i < token.size(); ++i)
            ascii[i] = char(token[i].unicode());
        return asciiKeyword(ascii, token.size());
    }
    return DscKeyword::Other;
}

TextLineSource::TextLineSource(QByteArray bytes) : m_bytes(std::move(bytes))
{
    if (m_bytes.startsWith("\xEF\xBB\xBF"))
        m_pos = 3;
    m_hasCr = m_bytes.contains('\r');
}

bool TextLineSource::next()
{
    const qsizetype n = m_bytes.size();
    if (m_pos >= n)
        return false;
    const char *data = m_bytes.constData();
    const char *start = data + m_pos;
    const auto *lf = static_cast<const char *>(std::memchr(start, '\n', size_t(n - m_pos)));
    const char *stop = lf ? lf : data + n;
    const auto *cr = m_hasCr ? static_cast<const char *>(std::memchr(start, '\r', size_t(stop - start))) : nullptr;
    m_lineStart = m_pos;
    if (cr) {
        m_lineSize = cr - start;
        m_pos = (cr + 1 == lf) ? (lf - data) + 1 : (cr - data) + 1; // CR LF or a lone CR
    } else {
        m_lineSize = stop - start;
        m_pos = (stop - data) + 1;
    }
    return true;
}

DscKeyword TextLineSource::keyword() const
{
    const QByteArrayView token = firstField(QByteArrayView(m_bytes.constData() + m_lineStart, m_lineSize));
    const bool ascii = std::all_of(token.begin(), token.end(), [](char c) { return (c & 0x80) == 0; });
    if (ascii)
        return asciiKeyword(token.data(), token.size());
    return unicodeKeyword(decodeDscLine(token.data(), token.size()));
}

QString TextLineSource::line() const
{
    return decodeDscLine(m_bytes.constData() + m_lineStart, m_lineSize);
}

bool ListLineSource::next()
{
    if (m_index + 1 >= m_lines.size())
        return false;
    ++m_index;
    return true;
}

QStringList splitDscLines(const QString &text)
{
    QStringList out;
    const qsizetype n = text.size();
    for (qsizetype pos = 0; pos < n;) {
        qsizetype end = pos;
        while (end < n && text[end] != u'\n' && text[end] != u'\r')
            ++end;
        out.append(text.mid(pos, end - pos));
        pos = (end + 1 < n && text[end] == u'\r' && text[end + 1] == u'\n') ? end + 2 : end + 1;
    }
    return out;
}

void readDsc(DscLineSource &lines, const QString &recordName, Rec &rec, const QString &sourceName)
{
    Reader(lines, recordName, rec, sourceName).run();
}

void LeggiDscTesto(const QString &path, const QString &recordName, Rec &rec)
{
    const QString fileName = path + QStringLiteral("files.dsc");
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw DescriptorError(nxTr("Impossibile aprire %1: %2").arg(fileName, file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw DescriptorError(nxTr("Impossibile leggere %1: %2").arg(fileName, file.errorString()));
    file.close();
    TextLineSource source(bytes);
    readDsc(source, recordName, rec, fileName);
}

} // namespace Norvix
