// Arbitrary bytes added into a histogram that already holds buckets, as a
// record and as base64 text: the adding readers accept exactly what the
// replacing ones accept; what they accept is added bucket by bucket
// (saturating) to what was held; what they reject leaves the histogram as
// it was.  The first byte splits the input into the held histogram's record
// and the bytes to add.
#include <algorithm>
#include <memory>
#include <vector>

#include "fuzz/check_roundtrip.hpp"

namespace {

using histogram_ptr = std::unique_ptr<histogram, fuzz::histogram_deleter>;

// The saturating sum of two sorted entry lists.
std::vector<fuzz::entry> sum_of(const std::vector<fuzz::entry> &a, const std::vector<fuzz::entry> &b) {
  std::vector<fuzz::entry> out;
  size_t i = 0, j = 0;
  while (i < a.size() || j < b.size()) {
    const int order = i == a.size() ? 1 : j == b.size() ? -1 : hist_bucket_compare(a[i].bucket, b[j].bucket);
    if (order < 0) {
      out.push_back(a[i++]);
    } else if (order > 0) {
      out.push_back(b[j++]);
    } else {
      out.push_back({a[i].bucket, hist_saturating_add(a[i].count, b[j].count)});
      ++i;
      ++j;
    }
  }
  return out;
}

histogram_ptr held_histogram(bool fast, const uint8_t *record, size_t length) {
  histogram_ptr h(fast ? hist_fast_alloc_nbins(1) : hist_alloc_nbins(1));
  hist_deserialize(h.get(), record, static_cast<ssize_t>(length));
  return h;
}

void check_binary(bool fast, const uint8_t *held, size_t held_length, const uint8_t *data, size_t size) {
  const histogram_ptr h = held_histogram(fast, held, held_length);
  const std::vector<fuzz::entry> before = fuzz::entries_of(h.get());
  const histogram_ptr replaced(hist_alloc());
  const auto length = static_cast<ssize_t>(size);
  const ssize_t expected = hist_deserialize(replaced.get(), data, length);
  const ssize_t consumed = hist_deserialize_add(h.get(), data, length);
  FUZZ_CHECK(consumed == expected);
  const std::vector<fuzz::entry> after = fuzz::entries_of(h.get());
  FUZZ_CHECK(after == (consumed < 0 ? before : sum_of(before, fuzz::entries_of(replaced.get()))));
  fuzz::check_entries(h.get());
  fuzz::check_roundtrip(h.get());
}

void check_text(bool fast, const uint8_t *held, size_t held_length, const uint8_t *data, size_t size) {
  const histogram_ptr h = held_histogram(fast, held, held_length);
  const std::vector<fuzz::entry> before = fuzz::entries_of(h.get());
  const char *text = reinterpret_cast<const char *>(data);
  const histogram_ptr replaced(hist_alloc());
  const ssize_t expected = hist_deserialize_b64(replaced.get(), text, size);
  const ssize_t consumed = hist_deserialize_b64_add(h.get(), text, size);
  FUZZ_CHECK(consumed == expected);
  const std::vector<fuzz::entry> after = fuzz::entries_of(h.get());
  FUZZ_CHECK(after == (consumed < 0 ? before : sum_of(before, fuzz::entries_of(replaced.get()))));
  fuzz::check_entries(h.get());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const size_t held_length = std::min<size_t>(data[0], size - 1);
  const uint8_t *held = data + 1;
  const uint8_t *rest = held + held_length;
  const size_t rest_size = size - 1 - held_length;
  for (const bool fast : {false, true}) {
    check_binary(fast, held, held_length, rest, rest_size);
    check_text(fast, held, held_length, rest, rest_size);
  }
  return 0;
}
