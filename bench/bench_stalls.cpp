// What a user feels of the editor on tables of every size: for each action, the longest time the
// event loop could not run (a 1 ms probe timer measures it) and the time until the window is idle
// again. The actions: open the editor, scroll to the middle and to the end, select a line, save,
// delete and search. Beside them: the memory the editor took, a raw UPDATE+COMMIT and a raw
// COUNT(*). Then the keystrokes typed into a lookup with text codes and into one with integer
// codes (500,000 referenced rows each): for each key, the time until its matches are listed, first
// without the description search index, then with it (made for the run and dropped after it, its
// making timed). Last, the live updates: with the editor open on its first row, the processor
// time it takes over 10 s of nothing changing, then rows that a connection of the benchmark's own
// changes and inserts: the time from each commit until the editor shows the change, and the
// longest stall meanwhile. Each size runs three times, each run in a child process of its own;
// the tables give the medians.
//
//   bench_stalls [--cache DIR] [--lookups] [--live] [SIZE...]   SIZE: sqlite:ROWS or pg:ROWS
//                  (default sqlite:100 sqlite:1000000 sqlite:10000000 pg:100 pg:1000000; with
//                  --live alone sqlite:100 sqlite:10000000 pg:100 pg:1000000)
//                  --lookups, --live: only the lookup keystrokes, only the live updates
//
// The databases are made once and kept in DIR (default ./bench-cache); PostgreSQL sizes need the
// test server (NORVIX_TEST_PG_DIR, see tests/pg/pgserver) and are made as databases of their own
// there. scripts/bench runs it all.
//
// NORVIX_BENCH_ANALYZE=1 has the lookup tables analyzed once their search index is made (the
// statistics PostgreSQL plans with). NORVIX_BENCH_DEBUG=1 prints each lookup key and each stall
// over 8 ms, with the part of it that the window's thread ran (the rest it waited for a processor),
// and each live update; NORVIX_BENCH_DEBUG=refresh also refreshes the list and the open row by hand
// after each change that the live updates commit (a check that a change shown is seen at once).

#include "editor/frmedittab.h"
#include "platform/lookupsearch.h"
#include "editor/recordlist.h"
#include "editor/recordlistview.h"
#include "editor/shared.h"
#include "platform/messages.h"
#include "platform/window.h"
#include "memory.h"
#include "pgtest.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QScrollBar>
#include <QTabBar>
#include <QTableView>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>
#include <string_view>

using namespace Norvix;
using Bench::rssKb;

namespace {

constexpr qint64 kLookupRows = 500000;

const char *const kDescriptor =
    "RECORD,CLIENTI,Clienti,1,Generale\n"
    "CAMPO,CODICE,Codice,LONG,10,,,,X,,,,,,1\n"
    "CAMPO,NOME,Ragione sociale,TEXT,40,,,,,,,,,,1\n"
    "CAMPO,ZONA,Zona,TEXT,8,,,,,,ZONE,NOME,COMBOBOX,,1\n"
    "CAMPO,CATEG,Categoria,LONG,8,,,,,,CATEGORIE,NOME,COMBOBOX,,1\n"
    "RICERCA,1,MOSTRA,Per ragione sociale,NOME,CODICE\n"
    "RICERCA,1,SELEZIONE,NOME,,LIKE\n"
    "INDICE,PrimaryKey,+CODICE,-1,-1\n"
    "RECORD,ZONE,Zone,1\nCAMPO,COD,Codice,TEXT,8,,,,X\nCAMPO,NOME,Nome,TEXT,40\nINDICE,PrimaryKey,+COD,-1,-1\n"
    "RECORD,CATEGORIE,Categorie,1\nCAMPO,COD,Codice,LONG,8,,,,X\nCAMPO,NOME,Nome,TEXT,40\nINDICE,PrimaryKey,+COD,-1,-1\n"
    "RECORD,ORDINI,Ordini,1,Testata,Righe\nCAMPO,NUMERO,Numero,LONG,8,,,,X,,,,,,1\nCAMPO,NOTE,Note,TEXT,40,,,,,,,,,,1\n"
    "DETTAGLIO,1,RIGHE,Righe,2,NUMERO,NUMERO\nINDICE,PrimaryKey,+NUMERO,-1,-1\n"
    "RECORD,RIGHE,Righe,1\nCAMPO,NUMERO,Numero,LONG,8\nCAMPO,RIGA,Riga,LONG,8\n"
    "CAMPO,ZONA,Zona,TEXT,8,,,,,,ZONE,NOME,COMBOBOX\nCAMPO,QTA,Quantita,DOUBLE,12\nINDICE,PrimaryKey,+NUMERO;+RIGA,-1,-1\n";

// An order's lines in the benchmark's data.
constexpr int kOrderLines = 100000;

[[noreturn]] void die(const QString &what)
{
    std::fprintf(stderr, "bench_stalls: %s\n", qPrintable(what));
    std::exit(2);
}

void run(QSqlDatabase &db, const QString &sql)
{
    QSqlQuery q(db);
    if (!q.exec(sql))
        die(sql.left(80) + QStringLiteral(": ") + q.lastError().text());
}

// A plain connection of the benchmark's own (not the editor's) to the data the editor gets.
QSqlDatabase plainConnection(const QString &connection)
{
    const QUrl url(connection);
    QSqlDatabase db;
    if (url.scheme() == u"sqlite") {
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("raw"));
        db.setDatabaseName(url.path());
    } else {
        db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("raw"));
        db.setHostName(url.host());
        db.setPort(url.port());
        db.setDatabaseName(url.path().mid(1));
        db.setUserName(url.userName());
        db.setPassword(url.password());
    }
    if (!db.open())
        die(db.lastError().text());
    return db;
}

