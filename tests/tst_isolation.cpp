// What the editor leaves to everybody else: no lock and no open transaction while a row is only
// shown, and one SQLite library in the process.

#include "anagrafica.h"
#include "descriptor/dscdatabase.h"
#include "editordriver.h"
#include "editor/frmedittab.h"
#include "editor/recordlistview.h"
#include "platform/recordset.h"
#include "editor/shared.h"
#include "platform/messages.h"
#include "platform/recordset.h"
#include "platform/window.h"

#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSqlRecord>
#include <QSemaphore>
#include <QSet>
#include <QTest>
#include <QThread>

#include <thread>

using namespace Norvix;
using TestUtil::Data;

namespace {

// A second user's connection, opened apart from the editor's, that will not wait for a lock.
class OtherUser
{
public:
    OtherUser(const Data &data, const QString &backend)
    {
        if (backend.startsWith(u"sqlite")) {
            m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
            m_db.setDatabaseName(data.conn->params().database);
            m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=0"));
        } else {
            const ConnectionParams &p = data.conn->params();
            m_db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("other"));
            m_db.setHostName(p.host);
            m_db.setPort(p.port);
            m_db.setUserName(p.user);
            m_db.setPassword(p.password);
            m_db.setDatabaseName(p.database);
        }
        if (!m_db.open())
            qFatal("second connection: %s", qPrintable(m_db.lastError().text()));
        if (backend == u"postgresql")
            exec(QStringLiteral("SET lock_timeout = '200ms'"));
    }
    ~OtherUser()
    {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("other"));
    }
    // Runs a statement; returns the driver's error text, empty on success.
    QString exec(const QString &sql)
    {
        QSqlQuery q(m_db);
        return q.exec(sql) ? QString() : q.lastError().text();
    }
    QVariantList row(const QString &sql)
    {
        QSqlQuery q(m_db);
        return q.exec(sql) && q.next() ? TestUtil::rowValues(q) : QVariantList();
    }

