#!/usr/bin/env bash
# scripts/setup.sh is quiet while its steps succeed; a step that fails shows
# its own output, is named, and stops the script. A fake dpkg finds every
# package installed, a fake npm stands for the registry.
set -uo pipefail
root=$1 fail=0
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
mkdir -p "$work/scripts/lib" "$work/bin"
cp "$root/scripts/setup.sh" "$work/scripts/" && cp "$root/scripts/lib/common.sh" "$work/scripts/lib/"
printf '#!/bin/sh\necho "install ok installed"\n' >"$work/bin/dpkg-query"
printf '#!/bin/sh\necho i386\n' >"$work/bin/dpkg"
while IFS='|' read -r npm status ending; do
  printf '#!/bin/sh\n%s\n' "$npm" >"$work/bin/npm" && chmod +x "$work/bin/"*
  out=$(PATH=$work/bin:$PATH bash "$work/scripts/setup.sh" 2>&1 | tr -s '\n' ' ')
  got=$?
  [[ $got == "$status" && $out == *"$ending " ]] \
    || { echo "FAIL: npm '$npm': expected status $status and the output to end '$ending', got $got: $out"; fail=1; }
done <<'CASES'
echo "npm error 404 Not Found - typescript"; exit 1|1|npm error 404 Not Found - typescript setup: installing the npm packages for the tests failed (npm exited 1); its output is above
echo "added 3 packages in 2s"|0|asn1js@3.0.7 from the npm registry
CASES

# The Windows architectures the test command runs: the 32-bit probe agrees
# with the system's own 32-bit loader where there is one (a broken probe would
# quietly drop every x86 test), and the setting narrows, never widens.
if [[ -x /lib32/ld-linux.so.2 ]]; then
  loader=no; /lib32/ld-linux.so.2 --version >/dev/null 2>&1 && loader=yes
  probe=no; (source "$work/scripts/lib/common.sh" && can_run_32bit) && probe=yes
  [[ $probe == "$loader" ]] || { echo "FAIL: the 32-bit probe says $probe, the 32-bit loader runs: $loader"; fail=1; }
fi
x86=; (source "$work/scripts/lib/common.sh" && can_run_32bit) && x86="x86 "
while IFS='|' read -r setting expected; do
  got=$(ZVCERT_WINDOWS_ARCHES=$setting bash -c 'source "$0" && windows_arches | paste -sd" "; echo "$WIN_ARCH"' \
        "$work/scripts/lib/common.sh" 2>&1 | paste -sd'|')
  expected=${expected//X86 /$x86}
  [[ $got == "$expected" ]] || { echo "FAIL: ZVCERT_WINDOWS_ARCHES='$setting': expected '$expected', got '$got'"; fail=1; }
done <<CASES
x64|x64|x64
|X86 x64|$([[ -n $x86 ]] && echo x86 || echo x64)
x86 x64|X86 x64|$([[ -n $x86 ]] && echo x86 || echo x64)
arm64|ZVCERT_WINDOWS_ARCHES='arm64' names no architecture this machine runs (x64, or x86 where 32-bit programs run)
CASES
exit $fail
