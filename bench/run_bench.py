#!/usr/bin/python3
"""Side-by-side benchmark of TARNWICK.EXE and the floor program under Wine.

The floor (bench/floor.cpp) is built with the program's flags and entry code
and only registers a class, creates a hidden window and runs a message loop.
Both run in one throwaway 32-bit Wine prefix on an Xvfb display, on a desktop
with a taskbar and tray, with one persistent wineserver so that every start
is a warm start. The launcher (bench/launcher.c) runs inside that Wine
session, starts the programs in turns and measures them; this script sets the
session up, hands the launcher its work, and prints the table.

    run_bench.py [--build build/win32] [--starts 40] [--idle 10] [--cpu N|all] [--keep]

Every process of the session runs on one CPU (the last one unless --cpu says
otherwise): the PCs the program is for have one, and the figures then do not
depend on how the scheduler spreads Wine's processes or on work that other
programs do on the other CPUs.

Exit code 0 when every measurement could be taken (whether or not the goals
were met), 1 when one could not.
"""

import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, 'tests', 'wine'))
from xvfb import start_xvfb, stop_xvfb  # noqa: E402

TARNWICK_DIR = r'C:\Program Files\Tarnwick'
FLOOR_DIR = r'C:\Program Files\Floor'
LAUNCHER = r'C:\bench\launcher.exe'
TARNWICK = ('TarnwickMainWindowClass', 'Tarnwick', TARNWICK_DIR,
            '"%s\\TARNWICK.EXE"' % TARNWICK_DIR)
FLOOR = ('TarnwickFloorWindowClass', 'Tarnwick floor', FLOOR_DIR, '"%s\\FLOOR.EXE"' % FLOOR_DIR)

SIZE_GOAL = 16 * 1024
START_GOAL = 1.10
MEMORY_GOAL = 1.05
TICK = 10_000_000 // os.sysconf('SC_CLK_TCK')  # 100 ns units in one clock tick

# The desktop with taskbar and tray that every process of the prefix shares;
# both programs report themselves as Windows 98; the program's settings as
# TARNWICK.REG makes them, with the tray icon off for the start figure.
PREFIX_SETTINGS = r'''REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Explorer]
"Desktop"="shell"

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]
"shell"="1024x768"

[HKEY_CURRENT_USER\Software\Wine\AppDefaults\TARNWICK.EXE]
"Version"="win98"

[HKEY_CURRENT_USER\Software\Wine\AppDefaults\FLOOR.EXE]
"Version"="win98"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_CURRENT_USER\Software\Quennard\Tarnwick]
"Show tray icon"=dword:00000000
"Intercept all restarts"=dword:00000000

'''

STARTUP_FILES = {
    'config.sys': 'DEVICE=C:\\WINDOWS\\HIMEM.SYS\nDOS=HIGH,UMB\nFILES=40\nBUFFERS=20\n',
    'autoexec.bat': '@ECHO OFF\nPROMPT $p$g\nPATH C:\\WINDOWS;C:\\WINDOWS\\COMMAND\n'
                    'SET TEMP=C:\\WINDOWS\\TEMP\n',
}


class BenchError(Exception):
    """A measurement that could not be taken."""


def dos_path(path):
    return 'Z:' + path.replace('/', '\\')


