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

// A hidden window gets this long to answer: nobody can be reading a prompt of
// its, and some never read their queue at all (OLE's hidden RPC windows).
static const UINT kHiddenWindowWait = 5000;

// One session-end message to one window. A window someone can see is waited
// for as long as it takes, as a person may be reading its question; a hidden
// one for a few seconds, and its silence counts as agreement.
static LRESULT SendEndSessionMessage(HWND window, UINT message, WPARAM wParam)
{
    if (IsWindowVisible(window))
        return SendMessageA(window, message, wParam, 0);
    DWORD_PTR answer;
    if (!SendMessageTimeoutA(window, message, wParam, 0, SMTO_ABORTIFHUNG, kHiddenWindowWait, &answer))
        return TRUE;
    return answer;
}

// One end-session round: the process snapshot that decides whose windows are
// asked, and the windows that agreed, in the order they were asked.
struct EndSessionRound {
    HANDLE snapshot;
    DWORD self;
    int refused;
    int agreedCount;
    HWND agreed[kMaxAgreedWindows];
};

// Whether the window belongs to a process of the snapshot that may be ended.
static int IsEndableWindow(HWND window, const EndSessionRound* round)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (!processId || processId == round->self)
        return 0;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    BOOL found = Process32First(round->snapshot, &entry);
    while (found && entry.th32ProcessID != processId)
        found = Process32Next(round->snapshot, &entry);
    return found && !IsSparedProcess(&entry, round->self);
}

static BOOL CALLBACK EndSessionEnumProc(HWND window, LPARAM parameter)
{
    EndSessionRound* round = (EndSessionRound*)parameter;
    if (!IsEndableWindow(window, round))
        return TRUE;
    // A window that could not be remembered could not be told that the end
    // was called off, so it is not asked: the round ends as if refused.
    if (round->agreedCount == kMaxAgreedWindows || !SendEndSessionMessage(window, WM_QUERYENDSESSION, 0)) {
        round->refused = 1;
        return FALSE;
    }
    round->agreed[round->agreedCount++] = window;
    return TRUE;
}

int BroadcastEndSession()
{
    EndSessionRound round;
    round.snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    round.self = GetCurrentProcessId();
    round.agreedCount = 0;
    round.refused = 0;
    // Windows 95 and 98 refuse a null parent in EnumChildWindows; this
    // enumerates the same top-level windows on every version.
    EnumWindows(EndSessionEnumProc, (LPARAM)&round);
    CloseHandle(round.snapshot);
    // As Windows' own session end does: the outcome goes to every window that
    // agreed, and only to those; the one that refused has its answer.
    for (int i = 0; i < round.agreedCount; ++i)
        SendEndSessionMessage(round.agreed[i], WM_ENDSESSION, !round.refused);
    return !round.refused;
}
