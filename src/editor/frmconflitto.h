#pragma once

// The window of a write conflict: the row was changed or deleted by another user after the
// editor read it. It lists, for each field where they differ, the value the user started from,
// the value stored now (or "eliminato") and the value typed, and lets the user choose: take the
// stored row (CmdRicarica), write over it (CmdSovrascrivi, "&Elimina comunque" when a delete was
// refused), copy the typed values (CmdCopia, the window stays), or Esc back to the editor with
// the typed values kept.

#include <QDialog>
#include <QList>
#include <QString>

class QTableWidget;

namespace Norvix {

class FrmConflitto : public QDialog
{
    Q_OBJECT

public:
    // What the other user did, and what this one was doing.
    // Preview: the row is being modified and another user saved it meanwhile; only shown
    // (nothing has been written, nothing is chosen): CmdCopia and CmdChiudi.
    enum class Situation { Changed, Deleted, DeleteOfChanged, Preview };
    // One field: its caption and the three values, as the editor shows them.
    struct Difference
    {
        QString caption, started, stored, typed;
    };
    enum Choice { Back = QDialog::Rejected, Reload = 2, Overwrite = 3 };

    // Every field of the row: those whose three values agree are not listed, and CmdCopia copies
    // the typed values of all of them.
    FrmConflitto(Situation situation, const QList<Difference> &fields, QWidget *parent = nullptr);

    // The typed values as text, one "caption: value" line per field: what CmdCopia copies.
    static QString typedText(const QList<Difference> &fields);

private:
    QTableWidget *m_table;
};

} // namespace Norvix
