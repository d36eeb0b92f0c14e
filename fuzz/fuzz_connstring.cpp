// Any text as a connection string (optionally followed by NUL, a data folder, NUL, a database
// name). Only parsing: nothing is opened. Checked on every input:
//  - the only exception is a DataError numbered BadConnectionString, with a message;
//  - a parsed string names a Qt driver; its port is -1 or a TCP port; its host holds no blank,
//    control character, ';' or '='; an SQLite result names a
//    file, no server, user or password, and is absolute when the data folder is;
//  - its options are only those the driver accepts (never a database, host, user or password),
//    each at most once, and they are accepted again as they are (Connection::open checks them a
//    second time);
//  - when it carries a password, an element the parser must refuse added after it yields a
//    message that does not show the password.

#include "platform/connection.h"

#include <QDir>
#include <QRegularExpression>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

using namespace Norvix;

namespace {

[[noreturn]] void fail(const char *what, const QString &input, const QString &detail = QString())
{
    std::fprintf(stderr, "fuzz_connstring: %s\n  input: %s\n  detail: %s\n", what, qPrintable(input),
                 qPrintable(detail));
    std::abort();
}

struct Outcome
{
    std::optional<ConnectionParams> params;
    QString message; // of the DataError, when there is no params
};

Outcome parse(const QString &text, const QString &dataFolder, const QString &databaseName)
{
    Outcome out;
    try {
        out.params = ConnectionParams::parse(text, dataFolder, databaseName);
    } catch (const DataError &e) {
        if (e.number() != DataError::BadConnectionString)
            fail("DataError with another number than BadConnectionString", text, QString::number(e.number()));
        if (e.description().trimmed().isEmpty())
            fail("DataError without a message", text);
        out.message = e.description();
    } catch (const std::exception &e) {
        fail("exception other than DataError", text, QString::fromLocal8Bit(e.what()));
    } catch (...) {
        fail("exception other than DataError", text);
    }
    return out;
}

// The options each driver accepts, in the spelling the parser gives back.
QStringList acceptedOptions(const QString &driver)
{
    if (driver == u"QSQLITE")
        return {"QSQLITE_BUSY_TIMEOUT", "QSQLITE_OPEN_READONLY", "journal_mode"};
    if (driver == u"QPSQL")
        return {"connect_timeout", "keepalives", "keepalives_idle", "keepalives_interval", "keepalives_count",
                "tcp_user_timeout", "statement_timeout", "sslmode", "application_name"};
    if (driver == u"QODBC")
        return {"SQL_ATTR_LOGIN_TIMEOUT", "SQL_ATTR_CONNECTION_TIMEOUT", "SQL_ATTR_ACCESS_MODE"};
    return {};
}

void checkOptions(const QString &input, const ConnectionParams &params)
{
    if (params.options.isEmpty())
        return;
    const QStringList accepted = acceptedOptions(params.driver);
    QStringList seen;
    for (const QString &item : params.options.split(QLatin1Char(';'))) {
        const QString name = item.section(QLatin1Char('='), 0, 0);
        const QString lower = name.trimmed().toLower();
        for (const char *forbidden : {"dbname", "host", "user", "password"})
            if (lower == QLatin1String(forbidden))
                fail("options carry a connection key", input, params.options);
        if (!accepted.contains(name))
            fail("options carry an option the driver does not accept", input, params.options);
        if (seen.contains(name))
            fail("an option given twice", input, params.options);
        seen << name;
    }

    // The checked options read back unchanged.
    QString quoted = params.options;
    quoted.replace(QStringLiteral("'"), QStringLiteral("''"));
    QString again = QStringLiteral("Driver=%1;Options='%2'").arg(params.driver, quoted);
    if (params.driver == u"QSQLITE")
        again += QStringLiteral(";Database=/x.db");
    const Outcome reread = parse(again, QString(), QString());
    const QString arrow = QStringLiteral(" -> ");
    if (!reread.params)
        fail("checked options refused when given again", input, params.options + arrow + reread.message);
    if (reread.params->options != params.options)
        fail("checked options change when given again", input, params.options + arrow + reread.params->options);
}

// Messages that the refused variants below may legitimately give, for any password: a password
// that happens to be a piece of one of them (such as "a" or "stringa") proves nothing.
const QStringList &referenceMessages()
{
    static const QStringList messages = [] {
        QStringList m;
        for (const char *s : {"Driver=postgresql;Password='x';Zz9=1", "Driver=postgresql;Password=x;Zz9=1",
                              "postgresql://u:x@h/d?zz9=1"}) {
            const Outcome o = parse(QString::fromLatin1(s), QString(), QString());
            if (o.params)
                fail("reference string accepted", QString::fromLatin1(s));
            m << o.message;
        }
        return m;
    }();
    return messages;
}

void checkPasswordHidden(const QString &input, const QString &text, const ConnectionParams &params)
{
    const QString password = params.password;
    if (password.isEmpty())
        return;
    static const QRegularExpression postgresUrl(QStringLiteral("^postgres(ql)?://"),
                                                QRegularExpression::CaseInsensitiveOption);
    const QString trimmed = text.trimmed();
    QString variant;
    QString raw; // the password as written, for URLs (percent-encoded)
    if (postgresUrl.match(trimmed).hasMatch()) {
        // An option no driver knows, in the query.
        const qsizetype at = trimmed.lastIndexOf(QLatin1Char('@'));
        const qsizetype scheme = trimmed.indexOf(QLatin1String("://")) + 3;
        const QString userInfo = trimmed.mid(scheme, at - scheme);
        raw = userInfo.mid(userInfo.indexOf(QLatin1Char(':')) + 1);
        variant = trimmed + (trimmed.mid(at + 1).contains(QLatin1Char('?')) ? QStringLiteral("&zz9=1")
                                                                            : QStringLiteral("?zz9=1"));
    } else {
        // A key no connection string knows, after the others.
        variant = text + QStringLiteral(";Zz9=1");
    }
    const Outcome o = parse(variant, QStringLiteral("/srv/dati"), QString());
    if (o.params)
        fail("an unknown key or option accepted", input, variant);
    for (const QString &secret : {password, raw}) {
        if (secret.isEmpty() || !o.message.contains(secret))
            continue;
        bool coincidence = false;
        for (const QString &m : referenceMessages())
            coincidence = coincidence || m.contains(secret);
        if (!coincidence)
            fail("the message shows the password", input, o.message);
    }
}

void checkParsed(const QString &input, const QString &text, const QString &dataFolder, const ConnectionParams &params)
{
    static const QRegularExpression qtDriver(QStringLiteral("\\AQ[A-Z0-9_]{1,30}\\z"));
    if (!qtDriver.match(params.driver).hasMatch())
        fail("not a Qt driver name", input, params.driver);
    if (params.port != -1 && (params.port < 1 || params.port > 65535))
        fail("port out of range", input, QString::number(params.port));
    for (const QChar c : std::as_const(params.host))
        if (c.isSpace() || c.category() == QChar::Other_Control || c == u';' || c == u'=')
            fail("host with a blank, a control character or a separator", input, params.host);
    if (params.driver == u"QSQLITE") {
        if (params.database.isEmpty())
            fail("SQLite without a file", input);
        if (!params.host.isEmpty() || params.port != -1 || !params.user.isEmpty() || !params.password.isEmpty())
            fail("SQLite with a server, user or password", input);
        if (QDir::isAbsolutePath(dataFolder) && !QDir::isAbsolutePath(params.database))
            fail("SQLite file not absolute with an absolute data folder", input, params.database);
    }
    checkOptions(input, params);
    checkPasswordHidden(input, text, params);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString input = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const QStringList parts = input.split(QChar(u'\0'));
    const QString text = parts.at(0);
    const QString dataFolder = parts.size() > 1 ? parts.at(1) : QStringLiteral("/srv/dati");
    const QString databaseName = parts.size() > 2 ? parts.at(2) : QStringLiteral("anagrafica.db");

    const Outcome o = parse(text, dataFolder, databaseName);
    if (o.params)
        checkParsed(input, text, dataFolder, *o.params);
    return 0;
}
