#!/usr/bin/env python3
"""Shows ZelvoLauncher.exe at work on a sample disc under Wine (see demo.sh).

    demo_run.py <build dir of the windows or windows-x86 preset>

Prints what happens at each step and exits 1 as soon as a step does not
happen as described."""

import os
import sys

sys.dont_write_bytecode = True  # keep the source tree clean

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

from zelvo_e2e import (WinePrefix, missing_prerequisites, pe_machine, snapshot,  # noqa: E402
                       viewer_command)

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
    disc = w.medium_on("e", "3.2.0.15")
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
    w.reset_media()
    newer = w.medium_on("e", "3.3.0.2")
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
