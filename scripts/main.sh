#!/usr/bin/env bash
# The main job: build npzvcert.dll for x86 and x64 and the installers of each (the setups and
# the MSIs), then enrol for a
# certificate end to end exactly as a page would (on x86, or on x64 where this
# machine cannot run 32-bit programs): the sample page's script
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
# Then the Linux leg: the Debian package of the Linux host
# (<out>/npzvcert-host_<version>_amd64.deb, from the release build in
# build/linux-release, with the default profile) and the same page in
# headless Chromium and Firefox through that host, each on a fresh SoftHSM2
# token (build/linux-release/tokens/), its PIN window answered (pictures in
# <out>/linux/chromium/ and <out>/linux/firefox/).
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
# Both architectures are built; the enrolment runs on x86 where this machine
# runs 32-bit programs, as always, and on x64 where it cannot.
other=x64
[[ $WIN_ARCH == x64 ]] && other=x86
(( $(windows_arches | wc -l) > 1 )) || echo "This machine cannot run 32-bit programs: the enrolment runs on x64"
describe() { if [[ $1 == x64 ]]; then echo "64-bit Windows, x64"; else echo "32-bit Windows, x86"; fi; }
if [[ $profile != original ]] || (( ${#given[@]} )); then
  # The build's own check refuses a name or value it does not know before
  # anything is configured, and says what the profile comes to.
  mapfile -t options < <(profile_options "$profile" "${given[@]}")
  summary=$(cmake "${options[@]}" -P "$ROOT/cmake/BuildProfile.cmake")
  summary=${summary#-- }
  build_arch() {  # <arch>: the plug-in, and its host and extension, through which the demonstration runs
    WIN_ARCH=$1
    WIN_BUILD=$(profile_build_dir "$profile" "${given[@]}")
    step "building npzvcert.dll ($(describe "$1")) in $WIN_BUILD; ${summary,}"
    configure_profile "$profile" "${given[@]}"
    quietly "building $WIN_BUILD" cmake --build "$WIN_BUILD" -j "$JOBS" --target npzvcert npzvcert-host
  }
else
  build_arch() {  # <arch>: everything for the enrolment's architecture, the shipped files for the other
    WIN_ARCH=$1
    WIN_BUILD=$(windows_build_dir "$1")
    if [[ $1 == "$main_arch" ]]; then
      step "building npzvcert.dll ($(describe "$1")) and its test browser"
      configure_windows
      quietly "building $WIN_BUILD" cmake --build "$WIN_BUILD" -j "$JOBS"
    else
      step "building npzvcert.dll and npzvcert-host.exe ($(describe "$1"))"
      configure_windows -DZVCERT_BUILD_TESTS=OFF
      quietly "building $WIN_BUILD" cmake --build "$WIN_BUILD" -j "$JOBS" --target npzvcert npzvcert-host
    fi
  }
fi
main_arch=$WIN_ARCH
build_arch "$other"
other_build=$WIN_BUILD
build_arch "$main_arch"
dll=$WIN_BUILD/bin/npzvcert.dll
root=$(node "$ROOT/tools/node/profile.js" "$WIN_BUILD" rootCertificate)
mkdir -p "$out"
echo "$dll ($(stat -c %s "$dll") bytes), built-in root: $root"

step "what a browser depends on in the files"
"$ROOT/tests/build/check_dll_tables.sh" "$dll" "$root" "$main_arch"
"$ROOT/tests/build/check_dll_tables.sh" "$other_build/bin/npzvcert.dll" "$root" "$other"

step "installers for x86 and x64: the setups and the MSIs (the DLLs and hosts they ship are copied to the output folder too)"
x86_build=$WIN_BUILD x64_build=$other_build
[[ $main_arch == x64 ]] && x86_build=$other_build x64_build=$WIN_BUILD
"$ROOT/scripts/build-installer.sh" "$x86_build/bin/npzvcert.dll" "$out"
ZVCERT_X86_DLL=$x86_build/bin/npzvcert.dll "$ROOT/scripts/build-installer.sh" "$x64_build/bin/npzvcert.dll" "$out"

step "the page library's package (npm pack of $WIN_BUILD/package)"
(cd "$out" && npm pack --loglevel=error "$WIN_BUILD/package" | sed "s|^|$out/|")

step "enrolment, as the sample page does it (demo/enroll.js), under Wine ($(describe "$main_arch"))"
with_wine node "$ROOT/demo/run-demo.js" --build "$WIN_BUILD" --root "$root" --out "$out" \
  "${demo_args[@]}"

if (( browser )); then
  for name in Chromium Firefox; do
    step "the same page in headless $name, through the extension and npzvcert-host.exe ($(describe "$main_arch"))"
    with_wine node "$ROOT/demo/run-browser-demo.js" --build "$WIN_BUILD" --root "$root" --out "$out" \
      --browser "${name,,}" "${browser_args[@]}"
  done
fi

step "the Linux host's Debian package (a release build in $BUILD/linux-release)"
ZVCERT_ROOT_CERTIFICATE=$root ZVCERT_DEB_BUILD=$BUILD/linux-release "$ROOT/scripts/build-deb.sh" "$out"
for name in Chromium Firefox; do
  step "the same page in headless $name, through the extension and the Linux npzvcert-host on a SoftHSM2 token"
  "$ROOT/tests/token/with_token.sh" "$BUILD/linux-release/tokens/${name,,}" /usr/lib/softhsm/libsofthsm2.so -- \
    node "$ROOT/demo/run-browser-demo.js" --build "$BUILD/linux-release" --root "$root" --out "$out/linux" \
    --browser "${name,,}" --token --pin 1234 "${browser_args[@]}"
done
