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
exit $fail
