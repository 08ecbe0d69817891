#!/usr/bin/env bash
# End-to-end cases of histmake: each row gives the exact standard output,
# standard error and exit status expected for an input and a command line.
# Usage: bash histmake_cases.sh <build-dir> <source-dir> <version>
set -uo pipefail
build_dir=$1
version=$3
histmake=$build_dir/analyzer/histmake
histstat=$build_dir/analyzer/histstat
# shellcheck source=support/case_runner.bash
source "$(dirname "${BASH_SOURCE[0]}")/support/case_runner.bash" histmake "$histmake"

# round_trip NAME BUCKET-MAPS STDIN [ARG...]: histmake's lines read back by
# histstat, which prints each histogram's bucket map.
round_trip() {
  local name=$1 stdout=$2 stdin=$3
  shift 3
  printf '%s' "$stdin" | "$histmake" "$@" 2>"$work/err" | "$histstat" >"$work/out" 2>>"$work/err"
  compare "$name" 0 "$?" "$stdout" ""
}

usage=$'usage: histmake [-l] [file ...]
Reads decimal numbers separated by white space from the files (standard input
when none is named, or for "-") and prints their histogram as one line of base64.
\t-l\tmake a histogram of every input line, one output line each
\t-h, --help\thelp\n\t--version\tprint the version\n'

printf '1\n2 \n' >"$work/first"
printf '3\nx 3.5y\n' >"$work/second"
printf '3\n' >"$work/third"

# --- Command line -------------------------------------------------------------
run_case "help" 0 "$usage" "" "" -h
run_case "long help" 0 "$usage" "" "" --help
run_case "version" 0 "histmake (varrow) $version"$'\n' "" "" -l --version
run_case "unknown option" 2 "" $'histmake: invalid option -- \'x\'\n'"$usage" "" -x
run_case "options end at the first file" 1 $'AAA=\n' $'-l: No such file or directory\n' "" -- -l

# --- One histogram of everything ---------------------------------------------------
run_case "two values" 0 $'AAIKAAABGQAAAQ==\n' "" $'1 2.5\n'
run_case "white space of any kind" 0 $'AAIKAAABGQAAAQ==\n' "" $'\t 1\r\n\n  2.5'
run_case "repeated value" 0 $'AAEZAAEsAQ==\n' "" "$(printf '2.5 %.0s' {1..300})"
run_case "no input gives the empty histogram" 0 $'AAA=\n' "" ""
run_case "files in order" 0 $'AAMKAAABFAAAAR4AAAE=\n' "" "" "$work/first" - "$work/third"
run_case "standard input as -" 0 $'AAMKAAABFAAAAR4AAAE=\n' "" $'3\n' "$work/first" -
run_case "token that is not a number" 1 $'AAIKAAABFAAAAQ==\n' $'(standard input):1: not a number: abc\n' \
  $'1 abc 2\n'
run_case "file, line and token of each bad token" 1 $'AAMKAAABFAAAAR4AAAE=\n' \
  "$work/second:2: not a number: x"$'\n'"$work/second:2: not a number: 3.5y"$'\n' "" "$work/first" "$work/second"
run_case "unreadable file" 1 $'AAMKAAABFAAAAR4AAAE=\n' \
  "$work/missing: No such file or directory"$'\n'"$work/second:2: not a number: x"$'\n'"$work/second:2: not a number: 3.5y"$'\n' \
  "" "$work/first" "$work/missing" "$work/second"

# --- One histogram per line ---------------------------------------------------------
run_case "a histogram per line, empty lines empty" 0 $'AAIKAAABFAAAAQ==\nAAA=\nAAEeAAAB\n' "" \
  $'1 2\n\n3' -l
run_case "bad token in one line" 1 $'AAEKAAAB\nAAEeAAAB\n' $'(standard input):2: not a number: -\n' \
  $'1\n- 3\n' -l
run_case "no lines, no histograms" 0 "" "" "" -l
run_case "lines of every file" 1 $'AAEKAAAB\nAAEUAAAB\nAAEeAAAB\nAAA=\n' \
  "$work/second:2: not a number: x"$'\n'"$work/second:2: not a number: 3.5y"$'\n' "" \
  -l "$work/first" "$work/second"

# --- Values as the bucket conversion sends them -------------------------------------
round_trip "special values" '{"nan":3,"-4.5":1,"0":1,"0.001":1,"7":1,"16":1}'$'\n' \
  $'1e-3 -4.5 0 inf nan -inf +7 0x10\n'
round_trip "huge and tiny magnitudes" '{"nan":1,"0":2,"1e-128":1,"9.9e+127":1}'$'\n' \
  $'1e128 1e-129 -0 1e-128 9.99e127\n'
round_trip "per line" $'{"1":1,"2":1}\n{}\n{"3":1}\n' $'1 2\n\n3\n' -l

# --- Failures -----------------------------------------------------------------------
printf '1\n' | "$histmake" >/dev/full 2>"$work/err"
status=$?
: >"$work/out"
compare "write error" 2 "$status" "" $'error writing output: No space left on device\n'
(exec -a histmake "$histmake" /) >"$work/out" 2>"$work/err"
compare "read error" 1 "$?" $'AAA=\n' $'/: Is a directory\n'

finish
