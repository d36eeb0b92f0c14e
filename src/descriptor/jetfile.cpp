#include "descriptor/jetfile.h"
#include "platform/language.h"

#include "descriptor/errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QtEndian>

#include <array>
#include <cmath>
#include <cstring>
#include <vector>

// glib first: mdbtools.h includes it inside its own extern "C" block.
#include <glib.h>
#include <mdbtools.h>

namespace Norvix {

namespace {

// Layout of the database definition page (page 0), offsets from the start of the file.
constexpr qsizetype SignatureOffset = 4;
constexpr qsizetype VersionOffset = 0x14;
constexpr qsizetype MaskedOffset = 0x18;        // start of the RC4-masked area
constexpr qsizetype MaskedLengthJet3 = 126;
constexpr qsizetype MaskedLengthJet4 = 128;     // Jet 4 and ACE
constexpr qsizetype PasswordOffset = 0x42;
constexpr qsizetype PasswordLengthJet3 = 20;    // 8-bit text
constexpr qsizetype PasswordLengthJet4 = 40;    // UCS-2 little endian
constexpr qsizetype CreationDateOffset = 0x72;  // double, days since 1899-12-30
constexpr qsizetype HeaderSize = MaskedOffset + MaskedLengthJet4;

constexpr char JetSignature[] = "Standard Jet DB";
constexpr char AceSignature[] = "Standard ACE DB";
constexpr qsizetype SignatureLength = sizeof(JetSignature) - 1;

enum class Format { Jet3, Jet4, Ace };

// Size of the bound text buffer. libmdb copies each value into it, NUL-terminated, cutting
// longer ones (at a character boundary); a value that nearly fills it is reported as too long
// rather than returned short.
constexpr size_t BindSize = 256 * 1024;

// "database dei descrittori <path>", to be preceded by an article or preposition.
// The file as messages name it: a descriptor database, or (read for its tables) a database.
QString database(const QString &path, bool descriptors = true)
{
    return (descriptors ? nxTr("database dei descrittori %1") : nxTr("database %1"))
        .arg(QDir::toNativeSeparators(path));
}

[[noreturn]] void fail(const QString &message)
{
    throw DescriptorError(message);
}

// RC4 keystream applied in place (masking and unmasking are the same operation).
void rc4(const std::array<quint8, 4> &key, quint8 *data, qsizetype length)
{
    std::array<quint8, 256> s;
    for (int i = 0; i < 256; ++i)
        s[size_t(i)] = quint8(i);
    quint8 j = 0;
    for (int i = 0; i < 256; ++i) {
        j = quint8(j + s[size_t(i)] + key[size_t(i) % key.size()]);
        std::swap(s[size_t(i)], s[j]);
    }
    quint8 a = 0, b = 0;
    for (qsizetype n = 0; n < length; ++n) {
        a = quint8(a + 1);
        b = quint8(b + s[a]);
        std::swap(s[a], s[b]);
        data[n] ^= s[quint8(s[a] + s[b])];
    }
}

// Windows-1252 (the 8-bit text of Jet 3 headers); the five unassigned bytes map to themselves.
QChar fromCp1252(quint8 c)
{
    static constexpr char16_t high[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
        0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
    };
    return (c >= 0x80 && c < 0xA0) ? QChar(high[c - 0x80]) : QChar(char16_t(c));
}

struct Header
{
    Format format = Format::Jet4;
    qint64 fileSize = 0;
    QString password; // stored password, empty when none (always empty for ACE)
};

// Reads and checks page 0. Throws when the file is missing, is not a Jet/ACE file or is too
// short to hold the header.
Header readHeader(const QString &path, bool descriptors = true)
{
    const QFileInfo info(path);
    if (!info.exists())
        fail(nxTr("Il %1 non esiste").arg(database(path, descriptors)));
    if (!info.isFile())
        fail(nxTr("Il %1 non è un file").arg(database(path, descriptors)));

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(nxTr("Impossibile aprire il %1: %2").arg(database(path, descriptors), file.errorString()));
    Header header;
    header.fileSize = file.size();
    QByteArray page = file.read(HeaderSize);
    if (!JetFile::looksLikeJet(page))
        fail(nxTr("Il %1 non è un file Jet valido").arg(database(path, descriptors)));
    if (page.size() <= VersionOffset)
        fail(nxTr("Il %1 è troncato o danneggiato").arg(database(path, descriptors)));

    const auto version = quint8(page[VersionOffset]);
    header.format = version == 0 ? Format::Jet3 : version == 1 ? Format::Jet4 : Format::Ace;
    const qsizetype masked = header.format == Format::Jet3 ? MaskedLengthJet3 : MaskedLengthJet4;
    if (page.size() < MaskedOffset + masked)
        fail(nxTr("Il %1 è troncato o danneggiato").arg(database(path, descriptors)));
    if (header.format == Format::Ace)
        return header; // password-protected ACE files are encrypted: nothing to read back here

    auto *bytes = reinterpret_cast<quint8 *>(page.data());
    rc4({0xC7, 0xDA, 0x39, 0x6B}, bytes + MaskedOffset, masked);

    if (header.format == Format::Jet3) {
        for (qsizetype i = 0; i < PasswordLengthJet3 && bytes[PasswordOffset + i] != 0; ++i)
            header.password += fromCp1252(bytes[PasswordOffset + i]);
        return header;
    }

    // Jet 4: UCS-2 text further XORed with the integer part of the creation date.
    const quint64 dateBits = qFromLittleEndian<quint64>(bytes + CreationDateOffset);
    double created = 0;
    std::memcpy(&created, &dateBits, sizeof created);
    // Out-of-range dates only occur in damaged headers; any key then gives some garbage text.
    const double whole = std::isfinite(created) && std::fabs(created) < 9.0e15 ? std::trunc(created) : 0.0;
    const auto key = quint32(qint64(whole));
    const std::array<quint8, 4> mask = {quint8(key), quint8(key >> 8), quint8(key >> 16), quint8(key >> 24)};
    for (qsizetype i = 0; i + 1 < PasswordLengthJet4; i += 2) {
        const quint8 lo = bytes[PasswordOffset + i] ^ mask[size_t(i % 4)];
        const quint8 hi = bytes[PasswordOffset + i + 1] ^ mask[size_t((i + 1) % 4)];
        const auto unit = char16_t(lo | (hi << 8));
        if (unit == 0)
            break;
        header.password += QChar(unit);
    }
    return header;
}

bool isUtf8(const char *charset)
{
    return charset == nullptr || qstricmp(charset, "UTF-8") == 0 || qstricmp(charset, "UTF8") == 0;
}

// Sets the size of bound buffers for the lifetime of the object.
class BindSizeScope
{
public:
    BindSizeScope(MdbHandle *mdb, size_t size) : m_mdb(mdb), m_saved(mdb->bind_size) { mdb_set_bind_size(mdb, size); }
    ~BindSizeScope() { mdb_set_bind_size(m_mdb, m_saved); }
    BindSizeScope(const BindSizeScope &) = delete;
    BindSizeScope &operator=(const BindSizeScope &) = delete;

private:
    MdbHandle *m_mdb;
    size_t m_saved;
};

struct TableDefDeleter
{
    void operator()(MdbTableDef *table) const { mdb_free_tabledef(table); }
};
using TableDefPtr = std::unique_ptr<MdbTableDef, TableDefDeleter>;

// The system table listing every object of the database; its definition is always on page 2.
constexpr unsigned long CatalogPage = 2;
constexpr int CatalogTypeMask = 0x7F;        // the Type column carries flags above these bits
constexpr long CatalogPageMask = 0x00FFFFFF; // the Id of a table is its definition page

enum class ScanEnd { Complete, Short };

} // namespace

struct JetFile::Impl
{
    QString path;
    bool descriptors = true; // read for its descriptors (what messages call it)
    MdbHandle *mdb = nullptr;
    QByteArray charset; // text encoding libmdb converts to (UTF-8 unless MDBICONV says otherwise)

