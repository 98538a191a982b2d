#!/usr/bin/env python3
"""Checks a built ZelvoLauncher.exe before it goes onto a disc.

    python3 check_exe.py <path-to-exe> <x86|x64>

Reads the PE file directly (headers, import tables and the resource tree) and
verifies that the executable
  - is built for the expected machine,
  - is a windowed (GUI) program, not a console one,
  - imports only system DLLs that every Windows has, so nothing from the
    compiler's runtime (libstdc++, libgcc, libwinpthread) has to travel with it,
  - carries exactly one icon group whose images are all present, and exactly
    one version record naming the product,
  - carries no manifest, dialog or string table.

Prints one line per check and exits 1 when any check fails, 2 when the file
cannot be read as a PE file at all.
"""

import struct
import sys

MACHINES = {'x86': 0x014C, 'x64': 0x8664}
SUBSYSTEM_WINDOWS_GUI = 2
ALLOWED_DLLS = {'kernel32.dll', 'user32.dll', 'shell32.dll', 'msvcrt.dll'}
PRODUCT_NAME = 'Zelvo Disc Advanced Viewer'

RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 5, 6, 14, 16, 24
FORBIDDEN_RESOURCES = {RT_MANIFEST: 'manifest', RT_DIALOG: 'dialog', RT_STRING: 'string'}
RESOURCE_TYPE_NAMES = {1: 'RT_CURSOR', 2: 'RT_BITMAP', 3: 'RT_ICON', 4: 'RT_MENU', 5: 'RT_DIALOG',
                       6: 'RT_STRING', 9: 'RT_ACCELERATOR', 10: 'RT_RCDATA', 12: 'RT_GROUP_CURSOR',
                       14: 'RT_GROUP_ICON', 16: 'RT_VERSION', 24: 'RT_MANIFEST'}


class BadPE(Exception):
    pass


class PEFile:
    def __init__(self, data):
        self.data = data
        if data[:2] != b'MZ':
            raise BadPE('no MZ header')
        pe = self.u32(0x3C)
        if self.read(pe, 4) != b'PE\0\0':
            raise BadPE('no PE signature')
        (self.machine, nsections, _, _, _, opt_size, _) = struct.unpack_from('<HHIIIHH', data, pe + 4)
        opt = pe + 24
        self.magic = self.u16(opt)
        if self.magic == 0x10B:
            dirs_at = opt + 96
        elif self.magic == 0x20B:
            dirs_at = opt + 112
        else:
            raise BadPE('unknown optional header magic 0x%X' % self.magic)
        self.subsystem = self.u16(opt + 68)
        ndirs = self.u32(dirs_at - 4)
        self.dirs = [struct.unpack_from('<II', data, dirs_at + 8 * i) for i in range(min(ndirs, 16))]
        self.sections = []
        for i in range(nsections):
            at = opt + opt_size + 40 * i
            vsize, va, rawsize, rawptr = struct.unpack_from('<IIII', data, at + 8)
            self.sections.append((va, max(vsize, rawsize), rawptr, rawsize))

    def read(self, offset, size):
        if offset < 0 or offset + size > len(self.data):
            raise BadPE('reference beyond the end of the file')
        return self.data[offset:offset + size]

    def u16(self, offset):
        return struct.unpack('<H', self.read(offset, 2))[0]

    def u32(self, offset):
        return struct.unpack('<I', self.read(offset, 4))[0]

    def offset(self, rva):
        for va, size, rawptr, rawsize in self.sections:
            if va <= rva < va + size:
                if rva - va >= rawsize:
                    raise BadPE('RVA 0x%X has no data in the file' % rva)
                return rawptr + rva - va
        raise BadPE('RVA 0x%X lies in no section' % rva)

    def cstring(self, rva):
        start = self.offset(rva)
        end = self.data.find(b'\0', start)
        if end < 0:
            raise BadPE('unterminated string')
        return self.data[start:end].decode('latin-1')

    def directory(self, index):
        if index >= len(self.dirs):
            return 0, 0
        return self.dirs[index]

    def imported_dlls(self):
        """Names of the DLLs in the import table and the delay-load table."""
        dlls = []
        rva, size = self.directory(1)
        if rva:
            at = self.offset(rva)
            while True:
                ilt, _, _, name, iat = struct.unpack('<IIIII', self.read(at, 20))
                if not (ilt or name or iat):
                    break
                dlls.append(self.cstring(name))
                at += 20
        rva, size = self.directory(13)
        if rva:
            at = self.offset(rva)
            while True:
                attrs, name = struct.unpack('<II', self.read(at, 8))
                if not name:
                    break
                # Old-style delay descriptors (attribute bit 0 clear) hold VAs, not RVAs.
                if not attrs & 1:
                    raise BadPE('old-style delay-load descriptor')
                dlls.append(self.cstring(name))
                at += 32
        return dlls

    def resources(self):
        """{type: {name: {language: bytes}}}; ids are ints, named entries are str."""
        rva, size = self.directory(2)
        if not rva:
            return {}
        base = self.offset(rva)
        seen = set()

        def entries(offset):
            if offset in seen:
                raise BadPE('resource directory loops')
            seen.add(offset)
            named, ids = struct.unpack('<HH', self.read(base + offset + 12, 4))
            for i in range(named + ids):
                name, target = struct.unpack('<II', self.read(base + offset + 16 + 8 * i, 8))
                if name & 0x80000000:
                    at = base + (name & 0x7FFFFFFF)
                    length = self.u16(at)
                    name = self.read(at + 2, 2 * length).decode('utf-16-le')
                yield name, target

        def subdir(target):
            if not target & 0x80000000:
                raise BadPE('resource directory entry where a subdirectory was expected')
            return target & 0x7FFFFFFF

        tree = {}
        for rtype, t in entries(0):
            for name, n in entries(subdir(t)):
                for lang, leaf in entries(subdir(n)):
                    if leaf & 0x80000000:
                        raise BadPE('resource subdirectory where data was expected')
                    data_rva, data_size = struct.unpack('<II', self.read(base + leaf, 8))
                    blob = self.read(self.offset(data_rva), data_size)
                    tree.setdefault(rtype, {}).setdefault(name, {})[lang] = blob
        return tree


