#include "platform/language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <memory>
#include <mutex>

// The compiled translations are a resource of the library (outside any namespace, as Qt wants).
static void loadTranslationResource()
{
    Q_INIT_RESOURCE(norvix_translations);
}

namespace Norvix {

namespace {

struct Languages
{
    std::mutex mutex;
    QString chosen;                        // empty: the system's
    std::unique_ptr<QTranslator> english;  // the program's texts in English
    std::unique_ptr<QTranslator> qt;       // Qt's own texts, installed in the application
    QString qtLanguage;
};

Languages &languages()
{
    static Languages l;
    return l;
}

QString fromLocale(const QByteArray &value)
{
    const QString name = QString::fromLocal8Bit(value).trimmed();
    if (name.isEmpty())
        return QString();
    if (name == u"C" || name == u"POSIX" || name.startsWith(u"C.") || name.startsWith(u"it"))
        return QStringLiteral("it");
    return QStringLiteral("en");
}

} // namespace

QString systemLanguage()
{
    for (const char *variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const QString language = fromLocale(qgetenv(variable));
        if (!language.isEmpty())
            return language;
    }
    return QStringLiteral("it");
}

QString language()
{
    Languages &l = languages();
    const std::lock_guard lock(l.mutex);
    return l.chosen.isEmpty() ? systemLanguage() : l.chosen;
}

bool setLanguage(const QString &language)
{
    const QString wanted = language.trimmed().toLower();
    if (!wanted.isEmpty() && wanted != u"it" && wanted != u"en")
        return false;
    Languages &l = languages();
    const std::lock_guard lock(l.mutex);
    l.chosen = wanted;
    return true;
}

QString nxTr(const char *text)
{
    if (language() != u"en")
        return QString::fromUtf8(text);
    Languages &l = languages();
    const std::lock_guard lock(l.mutex);
    if (!l.english) {
        loadTranslationResource();
        l.english = std::make_unique<QTranslator>();
        if (!l.english->load(QStringLiteral(":/norvix/i18n/norvix_en.qm")))
            l.english.reset();
    }
    const QString translated = l.english ? l.english->translate("Norvix", text) : QString();
    return translated.isEmpty() ? QString::fromUtf8(text) : translated;
}

QString nxTrCount(qint64 n, const char *one, const char *many)
{
    return nxTr(n == 1 ? one : many).arg(n);
}

void installQtTranslations()
{
    auto *app = QCoreApplication::instance();
    if (!app)
        return;
    const QString wanted = language();
    Languages &l = languages();
    const std::lock_guard lock(l.mutex);
    if (l.qtLanguage == wanted)
        return;
    if (l.qt)
        QCoreApplication::removeTranslator(l.qt.get());
    l.qt.reset();
    l.qtLanguage = wanted;
    if (wanted == u"en")
        return; // Qt's texts are English as written
    auto qt = std::make_unique<QTranslator>();
    if (qt->load(QLocale(QLocale::Italian), QStringLiteral("qtbase"), QStringLiteral("_"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(qt.get());
        l.qt = std::move(qt);
    }
}

} // namespace Norvix
