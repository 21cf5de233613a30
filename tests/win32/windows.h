// Stand-in for the Win32 interface: just the types, constants and functions
// the program uses, with the widths of the 32-bit platform for DWORD and LONG
// and pointer-sized message parameters. The functions are listed in
// functions.def and implemented by the fake system (fake_system.cpp).
#pragma once
#include <stddef.h>
#include <stdint.h>

#define WINAPI
#define CALLBACK
#define VOID void
#define CONST const

typedef int BOOL;
typedef int INT;
typedef unsigned int UINT;
typedef int32_t LONG;
typedef uint32_t DWORD;
typedef uint64_t ULONGLONG;
typedef uint16_t WORD;
typedef uint16_t ATOM;
typedef int16_t SHORT;
typedef uint8_t BYTE;
typedef char CHAR;
typedef DWORD* LPDWORD;
typedef BYTE* LPBYTE;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef ULONG_PTR DWORD_PTR;
typedef DWORD_PTR* PDWORD_PTR;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef DWORD REGSAM;

typedef void* HANDLE;
struct HWND__;
typedef HWND__* HWND;
struct HINSTANCE__;
typedef HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
struct HMENU__;
typedef HMENU__* HMENU;
struct HICON__;
typedef HICON__* HICON;
typedef HICON HCURSOR;
struct HBRUSH__;
typedef HBRUSH__* HBRUSH;
typedef void* HGDIOBJ;
struct HKEY__;
typedef HKEY__* HKEY;
typedef HKEY* PHKEY;

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
#define MAKEINTRESOURCEA(i) ((LPSTR)(ULONG_PTR)(WORD)(i))
#define MAKEINTRESOURCE MAKEINTRESOURCEA
#define LOWORD(l) ((WORD)(((DWORD_PTR)(l)) & 0xffff))
#define HIWORD(l) ((WORD)((((DWORD_PTR)(l)) >> 16) & 0xffff))
#define MAKELPARAM(l, h) ((LPARAM)(DWORD)((WORD)(l) | ((DWORD)(WORD)(h) << 16)))

typedef struct _FILETIME { DWORD dwLowDateTime; DWORD dwHighDateTime; } FILETIME, *LPFILETIME;
typedef struct tagPOINT { LONG x; LONG y; } POINT, *LPPOINT;
typedef struct tagRECT { LONG left, top, right, bottom; } RECT;
typedef struct tagMSG {
    HWND hwnd; UINT message; WPARAM wParam; LPARAM lParam; DWORD time; POINT pt;
} MSG, *LPMSG;
typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength; LPVOID lpSecurityDescriptor; BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;
typedef struct _STARTUPINFOA {
    DWORD cb; LPSTR lpReserved, lpDesktop, lpTitle;
    DWORD dwX, dwY, dwXSize, dwYSize, dwXCountChars, dwYCountChars, dwFillAttribute, dwFlags;
    WORD wShowWindow, cbReserved2; LPBYTE lpReserved2; HANDLE hStdInput, hStdOutput, hStdError;
} STARTUPINFOA, *LPSTARTUPINFOA;
typedef struct _PROCESS_INFORMATION {
    HANDLE hProcess, hThread; DWORD dwProcessId, dwThreadId;
} PROCESS_INFORMATION, *LPPROCESS_INFORMATION;

