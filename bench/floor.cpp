// The floor that the benchmark holds TARNWICK.EXE against: the same compiler
// flags, the same entry code (app/entry.cpp) and the same hidden window, but
// nothing else: no settings, no start-up files, no icons, no tray, no shell.
// What TARNWICK.EXE costs beyond this is the price of its own work.
#include <windows.h>

static const char kFloorClassName[] = "TarnwickFloorWindowClass";
static const char kFloorTitle[] = "Tarnwick floor";

static LRESULT CALLBACK FloorWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CLOSE)
        PostQuitMessage(0);
    return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR tail, int)
{
    // A start with an argument is a second start: like the program it finds
    // the running copy by class and title, hands one message over and ends.
    // Without one the floor does no lookup at all.
    if (*tail) {
        HWND running = FindWindowA(kFloorClassName, kFloorTitle);
        if (running) {
            PostMessageA(running, WM_NULL, 0, 0);
            return 0;
        }
    }
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = FloorWndProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kFloorClassName;
    if (!RegisterClassExA(&windowClass))
        return 1;
    // Created exactly as the program creates its window, and never shown.
    if (!CreateWindowExA(WS_EX_OVERLAPPEDWINDOW, kFloorClassName, kFloorTitle,
                         WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT,
                         CW_USEDEFAULT, CW_USEDEFAULT, NULL, NULL, instance, NULL))
        return 1;
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
