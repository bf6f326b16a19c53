#!/usr/bin/python3
"""Lays out program folders, runs the archive step on them under Wine (through
archive_probe.exe) and reads every archive back with readers we did not write:
Info-ZIP unzip, 7-Zip (7zz), bsdtar (libarchive) and Python's zipfile.

What is expected comes from the folders as laid out here (content, last-write
time) and from the raw folder listings the probe takes before the step (the
order the file system enumerates, the attribute bits Windows reports); the
walk order is derived from those listings independently of the code under test.

    check_archives.py --wine-run W --probe P --work DIR [--large] [--huge]
"""
import argparse
import calendar
import json
import os
import random
import re
import shutil
import stat
import struct
import subprocess
import sys
import time
import zipfile
import zlib

# Daylight saving time differs between the two fixture dates, so a
# conversion with today's bias instead of the file's own shows up.
TZ = "Europe/Berlin"
os.environ["TZ"] = TZ
time.tzset()
READER_ENV = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8", TZ=TZ)

HIDDEN, SYSTEM, READONLY, DIRECTORY = 0x2, 0x4, 0x1, 0x10
DOS_MIN = (1980, 1, 1, 0, 0, 0)
DOS_MAX = (2107, 12, 31, 23, 59, 58)
HUGE_ROOM = 16 * 1024 ** 3  # free space the huge scenario asks for: about twice what it writes

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what, flush=True)
    return ok


