// The value readers on any text: no crash, no NaN, recognised dates inside their range, and the
// conversions agreeing with each other.

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
        if (Values::dateText(*date).isEmpty())
            std::abort();
    }

    const auto d = Values::toDouble(text);
    if (d && !std::isfinite(*d))
        std::abort();
    // A whole-number reading implies a Double reading at most half a unit away.
    if (const auto l = Values::toLong(text)) {
        if (!d || std::fabs(*d - double(*l)) > 0.5)
            std::abort();
    }
    if (const auto c = Values::toCurrency(text)) {
        if (!d || std::fabs(*d - double(*c) / 10000) > 0.5e-4 + std::fabs(*d) * 1e-15)
            std::abort();
    }
    if (Values::toInteger(text).has_value() != (Values::toLong(text).value_or(1 << 20) >= -32768
                                                && Values::toLong(text).value_or(1 << 20) <= 32767))
        std::abort();
    // The exact decimal text reads back, locale-free, as the same Double.
    if (const auto t = Values::toDecimalText(text); t && d && Values::val(*t) != *d)
        std::abort();
    (void)Values::toSingle(text);
    (void)Values::toByte(text);
    (void)Values::toBoolean(text);

    if (d) {
        if (Values::str(*d).isEmpty() || Values::numberText(*d).isEmpty() || Values::numberText(*d, true).isEmpty())
            std::abort();
        if (const auto when = Values::fromSerial(*d)) {
            if (when->date().year() < 100 || when->date().year() > 9999 || Values::dateText(*when).isEmpty())
                std::abort();
        }
    }
    return 0;
}
