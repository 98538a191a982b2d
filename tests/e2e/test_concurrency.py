"""End-to-end tests of ZelvoLauncher.exe under Wine (run through run_e2e.py):
two launchers at once, a copy whose viewer cannot be started, and a medium in
a folder whose name the ANSI code page cannot hold.

Group "concurrent": a second launcher (a launch or /DELETE) starts while the
first copies a VIEWER tree that takes the shell about a second. Whatever the
timing, no copy folder may be left partial and no viewer may start from one.
Group "viewer_fallback": the viewer starts from the medium when the chosen
copy's viewer cannot be started, and when the medium's path is outside the
code page (Wine's ANSI code page here is 1252, which has no Ł)."""

import os
import threading
import time
import unittest

from zelvo_e2e import (COPY_NAME, REPAIR_CAPTION, REPAIR_TEXT, WinePrefix, snapshot,
                       viewer_command, write)

W = None

LAUNCHER_E = "E:\\VIEWER\\bin\\ZelvoLauncher.exe"
OLD = "3.1.9"
# A tree the shell copies in about a second under Wine.
BIG_FILES, BIG_SIZE = 300, 2048
POLISH = "Badania \u0141\u00f3d\u017a"  # "Badania Łódź": Ł and ź are not in code page 1252


def setUpModule():
    global W
    W = WinePrefix(os.environ["ZELVO_E2E_LAUNCHER"], os.environ["ZELVO_E2E_VIEWER"],
                   os.environ["ZELVO_E2E_SPAWN"], os.environ.get("ZELVO_E2E_WORK"))
    try:
        W.start()
    except Exception:
        W.stop()
        raise


def tearDownModule():
    if W:
        W.stop()


class LauncherTest(unittest.TestCase):
    group = None
    maxDiff = None

    def setUp(self):
        W.reset()

    def assertEnded(self, res):
        self.assertFalse(res.timed_out, "launcher or viewer did not end: %r" % res)
        self.assertIsNotNone(res.exit_code)
        self.assertLess(res.exit_code, 0xC0000000, "launcher crashed: %r" % res)
        self.assertEqual(res.boxes, [], "unexpected message box")

    def assertViewerFrom(self, res, folder_win, media_root_win="E:"):
        cmd, cwd = viewer_command(folder_win, media_root_win)
        self.assertEqual([(v["cmd"], v["cwd"], v["flags"], v["show"]) for v in res.viewer],
                         [(cmd, cwd, "1", "5")])


class ConcurrentTests(LauncherTest):
    group = "concurrent"

    def setUp(self):
        super().setUp()
        self.medium = W.medium_on("e", big_files=BIG_FILES, big_size=BIG_SIZE)

    def run_together(self, second_args, offset):
        """A launch, and `offset` seconds after it has started, a second
        launcher with second_args; returns both results once both ended."""
        results = {}

        def run(key, args):
            results[key] = W.run(args, exe=LAUNCHER_E, timeout=180)

        runs = W.runs
        first = threading.Thread(target=run, args=("first", ""))
        first.start()
        while W.runs == runs and first.is_alive():  # the first run has its number
            time.sleep(0.005)
        time.sleep(offset)
        second = threading.Thread(target=run, args=("second", second_args))
        second.start()
        first.join()
        second.join()
        for key in ("first", "second"):
            self.assertIn(key, results, "the %s run failed to start" % key)
            self.assertEnded(results[key])
        return results["first"], results["second"]

    def assertNothingPartial(self):
        complete = W.expected_copy(self.medium)
        for folder in (W.shared_copy, W.temp_copy):
            held = snapshot(folder)
            self.assertTrue(held in (None, complete), "a partial copy in %s: %d of %d entries"
                            % (folder, len(held or {}), len(complete)))
        for base in (W.shared_base, W.temp_base):
            if os.path.isdir(base):
                self.assertNotIn(COPY_NAME + ".partial", os.listdir(base), "leftover in " + base)

    def assertFromMediumOrCompleteCopy(self, res, copy_may_be_gone=False):
        """Started from the medium or from a copy folder that is complete now
        (or, after a /DELETE that came later, gone)."""
        suffix = "\\VIEWER\\bin\\KiroZelvo.exe"
        for v in res.viewer:
            self.assertTrue(v["exe"].endswith(suffix), v["exe"])
            folder = v["exe"][:-len(suffix)]
            self.assertViewerFrom(res, folder)
            if folder.upper() == "E:":
                continue
            held = snapshot(W.host(folder))
            if copy_may_be_gone and held is None:
                continue
            self.assertTrue(held == W.expected_copy(self.medium),
                            "viewer started from an incomplete copy " + folder)

    def assertNextLaunchUses(self, copy):
        res = W.run("", exe=LAUNCHER_E, timeout=180)
        self.assertEnded(res)
        self.assertViewerFrom(res, W.win(copy))
        self.assertTrue(snapshot(copy) == W.expected_copy(self.medium), "incomplete " + copy)

    def test_two_launches(self):
        # (where the copy goes, an out-of-date shared copy before, seconds between the starts)
        cases = [
            ("shared", False, 0.1),  # the second starts before the first copies
            ("shared", False, 0.5),  # ... while it copies
            ("shared", False, 1.0),  # ... near the end of the copy
            ("temp", False, 0.5),    # the temp location is the target
            ("shared", True, 0.5),   # an out-of-date shared copy is being replaced
        ]
        for where, stale, offset in cases:
            with self.subTest(where=where, stale=stale, offset=offset):
                W.reset()
                self.medium = W.medium_on("e", big_files=BIG_FILES, big_size=BIG_SIZE)
                if where == "shared":
                    W.make_shared_writable()
                if stale:
                    W.make_copy(W.shared_copy, OLD)
                first, second = self.run_together("", offset)
                self.assertEqual((len(first.viewer), len(second.viewer)), (1, 1))
                self.assertFromMediumOrCompleteCopy(first)
                self.assertFromMediumOrCompleteCopy(second)
                self.assertNothingPartial()
                self.assertNextLaunchUses(W.shared_copy if where == "shared" else W.temp_copy)

    def test_delete_during_a_launch(self):
        for offset in (0.3, 0.8):
            with self.subTest(offset=offset):
                W.reset()
                self.medium = W.medium_on("e", big_files=BIG_FILES, big_size=BIG_SIZE)
                W.make_shared_writable()
                launch, delete = self.run_together("/DELETE", offset)
                self.assertEqual(len(launch.viewer), 1)
                self.assertEqual(delete.viewer, [])
                self.assertFromMediumOrCompleteCopy(launch, copy_may_be_gone=True)
                self.assertNothingPartial()
                self.assertNextLaunchUses(W.shared_copy)


