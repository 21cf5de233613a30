#!/usr/bin/env python3
"""Checks the release that scripts/make-dist.sh made: the zip's contents, the
folder beside it, the floppy and CD images read back, the text files that
Windows 95/98 users open, and TARNWICK.INF against the rules of the 16-bit
INF engine of Windows 95.

Usage: check_release.py [DIST_DIR]   (default: dist/ of the repository)
Prints "ok - ..." or "not ok - ..." per check, then a summary line, and exits
with 1 when a check failed.
"""
import os
import re
import subprocess
import sys
import tempfile
import zipfile

NAME = "tarnwick-1.1"
RELEASE_FILES = ["TARNWICK.EXE", "RESTART.EXE", "Help/index.html", "TARNWICK.HTM",
                 "TARNWICK.INF", "TARNWICK.REG", "README.TXT"]
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


def tree_problems(folder, contents):
    """How the files below `folder` differ from the zip's: names and bytes."""
    found = {}
    for base, _, files in os.walk(folder):
        for file in files:
            path = os.path.join(base, file)
            with open(path, "rb") as handle:
                found[os.path.relpath(path, folder).replace(os.sep, "/")] = handle.read()
    if sorted(found) != sorted(RELEASE_FILES):
        return ["holds %s" % sorted(found)]
    return [name + " differs from the zip's copy" for name in RELEASE_FILES
            if found[name] != contents.get(name)]


def check_folder(dist, contents):
    check("the folder %s holds the zip's files, byte for byte" % NAME,
          tree_problems(os.path.join(dist, NAME), contents))
    check("TARNWICK.HTM is the help page under an 8.3 name",
          [] if contents.get("TARNWICK.HTM") == contents.get("Help/index.html")
          else ["differs from Help/index.html"])


def run(argv):
    """Runs a tool; its output, or None when it failed."""
    done = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    return done.stdout.decode("latin-1") if done.returncode == 0 else None


def check_images(dist, contents):
    """Each image, read back by the tools a user's system would read it with
    (VFAT long names, Joliet names), holds the release byte for byte."""
    image = os.path.join(dist, NAME + ".img")
    with tempfile.TemporaryDirectory() as out:
        with open(image, "rb") as handle:
            boot = handle.read(62)
        problems = [] if os.path.getsize(image) == 1474560 else ["not 1,474,560 bytes"]
        if boot[54:62] != b"FAT12   ":
            problems.append("file system %r" % boot[54:62])
        if run(["mcopy", "-s", "-m", "-n", "-i", image, "::/*", out]) is None:
            problems.append("mtools cannot read it")
        label = run(["mlabel", "-s", "-i", image, "::"]) or ""
        if "Volume label is TARNWICK " not in label:
            problems.append("label: " + label.strip())
        if run(["fsck.fat", "-n", image]) is None:
            problems.append("fsck.fat finds faults")
        check("the floppy image: FAT12, label TARNWICK, clean, the release with long names",
              problems + tree_problems(out, contents))
    cd = os.path.join(dist, NAME + ".iso")
    with tempfile.TemporaryDirectory() as out:
        extracted = run(["xorriso", "-osirrox", "on", "-joliet", "on", "-indev", cd,
                         "-extract", "/", out])
        info = run(["xorriso", "-indev", cd, "-pvd_info"]) or ""
        problems = [] if extracted is not None else ["xorriso cannot read it"]
        if not re.search(r"Volume Id\s*:\s*TARNWICK\s*$", info, re.M):
            problems.append("volume id is not TARNWICK")
        check("the CD image: volume TARNWICK, the release with Joliet names",
              problems + tree_problems(out, contents))


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


# --- TARNWICK.INF ---

