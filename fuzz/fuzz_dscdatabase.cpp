// Any byte sequence as an SQLite descriptor database, read with a password: the reader either
// gives the lines of a database sealed with that password or reports a DescriptorError; a
// database without its complete seal is never read as plain. The seeds (scripts/fuzz makes them)
// are the sample descriptors imported plain and sealed with "Segreto1".

#include "descriptor/dscdatabase.h"
#include "descriptor/errors.h"
#include "inputfile.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <cstdint>
#include <cstdlib>

using namespace Norvix;

namespace {

// Whether the file holds the seal table: a plain read of it must never succeed.
bool sealed(const QString &path)
{
    bool has = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fuzz-check"));
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        has = db.open() && db.tables().contains(QStringLiteral("DscCrypt"), Qt::CaseInsensitive);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fuzz-check"));
    return has;
}

} // namespace

// Seeds: with NORVIX_FUZZ_SEEDS naming an empty folder, the sample descriptors are written there
// plain and sealed.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    const QString seeds = qEnvironmentVariable("NORVIX_FUZZ_SEEDS");
    if (!seeds.isEmpty() && !QFile::exists(seeds + QStringLiteral("/sealed.mdb"))) {
        const QStringList lines{QStringLiteral("RECORD,CLIENTI,Clienti,1,Generale"),
                                QStringLiteral("CAMPO,CODICE,Codice,LONG,6,,1,,X"), QStringLiteral("CAMPO,NOME,Città,TEXT,40"),
                                QStringLiteral("INDICE,PrimaryKey,+CODICE,-1,-1")};
        writeDscDatabase(seeds + QStringLiteral("/plain.mdb"), lines, QString());
        writeDscDatabase(seeds + QStringLiteral("/sealed.mdb"), lines, QStringLiteral("Segreto1"));
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = inputFile(data, size, QStringLiteral("dsc.mdb"));
    QFile::remove(path + QStringLiteral("-journal")); // left by an earlier input
    try {
        (void)readDscDatabase(path, QStringLiteral("Segreto1"));
        if (!sealed(path))
            std::abort(); // read as plain although a password was given
    } catch (const DescriptorError &) {
    }
    return 0;
}
