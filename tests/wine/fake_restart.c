/* Stand-in for RESTART.EXE in the Wine scenarios: instead of restarting
 * Windows it appends one line to C:\restart-marker.txt telling the folder it
 * was started in and the command line it got, so that a scenario sees the
 * quick restart happen without the session ending. */
#include <windows.h>
#include <stdio.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR tail, int show)
{
    char folder[MAX_PATH];
    FILE *marker;
    (void)instance;
    (void)previous;
    (void)show;
    if (!GetCurrentDirectoryA(sizeof(folder), folder))
        folder[0] = 0;
    marker = fopen("C:\\restart-marker.txt", "a");
    if (!marker)
        return 1;
    fprintf(marker, "cwd=%s|tail=%s|pid=%lu\n", folder, tail, (unsigned long)GetCurrentProcessId());
    fclose(marker);
    return 0;
}
