#!/usr/bin/env python3
"""Proves that check_exe.py accepts a good launcher build and rejects the
faults it is meant to catch, each for its own reason.

Builds small Windows programs with the MinGW-w64 cross compilers in a
temporary folder: one linked like the launcher with its real resources (and
user32 delay-loaded, and the post-link step), and variants that are each wrong
in one way. Skips when the compilers are missing.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, '..', '..'))
RES = os.path.join(ROOT, 'res')
SWAPRUN = os.path.join(ROOT, 'cmake', 'swaprun.py')
sys.path.insert(0, HERE)

import check_exe  # noqa: E402

# Linked as the launcher's release build is.
LINK = ('-static', '-mwindows', '-s', '-Wl,--dynamicbase,--nxcompat,--tsaware')
ARCH_LINK = {'x64': ('-Wl,--high-entropy-va',), 'x86': ('-Wl,--no-seh',)}

TOOLS = {'x64': 'x86_64-w64-mingw32', 'x86': 'i686-w64-mingw32'}

# Entered through main, as the launcher is (-mwindows makes it a windowed
# program all the same).
C_SOURCE = r'''
#include <windows.h>
int main(void)
{
    MessageBoxA(NULL, "text", "test", MB_OK);
    return 0;
}
'''

# Throws and catches so that the C++ runtime really is needed.
CXX_SOURCE = r'''
#include <windows.h>
#include <stdexcept>
#include <string>
int main()
{
    std::string text = GetCommandLineW()[0] ? "" : "-";
    try { if (text.empty()) throw std::runtime_error("empty"); }
    catch (const std::exception &e) { text = e.what(); }
    MessageBoxA(NULL, text.c_str(), "test", MB_OK);
    return 0;
}
'''

# GetTickCount64 came with Windows Vista.
VISTA_SOURCE = C_SOURCE.replace('MessageBoxA(NULL, "text", "test", MB_OK);',
                                'return (int)GetTickCount64();')

# A section both writable and executable.
WX_SOURCE = C_SOURCE + 'asm(".section .wxcode,\\"wx\\"\\n.byte 0xC3\\n.text");\n'

EXTRA_DIALOG = '''
100 DIALOGEX 0, 0, 100, 50
CAPTION "Test"
BEGIN
    DEFPUSHBUTTON "OK", IDOK, 25, 15, 50, 14
END
STRINGTABLE
BEGIN
    1 "a string"
END
'''

ICON_ONLY_RC = '#include <winresrc.h>\n1 ICON "ZelvoLauncher.ico"\n'


def launcher_rc():
    with open(os.path.join(RES, 'ZelvoLauncher.rc'), encoding='ascii') as f:
        return f.read()


def categories(failures):
    return {category for category, _ in failures}


def have_tools(arch):
    prefix = TOOLS[arch]
    return all(shutil.which(prefix + tool) for tool in ('-gcc', '-g++', '-windres'))


class Builder:
    """Builds test executables for one architecture in a temporary folder."""

    def __init__(self, arch, folder):
        self.arch = arch
        self.prefix = TOOLS[arch]
        self.folder = folder
        self.count = 0
        # MessageBoxA delay-loaded, as the launcher's build does it.
        self.write('user32_delay.def', 'LIBRARY USER32.dll\nEXPORTS\nMessageBoxA%s\n'
                   % ('@16' if arch == 'x86' else ''))
        self.run(self.prefix + '-dlltool', '-k', '-d', 'user32_delay.def', '-y', 'libuser32_delay.a')
        self.delay = ('libuser32_delay.a',) + (('-Wl,-u,_MessageBoxA@16',) if arch == 'x86' else ())

    def run(self, *cmd):
        done = subprocess.run(cmd, cwd=self.folder, capture_output=True, text=True)
        if done.returncode != 0:
            raise RuntimeError('%s failed:\n%s' % (' '.join(cmd), done.stderr))

    def write(self, name, text):
        with open(os.path.join(self.folder, name), 'w', encoding='ascii') as f:
            f.write(text)
        return name

    def exe(self, rc_text, link=LINK, cxx=False, source=None, delay=True, swaprun=True,
            arch_link=True):
        """link: the launcher's flags, or others; arch_link adds the
        architecture's own hardening flags to those."""
        self.count += 1
        stem = 'case%d' % self.count
        text = source or (CXX_SOURCE if cxx else C_SOURCE)
        source = self.write(stem + ('.cpp' if cxx else '.c'), text)
        objects = []
        if rc_text is not None:
            rc = self.write(stem + '.rc', rc_text)
            self.run(self.prefix + '-windres', '-I', RES, '-O', 'coff', rc, stem + '_res.o')
            objects.append(stem + '_res.o')
        compiler = self.prefix + ('-g++' if cxx else '-gcc')
        exe = os.path.join(self.folder, stem + '.exe')
        self.run(compiler, '-O1', source, *objects, *(self.delay if delay else ()), *link,
                 *(ARCH_LINK[self.arch] if arch_link else ()), '-o', exe)
        if swaprun:
            self.run(sys.executable, SWAPRUN, exe)
        return exe


