"""End-to-end test of a disc made by scripts/disc.py (run through run_e2e.py):
its image, read back through the Joliet tree (the names Windows reads), laid
out read-only in the optical drive E:."""

import os
import shutil

from zelvo_e2e import (AUTORUN, LauncherTestCase, WinePrefix, disc_from_image, snapshot,
                       viewer_command, write)


class DiscImageTests(LauncherTestCase):
    group = "disc_image"

    def test_launches_from_the_image(self):
        if not shutil.which("xorriso"):
            self.skipTest("xorriso is not installed (scripts/install-deps.sh installs it)")
        w = WinePrefix(os.environ["ZELVO_E2E_LAUNCHER"], os.environ["ZELVO_E2E_VIEWER"],
                       os.environ["ZELVO_E2E_SPAWN"], os.environ.get("ZELVO_E2E_WORK"))
        self.addCleanup(w.stop)
        w.start()
        layout = w.make_medium(os.path.join(w.root, "outside", "layout"))
        write(os.path.join(layout, "autorun.inf"), AUTORUN)
        drive, _ = disc_from_image(w, layout)
        self.assertEqual(snapshot(drive), snapshot(layout), "the image's Joliet tree is not the layout")
        cmd, cwd = viewer_command(w.win(w.temp_copy), "E:")

        first = w.run("", exe="E:\\VIEWER\\bin\\ZelvoLauncher.exe")
        self.assertEnded(first)
        self.assertEqual(first.boxes, [])
        self.assertEqual(snapshot(w.temp_copy), w.expected_copy(layout), "no exact copy installed")
        self.assertEqual([(v["cmd"], v["cwd"]) for v in first.viewer], [(cmd, cwd)])

        installed = snapshot(w.temp_copy)
        second = w.run("", exe="E:\\VIEWER\\bin\\ZelvoLauncher.exe")
        self.assertEnded(second)
        self.assertEqual([(v["cmd"], v["cwd"]) for v in second.viewer], [(cmd, cwd)])
        self.assertEqual(snapshot(w.temp_copy), installed, "the up-to-date copy was copied again")
