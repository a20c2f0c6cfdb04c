// A products file's bytes, whatever they are: the names read from them are written back and read again unchanged.

#include "base/TextCodec.h"
#include "db/ProductsFile.h"
#include "fuzz/FuzzCheck.h"

#include <cstring>

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

    // Names as the page holds them, any UTF-16 at all: written together they are the bytes of each written alone.
    QString typedText(qsizetype(size / 2), Qt::Uninitialized);
    std::memcpy(typedText.data(), data, size_t(typedText.size()) * 2);
    const QStringList typedNames = typedText.split(QLatin1Char('\n'));
    QByteArray oneByOne;
    for (const QString& name : typedNames)
        oneByOne += toGb18030(name) + "\r\n";
    FUZZ_CHECK(encodeProductNames(typedNames) == oneByOne, "names converted together as each alone");

    // Moving a name to the top keeps every other entry.
    QStringList moved = names;
    const QString typed = names.isEmpty() ? QStringLiteral(" x ") : names.last();
    if (putNameFirst(moved, typed)) {
        FUZZ_CHECK(moved.size() == names.size() || moved.size() == names.size() + 1, "one entry moved or added");
        FUZZ_CHECK(moved.first() == composedTrimmed(typed), "trimmed, composed name first");
        FUZZ_CHECK(indexOfName(moved, typed) == 0, "the moved name is found first");
    }
    return 0;
}
