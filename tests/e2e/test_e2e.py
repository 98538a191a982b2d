"""End-to-end tests of ZelvoLauncher.exe under Wine (run through run_e2e.py).

All tests of one process share one Wine prefix; every test starts from the
fresh state that WinePrefix.reset() restores. The medium of most tests is a
disc in the optical drive E:, version 3.2.0.15."""

import os
import subprocess
import threading
import time
import unittest

from zelvo_e2e import (COPY_NAME, HELP_CAPTION, HELP_TEXT, MEDIA_VERSION, RECORD_NAME,
                       REPAIR_CAPTION, REPAIR_TEXT, LauncherTestCase, WinePrefix, snapshot,
                       viewer_command, wine_program, write)

W = None

OLD = "3.1.9"        # older than the medium
NEWER = "3.2.0.16"   # newer than the medium
LAUNCHER_E = "E:\\VIEWER\\bin\\ZelvoLauncher.exe"
LAUNCHER_F = "F:\\VIEWER\\bin\\ZelvoLauncher.exe"


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


class E2ETest(LauncherTestCase):
    group = None

    def setUp(self):
        W.reset()

    def assertNoBox(self, res):
        self.assertEqual(res.boxes, [], "unexpected message box")

    def assertNoViewer(self, res):
        self.assertEqual(res.viewer, [], "the viewer was started")

    def assertViewerFrom(self, res, folder_win, media_root_win="E:"):
        """Exactly one viewer start, from folder_win, with the exact command
        line, working folder and SW_SHOW."""
        cmd, cwd = viewer_command(folder_win, media_root_win)
        self.assertEqual(len(res.viewer), 1, "viewer starts: %r" % res.viewer)
        v = res.viewer[0]
        self.assertEqual(v["cmd"], cmd)
        self.assertEqual(v["cwd"], cwd)
        self.assertEqual(v["flags"], "1", "STARTF_USESHOWWINDOW only")
        self.assertEqual(v["show"], "5", "SW_SHOW")

    def assertCopyOf(self, host_copy, medium_root):
        """The copy folder holds the medium's VIEWER tree and the companion,
        byte for byte, and nothing else."""
        self.assertEqual(snapshot(host_copy), W.expected_copy(medium_root))

    def assertStartedFromCompleteCopy(self, res, medium, media_root_win="E:"):
        """One viewer start, from the medium or from a copy folder on C: that
        holds a complete copy of this medium."""
        self.assertEqual(len(res.viewer), 1, res.viewer)
        exe = res.viewer[0]["exe"]
        suffix = "\\VIEWER\\bin\\KiroZelvo.exe"
        self.assertTrue(exe.endswith(suffix), exe)
        folder = exe[:-len(suffix)]
        self.assertViewerFrom(res, folder, media_root_win)
        if folder.upper() != media_root_win.upper():
            self.assertEqual(snapshot(W.host(folder)), W.expected_copy(medium),
                             "viewer started from an incomplete copy " + folder)

    def assertNothingPartial(self, medium, before=None):
        """The shared and temp copy folders hold nothing, a complete copy of
        the medium, or what `before` (folder -> snapshot) says they held; no
        staging folder is left."""
        complete = W.expected_copy(medium)
        for folder in (W.shared_copy, W.temp_copy):
            held = snapshot(folder)
            allowed = [None, complete] + ([before[folder]] if before and folder in before else [])
            self.assertTrue(held in allowed, "a partial copy in %s: %d of %d entries"
                            % (folder, len(held or {}), len(complete)))
        for base in (W.shared_base, W.temp_base):
            if os.path.isdir(base):
                self.assertNotIn(COPY_NAME + ".partial", os.listdir(base), "leftover in " + base)

    def assertNextLaunchUses(self, copy, medium):
        res = W.run("", exe=LAUNCHER_E, timeout=180)
        self.assertEnded(res)
        self.assertNoBox(res)
        self.assertViewerFrom(res, W.win(copy))
        self.assertTrue(snapshot(copy) == W.expected_copy(medium), "incomplete " + copy)

    def assertNoDvt(self, *extra):
        self.assertEqual(W.dvt_leftovers(extra), [], "writability test files left behind")

    def all_locations(self):
        """What every copy location holds now (for 'nothing changed' checks)."""
        return {
            "shared": snapshot(W.shared_base),
            "temp": snapshot(W.temp_base),
            "profiles": {n: snapshot(os.path.join(W.users, n, "Local Settings"))
                         for n in sorted(os.listdir(W.users))},
        }


