#include "test_support.h"

class Settings : public ProgramTest {};

TEST_F(Settings, ReadAcceptsAnyValueOfAtMostFourBytesAndWidensShortOnes)
{
    static const struct { DWORD type; std::vector<BYTE> bytes; int ok; DWORD value; } kCases[] = {
        {REG_DWORD, {1, 0, 0, 0}, 1, 1},
        {REG_DWORD, {0x78, 0x56, 0x34, 0x12}, 1, 0x12345678},
        {REG_BINARY, {2, 0, 0, 0}, 1, 2},
        {REG_SZ, {'a', 'b', 'c', 0}, 1, 0x00636261},
        {REG_BINARY, {5}, 1, 5},
        {REG_BINARY, {0xE8, 0x03}, 1, 1000},
        {REG_BINARY, {1, 2, 3}, 1, 0x030201},
        {REG_BINARY, {}, 1, 0},
        {REG_BINARY, {1, 0, 0, 0, 0}, 0, 0},
        {REG_SZ, {'1', '0', '0', '4', 0}, 0, 0},
    };
    for (const auto& c : kCases) {
        SetRaw("Last command", c.type, c.bytes);
        DWORD value = 0xDEADBEEF;
        EXPECT_EQ(c.ok, ReadSetting("Last command", &value)) << c.bytes.size() << " bytes";
        if (c.ok) {
            EXPECT_EQ(c.value, value) << c.bytes.size() << " bytes";
        }
    }
}

TEST_F(Settings, ReadFailsWithoutKeyOrValueAndLeavesTheVariable)
{
    DWORD value = 77;
    EXPECT_EQ(0, ReadSetting("Show tray icon", &value));
    sys.keyExists = false;
    SetDword("Show tray icon", 1);
    EXPECT_EQ(0, ReadSetting("Show tray icon", &value));
    EXPECT_EQ(77u, value);
}

TEST_F(Settings, WriteStoresADwordAndReportsEveryFailure)
{
    EXPECT_EQ(1, WriteSetting("Last command", 1004));
    EXPECT_EQ(REG_DWORD, sys.values["Last command"].type);
    EXPECT_EQ(1004u, GetDword("Last command"));
    EXPECT_EQ(4u, sys.values["Last command"].data.size());

    sys.failSetValue = true;
    EXPECT_EQ(0, WriteSetting("Last command", 1001));
    EXPECT_EQ(1004u, GetDword("Last command"));

    // Stored, but the close failed: not reported as success.
    sys.failSetValue = false;
    sys.failCloseKey = true;
    EXPECT_EQ(0, WriteSetting("Last command", 1002));
    EXPECT_EQ(1002u, GetDword("Last command"));

    sys.failCloseKey = false;
    sys.keyExists = false;
    EXPECT_EQ(0, WriteSetting("Last force setting", 1));
    EXPECT_FALSE(HasValue("Last force setting"));
}

TEST_F(Settings, ToggleWritesTheOppositeOnlyAfterASuccessfulRead)
{
    DWORD now = 99;
    EXPECT_EQ(0, ToggleSetting("Intercept all restarts", &now));
    EXPECT_FALSE(HasValue("Intercept all restarts"));

    SetDword("Intercept all restarts", 2);
    EXPECT_EQ(1, ToggleSetting("Intercept all restarts", &now));
    EXPECT_EQ(0u, now);
    EXPECT_EQ(0u, GetDword("Intercept all restarts"));
    EXPECT_EQ(1, ToggleSetting("Intercept all restarts", &now));
    EXPECT_EQ(1u, GetDword("Intercept all restarts"));

    sys.failSetValue = true;
    EXPECT_EQ(0, ToggleSetting("Intercept all restarts", &now));
    EXPECT_EQ(1u, GetDword("Intercept all restarts"));
}
