#include <windows.h>
#include "../res/resource.h"
#include "../app/globals.h"
#include "ui.h"

static const char kAboutText[] =
    "Tarnwick v1.1 for Windows 95 (98)\n"
    "Every way out, one click away.\n"
    "This program is freeware.";

void ShowAboutBox(HWND owner)
{
    if (g_aboutOpen)
        return;
    g_aboutOpen = 1;
    MSGBOXPARAMSA params = MSGBOXPARAMSA();
    params.cbSize = sizeof params;
    params.hwndOwner = owner;
    params.hInstance = GetModuleHandleA(NULL);
    params.lpszText = kAboutText;
    params.lpszCaption = "About Tarnwick";
    params.dwStyle = MB_USERICON;
    params.lpszIcon = MAKEINTRESOURCEA(IDI_MAIN);
    params.dwLanguageId = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    MessageBoxIndirectA(&params);
    g_aboutOpen = 0;
}
