"""A copy that has lost files since it was installed (a temp cleaner, a virus
scanner) is never started: the next launch replaces it. Files added to a copy
change nothing. Shares the prefix and expectations of test_e2e."""

import os

import test_e2e
from test_e2e import E2ETest, LAUNCHER_E
from zelvo_e2e import snapshot, write


def W():
    return test_e2e.W


setUpModule = test_e2e.setUpModule
tearDownModule = test_e2e.tearDownModule


class DamagedCopyTests(E2ETest):
    group = "damaged_copy"

    def install_temp_copy(self):
        """A fresh prefix has no shared location: the first launch installs
        the copy in the temp folder and starts the viewer from it."""
        medium = W().medium_on("e")
        res = W().run("", exe=LAUNCHER_E)
        self.assertEnded(res)
        self.assertViewerFrom(res, W().win(W().temp_copy))
        self.assertCopyOf(W().temp_copy, medium)
        return medium

    def damage(self, *rel_paths, empty=()):
        for rel in rel_paths:
            os.unlink(os.path.join(W().temp_copy, *rel.split("\\")))
        for rel in empty:
            open(os.path.join(W().temp_copy, *rel.split("\\")), "wb").close()

    def test_lost_files_stamp_and_viewer_kept(self):
        # What a temp cleaner leaves: the files each start touches.
        medium = self.install_temp_copy()
        self.damage("VIEWER\\help\\index.htm", "VIEWER\\help\\img\\logo.png", "kiro\\KiroPageHolder.exe")
        self.assertNextLaunchUses(W().temp_copy, medium)

    def test_emptied_file(self):
        medium = self.install_temp_copy()
        self.damage(empty=["VIEWER\\bin\\kzcore.dll"])
        self.assertNextLaunchUses(W().temp_copy, medium)

    def test_added_file_changes_nothing(self):
        self.install_temp_copy()
        write(os.path.join(W().temp_copy, "VIEWER", "bin", "Thumbs.db"), b"thumbnails")
        before = snapshot(W().temp_copy)
        res = W().run("", exe=LAUNCHER_E)
        self.assertEnded(res)
        self.assertViewerFrom(res, W().win(W().temp_copy))
        self.assertEqual(snapshot(W().temp_copy), before, "the copy was replaced")

    def test_damaged_temp_copy_is_not_moved(self):
        # The shared location has become writable: a whole temp copy would
        # move there, a damaged one is deleted and a fresh copy made instead.
        medium = self.install_temp_copy()
        self.damage("VIEWER\\readme.txt")
        W().make_shared_writable()
        res = W().run("", exe=LAUNCHER_E)
        self.assertEnded(res)
        self.assertNoBox(res)
        self.assertViewerFrom(res, W().win(W().shared_copy))
        self.assertCopyOf(W().shared_copy, medium)
        self.assertIsNone(snapshot(W().temp_copy), "the damaged copy is deleted")
