#!/usr/bin/env bash
# Builds the installers around a built npzvcert.dll and its native-messaging
# host: the per-user setup, and the MSI for organisations (per machine or per
# user, with optional browser policies), both registering the rows of
# installer/registry.rows:
#   scripts/build-installer.sh <dll> <output dir> [plugin id]
# Writes <output dir>/npzvcert.dll and <output dir>/npzvcert-host.exe (the
# copies shipped, signed when signing is on), <output dir>/npzvcert-setup.exe
# and <output dir>/npzvcert-<version>.msi.
# An x64 DLL (its PE header says which) makes the x64 packages instead, which
# also carry the x86 plug-in for 32-bit browsers on 64-bit Windows: the copies
# shipped in <output dir>/x64/ (npzvcert.dll, npzvcert-host.exe,
# x86/npzvcert.dll), <output dir>/npzvcert-setup-x64.exe and
# <output dir>/npzvcert-<version>-x64.msi. Either architecture replaces only
# its own outputs, so both can be built into one folder.
# The plug-in id (the browsers' registry key, @vendor-domain/name) defaults to
# $ZVCERT_PLUGIN_ID, else @zvcert.test/npzvcert.
#
#   ZVCERT_HOST_EXE   the npzvcert-host.exe to ship (default: the one beside
#                     the DLL, where the build puts it), of the DLL's
#                     architecture
#   ZVCERT_X86_DLL    for an x64 DLL, the x86 npzvcert.dll of the same
#                     version (default: the x86 build's beside the x64 one,
#                     <dll folder>/../../win32/bin/npzvcert.dll)
# The DLL and the host say in their version resources whether their build
# was a release (ZVCERT_RELEASE=ON) and which extension identity it was for
# (host name, Chromium id, Firefox id); both, and for x64 the x86 DLL too,
# must say the same. The installer is a release only when they say so;
# otherwise it calls itself a development build. Where the files are, and
# any build folder near them, changes neither.
# The host's manifests name the host and the extensions allowed to reach it.
# A release takes them from its binaries only: these may name the same
# values again, anything else is refused, and so is the development
# identity, which is public: any extension could take its ids.
#   ZVCERT_EXTENSION_IDENTITY     an identity file (hostName, chromiumId, firefoxId)
#   ZVCERT_NATIVE_HOST            the native-messaging host name
#   ZVCERT_EXTENSION_ID           the Chromium-family extension id
#   ZVCERT_FIREFOX_EXTENSION_ID   the Firefox extension id
# A development build takes the identity file named, else the one of the
# DLL's build (its profile.json, one folder above the DLL), else the
# development extension/identity.json, each of its values overridden by the
# variable set.
# The MSI's browser policies install the extension from the authority's
# addresses, by default beside its download address (the build's
# ZVCERT_DOWNLOAD_URL, else http://127.0.0.1:8765/download/):
#   ZVCERT_EXTENSION_UPDATE_URL   Chrome's and Edge's update manifest
#                                 (default <download>extension/updates.xml)
#   ZVCERT_FIREFOX_INSTALL_URL    Firefox's signed .xpi
#                                 (default <download>extension/npzvcert.xpi)
# A release takes https addresses only, and not this machine's.
#
# Authenticode signing, when both are set:
#   ZVCERT_SIGN_CERT  PEM certificate, or the chain, leaf first
#   ZVCERT_SIGN_KEY   PEM private key
#   ZVCERT_SIGN_PASS  the key's passphrase, if it has one
#   ZVCERT_SIGN_CAFILE  trust anchors for the check after signing (default:
#                       the given chain and the system's CA bundle)
#   ZVCERT_SIGN_URL   a web address to put in the signatures, if wanted
# Nothing is timestamped: signing must work without a network.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

