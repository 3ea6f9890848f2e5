#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Two builds of one commit, in two different build folders, give the same bytes:
# the programs, and what cpack makes of them (the Debian packages on Linux, the
# release archive for Windows). Any path of a build folder, time of a link or of a
# packaging, owner of a file or order of a folder's listing that reached a program
# or a package would make the two differ.
# Usage: reproducible_build.sh SOURCE_DIR [WORK_DIR] [PRESET[=BUILD_DIR]...]
#   PRESET            built twice here (default: windows and release)
#   PRESET=BUILD_DIR  BUILD_DIR is a finished build of PRESET (CI passes the builds it
#                     has made and tested): one more build, without the test suite,
#                     is compared with it
# The builds compile every file (ccache is turned off: a cached object would be the
# first build's bytes, not a second build's). A given build made through ccache with
# a base_dir differs: ccache hands the compiler relative source paths, which reach
# the debug information. Extra cmake arguments: $ASE2SGL_REPRO_CMAKE_ARGS.
set -euo pipefail
source=$(realpath "$1")
work=${2:-$source/build/reproducible}
work=$(realpath -m "$work")
presets=("${@:3}")
((${#presets[@]})) || presets=(windows release)
read -r -a extra <<< "${ASE2SGL_REPRO_CMAKE_ARGS:-}"
export CCACHE_DISABLE=1
fail() { echo "FAIL: $*"; exit 1; }

# build PRESET FOLDER: configure and build PRESET's programs and what its packages
# hold, without the test suite, in FOLDER.
build() {
    local preset=$1 folder=$2 log=$2.log
    rm -rf "$folder"
    mkdir -p "$(dirname "$folder")"
    cmake --preset "$preset" -S "$source" -B "$folder" -DASE2SGL_TESTS=OFF "${extra[@]}" > "$log" 2>&1 ||
        { cat "$log"; fail "configure $preset in $folder"; }
    # The windows build preset names its targets: the programs and the manual text.
    local targets=()
    [[ $preset == windows ]] && targets=(--target ase2sgl sgltool manual_text)
    cmake --build "$folder" -j2 "${targets[@]}" >> "$log" 2>&1 || { tail -n 40 "$log"; fail "build $preset in $folder"; }
}

# pack GENERATOR BUILD_DIR OUT_DIR: the packages of a build, as cpack writes them.
pack() {
    rm -rf "$3"
    cpack --config "$2/CPackConfig.cmake" -G "$1" -B "$3" > "$3.log" 2>&1 || { cat "$3.log"; fail "cpack -G $1 in $2"; }
    rm -rf "$3/_CPack_Packages"
}

# same FIRST SECOND LABEL: the two files are equal.
same() {
    cmp "$1" "$2" || fail "$3 differs between the two builds"
    echo "$3: the same in both builds ($(sha256sum < "$1" | cut -c1-16))"
}

check() {
    local preset=${1%%=*} first=${1#*=} generator programs
    if [[ $1 != *=* ]]; then
        first=$work/$preset/first
        build "$preset" "$first"
    fi
    first=$(realpath "$first")
    [[ -f $first/CPackConfig.cmake ]] || fail "$first is no configured build"
    local second=$work/$preset/second-folder
    build "$preset" "$second"
    case $preset in
        windows) generator=ZIP programs=(ase2sgl.exe tools/sgltool.exe) ;;
        *) generator=DEB programs=(ase2sgl tools/sgltool) ;;
    esac
    for program in "${programs[@]}"; do
        [[ -f $first/$program ]] || fail "$first/$program was not built"
        same "$first/$program" "$second/$program" "$preset: $program"
    done
    pack "$generator" "$first" "$work/$preset/first-packages"
    pack "$generator" "$second" "$work/$preset/second-packages"
    local listing
    listing=$(cd "$work/$preset/first-packages" && ls)
    [[ -n $listing ]] || fail "cpack -G $generator wrote no package"
    [[ $listing == "$(cd "$work/$preset/second-packages" && ls)" ]] ||
        fail "$preset: the two builds give other packages: $(ls "$work/$preset/"*-packages)"
    for package in $listing; do
        same "$work/$preset/first-packages/$package" "$work/$preset/second-packages/$package" "$preset: $package"
    done
}

mkdir -p "$work"
for preset in "${presets[@]}"; do
    check "$preset"
done
