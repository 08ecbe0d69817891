// Thinning by binomial draws: the ratio rules, the use of drand48, the
// inversion of the binomial distribution function and its statistics.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <boost/math/distributions/binomial.hpp>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <numeric>
#include <ranges>
#include <string>
#include <tuple>
#include <vector>

#include "distributions/distfn.h"
#include "histogram/hist_internal.hpp"
#include "tests/histogram_test_support.hpp"
#include "histogram/varrow.h"

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr uint64_t max_count = std::numeric_limits<uint64_t>::max();

using varrow_test::Contents;
using varrow_test::Entries;

histogram *Make(const std::vector<std::tuple<double, uint64_t>> &values, bool fast = false) {
  histogram *h = fast ? hist_fast_alloc() : hist_alloc();
  for (const auto &[value, count] : values) hist_insert(h, value, count);
  return h;
}

// One bucket per significant-digit pair over `decades` decades, each holding n.
histogram *Uniform(uint64_t n, int decades) {
  histogram *h = hist_alloc_nbins(90 * decades);
  for (int exp = 0; exp < decades; ++exp)
    for (int val = 10; val <= 99; ++val)
      hist_insert_raw_end(h, hist_bucket{static_cast<int8_t>(val), static_cast<int8_t>(exp)}, n);
  return h;
}

// How many numbers the generator moved on since it was seeded with seed.
int DrawsSince(long seed) {
  const double next = drand48();
  srand48(seed);
  for (int draws = 0; draws < 1000; ++draws)
    if (drand48() == next) return draws;
  return -1;
}

// ---- The ratio rules ---------------------------------------------------------

const std::vector<std::tuple<double, uint64_t>> mixed = {{1.0, 5}, {2.0, 0}, {3.0, 7}, {4.0, 1}};
constexpr int non_empty_in_mixed = 3;

struct RatioCase {
  std::string name;
  double ratio;
  bool keeps;
};

class Ratio : public ::testing::TestWithParam<RatioCase> {};

TEST_P(Ratio, KeepsAllOrNoneAndDrawsOncePerNonEmptyEntry) {
  const RatioCase &c = GetParam();
  constexpr long seed = 11;
  histogram *h = Make(mixed);
  srand48(seed);
  hist_downsample(h, c.ratio);
  EXPECT_EQ(Contents(h), c.keeps ? (Entries{{10, 0, 5}, {30, 0, 7}, {40, 0, 1}}) : Entries{});
  EXPECT_EQ(DrawsSince(seed), non_empty_in_mixed);
  hist_free(h);
}

const RatioCase ratio_cases[] = {
    {"One", 1, true},           {"AboveOne", 1.5, true}, {"Infinite", inf, true},
    {"Zero", 0, false},         {"Negative", -0.5, false}, {"MinusInfinite", -inf, false},
    {"NegativeZero", -0.0, false},
};

INSTANTIATE_TEST_SUITE_P(Cases, Ratio, ::testing::ValuesIn(ratio_cases),
                         [](const auto &info) { return info.param.name; });

TEST(RatioEdges, NaNLeavesTheHistogramAloneAndDrawsNothing) {
  constexpr long seed = 12;
  histogram *h = Make(mixed);
  const Entries before = Contents(h);
  srand48(seed);
  hist_downsample(h, nan);
  EXPECT_EQ(Contents(h), before);
  EXPECT_EQ(DrawsSince(seed), 0);
  hist_free(h);
}

TEST(RatioEdges, NullAndEmptyHistogramsDrawNothing) {
  constexpr long seed = 13;
  srand48(seed);
  hist_downsample(nullptr, 0.5);
  histogram *h = hist_alloc();
  hist_downsample(h, 0.5);
  EXPECT_EQ(hist_bucket_count(h), 0);
  EXPECT_EQ(DrawsSince(seed), 0);
  hist_free(h);
}

