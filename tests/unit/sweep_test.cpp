#include "test_support.h"

TEST(ProtectedProcesses, MatchSubstringsWhateverTheCaseOfAToZ)
{
    static const struct { const char* path; int is; } kCases[] = {
        {"C:\\WINDOWS\\EXPLORER.EXE", 1}, {"c:\\windows\\explorer.exe", 1}, {"C:\\TOOLS\\MYEXPLORER.EXE", 1},
        {"KERNEL32.DLL", 1}, {"C:\\WINDOWS\\SYSTEM\\mmtask.tsk", 1}, {"MPREXE.EXE", 1}, {"MsgSrv32.Exe", 1},
        {"C:\\TOOLS\\TARNWICK.EXE", 1}, {"C:\\TOOLS\\Tarnwick.exe", 1}, {"TARNWICK.EX", 0}, {"", 0},
        {"EXPLORER.EXEC", 1}, {"EXPLORER.EX", 0},
        // Only letters fold: a dot or a digit with its 0x20 bit changed is another byte.
        {"KERNEL32\x0E" "DLL", 0}, {"KERNEL\x13" "2.DLL", 0}, {"EXPLORER\x0E" "EXE", 0},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(c.is, IsProtectedProcess(c.path)) << c.path;
}

class Sweep : public ProgramTest {
protected:
    void SetUp() override
    {
        ProgramTest::SetUp();
        // The program itself is process 100, under a name that is on no list.
        sys.processes[0].exeFile = "C:\\TOOLS\\TW11.EXE";
        AddProcess(200, "C:\\WINDOWS\\EXPLORER.EXE");
        AddProcess(300, "C:\\APPS\\EDITOR.EXE");
        AddProcess(400, "C:\\TOOLS\\MYEXPLORER.EXE");
        AddProcess(500, "c:\\windows\\explorer.exe");
        AddProcess(600, "C:\\APPS\\LOCKED.EXE");
        sys.unopenable.insert(600);
    }
};

TEST_F(Sweep, TerminatesEveryUnprotectedProcessButItself)
{
    TerminateUnprotectedProcesses();
    static const char* const kExpected[] = {
        "CreateToolhelp32Snapshot(2, 0)",
        "OpenProcess(0x1F0FFF, 0, 300)", "TerminateProcess(300, 0)",
        "OpenProcess(0x1F0FFF, 0, 600)",
    };
    EXPECT_CALLS(kExpected, Calls());
    EXPECT_TRUE(ProcessExists(100));
    EXPECT_TRUE(ProcessExists(500));
    EXPECT_TRUE(ProcessExists(600));

    // Nothing left to terminate: the sweep does nothing.
    sys.calls.clear();
    sys.unopenable.clear();
    sys.processes.resize(3);
    TerminateUnprotectedProcesses();
    EXPECT_EQ(0, CountCalls("OpenProcess"));
}

TEST_F(Sweep, BroadcastTellsEachWindowOfUnprotectedProcessesInOrder)
{
    AddProcess(700, "C:\\APPS\\LAST.EXE");
    HWND refusing = AddForeignWindow(300, FALSE);
    HWND second = AddForeignWindow(300);
    AddForeignWindow(200);         // explorer: protected
    AddForeignWindow(0);           // no owner process
    AddForeignWindow(999);         // started after the snapshot
    AddForeignWindow(100);         // the program's own window
    HWND last = AddForeignWindow(700);
    BroadcastEndSession();
    std::vector<std::string> expected;
    for (HWND w : {refusing, second, last}) {
        expected.push_back("SendMessageA(" + Name(w) + ", 0x11, 0, 0)");
        expected.push_back("SendMessageA(" + Name(w) + ", 0x16, 1, 0)");
    }
    EXPECT_EQ(expected, Calls({"SendMessageA", "TerminateProcess"}));
    EXPECT_EQ(1, CountCalls("CreateToolhelp32Snapshot"));
}
