#!/usr/bin/env python3
"""Tests of scripts/disc.py, the disc author's tool, run by CTest
(tests/disc/CMakeLists.txt): `check` on small layouts that are each wrong in
one way, and `image` with xorriso.

The layouts' launchers are small programs built with the MinGW-w64 cross
compilers (32-bit GUI, signed with a throwaway certificate; 64-bit GUI;
32-bit console)."""

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
    with open(src, "w") as f:
        f.write(PROGRAM)
    for name, compiler, flag in (("x86", "i686", "-mwindows"), ("x64", "x86_64", "-mwindows"),
                                 ("console", "i686", "-mconsole")):
        EXES[name] = os.path.join(WORK, name + ".exe")
        subprocess.run([compiler + "-w64-mingw32-gcc", "-s", flag, src, "-o", EXES[name]], check=True)
    pfx, _ = make_pfx(WORK)
    EXES["signed"] = os.path.join(WORK, "signed.exe")
    subprocess.run(["osslsigncode", "sign", "-pkcs12", pfx, "-pass", PASSWORD, "-h", "sha256",
                    "-in", EXES["x86"], "-out", EXES["signed"]], check=True, capture_output=True)


def tearDownModule():
    shutil.rmtree(WORK, ignore_errors=True)


def put(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())


def make_layout(root):
    """A disc layout without a fault: signed 32-bit launcher, viewer, stamp,
    companion, autorun.inf and some data."""
    b = os.path.join(root, "VIEWER", "bin")
    os.makedirs(b)
    shutil.copy(EXES["signed"], os.path.join(b, "ZelvoLauncher.exe"))
    shutil.copy(EXES["x86"], os.path.join(b, "KiroZelvo.exe"))
    put(os.path.join(b, "Version.txt"), "3.2.0.15\r\n")
    put(os.path.join(root, "kiro", "KiroPageHolder.exe"), b"MZ" + bytes(3000))
    put(os.path.join(root, "autorun.inf"), AUTORUN)
    put(os.path.join(root, "DATA", "study.img"), os.urandom(5000))
    return root


def disc(*args, path=None):
    env = dict(os.environ, PATH=path) if path is not None else None
    return subprocess.run([sys.executable, DISC] + list(args), capture_output=True, text=True, env=env)


def findings(out):
    return [line for line in out.splitlines() if ": error: " in line or ": warning: " in line]


def replace_launcher(kind):
    return lambda d: shutil.copy(EXES[kind], os.path.join(d, "VIEWER", "bin", "ZelvoLauncher.exe"))


def write(rel, data):
    return lambda d: put(os.path.join(d, *rel.split("/")), data)


def remove(rel):
    return lambda d: os.remove(os.path.join(d, *rel.split("/")))


def sparse(rel, size):
    def make(d):
        put(os.path.join(d, *rel.split("/")), b"")
        os.truncate(os.path.join(d, *rel.split("/")), size)
    return make


