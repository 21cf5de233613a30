// Stand-in for the shell part of the Win32 interface (see windows.h).
#pragma once
#include "windows.h"

#define NIM_ADD 0x00000000
#define NIM_MODIFY 0x00000001
#define NIM_DELETE 0x00000002
#define NIF_MESSAGE 0x00000001
#define NIF_ICON 0x00000002
#define NIF_TIP 0x00000004
// The first form of the record as the first 32-bit shells know it.
#define NOTIFYICONDATAA_V1_SIZE 88

typedef struct _NOTIFYICONDATAA {
    DWORD cbSize; HWND hWnd; UINT uID; UINT uFlags; UINT uCallbackMessage; HICON hIcon;
    CHAR szTip[64];
} NOTIFYICONDATAA, *PNOTIFYICONDATAA;
