"""Drives ZelvoLauncher.exe under Wine, for the end-to-end tests and the demo.

One WinePrefix object owns a private prefix below a work folder (in /tmp or the
build tree), its wineserver (kept alive between runs), a fixed set of drive
letters, the sample media and the copy locations. A run goes through the
test starter spawn.exe, which gives the launcher an exact command line,
environment and current folder, and waits for the launcher and the viewer it
started. The stand-in viewer KiroZelvo.exe writes down its command line and
working folder; message boxes are read from Wine's msgbox trace (text) and the
X window name (caption), and dismissed with xdotool.

Where Wine differs from a Windows machine (checked on Wine 8 and Wine 10):
- The all-users folder the launcher reads is PUBLIC (Wine reports Windows 6.1),
  C:\\users\\Public; the profiles folder is its parent, C:\\users, holding
  "Public" and the Unix user's profile.
- A fresh prefix has no "C:\\users\\Public\\Application Data" (as on newer
  Windows, unlike XP's "All Users\\Application Data"), so the shared location
  is not writable until a test creates that folder.
- The user's profile and temp folder are what the prefix reports (USERPROFILE,
  and TMP or TEMP, as a program sees them): Wine 8 puts the temp folder at
  C:\\users\\<unix user>\\Temp, Wine 10 at <profile>\\AppData\\Local\\Temp (XP:
  "<profile>\\Local Settings\\Temp"); no profile has a "Local Settings" folder
  until a test makes one.
- Unix TMP/TEMP/PUBLIC do not reach Windows programs; spawn.exe sets them.
- Some profile folders (Desktop, Documents...) are links to $HOME; HOME points
  into the work folder here so that nothing outside it is touched.
- FO_MOVE onto an existing folder of the same name: Wine 8 does nothing and
  reports success, Wine 10 merges the two as Windows does; FO_DELETE of a
  folder link deletes what the link points to; a program cannot remove a host
  symlink at all.
"""

import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

try:
    import pefile
except ImportError:  # a python3 of its own (pyenv, venv) beside Debian's python3-pefile
    sys.path.append("/usr/lib/python3/dist-packages")
    import pefile

SKIP_CODE = 77
COPY_NAME = "Zelvo Disc 11"
MEDIA_VERSION = "3.2.0.15"


def message(name):
    """(caption, text) of one of the launcher's message boxes, as
    tests/messages/<name>.txt holds it: the caption on the first line."""
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "messages", name + ".txt")
    with open(path, encoding="ascii", newline="") as f:
        caption, text = f.read().split("\n", 1)
    return caption, text.removesuffix("\n")


HELP_CAPTION, HELP_TEXT = message("help")
REPAIR_CAPTION, REPAIR_TEXT = message("repair")

# Drive letters and their types, fixed for the prefix's life: the drive type
# is read by Wine's mount manager at wineserver start, the link target on every
# open, so scenarios only re-point the links.
DRIVES = {"d": "hd", "e": "cdrom", "f": "floppy", "t": "hd"}


MACHINES = {0x8664: "x64", 0x014C: "x86"}


def pe_machine(path):
    """"x64" or "x86": what a Windows program is built for."""
    try:
        machine = pefile.PE(path, fast_load=True).FILE_HEADER.Machine
    except pefile.PEFormatError as e:
        raise ValueError("not a Windows program: %s (%s)" % (path, e))
    if machine not in MACHINES:
        raise ValueError("%s is built for machine 0x%04X" % (path, machine))
    return MACHINES[machine]


# Where wine32:i386 could not be installed and 32-bit programs run under
# qemu, scripts/install-deps.sh unpacks Wine's 32-bit half into a root of its
# own, with a copy of the 64-bit loader beside the 32-bit one: Wine starts
# the loader of the other bitness from the folder of its own, so then every
# Wine process starts from that folder.
WINE32_ROOT_LOADERS = "/opt/zelvo-wine32/usr/lib/wine"


def wine_dir():
    """The folder of Wine's loaders."""
    if (not os.access("/usr/lib/wine/wine", os.X_OK)
            and os.access(os.path.join(WINE32_ROOT_LOADERS, "wine"), os.X_OK)):
        return WINE32_ROOT_LOADERS
    return "/usr/lib/wine"


