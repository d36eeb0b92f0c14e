// Hostile input through the editor and the data layer, on SQLite and on PostgreSQL: texts that
// mean something to SQL, to connection strings or to the controls, names the database lacks or
// holds in odd spellings, NUL characters and megabyte-long texts. The cases on data check that a
// canary table and the list of tables stay as they were, that values are stored exactly or
// refused with a message that says what is wrong, and that no other row changes; the cases on
// connection strings, that a string opens exactly the database it names or is refused without
// showing its password.

#include "descriptor/prossimovalore.h"
#include "editor/frmedittab.h"
#include "editor/recordlistview.h"
#include "platform/recordset.h"
#include "editordriver.h"
#include "editor/recordlist.h"
#include "editor/shared.h"
#include "pgtest.h"
#include "platform/messages.h"
#include "platform/recordset.h"
#include "platform/window.h"
#include "testutil.h"

#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTest>
#include <QUrl>

#include <sqlite3.h>

using namespace Norvix;
using TestUtil::backends;
using TestUtil::control;
using TestUtil::press;

namespace {

// Messages are for people: short enough to read, without control characters.
constexpr qsizetype kMaxMessage = 1000;

QString megabyteText()
{
    // Every character that means something to SQL or to a connection string, over and over.
    const QString unit = QStringLiteral("x'\";--/**/[],%_\\ àé€\n");
    QString text;
    text.reserve(1 << 20);
    while (text.size() < (1 << 20))
        text += unit;
    text.truncate(1 << 20);
    return text;
}

QString withNul(const QString &before, const QString &after)
{
    return before + QChar(0) + after;
}

bool readable(const QString &message)
{
    if (message.isEmpty() || message.size() > kMaxMessage)
        return false;
    for (QChar c : message)
        if (c.unicode() < 0x20 && c != u'\n' && c != u'\t')
            return false;
    return true;
}

// The PostgreSQL database of this run (dropped by cleanupTestCase): one for every case, each case
// starting on an empty schema, since creating a database per case would take most of the run.
std::unique_ptr<TestUtil::PgDatabase> &postgresOfTheRun()
{
    static std::unique_ptr<TestUtil::PgDatabase> db;
    return db;
}

const TestUtil::PgDatabase &sharedPostgres()
{
    auto &db = postgresOfTheRun();
    if (!db) {
        db = std::make_unique<TestUtil::PgDatabase>();
        if (!db->isValid())
            qFatal("PostgreSQL test database: %s", qPrintable(db->error()));
    }
    return *db;
}

// A database of one back end holding the canary table, a folder for its descriptor, and a plain
// Qt connection of its own to look at the data as stored.
class Db
{
public:
    explicit Db(const QString &backend) : sqlite(backend == u"sqlite")
    {
        if (sqlite) {
            const QString file = m_dir.filePath(QStringLiteral("dati.db"));
            m_raw = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), rawName());
            m_raw.setDatabaseName(file);
            url = QStringLiteral("sqlite://") + file;
        } else {
            const TestUtil::PgDatabase &pg = sharedPostgres();
            m_raw = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), rawName());
            m_raw.setHostName(pg.host());
            m_raw.setPort(pg.port());
            m_raw.setUserName(pg.user());
            m_raw.setPassword(pg.password());
            m_raw.setDatabaseName(pg.name());
            url = pg.url();
        }
        if (!m_raw.open())
            qFatal("cannot open the test database: %s", qPrintable(m_raw.lastError().text()));
        if (!sqlite)
            exec({QStringLiteral("DROP SCHEMA public CASCADE"), QStringLiteral("CREATE SCHEMA public")});
        exec({QStringLiteral("CREATE TABLE CANARY (ID INTEGER PRIMARY KEY, T VARCHAR(40))"),
              QStringLiteral("INSERT INTO CANARY VALUES (1, 'intatto')"),
              QStringLiteral("INSERT INTO CANARY VALUES (2, 'O''Brien; -- /* */')")});
        conn = Connection::open(url);
    }
    ~Db()
    {
        if (conn)
            conn->Close();
        conn.reset();
        const QString name = m_raw.connectionName();
        m_raw.close();
        m_raw = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
    }
    Db(const Db &) = delete;
    Db &operator=(const Db &) = delete;

    QString folder() const { return m_dir.path(); }
    QString blobType() const { return sqlite ? QStringLiteral("BLOB") : QStringLiteral("BYTEA"); }

    void exec(const QStringList &statements)
    {
        QSqlQuery q(m_raw);
        for (const QString &s : statements)
            if (!q.exec(s))
                qFatal("%s: %s", qPrintable(s.left(200)), qPrintable(q.lastError().text()));
    }
    // Every row of a query with bound values.
    QList<QVariantList> rows(const QString &sql, const QVariantList &values = {})
    {
        QSqlQuery q(m_raw);
        q.setForwardOnly(true);
        if (!q.prepare(sql))
            qFatal("%s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
        for (const QVariant &v : values)
            q.addBindValue(v);
        if (!q.exec())
            qFatal("%s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
        QList<QVariantList> out;
        while (q.next()) {
            out << TestUtil::rowValues(q);
        }
        return out;
    }
    QVariant scalar(const QString &sql, const QVariantList &values = {}) { return rows(sql, values).value(0).value(0); }
    int count(const QString &table) { return scalar(QStringLiteral("SELECT COUNT(*) FROM ") + table).toInt(); }

    // What must never change: the tables of the database and the canary's rows.
    QString untouchable()
    {
        QStringList tables = m_raw.tables(QSql::Tables);
        tables.sort();
        QStringList canary;
        for (const QVariantList &row : rows(QStringLiteral("SELECT ID, T FROM CANARY ORDER BY ID")))
            canary << row.value(0).toString() + u'=' + row.value(1).toString();
        return tables.join(u'|') + QStringLiteral(" / ") + canary.join(u'|');
    }
    // A digest of some rows (every column, NULL told from empty), to tell whether they changed.
    QByteArray digest(const QString &sql, const QVariantList &values = {})
    {
        QCryptographicHash hash(QCryptographicHash::Sha256);
        for (const QVariantList &row : rows(sql, values)) {
            for (const QVariant &v : row) {
                hash.addData(v.isNull() ? QByteArrayView("N") : QByteArrayView("V"));
                hash.addData(v.typeId() == QMetaType::QByteArray ? v.toByteArray() : v.toString().toUtf8());
                hash.addData(QByteArrayView("\x1f", 1));
            }
            hash.addData(QByteArrayView("\x1e", 1));
        }
        return hash.result().toHex();
    }

    void dsc(const QByteArray &text) { TestUtil::writeFile(m_dir.filePath(QStringLiteral("files.dsc")), text); }

    const bool sqlite;
    QString url;
    std::shared_ptr<Connection> conn;

private:
    static QString rawName()
    {
        static int n = 0;
        return QStringLiteral("hostile-raw-%1").arg(++n);
    }
    QTemporaryDir m_dir;
    QSqlDatabase m_raw;
};

bool plainAscii(const QString &text)
{
    if (text.size() > 100)
        return false;
    for (QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            return false;
    return true;
}

// Puts a text into a field as a user does: short plain texts are typed, the others pasted.
void enter(FrmEditTab &editor, const QString &name, const QString &text)
{
    QWidget *w = control(editor, name);
    editor.CTRLSETFOCUS(w);
    QTRY_VERIFY(w->hasFocus());
    if (auto *e = qobject_cast<QLineEdit *>(w)) {
        e->selectAll();
        if (text.isEmpty())
            QTest::keyClick(e, Qt::Key_Delete);
        else if (plainAscii(text))
            QTest::keyClicks(e, text);
        else
            e->insert(text); // as a paste does
    } else if (auto *m = qobject_cast<QPlainTextEdit *>(w)) {
        m->selectAll();
        m->insertPlainText(text);
    } else {
        QFAIL(qPrintable(QStringLiteral("%1 is not a text control").arg(name)));
    }
}

// Leaves the field with Tab, from a line edit (a memo takes Tab as a character).
void leave(FrmEditTab &editor)
{
    QWidget *w = editor.focusWidget();
    QVERIFY(w && !qobject_cast<QPlainTextEdit *>(w));
    QTest::keyClick(w, Qt::Key_Tab);
}

} // namespace

namespace {

// Keeps the text of each statement SQLite starts.
int traceStatement(unsigned, void *context, void *statement, void *)
{
    static_cast<QStringList *>(context)->append(QString::fromUtf8(sqlite3_sql(static_cast<sqlite3_stmt *>(statement))));
    return 0;
}

} // namespace

class TstHostile : public QObject
{
    Q_OBJECT

    std::shared_ptr<RecordingMessageService> m_messages;

    QStringList texts() const { return TestUtil::messageTexts(*m_messages); }

    void open(FrmEditTab &editor, Db &db, const QString &record, std::optional<QString> key = std::nullopt)
    {
        TestUtil::startShown(editor, db.url, db.folder(), record, key);
    }

private slots:
    void init() { m_messages = TestUtil::freshUser(); }
    void cleanup() { setMessageService(nullptr); }
    void cleanupTestCase() { postgresOfTheRun().reset(); }

    // ---- values ----------------------------------------------------------------------------

    // A text through every path of the editor: a new row typed or pasted, the record list, a
    // change, the editor opened on its key, the data layer's search and a delete.
    void valuesThroughTheEditor_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("value");
        const QList<QPair<const char *, QString>> values{
            {"apostrophe", QStringLiteral("O'Brien")},
            {"double quotes", QStringLiteral("\"tra virgolette\"")},
            {"statement", QStringLiteral("x'); DELETE FROM CANARY; --")},
            {"comment", QStringLiteral("a /* b */ c -- d")},
            {"brackets", QStringLiteral("[x] ]y[")},
            {"comma", QStringLiteral("a,b")},
            {"wildcards", QStringLiteral("100% a_b")},
            {"backslashes", QStringLiteral("C:\\dir\\ \\' \\\\")},
            {"unicode", QStringLiteral("àèìòù € ✓ 日本 \U0001F600")},
            {"nul", withNul(QStringLiteral("prima"), QStringLiteral("dopo"))},
        };
        for (const char *backend : {"sqlite", "postgresql"})
            for (const auto &[name, value] : values)
                QTest::addRow("%s %s", backend, name) << QString::fromLatin1(backend) << value;
    }
    void valuesThroughTheEditor()
    {
        QFETCH(QString, backend);
        QFETCH(QString, value);
        Db db(backend);
        db.exec({QStringLiteral("CREATE TABLE VOCI (CODICE VARCHAR(200) PRIMARY KEY, DESCR VARCHAR(200), NOTE TEXT, DATI %1)")
                     .arg(db.blobType())});
        db.rows(QStringLiteral("INSERT INTO VOCI VALUES ('base', 'Base', 'nota', ?)"), {QByteArray("\0\xff", 2)});
        db.dsc("RECORD,VOCI,Voci,1\n"
               "CAMPO,CODICE,Codice,TEXT,200\n"
               "CAMPO,DESCR,Descrizione,TEXT,200\n"
               "CAMPO,NOTE,Note,MEMO\n"
               "CAMPO,DATI,Allegato,BINARY\n"
               "INDICE,PK,+CODICE,-1,-1\n");
        const QString safe = db.untouchable();
        const QString baseRow = QStringLiteral("SELECT * FROM VOCI WHERE CODICE = 'base'");
        const QByteArray base = db.digest(baseRow);
        const QString memo = value + u'\n' + value;

        // A new row, typed or pasted as a user does.
        FrmEditTab editor;
        open(editor, db, QStringLiteral("VOCI"));
        press(editor, 0);
        enter(editor, QStringLiteral("TxtMemo3"), memo);
        enter(editor, QStringLiteral("TxtText1"), value);
        enter(editor, QStringLiteral("TxtText2"), value);
        leave(editor);
        QCOMPARE(FrmEditTab::controlText(control(editor, QStringLiteral("TxtText1"))), value);
        QCOMPARE(FrmEditTab::controlText(control(editor, QStringLiteral("TxtText2"))), value);
        QCOMPARE(FrmEditTab::controlText(control(editor, QStringLiteral("TxtMemo3"))), memo);
        press(editor, 1);
        QCOMPARE(db.untouchable(), safe);
        QCOMPARE(db.digest(baseRow), base);

        if (value.contains(QChar(0))) {
            // No database keeps it the same way: refused on both, saying why, and nothing typed is lost.
            QCOMPARE(texts().size(), 1);
            QVERIFY2(texts().first().contains(QStringLiteral("carattere nullo")), qPrintable(texts().first()));
            QVERIFY2(readable(texts().first()), qPrintable(texts().first()));
            QCOMPARE(db.count(QStringLiteral("VOCI")), 1);
            QCOMPARE(editor.EditRecordset()->editMode(), EditMode::Add);
            QCOMPARE(FrmEditTab::controlText(control(editor, QStringLiteral("TxtText1"))), value);
            // The data layer refuses it as a value and as a search criterion.
            Recordset rs(db.conn, RecordSource::wholeTable(QStringLiteral("VOCI")), {QStringLiteral("CODICE")},
                         CursorIntent::Change);
            auto error = TestUtil::thrownBy<DataError>([&] {
                rs.AddNew();
                rs.setValue(QStringLiteral("DESCR"), value);
            });
            QVERIFY(error);
            QCOMPARE(error->number(), int(DataError::ConversionFailed));
            QVERIFY2(readable(error->description()), qPrintable(error->description()));
            rs.CancelUpdate();
            rs.MoveFirst();
            QVERIFY(!rs.Find({{QStringLiteral("CODICE"), value}})); // searched for, it is found nowhere
            QVERIFY(rs.Eof());
            // Opened on it as a key, the editor shows its first row: no row has that key.
            m_messages->clear();
            {
                FrmEditTab byKey;
                open(byKey, db, QStringLiteral("VOCI"), value);
                QVERIFY2(texts().isEmpty(), qPrintable(texts().join(u'|')));
                QCOMPARE(FrmEditTab::controlText(control(byKey, QStringLiteral("TxtText1"))), u"base");
            }
            QCOMPARE(db.count(QStringLiteral("VOCI")), 1);
            QCOMPARE(db.untouchable(), safe);
            if (!db.sqlite)
                return;
            // A NUL another program stored in SQLite is read, found and kept as it is while
            // another field of its row changes.
            db.rows(QStringLiteral("INSERT INTO VOCI (CODICE, DESCR) VALUES (?, ?)"), {value, value});
            FrmEditTab legacy;
            open(legacy, db, QStringLiteral("VOCI"), value);
            QCOMPARE(FrmEditTab::controlText(control(legacy, QStringLiteral("TxtText1"))), value);
            enter(legacy, QStringLiteral("TxtMemo3"), QStringLiteral("nota nuova"));
            enter(legacy, QStringLiteral("TxtText2"), QStringLiteral("x"));
            enter(legacy, QStringLiteral("TxtText2"), value); // typed back as it was
            leave(legacy);
            press(legacy, 1);
            QVERIFY2(texts().isEmpty(), qPrintable(texts().join(u'|')));
            QCOMPARE(db.rows(QStringLiteral("SELECT CODICE, DESCR, NOTE FROM VOCI WHERE CODICE = ?"), {value}),
                     QList<QVariantList>({{value, value, "nota nuova"}}));
            QCOMPARE(db.digest(baseRow), base);
            return;
        }

        QVERIFY2(texts().isEmpty(), qPrintable(texts().join(u'|')));
        const QString row = QStringLiteral("SELECT CODICE, DESCR, NOTE FROM VOCI WHERE CODICE = ?");
        QCOMPARE(db.rows(row, {value}), QList<QVariantList>({{value, value, memo}}));
        QVERIFY(db.scalar(QStringLiteral("SELECT DATI FROM VOCI WHERE CODICE = ?"), {value}).isNull());
        QCOMPARE(db.count(QStringLiteral("VOCI")), 2);
        QCOMPARE(Shared::LastInserted, value);

        // The record list shows it as it is.
        auto *list = editor.LstSelect();
        int line = list->rowOfKey({value});
        QVERIFY(line >= 0);
        QCOMPARE(list->lineAt(line), u'[' + value + QStringLiteral("] ") + value);

        // A change of its description, on its line.
        list->setCurrentRow(-1);
        list->setCurrentRow(line);
        QCOMPARE(FrmEditTab::controlText(control(editor, QStringLiteral("TxtText1"))), value);
        QCOMPARE(FrmEditTab::controlText(control(editor, QStringLiteral("TxtMemo3"))), memo);
        QString changed = u'«' + value + u'»';
        enter(editor, QStringLiteral("TxtText2"), changed);
        leave(editor);
        QVERIFY(editor.Modified());
        press(editor, 1);
        QVERIFY2(texts().isEmpty(), qPrintable(texts().join(u'|')));
        QCOMPARE(db.rows(row, {value}), QList<QVariantList>({{value, changed, memo}}));
        QCOMPARE(db.digest(baseRow), base);
        QCOMPARE(db.untouchable(), safe);

        // Opened on its key, the editor shows it (a comma separates key values: "a,b" names the row
        // "a", which does not exist, and the first row is shown).
        if (value.contains(u',')) {
            FrmEditTab byKey;
            open(byKey, db, QStringLiteral("VOCI"), value);
            QVERIFY2(texts().isEmpty(), qPrintable(texts().join(u'|')));
            const QString first = db.scalar(QStringLiteral("SELECT MIN(CODICE) FROM VOCI")).toString();
            QCOMPARE(FrmEditTab::controlText(control(byKey, QStringLiteral("TxtText1"))), first);
        } else {
            // A change saved there goes to that row.
            FrmEditTab byKey;
            open(byKey, db, QStringLiteral("VOCI"), value);
            QVERIFY2(texts().isEmpty(), qPrintable(texts().join(u'|')));
            QCOMPARE(FrmEditTab::controlText(control(byKey, QStringLiteral("TxtText1"))), value);
            QCOMPARE(FrmEditTab::controlText(control(byKey, QStringLiteral("TxtText2"))), changed);
            changed = value + QStringLiteral(" (2)");
            enter(byKey, QStringLiteral("TxtText2"), changed);
            leave(byKey);
            press(byKey, 1);
            QVERIFY2(texts().isEmpty(), qPrintable(texts().join(u'|')));
            QCOMPARE(db.rows(row, {value}), QList<QVariantList>({{value, changed, memo}}));
            QCOMPARE(db.digest(baseRow), base);
        }

        // The data layer's search finds it by equal values only, never as a pattern.
        Recordset rs(db.conn, RecordSource::wholeTable(QStringLiteral("VOCI")), {QStringLiteral("CODICE")}, CursorIntent::Read);
        QVERIFY(rs.Find({{QStringLiteral("CODICE"), value}}));
        QCOMPARE(rs.value(QStringLiteral("DESCR")).toString(), changed);
        rs.MoveFirst();
        QVERIFY(rs.Find({{QStringLiteral("DESCR"), changed}, {QStringLiteral("NOTE"), memo}}));
        QCOMPARE(rs.value(QStringLiteral("CODICE")).toString(), value);
        for (const QString &near : {value + u'%', QStringLiteral("%"), QStringLiteral("_"), QStringLiteral("*"), value + u' '}) {
            rs.MoveFirst();
            QVERIFY2(!rs.Find({{QStringLiteral("CODICE"), near}}), qPrintable(near));
        }

        // Deleted from its line: that row only.
        list->setCurrentRow(-1);
        list->setCurrentRow(list->rowOfKey({value}));
        m_messages->script({MsgAnswer::Ok});
        press(editor, 3);
        QCOMPARE(texts(), QStringList({"Sicuro di voler eliminare\nil record ?"}));
        QCOMPARE(db.count(QStringLiteral("VOCI")), 1);
        QCOMPARE(db.digest(baseRow), base);
        QCOMPARE(db.untouchable(), safe);
    }

    // The editor opened on a key text that no numeric key can hold shows the first row, as for
    // a key no row has, and a change saved there goes to that row only.
    void keyTextsNoNumberCanHold_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("key");
        const QList<QPair<const char *, QString>> keys{
            {"statement", QStringLiteral("2'; DELETE FROM CANARY; --")},
            {"letters", QStringLiteral("abc")},
            {"wildcard", QStringLiteral("%")},
            {"nul", withNul(QStringLiteral("2"), QString())},
            {"megabyte of digits", QString(1 << 20, u'9')},
        };
        for (const char *backend : {"sqlite", "postgresql"})
            for (const auto &[name, key] : keys)
                QTest::addRow("%s %s", backend, name) << QString::fromLatin1(backend) << key;
    }
    void keyTextsNoNumberCanHold()
    {
        QFETCH(QString, backend);
        QFETCH(QString, key);
        Db db(backend);
        db.exec({QStringLiteral("CREATE TABLE NUMERI (ID INTEGER PRIMARY KEY, T VARCHAR(20))"),
                 QStringLiteral("INSERT INTO NUMERI VALUES (1, 'uno')"), QStringLiteral("INSERT INTO NUMERI VALUES (2, 'due')")});
        db.dsc("RECORD,NUMERI,Numeri,1\nCAMPO,ID,Id,LONG,10\nCAMPO,T,Testo,TEXT,20\nINDICE,PK,+ID,-1,-1\n");
        const QString safe = db.untouchable();

        Recordset rs(db.conn, RecordSource::wholeTable(QStringLiteral("NUMERI")), {QStringLiteral("ID")}, CursorIntent::Read);
        const auto error = TestUtil::thrownBy<DataError>([&] { rs.Find({{QStringLiteral("ID"), key}}); });
        QVERIFY(error);
        QCOMPARE(error->number(), int(DataError::ConversionFailed));
        QVERIFY2(readable(error->description()), qPrintable(error->description().left(kMaxMessage)));

        FrmEditTab editor;
        open(editor, db, QStringLiteral("NUMERI"), key);
        QVERIFY2(texts().isEmpty(), qPrintable(texts().join(u'|').left(kMaxMessage)));
        QCOMPARE(FrmEditTab::controlText(control(editor, QStringLiteral("TxtNumeric1"))), u"1");
        QCOMPARE(FrmEditTab::controlText(control(editor, QStringLiteral("TxtText2"))), u"uno");
        enter(editor, QStringLiteral("TxtText2"), QStringLiteral("uno bis"));
        leave(editor);
        press(editor, 1);
        QVERIFY2(texts().isEmpty(), qPrintable(texts().join(u'|')));
        QCOMPARE(db.rows(QStringLiteral("SELECT ID, T FROM NUMERI ORDER BY ID")), QList<QVariantList>({{1, "uno bis"}, {2, "due"}}));
        QCOMPARE(db.untouchable(), safe);
    }

    // Megabyte texts, and texts a text box cannot show as they are stored (longer than the field,
    // line ends and blanks a memo rewrites): stored exactly, never cut or rewritten when another
    // field of their row changes.
    void longAndUnshowableTexts_data() { backends(); }
    void longAndUnshowableTexts()
    {
        QFETCH(QString, backend);
        Db db(backend);
        db.exec({QStringLiteral("CREATE TABLE LUNGHI (CODICE TEXT PRIMARY KEY, DESCR TEXT, NOTE TEXT, STATO VARCHAR(10))")});
        const QString big = megabyteText();
        const QString odd = QStringLiteral("riga 1\r\nriga 2\rriga 3\u2028riga\u00A04\t ");
        db.rows(QStringLiteral("INSERT INTO LUNGHI VALUES ('esterno', ?, ?, 'a')"), {big, odd});
        db.dsc("RECORD,LUNGHI,Lunghi,1\n"
               "CAMPO,CODICE,Codice,TEXT,40\n"
               "CAMPO,DESCR,Descrizione,TEXT,200\n"
               "CAMPO,NOTE,Note,MEMO\n"
               "CAMPO,STATO,Stato,TEXT,40\n" // longer than its column: PostgreSQL refuses more than 10 characters
               "INDICE,PK,+CODICE,-1,-1\n");
        const QString safe = db.untouchable();
        const auto stored = [&](const QString &key) {
            return db.rows(QStringLiteral("SELECT DESCR, NOTE, STATO FROM LUNGHI WHERE CODICE = ?"), {key}).value(0);
        };

        // The row another program wrote: another field changes, the long text and the memo stay.
        FrmEditTab editor;
        open(editor, db, QStringLiteral("LUNGHI"));
        QCOMPARE(FrmEditTab::controlText(control(editor, QStringLiteral("TxtText1"))), u"esterno");
        // The list shows the start of the long text, not a megabyte line.
        QVERIFY(editor.LstSelect()->lineAt(0).startsWith(QStringLiteral("[esterno] ") + big.left(100)));
        QVERIFY(editor.LstSelect()->lineAt(0).size() < 1000);
        enter(editor, QStringLiteral("TxtText4"), QStringLiteral("b"));
        leave(editor);
        press(editor, 1);
        QVERIFY2(texts().isEmpty(), qPrintable(texts().join(u'|')));
        QVariantList row = stored(QStringLiteral("esterno"));
        QVERIFY2(row.value(0).toString() == big, "the long text changed");
        QCOMPARE(row.value(1).toString(), odd);
        QCOMPARE(row.value(2).toString(), u"b");

        // A new row with a megabyte memo, pasted, and a text too long for its column: stored
        // exactly, or refused saying what the database said, the new row kept as typed.
        press(editor, 0);
        enter(editor, QStringLiteral("TxtMemo3"), big);
        enter(editor, QStringLiteral("TxtText1"), QStringLiteral("nuovo"));
        enter(editor, QStringLiteral("TxtText2"), QStringLiteral("breve"));
        const QString tooLong = QStringLiteral("più di dieci caratteri");
        enter(editor, QStringLiteral("TxtText4"), tooLong);
        leave(editor);
        m_messages->script({MsgAnswer::No}); // stay in the editor
        press(editor, 1);
        if (!db.sqlite) {
            QCOMPARE(texts().size(), 1);
            const Message said = m_messages->messages().first();
            QVERIFY2(said.title.contains(QStringLiteral("22001")), qPrintable(said.title)); // the database's "value too long"
            QVERIFY2(readable(said.title), qPrintable(said.title));
            QCOMPARE(editor.EditRecordset()->editMode(), EditMode::Add);
            QVERIFY(db.scalar(QStringLiteral("SELECT COUNT(*) FROM LUNGHI WHERE CODICE = 'nuovo'")).toInt() == 0);
            QVERIFY(FrmEditTab::controlText(control(editor, QStringLiteral("TxtMemo3"))) == big);
            m_messages->clear();
            enter(editor, QStringLiteral("TxtText4"), QStringLiteral("breve"));
            leave(editor);
            press(editor, 1);
        }
        QVERIFY2(texts().isEmpty(), qPrintable(texts().join(u'|')));
        row = stored(QStringLiteral("nuovo"));
        QCOMPARE(row.value(0).toString(), u"breve");
        QVERIFY2(row.value(1).toString() == big, "the megabyte memo was not stored exactly");
        QCOMPARE(row.value(2).toString(), db.sqlite ? tooLong : QStringLiteral("breve"));

        // A megabyte key: SQLite keeps it; PostgreSQL cannot index it and says so, storing nothing.
        QString bigKey = big;
        bigKey.replace(u',', u';'); // a comma would separate key values in the editor's key text
        const int before = db.count(QStringLiteral("LUNGHI"));
        {
            Recordset rs(db.conn, RecordSource::wholeTable(QStringLiteral("LUNGHI")), {QStringLiteral("CODICE")},
                         CursorIntent::Change);
            rs.AddNew();
            rs.setValue(QStringLiteral("CODICE"), bigKey);
            rs.setValue(QStringLiteral("DESCR"), QStringLiteral("chiave lunga"));
            const auto error = TestUtil::thrownBy<DataError>([&] { rs.Update(); });
            if (db.sqlite) {
                QVERIFY2(!error, error ? qPrintable(error->description()) : "");
                QVERIFY(db.scalar(QStringLiteral("SELECT COUNT(*) FROM LUNGHI WHERE CODICE = ?"), {bigKey}).toInt() == 1);
                rs.MoveFirst();
                QVERIFY(rs.Find({{QStringLiteral("CODICE"), bigKey}}));
                QCOMPARE(rs.value(QStringLiteral("DESCR")).toString(), u"chiave lunga");
            } else {
                QVERIFY(error);
                QVERIFY2(readable(error->description()), qPrintable(error->description().left(kMaxMessage)));
                QCOMPARE(db.count(QStringLiteral("LUNGHI")), before);
                rs.CancelUpdate();
                rs.MoveFirst();
                QVERIFY(!rs.Find({{QStringLiteral("CODICE"), bigKey}}));
            }
            rs.MoveFirst();
            QVERIFY(!rs.Find({{QStringLiteral("DESCR"), big + u'x'}}));
        }
        QCOMPARE(db.untouchable(), safe);
        if (!db.sqlite)
            return;

        // The editor opened on that key shows its row; a change of another field leaves the key
        // (longer than the key field can show) as it is, and the row is deleted whole.
        FrmEditTab byKey;
        open(byKey, db, QStringLiteral("LUNGHI"), bigKey);
        QCOMPARE(FrmEditTab::controlText(control(byKey, QStringLiteral("TxtText2"))), u"chiave lunga");
        enter(byKey, QStringLiteral("TxtText4"), QStringLiteral("c"));
        leave(byKey);
        press(byKey, 1);
        QVERIFY2(texts().isEmpty(), qPrintable(texts().join(u'|')));
        QCOMPARE(db.scalar(QStringLiteral("SELECT STATO FROM LUNGHI WHERE CODICE = ?"), {bigKey}).toString(), u"c");
        m_messages->script({MsgAnswer::Ok});
        press(byKey, 3);
        QCOMPARE(db.scalar(QStringLiteral("SELECT COUNT(*) FROM LUNGHI WHERE CODICE = ?"), {bigKey}).toInt(), 0);
        QCOMPARE(db.count(QStringLiteral("LUNGHI")), before);
        QCOMPARE(db.untouchable(), safe);
    }

    // A completing lookup searches the codes starting with what is typed: wildcards and quotes
    // typed are characters, never patterns.
    void lookupCompletionTakesTypedTextLiterally_data() { backends(); }
    void lookupCompletionTakesTypedTextLiterally()
    {
        QFETCH(QString, backend);
        Db db(backend);
        db.exec({QStringLiteral("CREATE TABLE ARTICOLI (COD VARCHAR(12) PRIMARY KEY, NOME VARCHAR(40))"),
                 db.sqlite ? QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2100) "
                                            "INSERT INTO ARTICOLI SELECT '10' || i, 'Articolo ' || i FROM n")
                           : QStringLiteral("INSERT INTO ARTICOLI SELECT '10' || i, 'Articolo ' || i FROM generate_series(1, 2100) i"),
                 QStringLiteral("CREATE TABLE RIGHE (ID INTEGER PRIMARY KEY, ART VARCHAR(12))"),
                 QStringLiteral("INSERT INTO RIGHE VALUES (1, NULL)")});
        for (const QString &code : {QStringLiteral("10%"), QStringLiteral("10_1"), QStringLiteral("10!x"), QStringLiteral("10'q"),
                                    QStringLiteral("10\\z")})
            db.rows(QStringLiteral("INSERT INTO ARTICOLI VALUES (?, ?)"), {code, QStringLiteral("speciale ") + code});
        db.dsc("RECORD,RIGHE,Righe,1\nCAMPO,ID,Id,LONG,4\nCAMPO,ART,Articolo,TEXT,12,,,,,,ARTICOLI,NOME,CMBBOUNDED\n"
               "INDICE,PK,+ID,-1,-1\n");
        const QString safe = db.untouchable();
        FrmEditTab editor;
        open(editor, db, QStringLiteral("RIGHE"));
        auto *art = control<QComboBox>(editor, QStringLiteral("CmbBounded2"));
        QVERIFY(art->property("Completing").toBool());
        const auto itemsFor = [&](const QString &typed) {
            editor.CTRLSETFOCUS(art);
            art->lineEdit()->selectAll();
            QTest::keyClicks(art->lineEdit(), typed);
            QStringList items;
            for (int i = 0; i < art->count(); ++i)
                items << art->itemText(i);
            return items;
        };
        QCOMPARE(itemsFor(QStringLiteral("10%")), QStringList({"[10%] speciale 10%"}));
        QCOMPARE(itemsFor(QStringLiteral("10_")), QStringList({"[10_1] speciale 10_1"}));
        QCOMPARE(itemsFor(QStringLiteral("10!")), QStringList({"[10!x] speciale 10!x"}));
        QCOMPARE(itemsFor(QStringLiteral("10\\")), QStringList({"[10\\z] speciale 10\\z"}));
        QCOMPARE(itemsFor(QStringLiteral("10'")), QStringList({"[10'q] speciale 10'q"}));
        QTest::keyClicks(art->lineEdit(), QStringLiteral("q"));
        leave(editor);
        QCOMPARE(FrmEditTab::controlText(control(editor, QStringLiteral("TxtText2"))), u"10'q");
        press(editor, 1);
        QVERIFY2(texts().isEmpty(), qPrintable(texts().join(u'|')));
        QCOMPARE(db.scalar(QStringLiteral("SELECT ART FROM RIGHE WHERE ID = 1")).toString(), u"10'q");
        QCOMPARE(db.untouchable(), safe);
    }

    // ---- names -----------------------------------------------------------------------------

    // Real tables and columns whose names need quoting, written in a descriptor (which cannot hold
    // a comma or, in a key column, a semicolon): listed, shown, inserted, changed, deleted, and
    // looked up from another table.
    void oddNamesWorkEndToEnd_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");
        const struct
        {
            const char *name;
            QString table, key, text;
        } cases[] = {
            {"quotes", QStringLiteral("Voci \"speciali\" d'autore"), QStringLiteral("Codice \"k\" 'x'"), QStringLiteral("Testo 'v' \"w\"")},
            {"statements", QStringLiteral("t\"; DROP TABLE CANARY; --"), QStringLiteral("k /* c */ --"),
             QStringLiteral("v'); DELETE FROM CANARY; --")},
            {"brackets", QStringLiteral("[voci] ]x["), QStringLiteral("[codice]"), QStringLiteral("valore [v] ]")},
            {"dots and letter case", QStringLiteral("Archivio.Voci Miste"), QStringLiteral("Chiave.Mista"),
             QStringLiteral("Valore Misto")},
            {"reserved words", QStringLiteral("select"), QStringLiteral("from"), QStringLiteral("where")},
        };
        for (const char *backend : {"sqlite", "postgresql"})
            for (const auto &c : cases)
                QTest::addRow("%s %s", backend, c.name) << QString::fromLatin1(backend) << c.table << c.key << c.text;
    }
    void oddNamesWorkEndToEnd()
    {
        QFETCH(QString, backend);
        QFETCH(QString, table);
        QFETCH(QString, key);
        QFETCH(QString, text);
        Db db(backend);
        const QString t = quoteIdentifier(table), k = quoteIdentifier(key), v = quoteIdentifier(text);
        db.exec({QStringLiteral("CREATE TABLE %1 (%2 VARCHAR(20) PRIMARY KEY, %3 VARCHAR(40))").arg(t, k, v),
                 QStringLiteral("INSERT INTO %1 VALUES ('a''1', 'uno; --')").arg(t),
                 QStringLiteral("CREATE TABLE RIF (ID INTEGER PRIMARY KEY, REF VARCHAR(20))"),
                 QStringLiteral("INSERT INTO RIF VALUES (1, 'a''1')")});
        db.dsc(QStringLiteral("RECORD,%1,Strana,1\nCAMPO,%2,Codice,TEXT,20\nCAMPO,%3,Valore,TEXT,40\nINDICE,PK,+%2,-1,-1\n"
                              "RECORD,RIF,Riferimenti,1\nCAMPO,ID,Id,LONG,4\nCAMPO,REF,Voce,TEXT,20,,,,,,%1,%3,CMBBOUNDED\n"
                              "INDICE,PK,+ID,-1,-1\n")
                   .arg(table, key, text)
                   .toUtf8());
        const QString safe = db.untouchable();
        const QString select = QStringLiteral("SELECT %1, %2 FROM %3 ORDER BY %1").arg(k, v, t);

        FrmEditTab editor;
        open(editor, db, table);
        QVERIFY2(texts().isEmpty(), qPrintable(texts().join(u'|')));
        QCOMPARE(editor.LstSelect()->count(), 1);
        QCOMPARE(editor.LstSelect()->lineAt(0), u"[a'1] uno; --");
        QCOMPARE(FrmEditTab::controlText(control(editor, QStringLiteral("TxtText2"))), u"uno; --");

        press(editor, 0);
        enter(editor, QStringLiteral("TxtText1"), QStringLiteral("b\"2"));
        enter(editor, QStringLiteral("TxtText2"), QStringLiteral("due */"));
        leave(editor);
        press(editor, 1);
        QVERIFY2(texts().isEmpty(), qPrintable(texts().join(u'|')));
        QCOMPARE(db.rows(select), QList<QVariantList>({{"a'1", "uno; --"}, {"b\"2", "due */"}}));

        editor.LstSelect()->setCurrentRow(-1);
        editor.LstSelect()->setCurrentRow(0);
        enter(editor, QStringLiteral("TxtText2"), QStringLiteral("uno cambiato"));
        leave(editor);
        press(editor, 1);
        QVERIFY2(texts().isEmpty(), qPrintable(texts().join(u'|')));
        QCOMPARE(db.rows(select), QList<QVariantList>({{"a'1", "uno cambiato"}, {"b\"2", "due */"}}));

        editor.LstSelect()->setCurrentRow(-1);
        editor.LstSelect()->setCurrentRow(1);
        m_messages->script({MsgAnswer::Ok});
        press(editor, 3);
        QCOMPARE(texts(), QStringList({"Sicuro di voler eliminare\nil record ?"}));
        QCOMPARE(db.rows(select), QList<QVariantList>({{"a'1", "uno cambiato"}}));
        QCOMPARE(db.untouchable(), safe);

        // Looked up from another table.
        m_messages->clear();
        FrmEditTab rif;
        open(rif, db, QStringLiteral("RIF"));
        QVERIFY2(texts().isEmpty(), qPrintable(texts().join(u'|')));
        auto *combo = control<QComboBox>(rif, QStringLiteral("CmbBounded2"));
        QCOMPARE(combo->count(), 1);
        QCOMPARE(combo->currentText(), u"[a'1] uno cambiato");
    }

    // Names a database lacks, in a descriptor or handed to the data layer: refused before any
    // statement uses them, with a message that names the problem in a few readable words.
    void badNamesAreRefused_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("name");
        const QList<QPair<const char *, QString>> names{
            {"statement", QStringLiteral("VOCI\"; DROP TABLE CANARY; --")},
            {"bracket", QStringLiteral("VOCI]")},
            {"comma", QStringLiteral("a,b")},
            {"nul", withNul(QStringLiteral("VOCI"), QStringLiteral("x"))},
            {"megabyte", QString(1 << 20, u'V')},
        };
        for (const char *backend : {"sqlite", "postgresql"})
            for (const auto &[label, name] : names)
                QTest::addRow("%s %s", backend, label) << QString::fromLatin1(backend) << name;
    }
    void badNamesAreRefused()
    {
        QFETCH(QString, backend);
        QFETCH(QString, name);
        Db db(backend);
        db.exec({QStringLiteral("CREATE TABLE VOCI (CODICE VARCHAR(20) PRIMARY KEY, DESCR VARCHAR(40))"),
                 QStringLiteral("INSERT INTO VOCI VALUES ('a', 'uno')")});
        const QString safe = db.untouchable();
        const QString voci = QStringLiteral("SELECT * FROM VOCI");
        const QByteArray rows = db.digest(voci);
        const auto refused = [&](const std::function<void()> &f, const char *what) {
            const auto error = TestUtil::thrownBy<DataError>(f);
            QVERIFY2(error, what);
            QVERIFY2(error->number() == DataError::BadIdentifier,
                     qPrintable(QStringLiteral("%1: %2 %3").arg(QLatin1String(what)).arg(error->number()).arg(error->description().left(200))));
            QVERIFY2(readable(error->description()), qPrintable(error->description().left(kMaxMessage)));
        };
        const auto source = RecordSource::wholeTable(QStringLiteral("VOCI"));
        const QString codice = QStringLiteral("CODICE");

        // The data layer. On SQLite every statement it runs is traced: none may hold the name.
        QStringList traced;
        sqlite3 *handle = nullptr;
        if (backend == u"sqlite") {
            const QVariant h = db.conn->database().driver()->handle();
            QVERIFY(h.isValid() && qstrcmp(h.typeName(), "sqlite3*") == 0);
            handle = *static_cast<sqlite3 *const *>(h.data());
            sqlite3_trace_v2(handle, SQLITE_TRACE_STMT, &traceStatement, &traced);
        }
        refused([&] { Recordset(db.conn, RecordSource::wholeTable(name)); }, "table");
        refused([&] { Recordset(db.conn, source, {name}); }, "key column");
        refused([&] { Recordset(db.conn, RecordSource{QStringLiteral("VOCI"), {{name, 1}}}); }, "narrowing column");
        Recordset rs(db.conn, source, {codice}, CursorIntent::Change);
        refused([&] { rs.Find({{name, QStringLiteral("a")}}); }, "search column");
        refused([&] { rs.setValue(name, QStringLiteral("x")); }, "column set");
        refused([&] { rs.value(name); }, "column read");
        refused([&] { RecordListModel(db.conn, name, {}, QString()); }, "list table");
        refused([&] { RecordListModel(db.conn, QStringLiteral("VOCI"), {}, name); }, "list description");
        refused([&] { ProssimoValore(name, source, db.url); }, "counter column");
        if (name.contains(QChar(0)))
            refused([&] { quoteIdentifier(name); }, "quoted");
        if (handle) {
            sqlite3_trace_v2(handle, 0, nullptr, nullptr);
            QVERIFY(!traced.isEmpty()); // the real table was read, so the trace works
            for (const QString &sql : std::as_const(traced))
                QVERIFY2(!sql.contains(name), qPrintable(sql.left(200)));
        }
        QCOMPARE(db.digest(voci), rows);
        QCOMPARE(db.untouchable(), safe);

        // A descriptor naming a table, a field, a key or a lookup table the database lacks. The
        // descriptor format splits at commas: "a,b" cannot be written in it.
        if (name.contains(u','))
            return;
        const QByteArray n = name.toUtf8();
        const QList<QPair<const char *, QByteArray>> descriptors{
            {"table", "RECORD," + n + ",T,1\nCAMPO,CODICE,Codice,TEXT,20\nINDICE,PK,+CODICE,-1,-1\n"},
            {"field", "RECORD,VOCI,Voci,1\nCAMPO,CODICE,Codice,TEXT,20\nCAMPO," + n + ",Altro,TEXT,20\nINDICE,PK,+CODICE,-1,-1\n"},
            {"key", "RECORD,VOCI,Voci,1\nCAMPO,CODICE,Codice,TEXT,20\nINDICE,PK,+" + n + ",-1,-1\n"},
            {"lookup", "RECORD,VOCI,Voci,1\nCAMPO,CODICE,Codice,TEXT,20\nCAMPO,DESCR,Descrizione,TEXT,40,,,,,," + n
                           + ",X,CMBBOUNDED\nINDICE,PK,+CODICE,-1,-1\n"},
        };
        for (const auto &[what, text] : descriptors) {
            m_messages->clear();
            db.dsc(text);
            const QString record = QString::fromLatin1(what) == u"table" ? name : QStringLiteral("VOCI");
            FrmEditTab editor;
            QStringList said;
            try {
                editor.START(db.url, db.folder(), QString(), record, QString(), QString(), false);
            } catch (const Error &e) {
                said << e.message();
            }
            said << texts();
            QVERIFY2(!said.isEmpty(), what);
            for (const QString &message : std::as_const(said))
                QVERIFY2(readable(message), qPrintable(QStringLiteral("%1: %2").arg(QLatin1String(what), message.left(kMaxMessage))));
            if (QLatin1String(what) == "field") {
                // The table is there: the editor opens, told, with the field locked even on a new row.
                QVERIFY(editor.CanShow());
                editor.show();
                QVERIFY(QTest::qWaitForWindowActive(&editor));
                editor.CmdButton_Click(0);
                int locked = 0;
                for (QWidget *w : editor.findChildren<QWidget *>())
                    if (w->property("DataField").toString() == name)
                        locked += w->isEnabled() ? 0 : 1;
                QCOMPARE(locked, 1);
                editor.CmdButton_Click(2);
            } else if (editor.CanShow()) {
                // Shown without data: nothing it offers writes anything.
                editor.show();
                QVERIFY(QTest::qWaitForWindowActive(&editor));
                m_messages->script({MsgAnswer::No, MsgAnswer::No, MsgAnswer::No});
                editor.CmdButton_Click(0);
                editor.CmdButton_Click(1);
                editor.CmdButton_Click(3);
            }
            QCOMPARE(db.digest(voci), rows);
            QCOMPARE(db.untouchable(), safe);
        }
    }

    // ---- connection strings ----------------------------------------------------------------

    // Placeholders: {dir} (holding main.db, other.db and the file named in {odd}), {host}, {port},
    // {user}, {password}, {db} (a fresh PostgreSQL database), {oddpg} (a database named with quotes
    // and connection-string syntax), {long63} (a database with a 63-byte name). `opens` is what the
    // string must open ("main", "other", "odd" for SQLite files by their marker, or a PostgreSQL
    // database by its placeholder); empty when it must be refused.
    void connectionStrings_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("opens");
        const QString none;
        const QString pg = QStringLiteral("Driver=postgresql;Server={host};Port={port};User={user};Password='{password}';");
        const QString nul(QChar(0));
        const QString mega(1 << 20, u'x');

        // SQLite files.
        QTest::newRow("quoted ; Database=") << "Driver=sqlite;Database=\"{dir}/main.db;Database={dir}/other.db\"" << none;
        QTest::newRow("Database twice") << "Database={dir}/main.db;Database={dir}/other.db" << none;
        QTest::newRow("odd file name") << "Driver=sqlite;Database=\"{dir}/{oddq}\"" << "odd";
        QTest::newRow("odd file name, url") << "sqlite://{dir}/{oddurl}" << "odd";
        QTest::newRow("url option smuggled") << "sqlite://{dir}/main.db?mode=rwc" << none;
        QTest::newRow("url encoded ?") << "sqlite://{dir}/main.db%3Fmode%3Dmemory" << none;
        QTest::newRow("legacy provider, Database ignored")
            << "Provider=Microsoft.Jet.OLEDB.4.0;Data Source={dir}/main.db;Database={dir}/other.db" << "main";
        QTest::newRow("NUL in file name") << "Database={dir}/main.db" + nul + "/../other.db" << none;
        QTest::newRow("NUL in url") << "sqlite://{dir}/main.db%00/../other.db" << none;
        QTest::newRow("megabyte file name") << "Database={dir}/" + mega + ".db" << none;
        QTest::newRow("megabyte option") << "Database={dir}/main.db;Options=" + mega << none;
        QTest::newRow("megabyte key") << mega + "=1;Database={dir}/main.db" << none;
        QTest::newRow("megabyte of ;") << QString(1 << 20, u';') + "=" << none;

        // PostgreSQL.
        QTest::newRow("pg database with quotes") << pg + "Database=\"{oddpgq}\"" << "{oddpg}";
        QTest::newRow("pg database with quotes, url") << "postgresql://{user}:{password}@{host}:{port}/{oddpgurl}" << "{oddpg}";
        QTest::newRow("pg dbname= in Database") << pg + "Database=\"{db}' dbname='postgres\"" << none;
        QTest::newRow("pg dbname= in url path") << "postgresql://{user}:{password}@{host}:{port}/{db}%20dbname=postgres" << none;
        QTest::newRow("pg ;Database= in url path") << "postgresql://{user}:{password}@{host}:{port}/{db};Database=postgres" << none;
        QTest::newRow("pg dbname= in Options") << pg + "Database={db};Options='dbname=postgres'" << none;
        QTest::newRow("pg host= in Options") << pg + "Database={db};Options='application_name=x host=evil'" << none;
        QTest::newRow("pg host= in Server") << "Driver=postgresql;Server='{host} dbname=postgres';Port={port};User={user};"
                                                "Password='{password}';Database={db}"
                                             << none;
        QTest::newRow("pg dbname= in User") << "Driver=postgresql;Server={host};Port={port};User=\"{user}' dbname='postgres\";"
                                               "Password='{password}';Database={db}"
                                            << none;
        QTest::newRow("pg NUL in Database") << pg + "Database={db}" + nul + "x" << none;
        QTest::newRow("pg NUL in password") << "Driver=postgresql;Server={host};Port={port};User={user};Password='{password}" + nul
                                                   + "x';Database={db}"
                                            << none;
        QTest::newRow("pg megabyte Database") << pg + "Database=" + mega << none;
        QTest::newRow("pg megabyte password") << "postgresql://{user}:" + mega + "@127.0.0.1:1/{db}" << none;
        QTest::newRow("pg name cut at 63 bytes") << pg + "Database={long63}_altro" << none;
    }
    void connectionStrings()
    {
        QFETCH(QString, text);
        QFETCH(QString, opens);
        QTemporaryDir dir;
        const auto makeSqlite = [&](const QString &file, const QString &marker) {
            const QString connection = QStringLiteral("hostile-make");
            {
                QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
                db.setDatabaseName(dir.filePath(file));
                QVERIFY(db.open());
                QSqlQuery q(db);
                QVERIFY(q.exec(QStringLiteral("CREATE TABLE MARKER (M VARCHAR(10))")));
                QVERIFY(q.exec(QStringLiteral("INSERT INTO MARKER VALUES ('%1')").arg(marker)));
            }
            QSqlDatabase::removeDatabase(connection);
        };
        const QString oddFile = QStringLiteral("it's;a \"db\" %.db");
        makeSqlite(QStringLiteral("main.db"), QStringLiteral("main"));
        makeSqlite(QStringLiteral("other.db"), QStringLiteral("other"));
        makeSqlite(oddFile, QStringLiteral("odd"));
        text.replace(QStringLiteral("{dir}"), dir.path())
            .replace(QStringLiteral("{oddq}"), QString(oddFile).replace(u'"', QStringLiteral("\"\"")))
            .replace(QStringLiteral("{oddurl}"), QString::fromLatin1(QUrl::toPercentEncoding(oddFile)));

        // The PostgreSQL cases use the run's database, and more databases when they name them.
        QString password;
        QStringList dropLater;
        std::shared_ptr<Connection> admin;
        const QString oddPg = QStringLiteral("norvix ' dbname='postgres' \"x\";Database=postgres");
        const QString long63 = QStringLiteral("n").repeated(63);
        if (text.contains(u'{')) {
            const TestUtil::PgDatabase *pg = &sharedPostgres();
            password = pg->password();
            admin = Connection::open(pg->url());
            QSqlQuery q(admin->database());
            const QStringList names{oddPg + u'_' + pg->name().right(8), pg->name() + long63.left(63 - pg->name().size())};
            for (const QString &name : names) {
                if (!text.contains(name == names[0] ? QStringLiteral("{oddpg") : QStringLiteral("{long63}")))
                    continue;
                QVERIFY2(q.exec(QStringLiteral("CREATE DATABASE %1").arg(quoteIdentifier(name))), qPrintable(q.lastError().text()));
                dropLater << name;
            }
            text.replace(QStringLiteral("{host}"), pg->host())
                .replace(QStringLiteral("{port}"), QString::number(pg->port()))
                .replace(QStringLiteral("{user}"), pg->user())
                .replace(QStringLiteral("{password}"), password)
                .replace(QStringLiteral("{db}"), pg->name())
                .replace(QStringLiteral("{oddpgq}"), QString(names[0]).replace(u'"', QStringLiteral("\"\"")))
                .replace(QStringLiteral("{oddpgurl}"), QString::fromLatin1(QUrl::toPercentEncoding(names[0])))
                .replace(QStringLiteral("{long63}"), names[1]);
            opens.replace(QStringLiteral("{oddpg}"), names[0]);
        }
        const auto dropDatabases = qScopeGuard([&] {
            if (!admin)
                return;
            QSqlQuery q(admin->database());
            for (const QString &name : std::as_const(dropLater))
                if (!q.exec(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(quoteIdentifier(name))))
                    qWarning("cannot drop %s: %s", qPrintable(name), qPrintable(q.lastError().text()));
            admin->Close();
        });

        const QStringList connectionsBefore = QSqlDatabase::connectionNames();
        const QStringList filesBefore = QDir(dir.path()).entryList(QDir::Files);
        std::shared_ptr<Connection> c;
        const auto error = TestUtil::thrownBy<DataError>([&] { c = Connection::open(text, dir.path(), QString()); });
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).filter(QStringLiteral(".db")).size(), 3); // no new database file
        if (opens.isEmpty()) {
            QString where;
            if (c) {
                QSqlQuery q(c->database());
                where = q.exec(c->dialect() == SqlDialect::Sqlite ? QStringLiteral("SELECT M FROM MARKER")
                                                                  : QStringLiteral("SELECT current_database()"))
                                && q.next()
                            ? q.value(0).toString()
                            : QStringLiteral("?");
                c->Close();
            }
            QVERIFY2(error, qPrintable(QStringLiteral("opened %1").arg(where)));
            if (!error)
                return;
            QVERIFY(error->number() == DataError::BadConnectionString || error->number() == DataError::ConnectionFailed);
            const QString message = error->description();
            if (!password.isEmpty())
                QVERIFY2(!message.contains(password), "the message shows the password");
            QVERIFY2(readable(message), qPrintable(message.left(300)));
            QCOMPARE(QSqlDatabase::connectionNames(), connectionsBefore);
        } else {
            QVERIFY2(!error, error ? qPrintable(error->description().left(300)) : "");
            QSqlQuery q(c->database());
            QVERIFY(q.exec(c->dialect() == SqlDialect::Sqlite ? QStringLiteral("SELECT M FROM MARKER")
                                                              : QStringLiteral("SELECT current_database()")));
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toString(), opens);
            q.finish();
            c->Close();
        }
    }
};

QTEST_MAIN(TstHostile)
#include "tst_hostile.moc"