    // The tables of the catalog. Each keeps the catalog entry libmdb reads its definition through.
    struct Table
    {
        QString name;
        MdbCatalogEntry entry;
    };
    std::vector<std::unique_ptr<Table>> tables;

    ~Impl()
    {
        if (mdb)
            mdb_close(mdb);
    }

    QString decode(const char *text, size_t length) const
    {
        if (charset.isEmpty())
            return QString::fromUtf8(text, qsizetype(length));
        QStringDecoder decoder(charset.constData());
        return decoder(QByteArrayView(text, qsizetype(length)));
    }
    QString decode(const char *text) const { return decode(text, ::strnlen(text, MDB_MAX_OBJ_NAME + 1)); }

    // The table of that name (letter case ignored); DescriptorError when the file has none.
    const Table *find(const QString &name) const
    {
        for (const auto &t : tables)
            if (t->name.compare(name, Qt::CaseInsensitive) == 0)
                return t.get();
        fail(nxTr("Tabella %1 non trovata nel %2").arg(name, database(path, descriptors)));
    }

    // Index (0-based) of a column of a table definition whose columns have been read, or -1.
    int findColumn(const MdbTableDef *def, const QString &name) const
    {
        for (guint i = 0; i < def->columns->len; ++i) {
            const auto *c = static_cast<const MdbColumn *>(g_ptr_array_index(def->columns, i));
            if (decode(c->name).compare(name, Qt::CaseInsensitive) == 0)
                return int(i);
        }
        return -1;
    }

