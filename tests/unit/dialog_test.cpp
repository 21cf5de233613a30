#include "test_support.h"

class Dialog : public ProgramTest {
protected:
    void SetUp() override
    {
        ProgramTest::SetUp();
        SetFile("C:\\CONFIG.SYS", 1000);
        AddProcess(300, "C:\\APPS\\EDITOR.EXE");
        StartQuietly();
    }
    // Opens the dialog, lets the user act in it, and runs what it posted.
    void Open(std::function<void(HWND)> user)
    {
        sys.dialogAction = [this, user](HWND dialog) {
            this->dialog = dialog;
            if (user)
                user(dialog);
        };
        Send(WM_APP_SHOWDIALOG);
        Pump();
    }
    int CheckedCommand()
    {
        int found = 0;
        for (int id : {1000, 1001, 1002, 1003, 1004, 1006, 1007}) {
            if (Checked(dialog, id))
                found = found ? -1 : id;
        }
        return found;
    }
    HWND dialog = NULL;
};

TEST_F(Dialog, OpensWithTheStoredChoiceAndTheQuickRestartWithdrawnAfterAFileChange)
{
    static const struct { int last; bool changed; int selected; } kCases[] = {
        {-1, false, 1000}, {-1, true, 1001}, {1000, true, 1001}, {1004, true, 1004}, {1007, false, 1007},
        {0, false, 0}, {1005, false, 0}, {40001, false, 0}, {1009, false, 0}, {1 + 65536 * 1000, false, 0},
    };
    for (const auto& c : kCases) {
        sys.values.erase("Last command");
        if (c.last >= 0)
            SetDword("Last command", (DWORD)c.last);
        SetFile("C:\\CONFIG.SYS", c.changed ? 1001 : 1000);
        int selected = -2;
        bool quickEnabled = false;
        UINT force = 9;
        Open([&](HWND d) {
            selected = CheckedCommand();
            quickEnabled = ControlEnabled(d, IDC_QUICKRESTART);
            force = Checked(d, IDC_FORCE);
        });
        EXPECT_EQ(c.selected, selected) << c.last << " changed " << c.changed;
        EXPECT_EQ(!c.changed, quickEnabled) << c.last;
        EXPECT_EQ((UINT)BST_UNCHECKED, force) << c.last;
    }
}

TEST_F(Dialog, InitSetsIconsMenuChecksAndForceAndLeavesTheFocusAlone)
{
    SetDword("Show tray icon", 1);
    SetDword("Last force setting", 2);
    INT_PTR initResult = -1;
    sys.dialogAction = [&](HWND d) {
        dialog = d;
        sys.calls.clear();
        initResult = CommandDialogProc(d, WM_INITDIALOG, 0, (LPARAM)&g_dialogResult);
    };
    Send(WM_APP_SHOWDIALOG);
    EXPECT_EQ(FALSE, initResult);
    EXPECT_EQ((UINT)BST_CHECKED, Checked(dialog, IDC_FORCE));
    EXPECT_EQ((UINT)MF_CHECKED, MenuFlags(DialogMenu(dialog), IDM_SHOWTRAYICON));
    EXPECT_EQ(0u, MenuFlags(DialogMenu(dialog), IDM_INTERCEPT));
    const std::string icons[] = {
        "SendMessageA(" + Name(dialog) + ", 0x80, 1, icon113)",
        "SendMessageA(" + Name(dialog) + ", 0x80, 0, icon112)",
    };
    EXPECT_CALLS(icons, Calls({"SendMessageA"}));
    EXPECT_EQ(&g_startupBaseline, g_dialogResult.baseline);
    EXPECT_EQ(MainWindow(), g_dialogResult.mainWindow);
}

