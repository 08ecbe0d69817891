// Clamping to a value range and compressing below a minimum exponent.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "histogram/hist_internal.hpp"
#include "tests/histogram_test_support.hpp"
#include "histogram/varrow.h"

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

using varrow_test::At;
using varrow_test::Contents;
using varrow_test::Entries;
using varrow_test::Entry;

using varrow_test::ExpectConsistent;
using varrow_test::MakeHistogram;

// ---- hist_clamp --------------------------------------------------------------

// Ranges: NaN dropped always; -1.2 is [-1.3, -1.2], -1.3 is [-1.4, -1.3],
// 0 is [0, 0], 1.0 is [1.0, 1.1], 2.0 is [2.0, 2.1], 3.0 is [3.0, 3.1].
const Entries clamp_source = {At(nan, 9), At(-1.3, 8), At(-1.25, 7), At(0, 1), At(1.0, 2), At(2.0, 3), At(3.0, 4)};

struct ClampCase {
  std::string name;
  double lower;
  double upper;
  Entries expected;
};

class Clamp : public ::testing::TestWithParam<std::tuple<ClampCase, bool>> {};

TEST_P(Clamp, KeepsBucketsTouchingTheRangeWhole) {
  const auto &[c, fast] = GetParam();
  histogram *h = MakeHistogram(clamp_source, fast);
  hist_clamp(h, c.lower, c.upper);
  EXPECT_EQ(Contents(h), c.expected);
  ExpectConsistent(h);
  hist_free(h);
}

const ClampCase clamp_cases[] = {
    {"InsideAndTouchingLowEdge", 1.05, 2.0, {At(1.0, 2), At(2.0, 3)}},
    {"TouchingHighEdge", 1.1, 1.9, {At(1.0, 2)}},
    {"StraddledPoint", 1.05, 1.05, {At(1.0, 2)}},
    {"ZeroPoint", 0, 0, {At(0, 1)}},
    {"NegativePointInside", -1.25, -1.25, {At(-1.25, 7)}},
    {"NegativeSharedEdge", -1.3, -1.3, {At(-1.3, 8), At(-1.25, 7)}},
    {"Everything", -inf, inf, {At(-1.3, 8), At(-1.25, 7), At(0, 1), At(1.0, 2), At(2.0, 3), At(3.0, 4)}},
    {"NaNBoundsLimitNothing", nan, nan, {At(-1.3, 8), At(-1.25, 7), At(0, 1), At(1.0, 2), At(2.0, 3), At(3.0, 4)}},
    {"NaNLowerBound", nan, 0.5, {At(-1.3, 8), At(-1.25, 7), At(0, 1)}},
    {"NaNUpperBound", 2.5, nan, {At(3.0, 4)}},
    {"ReversedBoundsInsideOneBucket", 1.08, 1.02, {At(1.0, 2)}},
    {"ReversedBoundsAcrossBuckets", 2.05, 1.05, {}},
    {"Nothing", 5, 10, {}},
};

INSTANTIATE_TEST_SUITE_P(Cases, Clamp, ::testing::Combine(::testing::ValuesIn(clamp_cases), ::testing::Bool()),
                         [](const auto &info) {
                           return std::get<0>(info.param).name + (std::get<1>(info.param) ? "Fast" : "Plain");
                         });

TEST(ClampZeroCounts, StayWhenNothingIsDroppedGoWhenSomethingIs) {
  const Entries source = {At(1.0, 2), At(2.0, 0), At(3.0, 4)};
  histogram *h = MakeHistogram(source);
  hist_clamp(h, 0, 10);
  EXPECT_EQ(Contents(h), source);
  hist_clamp(h, 1.5, 2.5);
  EXPECT_EQ(Contents(h), Entries{});
  hist_free(h);
}

TEST(ClampZeroCounts, AnEmptyEntryOutsideTheRangeGoes) {
  histogram *h = MakeHistogram({At(1.0, 2), At(5.0, 0)});
  hist_clamp(h, 0, 2);
  EXPECT_EQ(Contents(h), Entries{At(1.0, 2)});
  hist_free(h);
}

TEST(ClampEdges, NullAndEmptyHistogramsAreLeftAlone) {
  hist_clamp(nullptr, 0, 1);
  histogram *h = hist_alloc();
  hist_clamp(h, 0, 1);
  EXPECT_EQ(hist_bucket_count(h), 0);
  hist_free(h);
}

