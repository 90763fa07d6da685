#!/usr/bin/env bash
# Smoke test of the real program on a private X display (Xvfb) with a tray host (trayer) and a private session
# bus, against the development server:
#   the configuration dialog comes up and is filled in by keyboard input; the demo Share arrives in the Wayfold
#   folder; the icon is docked in the tray and its menu opens; a second start hands over to the running instance
#   (which opens the Wayfold folder) and exits 0, and one whose hand-over is not answered exits 1; the Wayfold
#   folder replaced by an empty one brings up the missing-folder dialog, nothing is written into that one, and a
#   retry with the folder back goes on; SIGTERM ends the first instance with exit status 0.
# As an ordinary user under umask 000 (when run as root): the sign-in makes the Wayfold folder 0700, and a
# Wayfold folder that other users may write to (everybody, a user or a group named in its access control list,
# a group with other members, or a Share folder in it that everybody may write to), or that belongs to another
# user, stops the start; 0775 with a group of the user's alone does not.
# Starts that cannot go on end with exit status 1 and say why on standard error (and in a dialog where there
# is a display): no display, a data folder that belongs to another user, no list of servers. The program
# started as the build made it, from the build folder, comes up with its configuration dialog.
# Screenshots of the dialogs, a balloon and the tray menu are saved in the folder given as third argument.
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

# startFailure NAME DIALOG MESSAGE COMMAND...: the command ends with exit status 1 and MESSAGE on standard
# error; with DIALOG "yes" its error dialog is photographed and closed first.
startFailure() {
  local name=$1 dialog=$2 message=$3
  shift 3
  "$@" >"$work/$name.log" 2>&1 &
  local pid=$!
  if [ "$dialog" = yes ]; then
    local window=""
    for _ in $(seq 1 120); do
      window=$(xdotool search --name "^Quillmere Wayfold$" 2>/dev/null | head -n 1)
      [ -n "$window" ] && break
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.5
    done
    [ -n "$window" ] || fail "$name: no dialog"
    sleep 1
    screenshot "$name"
    xdotool windowfocus --sync "$window" key Return
  fi
  for _ in $(seq 1 120); do kill -0 "$pid" 2>/dev/null || break; sleep 0.5; done
  kill -0 "$pid" 2>/dev/null && { kill "$pid"; fail "$name: the program did not end"; }
  wait "$pid"
  local status=$?
  [ "$status" -eq 1 ] || fail "$name: exit status $status instead of 1"
  grep -qF "wayfold: $message" "$work/$name.log" || fail "$name: no message \"$message\" on standard error"
}

# No display: the message, exit status 1 and the stop banner in the log.
mkdir -p "$work/nodisplay"
startFailure no-display no "Cannot start Quillmere Wayfold: it needs a display" \
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$work/nodisplay" \
  XDG_DATA_HOME="$work/nodisplay/data" ASAN_OPTIONS=detect_leaks=0 "$wayfold"
grep -q -- "- Stopped " "$work/nodisplay/data/quillmere/Logging/Wayfold.log" || fail "no stop banner in the log"

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
echo "an installer" >"$work/installer.deb"
"$devserver" --host 127.0.0.1 --port "$port" --data "$work/server" --upgrade 1.14.0:"$work/installer.deb" \
  --user demo@example.com:secret \
  --demo demo@example.com >"$work/server.log" 2>&1 &
pids+=($!)
waitFor 60 "development server" grep -q "Serving on" "$work/server.log"

# The program reads its server list beside itself.
cp "$wayfold" "$work/bin/wayfold"
cat >"$work/bin/Servers.json" <<JSON
"DocumentBlackList": []
"FolderBlackList": []
"Servers": {"Demo": {"DisplayName": "Demo server", "BaseUrl": "http://127.0.0.1:$port", "MessagePollingIntervalInSeconds": 2,
  "UpgradeInfoUrl": "http://127.0.0.1:$port/upgrade/info", "DelayBeforeCheckingForUpgradeInSeconds": 0}}
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

# As built, from the build folder, with a data folder of its own: the list beside it is found, and the
# configuration dialog comes up (Exit in it ends the program with 0).
mkdir -p "$work/built"
env HOME="$work/built" XDG_DATA_HOME="$work/built/data" XDG_CONFIG_HOME="$work/built/config" \
  XDG_CACHE_HOME="$work/built/cache" PATH="$work/stub:$PATH" QT_QPA_PLATFORM=xcb ASAN_OPTIONS=detect_leaks=0 \
  "$wayfold" >"$work/built.log" 2>&1 &
built=$!
waitFor 120 "configuration dialog of the program in the build folder" xdotool search --name "^Quillmere Wayfold$"
sleep 1
screenshot built-dialog
xdotool windowfocus --sync "$(xdotool search --name "^Quillmere Wayfold$" | head -n 1)" key Escape
for _ in $(seq 1 60); do kill -0 "$built" 2>/dev/null || break; sleep 0.5; done
wait "$built"
status=$?
[ "$status" -eq 0 ] || fail "the program in the build folder exited with $status"
grep -q "unexpected error" "$work/built.log" && fail "the program in the build folder had an unexpected error"

