/* The benchmark's measuring tool. It runs inside the same Wine session as the
 * programs it measures, starts them itself and times them with the
 * performance counter, so neither a Unix process start nor a pipe sits in a
 * figure. Never shipped; normal C runtime.
 *
 * A PROGRAM is four arguments: CLASS TITLE FOLDER COMMAND (its window's class
 * and title, its working folder and its command line). Several programs are
 * measured in turns, one start of each in a round, so that whatever else the
 * machine does at the time weighs on all of them alike.
 *
 *   launcher OUT starts COUNT PROGRAM...
 *       COUNT rounds of starts, each timed from CreateProcess until
 *       FindWindowA, asked about every millisecond, first finds the window;
 *       then the memory counters, the CPU time used so far and whether the
 *       tray icon (window, id 1) exists are read, and the program is closed
 *       with WM_CLOSE. (WaitForInputIdle is no use here: Wine can signal it
 *       before the program has created its window.) CPU time comes in two
 *       forms: "cpu", the threads' kernel and user times in 100 ns units,
 *       which Wine counts in 10 ms ticks, and "cpu_ns", exact nanoseconds on
 *       a CPU from the Unix side (-1 when that cannot be read).
 *   launcher OUT idle SECONDS PROGRAM...
 *       Starts every program, then reads the CPU time each uses while all are
 *       left alone for SECONDS, and their memory counters at the end.
 *   launcher OUT second COUNT PROGRAM+SECOND...
 *       Each program with a fifth argument, the second start's command line:
 *       starts every program, then in COUNT rounds starts each one's second
 *       command while the first runs, timed from CreateProcess to its exit.
 *   launcher OUT cpucheck MILLISECONDS
 *       Starts a copy of itself that spins until it has used MILLISECONDS of
 *       CPU time, and reports the CPU time read from it from outside: shows
 *       that the CPU figures are real.
 *
 * Results go to the file OUT, one record a line ("kind key=value ..."); the
 * last line is "done" or "error what=...". The exit code is 0 when every step
 * worked.
 */
#include <windows.h>
#include <psapi.h>
#include <shellapi.h>
#include <ctype.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <tlhelp32.h>

#define MAX_PROGRAMS 4
#define START_TIMEOUT_MS 20000
#define EXIT_TIMEOUT_MS 20000
/* Lets a program that has just shown its window finish its start-up. */
#define SETTLE_MS 200

typedef struct {
    const char *class_name;
    const char *title;
    const char *folder;
    const char *command;
    const char *second; /* "second" only */
    PROCESS_INFORMATION process;
    HWND window;
    int running;
    char unix_path[MAX_PATH * 2]; /* the program file as the Unix side names it */
} Program;

static FILE *out;
static LARGE_INTEGER frequency;
static Program programs[MAX_PROGRAMS];
static int program_count;

static void record(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vfprintf(out, format, args);
    va_end(args);
    fputc('\n', out);
    fflush(out);
}

/* Reports the failure and ends what was started, so that nothing outlives
   the measurement that started it. */
static int fail(const char *what)
{
    int i;
    record("error what=\"%s\" code=%lu", what, GetLastError());
    for (i = 0; i < program_count; ++i) {
        if (programs[i].running)
            TerminateProcess(programs[i].process.hProcess, 1);
    }
    return 1;
}

static LONGLONG now_us(void)
{
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart * 1000000 / frequency.QuadPart;
}

static int launch(const char *folder, const char *command, PROCESS_INFORMATION *info)
{
    STARTUPINFOA startup;
    char line[1024];
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    if (strlen(command) >= sizeof line)
        return 0;
    strcpy(line, command);
    /* No handles inherited: the program gets none of our files. */
    return CreateProcessA(NULL, line, NULL, NULL, FALSE, 0, NULL, folder, &startup, info);
}

static void release(PROCESS_INFORMATION *info)
{
    CloseHandle(info->hThread);
    CloseHandle(info->hProcess);
}

/* Polls for the window until it is there, the process has ended or the time
   is up. */
