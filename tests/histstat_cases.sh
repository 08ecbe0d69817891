#!/usr/bin/env bash
# End-to-end cases of histstat: each row gives the exact standard output,
# standard error and exit status expected for an input and a command line.
# Usage: bash histstat_cases.sh <build-dir> <source-dir> <version>
set -uo pipefail
build_dir=$1
version=$3
histstat=$build_dir/analyzer/histstat
# shellcheck source=support/case_runner.bash
source "$(dirname "${BASH_SOURCE[0]}")/support/case_runner.bash" histstat "$histstat"

# run_file_case NAME STATUS STDOUT STDERR STDIN-FILE [ARG...]
run_file_case() {
  local name=$1 status=$2 stdout=$3 stderr=$4 input=$5
  shift 5
  (exec -a histstat "$histstat" "$@") <"$input" >"$work/out" 2>"$work/err"
  compare "$name" "$status" "$?" "$stdout" "$stderr"
}

# Histograms as base64 records.
empty=AAA=
# {1.0: 1, 2.5: 300}, the serialized form's worked example.
example=AAIKAAABGQABLAE=
# {NaN bucket: 2, 1.0: 1}
with_nan=AAL/AAACCgAAAQ==
# One sample in each of -1.5, 0, 1e-128, 1e-05, 0.00012, 990000, 2.5e+06,
# 1e+100 and 9.9e+127 (counts 1 to 9): keys in both of printf's "%g" forms.
key_forms=AAnxAAABAAAAAgqAAAMK+wAEDPwABWMFAAYZBgAHCmQACGN/AAk=
# {1.0: 2^64 - 1}
largest_count=AAEKAAf//////////w==
# Cumulative snapshots: B and D grow from the one before; C lost samples in 2.0.
snapshot_a=AAIKAAABFAAAAg==  # {1: 1, 2: 2}
snapshot_b=AAMKAAADFAAAAh4AAAE=  # {1: 3, 2: 2, 3: 1}
snapshot_c=AAMKAAAEFAAAAR4AAAE=  # {1: 4, 2: 1, 3: 1}
snapshot_d=AAMKAAAFFAAAAR4AAAI=  # {1: 5, 2: 1, 3: 2}

usage=$'histstat:\n\t-h, --help\thelp\n\t--version\tprint the version
\t-a <val>\tcompute number of samples above <val>
\t-b <val>\tcompute number of samples below <val>\n\t-p <0-100>\tcompute approximate percentile
\t-i <val>\tcompute approximate inverse quantile at <val>
\t-C\t\tcalculate difference between cumulative histograms
\t-n, --null-invalid\tprint null for each input that gives no figures\n\t[hist1 [hist2 [...]]]\n
If no hists are specified, stdin is read\n\n\nExample:\n
\tcurl url |\n\t  jq -r .stat._value |\n\t  histstat -i 0.2 -p 0 -p 100 -p 99 -p 99.999 -p 50\n
\tThis will fetch the document at URL, extract the b64 encoded histogram
\tprinting the inverse quantile at 0.2 (seconds)\n\tand the p0, p50, p99, p99.999, and p100\n'
invalid=$'histogram invalid\n'
reset=$'histogram cumulative calculation reset\n'

# --- Command line -------------------------------------------------------------
run_case "help" 0 "$usage" "" "" -h
run_case "long help" 0 "$usage" "" "" --help
run_case "help wins over later options" 0 "$usage" "" "" -h -p 500
run_case "version" 0 "histstat (varrow) $version"$'\n' "" "" --version
run_case "version wins over later options" 0 "histstat (varrow) $version"$'\n' "" "" -p 50 --version -p 500
run_case "unknown long option" 255 "" $'histstat: unrecognized option \'--bogus\'\nunrecognized option: -?\n' "" --bogus
run_case "percentile above 100" 255 "" $'Invalid percentile 101.000000\n' "" -p 50 -p 101 x
run_case "percentile below 0" 255 "" $'Invalid percentile -0.500000\n' "" -p -0.5 "$example"
run_case "percentile bounds accepted" 0 \
  $'{"p(0.000000%)":1.05,"p(100.000000%)":2.59967,"count":301}\n' "" "" -p 100 -p 0 "$example"
