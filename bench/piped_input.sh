#!/usr/bin/env bash
# Piped input against the file route, on a generated realistic scene: each round
# times `cat FILE > /dev/null`, `ase2sgl FILE OUT` and `cat FILE | ase2sgl /dev/stdin
# OUT` one after the other, with the converter's peak resident memory. Prints the
# medians, and the median of the per-round ratios piped / (cat + file route); the
# two routes' bundles are compared byte for byte.
# Usage: bench/piped_input.sh BUILD_DIR [SIZE_BYTES] [ROUNDS]
#   BUILD_DIR: a bench build (cmake --workflow --preset bench), which holds ase2sgl
#   and bench/generate_ase. The scene (default 500 MB, 5 rounds) is written to a
#   temporary folder and removed afterwards; the piped input is copied beside the
#   output, in the same folder.
set -euo pipefail
build=$(realpath "$1") size=${2:-500000000} rounds=${3:-5}
exe=$build/ase2sgl
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bench/generate_ase" realistic "$size" "$work/scene.ase" > /dev/null
cat "$work/scene.ase" > /dev/null  # into the page cache, as for every round after
echo "$(stat -c %s "$work/scene.ase") bytes; $(nproc) cores; load: $(cut -d' ' -f1-3 /proc/loadavg)"

# Wall seconds of a shell command line.
wall() { /usr/bin/time -f %e -o "$work/wall" bash -c "$1" > /dev/null 2>&1; cat "$work/wall"; }
rss() { awk '{ printf "%.1f", $1 / 1024 }' "$work/rss"; }  # the converter's peak, MiB

: > "$work/rounds"
for _ in $(seq "$rounds"); do
    c=$(wall "cat '$work/scene.ase' > /dev/null")
    f=$(wall "/usr/bin/time -f %M -o '$work/rss' '$exe' '$work/scene.ase' '$work/file.sgl'")
    fm=$(rss)
    p=$(wall "cat '$work/scene.ase' | /usr/bin/time -f %M -o '$work/rss' '$exe' /dev/stdin '$work/piped.sgl'")
    pm=$(rss)
    cmp -s "$work/file.sgl" "$work/piped.sgl" || { echo "piped bundle differs from the file route's" >&2; exit 1; }
    echo "$c $f $fm $p $pm" >> "$work/rounds"
done
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
col() { awk -v k="$1" '{ print $k }' "$work/rounds" | median; }
ratio=$(awk '{ print $4 / ($1 + $2) }' "$work/rounds" | median)
printf '%-40s %8s %10s\n' "route ($rounds rounds, medians)" "seconds" "peak MiB"
printf '%-40s %8.3f %10s\n' "cat FILE > /dev/null" "$(col 1)" "-"
printf '%-40s %8.3f %10.1f\n' "ase2sgl FILE OUT" "$(col 2)" "$(col 3)"
printf '%-40s %8.3f %10.1f\n' "cat FILE | ase2sgl /dev/stdin OUT" "$(col 4)" "$(col 5)"
printf 'piped / (cat + file route), median of per-round ratios: %.2f (goal: at most 1.5)\n' "$ratio"
