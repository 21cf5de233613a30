#pragma once
#include <windows.h>
#include <shellapi.h>

// SHELL32 once a shell call has loaded it; kept until the process ends.
extern HMODULE g_shellModule;

// The shell's two calls, through SHELL32 loaded on first use; a shell that
// cannot be loaded is treated like a call that failed. OpenWithShell returns
// 1 when the shell opened the file.
void NotifyIcon(DWORD message, NOTIFYICONDATAA* data);
int OpenWithShell(LPCSTR file, LPCSTR parameters, LPCSTR directory);
