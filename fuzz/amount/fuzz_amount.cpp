// The amount fields: exact cents, never above one trillion, and every amount shown reads back as itself.

#include "db/Numbers.h"
#include "fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks the user's decimal separator.
    const QChar separator = data[0] & 1 ? QLatin1Char(',') : QLatin1Char('.');
    const QString text = textOf(data + 1, size - 1);
    const std::optional<qint64> cents = parseAmountCents(text, separator);
    if (cents) {
        FUZZ_CHECK(*cents >= -kMaxAmountCents && *cents <= kMaxAmountCents, "within one trillion");
        FUZZ_CHECK(parseAmountCents(formatCents(*cents, separator), separator) == cents, "shown amount reads back");
        FUZZ_CHECK(parseAmountCents(QLatin1Char(' ') + text + QLatin1Char(' '), separator) == cents,
            "blanks around change nothing");
    }
    return 0;
}
