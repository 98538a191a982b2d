"""End-to-end test of a disc made by scripts/disc.py (run through run_e2e.py):
the image of a sample layout, read back through its Joliet tree (the names
Windows reads) and laid out read-only in the optical drive E:."""

import os
import shutil
import subprocess
import sys

from zelvo_e2e import LauncherTestCase, WinePrefix, snapshot, viewer_command, write

HERE = os.path.dirname(os.path.abspath(__file__))
DISC = os.path.join(HERE, "..", "..", "scripts", "disc.py")
AUTORUN = "[autorun]\r\nopen=VIEWER\\bin\\ZelvoLauncher.exe\r\nicon=VIEWER\\bin\\ZelvoLauncher.exe,0\r\n"
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


def disc_from_image(w, layout, letter="e"):
    """Makes the image of a layout with disc.py, reads its Joliet tree back
    with xorriso into a read-only folder (a read-only tmpfs where this
    machine allows) and puts that in the drive. Returns the image's output."""
    iso = layout.rstrip("/") + ".iso"
    args = ["--allow-x64"] if w.arch == "x64" else []
    r = subprocess.run([sys.executable, DISC, "image", layout, iso] + args,
                       capture_output=True, text=True)
    if r.returncode:
        raise AssertionError("disc.py image failed:\n" + r.stdout + r.stderr)
    drive = w.mount_tmpfs("disc-" + letter, "16m") or os.path.join(w.root, "media", letter)
    subprocess.run(["xorriso", "-no_rc", "-osirrox", "on", "-read_fs", "norock", "-indev", iso,
                    "-extract", "/", drive], check=True, capture_output=True)
    os.remove(iso)
    subprocess.run(["chmod", "-R", "a-w", drive], check=True)
    if drive.startswith(os.path.join(w.root, "mnt")):
        w.remount_read_only(drive)
    w.map_drive(letter, drive)
    return drive


class DiscImageTests(LauncherTestCase):
    group = "disc_image"

    def setUp(self):
        if not shutil.which("xorriso"):
            self.skipTest("xorriso is not installed (scripts/install-deps.sh installs it)")
        W.reset()

    def test_launches_from_the_image(self):
        layout = W.make_medium(os.path.join(W.root, "outside", "layout"))
        write(os.path.join(layout, "autorun.inf"), AUTORUN)
        drive = disc_from_image(W, layout)
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
