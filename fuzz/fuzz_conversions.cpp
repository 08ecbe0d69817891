// Arbitrary exponential and explicit-bound histograms, as the SQL
// conversion functions hand them from arrays to the library
// (postgres/varrow_conversions.c): whatever is accepted keeps its total
// exactly and is well formed, and converts back at any scale and to any
// valid bounds with the same total (counts saturating only past 2^64 - 1).
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "fuzz/check_roundtrip.hpp"

namespace {

using histogram_ptr = std::unique_ptr<histogram, fuzz::histogram_deleter>;

constexpr size_t max_length = 64;

// Ascending, and every bucket found where it is (counts of 0 may stay).
void check_well_formed(const histogram *h) {
  const std::vector<fuzz::entry> es = fuzz::entries_of(h);
  for (size_t i = 0; i < es.size(); ++i) {
    if (i > 0) FUZZ_CHECK(hist_bucket_compare(es[i - 1].bucket, es[i].bucket) < 0);
    int pos = -1;
    FUZZ_CHECK(hist_internal_find(h, es[i].bucket, &pos) == 1 && pos == static_cast<int>(i));
  }
}

std::vector<uint64_t> draw_counts(FuzzedDataProvider &in) {
  std::vector<uint64_t> counts(in.ConsumeIntegralInRange<size_t>(0, max_length));
  for (uint64_t &c : counts)
    c = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint64_t>(0, 1000) : in.ConsumeIntegral<uint64_t>();
  return counts;
}

// The exact total, or nothing past 2^64 - 1.
bool total_of(const std::vector<uint64_t> &counts, uint64_t start, uint64_t *total) {
  uint64_t sum = start;
  for (const uint64_t c : counts)
    if (__builtin_add_overflow(sum, c, &sum)) return false;
  *total = sum;
  return true;
}

void check_exponential_round_trip(const histogram *h, uint64_t total, FuzzedDataProvider &in) {
  const int scale = in.ConsumeBool() ? hist_exponential_scale_for(h, in.ConsumeIntegralInRange<uint64_t>(1, 160))
                                     : in.ConsumeIntegralInRange(HIST_EXPONENTIAL_MIN_SCALE, HIST_EXPONENTIAL_MAX_SCALE);
  hist_exponential layout{};
  if (hist_exponential_layout(h, scale, &layout) != 0) return;
  // Layouts of up to a few thousand indices only: the fuzzer's memory stays small.
  if (layout.positive.length > 4096 || layout.negative.length > 4096) return;
  std::vector<uint64_t> positive(layout.positive.length), negative(layout.negative.length);
  layout.positive.counts = positive.data();
  layout.negative.counts = negative.data();
  FUZZ_CHECK(hist_to_exponential(h, &layout) == 0);
  uint64_t back = 0;
  if (total_of(positive, layout.zero_count, &back) && total_of(negative, back, &back)) FUZZ_CHECK(back == total);
}

void fuzz_exponential(FuzzedDataProvider &in) {
  hist_exponential e{};
  e.scale = in.ConsumeIntegralInRange(HIST_EXPONENTIAL_MIN_SCALE - 2, HIST_EXPONENTIAL_MAX_SCALE + 2);
  e.zero_count = in.ConsumeBool() ? 0 : in.ConsumeIntegral<uint64_t>() >> in.ConsumeIntegralInRange(0, 63);
  std::vector<uint64_t> positive = draw_counts(in), negative = draw_counts(in);
  e.positive = {in.ConsumeIntegral<int32_t>() >> in.ConsumeIntegralInRange(0, 31), positive.size(), positive.data()};
  e.negative = {in.ConsumeIntegral<int32_t>() >> in.ConsumeIntegralInRange(0, 31), negative.size(), negative.data()};
  const histogram_ptr h(hist_from_exponential(&e, nullptr));
  uint64_t total = 0;
  const bool fits = total_of(positive, e.zero_count, &total) && total_of(negative, total, &total);
  if (h == nullptr) return;
  FUZZ_CHECK(fits);
  check_well_formed(h.get());
  if (hist_sample_count(h.get()) != total) {
    std::fprintf(stderr, "scale %d zero %llu positive offset %d:", e.scale, static_cast<unsigned long long>(e.zero_count),
                 e.positive.offset);
    for (const uint64_t c : positive) std::fprintf(stderr, " %llu", static_cast<unsigned long long>(c));
    std::fprintf(stderr, "\nnegative offset %d:", e.negative.offset);
    for (const uint64_t c : negative) std::fprintf(stderr, " %llu", static_cast<unsigned long long>(c));
    std::fprintf(stderr, "\nheld %llu of %llu\n", static_cast<unsigned long long>(hist_sample_count(h.get())),
                 static_cast<unsigned long long>(total));
    std::abort();
  }
  check_exponential_round_trip(h.get(), total, in);
}

void fuzz_explicit_bounds(FuzzedDataProvider &in) {
  std::vector<double> bounds(in.ConsumeIntegralInRange<size_t>(0, max_length));
  for (double &b : bounds) b = in.ConsumeBool() ? in.ConsumeFloatingPoint<double>() : in.ConsumeIntegralInRange(-50, 50) / 4.0;
  if (in.ConsumeBool()) std::sort(bounds.begin(), bounds.end());
  std::vector<uint64_t> counts = draw_counts(in);
  if (in.ConsumeBool()) counts.resize(bounds.size() + 1);
  const histogram_ptr h(hist_from_explicit_bounds(bounds.data(), bounds.size(), counts.data(), counts.size(), nullptr));
  if (h == nullptr) return;
  uint64_t total = 0;
  FUZZ_CHECK(total_of(counts, 0, &total));
  check_well_formed(h.get());
  FUZZ_CHECK(hist_sample_count(h.get()) == total);
  std::vector<uint64_t> back(bounds.size() + 1);
  FUZZ_CHECK(hist_to_explicit_bounds(h.get(), bounds.data(), bounds.size(), back.data()) == 0);
  uint64_t back_total = 0;
  FUZZ_CHECK(total_of(back, 0, &back_total) && back_total == total);
  check_exponential_round_trip(h.get(), total, in);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider in(data, size);
  if (in.ConsumeBool())
    fuzz_exponential(in);
  else
    fuzz_explicit_bounds(in);
  return 0;
}
