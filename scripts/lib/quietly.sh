# Runs one step quietly: when it fails, what it printed is shown (a compiler's
# diagnostics included, which Ninja prints on standard output) with the step
# and its command, so that no script stops without a word. Nothing it runs
# may ask a question.
#   quietly "setup: installing the npm packages" npm install ...
quietly() {
  local what=$1 log status=0
  log=$(mktemp)
  "${@:2}" </dev/null >"$log" 2>&1 || status=$?
  if (( status )); then
    local program=$2
    [[ $program == sudo ]] && program=$3
    cat "$log" >&2
    echo "the command: ${*:2}" >&2
    echo "$what failed (${program##*/} exited $status); its output is above" >&2
  fi
  rm -f "$log"
  return $status
}
