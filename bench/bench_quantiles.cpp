// Quantile batches, inverse quantile batches and the single-pass counts and
// moments on a histogram of 1,000 buckets.  A batch is one forward walk, so
// the time per call should grow as entries + n, not entries x n.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "histogram/varrow.h"

namespace {

constexpr int bucket_count = 1000;

using HistogramPtr = std::unique_ptr<histogram, decltype(&hist_free)>;

// 1,000 distinct buckets from 1e-3 upward, with counts of varied size, and a
// NaN bucket in front that every function must step over.
HistogramPtr ThousandBuckets() {
  HistogramPtr h(hist_alloc(), &hist_free);
  std::mt19937_64 random(42);
  hist_insert(h.get(), NAN, 5);
  for (int i = 0; i < bucket_count - 1; ++i) {
    const int decade = i / 90, digits = 10 + i % 90;
    hist_insert_raw(h.get(), hist_bucket{static_cast<int8_t>(digits), static_cast<int8_t>(decade - 3)},
                    1 + random() % 10000);
  }
  return h;
}

std::vector<double> EvenlySpaced(int n, double from, double to) {
  std::vector<double> values(n);
  for (int i = 0; i < n; ++i) values[i] = n == 1 ? (from + to) / 2 : from + (to - from) * i / (n - 1);
  return values;
}

template <int (*Estimate)(const histogram *, const double *, int, double *)>
void BM_QuantileBatch(benchmark::State &state) {
  const HistogramPtr h = ThousandBuckets();
  const int n = static_cast<int>(state.range(0));
  const std::vector<double> q = EvenlySpaced(n, 0.0, 1.0);
  std::vector<double> out(n);
  for (auto _ : state) {
    benchmark::DoNotOptimize(Estimate(h.get(), q.data(), n, out.data()));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_QuantileBatch<hist_approx_quantile>)->Name("hist_approx_quantile")->RangeMultiplier(10)->Range(1, 1000);
BENCHMARK(BM_QuantileBatch<hist_approx_quantile7>)->Name("hist_approx_quantile7")->RangeMultiplier(10)->Range(1, 1000);

void BM_InverseQuantileBatch(benchmark::State &state) {
  const HistogramPtr h = ThousandBuckets();
  const int n = static_cast<int>(state.range(0));
  const std::vector<double> values = EvenlySpaced(n, 0.0, 2e8);
  std::vector<double> out(n);
  for (auto _ : state) {
    benchmark::DoNotOptimize(hist_approx_inverse_quantile(h.get(), values.data(), n, out.data()));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_InverseQuantileBatch)->Name("hist_approx_inverse_quantile")->RangeMultiplier(10)->Range(1, 1000);

void BM_CountBelow(benchmark::State &state) {
  const HistogramPtr h = ThousandBuckets();
  for (auto _ : state) benchmark::DoNotOptimize(hist_approx_count_below(h.get(), 1e30));
}
BENCHMARK(BM_CountBelow)->Name("hist_approx_count_below/all buckets");

void BM_CountAbove(benchmark::State &state) {
  const HistogramPtr h = ThousandBuckets();
  for (auto _ : state) benchmark::DoNotOptimize(hist_approx_count_above(h.get(), 1e30));
}
BENCHMARK(BM_CountAbove)->Name("hist_approx_count_above/all buckets");

void BM_Mean(benchmark::State &state) {
  const HistogramPtr h = ThousandBuckets();
  for (auto _ : state) benchmark::DoNotOptimize(hist_approx_mean(h.get()));
}
BENCHMARK(BM_Mean)->Name("hist_approx_mean");

void BM_Stddev(benchmark::State &state) {
  const HistogramPtr h = ThousandBuckets();
  for (auto _ : state) benchmark::DoNotOptimize(hist_approx_stddev(h.get()));
}
BENCHMARK(BM_Stddev)->Name("hist_approx_stddev");

}  // namespace

BENCHMARK_MAIN();
