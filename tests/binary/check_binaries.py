#!/usr/bin/python3
"""Holds the built executables to what the first release of Windows 95 can load.

    check_binaries.py build/win32/TARNWICK.EXE [build/win32/RESTART.EXE ...]

For every executable: the PE header fields, the imports and the functions
looked up by name at run time against win95_exports.txt, the instruction set
(nothing newer than the 386) and the size. For TARNWICK.EXE also its
resources, read back out of the file and compared field by field with the
values below.

Prints one "ok - name" or "not ok - name: reason" line per check, then
"binary: N passed, M failed"; exits 1 when any check failed.
"""
import os
import re
import struct
import subprocess
import sys

import pefile

HERE = os.path.dirname(os.path.abspath(__file__))
ALLOWED_LIST = os.path.join(HERE, "win95_exports.txt")
OBJDUMP = "i686-w64-mingw32-objdump"
NM = "i686-w64-mingw32-nm"
CROSS_GCC = "i686-w64-mingw32-gcc"

ALLOWED_DLLS = {"KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "ADVAPI32.DLL", "SHELL32.DLL"}
SIZE_LIMITS = {"TARNWICK.EXE": 16384, "RESTART.EXE": 8192}

# What each executable passes to GetProcAddress, with the DLL it loads for it.
# The check finds every function name written in the file outside its import
# table and wants exactly these, so a lookup added, renamed or dropped in the
# program fails until this list and win95_exports.txt agree with it.
LOOKED_UP = {
    "TARNWICK.EXE": {("SHELL32.DLL", "Shell_NotifyIconA"), ("SHELL32.DLL", "Shell_NotifyIcon"),
                     ("SHELL32.DLL", "ShellExecuteA")},
    "RESTART.EXE": set(),
}
# A name as a C string on its own: nothing printable before it, its zero after.
NAME_IN_FILE = re.compile(rb"(?<![\x20-\x7e])([A-Za-z_][A-Za-z0-9_]+)\x00")
IMPORT_SYMBOL = re.compile(r" I __imp__([A-Za-z_][A-Za-z0-9_]*?)(?:@\d+)?$")

IMAGE_FILE_MACHINE_I386 = 0x14C
PE32_MAGIC = 0x10B
SUBSYSTEM_WINDOWS_GUI = 2
DLLCHAR_DYNAMIC_BASE = 0x0040
DLLCHAR_NX_COMPAT = 0x0100
DIRECTORY_IMPORT, DIRECTORY_TLS, DIRECTORY_IAT = 1, 9, 12
CODE, DATA, EXECUTE, READ, WRITE = 0x20, 0x40, 0x20000000, 0x40000000, 0x80000000
# Each executable's sections, with the flags each must have and must not have.
SECTIONS = ((".text", CODE | EXECUTE | READ, WRITE), (".idata", DATA | READ | WRITE, EXECUTE),
            (".rsrc", DATA | READ, EXECUTE))

# Mnemonics of the 486 and later, and of the x87 beyond the 387, in objdump's
# AT&T spelling. MMX, SSE and AVX arithmetic always names an mm/xmm/ymm/zmm
# register, which NEWER_REGISTERS catches; their register-less instructions
# are listed here.
NEWER_MNEMONICS = re.compile(r"""(
      bswap | xadd\w* | cmpxchg\w* | invd | wbinvd | invlpg             # 486
    | cpuid | rdtsc | rdmsr | wrmsr | rsm                                # Pentium
    | cmov\w* | fcmov\w* | fu?comip? | rdpmc | ud2 | sysenter | sysexit  # Pentium Pro
    | nop[lwq]                                                           # 0F 1F long nop
    | emms | femms | fxsave\w* | fxrstor\w* | ldmxcsr | stmxcsr | [slm]fence
    | prefetch\w* | clflush\w* | movnti | pause | fisttp\w* | ffreep | rdtscp
    | syscall | sysret | endbr32 | endbr64 | xsave\w* | xrstor\w* | vzero\w*
    | popcnt | lzcnt | tzcnt | movbe | crc32\w* | andn | bextr | blsi | blsmsk | blsr
    | rorx | sarx | shlx | shrx | pdep | pext | adcx | adox
    )$""", re.VERBOSE)
NEWER_REGISTERS = re.compile(r"%(x|y|z)?mm\d+|%k[0-7]\b")
INSTRUCTION_LINE = re.compile(r"^\s*([0-9a-f]+):\t(.*)$")
INSTRUCTION_PREFIXES = {"lock", "rep", "repz", "repnz", "repe", "repne", "data16", "data32",
                        "addr16", "addr32", "cs", "ds", "es", "fs", "gs", "ss", "bnd",
                        "notrack", "xacquire", "xrelease"}

# --- TARNWICK.EXE's resources, as the program expects them ---

LANG_EN_US = 1033
RT_ICON, RT_MENU, RT_DIALOG, RT_GROUP_ICON, RT_VERSION = 3, 4, 5, 14, 16
IDD_COMMANDDIALOG, IDR_TRAYMENU, IDR_DIALOGMENU, IDI_SMALL, IDI_MAIN = 101, 108, 110, 112, 113

BUTTON, STATIC = 0x80, 0x82
DIALOG = dict(
    help_id=0, ex_style=0x00020200, style=0x10CA28C4,
    x=0, y=0, cx=199, cy=198, menu=IDR_DIALOGMENU, window_class=None, title="Tarnwick",
    font=(8, 0, 0, 1, "MS Sans Serif"),
    controls=[
        # id, class, text, style, x, y, cx, cy; help id and extended style 0
        (1, BUTTON, "OK", 0x50010001, 142, 57, 44, 14),
        (2, BUTTON, "Cancel", 0x50010000, 141, 82, 45, 14),
        (0xFFFFFFFF, BUTTON, "Static", 0x50000007, 22, 14, 107, 151),
        (1000, BUTTON, "Quick Windows Restart", 0x50030009, 31, 27, 90, 11),
        (1001, BUTTON, "Full reboot", 0x50010009, 31, 47, 79, 11),
        (1002, BUTTON, "Log off", 0x50010009, 31, 67, 77, 11),
        (1003, BUTTON, "Exit to DOS", 0x50010009, 31, 87, 75, 10),
        (1004, BUTTON, "Shut down", 0x50010009, 31, 106, 69, 11),
        (1006, BUTTON, "Screen Saver", 0x50010009, 31, 128, 67, 9),
        (1007, BUTTON, "Suspend", 0x50000009, 31, 146, 80, 11),
        (1009, BUTTON, "", 0x50032F03, 31, 172, 11, 11),
        (0xFFFFFFFF, STATIC, "Force applications to terminate (use carefully)",
         0x50020000, 43, 170, 99, 19),
        (0xFFFFFFFF, STATIC, "", 0x50000010, 23, 120, 105, 1),
    ])

SEPARATOR = (0, "")
# A popup is (text, [entries]); a command is (id, text).
MENUS = {
    IDR_TRAYMENU: [("Dummy", [
        (40001, "Exit Tarnwick"), (40002, "Help"), (40003, "About"), SEPARATOR,
        (40004, "Disable tray icon"), (40005, "Intercept all restarts"), SEPARATOR,
        (1006, "Screen saver"), (1007, "Suspend"), SEPARATOR,
        (1003, "Exit to DOS"), (1004, "Shut down"), (1002, "Log off"),
        (1001, "Full reboot"), (1000, "Quick restart")])],
    IDR_DIALOGMENU: [
        ("File", [(40001, "Exit")]),
        ("Options", [(40007, "Show tray icon"), (40005, "Intercept all restarts")]),
        ("Help", [(40002, "Contents"), (40003, "About")])],
}
ICON_SIZES = {IDI_SMALL: 16, IDI_MAIN: 32}
VERSION = dict(file=(1, 1, 0, 0), product=(1, 1, 0, 0),
               blocks=("040904E4", "040904B0"),
               # The Version page of a file's Properties shows the strings, not the numbers.
               strings={"FileVersion": "1.1.0.0", "InternalName": "Tarnwick",
                        "ProductName": "Tarnwick", "ProductVersion": "1.1.0.0"},
               translation_language=0x0409)

MF_POPUP, MF_END, MF_SEPARATOR = 0x10, 0x80, 0x800


class Failure(Exception):
    """A check's reason to fail."""


def expect(what, actual, wanted, as_hex=False):
    if actual != wanted:
        def show(value):
            return "0x%X" % value if as_hex and isinstance(value, int) else repr(value)
        raise Failure("%s is %s, expected %s" % (what, show(actual), show(wanted)))


# --- PE header ---

def release_epoch():
    """The time stamp every release file carries: SOURCE_DATE_EPOCH, or else
    the last commit's time, as make gives it to the linker."""
    stamp = os.environ.get("SOURCE_DATE_EPOCH")
    if not stamp:
        stamp = subprocess.run(["git", "-C", HERE, "log", "-1", "--format=%ct"],
                               stdout=subprocess.PIPE, text=True).stdout.strip()
    return int(stamp or 1704067200)


def check_header(pe):
    expect("machine", pe.FILE_HEADER.Machine, IMAGE_FILE_MACHINE_I386, True)
    expect("header time stamp", pe.FILE_HEADER.TimeDateStamp, release_epoch())
    opt = pe.OPTIONAL_HEADER
    expect("optional header magic (PE32)", opt.Magic, PE32_MAGIC, True)
    expect("subsystem", opt.Subsystem, SUBSYSTEM_WINDOWS_GUI)
    expect("subsystem version", (opt.MajorSubsystemVersion, opt.MinorSubsystemVersion), (4, 0))
    expect("OS version", (opt.MajorOperatingSystemVersion, opt.MinorOperatingSystemVersion),
           (4, 0))
    for flag, name in ((DLLCHAR_DYNAMIC_BASE, "dynamic base"), (DLLCHAR_NX_COMPAT, "NX")):
        if opt.DllCharacteristics & flag:
            raise Failure("DllCharacteristics 0x%X has %s" % (opt.DllCharacteristics, name))
    expect("image base", opt.ImageBase, 0x400000, True)
    expect("section alignment", opt.SectionAlignment, 0x1000, True)
    expect("file alignment", opt.FileAlignment, 0x200, True)
    tls = opt.DATA_DIRECTORY[DIRECTORY_TLS]
    if tls.VirtualAddress or tls.Size:
        raise Failure("has a TLS directory")
    if not pe.FILE_HEADER.Characteristics & 1:  # IMAGE_FILE_RELOCS_STRIPPED
        raise Failure("relocatable, but has no relocations to load anywhere but its base")


def check_layout(pe, path):
    opt, sections, up = pe.OPTIONAL_HEADER, pe.sections, lambda n, a: -(-n // a) * a
    expect("sections", [s.Name.rstrip(b"\0") for s in sections],
           [name.encode() for name, _, _ in SECTIONS])
    table_end = sections[-1].get_file_offset() + sections[-1].sizeof()
    expect("size of headers, holding the section table", (opt.SizeOfHeaders,
           table_end <= opt.SizeOfHeaders), (opt.FileAlignment, True))
    raw, address = opt.SizeOfHeaders, up(opt.SizeOfHeaders, opt.SectionAlignment)
    for section, (name, wanted, unwanted) in zip(sections, SECTIONS):
        expect(name + " file offset, size modulo file alignment, address",
               (section.PointerToRawData, section.SizeOfRawData % opt.FileAlignment,
                section.VirtualAddress), (raw, 0, address))
        expect(name + " flags", section.Characteristics & (wanted | unwanted), wanted, True)
        raw += section.SizeOfRawData
        address += up(max(section.Misc_VirtualSize, section.SizeOfRawData), opt.SectionAlignment)
    expect("size of image", opt.SizeOfImage, address, True)
    data = sections[1]
    for d in opt.DATA_DIRECTORY[DIRECTORY_IMPORT], opt.DATA_DIRECTORY[DIRECTORY_IAT]:
        if not data.VirtualAddress <= d.VirtualAddress < d.VirtualAddress + d.Size \
                <= data.VirtualAddress + min(data.SizeOfRawData, data.Misc_VirtualSize):
            raise Failure("%s outside the file bytes of %s" % (d.name, SECTIONS[1][0]))
    expect("import directory size (descriptors and the zero one)", opt.DATA_DIRECTORY[
        DIRECTORY_IMPORT].Size, 20 * (len(getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])) + 1))
    # Zero-initialised data: zeros in the file, or past them where the loader zeroes.
    if not os.path.exists(path + ".map"):
        raise Failure("no link map beside it")
    with open(path + ".map") as f:
        start, end = (int(edge, 16) - opt.ImageBase for edge in re.search(
            r"0x(\w+) +__bss_start__ = .*?0x(\w+) +__bss_end__ = ", f.read(), re.S).groups())
    s = pe.get_section_by_rva(start)
    if start < end and (not s or end > s.VirtualAddress + s.Misc_VirtualSize or s.get_data(
            start, max(0, min(end, s.VirtualAddress + s.SizeOfRawData) - start)).strip(b"\0")):
        raise Failure("zero-initialised data 0x%X-0x%X not all zeros once loaded" % (start, end))


