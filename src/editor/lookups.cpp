// Lookup fields: combo boxes listing the rows of a referenced table as "[code] description".

#include "editor/frmedittab.h"

#include "descriptor/estraitoken.h"
#include "editor/checkvalue.h"
#include "platform/messages.h"
#include "platform/values.h"

#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>

namespace Norvix {

namespace {
// How many rows a lookup list holds at most; larger referenced tables are listed up to it (typing
// a code still finds any row when the field is left).
constexpr int kMaxComboRows = 5000;
} // namespace

std::shared_ptr<Connection> FrmEditTab::lookupConnection(const CampoPtr &C)
{
    const QString own = DatabaseFile();
    if (C->FileRif().isEmpty())
        C->setFileRif(own); // kept by the descriptor from now on
    if (C->FileRif().compare(own, Qt::CaseInsensitive) == 0) {
        if (m_connection && m_connection->isOpen())
            return m_connection;
        return Connection::open(m_connectionString, m_dbPath, m_databaseName);
    }
    const QFileInfo file(C->FileRif());
    return file.isAbsolute() ? Connection::open(QStringLiteral("sqlite://") + file.absoluteFilePath())
                             : Connection::open(QString(), m_dbPath, C->FileRif());
}

int FrmEditTab::FILLCOMBO(QComboBox *ctrl, const CampoPtr &C)
{
    ctrl->clear();
    int width = 0;
    const auto campi = m_rec->Campi();
    if (campi->Contains(C->Nome()) && campi->Item(C->Nome())->ObjType().toUpper() == u"SPECIALCOMBO")
        ctrl->addItem(QStringLiteral("--Altro--"));
    if (C->RecRif().isEmpty())
        return width; // nothing to list: the host supplies the values
    const auto connection = lookupConnection(C);
    const auto table = tableInfo(*connection, C->RecRif());
    const QStringList index = table->primaryKey;
    if (index.isEmpty()) {
        msgBox(QStringLiteral("Indice della tabella %1 non trovato.").arg(C->RecRif()));
        return width;
    }
    const QString filterColumn = index.size() >= 2 ? index.at(0) : QString();
    const QString codeColumn = index.size() >= 2 ? index.at(1) : index.at(0);
    const QString descColumn = C->FieldRif().toString();
    const bool hasDesc = !descColumn.isEmpty() && table->indexOf(descColumn) >= 0;

    // The filter value: the text of the control bound to the field named by SourceRif.
    QVariant filter;
    bool filtered = false;
    if (!filterColumn.isEmpty() && !C->SourceRif().isEmpty() && campi->Contains(C->SourceRif())) {
        const QString type = campi->Item(C->SourceRif())->TIPO().toUpper();
        for (QWidget *w : std::as_const(m_fieldControls)) {
            if (w->property("DataField").toString().toUpper() != C->SourceRif().toUpper())
                continue;
            const QString text = controlText(w);
            if (type == u"TEXT" || type == u"MEMO") {
                filter = text;
                filtered = true;
            } else if (type == u"DATE") {
                if (const auto d = Values::toDate(text)) {
                    filter = d->date().toString(Qt::ISODate);
                    filtered = true;
                }
            } else if (type == u"INTEGER" || type == u"LONG" || type == u"SINGLE" || type == u"DOUBLE" || type == u"CURRENCY") {
                if (const auto n = Values::toDecimalText(text)) {
                    filter = *n;
                    filtered = true;
                }
            }
        }
    }

    // The items of the referenced rows, all of them or those of the filter value.
    const auto readItems = [&](bool useFilter) {
        QString sql = QStringLiteral("SELECT %1%2 FROM %3")
                          .arg(quoteIdentifier(table->column(codeColumn).name),
                               hasDesc ? QStringLiteral(", ") + quoteIdentifier(table->column(descColumn).name) : QString(),
                               quoteIdentifier(table->name));
        if (useFilter)
            sql += QStringLiteral(" WHERE ") + quoteIdentifier(table->column(filterColumn).name) + QStringLiteral(" = ?");
        QStringList order;
        for (const QString &k : index)
            order << quoteIdentifier(table->column(k).name);
        sql += QStringLiteral(" ORDER BY ") + order.join(QStringLiteral(", "));
        sql += QStringLiteral(" LIMIT %1").arg(kMaxComboRows);
        QSqlQuery q(connection->database());
        q.setForwardOnly(true);
        if (!q.prepare(sql))
            throw DataError(DataError::Generic, q.lastError().text());
        if (useFilter)
            q.addBindValue(filter.toString().isNull() ? QVariant(QString(QLatin1String(""))) : filter);
        if (!q.exec())
            throw DataError(DataError::Generic, q.lastError().text());
        QStringList items;
        while (q.next())
            items << QStringLiteral("[%1] %2").arg(q.value(0).toString().trimmed(), hasDesc ? q.value(1).toString() : QString());
        q.finish();
        return items;
    };

    // While the window is being built, the combo is made as wide as the widest item of the table.
    if (!isVisible()) {
        for (const QString &item : readItems(false))
            width = std::max(width, textWidth(item));
        width += 400;
    }
    const QStringList items = readItems(filtered);
    ctrl->addItems(items);
    ctrl->setCurrentIndex(-1);
    return width;
}

// Shows the item of a code in a combo box (or the bare code when the list lacks it).
void FrmEditTab::showCode(QComboBox *combo, const QString &code)
{
    const QString prefix = u'[' + code.trimmed() + u']';
    for (int i = 0; i < combo->count(); ++i) {
        if (combo->itemText(i).startsWith(prefix, Qt::CaseInsensitive)) {
            combo->setCurrentIndex(i);
            return;
        }
    }
    combo->setCurrentIndex(-1);
    combo->setCurrentText(code);
}

void FrmEditTab::CmbBounded_Click(int index)
{
    QComboBox *combo = index < CmbBounded.size() ? CmbBounded[index].data() : nullptr;
    QLineEdit *code = index < TxtText.size() ? TxtText[index].data() : nullptr;
    if (!combo || !code || !m_rec->Campi()->Contains(code->property("DataField").toString()))
        return;
    const auto d = m_rec->Campi()->Item(code->property("DataField").toString());
    if (combo->currentIndex() == 0 && d->ObjType().toUpper() == u"SPECIALCOMBO") {
        emit ExternalHandler(code); // the host may write a value into the code box
        SETMODIFICATO();
        FILLCOMBO(combo, d);
        showCode(combo, code->text());
        return;
    }
    if (combo->currentIndex() >= 0)
        markEdited(combo);
}

void FrmEditTab::CmbBounded_LostFocus(int index)
{
    QComboBox *combo = index < CmbBounded.size() ? CmbBounded[index].data() : nullptr;
    QLineEdit *code = index < TxtText.size() ? TxtText[index].data() : nullptr;
    if (!combo || !code || !m_rec->Campi()->Contains(code->property("DataField").toString()))
        return;
    QString text = combo->currentText();
    bool found = false;
    for (int j = 0; j < combo->count() && !found; ++j) {
        const QString item = combo->itemText(j);
        if (text == item) {
            found = true;
        } else if ((u'[' + text).toUpper() == EstraiToken(item, QStringLiteral("]"), 1).toUpper()) {
            found = true; // the bare code was typed
            combo->setCurrentIndex(j);
            text = item;
        }
    }
    if (!text.isEmpty() && !found) {
        combo->setCurrentText(QString());
        VALORENONVALIDO(combo);
        return;
    }
    QString value = EstraiToken(text, QStringLiteral("]"), 1);
    if (value.size() >= 2 && value.startsWith(u'['))
        value.remove(0, 1);
    const auto d = m_rec->Campi()->Item(code->property("DataField").toString());
    QVariant check = value;
    if (!CHECKVALUE(check, *d) && !value.isEmpty()) {
        VALORENONVALIDO(combo);
        return;
    }
    if (code->text() != value) {
        setControlText(code, value);
        code->setProperty("DataChanged", true);
    }
    refillRequest(code);
}

} // namespace Norvix
