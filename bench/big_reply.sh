#!/usr/bin/env bash
# Printing big replies: `murmela-cli invoke` side by side with
# `socat | jq -S .result` on the same replies from one minimal app, in three
# shapes (a meeting list, one meeting with many segments, a flat array of
# small objects) at 1, 4, 16 and 32 MiB; then `ping` against one-shot socat.
# Prints hyperfine's means and each side's peak memory (/usr/bin/time -v).
#   SIZES="1 4 16 32" SHAPES="list meeting flat" RUNS=5 bench/big_reply.sh
set -euo pipefail
cd "$(dirname "$0")/.."

for tool in hyperfine jq socat python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (apt-get install hyperfine jq socat time)" >&2; exit 1; }
done
cmake --preset release >/dev/null
cmake --build --preset release --target murmela-cli >/dev/null
cli=$PWD/build/release/murmela-cli

sizes=${SIZES:-1 4 16 32}
shapes=${SHAPES:-list meeting flat}
work=$(mktemp -d)
trap 'kill "$server" 2>/dev/null; rm -rf "$work"' EXIT
replies=()
for shape in $shapes; do for mib in $sizes; do replies+=("$shape:$mib"); done; done

coproc SERVER { exec python3 bench/reply_server.py "$work" "${replies[@]}"; }
server=$SERVER_PID
read -r ready <&"${SERVER[0]}"
[ "$ready" = ready ] || { echo "the bench app did not start" >&2; exit 1; }

export XDG_DATA_HOME=$work
sock=$work/Murmela/cli.sock
request() { printf '{"version":1,"command":"%s","args":{},"detach":false}\n' "$1"; }
peak_kib() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; }

printf '%-8s %4s %12s %12s %7s %12s %12s %7s\n' shape MiB "cli ms" "jq ms" ratio "cli KiB" "jq KiB" ratio
for shape in $shapes; do
  for mib in $sizes; do
    name=bench_${shape}_${mib}
    # The CLI must print exactly what jq prints.
    cmp -s <("$cli" invoke "$name" --no-launch) <(request "$name" | socat - "UNIX-CONNECT:$sock" | jq -S .result) ||
      echo "note: $name prints differently from jq (number layout)" >&2
    hyperfine -N --warmup 1 --runs "${RUNS:-5}" --export-json "$work/t.json" \
      "$cli invoke $name --no-launch" >/dev/null
    hyperfine --warmup 1 --runs "${RUNS:-5}" --export-json "$work/j.json" \
      "printf '%s\n' '$(request "$name")' | socat - UNIX-CONNECT:$sock | jq -S .result" >/dev/null
    cli_ms=$(jq '.results[0].mean * 1000' "$work/t.json")
    jq_ms=$(jq '.results[0].mean * 1000' "$work/j.json")
    cli_kib=$(peak_kib "$cli" invoke "$name" --no-launch)
    jq_kib=$(peak_kib jq -S .result "$work/${shape}_${mib}.json")
    printf '%-8s %4s %12.1f %12.1f %7.2f %12s %12s %7.2f\n' "$shape" "$mib" "$cli_ms" "$jq_ms" \
      "$(jq -n "$cli_ms / $jq_ms")" "$cli_kib" "$jq_kib" "$(jq -n "$cli_kib / $jq_kib")"
  done
done

echo
request ping > "$work/ping.req"
hyperfine -N --warmup 20 --runs "${RUNS_PING:-300}" \
  "$cli ping --no-launch" "socat OPEN:$work/ping.req,rdonly!!STDOUT UNIX-CONNECT:$sock"
