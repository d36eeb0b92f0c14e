// Crash loop: a process saving rows through the data layer is killed with SIGKILL, again and again.
//
// The saver, through a row session, inserts rows (texts of up to a few kilobytes, so that saves
// span pages), moves a "last saved" marker with an optimistic update, and now and then deletes a
// row it saved earlier; it prints a line for each save only after the save returned, that is
// after its commit. After each kill the database is opened afresh and checked: the engine's own
// consistency check passes (PRAGMA integrity_check on SQLite; amcheck on the primary key on
// PostgreSQL), every row acknowledged since the program began is there (with exactly its text
// for the rows of the last run, with the length of its text for earlier ones), every
// acknowledged delete of any run is gone, and the marker is at least the last acknowledged
// value. With --history the record keeps history, and each change that landed, and no other,
// has exactly one history row (ledger.h).
//
//   crashloop --backend sqlite|sqlite-journal|postgresql [--kills 500] [--max-delay-ms 250]
//             [--kill-server]   (PostgreSQL: kill the server and its backends, not the saver)
//             [--history]
//
// Prints the figures; exits 0 when every check passed after every kill.

#include "platform/connection.h"
#include "platform/recordset.h"
#include "ledger.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QHash>
#include <QSet>
#include <QThread>

#include <optional>

#include <cstdio>

using namespace Norvix;

namespace {

void ack(const char *what, qint64 id)
{
    std::printf("%s %lld\n", what, static_cast<long long>(id));
    std::fflush(stdout);
}

// The saver: runs until killed. Each line it prints is a save that returned; "ready N" says that
// it begins with row N.
int saver(const QString &connectionString, bool history)
{
    try {
        auto connection = Connection::open(connectionString);
        RowSession rows, marker;
        rows.attach(connection, QStringLiteral("SALVATAGGI"), {QStringLiteral("ID")}, Reliability::record(history));
        marker.attach(connection, QStringLiteral("STATO"), {QStringLiteral("ID")}, Reliability::record(history));
        qint64 next = 1;
        if (Recordset &all = rows.reopen(CursorIntent::Read); !all.Eof()) {
            all.MoveLast();
            next = all.value(QStringLiteral("ID")).toLongLong() + 1;
        }
        marker.load({1});
        ack("ready", next);
        for (qint64 id = next;; ++id) {
            rows.startNew();
            rows.setValue(QStringLiteral("ID"), id);
            rows.setValue(QStringLiteral("TESTO"), Reliability::payload(id));
            Reliability::done(rows.save());
            ack("i", id);

            marker.setValue(QStringLiteral("ULTIMO"), id);
            Reliability::done(marker.save());
            ack("u", id);

            if (id % 5 == 0) {
                if (rows.load({id - 2}).Eof())
                    continue;
                ack("t", id - 2); // trying: may or may not happen
                Reliability::done(rows.remove());
                ack("d", id - 2);
            }
        }
    } catch (const DataError &e) {
        std::fprintf(stderr, "saver: error %d: %s\n", e.number(), qPrintable(e.description()));
        return 1;
    }
}

struct Figures
{
    int kills = 0;
    int killedBeforeFirstSave = 0;
    int killedAfterManySaves = 0;
    qint64 acknowledged = 0;
    qint64 lost = 0;
    qint64 wrongText = 0;
    qint64 resurrected = 0;
    int integrityFailures = 0;
    int markerBehind = 0;
    int saverErrors = 0;
};

// What every run so far acknowledged: the rows that must be there, and those that must not; with
// history, the history rows of every change that landed.
struct Acknowledged
{
    QSet<qint64> alive;
    QSet<qint64> deleted;
    std::optional<Reliability::Ledger> history;
};

// What the saver printed before it was killed: the saves that returned, and the one that may
// have been under way.
struct Output
{
    QList<qint64> inserted;
    QSet<qint64> deleted;
    QList<qint64> moves; // the marker's
    qint64 lastMarker = 0;
    qint64 tried = -1; // a delete begun and not acknowledged
    Reliability::Change underWay;