// The tables of one size: CLIENTI with `rows` rows, each referring to a zone (text code) and a
// category (integer code) of 500,000 each.
void fill(QSqlDatabase &db, bool sqlite, qint64 rows)
{
    const auto series = [&](qint64 n, const QString &select) {
        return sqlite ? QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) %2 FROM n")
                            .arg(n).arg(select)
                      : QStringLiteral("%2 FROM generate_series(1, %1) AS n(i)").arg(n).arg(select);
    };
    // Zone codes Z0000001 to Z0500000 (no QString::arg over them: they hold a '%').
    const auto zone = [&](const QString &n) {
        return sqlite ? QStringLiteral("printf('Z%07d', ") + n + u')' : QStringLiteral("'Z' || lpad((") + n + QStringLiteral(")::text, 7, '0')");
    };
    run(db, QStringLiteral("CREATE TABLE ZONE (COD VARCHAR(8) PRIMARY KEY, NOME VARCHAR(40))"));
    run(db, QStringLiteral("CREATE TABLE CATEGORIE (COD INTEGER PRIMARY KEY, NOME VARCHAR(40))"));
    run(db, QStringLiteral("CREATE TABLE CLIENTI (CODICE INTEGER PRIMARY KEY, NOME VARCHAR(40), ZONA VARCHAR(8), CATEG INTEGER)"));
    run(db, QStringLiteral("INSERT INTO ZONE ") + series(kLookupRows, QStringLiteral("SELECT ") + zone(QStringLiteral("i")) + QStringLiteral(", 'Zona ' || i")));
    run(db, QStringLiteral("INSERT INTO CATEGORIE ") + series(kLookupRows, QStringLiteral("SELECT i, 'Categoria ' || i")));
    const QString lookups = QString::number(kLookupRows);
    run(db, QStringLiteral("INSERT INTO CLIENTI ")
                + series(rows, QStringLiteral("SELECT i, 'Cliente ' || i, ") + zone(QStringLiteral("1 + i % ") + lookups)
                                   + QStringLiteral(", 1 + (i * 7) % ") + lookups));
    if (!sqlite)
        run(db, QStringLiteral("ANALYZE"));
}

// The order with kOrderLines lines, each referring to a zone, made where it is missing (a cache made
// before it had none).
void orderLines(QSqlDatabase &db, bool sqlite)
{
    QSqlQuery q(db);
    if (q.exec(QStringLiteral("SELECT COUNT(*) FROM RIGHE")) && q.next() && q.value(0).toInt() == kOrderLines)
        return;
    q.finish();
    run(db, QStringLiteral("CREATE TABLE ORDINI (NUMERO INTEGER PRIMARY KEY, NOTE VARCHAR(40))"));
    run(db, QStringLiteral("CREATE TABLE RIGHE (NUMERO INTEGER NOT NULL REFERENCES ORDINI (NUMERO), RIGA INTEGER NOT NULL, "
                           "ZONA VARCHAR(8), QTA DOUBLE PRECISION, PRIMARY KEY (NUMERO, RIGA))"));
    run(db, QStringLiteral("INSERT INTO ORDINI VALUES (1, 'grande')"));
    run(db, sqlite ? QStringLiteral("INSERT INTO RIGHE WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE "
                                    "i < %1) SELECT 1, i, printf('Z%07d', 1 + i * 3), i % 50 FROM n").arg(kOrderLines)
                   : QStringLiteral("INSERT INTO RIGHE SELECT 1, i, 'Z' || lpad((1 + i * 3)::text, 7, '0'), i % 50 "
                                    "FROM generate_series(1, %1) AS n(i)").arg(kOrderLines));
    if (!sqlite)
        run(db, QStringLiteral("ANALYZE RIGHE"));
}

// Makes the data of one size once; returns the connection string the editor gets.
QString prepare(const QString &cache, const QString &backend, qint64 rows)
{
    QDir().mkpath(cache);
    QFile dsc(cache + QStringLiteral("/files.dsc"));
    if (!dsc.open(QIODevice::WriteOnly) || dsc.write(kDescriptor) < 0)
        die(QStringLiteral("cannot write ") + dsc.fileName());
    dsc.close();
    const QString name = QStringLiteral("bench_%1").arg(rows);
    if (backend == u"sqlite") {
        const QString file = QStringLiteral("%1/%2.db").arg(cache, name);
        if (!QFile::exists(file)) {
            const QString part = file + QStringLiteral(".part");
            QFile::remove(part);
            {
                QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("make"));
                db.setDatabaseName(part);
                if (!db.open())
                    die(db.lastError().text());
                run(db, QStringLiteral("PRAGMA journal_mode=WAL"));
                fill(db, true, rows);
                run(db, QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
                db.close();
            }
            QSqlDatabase::removeDatabase(QStringLiteral("make"));
            if (!QFile::rename(part, file))
                die(QStringLiteral("cannot rename ") + part);
        }
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("make"));
            db.setDatabaseName(file);
            if (!db.open())
                die(db.lastError().text());
            orderLines(db, true);
        }
        QSqlDatabase::removeDatabase(QStringLiteral("make"));
        return QStringLiteral("sqlite://") + file;
    }
    QString error;
    QUrl server(TestUtil::postgresUrl(&error));
    if (!error.isEmpty())
        die(error);
    bool exists = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("admin"));
        db.setHostName(server.host());
        db.setPort(server.port());
        db.setDatabaseName(QStringLiteral("postgres"));
        if (!db.open(server.userName(), server.password()))
            die(db.lastError().text());
        QSqlQuery q(db);
        q.exec(QStringLiteral("SELECT 1 FROM pg_database WHERE datname = '%1'").arg(name));
        exists = q.next();
        if (!exists)
            run(db, QStringLiteral("CREATE DATABASE %1").arg(name));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("admin"));
    server.setPath(u'/' + name);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("make"));
        db.setHostName(server.host());
        db.setPort(server.port());
        db.setDatabaseName(name);
        if (!db.open(server.userName(), server.password()))
            die(db.lastError().text());
        if (!exists)
            fill(db, false, rows);
        orderLines(db, false);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("make"));
    return server.toString();
}

