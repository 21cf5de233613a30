/* Test probe for the Wine scenarios: runs inside the Wine prefix next to
 * TARNWICK.EXE, looks at it from outside and reports what it sees.
 *
 *   probe.exe [--out FILE] COMMAND ARGS... [+ COMMAND ARGS...]...
 *
 * Results are "key=value" lines written to FILE (a Wine program's stdout read
 * through a pipe only reaches its end once every process it started has
 * exited, so the harness always reads a file). Several commands may be chained
 * with "+" to save process starts; the exit code is the highest of theirs:
 * 0 done, 1 the thing waited for did not happen in time, 2 bad arguments or a
 * failed system call.
 *
 * A window argument is a handle in decimal or 0x hex, or "main" for the
 * running instance's main window (class and title lookup).
 */
#define _WIN32_WINNT 0x0501
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>
/* GetProcessMemoryInfo from KERNEL32 (K32GetProcessMemoryInfo), not PSAPI. */
#define PSAPI_VERSION 2
#include <psapi.h>
#include <winternl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define MAIN_CLASS "TarnwickMainWindowClass"
#define MAIN_TITLE "Tarnwick"
#define SETTINGS_KEY "Software\\Quennard\\Tarnwick"
#define HELPER_CLASS "TarnwickTestHelper"
#define POLL_MS 25

static FILE *g_out;

/* One line to `out`, flushed at once: the lines are read while the probe
 * still runs, and a helper may be terminated at any moment. */
static void WriteLine(FILE *out, const char *format, va_list args)
{
    vfprintf(out, format, args);
    fputc('\n', out);
    fflush(out);
}

static void Say(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    WriteLine(g_out, format, args);
    va_end(args);
}

static int Fail(const char *what)
{
    Say("error=%s code=%lu", what, (unsigned long)GetLastError());
    return 2;
}

static unsigned long Number(const char *text)
{
    return strtoul(text, NULL, 0);
}

static HWND WindowArg(const char *text)
{
    if (strcmp(text, "main") == 0)
        return FindWindowA(MAIN_CLASS, MAIN_TITLE);
    return (HWND)(ULONG_PTR)Number(text);
}

/* The process's executable name as the toolhelp snapshot records it. */
static void ExeName(DWORD pid, char *name, int size)
{
    PROCESSENTRY32 entry;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    lstrcpynA(name, "?", size);
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    entry.dwSize = sizeof(entry);
    if (Process32First(snapshot, &entry)) {
        do {
            if (entry.th32ProcessID == pid) {
                lstrcpynA(name, entry.szExeFile, size);
                break;
            }
        } while (Process32Next(snapshot, &entry));
    }
    CloseHandle(snapshot);
}

static void Quote(const char *text, char *quoted, int size)
{
    int n = 0;
    for (; *text && n < size - 5; text++) {
        unsigned char c = (unsigned char)*text;
        if (c < 32 || c == '"' || c == '\\' || c >= 127)
            n += sprintf(quoted + n, "\\x%02x", c);
        else
            quoted[n++] = (char)c;
    }
    quoted[n] = 0;
}

static void SayWindow(const char *kind, HWND window)
{
    DWORD pid = 0;
    DWORD tid = GetWindowThreadProcessId(window, &pid);
    char exe[MAX_PATH], className[256], title[256], quoted[1100];
    RECT rect = {0, 0, 0, 0};
    ExeName(pid, exe, sizeof(exe));
    GetClassNameA(window, className, sizeof(className));
    GetWindowTextA(window, title, sizeof(title));
    GetWindowRect(window, &rect);
    Quote(title, quoted, sizeof(quoted));
    Say("%s hwnd=0x%lx pid=%lu tid=%lu visible=%d enabled=%d rect=%ld,%ld,%ld,%ld owner=0x%lx "
        "class=%s title=\"%s\" exe=%s", kind, (unsigned long)(ULONG_PTR)window,
        (unsigned long)pid, (unsigned long)tid, IsWindowVisible(window) ? 1 : 0,
        IsWindowEnabled(window) ? 1 : 0, rect.left, rect.top, rect.right, rect.bottom,
        (unsigned long)(ULONG_PTR)GetWindow(window, GW_OWNER), className, quoted, exe);
}

/* ---- top-level window search ------------------------------------------ */

typedef struct {
    const char *className; /* NULL: any */
    const char *title;     /* NULL: any */
    DWORD pid;             /* 0: any */
    int visibleOnly;
    HWND found[64];
    int count;
} WindowQuery;

