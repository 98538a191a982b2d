#!/usr/bin/env bash
# Installs, from Debian's packages, what building and testing the launcher need
# and this machine lacks. Run as root; does nothing when everything is there.
# Works on Debian 12 and 13: packages whose names change between releases
# (clang's libFuzzer runtime, Wine's parts) are looked up with apt-cache.
#
#   scripts/install-deps.sh [--debootstrap]
#
# --debootstrap: also what scripts/test-in-debian.sh needs on this machine.
set -euo pipefail

need=()
have() { command -v "$1" >/dev/null 2>&1; }
have cmake || need+=(cmake)
have g++ || need+=(g++)
have clang++ || need+=(clang)
[ -e /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
have python3 || need+=(python3)
have git || need+=(git)                       # the release names its commit
have x86_64-w64-mingw32-g++ || need+=(g++-mingw-w64-x86-64)
have i686-w64-mingw32-g++ || need+=(g++-mingw-w64-i686)
have wine || need+=(wine)
have xvfb-run || need+=(xvfb)
have xauth || need+=(xauth)
have xdotool || need+=(xdotool)
[ -e /usr/share/i18n/locales/ja_JP ] && have localedef || need+=(locales)  # the code page 932 tests
[ -e /usr/lib/python3/dist-packages/pefile.py ] || need+=(python3-pefile)  # the exe checks
have openssl || need+=(openssl)               # the release: certificate checks
have osslsigncode || need+=(osslsigncode)     # the release: signing
have xorriso || need+=(xorriso)               # scripts/disc.py: disc images
[ -e /usr/lib/python3/dist-packages/pycdlib ] || need+=(python3-pycdlib)  # scripts/disc.py: reading images
if [ "${1:-}" = --debootstrap ]; then
    have debootstrap || need+=(debootstrap)
fi

# The first of the named packages that this release's archive offers, or
# nothing.
offered() {
    local p
    for p in "$@"; do
        if [ -n "$(apt-cache show --no-all-versions "$p" 2>/dev/null | sed -n 's/^Package: //p')" ]; then
            echo "$p"
            return
        fi
    done
}

# The package lists, once. A mirror caught mid-sync serves lists of the wrong
# size for a minute or so: try again, then go on with what was fetched; a
# package still missing then fails the install with apt's own message.
lists_updated=
update_lists() {
    [ -z "$lists_updated" ] || return 0
    lists_updated=1
    local try
    for try in 1 2 3; do
        apt-get update -q >/dev/null && return 0
        echo "install-deps.sh: apt-get update failed (try $try of 3)" >&2
        [ "$try" = 3 ] || sleep 20
    done
}
install() {
    [ $# -gt 0 ] || return 0
    export DEBIAN_FRONTEND=noninteractive
    update_lists
    echo "Installing: $*"
    apt-get install -y -q "$@" >/dev/null
}

# A tiny i386 Linux program (exit(42) through int 0x80): whether this kernel
# runs 32-bit programs at all. Some machines of this kind refuse them.
runs_i386() {
    local f rc=0
    f=$(mktemp)
    printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >"$f"
    chmod +x "$f"
    "$f" 2>/dev/null || rc=$?
    rm -f "$f"
    [ "$rc" = 42 ]
}

# This release's code name, for its backports suite.
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")

# Where the kernel runs no 32-bit programs, qemu-user runs them: a
# binfmt_misc handler sends every i386 program through qemu-i386. Version 10
# or later (Debian 13's archive, Debian 12's backports): 7.2 takes over a
# minute for each 32-bit process that Wine starts. Debian registers no i386
# handler on amd64, so it is registered here; flag F makes the kernel open
# qemu now, so that the handler serves inside a chroot too. A handler does
# not outlive a reboot: this runs again then.
QEMU_MIN=1:10
BINFMT=/proc/sys/fs/binfmt_misc
I386_HANDLER=':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:F'
qemu_ok() {
    local v
    v=$(dpkg-query -W -f '${Version}' qemu-user 2>/dev/null) || return 1
    [ -n "$v" ] && dpkg --compare-versions "$v" ge "$QEMU_MIN" && [ -x /usr/bin/qemu-i386 ]
}
# Debian's own backports suite of this release, from the mirror apt uses for
# the release itself; the other sources stay as they are.
add_backports() {
    local suite=$codename-backports mirror
    grep -rqs -- "$suite" /etc/apt/sources.list /etc/apt/sources.list.d/ && return 0
    mirror=$(apt-get indextargets --format '$(ORIGIN)|$(LABEL)|$(REPO_URI)' 2>/dev/null \
             | awk -F'|' '$1 == "Debian" && $2 == "Debian" { print $3; exit }')
    [ -n "$mirror" ] || return 1
    printf 'Types: deb\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: %s\n' \
        "$mirror" "$suite" /usr/share/keyrings/debian-archive-keyring.gpg \
        >/etc/apt/sources.list.d/debian-backports.sources
    echo "Added Debian's $suite suite: /etc/apt/sources.list.d/debian-backports.sources"
    lists_updated=
    update_lists
}
install_qemu() {
    update_lists
    local candidate
    candidate=$(apt-cache policy qemu-user | sed -n 's/^ *Candidate: //p')
    if [ -n "$candidate" ] && [ "$candidate" != "(none)" ] \
        && dpkg --compare-versions "$candidate" ge "$QEMU_MIN"; then
        install --no-install-recommends qemu-user
    elif [ -n "$codename" ] && add_backports; then
        install --no-install-recommends -t "$codename-backports" qemu-user || true
    fi
}
# Sets why_no_i386 when it cannot be done.
emulate_i386() {
    qemu_ok || install_qemu
    if ! qemu_ok; then
        why_no_i386="neither this release's archive nor its backports suite gives qemu-user $QEMU_MIN or later"
        return 1
    fi
    if ! mountpoint -q "$BINFMT" && ! mount -t binfmt_misc binfmt_misc "$BINFMT" 2>/dev/null; then
        why_no_i386="binfmt_misc cannot be mounted on $BINFMT"
        return 1
    fi
    # An older handler of the same name (another qemu) gives way.
    [ ! -e "$BINFMT/qemu-i386" ] || echo -1 >"$BINFMT/qemu-i386"
    if ! printf '%s' "$I386_HANDLER" 2>/dev/null >"$BINFMT/register"; then
        why_no_i386="the kernel refused the i386 handler in $BINFMT/register"
        return 1
    fi
    runs_i386 || { why_no_i386="an i386 program fails even through qemu-i386"; return 1; }
    echo "This kernel runs no 32-bit programs: they run under qemu-i386 ($BINFMT/qemu-i386)."
}

# Where qemu runs them and the i386 lists will not give wine32:i386 (a list
# caught mid-sync, or i386 builds that lag the amd64 ones), Wine's 32-bit half
# comes from a root of its own: wine32 and libwine of exactly the installed
# libwine's version and their i386 dependencies, unpacked with no dpkg
# install, the 32-bit loader run as qemu-i386 -L <root>. Wine starts the
# loader of the other bitness from the folder of its own loader, so a copy of
# the 64-bit one, with its unix libraries, sits beside it, and every Wine
# process of a prefix starts from that folder (tests/e2e/zelvo_e2e.py does).
WINE32_ROOT=/opt/zelvo-wine32
wine_version() { dpkg-query -W -f '${Version}' libwine:amd64 2>/dev/null || true; }
wine32_root_current() {
    [ -n "$(wine_version)" ] && [ "$(cat "$WINE32_ROOT/version" 2>/dev/null)" = "$(wine_version)" ]
}
make_wine32_root() {
    local v new=$WINE32_ROOT.new pkgs d
    v=$(wine_version)
    [ -n "$v" ] || return 1
    echo "Unpacking Wine's 32-bit half ($v, i386) into $WINE32_ROOT"
    rm -rf "$new"
    mkdir -p "$new/debs"
    chown _apt "$new/debs" 2>/dev/null || true
    pkgs=$(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
               --no-replaces --no-enhances "wine32:i386=$v" "libwine:i386=$v" \
           | grep -E '^[a-z0-9][^ ]*:i386$' | grep -vE '^(wine32|libwine):i386$' | sort -u)
    (cd "$new/debs" && apt-get download -q $pkgs "wine32:i386=$v" "libwine:i386=$v" >/dev/null) || return 1
    for d in "$new"/debs/*.deb; do
        dpkg-deb -x "$d" "$new" || return 1
    done
    rm -rf "$new/debs"
    echo 'include /etc/ld.so.conf.d/*.conf' >"$new/etc/ld.so.conf"
    ldconfig -r "$new" || return 1
    # zlib1.dll marked as a Wine builtin, as libwine's postinst does.
    d=$new/usr/lib/i386-linux-gnu/wine/i386-windows/zlib1.dll
    { head -c 64 /usr/i686-w64-mingw32/lib/zlib1.dll; printf 'Wine builtin DLL'
      printf '\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0'; tail -c +97 /usr/i686-w64-mingw32/lib/zlib1.dll; } >"$d"
    mv "$new/usr/lib/wine/wine" "$new/usr/lib/wine/wine.i386"
    rm -f "$new/usr/lib/wine/wineserver32"   # the host's 64-bit server serves both
    cp /usr/lib/wine/wine64 "$new/usr/lib/wine/"
    mkdir -p "$new/usr/lib/x86_64-linux-gnu/wine"
    cp -a /usr/lib/x86_64-linux-gnu/wine/x86_64-unix "$new/usr/lib/x86_64-linux-gnu/wine/"
    ln -s /usr/lib/x86_64-linux-gnu/wine/x86_64-windows "$new/usr/lib/x86_64-linux-gnu/wine/"
    # Debian ships no preloader: the loader runs a program only with
    # WINELOADERNOEXEC, and then takes --version for one.
    printf '#!/bin/sh\n[ "$1" = --version ] || export WINELOADERNOEXEC=1\nexec /usr/bin/qemu-i386 -L %s -0 %s %s "$@"\n' \
        "$WINE32_ROOT" "$WINE32_ROOT/usr/lib/wine/wine" "$WINE32_ROOT/usr/lib/wine/wine.i386" \
        >"$new/usr/lib/wine/wine"
    chmod 755 "$new/usr/lib/wine/wine"
    echo "$v" >"$new/version"
    rm -rf "$WINE32_ROOT"
    mv "$new" "$WINE32_ROOT"
}

# The 32-bit exe, the one on discs, runs under Wine's 32-bit loader (from the
# i386 architecture) beside the 64-bit one.
why_no_i386=
emulated=
[ -n "$why_no_i386" ] || runs_i386 || { emulate_i386 && emulated=1; } || true
i386_emulated() { [ -n "$emulated" ] || [ -e "$BINFMT/qemu-i386" ]; }
want_wine32=
if [ ! -x /usr/lib/wine/wine ] && ! { i386_emulated && wine32_root_current; }; then
    if [ -z "$why_no_i386" ]; then
        want_wine32=1
        # The i386 lists come with the update below (another one, when
        # qemu-user came first).
        if ! dpkg --print-foreign-architectures | grep -qx i386; then
            dpkg --add-architecture i386
            lists_updated=
        fi
    else
        echo "wine32 is not installed ($why_no_i386), and the 32-bit exe's end-to-end tests" \
             "and benchmark are skipped."
    fi
fi
wine64_missing=
[ -x /usr/lib/wine/wine64 ] || wine64_missing=1

if [ ${#need[@]} -gt 0 ] || [ -n "$want_wine32" ] || [ -n "$wine64_missing" ]; then
    update_lists
    # Wine's 64-bit loader and its 32-bit part, under this release's names.
    if [ -n "$wine64_missing" ]; then
        part=$(offered wine64 wine)
        [ -n "$part" ] || { echo "install-deps.sh: this release offers no package of Wine's 64-bit loader" >&2; exit 1; }
        need+=("$part")
    fi
    if [ -n "$want_wine32" ]; then
        part=$(offered wine32:i386)
        [ -n "$part" ] || { echo "install-deps.sh: this release offers no package of Wine's 32-bit part" >&2; exit 1; }
        # Its i386 libraries must be the very versions of the amd64 ones: a
        # mirror whose i386 lists are stale cannot give them. Then the rest is
        # installed, and the 32-bit exe's end-to-end tests skip, saying why.
        if ! install "${need[@]}" "$part"; then
            install "${need[@]}"
            if ! i386_emulated; then
                echo "install-deps.sh: WARNING: $part cannot be installed from this mirror; going on without it" >&2
            elif ! make_wine32_root; then
                rm -rf "$WINE32_ROOT.new"
                echo "install-deps.sh: WARNING: $part cannot be installed from this mirror, nor unpacked" \
                     "into $WINE32_ROOT; going on without it" >&2
            fi
        fi
        need=()
    fi
    install "${need[@]}"
fi

# clang's libFuzzer runtime, for the clang that is installed now, whatever its
# version (Debian 12: clang 14, Debian 13: clang 19).
resource=$(clang++ -print-resource-dir)
if ! ls "$resource"/lib/*/libclang_rt.fuzzer*.a >/dev/null 2>&1; then
    version=$(clang++ -dumpversion)
    runtime=$(offered "libclang-rt-${version%%.*}-dev")
    [ -n "$runtime" ] || { echo "install-deps.sh: this release offers no libFuzzer runtime for clang $version" >&2; exit 1; }
    install "$runtime"
fi