# --- imports ---

def load_allowed():
    allowed = set()
    with open(ALLOWED_LIST) as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                dll, function = line.split("!")
                allowed.add((dll.upper(), function))
    return allowed


def check_imports(pe, allowed):
    if hasattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT"):
        raise Failure("has delay-load imports")
    problems = []
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        dll = entry.dll.decode("ascii", "replace").upper()
        if dll not in ALLOWED_DLLS:
            problems.append("DLL %s not allowed" % dll)
            continue
        for imp in entry.imports:
            if imp.name is None:
                problems.append("%s ordinal %d" % (dll, imp.ordinal))
            else:
                function = imp.name.decode("ascii", "replace")
                if (dll, function) not in allowed:
                    problems.append("%s!%s not in win95_exports.txt" % (dll, function))
    if problems:
        raise Failure("; ".join(problems))


# --- functions looked up by name ---

def run_tool(arguments):
    try:
        result = subprocess.run(arguments, capture_output=True, text=True)
    except OSError as error:
        raise Failure("cannot run %s: %s" % (arguments[0], error))
    if result.returncode != 0:
        raise Failure("%s failed: %s" % (arguments[0], result.stderr.strip()))
    return result.stdout


def exported_functions():
    """Every function the allowed DLLs export, as the cross toolchain's import
    libraries name them."""
    names = set()
    for dll in sorted(ALLOWED_DLLS):
        library = "lib%s.a" % dll[:-len(".DLL")].lower()
        path = run_tool([CROSS_GCC, "-print-file-name=" + library]).strip()
        if not os.path.isabs(path):
            raise Failure("%s not found" % library)
        for line in run_tool([NM, "--defined-only", path]).splitlines():
            match = IMPORT_SYMBOL.search(line)
            if match:
                names.add(match.group(1))
    if not names:
        raise Failure("the import libraries name no functions")
    return names


