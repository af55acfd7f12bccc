#!/usr/bin/env bash
# Wall time of the test suite of an already built preset (default sanitize,
# without the install and interop checks, as scripts/test.sh runs it), on
# every core; `uptime` beside the figure. On a shared machine, wrap the run
# in the lock the others take (`flock /tmp/some.lock bench/suite_time.sh`).
# The slowest tests are listed after it.
#   bench/suite_time.sh [PRESET] [CTEST ARGUMENTS...]
set -euo pipefail
cd "$(dirname "$0")/.."

preset=${1:-sanitize}
shift || true
log=$(mktemp)
trap 'rm -f "$log"' EXIT
load=$(uptime)
start=$(date +%s.%N)
status=0
# The sanitize suite as scripts/test.sh runs it: the checks from outside
# (labels install and interop) run in the release build instead.
outside=()
[ "$preset" = sanitize ] && outside=(-LE 'install|interop')
ctest --preset "$preset" -j "$(nproc)" ${outside[@]+"${outside[@]}"} "$@" >"$log" 2>&1 || status=$?
end=$(date +%s.%N)
grep -E "tests passed|tests failed" "$log" || true
printf '%s suite: %.1f s wall on %s cores | before: %s\n' "$preset" "$(echo "$end - $start" | bc)" \
  "$(nproc)" "$load"
echo "slowest:"
# (head stops reading early: the pipe's broken-pipe status is not the suite's.)
grep -E "Test +#" "$log" | sort -t' ' -k1,1 | awk '{print $(NF-1), $0}' | sort -rn | head -n 8 |
  cut -d' ' -f2- || true
exit "$status"
