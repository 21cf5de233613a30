#include "test_support.h"
#include "../../common/text.h"

extern "C" void EntryPoint();

TEST(CommandLine, TailSkipsTheProgramNameAndTheBlanksAfterIt)
{
    static const struct { const char* line; const char* tail; } kCases[] = {
        {"", ""},
        {"TARNWICK.EXE", ""},
        {"TARNWICK.EXE /init", "/init"},
        {"C:\\TOOLS\\TARNWICK.EXE \t /init  ", "/init  "},
        {"\"C:\\Program Files\\Tarnwick\\TARNWICK.EXE\"   /init", "/init"},
        {"\"C:\\a b\\TARNWICK.EXE\"/init", "/init"},
        {"\"\" /init", "/init"},
        {"\"C:\\no closing quote /init", ""},
        {"TARNWICK.EXE\x01\x1f\x20x \"y\"", "x \"y\""},
        {"T\xC4RNWICK.EXE /init", "/init"},  // bytes above 127 belong to the name
        {"TARNWICK.EXE\x7f /init", "/init"},
    };
    for (const auto& c : kCases) {
        std::string line = c.line;
        EXPECT_STREQ(c.tail, CommandLineTail(&line[0])) << "command line: " << c.line;
    }
}

class Startup : public ProgramTest {};

// A window of another process that looks like the running instance.
static HWND AddRunningInstance()
{
    HWND running = AddForeignWindow(200);
    sys.windows.back().className = "TarnwickMainWindowClass";
    sys.windows.back().title = "Tarnwick";
    return running;
}

TEST_F(Startup, EntryPointHandsTheTailToWinMainAndExitsWithItsResult)
{
    AddRunningInstance();
    sys.commandLine = "\"C:\\TOOLS\\TARNWICK.EXE\" /INIT";
    UINT exitCode = 99;
    try {
        EntryPoint();
    } catch (UINT code) {
        exitCode = code;
    }
    EXPECT_EQ(0u, exitCode);
    static const char* const kExpected[] = {"PostMessageA(w1, 0x8002, 0, 0)", "ExitProcess(0)"};
    EXPECT_CALLS(kExpected, Calls());
}

TEST_F(Startup, SecondStartHandsOverAndEnds)
{
    static const char* const kShow[] = {"SetForegroundWindow(w1)", "PostMessageA(w1, 0x8000, 0, 0)"};
    static const char* const kRefresh[] = {"PostMessageA(w1, 0x8002, 0, 0)"};
    static const struct { const char* tail; bool init; } kCases[] = {
        {"", false}, {"/init", true}, {"/INIT", true}, {"/Init", true},
        {"/init x", false}, {"-init", false}, {"init", false}, {"/init ", false}, {"/initx", false},
    };
    for (const auto& c : kCases) {
        ResetSystem();
        AddRunningInstance();
        EXPECT_EQ(0, StartProgram(c.tail)) << c.tail;
        if (c.init)
            EXPECT_CALLS(kRefresh, Calls()) << "tail: " << c.tail;
        else
            EXPECT_CALLS(kShow, Calls()) << "tail: " << c.tail;
    }
}

TEST_F(Startup, FirstStartRegistersTheClassAndCreatesAHiddenWindow)
{
    ASSERT_EQ(0, StartProgram("/init"));
    static const char* const kExpected[] = {
        "RegisterClassExA(\"TarnwickMainWindowClass\")",
        "CreateWindowExA(0x300, \"TarnwickMainWindowClass\", \"Tarnwick\", 0x2CF0000, -2147483648, "
        "-2147483648, -2147483648, -2147483648, NULL, NULL, \"module\", 1)",
    };
    EXPECT_CALLS(kExpected, Calls({"RegisterClassExA", "CreateWindowExA", "ShowWindow", "PostMessageA"}));
    ASSERT_EQ(1u, sys.classes.size());
    const WNDCLASSEXA& c = sys.classes[0];
    EXPECT_EQ(sizeof(WNDCLASSEXA), c.cbSize);
    EXPECT_EQ(3u, c.style);
    EXPECT_EQ(&MainWndProc, c.lpfnWndProc);
    EXPECT_EQ(0, c.cbClsExtra);
    EXPECT_EQ(0, c.cbWndExtra);
    EXPECT_EQ(GetModuleHandleA(NULL), c.hInstance);
    EXPECT_EQ(LoadIconA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDI_MAIN)), c.hIcon);
    EXPECT_EQ(LoadIconA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDI_SMALL)), c.hIconSm);
    EXPECT_EQ(LoadCursorA(NULL, IDC_ARROW), c.hCursor);
    EXPECT_EQ(GetStockObject(LTGRAY_BRUSH), (HGDIOBJ)c.hbrBackground);
    EXPECT_EQ(nullptr, c.lpszMenuName);
    EXPECT_EQ(GetModuleHandleA(NULL), g_hInstance);
}

