#include "descriptor/dscdatabase.h"
#include "platform/language.h"

#include "descriptor/dsctext.h"
#include "descriptor/jetfile.h"

#include <QAtomicInteger>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include <sodium.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include <mutex>

namespace Norvix {

namespace {

constexpr char kSqliteMagic[] = "SQLite format 3";
const QString kTable = QStringLiteral("Dsc");
const QString kColumn = QStringLiteral("Line");
const QString kCryptTable = QStringLiteral("DscCrypt");

// A named QSqlDatabase connection that is closed and removed when it goes out of scope.
class ScopedConnection
{
public:
    explicit ScopedConnection(const QString &file, bool readOnly)
    {
        static QAtomicInteger<int> counter;
        m_name = QStringLiteral("norvix-dsc-%1").arg(counter.fetchAndAddRelaxed(1));
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(file);
        if (readOnly)
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (!db.open())
            throw DescriptorError(nxTr("Impossibile aprire il database dei descrittori %1: %2")
                                      .arg(file, db.lastError().text()));
    }
    ~ScopedConnection()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(m_name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_name);
    }
    QSqlDatabase db() const { return QSqlDatabase::database(m_name, false); }

private:
    QString m_name;
};

void initSodium()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (sodium_init() < 0)
            throw DescriptorError(nxTr("Impossibile inizializzare la libreria crittografica"));
    });
}

using Key = std::array<unsigned char, crypto_aead_xchacha20poly1305_ietf_KEYBYTES>;

struct KeyGuard
{
    Key key{};
    ~KeyGuard() { sodium_memzero(key.data(), key.size()); }
};

void deriveKey(Key &key, const QString &password, const QByteArray &salt, quint64 ops, quint64 mem)
{
    const QByteArray pw = password.toUtf8();
    if (crypto_pwhash(key.data(), key.size(), pw.constData(), quint64(pw.size()),
                      reinterpret_cast<const unsigned char *>(salt.constData()), ops, size_t(mem),
                      crypto_pwhash_ALG_ARGON2ID13)
        != 0)
        throw DescriptorError(nxTr("Memoria insufficiente per derivare la chiave dei descrittori"));
}

QByteArray seal(const Key &key, const QByteArray &plain, const QByteArray &ad)
{
    QByteArray out(int(crypto_aead_xchacha20poly1305_ietf_NPUBBYTES + plain.size()
                       + crypto_aead_xchacha20poly1305_ietf_ABYTES),
                   Qt::Uninitialized);
    auto *nonce = reinterpret_cast<unsigned char *>(out.data());
    randombytes_buf(nonce, crypto_aead_xchacha20poly1305_ietf_NPUBBYTES);
    unsigned long long clen = 0;
    crypto_aead_xchacha20poly1305_ietf_encrypt(
        nonce + crypto_aead_xchacha20poly1305_ietf_NPUBBYTES, &clen,
        reinterpret_cast<const unsigned char *>(plain.constData()), quint64(plain.size()),
        reinterpret_cast<const unsigned char *>(ad.constData()), quint64(ad.size()), nullptr, nonce, key.data());
    return out;
}

// Empty optional when the box does not open under this key and associated data.
std::optional<QByteArray> open(const Key &key, const QByteArray &box, const QByteArray &ad)
{
    constexpr auto N = crypto_aead_xchacha20poly1305_ietf_NPUBBYTES;
    constexpr auto A = crypto_aead_xchacha20poly1305_ietf_ABYTES;
    if (box.size() < qsizetype(N + A))
        return std::nullopt;
    const auto *nonce = reinterpret_cast<const unsigned char *>(box.constData());
    QByteArray plain(box.size() - qsizetype(N + A), Qt::Uninitialized);
    unsigned long long plen = 0;
    if (crypto_aead_xchacha20poly1305_ietf_decrypt(
            reinterpret_cast<unsigned char *>(plain.data()), &plen, nullptr, nonce + N,
            quint64(box.size()) - N, reinterpret_cast<const unsigned char *>(ad.constData()),
            quint64(ad.size()), nonce, key.data())
        != 0)
        return std::nullopt;
    return plain;
}

QByteArray lineAd(qsizetype ordinal) { return "norvix-dsc-line:" + QByteArray::number(ordinal); }
const QByteArray kCheckAd = QByteArrayLiteral("norvix-dsc-check");
const QByteArray kCheckPrefix = QByteArrayLiteral("norvix-dsc-lines:");

bool hasTable(const QSqlDatabase &db, const QString &name)
{
    const QStringList tables = db.tables();
    return std::any_of(tables.cbegin(), tables.cend(),
                       [&](const QString &t) { return t.compare(name, Qt::CaseInsensitive) == 0; });
}

