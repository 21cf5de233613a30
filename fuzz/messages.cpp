// Arbitrary sequences of what can reach the program after it has started:
// messages sent and posted to the main window with any ids and parameters,
// tray clicks, second starts, changes of the registry, the start-up files and
// the Shift key, and, inside the modal loops of the command dialog, the About
// box and the tray menu, the user's actions there and further nested
// messages. After every action the program's invariants are checked, and
// every call it makes is held against what it may do.
#include <algorithm>
#include <string.h>
#include <strings.h>
#include <set>
#include <vector>
#include "fuzz_support.h"

// At most this many actions per input, nested ones included.
static const int kMaxActions = 64;
// More dispatched messages than this in one input means the program keeps posting to itself.
static const int kMaxDispatched = 4096;

static FuzzedDataProvider* input;
static int actionsLeft, dispatched;
static int dialogDepth, aboutDepth, menuDepth;
static bool quitSeen;
static int starts;  // ShellExecuteA and ExitWindowsEx calls so far
static std::string mainName;  // the main window as the log names it
static std::set<size_t> loadedMenus;  // indices of the menus LoadMenuA made
static std::set<std::string> exactCalls;  // the calls allowed with exactly these arguments
static int windowsCreated;
static bool createExpected, initExpected;
static bool inSecondStart;
static bool sweptForLogOff;  // swept with nothing to restart into: a log-off must follow

static const WORD kSessionCommands[] = {1000, 1001, 1002, 1003, 1004, 1006, 1007};
// The processes that must never be touched, kept apart from the program's own table.
static const char* const kProtected[] = {"EXPLORER.EXE", "KERNEL32.DLL", "MMTASK.TSK",
                                         "MPREXE.EXE", "MSGSRV32.EXE", "TARNWICK.EXE"};
static const char* const kSettingNames[] = {kShowTrayIcon, kInterceptAllRestarts, kLastCommand, kLastForceSetting};
static const char* const kWatched[] = {"C:\\Config.sys", "C:\\Autoexec.bat"};

// ---- picking from the input ------------------------------------------------

template <typename T, size_t N>
static T Pick(const T (&table)[N])
{
    return table[input->ConsumeIntegralInRange<size_t>(0, N - 1)];
}

// Mostly a value from the table, sometimes any value at all.
template <typename T, size_t N>
static T PickOrAny(const T (&table)[N])
{
    size_t index = input->ConsumeIntegralInRange<size_t>(0, N);
    return index < N ? table[index] : input->ConsumeIntegral<T>();
}

// Whether `value` is one of the table's.
template <typename T, size_t N, typename V>
static bool Contains(const T (&table)[N], V value)
{
    return std::find(std::begin(table), std::end(table), value) != std::end(table);
}

static bool IsSessionCommand(unsigned long long id) { return Contains(kSessionCommands, id); }

static bool IsProtected(const std::string& exeFile)
{
    for (const char* name : kProtected) {
        if (strcasestr(exeFile.c_str(), name))
            return true;
    }
    return false;
}

static const FakeProcess* FindProcess(DWORD id)
{
    for (const FakeProcess& process : sys.processes) {
        if (process.id == id)
            return &process;
    }
    return nullptr;
}

// The fake's log names windows "w1", "w2"... and menus "m1", "m2"... by their index plus one.
static long IndexOf(const std::string& name, char kind)
{
    if (name.size() < 2 || name[0] != kind)
        return -1;
    char* end;
    long index = strtol(name.c_str() + 1, &end, 10) - 1;
    return *end ? -1 : index;
}

static FakeWindow* WindowNamed(const std::string& name)
{
    long index = IndexOf(name, 'w');
    return index >= 0 && (size_t)index < sys.windows.size() ? &sys.windows[index] : nullptr;
}

static FakeMenu* MenuNamed(const std::string& name)
{
    long index = IndexOf(name, 'm');
    return index >= 0 && (size_t)index < sys.menus.size() ? &sys.menus[index] : nullptr;
}

static bool IsDialog(const std::string& name)
{
    FakeWindow* window = WindowNamed(name);
    return window && window->dialogProc;
}

static bool Alive(HWND window)
{
    FakeWindow* w = WindowNamed(Name(window));
    return w && w->alive;
}

// ---- what the program may call ---------------------------------------------

