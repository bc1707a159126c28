#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, and only what is
# missing: a machine that has everything returns at once. Quiet unless a step
# fails: then that step's own output is shown and the step named.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"

packages=(
  cmake ninja-build g++ googletest          # native build and unit tests
  clang libclang-rt-14-dev                  # sanitizers and libFuzzer for the portable core
  clang-format                              # the formatting check
  g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix  # the x86 and x64 Windows cross compilers
  wine wine64 xvfb xauth                    # running and painting Windows programs
  openssl gnutls-bin libssl-dev             # independent checkers of what the plug-in makes
  python3-asn1crypto python3-cryptography   # the server side of the page library's quick start
  golang-cfssl                              # a CA tool of today: random serials, Go's request parser
  locales                                   # a double-byte locale for Wine (code page 936)
  nodejs                                    # runs page script against the plug-in
  chromium firefox-esr fonts-dejavu-core    # today's browsers: the extension, headless
  chromium-l10n fonts-noto-cjk              # ... in the users' languages, Chinese drawn too
  firefox-esr-l10n-{zh-cn,zh-tw,ru,de,fr,es-es}
  nsis osslsigncode                         # the installer, and Authenticode signing
  wixl msitools                             # the MSI for organisations, and reading its tables
  libp11-kit-dev p11-kit                    # the Linux host's tokens: the PKCS#11 header, the proxy
  softhsm2 opensc                           # a software token per test, and a second reader of it
  dpkg-dev                                  # dpkg-shlibdeps, for the Debian package's Depends
)

# 32-bit Wine only where this machine runs 32-bit programs: elsewhere it
# installs but cannot start, and /usr/bin/wine would then prefer it.
need_i386=0
if windows_arches | grep -qx x86; then
  packages+=(wine32:i386)
  dpkg --print-foreign-architectures | grep -qx i386 || need_i386=1
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

# npm packs the page library and fetches TypeScript; some Node.js builds
# carry it, Debian's comes as its own package.
command -v npm >/dev/null || missing+=(npm)

install_packages() {
  sudo=()
  if (( EUID != 0 )); then
    command -v sudo >/dev/null || { echo "setup: need root (or sudo) to install: ${missing[*]}" >&2; exit 1; }
    sudo=(sudo)
  fi
  echo "setup: installing ${missing[*]}"
  if (( need_i386 )); then
    quietly "setup: adding the i386 architecture" "${sudo[@]}" dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  # A mirror caught mid-sync refuses an index for a while: try again, then
  # go on with the lists apt kept; the install says so if they will not do.
  local attempt
  for attempt in 1 2 3; do
    quietly "setup: updating the package lists" "${sudo[@]}" apt-get update && break
    if (( attempt < 3 )); then
      echo "setup: trying again in 20 s" >&2
      sleep 20
    else
      echo "setup: going on with the package lists as apt has them" >&2
    fi
  done
  quietly "setup: installing ${missing[*]}" \
    "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
  echo "setup: done"
}
if (( ${#missing[@]} > 0 || need_i386 )); then install_packages; fi

# From the npm registry, kept in build/npm away from any project of the
# user's: TypeScript for the page library's type check, PKI.js for its quick
# start's verification in Node.js.
npm_packages=(typescript@5.9.3 pkijs@3.4.3 asn1js@3.0.7)
npm_dir=$ROOT/build/npm
for p in "${npm_packages[@]}"; do
  if ! grep -qs "\"version\": \"${p#*@}\"" "$npm_dir/node_modules/${p%@*}/package.json"; then
    echo "setup: installing ${npm_packages[*]} from the npm registry"
    mkdir -p "$npm_dir"
    quietly "setup: installing the npm packages for the tests" \
      npm install --prefix "$npm_dir" --no-audit --no-fund --no-save "${npm_packages[@]}"
    break
  fi
done