class Session:
    """Xvfb, the Wine prefix and its persistent wineserver."""

    def __init__(self, keep):
        self.keep = keep
        self.root = tempfile.mkdtemp(prefix='tarnwick-bench-')
        self.prefix = os.path.join(self.root, 'prefix')
        self.log = open(os.path.join(self.root, 'wine.log'), 'ab')
        self.xvfb = None
        self.counter = 0
        self.env = dict(os.environ)
        self.env.pop('WINESERVER', None)
        self.env.update({
            'WINEPREFIX': self.prefix,
            'WINEARCH': 'win32',
            'WINEDLLOVERRIDES': 'mscoree,mshtml=;winemenubuilder.exe=d',
            'WINEDEBUG': '-all',
        })

    def drive_c(self, *parts):
        return os.path.join(self.prefix, 'drive_c', *parts)

    def run(self, argv, timeout):
        try:
            return subprocess.run(argv, env=self.env, cwd=self.root, stdin=subprocess.DEVNULL,
                                  stdout=self.log, stderr=self.log, timeout=timeout).returncode
        except subprocess.TimeoutExpired:
            raise BenchError('timed out after %d s: %s' % (timeout, ' '.join(argv)[:160]))

    def start_display(self):
        try:
            self.xvfb, self.env['DISPLAY'] = start_xvfb(self.log)
        except RuntimeError as error:
            raise BenchError(str(error))

    def create_prefix(self, build):
        os.makedirs(self.prefix)
        self.run(['wineserver', '-p'], 30)
        self.run(['wineboot', '-i'], 180)
        reg = os.path.join(self.root, 'settings.reg')
        with open(reg, 'w', newline='\r\n') as handle:
            handle.write(PREFIX_SETTINGS)
        self.run(['wine', 'regedit', '/S', dos_path(reg)], 60)
        for name, text in STARTUP_FILES.items():
            with open(self.drive_c(name), 'w', newline='\r\n') as handle:
                handle.write(text)
        for folder, source, name in ((TARNWICK_DIR, 'TARNWICK.EXE', 'TARNWICK.EXE'),
                                     (FLOOR_DIR, 'FLOOR.EXE', 'FLOOR.EXE'),
                                     (r'C:\bench', 'bench_launcher.exe', 'launcher.exe')):
            target = self.drive_c(*folder[3:].split('\\'))
            os.makedirs(target, exist_ok=True)
            shutil.copy(os.path.join(build, source), os.path.join(target, name))
        # A fresh session, so that the desktop comes up with its taskbar; the
        # server stays up from here to the end, and every start is warm.
        self.run(['wineserver', '-k'], 30)
        self.run(['wineserver', '-w'], 30)
        self.run(['wineserver', '-p'], 30)

    def set_tray(self, on):
        key = r'HKCU\Software\Quennard\Tarnwick'
        rc = self.run(['wine', 'reg', 'add', key, '/v', 'Show tray icon', '/t', 'REG_DWORD',
                       '/d', '1' if on else '0', '/f'], 60)
        if rc != 0:
            raise BenchError('could not set "Show tray icon" (reg exit code %d)' % rc)

    def launcher(self, *args, timeout=120):
        """Runs the launcher; returns its records as (kind, {key: value})."""
        self.counter += 1
        out = os.path.join(self.root, 'launcher-%d.txt' % self.counter)
        rc = self.run(['wine', LAUNCHER, dos_path(out)] + [str(a) for a in args], timeout)
        text = open(out, encoding='latin-1').read() if os.path.exists(out) else ''
        records = []
        for line in text.splitlines():
            kind, _, rest = line.partition(' ')
            records.append((kind, dict(re.findall(r'(\w+)=("[^"]*"|\S+)', rest))))
        if rc != 0 or not records or records[-1][0] != 'done':
            raise BenchError('launcher %s failed (exit code %d): %s'
                             % (args[0], rc, text.strip().splitlines()[-1:] or 'no output'))
        return records

    def close(self):
        try:
            if os.path.isdir(self.prefix):
                subprocess.run(['wineserver', '-k'], env=self.env, stdout=self.log,
                               stderr=self.log, timeout=30)
                subprocess.run(['wineserver', '-w'], env=self.env, stdout=self.log,
                               stderr=self.log, timeout=30)
        finally:
            stop_xvfb(self.xvfb)
            self.log.close()
            if self.keep:
                print('kept %s' % self.root, file=sys.stderr)
            else:
                shutil.rmtree(self.root, ignore_errors=True)


# ---- measurements --------------------------------------------------------------

def by_program(records, kind, count):
    """The records of one kind split per program: a list of lists."""
    split = [[] for _ in range(count)]
    for k, fields in records:
        if k == kind:
            split[int(fields['p'])].append({key: value.strip('"') for key, value in fields.items()})
    return split


