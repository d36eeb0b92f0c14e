#include "tools/historyprint.h"

#include "descriptor/descriptor.h"
#include "platform/connection.h"
#include "platform/errors.h"
#include "platform/language.h"
#include "platform/schema.h"
#include "platform/sqlnames.h"
#include "session/history.h"

#include <QRegularExpression>

namespace Norvix {

namespace {

// The table's columns as the database has them; none when it has no such table (any more).
std::shared_ptr<const TableInfo> columnsOf(const Connection &connection, const QString &table)
{
    try {
        return tableInfo(connection, table);
    } catch (const DataError &) {
        return nullptr;
    }
}

// The kind of a key value typed for a column the database does not describe: a whole number is
// a number, anything else text.
ColumnKind guessedKind(const QString &text)
{
    static const QRegularExpression whole(QStringLiteral("^-?(0|[1-9][0-9]{0,17})$"));
    return whole.match(text).hasMatch() ? ColumnKind::Integer : ColumnKind::Text;
}

// The key's columns: the descriptor's primary index, else the table's primary key.
QStringList keyColumns(const Connection &connection, const HistoryListing &listing, const TableInfo *info)
{
    QStringList columns;
    if (listing.record) {
        if (const auto index = listing.record->Indice())
            for (const auto &n : *index->NomiCampi())
                columns << n->ID();
    } else if (info) {
        columns = uniqueKeys(connection, *info).value(0);
    }
    return columns;
}

// What the listing reads: one row's entries with its key's values in the kinds of its columns
// (so that "12" finds the key [12] of a number column and ["12"] of a text column).
HistoryQuery queryOf(const Connection &connection, const HistoryListing &listing, const TableInfo *info)
{
    HistoryQuery query;
    query.table = listing.table;
    query.since = listing.since;
    query.limit = listing.pageSize;
    if (!listing.key)
        return query;
    const QStringList columns = keyColumns(connection, listing, info);
    const QStringList &values = *listing.key;
    if (!columns.isEmpty() && values.size() != columns.size())
        throw Error(nxTrCount(columns.size(), NX_NOOP("--key vuole %1 valore (%2)"),
                              NX_NOOP("--key vuole %1 valori separati da virgole (%2)"))
                        .arg(columns.join(u',')));
    QVariantList key;
    for (int i = 0; i < values.size(); ++i) {
        const int at = info && i < columns.size() ? info->indexOf(columns[i]) : -1;
        key << values[i];
        query.keyKinds << (at >= 0 ? info->columns[at].kind : guessedKind(values[i]));
    }
    query.key = key;
    return query;
}

// Writes entries as text or as JSON lines.
class Printer
{
public:
    Printer(const HistoryListing &listing, std::shared_ptr<const TableInfo> info)
        : m_record(listing.record), m_info(std::move(info)), m_valueText(listing.valueText)
    {
    }

    static QByteArray header()
    {
        return QStringList{nxTr("Quando"), nxTr("Utente"), nxTr("Azione"), nxTr("Chiave"), nxTr("Campo"), nxTr("Prima"),
                           nxTr("Dopo")}
                   .join(u'\t')
                   .toUtf8()
               + '\n';
    }

    QByteArray text(const HistoryEntry &e) const
    {
        const QStringList head{e.when.toLocalTime().toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")), cell(e.user),
                               historyActionText(e.action), cell(keyText(e.key))};
        QString lines;
        for (const HistoryChange &c : e.changes)
            lines += (head + QStringList{cell(fieldName(c.column)), cell(valueText(c.column, c.before)),
                                         cell(valueText(c.column, c.after))})
                         .join(u'\t')
                     + u'\n';
        if (e.changes.isEmpty())
            lines += head.join(u'\t') + QStringLiteral("\t\t\t\n");
        return lines.toUtf8();
    }

    static QByteArray json(const HistoryEntry &e)
    {
        const auto raw = [](const QString &json) { return json.isEmpty() ? QStringLiteral("null") : json; };
        const auto text = [](const QString &t) { return historyJson(t, ColumnKind::Text); };
        return QStringLiteral(R"({"id":%1,"table":%2,"key":%3,"action":"%4","user":%5,"when":"%6","fields":%7})")
                   .arg(QString::number(e.id), text(e.table), raw(e.keyJson), QString(e.action), text(e.user),
                        e.when.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ")), raw(e.fieldsJson))
                   .toUtf8()
               + '\n';
    }

private:
    static QString cell(QString text)
    {
        return text.replace(u'\t', QStringLiteral("\\t")).replace(u'\n', QStringLiteral("\\n")).replace(u'\r', QStringLiteral("\\r"));
    }

    static QString keyText(const QVariantList &key)
    {
        QStringList values;
        for (const QVariant &v : key)
            values << (v.typeId() == QMetaType::Bool ? (v.toBool() ? QStringLiteral("true") : QStringLiteral("false")) : v.toString());
        return values.join(u',');
    }

    CampoPtr field(const QString &column) const
    {
        const auto campi = m_record ? m_record->Campi() : nullptr;
        return campi && campi->Contains(column) ? campi->Item(column) : nullptr;
    }

    QString fieldName(const QString &column) const
    {
        const CampoPtr f = field(column);
        return f && !f->Desc().trimmed().isEmpty() ? f->Desc().trimmed() : column;
    }

    QString valueText(const QString &column, const QVariant &value) const
    {
        const int at = m_info ? m_info->indexOf(column) : -1;
        const ColumnKind kind = at >= 0 ? m_info->columns[at].kind : ColumnKind::Other;
        const CampoPtr f = field(column);
        return m_valueText ? m_valueText(value, kind, f ? f->Format() : QString()) : value.toString();
    }

    std::shared_ptr<Rec> m_record;
    std::shared_ptr<const TableInfo> m_info;
    ValueText m_valueText;
};

} // namespace

qint64 printHistory(Connection &connection, const HistoryListing &listing, const std::function<void(const QByteArray &)> &out)
{
    const auto info = columnsOf(connection, listing.table);
    HistoryQuery query = queryOf(connection, listing, info.get());
    const Printer printer(listing, info);
    qint64 printed = 0;
    for (QList<HistoryEntry> page; !(page = readHistory(connection, query)).isEmpty();) {
        QByteArray text = printed == 0 && !listing.json ? Printer::header() : QByteArray();
        for (const HistoryEntry &e : std::as_const(page))
            text += listing.json ? Printer::json(e) : printer.text(e);
        out(text);
        printed += page.size();
        if (page.size() < query.limit)
            break;
        query.beforeId = page.last().id;
        query.beforeWhen = page.last().when;
    }
    return printed;
}

std::optional<QDateTime> commandLineMoment(const QString &text)
{
    const QString t = text.trimmed();
    if (const QDate day = QDate::fromString(t, QStringLiteral("yyyy-MM-dd")); day.isValid())
        return QDateTime(day, QTime(0, 0));
    if (t.contains(u'T')) {
        const QDateTime moment = QDateTime::fromString(t, Qt::ISODateWithMs);
        if (moment.isValid())
            return moment;
    }
    for (const char *format : {"d/M/yyyy", "d/M/yyyy H:mm", "d/M/yyyy H:mm:ss"}) {
        const QDateTime moment = QDateTime::fromString(t, QLatin1String(format));
        if (moment.isValid())
            return moment;
    }
    return std::nullopt;
}

} // namespace Norvix
