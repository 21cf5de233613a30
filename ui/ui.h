#pragma once
#include <windows.h>
#include "../restart/restart.h"

// What the command dialog hands to the main window.
struct DialogResult {
    WORD command;
    LONG force;
    const StartupFileBaseline* baseline;
    HWND mainWindow;
};

extern const char kHelpFile[];

void OnTrayNotify(HWND window, LPARAM mouseMessage);
void OnContextMenu(HWND window, LPARAM point);
void OnRefreshTray(HWND window);
void OnMenuCommand(HWND window, WORD id);

void OnShowDialog(HWND window);
INT_PTR CALLBACK CommandDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

void ShowAboutBox(HWND owner);
