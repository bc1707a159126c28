#!/usr/bin/env bash
# The installer under Wine, built by scripts/build-installer.sh from the
# built DLL and native-messaging host:
#   installer_test.sh round-trip   <source root> <dll> <host exe> <bin dir> <wine-run.sh> <version>
#   installer_test.sh code-signing <source root> <dll> <host exe> <bin dir> <wine-run.sh> <version>
#   installer_test.sh build-inputs <source root> <dll> <host exe> <bin dir> <wine-run.sh> <version>
#   installer_test.sh msi          <source root> <dll> <host exe> <bin dir> <wine-run.sh> <version>
# <host exe> is the npzvcert-host.exe built beside the DLL; <bin dir> holds
# zvcert-probe.exe and npzvcert-host-checks.exe; <version> is the project's a.b.c.d.
# An x64 build's DLL makes the x64 packages, which carry the x86 plug-in
# named by ZVCERT_X86_DLL too.
# Runs inside the Windows test run, whose Wine prefix and wineserver are
# already up; every Windows program goes through wine-run.sh so that it sees
# that prefix. build-inputs runs no Windows program.
set -uo pipefail
(( $# == 7 )) || { echo "usage: $0 round-trip|code-signing|build-inputs|msi <root> <dll> <host exe> <bin dir> <wine-run.sh> <version>" >&2; exit 2; }
mode=$1 root=$2 dll=$3 host=$4 bin=$5 W=$6 version=$7
build_installer=$root/scripts/build-installer.sh
check_js=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/native_host_check.js
digits=${version//./}          # what the Version property reports
# The environment of whoever runs the tests must not change what is built.
unset ZVCERT_SIGN_CERT ZVCERT_SIGN_KEY ZVCERT_SIGN_PASS ZVCERT_SIGN_CAFILE ZVCERT_SIGN_URL ZVCERT_PLUGIN_ID \
  ZVCERT_HOST_EXE ZVCERT_NATIVE_HOST ZVCERT_EXTENSION_ID ZVCERT_FIREFOX_EXTENSION_ID
# The setup speaks the locale's language: English unless a check asks for another.
export LC_ALL=C.UTF-8
unset LANGUAGE
# A program that died early must fail a check, not kill the test with SIGPIPE.
trap '' PIPE
fail=0
bad() { echo "FAIL: $*"; fail=1; }
fatal() { echo "FAIL: $*"; exit 1; }

pe_arch() { x86_64-w64-mingw32-objdump -f "$1" | sed -n 's/.*file format pei-\(i386\|x86-64\)$/\1/p' | sed 's/i386/x86/; s/x86-64/x64/'; }
arch=$(pe_arch "$dll") ship= setup_name=npzvcert-setup.exe msi_name=npzvcert-$version.msi x86_dll=
if [[ $arch == x64 ]]; then
  ship=x64/ setup_name=npzvcert-setup-x64.exe msi_name=npzvcert-$version-x64.msi x86_dll=${ZVCERT_X86_DLL:-}
  [[ $(pe_arch "$x86_dll") == x86 ]] || fatal "ZVCERT_X86_DLL ('$x86_dll') names no x86 DLL for the x64 packages"
  # For the x86 packages built beside.
  x86_host=$(dirname "$x86_dll")/npzvcert-host.exe
  [[ $(pe_arch "$x86_host") == x86 ]] || fatal "no x86 host beside $x86_dll (build npzvcert-host in the x86 build)"
fi

work=$(mktemp -d)
held_pid=
cleanup_hooks=()
on_exit() {
  if [[ -n $held_pid ]]; then kill "$held_pid" 2>/dev/null; wait "$held_pid" 2>/dev/null; fi
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

# ---- the native-messaging host ----------------------------------------------

# Where Chrome, Edge and Chromium, then Firefox, look for a host's manifest.
CHROMIUM_PARENTS=('HKCU\Software\Google\Chrome\NativeMessagingHosts'
                  'HKCU\Software\Microsoft\Edge\NativeMessagingHosts'
                  'HKCU\Software\Chromium\NativeMessagingHosts')
FIREFOX_PARENT='HKCU\Software\Mozilla\NativeMessagingHosts'
host_keys() {  # <host name>: its four keys, Firefox's last
  local parent
  for parent in "${CHROMIUM_PARENTS[@]}" "$FIREFOX_PARENT"; do printf '%s\n' "$parent\\$1"; done
}

# Every reg call costs Wine a quarter of a second, so keys are written and
# deleted many at a time through one reg import, and read from one listing.
reg_import() {  # <line of a .reg file>...
  local file status
  file=$(mktemp --suffix=.reg)
  printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' "$@" >"$file"
  win reg import "$(winpath "$file")" >/dev/null 2>&1; status=$?
  rm -f "$file"
  return $status
}
delete_keys() {  # <HKCU\... key>...: each with its subkeys
  local lines=() k
  for k; do lines+=("[-HKEY_CURRENT_USER${k#HKCU}]"); done
  (( ${#lines[@]} == 0 )) || reg_import "${lines[@]}"
}
# Every key under HKCU\Software as "key<TAB>=default value", or "key<TAB>-"
# when it has no default value; keys in lower case, as Windows compares them.
list_keys() {
  win reg query 'HKCU\Software' /s 2>/dev/null | tr -d '\r' | awk -v OFS='\t' '
    /^HKEY_CURRENT_USER\\/ { if (key != "") print key, state; key = tolower($0); state = "-"; next }
    index($0, "    (Default)    REG_SZ    ") == 1 { state = "=" substr($0, 28) }
    END { if (key != "") print key, state }' >"$work/keys.txt"
  [[ -s $work/keys.txt ]] || fatal "reg query HKCU\\Software listed nothing"
}
# A key's default value from the last listing; fails when the key is not
# there, or has no default value (status 2).
listed_default() {  # <HKCU\... key>
  local want="hkey_current_user${1#HKCU}" k state
  want=${want,,}
  while IFS=$'\t' read -r k state; do
    if [[ $k == "$want" ]]; then
      [[ $state == =* ]] || return 2
      printf '%s' "${state#=}"
      return 0
    fi
  done <"$work/keys.txt"
  return 1
}

# The installer leaves the parents when it uninstalls: other hosts share them.
# Those that only this test made are removed on exit, so that the shared
# prefix stays as it was.
BROWSER_ROOTS=('HKCU\Software\Google' 'HKCU\Software\Microsoft\Edge' 'HKCU\Software\Chromium'
               'HKCU\Software\Mozilla')
created_roots=()
note_browser_roots() {
  local r
  list_keys
  for r in "${BROWSER_ROOTS[@]}"; do listed_default "$r" >/dev/null; (( $? == 1 )) && created_roots+=("$r"); done
}

# The installed host answers a browser's message, which it can only do
# through the DLL beside it.
version_request() {
  local message='{"id":1,"member":"Version"}' length
  # 4-byte little-endian length, then the JSON: shorter than 256 bytes here.
  length=$(printf '\\x%02x' "${#message}")
  printf "$length\\0\\0\\0%s" "$message"
}
host_answers() {  # <Windows path of npzvcert-host.exe>
  local status
  version_request >"$work/request.bin"
  timeout 60 "$W" "$1" <"$work/request.bin" >"$work/reply.bin" 2>"$work/host.err"; status=$?
  (( status == 0 )) || bad "$1 exited with $status: $(tr '\n' ' ' <"$work/host.err")"
  node "$check_js" reply "$work/reply.bin" "{\"id\":1,\"ok\":true,\"value\":$digits}" 2>"$work/reply.err" \
    || bad "$1 did not answer Version as $digits:"$'\n'"$(cat "$work/reply.err")"
}

# While a program keeps the installed DLL loaded (a browser, or the host an
# extension keeps its port open to), neither a new setup nor the uninstaller
# may half-do their job: both stop, leaving everything working. The program
# is a host, asked for Version through a fifo; the end of its input ends it.
# Uses the installation's variables of round_trip.
while_loaded() {  # <what holds it> <Windows program> [<argument>]
  local what=$1 fifo=$work/held.in i status
  shift
  rm -f "$fifo"; mkfifo "$fifo"
  win "$@" <"$fifo" >"$work/held.out" 2>"$work/held.err" &
  held_pid=$!
  exec 3>"$fifo"
  version_request >&3
  for ((i = 0; i < 200; i++)); do
    node "$check_js" reply "$work/held.out" "{\"id\":1,\"ok\":true,\"value\":$digits}" 2>/dev/null && break
    sleep 0.1
  done
  if (( i < 200 )); then
    win "$setup" /S; status=$?
    (( status == 2 )) || bad "setup while $what exited with $status, expected 2"
    run_uninstaller "$uninstaller" "$location"; status=$?
    (( status == 2 )) || bad "uninstaller while $what exited with $status, expected 2"
    [[ -f $path_unix ]] || bad "the DLL was removed while $what"
    [[ -f $(unixpath "$uninstaller") ]] || bad "the uninstaller went while $what"
    [[ $(reg_value "$key" Path) == "$path" ]] || bad "registration changed while $what"
    has_key "$UNINSTALL_KEY" || bad "Uninstall entry went while $what"
    native_host_intact "while $what"
  else
    bad "$* did not answer Version as $digits: $(tr '\n' ' ' <"$work/held.err")"
  fi
  exec 3>&-
  for ((i = 0; i < 200; i++)); do kill -0 "$held_pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$held_pid" 2>/dev/null && bad "$* did not end with its input"
  kill "$held_pid" 2>/dev/null
  wait "$held_pid"; status=$?; held_pid=
  (( status == 0 )) || bad "$* exited with $status"
}

# Linux path of a Windows one; no Wine call for those in the install folder.
folder_win= folder_unix=
to_unix() {
  if [[ -n $folder_win && ${1,,} == "${folder_win,,}\\"* ]]; then
    local rest=${1:${#folder_win}+1}
    printf '%s/%s' "$folder_unix" "${rest//\\//}"
  else
    unixpath "$1"
  fi
}

# One manifest: its content, and the host its "path" names. Sets manifest_exe
# to that host's Windows path.
check_manifest() {  # <Windows path> chromium|firefox <host name> <extension id> <host exe it must be>
  manifest_exe=
  local file; file=$(to_unix "$1")
  [[ -f $file ]] || { bad "the $2 manifest $1 is not there"; return; }
  local path
  path=$(node "$check_js" manifest "$file" "$2" "$3" "$4" 2>"$work/manifest.err") \
    || { bad "the $2 manifest $1:"$'\n'"$(cat "$work/manifest.err")"; return; }
  # A relative path is taken from the manifest's folder, as browsers do.
  local exe=$path
  [[ $exe == ?:\\* || $exe == \\* ]] || exe="${1%\\*}\\${path//\//\\}"
  local exe_unix; exe_unix=$(to_unix "$exe")
  [[ -f $exe_unix ]] || { bad "the $2 manifest's path '$path' names no file ($exe)"; return; }
  cmp -s "$exe_unix" "$5" || bad "the $2 manifest's path '$path' is not the host built ($exe)"
  manifest_exe=$exe
}

# Our host's four keys, the manifests they name, and the host itself, which
# must answer. Sets host_entries ("key|manifest" each), host_files (the
# manifests and the host, Linux paths) and installed_host and
# installed_host_win (the host's paths) for the checks that follow.
check_native_host() {  # <Windows install folder> <host name> <Chromium id> <Firefox id> <host exe it must be>
  local name=$2 key manifest chromium_manifest= firefox_manifest= status
  folder_win=$1 folder_unix=$(unixpath "$1")
  host_entries=() host_files=() installed_host= installed_host_win=
  list_keys
  while IFS= read -r key; do
    manifest=$(listed_default "$key"); status=$?
    (( status == 0 )) || { bad "$key is $( ((status == 1)) && echo missing || echo 'without a default value')"; continue; }
    host_entries+=("$key|$manifest")
    [[ ${manifest,,} == "${folder_win,,}\\"*.json ]] || bad "$key names $manifest, not a .json file in $folder_win"
    if [[ $key == "$FIREFOX_PARENT\\"* ]]; then
      firefox_manifest=$manifest
    elif [[ -z $chromium_manifest ]]; then
      chromium_manifest=$manifest
    elif [[ $manifest != "$chromium_manifest" ]]; then
      bad "$key names $manifest, Chrome's key $chromium_manifest"
    fi
  done < <(host_keys "$name")
  [[ -n $firefox_manifest && $firefox_manifest == "$chromium_manifest" ]] \
    && bad "Firefox and the Chromium family share the manifest $firefox_manifest"
  local chromium_exe=
  if [[ -n $chromium_manifest ]]; then
    check_manifest "$chromium_manifest" chromium "$name" "$3" "$5"
    chromium_exe=$manifest_exe
    host_files+=("$(to_unix "$chromium_manifest")")
  fi
  if [[ -n $firefox_manifest ]]; then
    check_manifest "$firefox_manifest" firefox "$name" "$4" "$5"
    [[ -n $chromium_exe && -n $manifest_exe && ${manifest_exe,,} != "${chromium_exe,,}" ]] \
      && bad "the manifests name different hosts: $chromium_exe and $manifest_exe"
    host_files+=("$(to_unix "$firefox_manifest")")
  fi
  [[ -n $manifest_exe ]] || manifest_exe=$chromium_exe
  if [[ -n $manifest_exe ]]; then
    installed_host=$(to_unix "$manifest_exe") installed_host_win=$manifest_exe
    host_files+=("$installed_host")
    host_answers "$manifest_exe"
  fi
}

# Everything check_native_host found is still there, unchanged.
native_host_intact() {  # <why it must be>
  local entry file
  list_keys
  for entry in "${host_entries[@]}"; do
    [[ $(listed_default "${entry%%|*}") == "${entry#*|}" ]] || bad "${entry%%|*} changed $1"
  done
  for file in "${host_files[@]}"; do [[ -f $file ]] || bad "$file went $1"; done
}

# ...or all gone. Leaves the listing for further checks.
native_host_gone() {  # <host name>
  local key file
  list_keys
  while IFS= read -r key; do
    listed_default "$key" >/dev/null; (( $? == 1 )) || bad "$key is left"
  done < <(host_keys "$1")
  for file in "${host_files[@]}"; do [[ -e $file ]] && bad "$file is left"; done
}

# The extension the installer is built for by default: host name, Chromium
# id, Firefox id.
read_identity() {
  mapfile -t identity < <(node "$check_js" identity "$root/extension/identity.json")
  (( ${#identity[@]} == 3 )) || fatal "cannot read hostName, chromiumId and firefoxId from extension/identity.json"
}

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
  other_host='test.other.host'
  read_identity
  native_host=${identity[0]}

  # Leaves the shared prefix as it was, whatever step failed.
  clean_round_trip() {
    local keys
    mapfile -t keys < <(host_keys "$native_host"; host_keys "$other_host")
    delete_keys "$key" "$key-x86" "$UNINSTALL_KEY" "$other_key" "$other_uninstall" "${keys[@]}" "${created_roots[@]}"
    [[ $vendor == */ZVCERT ]] && rm -rf "$vendor"
  }
  clean_round_trip
  note_browser_roots
  cleanup_hooks+=(clean_round_trip)

  env -u ZVCERT_SIGN_CERT -u ZVCERT_SIGN_KEY -u ZVCERT_PLUGIN_ID \
    "$build_installer" "$dll" "$work/out" >"$work/build.log" 2>&1 \
    || { cat "$work/build.log"; fatal "build-installer.sh failed"; }
  local setup; setup=$(winpath "$work/out/$setup_name")

  # Someone else's things beside ours: another plug-in, another program's
  # uninstall entry, another native-messaging host in each browser's list, a
  # file in our vendor folder.
  local other_keys=() other
  local lines=("[HKEY_CURRENT_USER${other_key#HKCU}]" '"Path"="C:\\other\\npother.dll"'
               "[HKEY_CURRENT_USER${other_uninstall#HKCU}]" '"DisplayName"="Other program"')
  while IFS= read -r other; do
    other_keys+=("$other")
    lines+=("[HKEY_CURRENT_USER${other#HKCU}]" '@="C:\\other\\host.json"')
  done < <(host_keys "$other_host")
  reg_import "${lines[@]}" || fatal "reg import of someone else's keys failed"
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
  [[ $(reg_value "$UNINSTALL_KEY" DisplayName) == "Dastro certificate control (development build)" ]] \
    || bad "the development build's entry does not say so"
  [[ $(reg_value "$UNINSTALL_KEY" QuietUninstallString) == *' /S' ]] || bad "QuietUninstallString lacks /S"
  [[ ${path,,} == "${location,,}\\"* ]] || bad "the DLL ($path) is not in InstallLocation ($location)"
  # The same rows as the MSI's, from the one list.
  check_rows present "the setup" HKCU "$location"
  [[ -z $x86_dll ]] || cmp -s "$(unixpath "$location\x86\npzvcert.dll")" "$x86_dll" \
    || bad "$key-x86 does not name the x86 DLL built"

  # A browser loading it from the registered path.
  actual=$(probe_version "$path")
  [[ $actual == "$digits" ]] || bad "probe read Version '$actual' from $path, expected $digits"

  # An extension reaching the host, as each browser finds it.
  check_native_host "${path%\\*}" "${identity[@]}" "$host"

  # A browser holding the DLL, then an extension keeping its port to the
  # installed host open.
  while_loaded "a browser has the DLL loaded" "$bin/npzvcert-host-checks.exe" "--plugin=$path"
  if [[ -n $installed_host_win ]]; then while_loaded "the host runs" "$installed_host_win"; fi

  # Setting up again over an installed copy (an update) works once it is free,
  # here in German, the language of this user's Windows.
  mkdir -p "$work/locales" && localedef --no-archive -i de_DE -f UTF-8 "$work/locales/de_DE.UTF-8" \
    || fatal "localedef de_DE.UTF-8 failed"
  env LOCPATH="$work/locales" LC_ALL=de_DE.UTF-8 "$W" "$setup" /S; status=$?
  (( status == 0 )) || bad "second install exited with $status"
  [[ $(reg_value "$UNINSTALL_KEY" DisplayName) == "Dastro certificate control (Entwicklungsversion)" ]] \
    || bad "the setup run in German does not name itself in German"
  cmp -s "$path_unix" "$dll" || bad "the DLL after the second install differs"
  native_host_intact "with the second install"
  [[ -n $installed_host ]] && ! cmp -s "$installed_host" "$host" && bad "the host after the second install differs"

  run_uninstaller "$uninstaller" "$location"; status=$?
  (( status == 0 )) || bad "silent uninstall exited with $status"
  check_rows absent "the setup uninstalled" HKCU "$location"

  # Ours all gone...
  has_key "$key" && bad "$key is left"
  has_key "$UNINSTALL_KEY" && bad "the Uninstall entry is left"
  [[ -e $path_unix ]] && bad "the DLL is left"
  [[ -e $(dirname "$path_unix")/uninstall.exe ]] && bad "uninstall.exe is left"
  [[ -e $(dirname "$path_unix") ]] && bad "the emptied install folder is left: $(ls -A "$(dirname "$path_unix")")"
  native_host_gone "$native_host"
  # ...and nothing else.
  [[ $(reg_value "$other_key" Path) == 'C:\other\npother.dll' ]] || bad "the other plug-in's key was touched"
  for other in "${other_keys[@]}"; do
    [[ $(listed_default "$other") == 'C:\other\host.json' ]] || bad "the other host's $other was touched"
  done
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
  # An executable's report names its digest, an MSI's its DigitalSignature.
  current=$(sed -n 's/^Current \(message digest\|DigitalSignature\) *: *\([0-9A-F]*\).*/\2/p' <<<"$log" | head -1)
  calculated=$(sed -n 's/^Calculated \(message digest\|DigitalSignature\) *: *\([0-9A-F]*\).*/\2/p' <<<"$log" | head -1)
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
  # A build for another extension, named in the environment.
  signed_host='test.zvcert_signed.host2'
  local signed_chromium=abcdefghijklmnopabcdefghijklmnop signed_firefox='{7d0c2b6e-signed}@zvcert.test'
  read_identity
  clean_code_signing() {
    local keys
    mapfile -t keys < <(host_keys "$signed_host")
    delete_keys "$key" "$key-x86" "$UNINSTALL_KEY" "${keys[@]}" "${created_roots[@]}"
  }
  clean_code_signing
  note_browser_roots
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
  # Unsigned: said plainly, and the DLL and host shipped as built.
  log=$(env -u ZVCERT_SIGN_CERT -u ZVCERT_SIGN_KEY "$build_installer" "$dll" "$work/plain" 2>&1) \
    || bad "the unsigned build failed: $log"
  grep -qF 'unsigned: set ZVCERT_SIGN_CERT and ZVCERT_SIGN_KEY to sign' <<<"$log" \
    || bad "the unsigned build did not say so: $log"
  cmp -s "$dll" "$work/plain/${ship}npzvcert.dll" || bad "the unsigned build changed the DLL"
  cmp -s "$host" "$work/plain/${ship}npzvcert-host.exe" || bad "the unsigned build changed the host"
  verify_refused "$work/plain/$setup_name" "$certs/cert.pem" "unsigned installer" 'No signature found'

  # Half a signing configuration stops the build rather than ship unsigned.
  log=$(ZVCERT_SIGN_CERT=$certs/cert.pem env -u ZVCERT_SIGN_KEY "$build_installer" "$dll" "$work/half" 2>&1) \
    && bad "a certificate without a key was accepted: $log"
  [[ -e $work/half/$setup_name ]] && bad "an installer was written without its key"

  # A key under a passphrase: the right one signs, a wrong one stops the build.
  log=$(ZVCERT_SIGN_CERT=$certs/cert.pem ZVCERT_SIGN_KEY=$certs/key-locked.pem ZVCERT_SIGN_PASS='wrong' \
        "$build_installer" "$dll" "$work/wrong-pass" 2>&1) && bad "a wrong passphrase was accepted: $log"
  [[ -e $work/wrong-pass/$setup_name ]] && bad "an installer was written with a wrong passphrase"
  log=$(ZVCERT_SIGN_CERT=$certs/cert.pem ZVCERT_SIGN_KEY=$certs/key-locked.pem ZVCERT_SIGN_PASS='s3cret phrase' \
        "$build_installer" "$dll" "$work/locked" 2>&1) || bad "the passphrase-protected key did not sign: $log"
  [[ -f $work/locked/$setup_name ]] && verify_good "$work/locked/$setup_name" "$certs/cert.pem" "$cn"

  # The signed build, with its own plug-in id and extension.
  log=$(ZVCERT_SIGN_CERT=$certs/cert.pem ZVCERT_SIGN_KEY=$certs/key.pem ZVCERT_NATIVE_HOST=$signed_host \
        ZVCERT_EXTENSION_ID=$signed_chromium ZVCERT_FIREFOX_EXTENSION_ID=$signed_firefox \
        "$build_installer" "$dll" "$work/signed" "$id" 2>&1) || fatal "the signed build failed: $log"
  grep -q unsigned <<<"$log" && bad "the signed build calls itself unsigned: $log"
  local signed_dll=$work/signed/${ship}npzvcert.dll signed_host_exe=$work/signed/${ship}npzvcert-host.exe
  local setup=$work/signed/$setup_name
  local file
  for file in "$signed_dll" "$signed_host_exe" "$setup" ${x86_dll:+"$work/signed/x64/x86/npzvcert.dll"}; do
    verify_good "$file" "$certs/cert.pem" "$cn"
    verify_refused "$file" "$certs/other.pem" "$(basename "$file") against an unrelated CA" 'Signature verification: failed'
    cp "$file" "$work/tampered"
    flip_byte "$work/tampered" $(( $(stat -c %s "$file") / 2 ))
    verify_refused "$work/tampered" "$certs/cert.pem" "$(basename "$file") with one byte changed" MISMATCH
  done
  # The MSI too (a byte changed at random may fall in an unused sector).
  verify_good "$work/signed/$msi_name" "$certs/cert.pem" "$cn"
  verify_refused "$work/signed/$msi_name" "$certs/other.pem" "the MSI against an unrelated CA" \
    'Signature verification: failed'

  # Still a DLL a browser loads.
  local actual
  actual=$(probe_version "$(winpath "$signed_dll")")
  [[ $actual == "$digits" ]] || bad "probe read Version '$actual' from the signed DLL, expected $digits"

  # The installer carries the signed copy, registered under the id given,
  # in the user's own folder even when another is asked for.
  local elsewhere=$work/installed default_keys=() inst_win inst
  inst_win="$(win_env LOCALAPPDATA)\\ZVCERT\\npzvcert"
  inst=$(unixpath "$inst_win")
  list_keys
  while IFS= read -r file; do
    listed_default "$file" >/dev/null; (( $? == 1 )) && default_keys+=("$file")
  done < <(host_keys "${identity[0]}")
  win "$(winpath "$setup")" /S "/D=$(winpath "$elsewhere")"; status=$?
  (( status == 0 )) || fatal "installing the signed build exited with $status"
  [[ -e $elsewhere ]] && bad "the setup installed into the folder given with /D="
  cmp -s "$inst/npzvcert.dll" "$signed_dll" || bad "the signed installer did not install the signed DLL"
  [[ $(reg_value "$key" Path) == "$inst_win\\npzvcert.dll" ]] \
    || bad "the signed build is not registered under $id"
  has_key "$PLUGIN_ROOT\\@zvcert.test/npzvcert" && bad "the signed build also registered the default id"
  # Its host is the signed one, still runs, and serves the extension named.
  check_native_host "$inst_win" "$signed_host" "$signed_chromium" "$signed_firefox" "$signed_host_exe"
  list_keys
  for file in "${default_keys[@]}"; do
    listed_default "$file" >/dev/null; (( $? == 1 )) || bad "the signed build also registered the default host: $file"
  done
  run_uninstaller "$inst_win\\uninstall.exe" "$inst_win"; status=$?
  (( status == 0 )) || bad "uninstalling the signed build exited with $status"
  has_key "$key" && bad "$key is left after uninstalling"
  native_host_gone "$signed_host"
  [[ -e $inst ]] && bad "the signed build's install folder is left"
}

# ---- what the build takes ------------------------------------------------------

build_inputs() {
  local log
  # The host is taken from beside the DLL, or from ZVCERT_HOST_EXE; without
  # one there is no installer, and the refusal says how to name it.
  mkdir -p "$work/lonely" && cp "$dll" "$work/lonely/npzvcert.dll"
  log=$("$build_installer" "$work/lonely/npzvcert.dll" "$work/no-host" 2>&1) \
    && bad "a DLL with no host beside it was accepted: $log"
  grep -q ZVCERT_HOST_EXE <<<"$log" || bad "the refusal does not say how to name the host: $log"
  [[ -e $work/no-host/$setup_name ]] && bad "an installer was written without a host"
  log=$(ZVCERT_HOST_EXE=$work/nowhere/npzvcert-host.exe "$build_installer" "$dll" "$work/missing-host" 2>&1) \
    && bad "a ZVCERT_HOST_EXE naming no file was accepted: $log"
  [[ -e $work/missing-host/$setup_name ]] && bad "an installer was written with a missing host"
  log=$(ZVCERT_HOST_EXE=$host "$build_installer" "$work/lonely/npzvcert.dll" "$work/named" 2>&1) \
    || bad "the build with ZVCERT_HOST_EXE failed: $log"
  cmp -s "$host" "$work/named/${ship}npzvcert-host.exe" || bad "the host shipped is not the one ZVCERT_HOST_EXE named"
  [[ -s $work/named/$setup_name ]] || bad "no installer from the build with ZVCERT_HOST_EXE"

  # Only a DLL and host built with ZVCERT_RELEASE=ON make a setup that does
  # not call itself a development build, and only with the identity they
  # were built for, the authority's own: the development one, or any of its
  # ids, is refused. The release here is this build with the strings a
  # release build writes in the version resources put over its own, padded
  # with NULs, where readers stop (read_identity gives the development ones).
  read_identity
  local development_identity=("${identity[@]}") own
  node "$root/extension/identity.js" --out "$work/own" --host-name com.example.zvcert \
    --firefox-id zvcert@example.com >/dev/null || fatal "no own identity made"
  mapfile -t own < <(node "$check_js" identity "$work/own/identity.json")
  as_release() {  # <folder> <host name> <Chromium id> <Firefox id>
    mkdir -p "$1/x86"
    local from to
    for from in "$dll" "$host" ${x86_dll:+"$x86_dll"}; do
      to=$1/$(basename "$from")
      [[ $from == "$x86_dll" ]] && to=$1/x86/npzvcert.dll
      node -e '
        const fs = require("fs");
        const [from, to, ...pairs] = process.argv.slice(1);
        const pe = fs.readFileSync(from);
        for (let i = 0; i < pairs.length; i += 2) {
          const key = Buffer.from(`${pairs[i]}\0`, "utf16le");
          const at = pe.indexOf(key);
          if (at < 0 || pe.indexOf(key, at + 1) >= 0) throw new Error(`no one ${pairs[i]} in ${from}`);
          const value = (at + key.length + 3) & ~3;
          let end = value;
          while (pe.readUInt16LE(end) !== 0) end += 2;
          const text = Buffer.from(pairs[i + 1], "utf16le");
          if (text.length > end - value) throw new Error(`${pairs[i + 1]} is longer than the ${pairs[i]} of ${from}`);
          pe.fill(0, value, end);
          text.copy(pe, value);
        }
        fs.writeFileSync(to, pe);' "$from" "$to" Build release NativeHost "$2" ChromiumExtensionId "$3" \
        FirefoxExtensionId "$4" || fatal "cannot make a release of $from"
    done
  }
  local release_env=()
  [[ -n $x86_dll ]] && release_env=("ZVCERT_X86_DLL=$work/release/bin/x86/npzvcert.dll")
  as_release "$work/release/bin" "${development_identity[@]}"
  printf '%s\n' '{"downloadUrl": "https://ca.example.com/npzvcert/"}' >"$work/release/profile.json"
  log=$(env "${release_env[@]}" "$build_installer" "$work/release/bin/npzvcert.dll" "$work/release-out" 2>&1) \
    && bad "a release with the development identity was accepted: $log"
  grep -q "not the development one's chromiumId, firefoxId, hostName (which its DLL and host were built for)" <<<"$log" \
    || bad "the refusal of the development identity does not say so: $log"
  as_release "$work/release/bin" "${own[@]}"
  log=$(env "${release_env[@]}" ZVCERT_FIREFOX_EXTENSION_ID=npzvcert@zvcert.test "$build_installer" \
    "$work/release/bin/npzvcert.dll" "$work/release-out" 2>&1) && bad "a release with the development Firefox id was accepted: $log"
  [[ -e $work/release-out/$setup_name ]] && bad "an installer was written with the development identity"
  log=$(env "${release_env[@]}" ZVCERT_EXTENSION_UPDATE_URL=http://ca.example.com/updates.xml "$build_installer" \
    "$work/release/bin/npzvcert.dll" "$work/release-out" 2>&1) && bad "a release with a plain-http update address was accepted"
  [[ -e $work/release-out/$msi_name ]] && bad "an MSI was written with a plain-http update address"
  log=$(env "${release_env[@]}" "$build_installer" "$work/release/bin/npzvcert.dll" "$work/release-out" 2>&1) \
    || bad "the release build failed: $log"

  # The release's DLL and host copied to a folder of their own, with no
  # build beside them: still a release, of their own identity, whatever the
  # environment names; a release and a development binary together make
  # nothing.
  mkdir -p "$work/staged" && cp -r "$work/release/bin/." "$work/staged/"
  local staged=("ZVCERT_EXTENSION_UPDATE_URL=https://ca.example.com/updates.xml"
                "ZVCERT_FIREFOX_INSTALL_URL=https://ca.example.com/npzvcert.xpi") setting file want why
  [[ -n $x86_dll ]] && staged+=("ZVCERT_X86_DLL=$work/staged/x86/npzvcert.dll")
  while IFS='|' read -r setting file want why; do
    log=$(env "${staged[@]}" "$setting" "$build_installer" "$file" "$work/staged-bad" 2>&1) && bad "$why was accepted"
    grep -qF -- "$want" <<<"$log" || bad "the refusal of $why does not say '$want': $log"
    [[ -e $work/staged-bad/$setup_name || -e $work/staged-bad/$msi_name ]] && bad "an installer was written with $why"
  done <<EOF
ZVCERT_EXTENSION_IDENTITY=$root/extension/identity.json|$work/staged/npzvcert.dll|is not their '${own[0]}'|a staged release with the development identity file
ZVCERT_NATIVE_HOST=${development_identity[0]}|$work/staged/npzvcert.dll|(from ZVCERT_NATIVE_HOST) is not their|a staged release with the development host name
ZVCERT_EXTENSION_ID=${development_identity[1]}|$work/staged/npzvcert.dll|(from ZVCERT_EXTENSION_ID) is not their|a staged release with the development Chromium id
ZVCERT_HOST_EXE=$host|$work/staged/npzvcert.dll|are not of one build|a staged release with a development host
ZVCERT_HOST_EXE=$work/staged/npzvcert-host.exe|$dll|are not of one build|the development DLL with a release host
EOF
  log=$(env "${staged[@]}" ZVCERT_NATIVE_HOST="${own[0]}" "$build_installer" "$work/staged/npzvcert.dll" \
    "$work/staged-out" 2>&1) || bad "the staged release failed: $log"
  strings -el "$work/staged-out/$setup_name" | grep -q 'development build' \
    && bad "the staged release setup calls itself a development build"
  msiextract -C "$work/staged-msi" "$work/staged-out/$msi_name" >/dev/null || bad "cannot extract the staged release's MSI"
  local family at
  for family in chromium:1 firefox:2; do
    at=${family#*:} family=${family%:*}
    node "$check_js" manifest "$(find "$work/staged-msi" -name "npzvcert-host.$family.json" | head -1)" "$family" \
      "${own[0]}" "${own[at]}" >/dev/null 2>"$work/manifest.err" \
      || bad "the staged release's $family manifest is not of its own identity: $(cat "$work/manifest.err")"
  done
  msiinfo export "$work/staged-out/$msi_name" Registry | grep -qF -e "${development_identity[0]}" -e "${development_identity[1]}" \
    && bad "the staged release's MSI names the development identity"
  strings -el "$work/release-out/$setup_name" | grep -q 'development build' \
    && bad "the release setup calls itself a development build"
  strings -el "$work/named/$setup_name" | grep -q 'setup, development build' \
    || bad "the development setup does not say so"

  # The x64 packages: a host and an x86 plug-in of the right architectures,
  # or no installer; and beside the x86 packages in one folder, each build
  # replacing only its own outputs.
  if [[ -n $x86_dll ]]; then
    local setting want
    while IFS='|' read -r setting want why; do
      log=$(env "$setting" "$build_installer" "$dll" "$work/arch" 2>&1) && bad "$why was accepted"
      grep -qF -- "$want" <<<"$log" || bad "the refusal of $why does not say '$want': $log"
      [[ -e $work/arch/$setup_name || -e $work/arch/$msi_name ]] && bad "an installer was written with $why"
    done <<EOF
ZVCERT_HOST_EXE=$x86_host|is x86, the DLL $dll is x64|an x86 host for the x64 DLL
ZVCERT_X86_DLL=$work/nowhere.dll|$work/nowhere.dll (build npzvcert in the x86 build, or set ZVCERT_X86_DLL)|no x86 plug-in
ZVCERT_X86_DLL=$dll|ZVCERT_X86_DLL $dll is not an x86 DLL|the x64 DLL as the x86 plug-in
EOF
    # x86 over the x64 outputs of $work/named, then x64 over both.
    local build file
    for build in "$x86_dll $x86_host" "$dll $host"; do
      ZVCERT_HOST_EXE=${build#* } "$build_installer" "${build%% *}" "$work/named" >"$work/both.log" 2>&1 \
        || bad "building from ${build%% *} beside the other architecture failed: $(cat "$work/both.log")"
      for file in npzvcert-setup.exe "npzvcert-$version.msi" "$setup_name" "$msi_name"; do
        [[ -s $work/named/$file ]] || bad "$file went with the build from ${build%% *}"
      done
    done
    cmp -s "$work/named/x64/x86/npzvcert.dll" "$x86_dll" || bad "the x64 build did not ship the x86 DLL in x64/x86/"
  fi

  # A message lacking one language's line stops the build.
  mkdir -p "$work/tree/scripts" && cp -r "$root/installer" "$work/tree/" && cp "$build_installer" "$work/tree/scripts/"
  ln -s "$root/extension" "$work/tree/extension"
  sed -i '/^LangString UninstallerInUse ${LANG_GERMAN} /d' "$work/tree/installer/messages.nsh"
  log=$("$work/tree/scripts/build-installer.sh" "$dll" "$work/untranslated" 2>&1) \
    && bad "a message missing in German was accepted"
  grep -qF 'LangString "UninstallerInUse" is not set in language table of language German' <<<"$log" \
    || bad "the refusal of a message missing in German does not name it: $log"
  [[ -e $work/untranslated/$setup_name ]] && bad "an installer was written with a message missing in German"

  # Names browsers would refuse, or that would break a registry key or a
  # manifest, stop the build and are quoted in the refusal.
  local variable value why
  while IFS='|' read -r variable value why; do
    [[ $value == TAB ]] && value=$'npzvcert@zvcert.test\t'
    log=$(env "$variable=$value" "$build_installer" "$dll" "$work/bad" 2>&1) \
      && bad "$why ($variable='$value') was accepted"
    grep -qF "'$value'" <<<"$log" || bad "the refusal of $why does not quote it: $log"
    [[ -e $work/bad/$setup_name ]] && bad "an installer was written with $why"
    rm -rf "$work/bad"
  done <<'EOF'
ZVCERT_NATIVE_HOST||an empty host name
ZVCERT_NATIVE_HOST|Test.zvcert.npzvcert|a host name with a capital
ZVCERT_NATIVE_HOST|.test.zvcert|a host name starting with a dot
ZVCERT_NATIVE_HOST|test.zvcert.|a host name ending with a dot
ZVCERT_NATIVE_HOST|test..zvcert|a host name with two dots in a row
ZVCERT_NATIVE_HOST|test.zv-cert|a host name with a hyphen
ZVCERT_NATIVE_HOST|test\zvcert|a host name with a backslash
ZVCERT_NATIVE_HOST|test zvcert|a host name with a space
ZVCERT_EXTENSION_ID||an empty Chromium id
ZVCERT_EXTENSION_ID|cliiehckknopchdooebjfdlmkecnpjf|a Chromium id of 31 letters
ZVCERT_EXTENSION_ID|cliiehckknopchdooebjfdlmkecnpjfhh|a Chromium id of 33 letters
ZVCERT_EXTENSION_ID|cliiehckknopchdooebjfdlmkecnpjfq|a Chromium id with a letter after p
ZVCERT_EXTENSION_ID|CLIIEHCKKNOPCHDOOEBJFDLMKECNPJFH|a Chromium id in capitals
ZVCERT_FIREFOX_EXTENSION_ID||an empty Firefox id
ZVCERT_FIREFOX_EXTENSION_ID|npzvcert"@zvcert.test|a Firefox id with a quote
ZVCERT_FIREFOX_EXTENSION_ID|npzvcert\@zvcert.test|a Firefox id with a backslash
ZVCERT_FIREFOX_EXTENSION_ID|TAB|a Firefox id with a tab
ZVCERT_EXTENSION_UPDATE_URL|ftp://ca.example.com/updates.xml|an update address that is no web address
ZVCERT_FIREFOX_INSTALL_URL|https://ca.example.com/a b.xpi|an install address with a space
EOF

  # The MSI holds the list's rows, under the installation's own root (-1)
  # and its folder, the policies under HKLM (2) and only when asked for.
  read_identity
  local msi=$work/named/$msi_name
  msiinfo export "$msi" Component | tail -n +4 | tr -d '\r' >"$work/msi-components"
  msiinfo export "$msi" Registry | tail -n +4 | tr -d '\r' | awk -F'\t' -v OFS='|' -v x64="${ship:+1}" '
    NR == FNR { view[$1] = int($4 / 256) % 2 ? "|64" : "|32"; next }
    { print ($2 == 2 ? "HKLM" : $2) "\\" $3, ($4 == "" ? "@" : $4), $5 (x64 ? view[$6] : "") }' \
    "$work/msi-components" - | sort >"$work/msi-rows"
  expected_rows -1 '[installdir]' CHROMEPOLICY EDGEPOLICY FIREFOXPOLICY | sed 's/\[installdir\]\\/[installdir]/' \
    | sort >"$work/list-rows"
  diff "$work/list-rows" "$work/msi-rows" >"$work/rows.diff" || bad "the MSI's rows are not the list's:"$'\n'"$(cat "$work/rows.diff")"
  [[ $(msiinfo export "$msi" Component | awk -F'\t' '$1 ~ /^Policy_/ {print $1 ": " $5}' | paste -sd';') == \
     'Policy_CHROMEPOLICY: CHROMEPOLICY = "1" OR REMOVE ~= "ALL";Policy_EDGEPOLICY: EDGEPOLICY = "1" OR REMOVE ~= "ALL";Policy_FIREFOXPOLICY: FIREFOXPOLICY = "1" OR REMOVE ~= "ALL"' ]] \
    || bad "the policies are not each behind its property"
  msiinfo export "$msi" Property | grep -q $'^SecureCustomProperties\t.*;CHROMEPOLICY;EDGEPOLICY;FIREFOXPOLICY' \
    || bad "the policy properties do not reach a managed installation"
  # A release says it is one, and installs the extension from the authority's address.
  msiinfo export "$work/release-out/$msi_name" Property | tr -d '\r' \
    | grep -q $'^ProductName\tDastro certificate control$' \
    || bad "the release MSI calls itself a development build"
  msiinfo export "$work/release-out/$msi_name" Registry \
    | grep -q $'\tinstall_url\thttps://ca.example.com/npzvcert/extension/npzvcert.xpi\t' \
    || bad "the release MSI does not install the extension from the authority's address"
}

# ---- the MSI --------------------------------------------------------------------

# The rows of installer/registry.rows as the development build fills them in,
# for one installation's root and folder and the policies named. The
# policies' entry is 1000000 plus the extension id's first five letters as
# hex digits (cliie: 2b884).
expected_rows() {  # <root> <Windows install folder> [policy...]
  node "$root/installer/rows.js" expected "$1" "$2" PLUGIN_ID=@zvcert.test/npzvcert "NATIVE_HOST=${identity[0]}" \
    "CHROMIUM_ID=${identity[1]}" "FIREFOX_ID=${identity[2]}" "VERSION=$version" POLICY_INDEX=1178308 \
    UPDATE_URL=http://127.0.0.1:8765/download/extension/updates.xml \
    FIREFOX_INSTALL_URL=http://127.0.0.1:8765/download/extension/npzvcert.xpi "ARCH=$arch" "${@:3}"
}
# A key's values as "name|value" lines ("@" for the default); fails when the
# key is not there. One reg call a key: each costs Wine half a second.
key_values() {  # <key> [<registry view, 32 or 64>]
  win reg query "$1" ${2:+/reg:$2} 2>/dev/null | tr -d '\r' | awk '/^    [^ ]/ {
    line = substr($0, 5); i = index(line, "    REG_"); name = substr(line, 1, i - 1)
    rest = substr(line, i + 4); j = index(rest, "    ")
    print (name == "(Default)" ? "@" : name) "|" (j ? substr(rest, j + 4) : "") }'
}
# Every row is there as the list says (present), or neither it nor its key is
# (absent; the force-install lists are shared with the administrator's own).
check_rows() {  # present|absent <when> <root> <Windows install folder> [policy...]
  local key name value view current= listing found
  while IFS='|' read -r key name value view; do
    if [[ "$key|$view" != "$current" ]]; then
      current="$key|$view"
      listing=$(key_values "$key" "$view"); found=$?
      [[ $1 == absent && $found == 0 && $key != *ExtensionInstallForcelist ]] && bad "$2: $key is left"
    fi
    if [[ $1 == present ]]; then
      grep -qxF "$name|$value" <<<"$listing" || bad "$2: $key has not $name = '$value' but: $(grep "^$name|" <<<"$listing")"
    elif grep -q "^$name|" <<<"$listing"; then
      bad "$2: $key $name is left"
    fi
  done < <(expected_rows "${@:3}")
}

# The MSI per machine, over the previous version, with every policy, and per
# user: the list's rows, the host and the plug-in working from where they are
# registered, one installation after the upgrade, and nothing of the
# product's left after msiexec /x but a certificate enrolled through it.
msi_round_trip() {
  read_identity
  # A Firefox id in braces, as many are: the MSI's formatted text must keep
  # them, or the policy and the manifest would name another add-on.
  identity[2]='{0b5e1c2d-7a3f-4e21-9c8d-5f6a7b8c9d0e}'
  export ZVCERT_FIREFOX_EXTENSION_ID=${identity[2]}
  local build_dir root_pem authority
  build_dir=$(dirname "$W")
  root_pem=$(node "$root/tools/node/profile.js" "$build_dir" rootCertificate)
  authority=$(openssl x509 -in "$root_pem" -noout -subject -nameopt multiline | sed -n 's/^ *commonName *= //p')
  [[ -n $authority ]] || fatal "no authority's root in $build_dir/profile.json"
  "$build_installer" "$dll" "$work/out" >"$work/build.log" 2>&1 || { cat "$work/build.log"; fatal "build-installer.sh failed"; }
  msi=$(winpath "$work/out/$msi_name")  # not local, for the clean-up on exit
  # The previous version: this package as another product, one number lower;
  # for x64, before it an x86 package of the plug-in, lower still.
  older() {  # <msi> <last number> <product code>
    for query in "UPDATE \`Property\` SET \`Value\` = '${version%.*}.$2' WHERE \`Property\` = 'ProductVersion'" \
        "UPDATE \`Property\` SET \`Value\` = '$3' WHERE \`Property\` = 'ProductCode'" \
        "UPDATE \`Registry\` SET \`Value\` = '${version%.*}.$2' WHERE \`Name\` = 'Version'"; do
      msibuild "$1" -q "$query" || fatal "msibuild: $query"
    done
  }
  local previous=$work/previous.msi
  cp "$work/out/$msi_name" "$previous"
  older "$previous" 1 '{0E6B3C1A-9D51-4F5E-8C9B-2A7D4E6F8A01}'
  x86_msi=  # not local, for the clean-up on exit
  if [[ -n $x86_dll ]]; then
    ZVCERT_HOST_EXE=$x86_host "$build_installer" "$x86_dll" "$work/x86" >"$work/build.log" 2>&1 \
      || { cat "$work/build.log"; fatal "build-installer.sh failed for x86"; }
    x86_msi=$(winpath "$work/x86/npzvcert-$version.msi")
    older "$work/x86/npzvcert-$version.msi" 0 '{0E6B3C1A-9D51-4F5E-8C9B-2A7D4E6F8A00}'
  fi
  # Wine's msiexec takes the next word as the value of an empty property
  # (ALLUSERS=), so that one goes last.
  msiexec() { win msiexec "$@" /qn; }
  # An administrator's own force-install entry and another program's host,
  # which must outlive ours. Not local, for the clean-up on exit.
  admin_list='HKEY_LOCAL_MACHINE\Software\Policies\Google\Chrome\ExtensionInstallForcelist'
  other_host='HKEY_LOCAL_MACHINE\Software\Google\Chrome\NativeMessagingHosts\test.other.host'
  clean_msi() {
    msiexec /x "$msi"; msiexec /x "$msi" ALLUSERS=
    [[ -z $x86_msi ]] || msiexec /x "$x86_msi"
    win "$bin/zvcert-store.exe" purge "$authority" >/dev/null 2>&1
    reg_import "[-$admin_list]" "[-$other_host]"
  }
  clean_msi
  cleanup_hooks+=(clean_msi)
  local programs appdata status serial
  programs=$(win_env ProgramFiles) appdata=$(win_env LOCALAPPDATA)
  local machine="$programs\ZVCERT\npzvcert" user="$appdata\ZVCERT\npzvcert" key='HKLM\Software\MozillaPlugins\@zvcert.test/npzvcert'

  reg_import "[$admin_list]" '"1"="aaaabbbbccccddddeeeeffffgggghhhh;https://other.example/updates.xml"' \
    "[$other_host]" '@="C:\\other\\host.json"' || fatal "reg import of someone else's keys failed"
  if [[ -n $x86_msi ]]; then
    msiexec /i "$x86_msi"; status=$?
    (( status == 0 )) || fatal "installing the x86 package exited with $status"
    key_values "$key" 32 | grep -qx "Version|${version%.*}.0" || bad "the x86 package is not registered in the 32-bit view"
  fi
  msiexec /i "$(winpath "$previous")"; status=$?
  (( status == 0 )) || fatal "installing the previous version exited with $status"
  [[ $(reg_value "$key" Version) == "${version%.*}.1" ]] || bad "the previous version is not registered"
  msiexec /i "$msi" CHROMEPOLICY=1 EDGEPOLICY=1 FIREFOXPOLICY=1; status=$?
  (( status == 0 )) || fatal "installing over the previous version exited with $status"
  local listed=0 views=('') view
  [[ -n $x86_msi ]] && views=(/reg:64 /reg:32)
  for view in "${views[@]}"; do
    listed=$(( listed + $(win reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s $view | tr -d '\r' \
      | grep -c '^    DisplayName    REG_SZ    Dastro certificate control') ))
  done
  (( listed == 1 )) || bad "after the upgrade, $listed installations are listed, not one"
  if [[ -n $x86_msi ]]; then
    key_values "$key" 32 >/dev/null && bad "the replaced x86 package's $key is left in the 32-bit view"
    [[ -e $(unixpath "$(win_env 'ProgramFiles(x86)')\ZVCERT") ]] && bad "the replaced x86 package's folder is left"
    cmp -s "$(unixpath "$machine\x86\npzvcert.dll")" "$x86_dll" || bad "the x86 DLL installed per machine is not the one built"
  fi
  check_rows present "per machine" HKLM "$machine" CHROMEPOLICY EDGEPOLICY FIREFOXPOLICY
  cmp -s "$(unixpath "$machine\npzvcert.dll")" "$dll" || bad "the DLL installed per machine is not the one built"
  [[ $(probe_version "$machine\npzvcert.dll") == "$digits" ]] || bad "the plug-in does not load from $machine"
  check_manifest "$machine\npzvcert-host.chromium.json" chromium "${identity[0]}" "${identity[1]}" "$host"
  check_manifest "$machine\npzvcert-host.firefox.json" firefox "${identity[0]}" "${identity[2]}" "$host"
  host_answers "$machine\npzvcert-host.exe"
  serial=$(node "$check_js" enrol "$(unixpath "$machine\npzvcert-host.exe")" "$build_dir" "$root_pem") \
    || bad "no certificate enrolled through the installed host"

  msiexec /x "$msi"; status=$?
  (( status == 0 )) || bad "msiexec /x exited with $status"
  check_rows absent "uninstalled per machine" HKLM "$machine" CHROMEPOLICY EDGEPOLICY FIREFOXPOLICY
  [[ -e $(unixpath "$programs\ZVCERT") ]] && bad "$programs\ZVCERT is left"
  [[ $(reg_value "HKLM${admin_list#HKEY_LOCAL_MACHINE}" 1) == aaaabbbbcccc* ]] || bad "the administrator's own entry went"
  has_key "HKLM${other_host#HKEY_LOCAL_MACHINE}" || bad "another program's host went"
  [[ -n $serial ]] && ! win "$bin/zvcert-store.exe" list | grep -q "\"serial\":\"$serial\"" \
    && bad "the certificate enrolled before uninstalling is gone from MY"

  # Per machine, the folder is under Program Files whatever the command line
  # names: in a folder users may write, anyone could replace the host that
  # every user's browser starts. (Wine takes property names in any case.)
  local writable=$work/writable package setting folder view x86_machine=
  [[ -n $x86_msi ]] && x86_machine="$(win_env 'ProgramFiles(x86)')\ZVCERT\npzvcert"
  # The rows from fd 3: Wine's programs may read standard input.
  while IFS='|' read -r package setting <&3; do
    [[ -n $package ]] || continue
    folder=$machine view=
    [[ $package == "$x86_msi" ]] && folder=$x86_machine view=32
    mkdir -p "$writable"
    msiexec /i "$package" "$setting=$(winpath "$writable")\\" ALLUSERS=1; status=$?
    if (( status != 0 )); then
      bad "msiexec /i ${package##*\\} with $setting=<a folder users may write> exited with $status"
    else
      [[ -n $(find "$writable" -mindepth 1 -print -quit) ]] && bad "$setting= placed a per-machine installation in $writable"
      key_values "$key" $view | grep -qxF "Path|$folder\npzvcert.dll" \
        || bad "with $setting=, ${package##*\\} registers the plug-in elsewhere than $folder: $(key_values "$key" $view | grep '^Path|')"
    fi
    msiexec /x "$package"
    rm -rf "$writable"
  done 3<<EOF
$msi|INSTALLDIR
$msi|installdir
$msi|VENDORDIR
$msi|TARGETDIR
${x86_msi:+$msi|X86DIR}
${x86_msi:+$x86_msi|INSTALLDIR}
EOF

  # Per user, where policies are refused: they are machine-wide.
  msiexec /i "$msi" CHROMEPOLICY=1 ALLUSERS=; status=$?
  (( status != 0 )) || bad "a per-user installation with a browser policy was accepted"
  msiexec /i "$msi" ALLUSERS=; status=$?
  (( status == 0 )) || fatal "installing per user exited with $status"
  check_rows present "per user" HKCU "$user"
  [[ $(probe_version "$user\npzvcert.dll") == "$digits" ]] || bad "the plug-in does not load from $user"
  host_answers "$user\npzvcert-host.exe"
  msiexec /x "$msi" ALLUSERS=; status=$?
  (( status == 0 )) || bad "msiexec /x per user exited with $status"
  check_rows absent "uninstalled per user" HKCU "$user"
  [[ -e $(unixpath "$appdata\ZVCERT") ]] && bad "$appdata\ZVCERT is left"
}

case $mode in
  round-trip) round_trip ;;
  code-signing) code_signing ;;
  build-inputs) build_inputs ;;
  msi) msi_round_trip ;;
  *) echo "unknown mode $mode" >&2; exit 2 ;;
esac
exit $fail
