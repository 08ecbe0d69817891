// Bucket conversion and insertion: the fast conversion against the log10
// baseline, and each insertion path of plain and fast histograms.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "histogram/hist_internal.hpp"
#include "histogram/varrow.h"

namespace {

constexpr size_t sample_count = 4096;  // a power of two, for cheap wrapping

// Log-uniform magnitudes across 1e-12..1e12 with random sign: latencies,
// sizes and rates all live in such a range.
std::vector<double> MeasuredValues() {
  std::mt19937_64 rng(42);
  std::uniform_real_distribution<double> decade(-12.0, 12.0);
  std::vector<double> values(sample_count);
  for (double &v : values) v = std::pow(10.0, decade(rng)) * (rng() & 1 ? 1 : -1);
  return values;
}

template <hist_bucket (*Convert)(double)>
void BM_Conversion(benchmark::State &state) {
  const std::vector<double> values = MeasuredValues();
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(Convert(values[i++ & (sample_count - 1)]));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Conversion<double_to_hist_bucket>)->Name("double_to_hist_bucket/fast");
BENCHMARK(BM_Conversion<double_to_hist_bucket_by_log10>)->Name("double_to_hist_bucket/log10_baseline");

histogram *MakeHistogram(bool fast) { return fast ? hist_fast_alloc() : hist_alloc(); }

// hist_insert into one of 100 buckets that already exist.
void BM_InsertExisting(benchmark::State &state) {
  histogram *h = MakeHistogram(state.range(0));
  std::vector<double> values(sample_count);
  for (size_t i = 0; i < sample_count; ++i) values[i] = 1.0 + static_cast<double>(i % 100) * 0.09;
  std::shuffle(values.begin(), values.end(), std::mt19937_64(7));
  for (double v : values) hist_insert(h, v, 1);
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(hist_insert(h, values[i++ & (sample_count - 1)], 1));
  state.SetItemsProcessed(state.iterations());
  hist_free(h);
}
BENCHMARK(BM_InsertExisting)->ArgName("fast")->Arg(0)->Arg(1);

// hist_insert of a new bucket each time, into a histogram cleared every 1,000 insertions.
void BM_InsertNew(benchmark::State &state) {
  histogram *h = MakeHistogram(state.range(0));
  const std::vector<double> values = MeasuredValues();
  constexpr size_t batch = 1000;
  size_t i = 0;
  for (auto _ : state) {
    if (i % batch == 0) {
      state.PauseTiming();
      hist_clear(h);
      state.ResumeTiming();
    }
    benchmark::DoNotOptimize(hist_insert(h, values[i++ & (sample_count - 1)], 1));
  }
  state.SetItemsProcessed(state.iterations());
  hist_free(h);
}
BENCHMARK(BM_InsertNew)->ArgName("fast")->Arg(0)->Arg(1);

// Filling a histogram bucket by bucket in ascending order with hist_insert_raw_end.
void BM_InsertRawEndAscending(benchmark::State &state) {
  histogram *h = MakeHistogram(state.range(0));
  std::vector<hist_bucket> buckets;
  for (int exp = -5; exp < 5; ++exp)
    for (int val = 10; val <= 99; ++val) buckets.push_back({static_cast<int8_t>(val), static_cast<int8_t>(exp)});
  for (auto _ : state) {
    hist_clear(h);
    for (const hist_bucket b : buckets) hist_insert_raw_end(h, b, 1);
    benchmark::DoNotOptimize(h);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(buckets.size()));
  hist_free(h);
}
BENCHMARK(BM_InsertRawEndAscending)->ArgName("fast")->Arg(0)->Arg(1);

// hist_insert_intscale of microsecond latencies into existing buckets.
void BM_InsertIntScale(benchmark::State &state) {
  histogram *h = MakeHistogram(state.range(0));
  std::mt19937_64 rng(3);
  std::vector<int64_t> micros(sample_count);
  for (int64_t &m : micros) m = static_cast<int64_t>(rng() % 100000);
  for (int64_t m : micros) hist_insert_intscale(h, m, -6, 1);
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(hist_insert_intscale(h, micros[i++ & (sample_count - 1)], -6, 1));
  state.SetItemsProcessed(state.iterations());
  hist_free(h);
}
BENCHMARK(BM_InsertIntScale)->ArgName("fast")->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
