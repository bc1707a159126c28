#!/usr/bin/env bash
# The C++ sources are laid out as .clang-format says: any file that
# clang-format would change is named with the lines it would change. One
# clang-format for all of them: a process a file took half a minute.
set -uo pipefail
root=$1
cd "$root" || exit 2
command -v clang-format >/dev/null || { echo "FAIL: clang-format not found (scripts/setup.sh installs it)"; exit 1; }
mapfile -t files < <(find src tests bench tools \( -name '*.cpp' -o -name '*.h' \) -not -path '*/corpus/*' | sort)
if ! out=$(clang-format --style=file --dry-run --Werror "${files[@]}" 2>&1); then
  echo "FAIL: not formatted as .clang-format says (clang-format -i FILE):"
  grep -E '^[^ ]+:[0-9]+:[0-9]+: error' <<<"$out" | head -40
  exit 1
fi
