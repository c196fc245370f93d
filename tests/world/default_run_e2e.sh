#!/usr/bin/env bash
# raytracer-snapshot on the default bunny prints the program's own output up
# to the elapsed-time line, compared exactly except for the number of seconds.
#   default_run_e2e.sh path/to/raytracer-snapshot path/to/assets/bunny.obj
set -euo pipefail
snapshot=$(realpath "${1:?usage: $0 raytracer-snapshot bunny.obj}")
bunny=$(realpath "${2:?usage: $0 raytracer-snapshot bunny.obj}")
work=$(mktemp -d "${TMPDIR:-/tmp}/default-run-e2e.XXXXXX")
trap 'rm -rf "$work"' EXIT

cp "$bunny" "$work/bunny.obj"
status=0
(cd "$work" && "$snapshot") >"$work/out" 2>"$work/err" || status=$?
[ "$status" -eq 0 ] || { echo "FAIL: exit status $status: $(cat "$work/err")" >&2; exit 1; }

expected() {
    printf 'initialising scene...\n\tloading model\n'
    printf '\t\tfound 34835 verts \n\t\tfound 69666 faces \n\t\tscaling object: \n\n\n'
    printf '\t\tmax y = 936.679993 \n\t\tmin y = 164.860001 \n'
    printf '\t\t\tallocated mem\n\t\t\tcalculating normals, v_normals\n'
    printf '\tfinished loading model\nfinished initialising scene\n\n'
    printf 'spawning rays%s' "$(printf '.%.0s' $(seq 84))"
    printf 'done \ncompleted in N seconds\n'
}
sed -E 's/^completed in [0-9]+ seconds$/completed in N seconds/' "$work/out" >"$work/out.n"
diff <(expected) "$work/out.n" >&2 || { echo "FAIL: standard output differs (above)" >&2; exit 1; }
[ ! -s "$work/err" ] || { echo "FAIL: unexpected standard error: $(cat "$work/err")" >&2; exit 1; }
echo "ok: raytracer-snapshot's standard output on the default bunny"
