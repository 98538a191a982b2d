#!/usr/bin/env python3
"""Checks that the exe's delay-loaded functions can really be called.

user32, shell32 and advapi32 are delay-loaded: each function's slot starts out pointing
at the loader code of its own stub, which loads the DLL on the first call and
puts the real address in the slot. The stub is a 6-byte jump through the slot
(ff 25), followed by that loader code, which names the slot again. A slot that
starts out 0, or anywhere else, crashes the program on that first call; i386
ld does that when it drops a stub nothing names outright. So does a slot in a
read-only section (binutils 2.44 makes .idata so), where the address cannot
be stored.

Works on the stripped exe: the slots come from the delay-load descriptors.

usage: check_delay_imports.py EXE
"""
import struct
import sys

from check_exe import BadPE, delay_imports, load, pefile

FUNCTIONS = {"MessageBoxA": "USER32.dll", "SHFileOperationA": "SHELL32.dll",
             "CommandLineToArgvW": "SHELL32.dll"}
FUNCTIONS.update(dict.fromkeys(
    ["AddAccessAllowedAceEx", "InitializeAcl", "SetNamedSecurityInfoA"], "ADVAPI32.dll"))


def slot_named_by(pe, at, plus):
    """The VA that the instruction at VA `at` refers to: the jump ff 25 or,
    after it, the loader's lea rax,[rip+n] (x64) or mov eax,imm (x86)."""
    base = pe.OPTIONAL_HEADER.ImageBase
    code = pe.get_data(at - base, 7)
    if code[:2] == b"\xff\x25":
        n = struct.unpack_from("<i" if plus else "<I", code, 2)[0]
        return at + 6 + n if plus else n
    if plus and code[:3] == b"\x48\x8d\x05":
        return at + 7 + struct.unpack_from("<i", code, 3)[0]
    if not plus and code[:1] == b"\xb8":
        return struct.unpack_from("<I", code, 1)[0]
    return None


def check(path):
    """One line per function; the number of failures."""
    pe = load(path)
    plus = pe.PE_TYPE == pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS
    base, width = pe.OPTIONAL_HEADER.ImageBase, 8 if plus else 4
    slots = {(dll.upper(), name): va for dll, imports in delay_imports(pe).items()
             for name, va in imports}
    failures = 0
    for name, dll in FUNCTIONS.items():
        slot = slots.get((dll.upper(), name))
        if slot is None:
            print("FAIL %s: not delay-loaded from %s" % (name, dll))
            failures += 1
            continue
        if not pe.get_section_by_rva(slot - base).IMAGE_SCN_MEM_WRITE:
            print("FAIL %s: slot 0x%X lies in a read-only section: the first call cannot store"
                  " the function's address there" % (name, slot))
            failures += 1
            continue
        start = int.from_bytes(pe.get_data(slot - base, width), "little")
        section = pe.get_section_by_rva(start - base) if start > base else None
        ok = (section is not None and section.IMAGE_SCN_MEM_EXECUTE
              and slot_named_by(pe, start - 6, plus) == slot
              and slot_named_by(pe, start, plus) == slot)
        print("%s %s: slot 0x%X starts at 0x%X%s"
              % ("ok" if ok else "FAIL", name, slot, start,
                 ", its stub's loader" if ok else ", which is not its stub's loader"))
        failures += not ok
    return failures


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip().splitlines()[-1])
        return 2
    try:
        return 1 if check(argv[1]) else 0
    except (OSError, BadPE) as e:
        print("FAIL %s: cannot be read as a PE file: %s" % (argv[1], e))
        return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
