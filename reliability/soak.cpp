// Lost-update soak: many editors, each in a process of its own, keep saving a few hot counters.
//
// Every writer is the real editor window (offscreen), driven as a user drives it: pick a line of
// the record list, read the counter shown, type it plus one, press "Conferma". With the counter it
// types a text (with an accented letter), an amount and a date made from the new count, so that a
// row read back must hold the four of one save, each as typed. A save that
// returns without a message is acknowledged; one refused because someone else changed the row
// since it was shown must show the user the conflict window, where the writer takes the stored
// row (Ricarica). At the end each stored
// counter must equal the number of saves acknowledged on it: one more means a save was lost
// after being acknowledged, one less an update that overwrote another's.
//
//   soak --backend sqlite|sqlite-journal|postgresql|odbc [--writers 50] [--saves 10000] [--rows 3]
//
// PostgreSQL runs need the test server (tests/pg/pgserver; NORVIX_TEST_PG_DIR names its folder);
// "odbc" reaches the same server through its ODBC driver.
// Prints the figures; exits 0 when nothing was lost and no error other than conflicts occurred.

#include "editor/frmedittab.h"
#include "editor/recordlistview.h"
#include "editor/shared.h"
#include "platform/dataerror.h"
#include "platform/messages.h"
#include "platform/window.h"
#include "editordriver.h"
#include "target.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDate>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <cstdio>

using namespace Norvix;

