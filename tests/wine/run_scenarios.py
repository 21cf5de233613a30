#!/usr/bin/python3
"""Scenarios for the release TARNWICK.EXE under Wine, on an Xvfb display, in a
throwaway 32-bit Wine prefix made for this run.

The program is driven from outside: Wine starts it, and our probe.exe (built
from probe.c next to this file) finds its windows, sends and posts messages,
reads the registry and the dialog, and plays helper applications. RESTART.EXE
is replaced by fake_restart.exe, which only leaves a line in
C:\\restart-marker.txt, so that a quick restart can be seen without the session
ending.

Output: "ok - NAME" or "not ok - NAME: REASON" per scenario, then one line
"wine: N passed, M failed". Exit code 1 when anything failed.

    run_scenarios.py [-k TEXT] [-v] [--keep] [--exe TARNWICK.EXE] [--tools DIR]
                     [--screenshots DIR]
"""

import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))

from xvfb import start_xvfb, stop_xvfb  # noqa: E402

MAIN_CLASS = 'TarnwickMainWindowClass'
MAIN_TITLE = 'Tarnwick'
INSTALL_DIR = r'C:\Program Files\Tarnwick'
LOWER_DIR = r'C:\Tools\lower case'
UNZIP_DIR = r'C:\Unzipped\tarnwick-1.1'
INF_INSTALL_DIR = r'C:\TARNWICK'
WINDOWS_KEY = r'Software\Microsoft\Windows\CurrentVersion'
RUN_KEY = 'HKCU\\%s\\Run' % WINDOWS_KEY
ENTRY_KEY = 'HKLM\\%s\\Uninstall\\Tarnwick' % WINDOWS_KEY
HELPER_DIR = r'C:\helpers'
PAGE_CLASS = 'TarnwickTest.html'
PAGE_OPENER = r'C:\helpers\opener.exe'
MARKER = r'C:\restart-marker.txt'
STARTUP_FILES = ('config.sys', 'autoexec.bat')
PENDING_REPLACEMENTS = r'C:\windows\wininit.ini'  # replacements queued for the next boot
WINE_FONTS = '/usr/share/wine/fonts'
OLD_TIME = 981173106  # 2001-02-03, the start-up files' time before a scenario

WM_NULL = 0x0000
WM_CLOSE = 0x0010
WM_QUERYENDSESSION = 0x0011
WM_ENDSESSION = 0x0016
WM_COMMAND = 0x0111
WM_APP_SHOWDIALOG = 0x8000
WM_APP_TRAYNOTIFY = 0x8001
WM_APP_REFRESHTRAY = 0x8002
WM_APP_DEFERREDRESTART = 0x8003
WM_APP_OWNENDOVER = 0x8004
ENDSESSION_CLOSEAPP = 0x00000001
ENDSESSION_LOGOFF = 0x80000000

SHOW_TRAY = 'Show tray icon'
INTERCEPT = 'Intercept all restarts'
LAST_COMMAND = 'Last command'
LAST_FORCE = 'Last force setting'

START_TIMEOUT = 20.0
EXIT_TIMEOUT = 10.0
PROBE_TIMEOUT = 30.0

# Settings of the prefix: the size of the virtual desktop that scenarios run
# on (see Wine.use_desktop), Windows 98 for the program, and no crash dialog
# that could hold a scenario.
WINE_SETTINGS = r'''REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]
"shell"="1024x768"

[HKEY_CURRENT_USER\Software\Wine\AppDefaults\TARNWICK.EXE]
"Version"="win98"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

'''


