#include "fake_system.h"
#include <shellapi.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <string.h>
#include <algorithm>

FakeSystem sys;

static const HINSTANCE kModule = (HINSTANCE)0x400000;
static const char kSettingsKey[] = "Software\\Quennard\\Tarnwick";

// ---- naming and logging -------------------------------------------------

static HWND WindowHandle(size_t index) { return (HWND)(uintptr_t)(0x1000 + index); }
static HMENU MenuHandle(size_t index) { return (HMENU)(uintptr_t)(0x2000 + index); }

static FakeWindow* Window(HWND window)
{
    uintptr_t i = (uintptr_t)window - 0x1000;
    return i < sys.windows.size() ? &sys.windows[i] : nullptr;
}

static FakeMenu* Menu(HMENU menu)
{
    uintptr_t i = (uintptr_t)menu - 0x2000;
    return i < sys.menus.size() ? &sys.menus[i] : nullptr;
}

std::string Name(HWND window)
{
    if (!window)
        return "NULL";
    if (Window(window))
        return "w" + std::to_string((uintptr_t)window - 0x1000 + 1);
    char text[32];
    snprintf(text, sizeof text, "hwnd:%p", (void*)window);
    return text;
}

static std::string Arg(HWND window) { return Name(window); }
static std::string Arg(HMENU menu)
{
    if (!menu)
        return "NULL";
    return Menu(menu) ? "m" + std::to_string((uintptr_t)menu - 0x2000 + 1) : "menu:?";
}
static std::string Arg(const char* text)
{
    if (!text)
        return "NULL";
    if ((uintptr_t)text < 0x10000)
        return "#" + std::to_string((uintptr_t)text);
    return "\"" + std::string(text) + "\"";
}
static std::string Arg(long long number) { return std::to_string(number); }
static std::string Hex(unsigned long long number)
{
    char text[24];
    snprintf(text, sizeof text, "0x%llX", number);
    return text;
}
static std::string Icon(HICON icon)
{
    uintptr_t value = (uintptr_t)icon;
    if (!value)
        return "NULL";
    return ((value & 0xF0000) == 0x10000 ? "icon" : "sysicon") + std::to_string(value & 0xFFFF);
}

static void Record(const char* name, std::initializer_list<std::string> args)
{
    std::string line = std::string(name) + "(";
    bool first = true;
    for (const std::string& arg : args) {
        line += (first ? "" : ", ") + arg;
        first = false;
    }
    sys.calls.push_back(line + ")");
    if (sys.onCall)
        sys.onCall(sys.calls.back());
}

std::vector<std::string> Calls(std::initializer_list<const char*> names)
{
    std::vector<std::string> result;
    for (const std::string& call : sys.calls) {
        bool wanted = names.size() == 0;
        for (const char* name : names)
            wanted = wanted || call.compare(0, strlen(name) + 1, std::string(name) + "(") == 0;
        if (wanted)
            result.push_back(call);
    }
    return result;
}

int CountCalls(const char* name) { return (int)Calls({name}).size(); }

static HANDLE NewHandle(const std::string& kind)
{
    static uintptr_t next = 0x3000;
    HANDLE handle = (HANDLE)next++;
    sys.handles[handle] = kind;
    return handle;
}

// ---- set-up ---------------------------------------------------------------

static std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return (char)tolower(c); });
    return text;
}

void ResetSystem()
{
    sys = FakeSystem();
    sys.keyExists = true;
    sys.selfId = 100;
    AddProcess(100, "C:\\TOOLS\\TARNWICK.EXE");
    sys.now = {0, 0x01D90000};
    sys.tickCount = 3600000;
    sys.modulePath = "C:\\TOOLS\\TARNWICK.EXE";
    sys.windowsDirectory = "C:\\WINDOWS";
    sys.commandLine = "TARNWICK.EXE";
    SetFile("C:\\TOOLS\\RESTART.EXE", 1);
    SetFile("C:\\WINDOWS\\EXIT TO DOS.PIF", 1);
}

void SetRaw(const char* name, DWORD type, std::vector<BYTE> bytes) { sys.values[name] = {type, bytes}; }