    // Reads every row of a table in storage order, binding the given columns (0-based) to
    // buffers of `bindSize` bytes; `row` receives their NUL-terminated texts. Rows fewer than
    // the table definition counts mean pages that could not be read (libmdb just stops there).
    template<typename RowFn>
    ScanEnd scan(MdbTableDef *def, const std::vector<int> &columns, size_t bindSize, RowFn row) const
    {
        const BindSizeScope scope(mdb, bindSize);
        std::vector<std::vector<char>> buffers(columns.size(), std::vector<char>(bindSize, '\0'));
        std::vector<int> lengths(columns.size(), 0);
        mdb_rewind_table(def);
        for (size_t i = 0; i < columns.size(); ++i)
            mdb_bind_column(def, columns[i] + 1, buffers[i].data(), &lengths[i]);
        std::vector<const char *> texts(columns.size());
        for (size_t i = 0; i < columns.size(); ++i)
            texts[i] = buffers[i].data();

        unsigned int count = 0;
        for (;;) {
            for (auto &b : buffers)
                b[0] = '\0';
            if (!mdb_fetch_row(def))
                break;
            ++count;
            row(texts);
        }
        return count < def->num_rows ? ScanEnd::Short : ScanEnd::Complete;
    }

    // The definition of the catalog table, read through `entry` (which must outlive it); null
    // when it cannot be read.
    TableDefPtr openCatalog(MdbCatalogEntry &entry) const
    {
        std::memset(&entry, 0, sizeof entry);
        entry.mdb = mdb;
        entry.object_type = MDB_TABLE;
        entry.table_pg = CatalogPage;
        std::strcpy(entry.object_name, "MSysObjects");
        TableDefPtr def(mdb_read_table(&entry));
        if (def && !mdb_read_columns(def.get()))
            def.reset();
        return def;
    }

    // The properties Access keeps for a table and its columns (the LvProp value of its catalog
    // row), as stored; empty when there are none. Read only for a migration: libmdb's own reader
    // of these blobs loops endlessly on some damaged files.
    QByteArray properties(const Table &table) const
    {
        MdbCatalogEntry system;
        const TableDefPtr def = openCatalog(system);
        const int id = def ? findColumn(def.get(), QStringLiteral("Id")) : -1;
        const int props = def ? findColumn(def.get(), QStringLiteral("LvProp")) : -1;
        if (id < 0 || props < 0)
            return {};
        auto *column = static_cast<MdbColumn *>(g_ptr_array_index(def->columns, guint(props)));
        const BindSizeScope scope(mdb, MDB_BIND_SIZE);
        std::vector<char> idText(MDB_BIND_SIZE, '\0'), header(MDB_BIND_SIZE, '\0');
        int idLength = 0, length = 0;
        mdb_rewind_table(def.get());
        mdb_bind_column(def.get(), id + 1, idText.data(), &idLength);
        mdb_bind_column(def.get(), props + 1, header.data(), &length);
        while (mdb_fetch_row(def.get())) {
            if ((std::atol(idText.data()) & CatalogPageMask) != long(table.entry.table_pg))
                continue;
            if (length <= 0)
                return {};
            size_t size = 0;
            void *bytes = mdb_ole_read_full(mdb, column, &size);
            QByteArray blob = bytes ? QByteArray(static_cast<const char *>(bytes), qsizetype(size)) : QByteArray();
            g_free(bytes);
            return blob;
        }
        return {};
    }