def type_name(rtype):
    return RESOURCE_TYPE_NAMES.get(rtype, repr(rtype))


def all_blobs(tree, rtype):
    """(name, language, data) of every resource of one type."""
    return [(name, lang, blob)
            for name, langs in tree.get(rtype, {}).items()
            for lang, blob in langs.items()]


def parse_version_block(data, offset=0):
    """One VS_VERSIONINFO-style block: (key, value bytes, is_text, children)."""
    length, value_length, is_text = struct.unpack_from('<HHH', data, offset)
    if length < 6 or offset + length > len(data):
        raise BadPE('version block with a bad length')
    end = offset + length
    key_end = offset + 6
    while data[key_end:key_end + 2] != b'\0\0':
        key_end += 2
        if key_end >= end:
            raise BadPE('version block key runs past its block')
    key = data[offset + 6:key_end].decode('utf-16-le')
    pos = (key_end + 2 + 3) & ~3
    value_bytes = value_length * 2 if is_text else value_length
    value = data[pos:min(pos + value_bytes, end)]
    children = []
    child = (pos + value_bytes + 3) & ~3
    while child + 6 <= end:
        block = parse_version_block(data, child)
        children.append(block)
        child = (child + struct.unpack_from('<H', data, child)[0] + 3) & ~3
    return key, value, is_text, children


def read_version(blob):
    """(fixed file version, fixed product version, {table: {name: text}}, [(lang, codepage)])."""
    key, value, _, children = parse_version_block(blob)
    if key != 'VS_VERSION_INFO' or len(value) < 52:
        raise BadPE('version record does not start with VS_VERSION_INFO')
    sig, _, fms, fls, pms, pls = struct.unpack_from('<6I', value)
    if sig != 0xFEEF04BD:
        raise BadPE('version record has no VS_FIXEDFILEINFO signature')

    def dotted(ms, ls):
        return '%d.%d.%d.%d' % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)

    tables, translations = {}, []
    for ckey, _, _, grandchildren in children:
        if ckey == 'StringFileInfo':
            for tkey, _, _, strings in grandchildren:
                table = tables.setdefault(tkey.upper(), {})
                for skey, svalue, _, _ in strings:
                    table[skey] = svalue.decode('utf-16-le', 'replace').split('\0')[0]
        elif ckey == 'VarFileInfo':
            for vkey, vvalue, _, _ in grandchildren:
                if vkey == 'Translation':
                    translations += [struct.unpack_from('<HH', vvalue, i)
                                     for i in range(0, len(vvalue) - 3, 4)]
    return dotted(fms, fls), dotted(pms, pls), tables, translations


