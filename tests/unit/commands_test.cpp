#include "test_support.h"

class Commands : public ProgramTest {
protected:
    void SetUp() override
    {
        ProgramTest::SetUp();
        AddProcess(200, "C:\\WINDOWS\\EXPLORER.EXE");
        AddProcess(300, "C:\\APPS\\EDITOR.EXE");
        StartQuietly();
    }
    LRESULT Command(WPARAM wParam, LPARAM lParam = 0) { return Send(WM_COMMAND, wParam, lParam); }
    void FromDialog(LONG force)
    {
        g_commandFromDialog = 1;
        g_dialogResult.force = force;
    }
    // Records g_selfInitiated at the moment the shell is asked to open a file.
    void WatchFlagAtLaunch()
    {
        sys.onCall = [this](const std::string& call) {
            if (call.rfind("ShellExecuteA", 0) == 0)
                flagAtLaunch = g_selfInitiated;
        };
    }
    int flagAtLaunch = -1;
};

TEST_F(Commands, ForceComesFromTheDialogForOneCommandThenFromShift)
{
    FromDialog(0);
    sys.shiftState = (SHORT)0x8000;
    Command(IDC_FULLREBOOT);
    FromDialog(1);
    sys.shiftState = 0;
    Command(IDC_FULLREBOOT);
    EXPECT_EQ(0, g_commandFromDialog);
    Command(IDC_FULLREBOOT);           // the next tray command reads Shift again
    sys.shiftState = (SHORT)0x8001;
    Command(IDC_FULLREBOOT);
    sys.shiftState = 1;                // the low bit alone is no key press
    Command(IDC_FULLREBOOT);
    static const char* const kExpected[] = {
        "ExitWindowsEx(2, 0)", "ExitWindowsEx(6, 0)", "ExitWindowsEx(2, 0)", "ExitWindowsEx(6, 0)",
        "ExitWindowsEx(2, 0)",
    };
    EXPECT_CALLS(kExpected, Calls({"ExitWindowsEx"}));
}

TEST_F(Commands, SessionEndsUseTheirFlagsAndMarkTheEndAsOwnFirst)
{
    const char* const kLogOff = "ShellExecuteA(NULL, \"open\", \"C:\\TOOLS\\Restart.exe\", \"/logoff\", \"C:\\TOOLS\", 1)";
    const char* const kSweep = "TerminateProcess(300, 0)";
    const SHORT kShift = (SHORT)0x8000;
    // Log off goes through the companion, so that Windows 95 ends the program
    // too; forced, it ends the programs first, as 95 and 98 fail EWX_FORCE.
    const struct { WORD id; SHORT shift; bool companion; std::vector<std::string> calls; } kCases[] = {
        {IDC_FULLREBOOT, 0, true, {"ExitWindowsEx(2, 0)"}}, {IDC_FULLREBOOT, kShift, true, {"ExitWindowsEx(6, 0)"}},
        {IDC_SHUTDOWN, 0, true, {"ExitWindowsEx(1, 0)"}},   {IDC_SHUTDOWN, kShift, true, {"ExitWindowsEx(5, 0)"}},
        {IDC_LOGOFF, 0, true, {kLogOff}},                   {IDC_LOGOFF, kShift, true, {kSweep, kLogOff}},
        {IDC_LOGOFF, 0, false, {"ExitWindowsEx(0, 0)"}},    {IDC_LOGOFF, kShift, false, {kSweep, "ExitWindowsEx(0, 0)"}},
    };
    for (const auto& c : kCases) {
        g_selfInitiated = 0;
        if (!c.companion)
            RemoveFile("C:\\TOOLS\\RESTART.EXE");
        if (!ProcessExists(300))
            AddProcess(300, "C:\\APPS\\EDITOR.EXE");
        sys.calls.clear();
        sys.shiftState = c.shift;
        int flagAtCall = -1;
        sys.onCall = [&](const std::string& call) {
            if (call.rfind("ExitWindowsEx", 0) == 0 || call.rfind("ShellExecuteA", 0) == 0)
                flagAtCall = g_selfInitiated;
        };
        EXPECT_EQ(0, Command(c.id));
        EXPECT_EQ(c.calls, Calls({"ExitWindowsEx", "TerminateProcess", "ShellExecuteA", "DefWindowProcA"}))
            << c.id << " " << c.shift;
        EXPECT_EQ(1, flagAtCall) << c.calls.back();
    }
}

