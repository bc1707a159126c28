# Shared by the scripts: where things are and how Windows builds are made.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD=${ZVCERT_BUILD_DIR:-$ROOT/build}
WIN_BUILD=$BUILD/win32
NATIVE_BUILD=$BUILD/native
JOBS=$(nproc)

# Runs one step that installs or prepares something, quietly: when it fails,
# what it printed is shown and the step named, so that no script stops
# without a word. Nothing it runs may ask a question.
#   quietly "setup: installing the npm packages" npm install ...
quietly() {
  local what=$1 log status=0
  log=$(mktemp)
  "${@:2}" </dev/null >"$log" 2>&1 || status=$?
  if (( status )); then
    local program=$2
    [[ $program == sudo ]] && program=$3
    cat "$log" >&2
    echo "$what failed (${program##*/} exited $status); its output is above" >&2
  fi
  rm -f "$log"
  return $status
}

# The authority the tests and the main job issue from: a throwaway OpenSSL CA
# of this checkout, made once and kept in build/authority. The Windows builds
# embed its root, as an authority builds the plug-in with its own, so that
# what it issues passes the root's signature check.
AUTHORITY_ROOT=$BUILD/authority/root.pem
configure_win32() {
  node "$ROOT/tools/node/ca.js" --authority "$(dirname "$AUTHORITY_ROOT")" >/dev/null
  cmake -S "$ROOT" -B "$WIN_BUILD" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" \
    -DZVCERT_ROOT_CERTIFICATE="$AUTHORITY_ROOT" "$@" >/dev/null
}

# A Windows build of another profile, in a folder of its own beside the
# default one: a profile name and the options given beside it, as
# `current KEY_BITS=4096`. profile_options turns them into -D options,
# profile_build_dir names the folder after them (win32-current-rsa4096),
# configure_profile configures it (with the test programs, but without a
# nested build of the current profile).
profile_options() {
  printf -- '-DZVCERT_PROFILE=%s\n' "$1"
  (( $# < 2 )) || printf -- '-DZVCERT_%s\n' "${@:2}"
}
profile_build_dir() {
  local name=win32-$1 option
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
  WIN_BUILD=$(profile_build_dir "$@") configure_win32 "${options[@]}" -DZVCERT_TEST_CURRENT_PROFILE=OFF
}

# clang, for libFuzzer beside AddressSanitizer and UndefinedBehaviorSanitizer.
configure_native() {
  CC=clang CXX=clang++ cmake -S "$ROOT" -B "$NATIVE_BUILD" -G Ninja "$@" >/dev/null
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
  quietly "wine: preparing the prefix $WINEPREFIX" wineboot "${init[@]}"
  local status=0
  "$@" || status=$?
  wineserver -k 2>/dev/null || true
  return $status
}

# The Windows form of a path inside the build (Wine maps / to Z:).
winepath_of() { printf 'Z:%s' "${1//\//\\}"; }
