#!/usr/bin/env python3
"""Checks a built ZelvoLauncher.exe before it goes onto a disc.

    python3 check_exe.py <path-to-exe> <x86|x64>

Reads the PE file with pefile (Debian: python3-pefile) and verifies that the
executable
  - is built for the expected machine,
  - is a windowed (GUI) program, not a console one,
  - imports only system DLLs that every Windows has, so nothing from the
    compiler's runtime (libstdc++, libgcc, libwinpthread) has to travel with it,
  - carries no symbol table and no debug sections (it is stripped),
  - carries exactly one icon group whose images are all present, and exactly
    one version record naming the product,
  - carries no manifest, dialog or string table.

Prints one line per check and exits 1 when any check fails, 2 when the file
cannot be read as a PE file at all.
"""

import struct
import sys

try:
    import pefile
except ImportError:  # Debian's package lives with the system's python3
    sys.path.append('/usr/lib/python3/dist-packages')
    import pefile

MACHINES = {'x86': 0x014C, 'x64': 0x8664}
SUBSYSTEM_WINDOWS_GUI = 2
ALLOWED_DLLS = {'kernel32.dll', 'user32.dll', 'shell32.dll', 'msvcrt.dll'}
PRODUCT_NAME = 'Zelvo Disc Advanced Viewer'
DEBUG_SECTIONS = ('.debug', '.zdebug', '.stab')

RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 5, 6, 14, 16, 24
FORBIDDEN_RESOURCES = {RT_MANIFEST: 'manifest', RT_DIALOG: 'dialog', RT_STRING: 'string'}


class BadPE(Exception):
    pass


def load(path):
    """The parsed PE file; BadPE when it is none or is cut short."""
    try:
        pe = pefile.PE(path)
    except pefile.PEFormatError as e:
        raise BadPE(e.value)
    size = len(pe.__data__)
    for s in pe.sections:
        if s.PointerToRawData + s.SizeOfRawData > size:
            raise BadPE('section %s lies beyond the end of the file' % section_name(s))
    return pe


def section_name(section):
    return section.Name.rstrip(b'\0').decode('latin-1')


def type_name(rtype):
    return pefile.RESOURCE_TYPE.get(rtype, repr(rtype)) if isinstance(rtype, int) else repr(rtype)


def resources(pe):
    """{type: {name: {language: bytes}}}; ids are ints, named entries are str."""
    tree = {}
    for t in getattr(pe, 'DIRECTORY_ENTRY_RESOURCE', None) and pe.DIRECTORY_ENTRY_RESOURCE.entries or []:
        rtype = t.id if t.name is None else str(t.name)
        for n in t.directory.entries:
            name = n.id if n.name is None else str(n.name)
            for lang in n.directory.entries:
                leaf = lang.data.struct
                tree.setdefault(rtype, {}).setdefault(name, {})[lang.id] = \
                    pe.get_data(leaf.OffsetToData, leaf.Size)
    return tree


def all_blobs(tree, rtype):
    """(name, language, data) of every resource of one type."""
    return [(name, lang, blob)
            for name, langs in tree.get(rtype, {}).items()
            for lang, blob in langs.items()]


def delay_imports(pe):
    """{dll: [(function, slot VA)]} of the delay-load descriptors.

    ld leaves the delay-import data directory empty (the program's own helper
    does the loading and needs no directory), so each descriptor is found
    by its DLL name: new-style (attributes 1), naming that string's RVA."""
    found = {}
    data = pe.__data__
    for dll in (b'USER32.dll', b'SHELL32.dll'):
        at = data.find(dll + b'\0')
        while at >= 0:
            rva = pe.get_rva_from_offset(at)
            desc = data.find(struct.pack('<II', 1, rva)) if rva is not None else -1
            if desc >= 0:
                for entry in pe.parse_delay_import_directory(pe.get_rva_from_offset(desc), 32) or []:
                    found[entry.dll.decode('latin-1')] = [
                        (imp.name.decode('latin-1'), imp.address) for imp in entry.imports]
                break
            at = data.find(dll + b'\0', at + 1)
    return found


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