run_case "unknown option" 255 "" $'histstat: invalid option -- \'x\'\nunrecognized option: -?\n' "" -x
run_case "option missing its value" 255 "" \
  $'histstat: option requires an argument -- \'p\'\nunrecognized option: -?\n' "" -p
run_case "missing value after a histogram is a histogram" 0 '{"1":1,"2.5":300}'$'\n' "$invalid" "" "$example" -p
run_case "options after a histogram are histograms" 0 "" "$invalid$invalid$invalid" "" h1 -p 50
run_case "double dash ends the options" 0 "" "$invalid" "" -- -p
run_case "values that are not numbers count as 0" 0 \
  $'{"above(0)":301,"below(0)":0,"count":301}\n' "" "" -a abc -b xyz "$example"

# --- Inputs ------------------------------------------------------------------------
run_case "empty standard input" 0 "" "" ""
run_case "empty line" 0 $'{}\n' "$invalid" $'\nAAA=\n'
run_case "empty histogram argument" 0 $'{}\n' "" "" "$empty"
run_case "arguments in order, invalid skipped" 0 $'{}\n{"1":1,"2.5":300}\n' "$invalid" "" \
  "$empty" "not base64" "$example"
run_case "standard input ignored with arguments" 0 $'{}\n' "" "$example" "$empty"
run_case "lines with spaces, CRLF and no final newline" 0 \
  $'{"1":1,"2.5":300}\n{}\n{}\n' "" "  $example  "$'\n'"$empty"$'\r\n'"$empty"
run_case "text after a non-base64 byte is ignored" 0 $'{}\n' "" "" "$empty!xyz"
run_case "record with bytes left over" 0 "" "$invalid" "" AAEKAAABCgAAAQ==

# --- Bucket map ----------------------------------------------------------------------
run_case "bucket map of the worked example" 0 '{"1":1,"2.5":300}'$'\n' "" "" "$example"
run_case "NaN bucket key" 0 '{"nan":2,"1":1}'$'\n' "" "" "$with_nan"
run_case "key forms" 0 \
  '{"-1.5":1,"0":2,"1e-128":3,"1e-05":4,"0.00012":5,"990000":6,"2.5e+06":7,"1e+100":8,"9.9e+127":9}'$'\n' \
  "" "" "$key_forms"
run_case "largest count" 0 '{"1":18446744073709551615}'$'\n' "" "" "$largest_count"

# --- Statistics -----------------------------------------------------------------------
run_case "percentiles sorted ascending" 0 \
  $'{"p(0.000000%)":1.05,"p(50.000000%)":2.54983,"p(100.000000%)":2.59967,"count":301}\n' "" "" \
  -p 0 -p 100 -p 50 "$example"
run_case "percentile key of 99.9" 0 $'{"p(99.900000%)":2.59967,"count":301}\n' "" "" -p 99.9 "$example"
run_case "inverse quantile only" 0 $'{"invq(0.200000)":0,"count":301}\n' "" "" -i 0.2 "$example"
run_case "inverse quantiles sorted ascending" 0 \
  $'{"invq(0.200000)":0,"invq(2.550000)":0.501661,"invq(5.000000)":1,"count":301}\n' "" "" \
  -i 5 -i 0.2 -i 2.55 "$example"
run_case "groups in fixed order, thresholds in command-line order" 0 \
  '{"above(2)":300,"above(1)":301,"above(1)":301,"below(3)":301,"below(1e-07)":0,"p(50.000000%)":2.54983,"invq(1.050000)":0.00166113,"count":301}'$'\n' \
  "" "" -i 1.05 -p 50 -b 3 -a 2 -a 1 -b 1e-7 -a 1 "$example"
run_case "empty histogram statistics are null" 0 \
  $'{"above(1)":0,"p(50.000000%)":null,"invq(1.000000)":null,"count":0}\n' "" "" -a 1 -p 50 -i 1 "$empty"
