#!/usr/bin/env bash
# Builds and runs the benchmarks under Wine and prints their figures.
#   scripts/bench.sh [GetCSR calls, default 100]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"
"$ROOT/scripts/setup.sh"
configure_win32
cmake --build "$WIN_BUILD" --target request_benchmark -j "$JOBS" >/dev/null
with_wine "$WIN_BUILD/wine-run.sh" "$WIN_BUILD/bin/request_benchmark.exe" "${1:-100}"
