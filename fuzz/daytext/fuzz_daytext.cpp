// Day texts: four, two and two digits with one separator between them, and only real days.

#include "db/Numbers.h"
#include "fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = textOf(data, size);
    const std::optional<QDate> day = parseDayText(text);
    if (day) {
        FUZZ_CHECK(day->isValid(), "a real day");
        FUZZ_CHECK(text.size() == 10, "ten characters");
        FUZZ_CHECK(parseDayText(day->toString(QStringLiteral("yyyy/MM/dd"))) == day, "day reads back");
        FUZZ_CHECK(day->toString(QStringLiteral("yyyyMMdd")) == text.left(4) + text.mid(5, 2) + text.mid(8, 2),
            "the digits are the day");
    }
    return 0;
}
