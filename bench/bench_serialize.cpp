// The serialized form: writing and reading the byte record and its base64
// text for a 1,000-bucket histogram of realistic counts.  Throughput is
// reported in bytes of record or characters of text per second.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "histogram/varrow.h"

namespace {

// 1,000 distinct buckets of latency-like values, counts from 1 to millions,
// so records mix count widths of 1 to 3 bytes.
histogram *thousand_buckets() {
  std::mt19937_64 rng(1);
  histogram *h = hist_alloc();
  while (hist_bucket_count(h) < 1000) {
    const double value = std::pow(10.0, std::uniform_real_distribution<double>(-6, 6)(rng));
    hist_insert(h, value, 1 + (rng() >> (40 + rng() % 24)));
  }
  return h;
}

std::vector<uint8_t> record_of(const histogram *h) {
  std::vector<uint8_t> record(static_cast<size_t>(hist_serialize_estimate(h)));
  hist_serialize(h, record.data(), static_cast<ssize_t>(record.size()));
  return record;
}

std::string text_of(const histogram *h) {
  std::string text(static_cast<size_t>(hist_serialize_b64_estimate(h)), '\0');
  text.resize(static_cast<size_t>(hist_serialize_b64(h, text.data(), text.size())));
  return text;
}

void BM_Serialize(benchmark::State &state) {
  histogram *h = thousand_buckets();
  std::vector<uint8_t> record(static_cast<size_t>(hist_serialize_estimate(h)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(hist_serialize(h, record.data(), static_cast<ssize_t>(record.size())));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * record.size()));
  hist_free(h);
}
BENCHMARK(BM_Serialize)->Name("hist_serialize/1000_buckets");

void BM_Deserialize(benchmark::State &state) {
  histogram *source = thousand_buckets();
  const std::vector<uint8_t> record = record_of(source);
  histogram *h = state.range(0) ? hist_fast_alloc() : hist_alloc();
  for (auto _ : state) benchmark::DoNotOptimize(hist_deserialize(h, record.data(), static_cast<ssize_t>(record.size())));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * record.size()));
  hist_free(h);
  hist_free(source);
}
BENCHMARK(BM_Deserialize)->Name("hist_deserialize/1000_buckets")->ArgName("fast")->Arg(0)->Arg(1);

void BM_SerializeB64(benchmark::State &state) {
  histogram *h = thousand_buckets();
  std::string text(static_cast<size_t>(hist_serialize_b64_estimate(h)), '\0');
  ssize_t length = 0;
  for (auto _ : state) {
    length = hist_serialize_b64(h, text.data(), text.size());
    benchmark::DoNotOptimize(length);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * length);
  state.counters["chars"] = static_cast<double>(length);
  hist_free(h);
}
BENCHMARK(BM_SerializeB64)->Name("hist_serialize_b64/1000_buckets");

void BM_DeserializeB64(benchmark::State &state) {
  histogram *source = thousand_buckets();
  const std::string text = text_of(source) + "\n";
  histogram *h = hist_alloc();
  for (auto _ : state) benchmark::DoNotOptimize(hist_deserialize_b64(h, text.data(), text.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.counters["chars"] = static_cast<double>(text.size());
  hist_free(h);
  hist_free(source);
}
BENCHMARK(BM_DeserializeB64)->Name("hist_deserialize_b64/1000_buckets");

}  // namespace

BENCHMARK_MAIN();
