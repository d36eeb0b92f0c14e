#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <optional>

namespace TestUtil {

inline QString dataPath(const QString &relative)
{
    return QStringLiteral(NORVIX_TEST_DATA "/") + relative;
}

inline QByteArray readData(const QString &relative)
{
    QFile f(dataPath(relative));
    if (!f.open(QIODevice::ReadOnly))
        qFatal("missing test data %s", qPrintable(relative));
    return f.readAll();
}

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// Copies a file from the test data into dir under newName (the same name when empty).
inline QString copyData(const QString &relative, const QString &dir, const QString &newName = QString())
{
    const QString target = dir + QLatin1Char('/') + (newName.isEmpty() ? QFileInfo(relative).fileName() : newName);
    QFile::remove(target);
    if (!QFile::copy(dataPath(relative), target))
        qFatal("cannot copy %s", qPrintable(relative));
    QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
    return target;
}

// The exception of type E that f() throws, if it throws one.
template <typename E, typename F>
std::optional<E> thrownBy(F &&f)
{
    try {
        f();
    } catch (const E &e) {
        return e;
    }
    return std::nullopt;
}

// A message a person can read: not empty, under 1,000 characters, no control characters but line
// ends and tabs.
inline bool readable(const QString &message)
{
    const auto control = [](QChar c) { return c.unicode() < 0x20 && c != u'\n' && c != u'\t'; };
    return !message.isEmpty() && message.size() <= 1000 && std::none_of(message.begin(), message.end(), control);
}

} // namespace TestUtil