static HWND find_window(const Program *program)
{
    DWORD start = GetTickCount();
    for (;;) {
        HWND window = FindWindowA(program->class_name, program->title);
        if (window)
            return window;
        if (GetTickCount() - start > START_TIMEOUT_MS)
            return NULL;
        /* A short wait, not a spin: the poll must not take the CPU that the
           starting program and the wineserver need. */
        if (WaitForSingleObject(program->process.hProcess, 1) == WAIT_OBJECT_0)
            return NULL;
    }
}

/* Starts the program and waits for its window; returns the microseconds from
   CreateProcess until the window could be found, or -1. */
static LONGLONG start_program(Program *program)
{
    LONGLONG start = now_us();
    if (!launch(program->folder, program->command, &program->process))
        return -1;
    program->running = 1;
    program->window = find_window(program);
    return program->window ? now_us() - start : -1;
}

/* Asks the program to end the way a user would, and waits for it. */
static int close_program(Program *program, DWORD *exit_code)
{
    PostMessageA(program->window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(program->process.hProcess, EXIT_TIMEOUT_MS) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(program->process.hProcess, exit_code))
        return 0;
    program->running = 0;
    release(&program->process);
    return 1;
}

static int count_windows(const Program *program)
{
    int count = 0;
    HWND window = NULL;
    while ((window = FindWindowExA(NULL, window, program->class_name, program->title)) != NULL)
        ++count;
    return count;
}

/* Reads a small file of the Unix side (through drive Z:) into buffer as a
   string; returns its length, or -1. */
static int read_unix_file(const char *path, char *buffer, int size)
{
    DWORD got;
    int length = 0;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    while (length < size - 1 && ReadFile(file, buffer + length, size - 1 - length, &got, NULL) &&
           got)
        length += got;
    CloseHandle(file);
    buffer[length] = 0;
    return length;
}

/* The program file's Unix path, from the first word of its command line. */
static void find_unix_path(Program *program)
{
    typedef char *(CDECL * UnixName)(LPCWSTR);
    UnixName unix_name = (UnixName)(void *)GetProcAddress(GetModuleHandleA("kernel32.dll"),
                                                          "wine_get_unix_file_name");
    const char *start = program->command + (program->command[0] == '"');
    const char *end = strchr(start, program->command[0] == '"' ? '"' : ' ');
    WCHAR wide[MAX_PATH];
    char *name;
    int length = end ? (int)(end - start) : (int)strlen(start);
    program->unix_path[0] = 0;
    if (!unix_name || length >= MAX_PATH)
        return;
    length = MultiByteToWideChar(CP_ACP, 0, start, length, wide, MAX_PATH - 1);
    wide[length] = 0;
    name = unix_name(wide);
    if (name && strlen(name) < sizeof program->unix_path) {
        /* Wine names C: by its link in dosdevices; the mappings show the
           folder the link points to, which in our prefix is drive_c. */
        char *link = strstr(name, "/dosdevices/c:/");
        if (link) {
            memcpy(program->unix_path, name, link - name);
            strcpy(program->unix_path + (link - name), "/drive_c/");
            strcat(program->unix_path, link + strlen("/dosdevices/c:/"));
        } else {
            strcpy(program->unix_path, name);
        }
    }
    if (name)
        HeapFree(GetProcessHeap(), 0, name);
}

/* Whether a Unix command line (arguments separated by zeros) is the Windows
   command line that Wine split into those arguments. */
static int same_command(char *unix_line, int length, const char *command)
{
    int i = 0;
    while (length > 0 && !unix_line[length - 1])
        --length;
    for (; *command; ++command) {
        char c;
        if (*command == '"')
            continue;
        if (i == length)
            return 0;
        c = unix_line[i] ? unix_line[i] : ' ';
        if (toupper((unsigned char)c) != toupper((unsigned char)*command))
            return 0;
        ++i;
    }
    return i == length;
}

/* The Unix process that runs the program: Wine shows each Windows process as
   a Unix process with the same command line that maps the program file (of
   this prefix, not another one's). Returns 0 when none does. */
