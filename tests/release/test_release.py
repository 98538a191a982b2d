#!/usr/bin/env python3
"""Tests of scripts/release.sh, run by CTest (tests/release/CMakeLists.txt).

    test_release.py CLASS...     one or more of the unittest classes below
    test_release.py wine ARCH SIGNED_DIR VIEWER SPAWN HOLDOPEN
                                 one launch of a signed exe under Wine

Environment: ZELVO_RELEASE_WORK (a folder for the releases), ZELVO_VERSION
(the project's version), ZELVO_SIGNED_DIR (where SignedTests leaves its
signed release for the Wine runs).
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

try:
    import pefile
except ImportError:  # a python3 of its own (pyenv, venv) beside Debian's python3-pefile
    sys.path.append("/usr/lib/python3/dist-packages")
    import pefile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
RELEASE = os.path.join(ROOT, "scripts", "release.sh")
CHECK_EXE = os.path.join(ROOT, "tests", "binary", "check_exe.py")
CHECK_VERSION = os.path.join(ROOT, "tests", "binary", "check_version.py")
RUN_E2E = os.path.join(ROOT, "tests", "e2e", "run_e2e.py")
EXES = {"ZelvoLauncher.exe": "x86", "ZelvoLauncher-x64.exe": "x64"}
FILES = sorted(list(EXES) + ["SHA256SUMS"])
PASSWORD = "throwaway pass"

WORK = os.environ.get("ZELVO_RELEASE_WORK", tempfile.gettempdir())
SIGN_VARS = ("ZELVO_SIGN_PFX", "ZELVO_SIGN_PASSWORD", "ZELVO_TIMESTAMP_URL")


def release(out, **env):
    """Runs release.sh OUTDIR with only the given signing variables set."""
    e = {k: v for k, v in os.environ.items() if k not in SIGN_VARS}
    e.update(env)
    return subprocess.run([RELEASE, out], env=e, capture_output=True, text=True, timeout=1200)


def run(*cmd):
    return subprocess.run(cmd, capture_output=True, text=True)


def expected_commit():
    head = run("git", "-C", ROOT, "rev-parse", "HEAD").stdout.strip()
    clean = run("git", "-C", ROOT, "diff", "--quiet", "HEAD", "--").returncode == 0
    return head if clean else head + "-modified"


def pe_time_and_symbols(path):
    """The PE header's link time, symbol table offset and symbol count."""
    header = pefile.PE(path, fast_load=True).FILE_HEADER
    return header.TimeDateStamp, header.PointerToSymbolTable, header.NumberOfSymbols


def make_pfx(folder, usage="codeSigning", password=PASSWORD):
    """A throwaway self-signed certificate, its key and a PKCS#12 of both:
    (pfx path, certificate path)."""
    key, cert, pfx = (os.path.join(folder, n) for n in ("key.pem", "cert.pem", "sign.pfx"))
    for cmd in (["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                 "-out", cert, "-days", "2", "-subj", "/CN=Zelvo release test signer",
                 "-addext", "extendedKeyUsage=" + usage, "-addext", "keyUsage=digitalSignature"],
                ["openssl", "pkcs12", "-export", "-inkey", key, "-in", cert, "-out", pfx,
                 "-passout", "pass:" + password]):
        subprocess.run(cmd, check=True, capture_output=True)
    return pfx, cert


class ReleaseTest(unittest.TestCase):
    maxDiff = None

    def assertReleased(self, r, out):
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(sorted(os.listdir(out)), FILES)
        sums = subprocess.run(["sha256sum", "-c", "SHA256SUMS"], cwd=out, capture_output=True, text=True)
        self.assertEqual(sums.returncode, 0, sums.stdout + sums.stderr)
        self.assertEqual(len(sums.stdout.splitlines()), len(EXES))

    def assertExeChecksPass(self, out):
        for name, arch in EXES.items():
            exe = os.path.join(out, name)
            for cmd in ([CHECK_EXE, exe, arch],
                        [CHECK_VERSION, exe, os.environ["ZELVO_VERSION"], expected_commit()]):
                r = run(sys.executable, *cmd)
                self.assertEqual(r.returncode, 0, r.stdout + r.stderr)

    def assertNothingLeft(self, out):
        self.assertFalse(os.path.lexists(out), "release folder left behind")
        parent, name = os.path.split(out)
        if os.path.isdir(parent):
            self.assertEqual([n for n in os.listdir(parent) if n.startswith("." + name)], [],
                             "partial release left beside the release folder")


class ReproducibleTests(ReleaseTest):
    def test_two_clean_builds_are_identical(self):
        outs = [os.path.join(WORK, "unsigned-%d" % i) for i in (1, 2)]
        for out in outs:
            shutil.rmtree(out, ignore_errors=True)
            self.assertReleased(release(out), out)
        for name in FILES:
            with open(os.path.join(outs[0], name), "rb") as a, open(os.path.join(outs[1], name), "rb") as b:
                self.assertTrue(a.read() == b.read(), name + " differs between two builds")
        for name in EXES:
            # No link time, and stripped: no symbol table.
            self.assertEqual(pe_time_and_symbols(os.path.join(outs[0], name)), (0, 0, 0), name)
        self.assertExeChecksPass(outs[0])


