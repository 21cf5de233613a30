#include "test_support.h"

class Interception : public ProgramTest {
protected:
    void SetUp() override
    {
        ProgramTest::SetUp();
        Prepare();
    }
    // The program started quietly beside an editor with one window.
    void Prepare()
    {
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
    static const struct { int value; int self; bool changed; LPARAM flags; bool companion; LRESULT answer; } kRule[] = {
        {-1, 0, false, 0, true, TRUE},  // value missing
        {0, 0, false, 0, true, TRUE},
        {1, 1, false, 0, true, TRUE},
        {1, 0, true, 0, true, TRUE},
        {1, 0, false, (LPARAM)ENDSESSION_LOGOFF, true, TRUE},
        {1, 0, false, 1, true, TRUE},
        {1, 0, false, 0, false, TRUE},  // nothing could take the session end's place
        {1, 0, false, 0, true, FALSE},
        {2, 0, false, 0, true, FALSE},
    };
    for (const auto& c : kRule) {
        sys.values.erase("Intercept all restarts");
        if (c.value >= 0)
            SetDword("Intercept all restarts", (DWORD)c.value);
        g_selfInitiated = c.self;
        g_interceptPending = 0;
        SetFile("C:\\CONFIG.SYS", c.changed ? 1001 : 1000);
        if (c.companion)
            SetFile("C:\\TOOLS\\RESTART.EXE", 1);
        else
            RemoveFile("C:\\TOOLS\\RESTART.EXE");
        sys.queue.clear();
        EXPECT_EQ(c.answer, Query(c.flags)) << c.value << c.self << c.changed << c.flags << c.companion;
        EXPECT_EQ(c.answer ? 0 : 1, g_interceptPending);
        EXPECT_EQ(c.answer ? 0u : 1u, sys.queue.size());
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

TEST_F(Interception, ARefusedEndBecomesOneQuickRestartWhatTheSystemSendsAfter)
{
    SetDword("Intercept all restarts", 1);
    EXPECT_EQ(FALSE, Query());
    EXPECT_EQ(1, g_interceptPending);
    Pump();  // Windows 95 and 98 tell the refusing window nothing more
    const std::string kExpected[] = {
        "PostMessageA(w1, 0x8003, 0, 0)",
        "SendMessageTimeoutA(" + Name(editor) + ", 0x11, 0, 0, 0x2, 86400000)",
        "SendMessageTimeoutA(" + Name(editor) + ", 0x16, 1, 0, 0x2, 86400000)",
        "TerminateProcess(300, 0)",
        "ShellExecuteA(NULL, \"open\", \"C:\\TOOLS\\Restart.exe\", NULL, \"C:\\TOOLS\", 1)",
    };
    EXPECT_CALLS(kExpected, Calls({"PostMessageA", "SendMessageTimeoutA", "TerminateProcess", "ShellExecuteA"}));
    EXPECT_EQ(0, g_interceptPending);
    EXPECT_EQ(1, g_selfInitiated);
    EXPECT_EQ(TRUE, Query());
}

// Each round from a fresh start: what reaches the main window, one letter a
// message (R a refused query, L an allowed log-off, F and T WM_ENDSESSION
// FALSE and TRUE, D the restart message from elsewhere, P the posted
// messages dispatched; C opens a second editor window that answers Cancel),
// and how many quick restarts follow. Without one, interception stays on.
TEST_F(Interception, OneRestartPerRefusalRoundAndNoneOutsideIt)
{
    static const struct { const char* events; int restarts; } kRounds[] = {
        {"RP", 1},    {"RFP", 1},  {"RRFP", 1}, {"RPF", 1},  {"RPR", 1},  // R after the restart is allowed
        {"RTP", 0},   {"LFP", 0},  {"FP", 0},   {"DP", 0},   {"RTFP", 0},
        {"RTPLFP", 0}, {"RPDP", 1},   {"CRP", 0},  {"CRPRP", 0},
    };
    for (const auto& c : kRounds) {
        ResetSystem();
        ResetProgram();
        Prepare();
        SetDword("Intercept all restarts", 1);
        for (const char* e = c.events; *e; ++e) {
            switch (*e) {
            case 'R': Query(); break;
            case 'L': EXPECT_EQ(TRUE, Query((LPARAM)ENDSESSION_LOGOFF)) << c.events; break;
            case 'F': EXPECT_EQ(0, Send(WM_ENDSESSION, FALSE)) << c.events; break;
            case 'T': EXPECT_EQ(0, Send(WM_ENDSESSION, TRUE)) << c.events; break;
            case 'D': sys.queue.push_back(MSG{MainWindow(), WM_APP_DEFERREDRESTART, 0, 0, 0, {0, 0}}); break;
            case 'C': AddForeignWindow(300, FALSE); break;
            default: Pump(); break;
            }
        }
        EXPECT_EQ(c.restarts, CountCalls("ShellExecuteA")) << c.events;
        EXPECT_EQ(c.restarts, CountCalls("TerminateProcess")) << c.events;
        EXPECT_EQ(c.restarts, g_selfInitiated != 0) << c.events;
        EXPECT_EQ(0, g_interceptPending) << c.events;
        EXPECT_EQ(c.restarts ? TRUE : FALSE, Query()) << c.events;
    }
}

TEST_F(Interception, AQueryRefusedDuringTheBroadcastAddsNoSecondRestart)
{
    SetDword("Intercept all restarts", 1);
    const std::string tellEditor = "SendMessageTimeoutA(" + Name(editor) + ", 0x11, 0, 0, 0x2, 86400000)";
    LRESULT nested = -1;
    // The system asks again while the broadcast waits for the editor's
    // answer, and a program sends the restart message, as some broadcast
    // messages of the private range: neither starts a round inside it.
    sys.onCall = [&](const std::string& call) {
        if (call == tellEditor && nested == -1) {
            nested = Query();
            Send(WM_APP_DEFERREDRESTART);
        }
    };
    Query();
    Pump();
    EXPECT_EQ(FALSE, nested);
    EXPECT_EQ(2, CountCalls("PostMessageA"));
    EXPECT_EQ(1, CountCalls("ShellExecuteA"));
    EXPECT_EQ(1, CountCalls("CreateToolhelp32Snapshot"));
}

TEST_F(Interception, WithoutItsFileTheRestartEndsNothing)
{
    SetDword("Intercept all restarts", 1);
    EXPECT_EQ(FALSE, Query());
    RemoveFile("C:\\TOOLS\\RESTART.EXE");  // gone before the posted restart runs
    Pump();
    static const char* const kExpected[] = {
        "ShellExecuteA(NULL, \"open\", \"C:\\TOOLS\\Restart.exe\", NULL, \"C:\\TOOLS\", 1)"};
    EXPECT_CALLS(kExpected, Calls({"SendMessageA", "CreateToolhelp32Snapshot", "ShellExecuteA"}));
    EXPECT_EQ(1, g_selfInitiated);
}

// A session end of the program's own is allowed for as long as it can still
// happen: until Windows says that it goes on after the program agreed, or
// RESTART.EXE says so before Windows asked the program, or at once when
// nothing could be started. A WM_ENDSESSION(FALSE) without that agreement,
// as Wine sends after a refusal, changes nothing.
TEST_F(Interception, OwnSessionEndsAreAllowedUntilCalledOff)
{
    SetDword("Intercept all restarts", 1);
    for (int way : {0, 1, 2}) {  // told by Windows, told by RESTART.EXE, not started
        for (WORD id : {IDC_QUICKRESTART, IDC_FULLREBOOT, IDC_LOGOFF, IDC_EXITTODOS, IDC_SHUTDOWN}) {
            g_selfInitiated = g_interceptPending = 0;
            sys.queue.clear();
            sys.failShellExecute = sys.failExitWindows = way == 2;
            Send(WM_COMMAND, id);
            if (way == 0) {
                Send(WM_ENDSESSION, FALSE);
                EXPECT_EQ(TRUE, Query()) << id;
                Send(WM_ENDSESSION, FALSE);
            }
            if (way == 1)
                Send(WM_APP_OWNENDOVER);
            EXPECT_EQ(FALSE, Query()) << id << way;
        }
    }
    g_selfInitiated = g_interceptPending = 0;
    Send(WM_COMMAND, IDC_SCREENSAVER);
    Send(WM_COMMAND, IDC_SUSPEND);
    EXPECT_EQ(FALSE, Query());
}
