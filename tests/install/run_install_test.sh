#!/bin/bash
# Installs the build tree into a fresh prefix and builds a small C program
# against that prefix twice: through pkg-config and through find_package.
#
# usage: run_install_test.sh BUILD_DIR WORK_DIR LIBDIR CC CXX GENERATOR CONFIG SAN_FLAGS WITH_CLI
#
# In sanitizer builds the consumer is instrumented too (SAN_FLAGS) and linked
# by the C++ driver, which brings the C++ parts of the sanitizer runtime that
# the library needs.
set -euo pipefail

build_dir=$1 work=$2 libdir=$3 cc=$4 cxx=$5 generator=$6 config=$7 san_flags=$8 with_cli=$9
here=$(cd "$(dirname "$0")" && pwd)

if ! command -v pkg-config >/dev/null; then
    echo "pkg-config is not installed (apt-get install pkg-config): skipping"
    exit 77
fi

rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix

step() { echo "== $*"; }
fail() { echo "FAIL: $*" >&2; exit 1; }

step "cmake --install into $prefix"
cmake --install "$build_dir" --prefix "$prefix" ${config:+--config "$config"} >"$work/install.log" ||
    { cat "$work/install.log"; fail "cmake --install"; }

step "installed files"
lib=$prefix/$libdir
tool= tool_files=
if [ "$with_cli" = 1 ]; then
    tool=bin/quorlina
    tool_files="share/man/man1/quorlina.1 share/bash-completion/completions/quorlina
                share/zsh/site-functions/_quorlina share/fish/vendor_completions.d/quorlina.fish"
fi
# shellcheck disable=SC2086
for f in include/quorlina/quorlina.h $tool $tool_files "$libdir/pkgconfig/quorlina.pc" \
         "$libdir/cmake/quorlina/quorlinaConfig.cmake" "$libdir/cmake/quorlina/quorlinaConfigVersion.cmake" \
         "$libdir/cmake/quorlina/quorlinaTargets.cmake"; do
    [ -f "$prefix/$f" ] || fail "missing $f"
done
# The development link points at the SONAME link, which points at the file.
[ -L "$lib/libquorlina_ffi.so" ] || fail "libquorlina_ffi.so is not a symbolic link"
[ "$(readlink "$lib/libquorlina_ffi.so")" = libquorlina_ffi.so.0 ] || fail "libquorlina_ffi.so does not point at the SONAME"
[ -L "$lib/libquorlina_ffi.so.0" ] || fail "libquorlina_ffi.so.0 is not a symbolic link"
real=$(readlink "$lib/libquorlina_ffi.so.0")
[[ $real == libquorlina_ffi.so.0.* ]] || fail "libquorlina_ffi.so.0 points at $real"
[ -f "$lib/$real" ] && [ ! -L "$lib/$real" ] || fail "$real is not a regular file"
# The SONAME and run path are read from the files: readelf comes with the
# compiler's binutils, so its absence is a broken machine, not a skip.
command -v readelf >/dev/null || fail "readelf is missing (apt-get install binutils)"
readelf -d "$lib/$real" | grep -q 'SONAME.*\[libquorlina_ffi.so.0\]' || fail "SONAME is not libquorlina_ffi.so.0"

version=$(sed -n 's/^#define QUORLINA_VERSION "\(.*\)"$/\1/p' "$prefix/include/quorlina/quorlina.h")
if [ -n "$tool" ]; then
    step "installed tool"
    # It finds the library through its run path, relative to itself.
    readelf -d "$prefix/bin/quorlina" | grep -q 'R.*PATH.*\[\$ORIGIN/\.\./' || fail "bin/quorlina has no \$ORIGIN run path"
    printed=$("$prefix/bin/quorlina" --version)
    [ "$printed" = "quorlina $version" ] || fail "quorlina --version printed '$printed'"
    # The installed manual page and completion are the tool's own output.
    "$prefix/bin/quorlina" help --man | cmp -s - "$prefix/share/man/man1/quorlina.1" || fail "quorlina.1 is stale"
    "$prefix/bin/quorlina" completion bash | cmp -s - "$prefix/share/bash-completion/completions/quorlina" ||
        fail "the bash completion is stale"
fi

# A text file: its last line ends with a line feed.
[ -z "$(tail -c 1 "$lib/pkgconfig/quorlina.pc")" ] || fail "quorlina.pc does not end with a line feed"

step "consumer through pkg-config"
export PKG_CONFIG_LIBDIR=$lib/pkgconfig   # only the new prefix, never the system's
unset PKG_CONFIG_PATH
[ "$(pkg-config --modversion quorlina)" = "$version" ] || fail "pkg-config --modversion"
link_driver=$cc
[ -n "$san_flags" ] && link_driver=$cxx
# shellcheck disable=SC2046,SC2086
"$cc" $san_flags -std=c99 -Wall -Wextra -Wpedantic -Werror $(pkg-config --cflags quorlina) \
    -c "$here/consumer.c" -o "$work/consumer.o"
# shellcheck disable=SC2046,SC2086
"$link_driver" $san_flags "$work/consumer.o" $(pkg-config --libs quorlina) -o "$work/consumer_pkgconfig"
mkdir "$work/site-pkgconfig"
LD_LIBRARY_PATH=$lib "$work/consumer_pkgconfig" "$work/site-pkgconfig"
[ -f "$work/site-pkgconfig/content/snippets/1700000000.py" ] || fail "the pkg-config consumer wrote no snippet"

step "consumer through find_package"
cmake -S "$here/consumer" -B "$work/consumer-build" -G "$generator" \
    -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" -DLINK_WITH_CXX="${san_flags:+ON}" \
    -DCMAKE_PREFIX_PATH="$prefix" -DEXPECTED_PREFIX="$prefix" -DEXPECTED_VERSION="$version" \
    -DCMAKE_C_FLAGS="$san_flags" -DCMAKE_EXE_LINKER_FLAGS="$san_flags" \
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF >"$work/consumer-configure.log" ||
    { cat "$work/consumer-configure.log"; fail "configuring the find_package consumer"; }
cmake --build "$work/consumer-build" >"$work/consumer-build.log" ||
    { cat "$work/consumer-build.log"; fail "building the find_package consumer"; }
mkdir "$work/site-cmake"
# No LD_LIBRARY_PATH: the imported target gives the build its run path.
"$work/consumer-build/quorlina_consumer" "$work/site-cmake"

if [ -n "$tool" ]; then
    step "installed tool lists the consumer's snippet"
    listing=$("$prefix/bin/quorlina" --root "$work/site-cmake" snippet list)
    grep -q '^1700000000  2023-11-14  sort.py   Sort a list$' <<<"$listing" || fail "unexpected listing: $listing"
fi

rm -rf "$work"
echo "install: all checks passed"