void SetDword(const char* name, DWORD value)
{
    SetRaw(name, REG_DWORD, {(BYTE)value, (BYTE)(value >> 8), (BYTE)(value >> 16), (BYTE)(value >> 24)});
}

bool HasValue(const char* name) { return sys.values.count(name) != 0; }

DWORD GetDword(const char* name)
{
    const std::vector<BYTE>& d = sys.values.at(name).data;
    DWORD value = 0;
    memcpy(&value, d.data(), std::min<size_t>(4, d.size()));
    return value;
}

void SetFile(const char* path, DWORD low, DWORD high) { sys.files[Lower(path)] = {{low, high}, false}; }
void RemoveFile(const char* path) { sys.files.erase(Lower(path)); }
bool HasFile(const std::string& path) { return sys.files.count(Lower(path)) != 0; }
void HoldOpen(const char* path, bool held) { sys.files[Lower(path)].locked = held; }
void AddProcess(DWORD id, const char* exeFile)
{
    static unsigned serial = 0;
    sys.processes.push_back({id, exeFile, ++serial});
}

static FakeProcess* ProcessById(DWORD id)
{
    for (FakeProcess& p : sys.processes) {
        if (p.id == id)
            return &p;
    }
    return nullptr;
}

// Ends the process of that serial: its windows go, its id is freed.
static void EndFakeProcess(unsigned serial)
{
    for (size_t i = 0; i < sys.processes.size(); ++i) {
        if (sys.processes[i].serial != serial)
            continue;
        DWORD id = sys.processes[i].id;
        sys.processes.erase(sys.processes.begin() + i);
        for (FakeWindow& w : sys.windows) {
            if (w.processId == id)
                w.alive = false;
        }
        sys.freedIds.push_back(id);
        return;
    }
}

void QuitProcess(DWORD id)
{
    if (FakeProcess* p = ProcessById(id))
        EndFakeProcess(p->serial);
}

static bool IdHeld(DWORD id)
{
    const std::string prefix = "process " + std::to_string(id) + " ";
    for (const auto& handle : sys.handles) {
        if (handle.second.compare(0, prefix.size(), prefix) == 0)
            return true;
    }
    return false;
}

DWORD StartProcess(const char* exeFile)
{
    DWORD id = 1000;
    for (DWORD freed : sys.freedIds) {
        if (!IdHeld(freed) && !ProcessById(freed))
            id = freed;
    }
    while (ProcessById(id) || IdHeld(id))
        ++id;
    AddProcess(id, exeFile);
    return id;
}

bool ProcessExists(DWORD id) { return ProcessById(id) != nullptr; }

static HWND NewWindow(const FakeWindow& window)
{
    sys.windows.push_back(window);
    return WindowHandle(sys.windows.size() - 1);
}

HWND AddForeignWindow(DWORD processId, LRESULT reply, bool visible, DWORD answersAfter)
{
    FakeWindow w{};
    w.className = "Foreign";
    w.processId = processId;
    w.alive = w.enabled = true;
    w.reply = reply;
    w.visible = visible;
    w.answersAfter = answersAfter;
    for (size_t i = 0; i < sys.windows.size(); ++i) {
        if (!sys.windows[i].alive && sys.windows[i].className == "Foreign") {
            sys.windows[i] = w;
            return WindowHandle(i);
        }
    }
    return NewWindow(w);
}

HWND MainWindow() { return FindWindowA("TarnwickMainWindowClass", "Tarnwick"); }


bool TrayIconShown() { return sys.trayIcons.count({MainWindow(), 1}) != 0; }

// ---- windows and messages -----------------------------------------------

static LRESULT Deliver(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    FakeWindow* w = Window(window);
    if (!w || !w->alive)
        return 0;
    if (w->proc)
        return w->proc(window, message, wParam, lParam);
    if (w->dialogProc)
        return w->dialogProc(window, message, wParam, lParam);
    return w->reply;
}

// Input from the test itself is delivered without being logged.
LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam) { return Deliver(MainWindow(), message, wParam, lParam); }

void Pump()
{
    MSG message;
    while (!sys.queue.empty()) {
        message = sys.queue.front();
        sys.queue.pop_front();
        if (message.message != WM_QUIT)
            Deliver(message.hwnd, message.message, message.wParam, message.lParam);
    }
}

