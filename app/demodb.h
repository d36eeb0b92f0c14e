#pragma once
// Builds the demo database from its SQL script. Header-only so that the program and its tests
// build the database the same way without a library of their own.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QUuid>

namespace NorvixApp {

// Splits an SQL script into statements at the semicolons outside quotes and comments. Comments
// are dropped; empty statements are skipped.
inline QStringList splitSqlScript(const QString &script)
{
    QStringList statements;
    QString current;
    const qsizetype n = script.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = script.at(i);
        if (c == u'-' && i + 1 < n && script.at(i + 1) == u'-') {
            while (i < n && script.at(i) != u'\n')
                ++i;
            current += u'\n';
        } else if (c == u'/' && i + 1 < n && script.at(i + 1) == u'*') {
            const qsizetype end = script.indexOf(QStringLiteral("*/"), i + 2);
            i = end < 0 ? n : end + 1;
            current += u' ';
        } else if (c == u'\'' || c == u'"') {
            // A quoted text or name, with doubled quotes inside.
            const qsizetype start = i;
            for (++i; i < n; ++i) {
                if (script.at(i) == c) {
                    if (i + 1 < n && script.at(i + 1) == c)
                        ++i;
                    else
                        break;
                }
            }
            current += script.mid(start, i - start + 1);
        } else if (c == u';') {
            if (!current.trimmed().isEmpty())
                statements << current.trimmed();
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.trimmed().isEmpty())
        statements << current.trimmed();
    return statements;
}

// Runs the script `sqlFile` into a new SQLite database and puts it at `dbFile`. The database is
// built in a temporary file beside `dbFile` and renamed at the end, so a failed or interrupted
// build never leaves a half-filled `dbFile`; an existing `dbFile` is replaced only on success.
inline bool buildDemoDatabase(const QString &sqlFile, const QString &dbFile, QString *error)
{
    auto fail = [error](const QString &text) {
        if (error)
            *error = text;
        return false;
    };
    QFile script(sqlFile);
    if (!script.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("Impossibile leggere %1: %2").arg(sqlFile, script.errorString()));
    const QStringList statements = splitSqlScript(QString::fromUtf8(script.readAll()));

    const QFileInfo target(dbFile);
    if (!QDir().mkpath(target.absolutePath()))
        return fail(QStringLiteral("Impossibile creare la cartella %1").arg(target.absolutePath()));
    const QString id = QUuid::createUuid().toString(QUuid::Id128);
    const QString temporary = target.absoluteFilePath() + QStringLiteral(".%1.tmp").arg(id);
    const QString connection = QStringLiteral("norvix-demo-build-") + id;

    QString problem;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(temporary);
        if (!db.open()) {
            problem = QStringLiteral("Impossibile creare %1: %2").arg(temporary, db.lastError().text());
        } else {
            QSqlQuery q(db);
            if (!db.transaction())
                problem = db.lastError().text();
            for (const QString &statement : statements) {
                if (!problem.isEmpty())
                    break;
                if (!q.exec(statement))
                    problem = QStringLiteral("%1\n%2").arg(q.lastError().text(), statement.left(200));
            }
            if (problem.isEmpty() && !db.commit())
                problem = db.lastError().text();
            q.finish();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(connection);

    if (problem.isEmpty()) {
        QFile::remove(target.absoluteFilePath());
        if (!QFile::rename(temporary, target.absoluteFilePath()))
            problem = QStringLiteral("Impossibile rinominare %1 in %2").arg(temporary, target.absoluteFilePath());
    }
    if (!problem.isEmpty()) {
        QFile::remove(temporary);
        return fail(QStringLiteral("Database dimostrativo non creato: %1").arg(problem));
    }
    return true;
}

// The records that the descriptor file `dscFile` declares (its RECORD lines), in file order.
inline QStringList demoRecords(const QString &dscFile)
{
    QFile file(dscFile);
    QStringList names;
    if (!file.open(QIODevice::ReadOnly))
        return names;
    for (const QString &line : QString::fromUtf8(file.readAll()).split(u'\n')) {
        const QStringList fields = line.split(u',');
        if (fields.size() > 1 && fields.first().trimmed().toUpper() == u"RECORD")
            names << fields.at(1).trimmed();
    }
    return names;
}

// The first record of `dscFile` whose table the database `dbFile` lacks (a database built by an
// older demo); empty when it has them all.
inline QString missingDemoTable(const QString &dbFile, const QString &dscFile)
{
    const QString connection = QStringLiteral("norvix-demo-check-") + QUuid::createUuid().toString(QUuid::Id128);
    QStringList tables;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(dbFile);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QSqlQuery q(QStringLiteral("SELECT upper(name) FROM sqlite_master WHERE type = 'table'"), db);
            while (q.next())
                tables << q.value(0).toString();
        }
    }
    QSqlDatabase::removeDatabase(connection);
    for (const QString &record : demoRecords(dscFile))
        if (!tables.contains(record.toUpper()))
            return record;
    return QString();
}

} // namespace NorvixApp
