// The few helpers the compiler may call by itself when there is no C runtime.
// Built with -fno-builtin so that these loops do not turn into calls to themselves.
#include <stddef.h>

extern "C" void* memset(void* destination, int value, size_t size)
{
    unsigned char* d = (unsigned char*)destination;
    while (size--)
        *d++ = (unsigned char)value;
    return destination;
}

extern "C" void* memmove(void* destination, const void* source, size_t size)
{
    unsigned char* d = (unsigned char*)destination;
    const unsigned char* s = (const unsigned char*)source;
    if (d < s) {
        while (size--)
            *d++ = *s++;
    } else {
        while (size--)
            d[size] = s[size];
    }
    return destination;
}

extern "C" void* memcpy(void* destination, const void* source, size_t size)
{
    return memmove(destination, source, size);
}

extern "C" int memcmp(const void* a, const void* b, size_t size)
{
    const unsigned char* x = (const unsigned char*)a;
    const unsigned char* y = (const unsigned char*)b;
    for (; size; --size, ++x, ++y) {
        if (*x != *y)
            return *x - *y;
    }
    return 0;
}

extern "C" size_t strlen(const char* text)
{
    size_t length = 0;
    while (text[length])
        ++length;
    return length;
}