static std::vector<std::string> Arguments(const std::string& call)
{
    std::vector<std::string> args;
    size_t open = call.find('(');
    std::string list = call.substr(open + 1, call.size() - open - 2);
    for (size_t start = 0;;) {
        size_t comma = list.find(", ", start);
        args.push_back(list.substr(start, comma - start));
        if (comma == std::string::npos)
            return args;
        start = comma + 2;
    }
}

static bool OneOf(const std::string& value, std::initializer_list<const char*> allowed)
{
    for (const char* a : allowed) {
        if (value == a)
            return true;
    }
    return false;
}

static unsigned long long Number(const std::string& text) { return strtoull(text.c_str(), nullptr, 0); }

// The calls whose every argument is fixed, for this input's folders and main window.
static void AllowExactCalls()
{
    exactCalls.clear();
    std::string folder = sys.modulePath.substr(0, sys.modulePath.rfind('\\'));
    const std::string launches[][2] = {
        {folder + "\\Restart.exe", folder},
        {folder + "\\Help\\index.html", folder},
        {sys.windowsDirectory + "\\Exit To Dos.pif", sys.windowsDirectory},
    };
    for (const auto& launch : launches) {
        if (launch[0].size() <= MAX_PATH)
            exactCalls.insert("ShellExecuteA(NULL, \"open\", \"" + launch[0] + "\", NULL, \"" + launch[1] + "\", 1)");
    }
    if (launches[0][0].size() <= MAX_PATH)
        exactCalls.insert("ShellExecuteA(NULL, \"open\", \"" + launches[0][0] + "\", \"/logoff\", \"" + folder + "\", 1)");
    for (const char* file : kWatched)
        exactCalls.insert("CreateFileA(\"" + std::string(file) + "\", 0x80000000, 0, NULL, 3, 0, NULL)");
    for (const char* name : kSettingNames) {
        std::vector<DWORD> values = {0, 1};
        if (name == kLastCommand)
            values = {0, 1000, 1001, 1002, 1003, 1004, 1006, 1007};
        for (DWORD value : values)
            exactCalls.insert("RegSetValueExA(\"" + std::string(name) + "\", 4, 4, " + std::to_string(value) + ")");
    }
    exactCalls.insert("Shell_NotifyIconA(NIM_ADD, 88, " + mainName + ", 1, 7, 0x8001, icon112, \"Tarnwick\")");
    exactCalls.insert("Shell_NotifyIconA(NIM_DELETE, 88, " + mainName + ", 1, 0, 0x0, NULL, \"\")");
    exactCalls.insert("LoadMenuA(\"module\", #108)");
    exactCalls.insert("DialogBoxParamA(\"module\", #101, NULL)");
    exactCalls.insert("RegisterClassExA(\"TarnwickMainWindowClass\")");
    exactCalls.insert("CreateToolhelp32Snapshot(2, 0)");
    exactCalls.insert("PostQuitMessage(0)");
    exactCalls.insert("Sleep(1000)");
    exactCalls.insert("SetFocus(" + mainName + ")");
}

static std::string CompanionPath() { return sys.modulePath.substr(0, sys.modulePath.rfind('\\')) + "\\Restart.exe"; }
static std::string PifPath() { return sys.windowsDirectory + "\\Exit To Dos.pif"; }
static bool CompanionThere() { return HasFile(CompanionPath()); }

// Creates the file where it is missing and deletes it where it is there.
static void ToggleFile(const std::string& path)
{
    if (HasFile(path))
        RemoveFile(path.c_str());
    else
        SetFile(path.c_str(), 1);
}

// While the dialog or the About box shows, tray clicks do nothing; only a
// second start still brings the program forward and asks for the dialog.
static bool TrayMayAct()
{
    return inSecondStart || (!g_dialogOpen && !g_aboutOpen);
}

