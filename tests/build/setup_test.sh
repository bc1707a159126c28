#!/usr/bin/env bash
# The scripts are quiet while their steps succeed; a step that fails shows
# its own output and its command, is named, and stops the script. A fake dpkg
# finds every package installed, a fake npm stands for the registry.
set -uo pipefail
root=$1 fail=0
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
mkdir -p "$work/scripts/lib" "$work/bin"
cp "$root/scripts/"{setup,main,bench,fuzz,soak}.sh "$work/scripts/" && cp "$root/scripts/lib/"*.sh "$work/scripts/lib/"
printf '#!/bin/sh\necho "install ok installed"\n' >"$work/bin/dpkg-query"
printf '#!/bin/sh\necho i386\n' >"$work/bin/dpkg"
while IFS='|' read -r npm status ending; do
  printf '#!/bin/sh\n%s\n' "$npm" >"$work/bin/npm" && chmod +x "$work/bin/"*
  out=$(PATH=$work/bin:$PATH bash "$work/scripts/setup.sh" 2>&1 | tr -s '\n' ' ')
  got=$?
  [[ $got == "$status" && $out == *$ending" " ]] \
    || { echo "FAIL: npm '$npm': expected status $status and the output to end '$ending' (a pattern), got $got: $out"; fail=1; }
done <<'CASES'
echo "npm error 404 Not Found - typescript"; exit 1|1|npm error 404 Not Found - typescript the command: npm install --prefix * setup: installing the npm packages for the tests failed (npm exited 1); its output is above
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
# Each script's build steps on a tree whose one source file, or whose CMake
# file, is broken: the compiler's or CMake's error and the command are on
# screen (a pattern). The tree's targets stand for the real ones.
mkdir -p "$work/cmake" "$work/tools/node" && cp "$root"/cmake/mingw*.cmake "$work/cmake/" && touch "$work/tools/node/ca.js"
printf '#!/bin/sh\n' >"$work/scripts/setup.sh"
echo '#error this line is broken on purpose' >"$work/broken.cpp"
while IFS='|' read -r script broken shown command; do
  cat >"$work/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.20)
project(broken CXX)
$broken
foreach(target npzvcert npzvcert-host base64_benchmark request_benchmark store_benchmark soak)
  add_executable(\${target} broken.cpp)
endforeach()
CMAKE
  rm -rf "$work/build"
  out=$(ZVCERT_BUILD_DIR=$work/build bash "$work/scripts/$script" 2>&1) && fail=1
  [[ $out == *$shown* && $out == *"the command: $command"* ]] \
    || { echo "FAIL: $script with a broken $([[ -n $broken ]] && echo CMake file || echo source): '$shown' or the command '$command' is not on screen: $out"; fail=1; }
done <<'CASES'
main.sh||broken.cpp:1:2: error:*this line is broken on purpose|cmake --build
bench.sh||broken.cpp:1:2: error:*this line is broken on purpose|cmake --build
fuzz.sh||broken.cpp:1:2: error:*this line is broken on purpose|cmake --build
soak.sh|message(FATAL_ERROR "this CMake file is broken on purpose")|this CMake file is broken on purpose|cmake -S
CASES
exit $fail
