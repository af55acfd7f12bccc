#pragma once

namespace testing_support {

// Stands in for Claude Code's `claude` command as the CLI relies on it:
// `mcp get murmela` exits 0 only when a server is registered and then shows
// its command; `mcp add` and `mcp remove` change the registration (add fails
// with $CLAUDE_FAIL_ADD on stderr when that is set). Every call is logged
// with its working directory to claude.log beside the script. With
// $CLAUDE_LOCK_PROBE set to a lock file, each call also asks, without
// waiting, for a shared lock on it, which only an exclusive lock keeps out,
// and logs "<subcommand> held|free|error" to lock.log.
inline const char* const kFakeClaude = R"SH(#!/bin/sh
dir="$(dirname "$0")"
echo "$PWD|$*" >> "$dir/claude.log"
if [ -n "$CLAUDE_LOCK_PROBE" ]; then
  flock --shared --nonblock --conflict-exit-code 75 "$CLAUDE_LOCK_PROBE" true
  case $? in 0) probe=free;; 75) probe=held;; *) probe=error;; esac
  echo "$2 $probe" >> "$dir/lock.log"
fi
case "$1 $2" in
  "mcp get")
    if [ -f "$dir/registry" ]; then cat "$dir/registry"; exit 0; fi
    echo "No MCP server found with name: $3" >&2; exit 1;;
  "mcp add")
    if [ -n "$CLAUDE_FAIL_ADD" ]; then printf '%s\n' "$CLAUDE_FAIL_ADD" >&2; exit 1; fi
    printf 'murmela:\n  Scope: User config\n  Command: %s\n  Args: %s\n' "$7" "$8" > "$dir/registry"; exit 0;;
  "mcp remove")
    rm -f "$dir/registry"; exit 0;;
esac
exit 2
)SH";

}  // namespace testing_support