TEST_F(Dialog, OkStoresTheChoiceAndRunsItWithTheDialogsForce)
{
    int openAtPost = -1;
    sys.onCall = [&](const std::string& call) {
        if (call.rfind("PostMessageA(w1, 0x111", 0) == 0)
            openAtPost = g_dialogOpen;
    };
    sys.shiftState = 0;
    Open([](HWND d) {
        ClickRadio(d, IDC_EXITTODOS);
        SetCheck(d, IDC_FORCE, BST_CHECKED);
        DialogCommand(d, IDOK);
    });
    EXPECT_EQ(1003u, GetDword("Last command"));
    EXPECT_EQ(1u, GetDword("Last force setting"));
    EXPECT_EQ(1, openAtPost);
    EXPECT_EQ(0, g_dialogOpen);
    const std::string expected[] = {
        "EndDialog(" + Name(dialog) + ", 1)",
        "PostMessageA(w1, 0x111, 1003, 0)",
        "TerminateProcess(300, 0)",
        "ShellExecuteA(NULL, \"open\", \"C:\\WINDOWS\\Exit To Dos.pif\", NULL, \"C:\\WINDOWS\", 1)",
    };
    EXPECT_CALLS(expected, Calls({"EndDialog", "PostMessageA", "TerminateProcess", "ShellExecuteA"}));

    // Not forced in the dialog: Shift held down does not force it.
    sys.calls.clear();
    sys.shiftState = (SHORT)0x8000;
    Open([](HWND d) {
        ClickRadio(d, IDC_SHUTDOWN);
        SetCheck(d, IDC_FORCE, BST_UNCHECKED);
        DialogCommand(d, IDOK);
    });
    static const char* const kPlain[] = {"ExitWindowsEx(1, 0)"};
    EXPECT_CALLS(kPlain, Calls({"ExitWindowsEx"}));
}

TEST_F(Dialog, OkWithoutASelectionStoresZeroAndRunsNothing)
{
    SetDword("Last command", 0);
    Open([](HWND d) { DialogCommand(d, IDOK); });
    EXPECT_EQ(0u, GetDword("Last command"));
    EXPECT_EQ(0, CountCalls("ShellExecuteA") + CountCalls("ExitWindowsEx") + CountCalls("Sleep"));
}

TEST_F(Dialog, CancelAndExitStoreNothingAndExitClosesTheProgram)
{
    SetDword("Last command", 1002);
    Open([](HWND d) {
        ClickRadio(d, IDC_FULLREBOOT);
        EXPECT_EQ(TRUE, DialogCommand(d, IDCANCEL));
    });
    EXPECT_EQ(1002u, GetDword("Last command"));
    EXPECT_EQ(0, CountCalls("PostMessageA"));
    Open([](HWND d) {
        ClickRadio(d, IDC_FULLREBOOT);
        EXPECT_EQ(TRUE, DialogCommand(d, IDM_EXIT));
    });
    EXPECT_EQ(1002u, GetDword("Last command"));
    static const char* const kOnlyClose[] = {"PostMessageA(w1, 0x10, 0, 0)"};  // no WM_COMMAND after Exit
    EXPECT_CALLS(kOnlyClose, Calls({"PostMessageA"}));
    EXPECT_EQ(0, CountCalls("ExitWindowsEx"));
    EXPECT_EQ((HWND)NULL, MainWindow());
}

TEST_F(Dialog, SwitchesChangeCheckAndIconOnlyWhenReadAndWriteSucceed)
{
    SetDword("Show tray icon", 1);
    AddTrayIcon(MainWindow());
    SetDword("Intercept all restarts", 0);
    Open([&](HWND d) {
        HMENU menu = DialogMenu(d);
        DialogCommand(d, IDM_SHOWTRAYICON);
        EXPECT_FALSE(TrayIconShown());
        EXPECT_EQ(0u, MenuFlags(menu, IDM_SHOWTRAYICON));
        DialogCommand(d, IDM_SHOWTRAYICON);
        EXPECT_TRUE(TrayIconShown());
        EXPECT_EQ((UINT)MF_CHECKED, MenuFlags(menu, IDM_SHOWTRAYICON));
        DialogCommand(d, IDM_INTERCEPT);
        EXPECT_EQ((UINT)MF_CHECKED, MenuFlags(menu, IDM_INTERCEPT));

        sys.failSetValue = true;
        DialogCommand(d, IDM_SHOWTRAYICON);
        DialogCommand(d, IDM_INTERCEPT);
        EXPECT_TRUE(TrayIconShown());
        EXPECT_EQ((UINT)MF_CHECKED, MenuFlags(menu, IDM_SHOWTRAYICON));
        EXPECT_EQ((UINT)MF_CHECKED, MenuFlags(menu, IDM_INTERCEPT));

        sys.failSetValue = false;
        sys.values.clear();
        DialogCommand(d, IDM_SHOWTRAYICON);
        DialogCommand(d, IDM_INTERCEPT);
        EXPECT_TRUE(sys.values.empty());
        EXPECT_TRUE(TrayIconShown());
    });
    EXPECT_FALSE(HasValue("Intercept all restarts"));
}

