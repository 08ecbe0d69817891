// Counts against a threshold, the count of the bucket holding a value, and the
// moments (mean, sum, standard deviation, power moment).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <memory>
#include <utility>

#include "histogram/varrow.h"

namespace {

constexpr uint64_t max_count = std::numeric_limits<uint64_t>::max();
constexpr uint64_t two_to_63 = uint64_t{1} << 63;
constexpr double inf = std::numeric_limits<double>::infinity();

using HistogramPtr = std::unique_ptr<histogram, decltype(&hist_free)>;

HistogramPtr MakeHistogram(std::initializer_list<std::pair<double, uint64_t>> samples) {
  HistogramPtr h(hist_alloc(), &hist_free);
  for (const auto &[value, count] : samples) hist_insert(h.get(), value, count);
  return h;
}

// The four threshold counts for one threshold, and the aliases that must agree.
struct ThresholdCounts {
  double threshold;
  uint64_t below, below_exclusive, above, above_exclusive;
};

void ExpectThresholdCounts(const histogram *h, const ThresholdCounts &c) {
  SCOPED_TRACE(testing::Message() << "threshold " << c.threshold);
  EXPECT_EQ(hist_approx_count_below(h, c.threshold), c.below);
  EXPECT_EQ(hist_approx_count_below_inclusive(h, c.threshold), c.below);
  EXPECT_EQ(hist_approx_count_below_exclusive(h, c.threshold), c.below_exclusive);
  EXPECT_EQ(hist_approx_count_above(h, c.threshold), c.above);
  EXPECT_EQ(hist_approx_count_above_inclusive(h, c.threshold), c.above);
  EXPECT_EQ(hist_approx_count_above_exclusive(h, c.threshold), c.above_exclusive);
}

TEST(ThresholdCounts, WholeBucketsOnEitherSide) {
  const HistogramPtr h = MakeHistogram({{1.0, 2}, {2.0, 3}, {3.0, 5}});
  const ThresholdCounts cases[] = {
      // threshold, below, below exclusive, above, above exclusive
      {2.05, 5, 2, 8, 5},   // in the bucket 2.0
      {2.0, 5, 2, 8, 5},    // its left edge
      {2.5, 5, 5, 5, 5},    // a bucket the histogram lacks
      {0.5, 0, 0, 10, 10},  // before every bucket
      {1.0, 2, 0, 10, 8},   // the first bucket
      {3.09, 10, 5, 5, 0},  // the last bucket
      {3.1, 10, 10, 0, 0},  // beyond every bucket
      {0.0, 0, 0, 10, 10},  // the zero bucket
      {-7.0, 0, 0, 10, 10},
      {inf, 0, 0, 10, 10},  // NaN bucket: sorts before every valid bucket
      {-inf, 0, 0, 10, 10},
      {1e200, 0, 0, 10, 10},
      {NAN, 0, 0, 10, 10},
      {9.99e127, 10, 10, 0, 0},  // the largest valid bucket
  };
  for (const ThresholdCounts &c : cases) ExpectThresholdCounts(h.get(), c);
}

TEST(ThresholdCounts, NegativeBucketsFollowValueOrder) {
  const HistogramPtr h = MakeHistogram({{-2.0, 4}, {-1.0, 6}, {0.0, 1}, {1e-100, 2}});
  const ThresholdCounts cases[] = {
      {-1.5, 4, 4, 9, 9},     // bucket -15 lies between -20 and -10
      {-2.0, 4, 0, 13, 9},    // bucket -20 holds (-2.1, -2.0]
      {-2.05, 4, 0, 13, 9},
      {-1.0, 10, 4, 9, 3},
      {-0.5, 10, 10, 3, 3},
      {0.0, 11, 10, 3, 2},
      {-1e-300, 11, 10, 3, 2},  // counts as zero
      {1e-100, 13, 11, 2, 0},
  };
  for (const ThresholdCounts &c : cases) ExpectThresholdCounts(h.get(), c);
}

TEST(ThresholdCounts, NaNBucketAlwaysCountsAbove) {
  const HistogramPtr h = MakeHistogram({{NAN, 7}, {1.0, 2}, {2.0, 3}});
  const ThresholdCounts cases[] = {
      {0.5, 0, 0, 12, 12},
      {1.0, 2, 0, 12, 10},
      {5.0, 5, 5, 7, 7},
      {NAN, 0, 0, 12, 12},
  };
  for (const ThresholdCounts &c : cases) ExpectThresholdCounts(h.get(), c);
}

TEST(ThresholdCounts, NoSamplesGiveZero) {
  const HistogramPtr empty = MakeHistogram({});
  for (const histogram *h : {static_cast<const histogram *>(nullptr), static_cast<const histogram *>(empty.get())})
    for (double threshold : {-1.0, 0.0, 1.0, double(NAN)}) ExpectThresholdCounts(h, {threshold, 0, 0, 0, 0});
}

// Totals beyond 2^64 - 1 saturate rather than wrap: the counts keep meaning
// "at least this many".
TEST(ThresholdCounts, SumsSaturateInsteadOfWrapping) {
  const HistogramPtr h = MakeHistogram({{1.0, two_to_63}, {2.0, two_to_63}, {3.0, 1}});
  const ThresholdCounts cases[] = {
      {0.5, 0, 0, max_count, max_count},
      {1.0, two_to_63, 0, max_count, two_to_63 + 1},
      {2.0, max_count, two_to_63, two_to_63 + 1, 1},
      {3.0, max_count, max_count, 1, 0},
      {4.0, max_count, max_count, 0, 0},
  };
  for (const ThresholdCounts &c : cases) ExpectThresholdCounts(h.get(), c);
}

// above(x) + below(x) counts the bucket of x twice; the exclusive pair leaves it out.
TEST(ThresholdCounts, PairsAddUpAroundTheOwnBucket) {
  const HistogramPtr h = MakeHistogram({{-3.3, 1}, {-0.02, 4}, {0.0, 2}, {0.7, 8}, {1.0, 3}, {1.04, 5}, {250.0, 6}});
  const uint64_t total = hist_sample_count(h.get());
  for (double x : {-5.0, -3.3, -3.25, -0.02, -1e-3, 0.0, 1e-200, 0.7, 0.75, 1.0, 1.09, 1.1, 250.0, 1e6}) {
    const uint64_t own = hist_approx_count_nearby(h.get(), x);
    EXPECT_EQ(hist_approx_count_above(h.get(), x) + hist_approx_count_below(h.get(), x), total + own) << x;
    EXPECT_EQ(hist_approx_count_above_exclusive(h.get(), x) + hist_approx_count_below_exclusive(h.get(), x),
              total - own)
        << x;
  }
}

// The bucket that holds a value is the one the value converts to, also where
// the bucket's value reads back off by a rounding (0.7 reads back as
// 0.7000000000000001).
TEST(CountNearby, BucketThatHoldsTheValue) {
  const HistogramPtr h = MakeHistogram({{-1.2, 3}, {0.0, 4}, {0.7, 5}, {1.0, 2}, {55.0, 9}});
  const struct {
    double value;
    uint64_t count;
  } cases[] = {
      {1.0, 2},     {1.09, 2},   {1.0999999, 2}, {1.1, 0},      {0.99, 0},    {0.0, 4},    {-5e-129, 4},
      {9e-129, 4},  {1e-128, 0}, {-1e-128, 0},   {-1.2, 3},     {-1.25, 3},   {-1.3, 0},   {-1.19, 0},
      {55.0, 9},    {55.9, 9},   {56.0, 0},      {0.7, 5},      {0.709, 5},   {0.71, 0},    {NAN, 0},
      {inf, 0},     {-inf, 0},
  };
  for (const auto &c : cases) EXPECT_EQ(hist_approx_count_nearby(h.get(), c.value), c.count) << c.value;
  EXPECT_EQ(hist_approx_count_nearby(nullptr, 1.0), 0u);
  EXPECT_EQ(hist_approx_count_nearby(MakeHistogram({}).get(), 0.0), 0u);
}

TEST(CountNearby, SkipsInvalidBuckets) {
  HistogramPtr h(hist_alloc(), &hist_free);
  hist_insert_raw(h.get(), hist_bucket{5, 0}, 11);  // invalid digits, value would be 0.5
  hist_insert(h.get(), NAN, 3);
  EXPECT_EQ(hist_approx_count_nearby(h.get(), 0.5), 0u);
  EXPECT_EQ(hist_approx_count_nearby(h.get(), NAN), 0u);
}

TEST(Moments, SingleBucketStandsAtItsMidpoint) {
  const HistogramPtr h = MakeHistogram({{1.0, 1}});
  EXPECT_DOUBLE_EQ(hist_approx_mean(h.get()), 1.0476190476190477);
  EXPECT_EQ(hist_approx_mean(h.get()), hist_bucket_midpoint(hist_bucket{10, 0}));
  EXPECT_EQ(hist_approx_sum(h.get()), hist_bucket_midpoint(hist_bucket{10, 0}));
  EXPECT_EQ(hist_approx_stddev(h.get()), 0.0);
}

TEST(Moments, AgreeWithDirectFormulas) {
  const HistogramPtr h = MakeHistogram({{-2.5, 3}, {0.0, 1}, {1.0, 2}, {42.0, 5}, {NAN, 100}});
  const double m[] = {hist_bucket_midpoint(double_to_hist_bucket(-2.5)), 0.0,
                      hist_bucket_midpoint(double_to_hist_bucket(1.0)),
                      hist_bucket_midpoint(double_to_hist_bucket(42.0))};
  const double c[] = {3, 1, 2, 5};
  double n = 0, s1 = 0, s2 = 0, s3 = 0;
  for (int i = 0; i < 4; ++i) {
    n += c[i];
    s1 += c[i] * m[i];
    s2 += c[i] * m[i] * m[i];
    s3 += c[i] * m[i] * m[i] * m[i];
  }
  EXPECT_DOUBLE_EQ(hist_approx_sum(h.get()), s1);
  EXPECT_DOUBLE_EQ(hist_approx_mean(h.get()), s1 / n);
  EXPECT_DOUBLE_EQ(hist_approx_stddev(h.get()), std::sqrt(s2 / n - (s1 / n) * (s1 / n)));
  EXPECT_DOUBLE_EQ(hist_approx_moment(h.get(), 3), s3 / (n * n * n));
  EXPECT_DOUBLE_EQ(hist_approx_moment(h.get(), 2), s2 / (n * n));
  EXPECT_EQ(hist_approx_moment(h.get(), 1), hist_approx_mean(h.get()));
  EXPECT_EQ(hist_approx_moment(h.get(), 0), 11.0);  // samples in valid buckets only
}

TEST(Moments, NoSamples) {
  const HistogramPtr empty = MakeHistogram({});
  const HistogramPtr zero_counts = MakeHistogram({{1.0, 0}, {0.0, 0}});
  const HistogramPtr only_nan = MakeHistogram({{NAN, 4}});
  for (const histogram *h : {static_cast<const histogram *>(nullptr), static_cast<const histogram *>(empty.get()),
                             static_cast<const histogram *>(zero_counts.get()),
                             static_cast<const histogram *>(only_nan.get())}) {
    EXPECT_TRUE(std::isnan(hist_approx_mean(h)));
    EXPECT_TRUE(std::isnan(hist_approx_stddev(h)));
    EXPECT_TRUE(std::isnan(hist_approx_moment(h, 2)));
    EXPECT_EQ(hist_approx_sum(h), 0.0);
  }
}

// E[X^2] - E[X]^2 cancels when all samples share a bucket; rounding must not
// turn that into NaN, and what is left is rounding noise.
TEST(Moments, DeviationOfOneBucketIsZeroOrNoise) {
  EXPECT_EQ(hist_approx_stddev(MakeHistogram({{0.0, 12}}).get()), 0.0);
  for (int exp = -128; exp <= 127; exp += 5)
    for (int val : {-99, -37, -10, 10, 11, 23, 67, 99}) {
      for (uint64_t count : {uint64_t{1}, uint64_t{3}, uint64_t{7}, uint64_t{1000003}, max_count}) {
        HistogramPtr h(hist_alloc(), &hist_free);
        const hist_bucket b{static_cast<int8_t>(val), static_cast<int8_t>(exp)};
        hist_insert_raw(h.get(), b, count);
        const double deviation = hist_approx_stddev(h.get());
        ASSERT_FALSE(std::isnan(deviation)) << val << "e" << exp << " x" << count;
        EXPECT_LE(deviation, 1e-7 * std::fabs(hist_bucket_midpoint(b))) << val << "e" << exp << " x" << count;
      }
    }
}

TEST(Moments, CountsAboveTwoTo63AreRoundedNotTruncated) {
  const HistogramPtr h = MakeHistogram({{1.0, max_count}, {2.0, two_to_63 + 1}});
  const double m1 = hist_bucket_midpoint(double_to_hist_bucket(1.0));
  const double m2 = hist_bucket_midpoint(double_to_hist_bucket(2.0));
  const double c1 = 18446744073709551616.0, c2 = 9223372036854775808.0;
  EXPECT_EQ(hist_approx_sum(h.get()), c1 * m1 + c2 * m2);
  EXPECT_EQ(hist_approx_moment(h.get(), 0), c1 + c2);
  EXPECT_EQ(hist_approx_mean(h.get()), (c1 * m1 + c2 * m2) / (c1 + c2));
}

// An empty zero bucket holds no samples, so a negative power of its midpoint
// (infinite) must not enter the moment as 0 x infinity.
TEST(Moments, EmptyBucketsDoNotPoisonNegativePowers) {
  const HistogramPtr h = MakeHistogram({{0.0, 0}, {2.0, 4}});
  const double m = hist_bucket_midpoint(double_to_hist_bucket(2.0));
  EXPECT_DOUBLE_EQ(hist_approx_moment(h.get(), -1), 4 / m * 4);
  EXPECT_EQ(hist_approx_moment(MakeHistogram({{0.0, 1}}).get(), -1), inf);
}

}  // namespace
