// A row's history in the editor, on both back ends: Storia (its button, Ctrl+H) lists the changes
// saved through the editor, Ripristina puts values back as typed and Conferma saves them; a long
// history is read a page at a time.

#include "backends.h"
#include "editordriver.h"
#include "editor/frmstoria.h"
#include "editor/historymodel.h"
#include "platform/messages.h"
#include "session/history.h"

#include <QCheckBox>
#include <QLabel>
#include <QRegularExpression>
#include <QTableView>
#include <QtTest>

using namespace Norvix;
using TestUtil::Backend;
using TestUtil::control;
using TestUtil::shown;

namespace {

// Customers with a province and a town of it from lookups, a date, an amount and a flag; one of
// them stored.
struct Clienti
{
    explicit Clienti(const QString &backend, bool storia = true) : b(backend)
    {
        b.exec({QStringLiteral("CREATE TABLE PROV (SIGLA VARCHAR(2) PRIMARY KEY, NOME VARCHAR(20))"),
                QStringLiteral("INSERT INTO PROV VALUES ('BA', 'Bari'), ('MI', 'Milano')"),
                QStringLiteral("CREATE TABLE COM (PROV VARCHAR(2), CODICE VARCHAR(2), NOME VARCHAR(20), PRIMARY KEY (PROV, CODICE))"),
                QStringLiteral("INSERT INTO COM VALUES ('BA', '01', 'Bari'), ('BA', '02', 'Molfetta'), ('MI', '01', 'Milano'), "
                               "('MI', '02', 'Rho')"),
                QStringLiteral("CREATE TABLE CLI (CODICE INTEGER PRIMARY KEY, NOME VARCHAR(30), PROV VARCHAR(2), "
                               "COMUNE VARCHAR(2), DATA DATE, FIDO NUMERIC(12,2), ATTIVO BOOLEAN)"),
                QStringLiteral("INSERT INTO CLI VALUES (1, 'Rossi', 'BA', '01', '2024-03-01', 1234.5, TRUE)")});
        b.dsc(QStringLiteral("RECORD,CLI,Clienti,1\n%1CAMPO,CODICE,Codice,LONG,6\nCAMPO,NOME,Nome,TEXT,30\n"
                             "CAMPO,PROV,Provincia,TEXT,2,,,,,,PROV,NOME,CMBBOUNDED\n"
                             "CAMPO,COMUNE,Comune,TEXT,2,,,,,,COM,NOME,CMBBOUNDED,,,PROV\n"
                             "CAMPO,DATA,Data,DATE,,,,,,,,,,\"dd/mm/yyyy\"\nCAMPO,FIDO,Fido,CURRENCY,12,,,,,,,,,Standard\n"
                             "CAMPO,ATTIVO,Attivo,BOOLEAN\nINDICE,PK,+CODICE,-1,-1\n")
                  .arg(storia ? QStringLiteral("STORIA,1\n") : QString()));
        TestUtil::startShown(editor, b.connection, b.folder(), QStringLiteral("cli")); // the history says CLI
    }
    QPushButton *storia() { return control<QPushButton>(editor, QStringLiteral("CmdStoria")); }
    // The viewer opened with the button or with Ctrl+H; none when it did not open.
    FrmStoria *open(bool shortcut)
    {
        if (shortcut)
            QTest::keyClick(&editor, Qt::Key_H, Qt::ControlModifier);
        else
            QTest::mouseClick(storia(), Qt::LeftButton);
        FrmStoria *viewer = editor.findChild<FrmStoria *>();
        return viewer && viewer->isVisible() ? viewer : nullptr;
    }
    static HistoryModel *model(FrmStoria *viewer) { return static_cast<HistoryModel *>(viewer->list()->model()); }
    // A line of the list, from `from` on: its columns joined by "|".
    static QString line(FrmStoria *viewer, int row, int from = HistoryModel::Azione)
    {
        QStringList cells;
        for (int c = from; c < HistoryModel::Columns; ++c)
            cells << model(viewer)->index(row, c).data().toString();
        return cells.join(u'|');
    }
    static QStringList lines(FrmStoria *viewer)
    {
        QStringList out;
        for (int row = 0; row < model(viewer)->rowCount(); ++row)
            out << line(viewer, row);
        return out;
    }
    // Row 1 as stored: its name, province, town, date, amount and flag.
    QString stored()
    {
        const QVariantList r = b.rows(QStringLiteral("SELECT NOME, PROV, COMUNE, DATA, FIDO, ATTIVO FROM CLI WHERE CODICE = 1")).value(0);
        return QStringList{r.value(0).toString(), r.value(1).toString(), r.value(2).toString(), r.value(3).toString().left(10),
                           QString::number(r.value(4).toDouble()), r.value(5).toBool() ? "true" : "false"}
            .join(u' ');
    }
    int entries() { return b.scalar(QStringLiteral("SELECT COUNT(*) FROM NORVIX_STORIA")).toInt(); }
    void type(const char *name, const QString &text)
    {
        TestUtil::typeInto(editor, control(editor, QString::fromLatin1(name)), text);
        TestUtil::leave(editor);
    }

