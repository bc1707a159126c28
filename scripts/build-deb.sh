#!/usr/bin/env bash
# Builds the Debian package of the Linux native-messaging host from a release
# build of its own (no sanitizers, no tests):
#   scripts/build-deb.sh <output dir>
# writes <output dir>/npzvcert-host_<version>_amd64.deb, which installs
#   /usr/lib/npzvcert/npzvcert-host                        the host
#   /etc/chromium/native-messaging-hosts/<host name>.json  its manifest for Chromium,
#   /etc/opt/chrome/native-messaging-hosts/<host name>.json  Chrome,
#   /etc/opt/edge/native-messaging-hosts/<host name>.json  Edge,
#   /usr/lib/mozilla/native-messaging-hosts/<host name>.json  and Firefox
#   /etc/npzvcert/pkcs11.conf                              which token module (a conffile)
#
#   ZVCERT_ROOT_CERTIFICATE    the authority's root (default: the test authority's, made once)
#   ZVCERT_EXTENSION_IDENTITY  hostName, chromiumId, firefoxId (default: extension/identity.json)
#   ZVCERT_DEB_BUILD           the build folder (default: build/linux-release)
#   ZVCERT_DEB_HOST            a host program already built, packaged as it is
#                              (the tests' package; its root is its build's)
#   ZVCERT_DEB_MAINTAINER      the control file's Maintainer
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"

die() { echo "build-deb: $*" >&2; exit 1; }
(( $# == 1 )) || { echo "usage: $0 <output dir>" >&2; exit 2; }
out=$(realpath -m "$1")
for tool in dpkg-deb node cmake ninja clang++; do
  command -v $tool >/dev/null || die "$tool not found (scripts/setup.sh installs it)"
done
build=${ZVCERT_DEB_BUILD:-$BUILD/linux-release}
root_certificate=${ZVCERT_ROOT_CERTIFICATE:-}
if [[ -z $root_certificate ]]; then
  quietly "making the test authority" node "$ROOT/tools/node/ca.js" --authority "$(dirname "$AUTHORITY_ROOT")"
  root_certificate=$AUTHORITY_ROOT
fi
identity=${ZVCERT_EXTENSION_IDENTITY:-$ROOT/extension/identity.json}
quietly "checking the extension identity $identity" node "$ROOT/extension/identity.js" --check "$identity"
version=$(sed -n 's/^project(npzvcert VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")
[[ -n $version ]] || die "no project version in $ROOT/CMakeLists.txt"

program=${ZVCERT_DEB_HOST:-}
if [[ -z $program ]]; then
  CC=clang CXX=clang++ quietly "configuring $build" cmake -S "$ROOT" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=Release -DZVCERT_SANITIZE=OFF -DZVCERT_BUILD_TESTS=OFF \
    -DZVCERT_ROOT_CERTIFICATE="$(realpath "$root_certificate")"
  quietly "building npzvcert-host in $build" cmake --build "$build" -j "$JOBS" --target npzvcert-host
  program=$build/bin/npzvcert-host
fi

umask 022
stage=$(mktemp -d)
chmod 755 "$stage"
trap 'rm -rf "$stage"' EXIT
host=/usr/lib/npzvcert/npzvcert-host
install -D -m 755 -s "$program" "$stage$host"
install -D -m 644 "$ROOT/installer/debian/pkcs11.conf" "$stage/etc/npzvcert/pkcs11.conf"
# The same manifests the Windows installer ships, with the host's absolute
# path: browsers on Linux take no other.
read -r host_name chromium_id firefox_id < <(node -p \
  'const i = require(process.argv[1]); [i.hostName, i.chromiumId, i.firefoxId].join(" ")' "$(realpath "$identity")")
node "$ROOT/extension/host_manifest.js" "$stage/manifests" "$host_name" "$chromium_id" "$firefox_id" "$host"
for folder in /etc/chromium /etc/opt/chrome /etc/opt/edge; do
  install -D -m 644 "$stage/manifests/chromium.json" "$stage$folder/native-messaging-hosts/$host_name.json"
done
install -D -m 644 "$stage/manifests/firefox.json" "$stage/usr/lib/mozilla/native-messaging-hosts/$host_name.json"
rm -r "$stage/manifests"

# What the host links against, as dpkg-shlibdeps says (it reads the package's
# name from a control file), else what it says on Debian 12; the proxy
# module comes with p11-kit-modules.
depends="libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 5.2)"
if command -v dpkg-shlibdeps >/dev/null; then
  mkdir -p "$stage/shlibs/debian"
  printf 'Source: npzvcert\n\nPackage: npzvcert-host\nArchitecture: amd64\n' >"$stage/shlibs/debian/control"
  depends=$(cd "$stage/shlibs" && dpkg-shlibdeps -O "$stage$host" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
  rm -r "$stage/shlibs"
  [[ -n $depends ]] || die "dpkg-shlibdeps named no dependency of $program"
fi
# A package for the committed identity is for development, and says so, as
# the Windows setups do: only the authority's own identity is for its users.
marker=
[[ $(realpath "$identity") != "$(realpath "$ROOT/extension/identity.json")" ]] || marker=" (development build)"
mkdir -p "$stage/DEBIAN"
echo /etc/npzvcert/pkcs11.conf >"$stage/DEBIAN/conffiles"
cat >"$stage/DEBIAN/control" <<EOF
Package: npzvcert-host
Version: $version
Architecture: amd64
Maintainer: ${ZVCERT_DEB_MAINTAINER:-npzvcert developers <npzvcert@zvcert.test>}
Installed-Size: $(du -sk --exclude=DEBIAN "$stage" | cut -f1)
Depends: $depends, p11-kit-modules
Section: utils
Priority: optional
Description: Dastro certificate control for browser extensions$marker
 Lets the certificate authority's browser extension, in Chromium, Chrome,
 Edge and Firefox, enrol the user for a client certificate and sign with it.
 The keys stay on a PKCS #11 token, by default any that p11-kit knows;
 /etc/npzvcert/pkcs11.conf names another module.
EOF
mkdir -p "$out"
deb=$out/npzvcert-host_${version}_amd64.deb
quietly "packaging $deb" dpkg-deb --root-owner-group -Zxz --build "$stage" "$deb"
echo "$deb"
