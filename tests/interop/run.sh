#!/usr/bin/env bash
# Installs the pinned MCP client library into the build folder and runs the
# interop check against the built CLI.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
cli="$1"
work="$2"
mkdir -p "$work"
cp "$here/package.json" "$here/package-lock.json" "$here/mcp_client.mjs" "$work/"
cd "$work"
[ -d node_modules/@modelcontextprotocol/sdk ] || npm ci --no-audit --no-fund --silent
node mcp_client.mjs "$cli"
