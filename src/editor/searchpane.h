#pragma once

// Finding rows (FraRicerca over the record list): the button CmdCerca and Ctrl+F show the panel,
// whose inputs come from the descriptor's search layouts; Trova shows the rows found in the
// list as columns, Tutti (or Esc) brings the whole list back on the row that was shown, and
// Esporta writes the rows found, or the whole table, to a CSV file.

#include "editor/search.h"

#include <QList>

#include <functional>
#include <memory>
#include <QPointer>
#include <QStringList>
#include <QVariantList>

class QComboBox;
class QFrame;
class QHBoxLayout;
class QLabel;
class QObject;
class QEvent;
class QPushButton;
class QWidget;

namespace Norvix {

class CommandPanel;
class DataError;
class EditorData;
class Lookups;
class RecordListPane;
class RowSession;
class WindowLayout;
struct EditorState;

class SearchPane
{
public:
    // What the search asks of the editor.
    struct Calls
    {
        std::function<std::shared_ptr<void>()> busy; // held while an operation of the editor is under way
        std::function<bool()> closed;                // not started, failed to start, or closed
        std::function<void(const DataError &)> readFailed;
    };

    // The parts it works with.
    struct Parts
    {
        QWidget &window;
        EditorState &state;
        EditorData &data;
        RowSession &session;
        WindowLayout &layout;
        CommandPanel &panel;
        RecordListPane &list;
        Lookups &lookups;
    };
    SearchPane(Parts parts, Calls calls);

    // Makes CmdCerca (on the command panel) and the hidden panel.
    void create();
    // Once the descriptor is read: its layouts.
    void load();
    QPushButton *button() const { return m_cerca; }
    QFrame *frame() const { return m_frame; }

    // Shows the panel, the first input focused.
    void open();
    // Runs the search of the current layout with what its inputs hold.
    void find();
    // Ends the search (and hides the panel): the whole list, on the row that was shown.
    void end();
    // Writes the rows found (or the whole table) to a file the user chooses.
    void exportRows();
    // Layout number `layout` (as the descriptor numbers it), its inputs filled in order, the
    // search run. False (the user told) when the record has no such layout.
    bool run(int layout, const QStringList &texts);
    // The results of a search are in the list.
    bool active() const { return m_active; }
    // Key events of the panel's inputs: Enter finds, Esc ends.
    bool filter(QObject *watched, QEvent *event);
    // A row was saved, added or deleted while the results show: the whole list is read again
    // when the search ends.
    void rowsChanged() { m_changed = true; }

private:
    // The action run as an operation of the editor (see Busy).
    std::function<void()> underWay(void (SearchPane::*action)());
    void chooseLayout(int index);
    QWidget *lookupInput(const CampoPtr &campo, QWidget *parent);
    // The text of the input of a dependent lookup's source field in this layout (empty without one).
    std::function<QString()> sourceOf(const CampoPtr &campo);
    // Each lookup input whose text finds one row shows that row's item.
    void settleLookups();
    QWidget *lineInput(const CampoPtr &campo, QWidget *parent);
    // Spreads the inputs over rows as wide as the panel.
    void arrange();
    void fitPanel(); // the window makes room for the panel as tall as its contents
    void count(qint64 rows);
    QStringList typed() const;
    // The columns an export writes when no search is active: every field of the table.
    QList<ListFilter::Column> allColumns() const;

    Parts m;
    Calls m_calls;
    QPushButton *m_cerca = nullptr;
    QFrame *m_frame = nullptr;
    QComboBox *m_layouts = nullptr;
    QHBoxLayout *m_top = nullptr; // the list of layouts, and the inputs when they fit beside it
    QWidget *m_inputsBox = nullptr;
    QList<QWidget *> m_cells; // each input with its caption
    QList<QWidget *> m_inputs;
    QPushButton *m_trova = nullptr;
    QPushButton *m_tutti = nullptr;
    QPushButton *m_esporta = nullptr;
    QLabel *m_trovati = nullptr;
    QList<SearchLayout> m_all;
    bool m_active = false;
    ListFilter m_filter;       // of the search shown
    QVariantList m_shownKey;   // the row shown when the search began
    // The whole list, kept while the results show, and whether rows changed meanwhile.
    std::unique_ptr<RecordListModel> m_whole;
    bool m_changed = false;
};

} // namespace Norvix
