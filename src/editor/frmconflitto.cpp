#include "editor/frmconflitto.h"
#include "platform/language.h"
#include "platform/window.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace Norvix {

namespace {

QString explanation(FrmConflitto::Situation situation)
{
    switch (situation) {
    case FrmConflitto::Situation::Changed:
        return nxTr("Un altro utente ha modificato questo record dopo che è stato letto: le modifiche non "
                              "sono state salvate.");
    case FrmConflitto::Situation::Deleted:
        return nxTr("Un altro utente ha eliminato questo record dopo che è stato letto: le modifiche non "
                              "sono state salvate.");
    case FrmConflitto::Situation::Preview:
        return nxTr("Un altro utente ha salvato questo record mentre lo stai modificando: nulla è stato salvato. "
                    "Confermando, i valori inseriti saranno confrontati con quelli salvati.");
    case FrmConflitto::Situation::DeleteOfChanged:
        return nxTr("Un altro utente ha modificato questo record dopo che è stato letto: il record non è "
                              "stato eliminato.");
    }
    return QString();
}

QPushButton *button(QWidget *parent, const char *name, const QString &text, const QString &tip)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    b->setToolTip(tip);
    b->setAutoDefault(false);
    return b;
}

} // namespace

FrmConflitto::FrmConflitto(Situation situation, const QList<Difference> &fields, QWidget *parent)
    : QDialog(parent), m_table(new QTableWidget(0, 4, this))
{
    setObjectName(QStringLiteral("FrmConflitto"));
    setWindowTitle(nxTr("Record modificato da un altro utente"));
    setModal(true);

    auto *text = new QLabel(explanation(situation), this);
    text->setObjectName(QStringLiteral("LblConflitto"));
    text->setWordWrap(true);

    m_table->setObjectName(QStringLiteral("GrdDifferenze"));
    m_table->setHorizontalHeaderLabels({nxTr("Campo"), nxTr("Valore letto"),
                                        nxTr("Valore salvato ora"), nxTr("Valore inserito")});
    m_table->verticalHeader()->hide();
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    for (const Difference &f : fields) {
        if (f.started == f.stored && f.stored == f.typed)
            continue; // the same for everybody
        const int row = m_table->rowCount();
        m_table->insertRow(row);
        const QString cells[] = {f.caption, f.started, f.stored, f.typed};
        for (int column = 0; column < 4; ++column)
            m_table->setItem(row, column, new QTableWidgetItem(cells[column]));
    }

    const bool deleting = situation == Situation::DeleteOfChanged;
    auto *reload = button(this, "CmdRicarica", nxTr("&Ricarica"),
                          nxTr("Mostra il record com'è salvato ora; i valori inseriti si perdono"));
    auto *overwrite = button(this, "CmdSovrascrivi",
                             deleting ? nxTr("&Elimina comunque") : nxTr("&Sovrascrivi"),
                             deleting ? nxTr("Elimina il record com'è salvato ora")
                             : situation == Situation::Deleted
                                 ? nxTr("Inserisce di nuovo il record con i valori inseriti")
                                 : nxTr("Scrive i campi cambiati sopra il record salvato ora"));
    auto *copy = button(this, "CmdCopia", nxTr("&Copia"),
                        nxTr("Copia negli appunti i valori inseriti"));
    connect(reload, &QPushButton::clicked, this, [this] { done(Reload); });
    connect(overwrite, &QPushButton::clicked, this, [this] { done(Overwrite); });
    connect(copy, &QPushButton::clicked, this, [fields] { QApplication::clipboard()->setText(typedText(fields)); });
    auto *close = button(this, "CmdChiudi", nxTr("Chiudi"), QString());
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    const bool preview = situation == Situation::Preview;
    reload->setVisible(!preview);
    overwrite->setVisible(!preview);
    close->setVisible(preview);
    if (preview)
        setWindowTitle(nxTr("Modifiche di un altro utente"));

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(reload);
    buttons->addWidget(overwrite);
    buttons->addWidget(copy);
    buttons->addWidget(close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addWidget(m_table);
    layout->addLayout(buttons);
    const QSize most = availableWindowSize();
    resize(std::min(640, most.width()), std::min(140 + 30 * m_table->rowCount(), most.height()));
}

QString FrmConflitto::typedText(const QList<Difference> &fields)
{
    QStringList lines;
    for (const Difference &f : fields)
        lines << f.caption + QStringLiteral(": ") + f.typed;
    return lines.join(u'\n') + u'\n';
}

} // namespace Norvix
