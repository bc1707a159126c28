#!/usr/bin/env bash
# The long soak under Wine: 1 000 enrolment cycles in one plug-in instance
# and 200 instances, with the figures printed every 100 cycles.
#   scripts/soak.sh [cycles] [instances]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"
"$ROOT/scripts/setup.sh"
configure_windows
quietly "building $WIN_BUILD" cmake --build "$WIN_BUILD" --target soak -j "$JOBS"
with_wine "$WIN_BUILD/wine-run.sh" "$WIN_BUILD/bin/soak.exe" "${1:-1000}" "${2:-200}"
