#!/usr/bin/env bash
# Builds and runs every benchmark and prints its figures: Base64 beside
# OpenSSL (native), GetCSR's own share, and the certificate methods as the
# store grows (under Wine). Not part of the tests.
#   scripts/bench.sh [GetCSR calls = 100] [largest store = 1000]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"
"$ROOT/scripts/setup.sh"
configure_native
cmake --build "$NATIVE_BUILD" --target base64_benchmark -j "$JOBS" >/dev/null
configure_win32
cmake --build "$WIN_BUILD" --target request_benchmark store_benchmark -j "$JOBS" >/dev/null

echo "== machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs), $(wine --version)"
echo "== Base64 (native)"
"$NATIVE_BUILD/bin/base64_benchmark"
echo "== GetCSR (under Wine)"
with_wine "$WIN_BUILD/wine-run.sh" "$WIN_BUILD/bin/request_benchmark.exe" "${1:-100}"
echo "== certificate methods as the store grows (under Wine)"
with_wine "$WIN_BUILD/wine-run.sh" "$WIN_BUILD/bin/store_benchmark.exe" "${2:-1000}"
