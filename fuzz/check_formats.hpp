// What every format reader must keep: an input it accepts yields well-formed
// histograms that survive the record round trip, and one it refuses throws
// FormatError and nothing else.
#pragma once

#include <string_view>

#include "analyzer/formats/formats.hpp"
#include "fuzz/check_roundtrip.hpp"

namespace fuzz {

// The entries without the zero-count buckets that an approximation may
// leave, through the record round trip.
inline void check_histograms(const varrow_formats::Entries &entries) {
  for (const varrow_formats::Entry &e : entries) {
    const std::unique_ptr<histogram, histogram_deleter> copy(hist_clone(e.histogram.get()));
    FUZZ_CHECK(copy != nullptr);
    hist_remove_zeroes(copy.get());
    check_roundtrip(copy.get());
  }
}

// Reads the input, checks what was accepted and returns it (empty when
// refused).
template <class Read>
varrow_formats::Entries read_checked(Read read, const uint8_t *data, size_t size) {
  try {
    varrow_formats::Entries entries = read(std::string_view(reinterpret_cast<const char *>(data), size));
    check_histograms(entries);
    return entries;
  } catch (const varrow_formats::FormatError &) {
    return {};
  }
}

inline uint64_t total_of(const varrow_formats::Entries &entries) {
  uint64_t total = 0;
  for (const varrow_formats::Entry &e : entries) total = hist_saturating_add(total, e.histogram.sample_count());
  return total;
}

}  // namespace fuzz