# No list of servers beside the program nor installed with it.
mkdir -p "$work/nolist/bin" "$work/nolist/home"
cp "$wayfold" "$work/nolist/bin/wayfold"
startFailure no-list yes "Cannot read the list of servers '$work/nolist/share/quillmere-wayfold/Servers.json'" \
  env HOME="$work/nolist/home" XDG_DATA_HOME="$work/nolist/home/data" QT_QPA_PLATFORM=xcb \
  ASAN_OPTIONS=detect_leaks=0 "$work/nolist/bin/wayfold"

# A data folder made by another user (a run under sudo): only root can stage one.
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null; then
  other="$work/other"
  mkdir -p "$other/data/quillmere/Wayfold" "$other/home"
  chmod 755 "$work" "$other" "$other/data" "$other/data/quillmere"
  chown 65534:65534 "$other/home" "$other/data"
  startFailure foreign-data yes "Cannot use folder '$other/data/quillmere': it belongs to another user" \
    setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$other/home" XDG_DATA_HOME="$other/data" \
    XDG_RUNTIME_DIR="$other/home" QT_QPA_PLATFORM=xcb ASAN_OPTIONS=detect_leaks=0 "$wayfold"
else
  echo "note: not root: the data folder of another user is not checked"
fi

# An ordinary user under umask 000: the sign-in makes the Wayfold folder 0700; a Wayfold folder that others
# may write to, or that belongs to another user, stops the start; one of the user's own group (0775) is used.
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null && command -v setfacl >/dev/null; then
  user="$work/user"
  group=54321 # the user's alone: nobody else's group, nor anybody's primary group
  mkdir -p "$user"
  chmod 755 "$work" "$work/bin"
  chown 65534:$group "$user"
  touch "$work/opened" && chmod 666 "$work/opened"
  # Runs the command as that user in place of the calling shell: call it in the background only.
  asUser() {
    umask 000
    exec setpriv --reuid=65534 --regid=$group --clear-groups env HOME="$user" \
      XDG_DATA_HOME="$user/.local/share" XDG_CONFIG_HOME="$user/.config" XDG_CACHE_HOME="$user/.cache" \
      XDG_RUNTIME_DIR="$user" PATH="$work/stub:$PATH" QT_QPA_PLATFORM=xcb ASAN_OPTIONS=detect_leaks=0 "$@"
  }
  asUser "$work/bin/wayfold" >"$work/user.log" 2>&1 &
  ordinary=$!
  pids+=($ordinary)
  waitFor 120 "configuration dialog of the ordinary user" xdotool search --name "^Quillmere Wayfold$"
  sleep 1
  xdotool windowfocus --sync "$(xdotool search --name "^Quillmere Wayfold$" | head -n 1)"
  xdotool key alt+e && xdotool type --delay 30 "demo@example.com"
  xdotool key alt+p && xdotool type --delay 30 "secret"
  xdotool key Return
  waitFor 180 "document of the demo Share for the ordinary user" test -f "$user/Wayfold/Demo/Plans/Notes.txt"
  [ "$(stat -c %a "$user/Wayfold")" = 700 ] || fail "the Wayfold folder made under umask 000 is $(stat -c %a "$user/Wayfold")"
  kill -TERM "$ordinary"
  wait "$ordinary" || fail "the ordinary user's program did not end with 0"

  othersMayWrite() { echo "Cannot use folder '$1': other users may write to it"; }
  chmod 777 "$user/Wayfold"
  startFailure folder-open-to-others yes "$(othersMayWrite "$user/Wayfold")" asUser "$work/bin/wayfold"
  chmod 700 "$user/Wayfold" && setfacl -m u:12345:rwx "$user/Wayfold" # its mode now shows 0770
  startFailure folder-acl-user yes "$(othersMayWrite "$user/Wayfold")" asUser "$work/bin/wayfold"
  setfacl -b "$user/Wayfold" && setfacl -m g:12345:rwx "$user/Wayfold"
  startFailure folder-acl-group yes "$(othersMayWrite "$user/Wayfold")" asUser "$work/bin/wayfold"
  setfacl -b "$user/Wayfold" && chmod 770 "$user/Wayfold" && chgrp 0 "$user/Wayfold"
  group=0 # root's: shared with root
  startFailure folder-shared-group yes "$(othersMayWrite "$user/Wayfold")" asUser "$work/bin/wayfold"
  group=54321
  chgrp $group "$user/Wayfold" && chmod 755 "$user/Wayfold" && chmod 777 "$user/Wayfold/Demo"
  startFailure folder-share-open-to-others yes "$(othersMayWrite "$user/Wayfold/Demo")" asUser "$work/bin/wayfold"
  chmod 700 "$user/Wayfold" && chown 0:0 "$user/Wayfold"
  startFailure folder-of-another-user yes "Cannot use folder '$user/Wayfold': it belongs to another user" \
    asUser "$work/bin/wayfold"
  # The refusal's remedy, then the user's own group may write to the Wayfold folder.
  chown 65534:$group "$user/Wayfold" && chmod -R go-w "$user/Wayfold" && chmod 775 "$user/Wayfold"
  userLog="$user/.local/share/quillmere/Logging/Wayfold.log"
  starts=$(grep -c "Started application threads" "$userLog")
  asUser "$work/bin/wayfold" >"$work/user-group.log" 2>&1 &
  ordinary=$!
  pids+=($ordinary)
  waitFor 60 "start with a Wayfold folder of the user's group" \
    sh -c "[ \$(grep -c 'Started application threads' '$userLog') -gt $starts ]"
  kill -TERM "$ordinary"
  wait "$ordinary" || fail "the ordinary user's program did not end with 0"