    // Lists the tables from the catalog. libmdb's own catalog reader also decodes the property
    // blobs of every object, which loops endlessly on some damaged files; they are not needed here.
    void readCatalog()
    {
        const QString broken =
            nxTr("Impossibile leggere il %1: file danneggiato o troncato").arg(database(path, descriptors));
        MdbCatalogEntry system;
        const TableDefPtr def = openCatalog(system);
        if (!def)
            fail(broken);
        const int id = findColumn(def.get(), QStringLiteral("Id"));
        const int name = findColumn(def.get(), QStringLiteral("Name"));
        const int type = findColumn(def.get(), QStringLiteral("Type"));
        const int flags = findColumn(def.get(), QStringLiteral("Flags"));
        if (id < 0 || name < 0 || type < 0 || flags < 0)
            fail(broken);

        const ScanEnd end = scan(def.get(), {id, name, type, flags}, MDB_BIND_SIZE, [&](const std::vector<const char *> &v) {
            if ((std::atoi(v[2]) & CatalogTypeMask) != MDB_TABLE)
                return;
            auto t = std::make_unique<Table>();
            std::memset(&t->entry, 0, sizeof t->entry);
            t->entry.mdb = mdb;
            t->entry.object_type = MDB_TABLE;
            t->entry.table_pg = static_cast<unsigned long>(std::atol(v[0]) & CatalogPageMask);
            t->entry.flags = int(std::strtoul(v[3], nullptr, 10));
            qstrncpy(t->entry.object_name, v[1], sizeof t->entry.object_name);
            t->name = decode(t->entry.object_name);
            tables.push_back(std::move(t));
        });
        if (end == ScanEnd::Short)
            fail(broken);
    }
};

bool JetFile::looksLikeJet(const QByteArray &head)
{
    if (head.size() < 20)
        return false;
    const QByteArrayView signature = QByteArrayView(head).sliced(SignatureOffset, SignatureLength);
    return signature == QByteArrayView(JetSignature, SignatureLength)
        || signature == QByteArrayView(AceSignature, SignatureLength);
}

QString JetFile::storedPassword(const QString &path)
{
    return readHeader(path).password;
}

JetFile::JetFile(const QString &path, const QString &password, bool descriptors) : d(std::make_unique<Impl>())
{
    d->path = path;
    d->descriptors = descriptors;
    const Header header = readHeader(path, descriptors);
    if (!header.password.isEmpty() && header.password != password) {
        if (password.isEmpty())
            fail(nxTr("Il %1 è protetto da password").arg(database(path, descriptors)));
        fail(nxTr("Password errata per il %1").arg(database(path, descriptors)));
    }

    // Files are made of whole pages: anything else has been cut short.
    const qint64 pageSize = header.format == Format::Jet3 ? 2048 : 4096;
    if (header.fileSize % pageSize != 0 || header.fileSize < qint64(CatalogPage + 1) * pageSize)
        fail(nxTr("Il %1 è troncato o danneggiato").arg(database(path, descriptors)));

    const QByteArray native = QFile::encodeName(QFileInfo(path).absoluteFilePath());
    d->mdb = mdb_open(native.constData(), MDB_NOFLAGS);
    if (!d->mdb)
        fail(nxTr("Impossibile leggere il %1: file danneggiato o formato non supportato").arg(database(path, descriptors)));

    const char *target = mdb_target_charset(d->mdb);
    if (!isUtf8(target)) {
        if (!QStringDecoder(target).isValid())
            fail(nxTr("Impossibile leggere il %1: codifica del testo %2 non supportata")
                     .arg(database(path, descriptors), QString::fromLatin1(target)));
        d->charset = target;
    }

    // The catalog is the first read of data pages: it fails on damaged or truncated files, and
    // on ACE files encrypted with a password.
    try {
        d->readCatalog();
    } catch (const DescriptorError &) {
        if (header.format != Format::Ace)
            throw;
        fail(nxTr("Impossibile leggere il %1: il file è danneggiato oppure è protetto da password "
                            "(i database ACE protetti da password sono cifrati e non possono essere letti)")
                 .arg(database(path, descriptors)));
    }
}

JetFile::~JetFile() = default;

QStringList JetFile::readColumn(const QString &table, const QString &column) const
{
    const Impl::Table *found = d->find(table);

    const QString broken = nxTr("Impossibile leggere la tabella %1 nel %2: file danneggiato o troncato")
                               .arg(table, database(d->path, d->descriptors));
    TableDefPtr def(mdb_read_table(const_cast<MdbCatalogEntry *>(&found->entry)));
    if (!def || !mdb_read_columns(def.get()))
        fail(broken);

    const int index = d->findColumn(def.get(), column);
    if (index < 0)
        fail(nxTr("Colonna %1 non trovata nella tabella %2 del %3").arg(column, table, database(d->path, d->descriptors)));
    const auto *col = static_cast<const MdbColumn *>(g_ptr_array_index(def->columns, guint(index)));
    if (col->col_type != MDB_TEXT && col->col_type != MDB_MEMO)
        fail(nxTr("La colonna %1 della tabella %2 del %3 non è di tipo testo")
                 .arg(column, table, database(d->path, d->descriptors)));

    // libmdb converts TEXT and MEMO values (memo pages included) into the bound buffer, in the
    // charset reported by mdb_target_charset, and leaves it empty for NULL.
    QStringList values;
    bool tooLong = false;
    const ScanEnd end = d->scan(def.get(), {index}, BindSize, [&](const std::vector<const char *> &v) {
        // A value cut at the buffer end stops short of it by up to a partial UTF-8 sequence.
        const size_t n = ::strnlen(v[0], BindSize);
        tooLong = tooLong || n >= BindSize - 4;
        values.append(d->decode(v[0], n));
    });
    if (end == ScanEnd::Short)
        fail(broken);
    if (tooLong)
        fail(nxTr("Un valore della colonna %1 della tabella %2 nel %3 è troppo lungo")
                 .arg(column, table, database(d->path, d->descriptors)));
    return values;
}

namespace {

JetFile::Type typeOf(int jet)
{
    switch (jet) {
    case MDB_BOOL: return JetFile::Type::Boolean;
    case MDB_BYTE: return JetFile::Type::Byte;
    case MDB_INT: return JetFile::Type::Integer;
    case MDB_LONGINT: return JetFile::Type::Long;
    case MDB_MONEY: return JetFile::Type::Currency;
    case MDB_FLOAT: return JetFile::Type::Single;
    case MDB_DOUBLE: return JetFile::Type::Double;
    case MDB_DATETIME: return JetFile::Type::DateTime;
    case MDB_BINARY: return JetFile::Type::Binary;
    case MDB_TEXT: return JetFile::Type::Text;
    case MDB_OLE: return JetFile::Type::Ole;
    case MDB_MEMO: return JetFile::Type::Memo;
    case MDB_REPID: return JetFile::Type::ReplicationId;
    case MDB_NUMERIC: return JetFile::Type::Numeric;
    default: return JetFile::Type::Other;
    }
}

// Text in a property blob: 8-bit in Jet 3; UCS-2 in Jet 4, possibly compressed (a leading FF FE,
// then runs of one byte per character and of two, each 00 byte switching between them).
QString propertyText(QByteArrayView bytes, bool jet3)
{
    QString text;
    if (jet3) {
        for (const char c : bytes)
            text += fromCp1252(quint8(c));
        return text;
    }
    if (bytes.size() >= 2 && quint8(bytes[0]) == 0xFF && quint8(bytes[1]) == 0xFE) {
        bool compressed = true;
        for (qsizetype i = 2; i < bytes.size();) {
            if (bytes[i] == 0) {
                compressed = !compressed;
                ++i;
            } else if (compressed) {
                text += QChar(quint8(bytes[i++]));
            } else if (i + 1 < bytes.size()) {
                text += QChar(char16_t(quint8(bytes[i]) | (quint8(bytes[i + 1]) << 8)));
                i += 2;
            } else {
                break;
            }
        }
        return text;
    }
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2)
        text += QChar(char16_t(quint8(bytes[i]) | (quint8(bytes[i + 1]) << 8)));
    return text;
}

// The columns a table's property blob marks Required. The blob is "KKD" (Jet 3) or "MR2" (Jet 4),
// then chunks (32-bit length, 16-bit type): type 0x80 lists the property names; types 0 to 2
// hold the properties of one object (the table, or the column the chunk names), each one a
// record of its length, its data type, the number of its name in the list, and its value.
// Every length is checked: a damaged blob gives what could be read.
QStringList requiredColumns(const QByteArray &blob, bool jet3)
{
    const auto u16 = [&](qsizetype at) { return at >= 0 && at + 2 <= blob.size() ? qFromLittleEndian<quint16>(blob.constData() + at) : 0; };
    const auto u32 = [&](qsizetype at) { return at >= 0 && at + 4 <= blob.size() ? qFromLittleEndian<quint32>(blob.constData() + at) : 0; };
    QStringList names, required;
    if (!blob.startsWith("KKD") && !blob.startsWith("MR2"))
        return required;
    for (qsizetype pos = 4; pos + 6 <= blob.size();) {
        const qsizetype end = pos + qsizetype(u32(pos));
        if (end < pos + 6 || end > blob.size())
            break;
        const quint16 type = u16(pos + 4);
        const qsizetype start = pos + 6;
        if (type == 0x80) {
            names.clear();
            for (qsizetype at = start; at + 2 <= end && at + 2 + u16(at) <= end; at += 2 + u16(at))
                names << propertyText(QByteArrayView(blob).sliced(at + 2, u16(at)), jet3);
        } else if (type <= 2 && start + 6 <= end) {
            const quint16 nameLength = u16(start + 4);
            const qsizetype first = start + 6 + nameLength;
            if (first > end)
                break;
            const QString object = propertyText(QByteArrayView(blob).sliced(start + 6, nameLength), jet3);
            for (qsizetype at = first; at + 8 <= end && u16(at) >= 8 && at + u16(at) <= end; at += u16(at)) {
                const bool yes = quint8(blob[at + 3]) == MDB_BOOL && u16(at + 6) >= 1 && at + 9 <= end && blob[at + 8] != 0;
                if (yes && names.value(u16(at + 4)).compare(QLatin1String("Required"), Qt::CaseInsensitive) == 0)
                    required << object;
            }
        }
        pos = end;
    }
    return required;
}

constexpr unsigned char kUniqueIndex = 0x01; // MdbIndex flags
constexpr unsigned char kPrimaryIndex = 1;   // MdbIndex index_type

} // namespace