static BOOL CALLBACK MatchWindow(HWND window, LPARAM param)
{
    WindowQuery *query = (WindowQuery *)param;
    char text[256];
    DWORD pid = 0;
    if (query->className) {
        GetClassNameA(window, text, sizeof(text));
        if (strcmp(text, query->className) != 0)
            return TRUE;
    }
    if (query->title) {
        GetWindowTextA(window, text, sizeof(text));
        if (strcmp(text, query->title) != 0)
            return TRUE;
    }
    GetWindowThreadProcessId(window, &pid);
    if (query->pid && pid != query->pid)
        return TRUE;
    if (query->visibleOnly && !IsWindowVisible(window))
        return TRUE;
    if (query->count < 64)
        query->found[query->count] = window;
    query->count++;
    return TRUE;
}

static void RunQuery(WindowQuery *query)
{
    query->count = 0;
    EnumWindows(MatchWindow, (LPARAM)query);
}

/* Runs the query until it finds windows (wantPresent) or none, or the time is
 * up; returns whether the wish came true. */
static int AwaitQuery(WindowQuery *query, int wantPresent, DWORD timeout, DWORD poll)
{
    DWORD start = GetTickCount();
    for (;;) {
        RunQuery(query);
        if ((query->count > 0) == wantPresent)
            return 1;
        if (GetTickCount() - start >= timeout)
            return 0;
        Sleep(poll);
    }
}

static const char *AnyArg(const char *text)
{
    return strcmp(text, "*") == 0 ? NULL : text;
}

/* find CLASS TITLE: every top-level window whose class and title match
 * exactly ("*" matches anything). */
static int CmdFind(char **argv, int argc)
{
    WindowQuery query = {0};
    int i;
    query.className = AnyArg(argv[0]);
    query.title = AnyArg(argv[1]);
    RunQuery(&query);
    for (i = 0; i < query.count && i < 64; i++)
        SayWindow("window", query.found[i]);
    Say("count=%d", query.count);
    return 0;
}

/* wait-window CLASS TITLE present|absent TIMEOUT_MS */
static int CmdWaitWindow(char **argv, int argc)
{
    WindowQuery query = {0};
    int i, done;
    query.className = AnyArg(argv[0]);
    query.title = AnyArg(argv[1]);
    done = AwaitQuery(&query, strcmp(argv[2], "present") == 0, Number(argv[3]), POLL_MS);
    for (i = 0; i < query.count && i < 64; i++)
        SayWindow("window", query.found[i]);
    Say("count=%d", query.count);
    Say("wait=%s", done ? "ok" : "timeout");
    return done ? 0 : 1;
}

static BOOL CALLBACK SayChild(HWND window, LPARAM unused)
{
    SayWindow("child", window);
    return TRUE;
}

/* children WINDOW: every descendant window, e.g. of the taskbar. */
static int CmdChildren(char **argv, int argc)
{
    EnumChildWindows(WindowArg(argv[0]), SayChild, 0);
    return 0;
}

/* ---- messages ------------------------------------------------------------ */

/* post WINDOW MSG WPARAM LPARAM */
static int CmdPost(char **argv, int argc)
{
    HWND window = WindowArg(argv[0]);
    BOOL posted = PostMessageA(window, (UINT)Number(argv[1]), (WPARAM)Number(argv[2]),
                               (LPARAM)Number(argv[3]));
    Say("posted=%d hwnd=0x%lx", posted ? 1 : 0, (unsigned long)(ULONG_PTR)window);
    return posted ? 0 : 2;
}

/* send WINDOW MSG WPARAM LPARAM [TIMEOUT_MS]: bounded so that a hung
 * receiver cannot hold the harness. */
static int CmdSend(char **argv, int argc)
{
    HWND window = WindowArg(argv[0]);
    DWORD_PTR result = 0;
    UINT timeout = argc > 4 ? (UINT)Number(argv[4]) : 10000;
    if (!window) {
        Say("send=nowindow");
        return 2;
    }
    if (!SendMessageTimeoutA(window, (UINT)Number(argv[1]), (WPARAM)Number(argv[2]),
                             (LPARAM)Number(argv[3]), SMTO_NORMAL, timeout, &result)) {
        Say("send=timeout code=%lu", (unsigned long)GetLastError());
        return 1;
    }
    Say("send=ok");
    Say("result=%ld", (long)result);
    return 0;
}

static BOOL TrayCall(DWORD operation, char **argv)
{
    NOTIFYICONDATAA data;
    memset(&data, 0, sizeof(data));
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = WindowArg(argv[0]);
    data.uID = (UINT)Number(argv[1]);
    return Shell_NotifyIconA(operation, &data);
}

