// The program's globals back to zero, as at process start. Shared by the unit
// tests and the fuzzers, which both run many program lives in one process.
#pragma once
#include "../app/globals.h"
#include "../common/shell.h"

inline void ResetProgram()
{
    g_hInstance = NULL;
    g_aboutOpen = g_dialogOpen = g_selfInitiated = g_interceptPending = g_roundRunning = g_commandFromDialog = 0;
    g_dialogResult = DialogResult();
    g_dialogRecord = NULL;
    g_startupBaseline[0] = g_startupBaseline[1] = FILETIME();
    g_shellModule = NULL;
}
