#!/usr/bin/env bash
# Under SDL's dummy driver: the run completes, the window loop keeps going
# until SIGTERM, which SDL turns into a quit request: clean close, exit 0.
source "$(dirname "$0")/../support/e2e_lib.sh"

start_program SDL_VIDEODRIVER=dummy
wait_for 20 time_line_printed || fail "no elapsed-time line within 20 s"
sleep 1
alive "$pid" || fail "the program did not keep its window open"
grep -q 'now what' "$work/out" && fail "printed \"now what\" before being closed"

kill -TERM "$pid"
wait_exit 10
[ "$status" -eq 0 ] || fail "exit status $status after SIGTERM, expected 0"
compare_stdout expected_after_close
[ ! -s "$work/err" ] || fail "unexpected standard error"
echo "ok: dummy driver run, closed by SIGTERM"
