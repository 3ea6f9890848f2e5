#!/usr/bin/env bash
# Builds the programs twice from one source tree, in two different build folders,
# and expects the same bytes: the Windows executables (the windows preset, MinGW-w64)
# and the Linux ones (the release preset). Any path of a build folder or time of a
# link that reached a program would make the two differ.
# Usage: reproducible_build.sh SOURCE_DIR [WORK_DIR] [PRESET...]   (default presets: windows release;
# extra cmake arguments: $ASE2SGL_REPRO_CMAKE_ARGS)
set -euo pipefail
source=$(realpath "$1")
work=${2:-$source/build/reproducible}
presets=("${@:3}")
((${#presets[@]})) || presets=(windows release)
read -r -a extra <<< "${ASE2SGL_REPRO_CMAKE_ARGS:-}"
fail() { echo "FAIL: $*"; exit 1; }

# preset, then the programs' paths inside its build folder
check() {
    local preset=$1
    shift
    for copy in first second-folder; do
        rm -rf "$work/$preset/$copy"
        cmake --preset "$preset" -S "$source" -B "$work/$preset/$copy" -DASE2SGL_TESTS=OFF -DASE2SGL_PYTHON=OFF \
              "${extra[@]}" > "$work/$preset-$copy.log" 2>&1 || { cat "$work/$preset-$copy.log"; fail "configure $preset"; }
        cmake --build "$work/$preset/$copy" -j2 --target ase2sgl sgltool >> "$work/$preset-$copy.log" 2>&1 ||
            { tail -n 40 "$work/$preset-$copy.log"; fail "build $preset"; }
    done
    for program in "$@"; do
        cmp "$work/$preset/first/$program" "$work/$preset/second-folder/$program" ||
            fail "$preset: two builds of $program differ"
        echo "$preset: $program the same in both builds ($(sha256sum < "$work/$preset/first/$program" | cut -c1-16))"
    done
}

mkdir -p "$work"
for preset in "${presets[@]}"; do
    case $preset in
        windows) check windows ase2sgl.exe tools/sgltool.exe ;;
        *) check "$preset" ase2sgl tools/sgltool ;;
    esac
done
