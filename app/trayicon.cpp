#include <windows.h>
#include <shellapi.h>
#include "../common/shell.h"
#include "../common/text.h"
#include "../res/resource.h"
#include "app.h"

// The shell knows the icon by (window, id 1); the rest of the record stays zero.
static void FillTrayRecord(NOTIFYICONDATAA* data, HWND window)
{
    *data = NOTIFYICONDATAA();
    data->cbSize = NOTIFYICONDATAA_V1_SIZE;
    data->hWnd = window;
    data->uID = 1;
}

void AddTrayIcon(HWND window)
{
    NOTIFYICONDATAA data;
    FillTrayRecord(&data, window);
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = WM_APP_TRAYNOTIFY;
    data.hIcon = LoadIconA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDI_SMALL));
    CopyText(data.szTip, "Tarnwick", sizeof data.szTip);
    NotifyIcon(NIM_ADD, &data);
}

void RemoveTrayIcon(HWND window)
{
    NOTIFYICONDATAA data;
    FillTrayRecord(&data, window);
    NotifyIcon(NIM_DELETE, &data);
}
