#!/usr/bin/env bash
# `__complete ids` and `__complete keys` on the largest lists a reply can
# carry (about 2 million meeting IDs, 2.8 million setting keys in 30 MiB),
# from one minimal app: the time of each and the words offered.
#   RUNS=3 [CLI=path] bench/complete_words.sh
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${CLI:-}" ]; then
  cmake --preset release >/dev/null
  cmake --build --preset release --target murmela-cli >/dev/null
fi
cli=${CLI:-$PWD/build/release/murmela-cli}
runs=${RUNS:-3}
work=$(mktemp -d)
trap 'kill "$server" 2>/dev/null; rm -rf "$work"' EXIT

coproc SERVER { exec python3 bench/reply_server.py "$work" list_meetings=ids:30 get_state=keys:30; }
server=$SERVER_PID
read -r ready <&"${SERVER[0]}"
[ "$ready" = ready ] || { echo "the bench app did not start" >&2; exit 1; }
export XDG_DATA_HOME=$work

for what in ids keys; do
  for run in $(seq "$runs"); do
    start=$(date +%s.%N)
    words=$("$cli" __complete "$what" | wc -l) || true
    end=$(date +%s.%N)
    printf '%s run %s: %.2f s, %s words\n' "$what" "$run" "$(echo "$end - $start" | bc)" "$words"
  done
done