static int unix_pid(const Program *program)
{
    static char maps[1 << 20];
    WIN32_FIND_DATAA entry;
    HANDLE search;
    int pid = 0;
    if (!program->unix_path[0])
        return 0;
    search = FindFirstFileA("Z:\\proc\\*", &entry);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    do {
        char path[64], cmdline[1024];
        int length;
        if (!entry.cFileName[0] || strspn(entry.cFileName, "0123456789") != strlen(entry.cFileName))
            continue;
        /* The command line weeds out all but a few before the maps are read. */
        snprintf(path, sizeof path, "Z:\\proc\\%s\\cmdline", entry.cFileName);
        length = read_unix_file(path, cmdline, sizeof cmdline);
        if (length <= 0 || !same_command(cmdline, length, program->command))
            continue;
        snprintf(path, sizeof path, "Z:\\proc\\%s\\maps", entry.cFileName);
        if (read_unix_file(path, maps, sizeof maps) > 0 && strstr(maps, program->unix_path))
            pid = atoi(entry.cFileName);
    } while (!pid && FindNextFileA(search, &entry));
    FindClose(search);
    return pid;
}

/* The nanoseconds the Unix process has run on a CPU, summed over its threads
   (schedstat counts exactly, where the thread times count 10 ms ticks).
   Returns -1 when it cannot be read. */
static LONGLONG unix_cpu_ns(int pid)
{
    WIN32_FIND_DATAA entry;
    HANDLE search;
    char path[96], text[128];
    LONGLONG total = 0;
    int threads = 0;
    if (!pid)
        return -1;
    snprintf(path, sizeof path, "Z:\\proc\\%d\\task\\*", pid);
    search = FindFirstFileA(path, &entry);
    if (search == INVALID_HANDLE_VALUE)
        return -1;
    do {
        if (entry.cFileName[0] < '0' || entry.cFileName[0] > '9')
            continue;
        snprintf(path, sizeof path, "Z:\\proc\\%d\\task\\%s\\schedstat", pid, entry.cFileName);
        if (read_unix_file(path, text, sizeof text) > 0) {
            total += _atoi64(text);
            ++threads;
        }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return threads ? total : -1;
}

/* Wine answers GetProcessTimes for another process with the caller's own
   times, but reads each thread's times from the system, so a process's CPU
   time is the sum over its threads (100 ns units). */
static int process_cpu(DWORD pid, ULONGLONG *kernel, ULONGLONG *user)
{
    THREADENTRY32 entry;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    int ok = 1, threads = 0;
    *kernel = *user = 0;
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    entry.dwSize = sizeof entry;
    if (Thread32First(snapshot, &entry)) {
        do {
            HANDLE thread;
            FILETIME created, ended, k, u;
            if (entry.th32OwnerProcessID != pid)
                continue;
            thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID);
            if (!thread || !GetThreadTimes(thread, &created, &ended, &k, &u)) {
                ok = 0;
            } else {
                *kernel += ((ULONGLONG)k.dwHighDateTime << 32) | k.dwLowDateTime;
                *user += ((ULONGLONG)u.dwHighDateTime << 32) | u.dwLowDateTime;
                ++threads;
            }
            if (thread)
                CloseHandle(thread);
        } while (Thread32Next(snapshot, &entry));
    }
    CloseHandle(snapshot);
    return ok && threads > 0;
}

static int memory(HANDLE process, PROCESS_MEMORY_COUNTERS *counters)
{
    memset(counters, 0, sizeof *counters);
    counters->cb = sizeof *counters;
    return GetProcessMemoryInfo(process, counters, sizeof *counters);
}

/* Whether the shell holds an icon (window, id 1): modifying nothing fails
   when there is no such icon. */
static int has_tray_icon(HWND window)
{
    NOTIFYICONDATAA data;
    memset(&data, 0, sizeof data);
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = window;
    data.uID = 1;
    return Shell_NotifyIconA(NIM_MODIFY, &data) ? 1 : 0;
}

