#pragma once

// Dialog
#define IDD_COMMANDDIALOG       101

// Menus
#define IDR_TRAYMENU            108
#define IDR_DIALOGMENU          110

// Icons
#define IDI_SMALL               112
#define IDI_MAIN                113

// Session commands: dialog radio buttons, tray menu items and WM_COMMAND codes
#define IDC_QUICKRESTART        1000
#define IDC_FULLREBOOT          1001
#define IDC_LOGOFF              1002
#define IDC_EXITTODOS           1003
#define IDC_SHUTDOWN            1004
#define IDC_SCREENSAVER         1006
#define IDC_SUSPEND             1007

// Dialog controls
#define IDC_FORCE               1009

// Menu commands
#define IDM_EXIT                40001
#define IDM_HELP                40002
#define IDM_ABOUT               40003
#define IDM_DISABLETRAYICON     40004
#define IDM_INTERCEPT           40005
#define IDM_SHOWTRAYICON        40007

// Private messages to the main window (WM_APP and up)
#define WM_APP_SHOWDIALOG       0x8000
#define WM_APP_TRAYNOTIFY       0x8001
#define WM_APP_REFRESHTRAY      0x8002
#define WM_APP_DEFERREDRESTART  0x8003
// From RESTART.EXE: the session end that Tarnwick started is over, Windows goes on.
#define WM_APP_OWNENDOVER       0x8004

// The main window's class and title, by which a second start and RESTART.EXE find it.
#define MAIN_CLASS_NAME         "TarnwickMainWindowClass"
#define MAIN_TITLE              "Tarnwick"
