#pragma once

// The fuzz input as a file, for the readers that take a path: written to `name` in a temporary
// folder kept for the whole run.

#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

inline QString inputFile(const uint8_t *data, size_t size, const QString &name)
{
    static QTemporaryDir dir;
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    file.write(reinterpret_cast<const char *>(data), qint64(size));
    return path;
}
