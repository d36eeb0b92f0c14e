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
#include <QScopeGuard>
#include <QSignalBlocker>
#include <QSqlQuery>

#include <algorithm>

namespace Norvix {

namespace {
// A referenced table with more rows than this is not listed whole: its combo box completes what
// the user types from a bounded query, so neither the start-up nor the memory grows with it.
constexpr int kMaxComboRows = 2000;
// Rows a completing combo box lists for one prefix, and rows measured for its width.
constexpr int kCompletionRows = 100;
} // namespace

std::shared_ptr<Connection> FrmEditTab::lookupConnection(const CampoPtr &C)
{
    const QString own = DatabaseFile();
    if (C->FileRif().isEmpty())
        C->setFileRif(own); // kept by the descriptor from now on
    if (C->FileRif().compare(own, Qt::CaseInsensitive) == 0) {
        if (m_connection && m_connection->isOpen())
            return m_connection;
        return Connection::open(m_connectionString, m_dbPath, m_databaseName, Access::ReadOnly);
    }
    // Another file is only read: nothing of it changes.
    const QFileInfo file(C->FileRif());
    return file.isAbsolute() ? Connection::open(QStringLiteral("sqlite://") + file.absoluteFilePath(), {}, {}, Access::ReadOnly)
                             : Connection::open(QString(), m_dbPath, C->FileRif(), Access::ReadOnly);
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
    // The referenced table's primary key, or else its first index.
    const QStringList index = table->firstIndex;
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
    QVariant listedFor; // the source's text this list is for (see refillRequest())
    if (!filterColumn.isEmpty() && !C->SourceRif().isEmpty() && campi->Contains(C->SourceRif())) {
        const QString type = campi->Item(C->SourceRif())->TIPO().toUpper();
        for (QWidget *w : std::as_const(m_fieldControls)) {
            if (w->property("DataField").toString().toUpper() != C->SourceRif().toUpper())
                continue;
            const QString text = controlText(w);
            listedFor = text;
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

    // The items of the referenced rows, all of them or those of the filter value; with a prefix,
    // those whose code starts with it.
    const auto readItems = [&](bool useFilter, int limit, const QString &prefix = QString()) {
        const QString code = quoteIdentifier(table->column(codeColumn).name);
        // On SQLite a text code is looked up through the key's index, as ranges, not by scanning
        // every row with LIKE: one range for the exact code of a row or a prefix without letters;
        // otherwise one per way of writing the prefix's first ASCII letters (at most four of them,
        // so at most 16 ranges) in either case, which is what LIKE folds, the rest of the prefix
        // still checked by LIKE. With a key of two columns the ranges would not merge in order:
        // there LIKE alone serves.
        const bool sqliteText = !prefix.isEmpty() && connection->dialect() == SqlDialect::Sqlite
                                && table->column(codeColumn).kind == ColumnKind::Text;
        QStringList starts;
        QString lead;
        if (sqliteText && (m_completionExactCase || prefix.toUpper() == prefix.toLower())) {
            starts << prefix;
            lead = prefix;
        } else if (sqliteText && index.size() == 1) {
            int letters = 0;
            qsizetype m = 0;
            for (; m < prefix.size(); ++m) {
                const QChar c = prefix.at(m);
                const bool asciiLetter = c.unicode() < 0x80 && c.isLetter();
                if (asciiLetter && ++letters > 4)
                    break;
            }
            lead = prefix.left(m);
            starts << QString();
            for (const QChar c : std::as_const(lead)) {
                QStringList next;
                const bool asciiLetter = c.unicode() < 0x80 && c.isLetter();
                for (const QString &s : std::as_const(starts)) {
                    next << s + (asciiLetter ? c.toLower() : c);
                    if (asciiLetter)
                        next << s + c.toUpper();
                }
                starts = next;
            }
        }
        const bool like = !prefix.isEmpty() && lead != prefix;

        QString sql = QStringLiteral("SELECT %1%2 FROM %3")
                          .arg(code, hasDesc ? QStringLiteral(", ") + quoteIdentifier(table->column(descColumn).name) : QString(),
                               quoteIdentifier(table->name));
        QStringList where;
        if (useFilter)
            where << quoteIdentifier(table->column(filterColumn).name) + QStringLiteral(" = ?");
        if (!starts.isEmpty())
            where << QStringLiteral("%1 >= ? AND %1 < ?").arg(code);
        if (like)
            where << QStringLiteral("CAST(%1 AS TEXT) LIKE ? ESCAPE '!'").arg(code);
        if (!where.isEmpty())
            sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
        QStringList order;
        for (const QString &k : index)
            order << quoteIdentifier(table->column(k).name);
        sql += QStringLiteral(" ORDER BY ") + order.join(QStringLiteral(", "));
        sql += QStringLiteral(" LIMIT %1").arg(limit);
        QSqlQuery q(connection->database());
        q.setForwardOnly(true);
        if (!q.prepare(sql))
            throw DataError(DataError::Generic, q.lastError().text());

        // (code as SQLite orders it, item) of every range, merged in the key's order.
        QList<std::pair<QByteArray, QString>> rows;
        const QStringList runs = starts.isEmpty() ? QStringList{QString()} : starts;
        for (const QString &start : runs) {
            if (useFilter)
                q.addBindValue(filter.toString().isNull() ? QVariant(QString(QLatin1String(""))) : filter);
            if (!starts.isEmpty()) {
                q.addBindValue(start);
                q.addBindValue(start + QString::fromUcs4(U"\U0010FFFF")); // above any text that starts with it
            }
            if (like) {
                QString pattern = prefix;
                pattern.replace(u'!', QStringLiteral("!!")).replace(u'%', QStringLiteral("!%")).replace(u'_', QStringLiteral("!_"));
                q.addBindValue(pattern + u'%');
            }
            if (!q.exec())
                throw DataError(DataError::Generic, q.lastError().text());
            while (q.next()) {
                const QString value = q.value(0).toString();
                rows.append({value.toUtf8(),
                             QStringLiteral("[%1] %2").arg(value.trimmed(), hasDesc ? q.value(1).toString() : QString())});
            }
            q.finish();
        }
        if (runs.size() > 1) {
            std::sort(rows.begin(), rows.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
            if (rows.size() > limit)
                rows.resize(limit);
        }
        QStringList items;
        for (const auto &row : std::as_const(rows))
            items << row.second;
        return items;
    };

    // A large referenced table: the combo completes what the user types.
    const bool large = m_completionPrefix.isEmpty() ? readItems(false, kMaxComboRows + 1).size() > kMaxComboRows : true;
    ctrl->setProperty("Completing", large);
    if (large && m_completionPrefix.isEmpty() && !ctrl->property("CompletionConnected").toBool() && ctrl->lineEdit()) {
        ctrl->setProperty("CompletionConnected", true);
        connect(ctrl->lineEdit(), &QLineEdit::textEdited, this, [this, ctrl, C](const QString &typed) {
            if (!ctrl->property("Completing").toBool())
                return;
            const QString code = typed.startsWith(u'[') ? EstraiToken(typed, QStringLiteral("]"), 1).mid(1) : typed;
            try {
                const int cursor = ctrl->lineEdit()->cursorPosition();
                const QStringList found = completionItems(C, code.trimmed());
                QSignalBlocker block(ctrl);
                ctrl->clear();
                ctrl->addItems(found);
                ctrl->setEditText(typed);
                ctrl->lineEdit()->setCursorPosition(cursor);
            } catch (const Error &) {
                // The list stays as it was; leaving the field still checks the code.
            }
        });
    }
    // While the window is being built, the combo is made as wide as the widest item of the table
    // (of its first rows, for a large one).
    if (!isVisible() && m_completionPrefix.isEmpty()) {
        for (const QString &item : readItems(false, large ? kCompletionRows : kMaxComboRows))
            width = std::max(width, textWidth(item));
        width += 400;
    }
    const QStringList items = readItems(filtered, large || !m_completionPrefix.isEmpty() ? kCompletionRows : kMaxComboRows,
                                        m_completionPrefix);
    ctrl->addItems(items);
    ctrl->setCurrentIndex(-1);
    ctrl->setProperty("ListedFor", listedFor);
    return width;
}

QStringList FrmEditTab::completionItems(const CampoPtr &C, const QString &prefix, bool exactCase)
{
    // The same query as the list, narrowed to the codes starting with what was typed.
    QComboBox scratch;
    scratch.setProperty("CompletionPrefix", prefix);
    m_completionPrefix = prefix;
    m_completionExactCase = exactCase;
    const auto reset = qScopeGuard([this] {
        m_completionPrefix.clear();
        m_completionExactCase = false;
    });
    FILLCOMBO(&scratch, C);
    QStringList items;
    for (int i = 0; i < scratch.count(); ++i)
        items << scratch.itemText(i);
    return items;
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

bool FrmEditTab::listsCode(QComboBox *combo, const CampoPtr &C, const QString &code)
{
    const QString prefix = u'[' + code.trimmed() + u']';
    const QStringList items = [&] {
        if (combo->property("Completing").toBool())
            return completionItems(C, code.trimmed(), true);
        QStringList all;
        for (int i = 0; i < combo->count(); ++i)
            all << combo->itemText(i);
        return all;
    }();
    return std::any_of(items.cbegin(), items.cend(),
                       [&](const QString &item) { return item.startsWith(prefix, Qt::CaseInsensitive); });
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
