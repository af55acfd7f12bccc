#!/usr/bin/env bash
# Builds and runs every test. The release build (optimised, statically linked,
# warnings as errors) makes the programs and checks their install, Debian
# package and MCP client interop; the test programs run in the build with
# AddressSanitizer and UndefinedBehaviorSanitizer, which watch every line
# they reach. scripts/stress_test.sh runs the whole suite in both builds.
set -euo pipefail
cd "$(dirname "$0")/.."

# Tests write only inside their own temporary folders: the tree must look
# the same after the run as before it (build output is ignored).
tree_state() { git status --porcelain --untracked-files=all 2>/dev/null || true; }
before=$(tree_state)

scripts/setup.sh
outside='install|interop'
echo "== release"
cmake --preset release -DMURMELA_TESTS=OFF >/dev/null
cmake --build --preset release
ctest --preset release -j "$(nproc)" -L "$outside"
echo "== sanitize"
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize
ctest --preset sanitize -j "$(nproc)" -LE "$outside"

after=$(tree_state)
if [ "$after" != "$before" ]; then
  echo "The tests changed the tree:" >&2
  diff <(echo "$before") <(echo "$after") >&2 || true
  exit 1
fi
