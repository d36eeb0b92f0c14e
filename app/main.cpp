// norvix: the command-line program.
//
//   norvix                     the demo
//   norvix edit [options] RECORD
//   norvix dsc dump|import|export|lint|index|scaffold [options] ...
//   norvix migrate FILE.mdb --db TARGET.db [options] [TABLE...]
//   norvix history [options] RECORD
//   norvix live install|remove [options] TABLE...
//   norvix --help | --version, and --help after any command
//
// The command line is parsed before any application object exists, so --help and usage errors
// work without a display. Every failure exits non-zero and says on standard error what went
// wrong: 1 when something asked for was not found (descriptors, a record, a table), 2 for any
// other error (usage, unreadable input, a database that cannot be opened).

#include "demo.h"
#include "platform/language.h"
#include "descriptor/dscdatabase.h"
#include "descriptor/dscjson.h"
#include "descriptor/dsctext.h"
#include "descriptor/leggidsc.h"
#include "control/norvix.h"
#include "editor/historymodel.h"
#include "editor/frmedittab.h"
#include "editor/shared.h"
#include "platform/dataerror.h"
#include "platform/connection.h"
#include "tools/historyprint.h"
#include "tools/livetriggers.h"
#include "tools/lint.h"
#include "tools/lookupindex.h"
#include "tools/migrate.h"
#include "tools/scaffold.h"
#include "platform/messages.h"
#include "ui/qtmessages.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <optional>

using namespace Norvix;