    Backend b;
    FrmEditTab editor;
};

} // namespace

class TstHistory : public QObject
{
    Q_OBJECT

    std::shared_ptr<RecordingMessageService> m_messages;

private slots:
    void init() { m_messages = TestUtil::freshUser(); }
    void cleanup() { setMessageService(nullptr); }

    // A change saved through the editor, listed in the fields' pictures and lookups' descriptions
    // (a town by the province of the time);
    // Ripristina puts every value back as typed (nothing saved), Conferma saves them as a change.
    void changeAndRestore_data() { TestUtil::backends("shortcut", QList<QPair<const char *, bool>>{{"button", false}, {"Ctrl+H", true}}); }
    void changeAndRestore()
    {
        QFETCH(QString, backend);
        QFETCH(bool, shortcut);
        Clienti c(backend);
        QVERIFY(c.storia()->isVisible() && c.storia()->isEnabled());
        if (!shortcut) { // Alt+T is the search panel's Trova while it shows
            QCOMPARE(c.storia()->text(), QStringLiteral("S&toria"));
            control<QPushButton>(c.editor, QStringLiteral("CmdCerca"))->click();
            QTRY_COMPARE(c.storia()->text(), QStringLiteral("Storia"));
            control<QPushButton>(c.editor, QStringLiteral("CmdTutti"))->click();
            QTRY_COMPARE(c.storia()->text(), QStringLiteral("S&toria"));
        }
        c.type("TxtText2", QStringLiteral("Bianchi"));
        c.type("CmbBounded3", QStringLiteral("MI"));
        c.type("CmbBounded4", QStringLiteral("02"));
        c.type("TxtDate5", QStringLiteral("15/04/2024"));
        c.type("TxtNumeric6", QStringLiteral("2000"));
        auto *attivo = control<QCheckBox>(c.editor, QStringLiteral("ChkBoolean7"));
        c.editor.CTRLSETFOCUS(attivo);
        QTest::keyClick(attivo, Qt::Key_Space);
        TestUtil::press(c.editor, 1);
        QCOMPARE(c.stored(), QStringLiteral("Bianchi MI 02 2024-04-15 2000 false"));

        FrmStoria *viewer = c.open(shortcut);
        QVERIFY(viewer);
        const QStringList changed{"Modificato|Nome|Rossi|Bianchi", "Modificato|Provincia|[BA] Bari|[MI] Milano",
                                  "Modificato|Comune|[01] Bari|[02] Rho", "Modificato|Data|01/03/2024|15/04/2024", "Modificato|Fido|1.234,50|2.000,00",
                                  "Modificato|Attivo|True|False"};
        QTRY_COMPARE(Clienti::lines(viewer), changed); // descriptions read once the event loop is back
        QVERIFY(QRegularExpression(QStringLiteral("^\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d\\|")).match(Clienti::line(viewer, 0, 0)).hasMatch());
        QCOMPARE(Clienti::line(viewer, 0, HistoryModel::Utente).section(u'|', 0, 0), systemUserName());
        auto *ripristina = viewer->findChild<QPushButton *>(QStringLiteral("CmdRipristina"));
        QVERIFY(!ripristina->isEnabled());
        viewer->list()->selectAll();
        QVERIFY(ripristina->isEnabled());
        QTest::mouseClick(ripristina, Qt::LeftButton);
        QTRY_VERIFY(!c.editor.findChild<FrmStoria *>());
        QStringList fields;
        for (const char *name : {"TxtText2", "CmbBounded3", "CmbBounded4", "TxtDate5", "TxtNumeric6", "ChkBoolean7"})
            fields << shown(c.editor, QString::fromLatin1(name));
        QCOMPARE(fields, (QStringList{"Rossi", "[BA] Bari", "[01] Bari", "01/03/2024", "1.234,50", "1"}));
        QVERIFY(c.editor.Modified());
        QCOMPARE(c.stored(), QStringLiteral("Bianchi MI 02 2024-04-15 2000 false")); // nothing saved yet
        TestUtil::press(c.editor, 1);
        QCOMPARE(TestUtil::messageTexts(*m_messages), QStringList());
        QCOMPARE(c.stored(), QStringLiteral("Rossi BA 01 2024-03-01 1234.5 true"));
        QCOMPARE(c.entries(), 2);
    }

