#include "descriptor/fieldkind.h"

namespace Norvix {

FieldKind fieldKindOf(const QString &objType)
{
    const QString word = objType.toUpper();
    static const struct
    {
        const char16_t *word;
        FieldKind kind;
    } words[] = {
        {u"TXTTEXT", FieldKind::Text}, {u"EDITBOX", FieldKind::Text}, {u"TEXTBOX", FieldKind::Text},
        {u"LOCKEDFIELD", FieldKind::Text}, {u"SPECIALTXT", FieldKind::Text}, {u"TXTMEMO", FieldKind::Memo},
        {u"MEMO", FieldKind::Memo}, {u"TXTDATE", FieldKind::Date}, {u"SPECIALDATE", FieldKind::Date},
        {u"TXTNUMERIC", FieldKind::Numeric}, {u"SPECIALNUMERIC", FieldKind::Numeric}, {u"TXTFILE", FieldKind::File},
        {u"CHKBOOLEAN", FieldKind::Check}, {u"CHECK1", FieldKind::Check}, {u"CHECKBOX", FieldKind::Check},
        {u"CMBBOUNDED", FieldKind::Combo}, {u"COMBOBOX", FieldKind::Combo}, {u"SPECIALCOMBO", FieldKind::Combo},
        {u"CMDSHOWBIN", FieldKind::Binary}, {u"COMMANDBUTTON", FieldKind::Binary}, {u"NESSUNO", FieldKind::None},
        {u"HIDDENFIELD", FieldKind::Hidden}, {u"UMOD", FieldKind::Umod},
    };
    for (const auto &w : words) {
        if (word == QStringView(w.word))
            return w.kind;
    }
    return FieldKind::Unknown;
}

} // namespace Norvix
