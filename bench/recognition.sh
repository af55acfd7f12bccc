#!/usr/bin/env bash
# The stand-in's speech recognition against the clock: a minute of flite
# speech is imported and transcribed, and the real-time factor (seconds of
# work per second of audio; below 1 is faster than real time) is printed.
#   bench/recognition.sh [RUNS]    default 3
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh  # flite among the rest
cmake --preset release >/dev/null
cmake --build --preset release --target murmela-cli murmela-stand-in >/dev/null
cli=$PWD/build/release/murmela-cli
work=$(mktemp -d)
export XDG_DATA_HOME=$work/data MURMELA_STAND_IN_STEP_MS=0
trap '"$cli" quit --no-launch >/dev/null 2>&1 || true; rm -rf "$work"' EXIT

# About a minute of speech: a paragraph, said five times over.
paragraph="Thanks for joining. The quarterly budget review moves to Friday morning, and we \
need the first drop before January. Please send the summary to the whole team today, and keep \
the scope as agreed. "
flite -voice slt -o "$work/minute.wav" -t "$paragraph$paragraph$paragraph$paragraph$paragraph"

"$cli" ping >/dev/null  # starts the stand-in
imported=$("$cli" meetings import "$work/minute.wav")
id=$(sed -n 's/^  "id": "\(.*\)",$/\1/p' <<<"$imported")
seconds=$(sed -n 's/^  "durationSeconds": \([0-9.]*\),$/\1/p' <<<"$imported")
"$cli" meetings wait "$id" >/dev/null
# A blocking transcribe: the stand-in answers within 20 ms of the end.
for run in $(seq 1 "${1:-3}"); do
  start=$(date +%s.%N)
  "$cli" meetings transcribe "$id" >/dev/null
  end=$(date +%s.%N)
  awk -v a="$seconds" -v s="$start" -v e="$end" -v r="$run" \
    'BEGIN { printf "run %d: %.1f s of audio in %.2f s: real-time factor %.3f\n", r, a, e - s, (e - s) / a }'
done
"$cli" meetings transcript latest | head -c 300; echo