extern "C" {

HWND WINAPI FindWindowA(LPCSTR className, LPCSTR title)
{
    for (size_t i = 0; i < sys.windows.size(); ++i) {
        const FakeWindow& w = sys.windows[i];
        if (w.alive && !w.parent && Lower(w.className) == Lower(className) && w.title == title)
            return WindowHandle(i);
    }
    return NULL;
}

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* windowClass)
{
    Record("RegisterClassExA", {Arg(windowClass->lpszClassName)});
    if (sys.failRegisterClass)
        return 0;
    sys.classes.push_back(*windowClass);
    return (ATOM)sys.classes.size();
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR title, DWORD style, int x, int y,
                            int width, int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param)
{
    Record("CreateWindowExA", {Hex(exStyle), Arg(className), Arg(title), Hex(style), Arg(x), Arg(y), Arg(width),
                               Arg(height), Arg(parent), Arg(menu), Arg(instance == kModule ? "module" : "other"),
                               Arg((long long)(intptr_t)param)});
    const WNDCLASSEXA* found = nullptr;
    for (const WNDCLASSEXA& c : sys.classes) {
        if (Lower(c.lpszClassName) == Lower(className))
            found = &c;
    }
    if (!found || sys.failCreateWindow)
        return NULL;
    FakeWindow w{};
    w.className = className;
    w.title = title;
    w.proc = found->lpfnWndProc;
    w.processId = sys.selfId;
    w.alive = w.enabled = true;
    HWND window = NewWindow(w);
    CREATESTRUCTA creation{param, instance, menu, parent, height, width, y, x, (LONG)style, title, className, exStyle};
    if (Deliver(window, WM_CREATE, 0, (LPARAM)&creation) == -1) {
        Window(window)->alive = false;
        return NULL;
    }
    return window;
}

LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    Record("DefWindowProcA", {Arg(window), Hex(message), Arg((long long)wParam), Arg((long long)lParam)});
    if (message == WM_CLOSE && Window(window)) {
        Deliver(window, WM_DESTROY, 0, 0);
        Window(window)->alive = false;
    }
    return 0;
}

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    Record("PostMessageA", {Arg(window), Hex(message), Arg((long long)wParam), Arg((long long)lParam)});
    FakeWindow* w = Window(window);
    if (!w || !w->alive)
        return FALSE;
    sys.queue.push_back(MSG{window, message, wParam, lParam, 0, {0, 0}});
    return TRUE;
}

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    Record("SendMessageA", {Arg(window), Hex(message), Arg((long long)wParam),
                            message == WM_SETICON ? Icon((HICON)lParam) : Arg((long long)lParam)});
    return Deliver(window, message, wParam, lParam);
}

LRESULT WINAPI SendMessageTimeoutA(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT flags,
                                   UINT timeout, PDWORD_PTR result)
{
    Record("SendMessageTimeoutA", {Arg(window), Hex(message), Arg((long long)wParam), Arg((long long)lParam),
                                   Hex(flags), Arg(timeout)});
    FakeWindow* w = Window(window);
    *result = 0;  // a late answer leaves nothing to read
    if (!w || !w->alive || w->answersAfter > timeout)
        return 0;
    *result = (DWORD_PTR)Deliver(window, message, wParam, lParam);
    return 1;
}

BOOL WINAPI IsWindowVisible(HWND window)
{
    FakeWindow* w = Window(window);
    return w && w->alive && w->visible;
}

VOID WINAPI PostQuitMessage(int exitCode)
{
    Record("PostQuitMessage", {Arg(exitCode)});
    sys.queue.push_back(MSG{NULL, WM_QUIT, (WPARAM)exitCode, 0, 0, {0, 0}});
}

BOOL WINAPI GetMessageA(LPMSG message, HWND, UINT, UINT)
{
    // An empty queue ends the loop as WM_QUIT would: the test has nothing more to say.
    if (sys.queue.empty())
        return 0;
    *message = sys.queue.front();
    sys.queue.pop_front();
    return message->message != WM_QUIT;
}

BOOL WINAPI TranslateMessage(const MSG*) { return FALSE; }

