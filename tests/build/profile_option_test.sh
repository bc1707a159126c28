#!/usr/bin/env bash
# The profile options take exactly their listed values; anything else stops
# the configuration with the reason. A profile name sets them all, an option
# given beside it wins, and a tree configured again follows a new profile in
# every option not given.
set -uo pipefail
root=$1 fail=0
# Each row's options go before the command's own arguments.
check_rows() {
  while IFS='|' read -r options expected; do
    out=$(cmake $options "$@" 2>&1 | tr -s '\n ' ' ')
    grep -qF -- "$expected" <<<"$out" || { echo "FAIL: $options: expected '$expected' in: $out"; fail=1; }
  done
}
check_rows -P "$root/cmake/BuildProfile.cmake" <<'CASES'
|Profile original: RSA-1024, SHA1, serials of up to 8 bytes, the authority known by its name, pending keys in memory
-DZVCERT_PROFILE=current|Profile current: RSA-2048, SHA256, serials of up to 20 bytes, the authority known by its signature, pending keys in store
-DZVCERT_PROFILE=current -DZVCERT_KEY_BITS=4096|Profile current with ZVCERT_KEY_BITS given: RSA-4096, SHA256,
-DZVCERT_PROFILE=Current|ZVCERT_PROFILE is "Current"; it must be one of original, current.
-DZVCERT_KEY_BITS=1024|Profile original with ZVCERT_KEY_BITS given: RSA-1024,
-DZVCERT_KEY_BITS=4096 -DZVCERT_SIGNATURE_HASH=SHA512 -DZVCERT_SERIAL_BYTES=16|RSA-4096, SHA512, serials of up to 16 bytes
-DZVCERT_KEY_BITS=2048 -DZVCERT_SIGNATURE_HASH=SHA256 -DZVCERT_SERIAL_BYTES=20|RSA-2048, SHA256, serials of up to 20 bytes
-DZVCERT_KEY_BITS=512|ZVCERT_KEY_BITS is "512"; it must be one of 1024, 2048, 3072, 4096.
-DZVCERT_KEY_BITS=2048bits|ZVCERT_KEY_BITS is "2048bits";
-DZVCERT_SIGNATURE_HASH=sha256|ZVCERT_SIGNATURE_HASH is "sha256"; it must be one of SHA1, SHA256, SHA384, SHA512.
-DZVCERT_SIGNATURE_HASH=MD5|ZVCERT_SIGNATURE_HASH is "MD5";
-DZVCERT_SERIAL_BYTES=32|ZVCERT_SERIAL_BYTES is "32"; it must be one of 8, 16, 20.
-DZVCERT_AUTHORITY_CHECK=signature|the authority known by its signature
-DZVCERT_AUTHORITY_CHECK=Signature|ZVCERT_AUTHORITY_CHECK is "Signature"; it must be one of name, signature.
-DZVCERT_PENDING_KEYS=store -DZVCERT_PENDING_DAYS=3650 -DZVCERT_PENDING_LIMIT=1|pending keys in store
-DZVCERT_PENDING_KEYS=disk|ZVCERT_PENDING_KEYS is "disk"; it must be one of memory, store.
-DZVCERT_PENDING_DAYS=0|ZVCERT_PENDING_DAYS is "0"; it must be a whole number from 1 to 3650.
-DZVCERT_PENDING_LIMIT=8x|ZVCERT_PENDING_LIMIT is "8x";
-DZVCERT_PENDING_LIMIT=65|ZVCERT_PENDING_LIMIT is "65";
CASES

# One tree, configured again row after row.
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
printf 'cmake_minimum_required(VERSION 3.20)\nproject(profile NONE)\nadd_library(zvcert_options INTERFACE)\ninclude(%s)\n%s\n' \
  "$root/cmake/BuildProfile.cmake" 'zvcert_write_profile_json(${CMAKE_BINARY_DIR}/profile.json TEXT rootCertificate [[C:\a "b".pem]] FLAG release ON)' \
  >"$tree/CMakeLists.txt"
check_rows -S "$tree" -B "$tree/build" <<'STEPS'
-DZVCERT_PROFILE=current -DZVCERT_KEY_BITS=2048|Profile current with ZVCERT_KEY_BITS given: RSA-2048, SHA256, serials of up to 20 bytes
-DZVCERT_PROFILE=original|Profile original with ZVCERT_KEY_BITS given: RSA-2048, SHA1, serials of up to 8 bytes, the authority known by its name, pending keys in memory
-UZVCERT_KEY_BITS -DZVCERT_SERIAL_BYTES=16|Profile original with ZVCERT_SERIAL_BYTES given: RSA-1024, SHA1, serials of up to 16 bytes
-DZVCERT_PROFILE=current|Profile current with ZVCERT_SERIAL_BYTES given: RSA-2048, SHA256, serials of up to 16 bytes, the authority known by its signature, pending keys in store
-DZVCERT_SERIAL_BYTES=8|Profile current with ZVCERT_SERIAL_BYTES given: RSA-2048, SHA256, serials of up to 8 bytes
-DZVCERT_PROFILE=newest|ZVCERT_PROFILE is "newest"; it must be one of original, current.
STEPS

# What the C++ and the scripts read of the last profile that configured.
while IFS='|' read -r expression expected; do
  got=$(node -p "const json = require('$tree/build/profile.json'); $expression" 2>&1)
  [[ $got == "$expected" ]] || { echo "FAIL: $expression is '$got', not '$expected'"; fail=1; }
done <<'FIELDS'
[json.profile, json.keyBits, json.signatureHash, json.serialBytes, json.pendingKeys].join()|current,2048,SHA256,8,store
[json.rootCertificate, json.release].join(" ")|C:\a "b".pem true
FIELDS
header=$(tr -s '\n ' ' ' <"$tree/build/generated/build_profile_options.h")
for expected in 'kKeyBits = 2048;' 'enum class SignatureHash { Sha1, Sha256, Sha384, Sha512 }; inline constexpr SignatureHash kSignatureHash = SignatureHash::Sha256;' \
                'kSerialBytes = 8;' 'kAuthorityCheck = AuthorityCheck::Signature;' 'kPendingKeys = PendingKeys::Store;'; do
  grep -qF -- "$expected" <<<"$header" || { echo "FAIL: the header lacks '$expected': $header"; fail=1; }
done
exit $fail
