#!/usr/bin/env bash
# The main job: build npzvcert.dll and its installers (the setup and the MSI), then enrol for a
# certificate end to end exactly as a page would: the sample page's script
# drives the plug-in under Wine against a throwaway OpenSSL authority (made
# once, kept in build/authority) whose root the plug-in is built with, as an
# authority builds it, and OpenSSL checks the signature. Everything it makes goes to the output folder. With --browser
# it then does the same in today's browsers: the sample page in headless
# Chromium and Firefox, through the browser extension and npzvcert-host.exe,
# each consent window allowed (pictures in <out>/chromium/ and <out>/firefox/).
# --lang LANG (zh_CN, zh_TW, ru, de, fr, es, en) implies --browser and starts
# the browsers in that language: the windows speak it, and their pictures go
# to <out>/chromium/LANG/ and <out>/firefox/LANG/.
#
# --profile builds the plug-in for a named profile (cmake/BuildProfile.cmake),
# in a build folder of its own beside the default one, and enrols with that;
# --current is --profile current: 2048-bit keys, SHA-256, 20-byte serials (the
# authority then picks random serials, as today's CA tools do), the root's
# signature checked by every lookup and the request's key kept in the user's
# key store until its certificate comes. --key-bits, --hash, --serial-bytes,
# --authority-check and --pending-keys override one option of the profile
# (of the original one when none is named).
#
#   bash scripts/main.sh [--out DIR] [--subject TEXT] [--challenge NAME:PASSWORD]
#                        [--text TEXT] [--keep] [--browser] [--lang LANG]
#                        [--profile original|current] [--current] [--key-bits 1024|2048|3072|4096]
#                        [--hash SHA1|SHA256|SHA384|SHA512] [--serial-bytes 8|16|20]
#                        [--authority-check name|signature] [--pending-keys memory|store]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"

out=$ROOT/out
demo_args=()
browser_args=()
browser=0
profile=original
given=()
while (( $# )); do
  case $1 in
    --out) out=$(realpath -m "$2"); shift 2 ;;
    --keep) demo_args+=(--keep); browser_args+=(--keep); shift ;;
    --subject|--text) demo_args+=("$1" "$2"); browser_args+=("$1" "$2"); shift 2 ;;
    --challenge) demo_args+=("$1" "$2"); shift 2 ;;
    --browser) browser=1; shift ;;
    --lang) browser=1; browser_args+=(--lang "$2"); shift 2 ;;
    --profile) profile=$2; shift 2 ;;
    --current) profile=current; shift ;;
    --key-bits) given+=(KEY_BITS="$2"); shift 2 ;;
    --hash) given+=(SIGNATURE_HASH="$2"); shift 2 ;;
    --serial-bytes) given+=(SERIAL_BYTES="$2"); shift 2 ;;
    --authority-check) given+=(AUTHORITY_CHECK="$2"); shift 2 ;;
    --pending-keys) given+=(PENDING_KEYS="$2"); shift 2 ;;
    *) echo "main: unknown option $1 (see the comment at the top of $0)" >&2; exit 2 ;;
  esac
done

step() { printf '\n== %s\n' "$*"; }

"$ROOT/scripts/setup.sh"
if [[ $profile != original ]] || (( ${#given[@]} )); then
  WIN_BUILD=$(profile_build_dir "$profile" "${given[@]}")
  # The build's own check refuses a name or value it does not know before
  # anything is configured, and says what the profile comes to.
  mapfile -t options < <(profile_options "$profile" "${given[@]}")
  summary=$(cmake "${options[@]}" -P "$ROOT/cmake/BuildProfile.cmake")
  summary=${summary#-- }
  step "building npzvcert.dll (32-bit Windows) in $WIN_BUILD; ${summary,}"
  configure_profile "$profile" "${given[@]}"
  # The plug-in, and its host and extension, through which the demonstration runs.
  cmake --build "$WIN_BUILD" -j "$JOBS" --target npzvcert npzvcert-host >/dev/null
else
  step "building npzvcert.dll (32-bit Windows) and its test browser"
  configure_windows
  cmake --build "$WIN_BUILD" -j "$JOBS" >/dev/null
fi
dll=$WIN_BUILD/bin/npzvcert.dll
root=$(sed -n 's/^ZVCERT_ROOT_CERTIFICATE:FILEPATH=//p' "$WIN_BUILD/CMakeCache.txt")
mkdir -p "$out"
echo "$dll ($(stat -c %s "$dll") bytes), built-in root: $root"

step "what a browser depends on in the file"
"$ROOT/tests/build/check_dll_tables.sh" "$dll" "$root"

step "installers: the setup and the MSI (the DLL and the host they ship are copied to the output folder too)"
"$ROOT/scripts/build-installer.sh" "$dll" "$out"

step "the page library's package (npm pack of $WIN_BUILD/package)"
(cd "$out" && npm pack --loglevel=error "$WIN_BUILD/package" | sed "s|^|$out/|")

step "enrolment, as the sample page does it (demo/enroll.js), under Wine"
with_wine node "$ROOT/demo/run-demo.js" --build "$WIN_BUILD" --root "$root" --out "$out" \
  "${demo_args[@]}"

if (( browser )); then
  for name in Chromium Firefox; do
    step "the same page in headless $name, through the extension and npzvcert-host.exe"
    with_wine node "$ROOT/demo/run-browser-demo.js" --build "$WIN_BUILD" --root "$root" --out "$out" \
      --browser "${name,,}" "${browser_args[@]}"
  done
fi
