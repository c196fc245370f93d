#!/usr/bin/env bash
# A DISPLAY that leads nowhere and no SDL_VIDEODRIVER: the program must not
# sit in a window loop nobody can see. It exits 1 with one line on standard
# error, its standard output ending at the elapsed-time line.
source "$(dirname "$0")/../support/e2e_lib.sh"

n=173
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done

start_program -u SDL_VIDEODRIVER -u WAYLAND_DISPLAY DISPLAY=":$n"
wait_exit 20
[ "$status" -eq 1 ] || fail "exit status $status, expected 1"
compare_stdout expected_until_window
[ "$(wc -l <"$work/err")" -eq 1 ] || fail "expected exactly one line on standard error"
grep -q '^raytracer: .\+' "$work/err" || fail "the standard-error line does not say what went wrong"
echo "ok: no display -> $(cat "$work/err")"

# No display and no XDG_RUNTIME_DIR: still our one line, none of the
# libraries' own. With standard output on a full disk, the line saying so
# follows it, with its reason.
for stdout in out /dev/full; do
    status=0
    (cd "$work" && exec env -u SDL_VIDEODRIVER -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR DISPLAY=":$n" \
        "$RAYTRACER" >"${stdout/#out/$work/out}" 2>"$work/err") || status=$?
    [ "$status" -eq 1 ] || fail "stdout $stdout, no XDG_RUNTIME_DIR: exit status $status, expected 1"
    expected="raytracer: cannot open the window: no display is available"
    [ "$stdout" = out ] || expected+=$'\nraytracer: cannot write standard output: No space left on device'
    [ "$(cat "$work/err")" = "$expected" ] || fail "stdout $stdout, no XDG_RUNTIME_DIR: standard error differs"
done
echo "ok: no display, no XDG_RUNTIME_DIR, standard output full -> one line each"
