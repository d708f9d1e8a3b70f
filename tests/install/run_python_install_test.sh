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

# The package's own build backend needs nothing but the standard library,
# so it installs offline into a fresh virtual environment (no system site
# packages, no setuptools or wheel to lean on) with every interpreter a user
# may have: CMake's and Debian's.
version=$(sed -n 's/^#define QUORLINA_VERSION "\(.*\)"$/\1/p' "$source_dir/include/quorlina/quorlina.h")
[ -n "$version" ] || fail "no QUORLINA_VERSION in the header"
interpreters=()
for candidate in "$python" /usr/bin/python3; do
    [ -x "$(command -v "$candidate")" ] || continue
    real=$(readlink -f "$(command -v "$candidate")")
    case " ${interpreters[*]-} " in *" $real "*) continue ;; esac
    if "$candidate" -c 'import ensurepip, venv' 2>/dev/null; then
        interpreters+=("$real")
    else
        echo "$candidate has no venv/ensurepip (apt-get install python3-venv): not tried"
    fi
done
[ ${#interpreters[@]} -gt 0 ] || { echo "no python3 with venv: skipping"; exit 77; }

n=0
for interpreter in "${interpreters[@]}"; do
n=$((n + 1))
venv=$work/venv$n
echo "== $interpreter -m venv (fresh, without system site packages)"
"$interpreter" -m venv "$venv" || fail "cannot make a virtual environment with $interpreter"
"$venv/bin/python" -c 'import wheel' 2>/dev/null && fail "the fresh environment of $interpreter has wheel"

echo "== pip install --no-build-isolation bindings/python"
"$venv/bin/python" -m pip install --no-build-isolation --no-index --disable-pip-version-check --quiet \
    "$source_dir/bindings/python" >"$work/pip$n.log" 2>&1 || { cat "$work/pip$n.log"; fail "pip install with $interpreter"; }
# The build leaves nothing behind in the source tree.
leftover=$(cd "$source_dir/bindings/python" && ls -d build dist ./*.egg-info 2>/dev/null || true)
[ -z "$leftover" ] || fail "pip install left $leftover in bindings/python"
echo "== a program against the installed library"
rm -rf "$work/run"
mkdir "$work/run"
cd "$work/run"
env -u QUORLINA_LIB -u PYTHONPATH PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig" \
    "$venv/bin/python" - "$prefix" "$venv" "$version" <<'PROGRAM' || fail "the program failed with $interpreter"
import datetime
import os
import sys

import quorlina
from quorlina import _native

prefix, venv = (os.path.realpath(p) for p in sys.argv[1:3])
assert quorlina.__version__ == sys.argv[3], "__version__ is %r, the header says %r" % (quorlina.__version__, sys.argv[3])
package = os.path.dirname(os.path.realpath(quorlina.__file__))
library = os.path.realpath(_native.lib._name)
assert package.startswith(venv + os.sep), "quorlina imported from " + package
assert library.startswith(prefix + os.sep), "the library loaded is " + library
assert os.path.isfile(os.path.join(package, "py.typed")), "py.typed is not installed"

site = quorlina.Site("site")
site.posts.create("hello", "Hello", "First", tags=["a", "b"], date=datetime.date(2024, 3, 9))
post = site.posts.list()[0]
assert post == quorlina.Post(datetime.date(2024, 3, 9), "hello", "Hello", ("a", "b"), "First",
                             path=os.path.join("site", "content", "blog", "2024", "03", "09", "hello.md"),
                             date_key="2024-03-09"), post
try:
    site.posts.read("missing")
    raise AssertionError("reading a missing post did not fail")
except LookupError as e:
    assert isinstance(e, quorlina.NotFoundError) and e.code == 3 and isinstance(e.detail, str), repr(e)
print("loaded", library, "from", package, "version", quorlina.__version__)
PROGRAM
cd "$work"
done

cd /
rm -rf "$work"
echo "python install: all checks passed"