def win(path):
    """The Windows name of a Unix path (drive Z: is the Unix root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def _utc(y, mo, d, h, mi, s):
    return calendar.timegm((y, mo, d, h, mi, s, 0, 0, 0))


def dos_time(mtime):
    """MS-DOS date and time of a Unix time as the local wall clock showed it."""
    t = time.localtime(mtime)
    local = (t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec - t.tm_sec % 2)
    return min(max(local, DOS_MIN), DOS_MAX)


def dos_epoch(dos):
    """The Unix time of a DOS time taken as local wall-clock time."""
    return int(time.mktime(dos + (0, 0, -1)))


class Tree:
    """A folder laid out on disk: files with content and last-write time, and
    the attribute bits to set from the Windows side."""

    def __init__(self, root):
        self.root = root
        self.files = {}      # relative path ("/" separated) -> bytes
        self.mtimes = {}     # relative path -> Unix time
        self.attribs = []    # (relative path, bits)
        os.makedirs(root)

    def folder(self, rel, attrib=0):
        os.makedirs(os.path.join(self.root, rel), exist_ok=True)
        if attrib:
            self.attribs.append((rel, attrib))

    def file(self, rel, content, mtime=None, attrib=0):
        path = os.path.join(self.root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content)
        mtime = mtime if mtime is not None else _utc(2023, 3, 14, 9, 26, 53)
        os.utime(path, (mtime, mtime))
        self.files[rel] = content
        self.mtimes[rel] = mtime
        if attrib:
            self.attribs.append((rel, attrib))

    def commands(self):
        return ["attrib\t%x\t%s" % (bits, win(os.path.join(self.root, rel))) for rel, bits in self.attribs]


def program_bytes(rng, size):
    """Something like a program file: runs of code-like bytes, tables, text."""
    out = bytearray(b"MZ\x90\x00\x03\x00\x00\x00\x04\x00\x00\x00\xff\xff\x00\x00")
    words = [b"GetProcAddress", b"LoadLibraryW", b"Velmora", b"Zeugnis", b"\x00\x00\x00\x00"]
    while len(out) < size:
        kind = rng.random()
        if kind < 0.5:
            out += bytes(rng.choice((0x48, 0x89, 0x8b, 0xe8, 0xc3, 0x55, 0x5d, rng.randrange(256))) for _ in range(64))
        elif kind < 0.8:
            out += rng.choice(words) + b"\x00"
        else:
            out += struct.pack("<8I", *(rng.randrange(1 << 16) for _ in range(8)))
    return bytes(out[:size])


def text_bytes(rng, size):
    words = ["Zeugnis", "Schüler", "Klasse", "Note", "Fach", "Halbjahr", "Bemerkung", "Versetzung",
             "Deutsch", "Mathematik", "Englisch", "gut", "befriedigend", "sehr", "<p>", "</p>", "\r\n"]
    out = []
    n = 0
    while n < size:
        w = rng.choice(words) + " "
        out.append(w)
        n += len(w.encode())
    return "".join(out).encode()[:size]


# --- the expected archive --------------------------------------------------

def walk_listing(listings, top):
    """Entry names in the order the step must add them: below each folder,
    every sub-folder first (depth first, in listing order, hidden and system
    ones too), then the files lying directly in it."""
    base = top[: top.rstrip("\\").rfind("\\") + 1]
    entries = []

    def walk(d):
        for name, attr in listings[d]:
            if attr & DIRECTORY:
                walk(d + "\\" + name)
        for name, attr in listings[d]:
            if not attr & DIRECTORY:
                entries.append(((d + "\\" + name)[len(base):].replace("\\", "/"), attr))

    walk(top)
    return entries


class Expected:
    """One entry: name, content (or size, CRC and a chunk reader for
    generated content), DOS time, attributes."""

    def __init__(self, name, attr, mtime, content=None, size=None, crc=None, chunks=None):
        self.name, self.attr, self.dos = name, attr, dos_time(mtime)
        self.content = content
        self.size = len(content) if content is not None else size
        self.crc = zlib.crc32(content) if content is not None else crc
        self.chunks = chunks  # for content too large to hold: yields the bytes in pieces

    @property
    def zip64(self):
        # Sizes near 4 GiB get Zip64 fields whatever deflate makes of them; the
        # fixtures stay far from that border on either side.
        return self.size > 0xF0000000


def expected_entries(tree, listings, top_win, skip=()):
    out = []
    for name, attr in walk_listing(listings, top_win):
        rel = name.split("/", 1)[1]
        if rel in skip:
            continue
        out.append(Expected(name, attr, tree.mtimes[rel], content=tree.files[rel]))
    return out


# --- the readers -----------------------------------------------------------

def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, env=READER_ENV, **kw)


def check_structure(path, expected):
    """Our own look at the records the readers might forgive: the local header
    carries CRC and sizes (bit 3 clear), local and central version needed agree,
    Zip64 fields stand exactly where they are needed."""
    with open(path, "rb") as f:
        data_len = f.seek(0, 2)
        f.seek(max(0, data_len - 22))
        eocd = f.read(22)
        check(eocd[:4] == b"PK\x05\x06" and eocd[20:22] == b"\x00\x00", "%s: end record at the very end, no comment" % path)
        _, _, _, count16, dir_size32, dir_off32, _ = struct.unpack("<HHHHIIH", eocd[4:22])
        has_locator = False
        if data_len >= 42:
            f.seek(data_len - 42)
            has_locator = f.read(4) == b"PK\x06\x07"
        n = len(expected)
        needs64 = n >= 0xFFFF or dir_off32 == 0xFFFFFFFF or dir_size32 == 0xFFFFFFFF
        check(has_locator == needs64, "%s: Zip64 end records present exactly when needed (%s)" % (path, needs64))
        if has_locator:
            f.seek(data_len - 42)
            _, _, rec_off, _ = struct.unpack("<IIQI", f.read(20))
            f.seek(rec_off)
            rec = f.read(56)
            sig, _, _, _, _, _, entries_disk, entries, dir_size, dir_off = struct.unpack("<IQHHIIQQQQ", rec)
            check(sig == 0x06064B50 and entries == n == entries_disk, "%s: Zip64 end record counts %d" % (path, n))
        else:
            entries, dir_size, dir_off = count16, dir_size32, dir_off32
            check(entries == n, "%s: end record counts %d entries, not %d" % (path, entries, n))
        f.seek(dir_off)
        central = f.read(dir_size)
        pos = 0
        for i, e in enumerate(expected):
            (sig, made, need, flags, method, t, d, crc, csz, usz, nlen, xlen, clen, disk, iattr, xattr,
             off) = struct.unpack("<IHHHHHHIIIHHHHHII", central[pos:pos + 46])
            name = central[pos + 46:pos + 46 + nlen]
            extra = central[pos + 46 + nlen:pos + 46 + nlen + xlen]
            pos += 46 + nlen + xlen + clen
            where = "%s: %s" % (path, e.name)
            check(sig == 0x02014B50 and made == 20 and flags == 0x0800 and method == 8 and clen == 0
                  and disk == 0 and iattr == 0, where + ": central record fields")
            check(name == e.name.encode(), where + ": central name")
            fields = list(struct.unpack("<%dQ" % ((len(extra) - 4) // 8), extra[4:])) if extra else []
            if extra:
                check(struct.unpack("<HH", extra[:4]) == (1, len(extra) - 4), where + ": only a Zip64 extra")
            if e.zip64:
                check(csz == usz == 0xFFFFFFFF and len(fields) >= 2 and fields[0] == e.size, where + ": Zip64 sizes")
                usz, csz = fields[0], fields[1]
                fields = fields[2:]
            if off == 0xFFFFFFFF:
                check(len(fields) == 1, where + ": Zip64 offset")
                off = fields[0]
            else:
                check(fields == [], where + ": no Zip64 fields beyond need")
            zip64_entry = e.zip64 or off >= 0xFFFFFFFF
            check(need == (45 if zip64_entry else 20), where + ": version needed %d" % need)
            f.seek(off)
            lh = f.read(30)
            (lsig, lneed, lflags, lmethod, lt, ld, lcrc, lcsz, lusz, lnlen, lxlen) = struct.unpack("<IHHHHHIIIHH", lh)
            lname = f.read(lnlen)
            lextra = f.read(lxlen)
            check(lsig == 0x04034B50 and lneed == need and lflags == 0x0800 and lmethod == 8
                  and (lt, ld) == (t, d) and lcrc == crc and lname == name, where + ": local header agrees")
            if e.zip64:
                check(lcsz == lusz == 0xFFFFFFFF and lxlen == 20
                      and struct.unpack("<HHQQ", lextra) == (1, 16, usz, csz), where + ": local Zip64 sizes")
            else:
                check(lxlen == 0 and (lcsz, lusz) == (csz, usz), where + ": local sizes")
        check(pos == len(central), "%s: central directory holds nothing else" % path)


def check_python(path, expected):
    with zipfile.ZipFile(path) as z:
        infos = z.infolist()
        check([i.filename for i in infos] == [e.name for e in expected],
              "%s: zipfile names in order\n  got  %s\n  want %s" % (path, [i.filename for i in infos], [e.name for e in expected]))
        for i, e in zip(infos, expected):
            where = "%s: zipfile %s" % (path, e.name)
            check(i.flag_bits == 0x0800 and i.compress_type == 8 and i.create_version == 20
                  and i.create_system == 0, where + ": flags, method, made by")
            check(i.file_size == e.size and i.CRC == e.crc, where + ": size %d crc %08x" % (i.file_size, i.CRC))
            check(i.date_time == e.dos, where + ": time %s, want %s" % (i.date_time, e.dos))
            check(i.external_attr == e.attr, where + ": attributes %x, want %x" % (i.external_attr, e.attr))
            with z.open(i) as r:  # zipfile checks the CRC at the end of the stream
                if e.content is not None:
                    check(r.read() == e.content, where + ": content")
                else:
                    same = True
                    for piece in e.chunks():
                        same = same and r.read(len(piece)) == piece
                    check(same and r.read(1) == b"", where + ": content")


def unzip_sees(name):
    """Whether Info-ZIP unzip 6.0 shows the name as stored. It ignores the UTF-8
    flag of entries made on an MS-DOS host (made-by 20) and reads their names
    through the OEM code page, so only plain ASCII names come through as they
    are; the other readers take the flag."""
    return name.isascii()


def check_unzip(path, expected):
    t = run(["unzip", "-t", path])
    if expected:
        check(t.returncode == 0 and b"No errors detected" in t.stdout, "%s: unzip -t\n%s%s" % (path, t.stdout.decode(errors="replace")[-2000:], t.stderr.decode(errors="replace")))
    else:
        check(b"zipfile is empty" in t.stdout + t.stderr, "%s: unzip -t sees an empty archive" % path)
    z = run(["unzip", "-Zv", path])
    blocks = re.split(r"\nCentral directory entry #\d+:\n-+\n\n", z.stdout.decode("utf-8", errors="surrogateescape"))[1:]
    check(len(blocks) == len(expected), "%s: unzip -Zv lists %d entries" % (path, len(blocks)))
    months = {m: i + 1 for i, m in enumerate("Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec".split())}
    for b, e in zip(blocks, expected):
        where = "%s: unzip -Zv %s" % (path, e.name)
        name = b.split("\n", 1)[0].strip()
        if unzip_sees(e.name):
            check(name == e.name, where + ": name %r" % name)
        field = lambda label: re.search(re.escape(label) + r"\s+(.*)", b).group(1).strip()
        check(field("extended local header:") == "no", where + ": no data descriptor")
        offset = int(field("offset of local header from start of archive:").split()[0])
        need = "4.5" if e.zip64 or offset >= 0xFFFFFFFF else "2.0"
        check(field("minimum software version required to extract:") == need, where + ": version needed")
        y, mon, d, hms = field("file last modified on (DOS date/time):").split()
        got = (int(y), months[mon], int(d)) + tuple(int(x) for x in hms.split(":"))
        check(got == e.dos, where + ": time %s, want %s" % (got, e.dos))
        check(int(field("32-bit CRC value (hex):"), 16) == e.crc, where + ": crc")
        check(int(field("uncompressed size:").split()[0]) == e.size, where + ": size")
        attr = int(re.search(r"MS-DOS file attributes \((\w+) hex\)", b).group(1), 16)
        check(attr == e.attr & 0xFF, where + ": attributes %x, want %x" % (attr, e.attr & 0xFF))


def seven_letters(attr):
    # 7-Zip writes one letter per set bit, lowest bit first.
    return "".join(c for bit, c in enumerate("RHS8DAdNTsLCOIEV") if attr >> bit & 1)


def check_7z(path, expected):
    t = run(["7zz", "t", path])
    check(t.returncode == 0 and b"Everything is Ok" in t.stdout, "%s: 7zz t\n%s" % (path, t.stdout.decode(errors="replace")[-2000:]))
    listing = run(["7zz", "l", "-slt", path]).stdout.decode("utf-8")
    entries = listing.split("\n----------\n", 1)[1] if "\n----------\n" in listing else ""
    blocks = [b for b in entries.split("\n\n") if b.startswith("Path = ")]
    check(len(blocks) == len(expected), "%s: 7zz lists %d entries" % (path, len(blocks)))
    for b, e in zip(blocks, expected):
        f = dict(line.split(" = ", 1) for line in b.splitlines() if " = " in line)
        where = "%s: 7zz %s" % (path, e.name)
        check(f.get("Path") == e.name, where + ": path %r" % f.get("Path"))
        check(int(f["Size"]) == e.size and int(f["CRC"] or "0", 16) == e.crc, where + ": size and crc")
        check(f.get("Attributes") == seven_letters(e.attr), where + ": attributes %r, want %r" % (f.get("Attributes"), seven_letters(e.attr)))
        check(f.get("Method") == "Deflate" and "UTF8" in f.get("Characteristics", ""), where + ": method, UTF-8 name")
        check(f.get("Modified") == "%04d-%02d-%02d %02d:%02d:%02d" % e.dos, where + ": time %r" % f.get("Modified"))


def check_bsdtar(path, expected):
    t = run(["bsdtar", "-tf", path])
    names = t.stdout.decode("utf-8").splitlines()
    check(t.returncode == 0 and names == [e.name for e in expected], "%s: bsdtar -tf names in order" % path)


def extracted_time(reader, dos):
    """The Unix time a reader gives an extracted file of this DOS time. unzip
    and bsdtar read it with the time zone rules of its own date; 7-Zip, as
    Windows programs traditionally do, with the offset in force today. unzip
    6.0 gets times after 2100 wrong, so those are not compared."""
    if reader == "7zz":
        return calendar.timegm(dos + (0, 0, 0)) - time.localtime().tm_gmtoff
    if reader == "unzip" and dos[0] >= 2100:
        return None
    return dos_epoch(dos)


def check_extracted(path, expected, scratch):
    """Each reader unpacks the archive; the files must match byte for byte
    and carry the archived time."""
    commands = {
        "unzip": ["unzip", "-q", "-o", path, "-d"],
        "7zz": ["7zz", "x", "-y", "-bd", path],
        "bsdtar": ["bsdtar", "-x", "-f", path, "-C"],
    }
    for reader, cmd in commands.items():
        out = os.path.join(scratch, reader)
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)
        cmd = cmd + (["-o" + out] if reader == "7zz" else [out])
        r = run(cmd)
        if expected:
            check(r.returncode == 0, "%s: %s extracts\n%s" % (path, reader, (r.stdout + r.stderr).decode(errors="replace")[-1500:]))
        shown = [e for e in expected if reader != "unzip" or unzip_sees(e.name)]
        for e in shown:
            p = os.path.join(out, *e.name.split("/"))
            where = "%s: %s extracted %s" % (path, reader, e.name)
            if not check(os.path.isfile(p), where + ": present"):
                continue
            with open(p, "rb") as f:
                check(f.read() == e.content, where + ": content")
            want = extracted_time(reader, e.dos)
            if want is not None:
                check(int(os.stat(p).st_mtime) == want, where + ": time %d, want %d" % (os.stat(p).st_mtime, want))
        if len(shown) < len(expected):
            # Names unzip cannot show: the same contents under other names.
            known = {os.path.join(out, *e.name.split("/")) for e in shown}
            contents = [open(os.path.join(d, f), "rb").read() for d, _, files in os.walk(out) for f in files
                        if os.path.join(d, f) not in known]
            others = [e.content for e in expected if not unzip_sees(e.name)]
            check(sorted(contents) == sorted(others), "%s: unzip extracts the non-ASCII named files" % path)
        found = sum(len(files) for _, _, files in os.walk(out))
        check(found == len(expected), "%s: %s extracts %d files" % (path, reader, found))
        shutil.rmtree(out, ignore_errors=True)


def check_archive(path, expected, scratch, extract=True):
    print("checking %s (%d entries)" % (path, len(expected)), flush=True)
    check_structure(path, expected)
    check_python(path, expected)
    check_unzip(path, expected)
    check_7z(path, expected)
    check_bsdtar(path, expected)
    if extract:
        check_extracted(path, expected, scratch)


# --- running the step --------------------------------------------------------

def run_probe(args, exe, commands, work, tag):
    cmd_file = os.path.join(work, tag + ".commands.txt")
    res_file = os.path.join(work, tag + ".results.jsonl")
    with open(cmd_file, "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(commands) + "\n")
    env = dict(os.environ, TZ=TZ)
    started = time.time()
    p = subprocess.run([args.wine_run, exe, win(cmd_file), win(res_file)], env=env, capture_output=True)
    print("probe %s: exit %d after %.1f s" % (tag, p.returncode, time.time() - started), flush=True)
    if not check(p.returncode == 0 and os.path.exists(res_file), "probe %s ran\n%s" % (tag, p.stderr.decode(errors="replace")[-3000:])):
        return []
    with open(res_file, encoding="utf-8") as f:
        return [json.loads(line) for line in f if line.strip()]


def listings_of(results):
    return {r["list"]: r["entries"] for r in results if "list" in r}


def saves_of(results):
    return {r["save"]: r["result"] for r in results if "save" in r}


def check_after_step(name, target, temp, had_ini, ini_bytes=None):
    # Read-only files included: the deletion clears the bit first.
    left = sorted(os.listdir(target))
    # The in-progress mark stays until the run ends; the step alone leaves it.
    want = sorted(["vlmaltinst.zip", "vlmaltinst.lauf"] + (["VelmStart.ini"] if had_ini else []))
    check(left == want, "%s: the folder holds %s after the step, want %s" % (name, left, want))
    check(os.listdir(temp) == [], "%s: the temporary folder holds %s after the step" % (name, os.listdir(temp)))
    if had_ini:
        with open(os.path.join(target, "VelmStart.ini"), "rb") as f:
            check(f.read() == ini_bytes, "%s: the start ini stayed unchanged" % name)


def small_scenarios(args, work):
    rng = random.Random(20240611)
    winter = _utc(2021, 1, 15, 10, 20, 31)   # odd seconds: DOS keeps two-second steps
    summer = _utc(2022, 7, 1, 12, 0, 59)
    ini = b"[Setup]\r\nIniPfad=C:\\ProgramData\\Brellix\\Velmora\\\r\n"
    commands = []
    cases = {}

    # The example folder of the step: a hidden folder, an empty folder, the
    # start ini, and an archive left by an earlier run.
    ex = Tree(os.path.join(work, "example", "Prog"))
    ex.file("Velmora10.EXE", program_bytes(rng, 400_000), winter)
    ex.file("VelmStart.ini", ini, summer)
    earlier = os.path.join(work, "earlier.zip")
    with zipfile.ZipFile(earlier, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("Prog/Velmora10.EXE", b"old program")
    ex.file("vlmaltinst.zip", open(earlier, "rb").read())
    ex.file("Hilfe/index.htm", text_bytes(rng, 50_000))
    ex.file("Hilfe/Bilder/logo.png", rng.randbytes(20_000))
    ex.folder("Cache", HIDDEN)
    ex.file("Cache/x.tmp", b"cache")
    ex.folder("Leer")
    cases["example"] = (ex, True)

    empty = Tree(os.path.join(work, "empty", "Leer"))
    cases["empty"] = (empty, False)

    # Names in several scripts, zero-byte, read-only, hidden and system files,
    # a hidden and system folder, times around the DOS limits, and files larger
    # than the write buffer, so that headers are patched on disk.
    def names_tree(root):
        t = Tree(root)
        t.file("Prüfung_äöü_ß.txt", "Grüße aus Köln\r\n".encode() * 50, winter)
        t.file("Отчёт об успеваемости.txt", "Четверть: отлично\n".encode() * 30, summer)
        t.file("成绩单.txt", "语文 优秀\n".encode() * 40, summer)
        t.file("🎓 Abschluss.txt", b"astral plane", winter)
        t.file("Ärzte/Бланки/表格/Vorlage.rtf", text_bytes(rng, 9_000), winter)
        t.file("Ärzte/Бланки/leer.dat", b"", summer)
        t.file("leer.dat", b"", winter)
        t.file("schreibgeschützt.ini", ini, summer, attrib=READONLY)
        t.file("versteckt.dat", b"hidden", winter, attrib=HIDDEN)
        t.file("system.dat", b"system", winter, attrib=SYSTEM)
        t.folder("Geheim", HIDDEN | SYSTEM)
        t.file("Geheim/inhalt.txt", b"inside a hidden folder", summer)
        t.file("Geheim/Tiefer/noch.txt", b"deeper", summer)
        t.file("alt.dat", b"from 1975", _utc(1975, 5, 5, 5, 5, 5))
        t.file("achtzig.dat", b"from 1980", _utc(1980, 7, 15, 10, 30, 41))
        t.file("zukunft.dat", b"from 2110", _utc(2110, 1, 1, 12, 0, 0))
        t.file("Daten/zufall.bin", rng.randbytes(3 * 1024 * 1024 + 17), summer)
        t.file("Daten/text.txt", text_bytes(rng, 5 * 1024 * 1024), winter)
        t.folder("Daten/leer")
        return t

    cases["names"] = (names_tree(os.path.join(work, "names", "Zeugnisse 2024")), False)

    for name, (tree, _) in cases.items():
        temp = os.path.join(work, name, "temp")
        os.makedirs(temp)
        commands += tree.commands()
        commands += ["list\t" + win(tree.root), "temp\t" + win(temp)]
        if name == "names":
            # The same folder through a 97-byte buffer: every header straddles
            # or lands behind a buffer boundary.
            commands.append("zip\t%s\t%s\t97" % (win(tree.root), win(os.path.join(work, "tinybuffer.zip"))))
            commands.append("zip\t%s\t%s" % (win(tree.root), win(os.path.join(work, "names-zip.zip"))))
        commands.append("save\t" + win(tree.root))
    results = run_probe(args, args.probe, commands, work, "small")
    listings, saves = listings_of(results), saves_of(results)
    report_errors(results)
    for r in results:
        if "attrib" in r:
            check(r["ok"], "attribute set on %s" % r["attrib"])

    for name, (tree, had_ini) in cases.items():
        top = win(tree.root)
        check(saves.get(top) == 0, "%s: step result %s" % (name, saves.get(top)))
        if top not in listings:
            continue
        expected = expected_entries(tree, listings, top)
        temp = os.path.join(work, name, "temp")
        if saves.get(top) == 0:
            check_after_step(name, tree.root, temp, had_ini, ini)
        check_archive(os.path.join(tree.root, "vlmaltinst.zip"), expected, os.path.join(work, "x"))
        if name == "example":
            # The walk order of the example, with the file system listing names
            # alphabetically as Wine does; the hidden folder is archived too.
            check([e.name for e in expected] == [
                "Prog/Cache/x.tmp", "Prog/Hilfe/Bilder/logo.png", "Prog/Hilfe/index.htm",
                "Prog/Velmora10.EXE", "Prog/VelmStart.ini", "Prog/vlmaltinst.zip"],
                "example: entry order %s" % [e.name for e in expected])
            attrs = {e.name: e.attr for e in expected}
            check(attrs and all(a & 0x20 for a in attrs.values()), "example: archive bit reported for plain files")
        if name == "names":
            attrs = {e.name.split("/", 1)[1]: e.attr for e in expected}
            for rel, bits in tree.attribs:
                if rel in attrs:
                    check(attrs[rel] & bits == bits, "names: %s carries attribute bits %x (%x)" % (rel, bits, attrs[rel]))
            check(any(n.startswith("Geheim/") for n in attrs), "names: the hidden system folder is archived")
            for extra in ("tinybuffer.zip", "names-zip.zip"):
                check_archive(os.path.join(work, extra), expected, os.path.join(work, "x"), extract=(extra == "tinybuffer.zip"))
            with open(os.path.join(work, "tinybuffer.zip"), "rb") as a, open(os.path.join(work, "names-zip.zip"), "rb") as b:
                check(a.read() == b.read(), "names: the buffer size does not change a byte of the archive")
            with open(os.path.join(work, "names-zip.zip"), "rb") as a, open(os.path.join(tree.root, "vlmaltinst.zip"), "rb") as b:
                check(a.read() == b.read(), "names: the step's archive is the walk's archive")


def self_scenarios(args, work):
    """The running program inside the folder: skipped when its path is the
    same text, archived like any other file when it differs in letter case."""
    for name, spelled in (("Selbst", "Selbst"), ("Fall", "FALL")):
        tree = Tree(os.path.join(work, "self-" + name, name))
        tree.file("daten.txt", b"data beside the program")
        exe = os.path.join(tree.root, "archive_probe.exe")
        shutil.copyfile(args.probe, exe)
        with open(exe, "rb") as f:
            tree.files["archive_probe.exe"] = f.read()
        tree.mtimes["archive_probe.exe"] = os.stat(exe).st_mtime
        temp = os.path.join(work, "self-" + name, "temp")
        os.makedirs(temp)
        top = win(os.path.dirname(tree.root)) + "\\" + spelled
        results = run_probe(args, exe, ["temp\t" + win(temp), "list\t" + top, "save\t" + top], work, "self-" + name)
        listings, saves = listings_of(results), saves_of(results)
        check(saves.get(top) == 0, "self %s: step result %s" % (spelled, saves.get(top)))
        if top not in listings:
            continue
        skip = ("archive_probe.exe",) if spelled == name else ()
        expected = expected_entries(tree, listings, top, skip=skip)
        check(any(e.name.endswith("archive_probe.exe") for e in expected) == (not skip),
              "self %s: the program file is %s" % (spelled, "skipped" if skip else "archived"))
        check_archive(os.path.join(tree.root, "vlmaltinst.zip"), expected, os.path.join(work, "x"))


# --- large archives -----------------------------------------------------------

def zero_chunks(size, piece=1 << 24):
    def gen():
        left = size
        while left:
            n = min(piece, left)
            yield bytes(n)
            left -= n
    return gen


def crc_of_chunks(chunks):
    crc = 0
    for c in chunks():
        crc = zlib.crc32(c, crc)
    return crc


def numbered_tree(root, count):
    """count small files, a thousand to a folder."""
    tree = Tree(root)
    for n in range(count):
        folder, rel = "Ordner%02d" % (n // 1000), "Ordner%02d/d%04d.txt" % (n // 1000, n % 1000)
        if n % 1000 == 0:
            os.makedirs(os.path.join(root, folder))
        content = b"%d" % n
        fd = os.open(os.path.join(root, rel), os.O_WRONLY | os.O_CREAT | os.O_EXCL)
        os.write(fd, content)
        tree.mtimes[rel] = os.fstat(fd).st_mtime
        os.close(fd)
        tree.files[rel] = content
    return tree


def large_scenarios(args, work):
    """A file over 4 GiB through the whole step, 70,000 entries and exactly 65,535."""
    commands = []

    # Sparse, so nothing but zeros: quick to write and to deflate.
    big = Tree(os.path.join(work, "big", "Gross"))
    big_size = 4 * 1024 ** 3 + 300 * 1024 ** 2 + 7
    big_path = os.path.join(big.root, "riesig.bin")
    with open(big_path, "wb") as f:
        f.truncate(big_size)
    mtime = _utc(2022, 2, 2, 2, 2, 2)
    os.utime(big_path, (mtime, mtime))
    big.file("klein.txt", b"after the big one")
    big_temp = os.path.join(work, "big", "temp")
    os.makedirs(big_temp)
    commands += ["list\t" + win(big.root), "temp\t" + win(big_temp), "save\t" + win(big.root)]

    # Nested folders; the walk alone, since the shell's deletion of 70,000
    # files takes minutes under Wine. 65,535 entries are the fewest that need
    # the Zip64 end records, the classic count holding its sentinel.
    many = numbered_tree(os.path.join(work, "many", "Viele"), 70_000)
    edge = numbered_tree(os.path.join(work, "edge", "Grenze"), 65_535)
    many_zip, edge_zip = os.path.join(work, "many.zip"), os.path.join(work, "edge.zip")
    for tree, path in ((many, many_zip), (edge, edge_zip)):
        commands += ["list\t" + win(tree.root), "zip\t%s\t%s" % (win(tree.root), win(path))]

    results = run_probe(args, args.probe, commands, work, "large")
    listings, saves = listings_of(results), saves_of(results)
    report_errors(results)

    top = win(big.root)
    check(saves.get(top) == 0, "big: step result %s" % saves.get(top))
    if top in listings:
        chunks = zero_chunks(big_size)
        expected = []
        for name, attr in walk_listing(listings, top):
            if name.endswith("riesig.bin"):
                expected.append(Expected(name, attr, mtime, size=big_size, crc=crc_of_chunks(chunks), chunks=chunks))
            else:
                expected.append(Expected(name, attr, big.mtimes["klein.txt"], content=big.files["klein.txt"]))
        check(sorted(os.listdir(big.root)) == ["vlmaltinst.lauf", "vlmaltinst.zip"],
              "big: the folder holds only the archive and the mark")
        check_archive(os.path.join(big.root, "vlmaltinst.zip"), expected, os.path.join(work, "x"), extract=False)

    for tree, path, count in ((many, many_zip, 70_000), (edge, edge_zip, 65_535)):
        top = win(tree.root)
        if top in listings:
            expected = expected_entries(tree, listings, top)
            check(len(expected) == count, "%s: %d entries expected" % (path, count))
            check_archive(path, expected, os.path.join(work, "x"), extract=False)


def huge_scenario(args, work):
    """An archive over 4 GiB: incompressible data pushes the later entries'
    headers and the central directory past 32-bit offsets. Deflating 4 GiB that
    does not compress takes minutes, so this runs only when asked for."""
    rng = random.Random(4711)
    far = Tree(os.path.join(work, "far", "Weit"))
    block = rng.randbytes(64 * 1024 * 1024)
    far_size = 4 * 1024 ** 3 + 64 * 1024 ** 2
    far_path = os.path.join(far.root, "a_zufall.bin")
    with open(far_path, "wb") as f:
        for _ in range(far_size // len(block)):
            f.write(block)
    mtime = _utc(2022, 2, 2, 2, 2, 2)
    os.utime(far_path, (mtime, mtime))
    far.file("b_danach.txt", b"behind four gibibytes", _utc(2022, 7, 1, 12, 0, 59))
    far.file("c_leer.dat", b"")
    path = os.path.join(work, "far", "far.zip")
    top = win(far.root)
    results = run_probe(args, args.probe, ["list\t" + top, "zip\t%s\t%s" % (top, win(path))], work, "huge")
    report_errors(results)
    listings = listings_of(results)
    if top not in listings:
        return

    def far_chunks():
        for _ in range(far_size // len(block)):
            yield block

    expected = []
    for name, attr in walk_listing(listings, top):
        rel = name.split("/", 1)[1]
        if rel == "a_zufall.bin":
            expected.append(Expected(name, attr, mtime, size=far_size, crc=crc_of_chunks(far_chunks), chunks=far_chunks))
        else:
            expected.append(Expected(name, attr, far.mtimes[rel], content=far.files[rel]))
    check(os.path.getsize(path) > 4 * 1024 ** 3, "far: the archive is over 4 GiB")
    check_archive(path, expected, os.path.join(work, "x"), extract=False)


def huge_if_room(args, work):
    """The huge scenario when the work folder's disk has room for its 8.1 GiB of
    data, which is removed afterwards whatever the outcome. Returns why it was
    skipped, or None."""
    free = shutil.disk_usage(work).free
    if free < HUGE_ROOM:
        why = "SKIPPED the archive over 4 GiB: it needs %d GiB free in %s, there are %.1f GiB" % (
            HUGE_ROOM >> 30, work, free / 1024 ** 3)
        print(why, flush=True)
        return why
    try:
        huge_scenario(args, work)
    finally:
        shutil.rmtree(os.path.join(work, "far"), ignore_errors=True)
    return None


# --- deflate on worker threads ------------------------------------------------

BLOCK = 128 * 1024        # the writer cuts files larger than WHOLE into blocks of this size
WHOLE = 1024 * 1024


def mixed_bytes(rng, size):
    """Text, then noise, then text: stored and compressed blocks in one stream."""
    a, b = size // 3, size // 3
    return text_bytes(rng, a) + rng.randbytes(b) + text_bytes(rng, size - a - b)


def block_scenarios(args, work):
    """Files at and around the sizes where the writer changes how it cuts a
    file, compressible and not, among many small files and a few large ones;
    archived by the walk with 1, 2 and 4 workers and by the step itself. Every
    archive must be the same bytes, and the readers must read it back."""
    rng = random.Random(7031)
    tree = Tree(os.path.join(work, "blocks", "Werk"))
    sizes = (0, 1, BLOCK - 1, BLOCK, BLOCK + 1, 3 * BLOCK, WHOLE - 1, WHOLE, WHOLE + 1,
             WHOLE + BLOCK - 1, WHOLE + BLOCK, WHOLE + BLOCK + 1, 9 * BLOCK + 1, 20 * BLOCK)
    for size in sizes:
        tree.file("Grenzen/text_%08d.txt" % size, text_bytes(rng, size))
        tree.file("Grenzen/zufall_%08d.bin" % size, rng.randbytes(size))
    for i in range(400):
        size = rng.randint(0, 20_000)
        data = text_bytes(rng, size) if i % 3 else program_bytes(rng, size)
        tree.file("Vorlagen/%s/v%03d.%s" % ("ABCD"[i % 4], i, ("rtf", "ini", "dat")[i % 3]), data)
        if i % 100 == 50:
            tree.file("Vorlagen/%s/modul%03d.dll" % ("ABCD"[i % 4], i), mixed_bytes(rng, 3 * WHOLE + 12345))
    tree.file("Bilder/foto.jpg", rng.randbytes(5 * WHOLE + 777))
    tree.file("VelmStart.ini", b"[Setup]\r\nIniPfad=C:\\Velmora\\\r\n")

    temp = os.path.join(work, "blocks", "temp")
    os.makedirs(temp)
    top = win(tree.root)
    counts = (1, 2, 4)
    paths = [os.path.join(work, "blocks-%d.zip" % n) for n in counts]
    commands = ["list\t" + top, "temp\t" + win(temp)]
    commands += ["zip\t%s\t%s\t0\t%d" % (top, win(path), n) for path, n in zip(paths, counts)]
    commands.append("save\t" + top)
    results = run_probe(args, args.probe, commands, work, "blocks")
    report_errors(results)
    listings, saves = listings_of(results), saves_of(results)
    check([r.get("workers") for r in results if "zip" in r] == list(counts), "blocks: worker counts used")
    check(saves.get(top) == 0, "blocks: step result %s" % saves.get(top))
    if top not in listings or not all(os.path.exists(p) for p in paths):
        return
    expected = expected_entries(tree, listings, top)
    check_archive(paths[0], expected, os.path.join(work, "x"))
    with open(paths[0], "rb") as f:
        one = f.read()
    for path in paths[1:] + [os.path.join(tree.root, "vlmaltinst.zip")]:
        with open(path, "rb") as f:
            check(f.read() == one, "blocks: %s is the same bytes as with one worker" % path)
    if saves.get(top) == 0:
        check_after_step("blocks", tree.root, temp, True, tree.files["VelmStart.ini"])


class environment:
    """Sets environment variables for the processes started within."""

    def __init__(self, **values):
        self.values, self.saved = values, {}

    def __enter__(self):
        for k, v in self.values.items():
            self.saved[k] = os.environ.get(k)
            os.environ[k] = v

    def __exit__(self, *_):
        for k, v in self.saved.items():
            if v is None:
                os.environ.pop(k, None)
            else:
                os.environ[k] = v


def folder_state(root):
    state = {}
    for d, dirs, files in os.walk(root):
        for name in dirs + files:
            p = os.path.join(d, name)
            state[os.path.relpath(p, root)] = open(p, "rb").read() if os.path.isfile(p) else None
    return state


def read_error_scenario(args, work):
    """A read that fails in the middle of a large file, as on a bad disk (EIO
    injected below Wine by failing_read.c): the walk reports that file, not a
    later one; the step ends with 1 and changes nothing in the folder."""
    cc = shutil.which("cc") or shutil.which("gcc")
    if not check(cc is not None, "read error: a C compiler for the failing disk"):
        return
    shim = os.path.join(work, "failing_read.so")
    built = run([cc, "-shared", "-fPIC", "-O2", "-o", shim,
                 os.path.join(os.path.dirname(os.path.abspath(__file__)), "failing_read.c"), "-ldl"])
    if not check(built.returncode == 0, "read error: failing_read.c builds\n%s" % built.stderr.decode(errors="replace")):
        return
    rng = random.Random(99)
    tree = Tree(os.path.join(work, "readerror", "Prog"))
    tree.file("VelmStart.ini", b"[Setup]\r\n")
    for folder in ("A", "C"):
        for i in range(30):
            tree.file("%s/klein%02d.txt" % (folder, i), text_bytes(rng, 5000))
    big = os.path.join(tree.root, "B", "gross.bin")
    tree.file("B/gross.bin", rng.randbytes(6 * WHOLE))
    temp = os.path.join(work, "readerror", "temp")
    os.makedirs(temp)
    before = folder_state(tree.root)
    top = win(tree.root)
    commands = ["temp\t" + win(temp), "zip\t%s\t%s" % (top, win(os.path.join(work, "readerror.zip"))), "save\t" + top]
    with environment(LD_PRELOAD=shim, VLM_FAIL_READ_PATH=big, VLM_FAIL_READ_AT=str(3 * WHOLE + 5)):
        results = run_probe(args, args.probe, commands, work, "readerror")
    errors = [r["error"] for r in results if "error" in r]
    check(len(errors) == 1 and "gelesen" in errors[0] and errors[0].rstrip().split(" (")[0].endswith("gross.bin"),
          "read error: the walk fails on the file that cannot be read: %s" % errors)
    check(saves_of(results).get(top) == 1, "read error: step result %s" % saves_of(results).get(top))
    check(folder_state(tree.root) == before, "read error: the folder is unchanged")
    check(os.listdir(temp) == [], "read error: the temporary folder holds %s" % os.listdir(temp))


def report_errors(results):
    for r in results:
        if "error" in r:
            check(False, "zip of %s: %s" % (r["zip"], r["error"]))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--wine-run", required=True)
    ap.add_argument("--probe", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--large", action="store_true", help="a file over 4 GiB, 70,000 and 65,535 entries")
    ap.add_argument("--huge", action="store_true",
                    help="an archive over 4 GiB (minutes of deflate; skipped without %d GiB free)" % (HUGE_ROOM >> 30))
    args = ap.parse_args()
    for tool in ("unzip", "7zz", "bsdtar"):
        if not shutil.which(tool):
            print("missing reader:", tool)
            return 1
    work = os.path.abspath(args.work)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    skipped = None
    if args.large or args.huge:
        if args.large:
            large_scenarios(args, work)
        if args.huge:
            skipped = huge_if_room(args, work)
    else:
        small_scenarios(args, work)
        self_scenarios(args, work)
        block_scenarios(args, work)
        read_error_scenario(args, work)
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    shutil.rmtree(work, ignore_errors=True)
    print("all archives read back correctly" + ("; " + skipped if skipped else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main())
