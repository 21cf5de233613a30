"""Wine scenarios for faults around the program: settings that are missing or
stored in odd forms, C:\\Config.sys held open by another program, RESTART.EXE
or the help pages missing, and an application that hangs while the deferred
restart tells it that the session ends.

run_scenarios.py registers these scenarios and hands itself over as `h`, so
that they use its Wine object and helpers. In every scenario the program
must keep running and answer a sent WM_NULL, and every settings value that was
there before must still be there with the same type and bytes.
"""

import os
import shutil
import time

h = None  # the harness module (run_scenarios), which sets this

HANG_MS = 4000
HOLD_MS = 12000
HELP_DIR = 'Help'


# ---- helpers ------------------------------------------------------------------------

def visible_windows(wine, pid):
    return [w for w in wine.probe('find', '*', '*').records('window')
            if w['pid'] == pid and w['visible'] == '1']


def moved_away(wine, name):
    """Moves a file or folder of the installed program aside; returns the
    function that puts it back."""
    path = os.path.join(wine.drive_c(h.INSTALL_DIR), name)
    aside = path + '.away'
    if os.path.exists(path):
        os.rename(path, aside)

    def restore():
        if os.path.exists(aside):
            if os.path.isdir(path):
                shutil.rmtree(path)
            os.rename(aside, path)
    return restore


# ---- scenarios --------------------------------------------------------------------

def settings_key_or_values_missing(wine):
    """Without the settings key, and with the key but none of its values: no
    tray icon, no interception, the dialog opens on "Quick Windows Restart"
    with the force box clear, and the switches of the dialog and the tray
    menu change nothing. The program never creates the key; into an empty
    key only "Disable tray icon" and OK write, as 4-byte DWORDs."""
    for label, values, expected in [
            ('no key', None, None),
            ('key without values', {}, {h.SHOW_TRAY: ('4', '00000000'),
                                        h.LAST_COMMAND: ('4', 'ef030000'),
                                        h.LAST_FORCE: ('4', '00000000')})]:
        wine.settings(values)
        process, window = wine.start_tarnwick()
        pid = window['pid']
        controls = h.dialog_controls(wine, pid)
        h.check(h.selected(controls) == ['1000'] and controls['1009']['checked'] == '0',
                '%s: the dialog shows %s, force %s' % (label, h.selected(controls),
                                                       controls['1009']['checked']))
        h.check(h.tray_state(wine) == 'absent', '%s: a tray icon shows' % label)
        wine.probe('command', pid, h.IDM_SHOWTRAYICON, '+', 'command', pid, h.IDM_INTERCEPT,
                   '+', 'send', 'main', h.WM_COMMAND, h.IDM_INTERCEPT, 0, '+', 'sleep', 300)
        h.check(h.tray_state(wine) == 'absent', '%s: "Show tray icon" added an icon' % label)
        h.check(h.query_end_session(wine, 0) == 1, '%s: a session end was refused' % label)
        written = h.registry_snapshot(wine)
        h.check(written == ({} if values is not None else None),
                '%s: the switches wrote %s' % (label, written))
        wine.probe('send', 'main', h.WM_COMMAND, h.IDM_DISABLETRAYICON, 0)
        wine.probe('click', pid, 1007, '+', 'sleep', 200, '+', 'click', pid, h.IDOK)
        h.wait_dialog_gone(wine, pid)
        h.check_alive(wine, process, label)
        stored = h.registry_snapshot(wine)
        h.check(stored == expected, '%s: stored %s, expected %s' % (label, stored, expected))
        h.check(h.query_end_session(wine, 0) == 1, '%s: a session end was refused' % label)
        wine.close_tarnwick(process)


def last_command_odd_forms(wine):
    """"Last command" and "Last force setting" stored in other forms than a
    DWORD: a value longer than 4 bytes (a string, 8 bytes) reads as missing
    and the defaults apply; a shorter one is widened with zeros (E9 03 is
    1001, "Full reboot"; no bytes at all is 0, no command). Cancel leaves
    every value as it was."""
    wine.settings({})
    process, window = wine.start_tarnwick('/init')
    pid = window['pid']
    cases = [
        ('a string "1001"', ('sz', '1001'), ['1000'], ('sz', 'true'), '0'),
        ('8 bytes E9 03 00 ..', ('hex:11', 'e903000000000000'), ['1000'],
         ('hex:11', '0100000000000000'), '0'),
        ('2 bytes E9 03', ('hex:3', 'e903'), ['1001'], ('hex:3', '0100'), '1'),
        ('2 bytes E9 03 as a DWORD', ('hex:4', 'e903'), ['1001'], ('hex:4', '00'), '0'),
        ('no bytes', ('hex:3', ''), [], ('hex:3', ''), '0'),
    ]
    for label, command, expected, force, ticked in cases:
        wine.settings({h.LAST_COMMAND: command, h.LAST_FORCE: force, h.SHOW_TRAY: 0})
        before = h.registry_snapshot(wine)
        wine.probe('post', 'main', h.WM_APP_SHOWDIALOG, 0, 0)
        controls = h.dialog_controls(wine, pid)
        h.check(h.selected(controls) == expected, '"Last command" %s: selected %s, expected %s'
                % (label, h.selected(controls), expected))
        h.check(controls['1009']['checked'] == ticked, '"Last force setting" %s: force box %s'
                % (label, controls['1009']['checked']))
        wine.probe('click', pid, h.IDCANCEL)
        h.wait_dialog_gone(wine, pid)
        h.check_alive(wine, process, label)
        h.check(h.check_kept(wine, before, label) == before, '%s: Cancel wrote settings' % label)
    wine.close_tarnwick(process)


