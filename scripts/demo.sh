#!/usr/bin/env bash
# The main job: set up, build the release, and drive the stand-in app through
# murmela-cli the way a person or an agent would. It runs against a data
# folder of its own, so the user's real one is never touched, and quits the
# stand-in it started.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release --target murmela-cli murmela-stand-in

cli=$PWD/build/release/murmela-cli
XDG_DATA_HOME=$(mktemp -d)
export XDG_DATA_HOME
trap '"$cli" quit --no-launch >/dev/null 2>&1 || true; rm -rf "$XDG_DATA_HOME"' EXIT

# Each command is printed so that it can be pasted back into a shell.
quoted() {
  local word out=()
  for word in "$@"; do
    if [[ $word =~ ^[A-Za-z0-9_./:=@%+-]+$ ]]; then
      out+=("$word")
    else
      out+=("'${word//\'/\'\\\'\'}'")
    fi
  done
  printf '%s' "${out[*]}"
}
step() { printf '\n$ murmela-cli %s\n' "$(quoted "$@")"; "$cli" "$@"; }

step version
step status            # starts the stand-in app beside the CLI when it is not running
step meetings list
step meetings transcript 3f1c
step meetings join 8a4b2 8a4be --title "Client call"
step meetings transcribe latest        # waits for the (stand-in) recognition
step meetings rename-speaker latest "Other speakers" "Ana Pike"
step meetings transcript latest

# Real speech: a sentence spoken by flite, imported, recognised by the stand-in.
flite -voice slt -t "The quarterly budget review moves to Friday morning." -o "$XDG_DATA_HOME/talk.wav"
cd "$XDG_DATA_HOME"
step meetings import talk.wav
step meetings transcribe latest
step meetings transcript latest
step quit
