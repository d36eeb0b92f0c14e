#include "editor/lookups.h"
#include "platform/language.h"

#include "descriptor/estraitoken.h"
#include "editor/editordata.h"
#include "editor/editorstate.h"
#include "editor/fieldset.h"
#include "editor/frmedittab_p.h"
#include "editor/lookupsearcher.h"
#include "editor/search.h"
#include "editor/shared.h"
#include "editor/windowlayout.h"
#include "platform/messages.h"
#include "platform/values.h"
#include "session/rowsession.h"

#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QSignalBlocker>

#include <algorithm>

namespace Norvix {

namespace {
const QString kOther = QStringLiteral("--Altro--");

bool isSpecialCombo(const EditorState &state, const CampoPtr &C)
{
    const auto campi = state.rec->Campi();
    return campi->Contains(C->Nome()) && campi->Item(C->Nome())->ObjType().toUpper() == u"SPECIALCOMBO";
}
} // namespace

Lookups::Lookups(Parts parts, Calls calls) : m(parts), m_calls(std::move(calls)) {}

Lookups::~Lookups() = default;

std::optional<LookupQuery> Lookups::queryOf(const CampoPtr &C, QVariant *listedFor, const std::function<QString()> &sourceText)
{
    LookupQuery query;
    query.connection = m.data.lookupConnection(C);
    query.table = tableInfo(*query.connection, C->RecRif());
    query.index = query.table->firstIndex; // the primary key, or else the first index
    if (query.index.isEmpty()) {
        msgBox(nxTr("Indice della tabella %1 non trovato.").arg(C->RecRif()));
        return std::nullopt;
    }
    query.descColumns = descriptionColumns(C->FieldRif().toString(),
                                           [&](const QString &c) { return query.table->indexOf(c) >= 0; });

    // The filter value: the text of the control bound to the field named by SourceRif.
    const auto campi = m.state.rec->Campi();
    if (query.filterColumn().isEmpty() || C->SourceRif().isEmpty() || !campi->Contains(C->SourceRif()))
        return query;
    const QString type = campi->Item(C->SourceRif())->TIPO().toUpper();
    QStringList texts;
    if (sourceText) {
        texts << sourceText();
    } else {
        for (QWidget *w : m.fields.widgets())
            if (w->property("DataField").toString().toUpper() == C->SourceRif().toUpper())
                texts << widgetText(w);
    }
    for (const QString &text : std::as_const(texts)) {
        if (listedFor)
            *listedFor = text;
        if (text.trimmed().isEmpty() && sourceText)
            continue; // an empty input of the search panel: every row
        if (type == u"TEXT" || type == u"MEMO") {
            query.filter = text;
        } else if (type == u"DATE") {
            if (const auto date = Values::toDate(text))
                query.filter = date->date().toString(Qt::ISODate);
        } else if (type == u"INTEGER" || type == u"LONG" || type == u"SINGLE" || type == u"DOUBLE" || type == u"CURRENCY") {
            if (const auto n = Values::toDecimalText(text))
                query.filter = *n;
        }
    }
    return query;
}

int Lookups::FILLCOMBO(QComboBox *ctrl, const CampoPtr &C)
{
    ctrl->clear();
    int width = 0;
    if (isSpecialCombo(m.state, C))
        ctrl->addItem(kOther);
    if (C->RecRif().isEmpty())
        return width; // nothing to list: the host supplies the values
    QVariant listedFor; // the source's text this list is for (see refillRequest())
    const auto query = queryOf(C, &listedFor);
    if (!query)
        return width;
    LookupQuery whole = *query;
    whole.filter.reset();

    // A large referenced table: the combo lists the first rows, then what the user's text finds.
    // The rows read to tell are the ones listed and measured, unless a filter value lists others.
    QStringList items = lookupItems(whole, kLargeLookupRows + 1);
    const bool large = items.size() > kLargeLookupRows;
    items = items.mid(0, large ? kCompletionRows : kLargeLookupRows);
    ctrl->setProperty("Completing", large);
    searchAsTyped(ctrl, C);
    if (large && m_searcher)
        m_searcher->prepare(*query->connection); // the first keystroke finds its reader open
    // While the window is being built, the combo is made as wide as the widest item of the table
    // (of its first rows, for a large one).
    if (!m.window.isVisible()) {
        for (const QString &item : std::as_const(items))
            width = std::max(width, m.layout.textWidth(item));
        width += 400;
    }
    ctrl->addItems(query->filter ? lookupItems(*query, large ? kCompletionRows : kLargeLookupRows) : items);
    ctrl->setCurrentIndex(-1);
    ctrl->setProperty("ListedFor", listedFor);
    ctrl->setProperty("SearchedFor", QVariant());
    return width;
}

void Lookups::searchAsTyped(QComboBox *combo, const CampoPtr &C, std::function<QString()> sourceText)
{
    if (combo->property("SearchConnected").toBool() || !combo->lineEdit())
        return;
    combo->setProperty("SearchConnected", true);
    if (!m_searcher) {
        m_searcher = std::make_unique<LookupSearcher>();
        QObject::connect(m_searcher.get(), &LookupSearcher::found, &m.window,
                         [this](QObject *client, const QString &, const LookupMatches &matches, bool ok) {
                             if (auto *box = qobject_cast<QComboBox *>(client); box && ok)
                                 showMatches(box, matches);
                         });
    }
    QObject::connect(combo->lineEdit(), &QLineEdit::textEdited, &m.window, [this, combo, C, sourceText](const QString &typed) {
        try {
            const auto query = queryOf(C, nullptr, sourceText);
            if (!query)
                return;
            combo->setProperty("SearchTyped", typed);
            m_searcher->search(combo, *query, typedCode(typed), rowsListed(combo));
        } catch (const Error &) {
            // The list stays as it was; leaving the field still checks the text.
        }
    });
}

int Lookups::rowsListed(const QComboBox *combo)
{
    return combo->property("Completing").toBool() ? kCompletionRows : kLargeLookupRows;
}

void Lookups::showMatches(QComboBox *combo, const LookupMatches &matches)
{
    const QString typed = combo->property("SearchTyped").toString();
    if (combo->currentText() != typed)
        return; // the text changed meanwhile (an item picked, the row shown again)
    const int cursor = combo->lineEdit()->cursorPosition();
    const QSignalBlocker block(combo);
    const bool other = combo->count() > 0 && combo->itemText(0) == kOther;
    combo->clear();
    if (other)
        combo->addItem(kOther);
    QStringList items;
    for (const LookupRow &row : matches.rows)
        items << row.item;
    combo->addItems(items);
    combo->setCurrentIndex(-1);
    combo->setEditText(typed);
    combo->lineEdit()->setCursorPosition(cursor);
    combo->setProperty("SearchedFor", typed);
    combo->setProperty("SearchMore", matches.more);
}

std::optional<int> Lookups::settleTyped(QComboBox *combo, const CampoPtr &C, const std::function<QString()> &sourceText)
{
    const QString text = combo->currentText();
    if (text.trimmed().isEmpty())
        return std::nullopt;
    if (const int j = itemOf(combo, text); j >= 0)
        return j;
    // The rows the text finds: those listed for it, or else found now.
    if (combo->property("SearchedFor").toString() != text || (m_searcher && m_searcher->busy())) {
        if (m_searcher)
            m_searcher->cancel();
        const auto query = queryOf(C, nullptr, sourceText);
        if (!query)
            return std::nullopt;
        combo->setProperty("SearchTyped", text);
        showMatches(combo, searchLookup(*query, typedCode(text), rowsListed(combo)));
    }
    QList<int> rows, whole;
    for (int i = 0; i < combo->count(); ++i) {
        if (combo->itemText(i) == kOther)
            continue;
        rows << i;
        const QString item = combo->itemText(i);
        const QString code = EstraiToken(item, QStringLiteral("]"), 1);
        if (isWholeDescription({code, item.mid(code.size() + 2), item}, text))
            whole << i;
    }
    if (rows.size() == 1 && !combo->property("SearchMore").toBool())
        return rows.constFirst();
    if (whole.size() == 1)
        return whole.constFirst();
    return std::nullopt;
}

bool Lookups::tellChoices(QComboBox *combo)
{
    int rows = 0;
    for (int i = 0; i < combo->count(); ++i)
        rows += combo->itemText(i) == kOther ? 0 : 1;
    if (rows < 2 || combo->property("SearchedFor").toString() != combo->currentText())
        return false;
    const QString text = combo->currentText().trimmed();
    msgBox(combo->property("SearchMore").toBool()
               ? nxTr("Più di %1 righe corrispondono a \"%2\": sceglierne una dall'elenco o scrivere di più.").arg(rows).arg(text)
               : nxTr("%1 righe corrispondono a \"%2\": sceglierne una dall'elenco.").arg(rows).arg(text),
           MsgButtons::OkOnly, m.window.windowTitle());
    m.layout.showPageOf(combo);
    combo->setFocus(Qt::OtherFocusReason);
    if (combo->isVisible())
        combo->showPopup();
    return true;
}

QStringList Lookups::completionItems(const CampoPtr &C, const QString &prefix, bool exactCase)
{
    QStringList items;
    if (isSpecialCombo(m.state, C))
        items << kOther;
    if (C->RecRif().isEmpty())
        return items;
    if (const auto query = queryOf(C, nullptr))
        items += lookupItems(*query, kCompletionRows, prefix, exactCase);
    return items;
}

void Lookups::showCode(QComboBox *combo, const QString &code)
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

bool Lookups::listsCode(QComboBox *combo, const CampoPtr &C, const QString &code)
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

LookupField *Lookups::lookupAt(int index) const
{
    QComboBox *combo = FieldSet::element(m.fields.CmbBounded, index);
    return combo ? dynamic_cast<LookupField *>(m.fields.fieldOf(combo)) : nullptr;
}

void Lookups::CmbBounded_Click(int index)
{
    LookupField *lookup = lookupAt(index);
    if (!lookup)
        return;
    QComboBox *combo = lookup->combo();
    if (combo->currentIndex() == 0 && lookup->campo()->ObjType().toUpper() == u"SPECIALCOMBO") {
        m_calls.externalHandler(lookup->code()); // the host may write a value into the code box
        m_calls.modified();
        FILLCOMBO(combo, lookup->campo());
        showCode(combo, lookup->code()->text());
        return;
    }
    if (combo->currentIndex() >= 0)
        m_calls.edited(combo);
}

int Lookups::itemOf(const QComboBox *combo, const QString &text)
{
    for (int j = 0; j < combo->count(); ++j) {
        const QString item = combo->itemText(j);
        if (text == item || (u'[' + text).toUpper() == EstraiToken(item, QStringLiteral("]"), 1).toUpper())
            return j; // the item, or its bare code typed
    }
    return -1;
}

bool Lookups::settle(LookupField &lookup)
{
    QComboBox *combo = lookup.combo();
    const QString typed = combo->currentText();
    if (!typed.trimmed().isEmpty() && typed.trimmed() != lookup.text().trimmed()) { // not the code of the row shown
        std::optional<int> j;
        try {
            j = settleTyped(combo, lookup.campo());
        } catch (const Error &e) {
            msgBox(nxTr("errore: %1").arg(e.message()));
        }
        if (j && combo->itemText(*j) != typed)
            combo->setCurrentIndex(*j);
    }
    // A text that finds several rows opens the list on them; one that finds none stays for the
    // user to correct (Esc brings the stored value back). The code, and so the save, keeps the
    // last value chosen meanwhile.
    if (unmatched(lookup)) {
        if (!tellChoices(combo))
            m_calls.invalid(combo);
        return false;
    }
    QString value = EstraiToken(combo->currentText(), QStringLiteral("]"), 1);
    if (value.size() >= 2 && value.startsWith(u'['))
        value.remove(0, 1);
    QVariant check = value;
    if (!CHECKVALUE(check, *lookup.campo()) && !value.isEmpty()) {
        m_calls.invalid(combo);
        return false;
    }
    if (lookup.code()->text() != value) {
        lookup.setText(value);
        lookup.setChanged(true);
    }
    return true;
}

bool Lookups::unmatched(const LookupField &lookup)
{
    // The code of the row shown stands for itself, listed or not.
    const QString text = lookup.combo()->currentText();
    return !text.trimmed().isEmpty() && text.trimmed() != lookup.text().trimmed() && itemOf(lookup.combo(), text) < 0;
}

void Lookups::CmbBounded_LostFocus(int index)
{
    if (LookupField *lookup = lookupAt(index); lookup && settle(*lookup))
        refillRequest(*lookup);
}

void Lookups::showRowValue(LookupField &lookup)
{
    const auto campo = lookup.campo();
    QComboBox *combo = lookup.combo();
    // A dependent lookup is listed for the row first, and so is one that lists what was typed;
    // a completing one lists the codes starting with the row's own.
    const bool completing = combo->property("Completing").toBool();
    if (!campo->SourceRif().isEmpty() || (combo->property("SearchedFor").isValid() && !completing))
        FILLCOMBO(combo, campo);
    if (completing && !lookup.text().trimmed().isEmpty()) {
        const QStringList items = completionItems(campo, lookup.text().trimmed(), true);
        combo->clear();
        combo->addItems(items);
    }
    showCode(combo, lookup.text());
}

bool Lookups::restoreStored(int index)
{
    LookupField *lookup = lookupAt(index);
    if (!lookup)
        return false;
    const bool adding = m.session.recordset() && m.session.recordset()->editMode() == EditMode::Add;
    const QString stored = adding ? lookup->text() : lookup->input()->property("ShownText").toString();
    QComboBox *combo = lookup->combo();
    const QString code = lookup->text(), before = combo->currentText();
    lookup->setText(stored);
    try {
        showRowValue(*lookup);
    } catch (const Error &) {
        combo->setCurrentText(stored); // the list cannot be read: the bare code
    }
    if (lookup->text() == code && combo->currentText() == before)
        return false; // it showed the stored value already
    combo->setProperty("DataChanged", false);
    if (!adding && !m_calls.fieldsChanged())
        m_calls.neutral();
    return true;
}

void Lookups::refillRequest(FieldControl &source)
{
    const QString field = source.column();
    const auto campi = m.state.rec->Campi();
    if (field.isEmpty() || source.text().trimmed().isEmpty() || !campi->Contains(field))
        return;
    const QString tag = campi->Item(field)->Tag().toString();
    if (EstraiToken(tag, QStringLiteral(","), 1) != u"REFILLCOMBO")
        return;
    LookupField *dependent = lookupAt(int(Values::val(EstraiToken(tag, QStringLiteral(","), 2))));
    if (!dependent)
        return;
    // Listed already for this value of its source: nothing to do (the user only passed by).
    const QVariant listedFor = dependent->combo()->property("ListedFor");
    if (listedFor.isValid() && listedFor.toString() == source.text())
        return;
    const QString code = dependent->text();
    // The dependent value stays when the new source still lists it (or when the list cannot be
    // read, which has been told); otherwise it starts empty.
    bool keep = false;
    try {
        FILLCOMBO(dependent->combo(), dependent->campo());
        keep = !code.trimmed().isEmpty() && listsCode(dependent->combo(), dependent->campo(), code);
    } catch (const Error &e) {
        msgBox(nxTr("errore: %1").arg(e.message()));
        keep = true;
    }
    if (keep) {
        showCode(dependent->combo(), code);
        return;
    }
    dependent->combo()->setCurrentText(QString());
    dependent->setText(QString());
    dependent->setChanged(true);
}

void Lookups::WRITEDESC(QWidget *control)
{
    FieldControl *field = m.fields.fieldOf(control);
    if (!field)
        return;
    const auto c = field->campo();
    QLineEdit *desc = field->description();
    const QString v = widgetText(control).toUpper();
    try {
        const auto connection = m.data.lookupConnection(c);
        const auto table = tableInfo(*connection, c->RecRif());
        const QString key = table->firstIndex.value(0);
        if (key.isEmpty())
            return; // no key to search by: the description stays as it is
        if (v.trimmed().isEmpty()) {
            if (desc)
                desc->setText(QString());
            return;
        }
        Recordset rs(connection, RecordSource::wholeTable(c->RecRif()), {key}, CursorIntent::Read);
        if (!rs.Find({{key, v}})) {
            if (desc)
                desc->setText(QString());
            setWidgetText(control, QString());
        } else if (desc) {
            QStringList parts;
            for (const QString &column :
                 descriptionColumns(c->FieldRif().toString(), [&](const QString &n) { return table->indexOf(n) >= 0; }))
                if (const QString part = rs.value(column).toString().trimmed(); !part.isEmpty())
                    parts << part;
            desc->setText(parts.join(u' '));
            desc->setCursorPosition(0);
        }
    } catch (const Error &) {
        // The description is a help, not a check: a lookup that cannot be made leaves it as it is.
    }
}

void Lookups::CmbBounded_KeyUp(int index, int key)
{
    LookupField *lookup = lookupAt(index);
    if (!lookup)
        return;
    const auto c = lookup->campo();
    QComboBox *combo = lookup->combo();
    if (c->ObjType().toUpper() == u"SPECIALCOMBO") {
        m_calls.externalHandler(lookup->code());
        m_calls.modified();
        FILLCOMBO(combo, c);
        return;
    }
    if (key == Qt::Key_F2 && !c->FieldRif().toString().isEmpty()) {
        // A full editor on the referenced table, to add or change the row the user needs.
        const QFileInfo file(c->FileRif().isEmpty() ? m.data.databaseFile() : c->FileRif());
        const bool own = c->FileRif().isEmpty() || c->FileRif().compare(m.data.databaseFile(), Qt::CaseInsensitive) == 0;
        {
            FrmEditTab nested(&m.window);
            // Its data as this editor has it: the connection string is not read again.
            FrmEditTabPrivate::of(nested).data.openFrom(own ? m.data.params()
                                                            : ConnectionParams::sqliteFile(file.absoluteFilePath()));
            nested.START(own ? m.data.connectionString() : QString(), own ? m.data.dataFolder() : file.absolutePath(),
                         own ? m.data.databaseName() : file.fileName(), c->RecRif(), m.state.dscPath, QString(), false);
            if (nested.CanShow())
                nested.exec();
        }
        m.state.shared.editorVisible = true; // this editor is still open
        m_calls.modified();
        const QString current = lookup->code()->text();
        FILLCOMBO(combo, c);
        showCode(combo, current);
    }
    if (combo->property("DataChanged").toBool() && !m.state.modified)
        m_calls.modified();
}

} // namespace Norvix
