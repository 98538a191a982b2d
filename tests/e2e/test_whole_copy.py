"""A copy folder only ever holds a whole copy, under faults that Wine's shell
does not report: a medium file nobody can read, a medium taken away part way
through the copy, and the old viewer still running from the copy that is to
go. Shares the prefix and expectations of test_e2e."""

import os
import threading
import time

import test_e2e
from test_e2e import E2ETest, LAUNCHER_E, OLD
from zelvo_e2e import COPY_NAME, snapshot


def W():
    return test_e2e.W


setUpModule = test_e2e.setUpModule
tearDownModule = test_e2e.tearDownModule


class WholeCopyTests(E2ETest):
    group = "whole_copy"
    FILES, SIZE = 300, 2048

    def assertFailureRemembered(self, medium):
        """The next launches from this disc start from it at once, without
        copying for nothing, even though a copy could now be made; "/REPAIR"
        tries all the same, and then the copy is used."""
        for _ in range(2):
            res = W().run("", exe=LAUNCHER_E)
            self.assertEnded(res)
            self.assertViewerFrom(res, "E:")
            self.assertIsNone(snapshot(W().temp_copy), "copied again within the day")
        res = W().run("/REPAIR", exe=LAUNCHER_E)
        self.assertEnded(res)
        self.assertNoBox(res)
        self.assertNextLaunchUses(W().temp_copy, medium)

    def test_unreadable_medium_file(self):
        # A scratch: another program holds one file of the disc open without sharing.
        medium = W().medium_on("e")
        holder = W().hold_open(os.environ["ZELVO_E2E_HOLDOPEN"], "E:\\VIEWER\\help\\index.htm")
        try:
            res = W().run("", exe=LAUNCHER_E)
        finally:
            W().release(holder)
        self.assertEnded(res)
        self.assertNoBox(res)
        self.assertViewerFrom(res, "E:")
        self.assertNothingPartial(medium)
        self.assertIsNone(snapshot(W().temp_copy), "a copy without the unreadable file")
        self.assertFailureRemembered(medium)

    def test_medium_taken_out_part_way(self):
        medium = W().medium_on("e", big_files=self.FILES, big_size=self.SIZE)
        taken_out = medium + ".out"
        results = {}

        def launch():
            results["res"] = W().run("", exe=LAUNCHER_E, timeout=180)

        runner = threading.Thread(target=launch)
        runner.start()
        deadline = time.time() + 120
        while runner.is_alive() and time.time() < deadline:
            copied = sum(len(f) for _, _, f in os.walk(W().temp_base))
            if copied >= self.FILES // 3:
                os.rename(medium, taken_out)  # the drive is still there, its disc is not
                break
            time.sleep(0.01)
        runner.join()
        self.assertTrue(os.path.isdir(taken_out), "the copy ended before the disc could be taken out")
        res = results["res"]
        self.assertEnded(res)
        self.assertNoBox(res)
        os.rename(taken_out, medium)
        self.assertNothingPartial(medium)
        self.assertIsNone(snapshot(W().temp_copy), "a copy of part of the disc")
        # Any viewer started came from the disc (it was gone: nothing started).
        for v in res.viewer:
            self.assertTrue(v["cmd"].startswith('"E:'), v)
        self.assertFailureRemembered(medium)

    def run_while_the_old_viewer_runs(self, args):
        """An old shared copy whose viewer another program holds open, as the
        running viewer does, while the launcher runs with args."""
        medium = W().medium_on("e")
        W().make_shared_writable()
        W().make_copy(W().shared_copy, OLD)
        before = {W().shared_copy: snapshot(W().shared_copy)}
        viewer = W().win(os.path.join(W().shared_copy, "VIEWER", "bin", "KiroZelvo.exe"))
        holder = W().hold_open(os.environ["ZELVO_E2E_HOLDOPEN"], viewer)
        try:
            res = W().run(args, exe=LAUNCHER_E)
        finally:
            W().release(holder)
        self.assertEnded(res)
        self.assertNoBox(res)
        self.assertNothingPartial(medium, before)
        return medium, res

    def test_newer_disc_while_the_old_viewer_runs(self):
        medium, res = self.run_while_the_old_viewer_runs("")
        # Wine lets the old copy leave its name while a file in it is open,
        # so the new copy takes its place; Windows keeps it whole and starts the disc.
        self.assertStartedFromCompleteCopy(res, medium)
        self.assertNextLaunchUses(W().shared_copy, medium)

    def test_delete_while_the_old_viewer_runs(self):
        medium, res = self.run_while_the_old_viewer_runs("/DELETE")
        self.assertNoViewer(res)
        self.assertNextLaunchUses(W().shared_copy, medium)
        self.assertEqual(os.listdir(W().shared_base), [COPY_NAME], "the deletion's leftover is gone")