    explicit Output(const QByteArray &out)
    {
        QList<QByteArray> lines = out.split('\n');
        lines.removeLast(); // the text after the last newline: never an acknowledgement
        for (const QByteArray &line : std::as_const(lines)) {
            const QList<QByteArray> parts = line.split(' ');
            if (parts.size() != 2)
                continue;
            const qint64 id = parts[1].toLongLong();
            switch (parts[0].at(0)) {
            case 'r': underWay = {'I', id}; break;
            case 'i':
                inserted << id;
                underWay = {'U', id};
                break;
            case 'u':
                lastMarker = id;
                moves << id;
                underWay = {'I', id + 1};
                break;
            case 't':
                tried = id;
                underWay = {'D', id};
                break;
            case 'd':
                deleted << id;
                tried = -1;
                underWay = {'I', id + 3};
                break;
            default: break;
            }
        }
    }
};

// The history of the changes: every acknowledged one has its row, the one under way has one when
// it landed, and no other change has one.
void checkHistory(Reliability::Target &target, const Output &o, const QHash<qint64, qint64> &lengths, qint64 marker,
                  const Figures &f, Reliability::Ledger &history)
{
    for (qint64 id : o.inserted)
        history.acknowledge({'I', id});
    for (qint64 id : o.moves)
        history.acknowledge({'U', id});
    for (qint64 id : o.deleted)
        history.acknowledge({'D', id});
    const Reliability::Change &u = o.underWay;
    const bool landed = u.action == 'U' ? marker == u.key : lengths.contains(u.key) == (u.action == 'I');
    const bool pg = !target.isSqlite();
    const QList<QVariantList> rows = target.scalar(Reliability::Ledger::existsSql(pg)).toBool()
                                         ? target.rows(history.selectSql(pg))
                                         : QList<QVariantList>();
    history.check(rows, u, landed, f.kills);
}

// Checks the database after one kill; `out` is what the saver printed.
void check(Reliability::Target &target, const QByteArray &out, qint64 &expectedRows, Figures &f, Acknowledged &acked)
{
    const Output o(out);
    f.acknowledged += o.inserted.size() + o.moves.size() + o.deleted.size();
    if (o.inserted.isEmpty())
        ++f.killedBeforeFirstSave;
    else if (o.inserted.size() >= 10)
        ++f.killedAfterManySaves;

    target.reopen();
    if (target.isSqlite()) {
        const QString verdict = target.scalar(QStringLiteral("PRAGMA integrity_check")).toString();
        if (verdict != u"ok") {
            ++f.integrityFailures;
            std::printf("integrity_check after kill %d: %s\n", f.kills, qPrintable(verdict));
        }
    } else {
        // Raises an error, and so stops the run, when the index and the table disagree.
        target.exec(QStringLiteral("SELECT bt_index_check('salvataggi_pkey'::regclass, true)"));
    }

    // Every row acknowledged since the program began, in every earlier run too: there, as long as
    // the text of its id (the whole text for this run's rows), and every acknowledged delete gone.
    for (qint64 id : o.inserted)
        if (!o.deleted.contains(id) && id != o.tried)
            acked.alive.insert(id);
    for (qint64 id : o.deleted) {
        acked.alive.remove(id);
        acked.deleted.insert(id);
    }
    acked.alive.remove(o.tried); // a delete under way may or may not have happened
    QHash<qint64, qint64> lengths;
    for (const QVariantList &row : target.rows(QStringLiteral("SELECT ID, length(TESTO) FROM SALVATAGGI")))
        lengths.insert(row.value(0).toLongLong(), row.value(1).toLongLong());
    for (qint64 id : std::as_const(acked.alive)) {
        const auto found = lengths.constFind(id);
        if (found == lengths.cend()) {
            ++f.lost;
            std::printf("kill %d: acknowledged row %lld is missing\n", f.kills, static_cast<long long>(id));
        } else if (*found != Reliability::payload(id).size()
                   || (o.inserted.contains(id)
                       && target.scalar(QStringLiteral("SELECT TESTO FROM SALVATAGGI WHERE ID = %1").arg(id)).toString()
                              != Reliability::payload(id))) {
            ++f.wrongText;
            std::printf("kill %d: row %lld holds another text\n", f.kills, static_cast<long long>(id));
        }
    }
    for (qint64 id : std::as_const(acked.deleted)) {
        if (lengths.contains(id)) {
            ++f.resurrected;
            std::printf("kill %d: deleted row %lld is back\n", f.kills, static_cast<long long>(id));
        }
    }
    const qint64 marker = target.scalar(QStringLiteral("SELECT ULTIMO FROM STATO WHERE ID = 1")).toLongLong();
    if (marker < o.lastMarker) {
        ++f.markerBehind;
        std::printf("kill %d: marker %lld behind acknowledged %lld\n", f.kills, static_cast<long long>(marker),
                    static_cast<long long>(o.lastMarker));
    }
    if (acked.history)
        checkHistory(target, o, lengths, marker, f, *acked.history);
    // Everything else: the row count moves exactly by what was acknowledged, give or take the
    // one insert and the one delete that may have been under way.
    expectedRows += o.inserted.size() - o.deleted.size();
    const qint64 count = target.scalar(QStringLiteral("SELECT COUNT(*) FROM SALVATAGGI")).toLongLong();
    const qint64 low = expectedRows - (o.tried >= 0 ? 1 : 0);
    const qint64 high = expectedRows + 1;
    if (count < low || count > high) {
        ++f.lost;
        std::printf("kill %d: %lld rows where %lld..%lld were expected\n", f.kills, static_cast<long long>(count),
                    static_cast<long long>(low), static_cast<long long>(high));
    }
    expectedRows = count;
}

// Kills the PostgreSQL test server and its backends with SIGKILL (tests/pg/pgserver crash), and
// starts it again once the saver has gone.
void crashServer(QProcess &saver)
{
    const QString dir = qEnvironmentVariable("NORVIX_TEST_PG_DIR");
    if (QProcess::execute(QStringLiteral(NORVIX_PGSERVER), {QStringLiteral("crash"), dir}) != 0)
        Reliability::die(QStringLiteral("cannot kill the server of ") + dir);
    saver.waitForFinished(-1); // it loses its connection and stops
    if (QProcess::execute(QStringLiteral(NORVIX_PGSERVER), {QStringLiteral("restart"), dir}) != 0)
        Reliability::die(QStringLiteral("cannot start the server again in ") + dir);
}

int report(const Figures &f, const Acknowledged &acked)
{
    std::printf("  acknowledged saves %lld: lost %lld, wrong text %lld, deleted rows back %lld, marker behind %d\n",
                static_cast<long long>(f.acknowledged), static_cast<long long>(f.lost),
                static_cast<long long>(f.wrongText), static_cast<long long>(f.resurrected), f.markerBehind);
    std::printf("  integrity failures %d, saver errors %d\n", f.integrityFailures, f.saverErrors);
    if (acked.history)
        acked.history->figures().print();
    const bool ok = f.lost == 0 && f.wrongText == 0 && f.resurrected == 0 && f.markerBehind == 0
                    && f.integrityFailures == 0 && f.saverErrors == 0 && f.acknowledged > 0
                    && (!acked.history || acked.history->figures().ok());
    std::printf("  %s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}

int run(const QString &program, const QString &backend, int kills, int maxDelayMs, bool killServer, bool history)
{
    Reliability::Target target(backend);
    target.exec(QStringLiteral("CREATE TABLE SALVATAGGI (ID INTEGER PRIMARY KEY, TESTO TEXT NOT NULL)"));
    target.exec(QStringLiteral("CREATE TABLE STATO (ID INTEGER PRIMARY KEY, ULTIMO INTEGER NOT NULL)"));
    target.exec(QStringLiteral("INSERT INTO STATO (ID, ULTIMO) VALUES (1, 0)"));
    if (!target.isSqlite())
        target.exec(QStringLiteral("CREATE EXTENSION IF NOT EXISTS amcheck"));

    QRandomGenerator random(QRandomGenerator::global()->generate());
    Figures f;
    Acknowledged acked;
    if (history)
        acked.history.emplace("kill");
    qint64 expectedRows = 0;
    QElapsedTimer clock;
    clock.start();
    for (int k = 0; k < kills; ++k) {
        QProcess saverProcess;
        saverProcess.start(program, {history ? QStringLiteral("--saver-history") : QStringLiteral("--saver"), target.connection()});
        if (!saverProcess.waitForStarted())
            Reliability::die(QStringLiteral("cannot start the saver: ") + saverProcess.errorString());
        // Most kills land while rows are being saved, after the saver is ready; one in ten lands
        // anywhere, opening the database included.
        if (random.bounded(10) != 0)
            while (saverProcess.state() == QProcess::Running && !saverProcess.canReadLine())
                saverProcess.waitForReadyRead(1000);
        QThread::msleep(random.bounded(maxDelayMs + 1));
        if (killServer) {
            crashServer(saverProcess);
        } else {
            saverProcess.kill(); // SIGKILL
            saverProcess.waitForFinished(-1);
        }
        if (killServer || saverProcess.exitStatus() == QProcess::CrashExit) {
            ++f.kills;
        } else {
            ++f.saverErrors;
            std::printf("the saver stopped by itself: %s\n", saverProcess.readAllStandardError().constData());
        }
        check(target, saverProcess.readAllStandardOutput(), expectedRows, f, acked);
    }
    std::printf("crashloop %s%s%s: %d kills in %.1f s (%d before the first save, %d after ten or more), %lld rows at the end\n",
                qPrintable(backend), killServer ? " (server killed)" : "", history ? ", with history" : "", f.kills,
                clock.elapsed() / 1000.0, f.killedBeforeFirstSave, f.killedAfterManySaves, static_cast<long long>(expectedRows));
    return report(f, acked);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && (qstrcmp(argv[1], "--saver") == 0 || qstrcmp(argv[1], "--saver-history") == 0))
        return saver(QString::fromLocal8Bit(argv[2]), qstrcmp(argv[1], "--saver-history") == 0);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Kills a saving process again and again; checks every acknowledged save."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("backend"), QStringLiteral("sqlite, sqlite-journal or postgresql."), QStringLiteral("name"),
                      QStringLiteral("sqlite")});
    parser.addOption({QStringLiteral("kills"), QStringLiteral("How many times to kill the saver."), QStringLiteral("n"),
                      QStringLiteral("500")});
    parser.addOption({QStringLiteral("max-delay-ms"), QStringLiteral("Longest wait before a kill."), QStringLiteral("ms"),
                      QStringLiteral("250")});
    parser.addOption({QStringLiteral("kill-server"),
                      QStringLiteral("Kill the PostgreSQL server and its backends instead of the saver, then start it again.")});
    parser.addOption({QStringLiteral("history"), QStringLiteral("Save through a record that keeps history, and check it.")});
    parser.process(app);
    const bool killServer = parser.isSet(QStringLiteral("kill-server"));
    if (killServer && parser.value(QStringLiteral("backend")) != u"postgresql")
        Reliability::die(QStringLiteral("--kill-server needs --backend postgresql"));
    const int kills = parser.value(QStringLiteral("kills")).toInt();
    const int delay = parser.value(QStringLiteral("max-delay-ms")).toInt();
    if (kills < 1 || delay < 0)
        Reliability::die(QStringLiteral("need kills >= 1 and max-delay-ms >= 0"));
    return run(QCoreApplication::applicationFilePath(), parser.value(QStringLiteral("backend")), kills, delay, killServer,
               parser.isSet(QStringLiteral("history")));
}
