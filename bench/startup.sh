#!/usr/bin/env bash
# Start-up cost: `murmela-cli version` and `help` side by side with the
# system's `true`. Agents call the CLI hundreds of times, so these should be
# indistinguishable from `true`.
set -euo pipefail
cd "$(dirname "$0")/.."

command -v hyperfine >/dev/null || { echo "hyperfine is missing: apt-get install hyperfine" >&2; exit 1; }
cmake --preset release >/dev/null
cmake --build --preset release --target murmela-cli >/dev/null

cli=build/release/murmela-cli
hyperfine --warmup 50 --runs "${RUNS:-1000}" -N \
  "$(command -v true)" "$cli version" "$cli help" "$@"