def wine_loader(arch="x64"):
    """The Wine loader for programs of one architecture, or None.

    Debian's `wine` is a wrapper that runs the 32-bit loader whenever wine32
    is installed. That loader still runs 64-bit programs, but their message
    boxes then ignore keys sent through X, and Wine's own tools started
    through it (reg, cmd) are the 32-bit ones. So each program goes through
    the loader of its own architecture."""
    own = os.path.join(wine_dir(), {"x64": "wine64", "x86": "wine"}[arch])
    if os.access(own, os.X_OK):
        return own
    if arch == "x64":
        return shutil.which("wine64") or shutil.which("wine")
    if os.path.exists("/usr/lib/wine/wine64"):
        return None   # Debian without wine32: the wrapper runs 64-bit programs only
    return shutil.which("wine")


def wine_program():
    """The loader for Wine's own tools and 64-bit programs."""
    return wine_loader("x64")


def why_no_32bit():
    """Why 32-bit Windows programs cannot run here, or None when they can."""
    loader = wine_loader("x86")
    if not loader:
        return ("32-bit Windows programs need Wine's 32-bit loader: dpkg --add-architecture i386, "
                "apt-get update, apt-get install wine32:i386 (scripts/install-deps.sh does that "
                "where this machine runs 32-bit programs, natively or under qemu-user)")
    try:
        r = subprocess.run([loader, "--version"], capture_output=True, text=True, timeout=60)
    except OSError as e:
        return ("this machine cannot run Wine's 32-bit loader %s: %s (where the kernel runs "
                "no 32-bit programs, scripts/install-deps.sh has them run under qemu-user)"
                % (loader, e))
    if r.returncode:
        return "Wine's 32-bit loader %s fails: %s" % (loader, (r.stderr or r.stdout).strip()[-300:])
    return None


I386_ELF_MAGIC = "7f454c4601010100000000000000000002000300"


def i386_emulator():
    """The emulator (qemu-i386) through which this machine runs 32-bit Linux
    programs, and so Wine's 32-bit loader, or None where the kernel runs them
    itself. A binfmt_misc handler for i386 programs comes before the kernel's
    own loader; Wine's 32-bit half unpacked by scripts/install-deps.sh always
    runs under qemu-i386."""
    if wine_dir() == WINE32_ROOT_LOADERS:
        return "/usr/bin/qemu-i386"
    binfmt = "/proc/sys/fs/binfmt_misc"
    try:
        with open(os.path.join(binfmt, "status")) as f:
            if f.read().strip() != "enabled":
                return None
        names = os.listdir(binfmt)
    except OSError:
        return None
    for name in names:
        try:
            with open(os.path.join(binfmt, name)) as f:
                lines = f.read().splitlines()
        except OSError:
            continue
        fields = dict(line.split(" ", 1) for line in lines if " " in line)
        if "enabled" in lines and fields.get("magic", "").startswith(I386_ELF_MAGIC):
            return fields.get("interpreter")
    return None


def missing_prerequisites(arch="x64"):
    """Reasons why the suite cannot run here for programs of this
    architecture (empty when it can)."""
    reasons = []
    if not wine_program():
        reasons.append("wine64/wine not installed")
    elif arch == "x86":
        reasons += filter(None, [why_no_32bit()])
    if not shutil.which("wineserver"):
        reasons.append("wineserver not installed")
    if not shutil.which("xvfb-run"):
        reasons.append("xvfb-run not installed (package xvfb)")
    if not shutil.which("xdotool"):
        reasons.append("xdotool not installed")
    return reasons


def snapshot(path):
    """Everything below path: relative name -> ('d',) | ('f', sha1) | ('l', target).

    Links are recorded, not followed, so a tree seen through a link and the
    tree behind it can be compared independently. A missing path gives None."""
    if not os.path.lexists(path):
        return None
    if os.path.islink(path):
        return {".": ("l", os.readlink(path))}
    tree = {}
    for top, dirs, files in os.walk(path):
        for name in dirs + files:
            full = os.path.join(top, name)
            rel = os.path.relpath(full, path)
            if os.path.islink(full):
                tree[rel] = ("l", os.readlink(full))
            elif os.path.isdir(full):
                tree[rel] = ("d",)
            else:
                with open(full, "rb") as f:
                    tree[rel] = ("f", hashlib.sha1(f.read()).hexdigest())
    return tree


RECORD_NAME = "ZelvoCopyRecord.txt"


