#pragma once

// The lookup fields of the editor: each combo box CmbBounded(i) lists the rows of its referenced
// table (FILLCOMBO), completes what the user types on a large table, keeps its hidden code box
// TxtText(i) in step when it is clicked or left, lists a dependent combo again when the field it
// depends on changes, shows the description of a typed code (WRITEDESC), and opens an editor on
// the referenced table on F2.

#include "descriptor/descriptor.h"
#include "platform/lookupquery.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QComboBox;
class QWidget;

namespace Norvix {

class EditorData;
class FieldControl;
class FieldSet;
class LookupField;
class LookupSearcher;
class RowSession;
class WindowLayout;
struct EditorState;
struct LookupMatches;

class Lookups
{
public:
    // Rows a combo of a large lookup lists for one text, and rows measured for its width.
    static constexpr int kCompletionRows = 100;

    // What the lookups ask of the editor.
    struct Calls
    {
        std::function<void(QWidget *)> externalHandler; // the host's own handling of a field
        std::function<void()> modified;                 // the row shows as modified
        std::function<void()> neutral;                  // the row shows as unmodified
        std::function<void(QWidget *)> edited;          // the user changed a control
        std::function<void(QWidget *)> invalid;         // the control's value is not valid
        std::function<bool()> fieldsChanged;            // a bound control no longer shows the row
    };

    // The parts it works with.
    struct Parts
    {
        QWidget &window;
        EditorState &state;
        EditorData &data;
        RowSession &session;
        FieldSet &fields;
        WindowLayout &layout;
    };
    Lookups(Parts parts, Calls calls);
    ~Lookups();
    Lookups(const Lookups &) = delete;
    Lookups &operator=(const Lookups &) = delete;

    // Refills a combo from its referenced table; the width it needs (twips) while the window is
    // being built, 0 afterwards.
    int FILLCOMBO(QComboBox *ctrl, const CampoPtr &C);
    void CmbBounded_Click(int index);
    // The combo is left: settle() it, then list its dependent lookups again.
    void CmbBounded_LostFocus(int index);
    // Gives the code the combo's text: its item, its bare code, or the one row that the text
    // finds (searchLookup(): the only one, or the one whose whole description it is). A text
    // that finds several rows opens the list on them and tells how many; one that finds none is
    // told and stays. False when the code is not settled so.
    bool settle(LookupField &lookup);
    // Typed text that matches no item (and is not the code shown for the row): no save takes it.
    bool unmatched(const LookupField &lookup);
    // Esc: the combo and its code show the stored value again (a new row: the last one chosen);
    // false when they showed it already.
    bool restoreStored(int index);
    // Shows the code of the row in the combo, listed for it.
    void showRowValue(LookupField &lookup);
    // A key released in a combo: the host asked on every key of a special combo; F2 opens an
    // editor on the referenced table.
    void CmbBounded_KeyUp(int index, int key);
    void WRITEDESC(QWidget *control);
    // The source of dependent lookups was left: they are listed again when its value changed.
    void refillRequest(FieldControl &source);

    // Searches what the user types into a lookup combo (searchLookup()) off the window's thread;
    // the rows found become its items. `sourceText`: as for queryOf().
    void searchAsTyped(QComboBox *combo, const CampoPtr &C, std::function<QString()> sourceText = {});
    // The item that the combo's text picks: itself, its bare code, or the one row it finds
    // (listed then); none when it finds no row or several (listed then).
    std::optional<int> settleTyped(QComboBox *combo, const CampoPtr &C, const std::function<QString()> &sourceText = {});

    // Shows the item of a code (or the bare code when the list lacks it).
    void showCode(QComboBox *combo, const QString &code);
    // The items of a completing combo whose codes start with `prefix`: in any letter case, or,
    // with `exactCase`, as written (a stored code shown; the referenced key's index then serves).
    QStringList completionItems(const CampoPtr &C, const QString &prefix, bool exactCase = false);
    // Whether a lookup combo lists the row of `code` (a completing one asks its table).
    bool listsCode(QComboBox *combo, const CampoPtr &C, const QString &code);

    // The query of the rows of lookup field C of another record (a detail's), unfiltered.
    std::optional<LookupQuery> unfilteredQuery(const CampoPtr &C) { return queryFor(C, QString()); }
    // The query of the rows that lookup field C lists for `sourceText`, its source field's value
    // as typed (empty: every row).
    std::optional<LookupQuery> queryFor(const CampoPtr &C, const QString &sourceText)
    {
        return queryOf(C, nullptr, [sourceText] { return sourceText; });
    }

private:
    // The query of a lookup's rows, with the filter value of its source field (the source's
    // text goes to `listedFor`); no index: nothing (the user has been told).
    // The search panel gives `sourceText`, the text of the source field's input there.
    std::optional<LookupQuery> queryOf(const CampoPtr &C, QVariant *listedFor,
                                       const std::function<QString()> &sourceText = {});
    // The rows listed in a combo: all of a small table's, or the first of a large one's.
    static int rowsListed(const QComboBox *combo);
    // Lists the rows found for the text the combo shows (when it still shows it).
    void showMatches(QComboBox *combo, const LookupMatches &matches);
    // Tells how many rows the combo's text finds and opens the list on them; false when it finds
    // fewer than two.
    bool tellChoices(QComboBox *combo);
    LookupField *lookupAt(int index) const;
    // The item that a text typed in the combo picks (itself, or its bare code), or -1.
    static int itemOf(const QComboBox *combo, const QString &text);

    Parts m;
    Calls m_calls;
    std::unique_ptr<LookupSearcher> m_searcher; // made with the first combo that searches
};

} // namespace Norvix
