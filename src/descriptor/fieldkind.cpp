#include "descriptor/fieldkind.h"

#include <utility>

namespace Norvix {

namespace {

// The value a table gives a word, in any letter case; `otherwise` for a word it lacks.
template <typename T, std::size_t N>
T valueOfWord(const QString &text, const std::pair<const char16_t *, T> (&words)[N], T otherwise)
{
    const QString word = text.toUpper();
    for (const auto &[w, value] : words) {
        if (word == QStringView(w))
            return value;
    }
    return otherwise;
}

} // namespace

FieldKind fieldKindOf(const QString &objType)
{
    static const std::pair<const char16_t *, FieldKind> words[] = {
        {u"TXTTEXT", FieldKind::Text}, {u"EDITBOX", FieldKind::Text}, {u"TEXTBOX", FieldKind::Text},
        {u"LOCKEDFIELD", FieldKind::Text}, {u"SPECIALTXT", FieldKind::Text}, {u"TXTMEMO", FieldKind::Memo},
        {u"MEMO", FieldKind::Memo}, {u"TXTDATE", FieldKind::Date}, {u"SPECIALDATE", FieldKind::Date},
        {u"TXTNUMERIC", FieldKind::Numeric}, {u"SPECIALNUMERIC", FieldKind::Numeric}, {u"TXTFILE", FieldKind::File},
        {u"CHKBOOLEAN", FieldKind::Check}, {u"CHECK1", FieldKind::Check}, {u"CHECKBOX", FieldKind::Check},
        {u"CMBBOUNDED", FieldKind::Combo}, {u"COMBOBOX", FieldKind::Combo}, {u"SPECIALCOMBO", FieldKind::Combo},
        {u"CMDSHOWBIN", FieldKind::Binary}, {u"COMMANDBUTTON", FieldKind::Binary}, {u"NESSUNO", FieldKind::None},
        {u"HIDDENFIELD", FieldKind::Hidden}, {u"UMOD", FieldKind::Umod},
    };
    return valueOfWord(objType, words, FieldKind::Unknown);
}

TypeFamily typeFamilyOf(const QString &type)
{
    static const std::pair<const char16_t *, TypeFamily> words[] = {
        {u"BYTE", TypeFamily::Whole},      {u"INTEGER", TypeFamily::Whole},  {u"LONG", TypeFamily::Whole},
        {u"AUTOINC", TypeFamily::Whole},   {u"SINGLE", TypeFamily::Number},  {u"DOUBLE", TypeFamily::Number},
        {u"CURRENCY", TypeFamily::Number}, {u"DECIMAL", TypeFamily::Number}, {u"DATE", TypeFamily::Date},
        {u"BOOLEAN", TypeFamily::Boolean}, {u"BINARY", TypeFamily::Binary},  {u"LONG BINARY", TypeFamily::Binary},
    };
    return valueOfWord(type, words, TypeFamily::Text);
}

} // namespace Norvix
