#!/bin/bash
# Builds and runs the C example of docs/cli.md exactly as the text there
# gives it: the C program of "## The C API" and the shell commands that
# install the library, compile the program through pkg-config and run it.
# HOME is a fresh directory and `build` is the build tree, so that the
# commands run unchanged; LD_LIBRARY_PATH is unset, so that the program
# must find the library by what the commands gave it.
#
# usage: run_docs_example_test.sh SOURCE_DIR BUILD_DIR WORK_DIR
set -euo pipefail

source_dir=$1 build_dir=$2 work=$3
doc=$source_dir/docs/cli.md

for program in cc pkg-config; do
    if ! command -v "$program" >/dev/null; then
        echo "$program is not installed: skipping"
        exit 77
    fi
done

fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work/home"
ln -s "$build_dir" "$work/build"

# The first ```c block after the C API heading, and the first ```sh block
# after it.
awk '/^## The C API/ {on = 1} on && /^```c$/ {grab = 1; next} grab && /^```$/ {exit} grab {print}' \
    "$doc" >"$work/list_posts.c"
awk '/^## The C API/ {on = 1} on && /^```sh$/ {grab = 1; next} grab && /^```$/ {exit} grab {print}' \
    "$doc" >"$work/build_it.sh"
[ -s "$work/list_posts.c" ] || fail "no C example in $doc"
grep -q 'pkg-config' "$work/build_it.sh" || fail "no pkg-config commands in $doc"
echo "== the commands of $doc"
cat "$work/build_it.sh"

unset LD_LIBRARY_PATH PKG_CONFIG_PATH
export PKG_CONFIG_LIBDIR=/nonexistent   # never a system's quorlina.pc
(cd "$work" && HOME=$work/home bash -euo pipefail build_it.sh) >"$work/out.txt" 2>"$work/err.txt" ||
    { cat "$work/out.txt" "$work/err.txt"; fail "the commands of the example failed"; }
cat "$work/out.txt"

# After what cmake --install printed, the program listed the new site's
# posts (none) and made its note.
tail -n 2 "$work/out.txt" >"$work/program.txt"
notes=("$work"/my-site/content/notes/*.md)
[ ${#notes[@]} = 1 ] && [ -f "${notes[0]}" ] || fail "the example made no note"
printf '[]\ncreated my-site/content/notes/%s\n' "${notes[0]##*/}" | cmp -s - "$work/program.txt" ||
    fail "the example printed: $(cat "$work/program.txt")"
grep -qx 'Wrote the C example.' "${notes[0]}" || fail "the note does not hold the example's text"
# And it runs on its own, wherever it is started from.
(cd / && "$work/list_posts" "$work/my-site" >/dev/null) || fail "the built program does not run by itself"

rm -rf "$work"
echo "docs_c_example: all checks passed"