/* tray WINDOW ID: whether the shell holds an icon (window, id). A
 * modification that changes nothing fails exactly when no such icon exists. */
static int CmdTray(char **argv, int argc)
{
    Say("tray=%s", TrayCall(NIM_MODIFY, argv) ? "present" : "absent");
    return 0;
}

/* tray-delete WINDOW ID: takes the icon away, as a restarting shell loses it. */
static int CmdTrayDelete(char **argv, int argc)
{
    Say("tray-delete=%d", TrayCall(NIM_DELETE, argv) ? 1 : 0);
    return 0;
}

/* ---- the command dialog -------------------------------------------------- */

static HWND FindDialog(DWORD pid, DWORD timeout, const char *title, int *count)
{
    WindowQuery query = {0};
    query.className = "#32770";
    query.title = title;
    query.pid = pid;
    query.visibleOnly = 1;
    AwaitQuery(&query, 1, timeout, POLL_MS);
    *count = query.count;
    return query.count > 0 ? query.found[0] : NULL;
}

static BOOL CALLBACK SayControl(HWND control, LPARAM dialog)
{
    char className[64], text[1024], quoted[4100];
    LONG style = GetWindowLongA(control, GWL_STYLE);
    RECT rect = {0, 0, 0, 0};
    int checked = -1;
    if (GetParent(control) != (HWND)dialog)
        return TRUE;
    GetClassNameA(control, className, sizeof(className));
    GetWindowTextA(control, text, sizeof(text));
    GetWindowRect(control, &rect);
    Quote(text, quoted, sizeof(quoted));
    if (lstrcmpiA(className, "Button") == 0)
        checked = (int)SendMessageA(control, BM_GETCHECK, 0, 0);
    Say("control id=%d class=%s style=0x%08lx enabled=%d visible=%d checked=%d "
        "rect=%ld,%ld,%ld,%ld text=\"%s\"", GetDlgCtrlID(control), className,
        (unsigned long)style, IsWindowEnabled(control) ? 1 : 0, IsWindowVisible(control) ? 1 : 0,
        checked, rect.left, rect.top, rect.right, rect.bottom, quoted);
    return TRUE;
}

static const char *TitleArg(char **argv, int argc, int index)
{
    return argc > index ? argv[index] : MAIN_TITLE;
}

/* dialog PID TIMEOUT_MS [TITLE]: the visible top-level dialog of process PID
 * (0: any process) titled "Tarnwick" or TITLE, and the state of its controls. */
static int CmdDialog(char **argv, int argc)
{
    int count;
    HWND dialog = FindDialog(Number(argv[0]), Number(argv[1]), TitleArg(argv, argc, 2), &count);
    Say("dialogs=%d", count);
    if (!dialog)
        return 1;
    SayWindow("dialog", dialog);
    EnumChildWindows(dialog, SayControl, (LPARAM)dialog);
    return 0;
}

/* click PID ID [TITLE]: presses a control of that dialog as a user would. */
static int CmdClick(char **argv, int argc)
{
    int count;
    HWND dialog = FindDialog(Number(argv[0]), 5000, TitleArg(argv, argc, 2), &count);
    HWND control = dialog ? GetDlgItem(dialog, (int)Number(argv[1])) : NULL;
    if (!control) {
        Say("click=nocontrol");
        return 2;
    }
    Say("click=%d", PostMessageA(control, BM_CLICK, 0, 0) ? 1 : 0);
    return 0;
}

/* command PID ID [TITLE]: a menu command to that dialog, as its menu bar
 * sends it. */
static int CmdCommand(char **argv, int argc)
{
    int count;
    HWND dialog = FindDialog(Number(argv[0]), 5000, TitleArg(argv, argc, 2), &count);
    if (!dialog) {
        Say("command=nodialog");
        return 2;
    }
    Say("command=%d", PostMessageA(dialog, WM_COMMAND, (WPARAM)Number(argv[1]), 0) ? 1 : 0);
    return 0;
}

/* ---- settings in the registry ---------------------------------------------- */

static int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

/* reg-key present|absent: creates or deletes the settings key with its values. */
static int CmdRegKey(char **argv, int argc)
{
    HKEY key;
    LONG status;
    if (strcmp(argv[0], "present") == 0) {
        status = RegCreateKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                                 &key, NULL);
        if (status == ERROR_SUCCESS)
            RegCloseKey(key);
    } else {
        status = RegDeleteKeyA(HKEY_CURRENT_USER, SETTINGS_KEY);
        if (status == ERROR_FILE_NOT_FOUND)
            status = ERROR_SUCCESS;
    }
    Say("reg-key=%s status=%ld", argv[0], (long)status);
    return status == ERROR_SUCCESS ? 0 : 2;
}