def without_import_names(pe, data):
    """The file's bytes with the import table's DLL and function names zeroed."""
    data = bytearray(data)
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        spans = [(pe.get_offset_from_rva(entry.struct.Name), entry.dll)]
        spans += [(imp.name_offset, imp.name) for imp in entry.imports if imp.name]
        for offset, name in spans:
            if bytes(data[offset:offset + len(name)]) != name:
                raise Failure("import name %r not where the import table says" % name)
            data[offset:offset + len(name)] = bytes(len(name))
    return bytes(data)


def c_string_in(data, text):
    pattern = rb"(?<![\x20-\x7e])" + re.escape(text.encode("ascii")) + rb"\x00"
    return re.search(pattern, data, re.IGNORECASE) is not None


def check_lookups(pe, path, allowed, wanted):
    with open(path, "rb") as f:
        data = without_import_names(pe, f.read())
    names = {match.group(1).decode("ascii") for match in NAME_IN_FILE.finditer(data)}
    wanted_names = {function for _, function in wanted}
    known = exported_functions() | {function for _, function in allowed} | wanted_names
    problems = []
    for dll, function in sorted(wanted):
        if (dll, function) not in allowed:
            problems.append("%s!%s not in win95_exports.txt" % (dll, function))
        if function not in names:
            problems.append("%s not in the file" % function)
    for dll in sorted({dll for dll, _ in wanted}):
        if not c_string_in(data, dll):
            problems.append("%s not in the file" % dll)
    for function in sorted((names & known) - wanted_names):
        problems.append("%s in the file but not in LOOKED_UP" % function)
    if problems:
        raise Failure("; ".join(problems))


