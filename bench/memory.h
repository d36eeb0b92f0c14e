#pragma once

// Memory figures of this process, from /proc/self/status.

#include <QFile>

namespace Bench {

// A field of /proc/self/status in KB ("VmRSS": resident now, "VmHWM": the peak); 0 when unknown.
inline long statusKb(const char *field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray name = QByteArray(field) + ':';
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(name))
            return line.mid(name.size()).trimmed().split(' ').first().toLong();
    return 0;
}

inline long rssKb()
{
    return statusKb("VmRSS");
}

inline long peakKb()
{
    return statusKb("VmHWM");
}

} // namespace Bench