LRESULT WINAPI DispatchMessageA(const MSG* message)
{
    return Deliver(message->hwnd, message->message, message->wParam, message->lParam);
}

BOOL WINAPI EnumThreadWindows(DWORD threadId, WNDENUMPROC proc, LPARAM param)
{
    size_t count = sys.windows.size();
    for (size_t i = 0; i < count; ++i) {
        if (sys.windows[i].alive && sys.windows[i].processId + 1 == threadId && !proc(WindowHandle(i), param))
            return FALSE;
    }
    return TRUE;
}

BOOL WINAPI EnumWindows(WNDENUMPROC proc, LPARAM param)
{
    if (sys.failEnumWindows)
        return FALSE;
    size_t count = sys.windows.size();
    for (size_t i = 0; i < count; ++i) {
        if (sys.windows[i].alive && !sys.windows[i].parent && !proc(WindowHandle(i), param))
            return FALSE;
    }
    return TRUE;
}

DWORD WINAPI GetWindowThreadProcessId(HWND window, LPDWORD processId)
{
    FakeWindow* w = Window(window);
    DWORD id = w && w->alive ? w->processId : 0;
    if (processId)
        *processId = id;
    return id ? id + 1 : 0;
}

HWND WINAPI SetFocus(HWND window)
{
    Record("SetFocus", {Arg(window)});
    return NULL;
}

BOOL WINAPI SetForegroundWindow(HWND window)
{
    Record("SetForegroundWindow", {Arg(window)});
    return TRUE;
}

BOOL WINAPI MessageBeep(UINT type)
{
    Record("MessageBeep", {Arg(type)});
    return TRUE;
}

SHORT WINAPI GetAsyncKeyState(int key) { return key == VK_SHIFT ? sys.shiftState : 0; }

BOOL WINAPI GetCursorPos(LPPOINT point)
{
    *point = sys.cursor;
    return TRUE;
}

HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name)
{
    return (HICON)(uintptr_t)((instance == kModule ? 0x10000 : 0x20000) | ((uintptr_t)name & 0xFFFF));
}

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name)
{
    return instance ? NULL : (HCURSOR)(uintptr_t)(0x20000 | ((uintptr_t)name & 0xFFFF));
}

HGDIOBJ WINAPI GetStockObject(int object) { return (HGDIOBJ)(uintptr_t)(0x50000 | object); }

// ---- session end, power, shell ------------------------------------------

BOOL WINAPI ExitWindowsEx(UINT flags, DWORD reason)
{
    Record("ExitWindowsEx", {Arg(flags), Arg(reason)});
    return !sys.failExitWindows;
}

BOOL WINAPI SetSystemPowerState(BOOL suspend, BOOL force)
{
    Record("SetSystemPowerState", {Arg(suspend), Arg(force)});
    return TRUE;
}

VOID WINAPI Sleep(DWORD milliseconds) { Record("Sleep", {Arg(milliseconds)}); }

HINSTANCE WINAPI ShellExecuteA(HWND owner, LPCSTR operation, LPCSTR file, LPCSTR parameters, LPCSTR directory, INT show)
{
    Record("ShellExecuteA", {Arg(owner), Arg(operation), Arg(file), Arg(parameters), Arg(directory), Arg(show)});
    return (HINSTANCE)(intptr_t)(sys.failShellExecute ? 2 : 42);
}

BOOL WINAPI Shell_NotifyIconA(DWORD message, PNOTIFYICONDATAA data)
{
    static const char* const kNames[] = {"NIM_ADD", "NIM_MODIFY", "NIM_DELETE"};
    Record("Shell_NotifyIconA", {message < 3 ? kNames[message] : Arg(message), Arg(data->cbSize), Arg(data->hWnd),
                                 Arg(data->uID), Arg(data->uFlags), Hex(data->uCallbackMessage), Icon(data->hIcon),
                                 Arg((const char*)data->szTip)});
    std::pair<HWND, UINT> key(data->hWnd, data->uID);
    bool present = sys.trayIcons.count(key) != 0;
    if (message == NIM_ADD && !present && data->cbSize == NOTIFYICONDATAA_V1_SIZE)
        return sys.trayIcons.insert(key), TRUE;
    if (message == NIM_DELETE && present)
        return sys.trayIcons.erase(key), TRUE;
    return message == NIM_MODIFY && present;
}

