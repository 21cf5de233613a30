#include <windows.h>
#include "text.h"

LPSTR CommandLineTail(LPSTR commandLine)
{
    const unsigned char* p = (const unsigned char*)commandLine;
    if (*p == '"') {
        // A quoted name ends at its closing quote, which goes with it.
        for (++p; *p && *p != '"'; ++p) {
        }
        if (*p == '"')
            ++p;
    } else {
        while (*p > ' ')
            ++p;
    }
    while (*p && *p <= ' ')
        ++p;
    return (LPSTR)p;
}