def check_exits(rows, what):
    bad = [r for r in rows if r.get('exit') != '0']
    if bad:
        raise BenchError('%s: exit code %s' % (what, bad[0].get('exit')))


def measure_starts(session, count, tray):
    """count rounds of (Tarnwick /init, floor) starts."""
    session.set_tray(tray)
    records = session.launcher('starts', count, *(TARNWICK[:3] + (TARNWICK[3] + ' /init',)),
                               *FLOOR)
    tarnwick, floor = by_program(records, 'start', 2)
    check_exits(tarnwick + floor, 'a start')
    icons = sum(int(r['tray']) for r in tarnwick)
    if icons != (count if tray else 0):
        raise BenchError('tray icon %s in %d of %d starts' % ('shown' if tray else 'expected off',
                                                              icons, count))
    return tarnwick, floor


def measure_idle(session, seconds, tray):
    session.set_tray(tray)
    records = session.launcher('idle', seconds, *(TARNWICK[:3] + (TARNWICK[3] + ' /init',)),
                               *FLOOR, timeout=seconds + 120)
    tarnwick, floor = by_program(records, 'idle', 2)
    check_exits(tarnwick + floor, 'the idle run')
    return tarnwick[0], floor[0]


def measure_second(session, count, tarnwick_second):
    """Second starts while the first runs: Tarnwick's hands over as the program
    does; the floor's finds the running floor, posts it one message and ends."""
    session.set_tray(False)
    init = TARNWICK[3] + ' /init'
    records = session.launcher('second', count,
                               *(TARNWICK[:3] + (init, TARNWICK[3] + tarnwick_second)),
                               *(FLOOR + (FLOOR[3] + ' /second',)))
    tarnwick, floor = by_program(records, 'second', 2)
    check_exits(tarnwick + floor, 'a second start')
    for rows, name in ((tarnwick, 'Tarnwick'), (floor, 'floor')):
        wrong = [r for r in rows if r['windows'] != '1' or r['first_alive'] != '1']
        if wrong:
            raise BenchError('%s: after a second start %s windows, first instance alive %s'
                             % (name, wrong[0]['windows'], wrong[0]['first_alive']))
    return tarnwick, floor


def check_cpu_reading(session):
    """A process that has used 300 ms of CPU must show about that much, or the
    idle figure (which should be 0) would prove nothing. Returns the two
    readings; the exact one is None when the Unix side cannot be read."""
    record = session.launcher('cpucheck', 300)[0][1]
    ticks, exact = int(record['cpu']), int(record['cpu_ns'])
    if not 2_700_000 <= ticks <= 4_000_000:
        raise BenchError('thread times cannot be trusted: a 300 ms spin read %d00 ns' % ticks)
    return ticks, exact if 270_000_000 <= exact <= 400_000_000 else None


# ---- the table -----------------------------------------------------------------

def median(rows, key):
    values = [int(r[key]) for r in rows if int(r[key]) >= 0]
    return statistics.median(values) if values else None


def middle_half(rows, key, scale):
    values = sorted(int(r[key]) / scale for r in rows)
    if len(values) < 2:
        return ''
    q = statistics.quantiles(values, n=4)
    return '%.1f-%.1f' % (q[0], q[2])


def paired_ratio(tarnwick, floor, key):
    """The median over the rounds of Tarnwick's figure over the floor's in the
    same round: steadier than the ratio of the medians when the machine is
    busy with other work, since both starts of a round share its load."""
    ratios = [int(t[key]) / int(f[key]) for t, f in zip(tarnwick, floor)
              if int(t[key]) >= 0 and int(f[key]) > 0]
    return statistics.median(ratios) if ratios else None


def fmt_ms(value):
    return 'n/a' if value is None else '%.1f ms' % (value / 1000)


def fmt_mib(value):
    return '%.2f MiB' % (value / 1048576)


def fmt_ns(value):
    return 'n/a' if value is None or value < 0 else '%.1f ms' % (value / 1e6)


