#!/usr/bin/env python3
"""Checks a built ZelvoLauncher.exe before it goes onto a disc.

    python3 check_exe.py <path-to-exe> <x86|x64>

Reads the PE file with pefile (Debian: python3-pefile) and verifies that the
executable
  - is built for the expected machine,
  - is a windowed (GUI) program, not a console one,
  - imports only functions of the reviewed list xp_imports.txt, each one in
    Windows XP: KERNEL32 and msvcrt at start, user32 and shell32 only
    delay-loaded; so nothing of the compiler's runtime (libstdc++, libgcc,
    libwinpthread) has to travel with it, and a newer toolchain cannot slip
    in a function that XP lacks,
  - carries no symbol table and no debug sections (it is stripped),
  - is at most 160 KB (every start reads all of it from the disc),
  - is copied to the paging file when run from a disc (the PE flag
    REMOVABLE_RUN_FROM_SWAP, set after linking) and its header checksum is
    up to date,
  - is hardened: ASLR, DEP and terminal-server aware; 64-bit: high-entropy
    ASLR; 32-bit: no SEH handlers; no section both writable and executable,
  - carries exactly one icon group whose images are all present, exactly
    one version record naming the product, and the manifest (asInvoker in
    the form Windows XP can read, the Windows versions from Vista to 11,
    Common Controls 6, system DPI awareness),
  - carries no dialog or string table.

Prints one line per check and exits 1 when any check fails, 2 when the file
cannot be read as a PE file at all.
"""

import os
import re
import struct
import sys
import xml.etree.ElementTree as ET

try:
    import pefile
except ImportError:  # Debian's package lives with the system's python3
    sys.path.append('/usr/lib/python3/dist-packages')
    import pefile

MACHINES = {'x86': 0x014C, 'x64': 0x8664}
SUBSYSTEM_WINDOWS_GUI = 2
PRODUCT_NAME = 'Zelvo Disc Advanced Viewer'
DEBUG_SECTIONS = ('.debug', '.zdebug', '.stab')
MAX_SIZE = 160 * 1024
IMPORT_LIST = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'xp_imports.txt')

FILE_REMOVABLE_RUN_FROM_SWAP = 0x0400
HARDENING = {
    'x86': ('DYNAMIC_BASE', 'NX_COMPAT', 'TERMINAL_SERVER_AWARE', 'NO_SEH'),
    'x64': ('DYNAMIC_BASE', 'NX_COMPAT', 'TERMINAL_SERVER_AWARE', 'HIGH_ENTROPY_VA'),
}

RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 5, 6, 14, 16, 24
FORBIDDEN_RESOURCES = {RT_DIALOG: 'dialog', RT_STRING: 'string'}

ASM_V1 = '{urn:schemas-microsoft-com:asm.v1}'
ASM_V3 = '{urn:schemas-microsoft-com:asm.v3}'
COMPAT = '{urn:schemas-microsoft-com:compatibility.v1}'
DPI = '{http://schemas.microsoft.com/SMI/2005/WindowsSettings}'
SUPPORTED_OS = {  # Vista, 7, 8, 8.1, 10 and 11
    '{e2011457-1546-43c5-a5fe-008deee3d3f0}', '{35138b9a-5d96-4fbd-8e2d-a2440225f93a}',
    '{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}', '{1f676c76-80e1-4239-95bb-83d0f6d0da78}',
    '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}'}
COMMON_CONTROLS = {'type': 'win32', 'name': 'Microsoft.Windows.Common-Controls',
                   'version': '6.0.0.0', 'publicKeyToken': '6595b64144ccf1df'}


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


def read_import_list(path=IMPORT_LIST):
    """{dll in lower case: (dll as spelled, delay-loaded?, {arch: {function}})}."""
    dlls, current = {}, None
    with open(path, encoding='ascii') as f:
        for number, line in enumerate(f, 1):
            words = line.split('#', 1)[0].split()
            if not words:
                continue
            if words[0].startswith('['):
                header = ' '.join(words).strip('[]').split()
                current = dlls.setdefault(header[0].lower(), (header[0], header[1:] == ['delay'],
                                                              {'x86': set(), 'x64': set()}))
            elif current is None or len(words) > 2 or words[1:] not in ([], ['x86'], ['x64']):
                raise ValueError('%s:%d: cannot read %r' % (path, number, line.strip()))
            else:
                for arch in words[1:] or ('x86', 'x64'):
                    current[2][arch].add(words[0])
    return dlls


def delay_imports(pe, dlls=('USER32.dll', 'SHELL32.dll')):
    """{dll: [(function, slot VA)]} of the delay-load descriptors.

    ld leaves the delay-import data directory empty (the program's own helper
    does the loading and needs no directory), so each descriptor is found
    by its DLL name: new-style (attributes 1), naming that string's RVA."""
    found = {}
    data = pe.__data__
    for dll in (d.encode('latin-1') for d in dlls):
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


def check_imports(pe, arch, fail, note):
    allowed = read_import_list()
    direct = {e.dll.decode('latin-1'): [i.name.decode('latin-1') if i.name else '#%d' % i.ordinal
                                        for i in e.imports]
              for e in getattr(pe, 'DIRECTORY_ENTRY_IMPORT', [])}
    delayed = {dll: [name for name, _ in imports] for dll, imports in
               delay_imports(pe, [spelled for spelled, late, _ in allowed.values() if late]).items()}
    note('imports: %s' % ', '.join('%s (%d)' % (d, len(f)) for d, f in direct.items()))
    note('delay-loaded: %s' % (', '.join('%s (%d)' % (d, len(f)) for d, f in sorted(delayed.items()))
                               or 'none'))
    for dlls, late in ((direct, False), (delayed, True)):
        for dll, functions in dlls.items():
            entry = allowed.get(dll.lower())
            if entry is None:
                fail('imports', 'imports %s, which is not a DLL of Windows XP that the launcher may use'
                     % dll)
                continue
            if entry[1] != late:
                fail('imports', '%s must be %s' % (dll, 'delay-loaded, not imported at start' if entry[1]
                                                   else 'imported at start'))
            outside = sorted(set(functions) - entry[2][arch])
            if outside:
                fail('imports', 'imports from %s functions outside the list of Windows XP ones '
                     '(xp_imports.txt): %s' % (dll, ', '.join(outside)))


