// Insertion and removal: saturation, growth, ordering, the fast index, and
// the 16-bit limits.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "histogram/hist_internal.hpp"
#include "histogram/varrow.h"

namespace {

hist_bucket bucket(int val, int exp) { return hist_bucket{static_cast<int8_t>(val), static_cast<int8_t>(exp)}; }

std::vector<hist_bucket_entry> Entries(const histogram *h) {
  std::vector<hist_bucket_entry> out;
  for (int i = 0; i < hist_bucket_count(h); ++i) {
    hist_bucket_entry e;
    hist_bucket b;
    uint64_t c;
    hist_bucket_idx_bucket(h, i, &b, &c);
    e.bucket = b;
    e.count = c;
    out.push_back(e);
  }
  return out;
}

// Every entry is strictly ascending and every one is found where it is.
void ExpectConsistent(const histogram *h) {
  const auto entries = Entries(h);
  for (size_t i = 0; i < entries.size(); ++i) {
    if (i > 0) {
      ASSERT_LT(hist_bucket_compare(entries[i - 1].bucket, entries[i].bucket), 0) << i;
    }
    int pos;
    ASSERT_EQ(hist_internal_find(h, entries[i].bucket, &pos), 1) << i;
    ASSERT_EQ(pos, static_cast<int>(i));
  }
}

class Insertion : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { h = GetParam() ? hist_fast_alloc() : hist_alloc(); }
  void TearDown() override { hist_free(h); }
  histogram *h = nullptr;
};

TEST_P(Insertion, SameBucketAccumulates) {
  EXPECT_EQ(hist_insert(h, 1.0, 1), 1u);
  EXPECT_EQ(hist_insert(h, 1.0, 1), 1u);
  const auto entries = Entries(h);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].bucket.val, 10);
  EXPECT_EQ(entries[0].bucket.exp, 0);
  EXPECT_EQ(entries[0].count, 2u);
}

TEST_P(Insertion, CountsSaturate) {
  EXPECT_EQ(hist_insert(h, 1.0, UINT64_MAX - 2), UINT64_MAX - 2);
  EXPECT_EQ(hist_insert(h, 1.0, 5), 2u);
  EXPECT_EQ(hist_insert(h, 1.0, 1), 0u);
  EXPECT_EQ(hist_sample_count(h), UINT64_MAX);
}

TEST_P(Insertion, GrowsByStepsAndStaysSorted) {
  for (int i = 0; i < 101; ++i) hist_insert(h, (i % 2 ? -1.0 : 1.0) * (10 + i % 90) * std::pow(10.0, i / 90), 1);
  EXPECT_EQ(h->capacity, 200);
  EXPECT_EQ(hist_num_buckets(h), 101);
  ExpectConsistent(h);
}

TEST_P(Insertion, OutOfRangeValuesShareTheNaNBucket) {
  hist_insert(h, 5.0, 1);
  for (double v : {double(NAN), double(INFINITY), 1e200}) hist_insert(h, v, 1);
  const auto entries = Entries(h);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].bucket.val, -1);
  EXPECT_EQ(entries[0].count, 3u);
}

TEST_P(Insertion, IntScale) {
  hist_insert_intscale(h, 12345, -3, 1);
  hist_insert_intscale(h, 0, 5, 2);
  const auto entries = Entries(h);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].bucket.val, 0);
  EXPECT_EQ(entries[0].count, 2u);
  EXPECT_EQ(entries[1].bucket.val, 12);
  EXPECT_EQ(entries[1].bucket.exp, 1);
}