/* reg-set NAME TYPE DATA: TYPE is dword (DATA a number), sz (DATA the text),
 * hex:N (registry type N, DATA hex bytes) or fill:N (registry type N, DATA
 * "COUNT:BYTE", COUNT copies of one byte, for values of any length). */
static int CmdRegSet(char **argv, int argc)
{
    HKEY key;
    LONG status;
    DWORD type, size = 0, dword;
    unsigned char *data = NULL;
    const char *text = argv[2];
    if (strcmp(argv[1], "dword") == 0) {
        type = REG_DWORD;
        dword = Number(text);
        data = malloc(4);
        memcpy(data, &dword, 4);
        size = 4;
    } else if (strcmp(argv[1], "sz") == 0) {
        type = REG_SZ;
        size = (DWORD)strlen(text) + 1;
        data = malloc(size);
        memcpy(data, text, size);
    } else if (strncmp(argv[1], "hex:", 4) == 0) {
        size_t i, n = strlen(text) / 2;
        type = Number(argv[1] + 4);
        data = malloc(n + 1);
        for (i = 0; i < n; i++) {
            int high = HexValue(text[2 * i]), low = HexValue(text[2 * i + 1]);
            if (high < 0 || low < 0) {
                free(data);
                Say("error=badhex");
                return 2;
            }
            data[i] = (unsigned char)(high * 16 + low);
        }
        size = (DWORD)n;
    } else if (strncmp(argv[1], "fill:", 5) == 0) {
        char *colon;
        type = Number(argv[1] + 5);
        size = strtoul(text, &colon, 0);
        data = malloc(size + 1);
        memset(data, *colon == ':' ? (int)Number(colon + 1) : 0, size);
    } else {
        Say("error=badtype");
        return 2;
    }
    status = RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_SET_VALUE, &key);
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExA(key, argv[0], 0, type, data, size);
        RegCloseKey(key);
    }
    free(data);
    Say("reg-set status=%ld", (long)status);
    return status == ERROR_SUCCESS ? 0 : 2;
}

static void SayValue(const char *name, DWORD type, const unsigned char *data, DWORD size)
{
    char quoted[1100];
    char *hex = malloc(2 * (size_t)size + 1);
    DWORD i;
    for (i = 0; i < size; i++)
        sprintf(hex + 2 * i, "%02x", data[i]);
    hex[2 * size] = 0;
    Quote(name, quoted, sizeof(quoted));
    Say("value name=\"%s\" type=%lu size=%lu data=%s", quoted, (unsigned long)type,
        (unsigned long)size, hex);
    free(hex);
}

/* reg-get NAME: prints the value or "value=missing". */
static int CmdRegGet(char **argv, int argc)
{
    HKEY key;
    DWORD type = 0, size = 0;
    unsigned char *data;
    LONG status = RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_QUERY_VALUE, &key);
    if (status != ERROR_SUCCESS) {
        Say("key=missing");
        return 0;
    }
    status = RegQueryValueExA(key, argv[0], NULL, &type, NULL, &size);
    if (status != ERROR_SUCCESS) {
        RegCloseKey(key);
        Say("value=missing");
        return 0;
    }
    data = malloc(size + 1);
    status = RegQueryValueExA(key, argv[0], NULL, &type, data, &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        free(data);
        return Fail("query");
    }
    SayValue(argv[0], type, data, size);
    free(data);
    return 0;
}

/* reg-dump: every value under the settings key. */
static int CmdRegDump(char **argv, int argc)
{
    HKEY key;
    DWORD index;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        Say("key=missing");
        return 0;
    }
    for (index = 0;; index++) {
        char name[16384];
        DWORD nameSize = sizeof(name), type, size = 0;
        unsigned char *data;
        if (RegEnumValueA(key, index, name, &nameSize, NULL, &type, NULL, &size) != ERROR_SUCCESS)
            break;
        data = malloc(size + 1);
        nameSize = sizeof(name);
        if (RegEnumValueA(key, index, name, &nameSize, NULL, &type, data, &size) == ERROR_SUCCESS)
            SayValue(name, type, data, size);
        free(data);
    }
    RegCloseKey(key);
    Say("key=present values=%lu", (unsigned long)index);
    return 0;
}

/* reg-del NAME */
static int CmdRegDel(char **argv, int argc)
{
    HKEY key;
    LONG status = RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_SET_VALUE, &key);
    if (status == ERROR_SUCCESS) {
        status = RegDeleteValueA(key, argv[0]);
        RegCloseKey(key);
    }
    Say("reg-del status=%ld", (long)status);
    return 0;
}