class DispatchTests(E2ETest):
    """The command word picks one of five behaviours; the state before each
    run makes every behaviour visible: a disc in E:, a writable shared
    location without a copy, and an out-of-date copy in the temp location."""
    group = "dispatch"

    CASES = [
        # (argument text after element 0, element 0 or None, behaviour)
        ("", None, "launch"),
        ('""', None, "launch"),
        ("/LAUNCH", None, "launch"),
        ("/launch", None, "launch"),
        ("REPAIR", None, "launch"),
        ('"/REPAIR "', None, "launch"),
        ("/DELETEALL", None, "launch"),
        ("/help", None, "help"),
        ("/Help", None, "help"),
        ("/HELP", None, "help"),
        ("/?", None, "help"),
        ("/HELP /DELETE", None, "help"),
        ("/delete", None, "delete"),
        ("/DELETE", None, "delete"),
        ("/Delete extra words here", None, "delete"),
        ("/Repair", None, "repair"),
        ("/REPAIR", None, "repair"),
        ("/repair /DELETE", None, "repair"),
        ("-regserver", None, "nothing"),
        ("-REGSERVER", None, "nothing"),
        ("-RegServer /DELETE", None, "nothing"),
        ("/DELETE", "-REGSERVER", "nothing"),
        ("", "-regserver", "nothing"),
        ("/REPAIR", "-RegServer", "nothing"),
    ]

    def test_commands(self):
        for args, argv0, behaviour in self.CASES:
            with self.subTest(args=args, argv0=argv0, behaviour=behaviour):
                W.reset()
                medium = W.medium_on("e")
                W.make_shared_writable()
                W.make_copy(W.temp_copy, OLD, tag="stale temp")
                before = self.all_locations()
                res = W.run(args, exe=LAUNCHER_E, argv0=argv0)
                self.assertEnded(res)
                if behaviour == "help":
                    self.assertEqual(res.boxes, [(HELP_CAPTION, HELP_TEXT)])
                else:
                    self.assertNoBox(res)
                if behaviour in ("help", "nothing"):
                    self.assertNoViewer(res)
                    self.assertEqual(self.all_locations(), before, "the disk changed")
                elif behaviour == "launch":
                    # stale temp copy deleted, fresh copy in the shared location
                    self.assertViewerFrom(res, W.win(W.shared_copy))
                    self.assertCopyOf(W.shared_copy, medium)
                    self.assertFalse(os.path.lexists(W.temp_copy))
                elif behaviour == "delete":
                    self.assertNoViewer(res)
                    self.assertFalse(os.path.lexists(W.temp_copy))
                    self.assertFalse(os.path.lexists(W.shared_copy))
                elif behaviour == "repair":
                    self.assertNoViewer(res)
                    self.assertFalse(os.path.lexists(W.temp_copy))
                    self.assertCopyOf(W.shared_copy, medium)
                self.assertNoDvt()


class ViewerStartTests(E2ETest):
    group = "viewer_start"

    def test_fixed_drive_folder_with_spaces(self):
        # A medium copied into D:\Discs\Study 7 on a fixed drive: started from
        # there at once, the data value unquoted; no location read or written.
        droot = W.empty_dir("d")
        medium = os.path.join(droot, "Discs", "Study 7")
        W.make_medium(medium)
        W.make_shared_writable()
        W.make_copy(W.shared_copy, OLD, tag="stale shared")
        W.make_copy(W.temp_copy, MEDIA_VERSION, tag="current temp")
        before = self.all_locations()
        res = W.run("", exe="D:\\Discs\\Study 7\\VIEWER\\bin\\ZelvoLauncher.exe")
        self.assertEnded(res)
        self.assertNoBox(res)
        v = res.viewer
        self.assertEqual(len(v), 1, v)
        self.assertEqual(v[0]["cmd"],
                         '"D:\\Discs\\Study 7\\VIEWER\\bin\\KiroZelvo.exe" data=D:\\Discs\\Study 7\\')
        self.assertEqual(v[0]["cwd"], "D:\\Discs\\Study 7\\VIEWER\\bin")
        self.assertEqual((v[0]["flags"], v[0]["show"]), ("1", "5"))
        self.assertEqual(self.all_locations(), before)
        self.assertNoDvt()

    def test_launcher_started_hidden_or_minimised_still_shows_viewer(self):
        medium = os.path.join(W.empty_dir("d"), "Discs", "Study 7")
        W.make_medium(medium)
        for show in (0, 2, 7):   # SW_HIDE, SW_SHOWMINIMIZED, SW_SHOWMINNOACTIVE
            with self.subTest(show=show):
                res = W.run("", exe="D:\\Discs\\Study 7\\VIEWER\\bin\\ZelvoLauncher.exe", show=show)
                self.assertEnded(res)
                self.assertViewerFrom(res, "D:\\Discs\\Study 7", "D:\\Discs\\Study 7")


