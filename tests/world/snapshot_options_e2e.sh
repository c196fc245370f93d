#!/usr/bin/env bash
# raytracer-snapshot's picture options end to end: the default picture is
# the reference picture, other sizes and sample counts keep standard output
# as it is, --fit frames meshes of any units, absurd sizes are refused, and
# a long render shows its progress on a terminal only.
#   snapshot_options_e2e.sh path/to/raytracer-snapshot assets/bunny.obj docs/raytracer.png
set -euo pipefail
snapshot=$(realpath "${1:?usage: $0 raytracer-snapshot bunny.obj raytracer.png}")
bunny=$(realpath "${2:?usage: $0 raytracer-snapshot bunny.obj raytracer.png}")
reference=$(realpath "${3:?usage: $0 raytracer-snapshot bunny.obj raytracer.png}")
work=$(mktemp -d "${TMPDIR:-/tmp}/snapshot-options-e2e.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
cp "$bunny" bunny.obj

fail() { echo "FAIL: $*" >&2; exit 1; }

# Runs the tool with the arguments given; sets status, and out, err.
run() {
    status=0
    timeout 240 "$snapshot" "$@" >out 2>err || status=$?
}
seconds_out() { sed -E 's/^completed in [0-9]+ seconds$/completed in N seconds/' "$1"; }
png_size() { identify -format '%w x %h' "$1"; }
# The number of pixels in which two pictures differ.
differing() { compare -metric AE "$1" "$2" null: 2>&1 || true; }

# --- the default picture, and the same asked for in full ----------------------
run
[ "$status" -eq 0 ] || fail "default run: status $status: $(cat err)"
seconds_out out >default.out
cmp -s <(convert raytracer.png rgb:-) <(convert "$reference" rgb:-) ||
    fail "the default picture differs from docs/raytracer.png in $(differing raytracer.png "$reference") pixels"
run --size 800x600 --samples 1 --up +y --output asked.png
[ "$status" -eq 0 ] || fail "--size 800x600 --samples 1: status $status: $(cat err)"
cmp -s <(convert asked.png rgb:-) <(convert "$reference" rgb:-) || fail "--size 800x600 --samples 1 changed the picture"
# Fitted, the bunny stays where it stands.
run --fit --output fitted.png
cmp -s <(convert fitted.png rgb:-) <(convert "$reference" rgb:-) ||
    fail "--fit moved the bunny: $(differing fitted.png "$reference") pixels differ"

# --- other sizes and samples: the picture's size, the same standard output ------
for args in "--size 1200x900 --samples 2" "--size=321x123" "--samples=3"; do
    # shellcheck disable=SC2086
    run $args --output sized.png
    [ "$status" -eq 0 ] || fail "$args: status $status: $(cat err)"
    diff default.out <(seconds_out out) >&2 || fail "$args: standard output differs (above)"
    [ ! -s err ] || fail "$args: printed on standard error: $(cat err)"
done
[ "$(png_size sized.png)" = "800 x 600" ] || fail "--samples 3: picture is $(png_size sized.png)"
run --size 321x123 --output sized.png
[ "$(png_size sized.png)" = "321 x 123" ] || fail "--size 321x123: picture is $(png_size sized.png)"

# --- --fit whatever the units: a cube in metres and in millimetres --------------
cube() {  # SIDE: a closed cube of that side, z up, off the origin
    awk -v s="$1" 'BEGIN {
        for (k = 0; k < 8; ++k) printf "v %.9g %.9g %.9g\n", 7 * s + (k % 2) * s, -3 * s + int(k / 2) % 2 * s, int(k / 4) * s
        print "f 1 3 4 2\nf 5 6 8 7\nf 1 2 6 5\nf 3 7 8 4\nf 1 5 7 3\nf 2 4 8 6" }'
}
cube 1 >metres.obj
cube 1000 >millimetres.obj
run --mesh metres.obj --fit --up +z --output metres.png
[ "$status" -eq 0 ] || fail "--fit metres: status $status: $(cat err)"
run --mesh millimetres.obj --fit --up +z --output millimetres.png
[ "$status" -eq 0 ] || fail "--fit millimetres: status $status: $(cat err)"
# The cube is in the picture: a good share of it is the cube's cyan.
cyan=$(convert metres.png -fx '(g>0.3 && r<0.1) ? 1 : 0' -format '%[fx:mean*w*h]' info:)
[ "${cyan%.*}" -gt 20000 ] || fail "--fit: only $cyan cyan pixels"
# Rounding of a thousandfold scale may move an edge pixel or two.
d=$(differing metres.png millimetres.png)
[ "$d" -lt 100 ] || fail "--fit: metres and millimetres differ in $d pixels"

# --- refusals: the usage line, status 2, nothing on standard output -------------
for args in "--size 0x600" "--size 16385x10" "--size 800" "--size 800x600x2" "--size -800x600" \
            "--size 8193x4097" "--samples 0" "--samples 17" "--samples 2.5" "--size 8192x4096 --samples 12" \
            "--up z" "--up +w" "--up" "--fit=yes"; do
    # shellcheck disable=SC2086
    run $args
    [ "$status" -eq 2 ] || fail "'$args': status $status, expected 2"
    grep -q '^usage: raytracer-snapshot' err || fail "'$args': no usage line on standard error: $(cat err)"
    [ "$(head -c 20 err)" = "raytracer-snapshot: " ] || fail "'$args': no reason first: $(cat err)"
    [ ! -s out ] || fail "'$args': printed on standard output"
done

# --- progress on a terminal, never on standard output ----------------------------
# A render of a few seconds (about 3 s on a quiet 2-thread machine: the
# progress line shows from 1 s on), its standard error on a terminal (script's).
long="--size 3200x2400 --samples 4 --output long.png"
run $long
[ ! -s err ] || fail "progress went to a standard error that is no terminal: $(cat err)"
SNAPSHOT=$snapshot ARGS=$long script -qec '"$SNAPSHOT" $ARGS >tty.out' tty.log >/dev/null
diff default.out <(seconds_out tty.out) >&2 || fail "standard output under a terminal differs (above)"
grep -aq 'rendering: [0-9]*% done, about [0-9]* s left' tty.log || fail "no progress on the terminal: $(cat -v tty.log)"
# The line is erased before the render ends: spaces over it, then a return
# (script's log has a line of its own before and after).
grep -aq $'\r *\r$' <(grep -a 'rendering: ' tty.log) ||
    fail "the progress line was left on the terminal: $(cat -v tty.log)"
echo "ok: raytracer-snapshot's picture options"
