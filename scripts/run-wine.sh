#!/bin/sh
# make run: starts the release's TARNWICK.EXE under Wine, on a Wine virtual
# desktop with a taskbar so that the tray icon shows, in a Wine prefix of the
# project's own (build/wine-run, never ~/.wine). The prefix is made once; its
# settings come from the release's TARNWICK.REG.
#
# With a display the desktop opens there and the script returns when it is
# closed. Without one the program runs under Xvfb: the script waits for it to
# start, saves a screenshot to build/screenshots/run.png, prints its path and
# cleans up. Remove build/wine-run to start again from a fresh prefix.
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
RELEASE=$ROOT/dist/tarnwick-1.1
PROBE=$ROOT/build/win32/probe.exe
SHOT=$ROOT/build/screenshots/run.png
DESKTOP=shell
SIZE=1024x768
PROGRAM='C:\Program Files\Tarnwick\TARNWICK.EXE'

export WINEPREFIX="$ROOT/build/wine-run"
export WINEARCH=win32
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEDEBUG="${WINEDEBUG:--all}"

if [ ! -f "$RELEASE/TARNWICK.EXE" ]; then
    echo "run-wine: no release in $RELEASE (make dist makes it)" >&2
    exit 1
fi

XVFB_PID=""
WORK=$(mktemp -d /tmp/tarnwick-run.XXXXXX)
cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    if [ -n "$XVFB_PID" ]; then
        kill "$XVFB_PID" 2>/dev/null || true
    fi
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
    # Xvfb picks a free display and writes its number to the pipe.
    mkfifo "$WORK/display"
    Xvfb -displayfd 3 -screen 0 ${SIZE}x24 -nolisten tcp 3>"$WORK/display" \
        >"$WORK/xvfb.log" 2>&1 &
    XVFB_PID=$!
    number=""
    read -r number <"$WORK/display" || true
    if [ -z "$number" ]; then
        echo "run-wine: Xvfb did not start:" >&2
        cat "$WORK/xvfb.log" >&2
        exit 1
    fi
    export DISPLAY=":$number"
    HEADLESS=1
else
    HEADLESS=0
fi

LOG=$ROOT/build/wine-run.log
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "run-wine: making the Wine prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wineboot -i >"$LOG" 2>&1
    # Wine's own fonts (MS Sans Serif, Marlett for the caption buttons) are
    # not found in their package's folder: give the prefix a copy.
    if [ -d /usr/share/wine/fonts ]; then
        cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
    fi
    settings=$WORK/settings.reg
    if [ -f "$RELEASE/TARNWICK.REG" ]; then
        cp "$RELEASE/TARNWICK.REG" "$settings"
    else
        printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Quennard\\Tarnwick]\r\n"Show tray icon"=dword:00000001\r\n"Intercept all restarts"=dword:00000000\r\n\r\n' >"$settings"
    fi
    printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]\r\n"Desktop"="%s"\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]\r\n"%s"="%s"\r\n\r\n' \
        "$DESKTOP" "$DESKTOP" "$SIZE" >>"$settings"
    wine regedit /S "$(winepath -w "$settings")" >>"$LOG" 2>&1
fi

# The release as a user installs it: its folder in Program Files.
FOLDER="$WINEPREFIX/drive_c/Program Files/Tarnwick"
mkdir -p "$FOLDER"
cp -R "$RELEASE/." "$FOLDER/"

if [ "$HEADLESS" -eq 0 ]; then
    echo "run-wine: starting Tarnwick on the Wine desktop \"$DESKTOP\" on $DISPLAY"
    wine explorer /desktop=$DESKTOP,$SIZE "$PROGRAM" >>"$LOG" 2>&1
    exit 0
fi

wine explorer /desktop=$DESKTOP,$SIZE "$PROGRAM" >>"$LOG" 2>&1 &

# Started when the main window and its tray icon are there (the probe, built
# with the program, can tell); otherwise give it a few seconds.
if [ -f "$PROBE" ]; then
    cp "$PROBE" "$WINEPREFIX/drive_c/probe.exe"
    out=$WORK/probe.txt
    wine "$WINEPREFIX/drive_c/probe.exe" --out "$(winepath -w "$out")" \
        wait-window TarnwickMainWindowClass Tarnwick present 30000 + \
        wait-window '#32770' Tarnwick present 5000 + tray main 1 >>"$LOG" 2>&1 || true
    grep -q '^tray=present' "$out" || echo "run-wine: no tray icon seen (is \"Show tray icon\" on?)" >&2
    sleep 1
else
    sleep 8
fi

mkdir -p "$(dirname "$SHOT")"
import -window root "$SHOT"
echo "run-wine: screenshot $SHOT"
