// The editor on a small and on a large table: time from START to the first row shown, to select a
// line in the middle of the list, to save a change and to delete a row, the memory the editor
// takes, and a save with history against one without. Each table size runs in a child process of
// its own, so that memory figures do not mix.
//
//   bench_editor [SMALL_ROWS LARGE_ROWS]      (default 100 and 1000000)

#include "editor/frmedittab.h"
#include "editor/recordlistview.h"
#include "platform/recordset.h"
#include "platform/messages.h"
#include "platform/window.h"
#include "memory.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QTabBar>
#include <QTableView>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <cstdio>
#include <ctime>

using namespace Norvix;
using Bench::rssKb;
using Bench::peakKb;

namespace {

// The descriptor of CLIENTI in `folder`, with STORIA,1 when `history`.
void writeDescriptor(const QString &folder, bool history)
{
    QFile dsc(folder + QStringLiteral("/files.dsc"));
    dsc.open(QIODevice::WriteOnly);
    dsc.write("RECORD,CLIENTI,Clienti,1,Generale\n"
              "CAMPO,CODICE,Codice,LONG,8,,1,,X\n"
              "CAMPO,NOME,Ragione sociale,TEXT,40,,A\n"
              "CAMPO,CITTA,Citta,TEXT,30\n"
              "CAMPO,FIDO,Fido,CURRENCY,12,,,,,,,,,\"0.00\"\n"
              "INDICE,PrimaryKey,+CODICE,-1,-1\n");
    if (history)
        dsc.write("STORIA,1\n");
}

void makeTable(const QString &folder, qint64 rows)
{
    writeDescriptor(folder, false);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("make"));
        db.setDatabaseName(folder + QStringLiteral("/bench.db"));
        db.open();
        QSqlQuery q(db);
        q.exec(QStringLiteral("CREATE TABLE CLIENTI (CODICE INTEGER PRIMARY KEY, NOME VARCHAR(40), CITTA VARCHAR(30), FIDO NUMERIC(14,4))"));
        db.transaction();
        q.prepare(QStringLiteral("INSERT INTO CLIENTI VALUES (?, ?, ?, ?)"));
        for (qint64 i = 1; i <= rows; ++i) {
            q.bindValue(0, i);
            q.bindValue(1, QStringLiteral("Cliente numero %1").arg(i));
            q.bindValue(2, QStringLiteral("Citta %1").arg(i % 1000));
            q.bindValue(3, double(i % 10000) / 4);
            q.exec();
        }
        db.commit();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("make"));
}

// A folder's descriptors and its database bench.db, made by `statements`.
void makeFolder(const QTemporaryDir &dir, const char *descriptors, const QStringList &statements)
{
    QFile dsc(dir.filePath(QStringLiteral("files.dsc")));
    dsc.open(QIODevice::WriteOnly);
    dsc.write(descriptors);
    dsc.close();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("make"));
        db.setDatabaseName(dir.filePath(QStringLiteral("bench.db")));
        db.open();
        QSqlQuery q(db);
        for (const QString &statement : statements)
            q.exec(statement);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("make"));
}

// Runs the event loop for `ms`: lets the list count its rows, the readers close and the paints
// end.
void settle(int ms)
{
    QElapsedTimer wait;
    wait.start();
    while (wait.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
}

// Start-up of an editor whose lookup field refers to a table of `rows` rows.
int lookupChild(int argc, char *argv[], qint64 rows)
{
    QApplication app(argc, argv);
    setMessageService(std::make_shared<RecordingMessageService>());
    QTemporaryDir dir;
    makeFolder(dir,
               "RECORD,RIGHE,Righe,1\nCAMPO,ID,Id,LONG,8,,,,X\nCAMPO,ART,Articolo,TEXT,8,,,,,,ARTICOLI,NOME,CMBBOUNDED\n"
               "INDICE,PK,+ID,-1,-1\n",
               {QStringLiteral("CREATE TABLE ARTICOLI (COD VARCHAR(8) PRIMARY KEY, NOME VARCHAR(40))"),
                QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                               "INSERT INTO ARTICOLI SELECT printf('%08d', i), 'Articolo ' || i FROM n").arg(rows),
                QStringLiteral("CREATE TABLE RIGHE (ID INTEGER PRIMARY KEY, ART VARCHAR(8))"),
                QStringLiteral("INSERT INTO RIGHE VALUES (1, '00000007')")});
    QElapsedTimer t;
    t.start();
    FrmEditTab editor;
    editor.START(QString(), dir.path(), QStringLiteral("bench.db"), QStringLiteral("RIGHE"), QString(), QString(), false);
    editor.show();
    QApplication::processEvents();
    std::printf("lookup %.3f\n", t.nsecsElapsed() / 1e6);
    editor.close();
    return 0;
}

