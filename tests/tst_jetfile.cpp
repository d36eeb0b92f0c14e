#include "descriptor/errors.h"
#include "descriptor/jetfile.h"
#include "testutil.h"

#include <QRandomGenerator>
#include <QTest>

#include <functional>

using Norvix::DescriptorError;
using Norvix::JetFile;

namespace {

// The lines of the descriptor text the Dsc tables were filled from.
QStringList descriptorLines()
{
    QStringList lines = QString::fromUtf8(TestUtil::readData(QStringLiteral("legacy/files.dsc"))).split(u'\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// The message of the DescriptorError `action` throws; a null string when it throws nothing.
QString errorOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const DescriptorError &e) {
        return e.message().isNull() ? QStringLiteral("(null message)") : e.message();
    }
    return QString();
}

QStringList readDsc(const QString &path, const QString &password = QString())
{
    return JetFile(path, password).readColumn(QStringLiteral("Dsc"), QStringLiteral("Line"));
}

// Writes a copy of a fixture into dir with the single occurrence of `from` replaced by `to`
// (same length, so every page stays in place).
QString patchedCopy(const QString &relative, const QString &dir, const QByteArray &from, const QByteArray &to)
{
    Q_ASSERT(from.size() == to.size());
    QByteArray bytes = TestUtil::readData(relative);
    if (bytes.count(from) != 1)
        qFatal("%s: the text to patch is not there exactly once", qPrintable(relative));
    bytes.replace(from, to);
    const QString target = dir + QLatin1String("/patched_") + QFileInfo(relative).fileName();
    TestUtil::writeFile(target, bytes);
    return target;
}

QByteArray utf16le(const QString &text)
{
    QByteArray bytes;
    for (QChar c : text) {
        bytes.append(char(c.unicode() & 0xFF));
        bytes.append(char(c.unicode() >> 8));
    }
    return bytes;
}

} // namespace

class Tst_jetfile : public QObject
{
    Q_OBJECT

private slots:
    void looksLikeJet_data();
    void looksLikeJet();

    void readsDescriptorLines_data();
    void readsDescriptorLines();
    void namesAreCaseInsensitiveAndReadsRepeat();
    void decodesNonAsciiText_data();
    void decodesNonAsciiText();

    void storedPassword_data();
    void storedPassword();
    void password_data();
    void password();

    void missingTableOrColumn_data();
    void missingTableOrColumn();

    void notAFile();
    void unreadableFiles_data();
    void unreadableFiles();
    void cutAtAnyPageGivesAllLinesOrError_data();
    void cutAtAnyPageGivesAllLinesOrError();
    void encryptedAceFile();
};

void Tst_jetfile::looksLikeJet_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<bool>("expected");

    const QByteArray jet4 = TestUtil::readData(QStringLiteral("legacy/dsc_jet4.mdb")).left(64);
    const QByteArray jet3 = TestUtil::readData(QStringLiteral("legacy/access97_sample.mdb")).left(64);
    QByteArray ace = jet4;
    ace.replace(4, 15, "Standard ACE DB");

    QTest::newRow("jet 4") << jet4 << true;
    QTest::newRow("jet 3") << jet3 << true;
    QTest::newRow("ace") << ace << true;
    QTest::newRow("exactly 20 bytes") << jet4.left(20) << true;
    QTest::newRow("19 bytes") << jet4.left(19) << false;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("descriptor text") << TestUtil::readData(QStringLiteral("legacy/files.dsc")) << false;
    QTest::newRow("signature at offset 0") << QByteArray("Standard Jet DB\0\0\0\0\0\0\0", 22) << false;
    QTest::newRow("other signature") << QByteArray(jet4).replace(4, 15, "Standard XYZ DB") << false;
}

void Tst_jetfile::looksLikeJet()
{
    QFETCH(QByteArray, head);
    QFETCH(bool, expected);
    QCOMPARE(JetFile::looksLikeJet(head), expected);
}

void Tst_jetfile::readsDescriptorLines_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("text column") << QStringLiteral("legacy/dsc_jet4.mdb");
    QTest::newRow("memo column") << QStringLiteral("legacy/dsc_jet4_memo.mdb");
}

void Tst_jetfile::readsDescriptorLines()
{
    QFETCH(QString, file);
    const QStringList expected = descriptorLines();
    QVERIFY(expected.size() > 10);
    QVERIFY(!expected.contains(QString())); // the text has no blank lines: nothing to lose there
    QCOMPARE(readDsc(TestUtil::dataPath(file)), expected);
}