private:
    QSqlDatabase m_db;
};

} // namespace

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
        QTest::newRow("sqlite wal") << "sqlite";
        QTest::newRow("sqlite rollback journal") << "sqlite-journal";
        QTest::newRow("postgresql") << "postgresql";
    }
    void nothingHeldWhileARowIsShown()
    {
        QFETCH(QString, backend);
        Data data(backend);
        FrmEditTab editor;
        editor.START(data.connection, data.folder(), QString(), QStringLiteral("CLIENTI"), QString(), QString(), false);
        QVERIFY(editor.CanShow());
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        editor.LstSelect()->setCurrentRow(1);
        auto *key = editor.findChild<QLineEdit *>(QStringLiteral("TxtNumeric1"));
        auto *name = editor.findChild<QLineEdit *>(QStringLiteral("TxtText2"));
        QVERIFY(key && name);
        const QString code = key->text();
        const QString shownName = name->text();
        QVERIFY(!code.isEmpty());

        // With the row, the list and the lookups shown, someone else writes that very row at once.
        OtherUser other(data, backend);
        if (backend == u"postgresql") {
            const QVariantList held = other.row(QStringLiteral(
                "SELECT COUNT(*) FILTER (WHERE state LIKE 'idle in transaction%'), "
                "(SELECT COUNT(*) FROM pg_locks l WHERE l.pid = a.pid AND l.relation IS NOT NULL) "
                "FROM pg_stat_activity a WHERE datname = current_database() AND pid <> pg_backend_pid() GROUP BY a.pid"));
            QCOMPARE(held.value(0).toInt(), 0);
            QCOMPARE(held.value(1).toInt(), 0);
        } else if (backend == u"sqlite") {
            // A checkpoint that runs to the end finds no reader inside the write-ahead log.
            QCOMPARE(other.row(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")).value(0).toInt(), 0);
        }
        // With a rollback journal this commit needs an exclusive lock: it fails at once on any
        // reader's shared lock, such as an unfinished statement of the record list.
        QCOMPARE(other.exec(QStringLiteral("UPDATE CLIENTI SET NOME = 'Cambiato altrove' WHERE CODICE = %1").arg(code)),
                 QString());

        // The editor still shows what it read; saving over the other user's change is refused and
        // reported, what the other user wrote stays, and so does what this user typed until
        // the changes are dropped.
        QCOMPARE(name->text(), shownName);
        name->setFocus();
        name->selectAll();
        QTest::keyClicks(name, QStringLiteral("Scritto qui"));
        QVERIFY(editor.Modified());
        m_messages->script({MsgAnswer::No});
        QTest::mouseClick(editor.CmdButton(1), Qt::LeftButton);
        QCOMPARE(m_messages->messages().size(), 1);
        QVERIFY2(m_messages->messages().first().title.startsWith(QStringLiteral("Errore n° -2147217864 - Impossibile "
                                                                                "trovare la riga da aggiornare")),
                 qPrintable(m_messages->messages().first().title));
        QCOMPARE(data.scalar(QStringLiteral("SELECT NOME FROM CLIENTI WHERE CODICE = %1").arg(code)).toString(),
                 u"Cambiato altrove");
        QVERIFY(editor.isVisible());
        QCOMPARE(name->text(), u"Scritto qui");
        QTest::mouseClick(editor.CmdButton(2), Qt::LeftButton);
        QCOMPARE(name->text(), u"Cambiato altrove"); // shown afresh

        // And once it shows the fresh row, a save goes through.
        name->selectAll();
        QTest::keyClicks(name, QStringLiteral("Scritto qui"));
        m_messages->clear();
        QTest::mouseClick(editor.CmdButton(1), Qt::LeftButton);
        QVERIFY(m_messages->messages().isEmpty());
        QCOMPARE(data.scalar(QStringLiteral("SELECT NOME FROM CLIENTI WHERE CODICE = %1").arg(code)).toString(),
                 u"Scritto qui");
        QCOMPARE(other.exec(QStringLiteral("UPDATE CLIENTI SET NOME = 'Ancora' WHERE CODICE = %1").arg(code)), QString());
    }

    // A row that cannot be read (the file locked for good by another program) is reported, and
    // the list does not go on highlighting a line whose row is not the one shown.
    void aRowThatCannotBeReadLeavesNoLineForIt()
    {
        Data data(QStringLiteral("sqlite-journal"));
        FrmEditTab editor;
        editor.START(data.connection + QStringLiteral("&QSQLITE_BUSY_TIMEOUT=20"), data.folder(), QString(),
                     QStringLiteral("CLIENTI"), QString(), QString(), false);
        QVERIFY(editor.CanShow());
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        editor.LstSelect()->setCurrentRow(0);
        auto *name = editor.findChild<QLineEdit *>(QStringLiteral("TxtText2"));
        const QString first = name->text();
        {
            OtherUser other(data, QStringLiteral("sqlite-journal"));
            QCOMPARE(other.exec(QStringLiteral("PRAGMA locking_mode=EXCLUSIVE")), QString());
            QCOMPARE(other.exec(QStringLiteral("UPDATE CLIENTI SET NOTE = 'bloccato' WHERE CODICE = 3")), QString());
            m_messages->clear();
            editor.LstSelect()->setCurrentRow(2);
            QCOMPARE(m_messages->messages().size(), 1);
            QVERIFY2(m_messages->messages().first().text.contains(u"locked"), qPrintable(m_messages->messages().first().text));
            QCOMPARE(editor.LstSelect()->currentRow(), -1);
            QCOMPARE(name->text(), first);
        }
        editor.LstSelect()->setCurrentRow(2); // the lock is gone: the row loads
        QCOMPARE(editor.LstSelect()->currentRow(), 2);
        QVERIFY(name->text() != first);
    }

    // SQLite's waiting is not first come, first served: with many writers one can wait past the
    // busy timeout. A save then tries again a few times before it reports the locked file, and a
    // refused save keeps its pending values for the next try.
    void savesOutwaitABriefLock()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("dati.db"));
        {
            auto setup = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("setup"));
            setup.setDatabaseName(file);
            QVERIFY(setup.open());
            QSqlQuery q(setup);
            QVERIFY(q.exec(QStringLiteral("CREATE TABLE T (ID INTEGER PRIMARY KEY, V TEXT)")));
            QVERIFY(q.exec(QStringLiteral("INSERT INTO T VALUES (1, 'a')")));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("setup"));
        auto conn = Connection::open(QStringLiteral("sqlite://%1?QSQLITE_BUSY_TIMEOUT=50").arg(file));
        Recordset rs(conn, RecordSource::wholeTable(QStringLiteral("T")), {QStringLiteral("ID")}, CursorIntent::Change);

        // Another process holds the write lock for `ms` milliseconds (forever: until released).
        QSemaphore locked, release;
        const auto holdLock = [&](int ms) {
            return std::thread([&, ms] {
                {
                    auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
                    db.setDatabaseName(file);
                    db.open();
                    QSqlQuery q(db);
                    q.exec(QStringLiteral("BEGIN IMMEDIATE"));
                    locked.release();
                    if (ms < 0)
                        release.acquire();
                    else
                        QThread::msleep(ms);
                    q.exec(QStringLiteral("COMMIT"));
                }
                QSqlDatabase::removeDatabase(QStringLiteral("holder"));
            });
        };

        std::thread brief = holdLock(120); // longer than the busy timeout, shorter than the tries
        locked.acquire();
        rs.setValue(QStringLiteral("V"), QStringLiteral("b"));
        rs.Update();
        brief.join();
        QCOMPARE(rs.value(QStringLiteral("V")).toString(), u"b");

        std::thread heldOn = holdLock(-1);
        locked.acquire();
        rs.setValue(QStringLiteral("V"), QStringLiteral("c"));
        try {
            rs.Update();
            QFAIL("a save went through a held lock");
        } catch (const DataError &e) {
            QCOMPARE(e.number(), 5);
            QVERIFY2(e.description().contains(u"locked"), qPrintable(e.description()));
        }
        release.release();
        heldOn.join();
        QCOMPARE(rs.editMode(), EditMode::InProgress);
        rs.Update(); // the user presses "Conferma" again
        auto check = Connection::open(QStringLiteral("sqlite://") + file);
        QSqlQuery q(check->database());
        QVERIFY(q.exec(QStringLiteral("SELECT V FROM T WHERE ID = 1")) && q.next());
        QCOMPARE(q.value(0).toString(), u"c");
    }

    // Two SQLite copies in one process can corrupt databases (each keeps its own file locks): the
    // only one mapped is the system's, which Qt's driver uses, even after a sealed descriptor
    // database was read.
    void oneSqliteLibrary()
    {
        Data data(QStringLiteral("sqlite"));
        FrmEditTab editor;
        editor.START(data.connection, data.folder(), QString(), QStringLiteral("CLIENTI"), QString(), QString(), false);
        QVERIFY(editor.CanShow());
        const QString sealed = data.folder() + QStringLiteral("/sigillato.mdb");
        writeDscDatabase(sealed, {QStringLiteral("RECORD,T,T,1,G")}, QStringLiteral("Segreto-9"));
        QCOMPARE(readDscDatabase(sealed, QStringLiteral("Segreto-9")), QStringList{QStringLiteral("RECORD,T,T,1,G")});

        QFile maps(QStringLiteral("/proc/self/maps"));
        QVERIFY(maps.open(QIODevice::ReadOnly));
        QSet<QString> sqlite;
        QSet<QString> ciphers;
        static const QRegularExpression path(QStringLiteral("\\s(/\\S+)$"));
        for (const QByteArray &line : maps.readAll().split('\n')) {
            const auto m = path.match(QString::fromUtf8(line));
            if (!m.hasMatch())
                continue;
            const QString file = QFileInfo(m.captured(1)).fileName().toLower();
            if (file.contains(u"sqlcipher"))
                ciphers << m.captured(1);
            else if (file.startsWith(u"libsqlite"))
                sqlite << QFileInfo(m.captured(1)).canonicalFilePath();
        }
        QVERIFY2(ciphers.isEmpty(), qPrintable(ciphers.values().join(u' ')));
        QCOMPARE(sqlite.size(), 1);
        const QString library = *sqlite.begin();
        QVERIFY2(library.startsWith(u"/usr/lib/") || library.startsWith(u"/lib/"), qPrintable(library));
    }
};

QTEST_MAIN(TstIsolation)
#include "tst_isolation.moc"
