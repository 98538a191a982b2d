#!/usr/bin/env bash
# Builds the release from clean and writes into OUTDIR (which must not exist,
# or be empty):
#   ZelvoLauncher.exe      the 32-bit launcher, the one that goes onto discs
#   ZelvoLauncher-x64.exe  the 64-bit launcher
#   SHA256SUMS             SHA-256 of both (check with sha256sum -c SHA256SUMS)
#
#   scripts/release.sh OUTDIR
#
# Environment:
#   ZELVO_SIGN_PFX       a PKCS#12 file with a code-signing certificate and its
#                        key: both exes are signed (SHA-256) after stripping
#   ZELVO_SIGN_PASSWORD  its password (empty when unset); read from the
#                        environment so that it never shows in a process list
#   ZELVO_TIMESTAMP_URL  an RFC 3161 timestamp server; without it the
#                        signature carries no timestamp
#
# Two runs on the same commit give byte-identical unsigned exes; the version
# record names the commit. On any error nothing is left in or beside OUTDIR.
set -euo pipefail

die() { echo "release.sh: $*" >&2; exit 1; }

[ $# -eq 1 ] && [ -n "$1" ] || die "usage: scripts/release.sh OUTDIR"
root=$(cd "$(dirname "$0")/.." && pwd)
out=$1
case $out in /*) ;; *) out=$PWD/$out ;; esac
while [ "${out%/}" != "$out" ] && [ "$out" != / ]; do out=${out%/}; done
parent=$(dirname "$out")
name=$(basename "$out")

# ---- everything that can be wrong is found before the build -------------
if [ -e "$out" ] || [ -L "$out" ]; then
    [ -d "$out" ] && [ ! -L "$out" ] && [ -z "$(ls -A "$out")" ] \
        || die "$out already exists and is not an empty folder; name a new one"
fi
[ -d "$parent" ] || die "cannot write the release: folder $parent does not exist"

work=
stage=
cleanup() { rm -rf "$work" "$stage"; }
trap cleanup EXIT
trap 'exit 130' INT TERM HUP
# The release is put together beside OUTDIR and renamed into place at the end.
stage=$(mktemp -d "$parent/.$name.partial.XXXXXX" 2>/dev/null) \
    || die "cannot write the release: cannot create a folder in $parent"
work=$(mktemp -d "${TMPDIR:-/tmp}/zelvo-release.XXXXXX")

pfx=${ZELVO_SIGN_PFX:-}
tsa=${ZELVO_TIMESTAMP_URL:-}
export ZELVO_SIGN_PASSWORD=${ZELVO_SIGN_PASSWORD:-}
[ -z "$tsa" ] || [ -n "$pfx" ] \
    || die "ZELVO_TIMESTAMP_URL is set but ZELVO_SIGN_PFX is not: there is nothing to timestamp"
if [ -n "$pfx" ]; then
    command -v osslsigncode >/dev/null || die "signing needs osslsigncode (apt-get install osslsigncode)"
    command -v openssl >/dev/null || die "signing needs openssl (apt-get install openssl)"
    [ -f "$pfx" ] && [ -r "$pfx" ] || die "ZELVO_SIGN_PFX: no readable certificate file at $pfx"
    # Older PKCS#12 files use ciphers that OpenSSL 3 keeps in its legacy provider.
    p12() {
        openssl pkcs12 -in "$pfx" -passin env:ZELVO_SIGN_PASSWORD "$@" 2>"$work/p12.err" \
            || { grep -q unsupported "$work/p12.err" \
                 && openssl pkcs12 -legacy -in "$pfx" -passin env:ZELVO_SIGN_PASSWORD "$@" 2>"$work/p12.err"; }
    }
    if ! cert=$(p12 -nokeys -clcerts); then
        grep -qi "invalid password\|mac verify" "$work/p12.err" \
            && die "ZELVO_SIGN_PASSWORD is not the password of $pfx"
        die "ZELVO_SIGN_PFX: $pfx is not a PKCS#12 certificate file"
    fi
    grep -q "BEGIN CERTIFICATE" <<<"$cert" \
        || die "ZELVO_SIGN_PFX: $pfx holds no certificate with its private key"
    p12 -nocerts -nodes | grep -c "PRIVATE KEY" >/dev/null \
        || die "ZELVO_SIGN_PFX: $pfx holds no private key"
    openssl x509 -noout -checkend 0 <<<"$cert" >/dev/null \
        || die "ZELVO_SIGN_PFX: the certificate in $pfx has expired"
    usage=$(openssl x509 -noout -ext extendedKeyUsage <<<"$cert" 2>/dev/null || true)
    [ -z "$usage" ] || grep -q "Code Signing" <<<"$usage" \
        || die "ZELVO_SIGN_PFX: the certificate in $pfx is not for code signing"
fi

commit=$(git -C "$root" rev-parse HEAD 2>/dev/null) \
    || die "$root is not a git checkout: a release is built from a commit"
if ! git -C "$root" diff --quiet HEAD --; then
    echo "release.sh: warning: uncommitted changes; the version record says so" >&2
    commit="$commit-modified"
fi

# ---- build -----------------------------------------------------------------
# Anything in the toolchain that reads the date takes the commit's instead.
export SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct)
export LC_ALL=C TZ=UTC
# architecture, CMake preset, name in OUTDIR
for build in "x86 windows-x86 ZelvoLauncher.exe" "x64 windows ZelvoLauncher-x64.exe"; do
    read -r arch preset file <<<"$build"
    echo "release.sh: building the $arch exe"
    log=$work/build-$arch.log
    # The presets build Release, which links the exe stripped: it is signed as it ships.
    { cmake -S "$root" --preset "$preset" -B "$work/$arch" -DZELVO_SOURCE_COMMIT="$commit" \
        && cmake --build "$work/$arch" -j2 --target ZelvoLauncher; } >"$log" 2>&1 \
        || { tail -n 40 "$log" >&2; die "the $arch build failed (above)"; }
    exe=$work/$arch/ZelvoLauncher.exe
    if [ -n "$pfx" ]; then
        sign=(osslsigncode sign -pkcs12 "$pfx" -h sha256 -n "Zelvo Disc Advanced Viewer")
        [ -z "$tsa" ] || sign+=(-ts "$tsa")
        # The password goes through a pipe, not the command line.
        if [ -n "$ZELVO_SIGN_PASSWORD" ]; then
            "${sign[@]}" -readpass <(printf '%s' "$ZELVO_SIGN_PASSWORD") \
                -in "$exe" -out "$stage/$file" >"$work/sign.log" 2>&1
        else
            "${sign[@]}" -in "$exe" -out "$stage/$file" >"$work/sign.log" 2>&1
        fi || { cat "$work/sign.log" >&2; die "signing the $arch exe failed (above)"; }
    else
        cp "$exe" "$stage/$file"
    fi
done
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$work/x86/CMakeCache.txt")
(cd "$stage" && sha256sum ZelvoLauncher.exe ZelvoLauncher-x64.exe >SHA256SUMS)

[ ! -d "$out" ] || rmdir "$out" || die "cannot replace the empty folder $out"
chmod 755 "$stage"
mv -T "$stage" "$out" || die "cannot move the release into $out"
stage=
echo "release.sh: version $version, commit $commit, $([ -n "$pfx" ] && echo signed || echo unsigned), in $out:"
sed 's/^/  /' "$out/SHA256SUMS"
