// Hostile input through the editor and the data layer, on SQLite and on PostgreSQL: texts that
// mean something to SQL or to the controls, names the database lacks or holds in odd spellings,
// NUL characters and megabyte-long texts. A canary table and the list of tables must stay as they
// were, values be stored exactly or refused with a readable message, and no other row change.
// (Hostile connection strings are tst_connection's.)

#include "backends.h"
#include "descriptor/prossimovalore.h"
#include "editor/recordlist.h"
#include "editordriver.h"

#include <QPlainTextEdit>
#include <QSqlDriver>

#include <sqlite3.h>

using namespace Norvix;
using TestUtil::backends;
using TestUtil::control;
using TestUtil::shown;
using TestUtil::leave;
using TestUtil::press;
using TestUtil::readable;

namespace {

// A fresh database of one back end holding the canary table.
struct Db : TestUtil::Backend
{
    explicit Db(const QString &backend) : Backend(backend)
    {
        exec({"CREATE TABLE CANARY (ID INTEGER PRIMARY KEY, T VARCHAR(40))",
              "INSERT INTO CANARY VALUES (1, 'intatto'), (2, 'O''Brien; -- /* */')"});
    }
    // What must never change: the tables of the database and the canary's rows.
    QString untouchable()
    {
        QStringList tables = conn->call([this] { return conn->database().tables(QSql::Tables); });
        tables.sort();
        for (const QVariantList &row : rows("SELECT ID, T FROM CANARY ORDER BY ID"))
            tables << row.value(0).toString() + u'=' + row.value(1).toString();
        return tables.join(u'|');
    }
};

// Puts a text into a field as a user does: short plain texts are typed, the others pasted.
void enter(FrmEditTab &editor, const QString &name, const QString &text)
{
    QWidget *w = control(editor, name);
    const bool plain = text.size() < 100 && std::all_of(text.begin(), text.end(), [](QChar c) {
                           return c.unicode() >= 0x20 && c.unicode() < 0x7f;
                       });
    if (auto *e = qobject_cast<QLineEdit *>(w); e && plain)
        return TestUtil::typeInto(editor, e, text);
    editor.CTRLSETFOCUS(w);
    QTRY_VERIFY(w->hasFocus());
    if (auto *m = qobject_cast<QPlainTextEdit *>(w)) {
        m->selectAll();
        m->insertPlainText(text);
    } else {
        control<QLineEdit>(editor, name)->selectAll();
        control<QLineEdit>(editor, name)->insert(text); // as a paste does
    }
}

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

    QString said() const { return TestUtil::messageTexts(*m_messages).join(u'|'); }
    void open(FrmEditTab &editor, Db &db, const QString &record, std::optional<QString> key = std::nullopt)
    {
        TestUtil::startShown(editor, db.connection, db.folder(), record, key);
    }

private slots:
    void init() { m_messages = TestUtil::freshUser(); }
    void cleanup() { setMessageService(nullptr); }