namespace {

const char *const kDescriptor = "RECORD,CONTATORI,Contatori,1,Generale\n"
                                "CAMPO,CODICE,Codice,LONG,6,,1,,X\n"
                                "CAMPO,VALORE,Valore,LONG,9\n"
                                "CAMPO,NOTA,Nota,TEXT,40\n"
                                "CAMPO,IMPORTO,Importo,CURRENCY,12\n"
                                "CAMPO,GIORNO,Giorno,DATE,,,,,,,,,,\"dd/mm/yyyy\"\n"
                                "INDICE,PrimaryKey,+CODICE,-1,-1\n";

// What a save of count `n` writes besides the count, as the user types it and as it is stored.
QString noteOf(qint64 n)
{
    return QStringLiteral("nota %1 è").arg(n);
}
QString amountOf(qint64 n)
{
    return QStringLiteral("%1,25").arg(n);
}
QDate dayOf(qint64 n)
{
    return QDate(2000, 1, 1).addDays(n);
}

// Types `text` over a box's contents, as a user does.
void typeText(QLineEdit *box, const QString &text)
{
    box->setFocus();
    TestUtil::typeKeys(box, text);
}

// Qt's word that a paint ran the event loop again (a wait inside a paint): counted as an error.
std::atomic<int> g_nestedPaints{0};
void watchPaints(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (text.contains(QLatin1String("called with active painter")))
        ++g_nestedPaints;
    else if (type != QtDebugMsg && !text.contains(QLatin1String("propagateSizeHints")))
        std::fprintf(stderr, "%s\n", qPrintable(text));
}

// One writer: `saves` saves on random lines; prints "result ACKS_PER_ROW CONFLICTS ERRORS".
int writer(const QString &connection, const QString &folder, int saves, int rows, quint64 seed)
{
    qInstallMessageHandler(watchPaints);
    auto user = std::make_shared<RecordingMessageService>(); // answers as a careful user: No, Cancel
    setMessageService(user);
    setScreenService(std::make_shared<FixedScreenService>());
    SharedSettings::process().closeOnConfirm = false;

    FrmEditTab editor;
    editor.START(connection, folder, QString(), QStringLiteral("CONTATORI"), QString(), QString(), false);
    if (!editor.CanShow()) {
        for (const Message &m : user->messages())
            std::fprintf(stderr, "start: %s %s\n", qPrintable(m.title), qPrintable(m.text));
        return 2;
    }
    editor.show();
    auto *key = editor.findChild<QLineEdit *>(QStringLiteral("TxtNumeric1"));
    auto *value = editor.findChild<QLineEdit *>(QStringLiteral("TxtNumeric2"));
    auto *note = editor.findChild<QLineEdit *>(QStringLiteral("TxtText3"));
    auto *amount = editor.findChild<QLineEdit *>(QStringLiteral("TxtNumeric4"));
    auto *day = editor.findChild<QLineEdit *>(QStringLiteral("TxtDate5"));
    if (!key || !value || !note || !amount || !day || editor.LstSelect()->count() != rows) {
        std::fprintf(stderr, "the editor does not show the counters\n");
        return 2;
    }

    QRandomGenerator random(seed);
    QList<int> acks(rows, 0);
    int conflicts = 0;
    int errors = 0;
    for (int i = 0; i < saves; ++i) {
        const int line = random.bounded(rows);
        editor.LstSelect()->setCurrentRow(-1);
        editor.LstSelect()->setCurrentRow(line); // shows that row, read afresh
        bool ok = false;
        const int shown = value->text().toInt(&ok);
        if (key->text() != QString::number(line + 1) || !ok) {
            std::fprintf(stderr, "line %d shows key \"%s\" and value \"%s\"\n", line, qPrintable(key->text()),
                         qPrintable(value->text()));
            ++errors;
            continue;
        }
        typeText(value, QString::number(shown + 1));
        typeText(note, noteOf(shown + 1));
        typeText(amount, amountOf(shown + 1));
        typeText(day, dayOf(shown + 1).toString(QStringLiteral("dd/MM/yyyy")));
        user->clear();
        const int conflictWindows = TestUtil::answerConflicts(
            [&] { QTest::mouseClick(editor.CmdButton(1), Qt::LeftButton); },
            [](QWidget *w) { w->findChild<QPushButton *>(QStringLiteral("CmdRicarica"))->click(); });
        if (conflictWindows > 0 && user->messages().isEmpty()) {
            ++conflicts;
        } else if (user->messages().isEmpty()) {
            ++acks[line];
        } else {
            ++errors;
            for (const Message &m : user->messages())
                std::fprintf(stderr, "save: %s | %s\n", qPrintable(m.title), qPrintable(m.text));
        }
    }
    if (g_nestedPaints > 0) {
        std::fprintf(stderr, "a paint ran the event loop again %d times\n", int(g_nestedPaints));
        errors += g_nestedPaints;
    }
    QStringList counts;
    for (int a : acks)
        counts << QString::number(a);
    std::printf("result %s %d %d\n", qPrintable(counts.join(u',')), conflicts, errors);
    std::fflush(stdout);
    return 0;
}

int run(const QString &program, const QString &backend, int writers, int saves, int rows)
{
    Reliability::Target target(backend);
    QFile dsc(target.folder() + QStringLiteral("/files.dsc"));
    if (!dsc.open(QIODevice::WriteOnly) || dsc.write(kDescriptor) < 0)
        Reliability::die(QStringLiteral("cannot write the descriptor"));
    dsc.close();
    target.exec(QStringLiteral("CREATE TABLE CONTATORI (CODICE INTEGER PRIMARY KEY, VALORE INTEGER NOT NULL, "
                               "NOTA VARCHAR(40), IMPORTO NUMERIC(12, 2), GIORNO DATE)"));
    for (int r = 1; r <= rows; ++r)
        target.exec(QStringLiteral("INSERT INTO CONTATORI (CODICE, VALORE, NOTA, IMPORTO, GIORNO) VALUES (?, 0, ?, ?, ?)"),
                    {r, noteOf(0), QStringLiteral("0.25"), dayOf(0).toString(Qt::ISODate)});

    QElapsedTimer clock;
    clock.start();
    QList<QProcess *> processes;
    const quint64 seed = QRandomGenerator::global()->generate64();
    for (int w = 0; w < writers; ++w) {
        auto *p = new QProcess;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        if (!env.contains(QStringLiteral("XDG_RUNTIME_DIR")))
            env.insert(QStringLiteral("XDG_RUNTIME_DIR"), target.folder()); // private to this user, as Qt wants
        p->setProcessEnvironment(env);
        const int share = saves / writers + (w < saves % writers ? 1 : 0);
        p->start(program, {QStringLiteral("--writer"), target.connection(), target.folder(), QString::number(share),
                           QString::number(rows), QString::number(seed + w)});
        processes << p;
    }

    QList<qint64> acks(rows, 0);
    qint64 conflicts = 0, errors = 0, failedWriters = 0;
    for (QProcess *p : processes) {
        p->waitForFinished(-1);
        const QString out = QString::fromUtf8(p->readAllStandardOutput());
        const QByteArray err = p->readAllStandardError();
        if (!err.isEmpty())
            std::fprintf(stderr, "%s", err.constData());
        const QStringList result = out.section(QStringLiteral("result "), 1).trimmed().split(u' ');
        if (p->exitStatus() != QProcess::NormalExit || p->exitCode() != 0 || result.size() != 3) {
            ++failedWriters;
            continue;
        }
        const QStringList counts = result[0].split(u',');
        for (int r = 0; r < rows && r < counts.size(); ++r)
            acks[r] += counts[r].toLongLong();
        conflicts += result[1].toLongLong();
        errors += result[2].toLongLong();
        delete p;
    }
    const double seconds = clock.elapsed() / 1000.0;

    target.reopen();
    qint64 acknowledged = 0, lost = 0, overcounted = 0, mixed = 0;
    for (int r = 1; r <= rows; ++r) {
        const QVariantList row =
            target.rows(QStringLiteral("SELECT VALORE, NOTA, IMPORTO, GIORNO FROM CONTATORI WHERE CODICE = %1").arg(r)).value(0);
        const qint64 stored = row.value(0).toLongLong();
        // The other columns are those of the same save, as typed.
        const bool same = row.value(1).toString() == noteOf(stored)
                          && QString::number(row.value(2).toDouble(), 'f', 2) == QStringLiteral("%1.25").arg(stored)
                          && row.value(3).toDate() == dayOf(stored);
        if (!same) {
            ++mixed;
            std::printf("  row %d holds %s\n", r, qPrintable(QVariant(row).toStringList().join(QStringLiteral(" | "))));
        }
        acknowledged += acks[r - 1];
        lost += std::max<qint64>(0, acks[r - 1] - stored);
        overcounted += std::max<qint64>(0, stored - acks[r - 1]);
    }
    const qint64 extraRows = target.scalar(QStringLiteral("SELECT COUNT(*) FROM CONTATORI")).toLongLong() - rows;

    std::printf("soak %s: %d writers, %d saves on %d rows in %.1f s (%.0f saves/s)\n", qPrintable(backend), writers,
                saves, rows, seconds, saves / seconds);
    std::printf("  acknowledged %lld, refused as conflicts %lld, other errors %lld, writers failed %lld\n",
                static_cast<long long>(acknowledged), static_cast<long long>(conflicts),
                static_cast<long long>(errors), static_cast<long long>(failedWriters));
    std::printf("  lost updates %lld, unacknowledged increments %lld, unexpected rows %lld, rows not as typed %lld\n",
                static_cast<long long>(lost), static_cast<long long>(overcounted), static_cast<long long>(extraRows),
                static_cast<long long>(mixed));
    const bool accounted = failedWriters > 0 || acknowledged + conflicts + errors == saves;
    if (!accounted)
        std::printf("  saves unaccounted for: %lld\n", static_cast<long long>(saves - acknowledged - conflicts - errors));
    const bool ok = lost == 0 && overcounted == 0 && extraRows == 0 && mixed == 0 && errors == 0 && failedWriters == 0 && accounted
                    && acknowledged > 0;
    std::printf("  %s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    // Writers: "--writer CONNECTION FOLDER SAVES ROWS SEED".
    if (argc == 7 && qstrcmp(argv[1], "--writer") == 0) {
        QApplication app(argc, argv);
        return writer(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), atoi(argv[4]), atoi(argv[5]),
                      QByteArray(argv[6]).toULongLong());
    }

    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Concurrent editors saving hot counters; checks that no update is lost."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("backend"), QStringLiteral("sqlite, sqlite-journal, postgresql or odbc."), QStringLiteral("name"),
                      QStringLiteral("sqlite")});
    parser.addOption({QStringLiteral("writers"), QStringLiteral("Editor processes."), QStringLiteral("n"), QStringLiteral("50")});
    parser.addOption({QStringLiteral("saves"), QStringLiteral("Saves in all."), QStringLiteral("n"), QStringLiteral("10000")});
    parser.addOption({QStringLiteral("rows"), QStringLiteral("Hot rows."), QStringLiteral("n"), QStringLiteral("3")});
    parser.process(app);
    const int writers = parser.value(QStringLiteral("writers")).toInt();
    const int saves = parser.value(QStringLiteral("saves")).toInt();
    const int rows = parser.value(QStringLiteral("rows")).toInt();
    if (writers < 1 || saves < writers || rows < 1)
        Reliability::die(QStringLiteral("need writers >= 1, saves >= writers, rows >= 1"));
    return run(QCoreApplication::applicationFilePath(), parser.value(QStringLiteral("backend")), writers, saves, rows);
}
