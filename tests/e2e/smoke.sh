#!/usr/bin/env bash
# smoke.sh KELVARA_BINARY [ARTIFACT_DIR]: Kelvara on its own Xvfb server, driven by a real pointer and
# keyboard: open the working directory, search and replace in all files, quit to the About window, "OK".
# A failure leaves e2e_smoke_failure.png and .log in ARTIFACT_DIR (default: <build>/tests).
set -uo pipefail
binary="$(realpath -m -- "$1")"
artifact_dir="$(realpath -m -- "${2:-$(dirname "$(dirname "$binary")")/tests}")"
tmp="$(mktemp -d "${TMPDIR:-/tmp}/kelvara-smoke.XXXXXX")"
xvfb_pid='' app_pid=''
trap 'kill -KILL $app_pid 2>/dev/null; kill $xvfb_pid 2>/dev/null && wait $xvfb_pid; rm -rf "$tmp"' EXIT
trap 'exit 1' INT TERM HUP

fail() {
  echo "e2e smoke FAILED: $*" >&2 && tail -n 40 "$tmp/app.log" >&2
  mkdir -p "$artifact_dir" && cp "$tmp/app.log" "$artifact_dir/e2e_smoke_failure.log"
  import -window root "$artifact_dir/e2e_smoke_failure.png" 2>/dev/null
  exit 1
}
# Runs a command every 0.1 s, at most $1 times, until it succeeds.
retry() {
  for ((i = 0; i < $1; i++)); do
    "${@:2}" && return 0
    sleep 0.1
  done
  return 1
}
# Sets $window to the one visible window named $1.
wait_for() {
  window="$(timeout 15 xdotool search --sync --onlyvisible --name "^$1\$")" || fail "no visible window '$1'"
  [ "$(wc -w <<<"$window")" -eq 1 ] || fail "more than one visible window named '$1': $window"
}
# Clicks the centre of the control at left, top, width, height (twips at 96 DPI) in $window.
click() {
  xdotool mousemove --window "$window" --sync $((((2 * $1 + $3) * 96 + 1440) / 2880)) \
    $((((2 * $2 + $4) * 96 + 1440) / 2880)) && sleep 0.2 && xdotool click 1 || fail "cannot click at $*"
}
type_into() { click "${@:1:4}" && xdotool type --delay 20 "$5"; }
# The hit count label at (3247, 2782) twips shows, light blue, only once a search has run.
hit_count_shown() {
  [ "$(import -window "$window" -crop 1x1+216+185 -format '%[pixel:p{0,0}]' info:)" = 'srgb(128,128,255)' ]
}
type Xvfb xdotool >/dev/null 2>&1 || fail "Xvfb and xdotool are needed (scripts/setup installs them)"
# Xvfb takes the first free display and writes its number once it accepts connections.
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 -dpi 96 -noreset 3>"$tmp/display" >/dev/null 2>&1 &
xvfb_pid=$!
retry 50 grep -q . "$tmp/display" || fail "Xvfb opened no display"
export DISPLAY=":$(cat "$tmp/display")"

mkdir -p "$tmp/work" "$tmp/xdg" && chmod 700 "$tmp/xdg"
printf 'alma\nkörte alma\n' >"$tmp/work/gyumolcs.txt"
(cd "$tmp/work" && exec env -u WAYLAND_DISPLAY -u SESSION_MANAGER QT_QPA_PLATFORM=xcb QT_FONT_DPI=96 \
  LC_ALL=C.UTF-8 XDG_CONFIG_HOME="$tmp/xdg" XDG_CACHE_HOME="$tmp/xdg" XDG_RUNTIME_DIR="$tmp/xdg" "$binary") \
  >"$tmp/app.log" 2>&1 &
app_pid=$!

wait_for 'Könyvtár megnyitása'
click 120 4080 3135 375 # "Könyvtárnyitás"
wait_for Kelvara
type_into 1440 360 2655 285 alma # the search text
click 4560 675 2500 315 # search in all files
retry 30 hit_count_shown || fail "no hit count after the search"
type_into 1440 1560 2655 285 szilva # the replacement text
click 4560 2055 2500 315 # replace in all files
retry 30 grep -q szilva "$tmp/work/uj/gyumolcs.txt" || fail "no rewritten copy in uj"
click 2400 2055 1695 315 # "Kilépés"
wait_for Névjegy
click 4245 2625 1260 345 # "OK"
timeout 10 tail --pid="$app_pid" -f /dev/null || fail "the program is still running 10 s after 'OK'"
wait "$app_pid"
status=$? app_pid=''
[ "$status" -eq 0 ] || fail "the program ended with status $status"
echo "e2e smoke passed: start window -> main window -> search -> replace -> About -> OK, status 0"