// An order with `rows` lines: opening it on the page of its lines, scrolling them to the end, and
// saving 100 changed lines.
int linesChild(int argc, char *argv[], qint64 rows)
{
    QApplication app(argc, argv);
    setMessageService(std::make_shared<RecordingMessageService>());
    QTemporaryDir dir;
    makeFolder(dir,
               "RECORD,ORDINI,Ordini,1,Testata,Righe\nCAMPO,NUMERO,Numero,LONG,8,,,,X,,,,,,1\n"
               "CAMPO,NOTE,Note,TEXT,40,,,,,,,,,,1\nDETTAGLIO,1,RIGHE,Righe dell'ordine,2,NUMERO,NUMERO\n"
               "INDICE,PK,+NUMERO,-1,-1\nRECORD,RIGHE,Righe,1\nCAMPO,NUMERO,Numero,LONG,8\nCAMPO,RIGA,Riga,LONG,8\n"
               "CAMPO,ART,Articolo,TEXT,8\nCAMPO,QTA,Quantità,DOUBLE,12,,,,,,,,,\"0.###\"\nINDICE,PK,+NUMERO;+RIGA,-1,-1\n",
               {QStringLiteral("CREATE TABLE ORDINI (NUMERO INTEGER PRIMARY KEY, NOTE VARCHAR(40))"),
                QStringLiteral("INSERT INTO ORDINI VALUES (1, 'grande')"),
                QStringLiteral("CREATE TABLE RIGHE (NUMERO INTEGER NOT NULL REFERENCES ORDINI (NUMERO), RIGA INTEGER NOT NULL, "
                               "ART VARCHAR(8), QTA DOUBLE PRECISION, PRIMARY KEY (NUMERO, RIGA))"),
                QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                               "INSERT INTO RIGHE SELECT 1, i, printf('A%05d', i % 1000), i % 50 FROM n").arg(rows)});
    QElapsedTimer t;
    t.start();
    FrmEditTab editor;
    editor.START(QString(), dir.path(), QStringLiteral("bench.db"), QStringLiteral("ORDINI"), QString(), QString(), false);
    editor.show();
    auto *tabs = editor.findChild<QTabBar *>(QStringLiteral("TabPage"));
    tabs->setCurrentIndex(tabs->count() - 1);
    auto *grid = editor.findChild<QTableView *>(QStringLiteral("GrdDettaglio1"));
    QApplication::processEvents();
    const double openMs = t.nsecsElapsed() / 1e6;
    settle(300);
    t.restart();
    grid->scrollToBottom();
    QApplication::processEvents();
    const double endMs = t.nsecsElapsed() / 1e6;
    settle(300);
    // 100 lines changed, as typing into their quantity cells sets them, then Conferma.
    auto *model = grid->model();
    const int column = model->columnCount() - 1;
    for (int row = 0; row < 100; ++row)
        model->setData(model->index(row, column), QString::number(row + 1000), Qt::EditRole);
    t.restart();
    editor.CmdButton_Click(1);
    QApplication::processEvents();
    const double saveMs = t.nsecsElapsed() / 1e6;
    editor.close();
    qint64 written = 0; // the lines the save changed, counted on a connection of its own
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("count"));
        db.setDatabaseName(dir.filePath(QStringLiteral("bench.db")));
        db.open();
        QSqlQuery q(QStringLiteral("SELECT COUNT(*) FROM RIGHE WHERE QTA >= 1000"), db);
        written = q.next() ? q.value(0).toLongLong() : -1;
    }
    QSqlDatabase::removeDatabase(QStringLiteral("count"));
    std::printf("linesopen %.3f\nlinesend %.3f\nlinessave %.3f\nlineswritten %lld\n", openMs, endMs, saveMs, written);
    return 0;
}

// The processor time this process has used, in ms: all its threads, the other processes' load
// left out.
double cpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

struct SaveTime
{
    double ms = 0;  // until the window is idle again
    double cpu = 0; // the processor time it took
};

// A change of the name shown in `editor` saved, as typing and Conferma do.
SaveTime timedSave(FrmEditTab &editor, int round)
{
    auto *name = editor.findChild<QLineEdit *>(QStringLiteral("TxtText2"));
    QElapsedTimer t;
    t.start();
    const double cpu = cpuMs();
    name->setText(QStringLiteral("Cliente salvato %1").arg(round));
    editor.SETMODIFICATO();
    editor.CmdButton_Click(1);
    QApplication::processEvents();
    return {t.nsecsElapsed() / 1e6, cpuMs() - cpu};
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.value(values.size() / 2);
}

