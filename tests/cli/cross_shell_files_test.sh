#!/bin/bash
# Configures this source tree as a cross build (CMAKE_SYSTEM_NAME set, so
# the tool built there could not run here) and checks how the manual page
# and completions are made: not at all, with a message, when nothing can
# write them; by QUORLINA_HOST_TOOL, which must be this version, without
# building the target's tool; or by the target's tool under the emulator.
#
# usage: cross_shell_files_test.sh SOURCE_DIR WORK_DIR GENERATOR CC CXX TOOL
set -euo pipefail

src=$1 work=$2 generator=$3 cc=$4 cxx=$5 tool=$6
fail() { echo "FAIL: $*" >&2; exit 1; }
rm -rf "$work"
mkdir -p "$work"

# configure NAME [CMAKE ARGS...]: a fresh cross build in $work/NAME.
configure() {
    local name=$1
    shift
    cmake -S "$src" -B "$work/$name" -G "$generator" -DCMAKE_SYSTEM_NAME=Linux \
        -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" -DQUORLINA_BUILD_TESTS=OFF \
        -DQUORLINA_BUILD_EXAMPLES=OFF -DQUORLINA_BUILD_BENCH=OFF "$@" >"$work/$name.log" 2>&1
}
# The command lines that write the files, as the build tool has them.
writers() { grep -rh -- "write_output.cmake" "$work/$1" --include=build.ninja --include=build.make || true; }

echo "== no host tool, no emulator: skipped, and said so"
configure none || { cat "$work/none.log"; fail "configuring"; }
grep -q "the manual page and shell completions of quorlina are not made" "$work/none.log" ||
    fail "no message about the manual page and completions"
[ -z "$(writers none)" ] || fail "the build still writes them"

echo "== a host tool of another version is refused"
printf '#!/bin/sh\necho "quorlina 0.0.1"\n' >"$work/old-quorlina"
chmod +x "$work/old-quorlina"
if configure old -DQUORLINA_HOST_TOOL="$work/old-quorlina"; then fail "configuring with another version succeeded"; fi
grep -q "is not quorlina" "$work/old.log" || fail "no reason given for refusing the host tool"

echo "== the host tool writes them; the target's tool is not built"
configure host -DQUORLINA_HOST_TOOL="$tool" || { cat "$work/host.log"; fail "configuring"; }
cmake --build "$work/host" --target quorlina_shell_files >"$work/host-build.log" 2>&1 ||
    { cat "$work/host-build.log"; fail "writing the files"; }
[ ! -e "$work/host/cli/quorlina" ] || fail "the target's tool was built"
"$tool" help --man | cmp -s - "$work/host/cli/quorlina.1" || fail "quorlina.1 is not the host tool's manual page"
for shell in bash zsh fish; do
    file=$work/host/cli/quorlina.$shell
    [ "$shell" = zsh ] && file=$work/host/cli/_quorlina
    "$tool" completion "$shell" | cmp -s - "$file" || fail "the $shell completion is not the host tool's"
done

echo "== under an emulator the target's tool writes them"
configure emulated -DCMAKE_CROSSCOMPILING_EMULATOR=/opt/emulator || { cat "$work/emulated.log"; fail "configuring"; }
writers emulated | grep -q -- "-DTOOL=$work/emulated/cli/quorlina -DEMULATOR=/opt/emulator" ||
    fail "the files are not written by the target's tool under the emulator"

rm -rf "$work"
echo "cross_shell_files: all checks passed"
