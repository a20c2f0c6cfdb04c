// A products file's bytes, whatever they are: the names read from them are written back and read again unchanged.

#include "db/ProductsFile.h"
#include "db/TextCodec.h"
#include "fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QStringList names = decodeProductNames(bytes);
    for (const QString& name : names)
        FUZZ_CHECK(!name.contains(QLatin1Char('\r')) && !name.contains(QLatin1Char('\n')) && !name.contains(QChar(0)),
            "no line break or NUL inside a name");
    const QByteArray written = encodeProductNames(names);
    FUZZ_CHECK(decodeProductNames(written) == names, "written names read back");
    FUZZ_CHECK(encodeProductNames(decodeProductNames(written)) == written, "second write is the same");

    // Moving a name to the top keeps every other entry.
    QStringList moved = names;
    const QString typed = names.isEmpty() ? QStringLiteral(" x ") : names.last();
    if (putNameFirst(moved, typed)) {
        FUZZ_CHECK(moved.size() == names.size() || moved.size() == names.size() + 1, "one entry moved or added");
        FUZZ_CHECK(moved.first() == trimmed32(typed), "trimmed name first");
    }
    return 0;
}
