#include <windows.h>
#include "app.h"
#include "../common/text.h"

// The process starts here: there is no C runtime to compute the arguments.
extern "C" void EntryPoint()
{
    STARTUPINFOA info;
    info.cb = sizeof info;
    GetStartupInfoA(&info);
    int show = (info.dwFlags & STARTF_USESHOWWINDOW) ? info.wShowWindow : SW_SHOWDEFAULT;
    ExitProcess(WinMain(GetModuleHandleA(NULL), NULL, CommandLineTail(GetCommandLineA()), show));
}