class Failure(Exception):
    """A scenario's expectation that did not hold."""


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_until(predicate, timeout, interval=0.05):
    """Polls until predicate() is true; returns its last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)


def unix_to_dos(path):
    return 'Z:' + path.replace('/', '\\')


# ---- probe output ------------------------------------------------------------

FIELD = re.compile(r'([\w-]+)=("[^"]*"|\S*)')


def unescape(text):
    return re.sub(r'\\x([0-9a-f]{2})', lambda m: chr(int(m.group(1), 16)), text)


def parse_line(line):
    """'kind a=1 b="x"' -> ('kind', {'a': '1', 'b': 'x'})."""
    head = line.split(' ', 1)[0]
    kind = '' if '=' in head else head
    fields = {}
    for key, value in FIELD.findall(line):
        if value.startswith('"'):
            value = unescape(value[1:-1])
        fields[key] = value
    return kind, fields


class ProbeResult:
    def __init__(self, rc, text):
        self.rc = rc
        self.text = text
        self.lines = [parse_line(line) for line in text.splitlines() if line.strip()]

    def value(self, key, default=None):
        for _, fields in self.lines:
            if key in fields:
                return fields[key]
        return default

    def records(self, kind):
        return [fields for k, fields in self.lines if k == kind]

    def __str__(self):
        return self.text.strip().replace('\n', ' | ')


# ---- the Wine session -----------------------------------------------------------

class Wine:
    """Xvfb, one Wine prefix, and the Wine processes a scenario starts."""

    def __init__(self, args):
        self.args = args
        self.root = tempfile.mkdtemp(prefix='tarnwick-wine-')
        self.prefix = os.path.join(self.root, 'prefix')
        self.work = os.path.join(self.root, 'work')
        os.makedirs(self.work)
        self.log = open(os.path.join(self.root, 'wine.log'), 'ab')
        self.xvfb = None
        self.tracked = []
        self.counter = 0
        self.dirty = False
        self.desktop = 'unset'
        self.env = dict(os.environ)
        self.env.update({
            'WINEPREFIX': self.prefix,
            'WINEARCH': 'win32',
            # No Mono or Gecko prompts, and no menu entries in the user's home.
            'WINEDLLOVERRIDES': 'mscoree,mshtml=;winemenubuilder.exe=d',
            'WINEDEBUG': '-all',
        })
        self.env.pop('WINESERVER', None)

    # -- paths --
    def drive_c(self, dos_path=''):
        rest = dos_path[3:] if dos_path[:3].upper() == 'C:\\' else dos_path
        return os.path.join(self.prefix, 'drive_c', *[p for p in rest.split('\\') if p])

    # -- set-up and tear-down --
    def start_display(self):
        self.xvfb, self.env['DISPLAY'] = start_xvfb(self.log)

    def run(self, argv, timeout):
        """Runs a Unix command of this prefix to its end (bounded)."""
        process = subprocess.Popen(argv, env=self.env, cwd=self.work, stdin=subprocess.DEVNULL,
                                   stdout=self.log, stderr=self.log)
        try:
            return process.wait(timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            raise Failure('timed out after %.0f s: %s' % (timeout, ' '.join(argv)[:200]))

    def create_prefix(self):
        self.run(['wineboot', '-i'], 180)
        # Wine does not find its own fonts in their package's folder; without
        # a copy dialogs get another font, and other sizes, than MS Sans Serif.
        if os.path.isdir(WINE_FONTS):
            for name in os.listdir(WINE_FONTS):
                shutil.copy(os.path.join(WINE_FONTS, name), self.drive_c(r'C:\windows\Fonts'))
        self.import_reg('wine-settings.reg', WINE_SETTINGS)

    def import_reg(self, name, text):
        """Writes `text` as the registry file `name` (CRLF line ends, as
        regedit expects) and imports it silently; returns regedit's exit code."""
        reg = os.path.join(self.work, name)
        with open(reg, 'w', newline='\r\n') as handle:
            handle.write(text)
        return self.regedit(unix_to_dos(reg))

    def regedit(self, dos_path):
        """Imports a registry file silently, as a double click would after
        the user's yes; returns regedit's exit code."""
        return self.run(['wine', 'regedit', '/S', dos_path], 60)

    def install(self, exe, tools, release):
        """The release in INSTALL_DIR, a lower-case copy in LOWER_DIR, the
        stand-in RESTART.EXE beside both, and the probe under several names."""
        target = self.drive_c(INSTALL_DIR)
        if release:
            shutil.copytree(release, target)
        else:
            os.makedirs(target)
        shutil.copy(exe, os.path.join(target, 'TARNWICK.EXE'))
        fake = os.path.join(tools, 'fake_restart.exe')
        shutil.copy(fake, os.path.join(target, 'RESTART.EXE'))
        lower = self.drive_c(LOWER_DIR)
        os.makedirs(lower)
        shutil.copy(exe, os.path.join(lower, 'Tarnwick.exe'))
        shutil.copy(fake, os.path.join(lower, 'RESTART.EXE'))
        helpers = self.drive_c(HELPER_DIR)
        os.makedirs(helpers)
        for name in ('probe.exe', 'helper.exe', 'MYEXPLORER.EXE'):
            shutil.copy(os.path.join(tools, 'probe.exe'), os.path.join(helpers, name))
        self.probe_exe = os.path.join(helpers, 'probe.exe')

    def stop_tracked(self):
        for process in self.tracked:
            if process.poll() is None:
                process.kill()
        for process in self.tracked:
            try:
                process.wait(10)
            except subprocess.TimeoutExpired:
                pass
        self.tracked = []

    def kill_session(self):
        """Ends every process of the prefix, and the wineserver."""
        self.stop_tracked()
        subprocess.run(['wineserver', '-k'], env=self.env, stdout=self.log, stderr=self.log,
                       timeout=30)
        subprocess.run(['wineserver', '-w'], env=self.env, stdout=self.log, stderr=self.log,
                       timeout=30)

    def warm_up(self):
        """Starts the session's own processes and waits for the shell's
        notification area, which the tray scenarios rely on."""
        result = self.probe('wait-window', 'Shell_TrayWnd', '*', 'present', '15000')
        if result.rc != 0:
            raise RuntimeError('Wine shell did not start: %s' % result)

    def close(self):
        try:
            if os.path.isdir(self.prefix):
                self.kill_session()
        finally:
            stop_xvfb(self.xvfb)
            self.log.close()
            if self.args.keep:
                print('# kept %s' % self.root, file=sys.stderr)
            else:
                shutil.rmtree(self.root, ignore_errors=True)

    # -- between scenarios --
    def use_desktop(self, desktop):
        """Puts every process of the prefix on the named virtual desktop, or on
        the bare X display for None; takes effect in a new session. Most
        scenarios run on a desktop with a taskbar and notification area, as
        "make run" shows the program; on the bare display every removal of a
        tray icon takes Wine's stand-alone tray window 2 s."""
        self.import_reg('desktop.reg', 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]\n'
                        '"Desktop"=%s\n\n' % ('"%s"' % desktop if desktop else '-'))
        self.desktop = desktop
        self.dirty = True

    def reset(self, desktop):
        """Every scenario starts from the same state: none of our processes,
        no settings key, the start-up files old, no marker."""
        self.stop_tracked()
        if desktop != self.desktop:
            self.use_desktop(desktop)
        if self.dirty:
            self.kill_session()
            self.dirty = False
        result = self.probe('reg-key', 'absent', '+', 'procs', '+',
                            'find', 'Shell_TrayWnd', '*')
        names = [p.get('exe', '') for p in result.records('process')]
        leftovers = [n for n in names if n.lower() in ('tarnwick.exe', 'helper.exe',
                                                       'myexplorer.exe', 'restart.exe')]
        if leftovers or result.value('count') == '0' or result.rc != 0:
            self.kill_session()
        self.warm_up()
        self.old_startup_files()
        for path in (self.drive_c(MARKER), self.drive_c(PENDING_REPLACEMENTS)):
            if os.path.exists(path):
                os.remove(path)

    def old_startup_files(self):
        for name in STARTUP_FILES:
            path = self.drive_c(name)
            with open(path, 'w', newline='\r\n') as handle:
                handle.write('REM %s of the test prefix\n' % name)
            os.utime(path, (OLD_TIME, OLD_TIME))

    # -- Wine processes --
    def popen(self, argv, track=True):
        """Starts a Windows program. Its output goes to the log, never to a
        pipe: reading one would wait for every process it starts."""
        process = subprocess.Popen(['wine'] + [str(a) for a in argv], env=self.env,
                                   cwd=self.work, stdin=subprocess.DEVNULL, stdout=self.log,
                                   stderr=self.log)
        if track:
            self.tracked.append(process)
        return process

    def out_file(self, stem):
        self.counter += 1
        return os.path.join(self.work, '%s-%d.txt' % (stem, self.counter))

    def probe(self, *args, timeout=PROBE_TIMEOUT):
        out = self.out_file('probe')
        process = self.popen([self.probe_exe, '--out', unix_to_dos(out)] + list(args), False)
        try:
            rc = process.wait(timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            raise Failure('probe timed out: %s' % ' '.join(str(a) for a in args)[:200])
        text = ''
        if os.path.exists(out):
            with open(out, encoding='latin-1') as handle:
                text = handle.read()
        return ProbeResult(rc, text)

    def reg_values(self, key):
        """A key's values as {name: data as reg.exe shows it}, '' naming the
        default value; None when the key is missing."""
        out = self.out_file('reg')
        with open(out, 'wb') as handle:
            done = subprocess.run(['wine', 'reg', 'query', key], env=self.env, cwd=self.work,
                                  stdin=subprocess.DEVNULL, stdout=handle, stderr=self.log,
                                  timeout=60)
        if done.returncode != 0:
            return None
        with open(out, encoding='latin-1') as handle:
            lines = [re.match(r'    (.*?)    (REG_\w+)    ?(.*?)\r?$', line) for line in handle]
        return {('' if m.group(1) == '(Default)' else m.group(1)): m.group(3)
                for m in lines if m}

    def settings(self, values):
        """Replaces the settings key: None removes it; otherwise a dict of
        name -> int (REG_DWORD) or name -> (probe type, data)."""
        args = ['reg-key', 'absent']
        if values is not None:
            args += ['+', 'reg-key', 'present']
            for name, value in values.items():
                kind, data = ('dword', value) if isinstance(value, int) else value
                args += ['+', 'reg-set', name, kind, data]
        result = self.probe(*args)
        check(result.rc == 0, 'could not write the settings: %s' % result)

    def setting(self, name):
        """A settings value as (type, bytes), or None when it is missing."""
        result = self.probe('reg-get', name)
        values = result.records('value')
        if not values:
            return None
        return int(values[0]['type']), bytes.fromhex(values[0]['data'])

    def check_dword(self, name, value, what):
        """The settings value `name` is the REG_DWORD `value`."""
        stored = self.setting(name)
        check(stored == (4, value.to_bytes(4, 'little')),
              '%s: "%s" is %s, expected the DWORD %d' % (what, name, stored, value))

    def processes(self):
        return self.probe('procs').records('process')

    def main_windows(self):
        return self.probe('find', MAIN_CLASS, MAIN_TITLE).records('window')

    def wait_main_window(self, ended, what):
        """Waits for the main window; gives up at once when ended() tells
        that the starting process is gone."""
        deadline = time.monotonic() + START_TIMEOUT
        while True:
            windows = self.main_windows()
            if windows:
                return windows[0]
            gone = ended()
            check(gone is None and time.monotonic() < deadline, '%s: no main window (%s)'
                  % (what, 'the process ended with %s' % gone if gone is not None
                     else 'still none after %.0f s' % START_TIMEOUT))
            time.sleep(0.05)

    def start_tarnwick(self, *args, folder=INSTALL_DIR, exe='TARNWICK.EXE'):
        """Starts the program and waits for its main window."""
        process = self.popen(['%s\\%s' % (folder, exe)] + list(args))
        return process, self.wait_main_window(process.poll, 'start of %s' % exe)

    def exit_code(self, process, timeout=EXIT_TIMEOUT):
        try:
            return process.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def close_tarnwick(self, process, what='Tarnwick'):
        """Posts WM_CLOSE to the main window and expects exit code 0."""
        result = self.probe('post', 'main', WM_CLOSE, 0, 0)
        check(result.value('posted') == '1', 'WM_CLOSE could not be posted: %s' % result)
        code = self.exit_code(process)
        check(code == 0, '%s did not exit with 0 after WM_CLOSE (exit code %s)' % (what, code))

    def start_helper(self, exe, title, *options):
        """A helper application (probe.exe in helper mode under another name)
        that logs the session-end messages its windows receive."""
        out = self.out_file('helper')
        log = self.out_file('helper-log')
        process = self.popen(['%s\\%s' % (HELPER_DIR, exe), '--out', unix_to_dos(out),
                              'helper', unix_to_dos(log), title] + list(options))

        def ready():
            if not os.path.exists(out):
                return None
            with open(out) as handle:
                result = ProbeResult(0, handle.read())
            return result if result.records('ready') else None
        result = wait_until(ready, START_TIMEOUT)
        check(result, 'helper %s did not start' % exe)
        return {'process': process, 'pid': result.value('pid'), 'log': log, 'exe': exe,
                'windows': [w['hwnd'] for w in result.records('window')]}

    def helper_events(self, helper):
        """The session-end messages the helper logged, as (kind, hwnd, wParam, lParam)."""
        with open(helper['log']) as handle:
            lines = [parse_line(line) for line in handle if line.strip()]
        return [(kind, f['hwnd'], int(f['wparam']), int(f['lparam'], 16))
                for kind, f in lines if kind in ('query', 'end')]

    def marker_lines(self):
        path = self.drive_c(MARKER)
        if not os.path.exists(path):
            return []
        with open(path, encoding='latin-1') as handle:
            return [line.rstrip('\r\n') for line in handle if line.strip()]

    def xdotool(self, *args):
        self.run(['xdotool'] + [str(a) for a in args], 10)

    def screenshot(self, name, *records, margin=12):
        """Saves the screen around the given windows to the screenshot folder,
        when one was asked for."""
        if not self.args.screenshots:
            return
        rects = [rect_of(r) for r in records]
        left = max(0, min(r[0] for r in rects) - margin)
        top = max(0, min(r[1] for r in rects) - margin)
        right = min(1024, max(r[2] for r in rects) + margin)
        bottom = min(768, max(r[3] for r in rects) + margin)
        time.sleep(0.3)  # let the window finish painting
        os.makedirs(self.args.screenshots, exist_ok=True)
        self.run(['import', '-window', 'root', '-crop', '%dx%d+%d+%d'
                  % (right - left, bottom - top, left, top), '+repage',
                  os.path.join(self.args.screenshots, name)], 30)

    def touch_startup_file(self, name, when=None):
        path = self.drive_c(name)
        if when is None:
            with open(path, 'a', newline='\r\n') as handle:
                handle.write('REM changed\n')
            now = time.time()
            os.utime(path, (now, now))
        else:
            os.utime(path, (when, when))


# ---- scenarios -------------------------------------------------------------------

SCENARIOS = []
VIRTUAL_DESKTOP = 'shell'


def scenario(function=None, desktop=VIRTUAL_DESKTOP):
    """Registers a scenario; desktop=None runs it on the bare X display."""
    def register(function):
        function.desktop = desktop
        SCENARIOS.append(function)
        return function
    return register(function) if function else register


def count_tarnwick(wine):
    return sum(1 for p in wine.processes() if p.get('exe', '').lower() == 'tarnwick.exe')


def query_end_session(wine, lparam):
    result = wine.probe('send', 'main', WM_QUERYENDSESSION, 0, lparam)
    check(result.value('send') == 'ok', 'WM_QUERYENDSESSION got no answer: %s' % result)
    return int(result.value('result'))


def end_session(wine, ending):
    result = wine.probe('send', 'main', WM_ENDSESSION, 1 if ending else 0, 0)
    check(result.value('send') == 'ok', 'WM_ENDSESSION got no answer: %s' % result)


def registry_snapshot(wine):
    """The settings key's values as {name: (type, hex data)}; None without the key."""
    result = wine.probe('reg-dump')
    check(result.rc == 0, 'could not read the settings: %s' % result)
    if result.value('key') == 'missing':
        return None
    return {v['name']: (v['type'], v['data']) for v in result.records('value')}


def check_kept(wine, before, what):
    """Every value that was there before is still there, unchanged; returns
    the values now."""
    after = registry_snapshot(wine)
    if before is None:
        return after
    check(after is not None, '%s: the settings key is gone' % what)
    for name, value in before.items():
        check(after.get(name) == value, '%s: "%s" was %s, now %s'
              % (what, name, value, after.get(name)))
    return after


def check_alive(wine, process, what):
    """The program still runs and its main window answers a sent WM_NULL."""
    check(process.poll() is None, '%s: the program ended (exit code %s)'
          % (what, process.poll()))
    answer = wine.probe('send', 'main', WM_NULL, 0, 0, 10000)
    check(answer.value('send') == 'ok', '%s: the main window does not answer: %s'
          % (what, answer))


def tray_state(wine, window='main'):
    return wine.probe('tray', window, 1).value('tray')


@scenario
def first_start_without_settings(wine):
    """No settings key: the program runs with one hidden main window, no tray
    icon, and WM_CLOSE ends it with exit code 0."""
    wine.settings(None)
    process, window = wine.start_tarnwick()
    check(window['visible'] == '0', 'the main window is visible')
    check(window['exe'] == 'TARNWICK.EXE', 'main window belongs to %r' % window['exe'])
    check(tray_state(wine) == 'absent', 'a tray icon shows without any setting')
    wine.close_tarnwick(process)
    check(not wine.main_windows(), 'the main window is still there after exit')


@scenario
def single_instance(wine):
    """A second plain start and a second "/init" start hand over to the running
    instance and exit with 0; one main window and one process remain."""
    wine.settings(None)
    first, window = wine.start_tarnwick('/init')
    for args in ([], ['/init'], ['/INIT']):
        second = wine.popen(['%s\\TARNWICK.EXE' % INSTALL_DIR] + args)
        code = wine.exit_code(second)
        check(code == 0, 'second start %s exit code %s' % (args or '(plain)', code))
    windows = wine.main_windows()
    check(len(windows) == 1, '%d main windows after second starts' % len(windows))
    check(windows[0]['hwnd'] == window['hwnd'], 'the main window changed')
    instances = count_tarnwick(wine)
    check(instances == 1, '%d TARNWICK processes' % instances)
    check(first.poll() is None, 'the first instance ended (exit code %s)' % first.poll())
    wine.close_tarnwick(first)


@scenario
def tray_icon_follows_setting(wine):
    """The tray icon (main window, id 1) exists exactly when "Show tray icon"
    reads as non-zero, and is gone after WM_CLOSE."""
    cases = [
        ('dword 1', 1, 'present'),
        ('dword 2', 2, 'present'),
        ('dword 0', 0, 'absent'),
        ('4-byte binary 1', ('hex:3', '01000000'), 'present'),
        ('64 KiB binary', ('fill:3', '65536:1'), 'absent'),
        ('5-byte binary', ('hex:3', '0100000000'), 'absent'),
    ]
    for label, value, expected in cases:
        wine.settings({SHOW_TRAY: value})
        process, window = wine.start_tarnwick('/init')
        state = tray_state(wine)
        check(state == expected, '"Show tray icon" %s: icon %s, expected %s'
              % (label, state, expected))
        wine.close_tarnwick(process, 'Tarnwick with "Show tray icon" %s' % label)
        # No stale icon stays behind. (Wine's shell also drops the icons of a
        # destroyed window by itself, so this cannot tell whether the program
        # removed its icon; the unit tests see that call.)
        check(tray_state(wine, window['hwnd']) == 'absent',
              '"Show tray icon" %s: the icon stays after exit' % label)


@scenario
def release_zip_installs_and_runs(wine):
    """The release zip, unpacked as a user would into a folder of its own and
    set up with its TARNWICK.REG through Wine's regedit on a prefix without
    the settings key: the program starts from there with its tray icon, and
    "Intercept all restarts" toggles from 0 to 1 and back."""
    archive = os.path.join(ROOT, 'dist', 'tarnwick-1.1.zip')
    check(os.path.exists(archive), 'no release zip (run make dist first)')
    wine.settings(None)
    target = wine.drive_c(UNZIP_DIR)
    shutil.rmtree(target, ignore_errors=True)
    with zipfile.ZipFile(archive) as opened:
        opened.extractall(target)
    rc = wine.regedit(UNZIP_DIR + '\\TARNWICK.REG')
    check(rc == 0, 'regedit could not import TARNWICK.REG (exit code %s)' % rc)
    wine.check_dword(SHOW_TRAY, 1, 'after the import')
    wine.check_dword(INTERCEPT, 0, 'after the import')
    process, window = wine.start_tarnwick('/init', folder=UNZIP_DIR)
    check(window['exe'] == 'TARNWICK.EXE', 'the main window belongs to %r' % window['exe'])
    check(tray_state(wine) == 'present', 'no tray icon after the import')
    for expected in (1, 0):
        wine.probe('send', 'main', WM_COMMAND, IDM_INTERCEPT, 0)
        wine.check_dword(INTERCEPT, expected, 'after the toggle')
    wine.close_tarnwick(process)


def files_below(folder):
    """{path relative to folder: bytes} of every file below it."""
    found = {}
    for base, _, names in os.walk(folder):
        for name in names:
            with open(os.path.join(base, name), 'rb') as handle:
                found[os.path.relpath(os.path.join(base, name), folder)] = handle.read()
    return found


def open_pages_with_marker(wine, on):
    """Makes the shell open .html and .htm files with a copy of the stand-in
    companion, which leaves its line in the marker file, so that a scenario
    sees the help open; or takes that back (a new prefix has neither class)."""
    if on:
        shutil.copy(os.path.join(wine.drive_c(INSTALL_DIR), 'RESTART.EXE'), wine.drive_c(PAGE_OPENER))
        text = ''.join('[HKEY_CLASSES_ROOT\\%s]\n@="%s"\n\n' % (ext, PAGE_CLASS) for ext in ('.html', '.htm'))
        text += ('[HKEY_CLASSES_ROOT\\%s\\shell\\open\\command]\n@="\\"%s\\" \\"%%1\\""\n\n'
                 % (PAGE_CLASS, PAGE_OPENER.replace('\\', '\\\\')))
    else:
        text = ''.join('[-HKEY_CLASSES_ROOT\\%s]\n\n' % key for key in ('.html', '.htm', PAGE_CLASS))
    check(wine.import_reg('pages.reg', 'REGEDIT4\n\n' + text) == 0, 'could not change the page classes')


def check_help_opens(wine, folder, page):
    """The tray menu's Help makes the shell open `page` below the program's
    folder, with that folder as the working folder; the marker is removed."""
    wine.probe('send', 'main', WM_COMMAND, IDM_HELP, 0)
    opened = wait_until(wine.marker_lines, EXIT_TIMEOUT)
    check(len(opened) == 1 and opened[0].lower().startswith(
              'cwd=%s|tail="%s\\%s"|' % (folder.lower(), folder.lower(), page.lower())),
          'Help opened %s' % opened)
    os.remove(wine.drive_c(MARKER))


def install_inf(wine, drive, what):
    """DefaultInstall of TARNWICK.INF at the root of a drive, as the Windows
    95 shell's Install runs it, through the 16-bit rundll.exe and setupx.dll."""
    rc = wine.run(['wine', 'rundll.exe', 'setupx.dll,InstallHinfSection', 'DefaultInstall',
                   '132', drive + r'\TARNWICK.INF'], 60)
    check(rc == 0, '%s: rundll.exe ended with %s' % (what, rc))


def mount_image(wine, drive, argv):
    """The files an image tool extracts (into the folder it is given last) as
    a drive of the prefix; returns the folder."""
    folder = os.path.join(wine.root, drive[0])
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    check(wine.run(argv + [folder], 60) == 0, 'could not read %s' % argv[-1])
    # Wine's copy keeps the read-only attribute that it derives from the
    # files' modes, as a CD's are, so that the uninstall could not delete
    # them; the Windows 95 engine writes new files. Nothing in the scenario
    # writes to the medium, and it checks that at the end.
    for base, _, names in os.walk(folder):
        os.chmod(base, 0o755)
        for name in names:
            os.chmod(os.path.join(base, name), 0o644)
    link = os.path.join(wine.prefix, 'dosdevices', drive.lower())
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(folder, link)
    return folder


@scenario
def floppy_installs_and_uninstalls(wine):
    """The floppy image's files as drive A:, installed as the Windows 95 shell
    installs an INF: the files, the settings, the Run value and the
    Add/Remove Programs entry; the Run value's command starts the program
    with its tray icon and no dialog, and its Help opens the installed
    HELP\\INDEX.HTM; a second install, from the CD image as
    drive D:, keeps a changed setting; Wine's Add/Remove Programs removes
    every file and key, a second removal changes nothing, and nothing was
    written to either medium."""
    dist = os.path.join(ROOT, 'dist', 'tarnwick-1.1')
    check(os.path.exists(dist + '.img') and os.path.exists(dist + '.iso'),
          'no floppy or CD image (run make dist first)')
    floppy = mount_image(wine, 'A:', ['mcopy', '-s', '-m', '-n', '-i', dist + '.img', '::/*'])
    cd = mount_image(wine, 'D:', ['xorriso', '-osirrox', 'on', '-joliet', 'on', '-indev',
                                  dist + '.iso', '-extract', '/'])
    medium = files_below(floppy)
    wine.settings(None)
    install_inf(wine, 'A:', 'install from the floppy')

    installed = files_below(wine.drive_c(INF_INSTALL_DIR))
    wanted = {name: medium[name] for name in ('TARNWICK.EXE', 'RESTART.EXE', 'README.TXT')}
    wanted[os.path.join('HELP', 'INDEX.HTM')] = medium['TARNWICK.HTM']
    check(installed == wanted, 'installed %s, expected %s' % (sorted(installed), sorted(wanted)))
    with open(wine.drive_c(r'C:\windows\inf\TARNWICK.INF'), 'rb') as handle:
        check(handle.read() == medium['TARNWICK.INF'], 'the INF copy differs')
    for name, value in ((SHOW_TRAY, b'\1\0\0\0'), (INTERCEPT, b'\0\0\0\0')):
        check(wine.setting(name) == (3, value), '"%s" is %s' % (name, wine.setting(name)))
    command = (wine.reg_values(RUN_KEY) or {}).get('Tarnwick')
    check(command == r'%s\TARNWICK.EXE /init' % INF_INSTALL_DIR, 'Run value %r' % command)
    entry = wine.reg_values(ENTRY_KEY) or {}
    check(entry.get('DisplayName') == 'Tarnwick 1.1', 'Add/Remove Programs entry %s' % entry)

    # Started as the logon starts it: the tray icon, no dialog.
    process = wine.popen(command.split(' '))
    window = wine.wait_main_window(process.poll, 'the Run value\'s command')
    check(window['exe'] == 'TARNWICK.EXE', 'the main window belongs to %r' % window['exe'])
    check(tray_state(wine) == 'present', 'no tray icon after the install')
    time.sleep(0.5)
    check(dialog_count(wine, window['pid']) == 0, 'a dialog opened at a logon start')
    wine.probe('send', 'main', WM_COMMAND, IDM_INTERCEPT, 0)
    wine.check_dword(INTERCEPT, 1, 'after the toggle')
    # Help from the tray menu opens the page under the 8.3 name it was installed with.
    open_pages_with_marker(wine, True)
    try:
        check_help_opens(wine, INF_INSTALL_DIR, r'Help\INDEX.HTM')
    finally:
        open_pages_with_marker(wine, False)
    wine.close_tarnwick(process)

    # The second install must put a lost file back: proof that it ran at all.
    os.remove(os.path.join(wine.drive_c(INF_INSTALL_DIR), 'README.TXT'))
    install_inf(wine, 'D:', 'second install, from the CD')
    wine.check_dword(INTERCEPT, 1, 'after a second install')
    check(wine.setting(SHOW_TRAY) == (3, b'\1\0\0\0'), 'a second install changed "Show tray icon"')
    check(files_below(wine.drive_c(INF_INSTALL_DIR)) == wanted, 'a second install changed files')

    # The second removal runs the stored command once more, as a stale entry would.
    removals = (('Add/Remove Programs', ['uninstaller', '--remove', 'Tarnwick']),
                ('a second removal', entry['UninstallString'].split()))
    for attempt, argv in removals:
        rc = wine.run(['wine'] + argv, 60)
        check(rc == 0, '%s ended with %s' % (attempt, rc))
        left = sorted(files_below(wine.drive_c(INF_INSTALL_DIR)))
        check(not left, 'after %s these files are left: %s' % (attempt, left))
        check(not os.path.exists(wine.drive_c(r'C:\windows\inf\TARNWICK.INF')),
              'after %s the INF copy is left' % attempt)
        check(registry_snapshot(wine) is None,
              'after %s the settings key is left' % attempt)
        check('Tarnwick' not in (wine.reg_values(RUN_KEY) or {}),
              'after %s the Run value is left' % attempt)
        check(wine.reg_values(ENTRY_KEY) is None, 'after %s the entry is left' % attempt)
    check(files_below(floppy) == medium and files_below(cd) == medium,
          'the install wrote to the floppy or the CD')


@scenario
def init_start_restores_lost_tray_icon(wine):
    """After the shell has lost the icon, a start with "/init" makes the
    running instance add it again; with the setting off it adds none."""
    wine.settings({SHOW_TRAY: 1})
    process, window = wine.start_tarnwick('/init')
    check(tray_state(wine) == 'present', 'no tray icon at start')
    wine.probe('tray-delete', 'main', 1)
    check(tray_state(wine) == 'absent', 'the probe could not remove the icon')
    check(wine.exit_code(wine.popen(['%s\\TARNWICK.EXE' % INSTALL_DIR, '/init'])) == 0,
          'second /init start failed')
    check(wait_until(lambda: tray_state(wine) == 'present', 5), 'the icon did not come back')
    wine.settings({SHOW_TRAY: 0})
    wine.probe('tray-delete', 'main', 1)
    check(wine.exit_code(wine.popen(['%s\\TARNWICK.EXE' % INSTALL_DIR, '/init'])) == 0,
          'third /init start failed')
    time.sleep(0.5)
    check(tray_state(wine) == 'absent', 'an icon came back with the setting off')
    wine.close_tarnwick(process)


def spawn_exact(wine, command_line):
    """Starts TARNWICK.EXE with exactly this command line (bytes) from a
    probe that then waits for its exit code; returns (probe process, out file)."""
    line_file = wine.out_file('cmdline')
    with open(line_file, 'wb') as handle:
        handle.write(command_line)
    out = wine.out_file('spawn')
    process = wine.popen([wine.probe_exe, '--out', unix_to_dos(out), 'spawn',
                          '%s\\TARNWICK.EXE' % INSTALL_DIR, unix_to_dos(line_file),
                          str(int((START_TIMEOUT + 30) * 1000))])
    return process, out


@scenario
def hostile_command_lines(wine):
    """Very long command lines and lines full of quotes and control characters
    start the program normally: it runs, has its main window, and exits with
    0 on WM_CLOSE."""
    wine.settings(None)
    program = ('"%s\\TARNWICK.EXE"' % INSTALL_DIR).encode()
    controls = bytes(range(1, 32)) + b'\x7f\xff'
    exact = [
        ('30,000 characters', program + b' ' + b'/init' + b'x' * 30000),
        ('quotes and control characters',
         program + b' "\t"\x01"/init"""' + controls + b'"' * 50 + b' \\"\\\\"'),
        ('only control characters after the name', program + controls[:31]),
        ('unclosed quote around the name', program[:-1] + b' /init \x01\x02'),
        ('32,700 quotes', program + b' ' + b'"' * 32700),
    ]
    for label, line in exact:
        spawner, out = spawn_exact(wine, line)

        def exit_code():
            with open(out) as handle:
                return ProbeResult(0, handle.read()).value('exit')
        window = wine.wait_main_window(lambda: exit_code() if os.path.exists(out) else None, label)
        check(window['visible'] == '0', '%s: the main window is visible' % label)
        wine.probe('post', 'main', WM_CLOSE, 0, 0)
        check(wine.exit_code(spawner, START_TIMEOUT) is not None, '%s: did not exit' % label)
        check(exit_code() == '0', '%s: exit code %s' % (label, exit_code()))
    # The same through Wine's own command-line building from Unix arguments.
    for label, args in [('30,000-character argument', ['x' * 30000]),
                        ('quoted arguments', ['"', '""', '\\"', 'a b\t"c"', '\x01\x1f'])]:
        process, _ = wine.start_tarnwick(*args)
        wine.close_tarnwick(process, 'Tarnwick with %s' % label)


def broadcast_round(events, ending=1):
    """Checks that the events are a WM_QUERYENDSESSION (0, 0) to each window,
    then a WM_ENDSESSION (ending, 0) to the same windows in the same order,
    and returns the windows in the order they were asked."""
    windows = [event[1] for event in events[:len(events) // 2]]
    expected = [('query', w, 0, 0) for w in windows] + [('end', w, ending, 0) for w in windows]
    check(events == expected, 'expected %s, got %s' % (expected, events))
    return windows


def check_quick_restart_done(wine, folder, launches=1):
    """RESTART.EXE ran the given number of times, in the program's folder,
    without parameters."""
    check(wait_until(lambda: len(wine.marker_lines()) >= launches, EXIT_TIMEOUT),
          'RESTART.EXE did not run')
    time.sleep(0.5)
    lines = wine.marker_lines()
    check(len(lines) == launches, 'RESTART.EXE ran %d times, expected %d: %s'
          % (len(lines), launches, lines))
    for line in lines:
        fields = dict(part.split('=', 1) for part in line.split('|'))
        check(fields['cwd'].lower() == folder.lower(),
              'RESTART.EXE ran in %r, not in the program\'s folder %r' % (fields['cwd'], folder))
        check(fields['tail'] == '', 'RESTART.EXE got parameters %r' % fields['tail'])


def check_swept(wine, helper, survivor, tarnwick, window, earlier=0):
    """After a sweep: the helper was told (after its first `earlier` events)
    and terminated with exit code 0, the protected helper was left alone, the
    program itself still runs."""
    code = wine.exit_code(helper['process'])
    check(code == 0, 'helper %s was not terminated with exit code 0 (%s)' % (helper['exe'], code))
    events = wine.helper_events(helper)[earlier:]
    told = broadcast_round(events)
    check(sorted(told) == sorted(helper['windows']),
          'helper windows told %s, expected each of %s once' % (told, helper['windows']))
    check(survivor['process'].poll() is None,
          'protected helper %s was terminated' % survivor['exe'])
    check(wine.helper_events(survivor) == [],
          'protected helper %s was sent %s' % (survivor['exe'], wine.helper_events(survivor)))
    check(tarnwick.poll() is None, 'the program terminated itself (exit code %s)'
          % tarnwick.poll())
    windows = wine.main_windows()
    check([w['hwnd'] for w in windows] == [window['hwnd']], 'main window after the sweep: %s'
          % windows)


@scenario
def interception_answers(wine):
    """With "Intercept all restarts" on, a log-off or any other flagged end is
    allowed, the setting is read afresh each time, and WM_ENDSESSION with no
    refusal before it starts nothing. A refused end needs nothing more from
    the system, as Windows 95 sends the refusing window nothing: the quick
    restart follows at once, and from then on every session end is allowed."""
    wine.settings({INTERCEPT: 1})
    process, _ = wine.start_tarnwick('/init')
    helper = wine.start_helper('helper.exe', 'Bystander')
    check(query_end_session(wine, ENDSESSION_LOGOFF) == 1, 'log-off was refused')
    check(query_end_session(wine, ENDSESSION_CLOSEAPP) == 1, 'ENDSESSION_CLOSEAPP was refused')
    for label, value in [('0', 0), ('missing', None), ('5 bytes', ('hex:4', '0100000000'))]:
        if value is None:
            wine.probe('reg-del', INTERCEPT)
        else:
            wine.settings({INTERCEPT: value})
        check(query_end_session(wine, 0) == 1, '"Intercept all restarts" %s: refused' % label)
    end_session(wine, True)
    end_session(wine, False)
    time.sleep(1.0)
    check(wine.marker_lines() == [], 'a quick restart was started: %s' % wine.marker_lines())
    check(helper['process'].poll() is None and wine.helper_events(helper) == [],
          'the bystander was disturbed')
    wine.settings({INTERCEPT: 2})
    wine.dirty = True
    check(query_end_session(wine, 0) == 0, '"Intercept all restarts" 2: allowed')
    check_quick_restart_done(wine, INSTALL_DIR)
    check(wine.exit_code(helper['process']) == 0, 'the bystander was not ended')
    check(broadcast_round(wine.helper_events(helper)) == helper['windows'],
          'the bystander was not told: %s' % wine.helper_events(helper))
    check(query_end_session(wine, 0) == 1, 'a session end was refused after the quick restart')
    wine.close_tarnwick(process)


@scenario
def wine_session_end_becomes_quick_restart(wine):
    """The whole road with Wine as the system: "wineboot --end-session" asks
    the program, which refuses and then tells the other applications, ends
    them, spares a protected one and runs RESTART.EXE in its own folder; from
    then on every session end is allowed."""
    # Wine asks one process after another in the order of their ids, and ends
    # each one that agreed before it asks the next: the helpers must come
    # after the program. A new session hands out rising ids; a long-running
    # one hands out freed ids again, in any order.
    wine.kill_session()
    wine.warm_up()
    wine.settings({INTERCEPT: 1})
    process, window = wine.start_tarnwick('/init')
    helper = wine.start_helper('helper.exe', 'Plain helper', 'windows=2')
    survivor = wine.start_helper('MYEXPLORER.EXE', 'Protected helper')
    check(int(window['pid']) < min(int(helper['pid']), int(survivor['pid'])),
          'the helpers\' process ids %s and %s are not above the program\'s %s'
          % (helper['pid'], survivor['pid'], window['pid']))
    wine.dirty = True  # the sweep also ends Wine's own processes
    wine.run(['wine', 'wineboot', '--end-session'], 60)
    check_quick_restart_done(wine, INSTALL_DIR)
    check_swept(wine, helper, survivor, process, window)
    check(query_end_session(wine, 0) == 1, 'a session end was refused after the quick restart')
    wine.close_tarnwick(process)


@scenario
def deferred_restart_spares_lower_case_program(wine):
    """A program whose hidden main window owns a visible one is waited for
    while its "Save changes?" box is up, and its Cancel after 8 s calls the
    restart off: the windows asked before it hear that the session goes on,
    nothing is ended or started, and interception stays on. Once it is
    gone, the next refusal tells and ends the others, one window after
    another; a program whose file is "Tarnwick.exe" does not end itself; a
    WM_ENDSESSION FALSE after the restart, as Wine and the NT family send
    the refusing window, adds no second one."""
    wine.settings({INTERCEPT: 1})
    process, window = wine.start_tarnwick('/init', folder=LOWER_DIR, exe='Tarnwick.exe')
    check(window['exe'] == 'Tarnwick.exe', 'Wine names the process %r' % window['exe'])
    # Wine enumerates the newest windows first: the helper's are asked, and
    # agree, before the canceller's.
    canceller = wine.start_helper('helper.exe', 'Cancelling helper', 'owned', 'prompt=8000',
                                  'refuse')
    helper = wine.start_helper('helper.exe', 'Plain helper', 'windows=3')
    survivor = wine.start_helper('MYEXPLORER.EXE', 'Protected helper')
    asked = time.monotonic()
    check(query_end_session(wine, 0) == 0, 'the query was allowed')
    check(wait_until(lambda: len(wine.helper_events(helper)) == 6, 15) and
          time.monotonic() - asked > 7, 'the helper got %s before the canceller answered after 8 s'
          % wine.helper_events(helper))
    time.sleep(1.0)
    check(wine.helper_events(canceller) == [('query', canceller['windows'][0], 0, 0)],
          'the canceller got %s' % wine.helper_events(canceller))
    called_off = wine.helper_events(helper)
    check(sorted(broadcast_round(called_off, ending=0)) == sorted(helper['windows']),
          'the helper was not told that the end is off')
    check(wine.marker_lines() == [], 'a cancelled restart ran RESTART.EXE')
    for h in (helper, canceller, survivor):
        check(h['process'].poll() is None, 'a cancelled restart ended %s' % h['exe'])
    wine.probe('send', canceller['windows'][0], WM_CLOSE, 0, 0)
    wine.dirty = True
    # No probe may run between the refusal and the launch: the sweep would end it.
    check(query_end_session(wine, 0) == 0, 'interception ended with the cancelled restart')
    check_quick_restart_done(wine, LOWER_DIR)
    check_swept(wine, helper, survivor, process, window, earlier=len(called_off))
    end_session(wine, False)
    check_quick_restart_done(wine, LOWER_DIR)
    check(query_end_session(wine, 0) == 1, 'a session end was refused after the quick restart')
    wine.close_tarnwick(process)


@scenario
def plain_quick_restart_ends_nothing(wine):
    """WM_COMMAND 1000 (with a notification code in the high word) runs
    RESTART.EXE in the program's folder and terminates nothing; the session
    end it brings is allowed, and once Windows says that the session goes
    on, interception is back: the next restart becomes a quick restart."""
    wine.settings({INTERCEPT: 1})
    process, _ = wine.start_tarnwick('/init')
    helper = wine.start_helper('helper.exe', 'Bystander')
    wine.probe('post', 'main', WM_COMMAND, (1 << 16) | 1000, 0)
    check_quick_restart_done(wine, INSTALL_DIR)
    check(helper['process'].poll() is None, 'a plain quick restart terminated a helper')
    check(wine.helper_events(helper) == [], 'a plain quick restart told a helper')
    check(process.poll() is None, 'the program ended')
    check(query_end_session(wine, 0) == 1, 'a session end was refused after the quick restart')
    end_session(wine, False)
    wine.dirty = True
    check(query_end_session(wine, 0) == 0, 'interception stays off after the session went on')
    check_quick_restart_done(wine, INSTALL_DIR, launches=2)
    check(wine.exit_code(helper['process']) == 0, 'the intercepted restart did not end the helper')
    wine.close_tarnwick(process)


@scenario
def forced_quick_restart_from_dialog(wine):
    """OK in the dialog with "Quick Windows Restart" and the force box
    terminates the other applications, spares a protected one, Wine's own
    explorer.exe in lower case and the program itself, then runs RESTART.EXE."""
    wine.settings({LAST_COMMAND: 1000, LAST_FORCE: 1})
    process, window = wine.start_tarnwick('/init')
    helper = wine.start_helper('helper.exe', 'Bystander')
    survivor = wine.start_helper('MYEXPLORER.EXE', 'Protected helper')
    wine.probe('post', 'main', WM_APP_SHOWDIALOG, 0, 0)
    dialog = wine.probe('dialog', window['pid'], 10000)
    check(dialog.rc == 0, 'the dialog did not open')
    checked = {c['id']: c['checked'] for c in dialog.records('control')}
    check(checked.get('1000') == '1' and checked.get('1009') == '1',
          'the dialog does not show the stored forced quick restart: %s' % checked)
    explorers = sorted(p['pid'] for p in wine.processes() if p.get('exe') == 'explorer.exe')
    check(explorers, 'Wine runs no explorer.exe')
    wine.dirty = True
    wine.probe('click', window['pid'], 1)
    check_quick_restart_done(wine, INSTALL_DIR)
    left = sorted(p['pid'] for p in wine.processes() if p.get('exe') == 'explorer.exe')
    check(left == explorers, 'explorer.exe %s after the sweep, %s before' % (left, explorers))
    code = wine.exit_code(helper['process'])
    check(code == 0, 'the helper was not terminated (%s)' % code)
    check(wine.helper_events(helper) == [], 'a forced quick restart sent session-end messages')
    check(survivor['process'].poll() is None, 'the protected helper was terminated')
    check(process.poll() is None, 'the program ended (exit code %s)' % process.poll())
    wine.close_tarnwick(process)


@scenario
def changed_startup_file_allows_session_end(wine):
    """A start-up file rewritten, deleted or created after start, or
    rewritten before the start but since Windows started (now less
    GetTickCount), makes every session end allowed and withdraws the quick
    restart from the dialog, and so does a WININIT.INI with replacements for
    the next boot while it is there; a file missing at start and still
    missing, one whose time lies after now (a clock gone wrong), or a
    WININIT.INI gone again, changes nothing: a restart is refused and the
    quick restart follows."""
    wine.settings({INTERCEPT: 1})
    for label, change, before in [
            ('Config.sys rewritten', lambda: wine.touch_startup_file('config.sys'), False),
            ('Config.sys deleted', lambda: os.remove(wine.drive_c('config.sys')), False),
            ('Autoexec.bat created', lambda: wine.touch_startup_file('autoexec.bat'), False),
            ('Config.sys rewritten before the start', lambda: wine.touch_startup_file('config.sys'),
             True),
            (None, lambda: wine.touch_startup_file('config.sys', time.time() + 86400), True)]:
        wine.old_startup_files()
        os.remove(wine.drive_c('autoexec.bat'))
        if before:
            change()
        process, window = wine.start_tarnwick('/init')
        if not before:
            change()
        if label is None:
            break
        check(query_end_session(wine, 0) == 1, '%s: the restart was refused' % label)
        check(not fault_scenarios.quick_restart_offered(wine, window['pid']),
              '%s: the dialog still offers the quick restart' % label)
        wine.close_tarnwick(process)
    pending = wine.drive_c(PENDING_REPLACEMENTS)
    with open(pending, 'w', newline='\r\n') as handle:
        handle.write('[rename]\nNUL=C:\\TWTEST.TMP\n')
    check(query_end_session(wine, 0) == 1, 'WININIT.INI queued: the restart was refused')
    check(not fault_scenarios.quick_restart_offered(wine, window['pid']),
          'WININIT.INI queued: the dialog still offers the quick restart')
    os.remove(pending)
    wine.dirty = True
    check(query_end_session(wine, 0) == 0, 'Autoexec.bat missing throughout, Config.sys dated '
          'tomorrow, or WININIT.INI gone again, counted as changed')
    check_quick_restart_done(wine, INSTALL_DIR)
    wine.close_tarnwick(process)


@scenario
def full_reboot_ends_wine_session(wine):
    """WM_COMMAND 1001 makes Wine end its session: the other application is
    asked and told, and the program ends with it; no quick restart runs."""
    wine.settings({INTERCEPT: 1})
    process, _ = wine.start_tarnwick('/init')
    helper = wine.start_helper('helper.exe', 'Bystander')
    wine.dirty = True
    wine.probe('post', 'main', WM_COMMAND, 1001, 0)
    check(wine.exit_code(process, 30) is not None, 'the program still runs after a full reboot')
    check(wine.exit_code(helper['process'], 30) is not None, 'the helper survived the reboot')
    events = wine.helper_events(helper)
    check(('end', helper['windows'][0], 1, 0) in events,
          'the helper was not told that the session ends: %s' % events)
    check(wine.marker_lines() == [], 'a quick restart ran during a full reboot')


@scenario
def odd_commands_and_messages(wine):
    """Unknown command ids, the screen saver and suspend commands, stray
    session-end and private messages: the program keeps running, answers
    and starts nothing; exit to DOS without the .pif opens nothing and
    leaves interception on: the next restart becomes a quick restart."""
    wine.settings({INTERCEPT: 1, SHOW_TRAY: 1})
    process, window = wine.start_tarnwick('/init')
    helper = wine.start_helper('helper.exe', 'Bystander')
    # Sent, not posted: each is handled completely before the next, and
    # before the checks below.
    sends = []
    for command in (0, 1005, 1008, 1009, 40007, 0xFFFF, 0x7FFF0000 | 1006, 1007):
        sends += ['+', 'send', 'main', WM_COMMAND, command, 0xDEADBEEF]
    for message, wparam, lparam in [(WM_ENDSESSION, 0, 0), (WM_ENDSESSION, 1, 0xFFFFFFFF),
                                    (WM_APP_REFRESHTRAY, 7, 7), (WM_APP_TRAYNOTIFY, 1, 0x200),
                                    (WM_APP_OWNENDOVER, 1, 1), (WM_APP_OWNENDOVER + 1, 1, 1),
                                    (0xBFFF, 1, 1)]:
        sends += ['+', 'send', 'main', message, wparam, lparam]
    answers = wine.probe(*sends[1:])
    check(answers.rc == 0, 'the program stopped answering: %s' % answers)
    check(process.poll() is None, 'the program ended (exit code %s)' % process.poll())
    check(wine.marker_lines() == [], 'something started RESTART.EXE')
    check(helper['process'].poll() is None and wine.helper_events(helper) == [],
          'the bystander was disturbed')
    check(tray_state(wine) == 'present', 'the tray icon went away')
    check(wine.probe('send', 'main', WM_COMMAND, 1003, 0).value('send') == 'ok',
          'the program hangs in exit to DOS')
    check(wine.probe('dialog', window['pid'], 0).value('dialogs') == '0',
          'exit to DOS showed a window')
    wine.dirty = True
    check(query_end_session(wine, 0) == 0, 'interception ended with an exit to DOS that opened nothing')
    check_quick_restart_done(wine, INSTALL_DIR)
    wine.close_tarnwick(process)


# -- the user interface --

RADIO_IDS = ('1000', '1001', '1002', '1003', '1004', '1006', '1007')
WM_LBUTTONDOWN = 0x0201
WM_RBUTTONUP = 0x0205
IDOK = 1
IDCANCEL = 2
IDM_EXIT = 40001
IDM_HELP = 40002
IDM_ABOUT = 40003
IDM_DISABLETRAYICON = 40004
IDM_INTERCEPT = 40005
IDM_SHOWTRAYICON = 40007
ABOUT_TITLE = 'About Tarnwick'


def dialog_controls(wine, pid, timeout=10000, title=MAIN_TITLE):
    """The controls of the visible dialog of that title, by id; fails when
    it does not open in time."""
    result = wine.probe('dialog', pid, timeout, title)
    check(result.rc == 0, 'no dialog "%s" opened' % title)
    controls = {c['id']: c for c in result.records('control')}
    controls['window'] = result.records('dialog')[0]
    return controls


def selected(controls):
    return [i for i in RADIO_IDS if controls[i]['checked'] == '1']


def dialog_count(wine, pid, title=MAIN_TITLE):
    return int(wine.probe('dialog', pid, 0, title).value('dialogs'))


def wait_dialog_gone(wine, pid, title=MAIN_TITLE):
    check(wait_until(lambda: dialog_count(wine, pid, title) == 0, EXIT_TIMEOUT),
          'the dialog "%s" did not close' % title)


def popup_menus(wine, pid):
    return [w for w in wine.probe('find', '#32768', '*').records('window')
            if w['pid'] == pid and w['visible'] == '1']


def rect_of(record):
    return [int(v) for v in record['rect'].split(',')]


def tray_icon_point(wine):
    """Where Wine's taskbar draws the one tray icon: at its right end."""
    bars = wine.probe('find', 'Shell_TrayWnd', '*').records('window')
    check(bars, 'no taskbar')
    left, top, right, bottom = rect_of(bars[0])
    return right - 11, (top + bottom) // 2


@scenario
def dialog_opens_with_stored_choice(wine):
    """A plain first start shows the dialog with "Quick Windows Restart"
    selected and the force box clear; later openings show "Last command" and
    "Last force setting"; after C:\\Config.sys changed, "Quick Windows
    Restart" is disabled and a stored quick restart becomes "Full reboot"."""
    wine.settings(None)
    process, window = wine.start_tarnwick()
    pid = window['pid']
    cases = [
        ('no settings', None, False, ['1000'], '0'),
        ('Last command 1004, forced', {LAST_COMMAND: 1004, LAST_FORCE: 1}, False, ['1004'], '1'),
        ('Last command 1005', {LAST_COMMAND: 1005}, False, [], '0'),
        ('Config.sys changed, Last command 1000', {LAST_COMMAND: 1000}, True, ['1001'], '0'),
        ('Config.sys changed, nothing stored', {}, True, ['1001'], '0'),
        ('Config.sys changed, Last command 1004', {LAST_COMMAND: 1004}, True, ['1004'], '0'),
    ]
    for label, values, changed, expected, force in cases:
        if values is not None:
            wine.settings(values)
            if changed:
                wine.touch_startup_file('config.sys')
            wine.probe('post', 'main', WM_APP_SHOWDIALOG, 0, 0)
        controls = dialog_controls(wine, pid)
        check(controls['window']['visible'] == '1', '%s: the dialog is not visible' % label)
        check(selected(controls) == expected, '%s: selected %s, expected %s'
              % (label, selected(controls), expected))
        check(controls['1009']['checked'] == force, '%s: force box %s, expected %s'
              % (label, controls['1009']['checked'], force))
        check(controls['1000']['enabled'] == ('0' if changed else '1'),
              '%s: "Quick Windows Restart" enabled=%s' % (label, controls['1000']['enabled']))
        wine.probe('click', pid, IDCANCEL)
        wait_dialog_gone(wine, pid)
    wine.check_dword(LAST_COMMAND, 1004, 'after Cancel')
    check(wine.setting(LAST_FORCE) is None, 'Cancel stored "Last force setting"')
    wine.close_tarnwick(process)


@scenario
def dialog_ok_stores_choice(wine):
    """OK with "Screen Saver" and the force box stores 1006 and 1 and runs the
    command; OK with no command selected stores 0 and runs nothing."""
    wine.settings({})
    process, window = wine.start_tarnwick('/init')
    pid = window['pid']
    wine.probe('post', 'main', WM_APP_SHOWDIALOG, 0, 0)
    dialog_controls(wine, pid)
    wine.probe('click', pid, 1006, '+', 'click', pid, 1009, '+', 'sleep', 200, '+',
               'click', pid, IDOK)
    wait_dialog_gone(wine, pid)
    wine.check_dword(LAST_COMMAND, 1006, 'after OK')
    wine.check_dword(LAST_FORCE, 1, 'after OK')
    wine.settings({LAST_COMMAND: 1005, INTERCEPT: 1})
    wine.probe('post', 'main', WM_APP_SHOWDIALOG, 0, 0)
    check(selected(dialog_controls(wine, pid)) == [], 'a command is selected for 1005')
    wine.probe('click', pid, IDOK)
    wait_dialog_gone(wine, pid)
    wine.check_dword(LAST_COMMAND, 0, 'after OK without a selection')
    check(wine.probe('send', 'main', WM_NULL, 0, 0, 15000).value('send') == 'ok',
          'the program does not answer after the screen saver command')
    wine.dirty = True
    check(query_end_session(wine, 0) == 0, 'a dialog command ended interception')
    check_quick_restart_done(wine, INSTALL_DIR)
    wine.close_tarnwick(process)


@scenario
def one_dialog_at_a_time(wine):
    """While the dialog is open, a second plain start, further show requests
    and tray clicks open nothing more, and the request is not remembered."""
    wine.settings({SHOW_TRAY: 1})
    process, window = wine.start_tarnwick()
    pid = window['pid']
    dialog_controls(wine, pid)
    check(wine.exit_code(wine.popen(['%s\\TARNWICK.EXE' % INSTALL_DIR])) == 0,
          'the second start failed')
    wine.probe('post', 'main', WM_APP_SHOWDIALOG, 0, 0, '+', 'post', 'main', WM_APP_SHOWDIALOG,
               0, 0, '+', 'post', 'main', WM_APP_TRAYNOTIFY, 1, WM_LBUTTONDOWN, '+',
               'post', 'main', WM_APP_TRAYNOTIFY, 1, WM_RBUTTONUP)
    time.sleep(0.7)
    dialogs = dialog_count(wine, pid)
    check(dialogs == 1, '%d dialogs open' % dialogs)
    check(popup_menus(wine, pid) == [], 'the tray menu opened over the dialog')
    wine.probe('click', pid, IDCANCEL)
    wait_dialog_gone(wine, pid)
    time.sleep(0.7)
    check(dialog_count(wine, pid) == 0, 'a remembered request opened the dialog again')
    wine.close_tarnwick(process)


@scenario
def file_exit_ends_program(wine):
    """File > Exit in the dialog ends the program with exit code 0 and stores
    nothing."""
    wine.settings({})
    process, window = wine.start_tarnwick()
    dialog_controls(wine, window['pid'])
    wine.probe('click', window['pid'], 1004, '+', 'command', window['pid'], IDM_EXIT)
    code = wine.exit_code(process)
    check(code == 0, 'exit code %s after File > Exit' % code)
    check(wine.probe('reg-dump').value('values') == '0', 'File > Exit stored settings')


def check_about_box(wine, pid, owner):
    about = dialog_controls(wine, pid, title=ABOUT_TITLE)
    check(about['window']['owner'] == owner, 'About box owned by %s, expected %s'
          % (about['window']['owner'], owner))
    texts = [c['text'] for c in about.values() if c.get('class', '').lower() == 'static'
             and c['text'].strip()]
    check(texts and len(texts[0].replace('\r\n', '\n').strip().split('\n')) == 3,
          'About box text is not three lines: %r' % texts)
    return about


@scenario
def about_box_once(wine):
    """The About box ("About Tarnwick", three lines) opens from the tray menu
    and from the dialog's Help menu, once: a second request, tray clicks or a
    show request do nothing while it is open."""
    wine.settings({SHOW_TRAY: 1})
    process, window = wine.start_tarnwick('/init')
    pid = window['pid']
    wine.probe('post', 'main', WM_COMMAND, IDM_ABOUT, 0)
    about = check_about_box(wine, pid, window['hwnd'])
    wine.screenshot('about.png', about['window'])
    wine.probe('post', 'main', WM_COMMAND, IDM_ABOUT, 0, '+',
               'post', 'main', WM_APP_TRAYNOTIFY, 1, WM_LBUTTONDOWN, '+',
               'post', 'main', WM_APP_SHOWDIALOG, 0, 0)
    time.sleep(0.7)
    check(dialog_count(wine, pid, ABOUT_TITLE) == 1, 'a second About box opened')
    check(dialog_count(wine, pid) == 0, 'the dialog opened over the About box')
    wine.probe('click', pid, IDOK, ABOUT_TITLE)
    wait_dialog_gone(wine, pid, ABOUT_TITLE)
    wine.probe('post', 'main', WM_APP_SHOWDIALOG, 0, 0)
    dialog = dialog_controls(wine, pid)
    wine.probe('command', pid, IDM_ABOUT)
    check_about_box(wine, pid, dialog['window']['hwnd'])
    wine.probe('command', pid, IDM_ABOUT)
    time.sleep(0.5)
    check(dialog_count(wine, pid, ABOUT_TITLE) == 1, 'a second About box opened from the dialog')
    wine.probe('click', pid, IDOK, ABOUT_TITLE)
    wait_dialog_gone(wine, pid, ABOUT_TITLE)
    wine.probe('click', pid, IDCANCEL)
    wait_dialog_gone(wine, pid)
    wine.close_tarnwick(process)


@scenario
def tray_notifications_and_menu(wine):
    """A left press posted as the shell posts it opens the dialog; a right
    release opens the popup menu, which closes when the user clicks
    elsewhere; the menu's switches change the settings and the icon."""
    wine.settings({SHOW_TRAY: 1, INTERCEPT: 0})
    process, window = wine.start_tarnwick('/init')
    pid = window['pid']
    wine.probe('post', 'main', WM_APP_TRAYNOTIFY, 1, WM_LBUTTONDOWN)
    dialog_controls(wine, pid)
    wine.probe('click', pid, IDCANCEL)
    wait_dialog_gone(wine, pid)
    wine.probe('post', 'main', WM_APP_TRAYNOTIFY, 1, WM_RBUTTONUP)
    check(wait_until(lambda: popup_menus(wine, pid), 5), 'the tray menu did not open')
    wine.xdotool('mousemove', 40, 40, 'click', 1)
    check(wait_until(lambda: not popup_menus(wine, pid), 5),
          'the tray menu stays open after a click elsewhere')
    for expected in (1, 0):
        wine.probe('send', 'main', WM_COMMAND, IDM_INTERCEPT, 0)
        wine.check_dword(INTERCEPT, expected, 'after the toggle')
    wine.probe('reg-del', INTERCEPT, '+', 'send', 'main', WM_COMMAND, IDM_INTERCEPT, 0)
    check(wine.setting(INTERCEPT) is None, 'the toggle created "Intercept all restarts"')
    wine.probe('send', 'main', WM_COMMAND, IDM_DISABLETRAYICON, 0)
    check(tray_state(wine) == 'absent', '"Disable tray icon" left the icon')
    wine.check_dword(SHOW_TRAY, 0, 'after "Disable tray icon"')
    wine.close_tarnwick(process)


@scenario
def real_tray_icon_clicks(wine):
    """Clicks on the real icon in Wine's taskbar: the left button opens the
    dialog, the right button the popup menu above the icon."""
    wine.settings({SHOW_TRAY: 1})
    process, window = wine.start_tarnwick('/init')
    pid = window['pid']
    check(tray_state(wine) == 'present', 'no tray icon')
    x, y = tray_icon_point(wine)
    wine.xdotool('mousemove', x, y, 'click', 1)
    dialog = dialog_controls(wine, pid)
    wine.screenshot('dialog.png', dialog['window'])
    wine.probe('click', pid, IDCANCEL)
    wait_dialog_gone(wine, pid)
    wine.xdotool('mousemove', x, y, 'click', 3)
    menus = wait_until(lambda: popup_menus(wine, pid), 5)
    check(menus, 'the right button opened no menu')
    left, top, right, bottom = rect_of(menus[0])
    check(right <= x + 1 and bottom <= y + 1, 'the menu is not above and left of the icon: %s'
          % menus[0]['rect'])
    bar = rect_of(wine.probe('find', 'Shell_TrayWnd', '*').records('window')[0])
    wine.screenshot('traymenu.png', menus[0], {'rect': '%d,%d,%d,%d' % (left, bar[1], bar[2], bar[3])})
    wine.xdotool('mousemove', 40, 40, 'click', 1)
    check(wait_until(lambda: not popup_menus(wine, pid), 5), 'the menu did not close')
    wine.close_tarnwick(process)


# The real RESTART.EXE ends the Wine session; its scenarios live beside these.
sys.path.insert(0, HERE)
import companion_scenarios  # noqa: E402

for _function in companion_scenarios.COMPANION_SCENARIOS:
    scenario(_function)
FAILURES = (Failure, companion_scenarios.CompanionFailure)

# Faults and load have modules of their own that use this harness through `h`.
import fault_scenarios  # noqa: E402
import load_scenarios  # noqa: E402

for _module in (fault_scenarios, load_scenarios):
    _module.h = sys.modules[__name__]
    for _function in _module.SCENARIOS:
        scenario(_function)


# ---- running ---------------------------------------------------------------------

def find_inputs(args):
    build = os.path.join(ROOT, 'build', 'win32')
    dist = os.path.join(ROOT, 'dist', 'tarnwick-1.1')
    tools = args.tools or build
    exe = args.exe
    release = None
    if os.path.isdir(dist):
        release = dist
    if not exe:
        built = os.path.join(build, 'TARNWICK.EXE')
        shipped = os.path.join(dist, 'TARNWICK.EXE')
        # dist/ is only ever a copy of the build: when the two differ, the
        # build is the newer one.
        if os.path.exists(shipped) and (not os.path.exists(built) or
                                        open(shipped, 'rb').read() == open(built, 'rb').read()):
            exe = shipped
        else:
            exe = built
    for path in (exe, os.path.join(tools, 'probe.exe'), os.path.join(tools, 'fake_restart.exe')):
        if not os.path.exists(path):
            raise SystemExit('missing %s (run make win32 first)' % path)
    return exe, tools, release


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('-k', dest='only', action='append', default=[],
                        help='run only scenarios whose name contains TEXT')
    parser.add_argument('-v', dest='verbose', action='store_true',
                        help='timings and tracebacks on stderr')
    parser.add_argument('--keep', action='store_true', help='keep the prefix and logs')
    parser.add_argument('--exe', help='TARNWICK.EXE to test')
    parser.add_argument('--tools', help='folder with probe.exe and fake_restart.exe')
    parser.add_argument('--screenshots', metavar='DIR',
                        help='save dialog.png, traymenu.png and about.png there')
    args = parser.parse_args()
    exe, tools, release = find_inputs(args)
    chosen = [s for s in SCENARIOS if not args.only or any(k in s.__name__ for k in args.only)]

    def stop(signum, frame):
        raise KeyboardInterrupt
    signal.signal(signal.SIGTERM, stop)

    started = time.monotonic()
    passed = failed = 0
    wine = Wine(args)
    try:
        wine.start_display()
        wine.create_prefix()
        wine.install(exe, tools, release)
        if args.verbose:
            print('# %s; prefix ready in %.1f s' % (exe, time.monotonic() - started),
                  file=sys.stderr)
        for function in chosen:
            name = function.__name__
            begun = time.monotonic()
            try:
                wine.reset(function.desktop)
                figures = function(wine)  # a scenario may report what it measured
                print('ok - %s' % name)
                if figures:
                    print('# %s: %s' % (name, figures))
                passed += 1
            except FAILURES as failure:
                print('not ok - %s: %s' % (name, failure))
                failed += 1
                wine.dirty = True
            except Exception as error:  # a harness fault fails the scenario, not the run
                print('not ok - %s: %s: %s' % (name, type(error).__name__, error))
                if args.verbose:
                    traceback.print_exc()
                failed += 1
                wine.dirty = True
            sys.stdout.flush()
            if args.verbose:
                print('# %.1f s %s' % (time.monotonic() - begun, name), file=sys.stderr)
    except KeyboardInterrupt:
        print('not ok - interrupted')
        failed += 1
    except (Failure, RuntimeError, OSError, subprocess.SubprocessError) as error:
        print('not ok - setting up Wine: %s' % error)
        failed += 1
    finally:
        wine.close()
    if args.verbose:
        print('# total %.1f s' % (time.monotonic() - started), file=sys.stderr)
    print('wine: %d passed, %d failed' % (passed, failed))
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
