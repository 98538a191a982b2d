#!/usr/bin/env bash
# Tries the README's two commands as a new user would on a fresh Debian
# machine of another release: makes a minimal root of RELEASE with
# debootstrap (from this machine's Debian mirror) in a temporary folder,
# clones the checkout's committed HEAD into it, and runs scripts/demo.sh and
# scripts/test-all.sh there as root. Everything it made is removed at the
# end, also after a failure or Ctrl-C. Run as root.
#
#   scripts/test-in-debian.sh RELEASE        (e.g. trixie)
#
# Exits with the status of the first command that failed, 0 when both pass.
set -euo pipefail

die() { echo "test-in-debian.sh: $*" >&2; exit 2; }
[ $# -eq 1 ] && [[ $1 =~ ^[a-z]+$ ]] || die "usage: scripts/test-in-debian.sh RELEASE (a Debian code name)"
release=$1
[ "$(id -u)" = 0 ] || die "run as root: it makes a root file system and mounts into it"
checkout=$(cd "$(dirname "$0")/.." && pwd)
git -C "$checkout" rev-parse --verify -q HEAD >/dev/null || die "$checkout is not a git checkout with a commit"

"$checkout/scripts/install-deps.sh" --debootstrap

# The Debian archive this machine's apt uses (not its security archive).
mirror=$(apt-get indextargets --format '$(ORIGIN)|$(LABEL)|$(REPO_URI)' 2>/dev/null \
         | awk -F'|' '$1 == "Debian" && $2 == "Debian" { print $3; exit }')
[ -n "$mirror" ] || die "no Debian archive is configured in /etc/apt (run apt-get update first)"

root=
step_group=
# Ends the step that runs (its own process group) and what still runs inside
# the root (a wineserver, an X server), unmounts everything below the root,
# deepest first, and removes it; the root stays, with a message, if anything
# is still mounted there.
cleanup() {
    local status=$? pid m left
    trap - EXIT INT TERM HUP
    [ -z "$step_group" ] || kill -KILL -- "-$step_group" 2>/dev/null || true
    [ -n "$root" ] || exit "$status"
    for pid in $(ls /proc | grep -E '^[0-9]+$'); do
        [ "$(readlink "/proc/$pid/root" 2>/dev/null)" = "$root" ] && kill -KILL "$pid" 2>/dev/null || true
    done
    sleep 1
    for m in $(awk -v r="$root" 'index($2, r "/") == 1 { print $2 }' /proc/mounts | sort -r); do
        umount -R "$m" 2>/dev/null || umount -l "$m" 2>/dev/null || true
    done
    left=$(awk -v r="$root" 'index($2, r "/") == 1 { print $2 }' /proc/mounts)
    if [ -n "$left" ]; then
        echo "test-in-debian.sh: still mounted, so $root is left in place: $left" >&2
    else
        rm -rf --one-file-system "$root"
    fi
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

root=$(mktemp -d "${TMPDIR:-/tmp}/zelvo-$release.XXXXXX")
chmod 755 "$root"   # the root folder of a system: its own users (_apt) go through it
step() { echo "== $(date -u +%H:%M:%S) $*"; }
# Runs a step in a process group of its own, so that Ctrl-C or a kill of
# this script ends the whole step at once (the trap runs while it waits).
timed() {
    local start=$SECONDS status=0
    setsid "$@" &
    step_group=$!
    wait "$step_group" || status=$?
    step_group=
    echo "   ($(( SECONDS - start )) s)"
    return $status
}

step "a minimal Debian $release in $root, from $mirror"
timed bash -c 'exec debootstrap --variant=minbase "$1" "$2" "$3" >"$2/.debootstrap.log" 2>&1' \
    bash "$release" "$root" "$mirror" || { tail -n 20 "$root/.debootstrap.log" >&2; exit 1; }
rm -f "$root/.debootstrap.log"
for d in proc sys dev dev/pts; do
    mount --bind "/$d" "$root/$d"
done
# binfmt_misc stays out of the root: handlers that its packages register
# would serve the whole machine. The machine's qemu-i386 handler (flag F)
# runs the root's 32-bit programs all the same.

step "a clone of $(git -C "$checkout" rev-parse --short HEAD) in /root/zelvo"
git clone -q "$checkout" "$root/root/zelvo"

# As a new user: root's login environment, nothing of this machine's.
inside=(chroot "$root" /usr/bin/env -i HOME=/root USER=root LOGNAME=root SHELL=/bin/bash TERM=dumb
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
        /bin/bash -c 'cd /root/zelvo && "$@"' bash)
step "scripts/demo.sh"
timed "${inside[@]}" scripts/demo.sh
step "scripts/test-all.sh"
timed "${inside[@]}" scripts/test-all.sh
step "both passed on Debian $release"