// Why `call` is not something the program may do now, or NULL when it may.
static const char* Refusal(const std::string& call)
{
    std::string name = call.substr(0, call.find('('));
    if (exactCalls.count(call))
        return NULL;
    std::vector<std::string> a = Arguments(call);
    if (name == "SetForegroundWindow")
        return a[0] == mainName && TrayMayAct() ? NULL : "brings a window forward while the dialog or About box shows";
    if (name == "DefWindowProcA")
        return a[0] == mainName ? NULL : "passes on a message of another window";
    if (name == "PostMessageA") {
        if (a[0] != mainName)
            return "posts to another window";
        if (a[1] == "0x7B")
            return Name((HWND)(uintptr_t)Number(a[2])) == mainName && Number(a[3]) <= 0xFFFFFFFFull && TrayMayAct()
                       ? NULL
                       : "posts a bad WM_CONTEXTMENU, or one while the dialog or About box shows";
        if (a[1] == "0x8000" && !TrayMayAct())
            return "asks for the dialog while the dialog or About box shows";
        if (a[1] == "0x111")
            return a[3] == "0" && (a[2] == "0" || IsSessionCommand(Number(a[2]))) ? NULL : "posts a bad WM_COMMAND";
        bool plain = a[2] == "0" && a[3] == "0";
        return plain && OneOf(a[1], {"0x0", "0x10", "0x8000", "0x8002", "0x8003"}) ? NULL : "posts a message it never posts";
    }
    if (name == "SendMessageA" || name == "SendMessageTimeoutA") {
        bool bounded = name == "SendMessageTimeoutA";
        if (a[1] == "0x80" && !bounded)
            return IsDialog(a[0]) && (call.find(", 1, icon113)") != std::string::npos ||
                                      call.find(", 0, icon112)") != std::string::npos)
                       ? NULL
                       : "sets a bad icon";
        FakeWindow* window = WindowNamed(a[0]);
        bool ending = (a[1] == "0x11" && a[2] == "0") || (a[1] == "0x16" && OneOf(a[2], {"0", "1"}));
        if (!ending || a[3] != "0" || !window || !bounded || a[4] != "0x2")
            return "sends a message it never sends";
        // Only a window whose program shows nothing, where no person can be
        // answering, gets a few seconds; any other a day.
        bool shows = false;
        for (const FakeWindow& w : sys.windows)
            shows = shows || (w.alive && w.visible && w.processId == window->processId);
        if (a[5] != (shows ? "86400000" : "5000"))
            return "waits for a window its program shows with a short limit, or for one that shows nothing with a long one";
        const FakeProcess* process = FindProcess(window->processId);
        if (window->processId == sys.selfId || !process)
            return "sends a session end to its own window or to one of no known process";
        return IsProtected(process->exeFile) ? "sends a session end to a protected process" : NULL;
    }
    if (name == "ExitWindowsEx" && a[0] == "0")
        sweptForLogOff = false;
    if (name == "ExitWindowsEx")
        return a[1] == "0" && OneOf(a[0], {"0", "1", "2", "5", "6"}) ? NULL : "bad ExitWindowsEx flags, or a forced log-off";
    if (name == "SetSystemPowerState")
        return a[0] == "0" && OneOf(a[1], {"0", "1"}) ? NULL : "bad SetSystemPowerState arguments";
    if (name == "MessageBeep")
        return a[0] == "0" && sys.failRegisterClass ? NULL : "beeps without a failed registration";
    if (name == "OpenProcess" || name == "TerminateProcess") {
        if (name == "OpenProcess" ? a[0] != "0x1F0FFF" || a[1] != "0" : a[1] != "0" || a[0] == "bad handle")
            return "bad process access";
        // Only a forced log-off sweeps with nothing there to restart into.
        sweptForLogOff = sweptForLogOff || (!CompanionThere() && !HasFile(PifPath()));
        DWORD id = (DWORD)Number(name == "OpenProcess" ? a[2] : a[0]);
        const FakeProcess* process = FindProcess(id);
        if (id == sys.selfId)
            return "reaches for its own process";
        return process && IsProtected(process->exeFile) ? "reaches for a protected process" : NULL;
    }
    if (name == "DestroyMenu") {
        long index = IndexOf(a[0], 'm');
        FakeMenu* menu = MenuNamed(a[0]);
        return menu && !menu->destroyed && loadedMenus.count(index) ? NULL : "destroys a menu it did not load, or twice";
    }
    if (name == "CheckMenuItem") {
        FakeMenu* menu = MenuNamed(a[0]);
        bool popup = menu && menu->parent >= 0 && loadedMenus.count(menu->parent);
        if (popup)
            return a[1] == "40005" && a[2] == "8" ? NULL : "bad check mark in the tray menu";
        return menu && OneOf(a[1], {"40005", "40007"}) && OneOf(a[2], {"0", "8"}) ? NULL : "bad check mark";
    }
    if (name == "EnableMenuItem") {
        FakeMenu* menu = MenuNamed(a[0]);
        return menu && menu->parent >= 0 && a[1] == "1000" && a[2] == "1" ? NULL : "bad menu graying";
    }
    if (name == "TrackPopupMenu")
        return a[1] == "0x2A" && Number(a[2]) <= 0xFFFF && Number(a[3]) <= 0xFFFF && a[4] == "0" && a[5] == mainName &&
                       a[6] == "NULL"
                   ? NULL
                   : "bad popup menu";
    if (name == "EndDialog")
        return IsDialog(a[0]) && OneOf(a[1], {"0", "1"}) ? NULL : "bad EndDialog";
    if (name == "EnableWindow") {
        FakeWindow* control = WindowNamed(a[0]);
        return control && control->controlId == IDC_QUICKRESTART && IsDialog(Name(control->parent)) && a[1] == "0"
                   ? NULL
                   : "bad EnableWindow";
    }
    if (name == "CheckDlgButton") {
        bool radio = IsSessionCommand(Number(a[1])) && a[2] == "1";
        bool force = a[1] == "1009" && OneOf(a[2], {"0", "1"});
        return IsDialog(a[0]) && (radio || force) ? NULL : "bad CheckDlgButton";
    }
    if (name == "MessageBoxIndirectA") {
        std::string start = "MessageBoxIndirectA(" + std::to_string(sizeof(MSGBOXPARAMSA)) + ", ";
        std::string end = "\", \"About Tarnwick\", 0x80, #113, 0, NULL, 1033)";
        bool owner = a[1] == mainName || IsDialog(a[1]);
        return call.compare(0, start.size(), start) == 0 && owner && call.size() > end.size() &&
                       call.compare(call.size() - end.size(), end.size(), end) == 0
                   ? NULL
                   : "bad About box";
    }
    if (name == "CreateWindowExA") {
        std::string expected = "CreateWindowExA(0x300, \"TarnwickMainWindowClass\", \"Tarnwick\", 0x2CF0000, "
                               "-2147483648, -2147483648, -2147483648, -2147483648, NULL, NULL, \"module\", " +
                               std::string(initExpected ? "1" : "0") + ")";
        return call == expected && createExpected && ++windowsCreated == 1 ? NULL : "bad or second window creation";
    }
    return "a call the program never makes";
}

