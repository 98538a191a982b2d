#!/usr/bin/env python3
"""End-to-end tests of ZelvoLauncher.exe with Windows running in code page 932
(Japanese), where the second byte of many double-byte characters is 0x5C, the
byte of the backslash: ソ is 83 5C, 表 95 5C, 能 94 5C, 予 97 5C, ― 81 5C.
The launcher cuts its own path at backslashes and must never cut inside one
of these characters.

Run by run_e2e.py --group codepage, which exits 77 (CTest's skip code) with the reason when Wine, Xvfb or xdotool is
missing, when the ja_JP.UTF-8 locale cannot be built, or when Wine does not
run Windows programs in code page 932.

How a name travels between the tests and the launcher:
- Host side: the tests make files with Python str names; the host file
  system holds them as UTF-8 bytes (checked below).
- Wine maps Unix names to Windows UTF-16 names with the codeset of the Unix
  locale, and takes the ANSI code page from the locale's language. So Wine
  runs with LANG=LC_ALL=ja_JP.UTF-8, and that locale must really load: the
  machine has no Japanese locale installed, so the tests build one with
  localedef into a folder of their own and point LOCPATH at it. Without a
  locale that loads, Wine still takes code page 932 from the name in LANG,
  but reads the UTF-8 names on disk with the wrong codeset: a program is then
  not found by its Japanese name (error 3).
- The launcher's ANSI calls (GetModuleFileNameA, FindFirstFileA,
  CreateProcessA, SHFileOperationA...) convert UTF-16 to and from code page
  932 bytes.
- spawn.exe reads its job file as ANSI bytes and hands the command line to
  CreateProcessA, so the job file is written in cp932; the stand-in viewer
  writes GetCommandLineA, GetModuleFileNameA and GetCurrentDirectoryA as ANSI
  bytes, so its records are read back as cp932 (WinePrefix.ansi). Python's
  cp932 codec is the Microsoft table that Windows and Wine use; the check in
  setUpModule proves it for the names used here.
- Environment values stay ASCII: Wine's GetEnvironmentVariableA cuts values
  that hold double-byte characters.
"""

import os
import shutil
import subprocess
import sys

sys.dont_write_bytecode = True  # keep the source tree clean

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from zelvo_e2e import (HELP_CAPTION, HELP_TEXT, LauncherTestCase, WinePrefix,  # noqa: E402
                       remove, snapshot, viewer_command, wine_program, write)

W = None
SKIP_REASON = None

LOCALE = "ja_JP.UTF-8"
OLD = "3.1.9"
LAUNCHER_E = "E:\\VIEWER\\bin\\ZelvoLauncher.exe"

# More of a VIEWER tree, named with characters whose second byte is 0x5C, a
# lower- or upper-case ASCII letter, '[' or '|', and a one-byte katakana.
JAPANESE_TREE = {
    "ヘルプ表/目次.htm": "<html>目次</html>",
    "画像ソ/ポア―ｱ.bin": "\x00\x01\x02 image",
    "データ能/ヂヅ予/ー.txt": "nested",
    "bin/設定表.ini": "[表]\r\n",
}
EMPTY_JAPANESE_FOLDER = "空フォルダ表"


def build_locale(folder):
    """Compile ja_JP.UTF-8 into folder; the reason when that is not possible."""
    if not shutil.which("localedef"):
        return "localedef not installed (package libc-bin)"
    os.makedirs(folder, exist_ok=True)
    r = subprocess.run(["localedef", "-i", "ja_JP", "-f", "UTF-8",
                        os.path.join(folder, LOCALE)], capture_output=True, text=True)
    # localedef exits 1 on mere warnings; what counts is that the locale loads.
    check = subprocess.run(["locale", "charmap"], capture_output=True, text=True,
                           env=dict(os.environ, LOCPATH=folder, LC_ALL=LOCALE, LANG=LOCALE))
    if check.stdout.strip() != "UTF-8" or check.stderr.strip():
        return ("cannot build the %s locale (localedef: %s; locale: %s)"
                % (LOCALE, (r.stderr or r.stdout).strip()[-300:], check.stderr.strip()[-300:]))
    return None


def ansi_code_page():
    """The ANSI code page Wine recorded for the prefix."""
    out = os.path.join(W.root, "acp.txt")
    with open(out, "wb") as f:
        subprocess.run([wine_program(), "reg", "query",  # System: one view for both
                        "HKLM\\System\\CurrentControlSet\\Control\\Nls\\CodePage", "/v", "ACP"],
                       env=W.env, stdout=f, stderr=subprocess.DEVNULL)
    with open(out, "rb") as f:
        for line in f.read().decode("latin-1").splitlines():
            parts = line.split()
            if parts[:2] == ["ACP", "REG_SZ"] and len(parts) == 3:
                return parts[2]
    return None