class LaunchTests(E2ETest):
    group = "launch"

    def test_fresh_prefix_installs_into_temp(self):
        # Wine's fresh prefix has no C:\users\Public\Application Data, so the
        # shared location is not writable and the temp location gets the copy.
        medium = W.medium_on("e")
        res = W.run("", exe=LAUNCHER_E)
        self.assertEnded(res)
        self.assertNoBox(res)
        self.assertCopyOf(W.temp_copy, medium)
        self.assertFalse(os.path.lexists(W.shared_base))
        self.assertViewerFrom(res, W.win(W.temp_copy))
        self.assertNoDvt()

    def test_writable_shared_location_gets_the_copy(self):
        medium = W.medium_on("e")
        W.make_shared_writable()
        res = W.run("", exe=LAUNCHER_E)
        self.assertEnded(res)
        self.assertNoBox(res)
        self.assertCopyOf(W.shared_copy, medium)
        self.assertFalse(os.path.lexists(W.temp_copy))
        self.assertViewerFrom(res, W.win(W.shared_copy))
        self.assertNoDvt()

    def test_up_to_date_shared_copy_is_used_as_is(self):
        for version in (MEDIA_VERSION, NEWER, MEDIA_VERSION + ".0"):
            with self.subTest(version=version):
                W.reset()
                W.medium_on("e")
                W.make_copy(W.shared_copy, version, tag="shared")
                W.make_copy(W.temp_copy, OLD, tag="stale temp")
                before = self.all_locations()
                res = W.run("", exe=LAUNCHER_E)
                self.assertEnded(res)
                self.assertNoBox(res)
                self.assertViewerFrom(res, W.win(W.shared_copy))
                self.assertEqual(self.all_locations(), before, "nothing may be copied or deleted")
                self.assertNoDvt()

    def test_out_of_date_shared_copy_is_replaced_in_place(self):
        for version in (OLD, "3.2", "3.2.0.9"):
            with self.subTest(version=version):
                W.reset()
                medium = W.medium_on("e")
                W.make_copy(W.shared_copy, version, tag="old shared")
                res = W.run("", exe=LAUNCHER_E)
                self.assertEnded(res)
                self.assertNoBox(res)
                self.assertCopyOf(W.shared_copy, medium)
                self.assertFalse(os.path.lexists(W.temp_copy))
                self.assertViewerFrom(res, W.win(W.shared_copy))
                self.assertNoDvt()

    def test_up_to_date_copy_elsewhere_is_moved_into_shared_location(self):
        # Windows merges a moved folder into the empty target folder created
        # first; Wine 8's FO_MOVE does nothing there, so this needs the
        # launcher not to leave an empty folder in the way.
        for where in ("temp", "profile"):
            with self.subTest(source=where):
                W.reset()
                W.medium_on("e")
                W.make_shared_writable()
                src = W.temp_copy if where == "temp" else W.profile_copy("Other")
                W.make_copy(src, MEDIA_VERSION, tag="moved copy")
                moved = snapshot(src)
                res = W.run("", exe=LAUNCHER_E)
                self.assertEnded(res)
                self.assertNoBox(res)
                held = snapshot(W.shared_copy)
                # An older launcher's copy gets its record as it moves in.
                self.assertIn(RECORD_NAME, held or {})
                del held[RECORD_NAME]
                self.assertEqual(held, moved, "the copy was not moved as it is")
                self.assertFalse(os.path.lexists(src), "the old copy is still there")
                self.assertViewerFrom(res, W.win(W.shared_copy))
                self.assertNoDvt()

    def test_stale_copies_are_deleted_when_copying(self):
        medium = W.medium_on("e")
        W.make_copy(W.temp_copy, OLD, tag="stale temp")
        W.make_copy(W.profile_copy("Other"), "1.0", tag="stale profile")
        W.make_copy(W.profile_copy(W.user), None, tag="no stamp")  # left alone
        unstamped = snapshot(W.profile_copy(W.user))
        res = W.run("", exe=LAUNCHER_E)
        self.assertEnded(res)
        self.assertCopyOf(W.temp_copy, medium)
        self.assertFalse(os.path.lexists(W.profile_copy("Other")))
        self.assertEqual(snapshot(W.profile_copy(W.user)), unstamped)
        self.assertViewerFrom(res, W.win(W.temp_copy))
        self.assertNoDvt()

    def test_up_to_date_temp_copy_without_writable_shared_location(self):
        W.medium_on("e")
        W.make_copy(W.temp_copy, MEDIA_VERSION, tag="temp")
        before = self.all_locations()
        res = W.run("", exe=LAUNCHER_E)
        self.assertEnded(res)
        self.assertViewerFrom(res, W.win(W.temp_copy))
        self.assertEqual(self.all_locations(), before)

    def test_removable_medium_copies_nothing(self):
        # A medium in a floppy-type drive: no copy made, none deleted; the
        # viewer starts from the best up-to-date copy, else from the medium.
        cases = [
            ("no copies", {}, "F:"),
            ("temp copy up to date", {"temp": MEDIA_VERSION}, "temp"),
            ("profile copy up to date", {"profile": MEDIA_VERSION, "shared": OLD}, "profile"),
            ("all out of date", {"shared": OLD, "temp": OLD}, "F:"),
            ("shared first", {"shared": MEDIA_VERSION, "temp": MEDIA_VERSION}, "shared"),
        ]
        for name, copies, expected in cases:
            with self.subTest(name):
                W.reset()
                W.medium_on("f")
                W.make_shared_writable()
                paths = {"shared": W.shared_copy, "temp": W.temp_copy,
                         "profile": W.profile_copy(W.user)}
                for where, version in copies.items():
                    W.make_copy(paths[where], version, tag=where)
                before = self.all_locations()
                res = W.run("", exe=LAUNCHER_F)
                self.assertEnded(res)
                self.assertNoBox(res)
                self.assertEqual(self.all_locations(), before)
                folder = expected if expected == "F:" else W.win(paths[expected])
                self.assertViewerFrom(res, folder, "F:")
                self.assertNoDvt()

    def test_no_writable_location(self):
        # The temp folder does not exist and the shared base is missing: no
        # target, so the stale copies stay and the viewer runs from the disc.
        W.medium_on("e")
        W.make_copy(W.profile_copy(W.user), OLD, tag="stale profile")
        before = self.all_locations()
        res = W.run("", exe=LAUNCHER_E, env={"TMP": "C:\\missing\\tmp", "TEMP": "C:\\missing\\tmp"})
        self.assertEnded(res)
        self.assertNoBox(res)
        self.assertEqual(self.all_locations(), before)
        self.assertViewerFrom(res, "E:")

    def test_read_only_temp_volume(self):
        ro = W.mount_tmpfs("ro", "1m")
        if not ro:
            self.skipTest("cannot mount a tmpfs here (needs root)")
        os.makedirs(os.path.join(ro, "tmp"))
        if not W.remount_read_only(ro):
            self.skipTest("cannot remount the tmpfs read-only")
        W.map_drive("t", ro)
        W.medium_on("e")
        res = W.run("", exe=LAUNCHER_E, env={"TMP": "T:\\tmp", "TEMP": "T:\\tmp"})
        self.assertEnded(res)
        self.assertNoBox(res)
        self.assertEqual(os.listdir(os.path.join(ro, "tmp")), [])
        self.assertViewerFrom(res, "E:")

    def test_no_room_on_the_target_volume(self):
        # The temp folder lives on a 1 MB tmpfs; the VIEWER tree needs 2 MB.
        small = W.mount_tmpfs("small", "1m")
        if not small:
            self.skipTest("cannot mount a tmpfs here (needs root)")
        os.makedirs(os.path.join(small, "tmp"))
        W.map_drive("t", small)
        W.medium_on("e", big_files=4, big_size=500 * 1024)
        W.make_copy(W.profile_copy(W.user), OLD, tag="stale profile")
        res = W.run("", exe=LAUNCHER_E, env={"TMP": "T:\\tmp", "TEMP": "T:\\tmp"})
        self.assertEnded(res)
        self.assertNoBox(res)
        self.assertEqual(os.listdir(os.path.join(small, "tmp")), [], "nothing may be copied")
        # the stale copy is deleted before the space check
        self.assertFalse(os.path.lexists(W.profile_copy(W.user)))
        self.assertViewerFrom(res, "E:")
        self.assertNoDvt(os.path.join(small, "tmp"))

    def test_locked_media_stamp_counts_as_no_version(self):
        # The disc's stamp is held open without sharing: the launcher reads no
        # media version, so any stamped copy counts as up to date, even an old one.
        W.medium_on("e")
        W.make_shared_writable()
        W.make_copy(W.temp_copy, OLD, tag="old temp")
        before = self.all_locations()
        holder = W.hold_open(os.environ["ZELVO_E2E_HOLDOPEN"], "E:\\VIEWER\\bin\\Version.txt")
        try:
            res = W.run("", exe=LAUNCHER_E)
        finally:
            W.release(holder)
        self.assertEnded(res)
        self.assertNoBox(res)
        self.assertFalse(os.path.lexists(W.temp_copy))
        self.assertViewerFrom(res, W.win(W.shared_copy))
        tag = os.path.join(COPY_NAME, "VIEWER", "tag.txt")
        self.assertEqual((self.all_locations()["shared"] or {}).get(tag), before["temp"][tag],
                         "the old temp copy is moved into the shared location")

    def test_second_launch_uses_the_copy(self):
        medium = W.medium_on("e")
        first = W.run("", exe=LAUNCHER_E)
        self.assertEnded(first)
        self.assertCopyOf(W.temp_copy, medium)
        # mark the copy: a second launch must not copy again
        write(os.path.join(W.temp_copy, "VIEWER", "mark.txt"), "keep")
        before = self.all_locations()
        second = W.run("", exe=LAUNCHER_E)
        self.assertEnded(second)
        self.assertViewerFrom(second, W.win(W.temp_copy))
        self.assertEqual(self.all_locations(), before)