/* ---- processes -------------------------------------------------------------- */

static int WaitExit(HANDLE process, DWORD timeout)
{
    DWORD code = 0;
    if (WaitForSingleObject(process, timeout) != WAIT_OBJECT_0) {
        Say("exit=running");
        return 1;
    }
    GetExitCodeProcess(process, &code);
    Say("exit=%lu", (unsigned long)code);
    return 0;
}

/* spawn EXE CMDLINE_FILE WAIT_MS: starts EXE with the exact command line
 * held in the file (any bytes but NUL), reports its pid at once and then,
 * when WAIT_MS is not 0, its exit code. */
static int CmdSpawn(char **argv, int argc)
{
    STARTUPINFOA startup;
    PROCESS_INFORMATION info;
    char *commandLine;
    long size;
    int result = 0;
    FILE *file = fopen(argv[1], "rb");
    if (!file)
        return Fail("cmdline-file");
    fseek(file, 0, SEEK_END);
    size = ftell(file);
    fseek(file, 0, SEEK_SET);
    commandLine = calloc(size + 1, 1);
    size = (long)fread(commandLine, 1, size, file);
    fclose(file);
    commandLine[size] = 0;
    memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    if (!CreateProcessA(argv[0], commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &info)) {
        free(commandLine);
        return Fail("createprocess");
    }
    free(commandLine);
    Say("pid=%lu length=%ld", (unsigned long)info.dwProcessId, size);
    if (Number(argv[2]))
        result = WaitExit(info.hProcess, Number(argv[2]));
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return result;
}

/* wait-exit PID TIMEOUT_MS */
static int CmdWaitExit(char **argv, int argc)
{
    int result;
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, Number(argv[0]));
    if (!process) {
        Say("exit=noprocess");
        return 1;
    }
    result = WaitExit(process, Number(argv[1]));
    CloseHandle(process);
    return result;
}

/* procs: every process of the prefix as toolhelp shows it. */
static int CmdProcs(char **argv, int argc)
{
    PROCESSENTRY32 entry;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    int count = 0;
    if (snapshot == INVALID_HANDLE_VALUE)
        return Fail("snapshot");
    entry.dwSize = sizeof(entry);
    if (Process32First(snapshot, &entry)) {
        do {
            Say("process pid=%lu parent=%lu exe=%s", (unsigned long)entry.th32ProcessID,
                (unsigned long)entry.th32ParentProcessID, entry.szExeFile);
            count++;
        } while (Process32Next(snapshot, &entry));
    }
    CloseHandle(snapshot);
    Say("processes=%d", count);
    return 0;
}

/* kill PID */
static int CmdKill(char **argv, int argc)
{
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, Number(argv[0]));
    BOOL done = process && TerminateProcess(process, 99);
    if (process)
        CloseHandle(process);
    Say("killed=%d", done ? 1 : 0);
    return done ? 0 : 2;
}

/* starts EXE COUNT WAIT_MS: starts EXE without arguments COUNT times in quick
 * succession, then waits up to WAIT_MS in all for every one to end; reports
 * how many started, how many ended and how many of those with an exit code
 * other than 0. */
static int CmdStarts(char **argv, int argc)
{
    int count = (int)Number(argv[1]), started = 0, ended = 0, nonzero = 0, i;
    DWORD wait = Number(argv[2]), begun;
    HANDLE *processes = calloc(count > 0 ? count : 1, sizeof(HANDLE));
    char commandLine[MAX_PATH + 3];
    snprintf(commandLine, sizeof(commandLine), "\"%s\"", argv[0]);
    for (i = 0; i < count; i++) {
        STARTUPINFOA startup;
        PROCESS_INFORMATION info;
        memset(&startup, 0, sizeof(startup));
        startup.cb = sizeof(startup);
        if (!CreateProcessA(argv[0], commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup,
                            &info))
            continue;
        CloseHandle(info.hThread);
        processes[started++] = info.hProcess;
    }
    begun = GetTickCount();
    for (i = 0; i < started; i++) {
        DWORD spent = GetTickCount() - begun, code = 0;
        if (WaitForSingleObject(processes[i], spent < wait ? wait - spent : 0) == WAIT_OBJECT_0) {
            ended++;
            if (!GetExitCodeProcess(processes[i], &code) || code != 0)
                nonzero++;
        }
        CloseHandle(processes[i]);
    }
    free(processes);
    Say("starts=%d started=%d ended=%d nonzero=%d", count, started, ended, nonzero);
    return started == count && ended == started ? 0 : 1;
}

