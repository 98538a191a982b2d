"""A copy another user could have written is never started. Wine makes a
folder's owner and access list from its Unix owner and mode: a folder of
another Unix user is owned by another account, and one of mode 0777 lets
every user change it. The medium is on the floppy-type drive F:, from which
nothing is copied, so the viewer starts from the copy found or the medium.
Shares the prefix and expectations of test_e2e."""

import os
import unittest

import test_e2e
from test_e2e import E2ETest, LAUNCHER_F
from zelvo_e2e import MEDIA_VERSION, snapshot

setUpModule = test_e2e.setUpModule
tearDownModule = test_e2e.tearDownModule

NOBODY = 65534  # a Unix user other than the one Wine runs as


def W():
    return test_e2e.W


class TrustTests(E2ETest):
    group = "trust"

    def plant(self, copy, untrusted):
        W().make_copy(copy, MEDIA_VERSION)
        if untrusted == "owner":
            if os.geteuid() != 0:
                self.skipTest("giving a folder to another Unix user needs root")
            os.chown(copy, NOBODY, NOBODY)
        else:
            os.chmod(copy, 0o777)

    def assertNotStarted(self, copy):
        W().medium_on("f")
        before = snapshot(copy)
        res = W().run("", exe=LAUNCHER_F)
        self.assertEnded(res)
        self.assertViewerFrom(res, "F:", "F:")
        self.assertEqual(snapshot(copy), before, "nothing copied from a removable drive, nothing deleted")

    def test_shared_copy_of_another_user(self):
        W().make_shared_writable()
        self.plant(W().shared_copy, "owner")
        self.assertNotStarted(W().shared_copy)

    def test_shared_copy_every_user_may_change(self):
        W().make_shared_writable()
        self.plant(W().shared_copy, "mode")
        self.assertNotStarted(W().shared_copy)

    def test_profile_copy_of_another_user(self):
        self.plant(W().profile_copy("bob"), "owner")
        self.assertNotStarted(W().profile_copy("bob"))

    def test_profile_copy_every_user_may_change(self):
        self.plant(W().profile_copy("bob"), "mode")
        self.assertNotStarted(W().profile_copy("bob"))


if __name__ == "__main__":
    unittest.main()