QStringList JetFile::userTables() const
{
    QStringList names;
    for (const auto &t : d->tables)
        if (!mdb_is_system_table(&t->entry) && !t->name.startsWith(QLatin1String("MSys"), Qt::CaseInsensitive))
            names << t->name;
    return names;
}

JetFile::Table JetFile::table(const QString &name) const
{
    const Impl::Table *found = d->find(name);
    TableDefPtr def(mdb_read_table(const_cast<MdbCatalogEntry *>(&found->entry)));
    if (!def || !mdb_read_columns(def.get()))
        fail(nxTr("Impossibile leggere la tabella %1 nel %2: file danneggiato o troncato").arg(name, database(d->path, d->descriptors)));
    mdb_read_indices(def.get()); // a table without indexes gives none
    Table table;
    table.name = found->name;
    table.rows = def->num_rows;
    const bool jet3 = IS_JET3(d->mdb);
    const QStringList required = requiredColumns(d->properties(*found), jet3);
    for (guint i = 0; i < def->columns->len; ++i) {
        const auto *c = static_cast<const MdbColumn *>(g_ptr_array_index(def->columns, i));
        Column column;
        column.name = d->decode(c->name);
        column.type = typeOf(c->col_type);
        column.length = column.type == Type::Text ? (jet3 ? c->col_size : c->col_size / 2) : 0; // Jet 4 keeps UCS-2
        if (column.type == Type::Numeric) {
            // The column definition holds the precision, then the scale; libmdb names the two
            // bytes the other way round.
            column.precision = c->col_scale;
            column.scale = c->col_prec;
        }
        column.required = column.type == Type::Boolean || required.contains(column.name, Qt::CaseInsensitive);
        column.autoNumber = column.type == Type::Long && c->is_long_auto;
        table.columns << column;
    }
    for (guint i = 0; i < def->num_idxs; ++i) {
        const auto *x = static_cast<const MdbIndex *>(g_ptr_array_index(def->indices, i));
        Index index;
        index.name = d->decode(x->name);
        index.primary = x->index_type == kPrimaryIndex;
        index.unique = index.primary || (x->flags & kUniqueIndex);
        for (unsigned k = 0; k < x->num_keys && k < MDB_MAX_IDX_COLS; ++k) {
            const int at = x->key_col_num[k] - 1; // 1-based
            if (at >= 0 && at < table.columns.size())
                index.columns << table.columns[at].name;
        }
        // An index of a relationship repeats another's columns: one per column set is enough.
        const bool repeated = std::any_of(table.indexes.cbegin(), table.indexes.cend(),
                                          [&](const Index &o) { return o.columns == index.columns && o.unique == index.unique; });
        if (!index.columns.isEmpty() && !repeated)
            table.indexes << index;
    }
    return table;
}