static void CheckCall(const std::string& call)
{
    if (const char* refusal = Refusal(call))
        Fail("%s: %s", refusal, call.c_str());
    if (call.compare(0, 14, "ShellExecuteA(") == 0 || call.compare(0, 14, "ExitWindowsEx(") == 0)
        ++starts;
    if (call.compare(0, 10, "LoadMenuA(") == 0)
        loadedMenus.insert(sys.menus.size());  // the fake makes the menu right after recording the call
}

// ---- invariants ------------------------------------------------------------

static bool IsFlag(int value) { return value == 0 || value == 1; }

// Holds between any two actions, at any depth of modal loops.
static void CheckState()
{
    CHECK(g_selfInitiated >= 0 && g_selfInitiated <= 2 && IsFlag(g_dialogOpen) && IsFlag(g_aboutOpen) && IsFlag(g_interceptPending) &&
              IsFlag(g_commandFromDialog),
          "a flag holds a value it never holds");
    CHECK(!sweptForLogOff, "swept with nothing there to restart into, and no log-off followed");
    CHECK(g_dialogOpen == (dialogDepth > 0), "g_dialogOpen is %d with %d dialogs open", g_dialogOpen, dialogDepth);
    CHECK(g_aboutOpen == (aboutDepth > 0), "g_aboutOpen is %d with %d About boxes open", g_aboutOpen, aboutDepth);
    CHECK(sys.handles.empty() && sys.openKeys == 0, "%zu handles and %d keys left open", sys.handles.size(), sys.openKeys);
    int live = 0;
    for (size_t index : loadedMenus)
        live += !sys.menus[index].destroyed;
    CHECK(live == menuDepth, "%d loaded menus alive with %d menus open", live, menuDepth);
    for (const auto& icon : sys.trayIcons)
        CHECK(Name(icon.first) == mainName && icon.second == 1, "a tray icon of another window or id");
}

// ---- actions ---------------------------------------------------------------

static bool Running()
{
    return actionsLeft > 0 && !quitSeen && MainWindow() != NULL;
}

