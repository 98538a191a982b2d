#!/usr/bin/env python3
"""Where the bytes of a built launcher exe go, per library, from its link map.

    scripts/exe_size.py build/windows-x86        (or any build folder)

Reads ZelvoLauncher.map (written by the link) and ZelvoLauncher.exe, adds up
the input sections that take room in the file, by the archive or object they
come from, and puts the rest (headers, alignment, import names) on a line of
its own. Sizes are before each output section is padded to 512 bytes.
"""
import collections
import os
import re
import sys

NO_FILE_BYTES = ('.bss', 'COMMON', '.debug', '.zdebug', '.stab')
ENTRY = re.compile(r'^ (\S+)?\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$')


def source(path):
    """The library or object an input section comes from, by its file name."""
    if '.rc.res' in path:
        return 'resources (.rc)'
    if '/CMakeFiles/' in '/' + path:
        return 'launcher code'
    if not re.search(r'\.(a|o|obj)\b', path):
        return 'made by the linker'
    return os.path.basename(re.sub(r'\(.*\)$', '', path))


def sizes(map_text):
    body = map_text[map_text.index('Linker script and memory map'):]
    found = collections.Counter()
    section = None
    for line in body.splitlines():
        named = re.match(r'^ (\S+)\s*$', line)   # a long name on a line of its own
        if named:
            section = named.group(1)
            continue
        entry = ENTRY.match(line)
        if entry:
            name = entry.group(1) or section
            if name and not name.startswith(NO_FILE_BYTES):
                found[source(entry.group(3).strip())] += int(entry.group(2), 16)
        section = None
    return found


def main(argv):
    if len(argv) != 2:
        print('usage: scripts/exe_size.py BUILD_FOLDER', file=sys.stderr)
        return 2
    with open(os.path.join(argv[1], 'ZelvoLauncher.map'), encoding='latin-1') as f:
        found = sizes(f.read())
    total = os.path.getsize(os.path.join(argv[1], 'ZelvoLauncher.exe'))
    for name, size in found.most_common():
        print('%8d  %s' % (size, name))
    print('%8d  headers, alignment and the rest' % (total - sum(found.values())))
    print('%8d  ZelvoLauncher.exe' % total)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
