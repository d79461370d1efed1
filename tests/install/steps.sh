# Shared by the install tests: a failure ends the test with its reason, and a
# step keeps its output in $work/NAME.log, shown only when the step fails.
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

logged() {
  local log=$work/$1.log
  shift
  "$@" >"$log" 2>&1 || { cat "$log" >&2; fail "$* (log: $log)"; }
}
