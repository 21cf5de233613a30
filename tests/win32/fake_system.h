// One simulated system behind the stand-in headers: a registry key, files with
// last-write times, a process table, windows with their procedures and a
// posted-message queue, the Shift key, the cursor, menus, dialogs and boxes,
// and one log of the calls that have effects. Tests set it up, drive the
// program through its own entry points and compare the log.
#pragma once
#include <windows.h>
#include <deque>
#include <functional>
#include <initializer_list>
#include <map>
#include <set>
#include <string>
#include <vector>

struct FakeValue {
    DWORD type;
    std::vector<BYTE> data;
};

struct FakeWindow {
    std::string className, title;
    WNDPROC proc;
    DLGPROC dialogProc;
    DWORD processId;
    HWND parent;  // for a window of another process: its owner, which its thread enumerates with it
    int controlId;
    bool alive, enabled;
    UINT checked;
    HMENU menu;
    LRESULT reply;  // what a window of another process answers to SendMessageA
    bool visible;   // what IsWindowVisible reports
    DWORD answersAfter;  // milliseconds it takes to answer; INFINITE: never
};

struct FakeMenu {
    int parent;  // index of the menu that owns it, or -1
    std::map<UINT, UINT> flags;  // item id -> MF_CHECKED / MF_GRAYED bits set on it
    bool destroyed;
};

struct FakeProcess {
    DWORD id;
    std::string exeFile;
    unsigned serial;  // tells two processes that had the same id apart
};

struct FakeSystem {
    // Registry: the one settings key and its values.
    bool keyExists;
    std::map<std::string, FakeValue> values;
    bool failSetValue, failCloseKey;
    int openKeys;
    // Files, by lower-case path.
    struct File { FILETIME written; bool locked; };
    std::map<std::string, File> files;
    int64_t localBias;  // added by FileTimeToLocalFileTime
    // Processes; the program's own is selfId.
    std::vector<FakeProcess> processes;
    DWORD selfId;
    std::set<DWORD> unopenable;
    std::vector<DWORD> freedIds;  // ids of ended processes, the latest last, handed on as Windows 9x does
    std::map<HANDLE, std::pair<std::vector<FakeProcess>, size_t>> snapshots;  // taken list, walk position
    bool failSnapshot;  // the shared heap is out of room for a snapshot
    // Windows and the program's message queue.
    std::vector<FakeWindow> windows;
    std::deque<MSG> queue;
    std::vector<WNDCLASSEXA> classes;
    bool failRegisterClass, failCreateWindow, failEnumWindows;
    bool failExitWindows;  // ExitWindowsEx refuses the request
    std::set<std::pair<HWND, UINT>> trayIcons;
    // Menus.
    std::vector<FakeMenu> menus;
    int menusLoaded;
    // SHELL32: how often it was loaded, or missing altogether, and the names
    // it does not export.
    int shellLoads;
    bool shellMissing, failShellExecute;
    std::set<std::string> shellLacks;
    // Input and environment.
    SHORT shiftState;
    POINT cursor;
    std::string commandLine, modulePath, windowsDirectory;
    FILETIME now;     // what GetSystemTimeAsFileTime reports
    DWORD tickCount;  // milliseconds since Windows started
    bool ntdllLoaded;  // a KERNEL32 built on NTDLL: the NT family or Wine
    // Modal loops run these, if set, while the dialog, box or menu is open.
    std::function<void(HWND)> dialogAction;
    std::function<void(const MSGBOXPARAMSA&)> messageBoxAction;
    std::function<void(HWND owner)> menuAction;
    bool failDialog;
    DWORD lastError;
    // Handles handed out and not closed yet.
    std::map<HANDLE, std::string> handles;
    // The log: "Name(arg, arg)" per recorded call, and a hook run after each.
    std::vector<std::string> calls;
    std::function<void(const std::string&)> onCall;
};

extern FakeSystem sys;

// A fresh system: empty key present, the program as process 100 at
// C:\TOOLS\TARNWICK.EXE with its RESTART.EXE beside it, Windows in C:\WINDOWS
// with its "Exit To Dos.pif", and no other files.
void ResetSystem();

// Set-up helpers.
void SetDword(const char* name, DWORD value);
void SetRaw(const char* name, DWORD type, std::vector<BYTE> bytes);
bool HasValue(const char* name);
DWORD GetDword(const char* name);
void SetFile(const char* path, DWORD low, DWORD high = 0x01D00000);
void RemoveFile(const char* path);
bool HasFile(const std::string& path);
// Another program holds the file open without sharing (or lets it go again).
void HoldOpen(const char* path, bool held = true);
void AddProcess(DWORD id, const char* exeFile);
// A window of another process: seen on the screen unless told otherwise, and
// answering at once unless it takes `answersAfter` milliseconds (INFINITE: never).
// It takes the handle of the first window of another process that is gone,
// as USER hands a freed handle on.
HWND AddForeignWindow(DWORD processId, LRESULT reply = TRUE, bool visible = true, DWORD answersAfter = 0);
bool ProcessExists(DWORD id);
// A program ends itself: its windows go, and its id is free unless a handle holds it.
void QuitProcess(DWORD id);
// A program starts, and Windows 9x gives it the latest freed id that no
// handle holds; returns the id.
DWORD StartProcess(const char* exeFile);

// The program's windows.
HWND MainWindow();
LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
void Pump();  // dispatches the posted messages until the queue is empty
bool TrayIconShown();

// Dialog helpers, for dialogAction.
void ClickRadio(HWND dialog, int id);
void SetCheck(HWND dialog, int id, UINT state);
UINT Checked(HWND dialog, int id);
bool ControlEnabled(HWND dialog, int id);
INT_PTR DialogCommand(HWND dialog, WORD id);
UINT MenuFlags(HMENU menu, UINT id);
HMENU DialogMenu(HWND dialog);

// The log filtered to the named functions; with no names, all of it.
std::vector<std::string> Calls(std::initializer_list<const char*> names = {});
int CountCalls(const char* name);
// Names a handle as the log does ("w1", "m2", ...).
std::string Name(HWND window);
