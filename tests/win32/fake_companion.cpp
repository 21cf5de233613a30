#include "fake_companion.h"
#include "fake_system.h"

FakeCompanion companion;

void ResetCompanion()
{
    companion.version = 0xC0000A04;
    companion.startFails = false;
    companion.runsOn = false;
    companion.waitResult = WAIT_OBJECT_0;
}

static const HANDLE kStarted = (HANDLE)0x9001;
static const HANDLE kStartedThread = (HANDLE)0x9002;
static const DWORD kStartedId = 900;

extern "C" {

DWORD WINAPI GetVersion(VOID) { return companion.version; }

// The program started is a process of the simulated system, gone at once
// unless it runs on, so that GetExitCodeProcess tells which.
BOOL WINAPI CreateProcessA(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                           BOOL, DWORD, LPVOID, LPCSTR, LPSTARTUPINFOA startup, LPPROCESS_INFORMATION started)
{
    sys.calls.push_back(std::string("CreateProcessA(") + (application ? application : "NULL") + ", \"" +
                        commandLine + "\", " + (startup->cb == sizeof *startup ? "startup" : "bad startup") + ")");
    if (companion.startFails)
        return FALSE;
    AddProcess(kStartedId, commandLine);
    started->hProcess = kStarted;
    started->hThread = kStartedThread;
    sys.handles[kStarted] = "process " + std::to_string(kStartedId) + " " + std::to_string(sys.processes.back().serial);
    sys.handles[kStartedThread] = "thread";
    if (!companion.runsOn)
        QuitProcess(kStartedId);
    return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds)
{
    sys.calls.push_back(std::string("WaitForSingleObject(") + (handle == kStarted ? "started" : "bad handle") + ", " +
                        std::to_string(milliseconds) + ")");
    return companion.waitResult;
}

}  // extern "C"
