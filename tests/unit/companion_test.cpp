// RESTART.EXE: which way it restarts on which system, and what it falls back to.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "fake_companion.h"
#include "fake_system.h"
#include "../../companion/restart.h"

namespace {

const DWORD kWindows95 = 0xC3B60004;
const DWORD kWindows98 = 0xC0000A04;
const DWORD kWindowsMe = 0xC0005A04;
const DWORD kWindowsNT4 = 0x05650004;
const DWORD kWindowsXP = 0x0A280105;
const DWORD kWindows10 = 0x4A65000A;

const char kQuickRestart[] = "WinExec(\"C:\\WINDOWS\\RUNDLL.EXE USER.EXE,ExitWindowsExec\", 1)";
const char kReboot[] = "ExitWindowsEx(2, 0)";

class CompanionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetSystem();
        ResetCompanion();
    }
};

typedef std::vector<std::string> Log;

TEST(CompanionChoice, WindowsRestartOnlyWhereGetVersionSetsTheTopBit)
{
    const struct {
        const char* system;
        DWORD version;
        int path;
    } cases[] = {
        {"Windows 95", kWindows95, RESTART_WINDOWS},
        {"Windows 98", kWindows98, RESTART_WINDOWS},
        {"Windows Me", kWindowsMe, RESTART_WINDOWS},
        {"Windows NT 4.0", kWindowsNT4, RESTART_REBOOT},
        {"Windows XP", kWindowsXP, RESTART_REBOOT},
        {"Windows 10", kWindows10, RESTART_REBOOT},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.path, ChooseRestartPath(c.version)) << c.system;
}

TEST_F(CompanionTest, Windows9xStartsRundllFromTheWindowsFolderAndNothingElse)
{
    for (DWORD version : {kWindows95, kWindows98}) {
        ResetSystem();
        companion.version = version;
        EXPECT_EQ(0, RestartMain(""));
        EXPECT_EQ(Log{kQuickRestart}, sys.calls);
    }

    ResetSystem();
    sys.windowsDirectory = "D:\\WIN98";
    EXPECT_EQ(0, RestartMain(""));
    EXPECT_EQ(Log{"WinExec(\"D:\\WIN98\\RUNDLL.EXE USER.EXE,ExitWindowsExec\", 1)"}, sys.calls);
}

TEST_F(CompanionTest, Windows9xRebootsWhenRundllCannotBeStarted)
{
    // WinExec's answers up to 31 are errors (2: file not found); 32 and up mean started.
    const struct {
        UINT result;
        Log calls;
    } cases[] = {
        {0, {kQuickRestart, kReboot}},
        {2, {kQuickRestart, kReboot}},
        {31, {kQuickRestart, kReboot}},
        {32, {kQuickRestart}},
    };
    for (const auto& c : cases) {
        ResetSystem();
        companion.winExecResult = c.result;
        EXPECT_EQ(0, RestartMain("")) << "WinExec answered " << c.result;
        EXPECT_EQ(c.calls, sys.calls) << "WinExec answered " << c.result;
    }
}

TEST_F(CompanionTest, NtFamilyRebootsWithoutTryingRundll)
{
    for (DWORD version : {kWindowsNT4, kWindowsXP, kWindows10}) {
        ResetSystem();
        companion.version = version;
        EXPECT_EQ(0, RestartMain(""));
        EXPECT_EQ(Log{kReboot}, sys.calls);
    }
}

TEST_F(CompanionTest, WindowsFolderOfEveryLengthStaysInItsBuffers)
{
    // The longest folder that GetWindowsDirectoryA can give still makes a command.
    sys.windowsDirectory = "C:\\" + std::string(MAX_PATH - 3, 'W');
    EXPECT_EQ(0, RestartMain(""));
    EXPECT_EQ(Log{"WinExec(\"" + sys.windowsDirectory + "\\RUNDLL.EXE USER.EXE,ExitWindowsExec\", 1)"},
              sys.calls);

    // One that does not fit leaves only the reboot.
    ResetSystem();
    sys.windowsDirectory = "C:\\" + std::string(MAX_PATH + 40, 'W');
    EXPECT_EQ(0, RestartMain(""));
    EXPECT_EQ(Log{kReboot}, sys.calls);
}

TEST_F(CompanionTest, EntryRestartsOnlyWithoutASwitchAndLogsOffOnlyForLogoff)
{
    const char kLogOff[] = "ExitWindowsEx(0, 0)";
    // Exit code 1: the system refused the log-off.
    const struct { const char* commandLine; Log calls; int exitCode; } cases[] = {
        {"RESTART.EXE", {kQuickRestart}, 0},  {"\"C:\\TOOLS\\RESTART.EXE\" \t ", {kQuickRestart}, 0},
        {"RESTART.EXE /logoff", {kLogOff}, 0}, {"RESTART.EXE /LogOff  ", {kLogOff}, 1},
        {"RESTART.EXE /?", {}, 2},             {"RESTART.EXE /logoffx", {}, 2},
        {"RESTART.EXE /log-off", {}, 2},
    };
    for (const auto& c : cases) {
        ResetSystem();
        sys.commandLine = c.commandLine;
        sys.failExitWindows = c.exitCode == 1;
        EXPECT_THROW(RestartEntry(), UINT);
        Log expected = c.calls;
        expected.push_back("ExitProcess(" + std::to_string(c.exitCode) + ")");
        EXPECT_EQ(expected, sys.calls) << c.commandLine;
    }
}

}  // namespace
