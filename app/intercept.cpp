#include <windows.h>
#include "../res/resource.h"
#include "../settings/settings.h"
#include "app.h"
#include "globals.h"

LRESULT OnQueryEndSession(LPARAM flags)
{
    DWORD intercept;
    if (!ReadSetting(kInterceptAllRestarts, &intercept) || !intercept)
        return TRUE;
    if (g_selfInitiated)
        return TRUE;
    // A changed start-up file needs a real restart to take effect.
    if (StartupFilesChanged(g_startupBaseline))
        return TRUE;
    // A log-off, or any other flagged end, is never intercepted.
    if (flags)
        return TRUE;
    g_interceptPending = 1;
    return FALSE;
}

void OnEndSession(HWND window, WPARAM ending)
{
    if (!g_interceptPending)
        return;
    g_interceptPending = 0;
    // Posted, not run here: the system's end-session handling must finish first.
    if (!ending)
        PostMessageA(window, WM_APP_DEFERREDRESTART, 0, 0);
}

void OnDeferredRestart()
{
    BroadcastEndSession();
    QuickRestart(1);
}