TEST_F(Dialog, OnlyOneDialogAndTheFlagIsClearedOnEveryWayOut)
{
    PostMessageA(MainWindow(), WM_APP_SHOWDIALOG, 0, 0);
    PostMessageA(MainWindow(), WM_APP_SHOWDIALOG, 0, 0);
    sys.dialogAction = [](HWND) {
        Pump();  // the second request is handled while the first dialog is open
        Send(WM_APP_TRAYNOTIFY, 1, WM_LBUTTONDOWN);
        Pump();
    };
    Pump();
    EXPECT_EQ(1, CountCalls("DialogBoxParamA"));
    EXPECT_EQ(0, g_dialogOpen);

    sys.failDialog = true;
    sys.calls.clear();
    Send(WM_APP_SHOWDIALOG);
    EXPECT_EQ(0, g_dialogOpen);
    EXPECT_EQ(0, CountCalls("PostMessageA"));

    g_aboutOpen = 1;
    sys.failDialog = false;
    Send(WM_APP_SHOWDIALOG);
    EXPECT_EQ(1, CountCalls("DialogBoxParamA"));
}

TEST_F(Dialog, HelpAndAboutKeepTheDialogOpenAndOtherIdsAreNotHandled)
{
    Open([](HWND d) {
        EXPECT_EQ(TRUE, DialogCommand(d, IDM_HELP));
        EXPECT_EQ(TRUE, DialogCommand(d, IDM_ABOUT));
        for (int id : {IDC_QUICKRESTART, IDC_FORCE, IDM_DISABLETRAYICON, 0})
            EXPECT_EQ(FALSE, DialogCommand(d, (WORD)id));
        EXPECT_EQ(1u, (unsigned)CountCalls("ShellExecuteA"));
        EXPECT_EQ(0, CountCalls("EndDialog"));
    });
    EXPECT_EQ(1, CountCalls("MessageBoxIndirectA"));
    EXPECT_NE(std::string::npos, Calls({"MessageBoxIndirectA"})[0].find(", " + Name(dialog) + ", "));
}

class About : public ProgramTest {};

TEST_F(About, ShowsOneBoxWithTheProgramsIconAndBlocksTheTrayMeanwhile)
{
    StartQuietly();
    int nested = 0;
    sys.messageBoxAction = [&](const MSGBOXPARAMSA& params) {
        EXPECT_EQ(1, g_aboutOpen);
        EXPECT_STREQ("Tarnwick v1.1 for Windows 95 (98)", std::string(params.lpszText).substr(0, 33).c_str());
        std::string text = params.lpszText;
        EXPECT_EQ(2, std::count(text.begin(), text.end(), '\n'));
        EXPECT_NE('\n', text.back());
        EXPECT_NE(std::string::npos, text.find("freeware"));
        ShowAboutBox(MainWindow());
        Send(WM_APP_TRAYNOTIFY, 1, WM_LBUTTONDOWN);
        Send(WM_APP_SHOWDIALOG);
        ++nested;
    };
    Send(WM_COMMAND, IDM_ABOUT);
    EXPECT_EQ(1, nested);
    EXPECT_EQ(0, g_aboutOpen);
    std::vector<std::string> boxes = Calls({"MessageBoxIndirectA"});
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(0u, boxes[0].find("MessageBoxIndirectA(" + std::to_string(sizeof(MSGBOXPARAMSA)) + ", w1, \"module\", \""));
    EXPECT_NE(std::string::npos, boxes[0].find("\"About Tarnwick\", 0x80, #113, 0, NULL, 1033)"));
    EXPECT_EQ(0, CountCalls("DialogBoxParamA"));
    EXPECT_EQ(0, CountCalls("PostMessageA"));
}
