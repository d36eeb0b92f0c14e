#include "editor/detailgrid.h"

#include "descriptor/fieldkind.h"
#include "editor/detailcells.h"
#include "editor/detailmodel.h"
#include "editor/recordlist.h"
#include "platform/language.h"
#include "platform/messages.h"
#include "platform/values.h"
#include "session/checkvalue.h"
#include "session/lineset.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace Norvix {

using Editor = DetailColumn::Editor;

namespace {

// The control a field's cells are edited with, as the editor chooses a field's control.
Editor editorOf(const Campo &campo, bool lookup)
{
    const QString word = campo.ObjType().toUpper();
    const FieldKind kind = fieldKindOf(word);
    if (campo.TIPO().compare(u"BOOLEAN", Qt::CaseInsensitive) == 0 || kind == FieldKind::Check)
        return Editor::Check;
    if (word == u"LOCKEDFIELD")
        return Editor::None;
    switch (kind) {
    case FieldKind::Combo: return lookup ? Editor::Lookup : Editor::Text;
    case FieldKind::Numeric: return Editor::Number;
    case FieldKind::Date: return Editor::Date;
    case FieldKind::Text:
    case FieldKind::Memo:
    case FieldKind::File:
    case FieldKind::Unknown: return Editor::Text;
    default: return Editor::None; // hidden, stamps, binary: shown only
    }
}

} // namespace

DetailGrid::DetailGrid(const Dettaglio &detail, std::shared_ptr<Rec> child, LineSet &lines,
                       std::shared_ptr<Connection> reader, Calls calls, QWidget *parent)
    : QWidget(parent), m_detail(detail), m_child(std::move(child)), m_lines(lines), m_calls(std::move(calls)),
      m_lookups(std::make_unique<DetailLookups>(m_calls.lookupQuery))
{
    const QString n = QString::number(detail.Numero());
    m_caption = new QLabel(this);
    m_caption->setObjectName(QStringLiteral("LblDettaglio") + n);
    m_view = new DetailView(this);
    m_view->setObjectName(QStringLiteral("GrdDettaglio") + n);
    m_delete = new QPushButton(nxTr("Elimina riga"), this);
    m_delete->setObjectName(QStringLiteral("CmdEliminaRiga") + n);

    const QList<DetailColumn> shown = columns();
    m_model = new DetailModel(m_lines, std::move(reader), m_lines.link().keyColumns, shown, *m_lookups, this);
    m_model->setCell = [this](const QModelIndex &index, const QVariant &input) { return setCell(index, input); };
    m_delegate = new DetailDelegate(*m_model, *m_lookups, *m_view);
    m_delegate->prepare = [this](const QModelIndex &index) { return prepare(index); };
    m_view->setModel(m_model);
    m_view->setup(m_delegate, {[this](const QModelIndex &index, const QString &text) { return setCell(index, text); },
                               [this] { deleteLines(); }});
    const int letter = m_view->fontMetrics().averageCharWidth();
    for (int i = 0; i < shown.size(); ++i) {
        const int letters = std::max<int>(shown[i].campo->MaxLen(), int(shown[i].campo->Desc().size()));
        m_view->setColumnWidth(i, letter * std::clamp(letters + (shown[i].editor == Editor::Lookup ? 30 : 0), 4, 50) + 16);
    }
    m_view->horizontalHeader()->setStretchLastSection(true);
    // One text line per line: a long description is cut, never makes its line taller.
    m_view->setWordWrap(false);
    m_view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_view->verticalHeader()->setDefaultSectionSize(m_view->fontMetrics().height() + 8);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_caption);
    layout->addWidget(m_view, 1);
    layout->addWidget(m_delete, 0, Qt::AlignLeft);
    connect(m_delete, &QPushButton::clicked, this, [this] { deleteLines(); });
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(m_model, signal, this, &DetailGrid::showCount);
    connect(m_model, &QAbstractItemModel::modelReset, this, &DetailGrid::showCount);
    showCount();
}

DetailGrid::~DetailGrid()
{
    m_view->cancelEditing(); // nothing checked while the window goes
}

QList<DetailColumn> DetailGrid::columns() const
{
    const auto campi = m_child->Campi();
    QStringList names = m_detail.Colonne();
    if (names.isEmpty())
        for (const auto &c : *campi)
            if (!m_detail.CampiFiglio().contains(c->Nome(), Qt::CaseInsensitive))
                names << c->Nome();
    const auto table = m_lines.table();
    const QStringList keys = m_lines.link().keyColumns;
    QList<DetailColumn> shown;
    for (const QString &name : std::as_const(names)) {
        if (!campi->Contains(name))
            continue;
        DetailColumn c;
        c.campo = campi->Item(name);
        c.name = c.campo->Nome();
        c.kind = table->column(c.name).kind;
        c.editor = editorOf(*c.campo, !c.campo->RecRif().isEmpty() && m_lookups->has(c.campo));
        c.key = keys.contains(c.name, Qt::CaseInsensitive);
        shown << c;
    }
    return shown;
}

