#pragma once

// The lookup fields of the editor: each combo box CmbBounded(i) lists the rows of its referenced
// table (FILLCOMBO), completes what the user types on a large table, keeps its hidden code box
// TxtText(i) in step when it is clicked or left, lists a dependent combo again when the field it
// depends on changes, shows the description of a typed code (WRITEDESC), and opens an editor on
// the referenced table on F2.

#include "descriptor/descriptor.h"
#include "editor/lookupquery.h"

#include <QString>
#include <QStringList>

class QComboBox;
class QWidget;

namespace Norvix {

class FieldControl;
class FrmEditTabPrivate;
class LookupField;

class Lookups
{
public:
    explicit Lookups(FrmEditTabPrivate &d);

    // Refills a combo from its referenced table; the width it needs (twips) while the window is
    // being built, 0 afterwards.
    int FILLCOMBO(QComboBox *ctrl, const CampoPtr &C);
    void CmbBounded_Click(int index);
    // The combo is left: its item, or its bare code, gives the code; a text that matches nothing
    // is told and stays.
    void CmbBounded_LostFocus(int index);
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

    // Shows the item of a code (or the bare code when the list lacks it).
    void showCode(QComboBox *combo, const QString &code);
    // The items of a completing combo whose codes start with `prefix`: in any letter case, or,
    // with `exactCase`, as written (a stored code shown; the referenced key's index then serves).
    QStringList completionItems(const CampoPtr &C, const QString &prefix, bool exactCase = false);
    // Whether a lookup combo lists the row of `code` (a completing one asks its table).
    bool listsCode(QComboBox *combo, const CampoPtr &C, const QString &code);

private:
    // The query of a lookup's rows, with the filter value of its source field (the source's
    // text goes to `listedFor`); no index: nothing (the user has been told).
    std::optional<LookupQuery> queryOf(const CampoPtr &C, QVariant *listedFor);
    // Makes a large lookup's combo complete what the user types.
    void completeAsTyped(QComboBox *ctrl, const CampoPtr &C);
    LookupField *lookupAt(int index) const;
    // The item that a text typed in the combo picks (itself, or its bare code), or -1.
    static int itemOf(const QComboBox *combo, const QString &text);

    FrmEditTabPrivate &d;
};

} // namespace Norvix