// cum(0) = 0.5 for one trial at p = 0.5: the sample stays exactly when u > 0.5.
TEST(SingleSample, StaysExactlyWhenTheUniformExceedsTheLowerTail) {
  int kept = 0;
  for (long seed = 0; seed < 200; ++seed) {
    srand48(seed);
    const double u = drand48();
    histogram *h = Make({{1.0, 1}});
    srand48(seed);
    hist_downsample(h, 0.5);
    const bool stays = hist_bucket_count(h) == 1;
    EXPECT_EQ(stays, u > 0.5) << "seed " << seed << ", u " << u;
    if (stays) {
      EXPECT_EQ(Contents(h), (Entries{{10, 0, 1}}));
    }
    kept += stays;
    hist_free(h);
  }
  EXPECT_GT(kept, 50);
  EXPECT_LT(kept, 150);
}

TEST(Reproducibility, SameSeedSameThinning) {
  constexpr long seed = 2024;
  std::vector<Entries> runs;
  for (int run = 0; run < 2; ++run) {
    histogram *h = hist_alloc();
    for (int i = 1; i <= 300; ++i) hist_insert_intscale(h, i, 0, static_cast<uint64_t>(i) * i * 37);
    const int non_empty = hist_bucket_count(h);
    srand48(seed);
    hist_downsample(h, 0.25);
    EXPECT_EQ(DrawsSince(seed), non_empty);
    runs.push_back(Contents(h));
    hist_free(h);
  }
  EXPECT_EQ(runs[0], runs[1]);
}

TEST(FastHistogram, IndexFollowsRemovedEntries) {
  histogram *h = Make({{1.0, 1}, {2.0, 1000}, {3.0, 1}, {4.0, 0}, {5.0, 1000}}, true);
  srand48(5);
  hist_downsample(h, 0.01);
  for (int i = 0; i < hist_bucket_count(h); ++i) {
    hist_bucket b;
    uint64_t count;
    hist_bucket_idx_bucket(h, i, &b, &count);
    int pos = -1;
    EXPECT_EQ(hist_internal_find(h, b, &pos), 1);
    EXPECT_EQ(pos, i);
  }
  hist_free(h);
}

// ---- Statistics of the draws -------------------------------------------------

TEST(Statistics, DrawsFollowTheBinomialDistribution) {
  constexpr uint64_t n = 1000;
  constexpr double p = 0.3;
  constexpr int decades = 21;
  histogram *h = Uniform(n, decades);
  srand48(1);
  hist_downsample(h, p);

  std::vector<double> draws;
  for (int i = 0; i < hist_bucket_count(h); ++i) {
    double value;
    uint64_t count;
    hist_bucket_idx(h, i, &value, &count);
    EXPECT_LE(count, n) << "counts never grow";
    draws.push_back(static_cast<double>(count));
  }
  ASSERT_EQ(draws.size(), 90u * decades) << "no bucket of 1000 is emptied at p = 0.3";

  const double size = static_cast<double>(draws.size());
  const double mean = std::accumulate(draws.begin(), draws.end(), 0.0) / size;
  double squares = 0;
  for (double d : draws) squares += (d - mean) * (d - mean);
  const double variance = squares / (size - 1);
  const double expected_variance = n * p * (1 - p);
  // Four standard errors of the mean and of the sample variance.
  EXPECT_NEAR(mean, n * p, 4 * std::sqrt(expected_variance / size));
  EXPECT_NEAR(variance, expected_variance, 4 * expected_variance * std::sqrt(2 / (size - 1)));

  // Kolmogorov-Smirnov distance to the binomial distribution function, at
  // the 1% level (1.63 / sqrt(N)).
  const boost::math::binomial_distribution<double> binomial(n, p);
  std::sort(draws.begin(), draws.end());
  double distance = 0;
  for (size_t i = 0; i < draws.size(); ++i) {
    if (i + 1 < draws.size() && draws[i + 1] == draws[i]) continue;
    const double empirical = static_cast<double>(i + 1) / size;
    distance = std::max(distance, std::fabs(empirical - boost::math::cdf(binomial, draws[i])));
  }
  EXPECT_LT(distance, 1.63 / std::sqrt(size));
  hist_free(h);
}

// ---- The inversion -------------------------------------------------------------

// The smallest k in 0..n with lower_tail(k) >= u, by plain bisection.
template <class LowerTail>
uint64_t SmallestReaching(uint64_t n, double u, LowerTail lower_tail) {
  uint64_t lo = 0, hi = n;
  while (lo < hi) {
    const uint64_t mid = lo + (hi - lo) / 2;
    if (lower_tail(mid) >= u)
      hi = mid;
    else
      lo = mid + 1;
  }
  return lo;
}

