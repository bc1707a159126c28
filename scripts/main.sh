#!/usr/bin/env bash
# The main job: build npzvcert.dll, check what a browser depends on in the
# file, then load it as a browser does and show what a page sees.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"

"$ROOT/scripts/setup.sh"
echo "== building npzvcert.dll (32-bit Windows)"
configure_win32
cmake --build "$WIN_BUILD" --target npzvcert zvcert-probe -j "$JOBS" >/dev/null
dll=$WIN_BUILD/bin/npzvcert.dll
echo "$dll ($(stat -c %s "$dll") bytes)"

echo "== exports and imports"
"$ROOT/tests/build/check_dll_tables.sh" "$dll" \
  "$(sed -n 's/^ZVCERT_ROOT_CERTIFICATE:FILEPATH=//p' "$WIN_BUILD/CMakeCache.txt")"

echo "== loaded in a test browser under Wine"
with_wine "$WIN_BUILD/wine-run.sh" "$WIN_BUILD/bin/zvcert-probe.exe" "$(winepath_of "$dll")"
