#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) into build/fuzz and runs each one for the given
# number of seconds (default 60), starting from the seed corpus in
# fuzz/corpus.  Any crash, leak, sanitizer report or broken invariant fails
# the run; the input that caused it is kept in build/fuzz/artifacts.
set -euo pipefail
seconds=${1:-60}
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=$source_dir/build/fuzz
targets=(deserialize deserialize_b64 prometheus otlp hdr bins)
# Records up to 8 KiB; texts long enough to pass the text reader's fixed
# 8192-byte scratch buffer; for the format readers, documents of a few KiB,
# enough for many series.
declare -A max_len=([deserialize]=8192 [deserialize_b64]=24576 [prometheus]=8192 [otlp]=8192 [hdr]=8192 [bins]=4096)

(cd "$source_dir" && cmake --preset fuzz >/dev/null)
cmake --build "$build_dir" -j2 --target "${targets[@]/#/fuzz_}" >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$build_dir/artifacts"
for target in "${targets[@]}"; do
  mkdir -p "$work/$target"
  log=$work/$target.log
  if ! "$build_dir/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len="${max_len[$target]}" -print_final_stats=1 \
      -artifact_prefix="$build_dir/artifacts/$target-" "$work/$target" "$source_dir/fuzz/corpus/$target" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz_$target: finding, see $build_dir/artifacts" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  echo "fuzz_$target: $runs runs in ${seconds}s, $rate exec/s, no findings"
done
