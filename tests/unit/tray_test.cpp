#include "test_support.h"

class Tray : public ProgramTest {
protected:
    void SetUp() override
    {
        ProgramTest::SetUp();
        SetFile("C:\\CONFIG.SYS", 1000);
        SetDword("Show tray icon", 1);
        StartQuietly();
    }
    void Click(LPARAM mouse) { Send(WM_APP_TRAYNOTIFY, 1, mouse); }
};

TEST_F(Tray, LeftPressOpensTheDialogRightReleasePostsTheMenuAtTheCursor)
{
    sys.cursor = {70000, 5};
    // Each message on its own, so that a release cannot stand in for a press.
    static const struct { LPARAM mouse; std::vector<std::string> calls; } kMouse[] = {
        {WM_LBUTTONDOWN, {"SetForegroundWindow(w1)", "PostMessageA(w1, 0x8000, 0, 0)"}},
        {WM_LBUTTONUP, {}},
        {WM_LBUTTONDBLCLK, {}},
        {WM_RBUTTONDOWN, {}},
        {WM_RBUTTONUP, {"SetForegroundWindow(w1)", "PostMessageA(w1, 0x7B, 4096, 332144)"}},  // x cut to 16 bits: 4464
        {WM_MOUSEMOVE, {}},
    };
    for (const auto& c : kMouse) {
        sys.calls.clear();
        Click(c.mouse);
        EXPECT_EQ(c.calls, Calls({"SetForegroundWindow", "PostMessageA"})) << "mouse message " << c.mouse;
        EXPECT_EQ(1, CountCalls("DefWindowProcA")) << "mouse message " << c.mouse;
    }
}

TEST_F(Tray, ClicksDoNothingWhileTheDialogOrTheAboutBoxIsOpen)
{
    for (int* flag : {&g_dialogOpen, &g_aboutOpen}) {
        *flag = 1;
        Click(WM_LBUTTONDOWN);
        Click(WM_RBUTTONUP);
        *flag = 0;
    }
    EXPECT_EQ(0, CountCalls("PostMessageA"));
    EXPECT_EQ(4, CountCalls("DefWindowProcA"));
}

TEST_F(Tray, MenuShowsTheStoredStateOpensAtThePointAndIsDestroyed)
{
    SetDword("Intercept all restarts", 2);
    SetFile("C:\\CONFIG.SYS", 1001);
    Send(WM_CONTEXTMENU, 0, MAKELPARAM(65535, 40000));
    static const char* const kExpected[] = {
        "LoadMenuA(\"module\", #108)",
        "CheckMenuItem(m2, 40005, 8)",
        "CreateFileA(\"C:\\Config.sys\", 0x80000000, 0, NULL, 3, 0, NULL)",
        "EnableMenuItem(m2, 1000, 1)",
        "TrackPopupMenu(m2, 0x2A, 65535, 40000, 0, w1, NULL)",
        "PostMessageA(w1, 0x0, 0, 0)",
        "DestroyMenu(m1)",
        "DefWindowProcA(w1, 0x7B, 0, 2621505535)",
    };
    EXPECT_CALLS(kExpected, Calls());

    sys.calls.clear();
    sys.values.erase("Intercept all restarts");
    SetFile("C:\\CONFIG.SYS", 1000);
    Send(WM_CONTEXTMENU, 0, 0);
    EXPECT_EQ(0, CountCalls("CheckMenuItem"));
    EXPECT_EQ(0, CountCalls("EnableMenuItem"));
}

TEST_F(Tray, EveryMenuLoadedIsDestroyed)
{
    for (int i = 0; i < 1000; ++i)
        Send(WM_CONTEXTMENU, 0, 0);
    EXPECT_EQ(1000, sys.menusLoaded);
    int destroyed = 0;
    for (const FakeMenu& menu : sys.menus)
        destroyed += menu.destroyed;
    EXPECT_EQ(1000, destroyed);
}

TEST_F(Tray, ChosenEntriesArriveAsCommands)
{
    SetDword("Intercept all restarts", 0);
    sys.menuAction = [](HWND owner) { PostMessageA(owner, WM_COMMAND, IDM_INTERCEPT, 0); };
    Send(WM_CONTEXTMENU, 0, 0);
    Pump();
    EXPECT_EQ(1u, GetDword("Intercept all restarts"));
}

