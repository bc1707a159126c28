#!/usr/bin/env bash
# The page library's quick start as written: its server-side checks (OpenSSL,
# Node.js, Python), taken from web/README.md, accept CMS signatures of the
# shapes the host makes (attached and detached; SHA-1 and SHA-256; with and
# without signed attributes) and refuse other data and another root.
#   quickstart_test.sh <folder with node_modules (pkijs, asn1js)>
set -euo pipefail
modules="$(cd "$1" && pwd)/node_modules"
root=$(cd "$(dirname "$0")/../.." && pwd)
python=/usr/bin/python3  # Debian's, with python3-asn1crypto and python3-cryptography
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
ln -s "$modules" node_modules
source "$root/tests/web/quickstart_blocks.sh"
for name in verify.sh verify.mjs verify.py; do
  quickstart_block "$root/web/README.md" "$name" > "$name"
  [[ -s $name ]] || { echo "FAIL  web/README.md has no $name block"; exit 1; }
done

quiet() { openssl "$@" 2>/dev/null; }
quiet req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out root.pem -subj "/CN=Quick Start Root" -days 2
quiet req -x509 -newkey rsa:2048 -nodes -keyout other.key -out other-root.pem -subj "/CN=Quick Start Root" -days 2
quiet req -newkey rsa:1024 -nodes -keyout user.key -out user.csr -subj "/CN=Alice"
quiet x509 -req -in user.csr -CA root.pem -CAkey ca.key -set_serial 31249 -days 2 -out user.pem
printf 'I agree to the terms, signé.' > data.bin
printf 'I agree to other terms.' > other.bin

failed=0
expect() {  # expect <0|1: should it verify> <label> command...
  local want=$1 label=$2; shift 2
  if "$@" >out.txt 2>&1; then got=0; else got=1; fi
  if [[ $got == "$want" ]]; then echo "PASS  $label"; else echo "FAIL  $label: $(tail -3 out.txt)"; failed=1; fi
}
for md in sha1 sha256; do
  for attrs in "" -noattr; do
    shape="$md${attrs:+ without signed attributes}"
    quiet cms -sign -binary -md "$md" $attrs -signer user.pem -inkey user.key -in data.bin -outform DER \
      -out signature.der
    quiet cms -sign -binary -md "$md" $attrs -nodetach -signer user.pem -inkey user.key -in data.bin \
      -outform DER -out attached.der
    cp data.bin signed.bin
    expect 0 "OpenSSL, $shape" bash verify.sh
    expect 0 "OpenSSL gives the attached data back, $shape" cmp data.bin signed.bin
    for tool in "node verify.mjs" "$python verify.py"; do
      expect 0 "${tool%% *}, detached, $shape" $tool signature.der root.pem data.bin
      expect 0 "${tool%% *}, attached, $shape" $tool attached.der root.pem
      expect 1 "${tool%% *} refuses other data, $shape" $tool signature.der root.pem other.bin
      expect 1 "${tool%% *} refuses another root, $shape" $tool attached.der other-root.pem
    done
  done
done
exit $failed
