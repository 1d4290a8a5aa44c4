#!/usr/bin/env bash
# Every timing benchmark in turn: the search with a silent adapter, a full read against an adapter
# that answers at once, idle CPU use of both programs, and the 32768-byte load. Figures only.
#   scripts/bench-all.sh [--win32 DIR] [--sim PATH]    (defaults: build/win32, build/native's simulator)
set -euo pipefail
cd "$(dirname "$0")/.."
for bench in bench-search.py bench-read.py bench-idle.py bench-load.py; do
    echo "== $bench"
    python3 "scripts/$bench" "$@"
done
