// Any byte sequence as a descriptor file: the reader either builds a tree or reports a
// DescriptorError, and the file and database paths (bytes decoded per line, or decoded lines
// held in a list) always agree.

#include "descriptor/dscjson.h"
#include "descriptor/dsctext.h"

#include <QJsonDocument>

#include <cstdint>
#include <cstdlib>

using namespace Norvix;

namespace {

QByteArray load(DscLineSource &source, const QString &record)
{
    Rec rec;
    try {
        readDsc(source, record, rec, QStringLiteral("files.dsc"));
    } catch (const DescriptorError &e) {
        return "error: " + e.message().toUtf8();
    }
    return QJsonDocument(recToJson(rec)).toJson(QJsonDocument::Compact);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte picks the record to load; the names come from the seed corpus.
    static const char *const kNames[] = {"T", "CLIENTI", "ORDINI", "PROVINCE", "COMUNI", "A", "", "t"};
    const QString record = QString::fromLatin1(kNames[data[0] % 8]);
    const QByteArray bytes(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));

    TextLineSource text(bytes);
    const QByteArray fromText = load(text, record);

    const QStringList lines = splitDscLines(decodeDscText(bytes));
    ListLineSource list(lines);
    const QByteArray fromList = load(list, record);

    // A byte-order mark is dropped by both; otherwise the two readings must be identical.
    if (fromText != fromList)
        std::abort();
    return 0;
}
