#pragma once

// Read-only access to legacy Jet database files (the descriptor database of older installations).

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <functional>

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
    // `descriptors`: read for its descriptors, as its messages then say.
    JetFile(const QString &path, const QString &password, bool descriptors = true);
    ~JetFile();
    JetFile(const JetFile &) = delete;
    JetFile &operator=(const JetFile &) = delete;

    // The values of one text column of a table, in storage order. A missing table or column
    // throws DescriptorError. NULL and empty text both read as an empty string.
    QStringList readColumn(const QString &table, const QString &column) const;

    // The database password stored in the file header (empty when none).
    static QString storedPassword(const QString &path);

    // What a migration needs: the user tables, their columns and indexes, and their rows.
    enum class Type { Boolean, Byte, Integer, Long, Currency, Single, Double, DateTime, Binary, Text, Ole, Memo,
                      ReplicationId, Numeric, Other };
    struct Column
    {
        QString name;
        Type type = Type::Other;
        int length = 0;    // characters of a Text
        int precision = 0; // of a Numeric
        int scale = 0;
        bool required = false;   // NOT NULL: the column's Required property, and every Yes/No
        bool autoNumber = false; // a Long the database numbers (AutoNumber)
    };
    struct Index
    {
        QString name;
        bool primary = false;
        bool unique = false;
        QStringList columns;
    };
    struct Table
    {
        QString name;
        QList<Column> columns;
        QList<Index> indexes;
        qint64 rows = 0; // as the table's definition counts them
    };
    // The tables a user made (no system tables), in catalog order.
    QStringList userTables() const;
    // A table's definition; DescriptorError for a table the file lacks or cannot read.
    Table table(const QString &name) const;
    // Every row of a table in storage order, each value as mdb-export shows it: null (a Text
    // NULL and an empty Text cannot be told apart: both are null), an integer (Yes/No as 0 and
    // 1), a double, the exact digits of a Currency or Numeric as text, a DateTime as
    // "yyyy-MM-dd HH:mm:ss", bytes for Binary and OLE, text otherwise. `row` returns false to
    // stop. DescriptorError when pages are missing (a damaged or truncated file).
    void readRows(const QString &name, const std::function<bool(const QVariantList &)> &row) const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace Norvix
