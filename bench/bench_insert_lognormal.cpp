// The C baseline of the Python module's insert_many: ten million log-normal
// values (a latency-like spread over about four decades) inserted one call
// per value into a fast histogram, as a C program records them.
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

}  // namespace

BENCHMARK_MAIN();
