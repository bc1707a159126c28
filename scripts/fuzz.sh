#!/usr/bin/env bash
# Runs every fuzz target for longer than the tests do: SECONDS each (default
# one hour), all cores, growing the build's corpus. Crashes are kept in
# build/native/fuzz-artifacts. Usage: scripts/fuzz.sh [seconds] [target...]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"
seconds=${1:-3600}; shift || true

"$ROOT/scripts/setup.sh"
configure_native
quietly "building $NATIVE_BUILD" cmake --build "$NATIVE_BUILD" -j "$JOBS"
targets=("$@")
if (( ${#targets[@]} == 0 )); then
  for f in "$NATIVE_BUILD"/bin/*_fuzz; do targets+=("$(basename "${f%_fuzz}")"); done
fi
mkdir -p "$NATIVE_BUILD/fuzz-artifacts"
for t in "${targets[@]}"; do
  echo "== $t for $seconds s"
  mkdir -p "$NATIVE_BUILD/fuzz-corpus/$t"
  "$NATIVE_BUILD/bin/${t}_fuzz" -max_total_time="$seconds" -print_final_stats=1 \
    -jobs="$JOBS" -workers="$JOBS" -artifact_prefix="$NATIVE_BUILD/fuzz-artifacts/$t-" \
    "$NATIVE_BUILD/fuzz-corpus/$t" "$ROOT/tests/fuzz/corpus/$t"
done
