#!/usr/bin/env bash
# On a private Xvfb server: the window is 800 x 600, titled "Raytracer v1.0",
# shows exactly the rendered picture and closes cleanly on SIGTERM.
# Arguments: the program, then raytracer-snapshot, whose PNG of the same
# scene is the expected picture.
source "$(dirname "$0")/../support/e2e_lib.sh"
SNAPSHOT=${2:-}
[ -z "$SNAPSHOT" ] || SNAPSHOT=$(realpath "$SNAPSHOT")

# Xvfb picks a free display number itself and reports it through a pipe.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
started+=("$!")
wait_for 10 test -s "$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(head -n1 "$work/display")"
wait_for 10 xdpyinfo >/dev/null 2>&1 || fail "Xvfb on $DISPLAY does not answer"

find_window() { window=$(xdotool search --name '^Raytracer v1\.0$' 2>/dev/null | head -n1) && [ -n "$window" ]; }

start_program -u SDL_VIDEODRIVER -u WAYLAND_DISPLAY DISPLAY="$DISPLAY"
wait_for 20 find_window || fail "no window titled \"Raytracer v1.0\" within 20 s"
info=$(xwininfo -id "$window")
grep -q "^xwininfo: Window id: $(printf '0x%x' "$window") \"Raytracer v1.0\"$" <<<"$info" || fail "title: $info"
grep -q '^  Width: 800$' <<<"$info" || fail "width: $info"
grep -q '^  Height: 600$' <<<"$info" || fail "height: $info"
grep -q '^  Map State: IsViewable$' <<<"$info" || fail "not shown: $info"

# The loop redraws all the time; give it a moment after mapping.
sleep 0.5
import -window "$window" "$work/shot.png" || fail "cannot take a screenshot"
if [ -n "$SNAPSHOT" ]; then
    (cd "$work" && "$SNAPSHOT" --mesh bunny.obj --output expected.png >/dev/null) || fail "raytracer-snapshot failed"
    differing=$(compare -metric AE "$work/shot.png" "$work/expected.png" null: 2>&1) || true
    [ "$differing" = 0 ] || fail "the window differs from the picture in $differing pixels"
    picture="picture matches"
else
    picture="PICTURE NOT COMPARED: no raytracer-snapshot"
fi

kill -TERM "$pid"
wait_exit 10
[ "$status" -eq 0 ] || fail "exit status $status after SIGTERM, expected 0"
compare_stdout expected_after_close
! find_window || fail "the window is still there after the program exited"
echo "ok: window 800x600 \"Raytracer v1.0\" on $DISPLAY, $picture, closed by SIGTERM"
