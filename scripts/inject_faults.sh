#!/usr/bin/env bash
# Injects known faults one at a time into a scratch copy of the tree, builds
# it (dev preset), runs the tests that should notice, and reports whether each
# fault was caught and how long that took. The scratch copy is restored after
# each fault; the tree this script lives in is never touched.
#
#   scripts/inject_faults.sh [--all] [scratch-folder]
#
# --all runs the whole suite for every fault instead of the tests named below.
# Each time is the build's or the tests' own only when nothing else runs
# beside them: on a shared machine, wrap the run in the lock others take
# (`flock /tmp/some.lock scripts/inject_faults.sh`).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
whole_suite=false
if [[ ${1:-} == --all ]]; then
  whole_suite=true
  shift
fi
scratch=${1:-$root/build/fault-scratch}
log=$scratch/logs
mkdir -p "$scratch/tree" "$log"

# The tree as it stands, uncommitted changes included, without builds.
(cd "$root" && git ls-files -z --cached --others --exclude-standard) |
  (cd "$root" && xargs -0 cp --parents -t "$scratch/tree")
cd "$scratch/tree"
cmake --preset dev >"$log/configure.txt"

# Runs a command; $took is how long it ran, in whole seconds.
took=0
timed() {
  local start rc=0
  start=$(date +%s.%N)
  "$@" || rc=$?
  took=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.0f", b - a }')
  return $rc
}

# One fault each: its name, the file, the text to find, what to put in its
# place, and the tests that should notice (a ctest -R pattern).
names=() files=() finds=() puts=() tests=()
fault() { names+=("$1") files+=("$2") finds+=("$3") puts+=("$4") tests+=("$5"); }

fault "agents lock taken only for install" src/agent_integration/integration.cpp \
  $'if (mode != IntegrationMode::Status) {\n    lock.emplace' \
  $'if (mode == IntegrationMode::Install) {\n    lock.emplace' 'DiskSeam|Agents'
fault "no fsync before the rename" src/common/atomic_file.cpp \
  $'  if (done) done = disk.sync(*fd);\n' '' 'DiskSeam|WriteAtomically'
fault "record stop skips generatingTitle" stand_in/meeting_commands.cpp \
  '{"finalizing", "transcribing", "generatingTitle"}' '{"finalizing", "transcribing"}' 'StandIn'
fault "wait takes processingNotes as finished" src/cli/meetings/jobs.cpp \
  '"processingNotes", ' '' 'Meetings|StandIn'
fault "progress line checked on standard output" src/cli/progress.cpp \
  '::isatty(STDERR_FILENO)' '::isatty(STDOUT_FILENO)' 'Progress'

# Replaces the first occurrence of a text in a file; fails when it is not there
# (the code has moved on and the fault needs writing down anew).
inject() {
  python3 - "$1" "$2" "$3" <<'EOF'
import sys
path, find, put = sys.argv[1:]
text = open(path).read()
if find not in text:
    sys.exit(f"not found in {path}: {find!r}")
open(path, "w").write(text.replace(find, put, 1))
EOF
}

# Builds the tree as it is first, so that each fault's time is its own.
timed cmake --build --preset dev >"$log/build-clean.txt" 2>&1

printf '%-42s %-16s %8s %8s\n' fault result build_s test_s
status=0
for i in "${!names[@]}"; do
  name=${names[$i]} file=${files[$i]}
  slug=$(printf '%s' "$name" | tr -c 'a-zA-Z0-9' '-')
  cp "$file" "$log/original"
  if ! inject "$file" "${finds[$i]}" "${puts[$i]}"; then
    printf '%-42s %-16s\n' "$name" NOT-APPLIED
    status=1
    continue
  fi

  build_s=0 test_s=0
  if ! timed cmake --build --preset dev >"$log/$slug-build.txt" 2>&1; then
    result=caught-by-build
    build_s=$took
  else
    build_s=$took
    pattern=${tests[$i]}
    $whole_suite && pattern=.
    if timed ctest --preset dev -j2 -R "$pattern" >"$log/$slug-tests.txt" 2>&1; then
      result=MISSED
      status=1
    else
      result=caught
    fi
    test_s=$took
  fi
  printf '%-42s %-16s %8s %8s\n' "$name" "$result" "$build_s" "$test_s"
  cp "$log/original" "$file"
done
# Leave the scratch build matching the tree again.
timed cmake --build --preset dev >"$log/build-restored.txt" 2>&1
exit $status
