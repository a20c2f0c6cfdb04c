// The quantity field accepts decimal or hexadecimal 32-bit integers and nothing else.

#include "db/Numbers.h"
#include "fuzz/FuzzCheck.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = textOf(data, size);
    const std::optional<qint32> quantity = parseQuantity(text);
    if (quantity) {
        FUZZ_CHECK(parseQuantity(QString::number(*quantity)) == quantity, "a result reads back");
        FUZZ_CHECK(parseQuantity(QStringLiteral("  ") + text) == quantity, "leading blanks change nothing");
        FUZZ_CHECK(!parseQuantity(text + QLatin1Char(' ')), "nothing may follow the digits");
    }

    // Every 32-bit value, written as the program lists it or in hexadecimal, reads back as itself.
    if (size >= 4) {
        qint32 value;
        std::memcpy(&value, data, 4);
        FUZZ_CHECK(parseQuantity(QString::number(value)) == value, "decimal value");
        const QString hex = QString::number(qAbs(qint64(value)), 16);
        const QString sign = value < 0 ? QStringLiteral("-") : QString();
        FUZZ_CHECK(parseQuantity(sign + QLatin1Char('$') + hex) == value, "$ hexadecimal");
        FUZZ_CHECK(parseQuantity(sign + QStringLiteral("0X") + hex.toUpper()) == value, "0X hexadecimal");
    }
    return 0;
}
