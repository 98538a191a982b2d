#!/usr/bin/env python3
"""The disc author's tool: checks a disc layout, and makes its ISO image.

    disc.py check SOURCE [--medium cd74|cd80|dvd5] [--allow-x64]
    disc.py image SOURCE OUT.iso [--label LABEL] [--medium ...] [--allow-x64] [--force]

SOURCE is a layout folder, or for `check` also an ISO image, of which the
names Windows reads (the Joliet tree) are checked. Each finding is one line,
"PATH: error: ..." or "PATH: warning: ...", saying what to do about it.
`image` checks the layout first, makes the image with xorriso (Joliet with
long names, Rock Ridge, ISO level 3, read-only modes, fixed dates) and checks
the image again. --allow-x64 takes a 64-bit launcher for a disc meant for
64-bit Windows only (a warning instead of an error).

Exit code: 0 no error, 1 an error (or the image was not made), 2 bad input."""

import argparse
import os
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True


def system_module(name):
    """A module from Debian's packages, or None."""
    for _ in range(2):
        try:
            return __import__(name)
        except ImportError:  # they live with the system's python3
            sys.path.append("/usr/lib/python3/dist-packages")
    return None


pefile = system_module("pefile")
pycdlib = system_module("pycdlib")

LAUNCHER = ("VIEWER", "bin", "ZelvoLauncher.exe")
VIEWER = ("VIEWER", "bin", "KiroZelvo.exe")
COMPANION = ("kiro", "KiroPageHolder.exe")
AUTORUN = "[autorun], open=VIEWER\\bin\\ZelvoLauncher.exe, icon=VIEWER\\bin\\ZelvoLauncher.exe,0"
STAMP_BYTES = 260        # the launcher reads its stamp with one read of this size
MEDIA = {"cd74": (681984000, "a 74-minute CD"), "cd80": (737280000, "an 80-minute CD"),
         "dvd5": (4700372992, "a single-layer DVD")}
FOUR_GIB = 4 << 30
FORBIDDEN = set('<>:"/\\|?*') | {chr(c) for c in range(32)}
DEVICES = {"CON", "PRN", "AUX", "NUL"} | {p + str(n) for p in ("COM", "LPT") for n in range(1, 10)}
FIXED_EPOCH = 946684800  # 2000-01-01 00:00 UTC, the images' dates without SOURCE_DATE_EPOCH
DEFAULT_LABEL = "ZELVO_DISC"
MACHINES = {0x14C: "32-bit x86", 0x8664: "64-bit x86-64", 0xAA64: "ARM64"}
# Where the launcher makes copies, and the longest name a copy's folder takes
# there: staged as ".partial" or removed as ".deleting", with a fresh ".1" to
# ".9" beside a leftover of that name. A user name is taken at 20 characters,
# the longest Windows allows. Windows' file functions take a full path of at
# most 259 characters (MAX_PATH with its terminating NUL).
USER_NAME = "u" * 20
COPY_FOLDER = "Zelvo Disc 11.deleting.9"
LOCATIONS = (("Windows XP's shared folder", "C:\\Documents and Settings\\All Users\\Application Data"),
             ("Windows XP's temp folder", "C:\\Documents and Settings\\<user>\\Local Settings\\Temp"),
             ("the shared folder from Vista on", "C:\\Users\\Public\\Application Data"),
             ("the temp folder from Vista on", "C:\\Users\\<user>\\AppData\\Local\\Temp"))
DEEPEST = max(LOCATIONS, key=lambda w: len(w[1].replace("<user>", USER_NAME)))
COPY_PATH = 259 - len("%s\\%s\\" % (DEEPEST[1].replace("<user>", USER_NAME), COPY_FOLDER))


class BadInput(Exception):
    pass


def win(path):
    return "\\".join(path)


def utf16_len(text):
    return len(text.encode("utf-16-le", "surrogatepass")) // 2


def mb(n):
    return "%.1f MB" % (n / 1e6)


class Entry:
    def __init__(self, path, kind, size):
        self.path, self.kind, self.size = path, kind, size   # kind: dir, file, link, special
        self.name = path[-1] if path else ""
        self.children = []    # in the order Windows lists them from the disc


