#include "fake_companion.h"
#include "fake_system.h"

FakeCompanion companion;

void ResetCompanion()
{
    companion.version = 0xC0000A04;
    companion.startFails = false;
    companion.waitResult = WAIT_OBJECT_0;
}

extern "C" {

DWORD WINAPI GetVersion(VOID) { return companion.version; }

BOOL WINAPI CreateProcessA(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                           BOOL, DWORD, LPVOID, LPCSTR, LPSTARTUPINFOA startup, LPPROCESS_INFORMATION started)
{
    sys.calls.push_back(std::string("CreateProcessA(") + (application ? application : "NULL") + ", \"" +
                        commandLine + "\", " + (startup->cb == sizeof *startup ? "startup" : "bad startup") + ")");
    if (companion.startFails)
        return FALSE;
    started->hProcess = (HANDLE)0x9001;
    started->hThread = (HANDLE)0x9002;
    sys.handles[started->hProcess] = "started process";
    sys.handles[started->hThread] = "started thread";
    return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds)
{
    auto found = sys.handles.find(handle);
    sys.calls.push_back("WaitForSingleObject(" + (found != sys.handles.end() ? found->second : "bad handle") + ", " +
                        std::to_string(milliseconds) + ")");
    return companion.waitResult;
}

}  // extern "C"
