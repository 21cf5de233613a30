"""Wine scenarios for the real RESTART.EXE, the companion that performs the
quick restart. Each one ends the Wine session, so the harness must start a
fresh session afterwards (each scenario sets wine.dirty).

The harness (run_scenarios.py) runs them with its other scenarios:

    import companion_scenarios
    SCENARIOS.extend(companion_scenarios.COMPANION_SCENARIOS)

Each scenario takes the harness's Wine object and uses only its env, work
folder, drive_c(), run(), popen(), out_file(), probe('wait-window', ...) and
dirty. It raises CompanionFailure when an expectation does not hold.

How a scenario sees which way RESTART.EXE went: it runs RESTART.EXE with
WINEDEBUG=trace+process, which logs every CreateProcess with its command line
and the thread that made it. RESTART.EXE's own thread is the one that starts
the first process; the programs it started itself show which way it took:
Windows' RUNDLL.EXE on USER.EXE's ExitWindowsExec (the Windows 95/98 quick
restart), or wineboot --end-session, which is how Wine carries out
ExitWindowsEx(EWX_REBOOT) (the full reboot). A Notepad started beforehand
shows that the session really ended: it must be gone afterwards.
"""

import os
import re
import shutil
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))

COMPANION_DIR = r'C:\Companion'
# Per-program Windows version: Wine reads it for a process named RESTART.EXE.
APP_DEFAULTS = r'HKCU\Software\Wine\AppDefaults\RESTART.EXE'
RUNDLL_COMMAND = r'c:\windows\rundll.exe user.exe,exitwindowsexec'

RESTART_TIMEOUT = 60.0
SESSION_END_TIMEOUT = 30.0
WINDOW_TIMEOUT_MS = 20000

CREATE_PROCESS = re.compile(r'^([0-9a-f]+):trace:process:CreateProcessInternalW app .* cmdline L"(.*)"\s*$')


class CompanionFailure(Exception):
    """An expectation of a companion scenario that did not hold."""


def check(condition, message):
    if not condition:
        raise CompanionFailure(message)


def find_restart_exe():
    """The RESTART.EXE to test: $TARNWICK_RESTART_EXE, else the build's, else the release's."""
    candidates = [os.environ.get('TARNWICK_RESTART_EXE'),
                  os.path.join(ROOT, 'build', 'win32', 'RESTART.EXE'),
                  os.path.join(ROOT, 'dist', 'tarnwick-1.1', 'RESTART.EXE')]
    for path in candidates:
        if path and os.path.isfile(path):
            return path
    raise CompanionFailure('no RESTART.EXE built (run make win32 first)')


def started_by_first_caller(trace):
    """The command lines that the thread making the first CreateProcess call
    started, in order: RESTART.EXE's own, since it is the first to start one."""
    calls = []
    for line in trace.splitlines():
        match = CREATE_PROCESS.match(line)
        if match:
            calls.append((match.group(1), match.group(2).replace('\\\\', '\\')))
    if not calls:
        return []
    return [command for thread, command in calls if thread == calls[0][0]]


def is_reboot(command):
    """Wine's ExitWindowsEx(EWX_REBOOT): wineboot ending the session, not shutting down."""
    words = command.lower().split()
    return bool(words) and words[0].endswith('wineboot.exe') and '--end-session' in words \
        and '--shutdown' not in words


def set_version(wine, version):
    check(wine.run(['wine', 'reg', 'add', APP_DEFAULTS, '/v', 'Version', '/d', version, '/f'], 60) == 0,
          'could not set the Windows version of RESTART.EXE')


def run_restart(wine, version, hide_rundll=False):
    """Runs RESTART.EXE without parameters, as Tarnwick does, as the given
    Windows version while a Notepad runs; returns the command lines that
    RESTART.EXE started. Checks its exit code and that the session ended."""
    wine.dirty = True
    folder = wine.drive_c(COMPANION_DIR)
    os.makedirs(folder, exist_ok=True)
    shutil.copy(find_restart_exe(), os.path.join(folder, 'RESTART.EXE'))
    set_version(wine, version)
    rundll = wine.drive_c(r'C:\windows\rundll.exe')
    hidden = rundll + '.hidden'
    if hide_rundll:
        os.rename(rundll, hidden)
    try:
        notepad = wine.popen(['notepad'])
        ready = wine.probe('wait-window', 'Notepad', '*', 'present', WINDOW_TIMEOUT_MS)
        check(ready.rc == 0, 'Notepad did not open: %s' % ready)

        trace_path = wine.out_file('restart-trace')
        env = dict(wine.env, WINEDEBUG='trace+process')
        # The trace goes to a file: a pipe would stay open as long as any
        # process that RESTART.EXE started lives on.
        with open(trace_path, 'wb') as trace_file:
            restart = subprocess.Popen(['wine', COMPANION_DIR + r'\RESTART.EXE'],
                                       env=env, cwd=wine.work, stdin=subprocess.DEVNULL,
                                       stdout=trace_file, stderr=trace_file)
            try:
                code = restart.wait(RESTART_TIMEOUT)
            except subprocess.TimeoutExpired:
                restart.kill()
                restart.wait()
                raise CompanionFailure('RESTART.EXE still ran after %.0f s' % RESTART_TIMEOUT)
        check(code == 0, 'RESTART.EXE exit code %s' % code)
        try:
            notepad.wait(SESSION_END_TIMEOUT)
        except subprocess.TimeoutExpired:
            raise CompanionFailure('the Wine session did not end: Notepad still runs %.0f s later'
                                   % SESSION_END_TIMEOUT)
        with open(trace_path, encoding='latin-1') as handle:
            return started_by_first_caller(handle.read())
    finally:
        if hide_rundll and os.path.exists(hidden):
            os.rename(hidden, rundll)
        wine.run(['wine', 'reg', 'delete', APP_DEFAULTS, '/f'], 60)


def restart_nt_family_reboots(wine):
    """Reported as Windows XP, RESTART.EXE asks for a full reboot
    (ExitWindowsEx with EWX_REBOOT) without trying RUNDLL.EXE, and that ends
    the Wine session."""
    started = run_restart(wine, 'winxp')
    check(len(started) == 1 and is_reboot(started[0]),
          'RESTART.EXE started %s, expected only wineboot --end-session' % started)


def restart_windows98_uses_rundll(wine):
    """Reported as Windows 98, RESTART.EXE starts the Windows folder's
    RUNDLL.EXE on USER.EXE,ExitWindowsExec and asks for nothing else (Wine's
    ExitWindowsExec then ends the session). Wine's ExitWindowsExec returns at
    once; RESTART.EXE waits for RUNDLL.EXE, but a KERNEL32 built on NTDLL
    makes that return no proof of a refusal, so it exits with 0."""
    started = run_restart(wine, 'win98')
    check([command.lower() for command in started] == [RUNDLL_COMMAND],
          'RESTART.EXE started %s, expected only %s' % (started, RUNDLL_COMMAND))


def restart_windows98_without_rundll_reboots(wine):
    """Reported as Windows 98 with no RUNDLL.EXE in the Windows folder,
    RESTART.EXE tries it, then falls back to the full reboot."""
    started = run_restart(wine, 'win98', hide_rundll=True)
    check(len(started) == 2 and started[0].lower() == RUNDLL_COMMAND and is_reboot(started[1]),
          'RESTART.EXE started %s, expected %s and then wineboot --end-session'
          % (started, RUNDLL_COMMAND))


COMPANION_SCENARIOS = [
    restart_nt_family_reboots,
    restart_windows98_uses_rundll,
    restart_windows98_without_rundll_reboots,
]
