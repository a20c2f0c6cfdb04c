#pragma once

#include <QString>
#include <cstdio>
#include <cstdlib>

// A property that must hold for every input; a failure stops the run like a crash, so libFuzzer keeps the input.
#define FUZZ_CHECK(condition, what)                                                                                    \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "property failed: %s (%s)\n", what, #condition);                                      \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (false)

// The input as text: UTF-8, with invalid sequences replaced, as a user's typing or a file could bring it.
inline QString textOf(const uint8_t* data, size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
}