usage() { echo "usage: $0 <dll> <output dir> [plugin id]" >&2; exit 2; }
die() { echo "build-installer: $*" >&2; exit 1; }
(( $# >= 2 && $# <= 3 )) || usage
dll=$1 out=$2
plugin_id=${3:-${ZVCERT_PLUGIN_ID:-@zvcert.test/npzvcert}}
sign_url=${ZVCERT_SIGN_URL:-}

[[ -f $dll ]] || die "no such DLL: $dll"
# makensis works in the script's folder: every path it gets is absolute.
dll=$(realpath "$dll")
host_exe=${ZVCERT_HOST_EXE:-$(dirname "$dll")/npzvcert-host.exe}
[[ -f $host_exe ]] || die "no native-messaging host at $host_exe (build the npzvcert-host target, or set ZVCERT_HOST_EXE)"
host_exe=$(realpath "$host_exe")
# The id becomes a registry key name: one slash, no backslash, no spaces.
[[ $plugin_id =~ ^@[A-Za-z0-9.-]+/[A-Za-z0-9._-]+$ ]] \
  || die "plug-in id '$plugin_id' is not of the form @vendor-domain/name"
command -v makensis >/dev/null || die "makensis not found (scripts/setup.sh installs nsis)"
objdump=x86_64-w64-mingw32-objdump
command -v $objdump >/dev/null || die "$objdump not found (scripts/setup.sh installs the mingw-w64 tools)"
for tool in wixl msibuild; do
  command -v $tool >/dev/null || die "$tool not found (scripts/setup.sh installs wixl and msitools)"
done
command -v node >/dev/null || die "node not found (scripts/setup.sh installs nodejs)"

# x86 or x64, from the machine the PE file is built for.
pe_arch() {
  case $($objdump -f "$1" 2>/dev/null | sed -n 's/.*file format //p') in
    pei-i386) echo x86 ;;
    pei-x86-64) echo x64 ;;
    *) return 1 ;;
  esac
}
arch=$(pe_arch "$dll") || die "$dll is neither an x86 nor an x64 Windows DLL"
host_arch=$(pe_arch "$host_exe") || die "$host_exe is neither an x86 nor an x64 Windows program"
[[ $host_arch == "$arch" ]] || die "the host $host_exe is $host_arch, the DLL $dll is $arch: give one of the same architecture"
x86_dll=
if [[ $arch == x64 ]]; then
  x86_dll=${ZVCERT_X86_DLL:-$(dirname "$dll")/../../win32/bin/npzvcert.dll}
  [[ -f $x86_dll ]] || die "the x64 packages carry the x86 plug-in too, for 32-bit browsers, and there is none at" \
    "$x86_dll (build npzvcert in the x86 build, or set ZVCERT_X86_DLL)"
  x86_dll=$(realpath "$x86_dll")
  [[ $(pe_arch "$x86_dll") == x86 ]] || die "ZVCERT_X86_DLL $x86_dll is not an x86 DLL"
fi

# What a binary says of its build: release or development, host name,
# Chromium id, Firefox id, a line each.
carried() {
  node "$ROOT/installer/version_info.js" "$1" Build NativeHost ChromiumExtensionId FirefoxExtensionId
}
dll_build=$(carried "$dll") || die "$dll does not say which build it is (a DLL built before its version resource did)"
for binary in "$host_exe" ${x86_dll:+"$x86_dll"}; do
  [[ $(carried "$binary") == "$dll_build" ]] || die "$binary and $dll are not of one build: their version resources" \
    "differ in release and extension identity ($(carried "$binary" 2>&1 | paste -sd' ') against $(paste -sd' ' <<<"$dll_build"))"
done
mapfile -t carried_values <<<"$dll_build"
case ${carried_values[0]} in
  release) release=1 ;;
  development) release=0 ;;
  *) die "$dll says it is a '${carried_values[0]}' build, neither release nor development" ;;
esac
# The DLL's build, for what its binaries do not carry: a development build's
# identity file and the download address.
build_dir=$(dirname "$dll")/..
build_fact() {  # <field>: of the DLL's build (its profile.json), empty where there is none
  [[ ! -f $build_dir/profile.json ]] ||
    node -p 'require(process.argv[1])[process.argv[2]] ?? ""' "$(realpath "$build_dir/profile.json")" "$1"
}

