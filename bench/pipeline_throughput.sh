#!/usr/bin/env bash
# Files converted per second, each way README's "Use in a build" shows: xargs over
# a folder, a Ninja build through ase2sgl_convert(), a Bazel build through
# ase2sgl_bundle, and a Python loop. The input is the corpus copied COPIES times
# (default 10) into a temporary folder; each way runs ROUNDS times (default 5,
# Bazel 3) and the median is reported.
# Usage: bench/pipeline_throughput.sh BUILD_DIR [COPIES] [ROUNDS]
#   BUILD_DIR: a build with the program, the Python module and an install
#   (cmake --install BUILD_DIR --prefix BUILD_DIR/prefix is done here).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "$1") copies=${2:-10} rounds=${3:-5}
corpus=${ASE2SGL_CORPUS:-$repo/../shared/corpus/ase}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/assets"
for i in $(seq "$copies"); do
    for file in "$corpus"/*.ase; do cp "$file" "$work/assets/$(basename "$file" .ase)_$i.ase"; done
done
files=$(ls "$work/assets" | wc -l)
bytes=$(du -sb "$work/assets" | cut -f1)
echo "$files files, $((bytes / files)) bytes each on average; $(nproc) cores; load: $(cut -d' ' -f1-3 /proc/loadavg)"

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
report() {  # name, then seconds per round on standard input
    local seconds
    seconds=$(median)
    awk -v n="$1" -v s="$seconds" -v f="$files" 'BEGIN { printf "%-34s %7.2f s  %7.0f files/s\n", n, s, f / s }'
}
timed() { local start end; start=$(date +%s.%N); "$@" > /dev/null 2>&1; end=$(date +%s.%N); awk -v a="$start" -v b="$end" 'BEGIN { print b - a }'; }

for _ in $(seq "$rounds"); do
    timed bash -c "find '$work/assets' -name '*.ase' -print0 | xargs -0 -P $(nproc) -n1 '$build/ase2sgl'"
done | report "xargs -P $(nproc) -n1 ase2sgl"
rm -f "$work"/assets/*.sgl

cmake --install "$build" --prefix "$work/prefix" > /dev/null
list=$(printf '%s;' "$work"/assets/*.ase)
cmake -S "$repo/tests/package/consumer" -B "$work/ninja" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" \
      -DASSETS="${list%;}" > /dev/null
ninja -C "$work/ninja" load_bundle convert_in_process > /dev/null
for _ in $(seq "$rounds"); do
    ninja -C "$work/ninja" -t clean assets > /dev/null
    timed ninja -C "$work/ninja" -j "$(nproc)" assets
done | report "ninja -j$(nproc) (ase2sgl_convert)"

PYTHONPATH=$build/python /usr/bin/python3 - "$work/assets" "$rounds" <<'PY' | report "python: ase2sgl.convert loop"
import pathlib, sys, time
import ase2sgl
sources = sorted(pathlib.Path(sys.argv[1]).glob("*.ase"))
for _ in range(int(sys.argv[2])):
    start = time.perf_counter()
    for source in sources:
        ase2sgl.convert(source, source.with_suffix(".py.sgl"))
    print(time.perf_counter() - start)
PY

if command -v bazel > /dev/null; then
    mkdir -p "$work/bazel"
    cp "$repo/.bazelrc" "$work/bazel/"
    echo "local_repository(name = \"ase2sgl\", path = \"$repo\")" > "$work/bazel/WORKSPACE"
    printf 'load("@ase2sgl//bazel:ase2sgl_bundle.bzl", "ase2sgl_bundle")\nase2sgl_bundle(name = "meshes", srcs = glob(["*.ase"]))\n' \
        > "$work/bazel/BUILD.bazel"
    cp "$work"/assets/*.ase "$work/bazel/"
    cd "$work/bazel"
    bazel_() { bazel --output_base="$work/bazel_output" --max_idle_secs=60 "$@"; }
    bazel_ build --jobs="$(nproc)" //:meshes > /dev/null 2>&1  # the converter, and a first round
    for _ in $(seq 3); do
        for file in *.ase; do printf '\n' >> "$file"; done  # new content: every action runs again
        timed bazel_ build --jobs="$(nproc)" //:meshes
    done | report "bazel --jobs=$(nproc) (ase2sgl_bundle)"
    bazel_ shutdown > /dev/null 2>&1
fi
