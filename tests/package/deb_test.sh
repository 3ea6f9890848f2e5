#!/usr/bin/env bash
# Builds the Debian package with CPack, checks its control fields, unpacks it
# into a temporary root with dpkg -x and runs the programs from there.
# Usage: deb_test.sh BUILD_DIR SOURCE_DIR    (exit 77: skipped)
set -euo pipefail
build=$1 source=$2
command -v dpkg-shlibdeps >/dev/null || { echo "dpkg-dev is not installed: skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/package" > "$work/cpack.log" ||
    { cat "$work/cpack.log"; fail "cpack"; }
deb=$(echo "$work"/package/*.deb)
[[ -f $deb ]] || fail "no .deb written"
dpkg-deb -f "$deb" Package Version Architecture Depends
[[ $(dpkg-deb -f "$deb" Package) == ase2sgl ]] || fail "package name"
depends=$(dpkg-deb -f "$deb" Depends)
for library in $(objdump -p "$build"/tools/sgltool "$build"/python/ase2sgl/*.so 2>/dev/null | awk '/NEEDED/ { print $2 }' | sort -u); do
    file=$(ldconfig -p | awk -v l="$library" '$1 == l && !found { print $NF; found = 1 }')
    package=$( (dpkg -S "$(realpath "$file")" 2>/dev/null || true) | cut -d: -f1)
    [[ -z $package || $depends == *"${package%%:*}"* ]] || fail "$library ($package) is not among the dependencies: $depends"
done

dpkg -x "$deb" "$work/root"
for path in usr/bin/ase2sgl usr/bin/sgltool usr/share/man/man1/ase2sgl.1 usr/share/man/man1/sgltool.1 usr/share/man/man5/sgl.5 \
            usr/include/ase2sgl/bundle/bundle_reader.h usr/lib/cmake/ase2sgl/ase2sgl-config.cmake; do
    [[ -e $work/root/$path ]] || fail "$path is not in the package"
done
"$work/root/usr/bin/ase2sgl" "$source/examples/box.ase" "$work/box.sgl" > "$work/run.log" 2>&1 ||
    { cat "$work/run.log"; fail "the packaged ase2sgl"; }
"$build/ase2sgl" "$source/examples/box.ase" "$work/expected.sgl" > /dev/null 2>&1
cmp "$work/box.sgl" "$work/expected.sgl" || fail "the packaged ase2sgl writes other bytes"
if [[ -e $work/root/usr/bin/sgltool ]]; then
    "$work/root/usr/bin/sgltool" check "$work/box.sgl" || fail "the packaged sgltool"
fi
if [[ -d $work/root/usr/lib/python3/dist-packages/ase2sgl ]]; then
    [[ $depends == *python3-numpy* ]] || fail "the Python module needs python3-numpy: $depends"
    PYTHONPATH=$work/root/usr/lib/python3/dist-packages /usr/bin/python3 -c \
        'import ase2sgl, sys; ase2sgl.convert(sys.argv[1], sys.argv[2]); print(len(ase2sgl.read_bundle(sys.argv[2])), "objects")' \
        "$source/examples/box.ase" "$work/box_python.sgl" || fail "the packaged Python module"
    cmp "$work/box_python.sgl" "$work/expected.sgl" || fail "the packaged Python module writes other bytes"
fi
echo "package $(basename "$deb"): programs run from the unpacked root"
