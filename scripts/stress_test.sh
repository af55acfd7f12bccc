#!/usr/bin/env bash
# The whole suite, 3 times in a row, while every core is kept busy: the
# release build, then the sanitize build (tests included in both). Not for
# CI (it takes long); run it before trusting a change to the tests or the
# stand-in.
#   scripts/stress_test.sh [REPEATS]    default 3; PRESETS="sanitize" for one build
set -euo pipefail
cd "$(dirname "$0")/.."

repeats=${1:-3}
scripts/setup.sh stress
command -v stress-ng >/dev/null || { echo "stress-ng is missing: scripts/setup.sh stress" >&2; exit 1; }

stress-ng --cpu "$(( $(nproc) * 2 ))" --quiet &
load=$!
trap 'kill "$load" 2>/dev/null; wait "$load" 2>/dev/null || true' EXIT

for preset in ${PRESETS:-release sanitize}; do
  echo "== $preset, $repeats times under load"
  cmake --preset "$preset" -DMURMELA_TESTS=ON >/dev/null
  cmake --build --preset "$preset" >/dev/null
  start=$(date +%s)
  ctest --preset "$preset" -j "$(nproc)" --repeat "until-fail:$repeats" --output-on-failure >"build/$preset/stress.log" 2>&1 ||
    { tail -n 60 "build/$preset/stress.log"; exit 1; }
  grep -E "tests passed" "build/$preset/stress.log" | tail -n 1
  echo "   $(( $(date +%s) - start )) s"
done
