#pragma once
#include <windows.h>

// Window class and title by which a second start finds the running instance.
extern const char kMainClassName[];
extern const char kMainTitle[];

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR tail, int show);
LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

void AddTrayIcon(HWND window);
void RemoveTrayIcon(HWND window);

// WM_COMMAND after its preamble; returns 1 for the seven session commands.
int OnCommand(HWND window, WORD id);
// Whether the companion that performs the quick restart is in the program's folder.
int CompanionExists();
// A quick restart through the companion. Forced, and with the companion
// there, it first ends every unprotected process; with `askFirst` it asks
// their windows before and ends only those asked, and a refusal calls the
// whole restart off.
void QuickRestart(LONG force, int askFirst);

LRESULT OnQueryEndSession(HWND window, LPARAM flags);
void OnEndSession(WPARAM ending);
void OnDeferredRestart();
void OnOwnEndOver();
