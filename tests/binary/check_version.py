#!/usr/bin/env python3
"""Checks that an exe's version record carries the project's version.

    check_version.py EXE VERSION [COMMIT]

VERSION is the project's version (four numbers, as in 1.0.0.0). The numeric
file and product versions and the FileVersion and ProductVersion strings of
every string table must all be VERSION. With COMMIT, every string table must
say "Built from commit COMMIT" in Comments; without it, none may name a commit.
Exits 1 on a mismatch, 2 when the file cannot be read."""
import sys

try:
    import pefile
except ImportError:  # Debian's package lives with the system's python3
    sys.path.append('/usr/lib/python3/dist-packages')
    import pefile


def dotted(ms, ls):
    return '%d.%d.%d.%d' % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def problems(path, version, commit):
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories([pefile.DIRECTORY_ENTRY['IMAGE_DIRECTORY_ENTRY_RESOURCE']])
    fixed = getattr(pe, 'VS_FIXEDFILEINFO', [])
    if len(fixed) != 1:
        return ['expected one version record, found %d' % len(fixed)]
    found = []
    f = fixed[0]
    for name, value in (('numeric FileVersion', dotted(f.FileVersionMS, f.FileVersionLS)),
                        ('numeric ProductVersion', dotted(f.ProductVersionMS, f.ProductVersionLS))):
        if value != version:
            found.append('%s is %s, expected %s' % (name, value, version))
    tables = [table for info in getattr(pe, 'FileInfo', []) for block in info
              if block.Key == b'StringFileInfo' for table in block.StringTable]
    if not tables:
        found.append('version record has no strings')
    comments = 'Built from commit ' + commit if commit else None
    for table in tables:
        strings = {k.decode('utf-8', 'replace'): v.decode('utf-8', 'replace')
                   for k, v in table.entries.items()}
        for name, expected in (('FileVersion', version), ('ProductVersion', version),
                               ('Comments', comments)):
            if strings.get(name) != expected:
                found.append('%s string in %s is %r, expected %r'
                             % (name, table.LangID.decode(), strings.get(name), expected))
    return found


def main(argv):
    if len(argv) not in (3, 4):
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    path, version = argv[1], argv[2]
    commit = argv[3] if len(argv) == 4 and argv[3] else None
    try:
        found = problems(path, version, commit)
    except (OSError, pefile.PEFormatError) as e:
        print('FAIL %s: cannot be read as a PE file: %s' % (path, e))
        return 2
    for text in found:
        print('FAIL %s: %s' % (path, text))
    if not found:
        print('ok %s: version record says %s%s' % (path, version, ', commit ' + commit if commit else ''))
    return 1 if found else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
