#!/usr/bin/env bash
# Smoke test of the real program on a private X display (Xvfb) with a tray host (trayer) and a private session
# bus, against the development server:
#   the configuration dialog comes up and is filled in by keyboard input; the demo Share arrives in the Wayfold
#   folder; the icon is docked in the tray and its menu opens; a second start hands over to the running instance
#   (which opens the Wayfold folder) and exits 0; SIGTERM ends the first instance with exit status 0.
# Screenshots of the dialog and the tray menu are saved in the folder given as third argument.
#
#   smoke_test.sh WAYFOLD DEVSERVER SCREENSHOT_FOLDER
# Exits 77 (skipped) when the display tools are missing.
set -uo pipefail

wayfold=$1 devserver=$2 shots=$3
for tool in Xvfb xdotool xwininfo dbus-run-session python3; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is not installed (scripts/install-deps)"; exit 77; }
done
# One private session bus for everything the test starts.
if [ -z "${WAYFOLD_SMOKE_BUS:-}" ]; then
  exec env WAYFOLD_SMOKE_BUS=1 dbus-run-session -- "$0" "$@"
fi

work=$(mktemp -d)
mkdir -p "$work/bin" "$work/home" "$work/server" "$work/stub" "$shots"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAILED: $*"
  [ -n "${DISPLAY:-}" ] && xwininfo -root -tree 2>/dev/null | grep -E '"(panel|Wayfold|trayer)"'
  for log in "$work"/*.log; do echo "--- $log"; tail -n 40 "$log"; done
  exit 1
}
# waitFor SECONDS DESCRIPTION COMMAND...: polls the command every half second.
waitFor() {
  local seconds=$1 what=$2
  shift 2
  for _ in $(seq 1 $((seconds * 2))); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.5
  done
  fail "no $what after $seconds s"
}
screenshot() {
  command -v import >/dev/null && import -window root "$shots/$1.png" 2>/dev/null ||
    echo "note: no screenshot $1 (ImageMagick's import is missing)"
}

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$devserver" --host 127.0.0.1 --port "$port" --data "$work/server" --user demo@example.com:secret \
  --demo demo@example.com >"$work/server.log" 2>&1 &
pids+=($!)
waitFor 60 "development server" grep -q "Serving on" "$work/server.log"

# The program reads its server list beside itself.
cp "$wayfold" "$work/bin/wayfold"
cat >"$work/bin/Servers.json" <<JSON
"DocumentBlackList": []
"FolderBlackList": []
"Servers": {"Demo": {"DisplayName": "Demo server", "BaseUrl": "http://127.0.0.1:$port", "MessagePollingIntervalInSeconds": 2}}
"DefaultServer": "Demo"
"CountryToServer": {}
JSON
# What the desktop would open is recorded instead.
cat >"$work/stub/xdg-open" <<STUB
#!/bin/sh
echo "\$@" >>"$work/opened"
STUB
chmod +x "$work/stub/xdg-open"

Xvfb -displayfd 4 -screen 0 1024x768x24 -nolisten tcp 4>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
waitFor 60 "X display" test -s "$work/display"
export DISPLAY=":$(cat "$work/display")"

tray=yes
if command -v trayer >/dev/null; then
  trayer --edge top --align right --widthtype pixel --width 40 --height 32 --transparent false \
    --tint 0x404040 >"$work/trayer.log" 2>&1 &
  pids+=($!)
  waitFor 30 "tray host" xdotool search --class trayer
else
  tray=no
  echo "note: no tray host (trayer) can be had: the tray icon and its menu are not checked"
fi

export HOME="$work/home" XDG_DATA_HOME="$work/home/.local/share" XDG_CONFIG_HOME="$work/home/.config"
export XDG_CACHE_HOME="$work/home/.cache" PATH="$work/stub:$PATH" QT_QPA_PLATFORM=xcb
export ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0" # the toolkit's own allocations are not ours to judge

"$work/bin/wayfold" >"$work/wayfold.log" 2>&1 &
first=$!
pids+=($first)

waitFor 120 "configuration dialog" xdotool search --name "^Quillmere Wayfold$"
dialog=$(xdotool search --name "^Quillmere Wayfold$" | head -n 1)
sleep 1
xdotool windowfocus --sync "$dialog"
xdotool key alt+e && xdotool type --delay 30 "demo@example.com"
xdotool key alt+p && xdotool type --delay 30 "secret"
sleep 0.5
screenshot dialog
xdotool key Return

waitFor 180 "document of the demo Share" test -f "$work/home/Wayfold/Demo/Plans/Notes.txt"
grep -q "Edit me" "$work/home/Wayfold/Demo/Plans/Notes.txt" || fail "the document's content did not arrive"
grep -q "^file://$work/home/Wayfold Wayfold\$" "$work/home/.config/gtk-3.0/bookmarks" || fail "no bookmark for the folder"

if [ "$tray" = yes ]; then
  panel=$(xdotool search --classname '^panel$' | head -n 1)
  waitFor 60 "icon in the tray" sh -c "xwininfo -tree -id '$panel' | grep -q '\"Wayfold\"'"
  eval "$(xdotool getwindowgeometry --shell "$panel")"
  xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 3
  sleep 2
  screenshot tray-menu
  xdotool key Escape
fi

# A second start hands over to the first, which opens the Wayfold folder.
: >"$work/opened"
timeout 120 "$work/bin/wayfold" >"$work/second.log" 2>&1
status=$?
[ "$status" -eq 0 ] || fail "the second instance exited with $status"
waitFor 60 "open-folder hand-over" grep -q "^file://$work/home/Wayfold\$" "$work/opened"

kill -TERM "$first"
for _ in $(seq 1 120); do kill -0 "$first" 2>/dev/null || break; sleep 0.5; done
kill -0 "$first" 2>/dev/null && fail "the program did not end within 60 s of SIGTERM"
wait "$first"
status=$?
[ "$status" -eq 0 ] || fail "the program exited with $status after SIGTERM"
echo "PASSED (screenshots in $shots)"
