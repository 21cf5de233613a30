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

// Each round asks the windows of a string, a letter each, each of a process
// of its own: a agrees; r refuses; l refuses ten minutes late and g never
// answers, hung, all three on the screen; s is hidden and never answers; h is
// hidden and refuses in time; o is hidden but owns a window on the screen, and
// refuses after eight seconds, as behind its "Save changes?" box; b is hidden
// and shows nothing until it puts up that box when asked; z is hidden and
// silent, and puts its box up while the next window is asked; e is on the
// screen and its program ends itself while asked; n agrees, and while the
// next window is asked its program quits and a new copy of it starts, which
// takes the freed window handle (and the freed id, unless the round holds
// it). Windows the round must pass over lie between them. Its log, a token a
// message: Q a query, T and F WM_ENDSESSION TRUE and FALSE, in lower case
// when sent with the bounded wait of a window whose program shows nothing;
// the digit is the window. After agreement the processes asked that still
// run are ended.
TEST_F(Sweep, BroadcastAsksEveryWindowThenTellsThoseThatAgreedTheOutcome)
{
    static const struct { const char* windows; const char* log; int agreed; } kRounds[] = {
        {"aaa", "Q0 Q1 Q2 T0 T1 T2", 1}, {"raa", "Q0", 0}, {"ara", "Q0 Q1 F0", 0}, {"aar", "Q0 Q1 Q2 F0 F1", 0},
        {"asa", "Q0 q1 Q2 T0 t1 T2", 1}, {"haa", "q0", 0}, {"aal", "Q0 Q1 Q2 F0 F1", 0}, {"aga", "Q0 Q1 F0", 0},
        {"aoa", "Q0 Q1 F0", 0}, {"aba", "Q0 q1 F0", 0}, {"aza", "Q0 q1 Q2 F0 F1 F2", 0},
        {"aea", "Q0 Q1 Q2 T0 T2", 1}, {"ana", "Q0 Q1 Q2 T0 T2", 1},
    };
    const std::vector<FakeProcess> running = sys.processes;
    const char* letters = "";
    std::vector<HWND> asked;
    sys.onCall = [&](const std::string& call) {
        for (size_t i = 0; i < asked.size(); ++i) {
            if (call.find("(" + Name(asked[i]) + ", 0x11") == std::string::npos)
                continue;
            DWORD id = 301 + (DWORD)i;
            if (letters[i] == 'b')
                AddForeignWindow(id);
            if (letters[i] == 'e')
                QuitProcess(id);
            if (i && letters[i - 1] == 'z')
                AddForeignWindow(id - 1);
            if (i && letters[i - 1] == 'n') {
                QuitProcess(id - 1);
                EXPECT_EQ(asked[i - 1], AddForeignWindow(StartProcess(("C:\\APPS\\P" + std::to_string(id - 1) + ".EXE").c_str())));
            }
        }
    };
    for (const auto& round : kRounds) {
        sys.windows.clear();
        sys.calls.clear();
        sys.processes = running;
        asked.clear();
        letters = round.windows;
        for (const char* w = round.windows; *w; ++w) {
            DWORD id = 301 + (DWORD)(w - round.windows);
            AddProcess(id, ("C:\\APPS\\P" + std::to_string(id) + ".EXE").c_str());
            asked.push_back(AddForeignWindow(id, strchr("an", *w) != nullptr, strchr("arlgne", *w) != nullptr,
                                             strchr("sgbze", *w) ? INFINITE : *w == 'l' ? 600000 : *w == 'o' ? 8000 : 0));
            if (*w == 'o') {
                AddForeignWindow(id);
                sys.windows.back().parent = asked.back();
            }
            AddForeignWindow(w == round.windows ? 200 : 999);  // explorer; started after the snapshot
        }
        AddForeignWindow(0);    // no owner process
        AddForeignWindow(100);  // the program's own window
        std::vector<std::string> expected;
        for (const char* t = round.log; *t; t += t[2] ? 3 : 2) {
            std::string message = toupper(*t) == 'Q' ? ", 0x11, 0" : toupper(*t) == 'T' ? ", 0x16, 1" : ", 0x16, 0";
            expected.push_back("SendMessageTimeoutA(" + Name(asked[t[1] - '0']) + message + ", 0, 0x2, " +
                               (islower(*t) ? "5000)" : "86400000)"));
        }
        for (size_t i = 0; round.agreed && i <= asked.size(); ++i) {
            if (!i || !strchr("ne", round.windows[i - 1]))
                expected.push_back("TerminateProcess(" + std::to_string(300 + i) + ", 0)");
        }
        EXPECT_EQ(round.agreed, BroadcastEndSession()) << round.windows;
        EXPECT_EQ(expected, Calls({"SendMessageA", "SendMessageTimeoutA", "TerminateProcess"})) << round.windows;
    }

    // One window more than a round remembers: it is not asked, and those
    // asked hear that the end is off.
    asked.clear();
    sys.windows.clear();
    sys.calls.clear();
    sys.processes = running;
    HWND last = NULL;
    for (int i = 0; i < kMaxAgreedWindows; ++i)
        last = AddForeignWindow(300);
    AddForeignWindow(300);
    EXPECT_EQ(0, BroadcastEndSession());
    EXPECT_EQ(2 * kMaxAgreedWindows, CountCalls("SendMessageTimeoutA"));
    EXPECT_EQ("SendMessageTimeoutA(" + Name(last) + ", 0x16, 0, 0, 0x2, 86400000)", sys.calls.back());
    EXPECT_EQ(0, CountCalls("TerminateProcess"));

    // One process more than a round holds: nobody is asked, nothing ended.
    sys.windows.clear();
    sys.calls.clear();
    for (DWORD id = 0; id < (DWORD)kMaxRoundProcesses; ++id)
        AddProcess(2000 + id, "C:\\APPS\\MANY.EXE");
    AddForeignWindow(300);
    EXPECT_EQ(0, BroadcastEndSession());
    EXPECT_EQ(0, CountCalls("SendMessageTimeoutA") + CountCalls("TerminateProcess"));

    // A round that cannot see who runs, or which windows there are, asks,
    // tells and ends nobody, where the same round that sees goes through.
    sys.windows.clear();
    sys.processes = running;
    AddForeignWindow(300);
    for (bool* failure : {&sys.failSnapshot, &sys.failEnumWindows, (bool*)nullptr}) {
        sys.calls.clear();
        if (failure)
            *failure = true;
        EXPECT_EQ(!failure, BroadcastEndSession());
        EXPECT_EQ(failure ? 0 : 2, CountCalls("SendMessageTimeoutA"));
        EXPECT_EQ(!failure, CountCalls("TerminateProcess") > 0);
        if (failure)
            *failure = false;
    }
}