def check_icons(tree, fail, note):
    groups = all_blobs(tree, RT_GROUP_ICON)
    if len(groups) != 1:
        fail('icon', 'expected exactly one icon group (RT_GROUP_ICON), found %d' % len(groups))
        return
    _, _, blob = groups[0]
    if len(blob) < 6:
        fail('icon', 'icon group is truncated')
        return
    _, kind, count = struct.unpack_from('<HHH', blob)
    if kind != 1 or count == 0 or len(blob) < 6 + 14 * count:
        fail('icon', 'icon group header is malformed or lists no images')
        return
    images = tree.get(RT_ICON, {})
    used = set()
    sizes = []
    for i in range(count):
        w, h, _, _, _, bits, size, icon_id = struct.unpack_from('<BBBBHHIH', blob, 6 + 14 * i)
        w, h = w or 256, h or 256
        langs = images.get(icon_id)
        if not langs:
            fail('icon', 'icon group refers to missing RT_ICON %d (%dx%d)' % (icon_id, w, h))
            continue
        if any(len(data) != size for data in langs.values()):
            fail('icon', 'RT_ICON %d does not have the %d bytes its group states' % (icon_id, size))
        used.add(icon_id)
        sizes.append('%dx%d/%dbpp' % (w, h, bits))
    stray = sorted(set(images) - used, key=str)
    if stray:
        fail('icon', 'RT_ICON images outside the icon group: %s' % stray)
    note('icon group with %d image(s): %s' % (count, ', '.join(sizes)))


def check_version(tree, fail, note):
    records = all_blobs(tree, RT_VERSION)
    if len(records) != 1:
        fail('version', 'expected exactly one version record (RT_VERSION), found %d' % len(records))
        return
    file_version, product_version, tables, translations = read_version(records[0][2])
    note('version record: FileVersion %s, ProductVersion %s' % (file_version, product_version))
    if not tables:
        fail('version', 'version record has no strings')
        return
    for table, strings in sorted(tables.items()):
        note('  strings %s: %s' % (table, ', '.join('%s=%r' % kv for kv in sorted(strings.items()))))
        if strings.get('ProductName') != PRODUCT_NAME:
            fail('version', 'ProductName in %s is %r, expected %r'
                 % (table, strings.get('ProductName'), PRODUCT_NAME))
        # Explorer shows the string version, the installer compares the numeric one.
        for name, fixed in (('FileVersion', file_version), ('ProductVersion', product_version)):
            if strings.get(name) != fixed:
                fail('version', '%s string %r in %s differs from the numeric %s'
                     % (name, strings.get(name), table, fixed))
    # Windows looks up the strings through the translation list.
    keys = {'%04X%04X' % t for t in translations}
    if not keys & set(tables):
        fail('version', 'no string table matches the Translation entries %s' % sorted(keys))


def check(path, arch):
    """Returns (notes, failures); each failure is (category, message)."""
    notes, failures = [], []

    def note(text):
        notes.append(text)

    def fail(category, text):
        failures.append((category, text))

    with open(path, 'rb') as f:
        pe = PEFile(f.read())

    expected = MACHINES[arch]
    note('machine 0x%04X, %s' % (pe.machine, 'PE32+' if pe.magic == 0x20B else 'PE32'))
    if pe.machine != expected or (pe.magic == 0x20B) != (arch == 'x64'):
        fail('machine', 'machine 0x%04X is not %s (0x%04X)' % (pe.machine, arch, expected))

    note('subsystem %d' % pe.subsystem)
    if pe.subsystem != SUBSYSTEM_WINDOWS_GUI:
        fail('subsystem', 'subsystem is %d, expected Windows GUI (2)%s'
             % (pe.subsystem, ' - this is a console program' if pe.subsystem == 3 else ''))

    dlls = pe.imported_dlls()
    note('imports: %s' % ', '.join(dlls))
    extra = [d for d in dlls if d.lower() not in ALLOWED_DLLS]
    if extra:
        fail('imports', 'imports DLLs that do not ship with Windows: %s' % ', '.join(extra))

    tree = pe.resources()
    note('resource types: %s' % ', '.join(type_name(t) for t in tree))
    check_icons(tree, fail, note)
    check_version(tree, fail, note)
    for rtype, what in FORBIDDEN_RESOURCES.items():
        if rtype in tree:
            fail(what, 'has %d %s resource(s) (%s); there must be none'
                 % (len(all_blobs(tree, rtype)), what, type_name(rtype)))
    return notes, failures


def main(argv):
    if len(argv) != 3 or argv[2] not in MACHINES:
        print('usage: check_exe.py <exe> <x86|x64>', file=sys.stderr)
        return 2
    path, arch = argv[1], argv[2]
    try:
        notes, failures = check(path, arch)
    except (OSError, BadPE, struct.error, UnicodeDecodeError) as e:
        print('FAIL %s: cannot be read as a PE file: %s' % (path, e))
        return 2
    print('%s (%s)' % (path, arch))
    for text in notes:
        print('  ' + text)
    for category, text in failures:
        print('FAIL [%s] %s' % (category, text))
    if failures:
        return 1
    print('OK: all checks passed')
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
