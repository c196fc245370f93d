# Shared by the end-to-end checks of the real `raytracer` executable.
# Sourced by tests/app/e2e_*.sh; the first argument of those scripts is the
# program.
set -euo pipefail

RAYTRACER=$(realpath "${1:?usage: $0 path/to/raytracer [...]}")
[ -x "$RAYTRACER" ] || { echo "FAIL: $RAYTRACER is not an executable" >&2; exit 1; }

# ---------------------------------------------------------------------------
# The expected standard output, in one place. The elapsed seconds vary, so
# the time line is compared as "completed in N seconds".
#
# The scene builder's 13 lines (the loader's 9 among them, with the counts
# and vertical extent of the mesh in use, see write_mesh), then render's
# progress.
build_and_render_output() {
    printf 'initialising scene...\n'
    printf '\tloading model\n'
    printf '\t\tfound %s verts \n' "$mesh_verts"
    printf '\t\tfound %s faces \n' "$mesh_faces"
    printf '\t\tscaling object: \n'
    printf '\n\n'
    printf '\t\tmax y = %s \n' "$mesh_max_y"
    printf '\t\tmin y = %s \n' "$mesh_min_y"
    printf '\t\t\tallocated mem\n'
    printf '\t\t\tcalculating normals, v_normals\n'
    printf '\tfinished loading model\n'
    printf 'finished initialising scene\n\n'
    printf 'spawning rays%s' "$(printf '.%.0s' $(seq 84))"
    printf 'done \n'
}

# Everything up to the elapsed-time line: all there is before the window.
expected_until_window() {
    build_and_render_output
    printf 'completed in N seconds\n'
}

# A run whose window was closed cleanly.
expected_after_close() {
    expected_until_window
    printf 'now what\n'
}

# The mesh the program reads as bunny.obj. By default a stand-in: one
# triangle facing the camera, standing above the floor (y 234.375 to 312.5
# once scaled by 5000), so that a run takes no time; every coordinate is
# exact in binary. With E2E_MESH=PATH (the default bunny, say) a copy of
# that file, with its loader figures in E2E_MESH_FIGURES as
# "VERTS FACES MAX_Y MIN_Y".
write_mesh() {
    if [ -n "${E2E_MESH:-}" ]; then
        cp "$E2E_MESH" "$1"
        read -r mesh_verts mesh_faces mesh_max_y mesh_min_y <<<"${E2E_MESH_FIGURES:?loader figures of $E2E_MESH}"
        return
    fi
    mesh_verts=3 mesh_faces=1 mesh_max_y=312.500000 mesh_min_y=234.375000
    cat >"$1" <<'OBJ'
# end-to-end stand-in mesh
v 0 0.046875 -0.09375
v 0 0.046875 0.09375
v 0 0.0625 0
f 1 2 3
OBJ
}

# ---------------------------------------------------------------------------
# Working directory, processes and cleanup on every way out.
work=$(mktemp -d "${TMPDIR:-/tmp}/raytracer-e2e.XXXXXX")
write_mesh "$work/bunny.obj"
# A private, empty runtime directory: SDL must not find (or complain about)
# a Wayland compositor of the session the tests happen to run in.
mkdir -m 700 "$work/xdg"
started=()

cleanup() {
    local pid
    for pid in "${started[@]}"; do
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    if [ -n "${KEEP_E2E:-}" ]; then
        echo "kept $work" >&2  # for a look at the screenshot and the output
    else
        rm -rf "$work"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

fail() {
    echo "FAIL: $*" >&2
    for f in out err; do
        if [ -f "$work/$f" ]; then
            echo "--- std$f of the program:" >&2
            cat -A "$work/$f" >&2
        fi
    done
    exit 1
}

# A process that exists and is not a zombie.
alive() {
    local state
    state=$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f1) || return 1
    [ -n "$state" ] && [ "$state" != Z ]
}

# wait_for SECONDS COMMAND...: polls until COMMAND succeeds.
wait_for() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}

# start_program [VAR=VALUE | -u VAR]...: runs the program in the working
# directory with the environment changes given, line-buffered so the lines
# arrive as they are printed; sets $pid.
start_program() {
    (cd "$work" && exec env "$@" XDG_RUNTIME_DIR="$work/xdg" stdbuf -oL "$RAYTRACER" >"$work/out" 2>"$work/err") &
    pid=$!
    started+=("$pid")
}

# wait_exit SECONDS: waits for the program to end; sets $status.
wait_exit() {
    wait_for "$1" eval '! alive "$pid"' || fail "the program did not exit within $1 s"
    status=0
    wait "$pid" || status=$?
}

time_line_printed() { grep -q '^completed in [0-9][0-9]* seconds$' "$work/out"; }

# compare_stdout EXPECTED_FUNCTION: the program's whole stdout, seconds aside.
compare_stdout() {
    local seconds
    seconds=$(sed -n 's/^completed in \([0-9][0-9]*\) seconds$/\1/p' "$work/out")
    [ -n "$seconds" ] || fail "no elapsed-time line"
    [ "$seconds" -le 30 ] || fail "the render took $seconds s"
    sed 's/^completed in [0-9][0-9]* seconds$/completed in N seconds/' "$work/out" >"$work/out.n"
    "$1" >"$work/expected"
    if ! cmp -s "$work/expected" "$work/out.n"; then
        diff <(cat -A "$work/expected") <(cat -A "$work/out.n") >&2 || true
        fail "standard output differs from what is expected (- expected, + got)"
    fi
}
