// norvix: the command-line program.
//
//   norvix dsc dump [--dsc DIR] [--password PW] RECORD
//   norvix dsc import FILE.dsc DB [--password PW]
//   norvix dsc export DB [--password PW]
//   norvix edit [--db FILE | --connection STR] [--dsc DIR] [--key VALUES | --new] [--readonly]
//               [--desc-field NAME] [--settings FILE.ini] [--print-last-inserted] RECORD
//
// The command line is parsed before any application object exists, so --help and usage errors
// work without a display.

#include "demo.h"
#include "descriptor/dscdatabase.h"
#include "descriptor/dscjson.h"
#include "descriptor/dsctext.h"
#include "descriptor/leggidsc.h"
#include "control/norvix.h"
#include "editor/frmedittab.h"
#include "editor/shared.h"
#include "platform/messages.h"
#include "platform/qtmessages.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QFile>
#include <QJsonDocument>

#include <cstdio>
#include <optional>

using namespace Norvix;

namespace {

constexpr int kOk = 0;
constexpr int kNotFound = 1;
constexpr int kFailure = 2;

const char kUsage[] =
    "Uso:\n"
    "  norvix dsc dump [--dsc CARTELLA] [--password PW] RECORD\n"
    "      Carica il descrittore di RECORD da CARTELLA (files.dsc o dsc.mdb; predefinita: la\n"
    "      cartella corrente) e lo stampa come oggetto JSON.\n"
    "  norvix dsc import FILE.dsc DB [--password PW]\n"
    "      Scrive le righe di FILE.dsc nel database SQLite DB (creandolo), cifrate se si\n"
    "      indica una password.\n"
    "  norvix dsc export DB [--password PW]\n"
    "      Stampa le righe di un database dei descrittori (SQLite o Jet).\n"
    "  norvix edit [--db FILE | --connection STR] [--dsc CARTELLA] [--key VALORI | --new]\n"
    "              [--readonly] [--desc-field NOME] [--settings FILE.ini] [--print-last-inserted] RECORD\n"
    "      Apre l'editor del record RECORD: dati nel file SQLite FILE o nella connessione STR,\n"
    "      descrittori in CARTELLA (predefinita: la cartella dei dati). --key apre la riga con\n"
    "      quei valori di chiave (separati da virgole), --new una riga nuova.\n"
    "  norvix\n"
    "      Senza argomenti apre la dimostrazione: l'editor dei clienti di un piccolo archivio\n"
    "      di esempio, creato alla prima esecuzione nella cartella dati dell'utente.\n"
    "  norvix --help | --version\n"
    "\n"
    "Codici di uscita: 0 riuscito; 1 descrittori non trovati; 2 errore.\n";

void out(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

void err(const QString &text)
{
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

int usageError(const QString &problem)
{
    err(QStringLiteral("norvix: %1").arg(problem));
    std::fputs(kUsage, stderr);
    return kFailure;
}

// Options and positional arguments of one subcommand.
struct Args
{
    QStringList positional;
    QMap<QString, QString> options;
};

// Splits `args` by the options that take a value; unknown options are errors.
std::optional<Args> splitArgs(const QStringList &args, const QStringList &valueOptions, QString &problem)
{
    Args a;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (arg == u"--") {
            a.positional += args.mid(i + 1);
            break;
        }
        if (arg.startsWith(u"--")) {
            QString name = arg, value;
            const qsizetype eq = arg.indexOf(u'=');
            if (eq > 0) {
                name = arg.left(eq);
                value = arg.mid(eq + 1);
            }
            if (!valueOptions.contains(name)) {
                problem = QStringLiteral("opzione sconosciuta %1").arg(name);
                return std::nullopt;
            }
            if (eq < 0) {
                if (i + 1 >= args.size()) {
                    problem = QStringLiteral("manca il valore di %1").arg(name);
                    return std::nullopt;
                }
                value = args.at(++i);
            }
            a.options.insert(name, value);
        } else {
            a.positional.append(arg);
        }
    }
    return a;
}

int dscDump(const Args &a)
{
    if (a.positional.size() != 1)
        return usageError(QStringLiteral("dsc dump vuole un solo RECORD"));
    QString folder = a.options.value(QStringLiteral("--dsc"), QStringLiteral("."));
    setDscPassword(a.options.value(QStringLiteral("--password")));
    Rec rec;
    if (!LeggiDsc(folder, a.positional.first(), rec))
        return kNotFound; // the message has been printed
    if (rec.Nome().isEmpty())
        err(QStringLiteral("norvix: il record %1 non è descritto in %2").arg(a.positional.first(), folder));
    out(QJsonDocument(recToJson(rec)).toJson(QJsonDocument::Indented));
    return kOk;
}

int dscImport(const Args &a)
{
    if (a.positional.size() != 2)
        return usageError(QStringLiteral("dsc import vuole FILE.dsc e DB"));
    QFile file(a.positional.at(0));
    if (!file.open(QIODevice::ReadOnly))
        throw DescriptorError(QStringLiteral("Impossibile aprire %1: %2").arg(file.fileName(), file.errorString()));
    const QStringList lines = splitDscLines(decodeDscText(file.readAll()));
    writeDscDatabase(a.positional.at(1), lines, a.options.value(QStringLiteral("--password")));
    err(QStringLiteral("%1 righe scritte in %2").arg(lines.size()).arg(a.positional.at(1)));
    return kOk;
}

int dscExport(const Args &a)
{
    if (a.positional.size() != 1)
        return usageError(QStringLiteral("dsc export vuole un solo DB"));
    const QStringList lines = readDscDatabase(a.positional.first(), a.options.value(QStringLiteral("--password")));
    QByteArray text;
    for (const QString &line : lines)
        text += line.toUtf8() + '\n';
    out(text);
    return kOk;
}

// Flags without a value that the edit command knows.
const QStringList kEditFlags{QStringLiteral("--new"), QStringLiteral("--readonly"), QStringLiteral("--print-last-inserted")};

int edit(int argc, char *argv[], const QStringList &args)
{
    QStringList rest;
    QMap<QString, bool> flags;
    for (const QString &a : args) {
        if (kEditFlags.contains(a))
            flags.insert(a, true);
        else
            rest << a;
    }
    QString problem;
    const auto parsed = splitArgs(rest,
                                  {QStringLiteral("--db"), QStringLiteral("--connection"), QStringLiteral("--dsc"), QStringLiteral("--settings"),
                                   QStringLiteral("--key"), QStringLiteral("--desc-field")},
                                  problem);
    if (!parsed)
        return usageError(problem);
    if (parsed->positional.size() != 1)
        return usageError(QStringLiteral("edit vuole un solo RECORD"));
    if (parsed->options.contains(QStringLiteral("--db")) && parsed->options.contains(QStringLiteral("--connection")))
        return usageError(QStringLiteral("--db e --connection si escludono"));
    if (parsed->options.contains(QStringLiteral("--key")) && flags.value(QStringLiteral("--new")))
        return usageError(QStringLiteral("--key e --new si escludono"));

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("norvix"));
    QApplication::setApplicationDisplayName(QStringLiteral("Norvix"));
    installQtWindowServices();

    // The control, as a host would place it: its saved settings first, the command line over them.
    Norvix::Norvix control;
    const QString settings = parsed->options.value(QStringLiteral("--settings"));
    if (!settings.isEmpty()) {
        if (!QFileInfo(settings).isFile())
            return usageError(QStringLiteral("il file di impostazioni %1 non esiste").arg(settings));
        control.readProperties(SettingsPropertyBag(settings));
    }
    if (parsed->options.contains(QStringLiteral("--db"))) {
        const QFileInfo db(parsed->options.value(QStringLiteral("--db")));
        control.setDbPath(db.absolutePath());
        control.setDatabaseName(db.fileName());
        control.setConnection(QString());
    }
    if (parsed->options.contains(QStringLiteral("--connection")))
        control.setConnection(parsed->options.value(QStringLiteral("--connection")));
    if (parsed->options.contains(QStringLiteral("--dsc")))
        control.setDscPath(parsed->options.value(QStringLiteral("--dsc")));
    if (parsed->options.contains(QStringLiteral("--desc-field")))
        control.setTableDescField(parsed->options.value(QStringLiteral("--desc-field")));
    if (flags.value(QStringLiteral("--readonly")))
        control.setReadOnly(true);
    control.setRecordName(parsed->positional.first());
    control.setModale(true);

    std::optional<QString> key;
    if (parsed->options.contains(QStringLiteral("--key")))
        key = parsed->options.value(QStringLiteral("--key"));
    else if (flags.value(QStringLiteral("--new")))
        key = QString();

    try {
        // A missing descriptor is shown to the user and opens nothing.
        if (!control.ShowTableEditor(key))
            return kNotFound;
    } catch (const Norvix::Error &e) {
        err(QStringLiteral("norvix: %1").arg(e.message()));
        return kFailure;
    }
    // An editor left open without its modal wait (after a host event) still ends the program
    // only when it closes.
    if (FrmEditTab *open = control.TableEditor()) {
        QEventLoop wait;
        QObject::connect(open, &QObject::destroyed, &wait, &QEventLoop::quit);
        wait.exec();
    }
    if (flags.value(QStringLiteral("--print-last-inserted")))
        out(control.LastInserted().toUtf8() + '\n');
    return kOk;
}

} // namespace

