// RESTART.EXE, the companion that Tarnwick starts for a quick restart, and
// for a log-off with "/logoff".
//
// With no switch, on Windows 95/98 it restarts Windows without rebooting the PC, as holding
// Shift while choosing "Restart" in the shut-down box does. The 32-bit
// ExitWindowsEx has no flag for that: only the 16-bit USER functions
// ExitWindows(EW_RESTARTWINDOWS) and ExitWindowsExec restart Windows alone.
// A 32-bit program reaches them most simply through Windows' own 16-bit
// RUNDLL.EXE, which loads USER.EXE and calls the function named on its
// command line: that needs no 16-bit code of ours and no hand-made thunk
// (the Windows 95 KERNEL32 refuses GetProcAddress by ordinal, which the thunk
// would need). RUNDLL.EXE is started by its full path in the Windows folder so
// that a file of that name in Tarnwick's folder, our working folder, is never
// taken instead.
//
// Where that way is closed it falls back to a full reboot with ExitWindowsEx:
// on the Windows NT family and on Wine, which report themselves as NT by
// default (there the reboot ends the Wine session only), and on Windows 95/98
// when RUNDLL.EXE cannot be started. Once RUNDLL.EXE runs, what happens next is
// Windows' business: if an application refuses to end its session, the
// restart stops there and nothing is forced in its place. RESTART.EXE waits
// for RUNDLL.EXE to learn of that refusal, as it learns of a refused log-off
// or reboot from ExitWindowsEx, and tells the running Tarnwick, which may
// never have been asked and would otherwise stop intercepting for good.
//
// The NT family only reboots for a process that has enabled its shutdown
// privilege. That takes OpenProcessToken, LookupPrivilegeValueA and
// AdjustTokenPrivileges; nothing at hand shows for certain that the first
// Windows 95 release exports them, and a missing import keeps a program from
// loading at all. The companion is made for Windows 95/98, which know no
// privileges, and Wine, which asks for none, so it does without them: on a
// real NT system its reboot is refused.
//
// "/logoff" exists because Windows 95 neither asks nor ends the program that
// calls ExitWindowsEx(EWX_LOGOFF): from the companion, Tarnwick is asked and
// ended like any other program. The log-off is never forced: Windows 95/98
// fail a forced one, ending the programs and leaving the password box over a
// desktop that is still there. Any other tail, such as "/?" typed at an MS-DOS
// prompt, does nothing at all: an unknown switch must never restart Windows.
#include <windows.h>
#include "restart.h"
#include "../common/text.h"
#include "../res/resource.h"

const char kRestartCommand[] = "RUNDLL.EXE USER.EXE,ExitWindowsExec";

int ChooseRestartPath(DWORD version)
{
    // GetVersion sets the top bit on Windows 95/98 and clears it on the NT family.
    return (version & 0x80000000u) ? RESTART_WINDOWS : RESTART_REBOOT;
}

int RunWindowsRestart()
{
    char command[MAX_PATH + 1 + sizeof kRestartCommand];
    if (!WindowsFilePath(command, sizeof command, kRestartCommand))
        return RESTART_NOT_STARTED;
    STARTUPINFOA startup = {};
    PROCESS_INFORMATION started;
    startup.cb = sizeof startup;
    // A 16-bit program is named in the command line alone.
    if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &started))
        return RESTART_NOT_STARTED;
    CloseHandle(started.hThread);
    // On Windows 95/98, ExitWindowsExec returns only when a program refused
    // the restart: had it gone on, nothing would be left running to return
    // to. A KERNEL32 built on NTDLL (the NT family, and Wine whatever version
    // it reports) may return while the end goes on, so there it proves nothing.
    // Nor does a wait that ends while RUNDLL.EXE still runs: told too early,
    // Tarnwick would refuse the very restart it asked for.
    DWORD code = STILL_ACTIVE;
    BOOL ended = WaitForSingleObject(started.hProcess, INFINITE) == WAIT_OBJECT_0 &&
                 GetExitCodeProcess(started.hProcess, &code) && code != STILL_ACTIVE;
    CloseHandle(started.hProcess);
    return ended && !GetModuleHandleA("NTDLL.DLL") ? RESTART_REFUSED : RESTART_GOES_ON;
}

int RequestReboot()
{
    return ExitWindowsEx(EWX_REBOOT, 0) != 0;
}

// Tells the running Tarnwick that the end it started is over, so that it
// intercepts again. Without it, the message goes to this thread's own queue.
static void TellSessionGoesOn()
{
    PostMessageA(FindWindowA(MAIN_CLASS_NAME, MAIN_TITLE), WM_APP_OWNENDOVER, 0, 0);
}

// Whether the tail is `name`, A to Z in any case, and blanks after it at most;
// an empty `name` asks whether the tail is blank.
static int IsSwitch(LPCSTR tail, const char* name)
{
    DWORD length = FoldedPrefix(tail, name);
    if (name[length])
        return 0;
    const unsigned char* rest = (const unsigned char*)tail + length;
    while (*rest && *rest <= ' ')
        ++rest;
    return !*rest;
}

static int QuickRestart()
{
    if (ChooseRestartPath(GetVersion()) == RESTART_WINDOWS) {
        int restart = RunWindowsRestart();
        if (restart != RESTART_NOT_STARTED)
            return restart == RESTART_REFUSED;
    }
    return !RequestReboot();
}

int RestartMain(LPCSTR tail)
{
    int refused;
    if (IsSwitch(tail, "/logoff"))
        refused = !ExitWindowsEx(EWX_LOGOFF, 0);
    else if (IsSwitch(tail, ""))
        refused = QuickRestart();
    else
        return 2;
    if (refused)
        TellSessionGoesOn();
    return refused;
}

// The process starts here (the link names it with -e); there is no C runtime
// to compute the arguments.
extern "C" void RestartEntry()
{
    ExitProcess(RestartMain(CommandLineTail(GetCommandLineA())));
}