// Saves with history against saves without, on the same table: `plain` is an editor without
// history, and a second editor on the same database reads the descriptor with STORIA,1. Their
// saves alternate, so that the machine's load falls on both alike. Prints the medians of the
// time to idle and of the processor time, and the first save with history, which makes the
// history table.
void historyCost(FrmEditTab &plain, const QTemporaryDir &dir)
{
    const QString dscFolder = dir.filePath(QStringLiteral("storia"));
    QDir().mkpath(dscFolder);
    writeDescriptor(dscFolder, true);
    FrmEditTab history;
    history.START(QString(), dir.path(), QStringLiteral("bench.db"), QStringLiteral("CLIENTI"), dscFolder + u'/', QString(),
                  false);
    history.show();
    settle(300);
    const double first = timedSave(history, 0).ms;
    settle(50);
    QList<double> without, with, cpuWithout, cpuWith;
    for (int round = 1; round <= 31; ++round) {
        const SaveTime a = timedSave(plain, round);
        settle(50);
        const SaveTime b = timedSave(history, round);
        settle(50);
        without << a.ms;
        cpuWithout << a.cpu;
        with << b.ms;
        cpuWith << b.cpu;
    }
    std::printf("saveplain %.3f\nsavehistory %.3f\nsavehistoryfirst %.3f\ncpuplain %.3f\ncpuhistory %.3f\n",
                median(without), median(with), first, median(cpuWithout), median(cpuWith));
    history.close();
}

// Runs one size; prints "name value" lines that the parent reads.
int child(int argc, char *argv[], qint64 rows)
{
    QApplication app(argc, argv);
    const auto messages = std::make_shared<RecordingMessageService>();
    setMessageService(messages);
    QTemporaryDir dir;
    makeTable(dir.path(), rows);
    const long before = rssKb();

    QElapsedTimer t;
    t.start();
    FrmEditTab editor;
    editor.START(QString(), dir.path(), QStringLiteral("bench.db"), QStringLiteral("CLIENTI"), QString(), QString(), false);
    editor.show();
    QApplication::processEvents();
    const double startMs = t.nsecsElapsed() / 1e6;
    const long startKb = rssKb() - before;
    // The list counts its rows in the background once the first lines are painted; let it.
    settle(300);

    // Bring the middle of the list on screen, then select its line as a click does.
    auto *list = editor.findChild<QAbstractItemView *>(QStringLiteral("LstSelect"));
    auto *model = list->model();
    const int mid = model->rowCount() / 2;
    list->scrollTo(model->index(mid, 0));
    QApplication::processEvents();
    t.restart();
    list->setCurrentIndex(model->index(mid, 0));
    QApplication::processEvents();
    const double selectMs = t.nsecsElapsed() / 1e6;

    const double saveMs = timedSave(editor, 0).ms;
    settle(300);

    messages->script({MsgAnswer::Ok}); // the delete question answered
    t.restart();
    editor.CmdButton_Click(3);
    QApplication::processEvents();
    const double deleteMs = t.nsecsElapsed() / 1e6;

    std::printf("start %.3f\nselect %.3f\nsave %.3f\ndelete %.3f\nmemory %ld\npeak %ld\n", startMs, selectMs, saveMs,
                deleteMs, startKb, peakKb());
    settle(300);
    historyCost(editor, dir);
    editor.close();
    for (const Message &m : messages->messages()) // a save or a delete refused: its figure means nothing
        if (m.buttons == MsgButtons::OkOnly)
            std::fprintf(stderr, "bench_editor: the editor said: %s\n", qPrintable(m.text));
    return 0;
}