class Tree:
    """A disc's files as Windows sees them. Each folder lists its entries in
    the order of the image's Joliet directory, sorted by UTF-16 code units:
    the order in which FindFirstFileA returns them from the disc."""

    def __init__(self):
        self.root = Entry((), "dir", 0)
        self.entries = []     # every entry but the root, parents first

    def add(self, parent, name, kind, size):
        e = Entry(parent.path + (name,), kind, size)
        parent.children.append(e)
        self.entries.append(e)
        return e

    def find(self, path):
        """The entry at path, letter case ignored as on Windows; or None."""
        e = self.root
        for name in path:
            e = next((c for c in e.children if c.name.lower() == name.lower()), None)
            if e is None:
                return None
        return e


class Folder(Tree):
    def __init__(self, top):
        super().__init__()
        self.top = top
        self.walk(self.root)

    def walk(self, d):
        with os.scandir(os.path.join(self.top, *d.path)) as it:
            items = sorted(it, key=lambda i: i.name.encode("utf-16-be", "surrogatepass"))
        for i in items:
            mode = i.stat(follow_symlinks=False).st_mode
            kind = ("link" if stat.S_ISLNK(mode) else "dir" if stat.S_ISDIR(mode)
                    else "file" if stat.S_ISREG(mode) else "special")
            e = self.add(d, i.name, kind, i.stat(follow_symlinks=False).st_size if kind == "file" else 0)
            if kind == "dir":
                self.walk(e)

    def read(self, e, limit=-1):
        with open(os.path.join(self.top, *e.path), "rb") as f:
            return f.read(limit)

    def size(self):
        """About what the image will take: each file in whole 2 KiB blocks,
        two directory trees, the volume descriptors and xorriso's padding."""
        dirs = 1 + sum(e.kind == "dir" for e in self.entries)
        blocks = sum(-(-e.size // 2048) for e in self.entries)
        return (blocks + 2 * dirs + len(self.entries) // 8 + 32 + 150) * 2048


class Image(Tree):
    def __init__(self, path):
        super().__init__()
        self.bytes = os.path.getsize(path)
        self.iso = pycdlib.PyCdlib()
        self.iso.open(path)
        self.joliet = self.iso.has_joliet()
        if self.joliet:
            self.walk(self.root)

    @staticmethod
    def joliet_name(rec):
        name = rec.file_identifier().decode("utf-16-be", "surrogatepass")
        return name[:-2] if name.endswith(";1") else name

    def walk(self, d):
        for rec in self.iso.list_children(joliet_path="/" + "/".join(d.path)):
            if rec.is_dot() or rec.is_dotdot():
                continue
            if d.children and d.children[-1].name == self.joliet_name(rec) and not rec.is_dir():
                d.children[-1].size += rec.get_data_length()   # a further extent of a big file
                continue
            e = self.add(d, self.joliet_name(rec), "dir" if rec.is_dir() else "file",
                         0 if rec.is_dir() else rec.get_data_length())
            if e.kind == "dir":
                self.walk(e)

    def read(self, e, limit=-1):
        with self.iso.open_file_from_iso(joliet_path="/" + "/".join(e.path)) as f:
            return f.read() if limit < 0 else f.read(limit)

    def size(self):
        return self.bytes

    def hidden_from_windows(self):
        """Paths of the Rock Ridge tree that the Joliet tree lacks."""
        if not self.iso.has_rock_ridge():
            return []
        joliet = {win(e.path) for e in self.entries}
        missing, todo = [], [()]
        while todo:
            d = todo.pop()
            for rec in self.iso.list_children(rr_path="/" + "/".join(d)):
                if rec.is_dot() or rec.is_dotdot() or rec.rock_ridge is None:
                    continue
                path = d + (rec.rock_ridge.name().decode("utf-8", "surrogateescape"),)
                if win(path) not in joliet:
                    missing.append(win(path))
                elif rec.is_dir():
                    todo.append(path)
        return sorted(missing)


def load(source):
    """The Tree of a layout folder or an ISO image; BadInput otherwise."""
    if os.path.isdir(source):
        try:
            return Folder(source)
        except OSError as e:
            raise BadInput("cannot read the layout: %s" % e)
    try:
        with open(source, "rb") as f:
            f.seek(0x8001)
            magic = f.read(5)
    except OSError as e:
        raise BadInput("cannot read %s: %s" % (source, e.strerror))
    if magic != b"CD001":
        raise BadInput("%s is neither a folder nor an ISO image" % source)
    if pycdlib is None:
        raise BadInput("reading an image needs pycdlib: apt-get install python3-pycdlib")
    try:
        return Image(source)
    except (OSError, pycdlib.pycdlibexception.PyCdlibException) as e:
        raise BadInput("cannot read the image %s: %s" % (source, e))


class Report:
    def __init__(self, source, notes=True):
        self.source, self.notes = source, notes
        self.errors = self.warnings = 0

    def error(self, path, text):
        self.errors += 1
        print("%s: error: %s" % (path or self.source, text))

    def warning(self, path, text):
        self.warnings += 1
        print("%s: warning: %s" % (path or self.source, text))

    def note(self, text):
        if self.notes:
            print(text)


def version_numbers(text):
    """The numbers the launcher reads from a stamp: each ends at a dot or at
    the end; any byte but a digit is skipped, so the digits around it join."""
    fields = text.split(b".")
    if text.endswith(b"."):
        fields.pop()
    return [int(bytes(b for b in f if 48 <= b <= 57) or b"0") for f in fields] if text else []


def check_stamp(tree, rep):
    bin_ = tree.find(LAUNCHER[:2])
    names = [(c, c.name.lower()) for c in (bin_.children if bin_ else [])]
    stamps = [c for c, n in names if len(n) >= 11 and n.startswith("version") and n.endswith(".txt")]
    fix = "put the viewer's version, such as 3.2.0.15, into VIEWER\\bin\\Version.txt"
    if not stamps:
        rep.error("VIEWER\\bin", "no Version*.txt: copies made from this disc carry no stamp and are "
                  "copied again at every launch; " + fix)
        return
    first = stamps[0]
    for other in stamps[1:]:
        rep.warning(win(other.path), "the launcher reads only the first stamp, %s; remove this one"
                    % first.name)
    if first.kind != "file":
        rep.error(win(first.path), "the launcher's stamp is not a file, so it reads no version; " + fix)
        return
    head = tree.read(first, STAMP_BYTES + 4096)
    text = head[:STAMP_BYTES].strip(b" .\n\r\t")
    if head[STAMP_BYTES:].strip(b" .\n\r\t"):
        rep.warning(win(first.path), "the launcher reads only its first %d bytes; "
                    "put the version first" % STAMP_BYTES)
    if not text:
        rep.error(win(first.path), "no version within the first %d bytes, which is all the launcher "
                  "reads: copies made from this disc are never used; %s" % (STAMP_BYTES, fix))
        return
    shown = text.decode("cp1252", "replace")
    numbers = ".".join(map(str, version_numbers(text)))
    if any(b not in b"0123456789." for b in text):
        rep.warning(win(first.path), "the stamp %r holds more than digits and dots: the launcher reads "
                    "it as %s; write the version with digits and dots only" % (shown, numbers))
    rep.note("stamp: %s (%s)" % (numbers, win(first.path)))


def check_layout(tree, rep):
    for path, what, why in (
            (LAUNCHER, "the launcher", "put the 32-bit ZelvoLauncher.exe of a release there"),
            (VIEWER, "the viewer", "nothing can start without it"),
            (COMPANION, "the companion", "every installation of a copy from this disc fails")):
        e = tree.find(path)
        if e is None or e.kind != "file":
            rep.error(win(path), "%s is missing: %s" % (what, why))
    check_stamp(tree, rep)
    for d in [tree.root] + tree.entries:
        seen = {}
        for c in d.children:
            if c.name.lower() in seen:
                rep.error(win(c.path), "differs from %s only in letter case: Windows sees only one of "
                          "them; rename one" % seen[c.name.lower()])
            seen.setdefault(c.name.lower(), c.name)


def check_launcher(tree, rep, allow_x64):
    e = tree.find(LAUNCHER)
    if e is None or e.kind != "file":
        return
    path = win(e.path)
    if pefile is None:
        rep.warning(path, "cannot examine the launcher: apt-get install python3-pefile")
        return
    try:
        pe = pefile.PE(data=tree.read(e), fast_load=True)
    except pefile.PEFormatError as x:
        rep.error(path, "not a Windows program (%s): put the ZelvoLauncher.exe of a release there" % x)
        return
    machine = pe.FILE_HEADER.Machine
    pe.parse_data_directories([pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    strings = {}
    for block in (b for info in getattr(pe, "FileInfo", []) for b in info):
        for table in getattr(block, "StringTable", []):
            strings.update((k.decode("utf-8", "replace"), v.decode("utf-8", "replace"))
                           for k, v in table.entries.items())
    record = "; ".join("%s: %s" % kv for kv in sorted(strings.items())) or "none"
    rep.note("launcher: a %s program; version record: %s" % (MACHINES.get(machine, hex(machine)), record))
    if machine == 0x8664 and allow_x64:
        rep.warning(path, "the 64-bit launcher: this disc starts nothing on 32-bit Windows")
    elif machine == 0x8664:
        rep.error(path, "the 64-bit launcher does not start on 32-bit Windows: put the 32-bit "
                  "ZelvoLauncher.exe of a release here (or give --allow-x64 for a 64-bit-only disc)")
    elif machine != 0x14C:
        rep.error(path, "built for %s, not for 32-bit x86 Windows: put the 32-bit ZelvoLauncher.exe of "
                  "a release here" % MACHINES.get(machine, "machine 0x%04X" % machine))
    if pe.OPTIONAL_HEADER.Subsystem != 2:
        rep.error(path, "not a Windows GUI program (subsystem %d): put the ZelvoLauncher.exe of a "
                  "release here" % pe.OPTIONAL_HEADER.Subsystem)
    dirs = pe.OPTIONAL_HEADER.DATA_DIRECTORY
    security = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]
    if len(dirs) <= security or dirs[security].Size == 0:
        rep.warning(path, "not signed: Windows names no publisher for it; sign the release "
                    "(ZELVO_SIGN_PFX, see scripts/release.sh)")
    else:
        rep.note("launcher: signed (the signature is not verified here)")


def read_autorun(data):
    """The [autorun] section's keys (lower case) and values, or None when
    there is no such section."""
    if data[:2] in (b"\xff\xfe", b"\xfe\xff"):
        text = data.decode("utf-16", "replace")
    else:
        text = data.decode("cp1252", "replace")
    section, keys = None, None
    for line in text.splitlines():
        line = line.strip()
        if line.startswith("[") and line.endswith("]"):
            section = line[1:-1].strip().lower()
            if section == "autorun" and keys is None:
                keys = {}
        elif section == "autorun" and "=" in line and not line.startswith(";"):
            k, v = line.split("=", 1)
            keys.setdefault(k.strip().lower(), v.strip())
    return keys


def disc_path(text):
    """A path named in autorun.inf as a tuple of names; None when absolute."""
    text = text.strip().strip('"')
    if ":" in text or text.startswith(("\\", "/")):
        return None
    return tuple(p for p in text.replace("/", "\\").split("\\") if p)


def check_autorun(tree, rep):
    e = tree.find(("autorun.inf",))
    if e is None or e.kind != "file":
        rep.warning("autorun.inf", "missing: nothing starts when the disc is inserted; put in it: " + AUTORUN)
        return
    keys = read_autorun(tree.read(e, 65536))
    if keys is None:
        rep.error(win(e.path), "has no [autorun] section, so it starts nothing; put in it: " + AUTORUN)
        return
    value = keys.get("open", "")
    program = value[1:].split('"')[0] if value.startswith('"') else (value.split() or [""])[0]
    target = disc_path(program) if program else ()
    launcher = win(LAUNCHER)
    if not program:
        rep.error(win(e.path), "no open= line, so nothing starts; add open=" + launcher)
    elif target is None:
        rep.error(win(e.path), "open=%s names a drive or the root: the disc's drive letter differs "
                  "from machine to machine; write open=%s" % (program, launcher))
    elif tree.find(target) is None:
        rep.error(win(e.path), "open=%s names no file on the disc, so nothing starts; write open=%s"
                  % (program, launcher))
    elif win(target).lower() != launcher.lower():
        rep.error(win(e.path), "open=%s starts something else than the launcher; write open=%s"
                  % (program, launcher))
    if "icon" in keys:
        icon = keys["icon"].rsplit(",", 1)[0] if "," in keys["icon"] else keys["icon"]
        where = disc_path(icon)
        if where is None or tree.find(where) is None:
            rep.warning(win(e.path), "icon=%s names no file on the disc: Windows shows a plain icon; "
                        "write icon=%s,0" % (keys["icon"], launcher))
    if len(keys.get("label", "")) > 32:
        rep.warning(win(e.path), "label= has %d characters, more than the 32 Windows shows; shorten it"
                    % len(keys["label"]))


def check_names(tree, rep):
    for e in tree.entries:
        path, name = win(e.path), e.name
        if utf16_len(name) > 64:
            rep.error(path, "a name of %d characters: a disc holds at most 64; shorten it" % utf16_len(name))
        if utf16_len(path) > 240:
            rep.error(path, "a path of %d characters: a disc holds at most 240; shorten the folders' "
                      "names" % utf16_len(path))
        # What a copy holds: the VIEWER tree (and the companion, whose path is short).
        elif utf16_len(path) > COPY_PATH and e.path[0].lower() == "viewer":
            rep.warning(path, "a path of %d characters: a copy on the hard disk holds at most %d, in the "
                        "deepest place one is made, %s %s\\%s (for a user name of %d characters, "
                        "Windows' longest), so installing or removing a copy fails there; shorten the "
                        "folders' or the file's names" % (utf16_len(path), COPY_PATH, DEEPEST[0],
                                                           DEEPEST[1], COPY_FOLDER, len(USER_NAME)))
        bad = sorted({c for c in name if c in FORBIDDEN})
        if bad:
            rep.error(path, "holds %s, which Windows forbids in names; rename it"
                      % ", ".join(repr(c) for c in bad))
        if name.endswith((".", " ")):
            rep.error(path, "ends in a dot or a space, which Windows drops from names; rename it")
        if name.split(".")[0].upper() in DEVICES:
            rep.error(path, "a device name on Windows, so not a file there; rename it")
        if e.kind == "link":
            rep.error(path, "a symbolic link, which Windows does not see on a disc; put the file or "
                      "folder itself here")
        elif e.kind == "special":
            rep.error(path, "not a file or a folder (a device, pipe or socket); remove it")
        elif e.size >= FOUR_GIB:
            rep.warning(path, "4 GiB or more: it needs ISO level 3 (which disc.py image uses) and a DVD")


def check_size(tree, rep, medium):
    total = tree.size()
    fits = [m for m in MEDIA if total <= MEDIA[m][0]]
    if medium and medium not in fits:
        rep.error(None, "%s do not fit on %s (%s): choose a bigger --medium or leave data out"
                  % (mb(total), MEDIA[medium][1], mb(MEDIA[medium][0])))
    elif not fits:
        rep.error(None, "%s do not fit on a single-layer DVD (%s): leave data out"
                  % (mb(total), mb(MEDIA["dvd5"][0])))
    elif medium:
        rep.note("size: %s of the %s of %s (%s)"
                 % (mb(total), mb(MEDIA[medium][0]), MEDIA[medium][1], medium))
    else:
        rep.note("size: %s, fits %s (%s), the smallest medium it fits"
                 % (mb(total), MEDIA[fits[0]][1], fits[0]))


def check(tree, rep, medium=None, allow_x64=False):
    if isinstance(tree, Image):
        if not tree.joliet:
            rep.error(None, "no Joliet tree: Windows sees 8.3 names in upper case, and the launcher "
                      "finds neither its stamp nor the viewer; make the image with disc.py image")
            return
        for path in tree.hidden_from_windows():
            rep.error(path, "in the image but not in its Joliet tree: Windows does not see it")
    check_layout(tree, rep)
    check_launcher(tree, rep, allow_x64)
    check_autorun(tree, rep)
    check_names(tree, rep)
    check_size(tree, rep, medium)


def summary(rep):
    print("%d error%s, %d warning%s" % (rep.errors, "s"[rep.errors == 1:], rep.warnings,
                                        "s"[rep.warnings == 1:]))


def run_check(a):
    tree = load(a.source)
    rep = Report(a.source)
    check(tree, rep, a.medium, a.allow_x64)
    summary(rep)
    return 1 if rep.errors else 0


def source_date_epoch():
    text = os.environ.get("SOURCE_DATE_EPOCH", "")
    if not text:
        return FIXED_EPOCH
    if not text.isdigit():
        raise BadInput("SOURCE_DATE_EPOCH=%s is not a number of seconds" % text)
    return int(text)


def run_image(a):
    source, out = os.path.abspath(a.source), os.path.abspath(a.out)
    if not os.path.isdir(source):
        raise BadInput("%s is not a folder: an image is made from a layout folder" % a.source)
    if os.path.lexists(out) and (not a.force or os.path.isdir(out)):
        raise BadInput("%s exists; give --force to replace it" % a.out if not os.path.isdir(out)
                       else "%s is a folder" % a.out)
    if (out + os.sep).startswith(source + os.sep):
        raise BadInput("%s lies inside the layout it would hold" % a.out)
    if not 0 < len(a.label) <= 32:
        raise BadInput("a label has 1 to 32 characters")
    epoch = source_date_epoch()
    xorriso = shutil.which("xorriso")
    if not xorriso:
        print("disc.py: xorriso is not installed: apt-get install xorriso "
              "(scripts/install-deps.sh installs it)")
        return 1

    rep = Report(a.source)
    check(load(source), rep, a.medium, a.allow_x64)
    summary(rep)
    if rep.errors:
        print("disc.py: no image made: mend the errors above first")
        return 1
    if len(a.label) > 16:
        print("%s: warning: Windows shows only the label's first 16 characters" % a.out)

    try:
        tmp = tempfile.mkdtemp(prefix="." + os.path.basename(out) + ".", dir=os.path.dirname(out))
    except OSError as e:
        raise BadInput("cannot write beside %s: %s" % (a.out, e.strerror))
    try:
        part = os.path.join(tmp, "image.iso")
        dates = time.strftime("%Y%m%d%H%M%S00", time.gmtime(epoch))
        r = subprocess.run([xorriso, "-no_rc", "-as", "mkisofs", "-o", part, "-iso-level", "3",
                            "-J", "-joliet-long", "-r", "-V", a.label, "--modification-date=" + dates,
                            "--set_all_file_dates", dates, source],
                           env=dict(os.environ, SOURCE_DATE_EPOCH=str(epoch)),
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if r.returncode:
            print(r.stdout.rstrip()[-3000:])
            print("disc.py: xorriso failed (exit code %d): no image made" % r.returncode)
            return 1
        print("Checking the image as Windows reads it:")
        again = Report(a.out, notes=False)
        check(load(part), again, a.medium, a.allow_x64)
        summary(again)
        if again.errors:
            print("disc.py: the image has errors: no image made")
            return 1
        if os.path.lexists(out) and not a.force:
            raise BadInput("%s appeared meanwhile; give --force to replace it" % a.out)
        os.replace(part, out)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    print("made %s: %s, label %s" % (a.out, mb(os.path.getsize(out)), a.label))
    return 0


def main(argv):
    p = argparse.ArgumentParser(prog="disc.py", description=__doc__.split("\n\n")[0])
    sub = p.add_subparsers(dest="verb", required=True)
    for verb, help_ in (("check", "check a layout folder or an ISO image"),
                        ("image", "make the ISO image of a layout folder")):
        s = sub.add_parser(verb, help=help_)
        s.add_argument("source", metavar="SOURCE")
        if verb == "image":
            s.add_argument("out", metavar="OUT.iso")
            s.add_argument("--label", default=DEFAULT_LABEL, help="volume label (default %(default)s)")
            s.add_argument("--force", action="store_true", help="replace an existing OUT.iso")
        s.add_argument("--medium", choices=sorted(MEDIA), help="the medium the disc must fit "
                       "(default: the smallest it fits)")
        s.add_argument("--allow-x64", action="store_true",
                       help="a 64-bit launcher is a warning: the disc is for 64-bit Windows only")
    a = p.parse_args(argv)
    # A stop from outside still removes what was half made.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    try:
        return run_check(a) if a.verb == "check" else run_image(a)
    except BadInput as e:
        print("disc.py: " + str(e))
        return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
