// Display pictures on any picture and value: no crash, no hang, no sanitizer report.

#include "platform/values.h"

#include <cstdint>

using namespace Norvix;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const size_t pictureSize = std::min<size_t>(data[0], size - 1);
    const QString picture = QString::fromUtf8(reinterpret_cast<const char *>(data) + 1, qsizetype(pictureSize));
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data) + 1 + pictureSize,
                                           qsizetype(size - 1 - pictureSize));
    (void)Values::format(QVariant(text), picture);
    if (const auto d = Values::toDouble(text))
        (void)Values::format(QVariant(*d), picture);
    if (const auto when = Values::toDate(text, QDate(2024, 2, 29)))
        (void)Values::format(QVariant(*when), picture);
    (void)Values::format(QVariant(QMetaType::fromType<QString>()), picture); // Null
    (void)Values::format(QVariant(true), picture);
    return 0;
}