# --- instruction set ---

def newer_instructions(disassembly):
    """The lines of `objdump -d --no-show-raw-insn` output that hold an
    instruction newer than the 386."""
    found = []
    for line in disassembly.splitlines():
        match = INSTRUCTION_LINE.match(line)
        if not match:
            continue
        address, text = match.groups()
        text = re.sub(r"<[^>]*>", "", text.split("#", 1)[0]).strip()
        words = text.split()
        while words and words[0] in INSTRUCTION_PREFIXES:
            words.pop(0)
        mnemonic = words[0] if words else ""
        if NEWER_MNEMONICS.match(mnemonic) or NEWER_REGISTERS.search(text):
            found.append("%s: %s" % (address, text))
    return found


def check_instructions(path):
    disassembly = run_tool([OBJDUMP, "-d", "--no-show-raw-insn", path])
    if not any(INSTRUCTION_LINE.match(line) for line in disassembly.splitlines()):
        raise Failure("no instructions disassembled")
    found = newer_instructions(disassembly)
    if found:
        more = " (and %d more)" % (len(found) - 5) if len(found) > 5 else ""
        raise Failure("newer than the 386: " + "; ".join(found[:5]) + more)


# --- size and name ---

def check_size(path, size, limit):
    if size > limit:
        raise Failure("%d bytes, limit %d" % (size, limit))
    name = os.path.basename(path)
    if name != name.upper():
        raise Failure("file name %s is not in capitals" % name)


