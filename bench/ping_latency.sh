#!/usr/bin/env bash
# How long the stand-in takes to answer `ping`: idle, and while a PDF of
# 20 MB of notes is exported, a long import is read and kept, a join of
# 1,000 parts runs, and all three at once; and, when named, while a 200 MiB
# library is edited (edit), 200 requests wait for a job (waits), 128 or 140
# connections send nothing (silent128, silent140), and how long a 48 MiB
# request line takes (longline). No request should wait for another's slow
# work: figures near idle ones are the goal. Prints p50, p99 and max per
# scenario.
#   bench/ping_latency.sh [IMPORT_MINUTES [SCENARIO...]]    default 30 and
#     idle pdf import join all; PRESET=dev for the debug build, STAND_IN=path
#     to measure a stand-in built elsewhere
set -euo pipefail
cd "$(dirname "$0")/.."

command -v python3 >/dev/null || { echo "python3 is missing: apt-get install python3" >&2; exit 1; }
preset=${PRESET:-release}
stand_in=${STAND_IN:-}
if [ -z "$stand_in" ]; then
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target murmela-stand-in >/dev/null
  stand_in=$PWD/build/$preset/murmela
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 bench/ping_latency.py "$stand_in" "$work" "${1:-30}" "${@:2}"
