#pragma once

// The window of a row's history (FrmStoria), over the editor: the list LstStoria of the changes,
// newest first, one line per field (Quando, Utente, Azione, Campo, Prima, Dopo), read a page at a
// time as it scrolls; CmdRipristina puts the selected lines' "Prima" values back into the editor's
// fields (nothing is saved: the row becomes modified), CmdChiudi closes. A row without history
// shows LblStoria's "Nessuna modifica registrata per questo record.".

#include <QDialog>
#include <QList>

#include <functional>

class QLabel;
class QPushButton;
class QTableView;

namespace Norvix {

class HistoryModel;
struct HistoryLine;

class FrmStoria : public QDialog
{
    Q_OBJECT

public:
    // Shows `model` (made its child), its first page read. `canRestore`: Ripristina is offered.
    FrmStoria(const QString &title, HistoryModel *model, bool canRestore, QWidget *parent = nullptr);

    QTableView *list() const { return m_list; }
    // Ripristina: the selected lines that have a value before their change, newest first; the
    // window closes after.
    std::function<void(const QList<HistoryLine> &)> restore;

private:
    QList<HistoryLine> chosen() const;
    void update();

    HistoryModel *m_model;
    QTableView *m_list;
    QLabel *m_empty;
    QPushButton *m_restore;
    bool m_canRestore;
};

} // namespace Norvix
