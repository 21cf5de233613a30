// The simulated system's answers to the calls that only RESTART.EXE makes.
// Its calls with effects go into the one log of fake_system.h.
#pragma once
#include <windows.h>

struct FakeCompanion {
    DWORD version;       // what GetVersion reports
    UINT winExecResult;  // what WinExec answers: above 31 when the program started
};

extern FakeCompanion companion;

// Windows 98 (4.10.1998), on which WinExec starts whatever it is given.
void ResetCompanion();
