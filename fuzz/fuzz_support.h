// Shared by the fuzz targets: the fuzzer's input reader, the simulated system
// and the program's own headers, and one way to report a broken invariant.
#pragma once
#include <fuzzer/FuzzedDataProvider.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include "fake_system.h"
#include "../app/app.h"
#include "../app/globals.h"
#include "../common/text.h"
#include "../res/resource.h"
#include "../settings/settings.h"
#include "../tests/program_state.h"

// Prints what went wrong and aborts, so that libFuzzer keeps the input as a finding.
[[noreturn]] inline void Fail(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    fputs("invariant broken: ", stderr);
    vfprintf(stderr, format, args);
    fputc('\n', stderr);
    va_end(args);
    abort();
}

#define CHECK(condition, ...)       \
    do {                            \
        if (!(condition))           \
            Fail(__VA_ARGS__);      \
    } while (0)

// What a read of the setting `name` must give as the registry holds it now:
// false when it cannot be read, else its at most 4 bytes zero-extended.
inline bool StoredValue(const std::string& name, DWORD* value)
{
    auto found = sys.values.find(name);
    if (!sys.keyExists || found == sys.values.end() || found->second.data.size() > 4)
        return false;
    *value = 0;
    for (size_t i = 0; i < found->second.data.size(); ++i)
        *value |= (DWORD)found->second.data[i] << (8 * i);
    return true;
}

// A string without the bytes that no Windows path holds: NUL ends a C string
// early and a double quote is not allowed in file names.
inline std::string PathText(std::string text)
{
    for (char& c : text) {
        if (c == 0 || c == '"')
            c = '_';
    }
    return text;
}

// A string of any length up to 32 KiB from a short input: a piece, a run of
// one byte repeated, and another piece.
inline std::string LongText(FuzzedDataProvider& input)
{
    std::string text = input.ConsumeRandomLengthString(300);
    size_t run = input.ConsumeIntegralInRange<size_t>(0, 32768 - text.size());
    char fill = input.ConsumeIntegral<char>();
    text.append(run, fill);
    text += input.ConsumeRandomLengthString(300);
    return text.size() > 32768 ? text.substr(0, 32768) : text;
}
