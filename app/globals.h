#pragma once
#include <windows.h>
#include "../restart/restart.h"
#include "../ui/ui.h"

// The program's module instance, saved when the main window is created.
extern HINSTANCE g_hInstance;
// The About box is showing.
extern int g_aboutOpen;
// The command dialog is showing.
extern int g_dialogOpen;
// A session end Tarnwick started can still happen: 1, or 2 once Tarnwick agreed to it.
extern int g_selfInitiated;
// A session end was refused and its quick restart, posted, has not run yet.
extern int g_interceptPending;
// The deferred restart's end-session round is under way.
extern int g_roundRunning;
// The next WM_COMMAND comes from the dialog: its force setting applies.
extern int g_commandFromDialog;
// The one record through which the dialog hands over its choice.
extern DialogResult g_dialogResult;
// The open dialog's record, as WM_INITDIALOG received it.
extern DialogResult* g_dialogRecord;
// The start-up files' last-write times when the program started.
extern StartupFileBaseline g_startupBaseline;
