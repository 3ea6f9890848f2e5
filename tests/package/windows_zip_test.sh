#!/usr/bin/env bash
# Builds the Windows release archive with CPack, checks that it holds the programs,
# README, the manual pages and nothing of a Unix installation (no usr/, no
# libraries, no headers), then unpacks it and runs both programs from there under
# Wine on a corpus file: the converter's bundle is read back by sgltool.
# Usage: windows_zip_test.sh BUILD_DIR SOURCE_DIR CORPUS_DIR    (exit 77: skipped)
set -euo pipefail
build=$1 source=$2 corpus=$3
command -v wine >/dev/null || { echo "wine is not installed: skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
name="ase2sgl-$version-windows-x86_64"
cpack --config "$build/CPackConfig.cmake" -G ZIP -B "$work/package" > "$work/cpack.log" ||
    { cat "$work/cpack.log"; fail "cpack"; }
[[ -f $work/package/$name.zip ]] || fail "no $name.zip written: $(ls "$work/package")"
(cd "$work" && cmake -E tar xf "package/$name.zip")
listing=$(cd "$work/$name" && find . -type f | LC_ALL=C sort)
echo "$listing"
expected="./README.md ./ase2sgl.exe ./manual/ase2sgl.1.txt ./manual/sgl.5.txt ./manual/sgltool.1.txt ./sgltool.exe"
[[ -f $source/LICENSE ]] && expected="./LICENSE $expected"
[[ $(echo $listing) == "$expected" ]] || fail "the archive holds: $(echo $listing); expected: $expected"
grep -q "sgltool info" "$work/$name/manual/sgltool.1.txt" || fail "the sgltool manual text lacks its synopsis"

input=$(find "$corpus" -maxdepth 1 -name '*.ase' 2>/dev/null | sort | head -n 1)
[[ -n $input ]] || { echo "no corpus at $corpus: the programs were not run"; exit 77; }
cp "$input" "$work/scene.ase"
cd "$work"
# Under Wine a program's start can fail now and then for no reason of its own: each
# of these runs (which only write their own outputs) gets a second try.
wine_run() { wine "$@" || { echo "(tried again)"; wine "$@"; }; }
wine_run "$name/ase2sgl.exe" scene.ase out.sgl > convert.log 2>&1 || { cat convert.log; fail "ase2sgl.exe"; }
wine_run "$name/sgltool.exe" check out.sgl > check.log 2>&1 || { cat check.log; fail "sgltool.exe check"; }
grep -q "^out.sgl: sound bundle" check.log || { cat check.log; fail "sgltool.exe check did not find a sound bundle"; }
wine_run "$name/sgltool.exe" render out.sgl out.png --size 64 > render.log 2>&1 || { cat render.log; fail "sgltool.exe render"; }
[[ $(head -c 8 out.png | od -An -tx1 | tr -d ' \n') == 89504e470d0a1a0a ]] || fail "render wrote no PNG"
echo "both programs ran from the unpacked archive"
