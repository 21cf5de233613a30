#include "test_support.h"

class Interception : public ProgramTest {
protected:
    void SetUp() override
    {
        ProgramTest::SetUp();
        SetFile("C:\\CONFIG.SYS", 1000);
        SetFile("C:\\AUTOEXEC.BAT", 2000);
        AddProcess(300, "C:\\APPS\\EDITOR.EXE");
        StartQuietly();
        editor = AddForeignWindow(300);
    }
    LRESULT Query(LPARAM flags = 0) { return Send(WM_QUERYENDSESSION, 0, flags); }
    HWND editor;
};

TEST_F(Interception, RefusesOnlyAPlainEndStartedElsewhereWhileTheFilesAreUnchanged)
{
    static const struct { int value; int self; bool changed; LPARAM flags; LRESULT answer; } kRule[] = {
        {-1, 0, false, 0, TRUE},  // value missing
        {0, 0, false, 0, TRUE},
        {1, 1, false, 0, TRUE},
        {1, 0, true, 0, TRUE},
        {1, 0, false, (LPARAM)ENDSESSION_LOGOFF, TRUE},
        {1, 0, false, 1, TRUE},
        {1, 0, false, 0, FALSE},
        {2, 0, false, 0, FALSE},
    };
    for (const auto& c : kRule) {
        sys.values.erase("Intercept all restarts");
        if (c.value >= 0)
            SetDword("Intercept all restarts", (DWORD)c.value);
        g_selfInitiated = c.self;
        g_interceptPending = 0;
        SetFile("C:\\CONFIG.SYS", c.changed ? 1001 : 1000);
        EXPECT_EQ(c.answer, Query(c.flags)) << c.value << c.self << c.changed << c.flags;
        EXPECT_EQ(c.answer ? 0 : 1, g_interceptPending);
    }
    g_selfInitiated = 0;
    sys.keyExists = false;
    EXPECT_EQ(TRUE, Query());
}

TEST_F(Interception, FilesAreReadBeforeTheFlagsAreLookedAt)
{
    SetDword("Intercept all restarts", 1);
    sys.calls.clear();
    EXPECT_EQ(TRUE, Query((LPARAM)ENDSESSION_LOGOFF));
    EXPECT_EQ(2, CountCalls("CreateFileA"));
}

TEST_F(Interception, ARefusedEndBecomesOneQuickRestartAfterTheSessionGoesOn)
{
    SetDword("Intercept all restarts", 1);
    EXPECT_EQ(FALSE, Query());
    EXPECT_EQ(FALSE, Query());
    EXPECT_EQ(TRUE, Query((LPARAM)ENDSESSION_LOGOFF));  // allowing leaves the pending flag
    EXPECT_EQ(1, g_interceptPending);
    sys.calls.clear();
    EXPECT_EQ(0, Send(WM_ENDSESSION, FALSE));
    EXPECT_EQ(0, g_interceptPending);
    Send(WM_ENDSESSION, FALSE);  // nothing pending any more
    Pump();
    std::vector<std::string> expected = {
        "PostMessageA(w1, 0x8003, 0, 0)",
        "SendMessageA(" + Name(editor) + ", 0x11, 0, 0)",
        "SendMessageA(" + Name(editor) + ", 0x16, 1, 0)",
        "TerminateProcess(300, 0)",
        "ShellExecuteA(NULL, \"open\", \"C:\\TOOLS\\Restart.exe\", NULL, \"C:\\TOOLS\", 1)",
    };
    EXPECT_EQ(expected, Calls({"PostMessageA", "SendMessageA", "TerminateProcess", "ShellExecuteA"}));
    EXPECT_EQ(1, g_selfInitiated);
    EXPECT_EQ(TRUE, Query());
}

TEST_F(Interception, TheSessionEndingOrNothingPendingStartsNoRestart)
{
    SetDword("Intercept all restarts", 1);
    Send(WM_ENDSESSION, FALSE);
    EXPECT_EQ(FALSE, Query());
    EXPECT_EQ(0, Send(WM_ENDSESSION, TRUE));
    EXPECT_EQ(0, g_interceptPending);
    Pump();
    EXPECT_EQ(0, CountCalls("PostMessageA"));
    EXPECT_EQ(0, CountCalls("ShellExecuteA"));
}

TEST_F(Interception, EndsForGoodAfterAnySessionEndOfTheProgramsOwn)
{
    SetDword("Intercept all restarts", 1);
    for (WORD id : {IDC_QUICKRESTART, IDC_FULLREBOOT, IDC_LOGOFF, IDC_EXITTODOS, IDC_SHUTDOWN}) {
        g_selfInitiated = 0;
        Send(WM_COMMAND, id);
        EXPECT_EQ(TRUE, Query()) << id;
    }
    g_selfInitiated = 0;
    Send(WM_COMMAND, IDC_SCREENSAVER);
    Send(WM_COMMAND, IDC_SUSPEND);
    EXPECT_EQ(FALSE, Query());
}

TEST_F(Interception, DeferredRestartRunsWhateverTheSetting)
{
    EXPECT_EQ(0, Send(WM_APP_DEFERREDRESTART));
    EXPECT_EQ(1, CountCalls("TerminateProcess"));
    EXPECT_EQ(1, CountCalls("ShellExecuteA"));
    EXPECT_EQ(2, CountCalls("SendMessageA"));
}