def fmt_idle(ns, hundreds):
    exact = 'n/a' if ns < 0 else '%d ns' % ns
    return '%s, %d ticks' % (exact, hundreds // TICK)


def cpu_busy():
    """Busy and total jiffies of each CPU, from /proc/stat."""
    busy = {}
    with open('/proc/stat') as handle:
        for line in handle:
            name, *values = line.split()
            if re.fullmatch(r'cpu\d+', name):
                values = [int(v) for v in values]
                busy[name] = (sum(values) - values[3] - values[4], sum(values))
    return busy


def busy_since(before):
    after = cpu_busy()
    return ', '.join('%s %.0f%%' % (name, 100 * (after[name][0] - before[name][0]) /
                                    max(1, after[name][1] - before[name][1]))
                     for name in sorted(after) if name in before)


def row(table, label, tarnwick, floor, ratio=None, goal='', status=''):
    table.append((label, tarnwick, floor, '' if ratio is None else '%.3f' % ratio, goal, status))


def ratio_of(a, b):
    return None if a is None or not b else a / b


def verdict(ok, margin=''):
    """'met' or 'MISSED', with how far the figure is from its limit."""
    return ('met' if ok else 'MISSED') + (' (%s)' % margin if margin else '')


def margin(value, limit, unit, scale):
    return '%.1f %s %s' % (abs(limit - value) / scale, unit,
                           'over' if value > limit else 'to spare')


def print_table(table, notes):
    header = ('figure', 'Tarnwick', 'floor', 'T/floor', 'goal', '')
    widths = [max(len(r[i]) for r in table + [header]) for i in range(len(header))]
    for line in [header, tuple('-' * w for w in widths)] + table:
        print('  '.join(cell.ljust(widths[i]) for i, cell in enumerate(line)).rstrip())
    for note in notes:
        print(note)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--build', default=os.path.join(ROOT, 'build', 'win32'))
    parser.add_argument('--starts', type=int, default=40, help='rounds of starts (at least 20)')
    parser.add_argument('--idle', type=int, default=10, help='seconds of the idle figure')
    parser.add_argument('--cpu', default=str(max(os.sched_getaffinity(0))),
                        help='the CPU for the whole session, or "all"')
    parser.add_argument('--keep', action='store_true', help='keep the prefix and the raw output')
    args = parser.parse_args()
    for name in ('TARNWICK.EXE', 'FLOOR.EXE', 'bench_launcher.exe'):
        if not os.path.exists(os.path.join(args.build, name)):
            print('bench: %s missing in %s (make win32)' % (name, args.build), file=sys.stderr)
            return 1
    if args.cpu != 'all':
        os.sched_setaffinity(0, {int(args.cpu)})  # Xvfb and every Wine process inherit it

    began = time.monotonic()
    session = Session(args.keep)
    try:
        session.start_display()
        session.create_prefix(args.build)
        spin_ticks, spin_ns = check_cpu_reading(session)
        measure_starts(session, 2, False)  # warms the disk cache and the desktop
        busy = cpu_busy()
        starts = measure_starts(session, args.starts, False)
        load = busy_since(busy)
        tray_starts = measure_starts(session, max(20, args.starts // 2), True)
        idle = measure_idle(session, args.idle, False)
        tray_idle = measure_idle(session, args.idle, True)
        second = measure_second(session, args.starts, ' /init')
        plain_second = measure_second(session, args.starts, '')
    except BenchError as error:
        print('bench: %s' % error, file=sys.stderr)
        return 1
    finally:
        session.close()

    table = []
    size_t = os.path.getsize(os.path.join(args.build, 'TARNWICK.EXE'))
    size_f = os.path.getsize(os.path.join(args.build, 'FLOOR.EXE'))
    row(table, 'EXE size', '%d B' % size_t, '%d B' % size_f, size_t / size_f, '<= %d B' % SIZE_GOAL,
        verdict(size_t <= SIZE_GOAL, margin(size_t, SIZE_GOAL, 'KiB', 1024)))

    for rows, label in ((starts, 'tray off'), (tray_starts, 'tray on')):
        t, f = (median(r, 'us') for r in rows)
        n = len(rows[0])
        if label == 'tray off':
            row(table, 'start to window, %s (median of %d)' % (label, n), fmt_ms(t), fmt_ms(f),
                t / f, '<= %.2fx' % START_GOAL,
                verdict(t / f <= START_GOAL, margin(t, f * START_GOAL, 'ms', 1000)))
        else:
            row(table, 'start to window, %s (median of %d)' % (label, n), fmt_ms(t), fmt_ms(f),
                t / f)
        row(table, '  middle half of the starts (ms)', middle_half(rows[0], 'us', 1000),
            middle_half(rows[1], 'us', 1000))
        row(table, '  start against the floor\'s in the same round', '', '',
            paired_ratio(rows[0], rows[1], 'us'))
    t, f = (median(r, 'cpu_ns') for r in starts)
    row(table, 'CPU time of a start, tray off (median)', fmt_ns(t), fmt_ns(f), ratio_of(t, f))
    row(table, '  start against the floor\'s in the same round', '', '',
        paired_ratio(starts[0], starts[1], 'cpu_ns'))

    t, f = (median(r, 'peak') for r in starts)
    row(table, 'peak working set, tray off (median)', fmt_mib(t), fmt_mib(f), t / f,
        '<= %.2fx' % MEMORY_GOAL,
        verdict(t / f <= MEMORY_GOAL, margin(t, f * MEMORY_GOAL, 'KiB', 1024)))
    t, f = (median(r, 'peak') for r in tray_starts)
    row(table, 'peak working set, tray on (median)', fmt_mib(t), fmt_mib(f), t / f)
    t, f = (int(r['peak']) for r in idle)
    row(table, 'peak working set after %d s idle, tray off' % args.idle, fmt_mib(t), fmt_mib(f),
        t / f)

    for rows, label in ((idle, 'tray off'), (tray_idle, 'tray on')):
        t, f = rows
        row(table, 'CPU time over %d s idle, %s' % (args.idle, label),
            fmt_idle(int(t['cpu_ns']), int(t['cpu'])), fmt_idle(int(f['cpu_ns']), int(f['cpu'])),
            None, '0 ticks', verdict(int(t['cpu']) // TICK == 0 and int(t['cpu_ns']) <= 0))

    for rows, label in ((second, '/init'), (plain_second, 'plain')):
        t, f = (median(r, 'us') for r in rows)
        row(table, 'second start hands over, %s (median of %d)' % (label, len(rows[0])),
            fmt_ms(t), fmt_ms(f), t / f)

    version = subprocess.run(['wine', '--version'], capture_output=True, text=True).stdout
    notes = [
        '',
        '%s; one persistent wineserver; a desktop with taskbar and tray; %s.'
        % (version.strip(), 'every process on CPU %s' % args.cpu if args.cpu != 'all'
           else 'processes on any CPU'),
        'Tarnwick starts with /init and finds C:\\Config.sys, C:\\Autoexec.bat and its settings key.',
        'Start: CreateProcess until FindWindowA finds the window (asked about every ms); the',
        '  programs start in turns, one of each a round. CPU busy during the tray-off starts: %s.'
        % load,
        'Memory: PeakWorkingSetSize (under Wine the Unix process\'s VmHWM), 200 ms after the window.',
        'CPU: exact nanoseconds on a CPU (Unix schedstat), and the thread times that Wine counts',
        '  in ticks of %d ms. A 300 ms spin read %s and %d ticks.'
        % (TICK // 10000, fmt_ns(spin_ns), spin_ticks // TICK),
        'Second start: CreateProcess until it has ended, the first instance running; the floor\'s',
        '  second start finds the running floor by class and title, posts it WM_NULL and ends.',
        '  "plain" is a start without /init: the first Tarnwick opens its dialog.',
        'Time: %.0f s.' % (time.monotonic() - began),
    ]
    print_table(table, notes)
    return 0


if __name__ == '__main__':
    sys.exit(main())
