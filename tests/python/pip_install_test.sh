#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# `pip install .` as a user runs it: into a plain venv of Debian's python3,
# offline (--no-index), through the in-tree build backend; the installed package
# imports, names lint among its public names, and converts to the program's bytes.
# Usage: pip_install_test.sh SOURCE_DIR ASE2SGL_EXECUTABLE    (exit 77: skipped)
set -euo pipefail
source=$1 program=$2
python=/usr/bin/python3
[[ -x $python ]] || { echo "no /usr/bin/python3: skipped"; exit 77; }
"$python" -c "import ensurepip" 2> /dev/null || { echo "python3-venv is not installed: skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

"$python" -m venv "$work/venv" > "$work/venv.log" 2>&1 || { cat "$work/venv.log"; fail "python3 -m venv"; }
# A copy of the tree: the build must not depend on the source folder's build/.
mkdir "$work/src"
tar -C "$source" --exclude=./build --exclude='./bazel-*' --exclude=./.git -cf - . | tar -C "$work/src" -xf -
# The build's temporary folder is watched: a wheel built leaves nothing there.
mkdir "$work/tmp"
TMPDIR="$work/tmp" "$work/venv/bin/pip" install --no-index "$work/src" > "$work/pip.log" 2>&1 ||
    { tail -n 40 "$work/pip.log"; fail "pip install ."; }
leftover=$(find "$work/tmp" -mindepth 1 -maxdepth 1 -name 'ase2sgl-*')
[[ -z $leftover ]] || fail "the build left $leftover in the temporary folder"
cd "$work"
"$work/venv/bin/python" - "$source/examples/box.ase" "$work/box.sgl" <<'PY' || fail "the installed package"
import sys
import ase2sgl
assert "lint" in ase2sgl.__all__, ase2sgl.__all__
assert ase2sgl.__file__.startswith(sys.prefix), ase2sgl.__file__
print(ase2sgl.convert(sys.argv[1], sys.argv[2]))
PY
"$program" "$source/examples/box.ase" "$work/expected.sgl" > /dev/null 2>&1
cmp "$work/box.sgl" "$work/expected.sgl" || fail "the installed package writes other bytes"
echo "pip install . (offline, plain venv): imports, converts to the program's bytes"