# --- resources ---

def resource_table(pe):
    """{(type, name): [(language, bytes)]} for every resource in the file."""
    table = {}
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return table
    for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        type_id = rtype.id if rtype.name is None else str(rtype.name)
        for rname in rtype.directory.entries:
            name_id = rname.id if rname.name is None else str(rname.name)
            for rlang in rname.directory.entries:
                data = pe.get_data(rlang.data.struct.OffsetToData, rlang.data.struct.Size)
                table.setdefault((type_id, name_id), []).append((rlang.id, data))
    return table


def one_resource(table, rtype, name):
    entries = table.get((rtype, name))
    if not entries:
        raise Failure("resource type %d name %d missing" % (rtype, name))
    if len(entries) != 1:
        raise Failure("resource type %d name %d in %d languages" % (rtype, name, len(entries)))
    return entries[0][1]


class Reader:
    """Little-endian reader over a resource's bytes."""

    def __init__(self, data):
        self.data = data
        self.pos = 0

    def take(self, fmt):
        size = struct.calcsize("<" + fmt)
        if self.pos + size > len(self.data):
            raise Failure("resource ends early at byte %d" % self.pos)
        values = struct.unpack_from("<" + fmt, self.data, self.pos)
        self.pos += size
        return values if len(values) > 1 else values[0]

    def text(self):
        chars = []
        while True:
            c = self.take("H")
            if c == 0:
                return "".join(chars)
            chars.append(chr(c))

    def text_or_ordinal(self):
        first = self.take("H")
        if first == 0:
            return None
        if first == 0xFFFF:
            return self.take("H")
        self.pos -= 2
        return self.text()

    def align(self, n):
        self.pos = (self.pos + n - 1) // n * n


