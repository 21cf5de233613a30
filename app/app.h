#pragma once
#include <windows.h>
#include <shellapi.h>

// Window class and title by which a second start finds the running instance.
extern const char kMainClassName[];
extern const char kMainTitle[];

// The command line without the program's own name and the blanks after it.
LPSTR CommandLineTail(LPSTR commandLine);
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR tail, int show);
LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The shell's two calls, through SHELL32 loaded on first use; a shell that
// cannot be loaded is treated like a call that failed.
void NotifyIcon(DWORD message, NOTIFYICONDATAA* data);
void OpenWithShell(LPCSTR file, LPCSTR parameters, LPCSTR directory);

void AddTrayIcon(HWND window);
void RemoveTrayIcon(HWND window);

// WM_COMMAND after its preamble; returns 1 for the seven session commands.
int OnCommand(HWND window, WORD id);
// A quick restart through the companion, after a sweep when forced.
void QuickRestart(LONG force);

LRESULT OnQueryEndSession(LPARAM flags);
void OnEndSession(HWND window, WPARAM ending);
void OnDeferredRestart();

// Bounded string helpers: each returns 1 when the result fits, else 0 and
// leaves the destination as an empty string.
int CopyText(char* destination, const char* source, DWORD size);
int JoinPath(char* destination, DWORD size, const char* folder, const char* name);
// Cuts a path at its last backslash; returns 0 when it holds none.
int CutAtLastBackslash(char* path);
// Byte-wise, case-sensitive substring test.
int ContainsText(const char* text, const char* part);
