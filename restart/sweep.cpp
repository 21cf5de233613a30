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

// Opens, one after another, each process of a new snapshot that may be
// ended, and hands it with its id to `use` (a process that cannot be opened
// as NULL) until `use` returns 0. Returns 0 when the snapshot could not be
// taken (Windows 9x takes it from the shared heap, which can run out) or
// `use` stopped the walk.
static int ForEachEndableProcess(int (*use)(DWORD, HANDLE, void*), void* context)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    DWORD self = GetCurrentProcessId();
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    int going = 1;
    for (BOOL more = Process32First(snapshot, &entry); more && going; more = Process32Next(snapshot, &entry)) {
        if (!IsSparedProcess(&entry, self))
            going = use(entry.th32ProcessID, OpenProcess(kProcessAllAccess, FALSE, entry.th32ProcessID), context);
    }
    CloseHandle(snapshot);
    return going;
}

static int EndProcess(DWORD, HANDLE process, void*)
{
    if (process) {
        TerminateProcess(process, 0);
        CloseHandle(process);
    }
    return 1;
}

void TerminateUnprotectedProcesses()
{
    ForEachEndableProcess(EndProcess, NULL);
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

// Whether the window still belongs to the process: Windows 9x hands a freed
// window handle on at once, to any program.
static int IsWindowOf(HWND window, DWORD processId)
{
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    return owner == processId;
}

// How a window answered: a Cancel, a yes, or silence taken for a yes.
enum { kRefused, kAgreed, kSilent };

// One session-end message to one window of the process. A program that is
// hung when asked, or never answers, agrees only if it showed nothing then
// and shows nothing now: one that put up its own question meanwhile has a
// person to answer it. A window gone meanwhile has no program left to lose.
static int SendEndSessionMessage(HWND window, UINT message, WPARAM wParam, DWORD processId)
{
    BOOL watched = IsWatchedWindow(window);
    DWORD_PTR answer;
    if (SendMessageTimeoutA(window, message, wParam, 0, SMTO_ABORTIFHUNG,
                            watched ? kShownWindowWait : kHiddenWindowWait, &answer))
        return answer ? kAgreed : kRefused;
    if (!IsWindowOf(window, processId))
        return kAgreed;
    return !watched && !IsWatchedWindow(window) ? kSilent : kRefused;
}

// One end-session round: the processes it holds, which alone it asks, tells
// and ends, and the windows that agreed, in the order they were asked.
struct EndSessionRound {
    int refused;
    int processCount;
    DWORD processId[kMaxRoundProcesses];
    HANDLE process[kMaxRoundProcesses];  // NULL: could not be opened, so is never ended
    int agreedCount;
    HWND agreed[kMaxAgreedWindows];
    // Index into the processes above, with kSilently where silence was taken for a yes.
    BYTE agreedHow[kMaxAgreedWindows];
};
static const BYTE kSilently = 0x80;

// Holds the process until the round is over: Windows 9x hands the id of a
// process that has ended on at once, but not while a handle to it is open.
// A round that cannot hold one more process could not tell it from a new one.
static int HoldProcess(DWORD processId, HANDLE process, void* parameter)
{
    EndSessionRound* round = (EndSessionRound*)parameter;
    if (round->processCount == kMaxRoundProcesses) {
        if (process)
            CloseHandle(process);
        return 0;
    }
    round->processId[round->processCount] = processId;
    round->process[round->processCount++] = process;
    return 1;
}

// The round's index of the process that owns the window, or -1.
static int RoundProcessOf(HWND window, const EndSessionRound* round)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    for (int i = 0; processId && i < round->processCount; ++i) {
        if (round->processId[i] == processId)
            return i;
    }
    return -1;
}

static BOOL CALLBACK EndSessionEnumProc(HWND window, LPARAM parameter)
{
    EndSessionRound* round = (EndSessionRound*)parameter;
    int process = RoundProcessOf(window, round);
    if (process < 0)
        return TRUE;
    // A window that could not be remembered could not be told that the end
    // was called off, so it is not asked: the round ends as if refused.
    int answer = kRefused;
    if (round->agreedCount < kMaxAgreedWindows)
        answer = SendEndSessionMessage(window, WM_QUERYENDSESSION, 0, round->processId[process]);
    if (answer == kRefused) {
        round->refused = 1;
        return FALSE;
    }
    round->agreed[round->agreedCount] = window;
    round->agreedHow[round->agreedCount++] = (BYTE)(answer == kSilent ? process | kSilently : process);
    return TRUE;
}

// The process that agreed window `i` of the round was asked as.
static DWORD AgreedProcessId(const EndSessionRound* round, int i)
{
    return round->processId[round->agreedHow[i] & ~kSilently];
}

// Whether a program that agreed by its silence shows a window now: a tray
// program busy when asked puts its question up later, while others answer.
static int ShowsLateQuestion(const EndSessionRound* round)
{
    for (int i = 0; i < round->agreedCount; ++i) {
        if ((round->agreedHow[i] & kSilently) && IsWindowOf(round->agreed[i], AgreedProcessId(round, i)) &&
            IsWatchedWindow(round->agreed[i]))
            return 1;
    }
    return 0;
}

int BroadcastEndSession()
{
    EndSessionRound round;
    round.processCount = 0;
    round.agreedCount = 0;
    // A round that cannot see or hold who runs asks nobody and ends nothing.
    round.refused = !ForEachEndableProcess(HoldProcess, &round);
    // Windows 95 and 98 refuse a null parent in EnumChildWindows; this
    // enumerates the same top-level windows on every version. A failed
    // enumeration counts as a refusal: the windows it missed were not asked.
    if (!round.refused && (!EnumWindows(EndSessionEnumProc, (LPARAM)&round) || ShowsLateQuestion(&round)))
        round.refused = 1;
    // As Windows' own session end does: the outcome goes to every window that
    // agreed, and only to those, while they still belong to their program.
    for (int i = 0; i < round.agreedCount; ++i) {
        DWORD processId = AgreedProcessId(&round, i);
        if (IsWindowOf(round.agreed[i], processId))
            SendEndSessionMessage(round.agreed[i], WM_ENDSESSION, !round.refused, processId);
    }
    // After agreement, only the programs held that still run are ended: not
    // one that has quit, nor one started while the round waited.
    for (int i = 0; i < round.processCount; ++i) {
        DWORD code;
        if (!round.process[i])
            continue;
        if (!round.refused && GetExitCodeProcess(round.process[i], &code) && code == STILL_ACTIVE)
            TerminateProcess(round.process[i], 0);
        CloseHandle(round.process[i]);
    }
    return !round.refused;
}
