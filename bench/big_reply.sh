#!/usr/bin/env bash
# Printing big replies: `murmela-cli invoke` side by side with
# `socat | jq -S .result` on the same replies from one minimal app, in four
# shapes (a meeting list, one meeting with many segments, meetings with long
# transcripts full of escapes and non-ASCII text, a flat array of small
# objects) at 1, 4, 16 and 32 MiB; then `ping` against one-shot socat.
# Prints hyperfine's means, the CLI's time against jq's and against the
# socket floor (bench/drain_reply.c reading the same reply in 1 MiB pieces
# into nothing), and the CLI's peak memory (/usr/bin/time) against jq's and
# against the reply's size.
#   SIZES="1 4 16 32" SHAPES="list meeting transcripts flat" RUNS=5 [CLI=path] [BASE_CLI=path] bench/big_reply.sh
set -euo pipefail
cd "$(dirname "$0")/.."

for tool in hyperfine jq socat python3 cc /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (apt-get install hyperfine jq socat time)" >&2; exit 1; }
done
# CLI=path measures another build (an older one, say) instead of this tree's.
if [ -z "${CLI:-}" ]; then
  cmake --preset release >/dev/null
  cmake --build --preset release --target murmela-cli >/dev/null
fi
cli=${CLI:-$PWD/build/release/murmela-cli}
# BASE_CLI=path adds that build's time and memory to each row, for a before
# and after in one run.
base=${BASE_CLI:-}

sizes=${SIZES:-1 4 16 32}
shapes=${SHAPES:-list meeting transcripts flat}
work=$(mktemp -d)
trap 'kill "$server" 2>/dev/null; rm -rf "$work"' EXIT
cc -O2 -o "$work/drain_reply" bench/drain_reply.c
replies=()
for shape in $shapes; do for mib in $sizes; do replies+=("$shape:$mib"); done; done

coproc SERVER { exec python3 bench/reply_server.py "$work" "${replies[@]}"; }
server=$SERVER_PID
read -r ready <&"${SERVER[0]}"
[ "$ready" = ready ] || { echo "the bench app did not start" >&2; exit 1; }

export XDG_DATA_HOME=$work
sock=$work/Murmela/cli.sock
request() { printf '{"version":1,"command":"%s","args":{},"detach":false}\n' "$1"; }
# The median of five runs: where huge pages back the reply, its last one is
# taken whole or not at all, so a single run varies by up to 2 MiB.
peak_kib() {
  for _ in 1 2 3 4 5; do /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; done | sort -n | sed -n 3p
}

mean_ms() { jq '.results[0].mean * 1000' "$1"; }
ratio() { jq -n "$1 / $2"; }

printf '%-11s %4s %9s %9s %6s %9s %6s %9s %9s %6s %6s' shape MiB "cli ms" "jq ms" "/jq" \
  "floor ms" "/floor" "cli KiB" "jq KiB" "/jq" "/reply"
[ -n "$base" ] && printf ' %9s %9s' "base ms" "base KiB"
echo
for shape in $shapes; do
  for mib in $sizes; do
    name=bench_${shape}_${mib}
    reply=$work/${shape}_${mib}.json
    request "$name" > "$work/$name.req"
    # The CLI must print exactly what jq prints.
    cmp -s <("$cli" invoke "$name" --no-launch) <(request "$name" | socat - "UNIX-CONNECT:$sock" | jq -S .result) ||
      echo "note: $name prints differently from jq (number layout)" >&2
    if [ -n "$base" ] && ! cmp -s <("$cli" invoke "$name" --no-launch) <("$base" invoke "$name" --no-launch); then
      echo "error: $name prints differently from the base build" >&2
      exit 1
    fi
    hyperfine -N --warmup 1 --runs "${RUNS:-5}" --export-json "$work/t.json" \
      "$cli invoke $name --no-launch" >/dev/null
    hyperfine --warmup 1 --runs "${RUNS:-5}" --export-json "$work/j.json" \
      "printf '%s\n' '$(request "$name")' | socat - UNIX-CONNECT:$sock | jq -S .result" >/dev/null
    # The floor: the same reply taken from the socket and thrown away.
    hyperfine -N --warmup 1 --runs "${RUNS:-5}" --export-json "$work/f.json" \
      "$work/drain_reply $sock $work/$name.req" >/dev/null
    cli_ms=$(mean_ms "$work/t.json")
    jq_ms=$(mean_ms "$work/j.json")
    floor_ms=$(mean_ms "$work/f.json")
    cli_kib=$(peak_kib "$cli" invoke "$name" --no-launch)
    jq_kib=$(peak_kib jq -S .result "$reply")
    reply_kib=$(( $(stat -c %s "$reply") / 1024 ))
    printf '%-11s %4s %9.1f %9.1f %6.2f %9.1f %6.1f %9s %9s %6.2f %6.2f' "$shape" "$mib" \
      "$cli_ms" "$jq_ms" "$(ratio "$cli_ms" "$jq_ms")" "$floor_ms" "$(ratio "$cli_ms" "$floor_ms")" \
      "$cli_kib" "$jq_kib" "$(ratio "$cli_kib" "$jq_kib")" "$(ratio "$cli_kib" "$reply_kib")"
    if [ -n "$base" ]; then
      hyperfine -N --warmup 1 --runs "${RUNS:-5}" --export-json "$work/b.json" \
        "$base invoke $name --no-launch" >/dev/null
      printf ' %9.1f %9s' "$(mean_ms "$work/b.json")" "$(peak_kib "$base" invoke "$name" --no-launch)"
    fi
    echo
  done
done

echo
request ping > "$work/ping.req"
hyperfine -N --warmup 20 --runs "${RUNS_PING:-300}" \
  "$cli ping --no-launch" "socat OPEN:$work/ping.req,rdonly!!STDOUT UNIX-CONNECT:$sock"
