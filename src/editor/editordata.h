#pragma once

// The connections of one editor: its own, and those of its lookups into other database files
// (one per file, opened once, for reading). Every statement of the editor runs on a connection of
// this object (the row in hand through the editor's RowSession, given the editor's own); the
// connection string is read here and nowhere else in the editor.

#include "descriptor/descriptor.h"
#include "platform/connection.h"
#include "platform/recordset.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>

namespace Norvix {

class EditorData
{
public:
    EditorData() = default;
    ~EditorData();
    EditorData(const EditorData &) = delete;
    EditorData &operator=(const EditorData &) = delete;

    // Opens the data for reading and checks that `table` is there: a failed open changes
    // nothing. Throws DataError (a table the database lacks: DataError::BadIdentifier). The
    // table's rows are then reached through the editor's RowSession.
    void open(const QString &connectionString, const QString &dataFolder, const QString &databaseName,
              const QString &table);
    // The next open() opens `params`, read already, in place of its connection string: a nested
    // editor's data, as the editor that opens it has it.
    void openFrom(const ConnectionParams &params) { m_given = params; }
    // Makes the editor's connection one that writes; false when the database can only be read.
    bool enableWriting();
    // Closes the recordset and every connection.
    void close();
    bool isOpen() const { return m_connection && m_connection->isOpen(); }

    std::shared_ptr<Connection> connection() const { return m_connection; }
    // What the connection string says: every connection of the editor is opened from it.
    const ConnectionParams &params() const { return m_params; }
    QString connectionString() const { return m_connectionString; }
    QString dataFolder() const { return m_dataFolder; }
    QString databaseName() const { return m_databaseName; }
    // The editor's own database file: the data folder and the database name.
    QString databaseFile() const { return m_dataFolder + m_databaseName; }

    // The connection that reads a lookup's referenced table: the editor's own for its own file
    // (an empty FileRif is set to it, as the descriptor keeps it), else one per other file.
    std::shared_ptr<Connection> lookupConnection(const CampoPtr &C);


private:
    QString m_connectionString, m_dataFolder, m_databaseName;
    ConnectionParams m_params; // what the connection string says, read once
    std::optional<ConnectionParams> m_given; // see openFrom()
    std::shared_ptr<Connection> m_connection;
    QHash<QString, std::shared_ptr<Connection>> m_lookups; // by file, letter case ignored
};

} // namespace Norvix
