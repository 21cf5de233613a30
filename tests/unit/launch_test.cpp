#include "test_support.h"

class Launch : public ProgramTest {};

static std::string Opened(const std::string& file, const std::string& folder, const char* parameters = "NULL")
{
    return "ShellExecuteA(NULL, \"open\", \"" + file + "\", " + parameters + ", \"" + folder + "\", 1)";
}

TEST_F(Launch, RelativePathsJoinTheProgramFolderAbsoluteOnesKeepTheirOwn)
{
    static const struct { const char* path; const char* file; const char* folder; } kCases[] = {
        {"Restart.exe", "C:\\TOOLS\\Restart.exe", "C:\\TOOLS"},
        {"Help\\index.html", "C:\\TOOLS\\Help\\index.html", "C:\\TOOLS"},
        {"C:\\WINDOWS\\Exit To Dos.pif", "C:\\WINDOWS\\Exit To Dos.pif", "C:\\WINDOWS"},
        {"C:\\NAME.EXE", "C:\\NAME.EXE", "C:"},
        {"1:\\NAME.EXE", "1:\\NAME.EXE", "1:"},
        {"\\NAME.EXE", "C:\\TOOLS\\\\NAME.EXE", "C:\\TOOLS"},
        {"\\\\SERVER\\SHARE\\X.EXE", "C:\\TOOLS\\\\\\SERVER\\SHARE\\X.EXE", "C:\\TOOLS"},
        {"D:/NAME", "C:\\TOOLS\\D:/NAME", "C:\\TOOLS"},
        {"C:", "C:\\TOOLS\\C:", "C:\\TOOLS"},
    };
    for (const auto& c : kCases) {
        sys.calls.clear();
        LaunchFile(c.path, NULL);
        const std::string expected[] = {Opened(c.file, c.folder)};
        EXPECT_CALLS(expected, Calls()) << c.path;
    }
    sys.calls.clear();
    LaunchFile("Restart.exe", "/x");
    const std::string withParameters[] = {Opened("C:\\TOOLS\\Restart.exe", "C:\\TOOLS", "\"/x\"")};
    EXPECT_CALLS(withParameters, Calls());
}

// The icon added at the start, deleted and added again, and one file opened:
// all through the one SHELL32 that the first of these calls loaded, by
// whichever of the icon function's two names it exports.
TEST_F(Launch, TheShellIsLoadedOnceAndWhatItLacksFailsQuietly)
{
    static const struct { const char* shell; bool missing; std::set<std::string> lacks; bool icon, opens; int loads; } kShells[] = {
        {"both names", false, {}, true, true, 1},
        {"the plain name alone", false, {"Shell_NotifyIconA"}, true, true, 1},
        {"the A name alone", false, {"Shell_NotifyIcon"}, true, true, 1},
        {"neither name", false, {"Shell_NotifyIconA", "Shell_NotifyIcon"}, false, true, 1},
        {"no ShellExecuteA", false, {"ShellExecuteA"}, true, false, 1},
        {"no SHELL32", true, {}, false, false, 0},
    };
    for (const auto& c : kShells) {
        SCOPED_TRACE(c.shell);
        ResetSystem();
        ResetProgram();
        sys.shellMissing = c.missing;
        sys.shellLacks = c.lacks;
        SetDword("Show tray icon", 1);
        StartQuietly();
        Send(WM_APP_REFRESHTRAY);
        LaunchFile("Restart.exe", NULL);
        EXPECT_EQ(c.icon, TrayIconShown());
        EXPECT_EQ(c.icon ? 2 : 0, CountCalls("Shell_NotifyIconA"));
        EXPECT_EQ(c.opens ? 1 : 0, CountCalls("ShellExecuteA"));
        EXPECT_EQ(c.loads, sys.shellLoads);
    }
}

TEST_F(Launch, PathsThatDoNotFitOpenNothing)
{
    const std::string deep = "C:\\" + std::string(240, 'D');  // 243 characters
    static const struct { std::string module, path; bool opens; } kCases[] = {
        {deep + "\\T.EXE", std::string(16, 'n'), true},     // 243 + 1 + 16 = 260 characters
        {deep + "\\T.EXE", std::string(17, 'n'), false},
        {"C:\\" + std::string(300, 'L') + "\\T.EXE", "Restart.exe", false},  // own path cut by the system
        {"TARNWICK.EXE", "Restart.exe", false},                               // own path without a folder
        {"C:\\TOOLS\\TARNWICK.EXE", "C:\\" + std::string(257, 'a'), true},     // 260 characters
        {"C:\\TOOLS\\TARNWICK.EXE", "C:\\" + std::string(258, 'a'), false},
        {"C:\\TOOLS\\TARNWICK.EXE", "C:\\" + std::string(5000, 'a'), false},
    };
    for (const auto& c : kCases) {
        sys.calls.clear();
        sys.modulePath = c.module;
        LaunchFile(c.path.c_str(), NULL);
        EXPECT_EQ(c.opens ? 1 : 0, CountCalls("ShellExecuteA")) << c.module.size() << " " << c.path.size();
    }
}