/* hold PATH MS: keeps the file open without sharing for MS milliseconds, as
 * another program may at any moment; tells whether a second opener that
 * shares everything is refused meanwhile. */
static int CmdHold(char **argv, int argc)
{
    HANDLE file = CreateFileA(argv[0], GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    HANDLE other;
    if (file == INVALID_HANDLE_VALUE)
        return Fail("hold");
    other = CreateFileA(argv[0], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE |
                        FILE_SHARE_DELETE, NULL, OPEN_EXISTING, 0, NULL);
    if (other != INVALID_HANDLE_VALUE)
        CloseHandle(other);
    Say("held pid=%lu others=%s", (unsigned long)GetCurrentProcessId(),
        other == INVALID_HANDLE_VALUE ? "refused" : "allowed");
    Sleep(Number(argv[1]));
    CloseHandle(file);
    Say("released=1");
    return 0;
}

/* ---- resources of a process ----------------------------------------------------- */

typedef NTSTATUS (NTAPI *QuerySystemProc)(SYSTEM_INFORMATION_CLASS, PVOID, ULONG, PULONG);

/* The handle count of process PID as the system's process list gives it;
 * -1 unknown. Wine gives the size of the process's handle table there. */
static long ListedHandleCount(DWORD pid)
{
    QuerySystemProc query = (QuerySystemProc)(void *)GetProcAddress(
        GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation");
    ULONG size = 1 << 16;
    NTSTATUS status = -1;
    char *buffer = NULL;
    long count = -1;
    while (query && size <= (1UL << 26)) {
        buffer = malloc(size);
        status = query(SystemProcessInformation, buffer, size, NULL);
        if (status != (NTSTATUS)0xC0000004L) /* STATUS_INFO_LENGTH_MISMATCH */
            break;
        free(buffer);
        buffer = NULL;
        size *= 2;
    }
    if (buffer && status >= 0) {
        SYSTEM_PROCESS_INFORMATION *entry = (SYSTEM_PROCESS_INFORMATION *)buffer;
        for (;;) {
            if ((DWORD)(ULONG_PTR)entry->UniqueProcessId == pid) {
                count = (long)entry->HandleCount;
                break;
            }
            if (!entry->NextEntryOffset)
                break;
            entry = (SYSTEM_PROCESS_INFORMATION *)((char *)entry + entry->NextEntryOffset);
        }
    }
    free(buffer);
    return count;
}

/* The handles open in the process, counted one by one: every handle value
 * (a multiple of 4) that can be duplicated, or that is refused for another
 * reason than not being a handle. Wine answers GetProcessHandleCount for
 * another process with 0. */
static long HandleCount(DWORD pid, HANDLE process)
{
    long listed = ListedHandleCount(pid), count = 0, value;
    long last = 4 * (listed > 4096 ? listed : 4096);
    for (value = 4; value <= last; value += 4) {
        HANDLE copy;
        if (DuplicateHandle(process, (HANDLE)(ULONG_PTR)value, GetCurrentProcess(), &copy, 0,
                            FALSE, DUPLICATE_SAME_ACCESS))
            CloseHandle(copy);
        else if (GetLastError() == ERROR_INVALID_HANDLE)
            continue;
        count++;
    }
    return count;
}

/* One line on process PID: its handle count, GDI and USER objects (0 where the
 * system does not count them), top-level windows, working set and committed
 * private memory in KiB. */
static void SayMeasure(DWORD pid, int cycle)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_DUP_HANDLE,
                                 FALSE, pid);
    PROCESS_MEMORY_COUNTERS memory;
    WindowQuery query = {0};
    if (!process) {
        Say("measure cycle=%d error=open code=%lu", cycle, (unsigned long)GetLastError());
        return;
    }
    memset(&memory, 0, sizeof(memory));
    memory.cb = sizeof(memory);
    GetProcessMemoryInfo(process, &memory, sizeof(memory));
    query.pid = pid;
    RunQuery(&query);
    Say("measure cycle=%d handles=%ld gdi=%lu user=%lu windows=%d workingset=%lu pagefile=%lu",
        cycle, HandleCount(pid, process),
        (unsigned long)GetGuiResources(process, GR_GDIOBJECTS),
        (unsigned long)GetGuiResources(process, GR_USEROBJECTS), query.count,
        (unsigned long)(memory.WorkingSetSize / 1024),
        (unsigned long)(memory.PagefileUsage / 1024));
    CloseHandle(process);
}

/* measure PID */
static int CmdMeasure(char **argv, int argc)
{
    SayMeasure(Number(argv[0]), 0);
    return 0;
}

