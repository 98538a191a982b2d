#!/usr/bin/env python3
"""Runs one group of the end-to-end tests (or all of them) under Wine and Xvfb.

    run_e2e.py --launcher ZelvoLauncher.exe --viewer KiroZelvo.exe --spawn spawn.exe
               [--holdopen holdopen.exe] [--group NAME | --group all] [--work DIR] [names in test_e2e...]

Exits 77 (CTest's skip code) with the reason when wine, xvfb-run or xdotool
is missing, or when every selected test was skipped."""

import argparse
import os
import sys

sys.dont_write_bytecode = True  # keep the source tree clean
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import zelvo_e2e  # noqa: E402


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--launcher", required=True)
    p.add_argument("--viewer", required=True)
    p.add_argument("--spawn", required=True)
    p.add_argument("--holdopen", help="holdopen.exe (default: beside spawn.exe)")
    p.add_argument("--group", default="all")
    p.add_argument("--work", default="/tmp")
    p.add_argument("names", nargs="*", help="unittest names, e.g. LaunchTests.test_fresh_prefix")
    a = p.parse_args()

    missing = zelvo_e2e.missing_prerequisites()
    if missing:
        print("SKIPPED: " + "; ".join(missing))
        return zelvo_e2e.SKIP_CODE
    for f in (a.launcher, a.viewer, a.spawn):
        if not os.path.isfile(f):
            print("missing program: " + f)
            return 1

    if not os.environ.get("ZELVO_E2E_UNDER_XVFB"):
        # Message boxes need a display: run again inside a private X server.
        env = dict(os.environ, ZELVO_E2E_UNDER_XVFB="1")
        os.execvpe("xvfb-run", ["xvfb-run", "-a", "-s", "-screen 0 1024x768x24",
                                sys.executable, os.path.abspath(__file__)] + sys.argv[1:], env)

    os.environ.update({
        "ZELVO_E2E_LAUNCHER": os.path.abspath(a.launcher),
        "ZELVO_E2E_VIEWER": os.path.abspath(a.viewer),
        "ZELVO_E2E_SPAWN": os.path.abspath(a.spawn),
        "ZELVO_E2E_WORK": a.work,
        "ZELVO_E2E_HOLDOPEN": os.path.abspath(
            a.holdopen or os.path.join(os.path.dirname(a.spawn), "holdopen.exe")),
    })
    import test_codepage
    import test_concurrency
    import test_e2e
    modules = (test_e2e, test_codepage, test_concurrency)
    loader = unittest.TestLoader()
    if a.names:
        suite = loader.loadTestsFromNames(a.names, test_e2e)
    else:
        suite = unittest.TestSuite()
        for module in modules:
            for name in dir(module):
                cls = getattr(module, name)
                if (isinstance(cls, type) and issubclass(cls, unittest.TestCase)
                        and getattr(cls, "group", None)
                        and (a.group == "all" or cls.group == a.group)):
                    suite.addTests(loader.loadTestsFromTestCase(cls))
        if a.group != "all" and suite.countTestCases() == 0:
            print("no such group: " + a.group)
            return 1
    result = unittest.TextTestRunner(verbosity=2, stream=sys.stdout).run(suite)
    sys.stdout.flush()
    if not result.wasSuccessful():
        return 1
    if result.testsRun and len(result.skipped) == result.testsRun:
        reason = getattr(test_codepage, "SKIP_REASON", None) if a.group == "codepage" else None
        print("SKIPPED: " + (reason or "every test of this group was skipped"))
        return zelvo_e2e.SKIP_CODE
    return 0


if __name__ == "__main__":
    sys.exit(main())
