#include <windows.h>
#include "../res/resource.h"
#include "../app/app.h"
#include "../app/globals.h"
#include "../common/text.h"
#include "../settings/settings.h"
#include "ui.h"

static const char kHelpFile[] = "Help\\index.html";
// The same page as the installation leaves it: the first Windows 95 copies
// files under 8.3 names only and has nothing that would rename it.
static const char kShortHelpFile[] = "Help\\INDEX.HTM";

void OpenHelp()
{
    char file[MAX_PATH + 1];
    char folder[MAX_PATH + 1];
    LPCSTR page = kHelpFile;
    // The 8.3 copy only where the long name is missing, so that a folder too
    // long for the long name still opens nothing.
    if (ProgramFilePath(kHelpFile, file, folder) && !FileExists(file) &&
        JoinPath(file, sizeof file, folder, kShortHelpFile) && FileExists(file))
        page = kShortHelpFile;
    LaunchFile(page, NULL);
}

void OnTrayNotify(HWND window, LPARAM mouseMessage)
{
    // Nothing opens on top of the dialog or the About box.
    if (g_dialogOpen || g_aboutOpen)
        return;
    if (mouseMessage == WM_LBUTTONDOWN) {
        SetForegroundWindow(window);
        PostMessageA(window, WM_APP_SHOWDIALOG, 0, 0);
    } else if (mouseMessage == WM_RBUTTONUP) {
        SetForegroundWindow(window);
        POINT cursor = {0, 0};
        GetCursorPos(&cursor);
        PostMessageA(window, WM_CONTEXTMENU, (WPARAM)window, MAKELPARAM(cursor.x, cursor.y));
    }
}

void OnContextMenu(HWND window, LPARAM point)
{
    HMENU menu = LoadMenuA(g_hInstance, MAKEINTRESOURCEA(IDR_TRAYMENU));
    if (!menu)
        return;
    HMENU popup = GetSubMenu(menu, 0);
    DWORD intercept;
    if (ReadSetting(kInterceptAllRestarts, &intercept) && intercept)
        CheckMenuItem(popup, IDM_INTERCEPT, MF_BYCOMMAND | MF_CHECKED);
    if (StartupFilesChanged(g_startupBaseline))
        EnableMenuItem(popup, IDC_QUICKRESTART, MF_BYCOMMAND | MF_GRAYED);
    TrackPopupMenu(popup, TPM_RIGHTBUTTON | TPM_RIGHTALIGN | TPM_BOTTOMALIGN, LOWORD(point),
                   HIWORD(point), 0, window, NULL);
    // Lets the menu close when the user clicks elsewhere, as the shell requires.
    PostMessageA(window, WM_NULL, 0, 0);
    DestroyMenu(menu);
}

void OnRefreshTray(HWND window)
{
    DWORD showIcon;
    if (ReadSetting(kShowTrayIcon, &showIcon) && showIcon) {
        RemoveTrayIcon(window);
        AddTrayIcon(window);
    }
}

void OnMenuCommand(HWND window, WORD id)
{
    DWORD ignored;
    switch (id) {
    case IDM_EXIT:            PostMessageA(window, WM_CLOSE, 0, 0); break;
    case IDM_HELP:            OpenHelp(); break;
    case IDM_ABOUT:           ShowAboutBox(window); break;
    case IDM_DISABLETRAYICON: WriteSetting(kShowTrayIcon, 0); RemoveTrayIcon(window); break;
    case IDM_INTERCEPT:       ToggleSetting(kInterceptAllRestarts, &ignored); break;
    }
}
