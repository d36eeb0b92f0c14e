// EstraiToken on any text, separator and field number: no crash, and removal takes out at least
// a separator, and results come trimmed.

#include "descriptor/estraitoken.h"

#include <cstdint>
#include <cstdlib>

using namespace Norvix;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    const int numero = int(int8_t(data[0]));
    const bool flags = data[1] & 1;
    const size_t sepLen = 1 + (data[1] >> 1) % 3;
    if (size < 2 + sepLen)
        return 0;
    const QString all = QString::fromUtf8(reinterpret_cast<const char *>(data) + 2, qsizetype(size - 2));
    const QString sep = all.left(qsizetype(sepLen));
    if (sep.isEmpty())
        return 0;
    const QString original = all.mid(qsizetype(sepLen));

    const int count = EstraiToken(original, sep, 0).toInt();
    if (count < 1)
        std::abort();

    QString text = original;
    const QString field = EstraiToken(text, sep, numero, flags, true);
    if (numero < 1 || numero > count) {
        if (text != original) // nothing to remove: the text stays
            std::abort();
    } else if (count == 1) {
        if (!text.isEmpty())
            std::abort();
    } else {
        // One field and one separator went.
        if (text.size() > original.size() - sep.size())
            std::abort();
    }
    if (field.startsWith(u' ') || field.endsWith(u' '))
        std::abort();
    return 0;
}