# What the install leaves on a Windows 95 installed in C:\WINDOWS, and from
# which release file each comes.
INSTALLED = {
    r"C:\TARNWICK\TARNWICK.EXE": "TARNWICK.EXE",
    r"C:\TARNWICK\RESTART.EXE": "RESTART.EXE",
    r"C:\TARNWICK\README.TXT": "README.TXT",
    r"C:\TARNWICK\HELP\INDEX.HTM": "Help/index.html",
    r"C:\WINDOWS\INF\TARNWICK.INF": "TARNWICK.INF",
}
# The LDIDs the INF uses, as the Windows 95 engine expands them: the drive's
# root with its backslash, a folder without one.
LDIDS = {"24": "C:\\", "17": r"C:\WINDOWS\INF"}
RUN_KEY = r"Software\Microsoft\Windows\CurrentVersion\Run"
UNINSTALL_KEY = r"Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarnwick"
SETTINGS_KEY = r"Software\Quennard\Tarnwick"
# root, key, value name -> (flags that must be set, the raw bytes)
SWITCHES = {
    ("HKCU", SETTINGS_KEY, "Show tray icon"): (3, "01,00,00,00"),
    ("HKCU", SETTINGS_KEY, "Intercept all restarts"): (3, "00,00,00,00"),
}
SHORT_NAME = re.compile(r"^[A-Z0-9_~!#$&'()@^{}-]{1,8}(\.[A-Z0-9_~!#$&'()@^{}-]{1,3})?$")


def inf_fields(line):
    """A line's comma-separated fields, unquoted ("" inside quotes is ")."""
    fields, field, quoted, i = [], "", False, 0
    while i < len(line):
        c = line[i]
        if c == '"' and quoted and line[i + 1:i + 2] == '"':
            field += '"'
            i += 1
        elif c == '"':
            quoted = not quoted
        elif c == "," and not quoted:
            fields.append(field.strip())
            field = ""
        elif c == ";" and not quoted:
            break
        else:
            field += c
        i += 1
    return fields + [field.strip()]


def parse_inf(text):
    """{section (lower case): [fields of each line]}, with [Strings] put in."""
    sections, current = {}, None
    for line in text.split("\r\n"):
        head = re.match(r"\s*\[([^\]]+)\]", line)
        if head:
            current = sections.setdefault(head.group(1).lower(), [])
        elif current is not None and line.split(";")[0].strip():
            current.append(line)
    strings = {}
    for line in sections.get("strings", []):
        key, _, value = line.partition("=")
        strings[key.strip().lower()] = inf_fields(value)[0]

    def expand(field):
        return re.sub(r"%([A-Za-z]\w*)%", lambda m: strings.get(m.group(1).lower(), m.group(0)),
                      field)
    return {name: [[expand(f) for f in inf_fields(line)] for line in lines]
            for name, lines in sections.items()}


def directives(sections, name):
    """{directive: [section names]} of an install section."""
    found = {}
    for fields in sections.get(name, []):
        key, _, first = fields[0].partition("=")
        found[key.strip().lower()] = [n.lower() for n in [first] + fields[1:] if n.strip()]
    return found


def registry_lines(sections, names):
    return [tuple(f) for name in names for f in sections.get(name, [])]


