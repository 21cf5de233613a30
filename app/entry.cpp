#include <windows.h>
#include "app.h"

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

// The process starts here: there is no C runtime to compute the arguments.
extern "C" void EntryPoint()
{
    STARTUPINFOA info;
    info.cb = sizeof info;
    GetStartupInfoA(&info);
    int show = (info.dwFlags & STARTF_USESHOWWINDOW) ? info.wShowWindow : SW_SHOWDEFAULT;
    ExitProcess(WinMain(GetModuleHandleA(NULL), NULL, CommandLineTail(GetCommandLineA()), show));
}
