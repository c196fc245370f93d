#!/usr/bin/env bash
# raytracer-snapshot against hostile outputs: standard output whose reader
# is gone, names at the length limit or holding control characters, links,
# a bind mount, a failing fsync, a signal mid-write, and the order of the
# lines when both streams share one file.
#   snapshot_output_e2e.sh path/to/raytracer-snapshot
set -euo pipefail
snapshot=$(realpath "${1:?usage: $0 path/to/raytracer-snapshot}")
work=$(mktemp -d "${TMPDIR:-/tmp}/snapshot-output-e2e.XXXXXX")
trap 'rm -rf "$work"' EXIT
run=$work/run
mkdir "$run"
printf 'v 0 0.04 -0.05\nv 0 0.04 0.05\nv 0 0.06 0\nf 1 2 3\n' >"$run/bunny.obj"

fail() { echo "FAIL: $*" >&2; exit 1; }

# Runs the tool in $run with the arguments given; sets status, fills out, err.
snap() {
    status=0
    (cd "$run" && timeout 60 "$snapshot" "$@") >"$work/out" 2>"$work/err" || status=$?
}
# expect STATUS [LINE]: the exit status and, when given, the one line on
# standard error (else none).
expect() {
    [ "$status" -eq "$1" ] || fail "exit status $status, expected $1: $(cat -A "$work/err")"
    [ "$(cat "$work/err")" = "${2:-}" ] || fail "standard error: $(cat -A "$work/err"), expected: ${2:-nothing}"
}
snap --output first.png
expect 0
cp "$run/first.png" "$work/picture"

# --- standard output whose reader is gone: the picture is still written -------
mkfifo "$work/fifo"
exec 3<>"$work/fifo" 4>"$work/fifo" 3<&-  # a writer left, the only reader gone
status=0
(cd "$run" && "$snapshot" --output lost.png) >&4 2>"$work/err" || status=$?
exec 4>&-
expect 1 'raytracer-snapshot: cannot write standard output: Broken pipe'
cmp -s "$work/picture" "$run/lost.png" || fail "reader gone: the picture was not written"

# --- names: at the length limit, through links ------------------------------
long=$(printf 'p%.0s' $(seq 251)).png  # 255 bytes, the most a name may have
ln -s gone.png "$run/dangling"
printf 'old' >"$run/target.png"
chmod 600 "$run/target.png"
ln -s target.png "$run/link"
for output in "$long" dangling link; do
    snap --output "$output"
    expect 0
    cmp -s "$work/picture" "$run/$output" || fail "--output ${output:0:20}: not the picture"
done
[ -L "$run/dangling" ] && [ -L "$run/link" ] || fail "a symbolic link was replaced instead of its target"
[ "$(stat -c %a "$run/target.png")" = 600 ] || fail "the mode of the picture replaced was not kept"

# --- control characters in a name: one line, shown harmlessly ----------------
cp "$run/bunny.obj" "$run/$(printf 'bad\tmesh.obj')"
printf 'v 0 0\n' >>"$run/$(printf 'bad\tmesh.obj')"
for args in "$(printf 'new\nline\033[2J.obj')|cannot open new\\x0aline\\x1b[2J.obj: No such file or directory" \
            "$(printf 'bad\tmesh.obj')|bad\\x09mesh.obj:5: vertex line needs three numbers"; do
    snap --mesh "${args%%|*}"
    expect 1 "${args#*|}"
done

# --- both streams in one file: the progress lines, then the error line -------
for args in "--mesh missing.obj" "--output no/such/folder/x.png"; do
    # shellcheck disable=SC2086
    (cd "$run" && "$snapshot" $args) >"$work/both" 2>&1 || true
    grep -q '^cannot ' "$work/both" && [ "$(grep -c . "$work/both")" -ge 2 ] || fail "$args: $(cat -A "$work/both")"
    tail -n 1 "$work/both" | grep -q '^cannot ' || fail "$args: the error line is not the last: $(cat -A "$work/both")"
done

# --- a file mounted on its own (a bind mount) is written in place -------------
printf 'old' >"$run/mounted.png"
printf 'old' >"$run/source.png"
bound() {  # COMMAND...: runs it in a mount namespace of its own with the bind mount
    unshare -m sh -c 'mount --bind "$1/source.png" "$1/mounted.png" && shift && cd "$0" && exec "$@"' "$run" "$run" "$@"
}
if bound true 2>/dev/null; then
    status=0
    bound "$snapshot" --output mounted.png >"$work/out" 2>"$work/err" || status=$?
    expect 0
    cmp -s "$work/picture" "$run/source.png" || fail "bind mount: the file mounted was not written"
else
    echo "skipped: bind mount (cannot make one here)"
fi

# --- a failing fsync and a signal mid-write, injected by strace ---------------
# Either keeps the older picture and leaves nothing beside it.
if strace -o /dev/null true 2>/dev/null; then
    printf 'older' >"$run/raytracer.png"
    before=$(ls -A "$run")
    for inject in "error=EIO|1|cannot write raytracer.png: Input/output error" \
                  "signal=TERM|$((128 + $(kill -l TERM)))|"; do
        IFS='|' read -r how code line <<<"$inject"
        status=0  # (bash's note of the signal goes to /dev/null)
        { (cd "$run" && exec strace -f -o /dev/null -e trace=fsync -e inject=fsync:"$how" "$snapshot") \
            >"$work/out" 2>"$work/err" || status=$?; } 2>/dev/null
        expect "$code" "$line"
        [ "$(cat "$run/raytracer.png")" = older ] || fail "fsync $how: the older picture changed"
        [ "$(ls -A "$run")" = "$before" ] || fail "fsync $how: files left behind: $(ls -A "$run")"
    done
else
    echo "skipped: fsync failure and signal mid-write (strace cannot trace here)"
fi

echo "ok: raytracer-snapshot against lost output, long and linked names, control characters, bind mounts, fsync"