def check_version(pe, tree, fail, note):
    records = all_blobs(tree, RT_VERSION)
    if len(records) != 1:
        fail('version', 'expected exactly one version record (RT_VERSION), found %d' % len(records))
        return
    if not getattr(pe, 'VS_FIXEDFILEINFO', None):
        fail('version', 'version record has no VS_FIXEDFILEINFO')
        return
    fixed = pe.VS_FIXEDFILEINFO[0]

    def dotted(ms, ls):
        return '%d.%d.%d.%d' % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)

    file_version = dotted(fixed.FileVersionMS, fixed.FileVersionLS)
    product_version = dotted(fixed.ProductVersionMS, fixed.ProductVersionLS)
    note('version record: FileVersion %s, ProductVersion %s' % (file_version, product_version))
    tables, translations = {}, set()
    for info in (pe.FileInfo[0] if getattr(pe, 'FileInfo', None) else []):
        if info.Key == b'StringFileInfo':
            for table in info.StringTable:
                tables[table.LangID.decode('latin-1').upper()] = {
                    k.decode('latin-1'): v.decode('utf-8', 'replace') for k, v in table.entries.items()}
        elif info.Key == b'VarFileInfo':
            for var in info.Var:
                words = var.entry.get(b'Translation', '').split()
                translations |= {'%04X%04X' % (int(words[i], 16), int(words[i + 1], 16))
                                 for i in range(0, len(words) - 1, 2)}
    if not tables:
        fail('version', 'version record has no strings')
        return
    for table, strings in sorted(tables.items()):
        note('  strings %s: %s' % (table, ', '.join('%s=%r' % kv for kv in sorted(strings.items()))))
        if strings.get('ProductName') != PRODUCT_NAME:
            fail('version', 'ProductName in %s is %r, expected %r'
                 % (table, strings.get('ProductName'), PRODUCT_NAME))
        # Explorer shows the string version, the installer compares the numeric one.
        for name, numeric in (('FileVersion', file_version), ('ProductVersion', product_version)):
            if strings.get(name) != numeric:
                fail('version', '%s string %r in %s differs from the numeric %s'
                     % (name, strings.get(name), table, numeric))
    # Windows looks up the strings through the translation list.
    if not translations & set(tables):
        fail('version', 'no string table matches the Translation entries %s' % sorted(translations))


def check(path, arch):
    """Returns (notes, failures); each failure is (category, message)."""
    notes, failures = [], []

    def note(text):
        notes.append(text)

    def fail(category, text):
        failures.append((category, text))

    pe = load(path)
    machine = pe.FILE_HEADER.Machine
    plus = pe.PE_TYPE == pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS
    expected = MACHINES[arch]
    note('machine 0x%04X, %s' % (machine, 'PE32+' if plus else 'PE32'))
    if machine != expected or plus != (arch == 'x64'):
        fail('machine', 'machine 0x%04X is not %s (0x%04X)' % (machine, arch, expected))

    subsystem = pe.OPTIONAL_HEADER.Subsystem
    note('subsystem %d' % subsystem)
    if subsystem != SUBSYSTEM_WINDOWS_GUI:
        fail('subsystem', 'subsystem is %d, expected Windows GUI (2)%s'
             % (subsystem, ' - this is a console program' if subsystem == 3 else ''))

    dlls = [e.dll.decode('latin-1') for e in getattr(pe, 'DIRECTORY_ENTRY_IMPORT', [])]
    note('imports: %s' % ', '.join(dlls))
    delayed = delay_imports(pe)
    note('delay-loaded: %s' % (', '.join(sorted(delayed)) or 'none'))
    extra = [d for d in dlls + list(delayed) if d.lower() not in ALLOWED_DLLS]
    if extra:
        fail('imports', 'imports DLLs that do not ship with Windows: %s' % ', '.join(extra))

    debug = [section_name(s) for s in pe.sections if section_name(s).startswith(DEBUG_SECTIONS)]
    symbols = pe.FILE_HEADER.NumberOfSymbols
    note('symbols: %d; debug sections: %s' % (symbols, ', '.join(debug) or 'none'))
    if symbols or pe.FILE_HEADER.PointerToSymbolTable:
        fail('stripped', 'carries a symbol table of %d entries: link with -s' % symbols)
    if debug:
        fail('stripped', 'carries debug information (%s): link with -s' % ', '.join(debug))

    tree = resources(pe)
    note('resource types: %s' % ', '.join(type_name(t) for t in tree))
    check_icons(tree, fail, note)
    check_version(pe, tree, fail, note)
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
    except (OSError, BadPE) as e:
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
