// Others' changes heard by a ChangeFeed (SQLite polled, PostgreSQL notified, its listening session
// opened again when lost), and `norvix live install|remove` run as a user would.

#include "backends.h"
#include "session/changefeed.h"
#include "session/rowsession.h"

#include <QProcess>
#include <QSignalSpy>
#include <QSqlDriver>
#include <QtTest>

using namespace Norvix;
using TestUtil::Backend;

namespace {

constexpr int kHeard = 5000;  // generous: never a timing assertion
constexpr int kSilent = 2500; // over two polls

// Saves a column of row 1 through a row session on `connection`, as the editor saves.
void saveThroughNorvix(const std::shared_ptr<Connection> &connection, const QString &name,
                       const QString &column = QStringLiteral("NOME"))
{
    RowSession session;
    session.attach(connection, QStringLiteral("T"), {QStringLiteral("ID")});
    session.load({1});
    session.setValue(column, session.typed(column, name));
    QVERIFY(session.save().done());
}

// The listening session of this database, once it listens.
bool listening(Backend &b)
{
    return b.scalar("SELECT count(*) FROM pg_stat_activity WHERE datname = current_database() AND "
                    "application_name = 'norvix live' AND query = 'LISTEN norvix' AND state = 'idle'")
               .toInt()
           == 1;
}

struct Run
{
    int code = -1;
    QByteArray out, err;
};

Run norvix(const QStringList &args)
{
    QProcess p;
    p.start(NORVIX_APP_PATH, args);
    if (!p.waitForFinished(60000))
        qFatal("norvix did not finish");
    return Run{p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
               p.readAllStandardError()};
}

} // namespace

class TstLive : public QObject
{
    Q_OBJECT

    struct Fixture
    {
        explicit Fixture(const QString &backend) : b(backend)
        {
            b.exec({"CREATE TABLE T (ID INTEGER PRIMARY KEY, NOME VARCHAR(20))", "INSERT INTO T VALUES (1, 'uno')"});
            other = b.open();
            feed.start();
            if (!b.sqlite) { // once listening, what may have changed before is read again
                QTRY_VERIFY_WITH_TIMEOUT(listening(b), kHeard);
                QTRY_COMPARE(spy.count(), 1);
                QCOMPARE(spy.takeFirst().value(0).toString(), QString());
            }
        }
        Backend b;
        std::shared_ptr<Connection> other;
        ChangeFeed feed{b.conn};
        QSignalSpy spy{&feed, &ChangeFeed::changed};
    };

private slots:
    // A save on another connection is heard, with its table where the database tells it; the
    // connection's own saves, and anything after stop(), are not.
    void hearsOthersOnly_data()
    {
        TestUtil::backends("who", QList<QPair<const char *, int>>{{"another", 0}, {"own", 1}, {"stopped", 2}, {"raw", 3}});
    }
    void hearsOthersOnly()
    {
        QFETCH(QString, backend);
        QFETCH(int, who);
        Fixture f(backend);
        QVERIFY(!QTest::currentTestFailed());
        QCOMPARE(f.feed.way(), f.b.sqlite ? ChangeFeed::Way::Polling : ChangeFeed::Way::Notifications);
        if (who == 2) {
            f.feed.stop();
            QVERIFY(!f.feed.running());
        }
        if (who == 3) // a plain statement: heard on SQLite, unheard on PostgreSQL without the triggers
            f.b.exec({"UPDATE T SET NOME = 'altro'"}, f.other);
        else
            saveThroughNorvix(who == 1 ? f.b.conn : f.other, QStringLiteral("due"));
        const bool heard = who == 0 || (who == 3 && f.b.sqlite);
        QCOMPARE(f.spy.wait(heard ? kHeard : kSilent), heard);
        if (heard)
            QCOMPARE(f.spy.first().first().toString().toUpper(), f.b.sqlite ? QString() : QStringLiteral("T"));
    }

    // Norvix's notice names the table and the row's key after the write.
    void noticeNamesTheRow()
    {
        Fixture f(QStringLiteral("postgresql"));
        QVERIFY(!QTest::currentTestFailed());
        const QUrl url(f.b.connection);
        QStringList heard;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("listener"));
            db.setHostName(url.host());
            db.setPort(url.port());
            db.setDatabaseName(url.path().mid(1));
            QVERIFY(db.open(url.userName(), url.password()) && db.driver()->subscribeToNotification(QStringLiteral("norvix")));
            connect(db.driver(), &QSqlDriver::notification, this,
                    [&](const QString &, QSqlDriver::NotificationSource, const QVariant &payload) { heard << payload.toString(); });
            saveThroughNorvix(f.other, QStringLiteral("7"), QStringLiteral("ID"));
            QTRY_COMPARE_WITH_TIMEOUT(heard, QStringList{R"({"key":[7],"table":"t"})"}, kHeard);
        }
        QSqlDatabase::removeDatabase(QStringLiteral("listener"));
    }

    // The listening session ended by the server is opened again: "anything may have changed",
    // then the changes made afterwards.
    void listensAgainWhenCut()
    {
        Fixture f(QStringLiteral("postgresql"));
        QVERIFY(!QTest::currentTestFailed());
        f.b.exec({"SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = current_database() "
                  "AND application_name = 'norvix live'"},
                 f.other);
        QVERIFY(f.spy.wait(kHeard));
        QCOMPARE(f.spy.takeFirst().first().toString(), QString());
        QTRY_VERIFY_WITH_TIMEOUT(listening(f.b), kHeard);
        saveThroughNorvix(f.other, QStringLiteral("due"));
        QVERIFY(f.spy.wait(kHeard));
        QCOMPARE(f.spy.takeFirst().first().toString(), QStringLiteral("t"));
    }

    // norvix live: every change to a table with the triggers is heard, whoever makes it; a table
    // that is not there changes nothing; on SQLite there is nothing to install.
    void triggersThroughTheProgram()
    {
        Fixture f(QStringLiteral("postgresql"));
        QVERIFY(!QTest::currentTestFailed());
        const auto installed = [&] {
            return f.b.scalar("SELECT count(*) FROM pg_trigger WHERE tgname = 'norvix_live'").toInt() * 10
                   + f.b.scalar("SELECT count(*) FROM pg_proc WHERE proname = 'norvix_live_notify'").toInt();
        };
        const QString c = f.b.connection;
        const struct
        {
            QStringList args;
            int code, installed;
        } steps[] = {{{"live", "install", "--connection", c, "T", "NESSUNA"}, 2, 0},
                     {{"live", "install", "--connection", c}, 2, 0},
                     {{"live", "install", "--connection", c, "t"}, 0, 11},
                     {{"live", "install", "--connection", c, "T"}, 0, 11},
                     {{"live", "remove", "--connection", c, "T"}, 0, 0}};
        for (const auto &step : steps) {
            const Run r = norvix(step.args);
            QVERIFY2(r.code == step.code, r.err.constData());
            QCOMPARE(installed(), step.installed);
            if (step.args.contains("NESSUNA"))
                QVERIFY2(r.err.contains("NESSUNA"), r.err.constData());
            if (step.installed == 0)
                continue;
            f.b.exec({"UPDATE T SET NOME = 'altro'"}, f.other);
            QVERIFY(f.spy.wait(kHeard));
            QCOMPARE(f.spy.takeFirst().first().toString(), QStringLiteral("t"));
        }
        Backend file(QStringLiteral("sqlite"));
        const Run r = norvix({"live", "install", "--connection", file.connection, "T"});
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.contains("nulla da installare"), r.out.constData());
    }
};

QTEST_GUILESS_MAIN(TstLive)
#include "tst_live.moc"