TEST_F(Commands, QuickRestartSweepsOnlyWhenForcedAndBeforeTheLaunch)
{
    WatchFlagAtLaunch();
    EXPECT_EQ(0, Command(IDC_QUICKRESTART));
    static const char* const kPlain[] = {
        "ShellExecuteA(NULL, \"open\", \"C:\\TOOLS\\Restart.exe\", NULL, \"C:\\TOOLS\", 1)"};
    EXPECT_CALLS(kPlain, Calls({"TerminateProcess", "ShellExecuteA"}));
    EXPECT_EQ(1, flagAtLaunch);

    sys.calls.clear();
    sys.shiftState = (SHORT)0x8000;
    Command(MAKELPARAM(IDC_QUICKRESTART, 1), 12345);  // notification code and lParam do not matter
    static const char* const kForced[] = {
        "TerminateProcess(300, 0)",
        "ShellExecuteA(NULL, \"open\", \"C:\\TOOLS\\Restart.exe\", NULL, \"C:\\TOOLS\", 1)",
    };
    EXPECT_CALLS(kForced, Calls({"TerminateProcess", "ShellExecuteA"}));

    // Without the companion, or with a folder too long for its name, nothing
    // is swept: the restart that would follow cannot start.
    AddProcess(300, "C:\\APPS\\EDITOR.EXE");
    sys.calls.clear();
    RemoveFile("C:\\TOOLS\\RESTART.EXE");
    Command(IDC_QUICKRESTART);
    EXPECT_CALLS(kPlain, Calls({"TerminateProcess", "ShellExecuteA"}));
    sys.calls.clear();
    sys.modulePath = "C:\\" + std::string(250, 'T') + "\\TARNWICK.EXE";
    SetFile((sys.modulePath.substr(0, 253) + "\\RESTART.EXE").c_str(), 1);
    Command(IDC_QUICKRESTART);
    EXPECT_EQ(0u, Calls({"TerminateProcess", "ShellExecuteA"}).size());
    EXPECT_TRUE(ProcessExists(300));
}

TEST_F(Commands, ExitToDosOpensThePifInTheWindowsFolderWhenThePathFits)
{
    WatchFlagAtLaunch();
    sys.shiftState = (SHORT)0x8000;
    Command(IDC_EXITTODOS);
    static const char* const kForced[] = {
        "TerminateProcess(300, 0)",
        "ShellExecuteA(NULL, \"open\", \"C:\\WINDOWS\\Exit To Dos.pif\", NULL, \"C:\\WINDOWS\", 1)",
    };
    EXPECT_CALLS(kForced, Calls({"TerminateProcess", "ShellExecuteA"}));
    EXPECT_EQ(1, flagAtLaunch);

    // Without the PIF (Windows Me has no MS-DOS mode) nothing is swept.
    AddProcess(300, "C:\\APPS\\EDITOR.EXE");
    RemoveFile("C:\\WINDOWS\\EXIT TO DOS.PIF");
    sys.calls.clear();
    Command(IDC_EXITTODOS);
    const char* const kLaunchOnly[] = {kForced[1]};
    EXPECT_CALLS(kLaunchOnly, Calls({"TerminateProcess", "ShellExecuteA"}));

    // The name is appended with its own backslash whatever the folder ends
    // with; 244 characters leave just room for it and the terminator.
    sys.shiftState = 0;
    static const struct { std::string folder; bool opens; } kFolders[] = {
        {"C:\\", true},
        {"C:\\" + std::string(241, 'W'), true},
        {"C:\\" + std::string(242, 'W'), false},
        {"C:\\" + std::string(397, 'W'), false},
    };
    for (const auto& c : kFolders) {
        sys.calls.clear();
        sys.windowsDirectory = c.folder;
        Command(IDC_EXITTODOS);
        std::vector<std::string> expected;
        if (c.opens)
            expected.push_back("ShellExecuteA(NULL, \"open\", \"" + c.folder + "\\Exit To Dos.pif\", NULL, \"" +
                               c.folder + "\", 1)");
        EXPECT_EQ(expected, Calls({"ShellExecuteA"})) << c.folder.size();
    }
}

TEST_F(Commands, ScreenSaverAndSuspendWaitASecondAndNeverEndTheSession)
{
    sys.shiftState = (SHORT)0x8000;
    Command(IDC_SCREENSAVER);
    Command(IDC_SUSPEND);
    FromDialog(1);
    Command(IDC_SUSPEND);
    sys.shiftState = 0;
    Command(IDC_SUSPEND);
    static const char* const kExpected[] = {
        "Sleep(1000)", "DefWindowProcA(w1, 0x112, 61760, 0)",
        "Sleep(1000)", "SetSystemPowerState(0, 1)",
        "Sleep(1000)", "SetSystemPowerState(0, 1)",
        "Sleep(1000)", "SetSystemPowerState(0, 0)",
    };
    EXPECT_CALLS(kExpected, Calls({"Sleep", "SetSystemPowerState", "DefWindowProcA", "SendMessageA", "PostMessageA"}));
    EXPECT_EQ(0, g_selfInitiated);
}

TEST_F(Commands, OtherIdsOnlyPassThePreamble)
{
    static const WPARAM kIds[] = {0, 1005, 1008, IDC_FORCE, IDM_SHOWTRAYICON, 0xFFFF};
    for (WPARAM id : kIds) {
        sys.calls.clear();
        FromDialog(1);
        Command(id, 7);
        EXPECT_EQ(0, g_commandFromDialog) << id;
        const std::string expected[] = {"SetFocus(w1)", "DefWindowProcA(w1, 0x111, " + std::to_string(id) + ", 7)"};
        EXPECT_CALLS(expected, Calls()) << id;
    }
    EXPECT_EQ(0, g_selfInitiated);
}
