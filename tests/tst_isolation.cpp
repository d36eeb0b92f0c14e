// What the editor leaves to everybody else: no lock and no open transaction while a row is only
// shown, and one SQLite library in the process.

#include "anagrafica.h"
#include "descriptor/dscdatabase.h"
#include "editordriver.h"

#include <QSemaphore>
#include <QElapsedTimer>
#include <QSet>
#include <QThread>

#include <thread>

using namespace Norvix;
using TestUtil::Data;

// Runs a statement on a connection; returns the driver's error text, empty on success.
static QString run(const std::shared_ptr<Connection> &c, const QString &sql)
{
    return c->call([&] {
        QSqlQuery q(c->database());
        return q.exec(sql) ? QString() : q.lastError().text();
    });
}

class TstIsolation : public QObject
{
    Q_OBJECT

    std::shared_ptr<RecordingMessageService> m_messages;

private slots:
    void init() { m_messages = TestUtil::freshUser(); }
    void cleanup() { setMessageService(nullptr); }

    void nothingHeldWhileARowIsShown_data()
    {
        QTest::addColumn<QString>("backend");
        for (const char *backend : {"sqlite", "sqlite-journal", "postgresql"})
            QTest::newRow(backend) << backend;
    }
    void nothingHeldWhileARowIsShown()
    {
        QFETCH(QString, backend);
        Data data(backend);
        FrmEditTab editor;
        TestUtil::startShown(editor, data.connection, data.folder(), "CLIENTI");
        editor.LstSelect()->setCurrentRow(1);
        auto *name = TestUtil::control<QLineEdit>(editor, "TxtText2");
        const QString code = TestUtil::control<QLineEdit>(editor, "TxtNumeric1")->text();
        const QString shownName = name->text();

        // With the row, the list and the lookups shown, someone else writes that very row at once:
        // a second user who does not wait for a lock.
        auto other = data.open(data.sqlite ? "QSQLITE_BUSY_TIMEOUT=0" : QString());
        if (!data.sqlite) // no session idle in a transaction, no relation locked
            QCOMPARE(run(other, "SET lock_timeout = '200ms'"), QString());
        const QString idle = other->call([&] {
            QSqlQuery held(other->database());
            if (!data.sqlite)
                held.exec("SELECT COUNT(*) FILTER (WHERE a.state LIKE 'idle in transaction%') + COUNT(l.pid) FROM "
                          "pg_stat_activity a LEFT JOIN pg_locks l ON l.pid = a.pid AND l.relation IS NOT NULL "
                          "WHERE a.datname = current_database() AND a.backend_type = 'client backend' "
                          "AND a.pid <> pg_backend_pid()");
            else if (backend == u"sqlite") // a checkpoint that runs to the end finds no reader in the log
                held.exec("PRAGMA wal_checkpoint(TRUNCATE)");
            else
                return QStringLiteral("0");
            return held.next() ? held.value(0).toString() : held.lastError().text();
        });
        QCOMPARE(idle, u"0");
        // With a rollback journal this commit needs an exclusive lock: it fails at once on any
        // reader's shared lock, such as an unfinished statement of the record list.
        const QString update = "UPDATE CLIENTI SET NOME = '%1' WHERE CODICE = " + code;
        QCOMPARE(run(other, update.arg("Cambiato altrove")), QString());

        // The editor still shows what it read; saving over the other user's change is refused and
        // shown as a conflict, what the other user wrote stays, and so does what this user typed until the
        // changes are dropped; then the fresh row is shown and a save goes through.
        QCOMPARE(name->text(), shownName);
        TestUtil::typeInto(editor, name, "Scritto qui");
        QCOMPARE(TestUtil::answerConflicts([&] { TestUtil::press(editor, 1); }), 1);
        const QString stored = "SELECT NOME FROM CLIENTI WHERE CODICE = " + code;
        QCOMPARE(data.scalar(stored).toString(), u"Cambiato altrove");
        QCOMPARE(name->text(), u"Scritto qui");
        TestUtil::press(editor, 2);
        QCOMPARE(name->text(), u"Cambiato altrove");
        TestUtil::typeInto(editor, name, "Scritto qui");
        m_messages->clear();
        TestUtil::press(editor, 1);
        QVERIFY(m_messages->messages().isEmpty());
        QCOMPARE(data.scalar(stored).toString(), u"Scritto qui");
        QCOMPARE(run(other, update.arg("Ancora")), QString());
    }