class CheckTests(unittest.TestCase):
    CASES = [
        # (what is wrong, change to the good layout, extra arguments,
        #  the findings expected (one line each, in order), exit code)
        ("nothing", None, [], [], 0),
        ("no stamp", remove("VIEWER/bin/Version.txt"), [],
         ["VIEWER\\bin: error: no Version*.txt"], 1),
        ("the stamp after the 260 bytes the launcher reads",
         write("VIEWER/bin/Version.txt", " " * 260 + "3.2"), [],
         ["Version.txt: warning: the launcher reads only its first 260 bytes",
          "Version.txt: error: no version within the first 260 bytes"], 1),
        # Upper case comes first on the disc, so the launcher reads the empty stamp.
        ("an empty stamp listed first", write("VIEWER/bin/VERSION0.txt", "\r\n"), [],
         ["Version.txt: warning: the launcher reads only the first stamp, VERSION0.txt",
          "VERSION0.txt: error: no version within"], 1),
        ("a letter in the stamp", write("VIEWER/bin/Version.txt", "3.2b2"), [],
         ["warning: the stamp '3.2b2' holds more than digits and dots: the launcher reads it as 3.22"], 0),
        ("no viewer", remove("VIEWER/bin/KiroZelvo.exe"), [],
         ["VIEWER\\bin\\KiroZelvo.exe: error: the viewer is missing"], 1),
        ("no companion", remove("kiro/KiroPageHolder.exe"), [],
         ["kiro\\KiroPageHolder.exe: error: the companion is missing"], 1),
        ("names differing in case only", write("DATA/STUDY.IMG", "x"), [],
         ["DATA\\study.img: error: differs from STUDY.IMG only in letter case"], 1),
        ("64-bit launcher", replace_launcher("x64"), [],
         ["ZelvoLauncher.exe: error: the 64-bit launcher does not start on 32-bit Windows",
          "ZelvoLauncher.exe: warning: not signed"], 1),
        ("64-bit launcher on a 64-bit-only disc", replace_launcher("x64"), ["--allow-x64"],
         ["warning: the 64-bit launcher: this disc starts nothing on 32-bit Windows",
          "warning: not signed"], 0),
        ("console launcher", replace_launcher("console"), [],
         ["error: not a Windows GUI program (subsystem 3)", "warning: not signed"], 1),
        ("unsigned launcher", replace_launcher("x86"), [], ["ZelvoLauncher.exe: warning: not signed"], 0),
        ("no autorun.inf", remove("autorun.inf"), [],
         ["autorun.inf: warning: missing: nothing starts when the disc is inserted; put in it: "
          "[autorun], open=VIEWER\\bin\\ZelvoLauncher.exe"], 0),
        ("autorun.inf without its section", write("autorun.inf", AUTORUN.replace("[autorun]", "[AutoPlay]")),
         [], ["autorun.inf: error: has no [autorun] section"], 1),
        ("open= on a wrong path", write("autorun.inf", AUTORUN.replace("open=VIEWER\\", "open=")), [],
         ["autorun.inf: error: open=bin\\ZelvoLauncher.exe names no file on the disc"], 1),
        ("open= with a drive letter", write("autorun.inf", AUTORUN.replace("open=", "open=E:\\")), [],
         ["autorun.inf: error: open=E:\\VIEWER\\bin\\ZelvoLauncher.exe names a drive"], 1),
        ("icon= on a missing file", write("autorun.inf", AUTORUN.replace("Launcher.exe,0", "Launcher.ico")),
         [], ["autorun.inf: warning: icon=VIEWER\\bin\\ZelvoLauncher.ico names no file"], 0),
        ("label= too long", write("autorun.inf", AUTORUN + "label=" + "L" * 33 + "\r\n"), [],
         ["autorun.inf: warning: label= has 33 characters"], 0),
        ("a name of 65 characters", write("DATA/" + "n" * 61 + ".img", "x"), [],
         ["error: a name of 65 characters"], 1),
        ("a path of 241 characters", write("DATA/" + "/".join(["d" * 59] * 3) + "/" + "f" * 56, "x"), [],
         ["error: a path of 241 characters"], 1),
        ("a character Windows forbids", write("DATA/a?b.img", "x"), [],
         ["DATA\\a?b.img: error: holds '?'"], 1),
        ("a trailing dot", write("DATA/notes.", "x"), [], ["DATA\\notes.: error: ends in a dot"], 1),
        ("a device name", write("DATA/aux.txt", "x"), [], ["DATA\\aux.txt: error: a device name"], 1),
        ("a symbolic link", lambda d: os.symlink("study.img", os.path.join(d, "DATA", "link.img")), [],
         ["DATA\\link.img: error: a symbolic link"], 1),
        ("a file of 4 GiB", sparse("DATA/big.img", 4 << 30), [],
         ["DATA\\big.img: warning: 4 GiB or more: it needs ISO level 3"], 0),
        ("more than a CD holds", sparse("DATA/big.img", 700 << 20), ["--medium", "cd74"],
         ["MB do not fit on a 74-minute CD (682.0 MB)"], 1),
    ]

    def test_layouts(self):
        for what, change, args, expected, code in self.CASES:
            with self.subTest(what):
                d = make_layout(tempfile.mkdtemp(dir=WORK))
                if change:
                    change(d)
                r = disc("check", d, *args)
                self.assertEqual(r.returncode, code, r.stdout + r.stderr)
                found = findings(r.stdout)
                self.assertEqual(len(found), len(expected), r.stdout)
                for line, text in zip(found, expected):
                    self.assertIn(text, line)
                shutil.rmtree(d)

    def test_good_layout_is_described(self):
        r = disc("check", make_layout(os.path.join(WORK, "described")))
        self.assertEqual(r.returncode, 0, r.stdout)
        self.assertIn("stamp: 3.2.0.15 (VIEWER\\bin\\Version.txt)", r.stdout)
        self.assertIn("launcher: a 32-bit x86 program", r.stdout)
        self.assertIn("launcher: signed", r.stdout)
        self.assertIn("fits a 74-minute CD (cd74)", r.stdout)

    def test_bad_input(self):
        plain = os.path.join(WORK, "plain.bin")
        put(plain, bytes(40000))
        for source in (os.path.join(WORK, "missing"), plain):
            with self.subTest(source):
                self.assertEqual(disc("check", source).returncode, 2)


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

    def test_layout_with_an_error_is_refused(self):
        os.remove(os.path.join(self.layout, "kiro", "KiroPageHolder.exe"))
        r = disc("image", self.layout, self.iso)
        self.assertEqual(r.returncode, 1)
        self.assertIn("no image made", r.stdout)
        self.assertEqual(os.listdir(self.out), [])

    def test_existing_out_is_kept_without_force(self):
        put(self.iso, "keep")
        r = disc("image", self.layout, self.iso)
        self.assertEqual(r.returncode, 2)
        self.assertIn("exists; give --force", r.stdout)
        with open(self.iso) as f:
            self.assertEqual(f.read(), "keep")
        self.assertEqual(disc("image", self.layout, self.iso, "--force").returncode, 0)
        self.assertGreater(os.path.getsize(self.iso), 100000)

    def test_failure_leaves_nothing(self):
        # An xorriso that writes half an image and fails, and none at all.
        fake = os.path.join(self.dir, "bin")
        put(os.path.join(fake, "xorriso"), '#!/bin/sh\nwhile [ "$1" != -o ]; do shift; done\n'
            'head -c 100000 /dev/zero >"$2"\nexit 5\n')
        os.chmod(os.path.join(fake, "xorriso"), 0o755)
        for path, says in ((fake + ":/usr/bin:/bin", "xorriso failed (exit code 5)"),
                           (self.out, "xorriso is not installed")):
            with self.subTest(says):
                r = disc("image", self.layout, self.iso, path=path)
                self.assertEqual(r.returncode, 1, r.stdout)
                self.assertIn(says, r.stdout)
                self.assertEqual(os.listdir(self.out), [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