    // A new row lists what it was inserted with, nothing to restore; a row never changed, and a
    // record that keeps no history.
    void otherRows_data()
    {
        TestUtil::backends("kind", QList<QPair<const char *, int>>{{"inserted", 0}, {"no entries", 1}, {"no history", 2}});
    }
    void otherRows()
    {
        QFETCH(QString, backend);
        QFETCH(int, kind);
        Clienti c(backend, kind != 2);
        if (kind == 2) {
            QVERIFY(!c.storia()->isVisibleTo(&c.editor));
            QVERIFY(!c.open(true));
            return;
        }
        if (kind == 0) {
            TestUtil::press(c.editor, 0);
            QVERIFY(!c.storia()->isEnabled()); // not stored yet
            c.type("TxtNumeric1", QStringLiteral("2"));
            c.type("TxtText2", QStringLiteral("Verdi"));
            TestUtil::press(c.editor, 1);
        }
        FrmStoria *viewer = c.open(false);
        QVERIFY(viewer);
        const QStringList inserted{"Inserito|Codice||2", "Inserito|Nome||Verdi", "Inserito|Fido||0,00", "Inserito|Attivo||False"};
        QTRY_COMPARE(Clienti::lines(viewer), kind == 0 ? inserted : QStringList());
        QCOMPARE(viewer->findChild<QLabel *>(QStringLiteral("LblStoria"))->text().isEmpty(), kind == 0);
        viewer->list()->selectAll();
        QVERIFY(!viewer->findChild<QPushButton *>(QStringLiteral("CmdRipristina"))->isEnabled());
    }

    // 5,000 entries of one row: the viewer opens on the newest page and reads on as it scrolls,
    // newest first, none twice.
    void pages_data() { TestUtil::backends("unused", QList<QPair<const char *, int>>{{"", 0}}); }
    void pages()
    {
        QFETCH(QString, backend);
        Clienti c(backend);
        c.type("TxtText2", QStringLiteral("n0"));
        TestUtil::press(c.editor, 1); // the history table made
        const auto cast = [&](const char *value, const char *type) {
            return c.b.sqlite ? QStringLiteral("'%1'").arg(QLatin1String(value))
                              : QStringLiteral("CAST('%1' AS %2)").arg(QLatin1String(value), QLatin1String(type));
        };
        c.b.exec({QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 5000) "
                                 "INSERT INTO NORVIX_STORIA (TABELLA, CHIAVE, AZIONE, UTENTE, QUANDO, CAMPI) "
                                 "SELECT 'CLI', %1, 'U', 'x', %2, %3 FROM n")
                      .arg(cast("[1]", "jsonb"), cast("2099-01-01T00:00:00.000Z", "timestamptz"),
                           c.b.sqlite ? QStringLiteral("'{\"NOME\":[\"n' || (i - 1) || '\",\"n' || i || '\"]}'")
                                      : QStringLiteral("CAST('{\"NOME\":[\"n' || (i - 1) || '\",\"n' || i || '\"]}' AS jsonb)"))});
        FrmStoria *viewer = c.open(false);
        QVERIFY(viewer);
        HistoryModel *model = Clienti::model(viewer);
        QCOMPARE(model->rowCount(), HistoryModel::kPage);
        QCOMPARE(Clienti::line(viewer, 0, HistoryModel::Prima), QStringLiteral("n4999|n5000"));
        model->fetchMore(QModelIndex());
        QCOMPARE(model->rowCount(), 2 * HistoryModel::kPage);
        QCOMPARE(Clienti::line(viewer, 199, HistoryModel::Prima) + u' ' + Clienti::line(viewer, 200, HistoryModel::Prima),
                 QStringLiteral("n4800|n4801 n4799|n4800"));
        viewer->list()->scrollToBottom();
        QTRY_VERIFY(model->rowCount() > 2 * HistoryModel::kPage);
    }
};

QTEST_MAIN(TstHistory)
#include "tst_history.moc"
