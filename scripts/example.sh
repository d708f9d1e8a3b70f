#!/usr/bin/env bash
# Builds the library and the quorlina tool, then lists the bundled example
# site's posts, notes and snippets with it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --build
cmake --preset default -DQUORLINA_BUILD_TESTS=OFF >/dev/null
cmake --build --preset default -j 2 --target quorlina >/dev/null

quorlina=build/default/cli/quorlina
for family in post note snippet; do
  echo "\$ quorlina --root examples/site $family list"
  "$quorlina" --root examples/site "$family" list
  echo
done
