// Side by side with HdrHistogram_c on the same values in the same run:
// recording (one and two threads), quantiles, merging, base64 text and
// memory.  The peer records integers, so the values are latencies in whole
// nanoseconds; this library records the same numbers as doubles (seconds),
// as scaled integers (nanoseconds, scale -9) and into its recorder.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <hdr/hdr_histogram.h>
#include <hdr/hdr_histogram_log.h>
#include <hdr/hdr_interval_recorder.h>
}

#include "histogram/hist_internal.hpp"
#include "histogram/varrow.h"

namespace {

constexpr size_t value_count = size_t{1} << 20;  // a power of two, for cheap wrapping
constexpr int64_t hdr_highest = 3'600'000'000'000;  // one hour in nanoseconds
constexpr int hdr_significant_figures = 3;
constexpr double nanoseconds = 1e-9;

// Log-normal latencies around 200 us, spread over about four decades.
const std::vector<int64_t> &Latencies() {
  static const std::vector<int64_t> values = [] {
    std::mt19937_64 rng(15);
    std::lognormal_distribution<double> latency(std::log(200e3), 1.0);
    std::vector<int64_t> v(value_count);
    for (int64_t &x : v) x = std::max<int64_t>(1, static_cast<int64_t>(latency(rng)));
    return v;
  }();
  return values;
}

const std::vector<double> &LatencySeconds() {
  static const std::vector<double> values = [] {
    std::vector<double> v;
    for (int64_t x : Latencies()) v.push_back(static_cast<double>(x) * nanoseconds);
    return v;
  }();
  return values;
}

hdr_histogram *NewHdr() {
  hdr_histogram *h = nullptr;
  if (hdr_init(1, hdr_highest, hdr_significant_figures, &h) != 0) std::abort();
  return h;
}

hdr_histogram *FilledHdr() {
  hdr_histogram *h = NewHdr();
  for (int64_t x : Latencies()) hdr_record_value(h, x);
  return h;
}

histogram *FilledHist(bool fast) {
  histogram *h = fast ? hist_fast_alloc() : hist_alloc();
  for (double x : LatencySeconds()) hist_insert(h, x, 1);
  return h;
}

void Report(benchmark::State &state) { state.SetItemsProcessed(state.iterations()); }

// ---- Recording, one thread ----

void BM_Record_hdr_record_value(benchmark::State &state) {
  hdr_histogram *h = NewHdr();
  const std::vector<int64_t> &v = Latencies();
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(hdr_record_value(h, v[i++ & (value_count - 1)]));
  Report(state);
  hdr_close(h);
}
BENCHMARK(BM_Record_hdr_record_value);

void BM_Record_hist_insert(benchmark::State &state) {
  histogram *h = state.range(0) ? hist_fast_alloc() : hist_alloc();
  const std::vector<double> &v = LatencySeconds();
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(hist_insert(h, v[i++ & (value_count - 1)], 1));
  Report(state);
  state.counters["buckets"] = hist_bucket_count(h);
  hist_free(h);
}
BENCHMARK(BM_Record_hist_insert)->ArgName("fast")->Arg(1)->Arg(0);

void BM_Record_hist_insert_intscale(benchmark::State &state) {
  histogram *h = state.range(0) ? hist_fast_alloc() : hist_alloc();
  const std::vector<int64_t> &v = Latencies();
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(hist_insert_intscale(h, v[i++ & (value_count - 1)], -9, 1));
  Report(state);
  hist_free(h);
}
BENCHMARK(BM_Record_hist_insert_intscale)->ArgName("fast")->Arg(1)->Arg(0);

// ---- Where the fast insertion's time goes ----
//
// The fast insertion is a conversion, a lookup in the two-level index and an
// addition to a packed 10-byte entry.  These stages rebuild it one piece at
// a time (each a call, like the library's), so that the report can show what
// each piece adds over the peer: the conversion with a flat counter indexed
// by the bucket's bits; then through the fast index into aligned counts;
// then into the packed entries, still without saturating.

uint64_t stage_counts[1 << 16];

[[gnu::noinline]] void StageConversionFlatCounter(histogram *, double value) {
  stage_counts[std::bit_cast<uint16_t>(hist_double_to_bucket(value))] += 1;
}
[[gnu::noinline]] void StageFastIndexAlignedCounts(histogram *h, double value) {
  stage_counts[hist_fast_slot(h, hist_double_to_bucket(value))] += 1;
}
[[gnu::noinline]] void StageFastIndexPackedEntries(histogram *h, double value) {
  h->entries[hist_fast_slot(h, hist_double_to_bucket(value)) - 1].count += 1;
}

template <void (*stage)(histogram *, double)>
void BM_Stage(benchmark::State &state) {
  histogram *h = FilledHist(true);  // every bucket indexed, so each stage finds its slot
  const std::vector<double> &v = LatencySeconds();
  size_t i = 0;
  for (auto _ : state) stage(h, v[i++ & (value_count - 1)]);
  Report(state);
  hist_free(h);
}
BENCHMARK(BM_Stage<StageConversionFlatCounter>)->Name("BM_Stage/conversion_flat_counter");
BENCHMARK(BM_Stage<StageFastIndexAlignedCounts>)->Name("BM_Stage/fast_index_aligned_counts");
BENCHMARK(BM_Stage<StageFastIndexPackedEntries>)->Name("BM_Stage/fast_index_packed_entries");

// ---- Recording, shared by one or two threads ----

// Each thread walks its own stretch of the values.
size_t FirstIndex(const benchmark::State &state) { return static_cast<size_t>(state.thread_index()) * 4099; }

hdr_histogram *shared_hdr;
hdr_interval_recorder shared_interval_recorder;
hist_recorder *shared_recorder;

void BM_Threads_hdr_record_value_atomic(benchmark::State &state) {
  if (state.thread_index() == 0) shared_hdr = NewHdr();
  const std::vector<int64_t> &v = Latencies();
  size_t i = FirstIndex(state);
  for (auto _ : state) benchmark::DoNotOptimize(hdr_record_value_atomic(shared_hdr, v[i++ & (value_count - 1)]));
  Report(state);
  if (state.thread_index() == 0) hdr_close(shared_hdr);
}
BENCHMARK(BM_Threads_hdr_record_value_atomic)->Threads(1)->Threads(2)->UseRealTime();

void BM_Threads_hdr_interval_recorder(benchmark::State &state) {
  if (state.thread_index() == 0 &&
      hdr_interval_recorder_init_all(&shared_interval_recorder, 1, hdr_highest, hdr_significant_figures) != 0)
    std::abort();
  const std::vector<int64_t> &v = Latencies();
  size_t i = FirstIndex(state);
  for (auto _ : state)
    benchmark::DoNotOptimize(hdr_interval_recorder_record_value(&shared_interval_recorder, v[i++ & (value_count - 1)]));
  Report(state);
  if (state.thread_index() == 0) hdr_interval_recorder_destroy(&shared_interval_recorder);
}
BENCHMARK(BM_Threads_hdr_interval_recorder)->Threads(1)->Threads(2)->UseRealTime();

void BM_Threads_hist_recorder_insert(benchmark::State &state) {
  if (state.thread_index() == 0) shared_recorder = hist_recorder_alloc();
  const std::vector<double> &v = LatencySeconds();
  size_t i = FirstIndex(state);
  for (auto _ : state) benchmark::DoNotOptimize(hist_recorder_insert(shared_recorder, v[i++ & (value_count - 1)], 1));
  Report(state);
  if (state.thread_index() == 0) hist_recorder_free(shared_recorder);
}
BENCHMARK(BM_Threads_hist_recorder_insert)->Threads(1)->Threads(2)->UseRealTime();

// The machine's own scaling, for comparison: each thread converts and
// counts into an array of its own, sharing nothing but the values it reads.
[[gnu::noinline]] void CountPrivately(uint64_t *counts, double value) {
  counts[std::bit_cast<uint16_t>(hist_double_to_bucket(value))] += 1;
}

void BM_Threads_private_counters(benchmark::State &state) {
  std::vector<uint64_t> counts(size_t{1} << 16);
  const std::vector<double> &v = LatencySeconds();
  size_t i = FirstIndex(state);
  for (auto _ : state) CountPrivately(counts.data(), v[i++ & (value_count - 1)]);
  Report(state);
}
BENCHMARK(BM_Threads_private_counters)->Threads(1)->Threads(2)->UseRealTime();

// ---- Quantiles, merging, text, memory (histograms of all values) ----

constexpr double quantile_fractions[] = {0.5, 0.9, 0.99, 0.999};
constexpr int quantile_count = 4;

void BM_Quantiles_hdr(benchmark::State &state) {
  hdr_histogram *h = FilledHdr();
  const double percentiles[quantile_count] = {50, 90, 99, 99.9};
  int64_t out[quantile_count];
  for (auto _ : state) {
    hdr_value_at_percentiles(h, percentiles, out, quantile_count);
    benchmark::DoNotOptimize(out);
  }
  hdr_close(h);
}
BENCHMARK(BM_Quantiles_hdr);

void BM_Quantiles_hist(benchmark::State &state) {
  histogram *h = FilledHist(false);
  double out[quantile_count];
  for (auto _ : state) {
    hist_approx_quantile(h, quantile_fractions, quantile_count, out);
    benchmark::DoNotOptimize(out);
  }
  hist_free(h);
}
BENCHMARK(BM_Quantiles_hist);

void BM_Merge_hdr(benchmark::State &state) {
  hdr_histogram *from = FilledHdr(), *to = NewHdr();
  for (auto _ : state) benchmark::DoNotOptimize(hdr_add(to, from));
  hdr_close(from);
  hdr_close(to);
}
BENCHMARK(BM_Merge_hdr);

void BM_Merge_hist(benchmark::State &state) {
  histogram *from = FilledHist(false), *to = hist_alloc();
  const histogram *sources[] = {from};
  for (auto _ : state) benchmark::DoNotOptimize(hist_accumulate(to, sources, 1));
  hist_free(from);
  hist_free(to);
}
BENCHMARK(BM_Merge_hist);

void BM_TextWrite_hdr(benchmark::State &state) {
  hdr_histogram *h = FilledHdr();
  size_t length = 0;
  for (auto _ : state) {
    char *text = nullptr;
    if (hdr_log_encode(h, &text) != 0) std::abort();
    length = std::strlen(text);
    std::free(text);
  }
  state.counters["chars"] = static_cast<double>(length);
  hdr_close(h);
}
BENCHMARK(BM_TextWrite_hdr);

std::string HistText(const histogram *h) {
  std::string text(static_cast<size_t>(hist_serialize_b64_estimate(h)), '\0');
  text.resize(static_cast<size_t>(hist_serialize_b64(h, text.data(), text.size())));
  return text;
}

void BM_TextWrite_hist(benchmark::State &state) {
  histogram *h = FilledHist(false);
  std::string text;
  for (auto _ : state) {
    text = HistText(h);
    benchmark::DoNotOptimize(text.data());
  }
  state.counters["chars"] = static_cast<double>(text.size());
  hist_free(h);
}
BENCHMARK(BM_TextWrite_hist);

void BM_TextRead_hdr(benchmark::State &state) {
  hdr_histogram *h = FilledHdr();
  char *text = nullptr;
  if (hdr_log_encode(h, &text) != 0) std::abort();
  const size_t length = std::strlen(text);
  for (auto _ : state) {
    hdr_histogram *read = nullptr;
    if (hdr_log_decode(&read, text, length) != 0) std::abort();
    hdr_close(read);
  }
  std::free(text);
  hdr_close(h);
}
BENCHMARK(BM_TextRead_hdr);

void BM_TextRead_hist(benchmark::State &state) {
  histogram *h = FilledHist(false);
  const std::string text = HistText(h);
  for (auto _ : state) {
    histogram *read = hist_alloc();
    if (hist_deserialize_b64(read, text.data(), text.size()) < 0) std::abort();
    hist_free(read);
  }
  hist_free(h);
}
BENCHMARK(BM_TextRead_hist);

// Bytes held by the histograms of all values: the peer's own count; for
// this library, what a copy of each histogram allocates (record, entry
// array, fast index pages) through a counting allocator.
size_t allocated_bytes;
void *CountingMalloc(size_t n) {
  allocated_bytes += n;
  return std::malloc(n);
}
void *CountingCalloc(size_t n, size_t size) {
  allocated_bytes += n * size;
  return std::calloc(n, size);
}
const hist_allocator counting_allocator = {CountingMalloc, CountingCalloc, std::free};

size_t HeldBytes(const histogram *h) {
  allocated_bytes = 0;
  hist_free(hist_clone_with_allocator(h, &counting_allocator));
  return allocated_bytes;
}

void BM_Memory(benchmark::State &state) {
  hdr_histogram *hdr = FilledHdr();
  histogram *plain = FilledHist(false), *fast = FilledHist(true);
  for (auto _ : state) benchmark::DoNotOptimize(hdr_get_memory_size(hdr));
  state.counters["hdr_bytes"] = static_cast<double>(hdr_get_memory_size(hdr));
  state.counters["plain_bytes"] = static_cast<double>(HeldBytes(plain));
  state.counters["fast_bytes"] = static_cast<double>(HeldBytes(fast));
  state.counters["buckets"] = hist_bucket_count(plain);
  hist_free(plain);
  hist_free(fast);
  hdr_close(hdr);
}
BENCHMARK(BM_Memory)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