else
  echo "note: not root: the Wayfold folder of an ordinary user is not checked"
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
sleep 1
screenshot balloon
grep -q "Edit me" "$work/home/Wayfold/Demo/Plans/Notes.txt" || fail "the document's content did not arrive"
grep -q "^file://$work/home/Wayfold Wayfold\$" "$work/home/.config/gtk-3.0/bookmarks" || fail "no bookmark for the folder"
# The dialog asked for the user's country: a locale without one is no error.
grep -q "ERROR" "$work/home/.local/share/quillmere/Logging/Wayfold.log" &&
  fail "errors in the log of a healthy start: $(grep ERROR "$work/home/.local/share/quillmere/Logging/Wayfold.log")"

if [ "$tray" = yes ]; then
  panel=$(xdotool search --classname '^panel$' | head -n 1)
  waitFor 60 "icon in the tray" sh -c "xwininfo -tree -id '$panel' | grep -q '\"Wayfold\"'"
  eval "$(xdotool getwindowgeometry --shell "$panel")"
  xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 3
  sleep 2
  screenshot tray-menu
  xdotool key Escape
  # The offered update cannot be downloaded into a cache folder that others may write to: the balloon says why.
  mkdir -p "$XDG_CACHE_HOME" && chmod 777 "$XDG_CACHE_HOME"
  sleep 1
  xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 3
  sleep 1
  xdotool key Down Down Down Down Down Return
  waitFor 30 "failed update download" grep -q "Cannot download upgrade: Cannot use folder '$XDG_CACHE_HOME'" \
    "$work/home/.local/share/quillmere/Logging/Wayfold.log"
  sleep 1
  screenshot update-failed
  chmod 700 "$XDG_CACHE_HOME"
fi

# A second start hands over to the first, which opens the Wayfold folder.
: >"$work/opened"
timeout 120 "$work/bin/wayfold" >"$work/second.log" 2>&1
status=$?
[ "$status" -eq 0 ] || fail "the second instance exited with $status"
waitFor 60 "open-folder hand-over" grep -q "^file://$work/home/Wayfold\$" "$work/opened"

# A running instance that does not answer the hand-over (its socket is gone): the second start says so and
# exits 1.
rm -f "$work/home/.local/share/quillmere/Wayfold/Handover"
startFailure no-hand-over yes "Quillmere Wayfold is already running, but it did not answer" "$work/bin/wayfold"

# The Wayfold folder replaced by an empty one while the program runs: nothing is written into that one, the
# missing-folder dialog asks what to do, and a retry with the folder back in place goes on.
log="$work/home/.local/share/quillmere/Logging/Wayfold.log"
mv "$work/home/Wayfold" "$work/home/Wayfold.moved" && mkdir "$work/home/Wayfold"
waitFor 60 "missing-folder dialog" xdotool search --name "^Quillmere Wayfold$"
sleep 1
screenshot folder-replaced
[ -z "$(ls -A "$work/home/Wayfold")" ] || fail "the engine wrote into the folder put in place of the Wayfold folder"
rmdir "$work/home/Wayfold" && mv "$work/home/Wayfold.moved" "$work/home/Wayfold"
starts=$(grep -c "<<< Started application threads" "$log")
xdotool windowfocus --sync "$(xdotool search --name "^Quillmere Wayfold$" | head -n 1)" key Return
waitFor 60 "start after the retry" sh -c "[ \$(grep -c '<<< Started application threads' '$log') -gt $starts ]"

kill -TERM "$first"
for _ in $(seq 1 120); do kill -0 "$first" 2>/dev/null || break; sleep 0.5; done
kill -0 "$first" 2>/dev/null && fail "the program did not end within 60 s of SIGTERM"
wait "$first"
status=$?
[ "$status" -eq 0 ] || fail "the program exited with $status after SIGTERM"
echo "PASSED (screenshots in $shots)"