static int run_starts(int count)
{
    int round, p;
    for (round = 1; round <= count; ++round) {
        for (p = 0; p < program_count; ++p) {
            Program *program = &programs[p];
            PROCESS_MEMORY_COUNTERS counters;
            ULONGLONG kernel, user;
            DWORD exit_code = 0;
            int tray;
            LONGLONG cpu_ns, took = start_program(program);
            if (took < 0)
                return fail("window not found after start");
            Sleep(SETTLE_MS);
            if (!memory(program->process.hProcess, &counters))
                return fail("GetProcessMemoryInfo");
            if (!process_cpu(program->process.dwProcessId, &kernel, &user))
                return fail("thread times");
            cpu_ns = unix_cpu_ns(unix_pid(program));
            tray = has_tray_icon(program->window);
            if (!close_program(program, &exit_code))
                return fail("program did not end after WM_CLOSE");
            record("start p=%d i=%d us=%lld peak=%lu ws=%lu cpu=%llu cpu_ns=%lld tray=%d exit=%lu",
                   p, round, took, (unsigned long)counters.PeakWorkingSetSize,
                   (unsigned long)counters.WorkingSetSize, kernel + user, cpu_ns, tray, exit_code);
        }
    }
    return 0;
}

static int run_idle(int seconds)
{
    ULONGLONG kernel[MAX_PROGRAMS], user[MAX_PROGRAMS];
    LONGLONG ns[MAX_PROGRAMS], begin, end;
    int pids[MAX_PROGRAMS], p;
    for (p = 0; p < program_count; ++p) {
        if (start_program(&programs[p]) < 0)
            return fail("window not found after start");
    }
    Sleep(SETTLE_MS);
    for (p = 0; p < program_count; ++p)
        pids[p] = unix_pid(&programs[p]);
    begin = now_us();
    for (p = 0; p < program_count; ++p) {
        ns[p] = unix_cpu_ns(pids[p]);
        if (!process_cpu(programs[p].process.dwProcessId, &kernel[p], &user[p]))
            return fail("thread times at the start");
    }
    Sleep(seconds * 1000);
    end = now_us();
    for (p = 0; p < program_count; ++p) {
        Program *program = &programs[p];
        PROCESS_MEMORY_COUNTERS counters;
        ULONGLONG k, u;
        DWORD exit_code = 0;
        LONGLONG cpu_ns = unix_cpu_ns(pids[p]);
        if (!process_cpu(program->process.dwProcessId, &k, &u))
            return fail("thread times at the end");
        if (!memory(program->process.hProcess, &counters))
            return fail("GetProcessMemoryInfo");
        if (!close_program(program, &exit_code))
            return fail("program did not end after WM_CLOSE");
        record("idle p=%d seconds=%.3f kernel=%llu user=%llu cpu=%llu before=%llu cpu_ns=%lld "
               "peak=%lu ws=%lu exit=%lu", p, (end - begin) / 1e6, k - kernel[p], u - user[p],
               k + u - kernel[p] - user[p], kernel[p] + user[p],
               cpu_ns < 0 || ns[p] < 0 ? -1 : cpu_ns - ns[p],
               (unsigned long)counters.PeakWorkingSetSize,
               (unsigned long)counters.WorkingSetSize, exit_code);
    }
    return 0;
}

static int run_second(int count)
{
    int round, p;
    for (p = 0; p < program_count; ++p) {
        if (start_program(&programs[p]) < 0)
            return fail("first instance: window not found");
    }
    Sleep(SETTLE_MS);
    for (round = 1; round <= count; ++round) {
        for (p = 0; p < program_count; ++p) {
            Program *program = &programs[p];
            PROCESS_INFORMATION other;
            LONGLONG start = now_us(), took;
            DWORD code = 0;
            if (!launch(program->folder, program->second, &other))
                return fail("CreateProcess of the second start");
            if (WaitForSingleObject(other.hProcess, EXIT_TIMEOUT_MS) != WAIT_OBJECT_0) {
                TerminateProcess(other.hProcess, 1);
                release(&other);
                return fail("second start did not end");
            }
            took = now_us() - start;
            GetExitCodeProcess(other.hProcess, &code);
            release(&other);
            /* The first instance takes the handed-over message before the next. */
            Sleep(20);
            record("second p=%d i=%d us=%lld exit=%lu windows=%d first_alive=%d", p, round, took,
                   code, count_windows(program),
                   WaitForSingleObject(program->process.hProcess, 0) == WAIT_TIMEOUT);
        }
    }
    for (p = 0; p < program_count; ++p) {
        DWORD exit_code = 0;
        if (!close_program(&programs[p], &exit_code))
            return fail("first instance did not end after WM_CLOSE");
        record("first p=%d exit=%lu", p, exit_code);
    }
    return 0;
}

