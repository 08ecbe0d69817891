# Sourced by the end-to-end case scripts.  compare NAME STATUS ACTUAL-STATUS
# STDOUT STDERR checks $work/out and $work/err against the expected texts
# and exit status, prints "ok" or what differs, and counts failures.
compare() {
  local name=$1 status=$2 actual_status=$3 stdout=$4 stderr=$5 ok=1
  printf '%s' "$stdout" >"$work/want_out"
  printf '%s' "$stderr" >"$work/want_err"
  if [[ $actual_status != "$status" ]]; then
    echo "FAIL $name: exit status $actual_status, expected $status"
    ok=0
  fi
  if ! cmp -s "$work/out" "$work/want_out"; then
    echo "FAIL $name: standard output differs"
    diff "$work/want_out" "$work/out" | head -20
    ok=0
  fi
  if ! cmp -s "$work/err" "$work/want_err"; then
    echo "FAIL $name: standard error differs"
    diff "$work/want_err" "$work/err" | head -20
    ok=0
  fi
  if ((ok)); then echo "ok   $name"; else failures=$((failures + 1)); fi
}
