#pragma once

// Read-only access to legacy Jet database files (the descriptor database of older installations).

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

namespace Norvix {

class JetFile
{
public:
    // True when the first bytes of a file are those of a Jet 3/4 or ACE database.
    static bool looksLikeJet(const QByteArray &head);

    // Opens the file. When the file carries a database password, `password` must equal it;
    // when it carries none, any password is accepted (as the database engine did).
    // Failures throw DescriptorError with a message that names the file and never the password.
    JetFile(const QString &path, const QString &password);
    ~JetFile();
    JetFile(const JetFile &) = delete;
    JetFile &operator=(const JetFile &) = delete;

    // The values of one text column of a table, in storage order. A missing table or column
    // throws DescriptorError. NULL and empty text both read as an empty string.
    QStringList readColumn(const QString &table, const QString &column) const;

    // The database password stored in the file header (empty when none).
    static QString storedPassword(const QString &path);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace Norvix