class DeleteRepairTests(E2ETest):
    group = "delete_repair"

    def place_every_kind_of_copy(self):
        W.make_shared_writable()
        W.make_copy(W.shared_copy, MEDIA_VERSION, tag="shared")
        W.make_copy(W.temp_copy, OLD, tag="temp")
        W.make_copy(W.profile_copy(W.user), NEWER, tag="own profile")
        W.make_copy(W.profile_copy("Other"), None, tag="no stamp")
        W.make_copy(W.profile_copy("Third"), "0.1", tag="third")
        return [W.shared_copy, W.temp_copy, W.profile_copy(W.user),
                W.profile_copy("Other"), W.profile_copy("Third")]

    def test_delete_removes_every_copy(self):
        W.medium_on("e")
        copies = self.place_every_kind_of_copy()
        keep = os.path.join(W.users, "Other", "Local Settings", "Temp", "unrelated.txt")
        write(keep, "not ours")
        res = W.run("/DELETE", exe=LAUNCHER_E)
        self.assertEnded(res)
        self.assertNoBox(res)
        self.assertNoViewer(res)
        for c in copies:
            self.assertFalse(os.path.lexists(c), c)
        self.assertTrue(os.path.exists(keep))
        self.assertTrue(os.path.isdir(W.shared_base))

    def test_delete_without_copies_is_quiet(self):
        W.medium_on("e")
        res = W.run("/delete", exe=LAUNCHER_E)
        self.assertEnded(res)
        self.assertNoBox(res)
        self.assertNoViewer(res)

    def test_repair_makes_a_fresh_copy(self):
        medium = W.medium_on("e")
        copies = self.place_every_kind_of_copy()
        res = W.run("/REPAIR", exe=LAUNCHER_E)
        self.assertEnded(res)
        self.assertNoBox(res)
        self.assertNoViewer(res)
        self.assertCopyOf(W.shared_copy, medium)
        for c in copies[1:]:
            self.assertFalse(os.path.lexists(c), c)
        self.assertNoDvt()

    def test_repair_into_temp_on_a_fresh_prefix(self):
        medium = W.medium_on("e")
        res = W.run("/REPAIR", exe=LAUNCHER_E)
        self.assertEnded(res)
        self.assertNoBox(res)
        self.assertNoViewer(res)
        self.assertCopyOf(W.temp_copy, medium)

    def test_repair_from_a_fixed_drive_copies(self):
        medium = os.path.join(W.empty_dir("d"), "Discs", "Study 7")
        W.make_medium(medium)
        res = W.run("/REPAIR", exe="D:\\Discs\\Study 7\\VIEWER\\bin\\ZelvoLauncher.exe")
        self.assertEnded(res)
        self.assertNoBox(res)
        self.assertNoViewer(res)
        self.assertCopyOf(W.temp_copy, medium)

    def test_repair_run_from_a_copy_deletes_nothing(self):
        medium = W.medium_on("e")
        self.assertEnded(W.run("", exe=LAUNCHER_E))
        self.assertCopyOf(W.temp_copy, medium)
        res = W.run("/REPAIR", exe=W.win(W.temp_copy) + "\\VIEWER\\bin\\ZelvoLauncher.exe")
        self.check_repair_failure(res, [])
        self.assertCopyOf(W.temp_copy, medium)

    def check_repair_failure(self, res, gone):
        self.assertEnded(res)
        self.assertEqual(res.boxes, [(REPAIR_CAPTION, REPAIR_TEXT)])
        self.assertNoViewer(res)
        for c in gone:
            self.assertFalse(os.path.lexists(c), c)
        self.assertNoDvt()

    def test_repair_fails_on_a_removable_medium(self):
        W.medium_on("f")
        copies = self.place_every_kind_of_copy()
        res = W.run("/Repair", exe=LAUNCHER_F)
        self.check_repair_failure(res, copies)

    def test_repair_fails_without_writable_location(self):
        W.medium_on("e")
        W.make_copy(W.profile_copy(W.user), OLD)
        res = W.run("/REPAIR", exe=LAUNCHER_E,
                    env={"TMP": "C:\\missing\\tmp", "TEMP": "C:\\missing\\tmp"})
        self.check_repair_failure(res, [W.profile_copy(W.user)])
        self.assertFalse(os.path.lexists(W.shared_base))

    def test_repair_fails_without_room(self):
        small = W.mount_tmpfs("small", "1m")
        if not small:
            self.skipTest("cannot mount a tmpfs here (needs root)")
        os.makedirs(os.path.join(small, "tmp"))
        W.map_drive("t", small)
        W.medium_on("e", big_files=4, big_size=500 * 1024)
        res = W.run("/REPAIR", exe=LAUNCHER_E, env={"TMP": "T:\\tmp", "TEMP": "T:\\tmp"})
        self.check_repair_failure(res, [])
        self.assertEqual(os.listdir(os.path.join(small, "tmp")), [])

    def test_repair_fails_when_the_companion_is_missing(self):
        W.medium_on("e", companion=False)
        res = W.run("/REPAIR", exe=LAUNCHER_E)
        self.check_repair_failure(res, [])


