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

void LaunchFile(LPCSTR path, LPCSTR parameters)
{
    char directory[MAX_PATH + 1];
    char file[MAX_PATH + 1];
    // Absolute means a drive and a backslash as the second and third characters.
    if (path[0] && path[1] == ':' && path[2] == '\\') {
        if (!CopyText(file, path, sizeof file))
            return;
        CopyText(directory, path, sizeof directory);
        CutAtLastBackslash(directory);
    } else if (!ProgramFilePath(path, file, directory)) {
        return;
    }
    OpenWithShell(file, parameters, directory);
}