TEST(ClampEdges, FastIndexFollowsTheMovedEntries) {
  histogram *h = MakeHistogram(clamp_source, true);
  hist_clamp(h, 1.5, 5);
  EXPECT_EQ(hist_insert(h, 3.0, 1), 1u);
  EXPECT_EQ(hist_insert(h, 1.0, 1), 1u);
  EXPECT_EQ(Contents(h), (Entries{At(1.0, 1), At(2.0, 3), At(3.0, 5)}));
  ExpectConsistent(h);
  hist_free(h);
}

// ---- hist_compress_mbe -------------------------------------------------------

struct CompressCase {
  std::string name;
  int mbe;
  Entries source;
  Entries expected;
};

class Compress : public ::testing::TestWithParam<CompressCase> {};

TEST_P(Compress, CoarsensBelowAndAtTheMinimumExponent) {
  const CompressCase &c = GetParam();
  histogram *src = MakeHistogram(c.source, true);
  const Entries before = Contents(src);
  histogram *result = hist_compress_mbe(src, static_cast<int8_t>(c.mbe));
  EXPECT_EQ(Contents(result), c.expected);
  EXPECT_EQ(Contents(src), before) << "the source must not change";
  ExpectConsistent(result);
  hist_free(result);
  hist_free(src);
}

constexpr uint64_t max_count = std::numeric_limits<uint64_t>::max();

const CompressCase compress_cases[] = {
    {"ExponentZero",
     0,
     {At(0.05, 1), At(1.2, 2), At(1.9, 3), At(25, 4)},
     {At(0, 1), At(1.0, 5), At(25, 4)}},
    {"NegativeBucketsTruncateTowardZero",
     0,
     {At(-25, 3), At(-1.9, 1), At(-1.2, 2), At(-0.5, 4), At(0, 5)},
     {At(-25, 3), At(-1.0, 3), At(0, 9)}},
    {"LowestExponentKeepsEveryBucket",
     -128,
     {{-37, -128, 6}, At(-3.7, 4), At(0, 5), {10, -128, 1}, {15, -128, 2}, At(2.5, 3), At(9.9e127, 7)},
     {At(-3.7, 4), {-30, -128, 6}, At(0, 5), {10, -128, 3}, At(2.5, 3), At(9.9e127, 7)}},
    {"HighestExponent",
     127,
     {At(-5, 1), At(3, 2), {99, 127, 3}, {10, 127, 4}},
     {At(0, 3), {10, 127, 4}, {90, 127, 3}}},
    {"NaNBucketAtExponentBecomesZero", 0, {At(nan, 2), At(1.5, 1)}, {At(0, 2), At(1.0, 1)}},
    {"NaNBucketBelowExponentBecomesZero", 3, {At(nan, 2), At(1.5, 1)}, {At(0, 3)}},
    {"NaNBucketAboveExponentStays", -1, {At(nan, 2), At(1.5, 1)}, {At(nan, 2), At(1.5, 1)}},
    {"MergedCountsSaturate", 0, {At(1.2, max_count), At(1.9, 5)}, {At(1.0, max_count)}},
    {"ZeroCountsStay", 0, {At(1.2, 0), At(3, 0)}, {At(1.0, 0), At(3.0, 0)}},
    {"Empty", 0, {}, {}},
};

INSTANTIATE_TEST_SUITE_P(Cases, Compress, ::testing::ValuesIn(compress_cases),
                         [](const auto &info) { return info.param.name; });

TEST(CompressEdges, NullSourceGivesAnEmptyPlainHistogram) {
  histogram *result = hist_compress_mbe(nullptr, 0);
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(hist_bucket_count(result), 0);
  EXPECT_FALSE(result->fast);
  EXPECT_EQ(hist_insert(result, 1.0, 1), 1u);
  hist_free(result);
}

TEST(CompressEdges, ResultGrowsPastItsFirstHundredEntries) {
  histogram *src = hist_alloc();
  for (int val = 10; val <= 99; ++val)
    for (int exp = 1; exp <= 3; ++exp) hist_insert_raw(src, hist_bucket{static_cast<int8_t>(val), static_cast<int8_t>(exp)}, 1);
  histogram *result = hist_compress_mbe(src, 0);
  EXPECT_EQ(Contents(result), Contents(src));
  hist_free(result);
  hist_free(src);
}

}  // namespace
