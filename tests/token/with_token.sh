#!/usr/bin/env bash
# Runs a command with a SoftHSM2 token of its own in DIR, made afresh (label
# T, user PIN 1234), never the user's: SOFTHSM2_CONF names it and
# ZVCERT_PKCS11_MODULE the module. ZVCERT_TEST_NO_TOKEN_CONF names a
# configuration of the same module that has no token, and
# ZVCERT_TEST_HOSTILE_TOKEN_CONF one whose token's label hides a
# right-to-left override.
#
#   with_token.sh DIR MODULE -- COMMAND [ARGS...]
set -euo pipefail
dir=$1 module=$2
shift 3
rm -rf "$dir"
mkdir -p "$dir/tokens" "$dir/none" "$dir/hostile"
for name in tokens none hostile; do
  printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' \
    "$dir/$name" > "$dir/$name.conf"
done
export SOFTHSM2_CONF=$dir/tokens.conf ZVCERT_PKCS11_MODULE=$module
export ZVCERT_TEST_NO_TOKEN_CONF=$dir/none.conf ZVCERT_TEST_HOSTILE_TOKEN_CONF=$dir/hostile.conf
softhsm2-util --init-token --free --label T --pin 1234 --so-pin 5678 >/dev/null
SOFTHSM2_CONF=$dir/hostile.conf softhsm2-util --init-token --free --label $'Pay‮gpj.exe' \
  --pin 1234 --so-pin 5678 >/dev/null
exec "$@"