// The time this thread has run on a processor, in ns: a stall that it ran only a part of waited
// for a processor (the machine busy) rather than for the window's work.
qint64 threadCpuNs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// The event loop's probe: the longest gap between two ticks of a 1 ms timer, and when the last
// gap over 2 ms ended (the loop was busy until then).
class Probe
{
public:
    Probe()
    {
        m_timer.setInterval(1);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            const qint64 gap = now - m_last;
            const qint64 cpu = threadCpuNs();
            if (gap > m_longest)
                m_longestRan = cpu - m_lastCpu;
            m_longest = std::max(m_longest, gap);
            m_longestAfter = std::max(m_longestAfter, gap);
            if (gap > 8'000'000 && qEnvironmentVariableIsSet("NORVIX_BENCH_DEBUG")) // to line up with traces
                std::fprintf(stderr, "gap %.1f ms ending at %lld, the window's thread ran %.1f ms of it\n", gap / 1e6,
                             QDateTime::currentMSecsSinceEpoch() % 100000, (cpu - m_lastCpu) / 1e6);
            m_lastCpu = cpu;
            if (gap > 2'000'000)
                m_busyUntil = now;
            m_last = now;
        });
        m_clock.start();
        m_timer.start();
    }

    // Runs `action`, then the loop until `settled` (the work the action started in the
    // background is in) and 100 ms have passed without a gap over 2 ms. Returns {longest stall,
    // time to idle} in ms.
    std::function<bool()> settled = [] { return true; };
    std::pair<double, double> measure(const std::function<void()> &action)
    {
        const qint64 start = restart();
        action(); // the probe ticks inside it too when it runs the event loop (a wait on a server)
        const qint64 returned = m_clock.nsecsElapsed();
        m_lastCall = (returned - start) / 1e6;
        m_longest = std::max(m_longest, returned - m_last);
        m_longestAfter = 0;
        if (returned - m_last > 2'000'000)
            m_busyUntil = returned;
        m_last = returned;
        while ((!settled() || m_clock.nsecsElapsed() - m_busyUntil < 100'000'000)
               && m_clock.nsecsElapsed() - start < 20'000'000'000)
            QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents); // the probe wakes it
        return {m_longest / 1e6, (m_busyUntil - start) / 1e6};
    }

    // The longest stall counts from now on; returns now.
    qint64 restart()
    {
        m_last = m_clock.nsecsElapsed();
        m_longest = 0;
        m_longestRan = 0;
        m_busyUntil = m_last;
        return m_last;
    }
    double longest() const { return m_longest / 1e6; } // ms, since restart()
    // ms of the longest stall since restart() that the window's thread ran (the rest it waited
    // for a processor)
    double longestRan() const { return m_longestRan / 1e6; }
    void pause() { m_timer.stop(); }  // its ticks cost processor time too
    void resume()
    {
        m_timer.start();
        restart();
    }
    double lastCall() const { return m_lastCall; } // ms the last action itself took
    double longestAfter() const { return m_longestAfter / 1e6; } // the longest stall once it returned

private:
    double m_lastCall = 0;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
    qint64 m_longestRan = 0;
    qint64 m_longestAfter = 0;
    qint64 m_busyUntil = 0;
    qint64 m_lastCpu = 0;
};

QComboBox *lookupOf(FrmEditTab &editor, const QString &name)
{
    auto *combo = editor.findChild<QComboBox *>(name);
    if (!combo || !combo->lineEdit())
        die(QStringLiteral("no lookup ") + name);
    return combo;
}

void print(const char *name, std::pair<double, double> m)
{
    std::printf("%s_stall %.2f\n%s_idle %.2f\n", name, m.first, name, m.second);
}

// The keystrokes typed into the lookups, in each case key by key ('\b' is Backspace), each key
// waiting for its matches; `before` is typed first, unmeasured. A lookup takes no more characters
// than its field's length (8 here).
struct KeyCase
{
    const char *combo;
    const char *key;   // of the figures
    const char *label; // of the table's row
    const char *before;
    const char *keys;
};
const KeyCase kKeyCases[] = {
    {"CmbBounded3", "first", "the first key typed, \"Z\" (opens the search's reader)", "", "Z"},
    {"CmbBounded3", "text_prefix", "text codes: a code's start, \"Z0049\"", "", "Z0049"},
    {"CmbBounded3", "text_words", "text codes: a description's start, \"zona 12\"", "", "zona 12"},
    {"CmbBounded3", "text_inside", "text codes: words inside a description, \"4999 zon\"", "", "4999 zon"},
    {"CmbBounded3", "text_nothing", "text codes: letters that match nothing, \"zzqx\"", "", "zzqx"},
    {"CmbBounded3", "text_back", "text codes: Backspace after \"zona 12\", to empty", "zona 12", "\b\b\b\b\b\b\b"},
    {"CmbBounded4", "int_prefix", "integer codes: a code's start, \"4999\"", "", "4999"},
    {"CmbBounded4", "int_words", "integer codes: description words, \"cat 4999\"", "", "cat 4999"},
    {"CmbBounded4", "int_inside", "integer codes: the same in another order, \"4999 cat\"", "", "4999 cat"},
    {"CmbBounded4", "int_nothing", "integer codes: letters that match nothing, \"zzqx\"", "", "zzqx"},
    {"CmbBounded4", "int_back", "integer codes: Backspace after \"cat 4999\", to empty", "cat 4999", "\b\b\b\b\b\b\b\b"},
};

// When a lookup's matches for the text typed are listed: its "SearchedFor" is set to that text.
class Arrival : public QObject
{
public:
    void expect(QComboBox *combo, const QString &text)
    {
        combo->installEventFilter(this); // once, however often asked
        combo->setProperty("SearchedFor", QVariant()); // the same text listed again is told too
        m_combo = combo;
        m_text = text;
        m_at = -1;
        m_clock.start();
    }
    bool arrived() const { return m_at >= 0; }
    double ms() const { return m_at / 1e6; }
    QString text() const { return m_text; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (m_at < 0 && watched == m_combo && event->type() == QEvent::DynamicPropertyChange
            && static_cast<QDynamicPropertyChangeEvent *>(event)->propertyName() == "SearchedFor"
            && m_combo->property("SearchedFor").toString() == m_text)
            m_at = m_clock.nsecsElapsed();
        return false;
    }

private:
    QComboBox *m_combo = nullptr;
    QString m_text;
    qint64 m_at = -1;
    QElapsedTimer m_clock;
};

