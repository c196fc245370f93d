#!/usr/bin/env bash
# Memory end to end, under an address-space limit (ulimit -v): running out
# of memory while loading or building is one line on standard error and
# status 1, never an abort; input of any length (an endless stream, a huge
# line or word) is read in bounded memory; whether the bunny fits is the
# same on every run and never worse with more memory; a PLY or STL header
# claiming more data than the file holds is refused before anything is
# allocated.
#   memory_e2e.sh raytracer-snapshot raytracer raytracer-snapshot-16-threads bunny.obj
set -euo pipefail
usage="usage: $0 raytracer-snapshot raytracer raytracer-snapshot-16-threads bunny.obj"
snapshot=$(realpath "${1:?$usage}")
raytracer=$(realpath "${2:?$usage}")
snapshot16=$(realpath "${3:?$usage}")
bunny=$(realpath "${4:?$usage}")
work=$(mktemp -d "${TMPDIR:-/tmp}/memory-e2e.XXXXXX")
trap 'rm -rf "$work"' EXIT
limit_kb=120000

fail() { echo "FAIL: $*" >&2; exit 1; }

# Runs the command under the limit in $work; sets status.
limited() {
    status=0
    (ulimit -v "$limit_kb" && cd "$work" && exec timeout 60 "$@") >"$work/out" 2>"$work/err" || status=$?
}

# expect STATUS PATTERN: the exit status, and one line on standard error.
expect() {
    [ "$status" -eq "$1" ] || fail "exit status $status, expected $1: $(head -c 500 "$work/err")"
    [ "$(wc -l <"$work/err")" -eq 1 ] && grep -Eqx "$2" "$work/err" ||
        fail "standard error was: $(head -c 500 "$work/err")"
}

faces() {  # N: one triangle named N times
    printf 'v 0 0 0\nv 0.01 0 0\nv 0 0.01 0\n'
    yes 'f 1 2 3' | head -n "$1"
}

# --- out of memory while loading: 20 million faces, 240 MB of mesh ----------
limited "$snapshot" --mesh <(faces 20000000)
expect 1 '/dev/fd/[0-9]+: out of memory after [0-9]+ faces'
[ "$(cat "$work/out")" = "$(printf 'initialising scene...\n\tloading model')" ] || fail "loading: standard output"

mkfifo "$work/bunny.obj"
faces 20000000 >"$work/bunny.obj" 2>/dev/null &
SDL_VIDEODRIVER=dummy limited "$raytracer"
wait || true
expect 1 'bunny.obj: out of memory after [0-9]+ faces'

# --- out of memory building the model: the mesh fits, its triangles not -----
# (4 million: 48 MB of mesh, and the compact hierarchy of a mesh this size
# needs some 30 bytes a triangle more on the way.)
limited "$snapshot" --mesh <(faces 4000000)
expect 1 '/dev/fd/[0-9]+: out of memory building the model \(4000000 triangles\)'
grep -q 'found 4000000 faces' "$work/out" || fail "building: the loader's lines are missing"

# --- endless and huge input in bounded memory -------------------------------
limited "$snapshot" --mesh /dev/zero
expect 1 '/dev/zero:1: NUL byte; this is not a text file'

# A 200 MB comment and a 200 MB number on the stand-in triangle's lines.
stream() {
    printf '# '
    head -c 200000000 /dev/zero | tr '\0' x
    printf '\nv 0.'
    head -c 200000000 /dev/zero | tr '\0' 0
    printf ' 0.04 -0.05\nv 0 0.04 0.05\nv 0 0.06 0\nf 1 2 3\n'
}
limited "$snapshot" --mesh <(stream) --output "$work/huge.png"
[ "$status" -eq 0 ] || fail "a huge line: exit status $status: $(head -c 500 "$work/err")"
grep -q 'found 3 verts' "$work/out" && grep -q 'max y = 300.000000' "$work/out" || fail "a huge line: standard output"

# --- PLY and STL headers that claim more than there is --------------------
# A file shorter than its header says is refused before anything is
# allocated: under the limit, the claim itself is the message.
ply_header() {  # VERTICES
    printf 'ply\nformat binary_little_endian 1.0\nelement vertex %s\n' "$1"
    printf 'property float x\nproperty float y\nproperty float z\nend_header\n'
}
ply_header 2000000000 >"$work/claims.ply"
limited "$snapshot" --mesh claims.ply
expect 1 "claims.ply: byte $(ply_header 2000000000 | wc -c): the header's elements take at least 24000000000 bytes, the file has 0 after the header"
stl_start() {  # TRIANGLES: a binary STL header and count
    head -c 80 /dev/zero
    printf "$(printf '\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)))"
}
{ stl_start 100000000; head -c 50 /dev/zero; } >"$work/claims.stl"
limited "$snapshot" --mesh claims.stl
expect 1 'claims.stl: byte 80: the header counts 100000000 triangles, 84 \+ 50 x 100000000 = 5000000084 bytes, but the file has 134'
# From a pipe nothing can be known in advance: the mesh grows with what
# arrives, and an endless stream runs out of memory in one line.
limited "$snapshot" --mesh <(ply_header 2000000000; cat /dev/zero)
expect 1 '/dev/fd/[0-9]+: out of memory after 0 faces'
limited "$snapshot" --mesh <(stl_start 100000000; cat /dev/zero)
expect 1 '/dev/fd/[0-9]+: out of memory after [0-9]+ faces'


# --- the bunny under limits from 16 to 100 MB, as if on 16 hardware threads ---
# Twice over: the same outcomes both times, failures only below some limit.
rm -f "$work/bunny.obj" && cp "$bunny" "$work/bunny.obj"  # (a fifo until now)
for pass in 1 2; do
    outcomes=""
    for ((limit_kb = 16000; limit_kb <= 100000; limit_kb += 2000)); do
        limited "$snapshot16" --output "$work/scan.png"
        outcomes+="$([ "$status" -eq 0 ] && echo +|| echo -)"
        [ "$status" -eq 0 ] || expect 1 '(bunny.obj: |raytracer-snapshot: |cannot write .*/scan.png: )out of memory.*'
    done
    [ "$pass" = 1 ] || [ "$outcomes" = "$first" ] || fail "16 to 100 MB: $first, then $outcomes"
    first=$outcomes
done
[[ "$outcomes" =~ ^-+\++$ ]] || fail "the bunny from 16 to 100 MB, by 2 MB: $outcomes"

echo "ok: out of memory reported in one line; endless and huge input in bounded memory; claims checked before allocating; limits scanned"
