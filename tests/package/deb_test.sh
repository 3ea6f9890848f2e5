#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian packages with CPack and checks each one this build can make:
# ase2sgl (the converter alone, no dependency), sgltool, libase2sgl-dev and
# python3-ase2sgl. Each holds its copyright file and changelog, stripped programs
# and compressed manual pages; lintian reports no error and no warning on any
# (skipped, saying so, without lintian); each is unpacked with dpkg -x and run.
# With ASE2SGL_TEST_DPKG=1, as root (CI), each is also installed with dpkg -i, run
# from /usr, and removed with dpkg -r.
# Usage: deb_test.sh BUILD_DIR SOURCE_DIR    (exit 77: skipped)
set -euo pipefail
build=$1 source=$2
command -v dpkg-shlibdeps >/dev/null || { echo "dpkg-dev is not installed: skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
arch=$(dpkg --print-architecture)

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/package" > "$work/cpack.log" ||
    { cat "$work/cpack.log"; fail "cpack"; }
packages=(ase2sgl libase2sgl-dev)
[[ -x $build/tools/sgltool ]] && packages+=(sgltool) || echo "sgltool was not built: its package is not checked"
compgen -G "$build/python/ase2sgl/_ase2sgl*.so" > /dev/null && packages+=(python3-ase2sgl) ||
    echo "the Python module was not built: its package is not checked"
deb() { echo "$work/package/$1_1.0_$arch.deb"; }
for package in "${packages[@]}"; do
    [[ -f $(deb "$package") ]] || { ls "$work/package"; fail "no package $package"; }
    dpkg -x "$(deb "$package")" "$work/root"
    for path in "usr/share/doc/$package/copyright" "usr/share/doc/$package/changelog.gz"; do
        [[ -f $work/root/$path ]] || fail "$package: no $path"
    done
done
depends=$(dpkg-deb -f "$(deb ase2sgl)" Depends)
[[ -z $depends ]] || fail "the converter's package depends on: $depends"
for path in usr/bin/ase2sgl usr/share/man/man1/ase2sgl.1.gz usr/share/man/man5/sgl.5.gz \
            usr/include/ase2sgl/bundle/bundle_reader.h usr/lib/cmake/ase2sgl/ase2sgl-config.cmake "usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/libase2sgl_reader.a" \
            usr/share/ase2sgl/schemas/sgltool-lint.schema.json; do
    [[ -e $work/root/$path ]] || fail "$path is not in the packages"
done
file "$work/root/usr/bin/ase2sgl" | grep -q "not stripped" && fail "ase2sgl is not stripped"
echo "packages: ${packages[*]}"

if command -v lintian > /dev/null; then
    (cd "$work/package" && lintian --fail-on error,warning \
        $(for package in "${packages[@]}"; do deb "$package"; done)) > "$work/lintian.log" 2>&1 ||
        { cat "$work/lintian.log"; fail "lintian"; }
    grep -E "^[EW]: " "$work/lintian.log" && fail "lintian errors or warnings"
    echo "lintian: no error, no warning"
else
    echo "lintian is not installed: the packages' lint is skipped"
fi

"$work/root/usr/bin/ase2sgl" "$source/examples/box.ase" "$work/box.sgl" > "$work/run.log" 2>&1 ||
    { cat "$work/run.log"; fail "the packaged ase2sgl"; }
"$build/ase2sgl" "$source/examples/box.ase" "$work/expected.sgl" > /dev/null 2>&1
cmp "$work/box.sgl" "$work/expected.sgl" || fail "the packaged ase2sgl writes other bytes"
if [[ -e $work/root/usr/bin/sgltool ]]; then
    "$work/root/usr/bin/sgltool" check "$work/box.sgl" || fail "the packaged sgltool"
fi
if [[ -d $work/root/usr/lib/python3/dist-packages/ase2sgl ]]; then
    [[ $(dpkg-deb -f "$(deb python3-ase2sgl)" Depends) == *python3-numpy* ]] || fail "the Python module needs python3-numpy"
    PYTHONPATH=$work/root/usr/lib/python3/dist-packages /usr/bin/python3 -c \
        'import ase2sgl, sys; ase2sgl.convert(sys.argv[1], sys.argv[2]); print(len(ase2sgl.read_bundle(sys.argv[2])), "objects")' \
        "$source/examples/box.ase" "$work/box_python.sgl" || fail "the packaged Python module"
    cmp "$work/box_python.sgl" "$work/expected.sgl" || fail "the packaged Python module writes other bytes"
fi
echo "programs run from the unpacked packages"

if [[ ${ASE2SGL_TEST_DPKG:-} != 1 || $(id -u) != 0 ]]; then
    echo "dpkg -i / dpkg -r: skipped (needs root and ASE2SGL_TEST_DPKG=1, as CI sets)"
    exit 0
fi
for package in "${packages[@]}"; do
    dpkg-query -W "$package" > /dev/null 2>&1 && fail "$package is already installed: not touching it"
done
order=(ase2sgl)
for package in sgltool libase2sgl-dev python3-ase2sgl; do
    [[ " ${packages[*]} " == *" $package "* ]] && order+=("$package")
done
dpkg -i $(for package in "${order[@]}"; do deb "$package"; done) > "$work/dpkg.log" 2>&1 ||
    { cat "$work/dpkg.log"; dpkg -r "${order[@]}" > /dev/null 2>&1 || true; fail "dpkg -i"; }
status=0
/usr/bin/ase2sgl "$source/examples/box.ase" "$work/installed.sgl" > /dev/null 2>&1 && cmp -s "$work/installed.sgl" "$work/expected.sgl" ||
    status=1
[[ ! -x /usr/bin/sgltool ]] || /usr/bin/sgltool check "$work/installed.sgl" > /dev/null || status=1
reversed=()
for ((i = ${#order[@]} - 1; i >= 0; i--)); do reversed+=("${order[i]}"); done
dpkg -r "${reversed[@]}" > "$work/remove.log" 2>&1 || { cat "$work/remove.log"; fail "dpkg -r"; }
[[ $status == 0 ]] || fail "the installed programs"
[[ ! -e /usr/bin/ase2sgl ]] || fail "/usr/bin/ase2sgl left after dpkg -r"
echo "dpkg -i, run, dpkg -r: ${order[*]}"
