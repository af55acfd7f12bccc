#!/usr/bin/env bash
# The stand-in under ThreadSanitizer with many clients at once (PDF exports
# among their requests), over its Unix socket only. Fails when the sanitizer
# reports anything; the reports are printed. stand_in/tsan_suppressions.txt
# says which reports are left out, and why.
#   scripts/thread_check.sh [CLIENTS [SECONDS]]    default 20 clients for 90 s
set -euo pipefail
cd "$(dirname "$0")/.."

command -v python3 >/dev/null || { echo "python3 is missing: apt-get install python3" >&2; exit 1; }
cmake --preset tsan >/dev/null
cmake --build --preset tsan --target murmela-stand-in >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

TSAN_OPTIONS="halt_on_error=0 log_path=$work/tsan suppressions=$PWD/stand_in/tsan_suppressions.txt" \
  python3 scripts/thread_check.py "$PWD/build/tsan/murmela" "$work/data" "${1:-20}" "${2:-90}"
reports=$(cat "$work"/tsan.* 2>/dev/null | grep -c "WARNING: ThreadSanitizer" || true)
if [ "$reports" -gt 0 ]; then
  cat "$work"/tsan.*
  echo "ThreadSanitizer: $reports reports" >&2
  exit 1
fi
echo "ThreadSanitizer: no reports"
