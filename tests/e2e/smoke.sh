#!/usr/bin/env bash
# Real-window smoke test: starts Kelvara on its own Xvfb server, opens the working directory
# from the start window, checks that the main window replaces it, searches all files and checks
# that the hit count shows, replaces in all files and checks the rewritten copy in uj, quits with
# "Kilépés", checks that the About window is left alone on the screen, and ends the program with
# its "OK".
#
#   smoke.sh KELVARA_BINARY [ARTIFACT_DIR]
#
# On failure it saves a screenshot of the whole screen (e2e_smoke_failure.png) and the
# program's output (e2e_smoke_failure.log) into ARTIFACT_DIR (default: <build>/tests),
# prints the windows it could see and exits 1. Xvfb and the program are always stopped.
set -uo pipefail

if [ $# -lt 1 ]; then
  echo "usage: smoke.sh KELVARA_BINARY [ARTIFACT_DIR]" >&2
  exit 2
fi
binary="$(realpath -m -- "$1")" # the program starts in a directory of its own
artifact_dir="$(realpath -m -- "${2:-$(dirname "$(dirname "$binary")")/tests}")"

start_title='Könyvtár megnyitása'
main_title='Kelvara'
about_title='Névjegy'

tmp="$(mktemp -d "${TMPDIR:-/tmp}/kelvara-smoke.XXXXXX")"
xvfb_pid=''
app_pid=''
stage='starting'

cleanup() {
  if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then
    kill -TERM "$app_pid" 2>/dev/null
    sleep 0.5
    kill -0 "$app_pid" 2>/dev/null && kill -KILL "$app_pid" 2>/dev/null
  fi
  if [ -n "$xvfb_pid" ] && kill -0 "$xvfb_pid" 2>/dev/null; then
    kill -TERM "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# Lists every window the X server has, visible or not, by id, map state and name.
describe_windows() {
  echo "--- visible windows named '$start_title': $(xdotool search --onlyvisible --name "^$start_title\$" 2>/dev/null | tr '\n' ' ')"
  echo "--- visible windows named '$main_title': $(xdotool search --onlyvisible --name "^$main_title\$" 2>/dev/null | tr '\n' ' ')"
  echo "--- visible windows named '$about_title': $(xdotool search --onlyvisible --name "^$about_title\$" 2>/dev/null | tr '\n' ' ')"
  echo "--- all named windows:"
  local id
  for id in $(xdotool search --name '.' 2>/dev/null); do
    local visible='hidden '
    xdotool search --onlyvisible --name '.' 2>/dev/null | grep -qx "$id" && visible='visible'
    echo "    $id $visible $(xdotool getwindowname "$id" 2>/dev/null)"
  done
}

fail() {
  local shot="$artifact_dir/e2e_smoke_failure.png" log="$artifact_dir/e2e_smoke_failure.log"
  local server_up=0
  mkdir -p "$artifact_dir"
  rm -f "$shot" "$log"
  if [ -n "$xvfb_pid" ] && kill -0 "$xvfb_pid" 2>/dev/null; then
    server_up=1
    import -window root "$shot" 2>/dev/null
  fi
  [ -f "$tmp/app.log" ] && cp "$tmp/app.log" "$log"
  echo "e2e smoke FAILED while $stage: $*" >&2
  [ -f "$shot" ] && echo "screenshot: $shot" >&2
  [ "$server_up" -eq 1 ] && describe_windows >&2
  if [ -f "$log" ]; then
    echo "--- program output (all of it in $log):" >&2
    tail -n 60 "$log" >&2
  fi
  exit 1
}

# Sets $found_window to the id of the one visible window with exactly this name, polling up
# to $2 seconds.
found_window=''
wait_for_window() {
  local title="$1" seconds="$2" ids i status
  found_window=
  for ((i = 0; i < seconds * 10; i++)); do
    ids="$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null)"
    if [ -n "$ids" ]; then
      if [ "$(wc -l <<<"$ids")" -ne 1 ]; then
        fail "more than one visible window named '$title': $(tr '\n' ' ' <<<"$ids")"
      fi
      found_window="$ids"
      return 0
    fi
    if [ -n "$app_pid" ] && ! kill -0 "$app_pid" 2>/dev/null; then
      wait "$app_pid"
      status=$?
      app_pid=''
      fail "the program ended (status $status) before a window named '$title' appeared"
    fi
    sleep 0.1
  done
  fail "no visible window named '$title' within ${seconds} s"
}

# Fails with $2 unless no window named $1 is visible within 2 seconds.
wait_until_gone() {
  local title="$1" message="$2" i
  for ((i = 0; i < 20; i++)); do
    [ -z "$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null)" ] && return 0
    sleep 0.1
  done
  fail "$message"
}

# Twips to pixels at 96 DPI (1440 twips per inch), rounded.
px() { echo $((($1 * 96 + 720) / 1440)); }

# Clicks the centre of a button given in twips within a window's client area; the client
# area's expected size (twips) is checked against the window's real size first.
click_button() {
  local window="$1" client_w="$2" client_h="$3" left="$4" top="$5" width="$6" height="$7"
  local WIDTH='' HEIGHT='' X='' Y='' WINDOW='' SCREEN=''
  eval "$(xdotool getwindowgeometry --shell "$window")" || fail "cannot read the geometry of window $window"
  local want_w want_h
  want_w="$(px "$client_w")"
  want_h="$(px "$client_h")"
  if [ "$WIDTH" -lt "$want_w" ] || [ "$HEIGHT" -lt "$want_h" ]; then
    fail "window $window is ${WIDTH}x${HEIGHT} px, smaller than its ${want_w}x${want_h} px client area"
  fi
  local x y
  x=$((($((2 * left + width)) * 96 + 1440) / 2880))
  y=$((($((2 * top + height)) * 96 + 1440) / 2880))
  xdotool mousemove --window "$window" --sync "$x" "$y" || fail "cannot move the pointer to $x,$y in window $window"
  sleep 0.2
  xdotool click 1 || fail "cannot click at $x,$y in window $window"
}

# --- the X server: the first free display of :90..:99 --------------------------------------
stage='starting Xvfb'
command -v Xvfb >/dev/null && command -v xdotool >/dev/null && command -v xdpyinfo >/dev/null ||
  fail "Xvfb, xdotool and xdpyinfo are needed (scripts/setup installs them)"
[ -x "$binary" ] || fail "no program at $binary"

for n in $(seq 90 99); do
  [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
  Xvfb ":$n" -nolisten tcp -screen 0 1024x768x24 -dpi 96 -noreset >"$tmp/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for ((i = 0; i < 50; i++)); do
    kill -0 "$xvfb_pid" 2>/dev/null || break
    if xdpyinfo -display ":$n" >/dev/null 2>&1; then
      export DISPLAY=":$n"
      break 2
    fi
    sleep 0.1
  done
  # Lost a race for this display number, or the server did not come up: try the next one.
  kill -TERM "$xvfb_pid" 2>/dev/null
  wait "$xvfb_pid" 2>/dev/null
  xvfb_pid=''
done
[ -n "$xvfb_pid" ] || fail "no free display among :90..:99 ($(tail -n 3 "$tmp/xvfb.log" 2>/dev/null))"

# --- the program, in a working directory of its own -----------------------------------------
stage='starting the program'
mkdir -p "$tmp/work" "$tmp/config" "$tmp/cache" "$tmp/runtime"
chmod 700 "$tmp/runtime"
printf 'alma\nkörte alma\n' >"$tmp/work/gyumolcs.txt"
printf 'nincs benne semmi\n' >"$tmp/work/ures.txt"
# The sources as they are; uj, where the copies go, is left out, and so is the directory's own
# time, which making uj changes.
sources() { (cd "$tmp/work" && find . -mindepth 1 -path ./uj -prune -o -printf '%p %s %T@\n' | sort); }
before="$(sources)"

(
  cd "$tmp/work" || exit 1
  unset WAYLAND_DISPLAY SESSION_MANAGER
  export QT_QPA_PLATFORM=xcb QT_FONT_DPI=96 LC_ALL=C.UTF-8 \
    XDG_CONFIG_HOME="$tmp/config" XDG_CACHE_HOME="$tmp/cache" XDG_RUNTIME_DIR="$tmp/runtime"
  exec "$binary"
) >"$tmp/app.log" 2>&1 &
app_pid=$!

stage="waiting for the window '$start_title'"
wait_for_window "$start_title" 15
start_window="$found_window"

stage="clicking 'Könyvtárnyitás' in '$start_title'"
click_button "$start_window" 3375 4665 120 4080 3135 375

stage="waiting for the window '$main_title'"
wait_for_window "$main_title" 15
main_window="$found_window"

stage="checking that '$start_title' has gone"
wait_until_gone "$start_title" "'$start_title' is still visible beside '$main_title'"

stage="searching for 'alma' in all files of '$main_title'"
click_button "$main_window" 9240 5445 1440 360 2655 285
xdotool type --delay 20 'alma' || fail "cannot type into the search text"
click_button "$main_window" 9240 5445 4560 675 2500 315
kill -0 "$app_pid" 2>/dev/null || fail "the program ended during the search"
# The hit count label shows up, light blue, only once a search has run.
for ((i = 0; i < 30; i++)); do
  colour="$(import -window "$main_window" -crop "1x1+$(px 3247)+$(px 2782)" -format '%[pixel:p{0,0}]' info: 2>/dev/null)"
  [ "$colour" = 'srgb(128,128,255)' ] && break
  sleep 0.1
done
[ "$i" -lt 30 ] || fail "no hit count after the search (the label's place is '$colour')"

stage="replacing 'alma' with 'szilva' in all files of '$main_title'"
click_button "$main_window" 9240 5445 1440 1560 2655 285
xdotool type --delay 20 'szilva' || fail "cannot type into the replacement text"
click_button "$main_window" 9240 5445 4560 2055 2500 315
# The file has LF line ends, so it is one line: its first 'alma' only, and a CR LF at the end.
want="$(printf 'szilva\nkörte alma\n\r\n' | od -An -tx1)"
for ((i = 0; i < 30; i++)); do
  [ "$(od -An -tx1 "$tmp/work/uj/gyumolcs.txt" 2>/dev/null)" = "$want" ] && break
  sleep 0.1
done
[ "$i" -lt 30 ] || fail "uj/gyumolcs.txt is not the rewritten copy: $(od -c "$tmp/work/uj/gyumolcs.txt" 2>&1)"

stage="clicking 'Kilépés' in '$main_title'"
click_button "$main_window" 9240 5445 2400 2055 1695 315

stage="waiting for the window '$about_title'"
wait_for_window "$about_title" 15
about_window="$found_window"

stage="checking that only '$about_title' is left"
wait_until_gone "$main_title" "'$main_title' is still visible beside '$about_title'"
wait_until_gone "$start_title" "'$start_title' is visible again beside '$about_title'"

stage="clicking 'OK' in '$about_title'"
click_button "$about_window" 5805 3705 4245 2625 1260 345

stage='waiting for the program to end'
for ((i = 0; i < 100; i++)); do
  kill -0 "$app_pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$app_pid" 2>/dev/null && fail "the program is still running 10 s after 'OK'"
wait "$app_pid"
status=$?
app_pid=''
[ "$status" -eq 0 ] || fail "the program ended with status $status"

stage='checking the working directory'
after="$(sources)"
[ "$before" = "$after" ] || fail "searching and replacing changed the sources:
$(diff <(echo "$before") <(echo "$after"))"

echo "e2e smoke passed: '$start_title' -> 'Könyvtárnyitás' -> '$main_title' -> search -> replace -> 'Kilépés' -> '$about_title' -> 'OK', status 0"