int main(int argc, char *argv[])
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));

    if (args.isEmpty())
        return NorvixApp::runDemo(argc, argv);
    if (args.first() == u"--help" || args.first() == u"-h" || args.first() == u"help") {
        std::fputs(kUsage, stdout);
        return kOk;
    }
    if (args.first() == u"--version") {
        std::printf("norvix %s\n", NORVIX_VERSION);
        return kOk;
    }
    if (args.first() == u"edit") {
        if (args.contains(QStringLiteral("--help"))) {
            std::fputs(kUsage, stdout);
            return kOk;
        }
        return edit(argc, argv, args.mid(1));
    }
    if (args.first() != u"dsc")
        return usageError(QStringLiteral("comando sconosciuto %1").arg(args.first()));
    if (args.size() < 2)
        return usageError(QStringLiteral("manca il comando dsc (dump, import, export)"));
    const QString command = args.at(1);
    if (args.mid(2).contains(QStringLiteral("--help"))) {
        std::fputs(kUsage, stdout);
        return kOk;
    }

    QString problem;
    const QStringList valueOptions = command == u"dump"
        ? QStringList{QStringLiteral("--dsc"), QStringLiteral("--password")}
        : QStringList{QStringLiteral("--password")};
    const auto parsed = splitArgs(args.mid(2), valueOptions, problem);
    if (!parsed)
        return usageError(problem);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("norvix"));
    try {
        if (command == u"dump")
            return dscDump(*parsed);
        if (command == u"import")
            return dscImport(*parsed);
        if (command == u"export")
            return dscExport(*parsed);
    } catch (const Norvix::Error &e) {
        err(QStringLiteral("norvix: %1").arg(e.message()));
        return kFailure;
    }
    return usageError(QStringLiteral("comando dsc sconosciuto %1").arg(command));
}
