#!/bin/bash
# Pictures of the window for people, taken on a private X server:
#   scripts/screenshot.sh [OUTPUT_FOLDER [WINDOW_MANAGER]]   (default: docs/)
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
out=$(realpath -m "${1:-$repo/docs}")
wm=${2:-}
suffix=${wm:+-$wm}
scripts/install_deps.sh
build=build-shots
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQARNAUTO_TESTS=ON >/dev/null
cmake --build "$build" --target qarnauto screenshot window_probe >/dev/null

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  [ -f "$work/nginx.pid" ] && stop_nginx
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$out" "$work/package/data" "$work/www/qarn" "$work/tmp" "$work/home/Desktop" "$work/updater" "$work/run"
printf '#!/bin/sh\nexit 0\n' > "$work/package/play.exe"
chmod +x "$work/package/play.exe"
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
start_nginx 127.0.0.1 "$port" "limit_rate 200k;"

cp "$build/app/qarnauto" "$work/updater/"
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_RUNTIME_DIR=$work/run
# The updater installs on the drive with the most room; confined to the
# temporary folder, it sees only the private HOME there.
export QARNAUTO_DRIVE_SCOPE=$work
# The window sits at (314, 267), 396×234; the pictures keep some desktop.
crop="274 227 476 314"

"$work/updater/qarnauto" "http://127.0.0.1:$port/qarn\$EN\$Quillmarch" </dev/null &
app=$!
pids+=($app)
sleep 8
# shellcheck disable=SC2086
"$build/tools/screenshot" "$out/main-window$suffix.png" $crop
kill "$app" 2>/dev/null || true
wait "$app" 2>/dev/null || true

# Nothing listens on the port after this one: the download fails.
"$work/updater/qarnauto" "http://127.0.0.1:1/qarn\$EN\$Quillmarch" </dev/null &
app=$!
pids+=($app)
sleep 12
"$build/tools/screenshot" "$out/retry-prompt$suffix.png" 232 227 560 314
kill "$app" 2>/dev/null || true
wait "$app" 2>/dev/null || true

"$build/tools/window_probe" box "Update: your client needs to be updated. Click Confirm to close the client and install the new version now." >/dev/null &
box=$!
pids+=($box)
sleep 2
# shellcheck disable=SC2086
"$build/tools/screenshot" "$out/skinned-box$suffix.png" $crop
kill "$box" 2>/dev/null || true
echo "screenshots in $out: $(cd "$out" && ls ./*.png | tr '\n' ' ')"