class FolderLinkTests(E2ETest):
    """Host symlinks look like folder links (reparse points) to Windows
    programs. What lies behind a link must survive delete and replace, and
    nothing may be copied through a link."""
    group = "folder_links"

    def outside(self, name, version):
        d = os.path.join(W.root, "outside", name)
        W.make_copy(d, version, tag="behind the link " + name)
        write(os.path.join(d, "precious", "photo.jpg"), os.urandom(4000))
        return d

    def copy_is_link(self):
        target = self.outside("linked-copy", OLD)
        W.make_shared_writable()
        os.symlink(target, W.shared_copy)
        return target

    def copy_holds_link(self):
        target = os.path.join(W.root, "outside", "plugins")
        write(os.path.join(target, "plugin.dll"), os.urandom(3000))
        write(os.path.join(target, "sub", "data.bin"), os.urandom(100))
        W.make_shared_writable()
        W.make_copy(W.shared_copy, OLD, tag="stale with a link inside")
        os.symlink(target, os.path.join(W.shared_copy, "VIEWER", "plugins"))
        return target

    def check(self, command, setup, box_allowed=False):
        self.medium = W.medium_on("e")
        target = setup()
        before = snapshot(target)
        res = W.run(command, exe=LAUNCHER_E)
        self.assertEnded(res)
        if not box_allowed:
            self.assertNoBox(res)
        self.assertEqual(snapshot(target), before, "the folder behind the link changed")
        return res

    def test_delete_copy_folder_that_is_a_link(self):
        res = self.check("/DELETE", self.copy_is_link)
        self.assertNoViewer(res)

    def test_delete_copy_folder_holding_a_link(self):
        res = self.check("/DELETE", self.copy_holds_link)
        self.assertNoViewer(res)

    def test_launch_over_copy_folder_that_is_a_link(self):
        res = self.check("", self.copy_is_link)
        self.assertStartedFromCompleteCopy(res, self.medium)

    def test_launch_over_copy_folder_holding_a_link(self):
        res = self.check("", self.copy_holds_link)
        self.assertStartedFromCompleteCopy(res, self.medium)

    def test_repair_over_copy_folder_that_is_a_link(self):
        # Windows removes a folder link itself; under Wine a program cannot,
        # so the link stays in the way and the repair may only report failure.
        res = self.check("/REPAIR", self.copy_is_link, box_allowed=True)
        self.assertNoViewer(res)
        if res.boxes:
            self.assertEqual(res.boxes, [(REPAIR_CAPTION, REPAIR_TEXT)])
        else:
            self.assertCopyOf(W.shared_copy, self.medium)


