#!/usr/bin/env bash
# The installer under Wine, built by scripts/build-installer.sh from the
# built DLL:
#   installer_test.sh round-trip   <source root> <dll> <bin dir> <wine-run.sh> <version>
#   installer_test.sh code-signing <source root> <dll> <bin dir> <wine-run.sh> <version>
# <bin dir> holds zvcert-probe.exe and zvcert-bridge.exe; <version> is the
# project's a.b.c.d. Runs inside the Windows test run, whose Wine prefix and
# wineserver are already up; every Windows program goes through wine-run.sh
# so that it sees that prefix.
set -uo pipefail
(( $# == 6 )) || { echo "usage: $0 round-trip|code-signing <root> <dll> <bin dir> <wine-run.sh> <version>" >&2; exit 2; }
mode=$1 root=$2 dll=$3 bin=$4 W=$5 version=$6
build_installer=$root/scripts/build-installer.sh
digits=${version//./}          # what the Version property reports
# The environment of whoever runs the tests must not change what is built.
unset ZVCERT_SIGN_CERT ZVCERT_SIGN_KEY ZVCERT_SIGN_PASS ZVCERT_SIGN_CAFILE ZVCERT_SIGN_URL ZVCERT_PLUGIN_ID
# A bridge that died early must fail a check, not kill the test with SIGPIPE.
trap '' PIPE
fail=0
bad() { echo "FAIL: $*"; fail=1; }
fatal() { echo "FAIL: $*"; exit 1; }

work=$(mktemp -d)
bridge_pid=
cleanup_hooks=()
on_exit() {
  if [[ -n $bridge_pid ]]; then kill "$bridge_pid" 2>/dev/null; wait "$bridge_pid" 2>/dev/null; fi
  rm -rf "$work"
  local hook
  for hook in "${cleanup_hooks[@]}"; do "$hook"; done
}
trap on_exit EXIT

# ---- Wine helpers -----------------------------------------------------------

win() { "$W" "$@"; }
# Windows form of a Linux path (Wine maps / to Z:).
winpath() { local p; p=$(realpath -m "$1"); printf 'Z:%s' "${p//\//\\}"; }
unixpath() { win winepath -u "$1" 2>/dev/null | tr -d '\r'; }
win_env() { win cmd /c echo "%$1%" 2>/dev/null | tr -d '\r'; }
has_key() { win reg query "$1" >/dev/null 2>&1; }
# One value of a key as reg prints it ("    name    REG_SZ    value").
reg_value() {
  local prefix="    $2    " line rest
  while IFS= read -r line; do
    line=${line%$'\r'}
    if [[ $line == "$prefix"REG_* ]]; then
      rest=${line#"$prefix"}
      [[ $rest == *"    "* ]] && printf '%s' "${rest#*    }"
      return 0
    fi
  done < <(win reg query "$1" /v "$2" 2>/dev/null)
  return 1
}
# The Version a browser's page reads from the DLL at a Windows path.
probe_version() {
  win "$bin/zvcert-probe.exe" "$1" 2>&1 | tr -d '\r' | awk '$1 == "Version" {print $2}'
}
# NSIS runs its uninstaller from a copy in a temporary folder, so that it can
# delete itself, and returns at once. Doing the same here, with _?= naming the
# install folder, keeps the original deletable and lets the test wait.
run_uninstaller() {  # <Windows path of uninstall.exe> <Windows install folder>
  local copy=$work/uninstaller-copy
  rm -rf "$copy"; mkdir -p "$copy"
  cp "$(unixpath "$1")" "$copy/uninstall.exe" || return 99
  # _?= is only seen unquoted, and Wine quotes arguments with spaces.
  local folder=$2
  [[ $folder == *' '* ]] && folder=$(win winepath -s "$folder" 2>/dev/null | tr -d '\r')
  win "$(winpath "$copy/uninstall.exe")" /S "_?=$folder"
}

PLUGIN_ROOT='HKCU\Software\MozillaPlugins'
UNINSTALL_KEY='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\npzvcert'

# ---- round trip ---------------------------------------------------------------

round_trip() {
  # Not local: the clean-up runs on exit, after this function.
  id='@zvcert.test/npzvcert'
  key="$PLUGIN_ROOT\\$id"
  local appdata vendor_win
  appdata=$(win_env LOCALAPPDATA)
  [[ $appdata == ?:\\* ]] || fatal "cannot read LOCALAPPDATA under Wine (got '$appdata')"
  vendor_win="$appdata\\ZVCERT"
  vendor=$(unixpath "$vendor_win")
  local profile; profile=$(unixpath "$(win_env USERPROFILE)")
  [[ -d $profile ]] || fatal "no Wine user profile folder ($profile)"
  other_key="$PLUGIN_ROOT\\@other.test/npother"
  other_uninstall='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\zvcert-test-other'

  # Leaves the shared prefix as it was, whatever step failed.
  clean_round_trip() {
    win reg delete "$key" /f >/dev/null 2>&1
    win reg delete "$UNINSTALL_KEY" /f >/dev/null 2>&1
    win reg delete "$other_key" /f >/dev/null 2>&1
    win reg delete "$other_uninstall" /f >/dev/null 2>&1
    [[ $vendor == */ZVCERT ]] && rm -rf "$vendor"
  }
  clean_round_trip
  cleanup_hooks+=(clean_round_trip)

  env -u ZVCERT_SIGN_CERT -u ZVCERT_SIGN_KEY -u ZVCERT_PLUGIN_ID \
    "$build_installer" "$dll" "$work/out" >"$work/build.log" 2>&1 \
    || { cat "$work/build.log"; fatal "build-installer.sh failed"; }
  local setup; setup=$(winpath "$work/out/npzvcert-setup.exe")

  # Someone else's things beside ours: another plug-in, another program's
  # uninstall entry, a file in our vendor folder.
  win reg add "$other_key" /v Path /t REG_SZ /d 'C:\other\npother.dll' /f >/dev/null
  win reg add "$other_uninstall" /v DisplayName /t REG_SZ /d 'Other program' /f >/dev/null
  mkdir -p "$vendor" && echo keep >"$vendor/keep.txt"
  snapshot "$profile" before

  win "$setup" /S; local status=$?
  (( status == 0 )) || fatal "silent install exited with $status"

  # The browsers' registration, value by value.
  has_key "$key" || fatal "no key $key"
  local name expected actual
  while IFS='|' read -r name expected; do
    actual=$(reg_value "$key" "$name") || { bad "$key has no value $name"; continue; }
    [[ $actual == "$expected" ]] || bad "$name is '$actual', expected '$expected'"
  done <<EOF
ProductName|Dastro certificate control
Description|NPRuntime scriptability API test plugin
Vendor|ZVCERT
Version|$version
EOF
  has_key "$key\\MimeTypes\\application/zvcert" || bad "no MimeTypes\\application/zvcert subkey"

  local path; path=$(reg_value "$key" Path) || fatal "no Path value"
  # Per user: under the user's local application data, where no
  # administrator rights are needed.
  [[ ${path,,} == "${appdata,,}\\"* ]] || bad "Path $path is not under $appdata"
  [[ ${path##*\\} == np*.dll ]] || bad "browsers skip DLLs not named np*.dll: $path"
  local path_unix; path_unix=$(unixpath "$path")
  [[ -f $path_unix ]] || fatal "Path $path names no file"
  cmp -s "$path_unix" "$dll" || bad "the installed DLL differs from the built one"

  # Add/Remove entry.
  local uninstaller location
  uninstaller=$(reg_value "$UNINSTALL_KEY" UninstallString) || fatal "no Uninstall entry"
  uninstaller=${uninstaller//\"/}
  location=$(reg_value "$UNINSTALL_KEY" InstallLocation) || bad "no InstallLocation"
  [[ -f $(unixpath "$uninstaller") ]] || fatal "UninstallString $uninstaller names no file"
  [[ $(reg_value "$UNINSTALL_KEY" DisplayVersion) == "$version" ]] || bad "DisplayVersion is not $version"
  [[ $(reg_value "$UNINSTALL_KEY" QuietUninstallString) == *' /S' ]] || bad "QuietUninstallString lacks /S"
  [[ ${path,,} == "${location,,}\\"* ]] || bad "the DLL ($path) is not in InstallLocation ($location)"

  # A browser loading it from the registered path.
  actual=$(probe_version "$path")
  [[ $actual == "$digits" ]] || bad "probe read Version '$actual' from $path, expected $digits"

  # While a browser has the DLL loaded, neither a new setup nor the
  # uninstaller may half-do their job: both stop, leaving everything working.
  local fifo=$work/bridge.in
  mkfifo "$fifo"
  win "$bin/zvcert-bridge.exe" "$path" <"$fifo" >"$work/bridge.out" 2>&1 &
  bridge_pid=$!
  exec 3>"$fifo"
  echo $'get\tVersion' >&3
  local i
  for ((i = 0; i < 200; i++)); do grep -q '^ok' "$work/bridge.out" && break; sleep 0.1; done
  if grep -q "^ok	1	i:$digits" "$work/bridge.out"; then
    win "$setup" /S; status=$?
    (( status == 2 )) || bad "setup over a loaded DLL exited with $status, expected 2"
    run_uninstaller "$uninstaller" "$location"; status=$?
    (( status == 2 )) || bad "uninstaller with the DLL loaded exited with $status, expected 2"
    [[ -f $path_unix ]] || bad "the loaded DLL was removed"
    [[ -f $(unixpath "$uninstaller") ]] || bad "the uninstaller went while the DLL stayed"
    [[ $(reg_value "$key" Path) == "$path" ]] || bad "registration changed while the DLL was loaded"
    has_key "$UNINSTALL_KEY" || bad "Uninstall entry went while the DLL stayed"
  else
    bad "the bridge did not load $path: $(tr '\n' ' ' <"$work/bridge.out")"
  fi
  echo quit >&3; exec 3>&-
  for ((i = 0; i < 200; i++)); do kill -0 "$bridge_pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$bridge_pid" 2>/dev/null && bad "the bridge did not quit"
  kill "$bridge_pid" 2>/dev/null
  wait "$bridge_pid"; status=$?; bridge_pid=
  (( status == 0 )) || bad "the bridge exited with $status"

  # Setting up again over an installed copy (an update) works once it is free.
  win "$setup" /S; status=$?
  (( status == 0 )) || bad "second install exited with $status"
  cmp -s "$path_unix" "$dll" || bad "the DLL after the second install differs"

  run_uninstaller "$uninstaller" "$location"; status=$?
  (( status == 0 )) || bad "silent uninstall exited with $status"

  # Ours all gone...
  has_key "$key" && bad "$key is left"
  has_key "$UNINSTALL_KEY" && bad "the Uninstall entry is left"
  [[ -e $path_unix ]] && bad "the DLL is left"
  [[ -e $(dirname "$path_unix")/uninstall.exe ]] && bad "uninstall.exe is left"
  [[ -e $(dirname "$path_unix") ]] && bad "the emptied install folder is left: $(ls -A "$(dirname "$path_unix")")"
  # ...and nothing else.
  [[ $(reg_value "$other_key" Path) == 'C:\other\npother.dll' ]] || bad "the other plug-in's key was touched"
  has_key "$other_uninstall" || bad "another program's Uninstall entry was removed"
  [[ -f $vendor/keep.txt ]] || bad "a file in the vendor folder was removed"
  snapshot "$profile" after
  local gone
  gone=$(comm -23 "$work/before.reg" "$work/after.reg")
  [[ -z $gone ]] && gone=$(comm -23 "$work/before.files" "$work/after.files")
  [[ -z $gone ]] || bad "the round trip removed what was there before it:"$'\n'"$(head -20 <<<"$gone")"
  local left
  left=$(comm -13 "$work/before.reg" "$work/after.reg")
  [[ -z $left ]] && left=$(comm -13 "$work/before.files" "$work/after.files")
  [[ -z $left ]] || bad "the round trip left behind:"$'\n'"$(head -20 <<<"$left")"
}

# The user's registry (key<TAB>line for every line) and profile files, sorted.
snapshot() {
  win reg export HKCU "$(winpath "$work/hkcu.reg")" /y >/dev/null 2>&1 || fatal "reg export failed"
  iconv -f UTF-16 -t UTF-8 "$work/hkcu.reg" | tr -d '\r' \
    | awk '/^\[/ {key = $0; print key; next} NF {print key "\t" $0}' | LC_ALL=C sort >"$work/$2.reg"
  (cd "$1" && find . | LC_ALL=C sort) >"$work/$2.files"
  [[ -s $work/$2.reg ]] || fatal "empty registry snapshot"
}

# ---- code signing -------------------------------------------------------------

# Exit status and report both: the report names the signer and the digests,
# so this certificate must have signed exactly this content.
verify_good() {  # <file> <CA file> <expected signer CN>
  local log status
  log=$(osslsigncode verify -CAfile "$2" -in "$1" 2>&1); status=$?
  local current calculated
  current=$(sed -n 's/^Current message digest *: *\([0-9A-F]*\).*/\1/p' <<<"$log")
  calculated=$(sed -n 's/^Calculated message digest *: *\([0-9A-F]*\).*/\1/p' <<<"$log")
  if (( status != 0 )) || ! grep -q '^Signature verification: ok' <<<"$log" \
      || [[ $(tail -1 <<<"$log") != Succeeded ]] || grep -q MISMATCH <<<"$log" \
      || [[ -z $current || $current != "$calculated" ]] \
      || ! grep -q "Subject: /CN=$3\$" <<<"$log" \
      || ! grep -q '^Message digest algorithm *: *SHA256' <<<"$log"; then
    bad "$(basename "$1") does not verify as signed by $3 with SHA-256 (exit $status):"$'\n'"$log"
  fi
}

verify_refused() {  # <file> <CA file> <why it must fail> <pattern the report must show>
  local log status
  log=$(osslsigncode verify -CAfile "$2" -in "$1" 2>&1); status=$?
  (( status != 0 )) || bad "$3: verification passed"
  grep -q '^Signature verification: ok' <<<"$log" && bad "$3: the report says the signature is ok"
  grep -q -- "$4" <<<"$log" || bad "$3: the report lacks '$4':"$'\n'"$log"
}

flip_byte() {  # <file> <offset>: one bit pattern inverted in place
  local b
  b=$(od -An -tu1 -j "$2" -N1 "$1" | tr -d ' ')
  printf "\\$(printf '%03o' $((b ^ 0xff)))" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

code_signing() {
  id='@zvcert.test/npzvcert-signed'
  key="$PLUGIN_ROOT\\$id"     # not local, for the clean-up on exit
  local cn='ZVCERT Throwaway Code Signing'
  clean_code_signing() {
    win reg delete "$key" /f >/dev/null 2>&1
    win reg delete "$UNINSTALL_KEY" /f >/dev/null 2>&1
  }
  clean_code_signing
  cleanup_hooks+=(clean_code_signing)

  local certs=$work/certs
  mkdir -p "$certs"
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$certs/key.pem" -out "$certs/cert.pem" \
    -days 2 -subj "/CN=$cn" -addext 'extendedKeyUsage=codeSigning' \
    -addext 'keyUsage=critical,digitalSignature' >/dev/null 2>&1 || fatal "openssl could not make the certificate"
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$certs/other-key.pem" -out "$certs/other.pem" \
    -days 2 -subj '/CN=ZVCERT Unrelated' >/dev/null 2>&1 || fatal "openssl could not make the other certificate"
  openssl pkey -in "$certs/key.pem" -aes256 -passout pass:'s3cret phrase' -out "$certs/key-locked.pem" \
    || fatal "openssl could not lock the key"

  local log status
  # Unsigned: said plainly, and the DLL shipped as built.
  log=$(env -u ZVCERT_SIGN_CERT -u ZVCERT_SIGN_KEY "$build_installer" "$dll" "$work/plain" 2>&1) \
    || bad "the unsigned build failed: $log"
  grep -qF 'unsigned: set ZVCERT_SIGN_CERT and ZVCERT_SIGN_KEY to sign' <<<"$log" \
    || bad "the unsigned build did not say so: $log"
  cmp -s "$dll" "$work/plain/npzvcert.dll" || bad "the unsigned build changed the DLL"
  verify_refused "$work/plain/npzvcert-setup.exe" "$certs/cert.pem" "unsigned installer" 'No signature found'

  # Half a signing configuration stops the build rather than ship unsigned.
  log=$(ZVCERT_SIGN_CERT=$certs/cert.pem env -u ZVCERT_SIGN_KEY "$build_installer" "$dll" "$work/half" 2>&1) \
    && bad "a certificate without a key was accepted: $log"
  [[ -e $work/half/npzvcert-setup.exe ]] && bad "an installer was written without its key"

  # A key under a passphrase: the right one signs, a wrong one stops the build.
  log=$(ZVCERT_SIGN_CERT=$certs/cert.pem ZVCERT_SIGN_KEY=$certs/key-locked.pem ZVCERT_SIGN_PASS='wrong' \
        "$build_installer" "$dll" "$work/wrong-pass" 2>&1) && bad "a wrong passphrase was accepted: $log"
  [[ -e $work/wrong-pass/npzvcert-setup.exe ]] && bad "an installer was written with a wrong passphrase"
  log=$(ZVCERT_SIGN_CERT=$certs/cert.pem ZVCERT_SIGN_KEY=$certs/key-locked.pem ZVCERT_SIGN_PASS='s3cret phrase' \
        "$build_installer" "$dll" "$work/locked" 2>&1) || bad "the passphrase-protected key did not sign: $log"
  [[ -f $work/locked/npzvcert-setup.exe ]] && verify_good "$work/locked/npzvcert-setup.exe" "$certs/cert.pem" "$cn"

  # The signed build, with its own plug-in id.
  log=$(ZVCERT_SIGN_CERT=$certs/cert.pem ZVCERT_SIGN_KEY=$certs/key.pem \
        "$build_installer" "$dll" "$work/signed" "$id" 2>&1) || fatal "the signed build failed: $log"
  grep -q unsigned <<<"$log" && bad "the signed build calls itself unsigned: $log"
  local signed_dll=$work/signed/npzvcert.dll setup=$work/signed/npzvcert-setup.exe
  local file
  for file in "$signed_dll" "$setup"; do
    verify_good "$file" "$certs/cert.pem" "$cn"
    verify_refused "$file" "$certs/other.pem" "$(basename "$file") against an unrelated CA" 'Signature verification: failed'
    cp "$file" "$work/tampered"
    flip_byte "$work/tampered" $(( $(stat -c %s "$file") / 2 ))
    verify_refused "$work/tampered" "$certs/cert.pem" "$(basename "$file") with one byte changed" MISMATCH
  done

  # Still a DLL a browser loads.
  local actual
  actual=$(probe_version "$(winpath "$signed_dll")")
  [[ $actual == "$digits" ]] || bad "probe read Version '$actual' from the signed DLL, expected $digits"

  # The installer carries the signed copy, registered under the id given.
  local inst=$work/installed
  win "$(winpath "$setup")" /S "/D=$(winpath "$inst")"; status=$?
  (( status == 0 )) || fatal "installing the signed build exited with $status"
  cmp -s "$inst/npzvcert.dll" "$signed_dll" || bad "the signed installer did not install the signed DLL"
  [[ $(reg_value "$key" Path) == "$(winpath "$inst")\\npzvcert.dll" ]] \
    || bad "the signed build is not registered under $id"
  has_key "$PLUGIN_ROOT\\@zvcert.test/npzvcert" && bad "the signed build also registered the default id"
  run_uninstaller "$(winpath "$inst/uninstall.exe")" "$(winpath "$inst")"; status=$?
  (( status == 0 )) || bad "uninstalling the signed build exited with $status"
  has_key "$key" && bad "$key is left after uninstalling"
  [[ -e $inst ]] && bad "the signed build's install folder is left"
}

case $mode in
  round-trip) round_trip ;;
  code-signing) code_signing ;;
  *) echo "unknown mode $mode" >&2; exit 2 ;;
esac
exit $fail
