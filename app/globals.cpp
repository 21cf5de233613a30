#include "globals.h"

HINSTANCE g_hInstance;
int g_aboutOpen;
int g_dialogOpen;
int g_selfInitiated;
int g_interceptPending;
int g_roundRunning;
int g_commandFromDialog;
DialogResult g_dialogResult;
DialogResult* g_dialogRecord;
StartupFileBaseline g_startupBaseline;
