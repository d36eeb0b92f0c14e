// Any byte sequence as a legacy Jet descriptor database: the reader either gives the lines of
// table Dsc or reports a DescriptorError, naming the file; it never crashes or hangs. The seeds
// are the Jet files of tests/data/legacy/ (scripts/fuzz adds them).

#include "descriptor/errors.h"
#include "descriptor/jetfile.h"
#include "inputfile.h"

#include <cstdlib>

using namespace Norvix;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = inputFile(data, size, QStringLiteral("dsc.mdb"));
    try {
        (void)JetFile::storedPassword(path);
    } catch (const DescriptorError &) {
    }
    try {
        JetFile jet(path, QStringLiteral("Segreto1"));
        (void)jet.readColumn(QStringLiteral("Dsc"), QStringLiteral("Line"));
    } catch (const DescriptorError &e) {
        if (!e.message().contains(path))
            std::abort(); // every refusal names the file
    }
    return 0;
}
