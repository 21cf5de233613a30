#include "text.h"

int CopyText(char* destination, const char* source, DWORD size)
{
    for (DWORD i = 0; i < size; ++i) {
        destination[i] = source[i];
        if (!source[i])
            return 1;
    }
    if (size)
        destination[0] = 0;
    return 0;
}

static DWORD TextLength(const char* text)
{
    DWORD length = 0;
    while (text[length])
        ++length;
    return length;
}

int JoinPath(char* destination, DWORD size, const char* folder, const char* name)
{
    DWORD length = TextLength(folder);
    if (length + 2 <= size && CopyText(destination, folder, size)) {
        destination[length] = '\\';
        if (CopyText(destination + length + 1, name, size - length - 1))
            return 1;
    }
    if (size)
        destination[0] = 0;
    return 0;
}

int WindowsFilePath(char* destination, DWORD size, const char* name)
{
    char windows[MAX_PATH + 1];
    UINT length = GetWindowsDirectoryA(windows, sizeof windows);
    // A folder that cannot be read, or does not fit (GetWindowsDirectoryA then
    // answers the size it needs), joins as an empty one with room for nothing.
    if (!length || length >= sizeof windows) {
        windows[0] = 0;
        size = size != 0;
    }
    return JoinPath(destination, size, windows, name);
}

int CutAtLastBackslash(char* path)
{
    char* last = 0;
    for (char* p = path; *p; ++p) {
        if (*p == '\\')
            last = p;
    }
    if (!last)
        return 0;
    *last = 0;
    return 1;
}

// Only A to Z fold: the code page's other letters and every other byte are
// compared as they are.
static char UpperAscii(char c)
{
    return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c;
}

DWORD FoldedPrefix(const char* text, const char* part)
{
    DWORD length = 0;
    while (part[length] && UpperAscii(text[length]) == UpperAscii(part[length]))
        ++length;
    return length;
}

int ContainsTextIgnoringCase(const char* text, const char* part)
{
    for (; *text; ++text) {
        if (!part[FoldedPrefix(text, part)])
            return 1;
    }
    return !*part;
}
