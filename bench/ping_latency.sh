#!/usr/bin/env bash
# How long the stand-in takes to answer `ping`: idle, and while a PDF of
# 20 MB of notes is exported, a long import is read and kept, a join of
# 1,000 parts runs, and all three at once. No request should wait for
# another's slow work: figures near idle ones are the goal. Prints p50, p99
# and max per scenario.
#   bench/ping_latency.sh [IMPORT_MINUTES]    default 30; PRESET=dev for the debug build
set -euo pipefail
cd "$(dirname "$0")/.."

command -v python3 >/dev/null || { echo "python3 is missing: apt-get install python3" >&2; exit 1; }
preset=${PRESET:-release}
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target murmela-stand-in >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 bench/ping_latency.py "$PWD/build/$preset/murmela" "$work" "${1:-30}"
