#!/usr/bin/env python3
"""Checks the release that scripts/make-dist.sh made: the zip's contents, the
folder beside it, and the text files that Windows 95/98 users open.

Usage: check_release.py [DIST_DIR]   (default: dist/ of the repository)
Prints "ok - ..." or "not ok - ..." per check, then a summary line, and exits
with 1 when a check failed.
"""
import os
import re
import sys
import zipfile

NAME = "tarnwick-1.1"
RELEASE_FILES = ["TARNWICK.EXE", "RESTART.EXE", "Help/index.html", "TARNWICK.REG", "README.TXT"]
REG_KEY = "HKEY_CURRENT_USER\\Software\\Quennard\\Tarnwick"
# Bytes that Windows code page 1252 leaves undefined.
CP1252_UNDEFINED = {0x81, 0x8D, 0x8F, 0x90, 0x9D}

results = []


def check(name, problems):
    """Records one check; problems is a list of strings, empty when it passed."""
    results.append((name, problems))
    print(("ok - " if not problems else "not ok - ") + name)
    for problem in problems:
        print("#   " + problem)


def ansi_problems(data):
    """Problems that keep bytes from being plain 8-bit ANSI text."""
    problems = []
    if data.startswith(b"\xef\xbb\xbf"):
        problems.append("starts with a UTF-8 byte order mark")
    undefined = sorted({b for b in data if b in CP1252_UNDEFINED})
    if undefined:
        problems.append("bytes undefined in code page 1252: %s" % undefined)
    controls = sorted({b for b in data if b < 0x20 and b not in (0x0D, 0x0A)})
    if controls:
        problems.append("control bytes: %s" % controls)
    if any(b >= 0x80 for b in data):
        try:
            data.decode("utf-8")
            problems.append("holds UTF-8 sequences, not ANSI characters")
        except UnicodeDecodeError:
            pass
    return problems


def crlf_problems(data):
    """Problems with CRLF line ends: a bare CR or LF, or no line end at the end."""
    problems = []
    bare_lf = len(re.findall(rb"(?<!\r)\n", data))
    bare_cr = len(re.findall(rb"\r(?!\n)", data))
    if bare_lf:
        problems.append("%d line(s) end in LF without CR" % bare_lf)
    if bare_cr:
        problems.append("%d CR(s) without LF" % bare_cr)
    if not data.endswith(b"\r\n"):
        problems.append("the last line has no CRLF")
    return problems


def check_zip(dist):
    path = os.path.join(dist, NAME + ".zip")
    if not os.path.isfile(path):
        check("the zip exists", [path + " is missing"])
        return {}
    with zipfile.ZipFile(path) as archive:
        names = archive.namelist()
        problems = []
        if sorted(names) != sorted(RELEASE_FILES):
            problems.append("holds %s" % names)
        if archive.testzip() is not None:
            problems.append("damaged entry %s" % archive.testzip())
        check("the zip holds exactly %s" % ", ".join(RELEASE_FILES), problems)
        return {name: archive.read(name) for name in names}


def check_folder(dist, contents):
    folder = os.path.join(dist, NAME)
    problems = []
    found = []
    for base, _, files in os.walk(folder):
        for file in files:
            found.append(os.path.relpath(os.path.join(base, file), folder).replace(os.sep, "/"))
    if sorted(found) != sorted(RELEASE_FILES):
        problems.append("folder holds %s" % sorted(found))
    for name in RELEASE_FILES:
        path = os.path.join(folder, name)
        if os.path.isfile(path) and name in contents:
            with open(path, "rb") as file:
                if file.read() != contents[name]:
                    problems.append(name + " differs from the zip's copy")
    check("the folder %s holds the zip's files, byte for byte" % NAME, problems)


def check_readme(data):
    if data is None:
        return
    problems = crlf_problems(data) + ansi_problems(data)
    for number, line in enumerate(data.split(b"\r\n"), 1):
        if len(line) >= 78:
            problems.append("line %d has %d characters" % (number, len(line)))
    check("README.TXT: CRLF line ends, ANSI text, lines under 78 characters", problems)


def check_reg(data):
    if data is None:
        return
    problems = crlf_problems(data) + ansi_problems(data)
    if not data.startswith(b"REGEDIT4\r\n"):
        problems.append("does not start with the line REGEDIT4")
    text = data.decode("cp1252", "replace")
    lines = text.split("\r\n")
    key = "[" + REG_KEY + "]"
    if key not in lines:
        problems.append("no key line " + key)
    else:
        # The two values must belong to our key, before any other key starts.
        section = []
        for line in lines[lines.index(key) + 1:]:
            if line.startswith("["):
                break
            section.append(line)
        for value in ('"Show tray icon"=dword:00000001', '"Intercept all restarts"=dword:00000000'):
            if value not in section:
                problems.append("no line %s under the key" % value)
    check("TARNWICK.REG: REGEDIT4, CRLF, the key with both switches", problems)


def check_help(data):
    if data is None:
        return
    problems = ansi_problems(data)
    html = data.decode("cp1252", "replace")
    lower = html.lower()
    for tag in ("script", "style", "link", "img", "object", "applet", "embed", "iframe", "frame", "meta"):
        if re.search(r"<%s\b" % tag, lower):
            problems.append("has a <%s> element" % tag)
    if re.search(r"\son\w+\s*=", lower):
        problems.append("has an event handler attribute")
    if re.search(r"\s(src|background|style)\s*=", lower):
        problems.append("has a src, background or style attribute")
    if "javascript:" in lower:
        problems.append("has a javascript: address")
    targets = re.findall(r"href\s*=\s*\"?([^\"\s>]*)", html, re.I)
    anchors = set(re.findall(r"name\s*=\s*\"?([^\"\s>]*)", html, re.I))
    for target in targets:
        if not target.startswith("#"):
            problems.append("links outside the page: " + target)
        elif target[1:] not in anchors:
            problems.append("links to a missing anchor: " + target)
    check("Help/index.html: no scripts, no external references, every link found", problems)

    # Each thing a user can choose is explained somewhere on the page.
    missing = [text for text in (
        "Quick restart", "Full reboot", "Log off", "Exit to DOS", "Shut down", "Screen saver",
        "Suspend", "Exit Tarnwick", "Disable tray icon", "Intercept all restarts",
        "Show tray icon", "Force applications to terminate (use carefully)",
        "Last command", "Last force setting", "/init", "StartUp", "RESTART.EXE",
        "TARNWICK.REG", "CONFIG.SYS", "AUTOEXEC.BAT", REG_KEY) if text not in html]
    check("Help/index.html names every command, option and setting",
          ["does not mention " + text for text in missing])


def main():
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    dist = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "dist")
    contents = check_zip(dist)
    if contents:
        check_folder(dist, contents)
    check_readme(contents.get("README.TXT"))
    check_reg(contents.get("TARNWICK.REG"))
    check_help(contents.get("Help/index.html"))
    failed = sum(1 for _, problems in results if problems)
    print("release: %d passed, %d failed" % (len(results) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
