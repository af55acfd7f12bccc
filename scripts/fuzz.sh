#!/usr/bin/env bash
# Fuzzes every reader of outside JSON (reply envelope, MCP line, agent config
# members) and the printer, then the Codex config editor and the line reader
# of the MCP server's input, with libFuzzer
# under ASan and UBSan.
#   scripts/fuzz.sh [RUNS]        default 10,000,000 executions of each
# Set FUZZ_SECONDS to bound each target's run by time instead.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh fuzz
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target json_fuzz codex_fuzz line_reader_fuzz

corpus=$(mktemp -d)
toml_corpus=$(mktemp -d)
line_corpus=$(mktemp -d)
trap 'rm -rf "$corpus" "$toml_corpus" "$line_corpus"' EXIT
printf '%s' '{"ok":true,"result":{"b":[1,2.5e-7,"x\u00e4\ud800"],"a":null}}' >"$corpus/reply"
printf '%s' '[true,{"a":1},null]' >"$corpus/array_reply"
printf '%s' '{"jsonrpc":"2.0","id":123456789012345678901234567890,"method":"initialize","params":{"protocolVersion":"x"}}' >"$corpus/mcp"
printf '{\n  "mcpServers": {\n    "murmela": {"command": "/x", "args": ["mcp"]}\n  },\n  "n": 1e400\n}\n' >"$corpus/config"
printf 'model = "o3"\n\n[mcp_servers.gh]\ncommand = "gh"\n' >"$toml_corpus/other_server"
printf '[mcp_servers.murmela]\n# Added by Murmela: points agents to murmela-cli\ncommand = "/old/murmela-cli"\nargs = ["mcp"]\n\n[mcp_servers.murmela.env]\nK = "v"\n[profiles.a]\nx = """\n[mcp_servers.murmela]\n"""\n' >"$toml_corpus/ours"

# The first byte is the line limit, the second how the rest is cut into reads.
printf '\x08\x03{"id":1}\nlonger than eight\r\n\n\nlast' >"$line_corpus/lines"

limit=(-runs="${1:-10000000}")
[ -n "${FUZZ_SECONDS:-}" ] && limit=(-max_total_time="$FUZZ_SECONDS")
# Inputs that crash or run slowly are kept in the build folder, not the tree.
artifacts=build/fuzz/artifacts/
mkdir -p "$artifacts"
build/fuzz/json_fuzz "${limit[@]}" -max_len=4096 -print_final_stats=1 -artifact_prefix="$artifacts" "$corpus"
build/fuzz/codex_fuzz "${limit[@]}" -max_len=2048 -print_final_stats=1 -artifact_prefix="$artifacts" "$toml_corpus"
build/fuzz/line_reader_fuzz "${limit[@]}" -max_len=4096 -print_final_stats=1 -artifact_prefix="$artifacts" "$line_corpus"