def parse_dialog_ex(data):
    r = Reader(data)
    d = {}
    d["version"], d["signature"] = r.take("HH")
    if (d["version"], d["signature"]) != (1, 0xFFFF):
        raise Failure("not an extended dialog template (version %d, signature 0x%X)"
                      % (d["version"], d["signature"]))
    d["help_id"], d["ex_style"], d["style"] = r.take("III")
    count = r.take("H")
    d["x"], d["y"], d["cx"], d["cy"] = r.take("hhhh")
    d["menu"] = r.text_or_ordinal()
    d["window_class"] = r.text_or_ordinal()
    d["title"] = r.text()
    d["font"] = None
    if d["style"] & 0x40:  # DS_SETFONT
        point, weight, italic, charset = r.take("HHBB")
        d["font"] = (point, weight, italic, charset, r.text())
    controls = []
    for _ in range(count):
        r.align(4)
        help_id, ex_style, style = r.take("III")
        x, y, cx, cy = r.take("hhhh")
        control_id = r.take("I")
        window_class = r.text_or_ordinal()
        title = r.text_or_ordinal()
        extra = r.take("H")
        r.pos += extra
        controls.append(dict(help_id=help_id, ex_style=ex_style, style=style, x=x, y=y, cx=cx,
                             cy=cy, id=control_id, window_class=window_class,
                             title="" if title is None else title))
    d["controls"] = controls
    return d


def check_dialog(table):
    d = parse_dialog_ex(one_resource(table, RT_DIALOG, IDD_COMMANDDIALOG))
    for field in ("help_id", "ex_style", "style", "x", "y", "cx", "cy", "menu",
                  "window_class", "title", "font"):
        expect("dialog " + field, d[field], DIALOG[field], field.endswith("style"))
    expect("number of controls", len(d["controls"]), len(DIALOG["controls"]))
    names = {"BUTTON": BUTTON, "STATIC": STATIC}
    for n, (got, want) in enumerate(zip(d["controls"], DIALOG["controls"]), 1):
        control_id, window_class, title, style, x, y, cx, cy = want
        where = "control %d" % n
        expect(where + " help id", got["help_id"], 0)
        expect(where + " extended style", got["ex_style"], 0, True)
        expect(where + " style", got["style"], style, True)
        expect(where + " position and size", (got["x"], got["y"], got["cx"], got["cy"]),
               (x, y, cx, cy))
        expect(where + " id", got["id"], control_id)
        got_class = got["window_class"]
        if isinstance(got_class, str):
            got_class = names.get(got_class.upper(), got_class)
        expect(where + " class", got_class, window_class)
        expect(where + " text", got["title"], title)


def parse_menu(data):
    r = Reader(data)
    version, header_size = r.take("HH")
    if version != 0:
        raise Failure("menu template version %d (an extended menu?)" % version)
    r.pos += header_size

    def level():
        items = []
        while True:
            flags = r.take("H")
            if flags & MF_POPUP:
                text = r.text()
                items.append((flags, None, text, level()))
            else:
                item_id = r.take("H")
                items.append((flags, item_id, r.text(), None))
            if flags & MF_END:
                return items
    return level()


