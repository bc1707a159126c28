#!/usr/bin/env bash
# The C++ sources are laid out as .clang-format says: any file that
# clang-format would change is named with the first lines it would change.
set -uo pipefail
root=$1 fail=0
cd "$root" || exit 2
command -v clang-format >/dev/null || { echo "FAIL: clang-format not found (scripts/setup.sh installs it)"; exit 1; }
while IFS= read -r file; do
  if ! diff=$(clang-format --style=file "$file" | diff -u "$file" -); then
    echo "FAIL: $file is not formatted (clang-format -i $file):"
    head -12 <<<"$diff"
    fail=1
  fi
done < <(find src tests bench tools \( -name '*.cpp' -o -name '*.h' \) -not -path '*/corpus/*' | sort)
exit $fail
