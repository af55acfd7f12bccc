#!/usr/bin/env bash
# Wall time of clean builds, each from an empty build folder and without
# ccache. A figure means most when nothing else builds beside it: on a shared
# machine, wrap the run in the lock the others take
# (`flock /tmp/some.lock bench/build_time.sh`).
#   bench/build_time.sh                 everything in dev (tests included), then
#                                       the CLI and the stand-in alone in release
#   bench/build_time.sh PRESET [TARGET...]   one build: all of PRESET, or the targets
# On a shared machine a figure means little without the load, so `uptime` is
# printed beside each.
set -euo pipefail
cd "$(dirname "$0")/.."

export CCACHE_DISABLE=1

measure() {
  local preset=$1 folder=build/bench-$1
  shift
  local targets=()
  for target in "$@"; do targets+=(--target "$target"); done
  rm -rf "$folder"
  local load start end
  load=$(uptime)
  start=$(date +%s.%N)
  cmake --preset "$preset" -B "$folder" >/dev/null
  cmake --build "$folder" ${targets[@]+"${targets[@]}"} >/dev/null
  end=$(date +%s.%N)
  printf '%-8s %-32s %6.1f s wall on %s cores | before: %s\n' "$preset" "${*:-everything}" \
    "$(echo "$end - $start" | bc)" "$(nproc)" "$load"
  rm -rf "$folder"
}

if [ $# -gt 0 ]; then
  measure "$@"
else
  measure dev
  measure release murmela-cli murmela-stand-in
fi
