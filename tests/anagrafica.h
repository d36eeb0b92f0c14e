#pragma once

// The sample customer tables and their descriptor (tests/data/anagrafica.sql,
// tests/data/legacy/files.dsc in folder()) in a fresh database of one back end (see backends.h).

#include "backends.h"

#include <QRegularExpression>

namespace TestUtil {

class Data : public Backend
{
public:
    explicit Data(const QString &backend) : Backend(backend, QStringLiteral("anagrafica.db"))
    {
        copyData(QStringLiteral("legacy/files.dsc"), folder());
        QString script = QString::fromUtf8(readData(QStringLiteral("anagrafica.sql")));
        script.remove(QRegularExpression(QStringLiteral("^\\s*--[^\\n]*"), QRegularExpression::MultilineOption));
        if (!sqlite)
            script.replace(QStringLiteral("DATETIME"), QStringLiteral("TIMESTAMP"));
        QStringList statements = script.split(u';');
        statements.removeIf([](const QString &s) { return s.trimmed().isEmpty(); });
        exec(statements);
    }
};

} // namespace TestUtil
