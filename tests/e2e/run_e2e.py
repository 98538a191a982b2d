#!/usr/bin/env python3
"""Runs one group of the end-to-end tests (or all of them) under Wine and Xvfb.

    run_e2e.py --launcher ZelvoLauncher.exe --viewer KiroZelvo.exe --spawn spawn.exe
               [--holdopen holdopen.exe] [--group NAME | --group all] [--work DIR]
               [names, e.g. test_e2e.LaunchTests.test_fresh_prefix_installs_into_temp]

The groups are the `group` attributes of the test classes in every test_*.py
beside this file. The launcher may be the 32-bit or the 64-bit exe (read from
the file); the helpers are usually built for the same architecture.

Exits 77 (CTest's skip code) with the reason when wine, xvfb-run or xdotool
is missing, when the launcher is a 32-bit exe and 32-bit Windows programs
cannot run here, or when every selected test was skipped."""

import argparse
import glob
import importlib
import os
import sys

sys.dont_write_bytecode = True  # keep the source tree clean
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import zelvo_e2e  # noqa: E402


def test_modules():
    return [importlib.import_module(os.path.splitext(os.path.basename(f))[0])
            for f in sorted(glob.glob(os.path.join(HERE, "test_*.py")))]


def group_suite(modules, group):
    loader = unittest.TestLoader()
    suite = unittest.TestSuite()
    for module in modules:
        for name in dir(module):
            cls = getattr(module, name)
            if (isinstance(cls, type) and issubclass(cls, unittest.TestCase)
                    and cls.__module__ == module.__name__ and getattr(cls, "group", None)
                    and (group == "all" or cls.group == group)):
                suite.addTests(loader.loadTestsFromTestCase(cls))
    return suite


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--launcher", required=True)
    p.add_argument("--viewer", required=True)
    p.add_argument("--spawn", required=True)
    p.add_argument("--holdopen", help="holdopen.exe (default: beside spawn.exe)")
    p.add_argument("--group", default="all")
    p.add_argument("--work", default="/tmp")
    p.add_argument("names", nargs="*", help="unittest names: module.Class[.test]")
    a = p.parse_args()

    for f in (a.launcher, a.viewer, a.spawn):
        if not os.path.isfile(f):
            print("missing program: " + f)
            return 1
    arch = zelvo_e2e.pe_machine(a.launcher)
    missing = zelvo_e2e.missing_prerequisites(arch)
    if missing:
        print("SKIPPED (%s launcher): %s" % (arch, "; ".join(missing)))
        return zelvo_e2e.SKIP_CODE

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
    print("launcher: %s (%s)" % (a.launcher, arch))
    sys.stdout.flush()
    if a.names:
        suite = unittest.TestLoader().loadTestsFromNames(a.names)
    else:
        suite = group_suite(test_modules(), a.group)
        if a.group != "all" and suite.countTestCases() == 0:
            print("no such group: " + a.group)
            return 1
    result = unittest.TextTestRunner(verbosity=2, stream=sys.stdout).run(suite)
    sys.stdout.flush()
    if not result.wasSuccessful():
        return 1
    if result.testsRun and len(result.skipped) == result.testsRun:
        print("SKIPPED: " + "; ".join(sorted({reason for _, reason in result.skipped})))
        return zelvo_e2e.SKIP_CODE
    return 0


if __name__ == "__main__":
    sys.exit(main())