// The message loop, or a modal loop, dispatching what is queued. A WM_QUIT
// ends the program, and every modal loop on the way out.
static void DispatchQueued()
{
    while (!sys.queue.empty() && !quitSeen) {
        MSG message = sys.queue.front();
        sys.queue.pop_front();
        CHECK(++dispatched <= kMaxDispatched, "the program keeps posting messages to itself");
        if (message.message == WM_QUIT)
            quitSeen = true;
        else
            DispatchMessageA(&message);
        CheckState();
    }
}

static UINT PickMessage()
{
    static const UINT kMessages[] = {
        WM_QUERYENDSESSION, WM_ENDSESSION, WM_APP_SHOWDIALOG, WM_APP_TRAYNOTIFY, WM_APP_REFRESHTRAY,
        WM_APP_DEFERREDRESTART, WM_COMMAND, WM_COMMAND, WM_CONTEXTMENU, WM_CLOSE, WM_NULL, WM_DESTROY,
        WM_SYSCOMMAND, WM_INITDIALOG, WM_APP_OWNENDOVER, WM_APP + 5, 0xC000,
    };
    UINT message = PickOrAny(kMessages);
    // Only window creation sends WM_CREATE, with its creation record.
    return message == WM_CREATE ? WM_NULL : message;
}

static WORD PickCommandId()
{
    static const WORD kIds[] = {0, IDOK, IDCANCEL, 999, 1000, 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008,
                                1009, 40000, 40001, 40002, 40003, 40004, 40005, 40006, 40007, 40008, 65535};
    return PickOrAny(kIds);
}

static WPARAM PickWParam(UINT message)
{
    static const WPARAM kValues[] = {0, 1, 2, 0x10000, 0xFFFFFFFF, (WPARAM)-1};
    if (message == WM_COMMAND) {
        WPARAM high = input->ConsumeBool() ? 0 : input->ConsumeIntegral<WORD>();
        return high << 16 | PickCommandId();
    }
    return PickOrAny(kValues);
}

static LPARAM PickLParam()
{
    static const LPARAM kValues[] = {0, 0, (LPARAM)ENDSESSION_LOGOFF, 1, WM_LBUTTONDOWN, WM_RBUTTONUP,
                                     WM_MOUSEMOVE, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONDOWN,
                                     MAKELPARAM(65535, 40000), -1};
    return PickOrAny(kValues);
}

static bool SettingOn(const char* name)
{
    DWORD value;
    return StoredValue(name, &value) && value;
}

// A message from the system, handled at once, and what its answer must be.
static void SendToMain(UINT message, WPARAM wParam, LPARAM lParam)
{
    int selfBefore = g_selfInitiated;
    int pendingBefore = g_interceptPending;
    int startsBefore = starts;
    LRESULT result = Send(message, wParam, lParam);
    if (!Alive(MainWindow()))
        return;
    switch (message) {
    case WM_QUERYENDSESSION:
        CHECK(result == 0 || result == 1, "WM_QUERYENDSESSION answered %ld", (long)result);
        if (selfBefore)
            CHECK(result == 1 && g_selfInitiated == 2, "a session end of its own refused, or its agreement forgotten");
        if (result == 0)
            CHECK(g_interceptPending && !selfBefore && lParam == 0 && SettingOn(kInterceptAllRestarts) &&
                      CompanionThere(),
                  "a session end refused against the rule");
        break;
    case WM_ENDSESSION:
        // Only a session end of its own that it agreed to, and that goes on, brings interception back.
        CHECK(g_selfInitiated == (!wParam && selfBefore == 2 ? 0 : selfBefore), "WM_ENDSESSION(%u) took the mark from %d to %d",
              (unsigned)wParam, selfBefore, g_selfInitiated);
        CHECK(result == 0, "message 0x%X answered %ld", message, (long)result);
        break;
    case WM_APP_REFRESHTRAY:
        CHECK(result == 0, "message 0x%X answered %ld", message, (long)result);
        break;
    case WM_APP_OWNENDOVER:
        // From RESTART.EXE or anyone: it can only turn interception back on.
        CHECK(result == 0 && g_selfInitiated == 0 && g_interceptPending == pendingBefore,
              "RESTART.EXE's word did more than bring interception back");
        break;
    case WM_APP_DEFERREDRESTART:
        CHECK(starts == startsBefore || pendingBefore, "the deferred restart ran without a refusal");
        CHECK(result == 0 && g_selfInitiated == (starts > startsBefore ? 1 : selfBefore),
              "the deferred restart did not mark the session end it started as its own");
        break;
    case WM_COMMAND:
        if (IsSessionCommand(LOWORD(wParam)))
            CHECK(result == 0, "session command answered %ld", (long)result);
        if (LOWORD(wParam) >= 1000 && LOWORD(wParam) <= 1004)
            CHECK(g_selfInitiated == (starts > startsBefore ? 1 : selfBefore),
                  "command %u marked a session end that it did not start, or did not mark one it did", LOWORD(wParam));
        break;
    }
}