# A value set in the environment wins, even an empty one, which then fails
# the checks below rather than quietly falling back to the file.
if [[ -n ${ZVCERT_EXTENSION_IDENTITY+set} ]]; then
  identity=$ZVCERT_EXTENSION_IDENTITY
elif (( release )); then
  identity=
else
  identity=$(build_fact extensionIdentity)
  identity=${identity:-$ROOT/extension/identity.json}
fi
identity_value() {  # <environment variable> <key in identity.json> <what the binaries carry>
  if (( release )); then
    # Only the binaries' own value, named again, is taken.
    local given= from=$1
    if [[ -n ${!1+set} ]]; then
      given=${!1}
    elif [[ -n $identity ]]; then
      given=$(identity_file_value "$2") || exit 1
      from=$identity
    else
      printf '%s' "$3"; return
    fi
    [[ $given == "$3" ]] || die "a release is packaged with the extension identity its DLL and host were built" \
      "for: $2 '$given' (from $from) is not their '$3'"
    printf '%s' "$3"; return
  fi
  if [[ -n ${!1+set} ]]; then printf '%s' "${!1}"; return; fi
  identity_file_value "$2"
}
identity_file_value() {  # <key in identity.json>
  [[ -f $identity ]] || die "no $identity: set ZVCERT_EXTENSION_IDENTITY"
  node -e '
    const [file, key] = process.argv.slice(1);
    const value = JSON.parse(require("fs").readFileSync(file, "utf8"))[key];
    if (typeof value !== "string") { console.error(`${file} has no text "${key}"`); process.exit(1); }
    process.stdout.write(value);' "$identity" "$1" || die "cannot read $1 from $identity"
}
native_host=$(identity_value ZVCERT_NATIVE_HOST hostName "${carried_values[1]}")
chromium_id=$(identity_value ZVCERT_EXTENSION_ID chromiumId "${carried_values[2]}")
firefox_id=$(identity_value ZVCERT_FIREFOX_EXTENSION_ID firefoxId "${carried_values[3]}")
# What Chromium accepts as a host name; it is also a registry key name.
[[ $native_host =~ ^[a-z0-9_]+(\.[a-z0-9_]+)*$ ]] \
  || die "native host name '$native_host' may hold only a-z, 0-9, _ and single dots inside"
