# Shared by the scripts: where things are and how Windows builds are made.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD=${ZVCERT_BUILD_DIR:-$ROOT/build}
NATIVE_BUILD=$BUILD/native
JOBS=$(nproc)

# Whether this machine runs 32-bit x86 programs: some kernels have that
# emulation turned off, and there 32-bit Wine cannot start, whatever is
# installed. Told by running one: a 93-byte ELF32 program that exits with 0.
can_run_32bit() {
  local probe=$BUILD/.probe-elf32
  mkdir -p "$BUILD"
  printf '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null
}

# The Windows architectures whose programs this machine runs, x86 first:
# both, or x64 alone where 32-bit programs cannot run. ZVCERT_WINDOWS_ARCHES
# (x64, x86 or "x86 x64") narrows that, so that a machine which runs both can
# take the x64-only path.
windows_arches() {
  local runnable=(x64)
  if can_run_32bit; then runnable=(x86 x64); fi
  local wanted=${ZVCERT_WINDOWS_ARCHES:-${runnable[*]}} arch
  for arch in x86 x64; do
    [[ " $wanted " == *" $arch "* && " ${runnable[*]} " == *" $arch "* ]] && echo "$arch"
  done
  return 0
}
NO_32BIT_NOTE="32-bit Windows tests not run: this machine cannot run 32-bit programs"

# A Windows build per architecture: build/win32 (x86) and build/win64 (x64).
# WIN_ARCH is the one the scripts run, x86 where it runs (as always), x64 where
# it cannot; WIN_BUILD is its folder.
windows_build_dir() { if [[ $1 == x64 ]]; then echo "$BUILD/win64"; else echo "$BUILD/win32"; fi; }
windows_toolchain() { if [[ $1 == x64 ]]; then echo mingw-x86_64; else echo mingw-i686; fi; }
if [[ -z ${WIN_ARCH:-} ]]; then
  WIN_ARCH=$(windows_arches | head -1)
  if [[ -z $WIN_ARCH ]]; then
    echo "ZVCERT_WINDOWS_ARCHES='${ZVCERT_WINDOWS_ARCHES:-}' names no architecture this machine runs (x64, or x86 where 32-bit programs run)" >&2
    exit 2
  fi
fi
WIN_BUILD=${WIN_BUILD:-$(windows_build_dir "$WIN_ARCH")}

source "$ROOT/scripts/lib/quietly.sh"

# The authority the tests and the main job issue from: a throwaway OpenSSL CA
# of this checkout, made once and kept in build/authority. The Windows builds
# embed its root, as an authority builds the plug-in with its own, so that
# what it issues passes the root's signature check.
AUTHORITY_ROOT=$BUILD/authority/root.pem
configure_windows() {
  quietly "making the test authority" node "$ROOT/tools/node/ca.js" --authority "$(dirname "$AUTHORITY_ROOT")"
  quietly "configuring $WIN_BUILD" cmake -S "$ROOT" -B "$WIN_BUILD" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$(windows_toolchain "$WIN_ARCH").cmake" \
    -DZVCERT_ROOT_CERTIFICATE="$AUTHORITY_ROOT" "$@"
}

# A Windows build of another profile, in a folder of its own beside the
# default one: a profile name and the options given beside it, as
# `current KEY_BITS=4096`. profile_options turns them into -D options,
# profile_build_dir names the folder after them (win32-current-rsa4096, or
# win64-... for x64),
# configure_profile configures it (with the test programs, but without a
# nested build of the current profile).
profile_options() {
  printf -- '-DZVCERT_PROFILE=%s\n' "$1"
  (( $# < 2 )) || printf -- '-DZVCERT_%s\n' "${@:2}"
}
profile_build_dir() {
  local name option
  name=$(basename "$(windows_build_dir "$WIN_ARCH")")-$1
  for option in "${@:2}"; do
    case $option in
      KEY_BITS=*) name+=-rsa${option#*=} ;;
      SIGNATURE_HASH=*) name+=-${option#*=} ;;
      SERIAL_BYTES=*) name+=-serial${option#*=} ;;
      AUTHORITY_CHECK=*) name+=-by-${option#*=} ;;
      PENDING_KEYS=*) name+=-pending-in-${option#*=} ;;
      *) name+=-${option//=/} ;;
    esac
  done
  echo "$BUILD/${name,,}"
}
configure_profile() {
  local options
  mapfile -t options < <(profile_options "$@")
  WIN_BUILD=$(profile_build_dir "$@") configure_windows "${options[@]}" -DZVCERT_TEST_CURRENT_PROFILE=OFF
}

# clang, for libFuzzer beside AddressSanitizer and UndefinedBehaviorSanitizer.
configure_native() {
  quietly "making the test authority" node "$ROOT/tools/node/ca.js" --authority "$(dirname "$AUTHORITY_ROOT")"
  CC=clang CXX=clang++ quietly "configuring $NATIVE_BUILD" cmake -S "$ROOT" -B "$NATIVE_BUILD" -G Ninja \
    -DZVCERT_ROOT_CERTIFICATE="$AUTHORITY_ROOT" "$@"
}

# Runs a command with the Windows build's Wine prefix ready and a persistent
# wineserver under the current display (a server started without a display
# keeps windows from being created). wineboot starts Wine's own background
# programs first, with harmless standard streams (a file): started later by a
# test program, they would inherit its output pipe and keep ctest waiting.
with_wine() {
  export WINEPREFIX=${ZVCERT_WINEPREFIX:-$WIN_BUILD/wineprefix} WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  wineserver -k 2>/dev/null || true
  mkdir -p "$WINEPREFIX"
  wineserver -p
  local init=()
  [[ -f $WINEPREFIX/system.reg ]] || init=(-i)
  # Through the build's own runner, which knows its architecture's loader.
  quietly "wine: preparing the prefix $WINEPREFIX" "$WIN_BUILD/wine-run.sh" wineboot "${init[@]}"
  # Xvfb has no window manager: Wine would wait two seconds for one at every
  # window it hides, unless its windows are its own to manage.
  if ! grep -qs '^"Managed"="N"' "$WINEPREFIX/user.reg"; then
    quietly "wine: letting Wine manage its windows" \
      "$WIN_BUILD/wine-run.sh" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
  fi
  local status=0
  "$@" || status=$?
  wineserver -k 2>/dev/null || true
  return $status
}

# The Windows form of a path inside the build (Wine maps / to Z:).
winepath_of() { printf 'Z:%s' "${1//\//\\}"; }
