// Insertion and removal: saturation, growth, ordering, the fast index, and
// the 16-bit limits.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "histogram/hist_internal.hpp"
#include "tests/histogram_test_support.hpp"
#include "histogram/varrow.h"

namespace {

using varrow_test::BucketOf;
using varrow_test::Contents;
using varrow_test::Entries;
using varrow_test::ExpectConsistent;

class Insertion : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { h = GetParam() ? hist_fast_alloc() : hist_alloc(); }
  void TearDown() override { hist_free(h); }
  histogram *h = nullptr;
};

TEST_P(Insertion, SameBucketAccumulates) {
  EXPECT_EQ(hist_insert(h, 1.0, 1), 1u);
  EXPECT_EQ(hist_insert(h, 1.0, 1), 1u);
  EXPECT_EQ(Contents(h), (Entries{{10, 0, 2}}));
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
  EXPECT_EQ(Contents(h), (Entries{{-1, 0, 3}, {50, 0, 1}}));
}

TEST_P(Insertion, IntScale) {
  hist_insert_intscale(h, 12345, -3, 1);
  hist_insert_intscale(h, 0, 5, 2);
  EXPECT_EQ(Contents(h), (Entries{{0, 0, 2}, {12, 1, 1}}));
}

TEST_P(Insertion, RemovalStopsAtZeroAndKeepsTheEntry) {
  hist_insert(h, 2.0, 3);
  EXPECT_EQ(hist_remove(h, 2.0, 5), 3u);
  EXPECT_EQ(hist_bucket_count(h), 1);
  EXPECT_EQ(hist_remove(h, 7.0, 1), 0u);
  EXPECT_EQ(hist_bucket_count(h), 1);
  hist_insert(h, 3.0, 4);
  EXPECT_EQ(hist_remove_raw(h, BucketOf(30, 0), 1), 1u);
  hist_remove_zeroes(h);
  EXPECT_EQ(hist_bucket_count(h), 1);
  EXPECT_EQ(hist_sample_count(h), 3u);
  ExpectConsistent(h);
  int pos;
  EXPECT_EQ(hist_internal_find(h, BucketOf(20, 0), &pos), 0);
}

TEST_P(Insertion, ZeroCountCreatesAnEntry) {
  EXPECT_EQ(hist_insert(h, 4.0, 0), 0u);
  EXPECT_EQ(hist_bucket_count(h), 1);
}

TEST_P(Insertion, EndInsertionAppendsOrFallsBack) {
  for (double v : {1.0, 2.0, 3.0}) EXPECT_EQ(hist_insert_raw_end(h, double_to_hist_bucket(v), 1), 1u);
  hist_insert_raw_end(h, double_to_hist_bucket(1.5), 1);
  hist_insert_raw_end(h, double_to_hist_bucket(3.0), 1);
  EXPECT_EQ(Contents(h), (Entries{{10, 0, 1}, {15, 0, 1}, {20, 0, 1}, {30, 0, 2}}));
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
  for (const hist_bucket b : varrow_test::RawBucketsInOrder(65535)) hist_insert_raw_end(h, b, 1);
  ASSERT_EQ(hist_num_buckets(h), 65535);
  EXPECT_EQ(h->capacity, 65535);
  // The one bucket left out (the largest) cannot be added; existing ones still count.
  EXPECT_EQ(hist_insert_raw(h, BucketOf(99, 127), 1), 0u);
  EXPECT_EQ(hist_insert_raw_end(h, BucketOf(99, 127), 1), 0u);
  EXPECT_EQ(hist_insert_raw(h, BucketOf(10, 0), 1), 1u);
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
