#include <windows.h>
#include <tlhelp32.h>
#include "../common/text.h"
#include "restart.h"

const char* const kProtectedProcesses[6] = {
    "EXPLORER.EXE", "KERNEL32.DLL", "MMTASK.TSK", "MPREXE.EXE", "MSGSRV32.EXE", "TARNWICK.EXE",
};

// PROCESS_ALL_ACCESS as Windows 95 defines it; newer headers carry a larger value.
static const DWORD kProcessAllAccess = 0x1F0FFF;

// Windows 95 and 98 give the path in the case the module was loaded under,
// "mmtask.tsk" as well as "MSGSRV32.EXE", so the case of a name does not count.
int IsProtectedProcess(LPCSTR path)
{
    for (int i = 0; i < 6; ++i) {
        if (ContainsTextIgnoringCase(path, kProtectedProcesses[i]))
            return 1;
    }
    return 0;
}

// The program spares itself by its process id as well, so that a copy under
// another file name does not end itself before it acts.
static int IsSparedProcess(const PROCESSENTRY32* entry, DWORD self)
{
    return entry->th32ProcessID == self || IsProtectedProcess(entry->szExeFile);
}

void TerminateUnprotectedProcesses()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    DWORD self = GetCurrentProcessId();
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (IsSparedProcess(&entry, self))
            continue;
        HANDLE process = OpenProcess(kProcessAllAccess, FALSE, entry.th32ProcessID);
        if (!process)
            continue;
        TerminateProcess(process, 0);
        CloseHandle(process);
    }
    CloseHandle(snapshot);
}

void BroadcastEndSession()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    // Windows 95 and 98 refuse a null parent in EnumChildWindows; this
    // enumerates the same top-level windows on every version.
    EnumWindows(EndSessionEnumProc, (LPARAM)snapshot);
    CloseHandle(snapshot);
}

BOOL CALLBACK EndSessionEnumProc(HWND window, LPARAM snapshot)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    DWORD self = GetCurrentProcessId();
    if (!processId || processId == self)
        return TRUE;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    BOOL found = Process32First((HANDLE)snapshot, &entry);
    while (found && entry.th32ProcessID != processId)
        found = Process32Next((HANDLE)snapshot, &entry);
    if (!found || IsSparedProcess(&entry, self))
        return TRUE;
    // The replies do not count: the session ends for every application.
    SendMessageA(window, WM_QUERYENDSESSION, 0, 0);
    SendMessageA(window, WM_ENDSESSION, TRUE, 0);
    return TRUE;
}
