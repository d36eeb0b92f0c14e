#include "descriptor/dsctext.h"

#include "descriptor/estraitoken.h"
#include "platform/values.h"

#include <QFile>
#include <QStringDecoder>
#include <QVarLengthArray>

#include <cmath>

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

// Upper-cased keyword of a line, as the format compares it.
QString keywordOf(QStringView line)
{
    const qsizetype comma = line.indexOf(u',');
    return trimBlanks(comma < 0 ? line : line.first(comma)).toString().toUpper();
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
        QStringView line;
        // Scanning mode: outside the wanted record.
        while (next(line)) {
            const QStringView trimmed = trimBlanks(line);
            const QString keyword = keywordOf(trimmed);
            if (keyword == u"PATH") {
                m_rec.setPath(Fields(trimmed).text(2));
            } else if (keyword == u"DATABASE") {
                m_rec.setdb(Fields(trimmed).text(2));
            } else if (keyword == u"RECORD") {
                const Fields f(trimmed);
                if (f.view(2).toString().toUpper() != m_wanted)
                    continue;
                applyRecord(f);
                if (!section())
                    return;
            }
        }
    }

private:
    bool next(QStringView &line)
    {
        if (!m_lines.nextLine(line))
            return false;
        ++m_lineNumber;
        return true;
    }

    [[noreturn]] void fail(const QString &reason) const
    {
        throw DescriptorError(QStringLiteral("%1, riga %2: %3").arg(m_source).arg(m_lineNumber).arg(reason));
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
        QStringView line;
        while (next(line)) {
            const QString keyword = keywordOf(line);
            if (keyword == u"RECORD")
                return true;
            if (keyword == u"CAMPO") {
                addField(Fields(line));
            } else if (keyword == u"INDICE") {
                if (applyIndex(Fields(line)))
                    return false;
            } else if (keyword == u"RICERCA") {
                applySearch(Fields(line));
            }
        }
        return false;
    }

    void addField(const Fields &f)
    {
        const QString nome = f.text(2);
        if (nome.isEmpty())
            fail(QStringLiteral("campo senza nome"));
        auto campi = m_rec.Campi();
        if (campi->Contains(nome))
            fail(QStringLiteral("campo %1 già dichiarato").arg(nome));
        const double len = std::nearbyint(Values::val(f.view(5))); // halves to even
        if (!(len >= -32768 && len <= 32767))
            fail(QStringLiteral("lunghezza del campo %1 fuori dall'intervallo -32768..32767").arg(nome));

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
                fail(QStringLiteral("l'indice %1 ha un campo vuoto").arg(f.text(2)));
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
                fail(QStringLiteral("ricerca %1 già dichiarata").arg(key));
            layouts->Add(f.text(4), f.after(4), key);
        } else if (kind == u"SELEZIONE") {
            if (!layouts->Contains(key))
                fail(QStringLiteral("ricerca %1 non dichiarata da una riga MOSTRA precedente").arg(key));
            const QString name = f.text(4);
            QString ctrl = f.text(5);
            if (ctrl.isEmpty()) {
                auto campi = m_rec.Campi();
                if (!campi->Contains(name))
                    fail(QStringLiteral("la ricerca %1 usa il campo %2, non dichiarato prima").arg(key, name));
                ctrl = campi->Item(name)->ObjType();
            }
            layouts->Item(key)->CampiRic()->Add(name, ctrl, f.text(6));
        }
    }

    DscLineSource &m_lines;
    QString m_wanted;
    Rec &m_rec;
    QString m_source;
    int m_lineNumber = 0;
    int m_ordinal = 1;
};

} // namespace

QString decodeDscText(const QByteArray &bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.constData() + 3, bytes.size() - 3);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return decodeCp1252(bytes);
}

bool TextLineSource::nextLine(QStringView &line)
{
    const qsizetype n = m_text.size();
    if (m_pos >= n)
        return false;
    const QChar *data = m_text.constData();
    qsizetype end = m_pos;
    while (end < n && data[end] != u'\n' && data[end] != u'\r')
        ++end;
    line = QStringView(data + m_pos, end - m_pos);
    if (end < n && data[end] == u'\r' && end + 1 < n && data[end + 1] == u'\n')
        m_pos = end + 2;
    else
        m_pos = end + 1;
    return true;
}

bool ListLineSource::nextLine(QStringView &line)
{
    if (m_index >= m_lines.size())
        return false;
    line = m_lines.at(m_index++);
    return true;
}

QStringList splitDscLines(const QString &text)
{
    QStringList out;
    TextLineSource source(text);
    QStringView line;
    while (source.nextLine(line))
        out.append(line.toString());
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
        throw DescriptorError(QStringLiteral("Impossibile aprire %1: %2").arg(fileName, file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw DescriptorError(QStringLiteral("Impossibile leggere %1: %2").arg(fileName, file.errorString()));
    file.close();
    TextLineSource source(decodeDscText(bytes));
    readDsc(source, recordName, rec, fileName);
}

} // namespace Norvix