def check_header(pe, arch, fail, note):
    flags = pe.FILE_HEADER.Characteristics
    note('characteristics 0x%04X, DLL characteristics 0x%04X, checksum 0x%08X'
         % (flags, pe.OPTIONAL_HEADER.DllCharacteristics, pe.OPTIONAL_HEADER.CheckSum))
    if not flags & FILE_REMOVABLE_RUN_FROM_SWAP:
        fail('swaprun', 'REMOVABLE_RUN_FROM_SWAP is not set: a disc taken out kills the program')
    if pe.OPTIONAL_HEADER.CheckSum not in (0, pe.generate_checksum()):
        fail('checksum', 'the header checksum 0x%08X is not the file\'s (0x%08X)'
             % (pe.OPTIONAL_HEADER.CheckSum, pe.generate_checksum()))
    missing = [f for f in HARDENING[arch]
               if not getattr(pe.OPTIONAL_HEADER, 'IMAGE_DLLCHARACTERISTICS_' + f)]
    if missing:
        fail('hardening', 'DLL characteristics lack %s' % ', '.join(missing))
    relocs = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY['IMAGE_DIRECTORY_ENTRY_BASERELOC']]
    if not relocs.Size:
        fail('hardening', 'no base relocations: the exe cannot be moved, whatever DYNAMIC_BASE says')
    wx = [section_name(s) for s in pe.sections if s.IMAGE_SCN_MEM_WRITE and s.IMAGE_SCN_MEM_EXECUTE]
    if wx:
        fail('hardening', 'sections both writable and executable: %s' % ', '.join(wx))


def check_manifest(tree, fail, note):
    blobs = all_blobs(tree, RT_MANIFEST)
    if [name for name, _, _ in blobs] != [1]:
        fail('manifest', 'expected exactly one manifest, resource 1 of type 24; found %s'
             % [name for name, _, _ in blobs])
        return
    text = blobs[0][2]
    try:
        root = ET.fromstring(text)
    except ET.ParseError as e:
        fail('manifest', 'the manifest is not well-formed XML: %s' % e)
        return
    # Windows XP SP2 crashes on a trustInfo whose namespace is declared again
    # inside it: one declaration, on trustInfo itself.
    trust = re.findall(rb'<trustInfo\b[^>]*>.*?</trustInfo>', text, re.S)
    declarations = re.findall(rb'xmlns(?::\w+)?\s*=', trust[0]) if len(trust) == 1 else []
    if len(trust) != 1 or not trust[0].startswith(b'<trustInfo xmlns="urn:schemas-microsoft-com:asm.v3">') \
            or len(declarations) != 1:
        fail('manifest', 'trustInfo must declare xmlns="urn:schemas-microsoft-com:asm.v3" once, '
             'on itself, and nothing inside it another namespace (Windows XP)')
    levels = [(e.get('level'), e.get('uiAccess')) for e in root.iter(ASM_V3 + 'requestedExecutionLevel')]
    if levels != [('asInvoker', 'false')]:
        fail('manifest', 'requested execution levels are %s, expected asInvoker without uiAccess' % levels)
    oses = [e.get('Id') for e in root.iter(COMPAT + 'supportedOS')]
    if sorted(oses) != sorted(SUPPORTED_OS):
        fail('manifest', 'supportedOS Ids %s are not exactly Vista, 7, 8, 8.1 and 10/11' % oses)
    controls = [e.attrib for e in root.iter(ASM_V1 + 'assemblyIdentity')
                if e.get('name') == COMMON_CONTROLS['name']]
    if len(controls) != 1 or any(controls[0].get(k) != v for k, v in COMMON_CONTROLS.items()):
        fail('manifest', 'no dependency on Common Controls 6: %s' % controls)
    dpi = [(e.tag, (e.text or '').strip()) for e in root.iter() if e.tag in (DPI + 'dpiAware', DPI + 'dpiAwareness')]
    if dpi != [(DPI + 'dpiAware', 'true')]:
        fail('manifest', 'expected system DPI awareness (dpiAware true) only, found %s' % dpi)
    note('manifest: %d bytes, asInvoker, %d supported Windows versions' % (len(text), len(oses)))


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
        return notes, failures  # the rest depends on the machine

    subsystem = pe.OPTIONAL_HEADER.Subsystem
    note('subsystem %d' % subsystem)
    if subsystem != SUBSYSTEM_WINDOWS_GUI:
        fail('subsystem', 'subsystem is %d, expected Windows GUI (2)%s'
             % (subsystem, ' - this is a console program' if subsystem == 3 else ''))

    check_imports(pe, arch, fail, note)
    check_header(pe, arch, fail, note)
    size = len(pe.__data__)
    note('size: %d bytes (%.1f KB)' % (size, size / 1024))
    if size > MAX_SIZE:
        fail('size', '%d bytes, more than %d KB' % (size, MAX_SIZE // 1024))

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
    check_manifest(tree, fail, note)
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
