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

// The snapshot's entry for the process id into `entry`; 0 when it lists none.
static BOOL FindProcess(HANDLE snapshot, DWORD processId, PROCESSENTRY32* entry)
{
    entry->dwSize = sizeof *entry;
    BOOL found = Process32First(snapshot, entry);
    while (found && entry->th32ProcessID != processId)
        found = Process32Next(snapshot, entry);
    return found;
}

static int SameText(const char* a, const char* b)
{
    while (*a && *a == *b)
        ++a, ++b;
    return *a == *b;
}

// Ends every unprotected process; after a round, only those that its
// snapshot `asked` lists under the same id and file: a program started while
// the round waited was never asked, and Windows 9x hands a freed id on at once.
static void EndProcesses(HANDLE asked)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    DWORD self = GetCurrentProcessId();
    PROCESSENTRY32 entry;
    PROCESSENTRY32 then;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (IsSparedProcess(&entry, self))
            continue;
        if (asked && !(FindProcess(asked, entry.th32ProcessID, &then) && SameText(then.szExeFile, entry.szExeFile)))
            continue;
        HANDLE process = OpenProcess(kProcessAllAccess, FALSE, entry.th32ProcessID);
        if (!process)
            continue;
        TerminateProcess(process, 0);
        CloseHandle(process);
    }
    CloseHandle(snapshot);
}

void TerminateUnprotectedProcesses()
{
    EndProcesses(NULL);
}

// A hidden window whose program shows nothing gets this long: nobody can be
// reading a prompt of its, and some never read their queue (OLE's RPC windows).
static const UINT kHiddenWindowWait = 5000;
// Any other window as long as a person may take over its prompt: a day, far
// from where a 32-bit tick count wraps.
static const UINT kShownWindowWait = 86400000;

static BOOL CALLBACK FindShownWindow(HWND window, LPARAM shown)
{
    *(BOOL*)shown = IsWindowVisible(window);
    return !*(BOOL*)shown;
}

// Whether a person may be reading the window's question: it is on the screen,
// or its thread shows a window, as a program's does whose hidden main window
// owns the visible ones or puts up its "Save changes?" box.
static BOOL IsWatchedWindow(HWND window)
{
    BOOL shown = IsWindowVisible(window);
    if (!shown)
        EnumThreadWindows(GetWindowThreadProcessId(window, NULL), FindShownWindow, (LPARAM)&shown);
    return shown;
}

// One session-end message to one window. A program that is hung when asked,
// or never answers, agrees if it shows nothing and cancels if it shows a
// window: its silence must not lose what a person sees.
static LRESULT SendEndSessionMessage(HWND window, UINT message, WPARAM wParam)
{
    BOOL watched = IsWatchedWindow(window);
    DWORD_PTR answer;
    if (!SendMessageTimeoutA(window, message, wParam, 0, SMTO_ABORTIFHUNG,
                             watched ? kShownWindowWait : kHiddenWindowWait, &answer))
        return !watched;
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
    return FindProcess(round->snapshot, processId, &entry) && !IsSparedProcess(&entry, round->self);
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
    // Windows 9x takes the snapshot from the shared heap, which can run out:
    // a round that cannot see who runs asks nobody and ends nothing.
    round.snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (round.snapshot == INVALID_HANDLE_VALUE)
        return 0;
    round.self = GetCurrentProcessId();
    round.agreedCount = 0;
    round.refused = 0;
    // Windows 95 and 98 refuse a null parent in EnumChildWindows; this
    // enumerates the same top-level windows on every version. A failed
    // enumeration counts as a refusal: the windows it missed were not asked.
    if (!EnumWindows(EndSessionEnumProc, (LPARAM)&round))
        round.refused = 1;
    // As Windows' own session end does: the outcome goes to every window that
    // agreed, and only to those; the one that refused has its answer.
    for (int i = 0; i < round.agreedCount; ++i)
        SendEndSessionMessage(round.agreed[i], WM_ENDSESSION, !round.refused);
    if (!round.refused)
        EndProcesses(round.snapshot);
    CloseHandle(round.snapshot);
    return !round.refused;
}
