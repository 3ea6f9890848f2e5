#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The ase2sgl_bundle rule for real: a small workspace that uses this repository
# converts a few ASE files with the converter Bazel builds from it; after
# `bazel clean` a second build takes every action, conversions included, from the
# disk cache; the bundles equal those of the CMake-built ase2sgl; the log holds
# no sandbox debug line and no converter line. With the corpus, a UTF-16 file
# (whose meshes the converter would lose) fails the checked rule with one line
# FILE:LINE: reason, and the tolerant rule converts it as sgltool convert does.
# Usage: bazel/bazel_test.sh ASE2SGL_EXECUTABLE [WORK_DIR]   (exit 77: skipped)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
reference=$(realpath "$1")
work=${2:-$repo/build/bazel-test}
command -v bazel >/dev/null || { echo "bazel is not installed: skipped"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }

rm -rf "$work"
mkdir -p "$work/workspace"
corpus=${ASE2SGL_CORPUS:-$repo/../shared/corpus/ase}
sources=("$repo/examples/box.ase")
if [[ -d $corpus ]]; then
    sources+=("$corpus/v_ceilinglight1.ase" "$corpus/d_testsphere.ase" "$corpus/d_tiles_colour.ase")
else
    echo "no corpus at $corpus: converting the bundled example only"
fi
cp "${sources[@]}" "$work/workspace/"
mkdir "$work/workspace/lossy"
[[ -d $corpus ]] && cp "$corpus/a_three_cubes_utf16le.ase" "$work/workspace/lossy/"
cp "$repo/.bazelrc" "$work/workspace/.bazelrc"
cat > "$work/workspace/WORKSPACE" <<WORKSPACE
local_repository(name = "ase2sgl", path = "$repo")
WORKSPACE
cat > "$work/workspace/BUILD.bazel" <<'BUILD'
load("@ase2sgl//bazel:ase2sgl_bundle.bzl", "ase2sgl_bundle")

ase2sgl_bundle(
    name = "meshes",
    srcs = glob(["*.ase"]),
)

ase2sgl_bundle(
    name = "checked_lossy",
    srcs = glob(["lossy/*.ase"]),
)

ase2sgl_bundle(
    name = "tolerant_lossy",
    srcs = glob(["lossy/*.ase"]),
    tolerant = True,
)
BUILD

cd "$work/workspace"
bazel_() { bazel --output_base="$work/output_base" --max_idle_secs=30 "$@"; }
trap 'bazel_ shutdown >/dev/null 2>&1 || true' EXIT
build() {
    bazel_ build --disk_cache="$work/disk_cache" --execution_log_json_file="$work/$1.json" //:meshes \
        > "$work/$1.log" 2>&1 || { grep -v linux-sandbox "$work/$1.log" | tail -n 30; fail "bazel build ($1)"; }
    grep -E '^INFO: [0-9]+ processes' "$work/$1.log" | tail -n 1
}
start=$SECONDS
build first
bazel_ clean > /dev/null 2>&1
build second
echo "bazel: $((SECONDS - start)) s for both builds"

# One JSON object per spawn: its mnemonic, and whether its outputs came from the
# cache (this Bazel counts the disk cache as a remote cache).
python3 - "$work/second.json" "${#sources[@]}" <<'PY'
import json, sys
text = open(sys.argv[1]).read()
decoder, spawns, at = json.JSONDecoder(), [], 0
while at < len(text):
    while at < len(text) and text[at].isspace():
        at += 1
    if at < len(text):
        spawn, at = decoder.raw_decode(text, at)
        spawns.append(spawn)
conversions = [s for s in spawns if s.get("mnemonic") == "Ase2Sgl"]
missed = [s.get("progressMessage") or s.get("mnemonic") for s in spawns if not s.get("remoteCacheHit")]
print(f"second build: {len(spawns)} spawns, {len(conversions)} conversions, {len(missed)} not from the cache")
if len(conversions) != int(sys.argv[2]) or missed:
    sys.exit(f"FAIL: expected {sys.argv[2]} conversions and every spawn a disk cache hit; ran: {missed}")
PY

for source in "${sources[@]}"; do
    name=$(basename "$source" .ase)
    "$reference" "$source" "$work/$name.sgl" > /dev/null 2>&1
    cmp "$work/$name.sgl" "bazel-bin/meshes/$name.sgl" || fail "$name.sgl differs from ase2sgl's"
done
echo "bundles equal ase2sgl's for ${#sources[@]} files"

! grep -E "linux-sandbox|Conversion de" "$work/first.log" || fail "sandbox debug or converter lines in the build log"

if [[ -d $corpus ]]; then
    lossy=lossy/a_three_cubes_utf16le.ase
    if bazel_ build //:checked_lossy > "$work/checked.log" 2>&1; then fail "the checked rule passed a lossy file"; fi
    grep -E "$lossy:[0-9]+: " "$work/checked.log" || { tail -n 30 "$work/checked.log"; fail "no FILE:LINE: reason"; }
    bazel_ build //:tolerant_lossy > "$work/tolerant.log" 2>&1 || { tail -n 30 "$work/tolerant.log"; fail "tolerant rule"; }
    "$(dirname "$reference")/tools/sgltool" convert "$lossy" "$work/tolerant.sgl" > /dev/null
    cmp "$work/tolerant.sgl" bazel-bin/tolerant_lossy/a_three_cubes_utf16le.sgl || fail "tolerant bundle is not sgltool's"
    echo "checked rule refused the UTF-16 file, tolerant rule converted it as sgltool convert does"
fi