TEST_F(Tray, MenuCommandsDoTheirWorkThenGoToTheDefaultProcedure)
{
    static const struct { WORD id; const char* call; } kCases[] = {
        {IDM_HELP, "ShellExecuteA(NULL, \"open\", \"C:\\TOOLS\\Help\\index.html\", NULL, \"C:\\TOOLS\", 1)"},
        {IDM_INTERCEPT, "RegSetValueExA(\"Intercept all restarts\", 4, 4, 0)"},
        {IDM_DISABLETRAYICON, "RegSetValueExA(\"Show tray icon\", 4, 4, 0)"},
        {IDM_EXIT, "PostMessageA(w1, 0x10, 0, 0)"},
    };
    SetDword("Intercept all restarts", 2);
    for (const auto& c : kCases) {
        sys.calls.clear();
        Send(WM_COMMAND, c.id);
        const std::string expected[] = {c.call, "DefWindowProcA(w1, 0x111, " + std::to_string(c.id) + ", 0)"};
        EXPECT_CALLS(expected, Calls({"ShellExecuteA", "RegSetValueExA", "PostMessageA", "DefWindowProcA"}));
    }
    EXPECT_EQ(0u, GetDword("Intercept all restarts"));
    EXPECT_FALSE(TrayIconShown());
    Pump();
    EXPECT_EQ((HWND)NULL, MainWindow());  // Exit closed the program
    EXPECT_EQ(0, CountCalls("ExitWindowsEx"));
}

TEST_F(Tray, HelpInTheMenuAndTheDialogOpensTheLongNameElseTheInstalledShortOne)
{
    const std::string deep = "C:\\" + std::string(242, 'D');  // 245 characters: only INDEX.HTM would fit
    const struct { std::string folder; std::vector<const char*> pages; const char* opened; } kCases[] = {
        {"C:\\TOOLS", {"index.html"}, "index.html"},
        {"C:\\TOOLS", {"INDEX.HTM"}, "INDEX.HTM"},
        {"C:\\TOOLS", {"INDEX.HTM", "index.html"}, "index.html"},
        {"C:\\TOOLS", {}, "index.html"},
        {deep, {"INDEX.HTM"}, nullptr},
    };
    sys.dialogAction = [](HWND dialog) {
        EXPECT_EQ(TRUE, DialogCommand(dialog, IDM_HELP));
        DialogCommand(dialog, IDCANCEL);
    };
    for (const auto& c : kCases) {
        for (UINT message : {(UINT)WM_COMMAND, (UINT)WM_APP_SHOWDIALOG}) {
            SCOPED_TRACE(c.folder.substr(0, 8) + " " + std::to_string(c.pages.size()) + " " + std::to_string(message));
            RemoveFile((c.folder + "\\Help\\index.html").c_str());
            RemoveFile((c.folder + "\\Help\\INDEX.HTM").c_str());
            for (const char* page : c.pages)
                SetFile((c.folder + "\\HELP\\" + page).c_str(), 1000);
            sys.modulePath = c.folder + "\\TARNWICK.EXE";
            sys.calls.clear();
            Send(message, IDM_HELP);
            std::vector<std::string> expected;
            if (c.opened)
                expected.push_back("ShellExecuteA(NULL, \"open\", \"" + c.folder + "\\Help\\" + c.opened +
                                   "\", NULL, \"" + c.folder + "\", 1)");
            EXPECT_EQ(expected, Calls({"ShellExecuteA"}));
        }
    }
}

TEST_F(Tray, SwitchesNeverCreateTheirValueButDisablingAlwaysRemovesTheIcon)
{
    sys.values.clear();
    Send(WM_COMMAND, IDM_INTERCEPT);
    EXPECT_FALSE(HasValue("Intercept all restarts"));
    sys.failSetValue = true;
    Send(WM_COMMAND, IDM_DISABLETRAYICON);
    EXPECT_FALSE(TrayIconShown());
}

TEST_F(Tray, RefreshReaddsTheIconOnlyWhenTheSettingIsOn)
{
    static const char* const kReadd[] = {
        "Shell_NotifyIconA(NIM_DELETE, 88, w1, 1, 0, 0x0, NULL, \"\")",
        "Shell_NotifyIconA(NIM_ADD, 88, w1, 1, 7, 0x8001, icon112, \"Tarnwick\")",
    };
    sys.trayIcons.clear();  // the shell restarted and lost the icon
    EXPECT_EQ(0, Send(WM_APP_REFRESHTRAY));
    EXPECT_CALLS(kReadd, Calls({"Shell_NotifyIconA"}));
    EXPECT_TRUE(TrayIconShown());
    for (int value : {0, -1}) {
        sys.calls.clear();
        sys.values.erase("Show tray icon");
        if (value >= 0)
            SetDword("Show tray icon", (DWORD)value);
        EXPECT_EQ(0, Send(WM_APP_REFRESHTRAY));
        EXPECT_EQ(0, CountCalls("Shell_NotifyIconA"));
    }
}
