#!/usr/bin/env python3
"""What the launcher costs the user, measured on the real exe under Wine.

    bench.py --launcher ZelvoLauncher.exe --viewer KiroZelvo.exe --spawn spawn.exe
             --timer timer.exe --floor floor.exe --walkfloor walkfloor.exe
             --shellcopy shellcopy.exe [--reps N] [--cold-reps N] [--trace]
             [--all-cpus] [--counts-only]

The launcher may be the 32-bit or the 64-bit exe; the helpers are built for
the same architecture. Three measurements in one run, in one private Wine
prefix whose wineserver stays up throughout:

- warm launch: a disc in the optical drive E: and an up-to-date copy in the
  shared location, one that the launcher itself installed at a first, untimed
  launch, so that the copy holds what an installation leaves there and a warm
  launch checks it as it would a user's. The launcher against walkfloor.exe,
  which lists every folder of the same copy once and then starts the same
  viewer with the same command line, and against floor.exe, which only
  starts it. The three alternate.
- warm launch as the tree grows: the same with copies, installed the same
  way, of a VIEWER tree of 10 files and of 10,000 files, each against the walk
  floor of its own copy; the trees alternate round by round, and so does
  which of the two cases of a round runs first.
- cold installation: no copy anywhere; the launcher installs a copy and starts
  the viewer, against shellcopy.exe, which does only what an installation
  cannot avoid: the same shell copy of the VIEWER tree (same flags), the
  companion, and the viewer's start. Wine's xcopy of the same tree and the
  companion into the same folder is the outside reference. The copy is
  removed between runs.

Times come from timer.exe, inside Wine: from just before CreateProcessA to
the end of the last process of the job (the launcher and the viewer it
starts). Before timing, each scenario is run once through the test harness and
its outcome checked (where the viewer started from, what the copy holds), so
that the numbers are those of the intended path.

First, what a warm and a cold launch from the 300-file medium read from the
disc, counted exactly from strace over the wineserver and every Wine process
(the wineserver opens the files, its clients read them): the medium's folders
listed, its files read and their bytes, the launcher's own exe apart. Two
exact bars: a warm launch lists no disc folder but VIEWER\bin and reads no
disc file but the stamp; a cold launch reads each file of the copy once, and
of the rest of the disc only the stamp and the launcher. The counts do not
depend on speed, so they hold for an exe run emulated too; --counts-only
stops there.

Then a table of medians and the ratios (each round's ratio of the two cases'
times in that round; the median and the quartiles over the rounds), with their
bars; a bar is judged only on at least MIN_ROUNDS rounds. --trace adds the
file-system calls of each path, counted from Wine's +file trace. Exits 0
whether or not the time bars hold; 1 when something failed to run or an exact
bar does not hold.

Every process of the run, the wineserver included, runs on one CPU: on
several, each call that waits for the wineserver wakes another core, which
made the same walks 1.2 to 2.5 times slower (on two machines here) and their
times spread wider from round to round. --all-cpus measures without that."""

import argparse
import collections
import os
import random
import re
import shutil
import statistics
import subprocess
import sys
import time
from collections import Counter

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

from zelvo_e2e import (COPY_NAME, MEDIA_VERSION, WinePrefix, missing_prerequisites,  # noqa: E402
                       pe_machine, remove, snapshot, viewer_command, wine_program, write)

LAUNCHER = "E:\\VIEWER\\bin\\ZelvoLauncher.exe"
FLOOR = "E:\\floor.exe"
WALKFLOOR = "E:\\walkfloor.exe"
SHELLCOPY = "E:\\shellcopy.exe"
BARS = {"walk": 1.08, "cold": 1.05}
MIN_ROUNDS = 30   # a bar is judged on at least this many rounds
# Untimed, before each measurement: the processes of the one before are torn
# down after their job reports them gone, and on 2 cores that teardown would
# otherwise weigh on the next case (it doubled the 10-file times here).
PAUSE_MS = 200


class BenchError(Exception):
    pass


# ---- media ------------------------------------------------------------------

