#!/usr/bin/env bash
# raytracer-view on a private Xvfb server with the default bunny, driven by
# xdotool: the finished picture at the first camera is raytracer-snapshot's
# bit for bit, the viewer then sits idle, S saves that picture as PNG, a
# drag changes the picture and R brings the first one back, SIGTERM and
# Esc end it with status 0.
# Arguments: raytracer-view, raytracer-snapshot.
source "$(dirname "$0")/../support/e2e_lib.sh"
SNAPSHOT=$(realpath "${2:?usage: $0 raytracer-view raytracer-snapshot}")

# Refusals need no display.
status=0
"$RAYTRACER" --up sideways >/dev/null 2>"$work/refused" || status=$?
[ "$status" -eq 2 ] && grep -q '^raytracer-view: --up sideways: give one of' "$work/refused" ||
    fail "a bad --up: status $status, $(cat "$work/refused")"

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
started+=("$!")
wait_for 10 test -s "$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(head -n1 "$work/display")"
wait_for 10 xdpyinfo >/dev/null 2>&1 || fail "Xvfb on $DISPLAY does not answer"

(cd "$work" && "$SNAPSHOT" --mesh bunny.obj --output expected.png >/dev/null) || fail "raytracer-snapshot failed"

find_window() { window=$(xdotool search --name '^raytracer-view' 2>/dev/null | head -n1) && [ -n "$window" ]; }
title() { xdotool getwindowname "$window"; }
finished() { [[ "$(title)" == "raytracer-view: 800x600 exact, "*" ms, "*" M rays/s" ]]; }
# shot NAME: a screenshot of the window, and how many pixels differ from
# the snapshot's picture in $differing.
shot() {
    import -window "$window" "$work/$1.png" || fail "cannot take a screenshot"
    differing=$(compare -metric AE "$work/$1.png" "$work/expected.png" null: 2>&1) || true
}
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }

start_program -u SDL_VIDEODRIVER -u WAYLAND_DISPLAY DISPLAY="$DISPLAY"
wait_for 20 find_window || fail "no window titled raytracer-view within 20 s"
info=$(xwininfo -id "$window")
grep -q '^  Width: 800$' <<<"$info" && grep -q '^  Height: 600$' <<<"$info" || fail "not 800 x 600: $info"
wait_for 20 finished || fail "no finished picture within 20 s: the title is '$(title)'"
shot first
[ "$differing" = 0 ] || fail "the finished picture differs from the snapshot's in $differing pixels"

# Finished, it waits for events: over 3 s at most 3% of one processor
# (the clock ticks 100 times a second).
before=$(cpu_ticks)
sleep 3
idle=$(( $(cpu_ticks) - before ))
[ "$idle" -le 9 ] || fail "idle, it took $idle ticks of processor time in 3 s"

xdotool key --window "$window" s
wait_for 10 grep -q '^saved raytracer-view-1.png$' "$work/out" || fail "S saved nothing"
saved=$(compare -metric AE "$work/raytracer-view-1.png" "$work/expected.png" null: 2>&1) || true
[ "$saved" = 0 ] || fail "the saved PNG differs from the snapshot's in $saved pixels"

xdotool mousemove --window "$window" 400 300 mousedown 1
for _ in $(seq 20); do xdotool mousemove_relative -- 6 2; sleep 0.02; done
xdotool mouseup 1
changed() { finished && shot dragged && [ "$differing" -gt 10000 ]; }
wait_for 20 changed || fail "the drag left the picture as it was (title '$(title)', $differing pixels differ)"
xdotool key --window "$window" r
back() { finished && shot reset && [ "$differing" = 0 ]; }
wait_for 20 back || fail "R did not bring the first picture back ($differing pixels differ)"

kill -TERM "$pid"
wait_exit 10
[ "$status" -eq 0 ] || fail "exit status $status after SIGTERM, expected 0"
[ ! -s "$work/err" ] || fail "standard error: $(cat "$work/err")"

# The server may list the first run's window a while after it has gone.
window_gone() { ! find_window; }
wait_for 10 window_gone || fail "the first run's window is still there"
start_program -u SDL_VIDEODRIVER -u WAYLAND_DISPLAY DISPLAY="$DISPLAY"
wait_for 20 find_window || fail "no window on the second run"
wait_for 20 finished || fail "no finished picture on the second run"
# The press alone: the viewer quits on it, and a release sent after would
# find no window (BadWindow).
xdotool keydown --window "$window" Escape
wait_exit 10
[ "$status" -eq 0 ] || fail "exit status $status after Esc, expected 0"
echo "ok: finished picture = snapshot's, idle $idle ticks in 3 s, S saved it, a drag changed it, R reset it, SIGTERM and Esc exit 0"