// ---- menus, dialogs, boxes ----------------------------------------------

static HMENU NewMenu(int parent)
{
    sys.menus.push_back({parent, {}, false});
    return MenuHandle(sys.menus.size() - 1);
}

HMENU WINAPI LoadMenuA(HINSTANCE instance, LPCSTR name)
{
    Record("LoadMenuA", {Arg(instance == kModule ? "module" : "other"), Arg(name)});
    ++sys.menusLoaded;
    return NewMenu(-1);
}

HMENU WINAPI GetSubMenu(HMENU menu, int position)
{
    if (!Menu(menu) || position != 0)
        return NULL;
    for (size_t i = 0; i < sys.menus.size(); ++i) {
        if (sys.menus[i].parent == (int)((uintptr_t)menu - 0x2000))
            return MenuHandle(i);
    }
    return NewMenu((int)((uintptr_t)menu - 0x2000));
}

BOOL WINAPI DestroyMenu(HMENU menu)
{
    Record("DestroyMenu", {Arg(menu)});
    FakeMenu* m = Menu(menu);
    if (!m || m->destroyed || m->parent != -1)
        return FALSE;
    m->destroyed = true;
    return TRUE;
}

static DWORD SetMenuFlag(HMENU menu, UINT item, UINT bit, bool on)
{
    FakeMenu* m = Menu(menu);
    if (!m)
        return (DWORD)-1;
    UINT before = m->flags[item];
    m->flags[item] = on ? (before | bit) : (before & ~bit);
    return before & bit;
}

DWORD WINAPI CheckMenuItem(HMENU menu, UINT item, UINT flags)
{
    Record("CheckMenuItem", {Arg(menu), Arg(item), Arg(flags)});
    return SetMenuFlag(menu, item, MF_CHECKED, (flags & MF_CHECKED) != 0);
}

BOOL WINAPI EnableMenuItem(HMENU menu, UINT item, UINT flags)
{
    Record("EnableMenuItem", {Arg(menu), Arg(item), Arg(flags)});
    return (BOOL)SetMenuFlag(menu, item, MF_GRAYED, (flags & MF_GRAYED) != 0);
}

BOOL WINAPI TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner, const RECT* rect)
{
    Record("TrackPopupMenu", {Arg(menu), Hex(flags), Arg(x), Arg(y), Arg(reserved), Arg(owner), Arg(rect ? "rect" : nullptr)});
    if (sys.menuAction)
        sys.menuAction(owner);
    return TRUE;
}

INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC proc, LPARAM param)
{
    Record("DialogBoxParamA", {Arg(instance == kModule ? "module" : "other"), Arg(templateName), Arg(owner)});
    if (sys.failDialog)
        return -1;
    FakeWindow w{};
    w.className = "#32770";
    w.title = "Tarnwick";
    w.dialogProc = proc;
    w.processId = sys.selfId;
    w.alive = w.enabled = true;
    w.menu = NewMenu(-1);
    w.reply = -2;  // the dialog's result while it runs
    HWND dialog = NewWindow(w);
    Deliver(dialog, WM_INITDIALOG, 0, param);
    if (sys.dialogAction)
        sys.dialogAction(dialog);
    // A dialog the test left open is cancelled, as Esc would.
    if (Window(dialog)->alive)
        Deliver(dialog, WM_COMMAND, IDCANCEL, 0);
    Window(dialog)->alive = false;
    return Window(dialog)->reply;
}

BOOL WINAPI EndDialog(HWND dialog, INT_PTR result)
{
    Record("EndDialog", {Arg(dialog), Arg((long long)result)});
    FakeWindow* w = Window(dialog);
    if (!w || !w->alive)
        return FALSE;
    w->alive = false;
    w->reply = result;
    return TRUE;
}

HMENU WINAPI GetMenu(HWND window) { return Window(window) ? Window(window)->menu : NULL; }