static void Post(UINT message, WPARAM wParam, LPARAM lParam)
{
    HWND main = MainWindow();
    if (main)
        sys.queue.push_back(MSG{main, message, wParam, lParam, 0, {0, 0}});
}

static void SetValue(const char* name)
{
    static const DWORD kValues[] = {0, 1, 2, 1000, 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1009, 40001, 0xFFFFFFFF};
    if (input->ConsumeBool()) {
        SetDword(name, PickOrAny(kValues));
    } else {
        DWORD type = input->ConsumeIntegralInRange<DWORD>(0, 11);
        SetRaw(name, type, input->ConsumeBytes<BYTE>(input->ConsumeIntegralInRange<size_t>(0, 8)));
    }
}

static void SetWatchedFile(const char* path)
{
    switch (input->ConsumeIntegralInRange(0, 4)) {
    case 0: RemoveFile(path); break;
    case 1: SetFile(path, 1000); break;  // the time at start-up
    case 2: SetFile(path, input->ConsumeIntegral<DWORD>(), input->ConsumeIntegral<DWORD>()); break;
    default:
        SetFile(path, 1000);
        HoldOpen(path);
        break;
    }
}

static SHORT PickShift()
{
    static const SHORT kStates[] = {0, (SHORT)0x8000, (SHORT)0x8001, 1, -1};
    return Pick(kStates);
}

static void ChangeEnvironment()
{
    switch (input->ConsumeIntegralInRange(0, 8)) {
    case 0: sys.shiftState = PickShift(); break;
    case 1: sys.keyExists = !sys.keyExists; break;
    case 2: SetValue(Pick(kSettingNames)); break;
    case 3: sys.values.erase(Pick(kSettingNames)); break;
    case 4: SetWatchedFile(Pick(kWatched)); break;
    case 5: sys.failSetValue = input->ConsumeBool(); sys.failCloseKey = input->ConsumeBool(); break;
    case 6: sys.failDialog = !sys.failDialog; break;
    case 7: {
        const std::string files[] = {CompanionPath(), PifPath(), sys.windowsDirectory + "\\WININIT.INI"};
        ToggleFile(files[input->ConsumeIntegralInRange(0, 2)]);
        break;
    }
    default: sys.cursor = {input->ConsumeIntegral<LONG>(), input->ConsumeIntegral<LONG>()}; break;
    }
}

static LPSTR PickTail()
{
    static const char* const kTails[] = {"/init", "", "/INIT", "/Init", "/init ", "-init", "init", "/init /init"};
    return (LPSTR)Pick(kTails);
}

static void SecondStart()
{
    LPSTR tail = PickTail();
    inSecondStart = true;
    int exitCode = WinMain(GetModuleHandleA(NULL), NULL, tail, SW_SHOWDEFAULT);
    inSecondStart = false;
    CHECK(exitCode == 0, "a second start ended with %d", exitCode);
}

// One action of the outside world: the system, the shell, a second start, the user elsewhere.
static void Act()
{
    --actionsLeft;
    switch (input->ConsumeIntegralInRange(0, 9)) {
    case 0:
    case 1: {
        UINT message = PickMessage();
        WPARAM wParam = PickWParam(message);
        SendToMain(message, wParam, PickLParam());
        break;
    }
    case 2: {
        UINT message = PickMessage();
        WPARAM wParam = PickWParam(message);
        Post(message, wParam, PickLParam());
        break;
    }
    case 3: DispatchQueued(); break;
    case 4: ChangeEnvironment(); break;
    case 5: SecondStart(); break;
    case 6: SendToMain(WM_APP_TRAYNOTIFY, 1, input->ConsumeBool() ? WM_LBUTTONDOWN : WM_RBUTTONUP); break;
    case 7: Post(WM_APP_SHOWDIALOG, 0, 0); break;
    case 8: SendToMain(WM_QUERYENDSESSION, 0, input->ConsumeBool() ? 0 : (LPARAM)ENDSESSION_LOGOFF); break;
    default: SendToMain(WM_ENDSESSION, input->ConsumeBool(), 0); break;
    }
    CheckState();
}