def hold(wine, dos_path):
    """Another program holds the file open without sharing until release()."""
    out = wine.out_file('hold')
    process = wine.popen([wine.probe_exe, '--out', h.unix_to_dos(out), 'hold', dos_path, 600000])

    def held():
        if not os.path.exists(out):
            return None
        with open(out) as handle:
            return h.ProbeResult(0, handle.read()).records('held')
    records = h.wait_until(held, h.START_TIMEOUT)
    h.check(records, 'could not hold %s open' % dos_path)
    h.check(records[0]['others'] == 'refused', 'holding %s does not keep others out' % dos_path)

    def release():
        wine.probe('kill', records[0]['pid'])
        h.check(wine.exit_code(process) is not None, 'the holder of %s did not end' % dos_path)
    return release


def quick_restart_offered(wine, pid):
    """Whether the dialog offers "Quick Windows Restart" (then closed again)."""
    wine.probe('post', 'main', h.WM_APP_SHOWDIALOG, 0, 0)
    controls = h.dialog_controls(wine, pid)
    wine.probe('click', pid, h.IDCANCEL)
    h.wait_dialog_gone(wine, pid)
    return controls['1000']['enabled'] == '1'


def config_sys_held_open(wine):
    """C:\\Config.sys held open without sharing by another program. At
    start-up: its time is unknown, so a later rewrite never counts as a
    change and the dialog offers the quick restart. At a check: that check
    cannot read the time, so it sees no change, until the file is free and
    the change shows; held again, a restart is refused and the quick restart
    follows."""
    wine.settings({h.INTERCEPT: 1})
    release = hold(wine, r'C:\config.sys')
    process, window = wine.start_tarnwick('/init')
    h.check_alive(wine, process, 'Config.sys held at start-up')
    release()
    wine.touch_startup_file('config.sys')
    h.check(quick_restart_offered(wine, window['pid']),
            'Config.sys unreadable at start-up, rewritten later: quick restart withdrawn')
    wine.close_tarnwick(process)

    wine.touch_startup_file('config.sys', h.OLD_TIME)
    process, window = wine.start_tarnwick('/init')
    before = h.registry_snapshot(wine)
    wine.touch_startup_file('config.sys')
    h.check(h.query_end_session(wine, 0) == 1, 'Config.sys rewritten: the session end was refused')
    release = hold(wine, r'C:\config.sys')
    h.check(quick_restart_offered(wine, window['pid']),
            'Config.sys rewritten and held open: quick restart withdrawn')
    release()
    h.check(h.query_end_session(wine, 0) == 1,
            'Config.sys rewritten and free again: the session end was refused')
    h.check(not quick_restart_offered(wine, window['pid']),
            'Config.sys rewritten and free again: quick restart offered')
    release = hold(wine, r'C:\config.sys')
    wine.dirty = True
    h.check(h.query_end_session(wine, 0) == 0,
            'Config.sys rewritten and held open: the session end was allowed')
    h.check_quick_restart_done(wine, h.INSTALL_DIR)
    release()
    h.check_alive(wine, process, 'Config.sys held at a check')
    h.check_kept(wine, before, 'Config.sys held at a check')
    wine.close_tarnwick(process)


