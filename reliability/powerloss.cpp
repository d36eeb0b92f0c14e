// Power loss: saves through the data layer on an SQLite file whose writes go through a test VFS.
// The VFS keeps, for every file, what each write or truncation since the file's last sync
// replaced. At a random point of a save loop the power goes: every later write fails, and each
// file is put back as it was at its last sync, as a disk loses what it was never told to keep.
// The saves go through a row session: rows inserted with their texts, and a marker row moved to
// every other one. The database is then opened afresh and checked: PRAGMA integrity_check passes,
// every save acknowledged since the program began, in every earlier cycle too, is there with its
// text, and the marker is at least at its last acknowledged value. With --history the record
// keeps history, and each save that landed, and no other, has exactly one history row (ledger.h).
//
//   powerloss [--cuts 200] [--journal wal|delete] [--synchronous full|off] [--history]
//
// With --synchronous off SQLite never syncs, so acknowledged saves are lost: the program must
// then fail, which shows that it can tell. Prints the figures; exits 0 when nothing was lost.

#include "platform/connection.h"
#include "platform/waiting.h"
#include "ledger.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QMap>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <vector>

using namespace Norvix;

namespace {

// ---- the test VFS ----------------------------------------------------------------------------

struct Undo
{
    sqlite3_int64 offset;  // where the bytes go back
    std::string bytes;     // what was there (the part inside the old size)
    sqlite3_int64 oldSize; // the size to go back to
};

struct File
{
    sqlite3_file base;
    sqlite3_file *real; // the default VFS's file, allocated after this struct
    std::vector<Undo> undo;
};

sqlite3_vfs *g_real = nullptr;
bool g_cut = false;        // the power is off: every write fails
int g_countdown = -1;      // writes and syncs until the power goes (-1: never)
int g_syncs = 0;

bool tick()
{
    if (g_countdown > 0 && --g_countdown == 0)
        g_cut = true;
    return !g_cut;
}

File *file(sqlite3_file *f) { return reinterpret_cast<File *>(f); }

sqlite3_int64 sizeOf(File *f)
{
    sqlite3_int64 size = 0;
    f->real->pMethods->xFileSize(f->real, &size);
    return size;
}

// Puts the file back as it was at its last sync.
void revert(File *f)
{
    for (auto it = f->undo.rbegin(); it != f->undo.rend(); ++it) {
        if (!it->bytes.empty())
            f->real->pMethods->xWrite(f->real, it->bytes.data(), int(it->bytes.size()), it->offset);
        f->real->pMethods->xTruncate(f->real, it->oldSize);
    }
    f->undo.clear();
}

int xClose(sqlite3_file *p)
{
    File *f = file(p);
    if (g_cut)
        revert(f);
    const int rc = f->real->pMethods->xClose(f->real);
    f->undo.~vector();
    return rc;
}
int xRead(sqlite3_file *p, void *buf, int n, sqlite3_int64 off)
{
    return file(p)->real->pMethods->xRead(file(p)->real, buf, n, off);
}
int xWrite(sqlite3_file *p, const void *buf, int n, sqlite3_int64 off)
{
    File *f = file(p);
    if (!tick())
        return SQLITE_IOERR_WRITE;
    const sqlite3_int64 size = sizeOf(f);
    Undo u{off, {}, size};
    if (off < size) {
        u.bytes.resize(size_t(std::min<sqlite3_int64>(n, size - off)));
        f->real->pMethods->xRead(f->real, u.bytes.data(), int(u.bytes.size()), off);
    }
    f->undo.push_back(std::move(u));
    return f->real->pMethods->xWrite(f->real, buf, n, off);
}
int xTruncate(sqlite3_file *p, sqlite3_int64 size)
{
    File *f = file(p);
    if (!tick())
        return SQLITE_IOERR_TRUNCATE;
    const sqlite3_int64 old = sizeOf(f);
    Undo u{size, {}, old};
    if (size < old) {
        u.bytes.resize(size_t(old - size));
        f->real->pMethods->xRead(f->real, u.bytes.data(), int(u.bytes.size()), size);
    }
    f->undo.push_back(std::move(u));
    return f->real->pMethods->xTruncate(f->real, size);
}
int xSync(sqlite3_file *p, int flags)
{
    File *f = file(p);
    if (!tick())
        return SQLITE_IOERR_FSYNC;
    ++g_syncs;
    f->undo.clear(); // on the disk now
    return f->real->pMethods->xSync(f->real, flags);
}
int xFileSize(sqlite3_file *p, sqlite3_int64 *size) { return file(p)->real->pMethods->xFileSize(file(p)->real, size); }
int xLock(sqlite3_file *p, int l) { return file(p)->real->pMethods->xLock(file(p)->real, l); }
int xUnlock(sqlite3_file *p, int l) { return file(p)->real->pMethods->xUnlock(file(p)->real, l); }
int xCheckReservedLock(sqlite3_file *p, int *out)
{
    return file(p)->real->pMethods->xCheckReservedLock(file(p)->real, out);
}
int xFileControl(sqlite3_file *p, int op, void *arg) { return file(p)->real->pMethods->xFileControl(file(p)->real, op, arg); }
int xSectorSize(sqlite3_file *p) { return file(p)->real->pMethods->xSectorSize(file(p)->real); }
int xDeviceCharacteristics(sqlite3_file *p)
{
    return file(p)->real->pMethods->xDeviceCharacteristics(file(p)->real);
}
int xShmMap(sqlite3_file *p, int page, int size, int extend, void volatile **out)
{
    return file(p)->real->pMethods->xShmMap(file(p)->real, page, size, extend, out);
}
int xShmLock(sqlite3_file *p, int offset, int n, int flags)
{
    return file(p)->real->pMethods->xShmLock(file(p)->real, offset, n, flags);
}
void xShmBarrier(sqlite3_file *p) { file(p)->real->pMethods->xShmBarrier(file(p)->real); }
int xShmUnmap(sqlite3_file *p, int del) { return file(p)->real->pMethods->xShmUnmap(file(p)->real, del); }

// Version 2: shared memory for WAL, no memory-mapped reads (every read goes through xRead).
const sqlite3_io_methods kMethods = {2,         xClose,      xRead,     xWrite,      xTruncate,     xSync,
                                     xFileSize, xLock,       xUnlock,   xCheckReservedLock, xFileControl, xSectorSize,
                                     xDeviceCharacteristics, xShmMap, xShmLock, xShmBarrier, xShmUnmap, nullptr, nullptr};

int xOpen(sqlite3_vfs *, const char *name, sqlite3_file *p, int flags, int *outFlags)
{
    File *f = file(p);
    f->real = reinterpret_cast<sqlite3_file *>(f + 1);
    new (&f->undo) std::vector<Undo>();
    const int rc = g_real->xOpen(g_real, name, f->real, flags, outFlags);
    if (rc != SQLITE_OK) {
        f->undo.~vector();
        p->pMethods = nullptr;
        return rc;
    }
    p->pMethods = &kMethods;
    return rc;
}
int xDelete(sqlite3_vfs *, const char *name, int syncDir)
{
    if (!tick())
        return SQLITE_IOERR_DELETE;
    return g_real->xDelete(g_real, name, syncDir);
}
int xAccess(sqlite3_vfs *, const char *name, int flags, int *out) { return g_real->xAccess(g_real, name, flags, out); }
int xFullPathname(sqlite3_vfs *, const char *name, int n, char *out) { return g_real->xFullPathname(g_real, name, n, out); }

void registerVfs()
{
    static sqlite3_vfs vfs;
    g_real = sqlite3_vfs_find(nullptr);
    vfs = *g_real;
    vfs.iVersion = 1;
    vfs.szOsFile = int(sizeof(File)) + g_real->szOsFile;
    vfs.zName = "powerloss";
    vfs.pAppData = nullptr;
    vfs.xOpen = xOpen;
    vfs.xDelete = xDelete;
    vfs.xAccess = xAccess;
    vfs.xFullPathname = xFullPathname;
    sqlite3_vfs_register(&vfs, 1); // the default: Qt's driver opens every file through it
}

// ---- the save loop ---------------------------------------------------------------------------

struct Figures
{
    int cuts = 0;
    int cutsMidSave = 0;
    qint64 acknowledged = 0;
    qint64 lost = 0;
    qint64 wrongText = 0;
    int integrityFailures = 0;
    int otherErrors = 0;
};

struct Run
{
    QString connection;
    bool synchronous = true;
    bool history = false;
    QMap<qint64, bool> acknowledged; // every acknowledged insert since the program began, all checked each time
    qint64 marker = 0;                // the marker's last acknowledged value
    qint64 next = 1;
    Reliability::Change underWay;     // the save the cut came in
    Reliability::Ledger ledger{"cut"};
    Figures f;
};

// Saves through a row session until the power goes: inserts row `next` with its text, and every
// other row moves the marker (STATO, row 1) to it.
void saveUntilTheCut(Run &r, int cycle)
{
    r.underWay = {};
    try {
        auto c = Connection::open(r.connection);
        if (!r.synchronous) {
            QSqlQuery q(c->database());
            q.exec(QStringLiteral("PRAGMA synchronous=OFF"));
        }
        RowSession rows, marker;
        rows.attach(c, QStringLiteral("SALVATAGGI"), {QStringLiteral("ID")}, Reliability::record(r.history));
        marker.attach(c, QStringLiteral("STATO"), {QStringLiteral("ID")}, Reliability::record(r.history));
        marker.load({1});
        for (;; ++r.next) {
            r.underWay = {'I', r.next};
            rows.startNew();
            rows.setValue(QStringLiteral("ID"), r.next);
            rows.setValue(QStringLiteral("TESTO"), Reliability::payload(r.next));
            Reliability::done(rows.save());
            r.acknowledged.insert(r.next, true);
            r.ledger.acknowledge(r.underWay);
            ++r.f.acknowledged;
            if (r.next % 2 == 1)
                continue;
            r.underWay = {'U', r.next};
            marker.setValue(QStringLiteral("ULTIMO"), r.next);
            Reliability::done(marker.save());
            r.marker = r.next;
            r.ledger.acknowledge(r.underWay);
            ++r.f.acknowledged;
        }
    } catch (const DataError &e) {
        if (!g_cut) {
            ++r.f.otherErrors;
            std::printf("cycle %d: %s\n", cycle, qPrintable(e.description()));
        } else {
            ++r.f.cutsMidSave;
        }
    }
}

// The database as a new process finds it after the cut: whole, every acknowledged save in it
// with its text, the marker at least at its last acknowledged value, and with history, the
// history of exactly the saves that landed.
void checkAfterTheCut(Run &r, int cycle)
{
    auto check = Connection::open(r.connection); // a writer: it may roll a hot journal back
    QSqlQuery q(check->database());
    if (!q.exec(QStringLiteral("PRAGMA integrity_check")) || !q.next() || q.value(0).toString() != u"ok") {
        ++r.f.integrityFailures;
        std::printf("cycle %d: integrity_check: %s\n", cycle, qPrintable(q.value(0).toString()));
    }
    QMap<qint64, QString> stored;
    q.setForwardOnly(true);
    if (q.exec(QStringLiteral("SELECT ID, TESTO FROM SALVATAGGI")))
        while (q.next())
            stored.insert(q.value(0).toLongLong(), q.value(1).toString());
    QList<qint64> missing;
    for (auto it = r.acknowledged.cbegin(); it != r.acknowledged.cend(); ++it) {
        const auto found = stored.constFind(it.key());
        if (found == stored.cend())
            missing << it.key();
        else if (*found != Reliability::payload(it.key()))
            ++r.f.wrongText;
    }
    r.f.lost += missing.size();
    for (qint64 id : std::as_const(missing))
        r.acknowledged.remove(id); // each loss counted once
    const qint64 marker = q.exec(QStringLiteral("SELECT ULTIMO FROM STATO")) && q.next() ? q.value(0).toLongLong() : -1;
    if (marker < r.marker) {
        ++r.f.lost;
        std::printf("cycle %d: marker %lld behind acknowledged %lld\n", cycle, static_cast<long long>(marker),
                    static_cast<long long>(r.marker));
        r.marker = marker;
    }
    if (!r.history)
        return;
    const bool landed = r.underWay.action == 'I' ? stored.contains(r.underWay.key) : marker == r.underWay.key;
    QList<QVariantList> history;
    if (q.exec(Reliability::Ledger::existsSql(false)) && q.next() && q.value(0).toBool() && q.exec(r.ledger.selectSql(false)))
        while (q.next())
            history << QVariantList{q.value(0), q.value(1), q.value(2), q.value(3), q.value(4)};
    r.ledger.check(history, r.underWay, landed, cycle);
}

bool createTables(const QString &file)
{
    sqlite3 *db = nullptr;
    const QByteArray path = file.toUtf8();
    const bool ok = sqlite3_open(path.constData(), &db) == SQLITE_OK
                    && sqlite3_exec(db,
                                    "CREATE TABLE SALVATAGGI (ID INTEGER PRIMARY KEY, TESTO TEXT NOT NULL);"
                                    "CREATE TABLE STATO (ID INTEGER PRIMARY KEY, ULTIMO INTEGER NOT NULL);"
                                    "INSERT INTO STATO VALUES (1, 0)",
                                    nullptr, nullptr, nullptr)
                           == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

int run(int cuts, const QString &journal, bool synchronous, bool history)
{
    QTemporaryDir dir;
    Run r;
    r.connection = QStringLiteral("sqlite://") + dir.filePath(QStringLiteral("dati.db")) + QStringLiteral("?journal_mode=") + journal;
    r.synchronous = synchronous;
    r.history = history;
    if (!createTables(dir.filePath(QStringLiteral("dati.db")))) {
        std::fprintf(stderr, "cannot create the database\n");
        return 2;
    }
    QRandomGenerator random(QRandomGenerator::global()->generate());
    for (int cycle = 0; cycle < cuts; ++cycle) {
        g_countdown = 1 + int(random.bounded(400));
        saveUntilTheCut(r, cycle);
        // Every handle is closed by now: the files are as the disk kept them. Power on again.
        ++r.f.cuts;
        g_cut = false;
        g_countdown = -1;
        checkAfterTheCut(r, cycle);
        r.next += 1; // the save cut off may or may not be there: its id is not used again
    }
    const Figures &f = r.f;
    std::printf("powerloss %s, synchronous=%s%s: %d cuts (%d in the middle of a save), %lld acknowledged saves, %d "
                "syncs\n",
                qPrintable(journal), synchronous ? "FULL" : "OFF", history ? ", with history" : "", f.cuts, f.cutsMidSave,
                static_cast<long long>(f.acknowledged), g_syncs);
    std::printf("  lost %lld, wrong text %lld, integrity failures %d, other errors %d\n", static_cast<long long>(f.lost),
                static_cast<long long>(f.wrongText), f.integrityFailures, f.otherErrors);
    if (history)
        r.ledger.figures().print();
    const bool ok = f.lost == 0 && f.wrongText == 0 && f.integrityFailures == 0 && f.otherErrors == 0 && f.acknowledged > 0
                    && r.ledger.figures().ok();
    std::printf("  %s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Cuts the power in the middle of saves; checks every acknowledged save."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("cuts"), QStringLiteral("How many power cuts."), QStringLiteral("n"), QStringLiteral("200")});
    parser.addOption({QStringLiteral("journal"), QStringLiteral("wal or delete."), QStringLiteral("mode"), QStringLiteral("wal")});
    parser.addOption({QStringLiteral("synchronous"), QStringLiteral("full, or off to show that losses are seen."),
                      QStringLiteral("mode"), QStringLiteral("full")});
    parser.addOption({QStringLiteral("history"), QStringLiteral("Save through a record that keeps history, and check it.")});
    parser.process(app);
    const int cuts = parser.value(QStringLiteral("cuts")).toInt();
    const QString journal = parser.value(QStringLiteral("journal")).toUpper();
    const QString sync = parser.value(QStringLiteral("synchronous")).toLower();
    if (cuts < 1 || (journal != u"WAL" && journal != u"DELETE") || (sync != u"full" && sync != u"off")) {
        std::fprintf(stderr, "need --cuts >= 1, --journal wal|delete, --synchronous full|off\n");
        return 2;
    }
    registerVfs();
    // One connection, no other writer: a lock or busy error comes only from the cut, so nothing waits.
    LockWait::setPolicy([](int, qint64) { return false; });
    return run(cuts, journal, sync == u"full", parser.isSet(QStringLiteral("history")));
}
