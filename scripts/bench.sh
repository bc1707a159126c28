#!/usr/bin/env bash
# Builds and runs every benchmark and prints its figures: Base64 beside
# OpenSSL (native), GetCSR's own share for every key size, the host's peak
# memory for the largest messages, a call's round trip and GetCSR through the
# Linux and the Windows host, and the certificate methods as the store grows
# (under Wine). Not part of the tests.
#   scripts/bench.sh [GetCSR calls = 100] [largest store = 1000] [calls per larger key = 20]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"
"$ROOT/scripts/setup.sh"
configure_native
quietly "building $NATIVE_BUILD" cmake --build "$NATIVE_BUILD" --target base64_benchmark -j "$JOBS"
configure_windows
quietly "building $WIN_BUILD" cmake --build "$WIN_BUILD" --target request_benchmark store_benchmark npzvcert-host -j "$JOBS"

echo "== machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs), $("$WIN_BUILD/wine-run.sh" --version), Windows programs built for $WIN_ARCH"
echo "== Base64 (native)"
"$NATIVE_BUILD/bin/base64_benchmark"
echo "== GetCSR (under Wine)"
with_wine "$WIN_BUILD/wine-run.sh" "$WIN_BUILD/bin/request_benchmark.exe" "${1:-100}"
echo "== the host's peak memory, the largest message of each shape (under Wine)"
with_wine node "$ROOT/bench/host_memory.js" "$WIN_BUILD"
# Larger keys take a second or more each to generate: fewer calls. At 2048
# bits also with the keys pending in the store.
for run in "2048 memory" "2048 store" "3072 memory" "4096 memory"; do
  read -r bits pending <<<"$run"
  given=(KEY_BITS="$bits" SIGNATURE_HASH=SHA256 PENDING_KEYS="$pending")
  configure_profile original "${given[@]}"
  dir=$(profile_build_dir original "${given[@]}")
  quietly "building $dir" cmake --build "$dir" --target request_benchmark -j "$JOBS"
  echo "== GetCSR, RSA-$bits with SHA-256, keys pending in $pending (under Wine)"
  WIN_BUILD=$dir with_wine "$dir/wine-run.sh" "$dir/bin/request_benchmark.exe" "${3:-20}"
done
echo "== a call's round trip and GetCSR through each host: Linux (release build, a SoftHSM2 token), Windows (under Wine)"
ZVCERT_DEB_BUILD=$BUILD/linux-release quietly "building the Linux host" \
  "$ROOT/scripts/build-deb.sh" "$BUILD/linux-release/package"
"$ROOT/tests/token/with_token.sh" "$BUILD/linux-release/tokens/bench" /usr/lib/softhsm/libsofthsm2.so -- \
  node "$ROOT/bench/host_round_trip.js" linux 1000 "${3:-20}" -- "$BUILD/linux-release/bin/npzvcert-host"
with_wine node "$ROOT/bench/host_round_trip.js" "windows-$WIN_ARCH" 1000 "${3:-20}" -- \
  "$WIN_BUILD/wine-run.sh" "$WIN_BUILD/bin/npzvcert-host.exe"
echo "== certificate methods as the store grows (under Wine)"
with_wine "$WIN_BUILD/wine-run.sh" "$WIN_BUILD/bin/store_benchmark.exe" "${2:-1000}"