# Chromium ids are 32 letters a-p (a hash written in base 16 with a-p).
[[ $chromium_id =~ ^[a-p]{32}$ ]] || die "Chromium extension id '$chromium_id' is not 32 letters a-p"
[[ -n $firefox_id && $firefox_id != *[\"\\]* && $firefox_id != *[[:cntrl:]]* ]] \
  || die "Firefox extension id '$firefox_id' is empty or holds quotes, backslashes or control characters"
if (( release )); then
  development_fields=$(node -e '
    const [identityJs, hostName, chromiumId, firefoxId] = process.argv.slice(1);
    console.log(require(identityJs).developmentFields({ hostName, chromiumId, firefoxId }).join(", "));' \
    "$ROOT/extension/identity.js" "$native_host" "$chromium_id" "$firefox_id") || die "cannot check the identity"
  [[ -z $development_fields ]] || die "a release needs the authority's own extension identity, not the" \
    "development one's $development_fields (which its DLL and host were built for), which anyone may use:" \
    "node extension/identity.js makes one (see docs/extension.md)"
fi

# Where the MSI's policies install the extension from.
download=$(build_fact downloadUrl)
download=${download:-http://127.0.0.1:8765/download/}
[[ $download == */ ]] || download+=/
update_url=${ZVCERT_EXTENSION_UPDATE_URL-${download}extension/updates.xml}
firefox_install_url=${ZVCERT_FIREFOX_INSTALL_URL-${download}extension/npzvcert.xpi}
for url in "$update_url" "$firefox_install_url"; do
  [[ $url =~ ^https?://[^/?#\ \"\;]+/[^\ \"\;]*$ ]] || die "'$url' is not a web address for a browser policy"
  if (( release )) && [[ ! $url =~ ^https:// || $url =~ ^https://(localhost|127\.[0-9.]+|\[::1\])[:/] ]]; then
    die "a release installs the extension from the authority's https addresses only, not '$url'"
  fi
done
# Chrome and Edge read a force-install list's entries by any numeric name:
# ours is a number of its own, from the extension id (letters a-p, 4 bits
# each), beside the administrator's 1, 2, 3...
policy_index=$(node -e 'console.log(1000000 + parseInt([...process.argv[1].slice(0, 5)].map((c) => (c.charCodeAt(0) - 97).toString(16)).join(""), 16))' "$chromium_id")

# The installer carries the version the DLL itself reports: FileVersion of
# its VS_FIXEDFILEINFO, which starts after the signature 0xFEEF04BD and the
# structure version.
dll_version() {
  local at ms ls
  at=$(LC_ALL=C grep -obUaP '\xbd\x04\xef\xfe' "$1" | head -1 | cut -d: -f1)
  [[ -n $at ]] || return 1
  read -r ms ls < <(od -An -tu4 -j $((at + 8)) -N 8 --endian=little "$1")
  echo "$((ms >> 16)).$((ms & 0xffff)).$((ls >> 16)).$((ls & 0xffff))"
}
version=$(dll_version "$dll") || die "$dll has no version resource"
if [[ -n $x86_dll ]]; then
  # Both plug-ins are registered with the package's version.
  x86_version=$(dll_version "$x86_dll") || die "$x86_dll has no version resource"
  [[ $x86_version == "$version" ]] || die "the x86 plug-in $x86_dll is version $x86_version, the x64 one $version"
fi
development=(-DDEVELOPMENT_BUILD)
(( release )) && development=()
(( ${#development[@]} )) && echo "development build: the installer says so"

signing=0
if [[ -n ${ZVCERT_SIGN_CERT:-} || -n ${ZVCERT_SIGN_KEY:-} ]]; then
  # Half a configuration must not quietly give an unsigned release.
  [[ -n ${ZVCERT_SIGN_CERT:-} && -n ${ZVCERT_SIGN_KEY:-} ]] \
    || die "set both ZVCERT_SIGN_CERT and ZVCERT_SIGN_KEY, or neither"
  [[ -f $ZVCERT_SIGN_CERT ]] || die "no such certificate file: $ZVCERT_SIGN_CERT"
  [[ -f $ZVCERT_SIGN_KEY ]] || die "no such key file: $ZVCERT_SIGN_KEY"
  command -v osslsigncode >/dev/null || die "osslsigncode not found (scripts/setup.sh installs it)"
  signing=1
fi

mkdir -p "$out"
out=$(realpath "$out")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

sign_args=()
if (( signing )); then
  sign_args=(-certs "$ZVCERT_SIGN_CERT" -key "$ZVCERT_SIGN_KEY" -h sha256
             -n "Dastro certificate control")
  [[ -n $sign_url ]] && sign_args+=(-i "$sign_url")
  if [[ -n ${ZVCERT_SIGN_PASS:-} ]]; then
    # From a private file rather than the command line, where any user's
    # process list would show it.
    (umask 077; printf '%s' "$ZVCERT_SIGN_PASS" > "$work/pass")
    sign_args+=(-readpass "$work/pass")
  fi
  cafile=${ZVCERT_SIGN_CAFILE:-}
  if [[ -z $cafile ]]; then
    cafile=$work/trust.pem
    cat "$ZVCERT_SIGN_CERT" > "$cafile"
    [[ -f /etc/ssl/certs/ca-certificates.crt ]] && cat /etc/ssl/certs/ca-certificates.crt >> "$cafile"
  fi
fi

# Signs $1 into $2, then checks the result: osslsigncode's exit status alone
# is not enough, so its report must also say the signature verified.
sign() {
  local log=$work/sign.log
  osslsigncode sign "${sign_args[@]}" -in "$1" -out "$2" >"$log" 2>&1 \
    || { cat "$log" >&2; die "signing $1 failed"; }
  if ! osslsigncode verify -CAfile "$cafile" -in "$2" >"$log" 2>&1 \
      || ! grep -q '^Signature verification: ok' "$log" || grep -q 'MISMATCH' "$log"; then
    cat "$log" >&2
    die "the signature on $2 does not verify"
  fi
  echo "signed and verified: $2"
}

if [[ $arch == x64 ]]; then
  ship=$out/x64 suffix=-x64
  shipped_x86=$ship/x86/npzvcert.dll
  mkdir -p "$ship/x86"
  rm -f "$shipped_x86" "$out"/npzvcert-*-x64.msi
else
  ship=$out suffix=
  # Every version's MSI but the x64 packages'.
  for old in "$out"/npzvcert-*.msi; do [[ $old == *-x64.msi ]] || rm -f "$old"; done
fi
shipped=$ship/npzvcert.dll
shipped_host=$ship/npzvcert-host.exe
setup=$out/npzvcert-setup$suffix.exe
msi=$out/npzvcert-$version$suffix.msi
rm -f "$shipped" "$shipped_host" "$setup"
if (( signing )); then
  sign "$dll" "$shipped"
  sign "$host_exe" "$shipped_host"
  [[ -z $x86_dll ]] || sign "$x86_dll" "$shipped_x86"
else
  cp "$dll" "$shipped"
  cp "$host_exe" "$shipped_host"
  [[ -z $x86_dll ]] || cp "$x86_dll" "$shipped_x86"
fi
x86_define=()
[[ -z $x86_dll ]] || x86_define=("-DX86_DLL=$shipped_x86")

# The host's manifests, one per browser family. "path" is relative: both
# families resolve it against the manifest's own folder on Windows, so the
# files need not know where the user installs.
node "$ROOT/extension/host_manifest.js" \
  "$work/manifests" "$native_host" "$chromium_id" "$firefox_id" npzvcert-host.exe || die "could not write the host manifests"

# Both installers' rows, from one list.
rows=("PLUGIN_ID=$plugin_id" "NATIVE_HOST=$native_host" "VERSION=$version" "CHROMIUM_ID=$chromium_id"
      "FIREFOX_ID=$firefox_id" "UPDATE_URL=$update_url" "FIREFOX_INSTALL_URL=$firefox_install_url"
      "POLICY_INDEX=$policy_index" "ARCH=$arch")
node "$ROOT/installer/rows.js" nsis "$work/registry.nsh" "${rows[@]}" || die "could not write the setup's registry rows"
node "$ROOT/installer/rows.js" wix "$work" "${rows[@]}" || die "could not write the MSI's registry rows"

makensis -V2 -INPUTCHARSET UTF8 \
  "-DDLL=$shipped" "-DHOST_EXE=$shipped_host" "-DOUTFILE=$work/setup.exe" \
  "-DVERSION=$version" "-DREGISTRY=$work/registry.nsh" "${development[@]}" "${x86_define[@]}" \
  "-DCHROMIUM_MANIFEST=$work/manifests/chromium.json" "-DFIREFOX_MANIFEST=$work/manifests/firefox.json" \
  "$ROOT/installer/npzvcert.nsi" >"$work/makensis.log" 2>&1 \
  || { cat "$work/makensis.log" >&2; die "makensis failed"; }

if (( signing )); then
  sign "$work/setup.exe" "$setup"
else
  cp "$work/setup.exe" "$setup"
  echo "unsigned: set ZVCERT_SIGN_CERT and ZVCERT_SIGN_KEY to sign"
fi
echo "installer: $setup (plug-in $plugin_id, version $version, $arch, native host $native_host)"

# The MSI. Its upgrade code is the plug-in id's, so that a newer version of
# this authority's plug-in replaces an older one, and no other's; the same
# for x86 and x64, so that an organisation moving from one package to the
# other is left with one installation.
upgrade_code=$(node -e '
  const hex = require("crypto").createHash("sha1").update(`npzvcert MSI upgrade ${process.argv[1]}`).digest("hex");
  console.log(`${hex.slice(0, 8)}-${hex.slice(8, 12)}-5${hex.slice(13, 16)}-${(8 + parseInt(hex[16], 16) % 4).toString(16)}${hex.slice(17, 20)}-${hex.slice(20, 32)}`.toUpperCase());' \
  "$plugin_id")
# The names the setup takes from registry.rows, as wixl's variables.
mapfile -t names < <(node "$ROOT/installer/rows.js" defines "${rows[@]}")
defines=() title=
for name in "${names[@]}"; do
  defines+=(-D "$name")
  [[ $name == PRODUCT=* ]] && title=${name#PRODUCT=}
done
(( release )) || title+=" (development build)"
# wixl takes the files by names relative to where it runs.
mkdir -p "$work/msi"
cp "$shipped" "$shipped_host" "$work/msi/"
if [[ -n $x86_dll ]]; then
  mkdir -p "$work/msi/x86" && cp "$shipped_x86" "$work/msi/x86/"
  x86_define=(-D X86_DLL=x86/npzvcert.dll)
fi
cp "$work/manifests/chromium.json" "$work/msi/chromium.json"
cp "$work/manifests/firefox.json" "$work/msi/firefox.json"
(cd "$work/msi" && wixl -a "$arch" -o "$work/product.msi" "${x86_define[@]}" \
  -D "TITLE=$title" -D "VERSION=$version" -D "UPGRADE_CODE=$upgrade_code" \
  "${defines[@]}" -D DLL=npzvcert.dll -D HOST_EXE=npzvcert-host.exe -D CHROMIUM_MANIFEST=chromium.json \
  -D FIREFOX_MANIFEST=firefox.json -D "REGISTRY=$work/registry.wxi" -D "REGISTRY_REFS=$work/registry-refs.wxi" \
  "$ROOT/installer/npzvcert.wxs") >"$work/wixl.log" 2>&1 || { cat "$work/wixl.log" >&2; die "wixl failed"; }
# What wixl cannot say: the rows' fixes; the per-user folder set as a plain
# property (type 51) after the launch conditions and before the folders are
# resolved, in both sequences; the vendor's folder made a folder of the
# product's, removed with it when nothing else is left in it; and, since
# Windows Installer compares only a version's first three numbers, builds
# that differ in the fourth replacing each other (the newest version
# included in the upgrade).
mapfile -t fixes < <(node "$ROOT/installer/rows.js" msi-fixes "${rows[@]}")
fixes+=("UPDATE \`CustomAction\` SET \`Type\` = 51 WHERE \`Action\` = 'PerUserFolder'"
        "UPDATE \`InstallExecuteSequence\` SET \`Sequence\` = 990 WHERE \`Action\` = 'PerUserFolder'"
        "INSERT INTO \`InstallUISequence\` (\`Action\`, \`Condition\`, \`Sequence\`) VALUES ('PerUserFolder', 'NOT ALLUSERS', 990)"
        "DELETE FROM \`Upgrade\` WHERE \`ActionProperty\` = 'WIX_UPGRADE_DETECTED'"
        "INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMax\`, \`Attributes\`, \`ActionProperty\`) VALUES ('{$upgrade_code}', '$version', 513, 'WIX_UPGRADE_DETECTED')"
        "INSERT INTO \`CreateFolder\` (\`Directory_\`, \`Component_\`) VALUES ('vendordir', 'Host')"
        "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('RemoveFolders', 3600)"
        "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('CreateFolders', 3700)")
for fix in "${fixes[@]}"; do
  msibuild "$work/product.msi" -q "$fix" >"$work/msibuild.log" 2>&1 \
    || { cat "$work/msibuild.log" >&2; die "msibuild could not apply: $fix"; }
done
if (( signing )); then
  sign "$work/product.msi" "$msi"
else
  cp "$work/product.msi" "$msi"
fi
echo "MSI: $msi (upgrade code {$upgrade_code})"