def check_code_page():
    """Why the prefix does not run in code page 932, or None when it does.

    The recorded ACP alone proves little (see above). So the stand-in viewer
    (no launcher involved) runs from a folder named with 0x5C trail bytes:
    spawn.exe must find it by its cp932 name, and its own path and command
    line must come back exactly."""
    acp = ansi_code_page()
    if acp != "932":
        return "Wine's ANSI code page is %s, not 932, with LANG=%s" % (acp, LOCALE)
    host = os.path.join(W.drive_c, "cp932-check", "ソ表能")
    os.makedirs(host)
    shutil.copy(W.viewer_exe, os.path.join(host, "KiroZelvo.exe"))
    exe = "C:\\cp932-check\\ソ表能\\KiroZelvo.exe"
    try:
        res = W.run("data=予―\\", exe=exe)
    except RuntimeError as e:
        return "spawn.exe cannot start a program by its cp932 name: %s" % str(e)[:300]
    finally:
        shutil.rmtree(os.path.join(W.drive_c, "cp932-check"))
    got = [(v.get("exe"), v.get("cmd")) for v in res.viewer]
    if got != [(exe, '"%s" data=予―\\' % exe)]:
        return "names do not round-trip through code page 932: %r" % got
    return None


def setUpModule():
    global W, SKIP_REASON
    if sys.getfilesystemencoding().lower().replace("-", "") != "utf8":
        SKIP_REASON = "host file names are not UTF-8 here (%s)" % sys.getfilesystemencoding()
        return
    W = WinePrefix(os.environ["ZELVO_E2E_LAUNCHER"], os.environ["ZELVO_E2E_VIEWER"],
                   os.environ["ZELVO_E2E_SPAWN"], os.environ.get("ZELVO_E2E_WORK"))
    try:
        locales = os.path.join(W.root, "locale")
        SKIP_REASON = build_locale(locales)
        if SKIP_REASON:
            return
        # LC_ALL too: a caller's LC_ALL=C would otherwise win over LANG.
        W.env.update(LOCPATH=locales, LANG=LOCALE, LC_ALL=LOCALE)
        W.ansi = "cp932"
        W.start()
        SKIP_REASON = check_code_page()
    except Exception:
        W.stop()
        W = None
        raise


def tearDownModule():
    if W:
        W.stop()


def medium(host_root, launcher_name="ZelvoLauncher.exe", stamp_name="Version.txt"):
    """The usual sample medium plus the Japanese part of the VIEWER tree;
    the launcher and the stamp file may carry other names."""
    W.make_medium(host_root)
    for rel, text in JAPANESE_TREE.items():
        write(os.path.join(host_root, "VIEWER", *rel.split("/")), text.encode("utf-8"))
    os.makedirs(os.path.join(host_root, "VIEWER", EMPTY_JAPANESE_FOLDER))
    b = os.path.join(host_root, "VIEWER", "bin")
    if launcher_name != "ZelvoLauncher.exe":
        os.rename(os.path.join(b, "ZelvoLauncher.exe"), os.path.join(b, launcher_name))
    if stamp_name != "Version.txt":
        os.rename(os.path.join(b, "Version.txt"), os.path.join(b, stamp_name))
    return host_root


class CodePageTest(LauncherTestCase):
    group = "codepage"

    def setUp(self):
        if SKIP_REASON:
            self.skipTest(SKIP_REASON)
        W.reset()

    def assertViewerFrom(self, res, folder_win, media_root_win):
        """Exactly one viewer start, of KiroZelvo.exe in folder_win, with the
        exact command line and working folder, compared as Unicode text
        decoded from code page 932."""
        cmd, cwd = viewer_command(folder_win, media_root_win)
        self.assertEqual(len(res.viewer), 1, "viewer starts: %r" % res.viewer)
        v = res.viewer[0]
        self.assertEqual(v["cmd"], cmd)
        self.assertEqual(v["cwd"], cwd)
        self.assertEqual(v["exe"], cwd + "\\KiroZelvo.exe")
        self.assertEqual((v["flags"], v["show"]), ("1", "5"))


class FixedDriveTests(CodePageTest):
    """A medium copied into a folder of a fixed drive: the viewer starts from
    there at once, with the folder, uncut, as its data location."""

    CASES = [
        # (folders from D:\ down to the medium's root, the launcher's file name)
        (["ディスク表"], "ZelvoLauncher.exe"),      # 95 5C right before "\VIEWER"
        (["ソ", "表", "能"], "ZelvoLauncher.exe"),   # every level ends in 5C
        (["予定表 7", "Study"], "ZelvoLauncher.exe"),
        (["資料―"], "ZelvoLauncher.exe"),
        (["ﾃﾞｨｽｸ", "ポア"], "ZelvoLauncher.exe"),     # one-byte katakana, trail bytes 7C and 41
        # The launcher's own name plays no part, even when it ends in 5C.
        (["ディスク表"], "起動表.exe"),
    ]

    def test_viewer_started_with_the_whole_folder(self):
        for folders, launcher in self.CASES:
            with self.subTest(folders=folders, launcher=launcher):
                W.reset()
                remove(W.empty_dir("d"))   # reset() leaves what D: holds
                medium(os.path.join(W.empty_dir("d"), *folders), launcher)
                W.make_shared_writable()
                root = "D:\\" + "\\".join(folders)
                res = W.run("", exe=root + "\\VIEWER\\bin\\" + launcher)
                self.assertEnded(res)
                self.assertEqual(res.boxes, [])
                # e.g. "D:\ディスク表\VIEWER\bin\KiroZelvo.exe" data=D:\ディスク表\
                self.assertViewerFrom(res, root, root)
                self.assertFalse(os.path.lexists(W.shared_copy), "a copy was made")
                self.assertFalse(os.path.lexists(W.temp_copy), "a copy was made")


