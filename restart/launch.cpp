#include <windows.h>
#include "../common/shell.h"
#include "../common/text.h"
#include "restart.h"

int ProgramFilePath(LPCSTR path, char* file, char* folder)
{
    DWORD length = GetModuleFileNameA(NULL, folder, MAX_PATH + 1);
    if (!length || length > MAX_PATH)
        return 0;
    folder[length] = 0;
    // A path that does not fit, or an own path without a folder, gives nothing.
    return CutAtLastBackslash(folder) && JoinPath(file, MAX_PATH + 1, folder, path);
}

// The file that LaunchFile opens for `path` and its working folder, both of
// MAX_PATH + 1 characters; 0 when they do not fit.
static int LaunchPaths(LPCSTR path, char* file, char* directory)
{
    // Absolute means a drive and a backslash as the second and third characters.
    if (path[0] && path[1] == ':' && path[2] == '\\') {
        if (!CopyText(file, path, MAX_PATH + 1))
            return 0;
        CopyText(directory, path, MAX_PATH + 1);
        CutAtLastBackslash(directory);
        return 1;
    }
    return ProgramFilePath(path, file, directory);
}

int FileExists(LPCSTR path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

int LaunchableFileExists(LPCSTR path)
{
    char directory[MAX_PATH + 1];
    char file[MAX_PATH + 1];
    return LaunchPaths(path, file, directory) && FileExists(file);
}

int LaunchFile(LPCSTR path, LPCSTR parameters)
{
    char directory[MAX_PATH + 1];
    char file[MAX_PATH + 1];
    return LaunchPaths(path, file, directory) && OpenWithShell(file, parameters, directory);
}
