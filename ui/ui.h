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

void OnTrayNotify(HWND window, LPARAM mouseMessage);
void OnContextMenu(HWND window, LPARAM point);
void OnRefreshTray(HWND window);
void OnMenuCommand(HWND window, WORD id);
// Help\index.html below the program's folder or, where only it is missing
// and Help\INDEX.HTM is there, that one.
void OpenHelp();

void OnShowDialog(HWND window);
INT_PTR CALLBACK CommandDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

void ShowAboutBox(HWND owner);
