// Shared by the histogram tests: building histograms from tables, reading
// them back as comparable tables, and checking the library's invariants.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <tuple>
#include <vector>

#include "histogram/hist_internal.hpp"
#include "histogram/varrow.h"

namespace varrow_test {

// (val, exp, count): readable in failure messages and comparable as a whole.
using Entry = std::tuple<int, int, uint64_t>;
using Entries = std::vector<Entry>;

inline hist_bucket BucketOf(int val, int exp) { return hist_bucket{static_cast<int8_t>(val), static_cast<int8_t>(exp)}; }
inline hist_bucket BucketOf(const Entry &e) { return BucketOf(std::get<0>(e), std::get<1>(e)); }

// The entry holding count samples of value.
inline Entry At(double value, uint64_t count) {
  const hist_bucket b = double_to_hist_bucket(value);
  return {b.val, b.exp, count};
}

// Inserts the given entries as raw buckets.
inline void Fill(histogram *h, const Entries &entries) {
  for (const Entry &e : entries) hist_insert_raw(h, BucketOf(e), std::get<2>(e));
}

// A histogram holding the given entries; the caller frees it.
inline histogram *MakeHistogram(const Entries &entries, bool fast = false) {
  histogram *h = fast ? hist_fast_alloc() : hist_alloc();
  Fill(h, entries);
  return h;
}

// Every entry in bucket order.
inline Entries Contents(const histogram *h) {
  Entries out;
  for (int i = 0; i < hist_bucket_count(h); ++i) {
    hist_bucket b;
    uint64_t count;
    hist_bucket_idx_bucket(h, i, &b, &count);
    out.emplace_back(b.val, b.exp, count);
  }
  return out;
}

// The entries are strictly ascending and each is found at its position
// (through the fast index in a fast histogram).
inline void ExpectConsistent(const histogram *h) {
  const Entries entries = Contents(h);
  for (size_t i = 0; i < entries.size(); ++i) {
    if (i > 0) {
      EXPECT_LT(hist_bucket_compare(BucketOf(entries[i - 1]), BucketOf(entries[i])), 0) << i;
    }
    int pos = -1;
    EXPECT_EQ(hist_internal_find(h, BucketOf(entries[i]), &pos), 1) << i;
    EXPECT_EQ(pos, static_cast<int>(i));
  }
}

// The first n of all 65,536 raw buckets (invalid ones included) in bucket
// order: feeding them to hist_insert_raw_end appends each one.
inline std::vector<hist_bucket> RawBucketsInOrder(size_t n) {
  std::vector<hist_bucket> all;
  for (int exp = -128; exp <= 127; ++exp)
    for (int val = -128; val <= 127; ++val) all.push_back(BucketOf(val, exp));
  std::sort(all.begin(), all.end(), [](hist_bucket a, hist_bucket b) { return hist_bucket_compare(a, b) < 0; });
  all.resize(std::min(n, all.size()));
  return all;
}

}  // namespace varrow_test