QStringList readSqlite(const QString &file, const QString &password)
{
    ScopedConnection conn(file, true);
    QSqlDatabase db = conn.db();
    if (!hasTable(db, kTable))
        throw DescriptorError(nxTr("Tabella Dsc non trovata nel database dei descrittori %1").arg(file));
    if (!db.record(kTable).contains(kColumn))
        throw DescriptorError(nxTr("Colonna Line non trovata nella tabella Dsc di %1").arg(file));

    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT \"Line\" FROM \"Dsc\" ORDER BY rowid")))
        throw DescriptorError(nxTr("Impossibile leggere la tabella Dsc di %1: %2")
                                  .arg(file, q.lastError().text()));
    QStringList lines;
    while (q.next())
        lines.append(q.value(0).toString()); // NULL reads as an empty line
    if (q.lastError().isValid())
        throw DescriptorError(nxTr("Impossibile leggere la tabella Dsc di %1: %2")
                                  .arg(file, q.lastError().text()));

    if (!hasTable(db, kCryptTable)) {
        // Given a password, only a sealed database is read: one whose seal was removed, or a
        // plain one put in the place of a sealed one, would otherwise pass unnoticed.
        if (!password.isEmpty())
            throw DescriptorError(nxTr("Il database dei descrittori %1 non è sigillato: con una password si "
                                                 "leggono solo database protetti da quella password").arg(file));
        return lines;
    }

    if (password.isEmpty())
        throw DescriptorError(nxTr("Il database dei descrittori %1 è protetto da password").arg(file));
    initSodium();
    QSqlQuery c(db);
    if (!c.exec(QStringLiteral("SELECT \"Salt\", \"OpsLimit\", \"MemLimit\", \"Check\" FROM \"DscCrypt\"")) || !c.next())
        throw DescriptorError(nxTr("Il database dei descrittori %1 è danneggiato: dati di protezione mancanti").arg(file));
    const QByteArray salt = c.value(0).toByteArray();
    const quint64 ops = c.value(1).toULongLong();
    const quint64 mem = c.value(2).toULongLong();
    const QByteArray check = c.value(3).toByteArray();
    // Limits far beyond what this program writes (the interactive ones) would let a forged file
    // take seconds and a gigabyte to open: up to the moderate ones are read, no more.
    if (salt.size() != crypto_pwhash_SALTBYTES || ops < crypto_pwhash_OPSLIMIT_MIN || ops > crypto_pwhash_OPSLIMIT_MODERATE
        || mem < crypto_pwhash_MEMLIMIT_MIN || mem > crypto_pwhash_MEMLIMIT_MODERATE)
        throw DescriptorError(nxTr("Il database dei descrittori %1 è danneggiato: dati di protezione non validi").arg(file));

    KeyGuard k;
    deriveKey(k.key, password, salt, ops, mem);
    const auto count = open(k.key, check, kCheckAd);
    if (!count || !count->startsWith(kCheckPrefix))
        throw DescriptorError(nxTr("Password errata per il database dei descrittori %1").arg(file));
    const auto tampered = [&](const QString &what) {
        return DescriptorError(nxTr("Il database dei descrittori %1 è stato alterato: %2").arg(file, what));
    };
    if (count->mid(kCheckPrefix.size()).toLongLong() != lines.size())
        throw tampered(nxTr("il numero delle righe non corrisponde"));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const auto plain = open(k.key, QByteArray::fromBase64(lines.at(i).toLatin1()), lineAd(i + 1));
        if (!plain)
            throw tampered(nxTr("la riga %1 non è valida").arg(i + 1));
        lines[i] = QString::fromUtf8(*plain);
    }
    return lines;
}

[[noreturn]] void writeFailed(const QString &file, const QSqlError &error)
{
    throw DescriptorError(nxTr("Impossibile scrivere il database dei descrittori %1: %2").arg(file, error.text()));
}

void exec(QSqlQuery &q, const QString &sql, const QString &file)
{
    if (!q.exec(sql))
        writeFailed(file, q.lastError());
}

QString &passwordSlot()
{
    static QString password;
    return password;
}

} // namespace

DscDbFormat dscDatabaseFormat(const QString &file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return DscDbFormat::Unknown;
    const QByteArray head = f.read(32);
    if (head.startsWith(QByteArray(kSqliteMagic, sizeof kSqliteMagic)))
        return DscDbFormat::Sqlite;
    if (JetFile::looksLikeJet(head))
        return DscDbFormat::Jet;
    return DscDbFormat::Unknown;
}

QStringList readDscDatabase(const QString &file, const QString &password)
{
    if (!QFileInfo(file).isFile())
        throw DescriptorError(nxTr("Database dei descrittori %1 non trovato").arg(file));
    switch (dscDatabaseFormat(file)) {
    case DscDbFormat::Sqlite: return readSqlite(file, password);
    case DscDbFormat::Jet: return JetFile(file, password).readColumn(kTable, kColumn);
    case DscDbFormat::Unknown: break;
    }
    throw DescriptorError(nxTr("%1 non è un database dei descrittori (formato non riconosciuto)").arg(file));
}