typedef LRESULT (CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef INT_PTR (CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);
typedef BOOL (CALLBACK* WNDENUMPROC)(HWND, LPARAM);
typedef INT_PTR (WINAPI* FARPROC)();
typedef void (CALLBACK* MSGBOXCALLBACK)(void*);

typedef struct tagWNDCLASSEXA {
    UINT cbSize; UINT style; WNDPROC lpfnWndProc; int cbClsExtra; int cbWndExtra;
    HINSTANCE hInstance; HICON hIcon; HCURSOR hCursor; HBRUSH hbrBackground;
    LPCSTR lpszMenuName; LPCSTR lpszClassName; HICON hIconSm;
} WNDCLASSEXA;
typedef struct tagCREATESTRUCTA {
    LPVOID lpCreateParams; HINSTANCE hInstance; HMENU hMenu; HWND hwndParent;
    int cy, cx, y, x; LONG style; LPCSTR lpszName; LPCSTR lpszClass; DWORD dwExStyle;
} CREATESTRUCTA;
typedef struct tagMSGBOXPARAMSA {
    UINT cbSize; HWND hwndOwner; HINSTANCE hInstance; LPCSTR lpszText; LPCSTR lpszCaption;
    DWORD dwStyle; LPCSTR lpszIcon; DWORD_PTR dwContextHelpId;
    MSGBOXCALLBACK lpfnMsgBoxCallback; DWORD dwLanguageId;
} MSGBOXPARAMSA;

// Window messages
#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_CLOSE 0x0010
#define WM_QUERYENDSESSION 0x0011
#define WM_QUIT 0x0012
#define WM_ENDSESSION 0x0016
#define WM_CONTEXTMENU 0x007B
#define WM_SETICON 0x0080
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_SYSCOMMAND 0x0112
#define WM_MOUSEMOVE 0x0200
#define WM_LBUTTONDOWN 0x0201
#define WM_LBUTTONUP 0x0202
#define WM_LBUTTONDBLCLK 0x0203
#define WM_RBUTTONDOWN 0x0204
#define WM_RBUTTONUP 0x0205
#define WM_APP 0x8000
#define ENDSESSION_LOGOFF 0x80000000u
#define SC_SCREENSAVE 0xF140
#define ICON_SMALL 0
#define ICON_BIG 1

// Window classes, windows and dialogs
#define CS_VREDRAW 0x0001
#define CS_HREDRAW 0x0002
#define WS_OVERLAPPEDWINDOW 0x00CF0000
#define WS_CLIPCHILDREN 0x02000000
#define WS_VISIBLE 0x10000000
#define WS_EX_OVERLAPPEDWINDOW 0x00000300
#define CW_USEDEFAULT ((int)0x80000000)
#define IDC_ARROW MAKEINTRESOURCEA(32512)
#define LTGRAY_BRUSH 1
#define IDOK 1
#define IDCANCEL 2
#define BST_UNCHECKED 0
#define BST_CHECKED 1
#define SW_SHOWNORMAL 1
#define SW_SHOWDEFAULT 10
#define STARTF_USESHOWWINDOW 0x00000001

// Menus and boxes
#define MF_BYCOMMAND 0x0000
#define MF_UNCHECKED 0x0000
#define MF_GRAYED 0x0001
#define MF_CHECKED 0x0008
#define TPM_RIGHTBUTTON 0x0002
#define TPM_RIGHTALIGN 0x0008
#define TPM_BOTTOMALIGN 0x0020
#define MB_OK 0x0000
#define MB_USERICON 0x0080
#define MAKELANGID(p, s) ((((WORD)(s)) << 10) | (WORD)(p))
#define LANG_ENGLISH 0x09
#define SUBLANG_ENGLISH_US 0x01

// Session end and keys
#define EWX_LOGOFF 0
#define EWX_SHUTDOWN 1
#define EWX_REBOOT 2
#define EWX_FORCE 4
#define SMTO_ABORTIFHUNG 0x0002
#define INFINITE 0xFFFFFFFFu
#define VK_SHIFT 0x10

// Files and processes
#define GENERIC_READ 0x80000000u
#define STILL_ACTIVE 259
#define WAIT_OBJECT_0 0
#define WAIT_FAILED 0xFFFFFFFFu
#define OPEN_EXISTING 3

// Registry
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)0x80000001u)
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define REG_SZ 1
#define REG_BINARY 3
#define REG_DWORD 4
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_MORE_DATA 234L

#include "tlhelp32.h"
#include "shellapi.h"

#define W32(ret, name, params) extern "C" ret WINAPI name params;
#include "functions.def"
#undef W32