def compare_menu(where, got, want):
    expect(where + " entry count", len(got), len(want))
    for n, (item, wanted) in enumerate(zip(got, want), 1):
        flags, item_id, text, children = item
        place = "%s entry %d" % (where, n)
        last = n == len(want)
        if bool(flags & MF_END) != last:
            raise Failure("%s: end flag %s" % (place, "missing" if last else "set early"))
        state = flags & ~(MF_END | MF_POPUP)
        if isinstance(wanted[1], list):
            if children is None:
                raise Failure("%s: expected the popup %r" % (place, wanted[0]))
            expect(place + " flags", state, 0)
            expect(place + " text", text, wanted[0])
            compare_menu("%s %r" % (where, text), children, wanted[1])
        else:
            if children is not None:
                raise Failure("%s: unexpected popup %r" % (place, text))
            if wanted == SEPARATOR:
                if state not in (0, MF_SEPARATOR):
                    raise Failure("%s: separator flags 0x%X" % (place, state))
            else:
                expect(place + " flags", state, 0)
            expect(place + " (id, text)", (item_id, text), wanted)


def check_menu(table, menu_id):
    compare_menu("menu %d" % menu_id, parse_menu(one_resource(table, RT_MENU, menu_id)),
                 MENUS[menu_id])


def check_icons(table):
    for group_id, size in sorted(ICON_SIZES.items()):
        r = Reader(one_resource(table, RT_GROUP_ICON, group_id))
        reserved, kind, count = r.take("HHH")
        expect("icon %d header" % group_id, (reserved, kind), (0, 1))
        expect("icon %d image count" % group_id, count, 1)
        width, height, colours, _, planes, bits, length, image_id = r.take("BBBBHHIH")
        where = "icon %d" % group_id
        expect(where + " size", (width, height), (size, size))
        expect(where + " colour count (0 stands for 256)", colours, 0)
        expect(where + " bits per pixel", bits, 8)
        image = one_resource(table, RT_ICON, image_id)
        expect(where + " image length", len(image), length)
        if image.startswith(b"\x89PNG"):
            raise Failure(where + " image is PNG")
        header = Reader(image).take("IiiHHI")
        bi_size, bi_width, bi_height, bi_planes, bi_bits, bi_compression = header
        expect(where + " bitmap header", (bi_size, bi_width, bi_height, bi_planes, bi_bits,
                                          bi_compression), (40, size, 2 * size, 1, 8, 0))
        xor = size * ((size + 3) & ~3)
        mask = size * (((size + 31) // 32) * 4)
        if len(image) < 40 + 256 * 4 + xor + mask:
            raise Failure("%s image holds %d bytes, too few for 256 colours" % (where,
                                                                                  len(image)))


def parse_version_node(r, end):
    """One node of a version resource: (key, value bytes, children)."""
    start = r.pos
    length, value_length, value_type = r.take("HHH")
    key = r.text()
    r.align(4)
    value_bytes = value_length * 2 if value_type == 1 else value_length
    value = r.data[r.pos:r.pos + value_bytes]
    r.pos += value_bytes
    children = []
    stop = min(start + length, end)
    r.align(4)
    while r.pos < stop:
        children.append(parse_version_node(r, stop))
        r.align(4)
    r.pos = start + length
    return key, value, children


def check_version(table):
    data = one_resource(table, RT_VERSION, 1)
    key, fixed, children = parse_version_node(Reader(data), len(data))
    expect("version root key", key, "VS_VERSION_INFO")
    if len(fixed) < 52:
        raise Failure("no VS_FIXEDFILEINFO")
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed)
    expect("VS_FIXEDFILEINFO signature", signature, 0xFEEF04BD, True)

    def quad(ms, ls):
        return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    expect("file version", quad(file_ms, file_ls), VERSION["file"])
    expect("product version", quad(product_ms, product_ls), VERSION["product"])
    blocks = dict((k, c) for k, _, c in children)
    if "StringFileInfo" not in blocks or "VarFileInfo" not in blocks:
        raise Failure("blocks are %s" % sorted(blocks))
    tables = blocks["StringFileInfo"]
    if len(tables) != 1 or tables[0][0] not in VERSION["blocks"]:
        raise Failure("string tables %s, expected one of %s"
                      % ([t[0] for t in tables], VERSION["blocks"]))
    strings = {}
    for name, value, _ in tables[0][2]:
        strings[name] = value.decode("utf-16-le").rstrip("\0")
    for name, wanted in VERSION["strings"].items():
        expect("version string " + name, strings.get(name), wanted)
    translations = [v for k, v, _ in blocks["VarFileInfo"] if k == "Translation"]
    if not translations or len(translations[0]) < 4:
        raise Failure("no Translation value")
    languages = struct.unpack("<%dH" % (len(translations[0]) // 2), translations[0])[0::2]
    if VERSION["translation_language"] not in languages:
        raise Failure("Translation languages %s lack 0x409" % [hex(x) for x in languages])


def check_languages(table):
    icon_images = set()
    for group_id in ICON_SIZES:
        for _, data in table.get((RT_GROUP_ICON, group_id), []):
            r = Reader(data)
            r.take("HH")
            for _ in range(r.take("H")):
                icon_images.add(r.take("BBBBHHIH")[-1])
    wanted = {(RT_DIALOG, IDD_COMMANDDIALOG), (RT_MENU, IDR_TRAYMENU),
              (RT_MENU, IDR_DIALOGMENU), (RT_GROUP_ICON, IDI_SMALL), (RT_GROUP_ICON, IDI_MAIN),
              (RT_VERSION, 1)} | {(RT_ICON, i) for i in icon_images}
    extra = sorted(set(table) - wanted, key=str)
    missing = sorted(wanted - set(table), key=str)
    if extra or missing:
        raise Failure("unexpected resources %s, missing %s" % (extra, missing))
    for key, entries in sorted(table.items(), key=str):
        for language, _ in entries:
            if language != LANG_EN_US:
                raise Failure("resource %s has language %d" % (key, language))


# --- driver ---

class Report:
    def __init__(self):
        self.passed = 0
        self.failed = 0

    def run(self, name, check, *args):
        try:
            check(*args)
        except Failure as failure:
            self.fail(name, failure)
        else:
            self.passed += 1
            print("ok - %s" % name)

    def fail(self, name, reason):
        self.failed += 1
        print("not ok - %s: %s" % (name, reason))


def check_file(report, path, allowed):
    name = os.path.basename(path)
    try:
        pe = pefile.PE(path)
    except (OSError, pefile.PEFormatError) as error:
        report.fail(name + " readable PE", error)
        return
    report.run(name + " PE header", check_header, pe)
    report.run(name + " section layout", check_layout, pe, path)
    report.run(name + " imports", check_imports, pe, allowed)
    report.run(name + " functions looked up by name", check_lookups, pe, path, allowed,
               LOOKED_UP.get(name.upper(), set()))
    report.run(name + " instruction set", check_instructions, path)
    limit = SIZE_LIMITS.get(name.upper())
    if limit is not None:
        size = os.path.getsize(path)
        report.run(name + " size and name", check_size, path, size, limit)
        print("# %s: %d bytes (limit %d)" % (name, size, limit))
    if name.upper() == "TARNWICK.EXE":
        table = resource_table(pe)
        report.run(name + " resource set and languages", check_languages, table)
        report.run(name + " dialog %d" % IDD_COMMANDDIALOG, check_dialog, table)
        for menu_id in sorted(MENUS):
            report.run(name + " menu %d" % menu_id, check_menu, table, menu_id)
        report.run(name + " icons", check_icons, table)
        report.run(name + " version block", check_version, table)


def main(paths):
    if not paths:
        sys.stderr.write(__doc__)
        return 2
    report = Report()
    allowed = load_allowed()
    for path in paths:
        check_file(report, path, allowed)
    print("binary: %d passed, %d failed" % (report.passed, report.failed))
    return 1 if report.failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
