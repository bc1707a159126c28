#!/usr/bin/env bash
# Release configurations: only the authority's own extension identity
# configures, and the plug-in is then locked to ZVCERT_PAGE_ORIGINS or, when
# unset, to the extension's origins; each refusal says why. Configures only,
# all in one folder, so the compilers are checked once.
set -uo pipefail
root=$1 fail=0
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
node "$root/extension/identity.js" --out "$work/own" --host-name com.example.ca.zvcert \
  --firefox-id zvcert@example-ca.com >/dev/null || { echo "FAIL: no own identity made"; exit 1; }
cp "$root/extension/identity.json" "$work/copy.json"
while IFS='|' read -r identity page extension message locked; do
  file=$work/$identity
  [[ $identity == committed ]] && file=$root/extension/identity.json
  rm -f "$work/build/src/page_origins.cpp"
  # CMake folds long messages over lines; fold them back for grep.
  out=$(cmake -S "$root" -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
    -DZVCERT_BUILD_TESTS=OFF -DZVCERT_RELEASE=ON -DZVCERT_DOWNLOAD_URL=https://ca.example.com/npzvcert/ \
    -DZVCERT_EXTENSION_IDENTITY="$file" -DZVCERT_PAGE_ORIGINS="$page" \
    -DZVCERT_EXTENSION_ORIGINS="$extension" 2>&1 | tr -s '\n ' ' ')
  status=${PIPESTATUS[0]}
  row="$identity, page origins '$page', extension origins '$extension'"
  grep -qF -- "$message" <<<"$out" || { echo "FAIL: $row: expected '$message' in: $out"; fail=1; }
  if [[ -z $locked ]]; then
    (( status != 0 )) || { echo "FAIL: $row configured"; fail=1; }
    continue
  fi
  (( status == 0 )) || { echo "FAIL: $row refused: $out"; fail=1; continue; }
  lock=$(sed -n 's/^ *"\(.*\)",$/\1/p' "$work/build/src/page_origins.cpp" | tr '\n' ' ')
  [[ $lock == "$locked " ]] || { echo "FAIL: $row: locked to '$lock', expected '$locked'"; fail=1; }
  key=$(node -p 'require(process.argv[1]).publicKey' "$file")
  grep -qF "\"key\": \"$key\"" "$work/build/extension/manifest.json" \
    || { echo "FAIL: $row: the extension does not carry the identity's key"; fail=1; }
  # The DLL's and host's version resources, which the installer reads.
  host=$(node -p 'require(process.argv[1]).hostName' "$file")
  grep -qxF '#define ZVCERT_RC_BUILD "release"' "$work/build/src/build_identity.h" \
    && grep -qxF "#define ZVCERT_RC_NATIVE_HOST \"$host\"" "$work/build/src/build_identity.h" \
    || { echo "FAIL: $row: the binaries would not say they are a release for $host"; fail=1; }
done <<'CASES'
committed|https://ca.example.com|https://ca.example.com|ZVCERT_EXTENSION_IDENTITY: |
copy.json||https://ca.example.com|publicKey, chromiumId, firefoxId, hostName are the development identity's|
own/identity.json|https://ra.example.com:8443|https://ca.example.com|-- Configuring done|https://ra.example.com:8443
own/identity.json||https://ca.example.com;https://ra.example.com|ZVCERT_PAGE_ORIGINS is not set: the plug-in serves the pages of ZVCERT_EXTENSION_ORIGINS only|https://ca.example.com https://ra.example.com
own/identity.json|||neither ZVCERT_PAGE_ORIGINS nor ZVCERT_EXTENSION_ORIGINS is set: the plug-in would serve every page|
own/identity.json| |https://ca.example.com|ZVCERT_PAGE_ORIGINS=' ' holds no origin: a release would serve every page|
own/identity.json|,|https://ca.example.com|ZVCERT_PAGE_ORIGINS=',' holds no origin|
own/identity.json|;|https://ca.example.com|holds no origin|
CASES
exit $fail
