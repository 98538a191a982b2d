#!/usr/bin/env python3
"""Tests of scripts/disc.py, run by CTest (tests/disc/CMakeLists.txt). The
layouts' launchers are small programs built with the MinGW-w64 cross
compilers and signed with a throwaway certificate."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
DISC = os.path.join(ROOT, "scripts", "disc.py")
sys.path.insert(0, os.path.join(ROOT, "tests", "release"))
sys.dont_write_bytecode = True

from test_release import PASSWORD, make_pfx  # noqa: E402

PROGRAM = "#include <windows.h>\nint WINAPI WinMain(HINSTANCE a, HINSTANCE b, LPSTR c, int d) { return 0; }\n"
AUTORUN = "[autorun]\r\nopen=VIEWER\\bin\\ZelvoLauncher.exe\r\nicon=VIEWER\\bin\\ZelvoLauncher.exe,0\r\n"
WORK = tempfile.mkdtemp(prefix="zelvo-disc-")
EXES = {}


def setUpModule():
    src = os.path.join(WORK, "main.c")
    put(src, PROGRAM)
    pfx, _ = make_pfx(WORK)
    for name, compiler, flag in (("x86", "i686", "-mwindows"), ("x64", "x86_64", "-mwindows"),
                                 ("console", "i686", "-mconsole")):
        EXES["unsigned " + name] = os.path.join(WORK, name + ".exe")
        EXES[name] = os.path.join(WORK, name + "-signed.exe")
        subprocess.run([compiler + "-w64-mingw32-gcc", "-s", flag, src, "-o", EXES["unsigned " + name]],
                       check=True)
        subprocess.run(["osslsigncode", "sign", "-pkcs12", pfx, "-pass", PASSWORD, "-in",
                        EXES["unsigned " + name], "-out", EXES[name]], check=True, capture_output=True)


def tearDownModule():
    shutil.rmtree(WORK, ignore_errors=True)


def put(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())


def make_layout(root, changes=()):
    """A disc layout without a fault (signed 32-bit launcher, viewer, stamp,
    companion, autorun.inf, data), then changed: per path, text to write,
    None to remove, a size for a sparse file, ("exe", kind) or ("link", to)."""
    layout = {"VIEWER/bin/ZelvoLauncher.exe": ("exe", "x86"), "VIEWER/bin/KiroZelvo.exe": ("exe", "x86"),
              "VIEWER/bin/Version.txt": "3.2.0.15\r\n", "kiro/KiroPageHolder.exe": b"MZ" + bytes(3000),
              "autorun.inf": AUTORUN, "DATA/study.img": os.urandom(5000)}
    layout.update(changes)
    for rel, value in layout.items():
        path = os.path.join(root, *rel.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if isinstance(value, int):
            with open(path, "wb") as f:
                f.truncate(value)
        elif isinstance(value, tuple) and value[0] == "exe":
            shutil.copy(EXES[value[1]], path)
        elif isinstance(value, tuple):
            os.symlink(value[1], path)
        elif value is not None:
            put(path, value)
    return root


def disc(*args, path=None):
    env = dict(os.environ, PATH=path) if path is not None else None
    return subprocess.run([sys.executable, DISC] + list(args), capture_output=True, text=True, env=env)


def findings(out):
    return [line for line in out.splitlines() if ": error: " in line or ": warning: " in line]


class CheckTests(unittest.TestCase):
    CASES = [
        # (what is wrong, changes to the good layout, arguments,
        #  the findings expected (one line each, in order), exit code)
        ("nothing", {}, [], [], 0),
        ("no stamp", {"VIEWER/bin/Version.txt": None}, [], ["VIEWER\\bin: error: no Version*.txt"], 1),
        ("the stamp after the 260 bytes the launcher reads", {"VIEWER/bin/Version.txt": " " * 260 + "3.2"},
         [], ["Version.txt: warning: the launcher reads only its first 260 bytes",
              "Version.txt: error: no version within the first 260 bytes"], 1),
        # Upper case comes first on the disc, so the launcher reads the empty stamp.
        ("an empty stamp listed first", {"VIEWER/bin/VERSION0.txt": "\r\n"}, [],
         ["Version.txt: warning: the launcher reads only the first stamp, VERSION0.txt",
          "VERSION0.txt: error: no version within"], 1),
        ("a letter in the stamp", {"VIEWER/bin/Version.txt": "3.2b2"}, [],
         ["warning: the stamp '3.2b2' holds more than digits and dots: the launcher reads it as 3.22"], 0),
        ("no companion", {"kiro/KiroPageHolder.exe": None}, [],
         ["kiro\\KiroPageHolder.exe: error: the companion is missing"], 1),
        ("names differing in case only", {"DATA/STUDY.IMG": "x"}, [],
         ["DATA\\study.img: error: differs from STUDY.IMG only in letter case"], 1),
        ("64-bit launcher", {"VIEWER/bin/ZelvoLauncher.exe": ("exe", "x64")}, [],
         ["ZelvoLauncher.exe: error: the 64-bit launcher does not start on 32-bit Windows"], 1),
        ("console launcher", {"VIEWER/bin/ZelvoLauncher.exe": ("exe", "console")}, [],
         ["ZelvoLauncher.exe: error: not a Windows GUI program (subsystem 3)"], 1),
        ("unsigned launcher", {"VIEWER/bin/ZelvoLauncher.exe": ("exe", "unsigned x86")}, [],
         ["ZelvoLauncher.exe: warning: not signed"], 0),
        ("no autorun.inf", {"autorun.inf": None}, [], ["autorun.inf: warning: missing: nothing starts "
         "when the disc is inserted; put in it: [autorun], open=VIEWER\\bin\\ZelvoLauncher.exe"], 0),
        ("autorun.inf without its section", {"autorun.inf": AUTORUN.replace("[autorun]", "[AutoPlay]")},
         [], ["autorun.inf: error: has no [autorun] section"], 1),
        ("open= on a wrong path", {"autorun.inf": AUTORUN.replace("open=VIEWER\\", "open=")}, [],
         ["autorun.inf: error: open=bin\\ZelvoLauncher.exe names no file on the disc"], 1),
        ("icon= on a missing file", {"autorun.inf": AUTORUN.replace("Launcher.exe,0", "Launcher.ico")},
         [], ["autorun.inf: warning: icon=VIEWER\\bin\\ZelvoLauncher.ico names no file"], 0),
        ("label= too long", {"autorun.inf": AUTORUN + "label=" + "L" * 33 + "\r\n"}, [],
         ["autorun.inf: warning: label= has 33 characters"], 0),
        ("a name of 65 characters", {"DATA/" + "n" * 61 + ".img": "x"}, [],
         ["error: a name of 65 characters"], 1),
        ("a path of 241 characters", {"DATA/" + "/".join(["d" * 59] * 3) + "/" + "f" * 56: "x"}, [],
         ["error: a path of 241 characters"], 1),
        # 167 characters fit in a copy in the deepest location; data is not copied.
        ("a path too long for a copy", {"VIEWER/" + "h" * 60 + "/" + "i" * 60 + "/" + "f" * 39: "x",
                                        "VIEWER/" + "h" * 60 + "/" + "i" * 60 + "/" + "g" * 38: "x",
                                        "DATA/" + "d" * 60 + "/" + "e" * 60 + "/" + "f" * 41: "x"}, [],
         ["f" * 39 + ": warning: a path of 168 characters: a copy on the hard disk holds at most 167"], 0),
        ("a character Windows forbids", {"DATA/a?b.img": "x"}, [], ["DATA\\a?b.img: error: holds '?'"], 1),
        ("a trailing dot", {"DATA/notes.": "x"}, [], ["DATA\\notes.: error: ends in a dot"], 1),
        ("a symbolic link", {"DATA/link.img": ("link", "study.img")}, [],
         ["DATA\\link.img: error: a symbolic link"], 1),
        ("a file of 4 GiB", {"DATA/big.img": 4 << 30}, [],
         ["DATA\\big.img: warning: 4 GiB or more: it needs ISO level 3"], 0),
        ("more than a CD holds", {"DATA/big.img": 700 << 20}, ["--medium", "cd74"],
         ["MB do not fit on a 74-minute CD (682.0 MB)"], 1),
    ]

    def test_layouts(self):
        for what, changes, args, expected, code in self.CASES:
            with self.subTest(what):
                d = make_layout(tempfile.mkdtemp(dir=WORK), changes)
                r = disc("check", d, *args)
                self.assertEqual(r.returncode, code, r.stdout + r.stderr)
                found = findings(r.stdout)
                self.assertEqual(len(found), len(expected), r.stdout)
                for line, text in zip(found, expected):
                    self.assertIn(text, line)
                shutil.rmtree(d)

    def test_bad_input(self):
        put(os.path.join(WORK, "plain.bin"), bytes(40000))
        for source in ("missing", "plain.bin"):
            self.assertEqual(disc("check", os.path.join(WORK, source)).returncode, 2, source)


@unittest.skipUnless(shutil.which("xorriso"), "xorriso is not installed")
class ImageTests(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(dir=WORK)
        self.layout = make_layout(os.path.join(self.dir, "layout"))
        self.out = os.path.join(self.dir, "out")
        os.makedirs(self.out)
        self.iso = os.path.join(self.out, "disc.iso")

    def tearDown(self):
        shutil.rmtree(self.dir)

    def test_same_layout_gives_the_same_bytes(self):
        r = disc("image", self.layout, self.iso, "--label", "Study 7")
        self.assertEqual(r.returncode, 0, r.stdout)
        # A copy elsewhere, with other file times, made later.
        again = shutil.copytree(self.layout, os.path.join(self.dir, "again"))
        for top, _, files in os.walk(again):
            for f in files:
                os.utime(os.path.join(top, f), (1e9, 1e9))
        second = os.path.join(self.out, "again.iso")
        self.assertEqual(disc("image", again, second, "--label", "Study 7").returncode, 0)
        with open(self.iso, "rb") as a, open(second, "rb") as b:
            self.assertTrue(a.read() == b.read(), "two images of one layout differ")
        # Windows reads the image's Joliet names: the same findings as the layout's.
        r = disc("check", self.iso)
        self.assertEqual((r.returncode, findings(r.stdout)), (0, []), r.stdout)

    def test_image_without_joliet(self):
        subprocess.run(["xorriso", "-no_rc", "-as", "mkisofs", "-o", self.iso, "-r", self.layout],
                       check=True, capture_output=True)
        r = disc("check", self.iso)
        self.assertEqual(r.returncode, 1)
        self.assertIn("error: no Joliet tree", r.stdout)

    def test_existing_out_is_kept_without_force(self):
        put(self.iso, "keep")
        r = disc("image", self.layout, self.iso)
        self.assertEqual(r.returncode, 2)
        self.assertIn("exists; give --force", r.stdout)
        with open(self.iso) as f:
            self.assertEqual(f.read(), "keep")
        self.assertEqual(disc("image", self.layout, self.iso, "--force").returncode, 0)
        self.assertGreater(os.path.getsize(self.iso), 100000)

    def test_failures_leave_nothing(self):
        fake = os.path.join(self.dir, "bin")   # an xorriso that writes half an image and fails
        put(os.path.join(fake, "xorriso"), '#!/bin/sh\nwhile [ "$1" != -o ]; do shift; done\n'
            'head -c 100000 /dev/zero >"$2"\nexit 5\n')
        os.chmod(os.path.join(fake, "xorriso"), 0o755)
        bad = make_layout(os.path.join(self.dir, "bad"), {"kiro/KiroPageHolder.exe": None})
        for layout, path, says in ((bad, None, "no image made: mend the errors above first"),
                                   (self.layout, fake + ":/usr/bin:/bin", "xorriso failed (exit code 5)"),
                                   (self.layout, self.out, "xorriso is not installed")):
            with self.subTest(says):
                r = disc("image", layout, self.iso, path=path)
                self.assertEqual(r.returncode, 1, r.stdout)
                self.assertIn(says, r.stdout)
                self.assertEqual(os.listdir(self.out), [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
