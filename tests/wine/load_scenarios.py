"""Wine scenarios that put the program under load: many second starts at
once, and many openings and closings of the tray menu and the dialog, after
which the program's handles, windows and memory must not have grown.

run_scenarios.py registers these scenarios and hands itself over as `h`, so
that they use its Wine object and helpers. The cycles run inside the
probe (its "cycles" command), which measures the process as it goes: about
10 ms a tray menu and 20 ms a dialog under Wine on Xvfb.
"""

import sys
import time

h = None  # the harness module (run_scenarios), which sets this

STARTS = 50
CYCLES = 500

# How much the figures after the last cycle may exceed those after the first.
# The first cycle is the warm-up: it loads the menu and dialog code, fonts and
# the X resources behind them (over 1 MiB). From then on an open and close
# keeps nothing, so the handles and the windows must come back exactly. The
# private memory may move by what Wine's heaps round to: under 100 KiB over
# 500 cycles, where a menu left undestroyed each time adds 800 KiB, hence
# half a KiB a cycle. The working set is shown, not held to a bound: under
# Wine it also counts the pages of DLLs, fonts and shared X memory that are
# touched, and wanders by 2 MiB either way while the private memory stands.
HANDLE_SLACK = 0
WINDOW_SLACK = 0
PRIVATE_SLACK_KIB = 256


def fifty_second_starts(wine):
    """50 plain second starts in quick succession, while the program runs:
    every one hands over and exits with 0; one instance and one main window
    remain, with one dialog open, and after Cancel none, since the other
    requests arrived while it was open."""
    wine.settings({h.SHOW_TRAY: 1})
    process, window = wine.start_tarnwick('/init')
    pid = window['pid']
    before = h.registry_snapshot(wine)
    begun = time.monotonic()
    result = wine.probe('starts', '%s\\TARNWICK.EXE' % h.INSTALL_DIR, STARTS, 120000,
                        timeout=150)
    took = time.monotonic() - begun
    h.check(result.rc == 0 and result.value('nonzero') == '0',
            'the second starts did not all hand over and exit with 0: %s' % result)
    instances = h.count_tarnwick(wine)
    h.check(instances == 1, '%d TARNWICK processes' % instances)
    windows = wine.main_windows()
    h.check([w['hwnd'] for w in windows] == [window['hwnd']], 'main windows: %s' % windows)
    h.dialog_controls(wine, pid)
    time.sleep(0.5)
    dialogs = h.dialog_count(wine, pid)
    h.check(dialogs == 1, '%d dialogs open' % dialogs)
    wine.probe('click', pid, h.IDCANCEL)
    h.wait_dialog_gone(wine, pid)
    time.sleep(0.7)
    h.check(h.dialog_count(wine, pid) == 0, 'a remembered request opened the dialog again')
    h.check_alive(wine, process, 'after %d second starts' % STARTS)
    h.check_kept(wine, before, 'second starts')
    wine.close_tarnwick(process)
    return '%d starts in %.1f s' % (STARTS, took)


def cycle(wine, process, pid, what, *arguments):
    """Runs CYCLES open/close cycles through the probe; checks that the
    figures stayed flat and returns them for the output line."""
    result = wine.probe('cycles', CYCLES, pid, *arguments, timeout=CYCLES * 2 + 60)
    h.check(result.rc == 0, '%s: the cycles stopped: %s' % (what, result.text[-300:]))
    measures = {int(m['cycle']): m for m in result.records('measure')}
    if wine.args.verbose:
        for number in sorted(measures):
            print('# %s cycle %d: %s' % (what, number, ' '.join(
                '%s=%s' % item for item in sorted(measures[number].items()) if item[0] != 'cycle')),
                file=sys.stderr)
    first, last = measures[1], measures[CYCLES]
    for key, slack in (('handles', HANDLE_SLACK), ('windows', WINDOW_SLACK),
                       ('pagefile', PRIVATE_SLACK_KIB), ('gdi', 0), ('user', 0)):
        h.check(int(last[key]) <= int(first[key]) + slack,
                '%s: %s grew from %s to %s over %d cycles (%s)'
                % (what, key, first[key], last[key], CYCLES - 1,
                   ', '.join('%d: %s' % (c, measures[c][key]) for c in sorted(measures))))
    h.check_alive(wine, process, what)
    figures = ('handles %s->%s windows %s->%s memory %d->%d KiB private, %.1f->%.1f MiB '
               'working set' % (first['handles'], last['handles'], first['windows'],
                                last['windows'], int(first['pagefile']), int(last['pagefile']),
                                int(first['workingset']) / 1024, int(last['workingset']) / 1024))
    if first['user'] != '0':  # Wine does not count GDI and USER objects
        figures += ' GDI %s->%s USER %s->%s' % (first['gdi'], last['gdi'], first['user'],
                                                last['user'])
    return figures + ', %d cycles in %.1f s' % (CYCLES, int(result.value('ms')) / 1000)


def tray_menu_500_cycles(wine):
    """500 times: the shell's right-button release on the tray icon opens the
    popup menu, Esc closes it. Handles, windows and memory stay flat."""
    wine.settings({h.SHOW_TRAY: 1, h.INTERCEPT: 1})
    process, window = wine.start_tarnwick('/init')
    before = h.registry_snapshot(wine)
    figures = cycle(wine, process, window['pid'], 'tray menu', '#32768', '*',
                    h.WM_APP_TRAYNOTIFY, 1, h.WM_RBUTTONUP)
    h.check_kept(wine, before, 'tray menu cycles')
    wine.close_tarnwick(process)
    return figures


def dialog_500_cycles(wine):
    """500 times: a show request opens the command dialog, Esc cancels it.
    Handles, windows and memory stay flat, and nothing is stored."""
    wine.settings({h.SHOW_TRAY: 1, h.LAST_COMMAND: 1004, h.LAST_FORCE: 1})
    process, window = wine.start_tarnwick('/init')
    before = h.registry_snapshot(wine)
    figures = cycle(wine, process, window['pid'], 'dialog', '#32770', h.MAIN_TITLE,
                    h.WM_APP_SHOWDIALOG, 0, 0)
    h.check(h.check_kept(wine, before, 'dialog cycles') == before,
            'cancelled dialogs stored settings')
    wine.close_tarnwick(process)
    return figures


SCENARIOS = [
    fifty_second_starts,
    tray_menu_500_cycles,
    dialog_500_cycles,
]