def copy_record(medium_root, ansi=None):
    """The record a copy installed from this medium carries: "<size>\\t<path>"
    for every file, each folder's files by name before its subfolders, in the
    ANSI code page (`ansi`, default cp1252) and by its bytes."""
    ansi = ansi or "cp1252"

    def lines(host, rel):
        names = sorted(os.listdir(host), key=lambda n: n.encode(ansi))
        files = [n for n in names if not os.path.isdir(os.path.join(host, n))]
        out = ["%d\t%s%s\r\n" % (os.path.getsize(os.path.join(host, n)), rel, n) for n in files]
        for n in names:
            if os.path.isdir(os.path.join(host, n)):
                out += lines(os.path.join(host, n), rel + n + "\\")
        return out
    companion = os.path.getsize(os.path.join(medium_root, "kiro", "KiroPageHolder.exe"))
    text = ["ZelvoCopyRecord 1\r\n"] + lines(os.path.join(medium_root, "VIEWER"), "VIEWER\\")
    text.append("%d\tkiro\\KiroPageHolder.exe\r\n" % companion)
    return "".join(text).encode(ansi)


def remove(path):
    if os.path.islink(path) or os.path.isfile(path):
        os.unlink(path)
    elif os.path.isdir(path):
        shutil.rmtree(path)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())


def unescape_debugstr(s):
    """Undo Wine's debugstr_w escaping of a message box text."""
    out, i = [], 0
    simple = {"n": "\n", "r": "\r", "t": "\t", "\\": "\\", '"': '"', "a": "\a", "b": "\b",
              "f": "\f", "v": "\v"}
    while i < len(s):
        c = s[i]
        if c == "\\" and i + 1 < len(s):
            n = s[i + 1]
            if n in simple:
                out.append(simple[n])
                i += 2
                continue
            m = re.match(r"x?([0-9a-fA-F]{4})", s[i + 1:])
            if m:
                out.append(chr(int(m.group(1), 16)))
                i += 1 + len(m.group(0))
                continue
        out.append(c)
        i += 1
    return "".join(out)


class LauncherTestCase(unittest.TestCase):
    """Expectations every group of end-to-end tests shares."""
    maxDiff = None

    # The launcher ends normally whatever happens; a crash shows as an NTSTATUS.
    def assertEnded(self, res):
        self.assertFalse(res.timed_out, "launcher or viewer did not end: %r" % res)
        self.assertFalse(res.killed)
        self.assertIsNotNone(res.exit_code)
        self.assertLess(res.exit_code, 0xC0000000, "launcher crashed: %r" % res)


class WineStartError(RuntimeError):
    def __init__(self, exe, error, stderr):
        super().__init__("spawn.exe could not start %s (error %s); stderr:\n%s"
                         % (exe, error, stderr[-2000:]))
        self.error = error


class RunResult:
    def __init__(self):
        self.created = False
        self.error = 0
        self.exit_code = None
        self.killed = False
        self.timed_out = False
        self.boxes = []      # (caption, text) in the order shown
        self.viewer = []     # one dict per viewer start: exe, cmd, cwd, flags, show
        self.seconds = 0.0
        self.stderr = ""

    def __repr__(self):
        return ("RunResult(exit=%r killed=%r timed_out=%r boxes=%r viewer=%r)"
                % (self.exit_code, self.killed, self.timed_out, self.boxes, self.viewer))