// Types `keys` into `combo`; returns the worst key's {time to its matches, longest stall} in ms.
std::pair<double, double> typeKeys(Probe &probe, Arrival &arrival, QComboBox *combo, std::string_view keys)
{
    double worstDone = 0, worstStall = 0;
    QLineEdit *edit = combo->lineEdit();
    for (const char c : keys) {
        const QString text = edit->text();
        arrival.expect(combo, c == '\b' ? text.chopped(1) : text + QLatin1Char(c));
        const auto m = probe.measure([&] { c == '\b' ? QTest::keyClick(edit, Qt::Key_Backspace) : QTest::keyClick(edit, c); });
        if (!arrival.arrived())
            die(QStringLiteral("no matches listed for \"%1\" (the combo shows \"%2\", listed for \"%3\")")
                    .arg(arrival.text(), combo->currentText(), combo->property("SearchedFor").toString()));
        if (qEnvironmentVariableIsSet("NORVIX_BENCH_DEBUG"))
            std::fprintf(stderr, "\"%s\": %.1f ms, stall %.1f ms, %d items\n", qPrintable(edit->text()), arrival.ms(), m.first, combo->count());
        worstDone = std::max(worstDone, arrival.ms());
        worstStall = std::max(worstStall, m.first);
    }
    return {worstDone, worstStall};
}

void lookupKeys(FrmEditTab &editor, Probe &probe)
{
    Arrival arrival;
    const auto listSettled = probe.settled;
    probe.settled = [&] { return listSettled() && arrival.arrived(); };
    for (const KeyCase &c : kKeyCases) {
        QComboBox *combo = lookupOf(editor, QString::fromLatin1(c.combo));
        editor.CTRLSETFOCUS(combo);
        combo->lineEdit()->clear();
        typeKeys(probe, arrival, combo, c.before);
        const auto [done, stall] = typeKeys(probe, arrival, combo, c.keys);
        std::printf("%s_done %.2f\n%s_stall %.2f\n", c.key, done, c.key, stall);
    }
    probe.settled = listSettled;
}

// A search on a column without an index (a LIKE that walks the whole table): when its first page
// shows; then one that finds nothing, ended with Esc at once, and when the whole list is back.
void searches(FrmEditTab &editor, Probe &probe, RecordingMessageService &user)
{
    auto *list = editor.findChild<RecordListView *>(QStringLiteral("LstSelect"));
    QElapsedTimer clock;
    clock.start();
    qint64 firstPage = -1;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (firstPage < 0 && list->model() && list->recordModel()->isSearch() && list->model()->rowCount() > 0
            && !list->model()->index(0, 0).data().toString().isEmpty())
            firstPage = clock.nsecsElapsed();
    });
    poll.start(1);
    print("panel", probe.measure([&] { // Ctrl+F, then Esc
        QTest::keyClick(list, Qt::Key_F, Qt::ControlModifier);
        QTest::keyClick(editor.findChild<QWidget *>(QStringLiteral("Ricerca0")), Qt::Key_Escape);
    }));
    clock.restart();
    print("search", probe.measure([&] { editor.Search(1, {QStringLiteral("99")}); }));
    if (!list->recordModel()->isSearch())
        die(QStringLiteral("the search did not run: ") + user.messages().value(0).text);
    std::printf("search_first_page %.2f\n", firstPage / 1e6);
    auto *input = editor.findChild<QLineEdit *>(QStringLiteral("Ricerca0"));
    const int whole = list->count();
    print("search_cancel", probe.measure([&] {
        input->setText(QStringLiteral("nessuno così"));
        QTest::keyClick(input, Qt::Key_Return);
        QTest::keyClick(input, Qt::Key_Escape);
    }));
    if (list->recordModel()->isSearch() || list->count() < whole - 1)
        die(QStringLiteral("Esc did not bring the whole list back"));
}

// Scrolling, selecting, saving, deleting and searching in the open editor.
void actions(FrmEditTab &editor, Probe &probe, RecordingMessageService &user)
{
    auto *list = editor.findChild<RecordListView *>(QStringLiteral("LstSelect"));
    QScrollBar *bar = list->verticalScrollBar();
    // The lines on screen are empty until their page is read: how long until the first shows.
    const auto scroll = [&](const char *name, int value) {
        QElapsedTimer shown;
        shown.start();
        qint64 filled = -1;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (filled < 0 && !list->indexAt(QPoint(5, 5)).data().toString().isEmpty())
                filled = shown.nsecsElapsed();
        });
        poll.start(1);
        print(name, probe.measure([&] { bar->setValue(value); }));
        if (filled < 0 && !list->indexAt(QPoint(5, 5)).data().toString().isEmpty())
            filled = shown.nsecsElapsed();
        std::printf("%s_lines %.2f\n", name, filled / 1e6);
    };
    scroll("scroll_middle", bar->maximum() / 2);
    print("select", probe.measure([&] {
        const QModelIndex at = list->indexAt(QPoint(5, list->viewport()->height() / 2));
        list->setCurrentIndex(at.isValid() ? at : list->model()->index(list->model()->rowCount() / 2, 0));
    }));
    auto *name = editor.findChild<QLineEdit *>(QStringLiteral("TxtText2"));
    print("save", probe.measure([&] {
        name->setText(name->text() + QStringLiteral(" *"));
        editor.SETMODIFICATO();
        editor.CmdButton_Click(1);
    }));
    user.clear();
    user.script({MsgAnswer::Ok}); // "Sicuro di voler eliminare il record ?"
    print("delete", probe.measure([&] { editor.CmdButton_Click(3); }));
    if (user.messages().size() != 1 || !user.messages().first().text.contains(u"eliminare"))
        die(QStringLiteral("the delete was not asked for, or said more"));
    scroll("scroll_end", bar->maximum());
    searches(editor, probe, user);
}

