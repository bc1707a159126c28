#!/usr/bin/env bash
# The folders of src/ include each other along one-way arrows: no cycle, the
# host never reaches the plug-in's script, plugin or request code, and the
# encodings depend on nothing. The build's own check refuses an include that
# a folder's library does not declare.
set -uo pipefail
root=$1
fail=0
declare -A reach
for dir in "$root"/src/*/; do
  own=$(basename "$dir")
  reach[$own]=$(grep -ho '^#include "[a-z_]*/' "$dir"*.h "$dir"*.cpp 2>/dev/null |
                sed 's/#include "//; s#/##' | grep -vx "$own" | sort -u | tr '\n' ' ')
done
# Closes the relation: a folder reaches what the folders it includes reach.
for _ in "${!reach[@]}"; do
  for folder in "${!reach[@]}"; do
    for via in ${reach[$folder]}; do
      reach[$folder]=$(tr ' ' '\n' <<<"${reach[$folder]} ${reach[$via]:-}" | sort -u | tr '\n' ' ')
    done
  done
done
for folder in "${!reach[@]}"; do
  [[ " ${reach[$folder]} " == *" $folder "* ]] && { echo "FAIL: $folder includes itself through ${reach[$folder]}"; fail=1; }
done
for banned in script plugin request; do
  [[ " ${reach[host]} " == *" $banned "* ]] && { echo "FAIL: host reaches $banned"; fail=1; }
done
[[ -z "${reach[encoding]// /}" ]] || { echo "FAIL: encoding reaches ${reach[encoding]}"; fail=1; }
# The extension and the page library build from themselves, never from the tests' tools.
grep -rnE "(require\(|from |import\().*tools/" "$root/extension" "$root/web" && { echo "FAIL: the product reaches tools/"; fail=1; }

# The configuration's check, on a folder with one include of another folder.
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
mkdir "$work/host"
printf '#include "host/json.h"\n#include "script/members.h"\n' > "$work/host/x.cpp"
check() { cmake -DFOLDER="$work/host" -DUSES="$1" -P "$root/cmake/Layers.cmake" 2>&1 | tr -s '\n ' ' '; return "${PIPESTATUS[0]}"; }
out=$(check "store;encoding") && { echo "FAIL: an undeclared include was accepted"; fail=1; }
[[ $out == *"host/x.cpp includes script/, which the host library does not use"* ]] ||
  { echo "FAIL: the refusal gives no reason: $out"; fail=1; }
check "store;script" >/dev/null || { echo "FAIL: a declared include was refused"; fail=1; }
exit $fail
