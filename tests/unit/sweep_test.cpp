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

// Each round asks the windows of a string, a letter each: a agrees; r refuses;
// s is hidden and never answers; h is hidden and refuses in time; l refuses
// ten minutes late, on the screen, where a person may be answering its
// prompt. Windows the round must pass over lie between them. Its log, a
// token a message: Q a query, T and F WM_ENDSESSION TRUE and FALSE, in lower
// case when sent with the hidden window's bounded wait; the digit is the window.
TEST_F(Sweep, BroadcastAsksEveryWindowThenTellsThoseThatAgreedTheOutcome)
{
    static const struct { const char* windows; const char* log; int agreed; } kRounds[] = {
        {"aaa", "Q0 Q1 Q2 T0 T1 T2", 1}, {"raa", "Q0", 0}, {"ara", "Q0 Q1 F0", 0}, {"aar", "Q0 Q1 Q2 F0 F1", 0},
        {"asa", "Q0 q1 Q2 T0 t1 T2", 1}, {"haa", "q0", 0}, {"aal", "Q0 Q1 Q2 F0 F1", 0},
    };
    AddProcess(700, "C:\\APPS\\LAST.EXE");
    for (const auto& round : kRounds) {
        sys.windows.clear();
        sys.calls.clear();
        std::vector<HWND> asked;
        for (const char* w = round.windows; *w; ++w) {
            asked.push_back(AddForeignWindow(w[1] ? 300 : 700, *w == 'a', strchr("arl", *w) != nullptr,
                                             *w == 's' ? INFINITE : *w == 'l' ? 600000 : 0));
            AddForeignWindow(w == round.windows ? 200 : 999);  // explorer; started after the snapshot
        }
        AddForeignWindow(0);    // no owner process
        AddForeignWindow(100);  // the program's own window
        std::vector<std::string> expected;
        for (const char* t = round.log; *t; t += t[2] ? 3 : 2) {
            std::string call = Name(asked[t[1] - '0']) + (toupper(*t) == 'Q' ? ", 0x11, 0" : toupper(*t) == 'T' ? ", 0x16, 1" : ", 0x16, 0");
            expected.push_back(islower(*t) ? "SendMessageTimeoutA(" + call + ", 0, 0x2, 5000)" : "SendMessageA(" + call + ", 0)");
        }
        EXPECT_EQ(round.agreed, BroadcastEndSession()) << round.windows;
        EXPECT_EQ(expected, Calls({"SendMessageA", "SendMessageTimeoutA", "TerminateProcess"})) << round.windows;
    }

    // One window more than a round remembers: it is not asked, and those
    // asked hear that the end is off.
    sys.windows.clear();
    sys.calls.clear();
    HWND last = NULL;
    for (int i = 0; i < kMaxAgreedWindows; ++i)
        last = AddForeignWindow(300);
    AddForeignWindow(300);
    EXPECT_EQ(0, BroadcastEndSession());
    EXPECT_EQ(2 * kMaxAgreedWindows, CountCalls("SendMessageA"));
    EXPECT_EQ("SendMessageA(" + Name(last) + ", 0x16, 0, 0)", sys.calls.back());
}
