// The value readers on any text: no crash, no NaN, and recognised dates inside their range.

#include "platform/values.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

using namespace Norvix;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    if (std::isnan(Values::val(text)))
        std::abort();
    if (const auto date = Values::toDate(text, QDate(2024, 2, 29))) {
        if (!date->isValid() || date->date().year() < 100 || date->date().year() > 9999)
            std::abort();
    }
    return 0;
}
