#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) into build/fuzz and runs every one of them
# (each fuzz/fuzz_*.cpp, or the targets named after the seconds) for the
# given number of seconds each (default 60), starting from its seed corpus
# in fuzz/corpus/<target> where there is one.  FUZZ_RUNS=N stops a target
# after N executions instead, the seconds then being its longest run.  Any
# crash, leak, sanitizer report, broken invariant or input that runs longer
# than FUZZ_TIMEOUT seconds (default 10; 60 for distfn, whose noncentral
# quantiles take up to seconds uninstrumented) fails the run; the input that
# caused it is kept in build/fuzz/artifacts.
set -euo pipefail
seconds=${1:-60}
shift || true
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=$source_dir/build/fuzz
declare -A timeouts=([distfn]=60)
if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for source in "$source_dir"/fuzz/fuzz_*.cpp; do
    name=$(basename "$source" .cpp)
    targets+=("${name#fuzz_}")
  done
fi
# The longest input of a target: records up to 8 KiB; texts long enough to
# pass the text reader's fixed 8192-byte scratch buffer; for the format
# readers, documents of a few KiB, enough for many series; 4 KiB otherwise.
declare -A max_len=([deserialize]=8192 [deserialize_b64]=24576 [deserialize_add]=24576 [sql_input]=24576
                    [distfn]=256 [prometheus]=8192 [otlp]=8192 [hdr]=8192 [bins]=4096)

(cd "$source_dir" && cmake --preset fuzz >/dev/null)
cmake --build "$build_dir" -j2 --target "${targets[@]/#/fuzz_}" >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$build_dir/artifacts"
for target in "${targets[@]}"; do
  mkdir -p "$work/$target"
  corpus=()
  [ -d "$source_dir/fuzz/corpus/$target" ] && corpus=("$source_dir/fuzz/corpus/$target")
  limits=(-max_total_time="$seconds")
  [ -n "${FUZZ_RUNS:-}" ] && limits+=(-runs="$FUZZ_RUNS")
  log=$work/$target.log
  timeout=${FUZZ_TIMEOUT:-${timeouts[$target]:-10}}
  if ! "$build_dir/fuzz/fuzz_$target" "${limits[@]}" -timeout="$timeout" -max_len="${max_len[$target]:-4096}" \
      -print_final_stats=1 -artifact_prefix="$build_dir/artifacts/$target-" "$work/$target" "${corpus[@]}" \
      >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz_$target: finding, see $build_dir/artifacts" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  time=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log")
  echo "fuzz_$target: $runs runs in ${time:-$seconds}s, $rate exec/s, no findings"
done
