#!/usr/bin/env bash
# The built plug-in exports exactly the three NPAPI entry points, undecorated,
# imports system DLLs only (no toolchain runtime a browser would lack), and,
# given the root certificate it was built with, carries that certificate in
# its built-in form and no private key. Given the architecture (x86 or x64),
# the file is for that machine.
set -euo pipefail
dll=$1 root=${2:-} arch=${3:-}
# The x64 tools read x86 files too.
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
dump=$("$objdump" -p "$dll")
format=$(sed -n 's/.*file format \(.*\)/\1/p' <<<"$dump" | head -1)
declare -A formats=([x86]=pei-i386 [x64]=pei-x86-64)
if [[ -n $arch && $format != "${formats[$arch]:-}" ]]; then
  echo "the file is $format, not ${formats[$arch]:-an architecture this knows} ($arch)"; exit 1
fi

exports=$(awk '/\[Ordinal\/Name Pointer\] Table/{on=1; next} on && NF==0{on=0} on{print $NF}' <<<"$dump" | sort)
expected=$(printf '%s\n' NP_GetEntryPoints NP_Initialize NP_Shutdown)
if [[ "$exports" != "$expected" ]]; then
  echo "exports differ: got"; echo "$exports"; exit 1
fi

system='^(KERNEL32|USER32|GDI32|ADVAPI32|VERSION|CRYPT32|RPCRT4|msvcrt)\.dll$'
imports=$(awk '/DLL Name:/{print $3}' <<<"$dump")
status=0
while read -r name; do
  if ! [[ "$name" =~ $system ]]; then echo "imports a non-system DLL: $name"; status=1; fi
done <<<"$imports"
if [[ -n "$root" ]]; then
  first_line=$(grep -v -- ----- "$root" | tr -d '\n' | cut -c1-64)
  # Tabs and line feeds made visible, since grep matches within lines.
  if ! tr '\t\n' '~|' <"$dll" | grep -qaF "~-----BEGIN CERTIFICATE-----|~$first_line|"; then
    echo "the built-in root certificate is not in the DLL in its tab-indented form"; status=1
  fi
  if grep -qa "PRIVATE KEY" "$dll"; then echo "the DLL contains a private key"; status=1; fi
fi
echo "format: $format"
echo "exports: $(tr '\n' ' ' <<<"$exports")"
echo "imports: $(tr '\n' ' ' <<<"$imports")"
exit $status