TEST_P(Insertion, RemovalStopsAtZeroAndKeepsTheEntry) {
  hist_insert(h, 2.0, 3);
  EXPECT_EQ(hist_remove(h, 2.0, 5), 3u);
  EXPECT_EQ(hist_bucket_count(h), 1);
  EXPECT_EQ(hist_remove(h, 7.0, 1), 0u);
  EXPECT_EQ(hist_bucket_count(h), 1);
  hist_insert(h, 3.0, 4);
  EXPECT_EQ(hist_remove_raw(h, bucket(30, 0), 1), 1u);
  hist_remove_zeroes(h);
  EXPECT_EQ(hist_bucket_count(h), 1);
  EXPECT_EQ(hist_sample_count(h), 3u);
  ExpectConsistent(h);
  int pos;
  EXPECT_EQ(hist_internal_find(h, bucket(20, 0), &pos), 0);
}

TEST_P(Insertion, ZeroCountCreatesAnEntry) {
  EXPECT_EQ(hist_insert(h, 4.0, 0), 0u);
  EXPECT_EQ(hist_bucket_count(h), 1);
}

TEST_P(Insertion, EndInsertionAppendsOrFallsBack) {
  for (double v : {1.0, 2.0, 3.0}) EXPECT_EQ(hist_insert_raw_end(h, double_to_hist_bucket(v), 1), 1u);
  hist_insert_raw_end(h, double_to_hist_bucket(1.5), 1);
  hist_insert_raw_end(h, double_to_hist_bucket(3.0), 1);
  const auto entries = Entries(h);
  ASSERT_EQ(entries.size(), 4u);
  const int expected_vals[] = {10, 15, 20, 30};
  const uint64_t expected_counts[] = {1, 1, 1, 2};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(entries[i].bucket.val, expected_vals[i]);
    EXPECT_EQ(entries[i].count, expected_counts[i]);
  }
  ExpectConsistent(h);
}

TEST_P(Insertion, DescendingOrderThenRemoveZeroes) {
  std::vector<double> values;
  for (int i = 300; i > 0; --i) values.push_back(i * 0.37 * (i % 3 ? 1 : -1));
  for (double v : values) hist_insert(h, v, 1);
  ExpectConsistent(h);
  for (size_t i = 0; i < values.size(); i += 2) hist_remove(h, values[i], UINT64_MAX);
  hist_remove_zeroes(h);
  ExpectConsistent(h);
  for (int i = 0; i < hist_bucket_count(h); ++i) {
    double v;
    uint64_t c;
    hist_bucket_idx(h, i, &v, &c);
    EXPECT_GT(c, 0u);
  }
}

TEST_P(Insertion, FullArrayAtTheSixteenBitLimitLosesNothing) {
  // Raw buckets (invalid ones included) can fill every one of 65,535 slots.
  int inserted = 0;
  for (int exp = -128; exp <= 127; ++exp)
    for (int val = -128; val <= 127 && inserted < 65535; ++val, ++inserted) hist_insert_raw_end(h, bucket(val, exp), 1);
  ASSERT_EQ(hist_num_buckets(h), 65535);
  EXPECT_EQ(h->capacity, 65535);
  // The one bucket left out cannot be added; existing ones still count.
  EXPECT_EQ(hist_insert_raw(h, bucket(127, 127), 1), 0u);
  EXPECT_EQ(hist_insert_raw_end(h, bucket(127, 127), 1), 0u);
  EXPECT_EQ(hist_insert_raw(h, bucket(10, 0), 1), 1u);
  EXPECT_EQ(hist_num_buckets(h), 65535);
  EXPECT_EQ(hist_sample_count(h), 65536u);
}

INSTANTIATE_TEST_SUITE_P(PlainAndFast, Insertion, ::testing::Bool());

TEST(SampleCount, NullAndSaturation) {
  EXPECT_EQ(hist_sample_count(nullptr), 0u);
  histogram *h = hist_alloc();
  EXPECT_EQ(hist_sample_count(h), 0u);
  hist_insert(h, 1.0, uint64_t{1} << 63);
  hist_insert(h, 2.0, uint64_t{1} << 63);
  EXPECT_EQ(hist_sample_count(h), UINT64_MAX);
  hist_remove_zeroes(nullptr);
  hist_free(h);
}

}  // namespace
