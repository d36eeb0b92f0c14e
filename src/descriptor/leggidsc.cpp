#include "descriptor/leggidsc.h"
#include "platform/language.h"

#include "descriptor/dscdatabase.h"
#include "descriptor/dsctext.h"
#include "platform/messages.h"

#include <QDir>
#include <QFileInfo>

namespace Norvix {

QString normaliseFolder(const QString &folder)
{
    QString f = folder;
    const QChar sep = QDir::separator();
    if (sep != u'\\')
        f.replace(u'\\', sep);
    if (f.isEmpty())
        f = QStringLiteral(".");
    if (!f.endsWith(sep) && !f.endsWith(u'/'))
        f += sep;
    return f;
}

bool LeggiDsc(QString &path, const QString &recordName, Rec &rec)
{
    path = normaliseFolder(path);
    if (QFileInfo(path + QStringLiteral("files.dsc")).isFile()) {
        LeggiDscTesto(path, recordName, rec);
        return true;
    }
    if (QFileInfo(path + QStringLiteral("dsc.mdb")).isFile()) {
        LeggiDscDb(path, recordName, rec);
        return true;
    }
    msgBox(nxTr("Dsc non trovato"));
    return false;
}

} // namespace Norvix
