#include <windows.h>
#include "../res/resource.h"
#include "../settings/settings.h"
#include "app.h"
#include "globals.h"

LRESULT OnQueryEndSession(HWND window, LPARAM flags)
{
    // Tarnwick never refuses a session end of its own, and remembers that it
    // agreed: only then does a WM_ENDSESSION(FALSE) mean that it was called off.
    if (g_selfInitiated) {
        g_selfInitiated = 2;
        return TRUE;
    }
    DWORD intercept;
    if (!ReadSetting(kInterceptAllRestarts, &intercept) || !intercept)
        return TRUE;
    // A changed start-up file needs a real restart to take effect.
    if (StartupFilesChanged(g_startupBaseline))
        return TRUE;
    // A log-off, or any other flagged end, is never intercepted.
    if (flags)
        return TRUE;
    // Without the companion nothing could take the session end's place.
    if (!CompanionExists())
        return TRUE;
    // Windows 95 and 98 send no WM_ENDSESSION to the window that refused, so
    // the restart is posted now. Each refusal posts, so that one lost post
    // cannot leave a refusal without its restart; the first to arrive does
    // the work and the others find nothing pending.
    g_interceptPending = 1;
    PostMessageA(window, WM_APP_DEFERREDRESTART, 0, 0);
    return FALSE;
}

void OnEndSession(WPARAM ending)
{
    // The session really ends: the posted restart must not follow. A session
    // that goes on after Tarnwick agreed to its own end brings interception
    // back; one that goes on after a refusal (Wine and the NT family tell the
    // refusing window too) changes nothing, as the restart is posted already.
    if (ending)
        g_interceptPending = 0;
    else if (g_selfInitiated == 2)
        g_selfInitiated = 0;
}

void OnDeferredRestart()
{
    // Only a refusal still waiting starts a restart: not a second post, not
    // one from another program, not one after the session really ended, and
    // not one sent while the round waits, which would ask everyone again.
    if (!g_interceptPending || g_roundRunning)
        return;
    g_roundRunning = 1;
    QuickRestart(1, 1);
    g_roundRunning = 0;
    // Cleared only now: a query refused while the broadcast waits for the
    // other programs posts again, and that post must find nothing to do.
    g_interceptPending = 0;
}

void OnOwnEndOver()
{
    // RESTART.EXE says that Windows went on, perhaps before it ever asked
    // Tarnwick. From anyone else this can only turn interception back on.
    g_selfInitiated = 0;
}