// The order with kOrderLines lines: its page shown, its lines scrolled to the end, then 100 of them
// changed (through the grid's model, as typing sets them) and saved.
void orderActions(const QString &connection, const QString &folder, Probe &probe)
{
    FrmEditTab editor;
    editor.START(connection, folder, QString(), QStringLiteral("ORDINI"), QString(), QString(), false);
    editor.show();
    auto *tabs = editor.findChild<QTabBar *>(QStringLiteral("TabPage"));
    auto *grid = editor.findChild<QTableView *>(QStringLiteral("GrdDettaglio1"));
    if (!editor.CanShow() || !tabs || !grid)
        die(QStringLiteral("the order's editor did not open"));
    // The first page of lines read, and what the editor before this one left to do (its readers
    // closing) done, so that neither is counted below.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 500)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    print("lines_page", probe.measure([&] { tabs->setCurrentIndex(tabs->count() - 1); }));
    print("lines_end", probe.measure([&] { grid->scrollToBottom(); }));
    QAbstractItemModel *model = grid->model();
    const int stamp = int(QDateTime::currentSecsSinceEpoch() % 1000);
    for (int row = 0; row < 100; ++row)
        model->setData(model->index(row, model->columnCount() - 1), QString::number(stamp + row), Qt::EditRole);
    print("lines_save", probe.measure([&] { editor.CmdButton_Click(1); }));
    if (editor.Modified())
        die(QStringLiteral("the order's lines were not saved"));
    editor.close();
}

// The processor time of the whole process (every thread), in ns.
qint64 processCpuNs()
{
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    const auto ns = [](const timeval &t) { return qint64(t.tv_sec) * 1'000'000'000 + qint64(t.tv_usec) * 1000; };
    return ns(use.ru_utime) + ns(use.ru_stime);
}

// Live updates: changes that a connection of the benchmark's own commits while the editor is open.
// The row with key kGapKey is taken out before the editor opens, so that the insert has a key
// among the lines shown; the insert puts it back, and the descriptions changed are put back after.
constexpr qint64 kGapKey = 5;
constexpr qint64 kGiveUpNs = 10'000'000'000;   // a change not shown by then is "not shown"
constexpr qint64 kAfterShownNs = 1'000'000'000; // stalls are watched for this long after it shows
constexpr int kPollMs = 5;

enum class Target { OpenRow, LowerRow, NewRow };
struct LiveChange
{
    const char *key;   // of the figures
    const char *label; // of the table's row
    Target target;
};
const LiveChange kLiveChanges[] = {
    {"live_open", "the open row's description changed", Target::OpenRow},
    {"live_lower", "a row further down the list changed", Target::LowerRow},
    {"live_insert", "a row inserted among the lines shown", Target::NewRow},
};

// Runs `sql` with `values` in a transaction of its own, with the notice that the editor's own
// writes send on PostgreSQL.
void commitChange(QSqlDatabase &db, const QString &sql, const QVariantList &values)
{
    if (!db.transaction())
        die(db.lastError().text());
    QSqlQuery q(db);
    q.prepare(sql);
    for (const QVariant &v : values)
        q.addBindValue(v);
    if (!q.exec())
        die(sql + QStringLiteral(": ") + q.lastError().text());
    if (db.driverName() == u"QPSQL")
        run(db, QStringLiteral(R"(SELECT pg_notify('norvix', '{"table":"CLIENTI"}'))"));
    if (!db.commit())
        die(db.lastError().text());
}

// Whether a line of the list on screen shows `text`, as painted.
bool listShows(const RecordListView *list, const QString &text)
{
    const int height = list->viewport()->height();
    for (QModelIndex at = list->indexAt(QPoint(5, 1)); at.isValid() && list->visualRect(at).top() < height;
         at = at.siblingAtRow(at.row() + 1))
        if (at.data().toString().contains(text))
            return true;
    return false;
}

// The list and the open row shown anew, as the editor itself would: NORVIX_BENCH_DEBUG=refresh
// does it after each change, to check that the polling sees a change that shows.
void refreshByHand(RecordListView *list)
{
    const int row = list->currentRow();
    list->recordModel()->refreshAround(row, list->keyAt(row));
    list->setCurrentRow(row + 1);
    list->setCurrentRow(row);
}

// With the editor open on its first row: the processor time of the process over 10 s of nothing
// changing; then each of kLiveChanges committed on `db`: the time from its commit to the change
// shown (never, "inf", when it has not shown within 10 s) and the longest stall from the commit
// until a second after it showed (or until given up).
void liveUpdates(FrmEditTab &editor, Probe &probe, QSqlDatabase &db)
{
    RecordListView *list = editor.LstSelect();
    auto *name = editor.findChild<QLineEdit *>(QStringLiteral("TxtText2"));
    if (!name || list->currentRow() != 0)
        die(QStringLiteral("the editor does not show its first row"));
    probe.measure([] {}); // the list counted and its pages read
    probe.pause();
    QElapsedTimer wall;
    wall.start();
    const qint64 cpu = processCpuNs();
    QEventLoop idle;
    QTimer::singleShot(10000, &idle, &QEventLoop::quit);
    idle.exec();
    std::printf("live_idle_cpu %.3f\n", 100.0 * double(processCpuNs() - cpu) / double(wall.nsecsElapsed()));
    probe.resume();

    const QModelIndex lowest = list->indexAt(QPoint(5, list->viewport()->height() - 1)); // maybe cut by the edge
    const int lower = lowest.isValid() ? list->windowStart() + lowest.row() - 1 : list->count() - 1;
    const QString stamp = QString::number(QDateTime::currentMSecsSinceEpoch() % 1000000);
    const bool byHand = qgetenv("NORVIX_BENCH_DEBUG") == "refresh";
    QList<qint64> changed;
    for (const LiveChange &change : kLiveChanges) {
        const qint64 key = change.target == Target::NewRow ? kGapKey : list->keyAt(change.target == Target::OpenRow ? 0 : lower).value(0).toLongLong();
        const QString text = QStringLiteral("Vivo %1 %2").arg(key).arg(stamp);
        if (change.target == Target::NewRow)
            commitChange(db, QStringLiteral("INSERT INTO CLIENTI (CODICE, NOME, ZONA, CATEG) VALUES (?, ?, ?, ?)"),
                         {key, text, QStringLiteral("Z%1").arg(1 + key % kLookupRows, 7, 10, QLatin1Char('0')), 1 + key * 7 % kLookupRows});
        else
            commitChange(db, QStringLiteral("UPDATE CLIENTI SET NOME = ? WHERE CODICE = ?"), {text, key});
        QElapsedTimer since;
        since.start();
        probe.restart();
        changed << key;
        qint64 shownAt = -1;
        QTimer poll;
        poll.setTimerType(Qt::PreciseTimer);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (shownAt < 0 && listShows(list, text) && (change.target != Target::OpenRow || name->text() == text))
                shownAt = since.nsecsElapsed();
        });
        poll.start(kPollMs);
        if (byHand)
            refreshByHand(list);
        while (shownAt < 0 ? since.nsecsElapsed() < kGiveUpNs : since.nsecsElapsed() - shownAt < kAfterShownNs)
            QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents); // the timers wake it
        if (qEnvironmentVariableIsSet("NORVIX_BENCH_DEBUG"))
            std::fprintf(stderr, "%s (key %lld): shown after %.1f ms, stall %.1f ms\n", change.key, key, shownAt / 1e6, probe.longest());
        std::printf("%s_shown %s\n%s_stall %.2f\n%s_ran %.2f\n", change.key,
                    shownAt < 0 ? "inf" : qPrintable(QString::number(shownAt / 1e6, 'f', 2)), change.key, probe.longest(),
                    change.key, probe.longestRan());
    }
    for (const qint64 key : std::as_const(changed)) // the data as it was made
        commitChange(db, QStringLiteral("UPDATE CLIENTI SET NOME = ? WHERE CODICE = ?"), {QStringLiteral("Cliente %1").arg(key), key});
}

