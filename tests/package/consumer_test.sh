#!/usr/bin/env bash
# Installs ase2sgl into a temporary prefix and builds a consumer project against
# it: ase2sgl_convert() converts corpus files as parallel build steps, a second
# build does nothing, touching one input rebuilds exactly that one, a broken input
# fails the build without an output that looks up to date, and programs linked
# with the installed libraries load and write bundles.
# Usage: consumer_test.sh BUILD_DIR SOURCE_DIR CORPUS_DIR    (exit 77: skipped)
set -euo pipefail
build=$1 source=$2 corpus=$3
if [[ ! -d $corpus ]]; then
    echo "no corpus of real ASE files at $corpus: skipped"
    exit 77
fi
command -v ninja >/dev/null || { echo "ninja is not installed: skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cmake --install "$build" --prefix "$work/prefix" > "$work/install.log"
mkdir "$work/assets"
assets=(d_testsphere a_rotating_cube v_ceilinglight2 v_terminal1)
for name in "${assets[@]}"; do cp "$corpus/$name.ase" "$work/assets/"; done
list=$(printf "$work/assets/%s.ase;" "${assets[@]}")

cmake -S "$source/tests/package/consumer" -B "$work/build" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" \
      -DASSETS="${list%;}" > "$work/configure.log" || { cat "$work/configure.log"; fail "configure"; }
conversions() { grep -c "Converting" "$1" || true; }

cmake --build "$work/build" -j2 > "$work/build1.log" || { cat "$work/build1.log"; fail "first build"; }
[[ $(conversions "$work/build1.log") == "${#assets[@]}" ]] || fail "first build: expected ${#assets[@]} conversions"
for name in "${assets[@]}"; do
    "$build/ase2sgl" "$corpus/$name.ase" "$work/$name.sgl" > /dev/null 2>&1
    cmp -s "$work/$name.sgl" "$work/build/bundles/$name.sgl" || fail "$name.sgl differs from ase2sgl's"
done
echo "first build: ${#assets[@]} conversions, bundles equal ase2sgl's"

cmake --build "$work/build" -j2 > "$work/build2.log"
[[ $(conversions "$work/build2.log") == 0 ]] || { cat "$work/build2.log"; fail "second build converted again"; }
echo "second build: nothing converted"

touch "$work/assets/v_ceilinglight2.ase"
cmake --build "$work/build" -j2 > "$work/build3.log"
[[ $(conversions "$work/build3.log") == 1 ]] || { cat "$work/build3.log"; fail "after touching one input"; }
grep -q "Converting .*v_ceilinglight2.ase" "$work/build3.log" || fail "the touched input was not the one converted"
echo "touched one input: exactly it converted"

# More objects than the format allows: the converter refuses the input.
for _ in $(seq 5001); do cat "$source/examples/box.ase"; done > "$work/assets/v_terminal1.ase"
if cmake --build "$work/build" -j2 > "$work/build4.log" 2>&1; then fail "a broken input built"; fi
grep -q "plus de 5000 objets" "$work/build4.log" || { cat "$work/build4.log"; fail "no converter error in the log"; }
[[ $(ninja -C "$work/build" -n | grep -c "Converting .*v_terminal1") == 1 ]] ||
    fail "the failed step looks up to date"
[[ "$work/build/bundles/v_terminal1.sgl" -ot "$work/assets/v_terminal1.ase" ]] || fail "stale output newer than its input"
echo "broken input: build failed, its step is still to do"

cp "$corpus/v_terminal1.ase" "$work/assets/"
cmake --build "$work/build" -j2 > "$work/build5.log" || fail "build after repairing the input"
[[ $(conversions "$work/build5.log") == 1 ]] || fail "repair: expected one conversion"

"$work/build/load_bundle" "$work/build/bundles/v_ceilinglight2.sgl" > "$work/load.txt" || fail "load_bundle"
count=$(od -An -t d4 -N4 "$work/build/bundles/v_ceilinglight2.sgl" | tr -d ' ')
[[ $(head -n1 "$work/load.txt") == "objects $count" && $(wc -l < "$work/load.txt") == $((count + 1)) ]] ||
    fail "load_bundle read $(head -n1 "$work/load.txt"), the file holds $count"
"$work/build/convert_in_process" "$corpus/a_rotating_cube.ase" "$work/in_process.sgl" || fail "convert_in_process"
cmp -s "$work/in_process.sgl" "$work/a_rotating_cube.sgl" || fail "in-process conversion differs"
echo "installed libraries: reader loaded $count objects, converter wrote the same bytes"
