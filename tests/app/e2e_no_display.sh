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
