"""End-to-end test of a disc made by scripts/disc.py (run through run_e2e.py):
the image of a sample layout, read back through its Joliet tree (the names
Windows reads) and laid out read-only in the optical drive E:."""

import os
import shutil

from zelvo_e2e import (AUTORUN, LauncherTestCase, WinePrefix, disc_from_image, snapshot,
                       viewer_command, write)

W = None


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


class DiscImageTests(LauncherTestCase):
    group = "disc_image"

    def setUp(self):
        if not shutil.which("xorriso"):
            self.skipTest("xorriso is not installed (scripts/install-deps.sh installs it)")
        W.reset()

    def test_launches_from_the_image(self):
        layout = W.make_medium(os.path.join(W.root, "outside", "layout"))
        write(os.path.join(layout, "autorun.inf"), AUTORUN)
        drive, _ = disc_from_image(W, layout)
        self.assertEqual(snapshot(drive), snapshot(layout), "the image's Joliet tree is not the layout")

        first = W.run("", exe="E:\\VIEWER\\bin\\ZelvoLauncher.exe")
        self.assertEnded(first)
        self.assertEqual(first.boxes, [])
        self.assertEqual(snapshot(W.temp_copy), W.expected_copy(layout), "no exact copy installed")
        cmd, cwd = viewer_command(W.win(W.temp_copy), "E:")
        self.assertEqual([(v["cmd"], v["cwd"]) for v in first.viewer], [(cmd, cwd)])

        installed = snapshot(W.temp_copy)
        second = W.run("", exe="E:\\VIEWER\\bin\\ZelvoLauncher.exe")
        self.assertEnded(second)
        self.assertEqual([(v["cmd"], v["cwd"]) for v in second.viewer], [(cmd, cwd)])
        self.assertEqual(snapshot(W.temp_copy), installed, "the up-to-date copy was copied again")
