// The C baselines of the Python module's insert_many: ten million log-normal
// values (a latency-like spread over about four decades) inserted one call
// per value, as a C program records them: into a histogram, through the
// coordinated-omission correction, and into a recorder.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "histogram/varrow.h"

namespace {

constexpr size_t value_count = 10'000'000;
// ln of the values: mean -3 (about 50 ms), standard deviation 1.
constexpr double log_mean = -3.0;
constexpr double log_sigma = 1.0;

std::vector<double> LogNormalValues() {
  std::mt19937_64 rng(18);
  std::lognormal_distribution<double> lognormal(log_mean, log_sigma);
  std::vector<double> values(value_count);
  for (double &v : values) v = lognormal(rng);
  return values;
}

void BM_InsertLogNormal(benchmark::State &state) {
  const std::vector<double> values = LogNormalValues();
  histogram *h = state.range(0) ? hist_fast_alloc() : hist_alloc();
  for (auto _ : state) {
    hist_clear(h);
    for (double v : values) hist_insert(h, v, 1);
    benchmark::DoNotOptimize(hist_sample_count(h));
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * value_count));
  hist_free(h);
}
BENCHMARK(BM_InsertLogNormal)->ArgName("fast")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The expected interval of the corrected insertion: 10 ms, about five
// corrections for a value near the median of 50 ms.
constexpr double expected_interval = 0.01;

void BM_InsertCorrectedLogNormal(benchmark::State &state) {
  const std::vector<double> values = LogNormalValues();
  histogram *h = hist_fast_alloc();
  for (auto _ : state) {
    hist_clear(h);
    for (double v : values) hist_insert_corrected(h, v, expected_interval, 1);
    benchmark::DoNotOptimize(hist_sample_count(h));
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * value_count));
  hist_free(h);
}
BENCHMARK(BM_InsertCorrectedLogNormal)->Unit(benchmark::kMillisecond);

void BM_RecorderInsertLogNormal(benchmark::State &state) {
  const std::vector<double> values = LogNormalValues();
  hist_recorder *r = hist_recorder_alloc();
  histogram *out = hist_fast_alloc();
  for (auto _ : state) {
    for (double v : values) hist_recorder_insert(r, v, 1);
    state.PauseTiming();
    hist_clear(out);
    hist_recorder_snapshot(r, out, 1);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * value_count));
  hist_free(out);
  hist_recorder_free(r);
}
BENCHMARK(BM_RecorderInsertLogNormal)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