class WinePrefix:
    def __init__(self, launcher, viewer, spawn, work=None, arch=None):
        """arch: "x86" or "x64", what the launcher is built for (default:
        read from the launcher); the prefix is 64-bit either way, and runs
        32-bit programs beside 64-bit ones when wine32 is installed."""
        self.launcher, self.viewer_exe, self.spawn = launcher, viewer, spawn
        self.arch = arch or pe_machine(launcher)
        self.root = tempfile.mkdtemp(prefix="zelvo-e2e-", dir=work or "/tmp")
        self.prefix = os.path.join(self.root, "prefix")
        self.home = os.path.join(self.root, "home")
        os.makedirs(self.home)
        # The user's profile and temp folder (Windows paths on C:), as the
        # prefix reports them once it is made (start()).
        self.profile_win = self.temp_win = None
        self.env = dict(os.environ)
        self.env.update({
            "WINEPREFIX": self.prefix,
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml,winemenubuilder.exe=d",
            "HOME": self.home,
            "XDG_CONFIG_HOME": os.path.join(self.home, ".config"),
            "XDG_DATA_HOME": os.path.join(self.home, ".local", "share"),
            "XDG_CACHE_HOME": os.path.join(self.home, ".cache"),
        })
        self.mounts = []
        self.runs = 0
        # The Windows ANSI code page the prefix runs in, as a Python codec:
        # spawn.exe reads its job file as ANSI bytes and the stand-in viewer
        # writes ANSI bytes. None keeps ASCII-only jobs (UTF-8 out, Latin-1 in).
        self.ansi = None

    # ---- prefix life ----------------------------------------------------

    def start(self):
        try:
            self._make_prefix()
        except RuntimeError as e:
            # On a fresh machine under load, Wine has now and then failed
            # to make a prefix at all (its tools ran and printed nothing):
            # once more, with a new prefix.
            sys.stderr.write("Wine prefix set-up failed, once more: %s\n" % e)
            subprocess.run(["wineserver", "-k"], env=self.env)
            shutil.rmtree(self.prefix, ignore_errors=True)
            self._make_prefix()

    def _make_prefix(self):
        reg = os.path.join(self.root, "setup.reg")
        lines = ["REGEDIT4", "",
                 "[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]",
                 '"ShowCrashDialog"=dword:00000000', "",
                 "[HKEY_LOCAL_MACHINE\\Software\\Wine\\Drives]"]
        lines += ['"%s:"="%s"' % (d, t) for d, t in sorted(DRIVES.items())]
        write(reg, "\r\n".join(lines) + "\r\n")
        # Wine reads its own settings from the 64-bit view of the registry.
        self.wine(["reg", "import", "Z:" + reg.replace("/", "\\"), "/reg:64"])
        for letter in DRIVES:
            self.map_drive(letter, self.empty_dir(letter))
        # New drive types take effect with a new wineserver; keep that one
        # alive between runs.
        subprocess.run(["wineserver", "-k"], env=self.env)
        subprocess.run(["wineserver", "-w"], env=self.env)
        subprocess.run(["wineserver", "-p"], env=self.env)
        self.wine(["cmd", "/c", "echo"])
        self.profile_win, self.temp_win = self.ask_profile_and_temp()
        for d in (self.users, self.temp_base, self.public):
            if not os.path.isdir(d):
                raise RuntimeError("Wine prefix lacks " + d)

    def ask_profile_and_temp(self):
        """(USERPROFILE, the temp folder) as a program in this prefix sees
        them; the temp folder is TMP, else TEMP, as GetTempPathA takes it."""
        out = os.path.join(self.root, "environment.txt")
        with open(out, "wb") as f, open(os.path.join(self.root, "wine.log"), "ab") as log:
            subprocess.run([wine_program(), "cmd", "/c", "set"], env=self.env, stdout=f,
                           stderr=log)
        with open(out, encoding="latin-1") as f:
            seen = {k.upper(): v for k, v in
                    (line.rstrip("\r\n").split("=", 1) for line in f if "=" in line)}
        profile, temp = seen.get("USERPROFILE"), seen.get("TMP") or seen.get("TEMP")
        if not profile or not temp:
            with open(os.path.join(self.root, "wine.log"), "rb") as f:
                log = f.read()[-1500:].decode("latin-1")
            raise RuntimeError("Wine reports no USERPROFILE or TEMP (%d variables seen); "
                               "the end of wine.log:\n%s" % (len(seen), log))
        return profile, temp.rstrip("\\")

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env)
        for m in reversed(self.mounts):
            subprocess.run(["umount", "-l", m], stderr=subprocess.DEVNULL)
        self.mounts = []
        shutil.rmtree(self.root, ignore_errors=True)

    def wine(self, args, **kw):
        """Runs one of Wine's own tools (64-bit), output to wine.log."""
        log = open(os.path.join(self.root, "wine.log"), "ab")
        try:
            return subprocess.run([wine_program()] + args, env=self.env, stdout=log,
                                  stderr=log, **kw)
        finally:
            log.close()

    @staticmethod
    def loader_for(program):
        """The Wine loader for a host Windows program: that of its own
        architecture."""
        return wine_loader(pe_machine(program))

    def empty_dir(self, letter):
        d = os.path.join(self.root, "drives", letter)
        os.makedirs(d, exist_ok=True)
        return d

    def map_drive(self, letter, host_dir):
        link = os.path.join(self.prefix, "dosdevices", letter + ":")
        if os.path.lexists(link):
            os.unlink(link)
        os.symlink(host_dir, link)

    # ---- places ---------------------------------------------------------

    @property
    def drive_c(self):
        return os.path.join(self.prefix, "drive_c")

    @property
    def users(self):
        # The profiles folder, C:\users: the parent of the user's profile.
        return os.path.dirname(self.host(self.profile_win))

    @property
    def user(self):
        """The name of the user's profile folder (the Unix user's name)."""
        return os.path.basename(self.host(self.profile_win))

    @property
    def public(self):
        return os.path.join(self.users, "Public")

    @property
    def shared_base(self):
        # PUBLIC + "\Application Data"; missing in a fresh prefix.
        return os.path.join(self.public, "Application Data")

    @property
    def shared_copy(self):
        return os.path.join(self.shared_base, COPY_NAME)

    @property
    def temp_base(self):
        # What GetTempPathA reports, without its trailing backslash.
        return self.host(self.temp_win)

    @property
    def temp_copy(self):
        return os.path.join(self.temp_base, COPY_NAME)

    def profile_copy(self, name):
        return os.path.join(self.users, name, "Local Settings", "Temp", COPY_NAME)

    def win(self, host_path):
        """Windows name of a host path below drive_c."""
        rel = os.path.relpath(host_path, self.drive_c)
        if rel.startswith(".."):
            raise ValueError("not below C:: " + host_path)
        return "C:\\" + rel.replace("/", "\\") if rel != "." else "C:"

    def host(self, win_path):
        """Host path of a Windows path on C:."""
        if win_path[:3].upper() != "C:\\":
            raise ValueError("not on C:: " + win_path)
        return os.path.join(self.drive_c, *win_path[3:].split("\\"))

    def make_shared_writable(self):
        os.makedirs(self.shared_base, exist_ok=True)

    def reset(self):
        """Back to a fresh prefix's copy locations, drives and logs."""
        for m in reversed(self.mounts):
            subprocess.run(["umount", "-l", m], stderr=subprocess.DEVNULL)
        self.mounts = []
        for letter in DRIVES:
            self.map_drive(letter, self.empty_dir(letter))
        remove(self.shared_base)
        for name in os.listdir(self.users):
            p = os.path.join(self.users, name)
            if name not in ("Public", self.user):
                remove(p)
            else:
                remove(os.path.join(p, "Local Settings"))
        for name in os.listdir(self.temp_base):
            remove(os.path.join(self.temp_base, name))
        for sub in ("media", "outside", "mnt"):
            p = os.path.join(self.root, sub)
            if os.path.isdir(p):
                # A read-only mount left behind must not stop the reset.
                subprocess.run(["chmod", "-R", "u+w", p], stderr=subprocess.DEVNULL)
            remove(p)
        remove(os.path.join(self.drive_c, "zelvo-e2e"))

    def mount_tmpfs(self, name, size, read_only=False):
        """A small tmpfs of our own; None when mounting is not possible here."""
        if os.geteuid() != 0 or not shutil.which("mount"):
            return None
        d = os.path.join(self.root, "mnt", name)
        os.makedirs(d, exist_ok=True)
        r = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%s" % size, "tmpfs", d],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if r.returncode:
            return None
        self.mounts.append(d)
        return d

    def remount_read_only(self, d):
        return subprocess.run(["mount", "-o", "remount,ro", d],
                              stderr=subprocess.DEVNULL).returncode == 0

    # ---- media and copies -----------------------------------------------

    def make_medium(self, host_root, version=MEDIA_VERSION, big_files=0, big_size=0,
                    companion=True):
        """A disc image folder: VIEWER\\bin with the launcher, the viewer and
        the stamp, more of the VIEWER tree, kiro\\KiroPageHolder.exe, and
        things outside VIEWER and kiro\\KiroPageHolder.exe that no copy takes."""
        b = os.path.join(host_root, "VIEWER", "bin")
        os.makedirs(b, exist_ok=True)
        shutil.copy(self.launcher, os.path.join(b, "ZelvoLauncher.exe"))
        shutil.copy(self.viewer_exe, os.path.join(b, "KiroZelvo.exe"))
        if version is not None:
            write(os.path.join(b, "Version.txt"), version + "\r\n")
        write(os.path.join(b, "kzcore.dll"), os.urandom(5000))
        write(os.path.join(host_root, "VIEWER", "help", "index.htm"), "<html>help</html>")
        write(os.path.join(host_root, "VIEWER", "help", "img", "logo.png"), os.urandom(700))
        write(os.path.join(host_root, "VIEWER", "readme.txt"), "Zelvo viewer\r\n")
        for i in range(big_files):
            write(os.path.join(host_root, "VIEWER", "images", "img%04d.bin" % i),
                  os.urandom(big_size))
        if companion:
            write(os.path.join(host_root, "kiro", "KiroPageHolder.exe"), b"MZ" + os.urandom(3000))
        write(os.path.join(host_root, "kiro", "notes.txt"), "not copied")
        write(os.path.join(host_root, "DATA", "study.img"), os.urandom(2000))
        write(os.path.join(host_root, "autorun.inf"), "[autorun]\r\n")
        return host_root

    def reset_media(self):
        remove(os.path.join(self.root, "media"))

    def medium_on(self, letter, version=MEDIA_VERSION, **kw):
        """A medium at the root of a drive letter; returns its host folder."""
        root = os.path.join(self.root, "media", letter)
        self.make_medium(root, version, **kw)
        self.map_drive(letter, root)
        return root

    def expected_copy(self, medium_root):
        """The exact tree of a copy folder installed from this medium."""
        tree = {"VIEWER": ("d",)}
        for rel, v in snapshot(os.path.join(medium_root, "VIEWER")).items():
            tree[os.path.join("VIEWER", rel)] = v
        tree["kiro"] = ("d",)
        tree[os.path.join("kiro", "KiroPageHolder.exe")] = snapshot(
            os.path.join(medium_root, "kiro"))["KiroPageHolder.exe"]
        tree[RECORD_NAME] = ("f", hashlib.sha1(copy_record(medium_root, self.ansi)).hexdigest())
        return tree

    def make_copy(self, path, version, tag=None, viewer=True):
        """A copy folder left by an earlier run: stamp (None: no stamp), the
        viewer, and a tag file that tells this copy apart."""
        b = os.path.join(path, "VIEWER", "bin")
        os.makedirs(b, exist_ok=True)
        if version is not None:
            write(os.path.join(b, "Version.txt"), version + "\r\n")
        if viewer:
            shutil.copy(self.viewer_exe, os.path.join(b, "KiroZelvo.exe"))
        write(os.path.join(path, "VIEWER", "tag.txt"), tag or path)
        write(os.path.join(path, "kiro", "KiroPageHolder.exe"), b"MZ old")
        return path

    def dvt_leftovers(self, extra_dirs=()):
        """Files named dvt* left in the copy locations' base folders."""
        left = []
        dirs = [self.shared_base, self.temp_base] + list(extra_dirs)
        for d in dirs:
            if os.path.isdir(d):
                left += [os.path.join(d, n) for n in os.listdir(d) if n.lower().startswith("dvt")]
        return left

    # ---- running ----------------------------------------------------------

    def run(self, args="", exe=None, **kw):
        """Run the launcher (Windows path exe) with the raw argument text args.

        argv0 replaces element 0 of the command line (default: the quoted
        exe path). kill_when(result) is polled while the launcher runs; once it
        returns true the launcher is terminated. Returns a RunResult."""
        try:
            return self._run_once(args, exe, **kw)
        except WineStartError as e:
            # Under load Wine now and then fails to start a process at all
            # (ERROR_INTERNAL_ERROR) before any of its code runs: once more.
            if e.error != 1359:
                raise
            return self._run_once(args, exe, **kw)

    def _run_once(self, args="", exe=None, argv0=None, env=None, unset=(), cwd=None,
                  kill_ms=None, kill_when=None, timeout=90, viewer_sleep_ms=None, show=None):
        self.runs += 1
        n = self.runs
        ctl = os.path.join(self.drive_c, "zelvo-e2e")
        os.makedirs(ctl, exist_ok=True)
        for f in ("viewer-%d.txt" % n, "result-%d.txt" % n, "kill-%d" % n):
            remove(os.path.join(ctl, f))
        cmd = argv0 if argv0 is not None else '"%s"' % exe
        if args:
            cmd += " " + args
        job = ["exe=" + exe, "cmd=" + cmd, "out=C:\\zelvo-e2e\\result-%d.txt" % n,
               "timeout=%d" % (timeout * 1000),
               "set=ZELVO_VIEWER_LOG=C:\\zelvo-e2e\\viewer-%d.txt" % n]
        if cwd:
            job.append("dir=" + cwd)
        for k, v in (env or {}).items():
            job.append("set=%s=%s" % (k, v))
        for k in unset:
            job.append("unset=" + k)
        if show is not None:
            job.append("show=%d" % show)
        if viewer_sleep_ms:
            job.append("set=ZELVO_VIEWER_SLEEP_MS=%d" % viewer_sleep_ms)
        if kill_ms:
            job.append("kill=%d" % kill_ms)
        if kill_when:
            job.append("killfile=C:\\zelvo-e2e\\kill-%d" % n)
        if self.ansi is None and not (exe + cmd + (cwd or "")).isascii():
            # Names outside the ANSI code page: spawn.exe starts the program wide.
            job = [("w" + line) if line.split("=", 1)[0] in ("exe", "cmd", "dir") else line
                   for line in job]
        if self.ansi is None:
            # Environment values outside the ANSI code page are set wide.
            job = [("w" + line) if line.startswith("set=") and not line.isascii() else line
                   for line in job]
        write(os.path.join(ctl, "job-%d.txt" % n),
              ("\r\n".join(job) + "\r\n").encode(self.ansi or "utf-8"))

        env_run = dict(self.env, WINEDEBUG="-all,trace+msgbox")
        out_path = os.path.join(self.root, "run-%d.out" % n)
        err_path = os.path.join(self.root, "run-%d.err" % n)
        res = RunResult()
        start = time.time()
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            proc = subprocess.Popen([self.loader_for(self.spawn), self.spawn,
                                     "C:\\zelvo-e2e\\job-%d.txt" % n],
                                    env=env_run, stdout=out, stderr=err)
        handled_windows = set()
        texts = []
        killed_by_us = False
        while True:
            done = proc.poll() is not None
            texts = self._box_texts(err_path)
            if len(texts) > len(res.boxes):
                self._dismiss_boxes(texts, res, handled_windows)
            if done:
                break
            if kill_when and not killed_by_us and kill_when():
                write(os.path.join(ctl, "kill-%d" % n), "")
                killed_by_us = True
            if time.time() - start > timeout + 30:
                proc.kill()
                proc.wait()
                self.restart_server()
                res.timed_out = True
                break
            time.sleep(0.05)
        res.seconds = time.time() - start
        with open(err_path, "rb") as f:
            res.stderr = f.read().decode("latin-1")
        # Boxes whose trace came without a window we could find still count.
        for t in self._box_texts(err_path)[len(res.boxes):]:
            res.boxes.append((None, t))
        result_file = os.path.join(ctl, "result-%d.txt" % n)
        if os.path.exists(result_file):
            with open(result_file) as f:
                kv = dict(re.findall(r"(\w+)=(\S+)", f.read()))
            res.created = kv.get("created") == "1"
            res.error = int(kv.get("error", "0"))
            res.exit_code = int(kv["exit"]) if "exit" in kv else None
            res.killed = kv.get("killed") == "1"
            res.timed_out = res.timed_out or kv.get("timedout") == "1"
        res.viewer = self._viewer_records(os.path.join(ctl, "viewer-%d.txt" % n),
                                          self.ansi or "latin-1")
        if not res.created and not res.timed_out:
            raise WineStartError(exe, res.error, res.stderr)
        return res

    def hold_open(self, holdopen_exe, win_path, seconds=120):
        """Start holdopen.exe on a file (Windows path) and wait until it holds
        it without sharing; returns the Popen to end with release()."""
        ctl = os.path.join(self.drive_c, "zelvo-e2e")
        os.makedirs(ctl, exist_ok=True)
        ready = os.path.join(ctl, "held")
        remove(ready)
        log = open(os.path.join(self.root, "holdopen.log"), "ab")
        proc = subprocess.Popen([self.loader_for(holdopen_exe), holdopen_exe, win_path,
                                 "C:\\zelvo-e2e\\held", str(seconds * 1000)],
                                env=self.env, stdout=log, stderr=log)
        log.close()
        deadline = time.time() + 30
        while not os.path.exists(ready):
            if proc.poll() is not None or time.time() > deadline:
                proc.kill()
                raise RuntimeError("holdopen.exe could not lock " + win_path)
            time.sleep(0.05)
        return proc

    @staticmethod
    def release(proc):
        proc.kill()   # ends the Wine loader; the server closes the handle
        proc.wait()

    def restart_server(self):
        subprocess.run(["wineserver", "-k"], env=self.env)
        subprocess.run(["wineserver", "-w"], env=self.env)
        subprocess.run(["wineserver", "-p"], env=self.env)

    @staticmethod
    def _box_texts(err_path):
        try:
            with open(err_path, "rb") as f:
                data = f.read().decode("latin-1")
        except OSError:
            return []
        texts = []
        for m in re.finditer(r'MSGBOX_OnInit L"(.*)"(\.\.\.)?\s*$', data, re.M):
            t = unescape_debugstr(m.group(1))
            if m.group(2):
                t += "<TRUNCATED BY WINE TRACE>"
            texts.append(t)
        return texts

    def _dismiss_boxes(self, texts, res, handled):
        """Find the new box windows, note their captions and press OK."""
        deadline = time.time() + 10
        while len(res.boxes) < len(texts) and time.time() < deadline:
            found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "."],
                                   env=self.env, capture_output=True, text=True).stdout.split()
            for w in found:
                if w in handled:
                    continue
                name = subprocess.run(["xdotool", "getwindowname", w], env=self.env,
                                      capture_output=True, text=True).stdout.rstrip("\n")
                handled.add(w)
                res.boxes.append((name, texts[len(res.boxes)]))
                subprocess.run(["xdotool", "key", "--window", w, "Return"], env=self.env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                if len(res.boxes) == len(texts):
                    break
            time.sleep(0.1)

    @staticmethod
    def _viewer_records(path, encoding="latin-1"):
        if not os.path.exists(path):
            return []
        with open(path, "rb") as f:
            # Bytes that are not valid in the code page show up as \xNN.
            data = f.read().decode(encoding, "backslashreplace")
        recs = []
        for block in re.findall(r"BEGIN\r\n(.*?)END\r\n", data, re.S):
            rec = {}
            for line in block.split("\r\n"):
                if line.startswith("flags="):
                    rec.update(re.findall(r"(\w+)=(\d+)", line))
                elif "=" in line:
                    k, v = line.split("=", 1)
                    rec[k] = v
            recs.append(rec)
        return recs


def viewer_command(copy_folder_win, media_root_win):
    """The viewer's exact command line and working folder for a start from
    copy_folder_win (a copy folder or the media root) with this media root."""
    cwd = copy_folder_win + "\\VIEWER\\bin"
    return '"%s\\KiroZelvo.exe" data=%s\\' % (cwd, media_root_win), cwd


DISC_TOOL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "disc.py")
AUTORUN = "[autorun]\r\nopen=VIEWER\\bin\\ZelvoLauncher.exe\r\nicon=VIEWER\\bin\\ZelvoLauncher.exe,0\r\n"


