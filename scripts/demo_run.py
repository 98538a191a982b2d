#!/usr/bin/env python3
"""Shows ZelvoLauncher.exe at work on a sample disc under Wine (see demo.sh).
Each disc is made as a disc author makes it: a layout folder, its image made
with scripts/disc.py, and what Windows reads from that image (its Joliet
tree, read back with xorriso) laid out read-only in the optical drive E:.

    demo_run.py <build dir of the windows or windows-x86 preset>

Prints what happens at each step and exits 1 as soon as a step does not
happen as described."""

import os
import shutil
import sys

sys.dont_write_bytecode = True  # keep the source tree clean

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

from zelvo_e2e import (AUTORUN, WinePrefix, disc_from_image, missing_prerequisites,  # noqa: E402
                       pe_machine, snapshot, viewer_command, write)

LAUNCHER = "E:\\VIEWER\\bin\\ZelvoLauncher.exe"


class StepFailed(Exception):
    pass


def check(ok, what):
    if not ok:
        raise StepFailed(what)


def show_viewer(res):
    check(len(res.viewer) == 1, "the viewer was started %d times, not once" % len(res.viewer))
    v = res.viewer[0]
    print("   viewer command line: %s" % v["cmd"])
    print("   viewer working folder: %s" % v["cwd"])
    return v


def read_stamp(copy):
    with open(os.path.join(copy, "VIEWER", "bin", "Version.txt")) as f:
        return f.read().strip()


def disc_in_drive(w, version):
    """A sample disc of this viewer version in E:, made from its image;
    returns its layout folder."""
    layout = w.make_medium(os.path.join(w.root, "outside", "disc-" + version), version)
    write(os.path.join(layout, "autorun.inf"), AUTORUN)
    print("   scripts/disc.py image %s %s.iso%s:"
          % (layout, layout, " --allow-x64" if w.arch == "x64" else ""))
    try:
        drive, report = disc_from_image(w, layout)
    except (RuntimeError, OSError) as e:
        raise StepFailed(str(e))
    print("".join("      " + line + "\n" for line in report.splitlines()), end="")
    check(snapshot(drive) == snapshot(layout), "the image does not give Windows the layout's files")
    print("   E: holds what Windows reads from the image, read-only")
    return layout


def launch(w, args=""):
    res = w.run(args, exe=LAUNCHER)
    check(not res.timed_out, "the launcher did not end")
    check(res.exit_code is not None and res.exit_code < 0xC0000000,
          "the launcher crashed (exit code %r)" % res.exit_code)
    check(not res.boxes, "unexpected message box: %r" % res.boxes)
    return res


def demo(w):
    copy = w.temp_copy
    copy_win = w.win(copy)

    print("\n1. First launch from a disc (version 3.2.0.15) in the optical drive E:")
    disc = disc_in_drive(w, "3.2.0.15")
    res = launch(w)
    check(os.path.isdir(copy), "no copy was made in " + copy_win)
    check(snapshot(copy) == w.expected_copy(disc),
          "the copy does not hold exactly the disc's VIEWER tree and kiro\\KiroPageHolder.exe")
    print("   A copy of the viewer was installed in %s" % copy_win)
    print("   (a fresh Wine prefix, like newer Windows, has no "
          "C:\\users\\Public\\Application Data, so the user's temp folder gets it)")
    v = show_viewer(res)
    cmd, cwd = viewer_command(copy_win, "E:")
    check((v["cmd"], v["cwd"]) == (cmd, cwd), "the viewer was not started from the new copy")
    print("   -> the viewer runs from the copy and reads its data from the disc (data=E:\\)")

    print("\n2. Second launch with the same disc")
    before = snapshot(copy)
    res = launch(w)
    v = show_viewer(res)
    check((v["cmd"], v["cwd"]) == (cmd, cwd), "the viewer was not started from the copy")
    check(snapshot(copy) == before, "the copy was changed although it was up to date")
    print("   -> started at once from the copy; nothing was copied")

    print("\n3. A newer disc (version 3.3.0.2) in E:")
    newer = disc_in_drive(w, "3.3.0.2")
    res = launch(w)
    check(os.path.isdir(copy), "the copy is gone and no new one was made")
    check(read_stamp(copy) == "3.3.0.2", "the copy still has version " + read_stamp(copy))
    check(snapshot(copy) == w.expected_copy(newer), "the new copy is not an exact copy of the newer disc")
    print("   The stale copy (3.2.0.15) was replaced by version 3.3.0.2 in %s" % copy_win)
    v = show_viewer(res)
    check((v["cmd"], v["cwd"]) == (cmd, cwd), "the viewer was not started from the new copy")
    print("   -> the viewer runs from the fresh copy")

    print("\n4. ZelvoLauncher.exe /DELETE")
    res = launch(w, "/DELETE")
    check(not res.viewer, "/DELETE started the viewer")
    check(not os.path.lexists(copy), "the copy is still there")
    check(not os.path.lexists(w.shared_copy), "a copy is left in the shared location")
    print("   The copy in %s was removed; no viewer was started" % copy_win)


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    build = os.path.abspath(sys.argv[1])
    missing = missing_prerequisites(pe_machine(os.path.join(build, "ZelvoLauncher.exe")))
    if not shutil.which("xorriso"):
        missing.append("xorriso not installed (scripts/install-deps.sh installs it)")
    if missing:
        print("cannot run the demo: " + "; ".join(missing))
        return 1
    w = WinePrefix(os.path.join(build, "ZelvoLauncher.exe"),
                   os.path.join(build, "tests", "e2e", "KiroZelvo.exe"),
                   os.path.join(build, "tests", "e2e", "spawn.exe"))
    print("Launcher: %s, a %s program" % (w.launcher, {"x86": "32-bit", "x64": "64-bit"}[w.arch]))
    print("Preparing a private Wine prefix in %s (first start takes a few seconds)..." % w.root)
    try:
        w.start()
        demo(w)
    except StepFailed as e:
        print("\nDEMO FAILED: " + str(e))
        return 1
    finally:
        w.stop()
    print("\nAll four steps happened as described.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