class OpticalDriveTests(CodePageTest):
    """A disc in the optical drive E: whose VIEWER tree holds Japanese names."""

    def test_copy_keeps_every_name_and_is_used_again(self):
        # The stamp file's own name holds 95 5C as well: the next run must
        # read it in the copy, find the copy up to date and leave it alone.
        disc = medium(os.path.join(W.root, "media", "e"), stamp_name="Version表.txt")
        W.map_drive("e", disc)
        W.make_shared_writable()
        res = W.run("", exe=LAUNCHER_E)
        self.assertEnded(res)
        self.assertViewerFrom(res, W.win(W.shared_copy), "E:")
        self.assertEqual(snapshot(W.shared_copy), W.expected_copy(disc))
        self.assertIn(os.path.join("VIEWER", "画像ソ", "ポア―ｱ.bin"), snapshot(W.shared_copy))

        mark = os.path.join(W.shared_copy, "VIEWER", "mark.txt")
        write(mark, "left by the test")
        res = W.run("", exe=LAUNCHER_E)
        self.assertEnded(res)
        self.assertViewerFrom(res, W.win(W.shared_copy), "E:")
        self.assertTrue(os.path.exists(mark), "the up-to-date copy was made again")

    def test_medium_in_a_japanese_folder_copied_to_temp(self):
        # The medium's root lies in E:\ディスク表 and the launcher is named
        # 起動表.exe; the shared location is not writable, so the copy goes
        # to the temp location.
        disc = medium(os.path.join(W.root, "media", "e", "ディスク表"), launcher_name="起動表.exe")
        W.map_drive("e", os.path.dirname(disc))
        res = W.run("", exe="E:\\ディスク表\\VIEWER\\bin\\起動表.exe")
        self.assertEnded(res)
        self.assertViewerFrom(res, W.win(W.temp_copy), "E:\\ディスク表")
        self.assertEqual(snapshot(W.temp_copy), W.expected_copy(disc))
        self.assertFalse(os.path.lexists(W.shared_copy))


class CommandWordTests(CodePageTest):
    """Command words in code page 932. Before each run: a disc in E: with
    Japanese names, a writable shared location and an out-of-date temp copy,
    so that every behaviour leaves its own trace."""

    CASES = [
        ("/delete", "delete"),
        ("/DELETE 表示", "delete"),
        ("/Repair", "repair"),
        ("/help", "help"),
        # Japanese words are unknown words, which launch.
        ("削除", "launch"),
        ("表示", "launch"),
        ("／ＤＥＬＥＴＥ", "launch"),    # full-width letters are not "/DELETE"
        ('"ソ表" /DELETE', "launch"),
    ]

    def test_commands(self):
        for args, behaviour in self.CASES:
            with self.subTest(args=args, behaviour=behaviour):
                W.reset()
                disc = medium(os.path.join(W.root, "media", "e"))
                W.map_drive("e", disc)
                W.make_shared_writable()
                W.make_copy(W.temp_copy, OLD, tag="stale temp")
                temp_before = snapshot(W.temp_copy)
                res = W.run(args, exe=LAUNCHER_E)
                self.assertEnded(res)
                if behaviour == "help":
                    self.assertEqual(res.boxes, [(HELP_CAPTION, HELP_TEXT)])
                else:
                    self.assertEqual(res.boxes, [])
                if behaviour == "launch":
                    self.assertViewerFrom(res, W.win(W.shared_copy), "E:")
                else:
                    self.assertEqual(res.viewer, [], "the viewer was started")
                if behaviour == "help":
                    self.assertEqual(snapshot(W.temp_copy), temp_before)
                    self.assertFalse(os.path.lexists(W.shared_copy))
                else:
                    self.assertFalse(os.path.lexists(W.temp_copy), "stale copy left")
                if behaviour in ("launch", "repair"):
                    self.assertEqual(snapshot(W.shared_copy), W.expected_copy(disc))
                elif behaviour == "delete":
                    self.assertFalse(os.path.lexists(W.shared_copy))