class ViewerFallbackTests(LauncherTest):
    group = "viewer_fallback"

    def test_copy_whose_viewer_cannot_start(self):
        cases = [
            ("missing", None),                               # quarantined by a scanner
            ("not a program", b"\0" * 4096),                 # damaged
        ]
        for name, viewer_bytes in cases:
            with self.subTest(name):
                W.reset()
                W.medium_on("e")
                W.make_shared_writable()
                W.make_copy(W.shared_copy, "3.2.0.15", viewer=viewer_bytes is not None)
                if viewer_bytes is not None:
                    write(os.path.join(W.shared_copy, "VIEWER", "bin", "KiroZelvo.exe"), viewer_bytes)
                before = snapshot(W.shared_copy)
                res = W.run("", exe=LAUNCHER_E)
                self.assertEnded(res)
                self.assertViewerFrom(res, "E:")
                self.assertEqual(snapshot(W.shared_copy), before, "the copy is left as it was")

    def medium_outside_code_page(self, letter, folder):
        root = W.make_medium(os.path.join(W.root, "media", letter, folder))
        W.map_drive(letter, os.path.dirname(root))
        return "%s:\\%s" % (letter.upper(), folder)

    @staticmethod
    def wide(record, key):
        # The stand-in viewer writes its wide texts as UTF-8; the harness reads the file as Latin-1.
        return record[key].encode("latin-1").decode("utf-8")

    def test_medium_in_a_folder_outside_the_code_page(self):
        for letter, drive in (("d", "fixed"), ("e", "optical")):
            with self.subTest(drive):
                W.reset()
                W.make_shared_writable()
                root = self.medium_outside_code_page(letter, POLISH)
                before = (snapshot(W.shared_base), snapshot(W.temp_base))
                res = W.run("", exe=root + "\\VIEWER\\bin\\ZelvoLauncher.exe")
                self.assertEnded(res)
                cmd, cwd = viewer_command(root, root)
                self.assertEqual(len(res.viewer), 1, res.viewer)
                v = res.viewer[0]
                self.assertEqual((self.wide(v, "wcmd"), self.wide(v, "wcwd")), (cmd, cwd))
                self.assertEqual((v["flags"], v["show"]), ("1", "5"))
                self.assertEqual((snapshot(W.shared_base), snapshot(W.temp_base)), before,
                                 "no copy location is touched")

    def test_delete_and_repair_from_such_a_medium(self):
        root = self.medium_outside_code_page("e", POLISH)
        launcher = root + "\\VIEWER\\bin\\ZelvoLauncher.exe"
        W.make_shared_writable()
        W.make_copy(W.shared_copy, OLD)
        res = W.run("/DELETE", exe=launcher)
        self.assertEnded(res)
        self.assertEqual(res.viewer, [])
        self.assertIsNone(snapshot(W.shared_copy), "/DELETE needs no medium path")

        res = W.run("/REPAIR", exe=launcher)
        self.assertEqual(res.boxes, [(REPAIR_CAPTION, REPAIR_TEXT)])
        self.assertEqual(res.viewer, [])
        self.assertIsNone(snapshot(W.shared_copy), "nothing is copied from such a medium")


if __name__ == "__main__":
    unittest.main()
