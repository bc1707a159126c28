#!/usr/bin/env bash
# The Debian package, built by scripts/build-deb.sh, installed into a
# throwaway root with a dpkg database of its own (dpkg --root), then removed
# and purged: never the machine's own dpkg.
#   debian_test.sh <source root> <host program> <root certificate>
# The host is the tests' own build, packaged as it is: the package's layout is
# what counts here, and the main job packages a release build.
set -uo pipefail
(( $# == 3 )) || { echo "usage: $0 <source root> <host program> <root.pem>" >&2; exit 2; }
root=$1 program=$2 certificate=$3
check_js=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/native_host_check.js
unset ZVCERT_EXTENSION_IDENTITY ZVCERT_DEB_MAINTAINER
fail=0
bad() { echo "FAIL: $*"; fail=1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

deb=$(ZVCERT_DEB_HOST=$program ZVCERT_ROOT_CERTIFICATE=$certificate "$root/scripts/build-deb.sh" "$work/out") \
  || { echo "FAIL: build-deb.sh"; exit 1; }
version=$(sed -n 's/^project(npzvcert VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[[ $deb == "$work/out/npzvcert-host_${version}_amd64.deb" ]] || bad "the package is $deb"
mapfile -t id < <(node "$check_js" identity "$root/extension/identity.json")
host=/usr/lib/npzvcert/npzvcert-host
declare -A manifests=(
  [/etc/chromium/native-messaging-hosts/${id[0]}.json]="chromium ${id[1]}"
  [/etc/opt/chrome/native-messaging-hosts/${id[0]}.json]="chromium ${id[1]}"
  [/etc/opt/edge/native-messaging-hosts/${id[0]}.json]="chromium ${id[1]}"
  [/usr/lib/mozilla/native-messaging-hosts/${id[0]}.json]="firefox ${id[2]}"
)
shipped=$(printf '%s\n' "$host" /etc/npzvcert/pkcs11.conf "${!manifests[@]}" | sort)

listed=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $NF }' | sed 's|^\.||' | sort)
[[ $listed == "$shipped" ]] || bad "the package holds other files: $(diff <(echo "$shipped") <(echo "$listed") | grep '^[<>]')"
dpkg-deb -c "$deb" | grep -q "^-rwxr-xr-x root/root .* \.$host$" || bad "the host is not root's and executable"
field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == npzvcert-host && $(field Version) == "$version" && $(field Architecture) == amd64 ]] \
  || bad "control: $(field Package) $(field Version) $(field Architecture)"
for needed in libc6 libstdc++6 libgcc-s1 p11-kit-modules; do
  [[ ", $(field Depends)," =~ ,\ "$needed"[\ ,] ]] || bad "Depends lacks $needed: $(field Depends)"
done
[[ $(field Description | head -1) == *"(development build)" ]] || bad "a development package does not say so"
[[ $(dpkg-deb --ctrl-tarfile "$deb" | tar -xOf - ./conffiles) == /etc/npzvcert/pkcs11.conf ]] \
  || bad "pkcs11.conf is not the one conffile"

# A root with an empty database: the machine's libraries are not in it, hence
# --force-depends.
target=$work/root
mkdir -p "$target/var/lib/dpkg/"{info,updates,triggers}
touch "$target/var/lib/dpkg/"{status,available}
dpkg_in() { dpkg --root="$target" --log="$work/dpkg.log" --force-not-root --force-depends "$@" >"$work/dpkg.out" 2>&1 \
  || bad "dpkg $*: $(cat "$work/dpkg.out")"; }
dpkg_in -i "$deb"
[[ -x $target$host ]] || bad "no executable $host"
for file in "${!manifests[@]}"; do
  read -r family extension <<<"${manifests[$file]}"
  path=$(node "$check_js" manifest "$target$file" "$family" "${id[0]}" "$extension") || bad "$file: $path"
  [[ $path == "$host" ]] || bad "$file names $path, not $host"
done
# No module named: the host's default, p11-kit's proxy, is what the package depends on.
! grep -q '^[[:space:]]*module[[:space:]]*=' "$target/etc/npzvcert/pkcs11.conf" || bad "pkcs11.conf names a module"
# The installed, stripped host answers a browser's first message.
printf '\x1b\x00\x00\x00{"id":1,"member":"Version"}' | "$target$host" >"$work/reply" 2>"$work/stderr"
node "$check_js" reply "$work/reply" '{"id":1,"ok":true,"value":1022}' || bad "the installed host: $(cat "$work/stderr")"

left() { (cd "$target" && find . -mindepth 1 -path ./var -prune -o -print | sort); }
dpkg_in -r npzvcert-host
[[ $(left) == "$(printf '%s\n' ./etc ./etc/npzvcert ./etc/npzvcert/pkcs11.conf)" ]] \
  || bad "removing left other than the conffile: $(left | paste -sd' ')"
dpkg_in -P npzvcert-host
[[ -z $(left) ]] || bad "purging left $(left | paste -sd' ')"
[[ -z $(dpkg --root="$target" -l npzvcert-host 2>/dev/null | grep '^[a-z][a-z] ') ]] \
  || bad "dpkg still knows the package: $(dpkg --root="$target" -l npzvcert-host | tail -1)"
(( fail == 0 )) && echo "the package installs, names the host in every manifest, and goes without a trace"
exit $fail
