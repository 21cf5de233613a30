#include <windows.h>
#include "../common/text.h"
#include "../res/resource.h"
#include "app.h"
#include "globals.h"

static const char kRestartProgram[] = "Restart.exe";
static const char kLogOffSwitch[] = "/logoff";
static const char kExitToDosFile[] = "Exit To Dos.pif";

// The mark is set before the start, so that a question that comes while it
// runs is allowed, and taken back when nothing was started.
static void OwnLaunch(LPCSTR path, LPCSTR parameters)
{
    g_selfInitiated = 1;
    if (!LaunchFile(path, parameters))
        g_selfInitiated = 0;
}

static void OwnExit(UINT flags)
{
    g_selfInitiated = 1;
    if (!ExitWindowsEx(flags, 0))
        g_selfInitiated = 0;
}

int CompanionExists()
{
    return LaunchableFileExists(kRestartProgram);
}

void QuickRestart(LONG force, int askFirst)
{
    // The sweep comes first so that it cannot take the launched companion
    // with it, and only when the companion is there to restart at all.
    if (force && CompanionExists()) {
        // A program's Cancel stops the restart, as it stops Windows' own.
        if (!askFirst)
            TerminateUnprotectedProcesses();
        else if (!BroadcastEndSession())
            return;
    }
    OwnLaunch(kRestartProgram, NULL);
}

static void EndSession(UINT flags, LONG force)
{
    OwnExit(force ? flags | EWX_FORCE : flags);
}

// Windows 95 neither asks nor ends the program that calls
// ExitWindowsEx(EWX_LOGOFF), so the companion logs off for it and Tarnwick
// ends with the others. Windows 95 and 98 fail a forced log-off (programs
// gone, the desktop left behind), so forcing ends the programs first.
static void LogOff(LONG force)
{
    if (force)
        TerminateUnprotectedProcesses();
    if (CompanionExists())
        OwnLaunch(kRestartProgram, kLogOffSwitch);
    else
        OwnExit(EWX_LOGOFF);
}

static void ExitToDos(LONG force)
{
    char path[MAX_PATH + 1];
    // A folder that cannot be read, or is too long for the name, opens nothing.
    int fits = WindowsFilePath(path, sizeof path, kExitToDosFile);
    // No sweep where there is no MS-DOS mode to restart into (Windows Me, a
    // deleted PIF): it would end every program for nothing.
    if (force && fits && FileExists(path))
        TerminateUnprotectedProcesses();
    if (fits)
        OwnLaunch(path, NULL);
}

int OnCommand(HWND window, WORD id)
{
    SetFocus(window);
    LONG force = g_commandFromDialog ? g_dialogResult.force
                                     : (LONG)(GetAsyncKeyState(VK_SHIFT) & 0x8000);
    g_commandFromDialog = 0;
    switch (id) {
    case IDC_QUICKRESTART: QuickRestart(force, 0); return 1;
    case IDC_FULLREBOOT:   EndSession(EWX_REBOOT, force); return 1;
    case IDC_LOGOFF:       LogOff(force); return 1;
    case IDC_EXITTODOS:    ExitToDos(force); return 1;
    case IDC_SHUTDOWN:     EndSession(EWX_SHUTDOWN, force); return 1;
    case IDC_SCREENSAVER:
        Sleep(1000);
        DefWindowProcA(window, WM_SYSCOMMAND, SC_SCREENSAVE, 0);
        return 1;
    case IDC_SUSPEND:
        Sleep(1000);
        SetSystemPowerState(FALSE, force ? TRUE : FALSE);
        return 1;
    }
    OnMenuCommand(window, id);
    return 0;
}