static int run_cpucheck(int milliseconds)
{
    Program *spinner = &programs[0];
    char command[MAX_PATH + 64];
    char self[MAX_PATH];
    ULONGLONG kernel, user;
    LONGLONG cpu_ns;
    int ok;
    GetModuleFileNameA(NULL, self, sizeof self);
    snprintf(command, sizeof command, "\"%s\" NUL spin %d", self, milliseconds);
    spinner->command = command;
    find_unix_path(spinner);
    if (!launch(NULL, command, &spinner->process))
        return fail("CreateProcess of the spinner");
    program_count = 1;
    spinner->running = 1;
    /* Read once the spinner is done spinning, while it sleeps. */
    Sleep(milliseconds + 1500);
    ok = process_cpu(spinner->process.dwProcessId, &kernel, &user);
    cpu_ns = unix_cpu_ns(unix_pid(spinner));
    WaitForSingleObject(spinner->process.hProcess, 10000);
    spinner->running = 0;
    release(&spinner->process);
    if (!ok)
        return fail("thread times of the spinner");
    record("cpucheck spin_ms=%d cpu=%llu cpu_ns=%lld", milliseconds, kernel + user, cpu_ns);
    return 0;
}

/* Spins until this thread has used MILLISECONDS of CPU time (or ten times
   that much wall time has passed), then sleeps while it is read. */
static void spin(int milliseconds)
{
    volatile unsigned counter = 0;
    DWORD start = GetTickCount();
    ULONGLONG target = (ULONGLONG)milliseconds * 10000, used = 0;
    while (used < target && GetTickCount() - start < (DWORD)milliseconds * 10) {
        FILETIME created, ended, kernel, user;
        int i;
        for (i = 0; i < 100000; ++i)
            ++counter;
        GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user);
        used = (((ULONGLONG)kernel.dwHighDateTime << 32) | kernel.dwLowDateTime) +
               (((ULONGLONG)user.dwHighDateTime << 32) | user.dwLowDateTime);
    }
    Sleep(3000);
}

/* Reads the programs from argv, `fields` arguments each. */
static int read_programs(int argc, char **argv, int fields)
{
    if (argc <= 0 || argc % fields || argc / fields > MAX_PROGRAMS)
        return 0;
    for (program_count = 0; program_count < argc / fields; ++program_count) {
        Program *program = &programs[program_count];
        char **field = argv + program_count * fields;
        program->class_name = field[0];
        program->title = field[1];
        program->folder = field[2];
        program->command = field[3];
        program->second = fields > 4 ? field[4] : NULL;
        find_unix_path(program);
    }
    return 1;
}

int main(int argc, char **argv)
{
    int rc;
    if (argc == 4 && strcmp(argv[2], "spin") == 0) {
        spin(atoi(argv[3]));
        return 0;
    }
    if (argc < 4) {
        fprintf(stderr, "usage: launcher OUT starts|idle|second|cpucheck ...\n");
        return 2;
    }
    out = fopen(argv[1], "w");
    if (!out)
        return 2;
    QueryPerformanceFrequency(&frequency);
    if (strcmp(argv[2], "starts") == 0 && read_programs(argc - 4, argv + 4, 4))
        rc = run_starts(atoi(argv[3]));
    else if (strcmp(argv[2], "idle") == 0 && read_programs(argc - 4, argv + 4, 4))
        rc = run_idle(atoi(argv[3]));
    else if (strcmp(argv[2], "second") == 0 && read_programs(argc - 4, argv + 4, 5))
        rc = run_second(atoi(argv[3]));
    else if (strcmp(argv[2], "cpucheck") == 0 && argc == 4)
        rc = run_cpucheck(atoi(argv[3]));
    else
        rc = fail("bad arguments");
    if (rc == 0)
        record("done");
    fclose(out);
    return rc;
}
