#!/bin/bash
# Installs the build into a fresh prefix and the Python package into a fresh
# virtual environment, then runs a program that finds the installed library
# the way a user's would: no QUORLINA_LIB, no source tree, only the
# prefix's pkg-config directory.
#
# usage: run_python_install_test.sh BUILD_DIR WORK_DIR LIBDIR PYTHON SOURCE_DIR
set -euo pipefail

build_dir=$1 work=$2 libdir=$3 python=$4 source_dir=$5

fail() { echo "FAIL: $*" >&2; exit 1; }
if ! command -v pkg-config >/dev/null; then
    echo "pkg-config is not installed (apt-get install pkg-config): skipping"
    exit 77
fi

rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix

echo "== cmake --install into $prefix"
cmake --install "$build_dir" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; fail "cmake --install"; }

# Building offline with --no-build-isolation takes setuptools from the
# interpreter, and setuptools before 70.1 also needs the wheel package. Use
# the first interpreter that has what it takes: CMake's, else Debian's.
builder=
for candidate in "$python" /usr/bin/python3; do
    if "$candidate" -c 'import ensurepip, venv, setuptools
v = tuple(int(x) for x in setuptools.__version__.split(".")[:2])
if v < (70, 1):
    import wheel' 2>/dev/null; then
        builder=$candidate
        break
    fi
done
if [ -z "$builder" ]; then
    echo "no python3 with venv, setuptools and wheel (apt-get install python3-venv python3-setuptools python3-wheel): skipping"
    exit 77
fi

echo "== $builder -m venv --system-site-packages"
"$builder" -m venv --system-site-packages "$work/venv" || fail "cannot make a virtual environment"

echo "== pip install --no-build-isolation bindings/python"
# From a copy: setuptools writes build/ and *.egg-info next to the project.
cp -r "$source_dir/bindings/python" "$work/package"
"$work/venv/bin/python" -m pip install --no-build-isolation --no-index --disable-pip-version-check --quiet \
    "$work/package" >"$work/pip.log" 2>&1 || { cat "$work/pip.log"; fail "pip install"; }
rm -rf "$work/package"

echo "== a program against the installed library"
mkdir "$work/run"
cd "$work/run"
env -u QUORLINA_LIB -u PYTHONPATH PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig" \
    "$work/venv/bin/python" - "$prefix" "$work/venv" <<'PROGRAM' || fail "the program failed"
import datetime
import os
import sys

import quorlina
from quorlina import _native

prefix, venv = (os.path.realpath(p) for p in sys.argv[1:3])
package = os.path.dirname(os.path.realpath(quorlina.__file__))
library = os.path.realpath(_native.lib._name)
assert package.startswith(venv + os.sep), "quorlina imported from " + package
assert library.startswith(prefix + os.sep), "the library loaded is " + library
assert os.path.isfile(os.path.join(package, "py.typed")), "py.typed is not installed"

site = quorlina.Site("site")
site.posts.create("hello", "Hello", "First", tags=["a", "b"], date=datetime.date(2024, 3, 9))
post = site.posts.list()[0]
assert post == quorlina.Post(datetime.date(2024, 3, 9), "hello", "Hello", ("a", "b")), post
try:
    site.posts.read("missing")
    raise AssertionError("reading a missing post did not fail")
except LookupError as e:
    assert isinstance(e, quorlina.NotFoundError) and e.code == 3 and isinstance(e.detail, str), repr(e)
print("loaded", library, "from", package)
PROGRAM

cd /
rm -rf "$work"
echo "python install: all checks passed"
