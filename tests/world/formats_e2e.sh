#!/usr/bin/env bash
# Every mesh format end to end: the default bunny, written by
# raytracer-meshgen as binary PLY of both byte orders, ASCII PLY, binary and
# ASCII STL, renders through raytracer-snapshot to the very picture its OBJ
# file gives (docs/raytracer.png), bit for bit, with the same standard
# output but for STL's vertex count (three a triangle). The formats are
# told by content: every file is named bunny.obj once, and read from a pipe.
#   formats_e2e.sh raytracer-snapshot raytracer-meshgen bunny.obj reference.png
set -euo pipefail
snapshot=$(realpath "${1:?usage: $0 raytracer-snapshot raytracer-meshgen bunny.obj reference.png}")
meshgen=$(realpath "${2:?usage: $0 raytracer-snapshot raytracer-meshgen bunny.obj reference.png}")
bunny=$(realpath "${3:?usage: $0 raytracer-snapshot raytracer-meshgen bunny.obj reference.png}")
reference=$(realpath "${4:?usage: $0 raytracer-snapshot raytracer-meshgen bunny.obj reference.png}")
work=$(mktemp -d "${TMPDIR:-/tmp}/formats-e2e.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

expected() {  # VERTS
    printf 'initialising scene...\n\tloading model\n'
    printf '\t\tfound %s verts \n\t\tfound 69666 faces \n\t\tscaling object: \n\n\n' "$1"
    printf '\t\tmax y = 936.679993 \n\t\tmin y = 164.860001 \n'
    printf '\t\t\tallocated mem\n\t\t\tcalculating normals, v_normals\n'
    printf '\tfinished loading model\nfinished initialising scene\n\n'
    printf 'spawning rays%s' "$(printf '.%.0s' $(seq 84))"
    printf 'done \ncompleted in N seconds\n'
}

# check WHAT VERTS [SNAPSHOT ARGS...]: one run in $work/run, its output and
# picture.
check() {
    local what=$1 verts=$2
    shift 2
    rm -f "$work/run/raytracer.png"
    status=0
    (cd "$work/run" && "$snapshot" "$@") >"$work/out" 2>"$work/err" || status=$?
    [ "$status" -eq 0 ] || fail "$what: exit status $status: $(head -c 300 "$work/err")"
    sed -E 's/^completed in [0-9]+ seconds$/completed in N seconds/' "$work/out" >"$work/out.n"
    diff <(expected "$verts") "$work/out.n" >&2 || fail "$what: standard output differs (above)"
    cmp -s <(convert "$work/run/raytracer.png" rgb:-) <(convert "$reference" rgb:-) ||
        fail "$what: the picture differs from the OBJ file's"
}

mkdir "$work/run"
for format in ply ply-be ply-ascii stl stl-ascii; do
    "$meshgen" --format "$format" convert "$bunny" "$work/bunny-$format" >/dev/null
    verts=34835
    case $format in stl*) verts=208998 ;; esac
    cp "$work/bunny-$format" "$work/run/bunny.obj"
    check "$format named bunny.obj" "$verts"
    check "$format from a pipe" "$verts" --mesh <(cat "$work/bunny-$format")
done
echo "ok: PLY (ASCII, both byte orders) and STL (ASCII, binary) give the OBJ file's picture, by content, from files and pipes"
