// Loading a record from a large files.dsc against the floor of reading its bytes and splitting
// its lines. Prints both medians and their ratio (the budget is a ratio below 3). Then lints 200
// records over 200 tables of an SQLite database (the budget is under 1 s).
//
//   bench_dsc [LINES]     (default 20000)

#include "descriptor/descriptor.h"
#include "descriptor/dsctext.h"
#include "descriptor/leggidsc.h"
#include "platform/connection.h"
#include "tools/lint.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
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

    // Lint: 200 tables of 12 columns (a varchar, integers, a date, a decimal), each with a unique
    // index and a lookup on the previous table, and their 200 records.
    const QString database = dir.filePath(QStringLiteral("lint.db"));
    QStringList descriptor;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("lint"));
        db.setDatabaseName(database);
        if (!db.open())
            std::abort();
        QSqlQuery q(db);
        q.exec(QStringLiteral("BEGIN"));
        for (int t = 0; t < 200; ++t) {
            QStringList columns{QStringLiteral("ID INTEGER PRIMARY KEY"), QStringLiteral("CODICE VARCHAR(10) NOT NULL"),
                                QStringLiteral("NOME VARCHAR(40)"), QStringLiteral("NATO DATE"), QStringLiteral("FIDO NUMERIC(12,2)"),
                                QStringLiteral("RIF INTEGER")};
            for (int c = 0; c < 6; ++c)
                columns << QStringLiteral("N%1 INTEGER").arg(c);
            q.exec(QStringLiteral("CREATE TABLE T%1 (%2)").arg(t).arg(columns.join(u',')));
            q.exec(QStringLiteral("CREATE UNIQUE INDEX T%1_CODICE ON T%1 (CODICE)").arg(t));
            descriptor << QStringLiteral("RECORD,T%1,Tabella %1,1,Generale,Altro").arg(t)
                       << QStringLiteral("CAMPO,ID,Id,LONG,9,,,,X") << QStringLiteral("CAMPO,CODICE,Codice,TEXT,10")
                       << QStringLiteral("CAMPO,NOME,Nome,TEXT,40") << QStringLiteral("CAMPO,NATO,Nato,DATE")
                       << QStringLiteral("CAMPO,FIDO,Fido,CURRENCY,12")
                       << QStringLiteral("CAMPO,RIF,Riferimento,LONG,9,,,,,,T%1,NOME,COMBOBOX,,2").arg(t == 0 ? 0 : t - 1);
            for (int c = 0; c < 6; ++c)
                descriptor << QStringLiteral("CAMPO,N%1,Numero %1,INTEGER,6,,,,,,,,,,2").arg(c);
            descriptor << QStringLiteral("RICERCA,1,MOSTRA,Per nome,NOME,CODICE") << QStringLiteral("RICERCA,1,SELEZIONE,NOME,,LIKE")
                       << QStringLiteral("INDICE,PrimaryKey,+ID,-1,-1");
        }
        q.exec(QStringLiteral("COMMIT"));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("lint"));
    std::vector<double> lintRuns;
    int findings = -1;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer clock;
        clock.start();
        const auto connection = Connection::open(QStringLiteral("sqlite://") + database); // each table's schema read afresh
        findings = int(lintDescriptors(*connection, descriptor, QStringLiteral("files.dsc")).size());
        lintRuns.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::sort(lintRuns.begin(), lintRuns.end());
    std::printf("dsc lint: 200 records over 200 tables, %lld lines: %.1f ms (median of 5, %d findings; budget: under 1000 ms)\n",
                qint64(descriptor.size()), lintRuns[2], findings);
    return sink == 0 || findings != 0;
}
