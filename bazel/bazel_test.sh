#!/usr/bin/env bash
# The ase2sgl_bundle rule for real: a small workspace that uses this repository
# converts a few ASE files with the converter Bazel builds from it; after
# `bazel clean` a second build takes every action, conversions included, from the
# disk cache; the bundles equal those of the CMake-built ase2sgl.
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
    sources+=("$corpus/a_mocap_rom.ase" "$corpus/d_testsphere.ase" "$corpus/s_2ship.ase")
else
    echo "no corpus at $corpus: converting the bundled example only"
fi
cp "${sources[@]}" "$work/workspace/"
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