void Tst_jetfile::namesAreCaseInsensitiveAndReadsRepeat()
{
    const JetFile jet(TestUtil::dataPath(QStringLiteral("legacy/dsc_jet4.mdb")), QString());
    const QStringList expected = descriptorLines();
    QCOMPARE(jet.readColumn(QStringLiteral("dsc"), QStringLiteral("LINE")), expected);
    // Another table in between, then the first again from its start.
    const QStringList other = jet.readColumn(QStringLiteral("ALTRO"), QStringLiteral("line"));
    QCOMPARE(other.size(), 1);
    QVERIFY(!expected.contains(other.first()));
    QCOMPARE(jet.readColumn(QStringLiteral("Dsc"), QStringLiteral("Line")), expected);
}

void Tst_jetfile::decodesNonAsciiText_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<QByteArray>("to");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("column");
    QTest::addColumn<QString>("expected");

    // Jet 4 keeps text as UCS-2; Jet 3 in the code page of the database (Windows-1252 here).
    const QString plain = QStringLiteral("Descrittore di prova");
    const QString accented = QStringLiteral("Descrittore – città€");
    QTest::newRow("jet 4 text") << QStringLiteral("legacy/dsc_jet4.mdb") << utf16le(plain) << utf16le(accented)
                                << QStringLiteral("Dsc") << QStringLiteral("Line")
                                << QStringLiteral("' Descrittore – città€: anagrafica clienti");
    QTest::newRow("jet 4 memo") << QStringLiteral("legacy/dsc_jet4_memo.mdb") << utf16le(plain) << utf16le(accented)
                                << QStringLiteral("Dsc") << QStringLiteral("Line")
                                << QStringLiteral("' Descrittore – città€: anagrafica clienti");
    QTest::newRow("jet 3 text") << QStringLiteral("legacy/access97_sample.mdb") << QByteArray("abcdefg")
                                << QByteArray("\xE0" "bcd\x80\x93\x94") << QStringLiteral("Table1")
                                << QStringLiteral("A") << QStringLiteral("àbcd€“”");
}

void Tst_jetfile::decodesNonAsciiText()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, to);
    QFETCH(QString, table);
    QFETCH(QString, column);
    QFETCH(QString, expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = patchedCopy(file, dir.path(), from, to);
    const QStringList values = JetFile(path, QString()).readColumn(table, column);
    QVERIFY2(values.contains(expected), qPrintable(values.join(u'|')));
}

void Tst_jetfile::storedPassword_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("expected");
    QTest::newRow("jet 4, none") << QStringLiteral("legacy/dsc_jet4.mdb") << QString();
    QTest::newRow("jet 4 memo, none") << QStringLiteral("legacy/dsc_jet4_memo.mdb") << QString();
    QTest::newRow("jet 4, Segreto1") << QStringLiteral("legacy/dsc_jet4_pw.mdb") << QStringLiteral("Segreto1");
    QTest::newRow("jet 4, password")
        << QStringLiteral("legacy/access2000_password.mdb") << QStringLiteral("password");
    QTest::newRow("jet 3, none") << QStringLiteral("legacy/access97_sample.mdb") << QString();
}

void Tst_jetfile::storedPassword()
{
    QFETCH(QString, file);
    QFETCH(QString, expected);
    QCOMPARE(JetFile::storedPassword(TestUtil::dataPath(file)), expected);
}

void Tst_jetfile::password_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("error"); // part of the expected message; empty when the file opens

    const QString pw = QStringLiteral("legacy/dsc_jet4_pw.mdb");
    const QString wrong = QStringLiteral("Password errata per il database dei descrittori");
    const QString needed = QStringLiteral("è protetto da password");
    QTest::newRow("right") << pw << QStringLiteral("Segreto1") << QString();
    QTest::newRow("other case") << pw << QStringLiteral("segreto1") << wrong;
    QTest::newRow("prefix") << pw << QStringLiteral("Segreto") << wrong;
    QTest::newRow("trailing blank") << pw << QStringLiteral("Segreto1 ") << wrong;
    QTest::newRow("wrong") << pw << QStringLiteral("Altro99") << wrong;
    QTest::newRow("missing") << pw << QString() << needed;
    QTest::newRow("other file, right") << QStringLiteral("legacy/access2000_password.mdb")
                                         << QStringLiteral("password") << QString();
    QTest::newRow("other file, other case") << QStringLiteral("legacy/access2000_password.mdb")
                                              << QStringLiteral("PASSWORD") << wrong;
    QTest::newRow("other file, missing") << QStringLiteral("legacy/access2000_password.mdb") << QString() << needed;
    QTest::newRow("given to jet 4 without one") << QStringLiteral("legacy/dsc_jet4.mdb") << QStringLiteral("Segreto1")
                                                << QString();
    QTest::newRow("given to jet 3 without one") << QStringLiteral("legacy/access97_sample.mdb")
                                                << QStringLiteral("qualsiasi") << QString();
}

