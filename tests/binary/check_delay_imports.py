#!/usr/bin/env python3
"""Checks that the exe's delay-loaded functions can really be called.

user32 and shell32 are delay-loaded: each function's slot starts out pointing
at the loader code of its own stub (the stub's jump is 6 bytes; the loader code
follows), which loads the DLL on the first call and puts the real address in
the slot. A slot that starts out 0 crashes the program on that first call;
i386 ld does that when it drops a stub nothing names outright.

usage: check_delay_imports.py EXE NM
"""
import re
import struct
import subprocess
import sys

from check_exe import PEFile

FUNCTIONS = ("MessageBoxA", "SHFileOperationA", "CommandLineToArgvW")


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip().splitlines()[-1])
        return 2
    exe, nm = argv[1], argv[2]
    with open(exe, "rb") as f:
        pe = PEFile(f.read())
    opt = struct.unpack_from("<I", pe.data, 0x3C)[0] + 24
    if pe.magic == 0x20B:
        base, width = struct.unpack_from("<Q", pe.data, opt + 24)[0], 8
    else:
        base, width = struct.unpack_from("<I", pe.data, opt + 28)[0], 4

    symbols = {}
    for line in subprocess.run([nm, exe], capture_output=True, text=True, check=True).stdout.splitlines():
        parts = line.split()
        if len(parts) == 3:
            symbols[parts[2]] = (parts[1], int(parts[0], 16))

    failures = 0
    for name in FUNCTIONS:
        stub = next((s for s in symbols if re.fullmatch(r"_?%s(@\d+)?" % name, s)), None)
        slot = next((s for s in symbols if re.fullmatch(r"__imp__?%s(@\d+)?" % name, s)), None)
        if stub is None or slot is None:
            print("FAIL %s: no delay-load stub or slot (stub %s, slot %s)" % (name, stub, slot))
            failures += 1
            continue
        value = int.from_bytes(pe.read(pe.offset(symbols[slot][1] - base), width), "little")
        expected = symbols[stub][1] + 6
        verdict = "ok" if symbols[stub][0] == "T" and value == expected else "FAIL"
        print("%s %s: slot 0x%X starts at 0x%X, its stub's loader is at 0x%X"
              % (verdict, name, symbols[slot][1], value, expected))
        failures += verdict != "ok"
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
