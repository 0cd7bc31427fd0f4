#!/bin/sh
# Keeps the layers in their order (each includes only those below it, and
# the product never includes test support) and the operating system behind
# platform/: no file above it includes a system header, and no platform
# header names a system type in what it declares. Run by the test command
# (CTest: CheckLayers).
set -eu
cd "$(dirname "$0")/.."
status=0

# git grep in a clone; plain grep in an unpacked source tree.
if git rev-parse --is-inside-work-tree > /dev/null 2>&1; then
  search() { git grep -n -E "$@"; }
  list() { git ls-files "$@"; }
else
  search() { pattern=$1; shift; [ "$1" = "--" ] && shift; grep -rn -E "$pattern" "$@"; }
  list() { for p in "$@"; do find platform -path "$p"; done; }
fi

# Above platform/: the product's layers and their tests. tools/ is test
# support (test servers, the X display for tests) and may know the system.
above="engine update app ui"
system_headers='unistd\.h|fcntl\.h|sys/|poll\.h|pthread\.h|signal\.h|spawn\.h|dirent\.h|dlfcn\.h|errno\.h|cerrno|termios\.h|pwd\.h|grp\.h|mntent\.h|netdb\.h|netinet/|arpa/|windows\.h|winsock|ws2tcpip\.h|shlobj\.h|objbase\.h|X11/|cairo|pango|gdiplus'
found=$(search "^[[:space:]]*#[[:space:]]*include[[:space:]]*<($system_headers)" -- $above || true)
if [ -n "$found" ]; then
  echo "system headers above platform/:"
  echo "$found"
  status=1
fi
found=$(search '\berrno\b|\bmode_t\b|\bpid_t\b|\bssize_t\b|\buid_t\b' -- $above || true)
if [ -n "$found" ]; then
  echo "system types or errno above platform/:"
  echo "$found"
  status=1
fi

# The platform's contracts: its own headers, not a system's folder.
headers=$(list 'platform/*.h' | grep -v -E '^platform/(posix|win32)/')
found=$(search "^[[:space:]]*#[[:space:]]*include[[:space:]]*<($system_headers)" -- $headers || true)
if [ -n "$found" ]; then
  echo "system headers in platform contracts:"
  echo "$found"
  status=1
fi
# A file descriptor, a POSIX type or an X id in a declaration.
found=$(search '\bint (fd|[a-z]*Fd)\b|int \(&fds\)|\bint\* ?pFds\b|\b(mode_t|pid_t|uid_t|ssize_t|socklen_t|off_t)\b|\berrno\b|\bnErrno\b|\b(Display|Visual|XImage|XEvent)\*|\bWindow [a-z]|\bXID\b|int Descriptor\(' -- $headers || true)
if [ -n "$found" ]; then
  echo "system shapes in platform contracts:"
  echo "$found"
  status=1
fi

# Each system's implementations live in its own folder.
found=$(list 'platform/*_posix.*' 'platform/*_x11.*' 'platform/*_cairo.*' 'platform/*_win32.*' |
        grep -v -E '^platform/(posix|win32)/' || true)
if [ -n "$found" ]; then
  echo "system implementations outside their folder:"
  echo "$found"
  status=1
fi

# The order, top down: each layer and the layers it may include.
# tools/ is test support: only tests and their fixtures include it.
while read -r layer below; do
  allowed="$layer|$(echo "$below" | tr ' ' '|')"
  found=$(search '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[a-z_]+/' -- "$layer" |
          grep -v -E "^[^:]*(_test\.(cpp|h)|_fixture\.h):" |
          grep -v -E "#[[:space:]]*include[[:space:]]*\"($allowed)/" || true)
  if [ -n "$found" ]; then
    echo "$layer/ includes what is not below it (it may use: $below):"
    echo "$found"
    status=1
  fi
done << 'EOF'
app update ui res engine platform
update ui res engine platform
ui res platform
engine platform
res platform
platform
EOF

[ "$status" -eq 0 ] && echo "layers: each uses only those below it, and platform/ alone knows the system"
exit "$status"
