#include <windows.h>
#include "../res/resource.h"
#include "../settings/settings.h"
#include "app.h"
#include "globals.h"

const char kMainClassName[] = MAIN_CLASS_NAME;
const char kMainTitle[] = MAIN_TITLE;

// A second start hands its request to the running instance and ends.
static void HandOver(HWND running, int initStart)
{
    if (initStart) {
        PostMessageA(running, WM_APP_REFRESHTRAY, 0, 0);
    } else {
        SetForegroundWindow(running);
        PostMessageA(running, WM_APP_SHOWDIALOG, 0, 0);
    }
}

static ATOM RegisterMainClass(HINSTANCE instance)
{
    WNDCLASSEXA windowClass;
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWndProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_MAIN));
    windowClass.hCursor = LoadCursorA(NULL, IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)GetStockObject(LTGRAY_BRUSH);
    windowClass.lpszMenuName = NULL;
    windowClass.lpszClassName = kMainClassName;
    windowClass.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(IDI_SMALL));
    return RegisterClassExA(&windowClass);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR tail, int)
{
    HWND running = FindWindowA(kMainClassName, kMainTitle);
    int initStart = lstrcmpiA(tail, "/init") == 0;
    if (running) {
        HandOver(running, initStart);
        return 0;
    }
    if (!RegisterMainClass(instance)) {
        MessageBeep(MB_OK);
        return 1;
    }
    // The window is never shown: it only receives messages.
    if (!CreateWindowExA(WS_EX_OVERLAPPEDWINDOW, kMainClassName, kMainTitle,
                         WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT,
                         CW_USEDEFAULT, CW_USEDEFAULT, NULL, NULL, instance,
                         (LPVOID)(INT_PTR)initStart))
        return 1;
    MSG message;
    // GetMessageA returns -1 on an error; that must end the loop, not spin it.
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}

static LRESULT OnCreate(HWND window, const CREATESTRUCTA* creation)
{
    g_hInstance = creation->hInstance;
    TakeStartupBaseline();
    DWORD showIcon;
    if (ReadSetting(kShowTrayIcon, &showIcon) && showIcon)
        AddTrayIcon(window);
    if (!creation->lpCreateParams)
        PostMessageA(window, WM_APP_SHOWDIALOG, 0, 0);
    return 0;
}

static void OnClose(HWND window)
{
    RemoveTrayIcon(window);
    PostQuitMessage(0);
}

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:              return OnCreate(window, (const CREATESTRUCTA*)lParam);
    case WM_CLOSE:               OnClose(window); break;
    case WM_QUERYENDSESSION:     return OnQueryEndSession(window, lParam);
    case WM_ENDSESSION:          OnEndSession(wParam); return 0;
    case WM_CONTEXTMENU:         OnContextMenu(window, lParam); break;
    case WM_COMMAND:             if (OnCommand(window, LOWORD(wParam))) return 0; break;
    case WM_APP_SHOWDIALOG:      OnShowDialog(window); break;
    case WM_APP_TRAYNOTIFY:      OnTrayNotify(window, lParam); break;
    case WM_APP_REFRESHTRAY:     OnRefreshTray(window); return 0;
    case WM_APP_DEFERREDRESTART: OnDeferredRestart(); return 0;
    case WM_APP_OWNENDOVER:      OnOwnEndOver(); return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
