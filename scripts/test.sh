#!/usr/bin/env bash
# Builds and runs every test: the release build, then a build with
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

# Tests write only inside their own temporary folders: the tree must look
# the same after the run as before it (build output is ignored).
tree_state() { git status --porcelain --untracked-files=all 2>/dev/null || true; }
before=$(tree_state)

scripts/setup.sh
for preset in release sanitize; do
  echo "== $preset"
  cmake --preset "$preset" -DMURMELA_TESTS=ON >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" -j "$(nproc)"
done

after=$(tree_state)
if [ "$after" != "$before" ]; then
  echo "The tests changed the tree:" >&2
  diff <(echo "$before") <(echo "$after") >&2 || true
  exit 1
fi
