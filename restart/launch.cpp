#include <windows.h>
#include "../common/shell.h"
#include "../common/text.h"
#include "restart.h"

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
    } else {
        DWORD length = GetModuleFileNameA(NULL, directory, sizeof directory);
        if (!length || length >= sizeof directory)
            return;
        directory[length] = 0;
        // A path that does not fit, or an own path without a folder, opens nothing.
        if (!CutAtLastBackslash(directory) || !JoinPath(file, sizeof file, directory, path))
            return;
    }
    OpenWithShell(file, parameters, directory);
}