    // A text through the editor: a new row typed or pasted, the record list, the editor opened on
    // its key and a change saved there, and the data layer's search.
    void valuesThroughTheEditor_data()
    {
        backends<QString>("value", {{"apostrophe", "O'Brien"}, {"double quotes", "\"tra virgolette\""},
                                    {"statement", "x'); DELETE FROM CANARY; --"}, {"comment", "a /* b */ c -- d"},
                                    {"brackets", "[x] ]y["}, {"comma", "a,b"}, {"wildcards", "100% a_b"},
                                    {"backslashes", "C:\\dir\\ \\' \\\\"}, {"unicode", "àèìòù € ✓ 日本 \U0001F600"},
                                    {"nul", QString("prima") + QChar(0) + "dopo"}});
    }
    void valuesThroughTheEditor()
    {
        QFETCH(QString, backend);
        QFETCH(QString, value);
        Db db(backend);
        db.exec({"CREATE TABLE VOCI (CODICE VARCHAR(200) PRIMARY KEY, DESCR VARCHAR(200), NOTE TEXT)",
                 "INSERT INTO VOCI VALUES ('base', 'Base', NULL)"});
        db.dsc("RECORD,VOCI,Voci,1\nCAMPO,CODICE,Codice,TEXT,200\nCAMPO,DESCR,Descrizione,TEXT,200\n"
               "CAMPO,NOTE,Note,MEMO\nINDICE,PK,+CODICE,-1,-1\n");
        const QString safe = db.untouchable();
        const QString memo = value + u'\n' + value;
        const auto stored = [&](const QString &key) { return db.rows("SELECT * FROM VOCI WHERE CODICE = ?", {key}); };
        const auto base = stored("base");

        FrmEditTab editor;
        open(editor, db, "VOCI");
        press(editor, 0);
        enter(editor, "TxtMemo3", memo);
        enter(editor, "TxtText1", value);
        enter(editor, "TxtText2", value);
        leave(editor);
        QCOMPARE(QStringList({shown(editor, "TxtText1"), shown(editor, "TxtText2"), shown(editor, "TxtMemo3")}),
                 QStringList({value, value, memo}));
        press(editor, 1);
        Recordset rs(db.conn, RecordSource::wholeTable("VOCI"), {"CODICE"}, CursorIntent::Change);
        if (value.contains(QChar(0))) {
            // No database keeps it the same way: refused, saying why, and nothing typed is lost.
            QVERIFY2(said().contains("carattere nullo") && readable(said()), qPrintable(said()));
            QCOMPARE(editor.EditRecordset()->editMode(), EditMode::Add);
            QCOMPARE(shown(editor, "TxtText1"), value);
            rs.AddNew();
            QCOMPARE(TestUtil::errorOf([&] { rs.setValue("DESCR", value); }), int(DataError::ConversionFailed));
            QCOMPARE(db.scalar("SELECT COUNT(*) FROM VOCI").toInt(), 1);
        } else {
            QVERIFY2(said().isEmpty(), qPrintable(said()));
            QCOMPARE(stored(value), QList<QVariantList>({{value, value, memo}}));
            QCOMPARE(editor.LstSelect()->lineAt(editor.LstSelect()->rowOfKey({value})), u'[' + value + "] " + value);

            // Opened on its key, the editor shows that row and saves to it (a comma separates the
            // values of a key text: "a,b" cannot name one).
            if (!value.contains(u',')) {
                FrmEditTab byKey;
                open(byKey, db, "VOCI", value);
                QCOMPARE(shown(byKey, "TxtMemo3"), memo);
                enter(byKey, "TxtText2", value + " (2)");
                leave(byKey);
                press(byKey, 1);
                QCOMPARE(stored(value), QList<QVariantList>({{value, value + " (2)", memo}}));
            }

            // The data layer's search finds it by equal values only, never as a pattern.
            QVERIFY(rs.Find({{"CODICE", value}, {"NOTE", memo}}));
            for (const QString &near : {value + u'%', QString("%"), QString("_"), QString("*"), value + u' '}) {
                rs.MoveFirst();
                QVERIFY2(!rs.Find({{"CODICE", near}}), qPrintable(near));
            }

        }
        QCOMPARE(stored("base"), base);
        QCOMPARE(db.untouchable(), safe);
    }

    // Megabyte texts, and texts a text box cannot show as they are stored (line ends and blanks
    // a memo rewrites): stored exactly, never cut or rewritten when another field of their row
    // changes; the record list shows the start of a long one.
    void longAndUnshowableTexts_data() { backends(); }
    void longAndUnshowableTexts()
    {
        QFETCH(QString, backend);
        Db db(backend);
        const QString unit = "x'\";--/**/[],%_\\ àé€\n"; // what means something to SQL, over and over
        const QString big = unit.repeated((1 << 20) / unit.size() + 1).left(1 << 20);
        const QString odd = "riga 1\r\nriga 2\rriga 3\u2028riga\u00A04\t ";
        db.exec({"CREATE TABLE LUNGHI (CODICE TEXT PRIMARY KEY, DESCR TEXT, NOTE TEXT, STATO VARCHAR(10))"});
        db.rows("INSERT INTO LUNGHI VALUES ('esterno', ?, ?, 'a')", {big, odd});
        db.dsc("RECORD,LUNGHI,Lunghi,1\nCAMPO,CODICE,Codice,TEXT,40\nCAMPO,DESCR,Descrizione,TEXT,200\n"
               "CAMPO,NOTE,Note,MEMO\nCAMPO,STATO,Stato,TEXT,40\nINDICE,PK,+CODICE,-1,-1\n");
        const QString safe = db.untouchable();
        const auto stored = [&](const QString &key) {
            return db.rows("SELECT DESCR, NOTE, STATO FROM LUNGHI WHERE CODICE = ?", {key}).value(0);
        };
        FrmEditTab editor;
        open(editor, db, "LUNGHI");
        const QString line = editor.LstSelect()->lineAt(0);
        QVERIFY(line.startsWith("[esterno] " + big.left(100)) && line.size() < 1000);
        enter(editor, "TxtText4", "b");
        leave(editor);
        press(editor, 1);
        QVERIFY2(said().isEmpty(), qPrintable(said()));
        QVERIFY2(stored("esterno") == QVariantList({big, odd, "b"}), "the texts changed");

        // A new row with a megabyte memo, pasted, and a text too long for its column: stored
        // exactly, or refused saying what the database said, the new row kept as typed.
        press(editor, 0);
        enter(editor, "TxtMemo3", big);
        enter(editor, "TxtText1", "nuovo");
        enter(editor, "TxtText2", "breve");
        enter(editor, "TxtText4", "più di dieci");
        leave(editor);
        m_messages->script({MsgAnswer::No}); // stay in the editor
        press(editor, 1);
        if (!db.sqlite) { // PostgreSQL keeps 10 characters at most: "value too long", 22001
            QVERIFY2(m_messages->messages().value(0).title.contains("22001") && readable(said()), qPrintable(said()));
            QVERIFY(editor.EditRecordset()->editMode() == EditMode::Add && shown(editor, "TxtMemo3") == big);
            m_messages->clear();
            enter(editor, "TxtText4", "breve");
            leave(editor);
            press(editor, 1);
        }
        QVERIFY2(said().isEmpty(), qPrintable(said()));
        QVERIFY2(stored("nuovo") == QVariantList({"breve", big, db.sqlite ? "più di dieci" : "breve"}),
                 "the new row was not stored exactly");
        QCOMPARE(db.untouchable(), safe);
    }