class InterruptedInstallTests(E2ETest):
    """The launcher killed while it copies a large VIEWER tree; the next launch
    must not start the viewer from the partial copy."""
    group = "interrupted_install"
    FILES, SIZE = 300, 200 * 1024

    def test_launch_after_killed_install(self):
        medium = W.medium_on("e", big_files=self.FILES, big_size=self.SIZE)
        threshold = self.FILES // 3

        def copy_half_done():
            # counts files anywhere in the temp folder, wherever the copy is staged
            return sum(len(f) for _, _, f in os.walk(W.temp_base)) >= threshold

        killed = W.run("", exe=LAUNCHER_E, kill_when=copy_half_done, timeout=180)
        self.assertTrue(killed.killed, "the copy ended before the harness could stop it: %r"
                        % killed)
        self.assertNotEqual(snapshot(W.temp_copy), W.expected_copy(medium),
                            "the copy was already complete when the launcher was killed")
        self.assertGreater(sum(len(f) for _, _, f in os.walk(W.temp_base)), 0,
                           "nothing was copied before the kill")
        self.assertNoViewer(killed)

        res = W.run("", exe=LAUNCHER_E, timeout=180)
        self.assertEnded(res)
        self.assertNoBox(res)
        self.assertEqual(len(res.viewer), 1, res.viewer)
        after = snapshot(W.temp_copy)
        self.assertIn(after, (None, W.expected_copy(medium)),
                      "a partial copy is left in the temp location")
        self.assertLessEqual(set(os.listdir(W.temp_base)), {COPY_NAME},
                             "leftovers of the interrupted copy in the temp folder")
        if res.viewer[0]["cmd"].startswith('"E:'):
            self.assertViewerFrom(res, "E:")
        else:
            self.assertViewerFrom(res, W.win(W.temp_copy))
            self.assertEqual(after, W.expected_copy(medium))