// Up to `most` actions inside a modal loop.
static void ActInLoop(int most)
{
    for (int count = input->ConsumeIntegralInRange(0, most); count > 0 && Running(); --count)
        Act();
}

// ---- the modal loops -------------------------------------------------------

static INT_PTR ExpectedDialogAnswer(UINT message, WPARAM wParam)
{
    static const WORD kHandled[] = {IDOK, IDCANCEL, IDM_EXIT, IDM_HELP, IDM_ABOUT, IDM_INTERCEPT, IDM_SHOWTRAYICON};
    return message == WM_COMMAND && Contains(kHandled, LOWORD(wParam));
}

// The user in the dialog: radio buttons, the force box, buttons and menu
// entries, or any other message to it.
static void UseDialog(HWND dialog)
{
    static const int kButtons[] = {1000, 1001, 1002, 1003, 1004, 1006, 1007, 1005, 1009};
    static const WORD kCommands[] = {IDOK, IDCANCEL, IDM_EXIT, IDM_HELP, IDM_ABOUT, IDM_INTERCEPT, IDM_SHOWTRAYICON,
                                     IDOK, IDCANCEL, IDM_INTERCEPT, IDM_SHOWTRAYICON, IDM_DISABLETRAYICON, 1000, 0};
    UINT message = WM_COMMAND;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    switch (input->ConsumeIntegralInRange(0, 4)) {
    case 0: ClickRadio(dialog, Pick(kButtons)); return;
    case 1: SetCheck(dialog, IDC_FORCE, input->ConsumeBool() ? BST_CHECKED : BST_UNCHECKED); return;
    case 2:
    case 3: wParam = PickOrAny(kCommands); break;
    default:
        message = PickMessage();
        // The dialog manager sends WM_INITDIALOG once, with the record.
        if (message == WM_INITDIALOG)
            message = WM_NULL;
        wParam = PickWParam(message);
        lParam = PickLParam();
        break;
    }
    INT_PTR answer = CommandDialogProc(dialog, message, wParam, lParam);
    CHECK(answer == ExpectedDialogAnswer(message, wParam), "the dialog answered %ld to message 0x%X, wParam 0x%lX",
          (long)answer, message, (unsigned long)wParam);
}

static void OnDialog(HWND dialog)
{
    CHECK(dialogDepth == 0, "a second dialog opened");
    ++dialogDepth;
    CheckState();
    // The user acts in the dialog, or something from outside happens meanwhile.
    for (int count = input->ConsumeIntegralInRange(0, 8); count > 0 && Running() && Alive(dialog); --count) {
        if (input->ConsumeBool()) {
            Act();
        } else {
            --actionsLeft;
            UseDialog(dialog);
            CheckState();
        }
    }
    --dialogDepth;
}

static void OnAboutBox(const MSGBOXPARAMSA&)
{
    CHECK(aboutDepth == 0, "a second About box opened");
    ++aboutDepth;
    CheckState();
    ActInLoop(4);
    --aboutDepth;
}

// The tray menu: things happen while it is open, then an entry may be chosen,
// which arrives as WM_COMMAND, possibly with Shift held.
static void OnMenu(HWND owner)
{
    static const WORD kEntries[] = {0, IDM_EXIT, IDM_HELP, IDM_ABOUT, IDM_DISABLETRAYICON, IDM_INTERCEPT,
                                    IDC_SCREENSAVER, IDC_SUSPEND, IDC_EXITTODOS, IDC_SHUTDOWN, IDC_LOGOFF,
                                    IDC_FULLREBOOT, IDC_QUICKRESTART};
    ++menuDepth;
    CheckState();
    ActInLoop(3);
    --menuDepth;
    if (!Running())
        return;
    WORD entry = Pick(kEntries);
    if (input->ConsumeBool())
        sys.shiftState = PickShift();
    if (entry)
        sys.queue.push_back(MSG{owner, WM_COMMAND, entry, 0, 0, {0, 0}});
}

// ---- one program life per input ------------------------------------------------