// One run of one size, of `part`: "" the editor's actions, "lookups" the lookup keystrokes,
// "live" the live updates; prints "name value" lines that the parent reads.
int child(const QString &connection, const QString &folder, const QString &part)
{
    const bool lookups = part == u"lookups", live = part == u"live";
    QSqlDatabase plain; // the benchmark's own connection, for the live updates
    if (live) {
        plain = plainConnection(connection);
        run(plain, QStringLiteral("DELETE FROM CLIENTI WHERE CODICE = %1").arg(kGapKey));
    }
    auto user = std::make_shared<RecordingMessageService>(); // answers No and Cancel unless told otherwise
    setMessageService(user);
    setScreenService(std::make_shared<FixedScreenService>());
    SharedSettings::process().closeOnConfirm = false; // the editor stays open after a save
    Probe probe;
    const long before = rssKb();
    FrmEditTab editor;
    // Each action's time to idle takes in the count of the list it set off, and the pages its
    // paints asked for.
    probe.settled = [&editor] {
        const auto *list = editor.findChild<RecordListView *>(QStringLiteral("LstSelect"));
        return !list || !list->recordModel() || (list->recordModel()->isCounted() && !list->recordModel()->isReading());
    };
    print("open", probe.measure([&] {
        editor.START(connection, folder, QString(), QStringLiteral("CLIENTI"), QString(), QString(), false);
        editor.show();
    }));
    if (!editor.CanShow())
        die(QStringLiteral("the editor did not open"));
    std::printf("first_row %.2f\n", probe.lastCall()); // START and show: the first page is read, the window up
    std::printf("open_after_stall %.2f\n", probe.longestAfter());
    if (live) {
        liveUpdates(editor, probe, plain);
        return 0;
    }
    if (lookups) {
        lookupKeys(editor, probe);
        if (editor.Modified())
            editor.CmdButton_Click(2); // the texts typed are dropped
    } else {
        actions(editor, probe, *user);
    }
    std::printf("memory %.1f\n", (rssKb() - before) / 1024.0);
    editor.close();
    if (!lookups)
        orderActions(connection, folder, probe);
    return 0;
}

// The description search index of both lookups made afresh (`create`, printing the time each
// took), or dropped, on a writing connection.
int searchIndex(const QString &connection, bool create)
{
    setMessageService(std::make_shared<RecordingMessageService>());
    try {
        const auto db = Connection::open(connection);
        for (const QString &table : {QStringLiteral("ZONE"), QStringLiteral("CATEGORIE")}) {
            LookupQuery query{db, tableInfo(*db, table), {}, {QStringLiteral("NOME")}, std::nullopt};
            query.index = query.table->firstIndex;
            if (const LookupIndex index = lookupIndex(*db, query); index.present) {
                QStringList drops;
                if (db->dialect() != SqlDialect::Sqlite) {
                    drops << QStringLiteral("DROP INDEX IF EXISTS ") + quoteIdentifier(index.name);
                } else {
                    for (const char *suffix : {"_ti", "_tu", "_td"})
                        drops << QStringLiteral("DROP TRIGGER IF EXISTS ") + quoteIdentifier(index.name + QLatin1String(suffix));
                    for (const char *suffix : {"_fts", ""})
                        drops << QStringLiteral("DROP TABLE IF EXISTS ") + quoteIdentifier(index.name + QLatin1String(suffix));
                }
                db->call([&] {
                    QSqlQuery q(db->database());
                    for (const QString &drop : std::as_const(drops))
                        if (!q.exec(drop))
                            die(drop + QStringLiteral(": ") + q.lastError().text());
                });
                db->forgetTables();
            }
            if (!create)
                continue;
            query.table = tableInfo(*db, table);
            const LookupIndex index = lookupIndex(*db, query);
            if (!index.possible)
                die(QStringLiteral("no search index on this database: ") + index.missing);
            QElapsedTimer clock;
            clock.start();
            createLookupIndex(*db, index);
            std::printf("index_%s %.2f\n", qPrintable(table), clock.nsecsElapsed() / 1e6);
            if (qEnvironmentVariableIsSet("NORVIX_BENCH_ANALYZE"))
                db->call([&] {
                    QSqlDatabase d = db->database();
                    run(d, QStringLiteral("ANALYZE ") + quoteIdentifier(query.table->name));
                });
        }
    } catch (const Error &e) {
        die(QString::fromUtf8(e.what()));
    }
    std::printf("index_done 1\n");
    return 0;
}