def make_medium(W, root, tree_files, seed, sizes=(64, 64)):
    """A disc image with exactly tree_files files in its VIEWER tree: bin holds
    the launcher, the viewer and the stamp, the rest are data files spread over
    folders of 100 with sizes drawn from sizes. Also the companion, the
    floors at the root, and things outside the copied tree."""
    rnd = random.Random(seed)
    remove(root)
    b = os.path.join(root, "VIEWER", "bin")
    os.makedirs(b)
    shutil.copy(W.launcher, os.path.join(b, "ZelvoLauncher.exe"))
    shutil.copy(W.viewer_exe, os.path.join(b, "KiroZelvo.exe"))
    write(os.path.join(b, "Version.txt"), MEDIA_VERSION + "\r\n")
    for i in range(tree_files - 3):
        folder = os.path.join(root, "VIEWER", "data%02d" % (i // 100)) if tree_files > 100 \
            else os.path.join(root, "VIEWER", "data")
        write(os.path.join(folder, "part%05d.bin" % i), rnd.randbytes(rnd.randint(*sizes)))
    write(os.path.join(root, "kiro", "KiroPageHolder.exe"), b"MZ" + rnd.randbytes(40000))
    write(os.path.join(root, "kiro", "notes.txt"), "not copied")
    write(os.path.join(root, "autorun.inf"), "[autorun]\r\n")
    shutil.copy(FLOOR_EXE, os.path.join(root, "floor.exe"))
    shutil.copy(WALKFLOOR_EXE, os.path.join(root, "walkfloor.exe"))
    shutil.copy(SHELLCOPY_EXE, os.path.join(root, "shellcopy.exe"))
    return root


def tree_stats(root):
    files = total = 0
    for top, _, names in os.walk(os.path.join(root, "VIEWER")):
        for n in names:
            files += 1
            total += os.path.getsize(os.path.join(top, n))
    return files, total


class Copies:
    """The copies the launcher installed, one per medium, parked outside the
    copy locations; put() renames one into the shared location and puts its
    medium in the drive, park() renames it back."""

    def __init__(self, W):
        self.W, self.media, self.placed = W, {}, None
        self.dir = os.path.join(W.root, "parked")
        os.makedirs(self.dir)

    def install(self, name, medium):
        """A first launch with no copy anywhere; returns the names at the
        root of the copy it installed."""
        self.park()
        self.W.map_drive("e", medium)
        clear_copies(self.W)
        root = check_install(self.W, medium, name)
        self.media[name] = medium
        os.rename(self.W.shared_copy, os.path.join(self.dir, name))
        return root

    def put(self, name):
        self.park()
        os.rename(os.path.join(self.dir, name), self.W.shared_copy)
        self.W.map_drive("e", self.media[name])
        self.placed = name

    def park(self):
        if self.placed:
            os.rename(self.W.shared_copy, os.path.join(self.dir, self.placed))
            self.placed = None


def clear_copies(W):
    """No copy and no leftover of one in any location (the shared base stays)."""
    for base in (W.shared_base, W.temp_base):
        if os.path.isdir(base):
            for n in os.listdir(base):
                if n.startswith(COPY_NAME):
                    remove(os.path.join(base, n))


# ---- timing -------------------------------------------------------------------

class Timer:
    def __init__(self, W, timer_exe):
        self.W, self.exe = W, timer_exe
        self.ctl = os.path.join(W.drive_c, "bench")
        os.makedirs(self.ctl, exist_ok=True)
        self.n = 0
        self.exits = collections.Counter()  # (label, exit code) since viewer_starts

    def plan(self, cases, reps=1):
        """Writes the plan of cases ([(label, [(exe, dir, cmd), ...])]);
        returns the command that runs it and where the times go."""
        self.n += 1
        plan = ["reps=%d" % reps, "pause=%d" % PAUSE_MS, "out=C:\\bench\\times-%d.txt" % self.n,
                "set=ZELVO_VIEWER_LOG=C:\\bench\\viewer.txt"]
        for label, steps in cases:
            plan.append("case=" + label)
            for exe, folder, cmd in steps:
                plan += ["step=" + exe, "cmd=" + cmd]
                if folder:
                    plan.append("dir=" + folder)
        write(os.path.join(self.ctl, "plan-%d.txt" % self.n), "\r\n".join(plan) + "\r\n")
        return ([self.W.loader_for(self.exe), self.exe, "C:\\bench\\plan-%d.txt" % self.n],
                os.path.join(self.ctl, "times-%d.txt" % self.n))

    def run(self, cases, reps=1, debug=None):
        """Runs the cases. Returns [(label, seconds)] in the order run, and
        the Wine trace when debug is given; the exit codes of the last steps
        are left in self.codes."""
        cmd, times = self.plan(cases, reps)
        err = os.path.join(self.W.root, "timer-%d.err" % self.n)
        env = dict(self.W.env, WINEDEBUG=debug or "-all")
        with open(err, "wb") as e:
            rc = subprocess.run(cmd, env=env, stdout=subprocess.DEVNULL, stderr=e,
                                timeout=1800).returncode
        if rc != 0:
            with open(err, "rb") as e:
                raise BenchError("timer.exe failed (%d): %s" % (rc, e.read()[-2000:].decode("latin-1")))
        rows = self.read_times(times)
        trace = None
        if debug:
            with open(err, "rb") as e:
                trace = e.read().decode("latin-1")
        os.unlink(err)
        return rows, trace

    def read_times(self, times):
        rows, self.codes = [], []
        with open(times) as f:
            for line in f:
                label, secs, code = line.split()
                if int(code) >= 0xC0000000:
                    raise BenchError("%s crashed (exit 0x%08X)" % (label, int(code)))
                rows.append((label, float(secs)))
                self.codes.append(int(code))
                self.exits[label, int(code)] += 1
        return rows

    def viewer_starts(self):
        """Viewer records since the last call (and forget them)."""
        path = os.path.join(self.ctl, "viewer.txt")
        recs = self.W._viewer_records(path)
        remove(path)
        self.exits.clear()
        return recs


def launcher_step():
    return (LAUNCHER, "E:\\VIEWER\\bin", '"%s"' % LAUNCHER)


def floor_step(W):
    cmd, cwd = viewer_command(W.win(W.shared_copy), "E:")
    return (FLOOR, cwd, '"%s" %s' % (FLOOR, cmd))


def walk_step(W):
    cmd, cwd = viewer_command(W.win(W.shared_copy), "E:")
    return (WALKFLOOR, cwd, '"%s" "%s" %s' % (WALKFLOOR, W.win(W.shared_copy), cmd))


def shellcopy_steps(W):
    return [(SHELLCOPY, None, '"%s" E: "%s"' % (SHELLCOPY, W.win(W.shared_copy)))]


def xcopy_steps(W):
    # Wine 10.0's xcopy takes no path with a space (its own parameters are
    # then too many), and the copy folder's path holds three: it copies
    # through the drive letter T:, pointed at the copy folder, which cmd makes
    # first (a cmd start more in the reference's time).
    W.map_drive("t", W.shared_copy)
    return [("C:\\windows\\system32\\cmd.exe", None, 'cmd.exe /c mkdir "%s"' % W.win(W.shared_copy)),
            ("C:\\windows\\system32\\xcopy.exe", None, "xcopy.exe E:\\VIEWER T:\\VIEWER /E /I /Q /Y"),
            ("C:\\windows\\system32\\xcopy.exe", None,
             "xcopy.exe E:\\kiro\\KiroPageHolder.exe T:\\kiro\\ /Q /Y")]


# ---- checks of each path, through the test harness ------------------------------

def check(cond, what):
    if not cond:
        raise BenchError("check failed: " + what)


def check_starts(timer, count, cmd, name):
    """Every run started the viewer once, from the shared copy; else what was
    seen, with the exit codes of the programs timed."""
    exits = sorted(timer.exits.items())
    starts = timer.viewer_starts()
    others = sorted({v["cmd"] for v in starts if v["cmd"] != cmd})
    check(len(starts) == count and not others,
          "%s: every run started the viewer from the shared copy: %d starts of %d, other command lines %r, "
          "exits (program, code): runs %r" % (name, len(starts), count, others, exits))


def check_warm(W, medium, name):
    before = snapshot(W.shared_copy)
    res = W.run(exe=LAUNCHER, cwd="E:\\VIEWER\\bin")
    check(res.exit_code == 0 and not res.timed_out, "%s: launcher ended: %r" % (name, res))
    cmd, _ = viewer_command(W.win(W.shared_copy), "E:")
    check(len(res.viewer) == 1 and res.viewer[0]["cmd"] == cmd,
          "%s: viewer started from the shared copy: %r" % (name, res.viewer))
    check(snapshot(W.shared_copy) == before, name + ": the copy is left as it was")


def copied(tree):
    """What of a copy folder's tree comes from the medium: VIEWER and kiro.
    The rest of the copy folder's root is the launcher's own (the record of
    the copy's files); the floors and xcopy write none of it."""
    return {k: v for k, v in (tree or {}).items() if k.split(os.sep)[0] in ("VIEWER", "kiro")}


def check_install(W, medium, name):
    """A launch with no copy anywhere installs one in the shared location and
    starts the viewer from it; returns the names at the copy folder's root.
    Copying 10,000 files on a loaded machine takes longer than a test's
    launch is given."""
    res = W.run(exe=LAUNCHER, cwd="E:\\VIEWER\\bin", timeout=900)
    check(res.exit_code == 0 and not res.timed_out, "%s: launcher ended: %r" % (name, res))
    cmd, _ = viewer_command(W.win(W.shared_copy), "E:")
    check(len(res.viewer) == 1 and res.viewer[0]["cmd"] == cmd,
          "%s: viewer started from the new shared copy: %r" % (name, res.viewer))
    tree = snapshot(W.shared_copy)
    check(tree == W.expected_copy(medium), name + ": the copy is complete")
    return sorted(k for k in tree if os.sep not in k)


def check_walk(W, timer, name):
    timer.viewer_starts()
    timer.run([(name, [walk_step(W)])])
    files = sum(len(names) for _, _, names in os.walk(W.shared_copy))
    check(timer.codes == [files], "%s: the walk floor saw all %d files of the copy: %r"
          % (name, files, timer.codes))
    cmd, _ = viewer_command(W.win(W.shared_copy), "E:")
    starts = timer.viewer_starts()
    check(len(starts) == 1 and starts[0]["cmd"] == cmd,
          "%s: viewer started from the shared copy: %r" % (name, starts))


def check_shellcopy(W, timer, medium):
    clear_copies(W)
    timer.viewer_starts()
    timer.run([("shellcopy", shellcopy_steps(W))])
    check(copied(snapshot(W.shared_copy)) == copied(W.expected_copy(medium)),
          "shellcopy: the floor copies exactly what an installation copies")
    cmd, _ = viewer_command(W.win(W.shared_copy), "E:")
    starts = timer.viewer_starts()
    check(len(starts) == 1 and starts[0]["cmd"] == cmd,
          "shellcopy: viewer started from the new copy: %r" % (starts,))
    clear_copies(W)


def check_xcopy(W, timer, medium):
    clear_copies(W)
    timer.run([("xcopy", xcopy_steps(W))])
    check(copied(snapshot(W.shared_copy)) == copied(W.expected_copy(medium)),
          "xcopy: the reference copies exactly what an installation copies")
    clear_copies(W)


def check_only(W, timer, copies, real):
    """The checks of the paths not checked yet, and no times."""
    for name in ("small", "large"):
        copies.put(name)
        check_warm(W, copies.media[name], "warm " + name)
        check_walk(W, timer, name + "-walk")
    copies.park()
    W.map_drive("e", real)
    check_shellcopy(W, timer, real)
    check_xcopy(W, timer, real)
    print("each path checked once; none timed")
    return 0


# ---- file-system calls, from Wine's +file trace ----------------------------------

CALL = re.compile(r"^([0-9a-f]+):[0-9a-f]+:trace:file:(\w+)", re.M)  # needs +pid


def count_calls(trace, skip_pids=1):
    """Calls per function of the programs the timer started (the first
    process seen, the timer itself, is left out)."""
    pids, counts = [], Counter()
    for m in CALL.finditer(trace):
        pid = m.group(1)
        if pid not in pids:
            pids.append(pid)
        if pids.index(pid) >= skip_pids:
            counts[m.group(2)] += 1
    return counts


def trace_paths(W, timer, paths):
    """One run of each path under WINEDEBUG=+file; prints the calls per function."""
    results = {}
    for name, prepare, steps in paths:
        prepare()
        _, trace = timer.run([(name, steps)], debug="-all,+pid,+file")
        results[name] = count_calls(trace)
    names = [p[0] for p in paths]
    funcs = sorted(set().union(*results.values()),
                   key=lambda f: -max(results[n][f] for n in names))
    print("\nFile-system calls per path (Wine trace:file lines; launcher/floor and the viewer):")
    print("%-28s" % "function" + "".join("%11s" % n for n in names))
    for f in funcs:
        print("%-28s" % f + "".join("%11d" % results[n][f] for n in names))
    print("%-28s" % "total" + "".join("%11d" % sum(results[n].values()) for n in names))


# ---- what a launch reads from the disc, from strace --------------------------------

# Every call through which a program learns what a file or folder holds. Wine's
# wineserver opens the files; its clients read them through the descriptors it
# hands them, and the loader maps images with pread or mmap.
READ_CALLS = ("read", "pread64", "readv", "preadv", "preadv2", "copy_file_range")
STRACE = ["strace", "-f", "-ff", "-y", "-qq", "-s", "0", "-e", "signal=none",
          "-e", "trace=getdents64,getdents,mmap,sendfile," + ",".join(READ_CALLS)]
FD_CALL = re.compile(r"^(\w+)\((\d+)<([^>]*)>.*\)\s+=\s+(-?\d+|0x[0-9a-f]+)")
MMAP = re.compile(r"^mmap\([^,]*, (\d+), [^,]*, [^,]*, \d+<([^>]*)>, [^)]*\)\s+=\s+0x")
SENDFILE = re.compile(r"^sendfile\(\d+<[^>]*>, \d+<([^>]*)>, [^)]*\)\s+=\s+(\d+)")


def disc_reads(trace_dir, medium):
    """What the traced processes read of the medium: ({folder listed},
    {file: bytes read}), paths relative to the medium's root with
    backslashes. A file mapped into memory counts its mapped length."""
    root = os.path.realpath(medium) + os.sep
    listed, read = set(), Counter()

    def rel(path):
        return path[len(root):].replace(os.sep, "\\") if path.startswith(root) else None

    for name in os.listdir(trace_dir):
        with open(os.path.join(trace_dir, name), errors="replace") as f:
            for line in f:
                m = FD_CALL.match(line)
                if m:
                    call, path, result = m.group(1), rel(m.group(3)), m.group(4)
                    if path is None:
                        continue
                    if call.startswith("getdents"):
                        listed.add(path)
                    elif call in READ_CALLS and int(result) > 0:
                        read[path] += int(result)
                    continue
                m = MMAP.match(line) or SENDFILE.match(line)
                if m and rel(m.group(2) if line.startswith("mmap") else m.group(1)):
                    if line.startswith("mmap"):
                        read[rel(m.group(2))] += int(m.group(1))
                    else:
                        read[rel(m.group(1))] += int(m.group(2))
    return listed, read


def server_socket(tracer):
    """The socket of the wineserver that tracer (an strace) started, once the
    server has made it: the server works in the folder that holds it."""
    try:
        with open("/proc/%d/task/%d/children" % (tracer.pid, tracer.pid)) as f:
            child = int(f.read().split()[0])
        return os.path.join(os.readlink("/proc/%d/cwd" % child), "socket")
    except (OSError, IndexError, ValueError):
        return ""


def wait_for(cond, what, seconds=120):
    end = time.time() + seconds
    while not cond():
        if time.time() > end:
            raise BenchError("timed out waiting for " + what)
        time.sleep(0.1)


def traced_launch(W, timer, name, trace_dir):
    """One launch from the medium in E:, with strace over a fresh wineserver
    and every Wine process of the launch (Wine's own helpers, which the
    first process of a server starts, included). Returns the launch's exit
    code."""
    os.makedirs(trace_dir)
    subprocess.run(["wineserver", "-k"], env=W.env)
    subprocess.run(["wineserver", "-w"], env=W.env)
    tracers = [subprocess.Popen(STRACE + ["-o", os.path.join(trace_dir, "server"), "wineserver", "-f", "-p"],
                                env=W.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)]
    try:
        wait_for(lambda: os.path.exists(server_socket(tracers[0])), "the traced wineserver")
        time.sleep(0.5)   # from binding its socket to listening on it
        cmd, times = timer.plan([(name, [launcher_step()])])
        remove(times)
        tracers.append(subprocess.Popen(STRACE + ["-o", os.path.join(trace_dir, "wine")] + cmd,
                                        env=W.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        wait_for(lambda: os.path.exists(times) and os.path.getsize(times) > 0 or tracers[1].poll() is not None,
                 "the traced launch", 600)
        time.sleep(0.5)   # the times file is written whole before the timer ends
        return timer.read_times(times) and timer.codes[0]
    finally:
        subprocess.run(["wineserver", "-k"], env=W.env)
        for t in tracers:
            try:
                t.wait(timeout=120)
            except subprocess.TimeoutExpired:
                t.kill()
        subprocess.run(["wineserver", "-w"], env=W.env)


def copy_files(W, medium):
    """The files of the medium a copy holds, relative paths with backslashes,
    and their sizes."""
    files = {}
    for top in ("VIEWER", os.path.join("kiro", "KiroPageHolder.exe")):
        path = os.path.join(medium, top)
        walk = os.walk(path) if os.path.isdir(path) else [(os.path.dirname(path), [], [os.path.basename(path)])]
        for folder, _, names in walk:
            for n in names:
                full = os.path.join(folder, n)
                files[os.path.relpath(full, medium).replace(os.sep, "\\")] = os.path.getsize(full)
    return files


LAUNCHER_REL = "VIEWER\\bin\\ZelvoLauncher.exe"
STAMP_REL = "VIEWER\\bin\\Version.txt"


def count_disc(W, timer, copies, real, work):
    """A warm and a cold launch from the 300-file medium under strace:
    prints what each read of the disc and judges the two exact bars.
    Returns True when both hold."""
    files = copy_files(W, real)
    print("\nWhat a launch reads from the disc (E:, %d files in the copy), from strace over the"
          % len(files))
    print("Wine processes and the wineserver; bytes read of the launcher's own exe (%d bytes: its"
          % files[LAUNCHER_REL])
    print("image, and in a cold launch its copy too) counted apart:")
    print("%-6s %15s %11s %11s %11s %16s" % ("launch", "folders listed", "files read", "bytes read",
                                               "stamp bytes", "launcher's exe"))
    results = {}
    for name, prepare in (("warm", lambda: copies.put("real")), ("cold", lambda: cold_start(W, copies, real))):
        prepare()
        code = traced_launch(W, timer, name, os.path.join(work, "strace-" + name))
        check(code == 0, "%s: the traced launch ended with %r" % (name, code))
        listed, read = disc_reads(os.path.join(work, "strace-" + name), real)
        own = read.pop(LAUNCHER_REL, 0)
        results[name] = listed, read
        print("%-6s %15d %11d %11d %11d %16d" % (name, len(listed), len(read), sum(read.values()),
                                                 read.get(STAMP_REL, 0), own))
        timer.viewer_starts()
    copies.park()
    clear_copies(W)
    W.restart_server()

    listed, read = results["warm"]
    warm_ok = listed <= {"VIEWER\\bin"} and set(read) == {STAMP_REL}
    print("warm: lists no disc folder but VIEWER\\bin and reads no disc file but the stamp: %s%s"
          % ("holds" if warm_ok else "DOES NOT HOLD", "" if warm_ok else
             " (listed %s; read %s)" % (sorted(listed), sorted(read.items()))))
    listed, read = results["cold"]
    wanted = {f: size for f, size in files.items() if f != LAUNCHER_REL}
    wrong = sorted((f, n, wanted.get(f)) for f, n in read.items()
                   if f != STAMP_REL and n != wanted.get(f))
    unread = sorted(set(wanted) - set(read))
    stamp_ok = read.get(STAMP_REL, 0) >= wanted[STAMP_REL]
    cold_ok = not wrong and not unread and stamp_ok
    print("cold: reads each file of the copy once, and of the rest of the disc only the stamp and the "
          "launcher: %s%s" % ("holds" if cold_ok else "DOES NOT HOLD", "" if cold_ok else
                              " (read other than once, bytes against size: %s; not read: %s)"
                              % (wrong[:10], unread[:10])))
    return warm_ok and cold_ok


def cold_start(W, copies, medium):
    copies.park()
    W.map_drive("e", medium)
    clear_copies(W)


def machine():
    cpu = "?"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    wine = subprocess.run([wine_program(), "--version"], capture_output=True, text=True).stdout.strip()
    return "machine: %d cores (the run on %d), %s, %s" % (os.cpu_count(), len(os.sched_getaffinity(0)), cpu, wine)


# ---- the run -------------------------------------------------------------------------

def median_ms(rows, label):
    vals = [s for lab, s in rows if lab == label]
    return statistics.median(vals) * 1000.0, len(vals)


def paired_ratios(rows, a, b):
    """Each round's time of a over b's. The cases of a round run back to
    back, so other load on the machine, which comes and goes, weighs on both
    sides of each ratio alike."""
    xs = [s for lab, s in rows if lab == a]
    ys = [s for lab, s in rows if lab == b]
    return [x / y for x, y in zip(xs, ys)]


def quartiles(vals):
    """(25 %, median, 75 %) of vals."""
    if len(vals) < 2:
        return vals[0], vals[0], vals[0]
    q1, _, q3 = statistics.quantiles(vals, n=4, method="inclusive")
    return q1, statistics.median(vals), q3


def min_ms(rows, label):
    return min(s for lab, s in rows if lab == label) * 1000.0


def verdict(r, rounds, bar):
    if bar is None:
        return "(reference)"
    if rounds < MIN_ROUNDS:
        return "bar <= %.2f  not judged: %d round%s, fewer than %d" % (
            bar, rounds, "" if rounds == 1 else "s", MIN_ROUNDS)
    return "bar <= %.2f  %s" % (bar, "holds" if r <= bar else "DOES NOT HOLD")


def main():
    global FLOOR_EXE, WALKFLOOR_EXE, SHELLCOPY_EXE
    p = argparse.ArgumentParser()
    for opt in ("launcher", "viewer", "spawn", "timer", "floor", "walkfloor", "shellcopy"):
        p.add_argument("--" + opt, required=True)
    p.add_argument("--reps", type=int, default=MIN_ROUNDS, help="timed rounds of each warm case")
    p.add_argument("--cold-reps", type=int, default=MIN_ROUNDS, help="timed rounds of each cold case")
    p.add_argument("--warmup", type=int, default=3, help="untimed rounds before each warm set")
    p.add_argument("--trace", action="store_true", help="also count file-system calls per path")
    p.add_argument("--work", default="/tmp")
    p.add_argument("--all-cpus", action="store_true", help="run Wine on every CPU, not on one")
    p.add_argument("--counts-only", action="store_true",
                   help="only what a warm and a cold launch read from the disc, no times")
    p.add_argument("--check-only", action="store_true",
                   help="check each path once and time none (for an emulated launcher)")
    a = p.parse_args()
    if not a.all_cpus:
        os.sched_setaffinity(0, {max(os.sched_getaffinity(0))})

    for f in (a.launcher, a.viewer, a.spawn, a.timer, a.floor, a.walkfloor, a.shellcopy):
        if not os.path.isfile(f):
            print("missing program: " + f)
            return 1
    if a.reps < 1 or a.cold_reps < 1:
        print("--reps and --cold-reps must be at least 1")
        return 1
    arch = pe_machine(a.launcher)
    missing = missing_prerequisites(arch)
    if missing:
        print("cannot run: " + "; ".join(missing))
        return 1
    FLOOR_EXE = os.path.abspath(a.floor)
    WALKFLOOR_EXE = os.path.abspath(a.walkfloor)
    SHELLCOPY_EXE = os.path.abspath(a.shellcopy)
    timer_exe = os.path.abspath(a.timer)

    W = WinePrefix(os.path.abspath(a.launcher), os.path.abspath(a.viewer),
                   os.path.abspath(a.spawn), a.work)
    try:
        t_start = time.time()
        print(machine())
        print("launcher: %s (%s); helpers of the same architecture" % (a.launcher, arch))
        W.start()
        W.make_shared_writable()
        timer = Timer(W, timer_exe)
        media = os.path.join(W.root, "bench-media")
        real = make_medium(W, os.path.join(media, "real"), 300, 1, sizes=(1000, 60000))
        trees = [("real", real)]
        if not a.counts_only:
            small = make_medium(W, os.path.join(media, "small"), 10, 2)
            large = make_medium(W, os.path.join(media, "large"), 10000, 3)
            trees += [("small", small), ("large", large)]
        sizes = {n: tree_stats(m) for n, m in trees}
        print("VIEWER trees: " + "; ".join("%s %d files %.1f MB" % (n, sizes[n][0], sizes[n][1] / 1e6)
                                             for n, _ in trees))

        # The warm copies: each installed by a first launch, untimed.
        copies = Copies(W)
        roots = {name: copies.install(name, medium) for name, medium in trees}
        print("copy folder as the launcher installs it: " + ", ".join(roots["real"]))
        cmd, _ = viewer_command(W.win(W.shared_copy), "E:")

        counts_hold = count_disc(W, timer, copies, real, os.path.join(W.root, "strace"))
        if a.counts_only:
            print("\n(%.0f s in all)" % (time.time() - t_start))
            return 0 if counts_hold else 1

        # Warm launch against the walk floor and the start-only floor.
        copies.put("real")
        check_warm(W, real, "warm")
        check_walk(W, timer, "walk")
        if a.check_only:
            return check_only(W, timer, copies, real) or (0 if counts_hold else 1)
        cases = [("launcher", [launcher_step()]), ("walk", [walk_step(W)]),
                 ("floor", [floor_step(W)])]
        timer.run(cases, reps=a.warmup)
        # The order turns round every round, so that no case always comes first.
        warm = []
        for i in range(a.reps):
            rows, _ = timer.run(cases[::-1] if i % 2 else cases)
            warm += rows
        check_starts(timer, 3 * (a.warmup + a.reps), cmd, "warm")

        # Warm launch with a small and a large tree: their copies trade places
        # in the shared location (a rename) between rounds.
        for name in ("small", "large"):
            copies.put(name)
            check_warm(W, copies.media[name], "warm " + name)
            check_walk(W, timer, name + "-walk")
        growth = []
        for i in range(-a.warmup, a.reps):
            for name in ("small", "large"):
                copies.put(name)
                cases = [(name, [launcher_step()]), (name + "-walk", [walk_step(W)])]
                rows, _ = timer.run(cases[::-1] if i % 2 else cases)
                if i >= 0:
                    growth += rows
        copies.park()
        check_starts(timer, 4 * (a.warmup + a.reps), cmd, "growth")

        # Cold installation against the shell-only floor and xcopy of the same tree.
        W.map_drive("e", real)
        check_shellcopy(W, timer, real)
        check_xcopy(W, timer, real)
        timer.viewer_starts()
        cold = []
        for _ in range(a.cold_reps):
            for label, steps in (("install", [launcher_step()]), ("shellcopy", shellcopy_steps(W)),
                                 ("xcopy", xcopy_steps(W))):
                clear_copies(W)
                rows, _ = timer.run([(label, steps)])
                cold += rows
                if label == "install":
                    check(os.path.isdir(os.path.join(W.shared_copy, "VIEWER", "bin")),
                          "install: a copy was installed")
        clear_copies(W)
        check(len(timer.viewer_starts()) == 2 * a.cold_reps,
              "install and shellcopy: the viewer started each time")

        # The table.
        print()
        print("%-62s %10s %8s %5s" % ("case", "median ms", "min ms", "runs"))
        n = sizes["real"][0]
        for label, data, key in [
                ("warm launch, launcher (%d-file tree)" % n, warm, "launcher"),
                ("warm launch, walk floor (list the copy's folders, start)", warm, "walk"),
                ("warm launch, start-only floor (CreateProcessA of the viewer)", warm, "floor"),
                ("warm launch, launcher, 10-file tree", growth, "small"),
                ("warm launch, walk floor, 10-file tree", growth, "small-walk"),
                ("warm launch, launcher, 10,000-file tree", growth, "large"),
                ("warm launch, walk floor, 10,000-file tree", growth, "large-walk"),
                ("cold installation, launcher (%d files, %.1f MB)" % (n, sizes["real"][1] / 1e6),
                 cold, "install"),
                ("cold floor, shell copy and companion, viewer start", cold, "shellcopy"),
                ("cold reference, xcopy of the same tree and companion", cold, "xcopy")]:
            ms, runs = median_ms(data, key)
            print("%-62s %10.1f %8.1f %5d" % (label, ms, min_ms(data, key), runs))
        print()
        print("ratios: each round's ratio of the two cases' times in that round; the median and")
        print("the quartiles over the rounds. Bars are judged on %d rounds or more." % MIN_ROUNDS)
        print("%-44s %7s %7s %7s %6s" % ("ratio", "median", "25 %", "75 %", "rounds"))
        for label, rs, bar in [
                ("warm %d files, launcher / walk floor" % n,
                 paired_ratios(warm, "launcher", "walk"), BARS["walk"]),
                ("warm 10 files, launcher / walk floor",
                 paired_ratios(growth, "small", "small-walk"), BARS["walk"]),
                ("warm 10,000 files, launcher / walk floor",
                 paired_ratios(growth, "large", "large-walk"), BARS["walk"]),
                ("warm %d files, launcher / start-only floor" % n,
                 paired_ratios(warm, "launcher", "floor"), None),
                ("warm launcher, 10,000 files / 10 files",
                 paired_ratios(growth, "large", "small"), None),
                ("cold install / shell-only floor",
                 paired_ratios(cold, "install", "shellcopy"), BARS["cold"]),
                ("shell-only floor / xcopy", paired_ratios(cold, "shellcopy", "xcopy"), None),
                ("cold install / xcopy", paired_ratios(cold, "install", "xcopy"), None)]:
            q1, med, q3 = quartiles(rs)
            print("%-44s %7.3f %7.3f %7.3f %6d  %s"
                  % (label, med, q1, q3, len(rs), verdict(med, len(rs), bar)))

        if a.trace:
            def warm_with(name):
                return lambda: copies.put(name)

            def cold_prepare():
                copies.park()
                W.map_drive("e", real)
                clear_copies(W)
            trace_paths(W, timer, [
                ("floor", warm_with("real"), [floor_step(W)]),
                ("walk", warm_with("real"), [walk_step(W)]),
                ("warm", warm_with("real"), [launcher_step()]),
                ("warm-10", warm_with("small"), [launcher_step()]),
                ("walk-10", warm_with("small"), [walk_step(W)]),
                ("warm-10000", warm_with("large"), [launcher_step()]),
                ("walk-10000", warm_with("large"), [walk_step(W)]),
                ("install", cold_prepare, [launcher_step()]),
                ("shellcopy", cold_prepare, shellcopy_steps(W)),
                ("xcopy", cold_prepare, xcopy_steps(W)),
            ])
            clear_copies(W)
        print("\n(%.0f s in all)" % (time.time() - t_start))
        return 0 if counts_hold else 1
    except (BenchError, RuntimeError, OSError, subprocess.SubprocessError) as e:
        print("bench failed: %s" % e)
        return 1
    finally:
        W.stop()


if __name__ == "__main__":
    sys.exit(main())
