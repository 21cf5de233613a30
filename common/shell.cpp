#include <windows.h>
#include <shellapi.h>
#include "shell.h"

HMODULE g_shellModule;

// SHELL32 is loaded on first use and kept: a start without the tray icon never
// needs it, and under the lighter systems it costs the process most of its
// memory beyond the bare window. Once loaded it stays for the icon's sake.
static FARPROC ShellFunction(LPCSTR name)
{
    if (!g_shellModule)
        g_shellModule = LoadLibraryA("SHELL32.DLL");
    return g_shellModule ? GetProcAddress(g_shellModule, name) : NULL;
}

void NotifyIcon(DWORD message, NOTIFYICONDATAA* data)
{
    // The first Windows 95 shell may know the function by its plain name
    // alone, which takes the same ANSI record there.
    FARPROC found = ShellFunction("Shell_NotifyIconA");
    if (!found)
        found = ShellFunction("Shell_NotifyIcon");
    decltype(&Shell_NotifyIconA) notify = (decltype(&Shell_NotifyIconA))(void*)found;
    if (notify)
        notify(message, data);
}

int OpenWithShell(LPCSTR file, LPCSTR parameters, LPCSTR directory)
{
    decltype(&ShellExecuteA) execute = (decltype(&ShellExecuteA))(void*)ShellFunction("ShellExecuteA");
    // ShellExecuteA reports a failure as a value of 32 or less.
    return execute && (INT_PTR)execute(NULL, "open", file, parameters, directory, SW_SHOWNORMAL) > 32;
}
