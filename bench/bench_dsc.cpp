// Loading a record from a large files.dsc against the floor of reading its bytes and splitting
// its lines. Prints both medians and their ratio (the budget is a ratio below 3).
//
//   bench_dsc [LINES]     (default 20000)

#include "descriptor/descriptor.h"
#include "descriptor/leggidsc.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <vector>

using namespace Norvix;

namespace {

// Records of 48 fields, an index and a search layout: 52 lines each. The record loaded is the
// last one, so the whole file is scanned.
QByteArray generate(int lines, QString &lastRecord)
{
    QByteArray text = "' generated descriptor\nPATH,dati\nDATABASE,bench.db\n";
    int written = 3, r = 0;
    while (written < lines) {
        const QByteArray name = "TAB" + QByteArray::number(r++);
        text += "RECORD," + name + ",Tabella " + name + ",1,Generale,Dettagli,Note\n";
        const char *types[] = {"TEXT", "LONG", "DATE", "BOOLEAN", "CURRENCY", "MEMO", "INTEGER", "DOUBLE"};
        for (int f = 0; f < 48; ++f)
            text += "CAMPO,F" + QByteArray::number(f) + ",Campo numero " + QByteArray::number(f) + ','
                + types[f % 8] + ",20,,1,,X,,,,,\"0.00\"," + QByteArray::number(f % 3 + 1) + '\n';
        text += "RICERCA,1,MOSTRA,Per codice,F0,F1\nRICERCA,1,SELEZIONE,F0,,=\n";
        text += "INDICE,PrimaryKey,+F0;+F1,-1,-1\n";
        written += 52;
        lastRecord = QString::fromLatin1(name);
    }
    return text;
}

template <typename F>
double medianMs(int runs, F &&f)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        f();
        times.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int lines = argc > 1 ? std::max(100, atoi(argv[1])) : 20000;
    QTemporaryDir dir;
    QString record;
    const QByteArray text = generate(lines, record);
    const QString file = dir.filePath(QStringLiteral("files.dsc"));
    {
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size())
            return 1;
    }
    const int runs = 31;
    size_t sink = 0;

    const double floorMs = medianMs(runs, [&] {
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly))
            std::abort();
        const QByteArray bytes = f.readAll();
        std::vector<std::string_view> split;
        std::string_view rest(bytes.constData(), size_t(bytes.size()));
        for (size_t nl; (nl = rest.find('\n')) != std::string_view::npos; rest.remove_prefix(nl + 1))
            split.push_back(rest.substr(0, nl));
        sink += split.size();
    });

    const double loadMs = medianMs(runs, [&] {
        QString path = dir.path();
        Rec rec;
        if (!LeggiDsc(path, record, rec) || rec.Campi()->Count() != 48)
            std::abort();
        sink += size_t(rec.Campi()->Count());
    });

    std::printf("files.dsc: %d lines, %lld bytes; record %s (the last one)\n", lines, qint64(text.size()),
                qPrintable(record));
    std::printf("read bytes + split lines: %8.3f ms (median of %d)\n", floorMs, runs);
    std::printf("LeggiDsc:                 %8.3f ms (median of %d)\n", loadMs, runs);
    std::printf("ratio: %.2f (budget: below 3)\n", loadMs / floorMs);
    return sink == 0;
}
