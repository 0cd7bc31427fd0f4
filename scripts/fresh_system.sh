#!/bin/bash
# Runs a command of the project on a fresh Debian 12 system: a minimal chroot
# with only the toolchain a newcomer starts from (build-essential, cmake,
# ninja-build, git, ca-certificates) and a clean clone of the current commit.
# Nothing the host has installed is visible inside, so a package that the
# project's own scripts forget to install fails here, not on the next
# newcomer's machine. CI runs the test command this way (.ci/run).
#
#   scripts/fresh_system.sh                      scripts/test.sh
#   scripts/fresh_system.sh 'scripts/demo.sh'    any command line
#
# Needs root (chroot and mounts). The base system is made once with
# debootstrap and kept as a tar file (QARNAUTO_FRESH_CACHE, default
# /var/tmp/qarnauto-fresh/bookworm-base.tar); every run unpacks a new copy.
# Downloaded .deb files are kept beside it, so a second run installs the same
# packages again without fetching them again. QARNAUTO_FRESH_KEEP=1 keeps the
# system's folder afterwards. Exit status: the command's.
set -eu
cd "$(dirname "$0")/.."
top=$(pwd)
command=${1:-scripts/test.sh}
[ "$(id -u)" -eq 0 ] || exec sudo -E "$0" "$@"

cache=${QARNAUTO_FRESH_CACHE:-/var/tmp/qarnauto-fresh/bookworm-base.tar}
debs=$(dirname "$cache")/archives
windows_deps=/var/tmp/qarnauto-windows-deps
windows_cache=$(dirname "$cache")/windows-deps
mkdir -p "$(dirname "$cache")" "$debs/partial"
include=build-essential,cmake,ninja-build,git,ca-certificates

# The host's own Debian mirror (a machine without one names it in
# QARNAUTO_FRESH_MIRROR).
mirror=${QARNAUTO_FRESH_MIRROR:-$( { grep -hE '^deb ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
  awk '{ print $2 }'; grep -hE '^URIs:' /etc/apt/sources.list.d/*.sources 2>/dev/null | awk '{ print $2 }'; } |
  grep -E '/debian/?$' | head -n 1)}
mirror=${mirror:-http://deb.debian.org/debian}

# The base is remade when the list of what it holds changes.
if [ ! -s "$cache" ] || [ "$(cat "$cache.include" 2>/dev/null)" != "$include" ]; then
  if ! command -v debootstrap >/dev/null; then
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -q debootstrap >/dev/null
  fi
  base=$(mktemp -d /var/tmp/qarnauto-fresh-base.XXXXXX)
  echo "== making the base system from $mirror (once; kept in $cache)" >&2
  if ! debootstrap --variant=minbase --include="$include" bookworm "$base" "$mirror" > "$base.log" 2>&1; then
    tail -n 30 "$base.log" >&2
    rm -rf "$base" "$base.log"
    exit 3
  fi
  rm -rf "$base"/var/cache/apt/archives/*.deb
  tar -C "$base" -cf "$cache.tmp" . && mv "$cache.tmp" "$cache"
  echo "$include" > "$cache.include"
  rm -rf "$base" "$base.log"
fi

root=$(mktemp -d /var/tmp/qarnauto-fresh.XXXXXX)
finish() {
  # A daemon the command left behind (a web server, Wine's server) would
  # keep files of the system open: every process inside it ends first.
  for link in /proc/[0-9]*/root; do
    if [ "$(readlink "$link" 2>/dev/null)" = "$root" ]; then
      pid=${link#/proc/}
      kill -9 "${pid%/root}" 2>/dev/null || true
    fi
  done
  # What the run downloaded is kept for the next (links, not copies), and
  # the Windows libraries it built.
  find "$root/var/cache/apt/archives" -maxdepth 1 -name '*.deb' -exec cp -nl {} "$debs/" \; 2>/dev/null || true
  if [ -d "$root$windows_deps" ]; then
    rm -rf "$windows_cache.new" && cp -a "$root$windows_deps" "$windows_cache.new" &&
      rm -rf "$windows_cache" && mv "$windows_cache.new" "$windows_cache" || true
  fi
  if [ -n "${QARNAUTO_FRESH_KEEP:-}" ]; then
    echo "== the system is kept in $root" >&2
  else
    rm -rf --one-file-system "$root"
  fi
}
trap finish EXIT
tar -C "$root" -xf "$cache"
chmod 755 "$root"
# One consistent suite set, the release and its updates, without the
# security suite: its indexes are published apart from the mirror's and are
# at times out of step with them for a while (the i386 twin of an amd64
# library missing), and a throw-away test system needs a set that installs
# the same way every day more than it needs security updates.
{
  echo "deb $mirror bookworm main"
  echo "deb $mirror bookworm-updates main"
} > "$root/etc/apt/sources.list"
# Packages an earlier run downloaded, as links: the system's own folder, not
# a mount, since a mounted disk is a drive the updater may install on.
find "$debs" -maxdepth 1 -name '*.deb' -exec cp -l {} "$root/var/cache/apt/archives/" \; 2>/dev/null || true
# The Windows libraries cross-built by an earlier run (scripts/windows_deps.sh
# builds again what is missing or out of date), copied in and out.
if [ -d "$windows_cache" ]; then
  mkdir -p "$root/var/tmp" && cp -a "$windows_cache" "$root$windows_deps"
fi
cp /etc/hosts /etc/resolv.conf "$root/etc/"
mkdir -p "$root/work"
git clone -q "$top" "$root/work/project"
git -C "$root/work/project" checkout -q "$(git rev-parse HEAD)"
echo "== on a fresh Debian 12 system at commit $(git rev-parse --short HEAD): $command" >&2

set +e
unshare --mount --propagation private --fork bash -c '
  set -e
  root=$1 command=$2
  mount -t proc proc "$root/proc"
  mount --rbind /dev "$root/dev"
  mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"
  mount --rbind /sys "$root/sys"
  mount -t tmpfs -o mode=1777 tmpfs "$root/tmp"
  exec chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    ${QARNAUTO_JOBS:+QARNAUTO_JOBS=$QARNAUTO_JOBS} ${QARNAUTO_NO_SKIPS:+QARNAUTO_NO_SKIPS=$QARNAUTO_NO_SKIPS} \
    bash -c "cd /work/project && $command"
' _ "$root" "$command"
rc=$?
set -e
echo "== exit status $rc" >&2
exit "$rc"
