#pragma once
#include <windows.h>

// Value names under HKEY_CURRENT_USER\Software\Quennard\Tarnwick.
extern const char kShowTrayIcon[];
extern const char kInterceptAllRestarts[];
extern const char kLastCommand[];
extern const char kLastForceSetting[];

int ReadSetting(LPCSTR name, DWORD* out);
int WriteSetting(LPCSTR name, DWORD value);
// Reads a switch and writes its opposite; 1 when both succeeded.
int ToggleSetting(LPCSTR name, DWORD* newValue);