double CumbinLowerTail(uint64_t k, uint64_t n, double p) {
  double s = static_cast<double>(k), xn = static_cast<double>(n), pr = p, ompr = 1 - p, cum, ccum;
  cumbin(&s, &xn, &pr, &ompr, &cum, &ccum);
  return cum;
}

const uint64_t inversion_counts[] = {1, 2, 3, 7, 100, 1000, 123457};
const double inversion_probabilities[] = {1e-3, 0.3, 0.5, 0.97};
const double inversion_uniforms[] = {0, 1e-9, 0.1, 0.5, 0.9, 0.999999};

TEST(Inversion, FindsTheSmallestCountReachingTheUniform) {
  for (uint64_t n : inversion_counts)
    for (double p : inversion_probabilities) {
      const boost::math::binomial_distribution<double> binomial(static_cast<double>(n), p);
      const auto exact = [&](uint64_t k) { return boost::math::cdf(binomial, static_cast<double>(k)); };
      const auto library = [&](uint64_t k) { return CumbinLowerTail(k, n, p); };
      for (double u : inversion_uniforms) {
        SCOPED_TRACE(::testing::Message() << "n " << n << ", p " << p << ", u " << u);
        // The search itself, against the same distribution function.
        EXPECT_EQ(hist_binomial_inverse(n, p, u, exact), SmallestReaching(n, u, exact));
        // With cumbin, up to the rounding of the distribution function.
        constexpr double tolerance = 1e-12;
        const uint64_t k = hist_binomial_inverse(n, p, u, library);
        EXPECT_GE(exact(k), u - tolerance) << k;
        if (k > 0) {
          EXPECT_LT(exact(k - 1), u + tolerance) << k;
        }
      }
    }
}

// A step at `target` makes the answer known for any n; the search must hit it
// within about log2(n) evaluations, also for the largest counts.
TEST(Inversion, EndsWithinLogarithmicEvaluationsForEveryCount) {
  const uint64_t counts[] = {1, 2, 3, 10, 1000, 1000000, uint64_t{1} << 40, (uint64_t{1} << 53) + 1,
                             uint64_t{1} << 63, max_count};
  for (uint64_t n : counts)
    for (double p : {1e-18, 0.3, 0.5, 1 - 1e-16})
      for (uint64_t target : {uint64_t{0}, uint64_t{1}, n / 3, n / 2 + 1, n - 1, n}) {
        target = std::min(target, n);
        int evaluations = 0;
        const auto step = [&](uint64_t k) {
          ++evaluations;
          return k >= target ? 1.0 : 0.0;
        };
        EXPECT_EQ(hist_binomial_inverse(n, p, 0.5, step), target) << "n " << n << ", p " << p;
        EXPECT_LE(evaluations, std::bit_width(n) + 3) << "n " << n << ", p " << p << ", target " << target;
      }
}

struct LargeCase {
  uint64_t n;
  double p;
};

// Through cumbin, the draw for a huge count stays within a few standard
// deviations of its mean.
TEST(Inversion, LargeCountsThinToTheirMean) {
  const LargeCase cases[] = {{(uint64_t{1} << 53) + 1, 0.3}, {uint64_t{1} << 63, 0.5},
                             {max_count, 0.3},              {max_count, 0.999},
                             {max_count, 1e-17},            {4000000000, 0.5}};
  for (const LargeCase &c : cases) {
    histogram *h = Make({{1.0, c.n}});
    srand48(99);
    hist_downsample(h, c.p);
    uint64_t count = 0;
    double value;
    hist_bucket_idx(h, 0, &value, &count);
    const double n = static_cast<double>(c.n);
    const double mean = n * c.p;
    const double deviation = std::sqrt(n * c.p * (1 - c.p));
    EXPECT_LE(count, c.n);
    EXPECT_NEAR(static_cast<double>(count), mean, 6 * deviation + mean * 1e-12) << "n " << c.n << ", p " << c.p;
    hist_free(h);
  }
}

}  // namespace