class ConcurrentTests(E2ETest):
    """A second launcher (a launch or /DELETE) starts while the first copies a
    VIEWER tree that takes the shell about a second. Whatever the timing, no
    copy folder may be left partial, and whichever launcher takes the lock
    second waits for the first: both launches start the viewer from the one
    copy, made once."""
    group = "concurrent"
    FILES, SIZE = 300, 2048

    def run_together(self, second_args, offset):
        """A launch and, `offset` seconds after it has started, a second
        launcher with second_args; both results once both have ended."""
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
            self.assertNoBox(results[key])
        return results["first"], results["second"]

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
                medium = W.medium_on("e", big_files=self.FILES, big_size=self.SIZE)
                if where == "shared":
                    W.make_shared_writable()
                if stale:
                    W.make_copy(W.shared_copy, OLD)
                first, second = self.run_together("", offset)
                self.assertNothingPartial(medium)
                copy = W.shared_copy if where == "shared" else W.temp_copy
                self.assertViewerFrom(first, W.win(copy))
                self.assertViewerFrom(second, W.win(copy))
                self.assertCopyOf(copy, medium)
                self.assertNextLaunchUses(copy, medium)

    def test_delete_during_a_launch(self):
        for offset in (0.3, 0.8):
            with self.subTest(offset=offset):
                W.reset()
                medium = W.medium_on("e", big_files=self.FILES, big_size=self.SIZE)
                W.make_shared_writable()
                launch, delete = self.run_together("/DELETE", offset)
                self.assertNoViewer(delete)
                self.assertNothingPartial(medium)
                # The launch starts from the copy it made, whether /DELETE ran
                # before it (nothing to delete) or after it (the copy is gone).
                self.assertViewerFrom(launch, W.win(W.shared_copy))
                self.assertNextLaunchUses(W.shared_copy, medium)


