#pragma once
#include <windows.h>

// The two ways RESTART.EXE can end the session.
#define RESTART_WINDOWS 1   // Windows 95/98: restart Windows, not the PC
#define RESTART_REBOOT  2   // everywhere else: a full reboot

// What the restart sends RUNDLL.EXE, behind the Windows folder.
extern const char kRestartCommand[];

// Picks the way for the version word that GetVersion returned.
int ChooseRestartPath(DWORD version);
// What came of Windows' own restart.
#define RESTART_NOT_STARTED 0  // RUNDLL.EXE could not be started
#define RESTART_GOES_ON     1  // started, and not known to be refused
#define RESTART_REFUSED     2  // a program refused it, and Windows goes on

// Runs Windows' own 16-bit RUNDLL.EXE on USER.EXE's ExitWindowsExec and
// waits for it.
int RunWindowsRestart();
// Asks for a full reboot; 1 when the system took the request.
int RequestReboot();
// The whole program, for the command-line tail. No switch (a blank tail):
// the quick restart, 0 when it was started or the reboot was taken, else 1.
// "/logoff", A to Z in any case: a plain log-off, 0 when the system took it,
// else 1. After a 1 the running Tarnwick is told that Windows goes on.
// Anything else: nothing at all, 2.
int RestartMain(LPCSTR tail);
// The process's entry point: RestartMain on the tail of GetCommandLineA, then
// ExitProcess with its result.
extern "C" void RestartEntry();
