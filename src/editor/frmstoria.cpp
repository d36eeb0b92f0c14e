#include "editor/frmstoria.h"

#include "editor/historymodel.h"
#include "platform/language.h"
#include "platform/window.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace Norvix {

FrmStoria::FrmStoria(const QString &title, HistoryModel *model, bool canRestore, QWidget *parent)
    : QDialog(parent), m_model(model), m_list(new QTableView(this)), m_empty(new QLabel(this)),
      m_restore(new QPushButton(nxTr("&Ripristina"), this)), m_canRestore(canRestore)
{
    setObjectName(QStringLiteral("FrmStoria"));
    setWindowTitle(title);
    setModal(true);
    m_model->setParent(this);
    // The first page now: an empty history is told at once.
    if (m_model->canFetchMore(QModelIndex()))
        m_model->fetchMore(QModelIndex());

    m_empty->setObjectName(QStringLiteral("LblStoria"));
    m_list->setObjectName(QStringLiteral("LstStoria"));
    m_list->setModel(m_model);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setWordWrap(false);
    m_list->verticalHeader()->hide();
    m_list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_list->verticalHeader()->setDefaultSectionSize(m_list->fontMetrics().height() + 8);
    const int letter = m_list->fontMetrics().averageCharWidth();
    const int letters[] = {20, 12, 12, 20, 24};
    for (int c = 0; c < HistoryModel::Dopo; ++c)
        m_list->setColumnWidth(c, letter * letters[c] + 16);
    m_list->horizontalHeader()->setStretchLastSection(true);

    m_restore->setObjectName(QStringLiteral("CmdRipristina"));
    m_restore->setToolTip(nxTr("Rimette nei campi i valori \"Prima\" delle righe scelte; si salva con Conferma"));
    m_restore->setAutoDefault(false);
    auto *close = new QPushButton(nxTr("&Chiudi"), this);
    close->setObjectName(QStringLiteral("CmdChiudi"));
    close->setAutoDefault(false);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_restore, &QPushButton::clicked, this, [this] {
        const QList<HistoryLine> lines = chosen();
        if (lines.isEmpty())
            return;
        accept();
        if (restore)
            restore(lines);
    });
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this, &FrmStoria::update);
    connect(m_model, &QAbstractItemModel::rowsInserted, this, &FrmStoria::update);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_empty, 1);
    buttons->addWidget(m_restore);
    buttons->addWidget(close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_list, 1);
    layout->addLayout(buttons);
    const QSize most = availableWindowSize();
    resize(std::min(letter * 130, most.width()), std::min(m_list->verticalHeader()->defaultSectionSize() * 16 + 90, most.height()));
    update();
}

QList<HistoryLine> FrmStoria::chosen() const
{
    QList<int> rows;
    for (const QModelIndex &i : m_list->selectionModel()->selectedRows())
        rows << i.row();
    std::sort(rows.begin(), rows.end()); // newest first
    QList<HistoryLine> lines;
    for (const int row : std::as_const(rows))
        if (m_model->line(row).hasBefore())
            lines << m_model->line(row);
    return lines;
}

void FrmStoria::update()
{
    // Empty, the label keeps its room: the buttons stay at the right.
    m_empty->setText(m_model->rowCount() == 0 ? nxTr("Nessuna modifica registrata per questo record.") : QString());
    m_restore->setEnabled(m_canRestore && !chosen().isEmpty());
}

} // namespace Norvix