HWND WINAPI GetDlgItem(HWND dialog, int id)
{
    for (size_t i = 0; i < sys.windows.size(); ++i) {
        if (sys.windows[i].parent == dialog && sys.windows[i].controlId == id)
            return WindowHandle(i);
    }
    if (!Window(dialog))
        return NULL;
    FakeWindow control{};
    control.className = "Button";
    control.parent = dialog;
    control.controlId = id;
    control.processId = sys.selfId;
    control.alive = control.enabled = true;
    return NewWindow(control);
}

BOOL WINAPI EnableWindow(HWND window, BOOL enable)
{
    Record("EnableWindow", {Arg(window), Arg(enable)});
    FakeWindow* w = Window(window);
    bool wasDisabled = w && !w->enabled;
    if (w)
        w->enabled = enable != 0;
    return wasDisabled;
}

BOOL WINAPI CheckDlgButton(HWND dialog, int id, UINT check)
{
    Record("CheckDlgButton", {Arg(dialog), Arg(id), Arg(check)});
    Window(GetDlgItem(dialog, id))->checked = check;
    return TRUE;
}

UINT WINAPI IsDlgButtonChecked(HWND dialog, int id) { return Window(GetDlgItem(dialog, id))->checked; }

int WINAPI MessageBoxIndirectA(const MSGBOXPARAMSA* params)
{
    Record("MessageBoxIndirectA", {Arg(params->cbSize), Arg(params->hwndOwner),
                                   Arg(params->hInstance == kModule ? "module" : "other"), Arg(params->lpszText),
                                   Arg(params->lpszCaption), Hex(params->dwStyle), Arg(params->lpszIcon),
                                   Arg((long long)params->dwContextHelpId),
                                   Arg(params->lpfnMsgBoxCallback ? "callback" : nullptr), Arg(params->dwLanguageId)});
    if (sys.messageBoxAction)
        sys.messageBoxAction(*params);
    return IDOK;
}

// ---- processes ------------------------------------------------------------

DWORD WINAPI GetCurrentProcessId(VOID) { return sys.selfId; }

VOID WINAPI GetSystemTimeAsFileTime(LPFILETIME time) { *time = sys.now; }
DWORD WINAPI GetTickCount(VOID) { return sys.tickCount; }

HANDLE WINAPI CreateToolhelp32Snapshot(DWORD flags, DWORD processId)
{
    Record("CreateToolhelp32Snapshot", {Arg(flags), Arg(processId)});
    if (sys.failSnapshot)
        return INVALID_HANDLE_VALUE;
    HANDLE snapshot = NewHandle("snapshot");
    sys.snapshots[snapshot] = {sys.processes, 0};
    return snapshot;
}

// Walks the process list as it was when the snapshot was taken.
static BOOL SnapshotEntry(HANDLE snapshot, LPPROCESSENTRY32 entry, bool first)
{
    auto found = sys.snapshots.find(snapshot);
    if (found == sys.snapshots.end() || entry->dwSize != sizeof(PROCESSENTRY32))
        return FALSE;
    size_t& position = found->second.second;
    position = first ? 0 : position + 1;
    if (position >= found->second.first.size())
        return FALSE;
    const FakeProcess& process = found->second.first[position];
    memset(entry, 0xCC, sizeof *entry);
    entry->dwSize = sizeof *entry;
    entry->th32ProcessID = process.id;
    snprintf(entry->szExeFile, sizeof entry->szExeFile, "%s", process.exeFile.c_str());
    return TRUE;
}

BOOL WINAPI Process32First(HANDLE snapshot, LPPROCESSENTRY32 entry) { return SnapshotEntry(snapshot, entry, true); }
BOOL WINAPI Process32Next(HANDLE snapshot, LPPROCESSENTRY32 entry) { return SnapshotEntry(snapshot, entry, false); }

HANDLE WINAPI OpenProcess(DWORD access, BOOL inherit, DWORD processId)
{
    Record("OpenProcess", {Hex(access), Arg(inherit), Arg(processId)});
    FakeProcess* process = ProcessById(processId);
    if (!process || sys.unopenable.count(processId))
        return NULL;
    return NewHandle("process " + std::to_string(processId) + " " + std::to_string(process->serial));
}

