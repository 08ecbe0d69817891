// The histogram record: creation, capacity limits, lookup, cloning, clearing,
// release through the histogram's own allocator, and enumeration.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <random>
#include <vector>

#include "histogram/hist_internal.hpp"
#include "tests/histogram_test_support.hpp"
#include "histogram/varrow.h"

namespace {

// An allocator that counts its calls, so tests can see where memory goes.
struct CountingAllocator {
  static inline int allocations = 0;
  static inline int frees = 0;
  static inline int null_frees = 0;
  static void *count_malloc(size_t size) {
    ++allocations;
    return std::malloc(size);
  }
  static void *count_calloc(size_t n, size_t size) {
    ++allocations;
    return std::calloc(n, size);
  }
  static void count_free(void *p) {
    ++frees;
    if (!p) ++null_frees;
    std::free(p);
  }
  static void reset() { allocations = frees = null_frees = 0; }
  static constexpr hist_allocator allocator = {count_malloc, count_calloc, count_free};
};

using varrow_test::BucketOf;

TEST(Creation, CapacityIsBroughtIntoRange) {
  const struct {
    int nbins;
    int capacity;
  } cases[] = {{0, 100}, {-5, 100}, {50000, 46082}, {1, 1}, {46082, 46082}, {300, 300}};
  for (const auto &c : cases) {
    for (histogram *h : {hist_alloc_nbins(c.nbins), hist_fast_alloc_nbins(c.nbins)}) {
      EXPECT_EQ(h->capacity, c.capacity) << c.nbins;
      EXPECT_EQ(hist_num_buckets(h), 0);
      hist_free(h);
    }
  }
  for (histogram *h : {hist_alloc(), hist_fast_alloc(), hist_alloc_with_allocator(&default_allocator),
                       hist_fast_alloc_with_allocator(&default_allocator)}) {
    EXPECT_EQ(h->capacity, 100);
    hist_free(h);
  }
}

class Lookup : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    h = GetParam() ? hist_fast_alloc() : hist_alloc();
    for (double v : {1.0, 2.0, 3.0}) hist_insert(h, v, 1);
  }
  void TearDown() override { hist_free(h); }
  histogram *h = nullptr;
};

TEST_P(Lookup, FindsPresentBucketsAndInsertionPositions) {
  const struct {
    hist_bucket b;
    int found;
    int pos;
  } cases[] = {
      {BucketOf(20, 0), 1, 1}, {BucketOf(10, 0), 1, 0},  {BucketOf(30, 0), 1, 2},  {BucketOf(25, 0), 0, 2},
      {BucketOf(50, -1), 0, 0}, {BucketOf(50, 0), 0, 3}, {BucketOf(-10, 0), 0, 0}, {BucketOf(-1, 0), 0, 0},
  };
  for (const auto &c : cases) {
    int pos = -7;
    EXPECT_EQ(hist_internal_find(h, c.b, &pos), c.found) << int(c.b.val) << "," << int(c.b.exp);
    EXPECT_EQ(pos, c.pos) << int(c.b.val) << "," << int(c.b.exp);
  }
}

TEST_P(Lookup, EmptyHistogramFindsNothing) {
  hist_clear(h);
  int pos = -7;
  EXPECT_EQ(hist_internal_find(h, BucketOf(20, 0), &pos), 0);
  EXPECT_EQ(pos, 0);
}

TEST_P(Lookup, CloneIsIndependentAndAnswersAlike) {
  histogram *copy = hist_clone(h);
  for (double v : {1.0, 2.0, 3.0, 2.5, -1.0}) {
    int p1, p2;
    EXPECT_EQ(hist_internal_find(copy, double_to_hist_bucket(v), &p1), hist_internal_find(h, double_to_hist_bucket(v), &p2));
    EXPECT_EQ(p1, p2);
  }
  hist_insert(copy, 2.5, 1);
  hist_remove(copy, 1.0, 1);
  EXPECT_EQ(hist_num_buckets(h), 3);
  EXPECT_EQ(hist_sample_count(h), 3u);
  EXPECT_EQ(hist_num_buckets(copy), 4);
  int pos;
  EXPECT_EQ(hist_internal_find(h, BucketOf(25, 0), &pos), 0);
  EXPECT_EQ(hist_internal_find(copy, BucketOf(30, 0), &pos), 1);
  EXPECT_EQ(pos, 3);
  hist_free(copy);
}

TEST_P(Lookup, ClearForgetsEveryBucketButKeepsStorage) {
  const hist_bucket_entry *storage = h->entries;
  hist_clear(h);
  EXPECT_EQ(hist_num_buckets(h), 0);
  EXPECT_EQ(h->entries, storage);
  hist_insert(h, 5.0, 1);
  for (double v : {1.0, 2.0, 3.0}) {
    int pos;
    EXPECT_EQ(hist_internal_find(h, double_to_hist_bucket(v), &pos), 0) << v;
  }
}

INSTANTIATE_TEST_SUITE_P(PlainAndFast, Lookup, ::testing::Bool());

