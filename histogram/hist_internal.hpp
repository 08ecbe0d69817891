// Internal to the varrow library: the histogram record and the helpers that
// every part of the library shares.  Never installed.
#pragma once

#include <cstdint>

#include "varrow.h"

// The plain record.  The fast record below begins with it, so a histogram *
// of a fast histogram may be converted to hist_fast_record *.
struct histogram {
  uint16_t capacity;
  uint16_t used;
  uint8_t fast : 1;
  const hist_allocator *allocator;
  hist_bucket_entry *entries;
};

inline constexpr int hist_fast_pages = 256;
inline constexpr int hist_fast_page_slots = 256;

struct hist_fast_record {
  histogram base;
  uint16_t *fast_index[hist_fast_pages];
};

inline hist_fast_record *hist_fast_of(histogram *h) { return reinterpret_cast<hist_fast_record *>(h); }
inline const hist_fast_record *hist_fast_of(const histogram *h) {
  return reinterpret_cast<const hist_fast_record *>(h);
}

// Distinct buckets the conversions can produce: every valid bucket, with zero
// as the single zero bucket, plus the NaN bucket.  Caps requested capacities.
inline constexpr int hist_max_conversion_buckets = 46082;
inline constexpr int hist_default_capacity = 100;
// The entry array grows by this many entries at a time.
inline constexpr int hist_growth_step = 100;
// used and capacity are 16-bit.
inline constexpr int hist_max_entries = UINT16_MAX;

inline constexpr hist_bucket hist_nan_bucket{-1, 0};
inline constexpr hist_bucket hist_zero_bucket{0, 0};

inline bool hist_bucket_is_valid(hist_bucket b) {
  return b.val == 0 || (b.val >= 10 && b.val <= 99) || (b.val <= -10 && b.val >= -99);
}

inline bool hist_bucket_identical(hist_bucket a, hist_bucket b) { return a.val == b.val && a.exp == b.exp; }

// A key whose integer order is the bucket order: invalid buckets first (among
// themselves by their raw bits), then negative buckets from the most negative,
// the val-0 buckets (zero; among themselves by exp), then positive buckets.
inline int32_t hist_bucket_order_key(hist_bucket b) {
  constexpr int32_t invalid_base = -100000;
  constexpr int32_t magnitude_base = 1000;
  constexpr int32_t per_exponent = 100;
  if (!hist_bucket_is_valid(b))
    return invalid_base + ((static_cast<uint8_t>(b.val) << 8) | static_cast<uint8_t>(b.exp));
  if (b.val == 0) return b.exp;
  const int32_t magnitude = magnitude_base + (b.exp + 128) * per_exponent + (b.val < 0 ? -b.val : b.val);
  return b.val < 0 ? -magnitude : magnitude;
}

// Negative, zero or positive as a sorts before, with or after b.
inline int hist_bucket_compare(hist_bucket a, hist_bucket b) {
  const int32_t ka = hist_bucket_order_key(a), kb = hist_bucket_order_key(b);
  return (ka > kb) - (ka < kb);
}

// The bucket's lower edge (toward minus infinity); NaN when invalid, 0 for val 0.
double hist_bucket_left(hist_bucket b);

// Looks b up: 1 with *pos its position, or 0 with *pos the insertion position.
int hist_internal_find(const histogram *h, hist_bucket b, int *pos);

// Brings the fast index up to date for the entries from start onward; with
// clear set, first zeroes every page.  Does nothing for a plain histogram.
void hist_fast_rebuild(histogram *h, int start, int clear);

// Creates an empty histogram of the given variant and (already clamped) capacity.
histogram *hist_create(int capacity, bool fast, const hist_allocator *allocator);
