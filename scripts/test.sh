#!/usr/bin/env bash
# Every test: the portable core natively (AddressSanitizer and
# UndefinedBehaviorSanitizer), then the plug-in under Wine and Xvfb for each
# Windows architecture this machine runs: x86 and x64, or x64 alone where
# 32-bit programs cannot run (ZVCERT_WINDOWS_ARCHES=x64 does that anywhere).
# Where both run, the browser scenarios and the installers run on x64 only.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"

mapfile -t arches < <(windows_arches)
note=
if [[ " ${arches[*]} " != *" x86 "* ]]; then
  if [[ -n ${ZVCERT_WINDOWS_ARCHES:-} ]] && can_run_32bit; then
    note="32-bit Windows tests not run: ZVCERT_WINDOWS_ARCHES=$ZVCERT_WINDOWS_ARCHES, as on a machine that cannot run 32-bit programs"
  else
    note=$NO_32BIT_NOTE
  fi
  echo "$note"
fi

"$ROOT/scripts/setup.sh"
results=$BUILD/test-results
mkdir -p "$results"
rm -f "$results"/*.log

echo "== native core (sanitizers)"
configure_native
cmake --build "$NATIVE_BUILD" -j "$JOBS"
status=0
# Twice as many at once as there are cores: many of these wait on a browser,
# a token or a time-boxed fuzzer rather than on the processor.
(cd "$NATIVE_BUILD" && ctest --output-on-failure -j "$((JOBS * 2))" 2>&1 | tee "$results/native.log") || status=1
logs=("$results/native.log")

# The x64 packages carry the x86 plug-in for 32-bit browsers: where x86 is not
# tested, only it is built.
if [[ " ${arches[*]} " != *" x86 "* ]]; then
  echo "== the x86 plug-in, for the x64 packages (built, not run)"
  WIN_ARCH=x86 WIN_BUILD=$(windows_build_dir x86) configure_windows -DZVCERT_BUILD_TESTS=OFF
  cmake --build "$(windows_build_dir x86)" -j "$JOBS" --target npzvcert npzvcert-host
fi

for arch in "${arches[@]}"; do
  export WIN_ARCH=$arch WIN_BUILD
  WIN_BUILD=$(windows_build_dir "$arch")
  skip=()
  if (( ${#arches[@]} > 1 )) && [[ $arch == x86 ]]; then
    skip=(-E '^(chromium[.]|firefox[.]|wine[.]SecondPrefix|installer[.])')
  fi
  echo "== plug-in under Wine, $arch${skip:+ (the browser scenarios and installers run on x64)}"
  configure_windows
  cmake --build "$WIN_BUILD" -j "$JOBS"
  log=$results/win-$arch.log
  xvfb-run -a -s "-screen 0 1024x768x24" "$ROOT/scripts/lib/in-wine.sh" \
    bash -c 'cd "$0" && ctest --output-on-failure -j "$1" --timeout 120 "${@:2}"' "$WIN_BUILD" "$JOBS" "${skip[@]}" \
    2>&1 | tee "$log" || status=1
  logs+=("$log")
done

# One closing line over every run, after one per Windows architecture.
# A run that printed no summary counts as one failure.
count() {
  local line
  line=$(sed -n 's/.*tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\).*/\1 \2/p' "$1" 2>/dev/null | tail -1)
  echo "${line:-1 1}"
}
failed=0 total=0
echo
for log in "${logs[@]}"; do
  read -r f t < <(count "$log")
  name=$(basename "$log" .log)
  [[ $name == native ]] || echo "${name#win-}: $(( t - f )) passed, $f failed"
  failed=$(( failed + f )); total=$(( total + t ))
done
[[ -z $note ]] || echo "$note"
echo "$(( total - failed )) passed, $failed failed"
(( status == 0 && failed == 0 && total > 0 ))
