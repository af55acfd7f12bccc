#!/usr/bin/env bash
# The main job: set up, build the release, and drive the stand-in app through
# murmela-cli the way a person or an agent would.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release --target murmela-cli murmela-stand-in

cli=build/release/murmela-cli
step() { printf '\n$ murmela-cli %s\n' "$*"; "$cli" "$@"; }

step version
step status            # starts the stand-in app beside the CLI when it is not running
step meetings list
step meetings transcript 3f1c
step meetings join 8a4b2 8a4be --title "Client call"
step meetings transcribe latest        # waits for the (stand-in) recognition
step meetings rename-speaker latest "Other speakers" "Ana Pike"
step meetings transcript latest
step quit
