#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# An asset-only project (project(x NONE), Makefiles) against an installed ase2sgl:
# a file whose meshes the converter would lose fails the checked build with one
# line naming file, line and reason, and writes nothing; TOLERANT builds it with
# every mesh; CHECK OFF gives the converter's bytes; a checked clean file gives
# the converter's bytes; BASE_DIR keeps same-named files in different folders
# apart; a removed output folder is made again by the next build; the OUTPUTS
# variable lists what was written; a generator expression in OUTPUT_DIR is refused;
# a missing input is named.
# Usage: assets_test.sh BUILD_DIR SOURCE_DIR CORPUS_DIR    (exit 77: skipped)
set -euo pipefail
build=$1 source=$2 corpus=$3
[[ -x $build/tools/sgltool ]] || { echo "sgltool was not built: skipped (the checks run it)"; exit 77; }
[[ -d $corpus ]] || { echo "no corpus of real ASE files at $corpus: skipped"; exit 77; }
work=$(mktemp -d)
trap '[[ -n ${KEEP:-} ]] || rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
objects() { od -An -t d4 -N4 "$1" | tr -d ' '; }

cmake --install "$build" --prefix "$work/prefix" > "$work/install.log"
prefix=$work/prefix
mkdir -p "$work/assets/props/crates" "$work/assets/props/lights" "$work/assets/scenes"
cp "$corpus/a_rotating_cube.ase" "$work/assets/props/crates/cube.ase"
cp "$corpus/d_testcube.ase" "$work/assets/props/lights/cube.ase"
# UTF-16 text: the converter reads no mesh of it.
lossy=$work/assets/scenes/three_cubes.ase
cp "$corpus/a_three_cubes_utf16le.ase" "$lossy"
clean=("props/crates/cube" "props/lights/cube")
list="$work/assets/props/crates/cube.ase;$work/assets/props/lights/cube.ase;$lossy"
configure() {
    cmake -S "$source/tests/package/assets_only" -B "$work/build" -G "Unix Makefiles" \
          -DCMAKE_PREFIX_PATH="$prefix" -DASSETS="$list" -DASSET_ROOT="$work/assets" "$@"
}
configure > "$work/configure.log" 2>&1 || { cat "$work/configure.log"; fail "configure without a compiler"; }

# Checked: the lossy file fails its step, the others still convert (-k).
if cmake --build "$work/build" --target checked -- -k > "$work/checked.log" 2>&1; then
    fail "the checked build passed a file whose meshes are lost"
fi
reasons=$(grep -E "^$lossy:[0-9]+: .+" "$work/checked.log" || true)
[[ $(printf '%s' "$reasons" | grep -c .) == 1 ]] || { cat "$work/checked.log"; fail "expected one line FILE:LINE: reason"; }
echo "checked build failed: $reasons"
[[ ! -e $work/build/checked/scenes/three_cubes.sgl ]] || fail "the refused file was written"
for name in "${clean[@]}"; do
    "$prefix/bin/ase2sgl" "$work/assets/$name.ase" "$work/expected.sgl" > /dev/null 2>&1
    cmp -s "$work/expected.sgl" "$work/build/checked/$name.sgl" || fail "checked $name.sgl is not the converter's"
done
grep -q "Conversion" "$work/checked.log" && fail "a successful step printed the converter's lines"

# Tolerant: every mesh arrives, through sgltool convert, and nothing is printed.
cmake --build "$work/build" --target tolerant > "$work/tolerant.log" 2>&1 ||
    { cat "$work/tolerant.log"; fail "the tolerant build"; }
"$prefix/bin/sgltool" convert "$lossy" "$work/tolerant.sgl" > "$work/sgltool.log"
cmp -s "$work/tolerant.sgl" "$work/build/tolerant/scenes/three_cubes.sgl" || fail "tolerant bundle is not sgltool's"
[[ $(objects "$work/tolerant.sgl") -gt 0 ]] || fail "tolerant bundle holds no object"
grep -qF "$(head -n1 "$work/sgltool.log")" "$work/tolerant.log" && fail "a successful step printed sgltool's lines"
listed=$(tr ';' '\n' < "$work/build/tolerant-outputs.txt" | sort)
written=$(find "$work/build/tolerant" -name '*.sgl' | sort)
[[ $listed == "$written" && $(wc -l <<< "$written") == 3 ]] || fail "OUTPUTS lists $listed, written: $written"
echo "tolerant build: $(objects "$work/tolerant.sgl") objects from the UTF-16 file, 3 bundles as OUTPUTS lists"

# The output folder removed: the next build makes it again.
rm -rf "$work/build/tolerant"
cmake --build "$work/build" --target tolerant > "$work/again.log" 2>&1 ||
    { cat "$work/again.log"; fail "build after removing the output folder"; }
[[ -e $work/build/tolerant/props/lights/cube.sgl ]] || fail "output folder not made again"

# Unchecked: the converter's bytes, however few objects.
cmake --build "$work/build" --target unchecked > "$work/unchecked.log" 2>&1 ||
    { cat "$work/unchecked.log"; fail "the unchecked build"; }
"$prefix/bin/ase2sgl" "$lossy" "$work/unchecked.sgl" > /dev/null 2>&1
cmp -s "$work/unchecked.sgl" "$work/build/unchecked/scenes/three_cubes.sgl" || fail "CHECK OFF is not the converter's"
echo "unchecked build: the converter's bytes ($(objects "$work/unchecked.sgl") objects)"

# A missing input is named.
rm "$work/assets/props/lights/cube.ase"
cmake "-DINPUT=$work/assets/props/lights/cube.ase" "-DOUTPUT=$work/missing.sgl" "-DSTATUS=$work/status" -DMODE=plain \
      "-DCONVERTER=$prefix/bin/ase2sgl" -P "$(find "$prefix" -name ase2sgl-convert-step.cmake)" > "$work/missing.log" 2>&1
grep -qx "$work/assets/props/lights/cube.ase: no such ASE file" "$work/missing.log" || { cat "$work/missing.log"; fail "missing input"; }
[[ ! -e $work/status ]] || fail "a missing input left a done status"

# Generator expressions in OUTPUT_DIR: refused when configuring.
if configure -DOUTPUT_GENEX=ON > "$work/genex.log" 2>&1; then fail "a generator expression in OUTPUT_DIR was accepted"; fi
grep -q "may not hold generator expressions" "$work/genex.log" || { cat "$work/genex.log"; fail "no clear refusal"; }
echo "missing input named, generator expression refused"