void JetFile::readRows(const QString &name, const std::function<bool(const QVariantList &)> &row) const
{
    const Impl::Table *found = d->find(name);
    const QString broken = nxTr("Impossibile leggere la tabella %1 nel %2: file danneggiato o troncato")
                               .arg(name, database(d->path, d->descriptors));
    TableDefPtr def(mdb_read_table(const_cast<MdbCatalogEntry *>(&found->entry)));
    if (!def || !mdb_read_columns(def.get()))
        fail(broken);
    mdb_set_date_fmt(d->mdb, "%Y-%m-%d %H:%M:%S");
    mdb_set_boolean_fmt_numbers(d->mdb);

    const guint n = def->columns->len;
    const BindSizeScope scope(d->mdb, BindSize);
    std::vector<std::vector<char>> buffers(n, std::vector<char>(BindSize, '\0'));
    std::vector<int> lengths(n, 0);
    mdb_rewind_table(def.get());
    for (guint i = 0; i < n; ++i)
        mdb_bind_column(def.get(), int(i) + 1, buffers[i].data(), &lengths[i]);
    unsigned int count = 0;
    for (;;) {
        for (auto &b : buffers)
            b[0] = '\0';
        std::fill(lengths.begin(), lengths.end(), 0);
        if (!mdb_fetch_row(def.get()))
            break;
        ++count;
        QVariantList values;
        values.reserve(qsizetype(n));
        for (guint i = 0; i < n; ++i) {
            auto *c = static_cast<MdbColumn *>(g_ptr_array_index(def->columns, i));
            const char *text = buffers[i].data();
            const size_t length = ::strnlen(text, BindSize);
            switch (c->col_type) {
            case MDB_OLE: {
                size_t size = 0;
                void *bytes = mdb_ole_read_full(d->mdb, c, &size);
                values << (bytes ? QVariant(QByteArray(static_cast<const char *>(bytes), qsizetype(size))) : QVariant());
                g_free(bytes);
                break;
            }
            case MDB_BINARY:
                values << (lengths[i] > 0 ? QVariant(QByteArray(text, std::min<qsizetype>(lengths[i], qsizetype(BindSize))))
                                          : QVariant());
                break;
            case MDB_BOOL:
            case MDB_BYTE:
            case MDB_INT:
            case MDB_LONGINT:
                values << (length ? QVariant(QByteArray(text, qsizetype(length)).toLongLong()) : QVariant());
                break;
            case MDB_FLOAT:
            case MDB_DOUBLE:
                values << (length ? QVariant(QByteArray(text, qsizetype(length)).toDouble()) : QVariant());
                break;
            default: // texts, and the exact digits of money and numbers, and dates as text
                values << (length ? QVariant(d->decode(text, length)) : QVariant());
            }
        }
        if (!row(values))
            return;
    }
    if (count < def->num_rows)
        fail(broken);
}

} // namespace Norvix