/* cycles COUNT PID CLASS TITLE MSG WPARAM LPARAM: COUNT times, posts the
 * message to the main window, waits for a visible window of that class and
 * title ("*" any) in process PID, presses Esc in it and waits until it has
 * gone. Measures the process before the first cycle, after the first, after
 * every hundredth and after the last. */
static int CmdCycles(char **argv, int argc)
{
    int count = (int)Number(argv[0]), i;
    DWORD pid = Number(argv[1]), begun = GetTickCount();
    HWND main = WindowArg("main");
    WindowQuery query = {0};
    query.className = AnyArg(argv[2]);
    query.title = AnyArg(argv[3]);
    query.pid = pid;
    query.visibleOnly = 1;
    if (!main) {
        Say("cycles=nowindow");
        return 2;
    }
    SayMeasure(pid, 0);
    for (i = 1; i <= count; i++) {
        PostMessageA(main, (UINT)Number(argv[4]), (WPARAM)Number(argv[5]), (LPARAM)Number(argv[6]));
        if (!AwaitQuery(&query, 1, 10000, 2)) {
            Say("cycle=%d failed=open", i);
            return 1;
        }
        PostMessageA(query.found[0], WM_KEYDOWN, VK_ESCAPE, 1);
        if (!AwaitQuery(&query, 0, 10000, 2)) {
            Say("cycle=%d failed=close", i);
            return 1;
        }
        if (i == 1 || i % 100 == 0 || i == count) {
            Sleep(200); /* the closed window is destroyed a moment after it hides */
            SayMeasure(pid, i);
        }
    }
    Say("cycles=%d ms=%lu", count, (unsigned long)(GetTickCount() - begun));
    return 0;
}

/* ---- helper application -------------------------------------------------------- */

static FILE *g_helperLog;
static int g_helperRefuses;
static DWORD g_helperHangMs;
static DWORD g_helperPromptMs;
static int g_helperQuits;

static void HelperLog(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    WriteLine(g_helperLog, format, args);
    va_end(args);
}

/* A "Save changes?" box for MS ms: a visible window of the thread and a
 * modal loop that reads the queue, as a program's own box runs. */
static void HelperPrompt(HWND owner, DWORD ms)
{
    HWND box = CreateWindowExA(0, "Static", "Save changes?", WS_POPUP | WS_CAPTION | WS_VISIBLE,
                               300, 300, 200, 80, owner, NULL, NULL, NULL);
    DWORD start = GetTickCount();
    MSG message;
    while (GetTickCount() - start < ms) {
        MsgWaitForMultipleObjects(0, NULL, FALSE, POLL_MS, QS_ALLINPUT);
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
    }
    DestroyWindow(box);
}

static LRESULT CALLBACK HelperProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_QUERYENDSESSION:
        HelperLog("query hwnd=0x%lx wparam=%lu lparam=0x%lx", (unsigned long)(ULONG_PTR)window,
                  (unsigned long)wParam, (unsigned long)lParam);
        if (g_helperQuits)
            ExitProcess(0);
        if (g_helperHangMs)
            Sleep(g_helperHangMs);
        if (g_helperPromptMs)
            HelperPrompt(window, g_helperPromptMs);
        return g_helperRefuses ? FALSE : TRUE;
    case WM_ENDSESSION:
        HelperLog("end hwnd=0x%lx wparam=%lu lparam=0x%lx", (unsigned long)(ULONG_PTR)window,
                  (unsigned long)wParam, (unsigned long)lParam);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

/* helper LOGFILE TITLE [refuse] [hang=MS] [prompt=MS] [windows=N] [owned]
 * [stall=MS] [quit]: an application that logs the session-end messages its
 * hidden windows receive and runs until ended. "owned" gives the first a
 * visible owned window, as a program whose main window stays hidden has;
 * "stall" shows the windows and reads no message for MS ms once ready, so
 * that the system calls the program hung; "quit" ends the program while it
 * is asked. */