// The process a handle was opened on, by its serial; NULL once it has ended.
static FakeProcess* HandleProcess(HANDLE handle, DWORD* id)
{
    auto found = sys.handles.find(handle);
    if (found == sys.handles.end() || found->second.compare(0, 8, "process ") != 0)
        return nullptr;
    size_t space = found->second.find(' ', 8);
    *id = (DWORD)std::stoul(found->second.substr(8));
    unsigned serial = (unsigned)std::stoul(found->second.substr(space + 1));
    for (FakeProcess& p : sys.processes) {
        if (p.serial == serial)
            return &p;
    }
    return nullptr;
}

BOOL WINAPI GetExitCodeProcess(HANDLE process, LPDWORD exitCode)
{
    DWORD id = 0;
    *exitCode = HandleProcess(process, &id) ? STILL_ACTIVE : 0;
    return id != 0;
}

BOOL WINAPI TerminateProcess(HANDLE process, UINT exitCode)
{
    DWORD id = 0;
    FakeProcess* target = HandleProcess(process, &id);
    if (!id) {
        Record("TerminateProcess", {"bad handle", Arg(exitCode)});
        return FALSE;
    }
    // Logged also for a process that has ended: the handle still names it.
    Record("TerminateProcess", {Arg(id), Arg(exitCode)});
    if (!target)
        return FALSE;
    EndFakeProcess(target->serial);
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE handle)
{
    sys.snapshots.erase(handle);
    return sys.handles.erase(handle) != 0;
}

// ---- files ----------------------------------------------------------------

HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD flags, HANDLE templateFile)
{
    Record("CreateFileA", {Arg(name), Hex(access), Arg(share), Arg(security ? "security" : nullptr),
                           Arg(disposition), Arg(flags), Arg(templateFile ? "template" : nullptr)});
    auto found = sys.files.find(Lower(name));
    if (found == sys.files.end() || found->second.locked) {
        sys.lastError = found == sys.files.end() ? ERROR_FILE_NOT_FOUND : ERROR_SHARING_VIOLATION;
        return INVALID_HANDLE_VALUE;
    }
    return NewHandle("file " + found->first);
}

DWORD WINAPI GetLastError(VOID) { return sys.lastError; }

DWORD WINAPI GetFileAttributesA(LPCSTR name)
{
    // A file that is there is a plain archived one; the simulation has no folders.
    return sys.files.count(Lower(name)) ? 0x20 : INVALID_FILE_ATTRIBUTES;
}

BOOL WINAPI GetFileTime(HANDLE file, LPFILETIME creation, LPFILETIME lastAccess, LPFILETIME lastWrite)
{
    auto handle = sys.handles.find(file);
    if (handle == sys.handles.end() || handle->second.compare(0, 5, "file ") != 0)
        return FALSE;
    auto found = sys.files.find(handle->second.substr(5));
    if (found == sys.files.end())
        return FALSE;
    if (creation || lastAccess)
        Record("GetFileTime", {"asked for more than the last-write time"});
    if (lastWrite)
        *lastWrite = found->second.written;
    return TRUE;
}

BOOL WINAPI FileTimeToLocalFileTime(const FILETIME* fileTime, LPFILETIME localTime)
{
    uint64_t value = ((uint64_t)fileTime->dwHighDateTime << 32 | fileTime->dwLowDateTime) + sys.localBias;
    localTime->dwLowDateTime = (DWORD)value;
    localTime->dwHighDateTime = (DWORD)(value >> 32);
    return TRUE;
}

// ---- registry -------------------------------------------------------------

LONG WINAPI RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result)
{
    if (root != HKEY_CURRENT_USER || Lower(subKey) != Lower(kSettingsKey) || options != 0 || !sys.keyExists)
        return ERROR_FILE_NOT_FOUND;
    if (access != KEY_READ && access != KEY_WRITE)
        return ERROR_ACCESS_DENIED;
    *result = (HKEY)NewHandle(access == KEY_READ ? "key read" : "key write");
    ++sys.openKeys;
    return ERROR_SUCCESS;
}

LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size)
{
    if (!sys.handles.count((HANDLE)key) || reserved)
        return ERROR_ACCESS_DENIED;
    auto found = sys.values.find(name);
    if (found == sys.values.end())
        return ERROR_FILE_NOT_FOUND;
    if (type)
        *type = found->second.type;
    DWORD needed = (DWORD)found->second.data.size();
    if (data && *size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (data && needed)
        memcpy(data, found->second.data.data(), needed);
    *size = needed;
    return ERROR_SUCCESS;
}

LONG WINAPI RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size)
{
    Record("RegSetValueExA", {Arg(name), Arg(type), Arg(size), size == 4 ? Arg(*(const DWORD*)data) : "?"});
    auto found = sys.handles.find((HANDLE)key);
    if (found == sys.handles.end() || found->second != "key write" || reserved || sys.failSetValue)
        return ERROR_ACCESS_DENIED;
    sys.values[name] = {type, std::vector<BYTE>(data, data + size)};
    return ERROR_SUCCESS;
}

LONG WINAPI RegCloseKey(HKEY key)
{
    if (!sys.handles.erase((HANDLE)key))
        return ERROR_ACCESS_DENIED;
    --sys.openKeys;
    return sys.failCloseKey ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
}

// ---- process environment --------------------------------------------------

LPSTR WINAPI GetCommandLineA(VOID) { return &sys.commandLine[0]; }

VOID WINAPI GetStartupInfoA(LPSTARTUPINFOA info)
{
    DWORD cb = info->cb;
    memset(info, 0, sizeof *info);
    info->cb = cb;
}

VOID WINAPI ExitProcess(UINT exitCode)
{
    Record("ExitProcess", {Arg(exitCode)});
    throw exitCode;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR name)
{
    if (name && sys.ntdllLoaded && Lower(name) == "ntdll.dll")
        return (HMODULE)0x7700000;
    return name ? NULL : kModule;
}

static const HMODULE kShell = (HMODULE)0x7000000;

HMODULE WINAPI LoadLibraryA(LPCSTR name)
{
    if (Lower(name) != "shell32.dll" || sys.shellMissing)
        return NULL;
    ++sys.shellLoads;
    return kShell;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name)
{
    if (module != kShell || (uintptr_t)name < 0x10000 || sys.shellLacks.count(name))
        return NULL;
    // Later shells export the plain name beside the A one, for the same function.
    if (std::string(name) == "Shell_NotifyIconA" || std::string(name) == "Shell_NotifyIcon")
        return (FARPROC)(void*)&Shell_NotifyIconA;
    if (std::string(name) == "ShellExecuteA")
        return (FARPROC)(void*)&ShellExecuteA;
    return NULL;
}

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size)
{
    if (module && module != kModule)
        return 0;
    // As the later systems do: a path that does not fit is cut and not terminated.
    DWORD length = (DWORD)sys.modulePath.size();
    DWORD copied = std::min(length, size);
    memcpy(buffer, sys.modulePath.data(), copied);
    if (copied < size)
        buffer[copied] = 0;
    return copied;
}

UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size)
{
    UINT length = (UINT)sys.windowsDirectory.size();
    if (length + 1 > size)
        return length + 1;
    memcpy(buffer, sys.windowsDirectory.c_str(), length + 1);
    return length;
}

int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b) { return strcasecmp(a, b); }

}  // extern "C"

// ---- dialog helpers ---------------------------------------------------------

void SetCheck(HWND dialog, int id, UINT state) { Window(GetDlgItem(dialog, id))->checked = state; }
UINT Checked(HWND dialog, int id) { return Window(GetDlgItem(dialog, id))->checked; }
bool ControlEnabled(HWND dialog, int id) { return Window(GetDlgItem(dialog, id))->enabled; }

void ClickRadio(HWND dialog, int id)
{
    static const int kGroup[] = {1000, 1001, 1002, 1003, 1004, 1006, 1007};
    for (int button : kGroup)
        SetCheck(dialog, button, button == id ? BST_CHECKED : BST_UNCHECKED);
}

INT_PTR DialogCommand(HWND dialog, WORD id) { return Deliver(dialog, WM_COMMAND, id, 0); }
UINT MenuFlags(HMENU menu, UINT id) { return Menu(menu) ? Menu(menu)->flags[id] : 0; }
HMENU DialogMenu(HWND dialog) { return GetMenu(dialog); }
