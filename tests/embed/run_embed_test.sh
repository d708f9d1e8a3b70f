#!/bin/bash
# Configures, builds and runs a C application that includes this source tree
# with add_subdirectory(<tree> quorlina) and links quorlina::quorlina.
# Included that way the project builds only the library: the configure runs
# with GoogleTest and CLI11 disabled, and nothing of them, of the tests or of
# the tool may show in the application's cache, nor may the library add
# install rules to the application's.
#
# usage: run_embed_test.sh SOURCE_DIR WORK_DIR CC CXX GENERATOR
set -euo pipefail

src=$1 work=$2 cc=$3 cxx=$4 generator=$5
here=$(cd "$(dirname "$0")" && pwd)

rm -rf "$work"
mkdir -p "$work"
build=$work/build
cache=$build/CMakeCache.txt

step() { echo "== $*"; }
fail() { echo "FAIL: $*" >&2; exit 1; }

step "configure the application"
cmake -S "$here/consumer" -B "$build" -G "$generator" \
    -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" -DQUORLINA_SOURCE_DIR="$src" \
    -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_CLI11=ON \
    -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON >"$work/configure.log" ||
    { cat "$work/configure.log"; fail "configuring the application"; }

step "only the library was configured"
# The lines that disable the packages are the application's own.
if grep -v '^//' "$cache" | grep -iE 'gtest|cli11|benchmark' | grep -v '^CMAKE_DISABLE_FIND_PACKAGE_'; then
    fail "the cache above shows a search for GoogleTest, CLI11 or Google Benchmark"
fi
for opt in BUILD_TESTS BUILD_CLI BUILD_EXAMPLES BUILD_BENCH BUILD_FUZZ INSTALL; do
    grep -qx "QUORLINA_$opt:BOOL=OFF" "$cache" || fail "QUORLINA_$opt is not OFF"
done
# The build type stays the application's.
if grep -E '^CMAKE_BUILD_TYPE:[A-Z]+=.' "$cache"; then fail "the library set the build type"; fi

step "build"
cmake --build "$build" -j 2 >"$work/build.log" || { cat "$work/build.log"; fail "building the application"; }
[ ! -e "$build/quorlina/cli" ] && [ ! -e "$build/quorlina/tests" ] || fail "tests or tool were built"

step "the library adds no install rules to the application's"
cmake --install "$build" --prefix "$work/prefix" >"$work/install.log" ||
    { cat "$work/install.log"; fail "installing the application"; }
if [ -e "$work/prefix" ] && [ -n "$(find "$work/prefix" -type f)" ]; then
    find "$work/prefix" -type f; fail "installing the application installed the files above"
fi

step "an embedded tool adds no install rules either"
# Configured only: the generated install scripts tell.
cmake -S "$here/consumer" -B "$work/with-cli" -G "$generator" \
    -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" -DQUORLINA_SOURCE_DIR="$src" \
    -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DQUORLINA_BUILD_CLI=ON >"$work/configure-cli.log" ||
    { cat "$work/configure-cli.log"; fail "configuring the application with the tool"; }
if grep -l 'file(INSTALL' -r "$work/with-cli" --include=cmake_install.cmake; then
    fail "the install scripts above install files of the library or the tool"
fi

step "run"
mkdir "$work/site"
"$build/quorlina_consumer" "$work/site"
[ -f "$work/site/content/snippets/1700000000.py" ] || fail "the application wrote no snippet"

rm -rf "$work"
echo "embed: all checks passed"