static int CmdHelper(char **argv, int argc)
{
    WNDCLASSA windowClass;
    MSG message;
    DWORD stallMs = 0;
    int i, windows = 1, owned = 0;
    for (i = 2; i < argc; i++) {
        if (strcmp(argv[i], "refuse") == 0)
            g_helperRefuses = 1;
        else if (strncmp(argv[i], "hang=", 5) == 0)
            g_helperHangMs = Number(argv[i] + 5);
        else if (strncmp(argv[i], "prompt=", 7) == 0)
            g_helperPromptMs = Number(argv[i] + 7);
        else if (strncmp(argv[i], "windows=", 8) == 0)
            windows = (int)Number(argv[i] + 8);
        else if (strcmp(argv[i], "owned") == 0)
            owned = 1;
        else if (strncmp(argv[i], "stall=", 6) == 0)
            stallMs = Number(argv[i] + 6);
        else if (strcmp(argv[i], "quit") == 0)
            g_helperQuits = 1;
    }
    g_helperLog = fopen(argv[0], "a");
    if (!g_helperLog)
        return Fail("helper-log");
    memset(&windowClass, 0, sizeof(windowClass));
    windowClass.lpfnWndProc = HelperProc;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = HELPER_CLASS;
    RegisterClassA(&windowClass);
    for (i = 0; i < windows; i++) {
        HWND window = CreateWindowExA(0, HELPER_CLASS, argv[1], WS_OVERLAPPEDWINDOW |
                                      (stallMs ? WS_VISIBLE : 0), 0, 0, 200, 100,
                                      NULL, NULL, windowClass.hInstance, NULL);
        if (!window)
            return Fail("helper-window");
        Say("window hwnd=0x%lx", (unsigned long)(ULONG_PTR)window);
        /* A system class: it answers as DefWindowProc does, and logs nothing. */
        if (owned && i == 0 && !CreateWindowExA(0, "Static", "Owned", WS_OVERLAPPEDWINDOW |
                                                WS_VISIBLE, 0, 120, 200, 100, window, 0, 0, 0))
            return Fail("helper-owned");
    }
    HelperLog("start pid=%lu", (unsigned long)GetCurrentProcessId());
    Say("ready pid=%lu", (unsigned long)GetCurrentProcessId());
    Sleep(stallMs);
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}

/* ---- dispatch ------------------------------------------------------------------ */

/* Every command takes its own arguments; most ignore their count. */
static int CmdSleep(char **argv, int argc)
{
    Sleep(Number(argv[0]));
    return 0;
}

/* cmdline: the probe's own command line, to see how Wine builds one. */
static int CmdCmdline(char **argv, int argc)
{
    const char *line = GetCommandLineA();
    int size = 4 * (int)strlen(line) + 8;
    char *quoted = malloc(size);
    Quote(line, quoted, size);
    Say("cmdline=\"%s\"", quoted);
    free(quoted);
    return 0;
}

typedef struct {
    const char *name;
    int args; /* the least number of arguments */
    int (*run)(char **argv, int argc);
} Command;

static const Command kCommands[] = {
    {"find", 2, CmdFind},
    {"wait-window", 4, CmdWaitWindow},
    {"children", 1, CmdChildren},
    {"post", 4, CmdPost},
    {"send", 4, CmdSend},
    {"tray", 2, CmdTray},
    {"tray-delete", 2, CmdTrayDelete},
    {"dialog", 2, CmdDialog},
    {"click", 2, CmdClick},
    {"command", 2, CmdCommand},
    {"reg-key", 1, CmdRegKey},
    {"reg-set", 3, CmdRegSet},
    {"reg-get", 1, CmdRegGet},
    {"reg-dump", 0, CmdRegDump},
    {"reg-del", 1, CmdRegDel},
    {"spawn", 3, CmdSpawn},
    {"wait-exit", 2, CmdWaitExit},
    {"procs", 0, CmdProcs},
    {"kill", 1, CmdKill},
    {"starts", 3, CmdStarts},
    {"hold", 2, CmdHold},
    {"measure", 1, CmdMeasure},
    {"cycles", 7, CmdCycles},
    {"sleep", 1, CmdSleep},
    {"cmdline", 0, CmdCmdline},
    {"helper", 2, CmdHelper},
};

static int RunOne(char **argv, int argc)
{
    size_t i;
    for (i = 0; i < sizeof(kCommands) / sizeof(kCommands[0]); i++) {
        if (strcmp(argv[0], kCommands[i].name) == 0) {
            if (argc - 1 < kCommands[i].args) {
                Say("error=usage command=%s", argv[0]);
                return 2;
            }
            return kCommands[i].run(argv + 1, argc - 1);
        }
    }
    Say("error=unknown command=%s", argv[0]);
    return 2;
}

int main(int argc, char **argv)
{
    int first = 1, worst = 0;
    g_out = stdout;
    if (argc > 2 && strcmp(argv[1], "--out") == 0) {
        g_out = fopen(argv[2], "w");
        if (!g_out)
            return 2;
        first = 3;
    }
    while (first < argc) {
        int last = first, result;
        while (last < argc && strcmp(argv[last], "+") != 0)
            last++;
        if (last > first) {
            result = RunOne(argv + first, last - first);
            if (result > worst)
                worst = result;
        }
        first = last + 1;
    }
    if (g_out != stdout)
        fclose(g_out);
    return worst;
}