    // Real tables and columns whose names need quoting, written in a descriptor (which cannot hold
    // a comma or, in a key column, a semicolon): listed, shown, inserted, changed, and looked up
    // from another table.
    void oddNamesWorkEndToEnd_data()
    {
        backends<QStringList>("names", // table, key, text
                              {{"quotes", {"Voci \"speciali\" d'autore", "Codice \"k\" 'x'", "Testo 'v' \"w\""}},
                               {"statements", {"t\"; DROP TABLE CANARY; --", "k /* c */", "v'); DELETE FROM CANARY"}},
                               {"brackets", {"[voci] ]x[", "[codice]", "valore [v] ]"}},
                               {"dots and letter case", {"Archivio.Voci Miste", "Chiave.Mista", "Valore Misto"}},
                               {"reserved words", {"select", "from", "where"}}});
    }
    void oddNamesWorkEndToEnd()
    {
        QFETCH(QString, backend);
        QFETCH(QStringList, names);
        Db db(backend);
        const QString t = quoteIdentifier(names[0]), k = quoteIdentifier(names[1]), v = quoteIdentifier(names[2]);
        db.exec({QStringLiteral("CREATE TABLE %1 (%2 VARCHAR(20) PRIMARY KEY, %3 VARCHAR(40))").arg(t, k, v),
                 QStringLiteral("INSERT INTO %1 VALUES ('a''1', 'uno; --')").arg(t),
                 "CREATE TABLE RIF (ID INTEGER PRIMARY KEY, REF VARCHAR(20))", "INSERT INTO RIF VALUES (1, 'a''1')"});
        db.dsc(QStringLiteral("RECORD,%1,Strana,1\nCAMPO,%2,Codice,TEXT,20\nCAMPO,%3,Valore,TEXT,40\n"
                              "INDICE,PK,+%2,-1,-1\nRECORD,RIF,Riferimenti,1\nCAMPO,ID,Id,LONG,4\n"
                              "CAMPO,REF,Voce,TEXT,20,,,,,,%1,%3,CMBBOUNDED\nINDICE,PK,+ID,-1,-1\n")
                   .arg(names[0], names[1], names[2]));
        const QString safe = db.untouchable();
        FrmEditTab editor;
        open(editor, db, names[0]);
        QCOMPARE(editor.LstSelect()->lineAt(0), u"[a'1] uno; --");
        QCOMPARE(shown(editor, "TxtText2"), u"uno; --");
        enter(editor, "TxtText2", "uno cambiato");
        leave(editor);
        press(editor, 1);
        press(editor, 0);
        enter(editor, "TxtText1", "b\"2");
        enter(editor, "TxtText2", "due */");
        leave(editor);
        press(editor, 1);
        QVERIFY2(said().isEmpty(), qPrintable(said()));
        QCOMPARE(db.rows(QStringLiteral("SELECT %1, %2 FROM %3 ORDER BY %1").arg(k, v, t)),
                 QList<QVariantList>({{"a'1", "uno cambiato"}, {"b\"2", "due */"}}));
        QCOMPARE(db.untouchable(), safe);

        FrmEditTab rif;
        open(rif, db, "RIF");
        QVERIFY2(said().isEmpty(), qPrintable(said()));
        QCOMPARE(control<QComboBox>(rif, "CmbBounded2")->currentText(), u"[a'1] uno cambiato");
    }

