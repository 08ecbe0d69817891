# Sourced by the end-to-end case scripts as
#   source case_runner.bash NAME PROGRAM
# with the program under test and the name it runs under (getopt and the
# usage texts print it).  Gives a scratch folder $work, removed on exit, a
# count of failed cases, and the functions below.
program_name=$1
program=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# compare NAME STATUS ACTUAL-STATUS STDOUT STDERR checks $work/out and
# $work/err against the expected texts and exit status, prints "ok" or what
# differs, and counts failures.
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

# run_case NAME STATUS STDOUT STDERR STDIN [ARG...] runs the program under
# its name with the arguments, the text STDIN on its standard input.
run_case() {
  local name=$1 status=$2 stdout=$3 stderr=$4 stdin=$5
  shift 5
  printf '%s' "$stdin" | (exec -a "$program_name" "$program" "$@") >"$work/out" 2>"$work/err"
  compare "$name" "$status" "$?" "$stdout" "$stderr"
}

# finish ends the script: status 1 when a case failed.
finish() {
  if ((failures)); then
    echo "$failures case(s) failed"
    exit 1
  fi
  exit 0
}
