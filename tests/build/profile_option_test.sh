#!/usr/bin/env bash
# The profile options take exactly their listed values; anything else stops
# the configuration with the reason.
set -uo pipefail
root=$1 fail=0
while IFS='|' read -r options expected; do
  out=$(cmake $options -P "$root/cmake/BuildProfile.cmake" 2>&1 | tr -s '\n ' ' ')
  if [[ -z $expected ]]; then
    [[ -z $out ]] || { echo "FAIL: $options refused: $out"; fail=1; }
  else
    grep -qF -- "$expected" <<<"$out" || { echo "FAIL: $options: expected '$expected' in: $out"; fail=1; }
  fi
done <<'CASES'
-DZVCERT_KEY_BITS=1024|
-DZVCERT_KEY_BITS=4096 -DZVCERT_SIGNATURE_HASH=SHA512 -DZVCERT_SERIAL_BYTES=16|
-DZVCERT_KEY_BITS=2048 -DZVCERT_SIGNATURE_HASH=SHA256 -DZVCERT_SERIAL_BYTES=20|
-DZVCERT_KEY_BITS=512|ZVCERT_KEY_BITS is "512"; it must be one of 1024, 2048, 3072, 4096.
-DZVCERT_KEY_BITS=2048bits|ZVCERT_KEY_BITS is "2048bits";
-DZVCERT_SIGNATURE_HASH=sha256|ZVCERT_SIGNATURE_HASH is "sha256"; it must be one of SHA1, SHA256, SHA384, SHA512.
-DZVCERT_SIGNATURE_HASH=MD5|ZVCERT_SIGNATURE_HASH is "MD5";
-DZVCERT_SERIAL_BYTES=32|ZVCERT_SERIAL_BYTES is "32"; it must be one of 8, 16, 20.
-DZVCERT_AUTHORITY_CHECK=signature|
-DZVCERT_AUTHORITY_CHECK=Signature|ZVCERT_AUTHORITY_CHECK is "Signature"; it must be one of name, signature.
-DZVCERT_PENDING_KEYS=store -DZVCERT_PENDING_DAYS=3650 -DZVCERT_PENDING_LIMIT=1|
-DZVCERT_PENDING_KEYS=disk|ZVCERT_PENDING_KEYS is "disk"; it must be one of memory, store.
-DZVCERT_PENDING_DAYS=0|ZVCERT_PENDING_DAYS is "0"; it must be a whole number from 1 to 3650.
-DZVCERT_PENDING_LIMIT=8x|ZVCERT_PENDING_LIMIT is "8x";
-DZVCERT_PENDING_LIMIT=65|ZVCERT_PENDING_LIMIT is "65";
CASES
exit $fail
