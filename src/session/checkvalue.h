#pragma once

// The editor's rule book for field values: whether a value typed into a field control is
// acceptable for its descriptor. The lost-focus checks and the check of all fields before a save
// both ask it. Plain code without widgets; every reading of a number or a date goes through the
// values module (platform/values.h).

#include "descriptor/descriptor.h"

#include <QDateTime>
#include <QVariant>

namespace Norvix {

// True when `Valore` is acceptable for the field `C`; never throws.
//
// - Fields shown but not edited (ObjType HIDDENFIELD, NESSUNO, LOCKEDFIELD, UMOD in any letter
//   case) always pass.
// - TEXT, MEMO: Valore must lie within MinVal .. MaxVal (each bound only when not ""), compared
//   as text by character codes, letter case counting ("b" is above "B").
// - BOOLEAN: Valore must convert to a Boolean and be one: True/False (any letter case), a boolean,
//   or a number equal to -1, 0 or 1 (a check box gives 0 and -1; 1 is taken as True too). Other
//   numbers (the -2 of a greyed check box) fail.
// - BYTE, INTEGER, LONG, CURRENCY (or CURR), SINGLE, DOUBLE: Valore must convert to the type
//   under the regional settings (an empty text, a text that is not a number and a value beyond
//   the type's range fail; integer types round halves to even first, so "254,5" is a Byte);
//   then Valore must lie within N(MinVal) .. N(MaxVal) (each bound only when not ""). Valore is
//   read as a user types it (Values::typedNumber: "1,5" and "1.5" are both 1.5, "1.234,5" is
//   1234.5), never cut at its decimal comma, and for BYTE, INTEGER and LONG rounded as it will
//   be stored (halves to even, so "254,5" counts as 254); the bounds, written in descriptors
//   without regard to the regional settings, by the leading-number reading Values::val ("." as
//   decimal mark).
// - DATE: when Valore is not a date and MinVal is "", the default applies: with an empty Default
//   Valore becomes "00:00:00" and passes at once; a Default of NOW (any letter case) puts `now`
//   in the field's display picture (Format) into Valore; any other Default is put into Valore as
//   it is. Then Valore must be a date, not later than MaxVal when MaxVal is a date and not
//   earlier than MinVal when MinVal is a date (date and time both count). A date given as
//   day and month only takes the year of `now`.
// - Any other data type passes.
//
// Valore is normally the text of a control. Other QVariant values are read as follows: a null
// or invalid QVariant is the empty text; a number is checked for the type through its text under
// the regional settings (exact digits for whole numbers, Values::numberText otherwise) and is
// its own N, so the double 1.5 counts as 1.5 against the bounds; a boolean is the number -1 or
// 0; a QDate, QTime or QDateTime is a date (wall-clock value, whatever its time zone setting) and, for
// the numeric and Boolean types, the serial number of that date; a Decimal is the number it holds; anything else is its text.
//
// Valore is changed only by the DATE default, and then holds text.
bool CHECKVALUE(QVariant &Valore, const Campo &C, const QDateTime &now = QDateTime::currentDateTime());

// Whether `value` breaks the rules of field `C`, as a save checks them: a Boolean must be one;
// any other value is held to its bounds when the field has a lower bound.
bool breaksFieldRules(const Campo &C, const QVariant &value);

} // namespace Norvix
