// RESTART.EXE: which way it restarts on which system, and what it falls back to.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "fake_companion.h"
#include "fake_system.h"
#include "../../companion/restart.h"
#include "../../res/resource.h"

namespace {

const DWORD kWindows95 = 0xC3B60004;
const DWORD kWindows98 = 0xC0000A04;
const DWORD kWindowsMe = 0xC0005A04;
const DWORD kWindowsNT4 = 0x05650004;
const DWORD kWindowsXP = 0x0A280105;
const DWORD kWindows10 = 0x4A65000A;

const char kReboot[] = "ExitWindowsEx(2, 0)";
const char kWait[] = "WaitForSingleObject(started, 4294967295)";
// The running Tarnwick hears that Windows goes on.
const char kTell[] = "PostMessageA(w1, 0x8004, 0, 0)";

std::string StartRundll(const std::string& windows = "C:\\WINDOWS")
{
    return "CreateProcessA(NULL, \"" + windows + "\\RUNDLL.EXE USER.EXE,ExitWindowsExec\", startup)";
}

// A fresh system with Tarnwick's main window as w1.
void ResetWithTarnwick()
{
    ResetSystem();
    AddForeignWindow(100);
    sys.windows.back().className = MAIN_CLASS_NAME;
    sys.windows.back().title = MAIN_TITLE;
}

class CompanionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetWithTarnwick();
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

// RUNDLL.EXE returns on Windows 95/98 only when a program refused the restart.
TEST_F(CompanionTest, Windows9xWaitsForRundllFromTheWindowsFolderAndTellsOfARefusal)
{
    for (DWORD version : {kWindows95, kWindows98}) {
        ResetWithTarnwick();
        companion.version = version;
        EXPECT_EQ(1, RestartMain(""));
        EXPECT_EQ((Log{StartRundll(), kWait, kTell}), sys.calls);
        EXPECT_TRUE(sys.handles.empty());
    }

    ResetWithTarnwick();
    sys.windowsDirectory = "D:\\WIN98";
    RestartMain("");
    EXPECT_EQ(StartRundll("D:\\WIN98"), sys.calls.at(0));
}

// Where KERNEL32 sits on NTDLL (Wine reporting Windows 98) RUNDLL.EXE may
// return while the end goes on, and a wait that failed, or ended while
// RUNDLL.EXE runs on, proves nothing: no word to Tarnwick, which would then
// refuse its own restart. A RUNDLL.EXE that cannot be started leaves the
// full reboot, whose refusal is told.
TEST_F(CompanionTest, OnlyARefusalItCanTrustIsTold)
{
    const struct { bool ntdll, startFails, runsOn; DWORD wait; bool rebootRefused; Log calls; int exitCode; } cases[] = {
        {true, false, false, WAIT_OBJECT_0, false, {StartRundll(), kWait}, 0},
        {false, false, false, WAIT_FAILED, false, {StartRundll(), kWait}, 0},
        {false, false, true, WAIT_OBJECT_0, false, {StartRundll(), kWait}, 0},
        {false, true, false, WAIT_OBJECT_0, false, {StartRundll(), kReboot}, 0},
        {false, true, false, WAIT_OBJECT_0, true, {StartRundll(), kReboot, kTell}, 1},
    };
    for (const auto& c : cases) {
        ResetWithTarnwick();
        sys.ntdllLoaded = c.ntdll;
        companion.startFails = c.startFails;
        companion.runsOn = c.runsOn;
        companion.waitResult = c.wait;
        sys.failExitWindows = c.rebootRefused;
        EXPECT_EQ(c.exitCode, RestartMain("")) << c.calls.back();
        EXPECT_EQ(c.calls, sys.calls);
        EXPECT_TRUE(sys.handles.empty());
    }
}

TEST_F(CompanionTest, NtFamilyRebootsWithoutTryingRundll)
{
    for (DWORD version : {kWindowsNT4, kWindowsXP, kWindows10}) {
        ResetWithTarnwick();
        companion.version = version;
        EXPECT_EQ(0, RestartMain(""));
        EXPECT_EQ(Log{kReboot}, sys.calls);
    }
}

TEST_F(CompanionTest, WindowsFolderOfEveryLengthStaysInItsBuffers)
{
    // The longest folder that GetWindowsDirectoryA can give still makes a command.
    sys.windowsDirectory = "C:\\" + std::string(MAX_PATH - 3, 'W');
    RestartMain("");
    EXPECT_EQ(StartRundll(sys.windowsDirectory), sys.calls.at(0));

    // One that does not fit leaves only the reboot.
    ResetWithTarnwick();
    sys.windowsDirectory = "C:\\" + std::string(MAX_PATH + 40, 'W');
    EXPECT_EQ(0, RestartMain(""));
    EXPECT_EQ(Log{kReboot}, sys.calls);
}

TEST_F(CompanionTest, EntryRestartsOnlyWithoutASwitchAndLogsOffOnlyForLogoff)
{
    const char kLogOff[] = "ExitWindowsEx(0, 0)";
    // Exit code 1: Windows goes on, a program refused the restart or the log-off.
    const struct { const char* commandLine; Log calls; int exitCode; } cases[] = {
        {"RESTART.EXE", {StartRundll(), kWait, kTell}, 1},
        {"\"C:\\TOOLS\\RESTART.EXE\" \t ", {StartRundll(), kWait, kTell}, 1},
        {"RESTART.EXE /logoff", {kLogOff}, 0}, {"RESTART.EXE /LogOff  ", {kLogOff, kTell}, 1},
        {"RESTART.EXE /?", {}, 2},             {"RESTART.EXE /logoffx", {}, 2},
        {"RESTART.EXE /log-off", {}, 2},
    };
    for (const auto& c : cases) {
        ResetWithTarnwick();
        sys.commandLine = c.commandLine;
        sys.failExitWindows = c.calls.size() == 2 && c.calls[0] == kLogOff;
        EXPECT_THROW(RestartEntry(), UINT);
        Log expected = c.calls;
        expected.push_back("ExitProcess(" + std::to_string(c.exitCode) + ")");
        EXPECT_EQ(expected, sys.calls) << c.commandLine;
    }
}

}  // namespace
