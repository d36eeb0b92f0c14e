#include "editor/editordata.h"

#include "platform/sqlnames.h"


namespace Norvix {

EditorData::~EditorData()
{
    close();
}

void EditorData::open(const QString &connectionString, const QString &dataFolder, const QString &databaseName,
                      const QString &table)
{
    close();
    m_connectionString = connectionString;
    m_dataFolder = dataFolder;
    m_databaseName = databaseName;
    const std::optional<ConnectionParams> given = std::exchange(m_given, std::nullopt);
    m_connection = given ? Connection::open(*given, Access::ReadOnly)
                         : Connection::open(connectionString, dataFolder, databaseName, Access::ReadOnly);
    m_params = m_connection->params(); // every other connection of the editor is opened from these
    tableInfo(*m_connection, table);
}

bool EditorData::enableWriting()
{
    return m_connection && m_connection->enableWriting();
}

void EditorData::close()
{
    for (const auto &c : std::as_const(m_lookups))
        c->Close();
    m_lookups.clear();
    if (m_connection) {
        m_connection->Close();
        m_connection.reset();
    }
}

std::shared_ptr<Connection> EditorData::lookupConnection(const CampoPtr &C)
{
    const QString own = databaseFile();
    if (C->FileRif().isEmpty())
        C->setFileRif(own); // kept by the descriptor from now on
    if (C->FileRif().compare(own, Qt::CaseInsensitive) == 0) {
        if (isOpen())
            return m_connection;
        return Connection::open(m_params, Access::ReadOnly);
    }
    // Another file is only read, and opened once.
    const QString key = C->FileRif().toCaseFolded();
    if (auto found = m_lookups.value(key); found && found->isOpen())
        return found;
    auto c = Connection::open(ConnectionParams::sqliteFile(C->FileRif(), m_dataFolder), Access::ReadOnly);
    m_lookups.insert(key, c);
    return c;
}

} // namespace Norvix
