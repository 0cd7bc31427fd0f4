#!/bin/sh
# scripts/install_deps_test.sh
# scripts/install_deps.sh against a fake package manager on PATH (apt-get,
# dpkg, dpkg-query, sudo): an index that fails to update does not stop the
# install, an install that fails says in one line which package and why,
# each job's set is what it needs (the demo's holds no i386 package and no
# Wine), and every script asks for a set that has the tools it runs.
set -eu
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAILED: $1" >&2
  failures=$((failures + 1))
}

mkdir -p "$work/bin"
# Nothing is installed; every call is noted in calls.log.
cat > "$work/bin/dpkg-query" << 'EOF'
#!/bin/sh
exit 1
EOF
cat > "$work/bin/dpkg" << 'EOF'
#!/bin/sh
echo "dpkg $*" >> "$FAKE/calls.log"
case "$1" in
  --print-architecture) echo amd64 ;;
  --print-foreign-architectures) cat "$FAKE/foreign" 2> /dev/null ;;
  --add-architecture) echo "$2" >> "$FAKE/foreign" ;;
esac
EOF
cat > "$work/bin/sudo" << 'EOF'
#!/bin/sh
exec "$@"
EOF
# FAKE_INDEX_FAILS: the i386 security index fails to update, as on a day a
# mirror is out of step. FAKE_BROKEN: a package whose dependencies no index
# offers.
cat > "$work/bin/apt-get" << 'EOF'
#!/bin/sh
echo "apt-get $*" >> "$FAKE/calls.log"
simulate=""
command=""
packages=""
for a in "$@"; do
  case "$a" in
    -s) simulate=1 ;;
    -*) ;;
    update | install) command=$a ;;
    *=* | DPkg::*) ;;
    *) packages="$packages $a" ;;
  esac
done
case "$command" in
  update)
    echo "Get:1 http://deb.debian.org/debian bookworm InRelease [151 kB]"
    if [ -n "${FAKE_INDEX_FAILS:-}" ]; then
      echo "Err:5 http://deb.debian.org/debian-security bookworm-security/main i386 Packages"
      echo "  File has unexpected size (402520 != 402524). Mirror sync in progress? [IP: 127.0.0.1 80]"
      echo "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/by-hash/SHA256/0  File has unexpected size (402520 != 402524). Mirror sync in progress? [IP: 127.0.0.1 80]"
      echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
      exit 100
    fi
    ;;
  install)
    for p in $packages; do
      if [ "$p" = "${FAKE_BROKEN:-}" ]; then
        echo "The following packages have unmet dependencies:"
        echo " $p : Depends: libwine:i386 (= 8.0~repack-4+deb12u1) but 8.0~repack-4 is to be installed"
        echo "E: Unable to correct problems, you have held broken packages."
        exit 100
      fi
    done
    [ -n "$simulate" ] || echo "$packages" >> "$FAKE/installed"
    ;;
esac
exit 0
EOF
chmod +x "$work/bin/"*

# Runs install_deps.sh with the fake on PATH in a clean state; its standard
# error goes to err.log.
run() {
  rm -f "$work/calls.log" "$work/installed" "$work/foreign"
  FAKE=$work PATH="$work/bin:$PATH" sh scripts/install_deps.sh "$@" > "$work/out.log" 2> "$work/err.log"
}
# A machine that runs 32-bit programs, and one whose kernel runs none.
runs32=$work/bin/true32
printf '#!/bin/sh\nexit 0\n' > "$runs32"
no32=$work/bin/false32
printf '#!/bin/sh\nexit 1\n' > "$no32"
chmod +x "$runs32" "$no32"

# The demo's set: the Linux build and nginx, nothing of i386, Wine,
# mingw-w64 or a window manager, on any machine.
demo=$(QARNAUTO_PROBE_32BIT=$runs32 sh scripts/install_deps.sh --list demo)
for unwanted in :i386 wine mingw openbox xvfb i3-wm libgtest; do
  echo "$demo" | grep -q -- "$unwanted" && fail "the demo's set holds $unwanted"
done
for wanted in nginx libarchive-dev libsodium-dev liblzma-dev libtinyxml-dev libcairo2-dev; do
  echo "$demo" | grep -qx -- "$wanted" || fail "the demo's set lacks $wanted"
done

# One index failing: the install goes on, and succeeds; the demo adds no
# architecture.
if ! FAKE_INDEX_FAILS=1 QARNAUTO_PROBE_32BIT=$runs32 run demo; then
  fail "an index that failed to update stopped the demo's install: $(cat "$work/err.log")"
fi
grep -q nginx "$work/installed" 2> /dev/null || fail "the demo's packages were not installed"
grep -q 'add-architecture' "$work/calls.log" && fail "the demo's install added an architecture"
grep -q 'some package indexes could not be updated' "$work/err.log" ||
  fail "the failed index was not reported"

# The install failing: one clear line naming the package and why, and a
# non-zero exit.
if FAKE_INDEX_FAILS=1 FAKE_BROKEN=wine32:i386 QARNAUTO_PROBE_32BIT=$runs32 run test wine32; then
  fail "an install that failed ended in success"