void DetailGrid::reload()
{
    m_view->cancelEditing();
    m_model->reload();
}

void DetailGrid::liveRefresh()
{
    m_model->liveRefresh([view = m_view] { return view->isEditing(); });
}

void DetailGrid::setReadOnly(bool readOnly)
{
    if (readOnly)
        m_view->cancelEditing();
    m_model->setReadOnly(readOnly);
    m_delete->setEnabled(!readOnly);
}

bool DetailGrid::finishEditing()
{
    return m_view->finishEditing();
}

void DetailGrid::showLine(int id, const QString &column)
{
    const int row = m_model->rowOf(id);
    if (row < 0)
        return;
    const QModelIndex at = m_model->index(row, column.isEmpty() ? 0 : std::max(0, m_model->columnOf(column)));
    m_view->setCurrentIndex(at);
    m_view->scrollTo(at);
    m_view->setFocus(Qt::OtherFocusReason);
}

int DetailGrid::lineNumber(int id) const
{
    const int row = m_model->rowOf(id);
    return row < 0 ? -1 : row + 1;
}

QString DetailGrid::caption(const QString &column) const
{
    const auto campi = m_child->Campi();
    return campi->Contains(column) ? campi->Item(column)->Desc() : column;
}

QTableView *DetailGrid::view() const
{
    return m_view;
}

void DetailGrid::showCount()
{
    m_caption->setText(nxTr("%1 (%2 righe)").arg(m_detail.Titolo()).arg(m_model->lineCount()));
}

bool DetailGrid::prepare(const QModelIndex &index)
{
    // A stored line is taken in hand when a cell of it is first edited: its row read now is
    // what the save checks against, and what the editor starts with.
    if (m_model->isEmptyRow(index.row()))
        return true;
    try {
        m_model->lineFor(index.row());
    } catch (const DataError &e) {
        lineGone(e);
        return false;
    }
    return true;
}

void DetailGrid::lineGone(const DataError &error)
{
    msgBox(error.message());
    QMetaObject::invokeMethod(this, &DetailGrid::reload, Qt::QueuedConnection); // not while the view is at work
}

std::optional<QVariant> DetailGrid::typed(const DetailColumn &column, const QVariant &input) const
{
    if (column.editor == Editor::Check)
        return m_lines.typed(column.name, input.toBool());
    QString text = input.toString();
    switch (column.editor) {
    case Editor::Lookup: {
        const auto code = m_lookups->codeOf(column.campo, text);
        if (!code)
            return std::nullopt;
        text = *code;
        break;
    }
    case Editor::Number:
        // A number in the regional form ("1.234,5"; "1.5" typed with a point is 1,5).
        if (text.trimmed().isEmpty())
            text.clear();
        else if (!Values::toDouble(text))
            return std::nullopt;
        else
            text = Values::typedNumberText(text);
        break;
    case Editor::Date:
        if (!text.trimmed().isEmpty() && !Values::isDate(text))
            return std::nullopt;
        break;
    default:
        if (column.campo->MaxLen() == 1)
            text = text.toUpper();
    }
    // The rule a field's value meets when the field is left (an empty one is checked at the save).
    QVariant rule = text;
    if (!text.isEmpty() && !CHECKVALUE(rule, *column.campo))
        return std::nullopt;
    return m_lines.typed(column.name, text);
}

bool DetailGrid::setCell(const QModelIndex &index, const QVariant &input)
{
    const DetailColumn &column = m_model->column(index.column());
    std::optional<QVariant> value;
    try {
        value = typed(column, input);
    } catch (const DataError &e) {
        if (e.number() != DataError::ConversionFailed) {
            msgBox(e.message());
            return false;
        }
    }
    if (!value) {
        msgBox(nxTr("Valore di %1 non valido alla riga %2.").arg(column.campo->Desc()).arg(index.row() + 1));
        return false;
    }
    int id = -1;
    try {
        id = m_model->lineFor(index.row());
    } catch (const DataError &e) {
        lineGone(e);
        return true; // nothing set: the lines are read again
    }
    m_lines.setValue(id, column.name, *value);
    m_model->lineChanged(index.row());
    if (m_calls.edited)
        m_calls.edited();
    return true;
}

void DetailGrid::deleteLines()
{
    if (m_model->isReadOnly())
        return;
    QList<int> rows;
    for (const QModelIndex &index : m_view->selectionModel()->selectedIndexes())
        rows << index.row();
    if (rows.isEmpty() && m_view->currentIndex().isValid())
        rows << m_view->currentIndex().row();
    rows.removeIf([this](int row) { return row >= m_model->lineCount(); }); // the empty line stays
    if (rows.isEmpty())
        return;
    m_view->cancelEditing();
    if (msgBox(nxTr("Eliminare le righe selezionate ?"), MsgButtons::YesNo) != MsgAnswer::Yes)
        return;
    try {
        m_model->removeRows(rows);
    } catch (const DataError &e) {
        lineGone(e);
    }
    if (m_calls.edited)
        m_calls.edited();
}

} // namespace Norvix