// Raw figures beside the editor's: one UPDATE+COMMIT and one COUNT(*), in ms.
void raw(const QString &connection)
{
    QSqlDatabase db = plainConnection(connection);
    QSqlQuery q(db);
    QElapsedTimer t;
    t.start();
    db.transaction();
    q.exec(QStringLiteral("UPDATE CLIENTI SET NOME = NOME WHERE CODICE = 2"));
    db.commit();
    std::printf("raw_commit %.2f\n", t.nsecsElapsed() / 1e6);
    t.restart();
    q.exec(QStringLiteral("SELECT COUNT(*) FROM CLIENTI"));
    q.next();
    std::printf("raw_count %.2f\n", t.nsecsElapsed() / 1e6);
}

QMap<QString, double> once(const QString &self, const QStringList &arguments)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(self, arguments);
    p.waitForFinished(-1);
    QMap<QString, double> figures;
    for (const QByteArray &line : p.readAllStandardOutput().split('\n'))
        if (const auto parts = line.split(' '); parts.size() == 2)
            figures.insert(QString::fromLatin1(parts[0]), parts[1].toDouble());
    if (p.exitCode() != 0 || figures.isEmpty())
        die(QStringLiteral("a run of %1 failed").arg(arguments.join(u' ')));
    return figures;
}

// The medians of three runs, each of the child processes of `each` one after the other.
QMap<QString, double> medians(const QString &what, const QList<QStringList> &each)
{
    QList<QMap<QString, double>> runs;
    for (int r = 0; r < 3; ++r) {
        std::fprintf(stderr, "%s: run %d\n", qPrintable(what), r + 1);
        QMap<QString, double> figures;
        for (const QStringList &arguments : each)
            figures.insert(once(QCoreApplication::applicationFilePath(), arguments));
        runs << figures;
    }
    QMap<QString, double> median;
    for (const QString &k : runs.first().keys()) {
        QList<double> v{runs[0].value(k), runs[1].value(k), runs[2].value(k)};
        std::sort(v.begin(), v.end());
        median.insert(k, v[1]);
    }
    return median;
}

// The figures of one size: the editor's actions, the lookup keystrokes without the search index
// and with it, the time the index took to make, and the live updates.
struct Column
{
    QString name;
    QMap<QString, double> editor, without, with, made, live;
};

// The parts of a run: all of them unless options name some.
struct Parts
{
    bool editor = true, lookups = true, live = true;
};

Column measure(const QString &cache, const QString &size, Parts parts)
{
    const QString backend = size.section(u':', 0, 0) == u"pg" ? QStringLiteral("pg") : QStringLiteral("sqlite");
    const qint64 rows = size.section(u':', 1).toLongLong();
    if (rows <= 0)
        die(QStringLiteral("a size is sqlite:ROWS or pg:ROWS, not ") + size);
    std::fprintf(stderr, "%s: preparing\n", qPrintable(size));
    const QString connection = prepare(cache, backend, rows);
    const QString self = QCoreApplication::applicationFilePath();
    Column column{(backend == u"pg" ? QStringLiteral("PG ") : QStringLiteral("SQLite ")) + QString::number(rows), {}, {}, {}, {}, {}};
    once(self, {QStringLiteral("--index"), QStringLiteral("drop"), connection}); // left by a run cut short
    if (parts.editor)
        column.editor = medians(size, {{QStringLiteral("--child"), connection, cache}, {QStringLiteral("--raw"), connection}});
    if (parts.lookups) {
        const QStringList lookups{QStringLiteral("--child"), connection, cache, QStringLiteral("lookups")};
        column.without = medians(size + QStringLiteral(" lookups without the search index"), {lookups});
        std::fprintf(stderr, "%s: making the search index\n", qPrintable(size));
        column.made = once(self, {QStringLiteral("--index"), QStringLiteral("create"), connection});
        column.with = medians(size + QStringLiteral(" lookups with the search index"), {lookups});
        once(self, {QStringLiteral("--index"), QStringLiteral("drop"), connection}); // the cache as it was made
    }
    if (parts.live)
        column.live = medians(size + QStringLiteral(" live updates"), {{QStringLiteral("--child"), connection, cache, QStringLiteral("live")}});
    return column;
}

// A table's first two lines: the title cell, then a cell for each heading.
void printHeader(const char *title, const QStringList &headings)
{
    std::printf("\n| %s |", title);
    for (const QString &h : headings)
        std::printf(" %s |", qPrintable(h));
    std::printf("\n|---|");
    for (qsizetype i = 0; i < headings.size(); ++i)
        std::printf("---|");
    std::printf("\n");
}