void Tst_jetfile::password()
{
    QFETCH(QString, file);
    QFETCH(QString, given);
    QFETCH(QString, error);

    const QString path = TestUtil::dataPath(file);
    const QString message = errorOf([&] { JetFile jet(path, given); });
    if (error.isEmpty()) {
        QVERIFY2(message.isNull(), qPrintable(message));
        return;
    }
    QVERIFY2(message.contains(error), qPrintable(message));
    QVERIFY2(message.contains(QDir::toNativeSeparators(path)), qPrintable(message));
    // Neither the password given nor the one stored may show (the file name aside; the stored
    // "password" of the other file is an ordinary word of the messages).
    QString rest = message;
    rest.remove(QDir::toNativeSeparators(path));
    if (!given.isEmpty())
        QVERIFY2(!rest.contains(given), qPrintable(message));
    QVERIFY2(!rest.contains(QStringLiteral("Segreto1")), qPrintable(message));
}

void Tst_jetfile::missingTableOrColumn_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("column");
    QTest::addColumn<QString>("error");
    const QString dsc = QStringLiteral("legacy/dsc_jet4.mdb");
    QTest::newRow("table") << dsc << QStringLiteral("Descrittori") << QStringLiteral("Line")
                           << QStringLiteral("Tabella Descrittori non trovata");
    QTest::newRow("table name is not a prefix") << dsc << QStringLiteral("Ds") << QStringLiteral("Line")
                                                << QStringLiteral("Tabella Ds non trovata");
    QTest::newRow("column") << dsc << QStringLiteral("Dsc") << QStringLiteral("Riga")
                            << QStringLiteral("Colonna Riga non trovata");
    QTest::newRow("column of another table") << QStringLiteral("legacy/access97_sample.mdb")
                                             << QStringLiteral("Table2") << QStringLiteral("A")
                                             << QStringLiteral("Colonna A non trovata");
    QTest::newRow("not a text column") << QStringLiteral("legacy/access97_sample.mdb") << QStringLiteral("Table1")
                                       << QStringLiteral("C") << QStringLiteral("non è di tipo testo");
}

void Tst_jetfile::missingTableOrColumn()
{
    QFETCH(QString, file);
    QFETCH(QString, table);
    QFETCH(QString, column);
    QFETCH(QString, error);

    const QString path = TestUtil::dataPath(file);
    const JetFile jet(path, QString());
    const QString message = errorOf([&] { jet.readColumn(table, column); });
    QVERIFY2(message.contains(error), qPrintable(message));
    QVERIFY2(message.contains(QDir::toNativeSeparators(path)), qPrintable(message));
    // The file stays usable.
    QVERIFY(!jet.readColumn(QStringLiteral("MSysObjects"), QStringLiteral("Name")).isEmpty());
}

void Tst_jetfile::notAFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString missing = dir.filePath(QStringLiteral("manca.mdb"));
    for (const QString &path : {missing, dir.path()}) {
        const QString message = errorOf([&] { readDsc(path); });
        QVERIFY2(message.contains(QDir::toNativeSeparators(path)), qPrintable(message));
        QVERIFY(!errorOf([&] { JetFile::storedPassword(path); }).isNull());
    }
}