def restart_exe_missing(wine):
    """Without RESTART.EXE in the program's folder nothing could take a
    session end's place: a restart is allowed, not intercepted, and a forced
    quick restart from the dialog ends no other application. Nor is the
    quick restart into one that is no program a session end of its own: the
    next restart is intercepted. Nothing runs or shows, and the program runs
    on."""
    restore = moved_away(wine, 'RESTART.EXE')
    try:
        wine.settings({h.INTERCEPT: 1, h.SHOW_TRAY: 1, h.LAST_COMMAND: 1000, h.LAST_FORCE: 1})
        process, window = wine.start_tarnwick('/init')
        pid = window['pid']
        helper = wine.start_helper('helper.exe', 'Bystander')
        before = h.registry_snapshot(wine)
        h.check(h.query_end_session(wine, 0) == 1, 'a restart was refused with nothing to replace it')
        wine.probe('post', 'main', h.WM_APP_SHOWDIALOG, 0, 0)
        h.dialog_controls(wine, pid)
        wine.probe('click', pid, h.IDOK)
        h.wait_dialog_gone(wine, pid)
        time.sleep(1.0)
        h.check(helper['process'].poll() is None and wine.helper_events(helper) == [],
                'the bystander was told or ended: %s' % wine.helper_events(helper))
        h.check_alive(wine, process, 'after the forced quick restart')
        h.check(wine.marker_lines() == [], 'something ran as RESTART.EXE')
        with open(os.path.join(wine.drive_c(h.INSTALL_DIR), 'RESTART.EXE'), 'w') as handle:
            handle.write('no program')
        wine.probe('send', 'main', h.WM_COMMAND, 1000, 0)
        wine.dirty = True
        h.check(h.query_end_session(wine, 0) == 0, 'a RESTART.EXE that could not start ended '
                'interception')
        h.check_alive(wine, process, 'after RESTART.EXE could not start')
        shown = visible_windows(wine, pid)
        h.check(shown == [], 'the program shows %s' % shown)
        h.check_kept(wine, before, 'RESTART.EXE missing')
        wine.close_tarnwick(process)
    finally:
        restore()


def help_missing(wine):
    """With the help pages there, Help opens Help\\index.html in the program's
    folder. Without them, Help in the tray menu and Contents in the dialog
    open nothing and show no error; the dialog stays open and the program
    runs on."""
    h.open_pages_with_marker(wine, True)
    restore = None
    try:
        wine.settings({h.SHOW_TRAY: 1})
        process, window = wine.start_tarnwick('/init')
        pid = window['pid']
        before = h.registry_snapshot(wine)
        h.check_help_opens(wine, h.INSTALL_DIR, r'Help\index.html')
        restore = moved_away(wine, HELP_DIR)
        wine.probe('send', 'main', h.WM_COMMAND, h.IDM_HELP, 0)
        wine.probe('post', 'main', h.WM_APP_SHOWDIALOG, 0, 0)
        dialog = h.dialog_controls(wine, pid)['window']
        wine.probe('command', pid, h.IDM_HELP, '+', 'sleep', 1000)
        shown = visible_windows(wine, pid)
        h.check([w['hwnd'] for w in shown] == [dialog['hwnd']],
                'the program shows %s besides its dialog' % [w['title'] for w in shown])
        h.check(wine.marker_lines() == [], 'Help opened %s' % wine.marker_lines())
        wine.probe('click', pid, h.IDCANCEL)
        h.wait_dialog_gone(wine, pid)
        h.check_alive(wine, process, 'Help missing')
        h.check_kept(wine, before, 'Help missing')
        wine.close_tarnwick(process)
    finally:
        if restore:
            restore()
        h.open_pages_with_marker(wine, False)