// The lookup narrows its search by how many keys separate the target from
// the entries it has seen, so it is checked against a plain lower bound on
// contiguous runs, runs with sparse tails, every bucket class and random
// subsets of all raw buckets, for every raw bucket as the target.
TEST(LookupAgreesWithLowerBound, EveryRawBucketInEveryShape) {
  const std::vector<hist_bucket> all = varrow_test::RawBucketsInOrder(SIZE_MAX);
  std::mt19937 random(15);
  const struct {
    const char *shape;
    std::function<bool(hist_bucket)> keep;
  } shapes[] = {
      {"contiguous positive run", [](hist_bucket b) { return b.val > 0 && hist_bucket_is_valid(b) && b.exp >= -3 && b.exp <= 1; }},
      {"run with sparse tails",
       [](hist_bucket b) {
         const bool core = b.exp >= -3 && b.exp <= 1, tail = b.exp >= -6 && b.exp <= 4 && b.val % 7 == 0;
         return b.val > 0 && hist_bucket_is_valid(b) && (core || tail);
       }},
      {"every class, sparse", [](hist_bucket b) { return b.val % 3 == 0 && (b.val != 0 || b.exp % 5 == 0); }},
      {"random third", [&random](hist_bucket) { return random() % 3 == 0; }},
      {"single bucket", [](hist_bucket b) { return b.val == 42 && b.exp == 0; }},
  };
  for (const auto &s : shapes) {
    std::vector<hist_bucket> kept;
    for (const hist_bucket b : all)
      if (s.keep(b)) kept.push_back(b);
    for (const bool fast : {false, true}) {
      histogram *h = fast ? hist_fast_alloc() : hist_alloc();
      for (const hist_bucket b : kept) hist_insert_raw_end(h, b, 1);
      ASSERT_EQ(hist_num_buckets(h), static_cast<int>(kept.size())) << s.shape;
      for (const hist_bucket b : all) {
        const auto bound = std::lower_bound(kept.begin(), kept.end(), b,
                                            [](hist_bucket x, hist_bucket y) { return hist_bucket_compare(x, y) < 0; });
        const int expected_pos = static_cast<int>(bound - kept.begin());
        const int expected_found = bound != kept.end() && hist_bucket_identical(*bound, b);
        int pos = -7;
        ASSERT_EQ(hist_internal_find(h, b, &pos), expected_found) << s.shape << " " << int(b.val) << "," << int(b.exp);
        ASSERT_EQ(pos, expected_pos) << s.shape << " " << int(b.val) << "," << int(b.exp);
      }
      hist_free(h);
    }
  }
}

TEST(Enumeration, RunsInBucketOrder) {
  histogram *h = hist_fast_alloc();
  for (double v : {100.0, double(NAN), 0.0, -1.0, 1.0, -100.0}) hist_insert(h, v, 1);
  const double expected[] = {NAN, -100, -1, 0, 1, 100};
  ASSERT_EQ(hist_bucket_count(h), 6);
  for (int i = 0; i < 6; ++i) {
    double value;
    uint64_t count;
    ASSERT_EQ(hist_bucket_idx(h, i, &value, &count), 1);
    if (std::isnan(expected[i]))
      EXPECT_TRUE(std::isnan(value));
    else
      EXPECT_EQ(value, expected[i]);
    EXPECT_EQ(count, 1u);
  }
  hist_bucket b;
  uint64_t count;
  ASSERT_EQ(hist_bucket_idx_bucket(h, 0, &b, &count), 1);
  EXPECT_EQ(b.val, -1);
  EXPECT_EQ(b.exp, 0);
  hist_free(h);
}

TEST(Enumeration, OutOfRangePositionsWriteNothing) {
  histogram *h = hist_alloc();
  hist_insert(h, 1.0, 3);
  for (int idx : {-1, 1, 1000}) {
    double value = 42;
    uint64_t count = 42;
    hist_bucket b{7, 7};
    EXPECT_EQ(hist_bucket_idx(h, idx, &value, &count), 0);
    EXPECT_EQ(hist_bucket_idx_bucket(h, idx, &b, &count), 0);
    EXPECT_EQ(value, 42);
    EXPECT_EQ(count, 42u);
    EXPECT_EQ(b.val, 7);
  }
  EXPECT_EQ(hist_bucket_count(nullptr), 0);
  hist_free(h);
}

TEST(Release, UsesTheHistogramsOwnAllocator) {
  CountingAllocator::reset();
  histogram *h = hist_fast_alloc_with_allocator(&CountingAllocator::allocator);
  hist_insert(h, 1.0, 1);   // one page
  hist_insert(h, 1e-5, 1);  // another page
  histogram *plain_clone = hist_clone(h);  // default allocator
  EXPECT_EQ(CountingAllocator::allocations, 4);  // record, entries, two pages
  hist_free(h);
  // Entries, all 256 index slots (null ones too) and the record.
  EXPECT_EQ(CountingAllocator::frees, 1 + 256 + 1);
  EXPECT_EQ(CountingAllocator::null_frees, 254);
  EXPECT_EQ(hist_sample_count(plain_clone), 2u);
  hist_free(plain_clone);
  hist_free(nullptr);
}

TEST(Clone, CopiesEveryEntryBeyondTheConversionCap) {
  // Raw buckets can bring more entries than the conversions produce.
  histogram *h = hist_alloc();
  for (const hist_bucket b : varrow_test::RawBucketsInOrder(50000)) hist_insert_raw_end(h, b, 1);
  ASSERT_EQ(hist_num_buckets(h), 50000);
  for (histogram *copy : {hist_clone(h), hist_clone_with_allocator(h, &CountingAllocator::allocator)}) {
    ASSERT_EQ(hist_num_buckets(copy), 50000);
    EXPECT_EQ(hist_sample_count(copy), 50000u);
    hist_free(copy);
  }
  hist_free(h);
}

}  // namespace