void Tst_jetfile::unreadableFiles_data()
{
    QTest::addColumn<QByteArray>("bytes"); // written to a file in a temporary folder
    QTest::addColumn<bool>("headerReadable"); // storedPassword still works

    const QByteArray jet4 = TestUtil::readData(QStringLiteral("legacy/dsc_jet4.mdb"));
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("descriptor text") << TestUtil::readData(QStringLiteral("legacy/files.dsc")) << false;
    QTest::newRow("first 20 bytes") << jet4.left(20) << false;
    QTest::newRow("first 100 bytes") << jet4.left(100) << false;
    QTest::newRow("first 4096 bytes") << jet4.left(4096) << true;
    QTest::newRow("part of a page cut off") << jet4.left(jet4.size() - 100) << true;
    QTest::newRow("zeroed after the header") << jet4.left(4096) + QByteArray(jet4.size() - 4096, '\0') << true;
}

void Tst_jetfile::unreadableFiles()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, headerReadable);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("dsc.mdb"));
    TestUtil::writeFile(path, bytes);

    const QString message = errorOf([&] { readDsc(path); });
    QVERIFY2(!message.isNull(), "no error");
    QVERIFY2(message.contains(QDir::toNativeSeparators(path)), qPrintable(message));
    const QString headerError = errorOf([&] { JetFile::storedPassword(path); });
    QVERIFY2(headerError.isNull() == headerReadable, qPrintable(headerError));
}

void Tst_jetfile::cutAtAnyPageGivesAllLinesOrError_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("pageSize");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("column");
    QTest::newRow("jet 4 text") << QStringLiteral("legacy/dsc_jet4.mdb") << 4096 << QStringLiteral("Dsc")
                                << QStringLiteral("Line");
    QTest::newRow("jet 4 memo") << QStringLiteral("legacy/dsc_jet4_memo.mdb") << 4096 << QStringLiteral("Dsc")
                                << QStringLiteral("Line");
    QTest::newRow("jet 3") << QStringLiteral("legacy/access97_sample.mdb") << 2048 << QStringLiteral("Table1")
                           << QStringLiteral("A");
}

// A file cut short at a page boundary: some pages are simply missing. Either every value comes
// back or the read fails; never a part of them, and never a hang on what the missing pages
// leave undefined.
void Tst_jetfile::cutAtAnyPageGivesAllLinesOrError()
{
    QFETCH(QString, file);
    QFETCH(int, pageSize);
    QFETCH(QString, table);
    QFETCH(QString, column);

    const QStringList expected = JetFile(TestUtil::dataPath(file), QString()).readColumn(table, column);
    QVERIFY(!expected.isEmpty());
    const QByteArray full = TestUtil::readData(file);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("cut.mdb"));
    int failures = 0;
    for (qsizetype size = pageSize; size < full.size(); size += pageSize) {
        TestUtil::writeFile(path, full.left(size));
        QStringList values;
        const QString message = errorOf([&] { values = JetFile(path, QString()).readColumn(table, column); });
        if (!message.isNull())
            ++failures;
        else
            QVERIFY2(values == expected, qPrintable(QStringLiteral("%1 bytes: %2 values").arg(size).arg(values.size())));
    }
    QVERIFY(failures > 0);
}

// ACE files with a password are encrypted past the first page: they cannot be read.
void Tst_jetfile::encryptedAceFile()
{
    QByteArray bytes = TestUtil::readData(QStringLiteral("legacy/dsc_jet4.mdb"));
    bytes.replace(4, 15, "Standard ACE DB");
    bytes[0x14] = 2;
    QTemporaryDir dir;
    QVERIFY(dir.isValid());

    // Same layout as Jet 4 when not encrypted; no password is checked.
    const QString plain = dir.filePath(QStringLiteral("plain.accdb"));
    TestUtil::writeFile(plain, bytes);
    QCOMPARE(JetFile::storedPassword(plain), QString());
    QCOMPARE(readDsc(plain, QStringLiteral("qualsiasi")), descriptorLines());

    QRandomGenerator random(7);
    for (qsizetype i = 4096; i < bytes.size(); ++i)
        bytes[i] = char(random.bounded(256));
    const QString encrypted = dir.filePath(QStringLiteral("encrypted.accdb"));
    TestUtil::writeFile(encrypted, bytes);
    const QString message = errorOf([&] { JetFile jet(encrypted, QStringLiteral("Chiave7")); });
    QVERIFY2(message.contains(QStringLiteral("protetto da password")), qPrintable(message));
    QVERIFY2(message.contains(QDir::toNativeSeparators(encrypted)), qPrintable(message));
    QVERIFY2(!message.contains(QStringLiteral("Chiave7")), qPrintable(message));
}

QTEST_GUILESS_MAIN(Tst_jetfile)
#include "tst_jetfile.moc"
