// Shared by the unit tests: a fresh simulated system and program state for
// each test, and the comparison of recorded calls with a table.
#pragma once
#include <gtest/gtest.h>
#include <iterator>
#include "fake_system.h"
#include "../../app/app.h"
#include "../../app/globals.h"
#include "../../res/resource.h"
#include "../../settings/settings.h"
#include "../program_state.h"

// Compares the recorded calls with a const table of what must happen.
#define EXPECT_CALLS(expected, actual) \
    EXPECT_EQ(std::vector<std::string>(std::begin(expected), std::end(expected)), (actual))

inline int StartProgram(const char* tail)
{
    return WinMain(GetModuleHandleA(NULL), NULL, (LPSTR)tail, SW_SHOWDEFAULT);
}

// The program after an init start: main window created, loop idle.
inline void StartQuietly()
{
    ASSERT_EQ(0, StartProgram("/init"));
    ASSERT_NE((HWND)NULL, MainWindow());
    sys.calls.clear();
}

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetSystem();
        ResetProgram();
    }
    void TearDown() override
    {
        // Every handle and key the program opened is closed again.
        EXPECT_EQ(0, sys.openKeys);
        for (const auto& handle : sys.handles)
            ADD_FAILURE() << "handle left open: " << handle.second;
    }
};