run_case "not-a-number percentile sorts last" 0 \
  $'{"p(50.000000%)":2.54983,"p(90.000000%)":2.5897,"p(nan%)":null,"count":301}\n' "" "" \
  -p 90 -p nan -p 50 "$example"
run_case "not-a-number inverse value sorts last" 0 \
  $'{"invq(0.200000)":0,"invq(2.550000)":0.501661,"invq(nan)":null,"count":301}\n' "" "" \
  -i 2.55 -i nan -i 0.2 "$example"
run_case "NaN bucket counts as above" 0 $'{"above(1)":3,"below(1)":1,"count":3}\n' "" "" \
  -a 1 -b 1 "$with_nan"

# --- Cumulative differences -------------------------------------------------------
run_case "first snapshot only starts the series" 0 "" "" "" -C "$snapshot_a"
run_case "differences keep unchanged buckets with count 0" 0 \
  '{"1":2,"2":0,"3":1}'$'\n' "" "" -C "$snapshot_a" "$snapshot_b"
run_case "reset, then compared with the snapshot that reset" 0 \
  '{"1":2,"2":0,"3":1}'$'\n''{"1":1,"2":0,"3":1}'$'\n' "$reset" "" \
  -C "$snapshot_a" "$snapshot_b" "$snapshot_c" "$snapshot_d"
run_case "invalid input between snapshots" 0 '{"1":2,"2":0,"3":1}'$'\n' "$invalid" \
  "$snapshot_a"$'\n'"garbage"$'\n'"$snapshot_b"$'\n' -C
run_case "differences with statistics" 0 $'{"p(50.000000%)":1.06667,"count":3}\n' "" "" \
  -C -p 50 "$snapshot_a" "$snapshot_b"
run_case "bucket missing from the later snapshot" 0 "" "$reset" "" -C "$snapshot_b" "$snapshot_a"

# --- One output line per input (-n) -------------------------------------------------
run_case "invalid inputs print null" 0 $'{"p(50.000000%)":null,"count":0}\nnull\nnull\n{"p(50.000000%)":2.54983,"count":301}\n' \
  "$invalid$invalid" $'AAA=\nnot base64\n\n'"$example"$'\n' -p 50 -n
run_case "long form, bucket maps" 0 $'null\n{"1":1,"2.5":300}\n' "$invalid" "" --null-invalid x "$example"
run_case "first snapshot and reset print null" 0 \
  $'null\n{"1":2,"2":0,"3":1}\nnull\n{"1":1,"2":0,"3":1}\n' "$reset" "" \
  -n -C "$snapshot_a" "$snapshot_b" "$snapshot_c" "$snapshot_d"
run_case "invalid snapshot prints null and is not compared" 0 $'null\nnull\n{"1":2,"2":0,"3":1}\n' "$invalid" \
  "$snapshot_a"$'\n'"garbage"$'\n'"$snapshot_b"$'\n' -C -n

# --- Limits and failures ---------------------------------------------------------------
# The longest line: the example histogram after 262,127 spaces, which the
# reader skips, is 262,143 characters.  One space more is too long, and so is a
# line of 700,000 characters, which takes several reads to skip.
padding=$(printf '%262127s' '')
{
  printf '%s%s\n' "$padding" "$example"
  printf ' %s%s\n' "$padding" "$example"
  printf '%700000s\n' '' | tr ' ' A
  printf '%s\n' "$empty"
} >"$work/longest"
run_file_case "line at the length limit accepted, longer ones skipped" 0 $'{"1":1,"2.5":300}\n{}\n' \
  $'histogram too large\nhistogram too large\n' "$work/longest"
run_file_case "overlong lines print null" 0 $'{"1":1,"2.5":300}\nnull\nnull\n{}\n' \
  $'histogram too large\nhistogram too large\n' "$work/longest" -n
run_file_case "read error" 255 "" $'error reading input: Is a directory\n' / -p 50
(exec -a histstat "$histstat" "$example") >/dev/full 2>"$work/err"
status=$?
: >"$work/out"
compare "write error" 255 "$status" "" $'error writing output: No space left on device\n'

finish