namespace {

constexpr int kOk = 0;
constexpr int kNotFound = 1;
constexpr int kFailure = 2;

const char kPasswordVariable[] = "NORVIX_DSC_PASSWORD";

const char kExitCodes[] = NX_NOOP("Codici di uscita: 0 riuscito; 1 descrittori, record o tabella non trovati; 2 errore "
                                  "(argomenti, file illeggibili, database che non si apre).\n");

void out(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

void err(const QString &text)
{
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

// One command: its options and positional arguments, for parsing and for its help.
struct Command
{
    QString name;       // "edit", "dsc dump"
    QString arguments;  // "RECORD", "FILE.dsc DB"
    QString summary;
    QList<QCommandLineOption> options;
    int positional = 0; // how many positional arguments it takes (-1: any number)
    bool password = false;
};

// The option after which more positional arguments may follow (the texts of a search).
const QString kMoreWith = QStringLiteral("search");

QCommandLineOption option(const QString &name, const QString &description, const QString &value = QString())
{
    return value.isEmpty() ? QCommandLineOption(name, description) : QCommandLineOption(name, description, value);
}

QList<QCommandLineOption> passwordOptions()
{
    return {option(QStringLiteral("password"), nxTr("la password dei descrittori (visibile agli altri utenti: "
                                                              "meglio --password-file o %1)")
                                                   .arg(QLatin1String(kPasswordVariable)),
                   QStringLiteral("PW")),
            option(QStringLiteral("password-file"), nxTr("legge la password dalla prima riga di FILE"),
                   QStringLiteral("FILE"))};
}

// A command that reads descriptors, and so takes their password.
Command withPassword(Command c)
{
    c.options += passwordOptions();
    c.password = true;
    return c;
}

Command dumpCommand()
{
    return withPassword({QStringLiteral("dsc dump"), QStringLiteral("RECORD"),
                         nxTr("Carica il descrittore di RECORD come farà l'editor (files.dsc o, se manca, "
                                        "dsc.mdb) e lo stampa come oggetto JSON."),
                         {option(QStringLiteral("dsc"), nxTr("la cartella dei descrittori (predefinita: la cartella "
                                                                       "corrente)"),
                                 nxTr("CARTELLA"))},
                         1});
}

Command importCommand()
{
    return withPassword({QStringLiteral("dsc import"), QStringLiteral("FILE.dsc DB"),
                         nxTr("Scrive le righe di FILE.dsc nel database SQLite dei descrittori DB (creandolo), "
                                        "cifrate se si indica una password."),
                         {}, 2});
}

Command exportCommand()
{
    return withPassword({QStringLiteral("dsc export"), QStringLiteral("DB"),
                         nxTr("Stampa le righe di un database dei descrittori (SQLite o Jet)."), {}, 1});
}

// --db and --connection (see openDatabase()).
QList<QCommandLineOption> databaseOptions()
{
    return {option(QStringLiteral("db"), nxTr("il database è il file SQLite FILE"), QStringLiteral("FILE")),
            option(QStringLiteral("connection"), nxTr("il database dalla stringa di connessione STR"), QStringLiteral("STR"))};
}

// A command on the descriptors of a folder and the database they describe.
Command onDescriptors(const QString &name, const QString &summary, const QCommandLineOption &more)
{
    return withPassword({name, QStringLiteral("[RECORD...]"), summary,
                         databaseOptions()
                             << option(QStringLiteral("dsc"), nxTr("la cartella dei descrittori (files.dsc o dsc.mdb)"),
                                       nxTr("CARTELLA"))
                             << more,
                         -1});
}

Command lintCommand()
{
    return onDescriptors(QStringLiteral("dsc lint"),
                         nxTr("Controlla i descrittori sul database vero (tutti i record, o quelli indicati): "
                                        "colonne e tabelle che mancano, tipi che la colonna non può tenere, lunghezze, "
                                        "chiavi, collegamenti, pagine, controlli e ricerche. Esce con 1 se trova problemi."),
                         option(QStringLiteral("json"), nxTr("stampa i risultati come un documento JSON")));
}

Command indexCommand()
{
    return onDescriptors(QStringLiteral("dsc index"),
                         nxTr("Crea l'indice che rende veloce la ricerca per parole nelle descrizioni dei campi collegati "
                              "dei record (tutti, o quelli indicati) a tabelle di più di %1 righe, dove manca: su SQLite "
                              "una tabella FTS5 tenuta aggiornata da trigger, su PostgreSQL un indice GIN di pg_trgm. "
                              "Stampa una riga per indice. Esce con 1 se un record non c'è, con 2 se il database è di "
                              "sola lettura, non può avere l'indice o la creazione non riesce (ogni indice si crea "
                              "tutto o niente).")
                             .arg(kLargeLookupRows),
                         option(QStringLiteral("all"), nxTr("anche per i collegamenti a tabelle più piccole")));
}

Command scaffoldCommand()
{
    return {QStringLiteral("dsc scaffold"), nxTr("[TABELLA...]"),
            nxTr("Stampa un files.dsc fatto dal database per le tabelle indicate, o per tutte le tabelle "
                           "dell'utente: un record per tabella, un campo per colonna (AUTOINC per una chiave che il "
                           "database numera), la chiave primaria, le chiavi esterne come campi collegati, una ricerca "
                           "per ogni tabella. Esce con 1 se una tabella non esiste."),
            databaseOptions(), -1};
}

Command migrateCommand()
{
    return {QStringLiteral("migrate"), nxTr("FILE.mdb [TABELLA...]"),
            nxTr("Copia le tabelle di un database Jet (.mdb di Access 97-2003), tutte o quelle indicate, nel "
                           "database SQLite --db: ogni riga, i tipi delle colonne, le chiavi primarie e gli indici, tutto in "
                           "una transazione. Esce con 1 se una tabella esiste già nel database (senza --replace) o manca nel "
                           "file, con 2 se il file non si legge (password errata, file danneggiato): il database resta com'era."),
            {option(QStringLiteral("db"), nxTr("il database SQLite di destinazione (creato se manca)"), QStringLiteral("FILE")),
             option(QStringLiteral("password"), nxTr("la password del database Jet"), QStringLiteral("P")),
             option(QStringLiteral("replace"), nxTr("sostituisce le tabelle (e il files.dsc) che ci sono già")),
             option(QStringLiteral("descriptors"), nxTr("scrive anche un files.dsc per le tabelle copiate, accanto al "
                                                                  "database"))},
            -1};
}

Command editCommand()
{
    Command c{QStringLiteral("edit"), nxTr("RECORD [TESTO...]"),
              nxTr("Apre l'editor del record RECORD e termina quando viene chiuso. Se l'editor non può "
                             "aprirsi, il motivo è scritto sullo standard error."),
              {option(QStringLiteral("db"), nxTr("i dati nel file SQLite FILE"), QStringLiteral("FILE")),
               option(QStringLiteral("connection"), nxTr("i dati dalla stringa di connessione STR"), QStringLiteral("STR")),
               option(QStringLiteral("dsc"), nxTr("la cartella dei descrittori (predefinita: quella dei dati)"),
                      nxTr("CARTELLA")),
               option(QStringLiteral("key"), nxTr("apre la riga con questi valori di chiave, separati da virgole"),
                      nxTr("VALORI")),
               option(QStringLiteral("new"), nxTr("apre una riga nuova")),
               option(QStringLiteral("readonly"), nxTr("solo lettura: resta utilizzabile solo \"Fine\"")),
               option(QStringLiteral("user"), nxTr("chi fa le modifiche, come lo nomina la storia dei record che "
                                                   "la tengono (predefinito: l'utente del sistema)"),
                      nxTr("NOME")),
               option(QStringLiteral("no-live"), nxTr("le modifiche di altri utenti non si mostrano da sole: si vedono "
                                                      "tornando sulla riga")),
               option(QStringLiteral("desc-field"), nxTr("la colonna mostrata accanto alle chiavi nell'elenco"),
                      nxTr("NOME")),
               option(QStringLiteral("settings"), nxTr("le proprietà del controllo (sezione [Norvix]) da un file INI; "
                                                                 "le opzioni date vi si sovrappongono"),
                      QStringLiteral("FILE.ini")),
               option(QStringLiteral("print-last-inserted"), nxTr("alla chiusura stampa la chiave dell'ultima "
                                                                            "riga inserita")),
               option(QStringLiteral("search"), nxTr("apre il pannello di ricerca sulla ricerca N del record, "
                                                               "con i TESTI nei suoi campi in ordine, e la esegue"),
                      QStringLiteral("N"))},
              1};
    return withPassword(c);
}

Command historyCommand()
{
    return withPassword(
        {QStringLiteral("history"), QStringLiteral("RECORD"),
         nxTr("Stampa la storia delle righe di RECORD, dalla più recente: chi le ha inserite, modificate o eliminate, "
              "quando e con quali valori, una riga per campo con le colonne separate da tabulazioni. Con --dsc RECORD è "
              "un record dei descrittori, che danno la tabella, la chiave, le didascalie e i formati; senza, RECORD è la "
              "tabella e la chiave è la sua chiave primaria. Il database è letto e mai scritto. Esce con 1 se non c'è "
              "storia."),
         databaseOptions()
             << option(QStringLiteral("dsc"), nxTr("la cartella dei descrittori (files.dsc o dsc.mdb)"), nxTr("CARTELLA"))
             << option(QStringLiteral("key"), nxTr("solo la riga con questi valori di chiave, separati da virgole"),
                       nxTr("VALORI"))
             << option(QStringLiteral("since"), nxTr("solo da DATA in poi (2026-12-01, 2026-12-01T10:00 o 01/12/2026)"),
                       nxTr("DATA"))
             << option(QStringLiteral("json"), nxTr("un oggetto JSON per riga e per voce, con i valori come sono registrati")),
         1});
}

Command liveCommand(const QString &sub)
{
    return {QStringLiteral("live ") + sub, nxTr("TABELLA..."),
            sub == u"install"
                ? nxTr("Su PostgreSQL crea su ogni TABELLA il trigger norvix_live (e la funzione norvix_live_notify) che "
                       "avvisa gli editor aperti delle modifiche fatte da qualunque programma, non solo da Norvix. Esce "
                       "con 2 se una tabella non esiste: allora nulla è cambiato.")
                : nxTr("Su PostgreSQL toglie da ogni TABELLA il trigger norvix_live (e la funzione norvix_live_notify "
                       "quando nessun trigger la usa più). Esce con 2 se una tabella non esiste: allora nulla è cambiato."),
            databaseOptions(), -1};
}

QString helpText(const Command &c)
{
    QString text = nxTr("Uso: norvix %1 [opzioni] %2\n\n%3\n\nOpzioni:\n").arg(c.name, c.arguments, c.summary);
    QList<QPair<QString, QString>> rows;
    for (const QCommandLineOption &o : c.options)
        rows.append({QStringLiteral("--%1%2").arg(o.names().first(), o.valueName().isEmpty() ? QString() : u' ' + o.valueName()),
                     o.description()});
    rows.append({QStringLiteral("-h, --help"), nxTr("mostra questo aiuto")});
    qsizetype width = 0;
    for (const auto &r : std::as_const(rows))
        width = std::max(width, r.first.size());
    for (const auto &r : std::as_const(rows))
        text += QStringLiteral("  %1  %2\n").arg(r.first.leftJustified(width), r.second);
    if (c.password)
        text += nxTr("\nVariabili d'ambiente:\n  %1  la password dei descrittori, quando non è data con "
                               "--password o --password-file\n")
                    .arg(QLatin1String(kPasswordVariable));
    return text + u'\n' + nxTr(kExitCodes);
}

QString overview()
{
    QString text = nxTr("Uso: norvix [COMANDO] [opzioni]\n\nComandi:\n");
    for (const Command &c : {editCommand(), historyCommand(), liveCommand(QStringLiteral("install")),
                             liveCommand(QStringLiteral("remove")), dumpCommand(), importCommand(), exportCommand(),
                             lintCommand(), indexCommand(), scaffoldCommand(), migrateCommand()})
        text += nxTr("  norvix %1 [opzioni] %2\n      %3\n").arg(c.name, c.arguments, c.summary);
    text += nxTr("  norvix\n      Senza argomenti apre la dimostrazione: l'editor dei clienti di un piccolo archivio di "
                           "esempio, creato alla prima esecuzione nella cartella dati dell'utente.\n"
                           "  norvix --help | --version\n"
                           "      Con --lang it|en i testi sono in italiano o in inglese (predefinita: la lingua del sistema).\n\n"
                           "Ogni comando descrive le sue opzioni con --help (per esempio: norvix edit --help).\n\n");
    return text + nxTr(kExitCodes);
}

bool asksForHelp(const QStringList &args)
{
    for (const QString &a : args) {
        if (a == u"--")
            return false;
        if (a == u"--help" || a == u"-h")
            return true;
    }
    return false;
}

int usageError(const QString &problem, const QString &help)
{
    err(QStringLiteral("norvix: %1").arg(problem));
    std::fputs(help.toLocal8Bit().constData(), stderr);
    return kFailure;
}

// Parses a command's arguments; a message for the user when they do not fit.
std::optional<QString> parse(QCommandLineParser &parser, const Command &c, const QStringList &args)
{
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions(c.options);
    if (!parser.parse(QStringList{QStringLiteral("norvix")} + args)) {
        if (!parser.unknownOptionNames().isEmpty())
            return nxTr("opzione sconosciuta %1").arg((parser.unknownOptionNames().first().size() > 1 ? QStringLiteral("--") : QStringLiteral("-")) + parser.unknownOptionNames().first());
        return nxTr("argomenti non validi (%1)").arg(parser.errorText());
    }
    const qsizetype given = parser.positionalArguments().size();
    const bool more = std::any_of(c.options.cbegin(), c.options.cend(),
                                  [](const QCommandLineOption &o) { return o.names().contains(kMoreWith); })
                      && parser.isSet(kMoreWith);
    if (c.positional >= 0 && given != c.positional && !(given > c.positional && more))
        return nxTr("%1 vuole %2").arg(c.name, c.arguments);
    return std::nullopt;
}

// The descriptor password: --password, else the first line of --password-file, else the
// environment. Throws Error when the file cannot be read.
QString password(const QCommandLineParser &parser)
{
    if (parser.isSet(QStringLiteral("password")))
        return parser.value(QStringLiteral("password"));
    if (parser.isSet(QStringLiteral("password-file"))) {
        QFile file(parser.value(QStringLiteral("password-file")));
        if (!file.open(QIODevice::ReadOnly))
            throw Error(nxTr("Impossibile leggere il file della password %1: %2").arg(file.fileName(), file.errorString()));
        QString line = QString::fromUtf8(file.readLine());
        while (line.endsWith(u'\n') || line.endsWith(u'\r'))
            line.chop(1);
        return line;
    }
    return qEnvironmentVariable(kPasswordVariable);
}

// The descriptor of the record named first on the command line, from --dsc (by default the
// current folder); none, the reason told, when the descriptors are not there or lack it.
std::shared_ptr<Rec> describedRecord(const QCommandLineParser &p)
{
    QString folder = p.isSet(QStringLiteral("dsc")) ? p.value(QStringLiteral("dsc")) : QStringLiteral(".");
    const QString record = p.positionalArguments().first();
    setDscPassword(password(p));
    auto rec = std::make_shared<Rec>();
    if (!LeggiDsc(folder, record, *rec))
        return nullptr; // the message has been printed
    if (rec->Nome().isEmpty()) {
        err(nxTr("norvix: il record %1 non è descritto in %2").arg(record, folder));
        return nullptr;
    }
    return rec;
}

int dscDump(const QCommandLineParser &p)
{
    const auto rec = describedRecord(p);
    if (!rec)
        return kNotFound;
    out(QJsonDocument(recToJson(*rec)).toJson(QJsonDocument::Indented));
    return kOk;
}

int dscImport(const QCommandLineParser &p)
{
    QFile file(p.positionalArguments().at(0));
    if (!file.open(QIODevice::ReadOnly))
        throw DescriptorError(nxTr("Impossibile aprire %1: %2").arg(file.fileName(), file.errorString()));
    const QStringList lines = splitDscLines(decodeDscText(file.readAll()));
    writeDscDatabase(p.positionalArguments().at(1), lines, password(p));
    err(nxTrCount(lines.size(), NX_NOOP("%1 riga scritta in %2"), NX_NOOP("%1 righe scritte in %2"))
            .arg(p.positionalArguments().at(1)));
    return kOk;
}

int dscExport(const QCommandLineParser &p)
{
    const QStringList lines = readDscDatabase(p.positionalArguments().first(), password(p));
    QByteArray text;
    for (const QString &line : lines)
        text += line.toUtf8() + '\n';
    out(text);
    return kOk;
}

// The database of --db or --connection, opened; a usage problem when neither or both are given.
std::shared_ptr<Connection> openDatabase(const QCommandLineParser &p, QString *problem, Access access = Access::ReadWrite)
{
    const bool db = p.isSet(QStringLiteral("db"));
    if (db == p.isSet(QStringLiteral("connection"))) {
        *problem = nxTr("serve --db FILE o --connection STR (uno dei due)");
        return nullptr;
    }
    if (!db)
        return Connection::open(p.value(QStringLiteral("connection")), {}, {}, access);
    const QFileInfo file(p.value(QStringLiteral("db")));
    if (!file.isFile()) // SQLite would make an empty database of a missing file
        throw DataError(DataError::ConnectionFailed, nxTr("Il database %1 non esiste").arg(file.filePath()));
    return Connection::open(ConnectionParams::sqliteFile(file.absoluteFilePath()), access);
}

// The lines of the descriptors in a folder: files.dsc, or else dsc.mdb.
QStringList descriptorLines(const QString &folder, const QCommandLineParser &p, QString *source)
{
    const QDir dir(folder);
    if (QFile text(dir.filePath(QStringLiteral("files.dsc"))); text.exists()) {
        if (!text.open(QIODevice::ReadOnly))
            throw DescriptorError(nxTr("Impossibile aprire %1: %2").arg(text.fileName(), text.errorString()));
        *source = text.fileName();
        return splitDscLines(decodeDscText(text.readAll()));
    }
    const QString database = dir.filePath(QStringLiteral("dsc.mdb"));
    if (!QFileInfo::exists(database))
        throw DescriptorError(nxTr("Dsc non trovato in %1").arg(folder));
    *source = database;
    return readDscDatabase(database, password(p));
}

int dscLint(const QCommandLineParser &p)
{
    QString problem;
    const auto connection = openDatabase(p, &problem, Access::ReadOnly);
    if (!connection)
        return usageError(problem, helpText(lintCommand()));
    QString source;
    const QStringList lines =
        descriptorLines(p.isSet(QStringLiteral("dsc")) ? p.value(QStringLiteral("dsc")) : QStringLiteral("."), p, &source);
    const QList<LintFinding> findings = lintDescriptors(*connection, lines, source, p.positionalArguments());
    int faults = 0;
    for (const LintFinding &f : findings)
        faults += f.hint ? 0 : 1;
    if (p.isSet(QStringLiteral("json"))) {
        QJsonArray list;
        for (const LintFinding &f : findings)
            list.append(QJsonObject{{"record", f.record}, {"field", f.field}, {"line", f.line}, {"code", f.code},
                                    {"message", f.message}, {"severity", f.hint ? "hint" : "error"}});
        out(QJsonDocument(QJsonObject{{"source", source}, {"findings", list}}).toJson(QJsonDocument::Indented));
    } else {
        const QString name = QFileInfo(source).fileName();
        for (const LintFinding &f : findings)
            err(QStringLiteral("%1:%2: %3%4: %5%6 [%7]")
                    .arg(name)
                    .arg(f.line)
                    .arg(f.record, f.field.isEmpty() ? QString() : u'.' + f.field,
                         f.hint ? QStringLiteral("suggerimento: ") : QString(), f.message, f.code));
        if (faults > 0)
            err(nxTrCount(faults, NX_NOOP("%1 problema trovato"), NX_NOOP("%1 problemi trovati")));
    }
    return faults > 0 ? kNotFound : kOk;
}

// Makes the description search indexes the lookups want; one line for each, made or there.
int dscIndex(const QCommandLineParser &p)
{
    QString problem;
    const auto connection = openDatabase(p, &problem);
    if (!connection)
        return usageError(problem, helpText(indexCommand()));
    QString source;
    const QStringList lines =
        descriptorLines(p.isSet(QStringLiteral("dsc")) ? p.value(QStringLiteral("dsc")) : QStringLiteral("."), p, &source);
    QStringList missing;
    const QList<LookupSearch> searches =
        lookupSearches(*connection, lines, source, p.positionalArguments(), p.isSet(QStringLiteral("all")), &missing);
    for (const QString &r : std::as_const(missing))
        err(nxTr("norvix: i descrittori non hanno il record %1").arg(r));
    if (!missing.isEmpty())
        return kNotFound;
    int failed = 0;
    for (const LookupSearch &s : searches) {
        const QString name = QStringLiteral("%1 (%2)").arg(s.index.table, s.descColumns.join(u';'));
        if (s.index.present) {
            out(nxTr("%1: già presente").arg(name).toLocal8Bit() + '\n');
            continue;
        }
        if (!s.index.possible) {
            err(nxTr("norvix: %1: il database non può avere l'indice (%2): la ricerca per descrizione scorre la tabella")
                    .arg(name, whyNoIndex(s.index)));
            ++failed;
            continue;
        }
        if (connection->isReadOnly()) {
            err(nxTr("norvix: il database è di sola lettura: l'indice di %1 non si può creare").arg(name));
            return kFailure;
        }
        try {
            createLookupIndex(*connection, s.index);
        } catch (const DataError &e) {
            err(nxTr("norvix: %1: indice non creato: %2").arg(name, e.description()));
            ++failed;
            continue;
        }
        out(nxTr("%1: indice creato").arg(name).toLocal8Bit() + '\n');
    }
    return failed > 0 ? kFailure : kOk;
}

int dscScaffold(const QCommandLineParser &p)
{
    QString problem;
    const auto connection = openDatabase(p, &problem);
    if (!connection)
        return usageError(problem, helpText(scaffoldCommand()));
    QStringList lines;
    try {
        lines = scaffoldDescriptors(*connection, p.positionalArguments());
    } catch (const DataError &e) {
        if (e.number() != DataError::BadIdentifier)
            throw;
        err(QStringLiteral("norvix: %1").arg(e.description()));
        return kNotFound;
    }
    out((lines.join(u'\n') + u'\n').toUtf8());
    return kOk;
}

int migrate(const QCommandLineParser &p)
{
    if (p.positionalArguments().isEmpty() || !p.isSet(QStringLiteral("db")))
        return usageError(nxTr("migrate vuole FILE.mdb e --db FILE"), helpText(migrateCommand()));
    MigrateOptions options;
    options.source = p.positionalArguments().first();
    options.tables = p.positionalArguments().mid(1);
    options.target = p.value(QStringLiteral("db"));
    options.password = p.value(QStringLiteral("password"));
    options.replace = p.isSet(QStringLiteral("replace"));
    options.descriptors = p.isSet(QStringLiteral("descriptors"));
    options.progress = [](const QString &line) { err(line); };
    if (!QFileInfo(options.source).isFile())
        throw DescriptorError(nxTr("Il file %1 non esiste").arg(options.source));
    try {
        const MigrateResult result = migrateJet(options);
        err(nxTrCount(result.tables.size(), NX_NOOP("%1 tabella copiata in %2 (%3)"), NX_NOOP("%1 tabelle copiate in %2 (%3)"))
                .arg(options.target, nxTrCount(result.rows, NX_NOOP("%1 riga"), NX_NOOP("%1 righe"))));
    } catch (const MigrationRefused &e) {
        err(QStringLiteral("norvix: %1").arg(e.message()));
        return kNotFound;
    }
    return kOk;
}

// Prints the history of a table's rows, or of one row's, read-only.
int history(const QCommandLineParser &p)
{
    const QString help = helpText(historyCommand());
    HistoryListing listing;
    if (p.isSet(QStringLiteral("since"))) {
        const auto since = commandLineMoment(p.value(QStringLiteral("since")));
        if (!since)
            return usageError(nxTr("--since vuole una data come 2026-12-01, 2026-12-01T10:00 o 01/12/2026, non %1")
                                  .arg(p.value(QStringLiteral("since"))),
                              help);
        listing.since = *since;
    }
    QString problem;
    const auto connection = openDatabase(p, &problem, Access::ReadOnly);
    if (!connection)
        return usageError(problem, help);
    listing.table = p.positionalArguments().first();
    if (p.isSet(QStringLiteral("dsc"))) {
        listing.record = describedRecord(p);
        if (!listing.record)
            return kNotFound;
        listing.table = listing.record->Nome();
    }
    QString shown = listing.table;
    if (p.isSet(QStringLiteral("key"))) {
        listing.key = QStringList();
        for (const QString &v : p.value(QStringLiteral("key")).split(u','))
            *listing.key << v.trimmed();
        shown += QStringLiteral(" (%1)").arg(listing.key->join(u','));
    }
    listing.json = p.isSet(QStringLiteral("json"));
    listing.valueText = historyValueText;
    if (printHistory(*connection, listing, out) > 0)
        return kOk;
    err(nxTr("norvix: nessuna storia per %1").arg(shown));
    return kNotFound;
}

// Installs or removes the triggers that notify the editors of other programs' changes (PostgreSQL).
int live(const QCommandLineParser &p, const Command &command)
{
    QString problem = p.positionalArguments().isEmpty() ? nxTr("%1 vuole %2").arg(command.name, command.arguments) : QString();
    const auto connection = problem.isEmpty() ? openDatabase(p, &problem, Access::ReadOnly) : nullptr;
    if (!connection)
        return usageError(problem, helpText(command));
    if (connection->dialect() != SqlDialect::PostgreSql) {
        out(nxTr("Su SQLite e ODBC gli editor controllano da sé, a intervalli regolari, le modifiche degli altri: non "
                 "c'è nulla da installare.")
                .toLocal8Bit()
            + '\n');
        return kOk;
    }
    if (!connection->enableWriting()) {
        err(nxTr("norvix: il database è di sola lettura: i trigger non si possono cambiare"));
        return kFailure;
    }
    const bool install = command.name == u"live install";
    for (const QString &table : install ? installLiveTriggers(*connection, p.positionalArguments())
                                        : removeLiveTriggers(*connection, p.positionalArguments()))
        out((install ? nxTr("%1: trigger norvix_live installato") : nxTr("%1: trigger norvix_live tolto")).arg(table).toLocal8Bit()
            + '\n');
    return kOk;
}

// While the editor starts, its messages go to standard error and nothing waits for an answer
// (a failed start ends the program at once); once it shows, they are message boxes.
class EditMessages : public MessageService
{
public:
    MsgAnswer show(const Message &message) override
    {
        const QWidgetList windows = QApplication::topLevelWidgets();
        const bool shown = std::any_of(windows.cbegin(), windows.cend(), [](const QWidget *w) {
            return qobject_cast<const FrmEditTab *>(w) && w->isVisible();
        });
        return shown ? m_boxes.show(message) : m_text.show(message);
    }

private:
    QtMessageService m_boxes;
    StderrMessageService m_text;
};

// A window needs a screen: without one the user is told so, before Qt would abort.
bool haveScreen()
{
    if (!qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return true;
    err(nxTr("norvix: nessuno schermo disponibile per l'editor (DISPLAY non impostato)"));
    return false;
}

// The application just made, named, in the chosen language, with Qt's window services.
void prepareApplication()
{
    QApplication::setApplicationName(QStringLiteral("norvix"));
    QApplication::setApplicationDisplayName(QStringLiteral("Norvix"));
    installQtTranslations();
    installQtWindowServices();
}

int edit(int argc, char *argv[], const QCommandLineParser &p)
{
    const auto has = [&](const char *name) { return p.isSet(QLatin1String(name)); };
    const auto value = [&](const char *name) { return p.value(QLatin1String(name)); };
    const QString help = helpText(editCommand());
    if (has("db") && has("connection"))
        return usageError(QStringLiteral("--db e --connection si escludono"), help);
    if (has("key") && has("new"))
        return usageError(QStringLiteral("--key e --new si escludono"), help);
    bool searchNumber = false;
    const int search = has("search") ? value("search").toInt(&searchNumber) : 0;
    if (has("search") && !searchNumber)
        return usageError(nxTr("--search vuole il numero di una ricerca, non %1").arg(value("search")), help);
    if (has("settings") && !QFileInfo(value("settings")).isFile())
        return usageError(nxTr("il file di impostazioni %1 non esiste").arg(value("settings")), help);
    if (!haveScreen())
        return kFailure;

    QApplication app(argc, argv);
    prepareApplication();
    setMessageService(std::make_shared<EditMessages>());

    // The control, as a host would place it: its saved settings first, the command line over them.
    Norvix::Norvix control;
    if (has("settings"))
        control.readProperties(SettingsPropertyBag(value("settings")));
    if (has("db")) {
        const QFileInfo db(value("db"));
        control.setDbPath(db.absolutePath());
        control.setDatabaseName(db.fileName());
        control.setConnection(QString());
    }
    if (has("connection"))
        control.setConnection(value("connection"));
    if (has("dsc"))
        control.setDscPath(value("dsc"));
    if (has("desc-field"))
        control.setTableDescField(value("desc-field"));
    if (has("readonly"))
        control.setReadOnly(true);
    if (has("user"))
        control.setUserName(value("user"));
    if (has("no-live"))
        control.setLiveUpdates(false);
    if (has("password") || has("password-file") || !qEnvironmentVariableIsEmpty(kPasswordVariable))
        control.setDscPassword(password(p));
    control.setRecordName(p.positionalArguments().first());
    control.setModale(true);

    std::optional<QString> key;
    if (has("key"))
        key = value("key");
    else if (has("new"))
        key = QString();

    // A descriptor, record or table that is not there has been told on standard error.
    const bool shown = has("search") ? control.ShowTableSearch(search, p.positionalArguments().mid(1), key)
                                     : control.ShowTableEditor(key);
    if (!shown)
        return kNotFound;
    // An editor left open without its modal wait (after a host event) still ends the program
    // only when it closes.
    if (FrmEditTab *open = control.TableEditor()) {
        QEventLoop wait;
        QObject::connect(open, &QObject::destroyed, &wait, &QEventLoop::quit);
        wait.exec();
    }
    if (has("print-last-inserted"))
        out(control.LastInserted().toUtf8() + '\n');
    return kOk;
}

// A descriptor opened from a file manager: the user picks one of its records, which opens on
// the data the descriptor names (its PATH and DATABASE lines, from its folder).
int chooseRecord(int argc, char *argv[], const QString &file)
{
    if (!haveScreen())
        return kFailure;
    QApplication app(argc, argv);
    prepareApplication();
    QFile text(file);
    if (!text.open(QIODevice::ReadOnly))
        throw DescriptorError(nxTr("Impossibile aprire %1: %2").arg(file, text.errorString()));
    QStringList names, shown;
    QString dataPath, database; // the last PATH and DATABASE lines
    for (const QString &line : splitDscLines(decodeDscText(text.readAll()))) {
        const DscKeyword keyword = dscKeyword(line);
        const QStringList f = line.split(u',');
        if (keyword == DscKeyword::Path)
            dataPath = f.value(1).trimmed();
        else if (keyword == DscKeyword::Database)
            database = f.value(1).trimmed();
        if (keyword != DscKeyword::Record)
            continue;
        const QString name = f.value(1).trimmed();
        if (name.isEmpty() || names.contains(name, Qt::CaseInsensitive))
            continue;
        names << name;
        shown << (f.value(2).trimmed().isEmpty() ? name : QStringLiteral("%1 (%2)").arg(f.value(2).trimmed(), name));
    }
    if (names.isEmpty()) {
        msgBox(nxTr("%1 non descrive alcun record.").arg(QDir::toNativeSeparators(file)), MsgButtons::OkOnly,
               nxTr("ATTENZIONE!"));
        return kNotFound;
    }
    QDialog chooser;
    chooser.setObjectName(QStringLiteral("FrmRecord"));
    chooser.setWindowTitle(nxTr("Scegli il record"));
    auto *layout = new QVBoxLayout(&chooser);
    layout->addWidget(new QLabel(nxTr("Record di %1:").arg(QDir::toNativeSeparators(file)), &chooser));
    auto *list = new QListWidget(&chooser);
    list->setObjectName(QStringLiteral("LstRecord"));
    list->addItems(shown);
    list->setCurrentRow(0);
    layout->addWidget(list);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Open | QDialogButtonBox::Cancel, &chooser);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &chooser, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &chooser, &QDialog::reject);
    QObject::connect(list, &QListWidget::itemActivated, &chooser, &QDialog::accept);
    if (chooser.exec() != QDialog::Accepted || list->currentRow() < 0)
        return kOk;
    Norvix::Norvix control;
    const QString folder = QFileInfo(file).absolutePath();
    control.setDbPath(QDir(folder).absoluteFilePath(dataPath.isEmpty() ? QStringLiteral(".") : dataPath));
    control.setDatabaseName(database);
    control.setDscPath(folder);
    control.setRecordName(names.at(list->currentRow()));
    control.setModale(true);
    return control.ShowTableEditor() ? kOk : kNotFound;
}

int run(int argc, char *argv[], const QStringList &args)
{
    if (args.isEmpty())
        return NorvixApp::runDemo(argc, argv);
    const QString first = args.first();
    if (first == u"--help" || first == u"-h" || first == u"help") {
        out(overview().toLocal8Bit());
        return kOk;
    }
    if (first == u"--version") {
        std::printf("norvix %s\n", NORVIX_VERSION);
        return kOk;
    }
    if (args.size() == 1 && first.endsWith(QLatin1String(".dsc"), Qt::CaseInsensitive) && QFileInfo(first).isFile())
        return chooseRecord(argc, argv, first);

    Command command;
    QStringList rest;
    if (first == u"edit") {
        command = editCommand();
        rest = args.mid(1);
    } else if (first == u"migrate") {
        command = migrateCommand();
        rest = args.mid(1);
    } else if (first == u"history") {
        command = historyCommand();
        rest = args.mid(1);
    } else if (first == u"live") {
        const QString sub = args.value(1);
        if (sub == u"--help" || sub == u"-h") {
            out(overview().toLocal8Bit());
            return kOk;
        }
        if (sub != u"install" && sub != u"remove")
            return usageError(nxTr("norvix live vuole install o remove"), overview());
        command = liveCommand(sub);
        rest = args.mid(2);
    } else if (first == u"dsc") {
        const QString sub = args.value(1);
        if (sub == u"dump")
            command = dumpCommand();
        else if (sub == u"import")
            command = importCommand();
        else if (sub == u"export")
            command = exportCommand();
        else if (sub == u"lint")
            command = lintCommand();
        else if (sub == u"index")
            command = indexCommand();
        else if (sub == u"scaffold")
            command = scaffoldCommand();
        else if (sub.isEmpty() || sub == u"--help" || sub == u"-h") {
            if (sub.isEmpty())
                return usageError(nxTr("manca il comando dsc (dump, import, export, lint, index, scaffold)"), overview());
            out(overview().toLocal8Bit());
            return kOk;
        } else {
            return usageError(nxTr("comando dsc sconosciuto %1").arg(sub), overview());
        }
        rest = args.mid(2);
    } else {
        return usageError(nxTr("comando sconosciuto %1").arg(first), overview());
    }

    if (asksForHelp(rest)) {
        out(helpText(command).toLocal8Bit());
        return kOk;
    }
    QCommandLineParser parser;
    if (const auto problem = parse(parser, command, rest))
        return usageError(*problem, helpText(command));

    if (command.name == u"edit")
        return edit(argc, argv, parser);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("norvix"));
    if (command.name == u"dsc dump")
        return dscDump(parser);
    if (command.name == u"dsc import")
        return dscImport(parser);
    if (command.name == u"dsc lint")
        return dscLint(parser);
    if (command.name == u"dsc index")
        return dscIndex(parser);
    if (command.name == u"dsc scaffold")
        return dscScaffold(parser);
    if (command.name == u"migrate")
        return migrate(parser);
    if (command.name == u"history")
        return history(parser);
    if (command.name.startsWith(u"live "))
        return live(parser, command);
    return dscExport(parser);
}

} // namespace

int main(int argc, char *argv[])
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));
    // --lang it|en, anywhere, chooses the language of the texts (the system's by default).
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == u"--")
            break;
        if (args[i] != u"--lang" && !args[i].startsWith(u"--lang="))
            continue;
        const QString lang = args[i] == u"--lang" ? args.value(i + 1) : args[i].mid(7);
        args.remove(i, args[i] == u"--lang" ? std::min<qsizetype>(2, args.size() - i) : 1);
        if (!Norvix::setLanguage(lang)) {
            err(Norvix::nxTr("norvix: --lang vuole it o en, non %1").arg(lang));
            return kFailure;
        }
        --i;
    }
    try {
        return run(argc, argv, args);
    } catch (const Norvix::Error &e) {
        err(QStringLiteral("norvix: %1").arg(e.message()));
        return kFailure;
    }
}
