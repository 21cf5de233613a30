#include <windows.h>
#include "../app/globals.h"
#include "../common/text.h"
#include "restart.h"

const char* const kWatchedFiles[2] = {"C:\\Config.sys", "C:\\Autoexec.bat"};
// Setup programs queue the replacement of files in use here; Windows carries
// them out as the PC boots and renames the file.
static const char kPendingReplacements[] = "WININIT.INI";
// Both halves of the time of a start-up file that is not there.
static const DWORD kMissingFileTime = 0xFFFFFFFF;

void GetLocalWriteTime(LPCSTR path, FILETIME* out)
{
    out->dwLowDateTime = 0;
    out->dwHighDateTime = 0;
    // No sharing: a file that another program holds open counts as unknown.
    // One that is not there has a time of its own, so that a file created or
    // deleted since start-up counts as changed.
    HANDLE file = CreateFileA(path, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            out->dwLowDateTime = out->dwHighDateTime = kMissingFileTime;
        return;
    }
    FILETIME written;
    FILETIME local;
    if (GetFileTime(file, NULL, NULL, &written) && FileTimeToLocalFileTime(&written, &local))
        *out = local;
    CloseHandle(file);
}

int IsFileTimeSet(const FILETIME* time)
{
    return time->dwLowDateTime != 0 || time->dwHighDateTime != 0;
}

int FileTimesEqual(const FILETIME* a, const FILETIME* b)
{
    return a->dwLowDateTime == b->dwLowDateTime && a->dwHighDateTime == b->dwHighDateTime;
}

// The baseline of a file changed since Windows started, before Tarnwick did:
// no time it is read at can equal it, so the file counts as changed for good.
static const DWORD kChangedBeforeStart = 0xFFFFFFFE;
// FAT keeps times to 2 seconds: a file written in the seconds before Windows
// started, or stamped a little after now, counts as written since, the safe side.
static const ULONGLONG kFatTimeStep = 20000000;

static ULONGLONG Ticks(const FILETIME* time)
{
    return (ULONGLONG)time->dwHighDateTime << 32 | time->dwLowDateTime;
}

void TakeStartupBaseline()
{
    // Windows started the time it has run before now. A file written between
    // then and now was changed after the last boot and waits for the next: an
    // installer's "restart later" and a log-off start Tarnwick again with the
    // changed file. A time after now is a clock gone wrong, not a change.
    FILETIME utc;
    FILETIME now;
    GetSystemTimeAsFileTime(&utc);
    FileTimeToLocalFileTime(&utc, &now);
    ULONGLONG started = Ticks(&now) - (ULONGLONG)GetTickCount() * 10000 - kFatTimeStep;
    for (int i = 0; i < 2; ++i) {
        FILETIME* time = &g_startupBaseline[i];
        GetLocalWriteTime(kWatchedFiles[i], time);
        if (Ticks(time) >= started && Ticks(time) <= Ticks(&now) + kFatTimeStep)
            time->dwLowDateTime = time->dwHighDateTime = kChangedBeforeStart;
    }
}

// Whether the replacements wait for a boot. Nothing says that a restart of
// Windows alone carries them out, so while they wait only a real boot will
// do, wherever the file came from and whenever.
static int ReplacementsPending()
{
    char path[MAX_PATH + 1];
    return WindowsFilePath(path, sizeof path, kPendingReplacements) && FileExists(path);
}

int StartupFilesChanged(const StartupFileBaseline baseline)
{
    // Only a time known both then and now can show a change.
    for (int i = 0; i < 2; ++i) {
        FILETIME now;
        GetLocalWriteTime(kWatchedFiles[i], &now);
        if (IsFileTimeSet(&baseline[i]) && IsFileTimeSet(&now) && !FileTimesEqual(&baseline[i], &now))
            return 1;
    }
    return ReplacementsPending();
}
