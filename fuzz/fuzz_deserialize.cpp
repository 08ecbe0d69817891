// Arbitrary bytes as a serialized histogram, read into a plain and a fast
// histogram: both reads agree, and what they accept survives a round trip.
#include <memory>

#include "fuzz/check_roundtrip.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::unique_ptr<histogram, fuzz::histogram_deleter> plain(hist_alloc());
  const std::unique_ptr<histogram, fuzz::histogram_deleter> fast(hist_fast_alloc());
  const auto length = static_cast<ssize_t>(size);
  const ssize_t consumed = hist_deserialize(plain.get(), data, length);
  FUZZ_CHECK(hist_deserialize(fast.get(), data, length) == consumed);
  FUZZ_CHECK(consumed == -1 || (consumed >= 2 && consumed <= length));
  FUZZ_CHECK(fuzz::entries_of(plain.get()) == fuzz::entries_of(fast.get()));
  if (consumed < 0) {
    FUZZ_CHECK(hist_bucket_count(plain.get()) == 0);
    return 0;
  }
  fuzz::check_entries(fast.get());
  fuzz::check_roundtrip(plain.get());
  // Accepted histograms stay usable: a new bucket lands in order.
  hist_insert(fast.get(), 4.2, 1);
  fuzz::check_entries(fast.get());
  return 0;
}