static void SetUpSystem()
{
    static const char* const kModules[] = {"C:\\TOOLS\\TARNWICK.EXE", "C:\\Program Files\\Tarnwick\\Tarnwick.exe",
                                           "D:\\TARNWICK.EXE"};
    static const char* const kOwnNames[] = {"C:\\TOOLS\\TARNWICK.EXE", "TARNWICK.EXE", "Tarnwick.exe", "tarnwick.exe"};
    static const char* const kOthers[] = {
        "C:\\WINDOWS\\EXPLORER.EXE", "C:\\WINDOWS\\explorer.exe", "C:\\APPS\\EDITOR.EXE", "KERNEL32.DLL",
        "C:\\WINDOWS\\SYSTEM\\MMTASK.TSK", "C:\\WINDOWS\\SYSTEM\\MPREXE.EXE", "C:\\WINDOWS\\SYSTEM\\MSGSRV32.EXE",
        "C:\\OTHER\\TARNWICK.EXE", "C:\\TOOLS\\MYEXPLORER.EXE", "C:\\TOOLS\\tarnwick.exe", ""};
    std::string longFolder = "C:\\" + std::string(241, 'W');
    const std::string windowsFolders[] = {"C:\\WINDOWS", "D:\\WIN98", "C:\\", longFolder, longFolder + "W"};

    sys.keyExists = input->ConsumeIntegralInRange(0, 7) != 0;
    for (const char* name : kSettingNames) {
        if (input->ConsumeBool())
            SetValue(name);
    }
    for (const char* path : kWatched)
        SetWatchedFile(path);
    sys.shiftState = PickShift();
    sys.modulePath = Pick(kModules);
    sys.processes[0].exeFile = Pick(kOwnNames);
    sys.windowsDirectory = Pick(windowsFolders);
    for (const std::string& launched : {CompanionPath(), PifPath()}) {
        if (input->ConsumeIntegralInRange(0, 3) != 0)
            SetFile(launched.c_str(), 1);
    }
    std::vector<DWORD> ids = {sys.selfId};
    for (int count = input->ConsumeIntegralInRange(0, 5); count > 0; --count) {
        DWORD id = 200 + (DWORD)ids.size();
        AddProcess(id, Pick(kOthers));
        if (input->ConsumeBool())
            sys.unopenable.insert(id);
        ids.push_back(id);
    }
    for (int count = input->ConsumeIntegralInRange(0, 5); count > 0; --count) {
        size_t owner = input->ConsumeIntegralInRange<size_t>(0, ids.size() + 1);
        DWORD id = owner < ids.size() ? ids[owner] : owner == ids.size() ? 0 : 999;
        static const DWORD kAnswerTimes[] = {0, 4000, 600000, INFINITE};
        AddForeignWindow(id, input->ConsumeIntegral<int32_t>(), input->ConsumeBool(), Pick(kAnswerTimes));
    }
    sys.failRegisterClass = input->ConsumeIntegralInRange(0, 31) == 0;
    sys.failCreateWindow = input->ConsumeIntegralInRange(0, 31) == 0;
    sys.failDialog = input->ConsumeIntegralInRange(0, 7) == 0;
    sys.dialogAction = OnDialog;
    sys.messageBoxAction = OnAboutBox;
    sys.menuAction = OnMenu;
    sys.onCall = CheckCall;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider provider(data, size);
    input = &provider;
    ResetSystem();
    ResetProgram();
    actionsLeft = kMaxActions;
    dispatched = dialogDepth = aboutDepth = menuDepth = windowsCreated = 0;
    quitSeen = inSecondStart = sweptForLogOff = false;
    loadedMenus.clear();
    SetUpSystem();
    mainName = "w" + std::to_string(sys.windows.size() + 1);
    AllowExactCalls();

    LPSTR tail = PickTail();
    initExpected = strcasecmp(tail, "/init") == 0;
    createExpected = !sys.failRegisterClass;
    int exitCode = WinMain(GetModuleHandleA(NULL), NULL, tail, SW_SHOWDEFAULT);
    bool started = !sys.failRegisterClass && !sys.failCreateWindow;
    CHECK(exitCode == (started ? 0 : 1), "the first start ended with %d", exitCode);
    CHECK(started || MainWindow() == NULL, "a main window after a failed start");
    CheckState();
    while (Running() && provider.remaining_bytes() > 0)
        Act();
    DispatchQueued();
    CheckState();

    sys.dialogAction = nullptr;
    sys.messageBoxAction = nullptr;
    sys.menuAction = nullptr;
    sys.onCall = nullptr;
    return 0;
}
