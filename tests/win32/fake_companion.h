// The simulated system's answers to the calls that only RESTART.EXE makes.
// Its calls with effects go into the one log of fake_system.h.
#pragma once
#include <windows.h>

struct FakeCompanion {
    DWORD version;       // what GetVersion reports
    bool startFails;     // CreateProcessA cannot start the program
    bool runsOn;         // the program started is still running when the wait ends
    DWORD waitResult;    // what WaitForSingleObject answers: WAIT_OBJECT_0 when the program ended
};

extern FakeCompanion companion;

// Windows 98 (4.10.1998), on which CreateProcessA starts whatever it is
// given, and the program started returns: the restart was refused.
void ResetCompanion();
