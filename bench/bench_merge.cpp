// Merging: hist_accumulate of many histograms into one, with sources that
// share their buckets and with sources of scattered buckets, and its scaling
// in the number of sources; many per-minute histograms merged in one call and
// in batches; the single-pass subtraction and delta variants.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "histogram/hist_internal.hpp"
#include "histogram/varrow.h"

namespace {

// The valid positive buckets in bucket order, to draw from.
std::vector<hist_bucket> positive_buckets() {
  std::vector<hist_bucket> out;
  for (int e = -128; e < 128; ++e)
    for (int v = 10; v < 100; ++v) out.push_back({static_cast<int8_t>(v), static_cast<int8_t>(e)});
  return out;
}

// count histograms of size distinct buckets each, drawn at random from the
// first pool buckets: with pool == size they all hold the same buckets.
std::vector<histogram *> sources(int count, int size, int pool) {
  const std::vector<hist_bucket> all = positive_buckets();
  std::mt19937_64 rng(3);
  std::uniform_int_distribution<int> pick(0, pool - 1);
  std::vector<histogram *> out;
  for (int i = 0; i < count; ++i) {
    std::vector<int> chosen;
    std::vector<bool> taken(static_cast<size_t>(pool));
    while (static_cast<int>(chosen.size()) < size) {
      const int index = pick(rng);
      if (!taken[static_cast<size_t>(index)]) {
        taken[static_cast<size_t>(index)] = true;
        chosen.push_back(index);
      }
    }
    std::sort(chosen.begin(), chosen.end());
    histogram *h = hist_alloc_nbins(size);
    // The pool is in bucket order, so ascending picks append.
    for (const int index : chosen) hist_insert_raw_end(h, all[index], 1 + rng() % 1000);
    out.push_back(h);
  }
  return out;
}

void release(const std::vector<histogram *> &hs) {
  for (histogram *h : hs) hist_free(h);
}

// Arguments: number of sources, buckets per source, size of the bucket pool.
void BM_Accumulate(benchmark::State &state) {
  const std::vector<histogram *> src =
      sources(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), static_cast<int>(state.range(2)));
  int distinct = 0;
  for (auto _ : state) {
    histogram *target = hist_alloc();
    distinct = hist_accumulate(target, src.data(), static_cast<int>(src.size()));
    hist_free(target);
  }
  state.counters["distinct"] = distinct;
  state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1));
  release(src);
}
BENCHMARK(BM_Accumulate)
    ->Name("hist_accumulate")
    ->ArgNames({"sources", "buckets", "pool"})
    ->Args({1000, 1000, 1000})
    ->Args({1000, 1000, 20000})
    ->Args({10, 100, 20000})
    ->Args({16, 100, 1000})
    ->Args({64, 100, 1000})
    ->Args({64, 20, 1000})
    ->Args({100, 100, 20000})
    ->Args({1000, 100, 20000})
    ->Args({10000, 100, 20000})
    ->Unit(benchmark::kMillisecond);

// count per-minute histograms of 500 log-normal samples each (about 50 of
// some 400 distinct buckets per histogram).
std::vector<histogram *> per_minute_sources(int count) {
  constexpr int samples_per_minute = 500;
  std::mt19937_64 rng(11);
  std::lognormal_distribution<double> latency(3.0, 0.6);
  std::vector<histogram *> out;
  for (int i = 0; i < count; ++i) {
    histogram *h = hist_alloc();
    for (int s = 0; s < samples_per_minute; ++s) hist_insert(h, latency(rng), 1);
    out.push_back(h);
  }
  return out;
}

// Arguments: number of sources, sources per hist_accumulate call (0: all in one).
void BM_AccumulatePerMinute(benchmark::State &state) {
  const std::vector<histogram *> src = per_minute_sources(static_cast<int>(state.range(0)));
  const int total = static_cast<int>(src.size());
  const int batch = state.range(1) > 0 ? static_cast<int>(state.range(1)) : total;
  int distinct = 0;
  for (auto _ : state) {
    histogram *target = hist_alloc();
    for (int first = 0; first < total; first += batch)
      distinct = hist_accumulate(target, src.data() + first, std::min(batch, total - first));
    hist_free(target);
  }
  state.counters["distinct"] = distinct;
  state.SetItemsProcessed(state.iterations() * state.range(0));
  release(src);
}
BENCHMARK(BM_AccumulatePerMinute)
    ->Name("hist_accumulate/per_minute")
    ->ArgNames({"sources", "batch"})
    ->Args({10000, 0})
    ->Args({10000, 16})
    ->Args({100000, 0})
    ->Args({100000, 16})
    ->Unit(benchmark::kMillisecond);

// One source of 1,000 buckets against a target holding the same buckets.
template <int (*Operation)(histogram *, const histogram *)>
void BM_Delta(benchmark::State &state) {
  const std::vector<histogram *> pair = sources(2, 1000, 1000);
  for (auto _ : state) benchmark::DoNotOptimize(Operation(pair[0], pair[1]));
  state.SetItemsProcessed(state.iterations() * 1000);
  release(pair);
}
BENCHMARK(BM_Delta<hist_add_as_int64>)->Name("hist_add_as_int64/1000_buckets");
BENCHMARK(BM_Delta<hist_subtract_as_int64>)->Name("hist_subtract_as_int64/1000_buckets");

void BM_Subtract(benchmark::State &state) {
  const std::vector<histogram *> pair = sources(2, 1000, 1000);
  const histogram *from[] = {pair[1]};
  for (auto _ : state) benchmark::DoNotOptimize(hist_subtract(pair[0], from, 1));
  state.SetItemsProcessed(state.iterations() * 1000);
  release(pair);
}
BENCHMARK(BM_Subtract)->Name("hist_subtract/1000_buckets");

}  // namespace

BENCHMARK_MAIN();