class CheckerCatchesFaults(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not have_tools('x64'):
            raise unittest.SkipTest('x86_64-w64-mingw32 compilers or windres not installed')
        cls.tmp = tempfile.mkdtemp(prefix='check_exe_')
        cls.build = Builder('x64', cls.tmp)
        with open(os.path.join(RES, 'ZelvoLauncher.manifest'), encoding='utf-8') as f:
            manifest = f.read()
        # The trustInfo form that crashes Windows XP SP2.
        cls.build.write('doubled.manifest', manifest.replace(
            '<requestedPrivileges>',
            '<requestedPrivileges xmlns="urn:schemas-microsoft-com:asm.v3">'))
        cls.good = cls.build.exe(launcher_rc())
        with open(os.path.join(cls.tmp, 'big.bin'), 'wb') as f:
            f.write(bytes(range(256)) * 640)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def test_good_build_passes(self):
        notes, failures = check_exe.check(self.good, 'x64')
        self.assertEqual(failures, [])
        self.assertIn('icon group with 3 image(s): 16x16/32bpp, 32x32/32bpp, 48x48/32bpp', notes)

    def changed(self, text, old, new):
        self.assertIn(old, text)
        return text.replace(old, new, 1)

    def test_each_fault_is_caught_for_its_own_reason(self):
        rc = launcher_rc()
        no_manifest = self.changed(rc, 'CREATEPROCESS_MANIFEST_RESOURCE_ID RT_MANIFEST', '//')
        cases = [
            ('console program', rc, LINK[:1] + ('-mconsole',) + LINK[2:], {}, {'subsystem'}),
            ('C++ runtime DLLs', rc, LINK[1:], dict(cxx=True), {'imports'}),
            # A newer runtime calling a function that came after XP.
            ('Vista-only import', rc, LINK, dict(source=VISTA_SOURCE), {'imports'}),
            # Loaded at every start, under Wine at a cost larger than the launch.
            ('user32 imported at start', rc, LINK, dict(delay=False), {'imports'}),
            ('not copied to the paging file', rc, LINK, dict(swaprun=False), {'swaprun'}),
            ('not terminal-server aware', rc, LINK[:3] + ('-Wl,--dynamicbase,--nxcompat',), {},
             {'hardening'}),
            ('writable code', rc, LINK, dict(source=WX_SOURCE), {'hardening'}),
            ('over 160 KB', rc + '\n2 RCDATA "big.bin"\n', LINK, {}, {'size'}),
            ('no manifest', no_manifest, LINK, {}, {'manifest'}),
            ('manifest that crashes Windows XP SP2',
             self.changed(rc, '"ZelvoLauncher.manifest"', '"doubled.manifest"'), LINK, {}, {'manifest'}),
            ('dialog and string table', rc + EXTRA_DIALOG, LINK, {}, {'dialog', 'string'}),
            ('no version record', ICON_ONLY_RC, LINK, {}, {'version', 'manifest'}),
            ('no resources at all', None, LINK, {}, {'icon', 'version', 'manifest'}),
            ('second icon group', rc + '\n2 ICON "ZelvoLauncher.ico"\n', LINK, {}, {'icon'}),
            ('wrong product name', self.changed(rc, '"Zelvo Disc Advanced Viewer"', '"Zelvo Viewer"'),
             LINK, {}, {'version'}),
            ('string and numeric versions differ', self.changed(rc, '1,0,0,0', '1,0,0,1'),
             LINK, {}, {'version'}),
            ('not stripped', rc, LINK[:2] + LINK[3:], {}, {'stripped'}),
            ('debug information', rc, LINK[:2] + LINK[3:] + ('-g',), {}, {'stripped'}),
        ]
        for name, rc_text, link, options, expected in cases:
            with self.subTest(name):
                exe = self.build.exe(rc_text, link, **options)
                _, failures = check_exe.check(exe, 'x64')
                self.assertEqual(categories(failures), expected, failures)

    def test_flag_set_after_the_checksum_is_caught(self):
        with open(self.good, 'rb') as f:
            data = bytearray(f.read())
        pe = check_exe.load(self.good)
        data[pe.DOS_HEADER.e_lfanew + 4 + 19] ^= 0x04  # REMOVABLE_RUN_FROM_SWAP (0x0400)
        bad = os.path.join(self.tmp, 'flag-cleared.exe')
        with open(bad, 'wb') as f:
            f.write(data)
        self.assertEqual(categories(check_exe.check(bad, 'x64')[1]), {'swaprun', 'checksum'})

    def test_imports_outside_the_list_are_named(self):
        for options, name in ((dict(source=VISTA_SOURCE), 'GetTickCount64'),
                              (dict(delay=False), 'USER32.dll must be delay-loaded')):
            with self.subTest(name):
                _, failures = check_exe.check(self.build.exe(launcher_rc(), **options), 'x64')
                self.assertIn(name, ' '.join(text for _, text in failures))

    def test_runtime_dlls_are_named(self):
        exe = self.build.exe(launcher_rc(), LINK[1:], cxx=True)
        _, failures = check_exe.check(exe, 'x64')
        self.assertIn('libstdc++-6.dll', ' '.join(text for _, text in failures))

    def test_wrong_machine(self):
        _, failures = check_exe.check(self.good, 'x86')
        self.assertEqual(categories(failures), {'machine'})

    def test_exit_codes(self):
        def run(*args):
            return subprocess.run([sys.executable, os.path.join(HERE, 'check_exe.py'), *args],
                                  capture_output=True, text=True)

        self.assertEqual(run(self.good, 'x64').returncode, 0)
        self.assertEqual(run(self.good, 'x86').returncode, 1)
        # Not a PE file, and a PE file cut short: a clear message, no traceback.
        with open(self.good, 'rb') as f:
            head = f.read(1024)
        cut = os.path.join(self.tmp, 'cut.exe')
        with open(cut, 'wb') as f:
            f.write(head)
        for path in (os.path.join(RES, 'ZelvoLauncher.ico'), cut, os.path.join(self.tmp, 'missing.exe')):
            done = run(path, 'x64')
            self.assertEqual(done.returncode, 2, done.stdout + done.stderr)
            self.assertIn('cannot be read as a PE file', done.stdout)
            self.assertNotIn('Traceback', done.stderr)
        self.assertEqual(run(self.good, 'arm64').returncode, 2)


class CheckerOn32Bit(unittest.TestCase):
    def test_x86_build(self):
        if not have_tools('x86'):
            self.skipTest('i686-w64-mingw32 compilers or windres not installed')
        with tempfile.TemporaryDirectory(prefix='check_exe_') as tmp:
            build = Builder('x86', tmp)
            exe = build.exe(launcher_rc())
            self.assertEqual(check_exe.check(exe, 'x86')[1], [])
            self.assertEqual(categories(check_exe.check(exe, 'x64')[1]), {'machine'})
            # SEH handlers could be planted where the exe has no SafeSEH table.
            with_seh = build.exe(launcher_rc(), arch_link=False)
            self.assertEqual(categories(check_exe.check(with_seh, 'x86')[1]), {'hardening'})


class DelayCheckerCatchesBadSlots(unittest.TestCase):
    """The launcher's own exe (ZELVO_LAUNCHER_EXE), with one delay-load slot
    made to start at 0, as i386 ld leaves it, or at another function's stub,
    or with the slots' section read-only."""

    def test_bad_slots(self):
        exe = os.environ.get('ZELVO_LAUNCHER_EXE')
        if not exe:
            self.skipTest('ZELVO_LAUNCHER_EXE not set')
        import check_delay_imports
        self.assertEqual(check_delay_imports.check(exe), 0)
        pe = check_exe.load(exe)
        base = pe.OPTIONAL_HEADER.ImageBase
        width = 8 if pe.PE_TYPE == check_exe.pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS else 4
        slots = dict(check_exe.delay_imports(pe)['SHELL32.dll'])
        first, second = slots['SHFileOperationA'], slots['CommandLineToArgvW']
        with open(exe, 'rb') as f:
            data = bytearray(f.read())
        at = pe.get_offset_from_rva(first - base)
        other = data[pe.get_offset_from_rva(second - base):][:width]
        with tempfile.TemporaryDirectory(prefix='check_delay_') as tmp:
            for name, value in (('slot 0', bytes(width)), ("another stub's loader", other)):
                with self.subTest(name):
                    bad = os.path.join(tmp, 'bad.exe')
                    with open(bad, 'wb') as f:
                        f.write(data[:at] + value + data[at + width:])
                    self.assertEqual(check_delay_imports.check(bad), 1)
            # The slots' section read-only, as binutils 2.44 links .idata: every
            # first call would crash.
            with self.subTest('read-only slots'):
                section = pe.get_section_by_rva(first - base)
                flags_at = section.get_file_offset() + 36   # its Characteristics
                read_only = (section.Characteristics & ~0x80000000).to_bytes(4, 'little')
                bad = os.path.join(tmp, 'bad.exe')
                with open(bad, 'wb') as f:
                    f.write(data[:flags_at] + read_only + data[flags_at + 4:])
                self.assertEqual(check_delay_imports.check(bad), len(check_delay_imports.FUNCTIONS))


class IconIsUpToDate(unittest.TestCase):
    def test_icon_matches_its_script(self):
        with tempfile.TemporaryDirectory() as tmp:
            out = os.path.join(tmp, 'icon.ico')
            subprocess.run([sys.executable, os.path.join(RES, 'make_icon.py'), out],
                           check=True, capture_output=True)
            with open(out, 'rb') as a, open(os.path.join(RES, 'ZelvoLauncher.ico'), 'rb') as b:
                self.assertEqual(a.read(), b.read(),
                                 'res/ZelvoLauncher.ico is stale: run res/make_icon.py')


if __name__ == '__main__':
    unittest.main()
