#pragma once

// The kinds of field controls a descriptor names (a field's ObjType), as the field builder
// groups the kind words. Plain code: the descriptor checks and the page layout share it.

#include <QString>

namespace Norvix {

enum class FieldKind { Text, Memo, Date, Numeric, File, Check, Combo, Binary, None, Hidden, Umod, Unknown };

// The group of a kind word (any letter case): TXTTEXT, EDITBOX, TEXTBOX, LOCKEDFIELD, SPECIALTXT
// are Text; TXTMEMO, MEMO are Memo; and so on. Unknown for any other word.
FieldKind fieldKindOf(const QString &objType);

// What a field's type (its TIPO) holds, so that two fields compare: BYTE, INTEGER, LONG and
// AUTOINC are whole numbers; SINGLE, DOUBLE, CURRENCY and DECIMAL other numbers; TEXT, MEMO and
// any other word text.
enum class TypeFamily { Text, Whole, Number, Date, Boolean, Binary };
TypeFamily typeFamilyOf(const QString &type);

} // namespace Norvix