TEST_F(Startup, PlainFirstStartOpensTheDialogOnceTheLoopRuns)
{
    ASSERT_EQ(0, StartProgram("TARNWICK.EXE"));
    static const char* const kExpected[] = {
        "CreateWindowExA(0x300, \"TarnwickMainWindowClass\", \"Tarnwick\", 0x2CF0000, -2147483648, "
        "-2147483648, -2147483648, -2147483648, NULL, NULL, \"module\", 0)",
        "PostMessageA(w1, 0x8000, 0, 0)",
        "DialogBoxParamA(\"module\", #101, NULL)",
    };
    EXPECT_CALLS(kExpected, Calls({"CreateWindowExA", "PostMessageA", "DialogBoxParamA"}));
}

TEST_F(Startup, FailuresEndWithExitCodeOneAndOnlyRegistrationBeeps)
{
    sys.failRegisterClass = true;
    EXPECT_EQ(1, StartProgram(""));
    static const char* const kBeep[] = {"MessageBeep(0)"};
    EXPECT_CALLS(kBeep, Calls({"MessageBeep", "CreateWindowExA"}));

    ResetSystem();
    sys.failCreateWindow = true;
    EXPECT_EQ(1, StartProgram(""));
    EXPECT_EQ(0, CountCalls("MessageBeep"));
}

TEST_F(Startup, TrayIconFollowsTheStoredSetting)
{
    static const char* const kAdd[] = {
        "Shell_NotifyIconA(NIM_ADD, 88, w1, 1, 7, 0x8001, icon112, \"Tarnwick\")"};
    static const struct { bool key; int value; bool shown; } kCases[] = {
        {true, 1, true}, {true, 2, true}, {true, 0, false}, {true, -1, false}, {false, 1, false},
    };
    for (const auto& c : kCases) {
        ResetSystem();
        ResetProgram();
        sys.keyExists = c.key;
        if (c.value >= 0)
            SetDword("Show tray icon", (DWORD)c.value);
        ASSERT_EQ(0, StartProgram("/init"));
        EXPECT_EQ(c.shown, TrayIconShown()) << "value " << c.value << " key " << c.key;
        EXPECT_EQ(c.shown ? 1 : 0, sys.shellLoads) << "the shell is loaded only for the icon";
        if (c.shown)
            EXPECT_CALLS(kAdd, Calls({"Shell_NotifyIconA"}));
        else
            EXPECT_EQ(0, CountCalls("Shell_NotifyIconA"));
    }
}

TEST_F(Startup, CloseRemovesTheIconEndsTheLoopAndDestroysTheWindow)
{
    SetDword("Show tray icon", 1);
    StartQuietly();
    ASSERT_TRUE(TrayIconShown());
    HWND window = MainWindow();
    Send(WM_CLOSE);
    static const char* const kExpected[] = {
        "Shell_NotifyIconA(NIM_DELETE, 88, w1, 1, 0, 0x0, NULL, \"\")",
        "PostQuitMessage(0)",
        "DefWindowProcA(w1, 0x10, 0, 0)",
        "DefWindowProcA(w1, 0x2, 0, 0)",
    };
    EXPECT_CALLS(kExpected, Calls({"Shell_NotifyIconA", "PostQuitMessage", "DefWindowProcA"}));
    EXPECT_FALSE(sys.trayIcons.count({window, 1}));
    EXPECT_EQ((HWND)NULL, MainWindow());
}

TEST_F(Startup, ExitFromTheDialogEndsTheProgramWithExitCodeZero)
{
    sys.dialogAction = [](HWND dialog) { DialogCommand(dialog, IDM_EXIT); };
    EXPECT_EQ(0, StartProgram(""));
    EXPECT_EQ((HWND)NULL, MainWindow());
    EXPECT_EQ(1, CountCalls("PostQuitMessage"));
    EXPECT_TRUE(sys.queue.empty());
}

TEST_F(Startup, OtherMessagesGoToTheDefaultProcedureUnchanged)
{
    StartQuietly();
    static const UINT kMessages[] = {WM_NULL, WM_DESTROY, WM_SYSCOMMAND, 0x7FFF, 0x8005, 0xC123};
    for (UINT message : kMessages)
        Send(message, 0x1234, -5);
    static const char* const kExpected[] = {
        "DefWindowProcA(w1, 0x0, 4660, -5)",    "DefWindowProcA(w1, 0x2, 4660, -5)",
        "DefWindowProcA(w1, 0x112, 4660, -5)",  "DefWindowProcA(w1, 0x7FFF, 4660, -5)",
        "DefWindowProcA(w1, 0x8005, 4660, -5)", "DefWindowProcA(w1, 0xC123, 4660, -5)",
    };
    EXPECT_CALLS(kExpected, Calls({"DefWindowProcA"}));
}
