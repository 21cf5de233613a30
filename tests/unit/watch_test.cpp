#include "test_support.h"

class StartupFiles : public ProgramTest {
protected:
    void SetUp() override
    {
        ProgramTest::SetUp();
        SetFile("C:\\CONFIG.SYS", 1000);
        SetFile("C:\\AUTOEXEC.BAT", 2000);
        sys.localBias = 36000000000LL;  // one hour east of UTC
        TakeStartupBaseline();
        sys.calls.clear();
    }
    int Changed() { return StartupFilesChanged(g_startupBaseline); }
};

TEST_F(StartupFiles, BaselineHoldsLocalTimesReadWithoutSharing)
{
    static const char* const kOpens[] = {
        "CreateFileA(\"C:\\Config.sys\", 0x80000000, 0, NULL, 3, 0, NULL)",
        "CreateFileA(\"C:\\Autoexec.bat\", 0x80000000, 0, NULL, 3, 0, NULL)",
    };
    EXPECT_EQ(0, Changed());
    EXPECT_CALLS(kOpens, Calls({"CreateFileA", "GetFileTime"}));
    EXPECT_EQ(1000u + 36000000000ULL % 0x100000000ULL, g_startupBaseline[0].dwLowDateTime);
    EXPECT_EQ(0x01D00000u + (DWORD)(36000000000ULL >> 32), g_startupBaseline[0].dwHighDateTime);
}

TEST_F(StartupFiles, AChangeOfEitherFileCountsAndStopsTheTest)
{
    SetFile("C:\\CONFIG.SYS", 1001);
    EXPECT_EQ(1, Changed());
    EXPECT_EQ(1, CountCalls("CreateFileA"));  // the second file is not opened

    SetFile("C:\\CONFIG.SYS", 1000);
    EXPECT_EQ(0, Changed());  // set back to the start-up time

    SetFile("C:\\AUTOEXEC.BAT", 2000, 0x01D00001);  // the high half alone
    EXPECT_EQ(1, Changed());
}

// A file created or deleted since start-up counts as changed; one that is
// there but held open without sharing is unknown, then or now, and never counts.
TEST_F(StartupFiles, PresenceCountsUnknownTimesNever)
{
    static const struct { bool thereThen, heldThen, thereNow, heldNow; int changed; } kCases[] = {
        {true, false, false, false, 1}, {false, false, true, false, 1}, {false, false, false, false, 0},
        {true, false, true, true, 0},   {false, false, true, true, 0},  {true, true, false, false, 0},
    };
    for (const auto& c : kCases) {
        RemoveFile("C:\\CONFIG.SYS");
        if (c.thereThen)
            SetFile("C:\\CONFIG.SYS", 1000);
        if (c.heldThen)
            HoldOpen("C:\\CONFIG.SYS");
        TakeStartupBaseline();
        RemoveFile("C:\\CONFIG.SYS");
        if (c.thereNow)
            SetFile("C:\\CONFIG.SYS", 1000);
        if (c.heldNow)
            HoldOpen("C:\\CONFIG.SYS");
        EXPECT_EQ(c.changed, Changed()) << c.thereThen << c.heldThen << c.thereNow << c.heldNow;
    }
}

// A file written since Windows started, before the program did, waits for a
// restart: it counts as changed from the start, and for good. One written
// more than FAT's 2 seconds before Windows started does not, nor one whose
// time lies more than that after now, a clock gone wrong. Times relative to
// the start.
TEST_F(StartupFiles, WrittenSinceWindowsStartedCountsFromTheStart)
{
    const uint64_t now = (uint64_t)sys.now.dwHighDateTime << 32 | sys.now.dwLowDateTime;
    const int64_t running = (int64_t)sys.tickCount * 10000;
    static const struct { int64_t written; int changed; } kCases[] = {
        {6000000000LL, 1}, {-10000000, 1}, {-30000000, 0}, {0, 1}, {36010000000LL, 1}, {36030000000LL, 0},
    };
    for (const auto& c : kCases) {
        uint64_t written = now - running + c.written;
        SetFile("C:\\CONFIG.SYS", (DWORD)written, (DWORD)(written >> 32));
        TakeStartupBaseline();
        EXPECT_EQ(c.changed, Changed()) << c.written;
        RemoveFile("C:\\CONFIG.SYS");
        EXPECT_EQ(1, Changed()) << c.written;  // deleted since
    }
}

// Replacements queued for the next boot count while their file is in
// Windows' own folder, whether it was there at the start or came later, and
// no longer once it is gone. A folder that cannot be read, or leaves no room
// for the name, leaves nothing pending.
TEST_F(StartupFiles, PendingReplacementsCountWhileTheirFileIsThere)
{
    const std::string longest = "C:\\" + std::string(245, 'W'), tooLong = "C:\\" + std::string(300, 'W');
    const struct { std::string windows, file; bool beforeStart; int changed; } kCases[] = {
        {"C:\\WINDOWS", "C:\\WINDOWS\\WININIT.INI", true, 1}, {"D:\\WIN98", "D:\\WIN98\\wininit.ini", false, 1},
        {"D:\\WIN98", "C:\\WINDOWS\\WININIT.INI", true, 0},  {"C:\\WINDOWS", "C:\\WINDOWS\\WININIT.BAK", true, 0},
        {longest, longest + "\\WININIT.INI", true, 1},     {longest + "W", longest + "W\\WININIT.INI", true, 0},
        {tooLong, tooLong + "\\WININIT.INI", true, 0},
    };
    for (const auto& c : kCases) {
        sys.windowsDirectory = c.windows;
        if (c.beforeStart)
            SetFile(c.file.c_str(), 3000);
        TakeStartupBaseline();
        SetFile(c.file.c_str(), 3000);
        EXPECT_EQ(c.changed, Changed()) << c.file;
        RemoveFile(c.file.c_str());
        EXPECT_EQ(0, Changed()) << c.file;
    }
}

TEST_F(StartupFiles, LockedAtStartUpLeavesTheBaselineUnknown)
{
    HoldOpen("C:\\CONFIG.SYS");
    TakeStartupBaseline();
    EXPECT_EQ(0, IsFileTimeSet(&g_startupBaseline[0]));
    HoldOpen("C:\\CONFIG.SYS", false);
    SetFile("C:\\CONFIG.SYS", 4242);
    EXPECT_EQ(0, Changed());
}

TEST_F(StartupFiles, ATimeZoneChangeShiftsBothFiles)
{
    sys.localBias = 0;
    EXPECT_EQ(1, Changed());
}

TEST(FileTimes, SetAndEqualLookAtBothHalves)
{
    const FILETIME zero = {0, 0}, low = {1, 0}, high = {0, 1}, both = {1, 1};
    EXPECT_EQ(0, IsFileTimeSet(&zero));
    EXPECT_EQ(1, IsFileTimeSet(&low));
    EXPECT_EQ(1, IsFileTimeSet(&high));
    EXPECT_EQ(1, FileTimesEqual(&both, &both));
    EXPECT_EQ(0, FileTimesEqual(&low, &both));
    EXPECT_EQ(0, FileTimesEqual(&high, &both));
}
