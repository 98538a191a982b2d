#!/usr/bin/env python3
"""Sets IMAGE_FILE_REMOVABLE_RUN_FROM_SWAP in a linked exe's PE header, and
keeps its import slots writable.

    swaprun.py EXE

With the flag Windows copies the whole image to the paging file before the
program starts when the exe lies on removable media or a CD, so that the disc
going away later cannot kill the program with an in-page error. GNU ld cannot
set the flag.

The slots of the delay-loaded functions lie in .idata beside the others, and
the delay-load helper writes a function's address into its slot on the first
call. binutils 2.44 (Debian 13's) makes .idata read-only, so that first call
(the first message box) crashes; .idata is made writable again, as earlier
binutils leave it. The header checksum that ld wrote is brought up to date.
"""
import struct
import sys

REMOVABLE_RUN_FROM_SWAP = 0x0400
SCN_MEM_WRITE = 0x80000000


def checksum(data, skip):
    """The PE checksum of data, the 4 bytes at skip (the field) counted as 0."""
    words = data[:skip] + bytes(4) + data[skip + 4:] + bytes(len(data) % 2)
    total = 0
    for (word,) in struct.iter_unpack("<H", words):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return total + len(data)


def main(path):
    with open(path, "rb") as f:
        data = bytearray(f.read())
    pe = struct.unpack_from("<I", data, 0x3C)[0] if len(data) > 0x40 else 0
    if data[:2] != b"MZ" or data[pe:pe + 4] != b"PE\0\0":
        sys.exit("swaprun.py: %s is not a PE file" % path)
    flags_at = pe + 4 + 18        # the file header's Characteristics
    sum_at = pe + 4 + 20 + 64     # the optional header's CheckSum
    flags = struct.unpack_from("<H", data, flags_at)[0]
    struct.pack_into("<H", data, flags_at, flags | REMOVABLE_RUN_FROM_SWAP)
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 4 + 2)
    for at in range(pe + 4 + 20 + optional_size, pe + 4 + 20 + optional_size + 40 * sections, 40):
        if data[at:at + 8].rstrip(b"\0") == b".idata":
            characteristics = struct.unpack_from("<I", data, at + 36)[0]
            struct.pack_into("<I", data, at + 36, characteristics | SCN_MEM_WRITE)
    if struct.unpack_from("<I", data, sum_at)[0]:
        struct.pack_into("<I", data, sum_at, checksum(bytes(data), sum_at))
    with open(path, "r+b") as f:
        f.write(data)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: swaprun.py EXE")
    main(sys.argv[1])