def inf_problems(text, contents):
    sections = parse_inf(text)
    problems = []
    if ["Signature=$CHICAGO$"] not in [[f.replace(" ", "") for f in line]
                                       for line in sections.get("version", [])]:
        problems.append('[Version] has no Signature="$CHICAGO$"')
    install = directives(sections, "defaultinstall")
    uninstall = directives(sections, "defaultuninstall")
    targets = {l[0].partition("=")[0].strip().lower(): l for l in sections.get("destinationdirs", [])}
    on_disk = {l[0].partition("=")[0].strip().upper() for l in sections.get("sourcedisksfiles", [])}
    added = registry_lines(sections, install.get("addreg", []))
    deleted = registry_lines(sections, uninstall.get("addreg", []))

    # Every copy: 8.3 names on both ends, a known source, and what lands where.
    installed = {}
    for section in install.get("copyfiles", []):
        ldid, subdir = (targets.get(section, ["="]) + [""])[:2]
        ldid = ldid.partition("=")[2].strip()
        # The engine joins a DestinationDirs folder to its LDID itself.
        folder = "\\".join([LDIDS.get(ldid, "%" + ldid + "%").rstrip("\\")]
                            + [p for p in subdir.split("\\") if p])
        for part in subdir.split("\\"):
            if part and not SHORT_NAME.match(part):
                problems.append("folder %s is not 8.3" % part)
        for entry in sections.get(section, []):
            target, source = entry[0], (entry[1:2] or [""])[0] or entry[0]
            for name in (target, source):
                if not SHORT_NAME.match(name):
                    problems.append("%s in [%s] is not an 8.3 name" % (name, section))
            if source.upper() not in on_disk:
                problems.append("%s is not in [SourceDisksFiles]" % source)
            installed[folder + "\\" + target] = contents.get(source)
    want = {path: contents.get(name) for path, name in INSTALLED.items()}
    if installed != want:
        problems.append("installs %s, expected %s" % (sorted(installed), sorted(want)))
    if set(uninstall.get("delfiles", [])) != set(install.get("copyfiles", [])):
        problems.append("DefaultUninstall does not delete every file it copied")

    # The doubled-quote escape is the later engine's; Windows 95's may keep both.
    for line in text.split("\r\n"):
        if '""' in line.split(";")[0]:
            problems.append("a doubled quote: %s" % line)

    # Nothing may rest on the later engine's long-name helper, and a string
    # that follows %24% with a backslash doubles it on Windows 95.
    for name, lines in sections.items():
        for fields in lines:
            if len(fields) > 1 and re.search(r"\\(RenameFiles|DeleteFiles)(\\|$)", fields[1], re.I):
                problems.append("[%s] uses the long-name helper's key %s" % (name, fields[1]))
            if any("%24%\\" in f for f in fields):
                problems.append("[%s] writes %%24%%\\, a doubled backslash on Windows 95" % name)

    # The 16-bit engine reads 16 bits of flags and knows no DWORD type.
    for fields in added + deleted:
        flags = fields[3] if len(fields) > 3 else ""
        if flags and not (flags.isdigit() and int(flags) <= 0xFFFF):
            problems.append("AddReg flags %s beyond the low word: %s" % (flags, fields[:3]))
    for key, (flags, data) in SWITCHES.items():
        found = [f for f in added if f[:3] == key]
        if not found or int(found[0][3] or 0) & flags != flags or ",".join(found[0][4:]) != data:
            problems.append("%s is not the raw bytes %s kept where present" % (key[2], data))
    values = {f[:3]: re.sub(r"%(\d+)%", lambda m: LDIDS.get(m.group(1), m.group(0)), f[4])
              for f in added if len(f) > 4}
    exe = [p for p, n in INSTALLED.items() if n == "TARNWICK.EXE"][0]
    for key, value in ((("HKCU", RUN_KEY, "Tarnwick"), '%s /init' % exe),
                       (("HKLM", UNINSTALL_KEY, "DisplayName"), "Tarnwick 1.1"),
                       (("HKLM", UNINSTALL_KEY, "UninstallString"),
                        "RunDll setupx.dll,InstallHinfSection DefaultUninstall 4 TARNWICK.INF")):
        if values.get(key) != value:
            problems.append("%s is %r, expected %r" % (key[2], values.get(key), value))
    removed = {f[:3] if len(f) > 2 else f[:2] for f in
               registry_lines(sections, uninstall.get("delreg", []))}
    for fields in added:
        if fields[:2] not in removed and fields[:3] not in removed:
            problems.append("the uninstall leaves %s" % (fields[:3],))
    return problems


def check_inf(data, contents):
    if data is None:
        return
    problems = crlf_problems(data) + ansi_problems(data)
    problems += inf_problems(data.decode("cp1252", "replace"), contents)
    check("TARNWICK.INF: $CHICAGO$, CRLF, 8.3 names, 16-bit flags, no long-name helper, no %24%\\,"
          " no doubled quote,"
          " every file and key installed and removed", problems)


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
        check_images(dist, contents)
    check_readme(contents.get("README.TXT"))
    check_reg(contents.get("TARNWICK.REG"))
    check_help(contents.get("Help/index.html"))
    check_inf(contents.get("TARNWICK.INF"), contents)
    failed = sum(1 for _, problems in results if problems)
    print("release: %d passed, %d failed" % (len(results) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