def hung_helper_holds_deferred_restart(wine):
    """A shown program that has stopped reading its queue, asked first, is
    hung: that is a Cancel, and the program reads its own queue again at
    once. A hidden program busy for 6.5 s, silent past its 5 s, that puts its
    question up while a program with a window on the screen takes 12 s to
    agree, calls the restart off. Then a program on the screen that takes
    12 s to answer, and after it a hidden one that takes 4 s, hold the
    deferred restart: until they answer they are neither told that the
    session ends nor ended, RESTART.EXE does not run, and the restart message
    sent meanwhile starts no round inside it; then the restart completes:
    both are told and ended, and RESTART.EXE runs, while a program started
    during that wait runs on, never asked, and a shown program that ended
    itself while asked counts as agreeing. After the restart, RESTART.EXE's
    word that Windows went on brings interception back."""
    wine.settings({h.INTERCEPT: 1})
    process, window = wine.start_tarnwick('/init')
    helper = wine.start_helper('helper.exe', 'Hung helper', 'hang=%d' % HANG_MS)
    stalled = wine.start_helper('helper.exe', 'Stalled helper', 'stall=30000')
    before = h.registry_snapshot(wine)
    time.sleep(5.5)  # Wine calls a thread hung after 5 s without reading its queue
    h.check(h.query_end_session(wine, 0) == 0, 'the session end was allowed')
    wine.probe('post', 'main', h.WM_APP_SHOWDIALOG, 0, 0)
    h.check(wine.probe('dialog', window['pid'], 3000).rc == 0,
            'the program does not read its queue while a hung program is asked')
    wine.probe('click', window['pid'], h.IDCANCEL)
    h.wait_dialog_gone(wine, window['pid'])
    h.check(wine.helper_events(helper) == wine.helper_events(stalled) == [] and
            wine.marker_lines() == [] and helper['process'].poll() is None and
            stalled['process'].poll() is None, 'the hung program was not a Cancel: %s, %s, %s'
            % (wine.helper_events(helper), wine.helper_events(stalled), wine.marker_lines()))
    wine.probe('kill', stalled['pid'])
    h.check(wine.exit_code(stalled['process']) is not None, 'the stalled helper did not end')
    # Wine asks the newest windows first: the busy program, then the slow one.
    slow = wine.start_helper('helper.exe', 'Slow helper', 'owned', 'prompt=12000')
    busy = wine.start_helper('helper.exe', 'Busy helper', 'hang=6500', 'prompt=30000')
    h.check(h.query_end_session(wine, 0) == 0, 'the session end was allowed')
    h.check(h.wait_until(lambda: len(wine.helper_events(slow)) == 2, 25),
            'the slow helper was not told the outcome: %s' % wine.helper_events(slow))
    for late in (busy, slow):
        h.check(h.broadcast_round(wine.helper_events(late), ending=0) == late['windows'],
                'the late question did not call the restart off: %s' % wine.helper_events(late))
        h.check(late['process'].poll() is None,
                'a called-off restart ended a helper: %s' % late['windows'])
        wine.probe('kill', late['pid'])
    h.check(wine.marker_lines() == [], 'a late question did not keep RESTART.EXE from running')
    wine.dirty = True
    # A program on the screen that takes 12 s holds the round; the hung one,
    # asked after it, must then hear only this round's outcome.
    holder = wine.start_helper('helper.exe', 'Holding helper', 'owned', 'prompt=%d' % HOLD_MS)
    # Shown and asked first, it ends itself while asked: its window is gone,
    # which agrees, where a shown window that fails to answer would cancel.
    quitter = wine.start_helper('helper.exe', 'Quitting helper', 'stall=1', 'quit')
    earlier = len(wine.helper_events(helper))
    h.check(h.query_end_session(wine, 0) == 0, 'the session end was allowed')
    h.check(h.wait_until(lambda: wine.helper_events(holder), h.EXIT_TIMEOUT),
            'the holding helper was not asked')
    asked = time.monotonic()
    newcomer = wine.start_helper('helper.exe', 'Started during the round')
    h.check(wine.probe('send', 'main', h.WM_APP_DEFERREDRESTART, 0, 0).value('send') == 'ok',
            'the restart message sent during the round was not answered')
    time.sleep(max(0.0, HOLD_MS / 2000 - (time.monotonic() - asked)))
    h.check(len(wine.helper_events(holder)) == 1 and len(wine.helper_events(helper)) == earlier
            and holder['process'].poll() is None and helper['process'].poll() is None
            and wine.marker_lines() == [],
            'the restart went on while a helper held it: events %s and %s, marker %s'
            % (wine.helper_events(holder), wine.helper_events(helper), wine.marker_lines()))
    h.check(h.wait_until(wine.marker_lines, (HOLD_MS + HANG_MS) / 1000 + h.EXIT_TIMEOUT),
            'RESTART.EXE did not run')
    waited = time.monotonic() - asked
    h.check(waited >= HOLD_MS / 1000, 'RESTART.EXE ran %.1f s after the holding helper was asked'
            % waited)
    h.check_quick_restart_done(wine, h.INSTALL_DIR)
    for held in (holder, helper):
        h.check(wine.exit_code(held['process']) == 0, 'a helper was not ended: %s' % held['windows'])
    h.check(h.broadcast_round(wine.helper_events(holder)) == holder['windows'] and
            h.broadcast_round(wine.helper_events(helper)[earlier:]) == helper['windows'],
            'a helper was not told: %s, %s' % (wine.helper_events(holder), wine.helper_events(helper)))
    h.check(newcomer['process'].poll() is None and wine.helper_events(newcomer) == [],
            'the program started during the round was disturbed: %s' % wine.helper_events(newcomer))
    h.check(wine.helper_events(quitter) == [('query', quitter['windows'][0], 0, 0)],
            'the program that ended itself while asked got %s' % wine.helper_events(quitter))
    h.check_alive(wine, process, 'after the hung helper')
    h.check(h.query_end_session(wine, 0) == 1, 'a session end was refused after the restart')
    h.check_kept(wine, before, 'hung helper')
    wine.probe('post', 'main', h.WM_APP_OWNENDOVER, 0, 0)
    h.check(h.query_end_session(wine, 0) == 0,
            'interception did not come back when RESTART.EXE said that Windows went on')
    h.check_quick_restart_done(wine, h.INSTALL_DIR, launches=2)
    wine.close_tarnwick(process)


SCENARIOS = [
    settings_key_or_values_missing,
    last_command_odd_forms,
    config_sys_held_open,
    restart_exe_missing,
    help_missing,
    hung_helper_holds_deferred_restart,
]