namespace {

// Replaces the descriptor tables of the SQLite file `file` (messages name `shown`).
void writeTables(const QString &file, const QString &shown, const QStringList &lines, const QString &password)
{
    QByteArray salt, check;
    KeyGuard k;
    const quint64 ops = crypto_pwhash_OPSLIMIT_INTERACTIVE;
    const quint64 mem = crypto_pwhash_MEMLIMIT_INTERACTIVE;
    if (!password.isEmpty()) {
        initSodium();
        salt.resize(crypto_pwhash_SALTBYTES);
        randombytes_buf(salt.data(), size_t(salt.size()));
        deriveKey(k.key, password, salt, ops, mem);
        check = seal(k.key, kCheckPrefix + QByteArray::number(lines.size()), kCheckAd);
    }

    ScopedConnection conn(file, false);
    QSqlDatabase db = conn.db();
    if (!db.transaction())
        writeFailed(shown, db.lastError());
    try {
        QSqlQuery q(db);
        exec(q, QStringLiteral("DROP TABLE IF EXISTS \"Dsc\""), shown);
        exec(q, QStringLiteral("DROP TABLE IF EXISTS \"DscCrypt\""), shown);
        exec(q, QStringLiteral("CREATE TABLE \"Dsc\" (\"Line\" TEXT)"), shown);
        if (!password.isEmpty()) {
            exec(q, QStringLiteral("CREATE TABLE \"DscCrypt\" (\"Salt\" BLOB NOT NULL, \"OpsLimit\" INTEGER NOT NULL, "
                                   "\"MemLimit\" INTEGER NOT NULL, \"Check\" BLOB NOT NULL)"),
                 shown);
            q.prepare(QStringLiteral("INSERT INTO \"DscCrypt\" VALUES (?, ?, ?, ?)"));
            q.addBindValue(salt);
            q.addBindValue(ops);
            q.addBindValue(mem);
            q.addBindValue(check);
            if (!q.exec())
                writeFailed(shown, q.lastError());
        }
        q.prepare(QStringLiteral("INSERT INTO \"Dsc\" (rowid, \"Line\") VALUES (?, ?)"));
        for (qsizetype i = 0; i < lines.size(); ++i) {
            q.bindValue(0, i + 1);
            if (password.isEmpty())
                q.bindValue(1, lines.at(i));
            else
                q.bindValue(1, QString::fromLatin1(seal(k.key, lines.at(i).toUtf8(), lineAd(i + 1)).toBase64()));
            if (!q.exec())
                writeFailed(shown, q.lastError());
        }
        if (!db.commit())
            writeFailed(shown, db.lastError());
    } catch (...) {
        db.rollback();
        throw;
    }
}

// Flushes a file, or a folder's entries, to the disk.
bool syncPath(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

} // namespace

void writeDscDatabase(const QString &file, const QStringList &lines, const QString &password)
{
    const QFileInfo info(file);
    if (info.exists() && info.size() > 0 && dscDatabaseFormat(file) != DscDbFormat::Sqlite)
        throw DescriptorError(nxTr("%1 non è un database SQLite: i descrittori si scrivono solo in database SQLite").arg(file));
    // All or nothing: the tables are written into a copy in the same folder, which is synced
    // and then renamed over the file. Until the rename the old descriptors stay as they were,
    // readable by anyone, whatever happens to this process; a copy left by a killed import is
    // replaced by the next one.
    const QString temp = info.absoluteDir().filePath(QStringLiteral(".%1.import").arg(info.fileName()));
    QFile::remove(temp);
    QFile::remove(temp + QStringLiteral("-journal"));
    const auto failed = [&](const QString &why) {
        QFile::remove(temp);
        return DescriptorError(nxTr("Impossibile scrivere il database dei descrittori %1: %2").arg(file, why));
    };
    if (info.exists() && info.size() > 0) {
        QFile original(file);
        if (!original.copy(temp))
            throw failed(original.errorString());
    }
    try {
        writeTables(temp, file, lines, password);
    } catch (...) {
        QFile::remove(temp);
        throw;
    }
    if (!syncPath(temp))
        throw failed(QString::fromLocal8Bit(std::strerror(errno)));
    if (::rename(QFile::encodeName(temp).constData(), QFile::encodeName(file).constData()) != 0)
        throw failed(QString::fromLocal8Bit(std::strerror(errno)));
    syncPath(info.absolutePath()); // the rename itself, on the disk
}

QString dscPassword() { return passwordSlot(); }
void setDscPassword(const QString &password) { passwordSlot() = password; }

void LeggiDscDb(const QString &path, const QString &recordName, Rec &rec)
{
    const QString file = path + QStringLiteral("dsc.mdb");
    const QStringList lines = readDscDatabase(file, dscPassword());
    ListLineSource source(lines);
    readDsc(source, recordName, rec, file);
}

} // namespace Norvix
