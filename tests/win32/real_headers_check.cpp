// Compiled by the mingw build only: holds the stand-in's list of functions and
// the sizes of the records the program hands to the system against the real
// headers of the 32-bit platform.
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>
#include <type_traits>

#define W32(ret, name, params) \
    static_assert(std::is_same<decltype(&::name), ret(WINAPI*) params>::value, #name " differs from the real header");
#include "functions.def"
#undef W32

static_assert(sizeof(WNDCLASSEXA) == 48, "WNDCLASSEXA");
static_assert(NOTIFYICONDATAA_V1_SIZE == 88, "NOTIFYICONDATAA, first form");
static_assert(sizeof(PROCESSENTRY32) == 296, "PROCESSENTRY32");
static_assert(sizeof(MSGBOXPARAMSA) == 40, "MSGBOXPARAMSA");
static_assert(sizeof(FILETIME) == 8 && sizeof(DWORD) == 4 && sizeof(LONG) == 4, "32-bit integers");
