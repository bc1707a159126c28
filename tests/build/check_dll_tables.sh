#!/usr/bin/env bash
# The built plug-in exports exactly the three NPAPI entry points, undecorated,
# imports system DLLs only (no toolchain runtime a browser would lack), and,
# given the root certificate it was built with, carries that certificate in
# its built-in form and no private key.
set -euo pipefail
dll=$1 root=${2:-}
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
dump=$("$objdump" -p "$dll")

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
echo "exports: $(tr '\n' ' ' <<<"$exports")"
echo "imports: $(tr '\n' ' ' <<<"$imports")"
exit $status
