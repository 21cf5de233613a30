#include <windows.h>
#include "../res/resource.h"
#include "../app/app.h"
#include "../app/globals.h"
#include "../settings/settings.h"
#include "ui.h"

// The radio buttons in the order OK scans them.
static const WORD kCommandButtons[7] = {
    IDC_QUICKRESTART, IDC_FULLREBOOT, IDC_LOGOFF, IDC_EXITTODOS,
    IDC_SHUTDOWN, IDC_SCREENSAVER, IDC_SUSPEND,
};

void OnShowDialog(HWND window)
{
    if (g_dialogOpen || g_aboutOpen)
        return;
    g_dialogOpen = 1;
    g_dialogResult.baseline = &g_startupBaseline;
    g_dialogResult.mainWindow = window;
    INT_PTR result = DialogBoxParamA(g_hInstance, MAKEINTRESOURCEA(IDD_COMMANDDIALOG), NULL,
                                     CommandDialogProc, (LPARAM)&g_dialogResult);
    // Only OK ends the dialog with 1; the command then runs with the dialog's force.
    if (result != -1 && result != 0) {
        g_commandFromDialog = 1;
        PostMessageA(window, WM_COMMAND, g_dialogResult.command, 0);
    }
    g_dialogOpen = 0;
}

static DWORD SwitchOn(LPCSTR name)
{
    DWORD value;
    return ReadSetting(name, &value) && value;
}

static void SetMenuCheck(HWND dialog, UINT id, DWORD on)
{
    CheckMenuItem(GetMenu(dialog), id, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
}

static void SelectCommand(HWND dialog, DWORD command)
{
    for (int i = 0; i < 7; ++i) {
        if (kCommandButtons[i] == command)
            CheckDlgButton(dialog, kCommandButtons[i], BST_CHECKED);
    }
}

static INT_PTR OnInitDialog(HWND dialog, DialogResult* record)
{
    g_dialogRecord = record;
    HINSTANCE module = GetModuleHandleA(NULL);
    SendMessageA(dialog, WM_SETICON, ICON_BIG, (LPARAM)LoadIconA(module, MAKEINTRESOURCEA(IDI_MAIN)));
    SendMessageA(dialog, WM_SETICON, ICON_SMALL, (LPARAM)LoadIconA(module, MAKEINTRESOURCEA(IDI_SMALL)));
    SetMenuCheck(dialog, IDM_SHOWTRAYICON, SwitchOn(kShowTrayIcon));
    SetMenuCheck(dialog, IDM_INTERCEPT, SwitchOn(kInterceptAllRestarts));
    DWORD command;
    if (!ReadSetting(kLastCommand, &command))
        command = IDC_QUICKRESTART;
    // A changed start-up file needs a real restart: the quick one is withdrawn.
    if (StartupFilesChanged(*record->baseline)) {
        EnableWindow(GetDlgItem(dialog, IDC_QUICKRESTART), FALSE);
        if (command == IDC_QUICKRESTART)
            command = IDC_FULLREBOOT;
    }
    SelectCommand(dialog, command);
    DWORD force;
    if (!ReadSetting(kLastForceSetting, &force))
        force = 0;
    CheckDlgButton(dialog, IDC_FORCE, force ? BST_CHECKED : BST_UNCHECKED);
    // FALSE: the dialog manager sets no initial focus.
    return FALSE;
}

static void Confirm(HWND dialog)
{
    DialogResult* record = g_dialogRecord;
    record->command = 0;
    for (int i = 0; i < 7; ++i) {
        if (IsDlgButtonChecked(dialog, kCommandButtons[i])) {
            record->command = kCommandButtons[i];
            break;
        }
    }
    record->force = IsDlgButtonChecked(dialog, IDC_FORCE) ? 1 : 0;
    WriteSetting(kLastCommand, record->command);
    WriteSetting(kLastForceSetting, (DWORD)record->force);
    EndDialog(dialog, 1);
}

static void ToggleInterceptSwitch(HWND dialog)
{
    DWORD value;
    if (ToggleSetting(kInterceptAllRestarts, &value))
        SetMenuCheck(dialog, IDM_INTERCEPT, value);
}

static void ToggleTrayIconSwitch(HWND dialog)
{
    DWORD value;
    if (!ToggleSetting(kShowTrayIcon, &value))
        return;
    if (value)
        AddTrayIcon(g_dialogRecord->mainWindow);
    else
        RemoveTrayIcon(g_dialogRecord->mainWindow);
    SetMenuCheck(dialog, IDM_SHOWTRAYICON, value);
}

static INT_PTR OnDialogCommand(HWND dialog, WORD id)
{
    switch (id) {
    case IDOK:             Confirm(dialog); return TRUE;
    case IDCANCEL:         EndDialog(dialog, 0); return TRUE;
    case IDM_EXIT:
        PostMessageA(g_dialogRecord->mainWindow, WM_CLOSE, 0, 0);
        EndDialog(dialog, 0);
        return TRUE;
    case IDM_HELP:         OpenHelp(); return TRUE;
    case IDM_ABOUT:        ShowAboutBox(dialog); return TRUE;
    case IDM_INTERCEPT:    ToggleInterceptSwitch(dialog); return TRUE;
    case IDM_SHOWTRAYICON: ToggleTrayIconSwitch(dialog); return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK CommandDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: return OnInitDialog(dialog, (DialogResult*)lParam);
    case WM_COMMAND:    return OnDialogCommand(dialog, LOWORD(wParam));
    }
    return FALSE;
}