def disc_from_image(w, layout, letter="e"):
    """Makes the image of a disc layout with scripts/disc.py, reads the
    image's Joliet tree (the names Windows reads) back with xorriso into a
    read-only folder (a read-only tmpfs where this machine allows) and puts
    that in the drive. Returns (the folder, disc.py's report)."""
    iso = layout.rstrip("/") + ".iso"
    args = ["--allow-x64"] if w.arch == "x64" else []   # no 32-bit launcher in a 64-bit test
    r = subprocess.run([sys.executable, DISC_TOOL, "image", layout, iso] + args,
                       capture_output=True, text=True)
    if r.returncode:
        raise RuntimeError("disc.py image failed:\n" + r.stdout + r.stderr)
    name = "disc-" + os.path.basename(layout.rstrip("/"))
    drive = w.mount_tmpfs(name, "64m") or os.path.join(w.root, "media", name)
    os.makedirs(drive, exist_ok=True)
    subprocess.run(["xorriso", "-no_rc", "-osirrox", "on", "-read_fs", "norock", "-indev", iso,
                    "-extract", "/", drive], check=True, capture_output=True)
    os.remove(iso)
    subprocess.run(["chmod", "-R", "a-w", drive], check=True)
    if drive in w.mounts:
        w.remount_read_only(drive)
    w.map_drive(letter, drive)
    return drive, r.stdout
