// Clamping to a value range and compressing below a minimum exponent.
#include <algorithm>
#include <span>

#include "hist_internal.hpp"

namespace {

// The closed range of values a valid bucket touches: [d - w, d] below zero,
// [d, d + w] from zero up (a single point for zero, where d = w = 0).
struct closed_range {
  double low;
  double high;
};

closed_range bucket_closed_range(hist_bucket b) {
  const double value = hist_bucket_to_double(b);
  const double width = hist_bucket_to_double_bin_width(b);
  if (value < 0) return {value - width, value};
  return {value, value + width};
}

// A NaN bound compares false and so limits nothing on its side.
bool outside_bounds(hist_bucket b, double lower, double upper) {
  if (!hist_bucket_is_valid(b)) return true;
  const closed_range range = bucket_closed_range(b);
  return range.low > upper || lower > range.high;
}

// Buckets below the minimum exponent count as zero; at it, the second digit
// is dropped (truncation toward zero keeps the sign).
hist_bucket compressed_bucket(hist_bucket b, int8_t mbe) {
  constexpr int digit_base = 10;
  if (b.exp < mbe) return hist_zero_bucket;
  if (b.exp == mbe) return hist_bucket{static_cast<int8_t>(b.val / digit_base * digit_base), mbe};
  return b;
}

}  // namespace

extern "C" void hist_clamp(histogram *h, double lower, double upper) {
  if (h == nullptr || h->entries == nullptr) return;
  // An entry outside the range goes even when its count is already 0.
  bool dropped = false;
  for (int i = 0; i < h->used; ++i) {
    hist_bucket_entry &entry = h->entries[i];
    if (!outside_bounds(entry.bucket, lower, upper)) continue;
    entry.count = 0;
    dropped = true;
  }
  if (dropped) hist_remove_zeroes(h);
}

extern "C" histogram *hist_compress_mbe_with_allocator(const histogram *src, int8_t mbe,
                                                      const hist_allocator *allocator) {
  const std::span<const hist_bucket_entry> entries = hist_entries(src);
  // Each source entry gives at most one bucket: with room for them all no
  // insertion grows the array, so none can fail.
  const int capacity = std::max(static_cast<int>(entries.size()), hist_default_capacity);
  histogram *result = hist_create(capacity, false, allocator);
  if (result == nullptr) return nullptr;
  // Source entries arrive in bucket order and the mapping keeps that order
  // (invalid buckets aside), so appending at the end rarely has to search.
  for (const hist_bucket_entry &entry : entries)
    hist_insert_raw_end(result, compressed_bucket(entry.bucket, mbe), entry.count);
  return result;
}

extern "C" histogram *hist_compress_mbe(const histogram *src, int8_t mbe) {
  return hist_compress_mbe_with_allocator(src, mbe, &default_allocator);
}