    // Another process holds the write lock. A save waits with the window alive: a lock released
    // in time lets it through; past half a second "Database occupato" offers Annulla, which gives
    // up the save and keeps what was typed.
    void lockWaitsKeepTheWindowAlive()
    {
        Data data("sqlite");
        FrmEditTab editor;
        TestUtil::startShown(editor, data.connection, data.folder(), "CLIENTI");
        auto *name = TestUtil::control<QLineEdit>(editor, "TxtText2");
        const auto stored = [&] { return data.scalar("SELECT NOME FROM CLIENTI WHERE CODICE = 1").toString(); };
        QSemaphore locked, release;
        const auto holdLock = [&](int ms) { // for `ms` milliseconds, or until released
            return std::thread([&, ms] {
                auto holder = data.open();
                QSqlQuery q(holder->database());
                q.exec("BEGIN IMMEDIATE");
                locked.release();
                ms < 0 ? release.acquire() : QThread::msleep(ms);
                q.exec("COMMIT");
            });
        };
        std::thread brief = holdLock(300);
        locked.acquire();
        TestUtil::typeInto(editor, name, "Primo");
        TestUtil::press(editor, 1);
        brief.join();
        QVERIFY2(m_messages->messages().isEmpty() && stored() == u"Primo", qPrintable(stored()));

        std::thread held = holdLock(-1);
        locked.acquire();
        TestUtil::typeInto(editor, name, "Secondo");
        QElapsedTimer clock;
        qint64 shownAfter = -1;
        int ticks = 0; // the event loop runs while the save waits
        QTimer timer;
        connect(&timer, &QTimer::timeout, this, [&] {
            ++ticks;
            QWidget *w = QApplication::activeModalWidget();
            if (w && w->objectName() == u"FrmOccupato" && w->isVisible() && shownAfter < 0) {
                shownAfter = clock.elapsed();
                w->findChild<QPushButton *>("CmdAnnulla")->click();
            }
        });
        timer.start(20);
        clock.start();
        TestUtil::press(editor, 1);
        timer.stop();
        release.release();
        held.join();
        QVERIFY2(shownAfter >= 400 && shownAfter < 2000 && ticks >= 10, qPrintable(QString("%1 ms, %2 ticks").arg(shownAfter).arg(ticks)));
        QCOMPARE(TestUtil::messageTexts(*m_messages).value(0).left(34), u"Il database è occupato da un altro");
        QCOMPARE(name->text(), u"Secondo");
        QVERIFY(editor.Modified());
        QCOMPARE(stored(), u"Primo");
        m_messages->clear();
        TestUtil::press(editor, 1); // "Conferma" again, the lock gone
        QVERIFY(m_messages->messages().isEmpty() && stored() == u"Secondo");
    }

    void oneSqliteLibrary()
    {
        Data data("sqlite");
        FrmEditTab editor;
        TestUtil::startShown(editor, data.connection, data.folder(), "CLIENTI");
        writeDscDatabase(data.folder() + "/sigillato.mdb", {"RECORD,T,T,1,G"}, "Segreto-9");
        QCOMPARE(readDscDatabase(data.folder() + "/sigillato.mdb", "Segreto-9"), QStringList{"RECORD,T,T,1,G"});

        QFile maps("/proc/self/maps");
        QVERIFY(maps.open(QIODevice::ReadOnly));
        QSet<QString> sqlite;
        for (const QByteArray &line : maps.readAll().split('\n')) {
            const QString path = QString::fromUtf8(line.mid(line.indexOf('/')));
            QVERIFY2(!path.contains(u"sqlcipher", Qt::CaseInsensitive), qPrintable(path));
            if (line.contains('/') && QFileInfo(path).fileName().startsWith(u"libsqlite"))
                sqlite << QFileInfo(path).canonicalFilePath();
        }
        const QString library = sqlite.size() == 1 ? *sqlite.begin() : sqlite.values().join(u' ');
        QVERIFY2(library.startsWith(u"/usr/lib/") || library.startsWith(u"/lib/"), qPrintable(library));
    }
};

QTEST_MAIN(TstIsolation)
#include "tst_isolation.moc"