QMap<QString, double> run(const QString &self, qint64 rows, const QString &mode = QStringLiteral("--child"))
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(self, {mode, QString::number(rows)});
    p.waitForFinished(-1);
    QMap<QString, double> figures;
    for (const QByteArray &line : p.readAllStandardOutput().split('\n')) {
        const auto parts = line.split(' ');
        if (parts.size() == 2)
            figures.insert(QString::fromLatin1(parts[0]), parts[1].toDouble());
    }
    return figures;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 3 && QByteArray(argv[1]) == "--child")
        return child(argc, argv, QByteArray(argv[2]).toLongLong());
    if (argc == 3 && QByteArray(argv[1]) == "--lines")
        return linesChild(argc, argv, QByteArray(argv[2]).toLongLong());
    if (argc == 3 && QByteArray(argv[1]) == "--lookup")
        return lookupChild(argc, argv, QByteArray(argv[2]).toLongLong());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const qint64 small = argc > 2 ? QByteArray(argv[1]).toLongLong() : 100;
    const qint64 large = argc > 2 ? QByteArray(argv[2]).toLongLong() : 1000000;
    const QString self = QString::fromLocal8Bit(argv[0]);
    // Each measure is the median of three runs.
    auto median = [&](qint64 rows, const QString &mode = QStringLiteral("--child")) {
        QList<QMap<QString, double>> runs{run(self, rows, mode), run(self, rows, mode), run(self, rows, mode)};
        QMap<QString, double> m;
        for (const QString &k : runs.first().keys()) {
            QList<double> v{runs[0][k], runs[1][k], runs[2][k]};
            std::sort(v.begin(), v.end());
            m[k] = v[1];
        }
        return m;
    };
    const auto s = median(small);
    const auto l = median(large);
    std::printf("%-28s %12s %12s %8s\n", "", qPrintable(QString::number(small) + " rows"),
                qPrintable(QString::number(large) + " rows"), "ratio");
    for (const char *k : {"start", "select", "save", "delete"})
        std::printf("%-28s %9.2f ms %9.2f ms %8.2f\n",
                    qPrintable(QStringLiteral("%1").arg(QString::fromLatin1(k) == u"start" ? "START to first row"
                                                        : QString::fromLatin1(k) == u"select" ? "select middle line"
                                                        : QString::fromLatin1(k) == u"save"   ? "save a change"
                                                                                               : "delete a row")),
                    s[QString::fromLatin1(k)], l[QString::fromLatin1(k)], l[QString::fromLatin1(k)] / s[QString::fromLatin1(k)]);
    std::printf("%-28s %9.0f KB %9.0f KB %8.0f KB more (budget 20480 KB)\n", "memory taken by START", s["memory"], l["memory"],
                l["memory"] - s["memory"]);
    std::printf("%-28s %9.0f KB %9.0f KB\n", "peak resident set", s["peak"], l["peak"]);
    // The same save with history (STORIA,1) and without, alternated on one table; medians of 31.
    for (const auto &[k, label] :
         {std::pair{"saveplain", "save, without history"}, std::pair{"savehistory", "save, with history"},
          std::pair{"cpuplain", "  its processor time, without"}, std::pair{"cpuhistory", "  with history"},
          std::pair{"savehistoryfirst", "first save with history"}})
        std::printf("%-28s %9.2f ms %9.2f ms\n", label, s[QString::fromLatin1(k)], l[QString::fromLatin1(k)]);
    std::printf("%-28s %9.2f ms %9.2f ms   (to idle; budget 1 ms)\n", "history's extra cost",
                s["savehistory"] - s["saveplain"], l["savehistory"] - l["saveplain"]);
    std::printf("%-28s %9.2f ms %9.2f ms   (processor time)\n", "", s["cpuhistory"] - s["cpuplain"],
                l["cpuhistory"] - l["cpuplain"]);
    // A lookup onto a referenced table of 1,000 and of 500,000 rows.
    auto lookup = [&](qint64 rows) {
        QList<double> v{run(self, rows, QStringLiteral("--lookup"))[QStringLiteral("lookup")],
                        run(self, rows, QStringLiteral("--lookup"))[QStringLiteral("lookup")],
                        run(self, rows, QStringLiteral("--lookup"))[QStringLiteral("lookup")]};
        std::sort(v.begin(), v.end());
        return v[1];
    };
    const double l1 = lookup(1000), l2 = lookup(500000);
    std::printf("%-28s %9.2f ms %9.2f ms %8.2f   (1000 vs 500000 referenced rows)\n", "START with a lookup", l1, l2, l2 / l1);
    // An order with 100 and with 100,000 lines.
    const auto few = median(100, QStringLiteral("--lines")), many = median(100000, QStringLiteral("--lines"));
    for (const auto &[k, label] : {std::pair{"linesopen", "open an order on its lines"}, std::pair{"linesend", "scroll its lines to the end"},
                                   std::pair{"linessave", "save 100 changed lines"}})
        std::printf("%-28s %9.2f ms %9.2f ms %8.2f   (100 vs 100000 lines)\n", label, few[QString::fromLatin1(k)],
                    many[QString::fromLatin1(k)], many[QString::fromLatin1(k)] / few[QString::fromLatin1(k)]);
    std::printf("%-28s %9.0f    %12.0f\n", "lines the save wrote", few[QStringLiteral("lineswritten")],
                many[QStringLiteral("lineswritten")]);
    std::printf("budgets: time ratios at most 1.5, memory at most 20 MB more\n");
    return 0;
}
