#!/usr/bin/env bash
# End-to-end cases of histconv: each row gives the exact standard output,
# standard error and exit status expected for an input and a command line.
# Usage: bash histconv_cases.sh <build-dir> <source-dir>
set -uo pipefail
build_dir=$1
histconv=$build_dir/analyzer/histconv
# shellcheck source=support/case_runner.bash
source "$(dirname "${BASH_SOURCE[0]}")/support/case_runner.bash" histconv "$histconv"

usage=$("$histconv" --help)$'\n'
version=$("$build_dir/analyzer/histstat" --version | sed 's/^histstat/histconv/')$'\n'

printf 'a_bucket{le="0.01"} 1\na_bucket{le="0.1"} 3\na_bucket{le="+Inf"} 4\n' >"$work/good.prom"
printf 'a_bucket{le="1"} 5\na_bucket{le="2"} 3\na_bucket{le="+Inf"} 9\n' >"$work/falling.prom"
good_b64=$'AAMy/QABN/4AAhP/AAE=\n'

# --- Command line -------------------------------------------------------------
run_case "help" 0 "$usage" "" "" -h
run_case "version" 0 "$version" "" "" --version
run_case "unknown option" 2 "" $'histconv: invalid option -- \'x\'\n'"$usage" "" -x
run_case "unknown format" 2 "" $'histconv: unknown output format \'csv\'\n'"$usage" "" --to csv
run_case "option of another format" 2 "" $'histconv: --unit applies to --from hdr only\n'"$usage" "" --unit 1e-3
run_case "prometheus needs a name" 2 "" $'histconv: --to prometheus needs --name\n'"$usage" "" --to prometheus
run_case "bad bound list" 2 "" $'histconv: bad --name, --le or --labels: bound 2: bounds must be strictly ascending\n'"$usage" \
  "" --to prometheus --name a --le 1,1
run_case "bad scale" 2 "" $'histconv: --scale needs an integer from -10 to 20\n'"$usage" "" --to otlp --scale 21

# --- Conversions ----------------------------------------------------------------
run_case "prometheus to b64" 0 "$good_b64" "" "" --from prometheus "$work/good.prom"
run_case "b64 to prometheus with bounds and labels" 0 '# TYPE b histogram
b_bucket{job="x",le="0.01"} 1
b_bucket{job="x",le="0.05"} 1
b_bucket{job="x",le="0.1"} 3
b_bucket{job="x",le="+Inf"} 4
b_sum{job="x"} 0.3109122908132809
b_count{job="x"} 4
' "" "$good_b64" --to prometheus --name b --le 0.01,0.05,0.1 --labels 'job="x"'
run_case "series keys in json" 0 $'{"key":"a","count":4,"b64":"AAMy/QABN/4AAhP/AAE="}\n' "" "" --from prometheus --to json "$work/good.prom"

# --- Faults: the faulty input contributes nothing, the others are converted -----
run_case "falling count names the line" 1 "$good_b64" \
  "histconv: $work/falling.prom: line 2: falling cumulative count: 3 at le=\"2\" after 5 below it"$'\n' \
  "" --from prometheus "$work/falling.prom" "$work/good.prom"
run_case "missing file" 1 "$good_b64" "histconv: $work/none: No such file or directory"$'\n' "" \
  --from prometheus "$work/none" "$work/good.prom"
run_case "bad line of standard input" 1 "" $'histconv: (standard input): line 2: not a base64 histogram\n' $'AAA=\nnot one\n'
run_case "one series per histogram" 1 "" \
  $'histconv: histogram 2: its series x is already written; give each histogram distinct labels (--labels, or labelled input)\n' \
  $'AAA=\nAAA=\n' --to prometheus --name x
run_case "otlp field path" 1 "" \
  $'histconv: (standard input): $.resourceMetrics[0].scopeMetrics: expected an array\n' \
  '{"resourceMetrics":[{"scopeMetrics":7}]}' --from otlp

# --- The heatmap is one standalone SVG document ----------------------------------
printf '%s' "$good_b64$good_b64" | "$histconv" --to svg >"$work/out" 2>"$work/err"
status=$?
if [[ $status == 0 && ! -s $work/err ]] && head -1 "$work/out" | grep -q '^<?xml' && tail -1 "$work/out" | grep -q '^</svg>$'; then
  echo "ok   svg document"
else
  echo "FAIL svg document (status $status)"
  failures=$((failures + 1))
fi

finish