fi
line=$(grep '^install_deps: .* is not installable now' "$work/err.log" || true)
[ "$(echo "$line" | grep -c .)" = 1 ] || fail "not one line for the failed install: $(cat "$work/err.log")"
case "$line" in
  *"wine32:i386 is not installable now: the registry's i386 index is out of step with amd64"*"try again later") ;;
  *) fail "the failed install's line does not say why: $line" ;;
esac
echo "$line" | grep -q 'libwine:i386' || fail "the line does not name the missing dependency: $line"
grep -qx 'dpkg --add-architecture i386' "$work/calls.log" || fail "the 32-bit Wine came without i386"
# The test command's own set asks for no i386: it installs the 32-bit Wine
# apart, so a day without it still runs everything else.
QARNAUTO_PROBE_32BIT=$runs32 sh scripts/install_deps.sh --list test | grep -q ':i386' &&
  fail "the test set holds an i386 package"

# The same failure with every index fresh is still named, without blaming
# the registry.
FAKE_BROKEN=nginx QARNAUTO_PROBE_32BIT=$no32 run demo && fail "a broken nginx ended in success"
grep -q '^install_deps: nginx is not installable now: it depends on libwine' "$work/err.log" ||
  fail "a broken package on a good day is not named: $(tail -n 1 "$work/err.log")"
grep -q 'out of step' "$work/err.log" && fail "a good day's failure blames the registry"

# A kernel that runs no 32-bit program gets no i386 package, even for the
# tests; a forced 64-bit Windows build neither.
QARNAUTO_PROBE_32BIT=$no32 sh scripts/install_deps.sh --list windows wine32 | grep -q ':i386' &&
  fail "the test set holds i386 packages on a machine that cannot run them"
QARNAUTO_WINE_ARCH=x86_64 QARNAUTO_PROBE_32BIT=$runs32 sh scripts/install_deps.sh --list windows |
  grep -q ':i386' && fail "the forced x86_64 Windows set holds i386 packages"
QARNAUTO_PROBE_32BIT=$runs32 sh scripts/install_deps.sh --list windows | grep -qx 'wine32:i386' ||
  fail "the Windows set lacks the 32-bit Wine on a machine that runs it"

# Nothing left to install: no package manager at all.
printf '#!/bin/sh\necho "install ok installed"\n' > "$work/bin/dpkg-query"
run demo || fail "an installed set failed"
grep -q apt-get "$work/calls.log" 2> /dev/null && fail "an installed set ran apt-get"

# An unknown purpose is refused before anything is done.
sh scripts/install_deps.sh --list demos > /dev/null 2>&1 && fail "an unknown purpose was taken"

# Each script's set has the tools that script (and the scripts it starts)
# runs. A tool's package: "tool package" per line.
tools="nginx nginx
7zz 7zip
Xvfb xvfb
xcompmgr xcompmgr
openbox openbox
xfwm4 xfwm4
fluxbox fluxbox
icewm icewm
cpack dpkg-dev
dpkg-deb dpkg-dev
man man-db
curl curl
aria2c aria2
bsdtar libarchive-tools
python3 python3
zsync zsync
zsyncmake zsync
bc bc
openssl openssl
clang clang
wine wine"
for script in scripts/*.sh bench/*.sh; do
  purposes=$(sed -n 's/.*scripts\/install_deps\.sh"* *\([a-z][a-z0-9 ]*\).*/\1/p' "$script" | tr '\n' ' ')
  grep -q 'install_deps\.sh' "$script" || continue
  case "$script" in scripts/install_deps*.sh) continue ;; esac
  [ -n "$purposes" ] || { fail "$script installs without saying what for"; continue; }
  # shellcheck disable=SC2086
  set=$(QARNAUTO_PROBE_32BIT=$runs32 sh scripts/install_deps.sh --list $purposes) ||
    { fail "$script asks for an unknown set: $purposes"; continue; }
  # The script's own text and that of the project scripts it starts.
  text=$(cat "$script" $(grep -o 'scripts/[a-z_0-9]*\.sh' "$script" | grep -v install_deps | sort -u))
  echo "$tools" | while read -r tool package; do
    if echo "$text" | grep -v '^ *#' | grep -qE "(^|[ (\"'/])$tool( |\$)"; then
      echo "$set" | grep -qx "$package" || echo "$script runs $tool, but its set ($purposes) lacks $package"
    fi
  done > "$work/lacks"
  if [ -s "$work/lacks" ]; then
    fail "$(cat "$work/lacks")"
  fi
done

# The test command's set holds every other job's but the benchmarks'.
all=$(QARNAUTO_PROBE_32BIT=$runs32 sh scripts/install_deps.sh --list test)
for purpose in build demo package screenshots fuzz; do
  QARNAUTO_PROBE_32BIT=$runs32 sh scripts/install_deps.sh --list "$purpose" | while read -r p; do
    echo "$all" | grep -qx -- "$p" || echo "$p"
  done > "$work/lacks"
  [ -s "$work/lacks" ] && fail "the test set lacks what $purpose needs: $(cat "$work/lacks" | tr '\n' ' ')"
done

[ "$failures" -eq 0 ] || exit 1
echo "install_deps.sh: all checks passed"