    // Names a database lacks, handed to the data layer or written in a descriptor: refused before
    // any statement uses them, with a readable message.
    void badNamesAreRefused_data()
    {
        backends<QString>("name", {{"statement", "VOCI\"; DROP TABLE CANARY; --"}, {"bracket", "VOCI]"},
                                   {"comma", "a,b"}, {"nul", QString("VOCI") + QChar(0) + "x"},
                                   {"megabyte", QString(1 << 20, u'V')}});
    }
    void badNamesAreRefused()
    {
        QFETCH(QString, backend);
        QFETCH(QString, name);
        Db db(backend);
        db.exec({"CREATE TABLE VOCI (CODICE VARCHAR(20) PRIMARY KEY, DESCR VARCHAR(40))",
                 "INSERT INTO VOCI VALUES ('a', 'uno')"});
        const QString safe = db.untouchable();
        const auto rows = db.rows("SELECT * FROM VOCI");
        const auto refused = [&](const std::function<void()> &f, const char *what) {
            const auto error = TestUtil::thrownBy<DataError>(f);
            QVERIFY2(error && error->number() == DataError::BadIdentifier, what);
            QVERIFY2(readable(error->description()), qPrintable(error->description().left(1000)));
        };
        const auto voci = RecordSource::wholeTable("VOCI");

        // The data layer. On SQLite every statement it runs is traced: none may hold the name.
        QStringList traced;
        sqlite3 *handle = nullptr;
        if (db.sqlite) {
            const QVariant h = db.conn->database().driver()->handle();
            QVERIFY(h.isValid() && qstrcmp(h.typeName(), "sqlite3*") == 0);
            handle = *static_cast<sqlite3 *const *>(h.data());
            sqlite3_trace_v2(handle, SQLITE_TRACE_STMT, &traceStatement, &traced);
        }
        refused([&] { Recordset(db.conn, RecordSource::wholeTable(name)); }, "table");
        refused([&] { Recordset(db.conn, voci, {name}); }, "key column");
        refused([&] { Recordset(db.conn, RecordSource{"VOCI", {{name, 1}}}); }, "narrowing column");
        Recordset rs(db.conn, voci, {"CODICE"}, CursorIntent::Change);
        refused([&] { rs.Find({{name, "a"}}); }, "search column");
        refused([&] { rs.setValue(name, "x"); }, "column set");
        refused([&] { RecordListModel(db.conn, name, {}, QString()); }, "list table");
        refused([&] { RecordListModel(db.conn, "VOCI", {}, name); }, "list description");
        refused([&] { ProssimoValore(name, voci, db.connection); }, "counter column");
        if (name.contains(QChar(0)))
            refused([&] { quoteIdentifier(name); }, "quoted");
        if (handle) {
            sqlite3_trace_v2(handle, 0, nullptr, nullptr);
            QVERIFY(!traced.isEmpty()); // the real table was read, so the trace works
            for (const QString &sql : std::as_const(traced))
                QVERIFY2(!sql.contains(name), qPrintable(sql.left(200)));
        }

        // A descriptor naming a table, a field, a key or a lookup table the database lacks (it
        // splits at commas: "a,b" cannot be written in it): the editor says so, writing nothing.
        const QString record = "RECORD,VOCI,Voci,1\nCAMPO,CODICE,Codice,TEXT,20\n", pk = "INDICE,PK,+CODICE,-1,-1\n";
        const QStringList descriptors{"RECORD," + name + ",T,1\nCAMPO,CODICE,Codice,TEXT,20\n" + pk,
                                      record + "CAMPO," + name + ",X,TEXT,20\n" + pk,
                                      record + "INDICE,PK,+" + name + ",-1,-1\n",
                                      record + "CAMPO,DESCR,Descrizione,TEXT,40,,,,,," + name + ",X,CMBBOUNDED\n" + pk};
        for (int i = 0; i < descriptors.size() && !name.contains(u','); ++i) {
            m_messages->clear();
            db.dsc(descriptors[i]);
            FrmEditTab editor;
            QStringList messages;
            try {
                editor.START(db.connection, db.folder(), {}, i == 0 ? name : "VOCI", {}, {}, false);
            } catch (const Error &e) {
                messages << e.message();
            }
            messages << TestUtil::messageTexts(*m_messages);
            QVERIFY2(!messages.isEmpty(), qPrintable(QString::number(i)));
            for (const QString &message : std::as_const(messages))
                QVERIFY2(readable(message), qPrintable(message.left(1000)));
        }
        QCOMPARE(db.rows("SELECT * FROM VOCI"), rows);
        QCOMPARE(db.untouchable(), safe);
    }
};

QTEST_MAIN(TstHostile)
#include "tst_hostile.moc"
