#pragma once
#include <windows.h>

// Bounded string helpers: each returns 1 when the result fits, else 0 and
// leaves the destination as an empty string.
int CopyText(char* destination, const char* source, DWORD size);
int JoinPath(char* destination, DWORD size, const char* folder, const char* name);
// Windows' own folder joined with `name`; 0 when the folder cannot be read
// or the path does not fit.
int WindowsFilePath(char* destination, DWORD size, const char* name);
// Cuts a path at its last backslash; returns 0 when it holds none.
int CutAtLastBackslash(char* path);
// Substring test that ignores the case of the letters A to Z.
int ContainsTextIgnoringCase(const char* text, const char* part);
// How many leading bytes `text` shares with `part`, A to Z folded; never
// more than the length of `part`.
DWORD FoldedPrefix(const char* text, const char* part);
// The command line without the program's own name and the blanks after it
// (in cmdline.cpp, so that a program can take it alone).
LPSTR CommandLineTail(LPSTR commandLine);
