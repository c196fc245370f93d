#!/usr/bin/env bash
# Standard output that stops taking text once the render is done (its reader
# goes away): the run goes on, no SIGPIPE ends it, the window is closed by
# SIGTERM, and then the program says in one line that its output was lost
# and exits 1, not 0.
source "$(dirname "$0")/../support/e2e_lib.sh"

mkfifo "$work/pipe"
(cd "$work" && exec env SDL_VIDEODRIVER=dummy XDG_RUNTIME_DIR="$work/xdg" \
    stdbuf -oL "$RAYTRACER" >"$work/pipe" 2>"$work/err") &
pid=$!
started+=("$pid")
timeout 20 sed '/^completed in [0-9]* seconds$/q' <"$work/pipe" >"$work/out" ||
    fail "no elapsed-time line within 20 s"
time_line_printed || fail "standard output ended before the elapsed-time line"

sleep 1
kill -TERM "$pid"
wait_exit 10
[ "$status" -eq 1 ] || fail "exit status $status, expected 1"
[ "$(wc -l <"$work/err")" -eq 1 ] && grep -qx 'raytracer: cannot write standard output: Broken pipe' "$work/err" ||
    fail "standard error does not say that the output was lost"
echo "ok: lost standard output -> $(cat "$work/err")"
