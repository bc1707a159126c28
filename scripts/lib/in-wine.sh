#!/usr/bin/env bash
# Runs a command with the Windows build's Wine prefix ready and a wineserver
# living under the current X display (started by xvfb-run), so that windows
# can be created and painted.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
with_wine "$@"
