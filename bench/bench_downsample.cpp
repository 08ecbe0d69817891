// Thinning a histogram by binomial draws, and how many evaluations of the
// binomial distribution function one draw takes as the count grows.
#include <benchmark/benchmark.h>
#include <gsl/gsl_randist.h>
#include <gsl/gsl_rng.h>

#include <bit>
#include <cmath>
#include <cstdlib>

#include "distributions/distfn.h"
#include "histogram/hist_internal.hpp"
#include "histogram/varrow.h"

namespace {

constexpr int bucket_count = 1000;
constexpr uint64_t typical_count = 1000000;

// 1,000 distinct buckets with counts spread over 10^6 .. 1.2 x 10^6.
histogram *MillionCountHistogram() {
  constexpr int digit_pairs = 90;
  constexpr int lowest_digits = 10;
  constexpr uint64_t count_spread = 200000;
  histogram *h = hist_alloc_nbins(bucket_count);
  for (int i = 0; i < bucket_count; ++i) {
    const hist_bucket b{static_cast<int8_t>(lowest_digits + i % digit_pairs), static_cast<int8_t>(i / digit_pairs)};
    hist_insert_raw_end(h, b, typical_count + static_cast<uint64_t>(i) * 997 % count_spread);
  }
  return h;
}

double ProbabilityArg(const benchmark::State &state) { return static_cast<double>(state.range(0)) / 100; }

void BM_Downsample(benchmark::State &state) {
  const double p = ProbabilityArg(state);
  histogram *source = MillionCountHistogram();
  srand48(1);
  for (auto _ : state) {
    state.PauseTiming();
    histogram *h = hist_clone(source);
    state.ResumeTiming();
    hist_downsample(h, p);
    benchmark::DoNotOptimize(h->entries);
    state.PauseTiming();
    hist_free(h);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * bucket_count);
  hist_free(source);
}
BENCHMARK(BM_Downsample)->Arg(1)->Arg(30)->Arg(90)->Unit(benchmark::kMillisecond);

// A peer for scale: GSL's own binomial generator on the same counts.
void BM_GslBinomialPeer(benchmark::State &state) {
  const double p = ProbabilityArg(state);
  histogram *source = MillionCountHistogram();
  gsl_rng *rng = gsl_rng_alloc(gsl_rng_mt19937);
  for (auto _ : state)
    for (int i = 0; i < bucket_count; ++i) {
      hist_bucket b;
      uint64_t n;
      hist_bucket_idx_bucket(source, i, &b, &n);
      benchmark::DoNotOptimize(gsl_ran_binomial(rng, p, static_cast<unsigned>(n)));
    }
  state.SetItemsProcessed(state.iterations() * bucket_count);
  gsl_rng_free(rng);
  hist_free(source);
}
BENCHMARK(BM_GslBinomialPeer)->Arg(30)->Unit(benchmark::kMicrosecond);

// One draw for a count of 10^e at p = 0.3, with the mean number of cumbin
// calls per draw beside log2(n).
void BM_DrawEvaluations(benchmark::State &state) {
  const uint64_t n = static_cast<uint64_t>(std::pow(10.0, static_cast<double>(state.range(0))));
  constexpr double p = 0.3;
  int64_t evaluations = 0;
  const auto lower_tail = [&](uint64_t k) {
    ++evaluations;
    double s = static_cast<double>(k), xn = static_cast<double>(n), pr = p, ompr = 1 - p, cum, ccum;
    cumbin(&s, &xn, &pr, &ompr, &cum, &ccum);
    return cum;
  };
  srand48(2);
  for (auto _ : state) benchmark::DoNotOptimize(hist_binomial_inverse(n, p, drand48(), lower_tail));
  state.counters["cumbin_calls"] = static_cast<double>(evaluations) / static_cast<double>(state.iterations());
  state.counters["log2_n"] = std::log2(static_cast<double>(n));
}
BENCHMARK(BM_DrawEvaluations)->DenseRange(1, 19, 3)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
