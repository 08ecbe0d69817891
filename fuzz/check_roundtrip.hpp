// The invariant both readers must keep: whatever they accept is strictly
// ascending, holds only samples, and writes back to a record (and a base64
// text) that reads back to the same buckets and counts.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "histogram/hist_internal.hpp"
#include "histogram/varrow.h"

#define FUZZ_CHECK(condition)                                                   \
  do {                                                                          \
    if (!(condition)) {                                                         \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                             \
    }                                                                           \
  } while (0)

namespace fuzz {

struct entry {
  hist_bucket bucket;
  uint64_t count;
  bool operator==(const entry &o) const {
    return hist_bucket_identical(bucket, o.bucket) && count == o.count;
  }
};

inline std::vector<entry> entries_of(const histogram *h) {
  std::vector<entry> out(static_cast<size_t>(hist_bucket_count(h)));
  for (size_t i = 0; i < out.size(); ++i)
    FUZZ_CHECK(hist_bucket_idx_bucket(h, static_cast<int>(i), &out[i].bucket, &out[i].count) == 1);
  return out;
}

// Ascending, no empty buckets, and every bucket found where it is.
inline void check_entries(const histogram *h) {
  const std::vector<entry> es = entries_of(h);
  for (size_t i = 0; i < es.size(); ++i) {
    FUZZ_CHECK(es[i].count != 0);
    FUZZ_CHECK(hist_bucket_is_valid(es[i].bucket) || hist_bucket_identical(es[i].bucket, hist_nan_bucket));
    if (i > 0) FUZZ_CHECK(hist_bucket_compare(es[i - 1].bucket, es[i].bucket) < 0);
    int pos = -1;
    FUZZ_CHECK(hist_internal_find(h, es[i].bucket, &pos) == 1 && pos == static_cast<int>(i));
  }
}

struct histogram_deleter {
  void operator()(histogram *h) const { hist_free(h); }
};

inline void check_roundtrip(const histogram *h) {
  check_entries(h);
  const std::vector<entry> expected = entries_of(h);

  const ssize_t length = hist_serialize_estimate(h);
  std::vector<uint8_t> record(static_cast<size_t>(length));
  FUZZ_CHECK(hist_serialize(h, record.data(), length) == length);
  const std::unique_ptr<histogram, histogram_deleter> plain(hist_alloc());
  FUZZ_CHECK(hist_deserialize(plain.get(), record.data(), length) == length);
  FUZZ_CHECK(entries_of(plain.get()) == expected);

  std::string text(static_cast<size_t>(hist_serialize_b64_estimate(h)), '\0');
  const ssize_t chars = hist_serialize_b64(h, text.data(), text.size());
  FUZZ_CHECK(chars > 0);
  const std::unique_ptr<histogram, histogram_deleter> fast(hist_fast_alloc());
  FUZZ_CHECK(hist_deserialize_b64(fast.get(), text.data(), static_cast<size_t>(chars)) == length);
  FUZZ_CHECK(entries_of(fast.get()) == expected);
  check_entries(fast.get());
}

}  // namespace fuzz
