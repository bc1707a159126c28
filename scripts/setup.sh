#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, and only what is
# missing: a machine that has everything returns at once.
set -euo pipefail

packages=(
  cmake ninja-build g++ googletest          # native build and unit tests
  clang libclang-rt-14-dev                  # sanitizers and libFuzzer for the portable core
  clang-format                              # the formatting check
  g++-mingw-w64-i686                        # the 32-bit Windows cross compilers
  wine wine32:i386 xvfb xauth               # running and painting Windows programs
  openssl gnutls-bin libssl-dev             # independent checkers of what the plug-in makes
  golang-cfssl                              # a CA tool of today: random serials, Go's request parser
  locales                                   # a double-byte locale for Wine (code page 936)
  nodejs                                    # runs page script against the plug-in
  chromium firefox-esr fonts-dejavu-core    # today's browsers: the extension, headless
  nsis osslsigncode                         # the installer, and Authenticode signing
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
need_i386=0
dpkg --print-foreign-architectures | grep -qx i386 || need_i386=1

if (( ${#missing[@]} == 0 && need_i386 == 0 )); then
  exit 0
fi

sudo=()
if (( EUID != 0 )); then
  command -v sudo >/dev/null || { echo "setup: need root (or sudo) to install: ${missing[*]}" >&2; exit 1; }
  sudo=(sudo)
fi
echo "setup: installing ${missing[*]}"
if (( need_i386 )); then "${sudo[@]}" dpkg --add-architecture i386; fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "setup: done"