class SignedTests(ReleaseTest):
    """Signs with a throwaway certificate; leaves the release in
    ZELVO_SIGNED_DIR for the Wine runs."""

    def test_signature_round_trip(self):
        out = os.environ.get("ZELVO_SIGNED_DIR") or os.path.join(WORK, "signed")
        shutil.rmtree(out, ignore_errors=True)
        with tempfile.TemporaryDirectory() as certs:
            pfx, cert = make_pfx(certs)
            r = release(out, ZELVO_SIGN_PFX=pfx, ZELVO_SIGN_PASSWORD=PASSWORD)
            self.assertReleased(r, out)
            self.assertNotIn(PASSWORD, r.stdout + r.stderr)
            for name in EXES:
                exe = os.path.join(out, name)
                v = run("osslsigncode", "verify", "-CAfile", cert, "-in", exe)
                self.assertEqual(v.returncode, 0, name + ":\n" + v.stdout + v.stderr)
                self.assertIn("Zelvo release test signer", v.stdout)
                self.assertRegex(v.stdout, r"Message digest algorithm\s*:\s*SHA256")

                # Any byte changed after signing breaks the signature.
                tampered = os.path.join(certs, "tampered-" + name)
                with open(exe, "rb") as f:
                    data = bytearray(f.read())
                data[len(data) // 3] ^= 0x01
                with open(tampered, "wb") as f:
                    f.write(data)
                v = run("osslsigncode", "verify", "-CAfile", cert, "-in", tampered)
                self.assertNotEqual(v.returncode, 0, name + ": tampered file verified")
        self.assertExeChecksPass(out)


class BadInputTests(ReleaseTest):
    """Every bad input stops the release with a message naming the problem,
    and leaves no release folder and nothing beside it."""

    def test_refused_before_building(self):
        with tempfile.TemporaryDirectory() as tmp:
            pfx, cert = make_pfx(tmp)
            server_only = os.path.join(tmp, "server")
            os.mkdir(server_only)
            server_pfx, _ = make_pfx(server_only, usage="serverAuth")
            not_empty = os.path.join(tmp, "not-empty")
            os.makedirs(not_empty)
            with open(os.path.join(not_empty, "keep.txt"), "w") as f:
                f.write("earlier release")
            out = os.path.join(tmp, "out")
            cases = [
                ("wrong password", out, dict(ZELVO_SIGN_PFX=pfx, ZELVO_SIGN_PASSWORD="wrong"),
                 "ZELVO_SIGN_PASSWORD is not the password"),
                ("missing certificate", out, dict(ZELVO_SIGN_PFX=os.path.join(tmp, "none.pfx")),
                 "no readable certificate file"),
                ("not PKCS#12", out, dict(ZELVO_SIGN_PFX=cert, ZELVO_SIGN_PASSWORD=PASSWORD),
                 "is not a PKCS#12 certificate file"),
                ("not for code signing", out, dict(ZELVO_SIGN_PFX=server_pfx, ZELVO_SIGN_PASSWORD=PASSWORD),
                 "is not for code signing"),
                ("timestamp without certificate", out, dict(ZELVO_TIMESTAMP_URL="http://127.0.0.1:9/"),
                 "nothing to timestamp"),
                ("folder not writable", "/proc/zelvo-release", {}, "cannot write the release"),
                ("folder not empty", not_empty, {}, "is not an empty folder"),
            ]
            for what, target, env, message in cases:
                with self.subTest(what):
                    r = release(target, **env)
                    self.assertNotEqual(r.returncode, 0)
                    self.assertIn(message, r.stderr)
                    self.assertNotIn("building", r.stdout, "checked only after building")
                    if target is not_empty:
                        self.assertEqual(os.listdir(not_empty), ["keep.txt"])
                    else:
                        self.assertNothingLeft(target)

    def test_failed_signing_leaves_nothing(self):
        # A timestamp server that cannot be reached fails the signing after
        # the build has run.
        with tempfile.TemporaryDirectory() as tmp:
            pfx, _ = make_pfx(tmp)
            out = os.path.join(tmp, "out")
            r = release(out, ZELVO_SIGN_PFX=pfx, ZELVO_SIGN_PASSWORD=PASSWORD,
                        ZELVO_TIMESTAMP_URL="http://127.0.0.1:9/")
            self.assertNotEqual(r.returncode, 0)
            self.assertIn("signing the x86 exe failed", r.stderr)
            self.assertNothingLeft(out)


def wine_launch(arch, signed_dir, viewer, spawn, holdopen):
    """One launch of the signed exe through the end-to-end harness, which
    skips (77) with the reason where the exe's architecture cannot run."""
    exe = os.path.join(signed_dir, "ZelvoLauncher.exe" if arch == "x86" else "ZelvoLauncher-x64.exe")
    if not os.path.isfile(exe):
        print("no signed release at " + exe)
        return 1
    return subprocess.run([sys.executable, RUN_E2E, "--launcher", exe, "--viewer", viewer,
                           "--spawn", spawn, "--holdopen", holdopen, "--work", WORK,
                           "test_e2e.LaunchTests.test_fresh_prefix_installs_into_temp"]).returncode


if __name__ == "__main__":
    if sys.argv[1:2] == ["wine"] and len(sys.argv) == 7:
        sys.exit(wine_launch(*sys.argv[2:]))
    unittest.main(verbosity=2)
