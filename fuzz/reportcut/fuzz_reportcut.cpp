// The report cut: the longest prefix of a cell's text that fits a column's bytes, never splitting a character.

#include "base/TextCodec.h"
#include "fuzz/FuzzCheck.h"
#include "reports/ReportBuilder.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const int maxBytes = data[0] % 64;
    // UTF-16 straight from the input, lone surrogates and all, since a cell can hold any text.
    QString text(qsizetype((size - 1) / 2), Qt::Uninitialized);
    std::memcpy(text.data(), data + 1, size_t(text.size()) * 2);
    const QString cut = cutToBytes(text, maxBytes);
    FUZZ_CHECK(text.startsWith(cut), "a prefix");
    FUZZ_CHECK(toGb18030(cut).size() <= maxBytes, "fits the column");
    if (cut.size() < text.size()) {
        FUZZ_CHECK(!(cut.size() > 0 && cut.back().isHighSurrogate() && text.at(cut.size()).isLowSurrogate()),
            "no character split");
        const qsizetype next = text.at(cut.size()).isHighSurrogate() && cut.size() + 1 < text.size()
                && text.at(cut.size() + 1).isLowSurrogate()
            ? 2
            : 1;
        FUZZ_CHECK(toGb18030(text.left(cut.size() + next)).size() > maxBytes, "the longest that fits");
    }
    return 0;
}
