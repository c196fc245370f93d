#!/usr/bin/env bash
# raytracer-snapshot end to end: the program's standard output up to the
# elapsed-time line, the PNG it writes, and every way it refuses to run.
#   snapshot_e2e.sh path/to/raytracer-snapshot
set -euo pipefail
snapshot=$(realpath "${1:?usage: $0 path/to/raytracer-snapshot}")
work=$(mktemp -d "${TMPDIR:-/tmp}/snapshot-e2e.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# A stand-in mesh that renders in no time: one triangle above the floor.
write_mesh() {
    printf 'v 0 0.04 -0.05\nv 0 0.04 0.05\nv 0 0.06 0\nf 1 2 3\n' >"$1"
}

scene_lines() {
    printf 'initialising scene...\n\tloading model\n'
}

expected_stdout() {
    scene_lines
    printf '\t\tfound 3 verts \n\t\tfound 1 faces \n\t\tscaling object: \n\n\n'
    printf '\t\tmax y = 300.000000 \n\t\tmin y = 200.000000 \n'
    printf '\t\t\tallocated mem\n\t\t\tcalculating normals, v_normals\n'
    printf '\tfinished loading model\nfinished initialising scene\n\n'
    printf 'spawning rays%s' "$(printf '.%.0s' $(seq 84))"
    printf 'done \ncompleted in N seconds\n'
}

# Runs the tool in $1 with the remaining arguments; sets status, out, err.
run_in() {
    local dir=$1
    shift
    status=0
    (cd "$dir" && timeout 120 "$snapshot" "$@") >"$work/out" 2>"$work/err" || status=$?
}

png_size() { identify -format '%w x %h %[channels]' "$1" 2>/dev/null; }

# --- defaults: bunny.obj in the working directory, raytracer.png ----------
mkdir "$work/run"
write_mesh "$work/run/bunny.obj"
run_in "$work/run"
[ "$status" -eq 0 ] || fail "exit status $status: $(cat "$work/err")"
sed -E 's/^completed in [0-9]+ seconds$/completed in N seconds/' "$work/out" >"$work/out.n"
diff <(expected_stdout) "$work/out.n" >&2 || fail "standard output differs (above)"
[ "$(png_size "$work/run/raytracer.png")" = "800 x 600 srgb" ] ||
    fail "raytracer.png is not an 800 x 600 RGB picture: $(png_size "$work/run/raytracer.png")"
# The top-left corner looks at the empty sky: black. The bottom row sees the
# lit blue floor.
[ "$(convert "$work/run/raytracer.png" -format '%[pixel:p{0,0}]' info:)" = "srgb(0,0,0)" ] ||
    fail "the top-left pixel is not black"
[ "$(convert "$work/run/raytracer.png" -format '%[fx:p{400,599}.b>0.1]' info:)" = "1" ] ||
    fail "the bottom of the picture shows no floor"

# --- --mesh and --output, from elsewhere: the same picture --------------------
mkdir "$work/other"
run_in "$work/other" --mesh "$work/run/bunny.obj" --output="$work/other/pic.png"
[ "$status" -eq 0 ] || fail "--mesh/--output: exit status $status"
cmp -s <(convert "$work/run/raytracer.png" rgb:-) <(convert "$work/other/pic.png" rgb:-) ||
    fail "--mesh/--output gave a different picture"

# --- a missing mesh: one line, status 1, no picture ------------------------
mkdir "$work/empty"
run_in "$work/empty"
[ "$status" -eq 1 ] || fail "missing mesh: exit status $status, expected 1"
[ "$(cat "$work/err")" = "cannot open bunny.obj: No such file or directory" ] ||
    fail "missing mesh: standard error was: $(cat "$work/err")"
diff <(scene_lines) "$work/out" >&2 || fail "missing mesh: standard output differs"
[ ! -e "$work/empty/raytracer.png" ] || fail "missing mesh: a picture was written"

# --- a rejected mesh: FILE:LINE: what is wrong ------------------------------
printf 'v 0 0 0\nv 0 0\n' >"$work/empty/bunny.obj"
run_in "$work/empty"
[ "$status" -eq 1 ] || fail "bad mesh: exit status $status, expected 1"
[ "$(cat "$work/err")" = "bunny.obj:2: vertex line needs three numbers" ] ||
    fail "bad mesh: standard error was: $(cat "$work/err")"
diff <(scene_lines) "$work/out" >&2 || fail "bad mesh: standard output differs"

# --- an output that cannot be written --------------------------------------
run_in "$work/run" --output "$work/no/such/dir/x.png"
[ "$status" -eq 1 ] || fail "unwritable output: exit status $status, expected 1"
grep -q "^cannot write $work/no/such/dir/x.png: No such file or directory\$" "$work/err" ||
    fail "unwritable output: standard error was: $(cat "$work/err")"

# --- lost standard output is a failure, --help included --------------------
one_line() {  # FILE PATTERN: FILE holds exactly one line, matching PATTERN
    [ "$(wc -l <"$1")" -eq 1 ] && grep -qx "$2" "$1"
}
for args in "" "--help"; do
    status=0
    # shellcheck disable=SC2086
    (cd "$work/run" && "$snapshot" $args) >/dev/full 2>"$work/err" || status=$?
    [ "$status" -eq 1 ] || fail "'$args' > /dev/full: exit status $status, expected 1"
    one_line "$work/err" 'raytracer-snapshot: cannot write standard output: No space left on device' ||
        fail "'$args' > /dev/full: standard error was: $(cat "$work/err")"
done
status=0
(cd "$work/run" && "$snapshot" >&-) 2>"$work/err" || status=$?
[ "$status" -eq 1 ] && one_line "$work/err" 'raytracer-snapshot: cannot write standard output: Bad file descriptor' ||
    fail "closed standard output: status $status, standard error: $(cat "$work/err")"

# --- the picture never destroys anything ----------------------------------
# Not the mesh, whatever name reaches it.
cp "$work/run/bunny.obj" "$work/mesh.copy"
ln "$work/run/bunny.obj" "$work/run/hard.obj"
ln -s bunny.obj "$work/run/soft.obj"
for output in bunny.obj ./bunny.obj hard.obj soft.obj; do
    run_in "$work/run" --output "$output"
    [ "$status" -eq 2 ] || fail "--output $output (the mesh): exit status $status, expected 2"
    grep -q "^raytracer-snapshot: --output '$output' is the mesh itself$" "$work/err" ||
        fail "--output $output (the mesh): standard error was: $(cat "$work/err")"
    cmp -s "$work/mesh.copy" "$work/run/bunny.obj" || fail "--output $output overwrote the mesh"
done
# A device that fails: one line, libpng's own message kept out of sight.
run_in "$work/run" --output /dev/full
[ "$status" -eq 1 ] && one_line "$work/err" 'cannot write /dev/full: No space left on device' ||
    fail "--output /dev/full: status $status, standard error: $(cat "$work/err")"
# A write past the file size limit fails with its reason, whether its
# signal is ignored or not, keeps the picture that was there and leaves
# nothing beside it.
cp "$work/run/raytracer.png" "$work/old.png"
for ignored in yes no; do
    status=0
    (cd "$work/run" && if [ $ignored = yes ]; then trap '' XFSZ; fi && ulimit -f 4 &&
        exec "$snapshot" >"$work/out" 2>"$work/err") || status=$?
    [ "$status" -eq 1 ] && one_line "$work/err" 'cannot write raytracer.png: File too large' ||
        fail "file size limit (signal ignored: $ignored): status $status, standard error: $(cat "$work/err")"
    cmp -s "$work/old.png" "$work/run/raytracer.png" || fail "a failed write changed the old picture"
    [ "$(ls -A "$work/run")" = "$(printf 'bunny.obj\nhard.obj\nraytracer.png\nsoft.obj')" ] ||
        fail "a failed write left files behind: $(ls -A "$work/run")"
done

# --- arguments --------------------------------------------------------------
run_in "$work/run" --help
[ "$status" -eq 0 ] && grep -q '^usage: raytracer-snapshot \[--mesh PATH\] \[--output FILE.png\] \[--fit\] \[--up AXIS\]$' "$work/out" ||
    fail "--help: status $status"
for args in "--frobnicate" "--mesh" "--output=" "extra"; do
    # shellcheck disable=SC2086
    run_in "$work/run" $args
    [ "$status" -eq 2 ] || fail "'$args': exit status $status, expected 2"
    grep -q '^usage: raytracer-snapshot' "$work/err" || fail "'$args': no usage message on standard error"
    [ ! -s "$work/out" ] || fail "'$args': printed on standard output"
done

echo "ok: raytracer-snapshot output, picture, failures, lost output, safe writes and arguments"