class ViewerFallbackTests(E2ETest):
    """The viewer starts from the medium when the chosen copy's viewer cannot
    be started, and when the medium's path is outside the ANSI code page
    (Wine's is 1252 here, which has no Ł). A user's temp or profile folder
    named outside it is reached by its short name."""
    group = "viewer_fallback"
    POLISH = "Badania \u0141\u00f3d\u017a"  # "Badania Łódź"
    USER = "\u0141ukasz"  # "Łukasz"

    def test_copy_whose_viewer_cannot_start(self):
        cases = [
            ("missing", None),             # quarantined by a scanner
            ("not a program", b"\0" * 4096),  # damaged
        ]
        for name, viewer_bytes in cases:
            with self.subTest(name):
                W.reset()
                W.medium_on("e")
                W.make_shared_writable()
                W.make_copy(W.shared_copy, MEDIA_VERSION, viewer=viewer_bytes is not None)
                if viewer_bytes is not None:
                    write(os.path.join(W.shared_copy, "VIEWER", "bin", "KiroZelvo.exe"), viewer_bytes)
                before = snapshot(W.shared_copy)
                res = W.run("", exe=LAUNCHER_E)
                self.assertEnded(res)
                self.assertViewerFrom(res, "E:")
                self.assertEqual(snapshot(W.shared_copy), before, "the copy is left as it was")

    def medium_outside_code_page(self, letter):
        root = W.make_medium(os.path.join(W.root, "media", letter, self.POLISH))
        W.map_drive(letter, os.path.dirname(root))
        return "%s:\\%s" % (letter.upper(), self.POLISH)

    def test_medium_in_a_folder_outside_the_code_page(self):
        def wide(record, key):
            # written as UTF-8 by the stand-in viewer, read back as Latin-1
            return record[key].encode("latin-1").decode("utf-8")

        for letter, drive in (("d", "fixed"), ("e", "optical")):
            with self.subTest(drive):
                W.reset()
                W.make_shared_writable()
                root = self.medium_outside_code_page(letter)
                before = self.all_locations()
                res = W.run("", exe=root + "\\VIEWER\\bin\\ZelvoLauncher.exe")
                self.assertEnded(res)
                cmd, cwd = viewer_command(root, root)
                self.assertEqual(len(res.viewer), 1, res.viewer)
                v = res.viewer[0]
                self.assertEqual((wide(v, "wcmd"), wide(v, "wcwd")), (cmd, cwd))
                self.assertEqual((v["flags"], v["show"]), ("1", "5"))
                self.assertEqual(self.all_locations(), before, "no copy location is touched")

    def test_delete_and_repair_from_such_a_medium(self):
        launcher = self.medium_outside_code_page("e") + "\\VIEWER\\bin\\ZelvoLauncher.exe"
        W.make_shared_writable()
        W.make_copy(W.shared_copy, OLD)
        res = W.run("/DELETE", exe=launcher)
        self.assertEnded(res)
        self.assertNoViewer(res)
        self.assertIsNone(snapshot(W.shared_copy), "/DELETE needs no medium path")

        res = W.run("/REPAIR", exe=launcher)
        self.assertEqual(res.boxes, [(REPAIR_CAPTION, REPAIR_TEXT)])
        self.assertNoViewer(res)
        self.assertIsNone(snapshot(W.shared_copy), "nothing is copied from such a medium")

    def short_path(self, host_folder):
        """Wine's short (8.3) form of a folder below C:."""
        out = os.path.join(W.root, "short.txt")
        with open(out, "wb") as f:
            subprocess.run([wine_program(), "winepath", "-s", W.win(host_folder)], env=W.env, stdout=f)
        with open(out, encoding="latin-1") as f:
            return f.read().strip()

    def test_temp_folder_outside_the_code_page(self):
        temp = os.path.join(W.temp_base, self.USER)
        os.makedirs(temp)
        env = {"TMP": W.win(temp), "TEMP": W.win(temp)}
        copy = os.path.join(temp, COPY_NAME)
        mark = os.path.join(copy, "VIEWER", "mark.txt")
        short_copy = self.short_path(temp) + "\\" + COPY_NAME
        medium = W.medium_on("e")
        res = W.run("", exe=LAUNCHER_E, env=env)
        self.assertViewerFrom(res, short_copy)
        self.assertCopyOf(copy, medium)
        write(mark, "left by the test")
        res = W.run("", exe=LAUNCHER_E, env=env)
        self.assertViewerFrom(res, short_copy)
        self.assertTrue(os.path.exists(mark), "the copy was made again")
        res = W.run("/DELETE", exe=LAUNCHER_E, env=env)
        self.assertEnded(res)
        self.assertIsNone(snapshot(copy))

    def test_profile_folder_outside_the_code_page(self):
        W.make_copy(W.profile_copy(self.USER), MEDIA_VERSION)
        W.medium_on("f")  # no copying from a removable drive: the copy found is used
        res = W.run("", exe=LAUNCHER_F)
        profile = self.short_path(os.path.join(W.users, self.USER))
        self.assertViewerFrom(res, profile + "\\Local Settings\\Temp\\" + COPY_NAME, "F:")


if __name__ == "__main__":
    unittest.main()
