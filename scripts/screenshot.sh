#!/bin/bash
# Pictures of the window for people, taken on a private X server:
#   scripts/screenshot.sh [OUTPUT_FOLDER [WINDOW_MANAGER]]   (default: docs/)
#   scripts/screenshot.sh --windows [OUTPUT_FOLDER]
#                         the same of the Windows build (qarnauto.exe under
#                         Wine), named windows-main-window.png and so on
# Runs Xvfb with a compositing manager, nginx with a throttled update package
# and qarnauto in a private HOME, and writes
#   main-window.png   the skin window mid-download
#   retry-prompt.png  the "tips" prompt after a failed download
#   skinned-box.png   a skinned message box over the skin window
# With a window manager ("openbox", "xfwm4", "fluxbox", "icewm", "i3") the
# desktop runs it too, with a compositor that draws shadows, and the
# pictures are named main-window-MANAGER.png and so on.
set -eu
cd "$(dirname "$0")/.."
repo=$(pwd)
windows=
if [ "${1:-}" = --windows ]; then
  windows=1
  shift
fi
out=$(realpath -m "${1:-$repo/docs}")
wm=${2:-}
suffix=${wm:+-$wm}
prefix=${windows:+windows-}
if [ -n "$windows" ]; then
  scripts/install_deps.sh screenshots windows
else
  scripts/install_deps.sh screenshots
fi
build=build-shots
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQARNAUTO_TESTS=ON >/dev/null
cmake --build "$build" --target qarnauto screenshot window_probe >/dev/null
if [ -n "$windows" ]; then
  scripts/build_windows.sh --tests >/dev/null
fi

work=$(mktemp -d)
pids=()
stop() { :; }
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  stop
  [ -f "$work/nginx.pid" ] && stop_nginx
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$out" "$work/package/data" "$work/www/qarn" "$work/tmp" "$work/home/Desktop" "$work/updater" "$work/run"
if [ -n "$windows" ]; then
  cp build-windows/win_client.exe "$work/package/play.exe"
else
  printf '#!/bin/sh\nexit 0\n' > "$work/package/play.exe"
  chmod +x "$work/package/play.exe"
fi
head -c 6000000 /dev/urandom > "$work/package/data/resources.bin"
(cd "$work/package" && 7zz a -bso0 -bsp0 -mx0 "$work/www/qarn/qarn.7z" .)
chmod -R a+rX "$work"

# The display: Xvfb picks a free number and writes it to descriptor 3.
exec 3<> <(:)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp +extension Composite >/dev/null 2>&1 3>"$work/display" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"
shadows=-n
if [ -n "$wm" ]; then
  # Some managers (xfwm4) keep their settings on a session bus.
  dbus-run-session -- "$wm" >/dev/null 2>&1 &
  pids+=($!)
  shadows=-c
  sleep 2
fi
xcompmgr "$shadows" >/dev/null 2>&1 &
pids+=($!)
sleep 0.5
"$build/tools/screenshot" --root 4a7a9c

# nginx, throttled so that the download is still under way for the picture.
# shellcheck source=bench/lib.sh
. "$repo/bench/lib.sh"
port=$(( 20000 + $$ % 20000 ))
rate=200k
[ -z "$windows" ] || rate=50k
start_nginx 127.0.0.1 "$port" "limit_rate $rate;"

export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_RUNTIME_DIR=$work/run
if [ -n "$windows" ]; then
  cp build-windows/qarnauto.exe build-windows/window_probe.exe "$work/updater/"
  # A Wine prefix of the pictures' own, whose server starts on this display;
  # the update lands on its drive C:.
  export QARNAUTO_WINEPREFIX=$work/wineprefix QARNAUTO_DRIVE_SCOPE='C:\'
  # Each runs in the background, as the program it becomes (for kill).
  updater() { cd "$work/updater" && exec "$repo/scripts/wine_run.sh" qarnauto.exe "$@"; }
  window_probe() { cd "$work/updater" && exec "$repo/scripts/wine_run.sh" window_probe.exe "$@"; }
  # Making the prefix takes a while: before any picture is timed.
  scripts/wine_run.sh --prepare
  # Every Wine process of the prefix ends when a picture is taken.
  stop() { WINEPREFIX=$QARNAUTO_WINEPREFIX wineserver -k 2>/dev/null || true; }
  settle=6 box_settle=3
else
  cp "$build/app/qarnauto" "$work/updater/"
  # The updater installs on the drive with the most room; confined to the
  # temporary folder, it sees only the private HOME there.
  export QARNAUTO_DRIVE_SCOPE=$work
  # Each runs in the background, as the program it becomes (for kill).
  updater() { exec "$work/updater/qarnauto" "$@"; }
  window_probe() { exec "$build/tools/window_probe" "$@"; }
  settle=6 box_settle=2
fi
# The window sits at (314, 267), 396×234; the pictures keep some desktop.
crop="274 227 476 314"

updater "http://127.0.0.1:$port/qarn\$EN\$Quillmarch" </dev/null &
app=$!
pids+=($app)
# Under Wine the first run of a prefix also builds its font cache.
"$build/tools/screenshot" --wait Install 120 || echo "the window did not show" >&2
sleep "$settle"
# shellcheck disable=SC2086
"$build/tools/screenshot" "$out/${prefix}main-window$suffix.png" $crop
kill "$app" 2>/dev/null || true
stop
wait "$app" 2>/dev/null || true

# Nothing listens on the port after this one: the download fails.
updater "http://127.0.0.1:1/qarn\$EN\$Quillmarch" </dev/null &
app=$!
pids+=($app)
"$build/tools/screenshot" --wait tips 120 || echo "the prompt did not show" >&2
sleep 1
"$build/tools/screenshot" "$out/${prefix}retry-prompt$suffix.png" 232 227 560 314
kill "$app" 2>/dev/null || true
stop
wait "$app" 2>/dev/null || true

window_probe box "Update: your client needs to be updated. Click Confirm to close the client and install the new version now." >/dev/null &
box=$!
pids+=($box)
"$build/tools/screenshot" --wait Install 120 || echo "the box did not show" >&2
sleep "$box_settle"
# shellcheck disable=SC2086
"$build/tools/screenshot" "$out/${prefix}skinned-box$suffix.png" $crop
kill "$box" 2>/dev/null || true
stop
echo "screenshots in $out: $(cd "$out" && ls ./*.png | tr '\n' ' ')"
