// Arbitrary text as a base64 histogram: what the lenient reader accepts
// survives a round trip, and a rejected text leaves no half-read buckets
// unless it decoded to a good record with bytes left over.
#include <memory>

#include "fuzz/check_roundtrip.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::unique_ptr<histogram, fuzz::histogram_deleter> h(hist_fast_alloc());
  const ssize_t consumed = hist_deserialize_b64(h.get(), reinterpret_cast<const char *>(data), size);
  FUZZ_CHECK(consumed == -1 || (consumed >= 2 && static_cast<size_t>(consumed) <= size));
  // On failure the histogram holds nothing, or what a record with bytes
  // left over gave: either way it must be well formed.
  fuzz::check_entries(h.get());
  if (consumed >= 0) fuzz::check_roundtrip(h.get());
  return 0;
}