void printEditorTable(const QList<Column> &columns)
{
    QStringList headings;
    for (const auto &c : columns)
        headings << c.name;
    printHeader("medians of 3 (ms; memory MB)", headings);
    const auto row = [&](const char *label, const QString &stall, const QString &idle) {
        std::printf("| %s |", label);
        for (const auto &c : columns)
            idle.isEmpty() ? std::printf(" %.1f |", c.editor.value(stall))
                           : std::printf(" %.1f / %.1f |", c.editor.value(idle), c.editor.value(stall));
        std::printf("\n");
    };
    row("open: first row shown (START and show)", "first_row", QString());
    row("open: to idle / longest stall after the call", "open_after_stall", "open_idle");
    row("scroll bar to 50%: to idle / stall", "scroll_middle_stall", "scroll_middle_idle");
    row("scroll bar to the end: to idle / stall", "scroll_end_stall", "scroll_end_idle");
    row("scroll bar to 50%: the lines shown", "scroll_middle_lines", QString());
    row("scroll bar to the end: the lines shown", "scroll_end_lines", QString());
    row("select a line: to idle / stall", "select_stall", "select_idle");
    row("save: to idle / stall", "save_stall", "save_idle");
    row("delete: to idle / stall", "delete_stall", "delete_idle");
    row("search panel shown and hidden: to idle / stall", "panel_stall", "panel_idle");
    row("search without an index: to idle / stall", "search_stall", "search_idle");
    row("search without an index: first page shown", "search_first_page", QString());
    row("search that finds nothing, Esc at once: to idle / stall", "search_cancel_stall", "search_cancel_idle");
    row("an order of 100,000 lines, their page shown: to idle / stall", "lines_page_stall", "lines_page_idle");
    row("its lines scrolled to the end: to idle / stall", "lines_end_stall", "lines_end_idle");
    row("100 changed lines saved: to idle / stall", "lines_save_stall", "lines_save_idle");
    row("memory taken (MB)", "memory", QString());
    row("raw UPDATE+COMMIT", "raw_commit", QString());
    row("raw COUNT(*)", "raw_count", QString());
}

void printLookupTable(const QList<Column> &columns)
{
    QStringList headings;
    for (const auto &c : columns)
        headings << c.name + QStringLiteral(", no search index") << QStringLiteral("with it");
    printHeader("lookup keystrokes, worst key, medians of 3 (ms: matches listed / longest stall)", headings);
    for (const KeyCase &k : kKeyCases) {
        const QString done = QLatin1String(k.key) + QStringLiteral("_done"), stall = QLatin1String(k.key) + QStringLiteral("_stall");
        std::printf("| %s |", k.label);
        for (const auto &c : columns)
            for (const auto *figures : {&c.without, &c.with})
                std::printf(" %.1f / %.1f |", figures->value(done), figures->value(stall));
        std::printf("\n");
    }
    std::printf("| search index made (ZONE + CATEGORIE, 500,000 rows each) |");
    for (const auto &c : columns)
        std::printf(" | %.0f + %.0f |", c.made.value(QStringLiteral("index_ZONE")), c.made.value(QStringLiteral("index_CATEGORIE")));
    std::printf("\n");
}

void printLiveTable(const QList<Column> &columns)
{
    QStringList headings;
    for (const auto &c : columns)
        headings << c.name;
    printHeader("live updates, medians of 3 (ms: shown after the commit / longest stall until 1 s after (the part the "
                "window's thread ran))",
                headings);
    std::printf("| idle: processor time over 10 s, %% of one core |");
    for (const auto &c : columns)
        std::printf(" %.2f |", c.live.value(QStringLiteral("live_idle_cpu")));
    std::printf("\n");
    for (const LiveChange &change : kLiveChanges) {
        const auto figure = [&](const Column &c, const char *what) { return c.live.value(QLatin1String(change.key) + QLatin1String(what)); };
        std::printf("| %s |", change.label);
        for (const auto &c : columns) {
            const double at = figure(c, "_shown");
            qIsInf(at) ? std::printf(" not shown") : std::printf(" %.1f", at);
            std::printf(" / %.1f (%.1f) |", figure(c, "_stall"), figure(c, "_ran"));
        }
        std::printf("\n");
    }
}

} // namespace

int main(int argc, char *argv[])
{
    if ((argc == 4 || argc == 5) && qstrcmp(argv[1], "--child") == 0) {
        QApplication app(argc, argv);
        return child(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), argc == 5 ? QString::fromLocal8Bit(argv[4]) : QString());
    }
    if (argc == 4 && qstrcmp(argv[1], "--index") == 0) {
        QApplication app(argc, argv); // a wait on a server may show its window
        return searchIndex(QString::fromLocal8Bit(argv[3]), qstrcmp(argv[2], "create") == 0);
    }
    if (argc == 3 && qstrcmp(argv[1], "--raw") == 0) {
        QCoreApplication app(argc, argv);
        raw(QString::fromLocal8Bit(argv[2]));
        return 0;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QString cache = QStringLiteral("bench-cache");
    std::optional<Parts> only; // the parts that options name
    while (!args.isEmpty() && args.first().startsWith(u"--")) {
        if (args.first() == u"--lookups" || args.first() == u"--live") {
            only = only.value_or(Parts{false, false, false});
            (args.first() == u"--live" ? only->live : only->lookups) = true;
            args.removeFirst();
        } else if (args.first() == u"--cache" && args.size() >= 2) {
            cache = args.at(1);
            args = args.mid(2);
        } else {
            die(QStringLiteral("unknown option ") + args.first());
        }
    }
    const Parts parts = only.value_or(Parts{});
    if (args.isEmpty() && parts.live && !parts.editor && !parts.lookups)
        args = QStringList{"sqlite:100", "sqlite:10000000", "pg:100", "pg:1000000"};
    else if (args.isEmpty())
        args = QStringList{"sqlite:100", "sqlite:1000000", "sqlite:10000000", "pg:100", "pg:1000000"};
    cache = QDir(cache).absolutePath();

    QList<Column> columns;
    for (const QString &size : std::as_const(args))
        columns << measure(cache, size, parts);
    if (parts.editor)
        printEditorTable(columns);
    if (parts.lookups)
        printLookupTable(columns);
    if (parts.live)
        printLiveTable(columns);
    std::printf("\nbudgets: no stall over 16 ms; a keystroke's matches listed within 16 ms with the search index; a save "
                "within the raw commit + 8 ms; an open editor idle under 1%% of one core\n");
    return 0;
}
