#pragma once
#include <windows.h>

// Local last-write times of the watched start-up files, in table order.
typedef FILETIME StartupFileBaseline[2];

extern const char* const kWatchedFiles[2];
extern const char* const kProtectedProcesses[6];

void GetLocalWriteTime(LPCSTR path, FILETIME* out);
int IsFileTimeSet(const FILETIME* time);
int FileTimesEqual(const FILETIME* a, const FILETIME* b);
void TakeStartupBaseline();
// 1 when a watched file changed since the baseline, or while file
// replacements wait for the next boot: either needs a real restart.
int StartupFilesChanged(const StartupFileBaseline baseline);

int IsProtectedProcess(LPCSTR path);
void TerminateUnprotectedProcesses();
// The most windows one end-session round remembers as having agreed, and the
// most processes it holds.
static const int kMaxAgreedWindows = 512;
static const int kMaxRoundProcesses = 64;

// Holds every unprotected process, asks each of their windows whether the
// session may end, stopping at the first refusal, then tells the windows that
// agreed whether it ends. When none refused, ends the processes it holds that
// still run and returns 1; a round that could not look counts as refused.
int BroadcastEndSession();

// The program's folder into `folder` and that folder joined with a relative
// `path` into `file`, both of MAX_PATH + 1 characters; 0 when they do not fit.
int ProgramFilePath(LPCSTR path, char* file, char* folder);
int FileExists(LPCSTR path);
// Whether the file that LaunchFile would open for `path` is there.
int LaunchableFileExists(LPCSTR path);
// Opens the file with the shell; 1 when the shell opened it.
int LaunchFile(LPCSTR path, LPCSTR parameters);
