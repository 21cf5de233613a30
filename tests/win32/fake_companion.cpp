#include "fake_companion.h"
#include "fake_system.h"

FakeCompanion companion;

void ResetCompanion()
{
    companion.version = 0xC0000A04;
    companion.winExecResult = 33;
}

extern "C" {

DWORD WINAPI GetVersion(VOID) { return companion.version; }

UINT WINAPI WinExec(LPCSTR commandLine, UINT show)
{
    sys.calls.push_back("WinExec(\"" + std::string(commandLine) + "\", " + std::to_string(show) + ")");
    return companion.winExecResult;
}

}  // extern "C"
