// The bundled demo: `norvix` without arguments.

#include "demo.h"
#include "platform/language.h"
#include "demodb.h"

#include "platform/errors.h"
#include "editor/frmedittab.h"
#include "ui/qtmessages.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cstdio>

namespace NorvixApp {

using Norvix::nxTr;

namespace {

const QString kDsc = QStringLiteral("files.dsc");
const QString kSql = QStringLiteral("demo.sql");
const QString kDatabase = QStringLiteral("demo.db");

void complain(const QString &text)
{
    std::fprintf(stderr, "norvix: %s\n", text.toLocal8Bit().constData());
}

// The folder holding the demo's descriptors and script: the installed copy beside the program,
// else the source tree the program was built from.
QString demoSourceFolder()
{
    QStringList candidates{QCoreApplication::applicationDirPath() + QStringLiteral("/../share/norvix/demo")};
#ifdef NORVIX_DEMO_SOURCE_DIR
    candidates << QStringLiteral(NORVIX_DEMO_SOURCE_DIR);
#endif
    for (const QString &folder : std::as_const(candidates)) {
        const QDir dir(folder);
        if (dir.exists(kDsc) && dir.exists(kSql))
            return dir.absolutePath();
    }
    return QString();
}

// Replaces `target` with a copy of `source`, leaving it writable.
bool copyOver(const QString &source, const QString &target)
{
    const QString temporary = target + QStringLiteral(".tmp");
    QFile::remove(temporary);
    if (!QFile::copy(source, temporary))
        return false;
    QFile::setPermissions(temporary, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    QFile::remove(target);
    return QFile::rename(temporary, target);
}

} // namespace

int runDemo(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Norvix::installQtTranslations();
    QApplication::setApplicationName(QStringLiteral("norvix"));
    QApplication::setApplicationDisplayName(QStringLiteral("Norvix"));

    const QString source = demoSourceFolder();
    if (source.isEmpty()) {
        complain(nxTr("i file della dimostrazione (%1, %2) non si trovano").arg(kDsc, kSql));
        return 2;
    }
    const QString base = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (base.isEmpty()) {
        complain(nxTr("nessuna cartella dati scrivibile per la dimostrazione"));
        return 2;
    }
    const QString folder = base + QStringLiteral("/demo");
    const QDir dir(folder);
    if (!QDir().mkpath(folder)) {
        complain(nxTr("impossibile creare la cartella %1").arg(folder));
        return 2;
    }
    const QString missing =
        dir.exists(kDatabase) ? missingDemoTable(dir.filePath(kDatabase), QDir(source).filePath(kDsc)) : QString();
    if (!missing.isEmpty())
        complain(nxTr("il database dimostrativo non ha la tabella %1: lo ricreo").arg(missing));
    if (!dir.exists(kDatabase) || !missing.isEmpty()) {
        std::fprintf(stderr, "norvix: creo il database dimostrativo in %s\n", qPrintable(QDir::toNativeSeparators(folder)));
        QString problem;
        if (!buildDemoDatabase(QDir(source).filePath(kSql), dir.filePath(kDatabase), &problem)) {
            complain(problem);
            return 2;
        }
    }
    // The descriptors always come from the program's own copy.
    if (!copyOver(QDir(source).filePath(kDsc), dir.filePath(kDsc))) {
        complain(nxTr("impossibile copiare %1 in %2").arg(kDsc, folder));
        return 2;
    }

    Norvix::installQtWindowServices();
    Norvix::FrmEditTab editor;
    try {
        editor.START(QString(), folder, kDatabase, QStringLiteral("CLIENTI"), folder, QString(), false, std::nullopt);
    } catch (const Norvix::Error &e) {
        complain(e.message());
        return 2;
    }
    if (!editor.CanShow())
        return 1;
    editor.exec();
    return 0;
}

} // namespace NorvixApp
