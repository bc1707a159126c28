#!/usr/bin/env bash
# Every test: the portable core natively (AddressSanitizer and
# UndefinedBehaviorSanitizer), then the plug-in under Wine and Xvfb.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"

"$ROOT/scripts/setup.sh"
results=$BUILD/test-results
mkdir -p "$results"

echo "== native core (sanitizers)"
configure_native
cmake --build "$NATIVE_BUILD" -j "$JOBS"
set +e
(cd "$NATIVE_BUILD" && ctest --output-on-failure -j "$JOBS" 2>&1 | tee "$results/native.log")
native_status=${PIPESTATUS[0]}
set -e

echo "== plug-in under Wine"
configure_win32
cmake --build "$WIN_BUILD" -j "$JOBS"
set +e
xvfb-run -a -s "-screen 0 1024x768x24" "$ROOT/scripts/lib/in-wine.sh" \
  bash -c 'cd "$0" && ctest --output-on-failure -j "$1" --timeout 120' "$WIN_BUILD" "$JOBS" \
  2>&1 | tee "$results/win32.log"
win_status=${PIPESTATUS[0]}
set -e

# One closing line over both runs.
# A run that printed no summary counts as one failure.
count() {
  local line
  line=$(sed -n 's/.*tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\).*/\1 \2/p' "$1" 2>/dev/null | tail -1)
  echo "${line:-1 1}"
}
read -r nf nt < <(count "$results/native.log")
read -r wf wt < <(count "$results/win32.log")
failed=$(( nf + wf )); total=$(( nt + wt ))
echo
echo "$(( total - failed )) passed, $failed failed"
(( native_status == 0 && win_status == 0 && total > 0 ))
