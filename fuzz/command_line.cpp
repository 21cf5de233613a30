// The command-line tail: whatever the command line, the tail is a suffix of
// it that starts after the program's name and the characters 1 to 32 after it.
#include <string.h>
#include <vector>
#include "fuzz_support.h"

static bool IsBlank(unsigned char c) { return c >= 1 && c <= 32; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Exactly the input's bytes and a terminator, so that ASan sees any read past it.
    std::vector<char> line(data, data + size);
    line.push_back(0);
    const std::vector<char> before = line;
    size_t length = strlen(line.data());

    char* tail = CommandLineTail(line.data());
    CHECK(tail >= line.data() && tail <= line.data() + length, "tail outside the command line");
    CHECK(line == before, "the command line was changed");
    size_t start = (size_t)(tail - line.data());
    CHECK(strcmp(tail, line.data() + start) == 0 && strlen(tail) == length - start, "tail is not a suffix");
    CHECK(!IsBlank((unsigned char)*tail), "tail starts with character %d", *tail);

    // Where the name ends: at the closing quote of a quoted name, taken with
    // it; otherwise before the first character of code 32 or below.
    const unsigned char* text = (const unsigned char*)line.data();
    size_t nameEnd;
    if (text[0] == '"') {
        const char* close = strchr(line.data() + 1, '"');
        nameEnd = close ? (size_t)(close - line.data()) + 1 : length;
    } else {
        nameEnd = 0;
        while (text[nameEnd] > ' ')
            ++nameEnd;
    }
    CHECK(start >= nameEnd, "tail starts inside the name (at %zu, name ends at %zu)", start, nameEnd);
    for (size_t i = nameEnd; i < start; ++i)
        CHECK(IsBlank(text[i]), "skipped character %d after the name at %zu", text[i], i);
    return 0;
}
