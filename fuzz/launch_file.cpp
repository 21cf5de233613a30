// LaunchFile's path handling, directly and through its callers, for any path,
// program folder and Windows folder up to 32 KiB: the file and its working
// folder are opened exactly when they fit in MAX_PATH characters, and ASan
// watches the fixed buffers.
#include <vector>
#include "fuzz_support.h"

static const size_t kMaxPath = MAX_PATH;

// What LaunchFile must ask the shell to open for `path`, or "" for nothing:
// an absolute path as it is, in its own folder; a relative one joined behind
// the program's folder, which is also the working folder.
static std::string ExpectedLaunch(const std::string& path)
{
    std::string file, folder;
    if (path.size() >= 3 && path[1] == ':' && path[2] == '\\') {
        file = path;
        folder = path.substr(0, path.rfind('\\'));
    } else {
        const std::string& module = sys.modulePath;
        size_t cut = module.rfind('\\');
        if (module.size() > kMaxPath || cut == std::string::npos)
            return "";
        folder = module.substr(0, cut);
        file = folder + "\\" + path;
    }
    if (file.size() > kMaxPath)
        return "";
    return "ShellExecuteA(NULL, \"open\", \"" + file + "\", NULL, \"" + folder + "\", 1)";
}

static std::string Shorten(const std::string& text)
{
    return text.size() <= 600 ? text : text.substr(0, 300) + "..." + text.substr(text.size() - 300);
}

// A path of any shape: a drive, a root, a network share, a forward slash, or none.
static std::string AnyPath(FuzzedDataProvider& input)
{
    static const char* const kStarts[] = {"", "C:\\", "\\", "\\\\SERVER\\", "D:/", "?:\\", "C:"};
    std::string start = kStarts[input.ConsumeIntegralInRange<size_t>(0, 6)];
    return PathText(start + LongText(input));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    ResetSystem();
    ResetProgram();
    int caller = input.ConsumeIntegralInRange(0, 3);
    sys.modulePath = AnyPath(input);
    sys.windowsDirectory = AnyPath(input);
    std::string path = AnyPath(input);

    // The path LaunchFile is given, if the caller gets that far.
    bool launches = true;
    std::string opened;
    switch (caller) {
    case 0:
        LaunchFile(path.c_str(), NULL);
        opened = path;
        break;
    case 1: {
        // Exit to DOS: the Windows folder and the file name must fit together.
        MainWndProc((HWND)1, WM_COMMAND, IDC_EXITTODOS, 0);
        const std::string& windows = sys.windowsDirectory;
        launches = !windows.empty() && windows.size() + 16 <= kMaxPath;
        opened = windows + "\\Exit To Dos.pif";
        break;
    }
    case 2:
        MainWndProc((HWND)1, WM_COMMAND, IDC_QUICKRESTART, 0);
        opened = "Restart.exe";
        break;
    default:
        MainWndProc((HWND)1, WM_COMMAND, IDM_HELP, 0);
        opened = "Help\\index.html";
        break;
    }

    std::vector<std::string> expected;
    std::string launch = launches ? ExpectedLaunch(opened) : "";
    if (!launch.empty())
        expected.push_back(launch);
    std::vector<std::string> actual = Calls({"ShellExecuteA"});
    if (actual != expected) {
        Fail("caller %d, module path of %zu, Windows folder of %zu, path of %zu characters\n"
             "expected: %s\nactual:   %s (%zu calls)",
             caller, sys.modulePath.size(), sys.windowsDirectory.size(), path.size(),
             expected.empty() ? "nothing" : Shorten(expected[0]).c_str(),
             actual.empty() ? "nothing" : Shorten(actual[0]).c_str(), actual.size());
    }
    CHECK(sys.handles.empty(), "a handle was left open");
    return 0;
}
